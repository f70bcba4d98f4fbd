#include "imaging/KeptPicture.h"

#include "imaging/ImageDecode.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// A picture of that size, opaque but for one pixel of alpha 254 at (x, y), filled with a colour
// of its own; saved as PNG.
QString savePicture(const QTemporaryDir& dir, const QString& name, QSize size, QPoint translucent, QRgb colour) {
  QImage image(size, QImage::Format_ARGB32);
  image.fill(colour);
  image.setPixel(translucent, qRgba(qRed(colour), qGreen(colour), qBlue(colour), 254));
  const QString path = dir.filePath(name);
  EXPECT_TRUE(image.save(path));
  return path;
}

}  // namespace

// What a picture keeps: its own size, a copy fitted into the bound (the picture itself when it fits,
// none for an empty bound) and the opacity of every one of its pixels, which the copy could not
// tell: a region of a single pixel of the picture is answered exactly.
TEST(KeptPicture, KeepsItsSizeACopyFittedIntoTheBoundAndItsOpacity) {
  QTemporaryDir dir;
  setKeptWholeBudget(0);  // the copies alone
  struct Case {
    const char* what;
    QSize picture, bound, copy;
  };
  const Case cases[] = {
      {"wide, reduced to the bound's width", {3000, 1000}, {1056, 488}, {1056, 352}},
      {"tall, reduced to the bound's height", {500, 2000}, {1056, 488}, {122, 488}},
      {"fitting: its own copy", {300, 200}, {1056, 488}, {300, 200}},
      {"no bound: no copy", {300, 200}, {}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QPoint spot(c.picture.width() * 3 / 4, c.picture.height() / 3);
    const QString path = savePicture(dir, QStringLiteral("%1.png").arg(&c - cases), c.picture, spot, qRgb(40, 90, 200));
    const TKeptPicture kept = TKeptPicture::Load(path, c.bound);
    EXPECT_EQ(QSize(kept.Width(), kept.Height()), c.picture);
    EXPECT_EQ(QSize(kept.Preview().Width(), kept.Preview().Height()), c.copy);
    EXPECT_EQ(kept.FileName(), path);
    const double w = c.picture.width(), h = c.picture.height();
    const auto pixel = [&](QPoint p) {  // a region inside that pixel alone
      return TRectF{float((p.x() + 0.25) / w), float((p.y() + 0.25) / h), float((p.x() + 0.75) / w),
                    float((p.y() + 0.75) / h)};
    };
    EXPECT_TRUE(kept.AnyTranslucentIn(pixel(spot)));
    EXPECT_FALSE(kept.AnyTranslucentIn(pixel(spot + QPoint(1, 0))));
    EXPECT_FALSE(kept.AnyTranslucentIn(pixel(spot + QPoint(0, -1))));
    const QImage whole = kept.Whole().Image();
    EXPECT_EQ(whole.size(), c.picture);
    EXPECT_EQ(qAlpha(whole.pixel(spot)), 254);
  }
  setKeptWholeBudget(KeptWholeBudget);
}

// Whole pictures are kept beside their copies only within the budget, whatever the number of
// pictures: the others are let go once their copies are made and decoded again, the same pixels,
// each time they are asked for. A held picture comes back as the very same image.
TEST(KeptPicture, WholePicturesKeptBesideTheCopiesStayWithinTheBudget) {
  QTemporaryDir dir;
  const qint64 pictureBytes = 200 * 100 * 4;
  const qint64 previous = setKeptWholeBudget(3 * pictureBytes);
  const auto held = [](const TKeptPicture& k) {
    const qint64 first = k.Whole().Image().cacheKey();  // let go before the next is asked for
    return k.Whole().Image().cacheKey() == first;
  };
  std::vector<TKeptPicture> kept;
  for (int i = 0; i < 6; ++i)
    kept.push_back(TKeptPicture::Load(
        savePicture(dir, QStringLiteral("p%1.png").arg(i), {200, 100}, {0, 0}, qRgb(i * 40, 7, 9)), {20, 10}));
  EXPECT_EQ(std::count_if(kept.begin(), kept.end(), held), 3);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(kept[size_t(i)].Whole().Image().pixel(100, 50), qRgb(i * 40, 7, 9)) << i;
  // Pictures let go give their part of the budget back.
  kept.erase(kept.begin(), kept.begin() + 3);
  kept.push_back(TKeptPicture::Load(savePicture(dir, "q.png", {200, 100}, {0, 0}, qRgb(1, 1, 1)), {20, 10}));
  EXPECT_TRUE(held(kept.back()));
  setKeptWholeBudget(previous);
}

// The same unchanged file loaded again for the same bound while it is kept is the same kept
// picture, decoded once; a file changed since is loaded anew.
TEST(KeptPicture, TheSameUnchangedFileIsKeptOnce) {
  QTemporaryDir dir;
  const QString path = savePicture(dir, "a.png", {300, 200}, {1, 1}, qRgb(1, 2, 3));
  const TKeptPicture first = TKeptPicture::Load(path, {30, 20});
  EXPECT_TRUE(TKeptPicture::Load(path, {30, 20}) == first);
  EXPECT_FALSE(TKeptPicture::Load(path, {60, 40}) == first) << "another bound";
  savePicture(dir, "a.png", {300, 201}, {1, 1}, qRgb(1, 2, 3));
  const TKeptPicture changed = TKeptPicture::Load(path, {30, 20});
  EXPECT_FALSE(changed == first);
  EXPECT_EQ(changed.Height(), 201);
  EXPECT_FALSE(first.FileUnchanged());
  EXPECT_TRUE(changed.FileUnchanged());
}
