// What the window's start-up and its base file name do to the settings file.
#include "tests/settings/Printing.h"
#include "app/VellumarkMain.h"
#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "settings/Settings.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace {

class StartUpSettings : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    FIni = FDir.filePath(QStringLiteral("Vellumark.ini"));
    setSettingsFilePathOverride(FIni);
    ::InitSizeInfos();
  }
  void TearDown() override { setSettingsFilePathOverride(QString()); }

  QTemporaryDir FDir;
  QString FIni;
  ScriptedDialogs FDialogs;
};

// A second start with the file the first one left: one read, and nothing written since nothing
// changed.
TEST_F(StartUpSettings, SecondStartReadsTheFileOnceAndWritesNothing) {
  QImage image(64, 48, QImage::Format_ARGB32);
  image.fill(Qt::red);
  const QString picture = FDir.filePath(QStringLiteral("p.png"));
  ASSERT_TRUE(image.save(picture, "PNG"));
  for (int g = 0; g < SizeGroupCount; ++g) {
    const TSizeInfo& first = SizeGroups[g].constFirst();
    writeSetting(QStringLiteral("images"), QStringLiteral("%1_%2").arg(first.Width).arg(first.Height), picture);
  }
  writeSetting(QStringLiteral("settings"), QStringLiteral("base_filename"), FDir.filePath(QStringLiteral("MyApp.png")));
  // The first start stores every frame's selection.
  std::make_unique<TfrmVellumark>(nullptr, Settings()).reset();
  ASSERT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('\n').toStdString();
  const QByteArray before = readFileBytes(FIni);
  ASSERT_GT(before.size(), 500);

  setSettingsFilePathOverride(QString());  // nothing of the file kept in memory
  setSettingsFilePathOverride(FIni);
  resetSettingsTraffic();
  auto form = std::make_unique<TfrmVellumark>(nullptr, Settings());
  EXPECT_TRUE(FDialogs.Errors.isEmpty());
  EXPECT_EQ(form->ceBaseName->currentText(), FDir.filePath(QStringLiteral("MyApp.png")));
  EXPECT_EQ(settingsTraffic().reads, 1);
  EXPECT_EQ(settingsTraffic().writes, 0);
  EXPECT_EQ(readFileBytes(FIni), before);
}

// A base file name with a line break (chosen in the file dialog) is refused with its message and
// not stored.
TEST_F(StartUpSettings, BaseNameWithALineBreakIsRefusedAndNotStored) {
  auto form = std::make_unique<TfrmVellumark>(nullptr, Settings());
  const QByteArray before = readFileBytes(FIni);
  FDialogs.FileAnswers.enqueue(QStringLiteral("/work/two\nlines.jpg"));
  form->Button1->click();
  EXPECT_EQ(FDialogs.Errors.join(u'|'), QStringLiteral("A file name with a line break cannot be used: /work/two\nlines.png."));
  EXPECT_EQ(readFileBytes(FIni), before) << "nothing was stored";
}

}  // namespace
