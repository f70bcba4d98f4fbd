#include "imaging/OpacityMap.h"

#include "imaging/PictureRows.h"
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr int kBlock = 32;

// True when a run of pixels holds one whose alpha is below 255.
bool anyTranslucent(const uint32_t* p, int count) {
  uint32_t all = 0xffffffffu;
  for (int i = 0; i < count; ++i)
    all &= p[i];
  return (all >> 24) != 0xffu;
}

}  // namespace

void TOpacityMap::Build(const QImage& image) {
  waitForPicture(image);
  FKey = image.cacheKey();
  const int w = image.width(), h = image.height();
  FBlocksAcross = (w + kBlock - 1) / kBlock;
  FBlocksDown = (h + kBlock - 1) / kBlock;
  FTranslucent.assign(size_t(FBlocksAcross) * size_t(FBlocksDown), 0);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    unsigned char* flags = FTranslucent.data() + size_t(y / kBlock) * size_t(FBlocksAcross);
    for (int bx = 0; bx < FBlocksAcross; ++bx)
      if (!flags[bx] && anyTranslucent(row + bx * kBlock, std::min(kBlock, w - bx * kBlock)))
        flags[bx] = 1;
  }
}

bool TOpacityMap::AnyTranslucentIn(const QImage& picture, const TRectF& normalized) {
  waitForPicture(picture);
  if (picture.isNull())
    return false;
  // Other 32-bit layouts keep alpha in the top byte as well; anything else is converted.
  const bool direct = picture.format() == QImage::Format_ARGB32_Premultiplied ||
                      picture.format() == QImage::Format_ARGB32 || picture.format() == QImage::Format_RGB32;
  const QImage image = direct ? picture : picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (image.cacheKey() != FKey || FTranslucent.empty())
    Build(image);
  const int w = image.width(), h = image.height();
  // The touched pixels, as the renderer's source rectangle would reach them, inside the picture.
  auto range = [](double a, double b, int size) {
    if (!(std::max(a, b) > std::min(a, b)))  // no area, or not a number
      return std::pair{0, 0};
    const double lo = std::floor(std::min(a, b)), hi = std::ceil(std::max(a, b));
    return std::pair{int(std::clamp(lo, 0.0, double(size))), int(std::clamp(hi, 0.0, double(size)))};
  };
  const auto [x0, x1] = range(double(w) * normalized.Left, double(w) * normalized.Right, w);
  const auto [y0, y1] = range(double(h) * normalized.Top, double(h) * normalized.Bottom, h);
  if (x0 >= x1 || y0 >= y1)
    return false;
  for (int by = y0 / kBlock; by * kBlock < y1; ++by)
    for (int bx = x0 / kBlock; bx * kBlock < x1; ++bx) {
      if (!FTranslucent[size_t(by) * size_t(FBlocksAcross) + size_t(bx)])
        continue;
      // The part of the block inside the region; a flagged block covered whole needs no look.
      const int left = std::max(x0, bx * kBlock), right = std::min({x1, (bx + 1) * kBlock, w});
      const int top = std::max(y0, by * kBlock), bottom = std::min({y1, (by + 1) * kBlock, h});
      const bool whole = left == bx * kBlock && right == std::min((bx + 1) * kBlock, w) && top == by * kBlock &&
                         bottom == std::min((by + 1) * kBlock, h);
      if (whole)
        return true;
      for (int y = top; y < bottom; ++y)
        if (anyTranslucent(reinterpret_cast<const uint32_t*>(image.constScanLine(y)) + left, right - left))
          return true;
    }
  return false;
}
