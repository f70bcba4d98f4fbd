#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Picture decoding.
//
// - Accepted extensions, case ignored: .bmp .jpg .jpeg .png .gif .tif .tiff .ico .hdp. Any other
//   extension is refused before the file is opened.
// - The content decides the decoder, not the extension (a PNG named .jpg decodes as PNG): PNG,
//   JPEG, GIF, BMP, TIFF, ICO and WebP; any other content fails. There is no HD Photo decoder: an
//   .hdp file is accepted by name and then fails to decode.
// - A picture of more than MaxPicturePixels pixels (PictureFile.h) is refused before its pixels
//   are read, saying so.
// - Only the first frame of an animated or multi-page file is read.
// - A picture over 8192 pixels wide or high is reduced to fit 8192 x 8192, ratio kept, with the
//   bilinear rule of drawBilinear (Resample.h), not by area averaging. PNG and JPEG are read
//   row by row and reduced while they are read, so their full size never takes memory (PngDecode.h,
//   JpegDecode.h); GIF, BMP, TIFF, WebP and icons that are no PNG go through QImageReader, whose
//   whole picture (at least 4 bytes a pixel, 8 for 16 bits a channel) is counted as work memory,
//   so such a picture larger than the budget is refused with the budget's reason before it is read.
// - Whatever the files hold, all decodes running at once take at most DecodeWorkMemoryLimit
//   (PictureFile.h) for their work beyond the pictures they return: one budget for the process
//   (TDecodeReservation). PNG ancillary chunks are not read at all, also in an icon file, and
//   pixel data that ends before the picture does (a file cut short, or closed properly after too
//   little data, or run-length data that skips pixels) is refused in every format rather than
//   filled in (PictureCheck.h): a picture never holds memory that was not written. For GIF, BMP,
//   TIFF, ICO and WebP the size limits are checked first, then the data, before Qt's reader reads
//   any pixel.
// - The result is premultiplied ARGB32 (blue, green, red, alpha in memory), for normal files the
//   same pixels QImageReader gives.
// - Failure of any kind raises EBitmapError "Loading bitmap failed (<file name>)." followed by the
//   reason: a name of another type, a file that cannot be opened, is empty or holds no picture of a
//   format that can be read (an HD Photo picture among them), a file that ends before its picture
//   does, data the decoder refuses, no decoder installed for the format, too many pixels, the
//   decode budget, memory running out.
//
// Decoding the same unchanged file again (same absolute path, size, modification time, change
// time and file identity: device and inode on Unix) returns the very same shared QImage without decoding it twice, as long as someone still holds
// it (a run rendering it, an open preview window, a kept picture within its budget). A cached picture that nobody else holds any more is dropped at the next
// decode, so the cache costs no memory of its own beyond that.
QImage decodePicture(const QString& fileName);

// True when the file's name ends in one of the accepted extensions above (case ignored).
bool hasPictureExtension(const QString& fileName);

// Decodes the named files on the machine's cores ahead of their use (each file once, however
// often it is named; none that the cache holds already). Until the object is destroyed, decodePicture of one of them, still unchanged,
// returns the picture decoded here, waiting for it while it is being decoded (or decoding it
// itself when no worker has started on it yet), and the pictures are held here so they stay
// cached. A file that fails to decode here is decoded again by decodePicture, which raises its
// error as usual, so errors come exactly where and when they would without the prefetch. A worker
// that cannot be started (whatever starting a thread throws) is done without: the pictures no
// worker takes are decoded by decodePicture on the thread that asks for them. The destructor waits
// for the workers.
class TPicturePrefetch {
public:
  explicit TPicturePrefetch(const QStringList& fileNames);
  ~TPicturePrefetch();
  TPicturePrefetch(const TPicturePrefetch&) = delete;
  TPicturePrefetch& operator=(const TPicturePrefetch&) = delete;
  // The number of distinct existing files it decodes (not cached when it was made).
  int FileCount() const;

private:
  struct Data;
  std::unique_ptr<Data> FData;
};

// Tests: run before each prefetch worker is started, on the starting thread; what it throws stands
// for what starting the thread throws. Returns the hook it replaces.
std::function<void()> setPrefetchStartHook(std::function<void()> hook);

// Forgets every cached picture (tests and benchmarks use it to time real decoding).
void clearDecodeCache();
// The number of pictures the cache holds.
int decodeCacheSize();

// The largest width or height kept by decoding.
constexpr int MaxPictureSide = 8192;

// "Loading bitmap failed (<file name>).", followed by the reason when there is one.
QString loadingBitmapFailedMessage(const QString& fileName, const QString& reason = {});
