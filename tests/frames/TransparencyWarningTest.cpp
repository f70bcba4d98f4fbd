// The frame's warnings: transparent pixels in iOS app icons, and a selection smaller than an output.
#include "frames/FrameRatio.h"

#include "catalogue/SizeInfo.h"
#include "settings/Settings.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

class TransparencyWarningTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    setSettingsFilePathOverride(dir.filePath(QStringLiteral("Vellumark.ini")));
    InitSizeInfos();
    // 64 x 64, opaque but for pixel (60, 60) at half alpha. In a 1:1 frame it is not enlarged:
    // image rectangle (29, 29, 93, 93), one preview unit per pixel.
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(qRgba(40, 90, 200, 255));
    img.setPixel(60, 60, qRgba(40, 90, 200, 128));
    translucent = dir.filePath(QStringLiteral("translucent.png"));
    ASSERT_TRUE(img.save(translucent));
    img.setPixel(60, 60, qRgba(40, 90, 200, 255));
    opaque = dir.filePath(QStringLiteral("opaque.png"));
    ASSERT_TRUE(img.save(opaque));
  }
  void TearDown() override { setSettingsFilePathOverride(QString()); }

  static bool warned(const TRatioFrame& f) { return !f.lbTransparency->isHidden(); }

  QTemporaryDir dir;
  QString translucent, opaque;
  ScriptedDialogs dialogs;
};

}  // namespace

TEST_F(TransparencyWarningTest, FollowsThePictureAndTheSelectionOfTheSquareIconGroup) {
  auto f = std::make_unique<TRatioFrame>(nullptr, 180, 180, true, Settings());
  EXPECT_FALSE(warned(*f)) << "no picture";
  EXPECT_EQ(f->lbTransparency->text(),
            QStringLiteral("Transparent pixels: the App Store rejects iOS app icons with transparency."));

  f->SetFilename(translucent);  // select-all: the whole picture
  EXPECT_TRUE(warned(*f));

  f->SetSelectRect({29, 29, 61, 61});  // the top-left quarter, opaque
  EXPECT_FALSE(warned(*f));

  // Dragged with Ctrl over the translucent pixel: updated while the mouse moves.
  f->pbPreviewMouseDown(Qt::LeftButton, ssLeft | ssCtrl, 40, 40);
  f->pbPreviewMouseMove(ssLeft | ssCtrl, 72, 72);
  EXPECT_TRUE(warned(*f)) << "selection now (61, 61, 93, 93)";
  f->pbPreviewMouseUp(Qt::LeftButton, ssCtrl, 72, 72);
  EXPECT_TRUE(warned(*f));

  f->SetFilename(opaque);
  EXPECT_FALSE(warned(*f)) << "an opaque picture";
  f->SetFilename(translucent);
  EXPECT_TRUE(warned(*f));
  f->ceFilename->setEditText(QString());  // cleared: no picture, nothing to warn about
  f->ceFilenameChange();
  EXPECT_FALSE(warned(*f));
}

TEST_F(TransparencyWarningTest, OtherGroupsAreNotWarned) {
  // Android splash images and launch images may be transparent.
  for (auto [w, h] : {std::pair{470, 320}, std::pair{2688, 1242}}) {
    auto f = std::make_unique<TRatioFrame>(nullptr, w, h, true, Settings());
    f->SetFilename(translucent);
    f->SetSelectRect(f->ImageRect());
    EXPECT_FALSE(warned(*f)) << w << "x" << h;
  }
}

TEST_F(TransparencyWarningTest, PreviewButtonRaisesOnPreview) {
  auto f = std::make_unique<TRatioFrame>(nullptr, 180, 180, true, Settings());
  EXPECT_EQ(f->btnPreview->text(), QStringLiteral("Preview..."));
  QObject* sender = nullptr;
  f->OnPreview = [&](QObject* s) { sender = s; };
  f->btnPreview->click();
  EXPECT_EQ(sender, f.get());
}

TEST_F(TransparencyWarningTest, TransparencyIsWarnedOnlyWhileIOSIsChecked) {
  auto f = std::make_unique<TRatioFrame>(nullptr, 180, 180, true, Settings());
  f->SetFilename(translucent);
  ASSERT_TRUE(warned(*f));
  f->SetOutputs({QSize(144, 144), QSize(48, 48)}, false);  // Android only
  EXPECT_FALSE(warned(*f));
  f->SetOutputs({QSize(144, 144), QSize(48, 48)}, true);
  EXPECT_TRUE(warned(*f));
}

// The selected region in source pixels against the largest output: 64 x 64 pixels lie on 64 x 64
// preview units, so the selection's size in units is its size in pixels.
TEST_F(TransparencyWarningTest, EnlargedSaysHowFewPixelsTheLargestOutputIsMadeFrom) {
  auto f = std::make_unique<TRatioFrame>(nullptr, 180, 180, true, Settings());
  f->resize(600, 160);
  EXPECT_TRUE(f->lbEnlarged->isHidden()) << "no picture";
  f->SetFilename(opaque);
  struct Row {
    const char* what;
    QList<QSize> outputs;
    TRectF selection;
    QString warning;  // empty: not shown
  } rows[] = {
      {"the whole picture against the group's 180 x 180", {QSize(29, 29), QSize(180, 180), QSize(167, 167)},
       {29, 29, 93, 93}, "Enlarged: the selection is 64 x 64 pixels of the picture; the largest output is 180 x 180."},
      {"large enough for every output", {QSize(48, 48), QSize(36, 36)}, {29, 29, 93, 93}, ""},
      {"exactly as large as the largest output", {QSize(64, 64)}, {29, 29, 93, 93}, ""},
      {"a quarter of the picture", {QSize(48, 48), QSize(36, 36)}, {29, 29, 61, 61},
       "Enlarged: the selection is 32 x 32 pixels of the picture; the largest output is 48 x 48."},
      {"an empty selection says nothing of its size", {QSize(48, 48)}, {61, 61, 61, 61}, ""},
      {"no output for the checked devices", {}, {29, 29, 61, 61}, ""},
  };
  for (const Row& r : rows) {
    f->SetOutputs(r.outputs, true);
    f->SetSelectRect(r.selection);
    EXPECT_EQ(f->lbEnlarged->isHidden(), r.warning.isEmpty()) << r.what;
    if (!r.warning.isEmpty())
      EXPECT_EQ(f->lbEnlarged->text(), r.warning) << r.what;
  }

  // Followed while the mouse moves: a draw over the whole picture clears it at once.
  f->SetOutputs({QSize(48, 48)}, true);
  f->SetSelectRect({29, 29, 61, 61});
  ASSERT_FALSE(f->lbEnlarged->isHidden());
  f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  QTest::mousePress(f->pbPreview, Qt::LeftButton, {}, QPoint(29, 29));
  QTest::mouseMove(f->pbPreview, QPoint(93, 93));
  EXPECT_TRUE(f->lbEnlarged->isHidden());
  QTest::mouseRelease(f->pbPreview, Qt::LeftButton, {}, QPoint(93, 93));
}

TEST_F(TransparencyWarningTest, BothWarningsShowWholeAndTheFrameGrowsForThem) {
  auto f = std::make_unique<TRatioFrame>(nullptr, 180, 180, true, Settings());
  f->resize(505, 160);
  f->SetFilename(translucent);
  f->SetOutputs({QSize(180, 180)}, true);
  ASSERT_TRUE(warned(*f));
  ASSERT_FALSE(f->lbEnlarged->isHidden());
  const QRect t = f->lbTransparency->geometry(), e = f->lbEnlarged->geometry();
  EXPECT_GT(e.top(), t.bottom()) << "stacked, not overlapping";
  EXPECT_GE(t.height(), f->lbTransparency->heightForWidth(t.width()));
  EXPECT_GE(e.height(), f->lbEnlarged->heightForWidth(e.width()));
  EXPECT_GT(f->height(), e.bottom()) << "the frame holds both";
  f->SetOutputs({}, false);
  EXPECT_EQ(f->height(), 160) << "back to the design height";
}
