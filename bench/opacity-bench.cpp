// The cost of the transparency warning of the 1:1 frame:
//   opacity-bench [SOURCE]
// Decodes SOURCE (default ../shared/bench/src4096.png: run it from the source tree) and times the first
// question "is any pixel of the selection not fully opaque?" (which scans the picture once) and
// then 1000 questions for selections of changing size, as a drag asks them. Prints milliseconds.
#include "imaging/Bitmap.h"
#include "imaging/OpacityMap.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString source =
      argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("../shared/bench/src4096.png");
  if (!QFileInfo(source).isFile()) {
    std::fprintf(stderr, "missing %s: give a picture or put the shared bench pictures beside the source tree\n",
                 qPrintable(source));
    return 2;
  }
  TBitmap bitmap;
  bitmap.LoadFromFile(source);
  TOpacityMap map;
  QElapsedTimer t;
  t.start();
  const bool whole = map.AnyTranslucentIn(bitmap.Image(), {0, 0, 1, 1});
  const qint64 firstNs = t.nsecsElapsed();
  t.restart();
  int found = 0;
  for (int i = 0; i < 1000; ++i) {
    const float d = 0.0003f * float(i);
    found += map.AnyTranslucentIn(bitmap.Image(), {0.01f + d, 0.013f + d, 0.7f + d, 0.71f + d});
  }
  const qint64 dragNs = t.nsecsElapsed();
  std::printf("%d x %d: first question %.2f ms (%s)  then %.4f ms per question (%d of 1000 found some)\n",
              bitmap.Width(), bitmap.Height(), firstNs / 1e6, whole ? "not opaque" : "opaque", dragNs / 1e9, found);
  return 0;
}
