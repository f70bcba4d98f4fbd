#include "imaging/RenderImage.h"
#include "model/RatioGroup.h"
#include "model/SelectionEdit.h"
#include "settings/Settings.h"
#include "support/TestFiles.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

static std::ostream& operator<<(std::ostream& os, const TPictureRect& r) {
  return os << "(" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ")";
}

namespace {

constexpr TPictureSize kPicture{1000, 800};

void expectNear(const TPictureRect& got, const TPictureRect& want, double tolerance = 1e-9) {
  EXPECT_NEAR(got.Left, want.Left, tolerance) << got << " want " << want;
  EXPECT_NEAR(got.Top, want.Top, tolerance) << got << " want " << want;
  EXPECT_NEAR(got.Right, want.Right, tolerance) << got << " want " << want;
  EXPECT_NEAR(got.Bottom, want.Bottom, tolerance) << got << " want " << want;
}

// The editor's rules for every selection it makes: the ratio, inside the picture, not too small.
void expectValid(const TPictureRect& s, double ratio, TPictureSize pic) {
  EXPECT_NEAR(s.Width(), ratio * s.Height(), 1e-9 * pic.Width) << s;
  EXPECT_GE(s.Left, 0) << s;
  EXPECT_GE(s.Top, 0) << s;
  EXPECT_LE(s.Right, pic.Width) << s;
  EXPECT_LE(s.Bottom, pic.Height) << s;
  EXPECT_GE(std::min(s.Width(), s.Height()), MinSelectionSide - 1e-9) << s;
}

// A group of the catalogue's ratio with a picture of that size (white).
TRatioGroup groupWithPicture(int rw, int rh, int pw, int ph) {
  TRatioGroup group(rw, rh);
  QImage image(pw, ph, QImage::Format_ARGB32);
  image.fill(Qt::white);
  TBitmap picture;
  picture.Assign(image);
  group.Picture = picture;
  return group;
}

}  // namespace

// Select-all: the largest region of the ratio, centred, in picture pixels; a picture of the
// group's ratio is taken whole, and the preview coordinates it is stored in bring the same pixels
// back.
TEST(SelectAll, LargestRegionOfTheRatioCentredInPicturePixels) {
  const struct Row {
    const char* what;
    int rw, rh, pw, ph;
    TPictureRect expected;
  } rows[] = {
      {"portrait iPad picture in its own group", 2048, 2732, 2048, 2732, {0, 0, 2048, 2732}},
      {"16:9 picture in the 16:9 group", 2208, 1242, 1920, 1080, {0, 0, 1920, 1080}},
      {"3:4 picture in the 2048:2732 group, a little wider: full height", 2048, 2732, 1536, 2048,
       {(1536 - 2048 * 2048.0 / 2732) / 2, 0, (1536 + 2048 * 2048.0 / 2732) / 2, 2048}},
      {"landscape picture in the square group: full height, centred", 180, 180, 1600, 1200, {200, 0, 1400, 1200}},
      {"tall picture in the square group: full width, centred", 180, 180, 50, 100, {0, 25, 50, 75}},
      {"picture smaller than the preview", 180, 180, 100, 50, {25, 0, 75, 50}},
      {"wide group, picture of another ratio", 2688, 1242, 1600, 1200,
       {0, (1200 - 1600 * 1242.0 / 2688) / 2, 1600, (1200 + 1600 * 1242.0 / 2688) / 2}},
      {"odd sizes: a half pixel each side", 180, 180, 101, 100, {0.5, 0, 100.5, 100}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const TRatioGroup group = groupWithPicture(r.rw, r.rh, r.pw, r.ph);
    expectNear(largestCentred({r.pw, r.ph}, group.PictureRatio()), r.expected);
    TRatioGroup selected = group;
    selected.SelectRect = group.DefaultSelection();
    // What the run reads: fractions of the picture, from the stored preview coordinates.
    expectNear(selected.PictureSelection(), r.expected, 2e-3);
    const TRectF zoom = selected.ZoomRect();
    EXPECT_NEAR(zoom.Left * r.pw, r.expected.Left, 2e-3);
    EXPECT_NEAR(zoom.Bottom * r.ph, r.expected.Bottom, 2e-3);
  }
  EXPECT_EQ(largestCentred({0, 0}, 1), TPictureRect{});
}

// What a run writes from select-all, compared with the picture: a picture of the group's ratio
// comes out as itself, every row and column; another keeps its centre part, pixel for pixel where
// the part starts on a whole pixel. The pictures are noise, so any resampling shows.
TEST(SelectAll, TheWrittenFileIsThePictureOrItsCentre) {
  const struct Row {
    int rw, rh, pw, ph;  // the group's ratio and the picture
    int ow, oh;          // the output, and where it starts in the picture
    int ox, oy;
  } rows[] = {
      {2048, 2732, 2048, 2732, 2048, 2732, 0, 0},
      {2208, 1242, 1920, 1080, 1920, 1080, 0, 0},
      {180, 180, 1600, 1200, 1200, 1200, 200, 0},
      {180, 180, 300, 500, 300, 300, 0, 100},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.pw << " x " << r.ph << " in " << r.rw << ":" << r.rh);
    QImage image(r.pw, r.ph, QImage::Format_ARGB32);
    quint32 seed = 12345;
    for (int y = 0; y < r.ph; ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < r.pw; ++x) {
        seed = seed * 1664525u + 1013904223u;
        line[x] = 0xFF000000u | (seed >> 8);
      }
    }
    TRatioGroup group(r.rw, r.rh);
    TBitmap picture;
    picture.Assign(image);
    group.Picture = picture;
    group.SelectRect = group.DefaultSelection();
    const QImage out = renderImage(group.Picture.Whole(), r.ow, r.oh, group.ZoomRect()).Image();
    ASSERT_EQ(out.size(), QSize(r.ow, r.oh));
    int worst = 0;
    for (int y = 0; y < r.oh; ++y)
      for (int x = 0; x < r.ow; ++x) {
        const QRgb a = out.pixel(x, y), b = image.pixel(r.ox + x, r.oy + y);
        worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                          std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
      }
    EXPECT_EQ(worst, 0);
  }
}

// A selection kept in picture pixels is not "out of the ratio" when it comes back from the
// settings file, though in preview units (whole-unit image rectangle) it is slightly off it.
TEST(SelectAll, RestoreKeepsASelectionOfTheRatioInPicturePixels) {
  QTemporaryDir dir;
  QImage picture(2048, 2732, QImage::Format_ARGB32);
  picture.fill(Qt::green);
  ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("tall.png"))));
  const QString ini = dir.filePath(QStringLiteral("Vellumark.ini"));
  // The old select-all of this picture, made in preview units: of the ratio there, not in pixels.
  const float ratio = TRatioGroup(2048, 2732).Ratio();
  const QByteArray previewRatio = encodeRectList(TRectF{0, 0, 91, float(91 / double(ratio))}).toLatin1();
  const struct Row {
    const char* what;
    QByteArray stored;  // empty: none stored
    bool kept;
  } rows[] = {
      {"none stored: select-all, the whole picture", "", false},
      {"the whole picture: 91 x 122 units, 2048 x 2732 pixels", "0,0,91,122", true},
      {"of the ratio in preview units", previewRatio, true},
      {"out of both ratios", "0,0,91,100", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    QByteArray bytes = "[images]\n2048_2732=tall.png\n";
    if (!r.stored.isEmpty())
      bytes += "[selections]\n2048_2732=" + r.stored + "\n";
    writeFileBytes(ini, bytes);
    TSettingsStore settings(ini);
    TRatioGroup group(2048, 2732);
    restoreGroup(group, settings);
    EXPECT_EQ(encodeRectList(group.SelectRect).toLatin1() == r.stored, r.kept);
    if (r.stored.isEmpty())
      expectNear(group.PictureSelection(), {0, 0, 2048, 2732}, 1e-3);
  }
}

// A stored selection that lies wholly beside the picture says nothing about it: it becomes
// select-all, centred.
TEST(SelectAll, ASelectionBesideThePictureBecomesSelectAll) {
  QTemporaryDir dir;
  QImage picture(1600, 1200, QImage::Format_ARGB32);
  picture.fill(Qt::green);
  ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("wide.png"))));
  const QString ini = dir.filePath(QStringLiteral("Vellumark.ini"));
  writeFileBytes(ini, "[images]\n180_180=wide.png\n[selections]\n180_180=0,0,10,10\n");
  TSettingsStore settings(ini);
  TRatioGroup group(180, 180);
  restoreGroup(group, settings);
  expectNear(group.PictureSelection(), {200, 0, 1400, 1200}, 1e-3);
}

// Each handle dragged far out and far in: the ratio is kept, the selection stays inside the picture
// and never turns over; a corner keeps the opposite corner, an edge the opposite edge's centre.
TEST(SelectionEdit, HandleDragsKeepTheRatioAndStayInside) {
  const double ratio = 0.75;
  const TPictureRect start{400, 300, 550, 500};  // 150 x 200, centre (475, 400)
  const struct Row {
    THandle handle;
    double dx, dy;
    TPictureRect expected;
  } rows[] = {
      // Corners: the larger movement counts; the picture's edge stops them.
      {THandle::BottomRight, 30, 0, {400, 300, 580, 540}},
      {THandle::BottomRight, 0, 40, {400, 300, 580, 540}},
      {THandle::BottomRight, 5000, 5000, {400, 300, 775, 800}},
      {THandle::TopLeft, -30, -40, {370, 260, 550, 500}},
      {THandle::TopLeft, -5000, 0, {175, 0, 550, 500}},
      {THandle::TopRight, 5000, -10, {400, 0, 775, 500}},
      {THandle::BottomLeft, -5000, 10, {175, 300, 550, 800}},
      // Past the fixed corner: the smallest selection, not a turned one.
      {THandle::BottomRight, -1000, -1000, {400, 300, 401, 300 + 1 / ratio}},
      // Edges: the opposite edge stays and its centre is kept while the picture allows.
      {THandle::Right, 30, 999, {400, 280, 580, 520}},
      {THandle::Left, -30, 0, {370, 280, 550, 520}},
      {THandle::Bottom, 0, 40, {385, 300, 565, 540}},
      {THandle::Top, 0, -40, {385, 260, 565, 500}},
      // Edges reaching the picture's side.
      {THandle::Right, 5000, 0, {400, 0, 1000, 800}},
      {THandle::Bottom, 0, 5000, {287.5, 300, 662.5, 800}},
      {THandle::Top, 0, -5000, {287.5, 0, 662.5, 500}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "handle " << int(r.handle) << " by " << r.dx << ", " << r.dy);
    const TPictureRect got = resizeByHandle(start, r.handle, r.dx, r.dy, ratio, kPicture);
    expectNear(got, r.expected, 1e-6);
    expectValid(got, ratio, kPicture);
  }
  // Near the picture's right side the opposite edge's centre cannot be kept: the selection is
  // pushed back inside, its top edge still where it was.
  const TPictureRect nearSide{800, 300, 950, 500};
  expectNear(resizeByHandle(nearSide, THandle::Bottom, 0, 5000, ratio, kPicture), {625, 300, 1000, 800});
}

TEST(SelectionEdit, MovesDrawsAndPlacesInsideThePicture) {
  const TPictureRect s{400, 300, 550, 500};
  expectNear(movedBy(s, -1000, 20, kPicture), {0, 320, 150, 520});
  expectNear(movedBy(s, 1000, 1000, kPicture), {850, 600, 1000, 800});
  // Drawn from a point toward the mouse, on its side, stopped by the first edge met.
  expectNear(drawnFrom(100, 100, 160, 120, 0.75, kPicture), {100, 100, 160, 180});
  expectNear(drawnFrom(100, 100, 40, 90, 0.75, kPicture), {40, 20, 100, 100});
  expectNear(drawnFrom(100, 100, 100, -900, 0.75, kPicture), {25, 0, 100, 100});
  // The fields: the width held to what the picture allows, then the place.
  expectNear(placedAt(10, 20, 300, 0.75, kPicture), {10, 20, 310, 420});
  expectNear(placedAt(900, 700, 300, 0.75, kPicture), {700, 400, 1000, 800});
  expectNear(placedAt(0, 0, 5000, 0.75, kPicture), {0, 0, 600, 800});
  expectNear(placedAt(-5, -5, 0, 0.75, kPicture), {0, 0, 1, 1 / 0.75});
}

TEST(SelectionEdit, HandlesAreFoundCornersFirstThenInside) {
  const TPictureRect s{100, 100, 200, 200};
  const struct Row {
    double x, y;
    THandle expected;
  } rows[] = {
      {102, 98, THandle::TopLeft},  {150, 104, THandle::Top},       {204, 150, THandle::Right},
      {199, 199, THandle::BottomRight}, {150, 150, THandle::Inside}, {120, 120, THandle::Inside},
      {300, 150, THandle::None},    {150, 196, THandle::Bottom},    {96, 202, THandle::BottomLeft},
  };
  for (const Row& r : rows)
    EXPECT_EQ(handleAt(s, r.x, r.y, 5), r.expected) << r.x << ", " << r.y;
}

// Zooming keeps the picture point under the cursor where it was; the steps go through 100 %.
TEST(SelectionEdit, ZoomKeepsThePointUnderTheCursor) {
  const TEditorView view{0.5, 100, 40};
  const double cx = 300, cy = 200;
  const double px = (cx + view.ScrollX) / view.Scale, py = (cy + view.ScrollY) / view.Scale;
  for (double scale : {0.25, 1.0, 3.0}) {
    const TEditorView z = zoomedAbout(view, scale, cx, cy);
    EXPECT_DOUBLE_EQ(px * z.Scale - z.ScrollX, cx) << scale;
    EXPECT_DOUBLE_EQ(py * z.Scale - z.ScrollY, cy) << scale;
  }
  EXPECT_DOUBLE_EQ(zoomStep(0.8, true), 1);
  EXPECT_DOUBLE_EQ(zoomStep(1, true), 1.25);
  EXPECT_DOUBLE_EQ(zoomStep(1, false), 0.8);
  EXPECT_DOUBLE_EQ(zoomStep(0.9, false), 0.8);
  EXPECT_DOUBLE_EQ(zoomStep(MaxZoom, true), MaxZoom);
  EXPECT_DOUBLE_EQ(zoomStep(MinZoom, false), MinZoom);
  EXPECT_DOUBLE_EQ(fitScale({2000, 1000}, 500, 400), 0.25);
}
