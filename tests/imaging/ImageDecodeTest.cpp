#include "imaging/Bitmap.h"
#include "platform/Errors.h"
#include "imaging/ImageDecode.h"
#include "support/Paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  return path;
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  return f.readAll();
}

void expectLoadFails(const QString& path, const QString& reason) {
  TBitmap bitmap;
  try {
    bitmap.LoadFromFile(path);
    FAIL() << "loaded " << path.toStdString();
  } catch (const EBitmapError& e) {
    EXPECT_EQ(e.Message().toStdString(), (QStringLiteral("Loading bitmap failed (%1). ").arg(path) + reason).toStdString());
  }
  EXPECT_TRUE(bitmap.IsEmpty());
}

QByteArray chunk(const char* type, const QByteArray& data) {
  QByteArray out;
  const quint32 n = quint32(data.size());
  out.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
  QByteArray body = QByteArray(type, 4) + data;
  out += body;
  const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size())));
  out.append(char(crc >> 24)).append(char(crc >> 16)).append(char(crc >> 8)).append(char(crc));
  return out;
}

}  // namespace

TEST(ImageDecode, EveryCorpusPictureDecodesToPremultipliedPixels) {
  const QStringList dirs = {testDataDir() + "/pngsuite", testDataDir() + "/formats"};
  int decoded = 0;
  for (const QString& d : dirs) {
    for (const QFileInfo& fi : QDir(d).entryInfoList({"*.png", "*.bmp", "*.gif", "*.jpg", "*.ico", "*.tif"}, QDir::Files)) {
      clearDecodeCache();
      TBitmap bitmap;
      ASSERT_NO_THROW(bitmap.LoadFromFile(fi.filePath())) << fi.fileName().toStdString();
      EXPECT_FALSE(bitmap.IsEmpty()) << fi.fileName().toStdString();
      EXPECT_EQ(bitmap.Image().format(), QImage::Format_ARGB32_Premultiplied);
      ++decoded;
    }
  }
  EXPECT_GT(decoded, 30);
}

TEST(ImageDecode, SamePictureInEveryFormatHasTheSameSize) {
  for (const char* name : {"sample.bmp", "sample.jpg", "sample.png", "sample.tif", "sample.ico"}) {
    TBitmap bitmap;
    bitmap.LoadFromFile(testDataDir() + "/formats/" + name);
    EXPECT_EQ(bitmap.Width(), 23) << name;
    EXPECT_EQ(bitmap.Height(), 42) << name;
  }
}

TEST(ImageDecode, ContentDecidesNotTheExtensionAndCaseIsIgnored) {
  QTemporaryDir dir;
  const QByteArray png = readAll(testDataDir() + "/formats/sample.png");
  for (const char* name : {"looks-like.jpg", "UPPER.PNG", "photo.Tiff", "x.hdp.gif"}) {
    TBitmap bitmap;
    ASSERT_NO_THROW(bitmap.LoadFromFile(writeFile(dir, name, png))) << name;
    EXPECT_EQ(bitmap.Width(), 23) << name;
  }
}

// The GIF's six frames are red, green, blue, red, green, blue, all of the same size: only the
// pixels tell the first frame from the others.
TEST(ImageDecode, FirstFrameOfAGif) {
  TBitmap bitmap;
  bitmap.LoadFromFile(testDataDir() + "/formats/rgbrgb.gif");
  ASSERT_EQ(bitmap.Width(), 256);
  ASSERT_EQ(bitmap.Height(), 256);
  for (const QPoint p : {QPoint(0, 0), QPoint(128, 128), QPoint(255, 255), QPoint(200, 40)})
    EXPECT_EQ(bitmap.Image().pixel(p), qRgba(255, 0, 0, 255)) << p.x() << "," << p.y();
}

// The load message names the file and says why.
TEST(ImageDecode, BadInputFailsWithTheLoadMessageAndItsReason) {
  QTemporaryDir dir;
  const QByteArray png = readAll(testDataDir() + "/formats/sample.png");
  const QByteArray jpg = readAll(testDataDir() + "/formats/sample.jpg");
  QByteArray corrupt = png;
  for (qsizetype i = 40; i < corrupt.size() - 20; i += 7)
    corrupt[i] = char(corrupt[i] ^ 0x5a);

  const QString cutShort = QStringLiteral("The file ends before the picture does.");
  const QString notAPicture = QStringLiteral(
      "The file is not a picture of a format that can be read (PNG, JPEG, GIF, BMP, TIFF, ICO or WebP).");
  const QString otherName =
      QStringLiteral("Its name does not end in .bmp, .jpg, .jpeg, .png, .gif, .tif, .tiff, .ico or .hdp.");
  const struct {
    const char* name;
    QByteArray bytes;
    QString reason;
  } cases[] = {
      {"empty.png", QByteArray(), QStringLiteral("The file is empty.")},
      {"truncated.png", png.left(png.size() / 2), cutShort},
      {"truncated.jpg", jpg.left(jpg.size() / 3), cutShort},
      {"corrupt.png", corrupt, QStringLiteral("Its PNG data cannot be decoded.")},
      {"text.png", QByteArray("this is not a picture\n"), notAPicture},
      {"cut.hdp", png.left(10), cutShort},  // decoded by its content
      {"photo.hdp", QByteArray("II\xbc\x01\x08\0\0\0", 8) + QByteArray(64, '\0'),
       QStringLiteral("It is an HD Photo (JPEG XR) picture, a format that cannot be read.")},
      {"notes.txt", png, otherName},  // decodable content, but not an accepted extension
      {"noextension", png, otherName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expectLoadFails(writeFile(dir, c.name, c.bytes), c.reason);
  }
  expectLoadFails(dir.filePath("missing.png"), QStringLiteral("It is not a file."));
  expectLoadFails(dir.path(), QStringLiteral("It is not a file."));  // a folder
}

TEST(ImageDecode, AFailedLoadKeepsThePreviousPicture) {
  QTemporaryDir dir;
  TBitmap bitmap;
  bitmap.LoadFromFile(testDataDir() + "/formats/sample.png");
  EXPECT_THROW(bitmap.LoadFromFile(writeFile(dir, "bad.png", "nope")), EBitmapError);
  EXPECT_EQ(bitmap.Width(), 23);
}

TEST(ImageDecode, PicturesOver8192AreReducedWithTheRatioKept) {
  QTemporaryDir dir;
  QImage wide(9000, 60, QImage::Format_ARGB32);
  wide.fill(qRgba(10, 200, 30, 255));
  const QString path = dir.filePath("wide.png");
  ASSERT_TRUE(wide.save(path));
  TBitmap bitmap;
  bitmap.LoadFromFile(path);
  EXPECT_EQ(bitmap.Width(), 8192);
  EXPECT_EQ(bitmap.Height(), 55);  // 60 * 8192 / 9000 = 54.6
  EXPECT_EQ(bitmap.Image().pixel(4000, 20), qRgba(10, 200, 30, 255));
}

TEST(ImageDecode, TheSameUnchangedFileIsDecodedOnceAndShared) {
  QTemporaryDir dir;
  const QString path = dir.filePath("pic.png");
  QImage img(40, 30, QImage::Format_ARGB32);
  img.fill(Qt::red);
  ASSERT_TRUE(img.save(path));
  clearDecodeCache();
  const QImage a = decodePicture(path);
  const QImage b = decodePicture(path);
  EXPECT_EQ(a.constBits(), b.constBits());  // one shared buffer

  // A changed file is decoded again.
  QImage other(41, 30, QImage::Format_ARGB32);
  other.fill(Qt::blue);
  ASSERT_TRUE(other.save(path));
  const QImage c = decodePicture(path);
  EXPECT_EQ(c.width(), 41);
}

TEST(ImageDecode, TheCacheKeepsOnlyPicturesSomeoneHolds) {
  QTemporaryDir dir;
  clearDecodeCache();
  QStringList paths;
  for (int i = 0; i < 3; ++i) {
    QImage img(10 + i, 10, QImage::Format_ARGB32);
    img.fill(Qt::green);
    paths << dir.filePath(QStringLiteral("p%1.png").arg(i));
    ASSERT_TRUE(img.save(paths.back()));
  }
  QImage held = decodePicture(paths[0]);
  decodePicture(paths[1]);  // dropped by the caller at once
  decodePicture(paths[2]);  // the dropped one goes
  EXPECT_EQ(decodeCacheSize(), 2);
  EXPECT_EQ(decodePicture(paths[0]).constBits(), held.constBits());
}
