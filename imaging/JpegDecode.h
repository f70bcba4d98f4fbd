#pragma once

#include <QImage>
#include <QString>

// Decodes a JPEG file with libjpeg into premultiplied ARGB32, with the settings Qt's reader uses
// (so the same pixels): accurate integer DCT, fancy upsampling, grey and Adobe CMYK converted as
// Qt does. Scanlines are read one by one; a picture over maxSide wide or high is reduced to fit
// maxSide x maxSide while it is read (TRowReducer). A progressive or multi-scan picture, whose
// coefficients the library holds whole, takes that memory from the decode budget
// (TDecodeReservation). Returns a null image for anything that cannot be decoded, including
// entropy-coded data that ends before the picture does; then *reason, when given, says why if it
// is more than a file that is no picture (too many pixels, the decode budget, out of memory).
QImage decodeJpegFile(const QString& fileName, int maxSide, QString* reason = nullptr);
