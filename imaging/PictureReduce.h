#pragma once

#include "imaging/Resample.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <vector>

// Reduction of a picture that arrives row by row, top to bottom, with the bilinear rule and the
// arithmetic of drawBilinear (Resample.h) over the whole picture: output pixel (i, j) of a W x H result samples
// the source at ((i + 0.5) * w / W - 0.5, (j + 0.5) * h / H - 0.5) from the 2 x 2 nearest pixels,
// edges clamped, fractions quantized to 1/4096, each premultiplied channel rounded. Only two
// source rows are kept at any time, so a picture far larger than the result never needs memory
// of its full size.
class TRowReducer {
public:
  // The result is target, premultiplied ARGB32; an allocation failure leaves result() null.
  TRowReducer(QSize source, QSize target);

  // Whether source row y is used at all (rows that no output pixel samples may be skipped, but
  // must still be passed on in order, with a null pointer).
  bool rowNeeded(int y) const { return FNeeded[size_t(y)]; }
  // The next source row, premultiplied ARGB32 (w pixels), or nullptr for a row that is not needed.
  void addRow(const uint32_t* row);
  // True once every output row is written.
  bool done() const { return FNextOut >= FTarget.height(); }
  QImage result() const { return FTarget; }

private:
  using Tap = BilinearRows::Tap;

  int FSourceHeight;
  std::vector<Tap> FXTaps, FYTaps;
  std::vector<bool> FNeeded;
  std::vector<uint64_t> FPrev, FCur;  // horizontal passes of source rows FRow - 1 and FRow
  int FRow = -1;
  int FNextOut = 0;
  QImage FTarget;
};

// The size that fits into side x side with the ratio kept, each side rounded, at least 1.
QSize fittedSize(QSize size, int side);

// What a row-by-row decode gives once its reading has ended: nothing when it failed (with failure
// as the reason, when a reason is asked for); otherwise the reducer's result when the rows went to
// one (nothing when it did not get them all), or the decoded image.
QImage decodedPicture(bool ok, const QString& failure, QString* reason, const TRowReducer* reducer,
                      const QImage& image);
