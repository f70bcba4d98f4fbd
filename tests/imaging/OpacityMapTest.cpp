#include "imaging/OpacityMap.h"

#include <gtest/gtest.h>

TEST(OpacityMap, FindsANonOpaquePixelOnlyWhereTheRegionTouchesIt) {
  // 100 x 70, opaque everywhere but pixel (65, 40), whose alpha is 254.
  QImage img(100, 70, QImage::Format_ARGB32_Premultiplied);
  img.fill(qRgba(10, 200, 30, 255));
  img.setPixel(65, 40, qPremultiply(qRgba(10, 200, 30, 254)));
  struct Case {
    const char* what;
    TRectF region;
    bool translucent;
  };
  const Case cases[] = {
      {"the whole picture", {0, 0, 1, 1}, true},
      {"ends just before the pixel's column", {0, 0, 0.65f, 1}, false},
      {"near edges inside the pixel touch it", {0.655f, 0.58f, 0.9f, 0.9f}, true},
      {"far edges inside the pixel touch it", {0.5f, 0.5f, 0.655f, 0.58f}, true},
      {"a few pixels around it, inside one block", {0.64f, 0.56f, 0.67f, 0.6f}, true},
      {"the same block, beside the pixel", {0.67f, 0.56f, 0.7f, 0.6f}, false},
      {"the same block, above the pixel", {0.64f, 0.5f, 0.67f, 0.57f}, false},
      {"mirrored region over the pixel", {0.9f, 0.9f, 0.6f, 0.5f}, true},
      {"reaching beyond the picture, clamped", {0.5f, 0.5f, 3, 3}, true},
      {"wholly beyond the picture", {1.5f, 0, 2, 1}, false},
      {"empty region on the pixel's column", {0.655f, 0, 0.655f, 1}, false},
      {"not a number", {NAN, 0, 1, 1}, false},
  };
  TOpacityMap map;
  for (const Case& c : cases)
    EXPECT_EQ(map.AnyTranslucentIn(img, c.region), c.translucent) << c.what;

  // A change of the pixels is seen: the map is made again.
  img.setPixel(65, 40, qRgba(10, 200, 30, 255));
  EXPECT_FALSE(map.AnyTranslucentIn(img, {0, 0, 1, 1})) << "made opaque";
  img.setPixel(99, 69, 0);
  EXPECT_TRUE(map.AnyTranslucentIn(img, {0.5f, 0.5f, 1, 1})) << "the last pixel made transparent";
  EXPECT_FALSE(map.AnyTranslucentIn(QImage(), {0, 0, 1, 1})) << "no picture";
}
