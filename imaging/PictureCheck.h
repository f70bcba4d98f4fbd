#pragma once

#include <QByteArrayView>
#include <QString>

// What a picture file holds, told by its first bytes, and whether the pixel data of the formats
// that Qt's readers decode is all there. Qt's readers fill what a cut file lacks (with black rows,
// or with memory never written), so a file whose data ends before its picture does is refused
// before they see it.

enum class TPictureKind { Png, Jpeg, Gif, Bmp, Tiff, Ico, WebP, Unknown };
TPictureKind pictureKindOf(QByteArrayView head);  // the first 12 bytes are enough

// True when the file's bytes hold everything its first picture needs (sizes computed so that no
// header can overflow them):
// - BMP: the rows the header promises (uncompressed), or run-length data that writes every pixel
//   of every row (Qt's reader leaves pixels that a jump, a row ended early or an early end of the
//   picture skips unwritten, so such data is refused too);
// - GIF: every block up to the first image's data, and LZW data that yields all the image's
//   pixels before its end code or its last sub-block (only string lengths are counted, so a small
//   file claiming a huge picture is refused without decoding it); an image of no pixels or of an
//   LZW code size outside 1 to 11 holds none of the picture;
// - TIFF: every strip or tile of the first directory, and for uncompressed data the bytes of the
//   rows each covers (a BigTIFF file is left to the reader);
// - ICO: the first icon's bytes, and for an icon that is no PNG its header, palette, colour rows
//   and mask rows;
// - WebP: the size its RIFF header gives, and every chunk up to the first image chunk;
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
