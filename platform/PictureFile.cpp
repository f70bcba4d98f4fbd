#include "platform/PictureFile.h"

#include <QFile>

#include <cstdlib>

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

QImage allocatePicture(int width, int height) {
#ifdef Q_OS_LINUX
  constexpr size_t kHugePage = size_t(2) << 20;
  const size_t bytes = size_t(width) * size_t(height) * 4;
  if (width > 0 && height > 0 && width <= (1 << 20) && bytes >= 2 * kHugePage) {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = std::aligned_alloc(kHugePage, rounded);
    if (!memory)
      return {};
    madvise(memory, rounded, MADV_HUGEPAGE);
    QImage image(static_cast<uchar*>(memory), width, height, qsizetype(width) * 4,
                 QImage::Format_ARGB32_Premultiplied, std::free, memory);
    if (image.isNull())
      std::free(memory);
    return image;
  }
#endif
  return QImage(width, height, QImage::Format_ARGB32_Premultiplied);
}
