#pragma once

#include "imaging/Bitmap.h"
#include "imaging/PictureRows.h"
#include "imaging/PngWriter.h"
#include "imaging/SmoothResample.h"
#include "platform/Types.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// How an output's pixels are finished once drawn: as drawn; white with the drawn alpha (a
// silhouette, as Android draws a notification icon from its alpha alone); or opaque, every pixel
// laid over the background colour (the App Store refuses an icon with transparency).
struct TRenderLook {
  enum TKind { Plain, Silhouette, Opaque };
  TKind Kind = Plain;
  QRgb Background = 0xFFFFFFFF;  // for Opaque: the colour the transparent parts are laid over (its alpha ignored)
  friend bool operator==(const TRenderLook&, const TRenderLook&) = default;
};

// Finishes a row of premultiplied ARGB32 pixels by the look.
void finishRow(uint32_t* row, int width, const TRenderLook& look);

// The pixels of one output image: the region aRect (fractions 0..1 of the picture's width and
// height) of aBitmap, scaled to exactly Width x Height pixels on a transparent background. The
// scaling is the bilinear rule of imaging/Resample.h; with aSmooth, an output smaller than its
// region in either direction is made with the area average of imaging/SmoothResample.h instead
// (enlargements keep the bilinear rule). The source is only read.
// The look finishes the drawn pixels (TRenderLook).
TBitmap renderImage(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth = false,
                    const TRenderLook& aLook = {});

// Renders one output image as renderImage does and writes it as a PNG file to aFilename (an
// existing file is replaced once the new one is complete). The work is spread over the machine's
// cores; an error on any of them is raised here. Errors are those of the PNG writer and pass to
// the caller.
void renderImageFile(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, const QString& aFilename,
                     bool aSmooth = false);

// The source rectangle in pixels: each product of the picture's pixel size and a fraction,
// formed exactly and rounded once to single precision; neither rounded to whole pixels nor
// clamped.
TRectF sourceRectOf(const TBitmap& aBitmap, const TRectF& aRect);

// The PNG of one output image, made in bands of rows (pngBandCount) that are rendered straight
// into the encoder, with no output bitmap: distinct bands may be rendered at the same time on
// different threads, in any order; the bytes do not depend on it. The job keeps its own
// (shared, read-only) reference to the source's pixels. With aSmooth the pixels are those of
// renderImage with aSmooth: a reduction is area-averaged row by row as well.
//
// The source may still be arriving (PictureRows.h): each output row is then rendered once the
// source rows it reads are there. RenderBand waits for them; RenderSome renders what it can now
// and keeps its place, so a thread can turn to other work meanwhile.
class PngRenderJob {
public:
  PngRenderJob(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth = false,
               const TRenderLook& aLook = {});
  ~PngRenderJob();
  PngRenderJob(PngRenderJob&&) noexcept;
  PngRenderJob& operator=(PngRenderJob&&) noexcept;
  int BandCount() const { return int(FBands.size()); }
  void RenderBand(int band);
  // Renders rows of the band as far as the source's rows are there; true once the band is done.
  bool RenderSome(int band);
  // The source rows the band needs next, and the source's progress (null when it is complete).
  int SourceRowsWanted(int band) const;
  const std::shared_ptr<const TPictureRows>& SourceRows() const { return FRows; }
  // The PNG file's bytes once every band is rendered; the bands' own bytes are released. An
  // image without pixels raises "Saving bitmap failed.".
  QByteArray TakePng();

private:
  struct BandState;
  bool Render(int band, bool wait);

  QImage FSource;  // empty: the output is transparent black
  TRectF FSourceRect;
  int FWidth, FHeight;
  TRenderLook FLook;
  std::vector<PngSegment> FBands;
  std::vector<std::unique_ptr<BandState>> FStates;  // a band begun and not yet done
  std::shared_ptr<const TPictureRows> FRows;        // the source's rows while they arrive
  // Only for a smooth reduction (rows area-averaged, not drawn with the bilinear rule): its taps,
  // made once and copied by each band.
  struct SmoothTaps;
  std::unique_ptr<SmoothTaps> FSmoothTaps;
};
