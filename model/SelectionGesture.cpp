#include "model/SelectionGesture.h"

#include "model/SelectionGeometry.h"

#include <QtCore/qnamespace.h>

#include <cmath>

TSelectionGesture::TOutcome TSelectionGesture::Press(TMouseButton button, TShiftState shift, TPointF p,
                                                     const TRectF& selection, const TFrame& frame) {
  // Only the left button draws or moves: a stray click of another button leaves the work alone.
  if (button != TMouseButton::Left)
    return Ignored;
  FStartPoint = clampPoint(p, frame.ImageRect);
  FPressPoint = p;
  FBeforeGesture = selection;
  FClickOnly = true;
  FGestureEnded = false;
  FMode = (shift & ssCtrl) ? mDrag : mDraw;
  return Changed;
}

bool TSelectionGesture::withinClickDistance(TPointF p, const TFrame& frame) const {
  const double moved = std::abs(double(p.X) - FPressPoint.X) + std::abs(double(p.Y) - FPressPoint.Y);
  return moved <= frame.DragDistance;
}

bool TSelectionGesture::finish(TRectF& selection) {
  // A draw that ends empty (pressed on the picture's edge and dragged outward, or brought back to
  // its start) gives way to the selection it would have replaced; so does a click.
  if (FClickOnly || (FMode == mDraw && selection.IsEmpty())) {
    selection = FBeforeGesture;
    return false;
  }
  return true;
}

TSelectionGesture::TOutcome TSelectionGesture::Move(TShiftState shift, TPointF p, TRectF& selection,
                                                    const TFrame& frame) {
  // A gesture that ends here (its button or Ctrl let go without a release seen) stores the
  // selection as it stands, as a release would: what is shown is what is stored.
  bool store = false;
  switch (FMode) {
    case mDraw:
      if (shift & ssLeft) {
        if (FClickOnly && withinClickDistance(p, frame))
          return Ignored;
        FClickOnly = false;
        FEndPoint = clampPoint(endCorner(FStartPoint, p, frame.Ratio, frame.ImageRect), frame.ImageRect);
        selection = rectFromCorners(FStartPoint, FEndPoint);
      } else {
        store = finish(selection);
        FMode = mNone;
      }
      break;
    case mDrag:
      if ((shift & ssLeft) && (shift & ssCtrl)) {
        if (FClickOnly && withinClickDistance(p, frame))
          return Ignored;
        FClickOnly = false;
        selection = pushInside(offsetRect(selection, double(p.X) - FStartPoint.X, double(p.Y) - FStartPoint.Y),
                               frame.ImageRect);
        FStartPoint = clampPoint(p, frame.ImageRect);
      } else {
        // Ctrl let go ends the move where it stands; the button still held starts nothing new.
        store = finish(selection);
        FGestureEnded = (shift & ssLeft) != 0;
        FMode = mNone;
      }
      break;
    case mNone:
      if ((shift & ssLeft) && !FGestureEnded)
        Press(TMouseButton::Left, shift, p, selection, frame);
      break;
  }
  return store ? Store : Changed;
}

TSelectionGesture::TOutcome TSelectionGesture::Release(TMouseButton button, TPointF p, TRectF& selection,
                                                       const TFrame& frame) {
  // The release of another button neither ends a gesture of the left one nor changes anything.
  if (button != TMouseButton::Left)
    return Ignored;
  FGestureEnded = false;
  if (FClickOnly && !withinClickDistance(p, frame))
    FClickOnly = false;
  bool store = false;
  switch (FMode) {
    case mDraw:
      if (!FClickOnly) {
        FEndPoint = clampPoint(endCorner(FStartPoint, p, frame.Ratio, frame.ImageRect), frame.ImageRect);
        selection = rectFromCorners(FStartPoint, FEndPoint);
      }
      store = finish(selection);
      break;
    case mDrag:
      if (!FClickOnly)
        selection = pushInside(offsetRect(selection, double(p.X) - FStartPoint.X, double(p.Y) - FStartPoint.Y),
                               frame.ImageRect);
      store = finish(selection);
      break;
    case mNone:
      break;
  }
  FMode = mNone;
  return store ? Store : Changed;
}

TSelectionGesture::TOutcome TSelectionGesture::Cancel(TRectF& selection) {
  if (FMode == mNone)
    return Ignored;
  selection = FBeforeGesture;
  FMode = mNone;
  // The button still held starts nothing new until it is released.
  FGestureEnded = true;
  return Changed;
}

bool TSelectionGesture::Key(int key, TShiftState shift, TRectF& selection, const TFrame& frame,
                            TOutcome& outcome) const {
  outcome = Ignored;
  const double step = (shift & ssShift) ? 10 : 1;
  double dx = 0, dy = 0;
  switch (key) {
    case Qt::Key_Left: dx = -step; break;
    case Qt::Key_Right: dx = step; break;
    case Qt::Key_Up: dy = -step; break;
    case Qt::Key_Down: dy = step; break;
    default: return false;
  }
  if (FMode != mNone)
    return true;
  const TRectF moved = pushInside(offsetRect(selection, dx, dy), frame.ImageRect);
  if (moved == selection)
    return true;  // at the picture's edge already
  selection = moved;
  outcome = Store;
  return true;
}
