#include "imaging/SmoothResample.h"

#include "imaging/PictureRows.h"
#include "platform/Parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VELLUMARK_AREA_SSE41 1
#endif

namespace {

// The taps of one axis: output i takes the source indices first[i] .. first[i] + count(i) - 1
// with the weights weights[offset[i] ..], which sum to exactly `scale`.
struct AxisTaps {
  std::vector<int> first;
  std::vector<size_t> offset;  // size N + 1
  std::vector<uint32_t> weights;
  int lowest = 0;   // smallest source index used
  int highest = 0;  // largest source index used
  // The same taps with one count for all outputs (padCount, the largest), for the vector pass that
  // takes two outputs at a time: output i reads padFirst[i] .. padFirst[i] + padCount - 1, which
  // stays within lowest .. highest, with the weights padWeights[(i / 2) * 2 * padCount + 2 t + i % 2]
  // (zero where the output does not read that index, so the sums are the same).
  int padCount = 0;
  std::vector<int> padFirst;
  std::vector<uint32_t> padWeights;
};

// Fills the padded form of the taps (padCount, padFirst, padWeights).
void padTaps(AxisTaps& taps) {
  const size_t count = taps.first.size();
  taps.padCount = 0;
  for (size_t i = 0; i < count; ++i)
    taps.padCount = std::max(taps.padCount, int(taps.offset[i + 1] - taps.offset[i]));
  const int k = taps.padCount;
  taps.padFirst.resize(count);
  taps.padWeights.assign((count + 1) / 2 * 2 * size_t(k), 0u);
  for (size_t i = 0; i < count; ++i) {
    // Every output reads at most k indices within lowest .. highest, so there are at least k.
    const int first = std::min(taps.first[i], taps.highest - k + 1);
    taps.padFirst[i] = first;
    uint32_t* w = taps.padWeights.data() + i / 2 * 2 * size_t(k) + i % 2;
    for (size_t t = taps.offset[i]; t < taps.offset[i + 1]; ++t)
      w[2 * (size_t(taps.first[i]) + (t - taps.offset[i]) - size_t(first))] = taps.weights[t];
  }
}

AxisTaps makeAreaTaps(double start, double end, int count, int sourceSize, uint32_t scale) {
  AxisTaps taps;
  taps.first.resize(size_t(count));
  taps.offset.resize(size_t(count) + 1);
  taps.lowest = sourceSize - 1;
  taps.highest = 0;
  const double step = (end - start) / count;
  std::vector<double> cover;
  for (int i = 0; i < count; ++i) {
    double a = start + i * step;
    double b = start + (i + 1) * step;
    if (a > b)
      std::swap(a, b);
    if (b - a < 1.0) {  // an enlargement: one pixel around the centre, that is linear interpolation
      const double c = (a + b) / 2;
      a = c - 0.5;
      b = c + 0.5;
    }
    const double length = b - a;
    // Covered length per source index, the parts beyond the picture given to the edge pixels.
    const int lo = int(std::clamp(std::floor(a), 0.0, double(sourceSize - 1)));
    const int hi = int(std::clamp(std::ceil(b) - 1, 0.0, double(sourceSize - 1)));
    cover.assign(size_t(hi - lo + 1), 0.0);
    for (int k = lo; k <= hi; ++k)
      cover[size_t(k - lo)] = std::max(0.0, std::min(b, double(k + 1)) - std::max(a, double(k)));
    cover.front() += std::max(0.0, std::min(b, 0.0) - a);
    cover.back() += std::max(0.0, b - std::max(a, double(sourceSize)));

    // Fixed-point weights from the cumulative coverage: they sum to exactly `scale` and each is
    // within one unit of its exact value.
    taps.first[size_t(i)] = lo;
    taps.offset[size_t(i)] = taps.weights.size();
    double cumulative = 0;
    int64_t previous = 0;
    for (double c : cover) {
      cumulative += c;
      const int64_t upTo = std::min<int64_t>(scale, std::llround(cumulative / length * scale));
      taps.weights.push_back(uint32_t(std::max<int64_t>(0, upTo - previous)));
      previous = std::max(previous, upTo);
    }
    taps.weights.back() += uint32_t(int64_t(scale) - previous);
    taps.lowest = std::min(taps.lowest, lo);
    taps.highest = std::max(taps.highest, hi);
  }
  taps.offset[size_t(count)] = taps.weights.size();
  return taps;
}

constexpr uint32_t kVerticalScale = 1u << 15;    // fits 16 bits: widening 16 x 16 multiplications
constexpr uint32_t kHorizontalScale = 1u << 16;
constexpr int kTotalShift = 31;                  // 15 + 16

// Scratch rows of the two passes, kept from one call to the next.
struct RowScratch {
  std::vector<uint32_t> column;
  std::vector<uint64_t> lanes;
};

#ifdef VELLUMARK_AREA_SSE41
std::atomic<bool> g_areaVectorAllowed{true};

bool useAreaSse41() {
  static const bool supported = __builtin_cpu_supports("sse4.1");
  return supported && g_areaVectorAllowed.load(std::memory_order_relaxed);
}

// The horizontal pass of one row on the vertical sums (below 255 * 2^15 per channel), with the
// arithmetic of the plain pass below, one channel per 32-bit lane: each sum rounded to 1/256 of
// a unit (below 2^16), times weights totalling 2^16, plus a half, stays below 2^32.
__attribute__((target("sse4.1"))) void horizontalAreaSse41(uint32_t* column, size_t pixels, const AxisTaps& xt,
                                                          int x0, uint32_t* out) {
  const __m128i round = _mm_set1_epi32(64);
  for (size_t p = 0; p < pixels; ++p) {
    __m128i* c = reinterpret_cast<__m128i*>(column + 4 * p);
    _mm_storeu_si128(c, _mm_srli_epi32(_mm_add_epi32(_mm_loadu_si128(c), round), 7));
  }
  const __m128i half = _mm_set1_epi32(1 << 23);
  const int width = int(xt.first.size());
  for (int i = 0; i < width; ++i) {
    __m128i sum = half;
    const size_t tb = xt.offset[size_t(i)], te = xt.offset[size_t(i) + 1];
    const uint32_t* l = column + size_t(xt.first[size_t(i)] - x0) * 4;
    for (size_t t = tb; t < te; ++t, l += 4)
      sum = _mm_add_epi32(sum, _mm_mullo_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(l)),
                                               _mm_set1_epi32(int(xt.weights[t]))));
    sum = _mm_srli_epi32(sum, 24);
    sum = _mm_packus_epi32(sum, sum);
    out[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
  }
}

// Adds two or four source rows times their weights (each below 2^15) to the sums, 16 bytes at a
// time: pairs of rows as 16-bit lanes side by side, multiplied and added in one step.
__attribute__((target("sse4.1"))) void addRowsSse41(uint32_t* acc, const uchar* const* rows, const uint16_t* w,
                                                   size_t n, size_t span) {
  const __m128i z = _mm_setzero_si128();
  const __m128i w01 = _mm_set1_epi32(int(uint32_t(w[0]) | uint32_t(w[1]) << 16));
  const __m128i w23 = n == 4 ? _mm_set1_epi32(int(uint32_t(w[2]) | uint32_t(w[3]) << 16)) : z;
  size_t k = 0;
  for (; k + 16 <= span; k += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[1] + k));
    // (a, b) byte pairs as 16-bit lanes, in byte order.
    const __m128i lo = _mm_unpacklo_epi8(a, b), hi = _mm_unpackhi_epi8(a, b);
    __m128i s0 = _mm_madd_epi16(_mm_unpacklo_epi8(lo, z), w01);
    __m128i s1 = _mm_madd_epi16(_mm_unpackhi_epi8(lo, z), w01);
    __m128i s2 = _mm_madd_epi16(_mm_unpacklo_epi8(hi, z), w01);
    __m128i s3 = _mm_madd_epi16(_mm_unpackhi_epi8(hi, z), w01);
    if (n == 4) {
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2] + k));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[3] + k));
      const __m128i lo2 = _mm_unpacklo_epi8(c, d), hi2 = _mm_unpackhi_epi8(c, d);
      s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo2, z), w23));
      s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo2, z), w23));
      s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi2, z), w23));
      s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi2, z), w23));
    }
    __m128i* o = reinterpret_cast<__m128i*>(acc + k);
    _mm_storeu_si128(o, _mm_add_epi32(_mm_loadu_si128(o), s0));
    _mm_storeu_si128(o + 1, _mm_add_epi32(_mm_loadu_si128(o + 1), s1));
    _mm_storeu_si128(o + 2, _mm_add_epi32(_mm_loadu_si128(o + 2), s2));
    _mm_storeu_si128(o + 3, _mm_add_epi32(_mm_loadu_si128(o + 3), s3));
  }
  for (; k < span; ++k)
    for (size_t r = 0; r < n; ++r)
      acc[k] += uint32_t(rows[r][k]) * w[r];
}

std::atomic<bool> g_areaAvx2Allowed{true};

bool useAreaAvx2() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported && g_areaAvx2Allowed.load(std::memory_order_relaxed) && useAreaSse41();
}

// The vertical pass with AVX2, two or four source rows (Four) times their weights (each below
// 2^15): the first call of a row stores the sums (First) instead of adding to them, the last
// (Last) leaves them rounded to 1/256 of a unit, as the horizontal pass takes them.
template <bool Four, bool First, bool Last>
__attribute__((target("avx2"))) void addRowsAvx2(uint32_t* acc, const uchar* const* rows, const uint16_t* w,
                                                size_t span) {
  const __m256i w01 = _mm256_set1_epi32(int(uint32_t(w[0]) | uint32_t(w[1]) << 16));
  const __m256i w23 = _mm256_set1_epi32(int(uint32_t(w[2]) | uint32_t(w[3]) << 16));
  const __m256i round = _mm256_set1_epi32(64);
  const auto finish = [&](__m256i sum, uint32_t* o) __attribute__((target("avx2"))) {
    __m256i* p = reinterpret_cast<__m256i*>(o);
    if (!First)
      sum = _mm256_add_epi32(sum, _mm256_loadu_si256(p));
    if (Last)
      sum = _mm256_srli_epi32(_mm256_add_epi32(sum, round), 7);
    _mm256_storeu_si256(p, sum);
  };
  size_t k = 0;
  for (; k + 16 <= span; k += 16) {
    // (a, b) byte pairs as 16-bit lanes, in byte order: bytes 0 - 7, then 8 - 15.
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[1] + k));
    __m256i s0 = _mm256_madd_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(a, b)), w01);
    __m256i s1 = _mm256_madd_epi16(_mm256_cvtepu8_epi16(_mm_unpackhi_epi8(a, b)), w01);
    if (Four) {
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2] + k));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[3] + k));
      s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(c, d)), w23));
      s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(_mm256_cvtepu8_epi16(_mm_unpackhi_epi8(c, d)), w23));
    }
    finish(s0, acc + k);
    finish(s1, acc + k + 8);
  }
  for (; k < span; ++k) {
    uint32_t sum = First ? 0u : acc[k];
    for (size_t r = 0; r < (Four ? 4u : 2u); ++r)
      sum += uint32_t(rows[r][k]) * w[r];
    acc[k] = Last ? (sum + 64) >> 7 : sum;
  }
}

using AddRowsAvx2 = void (*)(uint32_t*, const uchar* const*, const uint16_t*, size_t);
constexpr AddRowsAvx2 kAddRowsAvx2[8] = {
    addRowsAvx2<false, false, false>, addRowsAvx2<false, false, true>, addRowsAvx2<false, true, false>,
    addRowsAvx2<false, true, true>,   addRowsAvx2<true, false, false>, addRowsAvx2<true, false, true>,
    addRowsAvx2<true, true, false>,   addRowsAvx2<true, true, true>};

// The horizontal pass with AVX2 on sums already rounded to 1/256 of a unit (below 2^16), two
// outputs at a time over the padded taps, with the arithmetic of horizontalAreaSse41.
__attribute__((target("avx2"))) void horizontalAreaAvx2(const uint32_t* column, const AxisTaps& xt, int x0,
                                                       uint32_t* out) {
  const int width = int(xt.first.size());
  const size_t k = size_t(xt.padCount);
  const __m256i half = _mm256_set1_epi32(1 << 23);
  const __m256i spread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  int i = 0;
  for (; i + 2 <= width; i += 2) {
    const uint32_t* l0 = column + size_t(xt.padFirst[size_t(i)] - x0) * 4;
    const uint32_t* l1 = column + size_t(xt.padFirst[size_t(i) + 1] - x0) * 4;
    const uint32_t* w = xt.padWeights.data() + size_t(i) * k;
    __m256i sum = half;
    for (size_t t = 0; t < k; ++t) {
      const __m256i v = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(l0 + 4 * t))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(l1 + 4 * t)), 1);
      const __m256i weights = _mm256_permutevar8x32_epi32(
          _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + 2 * t))), spread);
      sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(v, weights));
    }
    sum = _mm256_srli_epi32(sum, 24);
    sum = _mm256_packus_epi32(sum, sum);
    sum = _mm256_packus_epi16(sum, sum);
    out[i] = uint32_t(_mm256_extract_epi32(sum, 0));
    out[i + 1] = uint32_t(_mm256_extract_epi32(sum, 4));
  }
  if (i < width) {
    const uint32_t* l = column + size_t(xt.padFirst[size_t(i)] - x0) * 4;
    const uint32_t* w = xt.padWeights.data() + size_t(i) * k;
    __m128i sum = _mm_set1_epi32(1 << 23);
    for (size_t t = 0; t < k; ++t)
      sum = _mm_add_epi32(sum, _mm_mullo_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(l + 4 * t)),
                                               _mm_set1_epi32(int(w[2 * t]))));
    sum = _mm_srli_epi32(sum, 24);
    sum = _mm_packus_epi32(sum, sum);
    out[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
  }
}
#endif

void renderRows(const QImage& source, const AxisTaps& xt, const AxisTaps& yt, uchar* targetBits,
                qsizetype targetStride, int rowBegin, int rowEnd, RowScratch& scratch) {
  // The columns the horizontal taps read; the vertical pass sums only those.
  const int x0 = xt.lowest, x1 = xt.highest;
  const size_t span = size_t(x1 - x0 + 1) * 4;
  std::vector<uint32_t>& column = scratch.column;
  column.resize(span);
  const size_t pixels = span / 4;
  std::vector<uint64_t>& lanes = scratch.lanes;
  lanes.resize(pixels * 2);
  const int width = int(xt.first.size());
#ifdef VELLUMARK_AREA_SSE41
  const bool vector = useAreaSse41();
  const bool avx2 = vector && useAreaAvx2();
#endif
  for (int j = rowBegin; j < rowEnd; ++j) {
#ifdef VELLUMARK_AREA_SSE41
    // With AVX2 and every weight of the row below 2^15 (a single full weight is not), up to four
    // source rows per pass, the first pass storing the sums and the last rounding them, then the
    // horizontal pass two outputs at a time.
    if (avx2 && std::all_of(yt.weights.begin() + ptrdiff_t(yt.offset[size_t(j)]),
                            yt.weights.begin() + ptrdiff_t(yt.offset[size_t(j) + 1]),
                            [](uint32_t w) { return w < kVerticalScale; })) {
      const size_t begin = yt.offset[size_t(j)], end = yt.offset[size_t(j) + 1];
      const int first = yt.first[size_t(j)];
      for (size_t t = begin; t < end; t += 4) {
        const size_t n = std::min<size_t>(4, end - t);
        const uchar* rows[4];
        uint16_t w[4] = {0, 0, 0, 0};
        for (size_t r = 0; r < 4; ++r) {
          // A missing row is the first again at weight 0.
          rows[r] = source.constScanLine(first + int(t - begin + (r < n ? r : 0))) + size_t(x0) * 4;
          if (r < n)
            w[r] = uint16_t(yt.weights[t + r]);
        }
        kAddRowsAvx2[(n > 2 ? 4 : 0) | (t == begin ? 2 : 0) | (t + 4 >= end ? 1 : 0)](column.data(), rows, w, span);
      }
      horizontalAreaAvx2(column.data(), xt, x0, reinterpret_cast<uint32_t*>(targetBits + targetStride * j));
      continue;
    }
#endif
    std::fill(column.begin(), column.end(), 0u);
    const size_t begin = yt.offset[size_t(j)], end = yt.offset[size_t(j) + 1];
    const int first = yt.first[size_t(j)];
    // Up to four source rows per pass over the sums, so that the sums are read and written as
    // seldom as possible.
    uint32_t* acc = column.data();
    for (size_t t = begin; t < end;) {
      const size_t n = std::min<size_t>(4, end - t);
      const uchar* s0 = source.constScanLine(first + int(t - begin)) + size_t(x0) * 4;
      const uint16_t w0 = uint16_t(yt.weights[t]);
#ifdef VELLUMARK_AREA_SSE41
      // Weights below 2^15 fit the signed 16-bit lanes (a single full weight of 2^15 does not).
      // A row on its own goes with itself at weight 0.
      const size_t m = n == 4 ? 4 : n >= 2 ? 2 : 1;
      if (vector && std::all_of(yt.weights.begin() + ptrdiff_t(t), yt.weights.begin() + ptrdiff_t(t + m),
                                [](uint32_t w) { return w < kVerticalScale; })) {
        const uchar* rows[4];
        uint16_t w[4] = {0, 0, 0, 0};
        for (size_t r = 0; r < m; ++r) {
          rows[r] = source.constScanLine(first + int(t - begin + r)) + size_t(x0) * 4;
          w[r] = uint16_t(yt.weights[t + r]);
        }
        if (m == 1)
          rows[1] = rows[0];
        addRowsSse41(acc, rows, w, std::max<size_t>(m, 2), span);
        t += m;
        continue;
      }
#endif
      if (n == 4) {
        const uchar* s1 = source.constScanLine(first + int(t - begin) + 1) + size_t(x0) * 4;
        const uchar* s2 = source.constScanLine(first + int(t - begin) + 2) + size_t(x0) * 4;
        const uchar* s3 = source.constScanLine(first + int(t - begin) + 3) + size_t(x0) * 4;
        const uint16_t w1 = uint16_t(yt.weights[t + 1]), w2 = uint16_t(yt.weights[t + 2]),
                       w3 = uint16_t(yt.weights[t + 3]);
        for (size_t k = 0; k < span; ++k)
          acc[k] += uint32_t(uint16_t(s0[k])) * w0 + uint32_t(uint16_t(s1[k])) * w1 +
                    uint32_t(uint16_t(s2[k])) * w2 + uint32_t(uint16_t(s3[k])) * w3;
      } else if (n >= 2) {
        const uchar* s1 = source.constScanLine(first + int(t - begin) + 1) + size_t(x0) * 4;
        const uint16_t w1 = uint16_t(yt.weights[t + 1]);
        for (size_t k = 0; k < span; ++k)
          acc[k] += uint32_t(uint16_t(s0[k])) * w0 + uint32_t(uint16_t(s1[k])) * w1;
      } else {
        for (size_t k = 0; k < span; ++k)
          acc[k] += uint32_t(uint16_t(s0[k])) * w0;
      }
      t += n == 3 ? 2 : n;
    }
#ifdef VELLUMARK_AREA_SSE41
    if (vector) {
      horizontalAreaSse41(column.data(), pixels, xt, x0, reinterpret_cast<uint32_t*>(targetBits + targetStride * j));
      continue;
    }
#endif
    // The sums, below 255 * 2^15, rounded to 1/256 of a unit (below 2^16), two channels per 64-bit
    // word in 32-bit lanes: blue and red, green and alpha. Times a weight of at most 2^16, summed
    // with weights totalling 2^16, plus a half: below 2^32, so the lanes never carry into each
    // other and every channel gets exactly the arithmetic it would get on its own.
    for (size_t p = 0; p < pixels; ++p) {
      const uint32_t* a = column.data() + 4 * p;
      lanes[2 * p] = ((a[0] + 64) >> 7) | (uint64_t((a[2] + 64) >> 7) << 32);
      lanes[2 * p + 1] = ((a[1] + 64) >> 7) | (uint64_t((a[3] + 64) >> 7) << 32);
    }
    auto* out = reinterpret_cast<uint32_t*>(targetBits + targetStride * j);
    constexpr uint64_t half = uint64_t(1) << 23;
    constexpr uint64_t halves = half | (half << 32);
    for (int i = 0; i < width; ++i) {
      uint64_t br = halves, ga = halves;
      const size_t tb = xt.offset[size_t(i)], te = xt.offset[size_t(i) + 1];
      const uint64_t* l = lanes.data() + size_t(xt.first[size_t(i)] - x0) * 2;
      for (size_t t = tb; t < te; ++t, l += 2) {
        const uint64_t w = xt.weights[t];
        br += l[0] * w;
        ga += l[1] * w;
      }
      out[i] = uint32_t((br >> 24) & 0xff) | uint32_t(((ga >> 24) & 0xff) << 8) |
               uint32_t(((br >> 56) & 0xff) << 16) | uint32_t((ga >> 56) << 24);
    }
  }
}

}  // namespace

bool setAreaAverageVectorPath(bool allowed) {
#ifdef VELLUMARK_AREA_SSE41
  return g_areaVectorAllowed.exchange(allowed);
#else
  (void)allowed;
  return false;
#endif
}

bool setAreaAverageAvx2Path(bool allowed) {
#ifdef VELLUMARK_AREA_SSE41
  return g_areaAvx2Allowed.exchange(allowed);
#else
  (void)allowed;
  return false;
#endif
}

bool isReduction(const TRectF& sourceRect, int Width, int Height) {
  const double w = std::fabs(double(sourceRect.Right) - double(sourceRect.Left));
  const double h = std::fabs(double(sourceRect.Bottom) - double(sourceRect.Top));
  return std::isfinite(w) && std::isfinite(h) && (Width < w || Height < h);
}

void drawAreaAverage(const QImage& source, const TRectF& sourceRect, QImage& target) {
  waitForPicture(source);
  if (source.isNull() || target.isNull())
    return;
  if (!std::isfinite(sourceRect.Left) || !std::isfinite(sourceRect.Top) || !std::isfinite(sourceRect.Right) ||
      !std::isfinite(sourceRect.Bottom))
    return;
  Q_ASSERT(source.format() == QImage::Format_ARGB32_Premultiplied);
  Q_ASSERT(target.format() == QImage::Format_ARGB32_Premultiplied);
  const int W = target.width(), H = target.height();
  AxisTaps xt = makeAreaTaps(sourceRect.Left, sourceRect.Right, W, source.width(), kHorizontalScale);
  padTaps(xt);
  const AxisTaps yt = makeAreaTaps(sourceRect.Top, sourceRect.Bottom, H, source.height(), kVerticalScale);

  uchar* bits = target.bits();  // detached once here; the parts write disjoint rows
  const qsizetype stride = target.bytesPerLine();
  // The work of a row is the source columns it sums; split only when there is enough of it.
  const int64_t work = int64_t(xt.highest - xt.lowest + 1) * (yt.highest - yt.lowest + 1) + int64_t(W) * H;
  const int parts = work < (1 << 18) ? 1 : std::min(workerThreadCount(), H);

  runParallel(parts, parts, [&](int p) {
    RowScratch scratch;
    renderRows(source, xt, yt, bits, stride, int(int64_t(H) * p / parts), int(int64_t(H) * (p + 1) / parts),
               scratch);
  });
}

#ifdef VELLUMARK_AREA_SSE41
namespace {

// Halves two source rows into `w` pixels, two at a time, with the arithmetic of the plain loop
// (the four channels summed in 16-bit lanes, plus two, divided by four); returns how many it did.
__attribute__((target("sse4.1"))) int halveRowSse41(const uint32_t* a, const uint32_t* b, uint32_t* out, int w) {
  const __m128i two = _mm_set1_epi16(2);
  int x = 0;
  for (; x + 2 <= w; x += 2) {
    const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * x));
    const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * x));
    // Pixels 0 and 1 of each row, then 2 and 3, as 16-bit channels.
    const __m128i first = _mm_add_epi16(_mm_cvtepu8_epi16(ra), _mm_cvtepu8_epi16(rb));
    const __m128i second = _mm_add_epi16(_mm_cvtepu8_epi16(_mm_srli_si128(ra, 8)), _mm_cvtepu8_epi16(_mm_srli_si128(rb, 8)));
    __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(first, second), _mm_unpackhi_epi64(first, second));
    sum = _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(sum, sum));
  }
  return x;
}

}  // namespace
#endif

namespace {

// Rows begin .. end - 1 of the halved picture, each pixel the rounded average of a 2 x 2 block of
// `source`, written to `bits` (the halved picture's pixels, `stride` bytes a row, `w` pixels wide).
void halveRows(const QImage& source, uchar* bits, qsizetype stride, int w, int begin, int end) {
#ifdef VELLUMARK_AREA_SSE41
  const bool vector = useAreaSse41();
#endif
  for (int y = begin; y < end; ++y) {
    const auto* a = reinterpret_cast<const uint32_t*>(source.constScanLine(2 * y));
    const auto* b = reinterpret_cast<const uint32_t*>(source.constScanLine(2 * y + 1));
    auto* out = reinterpret_cast<uint32_t*>(bits + stride * y);
    int x = 0;
#ifdef VELLUMARK_AREA_SSE41
    if (vector)
      x = halveRowSse41(a, b, out, w);
#endif
    for (; x < w; ++x) {
      const uint32_t p[4] = {a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]};
      uint32_t result = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        uint32_t sum = 2;  // rounds the quarter to nearest
        for (const uint32_t q : p)
          sum += (q >> shift) & 0xffu;
        result |= (sum >> 2) << shift;
      }
      out[x] = result;
    }
  }
}

}  // namespace

QImage halveByBlocks(const QImage& source) {
  if (source.isNull() || source.width() % 2 || source.height() % 2)
    return QImage();
  const int w = source.width() / 2, h = source.height() / 2;
  QImage half(w, h, QImage::Format_ARGB32_Premultiplied);
  if (half.isNull())
    throw std::bad_alloc();
  halveRows(source, half.bits(), half.bytesPerLine(), w, 0, h);
  return half;
}

namespace {

// The halved levels of the pictures reduced most recently (a run or a preview reduces one picture
// into many outputs): level k is the picture halved k times. Keyed on the picture's cache key,
// which changes whenever its pixels do (not while a decode still writes its rows).
//
// Every level is allocated with the pyramid (while the sides are even), and its rows are made
// from the top as far as a reader asks (ensureLevelRows), so that a picture still being decoded
// can be reduced row by row as it arrives. The levels and their pixels' addresses never change
// after the pyramid is made; the rows made are counted under `making`.
struct Pyramid {
  qint64 key = 0;
  std::vector<QImage> levels;  // levels[0] is the picture itself
  std::vector<uchar*> bits;    // each level's pixels, written through this (not a detaching call)
  std::unique_ptr<std::atomic<int>[]> made;  // rows made of each level (all of levels[0])
  std::mutex making;
};
std::mutex g_pyramidMutex;
std::vector<std::shared_ptr<Pyramid>> g_pyramids;  // most recent last
constexpr size_t kPyramidsKept = 2;

std::shared_ptr<Pyramid> makePyramid(const QImage& source) {
  auto pyramid = std::make_shared<Pyramid>();
  pyramid->key = source.cacheKey();
  pyramid->levels.push_back(source);
  pyramid->bits.push_back(nullptr);  // the picture itself is only read
  for (QImage level = source; level.width() % 2 == 0 && level.height() % 2 == 0 && pyramid->levels.size() <= 16;) {
    QImage half(level.width() / 2, level.height() / 2, QImage::Format_ARGB32_Premultiplied);
    if (half.isNull())
      throw std::bad_alloc();
    pyramid->bits.push_back(half.bits());  // the only reference yet: no copy is made
    pyramid->levels.push_back(half);
    level = half;
  }
  pyramid->made = std::make_unique<std::atomic<int>[]>(pyramid->levels.size());
  pyramid->made[0].store(source.height());
  return pyramid;
}

// The pyramid of the picture, with at least `wanted` halvings where the sides allow them, and
// the level to read: the picture halved `wanted` times, or fewer where a level has an odd width or
// height. No row of a level is made here (ensureLevelRows).
std::pair<std::shared_ptr<Pyramid>, int> reducedLevel(const QImage& source, int wanted) {
  const std::lock_guard<std::mutex> lock(g_pyramidMutex);
  std::shared_ptr<Pyramid> pyramid;
  for (auto it = g_pyramids.begin(); it != g_pyramids.end(); ++it)
    if ((*it)->key == source.cacheKey()) {
      pyramid = *it;
      g_pyramids.erase(it);
      break;
    }
  if (!pyramid)
    pyramid = makePyramid(source);
  g_pyramids.push_back(pyramid);
  if (g_pyramids.size() > kPyramidsKept)
    g_pyramids.erase(g_pyramids.begin());
  return {pyramid, std::min(wanted, int(pyramid->levels.size()) - 1)};
}

// Makes the top `rows` rows of level k (and the rows of the levels above it they are made from);
// the caller makes sure the picture's rows they come from, rows << k, are written.
void ensureLevelRows(Pyramid& pyramid, int k, int rows) {
  rows = std::min(rows, pyramid.levels[size_t(k)].height());
  if (k == 0 || pyramid.made[k].load(std::memory_order_acquire) >= rows)
    return;
  const std::lock_guard<std::mutex> lock(pyramid.making);
  for (int l = 1; l <= k; ++l) {
    const QImage& level = pyramid.levels[size_t(l)];
    const int wanted = int(std::min<int64_t>(level.height(), int64_t(rows) << (k - l)));
    const int from = pyramid.made[l].load(std::memory_order_relaxed);
    if (from >= wanted)
      continue;
    halveRows(pyramid.levels[size_t(l) - 1], pyramid.bits[size_t(l)], level.bytesPerLine(), level.width(), from,
              wanted);
    pyramid.made[l].store(wanted, std::memory_order_release);
  }
}

}  // namespace

namespace {

// The picture or halved level a Width x Height reduction of the region reads, with the region
// moved into that level's pixels.
// The halvings a Width x Height reduction of the region wants: each output pixel keeps at least
// four pixels of the level across in each direction.
int halvingsWanted(const TRectF& rect, int Width, int Height) {
  const double factor = std::min(std::abs(double(rect.Right) - rect.Left) / Width,
                                 std::abs(double(rect.Bottom) - rect.Top) / Height);
  int wanted = 0;
  while (std::isfinite(factor) && factor >= double(8 << wanted) && wanted < 16)
    ++wanted;
  return wanted;
}

// The pyramid and the level a Width x Height reduction of the region reads (none and 0: the
// picture itself, also where its sides allow no halving), with the region moved into that level's
// pixels.
std::pair<std::shared_ptr<Pyramid>, int> levelFor(const QImage& source, TRectF& rect, int Width, int Height) {
  const int wanted = halvingsWanted(rect, Width, Height);
  if (wanted == 0)
    return {nullptr, 0};
  auto [pyramid, halvings] = reducedLevel(source, wanted);
  if (halvings == 0)
    return {nullptr, 0};
  const double scale = 1.0 / double(1 << halvings);
  rect = {float(rect.Left * scale), float(rect.Top * scale), float(rect.Right * scale), float(rect.Bottom * scale)};
  return {std::move(pyramid), halvings};
}

}  // namespace

void drawReduced(const QImage& source, const TRectF& sourceRect, QImage& target) {
  waitForPicture(source);
  if (source.isNull() || target.isNull())
    return;
  TRectF rect = sourceRect;
  const auto [pyramid, halvings] = levelFor(source, rect, target.width(), target.height());
  if (!pyramid)
    return drawAreaAverage(source, rect, target);
  const QImage& level = pyramid->levels[size_t(halvings)];
  ensureLevelRows(*pyramid, halvings, level.height());
  drawAreaAverage(level, rect, target);
}

struct AreaAverageRows::Taps {
  QImage level;  // the picture, or the halved level the rows are read from
  std::shared_ptr<Pyramid> pyramid;  // of a halved level: its rows are made as they are read
  int halvings = 0;
  AxisTaps x, y;
};

struct AreaAverageRows::Scratch : RowScratch {};

AreaAverageRows::AreaAverageRows(const QImage& source, const TRectF& sourceRect, int targetWidth,
                                 int targetHeight) {
  if (source.isNull() || targetWidth <= 0 || targetHeight <= 0 || !std::isfinite(sourceRect.Left) ||
      !std::isfinite(sourceRect.Top) || !std::isfinite(sourceRect.Right) || !std::isfinite(sourceRect.Bottom))
    return;
  auto taps = std::make_shared<Taps>();
  TRectF rect = sourceRect;
  std::tie(taps->pyramid, taps->halvings) = levelFor(source, rect, targetWidth, targetHeight);
  taps->level = taps->pyramid ? taps->pyramid->levels[size_t(taps->halvings)] : source;
  taps->x = makeAreaTaps(rect.Left, rect.Right, targetWidth, taps->level.width(), kHorizontalScale);
  padTaps(taps->x);
  taps->y = makeAreaTaps(rect.Top, rect.Bottom, targetHeight, taps->level.height(), kVerticalScale);
  FTaps = std::move(taps);
  FScratch = std::make_unique<Scratch>();
}

AreaAverageRows::AreaAverageRows(const AreaAverageRows& other)
    : FTaps(other.FTaps), FScratch(FTaps ? std::make_unique<Scratch>() : nullptr) {}

AreaAverageRows::~AreaAverageRows() = default;

bool AreaAverageRows::readsHalvedLevel(const TRectF& sourceRect, int targetWidth, int targetHeight) {
  return targetWidth > 0 && targetHeight > 0 && halvingsWanted(sourceRect, targetWidth, targetHeight) > 0;
}

namespace {

// The rows from the top of the level that row `row` of the output reads.
int levelRowsFor(const AxisTaps& y, int row) {
  return y.first[size_t(row)] + int(y.offset[size_t(row) + 1] - y.offset[size_t(row)]);
}

}  // namespace

int AreaAverageRows::sourceRowsFor(int row) const {
  if (!FTaps)
    return 0;
  const int rows = levelRowsFor(FTaps->y, row);
  if (!FTaps->pyramid)
    return rows;
  // The level's rows are made from the picture's rows, 2^halvings of them each.
  const int height = FTaps->pyramid->levels[0].height();
  return int(std::min<int64_t>(height, int64_t(rows) << FTaps->halvings));
}

void AreaAverageRows::render(int row, uint32_t* out) {
  if (!FTaps)
    return;
  if (FTaps->pyramid)
    ensureLevelRows(*FTaps->pyramid, FTaps->halvings, levelRowsFor(FTaps->y, row));
  // One row at a time: the row's own pointer with no stride.
  renderRows(FTaps->level, FTaps->x, FTaps->y, reinterpret_cast<uchar*>(out), 0, row, row + 1, *FScratch);
}
