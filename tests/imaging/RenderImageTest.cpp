#include "imaging/RenderAhead.h"
#include "imaging/KeptPicture.h"
#include "imaging/RenderImage.h"
#include "platform/Errors.h"
#include "platform/Parallel.h"
#include "imaging/PngWriter.h"
#include "imaging/Bitmap.h"
#include "imaging/Resample.h"
#include "imaging/SmoothResample.h"
#include "support/Paths.h"
#include "support/PngRead.h"

#include "imaging/PictureRows.h"

#include <QRandomGenerator>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <algorithm>
#include <functional>
#include <mutex>
#include <thread>
#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>
#include <system_error>

namespace {

// The bilinear rule computed independently, in doubles: output pixel centre -> source point,
// the 2 x 2 nearest pixel centres, indices clamped to the picture, premultiplied channels.
double referenceChannel(const QImage& src, double L, double T, double R, double B, int W, int H, int i, int j, int channel) {
  const double x = L + (i + 0.5) * (R - L) / W - 0.5;
  const double y = T + (j + 0.5) * (B - T) / H - 0.5;
  const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
  const double fx = x - x0, fy = y - y0;
  auto at = [&](int xi, int yi) {
    xi = std::clamp(xi, 0, src.width() - 1);
    yi = std::clamp(yi, 0, src.height() - 1);
    const QRgb p = reinterpret_cast<const QRgb*>(src.constScanLine(yi))[xi];
    return double((p >> (8 * channel)) & 0xff);
  };
  return at(x0, y0) * (1 - fx) * (1 - fy) + at(x0 + 1, y0) * fx * (1 - fy) + at(x0, y0 + 1) * (1 - fx) * fy +
         at(x0 + 1, y0 + 1) * fx * fy;
}

QImage randomPremultiplied(int w, int h, quint32 seed) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  QRandomGenerator rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.setPixel(x, y, qPremultiply(qRgba(int(rng.bounded(256)), int(rng.bounded(256)), int(rng.bounded(256)),
                                            int(rng.bounded(256)))));
  return img;
}

}  // namespace

// Both paths of the draw, the vector one (where the processor has it) and the plain one, follow
// the rule within one unit and give exactly the same pixels, also at the largest sums (an opaque
// white picture) and for widths that are not a multiple of four.
TEST(Resample, MatchesTheBilinearRuleWithinOneUnit) {
  QImage white(23, 17, QImage::Format_ARGB32_Premultiplied);
  white.fill(0xffffffffu);
  struct Case {
    const char* what;
    QImage src;
    TRectF rect;
    int W, H;
  };
  const QImage src = randomPremultiplied(97, 61, 11);
  const Case cases[] = {
      {"whole picture squeezed, independent scales", src, {0, 0, 97, 61}, 57, 57},
      {"enlarged from a fractional region", src, {10.25f, 5.5f, 33.33f, 20.75f}, 180, 120},
      {"region reaching beyond the picture repeats the edges", src, {-20, -10, 120, 80}, 64, 48},
      {"strong reduction samples four pixels", src, {0, 0, 97, 61}, 7, 3},
      {"large target split over cores", src, {3, 2, 90, 60}, 700, 400},
      {"one pixel", src, {1.5f, 2.25f, 40, 30}, 1, 1},
      {"opaque white, every sum at its largest", white, {0.3f, 0.7f, 22.6f, 16.1f}, 45, 31},
      {"opaque white reduced, every sum at its largest", white, {0.3f, 0.7f, 22.6f, 16.1f}, 9, 7},
      {"halved in height only, mirrored", src, {0, 61, 97, 0}, 97, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QImage drawn[2];
    for (const bool vector : {true, false}) {
      const bool before = setBilinearVectorPath(vector);
      QImage& dst = drawn[vector ? 0 : 1];
      dst = QImage(c.W, c.H, QImage::Format_ARGB32_Premultiplied);
      dst.fill(0);
      drawBilinear(c.src, c.rect, dst);
      setBilinearVectorPath(before);
    }
    ASSERT_EQ(drawn[0], drawn[1]) << "the vector path differs from the plain one";
    for (int j = 0; j < c.H; ++j)
      for (int i = 0; i < c.W; ++i)
        for (int ch = 0; ch < 4; ++ch) {
          const double ref =
              referenceChannel(c.src, c.rect.Left, c.rect.Top, c.rect.Right, c.rect.Bottom, c.W, c.H, i, j, ch);
          const int got = int((reinterpret_cast<const QRgb*>(drawn[0].constScanLine(j))[i] >> (8 * ch)) & 0xff);
          ASSERT_LE(std::abs(got - ref), 1.0) << i << "," << j << " ch " << ch;
        }
  }
}

TEST(Render, SourceRectangleIsFormedExactlyAndNotRounded) {
  TBitmap b1000(1000, 500), b100(100, 10);
  EXPECT_EQ(sourceRectOf(b1000, {0.25f, 0, 0.75f, 1}), (TRectF{250, 0, 750, 500}));
  const TRectF r = sourceRectOf(b100, {0, 0, 0.3333333f, 1});
  EXPECT_NEAR(r.Right, 33.33333, 1e-4);
  EXPECT_EQ(r.Right, float(100.0 * double(0.3333333f)));
}

TEST(Render, OutputHasTheEntrySizeAndFollowsTheRule) {
  QTemporaryDir dir;
  TBitmap source;
  source.Assign(randomPremultiplied(128, 96, 5));
  const QString path = dir.filePath("MyApp57x57.png");
  const TRectF all{0, 0, 1, 1};
  renderImageFile(source, 57, 57, all, path);
  const DecodedPng d = readPngFile(path);
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.width, 57);
  ASSERT_EQ(d.height, 57);
  for (int j = 0; j < 57; j += 7)
    for (int i = 0; i < 57; i += 5) {
      const double a = referenceChannel(source.Image(), 0, 0, 128, 96, 57, 57, i, j, 3);
      ASSERT_LE(std::abs(d.pixel(i, j)[3] - a), 1.0);
      if (a >= 32) {  // colour comes back divided by alpha
        const double red = referenceChannel(source.Image(), 0, 0, 128, 96, 57, 57, i, j, 2) * 255 / a;
        ASSERT_LE(std::abs(d.pixel(i, j)[0] - red), 255.0 / a * 1.5 + 0.5) << i << "," << j;
      }
    }
}

TEST(Render, TransparencyOpacityAndSoftEdgesSurvive) {
  QTemporaryDir dir;
  // Left half transparent, right half opaque, a column of half-transparent orange between.
  QImage img(40, 20, QImage::Format_ARGB32);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x)
      img.setPixel(x, y, x < 18 ? qRgba(0, 0, 0, 0) : x < 22 ? qRgba(250, 120, 10, 128) : qRgba(20, 200, 90, 255));
  TBitmap source;
  source.Assign(img);
  const QString path = dir.filePath("out.png");
  renderImageFile(source, 80, 40, TRectF{0, 0, 1, 1}, path);
  const DecodedPng d = readPngFile(path);
  ASSERT_TRUE(d.ok);
  for (int y = 0; y < 40; ++y) {
    const uint8_t* clear = d.pixel(10, y);
    EXPECT_EQ(clear[0] | clear[1] | clear[2] | clear[3], 0);
    EXPECT_EQ(d.pixel(70, y)[3], 255);
    const uint8_t* soft = d.pixel(40, y);  // inside the half-transparent band
    EXPECT_NEAR(soft[3], 128, 1);
    EXPECT_NEAR(soft[0], 250, 2);  // no darkening at soft edges
    EXPECT_NEAR(soft[1], 120, 2);
    EXPECT_NEAR(soft[2], 10, 2);
  }
}

TEST(Render, AllTransparentSourceGivesTransparentBlack) {
  QTemporaryDir dir;
  TBitmap source(30, 30);
  source.Clear(0x00000000);
  const QString path = dir.filePath("clear.png");
  renderImageFile(source, 29, 29, TRectF{0, 0, 1, 1}, path);
  const DecodedPng d = readPngFile(path);
  ASSERT_TRUE(d.ok);
  for (uint8_t v : d.rgba)
    ASSERT_EQ(v, 0);
}

TEST(Render, EmptySourceGivesTransparentBlack) {
  QTemporaryDir dir;
  const QString path = dir.filePath("empty.png");
  for (int round = 0; round < 3; ++round) {
    {
      // Leave used memory of the output's size behind, so that unwritten pixels would show.
      QImage used(57, 57, QImage::Format_ARGB32_Premultiplied);
      used.fill(0xff336699);
    }
    renderImageFile(TBitmap(), 57, 57, TRectF{0, 0, 1, 1}, path);
    const DecodedPng d = readPngFile(path);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.width, 57);
    for (uint8_t v : d.rgba)
      ASSERT_EQ(v, 0);
  }
}

TEST(Render, RealPictureEnlargedAndReduced) {
  QTemporaryDir dir;
  TBitmap source;
  source.LoadFromFile(testDataDir() + "/pngsuite/basn6a08.png");  // 32 x 32 RGBA
  for (auto [w, h] : {std::pair{180, 180}, std::pair{29, 29}, std::pair{470, 320}}) {
    const QString path = dir.filePath(QStringLiteral("x%1x%2.png").arg(w).arg(h));
    renderImageFile(source, w, h, TRectF{0.1f, 0.2f, 0.9f, 0.8f}, path);
    const DecodedPng d = readPngFile(path);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
  }
}

TEST(Render, SmoothAveragesOnlyReductionsAndKeepsSoftEdgesFree) {
  // An opaque red disc on a transparent field, with soft (half-transparent) rim pixels.
  QImage img(301, 203, QImage::Format_ARGB32);
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const double r = std::hypot(x - 150.0, y - 101.0);
      img.setPixel(x, y, r < 80 ? qRgba(255, 0, 0, 255) : r < 84 ? qRgba(255, 0, 0, 100) : qRgba(0, 0, 0, 0));
    }
  TBitmap source;
  source.Assign(img);
  const TRectF region{0.05f, 0.1f, 0.95f, 0.9f};
  const TRectF pixels = sourceRectOf(source, region);
  auto draw = [&](auto filter, int w, int h) {
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    filter(source.Image(), pixels, out);
    return out;
  };

  struct Case {
    const char* what;
    int w, h;
    bool averaged;
  };
  const Case cases[] = {
      {"reduced both ways", 29, 29, true},
      {"reduced across only", 57, 400, true},
      {"enlarged", 600, 400, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(renderImage(source, c.w, c.h, region, true).Image(),
              c.averaged ? draw(drawAreaAverage, c.w, c.h) : draw(drawBilinear, c.w, c.h));
    EXPECT_EQ(renderImage(source, c.w, c.h, region, false).Image(), draw(drawBilinear, c.w, c.h)) << "unchecked box";
  }

  // Written and read back: every pixel that is not fully transparent is pure red, the rim
  // included (no dark fringe), and the inside stays opaque.
  QTemporaryDir dir;
  const QString path = dir.filePath("smooth29x29.png");
  renderImageFile(source, 29, 29, region, path, true);
  const DecodedPng d = readPngFile(path);
  ASSERT_TRUE(d.ok);
  int soft = 0;
  for (int y = 0; y < 29; ++y)
    for (int x = 0; x < 29; ++x) {
      const uint8_t* p = d.pixel(x, y);
      if (p[3] == 0)
        continue;
      soft += p[3] < 255;
      ASSERT_EQ(p[0], 255) << x << "," << y;
      ASSERT_EQ(p[1] | p[2], 0) << x << "," << y;
    }
  EXPECT_GT(soft, 10) << "the rim is averaged into soft pixels";
  EXPECT_EQ(d.pixel(14, 14)[3], 255);
}

// Images made in bands, on worker threads, ahead of the caller, have exactly the pixels of one
// whole draw written by the PNG writer: small images (one band), large ones (several bands),
// one-pixel and one-row images, an empty source, smooth reductions; images the caller skips are
// simply not taken.
TEST(Render, BandsRenderedAheadGiveThePixelsOfOneDraw) {
  TBitmap source;
  source.Assign(randomPremultiplied(300, 200, 21));
  const TRectF rect{0.1f, 0.05f, 0.97f, 0.9f};
  const QSize sizes[] = {{1500, 1100}, {57, 57}, {1, 1}, {2049, 700}, {3000, 1}, {29, 29}};
  RenderAhead ahead;
  for (const QSize& s : sizes)
    ahead.Add(source, s.width(), s.height(), rect);
  ahead.Add(TBitmap(), 40, 30, rect);
  ahead.Start();
  for (int i : {0, 1, 3, 4, 6}) {  // 2 and 5 skipped
    const QByteArray png = ahead.Take(i);
    QImage expected(i == 6 ? QSize(40, 30) : sizes[i], QImage::Format_ARGB32_Premultiplied);
    expected.fill(0);
    if (i != 6)
      drawBilinear(source.Image(), sourceRectOf(source, rect), expected);
    const DecodedPng want = readPngBytes(encodePng(expected));
    const DecodedPng got = readPngBytes(png);
    ASSERT_TRUE(got.ok) << i;
    EXPECT_EQ(got.width, expected.width());
    EXPECT_EQ(got.rgba, want.rgba) << "image " << i;
  }

  // Smooth reductions in several bands (the taps made once and shared by the bands) and in one
  // band from a halved level: the pixels of one drawReduced.
  TBitmap large;
  large.Assign(randomPremultiplied(1800, 1300, 22));
  const QSize reduced[] = {{1500, 1000}, {1700, 700}, {57, 57}};
  RenderAhead smooth;
  for (const QSize& s : reduced)
    smooth.Add(large, s.width(), s.height(), rect, true);
  smooth.Start();
  for (int i = 0; i < int(std::size(reduced)); ++i) {
    QImage expected(reduced[i], QImage::Format_ARGB32_Premultiplied);
    drawReduced(large.Image(), sourceRectOf(large, rect), expected);
    const DecodedPng want = readPngBytes(encodePng(expected));
    const DecodedPng got = readPngBytes(smooth.Take(i));
    ASSERT_TRUE(got.ok) << i;
    EXPECT_EQ(got.rgba, want.rgba) << "smooth image " << i;
  }
  EXPECT_GT(pngBandCount(1500, 1000), 2);

  // Rows whose best filter at a band's start is Up from the real row above: stripes of 0 and 1
  // repeated down the image (from the previous band's last row, not from a row of zeros).
  TBitmap stripes(1000, 1);
  for (int x = 0; x < 1000; ++x)
    stripes.Image().setPixel(x, 0, x % 2 ? 0xff010101u : 0xff000000u);
  RenderAhead tall;
  tall.Add(stripes, 1000, 2000, TRectF{0, 0, 1, 1});
  tall.Start();
  const DecodedPng d = readPngBytes(tall.Take(0));
  ASSERT_TRUE(d.ok);
  for (int y = 0; y < 2000; ++y)
    ASSERT_EQ(d.pixel(1, y)[0], 1) << "row " << y;
}

// An error on a render thread, or a render thread that cannot be started, is raised where the
// image is taken, on the caller's thread; an image without pixels raises the writer's message.
TEST(Render, ErrorsOnRenderThreadsReachTheCallerAndMissingThreadsDoNot) {
  TBitmap source;
  source.Assign(randomPremultiplied(50, 40, 3));
  const TRectF all{0, 0, 1, 1};
  QByteArray expected[2];
  {
    RenderAhead normal;
    normal.Add(source, 1200, 1000, all);
    normal.Add(source, 20, 20, all);
    normal.Start();
    expected[0] = normal.Take(0);
    expected[1] = normal.Take(1);
  }
  struct Case {
    WorkerEvent when;
    std::function<void()> fail;
    std::function<void(RenderAhead&)> check;
  };
  const Case cases[] = {
      {WorkerEvent::Task, [] { throw std::bad_alloc(); },
       [](RenderAhead& a) { EXPECT_THROW(a.Take(0), std::bad_alloc); }},
      {WorkerEvent::ThreadStart,
       [] { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); },
       // No thread to be had: the images are rendered by the caller, the same bytes.
       [&](RenderAhead& a) {
         EXPECT_EQ(a.Take(0), expected[0]);
         EXPECT_EQ(a.Take(1), expected[1]);
       }},
  };
  for (const Case& c : cases) {
    setWorkerTestHook([&](WorkerEvent e) {
      if (e == c.when)
        c.fail();
    });
    {
      RenderAhead ahead;
      ahead.Add(source, 1200, 1000, all);
      ahead.Add(source, 20, 20, all);
      ahead.Start();
      c.check(ahead);
    }
    QTemporaryDir dir;
    if (c.when == WorkerEvent::Task)
      EXPECT_THROW(renderImageFile(source, 1200, 1000, all, dir.filePath("x.png")), std::bad_alloc);
    setWorkerTestHook({});
    EXPECT_FALSE(QFile::exists(dir.filePath("x.png")));
  }
  RenderAhead ahead;
  ahead.Add(source, 0, 10, all);
  ahead.Add(source, 10, 10, all);
  ahead.Start();
  try {
    ahead.Take(0);
    FAIL();
  } catch (const EBitmapError& e) {
    EXPECT_EQ(e.Message(), "Saving bitmap failed.");
  }
  EXPECT_TRUE(readPngBytes(ahead.Take(1)).ok);
}

// Sources loaded when their images begin (a run's pictures, decoded group by group): each is
// loaded once, and no more than kSourcesAtOnce are held at any moment, a source being let go once
// its images are done or given up, also when two sources take turns (a group's dark-mode picture);
// every image is drawn from its own source, with worker threads or without. A loader's error is
// raised by Take for that source's images only.
TEST(Render, SourcesAreLoadedWhenTheirImagesBeginAndHeldTwoAtATime) {
  struct Tally {
    std::mutex m;
    int live = 0, most = 0;
    std::vector<int> loads = std::vector<int>(6, 0);
  };
  const QRgb colours[6] = {qRgb(10, 0, 0), qRgb(20, 0, 0), qRgb(30, 0, 0), qRgb(40, 0, 0), 0, qRgb(60, 0, 0)};
  // The images' sources in queue order, the first image a large one, so that the images after it
  // are within reach while it is rendered; the fifth image (source 2) is skipped.
  const int order[] = {0, 1, 2, 3, 2, 3, 4, 4, 5, 5, 5};
  const auto sizeOf = [](size_t i) { return i == 0 ? QSize(2000, 1500) : i % 2 ? QSize(40, 40) : QSize(1, 1); };
  for (const bool threads : {true, false}) {
    SCOPED_TRACE(threads ? "worker threads" : "no thread");
    if (!threads)
      setWorkerTestHook([](WorkerEvent e) {
        if (e == WorkerEvent::ThreadStart)
          throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      });
    auto tally = std::make_shared<Tally>();
    {
      RenderAhead ahead;
      for (int s = 0; s < 6; ++s)
        ahead.AddSource([tally, s, colour = colours[s]] {
          std::lock_guard lock(tally->m);
          ++tally->loads[size_t(s)];
          if (s == 4)
            throw EPictureChanged(QStringLiteral("source 4"));
          // Pixels whose last holder tells the tally they are gone.
          auto* pixels = new uint32_t[64 * 48];
          std::fill(pixels, pixels + 64 * 48, colour);
          tally->most = std::max(tally->most, ++tally->live);
          TBitmap picture;
          picture.Assign(QImage(
              reinterpret_cast<uchar*>(pixels), 64, 48, 64 * 4, QImage::Format_ARGB32_Premultiplied,
              [](void* info) {
                auto* t = static_cast<Tally*>(info);
                std::lock_guard lock(t->m);
                --t->live;
              },
              tally.get()));
          return picture;
        });
      for (size_t i = 0; i < std::size(order); ++i)
        ahead.Add(order[i], sizeOf(i).width(), sizeOf(i).height(), {0, 0, 1, 1});
      ahead.Start();
      for (int i = 0; i < int(std::size(order)); ++i) {
        if (i == 4)
          continue;
        if (order[i] == 4) {
          EXPECT_THROW(ahead.Take(i), EPictureChanged) << i;
          continue;
        }
        const DecodedPng png = readPngBytes(ahead.Take(i));
        ASSERT_TRUE(png.ok) << i;
        EXPECT_EQ(png.pixel(0, 0)[0], qRed(colours[order[i]])) << i;
      }
    }
    setWorkerTestHook({});
    EXPECT_LE(tally->most, RenderAhead::kSourcesAtOnce);
    EXPECT_EQ(tally->loads, std::vector<int>(6, 1));
    EXPECT_EQ(tally->live, 0) << "every source let go";
  }
}

// A source whose rows arrive while the images are rendered (a decode handing its picture on
// early) gives the very bytes of the finished source: no row is read before it is written. The
// rows are held back in steps by the test and the memory not yet written holds a pattern of its
// own, so a row read too early changes the output. Also smooth reductions (with and without a
// halved level), bands that begin low in the picture, a band left waiting, and the one-call
// RenderBand.
TEST(Render, RowsThatArriveWhileRenderingGiveTheBytesOfTheFinishedSource) {
  const QImage finished = randomPremultiplied(240, 301, 33);
  const TRectF rect{0.02f, 0.1f, 0.95f, 1.0f};
  const QSize sizes[] = {{29, 29}, {1100, 700}, {180, 180}, {700, 1300}, {1, 1}};
  auto pngsOf = [&](const TBitmap& source, bool smooth) {
    std::vector<QByteArray> out;
    RenderAhead ahead;
    for (const QSize& s : sizes)
      ahead.Add(source, s.width(), s.height(), rect, smooth);
    ahead.Start();
    for (size_t i = 0; i < std::size(sizes); ++i)
      out.push_back(ahead.Take(int(i)));
    return out;
  };
  TBitmap whole;
  whole.Assign(finished);
  for (const bool smooth : {false, true}) {
    const std::vector<QByteArray> want = pngsOf(whole, smooth);
    // The arriving copy: garbage until the writer, let on by the test, copies the rows in.
    QImage arriving(finished.size(), QImage::Format_ARGB32_Premultiplied);
    arriving.fill(0x80ff00ffu);
    std::mutex gate;
    std::condition_variable opened;
    int allowed = 0;  // rows the writer may copy
    finishPictureRowsInBackground(arriving, [&, bits = arriving.bits()](TPictureRows& rows) {
      for (int y = 0; y < finished.height(); ++y) {
        std::unique_lock lock(gate);
        opened.wait(lock, [&] { return allowed > y; });
        lock.unlock();
        std::memcpy(bits + arriving.bytesPerLine() * y, finished.constScanLine(y), size_t(finished.width()) * 4);
        rows.Publish(y + 1);
      }
    });
    ASSERT_TRUE(pictureRowsInProgress(arriving));
    TBitmap source;
    source.Assign(arriving);
    // A band low in the picture cannot begin yet, and stays waiting until its rows are there
    // (a smooth reduction follows the rows as well).
    PngRenderJob job(source, 60, 900, rect, smooth);
    ASSERT_GT(job.BandCount(), 0);
    EXPECT_FALSE(job.RenderSome(job.BandCount() - 1));
    std::thread opener([&] {
      for (int y = 0; y <= finished.height(); y += 7) {
        {
          std::lock_guard lock(gate);
          allowed = y;
        }
        opened.notify_all();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      }
      std::lock_guard lock(gate);
      allowed = finished.height();
      opened.notify_all();
    });
    const std::vector<QByteArray> got = pngsOf(source, smooth);
    for (int b = 0; b < job.BandCount(); ++b)
      job.RenderBand(b);
    opener.join();
    waitForPicture(arriving);
    EXPECT_FALSE(pictureRowsInProgress(arriving));
    for (size_t i = 0; i < want.size(); ++i)
      EXPECT_EQ(got[i], want[i]) << "image " << i << (smooth ? " smooth" : "");
    PngRenderJob again(whole, 60, 900, rect, smooth);
    for (int b = 0; b < again.BandCount(); ++b)
      again.RenderBand(b);
    EXPECT_EQ(job.TakePng(), again.TakePng()) << (smooth ? "smooth" : "");
  }
}

namespace {

// The pixels of one output image rendered by a job with that look, its bands in order.
DecodedPng renderedWith(const TBitmap& source, int width, int height, const TRenderLook& look) {
  PngRenderJob job(source, width, height, TRectF{0, 0, 1, 1}, false, look);
  for (int band = 0; band < job.BandCount(); ++band)
    job.RenderBand(band);
  return readPngBytes(job.TakePng());
}

}  // namespace

// A silhouette is white wherever the drawn image covers anything, at exactly its alpha; an opaque
// image is the drawn one laid over the background. Checked pixel by pixel against the plain draw of
// a small fixture (opaque, half and faintly covered, clear pixels), as it is, enlarged, and large
// enough to be rendered in several bands.
TEST(Render, SilhouetteAndOpaqueLooksFinishTheDrawnPixels) {
  QImage fixture(3, 2, QImage::Format_ARGB32);
  fixture.setPixel(0, 0, qRgba(200, 20, 20, 255));
  fixture.setPixel(1, 0, qRgba(20, 200, 20, 128));
  fixture.setPixel(2, 0, qRgba(0, 0, 0, 0));
  fixture.setPixel(0, 1, qRgba(255, 255, 255, 255));
  fixture.setPixel(1, 1, qRgba(20, 20, 200, 64));
  fixture.setPixel(2, 1, qRgba(0, 0, 0, 255));
  TBitmap source;
  source.Assign(fixture);
  const QRgb background = qRgb(0x10, 0x80, 0xF0);
  for (const auto& [width, height] : {std::pair{3, 2}, std::pair{12, 8}, std::pair{300, 2000}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const DecodedPng plain = renderedWith(source, width, height, {});
    const DecodedPng silhouette = renderedWith(source, width, height, {TRenderLook::Silhouette});
    const DecodedPng opaque = renderedWith(source, width, height, {TRenderLook::Opaque, background});
    ASSERT_TRUE(plain.ok && silhouette.ok && opaque.ok);
    int clear = 0, partial = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = plain.pixel(x, y);
        const uint8_t* s = silhouette.pixel(x, y);
        const uint8_t* o = opaque.pixel(x, y);
        const int a = p[3];
        clear += a == 0;
        partial += a > 0 && a < 255;
        ASSERT_EQ(s[3], a) << x << "," << y;
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ(s[c], a == 0 ? 0 : 255) << x << "," << y;
          const int back = (background >> (16 - 8 * c)) & 0xFF;
          ASSERT_NEAR(o[c], (p[c] * a + back * (255 - a)) / 255.0, 1.5) << x << "," << y << " channel " << c;
        }
        ASSERT_EQ(o[3], 255) << x << "," << y;
      }
    EXPECT_GT(clear, 0);
    EXPECT_GT(partial, 0);
  }
}
