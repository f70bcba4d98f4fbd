#pragma once

#include "platform/Bitmap.h"
#include "platform/Types.h"

#include <QString>

// Renders one output image: the region aRect (fractions 0..1 of the picture's width and height)
// of aBitmap, scaled with the bilinear rule of platform/Resample.h to exactly Width x Height
// pixels on a transparent background, written as a PNG file to aFilename (an existing file is
// replaced once the new one is complete). The source is only read; the output bitmap lives for
// this call only. Errors are those of the PNG writer and pass to the caller.
void renderImageFile(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, const QString& aFilename);

// The source rectangle in pixels: each product of the picture's pixel size and a fraction,
// formed exactly and rounded once to single precision; neither rounded to whole pixels nor
// clamped.
TRectF sourceRectOf(const TBitmap& aBitmap, const TRectF& aRect);
