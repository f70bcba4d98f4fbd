#include "platform/PngWriter.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"

#include <QFileInfo>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// unpremultiplied[a][c] = round(c * 255 / a), clamped to 255; row 0 is all zeros.
const std::array<std::array<uint8_t, 256>, 256>& unpremultiplyTable() {
  static const auto table = [] {
    std::array<std::array<uint8_t, 256>, 256> t{};
    for (int a = 1; a < 256; ++a)
      for (int c = 0; c < 256; ++c)
        t[a][c] = uint8_t(std::min(255, (c * 255 + a / 2) / a));
    return t;
  }();
  return table;
}

// One row of premultiplied ARGB32 into straight R, G, B, A bytes.
void straightRow(const uint32_t* in, int width, uint8_t* out) {
  const auto& table = unpremultiplyTable();
  for (int i = 0; i < width; ++i) {
    const uint32_t p = in[i];
    const uint32_t a = p >> 24;
    uint8_t* o = out + 4 * i;
    if (a == 255) {
      o[0] = uint8_t(p >> 16);
      o[1] = uint8_t(p >> 8);
      o[2] = uint8_t(p);
      o[3] = 255;
    } else {
      const auto& t = table[a];
      o[0] = t[(p >> 16) & 0xff];
      o[1] = t[(p >> 8) & 0xff];
      o[2] = t[p & 0xff];
      o[3] = uint8_t(a);
    }
  }
}

uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc)
    return uint8_t(a);
  return pb <= pc ? uint8_t(b) : uint8_t(c);
}

// Filters one row (cur, with the previous row prev, both straight RGBA) into out: the filter
// type byte followed by the filtered bytes.
void filterRow(PngOptions::Filter filter, const uint8_t* cur, const uint8_t* prev, size_t n, uint8_t* out) {
  out[0] = uint8_t(filter);
  uint8_t* o = out + 1;
  switch (filter) {
  case PngOptions::Filter::None:
    std::copy(cur, cur + n, o);
    break;
  case PngOptions::Filter::Sub:
    for (size_t i = 0; i < n; ++i)
      o[i] = uint8_t(cur[i] - (i >= 4 ? cur[i - 4] : 0));
    break;
  case PngOptions::Filter::Up:
    for (size_t i = 0; i < n; ++i)
      o[i] = uint8_t(cur[i] - prev[i]);
    break;
  case PngOptions::Filter::Average:
    for (size_t i = 0; i < n; ++i)
      o[i] = uint8_t(cur[i] - ((i >= 4 ? cur[i - 4] : 0) + prev[i]) / 2);
    break;
  case PngOptions::Filter::Paeth:
    for (size_t i = 0; i < n; ++i)
      o[i] = uint8_t(cur[i] - paeth(i >= 4 ? cur[i - 4] : 0, prev[i], i >= 4 ? prev[i - 4] : 0));
    break;
  case PngOptions::Filter::Adaptive:
    break;
  }
}

uint64_t signedSum(const uint8_t* p, size_t n) {
  uint64_t sum = 0;
  for (size_t i = 0; i < n; ++i)
    sum += uint64_t(std::abs(int(int8_t(p[i]))));
  return sum;
}

// Filters one row with the given filter, or for Adaptive with the better of Up and Sub (Paeth
// costs more time than the bytes it saves on photographs).
void filterRowChosen(PngOptions::Filter filter, const uint8_t* cur, const uint8_t* prev, size_t n, uint8_t* out,
                     std::vector<uint8_t>& scratch) {
  if (filter != PngOptions::Filter::Adaptive) {
    filterRow(filter, cur, prev, n, out);
    return;
  }
  filterRow(PngOptions::Filter::Up, cur, prev, n, out);
  scratch.resize(n + 1);
  filterRow(PngOptions::Filter::Sub, cur, prev, n, scratch.data());
  if (signedSum(scratch.data() + 1, n) < signedSum(out + 1, n))
    std::copy(scratch.begin(), scratch.end(), out);
}

struct Segment {
  int rowBegin = 0;
  int rowEnd = 0;
  bool last = false;
  std::vector<uint8_t> compressed;
  uLong adler = 1;
  uLong length = 0;  // uncompressed bytes
  bool ok = false;
};

void encodeSegment(const QImage& image, const PngOptions& options, Segment& seg) {
  const int width = image.width();
  const size_t rowBytes = size_t(width) * 4;
  std::vector<uint8_t> prev(rowBytes, 0), cur(rowBytes), filtered(rowBytes + 1), scratch;
  if (seg.rowBegin > 0)
    straightRow(reinterpret_cast<const uint32_t*>(image.constScanLine(seg.rowBegin - 1)), width, prev.data());

  z_stream z{};
  if (deflateInit2(&z, options.level, Z_DEFLATED, -15, 9, options.strategy) != Z_OK)
    return;
  const size_t rows = size_t(seg.rowEnd - seg.rowBegin);
  seg.compressed.resize(deflateBound(&z, uLong(rows * (rowBytes + 1))) + 64);
  z.next_out = seg.compressed.data();
  z.avail_out = uInt(seg.compressed.size());
  bool ok = true;
  for (int y = seg.rowBegin; y < seg.rowEnd && ok; ++y) {
    straightRow(reinterpret_cast<const uint32_t*>(image.constScanLine(y)), width, cur.data());
    filterRowChosen(options.filter, cur.data(), prev.data(), rowBytes, filtered.data(), scratch);
    seg.adler = adler32(seg.adler, filtered.data(), uInt(filtered.size()));
    seg.length += uLong(filtered.size());
    z.next_in = filtered.data();
    z.avail_in = uInt(filtered.size());
    const bool lastRow = y + 1 == seg.rowEnd;
    const int flush = lastRow ? (seg.last ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH;
    const int rc = deflate(&z, flush);
    ok = (rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR) && z.avail_in == 0;
    if (lastRow && seg.last)
      ok = ok && rc == Z_STREAM_END;
    std::swap(prev, cur);
  }
  seg.compressed.resize(seg.compressed.size() - z.avail_out);
  deflateEnd(&z);
  seg.ok = ok;
}

void putU32(QByteArray& out, uint32_t v) {
  const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  out.append(b, 4);
}

void putChunk(QByteArray& out, const char type[4], const uint8_t* data, size_t size) {
  putU32(out, uint32_t(size));
  const qsizetype start = out.size();
  out.append(type, 4);
  if (size)
    out.append(reinterpret_cast<const char*>(data), qsizetype(size));
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.constData() + start), uInt(size + 4));
  putU32(out, uint32_t(crc));
}

bool hasPngExtension(const QString& fileName) {
  return fileName.endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
}

}  // namespace

QString savingBitmapFailedMessage() { return QStringLiteral("Saving bitmap failed."); }

QByteArray encodePng(const QImage& image, const PngOptions& options) {
  if (image.isNull() || image.format() != QImage::Format_ARGB32_Premultiplied)
    throw EBitmapError(savingBitmapFailedMessage());
  const int width = image.width(), height = image.height();

  int parts = options.segments;
  if (parts <= 0) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    parts = int64_t(width) * height < 262144 ? 1 : int(std::min(cores, 8u));
  }
  parts = std::clamp(parts, 1, height);
  std::vector<Segment> segs(static_cast<size_t>(parts));
  for (int p = 0; p < parts; ++p) {
    segs[size_t(p)].rowBegin = height * p / parts;
    segs[size_t(p)].rowEnd = height * (p + 1) / parts;
    segs[size_t(p)].last = p + 1 == parts;
  }
  std::vector<std::thread> workers;
  for (int p = 1; p < parts; ++p)
    workers.emplace_back(encodeSegment, std::cref(image), std::cref(options), std::ref(segs[size_t(p)]));
  encodeSegment(image, options, segs[0]);
  for (auto& w : workers)
    w.join();

  uLong adler = 1;
  size_t compressedSize = 2 + 4;
  for (const Segment& s : segs) {
    if (!s.ok)
      throw EBitmapError(savingBitmapFailedMessage());
    adler = adler32_combine(adler, s.adler, z_off_t(s.length));
    compressedSize += s.compressed.size();
  }

  QByteArray out;
  out.reserve(qsizetype(compressedSize + 64));
  out.append("\x89PNG\r\n\x1a\n", 8);
  uint8_t ihdr[13];
  const uint32_t w = uint32_t(width), h = uint32_t(height);
  const uint8_t dims[8] = {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w),
                           uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h)};
  std::copy(dims, dims + 8, ihdr);
  ihdr[8] = 8;   // bit depth
  ihdr[9] = 6;   // colour type: RGBA
  ihdr[10] = 0;  // deflate
  ihdr[11] = 0;  // adaptive filtering (per-row filter bytes)
  ihdr[12] = 0;  // not interlaced
  putChunk(out, "IHDR", ihdr, sizeof ihdr);

  // IDAT: zlib header, the joined deflate segments, Adler-32 of all filtered data.
  std::vector<uint8_t> idat;
  idat.reserve(compressedSize);
  const int levelFlag = options.level <= 1 ? 0 : options.level <= 5 ? 1 : options.level == 6 ? 2 : 3;
  uint8_t cmf = 0x78, flg = uint8_t(levelFlag << 6);
  flg = uint8_t(flg + (31 - (cmf * 256 + flg) % 31) % 31);
  idat.push_back(cmf);
  idat.push_back(flg);
  for (const Segment& s : segs)
    idat.insert(idat.end(), s.compressed.begin(), s.compressed.end());
  for (int shift = 24; shift >= 0; shift -= 8)
    idat.push_back(uint8_t(adler >> shift));
  putChunk(out, "IDAT", idat.data(), idat.size());
  putChunk(out, "IEND", nullptr, 0);
  return out;
}

void savePng(const QImage& image, const QString& fileName) {
  const QByteArray bytes = encodePng(image);  // nothing is touched when encoding fails
  const AtomicWriteFailure failure = writeFileAtomically(fileName, bytes);
  if (failure.stage == AtomicWriteFailure::Stage::Create)
    throw EBitmapError(cannotCreateFileMessage(QFileInfo(fileName).absoluteFilePath(), failure.reason));
  if (failure)
    throw EBitmapError(savingBitmapFailedMessage());
}

void saveBitmapFile(const QImage& image, const QString& fileName) {
  if (!hasPngExtension(fileName))
    throw EBitmapError(savingBitmapFailedMessage());
  savePng(image, fileName);
}
