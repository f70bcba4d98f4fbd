// Ratio frames over large pictures.
//
//   frames-bench [SOURCE] [--rounds N]   time: constructing 13 frames whose settings name 13
//                                        different copies of SOURCE, against decoding those 13
//                                        files once on one thread, by QImageReader (the reference
//                                        of the limit, 0.65: start-up decodes on every core) and
//                                        by the program's own decoder (faster, so the stricter
//                                        ratio, printed too); prints the medians and both ratios.
//                                        Settings and copies go to QDir::tempPath() (TMPDIR):
//                                        each frame writes the settings file, and each write
//                                        waits for the disk.
//   frames-bench --memory [SOURCE]       memory: 13 frames on one file; prints the peak resident
//                                        memory against the baseline (limit: baseline plus twice
//                                        the decoded picture).
//
// SOURCE defaults to the shared 4096 x 4096 PNG. Settings go to a temporary file; the copies to a
// temporary folder. Runs offscreen.
#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "model/PicturePrefetch.h"
#include "imaging/Bitmap.h"
#include "imaging/ImageDecode.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {

// The shared folder lies beside the source tree.
QString defaultSource() {
  return QStringLiteral(VELLUMARK_SOURCE_DIR "/../shared/bench/src4096.png");
}

// A field of /proc/self/status in KiB (VmHWM, VmRSS); -1 where there is no such file.
long statusKiB(const char* field) {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly))
    return -1;
  const QByteArray prefix = QByteArray(field) + ':';
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith(prefix))
      return line.mid(prefix.size()).trimmed().split(' ').front().toLong();
  return -1;
}

// CPU time of the whole process (every thread) in milliseconds.
double processCpuMs() {
  rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QString sizeKey(int g) { return QStringLiteral("%1_%2").arg(SizeGroups[g][0].Width).arg(SizeGroups[g][0].Height); }

// 13 frames, one per ratio group, as the main window creates them (stored pictures prefetched).
std::vector<std::unique_ptr<TRatioFrame>> constructFrames() {
  const auto prefetch = prefetchStoredPictures(Settings());
  std::vector<std::unique_ptr<TRatioFrame>> frames;
  for (int g = 0; g < SizeGroupCount; ++g)
    frames.push_back(
        std::make_unique<TRatioFrame>(nullptr, SizeGroups[g][0].Width, SizeGroups[g][0].Height, true, Settings()));
  return frames;
}

int timeMode(const QString& source, int rounds, const QTemporaryDir& dir) {
  QStringList copies;
  for (int g = 0; g < SizeGroupCount; ++g) {
    const QString copy = dir.filePath(QStringLiteral("src%1.png").arg(g));
    if (!QFile::copy(source, copy)) {
      std::fprintf(stderr, "cannot copy %s\n", qPrintable(source));
      return 2;
    }
    copies << copy;
    writeSetting(QStringLiteral("images"), sizeKey(g), copy);
  }

  std::vector<double> readerMs, bitmapMs, framesMs, framesCpuMs, bitmapCpuMs;
  for (int round = 0; round < rounds; ++round) {
    QElapsedTimer t;
    {
      // Plain decoding with QImageReader, nothing else.
      t.start();
      for (const QString& copy : copies) {
        QImage image = QImageReader(copy).read();
        if (image.isNull())
          return 2;
      }
      readerMs.push_back(t.nsecsElapsed() / 1e6);
    }
    {
      // The program's own loading with the cache emptied before each file.
      const double cpu0 = processCpuMs();
      t.start();
      for (const QString& copy : copies) {
        clearDecodeCache();
        TBitmap bitmap;
        bitmap.LoadFromFile(copy);
      }
      bitmapMs.push_back(t.nsecsElapsed() / 1e6);
      bitmapCpuMs.push_back(processCpuMs() - cpu0);
      clearDecodeCache();
    }
    {
      const double cpu0 = processCpuMs();
      t.start();
      auto frames = constructFrames();
      framesMs.push_back(t.nsecsElapsed() / 1e6);
      framesCpuMs.push_back(processCpuMs() - cpu0);
      for (const auto& f : frames)
        if (f->Picture().Width() != 4096 && source == defaultSource())
          return 2;
    }
    clearDecodeCache();
    std::printf("round %d: QImageReader %.1f ms, TBitmap uncached %.1f ms (CPU %.1f ms), 13 frames %.1f ms (CPU %.1f ms)\n",
                round + 1, readerMs.back(), bitmapMs.back(), bitmapCpuMs.back(), framesMs.back(), framesCpuMs.back());
  }
  const double reader = median(readerMs), bitmap = median(bitmapMs), frames = median(framesMs);
  const double ratio = frames / reader;
  std::printf("median: decoding 13 files once (QImageReader) %.1f ms; (TBitmap, cache cleared) %.1f ms\n", reader,
              bitmap);
  std::printf("median: constructing 13 frames %.1f ms\n", frames);
  std::printf("ratio frames / QImageReader decode: %.3f (limit 0.65) %s\n", ratio, ratio <= 0.65 ? "PASS" : "FAIL");
  std::printf("ratio frames / TBitmap decode:      %.3f\n", frames / bitmap);
  return ratio <= 0.65 ? 0 : 1;
}

int memoryMode(const QString& source, const QTemporaryDir& dir) {
  const QString copy = dir.filePath(QStringLiteral("one.png"));
  if (!QFile::copy(source, copy))
    return 2;
  for (int g = 0; g < SizeGroupCount; ++g)
    writeSetting(QStringLiteral("images"), sizeKey(g), copy);
  const QSize size = QImageReader(copy).size();
  const double pictureMiB = double(size.width()) * size.height() * 4 / (1024.0 * 1024.0);
  const long baseline = statusKiB("VmHWM");

  auto frames = constructFrames();
  const long peak = statusKiB("VmHWM");
  const long rss = statusKiB("VmRSS");
  bool shared = true;
  for (const auto& f : frames)
    shared = shared && f->Picture() == frames.front()->Picture();

  const double growthMiB = (peak - baseline) / 1024.0;
  const double limitMiB = 2 * pictureMiB;
  std::printf("picture %dx%d: %.1f MiB decoded\n", size.width(), size.height(), pictureMiB);
  std::printf("baseline VmHWM %.1f MiB; after 13 frames VmHWM %.1f MiB, VmRSS %.1f MiB\n", baseline / 1024.0,
              peak / 1024.0, rss / 1024.0);
  std::printf("peak growth %.1f MiB (limit %.1f MiB) %s; one shared kept picture: %s\n", growthMiB, limitMiB,
              growthMiB < limitMiB ? "PASS" : "FAIL", shared ? "yes" : "no");
  return growthMiB < limitMiB && shared ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  bool memory = false;
  int rounds = 3;
  QString source = defaultSource();
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg = argv[i];
    if (arg == "--memory")
      memory = true;
    else if (arg == "--rounds" && i + 1 < argc)
      rounds = std::max(1, QByteArray(argv[++i]).toInt());
    else
      source = QString::fromLocal8Bit(arg);
  }
  if (!QFileInfo(source).isFile()) {
    std::fprintf(stderr, "frames-bench: no source picture %s (the default is src4096.png of the shared bench "
                 "folder ../shared/bench beside the source tree; give another file as SOURCE)\n", qPrintable(source));
    return 2;
  }
  QTemporaryDir dir;
  if (!dir.isValid())
    return 2;
  setSettingsFilePathOverride(dir.filePath(QStringLiteral("Vellumark.ini")));
  InitSizeInfos();
  try {
    return memory ? memoryMode(source, dir) : timeMode(source, rounds, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}
