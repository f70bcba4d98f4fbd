#include "model/SelectionEdit.h"

#include <algorithm>
#include <cmath>

namespace {

float f(double v) { return static_cast<float>(v); }

// v held in [low, high]; low when there is no room (high < low).
double clampTo(double v, double low, double high) { return std::max(low, std::min(v, high)); }

// The shortest height of the ratio whose both sides reach MinSelectionSide.
double minimumHeight(double ratio) { return std::max(MinSelectionSide, MinSelectionSide / ratio); }

// The selection with one corner fixed at (ax, ay), extending sx (+1 right, -1 left) and sy (+1 down,
// -1 up) from it by the larger of the extents ex and ey (ratio kept), no smaller than minimum high,
// stopped by the picture's edges: the edge that stops it is reached exactly.
TPictureRect fromCorner(double ax, double ay, int sx, int sy, double ex, double ey, double ratio, TPictureSize pic,
                        double minimum) {
  const double roomX = std::max(0.0, sx > 0 ? pic.Width - ax : ax);
  const double roomY = std::max(0.0, sy > 0 ? pic.Height - ay : ay);
  double h = std::max({ey, ex / ratio, minimum});
  double w = ratio * h;
  if (h > roomY) {
    h = roomY;
    w = ratio * h;
  }
  if (w > roomX) {
    w = roomX;
    h = w / ratio;
  }
  const double x2 = ax + sx * w;
  const double y2 = ay + sy * h;
  return {std::min(ax, x2), std::min(ay, y2), std::max(ax, x2), std::max(ay, y2)};
}

bool isCorner(THandle h) {
  return h == THandle::TopLeft || h == THandle::TopRight || h == THandle::BottomRight || h == THandle::BottomLeft;
}
int sideX(THandle h) {
  return (h == THandle::TopRight || h == THandle::Right || h == THandle::BottomRight)  ? 1
         : (h == THandle::TopLeft || h == THandle::Left || h == THandle::BottomLeft) ? -1
                                                                                      : 0;
}
int sideY(THandle h) {
  return (h == THandle::BottomLeft || h == THandle::Bottom || h == THandle::BottomRight) ? 1
         : (h == THandle::TopLeft || h == THandle::Top || h == THandle::TopRight)      ? -1
                                                                                        : 0;
}

TPictureRect resizeByCorner(const TPictureRect& s, int sx, int sy, double dx, double dy, double ratio,
                            TPictureSize pic) {
  const double ax = sx > 0 ? s.Left : s.Right;
  const double ay = sy > 0 ? s.Top : s.Bottom;
  const double cornerX = (sx > 0 ? s.Right : s.Left) + dx;
  const double cornerY = (sy > 0 ? s.Bottom : s.Top) + dy;
  return fromCorner(ax, ay, sx, sy, sx * (cornerX - ax), sy * (cornerY - ay), ratio, pic, minimumHeight(ratio));
}

// A left or right edge dragged: the opposite edge stays, the height follows the width and is centred
// on the opposite edge's centre as far as the picture allows.
TPictureRect resizeByVerticalEdge(const TPictureRect& s, int sx, double dx, double ratio, TPictureSize pic) {
  const double ax = sx > 0 ? s.Left : s.Right;
  const double room = std::max(0.0, sx > 0 ? pic.Width - ax : ax);
  const double edge = (sx > 0 ? s.Right : s.Left) + dx;
  const double w = std::min({std::max(sx * (edge - ax), ratio * minimumHeight(ratio)), room, ratio * pic.Height});
  const double h = w / ratio;
  const double top = clampTo((s.Top + s.Bottom) / 2 - h / 2, 0, pic.Height - h);
  const double x2 = ax + sx * w;
  return {std::min(ax, x2), top, std::max(ax, x2), top + h};
}

// A top or bottom edge dragged, as a left or right edge with the axes swapped.
TPictureRect resizeByHorizontalEdge(const TPictureRect& s, int sy, double dy, double ratio, TPictureSize pic) {
  const TPictureRect turned{s.Top, s.Left, s.Bottom, s.Right};
  const TPictureRect r = resizeByVerticalEdge(turned, sy, dy, 1 / ratio, {pic.Height, pic.Width});
  return {r.Top, r.Left, r.Bottom, r.Right};
}

}  // namespace

TPictureRect largestCentred(TPictureSize pic, double ratio) {
  if (pic.Width <= 0 || pic.Height <= 0 || !(ratio > 0))
    return {};
  // A picture of the ratio, within the rounding of the ratio itself, is taken whole.
  if (std::abs(ratio * pic.Height - pic.Width) <= 1e-9 * pic.Width)
    return {0, 0, double(pic.Width), double(pic.Height)};
  const double w = std::min(double(pic.Width), ratio * pic.Height);
  // The full side is taken exactly, not through a round trip over the ratio.
  const double h = w == pic.Width ? std::min(double(pic.Height), w / ratio) : double(pic.Height);
  const double left = (pic.Width - w) / 2;
  const double top = (pic.Height - h) / 2;
  return {left, top, left + w, top + h};
}

TPictureRect pictureRectOf(const TRectF& s, const TRectF& ir, TPictureSize pic) {
  const double sx = pic.Width / (double(ir.Right) - ir.Left);
  const double sy = pic.Height / (double(ir.Bottom) - ir.Top);
  return {(double(s.Left) - ir.Left) * sx, (double(s.Top) - ir.Top) * sy, (double(s.Right) - ir.Left) * sx,
          (double(s.Bottom) - ir.Top) * sy};
}

TRectF previewRectOf(const TPictureRect& s, const TRectF& ir, TPictureSize pic) {
  const double sx = (double(ir.Right) - ir.Left) / pic.Width;
  const double sy = (double(ir.Bottom) - ir.Top) / pic.Height;
  return {f(ir.Left + s.Left * sx), f(ir.Top + s.Top * sy), f(ir.Left + s.Right * sx), f(ir.Top + s.Bottom * sy)};
}

bool inPictureRatio(const TRectF& selection, const TRectF& ir, TPictureSize pic, double ratio) {
  if (selection.IsEmpty() || ir.IsEmpty() || pic.Width <= 0 || pic.Height <= 0)
    return false;
  const TPictureRect p = pictureRectOf(selection, ir, pic);
  // A hundredth of a pixel covers the single-precision rounding of the stored coordinates.
  constexpr double slack = 0.01;
  const bool inRatio = std::abs(p.Width() - ratio * p.Height()) <= slack + 1e-6 * std::max(p.Width(), ratio * p.Height());
  return inRatio && p.Left >= -slack && p.Top >= -slack && p.Right <= pic.Width + slack &&
         p.Bottom <= pic.Height + slack;
}

THandle handleAt(const TPictureRect& s, double x, double y, double reach) {
  const double cx = (s.Left + s.Right) / 2;
  const double cy = (s.Top + s.Bottom) / 2;
  const struct {
    THandle handle;
    double x, y;
  } handles[] = {
      {THandle::TopLeft, s.Left, s.Top},   {THandle::TopRight, s.Right, s.Top},   {THandle::BottomRight, s.Right, s.Bottom},
      {THandle::BottomLeft, s.Left, s.Bottom}, {THandle::Top, cx, s.Top},         {THandle::Right, s.Right, cy},
      {THandle::Bottom, cx, s.Bottom},     {THandle::Left, s.Left, cy},
  };
  for (const auto& h : handles)
    if (std::abs(x - h.x) <= reach && std::abs(y - h.y) <= reach)
      return h.handle;
  if (x > s.Left && x < s.Right && y > s.Top && y < s.Bottom)
    return THandle::Inside;
  return THandle::None;
}

TPictureRect resizeByHandle(const TPictureRect& start, THandle handle, double dx, double dy, double ratio,
                            TPictureSize pic) {
  if (isCorner(handle))
    return resizeByCorner(start, sideX(handle), sideY(handle), dx, dy, ratio, pic);
  if (handle == THandle::Left || handle == THandle::Right)
    return resizeByVerticalEdge(start, sideX(handle), dx, ratio, pic);
  if (handle == THandle::Top || handle == THandle::Bottom)
    return resizeByHorizontalEdge(start, sideY(handle), dy, ratio, pic);
  return start;
}

TPictureRect drawnFrom(double ax, double ay, double x, double y, double ratio, TPictureSize pic) {
  const double dx = x - ax;
  const double dy = y - ay;
  const int sx = dx > 0 ? 1 : dx < 0 ? -1 : (dy < 0 ? -1 : 1);
  const int sy = dy > 0 ? 1 : dy < 0 ? -1 : sx;
  return fromCorner(ax, ay, sx, sy, std::abs(dx), std::abs(dy), ratio, pic, 0);
}

TPictureRect movedBy(const TPictureRect& s, double dx, double dy, TPictureSize pic) {
  const double left = clampTo(s.Left + dx, 0, pic.Width - s.Width());
  const double top = clampTo(s.Top + dy, 0, pic.Height - s.Height());
  return {left, top, left + s.Width(), top + s.Height()};
}

TPictureRect placedAt(double left, double top, double width, double ratio, TPictureSize pic) {
  const double w = clampTo(width, ratio * minimumHeight(ratio), std::min(double(pic.Width), ratio * pic.Height));
  // The full height is taken exactly when the width reaches it.
  const double h = w == ratio * pic.Height ? double(pic.Height) : std::min(double(pic.Height), w / ratio);
  const double x = clampTo(left, 0, pic.Width - w);
  const double y = clampTo(top, 0, pic.Height - h);
  return {x, y, x + w, y + h};
}

double fitScale(TPictureSize pic, double viewWidth, double viewHeight) {
  if (pic.Width <= 0 || pic.Height <= 0)
    return 1;
  return clampTo(std::min(viewWidth / pic.Width, viewHeight / pic.Height), MinZoom, MaxZoom);
}

TEditorView zoomedAbout(const TEditorView& view, double newScale, double cursorX, double cursorY) {
  const double px = (cursorX + view.ScrollX) / view.Scale;
  const double py = (cursorY + view.ScrollY) / view.Scale;
  return {newScale, px * newScale - cursorX, py * newScale - cursorY};
}

double zoomStep(double scale, bool in) {
  constexpr double step = 1.25;
  const double k = std::log(scale) / std::log(step);
  const double next = in ? std::floor(k + 1e-9) + 1 : std::ceil(k - 1e-9) - 1;
  return clampTo(std::pow(step, next), MinZoom, MaxZoom);
}
