// The frames inside the real window as a user edits them: warnings that follow the devices, undo
// and redo, the keyboard, drag and drop, and the preview window following the frame.
#include "app/VellumarkMain.h"

#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "frames/PreviewWindow.h"
#include "platform/Errors.h"
#include "settings/Settings.h"
#include "support/Paths.h"
#include "support/ScriptedDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QUndoStack>
#include <QAction>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <ostream>

static std::ostream& operator<<(std::ostream& os, const TRectF& r) {
  return os << "(" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ")";
}

namespace {

class FrameEditingTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    setSettingsFilePathOverride(FDir.filePath(QStringLiteral("Vellumark.ini")));
    ::InitSizeInfos();
    Form = std::make_unique<TfrmVellumark>(nullptr, Settings());
  }
  void TearDown() override {
    Form.reset();
    setSettingsFilePathOverride(QString());
  }

  // A picture of the given size, opaque but for one half-transparent pixel in its middle.
  QString Picture(const QString& name, int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(qRgba(40, 90, 200, 255));
    img.setPixel(w / 2, h / 2, qRgba(40, 90, 200, 128));
    const QString path = FDir.filePath(name);
    EXPECT_TRUE(img.save(path));
    return path;
  }
  QString Stored(const TRatioFrame* frame) const {
    return readSetting(QStringLiteral("selections"), frame->SizeStr());
  }
  void SetDevices(bool iPhone, bool iPad, bool android) {
    Form->lbiiPhone->setCheckState(iPhone ? Qt::Checked : Qt::Unchecked);
    Form->lbiiPad->setCheckState(iPad ? Qt::Checked : Qt::Unchecked);
    Form->lbiAndroid->setCheckState(android ? Qt::Checked : Qt::Unchecked);
  }

  QTemporaryDir FDir;
  ScriptedDialogs FDialogs;
  std::unique_ptr<TfrmVellumark> Form;
};

// The square icons' frame with a 64 x 64 picture: the warnings follow the devices and the App
// Store icon box of the Setup tab.
TEST_F(FrameEditingTest, WarningsFollowTheDevicesAndTheAppStoreIcon) {
  TRatioFrame* square = Form->FindRatioFrame(0);
  square->SetFilename(Picture(QStringLiteral("icon.png"), 64, 64));
  const auto enlarged = [](int side) {
    return QStringLiteral("Enlarged: the selection is 64 x 64 pixels of the picture; the largest output is %1 x %1.")
        .arg(side);
  };
  struct Row {
    bool iPhone, iPad, android, appStore;
    bool transparency;
    QString enlarged;
  } rows[] = {
      {true, true, true, false, true, enlarged(180)},
      {false, false, true, false, false, enlarged(144)},
      {false, false, true, true, false, enlarged(144)},  // the App Store icon needs iOS
      {false, true, false, false, true, enlarged(167)},
      {false, true, false, true, true, enlarged(1024)},
  };
  for (const Row& r : rows) {
    SetDevices(r.iPhone, r.iPad, r.android);
    if (Form->cbAppStoreIcon->isChecked() != r.appStore)
      Form->cbAppStoreIcon->click();
    EXPECT_EQ(!square->lbTransparency->isHidden(), r.transparency) << r.iPhone << r.iPad << r.android;
    EXPECT_EQ(square->lbEnlarged->text(), r.enlarged) << r.iPhone << r.iPad << r.android << r.appStore;
    EXPECT_FALSE(square->lbEnlarged->isHidden());
  }
}

// Changes of two frames, undone and redone in order with the keys and the buttons; after every
// step the frames and the settings file hold what they held at that point going forward.
TEST_F(FrameEditingTest, UndoAndRedoWalkBackAndForthAcrossFrames) {
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Form->TabControl1->setCurrentWidget(Form->tiGraphics);
  TRatioFrame* square = Form->FindRatioFrame(0);
  TRatioFrame* wide = Form->FindRatioFrame(1);
  struct Seen {
    TFrameState square, wide;
    QString squareStored, wideStored, squareImage, wideImage;
    bool squareEmpty;
  };
  const auto seen = [&] {
    return Seen{square->State(),
                wide->State(),
                Stored(square),
                Stored(wide),
                readSetting(QStringLiteral("images"), square->SizeStr()),
                readSetting(QStringLiteral("images"), wide->SizeStr()),
                square->Picture().IsEmpty()};
  };
  const auto expectSeen = [&](const Seen& want, const char* when) {
    const Seen now = seen();
    EXPECT_EQ(now.square.Filename, want.square.Filename) << when;
    EXPECT_EQ(now.square.SelectRect, want.square.SelectRect) << when;
    EXPECT_EQ(now.wide.Filename, want.wide.Filename) << when;
    EXPECT_EQ(now.wide.SelectRect, want.wide.SelectRect) << when;
    EXPECT_EQ(now.squareStored, want.squareStored) << when;
    EXPECT_EQ(now.wideStored, want.wideStored) << when;
    EXPECT_EQ(now.squareImage, want.squareImage) << when;
    EXPECT_EQ(now.wideImage, want.wideImage) << when;
    EXPECT_EQ(now.squareEmpty, want.squareEmpty) << when;
  };
  EXPECT_FALSE(Form->btnUndo->isEnabled());
  EXPECT_FALSE(Form->btnRedo->isEnabled());

  QList<Seen> steps{seen()};
  square->SetFilename(Picture(QStringLiteral("square.png"), 122, 122));
  steps << seen();
  QTest::mousePress(square->pbPreview, Qt::LeftButton, {}, QPoint(10, 20));
  QTest::mouseRelease(square->pbPreview, Qt::LeftButton, {}, QPoint(50, 70));
  ASSERT_EQ(square->SelectRect(), (TRectF{10, 20, 60, 70}));
  steps << seen();
  wide->SetFilename(Picture(QStringLiteral("wide.png"), 300, 122));
  steps << seen();
  QTest::mouseClick(square->pbPreview, Qt::LeftButton, {}, QPoint(30, 30));  // a click is no change
  square->sbSelectAll->click();
  steps << seen();
  EXPECT_TRUE(Form->btnUndo->isEnabled());
  EXPECT_FALSE(Form->btnRedo->isEnabled());
  ASSERT_EQ(Form->UndoStack()->count(), 4);

  for (int i = steps.size() - 2; i >= 0; --i) {
    QTest::keyClick(Form.get(), Qt::Key_Z, Qt::ControlModifier);
    expectSeen(steps[i], "undone");
  }
  EXPECT_FALSE(Form->btnUndo->isEnabled());
  EXPECT_TRUE(Form->btnRedo->isEnabled());
  QTest::keyClick(Form.get(), Qt::Key_Z, Qt::ControlModifier);  // nothing left: nothing happens
  expectSeen(steps[0], "nothing to undo");

  QTest::keyClick(Form.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  expectSeen(steps[1], "redone with Ctrl+Shift+Z");
  QTest::keyClick(Form.get(), Qt::Key_Y, Qt::ControlModifier);
  expectSeen(steps[2], "redone with Ctrl+Y");
  Form->btnRedo->click();
  expectSeen(steps[3], "redone with the button");
  Form->btnUndo->click();
  expectSeen(steps[2], "undone with the button");

  // A new change after an undo drops what could have been redone.
  wide->sbSelectAll->click();
  square->SetSelectRect({1, 2, 30, 31});
  EXPECT_FALSE(Form->btnRedo->isEnabled());
  QTest::keyClick(Form.get(), Qt::Key_Z, Qt::ControlModifier);
  expectSeen(steps[2], "the new change undone");
}

TEST_F(FrameEditingTest, AHundredAndTwentyStepsAreUndone) {
  TRatioFrame* square = Form->FindRatioFrame(0);
  square->SetFilename(Picture(QStringLiteral("square.png"), 122, 122));
  const TFrameState start = square->State();
  for (int i = 1; i <= 120; ++i)
    square->SetSelectRect({float(i % 50), 0, float(i % 50) + 60, 60});
  for (int i = 0; i < 120; ++i)
    Form->actUndo->trigger();
  EXPECT_EQ(square->SelectRect(), start.SelectRect);
  EXPECT_EQ(Stored(square), QStringLiteral("0,0,122,122"));
  EXPECT_TRUE(Form->actUndo->isEnabled()) << "the picture's choice is still there to undo";
}

// The preview takes focus with a click or Tab and shows it; the arrow keys move the selection
// inside the picture, each key stored and undone on its own; Enter on select-all clicks it.
TEST_F(FrameEditingTest, ArrowKeysMoveTheSelectionInsideThePicture) {
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Form->TabControl1->setCurrentWidget(Form->tiGraphics);
  TRatioFrame* square = Form->FindRatioFrame(0);
  square->SetFilename(Picture(QStringLiteral("square.png"), 122, 122));
  square->SetSelectRect({10, 20, 60, 70});
  QWidget* box = square->pbPreview;
  const QImage unfocused = box->grab().toImage();
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(100, 100));
  ASSERT_TRUE(box->hasFocus());
  EXPECT_EQ(square->SelectRect(), (TRectF{10, 20, 60, 70})) << "the click that gives focus changes nothing";
  EXPECT_NE(box->grab().toImage(), unfocused) << "focus shows";

  struct Row {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    int times;
    TRectF result;
  } rows[] = {
      {Qt::Key_Right, Qt::NoModifier, 1, {11, 20, 61, 70}},
      {Qt::Key_Down, Qt::ShiftModifier, 1, {11, 30, 61, 80}},
      {Qt::Key_Left, Qt::NoModifier, 3, {8, 30, 58, 80}},
      {Qt::Key_Up, Qt::ShiftModifier, 5, {8, 0, 58, 50}},       // stops at the top edge
      {Qt::Key_Right, Qt::ShiftModifier, 9, {72, 0, 122, 50}},  // and at the right edge, size kept
  };
  const int steps = Form->UndoStack()->index();
  for (const Row& r : rows) {
    for (int i = 0; i < r.times; ++i)
      QTest::keyClick(box, r.key, r.mods);
    EXPECT_EQ(square->SelectRect(), r.result) << r.key;
    EXPECT_EQ(decodeRectList(Stored(square)), std::optional<TRectF>(r.result)) << r.key;
  }
  EXPECT_EQ(Form->UndoStack()->index() - steps, 1 + 1 + 3 + 3 + 7) << "one step per key that moved it";
  QTest::keyClick(Form.get(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(square->SelectRect(), (TRectF{68, 0, 118, 50}));

  // Enter on select-all clicks it.
  square->sbSelectAll->setFocus();
  ASSERT_TRUE(square->sbSelectAll->hasFocus());
  QTest::keyClick(square->sbSelectAll, Qt::Key_Return);
  EXPECT_EQ(square->SelectRect(), (TRectF{0, 0, 122, 122}));
  EXPECT_EQ(Stored(square), QStringLiteral("0,0,122,122"));
}

// A picture file dropped on a frame is taken as Browse takes it; anything else is refused with the
// reason and changes nothing.
TEST_F(FrameEditingTest, DroppingAPictureFileChoosesItAndAnythingElseIsRefused) {
  TRatioFrame* square = Form->FindRatioFrame(0);
  TRatioFrame* other = Form->FindRatioFrame(5);
  const QString png = Picture(QStringLiteral("dropped.png"), 122, 122);
  const QString text = FDir.filePath(QStringLiteral("notes.txt"));
  {
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a picture");
  }
  const auto drop = [&](QMimeData* data) {
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(square, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(square, &dropped);
  };
  const auto settingsBytes = [&] {
    QFile f(FDir.filePath(QStringLiteral("Vellumark.ini")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };

  const QString DropOneMessage =
      QStringLiteral("Drop one picture file (GIF, JPEG, PNG, BMP, TIFF, ICO or HD Photo) on a frame to use it");
  struct Refused {
    const char* what;
    std::function<void(QMimeData&)> fill;
    QString error;
  } refused[] = {
      {"a text file", [&](QMimeData& m) { m.setUrls({QUrl::fromLocalFile(text)}); },
       QStringLiteral("Not a picture file (GIF, JPEG, PNG, BMP, TIFF, ICO or HD Photo): ") + text},
      {"two pictures", [&](QMimeData& m) { m.setUrls({QUrl::fromLocalFile(png), QUrl::fromLocalFile(png)}); },
       DropOneMessage},
      {"plain text", [&](QMimeData& m) { m.setText(png); },
       DropOneMessage},
      {"a picture on the web", [&](QMimeData& m) { m.setUrls({QUrl(QStringLiteral("https://example.com/a.png"))}); },
       DropOneMessage},
  };
  const QByteArray before = settingsBytes();
  for (const Refused& r : refused) {
    FDialogs.Errors.clear();
    QMimeData data;
    r.fill(data);
    drop(&data);
    EXPECT_EQ(FDialogs.Errors, QStringList{errorDisplayText(r.error)}) << r.what;
    EXPECT_EQ(square->Filename(), QString()) << r.what;
    EXPECT_EQ(square->ceFilename->currentText(), QString()) << r.what;
    EXPECT_EQ(settingsBytes(), before) << r.what;
  }
  EXPECT_EQ(Form->UndoStack()->count(), 0);

  FDialogs.Errors.clear();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(png)});
  drop(&data);
  EXPECT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join(u'\n').toStdString();
  EXPECT_EQ(square->Filename(), png);
  EXPECT_EQ(square->Picture().Width(), 122);
  EXPECT_EQ(square->SelectRect(), (TRectF{0, 0, 122, 122})) << "select-all, as after Browse";
  EXPECT_EQ(readSetting(QStringLiteral("images"), square->SizeStr()), png);
  EXPECT_EQ(other->ceFilename->findText(png), 0) << "in every frame's history";
  EXPECT_EQ(Form->UndoStack()->count(), 1);
}

// What a frame shows is what the check and the run use: an icon file dropped is taken with one
// notification; a picture that fails (dropped cut short, typed but no picture) leaves the picture
// in use, its name in the box and in the settings file; an emptied box leaves no picture at all.
TEST_F(FrameEditingTest, TheBoxAlwaysNamesThePictureInUse) {
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  TRatioFrame* square = Form->FindRatioFrame(0);
  const auto windowChange = square->OnChange;
  int changes = 0;
  square->OnChange = [&](QObject* sender) {
    ++changes;
    windowChange(sender);
  };
  const auto drop = [&](const QString& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(square, &enter);
    QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(square, &dropped);
  };
  const auto storedName = [&] { return readSetting(QStringLiteral("images"), square->SizeStr()); };

  // An icon file is a picture file.
  const QString icon = FDir.filePath(QStringLiteral("sample.ico"));
  ASSERT_TRUE(QFile::copy(testDataDir() + QStringLiteral("/formats/sample.ico"), icon));
  drop(icon);
  EXPECT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join(u'\n').toStdString();
  EXPECT_EQ(square->Filename(), icon);
  EXPECT_FALSE(square->Picture().IsEmpty());
  EXPECT_EQ(changes, 1) << "one notification per picture change";
  const qint64 iconPicture = square->Picture().Preview().Image().cacheKey();

  // A PNG cut short, dropped.
  const QString cut = FDir.filePath(QStringLiteral("cut.png"));
  {
    QFile whole(Picture(QStringLiteral("whole.png"), 300, 300));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    QFile part(cut);
    ASSERT_TRUE(part.open(QIODevice::WriteOnly));
    part.write(whole.readAll().left(200));
  }
  drop(cut);
  EXPECT_EQ(FDialogs.Errors, QStringList{errorDisplayText(QStringLiteral("Loading bitmap failed (%1). ").arg(cut) +
                                                          QStringLiteral("The file ends before the picture does."))});

  // A typed name of a file that is no picture, committed with Enter.
  const QString notes = FDir.filePath(QStringLiteral("notes.png"));
  {
    QFile f(notes);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a picture");
  }
  QLineEdit* edit = square->ceFilename->lineEdit();
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, notes);
  QTest::keyClick(edit, Qt::Key_Return);
  ASSERT_EQ(FDialogs.Errors.size(), 2);
  const QString notAPicture = QStringLiteral("Loading bitmap failed (%1). The file is not a picture").arg(notes);
  EXPECT_TRUE(FDialogs.Errors[1].startsWith(notAPicture)) << FDialogs.Errors[1].toStdString();
  for (const char* after : {"the dropped file", "the typed name"}) {
    SCOPED_TRACE(after);
    EXPECT_EQ(square->ceFilename->currentText(), icon);
    EXPECT_EQ(square->Filename(), icon);
    EXPECT_EQ(square->Picture().Preview().Image().cacheKey(), iconPicture);
    EXPECT_EQ(storedName(), icon);
  }
  EXPECT_EQ(changes, 1);

  // The box emptied and Enter: no picture, and the check says so.
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(FDialogs.Errors.size(), 2);
  EXPECT_EQ(square->Filename(), QString());
  EXPECT_TRUE(square->Picture().IsEmpty());
  EXPECT_TRUE(square->lbTransparency->isHidden());
  EXPECT_TRUE(square->lbEnlarged->isHidden());
  EXPECT_EQ(storedName(), QString());
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(Form->Validate());
  const QStringList log = Form->mmOutput->toPlainText().split(u'\n');
  ASSERT_GE(log.size(), 3);
  EXPECT_EQ(log[1], QStringLiteral("   Validating 1:1..."));
  EXPECT_EQ(log[2], QStringLiteral("      INVALID Bitmap (Empty)"));
}

// The preview window follows the frame and the setup while it is open, says in words why it has no
// tiles, and names each tile in labels.
TEST_F(FrameEditingTest, ThePreviewWindowFollowsAndSaysWhatItShows) {
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  Form->TabControl1->setCurrentWidget(Form->tiGraphics);
  TRatioFrame* square = Form->FindRatioFrame(0);
  std::unique_ptr<TPreviewWindow> window(Form->PreviewFrame(square));
  TPreviewSheet* sheet = window->Sheet();
  EXPECT_TRUE(sheet->Items().isEmpty());
  EXPECT_EQ(sheet->Message(), QStringLiteral("No picture: choose one with Browse... or drop a picture file on the frame."));

  // Without a base name the names say where it goes; every tile has its labels.
  square->SetFilename(Picture(QStringLiteral("square.png"), 122, 122));
  ASSERT_FALSE(sheet->Items().isEmpty());
  EXPECT_EQ(sheet->Message(), QString());
  EXPECT_EQ(sheet->Items().first().FileName, QStringLiteral("<base name>180x180.png"));
  for (int i = 0; i < sheet->Items().size(); ++i) {
    const TPreviewItem& item = sheet->Items()[i];
    ASSERT_NE(sheet->NameLabel(i), nullptr);
    EXPECT_EQ(sheet->NameLabel(i)->text(), item.FileName);
    EXPECT_EQ(sheet->SizeLabel(i)->text(), TPreviewWindow::SizeText(item.Width, item.Height));
    EXPECT_EQ(sheet->SizeLabel(i)->accessibleName(), TPreviewWindow::SizeText(item.Width, item.Height) + ", " + item.FileName);
    EXPECT_GT(sheet->NameLabel(i)->geometry().top(), sheet->PictureRect(i).bottom()) << "under its picture";
  }

  // A drag: the tiles show the new region once it is let go (the left half is white, the right
  // half black, so the 180 x 180 tile turns from half black to all white).
  QImage halves(122, 122, QImage::Format_ARGB32);
  halves.fill(Qt::white);
  for (int y = 0; y < 122; ++y)
    for (int x = 61; x < 122; ++x)
      halves.setPixel(x, y, qRgb(0, 0, 0));
  const QString halvesPath = FDir.filePath(QStringLiteral("halves.png"));
  ASSERT_TRUE(halves.save(halvesPath));
  square->SetFilename(halvesPath);
  const auto tile180 = [&] { return sheet->Items().first().Image; };
  EXPECT_EQ(QColor(tile180().pixel(170, 90)), QColor(Qt::black));
  QTest::mousePress(square->pbPreview, Qt::LeftButton, {}, QPoint(1, 1));
  EXPECT_EQ(square->Mode(), mDraw);
  QTest::mouseRelease(square->pbPreview, Qt::LeftButton, {}, QPoint(61, 61));
  ASSERT_EQ(square->SelectRect(), (TRectF{1, 1, 61, 61}));
  EXPECT_EQ(QColor(tile180().pixel(170, 90)), QColor(Qt::white));
  Form->actUndo->trigger();
  EXPECT_EQ(QColor(tile180().pixel(170, 90)), QColor(Qt::black)) << "and an undo";

  // Devices and the two options of the Setup tab.
  const int all = sheet->Items().size();
  SetDevices(false, false, true);
  EXPECT_LT(sheet->Items().size(), all);
  EXPECT_EQ(sheet->Items().first().FileName, QStringLiteral("<base name>144x144.png"));
  SetDevices(true, true, true);
  Form->cbAppStoreIcon->click();
  EXPECT_EQ(sheet->Items().size(), all + 1);
  EXPECT_EQ(sheet->Items().last().FileName, QStringLiteral("<base name>1024x1024.png"));
  QImage noise(122, 122, QImage::Format_ARGB32);
  for (int y = 0; y < 122; ++y)
    for (int x = 0; x < 122; ++x)
      noise.setPixel(x, y, qRgb((x * 37 + y * 11) & 0xff, (x * y) & 0xff, (x ^ y) * 5 & 0xff));
  const QString noisePath = FDir.filePath(QStringLiteral("noise.png"));
  ASSERT_TRUE(noise.save(noisePath));
  square->SetFilename(noisePath);
  // The smallest tile, made by reduction.
  qsizetype smallest = 0;
  for (qsizetype i = 1; i < sheet->Items().size(); ++i)
    if (sheet->Items()[i].Width < sheet->Items()[smallest].Width)
      smallest = i;
  ASSERT_LT(sheet->Items()[smallest].Width, 60);
  const QImage bilinear = sheet->Items()[smallest].Image;
  Form->cbSmooth->click();
  EXPECT_NE(sheet->Items()[smallest].Image, bilinear) << "smooth downscaling reaches the tiles";

  // An empty selection is said in words.
  square->SetSelectRect({30, 30, 30, 30});
  EXPECT_TRUE(sheet->Items().isEmpty());
  EXPECT_EQ(sheet->Message(), QStringLiteral("The selection is empty: drag over the picture to select the region to use."));
  EXPECT_FALSE(sheet->findChild<QLabel*>(QStringLiteral("PreviewMessage"))->isHidden());
}

}  // namespace
