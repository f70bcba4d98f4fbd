#include "imaging/PictureFile.h"

#include <QFile>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

TPictureFile::TPictureFile(const QString& fileName) {
#ifdef Q_OS_WIN
  FFile = _wfopen(reinterpret_cast<const wchar_t*>(fileName.utf16()), L"rb");
#else
  FFile = std::fopen(QFile::encodeName(fileName).constData(), "rb");
#endif
}

TPictureFile::~TPictureFile() {
  if (FFile)
    std::fclose(FFile);
}

QImage allocatePicture(int width, int height, size_t minimumBytes) {
  if (width <= 0 || height <= 0 || width > (1 << 20))
    return QImage(width, height, QImage::Format_ARGB32_Premultiplied);
  const size_t pixelBytes = size_t(width) * size_t(height) * 4;
  const size_t bytes = std::max(pixelBytes, minimumBytes);
  void* memory = nullptr;
#ifdef Q_OS_LINUX
  constexpr size_t kHugePage = size_t(2) << 20;
  if (bytes >= 2 * kHugePage) {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    memory = std::aligned_alloc(kHugePage, rounded);
    if (!memory)
      return {};
    madvise(memory, rounded, MADV_HUGEPAGE);
  }
#endif
  if (!memory) {
    if (bytes == pixelBytes)
      return QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    memory = std::malloc(bytes);
    if (!memory)
      return {};
  }
  QImage image(static_cast<uchar*>(memory), width, height, qsizetype(width) * 4, QImage::Format_ARGB32_Premultiplied,
               std::free, memory);
  if (image.isNull())
    std::free(memory);
  return image;
}

namespace {
std::mutex g_budgetMutex;
std::condition_variable g_budgetFreed;
size_t g_budgetInUse = 0;
size_t g_budgetPeak = 0;
}  // namespace

TDecodeReservation::TDecodeReservation(size_t bytes) {
  if (bytes > DecodeWorkMemoryLimit)
    return;
  std::unique_lock lock(g_budgetMutex);
  g_budgetFreed.wait(lock, [bytes] { return g_budgetInUse + bytes <= DecodeWorkMemoryLimit; });
  g_budgetInUse += bytes;
  g_budgetPeak = std::max(g_budgetPeak, g_budgetInUse);
  FBytes = bytes;
  FGranted = true;
}

TDecodeReservation::~TDecodeReservation() {
  if (!FGranted)
    return;
  {
    std::lock_guard lock(g_budgetMutex);
    g_budgetInUse -= FBytes;
  }
  g_budgetFreed.notify_all();
}

size_t decodeMemoryInUse() {
  std::lock_guard lock(g_budgetMutex);
  return g_budgetInUse;
}

size_t decodeMemoryPeak(bool reset) {
  std::lock_guard lock(g_budgetMutex);
  const size_t peak = g_budgetPeak;
  if (reset)
    g_budgetPeak = g_budgetInUse;
  return peak;
}

QString tooManyPixelsReason(qint64 width, qint64 height) {
  return QStringLiteral("The picture is %1 x %2 pixels, more than %3 in all.")
      .arg(width)
      .arg(height)
      .arg(MaxPicturePixels);
}

QString overDecodeBudgetReason(double bytes) {
  return QStringLiteral("Decoding it takes %1 MB of memory beyond the picture, more than the %2 MB allowed.")
      .arg(qRound64(bytes / 1e6))
      .arg(qRound64(double(DecodeWorkMemoryLimit) / 1e6));
}

QString outOfMemoryReason() { return QStringLiteral("There is not enough memory to decode it."); }
