#include "app/CommandLine.h"

#include "app/VellumarkMain.h"
#include "platform/AtomicFile.h"
#include "settings/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QListWidget>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTextStream>

const QString VellumarkVersion = QStringLiteral(VELLUMARK_VERSION);

namespace {

const QString GenerateOption = QStringLiteral("--generate");
const QString SettingsOption = QStringLiteral("--settings");
const QString OverwriteOption = QStringLiteral("--overwrite");
const QString DryRunOption = QStringLiteral("--dry-run");
const QString CancelledMessage = QStringLiteral("Cancelled: the run did not complete.");

// The main window of a run without a window: every log line goes to the console as well. The lines
// of the validation are held back until its outcome decides where they belong.
class TConsoleWindow : public TfrmVellumark {
public:
  explicit TConsoleWindow(QTextStream& out) : FOut(out) {}

  void Log(const QString& Msg) override {
    TfrmVellumark::Log(Msg);
    if (FHolding)
      FHeld << Msg;
    else
      FOut << Msg << Qt::endl;
  }
  void HoldLog() { FHolding = true; }
  // Ends holding back; returns the lines held.
  QStringList ReleaseLog() {
    FHolding = false;
    return std::exchange(FHeld, {});
  }

private:
  QTextStream& FOut;
  bool FHolding = false;
  QStringList FHeld;
};

void writeLines(QTextStream& stream, const QStringList& lines) {
  for (const QString& line : lines)
    stream << line << '\n';
  stream.flush();
}

// The files of the run in run order, each with what the run would do to it: "new", "replace" or
// "keep". An existing PNG file gets the overwrite question, answered by the policy as in the run;
// the option-set files are replaced. False when a question was answered with Cancel.
bool listRun(const TfrmVellumark& form, QTextStream& out) {
  out << QStringLiteral("Dry run, nothing is written:") << Qt::endl;
  auto list = [&out](const QString& what, const QString& path) {
    out << QStringLiteral("   %1 %2").arg(what.leftJustified(7), path) << Qt::endl;
  };
  auto present = [](const QString& path) {
    const QFileInfo file(path);
    return file.exists() && !file.isDir();
  };
  const QString made = QStringLiteral("new"), replaced = QStringLiteral("replace"), kept = QStringLiteral("keep");
  TOverwriteQuestion overwrite;
  for (const QString& path : form.OutputPngPaths()) {
    const bool existed = present(path);
    switch (overwrite.Ask(path)) {
      case TOverwriteQuestion::Cancel:
        return false;
      case TOverwriteQuestion::Skip:
        list(kept, path);
        break;
      case TOverwriteQuestion::Write:
        list(existed ? replaced : made, path);
        break;
    }
  }
  for (const QString& path : form.OutputOptsetPaths())
    list(present(path) ? replaced : made, path);
  return true;
}

}  // namespace

TCommandLine parseCommandLine(const QStringList& arguments) {
  TCommandLine result;
  bool settingsGiven = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    // "--name=value" or "--name value"
    auto valueOf = [&](const QString& option, QString& value) {
      if (argument.startsWith(option + u'=')) {
        value = argument.mid(option.size() + 1);
        return true;
      }
      if (argument != option)
        return false;
      if (i + 1 >= arguments.size())
        throw ECommandLineError(QStringLiteral("%1 needs a value").arg(option));
      value = arguments[++i];
      return true;
    };
    auto once = [&](bool given, const QString& option) {
      if (given)
        throw ECommandLineError(QStringLiteral("%1 is given more than once").arg(option));
    };
    QString value;
    if (argument == GenerateOption) {
      once(result.Generate, GenerateOption);
      result.Generate = true;
    } else if (argument == DryRunOption) {
      once(result.DryRun, DryRunOption);
      result.DryRun = true;
    } else if (argument == u"--help" || argument == u"-h" || argument == u"-?") {
      result.Help = true;
    } else if (argument == u"--version") {
      result.Version = true;
    } else if (valueOf(SettingsOption, value)) {
      once(settingsGiven, SettingsOption);
      if (value.isEmpty())
        throw ECommandLineError(QStringLiteral("%1 needs a value").arg(SettingsOption));
      settingsGiven = true;
      result.SettingsFile = value;
    } else if (valueOf(OverwriteOption, value)) {
      once(result.Overwrite.has_value(), OverwriteOption);
      result.Overwrite = overwritePolicyFromText(value);
      if (!result.Overwrite)
        throw ECommandLineError(
            QStringLiteral("Unknown value for %1: \"%2\" (ask, all, none or fail)").arg(OverwriteOption, value));
    } else if (argument.startsWith(u'-')) {
      throw ECommandLineError(QStringLiteral("Unknown option: %1").arg(argument));
    } else {
      throw ECommandLineError(QStringLiteral("Unexpected argument: %1").arg(argument));
    }
  }
  if (result.Overwrite && !result.Generate)
    throw ECommandLineError(QStringLiteral("%1 needs %2").arg(OverwriteOption, GenerateOption));
  if (result.DryRun && !result.Generate)
    throw ECommandLineError(QStringLiteral("%1 needs %2").arg(DryRunOption, GenerateOption));
  return result;
}

QString commandLineUsage() {
  return QStringLiteral(
      "Usage: Vellumark [--settings FILE]\n"
      "       Vellumark --generate [--settings FILE] [--overwrite=ask|all|none|fail] [--dry-run]\n"
      "       Vellumark --help | --version\n"
      "\n"
      "Without --generate the window opens. With --generate every PNG file and option-set file is\n"
      "made from the settings file without a window and without a display, exactly as the Generate\n"
      "button would make them after the window's start-up. The log goes to standard output, with\n"
      "the output folder named before the first file; questions, errors and the log of a failed\n"
      "check of the setup go to standard error. Relative paths in the settings file are taken\n"
      "relative to the folder of the settings file, whatever the current folder.\n"
      "\n"
      "Options:\n"
      "  --generate          make the files without opening the window\n"
      "  --settings FILE     the settings file (default: the .ini file beside the program, or in\n"
      "                      the user's configuration folder when the program's folder cannot be\n"
      "                      written); a --generate run reads it and never writes it\n"
      "  --overwrite=MODE    what to do with an output PNG file that exists already:\n"
      "                        ask   ask for each: y yes, a yes to all, n no, o no to all, c cancel\n"
      "                        all   overwrite them all (Yes to All)\n"
      "                        none  keep them all (No to All)\n"
      "                        fail  stop before writing anything, naming the first one\n"
      "                      default: ask when standard input is a terminal, fail otherwise.\n"
      "                      Option-set files are replaced, as the window replaces them.\n"
      "  --dry-run           with --generate: check the setup and list every file the run would\n"
      "                      write, each marked new, replace or keep as --overwrite decides (ask\n"
      "                      asks the same questions), and write nothing; the exit status is\n"
      "                      the one the run would give before writing its first file\n"
      "  -h, --help          show this text\n"
      "  --version           show the version\n"
      "\n"
      "Exit status: 0 the run completed; 1 the setup is not valid (a picture, a selection, the\n"
      "devices or the base file name), or a stored picture could not be loaded; 2 any other error,\n"
      "an existing file under --overwrite=fail, a cancelled run, or a log that could not be written\n"
      "to standard output (the files are all made); 64 a bad command line.\n");
}

namespace {
int runGenerateSteps(const TCommandLine& options, const TConsole& console);
}

int runGenerate(const TCommandLine& options, const TConsole& console) {
  const int status = runGenerateSteps(options, console);
  // A log that could not be written (standard output closed early) is no complete run, although
  // every file was made.
  console.Out.flush();
  if (console.Out.status() == QTextStream::Ok)
    return status;
  const QIODevice* device = console.Out.device();
  const QString reason = device ? device->errorString() : QString();
  console.Err << errorDisplayText(QStringLiteral("The log could not be written to standard output: ") + reason)
              << Qt::endl;
  return status == ExitCompleted ? ExitError : status;
}

namespace {

int runGenerateSteps(const TCommandLine& options, const TConsole& console) {
  QTextStream& err = console.Err;
  auto fail = [&err](int status, const QString& message) {
    err << errorDisplayText(message) << Qt::endl;
    return status;
  };

  if (!options.SettingsFile.isEmpty()) {
    // A folder, a pipe or a device is there but is no settings file: said as what it is.
    if (const QString reason = notARegularFileReason(options.SettingsFile); !reason.isEmpty())
      return fail(ExitError, cannotOpenFileMessage(options.SettingsFile, reason));
    if (!QFileInfo(options.SettingsFile).isFile())
      return fail(ExitError, QStringLiteral("Settings file does not exist: ") + options.SettingsFile);
    setSettingsFilePathOverride(QFileInfo(options.SettingsFile).absoluteFilePath());
  }
  const auto restoreSettings = qScopeGuard([&options] {
    dropSettingsSnapshot();
    if (!options.SettingsFile.isEmpty())
      setSettingsFilePathOverride(QString());
  });
  try {
    useSettingsSnapshot();
  } catch (...) {
    return fail(ExitError, currentExceptionMessage());
  }

  const TOverwritePolicy policy =
      options.Overwrite.value_or(console.InputIsTerminal ? TOverwritePolicy::Ask : TOverwritePolicy::Fail);
  TConsoleDialogService dialogs(policy, console.In, err);
  IDialogService* previousDialogs = setDialogService(&dialogs);
  const auto restoreDialogs = qScopeGuard([previousDialogs] { setDialogService(previousDialogs); });

  // Start-up as the window's: the frames restore their pictures and selections; what fails is
  // reported on standard error instead of in a box.
  TConsoleWindow form(console.Out);
  if (dialogs.ErrorsShown() > 0)
    return ExitSetupInvalid;

  // The check that opening the Generate tab runs.
  form.HoldLog();
  {
    const QSignalBlocker block(form.TabControl1);
    form.TabControl1->setCurrentWidget(form.tiGenerate);
  }
  try {
    form.TabControl1Change(form.TabControl1);
  } catch (...) {
    writeLines(err, form.ReleaseLog());
    return fail(ExitSetupInvalid, currentExceptionMessage());
  }
  writeLines(console.Out, form.ReleaseLog());
  console.Out << QStringLiteral("Output folder: ") << form.OutputFolder() << Qt::endl;

  if (policy == TOverwritePolicy::Fail)
    for (const QString& path : form.OutputPngPaths())
      if (const QFileInfo existing(path); existing.exists() || existing.isSymLink())
        return fail(ExitError, QStringLiteral("%1 exists.  Nothing was written (--overwrite=fail).").arg(path));

  if (options.DryRun)
    return listRun(form, console.Out) ? ExitCompleted : fail(ExitError, CancelledMessage);

  try {
    form.actGenerateExecute(form.actGenerate);
  } catch (...) {
    return fail(ExitError, currentExceptionMessage());
  }
  if (dialogs.Cancelled())
    return fail(ExitError, CancelledMessage);
  return ExitCompleted;
}

}  // namespace
