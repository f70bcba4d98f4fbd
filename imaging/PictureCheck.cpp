#include "imaging/PictureCheck.h"

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
  if (compression == 1 || compression == 2) {
    // Run-length data: pairs (count, value) or escapes (0, 0) end of row, (0, 1) end of picture,
    // (0, 2, dx, dy) a jump, (0, n) n pixels as they are, padded to whole 16-bit words.
    const bool rle8 = compression == 1;
    qint64 at = *offBits, row = 0;
    while (row < height) {
      const auto count = r.u8(at), value = r.u8(at + 1);
      if (!count || !value)
        return false;
      at += 2;
      if (*count > 0)
        continue;
      if (*value == 0) {
        ++row;
      } else if (*value == 1) {
        return true;
      } else if (*value == 2) {
        const auto dy = r.u8(at + 1);
        if (!dy)
          return false;
        row += *dy;
        at += 2;
      } else {
        const qint64 bytes = rle8 ? *value : (*value + 1) / 2;
        at += (bytes + 1) / 2 * 2;
        if (at > r.size())
          return false;
      }
    }
    return true;
  }
  if (compression != 0 && compression != 3 && compression != 6)
    return true;  // a kind the reader does not take: it refuses it itself
  const qint64 stride = (width * bpp + 31) / 32 * 4;
  return qint64(*offBits) + stride * height <= r.size();
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
      const auto imagePacked = r.u8(at + 9);
      if (!imagePacked)
        return false;
      at += 10;
      if (*imagePacked & 0x80)
        at += 3 * (qint64(1) << ((*imagePacked & 7) + 1));
      return skipSubBlocks(at + 1).has_value();  // after the code size byte, the picture's data
    } else {
      return true;  // not the block structure of a GIF file: the reader refuses it itself
    }
  }
}

bool tiffComplete(QByteArrayView file) {
  if (file.size() < 8)
    return false;
  const bool big = file[0] == 'M';
  const Reader r(file, big);
  const auto magic = r.u16(2);
  if (!magic || *magic != 42)
    return true;  // BigTIFF and the like: left to the reader
  const auto ifd = r.u32(4);
  const auto count = ifd ? r.u16(*ifd) : std::nullopt;
  if (!count)
    return false;
  // The values of an entry of type SHORT (3) or LONG (4), in place or at their offset.
  auto values = [&](qint64 entry) -> std::optional<std::vector<quint32>> {
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
  };
  std::optional<std::vector<quint32>> offsets, counts;
  for (quint32 i = 0; i < *count; ++i) {
    const qint64 entry = qint64(*ifd) + 2 + qint64(i) * 12;
    const auto tag = r.u16(entry);
    if (!tag)
      return false;
    if (*tag == 273 || *tag == 324)
      offsets = values(entry);
    else if (*tag == 279 || *tag == 325)
      counts = values(entry);
  }
  if (!offsets || !counts || offsets->size() != counts->size())
    return true;  // nothing to measure by: left to the reader
  for (size_t i = 0; i < offsets->size(); ++i)
    if (qint64((*offsets)[i]) + qint64((*counts)[i]) > r.size())
      return false;
  return true;
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
    case TPictureKind::Ico: {
      const TIconEntry entry = firstIconOf(file);
      return entry.size > 0 && entry.offset + entry.size <= file.size();
    }
    default:
      return true;
  }
}
