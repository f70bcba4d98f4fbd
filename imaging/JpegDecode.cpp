#include "imaging/JpegDecode.h"

#include "imaging/PictureFile.h"
#include "imaging/PictureReduce.h"

#include <QColor>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  bool outOfMemory = false;
};

[[noreturn]] void jpegErrorExit(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<JpegError*>(cinfo->err);
  if (cinfo->err->msg_code == JERR_OUT_OF_MEMORY)
    error->outOfMemory = true;
  std::longjmp(error->jump, 1);
}

// Warnings are ignored as Qt ignores them, except data that ends before the picture does: the
// library would go on and fill the rest with grey.
void jpegMessage(j_common_ptr cinfo, int level) {
  if (level < 0) {
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)
      std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
  }
}

// Everything the reading keeps, made before the library may jump out of it.
struct JpegState {
  QImage image;
  std::unique_ptr<TRowReducer> reducer;
  std::vector<uchar> row;        // one scanline as the library gives it
  std::vector<uint32_t> pixels;  // that scanline in ARGB32 when it goes to the reducer
  std::optional<TDecodeReservation> reservation;  // the coefficients of a multi-scan picture
  QString reason;                                  // why it failed, beyond a bad file
};

// The library's small allocations (tables, a few rows), beyond the coefficients it may hold.
constexpr size_t kJpegSmallMemory = size_t(32) << 20;

// The bytes of the coefficients of the whole picture, which a progressive or multi-scan picture
// needs held: 64 coefficients of 2 bytes per block of each component.
double wholeCoefficientBytes(const jpeg_decompress_struct& cinfo) {
  double bytes = 0;
  for (int c = 0; c < cinfo.num_components; ++c) {
    const jpeg_component_info& comp = cinfo.comp_info[c];
    const double w = std::ceil(double(comp.width_in_blocks) / comp.h_samp_factor) * comp.h_samp_factor;
    const double h = std::ceil(double(comp.height_in_blocks) / comp.v_samp_factor) * comp.v_samp_factor;
    bytes += w * h * 64 * 2;
  }
  return bytes;
}

// A scanline (BGRA, grey or inverted CMYK) in ARGB32; every pixel is opaque, so also premultiplied.
void toArgb(const jpeg_decompress_struct& cinfo, const uchar* in, uint32_t* out) {
  const int w = int(cinfo.output_width);
  if (cinfo.out_color_space == JCS_GRAYSCALE) {
    for (int i = 0; i < w; ++i)
      out[i] = qRgb(in[i], in[i], in[i]);
  } else if (cinfo.out_color_space == JCS_CMYK) {
    for (int i = 0; i < w; ++i, in += 4) {
      const int k = in[3];
      out[i] = qRgb(k * in[0] / 255, k * in[1] / 255, k * in[2] / 255);
    }
  } else {
    std::memcpy(out, in, size_t(w) * 4);
  }
}

bool readJpeg(jpeg_decompress_struct& cinfo, FILE* file, JpegState& s, int maxSide) {
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  if (qint64(cinfo.image_width) * qint64(cinfo.image_height) > MaxPicturePixels) {
    s.reason = tooManyPixelsReason(cinfo.image_width, cinfo.image_height);
    return false;
  }
  // The first scan is read: a picture in several scans needs all its coefficients held.
  const bool multiScan = cinfo.progressive_mode || cinfo.comps_in_scan < cinfo.num_components;
  const double held = multiScan ? wholeCoefficientBytes(cinfo) : 0;
  if (held > double(DecodeWorkMemoryLimit)) {
    s.reason = overDecodeBudgetReason(held);
    return false;
  }
  if (held > 0)
    s.reservation.emplace(size_t(held));
  cinfo.mem->max_memory_to_use = long(size_t(held) + kJpegSmallMemory);
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo.out_color_space = JCS_CMYK;
      break;
    default:
      cinfo.out_color_space = JCS_EXT_BGRA;
      break;
  }
  jpeg_calc_output_dimensions(&cinfo);
  const int w = int(cinfo.output_width), h = int(cinfo.output_height);
  if (w <= 0 || h <= 0)
    return false;
  const bool reduce = w > maxSide || h > maxSide;
  // The result is allocated before the library takes its own memory.
  if (reduce) {
    s.reducer = std::make_unique<TRowReducer>(QSize(w, h), fittedSize(QSize(w, h), maxSide));
    if (s.reducer->result().isNull()) {
      s.reason = outOfMemoryReason();
      return false;
    }
    s.pixels.resize(size_t(w));
  } else {
    s.image = allocatePicture(w, h);
    if (s.image.isNull()) {
      s.reason = outOfMemoryReason();
      return false;
    }
  }
  jpeg_start_decompress(&cinfo);
  const size_t components = size_t(cinfo.output_components);
  s.row.resize(size_t(w) * components);
  JSAMPROW rows[1] = {s.row.data()};
  // BGRA scanlines of a picture that is kept whole go straight into it.
  const bool direct = !reduce && cinfo.out_color_space == JCS_EXT_BGRA;
  while (int(cinfo.output_scanline) < h) {
    const int y = int(cinfo.output_scanline);
    if (direct)
      rows[0] = s.image.scanLine(y);
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1)
      return false;
    if (reduce) {
      const bool needed = s.reducer->rowNeeded(y);
      if (needed)
        toArgb(cinfo, s.row.data(), s.pixels.data());
      s.reducer->addRow(needed ? s.pixels.data() : nullptr);
    } else if (!direct) {
      toArgb(cinfo, s.row.data(), reinterpret_cast<uint32_t*>(s.image.scanLine(y)));
    }
  }
  return true;
}

}  // namespace

QImage decodeJpegFile(const QString& fileName, int maxSide, QString* reason) {
  TPictureFile file(fileName);
  if (!file.get())
    return {};
  const auto state = std::make_unique<JpegState>();
  const auto error = std::make_unique<JpegError>();
  const auto cinfo = std::make_unique<jpeg_decompress_struct>();
  cinfo->err = jpeg_std_error(&error->mgr);
  error->mgr.error_exit = jpegErrorExit;
  error->mgr.emit_message = jpegMessage;
  volatile bool ok = false;
  if (setjmp(error->jump) == 0) {
    jpeg_create_decompress(cinfo.get());
    try {
      ok = readJpeg(*cinfo, file.get(), *state, maxSide);
    } catch (const std::exception&) {  // memory for the rows or the result
      state->reason = outOfMemoryReason();
      ok = false;
    }
  }
  // The pixels are all read; what follows them (up to the end marker) is not needed.
  jpeg_destroy_decompress(cinfo.get());
  return decodedPicture(ok, error->outOfMemory ? outOfMemoryReason() : state->reason, reason, state->reducer.get(),
                        state->image);
}
