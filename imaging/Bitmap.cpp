#include "imaging/Bitmap.h"

#include "imaging/ImageDecode.h"
#include "imaging/PngWriter.h"

TBitmap::TBitmap(int width, int height) { SetSize(width, height); }

void TBitmap::SetSize(int width, int height) {
  if (width <= 0 || height <= 0)
    FImage = QImage();
  else
    FImage = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
}

void TBitmap::Clear(quint32 argb) {
  if (!FImage.isNull())
    FImage.fill(qPremultiply(QRgb(argb)));
}

void TBitmap::LoadFromFile(const QString& fileName) { FImage = decodePicture(fileName); }

void TBitmap::SaveToFile(const QString& fileName) const { saveBitmapFile(FImage, fileName); }

void TBitmap::Assign(const QImage& image) {
  FImage = image.format() == QImage::Format_ARGB32_Premultiplied
               ? image
               : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
