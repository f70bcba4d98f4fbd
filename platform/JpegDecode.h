#pragma once

#include <QImage>
#include <QString>

// Decodes a JPEG file with libjpeg into premultiplied ARGB32, with the settings Qt's reader uses
// (so the same pixels): accurate integer DCT, fancy upsampling, grey and Adobe CMYK converted as
// Qt does. Scanlines are read one by one; a picture over maxSide wide or high is reduced to fit
// maxSide x maxSide while it is read (TRowReducer). The library's own memory is limited to
// DecodeWorkMemoryLimit. Returns a null image for anything that cannot be decoded, including
// entropy-coded data that ends before the picture does.
QImage decodeJpegFile(const QString& fileName, int maxSide);
