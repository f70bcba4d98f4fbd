#include "model/SelectionGeometry.h"

#include <algorithm>
#include <cmath>

namespace {
float f(double v) { return static_cast<float>(v); }
}  // namespace

double roundHalfEven(double v) {
  // Independent of the floating-point rounding mode in force.
  const double lower = std::floor(v);
  const double diff = v - lower;
  if (diff < 0.5)
    return lower;
  if (diff > 0.5)
    return lower + 1;
  return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

TRectF imageRect(int pixelWidth, int pixelHeight, float scale, float previewWidth, float previewHeight) {
  const float bw = f(double(pixelWidth) / double(scale));
  const float bh = f(double(pixelHeight) / double(scale));
  const double pw = previewWidth;
  const double ph = previewHeight;
  TRectF r{0, 0, bw, bh};
  if (pw > 0 && ph > 0) {
    const double a = bw / pw;
    const double b = bh / ph;
    const float s = f(a > b ? a : b);
    if (!(s < 1))
      r = TRectF{0, 0, f(bw / double(s)), f(bh / double(s))};
    const double width = r.Width();
    const double height = r.Height();
    const double left = roundHalfEven((pw - width) / 2);
    const double top = roundHalfEven((ph - height) / 2);
    r = TRectF{f(left), f(top), f(left + width), f(top + height)};
  }
  return TRectF{f(roundHalfEven(r.Left)), f(roundHalfEven(r.Top)), f(roundHalfEven(r.Right)),
                f(roundHalfEven(r.Bottom))};
}

TRectF defaultSelection(const TRectF& ir, float ratio) {
  const double w = ir.Width();
  const double h = ir.Height();
  const double r = ratio;
  const double x = double(ir.Left) + r * h;
  if (x > ir.Right)
    return TRectF{ir.Left, ir.Top, f(ir.Left + w), f(ir.Top + w / r)};
  return TRectF{ir.Left, ir.Top, f(x), f(ir.Top + h)};
}

TPointF clampPoint(const TPointF& p, const TRectF& ir) {
  TPointF q = p;
  if (ir.Left > q.X)
    q.X = ir.Left;
  else if (ir.Right < q.X)
    q.X = ir.Right;
  if (ir.Top > q.Y)
    q.Y = ir.Top;
  else if (ir.Bottom < q.Y)
    q.Y = ir.Bottom;
  return q;
}

TRectF offsetRect(const TRectF& r, double dx, double dy) {
  return TRectF{f(r.Left + dx), f(r.Top + dy), f(r.Right + dx), f(r.Bottom + dy)};
}

TRectF pushInside(const TRectF& r, const TRectF& ir) {
  TRectF s = r;
  if (ir.Left > s.Left)
    s = offsetRect(s, double(ir.Left) - s.Left, 0);
  if (ir.Right < s.Right)
    s = offsetRect(s, -(double(s.Right) - ir.Right), 0);
  if (ir.Top > s.Top)
    s = offsetRect(s, 0, double(ir.Top) - s.Top);
  if (ir.Bottom < s.Bottom)
    s = offsetRect(s, 0, -(double(s.Bottom) - ir.Bottom));
  return s;
}

TPointF endCorner(const TPointF& start, const TPointF& mouse, float ratio, const TRectF& ir) {
  const double dx = double(mouse.X) - start.X;
  const double dy = double(mouse.Y) - start.Y;
  const double r = ratio;
  const int sx = dx > 0 ? 1 : dx < 0 ? -1 : (dy < 0 ? -1 : 1);
  const int sy = dy > 0 ? 1 : dy < 0 ? -1 : sx;
  // Room between start and the edges on the chosen sides (none when start lies outside).
  const double roomX = std::max(0.0, sx > 0 ? double(ir.Right) - start.X : double(start.X) - ir.Left);
  const double roomY = std::max(0.0, sy > 0 ? double(ir.Bottom) - start.Y : double(start.Y) - ir.Top);
  double h = std::max(std::abs(dy), std::abs(dx) / r);
  double w = r * h;
  // The first edge met stops it; the other side follows by the ratio. The edge that stops it is
  // reached exactly, not through a round trip over the ratio.
  if (h > roomY) {
    h = roomY;
    w = r * h;
  }
  if (w > roomX) {
    w = roomX;
    h = w / r;
  }
  return TPointF{f(start.X + sx * w), f(start.Y + sy * h)};
}

TRectF rectFromCorners(const TPointF& a, const TPointF& b) {
  return TRectF{std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)};
}

TRectF normalizedSelection(const TRectF& sr, const TRectF& ir) {
  const double w = ir.Width();
  const double h = ir.Height();
  return TRectF{f((double(sr.Left) - ir.Left) / w), f((double(sr.Top) - ir.Top) / h),
                f((double(sr.Right) - ir.Left) / w), f((double(sr.Bottom) - ir.Top) / h)};
}

namespace {

// Tolerance of the single-precision coordinates: a selection drawn in the ratio, or on the
// picture's edge, may be off by a few of their last digits.
bool nearlyInRatio(double w, double h, double r) { return std::abs(w - r * h) <= 1e-3 + 1e-4 * std::max(w, r * h); }

bool nearlyInside(const TRectF& s, const TRectF& ir) {
  constexpr double slack = 1e-3;
  return double(s.Left) >= ir.Left - slack && double(s.Top) >= ir.Top - slack && double(s.Right) <= ir.Right + slack &&
         double(s.Bottom) <= ir.Bottom + slack;
}

// v moved into [low, high]; a NaN (the centre of an unbounded rectangle) takes the middle.
double clampOrMiddle(double v, double low, double high) {
  if (std::isnan(v))
    return (low + high) / 2;
  return std::max(low, std::min(v, high));  // low when rounding left no room
}

}  // namespace

TRectF restoredSelection(const TRectF& s, float ratio, const TRectF& ir) {
  if (s.IsEmpty() || !(ratio > 0))
    return s;
  const double r = ratio;
  if (nearlyInRatio(double(s.Right) - s.Left, double(s.Bottom) - s.Top, r) && nearlyInside(s, ir))
    return s;
  // The common part of the stored selection and the picture.
  const double left = std::max<double>(s.Left, ir.Left), right = std::min<double>(s.Right, ir.Right);
  const double top = std::max<double>(s.Top, ir.Top), bottom = std::min<double>(s.Bottom, ir.Bottom);
  if (!(right > left) || !(bottom > top))
    return defaultSelection(ir, ratio);
  const double w = std::min(right - left, r * (bottom - top));
  const double h = w / r;
  const double cx = clampOrMiddle((double(s.Left) + s.Right) / 2, left + w / 2, right - w / 2);
  const double cy = clampOrMiddle((double(s.Top) + s.Bottom) / 2, top + h / 2, bottom - h / 2);
  const TRectF centred{f(cx - w / 2), f(cy - h / 2), f(cx + w / 2), f(cy + h / 2)};
  return pushInside(centred, ir);
}

bool isOutside(const TRectF& s, const TRectF& ir) {
  return !s.IsEmpty() && (s.Right <= ir.Left || s.Left >= ir.Right || s.Bottom <= ir.Top || s.Top >= ir.Bottom);
}
