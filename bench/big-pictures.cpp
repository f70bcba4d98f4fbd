// The pictures of the memory benchmark (bench/picture-memory.sh), made row by row so that none of
// them is ever held whole here:
//   big-pictures DIR
// writes into DIR (each file only when it is not there yet):
//   interlaced.png        11585 x 11585 RGBA, 8 bits, Adam7 (a few MB)
//   interlaced16.png      8192 x 8192 RGBA, 16 bits, Adam7
//   bomb.tif              11000 x 11000 RGBA, deflate strips of zeros (about 0.5 MB)
//   huge.gif              11000 x 11000, four colours, with all its LZW data
//   big8192-1.png .. -13  8192 x 8192 RGB, one pattern each, a few hundred KB each
//   normal4096.png        4096 x 4096 RGBA with soft edges, the byte-identity picture
//   normal16-4096.png     4096 x 4096 RGBA, 16 bits, Adam7: the same check for that path
//   small.png             64 x 64 RGB, the picture of the other frames
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// Writes a PNG whose row y libpng asks for is made by `row` (w pixels of `channels` samples of
// `depth` bits, big-endian for 16 bits).
using RowMaker = std::function<void(int y, std::vector<unsigned char>& row)>;

bool writePng(const QString& path, int w, int h, int depth, int colorType, bool interlaced, const RowMaker& row) {
  FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
  if (!file)
    return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth, colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const int passes = interlaced ? png_set_interlace_handling(png) : 1;
  std::vector<unsigned char> buffer(png_get_rowbytes(png, info));
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < h; ++y) {
      row(y, buffer);
      png_write_row(png, buffer.data());
    }
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

// A pattern of gradients and blocks that compresses well and shows where a reduction samples.
RowMaker pattern(int w, int h, int channels, int depth, int seed) {
  return [=](int y, std::vector<unsigned char>& out) {
    for (int x = 0; x < w; ++x) {
      const unsigned v[4] = {unsigned(x + seed) & 0xffu, unsigned(y * 255 / h),
                             unsigned(((x >> 5) ^ (y >> 5)) * 37 + seed * 11) & 0xffu,
                             unsigned(64 + ((x + y) >> 6) % 192)};
      for (int c = 0; c < channels; ++c) {
        if (depth == 16) {
          const unsigned s = v[c] * 257u ^ unsigned((x * 7 + y * 3) & 0xff);
          out[size_t(x * channels + c) * 2] = (unsigned char)(s >> 8);
          out[size_t(x * channels + c) * 2 + 1] = (unsigned char)s;
        } else {
          out[size_t(x * channels + c)] = (unsigned char)v[c];
        }
      }
    }
  };
}

// A picture with a soft round edge of transparency over a pattern.
RowMaker softEdges(int w, int h) {
  return [=](int y, std::vector<unsigned char>& out) {
    pattern(w, h, 4, 8, 3)(y, out);
    for (int x = 0; x < w; ++x) {
      const double dx = (x - w / 2.0) / (w / 2.0), dy = (y - h / 2.0) / (h / 2.0);
      const double d = dx * dx + dy * dy;
      out[size_t(x) * 4 + 3] = (unsigned char)(d < 0.8 ? 255 : d > 1 ? 0 : int((1 - d) / 0.2 * 255));
    }
  };
}

void le16(QByteArray& b, unsigned v) { b.append(char(v)).append(char(v >> 8)); }
void le32(QByteArray& b, quint32 v) {
  le16(b, v & 0xffff);
  le16(b, v >> 16);
}

QByteArray deflated(const QByteArray& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  QByteArray out(qsizetype(size), '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.constData()),
            uLong(raw.size()), 9);
  out.truncate(qsizetype(size));
  return out;
}

// An RGBA TIFF of zeros in deflate strips of 64 rows: a small file for a huge picture.
QByteArray deflateBombTiff(int w, int h) {
  const int rowsPerStrip = 64, strips = (h + rowsPerStrip - 1) / rowsPerStrip;
  const QByteArray full = deflated(QByteArray(qsizetype(w) * 4 * rowsPerStrip, '\0'));
  const int lastRows = h - (strips - 1) * rowsPerStrip;
  const QByteArray last = deflated(QByteArray(qsizetype(w) * 4 * lastRows, '\0'));
  const int tags = 11;
  const quint32 ifd = 8, bits = ifd + 2 + tags * 12 + 4, offsets = bits + 8, counts = offsets + 4 * strips,
                data = counts + 4 * strips;
  QByteArray b("II*\0", 4);
  le32(b, ifd);
  le16(b, tags);
  auto tag = [&](unsigned id, unsigned type, quint32 count, quint32 value) {
    le16(b, id);
    le16(b, type);
    le32(b, count);
    le32(b, value);
  };
  tag(256, 4, 1, quint32(w));
  tag(257, 4, 1, quint32(h));
  tag(258, 3, 4, bits);
  tag(259, 3, 1, 8);  // deflate
  tag(262, 3, 1, 2);  // RGB
  tag(273, 4, quint32(strips), offsets);
  tag(277, 3, 1, 4);
  tag(278, 4, 1, rowsPerStrip);
  tag(279, 4, quint32(strips), counts);
  tag(284, 3, 1, 1);
  tag(338, 3, 1, 2);  // unassociated alpha
  le32(b, 0);
  for (int i = 0; i < 4; ++i)
    le16(b, 8);
  quint32 at = data;
  for (int s = 0; s < strips; ++s) {
    le32(b, at);
    at += quint32(s + 1 < strips ? full.size() : last.size());
  }
  for (int s = 0; s < strips; ++s)
    le32(b, quint32(s + 1 < strips ? full.size() : last.size()));
  for (int s = 0; s < strips; ++s)
    b += s + 1 < strips ? full : last;
  return b;
}

// LZW codes packed least significant bit first, as GIF stores them.
class TCodeWriter {
public:
  void put(unsigned code, int size) {
    FAcc |= quint64(code) << FBits;
    FBits += size;
    while (FBits >= 8) {
      FBytes.append(char(FAcc & 0xff));
      FAcc >>= 8;
      FBits -= 8;
    }
  }
  QByteArray finish() {
    if (FBits > 0)
      FBytes.append(char(FAcc & 0xff));
    return FBytes;
  }

private:
  QByteArray FBytes;
  quint64 FAcc = 0;
  int FBits = 0;
};

// The LZW data of `count` pixels of 2-bit colour indices.
QByteArray gifLzw(qint64 count, const std::function<int(qint64)>& pixel) {
  const int minSize = 2;
  const unsigned clear = 1u << minSize, end = clear + 1;
  std::vector<quint16> table(4096 * 4);
  TCodeWriter out;
  int size = minSize + 1;
  unsigned maxCode = end;
  out.put(clear, size);
  unsigned prefix = unsigned(pixel(0));
  for (qint64 i = 1; i < count; ++i) {
    const unsigned k = unsigned(pixel(i));
    if (const quint16 next = table[prefix * 4 + k]) {
      prefix = next;
      continue;
    }
    out.put(prefix, size);
    table[prefix * 4 + k] = quint16(++maxCode);
    if (maxCode >= (1u << size))
      ++size;
    if (maxCode == 4095) {
      out.put(clear, size);
      std::fill(table.begin(), table.end(), 0);
      size = minSize + 1;
      maxCode = end;
    }
    prefix = k;
  }
  out.put(prefix, size);
  out.put(end, size);
  return out.finish();
}

// A GIF of bands of four colours, with all of its data.
QByteArray bandedGif(int w, int h) {
  QByteArray b("GIF89a", 6);
  le16(b, unsigned(w));
  le16(b, unsigned(h));
  b.append(char(0x81)).append(char(0)).append(char(0));  // a global table of 4 colours
  b += QByteArray("\xff\x00\x00\x00\xff\x00\x00\x00\xff\xff\xff\xff", 12);
  b.append(char(0x2c));
  le16(b, 0);
  le16(b, 0);
  le16(b, unsigned(w));
  le16(b, unsigned(h));
  b.append(char(0)).append(char(2));
  const QByteArray data = gifLzw(qint64(w) * h, [w](qint64 i) { return int((i / w) / 512 % 4); });
  for (qsizetype at = 0; at < data.size(); at += 255) {
    const QByteArray block = data.mid(at, 255);
    b.append(char(block.size())).append(block);
  }
  b.append(char(0)).append(char(0x3b));
  return b;
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: big-pictures DIR\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(dir.path()))
    return 1;
  struct Item {
    QString name;
    std::function<bool(const QString&)> make;
  };
  std::vector<Item> items = {
      {"interlaced.png", [](const QString& p) { return writePng(p, 11585, 11585, 8, 6, true, pattern(11585, 11585, 4, 8, 0)); }},
      {"interlaced16.png", [](const QString& p) { return writePng(p, 8192, 8192, 16, 6, true, pattern(8192, 8192, 4, 16, 1)); }},
      {"bomb.tif", [](const QString& p) { return writeBytes(p, deflateBombTiff(11000, 11000)); }},
      {"huge.gif", [](const QString& p) { return writeBytes(p, bandedGif(11000, 11000)); }},
      {"normal4096.png", [](const QString& p) { return writePng(p, 4096, 4096, 8, 6, false, softEdges(4096, 4096)); }},
      {"normal16-4096.png", [](const QString& p) { return writePng(p, 4096, 4096, 16, 6, true, pattern(4096, 4096, 4, 16, 2)); }},
      {"small.png", [](const QString& p) { return writePng(p, 64, 64, 8, 2, false, pattern(64, 64, 3, 8, 4)); }},
  };
  for (int i = 1; i <= 13; ++i)
    items.push_back({QStringLiteral("big8192-%1.png").arg(i),
                     [i](const QString& p) { return writePng(p, 8192, 8192, 8, 2, false, pattern(8192, 8192, 3, 8, 10 + i)); }});
  for (const Item& item : items) {
    const QString path = dir.filePath(item.name);
    if (QFile::exists(path))
      continue;
    if (!item.make(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
    std::printf("%s\n", qPrintable(path));
  }
  return 0;
}
