#include "imaging/PictureCheck.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

// Little- or big-endian reading that says when the bytes run out.
class Reader {
public:
  Reader(QByteArrayView bytes, bool bigEndian = false) : FBytes(bytes), FBig(bigEndian) {}
  qint64 size() const { return FBytes.size(); }
  std::optional<quint32> u8(qint64 at) const { return get(at, 1); }
  std::optional<quint32> u16(qint64 at) const { return get(at, 2); }
  std::optional<quint32> u32(qint64 at) const { return get(at, 4); }

private:
  std::optional<quint32> get(qint64 at, int n) const {
    if (at < 0 || at + n > FBytes.size())
      return std::nullopt;
    quint32 v = 0;
    for (int i = 0; i < n; ++i) {
      const quint32 b = quint8(FBytes[at + (FBig ? i : n - 1 - i)]);
      v = (v << 8) | b;
    }
    return v;
  }
  QByteArrayView FBytes;
  bool FBig;
};

// a * b, or nullopt when it does not fit a signed 64-bit integer (or either is negative).
std::optional<qint64> product(qint64 a, qint64 b) {
  qint64 p = 0;
  if (a < 0 || b < 0 || __builtin_mul_overflow(a, b, &p))
    return std::nullopt;
  return p;
}

// The bytes of `rows` rows of `width` pixels of `bits` bits each, every row padded to `align` bytes;
// nullopt when that does not fit a signed 64-bit integer.
std::optional<qint64> rowBytes(qint64 width, qint64 bits, qint64 rows, qint64 align) {
  const auto rowBits = product(width, bits);
  if (!rowBits)
    return std::nullopt;
  const qint64 stride = (*rowBits / 8 + (*rowBits % 8 != 0) + align - 1) / align * align;
  return product(stride, rows);
}

// Run-length data: pairs (count, value) or escapes (0, 0) end of row, (0, 1) end of picture,
// (0, 2, dx, dy) a jump, (0, n) n pixels as they are, padded to whole 16-bit words. Qt's reader
// leaves every pixel that the data skips unwritten (a row ended early, a jump, the picture ended
// early), so the data must write every pixel of every row.
bool bmpRunsComplete(const Reader& r, qint64 at, qint64 width, qint64 height, bool rle8) {
  qint64 x = 0, y = 0;
  auto lastRowFull = [&] { return y >= height || (y == height - 1 && x >= width); };
  while (y < height) {
    const auto count = r.u8(at), value = r.u8(at + 1);
    if (!count || !value)
      return lastRowFull();
    at += 2;
    if (*count > 0) {
      x += *count;
    } else if (*value == 0) {  // end of row
      if (x < width)
        return false;
      ++y;
      x = 0;
    } else if (*value == 1) {  // end of picture
      return lastRowFull();
    } else if (*value == 2) {  // a jump over pixels
      return false;
    } else {
      const qint64 bytes = rle8 ? *value : (*value + 1) / 2;
      at += (bytes + 1) / 2 * 2;
      if (at > r.size())
        return false;
      x += *value;
    }
  }
  return true;
}

bool bmpComplete(QByteArrayView file) {
  const Reader r(file);
  const auto offBits = r.u32(10), headerSize = r.u32(14);
  if (!offBits || !headerSize)
    return false;
  qint64 width = 0, height = 0;
  quint32 bpp = 0, compression = 0;
  if (*headerSize == 12) {  // the OS/2 header
    const auto w = r.u16(18), h = r.u16(20), b = r.u16(24);
    if (!w || !h || !b)
      return false;
    width = *w;
    height = *h;
    bpp = *b;
  } else {
    const auto w = r.u32(18), h = r.u32(22), b = r.u16(28), c = r.u32(30);
    if (!w || !h || !b || !c)
      return false;
    width = qint32(*w);
    height = qint32(*h);
    bpp = *b;
    compression = *c;
  }
  if (height < 0)
    height = -height;
  if (width <= 0 || height <= 0)
    return true;  // nothing to read: the reader refuses it
  if (compression == 1 || compression == 2)
    return bmpRunsComplete(r, *offBits, width, height, compression == 1);
  if (compression != 0 && compression != 3 && compression != 6)
    return true;  // a kind the reader does not take: it refuses it itself
  const auto bytes = rowBytes(width, bpp, height, 4);
  return bytes && *bytes <= r.size() - qint64(*offBits);
}

// LZW data of a GIF picture (the code size byte, then its sub-blocks up to the empty one): whether
// it holds at least `pixels` pixels before its end code. Only the lengths of the table's strings
// are kept, so the walk takes no memory of the picture's size.
bool gifPixelsComplete(const Reader& r, qint64 at, qint64 pixels) {
  const auto minCodeSize = r.u8(at);
  // A picture without pixels, or LZW data of no code size the reader takes, holds nothing: Qt's
  // reader would still make a picture of the file's screen size, all of it background.
  if (pixels <= 0 || !minCodeSize || *minCodeSize < 1 || *minCodeSize > 11)
    return false;
  const int clear = 1 << *minCodeSize, end = clear + 1;
  std::vector<qint64> lengths(4096, 1);
  int next = end + 1, codeSize = *minCodeSize + 1, prev = -1;
  qint64 count = 0;
  quint32 bits = 0;
  int bitCount = 0;
  for (qint64 block = at + 1;;) {
    const auto length = r.u8(block);
    if (!length || *length == 0 || block + 1 + *length > r.size())
      return false;  // the data ends (or the file does) before the picture's last pixel
    for (qint64 i = block + 1; i < block + 1 + *length; ++i) {
      bits |= quint32(quint8(*r.u8(i))) << bitCount;
      for (bitCount += 8; bitCount >= codeSize;) {
        const int code = int(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;
        if (code == clear) {
          next = end + 1;
          codeSize = *minCodeSize + 1;
          prev = -1;
          continue;
        }
        if (code == end || (prev < 0 && code > clear) || code > next)
          return false;  // the end, or a code the reader stops at
        const qint64 length = code == next ? lengths[size_t(prev)] + 1 : lengths[size_t(code)];
        count += length;
        if (count >= pixels)
          return true;
        if (prev >= 0 && next < 4096) {
          lengths[size_t(next)] = lengths[size_t(prev)] + 1;
          if (++next == (1 << codeSize) && codeSize < 12)
            ++codeSize;
        }
        prev = code;
      }
    }
    block += 1 + *length;
  }
}

bool gifComplete(QByteArrayView file) {
  const Reader r(file);
  const auto packed = r.u8(10);
  if (!packed)
    return false;
  qint64 at = 13;
  if (*packed & 0x80)
    at += 3 * (qint64(1) << ((*packed & 7) + 1));
  // Sub-blocks: a length byte and that many bytes, until a length of 0. The position after them,
  // or nullopt when the file ends first.
  auto skipSubBlocks = [&r](qint64 pos) -> std::optional<qint64> {
    for (;;) {
      const auto length = r.u8(pos);
      if (!length)
        return std::nullopt;
      pos += 1 + *length;
      if (*length == 0)
        return pos;
    }
  };
  for (;;) {
    const auto introducer = r.u8(at);
    if (!introducer || *introducer == 0x3b)
      return false;  // the file ends (or says it ends) before any picture
    if (*introducer == 0x21) {
      const auto next = skipSubBlocks(at + 2);
      if (!next)
        return false;
      at = *next;
    } else if (*introducer == 0x2c) {
      const auto imagePacked = r.u8(at + 9), width = r.u16(at + 5), height = r.u16(at + 7);
      if (!imagePacked || !width || !height)
        return false;
      at += 10;
      if (*imagePacked & 0x80)
        at += 3 * (qint64(1) << ((*imagePacked & 7) + 1));
      return gifPixelsComplete(r, at, qint64(*width) * *height);
    } else {
      return true;  // not the block structure of a GIF file: the reader refuses it itself
    }
  }
}

// The values of a TIFF directory entry of type SHORT (3) or LONG (4), in place or at their offset.
std::optional<std::vector<quint32>> tiffValues(const Reader& r, qint64 entry) {
  const auto type = r.u16(entry + 2), n = r.u32(entry + 4);
  if (!type || !n || (*type != 3 && *type != 4))
    return std::nullopt;
  const int size = *type == 3 ? 2 : 4;
  if (qint64(*n) * size > r.size())
    return std::nullopt;
  qint64 at = entry + 8;
  if (qint64(*n) * size > 4) {
    const auto offset = r.u32(entry + 8);
    if (!offset)
      return std::nullopt;
    at = *offset;
  }
  std::vector<quint32> out;
  out.reserve(*n);
  for (quint32 i = 0; i < *n; ++i) {
    const auto v = size == 2 ? r.u16(at + qint64(i) * 2) : r.u32(at + qint64(i) * 4);
    if (!v)
      return std::nullopt;
    out.push_back(*v);
  }
  return out;
}

// The entries of the first directory that tell where its pixel data lies and how much it is.
struct TiffLayout {
  std::optional<std::vector<quint32>> offsets, counts;
  bool tiled = false;
  qint64 width = 0, height = 0, bits = 1, samples = 1, compression = 1, planar = 1;
  qint64 rowsPerStrip = 0xffffffff, tileWidth = 0, tileLength = 0;
};

std::optional<TiffLayout> tiffLayout(const Reader& r, qint64 ifd) {
  const auto count = r.u16(ifd);
  if (!count)
    return std::nullopt;
  TiffLayout t;
  for (quint32 i = 0; i < *count; ++i) {
    const qint64 entry = ifd + 2 + qint64(i) * 12;
    const auto tag = r.u16(entry);
    if (!tag)
      return std::nullopt;
    if (*tag == 273 || *tag == 324) {
      t.offsets = tiffValues(r, entry);
      t.tiled = *tag == 324;
    } else if (*tag == 279 || *tag == 325) {
      t.counts = tiffValues(r, entry);
    } else if (const auto v = tiffValues(r, entry); v && !v->empty()) {
      qint64* field = *tag == 256 ? &t.width : *tag == 257 ? &t.height : *tag == 258 ? &t.bits
                    : *tag == 277 ? &t.samples : *tag == 259 ? &t.compression : *tag == 284 ? &t.planar
                    : *tag == 278 ? &t.rowsPerStrip : *tag == 322 ? &t.tileWidth : *tag == 323 ? &t.tileLength
                                  : nullptr;
      if (field)
        *field = v->front();
    }
  }
  return t;
}

// Uncompressed data: whether each strip or tile holds the bytes of the rows it covers.
bool tiffRowsComplete(const TiffLayout& t) {
  if (t.compression != 1 || t.width <= 0 || t.height <= 0)
    return true;  // compressed data: its decoder finds its end
  const qint64 bits = t.planar == 2 ? t.bits : t.bits * t.samples;
  const qint64 width = t.tiled ? t.tileWidth : t.width;
  const qint64 stripRows = t.tiled ? t.tileLength : std::min(t.rowsPerStrip, t.height);
  const qint64 perPlane = t.tiled || stripRows <= 0 ? 0 : (t.height + stripRows - 1) / stripRows;
  for (size_t i = 0; i < t.counts->size(); ++i) {
    const qint64 row = perPlane > 0 ? qint64(i) % perPlane * stripRows : 0;
    const qint64 rows = t.tiled ? stripRows : std::min(stripRows, t.height - row);
    const auto needed = rowBytes(width, bits, rows, 1);
    if (!needed || qint64((*t.counts)[i]) < *needed)
      return false;
  }
  return true;
}

bool tiffComplete(QByteArrayView file) {
  if (file.size() < 8)
    return false;
  const Reader r(file, file[0] == 'M');
  const auto magic = r.u16(2);
  if (!magic || *magic != 42)
    return true;  // BigTIFF and the like: left to the reader
  const auto ifd = r.u32(4);
  const std::optional<TiffLayout> t = ifd ? tiffLayout(r, *ifd) : std::nullopt;
  if (!t)
    return false;
  if (!t->offsets || !t->counts || t->offsets->size() != t->counts->size())
    return true;  // nothing to measure by: left to the reader
  for (size_t i = 0; i < t->offsets->size(); ++i)
    if (qint64((*t->offsets)[i]) + qint64((*t->counts)[i]) > r.size())
      return false;
  return tiffRowsComplete(*t);
}

// An icon that is no PNG: a BMP header without its file header, twice the icon's height (the
// colours, then the 1-bit mask), then the palette, the colour rows and the mask rows.
bool iconBitmapComplete(const Reader& r, const TIconEntry& icon) {
  const auto headerSize = r.u32(icon.offset), w = r.u32(icon.offset + 4), h = r.u32(icon.offset + 8),
             bpp = r.u16(icon.offset + 14), colours = r.u32(icon.offset + 32);
  if (!headerSize || !w || !h || !bpp || !colours)
    return false;
  const qint64 width = qint32(*w), height = qint32(*h) / 2;
  if (width <= 0 || height <= 0 || *headerSize < 40)
    return true;  // nothing to read: the reader refuses it
  const qint64 palette = *bpp <= 8 ? 4 * (*colours ? qint64(*colours) : qint64(1) << *bpp) : 0;
  const auto pixels = rowBytes(width, *bpp, height, 4), mask = rowBytes(width, 1, height, 4);
  return pixels && mask && *pixels <= r.size() && *mask <= r.size() &&
         icon.offset + *headerSize + palette + *pixels + *mask <= r.size();
}

bool iconComplete(QByteArrayView file) {
  const TIconEntry icon = firstIconOf(file);
  if (icon.size <= 0 || icon.offset + icon.size > file.size())
    return false;
  return icon.png || iconBitmapComplete(Reader(file), icon);
}

// RIFF: the file holds the size its header gives, and every chunk in it holds its own size (an odd
// one padded to an even size); an image chunk (VP8, VP8L or, animated, ANMF) must be among them.
bool webpComplete(QByteArrayView file) {
  const Reader r(file);
  const auto riffSize = r.u32(4);
  if (!riffSize || 8 + qint64(*riffSize) > r.size())
    return false;
  const qint64 end = 8 + qint64(*riffSize);
  for (qint64 at = 12; at + 8 <= end;) {
    const QByteArrayView type = file.sliced(at, 4);
    const qint64 size = *r.u32(at + 4);
    if (at + 8 + size > end)
      return false;
    if (type == "VP8 " || type == "VP8L" || type == "ANMF")
      return true;
    at += 8 + size + (size & 1);
  }
  return false;
}

// Chunks (length, type, data, checksum) from the signature on, up to IEND.
bool pngComplete(QByteArrayView file, qint64 at) {
  const Reader r(file, true);
  for (;;) {
    const auto length = r.u32(at), type = r.u32(at + 4);
    if (!length || !type || at + 12 + qint64(*length) > r.size())
      return false;
    if (*type == 0x49454e44)  // IEND
      return true;
    at += 12 + qint64(*length);
  }
}

// Marker segments up to the first scan, then the scans' data up to the end-of-image marker.
bool jpegComplete(QByteArrayView file) {
  const Reader r(file, true);
  qint64 at = 2;
  for (;;) {
    const auto ff = r.u8(at);
    if (!ff)
      return false;
    if (*ff != 0xff)
      return true;  // not the structure of a JPEG file: the decoder's own failure
    while (r.u8(at + 1) == 0xffu)  // fill bytes
      ++at;
    const auto marker = r.u8(at + 1);
    if (!marker)
      return false;
    if (*marker == 0xd9)
      return true;
    if (*marker == 0x01 || (*marker >= 0xd0 && *marker <= 0xd7)) {
      at += 2;
      continue;
    }
    const auto length = r.u16(at + 2);
    if (!length || at + 2 + qint64(*length) > r.size())
      return false;
    at += 2 + qint64(*length);
    if (*marker != 0xda)
      continue;
    // Entropy-coded data: a 0xff in it is followed by 0 (a data byte) or a restart marker.
    for (;; ++at) {
      const auto b = r.u8(at), next = r.u8(at + 1);
      if (!b || !next)
        return false;
      if (*b == 0xff && *next != 0 && !(*next >= 0xd0 && *next <= 0xd7))
        break;  // the next marker
    }
  }
}

}  // namespace

TPictureKind pictureKindOf(QByteArrayView head) {
  if (head.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8)))
    return TPictureKind::Png;
  if (head.startsWith(QByteArrayView("\xff\xd8", 2)))
    return TPictureKind::Jpeg;
  if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
    return TPictureKind::Gif;
  if (head.startsWith("BM"))
    return TPictureKind::Bmp;
  if (head.startsWith(QByteArrayView("II*\0", 4)) || head.startsWith(QByteArrayView("MM\0*", 4)) ||
      head.startsWith(QByteArrayView("II+\0", 4)) || head.startsWith(QByteArrayView("MM\0+", 4)))
    return TPictureKind::Tiff;
  if (head.startsWith(QByteArrayView("\0\0\1\0", 4)))
    return TPictureKind::Ico;
  if (head.size() >= 12 && head.startsWith("RIFF") && head.sliced(8, 4) == "WEBP")
    return TPictureKind::WebP;
  return TPictureKind::Unknown;
}

TIconEntry firstIconOf(QByteArrayView file) {
  const Reader r(file);
  const auto count = r.u16(4), size = r.u32(6 + 8), offset = r.u32(6 + 12);
  if (!count || *count == 0 || !size || !offset)
    return {};
  TIconEntry entry{qint64(*offset), qint64(*size), false};
  entry.png = file.size() >= entry.offset + 8 &&
              file.sliced(entry.offset, 8) == QByteArrayView("\x89PNG\r\n\x1a\n", 8);
  return entry;
}

bool pictureDataComplete(TPictureKind kind, QByteArrayView file) {
  switch (kind) {
    case TPictureKind::Png:
      return pngComplete(file, 8);
    case TPictureKind::Jpeg:
      return jpegComplete(file);
    case TPictureKind::Bmp:
      return bmpComplete(file);
    case TPictureKind::Gif:
      return gifComplete(file);
    case TPictureKind::Tiff:
      return tiffComplete(file);
    case TPictureKind::Ico:
      return iconComplete(file);
    case TPictureKind::WebP:
      return webpComplete(file);
    default:
      return true;
  }
}
