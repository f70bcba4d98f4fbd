#include "imaging/PictureReduce.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kFracBits = 12;
constexpr uint32_t kOne = 1u << kFracBits;

// The four 8-bit channels of a pixel in two words of two 32-bit lanes: blue and red, green and
// alpha (a channel times 4096 twice stays below 2^32, so the lanes never carry into each other).
inline uint64_t blueRed(uint32_t p) { return (p & 0xffu) | (uint64_t(p & 0xff0000u) << 16); }
inline uint64_t greenAlpha(uint32_t p) { return ((p >> 8) & 0xffu) | (uint64_t(p >> 24) << 32); }
}  // namespace

QSize fittedSize(QSize size, int side) {
  const double s = double(side) / std::max(size.width(), size.height());
  return QSize(std::max(1, int(std::lround(size.width() * s))), std::max(1, int(std::lround(size.height() * s))));
}

std::vector<TRowReducer::Tap> TRowReducer::taps(int sourceSize, int count) {
  std::vector<Tap> out(static_cast<size_t>(count));
  const double step = double(sourceSize) / count;
  for (int i = 0; i < count; ++i) {
    const double u = (i + 0.5) * step - 0.5;
    const double f = std::floor(u);
    int i0 = int(std::clamp(f, -2.0, double(sourceSize) + 1.0));
    int i1 = i0 + 1;
    uint32_t w = uint32_t(std::lround((u - f) * kOne));
    if (w == kOne) {
      w = 0;
      i0 = i1;
      i1 = i0 + 1;
    }
    out[size_t(i)] = {std::clamp(i0, 0, sourceSize - 1), std::clamp(i1, 0, sourceSize - 1), w};
  }
  return out;
}

TRowReducer::TRowReducer(QSize source, QSize target)
    : FSourceHeight(source.height()),
      FXTaps(taps(source.width(), target.width())),
      FYTaps(taps(source.height(), target.height())),
      FNeeded(size_t(source.height()), false),
      FPrev(size_t(target.width()) * 2),
      FCur(size_t(target.width()) * 2),
      FTarget(target, QImage::Format_ARGB32_Premultiplied) {
  for (const Tap& t : FYTaps) {
    FNeeded[size_t(t.i0)] = true;
    FNeeded[size_t(t.i1)] = true;
  }
}

void TRowReducer::horizontal(const uint32_t* row, uint64_t* out) const {
  const size_t n = FXTaps.size();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t a = row[FXTaps[i].i0];
    const uint32_t b = row[FXTaps[i].i1];
    const uint64_t wb = FXTaps[i].w, wa = kOne - wb;
    out[2 * i] = blueRed(a) * wa + blueRed(b) * wb;
    out[2 * i + 1] = greenAlpha(a) * wa + greenAlpha(b) * wb;
  }
}

void TRowReducer::addRow(const uint32_t* row) {
  if (FTarget.isNull() || FRow + 1 >= FSourceHeight)
    return;
  ++FRow;
  std::swap(FPrev, FCur);
  if (row && FNeeded[size_t(FRow)])
    horizontal(row, FCur.data());
  // Every output row whose lower source row has now arrived; its upper one is this row or the
  // one before.
  const size_t width = FXTaps.size();
  while (FNextOut < FTarget.height() && FYTaps[size_t(FNextOut)].i1 <= FRow) {
    const Tap& t = FYTaps[size_t(FNextOut)];
    const uint64_t* a = t.i0 == FRow ? FCur.data() : FPrev.data();
    const uint64_t* b = t.i1 == FRow ? FCur.data() : FPrev.data();
    const uint64_t wb = t.w, wa = kOne - wb;
    constexpr uint64_t half = uint64_t(1) << (2 * kFracBits - 1);
    constexpr uint64_t halves = half | (half << 32);
    constexpr int shift = 2 * kFracBits;
    auto* out = reinterpret_cast<uint32_t*>(FTarget.scanLine(FNextOut));
    for (size_t i = 0; i < width; ++i) {
      const uint64_t br = a[2 * i] * wa + b[2 * i] * wb + halves;
      const uint64_t ga = a[2 * i + 1] * wa + b[2 * i + 1] * wb + halves;
      out[i] = uint32_t((br >> shift) & 0xff) | uint32_t(((ga >> shift) & 0xff) << 8) |
               uint32_t(((br >> (32 + shift)) & 0xff) << 16) | uint32_t((ga >> (32 + shift)) << 24);
    }
    ++FNextOut;
  }
}
