#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// PNG encoding of a premultiplied ARGB32 image.
//
// The file: 8 bits per channel, red, green, blue and alpha (colour type 6), not interlaced,
// straight alpha: every colour channel is divided by the pixel's alpha (rounded to nearest),
// and a fully transparent pixel is written as 0, 0, 0, 0. Chunks: IHDR, IDAT, IEND only; no
// metadata of our own.
//
// Speed: each row is filtered with the better of Up and Sub by default, and the data is
// compressed as a zlib stream made of independent deflate segments, one per core, joined with
// sync-flush boundaries (the stream stays one valid zlib stream; the Adler-32 checksums are
// combined). The bytes depend on the image, the options and the segment count, never on timing.
struct PngOptions {
  // Adaptive: per row, Up or Sub, whichever output has the smaller sum of absolute values (as
  // signed bytes).
  enum class Filter { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4, Adaptive = 5 };
  Filter filter = Filter::Adaptive;
  int level = 1;          // zlib level 0..9
  int strategy = 3;       // Z_RLE; 0 is Z_DEFAULT_STRATEGY
  int segments = 0;       // deflate segments; 0: one per core for large images, else 1
};

// The PNG file's bytes. An empty image cannot be encoded and raises EBitmapError
// "Saving bitmap failed.".
QByteArray encodePng(const QImage& image, const PngOptions& options = PngOptions());

// Writes the PNG to fileName. An existing file is replaced only once the new one is complete:
// the bytes go to a temporary file in the same folder that is then renamed, so on any failure
// the old file is unchanged and no partial file is left.
// Errors (EBitmapError): "Cannot create file "<full path>". <reason>" when the file cannot be
// created (missing folder, no permission, a read-only file of that name); "Saving bitmap
// failed." when encoding or writing fails afterwards.
void savePng(const QImage& image, const QString& fileName);

// Chooses the encoder by the file name's extension (case ignored): ".png" only; any other
// extension raises "Saving bitmap failed." and creates nothing.
void saveBitmapFile(const QImage& image, const QString& fileName);

QString savingBitmapFailedMessage();
