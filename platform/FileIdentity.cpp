#include "platform/FileIdentity.h"

#include <QDir>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

std::optional<TFileIdentity> fileIdentity(const QString& path) {
  if (path.isEmpty())
    return std::nullopt;
#if defined(Q_OS_UNIX)
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0)
    return std::nullopt;
  return TFileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
#elif defined(Q_OS_WIN)
  // No access is asked for: only the file's information is read. Backup semantics open a folder too.
  const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
  const HANDLE file = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info {};
  const BOOL read = ::GetFileInformationByHandle(file, &info);
  ::CloseHandle(file);
  if (!read)
    return std::nullopt;
  return TFileIdentity{quint64(info.dwVolumeSerialNumber),
                       (quint64(info.nFileIndexHigh) << 32) | quint64(info.nFileIndexLow)};
#else
  return std::nullopt;
#endif
}

std::optional<TFileState> fileState(const QString& path) {
  const QFileInfo info(path);
  if (!info.isFile())
    return std::nullopt;
  const std::optional<TFileIdentity> identity = fileIdentity(path);
  if (!identity)
    return std::nullopt;
  return TFileState{*identity, info.size(), info.lastModified().toMSecsSinceEpoch()};
}
