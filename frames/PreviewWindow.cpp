#include "frames/PreviewWindow.h"

#include "imaging/RenderImage.h"
#include "model/GenerateRun.h"
#include "model/OutputPlan.h"
#include "model/RatioGroup.h"
#include "platform/Errors.h"

#include <QEvent>
#include <algorithm>
#include <utility>
#include <QFontMetrics>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr int kMargin = 12;     // around the sheet and between tiles
constexpr int kTextGap = 4;     // between a picture and its labels
constexpr int kChecker = 8;     // side of a checkerboard square

const QString NothingToShow = QStringLiteral("No output of this group is made for the checked devices.");

}  // namespace

namespace {

// The group's whole pictures its outputs read: the picture, and the dark-mode one for dark files.
std::pair<TBitmap, TBitmap> wholePicturesOf(const TRatioGroup& group, const QList<TPlannedOutput>& outputs) {
  const bool dark = std::any_of(outputs.begin(), outputs.end(), [](const TPlannedOutput& o) { return o.Dark; });
  return {group.Picture.Whole(), dark ? group.DarkPicture.Whole() : TBitmap()};
}

}  // namespace

QList<TPreviewItem> renderPreviewItems(const TRatioGroup& group, const QList<TPlannedOutput>& outputs,
                                       const TRunChoices& choices, QString& message, QList<TBitmap>* pictures) {
  message.clear();
  if (group.Picture.IsEmpty() || group.Filename.isEmpty()) {
    message = QStringLiteral("No picture: choose one with Browse... or drop a picture file on the frame.");
    return {};
  }
  if (group.SelectRect.IsEmpty()) {
    message = QStringLiteral("The selection is empty: drag over the picture to select the region to use.");
    return {};
  }
  std::pair<TBitmap, TBitmap> whole;
  try {
    whole = wholePicturesOf(group, outputs);
  } catch (const Exception& e) {
    message = e.Message();
    return {};
  }
  if (pictures)
    *pictures = {whole.first, whole.second};
  QList<TPreviewItem> items;
  for (const TPlannedOutput& o : outputs) {
    // A dark file is cut from the dark-mode picture with the same selection.
    const TBitmap& picture = o.Dark ? whole.second : whole.first;
    const TRectF zoom = o.Dark ? group.DarkZoomRect() : group.ZoomRect();
    items.append({o.Width, o.Height, o.FileName,
                  renderImage(picture, o.Width, o.Height, zoom, choices.Smooth, renderLookOf(o, choices)).Image()});
  }
  return items;
}

// ---------------------------------------------------------------------------------------------
// TPreviewSheet

TPreviewSheet::TPreviewSheet(QList<TPreviewItem> items, QWidget* parent, const QString& message)
    : QWidget(parent), FItems(std::move(items)) {
  setObjectName(QStringLiteral("PreviewSheet"));
  makeLabels(message);
  LayOut(FWidth);
}

void TPreviewSheet::SetItems(QList<TPreviewItem> items, const QString& message) {
  FItems = std::move(items);
  makeLabels(message);
  LayOut(FWidth);
}

QString TPreviewSheet::Message() const { return FMessage && !FMessage->isHidden() ? FMessage->text() : QString(); }

void TPreviewSheet::makeLabels(const QString& message) {
  qDeleteAll(FSizeLabels);
  qDeleteAll(FNameLabels);
  FSizeLabels.clear();
  FNameLabels.clear();
  if (!FMessage) {
    FMessage = new QLabel(this);
    FMessage->setObjectName(QStringLiteral("PreviewMessage"));
    FMessage->setWordWrap(true);
  }
  // A message replaces the tiles; without tiles the sheet says why.
  if (!message.isEmpty())
    FItems.clear();
  FMessage->setText(message.isEmpty() ? NothingToShow : message);
  FMessage->setVisible(FItems.isEmpty());
  for (const TPreviewItem& item : FItems) {
    auto* size = new QLabel(TPreviewWindow::SizeText(item.Width, item.Height), this);
    auto* name = new QLabel(item.FileName, this);
    size->setAccessibleName(TPreviewWindow::SizeText(item.Width, item.Height) + QStringLiteral(", ") + item.FileName);
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    size->show();
    name->show();
    FSizeLabels.append(size);
    FNameLabels.append(name);
  }
}

void TPreviewSheet::LayOut(int width) {
  FWidth = width;
  const QFontMetrics fm(font());
  const int textHeight = 2 * fm.height();
  const qreal dpr = devicePixelRatioF();
  FPictureRects.clear();
  int x = kMargin, y = kMargin, rowHeight = 0, right = 0;
  for (const TPreviewItem& item : FItems) {
    // 100 %: one image pixel on one device pixel.
    const QSize picture(qCeil(item.Width / dpr), qCeil(item.Height / dpr));
    const int tileWidth = std::max({picture.width(), fm.horizontalAdvance(TPreviewWindow::SizeText(item.Width, item.Height)),
                                    fm.horizontalAdvance(item.FileName)});
    const int tileHeight = picture.height() + kTextGap + textHeight;
    if (x > kMargin && x + tileWidth + kMargin > width) {  // wrap
      x = kMargin;
      y += rowHeight + kMargin;
      rowHeight = 0;
    }
    FPictureRects.append(QRect(QPoint(x, y), picture));
    const int i = int(FPictureRects.size()) - 1;
    const int textTop = y + picture.height() + kTextGap;
    FSizeLabels[i]->setGeometry(x, textTop, tileWidth + 1, fm.height());
    FNameLabels[i]->setGeometry(x, textTop + fm.height(), tileWidth + 1, fm.height());
    x += tileWidth + kMargin;
    right = std::max(right, x);
    rowHeight = std::max(rowHeight, tileHeight);
  }
  if (FItems.isEmpty()) {
    const int textWidth = std::max(200, std::min(fm.horizontalAdvance(FMessage->text()), width - 2 * kMargin));
    const int textHeightNeeded = FMessage->heightForWidth(textWidth);
    FMessage->setGeometry(kMargin, kMargin, textWidth, std::max(fm.height(), textHeightNeeded));
    FContentSize = QSize(textWidth + 2 * kMargin, FMessage->height() + 2 * kMargin);
  } else
    FContentSize = QSize(right, y + rowHeight + kMargin);
  resize(std::max(width, FContentSize.width()), FContentSize.height());
  updateGeometry();
  update();
}

void TPreviewSheet::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  p.fillRect(e->rect(), palette().window());
  const QFontMetrics fm(font());
  if (FItems.isEmpty())
    return;  // the message label says why
  const qreal dpr = devicePixelRatioF();
  for (qsizetype i = 0; i < FItems.size(); ++i) {
    const TPreviewItem& item = FItems[i];
    const QRect r = FPictureRects[i];
    if (r.top() > e->rect().bottom() || r.bottom() + kTextGap + 2 * fm.height() < e->rect().top())
      continue;
    // Checkerboard under the picture, clipped to it.
    p.save();
    p.setClipRect(r & e->rect());
    const QRect area = r & e->rect();
    const int cx0 = (area.left() - r.left()) / kChecker, cy0 = (area.top() - r.top()) / kChecker;
    for (int cy = cy0; r.top() + cy * kChecker <= area.bottom(); ++cy)
      for (int cx = cx0; r.left() + cx * kChecker <= area.right(); ++cx)
        p.fillRect(r.left() + cx * kChecker, r.top() + cy * kChecker, kChecker, kChecker,
                   ((cx + cy) & 1) ? QColor(204, 204, 204) : QColor(255, 255, 255));
    QImage image = item.Image;
    image.setDevicePixelRatio(dpr);
    p.drawImage(r.topLeft(), image);
    p.restore();
  }
}

// ---------------------------------------------------------------------------------------------
// TPreviewWindow

TPreviewWindow::TPreviewWindow(const QString& caption, QList<TPreviewItem> items, QWidget* parent,
                               const QString& message)
    : QDialog(parent) {
  setObjectName(QStringLiteral("PreviewWindow"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Preview: ") + caption);
  setSizeGripEnabled(true);
  FScroll = new QScrollArea(this);
  FScroll->setObjectName(QStringLiteral("PreviewScroll"));
  FScroll->setWidgetResizable(false);
  FSheet = new TPreviewSheet(std::move(items), nullptr, message);
  FScroll->setWidget(FSheet);
  FScroll->viewport()->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(FScroll);
  // As large as the tiles need, within a size that fits common screens.
  const QSize content = FSheet->sizeHint();
  resize(std::clamp(content.width() + 24, 420, 1100), std::clamp(content.height() + 24, 240, 760));
}

void TPreviewWindow::SetItems(QList<TPreviewItem> items, const QString& message) {
  FSheet->SetItems(std::move(items), message);
  if (FLaidOutWidth > 0)
    FSheet->LayOut(FLaidOutWidth);
}

QString TPreviewWindow::SizeText(int width, int height) {
  return QString::number(width) + QStringLiteral(" x ") + QString::number(height);
}

bool TPreviewWindow::eventFilter(QObject* watched, QEvent* e) {
  // The tiles wrap at the visible width: a change of it (the window resized, a scroll bar shown or
  // hidden) lays them out again.
  if (watched == FScroll->viewport() && e->type() == QEvent::Resize && FScroll->viewport()->width() != FLaidOutWidth) {
    FLaidOutWidth = FScroll->viewport()->width();
    FSheet->LayOut(FLaidOutWidth);
  }
  return QDialog::eventFilter(watched, e);
}
