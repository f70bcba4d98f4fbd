#include "platform/ImageDecode.h"

#include "platform/Errors.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImageReader>
#include <QList>

#include <algorithm>
#include <cmath>

namespace {

const QStringList kAcceptedExtensions = {
    QStringLiteral("bmp"), QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
    QStringLiteral("gif"), QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("ico"),
    QStringLiteral("hdp")};

struct CacheEntry {
  QString path;
  qint64 size;
  QDateTime modified;
  QImage image;
};

// At most this many pictures, all of them held elsewhere too.
constexpr int kCacheEntries = 4;
QList<CacheEntry> g_cache;

QString extensionOf(const QString& fileName) {
  // The extension of the last path component (after the last "/", "\" or ":").
  int start = 0;
  for (int i = fileName.size() - 1; i >= 0; --i) {
    const QChar c = fileName[i];
    if (c == u'/' || c == u'\\' || c == u':') {
      start = i + 1;
      break;
    }
  }
  const int dot = fileName.lastIndexOf(u'.');
  return dot >= start ? fileName.mid(dot + 1).toLower() : QString();
}

// The size that fits into MaxPictureSide x MaxPictureSide with the ratio kept, rounded.
QSize fittedSize(QSize size) {
  const double s = double(MaxPictureSide) / std::max(size.width(), size.height());
  return QSize(std::max(1, int(std::lround(size.width() * s))), std::max(1, int(std::lround(size.height() * s))));
}

QImage decodeUncached(const QString& fileName) {
  // Room for a full 8192 x 8192 picture and more; a header that claims far more is refused by
  // the reader before it allocates.
  QImageReader::setAllocationLimit(1024);
  QImageReader reader(fileName);
  reader.setDecideFormatFromContent(true);
  reader.setAutoTransform(false);
  const QSize size = reader.size();
  if (size.isValid() && (size.width() > MaxPictureSide || size.height() > MaxPictureSide)) {
    // Reduce while decoding where the decoder can (JPEG does), so no full-size buffer is taken.
    reader.setScaledSize(fittedSize(size));
  }
  QImage image = reader.read();
  if (image.isNull())
    return image;
  if (image.width() > MaxPictureSide || image.height() > MaxPictureSide)
    image = image.scaled(fittedSize(image.size()), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  if (image.format() != QImage::Format_ARGB32_Premultiplied)
    image.convertTo(QImage::Format_ARGB32_Premultiplied);
  return image;
}

}  // namespace

QString loadingBitmapFailedMessage(const QString& fileName) {
  return QStringLiteral("Loading bitmap failed (%1).").arg(fileName);
}

QImage decodePicture(const QString& fileName) {
  if (!kAcceptedExtensions.contains(extensionOf(fileName)))
    throw EBitmapError(loadingBitmapFailedMessage(fileName));
  const QFileInfo info(fileName);
  if (!info.isFile())
    throw EBitmapError(loadingBitmapFailedMessage(fileName));
  const QString path = info.absoluteFilePath();
  const qint64 size = info.size();
  const QDateTime modified = info.lastModified();
  // Pictures only the cache still holds are dropped.
  g_cache.removeIf([](const CacheEntry& e) { return e.image.isDetached(); });
  for (int i = 0; i < g_cache.size(); ++i) {
    const CacheEntry& e = g_cache[i];
    if (e.path == path && e.size == size && e.modified == modified) {
      g_cache.move(i, 0);
      return g_cache.front().image;
    }
  }
  QImage image = decodeUncached(fileName);
  if (image.isNull())
    throw EBitmapError(loadingBitmapFailedMessage(fileName));
  g_cache.prepend({path, size, modified, image});
  while (g_cache.size() > kCacheEntries)
    g_cache.removeLast();
  return image;
}

void clearDecodeCache() { g_cache.clear(); }

int decodeCacheSize() { return int(g_cache.size()); }
