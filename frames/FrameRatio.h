#pragma once

#include "platform/Bitmap.h"
#include "platform/Dialogs.h"
#include "platform/Types.h"

#include <QFrame>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;

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

// Owner's change notification; receives the sender.
using TNotifyEvent = std::function<void(QObject* Sender)>;

class TRatioFrame;

// imPreview: shows the frame's bitmap fitted into its bounds with the ratio kept (enlarged when
// smaller), centred. Its width is a float in preview units (Ratio x 122); the widget itself is laid
// out on whole pixels.
class TImagePreview : public QWidget {
  Q_OBJECT
public:
  explicit TImagePreview(QWidget* parent);
  TBitmap Bitmap;
  float PreviewWidth = 129;
  float PreviewHeight = 122;
  void SetPreviewSize(float width, float height);

protected:
  void paintEvent(QPaintEvent*) override;
};

// pbPreview: a paint box over imPreview that receives the mouse and paints the overlay.
class TPaintBox : public QWidget {
  Q_OBJECT
public:
  TPaintBox(TRatioFrame* frame, QWidget* parent);

protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

private:
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
  // the frame starts without picture and with the default selection.
  TRatioFrame(QWidget* AOwner, int aWidth, int aHeight, bool aRestore = true);
  ~TRatioFrame() override;

  // Properties
  QString Caption() const;
  void SetCaption(const QString& Value);
  QString Filename() const;
  void SetFilename(const QString& Value);  // the full setter: existence check, combo, load, select-all
  TNotifyEvent OnChange;
  float Ratio() const;
  int RatioWidth() const { return FRatioWidth; }
  void SetRatioWidth(int Value);
  int RatioHeight() const { return FRatioHeight; }
  void SetRatioHeight(int Value);
  TRectF SelectRect() const { return FSelectRect; }
  void SetSelectRect(const TRectF& Value);  // stores, then SaveSelectRect
  QString SizeStr() const;
  QString GetSetting(const QString& AName) const;
  void SetSetting(const QString& AName, const QString& Value);
  TRectF GetSettingRect(const QString& AName) const;
  void SetSettingRect(const QString& AName, const TRectF& Value);
  int Tag() const { return FTag; }
  void SetTag(int Value) { FTag = Value; }

  TRectF ImageRect() const;
  TRectF ZoomRect() const;
  // The source picture: the bitmap of imPreview.
  const TBitmap& Bitmap() const;

  TMode Mode() const { return FMode; }
  TPointF StartPoint() const { return FStartPoint; }
  TPointF EndPoint() const { return FEndPoint; }

  // Event handlers
  void Button1Click();
  void ceFilenameChange();
  void sbSelectAllClick();
  void pbPreviewMouseDown(Qt::MouseButton Button, TShiftState Shift, float X, float Y);
  void pbPreviewMouseMove(TShiftState Shift, float X, float Y);
  void pbPreviewMouseUp(Qt::MouseButton Button, TShiftState Shift, float X, float Y);
  void pbPreviewPaint(QPainter& Canvas);

  // Controls
  QGroupBox* GroupBox1 = nullptr;
  QComboBox* ceFilename = nullptr;
  QPushButton* Button1 = nullptr;
  QToolButton* sbSelectAll = nullptr;
  QLabel* Label2 = nullptr;
  TImagePreview* imPreview = nullptr;
  TPaintBox* pbPreview = nullptr;
  TOpenDialogOptions OpenDialog1;

  // The filter of the file-open dialog: eight entries, all supported types first.
  static const QString OpenDialogFilter;
  // Frames constructed in this process so far.
  static int FrameCounter;

private:
  void UpdateRatio();
  void UpdateImage();
  void SaveSelectRect();
  void SetStartPoint(const TPointF& P);
  void SetEndPoint(const TPointF& P);
  void SetMode(TMode M);

  int FRatioWidth = 0;
  int FRatioHeight = 0;
  TMode FMode = mNone;
  TRectF FSelectRect;
  TPointF FStartPoint;
  TPointF FEndPoint;
  int FTag = 0;
};
