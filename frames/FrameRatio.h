#pragma once

#include "imaging/KeptPicture.h"
#include "model/RatioGroup.h"
#include "model/SelectionGesture.h"
#include "settings/Settings.h"
#include "platform/Dialogs.h"
#include "platform/Types.h"

#include <QFrame>
#include <QList>
#include <QSize>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;
class QToolButton;
class TSelectionEditor;

// Owner's change notification; receives the sender.
using TNotifyEvent = std::function<void(QObject* Sender)>;

class TRatioFrame;

// What a frame's undoable changes change: its picture and its selection.
struct TFrameState {
  QString Filename;
  TRectF SelectRect;
  QString DarkFilename;  // the dark-mode picture of a group that has one
  friend bool operator==(const TFrameState&, const TFrameState&) = default;
};

// imPreview: shows the frame's picture (its kept copy) on its image rectangle: fitted into its
// bounds with the ratio kept, centred, a smaller picture at its own size. Its width is a float in preview units (Ratio x 122); the widget itself is laid
// out on whole pixels.
class TImagePreview : public QWidget {
  Q_OBJECT
public:
  // Shows the picture of the group (held by the frame).
  TImagePreview(QWidget* parent, const TRatioGroup& group);
  float PreviewWidth = 129;
  float PreviewHeight = 122;
  // Stores the size in preview units; the widget takes the whole pixels that cover it.
  void SetPreviewSize(float width, float height);
  // Where the picture is shown: the image rectangle (fitted into the preview without enlargement,
  // ratio kept, centred, on whole units). Empty when there is no picture.
  QRect PictureRect() const;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  const TRatioGroup& FGroup;
  // The picture scaled down for the screen, remade only when the copy or the size changes, so
  // that repainting during a drag does not rescale a large picture each time.
  QImage FScaled;
  qint64 FScaledKey = 0;
  QSize FScaledSize;
};

// pbPreview: a paint box over imPreview that receives the mouse and paints the overlay.
class TPaintBox : public QWidget {
  Q_OBJECT
public:
  TPaintBox(TRatioFrame* frame, QWidget* parent);

  // The keys and buttons held during a mouse event: ssLeft while the left button is down, ssCtrl
  // while Ctrl is down (and the other members likewise).
  static TShiftState ShiftStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);

protected:
  void paintEvent(QPaintEvent*) override;
  // The paint box holds the mouse from a press on it to the release: a release anywhere ends the
  // gesture, and moves away from it are followed while a gesture is in progress.
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  // A double-click opens the selection editor.
  void mouseDoubleClickEvent(QMouseEvent*) override;
  // The arrow keys move the selection; focus shows as a frame around the preview.
  void keyPressEvent(QKeyEvent*) override;
  void focusInEvent(QFocusEvent*) override;
  void focusOutEvent(QFocusEvent*) override;

private:
  bool isOver(const QPointF& p) const;
  TRatioFrame* FFrame;
};

// One panel per ratio group: source picture, preview, ratio-locked selection and its persistence
// under the frame's size key.
class TRatioFrame : public QFrame {
  Q_OBJECT
public:
  // Builds the frame, names it RatioFrame<counter>, shows the ratio and restores the picture and
  // the selection from the settings file (writing the selection back). Errors of the restore
  // (missing or undecodable picture, unreadable selection, unwritable settings) are raised out of
  // the constructor. With aRestore false nothing is read from or written to the settings file:
  // the frame starts without picture and with the default selection. The frame reads and writes
  // the settings file through the store it is handed.
  TRatioFrame(QWidget* AOwner, int aWidth, int aHeight, bool aRestore, TSettingsStore& aSettings);
  // The same for a group of the catalogue (ratioGroupOf): its own key, caption and, for a group
  // with one, the row of its dark-mode picture.
  TRatioFrame(QWidget* AOwner, const TRatioGroup& aGroup, bool aRestore, TSettingsStore& aSettings);
  ~TRatioFrame() override;

  // Properties
  QString Caption() const;
  void SetCaption(const QString& Value);
  QString Filename() const;
  void SetFilename(const QString& Value);  // the full setter: existence check, load, combo, select-all
  // Raised once when a picture has been taken (not for an emptied name, nor at start-up).
  TNotifyEvent OnChange;
  // Raised by "Preview..."; the owner opens the preview of the frame's group.
  TNotifyEvent OnPreview;
  // Raised when a change of the picture or the selection has been stored (a gesture's end,
  // select-all, a key, a new picture, a write of SelectRect), with the state before and after.
  // Not raised while the frame is built, nor by ApplyState.
  std::function<void(TRatioFrame* Sender, const TFrameState& Before, const TFrameState& After)> OnStateChange;
  // The group's state: ratio, picture name, picture, selection. The frame shows and edits it.
  const TRatioGroup& Group() const { return FGroup; }
  // The picture and the selection now.
  TFrameState State() const { return {Filename(), FGroup.SelectRect, FGroup.DarkFilename}; }
  // Brings back a state, as the user would: the picture through the file-name setter (an empty
  // name leaves the frame without picture), then the selection and the dark-mode picture; all are
  // stored.
  void ApplyState(const TFrameState& aState);
  float Ratio() const;
  int RatioWidth() const { return FGroup.RatioWidth(); }
  void SetRatioWidth(int Value);
  int RatioHeight() const { return FGroup.RatioHeight(); }
  void SetRatioHeight(int Value);
  TRectF SelectRect() const { return FGroup.SelectRect; }
  void SetSelectRect(const TRectF& Value);  // stores, then SaveSelectRect
  QString SizeStr() const;
  QString GetSetting(const QString& AName) const;
  void SetSetting(const QString& AName, const QString& Value);
  TRectF GetSettingRect(const QString& AName) const;
  void SetSettingRect(const QString& AName, const TRectF& Value);
  int Tag() const { return FTag; }
  void SetTag(int Value) { FTag = Value; }

  // The dark-mode picture of a group that has one (launch screen): checked and decoded first (a
  // failure changes nothing), then taken, shown and stored under the group's dark key; an empty
  // name leaves the group without one. The selection serves both pictures.
  QString DarkFilename() const { return FGroup.DarkFilename; }
  void SetDarkFilename(const QString& Value);
  void DarkBrowseClick();

  // A frame whose group follows another's (the notification group follows the 1:1 group): while
  // it has no picture of its own, its files come from the followed frame's picture and selection,
  // its hint says so, and its warnings are those of that picture. alphaOnly: its files are drawn
  // from the alpha alone, so a selection without a transparent pixel gets the plain-square
  // warning. The owner calls UpdateWarnings when the followed frame changes.
  void SetFollowed(const TRatioFrame* aFollowed, bool aAlphaOnly);
  // The group its files are made from: its own, or the followed frame's picture and selection.
  TRatioGroup SourceGroup() const;
  void UpdateWarnings() { updateWarnings(); }

  // Shows a stored picture name that could not be restored in the file-name box, with the reason
  // as its tool tip, so that the user sees what is missing. The frame's file name and picture stay
  // empty and nothing is written.
  void ShowUnloadedFilename(const QString& aFilename, const QString& aReason);

  TRectF ImageRect() const;
  TRectF ZoomRect() const;
  // The source picture as the frame keeps it: its size and the copy imPreview shows.
  const TKeptPicture& Picture() const;

  TMode Mode() const { return FGesture.Mode(); }
  TPointF StartPoint() const { return FGesture.StartPoint(); }
  TPointF EndPoint() const { return FGesture.EndPoint(); }

  // Opens the selection editor on the group's picture ("Edit...", a double-click on the preview),
  // decoded again whole; nothing without a picture, and EPictureChanged when the picture's file
  // changed since it was loaded. OK stores the selection set in it as one change (OnStateChange
  // once), Cancel changes nothing. The editor is window-modal and deletes itself when closed.
  TSelectionEditor* EditSelection();

  // Event handlers
  void Button1Click();
  // Something dropped on the frame: one picture file (by its extension, as the file dialog's
  // filter) is taken exactly as Browse takes a chosen file; anything else is refused with an
  // error that says why, and nothing changes.
  void DropMimeData(const QMimeData* Data);
  void ceFilenameChange();
  void sbSelectAllClick();
  void pbPreviewMouseDown(Qt::MouseButton Button, TShiftState Shift, float X, float Y);
  void pbPreviewMouseMove(TShiftState Shift, float X, float Y);
  void pbPreviewMouseUp(Qt::MouseButton Button, TShiftState Shift, float X, float Y);
  void pbPreviewPaint(QPainter& Canvas);
  // An arrow key on the focused preview: the selection moves by one unit (ten with Shift), kept
  // inside the picture with its size, and is stored. False for other keys and during a gesture.
  bool pbPreviewKeyDown(int Key, TShiftState Shift);

  // Controls
  QGroupBox* GroupBox1 = nullptr;
  QComboBox* ceFilename = nullptr;
  QPushButton* Button1 = nullptr;
  QToolButton* sbSelectAll = nullptr;
  QLabel* Label2 = nullptr;
  TImagePreview* imPreview = nullptr;
  TPaintBox* pbPreview = nullptr;
  TOpenDialogOptions OpenDialog1;
  QPushButton* btnPreview = nullptr;   // "Preview...": raises OnPreview
  QPushButton* btnEdit = nullptr;      // "Edit...": opens the selection editor
  QLabel* lbTransparency = nullptr;    // under the hint: the App Store's transparency rule
  QLabel* lbEnlarged = nullptr;        // under it: the selection has fewer pixels than an output
  QLabel* lbPlainSquare = nullptr;     // an alpha-only group's selection without a transparent pixel
  // The dark-mode picture's row, only in a frame whose group has one.
  QLabel* lbDark = nullptr;
  QLineEdit* edDark = nullptr;
  QPushButton* btnDarkBrowse = nullptr;

  // The outputs a run makes from this frame (pixel sizes) and whether iPhone or iPad is checked.
  // The owner sets them as the devices and options change; until then every entry of the group
  // counts and iOS is checked.
  void SetOutputs(const QList<QSize>& aSizes, bool aIOS);


  // The filter of the file-open dialog: ten entries, all supported types first.
  static const QString OpenDialogFilter;
  // The file-name box's tool tip (a stored picture that could not be restored shows its reason instead).
  static const QString FilenameToolTip;
  // Frames constructed in this process so far.
  static int FrameCounter;

protected:
  void resizeEvent(QResizeEvent*) override;
  // Enter or Return on one of the frame's buttons clicks it.
  bool eventFilter(QObject* watched, QEvent* e) override;
  // A drag over the frame is taken whatever it carries, so that a refused drop can say why.
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

private:
  void buildControls();
  void buildDarkRow();
  // Restores the group from the settings file (the constructor's aRestore).
  void restoreFromSettings();
  // The hint under the buttons: the size to choose pictures at, or whose picture a following
  // group uses.
  void updateHint();
  void layoutControls();
  void disconnectControls();
  // The combo edit's change notification as the user sees it: an edit committed with Enter or by
  // leaving the field, or a pick from the list, runs ceFilenameChange once when the text differs
  // from the text of the last notification.
  void commitComboText();
  // Keeps the shown text when the owner adds the first entry to the list (Qt would show it).
  void comboRowsAboutToBeInserted();
  void comboRowsInserted();

  void UpdateRatio();
  // Shows the new picture: the name in the box (stored when the box showed another, or when
  // storeName), the preview, the warnings; with a picture, select-all and OnChange, once.
  void UpdateImage(bool storeName);
  // Puts a name in the box as the frame's own text, not as a user's edit; true when the box
  // showed another.
  bool showName(const QString& aName);
  void SaveSelectRect();
  // The steps of the public actions, which report nothing themselves: the file-name setter, the
  // selection setter, the combo's change handler and select-all.
  // Decodes the picture first: a name or picture that fails changes nothing, and the box shows
  // again the name of the picture in use. storeName stores the name even when the box showed it.
  void changeFilename(const QString& Value, bool storeName = false);
  void changeSelectRect(const TRectF& Value);
  void changeDarkFilename(const QString& Value);
  void takeComboText();
  void selectAll();
  // Raises OnStateChange when the state differs from the one last reported.
  void noteChange();
  // Runs a public action's steps, then noteChange (also when a step fails).
  template <typename Step>
  void reporting(Step&& step);
  // The picture's place, the ratio and the drag distance, as the gesture rules read them.
  TSelectionGesture::TFrame gestureFrame() const;
  // Repaints after a gesture's event and stores the selection when the gesture says so.
  void showGestureOutcome(TSelectionGesture::TOutcome outcome);
  // Shows or hides lbTransparency and lbEnlarged for the current picture, selection and outputs,
  // and lays them out when that changed; cheap when nothing changed.
  void updateWarnings();
  // The preview's accessible description: the selection in picture pixels.
  QString selectionDescription() const;

  TSettingsStore& FSettings;
  TRatioGroup FGroup;
  TSelectionGesture FGesture;
  int FTag = 0;
  // The combo text at its last change notification (user commit or program change).
  QString FNotifiedText;
  // The name the box shows for the frame's state: the picture's, or a stored name that could not
  // be restored.
  QString FShownName;
  QString FTextBeforeInsert;
  // The state last reported through OnStateChange (the frame is built without reporting: nothing
  // it does while it restores itself goes through the setters). ApplyState brings a state back
  // through the steps, which do not report; that state is the one reported when it is done.
  TFrameState FReported;
  // Whether the frame's group holds iOS app icons (the transparency warning applies).
  bool FAppIcons = false;
  bool FIOSChecked = true;
  const TRatioFrame* FFollowed = nullptr;
  bool FAlphaOnly = false;
  QList<QSize> FOutputs;
};
