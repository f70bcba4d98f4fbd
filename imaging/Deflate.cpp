#include "imaging/Deflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <queue>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t kMatch = 0x80000000u;
constexpr unsigned kMinMatch = 3, kMaxMatch = 258;

// Length 3..258 -> index 0..28 of the length codes 257..285 and the extra bits' value.
struct LengthCodes {
  std::array<uint8_t, 256> code{};
  std::array<uint8_t, 256> extraValue{};
  static constexpr uint16_t base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static constexpr uint8_t extraBits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                            2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  LengthCodes() {
    // In code order, so 258 ends with its own code 285 rather than 284 with extra bits 31.
    for (int c = 0; c < 29; ++c)
      for (unsigned len = base[c]; len < base[c] + (1u << extraBits[c]) && len <= kMaxMatch; ++len) {
        code[len - kMinMatch] = uint8_t(c);
        extraValue[len - kMinMatch] = uint8_t(len - base[c]);
      }
  }
};
const LengthCodes kLengths;

// The order in which the code length code's lengths are stored.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

uint16_t reverseBits(uint16_t code, unsigned length) {
  uint16_t r = 0;
  for (unsigned i = 0; i < length; ++i) {
    r = uint16_t((r << 1) | (code & 1));
    code >>= 1;
  }
  return r;
}

// Canonical codes (RFC 1951, 3.2.2), bit-reversed for least-significant-bit-first output.
void canonicalCodes(const uint8_t* lengths, int count, uint16_t* codes) {
  unsigned lengthCount[16] = {};
  for (int i = 0; i < count; ++i)
    ++lengthCount[lengths[i]];
  lengthCount[0] = 0;
  uint16_t next[16] = {};
  uint16_t code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = uint16_t((code + lengthCount[bits - 1]) << 1);
    next[bits] = code;
  }
  for (int i = 0; i < count; ++i)
    codes[i] = lengths[i] ? reverseBits(next[lengths[i]]++, lengths[i]) : 0;
}

// The number of equal bytes at a and b, at most max.
inline size_t commonPrefix(const uint8_t* a, const uint8_t* b, size_t max) {
  size_t k = 0;
#if defined(__SSE2__)
  for (; k + 16 <= max; k += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
    const unsigned differ = ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xffffu;
    if (differ)
      return k + unsigned(__builtin_ctz(differ));
  }
#endif
  while (k < max && a[k] == b[k])
    ++k;
  return k;
}

}  // namespace

void limitedHuffmanLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths) {
  std::fill(lengths, lengths + count, uint8_t(0));
  // Used symbols, least frequent first (ties by symbol, so the result is fully determined).
  std::vector<int> used;
  for (int i = 0; i < count; ++i)
    if (freq[i])
      used.push_back(i);
  if (used.size() < 2) {
    // A single code of one bit would be incomplete: add a second symbol of length 1.
    const int first = used.empty() ? 0 : used[0];
    lengths[first] = 1;
    lengths[first == 0 ? 1 : 0] = 1;
    return;
  }
  std::stable_sort(used.begin(), used.end(), [&](int a, int b) { return freq[a] < freq[b]; });

  // Huffman's tree: leaves 0..n-1 (in the sorted order), inner nodes after them.
  const size_t n = used.size();
  std::vector<int> parent(2 * n - 1, -1);
  using Node = std::pair<uint64_t, int>;  // weight, node index (the index breaks ties)
  std::priority_queue<Node, std::vector<Node>, std::greater<Node>> heap;
  for (size_t i = 0; i < n; ++i)
    heap.push({freq[used[i]], int(i)});
  int next = int(n);
  while (heap.size() > 1) {
    const Node a = heap.top();
    heap.pop();
    const Node b = heap.top();
    heap.pop();
    parent[size_t(a.second)] = next;
    parent[size_t(b.second)] = next;
    heap.push({a.first + b.first, next++});
  }
  std::vector<int> depth(2 * n - 1, 0);
  for (int i = next - 2; i >= 0; --i)  // parents are created after their children
    depth[size_t(i)] = depth[size_t(parent[size_t(i)])] + 1;

  // Lengths per count, the overlong ones cut to maxLength, then the Kraft sum brought back to
  // exactly 1 by lengthening shorter codes (each step lowers the sum by one unit).
  std::vector<unsigned> perLength(size_t(maxLength) + 1, 0);
  for (size_t i = 0; i < n; ++i)
    ++perLength[size_t(std::min(depth[i], maxLength))];
  uint64_t total = 0;
  for (int len = 1; len <= maxLength; ++len)
    total += uint64_t(perLength[size_t(len)]) << (maxLength - len);
  while (total != (uint64_t(1) << maxLength)) {
    --perLength[size_t(maxLength)];
    for (int len = maxLength - 1; len > 0; --len)
      if (perLength[size_t(len)]) {
        --perLength[size_t(len)];
        perLength[size_t(len) + 1] += 2;
        break;
      }
    --total;
  }
  // The longest codes go to the least frequent symbols.
  size_t s = 0;
  for (int len = maxLength; len >= 1; --len)
    for (unsigned k = 0; k < perLength[size_t(len)]; ++k)
      lengths[used[s++]] = uint8_t(len);
}

// Room for one block's bits: the header's few hundred bytes and at most 35 bits per symbol.
constexpr size_t blockBound(size_t symbols) { return 1024 + symbols * 5; }

RunDeflater::RunDeflater(size_t sizeHint) : FSymbols(kBlockSymbols) {
  std::fill(std::begin(FLitLenFreq), std::end(FLitLenFreq), 0u);
  std::fill(&FLiteralRunFreq[0][0], &FLiteralRunFreq[0][0] + 4 * 256, 0u);
  std::fill(std::begin(FDistFreq), std::end(FDistFreq), 0u);
  // Rendered pictures shrink to a tenth or so; more room is made when needed.
  FOut.reserve(sizeHint / 4 + blockBound(kBlockSymbols));
}

void RunDeflater::reserveOutput(size_t bytes) {
  if (FOut.size() < FOutUsed + bytes)
    FOut.resize(FOutUsed + bytes);
}

// The caller makes sure there is room for the symbol in the block.
inline void RunDeflater::literal(uint8_t byte) {
  FSymbols[FSymbolCount++] = byte;
  ++FLitLenFreq[byte];
}

inline void RunDeflater::match(unsigned length, unsigned distance) {
  FSymbols[FSymbolCount++] = kMatch | (length - kMinMatch) << 8 | distance;
  ++FLitLenFreq[257 + kLengths.code[length - kMinMatch]];
  ++FDistFreq[distance - 1];
}

void RunDeflater::add(const uint8_t* p, size_t n) {
  if (FFinished || n == 0)
    return;
  // The run at distance d (1 or 4) starting at i: at most 258 bytes and not beyond this call's
  // bytes; the first bytes may be compared with the history of earlier calls.
  auto runAt = [&](size_t i, unsigned d) -> size_t {
    if (i < d && d - i > FHistoryLength)
      return 0;
    const size_t max = std::min<size_t>(kMaxMatch, n - i);
    size_t len = 0;
    for (; len < max && i + len < d; ++len)
      if (p[i + len] != FHistory[4 + i + len - d])
        return len;
    return len + commonPrefix(p + i + len, p + i + len - d, max - len);
  };

  size_t i = 0;
  while (i < n) {
    // One pass of this loop adds at most 31 symbols; a block ends before it could overflow.
    if (FSymbolCount + 32 > kBlockSymbols)
      flushBlock(false);
#if defined(__SSE2__)
    if (i >= 4 && n - i >= 16) {
      // Where, among the next 30 (or 14) positions, a run of at least 3 starts at distance 1
      // or 4; the literals before it go out at once.
      auto equalMask = [&](size_t at, unsigned d) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at - d));
        return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
      };
      const bool wide = n - i >= 32;
      uint32_t m1 = equalMask(i, 1), m4 = equalMask(i, 4);
      if (wide) {
        m1 |= equalMask(i + 16, 1) << 16;
        m4 |= equalMask(i + 16, 4) << 16;
      }
      const unsigned window = wide ? 30u : 14u;
      const uint32_t starts = ((m1 & m1 >> 1 & m1 >> 2) | (m4 & m4 >> 1 & m4 >> 2)) & ((1u << window) - 1);
      const unsigned k = starts ? unsigned(__builtin_ctz(starts)) : window;
      uint32_t* symbols = FSymbols.data() + FSymbolCount;
      const uint8_t* bytes = p + i;
      for (unsigned j = 0; j < k; ++j) {
        symbols[j] = bytes[j];
        ++FLiteralRunFreq[j & 3][bytes[j]];
      }
      FSymbolCount += k;
      i += k;
      if (!starts)
        continue;
    }
#endif
    const size_t run1 = runAt(i, 1);
    const size_t run4 = runAt(i, 4);
    const size_t best = std::max(run1, run4);
    if (best >= kMinMatch) {
      match(unsigned(best), run1 >= run4 ? 1u : 4u);
      i += best;
    } else {
      literal(p[i]);
      ++i;
    }
  }

  if (n >= 4) {
    std::memcpy(FHistory, p + n - 4, 4);
  } else {
    std::memmove(FHistory, FHistory + n, 4 - n);
    std::memcpy(FHistory + 4 - n, p, n);
  }
  FHistoryLength = unsigned(std::min<size_t>(4, FHistoryLength + n));
}

// Adds at most 32 bits to a bit buffer (least significant first); a full 32 bits go to out,
// which then moves on. The room was reserved before.
static inline void appendBits(uint64_t& buffer, unsigned& count, uint8_t*& out, uint32_t bits, unsigned bitCount) {
  buffer |= uint64_t(bits) << count;
  count += bitCount;
  if (count >= 32) {
    out[0] = uint8_t(buffer);
    out[1] = uint8_t(buffer >> 8);
    out[2] = uint8_t(buffer >> 16);
    out[3] = uint8_t(buffer >> 24);
    out += 4;
    buffer >>= 32;
    count -= 32;
  }
}

inline void RunDeflater::putBits(uint32_t bits, unsigned count) {
  uint8_t* out = FOut.data() + FOutUsed;
  appendBits(FBitBuffer, FBitCount, out, bits, count);
  FOutUsed = size_t(out - FOut.data());
}

void RunDeflater::alignToByte() {
  while (FBitCount > 0) {
    FOut[FOutUsed++] = uint8_t(FBitBuffer);
    FBitBuffer >>= 8;
    FBitCount = FBitCount > 8 ? FBitCount - 8 : 0;
  }
  FBitBuffer = 0;
}

void RunDeflater::flushBlock(bool last) {
  for (int b = 0; b < 256; ++b)
    FLitLenFreq[b] += FLiteralRunFreq[0][b] + FLiteralRunFreq[1][b] + FLiteralRunFreq[2][b] + FLiteralRunFreq[3][b];
  std::fill(&FLiteralRunFreq[0][0], &FLiteralRunFreq[0][0] + 4 * 256, 0u);
  ++FLitLenFreq[256];  // end of block
  uint8_t litLen[286], dist[30];
  limitedHuffmanLengths(FLitLenFreq, 286, 15, litLen);
  limitedHuffmanLengths(FDistFreq, 30, 15, dist);
  int hlit = 286, hdist = 30;
  while (hlit > 257 && litLen[hlit - 1] == 0)
    --hlit;
  while (hdist > 1 && dist[hdist - 1] == 0)
    --hdist;

  // The code lengths of both codes as one sequence, run-length coded with symbols 16, 17, 18.
  uint8_t all[286 + 30];
  std::copy(litLen, litLen + hlit, all);
  std::copy(dist, dist + hdist, all + hlit);
  const int total = hlit + hdist;
  struct Item {
    uint8_t symbol, extraBits, extra;
  };
  std::vector<Item> items;
  uint32_t clFreq[19] = {};
  for (int i = 0; i < total;) {
    const uint8_t v = all[i];
    int run = 1;
    while (i + run < total && all[i + run] == v)
      ++run;
    i += run;
    if (v == 0) {
      while (run >= 11) {
        const int r = std::min(run, 138);
        items.push_back({18, 7, uint8_t(r - 11)});
        run -= r;
      }
      if (run >= 3) {
        items.push_back({17, 3, uint8_t(run - 3)});
        run = 0;
      }
    } else {
      items.push_back({v, 0, 0});
      --run;
      while (run >= 3) {
        const int r = std::min(run, 6);
        items.push_back({16, 2, uint8_t(r - 3)});
        run -= r;
      }
    }
    for (; run > 0; --run)
      items.push_back({v, 0, 0});
  }
  for (const Item& it : items)
    ++clFreq[it.symbol];
  uint8_t clLen[19];
  limitedHuffmanLengths(clFreq, 19, 7, clLen);
  int hclen = 19;
  while (hclen > 4 && clLen[kCodeLengthOrder[hclen - 1]] == 0)
    --hclen;

  uint16_t litCode[286], distCode[30], clCode[19];
  canonicalCodes(litLen, 286, litCode);
  canonicalCodes(dist, 30, distCode);
  canonicalCodes(clLen, 19, clCode);
  reserveOutput(blockBound(FSymbolCount));

  putBits(last ? 1 : 0, 1);
  putBits(2, 2);  // dynamic Huffman codes
  putBits(uint32_t(hlit - 257), 5);
  putBits(uint32_t(hdist - 1), 5);
  putBits(uint32_t(hclen - 4), 4);
  for (int i = 0; i < hclen; ++i)
    putBits(clLen[kCodeLengthOrder[i]], 3);
  for (const Item& it : items) {
    putBits(clCode[it.symbol], clLen[it.symbol]);
    if (it.extraBits)
      putBits(it.extra, it.extraBits);
  }

  // The symbols, with the bit buffer, its count and the output position in locals: the
  // compiler keeps them in registers, which it cannot do for members written through bytes.
  // Each symbol's code is looked up once as code | length << 24, a match's length code with its
  // extra bits already in place.
  uint32_t literalCode[286];
  for (int i = 0; i < 286; ++i)
    literalCode[i] = uint32_t(litCode[i]) | uint32_t(litLen[i]) << 24;
  uint32_t matchCode[256];  // by length - 3: the length code, then its extra bits
  for (unsigned lengthIndex = 0; lengthIndex < 256; ++lengthIndex) {
    const unsigned c = kLengths.code[lengthIndex];
    matchCode[lengthIndex] =
        (uint32_t(litCode[257 + c]) | uint32_t(kLengths.extraValue[lengthIndex]) << litLen[257 + c]) |
        uint32_t(litLen[257 + c] + LengthCodes::extraBits[c]) << 24;
  }
  uint32_t distanceCode[30];
  for (int i = 0; i < 30; ++i)
    distanceCode[i] = uint32_t(distCode[i]) | uint32_t(dist[i]) << 24;
  // The whole bytes of the buffer go out after every code, without a test: all eight bytes of
  // the buffer are stored (the block's room has more than eight bytes to spare) and the output
  // moves on by the whole bytes in it, so fewer than eight bits stay behind.
  uint64_t buffer = FBitBuffer;
  unsigned count = FBitCount;
  uint8_t* out = FOut.data() + FOutUsed;
  while (count >= 8) {
    *out++ = uint8_t(buffer);
    buffer >>= 8;
    count -= 8;
  }
  const auto put = [&](uint32_t codeAndLength) {
    buffer |= uint64_t(codeAndLength & 0xffffffu) << count;
    count += codeAndLength >> 24;
    for (int b = 0; b < 8; ++b)
      out[b] = uint8_t(buffer >> (8 * b));
    const unsigned whole = count >> 3;
    out += whole;
    buffer >>= 8 * whole;
    count &= 7;
  };
  const uint32_t* symbols = FSymbols.data();
  for (size_t k = 0, n = FSymbolCount; k < n; ++k) {
    const uint32_t s = symbols[k];
    if (!(s & kMatch)) {
      put(literalCode[s]);
      continue;
    }
    put(matchCode[(s >> 8) & 0xff]);
    put(distanceCode[(s & 0xff) - 1]);
  }
  FBitBuffer = buffer;
  FBitCount = count;
  FOutUsed = size_t(out - FOut.data());
  putBits(litCode[256], litLen[256]);

  FSymbolCount = 0;
  std::fill(std::begin(FLitLenFreq), std::end(FLitLenFreq), 0u);
  std::fill(std::begin(FDistFreq), std::end(FDistFreq), 0u);
}

void RunDeflater::finish(bool last) {
  if (FFinished)
    return;
  FFinished = true;
  if (FSymbolCount || last)
    flushBlock(last);
  reserveOutput(16);
  if (!last) {
    putBits(0, 3);  // not final, stored
    alignToByte();
    for (const uint8_t b : {0x00, 0x00, 0xff, 0xff})  // length 0 and its complement
      FOut[FOutUsed++] = b;
  }
  alignToByte();
  FOut.resize(FOutUsed);
}

DeflateBytes deflateRuns(const uint8_t* data, size_t size, bool last) {
  RunDeflater d(size);
  d.add(data, size);
  d.finish(last);
  return d.takeOutput();
}
