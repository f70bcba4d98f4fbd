#include "imaging/PngFilter.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The predictor of byte i as the PNG format defines it, written out on its own.
int predicted(int type, const std::vector<uint8_t>& cur, const std::vector<uint8_t>& prev, size_t i, unsigned bpp) {
  const int a = i >= bpp ? cur[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
  switch (type) {
    case 1:
      return a;
    case 2:
      return b;
    case 3:
      return (a + b) / 2;
    case 4: {
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    }
    default:
      return 0;
  }
}

// Rows whose neighbours differ by small and by large amounts, so that every branch of the
// Paeth predictor and every carry of the averages is taken.
std::vector<uint8_t> rowOf(size_t n, QRandomGenerator& rng) {
  std::vector<uint8_t> row(n);
  for (size_t i = 0; i < n; ++i)
    row[i] = rng.bounded(3) ? uint8_t(i >= 4 ? row[i - 4] + int(rng.bounded(9)) - 4 : rng.bounded(256))
                            : uint8_t(rng.bounded(256));
  return row;
}

}  // namespace

// The row filters and their undoing agree with the byte-by-byte definition for every type, every
// pixel size the decoder meets, lengths around the 16-byte steps, and the first row (zeros above).
TEST(PngFilter, EveryTypeMatchesTheDefinitionAndUndoesExactly) {
  QRandomGenerator rng(31);
  const size_t lengths[] = {0, 4, 12, 16, 20, 36, 64, 100, 4100};
  for (unsigned bpp = 1; bpp <= 4; ++bpp)
    for (size_t pixels : lengths)
      for (bool firstRow : {true, false})
        for (int type = 0; type <= 4; ++type) {
          const size_t n = pixels / 4 * bpp;
          const std::vector<uint8_t> cur = rowOf(n, rng);
          const std::vector<uint8_t> prev = firstRow ? std::vector<uint8_t>(n, 0) : rowOf(n, rng);
          std::vector<uint8_t> filtered(n);
          for (size_t i = 0; i < n; ++i)
            filtered[i] = uint8_t(cur[i] - predicted(type, cur, prev, i, bpp));
          const std::string what = "type " + std::to_string(type) + " bpp " + std::to_string(bpp) + " bytes " +
                                   std::to_string(n) + (firstRow ? " first row" : "");
          if (bpp == 4) {
            std::vector<uint8_t> out(n);
            pngFilterRow(PngFilterType(type), cur.data(), prev.data(), n, out.data());
            ASSERT_EQ(out, filtered) << what;
          }
          std::vector<uint8_t> row = filtered;
          ASSERT_TRUE(pngUnfilterRow(uint8_t(type), row.data(), prev.data(), n, bpp)) << what;
          ASSERT_EQ(row, cur) << what;
        }
  std::vector<uint8_t> row(8, 0), prev(8, 0);
  EXPECT_FALSE(pngUnfilterRow(5, row.data(), prev.data(), row.size(), 4)) << "filter type 5 does not exist";
}

// Two Paeth rows undone together give exactly what the definition gives row after row, for
// rows of zero, one, two and many pixels, under a first row (zeros above) or under pixels.
TEST(PngFilter, PaethPairMatchesTwoRowsByDefinition) {
  QRandomGenerator rng(47);
  for (size_t pixels : {0, 1, 2, 3, 5, 16, 1025})
    for (bool firstRow : {true, false}) {
      const size_t n = pixels * 4;
      const std::vector<uint8_t> prev = firstRow ? std::vector<uint8_t>(n, 0) : rowOf(n, rng);
      const std::vector<uint8_t> one = rowOf(n, rng), two = rowOf(n, rng);
      std::vector<uint8_t> filteredOne(n), filteredTwo(n);
      for (size_t i = 0; i < n; ++i) {
        filteredOne[i] = uint8_t(one[i] - predicted(4, one, prev, i, 4));
        filteredTwo[i] = uint8_t(two[i] - predicted(4, two, one, i, 4));
      }
      pngUnfilterPaethPair(filteredOne.data(), filteredTwo.data(), prev.data(), n);
      const std::string what = std::to_string(pixels) + " pixels" + (firstRow ? " first row" : "");
      ASSERT_EQ(filteredOne, one) << what;
      ASSERT_EQ(filteredTwo, two) << what;
    }
}

// The filter choice's measure: the sum of the bytes' magnitudes as signed bytes (0x80 counts 128).
TEST(PngFilter, SubAndUpCostsAreSumsOfSignedMagnitudes) {
  QRandomGenerator rng(8);
  for (size_t n : {size_t(4), size_t(16), size_t(44), size_t(4096)}) {
    const std::vector<uint8_t> cur = rowOf(n, rng), prev = rowOf(n, rng);
    uint64_t sub = 0, up = 0, expectedSub = 0, expectedUp = 0;
    for (size_t i = 0; i < n; ++i) {
      expectedSub += uint64_t(std::abs(int(int8_t(uint8_t(cur[i] - (i >= 4 ? cur[i - 4] : 0))))));
      expectedUp += uint64_t(std::abs(int(int8_t(uint8_t(cur[i] - prev[i])))));
    }
    pngSubUpCosts(cur.data(), prev.data(), n, sub, up);
    EXPECT_EQ(sub, expectedSub) << n;
    EXPECT_EQ(up, expectedUp) << n;
  }
}
