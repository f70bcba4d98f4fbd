#include "imaging/PngDecode.h"
#include "imaging/PngWriter.h"
#include "imaging/PictureRows.h"
#include "support/Paths.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace {

// Decodes with the whole-buffer path allowed or not; the path is allowed again afterwards.
QImage decodeBy(bool whole, const QString& path, qint64 offset = 0) {
  const bool before = setPngWholeBufferPath(whole);
  const QImage image = decodePngFile(path, 8192, nullptr, offset);
  setPngWholeBufferPath(before);
  return image;
}

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  QFile f(dir.filePath(name));
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  return f.fileName();
}

// Rows with smooth runs, sharp steps and every alpha, so that each filter type is chosen and
// each premultiplication case is met.
QImage testPicture(int w, int h, QImage::Format format) {
  QImage img(w, h, QImage::Format_ARGB32);
  QRandomGenerator rng(uint(w * 31 + h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int alpha = (x * 7 + y * 3) % 5 == 0 ? int(rng.bounded(256)) : (y % 9 == 0 ? 0 : 255);
      const int r = x % 17 < 9 ? x * 255 / w : int(rng.bounded(256));
      img.setPixel(x, y, qRgba(r, (y * 255 / h) ^ (x & 8), int(rng.bounded(4)) * 60, alpha));
    }
  return img.convertToFormat(format);
}

QByteArray qtPng(const QImage& img) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(img.save(&buffer, "PNG"));
  return bytes;
}

}  // namespace

// Every picture the whole-buffer path takes decodes to exactly libpng's pixels: the corpus
// (grey, RGB, palette with and without transparency, grey with alpha, RGBA, every filter type,
// 16-bit, interlaced and sub-byte pictures that stay with libpng) and pictures of every colour
// type Qt writes and of every filter the writer has, at widths around the 16-byte steps.
TEST(PngDecode, TheWholeBufferPathGivesLibpngsPixels) {
  QTemporaryDir dir;
  QStringList files;
  for (const QFileInfo& fi : QDir(testDataDir() + "/pngsuite").entryInfoList({"*.png"}, QDir::Files))
    files << fi.filePath();
  files << testDataDir() + "/formats/sample.png" << testDataDir() + "/formats/rgbrgb.png";
  const QImage::Format formats[] = {QImage::Format_Grayscale8, QImage::Format_RGB32, QImage::Format_ARGB32};
  for (int w : {1, 5, 37, 300})
    for (QImage::Format f : formats)
      files << write(dir, QStringLiteral("qt-%1-%2.png").arg(w).arg(int(f)), qtPng(testPicture(w, 23, f)));
  QImage palette = testPicture(61, 19, QImage::Format_ARGB32).convertToFormat(QImage::Format_Indexed8);
  files << write(dir, QStringLiteral("palette.png"), qtPng(palette));
  for (auto filter : {PngOptions::Filter::None, PngOptions::Filter::Sub, PngOptions::Filter::Up,
                      PngOptions::Filter::Average, PngOptions::Filter::Paeth})
    for (int w : {3, 4, 29, 300}) {
      PngOptions o;
      o.filter = filter;
      const QImage img = testPicture(w, 17, QImage::Format_ARGB32_Premultiplied);
      files << write(dir, QStringLiteral("rgba-%1-%2.png").arg(int(filter)).arg(w), encodePng(img, o));
    }

  const int wholeBefore = pngWholeBufferDecodes();
  for (const QString& file : files) {
    const QImage libpng = decodeBy(false, file);
    const QImage whole = decodeBy(true, file);
    ASSERT_FALSE(libpng.isNull()) << file.toStdString();
    ASSERT_EQ(whole.format(), QImage::Format_ARGB32_Premultiplied) << file.toStdString();
    ASSERT_EQ(whole, libpng) << file.toStdString();
  }
  // The corpus' 8-bit pictures and all of the written ones went the whole-buffer way.
  EXPECT_GE(pngWholeBufferDecodes() - wholeBefore, 12 + 25);
}

// A PNG file made by hand: 8-bit pictures of the given colour type, the image data given as
// filtered rows (each starting with its filter type byte), compressed by zlib.
QByteArray chunk(const char* type, const QByteArray& data) {
  QByteArray out;
  const quint32 n = quint32(data.size());
  out.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
  const QByteArray body = QByteArray(type, 4) + data;
  const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size())));
  out += body;
  out.append(char(crc >> 24)).append(char(crc >> 16)).append(char(crc >> 8)).append(char(crc));
  return out;
}

QByteArray handMadePng(int w, int h, int colorType, const QByteArray& filteredRows, const QByteArray& palette = {}) {
  QByteArray ihdr;
  for (int v : {w, h})
    ihdr.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
  ihdr.append(char(8)).append(char(colorType)).append(3, char(0));
  QByteArray z(int(compressBound(uLong(filteredRows.size()))), '\0');
  uLongf zn = uLongf(z.size());
  compress(reinterpret_cast<Bytef*>(z.data()), &zn, reinterpret_cast<const Bytef*>(filteredRows.constData()),
           uLong(filteredRows.size()));
  z.resize(qsizetype(zn));
  QByteArray png("\x89PNG\r\n\x1a\n", 8);
  png += chunk("IHDR", ihdr);
  if (!palette.isEmpty())
    png += chunk("PLTE", palette);
  return png + chunk("IDAT", z) + chunk("IEND", {});
}

// Faults the whole-buffer path sees leave the file to libpng, which refuses it or reads it
// exactly as it did: a damaged checksum of the image data, image data cut short or running on,
// a filter type that does not exist, a palette index beyond the palette, no IEND chunk.
TEST(PngDecode, FaultyFilesAreLeftToLibpng) {
  QTemporaryDir dir;
  QByteArray rows;  // 4 x 3 RGBA, Paeth rows
  for (int y = 0; y < 3; ++y) {
    rows.append(char(4));
    for (int i = 0; i < 16; ++i)
      rows.append(char(i * 13 + y));
  }
  const QByteArray good = handMadePng(4, 3, 6, rows);
  QByteArray badCrc = good;
  const qsizetype idat = good.indexOf("IDAT");
  badCrc[good.size() - 12 - 1] = char(badCrc[good.size() - 12 - 1] ^ 1);
  QByteArray badFilter = rows;
  badFilter[17] = char(5);
  const QByteArray palette("\x10\x20\x30\x40\x50\x60", 6);  // two entries
  const struct {
    const char* name;
    QByteArray bytes;
  } cases[] = {
      {"good.png", good},
      {"checksum.png", badCrc},
      {"short.png", handMadePng(4, 3, 6, rows.left(rows.size() - 5))},
      {"long.png", handMadePng(4, 3, 6, rows + rows.left(17))},
      {"filter.png", handMadePng(4, 3, 6, badFilter)},
      {"no-iend.png", good.left(good.size() - 12)},
      {"palette.png", handMadePng(3, 1, 3, QByteArray("\0\0\1\0", 4), palette)},
      {"index.png", handMadePng(3, 1, 3, QByteArray("\0\0\1\3", 4), palette)},
  };
  ASSERT_GT(idat, 0);
  // Also where pictures may be handed on before their rows are written: a fault found in the
  // rows still leaves the file to libpng, before anything is handed on.
  for (const bool early : {false, true}) {
    const bool earlyBefore = setEarlyPictures(early);
    for (const auto& c : cases) {
      const QString path = write(dir, c.name, c.bytes);
      const int wholeBefore = pngWholeBufferDecodes();
      const QImage whole = decodeBy(true, path);
      waitForPicture(whole);
      const bool taken = pngWholeBufferDecodes() > wholeBefore;
      const QImage libpng = decodeBy(false, path);
      EXPECT_EQ(whole.isNull(), libpng.isNull()) << c.name;
      EXPECT_EQ(whole, libpng) << c.name;
      const bool sound = std::string(c.name) == "good.png" || std::string(c.name) == "palette.png";
      EXPECT_EQ(taken, sound) << c.name << ": only sound files take the whole-buffer path";
    }
    setEarlyPictures(earlyBefore);
  }
}

// Handed on early, a large picture's rows are written on a thread of their own and come out as
// libpng's; decodePicture waits for them unless early pictures are allowed.
TEST(PngDecode, PicturesHandedOnEarlyEndAsLibpngsPixels) {
  QTemporaryDir dir;
  PngOptions o;
  o.filter = PngOptions::Filter::Paeth;
  const QString path = write(dir, "big.png", encodePng(testPicture(1500, 900, QImage::Format_ARGB32_Premultiplied), o));
  const QImage libpng = decodeBy(false, path);
  const bool earlyBefore = setEarlyPictures(true);
  const QImage early = decodeBy(true, path);
  setEarlyPictures(earlyBefore);
  waitForPicture(early);
  EXPECT_FALSE(pictureRowsInProgress(early));
  EXPECT_EQ(early, libpng);
}
