#include "model/SetupChoices.h"

#include "model/Validation.h"
#include "platform/Errors.h"
#include "settings/Settings.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The stored base file name, restored and checked as the Generate tab and the command line check it:
// a name without a folder part is refused with the name as stored; a relative name with a folder part
// is taken beside the settings file and passes. The run's folder follows the same rule.
TEST(SetupChoices, AStoredBaseNameIsCheckedAsStored) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TSettingsStore settings(dir.filePath("Vellumark.ini"));
  const QString noFolder = QStringLiteral("   No directory found at specified path for base name: ");
  const struct {
    const char* what;
    QString stored;
    QString shown;    // what restoring gives: the window's text, the command line's base name
    QString folder;   // the run's folder
    QString finding;  // the check's line after "Validating Outputs...", empty when it passes
  } cases[] = {
      {"no folder part", "MyApp.png", "MyApp.png", "", noFolder + "MyApp.png"},
      {"a root folder is no folder part", "/MyApp.png", "/MyApp.png", "", noFolder + "/MyApp.png"},
      {"a relative folder part", "icons/MyApp.png", dir.filePath("icons/MyApp.png"), dir.filePath("icons"), ""},
      {"a backslash separates it too", "icons\\MyApp.png", dir.filePath("icons/MyApp.png"), dir.filePath("icons"), ""},
      {"beside the settings file, spelled with its folder", "./MyApp.png", dir.filePath("MyApp.png"), dir.path(), ""},
      {"a full path", dir.filePath("out/MyApp.png"), dir.filePath("out/MyApp.png"), dir.filePath("out"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    settings.SetWindowSetting(BaseFilenameKey, c.stored);
    TSetupChoices setup;
    setup.BaseName = restoreBaseName(settings);
    EXPECT_EQ(setup.BaseName, c.shown);
    EXPECT_EQ(runChoicesOf(setup, settings).Folder, c.folder);

    TSetupCheck check;
    check.Groups = {{QStringLiteral("1:1"), true, TRectF{0, 0, 10, 10}, TRectF{0, 0, 10, 10}}};
    check.BaseName = setup.BaseName;
    const TSetupVerdict verdict = checkSetup(check);
    EXPECT_EQ(verdict.Ok, c.finding.isEmpty());
    const QStringList outputs = verdict.Lines.mid(verdict.Lines.indexOf("Validating Outputs...") + 1);
    EXPECT_EQ(outputs, c.finding.isEmpty() ? QStringList() : QStringList{c.finding});
  }
}

// What is stored for a base name: with relative paths a file directly beside the settings file keeps
// a folder part, so that it is read back as the same file and not refused; a name typed without a
// folder part stays without one, so that it is still refused; unticked, full paths again.
TEST(SetupChoices, ABaseNameIsStoredSoThatItReadsBackAsShown) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TSettingsStore settings(dir.filePath("Vellumark.ini"));
  const struct {
    const char* what;
    QString name;
    bool relative;
    QString stored;
  } cases[] = {
      {"beside the settings file", dir.filePath("MyApp.png"), true, "./MyApp.png"},
      {"in a folder under it", dir.filePath("icons/MyApp.png"), true, "icons/MyApp.png"},
      {"outside it", "/elsewhere/MyApp.png", true, "/elsewhere/MyApp.png"},
      {"typed without a folder part", "MyApp.png", true, "MyApp.png"},
      {"unticked: the full path again", "./MyApp.png", false, dir.filePath("MyApp.png")},
      {"unticked, without a folder part", "MyApp.png", false, "MyApp.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QString stored = baseNameToStore(c.name, c.relative, settings);
    EXPECT_EQ(stored, c.stored);
    settings.SetWindowSetting(BaseFilenameKey, stored);
    if (!folderOf(c.name).isEmpty())
      EXPECT_EQ(restoreBaseName(settings), QDir::cleanPath(resolvedBaseName(c.name, settings)));
  }
}

// The file choices of section "settings": each stored text read as the run takes it, a missing one
// giving the default, and a text that names nothing refused with the key, the value and what it
// may be (the values read before it kept). Whether a dark launch picture is set comes from "images".
TEST(SetupChoices, FileChoicesAreReadOrRefusedWithTheirKey) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const struct {
    const char* key;
    const char* text;
    const char* refusal;  // empty: accepted
  } cases[] = {
      {"file_set", "", ""},
      {"file_set", "classic", ""},
      {"file_set", "current", ""},
      {"file_set", "Current", "The settings file's file_set=Current is not allowed (classic or current)"},
      {"file_set", "modern", "The settings file's file_set=modern is not allowed (classic or current)"},
      {"launch_points", "1", ""},
      {"launch_points", "1000", ""},
      {"launch_points", "0",
       "The settings file's launch_points=0 is not allowed (a whole number of points from 1 to 1000)"},
      {"launch_points", "1001",
       "The settings file's launch_points=1001 is not allowed (a whole number of points from 1 to 1000)"},
      {"launch_points", "2.5",
       "The settings file's launch_points=2.5 is not allowed (a whole number of points from 1 to 1000)"},
      {"launch_points", "-200",
       "The settings file's launch_points=-200 is not allowed (a whole number of points from 1 to 1000)"},
      {"appstore_background", "#1a2B3c", ""},
      {"appstore_background", "1a2b3c", "The settings file's appstore_background=1a2b3c is not allowed (a colour as #RRGGBB)"},
      {"appstore_background", "#fff", "The settings file's appstore_background=#fff is not allowed (a colour as #RRGGBB)"},
      {"appstore_background", "#-12345", "The settings file's appstore_background=#-12345 is not allowed (a colour as #RRGGBB)"},
      {"appstore_background", "#12345g", "The settings file's appstore_background=#12345g is not allowed (a colour as #RRGGBB)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.text);
    TSettingsStore settings(dir.filePath(QStringLiteral("%1.ini").arg(&c - cases)));
    settings.SetWindowSetting(QString::fromLatin1(c.key), QString::fromLatin1(c.text));
    TSetupChoices choices;
    QString refusal;
    try {
      restoreFileChoices(choices, settings);
    } catch (const Exception& e) {
      refusal = e.Message();
    }
    EXPECT_EQ(refusal.toStdString(), c.refusal);
  }
  // A colour is shown and stored as it is read, in capitals; white without one.
  EXPECT_EQ(colourText(*colourFromText("#1a2B3c")), "#1A2B3C");
  EXPECT_EQ(colourText(*colourFromText("#00000f")), "#00000F");
  EXPECT_EQ(colourText(*colourFromText("")), "#FFFFFF");
}

TEST(SetupChoices, FileChoicesReachTheRun) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TSettingsStore settings(dir.filePath("Vellumark.ini"));
  TSetupChoices choices;
  restoreFileChoices(choices, settings);
  TRunChoices run = runChoicesOf(choices, settings);
  EXPECT_EQ(run.FileSet, TFileSet::Classic);
  EXPECT_EQ(run.LaunchPoints, 200);
  EXPECT_EQ(run.AppStoreBackground, 0xFFFFFFFFu);
  EXPECT_FALSE(run.DarkLaunchScreen);

  settings.SetWindowSetting(FileSetKey, "current");
  settings.SetWindowSetting(LaunchPointsKey, "320");
  settings.SetWindowSetting(AppStoreBackgroundKey, "#1a2B3c");
  settings.SetImageSetting("launch_screen_dark", dir.filePath("dark.png"));
  restoreFileChoices(choices, settings);
  run = runChoicesOf(choices, settings);
  EXPECT_EQ(run.FileSet, TFileSet::Current);
  EXPECT_EQ(run.LaunchPoints, 320);
  EXPECT_EQ(run.AppStoreBackground, 0xFF1A2B3Cu);
  EXPECT_TRUE(run.DarkLaunchScreen);
}
