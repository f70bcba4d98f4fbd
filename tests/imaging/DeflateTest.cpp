#include "imaging/Deflate.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

namespace {

// Raw deflate data inflated by zlib; ok only when the stream ends with its final block exactly at
// the end of the data.
struct Inflated {
  bool ok = false;
  std::vector<uint8_t> bytes;
};

Inflated inflateRaw(const std::vector<uint8_t>& in, size_t expectedSize) {
  Inflated r;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK)
    return r;
  r.bytes.resize(expectedSize + 64);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = r.bytes.data();
  z.avail_out = uInt(r.bytes.size());
  const int rc = inflate(&z, Z_FINISH);
  r.ok = rc == Z_STREAM_END && z.avail_in == 0;
  r.bytes.resize(r.bytes.size() - z.avail_out);
  inflateEnd(&z);
  return r;
}

// Compresses data as segments split at the given offsets, each segment fed in add() calls of
// `chunk` bytes (0: one call), and joins the segments.
std::vector<uint8_t> deflateSegments(const std::vector<uint8_t>& data, const std::vector<size_t>& cuts, size_t chunk) {
  std::vector<uint8_t> joined;
  size_t begin = 0;
  for (size_t s = 0; s <= cuts.size(); ++s) {
    const size_t end = s < cuts.size() ? cuts[s] : data.size();
    RunDeflater d;
    for (size_t at = begin; at < end;) {
      const size_t n = chunk ? std::min(chunk, end - at) : end - at;
      d.add(data.data() + at, n);
      at += n;
    }
    const bool last = s == cuts.size();
    d.finish(last);
    const DeflateBytes& out = d.output();
    if (!last) {
      EXPECT_GE(out.size(), 5u);
      EXPECT_EQ(std::vector<uint8_t>(out.end() - 4, out.end()), (std::vector<uint8_t>{0, 0, 0xff, 0xff}))
          << "a segment that is not the last ends with an empty stored block";
    }
    joined.insert(joined.end(), out.begin(), out.end());
    begin = end;
  }
  return joined;
}

struct Pattern {
  const char* name;
  std::function<uint8_t(size_t i, QRandomGenerator& rng)> byte;
};

const std::vector<Pattern>& patterns() {
  static const std::vector<Pattern> p = {
      {"random", [](size_t, QRandomGenerator& r) { return uint8_t(r.bounded(256)); }},
      {"all equal", [](size_t, QRandomGenerator&) { return uint8_t(7); }},
      {"all different neighbours", [](size_t i, QRandomGenerator&) { return uint8_t(i * 37); }},
      {"pixel repeats", [](size_t i, QRandomGenerator&) { return uint8_t(0x40 + i % 4); }},
      // Runs of random length 1 to 600 of random bytes, some at distance 4: every run length,
      // runs longer than 258, runs crossing any cut.
      {"runs",
       [](size_t i, QRandomGenerator& r) {
         static thread_local uint8_t value = 0;
         static thread_local size_t left = 0;
         if (i == 0)
           left = 0;
         if (left == 0) {
           left = 1 + r.bounded(600);
           value = uint8_t(r.bounded(4));
         }
         --left;
         return left % 97 < 50 ? value : uint8_t(i % 4);
       }},
      // A filtered photograph: mostly small values around 0 with a few larger.
      {"small deltas", [](size_t, QRandomGenerator& r) { return uint8_t(int(r.bounded(7)) - 3); }},
  };
  return p;
}

std::vector<uint8_t> makeBytes(const Pattern& p, size_t size, quint32 seed) {
  QRandomGenerator rng(seed);
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i)
    v[i] = p.byte(i, rng);
  return v;
}

}  // namespace

// Every pattern, size, segmentation and add() chunking inflates with zlib to exactly the input.
TEST(RunDeflater, JoinedSegmentsInflateToTheInput) {
  QRandomGenerator rng(2024);
  const size_t sizes[] = {0, 1, 2, 3, 4, 5, 17, 258, 259, 1000, 40000, 150001};
  for (const Pattern& p : patterns()) {
    for (size_t size : sizes) {
      const std::vector<uint8_t> data = makeBytes(p, size, quint32(size));
      std::vector<std::vector<size_t>> cutSets = {{}};
      if (size >= 2)
        cutSets.push_back({size / 2});
      if (size >= 4)
        cutSets.push_back({1, size / 3, size - 1});
      for (const auto& cuts : cutSets)
        for (size_t chunk : {size_t(0), size_t(1), size_t(3), size_t(4001)}) {
          const std::vector<uint8_t> z = deflateSegments(data, cuts, chunk);
          const Inflated back = inflateRaw(z, data.size());
          const std::string what = std::string(p.name) + " size " + std::to_string(size) + " cuts " +
                                   std::to_string(cuts.size()) + " chunk " + std::to_string(chunk);
          ASSERT_TRUE(back.ok) << what;
          ASSERT_EQ(back.bytes, data) << what;
        }
    }
  }
}

// Runs compress as runs: an all-equal megabyte becomes a few kilobytes, and the bytes of a
// filtered picture (small values) shrink well below one byte each, while random bytes do not
// grow by more than a block header per block.
TEST(RunDeflater, RunsAndSkewedBytesCompress) {
  const std::vector<uint8_t> zeros(1 << 20, 0);
  EXPECT_LT(deflateRuns(zeros.data(), zeros.size(), true).size(), 2000u);
  const std::vector<uint8_t> pixels = makeBytes(patterns()[3], 1 << 20, 1);
  EXPECT_LT(deflateRuns(pixels.data(), pixels.size(), true).size(), 3000u);
  const std::vector<uint8_t> small = makeBytes(patterns()[5], 1 << 20, 1);
  EXPECT_LT(deflateRuns(small.data(), small.size(), true).size(), small.size() * 3 / 8);
  const std::vector<uint8_t> noise = makeBytes(patterns()[0], 1 << 20, 1);
  EXPECT_LT(deflateRuns(noise.data(), noise.size(), true).size(), noise.size() + noise.size() / 100);
}

// The prefix codes: complete (Kraft sum exactly 1), within the length limit, and shorter codes for
// more frequent symbols; frequencies that make Huffman's tree deeper than the limit included.
TEST(RunDeflater, LimitedHuffmanCodesAreCompleteAndOrdered) {
  std::vector<std::vector<uint32_t>> cases;
  cases.push_back({0, 0, 0});      // nothing used
  cases.push_back({0, 0, 5, 0});   // one symbol
  cases.push_back({1, 1});
  std::vector<uint32_t> fib(30);   // Fibonacci weights: a tree 29 deep without the limit
  fib[0] = fib[1] = 1;
  for (size_t i = 2; i < fib.size(); ++i)
    fib[i] = fib[i - 1] + fib[i - 2];
  cases.push_back(fib);
  std::vector<uint32_t> many(286);
  QRandomGenerator rng(5);
  for (auto& f : many)
    f = rng.bounded(3) ? uint32_t(1) << rng.bounded(20) : 0;
  cases.push_back(many);
  for (int maxLength : {7, 15}) {
    for (const auto& freq : cases) {
      std::vector<uint8_t> len(freq.size() < 2 ? 2 : freq.size());
      std::vector<uint32_t> f = freq;
      f.resize(len.size(), 0);
      if (std::count_if(f.begin(), f.end(), [](uint32_t v) { return v != 0; }) > (1 << maxLength))
        continue;  // no code of that limit exists
      limitedHuffmanLengths(f.data(), int(f.size()), maxLength, len.data());
      double kraft = 0;
      for (size_t i = 0; i < len.size(); ++i) {
        ASSERT_LE(len[i], maxLength);
        if (f[i])
          ASSERT_GT(len[i], 0) << "used symbol " << i << " has no code";
        if (len[i])
          kraft += std::ldexp(1.0, -len[i]);
        for (size_t j = 0; j < len.size(); ++j)
          if (f[i] && f[j] && f[i] > f[j])
            ASSERT_LE(len[i], len[j]) << i << " is more frequent than " << j;
      }
      EXPECT_EQ(kraft, 1.0) << "size " << freq.size() << " limit " << maxLength;
    }
  }
}
