#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "model/PicturePrefetch.h"
#include "model/RatioGroup.h"
#include "imaging/ImageDecode.h"
#include "settings/Settings.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <system_error>

// Start-up prefetches exactly the pictures the frames will restore: those stored under the
// frames' own size keys (a relative name beside the settings file), each file once, existing files
// only, none already cached.
TEST(PicturePrefetch, TakesThePicturesStoredUnderTheFramesSizeKeys) {
  QTemporaryDir dir;
  setSettingsFilePathOverride(dir.filePath(QStringLiteral("Vellumark.ini")));
  InitSizeInfos();
  const QString a = dir.filePath(QStringLiteral("a.png")), b = dir.filePath(QStringLiteral("b.png"));
  QImage picture(8, 8, QImage::Format_ARGB32);
  picture.fill(Qt::red);
  ASSERT_TRUE(picture.save(a));
  ASSERT_TRUE(picture.save(b));
  const QString c = dir.filePath(QStringLiteral("c.png"));
  ASSERT_TRUE(picture.save(c));
  const auto keyOf = [](int g) {
    const TRatioFrame frame(nullptr, SizeGroups[g][0].Width, SizeGroups[g][0].Height, false, Settings());
    return frame.SizeStr();
  };
  writeSetting(QStringLiteral("images"), keyOf(0), a);
  writeSetting(QStringLiteral("images"), keyOf(7), QStringLiteral("b.png"));  // beside the settings file
  writeSetting(QStringLiteral("images"), keyOf(12), a);
  writeSetting(QStringLiteral("images"), keyOf(5), dir.filePath(QStringLiteral("missing.png")));
  writeSetting(QStringLiteral("images"), QStringLiteral("1_1"), c);  // no group has this key
  {
    const auto prefetch = prefetchStoredPictures(Settings());
    ASSERT_NE(prefetch, nullptr);
    EXPECT_EQ(prefetch->FileCount(), 2);
  }
  // A picture that is kept already (a frame shows it) is not decoded again.
  const TKeptPicture shown = TKeptPicture::Load(a, TRatioGroup::PreviewCopyBound);
  const auto prefetch = prefetchStoredPictures(Settings());
  ASSERT_NE(prefetch, nullptr);
  EXPECT_EQ(prefetch->FileCount(), 1);
  setSettingsFilePathOverride(QString());
}

// A worker thread that cannot be started, whatever starting it throws, is done without: the
// pictures are decoded on the thread that asks for them.
TEST(PicturePrefetch, AThreadThatCannotStartLeavesTheDecodingToTheCaller) {
  QTemporaryDir dir;
  QImage picture(8, 8, QImage::Format_ARGB32);
  picture.fill(Qt::green);
  QStringList names;
  for (const char* name : {"a.png", "b.png", "c.png"}) {
    names << dir.filePath(QString::fromLatin1(name));
    ASSERT_TRUE(picture.save(names.last()));
  }
  const std::function<void()> failures[] = {
      [] { throw std::bad_alloc(); },
      [] { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); },
  };
  for (const std::function<void()>& failure : failures) {
    clearDecodeCache();
    int starts = 0;
    const auto previous = setPrefetchStartHook([&] {
      ++starts;
      failure();
    });
    {
      TPicturePrefetch prefetch(names);
      for (const QString& name : names)
        EXPECT_EQ(decodePicture(name).pixel(3, 3), QColor(Qt::green).rgba()) << name.toStdString();
    }
    setPrefetchStartHook(previous);
    EXPECT_EQ(starts, 1) << "no worker started";
  }
}
