#include "platform/PictureFile.h"

#include <QFile>

TPictureFile::TPictureFile(const QString& fileName) {
#ifdef Q_OS_WIN
  FFile = _wfopen(reinterpret_cast<const wchar_t*>(fileName.utf16()), L"rb");
#else
  FFile = std::fopen(QFile::encodeName(fileName).constData(), "rb");
#endif
}

TPictureFile::~TPictureFile() {
  if (FFile)
    std::fclose(FFile);
}
