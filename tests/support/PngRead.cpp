#include "support/PngRead.h"

#include <QFile>
#include <png.h>

DecodedPng readPngBytes(const QByteArray& bytes) {
  DecodedPng out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.constData(), size_t(bytes.size())))
    return out;
  image.format = PNG_FORMAT_RGBA;
  out.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    out.rgba.clear();
    return out;
  }
  out.ok = true;
  out.width = int(image.width);
  out.height = int(image.height);
  return out;
}

DecodedPng readPngFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  return readPngBytes(f.readAll());
}

std::vector<QByteArray> pngChunkTypes(const QByteArray& bytes) {
  std::vector<QByteArray> types;
  if (!bytes.startsWith("\x89PNG\r\n\x1a\n"))
    return types;
  qsizetype pos = 8;
  while (pos + 8 <= bytes.size()) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData() + pos);
    const qsizetype len = (qsizetype(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    types.push_back(bytes.mid(pos + 4, 4));
    pos += 12 + len;
  }
  return types;
}
