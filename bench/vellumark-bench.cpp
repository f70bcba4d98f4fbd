// Renders every catalogue entry from one source picture with the selection (0, 0, 1, 1):
//   vellumark-bench SOURCE OUTDIR [--filter none|sub|up|avg|paeth|adaptive]
// Without options it takes the generation run's own path (rendering ahead on every core, files
// written in catalogue order); with --filter each entry is drawn into a bitmap and encoded with
// that filter, one entry after the other. Prints the time spent decoding, rendering and
// encoding, and the total bytes written.
#include "imaging/RenderAhead.h"
#include "imaging/RenderImage.h"
#include "catalogue/SizeInfo.h"
#include "imaging/Bitmap.h"
#include "imaging/PngWriter.h"
#include "imaging/Resample.h"
#include "imaging/PictureRows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: vellumark-bench SOURCE OUTDIR [--filter F]\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  const QString source = QString::fromLocal8Bit(argv[1]);
  const QString outDir = QString::fromLocal8Bit(argv[2]);
  PngOptions options;
  bool custom = false;
  for (int i = 3; i + 1 < argc; i += 2) {
    const QByteArray key = argv[i], value = argv[i + 1];
    custom = true;
    if (key == "--filter")
      options.filter = value == "none" ? PngOptions::Filter::None
                       : value == "sub" ? PngOptions::Filter::Sub
                       : value == "avg" ? PngOptions::Filter::Average
                       : value == "paeth" ? PngOptions::Filter::Paeth
                       : value == "adaptive" ? PngOptions::Filter::Adaptive
                                          : PngOptions::Filter::Up;
  }
  QDir().mkpath(outDir);
  InitSizeInfos();
  // As the command line: rendering follows the source's rows while they are decoded.
  if (!custom)
    setEarlyPictures(true);

  QElapsedTimer total;
  total.start();
  QElapsedTimer t;
  t.start();
  TBitmap bitmap;
  bitmap.LoadFromFile(source);
  const qint64 decodeNs = t.nsecsElapsed();

  qint64 renderNs = 0, encodeNs = 0, bytes = 0;
  int files = 0;
  const TRectF all{0, 0, 1, 1};
  auto pathOf = [&](const TSizeInfo& e) { return QStringLiteral("%1/bench%2x%3.png").arg(outDir).arg(e.Width).arg(e.Height); };
  if (!custom) {
    // The program's own path, timed as a whole for rendering plus encoding plus writing.
    t.restart();
    RenderAhead ahead;
    for (const TSizeInfos& group : SizeGroups)
      for (const TSizeInfo& e : group)
        ahead.Add(bitmap, e.Width, e.Height, all);
    ahead.Start();
    for (const TSizeInfos& group : SizeGroups)
      for (const TSizeInfo& e : group) {
        savePngBytes(ahead.Take(files), pathOf(e));
        bytes += QFileInfo(pathOf(e)).size();
        ++files;
      }
    encodeNs = t.nsecsElapsed();
  } else {
    for (const TSizeInfos& group : SizeGroups)
      for (const TSizeInfo& e : group) {
        t.restart();
        TBitmap out(e.Width, e.Height);
        drawBilinear(bitmap.Image(), sourceRectOf(bitmap, all), out.Image());
        renderNs += t.nsecsElapsed();
        t.restart();
        const QByteArray png = encodePng(out.Image(), options);
        QFile f(pathOf(e));
        if (!f.open(QIODevice::WriteOnly) || f.write(png) != png.size())
          return 1;
        f.close();
        encodeNs += t.nsecsElapsed();
        bytes += QFileInfo(pathOf(e)).size();
        ++files;
      }
  }
  std::printf("decode %.3f s  render %.3f s  %s %.3f s  total %.3f s  %d files  %lld bytes\n", decodeNs / 1e9,
              renderNs / 1e9, custom ? "encode" : "render+encode", encodeNs / 1e9, total.nsecsElapsed() / 1e9, files,
              static_cast<long long>(bytes));
  return 0;
}
