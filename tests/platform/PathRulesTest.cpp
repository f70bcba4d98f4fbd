#include "platform/PathRules.h"

#include <gtest/gtest.h>

namespace {

constexpr auto Win = PathFlavour::Windows;
constexpr auto Posix = PathFlavour::Posix;

// The names a generation run forms from a base file name: the PNG of one size and the option-set file.
QString pngPath(const QString& base, PathFlavour f, int w, int h) {
  return joinPath(folderOf(base, f), stemOf(base, f) + QStringLiteral("%1x%2.png").arg(w).arg(h), f);
}
QString optsetPath(const QString& base, PathFlavour f) {
  return joinPath(folderOf(base, f), stemOf(base, f) + QStringLiteral(".android.optset"), f);
}

struct SplitCase {
  const char* sentence;
  PathFlavour flavour;
  const char* base;
  const char* folder;
  const char* stem;
  const char* png180;  // the 180 x 180 PNG formed from base
};

const SplitCase splitCases[] = {
  {"a drive path gives folder, stem and a joined PNG path", Win, "C:\\out\\MyApp.png", "C:\\out", "MyApp",
   "C:\\out\\MyApp180x180.png"},
  {"dots before the last one stay in the stem", Win, "C:\\out\\my.app.png", "C:\\out", "my.app",
   "C:\\out\\my.app180x180.png"},
  {"a name without extension is the stem as a whole", Win, "C:\\out\\MyApp", "C:\\out", "MyApp",
   "C:\\out\\MyApp180x180.png"},
  {"the separator after a drive stays with the folder and is not doubled", Win, "C:\\x.png", "C:\\", "x",
   "C:\\x180x180.png"},
  {"a relative folder stays relative", Win, "Art\\MyApp.png", "Art", "MyApp", "Art\\MyApp180x180.png"},
  {"a slash separates like a backslash; the join uses a backslash", Win, "C:/out/MyApp.png", "C:/out", "MyApp",
   "C:/out\\MyApp180x180.png"},
  {"the last of mixed separators splits", Win, "C:\\a/b\\c.d/MyApp.png", "C:\\a/b\\c.d", "MyApp",
   "C:\\a/b\\c.d\\MyApp180x180.png"},
  {"a dot in a folder name is not an extension", Win, "C:\\my.dir\\app", "C:\\my.dir", "app",
   "C:\\my.dir\\app180x180.png"},
  {"blanks around the name are ignored", Win, "  C:\\out\\MyApp.png  ", "C:\\out", "MyApp",
   "C:\\out\\MyApp180x180.png"},
  {"a name without separator has no folder", Win, "MyApp.png", "", "MyApp", "MyApp180x180.png"},
  {"a drive without separator has no folder; the colon ends the stem's component", Win, "C:MyApp.png", "",
   "MyApp", "MyApp180x180.png"},
  {"a UNC path keeps its server and share", Win, "\\\\server\\share\\MyApp.png", "\\\\server\\share", "MyApp",
   "\\\\server\\share\\MyApp180x180.png"},
  {"a name in the root folder has no folder part", Win, "\\MyApp.png", "", "MyApp", "MyApp180x180.png"},
  {"a name of only an extension has an empty stem", Win, "C:\\out\\.png", "C:\\out", "", "C:\\out\\180x180.png"},
  {"a trailing separator leaves an empty stem", Win, "C:\\out\\", "C:\\out", "", "C:\\out\\180x180.png"},

  {"native flavour on Linux joins with a slash", Posix, "/home/u/out/MyApp.png", "/home/u/out", "MyApp",
   "/home/u/out/MyApp180x180.png"},
  {"native flavour: a name in the root folder has no folder part", Posix, "/MyApp.png", "", "MyApp",
   "MyApp180x180.png"},
  {"native flavour splits at a backslash too", Posix, "Art\\MyApp.png", "Art", "MyApp", "Art/MyApp180x180.png"},
  {"native flavour does not double a trailing backslash", Posix, "C:\\MyApp.png", "C:", "MyApp",
   "C:/MyApp180x180.png"},
  {"native flavour treats a colon as an ordinary character", Posix, "/tmp/a:b.png", "/tmp", "a:b",
   "/tmp/a:b180x180.png"},
  {"native flavour: dots before the last one stay in the stem", Posix, "/home/u/my.app.png", "/home/u", "my.app",
   "/home/u/my.app180x180.png"},
};

TEST(PathRules, FolderStemAndJoinedPngPath) {
  for (const SplitCase& c : splitCases) {
    SCOPED_TRACE(c.sentence);
    const QString base = QString::fromUtf8(c.base);
    EXPECT_EQ(folderOf(base, c.flavour), QString::fromUtf8(c.folder));
    EXPECT_EQ(stemOf(base, c.flavour), QString::fromUtf8(c.stem));
    EXPECT_EQ(pngPath(base, c.flavour, 180, 180), QString::fromUtf8(c.png180));
  }
}

TEST(PathRules, OptsetFileLiesBesideThePngFiles) {
  EXPECT_EQ(optsetPath(QStringLiteral("Art\\MyApp.png"), Win), QStringLiteral("Art\\MyApp.android.optset"));
  EXPECT_EQ(optsetPath(QStringLiteral("C:\\out\\my.app.png"), Win), QStringLiteral("C:\\out\\my.app.android.optset"));
  EXPECT_EQ(optsetPath(QStringLiteral("/home/u/out/MyApp.png"), Posix),
            QStringLiteral("/home/u/out/MyApp.android.optset"));
}

TEST(PathRules, JoinDoesNotDoubleASeparator) {
  EXPECT_EQ(joinPath(QStringLiteral("C:\\"), QStringLiteral("a.png"), Win), QStringLiteral("C:\\a.png"));
  EXPECT_EQ(joinPath(QStringLiteral("C:/out/"), QStringLiteral("a.png"), Win), QStringLiteral("C:/out/a.png"));
  EXPECT_EQ(joinPath(QStringLiteral("C:"), QStringLiteral("a.png"), Win), QStringLiteral("C:a.png"));
  EXPECT_EQ(joinPath(QStringLiteral("/"), QStringLiteral("a.png"), Posix), QStringLiteral("/a.png"));
  EXPECT_EQ(joinPath(QStringLiteral("out\\"), QStringLiteral("a.png"), Posix), QStringLiteral("out\\a.png"));
}

TEST(PathRules, NativeSeparators) {
  const struct {
    const char* sentence;
    PathFlavour flavour;
    const char* in;
    const char* out;
  } cases[] = {
    {"Windows: slashes become backslashes", Win, "C:/out/MyApp180x180.png", "C:\\out\\MyApp180x180.png"},
    {"Windows: mixed separators become backslashes", Win, "C:\\out/sub\\x.png", "C:\\out\\sub\\x.png"},
    {"Windows: a UNC path written with slashes", Win, "//server/share/x.png", "\\\\server\\share\\x.png"},
    {"Windows: a backslash path stays", Win, "C:\\out\\x.png", "C:\\out\\x.png"},
    {"native flavour: a path stays as it is", Posix, "/home/u/out/x.png", "/home/u/out/x.png"},
    {"native flavour: a backslash is part of a name", Posix, "/home/u/a\\b.png", "/home/u/a\\b.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sentence);
    EXPECT_EQ(nativeSeparators(QString::fromUtf8(c.in), c.flavour), QString::fromUtf8(c.out));
  }
}

struct ValidityCase {
  const char* sentence;
  QString path;
  bool valid;
};

TEST(PathRules, Validity) {
  const QString dir = QStringLiteral("C:\\out\\");
  const ValidityCase cases[] = {
    {"an ordinary drive path is valid", QStringLiteral("C:\\out\\MyApp.png"), true},
    {"a name without folder is valid (the folder check is separate)", QStringLiteral("MyApp.png"), true},
    {"the empty text is not", QString(), false},
    {"blanks only are not", QStringLiteral("   "), false},
    {"259 characters are", dir + QString(259 - dir.size(), u'a'), true},
    {"260 characters are not", dir + QString(260 - dir.size(), u'a'), false},
    {"an extended-length path may be longer", QStringLiteral("\\\\?\\") + dir + QString(300, u'a'), true},
    {"a double quote is forbidden", QStringLiteral("C:\\out\\My\"App.png"), false},
    {"< is forbidden", QStringLiteral("C:\\out\\<MyApp.png"), false},
    {"> is forbidden", QStringLiteral("C:\\out\\MyApp>.png"), false},
    {"| is forbidden", QStringLiteral("C:\\out|MyApp.png"), false},
    {"a tab is forbidden", QStringLiteral("C:\\out\\My\tApp.png"), false},
    {"a control character is forbidden", QStringLiteral("C:\\out\\My") + QChar(31) + QStringLiteral("App.png"), false},
    {"the wildcards are let through", QStringLiteral("C:\\out\\*?.png"), true},
    {"blanks around a path are let through", QStringLiteral("  C:\\out\\MyApp.png "), true},
  };
  for (const ValidityCase& c : cases) {
    SCOPED_TRACE(c.sentence);
    EXPECT_EQ(isValidPath(c.path), c.valid);
  }
}

TEST(PathRules, ExtensionReplacedByPng) {
  const struct {
    const char* sentence;
    PathFlavour flavour;
    const char* in;
    const char* out;
  } cases[] = {
    {"the last extension is replaced", Win, "C:\\work\\app.icon.jpg", "C:\\work\\app.icon.png"},
    {"a name without extension gets one", Win, "C:\\work\\app", "C:\\work\\app.png"},
    {"a dot in the folder is not an extension", Win, "C:\\my.dir\\app", "C:\\my.dir\\app.png"},
    {"a dot before a slash is not an extension either", Win, "C:/my.dir/app", "C:/my.dir/app.png"},
    {"a dot before the drive colon is not an extension", Win, "a.b:app", "a.b:app.png"},
    {"native flavour", Posix, "/home/u/my.dir/app.icon.jpeg", "/home/u/my.dir/app.icon.png"},
    {"native flavour, no extension", Posix, "/home/u/my.dir/app", "/home/u/my.dir/app.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sentence);
    EXPECT_EQ(changeFileExt(QString::fromUtf8(c.in), QStringLiteral(".png"), c.flavour), QString::fromUtf8(c.out));
  }
}

}  // namespace
