// The frames inside the real window as a user edits them: warnings that follow the devices, undo
// and redo, the keyboard, drag and drop, and the preview window following the frame.
#include "app/VellumarkMain.h"

#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "settings/Settings.h"
#include "support/ScriptedDialogs.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

static std::ostream& operator<<(std::ostream& os, const TRectF& r) {
  return os << "(" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ")";
}

namespace {

class FrameEditingTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    setSettingsFilePathOverride(FDir.filePath(QStringLiteral("Vellumark.ini")));
    ::InitSizeInfos();
    Form = std::make_unique<TfrmVellumark>();
  }
  void TearDown() override {
    Form.reset();
    setSettingsFilePathOverride(QString());
  }

  // A picture of the given size, opaque but for one half-transparent pixel in its middle.
  QString Picture(const QString& name, int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(qRgba(40, 90, 200, 255));
    img.setPixel(w / 2, h / 2, qRgba(40, 90, 200, 128));
    const QString path = FDir.filePath(name);
    EXPECT_TRUE(img.save(path));
    return path;
  }
  QString Stored(const TRatioFrame* frame) const {
    return readSetting(QStringLiteral("selections"), frame->SizeStr());
  }
  void SetDevices(bool iPhone, bool iPad, bool android) {
    Form->lbiiPhone->setCheckState(iPhone ? Qt::Checked : Qt::Unchecked);
    Form->lbiiPad->setCheckState(iPad ? Qt::Checked : Qt::Unchecked);
    Form->lbiAndroid->setCheckState(android ? Qt::Checked : Qt::Unchecked);
  }

  QTemporaryDir FDir;
  ScriptedDialogs FDialogs;
  std::unique_ptr<TfrmVellumark> Form;
};

// The square icons' frame with a 64 x 64 picture: the warnings follow the devices and the App
// Store icon box of the Setup tab.
TEST_F(FrameEditingTest, WarningsFollowTheDevicesAndTheAppStoreIcon) {
  TRatioFrame* square = Form->FindRatioFrame(0);
  square->SetFilename(Picture(QStringLiteral("icon.png"), 64, 64));
  const auto enlarged = [](int side) {
    return QStringLiteral("Enlarged: the selection is 64 x 64 pixels of the picture; the largest output is %1 x %1.")
        .arg(side);
  };
  struct Row {
    bool iPhone, iPad, android, appStore;
    bool transparency;
    QString enlarged;
  } rows[] = {
      {true, true, true, false, true, enlarged(180)},
      {false, false, true, false, false, enlarged(144)},
      {false, false, true, true, false, enlarged(144)},  // the App Store icon needs iOS
      {false, true, false, false, true, enlarged(167)},
      {false, true, false, true, true, enlarged(1024)},
  };
  for (const Row& r : rows) {
    SetDevices(r.iPhone, r.iPad, r.android);
    if (Form->cbAppStoreIcon->isChecked() != r.appStore)
      Form->cbAppStoreIcon->click();
    EXPECT_EQ(!square->lbTransparency->isHidden(), r.transparency) << r.iPhone << r.iPad << r.android;
    EXPECT_EQ(square->lbEnlarged->text(), r.enlarged) << r.iPhone << r.iPad << r.android << r.appStore;
    EXPECT_FALSE(square->lbEnlarged->isHidden());
  }
}

}  // namespace
