#include "frames/FrameRatio.h"
#include "frames/PreviewWindow.h"
#include "frames/SelectionEditor.h"
#include "imaging/KeptPicture.h"
#include "imaging/RenderImage.h"
#include "model/OutputPlan.h"
#include "model/RatioGroup.h"

#include "platform/Errors.h"
#include "imaging/ImageDecode.h"
#include "platform/NumberText.h"
#include "settings/Settings.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <QApplication>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>

static std::ostream& operator<<(std::ostream& os, const TRectF& r) {
  return os << "(" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ")";
}
static std::ostream& operator<<(std::ostream& os, const TPointF& p) { return os << "(" << p.X << ", " << p.Y << ")"; }
static std::ostream& operator<<(std::ostream& os, const QString& s) { return os << s.toStdString(); }

namespace {

const QString NotAPictureReason = QStringLiteral(
    "The file is not a picture of a format that can be read (PNG, JPEG, GIF, BMP, TIFF, ICO or WebP).");

class RatioFrameTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    iniPath = dir.filePath(QStringLiteral("Vellumark.ini"));
    setSettingsFilePathOverride(iniPath);
    setDecimalSeparatorOverride(u'.');
  }
  void TearDown() override {
    setSettingsFilePathOverride(QString());
    setDecimalSeparatorOverride(QChar());
  }

  // A white picture of the given size saved as PNG in the temporary folder.
  QString picture(const QString& name, int w, int h, QColor colour = Qt::white) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    const QString path = dir.filePath(name);
    EXPECT_TRUE(image.save(path, "PNG"));
    return path;
  }
  QString notAPicture(const QString& name) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is not a picture");
    return path;
  }
  QByteArray iniBytes() const {
    QFile f(iniPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  static QString images(const QString& key) { return readSetting(QStringLiteral("images"), key); }
  static QString selections(const QString& key) { return readSetting(QStringLiteral("selections"), key); }
  // A value the frame never writes: it shows whether a later write happened.
  static void markImages(const QString& key) { writeSetting(QStringLiteral("images"), key, QStringLiteral("untouched")); }
  static void markSelections(const QString& key) {
    writeSetting(QStringLiteral("selections"), key, QStringLiteral("1,2,3,4"));
  }

  std::unique_ptr<TRatioFrame> frame(int w = 180, int h = 180, bool restore = true) {
    return std::make_unique<TRatioFrame>(nullptr, w, h, restore, Settings());
  }

  QTemporaryDir dir;
  QString iniPath;
  ScriptedDialogs dialogs;
};

// ---------------------------------------------------------------------------------------------
// Construction, ratio display, naming

TEST_F(RatioFrameTest, RatioShowsInCaptionHintPreviewWidthAndSizeKey) {
  struct Row {
    int w, h;
    const char* caption;
    float previewWidth;
    const char* sizeKey;
    TRectF centre;
  } rows[] = {
      {180, 180, "1:1", 122, "180_180", {61, 61, 61, 61}},
      {2688, 1242, "2.16425108909607:1", 264.03863525390625f, "2688_1242", {132, 61, 132, 61}},
      {2732, 2048, "1.333984375:1", 162.74609375f, "2732_2048", {81, 61, 81, 61}},
      {1242, 2688, "0.462053567171097:1", 56.37053680419922f, "1242_2688", {28, 61, 28, 61}},
  };
  for (const Row& r : rows) {
    auto f = frame(r.w, r.h);
    EXPECT_EQ(f->Caption(), QString::fromLatin1(r.caption));
    EXPECT_EQ(f->GroupBox1->title(), QString::fromLatin1(r.caption));
    EXPECT_EQ(f->imPreview->PreviewWidth, r.previewWidth) << r.caption;
    EXPECT_EQ(f->imPreview->PreviewHeight, 122.0f);
    EXPECT_EQ(f->SizeStr(), QString::fromLatin1(r.sizeKey));
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Select images that are %1x%2 size or larger for best results")
                                     .arg(r.w)
                                     .arg(r.h));
    // No settings for this key: no picture, the centre point as selection, and that point stored.
    EXPECT_EQ(f->Filename(), QString());
    EXPECT_TRUE(f->Picture().IsEmpty());
    EXPECT_EQ(f->SelectRect(), r.centre) << r.caption;
    EXPECT_EQ(decodeRectList(selections(f->SizeStr())), std::optional<TRectF>(r.centre)) << r.caption;
  }
  EXPECT_EQ(images(QStringLiteral("180_180")), QString());
  EXPECT_FALSE(iniBytes().contains("[images]")) << "an empty stored name is not written back";
}

TEST_F(RatioFrameTest, CommaDecimalSeparatorInCaptionAndStoredSelection) {
  setDecimalSeparatorOverride(u',');
  auto f = frame(2688, 1242);
  EXPECT_EQ(f->Caption(), QStringLiteral("2,16425108909607:1"));
  f->SetSelectRect({12, 0, 140.5f, 128.5f});
  EXPECT_EQ(selections(QStringLiteral("2688_1242")), QStringLiteral("12,0,\"140,5\",\"128,5\""));
}

TEST_F(RatioFrameTest, FramesAreNamedByAProcessWideCounter) {
  const int first = TRatioFrame::FrameCounter;
  auto a = frame();
  auto b = frame(2688, 1242, false);
  EXPECT_EQ(a->objectName(), QStringLiteral("RatioFrame%1").arg(first));
  EXPECT_EQ(b->objectName(), QStringLiteral("RatioFrame%1").arg(first + 1));
  EXPECT_EQ(TRatioFrame::FrameCounter, first + 2);
}

TEST_F(RatioFrameTest, ControlsOfTheLayout) {
  QWidget owner;
  auto* f = new TRatioFrame(&owner, 180, 180, true, Settings());
  EXPECT_EQ(f->parentWidget(), &owner);
  EXPECT_TRUE(f->ceFilename->isEditable());
  EXPECT_EQ(f->ceFilename->count(), 0);
  EXPECT_EQ(f->Button1->text(), QStringLiteral("Browse..."));
  EXPECT_TRUE(f->sbSelectAll->text().isEmpty());
  EXPECT_FALSE(f->sbSelectAll->icon().isNull());
  EXPECT_TRUE(f->sbSelectAll->toolTip().startsWith(QStringLiteral("Select all"))) << "a picture alone says little";
  EXPECT_EQ(f->pbPreview->parentWidget(), f->imPreview);
  EXPECT_EQ(f->pbPreview->size(), f->imPreview->size());
  EXPECT_EQ(f->imPreview->height(), 122);
  EXPECT_EQ(TRatioFrame::OpenDialogFilter,
            QStringLiteral("All (*.gif;*.jpg;*.jpeg;*.png;*.bmp;*.tif;*.tiff;*.ico;*.hdp)|*.gif;*.jpg;*.jpeg;*.png;"
                           "*.bmp;*.tif;*.tiff;*.ico;*.hdp|GIF Image (*.gif)|*.gif|JPEG Image File (*.jpg)|*.jpg|"
                           "JPEG Image File (*.jpeg)|*.jpeg|Portable Network Graphics (*.png)|*.png|Bitmaps (*.bmp)|"
                           "*.bmp|TIFF Images (*.tif)|*.tif|TIFF Images (*.tiff)|*.tiff|Icons (*.ico)|*.ico|"
                           "HD Photo (*.hdp)|*.hdp"));
  EXPECT_EQ(TRatioFrame::OpenDialogFilter.split(u'|').size(), 20) << "ten entries";
  EXPECT_EQ(f->OpenDialog1.Filter, TRatioFrame::OpenDialogFilter);
  EXPECT_EQ(f->OpenDialog1.FilterIndex, 1);
  EXPECT_TRUE(f->OpenDialog1.FileMustExist);
  EXPECT_TRUE(f->OpenDialog1.EnableSizing);
  EXPECT_FALSE(f->OpenDialog1.PathMustExist);
  EXPECT_FALSE(f->OpenDialog1.HideReadOnly);

  // A wide ratio gets a wide preview that stays inside the frame, clear of the buttons.
  auto wide = frame(2688, 1242, false);
  wide->resize(wide->minimumWidth(), 160);
  const QRect preview = wide->imPreview->geometry();
  EXPECT_EQ(preview.width(), 265);
  EXPECT_LE(preview.right(), wide->width());
  EXPECT_LT(wide->sbSelectAll->geometry().right(), preview.left());
  EXPECT_LT(wide->ceFilename->geometry().right(), preview.left());
}

TEST_F(RatioFrameTest, RatioSettersUpdateOnlyTheDisplay) {
  auto f = frame();
  const TRectF selection = f->SelectRect();
  markSelections(QStringLiteral("2732_2048"));
  f->SetRatioWidth(2732);
  f->SetRatioHeight(2048);
  EXPECT_EQ(f->Caption(), QStringLiteral("1.333984375:1"));
  EXPECT_EQ(f->imPreview->PreviewWidth, 162.74609375f);
  EXPECT_EQ(f->SelectRect(), selection);
  EXPECT_EQ(selections(QStringLiteral("2732_2048")), QStringLiteral("1,2,3,4"));
}

// ---------------------------------------------------------------------------------------------
// Start-up

TEST_F(RatioFrameTest, RestoresPictureAndStoredSelectionRatherThanSelectAll) {
  const QString path = picture(QStringLiteral("a.png"), 1600, 1200);
  writeSetting(QStringLiteral("images"), QStringLiteral("180_180"), path);
  writeSetting(QStringLiteral("selections"), QStringLiteral("180_180"), QStringLiteral("10,20,60,70"));
  int changes = 0;
  auto f = frame();
  f->OnChange = [&](QObject*) { ++changes; };
  EXPECT_EQ(f->Filename(), path);
  EXPECT_EQ(f->ceFilename->currentText(), path);
  EXPECT_EQ(f->Picture().Width(), 1600);
  EXPECT_EQ(f->Picture().Height(), 1200);
  EXPECT_EQ(f->SelectRect(), (TRectF{10, 20, 60, 70}));
  EXPECT_EQ(f->ImageRect(), (TRectF{0, 15, 122, 106}));
  EXPECT_EQ(images(QStringLiteral("180_180")), path);
  EXPECT_EQ(selections(QStringLiteral("180_180")), QStringLiteral("10,20,60,70"));
  EXPECT_EQ(changes, 0);
}

// A stored selection out of the ratio or beyond the picture comes back in both, and is stored so.
TEST_F(RatioFrameTest, AStoredSelectionOutOfTheRatioOrThePictureIsRestoredInsideOnlyWithAPicture) {
  const QString path = picture(QStringLiteral("a.png"), 1024, 1024);
  struct Row {
    const char* what;
    QString image, stored;
    TRectF selection;
  } rows[] = {
      {"ten times too wide, with a picture", path, QStringLiteral("0,0,100,10"), {45, 0, 55, 10}},
      {"in the ratio, with a picture", path, QStringLiteral("10,20,60,70"), {10, 20, 60, 70}},
      {"without a picture it stays as stored", QString(), QStringLiteral("0,0,100,10"), {0, 0, 100, 10}},
      {"over the picture's edges: the common part", path, QStringLiteral("100,100,300,300"), {100, 100, 122, 122}},
      {"huge: the whole picture", path, QStringLiteral("0,0,3e38,3e38"), {0, 0, 122, 122}},
      {"beside the picture: select-all", path, QStringLiteral("200,0,300,100"), {0, 0, 122, 122}},
  };
  for (const Row& r : rows) {
    writeSetting(QStringLiteral("images"), QStringLiteral("180_180"), r.image);
    writeSetting(QStringLiteral("selections"), QStringLiteral("180_180"), r.stored);
    auto f = frame();
    EXPECT_EQ(f->SelectRect(), r.selection) << r.what;
    EXPECT_EQ(decodeRectList(selections(QStringLiteral("180_180"))), std::optional<TRectF>(r.selection)) << r.what;
  }
}

TEST_F(RatioFrameTest, RestoredPictureWithoutStoredSelectionTakesSelectAllAndStoresIt) {
  struct Row {
    int rw, rh, pw, ph;
    TRectF imageRect, selection;
  } rows[] = {
      {180, 180, 1024, 1024, {0, 0, 122, 122}, {0, 0, 122, 122}},
      // Centred in picture pixels: 1200 x 1200 of 1600 x 1200 starts 200 pixels in, 15.25 units.
      {180, 180, 1600, 1200, {0, 15, 122, 106}, {15.25f, 15, 106.75f, 106}},
      {180, 180, 100, 50, {11, 36, 111, 86}, {36, 36, 86, 86}},
      {2688, 1242, 1600, 1200, {51, 0, 214, 122}, {51, 23.41964340209961f, 214, 98.58036041259766f}},
  };
  for (const Row& r : rows) {
    const QString key = QStringLiteral("%1_%2").arg(r.rw).arg(r.rh);
    const QString path = picture(QStringLiteral("p%1x%2.png").arg(r.pw).arg(r.ph), r.pw, r.ph);
    writeSetting(QStringLiteral("images"), key, path);
    writeSetting(QStringLiteral("selections"), key, QStringLiteral("1,2,3"));  // three items: not usable
    auto f = frame(r.rw, r.rh);
    EXPECT_EQ(f->ImageRect(), r.imageRect) << r.pw << "x" << r.ph;
    EXPECT_EQ(f->SelectRect(), r.selection) << r.pw << "x" << r.ph;
    EXPECT_EQ(decodeRectList(selections(key)), std::optional<TRectF>(r.selection));
  }
}

TEST_F(RatioFrameTest, FailedRestoreRaisesOutOfTheConstructorAndLeavesNothingBehind) {
  const QString missing = dir.filePath(QStringLiteral("gone.png"));
  const QString bad = notAPicture(QStringLiteral("bad.png"));
  const QString good = picture(QStringLiteral("good.png"), 64, 64);
  struct Row {
    QString image, selection, message;
  } rows[] = {
      {missing, QString(), QStringLiteral("File does not exist: ") + missing},
      {dir.path(), QString(), QStringLiteral("File does not exist: ") + dir.path()},
      {bad, QString(), QStringLiteral("Loading bitmap failed (%1). ").arg(bad) + NotAPictureReason},
      {good, QStringLiteral("a,2,3,4"), QStringLiteral("'a' is not a valid floating point value")},
  };
  for (const Row& r : rows) {
    writeSetting(QStringLiteral("images"), QStringLiteral("180_180"), r.image);
    writeSetting(QStringLiteral("selections"), QStringLiteral("180_180"),
                 r.selection.isEmpty() ? QStringLiteral("5,6,7,8") : r.selection);
    const QByteArray before = iniBytes();
    QWidget owner;
    try {
      new TRatioFrame(&owner, 180, 180, true, Settings());
      ADD_FAILURE() << "no error for " << r.message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), r.message);
    }
    EXPECT_TRUE(owner.children().isEmpty()) << r.message;
    QCoreApplication::processEvents();
    if (r.selection.isEmpty())
      EXPECT_EQ(iniBytes(), before) << "the entries that caused the failure stay: " << r.message;
  }
}

TEST_F(RatioFrameTest, WithoutRestoreNothingIsReadOrWritten) {
  const QString path = picture(QStringLiteral("a.png"), 64, 64);
  writeSetting(QStringLiteral("images"), QStringLiteral("180_180"), path);
  writeSetting(QStringLiteral("selections"), QStringLiteral("180_180"), QStringLiteral("x,y,z,w"));
  const QByteArray before = iniBytes();
  auto f = frame(180, 180, false);
  EXPECT_EQ(f->Filename(), QString());
  EXPECT_TRUE(f->Picture().IsEmpty());
  EXPECT_EQ(f->SelectRect(), (TRectF{61, 61, 61, 61}));
  EXPECT_EQ(iniBytes(), before);
}

// ---------------------------------------------------------------------------------------------
// File name, Browse and the nested change run

TEST_F(RatioFrameTest, BrowseLoadsSelectsAllNotifiesOnceAndStoresNameAndSelection) {
  const QString path = picture(QStringLiteral("b.png"), 1600, 1200);
  auto f = frame();
  markSelections(QStringLiteral("180_180"));
  // What the owner sees at the notification: the name and the selection shown are stored by then.
  QStringList storedAtChange;
  QList<qint64> pictureAtChange;
  f->OnChange = [&](QObject* sender) {
    EXPECT_EQ(sender, f.get());
    storedAtChange << images(QStringLiteral("180_180"));
    pictureAtChange << f->Picture().Preview().Image().cacheKey();
    EXPECT_EQ(decodeRectList(selections(QStringLiteral("180_180"))), std::optional<TRectF>(f->SelectRect()));
  };
  dialogs.FileAnswers.enqueue(path);
  f->Button1Click();

  ASSERT_EQ(dialogs.FileDialogs.size(), 1);
  EXPECT_EQ(dialogs.FileDialogs[0].FileName, QString()) << "the dialog starts at the current name";
  EXPECT_EQ(dialogs.FileDialogs[0].Filter, TRatioFrame::OpenDialogFilter);
  EXPECT_EQ(f->Filename(), path);
  EXPECT_EQ(f->ceFilename->currentText(), path);
  EXPECT_EQ(f->Picture().Width(), 1600);
  EXPECT_EQ(f->SelectRect(), (TRectF{15.25f, 15, 106.75f, 106}));
  EXPECT_EQ(storedAtChange, QStringList{path});
  EXPECT_EQ(images(QStringLiteral("180_180")), path);
  EXPECT_EQ(selections(QStringLiteral("180_180")), QStringLiteral("15.25,15,106.75,106")) << "the selection shown is stored";
  EXPECT_EQ(pictureAtChange, QList<qint64>{f->Picture().Preview().Image().cacheKey()});
  EXPECT_EQ(f->ceFilename->count(), 0) << "the frame never adds to the list";

  // The same file again: the text does not change, so the name is not stored again; the
  // selection, back to select-all, is.
  markImages(QStringLiteral("180_180"));
  f->SetSelectRect({1, 1, 5, 5});
  storedAtChange.clear();
  dialogs.FileAnswers.enqueue(path);
  f->Button1Click();
  EXPECT_EQ(dialogs.FileDialogs.last().FileName, path);
  EXPECT_EQ(storedAtChange, QStringList{QStringLiteral("untouched")});
  EXPECT_EQ(f->SelectRect(), (TRectF{15.25f, 15, 106.75f, 106}));
  EXPECT_EQ(selections(QStringLiteral("180_180")), QStringLiteral("15.25,15,106.75,106"));
  EXPECT_EQ(images(QStringLiteral("180_180")), QStringLiteral("untouched"));

  // Cancel: nothing happens.
  storedAtChange.clear();
  f->Button1Click();
  EXPECT_TRUE(storedAtChange.isEmpty());
  EXPECT_EQ(f->Filename(), path);
}

TEST_F(RatioFrameTest, UndecodableFileChangesNothingAndTheBoxShowsThePictureInUse) {
  const QString good = picture(QStringLiteral("g.png"), 100, 50);
  const QString bad = notAPicture(QStringLiteral("bad.jpg"));
  auto f = frame();
  f->SetFilename(good);  // a program change: the combo text changes, so the name is stored
  EXPECT_EQ(images(QStringLiteral("180_180")), good);
  f->SetSelectRect({20, 40, 30, 50});
  int changes = 0;
  f->OnChange = [&](QObject*) { ++changes; };
  const qint64 pictureBefore = f->Picture().Preview().Image().cacheKey();
  dialogs.FileAnswers.enqueue(bad);
  try {
    f->Button1Click();
    ADD_FAILURE() << "no error";
  } catch (const EBitmapError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Loading bitmap failed (%1). ").arg(bad) + NotAPictureReason);
  }
  EXPECT_EQ(f->Filename(), good);
  EXPECT_EQ(f->ceFilename->currentText(), good);
  EXPECT_EQ(f->Picture().Preview().Image().cacheKey(), pictureBefore);
  EXPECT_EQ(f->SelectRect(), (TRectF{20, 40, 30, 50}));
  EXPECT_EQ(images(QStringLiteral("180_180")), good);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the busy cursor of the load is gone again
}

TEST_F(RatioFrameTest, MissingFileChangesNothingAndTheBoxShowsThePictureInUse) {
  const QString good = picture(QStringLiteral("g.png"), 100, 50);
  const QString missing = dir.filePath(QStringLiteral("missing.png"));
  auto f = frame();
  f->SetFilename(good);
  markImages(QStringLiteral("180_180"));
  f->ceFilename->setEditText(missing);
  try {
    f->ceFilenameChange();
    ADD_FAILURE() << "no error";
  } catch (const EFileNotFoundException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("File does not exist: ") + missing);
  }
  EXPECT_EQ(f->Filename(), good);
  EXPECT_EQ(f->ceFilename->currentText(), good);
  EXPECT_EQ(f->Picture().Width(), 100);
  EXPECT_EQ(images(QStringLiteral("180_180")), QStringLiteral("untouched"));
  EXPECT_THROW(f->SetFilename(dir.path()), EFileNotFoundException) << "a folder is not a file";
}

// A picture whose name holds a line break (legal on Linux) could not be kept in the settings file:
// it is refused before the frame or the file changes.
TEST_F(RatioFrameTest, PictureNameWithALineBreakIsRefusedBeforeAnythingIsStored) {
  const QString good = picture(QStringLiteral("g.png"), 100, 50);
  const QString broken = picture(QStringLiteral("two\nlines.png"), 60, 60);
  auto f = frame();
  f->SetFilename(good);
  const QByteArray before = iniBytes();
  dialogs.FileAnswers.enqueue(broken);
  try {
    f->Button1Click();
    ADD_FAILURE() << "no error";
  } catch (const ELineBreakError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("A file name with a line break cannot be used: ") + broken);
  }
  EXPECT_EQ(f->Filename(), good);
  EXPECT_EQ(f->Picture().Width(), 100);
  EXPECT_EQ(iniBytes(), before);
}

// ---------------------------------------------------------------------------------------------
// The combo edit as the user drives it

TEST_F(RatioFrameTest, EnterCommitsAnEditOnceAndAnUnchangedTextDoesNothing) {
  const QString path = picture(QStringLiteral("c.png"), 1024, 1024);
  auto f = frame();
  f->show();
  f->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
  int changes = 0;
  f->OnChange = [&](QObject*) { ++changes; };
  QLineEdit* edit = f->ceFilename->lineEdit();
  edit->setFocus();
  QTest::keyClicks(edit, path);
  EXPECT_EQ(f->Filename(), QString()) << "typing alone commits nothing";
  EXPECT_EQ(changes, 0);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(f->Filename(), path);
  EXPECT_EQ(f->Picture().Width(), 1024);
  EXPECT_EQ(changes, 1) << "a user's edit runs the change once, without the nested run";
  EXPECT_EQ(images(QStringLiteral("180_180")), path);

  markImages(QStringLiteral("180_180"));
  QTest::keyClick(edit, Qt::Key_Return);
  f->Button1->setFocus();  // leaving the field
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(images(QStringLiteral("180_180")), QStringLiteral("untouched"));

  // Clearing the text and leaving the field: no name and no picture at all, nothing outlined, the
  // selection where it was, the empty name stored, no notification.
  f->SetSelectRect({5, 5, 50, 50});
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  f->Button1->setFocus();
  EXPECT_EQ(f->Filename(), QString());
  EXPECT_TRUE(f->Picture().IsEmpty());
  const QImage shot = f->imPreview->grab().toImage();
  EXPECT_NE(QColor(shot.pixel(5, 20)), QColor(Qt::red)) << "no selection outline";
  EXPECT_NE(QColor(shot.pixel(0, 60)), QColor(Qt::black)) << "no picture outline";
  EXPECT_EQ(f->SelectRect(), (TRectF{5, 5, 50, 50}));
  EXPECT_EQ(images(QStringLiteral("180_180")), QString());
  EXPECT_TRUE(iniBytes().contains("180_180=\r\n"));
  EXPECT_EQ(changes, 1);
}

TEST_F(RatioFrameTest, AMissingNameTypedIsReportedOnceAndTheBoxShowsThePictureInUseAgain) {
  const QString good = picture(QStringLiteral("g.png"), 100, 50);
  const QString missing = dir.filePath(QStringLiteral("missing.png"));
  auto f = frame();
  f->SetFilename(good);
  f->show();
  f->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
  QLineEdit* edit = f->ceFilename->lineEdit();
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, missing);
  // The error is shown in the error box, with the final "." of the display rule.
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(dialogs.Errors, QStringList{QStringLiteral("File does not exist: ") + missing + u'.'});
  // Leaving the field (as the error box takes the focus) does not report it again.
  f->Button1->setFocus();
  EXPECT_EQ(dialogs.Errors.size(), 1);
  EXPECT_EQ(f->ceFilename->currentText(), good);
  EXPECT_EQ(f->Filename(), good);
  EXPECT_EQ(images(QStringLiteral("180_180")), good);
}

TEST_F(RatioFrameTest, OwnerHistoryDoesNotChangeTheTextAndPickingAnEntryCommits) {
  const QString a = picture(QStringLiteral("a.png"), 100, 50);
  const QString b = picture(QStringLiteral("b.png"), 1024, 1024);
  auto f = frame();
  f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  int changes = 0;
  f->OnChange = [&](QObject*) { ++changes; };
  f->ceFilename->addItem(a);  // what the owner does when a picture is chosen in another frame
  f->ceFilename->addItem(b);
  EXPECT_EQ(f->ceFilename->currentText(), QString());
  EXPECT_EQ(f->Filename(), QString());
  EXPECT_EQ(changes, 0);

  // Pick the second entry from the drop-down list.
  f->ceFilename->showPopup();
  QAbstractItemView* view = f->ceFilename->view();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
  const QRect item = view->visualRect(f->ceFilename->model()->index(1, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
  EXPECT_EQ(f->Filename(), b);
  EXPECT_EQ(f->Picture().Width(), 1024);
  EXPECT_EQ(images(QStringLiteral("180_180")), b);
  EXPECT_EQ(changes, 1);

  // Picking the current entry again does nothing at all.
  markImages(QStringLiteral("180_180"));
  f->ceFilename->showPopup();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(images(QStringLiteral("180_180")), QStringLiteral("untouched"));
}

// Turning the mouse wheel over the frames scrolls them; passing over a file name must not swap the
// picture for another entry of the history. The combo leaves the wheel unaccepted, so the toolkit
// hands it on to the scrolling box.
TEST_F(RatioFrameTest, WheelOverTheFileNameIsLeftToTheParentAndKeepsThePicture) {
  const QString a = picture(QStringLiteral("a.png"), 100, 50);
  const QString b = picture(QStringLiteral("b.png"), 1024, 1024);
  auto f = frame();
  f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  f->ceFilename->addItem(a);
  f->ceFilename->addItem(b);
  f->ceFilename->setEditText(a);
  QTest::keyClick(f->ceFilename->lineEdit(), Qt::Key_Return);
  ASSERT_EQ(f->Filename(), a);
  int changes = 0;
  f->OnChange = [&](QObject*) { ++changes; };
  markImages(QStringLiteral("180_180"));

  for (const int delta : {-120, 120, -120}) {
    const QPointF at(10, 10);
    QWheelEvent wheel(at, f->ceFilename->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(f->ceFilename, &wheel);
    EXPECT_FALSE(wheel.isAccepted()) << delta;
  }
  f->ceFilename->clearFocus();
  EXPECT_EQ(f->ceFilename->currentText(), a);
  EXPECT_EQ(f->Filename(), a);
  EXPECT_EQ(f->Picture().Width(), 100);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(images(QStringLiteral("180_180")), QStringLiteral("untouched"));
}

TEST_F(RatioFrameTest, SignalsDuringAChangeRunCannotNestDeeper) {
  const QString a = picture(QStringLiteral("a.png"), 100, 50);
  const QString other = picture(QStringLiteral("o.png"), 60, 60);
  auto f = frame();
  int changes = 0;
  f->OnChange = [&](QObject*) {
    ++changes;
    // Something reports the combo as edited while the change runs (focus moving, say).
    f->ceFilename->setEditText(other);
    emit f->ceFilename->lineEdit()->editingFinished();
    emit f->ceFilename->textActivated(other);
    f->ceFilename->setEditText(a);
  };
  f->SetFilename(a);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(f->Filename(), a);
  EXPECT_EQ(images(QStringLiteral("180_180")), a);
}

// ---------------------------------------------------------------------------------------------
// Pictures shared between frames

TEST_F(RatioFrameTest, FramesOnOneFileShareOnePictureUntilOneChangesIt) {
  const QString path = picture(QStringLiteral("s.png"), 300, 200);
  clearDecodeCache();
  auto a = frame(180, 180, false);
  auto b = frame(2688, 1242, false);
  a->SetFilename(path);
  b->SetFilename(path);
  const TKeptPicture& ba = a->Picture();
  const TKeptPicture& bb = b->Picture();
  EXPECT_EQ(ba.Preview().Image().constBits(), bb.Preview().Image().constBits());
  a->SetFilename(QString());
  EXPECT_NE(ba.Preview().Image().constBits(), bb.Preview().Image().constBits());
  EXPECT_EQ(bb.Preview().Image().pixel(5, 5), qRgba(255, 255, 255, 255));
  EXPECT_TRUE(ba.IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// Mouse: the handlers with the worked examples

class MouseTest : public RatioFrameTest {
protected:
  void SetUp() override {
    RatioFrameTest::SetUp();
    f = frame();
    f->SetFilename(picture(QStringLiteral("m.png"), 1024, 1024));
    ASSERT_EQ(f->ImageRect(), (TRectF{0, 0, 122, 122}));
  }
  QString stored() const { return selections(QStringLiteral("180_180")); }
  std::unique_ptr<TRatioFrame> f;
};

TEST_F(MouseTest, CtrlDragMovesAndPushesBackInsideStoringOnlyAtRelease) {
  f->SetSelectRect({10, 20, 60, 70});
  markSelections(QStringLiteral("180_180"));
  f->pbPreviewMouseDown(Qt::LeftButton, ssLeft | ssCtrl, 30, 40);
  EXPECT_EQ(f->Mode(), mDrag);
  EXPECT_EQ(f->SelectRect(), (TRectF{10, 20, 60, 70}));
  f->pbPreviewMouseMove(ssLeft | ssCtrl, 130, 40);
  EXPECT_EQ(f->SelectRect(), (TRectF{72, 20, 122, 70}));
  EXPECT_EQ(f->StartPoint(), (TPointF{122, 40}));
  EXPECT_EQ(stored(), QStringLiteral("1,2,3,4")) << "neither the Ctrl-press nor the move stores";
  f->pbPreviewMouseMove(ssLeft | ssCtrl, 100, 30);  // only the further movement counts
  EXPECT_EQ(f->SelectRect(), (TRectF{50, 10, 100, 60}));
  f->pbPreviewMouseUp(Qt::LeftButton, 0, 100, 20);
  EXPECT_EQ(f->SelectRect(), (TRectF{50, 0, 100, 50}));
  EXPECT_EQ(stored(), QStringLiteral("50,0,100,50"));
  EXPECT_EQ(f->Mode(), mNone);
}

// Escape cancels a draw or a move: the selection from before the press comes back, nothing is
// stored, and the button still held draws nothing until it is released; without a gesture Escape
// is left to the window.
TEST_F(MouseTest, EscapeCancelsTheGestureInProgress) {
  f->SetSelectRect({10, 20, 60, 70});
  markSelections(QStringLiteral("180_180"));
  for (const TShiftState press : {TShiftState(ssLeft), TShiftState(ssLeft | ssCtrl)}) {
    f->pbPreviewMouseDown(Qt::LeftButton, press, 30, 40);
    f->pbPreviewMouseMove(press, 90, 100);
    ASSERT_NE(f->SelectRect(), (TRectF{10, 20, 60, 70}));
    EXPECT_TRUE(f->pbPreviewKeyDown(Qt::Key_Escape, 0));
    EXPECT_EQ(f->Mode(), mNone);
    EXPECT_EQ(f->SelectRect(), (TRectF{10, 20, 60, 70}));
    f->pbPreviewMouseMove(press, 100, 110);
    f->pbPreviewMouseMove(press, 40, 30);
    EXPECT_EQ(f->SelectRect(), (TRectF{10, 20, 60, 70})) << "the held button starts nothing new";
    f->pbPreviewMouseUp(Qt::LeftButton, 0, 100, 110);
    EXPECT_EQ(f->SelectRect(), (TRectF{10, 20, 60, 70}));
    EXPECT_EQ(stored(), QStringLiteral("1,2,3,4"));
  }
  EXPECT_FALSE(f->pbPreviewKeyDown(Qt::Key_Escape, 0));
}

TEST_F(MouseTest, ModeTable) {
  // Releasing Ctrl ends a move at the next move and stores it; with the left button still held
  // nothing new starts until the button is released.
  f->SetSelectRect({10, 20, 60, 70});
  f->pbPreviewMouseDown(Qt::LeftButton, ssLeft | ssCtrl, 30, 40);
  f->pbPreviewMouseMove(ssLeft | ssCtrl, 45, 40);
  f->pbPreviewMouseMove(ssLeft, 50, 50);
  EXPECT_EQ(f->Mode(), mNone);
  EXPECT_EQ(f->SelectRect(), (TRectF{25, 20, 75, 70}));
  EXPECT_EQ(stored(), QStringLiteral("25,20,75,70"));
  f->pbPreviewMouseMove(ssLeft, 80, 90);
  EXPECT_EQ(f->Mode(), mNone) << "no draw starts while the button stays down";
  f->pbPreviewMouseUp(Qt::LeftButton, 0, 80, 90);
  EXPECT_EQ(f->SelectRect(), (TRectF{25, 20, 75, 70}));

  // A press neither changes nor stores the selection; drawing ends at a move without the left
  // button and stores what is shown.
  markSelections(QStringLiteral("180_180"));
  f->pbPreviewMouseDown(Qt::LeftButton, ssLeft, 45, 55);
  EXPECT_EQ(f->Mode(), mDraw);
  EXPECT_EQ(f->SelectRect(), (TRectF{25, 20, 75, 70}));
  EXPECT_EQ(stored(), QStringLiteral("1,2,3,4"));
  f->pbPreviewMouseMove(ssLeft, 45, 75);
  EXPECT_EQ(f->SelectRect(), (TRectF{45, 55, 65, 75}));
  EXPECT_EQ(stored(), QStringLiteral("1,2,3,4")) << "moves never store";
  f->pbPreviewMouseMove(0, 45, 80);
  EXPECT_EQ(f->Mode(), mNone);
  EXPECT_EQ(f->SelectRect(), (TRectF{45, 55, 65, 75}));
  EXPECT_EQ(stored(), QStringLiteral("45,55,65,75"));
  f->pbPreviewMouseMove(0, 90, 90);
  EXPECT_EQ(f->Mode(), mNone);

  // A release without a gesture changes nothing and stores nothing.
  markSelections(QStringLiteral("180_180"));
  f->pbPreviewMouseUp(Qt::LeftButton, 0, 5, 5);
  EXPECT_EQ(f->SelectRect(), (TRectF{45, 55, 65, 75}));
  EXPECT_EQ(stored(), QStringLiteral("1,2,3,4"));

  // Select-all changes the selection and stores it, as the end of a drag does.
  f->pbPreviewMouseDown(Qt::LeftButton, ssLeft, 33, 44);
  f->sbSelectAllClick();
  EXPECT_EQ(f->SelectRect(), (TRectF{0, 0, 122, 122}));
  EXPECT_EQ(stored(), QStringLiteral("0,0,122,122"));
  EXPECT_EQ(f->Mode(), mDraw) << "select-all leaves the gesture alone";
}

// No gesture loses a selection by accident: a click, a wobble within the drag distance, Ctrl let
// go during a move, or a draw that would be empty leaves the selection (or the move made so far)
// in place. Real events on the paint box; the selection before each gesture is (10, 20, 71, 81).
TEST_F(RatioFrameTest, GesturesThatKeepTheSelection) {
  const int d = QApplication::startDragDistance();
  enum Kind { Press, Move, Release };
  struct Step {
    Kind kind;
    QPointF pos;
    bool ctrl = false;
  };
  struct Row {
    const char* what;
    QSize picture;  // 1024 x 1024 fills the preview; 1600 x 1200 lies at (0, 15, 122, 106)
    QList<Step> steps;
    TRectF result;
    bool written;
  } rows[] = {
      {"a click", {1024, 1024}, {{Press, {91, 90}}, {Release, {91, 90}}}, {10, 20, 71, 81}, false},
      {"a Ctrl-click", {1024, 1024}, {{Press, {91, 90}, true}, {Release, {91, 90}, true}}, {10, 20, 71, 81}, false},
      {"a wobble within the drag distance", {1024, 1024},
       {{Press, {50, 50}}, {Move, {50.0 + d / 2, 50}}, {Move, {50, 50.0 + d}}, {Release, {50.0 + d / 2, 50.0 + d / 2}}},
       {10, 20, 71, 81}, false},
      {"just beyond the drag distance draws", {1024, 1024}, {{Press, {50, 50}}, {Release, {50, 51.0 + d}}},
       {50, 50, 51.0f + d, 51.0f + d}, true},
      {"Ctrl let go: the move ends there, two small moves and the release change nothing", {1024, 1024},
       {{Press, {40, 40}, true}, {Move, {55, 40}, true}, {Move, {56, 40}}, {Move, {57, 41}}, {Move, {58, 42}},
        {Release, {58, 42}}},
       {25, 20, 86, 81}, true},
      {"pressed on the right edge, dragged outward", {1024, 1024}, {{Press, {130, 60}}, {Release, {150, 70}}},
       {10, 20, 71, 81}, false},
      {"pressed in the margin above a letterboxed picture, dragged outward", {1600, 1200},
       {{Press, {50, 5}}, {Move, {60, 10}}, {Release, {60, 10}}}, {10, 20, 71, 81}, false},
      {"dragged out and back to the start", {1024, 1024},
       {{Press, {50, 50}}, {Move, {80, 80}}, {Release, {50, 50}}}, {10, 20, 71, 81}, false},
  };
  for (const Row& r : rows) {
    const QString path = picture(QStringLiteral("g%1.png").arg(r.picture.width()), r.picture.width(), r.picture.height());
    auto f = frame();
    f->SetFilename(path);
    f->SetSelectRect({10, 20, 71, 81});
    markSelections(QStringLiteral("180_180"));
    f->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
    QWidget* box = f->pbPreview;
    for (const Step& s : r.steps) {
      const Qt::KeyboardModifiers mods = s.ctrl ? Qt::ControlModifier : Qt::NoModifier;
      const QEvent::Type type = s.kind == Press  ? QEvent::MouseButtonPress
                                : s.kind == Move ? QEvent::MouseMove
                                                 : QEvent::MouseButtonRelease;
      const Qt::MouseButton button = s.kind == Move ? Qt::NoButton : Qt::LeftButton;
      const Qt::MouseButtons held = s.kind == Release ? Qt::NoButton : Qt::LeftButton;
      QMouseEvent e(type, s.pos, box->mapToGlobal(s.pos), button, held, mods);
      QCoreApplication::sendEvent(box, &e);
    }
    EXPECT_EQ(f->Mode(), mNone) << r.what;
    EXPECT_EQ(f->SelectRect(), r.result) << r.what;
    if (r.written)
      EXPECT_EQ(decodeRectList(selections(QStringLiteral("180_180"))), std::optional<TRectF>(r.result)) << r.what;
    else
      EXPECT_EQ(selections(QStringLiteral("180_180")), QStringLiteral("1,2,3,4")) << r.what << ": nothing written";
  }
}

TEST_F(RatioFrameTest, PressOutsideThePictureStartsOnItsNearestPoint) {
  auto f = frame();
  f->SetFilename(picture(QStringLiteral("w.png"), 1600, 1200));
  f->pbPreviewMouseDown(Qt::LeftButton, ssLeft, 50, 5);
  EXPECT_EQ(f->StartPoint(), (TPointF{50, 15}));
  f->pbPreviewMouseUp(Qt::LeftButton, 0, 50, 45);
  EXPECT_EQ(f->SelectRect(), (TRectF{50, 15, 80, 45}));

  // Without a picture everything collapses onto the centre point; a larger selection keeps its
  // size when moved and ends with its right and bottom edges on that point.
  auto empty = frame(180, 180, false);
  empty->pbPreviewMouseDown(Qt::LeftButton, ssLeft, 10, 10);
  empty->pbPreviewMouseUp(Qt::LeftButton, 0, 100, 100);
  EXPECT_EQ(empty->SelectRect(), (TRectF{61, 61, 61, 61}));
  empty->SetSelectRect({10, 20, 60, 70});
  empty->pbPreviewMouseDown(Qt::LeftButton, ssLeft | ssCtrl, 0, 0);
  empty->pbPreviewMouseUp(Qt::LeftButton, 0, 20, 20);
  EXPECT_EQ(empty->SelectRect(), (TRectF{11, 11, 61, 61}));
}

// ---------------------------------------------------------------------------------------------
// Mouse: real events on the paint box

class MouseEventTest : public MouseTest {
protected:
  void SetUp() override {
    MouseTest::SetUp();
    f->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  }
  void send(QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons,
            Qt::KeyboardModifiers modifiers = {}) {
    QWidget* box = f->pbPreview;
    QMouseEvent e(type, pos, box->mapToGlobal(pos), button, buttons, modifiers);
    QCoreApplication::sendEvent(box, &e);
  }
};

// The image rectangle is (0, 0, 122, 122) and so is the preview: a release at x 200 or below 122
// is away from the preview.
TEST_F(MouseEventTest, DragsDrawRatioLockedSelectionsStoredAtRelease) {
  QWidget* box = f->pbPreview;
  struct Row {
    const char* what;
    QPoint press, move, release;
    TRectF atMove, result;
  } rows[] = {
      {"the larger movement counts: 50 down beats 40 across", {10, 20}, {50, 70}, {50, 70}, {10, 20, 60, 70},
       {10, 20, 60, 70}},
      {"190 across wins and the bottom edge stops it, square", {10, 20}, {50, 70}, {200, 90}, {10, 20, 60, 70},
       {10, 20, 112, 122}},
      {"90 down: the right edge stops it, square", {40, 10}, {50, 50}, {60, 100}, {40, 10, 80, 50},
       {40, 10, 122, 92}},
      {"up and to the left of the press point, stored normalised", {100, 100}, {90, 90}, {50, 60},
       {90, 90, 100, 100}, {50, 50, 100, 100}},
      {"a plain downward drag", {10, 20}, {10, 40}, {10, 70}, {10, 20, 30, 40}, {10, 20, 60, 70}},
      {"released left of the preview, stopped by the left and top edges", {100, 100}, {90, 95}, {-40, 60},
       {90, 90, 100, 100}, {0, 0, 100, 100}},
  };
  for (const Row& r : rows) {
    markSelections(QStringLiteral("180_180"));
    QTest::mousePress(box, Qt::LeftButton, {}, r.press);
    EXPECT_EQ(f->Mode(), mDraw) << r.what;
    QTest::mouseMove(box, r.move);
    EXPECT_EQ(f->SelectRect(), r.atMove) << r.what;
    EXPECT_EQ(stored(), QStringLiteral("1,2,3,4")) << r.what << ": neither the press nor the moves store";
    QTest::mouseRelease(box, Qt::LeftButton, {}, r.release);
    EXPECT_EQ(f->SelectRect(), r.result) << r.what;
    EXPECT_EQ(decodeRectList(stored()), std::optional<TRectF>(r.result)) << r.what;
    EXPECT_EQ(f->Mode(), mNone) << r.what;
  }
}

TEST_F(MouseEventTest, FloatPositionsArrive) {
  send(QEvent::MouseButtonPress, QPointF(10.25, 20.5), Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(f->StartPoint(), (TPointF{10.25f, 20.5f}));
  send(QEvent::MouseButtonRelease, QPointF(70.75, 30.5), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(f->SelectRect(), (TRectF{10.25f, 20.5f, 70.75f, 81}));
}

TEST_F(MouseEventTest, CtrlHeldWithTheLeftButtonMoves) {
  f->SetSelectRect({10, 20, 60, 70});
  send(QEvent::MouseButtonPress, QPointF(30, 40), Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(f->Mode(), mDrag);
  send(QEvent::MouseMove, QPointF(121, 40), Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(f->SelectRect(), (TRectF{72, 20, 122, 70}));
  EXPECT_EQ(stored(), QStringLiteral("10,20,60,70")) << "a move does not store";
  send(QEvent::MouseMove, QPointF(110, 40), Qt::NoButton, Qt::LeftButton);  // Ctrl let go
  EXPECT_EQ(f->Mode(), mNone);
  EXPECT_EQ(f->SelectRect(), (TRectF{72, 20, 122, 70}));
  EXPECT_EQ(stored(), QStringLiteral("72,20,122,70")) << "the move that ends the gesture stores what is shown";
  markSelections(QStringLiteral("180_180"));
  send(QEvent::MouseMove, QPointF(60, 90), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(f->Mode(), mNone) << "the button still held starts no draw";
  send(QEvent::MouseButtonRelease, QPointF(60, 90), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(f->SelectRect(), (TRectF{72, 20, 122, 70}));
  EXPECT_EQ(stored(), QStringLiteral("1,2,3,4")) << "a release after the gesture ended stores nothing";
}

TEST_F(MouseEventTest, AwayFromThePreviewTheGestureGoesOnAndTheReleaseStores) {
  QWidget* box = f->pbPreview;
  QTest::mousePress(box, Qt::LeftButton, {}, QPoint(10, 20));
  QTest::mouseMove(box, QPoint(50, 70));
  QTest::mouseMove(box, QPoint(300, 100));  // away from the preview, the button held
  EXPECT_EQ(f->SelectRect(), (TRectF{10, 20, 112, 122})) << "shown as the release there will store it";
  EXPECT_EQ(f->Mode(), mDraw);
  QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(300, 100));
  EXPECT_EQ(f->Mode(), mNone);
  EXPECT_EQ(f->SelectRect(), (TRectF{10, 20, 112, 122}));
  EXPECT_EQ(stored(), QStringLiteral("10,20,112,122")) << "what is shown is stored";

  // A Ctrl-drag released away from the preview ends there too.
  send(QEvent::MouseButtonPress, QPointF(30, 40), Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
  send(QEvent::MouseButtonRelease, QPointF(-100, 40), Qt::LeftButton, Qt::NoButton, Qt::ControlModifier);
  EXPECT_EQ(f->Mode(), mNone);
  EXPECT_EQ(f->SelectRect(), (TRectF{0, 20, 102, 122}));
  EXPECT_EQ(stored(), QStringLiteral("0,20,102,122"));

  // Without a gesture, moves away from the preview are not seen.
  send(QEvent::MouseMove, QPointF(300, 100), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(f->Mode(), mNone);
  EXPECT_EQ(f->SelectRect(), (TRectF{0, 20, 102, 122}));
}

// A click of another button changes neither the selection nor the file, and does not end a drag of
// the left button.
TEST_F(MouseEventTest, OnlyTheLeftButtonDrawsOrMoves) {
  QWidget* box = f->pbPreview;
  f->SetSelectRect({10, 20, 60, 70});
  const QByteArray before = iniBytes();
  for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
    for (const Qt::KeyboardModifiers modifiers :
         {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ControlModifier)}) {
      QTest::mouseClick(box, button, modifiers, QPoint(90, 100));
      send(QEvent::MouseButtonPress, QPointF(5, 5), button, button, modifiers);
      send(QEvent::MouseMove, QPointF(40, 30), Qt::NoButton, button, modifiers);
      send(QEvent::MouseButtonRelease, QPointF(40, 30), button, Qt::NoButton, modifiers);
      EXPECT_EQ(f->SelectRect(), (TRectF{10, 20, 60, 70})) << button;
      EXPECT_EQ(f->Mode(), mNone) << button;
      EXPECT_EQ(iniBytes(), before) << button;
    }
  }

  QTest::mousePress(box, Qt::LeftButton, {}, QPoint(10, 20));
  send(QEvent::MouseButtonPress, QPointF(50, 70), Qt::RightButton, Qt::LeftButton | Qt::RightButton);
  send(QEvent::MouseButtonRelease, QPointF(50, 70), Qt::RightButton, Qt::LeftButton);
  EXPECT_EQ(f->Mode(), mDraw) << "the right click does not end the left button's drag";
  QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(50, 90));
  EXPECT_EQ(f->SelectRect(), (TRectF{10, 20, 80, 90}));
  EXPECT_EQ(stored(), QStringLiteral("10,20,80,90"));
}

// ---------------------------------------------------------------------------------------------
// Overlay

TEST_F(RatioFrameTest, OverlayOutlinesThePictureBlackAndTheSelectionRedDashed) {
  auto f = frame();
  f->SetFilename(picture(QStringLiteral("o.png"), 1600, 1200, Qt::green));
  ASSERT_EQ(f->ImageRect(), (TRectF{0, 15, 122, 106}));
  struct Row {
    const char* what;
    TRectF selection;
  } rows[] = {
      {"as drawn", {20, 30, 80, 90}},
      {"inverted, at its stored corners", {80, 90, 20, 30}},
  };
  for (const Row& r : rows) {
    f->SetSelectRect(r.selection);
    const QImage shot = f->imPreview->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(60, 15)), QColor(Qt::black)) << r.what;
    EXPECT_EQ(QColor(shot.pixel(60, 50)), QColor(Qt::green)) << r.what << ": the picture shows inside";
    int red = 0, other = 0;
    for (int x = 21; x < 80; ++x) {
      const QColor c(shot.pixel(x, 30));
      red += c == QColor(Qt::red);
      other += c != QColor(Qt::red);
    }
    EXPECT_GT(red, 10) << r.what;
    EXPECT_GT(other, 5) << r.what << ": dashed, not solid";
    int redLeft = 0;
    for (int y = 31; y < 90; ++y)
      redLeft += QColor(shot.pixel(20, y)) == QColor(Qt::red);
    EXPECT_GT(redLeft, 10) << r.what << ": the left edge";
  }

  // A picture that fills the preview: both outlines lie on its edges, and all four edges show
  // inside the preview (a line on x 122 would fall just outside it).
  auto full = frame();
  full->SetFilename(picture(QStringLiteral("full.png"), 1024, 1024, Qt::green));
  ASSERT_EQ(full->SelectRect(), (TRectF{0, 0, 122, 122}));
  const QImage fullShot = full->imPreview->grab().toImage();
  ASSERT_EQ(fullShot.size(), QSize(122, 122));
  auto outlined = [&](int x, int y) {
    const QColor c(fullShot.pixel(x, y));
    return c == QColor(Qt::black) || c == QColor(Qt::red);
  };
  int right = 0, bottom = 0, left = 0, top = 0, redRight = 0;
  for (int i = 0; i < 122; ++i) {
    left += outlined(0, i);
    top += outlined(i, 0);
    right += outlined(121, i);
    bottom += outlined(i, 121);
    redRight += QColor(fullShot.pixel(121, i)) == QColor(Qt::red);
  }
  EXPECT_EQ(left, 122);
  EXPECT_EQ(top, 122);
  EXPECT_EQ(right, 122) << "the right edge";
  EXPECT_EQ(bottom, 122) << "the bottom edge";
  EXPECT_GT(redRight, 10) << "the selection's right edge";
  EXPECT_EQ(QColor(fullShot.pixel(120, 60)), QColor(Qt::green));

  // Without a picture nothing is outlined, also when a picture was shown before.
  auto empty = frame(180, 180, false);
  const QImage shot = empty->imPreview->grab().toImage();
  EXPECT_NE(QColor(shot.pixel(61, 61)), QColor(Qt::red));
  EXPECT_NE(QColor(shot.pixel(61, 61)), QColor(Qt::black));
}

}  // namespace

// A frame keeps of a picture larger than its preview a copy no larger than the widest preview needs
// (four device pixels a unit), not the picture, with nothing else held beside it; yet everything measured
// in picture pixels is measured on the picture itself: where it lies in the preview, select-all,
// the selection in picture pixels, the editor (which opens on the whole picture, decoded again:
// fitting it shows all of it) and the preview's tiles (drawn from the whole picture, as the run
// draws its files) are those of a group that holds the whole picture.
TEST_F(RatioFrameTest, AFrameKeepsAReducedCopyAndMeasuresEverythingOnThePicture) {
  const qint64 budget = setKeptWholeBudget(0);
  struct Case {
    int ratioWidth, ratioHeight;
    QSize picture;
  };
  const Case cases[] = {{180, 180, {3000, 1000}}, {2688, 1242, {600, 2400}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture.width());
    QImage image(c.picture, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        image.setPixel(x, y, qRgba(x & 0xff, y & 0xff, (x ^ y) & 0xff, 255));
    const QString path = dir.filePath(QStringLiteral("big%1.png").arg(c.picture.width()));
    ASSERT_TRUE(image.save(path));
    auto f = frame(c.ratioWidth, c.ratioHeight);
    f->SetFilename(path);

    const TKeptPicture& kept = f->Picture();
    EXPECT_EQ(QSize(kept.Width(), kept.Height()), c.picture);
    EXPECT_LE(kept.Preview().Width(), TRatioGroup::PreviewCopyBound.width());
    EXPECT_LE(kept.Preview().Height(), TRatioGroup::PreviewCopyBound.height());
    // Sharp on a display of 4 pixels a unit (the picture's place is rounded to whole units).
    EXPECT_GE(kept.Preview().Width(), 4 * (f->ImageRect().Width() - 1));
    EXPECT_GE(kept.Preview().Height(), 4 * (f->ImageRect().Height() - 1));
    const qint64 decoded = kept.Whole().Image().cacheKey();  // let go at once
    EXPECT_NE(kept.Whole().Image().cacheKey(), decoded) << "the picture is not held: decoded anew";

    TRatioGroup whole(c.ratioWidth, c.ratioHeight);
    TBitmap bitmap;
    bitmap.Assign(image);
    whole.Picture = bitmap;
    EXPECT_EQ(f->ImageRect(), whole.ImageRect());
    EXPECT_EQ(f->SelectRect(), whole.DefaultSelection());
    whole.SelectRect = f->SelectRect();
    EXPECT_EQ(f->Group().PictureSelection(), whole.PictureSelection());

    const std::unique_ptr<TSelectionEditor> editor(f->EditSelection());
    ASSERT_NE(editor, nullptr);
    editor->resize(900, 700);
    editor->Canvas->ZoomToFit();
    const QPointF corner = editor->Canvas->ToView(c.picture.width(), c.picture.height());
    const QSize view = editor->Canvas->viewport()->size();
    EXPECT_LE(corner.x(), view.width());
    EXPECT_LE(corner.y(), view.height());
    EXPECT_TRUE(corner.x() > view.width() - 30 || corner.y() > view.height() - 30) << "fitted to the picture";
    EXPECT_EQ(editor->Selection(), whole.PictureSelection());

    TPlannedOutput large, small;
    large.Width = 1024, large.Height = 1024 * c.ratioHeight / c.ratioWidth;
    small.Width = 29, small.Height = 29 * c.ratioHeight / c.ratioWidth;
    QString message;
    const QList<TPreviewItem> tiles = renderPreviewItems(f->SourceGroup(), {large, small}, TRunChoices(), message);
    ASSERT_EQ(tiles.size(), 2) << message.toStdString();
    for (const TPreviewItem& tile : tiles)
      EXPECT_EQ(tile.Image, renderImage(bitmap, tile.Width, tile.Height, whole.ZoomRect()).Image()) << tile.Width;
  }
  setKeptWholeBudget(budget);
}
