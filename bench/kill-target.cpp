// The program's start-up and generation run, driven for the kill test (scripts/kill-test.sh):
//   kill-target run INI start|generate   the window's start-up with the settings file INI, then, with
//                                        "generate", the Generate tab and a run that answers Yes to
//                                        All; prints "started", "generating" and "done <ms>" as it
//                                        reaches each stage
//   kill-target picture PATH COLOUR W H  writes a PNG picture of noise around a colour (#rrggbb)
//   kill-target write INI PREFIX COUNT   stores COUNT values (PREFIX1=1, PREFIX2=2, ...) in section
//                                        "settings" of INI, one write each, as a window's changes are
//                                        stored; run two at once to see that neither loses the other's
//   kill-target settings ORIGINAL FINAL CURRENT
//                                        exit 0 when CURRENT is ORIGINAL byte for byte, or a complete
//                                        file as storing writes it whose every value is FINAL's and
//                                        that keeps every value of ORIGINAL
#include "app/VellumarkMain.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTabWidget>

#include <cstdio>

namespace {

class YesToAllDialogs : public IDialogService {
public:
  int MessageDlg(const QString&, TMsgDlgType, TMsgDlgButtons, int) override { return mrYesToAll; }
  bool OpenFileDialog(const TOpenDialogOptions&, QString&) override { return false; }
  void ShowError(const QString& text) override {
    std::fprintf(stderr, "error: %s\n", qPrintable(text));
    ++errors;
  }
  int errors = 0;
};

void say(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Every value of `part` equals the value of that key in `whole`.
bool valuesAreIn(const TSettingsFile& part, const TSettingsFile& whole) {
  for (const auto& section : part.sections())
    for (const auto& line : section.Lines)
      if (line.HasKey() && whole.value(section.Name, line.Key()) != line.Value())
        return false;
  return true;
}

int checkSettings(const QString& originalPath, const QString& finalPath, const QString& currentPath) {
  const QByteArray original = readAll(originalPath), current = readAll(currentPath);
  if (current == original)
    return 0;
  const TSettingsFile now = TSettingsFile::fromBytes(current);
  if (!now.loadedAsStored()) {
    std::fprintf(stderr, "settings file is neither the original nor in stored form\n");
    return 1;
  }
  const TSettingsFile before = TSettingsFile::fromBytes(original), after = TSettingsFile::fromBytes(readAll(finalPath));
  if (!valuesAreIn(now, after) || !valuesAreIn(before, now)) {
    std::fprintf(stderr, "settings file holds a value that no write meant\n");
    return 1;
  }
  return 0;
}

// One write per value, each read again from the file under the lock, as the window stores a change.
int writeValues(const QString& path, const QString& prefix, int count) {
  TSettingsStore settings(path);
  try {
    for (int i = 1; i <= count; ++i)
      settings.SetWindowSetting(prefix + QString::number(i), QString::number(i));
  } catch (const Exception& e) {
    std::fprintf(stderr, "error: %s\n", qPrintable(e.Message()));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ignoreFileSizeLimitSignal();
  recoverInterruptedWrites();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 6 && args[1] == "picture") {
    // Noise around the colour, so that the PNG files of a run are large and take a while to write.
    QImage image(args[4].toInt(), args[5].toInt(), QImage::Format_ARGB32);
    const QColor colour(args[3]);
    quint32 state = 2463534242u ^ colour.rgb();
    for (int y = 0; y < image.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const int d = int(state % 64) - 32;
        row[x] = qRgb(qBound(0, colour.red() + d, 255), qBound(0, colour.green() - d, 255),
                       qBound(0, colour.blue() + d / 2, 255));
      }
    }
    return image.save(args[2], "PNG") ? 0 : 1;
  }
  if (args.size() == 5 && args[1] == "settings")
    return checkSettings(args[2], args[3], args[4]);
  if (args.size() == 5 && args[1] == "write")
    return writeValues(args[2], args[3], args[4].toInt());
  if (args.size() != 4 || args[1] != "run") {
    std::fprintf(stderr, "usage: kill-target run INI start|generate | picture PATH COLOUR W H | settings A B C | "
                         "write INI PREFIX COUNT\n");
    return 2;
  }
  setSettingsFilePathOverride(args[2]);
  YesToAllDialogs dialogs;
  setDialogService(&dialogs);
  QElapsedTimer t;
  t.start();
  {
    TfrmVellumark form(nullptr, Settings());
    say("started");
    if (args[3] == "generate") {
      form.TabControl1->setCurrentIndex(3);  // validation enables the Generate action
      say("generating");
      form.GenerateImages();
    }
  }
  std::printf("done %lld\n", static_cast<long long>(t.elapsed()));
  return dialogs.errors == 0 ? 0 : 1;
}
