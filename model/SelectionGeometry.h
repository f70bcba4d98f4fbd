#pragma once

#include "platform/Types.h"

// The geometry of a ratio frame's preview, with no widget involved.
//
// Coordinates are preview coordinates: origin at the top-left corner of the preview, x to the
// right, y downwards, one unit per layout unit. Every value passed in or returned is single
// precision; the arithmetic is done in double and each result is rounded to float once, where it
// is stored. roundHalfEven rounds to the nearest whole number, halves to the even neighbour.

double roundHalfEven(double v);

// Where a bitmap lies in the preview: fitted without enlargement, centred, on whole units.
// pixelWidth/pixelHeight are the bitmap's size (0 x 0 when empty), scale its pixels per preview
// unit. An empty bitmap gives the single point at the centre of the preview.
TRectF imageRect(int pixelWidth, int pixelHeight, float scale, float previewWidth, float previewHeight);

// The largest rectangle of the given ratio (width / height) inside the image rectangle, anchored at
// its top-left corner: full height when that fits, otherwise full width aligned to the top edge.
TRectF defaultSelection(const TRectF& imageRect, float ratio);

// The point moved onto the nearest point of the image rectangle; each axis on its own, points on
// the edges unchanged.
TPointF clampPoint(const TPointF& p, const TRectF& imageRect);

// The rectangle shifted by (dx, dy): dx added to Left and Right, dy to Top and Bottom.
TRectF offsetRect(const TRectF& r, double dx, double dy);

// The rectangle shifted back inside the image rectangle keeping its size, by four checks in this
// order: left edge, right edge, top edge, bottom edge. A rectangle wider than the image rectangle
// ends with its right edge on the image's right edge; a taller one with its bottom edge on the
// image's bottom edge.
TRectF pushInside(const TRectF& r, const TRectF& imageRect);

// The corner opposite start of a selection being drawn from start (inside the image rectangle)
// toward the mouse. The selection lies on the mouse's side of start, horizontally and vertically;
// with no movement along one axis it takes the side of the other axis' movement in a diagonal
// right-down / left-up (a plain downward drag extends to the right, as an upward one to the left).
// Its height is the larger of the vertical movement and the horizontal movement divided by the
// ratio, its width ratio times that. Where it would leave the image rectangle it stops at the first
// edge it meets, the ratio kept: it is never cut on one axis alone.
TPointF endCorner(const TPointF& start, const TPointF& mouse, float ratio, const TRectF& imageRect);

// The rectangle with the two points as opposite corners, normalised: Left <= Right, Top <= Bottom.
TRectF rectFromCorners(const TPointF& a, const TPointF& b);

// The selection as fractions of the image rectangle: 0 is its left or top edge, 1 its right or
// bottom edge. An inverted selection gives Right < Left or Bottom < Top. An image rectangle of zero
// width or height gives infinities or NaNs (IEEE division); callers check the selection first.
TRectF normalizedSelection(const TRectF& selection, const TRectF& imageRect);

// A stored selection brought back to the frame's ratio (width / height) and inside the picture.
// One in the ratio and inside the image rectangle (within rounding) comes back as it is, and so
// does an empty one (validation reports it). Otherwise the result is the largest rectangle of the
// ratio inside both the stored one and the image rectangle, centred on the stored one's centre as
// far as that allows (a centre beyond their common part counts as on its nearest edge). One that
// shares no area with the image rectangle says nothing about the picture: it becomes the default
// selection. The arithmetic is in double, so huge or infinite coordinates give a rectangle inside
// the picture as well.
TRectF restoredSelection(const TRectF& selection, float ratio, const TRectF& imageRect);

// True when the selection (not empty) and the image rectangle share no area: everything it selects
// lies beside the picture.
bool isOutside(const TRectF& selection, const TRectF& imageRect);
