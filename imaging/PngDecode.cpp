#include "imaging/PngDecode.h"

#include "imaging/PictureFile.h"
#include "imaging/PictureReduce.h"

#include <QRgb>

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Everything the reading keeps lives here, made before libpng may jump out of the reading, so
// that a jump skips no destructor.
struct PngState {
  QImage image;  // the result when no reduction is needed
  std::unique_ptr<TRowReducer> reducer;
  std::vector<uchar> row;   // one row as libpng gives it
  std::vector<uchar> full;  // the whole picture, for interlaced pictures that are not read into image
  int width = 0, height = 0;
  bool wide = false;  // 16 bits per channel, RGBA64
  std::optional<TDecodeReservation> reservation;  // for `full`
  QString reason;                                  // why it failed, beyond a bad file
};

[[noreturn]] void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

// One row as libpng gives it (BGRA straight, or RGBA64) in premultiplied ARGB32.
QImage premultipliedRow(const PngState& s, const uchar* row) {
  return QImage(row, s.width, 1, s.wide ? QImage::Format_RGBA64 : QImage::Format_ARGB32)
      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Straight ARGB32 to premultiplied in place, with Qt's rounding (qPremultiply).
void premultiplyRow(QRgb* row, int width) {
  for (int x = 0; x < width; ++x) {
    const QRgb p = row[x];
    const uint a = qAlpha(p);
    if (a != 255)
      row[x] = a ? qPremultiply(p) : 0;
  }
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

// The reading itself; libpng leaves it by a jump on any error. Only plain values live in this frame.
bool readPng(png_structp png, png_infop info, FILE* file, PngState& s, int maxSide) {
  png_init_io(png, file);
  // Only IHDR, PLTE, tRNS, IDAT and IEND are read; every other chunk is skipped without being stored.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(png, info);

  png_uint_32 w = 0, h = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
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

  if (colorType == PNG_COLOR_TYPE_PALETTE)
    png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8)
    png_set_expand_gray_1_2_4_to_8(png);
  if (useTrns)
    png_set_tRNS_to_alpha(png);
  if (!(colorType & PNG_COLOR_MASK_COLOR))
    png_set_gray_to_rgb(png);
  if (depth == 16 && !s.wide)
    png_set_scale_16(png);
  if (!s.wide)
    png_set_bgr(png);
  if (!alpha)
    png_set_filler(png, s.wide ? 0xffff : 0xff, PNG_FILLER_AFTER);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
  if (s.wide)
    png_set_swap(png);
#endif
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes != size_t(s.width) * (s.wide ? 8 : 4))
    return false;

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
  const bool direct = !reduce && !s.wide;  // libpng writes straight into the result

  if (passes > 1) {
    // Interlaced rows come in several passes: the whole picture is held before it is used.
    if (direct) {
      for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < s.height; ++y)
          png_read_row(png, s.image.scanLine(y), nullptr);
      if (alpha)
        for (int y = 0; y < s.height; ++y)
          premultiplyRow(reinterpret_cast<QRgb*>(s.image.scanLine(y)), s.width);
    } else {
      const double bytes = double(rowBytes) * s.height;
      if (bytes > double(DecodeWorkMemoryLimit)) {
        s.reason = overDecodeBudgetReason(bytes);
        return false;
      }
      s.reservation.emplace(size_t(bytes));
      s.full.resize(rowBytes * size_t(s.height));
      for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < s.height; ++y)
          png_read_row(png, s.full.data() + rowBytes * size_t(y), nullptr);
      for (int y = 0; y < s.height; ++y)
        deliverRow(s, y, s.full.data() + rowBytes * size_t(y));
      s.full = {};
    }
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
  png_read_end(png, nullptr);
  return true;
}

}  // namespace

QImage decodePngFile(const QString& fileName, int maxSide, QString* reason, qint64 offset) {
  TPictureFile file(fileName);
  if (!file.get() || (offset > 0 && std::fseek(file.get(), long(offset), SEEK_SET) != 0))
    return {};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
  if (!png)
    return {};
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return {};
  }
  const auto state = std::make_unique<PngState>();
  volatile bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    try {
      ok = readPng(png, info, file.get(), *state, maxSide);
    } catch (const std::exception&) {  // memory for the rows or the result
      state->reason = outOfMemoryReason();
      ok = false;
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) {
    if (reason)
      *reason = state->reason;
    return {};
  }
  if (state->reducer)
    return state->reducer->done() ? state->reducer->result() : QImage();
  return state->image;
}
