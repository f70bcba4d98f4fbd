#include "imaging/KeptPicture.h"

#include "imaging/ImageDecode.h"
#include "imaging/OpacityMap.h"
#include "platform/FileIdentity.h"

#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {
// The bytes of the whole pictures of files kept beyond their copies, and their budget.
std::atomic<qint64> g_wholeBytes{0};
std::atomic<qint64> g_wholeBudget{KeptWholeBudget};
}  // namespace

struct TKeptPicture::Data {
  QString fileName;  // empty for a picture in memory
  QString path;      // the file's absolute path, which tells kept pictures apart
  TFileState stamp;
  QSize bound;
  QSize size;
  TBitmap preview;
  TBitmap whole;  // for a picture that fits its bound, one in memory, or one within the budget
  qint64 budgeted = 0;  // its bytes counted in g_wholeBytes
  TOpacityMap opacity;
  ~Data() { g_wholeBytes -= budgeted; }
};

namespace {

// Keeps the whole picture as well when the budget allows it.
void keepWithinBudget(TKeptPicture::Data& data, const TBitmap& picture) {
  const qint64 bytes = picture.Image().sizeInBytes();
  qint64 held = g_wholeBytes.load();
  do {
    if (held + bytes > g_wholeBudget.load())
      return;
  } while (!g_wholeBytes.compare_exchange_weak(held, held + bytes));
  data.whole = picture;
  data.budgeted = bytes;
}

using DataPtr = std::shared_ptr<const TKeptPicture::Data>;

// A picture's size fitted into the bound, ratio kept, never enlarged.
QSize fittedInto(QSize size, QSize bound) {
  if (size.width() <= bound.width() && size.height() <= bound.height())
    return size;
  const double scale = std::min(double(bound.width()) / size.width(), double(bound.height()) / size.height());
  return {std::max(1, qRound(size.width() * scale)), std::max(1, qRound(size.height() * scale))};
}

std::shared_ptr<TKeptPicture::Data> dataOf(const TBitmap& picture, QSize bound) {
  auto data = std::make_shared<TKeptPicture::Data>();
  data->bound = bound;
  data->size = QSize(picture.Width(), picture.Height());
  data->opacity = TOpacityMap(picture.Image());
  if (bound.isEmpty())
    return data;  // no copy
  const QSize shown = fittedInto(data->size, bound);
  if (shown == data->size) {
    data->whole = picture;
    data->preview = picture;
  } else {
    // Area-averaged, as the preview shows it.
    data->preview.Assign(picture.Image().scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  }
  return data;
}

// The stamp of a file about to be loaded; a file without one is left to the decoder's error.
TFileState stampBeforeLoading(const QString& fileName) { return fileState(fileName).value_or(TFileState{}); }

DataPtr loadData(const QString& fileName, QSize bound) {
  const TFileState stamp = stampBeforeLoading(fileName);
  TBitmap picture;
  picture.LoadFromFile(fileName);
  auto data = dataOf(picture, bound);
  if (data->whole.IsEmpty())
    keepWithinBudget(*data, picture);
  data->fileName = fileName;
  data->path = QFileInfo(fileName).absoluteFilePath();
  data->stamp = stamp;
  return data;
}

// A file a prefetch loads.
struct Pending {
  QString path;
  QString fileName;
  TFileState stamp;
  QSize bound;
  enum State { Waiting, Loading, Done } state = Waiting;
  DataPtr data;  // null when loading failed
  bool worked = false;  // a worker runs for its prefetch
};

// The kept pictures (held by someone else: a frame) and the running prefetches, under one lock.
std::mutex g_mutex;
std::condition_variable g_loaded;
std::vector<std::weak_ptr<const TKeptPicture::Data>> g_kept;
std::vector<std::shared_ptr<Pending>> g_pending;

bool sameFile(const TKeptPicture::Data& d, const QString& path, const TFileState& stamp, QSize bound) {
  return d.path == path && d.stamp == stamp && d.bound == bound;
}

// A kept picture of that state of the file, or null. Called with the lock held.
DataPtr findKept(const QString& path, const TFileState& stamp, QSize bound) {
  std::erase_if(g_kept, [](const std::weak_ptr<const TKeptPicture::Data>& w) { return w.expired(); });
  for (const auto& w : g_kept)
    if (DataPtr d = w.lock(); d && sameFile(*d, path, stamp, bound))
      return d;
  return nullptr;
}

void loadPending(const std::shared_ptr<Pending>& p) {
  DataPtr data;
  try {
    data = loadData(p->fileName, p->bound);
  } catch (...) {
    // Loaded again by whoever asks for it, who then sees the error.
  }
  std::lock_guard lock(g_mutex);
  p->data = data && data->stamp == p->stamp ? data : nullptr;
  p->state = Pending::Done;
  g_loaded.notify_all();
}

// The picture a prefetch loaded (or loads, or leaves to this thread) for that state of the file;
// null when there is none or it failed. Called with the lock held.
DataPtr takePending(std::unique_lock<std::mutex>& lock, const QString& path, const TFileState& stamp, QSize bound) {
  for (const std::shared_ptr<Pending>& p : g_pending) {
    if (p->path != path || !(p->stamp == stamp) || p->bound != bound)
      continue;
    if (p->state == Pending::Waiting && !p->worked) {
      p->state = Pending::Loading;
      lock.unlock();
      loadPending(p);
      lock.lock();
    }
    g_loaded.wait(lock, [&] { return p->state == Pending::Done; });
    return p->data;
  }
  return nullptr;
}

}  // namespace

TKeptPicture::TKeptPicture(const TBitmap& picture) {
  if (!picture.IsEmpty())
    FData = dataOf(picture, QSize(picture.Width(), picture.Height()));
}

TKeptPicture TKeptPicture::Load(const QString& fileName, QSize previewBound) {
  TKeptPicture kept;
  const QString path = QFileInfo(fileName).absoluteFilePath();
  if (const std::optional<TFileState> stamp = fileState(fileName)) {
    std::unique_lock lock(g_mutex);
    kept.FData = findKept(path, *stamp, previewBound);
    if (kept.FData)
      return kept;
    kept.FData = takePending(lock, path, *stamp, previewBound);
    if (kept.FData) {
      g_kept.push_back(kept.FData);
      return kept;
    }
  }
  kept.FData = loadData(fileName, previewBound);
  std::lock_guard lock(g_mutex);
  g_kept.push_back(kept.FData);
  return kept;
}

int TKeptPicture::Width() const { return FData ? FData->size.width() : 0; }

int TKeptPicture::Height() const { return FData ? FData->size.height() : 0; }

const TBitmap& TKeptPicture::Preview() const {
  static const TBitmap none;
  return FData ? FData->preview : none;
}

bool TKeptPicture::AnyTranslucentIn(const TRectF& normalized) const {
  return FData && FData->opacity.AnyTranslucentIn(normalized);
}

QString TKeptPicture::FileName() const { return FData ? FData->fileName : QString(); }

bool TKeptPicture::FileUnchanged() const {
  if (!FData || FData->fileName.isEmpty())
    return true;
  return fileState(FData->fileName) == std::optional<TFileState>(FData->stamp);
}

TBitmap TKeptPicture::Whole() const {
  if (!FData)
    return {};
  if (!FileUnchanged())
    throw EPictureChanged(pictureChangedMessage(FData->fileName));
  if (!FData->whole.IsEmpty())
    return FData->whole;
  TBitmap picture;
  picture.LoadFromFile(FData->fileName);
  // Changed while it was read, or read as another picture: never another picture silently.
  if (!FileUnchanged() || QSize(picture.Width(), picture.Height()) != FData->size)
    throw EPictureChanged(pictureChangedMessage(FData->fileName));
  return picture;
}

qint64 setKeptWholeBudget(qint64 bytes) { return g_wholeBudget.exchange(bytes); }

QString pictureChangedMessage(const QString& fileName) {
  return QStringLiteral("Picture changed on disk since it was loaded: ") + fileName;
}

struct TKeptPrefetch::Work {
  std::vector<std::shared_ptr<Pending>> files;
  std::vector<std::thread> workers;
  std::atomic<size_t> next{0};

  void Run() {
    // In order, so the pictures needed first are ready first.
    for (size_t i = next++; i < files.size(); i = next++) {
      const std::shared_ptr<Pending>& p = files[i];
      {
        std::lock_guard lock(g_mutex);
        if (p->state != Pending::Waiting)
          continue;
        p->state = Pending::Loading;
      }
      loadPending(p);
    }
  }
};

namespace {

// The files to load, each once: existing pictures not kept already.
std::vector<std::shared_ptr<Pending>> pendingFiles(const QStringList& fileNames, QSize bound) {
  std::vector<std::shared_ptr<Pending>> files;
  for (const QString& name : fileNames) {
    if (name.isEmpty() || !hasPictureExtension(name))
      continue;
    const std::optional<TFileState> stamp = fileState(name);
    if (!stamp)
      continue;
    const QString path = QFileInfo(name).absoluteFilePath();
    if (std::any_of(files.begin(), files.end(), [&](const auto& p) { return p->path == path && p->stamp == *stamp; }))
      continue;
    auto p = std::make_shared<Pending>();
    p->path = path;
    p->fileName = name;
    p->stamp = *stamp;
    p->bound = bound;
    files.push_back(p);
  }
  return files;
}

}  // namespace

TKeptPrefetch::TKeptPrefetch(const QStringList& fileNames, QSize previewBound) : FWork(std::make_unique<Work>()) {
  FWork->files = pendingFiles(fileNames, previewBound);
  {
    std::lock_guard lock(g_mutex);
    std::erase_if(FWork->files, [](const std::shared_ptr<Pending>& p) {
      return findKept(p->path, p->stamp, p->bound) != nullptr;
    });
    g_pending.insert(g_pending.end(), FWork->files.begin(), FWork->files.end());
  }
  const size_t threads = std::min<size_t>({FWork->files.size(), size_t(MaxPrefetchWorkers),
                                           size_t(std::max(1u, std::thread::hardware_concurrency()))});
  Work* work = FWork.get();
  try {
    for (size_t t = 0; t < threads; ++t) {
      work->workers.emplace_back([work] { work->Run(); });
      // With a worker running, the thread that asks waits for its turn instead of decoding a third
      // picture at once.
      std::lock_guard lock(g_mutex);
      for (const std::shared_ptr<Pending>& p : work->files)
        p->worked = true;
    }
  } catch (const std::exception&) {
    // No further thread to be had: those running do the work, or the thread that asks does.
  }
}

TKeptPrefetch::~TKeptPrefetch() {
  for (std::thread& t : FWork->workers)
    t.join();
  std::lock_guard lock(g_mutex);
  std::erase_if(g_pending, [&](const std::shared_ptr<Pending>& p) {
    return std::find(FWork->files.begin(), FWork->files.end(), p) != FWork->files.end();
  });
}

int TKeptPrefetch::FileCount() const { return int(FWork->files.size()); }
