#pragma once

#include "imaging/Bitmap.h"

#include <QDialog>
#include <QImage>
#include <QList>
#include <QString>

class QLabel;
class QScrollArea;
class TRatioGroup;
struct TPlannedOutput;
struct TRunChoices;

// One output shown in the preview: its pixel size, the file name a run would give it and its
// pixels as a run would write them (premultiplied ARGB32).
struct TPreviewItem {
  int Width = 0;
  int Height = 0;
  QString FileName;
  QImage Image;
};

// The tiles of a group's preview: each output rendered exactly as the run renders it (the same
// renderer, selection, smooth setting and look: the App Store icon over its background), named as
// the run names it. Without a picture or with an empty selection there are none, and message says
// why in words; so it does, with the error's message, when a picture cannot be had whole again (its
// file changed since it was loaded, or no longer decodes). The whole pictures read are put in
// `pictures` when it is given: a caller that holds them while the preview is open has them again
// from the decoder's cache, not decoded anew, as long as their files do not change.
QList<TPreviewItem> renderPreviewItems(const TRatioGroup& group, const QList<TPlannedOutput>& outputs,
                                       const TRunChoices& choices, QString& message,
                                       QList<TBitmap>* pictures = nullptr);

// The tiles of a preview, laid out in rows that wrap at the sheet's width: each output at 100 %
// (one image pixel on one device pixel) over a checkerboard, so that transparency shows, with its
// size ("180 x 180") and its file name below it in labels that assistive technology reads. With a
// message, or without tiles, the sheet shows the words instead.
class TPreviewSheet : public QWidget {
  Q_OBJECT
public:
  explicit TPreviewSheet(QList<TPreviewItem> items, QWidget* parent = nullptr, const QString& message = QString());
  const QList<TPreviewItem>& Items() const { return FItems; }
  // What is shown instead of tiles; empty while tiles show.
  QString Message() const;
  // The labels under tile i: its size and its file name.
  QLabel* SizeLabel(int i) const { return FSizeLabels.value(i); }
  QLabel* NameLabel(int i) const { return FNameLabels.value(i); }
  // Replaces the tiles (or the message) and lays them out again at the current width.
  void SetItems(QList<TPreviewItem> items, const QString& message = QString());
  // Lays the tiles out for the given width; the sheet's height follows.
  void LayOut(int width);
  // Where tile i's picture lies on the sheet, in device-independent units.
  QRect PictureRect(int i) const { return FPictureRects.value(i); }
  QSize sizeHint() const override { return FContentSize; }

protected:
  void paintEvent(QPaintEvent* e) override;

private:
  void makeLabels(const QString& message);
  QList<TPreviewItem> FItems;
  QList<QRect> FPictureRects;
  QList<QLabel*> FSizeLabels;
  QList<QLabel*> FNameLabels;
  QLabel* FMessage = nullptr;
  QSize FContentSize;
  int FWidth = 800;
};

// The window of "Preview...": titled "Preview: " followed by the frame's caption, it shows the
// sheet in a scrolling area. It only shows what it is given and writes nothing; it deletes itself
// when closed.
class TPreviewWindow : public QDialog {
  Q_OBJECT
public:
  TPreviewWindow(const QString& caption, QList<TPreviewItem> items, QWidget* parent = nullptr,
                 const QString& message = QString());
  TPreviewSheet* Sheet() const { return FSheet; }
  // Shows new tiles (or words) in place of the old ones, as the frame or the setup changes.
  void SetItems(QList<TPreviewItem> items, const QString& message = QString());

  // The size label of a tile: "180 x 180".
  static QString SizeText(int width, int height);

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  int FLaidOutWidth = -1;
  QScrollArea* FScroll = nullptr;
  TPreviewSheet* FSheet = nullptr;
};
