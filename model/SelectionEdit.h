#pragma once

#include "platform/Types.h"

// The geometry of the selection editor, with no widget: a selection in picture pixels (double
// precision, origin at the picture's top-left corner), its handles, resizing and moving it with the
// ratio kept and inside the picture, the editor's zoom, and the conversion between picture pixels
// and the frame's preview coordinates (the stored format).
//
// The ratio is width / height of the selection in picture pixels. The preview maps the picture onto
// its image rectangle, which lies on whole units, so one preview unit is not quite the same number
// of pixels across and down: a selection is converted axis by axis.

struct TPictureRect {
  double Left = 0;
  double Top = 0;
  double Right = 0;
  double Bottom = 0;
  double Width() const { return Right - Left; }
  double Height() const { return Bottom - Top; }
  friend bool operator==(const TPictureRect&, const TPictureRect&) = default;
};

// The picture's size in pixels.
struct TPictureSize {
  int Width = 0;
  int Height = 0;
};

// The largest region of the ratio inside the picture, centred (select-all): the picture's full
// height when that fits, otherwise its full width. An empty picture gives an empty rectangle.
TPictureRect largestCentred(TPictureSize picture, double ratio);

// A selection in preview coordinates in picture pixels, through the image rectangle the picture
// lies on; and back, rounded to float once per coordinate.
TPictureRect pictureRectOf(const TRectF& selection, const TRectF& imageRect, TPictureSize picture);
TRectF previewRectOf(const TPictureRect& selection, const TRectF& imageRect, TPictureSize picture);

// True when a stored selection (preview coordinates) is of the ratio in picture pixels and inside
// the picture, within the rounding of its single-precision coordinates: a selection made by
// select-all or in the editor, which restoring keeps as it is.
bool inPictureRatio(const TRectF& selection, const TRectF& imageRect, TPictureSize picture, double ratio);

// The parts of a selection a press can take: its eight handles, its inside, or nothing of it.
enum class THandle { None, Inside, TopLeft, Top, TopRight, Right, BottomRight, Bottom, BottomLeft, Left };

// The handle under a point (picture pixels): a handle when the point lies within reach (picture
// pixels) of it, the corners before the edges' centres; then the inside; otherwise None.
THandle handleAt(const TPictureRect& selection, double x, double y, double reach);

// The smallest selection the editor makes: this many pixels on its shorter side.
constexpr double MinSelectionSide = 1;

// The selection resized by dragging a handle by (dx, dy) picture pixels from where it was pressed:
// a corner about the opposite corner, an edge about the opposite edge's centre (kept on its line,
// centred on it as far as the picture allows). The ratio is kept: a corner follows the larger of
// the two movements, an edge its own axis. The result stays inside the picture and is never
// smaller than MinSelectionSide; it does not turn over past the fixed side.
TPictureRect resizeByHandle(const TPictureRect& start, THandle handle, double dx, double dy, double ratio,
                            TPictureSize picture);

// A new selection drawn from anchor toward (x, y), on the mouse's side of the anchor on both axes,
// its size the larger of the two movements with the ratio kept, stopped by the first edge of the
// picture it meets.
TPictureRect drawnFrom(double anchorX, double anchorY, double x, double y, double ratio, TPictureSize picture);

// The selection shifted by (dx, dy) and kept inside the picture with its size.
TPictureRect movedBy(const TPictureRect& selection, double dx, double dy, TPictureSize picture);

// The selection at (left, top) with the given width, its height following the ratio: the width is
// held between MinSelectionSide and what the picture allows, then the position inside the picture.
TPictureRect placedAt(double left, double top, double width, double ratio, TPictureSize picture);

// The editor's view: pixels of the screen per picture pixel, and the scroll position (the screen
// point, in the view's pixels, where the picture's left and top edges would be is -ScrollX, -ScrollY).
struct TEditorView {
  double Scale = 1;
  double ScrollX = 0;
  double ScrollY = 0;
};

// The scale that shows the whole picture in a view of that size (never zero).
double fitScale(TPictureSize picture, double viewWidth, double viewHeight);

// The view zoomed to newScale with the picture point under the cursor (view pixels) kept there.
TEditorView zoomedAbout(const TEditorView& view, double newScale, double cursorX, double cursorY);

// The next zoom step in or out from scale (steps of a factor of 1.25 around 100 %), held between
// MinZoom and MaxZoom.
constexpr double MinZoom = 1.0 / 64;
constexpr double MaxZoom = 32;
double zoomStep(double scale, bool in);
