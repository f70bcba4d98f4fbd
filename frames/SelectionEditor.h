#pragma once

#include "model/RatioGroup.h"
#include "model/SelectionEdit.h"

#include <QAbstractScrollArea>
#include <QDialog>
#include <QImage>
#include <QList>
#include <QSize>

class QCheckBox;
class QDialogButtonBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

// The selection editor's view of the picture: zoomed (fit, 100 %, in and out around the cursor) and
// panned (scroll bars, the wheel, Space + left drag, middle drag), with the ratio-locked selection,
// its eight handles and the area outside it dimmed. A press on a handle resizes the selection, one
// inside it moves it, one elsewhere draws a new one (after the drag distance); Escape puts back the
// selection from before the gesture in progress. Arrow keys move it by one picture pixel (Shift:
// ten), Alt + arrows resize it (right and down larger, left and up smaller).
class TEditorCanvas : public QAbstractScrollArea {
  Q_OBJECT
public:
  TEditorCanvas(QWidget* parent, const QImage& picture, double ratio);

  TPictureRect Selection() const { return FSelection; }
  void SetSelection(const TPictureRect& selection);
  double Scale() const { return FScale; }
  bool Fitted() const { return FFitted; }
  // Zooms to the scale keeping the picture point under `about` (viewport pixels) where it is.
  void ZoomAbout(double scale, QPointF about);
  // The zoom buttons' and keys' actions: around the mouse while it is over the view, else around
  // the view's centre.
  void ZoomIn();
  void ZoomOut();
  void ZoomActual();
  void ZoomToFit();
  // Outlines of the shapes the platforms cut icons to (a rounded square and a circle) over the
  // selection.
  void SetShowMasks(bool show);
  // Viewport pixels from picture pixels and back.
  QPointF ToView(double x, double y) const;
  QPointF ToPicture(QPointF viewPoint) const;

signals:
  void SelectionChanged();
  void ScaleChanged();

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void keyReleaseEvent(QKeyEvent*) override;
  void focusOutEvent(QFocusEvent*) override;

private:
  enum class TDrag { None, Resize, Move, Draw, Pan };
  TPictureSize pictureSize() const { return {FPicture.width(), FPicture.height()}; }
  // Where the picture starts in the viewport when it is smaller than it (centred), else 0.
  QPointF centringOffset() const;
  void updateScrollBars();
  QPointF zoomCentre() const;
  void setScale(double scale);
  // The steps of a drag: its start, a move, its end and its cancellation.
  void startDrag(QMouseEvent* e);
  void followDrag(QPointF viewPoint);
  void endDrag();
  void cancelDrag();
  void updateCursor(QPointF viewPoint);
  bool arrowKey(QKeyEvent* e);
  void paintPicture(QPainter& p, const QRectF& target);
  void paintSelection(QPainter& p, const QRectF& picture, const QRectF& selection);
  void paintMasks(QPainter& p, const QRectF& selection);

  QImage FPicture;
  double FRatio;
  TPictureRect FSelection;
  double FScale = 1;
  bool FFitted = true;
  bool FShowMasks = false;
  // The picture scaled for a zoom below 100 %, remade when the scale changes.
  QImage FScaled;
  double FScaledScale = 0;
  // The gesture in progress: its kind, the handle it holds, where it started (viewport and picture
  // pixels), the selection before it, the scroll position at its start, and whether a draw has
  // gone beyond the drag distance.
  TDrag FDrag = TDrag::None;
  THandle FHandle = THandle::None;
  QPointF FPressView;
  QPointF FPressPicture;
  TPictureRect FBeforeDrag;
  QPoint FScrollAtPress;
  bool FDrawing = false;
  bool FSpaceHeld = false;
};

// The selection editor of a ratio group: its picture large, the view's zoom buttons, the fields for
// X, Y and width in picture pixels (the height follows the ratio), the line giving the selection's
// size against the largest output, and OK and Cancel. It changes nothing itself: the owner takes
// Selection() when it is accepted.
class TSelectionEditor : public QDialog {
  Q_OBJECT
public:
  // The group's picture and selection; largestOutput is the largest file made from it (empty when
  // none is).
  TSelectionEditor(QWidget* parent, const TRatioGroup& group, QSize largestOutput);

  TPictureRect Selection() const { return Canvas->Selection(); }
  // Whether the selection differs from the one the editor opened with.
  bool Changed() const { return !(Selection() == FInitial); }

  // The line under the view: the selection's size in picture pixels and the largest output's (left
  // out when the group makes no file).
  static QString SizeLine(int selectedWidth, int selectedHeight, QSize largestOutput);

  TEditorCanvas* Canvas = nullptr;
  QDoubleSpinBox* edX = nullptr;
  QDoubleSpinBox* edY = nullptr;
  QDoubleSpinBox* edWidth = nullptr;
  QLabel* lbSize = nullptr;
  QPushButton* btnSelectAll = nullptr;
  QPushButton* btnFit = nullptr;
  QPushButton* btnActual = nullptr;
  QPushButton* btnZoomIn = nullptr;
  QPushButton* btnZoomOut = nullptr;
  QCheckBox* cbMasks = nullptr;  // only for the 1:1 group
  QDialogButtonBox* Buttons = nullptr;

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  QLayout* buildToolRow(bool square);
  QLayout* buildFieldRow();
  void connectControls();
  void placeOnScreen();
  // The fields and the size line follow the selection; a field's new value places it.
  void showSelection();
  void takeField(QDoubleSpinBox* field);

  TPictureSize FPicture;
  double FRatio;
  QSize FLargestOutput;
  TPictureRect FInitial;
};
