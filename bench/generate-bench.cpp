// The whole generation job through the real window, offscreen:
//   generate-bench SOURCE OUTDIR
// Builds the main window with all 13 frames on SOURCE, each selection covering the whole picture,
// checks the setup on the Generate tab and runs the generation into OUTDIR (which must be empty or
// missing; it is created). Prints the time of each stage and the total bytes written.
#include "app/VellumarkMain.h"
#include "frames/FrameRatio.h"
#include "platform/Dialogs.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

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
    std::fprintf(stderr, "usage: generate-bench SOURCE OUTDIR\n");
    return 2;
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
  setSettingsFilePathOverride(settingsDir.filePath(QStringLiteral("Vellumark.ini")));
  BenchDialogs dialogs;
  setDialogService(&dialogs);

  QElapsedTimer t;
  t.start();
  TfrmVellumark form;
  for (TRatioFrame* frame : form.RatioFrames()) {
    frame->SetFilename(source);
    frame->SetSelectRect(frame->ImageRect());  // the whole picture
  }
  form.ceBaseName->setCurrentText(outDir + QStringLiteral("/MyApp.png"));
  const qint64 setupNs = t.nsecsElapsed();

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
