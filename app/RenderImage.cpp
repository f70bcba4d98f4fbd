#include "app/RenderImage.h"

#include "platform/Resample.h"
#include "platform/SmoothResample.h"

TRectF sourceRectOf(const TBitmap& aBitmap, const TRectF& aRect) {
  const double bw = aBitmap.Width(), bh = aBitmap.Height();
  return {float(bw * double(aRect.Left)), float(bh * double(aRect.Top)), float(bw * double(aRect.Right)),
          float(bh * double(aRect.Bottom))};
}

TBitmap renderImage(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth) {
  TBitmap output(Width, Height);
  // Source-over onto transparent black gives exactly the interpolated value, and the draw covers
  // every pixel of the new bitmap, so it writes the pixels directly instead of clearing them first.
  // An empty source draws nothing: then the new bitmap is cleared to transparent black.
  if (aBitmap.IsEmpty())
    output.Clear(0x00000000);
  else if (const TRectF source = sourceRectOf(aBitmap, aRect); aSmooth && isReduction(source, Width, Height))
    drawAreaAverage(aBitmap.Image(), source, output.Image());
  else
    drawBilinear(aBitmap.Image(), source, output.Image());
  return output;
}

void renderImageFile(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, const QString& aFilename,
                     bool aSmooth) {
  renderImage(aBitmap, Width, Height, aRect, aSmooth).SaveToFile(aFilename);
}
