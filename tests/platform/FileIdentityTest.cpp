#include "platform/FileIdentity.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

// Every way to reach one file gives its identity; another file, or nothing, does not.
TEST(FileIdentity, EveryPathToTheSameFileGivesOneIdentity) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("pics/logo.png");
  ASSERT_TRUE(QDir().mkpath(dir.filePath("pics")));
  ASSERT_TRUE(QDir().mkpath(dir.filePath("out")));
  writeFileBytes(file, "picture");
  writeFileBytes(dir.filePath("pics/other.png"), "picture");
  ASSERT_TRUE(QFile::link(file, dir.filePath("out/link.png")));
  ASSERT_TRUE(QFile::link(dir.filePath("pics"), dir.filePath("linked")));
  ASSERT_EQ(::link(QFile::encodeName(file).constData(), QFile::encodeName(dir.filePath("out/hard.png")).constData()), 0);
  ASSERT_TRUE(QFile::link(dir.filePath("gone.png"), dir.filePath("out/nowhere.png")));

  const std::optional<TFileIdentity> identity = fileIdentity(file);
  ASSERT_TRUE(identity.has_value());
  const struct {
    const char* what;
    QString path;
    bool same;
  } cases[] = {
      {"the name itself", file, true},
      {"through \"..\" and \".\"", dir.filePath("out/../pics/./logo.png"), true},
      {"a link to the file", dir.filePath("out/link.png"), true},
      {"through a linked folder", dir.filePath("linked/logo.png"), true},
      {"a hard link", dir.filePath("out/hard.png"), true},
      {"another file with the same bytes", dir.filePath("pics/other.png"), false},
      {"the folder it lies in", dir.filePath("pics"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<TFileIdentity> other = fileIdentity(c.path);
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(*other == *identity, c.same);
  }
  for (const QString& none : {QString(), dir.filePath("gone.png"), dir.filePath("out/nowhere.png"),
                              dir.filePath("pics/logo.png/x")})
    EXPECT_FALSE(fileIdentity(none).has_value()) << none.toStdString();
}
