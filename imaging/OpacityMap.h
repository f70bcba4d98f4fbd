#pragma once

#include "platform/Types.h"

#include <QImage>
#include <vector>

// Answers quickly whether a region of a picture holds a pixel that is not fully opaque (alpha
// below 255), for pictures of any size: the picture is scanned once into a grid of 32 x 32
// blocks, each flagged when it holds such a pixel; a query visits the blocks the region touches
// and looks at single pixels only in flagged blocks that the region covers in part. The map keeps
// no reference to the picture.
class TOpacityMap {
public:
  // True when a pixel of the picture that the region touches is not fully opaque. The picture is
  // premultiplied ARGB32 (a bitmap's image); the map is made again whenever the picture differs
  // from the last one asked about (by its cache key, which changes with every change of pixels).
  // The region is given in fractions 0..1 of the picture's width and height (a normalized
  // selection); it touches the pixels from the floor of its smaller to the ceiling of its larger
  // coordinate in each direction, taken inside the picture. An empty picture, a region without
  // area (or with a coordinate that is not a number) and a region beside the picture give false.
  bool AnyTranslucentIn(const QImage& image, const TRectF& normalized);

private:
  void Build(const QImage& image);

  qint64 FKey = 0;
  int FBlocksAcross = 0;
  int FBlocksDown = 0;
  std::vector<unsigned char> FTranslucent;  // one flag per block, row by row
};
