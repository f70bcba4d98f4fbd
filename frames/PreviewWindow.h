#pragma once

#include <QDialog>
#include <QImage>
#include <QList>
#include <QString>

class QScrollArea;

// One output shown in the preview: its pixel size, the file name a run would give it and its
// pixels as a run would write them (premultiplied ARGB32).
struct TPreviewItem {
  int Width = 0;
  int Height = 0;
  QString FileName;
  QImage Image;
};

// The tiles of a preview, laid out in rows that wrap at the sheet's width: each output at 100 %
// (one image pixel on one device pixel) over a checkerboard, so that transparency shows, with its
// size ("180 x 180") and its file name below it.
class TPreviewSheet : public QWidget {
  Q_OBJECT
public:
  explicit TPreviewSheet(QList<TPreviewItem> items, QWidget* parent = nullptr);
  const QList<TPreviewItem>& Items() const { return FItems; }
  // Lays the tiles out for the given width; the sheet's height follows.
  void LayOut(int width);
  // Where tile i's picture lies on the sheet, in device-independent units.
  QRect PictureRect(int i) const { return FPictureRects.value(i); }
  QSize sizeHint() const override { return FContentSize; }

protected:
  void paintEvent(QPaintEvent* e) override;

private:
  QList<TPreviewItem> FItems;
  QList<QRect> FPictureRects;
  QSize FContentSize;
};

// The window of "Preview...": titled "Preview: " followed by the frame's caption, it shows the
// sheet in a scrolling area. It only shows what it is given and writes nothing; it deletes itself
// when closed.
class TPreviewWindow : public QDialog {
  Q_OBJECT
public:
  TPreviewWindow(const QString& caption, QList<TPreviewItem> items, QWidget* parent = nullptr);
  TPreviewSheet* Sheet() const { return FSheet; }

  // The size label of a tile: "180 x 180".
  static QString SizeText(int width, int height);

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  int FLaidOutWidth = -1;
  QScrollArea* FScroll = nullptr;
  TPreviewSheet* FSheet = nullptr;
};
