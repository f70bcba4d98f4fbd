#include "imaging/RenderImage.h"

#include "platform/Errors.h"
#include "platform/Parallel.h"
#include "imaging/Resample.h"
#include "imaging/SmoothResample.h"

#include <algorithm>
#include <new>
#include <optional>

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
    drawReduced(aBitmap.Image(), source, output.Image());
  else
    drawBilinear(aBitmap.Image(), source, output.Image());
  return output;
}

PngRenderJob::PngRenderJob(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth)
    : FSource(aBitmap.IsEmpty() ? QImage() : aBitmap.Image()),
      FSourceRect(sourceRectOf(aBitmap, aRect)),
      FWidth(Width),
      FHeight(Height) {
  if (Width > 0 && Height > 0)
    FBands.resize(size_t(pngBandCount(Width, Height)));
  if (aSmooth && !FSource.isNull() && isReduction(FSourceRect, Width, Height))
    FSmooth = true;
}

void PngRenderJob::RenderBand(int band) {
  const int count = BandCount();
  const int begin = int(int64_t(FHeight) * band / count), end = int(int64_t(FHeight) * (band + 1) / count);
  std::vector<uint32_t> row(size_t(FWidth), 0), before;
  // An empty source draws nothing: the rows stay transparent black.
  std::optional<BilinearRows> rows;
  // Made here, not with the job: the halved levels of a smooth reduction are held only while a
  // band of the picture is being rendered.
  std::optional<AreaAverageRows> smooth;
  if (FSmooth)
    smooth.emplace(FSource, FSourceRect, FWidth, FHeight);
  else if (!FSource.isNull())
    rows.emplace(FSource, FSourceRect, FWidth, FHeight);
  const auto render = [&](int y, uint32_t* out) {
    if (smooth)
      smooth->render(y, out);
    else if (rows)
      rows->render(y, out);
  };
  if (begin > 0) {
    before.assign(size_t(FWidth), 0);
    render(begin - 1, before.data());
  }
  PngBandEncoder encoder(FWidth, PngOptions().filter, begin > 0 ? before.data() : nullptr, band + 1 == count,
                         end - begin);
  for (int y = begin; y < end; ++y) {
    render(y, row.data());
    encoder.addRow(row.data());
  }
  FBands[size_t(band)] = encoder.finish();
}

QByteArray PngRenderJob::TakePng() {
  if (FBands.empty())
    throw EBitmapError(savingBitmapFailedMessage());
  QByteArray png = assemblePng(FWidth, FHeight, FBands);
  FBands.assign(FBands.size(), PngSegment());
  return png;
}

void renderImageFile(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, const QString& aFilename,
                     bool aSmooth) {
  PngRenderJob job(aBitmap, Width, Height, aRect, aSmooth);
  runParallel(job.BandCount(), workerThreadCount(), [&](int band) { job.RenderBand(band); });
  savePngBytes(job.TakePng(), aFilename);
}
