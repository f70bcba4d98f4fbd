// The whole generation job through the real window, offscreen:
//   generate-bench SOURCE OUTDIR [--smooth] [--appstore] [--preview GROUP] [--write-settings FILE]
// Builds the main window with all 13 frames on SOURCE, each selection covering the whole picture,
// checks the setup on the Generate tab and runs the generation into OUTDIR (which must be empty or
// missing; it is created). Prints the time of each stage and the total bytes written.
// --smooth and --appstore check the Setup tab's boxes "Smooth downscaling" and "Also write the
// App Store icon" first. --preview GROUP times opening the preview of group GROUP (0..12) until
// it has been painted once, instead of the run. --write-settings FILE keeps the settings file of
// that setup at FILE and stops before the run: `Vellumark --generate --settings FILE` then makes
// the same files from the command line.
#include "app/VellumarkMain.h"
#include "frames/PreviewWindow.h"
#include "frames/FrameRatio.h"
#include "platform/Dialogs.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

// No question is expected in an empty folder; any error is printed.
class BenchDialogs : public IDialogService {
public:
  QStringList Errors;
  int MessageDlg(const QString& text, TMsgDlgType, TMsgDlgButtons, int) override {
    Errors << text;
    return mrCancel;
  }
  bool OpenFileDialog(const TOpenDialogOptions&, QString&) override { return false; }
  void ShowError(const QString& text) override { Errors << text; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: generate-bench SOURCE OUTDIR [--smooth] [--appstore] [--preview GROUP] [--write-settings FILE]\n");
    return 2;
  }
  bool smooth = false, appStore = false;
  int previewGroup = -1;
  QString settingsFile;
  for (int i = 3; i < argc; ++i) {
    const QByteArray arg = argv[i];
    if (arg == "--smooth")
      smooth = true;
    else if (arg == "--appstore")
      appStore = true;
    else if (arg == "--preview" && i + 1 < argc)
      previewGroup = QByteArray(argv[++i]).toInt();
    else if (arg == "--write-settings" && i + 1 < argc)
      settingsFile = QFileInfo(QString::fromLocal8Bit(argv[++i])).absoluteFilePath();
    else {
      std::fprintf(stderr, "unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString source = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
  const QString outDir = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
  if (QDir(outDir).exists() && !QDir(outDir).isEmpty()) {
    std::fprintf(stderr, "%s is not empty\n", qPrintable(outDir));
    return 2;
  }
  QDir().mkpath(outDir);
  QTemporaryDir settingsDir;
  setSettingsFilePathOverride(settingsFile.isEmpty() ? settingsDir.filePath(QStringLiteral("Vellumark.ini")) : settingsFile);
  BenchDialogs dialogs;
  setDialogService(&dialogs);

  QElapsedTimer t;
  t.start();
  TfrmVellumark form(nullptr, Settings());
  for (TRatioFrame* frame : form.RatioFrames()) {
    frame->SetFilename(source);
    frame->SetSelectRect(frame->ImageRect());  // the whole picture
  }
  form.ceBaseName->setCurrentText(outDir + QStringLiteral("/MyApp.png"));
  form.cbSmooth->setChecked(smooth);
  form.cbAppStoreIcon->setChecked(appStore);
  const qint64 setupNs = t.nsecsElapsed();
  if (!settingsFile.isEmpty())
    return 0;  // every change was written to the settings file as it was made

  if (previewGroup >= 0) {
    TRatioFrame* frame = form.FindRatioFrame(previewGroup);
    if (!frame) {
      std::fprintf(stderr, "no group %d\n", previewGroup);
      return 2;
    }
    t.restart();
    const std::clock_t cpu = std::clock();  // the process's CPU time, all threads
    TPreviewWindow* window = form.PreviewFrame(frame);
    const qint64 renderedNs = t.nsecsElapsed();
    window->repaint();  // painted once, as the user first sees it
    QApplication::processEvents();
    const qint64 shownNs = t.nsecsElapsed();
    const double cpuS = double(std::clock() - cpu) / CLOCKS_PER_SEC;
    std::printf("preview of %s: %lld outputs rendered %.3f s  shown %.3f s wall  %.3f s CPU\n",
                qPrintable(frame->Caption()), static_cast<long long>(window->Sheet()->Items().size()),
                renderedNs / 1e9, shownNs / 1e9, cpuS);
    return 0;
  }

  form.TabControl1->setCurrentIndex(3);  // validation
  t.restart();
  form.GenerateImages();
  const qint64 runNs = t.nsecsElapsed();

  qint64 bytes = 0;
  int files = 0;
  for (const QFileInfo& fi : QDir(outDir).entryInfoList({QStringLiteral("*.png")}, QDir::Files)) {
    bytes += fi.size();
    ++files;
  }
  if (!dialogs.Errors.isEmpty()) {
    std::fprintf(stderr, "%s\n", qPrintable(dialogs.Errors.join(u'\n')));
    return 1;
  }
  std::printf("window and frames %.3f s  generation %.3f s  %d PNG files  %lld bytes\n", setupNs / 1e9, runNs / 1e9,
              files, static_cast<long long>(bytes));
  return 0;
}
