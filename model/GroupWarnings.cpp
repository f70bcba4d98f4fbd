#include "model/GroupWarnings.h"

#include "model/RatioGroup.h"

#include <cmath>

const QString TransparencyWarning =
    QStringLiteral("Transparent pixels: the App Store rejects iOS app icons with transparency.");

QString enlargedWarning(int selectedWidth, int selectedHeight, int outputWidth, int outputHeight) {
  return QStringLiteral("Enlarged: the selection is %1 x %2 pixels of the picture; the largest output is %3 x %4.")
      .arg(selectedWidth)
      .arg(selectedHeight)
      .arg(outputWidth)
      .arg(outputHeight);
}

QSize largestOutput(const QList<QSize>& outputs) {
  QSize largest;
  for (const QSize& size : outputs)
    if (qint64(size.width()) * size.height() > qint64(largest.width()) * largest.height())
      largest = size;
  return largest;
}

namespace {

// The selected region in source pixels against the largest output made from it.
QString enlargedWarningOf(const TRatioGroup& source, const QList<QSize>& outputs) {
  const QSize largest = largestOutput(outputs);
  if (largest.isEmpty() || source.Picture.IsEmpty() || source.SelectRect.IsEmpty())
    return {};
  const TRectF zoom = source.ZoomRect();
  const double w = (double(zoom.Right) - zoom.Left) * source.Picture.Width();
  const double h = (double(zoom.Bottom) - zoom.Top) * source.Picture.Height();
  if (std::isfinite(w) && std::isfinite(h) && w * h < double(largest.width()) * largest.height())
    return enlargedWarning(qRound(w), qRound(h), largest.width(), largest.height());
  return {};
}

}  // namespace

TGroupWarnings groupWarnings(const TRatioGroup& source, const QList<QSize>& outputs, bool appIcons, bool alphaOnly) {
  TGroupWarnings warnings;
  const TKeptPicture& picture = source.Picture;
  const TRectF zoom = source.ZoomRect();
  warnings.Transparency = appIcons && picture.AnyTranslucentIn(zoom);
  warnings.PlainSquare = alphaOnly && !outputs.isEmpty() && !picture.IsEmpty() && !source.SelectRect.IsEmpty() &&
                         !picture.AnyTranslucentIn(zoom);
  warnings.Enlarged = enlargedWarningOf(source, outputs);
  return warnings;
}
