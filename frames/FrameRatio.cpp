#include "frames/FrameRatio.h"

#include "frames/SelectionEditor.h"

#include "catalogue/SizeInfo.h"
#include "imaging/ImageDecode.h"
#include "model/RatioGroup.h"
#include "model/GroupWarnings.h"
#include "model/SelectionGeometry.h"
#include "model/Validation.h"
#include "platform/Errors.h"
#include "platform/NumberText.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScopeGuard>
#include <QToolButton>
#include <QWheelEvent>
#include <QtMath>

namespace {

// Design size of the frame and the places of its controls inside it.
constexpr int kDesignWidth = 505;
constexpr int kDesignHeight = 160;
constexpr int kPreviewTop = 24;
constexpr int kPreviewRightMargin = kDesignWidth - (310 + 129);  // 66
constexpr int kPreviewGap = 310 - (264 + 33);                     // between sbSelectAll and the preview
constexpr int kRightControlsMargin = kDesignWidth - (264 + 33);  // right edge of ceFilename, sbSelectAll
constexpr float kPreviewHeight = 122;
constexpr int kLabelLeft = 16;
constexpr int kLabelWidth = 217;

// Sets a flag for the length of a scope and puts back its previous value, also when an error passes.
// Outline of a rectangle, whatever the order of its corners, on the outermost units inside it: a
// 1-unit line at x covers the unit from x to x + 1, so the right and bottom edges are drawn one unit
// in from Right and Bottom. An outline on the picture's edges (or the preview's) thus stays visible
// on all four sides. A rectangle less than a unit wide or high draws as a line or a dot.
void drawOutline(QPainter& canvas, const TRectF& r) {
  const double left = std::min(r.Left, r.Right);
  const double top = std::min(r.Top, r.Bottom);
  const double right = std::max(left, double(std::max(r.Left, r.Right)) - 1);
  const double bottom = std::max(top, double(std::max(r.Top, r.Bottom)) - 1);
  if (left == right && top == bottom) {
    canvas.drawPoint(QPointF(left, top));
    return;
  }
  const QPointF corners[4] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
  canvas.drawPolygon(corners, 4);
}

// The glyph of sbSelectAll: a dashed frame around a filled square.
QIcon selectAllGlyph() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(QPen(QColor(60, 60, 60), 1, Qt::DashLine));
  p.drawRect(1, 1, 13, 13);
  p.fillRect(4, 4, 8, 8, QColor(60, 60, 60));
  return QIcon(pixmap);
}

// The file-name combo of a frame. The frames sit in a scrolling box, so the mouse wheel over the
// combo scrolls the box instead of stepping through the history: stepping would load and store
// another picture whenever the pointer passes over a file name while the user scrolls.
class TFilenameCombo : public QComboBox {
public:
  using QComboBox::QComboBox;

protected:
  void wheelEvent(QWheelEvent* e) override { e->ignore(); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TImagePreview

TImagePreview::TImagePreview(QWidget* parent, const TRatioGroup& group) : QWidget(parent), FGroup(group) {}

void TImagePreview::SetPreviewSize(float width, float height) {
  PreviewWidth = width;
  PreviewHeight = height;
  const double w = std::isfinite(width) ? qBound(0.0, double(width), 16384.0) : 0.0;
  const double h = std::isfinite(height) ? qBound(0.0, double(height), 16384.0) : 0.0;
  resize(qCeil(w), qCeil(h));
  update();
}

QRect TImagePreview::PictureRect() const {
  // Exactly the image rectangle that the selection is measured against, so that the outline covers
  // the region the outputs are made from: a picture smaller than the preview keeps its own size.
  const TKeptPicture& picture = FGroup.Picture;
  const TRectF r = imageRect(picture.Width(), picture.Height(), 1.0f, PreviewWidth, PreviewHeight);
  if (!(r.Right > r.Left) || !(r.Bottom > r.Top))
    return {};
  return QRect(QPoint(int(r.Left), int(r.Top)), QPoint(int(r.Right) - 1, int(r.Bottom) - 1));
}

void TImagePreview::paintEvent(QPaintEvent*) {
  const QRect target = PictureRect();
  if (target.isEmpty())
    return;
  const qreal dpr = devicePixelRatioF();
  const QSize pixels(qMax(1, qRound(target.width() * dpr)), qMax(1, qRound(target.height() * dpr)));
  // The kept copy, drawn at the picture's place (it is no larger than a preview needs).
  const QImage& image = FGroup.Picture.Preview().Image();
  if (FScaled.isNull() || FScaledKey != image.cacheKey() || FScaledSize != pixels) {
    FScaled = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    FScaled.setDevicePixelRatio(dpr);
    FScaledKey = image.cacheKey();
    FScaledSize = pixels;
  }
  QPainter painter(this);
  painter.drawImage(target.topLeft(), FScaled);
}

// ---------------------------------------------------------------------------------------------
// TPaintBox

TPaintBox::TPaintBox(TRatioFrame* frame, QWidget* parent) : QWidget(parent), FFrame(frame) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(QStringLiteral("Selection"));
  setAccessibleDescription(QStringLiteral("Arrow keys move the selection; with Shift by ten"));
}

void TPaintBox::keyPressEvent(QKeyEvent* e) {
  bool handled = false;
  runEventHandler([&] { handled = FFrame->pbPreviewKeyDown(e->key(), ShiftStateOf(Qt::NoButton, e->modifiers())); });
  if (!handled)
    QWidget::keyPressEvent(e);
}

void TPaintBox::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  update();
}

void TPaintBox::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  update();
}

TShiftState TPaintBox::ShiftStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  TShiftState shift = 0;
  if (modifiers & Qt::ShiftModifier)
    shift |= ssShift;
  if (modifiers & Qt::AltModifier)
    shift |= ssAlt;
  if (modifiers & Qt::ControlModifier)
    shift |= ssCtrl;
  if (buttons & Qt::LeftButton)
    shift |= ssLeft;
  if (buttons & Qt::RightButton)
    shift |= ssRight;
  if (buttons & Qt::MiddleButton)
    shift |= ssMiddle;
  return shift;
}

bool TPaintBox::isOver(const QPointF& p) const {
  return p.x() >= 0 && p.y() >= 0 && p.x() < width() && p.y() < height();
}

void TPaintBox::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  if (hasFocus()) {
    // Under the outlines: a band in the highlight colour along the preview's border.
    canvas.setPen(QPen(palette().color(QPalette::Highlight), 2));
    canvas.setBrush(Qt::NoBrush);
    canvas.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
  }
  FFrame->pbPreviewPaint(canvas);
}

void TPaintBox::mousePressEvent(QMouseEvent* e) {
  const QPointF p = e->position();
  runEventHandler([&] {
    FFrame->pbPreviewMouseDown(e->button(), ShiftStateOf(e->buttons(), e->modifiers()), float(p.x()), float(p.y()));
  });
}

void TPaintBox::mouseMoveEvent(QMouseEvent* e) {
  const QPointF p = e->position();
  // Away from the preview only a gesture in progress follows the mouse (the box holds the mouse
  // from the press to the release); the selection stops at the picture's edges.
  if (!isOver(p) && FFrame->Mode() == mNone)
    return;
  runEventHandler(
      [&] { FFrame->pbPreviewMouseMove(ShiftStateOf(e->buttons(), e->modifiers()), float(p.x()), float(p.y())); });
}

void TPaintBox::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton)
    runEventHandler([&] { FFrame->EditSelection(); });
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* e) {
  // A release anywhere, also away from the preview, ends the gesture.
  const QPointF p = e->position();
  runEventHandler([&] {
    FFrame->pbPreviewMouseUp(e->button(), ShiftStateOf(e->buttons(), e->modifiers()), float(p.x()), float(p.y()));
  });
}

// ---------------------------------------------------------------------------------------------
// TRatioFrame

const QString TRatioFrame::OpenDialogFilter = QStringLiteral(
    "All (*.gif;*.jpg;*.jpeg;*.png;*.bmp;*.tif;*.tiff;*.ico;*.hdp)|*.gif;*.jpg;*.jpeg;*.png;*.bmp;*.tif;*.tiff;*.ico;"
    "*.hdp|GIF Image (*.gif)|*.gif|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|"
    "Portable Network Graphics (*.png)|*.png|Bitmaps (*.bmp)|*.bmp|TIFF Images (*.tif)|*.tif|"
    "TIFF Images (*.tiff)|*.tiff|Icons (*.ico)|*.ico|HD Photo (*.hdp)|*.hdp");

int TRatioFrame::FrameCounter = 0;

const QString TRatioFrame::FilenameToolTip = QStringLiteral(
    "The picture for this ratio: type its path, pick one used before, or drop a picture file on the frame");


TRatioFrame::TRatioFrame(QWidget* AOwner, int aWidth, int aHeight, bool aRestore, TSettingsStore& aSettings)
    : TRatioFrame(AOwner, TRatioGroup(aWidth, aHeight), aRestore, aSettings) {}

TRatioFrame::TRatioFrame(QWidget* AOwner, const TRatioGroup& aGroup, bool aRestore, TSettingsStore& aSettings)
    : QFrame(AOwner), FSettings(aSettings), FGroup(aGroup) {
  buildControls();
  if (!FGroup.DarkKey().isEmpty())
    buildDarkRow();
  setObjectName(QStringLiteral("RatioFrame") + QString::number(FrameCounter));
  ++FrameCounter;
  if (const TSizeInfos* group = groupOfRatio(FGroup.RatioWidth(), FGroup.RatioHeight())) {
    FAppIcons = holdsiOSAppIcons(*group);
    for (const TSizeInfo& e : *group)
      FOutputs.append(QSize(e.Width, e.Height));
  }
  UpdateRatio();
  if (!aRestore) {
    // Nothing from the settings file: no picture and the default selection, not written.
    FGroup.SelectRect = FGroup.DefaultSelection();
    updateWarnings();
    FReported = State();
    return;
  }
  try {
    restoreFromSettings();
  } catch (...) {
    // The frame is not created: its children go with the QFrame base, which also takes it out of
    // its parent. Their signals must not reach the members being destroyed.
    disconnectControls();
    throw;
  }
}

void TRatioFrame::restoreFromSettings() {
  // The stored picture and selection, by the rules a run without a window restores them with.
  restoreGroup(FGroup, FSettings);
  OpenDialog1.FileName = FGroup.Filename;
  showName(Filename());
  if (edDark)
    edDark->setText(FGroup.DarkFilename);
  imPreview->update();
  updateWarnings();
  FReported = State();
}

TRatioFrame::~TRatioFrame() { disconnectControls(); }

void TRatioFrame::buildControls() {
  resize(kDesignWidth, kDesignHeight);
  setFixedHeight(kDesignHeight);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));

  ceFilename = new TFilenameCombo(GroupBox1);
  ceFilename->setObjectName(QStringLiteral("ceFilename"));
  ceFilename->setEditable(true);
  // The list is the owner's history: Enter must not add to it.
  ceFilename->setInsertPolicy(QComboBox::NoInsert);
  // Completion and list matching as the file system spells names: a typed name is never swapped
  // for a history entry that differs only in letter case.
  if (QCompleter* completer = ceFilename->completer())
    completer->setCaseSensitivity(Qt::CaseSensitive);

  ceFilename->setToolTip(FilenameToolTip);

  Button1 = new QPushButton(QStringLiteral("Browse..."), GroupBox1);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setToolTip(QStringLiteral("Choose the picture for this ratio"));

  sbSelectAll = new QToolButton(GroupBox1);
  sbSelectAll->setObjectName(QStringLiteral("sbSelectAll"));
  sbSelectAll->setToolButtonStyle(Qt::ToolButtonIconOnly);
  sbSelectAll->setIcon(selectAllGlyph());
  sbSelectAll->setAutoRaise(true);
  sbSelectAll->setToolTip(
      QStringLiteral("Select all: the largest part of the picture in this ratio, centred"));

  Label2 = new QLabel(GroupBox1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setWordWrap(true);
  Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  imPreview = new TImagePreview(GroupBox1, FGroup);
  imPreview->setObjectName(QStringLiteral("imPreview"));
  imPreview->SetPreviewSize(129, kPreviewHeight);

  pbPreview = new TPaintBox(this, imPreview);
  pbPreview->setObjectName(QStringLiteral("pbPreview"));
  pbPreview->setToolTip(QStringLiteral("Drag to select the part of the picture to use (Ctrl+drag moves it, Escape "
                                       "cancels the drag, arrow keys move it); double-click to edit it large"));

  btnPreview = new QPushButton(QStringLiteral("Preview..."), GroupBox1);
  btnPreview->setObjectName(QStringLiteral("btnPreview"));
  btnPreview->setToolTip(QStringLiteral("Show every file this ratio makes, as a run would make it now"));

  btnEdit = new QPushButton(QStringLiteral("Edit..."), GroupBox1);
  btnEdit->setObjectName(QStringLiteral("btnEdit"));
  btnEdit->setToolTip(QStringLiteral("Edit the selection in a large window, with zoom and handles (or double-click "
                                     "the preview)"));

  lbTransparency = new QLabel(TransparencyWarning, GroupBox1);
  lbTransparency->setObjectName(QStringLiteral("lbTransparency"));
  lbTransparency->setWordWrap(true);
  lbTransparency->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lbTransparency->setStyleSheet(QStringLiteral("color: #b00020;"));
  lbTransparency->hide();

  lbEnlarged = new QLabel(GroupBox1);
  lbEnlarged->setObjectName(QStringLiteral("lbEnlarged"));
  lbEnlarged->setWordWrap(true);
  lbEnlarged->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lbEnlarged->setStyleSheet(QStringLiteral("color: #8a4b00;"));
  lbEnlarged->hide();

  lbPlainSquare = new QLabel(NotificationPlainSquareMessage, GroupBox1);
  lbPlainSquare->setObjectName(QStringLiteral("lbPlainSquare"));
  lbPlainSquare->setWordWrap(true);
  lbPlainSquare->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lbPlainSquare->setStyleSheet(QStringLiteral("color: #8a4b00;"));
  lbPlainSquare->hide();

  // Picture files can be dropped on the frame; the file-name field leaves drops to it.
  setAcceptDrops(true);
  ceFilename->lineEdit()->setAcceptDrops(false);

  // Reached with Tab; Enter works as a click, as on the window's other buttons.
  sbSelectAll->setFocusPolicy(Qt::StrongFocus);
  sbSelectAll->setAccessibleName(QStringLiteral("Select all"));
  for (QAbstractButton* button : {static_cast<QAbstractButton*>(Button1), static_cast<QAbstractButton*>(btnPreview),
                                  static_cast<QAbstractButton*>(btnEdit), static_cast<QAbstractButton*>(sbSelectAll)})
    button->installEventFilter(this);
  // Tab follows the layout: the name, Browse..., Preview..., Edit..., select-all, then the preview.
  setTabOrder(ceFilename, Button1);
  setTabOrder(Button1, btnPreview);
  setTabOrder(btnPreview, btnEdit);
  setTabOrder(btnEdit, sbSelectAll);
  setTabOrder(sbSelectAll, pbPreview);

  OpenDialog1.Filter = OpenDialogFilter;
  OpenDialog1.FilterIndex = 1;
  OpenDialog1.FileMustExist = true;
  OpenDialog1.EnableSizing = true;
  OpenDialog1.PathMustExist = false;
  OpenDialog1.HideReadOnly = false;

  // Errors of the handlers are shown at the signal's boundary (runEventHandler).
  connect(Button1, &QPushButton::clicked, this, [this] { runEventHandler([this] { Button1Click(); }); });
  connect(sbSelectAll, &QToolButton::clicked, this, [this] { runEventHandler([this] { sbSelectAllClick(); }); });
  connect(btnPreview, &QPushButton::clicked, this, [this] {
    runEventHandler([this] {
      if (OnPreview)
        OnPreview(this);
    });
  });
  connect(btnEdit, &QPushButton::clicked, this, [this] { runEventHandler([this] { EditSelection(); }); });
  connect(ceFilename->lineEdit(), &QLineEdit::editingFinished, this,
          [this] { runEventHandler([this] { commitComboText(); }); });
  connect(ceFilename, &QComboBox::textActivated, this, [this](const QString& text) {
    runEventHandler([this, text] {
      if (ceFilename->currentText() != text)
        ceFilename->setEditText(text);
      commitComboText();
    });
  });
  connect(ceFilename->model(), &QAbstractItemModel::rowsAboutToBeInserted, this,
          [this] { comboRowsAboutToBeInserted(); });
  connect(ceFilename->model(), &QAbstractItemModel::rowsInserted, this, [this] { comboRowsInserted(); });

  layoutControls();
}

void TRatioFrame::buildDarkRow() {
  lbDark = new QLabel(QStringLiteral("Dark mode:"), GroupBox1);
  lbDark->setObjectName(QStringLiteral("lbDark"));
  edDark = new QLineEdit(GroupBox1);
  edDark->setObjectName(QStringLiteral("edDark"));
  edDark->setPlaceholderText(QStringLiteral("optional picture for dark mode"));
  edDark->setToolTip(QStringLiteral("A second picture for dark mode, cut with the same selection; no dark files "
                                    "are written without one"));
  lbDark->setBuddy(edDark);
  btnDarkBrowse = new QPushButton(QStringLiteral("Browse..."), GroupBox1);
  btnDarkBrowse->setObjectName(QStringLiteral("btnDarkBrowse"));
  btnDarkBrowse->setAccessibleName(QStringLiteral("Browse for the dark mode picture"));
  btnDarkBrowse->setToolTip(QStringLiteral("Choose the picture for dark mode"));
  // In the order of the layout: the dark picture's row before the select-all button and the preview.
  setTabOrder(btnEdit, edDark);
  setTabOrder(edDark, btnDarkBrowse);
  setTabOrder(btnDarkBrowse, sbSelectAll);
  btnDarkBrowse->installEventFilter(this);
  connect(btnDarkBrowse, &QPushButton::clicked, this, [this] { runEventHandler([this] { DarkBrowseClick(); }); });
  connect(edDark, &QLineEdit::editingFinished, this, [this] {
    runEventHandler([this] {
      if (edDark->text() != FGroup.DarkFilename)
        SetDarkFilename(FSettings.ResolvedPath(edDark->text()));
    });
  });
  layoutControls();
}

void TRatioFrame::disconnectControls() {
  if (!ceFilename)
    return;
  if (edDark) {
    disconnect(edDark, nullptr, this, nullptr);
    disconnect(btnDarkBrowse, nullptr, this, nullptr);
  }
  disconnect(Button1, nullptr, this, nullptr);
  disconnect(sbSelectAll, nullptr, this, nullptr);
  disconnect(btnPreview, nullptr, this, nullptr);
  disconnect(btnEdit, nullptr, this, nullptr);
  disconnect(ceFilename->lineEdit(), nullptr, this, nullptr);
  disconnect(ceFilename, nullptr, this, nullptr);
  disconnect(ceFilename->model(), nullptr, this, nullptr);
}

void TRatioFrame::resizeEvent(QResizeEvent* e) {
  QFrame::resizeEvent(e);
  layoutControls();
}

// The layout of the design (505 x 160) with its anchors: the group box fills the frame; the file
// name stretches with the frame; the select-all button and the preview keep their distance to the
// right edge. The preview's width follows the ratio, so the controls on its left keep their gap to
// it when it is wider than designed.
void TRatioFrame::layoutControls() {
  if (!GroupBox1)
    return;
  const int previewWidth = imPreview->width();
  // Wide enough that nothing overlaps or is hidden: the buttons' row or the hint, whichever is wider,
  // plus the gap, the preview and its margin. Set first: a frame narrower than that grows to it
  // before its controls are placed.
  const int leftControls = std::max(16 + 80 + 4 + 80 + 4 + 33, kLabelLeft + kLabelWidth);
  setMinimumWidth(std::max(kDesignWidth, leftControls + kPreviewGap + previewWidth + kPreviewRightMargin));
  const int w = width();
  GroupBox1->setGeometry(0, 0, w, height());
  const int previewLeft = w - kPreviewRightMargin - previewWidth;
  const int rightEdge = std::min(w - kRightControlsMargin, previewLeft - kPreviewGap);
  ceFilename->setGeometry(16, 24, std::max(80, rightEdge - 16), 22);
  Button1->setGeometry(16, 48, 80, 22);
  btnPreview->setGeometry(16 + 80 + 4, 48, 80, 22);
  sbSelectAll->setGeometry(std::max(16 + 80 + 4 + 80 + 4, rightEdge - 33), 48, 33, 22);
  // "Edit..." under "Preview...", the hint under them.
  btnEdit->setGeometry(16 + 80 + 4, 72, 80, 22);
  // The dark-mode picture's row, in a frame that has one, pushes the hint and the warnings down.
  const int darkRow = edDark ? 26 : 0;
  if (edDark) {
    lbDark->setGeometry(16, 98 + 3, 70, 17);
    edDark->setGeometry(16 + 72, 98, std::max(60, rightEdge - (16 + 72) - 84), 22);
    btnDarkBrowse->setGeometry(rightEdge - 80, 98, 80, 22);
  }
  Label2->setGeometry(kLabelLeft, 98 + darkRow, kLabelWidth, 57);
  // The warnings stack under the hint; the frame grows to show them whole.
  const int warningWidth = std::max(kLabelWidth, rightEdge - kLabelLeft);
  int y = 132 + darkRow;
  for (QLabel* warning : {lbTransparency, lbEnlarged, lbPlainSquare}) {
    if (warning->isHidden())
      continue;
    const int h = std::max(warning->heightForWidth(warningWidth), warning->sizeHint().height());
    warning->setGeometry(kLabelLeft, y, warningWidth, h);
    y += h + 2;
  }
  imPreview->move(previewLeft, kPreviewTop);
  pbPreview->setGeometry(0, 0, imPreview->width(), imPreview->height());
  const int needed = std::max(kDesignHeight + darkRow, y + 8);
  if (minimumHeight() != needed || maximumHeight() != needed)
    setFixedHeight(needed);
}

// ---------------------------------------------------------------------------------------------
// Properties

QString TRatioFrame::Caption() const { return GroupBox1->title(); }

void TRatioFrame::SetCaption(const QString& Value) { GroupBox1->setTitle(Value); }

QString TRatioFrame::Filename() const { return FGroup.Filename; }

void TRatioFrame::SetFilename(const QString& Value) {
  reporting([&] { changeFilename(Value); });
}

void TRatioFrame::changeFilename(const QString& Value, bool storeName) {
  // The combo says nothing while the picture changes: what it would report (focus leaving the
  // field for a message, an owner's OnChange handler touching it) cannot start a change inside
  // this one.
  const QSignalBlocker quietCombo(ceFilename);
  const QSignalBlocker quietEdit(ceFilename->lineEdit());
  try {
    // Decoding a large picture takes seconds: the busy cursor shows meanwhile.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    loadGroupPicture(FGroup, Value);
  } catch (...) {
    // Nothing changed: the box shows again the name of the picture in use.
    showName(FShownName);
    throw;
  }
  OpenDialog1.FileName = Value;  // where the file dialog starts
  UpdateImage(storeName);
}

float TRatioFrame::Ratio() const { return FGroup.Ratio(); }

void TRatioFrame::SetRatioWidth(int Value) {
  if (Value == FGroup.RatioWidth())
    return;
  FGroup.SetRatio(Value, FGroup.RatioHeight());
  UpdateRatio();
}

void TRatioFrame::SetRatioHeight(int Value) {
  if (Value == FGroup.RatioHeight())
    return;
  FGroup.SetRatio(FGroup.RatioWidth(), Value);
  UpdateRatio();
}

void TRatioFrame::SetSelectRect(const TRectF& Value) {
  reporting([&] { changeSelectRect(Value); });
}

void TRatioFrame::changeSelectRect(const TRectF& Value) {
  FGroup.SelectRect = Value;
  updateWarnings();
  SaveSelectRect();
}

QString TRatioFrame::SizeStr() const {
  return FGroup.SizeKey();
}

QString TRatioFrame::GetSetting(const QString& AName) const { return FSettings.ImageSetting(AName); }

void TRatioFrame::SetSetting(const QString& AName, const QString& Value) {
  FSettings.SetImageSetting(AName, Value);
}

TRectF TRatioFrame::GetSettingRect(const QString& AName) const {
  if (const std::optional<TRectF> stored = FSettings.SelectionSetting(AName))
    return *stored;
  return FGroup.DefaultSelection();
}

void TRatioFrame::SetSettingRect(const QString& AName, const TRectF& Value) {
  FSettings.SetSelectionSetting(AName, Value);
}

void TRatioFrame::ShowUnloadedFilename(const QString& aFilename, const QString& aReason) {
  const QSignalBlocker blocker(ceFilename);
  showName(aFilename);
  ceFilename->setToolTip(aReason);
}

bool TRatioFrame::showName(const QString& aName) {
  FShownName = aName;
  // The text counts as notified: leaving the field does not try the name again; Browse, the list
  // or an edit does.
  FNotifiedText = aName;
  if (ceFilename->currentText() == aName)
    return false;
  ceFilename->setEditText(aName);
  return true;
}

TRectF TRatioFrame::ImageRect() const {
  return imageRect(FGroup.Picture.Width(), FGroup.Picture.Height(), 1.0f, imPreview->PreviewWidth,
                   imPreview->PreviewHeight);
}

TRectF TRatioFrame::ZoomRect() const { return normalizedSelection(FGroup.SelectRect, ImageRect()); }

const TKeptPicture& TRatioFrame::Picture() const { return FGroup.Picture; }

// ---------------------------------------------------------------------------------------------
// Private operations

void TRatioFrame::UpdateRatio() {
  const float height = imPreview->PreviewHeight;
  imPreview->SetPreviewSize(static_cast<float>(double(Ratio()) * double(height)), height);
  layoutControls();
  SetCaption(FGroup.Caption());
  updateHint();
}

void TRatioFrame::updateHint() {
  if (FFollowed && Filename().isEmpty()) {
    Label2->setText(QStringLiteral("No picture of its own: its files are made from the %1 frame's picture and "
                                   "selection.")
                        .arg(FFollowed->Caption()));
    return;
  }
  // A group of the catalogue's own words (launch screen, notification) is as large as its largest
  // file; the classic groups are named by it.
  QSize size(FGroup.RatioWidth(), FGroup.RatioHeight());
  if (!FGroup.Label().isEmpty())
    for (const QSize& output : FOutputs)
      if (output.width() > size.width())
        size = output;
  Label2->setText(QStringLiteral("Select images that are ") + QString::number(size.width()) + QLatin1Char('x') +
                  QString::number(size.height()) + QStringLiteral(" size or larger for best results"));
}

void TRatioFrame::UpdateImage(bool storeName) {
  // The box shows the name in use; a name it did not show yet is stored, as is one the user
  // committed.
  if (showName(Filename()) || storeName)
    storeGroupPictureName(Group(), FSettings);
  ceFilename->setToolTip(FilenameToolTip);
  imPreview->update();
  updateHint();
  updateWarnings();
  if (!Filename().isEmpty()) {
    selectAll();
    if (OnChange)
      OnChange(this);
  }
}

void TRatioFrame::SaveSelectRect() { SetSettingRect(SizeStr(), FGroup.SelectRect); }

void TRatioFrame::noteChange() {
  const TFrameState now = State();
  if (now == FReported)
    return;
  const TFrameState before = FReported;
  FReported = now;
  if (OnStateChange)
    OnStateChange(this, before, now);
}

// The public actions report once, when they are done; the steps they are made of (and ApplyState,
// which must not report) never do. A step that fails after it changed something still reports
// what changed before the error goes on.
template <typename Step>
void TRatioFrame::reporting(Step&& step) {
  try {
    step();
  } catch (...) {
    noteChange();
    throw;
  }
  noteChange();
}

void TRatioFrame::ApplyState(const TFrameState& aState) {
  if (aState.Filename != Filename())
    changeFilename(aState.Filename);
  changeSelectRect(aState.SelectRect);
  if (edDark && aState.DarkFilename != DarkFilename())
    changeDarkFilename(aState.DarkFilename);
  FReported = State();
}

void TRatioFrame::SetDarkFilename(const QString& Value) {
  reporting([&] { changeDarkFilename(Value); });
}

void TRatioFrame::changeDarkFilename(const QString& Value) {
  if (!edDark)
    return;
  const QSignalBlocker quietEdit(edDark);
  try {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    loadGroupDarkPicture(FGroup, Value);
  } catch (...) {
    // Nothing changed: the field shows again the name of the dark picture in use.
    edDark->setText(FGroup.DarkFilename);
    throw;
  }
  edDark->setText(FGroup.DarkFilename);
  storeGroupDarkPictureName(FGroup, FSettings);
}

void TRatioFrame::DarkBrowseClick() {
  TOpenDialogOptions options = OpenDialog1;
  QString fileName = DarkFilename();
  options.FileName = fileName.isEmpty() ? Filename() : fileName;
  if (Dialogs().OpenFileDialog(options, fileName))
    SetDarkFilename(fileName);
}

void TRatioFrame::SetFollowed(const TRatioFrame* aFollowed, bool aAlphaOnly) {
  FFollowed = aFollowed;
  FAlphaOnly = aAlphaOnly;
  updateHint();
  updateWarnings();
}

TRatioGroup TRatioFrame::SourceGroup() const {
  return FFollowed ? followingGroup(FGroup, FFollowed->Group()) : FGroup;
}

void TRatioFrame::updateWarnings() {
  // A following frame without a picture of its own warns of the picture its files are made from.
  const TGroupWarnings warnings = groupWarnings(SourceGroup(), FOutputs, FAppIcons && FIOSChecked, FAlphaOnly);
  pbPreview->setAccessibleDescription(selectionDescription());
  bool changed = false;
  for (auto [label, shown] : {std::pair{lbTransparency, warnings.Transparency}, std::pair{lbPlainSquare, warnings.PlainSquare}})
    if (shown == label->isHidden()) {
      label->setVisible(shown);
      changed = true;
    }
  if (warnings.Enlarged != lbEnlarged->text() || warnings.Enlarged.isEmpty() != lbEnlarged->isHidden()) {
    lbEnlarged->setText(warnings.Enlarged);
    lbEnlarged->setVisible(!warnings.Enlarged.isEmpty());
    changed = true;
  }
  if (changed)
    layoutControls();
}

QString TRatioFrame::selectionDescription() const {
  if (Picture().IsEmpty() || FGroup.SelectRect.IsEmpty())
    return QStringLiteral("No selection. Arrow keys move the selection; with Shift by ten");
  const TPictureRect r = FGroup.PictureSelection();
  return QStringLiteral("Selection: x %1, y %2, %3 x %4 pixels of the picture. Arrow keys move the selection; "
                        "with Shift by ten")
      .arg(qRound(r.Left))
      .arg(qRound(r.Top))
      .arg(qRound(r.Width()))
      .arg(qRound(r.Height()));
}

void TRatioFrame::SetOutputs(const QList<QSize>& aSizes, bool aIOS) {
  FOutputs = aSizes;
  FIOSChecked = aIOS;
  updateHint();
  updateWarnings();
}

// ---------------------------------------------------------------------------------------------
// The combo edit's notifications

void TRatioFrame::commitComboText() {
  const QString text = ceFilename->currentText();
  if (text == FNotifiedText)
    return;
  // Noted before the handler runs, so that a failed name (reported once) is not reported again
  // when the field loses focus to the error message.
  FNotifiedText = text;
  ceFilenameChange();
}

void TRatioFrame::comboRowsAboutToBeInserted() { FTextBeforeInsert = ceFilename->currentText(); }

void TRatioFrame::comboRowsInserted() {
  // Qt makes the first entry added to an empty list the current one and shows its text.
  if (ceFilename->currentText() == FTextBeforeInsert)
    return;
  const QSignalBlocker blocker(ceFilename);
  ceFilename->setCurrentIndex(-1);
  ceFilename->setEditText(FTextBeforeInsert);
}

// ---------------------------------------------------------------------------------------------
// Event handlers

void TRatioFrame::Button1Click() {
  QString fileName = Filename();
  if (Dialogs().OpenFileDialog(OpenDialog1, fileName))
    SetFilename(fileName);
}

void TRatioFrame::dragEnterEvent(QDragEnterEvent* e) { e->acceptProposedAction(); }

void TRatioFrame::dropEvent(QDropEvent* e) {
  e->acceptProposedAction();
  runEventHandler([&] { DropMimeData(e->mimeData()); });
}

void TRatioFrame::DropMimeData(const QMimeData* Data) {
  const QList<QUrl> urls = Data ? Data->urls() : QList<QUrl>();
  if (urls.size() != 1 || !urls.constFirst().isLocalFile())
    throw Exception(
        QStringLiteral("Drop one picture file (GIF, JPEG, PNG, BMP, TIFF, ICO or HD Photo) on a frame to use it"));
  const QString path = QDir::toNativeSeparators(urls.constFirst().toLocalFile());
  // The names the decoder accepts, as the file dialog's filter offers them.
  if (!hasPictureExtension(path))
    throw Exception(QStringLiteral("Not a picture file (GIF, JPEG, PNG, BMP, TIFF, ICO or HD Photo): ") + path);
  SetFilename(path);
}

void TRatioFrame::ceFilenameChange() {
  reporting([&] { takeComboText(); });
}

void TRatioFrame::takeComboText() {
  // A relative name, typed or stored, names a file beside the settings file; the frame holds and
  // shows the full path. An emptied box leaves the frame without a picture.
  changeFilename(FSettings.ResolvedPath(ceFilename->currentText()), true);
}

void TRatioFrame::sbSelectAllClick() {
  reporting([&] { selectAll(); });
}

void TRatioFrame::selectAll() {
  FGroup.SelectRect = FGroup.DefaultSelection();
  updateWarnings();
  pbPreview->update();
  // What the user sees is what a restart brings back.
  SaveSelectRect();
}

TSelectionEditor* TRatioFrame::EditSelection() {
  if (Picture().IsEmpty())
    return nullptr;
  auto* editor = new TSelectionEditor(this, FGroup, largestOutput(FOutputs));
  editor->setAttribute(Qt::WA_DeleteOnClose);
  editor->setWindowModality(Qt::WindowModal);
  connect(editor, &QDialog::accepted, this, [this, editor] {
    runEventHandler([&] {
      // An editor closed with OK but nothing changed leaves the stored selection as it was written.
      if (!editor->Changed())
        return;
      SetSelectRect(FGroup.PreviewSelectionOf(editor->Selection()));
      pbPreview->update();
    });
  });
  editor->show();
  return editor;
}

TSelectionGesture::TFrame TRatioFrame::gestureFrame() const {
  return {ImageRect(), Ratio(), QApplication::startDragDistance()};
}

namespace {
TMouseButton mouseButtonOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton: return TMouseButton::Left;
    case Qt::RightButton: return TMouseButton::Right;
    case Qt::MiddleButton: return TMouseButton::Middle;
    default: return TMouseButton::Other;
  }
}
}  // namespace

// The gesture rules decide; the frame repaints and, when a gesture ends with a selection to keep,
// stores it (after the gesture has ended, so that a failed write is reported once, not at every
// move).
void TRatioFrame::showGestureOutcome(TSelectionGesture::TOutcome outcome) {
  if (outcome == TSelectionGesture::Ignored)
    return;
  updateWarnings();
  pbPreview->update();
  if (outcome == TSelectionGesture::Store)
    reporting([&] { SaveSelectRect(); });
}

void TRatioFrame::pbPreviewMouseDown(Qt::MouseButton Button, TShiftState Shift, float X, float Y) {
  FGesture.Press(mouseButtonOf(Button), Shift, {X, Y}, FGroup.SelectRect, gestureFrame());
}

void TRatioFrame::pbPreviewMouseMove(TShiftState Shift, float X, float Y) {
  showGestureOutcome(FGesture.Move(Shift, {X, Y}, FGroup.SelectRect, gestureFrame()));
}

void TRatioFrame::pbPreviewMouseUp(Qt::MouseButton Button, TShiftState, float X, float Y) {
  showGestureOutcome(FGesture.Release(mouseButtonOf(Button), {X, Y}, FGroup.SelectRect, gestureFrame()));
}

bool TRatioFrame::pbPreviewKeyDown(int Key, TShiftState Shift) {
  TSelectionGesture::TOutcome outcome = TSelectionGesture::Ignored;
  if (Key == Qt::Key_Escape) {
    // Cancels the gesture in progress; without one, Escape is left to the window.
    outcome = FGesture.Cancel(FGroup.SelectRect);
    showGestureOutcome(outcome);
    return outcome != TSelectionGesture::Ignored;
  }
  const bool taken = FGesture.Key(Key, Shift, FGroup.SelectRect, gestureFrame(), outcome);
  showGestureOutcome(outcome);
  return taken;
}

bool TRatioFrame::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
      if (auto* button = qobject_cast<QAbstractButton*>(watched)) {
        button->click();
        return true;
      }
  }
  return QFrame::eventFilter(watched, e);
}

void TRatioFrame::pbPreviewPaint(QPainter& Canvas) {
  // Without a picture there is nothing to outline, nor a selection of it.
  if (Picture().IsEmpty())
    return;
  Canvas.setRenderHint(QPainter::Antialiasing, false);
  Canvas.setOpacity(1.0);
  Canvas.setBrush(Qt::NoBrush);
  Canvas.setPen(QPen(QColor(0, 0, 0, 255), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  drawOutline(Canvas, ImageRect());
  // The dashed selection has a stroke of its own; the canvas keeps its black one.
  const QPen canvasPen = Canvas.pen();
  Canvas.setPen(QPen(QColor(255, 0, 0, 255), 1, Qt::DashLine, Qt::SquareCap, Qt::MiterJoin));
  drawOutline(Canvas, FGroup.SelectRect);
  Canvas.setPen(canvasPen);
}
