#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

// An independent PNG reader for checking written files: libpng's simplified API, straight RGBA.
struct DecodedPng {
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // width * height * 4, straight alpha
  const uint8_t* pixel(int x, int y) const { return rgba.data() + (size_t(y) * width + x) * 4; }
};

DecodedPng readPngFile(const QString& path);
DecodedPng readPngBytes(const QByteArray& bytes);

// The chunk types of a PNG byte stream, in order ("IHDR", "IDAT", ...); empty if not a PNG.
std::vector<QByteArray> pngChunkTypes(const QByteArray& bytes);
