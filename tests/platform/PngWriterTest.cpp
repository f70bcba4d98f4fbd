#include "platform/Bitmap.h"
#include "platform/Errors.h"
#include "platform/PngWriter.h"
#include "support/PngRead.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

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
