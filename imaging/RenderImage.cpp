#include "imaging/RenderImage.h"

#include "platform/Errors.h"
#include "platform/Parallel.h"
#include "imaging/Resample.h"
#include "imaging/SmoothResample.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <optional>

TRectF sourceRectOf(const TBitmap& aBitmap, const TRectF& aRect) {
  const double bw = aBitmap.Width(), bh = aBitmap.Height();
  return {float(bw * double(aRect.Left)), float(bh * double(aRect.Top)), float(bw * double(aRect.Right)),
          float(bh * double(aRect.Bottom))};
}

void finishRow(uint32_t* row, int width, const TRenderLook& look) {
  if (look.Kind == TRenderLook::Silhouette) {
    // White at the pixel's alpha, premultiplied: every channel equals the alpha.
    for (int x = 0; x < width; ++x)
      row[x] = (row[x] >> 24) * 0x01010101u;
  } else if (look.Kind == TRenderLook::Opaque) {
    // Source-over onto the background: each premultiplied channel plus the background's share of
    // what the pixel leaves uncovered, rounded to the nearest.
    for (int x = 0; x < width; ++x) {
      const uint32_t p = row[x], cover = 255 - (p >> 24);
      uint32_t out = 0xFF000000u;
      for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t back = (uint32_t(look.Background) >> shift) & 0xFF;
        out |= (((p >> shift) & 0xFF) + (back * cover + 127) / 255) << shift;
      }
      row[x] = out;
    }
  }
}

TBitmap renderImage(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth,
                    const TRenderLook& aLook) {
  waitForPicture(aBitmap.Image());
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
  if (aLook.Kind != TRenderLook::Plain)
    for (int y = 0; y < Height; ++y)
      finishRow(reinterpret_cast<uint32_t*>(output.Image().scanLine(y)), Width, aLook);
  return output;
}

// The area average's taps (and the level it reads) of a smooth reduction, made by the first band
// that begins and copied by each band; let go once every band has its copy, so that the level is
// held only while a band of the picture is being rendered.
struct PngRenderJob::SmoothTaps {
  std::mutex mutex;
  std::optional<AreaAverageRows> rows;
  int bandsBegun = 0;
};

PngRenderJob::PngRenderJob(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth,
                           const TRenderLook& aLook)
    : FSource(aBitmap.IsEmpty() ? QImage() : aBitmap.Image()),
      FSourceRect(sourceRectOf(aBitmap, aRect)),
      FWidth(Width),
      FHeight(Height),
      FLook(aLook),
      FRows(pictureRowsInProgress(FSource)) {
  if (Width > 0 && Height > 0) {
    FBands.resize(size_t(pngBandCount(Width, Height)));
    FStates.resize(FBands.size());
  }
  if (aSmooth && !FSource.isNull() && isReduction(FSourceRect, Width, Height))
    FSmoothTaps = std::make_unique<SmoothTaps>();
}

PngRenderJob::~PngRenderJob() = default;
PngRenderJob::PngRenderJob(PngRenderJob&&) noexcept = default;
PngRenderJob& PngRenderJob::operator=(PngRenderJob&&) noexcept = default;

// A band under way: its rows so far are in the encoder.
struct PngRenderJob::BandState {
  int y = 0, end = 0;
  std::vector<uint32_t> row;
  // An empty source draws nothing: the rows stay transparent black.
  std::optional<BilinearRows> rows;
  // A copy of the job's taps, taken when the band begins: the halved levels of a smooth reduction
  // are held only while a band of the picture is being rendered.
  std::optional<AreaAverageRows> smooth;
  std::unique_ptr<PngBandEncoder> encoder;
  TRenderLook look;
  int width = 0;

  // The source rows that output row `at` reads.
  int sourceRowsFor(int at) const { return smooth ? smooth->sourceRowsFor(at) : rows ? rows->sourceRowsFor(at) : 0; }
  // Output row `at`, finished by the look (also the row before the band, which the encoder's
  // filter reads).
  void render(int at, uint32_t* out) {
    if (smooth)
      smooth->render(at, out);
    else if (rows)
      rows->render(at, out);
    finishRow(out, width, look);
  }
};

int PngRenderJob::SourceRowsWanted(int band) const {
  const BandState* s = FStates[size_t(band)].get();
  if (!s || FSource.isNull())
    return 0;  // a band not begun asks for nothing yet
  if (FSmoothTaps && !s->smooth)
    return 0;  // its taps are not made yet: it asks for rows once they are
  if (!s->encoder)
    return s->y > 0 ? s->sourceRowsFor(s->y - 1) : s->sourceRowsFor(s->y);
  return s->y < s->end ? s->sourceRowsFor(s->y) : 0;
}

void PngRenderJob::RenderBand(int band) { Render(band, true); }

bool PngRenderJob::RenderSome(int band) { return Render(band, false); }

bool PngRenderJob::Render(int band, bool wait) {
  // Whether the source rows up to `rows` are there (waiting for them when asked to).
  const auto have = [&](int rows) {
    if (!FRows || FRows->Ready() >= rows)
      return true;
    if (!wait)
      return false;
    FRows->WaitFor(rows);
    return true;
  };
  const int count = BandCount();
  std::unique_ptr<BandState>& state = FStates[size_t(band)];
  if (!state) {
    auto s = std::make_unique<BandState>();
    s->look = FLook;
    s->width = FWidth;
    s->y = int(int64_t(FHeight) * band / count);
    s->end = int(int64_t(FHeight) * (band + 1) / count);
    if (!FSmoothTaps && !FSource.isNull())
      s->rows.emplace(FSource, FSourceRect, FWidth, FHeight);
    state = std::move(s);
  }
  BandState& s = *state;
  if (!s.encoder) {
    // A smooth reduction follows the picture's rows as well, whether it reads the picture itself or
    // a halved level (whose rows are made from the picture's as they are read).
    if (FSmoothTaps && !s.smooth) {
      SmoothTaps& taps = *FSmoothTaps;
      const std::lock_guard<std::mutex> lock(taps.mutex);
      if (!taps.rows)
        taps.rows.emplace(FSource, FSourceRect, FWidth, FHeight);
      s.smooth.emplace(*taps.rows);
      if (++taps.bandsBegun == count)
        taps.rows.reset();
    }
    const int begin = s.y;
    std::vector<uint32_t> before;
    if (begin > 0) {
      if (!have(s.sourceRowsFor(begin - 1)))
        return false;
      before.assign(size_t(FWidth), 0);
      s.render(begin - 1, before.data());
    }
    s.row.assign(size_t(FWidth), 0);
    s.encoder = std::make_unique<PngBandEncoder>(FWidth, PngOptions().filter, begin > 0 ? before.data() : nullptr,
                                                 band + 1 == count, s.end - begin);
  }
  for (; s.y < s.end; ++s.y) {
    if (!have(s.sourceRowsFor(s.y)))
      return false;
    s.render(s.y, s.row.data());
    s.encoder->addRow(s.row.data());
  }
  FBands[size_t(band)] = s.encoder->finish();
  state.reset();
  return true;
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
