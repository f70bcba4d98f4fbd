#include "model/RatioGroup.h"
#include "platform/Errors.h"
#include "settings/Settings.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ostream>
#include <string>

static std::ostream& operator<<(std::ostream& os, const TRectF& r) {
  return os << "(" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ")";
}

namespace {

struct RestoreRow {
  const char* says;
  QByteArray ini;             // the settings file; %DIR% stands for its folder
  QString filename;           // the group's picture name after the restore; %DIR% as above
  bool picture;
  QString storedName;         // "images" 180_180 after the restore
};

QString expand(QString text, const QString& dir) { return text.replace(QStringLiteral("%DIR%"), dir); }

}  // namespace

// The start-up restore that the frames and the command line share: what is read, what it becomes,
// what is written back.
TEST(RatioGroup, RestoresThePictureAndSelectionAndWritesThemBack) {
  const RestoreRow rows[] = {
      {"nothing stored: no picture, the default selection", "", "", false, ""},
      {"a relative name is taken beside the settings file and left as written",
       "[images]\n180_180=pics/a.png\n", "%DIR%/pics/a.png", true, "pics/a.png"},
      {"a full name is kept as it is", "[images]\n180_180=%DIR%/pics/a.png\n", "%DIR%/pics/a.png", true,
       "%DIR%/pics/a.png"},
      {"with relative paths asked for, a full name under the folder is stored relative",
       "[settings]\nrelative_paths=1\n[images]\n180_180=%DIR%/pics/a.png\n", "%DIR%/pics/a.png", true,
       "pics/a.png"},
  };
  for (const RestoreRow& row : rows) {
    SCOPED_TRACE(row.says);
    QTemporaryDir dir;
    const QString d = dir.path();
    ASSERT_TRUE(QDir(d).mkpath(QStringLiteral("pics")));
    QImage picture(16, 16, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(d + QStringLiteral("/pics/a.png")));
    const QString ini = d + QStringLiteral("/Vellumark.ini");
    writeFileBytes(ini, expand(QString::fromLatin1(row.ini), d).toUtf8());
    TSettingsStore settings(ini);
    TRatioGroup group(180, 180);
    restoreGroup(group, settings);
    EXPECT_EQ(group.Filename, expand(row.filename, d));
    EXPECT_EQ(!group.Picture.IsEmpty(), row.picture);
    EXPECT_EQ(group.SelectRect, group.DefaultSelection());
    // A fresh store reads what was written.
    TSettingsStore reread(ini);
    EXPECT_EQ(reread.ImageSetting(QStringLiteral("180_180")), expand(row.storedName, d));
    EXPECT_EQ(reread.SelectionSetting(QStringLiteral("180_180")), std::optional<TRectF>(group.SelectRect));
  }
}

TEST(RatioGroup, AStoredSelectionOutOfTheRatioComesBackToIt) {
  QTemporaryDir dir;
  QImage picture(100, 100, QImage::Format_ARGB32);
  picture.fill(Qt::blue);
  ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("a.png"))));
  const QString ini = dir.filePath(QStringLiteral("Vellumark.ini"));
  writeFileBytes(ini, "[images]\n180_180=a.png\n[selections]\n180_180=20,20,80,50\n");
  TSettingsStore settings(ini);
  TRatioGroup group(180, 180);
  restoreGroup(group, settings);
  EXPECT_FLOAT_EQ(group.SelectRect.Width(), group.SelectRect.Height());
  EXPECT_NE(group.SelectRect, (TRectF{20, 20, 80, 50}));
  EXPECT_EQ(TSettingsStore(ini).SelectionSetting(QStringLiteral("180_180")), std::optional<TRectF>(group.SelectRect));

  // Without a picture there is nothing to measure it by: it stays as stored.
  writeFileBytes(ini, "[selections]\n180_180=20,20,80,50\n");
  TSettingsStore bare(ini);
  TRatioGroup empty(180, 180);
  restoreGroup(empty, bare);
  EXPECT_EQ(empty.SelectRect, (TRectF{20, 20, 80, 50}));
}

// A stored selection beyond the picture is brought inside it on restore: written back by the
// window's store, kept in memory only by the command line's read-only one.
TEST(RatioGroup, AStoredSelectionBeyondThePictureIsBroughtInside) {
  QTemporaryDir dir;
  QImage picture(1024, 1024, QImage::Format_ARGB32);  // 122 units high in the preview
  picture.fill(Qt::blue);
  ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("a.png"))));
  const QString ini = dir.filePath(QStringLiteral("Vellumark.ini"));
  const struct {
    const char* stored;
    TRectF restored;
  } rows[] = {
      {"100,100,300,300", {100, 100, 122, 122}},
      {"0,0,3e38,3e38", {0, 0, 122, 122}},
      {"-3e38,50,3e38,60", {0, 50, 10, 60}},  // its centre, 0, is as near as it goes
      {"300,300,400,400", {0, 0, 122, 122}},  // beside the picture: the default selection
  };
  for (const bool commandLine : {false, true}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.stored) + (commandLine ? " (command line)" : " (window)"));
      const QByteArray before =
          "[images]\n180_180=a.png\n[selections]\n180_180=" + QByteArray(row.stored) + "\n";
      writeFileBytes(ini, before);
      TSettingsStore settings(ini);
      if (commandLine)
        settings.TakeSnapshot();
      TRatioGroup group(180, 180);
      restoreGroup(group, settings);
      EXPECT_EQ(group.SelectRect, row.restored);
      EXPECT_EQ(settings.SelectionSetting(QStringLiteral("180_180")), std::optional<TRectF>(row.restored));
      if (commandLine)
        EXPECT_EQ(readFileBytes(ini), before);
      else
        EXPECT_EQ(TSettingsStore(ini).SelectionSetting(QStringLiteral("180_180")),
                  std::optional<TRectF>(row.restored));
      const TRectF zoom = group.ZoomRect();
      EXPECT_TRUE(zoom.Left >= 0 && zoom.Top >= 0 && zoom.Right <= 1 && zoom.Bottom <= 1)
          << "the run reads inside the picture only";
    }
  }
}

// The command line restores from a snapshot: what the restore writes stays in memory.
TEST(RatioGroup, ASnapshotStoreLeavesTheFileAsItWas) {
  QTemporaryDir dir;
  const QString ini = dir.filePath(QStringLiteral("Vellumark.ini"));
  const QByteArray before = "[images]\n180_180=\n";
  writeFileBytes(ini, before);
  TSettingsStore settings(ini);
  settings.TakeSnapshot();
  TRatioGroup group(180, 180);
  restoreGroup(group, settings);
  EXPECT_EQ(readFileBytes(ini), before);
  EXPECT_EQ(settings.SelectionSetting(QStringLiteral("180_180")), std::optional<TRectF>(group.SelectRect));
}

TEST(RatioGroup, AMissingPictureIsRefusedAndNothingIsWritten) {
  QTemporaryDir dir;
  const QString ini = dir.filePath(QStringLiteral("Vellumark.ini"));
  const QByteArray before = "[images]\n180_180=gone.png\n";
  writeFileBytes(ini, before);
  TSettingsStore settings(ini);
  TRatioGroup group(180, 180);
  try {
    restoreGroup(group, settings);
    FAIL() << "no error";
  } catch (const EFileNotFoundException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("File does not exist: ") + dir.filePath(QStringLiteral("gone.png")));
  }
  EXPECT_EQ(readFileBytes(ini), before);
}
