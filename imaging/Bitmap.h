#pragma once

#include "imaging/PictureRows.h"

#include <QImage>
#include <QString>

// A bitmap: pixel width and height (0 x 0 when empty), 32-bit pixels with colours premultiplied by
// alpha (QImage::Format_ARGB32_Premultiplied, which is blue, green, red, alpha in memory on a
// little-endian machine) and a scale factor, its pixels per preview unit (1 on an unscaled display).
// Copies share their pixels until one of them is written (Qt's implicit sharing).
class TBitmap {
public:
  TBitmap() = default;
  TBitmap(int width, int height);

  int Width() const { return FImage.width(); }
  int Height() const { return FImage.height(); }
  bool IsEmpty() const { return Width() == 0 || Height() == 0; }
  float BitmapScale() const { return FScale; }
  void SetBitmapScale(float scale) { FScale = scale; }

  // A new size; the pixels are undefined until cleared or drawn.
  void SetSize(int width, int height);
  // Every pixel set to the colour (0xAARRGGBB, straight alpha); the size is kept.
  void Clear(quint32 argb);

  // Decodes a picture file (see ImageDecode.h); on failure raises EBitmapError
  // "Loading bitmap failed (<file name>)." and leaves the bitmap unchanged.
  void LoadFromFile(const QString& fileName);
  // Encodes by the file name's extension (".png" only); see PngWriter.h for the guarantees.
  void SaveToFile(const QString& fileName) const;

  const QImage& Image() const { return FImage; }
  QImage& Image() {
    waitForPicture(FImage);  // about to be written: all of it is there first
    return FImage;
  }
  void Assign(const QImage& image);  // converted to the premultiplied format if needed

private:
  QImage FImage;
  float FScale = 1.0f;
};
