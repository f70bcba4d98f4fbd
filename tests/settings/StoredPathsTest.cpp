// The paths kept in the settings file: read relative to the settings file's folder, stored relative
// to it on request.
#include "settings/StoredPaths.h"

#include "settings/Settings.h"
#include "tests/settings/Printing.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr auto Win = PathFlavour::Windows;
constexpr auto Posix = PathFlavour::Posix;

TEST(StoredPaths, ReadingResolvesRelativePathsAgainstTheSettingsFolder) {
  const struct {
    const char* sentence;
    PathFlavour flavour;
    QString folder, stored, full;
  } cases[] = {
      {"a relative path lies in the settings folder", Posix, "/proj/art", "pics/logo.png", "/proj/art/pics/logo.png"},
      {"a backslash separates in a relative path on Linux too", Posix, "/proj/art", "pics\\logo.png",
       "/proj/art/pics/logo.png"},
      {"mixed separators", Posix, "/proj/art", "pics\\sub/logo.png", "/proj/art/pics/sub/logo.png"},
      {"dot components are taken out", Posix, "/proj/art", "./pics/../pics/logo.png", "/proj/art/pics/logo.png"},
      {"a path may climb out of the folder", Posix, "/proj/art", "..\\common/x.png", "/proj/common/x.png"},
      {"blanks around the stored text are ignored", Posix, "/proj/art", "  pics/logo.png ", "/proj/art/pics/logo.png"},
      {"a folder in the root", Posix, "/", "x.png", "/x.png"},
      {"an absolute path stays as it is", Posix, "/proj/art", "/other/./x.png", "/other/./x.png"},
      {"a Windows path on Linux is not guessed at", Posix, "/proj/art", "C:\\work\\x.png", "C:\\work\\x.png"},
      {"nor a drive-relative one", Posix, "/proj/art", "C:x.png", "C:x.png"},
      {"nor a UNC name", Posix, "/proj/art", "\\\\server\\share\\x.png", "\\\\server\\share\\x.png"},
      {"nor a rooted Windows path", Posix, "/proj/art", "\\work\\x.png", "\\work\\x.png"},
      {"an empty path stays empty", Posix, "/proj/art", "", ""},
      {"without a settings folder nothing is resolved", Posix, "", "pics/logo.png", "pics/logo.png"},

      {"Windows: a relative path with slashes", Win, "C:/proj/art", "pics/logo.png", "C:\\proj\\art\\pics\\logo.png"},
      {"Windows: with backslashes and a folder in backslashes", Win, "C:\\proj\\art", "pics\\logo.png",
       "C:\\proj\\art\\pics\\logo.png"},
      {"Windows: climbing out", Win, "C:\\proj\\art", "../common/x.png", "C:\\proj\\common\\x.png"},
      {"Windows: a settings file on a share", Win, "\\\\server\\share\\proj", "pics/x.png",
       "\\\\server\\share\\proj\\pics\\x.png"},
      {"Windows: another drive stays", Win, "C:\\proj", "D:\\x.png", "D:\\x.png"},
      {"Windows: a Linux path stays (it names no file there)", Win, "C:\\proj", "/home/u/x.png", "/home/u/x.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sentence);
    EXPECT_EQ(resolveStoredPath(c.stored, c.folder, c.flavour), c.full);
  }
}

TEST(StoredPaths, StoringRelativeTakesOnlyPathsUnderTheFolder) {
  const struct {
    const char* sentence;
    PathFlavour flavour;
    QString folder, path;
    std::optional<QString> relative;
  } cases[] = {
      {"a picture under the folder", Posix, "/proj/art", "/proj/art/pics/logo.png", "pics/logo.png"},
      {"directly in the folder", Posix, "/proj/art", "/proj/art/MyApp.png", "MyApp.png"},
      {"dot components are taken out first", Posix, "/proj/art", "/proj/./art/x/../pics/a.png", "pics/a.png"},
      {"a folder beside it whose name begins the same is not under it", Posix, "/proj/art", "/proj/artist/a.png",
       std::nullopt},
      {"the folder's parent is not under it", Posix, "/proj/art", "/proj/a.png", std::nullopt},
      {"the folder itself is no file under it", Posix, "/proj/art", "/proj/art/", std::nullopt},
      {"letter case counts on Linux", Posix, "/proj/art", "/Proj/art/a.png", std::nullopt},
      {"a backslash in a name on Linux would read as a separator", Posix, "/proj/art", "/proj/art/a\\b.png",
       std::nullopt},
      {"a relative path is not stored relative again", Posix, "/proj/art", "pics/a.png", std::nullopt},
      {"an empty path", Posix, "/proj/art", "", std::nullopt},
      {"no settings folder", Posix, "", "/proj/art/a.png", std::nullopt},

      {"Windows: letter case and separators are ignored; stored with slashes", Win, "C:/proj/art",
       "c:\\PROJ\\Art\\pics\\logo.png", "pics/logo.png"},
      {"Windows: another drive", Win, "C:/proj/art", "D:\\proj\\art\\x.png", std::nullopt},
      {"Windows: on a share", Win, "\\\\server\\share\\proj", "\\\\server\\share\\proj\\sub\\x.png", "sub/x.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sentence);
    EXPECT_EQ(relativeStoredPath(c.path, c.folder, c.flavour), c.relative);
  }
}

// Over the settings file in force: the folder is the settings file's, and the stored form follows
// the choice.
TEST(StoredPaths, TheSettingsFileInForceGivesTheFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  setSettingsFilePathOverride(dir.filePath(QStringLiteral("art/Vellumark.ini")));
  const QString art = dir.filePath(QStringLiteral("art"));
  EXPECT_EQ(settingsFolder(), art);
  EXPECT_EQ(resolvedSettingPath(QStringLiteral("pics\\a.png")), art + QStringLiteral("/pics/a.png"));
  EXPECT_EQ(pathToStore(art + QStringLiteral("/pics/a.png"), true), QStringLiteral("pics/a.png"));
  EXPECT_EQ(pathToStore(QStringLiteral("pics\\a.png"), true), QStringLiteral("pics/a.png"));
  EXPECT_EQ(pathToStore(QStringLiteral("pics\\a.png"), false), art + QStringLiteral("/pics/a.png"));
  EXPECT_EQ(pathToStore(QStringLiteral("../b.png"), true), dir.filePath(QStringLiteral("b.png")));
  EXPECT_EQ(pathToStore(QStringLiteral("/elsewhere/b.png"), true), QStringLiteral("/elsewhere/b.png"));
  EXPECT_FALSE(relativePathsWanted());
  setSettingsFilePathOverride(QString());
}

}  // namespace
