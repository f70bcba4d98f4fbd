#pragma once

#include "platform/Types.h"

#include <QImage>

#include <cstdint>
#include <memory>

// Area-averaging drawing of a float-pixel region of one bitmap, scaled into the whole of another:
// the reduction filter behind "Smooth downscaling".
//
// Pixel layout: both images are QImage::Format_ARGB32_Premultiplied, as in Resample.h. The
// average is taken on the premultiplied channels, so transparent pixels add no colour and soft
// edges keep their colour (no dark fringe); the result is premultiplied again, with every colour
// channel at most its alpha.
//
// The rule, per axis, for output index i of N and the source interval [S, E) of that axis:
//   - output pixel i covers the source interval [S + i (E - S) / N, S + (i + 1) (E - S) / N)
//     (ordered, so a mirrored region is averaged the same way);
//   - when that interval is at least one pixel long (a reduction on this axis) the result is the
//     average of the source pixels weighted by how much of each the interval covers;
//   - when it is shorter (an enlargement on this axis) the interval is widened to one pixel
//     around its centre, which is exactly linear interpolation between the two nearest pixels;
//   - edges: the parts of an interval left of or above the picture count for column or row 0,
//     the parts right of or below it for the last column or row (clamping to the edge pixel),
//     however far the region reaches beyond the picture.
// Both axes are applied separably, vertically first: fixed-point weights (1/32768 vertically,
// 1/65536 horizontally, each within one step of its exact value, summing exactly to one), the
// vertical sums rounded to 1/256 of a unit, the horizontal sum rounded once to a whole unit; a
// channel differs from the exact real-valued average by less than one unit, and no colour channel
// exceeds alpha (every step is the same monotonic integer arithmetic on all four channels).
//
// The target is overwritten (the drawing replaces every pixel, alpha included). An empty source
// or target, or a region with a coordinate that is not finite, draws nothing. The rows of the
// target are split over the machine's cores; the result does not depend on the split, and an
// error in any part (out of memory) is raised to the caller after every part has stopped.
void drawAreaAverage(const QImage& source, const TRectF& sourceRect, QImage& target);

// True when a Width x Height target is smaller than the region in width or in height, that is
// when the area average differs from linear interpolation and smooth downscaling applies. False
// for a region with a coordinate that is not finite.
bool isReduction(const TRectF& sourceRect, int Width, int Height);

// A picture half as wide and as high, each pixel the average of a 2 x 2 block of premultiplied
// pixels, rounded to nearest; a null image when the width or the height is odd.
QImage halveByBlocks(const QImage& source);

// The area average for outputs of any reduction, as drawAreaAverage, but a strong reduction reads
// a halved level of the picture instead of every pixel of the region: the picture halved k times,
// the largest k at which an output pixel still spans at least four pixels of the level across in
// each direction (and while the level's sides are even). The levels of the last two pictures are
// kept for the next outputs. Close to the exact average (below a unit on average, a few units at
// most on random noise); a reduction by less than 8 is exactly drawAreaAverage.
void drawReduced(const QImage& source, const TRectF& sourceRect, QImage& target);

// The rows of drawReduced's result one at a time (for instance straight into an encoder, without
// a target bitmap): row j is exactly row j of drawReduced into a targetWidth x targetHeight
// target. One object serves one thread; a copy shares the taps and the level it reads (made once)
// and has its own scratch rows, for another thread.
// Where the processor has SSE4.1 the passes of the area average use it, and AVX2 where it has
// that too, with exactly the same results. Tests turn these paths off to compare them; each
// returns whether its path was allowed (AVX2 is used only while both are).
bool setAreaAverageVectorPath(bool allowed);
bool setAreaAverageAvx2Path(bool allowed);

class AreaAverageRows {
public:
  AreaAverageRows(const QImage& source, const TRectF& sourceRect, int targetWidth, int targetHeight);
  AreaAverageRows(const AreaAverageRows& other);
  AreaAverageRows& operator=(const AreaAverageRows&) = delete;
  ~AreaAverageRows();
  void render(int row, uint32_t* out);
  // The source rows from the top that render(row) reads: where it reads a halved level, the rows
  // of the picture that level's rows are made from (render makes them as they are wanted, so a
  // picture still being decoded, PictureRows.h, is followed row by row either way).
  int sourceRowsFor(int row) const;
  // Whether such a reduction reads a halved level of the picture.
  static bool readsHalvedLevel(const TRectF& sourceRect, int targetWidth, int targetHeight);

private:
  struct Taps;
  struct Scratch;
  std::shared_ptr<const Taps> FTaps;  // none: nothing is drawn
  std::unique_ptr<Scratch> FScratch;
};
