#include "catalogue/SizeInfo.h"
#include "imaging/KeptPicture.h"
#include "model/GenerateRun.h"
#include "imaging/PngWriter.h"
#include "imaging/RenderImage.h"
#include "platform/Errors.h"
#include "support/PngRead.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The classic groups (or as many as asked), each a picture of one colour of its own (red = group
// index x 16 + 8).
QList<TRunGroup> colouredGroups(int count = SizeGroupCount) {
  QList<TRunGroup> groups;
  for (int g = 0; g < count; ++g) {
    TBitmap picture(8, 8);
    picture.Clear(0xFF000000u | quint32(g * 16 + 8) << 16);
    groups.append({QStringLiteral("G%1").arg(g), picture, TRectF{0, 0, 1, 1}});
  }
  return groups;
}

TOutputPlan planIn(const QString& folder, bool appStoreIcon = false) {
  TRunChoices c;
  c.AppStoreIcon = appStoreIcon;
  c.Folder = QDir::toNativeSeparators(folder);
  c.Stem = QStringLiteral("App");
  return planOutputs(c);
}

}  // namespace

// Every file is made from its own group's picture: the rendering queue and the writes follow the
// one plan, so no image lands under another entry's name.
TEST(Run, WritesEachPlannedFileFromItsOwnGroupsPicture) {
  InitSizeInfos();
  QTemporaryDir dir;
  ScriptedDialogs dialogs;
  const TOutputPlan plan = planIn(dir.path(), true);
  QStringList log;
  QList<std::pair<int, int>> progress;
  TRunDocuments documents;
  ASSERT_TRUE(runGeneration(
      plan, colouredGroups(), dialogs, [&log](const QString& line) { log << line; },
      [&progress](int done, int total) { progress.append({done, total}); }, documents));
  const int files = ClassicFileCount + 1;  // and the App Store icon
  ASSERT_EQ(plan.Pngs.size(), files);
  for (const TPlannedOutput& o : plan.Pngs) {
    const DecodedPng png = readPngFile(o.Path);
    ASSERT_TRUE(png.ok) << o.Path.toStdString();
    EXPECT_EQ(png.width, o.Width);
    EXPECT_EQ(png.height, o.Height);
    EXPECT_EQ(png.pixel(o.Width / 2, o.Height / 2)[0], o.Group * 16 + 8) << o.FileName.toStdString();
  }
  EXPECT_TRUE(QFileInfo::exists(plan.AndroidOptset));
  EXPECT_TRUE(QFileInfo::exists(plan.iOSOptset));
  // The log: a line per group, a line per file, in plan order.
  EXPECT_EQ(log.first(), QStringLiteral("Generating images..."));
  EXPECT_EQ(log.last(), QStringLiteral("Operation complete."));
  EXPECT_EQ(log.size(), 1 + SizeGroupCount + files + 1);
  EXPECT_EQ(log[1], QStringLiteral("   Generating G0 images..."));
  EXPECT_EQ(log[2], QStringLiteral("      ") + plan.Pngs[0].Path);
  // Progress before each file and once at the end.
  ASSERT_EQ(progress.size(), files + 1);
  EXPECT_EQ(progress.first(), std::make_pair(0, files));
  EXPECT_EQ(progress.last(), std::make_pair(files, files));
}

// The overwrite question: a file kept is logged as skipped and still named in the option set;
// Cancel ends the run before the next file and saves no option set.
TEST(Run, AsksBeforeOverwritingAndStopsAtCancel) {
  InitSizeInfos();
  QTemporaryDir dir;
  const TOutputPlan plan = planIn(dir.path());
  writeFileBytes(plan.Pngs[0].Path, "old");
  writeFileBytes(plan.Pngs[2].Path, "old");
  {
    ScriptedDialogs dialogs;
    dialogs.Answers << mrNo << mrCancel;
    QStringList log;
    TRunDocuments documents;
    EXPECT_FALSE(runGeneration(
        plan, colouredGroups(), dialogs, [&log](const QString& line) { log << line; }, [](int, int) {}, documents));
    ASSERT_EQ(dialogs.Questions.size(), 2);
    EXPECT_EQ(dialogs.Questions[0].Text, plan.Pngs[0].Path + QStringLiteral(" exists.  Overwrite?"));
    EXPECT_EQ(readFileBytes(plan.Pngs[0].Path), QByteArray("old"));
    EXPECT_EQ(readFileBytes(plan.Pngs[2].Path), QByteArray("old"));
    EXPECT_TRUE(readPngFile(plan.Pngs[1].Path).ok);
    EXPECT_FALSE(QFileInfo::exists(plan.Pngs[3].Path));
    EXPECT_FALSE(QFileInfo::exists(plan.iOSOptset));
    EXPECT_TRUE(log.contains(QStringLiteral("      %1 exists.  Skipping.").arg(plan.Pngs[0].Path)));
    EXPECT_NE(log.last(), QStringLiteral("Operation complete."));
  }
  {
    // Yes to All holds for the rest of the run.
    ScriptedDialogs dialogs;
    dialogs.Answers << mrYesToAll;
    TRunDocuments documents;
    EXPECT_TRUE(runGeneration(plan, colouredGroups(), dialogs, [](const QString&) {}, [](int, int) {}, documents));
    EXPECT_EQ(dialogs.Questions.size(), 1);
    EXPECT_TRUE(readPngFile(plan.Pngs[2].Path).ok);
    EXPECT_TRUE(documents.iOS->OwnerDocument()->SaveToXML().contains(plan.Pngs[0].Path.toUtf8()));
  }
}

// The run itself never writes over a group's picture, even when nothing checked the setup before:
// it stops before its first file, with the check's words.
TEST(Run, RefusesToWriteOverAGroupsPictureBeforeWritingAnything) {
  InitSizeInfos();
  QTemporaryDir dir;
  const TOutputPlan plan = planIn(dir.path());
  const QString picture = plan.Pngs[5].Path;
  writeFileBytes(picture, "the picture");
  QList<TRunGroup> groups = colouredGroups();
  groups[3].Picture = dir.filePath("../" + QFileInfo(dir.path()).fileName() + "/" + plan.Pngs[5].FileName);
  ScriptedDialogs dialogs;
  dialogs.Answers << mrYesToAll;
  QStringList log;
  TRunDocuments documents;
  try {
    runGeneration(plan, groups, dialogs, [&log](const QString& line) { log << line; }, [](int, int) {}, documents);
    ADD_FAILURE() << "the run went on";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Output would overwrite the source picture " + groups[3].Picture);
  }
  EXPECT_TRUE(log.isEmpty());
  EXPECT_TRUE(dialogs.Questions.isEmpty());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{plan.Pngs[5].FileName});
  EXPECT_EQ(readFileBytes(picture), QByteArray("the picture"));
}

// A file that serves several properties is written once and named under each of them, in the
// option set of its devices.
TEST(Run, NamesAFileUnderEveryPropertyThePlanGivesIt) {
  QTemporaryDir dir;
  TRunChoices c;
  c.FileSet = TFileSet::Current;
  c.Folder = QDir::toNativeSeparators(dir.path());
  c.Stem = QStringLiteral("App");
  const TOutputPlan plan = planOutputs(c);
  ScriptedDialogs dialogs;
  TRunDocuments documents;
  ASSERT_TRUE(runGeneration(plan, colouredGroups(AllGroupCount), dialogs, [](const QString&) {}, [](int, int) {}, documents));
  const QByteArray iOS = readFileBytes(plan.iOSOptset);
  const QByteArray android = readFileBytes(plan.AndroidOptset);
  const auto element = [](const char* name, const QString& file) {
    return QStringLiteral("<%1>%2</%1>").arg(QString::fromLatin1(name), file).toUtf8();
  };
  const QString icon120 = QDir(dir.path()).filePath(QStringLiteral("App120x120.png"));
  const QString at40 = QDir(dir.path()).filePath(QStringLiteral("App40x40.png"));
  const QString launch = QDir(dir.path()).filePath(QStringLiteral("AppLaunch400x400.png"));
  for (const auto& [name, file] : {std::pair{"iPhone_AppIcon120", icon120}, std::pair{"iPhone_Spotlight120", icon120},
                                   std::pair{"iPhone_Notification40", at40}, std::pair{"iPad_Notification40", at40},
                                   std::pair{"iPhone_Launch2x", launch}, std::pair{"iPad_Launch2x", launch}})
    EXPECT_TRUE(iOS.contains(element(name, QDir::toNativeSeparators(file)))) << name;
  EXPECT_TRUE(iOS.contains("<iOS_AppStore1024>"));
  EXPECT_TRUE(android.contains(
      element("Android_NotificationIcon48", QDir::toNativeSeparators(QDir(dir.path()).filePath("AppNotification48x48.png")))));
  EXPECT_FALSE(android.contains("iPhone_") || iOS.contains("Android_"));
  EXPECT_EQ(QDir(dir.path()).entryList({"*.png"}, QDir::Files).size(), plan.Pngs.size());
}

// Groups that keep only copies of their pictures (one file each, thirteen pictures, none held whole)
// get the files of their own pictures, byte for byte those drawn from the pictures held: the run
// decodes each picture again as its group's files are rendered, a picture shown by two groups once.
TEST(Run, PicturesDecodedAgainGiveTheFilesOfThePicturesShown) {
  InitSizeInfos();
  QTemporaryDir dir;
  const qint64 budget = setKeptWholeBudget(0);
  QList<TBitmap> pictures;
  QList<TRunGroup> groups;
  const TRectF zoom{0.05f, 0.1f, 0.9f, 0.95f};
  for (int g = 0; g < SizeGroupCount; ++g) {
    QImage image(90 + g, 70 - g, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        image.setPixel(x, y, qRgba(x * 3, y * 3 + g, (x * y + g) & 0xff, (x + y + g) % 7 ? 255 : 100));
    const QString path = dir.filePath(QStringLiteral("g%1.png").arg(g));
    ASSERT_TRUE(image.save(path));
    pictures.append(TBitmap());
    pictures.last().Assign(image);
    groups.append({QStringLiteral("G%1").arg(g), TKeptPicture::Load(path, {8, 8}), zoom, path});
  }
  // The same picture in two groups.
  groups[7].Source = groups[6].Source;
  pictures[7] = pictures[6];
  ScriptedDialogs dialogs;
  TRunDocuments documents;
  const TOutputPlan plan = planIn(dir.filePath("out"));
  ASSERT_TRUE(QDir().mkpath(dir.filePath("out")));
  ASSERT_TRUE(runGeneration(plan, groups, dialogs, [](const QString&) {}, [](int, int) {}, documents));
  setKeptWholeBudget(budget);
  ASSERT_EQ(plan.Pngs.size(), ClassicFileCount);
  for (const TPlannedOutput& o : plan.Pngs)
    EXPECT_EQ(readFileBytes(o.Path), encodePng(renderImage(pictures[o.Group], o.Width, o.Height, zoom).Image()))
        << o.FileName.toStdString();
}
