#include "imaging/PngFilter.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define VELLUMARK_FILTER_SSE2 1
#endif

namespace {

inline uint8_t paethPredictor(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc)
    return uint8_t(a);
  return pb <= pc ? uint8_t(b) : uint8_t(c);
}

// The predictor of byte i of a row of bpp-byte pixels, by the definition.
inline uint8_t predictor(PngFilterType type, const uint8_t* cur, const uint8_t* prev, size_t i, unsigned bpp) {
  const int a = i >= bpp ? cur[i - bpp] : 0;
  const int b = prev[i];
  const int c = i >= bpp ? prev[i - bpp] : 0;
  switch (type) {
    case PngFilterType::None:
      return 0;
    case PngFilterType::Sub:
      return uint8_t(a);
    case PngFilterType::Up:
      return uint8_t(b);
    case PngFilterType::Average:
      return uint8_t((a + b) / 2);
    case PngFilterType::Paeth:
      return paethPredictor(a, b, c);
  }
  return 0;
}

inline unsigned signedMagnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

#ifdef VELLUMARK_FILTER_SSE2
inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline __m128i load32(const uint8_t* p) {
  int v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
inline void store32(uint8_t* p, __m128i v) {
  const int x = _mm_cvtsi128_si32(v);
  std::memcpy(p, &x, 4);
}

// floor((a + b) / 2) per byte.
inline __m128i averageFloor(__m128i a, __m128i b) {
  return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

inline __m128i abs16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }

// m ? x : y, lane by lane.
inline __m128i select(__m128i m, __m128i x, __m128i y) {
  return _mm_or_si128(_mm_and_si128(m, x), _mm_andnot_si128(m, y));
}

// The Paeth predictor on 16-bit lanes holding bytes.
inline __m128i paeth16(__m128i a, __m128i b, __m128i c) {
  const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
  const __m128i pa = abs16(bc), pb = abs16(ac), pc = abs16(_mm_add_epi16(ac, bc));
  const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
  const __m128i notB = _mm_cmpgt_epi16(pb, pc);
  return select(notA, select(notB, c, b), a);
}

inline __m128i paeth8(__m128i a, __m128i b, __m128i c) {
  const __m128i z = _mm_setzero_si128();
  const __m128i lo = paeth16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z), _mm_unpacklo_epi8(c, z));
  const __m128i hi = paeth16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z), _mm_unpackhi_epi8(c, z));
  return _mm_packus_epi16(lo, hi);
}

// The sum of the bytes' magnitudes as signed bytes, in the two 64-bit halves.
inline __m128i magnitudeSum(__m128i x) {
  const __m128i z = _mm_setzero_si128();
  return _mm_sad_epu8(_mm_min_epu8(x, _mm_sub_epi8(z, x)), z);
}

inline uint64_t total(__m128i s) {
  return uint64_t(_mm_cvtsi128_si64(s)) + uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s)));
}

// The pixel left of each byte of the 16 at i (zeros left of the row).
inline __m128i leftOf(const uint8_t* row, size_t i) { return i >= 4 ? load(row + i - 4) : _mm_slli_si128(load(row), 4); }
#endif

}  // namespace

void pngFilterRow(PngFilterType type, const uint8_t* cur, const uint8_t* prev, size_t n, uint8_t* out) {
  size_t i = 0;
#ifdef VELLUMARK_FILTER_SSE2
  for (; i + 16 <= n; i += 16) {
    const __m128i x = load(cur + i);
    __m128i p;
    switch (type) {
      case PngFilterType::None:
        p = _mm_setzero_si128();
        break;
      case PngFilterType::Sub:
        p = leftOf(cur, i);
        break;
      case PngFilterType::Up:
        p = load(prev + i);
        break;
      case PngFilterType::Average:
        p = averageFloor(leftOf(cur, i), load(prev + i));
        break;
      default:
        p = paeth8(leftOf(cur, i), load(prev + i), leftOf(prev, i));
        break;
    }
    store(out + i, _mm_sub_epi8(x, p));
  }
#endif
  for (; i < n; ++i)
    out[i] = uint8_t(cur[i] - predictor(type, cur, prev, i, 4));
}

void pngSubUpCosts(const uint8_t* cur, const uint8_t* prev, size_t n, uint64_t& sub, uint64_t& up) {
  sub = up = 0;
  size_t i = 0;
#ifdef VELLUMARK_FILTER_SSE2
  __m128i s = _mm_setzero_si128(), u = s;
  for (; i + 16 <= n; i += 16) {
    const __m128i x = load(cur + i);
    s = _mm_add_epi64(s, magnitudeSum(_mm_sub_epi8(x, leftOf(cur, i))));
    u = _mm_add_epi64(u, magnitudeSum(_mm_sub_epi8(x, load(prev + i))));
  }
  sub = total(s);
  up = total(u);
#endif
  for (; i < n; ++i) {
    sub += signedMagnitude(uint8_t(cur[i] - (i >= 4 ? cur[i - 4] : 0)));
    up += signedMagnitude(uint8_t(cur[i] - prev[i]));
  }
}

bool pngUnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t n, unsigned bpp) {
  size_t i = 0;
  switch (type) {
    case 0:
      return true;
    case 1:  // Sub
#ifdef VELLUMARK_FILTER_SSE2
      if (bpp == 4 && n >= 16) {
        // Prefix sums of pixels within 16 bytes, then the last pixel before them added.
        __m128i last = _mm_setzero_si128();
        for (; i + 16 <= n; i += 16) {
          __m128i x = load(row + i);
          x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
          x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
          x = _mm_add_epi8(x, last);
          store(row + i, x);
          last = _mm_shuffle_epi32(x, 0xff);
        }
      }
#endif
      for (i = i ? i : bpp; i < n; ++i)
        row[i] = uint8_t(row[i] + row[i - bpp]);
      return true;
    case 2:  // Up
#ifdef VELLUMARK_FILTER_SSE2
      for (; i + 16 <= n; i += 16)
        store(row + i, _mm_add_epi8(load(row + i), load(prev + i)));
#endif
      for (; i < n; ++i)
        row[i] = uint8_t(row[i] + prev[i]);
      return true;
    case 3:  // Average
#ifdef VELLUMARK_FILTER_SSE2
      if (bpp == 4) {
        __m128i a = _mm_setzero_si128();
        for (; i + 4 <= n; i += 4) {
          a = _mm_add_epi8(load32(row + i), averageFloor(a, load32(prev + i)));
          store32(row + i, a);
        }
        return true;
      }
#endif
      for (; i < bpp && i < n; ++i)
        row[i] = uint8_t(row[i] + prev[i] / 2);
      for (; i < n; ++i)
        row[i] = uint8_t(row[i] + (row[i - bpp] + prev[i]) / 2);
      return true;
    case 4:  // Paeth
#ifdef VELLUMARK_FILTER_SSE2
      if (bpp == 4) {
        // One pixel at a time in 16-bit lanes: each depends on the one before.
        const __m128i z = _mm_setzero_si128();
        __m128i a = z, c = z;
        for (; i + 4 <= n; i += 4) {
          const __m128i b = _mm_unpacklo_epi8(load32(prev + i), z);
          const __m128i x = _mm_unpacklo_epi8(load32(row + i), z);
          a = _mm_and_si128(_mm_add_epi16(x, paeth16(a, b, c)), _mm_set1_epi16(0xff));
          store32(row + i, _mm_packus_epi16(a, a));
          c = b;
        }
        return true;
      }
#endif
      for (; i < bpp && i < n; ++i)
        row[i] = uint8_t(row[i] + prev[i]);  // the predictor of the first pixel is the byte above
      for (; i < n; ++i)
        row[i] = uint8_t(row[i] + paethPredictor(row[i - bpp], prev[i], prev[i - bpp]));
      return true;
    default:
      return false;
  }
}

void pngUnfilterPaethPair(uint8_t* first, uint8_t* second, const uint8_t* prev, size_t n) {
#ifdef VELLUMARK_FILTER_SSE2
  const size_t pixels = n / 4;
  if (pixels >= 2 && n % 4 == 0) {
    // Pixel i of the first row and pixel i - 1 of the second share one register: the second
    // row's pixel reads only first-row pixels that are already done, so the two chains of
    // dependent steps run side by side. Low half: the first row, high half: the second.
    const __m128i z = _mm_setzero_si128();
    const __m128i mask = _mm_set1_epi16(0xff);
    // The first row's pixel 0: its left and upper-left neighbours are zeros.
    __m128i b = _mm_unpacklo_epi8(load32(prev), z);
    __m128i done = _mm_and_si128(_mm_add_epi16(_mm_unpacklo_epi8(load32(first), z), paeth16(z, b, z)), mask);
    store32(first, _mm_packus_epi16(done, done));
    __m128i c = b;  // upper-left of the next step: [prev[0] | zeros]
    for (size_t i = 1; i < pixels; ++i) {
      // a: [first[i - 1] | second[i - 2]], the last step's result (zeros left of the row).
      // b: [prev[i] | first[i - 1]], c: the last step's b.
      b = _mm_unpacklo_epi64(_mm_unpacklo_epi8(load32(prev + 4 * i), z), done);
      const __m128i x = _mm_unpacklo_epi64(_mm_unpacklo_epi8(load32(first + 4 * i), z),
                                           _mm_unpacklo_epi8(load32(second + 4 * (i - 1)), z));
      done = _mm_and_si128(_mm_add_epi16(x, paeth16(done, b, c)), mask);
      const __m128i packed = _mm_packus_epi16(done, done);
      store32(first + 4 * i, packed);
      store32(second + 4 * (i - 1), _mm_srli_si128(packed, 4));
      c = b;
    }
    // The second row's last pixel: left is its pixel before, above and upper-left are the first
    // row's last two.
    const size_t last = pixels - 1;
    const __m128i a2 = _mm_unpacklo_epi8(load32(second + 4 * (last - 1)), z);
    const __m128i b2 = _mm_unpacklo_epi8(load32(first + 4 * last), z);
    const __m128i c2 = _mm_unpacklo_epi8(load32(first + 4 * (last - 1)), z);
    const __m128i r = _mm_and_si128(_mm_add_epi16(_mm_unpacklo_epi8(load32(second + 4 * last), z), paeth16(a2, b2, c2)), mask);
    store32(second + 4 * last, _mm_packus_epi16(r, r));
    return;
  }
#endif
  pngUnfilterRow(4, first, prev, n, 4);
  pngUnfilterRow(4, second, first, n, 4);
}
