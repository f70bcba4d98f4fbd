#include "frames/SelectionEditor.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

// Half the side of a handle's square, and how far from it a press still takes it (viewport pixels).
constexpr double kHandleHalf = 4;
constexpr double kHandleReach = 6;
// The room left around the picture when it is fitted into the view.
constexpr int kFitMargin = 12;
// The corner radius of the rounded-square icon mask, as a fraction of its side.
constexpr double kMaskCornerRadius = 0.2237;

Qt::CursorShape cursorOf(THandle h) {
  switch (h) {
    case THandle::TopLeft:
    case THandle::BottomRight: return Qt::SizeFDiagCursor;
    case THandle::TopRight:
    case THandle::BottomLeft: return Qt::SizeBDiagCursor;
    case THandle::Left:
    case THandle::Right: return Qt::SizeHorCursor;
    case THandle::Top:
    case THandle::Bottom: return Qt::SizeVerCursor;
    case THandle::Inside: return Qt::SizeAllCursor;
    case THandle::None: break;
  }
  return Qt::CrossCursor;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TEditorCanvas

TEditorCanvas::TEditorCanvas(QWidget* parent, const QImage& picture, double ratio)
    : QAbstractScrollArea(parent), FPicture(picture), FRatio(ratio) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  viewport()->setCursor(Qt::CrossCursor);
  horizontalScrollBar()->setSingleStep(20);
  verticalScrollBar()->setSingleStep(20);
  setAccessibleName(QStringLiteral("Selection editor"));
}

void TEditorCanvas::SetSelection(const TPictureRect& selection) {
  if (selection == FSelection)
    return;
  FSelection = selection;
  setAccessibleDescription(QStringLiteral("Selection: %1 x %2 pixels at %3, %4")
                               .arg(qRound(selection.Width()))
                               .arg(qRound(selection.Height()))
                               .arg(qRound(selection.Left))
                               .arg(qRound(selection.Top)));
  viewport()->update();
  emit SelectionChanged();
}

QPointF TEditorCanvas::centringOffset() const {
  // On whole view pixels, so that a picture at 100 % is drawn pixel for pixel.
  const QSize vp = viewport()->size();
  return {std::max(0.0, std::floor((vp.width() - FPicture.width() * FScale) / 2)),
          std::max(0.0, std::floor((vp.height() - FPicture.height() * FScale) / 2))};
}

QPointF TEditorCanvas::ToView(double x, double y) const {
  const QPointF o = centringOffset();
  return {x * FScale - horizontalScrollBar()->value() + o.x(), y * FScale - verticalScrollBar()->value() + o.y()};
}

QPointF TEditorCanvas::ToPicture(QPointF v) const {
  const QPointF o = centringOffset();
  return {(v.x() + horizontalScrollBar()->value() - o.x()) / FScale,
          (v.y() + verticalScrollBar()->value() - o.y()) / FScale};
}

void TEditorCanvas::updateScrollBars() {
  const QSize vp = viewport()->size();
  const int w = int(std::ceil(FPicture.width() * FScale));
  const int h = int(std::ceil(FPicture.height() * FScale));
  horizontalScrollBar()->setRange(0, std::max(0, w - vp.width()));
  horizontalScrollBar()->setPageStep(vp.width());
  verticalScrollBar()->setRange(0, std::max(0, h - vp.height()));
  verticalScrollBar()->setPageStep(vp.height());
}

void TEditorCanvas::setScale(double scale) {
  FScale = std::clamp(scale, MinZoom, MaxZoom);
  updateScrollBars();
  viewport()->update();
  emit ScaleChanged();
}

void TEditorCanvas::ZoomAbout(double scale, QPointF about) {
  FFitted = false;
  const QPointF o = centringOffset();
  const TEditorView before{FScale, horizontalScrollBar()->value() - o.x(), verticalScrollBar()->value() - o.y()};
  const TEditorView after = zoomedAbout(before, std::clamp(scale, MinZoom, MaxZoom), about.x(), about.y());
  setScale(after.Scale);
  const QPointF n = centringOffset();
  horizontalScrollBar()->setValue(qRound(after.ScrollX + n.x()));
  verticalScrollBar()->setValue(qRound(after.ScrollY + n.y()));
}

QPointF TEditorCanvas::zoomCentre() const {
  const QPoint mouse = viewport()->mapFromGlobal(QCursor::pos());
  if (viewport()->rect().contains(mouse))
    return mouse;
  return QRectF(viewport()->rect()).center();
}

void TEditorCanvas::ZoomIn() { ZoomAbout(zoomStep(FScale, true), zoomCentre()); }
void TEditorCanvas::ZoomOut() { ZoomAbout(zoomStep(FScale, false), zoomCentre()); }
void TEditorCanvas::ZoomActual() { ZoomAbout(1, zoomCentre()); }

void TEditorCanvas::ZoomToFit() {
  FFitted = true;
  // A margin around the picture keeps the handles on its edges whole and within reach.
  const QSize vp = viewport()->size();
  setScale(fitScale(pictureSize(), vp.width() - 2 * kFitMargin, vp.height() - 2 * kFitMargin));
}

void TEditorCanvas::SetShowMasks(bool show) {
  FShowMasks = show;
  viewport()->update();
}

void TEditorCanvas::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  if (FFitted)
    ZoomToFit();
  else
    updateScrollBars();
}

void TEditorCanvas::scrollContentsBy(int, int) { viewport()->update(); }

// ---- painting

void TEditorCanvas::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), QColor(64, 64, 64));
  const QRectF picture(ToView(0, 0), ToView(FPicture.width(), FPicture.height()));
  paintPicture(p, picture);
  const QRectF selection(ToView(FSelection.Left, FSelection.Top), ToView(FSelection.Right, FSelection.Bottom));
  paintSelection(p, picture, selection);
  if (FShowMasks)
    paintMasks(p, selection);
}

void TEditorCanvas::paintPicture(QPainter& p, const QRectF& target) {
  if (FScale >= 1) {
    // Picture pixels enlarged as squares, so that single pixels can be chosen.
    p.drawImage(target, FPicture);
    return;
  }
  if (FScaledScale != FScale) {
    FScaled = FPicture.scaled(qMax(1, qRound(target.width())), qMax(1, qRound(target.height())), Qt::IgnoreAspectRatio,
                              Qt::SmoothTransformation);
    FScaledScale = FScale;
  }
  p.drawImage(target.topLeft(), FScaled);
}

void TEditorCanvas::paintSelection(QPainter& p, const QRectF& picture, const QRectF& selection) {
  QPainterPath outside;
  outside.setFillRule(Qt::OddEvenFill);
  outside.addRect(picture);
  outside.addRect(selection);
  p.fillPath(outside, QColor(0, 0, 0, 140));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, 1));
  p.drawRect(selection);
  p.setPen(QPen(Qt::black, 1, Qt::DashLine));
  p.drawRect(selection);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  const double xs[] = {selection.left(), selection.center().x(), selection.right()};
  const double ys[] = {selection.top(), selection.center().y(), selection.bottom()};
  for (double x : xs)
    for (double y : ys)
      if (x != xs[1] || y != ys[1])
        p.drawRect(QRectF(x - kHandleHalf, y - kHandleHalf, 2 * kHandleHalf, 2 * kHandleHalf));
}

void TEditorCanvas::paintMasks(QPainter& p, const QRectF& selection) {
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0, 200, 255), 1.5, Qt::DashLine));
  const double radius = selection.width() * kMaskCornerRadius;
  p.drawRoundedRect(selection, radius, radius);
  p.setPen(QPen(QColor(255, 200, 0), 1.5, Qt::DashLine));
  p.drawEllipse(selection);
  p.setRenderHint(QPainter::Antialiasing, false);
}

// ---- the mouse

void TEditorCanvas::mousePressEvent(QMouseEvent* e) {
  if (FDrag != TDrag::None)
    return;
  if (e->button() == Qt::MiddleButton || (e->button() == Qt::LeftButton && FSpaceHeld)) {
    FDrag = TDrag::Pan;
    FPressView = e->position();
    FScrollAtPress = {horizontalScrollBar()->value(), verticalScrollBar()->value()};
    viewport()->setCursor(Qt::ClosedHandCursor);
    return;
  }
  if (e->button() == Qt::LeftButton)
    startDrag(e);
}

void TEditorCanvas::startDrag(QMouseEvent* e) {
  FPressView = e->position();
  FPressPicture = ToPicture(FPressView);
  FBeforeDrag = FSelection;
  FHandle = handleAt(FSelection, FPressPicture.x(), FPressPicture.y(), kHandleReach / FScale);
  FDrag = FHandle == THandle::None ? TDrag::Draw : FHandle == THandle::Inside ? TDrag::Move : TDrag::Resize;
  FDrawing = false;
  if (FDrag == TDrag::Draw) {
    // A new selection starts on the picture, where the press was or at its nearest point.
    FPressPicture = QPointF(std::clamp(FPressPicture.x(), 0.0, double(FPicture.width())),
                            std::clamp(FPressPicture.y(), 0.0, double(FPicture.height())));
  }
}

void TEditorCanvas::mouseMoveEvent(QMouseEvent* e) {
  if (FDrag == TDrag::None)
    updateCursor(e->position());
  else
    followDrag(e->position());
}

void TEditorCanvas::followDrag(QPointF v) {
  if (FDrag == TDrag::Pan) {
    horizontalScrollBar()->setValue(FScrollAtPress.x() - qRound(v.x() - FPressView.x()));
    verticalScrollBar()->setValue(FScrollAtPress.y() - qRound(v.y() - FPressView.y()));
    return;
  }
  const QPointF at = ToPicture(v);
  const double dx = at.x() - FPressPicture.x();
  const double dy = at.y() - FPressPicture.y();
  if (FDrag == TDrag::Resize)
    SetSelection(resizeByHandle(FBeforeDrag, FHandle, dx, dy, FRatio, pictureSize()));
  else if (FDrag == TDrag::Move)
    SetSelection(movedBy(FBeforeDrag, dx, dy, pictureSize()));
  else {
    // Nothing is drawn until the mouse has gone beyond the drag distance: a click keeps the selection.
    FDrawing = FDrawing || (v - FPressView).manhattanLength() > QApplication::startDragDistance();
    if (FDrawing)
      SetSelection(drawnFrom(FPressPicture.x(), FPressPicture.y(), at.x(), at.y(), FRatio, pictureSize()));
  }
}

void TEditorCanvas::mouseReleaseEvent(QMouseEvent* e) {
  const bool ends = (FDrag == TDrag::Pan && (e->button() == Qt::MiddleButton || e->button() == Qt::LeftButton)) ||
                    (FDrag != TDrag::Pan && e->button() == Qt::LeftButton);
  if (FDrag != TDrag::None && ends) {
    followDrag(e->position());
    endDrag();
    updateCursor(e->position());
  }
}

void TEditorCanvas::endDrag() {
  // A draw too small to keep (a press on the picture's edge dragged outward) puts back the selection
  // from before it.
  if (FDrag == TDrag::Draw &&
      (std::min(FSelection.Width(), FSelection.Height()) < MinSelectionSide || !FDrawing))
    SetSelection(FBeforeDrag);
  FDrag = TDrag::None;
}

void TEditorCanvas::cancelDrag() {
  if (FDrag != TDrag::Pan)
    SetSelection(FBeforeDrag);
  FDrag = TDrag::None;
}

void TEditorCanvas::updateCursor(QPointF v) {
  if (FSpaceHeld) {
    viewport()->setCursor(Qt::OpenHandCursor);
    return;
  }
  const QPointF at = ToPicture(v);
  viewport()->setCursor(cursorOf(handleAt(FSelection, at.x(), at.y(), kHandleReach / FScale)));
}

void TEditorCanvas::wheelEvent(QWheelEvent* e) {
  if (!(e->modifiers() & Qt::ControlModifier)) {
    QAbstractScrollArea::wheelEvent(e);
    return;
  }
  const int steps = e->angleDelta().y();
  if (steps != 0)
    ZoomAbout(zoomStep(FScale, steps > 0), e->position());
  e->accept();
}

// ---- the keys

void TEditorCanvas::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && FDrag != TDrag::None) {
    cancelDrag();
    updateCursor(viewport()->mapFromGlobal(QCursor::pos()));
    return;
  }
  if (e->key() == Qt::Key_Space) {
    if (!e->isAutoRepeat()) {
      FSpaceHeld = true;
      viewport()->setCursor(Qt::OpenHandCursor);
    }
    return;
  }
  if (!arrowKey(e))
    QAbstractScrollArea::keyPressEvent(e);
}

bool TEditorCanvas::arrowKey(QKeyEvent* e) {
  int x = 0, y = 0;
  switch (e->key()) {
    case Qt::Key_Left: x = -1; break;
    case Qt::Key_Right: x = 1; break;
    case Qt::Key_Up: y = -1; break;
    case Qt::Key_Down: y = 1; break;
    default: return false;
  }
  if (FDrag != TDrag::None)
    return true;
  const double step = (e->modifiers() & Qt::ShiftModifier) ? 10 : 1;
  const TPictureRect& s = FSelection;
  if (e->modifiers() & Qt::AltModifier) {
    // Right and down one step wider or taller, left and up one step smaller; the top-left stays.
    const double width = s.Width() + (x != 0 ? x * step : y * step * FRatio);
    SetSelection(placedAt(s.Left, s.Top, width, FRatio, pictureSize()));
  } else {
    SetSelection(movedBy(s, x * step, y * step, pictureSize()));
  }
  return true;
}

void TEditorCanvas::keyReleaseEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Space && !e->isAutoRepeat()) {
    FSpaceHeld = false;
    updateCursor(viewport()->mapFromGlobal(QCursor::pos()));
    return;
  }
  QAbstractScrollArea::keyReleaseEvent(e);
}

void TEditorCanvas::focusOutEvent(QFocusEvent* e) {
  FSpaceHeld = false;
  QAbstractScrollArea::focusOutEvent(e);
}

// ---------------------------------------------------------------------------------------------
// TSelectionEditor

TSelectionEditor::TSelectionEditor(QWidget* parent, const TRatioGroup& group, QSize largestOutput)
    : QDialog(parent),
      FPicture(group.PictureSize()),
      FRatio(group.PictureRatio()),
      FLargestOutput(largestOutput),
      FInitial(group.PictureSelection()) {
  setObjectName(QStringLiteral("SelectionEditor"));
  setWindowTitle(QStringLiteral("Edit the selection: ") + group.Caption());
  setSizeGripEnabled(true);
  // The whole picture, decoded again while the editor is open (the frame keeps only a copy).
  Canvas = new TEditorCanvas(this, group.Picture.Whole().Image(), FRatio);
  Canvas->setObjectName(QStringLiteral("Canvas"));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buildToolRow(group.RatioWidth() == group.RatioHeight()));
  layout->addWidget(Canvas, 1);
  layout->addLayout(buildFieldRow());
  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(Buttons);
  Canvas->SetSelection(FInitial);
  showSelection();
  connectControls();
  placeOnScreen();
  Canvas->setFocus();
}

QString TSelectionEditor::SizeLine(int selectedWidth, int selectedHeight, QSize largestOutput) {
  QString line = QStringLiteral("%1 x %2 pixels of the picture").arg(selectedWidth).arg(selectedHeight);
  if (!largestOutput.isEmpty())
    line += QStringLiteral("; the largest output is %1 x %2").arg(largestOutput.width()).arg(largestOutput.height());
  return line;
}

QLayout* TSelectionEditor::buildToolRow(bool square) {
  auto* row = new QHBoxLayout;
  const auto button = [&](QPushButton*& b, const QString& text, const QString& tip) {
    b = new QPushButton(text, this);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    row->addWidget(b);
  };
  button(btnSelectAll, QStringLiteral("Select all"),
         QStringLiteral("The largest part of the picture in this ratio, centred"));
  button(btnFit, QStringLiteral("Fit"), QStringLiteral("Show the whole picture (Ctrl+0)"));
  button(btnActual, QStringLiteral("100 %"), QStringLiteral("One screen pixel per picture pixel (Ctrl+1)"));
  button(btnZoomIn, QStringLiteral("Zoom in"), QStringLiteral("Zoom in around the mouse (Ctrl++ or Ctrl+wheel)"));
  button(btnZoomOut, QStringLiteral("Zoom out"), QStringLiteral("Zoom out around the mouse (Ctrl+- or Ctrl+wheel)"));
  row->addStretch(1);
  if (square) {
    cbMasks = new QCheckBox(QStringLiteral("Show icon masks"), this);
    cbMasks->setToolTip(QStringLiteral("Outlines of the rounded square and the circle the platforms cut icons to"));
    row->addWidget(cbMasks);
  }
  return row;
}

QLayout* TSelectionEditor::buildFieldRow() {
  auto* row = new QHBoxLayout;
  const auto field = [&](QDoubleSpinBox*& box, const QString& label, double low, double high, const QString& tip) {
    box = new QDoubleSpinBox(this);
    box->setDecimals(2);
    box->setRange(low, high);
    box->setKeyboardTracking(false);
    box->setToolTip(tip);
    auto* caption = new QLabel(label, this);
    caption->setBuddy(box);
    row->addWidget(caption);
    row->addWidget(box);
  };
  field(edX, QStringLiteral("&X:"), 0, FPicture.Width, QStringLiteral("Left edge of the selection, in picture pixels"));
  field(edY, QStringLiteral("&Y:"), 0, FPicture.Height, QStringLiteral("Top edge of the selection, in picture pixels"));
  field(edWidth, QStringLiteral("&Width:"), MinSelectionSide, FPicture.Width,
        QStringLiteral("Width of the selection in picture pixels; the height follows the ratio"));
  lbSize = new QLabel(this);
  lbSize->setObjectName(QStringLiteral("lbSize"));
  row->addSpacing(12);
  row->addWidget(lbSize, 1);
  return row;
}

void TSelectionEditor::connectControls() {
  connect(Canvas, &TEditorCanvas::SelectionChanged, this, [this] { showSelection(); });
  for (QDoubleSpinBox* box : {edX, edY, edWidth}) {
    connect(box, &QDoubleSpinBox::valueChanged, this, [this, box] { takeField(box); });
    box->installEventFilter(this);
  }
  connect(btnSelectAll, &QPushButton::clicked, this, [this] { Canvas->SetSelection(largestCentred(FPicture, FRatio)); });
  connect(btnFit, &QPushButton::clicked, Canvas, &TEditorCanvas::ZoomToFit);
  connect(btnActual, &QPushButton::clicked, Canvas, &TEditorCanvas::ZoomActual);
  connect(btnZoomIn, &QPushButton::clicked, Canvas, &TEditorCanvas::ZoomIn);
  connect(btnZoomOut, &QPushButton::clicked, Canvas, &TEditorCanvas::ZoomOut);
  if (cbMasks)
    connect(cbMasks, &QCheckBox::toggled, Canvas, &TEditorCanvas::SetShowMasks);
  const auto shortcut = [this](const QKeySequence& keys, void (TEditorCanvas::*action)()) {
    connect(new QShortcut(keys, this), &QShortcut::activated, Canvas, action);
  };
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Plus), &TEditorCanvas::ZoomIn);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal), &TEditorCanvas::ZoomIn);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus), &TEditorCanvas::ZoomOut);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_0), &TEditorCanvas::ZoomToFit);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_1), &TEditorCanvas::ZoomActual);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool TSelectionEditor::eventFilter(QObject* watched, QEvent* e) {
  // Enter in a field takes its value and leaves the editor open; OK closes it.
  if (e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    auto* box = qobject_cast<QDoubleSpinBox*>(watched);
    if (box && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      box->interpretText();
      return true;
    }
  }
  return QDialog::eventFilter(watched, e);
}

void TSelectionEditor::placeOnScreen() {
  // As large as the screen's free area allows; the window manager maximises it where it can.
  QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (!screen)
    return;
  const QRect area = screen->availableGeometry();
  constexpr int kTitleBar = 32;
  setGeometry(area.adjusted(0, kTitleBar, 0, 0));
  setWindowState(windowState() | Qt::WindowMaximized);
}

void TSelectionEditor::showSelection() {
  const TPictureRect s = Canvas->Selection();
  for (QDoubleSpinBox* box : {edX, edY, edWidth})
    box->blockSignals(true);
  edX->setValue(s.Left);
  edY->setValue(s.Top);
  edWidth->setValue(s.Width());
  for (QDoubleSpinBox* box : {edX, edY, edWidth})
    box->blockSignals(false);
  const int w = qRound(s.Width());
  const int h = qRound(s.Height());
  const bool enlarged = !FLargestOutput.isEmpty() &&
                        s.Width() * s.Height() < double(FLargestOutput.width()) * FLargestOutput.height();
  lbSize->setText(SizeLine(w, h, FLargestOutput));
  // The colour of the frame's enlargement warning.
  lbSize->setStyleSheet(enlarged ? QStringLiteral("color: #8a4b00;") : QString());
}

void TSelectionEditor::takeField(QDoubleSpinBox* field) {
  // Only the field changed is read: the others show rounded values of the selection.
  const TPictureRect s = Canvas->Selection();
  const double x = field == edX ? edX->value() : s.Left;
  const double y = field == edY ? edY->value() : s.Top;
  const double width = field == edWidth ? edWidth->value() : s.Width();
  Canvas->SetSelection(placedAt(x, y, width, FRatio, FPicture));
  // A value the picture does not allow shows as the one taken.
  showSelection();
}
