// Start-up with a large settings file, against reading that file once:
//   settings-startup-bench [MEGABYTES] [RUNS]     (defaults 30 and 5)
// Builds, in a temporary folder, the settings file a start leaves (13 selections) with MEGABYTES of
// other keys in front, then times, RUNS times each: one read and parse of the file; a whole window
// start-up (13 frames restored from it) with it; and the same start-up with the small file alone.
// Prints the medians and the ratios, and checks that the start-up wrote nothing.
#include "app/VellumarkMain.h"
#include "catalogue/SizeInfo.h"
#include "platform/Dialogs.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

class CountingDialogs : public IDialogService {
public:
  int MessageDlg(const QString&, TMsgDlgType, TMsgDlgButtons, int) override { return 2; }
  bool OpenFileDialog(const TOpenDialogOptions&, QString&) override { return false; }
  void ShowError(const QString& text) override {
    ++errors;
    std::fprintf(stderr, "error: %s\n", qPrintable(text));
  }
  int errors = 0;
};

double medianMs(std::vector<qint64> ns) {
  std::sort(ns.begin(), ns.end());
  return double(ns[ns.size() / 2]) / 1e6;
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

qint64 timeStartUp(const QString& ini) {
  setSettingsFilePathOverride(ini);  // nothing of the file kept in memory, as at a new start
  QElapsedTimer t;
  t.start();
  auto form = std::make_unique<TfrmVellumark>(nullptr, Settings());
  const qint64 ns = t.nsecsElapsed();
  form.reset();
  return ns;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int megabytes = argc > 1 ? std::atoi(argv[1]) : 30;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  CountingDialogs dialogs;
  setDialogService(&dialogs);
  InitSizeInfos();

  QTemporaryDir dir;
  const QString small = dir.filePath("small.ini");
  const QString large = dir.filePath("large.ini");
  setSettingsFilePathOverride(small);
  // A first start stores the 13 selections.
  std::make_unique<TfrmVellumark>(nullptr, Settings()).reset();
  const QByteArray smallBytes = readAll(small);

  QByteArray big = "[history]\r\n";
  for (int i = 0; big.size() < qsizetype(megabytes) * 1024 * 1024; ++i)
    big += QByteArray("picture") + QByteArray::number(i) + "=C:\\Users\\someone\\Pictures\\holiday\\picture" +
           QByteArray::number(i) + ".png\r\n";
  big += "\r\n" + smallBytes;
  writeAll(large, big);

  std::vector<qint64> readNs, largeNs, smallNs;
  auto timeRead = [&] {
    QElapsedTimer t;
    t.start();
    const TSettingsFile once = TSettingsFile::load(large);
    readNs.push_back(t.nsecsElapsed());
    if (once.sections().size() != 2)
      std::fprintf(stderr, "unexpected parse\n");
  };
  auto timeLarge = [&] {
    resetSettingsTraffic();
    largeNs.push_back(timeStartUp(large));
    const TSettingsTraffic traffic = settingsTraffic();
    if (traffic.writes != 0 || traffic.reads != 1)
      std::fprintf(stderr, "start-up read the large file %d times and wrote it %d times\n", traffic.reads,
                   traffic.writes);
    setSettingsFilePathOverride(QString());  // lets go of the large file's copy in memory
  };
  // Alternating which comes first, so neither always meets the memory the other just gave back.
  for (int r = 0; r < runs; ++r) {
    if (r % 2 == 0) {
      timeRead();
      timeLarge();
    } else {
      timeLarge();
      timeRead();
    }
    smallNs.push_back(timeStartUp(small));
  }
  const bool unchanged = readAll(large) == big;
  const double read = medianMs(readNs), start = medianMs(largeNs), base = medianMs(smallNs);
  std::printf("settings file: %.1f MB, %d runs, medians\n", double(big.size()) / 1048576.0, runs);
  std::printf("read once:               %9.1f ms\n", read);
  std::printf("start-up, large file:    %9.1f ms  (%.2f x read once)\n", start, start / read);
  std::printf("start-up, small file:    %9.1f ms\n", base);
  std::printf("large minus small:       %9.1f ms  (%.2f x read once)\n", start - base, (start - base) / read);
  std::printf("large file unchanged: %s, errors shown: %d\n", unchanged ? "yes" : "NO", dialogs.errors);
  setSettingsFilePathOverride(QString());
  return unchanged && dialogs.errors == 0 ? 0 : 1;
}
