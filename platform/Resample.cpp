#include "platform/Resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr int kFracBits = 12;
constexpr uint32_t kOne = 1u << kFracBits;

struct Tap {
  int i0;      // first pixel index (clamped)
  int i1;      // second pixel index (clamped)
  uint32_t w;  // weight of the second pixel, in 1/4096
};

std::vector<Tap> makeTaps(double start, double extent, int count, int sourceSize) {
  std::vector<Tap> taps(static_cast<size_t>(count));
  const double step = extent / count;
  for (int i = 0; i < count; ++i) {
    const double u = start + (i + 0.5) * step - 0.5;
    const double f = std::floor(u);
    double frac = u - f;
    // Indices far outside the picture clamp anyway; keep the conversion in range.
    const double fc = std::clamp(f, -2.0, double(sourceSize) + 1.0);
    int i0 = static_cast<int>(fc);
    int i1 = i0 + 1;
    uint32_t w = static_cast<uint32_t>(std::lround(frac * kOne));
    if (w == kOne) {  // frac rounded up to a whole pixel
      w = 0;
      i0 = i1;
      i1 = i0 + 1;
    }
    taps[size_t(i)] = {std::clamp(i0, 0, sourceSize - 1), std::clamp(i1, 0, sourceSize - 1), w};
  }
  return taps;
}

// Horizontal pass of one source row into 4 channels per output pixel, scaled by 4096.
void horizontal(const uint32_t* row, const std::vector<Tap>& xt, uint32_t* out) {
  const size_t n = xt.size();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t a = row[xt[i].i0];
    const uint32_t b = row[xt[i].i1];
    const uint32_t wb = xt[i].w, wa = kOne - wb;
    uint32_t* o = out + 4 * i;
    o[0] = (a & 0xff) * wa + (b & 0xff) * wb;
    o[1] = ((a >> 8) & 0xff) * wa + ((b >> 8) & 0xff) * wb;
    o[2] = ((a >> 16) & 0xff) * wa + ((b >> 16) & 0xff) * wb;
    o[3] = (a >> 24) * wa + (b >> 24) * wb;
  }
}

void renderRows(const QImage& source, const std::vector<Tap>& xt, const std::vector<Tap>& yt,
                uchar* targetBits, qsizetype targetStride, int rowBegin, int rowEnd) {
  const size_t width = xt.size();
  std::vector<uint32_t> top(width * 4), bottom(width * 4);
  int topRow = -1, bottomRow = -1;
  for (int j = rowBegin; j < rowEnd; ++j) {
    const Tap& t = yt[size_t(j)];
    // Reuse horizontal passes of rows already done (enlargements reuse them constantly).
    if (t.i0 != topRow) {
      if (t.i0 == bottomRow) {
        std::swap(top, bottom);
        std::swap(topRow, bottomRow);
      } else {
        horizontal(reinterpret_cast<const uint32_t*>(source.constScanLine(t.i0)), xt, top.data());
        topRow = t.i0;
      }
    }
    if (t.i1 != bottomRow) {
      if (t.i1 == topRow) {
        bottom = top;
      } else {
        horizontal(reinterpret_cast<const uint32_t*>(source.constScanLine(t.i1)), xt, bottom.data());
      }
      bottomRow = t.i1;
    }
    const uint32_t wb = t.w, wa = kOne - wb;
    uint32_t* out = reinterpret_cast<uint32_t*>(targetBits + targetStride * j);
    const uint32_t* a = top.data();
    const uint32_t* b = bottom.data();
    constexpr uint32_t half = 1u << (2 * kFracBits - 1);
    for (size_t i = 0; i < width; ++i) {
      const uint32_t* pa = a + 4 * i;
      const uint32_t* pb = b + 4 * i;
      const uint32_t c0 = (pa[0] * wa + pb[0] * wb + half) >> (2 * kFracBits);
      const uint32_t c1 = (pa[1] * wa + pb[1] * wb + half) >> (2 * kFracBits);
      const uint32_t c2 = (pa[2] * wa + pb[2] * wb + half) >> (2 * kFracBits);
      const uint32_t c3 = (pa[3] * wa + pb[3] * wb + half) >> (2 * kFracBits);
      out[i] = c0 | (c1 << 8) | (c2 << 16) | (c3 << 24);
    }
  }
}

}  // namespace

void drawBilinear(const QImage& source, const TRectF& sourceRect, QImage& target) {
  if (source.isNull() || target.isNull())
    return;
  Q_ASSERT(source.format() == QImage::Format_ARGB32_Premultiplied);
  Q_ASSERT(target.format() == QImage::Format_ARGB32_Premultiplied);
  const int W = target.width(), H = target.height();
  const std::vector<Tap> xt = makeTaps(sourceRect.Left, double(sourceRect.Right) - double(sourceRect.Left), W, source.width());
  const std::vector<Tap> yt = makeTaps(sourceRect.Top, double(sourceRect.Bottom) - double(sourceRect.Top), H, source.height());

  // Detach once here: the workers write through raw pointers into disjoint rows.
  uchar* bits = target.bits();
  const qsizetype stride = target.bytesPerLine();
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int parts = (int64_t(W) * H < 65536) ? 1 : int(std::min<unsigned>(cores, 8));
  if (parts == 1) {
    renderRows(source, xt, yt, bits, stride, 0, H);
    return;
  }
  std::vector<std::thread> workers;
  for (int p = 1; p < parts; ++p)
    workers.emplace_back(renderRows, std::cref(source), std::cref(xt), std::cref(yt), bits, stride,
                         H * p / parts, H * (p + 1) / parts);
  renderRows(source, xt, yt, bits, stride, 0, H / parts);
  for (auto& w : workers)
    w.join();
}
