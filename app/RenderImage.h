#pragma once

#include "platform/Bitmap.h"
#include "platform/Types.h"

#include <QString>

// The pixels of one output image: the region aRect (fractions 0..1 of the picture's width and
// height) of aBitmap, scaled to exactly Width x Height pixels on a transparent background. The
// scaling is the bilinear rule of platform/Resample.h; with aSmooth, an output smaller than its
// region in either direction is made with the area average of platform/SmoothResample.h instead
// (enlargements keep the bilinear rule). The source is only read.
TBitmap renderImage(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth = false);

// Renders one output image as renderImage does and writes it as a PNG file to aFilename (an
// existing file is replaced once the new one is complete). The output bitmap lives for this call
// only. Errors are those of the PNG writer and pass to the caller.
void renderImageFile(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, const QString& aFilename,
                     bool aSmooth = false);

// The source rectangle in pixels: each product of the picture's pixel size and a fraction,
// formed exactly and rounded once to single precision; neither rounded to whole pixels nor
// clamped.
TRectF sourceRectOf(const TBitmap& aBitmap, const TRectF& aRect);
