#include "model/SelectionGesture.h"

#include <QtCore/qnamespace.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

using G = TSelectionGesture;

// One event of a gesture.
struct Event {
  enum Kind { Press, Move, Release } kind;
  TShiftState shift;  // for a press: the keys held (ssCtrl); for a move: buttons and keys
  float x, y;
  TMouseButton button = TMouseButton::Left;
};

const TRectF kBefore{10, 10, 30, 30};
// A 200 x 100 picture at the preview's corner, ratio 1:1, drag distance 4.
const G::TFrame kFrame{TRectF{0, 0, 200, 100}, 1.0f, 4};

}  // namespace

// Each row is a gesture from press to end: the selection it leaves, whether that is to be stored,
// and the mode it ends in.
TEST(SelectionGesture, GesturesFromPressToEnd) {
  const TShiftState L = ssLeft, LC = ssLeft | ssCtrl;
  struct Row {
    const char* says;
    std::vector<Event> events;
    TRectF selection;
    G::TOutcome last;  // the outcome of the last event
    TMode mode;
  } rows[] = {
      {"a click keeps the selection", {{Event::Press, 0, 50, 50}, {Event::Release, 0, 51, 50}}, kBefore, G::Changed, mNone},
      {"a move within the drag distance changes nothing", {{Event::Press, 0, 50, 50}, {Event::Move, L, 52, 51}},
       kBefore, G::Ignored, mDraw},
      {"a draw follows the larger movement, ratio kept",
       {{Event::Press, 0, 20, 20}, {Event::Move, L, 60, 50}, {Event::Release, 0, 60, 50}},
       TRectF{20, 20, 60, 60}, G::Store, mNone},
      {"a draw up and left selects on that side",
       {{Event::Press, 0, 80, 80}, {Event::Move, L, 50, 60}, {Event::Release, 0, 50, 60}},
       TRectF{50, 50, 80, 80}, G::Store, mNone},
      {"a draw stops at the picture's edge, ratio kept",
       {{Event::Press, 0, 20, 60}, {Event::Move, L, 120, 70}, {Event::Release, 0, 120, 70}},
       TRectF{20, 60, 60, 100}, G::Store, mNone},
      {"a draw pressed on the edge and dragged outward is empty and gives way",
       {{Event::Press, 0, 200, 50}, {Event::Move, L, 230, 50}, {Event::Release, 0, 230, 50}}, kBefore, G::Changed,
       mNone},
      {"letting go of the button during a draw stores what is shown",
       {{Event::Press, 0, 20, 20}, {Event::Move, L, 60, 50}, {Event::Move, 0, 60, 50}}, TRectF{20, 20, 60, 60},
       G::Store, mNone},
      {"Ctrl + drag moves the selection",
       {{Event::Press, ssCtrl, 15, 15}, {Event::Move, LC, 25, 20}, {Event::Release, 0, 25, 20}},
       TRectF{20, 15, 40, 35}, G::Store, mNone},
      {"a move is pushed back inside the picture",
       {{Event::Press, ssCtrl, 15, 15}, {Event::Move, LC, 215, 15}, {Event::Release, 0, 215, 15}},
       TRectF{180, 10, 200, 30}, G::Store, mNone},
      {"letting go of Ctrl ends the move; the held button starts nothing new",
       {{Event::Press, ssCtrl, 15, 15}, {Event::Move, LC, 25, 20}, {Event::Move, L, 40, 40}, {Event::Move, L, 90, 90}},
       TRectF{20, 15, 40, 35}, G::Changed, mNone},
      {"the left button held over the preview without a press seen starts a draw",
       {{Event::Move, L, 20, 20}, {Event::Move, L, 60, 50}, {Event::Release, 0, 60, 50}}, TRectF{20, 20, 60, 60},
       G::Store, mNone},
      {"another button neither starts nor ends a gesture",
       {{Event::Press, 0, 20, 20, TMouseButton::Right}, {Event::Release, 0, 60, 50, TMouseButton::Right}}, kBefore,
       G::Ignored, mNone},
      {"the release of another button does not end a draw",
       {{Event::Press, 0, 20, 20}, {Event::Move, L, 60, 50}, {Event::Release, L, 60, 50, TMouseButton::Right}},
       TRectF{20, 20, 60, 60}, G::Ignored, mDraw},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.says);
    G gesture;
    TRectF selection = kBefore;
    G::TOutcome outcome = G::Ignored;
    for (const Event& e : row.events) {
      switch (e.kind) {
        case Event::Press: outcome = gesture.Press(e.button, e.shift, {e.x, e.y}, selection, kFrame); break;
        case Event::Move: outcome = gesture.Move(e.shift, {e.x, e.y}, selection, kFrame); break;
        case Event::Release: outcome = gesture.Release(e.button, {e.x, e.y}, selection, kFrame); break;
      }
    }
    EXPECT_EQ(selection, row.selection) << selection.Left << "," << selection.Top << "," << selection.Right << ","
                                        << selection.Bottom;
    EXPECT_EQ(outcome, row.last);
    EXPECT_EQ(gesture.Mode(), row.mode);
  }
}

TEST(SelectionGesture, ArrowKeysMoveTheSelectionInsideThePicture) {
  struct Row {
    const char* says;
    int key;
    TShiftState shift;
    TRectF from;
    bool taken;
    TRectF to;
    G::TOutcome outcome;
  } rows[] = {
      {"right by one", Qt::Key_Right, 0, kBefore, true, TRectF{11, 10, 31, 30}, G::Store},
      {"down by ten with Shift", Qt::Key_Down, ssShift, kBefore, true, TRectF{10, 20, 30, 40}, G::Store},
      {"up stops at the picture's edge", Qt::Key_Up, ssShift, TRectF{10, 5, 30, 25}, true, TRectF{10, 0, 30, 20}, G::Store},
      {"at the edge the key is taken, nothing moves", Qt::Key_Left, 0, TRectF{0, 10, 20, 30}, true,
       TRectF{0, 10, 20, 30}, G::Ignored},
      {"another key is not taken", Qt::Key_A, 0, kBefore, false, kBefore, G::Ignored},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.says);
    const G gesture;
    TRectF selection = row.from;
    G::TOutcome outcome = G::Changed;
    EXPECT_EQ(gesture.Key(row.key, row.shift, selection, kFrame, outcome), row.taken);
    EXPECT_EQ(selection, row.to);
    EXPECT_EQ(outcome, row.outcome);
  }
  // During a gesture the arrows are taken and do nothing.
  G drawing;
  TRectF selection = kBefore;
  drawing.Press(TMouseButton::Left, 0, {20, 20}, selection, kFrame);
  G::TOutcome outcome = G::Changed;
  EXPECT_TRUE(drawing.Key(Qt::Key_Right, 0, selection, kFrame, outcome));
  EXPECT_EQ(selection, kBefore);
  EXPECT_EQ(outcome, G::Ignored);
}
