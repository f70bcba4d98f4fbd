#pragma once

// Plain geometry records shared by every layer. Coordinates are single-precision;
// arithmetic on them is done in double and rounded to float where a value is stored.

struct TPointF {
  float X = 0;
  float Y = 0;
  friend bool operator==(const TPointF&, const TPointF&) = default;
};

struct TRectF {
  float Left = 0;
  float Top = 0;
  float Right = 0;
  float Bottom = 0;
  friend bool operator==(const TRectF&, const TRectF&) = default;

  float Width() const { return static_cast<float>(double(Right) - double(Left)); }
  float Height() const { return static_cast<float>(double(Bottom) - double(Top)); }
  // Empty unless Right > Left and Bottom > Top; a NaN coordinate therefore makes it empty.
  bool IsEmpty() const { return !(Right > Left && Bottom > Top); }
};
