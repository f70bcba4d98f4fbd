#pragma once

#include <QImage>
#include <QString>

#include <cstddef>

// Decodes a PNG file with libpng into premultiplied ARGB32, the same pixels Qt's reader gives.
// Ancillary chunks are skipped unread (only IHDR, PLTE, tRNS, IDAT and IEND are used), so no text,
// palette-suggestion or calibration chunk takes memory. Rows are read one by one; a picture over
// maxSide wide or high is reduced to fit maxSide x maxSide while it is read (TRowReducer), so it
// never needs memory of its full size. An interlaced picture that is reduced or has 16 bits per
// channel is read in bands of rows of at most the decode budget, the file read once more for
// each band, so neither does it. Returns a null image for anything that cannot be decoded,
// including pixel data that ends before the picture does; then *reason, when given, says why if
// it is more than a file that is no picture (too many pixels, the decode budget, out of memory).
// The PNG starts at `offset` in the file (an icon file holds one inside).
//
// The common pictures (8 bits per channel, not interlaced, grey, RGB, palette, grey with alpha or
// RGBA, within maxSide) are read whole instead: the image data inflated in one call straight into
// the result's memory and unfiltered 16 bytes at a time, several times faster. That path takes a
// file only when it has checked all of it (chunk order, checksums, the exact amount of image data,
// filter types, palette indices); any other file goes to libpng as before, so the pixels and the
// errors are libpng's.
QImage decodePngFile(const QString& fileName, int maxSide, QString* reason = nullptr, qint64 offset = 0);

// Allows or forbids the whole-buffer path (tests compare it with libpng); returns whether it was
// allowed before.
bool setPngWholeBufferPath(bool allowed);
// The number of pictures the whole-buffer path has decoded so far.
int pngWholeBufferDecodes();
// Tests: the most bytes of rows one band of an interlaced picture holds (the decode budget
// unless changed); returns the previous value.
size_t setPngBandBytes(size_t bytes);
