#include "app/RenderImage.h"

#include "platform/Errors.h"
#include "platform/Parallel.h"
#include "platform/Resample.h"

#include <optional>

TRectF sourceRectOf(const TBitmap& aBitmap, const TRectF& aRect) {
  const double bw = aBitmap.Width(), bh = aBitmap.Height();
  return {float(bw * double(aRect.Left)), float(bh * double(aRect.Top)), float(bw * double(aRect.Right)),
          float(bh * double(aRect.Bottom))};
}

PngRenderJob::PngRenderJob(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect)
    : FSource(aBitmap.IsEmpty() ? QImage() : aBitmap.Image()),
      FSourceRect(sourceRectOf(aBitmap, aRect)),
      FWidth(Width),
      FHeight(Height) {
  if (Width > 0 && Height > 0)
    FBands.resize(size_t(pngBandCount(Width, Height)));
}

void PngRenderJob::RenderBand(int band) {
  const int count = BandCount();
  const int begin = int(int64_t(FHeight) * band / count), end = int(int64_t(FHeight) * (band + 1) / count);
  std::vector<uint32_t> row(size_t(FWidth), 0), before;
  // An empty source draws nothing: the rows stay transparent black.
  std::optional<BilinearRows> rows;
  if (!FSource.isNull())
    rows.emplace(FSource, FSourceRect, FWidth, FHeight);
  if (begin > 0) {
    before.assign(size_t(FWidth), 0);
    if (rows)
      rows->render(begin - 1, before.data());
  }
  PngBandEncoder encoder(FWidth, PngOptions().filter, begin > 0 ? before.data() : nullptr, band + 1 == count,
                         end - begin);
  for (int y = begin; y < end; ++y) {
    if (rows)
      rows->render(y, row.data());
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

void renderImageFile(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, const QString& aFilename) {
  PngRenderJob job(aBitmap, Width, Height, aRect);
  runParallel(job.BandCount(), workerThreadCount(), [&](int band) { job.RenderBand(band); });
  savePngBytes(job.TakePng(), aFilename);
}
