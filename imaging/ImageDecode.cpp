#include "imaging/ImageDecode.h"

#include "platform/Errors.h"
#include "imaging/JpegDecode.h"
#include "imaging/PictureCheck.h"
#include "imaging/PictureFile.h"
#include "imaging/PictureReduce.h"
#include "imaging/PictureRows.h"
#include "imaging/PngDecode.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QList>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const QStringList kAcceptedExtensions = {
    QStringLiteral("bmp"), QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
    QStringLiteral("gif"), QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("ico"),
    QStringLiteral("hdp")};

// What tells one state of a file from another: its absolute path, size, modification time, and
// its identity and change time (a file replaced by another of the same size and modification
// time, as "cp -p" does, has another change time or another inode).
struct FileKey {
  QString path;
  qint64 size = 0;
  qint64 modified = 0;  // nanoseconds where the platform has them
  qint64 changed = 0;
  quint64 device = 0;
  quint64 inode = 0;
  bool operator==(const FileKey&) const = default;
};

// The key of a regular file (symbolic links followed); nullopt when there is no such file.
std::optional<FileKey> fileKey(const QString& fileName) {
  const QFileInfo info(fileName);
  if (!info.isFile())
    return std::nullopt;
  FileKey key;
  key.path = info.absoluteFilePath();
#ifdef Q_OS_UNIX
  struct stat st {};
  if (::stat(QFile::encodeName(key.path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  key.size = qint64(st.st_size);
  key.modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  key.changed = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  key.device = quint64(st.st_dev);
  key.inode = quint64(st.st_ino);
#else
  key.size = info.size();
  key.modified = info.lastModified().toMSecsSinceEpoch();
  key.changed = info.metadataChangeTime().toMSecsSinceEpoch();
  key.inode = quint64(info.birthTime().toMSecsSinceEpoch());
#endif
  return key;
}

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

struct CacheEntry {
  FileKey key;
  QImage image;
};

// At most this many pictures, all of them held elsewhere too (by a frame, or by a prefetch).
constexpr int kCacheEntries = 32;

// A file a prefetch decodes.
struct Pending {
  FileKey key;
  enum State { Waiting, Decoding, Done } state = Waiting;
  QImage image;  // null when decoding failed
};

// All shared state of the cache and of the running prefetches, under one lock.
std::mutex g_mutex;
std::condition_variable g_decoded;
QList<CacheEntry> g_cache;
std::vector<std::shared_ptr<Pending>> g_pending;
std::function<void()> g_prefetchStartHook;

// The size a picture of the given size is decoded at.
bool needsReduction(QSize size) { return size.width() > MaxPictureSide || size.height() > MaxPictureSide; }

QImage reduceWhole(const QImage& image) {
  TRowReducer reducer(image.size(), fittedSize(image.size(), MaxPictureSide));
  const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
  for (int y = 0; y < image.height(); ++y) {
    if (!reducer.rowNeeded(y)) {
      reducer.addRow(nullptr);
    } else if (premultiplied) {
      reducer.addRow(reinterpret_cast<const uint32_t*>(image.constScanLine(y)));
    } else {
      const QImage row = image.copy(0, y, image.width(), 1).convertToFormat(QImage::Format_ARGB32_Premultiplied);
      reducer.addRow(reinterpret_cast<const uint32_t*>(row.constBits()));
    }
  }
  return reducer.result();
}

// A decoded picture, or a null one with what to say after the load message.
struct Decoded {
  QImage image;
  QString reason;
};

// The bytes of the whole picture Qt's reader makes, as the file's header tells its format: at
// least four bytes a pixel (a picture of fewer is converted to four), eight for 16 bits a channel.
double qtPictureBytes(QSize size, QImage::Format format) {
  const int bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
  return double(size.width()) * size.height() * std::max(4, bits / 8);
}

// The reason a picture of that size is refused before its pixels are read; empty when it may be
// read (its whole picture, `bytes`, is counted as work memory).
QString sizeRefusal(QSize size, double bytes) {
  if (qint64(size.width()) * size.height() > MaxPicturePixels)
    return tooManyPixelsReason(size.width(), size.height());
  if (bytes > double(DecodeWorkMemoryLimit))
    return overDecodeBudgetReason(bytes);
  return {};
}

// GIF, BMP, TIFF, the icons of ICO files that are no PNG, and WebP: through QImageReader, with the
// picture's size checked first, then that the file holds all its data (Qt's readers fill in what
// a cut file lacks), and its memory taken from the decode budget (the reader holds the whole
// picture, and a converted or reduced copy is made of it).
Decoded decodeWithQt(const QString& fileName, TPictureKind kind, QByteArrayView bytes) {
  static std::once_flag limitSet;  // a process-wide setting; prefetch workers read it too
  std::call_once(limitSet, [] { QImageReader::setAllocationLimit(int(DecodeWorkMemoryLimit / (1024 * 1024))); });
  const char* format = kind == TPictureKind::Gif    ? "gif"
                       : kind == TPictureKind::Bmp  ? "bmp"
                       : kind == TPictureKind::Tiff ? "tiff"
                       : kind == TPictureKind::Ico  ? "ico"
                                                    : "webp";
  QImageReader reader(fileName, format);
  reader.setDecideFormatFromContent(false);
  reader.setAutoTransform(false);
  const QSize size = reader.size();
  if (size.isEmpty())
    return {};
  const double work = qtPictureBytes(size, reader.imageFormat());
  if (QString refusal = sizeRefusal(size, work); !refusal.isEmpty())
    return {{}, refusal};
  if (!pictureDataComplete(kind, bytes))
    return {};
  const TDecodeReservation reservation{size_t(work)};
  QImage image = reader.read();
  if (image.isNull())
    return {};
  if (needsReduction(image.size()))
    return {reduceWhole(image), {}};
  if (image.format() != QImage::Format_ARGB32_Premultiplied)
    image.convertTo(QImage::Format_ARGB32_Premultiplied);
  return {image, {}};
}

// What a failed decode says when its decoder gave no reason of its own.
QString formatName(TPictureKind kind) {
  switch (kind) {
    case TPictureKind::Png: return QStringLiteral("PNG");
    case TPictureKind::Jpeg: return QStringLiteral("JPEG");
    case TPictureKind::Gif: return QStringLiteral("GIF");
    case TPictureKind::Bmp: return QStringLiteral("BMP");
    case TPictureKind::Tiff: return QStringLiteral("TIFF");
    case TPictureKind::Ico: return QStringLiteral("ICO");
    case TPictureKind::WebP: return QStringLiteral("WebP");
    default: return QString();
  }
}

QString notOpenedReason(const QFile& file) {
  return QStringLiteral("The file cannot be read: %1.").arg(file.errorString());
}

QString notAPictureReason(QByteArrayView head) {
  if (head.isEmpty())
    return QStringLiteral("The file is empty.");
  if (head.startsWith(QByteArrayView("II\xbc", 3)))
    return QStringLiteral("It is an HD Photo (JPEG XR) picture, a format that cannot be read.");
  return QStringLiteral("The file is not a picture of a format that can be read (PNG, JPEG, GIF, BMP, TIFF, ICO or "
                        "WebP).");
}

// Whether this build holds a decoder for the kind: the program's own for PNG and JPEG, Qt's
// plugins for the rest.
bool decoderInstalled(TPictureKind kind) {
  if (kind == TPictureKind::Png || kind == TPictureKind::Jpeg)
    return true;
  return QImageReader::supportedImageFormats().contains(formatName(kind).toLower().toLatin1());
}

// Whether the file's bytes end before its first picture does (for an icon that is a PNG, before
// the PNG does).
bool cutShort(QByteArrayView file, TPictureKind kind) {
  if (!pictureDataComplete(kind, file))
    return true;
  if (kind != TPictureKind::Ico)
    return false;
  const TIconEntry icon = firstIconOf(file);
  return icon.png && !pictureDataComplete(TPictureKind::Png, file.sliced(icon.offset));
}

QString failureReason(QFile& file, TPictureKind kind) {
  const qint64 size = file.size();
  const uchar* bytes = size > 0 ? file.map(0, size) : nullptr;
  if (bytes && cutShort(QByteArrayView(bytes, size), kind))
    return QStringLiteral("The file ends before the picture does.");
  if (!decoderInstalled(kind))
    return QStringLiteral("%1 pictures cannot be read: no decoder for them is installed.").arg(formatName(kind));
  return QStringLiteral("Its %1 data cannot be decoded.").arg(formatName(kind));
}

// A file whose first bytes name a kind the program reads.
Decoded decodeKind(QFile& file, const QString& fileName, TPictureKind kind) {
  Decoded d;
  if (kind == TPictureKind::Png) {
    d.image = decodePngFile(fileName, MaxPictureSide, &d.reason);
    return d;
  }
  if (kind == TPictureKind::Jpeg) {
    d.image = decodeJpegFile(fileName, MaxPictureSide, &d.reason);
    return d;
  }
  const qint64 size = file.size();
  const uchar* bytes = size > 0 ? file.map(0, size) : nullptr;
  if (!bytes)
    return {};
  if (kind == TPictureKind::Ico) {
    // An icon that is a PNG is read by the PNG decoder, which reads none of its other chunks.
    if (const TIconEntry icon = firstIconOf(QByteArrayView(bytes, size)); icon.png) {
      d.image = decodePngFile(fileName, MaxPictureSide, &d.reason, icon.offset);
      return d;
    }
  }
  return decodeWithQt(fileName, kind, QByteArrayView(bytes, size));
}

Decoded decodeUncached(const QString& fileName) {
  try {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
      return {{}, notOpenedReason(file)};
    // The content decides the decoder.
    const QByteArray head = file.read(12);
    const TPictureKind kind = pictureKindOf(head);
    if (kind == TPictureKind::Unknown)
      return {{}, notAPictureReason(head)};
    Decoded d = decodeKind(file, fileName, kind);
    if (d.image.isNull() && d.reason.isEmpty())
      d.reason = failureReason(file, kind);
    return d;
  } catch (const std::exception&) {  // out of memory
    return {{}, outOfMemoryReason()};
  }
}

// A cached picture of that key, or a null image. Called with the lock held.
QImage findCached(const FileKey& key) {
  // Pictures only the cache still holds are dropped.
  g_cache.removeIf([](const CacheEntry& e) { return e.image.isDetached(); });
  for (int i = 0; i < g_cache.size(); ++i) {
    if (g_cache[i].key == key) {
      g_cache.move(i, 0);
      return g_cache.front().image;
    }
  }
  return {};
}

void addCached(const FileKey& key, const QImage& image) {
  g_cache.prepend({key, image});
  while (g_cache.size() > kCacheEntries)
    g_cache.removeLast();
}

// Decodes one pending file and records the result.
void decodePending(const std::shared_ptr<Pending>& p) {
  QImage image = decodeUncached(p->key.path).image;
  std::lock_guard lock(g_mutex);
  p->image = image;
  p->state = Pending::Done;
  g_decoded.notify_all();
}

}  // namespace

bool hasPictureExtension(const QString& fileName) { return kAcceptedExtensions.contains(extensionOf(fileName)); }

QString loadingBitmapFailedMessage(const QString& fileName, const QString& reason) {
  const QString message = QStringLiteral("Loading bitmap failed (%1).").arg(fileName);
  return reason.isEmpty() ? message : message + u' ' + reason;
}

namespace {

QImage decodePictureInProgress(const QString& fileName) {
  const std::optional<FileKey> key = fileKey(fileName);
  if (!key)
    throw EBitmapError(loadingBitmapFailedMessage(fileName, QStringLiteral("It is not a file.")));
  if (!hasPictureExtension(fileName))
    throw EBitmapError(loadingBitmapFailedMessage(
        fileName,
        QStringLiteral("Its name does not end in .bmp, .jpg, .jpeg, .png, .gif, .tif, .tiff, .ico or .hdp.")));
  {
    std::unique_lock lock(g_mutex);
    if (QImage cached = findCached(*key); !cached.isNull())
      return cached;
    // A prefetch of this very file: its result, taking over the decoding if it has not started.
    for (const std::shared_ptr<Pending>& p : g_pending) {
      if (!(p->key == *key))
        continue;
      if (p->state == Pending::Waiting) {
        p->state = Pending::Decoding;
        lock.unlock();
        decodePending(p);
        lock.lock();
      }
      g_decoded.wait(lock, [&] { return p->state == Pending::Done; });
      if (!p->image.isNull()) {
        addCached(*key, p->image);
        return p->image;
      }
      break;  // it failed: decode again below, which raises the error as usual
    }
  }
  const Decoded decoded = decodeUncached(fileName);
  if (decoded.image.isNull())
    throw EBitmapError(loadingBitmapFailedMessage(fileName, decoded.reason));
  std::lock_guard lock(g_mutex);
  addCached(*key, decoded.image);
  return decoded.image;
}

}  // namespace

QImage decodePicture(const QString& fileName) {
  QImage image = decodePictureInProgress(fileName);
  if (!earlyPicturesAllowed())
    waitForPicture(image);
  return image;
}

struct TPicturePrefetch::Data {
  std::vector<std::shared_ptr<Pending>> files;
  std::vector<std::thread> workers;
  std::atomic<size_t> next{0};
};

TPicturePrefetch::TPicturePrefetch(const QStringList& fileNames) : FData(std::make_unique<Data>()) {
  for (const QString& name : fileNames) {
    if (name.isEmpty() || !hasPictureExtension(name))
      continue;
    const std::optional<FileKey> key = fileKey(name);
    if (!key)
      continue;
    const bool known = std::any_of(FData->files.begin(), FData->files.end(),
                                   [&](const std::shared_ptr<Pending>& p) { return p->key == *key; });
    if (!known)
      {
      auto p = std::make_shared<Pending>();
      p->key = *key;
      FData->files.push_back(p);
    }
  }
  {
    // Pictures the cache holds already are not decoded again.
    std::lock_guard lock(g_mutex);
    std::erase_if(FData->files, [](const std::shared_ptr<Pending>& p) { return !findCached(p->key).isNull(); });
    g_pending.insert(g_pending.end(), FData->files.begin(), FData->files.end());
  }
  if (FData->files.empty())
    return;
  const size_t threads =
      std::min<size_t>(FData->files.size(), std::max(1u, std::thread::hardware_concurrency()));
  Data* data = FData.get();
  try {
    data->workers.reserve(threads);
    for (size_t t = 0; t < threads; ++t) {
      if (g_prefetchStartHook)
        g_prefetchStartHook();
      data->workers.emplace_back([data] {
        // In order, so the pictures needed first are ready first.
        for (size_t i = data->next++; i < data->files.size(); i = data->next++) {
          const std::shared_ptr<Pending>& p = data->files[i];
          {
            std::lock_guard lock(g_mutex);
            if (p->state != Pending::Waiting)
              continue;
            p->state = Pending::Decoding;
          }
          decodePending(p);
        }
      });
    }
  } catch (const std::exception&) {
    // A thread that cannot be started (the system's limit, memory running out): the workers
    // already running go on, and each picture none of them takes is decoded on the thread that
    // asks for it.
  }
}

TPicturePrefetch::~TPicturePrefetch() {
  for (std::thread& t : FData->workers)
    t.join();
  std::lock_guard lock(g_mutex);
  std::erase_if(g_pending, [&](const std::shared_ptr<Pending>& p) {
    return std::find(FData->files.begin(), FData->files.end(), p) != FData->files.end();
  });
}

std::function<void()> setPrefetchStartHook(std::function<void()> hook) {
  return std::exchange(g_prefetchStartHook, std::move(hook));
}

int TPicturePrefetch::FileCount() const { return int(FData->files.size()); }

void clearDecodeCache() {
  std::lock_guard lock(g_mutex);
  g_cache.clear();
}

int decodeCacheSize() {
  std::lock_guard lock(g_mutex);
  return int(g_cache.size());
}
