#pragma once

#include <QImage>
#include <QString>

#include <cstdio>

// A C stream over a file named by a QString (the decoding libraries read through one); closed
// when the object goes.
class TPictureFile {
public:
  explicit TPictureFile(const QString& fileName);
  ~TPictureFile();
  TPictureFile(const TPictureFile&) = delete;
  TPictureFile& operator=(const TPictureFile&) = delete;
  FILE* get() const { return FFile; }

private:
  FILE* FFile = nullptr;
};

// Memory that the decoders may take for their own work beyond the pictures they return (rows,
// tables, a full-size picture that has to be held before it is reduced): one budget for the whole
// process, shared by every decode running at the same moment. With the largest picture a decode
// returns (8192 x 8192, 256 MiB), one decode never takes more than 512 MiB beside the program.
constexpr size_t DecodeWorkMemoryLimit = size_t(256) * 1024 * 1024;

// The most pixels a picture may have: a larger one is refused before its pixels are read.
constexpr qint64 MaxPicturePixels = qint64(1) << 30;

// A share of the budget for the large work buffers of one decode. Made with the bytes needed:
// waits while other decodes hold too much of it, and is refused at once (ok() false) when the
// bytes exceed the whole budget. Released when the object goes. Never hold two at once.
class TDecodeReservation {
public:
  explicit TDecodeReservation(size_t bytes);
  ~TDecodeReservation();
  TDecodeReservation(const TDecodeReservation&) = delete;
  TDecodeReservation& operator=(const TDecodeReservation&) = delete;
  bool ok() const { return FGranted; }

private:
  size_t FBytes = 0;
  bool FGranted = false;
};
// The bytes of the budget held now, and the most ever held at one moment since the last reset
// (tests).
size_t decodeMemoryInUse();
size_t decodeMemoryPeak(bool reset);

// What a failed decode says after "Loading bitmap failed (<file name>).", when it is more than a
// file that cannot be read as a picture.
QString tooManyPixelsReason(qint64 width, qint64 height);
QString overDecodeBudgetReason(double bytes);
QString outOfMemoryReason();

// A new premultiplied ARGB32 picture of that size, uninitialised; null when the memory cannot be
// had. A large one asks the system for huge pages, which takes the page faults of filling it
// down by a factor of 512. The memory behind the pixels, from bits() on, is at least
// minimumBytes long (a decoder may use more room than the pixels need while it works).
QImage allocatePicture(int width, int height, size_t minimumBytes = 0);
