#include "app/CommandLine.h"
#include "app/QtDialogService.h"
#include "app/VellumarkApplication.h"
#include "app/VellumarkMain.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"
#include "settings/Settings.h"

#include <QFileInfo>
#include <QTextStream>
#include <cstdio>
#include <memory>

namespace {

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
  recoverInterruptedWrites();   // in-place writes that a kill interrupted get their old bytes back

  QStringList arguments;
  for (int i = 1; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
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
  if (!options.SettingsFile.isEmpty())
    setSettingsFilePathOverride(QFileInfo(options.SettingsFile).absoluteFilePath());
  TQtDialogService dialogs;
  setDialogService(&dialogs);
  std::unique_ptr<TfrmVellumark> frmVellumark;
  try {
    frmVellumark = std::make_unique<TfrmVellumark>();
  } catch (...) {
    ShowCurrentException();
    return 1;
  }
  frmVellumark->show();
  app.exec();
  return 0;
}
