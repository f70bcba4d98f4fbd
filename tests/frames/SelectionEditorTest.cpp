#include "frames/FrameRatio.h"
#include "frames/SelectionEditor.h"

#include "platform/NumberText.h"
#include "settings/Settings.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QPointer>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>

static std::ostream& operator<<(std::ostream& os, const TPictureRect& r) {
  return os << "(" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ")";
}

namespace {

// A frame of the 1:1 group with a picture, and its editor opened as the user opens it.
class SelectionEditorTest : public ::testing::Test {
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

  // A picture of the given size: blue, with a red square of 10 pixels at (marker, marker).
  QString picture(int w, int h, int marker = -1) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    if (marker >= 0)
      for (int y = marker; y < marker + 10; ++y)
        for (int x = marker; x < marker + 10; ++x)
          image.setPixel(x, y, qRgb(255, 0, 0));
    const QString path = dir.filePath(QStringLiteral("p%1x%2.png").arg(w).arg(h));
    EXPECT_TRUE(image.save(path, "PNG"));
    return path;
  }
  std::unique_ptr<TRatioFrame> frameWith(const QString& path) {
    auto f = std::make_unique<TRatioFrame>(nullptr, 180, 180, true, Settings());
    f->SetFilename(path);
    return f;
  }
  QByteArray iniBytes() const {
    QFile f(iniPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  // Opens the editor with the "Edit..." button; a known size and zoom, so that view pixels are
  // picture pixels.
  TSelectionEditor* openEditor(TRatioFrame& f, double scale = 1) {
    // An editor closed before is gone first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::mouseClick(f.btnEdit, Qt::LeftButton);
    auto* editor = f.findChild<TSelectionEditor*>();
    EXPECT_NE(editor, nullptr);
    if (!editor)
      return nullptr;
    editor->setWindowState(Qt::WindowNoState);
    editor->resize(760, 560);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(editor));
    editor->Canvas->ZoomAbout(scale, {0, 0});
    return editor;
  }
  static QPoint viewPoint(TSelectionEditor* e, double x, double y) { return e->Canvas->ToView(x, y).toPoint(); }
  static void drag(TSelectionEditor* e, QPoint from, QPoint to) {
    QWidget* vp = e->Canvas->viewport();
    QTest::mousePress(vp, Qt::LeftButton, {}, from);
    QTest::mouseMove(vp, (from + to) / 2);
    QTest::mouseMove(vp, to);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, to);
  }

  QTemporaryDir dir;
  QString iniPath;
  ScriptedDialogs dialogs;
};

void expectNear(const TPictureRect& got, const TPictureRect& want, double tolerance) {
  EXPECT_NEAR(got.Left, want.Left, tolerance) << got << " want " << want;
  EXPECT_NEAR(got.Top, want.Top, tolerance) << got << " want " << want;
  EXPECT_NEAR(got.Right, want.Right, tolerance) << got << " want " << want;
  EXPECT_NEAR(got.Bottom, want.Bottom, tolerance) << got << " want " << want;
}

}  // namespace

// Each handle dragged with the mouse, some far beyond the picture: a corner keeps the opposite
// corner, an edge the opposite edge's centre, the ratio is kept and the selection stays inside the
// 400 x 300 picture. A press inside moves it, one outside draws a new one.
TEST_F(SelectionEditorTest, HandleDragsResizeAboutTheOppositeSideInsideThePicture) {
  auto f = frameWith(picture(400, 300));
  TSelectionEditor* e = openEditor(*f);
  ASSERT_NE(e, nullptr);
  const TPictureRect start{100, 50, 200, 150};
  const struct Row {
    const char* what;
    double px, py;  // the press, in picture pixels
    int dx, dy;     // the drag, in view pixels (one per picture pixel)
    TPictureRect expected;
  } rows[] = {
      {"top-left corner", 100, 50, -30, -10, {70, 20, 200, 150}},
      {"top-left corner to the picture's corner", 100, 50, -500, -500, {50, 0, 200, 150}},
      {"top edge", 150, 50, 0, -30, {85, 20, 215, 150}},
      {"top-right corner beyond the picture", 200, 50, 500, -500, {100, 0, 250, 150}},
      {"right edge", 200, 100, 50, 0, {100, 25, 250, 175}},
      {"right edge beyond the picture: full height", 200, 100, 1000, 0, {100, 0, 400, 300}},
      {"bottom-right corner beyond the picture", 200, 150, 600, 600, {100, 50, 350, 300}},
      {"bottom edge", 150, 150, 0, 30, {85, 50, 215, 180}},
      {"bottom-left corner beyond the picture", 100, 150, -500, 500, {0, 50, 200, 250}},
      {"left edge beyond the picture", 100, 100, -500, 0, {0, 0, 200, 200}},
      {"a press inside moves it, up to the edge", 150, 100, 500, 0, {300, 50, 400, 150}},
      {"a press outside draws a new one", 300, 250, 50, 30, {300, 250, 350, 300}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    e->Canvas->SetSelection(start);
    const QPoint from = viewPoint(e, r.px, r.py);
    drag(e, from, from + QPoint(r.dx, r.dy));
    const TPictureRect s = e->Selection();
    expectNear(s, r.expected, 1e-6);
    EXPECT_NEAR(s.Width(), s.Height(), 1e-9) << "the ratio";
    EXPECT_TRUE(s.Left >= 0 && s.Top >= 0 && s.Right <= 400 && s.Bottom <= 300) << s;
  }
  e->reject();
}

// Escape during a drag puts the selection back and keeps the editor open; Escape without a drag is
// Cancel: nothing is stored. The fields follow a drag as it goes.
TEST_F(SelectionEditorTest, EscapeCancelsTheDragThenTheEditor) {
  auto f = frameWith(picture(400, 300));
  const QByteArray before = iniBytes();
  int changes = 0;
  f->OnStateChange = [&](TRatioFrame*, const TFrameState&, const TFrameState&) { ++changes; };
  TSelectionEditor* e = openEditor(*f);
  ASSERT_NE(e, nullptr);
  const TPictureRect start = e->Selection();
  EXPECT_EQ(start, (TPictureRect{50, 0, 350, 300})) << "the frame's select-all, centred";
  QWidget* vp = e->Canvas->viewport();
  const QPoint corner = viewPoint(e, 350, 300);
  QTest::mousePress(vp, Qt::LeftButton, {}, corner);
  QTest::mouseMove(vp, corner - QPoint(100, 100));
  EXPECT_EQ(e->Selection(), (TPictureRect{50, 0, 250, 200}));
  EXPECT_EQ(e->edWidth->value(), 200) << "the fields follow the drag";
  QTest::keyClick(e->Canvas, Qt::Key_Escape);
  EXPECT_EQ(e->Selection(), start);
  EXPECT_TRUE(e->isVisible()) << "Escape ended the drag, not the editor";
  QTest::mouseMove(vp, corner - QPoint(150, 150));
  QTest::mouseRelease(vp, Qt::LeftButton, {}, corner - QPoint(150, 150));
  EXPECT_EQ(e->Selection(), start) << "the rest of the cancelled drag does nothing";
  // A change, then Escape with no drag: the editor is cancelled.
  QTest::keyClick(e->Canvas, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_NE(e->Selection(), start);
  QPointer<TSelectionEditor> guard(e);
  QTest::keyClick(e->Canvas, Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull()) << "closed and gone";
  EXPECT_EQ(iniBytes(), before);
  EXPECT_EQ(changes, 0);
}

// Ctrl + wheel and Ctrl++ zoom around the mouse: the picture point under it stays there (within
// the scroll bars' whole pixels), and the picture is painted where the view says it is.
TEST_F(SelectionEditorTest, ZoomKeepsThePictureUnderTheMouse) {
  auto f = frameWith(picture(1600, 1200, 800));
  TSelectionEditor* e = openEditor(*f);
  ASSERT_NE(e, nullptr);
  TEditorCanvas* c = e->Canvas;
  QWidget* vp = c->viewport();
  c->horizontalScrollBar()->setValue(500);
  c->verticalScrollBar()->setValue(400);
  const QPoint mouse(230, 170);
  const QPointF under = c->ToPicture(mouse);
  QWheelEvent wheel(mouse, vp->mapToGlobal(mouse), {}, {0, 120}, Qt::NoButton, Qt::ControlModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(vp, &wheel);
  EXPECT_DOUBLE_EQ(c->Scale(), 1.25);
  const QPointF after = c->ToView(under.x(), under.y());
  EXPECT_NEAR(after.x(), mouse.x(), 0.5);
  EXPECT_NEAR(after.y(), mouse.y(), 0.5);
  // The keys, around the mouse as well.
  QCursor::setPos(vp->mapToGlobal(mouse));
  if (vp->mapFromGlobal(QCursor::pos()) == mouse) {
    const QPointF under2 = c->ToPicture(mouse);
    QTest::keyClick(c, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(c->Scale(), 1);
    EXPECT_NEAR(c->ToView(under2.x(), under2.y()).x(), mouse.x(), 0.5);
    QTest::keyClick(c, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(c->Scale(), 1.25);
  } else {
    ADD_FAILURE() << "the platform does not move the mouse pointer";
  }
  // The red marker (800..810), scrolled into the view, is painted where ToView puts it.
  c->horizontalScrollBar()->setValue(int(805 * c->Scale()) - 200);
  c->verticalScrollBar()->setValue(int(805 * c->Scale()) - 150);
  const QImage shot = vp->grab().toImage();
  const QPoint marker = c->ToView(805, 805).toPoint();
  ASSERT_TRUE(shot.rect().contains(marker));
  EXPECT_EQ(QColor(shot.pixel(marker)), QColor(Qt::red));
  const QPoint beside = c->ToView(790, 805).toPoint();
  EXPECT_NE(QColor(shot.pixel(beside)), QColor(Qt::red));
  // Panning: a middle drag and a Space + left drag move the view with the mouse, not the selection.
  const TPictureRect selection = e->Selection();
  const QPoint scrolled(c->horizontalScrollBar()->value(), c->verticalScrollBar()->value());
  QTest::mousePress(vp, Qt::MiddleButton, {}, QPoint(300, 300));
  QTest::mouseMove(vp, QPoint(260, 270));
  QTest::mouseRelease(vp, Qt::MiddleButton, {}, QPoint(260, 270));
  EXPECT_EQ(QPoint(c->horizontalScrollBar()->value(), c->verticalScrollBar()->value()), scrolled + QPoint(40, 30));
  QTest::keyPress(c, Qt::Key_Space);
  QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(300, 300));
  QTest::mouseMove(vp, QPoint(320, 310));
  QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(320, 310));
  QTest::keyRelease(c, Qt::Key_Space);
  EXPECT_EQ(QPoint(c->horizontalScrollBar()->value(), c->verticalScrollBar()->value()), scrolled + QPoint(20, 20));
  EXPECT_EQ(e->Selection(), selection);
  // Fit shows the whole picture.
  QTest::mouseClick(e->btnFit, Qt::LeftButton);
  EXPECT_LE(1600 * c->Scale(), vp->width());
  EXPECT_LE(1200 * c->Scale(), vp->height());
  EXPECT_EQ(c->horizontalScrollBar()->maximum(), 0);
  e->reject();
}

// The fields: X, Y and the width in picture pixels, the height following the ratio, held inside
// the picture; the line under the view gives the size against the largest output, in the
// enlargement warning's colour while the selection is smaller than it. Alt + arrows resize.
TEST_F(SelectionEditorTest, FieldsPlaceTheSelectionAndTheSizeLineFollows) {
  auto f = frameWith(picture(1600, 1200));
  f->SetOutputs({QSize(180, 180), QSize(1024, 1024)}, true);
  TSelectionEditor* e = openEditor(*f, 0.25);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->lbSize->text(), QStringLiteral("1200 x 1200 pixels of the picture; the largest output is 1024 x 1024"));
  EXPECT_EQ(e->lbSize->styleSheet(), QString());
  const auto type = [](QDoubleSpinBox* box, const QString& text) {
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
  };
  type(e->edWidth, QStringLiteral("500"));
  EXPECT_EQ(e->Selection(), (TPictureRect{200, 0, 700, 500})) << "the top-left corner stays";
  EXPECT_TRUE(e->isVisible()) << "Enter in a field takes the value, it does not close the editor";
  EXPECT_EQ(e->lbSize->text(), QStringLiteral("500 x 500 pixels of the picture; the largest output is 1024 x 1024"));
  EXPECT_EQ(e->lbSize->styleSheet(), QStringLiteral("color: #8a4b00;"));
  type(e->edX, QStringLiteral("1500"));
  EXPECT_EQ(e->Selection(), (TPictureRect{1100, 0, 1600, 500})) << "held inside the picture";
  EXPECT_EQ(e->edX->value(), 1100) << "the field shows what was taken";
  type(e->edY, QStringLiteral("12.5"));
  EXPECT_EQ(e->Selection(), (TPictureRect{1100, 12.5, 1600, 512.5}));
  type(e->edWidth, QStringLiteral("1600"));
  EXPECT_EQ(e->Selection(), (TPictureRect{400, 0, 1600, 1200})) << "no larger than the picture allows";
  // The keys: arrows by a pixel (Shift: ten), Alt + arrows resize about the top-left corner.
  e->Canvas->setFocus();
  QTest::keyClick(e->Canvas, Qt::Key_Left);
  EXPECT_EQ(e->Selection(), (TPictureRect{399, 0, 1599, 1200}));
  QTest::keyClick(e->Canvas, Qt::Key_Left, Qt::AltModifier | Qt::ShiftModifier);
  EXPECT_EQ(e->Selection(), (TPictureRect{399, 0, 1589, 1190}));
  QTest::keyClick(e->Canvas, Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(e->Selection(), (TPictureRect{399, 10, 1589, 1200}));
  // The editor's select-all: the largest square, centred.
  QTest::mouseClick(e->btnSelectAll, Qt::LeftButton);
  EXPECT_EQ(e->Selection(), (TPictureRect{200, 0, 1400, 1200}));
  e->reject();
}

// OK stores the selection set in the editor at once, as one undo step; Cancel stores nothing. A
// new frame on the same settings file (a restart) brings it back within half a picture pixel, and
// so does what the run reads from it.
TEST_F(SelectionEditorTest, OkStoresOnceAndARestartBringsItBack) {
  const QString path = picture(1536, 2048);
  auto f = frameWith(path);
  std::vector<std::pair<TFrameState, TFrameState>> changes;
  f->OnStateChange = [&](TRatioFrame*, const TFrameState& b, const TFrameState& a) { changes.emplace_back(b, a); };
  const TFrameState before = f->State();
  const QByteArray bytesBefore = iniBytes();

  // Cancel after a change: nothing.
  TSelectionEditor* e = openEditor(*f, 0.25);
  ASSERT_NE(e, nullptr);
  e->Canvas->SetSelection({10, 20, 1010, 1020});
  QTest::mouseClick(e->Buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
  EXPECT_EQ(iniBytes(), bytesBefore);
  EXPECT_TRUE(changes.empty());

  // OK after a change: stored, one change reported.
  e = openEditor(*f, 0.25);
  ASSERT_NE(e, nullptr);
  const TPictureRect set{333.25, 777.5, 1234.75, 1679};
  e->Canvas->SetSelection(set);
  QTest::mouseClick(e->Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].first, before);
  EXPECT_EQ(changes[0].second, f->State());
  EXPECT_NE(iniBytes(), bytesBefore);
  EXPECT_EQ(decodeRectList(readSetting(QStringLiteral("selections"), QStringLiteral("180_180"))),
            std::optional<TRectF>(f->SelectRect()));

  // OK with nothing changed: nothing written, no change reported.
  const QByteArray bytesAfter = iniBytes();
  e = openEditor(*f, 0.25);
  ASSERT_NE(e, nullptr);
  QTest::mouseClick(e->Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
  EXPECT_EQ(iniBytes(), bytesAfter);
  EXPECT_EQ(changes.size(), 1u);

  // A restart: a new frame on the same settings file.
  auto again = std::make_unique<TRatioFrame>(nullptr, 180, 180, true, Settings());
  expectNear(again->Group().PictureSelection(), set, 0.5);
  const TRectF zoom = again->ZoomRect();  // what the run renders from
  expectNear({zoom.Left * 1536.0, zoom.Top * 2048.0, zoom.Right * 1536.0, zoom.Bottom * 2048.0}, set, 0.5);
}

// The ways in: "Edit...", a double-click on the preview; none without a picture. The 1:1 group
// offers the icon masks.
TEST_F(SelectionEditorTest, OpensFromTheButtonAndADoubleClickWithAPictureOnly) {
  auto empty = std::make_unique<TRatioFrame>(nullptr, 180, 180, true, Settings());
  QTest::mouseClick(empty->btnEdit, Qt::LeftButton);
  EXPECT_EQ(empty->findChild<TSelectionEditor*>(), nullptr);
  EXPECT_EQ(empty->EditSelection(), nullptr);

  auto f = frameWith(picture(400, 300));
  QTest::mouseDClick(f->pbPreview, Qt::LeftButton, {}, QPoint(60, 60));
  auto* e = f->findChild<TSelectionEditor*>();
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(e->isVisible());
  ASSERT_NE(e->cbMasks, nullptr);
  e->reject();

  auto wide = std::make_unique<TRatioFrame>(nullptr, 2688, 1242, true, Settings());
  wide->SetFilename(picture(400, 300));
  TSelectionEditor* we = wide->EditSelection();
  ASSERT_NE(we, nullptr);
  EXPECT_EQ(we->cbMasks, nullptr);
  we->reject();
}
