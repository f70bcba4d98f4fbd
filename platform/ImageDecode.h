#pragma once

#include <QImage>
#include <QString>

// Picture decoding.
//
// - Accepted extensions, case ignored: .bmp .jpg .jpeg .png .gif .tif .tiff .ico .hdp. Any other
//   extension is refused before the file is opened.
// - The content decides the decoder, not the extension (a PNG named .jpg decodes as PNG). There
//   is no HD Photo decoder: an .hdp file is accepted by name and then fails to decode.
// - Only the first frame of an animated or multi-page file is read.
// - A picture over 8192 pixels wide or high is reduced to fit 8192 x 8192, ratio kept, with a
//   linear filter. The size in the header is checked before any pixel memory is taken, so a
//   header that claims 100000 x 100000 pixels fails without a giant allocation (decoding at most
//   a reduced 8192 x 8192 picture).
// - The result is premultiplied ARGB32 (blue, green, red, alpha in memory).
// - Failure of any kind raises EBitmapError "Loading bitmap failed (<file name>)."
//
// Decoding the same unchanged file again (same absolute path, size and modification time)
// returns the very same shared QImage without decoding it twice, as long as someone still holds
// it (a frame showing it). A cached picture that nobody else holds any more is dropped at the next
// decode, so the cache costs no memory of its own beyond that.
QImage decodePicture(const QString& fileName);

// Forgets every cached picture (tests and benchmarks use it to time real decoding).
void clearDecodeCache();
// The number of pictures the cache holds.
int decodeCacheSize();

// The largest width or height kept by decoding.
constexpr int MaxPictureSide = 8192;

// "Loading bitmap failed (<file name>)."
QString loadingBitmapFailedMessage(const QString& fileName);
