#include "imaging/OpacityMap.h"

#include "imaging/PictureRows.h"
#include <algorithm>
#include <cmath>

namespace {

constexpr int kBlock = 32;

// True when a run of pixels holds one whose alpha is below 255.
bool anyTranslucent(const uint32_t* p, int count) {
  uint32_t all = 0xffffffffu;
  for (int i = 0; i < count; ++i)
    all &= p[i];
  return (all >> 24) != 0xffu;
}

// The bits of a run of at most 32 pixels that are not opaque.
uint32_t translucentBits(const uint32_t* p, int count) {
  uint32_t bits = 0;
  for (int i = 0; i < count; ++i)
    if ((p[i] >> 24) != 0xffu)
      bits |= uint32_t(1) << i;
  return bits;
}

// A mask of the bits from `from` up to (not including) `to`, 0 <= from <= to <= 32.
uint32_t bitsBetween(int from, int to) {
  const uint64_t upTo = (uint64_t(1) << to) - 1;
  return uint32_t(upTo & ~((uint64_t(1) << from) - 1));
}

// The touched pixels along one direction, as the renderer's source rectangle would reach them,
// inside the picture.
std::pair<int, int> touchedRange(double a, double b, int size) {
  if (!(std::max(a, b) > std::min(a, b)))  // no area, or not a number
    return {0, 0};
  const double lo = std::floor(std::min(a, b)), hi = std::ceil(std::max(a, b));
  return {int(std::clamp(lo, 0.0, double(size))), int(std::clamp(hi, 0.0, double(size)))};
}

}  // namespace

TOpacityMap::TOpacityMap(const QImage& image) { Build(image); }

void TOpacityMap::Build(const QImage& picture) {
  waitForPicture(picture);
  // Other 32-bit layouts keep alpha in the top byte as well; anything else is converted.
  const bool direct = picture.format() == QImage::Format_ARGB32_Premultiplied ||
                      picture.format() == QImage::Format_ARGB32 || picture.format() == QImage::Format_RGB32;
  const QImage image = direct ? picture : picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  FKey = picture.cacheKey();
  FBuilt = true;
  FWidth = image.width();
  FHeight = image.height();
  FBlocksAcross = (FWidth + kBlock - 1) / kBlock;
  FBlocksDown = (FHeight + kBlock - 1) / kBlock;
  FBlocks.assign(size_t(FBlocksAcross) * size_t(FBlocksDown), Opaque);
  FMaskAt.assign(FBlocks.size(), 0);
  FMasks.clear();
  // The row masks of one row of blocks, classified when the row of blocks is complete.
  std::vector<uint32_t> rowMasks(size_t(FBlocksAcross) * kBlock);
  for (int by = 0; by < FBlocksDown; ++by) {
    const int top = by * kBlock, rows = std::min(kBlock, FHeight - top);
    std::fill(rowMasks.begin(), rowMasks.end(), 0);
    for (int r = 0; r < rows; ++r) {
      const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(top + r));
      for (int bx = 0; bx < FBlocksAcross; ++bx) {
        const int count = std::min(kBlock, FWidth - bx * kBlock);
        if (anyTranslucent(row + bx * kBlock, count))
          rowMasks[size_t(bx) * kBlock + size_t(r)] = translucentBits(row + bx * kBlock, count);
      }
    }
    for (int bx = 0; bx < FBlocksAcross; ++bx) {
      const uint32_t full = bitsBetween(0, std::min(kBlock, FWidth - bx * kBlock));
      const uint32_t* masks = rowMasks.data() + size_t(bx) * kBlock;
      const bool none = std::all_of(masks, masks + rows, [](uint32_t m) { return m == 0; });
      const bool all = std::all_of(masks, masks + rows, [full](uint32_t m) { return m == full; });
      const size_t block = size_t(by) * size_t(FBlocksAcross) + size_t(bx);
      if (none)
        continue;
      if (all) {
        FBlocks[block] = Translucent;
        continue;
      }
      FBlocks[block] = Mixed;
      FMaskAt[block] = uint32_t(FMasks.size());
      FMasks.insert(FMasks.end(), masks, masks + kBlock);
    }
  }
}

bool TOpacityMap::AnyTranslucentIn(const QImage& image, const TRectF& normalized) {
  if (image.isNull())
    return false;
  if (!FBuilt || image.cacheKey() != FKey)
    Build(image);
  return AnyTranslucentIn(normalized);
}

bool TOpacityMap::AnyTranslucentIn(const TRectF& normalized) const {
  const int w = FWidth, h = FHeight;
  const auto [x0, x1] = touchedRange(double(w) * normalized.Left, double(w) * normalized.Right, w);
  const auto [y0, y1] = touchedRange(double(h) * normalized.Top, double(h) * normalized.Bottom, h);
  if (x0 >= x1 || y0 >= y1)
    return false;
  for (int by = y0 / kBlock; by * kBlock < y1; ++by)
    for (int bx = x0 / kBlock; bx * kBlock < x1; ++bx) {
      const size_t block = size_t(by) * size_t(FBlocksAcross) + size_t(bx);
      if (FBlocks[block] == Opaque)
        continue;
      if (FBlocks[block] == Translucent)
        return true;  // the region touches at least one of its pixels
      // A mixed block: the bits of the part of it inside the region.
      const int blockLeft = bx * kBlock;
      const uint32_t columns = bitsBetween(std::max(x0, blockLeft) - blockLeft, std::min(x1, blockLeft + kBlock) - blockLeft);
      const int top = std::max(y0, by * kBlock) - by * kBlock, bottom = std::min(y1, (by + 1) * kBlock) - by * kBlock;
      const uint32_t* masks = FMasks.data() + FMaskAt[block];
      for (int r = top; r < bottom; ++r)
        if (masks[r] & columns)
          return true;
    }
  return false;
}
