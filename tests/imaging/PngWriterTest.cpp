#include "imaging/Bitmap.h"
#include "platform/Errors.h"
#include "platform/Parallel.h"
#include "imaging/PngWriter.h"
#include "platform/AtomicFile.h"
#include "support/ForkedChild.h"
#include "support/PngRead.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zlib.h>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <system_error>

namespace {

// The image data of a PNG: the IDAT chunks' bytes joined (the zlib stream).
QByteArray idatOf(const QByteArray& png) {
  QByteArray data;
  for (qsizetype at = 8; at + 12 <= png.size();) {
    const uint32_t len = uint32_t(uchar(png[at])) << 24 | uint32_t(uchar(png[at + 1])) << 16 |
                         uint32_t(uchar(png[at + 2])) << 8 | uint32_t(uchar(png[at + 3]));
    if (png.mid(at + 4, 4) == "IDAT")
      data += png.mid(at + 8, qsizetype(len));
    at += 12 + qsizetype(len);
  }
  return data;
}

// zlib's inflate of a whole zlib stream (header and Adler-32 checked); empty on any error.
QByteArray zlibInflate(const QByteArray& stream, size_t expectedSize) {
  QByteArray out(qsizetype(expectedSize + 16), '\0');
  uLongf size = uLongf(out.size());
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(stream.constData()),
                 uLong(stream.size())) != Z_OK)
    return {};
  out.resize(qsizetype(size));
  return out;
}

// The straight RGBA bytes of a premultiplied pixel, worked out independently of the writer.
void straight(QRgb p, uint8_t* out) {
  const int a = qAlpha(p);
  const int c[3] = {qRed(p), qGreen(p), qBlue(p)};
  for (int i = 0; i < 3; ++i)
    out[i] = uint8_t(a == 0 ? 0 : std::min(255, (c[i] * 255 + a / 2) / a));
  out[3] = uint8_t(a);
}

// The rows of the image with the Up filter: filter byte 2, then each byte minus the one above.
QByteArray upFiltered(const QImage& img) {
  const int w = img.width();
  QByteArray out;
  std::vector<uint8_t> prev(size_t(w) * 4, 0), cur(size_t(w) * 4);
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < w; ++x)
      straight(img.pixel(x, y), cur.data() + 4 * x);
    out.append(char(2));
    for (size_t i = 0; i < cur.size(); ++i)
      out.append(char(uint8_t(cur[i] - prev[i])));
    std::swap(prev, cur);
  }
  return out;
}

QImage patterned(int w, int h, const std::function<QRgb(int x, int y)>& pixel) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.setPixel(x, y, pixel(x, y));
  return img;
}

QImage premultiplied(int w, int h, quint32 seed) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  QRandomGenerator rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int a = int(rng.bounded(256));
      img.setPixel(x, y, qPremultiply(qRgba(int(rng.bounded(256)), int(rng.bounded(256)), int(rng.bounded(256)), a)));
    }
  return img;
}

}  // namespace

// Every pixel comes back as its colour divided by its alpha; fully transparent ones as 0,0,0,0.
TEST(PngWriter, StraightAlphaRoundTripForEveryFilterAndSegmentCount) {
  const QImage img = premultiplied(67, 53, 7);
  for (auto filter : {PngOptions::Filter::None, PngOptions::Filter::Sub, PngOptions::Filter::Up,
                      PngOptions::Filter::Average, PngOptions::Filter::Paeth, PngOptions::Filter::Adaptive}) {
    for (int segments : {1, 2, 5}) {
      PngOptions o;
      o.filter = filter;
      o.segments = segments;
      const DecodedPng d = readPngBytes(encodePng(img, o));
      ASSERT_TRUE(d.ok) << int(filter) << "/" << segments;
      ASSERT_EQ(d.width, 67);
      ASSERT_EQ(d.height, 53);
      for (int y = 0; y < 53; ++y)
        for (int x = 0; x < 67; ++x) {
          const QRgb p = img.pixel(x, y);  // premultiplied value
          const int a = qAlpha(p);
          const uint8_t* q = d.pixel(x, y);
          ASSERT_EQ(q[3], a);
          for (int c = 0; c < 3; ++c) {
            const int pm = c == 0 ? qRed(p) : c == 1 ? qGreen(p) : qBlue(p);
            const int expected = a == 0 ? 0 : std::min(255, (pm * 255 + a / 2) / a);
            ASSERT_EQ(q[c], expected) << x << "," << y << " channel " << c;
          }
        }
    }
  }
}

TEST(PngWriter, HeaderIsRgba8NotInterlacedWithNoOtherChunks) {
  const QByteArray bytes = encodePng(premultiplied(600, 500, 3));  // large enough to use segments
  ASSERT_GE(bytes.size(), 33);
  EXPECT_EQ(bytes.mid(12, 4), "IHDR");
  EXPECT_EQ(uint8_t(bytes[24]), 8);  // bit depth
  EXPECT_EQ(uint8_t(bytes[25]), 6);  // colour type RGBA
  EXPECT_EQ(uint8_t(bytes[28]), 0);  // not interlaced
  const auto types = pngChunkTypes(bytes);
  ASSERT_EQ(types.size(), 3u);
  EXPECT_EQ(types[0], "IHDR");
  EXPECT_EQ(types[1], "IDAT");
  EXPECT_EQ(types[2], "IEND");
  EXPECT_TRUE(readPngBytes(bytes).ok);
}

TEST(PngWriter, SaveReplacesAnExistingFileCompletely) {
  QTemporaryDir dir;
  const QString path = dir.filePath("out.png");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(100000, 'x'));
  }
  TBitmap bitmap(5, 4);
  bitmap.Clear(0xff102030);
  bitmap.SaveToFile(path);
  const DecodedPng d = readPngFile(path);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.width, 5);
  EXPECT_EQ(d.pixel(4, 3)[0], 0x10);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);  // no temporary left behind
}

TEST(PngWriter, ErrorsNameThePathAndLeaveTheOldFileAlone) {
  QTemporaryDir dir;
  TBitmap bitmap(3, 3);
  bitmap.Clear(0);

  const QString missing = dir.filePath("no/such/folder/out.png");
  try {
    bitmap.SaveToFile(missing);
    FAIL();
  } catch (const EBitmapError& e) {
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(missing))) << e.what();
    EXPECT_FALSE(e.Message().endsWith('.')) << e.what();
  }

  // Other extensions have no encoder: nothing is created.
  EXPECT_THROW(bitmap.SaveToFile(dir.filePath("out.bmp")), EBitmapError);
  EXPECT_FALSE(QFile::exists(dir.filePath("out.bmp")));

  // An empty bitmap cannot be encoded: the existing file stays as it was.
  const QString existing = dir.filePath("keep.png");
  TBitmap good(2, 2);
  good.Clear(0xffffffff);
  good.SaveToFile(existing);
  const QByteArray before = readFileBytes(existing);
  try {
    TBitmap().SaveToFile(existing);
    FAIL();
  } catch (const EBitmapError& e) {
    EXPECT_EQ(e.Message(), "Saving bitmap failed.");
  }
  EXPECT_EQ(readFileBytes(existing), before);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

#ifdef Q_OS_UNIX
// A write that fails after the file was created names the file and the system's reason.
TEST(PngWriter, AFailedWriteNamesTheFileAndTheReason) {
  QTemporaryDir dir;
  const QString path = dir.filePath("out.png");
  const ChildEnd end = runInChild([&] {
    ignoreFileSizeLimitSignal();
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 4096;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
      return 2;
    try {
      savePngBytes(QByteArray(10000, 'x'), path);
    } catch (const EBitmapError& e) {
      return e.Message() == QStringLiteral("Cannot write file \"%1\". File too large").arg(path) ? 0 : 3;
    }
    return 4;
  });
  EXPECT_EQ(end.code, 0);
  EXPECT_FALSE(QFile::exists(path));
}
#endif

TEST(PngWriter, ReadOnlyFolderOrFileIsRefused) {
  RUN_AS_UNPRIVILEGED_USER();
  QTemporaryDir dir;
  TBitmap bitmap(2, 2);
  bitmap.Clear(0);
  const QString ro = dir.filePath("ro.png");
  bitmap.SaveToFile(ro);
  const QByteArray before = readFileBytes(ro);
  QFile::setPermissions(ro, QFile::ReadOwner);
  EXPECT_THROW(bitmap.SaveToFile(ro), EBitmapError);
  EXPECT_EQ(readFileBytes(ro), before);
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
  EXPECT_THROW(bitmap.SaveToFile(dir.filePath("new.png")), EBitmapError);
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Every width from one pixel to 9000, every kind of row (noise, one colour, transparent,
// gradients that repeat at a pixel's distance) and every band count: libpng decodes the
// pixels, and zlib inflates the image data (checking its Adler-32) to exactly the filtered rows.
TEST(PngWriter, EveryShapeAndBandCountDecodesWithLibpngAndZlib) {
  QRandomGenerator rng(99);
  struct Content {
    const char* name;
    std::function<QRgb(int, int)> pixel;
  };
  const Content contents[] = {
      {"noise", [&](int, int) { return qPremultiply(rng.generate()); }},
      {"one colour", [](int, int) { return qRgba(10, 200, 30, 255); }},
      {"transparent", [](int, int) { return 0u; }},
      {"horizontal steps", [](int x, int) { return qRgba((x / 300) & 0xff, 7, 7, 255); }},
      {"soft edges", [](int x, int y) { return qPremultiply(qRgba(200, 100, 50, (x + y) & 0xff)); }},
  };
  const QSize shapes[] = {{1, 1}, {2, 1}, {1, 3}, {3, 2}, {5, 70}, {257, 9}, {1023, 4}, {4097, 3}, {9000, 7}};
  for (const Content& c : contents)
    for (const QSize& shape : shapes) {
      const QImage img = patterned(shape.width(), shape.height(), c.pixel);
      const QByteArray filtered = upFiltered(img);
      for (int bands : {1, 2, shape.height()}) {
        PngOptions o;
        o.filter = PngOptions::Filter::Up;
        o.segments = bands;
        const QByteArray png = encodePng(img, o);
        const std::string what = std::string(c.name) + " " + std::to_string(shape.width()) + "x" +
                                 std::to_string(shape.height()) + " bands " + std::to_string(bands);
        ASSERT_EQ(zlibInflate(idatOf(png), size_t(filtered.size())), filtered) << what;
        const DecodedPng d = readPngBytes(png);
        ASSERT_TRUE(d.ok) << what;
        for (int y = 0; y < shape.height(); ++y)
          for (int x = 0; x < shape.width(); ++x) {
            uint8_t expected[4];
            straight(img.pixel(x, y), expected);
            ASSERT_EQ(0, std::memcmp(d.pixel(x, y), expected, 4)) << what << " at " << x << "," << y;
          }
        // The default filter choice decodes to the same pixels.
        o.filter = PngOptions::Filter::Adaptive;
        const DecodedPng a = readPngBytes(encodePng(img, o));
        ASSERT_TRUE(a.ok) << what;
        ASSERT_EQ(a.rgba, d.rgba) << what;
      }
    }
}

// An error on a worker thread (a failed allocation, a thread the system will not start) comes
// back to the caller as an exception; the program goes on and the writer works afterwards.
TEST(PngWriter, WorkerErrorsReachTheCallerAndMissingThreadsDoNot) {
  const QImage img = premultiplied(700, 600, 5);  // several bands
  PngOptions o;
  o.segments = 4;
  const QByteArray good = encodePng(img, o);
  struct Case {
    WorkerEvent when;
    int failAt;  // the call of the hook that fails
    std::function<void()> fail;
  };
  const Case cases[] = {
      {WorkerEvent::Task, 2, [] { throw std::bad_alloc(); }},
      {WorkerEvent::ThreadStart, 0,
       [] { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); }},
  };
  for (const Case& c : cases) {
    int calls = 0;
    setWorkerTestHook([&](WorkerEvent e) {
      if (e == c.when && calls++ == c.failAt)
        c.fail();
    });
    if (c.when == WorkerEvent::Task)
      EXPECT_THROW(encodePng(img, o), std::bad_alloc);
    else  // a thread that cannot be started means fewer threads: the same bytes
      EXPECT_EQ(encodePng(img, o), good);
    setWorkerTestHook({});
    EXPECT_GT(calls, c.failAt);
  }
  EXPECT_EQ(encodePng(img, o), good);
}

// A chunk holds at most 2^31 - 1 bytes: beyond that the length is refused, never cut to 32 bits
// (2^32 + 5 bytes would otherwise be written as 5).
TEST(PngWriter, ChunkLengthLimit) {
  EXPECT_EQ(pngChunkLength(0), std::optional<uint32_t>(0));
  EXPECT_EQ(pngChunkLength(0x7fffffffu), std::optional<uint32_t>(0x7fffffffu));
  EXPECT_EQ(pngChunkLength(0x80000000u), std::nullopt);
  EXPECT_EQ(pngChunkLength((uint64_t(1) << 32) + 5), std::nullopt);
}
