// The window as a desktop window: its place, size and tab kept across starts, the menu bar's File
// and Help actions, opening another settings file, and the output folder after a run.
#include "app/VellumarkMain.h"
#include "app/WindowHost.h"

#include "app/CommandLine.h"
#include "frames/FrameRatio.h"
#include "model/WindowPlacement.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>

namespace {

class WindowDesktopTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
  QString Path(const QString& name) const { return FDir.filePath(name); }
  QString Stored(const QString& file, const QString& key) const {
    return TSettingsFile::load(file).value(QStringLiteral("settings"), key);
  }
  QTemporaryDir FDir;
  ScriptedDialogs Dialogs;
};

}  // namespace

// Closed at a place and size on the Generate tab, the window opens there again on Setup (whose
// check the Generate tab would run again); a place larger than the screen's free area is cut to it.
TEST_F(WindowDesktopTest, ThePlaceSizeAndTabAreKeptAcrossStarts) {
  TSettingsStore settings(Path("Vellumark.ini"));
  {
    TfrmVellumark form(nullptr, settings);
    form.show();
    form.resize(700, 660);
    form.move(30, 40);
    form.TabControl1->setCurrentWidget(form.tiGenerate);
    form.close();
  }
  EXPECT_EQ(Stored(Path("Vellumark.ini"), WindowGeometryKey), "30,40,700,660");
  EXPECT_EQ(Stored(Path("Vellumark.ini"), WindowTabKey), "2");
  {
    TfrmVellumark form(nullptr, settings);
    EXPECT_EQ(form.size(), QSize(700, 660));
    EXPECT_EQ(form.pos(), QPoint(30, 40));
    EXPECT_EQ(form.TabControl1->currentWidget(), form.tiSetup);
  }
  const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
  settings.SetWindowSetting(WindowGeometryKey, geometryText(QRect(free.topLeft(), free.size() * 2)));
  TfrmVellumark large(nullptr, settings);
  EXPECT_TRUE(free.contains(QRect(large.pos(), large.size()))) << "the window opens larger than the screen";
}

// File > Open settings file... names the file chosen to the owner; the host opens a window on it,
// closes the one in use and makes each file's recent list name the other; a file that is no
// settings file is refused and the window in use stays.
TEST_F(WindowDesktopTest, AnotherSettingsFileOpensInANewWindowAndBothRememberEachOther) {
  const QString first = Path("first.ini"), second = Path("second.ini"), picture = Path("picture.png");
  ASSERT_TRUE(QImage(4, 4, QImage::Format_RGB32).save(picture));
  TWindowHost host(first);
  QString asked;
  TfrmVellumark* window = &host.Window();
  const auto handler = window->OnOpenSettings;
  window->OnOpenSettings = [&asked](const QString& file) { asked = file; };
  Dialogs.FileAnswers.enqueue(second);
  window->actOpenSettings->trigger();
  EXPECT_EQ(asked, second);
  ASSERT_EQ(Dialogs.FileDialogs.size(), 1);
  EXPECT_FALSE(Dialogs.FileDialogs[0].FileMustExist) << "a new settings file can be named";
  window->OnOpenSettings = handler;

  ASSERT_TRUE(host.Open(second));
  EXPECT_NE(&host.Window(), window);
  EXPECT_EQ(QDir::cleanPath(host.Window().GetSetting("recent1")), QDir::cleanPath(first));
  EXPECT_EQ(QDir::cleanPath(Stored(first, "recent1")), QDir::cleanPath(second));
  QStringList offered;
  emit host.Window().mnRecent->aboutToShow();
  for (const QAction* action : host.Window().mnRecent->actions())
    offered << QDir::fromNativeSeparators(action->text());
  EXPECT_EQ(offered, QStringList{QDir::cleanPath(first)}) << "the file in use is not offered";

  TfrmVellumark* inUse = &host.Window();
  EXPECT_FALSE(host.Open(picture));
  EXPECT_EQ(&host.Window(), inUse);
  ASSERT_EQ(Dialogs.Errors.size(), 1);
  EXPECT_TRUE(Dialogs.Errors[0].contains("It is not a settings file")) << Dialogs.Errors[0].toStdString();
}

// Help > About names the version and the licences of what the program ships; File > Show output
// folder shows the base name's folder, and says so when there is none yet.
TEST_F(WindowDesktopTest, AboutAndTheOutputFolder) {
  TSettingsStore settings(Path("Vellumark.ini"));
  TfrmVellumark form(nullptr, settings);
  form.actAbout->trigger();
  ASSERT_EQ(Dialogs.Questions.size(), 1);
  for (const QString& part : {VellumarkVersion, QStringLiteral("LGPL"), QStringLiteral("libpng"),
                              QStringLiteral("libjpeg-turbo"), QStringLiteral("zlib"), QStringLiteral("libdeflate")})
    EXPECT_TRUE(Dialogs.Questions[0].Text.contains(part)) << part.toStdString();

  QList<QUrl> shown;
  form.OpenUrl = [&shown](const QUrl& url) {
    shown << url;
    return true;
  };
  form.actShowOutputFolder->trigger();
  EXPECT_TRUE(shown.isEmpty());
  ASSERT_EQ(Dialogs.Errors.size(), 1);
  EXPECT_TRUE(Dialogs.Errors[0].startsWith("The output folder does not exist yet")) << Dialogs.Errors[0].toStdString();
  form.ceBaseName->setEditText(Path("MyApp.png"));
  form.actShowOutputFolder->trigger();
  EXPECT_EQ(shown, QList<QUrl>{QUrl::fromLocalFile(FDir.path())});
}
