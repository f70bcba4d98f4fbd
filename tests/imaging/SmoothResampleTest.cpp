#include "imaging/SmoothResample.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#include <gtest/gtest.h>

namespace {

// A premultiplied picture with texture in every channel, a fully transparent block and
// semi-transparent pixels.
QImage fixture(int w, int h, quint32 seed) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  QRandomGenerator rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int a = (x < w / 3 && y < h / 2) ? 0 : int(rng.bounded(256));
      img.setPixel(x, y, qPremultiply(qRgba(int(rng.bounded(256)), int(rng.bounded(256)), int(rng.bounded(256)), a)));
    }
  return img;
}

// The area average computed independently and directly: the output pixel's box in the source
// (widened to one pixel where it is shorter), every unit cell it touches weighted by the area it
// covers, a cell outside the picture standing for the nearest edge pixel.
double referenceChannel(const QImage& src, const TRectF& r, int W, int H, int i, int j, int channel) {
  auto box = [](double start, double end, int n, int k) {
    double a = start + k * (end - start) / n, b = start + (k + 1) * (end - start) / n;
    if (a > b)
      std::swap(a, b);
    if (b - a < 1) {
      const double c = (a + b) / 2;
      a = c - 0.5;
      b = c + 0.5;
    }
    return std::pair{a, b};
  };
  const auto [x0, x1] = box(r.Left, r.Right, W, i);
  const auto [y0, y1] = box(r.Top, r.Bottom, H, j);
  double sum = 0;
  for (int cy = int(std::floor(y0)); cy < y1; ++cy)
    for (int cx = int(std::floor(x0)); cx < x1; ++cx) {
      const double area = (std::min(x1, cx + 1.0) - std::max(x0, double(cx))) *
                          (std::min(y1, cy + 1.0) - std::max(y0, double(cy)));
      const int px = std::clamp(cx, 0, src.width() - 1), py = std::clamp(cy, 0, src.height() - 1);
      sum += area * ((reinterpret_cast<const QRgb*>(src.constScanLine(py))[px] >> (8 * channel)) & 0xff);
    }
  return sum / ((x1 - x0) * (y1 - y0));
}

}  // namespace

TEST(SmoothResample, MatchesAnIndependentAreaAverageWithinOneUnit) {
  struct Case {
    const char* what;
    int sw, sh;
    TRectF rect;
    int W, H;
  };
  const Case cases[] = {
      {"whole picture with a transparent block, reduced", 37, 23, {0, 0, 37, 23}, 7, 5},
      {"fractional region, independent scales", 37, 23, {2.3f, 1.7f, 30.9f, 20.2f}, 11, 4},
      {"region reaching beyond the picture repeats the edges", 37, 23, {-10, -5, 50, 30}, 9, 6},
      {"enlarged across, reduced down", 37, 23, {1.5f, 0, 9.5f, 23}, 25, 4},
      {"mirrored region", 37, 23, {30, 0, 5, 23}, 6, 5},
      {"to a single pixel", 37, 23, {0, 0, 37, 23}, 1, 1},
      {"large target split over cores", 800, 600, {0, 0, 800, 600}, 397, 301},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QImage src = fixture(c.sw, c.sh, 7);
    QImage dst(c.W, c.H, QImage::Format_ARGB32_Premultiplied);
    dst.fill(0x5a5a5a5a);  // every pixel must be overwritten
    drawAreaAverage(src, c.rect, dst);
    for (int j = 0; j < c.H; ++j)
      for (int i = 0; i < c.W; ++i) {
        const QRgb p = reinterpret_cast<const QRgb*>(dst.constScanLine(j))[i];
        for (int ch = 0; ch < 4; ++ch) {
          const double ref = referenceChannel(src, c.rect, c.W, c.H, i, j, ch);
          ASSERT_LE(std::abs(int((p >> (8 * ch)) & 0xff) - ref), 1.0) << i << "," << j << " ch " << ch;
        }
        // Still premultiplied: no colour channel above alpha.
        ASSERT_LE(std::max({qRed(p), qGreen(p), qBlue(p)}), qAlpha(p)) << i << "," << j;
      }
  }
}

TEST(SmoothResample, AppliesOnlyWhereTheOutputIsSmallerThanItsRegion) {
  struct Case {
    const char* what;
    TRectF rect;
    int W, H;
    bool reduction;
  };
  const Case cases[] = {
      {"smaller both ways", {0, 0, 4096, 4096}, 29, 29, true},
      {"narrower only", {0, 0, 100, 10}, 50, 20, true},
      {"lower only, mirrored", {0, 100, 10, 0}, 20, 50, true},
      {"same size", {0.5f, 0.5f, 100.5f, 50.5f}, 100, 50, false},
      {"enlarged", {0, 0, 10, 10}, 20, 20, false},
      {"not a number", {0, 0, NAN, 10}, 5, 5, false},
      {"infinite", {-INFINITY, 0, 10, 10}, 5, 5, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(isReduction(c.rect, c.W, c.H), c.reduction) << c.what;
}

// A strong reduction reads the picture halved as often as an output pixel still spans four pixels
// of the level (only while the sides are even); a mild one, or one of an odd-sized picture, is the
// exact area average. Row by row gives exactly the whole draw.
TEST(SmoothResample, StrongReductionsReadAHalvedLevelAndRowsMatchTheDraw) {
  const QImage even = fixture(256, 128, 7), odd = fixture(255, 127, 8);
  const QImage half = halveByBlocks(even);
  ASSERT_EQ(half.size(), QSize(128, 64));
  // Each block's rounded average, by the vector and the plain path, on an even and an odd number
  // of blocks across.
  for (const bool vector : {true, false})
    for (const QImage& picture : {even, fixture(202, 6, 10)}) {
      const bool before = setAreaAverageVectorPath(vector);
      const QImage halved = halveByBlocks(picture);
      setAreaAverageVectorPath(before);
      ASSERT_EQ(halved.size(), picture.size() / 2);
      for (int y = 0; y < halved.height(); ++y)
        for (int x = 0; x < halved.width(); ++x)
          for (int c = 0; c < 32; c += 8) {
            int sum = 2;
            for (const QPoint d : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)})
              sum += int((picture.pixel(2 * x + d.x(), 2 * y + d.y()) >> c) & 0xff);
            ASSERT_EQ(int((halved.pixel(x, y) >> c) & 0xff), sum / 4)
                << (vector ? "vector " : "plain ") << picture.width() << ": " << x << "," << y;
          }
    }
  EXPECT_TRUE(halveByBlocks(odd).isNull());

  auto draw = [](auto filter, const QImage& src, const TRectF& r, int w, int h) {
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    out.fill(0);
    filter(src, r, out);
    return out;
  };
  const TRectF all{0, 0, 256, 128};
  struct Case {
    const char* what;
    QImage src;
    TRectF rect;
    int w, h;
    QImage expected;
  };
  const Case cases[] = {
      {"by 25.6: the picture halved twice", even, all, 10, 5,
       draw(drawAreaAverage, halveByBlocks(half), TRectF{0, 0, 64, 32}, 10, 5)},
      {"by 12.8: the picture halved once", even, all, 20, 10, draw(drawAreaAverage, half, TRectF{0, 0, 128, 64}, 20, 10)},
      {"by 6.4: the picture itself", even, all, 40, 20, draw(drawAreaAverage, even, all, 40, 20)},
      {"odd sides: the picture itself", odd, TRectF{0, 0, 255, 127}, 20, 10,
       draw(drawAreaAverage, odd, TRectF{0, 0, 255, 127}, 20, 10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QImage reduced = draw(drawReduced, c.src, c.rect, c.w, c.h);
    EXPECT_EQ(reduced, c.expected);
    AreaAverageRows rows(c.src, c.rect, c.w, c.h);
    for (int y = 0; y < c.h; ++y) {
      std::vector<uint32_t> row(size_t(c.w), 0);
      rows.render(y, row.data());
      ASSERT_EQ(0, std::memcmp(row.data(), reduced.constScanLine(y), size_t(c.w) * 4)) << "row " << y;
    }
    // Close to the exact average of the whole region even when read from a level: on this noise,
    // the worst case for the blocks a level averages, a few units at most and below one on average.
    double total = 0, worst = 0;
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        for (int ch = 0; ch < 4; ++ch) {
          const double d = std::abs(int((reduced.pixel(x, y) >> (8 * ch)) & 0xff) -
                                    referenceChannel(c.src, c.rect, c.w, c.h, x, y, ch));
          total += d;
          worst = std::max(worst, d);
        }
    EXPECT_LE(total / (c.w * c.h * 4), 1.0);
    EXPECT_LE(worst, 6.0);
  }
}

// The vector passes give exactly the plain passes' pixels: reductions by small and large factors
// (two, three, four and more source rows per output row, weights up to the full weight where a
// row is enlarged), widths around the 16-byte steps, regions reaching beyond the picture.
TEST(SmoothResample, TheVectorPassesGiveThePlainPassesPixels) {
  const QImage src = fixture(203, 157, 9);
  const struct {
    TRectF rect;
    int w, h;
  } cases[] = {
      {{0, 0, 203, 157}, 101, 78},    {{0, 0, 203, 157}, 67, 52},  {{3.5f, 2.25f, 200.5f, 150.75f}, 37, 41},
      {{0, 0, 203, 157}, 13, 300},    {{0, 0, 203, 157}, 400, 9},  {{-20, -10, 230, 170}, 50, 40},
      {{10.3f, 7.7f, 50.1f, 90.9f}, 5, 17}, {{0, 0, 203, 157}, 1, 1},
  };
  // Each path on its own: the plain passes, SSE4.1 alone, and AVX2 (where the processor has them).
  const auto drawWith = [&src](bool vector, bool avx2, const TRectF& rect, int w, int h) {
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    const bool vectorBefore = setAreaAverageVectorPath(vector), avx2Before = setAreaAverageAvx2Path(avx2);
    drawAreaAverage(src, rect, out);
    setAreaAverageVectorPath(vectorBefore);
    setAreaAverageAvx2Path(avx2Before);
    return out;
  };
  for (const auto& c : cases) {
    const QImage plain = drawWith(false, false, c.rect, c.w, c.h);
    EXPECT_EQ(drawWith(true, false, c.rect, c.w, c.h), plain) << "SSE4.1, " << c.w << " x " << c.h;
    EXPECT_EQ(drawWith(true, true, c.rect, c.w, c.h), plain) << "AVX2, " << c.w << " x " << c.h;
  }
}

// A strong reduction of a picture whose rows are still arriving (the rows not yet written hold
// another pattern) reads no row beyond those sourceRowsFor names: the halved levels are made from
// the rows as they are read, and row by row the result is drawReduced's on the finished picture.
// Its first rows need only the top of the picture.
TEST(SmoothResample, HalvedLevelsAreMadeFromTheRowsAsTheyArrive) {
  const QImage finished = fixture(256, 192, 12);
  const TRectF rect{3.5f, 2.0f, 250.0f, 190.5f};
  const struct {
    int w, h;
  } cases[] = {{20, 15}, {10, 7}, {12, 9}, {3, 1}};  // halved once, twice, twice, four times
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
    ASSERT_TRUE(AreaAverageRows::readsHalvedLevel(rect, c.w, c.h));
    QImage expected(c.w, c.h, QImage::Format_ARGB32_Premultiplied);
    drawReduced(finished, rect, expected);
    QImage arriving(finished.size(), QImage::Format_ARGB32_Premultiplied);
    arriving.fill(0x80ff00ffu);
    uchar* bits = arriving.bits();  // written through this, as a decoder writes its rows
    AreaAverageRows rows(arriving, rect, c.w, c.h);
    if (c.h > 2)
      EXPECT_LT(rows.sourceRowsFor(0), finished.height() / 2);
    int written = 0;
    for (int y = 0; y < c.h; ++y) {
      for (const int wanted = rows.sourceRowsFor(y); written < wanted; ++written)
        std::memcpy(bits + arriving.bytesPerLine() * written, finished.constScanLine(written),
                    size_t(finished.width()) * 4);
      std::vector<uint32_t> row(size_t(c.w), 0);
      rows.render(y, row.data());
      ASSERT_EQ(0, std::memcmp(row.data(), expected.constScanLine(y), size_t(c.w) * 4)) << "row " << y;
    }
  }
}
