#include "imaging/PngDecode.h"

#include "imaging/PictureFile.h"
#include "imaging/PictureRows.h"
#include "imaging/PictureReduce.h"
#include "imaging/PngFilter.h"

#include <QFile>

#include <QRgb>

#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace {

// Everything the reading keeps lives here, made before libpng may jump out of the reading, so
// that a jump skips no destructor.
struct PngState {
  QImage image;  // the result when no reduction is needed
  std::unique_ptr<TRowReducer> reducer;
  std::vector<uchar> row;   // one row as libpng gives it
  std::vector<uchar> band;  // a band of rows of an interlaced picture that is not read into image
  int bandStart = 0;        // the first row of the band the next reading of the file keeps
  int width = 0, height = 0;
  bool wide = false;  // 16 bits per channel, RGBA64
  std::optional<TDecodeReservation> reservation;  // for `band`
  QString reason;                                  // why it failed, beyond a bad file
};

// The most bytes of rows an interlaced picture's band holds (about; a band is at least one row).
std::atomic<size_t> g_bandBytes{DecodeWorkMemoryLimit};

[[noreturn]] void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

// One row as libpng gives it (BGRA straight, or RGBA64) in premultiplied ARGB32.
QImage premultipliedRow(const PngState& s, const uchar* row) {
  return QImage(row, s.width, 1, s.wide ? QImage::Format_RGBA64 : QImage::Format_ARGB32)
      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// A straight ARGB32 pixel premultiplied, with Qt's rounding.
inline uint32_t premultipliedPixel(uint32_t argb) {
  const uint32_t a = argb >> 24;
  return a == 255 ? argb : a == 0 ? 0u : qPremultiply(argb);
}

// Straight ARGB32 to premultiplied in place.
void premultiplyRow(QRgb* row, int width) {
  for (int x = 0; x < width; ++x)
    row[x] = premultipliedPixel(row[x]);
}

// Passes on row y (libpng's form) to the result: reduced, or converted into image.
void deliverRow(PngState& s, int y, const uchar* row) {
  if (s.reducer) {
    if (!s.reducer->rowNeeded(y)) {
      s.reducer->addRow(nullptr);
      return;
    }
    const QImage pm = premultipliedRow(s, row);
    s.reducer->addRow(reinterpret_cast<const uint32_t*>(pm.constBits()));
  } else {
    const QImage pm = premultipliedRow(s, row);
    std::memcpy(s.image.scanLine(y), pm.constBits(), size_t(s.width) * 4);
  }
}

// The transformations that give each row as deliverRow takes it (BGRA straight, or RGBA64 when
// wide), which is also the result's own form when libpng writes straight into it.
void setTransforms(png_structp png, int depth, int colorType, bool useTrns, bool alpha, bool wide) {
  if (colorType == PNG_COLOR_TYPE_PALETTE)
    png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8)
    png_set_expand_gray_1_2_4_to_8(png);
  if (useTrns)
    png_set_tRNS_to_alpha(png);
  if (!(colorType & PNG_COLOR_MASK_COLOR))
    png_set_gray_to_rgb(png);
  if (depth == 16 && !wide)
    png_set_scale_16(png);
  if (!wide)
    png_set_bgr(png);
  if (!alpha)
    png_set_filler(png, wide ? 0xffff : 0xff, PNG_FILLER_AFTER);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
  if (wide)
    png_set_swap(png);
#endif
}

// Every row in one reading of the file: straight into the result (`direct`), interlaced or not,
// or one row at a time through deliverRow (not interlaced; interlaced ones go by readBand).
void readRows(png_structp png, PngState& s, int passes, size_t rowBytes, bool direct, bool alpha) {
  if (passes > 1) {
    // Interlaced rows come in several passes, straight into the result.
    for (int pass = 0; pass < passes; ++pass)
      for (int y = 0; y < s.height; ++y)
        png_read_row(png, s.image.scanLine(y), nullptr);
    if (alpha)
      for (int y = 0; y < s.height; ++y)
        premultiplyRow(reinterpret_cast<QRgb*>(s.image.scanLine(y)), s.width);
  } else if (direct) {
    // Each row premultiplied while it is still in the cache.
    for (int y = 0; y < s.height; ++y) {
      uchar* row = s.image.scanLine(y);
      png_read_row(png, row, nullptr);
      if (alpha)
        premultiplyRow(reinterpret_cast<QRgb*>(row), s.width);
    }
  } else {
    s.row.resize(rowBytes);
    for (int y = 0; y < s.height; ++y) {
      png_read_row(png, s.row.data(), nullptr);
      deliverRow(s, y, s.row.data());
    }
  }
}

// The reducer or the picture the rows go to, made by the first reading of the file; false when
// the memory cannot be had.
bool allocateResult(PngState& s, bool reduce, int maxSide) {
  if (s.reducer || !s.image.isNull())
    return true;
  if (reduce) {
    s.reducer = std::make_unique<TRowReducer>(QSize(s.width, s.height), fittedSize(QSize(s.width, s.height), maxSide));
    if (s.reducer->result().isNull()) {
      s.reason = outOfMemoryReason();
      return false;
    }
  } else {
    s.image = allocatePicture(s.width, s.height);
    if (s.image.isNull()) {
      s.reason = outOfMemoryReason();
      return false;
    }
  }
  return true;
}

// The rows of an interlaced picture that is reduced or converted come in seven passes over the
// whole picture, each row complete only after the last pass that holds some of it. So that the
// full picture is never held, one reading of the file keeps one band of rows (at most about
// g_bandBytes), skipping the rest, and stops in the last pass once the band is complete; the band
// goes to the result, and the file is read again from its start for the next band (s.bandStart).
// The reading of the last band reads the file to its end.
bool readBand(png_structp png, PngState& s, int passes, size_t rowBytes) {
  // The fewest bands of at most g_bandBytes, then rows shared evenly among them.
  const int mostRows = int(std::clamp<size_t>(g_bandBytes.load() / rowBytes, 1, size_t(s.height)));
  const int bands = (s.height + mostRows - 1) / mostRows;
  const int bandRows = (s.height + bands - 1) / bands;
  const size_t bytes = rowBytes * size_t(bandRows);
  if (!s.reservation) {
    if (!s.reservation.emplace(bytes).ok()) {
      s.reason = overDecodeBudgetReason(double(bytes));  // a single row over the budget
      return false;
    }
    s.band.resize(bytes);
  } else if (s.band.size() != bytes) {
    return false;  // the file changed between two readings
  }
  const int first = s.bandStart, end = std::min(s.height, first + bandRows);
  for (int pass = 0; pass < passes; ++pass) {
    const int rows = pass + 1 < passes ? s.height : end;
    for (int y = 0; y < rows; ++y)
      png_read_row(png, y >= first && y < end ? s.band.data() + rowBytes * size_t(y - first) : nullptr, nullptr);
  }
  for (int y = first; y < end; ++y)
    deliverRow(s, y, s.band.data() + rowBytes * size_t(y - first));
  s.bandStart = end;
  if (end == s.height)
    png_read_end(png, nullptr);
  return true;
}

// The reading itself; libpng leaves it by a jump on any error. Only plain values live in this frame.
bool readPng(png_structp png, png_infop info, FILE* file, PngState& s, int maxSide) {
  png_init_io(png, file);
  // Only IHDR, PLTE, tRNS, IDAT and IEND are read; every other chunk is skipped without being stored.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(png, info);

  png_uint_32 w = 0, h = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
  if (s.bandStart > 0 && (int(w) != s.width || int(h) != s.height))
    return false;  // the file changed between two readings
  s.width = int(w);
  s.height = int(h);
  if (qint64(w) * qint64(h) > MaxPicturePixels) {
    s.reason = tooManyPixelsReason(w, h);
    return false;
  }
  // The transparent colour applies at every depth (Qt's reader garbles 16-bit RGB pictures with one).
  const bool useTrns = png_get_valid(png, info, PNG_INFO_tRNS);
  const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) || useTrns;
  const bool reduce = s.width > maxSide || s.height > maxSide;
  s.wide = depth == 16 && !reduce;

  setTransforms(png, depth, colorType, useTrns, alpha, s.wide);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes != size_t(s.width) * (s.wide ? 8 : 4))
    return false;

  if (!allocateResult(s, reduce, maxSide))
    return false;
  const bool direct = !reduce && !s.wide;  // libpng writes straight into the result

  if (passes > 1 && !direct)
    return readBand(png, s, passes, rowBytes);
  readRows(png, s, passes, rowBytes, direct, alpha);
  png_read_end(png, nullptr);
  return true;
}

// ---------------------------------------------------------------------------------------------
// The whole-buffer path: the common pictures (8 bits per channel, not interlaced, grey, RGB,
// palette, grey with alpha or RGBA, no larger than maxSide) are inflated in one call by
// libdeflate, straight into the memory of the result, and unfiltered 16 bytes at a time. It takes
// only files whose every part it checks to be sound (chunk order and checksums, the exact
// amount of image data, filter types, palette indices); anything else, or anything it does not
// handle, goes to libpng as before, which then decodes it or reports its fault, so results and
// errors are those of libpng.

std::atomic<bool> g_wholeBufferAllowed{true};
std::atomic<int> g_wholeBufferDecodes{0};

uint32_t bigEndian(const uchar* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

bool chunkCrcOk(const uchar* chunk, uint32_t length) {
  return libdeflate_crc32(0, chunk + 4, size_t(length) + 4) == bigEndian(chunk + 8 + length);
}

// The parts of a PNG file the whole-buffer path needs, once they have been checked.
struct PngParts {
  int width = 0, height = 0, colorType = 0;
  std::vector<uchar> idat;  // the zlib stream, joined from the IDAT chunks
  uint32_t palette[256] = {};  // straight ARGB32, alpha from tRNS
  int paletteSize = 0;
};

// Checks the signature and the header chunk; false when the picture is not one the path takes.
bool readHeader(const uchar* data, qint64 size, int maxSide, PngParts& parts) {
  static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (size < 8 + 25 || std::memcmp(data, signature, 8) != 0)
    return false;
  const uchar* ihdr = data + 8;
  if (bigEndian(ihdr) != 13 || std::memcmp(ihdr + 4, "IHDR", 4) != 0 || !chunkCrcOk(ihdr, 13))
    return false;
  const uint32_t w = bigEndian(ihdr + 8), h = bigEndian(ihdr + 12);
  const int depth = ihdr[16], colorType = ihdr[17];
  if (w == 0 || h == 0 || w > uint32_t(maxSide) || h > uint32_t(maxSide) || depth != 8 ||
      !(colorType == 0 || colorType == 2 || colorType == 3 || colorType == 4 || colorType == 6) || ihdr[18] != 0 ||
      ihdr[19] != 0 || ihdr[20] != 0)
    return false;
  parts.width = int(w);
  parts.height = int(h);
  parts.colorType = colorType;
  return true;
}

// Reads and checks the chunks; false when the file is not one the path takes.
bool readParts(const uchar* data, qint64 size, int maxSide, PngParts& parts) {
  if (!readHeader(data, size, maxSide, parts))
    return false;
  const int colorType = parts.colorType;

  // The IDAT chunks must follow each other; only PLTE and tRNS of the other chunks are read.
  size_t idatBytes = 0;
  std::vector<std::pair<const uchar*, uint32_t>> idats;
  bool idatEnded = false, paletteSeen = false, transparencySeen = false;
  const uchar* transparency = nullptr;
  uint32_t transparencyLength = 0;
  for (qint64 at = 8 + 25;;) {
    if (size - at < 12)
      return false;  // no IEND
    const uchar* c = data + at;
    const uint32_t length = bigEndian(c);
    if (length > uint32_t(0x7fffffff) || qint64(length) > size - at - 12)
      return false;
    const bool isIdat = std::memcmp(c + 4, "IDAT", 4) == 0;
    if (!isIdat && !idats.empty())
      idatEnded = true;
    if (isIdat) {
      if (idatEnded || !chunkCrcOk(c, length))
        return false;
      idats.push_back({c + 8, length});
      idatBytes += length;
    } else if (std::memcmp(c + 4, "IEND", 4) == 0) {
      if (length != 0 || !chunkCrcOk(c, 0))
        return false;
      break;
    } else if (std::memcmp(c + 4, "PLTE", 4) == 0) {
      if (paletteSeen || !idats.empty() || length % 3 != 0 || length == 0 || length > 768 || !chunkCrcOk(c, length))
        return false;
      paletteSeen = true;
      parts.paletteSize = int(length / 3);
      for (int i = 0; i < parts.paletteSize; ++i)
        parts.palette[i] = qRgba(c[8 + 3 * i], c[9 + 3 * i], c[10 + 3 * i], 255);
    } else if (std::memcmp(c + 4, "tRNS", 4) == 0) {
      // A transparent colour of a grey or RGB picture is left to libpng.
      if (colorType != 3 || transparencySeen || !idats.empty() || !chunkCrcOk(c, length))
        return false;
      transparencySeen = true;
      transparency = c + 8;
      transparencyLength = length;
    } else if (!(c[4] & 0x20)) {
      return false;  // another critical chunk
    }
    at += 12 + qint64(length);
  }
  if (idats.empty() || (colorType == 3 && !paletteSeen))
    return false;
  if (transparency) {
    if (qint64(transparencyLength) > parts.paletteSize)
      return false;
    for (uint32_t i = 0; i < transparencyLength; ++i)
      parts.palette[i] = (parts.palette[i] & 0x00ffffffu) | uint32_t(transparency[i]) << 24;
  }
  parts.idat.reserve(idatBytes);
  for (const auto& [p, n] : idats)
    parts.idat.insert(parts.idat.end(), p, p + n);
  return true;
}

// One straight RGBA pixel as premultiplied ARGB32.
inline uint32_t straightRgbaToPremultiplied(const uchar* in) {
  return premultipliedPixel(uint32_t(in[3]) << 24 | uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2]);
}

// One unfiltered row of the picture's own samples into premultiplied ARGB32, as libpng's
// expansions followed by Qt's premultiplication give it. False for a palette index beyond the
// palette.
bool convertRow(const PngParts& parts, const uchar* in, uint32_t* out) {
  const int w = parts.width;
  switch (parts.colorType) {
    case 0:
      for (int x = 0; x < w; ++x)
        out[x] = 0xff000000u | uint32_t(in[x]) * 0x010101u;
      return true;
    case 2:
      for (int x = 0; x < w; ++x, in += 3)
        out[x] = 0xff000000u | uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
      return true;
    case 3:
      for (int x = 0; x < w; ++x) {
        if (in[x] >= parts.paletteSize)
          return false;
        out[x] = premultipliedPixel(parts.palette[in[x]]);
      }
      return true;
    case 4:
      for (int x = 0; x < w; ++x, in += 2)
        out[x] = premultipliedPixel(uint32_t(in[1]) << 24 | uint32_t(in[0]) * 0x010101u);
      return true;
    default: {
      int x = 0;
#if defined(__SSE2__)
      // Four opaque pixels at a time only need red and blue swapped; a group with any other
      // alpha goes pixel by pixel.
      const __m128i alpha = _mm_set1_epi32(int(0xff000000u));
      const __m128i greenAlpha = _mm_set1_epi32(int(0xff00ff00u));
      const __m128i low = _mm_set1_epi32(0xff), third = _mm_set1_epi32(0xff0000);
      for (; x + 4 <= w; x += 4, in += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(v, alpha), alpha)) != 0xffff) {
          for (int k = 0; k < 4; ++k)
            out[x + k] = straightRgbaToPremultiplied(in + 4 * k);
          continue;
        }
        const __m128i swapped = _mm_or_si128(_mm_and_si128(v, greenAlpha),
                                             _mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), low),
                                                          _mm_and_si128(_mm_slli_epi32(v, 16), third)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), swapped);
      }
#endif
      for (; x < w; ++x, in += 4)
        out[x] = straightRgbaToPremultiplied(in);
      return true;
    }
  }
}

enum class WholeResult { Decoded, NotTaken, OutOfMemory };

// Makes the pages of a large fresh buffer present, from its end toward its middle, on a thread of
// its own, while the buffer is written from its start; the contents are never touched (the
// system's "populate for writing", which leaves a present page as it is). Stops when the object
// goes. Without that call (an older system) or without a thread, nothing happens.
class TPagesFromTheEnd {
public:
  TPagesFromTheEnd(uchar* start, size_t size) {
#if defined(Q_OS_LINUX)
    constexpr size_t kChunk = size_t(2) << 20;
    if (size < 8 * kChunk)
      return;
    try {
      FThread = std::thread([this, start, size] {
        constexpr int kPopulateWrite = 23;  // MADV_POPULATE_WRITE
        const uintptr_t begin = (reinterpret_cast<uintptr_t>(start) + size / 2 + kChunk - 1) & ~(kChunk - 1);
        uintptr_t end = (reinterpret_cast<uintptr_t>(start) + size) & ~(kChunk - 1);
        while (end > begin && !FStop.load(std::memory_order_relaxed)) {
          end -= kChunk;
          if (madvise(reinterpret_cast<void*>(end), kChunk, kPopulateWrite) != 0)
            return;
        }
      });
    } catch (...) {
    }
#else
    (void)start;
    (void)size;
#endif
  }
  ~TPagesFromTheEnd() {
    FStop = true;
    if (FThread.joinable())
      FThread.join();
  }
  TPagesFromTheEnd(const TPagesFromTheEnd&) = delete;
  TPagesFromTheEnd& operator=(const TPagesFromTheEnd&) = delete;

private:
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

WholeResult decodeWhole(const QString& fileName, qint64 offset, int maxSide, QImage& result) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly) || offset < 0 || offset >= file.size())
    return WholeResult::NotTaken;
  // The header first: a picture the path does not take is not read twice. A file larger than
  // half the work memory budget (the file and its image data are held at once) is streamed by
  // libpng instead.
  const qint64 size = file.size() - offset;
  if (size > qint64(DecodeWorkMemoryLimit / 2) || !file.seek(offset))
    return WholeResult::NotTaken;
  PngParts header;
  const QByteArray start = file.read(33);
  if (!readHeader(reinterpret_cast<const uchar*>(start.constData()), start.size(), maxSide, header))
    return WholeResult::NotTaken;
  // The file and its image data are held at once.
  const TDecodeReservation reservation(size_t(size) * 2);
  if (!reservation.ok() || !file.seek(offset))
    return WholeResult::NotTaken;
  // Read, not mapped: a file cut short while it is read must fail, not stop the program.
  const QByteArray bytes = file.readAll();
  file.close();
  PngParts parts;
  if (!readParts(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size(), maxSide, parts))
    return WholeResult::NotTaken;

  const int channels = parts.colorType == 0 || parts.colorType == 3 ? 1 : parts.colorType == 4 ? 2 : parts.colorType == 2 ? 3 : 4;
  const size_t rowBytes = size_t(parts.width) * size_t(channels);
  const size_t filtered = (rowBytes + 1) * size_t(parts.height);
  // The filtered rows are inflated into the end of the result's memory, and each row, once
  // unfiltered into a work row, is written to its place, which never reaches a row not yet read
  // (a row of the result is never longer than a filtered row of four channels, and the rows
  // of fewer channels start far enough back).
  result = allocatePicture(parts.width, parts.height, filtered);
  if (result.isNull())
    return WholeResult::OutOfMemory;
  uchar* bits = result.bits();
  uchar* tail = bits + std::max(size_t(result.sizeInBytes()), filtered) - filtered;

  libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
  if (!inflater)
    return WholeResult::OutOfMemory;
  size_t inflated = 0;
  libdeflate_result r;
  {
    // The system clears each new page of the picture the first time it is written; that work is
    // shared with another core, which takes the pages from the far end while the inflation
    // writes from the start.
    const TPagesFromTheEnd pages(tail, filtered);
    r = libdeflate_zlib_decompress(inflater, parts.idat.data(), parts.idat.size(), tail, filtered, &inflated);
  }
  libdeflate_free_decompressor(inflater);
  parts.idat = {};
  if (r != LIBDEFLATE_SUCCESS || inflated != filtered)
    return WholeResult::NotTaken;

  // Only a palette index beyond the palette can fail from here on, besides the filter types,
  // which are checked first: a picture of any other colour type is complete in all but the work,
  // which may then go on while the picture is already being used (PictureRows.h).
  for (int y = 0; y < parts.height; ++y)
    if (tail[(rowBytes + 1) * size_t(y)] > 4)
      return WholeResult::NotTaken;
  const qsizetype stride = result.bytesPerLine();
  // Unfilters and converts the rows, publishing them as they are done (every 16 or 17 rows);
  // false for a palette index beyond the palette.
  // Everything it needs is allocated here, where running out of memory is reported: the
  // unfiltering itself, on a thread of its own, cannot fail.
  struct Work {
    PngParts parts;
    std::vector<uchar> prev, cur, next;
  };
  auto work = std::make_shared<Work>(
      Work{std::move(parts), std::vector<uchar>(rowBytes, 0), std::vector<uchar>(rowBytes), std::vector<uchar>(rowBytes)});
  auto unfilter = [work, tail, bits, stride, rowBytes, channels](TPictureRows* rows) {
    const PngParts* parts = &work->parts;
    std::vector<uchar>& prev = work->prev;
    std::vector<uchar>& cur = work->cur;
    std::vector<uchar>& next = work->next;
    const auto filteredRow = [&](int y) { return tail + (rowBytes + 1) * size_t(y); };
    int published = 0;
    for (int y = 0; y < parts->height;) {
      const uchar* row = filteredRow(y);
      std::memcpy(cur.data(), row + 1, rowBytes);
      // Two Paeth rows in a row of four-channel pixels are undone together (the common case of
      // photographs and rendered pictures); any other row alone.
      const bool pair = channels == 4 && row[0] == 4 && y + 1 < parts->height && filteredRow(y + 1)[0] == 4;
      if (pair) {
        std::memcpy(next.data(), filteredRow(y + 1) + 1, rowBytes);
        pngUnfilterPaethPair(cur.data(), next.data(), prev.data(), rowBytes);
      } else {
        pngUnfilterRow(row[0], cur.data(), prev.data(), rowBytes, unsigned(channels));
      }
      if (!convertRow(*parts, cur.data(), reinterpret_cast<uint32_t*>(bits + stride * y)))
        return false;
      ++y;
      if (pair) {
        if (!convertRow(*parts, next.data(), reinterpret_cast<uint32_t*>(bits + stride * y)))
          return false;
        ++y;
        std::swap(prev, next);
      } else {
        std::swap(prev, cur);
      }
      if (rows && y - published >= 16)
        rows->Publish(published = y);
    }
    return true;
  };
  if (work->parts.colorType != 3 && earlyPicturesAllowed()) {
    finishPictureRowsInBackground(result, [unfilter](TPictureRows& rows) { unfilter(&rows); });
    return WholeResult::Decoded;
  }
  return unfilter(nullptr) ? WholeResult::Decoded : WholeResult::NotTaken;
}

// One reading of the open file by libpng, from the start of the PNG; false on any error.
bool readPngFile(FILE* file, qint64 offset, PngState& s, int maxSide) {
  if (std::fseek(file, long(offset), SEEK_SET) != 0)
    return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
  if (!png)
    return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  volatile bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    try {
      ok = readPng(png, info, file, s, maxSide);
    } catch (const std::exception&) {  // memory for the rows or the result
      s.reason = outOfMemoryReason();
      ok = false;
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return ok;
}

}  // namespace

bool setPngWholeBufferPath(bool allowed) { return g_wholeBufferAllowed.exchange(allowed); }

int pngWholeBufferDecodes() { return g_wholeBufferDecodes.load(); }

size_t setPngBandBytes(size_t bytes) { return g_bandBytes.exchange(bytes); }

QImage decodePngFile(const QString& fileName, int maxSide, QString* reason, qint64 offset) {
  if (g_wholeBufferAllowed.load(std::memory_order_relaxed)) {
    try {
      QImage image;
      switch (decodeWhole(fileName, offset, maxSide, image)) {
        case WholeResult::Decoded:
          ++g_wholeBufferDecodes;
          return image;
        case WholeResult::OutOfMemory:
          if (reason)
            *reason = outOfMemoryReason();
          return {};
        case WholeResult::NotTaken:
          break;
      }
    } catch (const std::bad_alloc&) {
      if (reason)
        *reason = outOfMemoryReason();
      return {};
    }
  }
  TPictureFile file(fileName);
  if (!file.get())
    return {};
  const auto state = std::make_unique<PngState>();
  bool ok = readPngFile(file.get(), offset, *state, maxSide);
  // An interlaced picture read in bands: the same open file once more for each band.
  while (ok && state->bandStart > 0 && state->bandStart < state->height)
    ok = readPngFile(file.get(), offset, *state, maxSide);
  return decodedPicture(ok, state->reason, reason, state->reducer.get(), state->image);
}
