#include "imaging/PngWriter.h"

#include "imaging/PictureRows.h"
#include "platform/AtomicFile.h"
#include "imaging/Deflate.h"
#include "platform/Errors.h"
#include "platform/Parallel.h"
#include "imaging/PngFilter.h"

#include <QFileInfo>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
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

// Filters one row with the given filter, or for Adaptive with the better of Up and Sub (Paeth
// and Average cost more time than the bytes they save on rendered pictures, and with the run
// encoder they save none): Sub only when the sum of its bytes' absolute values (as signed bytes)
// is smaller than Up's. Writes the filter type byte, then the filtered bytes.
void filterRowChosen(PngOptions::Filter filter, const uint8_t* cur, const uint8_t* prev, size_t n, uint8_t* out) {
  PngFilterType type = PngFilterType(filter);
  if (filter == PngOptions::Filter::Adaptive) {
    uint64_t sub = 0, up = 0;
    pngSubUpCosts(cur, prev, n, sub, up);
    type = sub < up ? PngFilterType::Sub : PngFilterType::Up;
  }
  out[0] = uint8_t(type);
  pngFilterRow(type, cur, prev, n, out + 1);
}

void putU32(QByteArray& out, uint32_t v) {
  const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  out.append(b, 4);
}

// The length of a chunk of that many bytes; "Saving bitmap failed." when one chunk cannot hold them.
uint32_t checkedChunkLength(uint64_t dataBytes) {
  const std::optional<uint32_t> length = pngChunkLength(dataBytes);
  if (!length)
    throw EBitmapError(savingBitmapFailedMessage());
  return *length;
}

void putChunk(QByteArray& out, const char type[4], const uint8_t* data, size_t size) {
  putU32(out, checkedChunkLength(size));
  const qsizetype start = out.size();
  out.append(type, 4);
  if (size)
    out.append(reinterpret_cast<const char*>(data), qsizetype(size));
  const uint32_t crc = libdeflate_crc32(0, out.constData() + start, size + 4);
  putU32(out, uint32_t(crc));
}

bool hasPngExtension(const QString& fileName) {
  return fileName.endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
}

}  // namespace

QString savingBitmapFailedMessage() { return QStringLiteral("Saving bitmap failed."); }

std::optional<uint32_t> pngChunkLength(uint64_t dataBytes) {
  if (dataBytes > 0x7fffffffu)
    return std::nullopt;
  return uint32_t(dataBytes);
}

int pngBandCount(int width, int height) {
  if (width <= 0 || height <= 0)
    return 1;
  const int64_t pixels = int64_t(width) * height;
  return int(std::clamp<int64_t>((pixels + (int64_t(1) << 19) - 1) >> 19, 1, height));
}

struct PngBandEncoder::State {
  explicit State(size_t sizeHint) : deflater(sizeHint) {}
  PngOptions::Filter filter;
  bool last;
  size_t rowBytes;
  std::vector<uint8_t> prev, cur, filtered;
  RunDeflater deflater;
  PngSegment segment;
};

PngBandEncoder::PngBandEncoder(int width, PngOptions::Filter filter, const uint32_t* rowBefore, bool last,
                               int rows)
    : FState(std::make_unique<State>(size_t(rows) * (size_t(width) * 4 + 1))) {
  State& s = *FState;
  s.filter = filter;
  s.last = last;
  s.rowBytes = size_t(width) * 4;
  s.prev.assign(s.rowBytes, 0);
  s.cur.resize(s.rowBytes);
  s.filtered.resize(s.rowBytes + 1);
  if (rowBefore)
    straightRow(rowBefore, width, s.prev.data());
}

PngBandEncoder::~PngBandEncoder() = default;

void PngBandEncoder::addRow(const uint32_t* row) {
  State& s = *FState;
  straightRow(row, int(s.rowBytes / 4), s.cur.data());
  filterRowChosen(s.filter, s.cur.data(), s.prev.data(), s.rowBytes, s.filtered.data());
  s.segment.adler = libdeflate_adler32(s.segment.adler, s.filtered.data(), s.filtered.size());
  s.segment.length += s.filtered.size();
  s.deflater.add(s.filtered.data(), s.filtered.size());
  std::swap(s.prev, s.cur);
}

PngSegment PngBandEncoder::finish() {
  State& s = *FState;
  s.deflater.finish(s.last);
  s.segment.deflated = s.deflater.takeOutput();
  return std::move(s.segment);
}

QByteArray assemblePng(int width, int height, const std::vector<PngSegment>& bands) {
  uLong adler = 1;
  size_t compressedSize = 2 + 4;
  for (const PngSegment& b : bands) {
    // A band is far below 2 GiB, so the plain combine (its length a 32-bit long on Windows) serves.
    adler = adler32_combine(adler, b.adler, z_off_t(b.length));
    compressedSize += b.deflated.size();
  }

  const uint32_t idatLength = checkedChunkLength(compressedSize);  // before any memory is taken
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

  // IDAT: zlib header (deflate, 32K window, fastest compression), the joined segments, Adler-32
  // of all filtered data; the chunk is built in place.
  putU32(out, idatLength);
  const qsizetype start = out.size();
  out.append("IDAT", 4);
  out.append(char(0x78));
  out.append(char(0x01));
  for (const PngSegment& b : bands)
    out.append(reinterpret_cast<const char*>(b.deflated.data()), qsizetype(b.deflated.size()));
  putU32(out, uint32_t(adler));
  putU32(out, libdeflate_crc32(0, out.constData() + start, size_t(out.size() - start)));
  putChunk(out, "IEND", nullptr, 0);
  return out;
}

QByteArray encodePng(const QImage& image, const PngOptions& options) {
  if (image.isNull() || image.format() != QImage::Format_ARGB32_Premultiplied)
    throw EBitmapError(savingBitmapFailedMessage());
  waitForPicture(image);
  const int width = image.width(), height = image.height();
  const int parts = std::clamp(options.segments > 0 ? options.segments : pngBandCount(width, height), 1, height);
  std::vector<PngSegment> bands(static_cast<size_t>(parts));
  auto row = [&](int y) { return reinterpret_cast<const uint32_t*>(image.constScanLine(y)); };
  runParallel(parts, workerThreadCount(), [&](int p) {
    const int begin = int(int64_t(height) * p / parts), end = int(int64_t(height) * (p + 1) / parts);
    PngBandEncoder band(width, options.filter, begin > 0 ? row(begin - 1) : nullptr, p + 1 == parts, end - begin);
    for (int y = begin; y < end; ++y)
      band.addRow(row(y));
    bands[size_t(p)] = band.finish();
  });
  return assemblePng(width, height, bands);
}

void savePng(const QImage& image, const QString& fileName) {
  savePngBytes(encodePng(image), fileName);  // nothing is touched when encoding fails
}

void savePngBytes(const QByteArray& bytes, const QString& fileName) {
  const AtomicWriteFailure failure = writeFileAtomically(fileName, bytes);
  if (failure.stage == AtomicWriteFailure::Stage::Create)
    throw EBitmapError(cannotCreateFileMessage(QFileInfo(fileName).absoluteFilePath(), failure.reason));
  if (failure)
    throw EBitmapError(cannotWriteFileMessage(QFileInfo(fileName).absoluteFilePath(), failure.reason));
}

void saveBitmapFile(const QImage& image, const QString& fileName) {
  if (!hasPngExtension(fileName))
    throw EBitmapError(savingBitmapFailedMessage());
  savePng(image, fileName);
}
