// Decoding against hostile files, the reduction filter, agreement with QImageReader, the cache
// key and the prefetch. Every fixture is made here.
#include "platform/Errors.h"
#include "imaging/ImageDecode.h"
#include "imaging/PictureFile.h"
#include "imaging/PngDecode.h"
#include "imaging/Resample.h"
#include "support/ForkedChild.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <cstdio>

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  EXPECT_EQ(f.write(bytes), bytes.size());
  return path;
}

QByteArray be32(quint32 n) {
  return QByteArray(1, char(n >> 24)) + char(n >> 16) + char(n >> 8) + char(n);
}

QByteArray chunk(const char* type, const QByteArray& data) {
  const QByteArray body = QByteArray(type, 4) + data;
  return be32(quint32(data.size())) + body +
         be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
}

QByteArray zlibBytes(const QByteArray& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  QByteArray out(qsizetype(size), '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.constData()),
            uLong(raw.size()), 9);
  out.truncate(qsizetype(size));
  return out;
}

const QByteArray kSignature("\x89PNG\r\n\x1a\n", 8);

QByteArray ihdr(quint32 w, quint32 h, int depth, int colorType, bool interlaced = false) {
  return chunk("IHDR", be32(w) + be32(h) + char(depth) + char(colorType) + char(0) + char(0) + char(interlaced));
}

// A PNG of the given type from samples (w * h * channels values of `depth` bits, row by row),
// rows unfiltered, Adam7 when interlaced. `extra` chunks go between IHDR and IDAT.
QByteArray makePng(int w, int h, int depth, int colorType, const std::vector<int>& samples, bool interlaced = false,
                   const QByteArray& extra = {}) {
  const int channels = colorType == 0 ? 1 : colorType == 2 ? 3 : colorType == 3 ? 1 : colorType == 4 ? 2 : 4;
  // Adam7 passes: x start, y start, x step, y step; one pass of step 1 when not interlaced.
  const std::vector<std::array<int, 4>> passes =
      interlaced ? std::vector<std::array<int, 4>>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                 : std::vector<std::array<int, 4>>{{0, 0, 1, 1}};
  QByteArray raw;
  for (const auto& [x0, y0, dx, dy] : passes) {
    if (x0 >= w)
      continue;
    for (int y = y0; y < h; y += dy) {
      raw.append(char(0));
      quint32 acc = 0;
      int bits = 0;
      for (int x = x0; x < w; x += dx) {
        for (int c = 0; c < channels; ++c) {
          const int v = samples[size_t((y * w + x) * channels + c)];
          if (depth == 16) {
            raw.append(char(v >> 8)).append(char(v));
          } else {
            acc = (acc << depth) | quint32(v);
            bits += depth;
            if (bits == 8) {
              raw.append(char(acc));
              acc = 0;
              bits = 0;
            }
          }
        }
      }
      if (bits)
        raw.append(char(acc << (8 - bits)));
    }
  }
  return kSignature + ihdr(quint32(w), quint32(h), depth, colorType, interlaced) + extra +
         chunk("IDAT", zlibBytes(raw)) + chunk("IEND", {});
}

std::vector<int> randomSamples(int count, int depth, quint32 seed) {
  QRandomGenerator rng(seed);
  std::vector<int> s(static_cast<size_t>(count));
  for (int& v : s)
    v = int(rng.bounded(1u << depth));
  return s;
}

QImage readWithQt(const QString& path) {
  QImageReader reader(path);
  reader.setAutoTransform(false);
  return reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The first pixel where two premultiplied pictures differ, as text; "" when they are equal.
std::string firstDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.format() != b.format())
    return "size or format differ";
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y))
        return QStringLiteral("(%1,%2): %3 vs %4")
            .arg(x).arg(y).arg(a.pixel(x, y), 8, 16, QChar('0')).arg(b.pixel(x, y), 8, 16, QChar('0'))
            .toStdString();
  return {};
}

// Peak resident memory of this process in MiB since the last reset; the reset is Linux's
// clear_refs. Returns -1 where neither exists.
double peakResidentMiB(bool reset) {
  if (reset) {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (!refs.open(QIODevice::WriteOnly) || refs.write("5") != 1)
      return -1;
  }
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith("VmHWM:"))
      return line.mid(6).trimmed().split(' ').front().toDouble() / 1024.0;
  return -1;
}

// The load message, followed by the reason (checked when one is given).
void expectLoadFails(const QString& path, const QString& reason = {}) {
  try {
    decodePicture(path);
    ADD_FAILURE() << "decoded " << path.toStdString();
  } catch (const EBitmapError& e) {
    const QString message = QStringLiteral("Loading bitmap failed (%1). ").arg(path);
    if (reason.isEmpty())
      EXPECT_TRUE(e.Message().startsWith(message)) << e.Message().toStdString();
    else
      EXPECT_EQ(e.Message().toStdString(), (message + reason).toStdString());
  }
}

const QString CutShortReason = QStringLiteral("The file ends before the picture does.");

// An icon file whose one icon is the given PNG.
QByteArray icoWith(const QByteArray& png) {
  auto le16 = [](int v) { return QByteArray(1, char(v)) + char(v >> 8); };
  auto le32 = [&](quint32 v) { return le16(int(v & 0xffff)) + le16(int(v >> 16)); };
  return le16(0) + le16(1) + le16(1) + char(0) + char(0) + char(0) + char(0) + le16(1) + le16(32) +
         le32(quint32(png.size())) + le32(22) + png;
}

// A baseline JPEG of the given picture.
QByteArray jpegOf(const QImage& image, int quality = 90) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, "JPEG", quality));
  return bytes;
}

// The JPEG with the size in its frame header replaced.
QByteArray withJpegSize(QByteArray jpeg, int w, int h) {
  for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
    if (uchar(jpeg[i]) == 0xff && (uchar(jpeg[i + 1]) == 0xc0 || uchar(jpeg[i + 1]) == 0xc2)) {
      jpeg[i + 5] = char(h >> 8);
      jpeg[i + 6] = char(h);
      jpeg[i + 7] = char(w >> 8);
      jpeg[i + 8] = char(w);
      return jpeg;
    }
  }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

QImage noise(int w, int h, QImage::Format format, quint32 seed) {
  QImage image(w, h, format);
  QRandomGenerator rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, rng.generate() | (format == QImage::Format_ARGB32 ? 0 : 0xff000000u));
  return image;
}

}  // namespace

// Tiny files that claim huge ancillary chunks, a JPEG whose header claims 65000 x 65000 pixels,
// and pixel data that ends early: each is refused, without the memory the claims ask for.
TEST(PictureDecode, HostileFilesAreRefusedWithinBoundedMemory) {
  QTemporaryDir dir;
  const QByteArray head = kSignature + ihdr(1, 1, 8, 6);
  const quint32 huge = 0x7ffffff0;
  const QByteArray smallJpeg = jpegOf(noise(64, 64, QImage::Format_RGB32, 1));
  const QByteArray okPng = makePng(64, 64, 8, 6, randomSamples(64 * 64 * 4, 8, 2));
  // The same picture with only its first 10 rows in the data stream.
  QByteArray shortRaw;
  for (int y = 0; y < 10; ++y)
    shortRaw += char(0) + QByteArray(64 * 4, char(0x40));
  const QByteArray shortPng = kSignature + ihdr(64, 64, 8, 6) + chunk("IDAT", zlibBytes(shortRaw)) + chunk("IEND", {});

  const QList<QPair<QString, QByteArray>> cases = {
      {"text.png", head + be32(huge) + "tEXtComment\0abcd"},
      {"ztxt.png", head + be32(huge) + QByteArray("zTXtComment\0\0\x78\x9c", 14) + "ab"},
      {"itxt.png", head + be32(huge) + QByteArray("iTXtComment\0\x01\0\0\0\x78\x9c", 17)},
      {"pcal.png", head + be32(huge) + QByteArray("pCALcal\0\0\0\0\0\0\0\x7f\xff", 16)},
      {"scal.png", head + be32(huge) + "sCAL\x01" "1e300\0" "1e300"},
      {"splt.png", head + be32(huge) + QByteArray("sPLTpal\0\x10\xff\xff\xff\xff\xff\xff", 16)},
      {"short-data.png", shortPng},
      {"no-end.png", okPng.left(okPng.size() - 12)},
      {"tall.jpg", withJpegSize(smallJpeg, 64, 6400)},
      {"cut.jpg", smallJpeg.left(smallJpeg.size() * 2 / 3) + QByteArray("\xff\xd9", 2)},
      // An icon file around a PNG that claims a huge compressed text chunk.
      {"ztxt.ico", icoWith(head + be32(huge) + QByteArray("zTXtComment\0\0\x78\x9c", 14) + "ab")},
  };
  const bool canMeasure = peakResidentMiB(true) >= 0;
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name.toStdString());
    const double before = peakResidentMiB(true);
    expectLoadFails(writeFile(dir, name, bytes));
    if (canMeasure)
      EXPECT_LT(peakResidentMiB(false) - before, 64.0);
  }
}

// Chunks that are not needed are skipped unread: 40 text chunks that inflate to 7 MB each (each
// within libpng's own limit for one chunk) cost nothing, and the picture is the one without them.
TEST(PictureDecode, AncillaryChunksAreSkipped) {
  QTemporaryDir dir;
  const std::vector<int> samples = randomSamples(16 * 8 * 4, 8, 3);
  const QByteArray bomb = chunk("zTXt", QByteArray("Comment\0\0", 9) + zlibBytes(QByteArray(7000000, 'a')));
  QByteArray extra;
  for (int i = 0; i < 40; ++i)
    extra += bomb;
  extra += chunk("tEXt", "Author\0someone") + chunk("sPLT", QByteArray("p\0\x08", 3) + QByteArray(6, '\x01'));
  const QString plain = writeFile(dir, "plain.png", makePng(16, 8, 8, 6, samples));
  const QString padded = writeFile(dir, "padded.png", makePng(16, 8, 8, 6, samples, false, extra));
  const QImage expected = decodePicture(plain);
  const double before = peakResidentMiB(true);
  const QImage image = decodePicture(padded);
  if (before >= 0)
    EXPECT_LT(peakResidentMiB(false) - before, 16.0);
  EXPECT_EQ(firstDifference(image, expected), "");
}

// Pictures of more than 2^30 pixels are refused from their headers, at once, saying so; in every
// format that says its size up front.
TEST(PictureDecode, TooManyPixelsAreRefusedBeforeDecodingSayingSo) {
  QTemporaryDir dir;
  // A tiny data stream: the decoder would work through every row of zeros it stands for.
  const QByteArray tinyIdat = chunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8));
  auto png = [&](quint32 w, quint32 h) { return kSignature + ihdr(w, h, 1, 0) + tinyIdat + chunk("IEND", {}); };
  QByteArray gif("GIF89a\xff\xff\xff\xff\x00\x00\x00"
                 "\x2c\x00\x00\x00\x00\xff\xff\xff\xff\x00\x02\x02\x44\x01\x00\x3b", 32);
  const struct {
    const char* name;
    QByteArray bytes;
    qint64 w, h;
  } cases[] = {
      {"square.png", png(100000, 100000), 100000, 100000},
      {"wide.png", png(1000000, 100000), 1000000, 100000},
      {"giant.jpg", withJpegSize(jpegOf(noise(64, 64, QImage::Format_RGB32, 1)), 65000, 65000), 65000, 65000},
      {"giant.gif", gif, 65535, 65535},
      {"icon.ico", icoWith(png(40000, 40000)), 40000, 40000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QElapsedTimer timer;
    timer.start();
    expectLoadFails(writeFile(dir, c.name, c.bytes),
                    QStringLiteral("The picture is %1 x %2 pixels, more than 1073741824 in all.").arg(c.w).arg(c.h));
    EXPECT_LT(timer.elapsed(), 1000);
  }
}

// Files cut short are refused in every format, never filled in with black or unwritten memory.
TEST(PictureDecode, CutFilesAreRefusedInEveryFormat) {
  QTemporaryDir dir;
  auto read = [](const QString& name) {
    QFile f(QStringLiteral(VELLUMARK_TEST_DATA_DIR "/formats/") + name);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
  };
  const QByteArray png = makePng(32, 32, 8, 6, randomSamples(32 * 32 * 4, 8, 5));
  const struct {
    const char* source;
    double kept;  // the part of the file left
  } cases[] = {
      {"sample.bmp", 0.3}, {"palette.bmp", 0.9}, {"palette.gif", 0.5}, {"rgbrgb.gif", 0.1},  // within its first frame
      {"sample.tif", 0.5}, {"sample.tif", 0.9}, {"sample.ico", 0.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " cut to " + std::to_string(c.kept));
    const QByteArray whole = read(QString::fromLatin1(c.source));
    ASSERT_NO_THROW(decodePicture(writeFile(dir, QStringLiteral("whole-") + c.source, whole)));
    expectLoadFails(writeFile(dir, QStringLiteral("cut-") + c.source, whole.left(qsizetype(whole.size() * c.kept))),
                    CutShortReason);
  }
  // An icon that is a PNG: its pixels are those of the PNG, and a cut one is refused as well.
  const QImage expected = decodePicture(writeFile(dir, "icon.png", png));
  EXPECT_EQ(firstDifference(decodePicture(writeFile(dir, "icon.ico", icoWith(png))), expected), "");
  expectLoadFails(writeFile(dir, "cut-icon.ico", icoWith(png.left(png.size() - 30))), CutShortReason);
}

namespace {

QByteArray le16(quint32 v) { return QByteArray(1, char(v)) + char(v >> 8); }
QByteArray le32(quint32 v) { return le16(v & 0xffff) + le16(v >> 16); }

QByteArray fixture(const char* name) {
  QFile f(QStringLiteral(VELLUMARK_TEST_DATA_DIR "/formats/") + QString::fromLatin1(name));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
  return f.readAll();
}

QByteArray patched(QByteArray bytes, qsizetype at, const QByteArray& with) {
  bytes.replace(at, with.size(), with);
  return bytes;
}

// A BMP of four colours (red, green, blue, yellow) with the given pixel data.
QByteArray bmpOf(qint32 w, qint32 h, int bpp, int compression, const QByteArray& data) {
  const QByteArray palette("\0\0\xff\0" "\0\xff\0\0" "\xff\0\0\0" "\0\xff\xff\0", 16);
  const quint32 offset = 14 + 40 + 16;
  return "BM" + le32(offset + quint32(data.size())) + le32(0) + le32(offset) + le32(40) + le32(quint32(w)) +
         le32(quint32(h)) + le16(1) + le16(quint32(bpp)) + le32(quint32(compression)) + le32(quint32(data.size())) +
         le32(2835) + le32(2835) + le32(4) + le32(0) + palette + data;
}

// A GIF whose first picture's LZW data (code size byte onwards) is replaced by `data`.
QByteArray gifWithData(const QByteArray& gif, qsizetype codeSizeAt, const QByteArray& data) {
  return gif.left(codeSizeAt) + data;
}

QByteArray webpOf(const QImage& image, int quality) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "webp");
  writer.setQuality(quality);
  EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
  return buffer.data();
}

}  // namespace

// Files that are closed properly but hold less pixel data than their headers promise, and headers
// whose sizes overflow 64 bits: each is refused from its structure, before decoding, quickly and
// within bounded memory, with the reason. The whole fixtures decode as before.
TEST(PictureDecode, LyingFilesAreRefusedBeforeDecoding) {
  QTemporaryDir dir;
  const QByteArray gif = fixture("palette.gif"), bigGif = fixture("rgbrgb.gif"), bmp = fixture("sample.bmp"),
                   tif = fixture("sample.tif"), ico = fixture("sample.ico");
  // palette.gif: 23 x 42, its image descriptor at 109, no local palette, the code size at 119.
  ASSERT_EQ(gif[109], ',');
  ASSERT_EQ(gif[119], 5);
  // rgbrgb.gif: 256 x 256, its first image descriptor at 125, the code size at 135.
  ASSERT_EQ(bigGif[125], ',');
  ASSERT_EQ(bigGif[135], 2);
  QByteArray interlaced = gif;
  interlaced[118] = char(0x40);
  // sample.tif: one uncompressed strip of 23 x 42 x 3 = 2898 bytes; sample.ico: a 23 x 42 24-bit icon.
  const qsizetype stripCountAt = tif.indexOf(QByteArray("\x17\x01\x04\0\x01\0\0\0", 8)) + 8;
  ASSERT_GT(stripCountAt, 8);
  const QByteArray rleRow = QByteArray("\x08\x02\0\0", 4);  // 8 blue pixels, end of row
  const QByteArray webp = webpOf(noise(23, 17, QImage::Format_RGB32, 3), 60);
  const QByteArray tinyLzw("\x02\x02\x44\x01\0;", 6);  // 1 pixel of data, then the end
  const struct {
    const char* name;
    QByteArray bytes;
  } cases[] = {
      // 40 bytes of the first data sub-block, then a proper end of data and trailer.
      {"closed.gif", gifWithData(gif, 119, QByteArray(1, 5) + char(40) + gif.mid(121, 40) + QByteArray("\0;", 2))},
      {"closed-interlaced.gif",
       gifWithData(interlaced, 119, QByteArray(1, 5) + char(40) + gif.mid(121, 40) + QByteArray("\0;", 2))},
      {"closed-big.gif", bigGif.left(136) + char(200) + bigGif.mid(137, 200) + QByteArray("\0;", 2)},
      // (A larger claim is refused for the decode budget, from its header alone.)
      {"huge-29-bytes.gif", "GIF89a" + le16(8000) + le16(8000) + QByteArray(3, '\0') + ',' + le32(0) +
                                le16(8000) + le16(8000) + char(0) + tinyLzw},
      // Screens of 8568 x 8507 and 8000 x 8000 pixels whose image is 0 pixels wide, or has an LZW
      // code size of 0 (found by the fuzz target on a screen of 11007 x 11261, which the decode
      // budget now refuses from the header: Qt's reader filled the whole screen, slowly).
      {"empty-image.gif", QByteArray("GIF89ax!;!\0\0\xe1,\0\x0a\0\0\0\0\x80\0\0\x02\0\x04", 26)},
      {"no-code-size.gif", QByteArray("GIF87a\x40\x1f\x40\x1f-\0\0,\xbf\x93\0\0\0\x81\xff<\0\0\x80\0\0\x02\0\x0b\0\x37\xff", 33)},
      {"end-after-16.bmp", bmpOf(8, 8, 8, 1, rleRow + rleRow + QByteArray("\0\x01", 2))},
      {"row-ended-early.bmp", bmpOf(8, 2, 8, 1, rleRow + QByteArray("\x04\x01\0\0", 4))},
      {"jump.bmp", bmpOf(8, 2, 8, 1, QByteArray("\x04\x01\0\x02\x04\0\x04\x01\0\0", 10) + rleRow)},
      {"runs-cut.bmp", bmpOf(8, 4, 4, 2, rleRow + rleRow)},
      {"taller.bmp", patched(bmp, 22, le32(84))},
      // 2^31 - 1 wide, 2^31 high (top-down), 32 bits: the data's size overflows 64 bits.
      {"overflow.bmp", bmpOf(0x7fffffff, qint32(0x80000000), 32, 0, QByteArray(64, '\0'))},
      {"short-strip.tif", patched(tif, stripCountAt, le32(1000))},
      {"short-icon.ico", patched(ico.left(3000), 14, le32(3000 - 22))},
      // WebP has no accepted extension of its own: the content decides.
      {"cut-webp.png", webp.left(webp.size() - 20)},
      {"bigger-riff-webp.png", patched(webp, 4, le32(quint32(webp.size() + 100)))},
  };
  const bool canMeasure = peakResidentMiB(true) >= 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double before = peakResidentMiB(true);
    QElapsedTimer timer;
    timer.start();
    expectLoadFails(writeFile(dir, c.name, c.bytes), CutShortReason);
    EXPECT_LT(timer.elapsed(), 1000);
    if (canMeasure)
      EXPECT_LT(peakResidentMiB(false) - before, 64.0);
  }
  for (const QByteArray& whole : {gif, interlaced, bigGif, bmp, tif, ico, webp}) {
    const QString path = writeFile(dir, "whole.gif", whole);
    clearDecodeCache();
    EXPECT_EQ(firstDifference(decodePicture(path), readWithQt(path)), "");
  }
}

// Run-length BMPs that write every pixel decode to Qt's pixels: runs, pixels as they are (with
// their padding), and the end of the picture after the last row.
TEST(PictureDecode, CompleteRunLengthBitmapsDecode) {
  QTemporaryDir dir;
  const QByteArray rle8 = QByteArray("\x06\0\0\0" "\x02\x01\0\x04\x02\x03\x01\0\0\0" "\x03\x02\0\x03\x01\x01\x02\0\0\0"
                                     "\0\x06\0\x01\x02\x03\x02\x01\0\0\0\x01", 36);
  const QByteArray rle4 = QByteArray("\x06\x01\0\0" "\0\x06\x23\x10\x20\0\0\0" "\x04\x32\x02\x11\0\x01", 18);
  for (const auto& [name, bytes] : {std::pair{"rle8.bmp", bmpOf(6, 4, 8, 1, rle8)}, {"rle4.bmp", bmpOf(6, 3, 4, 2, rle4)}}) {
    SCOPED_TRACE(name);
    const QString path = writeFile(dir, name, bytes);
    EXPECT_EQ(firstDifference(decodePicture(path), readWithQt(path)), "");
  }
}

// Memory that runs out while a picture is decoded is said as such, not as a bad file.
TEST(PictureDecode, RunningOutOfMemorySaysSo) {
  QTemporaryDir dir;
  const int side = 8192;
  const QByteArray rows((side / 8 + 1) * side, '\0');
  const QString path = writeFile(dir, "large.png", kSignature + ihdr(side, side, 1, 0) +
                                                       chunk("IDAT", zlibBytes(rows)) + chunk("IEND", {}));
  const ChildEnd end = runInChild([&] {
    // Room for the program as it is and 64 MB more: not for the picture's 256 MiB.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
      return 2;
    double sizeKb = 0;
    for (const QByteArray& line : status.readAll().split('\n'))
      if (line.startsWith("VmSize:"))
        sizeKb = line.mid(7).trimmed().split(' ').front().toDouble();
    rlimit limit{rlim_t(sizeKb * 1024) + (rlim_t(64) << 20), RLIM_INFINITY};
    if (sizeKb <= 0 || setrlimit(RLIMIT_AS, &limit) != 0)
      return 3;
    try {
      decodePicture(path);
    } catch (const EBitmapError& e) {
      return e.Message() == QStringLiteral("Loading bitmap failed (%1). There is not enough memory to decode it.").arg(path)
                 ? 0 : 4;
    }
    return 5;
  });
  EXPECT_EQ(end.code, 0);
}

// One budget for the work memory of every decode in the process: a second decode waits until the
// first gives its share back, and a share larger than the whole budget is refused at once.
TEST(PictureDecode, OneWorkMemoryBudgetForTheProcess) {
  const size_t share = DecodeWorkMemoryLimit / 2 + 1;
  std::atomic<int> holding{0}, most{0};
  auto decode = [&] {
    const TDecodeReservation r(share);
    EXPECT_TRUE(r.ok());
    most = std::max(most.load(), ++holding);
    QThread::msleep(100);
    --holding;
  };
  std::thread a(decode), b(decode);
  a.join();
  b.join();
  EXPECT_EQ(most.load(), 1);
  EXPECT_EQ(decodeMemoryInUse(), 0u);
  EXPECT_FALSE(TDecodeReservation(DecodeWorkMemoryLimit + 1).ok());

  // Each decoder that holds a whole picture beyond the result takes its share from that budget.
  QTemporaryDir dir;
  const QString interlaced = writeFile(dir, "wide.png", makePng(64, 48, 16, 2, randomSamples(64 * 48 * 3, 16, 7), true));
  const struct {
    QString path;
    size_t bytes;
  } cases[] = {
      {interlaced, 64 * 48 * 8},                                           // 16-bit rows held whole
      {QStringLiteral(VELLUMARK_TEST_DATA_DIR "/formats/sample.bmp"), 23 * 42 * 4},  // Qt's picture
      {QStringLiteral(VELLUMARK_TEST_DATA_DIR "/formats/sample.jpg"), 0},  // progressive: its coefficients
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    clearDecodeCache();
    decodeMemoryPeak(true);
    EXPECT_NO_THROW(decodePicture(c.path));
    if (c.bytes)
      EXPECT_EQ(decodeMemoryPeak(false), c.bytes);
    else
      EXPECT_GE(decodeMemoryPeak(false), size_t(23 * 42 * 3 * 2));
  }
}

namespace {

// An RGBA TIFF of w x h pixels of `bits` bits a sample, all zero, in deflate strips of 64 rows: a
// few hundred KB for a picture of hundreds of MB.
QByteArray deflateBombTiff(int w, int h, int bits) {
  const int rowsPerStrip = 64, strips = (h + rowsPerStrip - 1) / rowsPerStrip;
  const QByteArray strip = zlibBytes(QByteArray(qsizetype(w) * bits / 2 * rowsPerStrip, '\0'));
  const quint32 tags = 11, bitsAt = 8 + 2 + tags * 12 + 4, offsetsAt = bitsAt + 8, countsAt = offsetsAt + 4 * strips,
                dataAt = countsAt + 4 * strips;
  QByteArray b = QByteArray("II*\0", 4) + le32(8) + le16(tags);
  auto tag = [&](quint32 id, quint32 type, quint32 count, quint32 value) {
    b += le16(id) + le16(type) + le32(count) + (type == 3 && count == 1 ? le16(value) + le16(0) : le32(value));
  };
  tag(256, 4, 1, quint32(w));
  tag(257, 4, 1, quint32(h));
  tag(258, 3, 4, bitsAt);
  tag(259, 3, 1, 8);  // deflate
  tag(262, 3, 1, 2);  // RGB
  tag(273, 4, quint32(strips), offsetsAt);
  tag(277, 3, 1, 4);
  tag(278, 4, 1, rowsPerStrip);
  tag(279, 4, quint32(strips), countsAt);
  tag(284, 3, 1, 1);
  tag(338, 3, 1, 2);  // unassociated alpha
  b += le32(0) + le16(quint32(bits)) + le16(quint32(bits)) + le16(quint32(bits)) + le16(quint32(bits));
  for (int i = 0; i < strips; ++i)
    b += le32(dataAt + quint32(i * strip.size()));
  for (int i = 0; i < strips; ++i)
    b += le32(quint32(strip.size()));
  for (int i = 0; i < strips; ++i)
    b += strip;  // the last strip holds more rows than the picture: the reader stops at its end
  return b;
}

}  // namespace

// Big and hostile pictures, one at a time, within bounded memory. An interlaced PNG that is
// reduced or has 16 bits a channel is read in bands of rows (made small here, so that a small
// picture takes several, of uneven fit) and gives the pixels of the same picture not interlaced,
// holding one band at most beside the result. A picture that a decoder would have to hold whole
// beyond the decode budget (Qt's reader for GIF and TIFF, at 8 bytes a pixel for 16 bits; the
// coefficients of a progressive JPEG) is refused from its header with the budget's reason, taking
// none of it.
TEST(PictureDecode, BigPicturesAreReadInBandsOrRefusedForTheBudget) {
  QTemporaryDir dir;
  const auto png = [&](const char* name, int w, int h, int depth, int colorType, bool interlaced) {
    const int channels = colorType == 6 ? 4 : 3;
    return writeFile(dir, name,
                     makePng(w, h, depth, colorType, randomSamples(w * h * channels, depth, quint32(w + h)), interlaced));
  };
  const QByteArray jpeg = fixture("sample.jpg");  // progressive
  const QString budgetEnd = QStringLiteral(" MB of memory beyond the picture, more than the 268 MB allowed.");
  const struct {
    QString path, plain;  // the picture, and the same one not interlaced (for a picture that decodes)
    QSize size;
    size_t bandBytes, peak;  // the band size set, and the most work memory the decode may take
    QString megabytes;       // for a refusal: the MB its reason gives
  } cases[] = {
      // 9000 x 23 RGBA, reduced; room for 11.5 rows a band: 3 bands of 8 rows, the last of 7.
      {png("reduced.png", 9000, 23, 8, 6, true), png("reduced-plain.png", 9000, 23, 8, 6, false), {8192, 21},
       9000 * 4 * 23 / 2, 9000 * 4 * 8, {}},
      // 16 bits, reduced (to 8 bits a channel as it is read): 3 bands of 3 rows.
      {png("reduced16.png", 8300, 9, 16, 2, true), png("reduced16-plain.png", 8300, 9, 16, 2, false), {8192, 9},
       8300 * 4 * 3, 8300 * 4 * 3, {}},
      // 16 bits within 8192: rows of 8 bytes a pixel, 4 rows a band, 8 bands of 4 rows (the last 1).
      {png("wide.png", 37, 29, 16, 6, true), png("wide-plain.png", 37, 29, 16, 6, false), {37, 29}, 37 * 8 * 4,
       37 * 8 * 4, {}},
      // The default band holds a small picture whole: one reading.
      {png("one-band.png", 37, 29, 16, 6, true), png("one-band-plain.png", 37, 29, 16, 6, false), {37, 29}, 0,
       37 * 8 * 29, {}},
      {writeFile(dir, "bomb.tif", deflateBombTiff(11000, 11000, 8)), {}, {}, 0, 0, "484"},
      {writeFile(dir, "bomb16.tif", deflateBombTiff(6000, 6000, 16)), {}, {}, 0, 0, "288"},
      {writeFile(dir, "huge.gif", "GIF89a" + le16(11000) + le16(11000) + QByteArray(3, '\0') + ',' + le32(0) +
                                      le16(11000) + le16(11000) + char(0) + QByteArray("\x02\x02\x44\x01\0;", 6)),
       {}, {}, 0, 0, "484"},
      // 8192 x 8192, three components of full resolution: 6 bytes a pixel.
      {writeFile(dir, "progressive.jpg", withJpegSize(jpeg, 8192, 8192)), {}, {}, 0, 0, "403"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    const size_t defaultBand = setPngBandBytes(c.bandBytes ? c.bandBytes : DecodeWorkMemoryLimit);
    clearDecodeCache();
    decodeMemoryPeak(true);
    if (c.megabytes.isEmpty()) {
      const QImage image = decodePicture(c.path);
      EXPECT_EQ(image.size(), c.size);
      EXPECT_EQ(firstDifference(image, decodePicture(c.plain)), "");
    } else {
      expectLoadFails(c.path, QStringLiteral("Decoding it takes ") + c.megabytes + budgetEnd);
    }
    EXPECT_EQ(decodeMemoryPeak(false), c.peak);
    setPngBandBytes(defaultBand);
  }
}

// PNG of every colour type and depth, interlaced or not, and JPEG: the pixels QImageReader gives.
TEST(PictureDecode, PixelsAreThoseOfQImageReader) {
  QTemporaryDir dir;
  struct Case {
    int depth, colorType;
    bool interlaced;
    QByteArray extra;
  };
  QByteArray palette;
  for (int i = 0; i < 256; ++i)
    palette.append(char(i)).append(char(255 - i)).append(char(i * 7));
  QByteArray paletteAlpha;
  for (int i = 0; i < 200; ++i)
    paletteAlpha += char(i);
  const QList<Case> cases = {
      {1, 0, false, {}},  {2, 0, true, {}},  {4, 0, false, {}}, {8, 0, false, {}}, {16, 0, true, {}},
      {8, 0, false, chunk("tRNS", QByteArray("\0\x07", 2))},
      {8, 2, false, {}},  {8, 2, true, {}},  {16, 2, false, {}},
      {8, 2, false, chunk("tRNS", QByteArray("\0\x01\0\x02\0\x03", 6))},
      {4, 3, false, chunk("PLTE", palette.left(48))},
      {8, 3, true, chunk("PLTE", palette) + chunk("tRNS", paletteAlpha)},
      {8, 4, false, {}},  {16, 4, false, {}}, {8, 6, false, {}}, {8, 6, true, {}}, {16, 6, false, {}},
      {16, 6, true, {}},
  };
  int n = 0;
  for (const Case& c : cases) {
    const int w = 37, h = 29;
    const int channels = c.colorType == 0 || c.colorType == 3 ? 1 : c.colorType == 2 ? 3 : c.colorType == 4 ? 2 : 4;
    const int depth = c.colorType == 3 ? std::min(c.depth, c.extra.size() > 100 ? 8 : 4) : c.depth;
    std::vector<int> samples = randomSamples(w * h * channels, depth, quint32(n + 10));
    if (c.colorType == 0 && c.extra.size())
      for (int i = 0; i < w * h; i += 3)
        samples[size_t(i)] = 7;  // the transparent grey
    if (c.colorType == 2 && c.extra.size())
      for (int i = 0; i < w * h; i += 3)
        samples[size_t(i * 3)] = 1, samples[size_t(i * 3 + 1)] = 2, samples[size_t(i * 3 + 2)] = 3;
    const QString path = writeFile(dir, QStringLiteral("case%1.png").arg(n++),
                                   makePng(w, h, c.depth, c.colorType, samples, c.interlaced, c.extra));
    SCOPED_TRACE(QStringLiteral("depth %1 type %2 interlaced %3 extra %4")
                     .arg(c.depth).arg(c.colorType).arg(c.interlaced).arg(c.extra.size()).toStdString());
    EXPECT_EQ(firstDifference(decodePicture(path), readWithQt(path)), "");
  }
  for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_Grayscale8}) {
    const QString path = writeFile(dir, QStringLiteral("photo%1.jpg").arg(n++),
                                   jpegOf(noise(61, 43, QImage::Format_RGB32, 5).convertToFormat(format), 80));
    EXPECT_EQ(firstDifference(decodePicture(path), readWithQt(path)), "") << "JPEG format " << int(format);
  }
}

// Qt's reader garbles a 16-bit RGB picture with a transparent colour; here that colour is
// transparent and every other pixel keeps its colour.
TEST(PictureDecode, TransparentColourOfA16BitRgbPicture) {
  QTemporaryDir dir;
  std::vector<int> samples(4 * 2 * 3, 0x1234);
  for (int c = 0; c < 3; ++c)
    samples[size_t(c)] = 0xabcd;  // pixel (0,0) has the transparent colour
  const QString path = writeFile(dir, "t16.png",
                                 makePng(4, 2, 16, 2, samples, false, chunk("tRNS", QByteArray("\xab\xcd\xab\xcd\xab\xcd", 6))));
  const QImage image = decodePicture(path);
  EXPECT_EQ(image.pixel(0, 0), 0u);
  EXPECT_EQ(image.pixel(1, 0), qRgba(0x12, 0x12, 0x12, 255));
  EXPECT_EQ(image.pixel(3, 1), qRgba(0x12, 0x12, 0x12, 255));
}

// Over 8192 the reduction samples the 2 x 2 nearest pixels. Alternating black and white columns
// reduced by 3 sample exactly column 3i + 1, so the result alternates too; area averaging would
// give greys. Each reading path is covered: PNG rows, interlaced PNG, and QImageReader (BMP).
TEST(PictureDecode, ReductionOver8192IsBilinear) {
  QTemporaryDir dir;
  const int w = 3 * 8192, h = 6;
  QImage columns(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      columns.setPixel(x, y, x % 2 ? 0xffffffffu : 0xff000000u);
  std::vector<int> samples(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      samples[size_t(y * w + x)] = x % 2;
  const QString bmp = dir.filePath("columns.bmp");
  ASSERT_TRUE(columns.save(bmp));
  const QStringList files = {writeFile(dir, "columns.png", makePng(w, h, 1, 0, samples)),
                             writeFile(dir, "columns-interlaced.png", makePng(w, h, 1, 0, samples, true)), bmp};
  for (const QString& file : files) {
    SCOPED_TRACE(file.toStdString());
    const QImage image = decodePicture(file);
    ASSERT_EQ(image.size(), QSize(8192, 2));
    for (int x = 0; x < 8192; ++x)
      ASSERT_EQ(image.pixel(x, 1), (3 * x + 1) % 2 ? 0xffffffffu : 0xff000000u) << "column " << x;
  }

  // At any ratio, the reduction of a picture (with alpha) is drawBilinear over the whole of it.
  const QImage random = noise(9000, 70, QImage::Format_ARGB32, 7);
  const QString path = dir.filePath("random.png");
  ASSERT_TRUE(random.save(path));
  QImage expected(8192, 64, QImage::Format_ARGB32_Premultiplied);
  drawBilinear(random.convertToFormat(QImage::Format_ARGB32_Premultiplied), TRectF{0, 0, 9000, 70}, expected);
  EXPECT_EQ(firstDifference(decodePicture(path), expected), "");
}

// A file replaced by another of the same size and modification time (cp -p, or a rename over
// it) is decoded afresh.
TEST(PictureDecode, TheCacheSeesAFileReplacedWithTheSameSizeAndTime) {
  QTemporaryDir dir;
  clearDecodeCache();
  const QString path = dir.filePath("pic.png");
  const QByteArray red = makePng(4, 4, 8, 2, std::vector<int>(48, 200));
  const QByteArray blue = makePng(4, 4, 8, 2, std::vector<int>(48, 201));
  const QByteArray green = makePng(4, 4, 8, 2, std::vector<int>(48, 202));
  ASSERT_EQ(red.size(), blue.size());
  ASSERT_EQ(red.size(), green.size());
  writeFile(dir, "pic.png", red);
  struct stat original {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &original), 0);
  // The modification time of the first file, to the nanosecond, as cp -p keeps it.
  const auto keepTime = [&](const QString& name) {
    const timespec times[2] = {original.st_atim, original.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(name).constData(), times, 0), 0);
  };
  const QImage first = decodePicture(path);
  ASSERT_EQ(first.pixel(0, 0), qRgb(200, 200, 200));

  // Rewritten in place, as cp -p does: only the change time tells.
  QThread::msleep(20);  // the change time moves on at the clock's granularity
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_EQ(file.write(blue), blue.size());
  }
  keepTime(path);
  EXPECT_EQ(decodePicture(path).pixel(0, 0), qRgb(201, 201, 201));

  // Another file renamed over it, with the same size and times: another inode.
  const QString other = writeFile(dir, "other.png", green);
  keepTime(other);
  const QImage held = decodePicture(path);
  ASSERT_EQ(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
  EXPECT_EQ(decodePicture(path).pixel(0, 0), qRgb(202, 202, 202));
}

// The prefetch decodes each named file once; decodePicture then hands out those pictures, and a
// file that cannot be decoded still fails at decodePicture with the load message.
TEST(PictureDecode, PrefetchedPicturesAreHandedOutAndErrorsComeWhenAsked) {
  QTemporaryDir dir;
  clearDecodeCache();
  QStringList names;
  for (int i = 0; i < 5; ++i)
    names << writeFile(dir, QStringLiteral("p%1.png").arg(i), makePng(8 + i, 8, 8, 2, randomSamples((8 + i) * 24, 8, quint32(i))));
  const QString bad = writeFile(dir, "bad.png", "not a picture");
  names << bad << names[0] << dir.filePath("missing.png");
  std::vector<QImage> expected;
  for (int i = 0; i < 5; ++i)
    expected.push_back(readWithQt(names[i]));
  {
    TPicturePrefetch prefetch(names);
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(firstDifference(decodePicture(names[i]), expected[size_t(i)]), "") << i;
    // One decode per file, shared.
    EXPECT_EQ(decodePicture(names[6]).constBits(), decodePicture(names[0]).constBits());
    expectLoadFails(bad);
    expectLoadFails(names[7]);
    // A file changed after the prefetch read it is decoded again.
    QThread::msleep(20);
    writeFile(dir, "p4.png", makePng(3, 3, 8, 2, std::vector<int>(27, 9)));
    EXPECT_EQ(decodePicture(names[4]).size(), QSize(3, 3));
  }
  // Without the prefetch nothing is held any more.
  clearDecodeCache();
  EXPECT_EQ(decodeCacheSize(), 0);
}
