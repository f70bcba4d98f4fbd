#pragma once

#include "platform/Types.h"

#include <QtGlobal>

// The mouse and key rules of a group's selection, with no widget: what a press, a move, a release
// or an arrow key does to the selection, and when the result is to be stored. The frame's paint
// box forwards its events here (preview coordinates) and paints; the geometry is that of
// SelectionGeometry.h.
//
// - Only the left button draws (Ctrl held at the press: moves). Nothing changes until the mouse has
//   gone beyond the drag distance from the press point, so a click keeps the selection.
// - A draw follows endCorner from the press point (clamped to the picture); a move shifts the
//   selection, pushed back inside the picture.
// - The gesture ends at the left button's release, or at a move that shows the button (or, for a
//   move, Ctrl) let go; a click or an empty draw then puts back the selection from before the
//   press. A move ended by letting go of Ctrl with the button still held starts nothing new until
//   the button is released.
// - Escape during a gesture puts back the selection from before the press.
// - The arrow keys move the selection by one unit (ten with Shift) inside the picture, not during
//   a gesture.

// Mouse gesture in progress over the preview.
enum TMode : quint8 { mNone = 0, mDraw = 1, mDrag = 2 };

// Keys and buttons held during a mouse event.
enum TShiftStateFlag : unsigned {
  ssShift = 1u << 0,
  ssAlt = 1u << 1,
  ssCtrl = 1u << 2,
  ssLeft = 1u << 3,
  ssRight = 1u << 4,
  ssMiddle = 1u << 5,
};
using TShiftState = unsigned;

// Which mouse button an event is about.
enum class TMouseButton { Left, Right, Middle, Other };

class TSelectionGesture {
public:
  // What an event did.
  enum TOutcome {
    Ignored,  // nothing changed; nothing to repaint
    Changed,  // the selection or the gesture changed: repaint
    Store,    // the gesture ended with a selection to store (repaint too)
  };

  // The picture's place in the preview, the group's ratio (width / height) and the system's drag
  // distance, read at each event.
  struct TFrame {
    TRectF ImageRect;
    float Ratio = 1;
    int DragDistance = 0;
  };

  TOutcome Press(TMouseButton button, TShiftState shift, TPointF p, const TRectF& selection, const TFrame& frame);
  TOutcome Move(TShiftState shift, TPointF p, TRectF& selection, const TFrame& frame);
  TOutcome Release(TMouseButton button, TPointF p, TRectF& selection, const TFrame& frame);
  // Escape during a gesture: the selection from before the press comes back and nothing is to be
  // stored; the button still held starts nothing new until it is released. Ignored without one.
  TOutcome Cancel(TRectF& selection);
  // An arrow key (Qt::Key_Left ... Qt::Key_Down): true when the key is an arrow key (taken, also
  // when nothing moves); outcome says whether the selection moved and is to be stored.
  bool Key(int key, TShiftState shift, TRectF& selection, const TFrame& frame, TOutcome& outcome) const;

  TMode Mode() const { return FMode; }
  TPointF StartPoint() const { return FStartPoint; }
  TPointF EndPoint() const { return FEndPoint; }

private:
  bool withinClickDistance(TPointF p, const TFrame& frame) const;
  // Ends a gesture: a click or an empty draw puts back the selection from before the press. True
  // when the selection the gesture made is to be stored.
  bool finish(TRectF& selection);

  TMode FMode = mNone;
  TPointF FStartPoint;
  TPointF FEndPoint;
  // Where the button went down, the selection before it, whether the mouse has stayed within the
  // drag distance so far (a click), and whether the gesture ended with the button still held.
  TPointF FPressPoint;
  TRectF FBeforeGesture;
  bool FClickOnly = false;
  bool FGestureEnded = false;
};
