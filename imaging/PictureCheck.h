#pragma once

#include <QByteArrayView>
#include <QString>

// What a picture file holds, told by its first bytes, and whether the pixel data of the formats
// that Qt's readers decode is all there. Qt's readers fill what a cut file lacks (with black rows,
// or with memory never written), so a file whose data ends before its picture does is refused
// before they see it.

enum class TPictureKind { Png, Jpeg, Gif, Bmp, Tiff, Ico, WebP, Unknown };
TPictureKind pictureKindOf(QByteArrayView head);  // the first 12 bytes are enough

// True when the file's bytes hold everything its first picture needs:
// - BMP: the rows the header promises (uncompressed), or run-length data up to its end mark or
//   its last row;
// - GIF: every block up to the end of the first image's data;
// - TIFF: every strip or tile of the first directory (a BigTIFF file is left to the reader);
// - ICO: the first icon's bytes;
// - PNG: every chunk up to IEND;
// - JPEG: every marker segment and scan up to the end-of-image marker.
// Other kinds: true. PNG and JPEG files are not checked before decoding (their decoders find the
// end themselves); for them it tells why a decode failed.
bool pictureDataComplete(TPictureKind kind, QByteArrayView file);

// Where the first icon of an ICO file lies; a PNG there is decoded as a PNG. Empty when the
// directory is not there.
struct TIconEntry {
  qint64 offset = 0;
  qint64 size = 0;
  bool png = false;
};
TIconEntry firstIconOf(QByteArrayView file);
