#pragma once

#include <QImage>
#include <QString>

// Decodes a PNG file with libpng into premultiplied ARGB32, the same pixels Qt's reader gives.
// Ancillary chunks are skipped unread (only IHDR, PLTE, tRNS, IDAT and IEND are used), so no text,
// palette-suggestion or calibration chunk takes memory. Rows are read one by one; a picture over
// maxSide wide or high is reduced to fit maxSide x maxSide while it is read (TRowReducer), so it
// never needs memory of its full size (an interlaced one does, up to DecodeWorkMemoryLimit, and
// fails beyond). Returns a null image for anything that cannot be decoded, including pixel data
// that ends before the picture does; then *reason, when given, says why if it is more than a
// file that is no picture (too many pixels, the decode budget, out of memory). The PNG starts at
// `offset` in the file (an icon file holds one inside).
QImage decodePngFile(const QString& fileName, int maxSide, QString* reason = nullptr, qint64 offset = 0);
