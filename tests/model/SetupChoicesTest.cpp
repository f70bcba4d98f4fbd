#include "model/SetupChoices.h"

#include "model/Validation.h"
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
