#include "imaging/Resample.h"

#include "imaging/PictureRows.h"
#include "platform/Parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VELLUMARK_BILINEAR_SSE41 1
#endif

namespace {

constexpr int kFracBits = 12;
constexpr uint32_t kOne = 1u << kFracBits;

using Tap = BilinearRows::Tap;

// The four 8-bit channels of a pixel (0xAARRGGBB) in two 64-bit words with two 32-bit lanes
// each: blue and red, green and alpha. A channel times a 12-bit weight, summed twice and then
// weighted again, stays below 2^32, so the lanes never carry into each other and every channel
// gets exactly the arithmetic it would get on its own, two channels per multiplication.
inline uint64_t blueRed(uint32_t p) { return (p & 0xffu) | (uint64_t(p & 0xff0000u) << 16); }
inline uint64_t greenAlpha(uint32_t p) { return ((p >> 8) & 0xffu) | (uint64_t(p >> 24) << 32); }

#ifdef VELLUMARK_BILINEAR_SSE41
// The same arithmetic four channels at a time, with SSE4.1. A horizontal sum a * (4096 - w) + b * w
// is at most 255 * 4096 and fits a 16-bit multiply-add into 32 bits; the vertical sum of two such
// sums weighted again, plus the rounding half, stays below 2^32 (255 * 4096 * 4096 + 2^23), so
// 32-bit lanes hold it exactly and the results are bit for bit those of the 64-bit lanes above.
// Per output pixel the horizontal pass keeps four 32-bit channels (blue, green, red, alpha) in the
// 16 bytes the scalar pass keeps its two lane words in.
__attribute__((target("sse4.1"))) void horizontalSse41(const uint32_t* row, const std::vector<Tap>& xt,
                                                       uint64_t* out) {
  const size_t n = xt.size();
  const __m128i zero = _mm_setzero_si128();
  auto* o = reinterpret_cast<__m128i*>(out);
  for (size_t i = 0; i < n; ++i) {
    const __m128i a = _mm_cvtsi32_si128(int(row[xt[i].i0]));
    const __m128i b = _mm_cvtsi32_si128(int(row[xt[i].i1]));
    // 16-bit a0 b0 a1 b1 a2 b2 a3 b3, times the pairs (4096 - w, w).
    const __m128i ab = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
    const int wb = int(xt[i].w);
    _mm_storeu_si128(o + i, _mm_madd_epi16(ab, _mm_set1_epi32(wb << 16 | (int(kOne) - wb))));
  }
}

// Output pixels 0 to n - 1 from pixel(i), four 32-bit channels each, saturated to bytes.
template <class Pixel>
__attribute__((target("sse4.1"))) inline void storePixels(size_t n, uint32_t* out, const Pixel& pixel) {
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i lo = _mm_packus_epi32(pixel(i), pixel(i + 1));
    const __m128i hi = _mm_packus_epi32(pixel(i + 2), pixel(i + 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
  }
  for (; i < n; ++i) {
    const __m128i p = _mm_packus_epi32(pixel(i), _mm_setzero_si128());
    out[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(p, p)));
  }
}

__attribute__((target("sse4.1"))) void verticalSse41(const uint64_t* top, const uint64_t* bottom, uint32_t w,
                                                     size_t width, uint32_t* out) {
  const __m128i wb = _mm_set1_epi32(int(w)), wa = _mm_set1_epi32(int(kOne - w));
  const __m128i half = _mm_set1_epi32(1 << (2 * kFracBits - 1));
  const auto* a = reinterpret_cast<const __m128i*>(top);
  const auto* b = reinterpret_cast<const __m128i*>(bottom);
  const auto pixel = [a, b, wa, wb, half](size_t i) __attribute__((target("sse4.1"))) {
    const __m128i sum = _mm_add_epi32(
        _mm_add_epi32(_mm_mullo_epi32(_mm_loadu_si128(a + i), wa), _mm_mullo_epi32(_mm_loadu_si128(b + i), wb)), half);
    return _mm_srli_epi32(sum, 2 * kFracBits);
  };
  storePixels(width, out, pixel);
}

// Both passes at once, vertically first, for reductions where a source row's horizontal pass is
// never used twice: per output pixel the four source pixels are read, each column's pair blended
// with the row weight (a channel times 4096 at most, as the horizontal sums), then the two columns
// with the column weight, rounded once. The sums are exact integers either way round, so the
// pixels are those of the horizontal pass followed by the vertical blend.
__attribute__((target("sse4.1"))) void directSse41(const uint32_t* top, const uint32_t* bottom, uint32_t w,
                                                   const std::vector<Tap>& xt, uint32_t* out) {
  const size_t n = xt.size();
  const __m128i zero = _mm_setzero_si128();
  const __m128i rowWeights = _mm_set1_epi32(int(w << 16 | (kOne - w)));
  const __m128i half = _mm_set1_epi32(1 << (2 * kFracBits - 1));
  const auto pixel = [&](size_t i) __attribute__((target("sse4.1"))) {
    const Tap& t = xt[i];
    const __m128i left = _mm_unpacklo_epi8(
        _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(top[t.i0])), _mm_cvtsi32_si128(int(bottom[t.i0]))), zero);
    const __m128i right = _mm_unpacklo_epi8(
        _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(top[t.i1])), _mm_cvtsi32_si128(int(bottom[t.i1]))), zero);
    const __m128i sum = _mm_add_epi32(
        _mm_add_epi32(_mm_mullo_epi32(_mm_madd_epi16(left, rowWeights), _mm_set1_epi32(int(kOne - t.w))),
                      _mm_mullo_epi32(_mm_madd_epi16(right, rowWeights), _mm_set1_epi32(int(t.w)))),
        half);
    return _mm_srli_epi32(sum, 2 * kFracBits);
  };
  storePixels(n, out, pixel);
}

std::atomic<bool> g_vectorAllowed{true};

bool useSse41() {
  static const bool supported = __builtin_cpu_supports("sse4.1");
  return supported && g_vectorAllowed.load(std::memory_order_relaxed);
}
#endif

}  // namespace

std::vector<Tap> BilinearRows::taps(double start, double extent, int count, int sourceSize) {
  std::vector<Tap> taps(static_cast<size_t>(count));
  const double step = extent / count;
  for (int i = 0; i < count; ++i) {
    const double u = start + (i + 0.5) * step - 0.5;
    const double f = std::floor(u);
    double frac = u - f;
    // Indices far outside the picture clamp anyway; keep the conversion in range.
    const double fc = std::clamp(f, -2.0, double(sourceSize) + 1.0);
    int i0 = static_cast<int>(fc);
    int i1 = i0 + 1;
    uint32_t w = static_cast<uint32_t>(std::lround(frac * kOne));
    if (w == kOne) {  // frac rounded up to a whole pixel
      w = 0;
      i0 = i1;
      i1 = i0 + 1;
    }
    taps[size_t(i)] = {std::clamp(i0, 0, sourceSize - 1), std::clamp(i1, 0, sourceSize - 1), w};
  }
  return taps;
}

// Horizontal pass of one source row: per output pixel the two lane words, scaled by 4096.
void BilinearRows::horizontal(const uint32_t* row, const std::vector<Tap>& xt, uint64_t* out) {
  const size_t n = xt.size();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t a = row[xt[i].i0];
    const uint32_t b = row[xt[i].i1];
    const uint64_t wb = xt[i].w, wa = kOne - wb;
    out[2 * i] = blueRed(a) * wa + blueRed(b) * wb;
    out[2 * i + 1] = greenAlpha(a) * wa + greenAlpha(b) * wb;
  }
}

// Vertical blend of the passes of two source rows, rounded, into premultiplied ARGB32 pixels.
void BilinearRows::vertical(const uint64_t* a, const uint64_t* b, uint32_t w, size_t width, uint32_t* out) {
  const uint64_t wb = w, wa = kOne - wb;
  constexpr uint64_t half = uint64_t(1) << (2 * kFracBits - 1);
  constexpr uint64_t halves = half | (half << 32);
  constexpr int shift = 2 * kFracBits;
  for (size_t i = 0; i < width; ++i) {
    const uint64_t br = a[2 * i] * wa + b[2 * i] * wb + halves;
    const uint64_t ga = a[2 * i + 1] * wa + b[2 * i + 1] * wb + halves;
    out[i] = uint32_t((br >> shift) & 0xff) | uint32_t(((ga >> shift) & 0xff) << 8) |
             uint32_t(((br >> (32 + shift)) & 0xff) << 16) | uint32_t((ga >> (32 + shift)) << 24);
  }
}

bool setBilinearVectorPath(bool allowed) {
#ifdef VELLUMARK_BILINEAR_SSE41
  const bool before = g_vectorAllowed.exchange(allowed);
  return before;
#else
  (void)allowed;
  return false;
#endif
}

BilinearRows::BilinearRows(const QImage& source, const TRectF& sourceRect, int targetWidth, int targetHeight)
    : FSource(source),
      FXTaps(taps(sourceRect.Left, double(sourceRect.Right) - double(sourceRect.Left), targetWidth,
                      source.width())),
      FYTaps(taps(sourceRect.Top, double(sourceRect.Bottom) - double(sourceRect.Top), targetHeight,
                      source.height())) {
  Q_ASSERT(source.format() == QImage::Format_ARGB32_Premultiplied);
#ifdef VELLUMARK_BILINEAR_SSE41
  FVector = useSse41();
  // From a reduction by two on, consecutive output rows share no source row.
  FDirect = FVector && std::fabs(double(sourceRect.Bottom) - double(sourceRect.Top)) >= 2.0 * targetHeight;
#endif
  // The kept horizontal passes, which the direct blend does without.
  if (!FDirect) {
    FTop.resize(size_t(targetWidth) * 2);
    FBottom.resize(size_t(targetWidth) * 2);
  }
}

void BilinearRows::horizontalPass(const uint32_t* row, uint64_t* out) const {
#ifdef VELLUMARK_BILINEAR_SSE41
  if (FVector)
    return horizontalSse41(row, FXTaps, out);
#endif
  horizontal(row, FXTaps, out);
}

void BilinearRows::render(int j, uint32_t* out) {
  const Tap& t = FYTaps[size_t(j)];
  auto row = [&](int y) { return reinterpret_cast<const uint32_t*>(FSource.constScanLine(y)); };
#ifdef VELLUMARK_BILINEAR_SSE41
  if (FDirect)
    return directSse41(row(t.i0), row(t.i1), t.w, FXTaps, out);
#endif
  // Reuse horizontal passes of rows already done (enlargements reuse them constantly).
  if (t.i0 != FTopRow) {
    if (t.i0 == FBottomRow) {
      std::swap(FTop, FBottom);
      std::swap(FTopRow, FBottomRow);
    } else {
      horizontalPass(row(t.i0), FTop.data());
      FTopRow = t.i0;
    }
  }
  if (t.i1 != FBottomRow) {
    if (t.i1 == FTopRow)
      FBottom = FTop;
    else
      horizontalPass(row(t.i1), FBottom.data());
    FBottomRow = t.i1;
  }
#ifdef VELLUMARK_BILINEAR_SSE41
  if (FVector)
    return verticalSse41(FTop.data(), FBottom.data(), t.w, FXTaps.size(), out);
#endif
  vertical(FTop.data(), FBottom.data(), t.w, FXTaps.size(), out);
}

void drawBilinear(const QImage& source, const TRectF& sourceRect, QImage& target) {
  if (source.isNull() || target.isNull())
    return;
  waitForPicture(source);
  Q_ASSERT(target.format() == QImage::Format_ARGB32_Premultiplied);
  const int W = target.width(), H = target.height();
  // Detach once here: the threads write through raw pointers into disjoint rows.
  uchar* bits = target.bits();
  const qsizetype stride = target.bytesPerLine();
  const int parts = (int64_t(W) * H < 65536) ? 1 : std::min(workerThreadCount(), H);
  runParallel(parts, parts, [&](int p) {
    BilinearRows rows(source, sourceRect, W, H);
    for (int j = H * p / parts; j < H * (p + 1) / parts; ++j)
      rows.render(j, reinterpret_cast<uint32_t*>(bits + stride * j));
  });
}
