#pragma once

#include "imaging/Deflate.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// PNG encoding of a premultiplied ARGB32 image.
//
// The file: 8 bits per channel, red, green, blue and alpha (colour type 6), not interlaced,
// straight alpha: every colour channel is divided by the pixel's alpha (rounded to nearest),
// and a fully transparent pixel is written as 0, 0, 0, 0. Chunks: IHDR, IDAT, IEND only; no
// metadata of our own.
//
// Speed: each row is filtered with the better of Up and Sub by default, and the data is
// compressed (imaging/Deflate.h) as bands of rows, each an independent deflate segment, joined
// with sync-flush boundaries into one valid zlib stream (the Adler-32 checksums are combined).
// Bands can be encoded on any thread in any order. The bytes depend on the image, the options
// and the band count, never on timing.
struct PngOptions {
  // Adaptive: per row, Up or Sub, whichever output has the smaller sum of absolute values (as
  // signed bytes).
  enum class Filter { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4, Adaptive = 5 };
  Filter filter = Filter::Adaptive;
  int segments = 0;  // bands; 0: pngBandCount()
};

// The number of bands a width x height image is encoded in by default: one per 2^19 pixels,
// rounded up, at most one per row.
int pngBandCount(int width, int height);

// The compressed image data of one band of rows.
struct PngSegment {
  DeflateBytes deflated;
  uint32_t adler = 1;   // Adler-32 of the band's filtered bytes
  uint64_t length = 0;  // filtered bytes
};

// Filters and compresses one band, given row by row as premultiplied ARGB32 pixels. rowBefore
// is the image row just above the band (for the Up filter), null for the first band; last
// marks the image's last band; rows is the number of rows expected (room is reserved for them).
class PngBandEncoder {
public:
  PngBandEncoder(int width, PngOptions::Filter filter, const uint32_t* rowBefore, bool last, int rows = 0);
  ~PngBandEncoder();
  void addRow(const uint32_t* premultipliedRow);
  PngSegment finish();

private:
  struct State;
  std::unique_ptr<State> FState;
};

// The length field of a chunk of `dataBytes` bytes; nullopt beyond 2^31 - 1 bytes, the most a PNG
// chunk may hold.
std::optional<uint32_t> pngChunkLength(uint64_t dataBytes);

// The PNG file of a width x height image from its bands, in order. Image data too large for one
// chunk raises "Saving bitmap failed.".
QByteArray assemblePng(int width, int height, const std::vector<PngSegment>& bands);

// The PNG file's bytes. An empty image cannot be encoded and raises EBitmapError
// "Saving bitmap failed.".
QByteArray encodePng(const QImage& image, const PngOptions& options = PngOptions());

// Writes the PNG to fileName. An existing file is replaced only once the new one is complete:
// the bytes go to a temporary file in the same folder that is then renamed, so on any failure
// the old file is unchanged and no partial file is left.
// Errors (EBitmapError): "Cannot create file "<full path>". <reason>" when the file cannot be
// created (missing folder, no permission, a read-only file of that name); "Cannot write file
// "<full path>". <reason>" when writing its bytes fails afterwards (disk full, a size limit);
// "Saving bitmap failed." when encoding fails.
void savePng(const QImage& image, const QString& fileName);
// The same, for the bytes of an encoded PNG.
void savePngBytes(const QByteArray& png, const QString& fileName);

// Chooses the encoder by the file name's extension (case ignored): ".png" only; any other
// extension raises "Saving bitmap failed." and creates nothing.
void saveBitmapFile(const QImage& image, const QString& fileName);

QString savingBitmapFailedMessage();
