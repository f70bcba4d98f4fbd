// The picture decoders: any bytes, saved as a picture file, are checked by the structure walks of
// every kind and decoded by decodePicture (the content picks PNG, JPEG, GIF, BMP, TIFF, ICO or
// WebP). A decode either fails with the load message or gives a picture within the decode limits;
// nothing crashes, reads out of bounds or runs for long.
#include "imaging/ImageDecode.h"
#include "imaging/PictureCheck.h"
#include "platform/Errors.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// One file per process, written again for every input.
const QString& inputFile() {
  static const QString name =
      QDir::temp().filePath(QStringLiteral("vellumark-fuzz-picture-%1.png").arg(QCoreApplication::applicationPid()));
  return name;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArrayView bytes(data, qsizetype(size));
  for (TPictureKind kind : {TPictureKind::Png, TPictureKind::Jpeg, TPictureKind::Gif, TPictureKind::Bmp,
                            TPictureKind::Tiff, TPictureKind::Ico, TPictureKind::WebP})
    pictureDataComplete(kind, bytes);
  firstIconOf(bytes);

  QFile file(inputFile());
  check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the input file cannot be written");
  check(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size), "short write");
  file.close();
  clearDecodeCache();
  try {
    const QImage image = decodePicture(inputFile());
    check(!image.isNull(), "a null picture without an error");
    check(image.width() <= MaxPictureSide && image.height() <= MaxPictureSide, "a picture over the side limit");
    check(image.format() == QImage::Format_ARGB32_Premultiplied, "a picture of another format");
  } catch (const EBitmapError& e) {
    check(e.Message().startsWith(QStringLiteral("Loading bitmap failed (")), "an error without the load message");
  }
  clearDecodeCache();
  return 0;
}
