#pragma once

#include "platform/Types.h"

#include <QImage>

#include <algorithm>
#include <cstdint>
#include <vector>

// Bilinear drawing of a float-pixel region of one bitmap, scaled into the whole of another.
//
// Pixel layout: both images are QImage::Format_ARGB32_Premultiplied (32-bit pixels, colours
// premultiplied by alpha; blue, green, red, alpha in memory on a little-endian machine).
//
// The rule, for the output pixel in column i and row j of a W x H target, and the source
// rectangle (L, T, R, B) in float pixels of the source:
//   - its centre maps to the source point
//       x = L + (i + 0.5) * (R - L) / W,   y = T + (j + 0.5) * (B - T) / H
//     (horizontal and vertical scale are independent: a region of another ratio is stretched);
//   - source pixel (k, l) has its centre at (k + 0.5, l + 0.5); with u = x - 0.5, v = y - 0.5,
//     x0 = floor(u), y0 = floor(v), fx = u - x0, fy = v - y0, the result is the linear
//     interpolation of the 2 x 2 pixels (x0, y0), (x0 + 1, y0), (x0, y0 + 1), (x0 + 1, y0 + 1)
//     with weights (1 - fx)(1 - fy), fx(1 - fy), (1 - fx)fy, fx fy, on each of the four
//     premultiplied channels, rounded to the nearest integer. There is no area averaging: a
//     strong reduction samples only those four pixels per output pixel.
//   - Edges: a pixel index left of or above the picture takes column or row 0, one right of or
//     below it the last column or row (clamping to the nearest edge pixel). The source
//     rectangle itself is neither rounded nor clamped, so a region reaching beyond the picture
//     repeats the edge pixels.
//   - The fractions fx and fy are quantized to 1/4096 and the sum is formed in integers, so a
//     channel differs from the exact real-valued result by less than one unit.
//   - The target is overwritten: drawing source-over onto a target cleared to transparent black
//     gives exactly the interpolated value, alpha included, which is what this writes.
// An empty source or target draws nothing. The work is split over the machine's cores; the
// result does not depend on the split. An error on any thread is raised on the caller's.
void drawBilinear(const QImage& source, const TRectF& sourceRect, QImage& target);

// Where the processor has SSE4.1 the draw uses it, with exactly the same results. Tests turn that
// path off to compare the two; returns whether it was allowed before.
bool setBilinearVectorPath(bool allowed);

// The same draw, one target row at a time (for instance straight into an encoder, without a
// target bitmap): row j is exactly row j of drawBilinear's result. Rows asked for in increasing
// order reuse the horizontal passes of the rows before. The source must not be empty and must
// outlive this object; one object serves one thread.
class BilinearRows {
public:
  BilinearRows(const QImage& source, const TRectF& sourceRect, int targetWidth, int targetHeight);
  void render(int row, uint32_t* out);
  // The source rows from the top that render(row) reads.
  int sourceRowsFor(int row) const { return std::max(FYTaps[size_t(row)].i0, FYTaps[size_t(row)].i1) + 1; }

  struct Tap {
    int i0;      // first pixel index (clamped)
    int i1;      // second pixel index (clamped)
    uint32_t w;  // weight of the second pixel, in 1/4096
  };

  // The draw's arithmetic, for a caller that gets the source rows one at a time (the decoder's
  // reduction): the taps of an axis of `count` outputs over the source span [start, start +
  // extent) of a picture `sourceSize` pixels long; the horizontal pass of one source row (two
  // lane words per output pixel); and the vertical blend of two such passes into output pixels.
  static std::vector<Tap> taps(double start, double extent, int count, int sourceSize);
  static void horizontal(const uint32_t* row, const std::vector<Tap>& xt, uint64_t* out);
  static void vertical(const uint64_t* top, const uint64_t* bottom, uint32_t w, size_t width, uint32_t* out);

private:
  void horizontalPass(const uint32_t* row, uint64_t* out) const;

  const QImage& FSource;
  bool FVector = false;  // the SSE4.1 path, on processors that have it
  bool FDirect = false;  // with it, both passes at once per output row (strong vertical reductions)
  std::vector<Tap> FXTaps, FYTaps;
  std::vector<uint64_t> FTop, FBottom;
  int FTopRow = -1, FBottomRow = -1;
};
