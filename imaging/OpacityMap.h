#pragma once

#include "platform/Types.h"

#include <QImage>
#include <cstdint>
#include <vector>

// Answers quickly whether a region of a picture holds a pixel that is not fully opaque (alpha
// below 255), for pictures of any size, without keeping the picture: the picture is scanned once
// into a grid of 32 x 32 blocks, each opaque, wholly translucent or mixed; a mixed block keeps one
// bit per pixel. A query visits the blocks the region touches and looks at the bits only of mixed
// blocks. An 8192 x 8192 picture with soft edges keeps a few hundred kilobytes.
class TOpacityMap {
public:
  TOpacityMap() = default;
  // The map of this picture (premultiplied ARGB32, a bitmap's image; other formats are converted).
  explicit TOpacityMap(const QImage& image);

  // True when a pixel of the mapped picture that the region touches is not fully opaque. The
  // region is given in fractions 0..1 of the picture's width and height (a normalized selection);
  // it touches the pixels from the floor of its smaller to the ceiling of its larger coordinate in
  // each direction, taken inside the picture. No picture, a region without area (or with a
  // coordinate that is not a number) and a region beside the picture give false.
  bool AnyTranslucentIn(const TRectF& normalized) const;

  // The same question of a picture given each time: the map is made again whenever the picture
  // differs from the last one asked about (by its cache key, which changes with every change of
  // pixels).
  bool AnyTranslucentIn(const QImage& image, const TRectF& normalized);

private:
  enum : unsigned char { Opaque, Translucent, Mixed };
  void Build(const QImage& image);

  qint64 FKey = 0;
  bool FBuilt = false;
  int FWidth = 0;
  int FHeight = 0;
  int FBlocksAcross = 0;
  int FBlocksDown = 0;
  std::vector<unsigned char> FBlocks;  // one state per block, row by row
  std::vector<uint32_t> FMaskAt;       // for a mixed block: where its 32 row masks start in FMasks
  std::vector<uint32_t> FMasks;        // a bit per pixel, set where the pixel is not opaque
};
