#include "platform/SmoothResample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

namespace {

// The taps of one axis: output i takes the source indices first[i] .. first[i] + count(i) - 1
// with the weights weights[offset[i] ..], which sum to exactly `scale`.
struct AxisTaps {
  std::vector<int> first;
  std::vector<size_t> offset;  // size N + 1
  std::vector<uint32_t> weights;
  int lowest = 0;   // smallest source index used
  int highest = 0;  // largest source index used
};

AxisTaps makeAreaTaps(double start, double end, int count, int sourceSize, uint32_t scale) {
  AxisTaps taps;
  taps.first.resize(size_t(count));
  taps.offset.resize(size_t(count) + 1);
  taps.lowest = sourceSize - 1;
  taps.highest = 0;
  const double step = (end - start) / count;
  std::vector<double> cover;
  for (int i = 0; i < count; ++i) {
    double a = start + i * step;
    double b = start + (i + 1) * step;
    if (a > b)
      std::swap(a, b);
    if (b - a < 1.0) {  // an enlargement: one pixel around the centre, that is linear interpolation
      const double c = (a + b) / 2;
      a = c - 0.5;
      b = c + 0.5;
    }
    const double length = b - a;
    // Covered length per source index, the parts beyond the picture given to the edge pixels.
    const int lo = int(std::clamp(std::floor(a), 0.0, double(sourceSize - 1)));
    const int hi = int(std::clamp(std::ceil(b) - 1, 0.0, double(sourceSize - 1)));
    cover.assign(size_t(hi - lo + 1), 0.0);
    for (int k = lo; k <= hi; ++k)
      cover[size_t(k - lo)] = std::max(0.0, std::min(b, double(k + 1)) - std::max(a, double(k)));
    cover.front() += std::max(0.0, std::min(b, 0.0) - a);
    cover.back() += std::max(0.0, b - std::max(a, double(sourceSize)));

    // Fixed-point weights from the cumulative coverage: they sum to exactly `scale` and each is
    // within one unit of its exact value.
    taps.first[size_t(i)] = lo;
    taps.offset[size_t(i)] = taps.weights.size();
    double cumulative = 0;
    int64_t previous = 0;
    for (double c : cover) {
      cumulative += c;
      const int64_t upTo = std::min<int64_t>(scale, std::llround(cumulative / length * scale));
      taps.weights.push_back(uint32_t(std::max<int64_t>(0, upTo - previous)));
      previous = std::max(previous, upTo);
    }
    taps.weights.back() += uint32_t(int64_t(scale) - previous);
    taps.lowest = std::min(taps.lowest, lo);
    taps.highest = std::max(taps.highest, hi);
  }
  taps.offset[size_t(count)] = taps.weights.size();
  return taps;
}

constexpr uint32_t kVerticalScale = 1u << 15;    // fits 16 bits: widening 16 x 16 multiplications
constexpr uint32_t kHorizontalScale = 1u << 16;
constexpr int kTotalShift = 31;                  // 15 + 16

void renderRows(const QImage& source, const AxisTaps& xt, const AxisTaps& yt, uchar* targetBits,
                qsizetype targetStride, int rowBegin, int rowEnd) {
  // The columns the horizontal taps read; the vertical pass sums only those.
  const int x0 = xt.lowest, x1 = xt.highest;
  const size_t span = size_t(x1 - x0 + 1) * 4;
  std::vector<uint32_t> column(span);
  const int width = int(xt.first.size());
  for (int j = rowBegin; j < rowEnd; ++j) {
    std::fill(column.begin(), column.end(), 0u);
    const size_t begin = yt.offset[size_t(j)], end = yt.offset[size_t(j) + 1];
    int row = yt.first[size_t(j)];
    for (size_t t = begin; t < end; ++t, ++row) {
      const uint16_t w = uint16_t(yt.weights[t]);
      if (w == 0)
        continue;
      const uchar* src = source.constScanLine(row) + size_t(x0) * 4;
      uint32_t* acc = column.data();
      for (size_t k = 0; k < span; ++k)
        acc[k] += uint32_t(uint16_t(src[k])) * uint32_t(w);
    }
    // Below 2^23 each, times a 17-bit weight, summed with weights totalling 2^16: below 2^39.
    uchar* out = targetBits + targetStride * j;
    for (int i = 0; i < width; ++i) {
      uint64_t sum[4] = {0, 0, 0, 0};
      const size_t tb = xt.offset[size_t(i)], te = xt.offset[size_t(i) + 1];
      const uint32_t* acc = column.data() + size_t(xt.first[size_t(i)] - x0) * 4;
      for (size_t t = tb; t < te; ++t, acc += 4) {
        const uint64_t w = xt.weights[t];
        sum[0] += acc[0] * w;
        sum[1] += acc[1] * w;
        sum[2] += acc[2] * w;
        sum[3] += acc[3] * w;
      }
      constexpr uint64_t half = uint64_t(1) << (kTotalShift - 1);
      for (int c = 0; c < 4; ++c)
        out[4 * i + c] = uchar((sum[c] + half) >> kTotalShift);
    }
  }
}

}  // namespace

bool isReduction(const TRectF& sourceRect, int Width, int Height) {
  const double w = std::fabs(double(sourceRect.Right) - double(sourceRect.Left));
  const double h = std::fabs(double(sourceRect.Bottom) - double(sourceRect.Top));
  return std::isfinite(w) && std::isfinite(h) && (Width < w || Height < h);
}

void drawAreaAverage(const QImage& source, const TRectF& sourceRect, QImage& target) {
  if (source.isNull() || target.isNull())
    return;
  if (!std::isfinite(sourceRect.Left) || !std::isfinite(sourceRect.Top) || !std::isfinite(sourceRect.Right) ||
      !std::isfinite(sourceRect.Bottom))
    return;
  Q_ASSERT(source.format() == QImage::Format_ARGB32_Premultiplied);
  Q_ASSERT(target.format() == QImage::Format_ARGB32_Premultiplied);
  const int W = target.width(), H = target.height();
  const AxisTaps xt = makeAreaTaps(sourceRect.Left, sourceRect.Right, W, source.width(), kHorizontalScale);
  const AxisTaps yt = makeAreaTaps(sourceRect.Top, sourceRect.Bottom, H, source.height(), kVerticalScale);

  uchar* bits = target.bits();  // detached once here; the parts write disjoint rows
  const qsizetype stride = target.bytesPerLine();
  // The work of a row is the source columns it sums; split only when there is enough of it.
  const int64_t work = int64_t(xt.highest - xt.lowest + 1) * (yt.highest - yt.lowest + 1) + int64_t(W) * H;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int parts = work < (1 << 18) ? 1 : int(std::min<unsigned>({cores, 8u, unsigned(H)}));

  // Every part stores its error; the first one is raised once all parts have ended.
  std::vector<std::exception_ptr> errors{size_t(parts)};
  auto part = [&](int p) {
    try {
      renderRows(source, xt, yt, bits, stride, int(int64_t(H) * p / parts), int(int64_t(H) * (p + 1) / parts));
    } catch (...) {
      errors[size_t(p)] = std::current_exception();
    }
  };
  std::vector<std::thread> workers;
  workers.reserve(size_t(parts));
  int started = 1;
  try {
    for (; started < parts; ++started)
      workers.emplace_back(part, started);
  } catch (...) {
    // A thread that cannot be started: its rows are done here instead.
  }
  for (int p = started; p < parts; ++p)
    part(p);
  part(0);
  for (std::thread& w : workers)
    w.join();
  for (const std::exception_ptr& e : errors)
    if (e)
      std::rethrow_exception(e);
}
