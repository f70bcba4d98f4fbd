// The frame's warning about transparent pixels in iOS app icons.
#include "frames/FrameRatio.h"

#include "catalogue/SizeInfo.h"
#include "settings/Settings.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
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
  auto f = std::make_unique<TRatioFrame>(nullptr, 180, 180);
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
  f->ceFilename->setEditText(QString());  // cleared: the picture keeps its size, all transparent
  f->ceFilenameChange();
  EXPECT_TRUE(warned(*f));
}

TEST_F(TransparencyWarningTest, OtherGroupsAreNotWarned) {
  // Android splash images and launch images may be transparent.
  for (auto [w, h] : {std::pair{470, 320}, std::pair{2688, 1242}}) {
    auto f = std::make_unique<TRatioFrame>(nullptr, w, h);
    f->SetFilename(translucent);
    f->SetSelectRect(f->ImageRect());
    EXPECT_FALSE(warned(*f)) << w << "x" << h;
  }
}

TEST_F(TransparencyWarningTest, PreviewButtonRaisesOnPreview) {
  auto f = std::make_unique<TRatioFrame>(nullptr, 180, 180);
  EXPECT_EQ(f->btnPreview->text(), QStringLiteral("Preview..."));
  QObject* sender = nullptr;
  f->OnPreview = [&](QObject* s) { sender = s; };
  f->btnPreview->click();
  EXPECT_EQ(sender, f.get());
}
