#include "imaging/PictureReduce.h"

#include <algorithm>
#include <cmath>

QSize fittedSize(QSize size, int side) {
  const double s = double(side) / std::max(size.width(), size.height());
  return QSize(std::max(1, int(std::lround(size.width() * s))), std::max(1, int(std::lround(size.height() * s))));
}

QImage decodedPicture(bool ok, const QString& failure, QString* reason, const TRowReducer* reducer,
                      const QImage& image) {
  if (!ok) {
    if (reason)
      *reason = failure;
    return {};
  }
  if (reducer)
    return reducer->done() ? reducer->result() : QImage();
  return image;
}

TRowReducer::TRowReducer(QSize source, QSize target)
    : FSourceHeight(source.height()),
      FXTaps(BilinearRows::taps(0, source.width(), target.width(), source.width())),
      FYTaps(BilinearRows::taps(0, source.height(), target.height(), source.height())),
      FNeeded(size_t(source.height()), false),
      FPrev(size_t(target.width()) * 2),
      FCur(size_t(target.width()) * 2),
      FTarget(target, QImage::Format_ARGB32_Premultiplied) {
  for (const Tap& t : FYTaps) {
    FNeeded[size_t(t.i0)] = true;
    FNeeded[size_t(t.i1)] = true;
  }
}

void TRowReducer::addRow(const uint32_t* row) {
  if (FTarget.isNull() || FRow + 1 >= FSourceHeight)
    return;
  ++FRow;
  std::swap(FPrev, FCur);
  if (row && FNeeded[size_t(FRow)])
    BilinearRows::horizontal(row, FXTaps, FCur.data());
  // Every output row whose lower source row has now arrived; its upper one is this row or the
  // one before.
  while (FNextOut < FTarget.height() && FYTaps[size_t(FNextOut)].i1 <= FRow) {
    const Tap& t = FYTaps[size_t(FNextOut)];
    const uint64_t* a = t.i0 == FRow ? FCur.data() : FPrev.data();
    const uint64_t* b = t.i1 == FRow ? FCur.data() : FPrev.data();
    BilinearRows::vertical(a, b, t.w, FXTaps.size(), reinterpret_cast<uint32_t*>(FTarget.scanLine(FNextOut)));
    ++FNextOut;
  }
}
