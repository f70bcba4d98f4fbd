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

// Memory that one decoder may take for its own work beyond the picture it returns (rows, tables,
// a full-size picture that has to be held before it is reduced).
constexpr size_t DecodeWorkMemoryLimit = size_t(512) * 1024 * 1024;

// A new premultiplied ARGB32 picture of that size, uninitialised; null when the memory cannot be
// had. A large one asks the system for huge pages, which takes the page faults of filling it
// down by a factor of 512.
QImage allocatePicture(int width, int height);
