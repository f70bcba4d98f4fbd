#pragma once

#include "platform/ConsoleDialogs.h"
#include "platform/Errors.h"

#include <QString>
#include <QStringList>
#include <optional>

class QTextStream;

// The program's command line: without options the window opens; "--generate" makes every file
// from the settings file without a window, the way the Generate button would, for build scripts.

// Exit statuses.
constexpr int ExitCompleted = 0;         // the run completed (or --help, --version)
constexpr int ExitSetupInvalid = 1;      // validation failed, or the frames could not be restored
constexpr int ExitError = 2;             // any other error, a cancelled run, an existing file under "fail"
constexpr int ExitBadCommandLine = 64;

// The program's version, as --version prints it.
extern const QString VellumarkVersion;

// What the command line asks for.
struct TCommandLine {
  bool Generate = false;
  bool Help = false;
  bool Version = false;
  bool DryRun = false;                        // list what --generate would write, write nothing
  QString SettingsFile;                       // empty: the file beside the executable
  std::optional<TOverwritePolicy> Overwrite;  // empty: ask at a terminal, fail otherwise
};

// A command line that cannot be carried out; its message names the fault.
class ECommandLineError : public Exception {
  using Exception::Exception;
};

// Reads the arguments (without the program's name). Raises ECommandLineError for an unknown option,
// a missing or unknown value, an option given twice, or --overwrite or --dry-run without --generate.
TCommandLine parseCommandLine(const QStringList& arguments);

// The usage text of --help; it also follows the message of a bad command line.
QString commandLineUsage();

// The console a run without a window talks to.
struct TConsole {
  QTextStream& Out;       // the log
  QTextStream& Err;       // questions, errors, the log of a failed validation
  QTextStream& In;        // answers to questions
  bool InputIsTerminal;   // decides the default overwrite policy
};

// The generation run of "--generate" (a QApplication must exist; no widget is built). On a copy of
// the settings file that is never written back, restores the groups and the Setup tab's choices as
// the window does at start-up, validates as opening the Generate tab does, names the output folder
// and runs the generation run; with DryRun it lists every file of the run instead ("new", "replace"
// or "keep" as the overwrite policy decides) and writes nothing. Returns the exit status.
int runGenerate(const TCommandLine& options, const TConsole& console);

