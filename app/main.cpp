#include "app/CommandLine.h"
#include "app/QtDialogService.h"
#include "app/VellumarkApplication.h"
#include "app/VellumarkMain.h"
#include "app/WindowHost.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"
#include "settings/Settings.h"

#include <QFileInfo>
#include <QTextStream>
#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
// Only the console and command-line calls: the full header brings COM's XML interfaces, whose names
// collide with the option-set document types.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

#ifdef Q_OS_WIN
// Vellumark.exe is a window program, so Windows gives it no console of its own. Started from a command
// prompt for --help, --version or --generate, it writes to and reads from the console it was started
// from; streams the caller redirected (a pipe, a file) are kept as they are.
void useStartingConsole() {
  const auto missing = [](DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle == nullptr || handle == INVALID_HANDLE_VALUE || GetFileType(handle) == FILE_TYPE_UNKNOWN;
  };
  const bool in = missing(STD_INPUT_HANDLE), out = missing(STD_OUTPUT_HANDLE), err = missing(STD_ERROR_HANDLE);
  if (!(in || out || err) || !AttachConsole(ATTACH_PARENT_PROCESS))
    return;
  if (in)
    (void)std::freopen("CONIN$", "r", stdin);
  if (out)
    (void)std::freopen("CONOUT$", "w", stdout);
  if (err)
    (void)std::freopen("CONOUT$", "w", stderr);
}

// The arguments as typed, in UTF-16: the narrow argv holds only what the ANSI code page can spell, so a
// path with other letters would arrive as question marks.
QStringList commandLineArguments(int, char**) {
  QStringList arguments;
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i)
      arguments << QString::fromWCharArray(wide[i]);
    LocalFree(wide);
  }
  return arguments;
}
#else
QStringList commandLineArguments(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}
#endif

// A run without a window keeps standard error for its questions and errors: the toolkit's own
// notes (a missing runtime folder and the like) are dropped; its critical errors still show.
void consoleMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    QTextStream(stderr) << message << Qt::endl;
}

}  // namespace

int main(int argc, char** argv) {
  ignoreFileSizeLimitSignal();  // a size limit fails the write that meets it, and the program goes on
  ignoreBrokenPipeSignal();     // a closed standard output fails the log's writes, and the run goes on
  // Only the window and a run that is no dry run settle what killed writes left (they may write files):
  // nothing is written for --help, --version, --dry-run or a bad command line.

  const QStringList arguments = commandLineArguments(argc, argv);
#ifdef Q_OS_WIN
  if (!arguments.isEmpty())
    useStartingConsole();
#endif
  TCommandLine options;
  try {
    options = parseCommandLine(arguments);
  } catch (const ECommandLineError& e) {
    QTextStream(stderr) << e.Message() << "\n\n" << commandLineUsage();
    return ExitBadCommandLine;
  }
  if (options.Help) {
    QTextStream(stdout) << commandLineUsage();
    return ExitCompleted;
  }
  if (options.Version) {
    QTextStream(stdout) << "Vellumark " << VellumarkVersion << '\n';
    return ExitCompleted;
  }

  if (options.Generate) {
    // No window is shown: no display is needed, unless the caller chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
      qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(consoleMessageHandler);
    TVellumarkApplication app(argc, argv);
    TVellumarkApplication::setApplicationName(QStringLiteral("Vellumark"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    return runGenerate(options, {out, err, in, standardInputIsTerminal()});
  }

  TVellumarkApplication app(argc, argv);
  TVellumarkApplication::setApplicationName(QStringLiteral("Vellumark"));
  TQtDialogService dialogs;
  setDialogService(&dialogs);
  // The window's settings file: the one --settings names, otherwise the install's. The host keeps
  // the store as long as the window, which hands it to its frames, and opens other files on request.
  std::unique_ptr<TWindowHost> host;
  try {
    host = std::make_unique<TWindowHost>(options.SettingsFile);
  } catch (...) {
    ShowCurrentException();
    return 1;
  }
  host->Window().show();
  app.exec();
  return 0;
}
