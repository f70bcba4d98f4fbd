// Decoding of single picture files.
//
//   decode-bench FILE...             decodes each file once with the program's decoder and prints
//                                    its size, or the load error. For peak memory, run one file
//                                    under /usr/bin/time -v (the process holds nothing else).
//   decode-bench --qt FILE...        decodes each file with QImageReader instead (converted to
//                                    premultiplied ARGB32), the reference for timing.
//   decode-bench --compare FILE...   also decodes each file with QImageReader (converted to
//                                    premultiplied ARGB32, not reduced) and reports whether the
//                                    pixels are identical; exit code 1 when any file differs.
//
// bench/hostile/ holds seven tiny hostile files for the memory measurement: PNGs of one pixel
// whose next chunk (tEXt, zTXt, iTXt, pCAL, sCAL, sPLT) declares 2 GB that the file does not
// have, and a 2.7 KB JPEG whose frame header was patched to 65000 x 65000. Each must be refused
// at the process's baseline memory:
//   for f in bench/hostile/*; do /usr/bin/time -f "%M KB %e s" build/decode-bench $f; done
#include "platform/Errors.h"
#include "imaging/ImageDecode.h"

#include <QGuiApplication>
#include <QImageReader>

#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  bool compare = false, qt = false;
  int differing = 0;
  for (int i = 1; i < argc; ++i) {
    const QString name = QString::fromLocal8Bit(argv[i]);
    if (name == QLatin1String("--compare") || name == QLatin1String("--qt")) {
      (name == QLatin1String("--qt") ? qt : compare) = true;
      continue;
    }
    if (qt) {
      QImageReader reader(name);
      reader.setAutoTransform(false);
      const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
      std::printf("%s: %d x %d (QImageReader)\n", argv[i], image.width(), image.height());
      continue;
    }
    clearDecodeCache();
    QImage mine;
    try {
      mine = decodePicture(name);
    } catch (const EBitmapError& e) {
      std::printf("%s: %s\n", argv[i], qPrintable(e.Message()));
    }
    if (!mine.isNull())
      std::printf("%s: %d x %d\n", argv[i], mine.width(), mine.height());
    if (!compare)
      continue;
    QImageReader::setAllocationLimit(2048);
    QImageReader reader(name);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    QImage theirs = reader.read();
    if (!theirs.isNull())
      theirs.convertTo(QImage::Format_ARGB32_Premultiplied);
    int diffs = 0;
    if (!mine.isNull() && !theirs.isNull() && mine.size() == theirs.size()) {
      for (int y = 0; y < mine.height(); ++y) {
        const auto* a = reinterpret_cast<const quint32*>(mine.constScanLine(y));
        const auto* b = reinterpret_cast<const quint32*>(theirs.constScanLine(y));
        for (int x = 0; x < mine.width(); ++x)
          if (a[x] != b[x] && diffs++ < 3)
            std::printf("  (%d,%d) mine %08x QImageReader %08x\n", x, y, a[x], b[x]);
      }
    }
    const bool same = mine.isNull() == theirs.isNull() && (mine.isNull() || (mine.size() == theirs.size() &&
                                                                           mine.format() == theirs.format() && !diffs));
    if (!same) {
      ++differing;
      std::printf("  DIFFERS from QImageReader (%s; format %d vs %d; %d pixels)\n",
                  theirs.isNull() ? "QImageReader fails" : mine.isNull() ? "ours fails" : "pixels", int(mine.format()),
                  int(theirs.format()), diffs);
    }
  }
  if (compare)
    std::printf("%d file(s) differ\n", differing);
  return differing ? 1 : 0;
}
