#include "model/SelectionGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

static std::ostream& operator<<(std::ostream& os, const TRectF& r) {
  return os << "(" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ")";
}
static std::ostream& operator<<(std::ostream& os, const TPointF& p) { return os << "(" << p.X << ", " << p.Y << ")"; }

namespace {

const float kRatio2688 = 2688.0f / 1242.0f;          // 2.1642510890960693
const float kPreview2688 = 264.03863525390625f;      // Ratio x 122, rounded to single
const float kRatio1242 = static_cast<float>(1242.0 / 2688.0);

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  struct Row { double in, out; } rows[] = {
      {106.5, 106}, {15.5, 16}, {15.25, 15}, {15.75, 16}, {2.5, 2}, {3.5, 4}, {0.5, 0}, {-0.5, 0},
      {-1.5, -2}, {-2.5, -2}, {61, 61}, {132.01931762695312, 132},
  };
  for (const Row& r : rows)
    EXPECT_EQ(roundHalfEven(r.in), r.out) << r.in;
}

TEST(ImageRect, FitsCentresAndRoundsToWholeUnits) {
  struct Row {
    const char* what;
    int w, h;
    float scale, pw, ph;
    TRectF expected;
  } rows[] = {
      {"a 1024 square picture fills a 1:1 preview", 1024, 1024, 1, 122, 122, {0, 0, 122, 122}},
      {"a 1600x1200 picture is 91.5 high, centred at 15.25 -> 15, bottom 106.5 -> 106", 1600, 1200, 1, 122, 122,
       {0, 15, 122, 106}},
      {"a 1600x1200 picture in the 2688:1242 preview is height-limited", 1600, 1200, 1, kPreview2688, 122,
       {51, 0, 214, 122}},
      {"a small picture is not enlarged, only centred", 100, 50, 1, 122, 122, {11, 36, 111, 86}},
      {"the scale factor divides the pixel size", 200, 100, 2, 122, 122, {11, 36, 111, 86}},
      {"a centring offset of 0.5 rounds down to the even 0", 121, 100, 1, 122, 122, {0, 11, 121, 111}},
      {"a centring offset of 1.5 rounds up to the even 2", 119, 100, 1, 122, 122, {2, 11, 121, 111}},
      {"an empty bitmap is the centre point of a 1:1 preview", 0, 0, 1, 122, 122, {61, 61, 61, 61}},
      {"an empty bitmap is the centre point of a 2688:1242 preview", 0, 0, 1, kPreview2688, 122,
       {132, 61, 132, 61}},
      {"an empty bitmap is the centre point of a 2732:2048 preview", 0, 0, 1, 162.74609375f, 122, {81, 61, 81, 61}},
      {"a preview without area leaves the picture at the origin", 100, 50, 1, 0, 0, {0, 0, 100, 50}},
      {"a tall picture in a wide preview is centred horizontally", 500, 1000, 1, kPreview2688, 122,
       {102, 0, 163, 122}},
  };
  for (const Row& r : rows)
    EXPECT_EQ(imageRect(r.w, r.h, r.scale, r.pw, r.ph), r.expected) << r.what;
}

TEST(DefaultSelection, LargestRectangleOfTheRatioAnchoredTopLeft) {
  struct Row {
    const char* what;
    TRectF ir;
    float ratio;
    TRectF expected;
  } rows[] = {
      {"a square image rectangle is selected whole", {0, 0, 122, 122}, 1, {0, 0, 122, 122}},
      {"a wide image rectangle gives a full-height square at the left edge, not centred", {0, 15, 122, 106}, 1,
       {0, 15, 91, 106}},
      {"a small picture's rectangle gives a square at its left edge", {11, 36, 111, 86}, 1, {11, 36, 61, 86}},
      {"a too-narrow image rectangle gives full width aligned to the top", {51, 0, 214, 122}, kRatio2688,
       {51, 0, 214, 75.31473541259766f}},
      {"a portrait ratio in a square gives full height", {0, 0, 122, 122}, kRatio1242,
       {0, 0, 56.37053680419922f, 122}},
      {"the centre point of an empty bitmap stays a point", {61, 61, 61, 61}, 1, {61, 61, 61, 61}},
      {"the centre point stays a point for a wide ratio too", {132, 61, 132, 61}, kRatio2688,
       {132, 61, 132, 61}},
  };
  for (const Row& r : rows)
    EXPECT_EQ(defaultSelection(r.ir, r.ratio), r.expected) << r.what;
}

TEST(ClampPoint, EachAxisOnItsOwnEdgesUnchanged) {
  const TRectF ir{0, 15, 122, 106};
  struct Row {
    const char* what;
    TPointF in, out;
  } rows[] = {
      {"a point inside stays", {30, 40}, {30, 40}},
      {"points on the edges stay", {0, 106}, {0, 106}},
      {"left of the rectangle moves to its left edge", {-5, 40}, {0, 40}},
      {"right of it moves to its right edge", {130, 40}, {122, 40}},
      {"above it moves to its top edge", {30, 3}, {30, 15}},
      {"below it moves to its bottom edge", {30, 121}, {30, 106}},
      {"outside a corner moves onto the corner", {200, 200}, {122, 106}},
  };
  for (const Row& r : rows)
    EXPECT_EQ(clampPoint(r.in, ir), r.out) << r.what;
  EXPECT_EQ(clampPoint({10, 100}, {61, 61, 61, 61}), (TPointF{61, 61}))
      << "without a picture every point goes to the centre point";
}

TEST(PushInside, FourChecksKeepTheSize) {
  const TRectF ir{0, 0, 122, 122};
  struct Row {
    const char* what;
    TRectF in, imageRect, out;
  } rows[] = {
      {"a selection moved past the right edge is pushed left", {110, 20, 160, 70}, ir, {72, 20, 122, 70}},
      {"past the left edge it is pushed right", {-5, 10, 45, 60}, ir, {0, 10, 50, 60}},
      {"above the top it is pushed down", {10, -8, 60, 42}, ir, {10, 0, 60, 50}},
      {"below the bottom it is pushed up", {10, 100, 60, 150}, ir, {10, 72, 60, 122}},
      {"a selection inside stays", {10, 20, 60, 70}, ir, {10, 20, 60, 70}},
      {"one wider than the image ends on the right edge", {-10, 0, 140, 50}, ir, {-28, 0, 122, 50}},
      {"one taller than the image ends on the bottom edge", {0, -10, 50, 140}, ir, {0, -28, 50, 122}},
      {"without a picture right and bottom end on the centre point", {10, 20, 60, 70}, {61, 61, 61, 61},
       {11, 11, 61, 61}},
  };
  for (const Row& r : rows)
    EXPECT_EQ(pushInside(r.in, r.imageRect), r.out) << r.what;
}

TEST(OffsetRect, AddsTheDeltaToBothEdges) {
  EXPECT_EQ(offsetRect({10, 20, 60, 70}, 100, 0), (TRectF{110, 20, 160, 70}));
  EXPECT_EQ(offsetRect({10, 20, 60, 70}, -2.5, 3.25), (TRectF{7.5f, 23.25f, 57.5f, 73.25f}));
}

TEST(DrawnSelection, KeepsTheRatioOnTheMouseSideAndStopsAtTheFirstEdge) {
  const TRectF ir{0, 0, 122, 122};
  const float kRatio2732 = 2732.0f / 2048.0f;  // 1.333984375
  struct Row {
    const char* what;
    TPointF start, mouse;
    float ratio;
    TRectF imageRect;
    TRectF out;
  } rows[] = {
      {"a plain downward drag extends as far to the right", {10, 20}, {10, 70}, 1, ir, {10, 20, 60, 70}},
      {"the larger movement wins: 50 down beats 40 across", {10, 20}, {50, 70}, 1, ir, {10, 20, 60, 70}},
      {"190 across wins and the bottom edge stops it, ratio kept", {10, 20}, {200, 90}, 1, ir, {10, 20, 112, 122}},
      {"90 down, the right edge stops it first", {40, 10}, {60, 100}, 1, ir, {40, 10, 122, 92}},
      {"up and to the left of the press point", {100, 100}, {50, 60}, 1, ir, {50, 50, 100, 100}},
      {"down and to the left", {100, 20}, {80, 50}, 1, ir, {70, 20, 100, 50}},
      {"up and to the right", {20, 100}, {60, 90}, 1, ir, {20, 60, 60, 100}},
      {"a plain upward drag extends to the left", {60, 70}, {60, 40}, 1, ir, {30, 40, 60, 70}},
      {"a plain drag to the left extends upwards", {60, 70}, {40, 70}, 1, ir, {40, 50, 60, 70}},
      {"no movement gives the press point", {60, 70}, {60, 70}, 1, ir, {60, 70, 60, 70}},
      {"from the right edge toward the right there is no room", {122, 20}, {150, 60}, 1, ir, {122, 20, 122, 20}},
      {"a wide ratio: 40 down gives 40 x ratio across", {60, 10}, {60, 50}, kRatio2688, {51, 0, 214, 122},
       {60, 10, 146.57003784179688f, 50}},
      {"a wide ratio past the bottom stops at the right edge, not stretched", {82, 10}, {100, 200}, kRatio2732,
       {0, 0, 163, 122}, {82, 10, 163, static_cast<float>(10 + 81 / double(kRatio2732))}},
      {"a tall ratio past the right edge stops at the bottom edge", {10, 10}, {300, 20}, kRatio1242,
       {0, 0, 122, 122}, {10, 10, static_cast<float>(10 + 112 * double(kRatio1242)), 122}},
      {"without a picture the selection is the centre point", {61, 61}, {100, 100}, 1, {61, 61, 61, 61},
       {61, 61, 61, 61}},
  };
  for (const Row& r : rows) {
    const TPointF corner = endCorner(r.start, r.mouse, r.ratio, r.imageRect);
    const TRectF drawn = rectFromCorners(r.start, corner);
    EXPECT_EQ(drawn, r.out) << r.what;
    EXPECT_EQ(clampPoint(corner, r.imageRect), corner) << r.what << ": the corner lies inside the picture";
    if (drawn.Height() > 0)
      EXPECT_NEAR(drawn.Width() / drawn.Height(), r.ratio, 1e-5) << r.what << ": the ratio is kept";
  }
}

TEST(RectFromCorners, IsNormalisedWhateverTheOrder) {
  EXPECT_EQ(rectFromCorners({10, 20}, {60, 70}), (TRectF{10, 20, 60, 70}));
  EXPECT_EQ(rectFromCorners({60, 70}, {10, 20}), (TRectF{10, 20, 60, 70}));
  EXPECT_EQ(rectFromCorners({60, 20}, {10, 70}), (TRectF{10, 20, 60, 70}));
}

TEST(NormalizedSelection, FractionsOfTheImageRectangle) {
  struct Row {
    const char* what;
    TRectF sr, ir, out;
  } rows[] = {
      {"select-all of a 1600x1200 picture in a 1:1 frame", {0, 15, 91, 106}, {0, 15, 122, 106},
       {0, 0, 0.7459016442298889f, 1}},
      {"the whole picture is 0..1", {51, 0, 214, 122}, {51, 0, 214, 122}, {0, 0, 1, 1}},
      {"an inverted selection stays inverted", {80, 90, 10, 20}, {0, 0, 122, 122},
       {0.6557376980781555f, static_cast<float>(90.0 / 122), static_cast<float>(10.0 / 122),
        static_cast<float>(20.0 / 122)}},
      {"a selection outside the picture gives values outside 0..1", {-61, 0, 244, 122}, {0, 0, 122, 122},
       {-0.5f, 0, 2, 1}},
  };
  for (const Row& r : rows)
    EXPECT_EQ(normalizedSelection(r.sr, r.ir), r.out) << r.what;
  const TRectF none = normalizedSelection({61, 61, 61, 61}, {61, 61, 61, 61});
  EXPECT_TRUE(std::isnan(none.Left) && std::isnan(none.Bottom)) << "no picture: 0 / 0";
}

}  // namespace

namespace {

TEST(SelectionInRatio, AStoredSelectionOutOfTheRatioComesBackInItAroundItsCentre) {
  const TRectF square{0, 0, 122, 122};
  const TRectF landscape{0, 15, 122, 106};  // a 1600 x 1200 picture in a 1:1 preview
  // Drawn in the 2688:1242 ratio: the height follows the width divided by the single-precision ratio.
  const float drawnBottom = static_cast<float>(163.0 / double(kRatio2688));
  struct Row {
    const char* what;
    TRectF stored;
    float ratio;
    TRectF ir, expected;
  } rows[] = {
      {"a square on a 1:1 frame stays", {10, 20, 60, 70}, 1, square, {10, 20, 60, 70}},
      {"a drawn wide selection, off in its last digits, stays", {51, 0, 214, drawnBottom}, kRatio2688,
       {51, 0, 214, 122}, {51, 0, 214, drawnBottom}},
      {"ten times too wide becomes the square around its centre", {0, 0, 100, 10}, 1, square, {45, 0, 55, 10}},
      {"ten times too tall likewise", {0, 0, 10, 100}, 1, square, {0, 45, 10, 55}},
      {"larger than the picture: as large as fits, pushed inside", {0, -100, 122, 200}, 1, landscape,
       {15.5f, 15, 106.5f, 106}},
      {"wholly outside and out of the ratio: the default selection", {500, 500, 600, 510}, 1, square,
       {0, 0, 122, 122}},
      {"an empty selection stays for validation to report", {61, 61, 61, 61}, 1, square, {61, 61, 61, 61}},
      {"an inverted one too", {60, 60, 10, 10}, 1, square, {60, 60, 10, 10}},
  };
  for (const Row& r : rows)
    EXPECT_EQ(restoredSelection(r.stored, r.ratio, r.ir), r.expected) << r.what;
}

// A stored selection beyond the picture: the largest rectangle of the ratio inside both it and the
// picture, on its centre as far as that allows; one beside the picture gives the default selection.
TEST(SelectionInRatio, AStoredSelectionBeyondThePictureIsBroughtInside) {
  const TRectF square{0, 0, 122, 122};      // a 1024 x 1024 picture in a 1:1 preview
  const TRectF landscape{0, 15, 122, 106};  // a 1600 x 1200 picture in a 1:1 preview
  const float inf = std::numeric_limits<float>::infinity();
  struct Row {
    const char* what;
    TRectF stored;
    float ratio;
    TRectF ir, expected;
  } rows[] = {
      {"over the right and bottom edges: the common part", {100, 100, 300, 300}, 1, square, {100, 100, 122, 122}},
      {"huge: the whole picture", {0, 0, 3e38f, 3e38f}, 1, square, {0, 0, 122, 122}},
      {"huge on every side", {-3e38f, -3e38f, 3e38f, 3e38f}, 1, square, {0, 0, 122, 122}},
      {"infinite", {0, 0, inf, inf}, 1, square, {0, 0, 122, 122}},
      {"infinitely wide: its centre is no number, the common part's middle is taken", {-inf, 0, inf, 10}, 1,
       square, {56, 0, 66, 10}},
      {"over the left edge: the height follows, on the stored centre", {-50, 20, 50, 120}, 1, landscape,
       {0, 45, 50, 95}},
      {"larger on all sides, in the ratio", {-10, -10, 132, 132}, 1, landscape, {15.5f, 15, 106.5f, 106}},
      {"wide ratio over the bottom edge", {51, 100, 214, 100 + 163 / kRatio2688}, kRatio2688, {51, 0, 214, 122},
       {108.6932373046875f, 100, 156.3067626953125f, 122}},
      {"wholly beside the picture: the default selection", {500, 500, 600, 600}, 1, landscape, {0, 15, 91, 106}},
      {"touching an edge only: the default selection", {-20, 20, 0, 40}, 1, landscape, {0, 15, 91, 106}},
      {"inside, within the last digits: as stored", {0, 15, 91.0001f, 106.0001f}, 1, landscape,
       {0, 15, 91.0001f, 106.0001f}},
  };
  for (const Row& r : rows) {
    const TRectF got = restoredSelection(r.stored, r.ratio, r.ir);
    EXPECT_EQ(got, r.expected) << r.what;
    EXPECT_NEAR(double(got.Right) - got.Left, r.ratio * (double(got.Bottom) - got.Top), 1e-3) << r.what;
    EXPECT_EQ(restoredSelection(got, r.ratio, r.ir), got) << r.what << ": a second restore keeps it";
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const TRectF notANumber = restoredSelection({nan, 0, 10, 10}, 1, square);
  EXPECT_TRUE(std::isnan(notANumber.Left)) << "an empty selection (a coordinate no number) stays for validation";
}

TEST(SelectionOutside, OnlyASelectionThatSharesNoAreaWithThePicture) {
  const TRectF ir{0, 15, 122, 106};
  struct Row {
    const char* what;
    TRectF selection;
    bool outside;
  } rows[] = {
      {"inside", {0, 15, 91, 106}, false},
      {"partly over the edge", {100, 50, 150, 100}, false},
      {"wholly beside it", {500, 500, 600, 600}, true},
      {"above it, touching its top edge", {10, 0, 25, 15}, true},
      {"left of it, touching its left edge", {-20, 20, 0, 40}, true},
      {"an empty selection is reported as empty, not as outside", {500, 500, 500, 500}, false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(isOutside(r.selection, ir), r.outside) << r.what;
}

}  // namespace
