#include "platform/FileLock.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

TFileLock::~TFileLock() { Unlock(); }

#ifdef Q_OS_UNIX
TFileLock::Outcome TFileLock::TryLock(const QString& path) {
  Unlock();
  FReason.clear();
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    FReason = QString::fromLocal8Bit(std::strerror(errno));
    return Outcome::Failed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK || error == EINTR)
      return Outcome::Busy;
    FReason = QString::fromLocal8Bit(std::strerror(error));
    return Outcome::Failed;
  }
  // The holder before removed the file as it let go: a lock on that file guards nothing, since the
  // next one makes a new file of that name. Held only while the name still leads to this file.
  struct stat held {}, named {};
  if (::fstat(fd, &held) != 0 || ::stat(name.constData(), &named) != 0 || held.st_dev != named.st_dev ||
      held.st_ino != named.st_ino) {
    ::close(fd);
    return Outcome::Busy;
  }
  FFd = fd;
  FPath = path;
  FLocked = true;
  return Outcome::Locked;
}

void TFileLock::Unlock() {
  if (!FLocked)
    return;
  ::unlink(QFile::encodeName(FPath).constData());  // while still held, see TryLock
  ::close(FFd);
  FFd = -1;
  FLocked = false;
}
#endif

#ifdef Q_OS_WIN
TFileLock::Outcome TFileLock::TryLock(const QString& path) {
  Unlock();
  FReason.clear();
  const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION)
      return Outcome::Busy;  // its holder is removing it
    FReason = QStringLiteral("Error %1").arg(error);
    wchar_t* text = nullptr;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr) != 0 &&
        text != nullptr) {
      FReason = QString::fromWCharArray(text).trimmed();
      LocalFree(text);
    }
    return Outcome::Failed;
  }
  OVERLAPPED at{};
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    CloseHandle(handle);
    return Outcome::Busy;
  }
  FHandle = handle;
  FPath = path;
  FLocked = true;
  return Outcome::Locked;
}

void TFileLock::Unlock() {
  if (!FLocked)
    return;
  OVERLAPPED at{};
  UnlockFileEx(static_cast<HANDLE>(FHandle), 0, 1, 0, &at);
  CloseHandle(static_cast<HANDLE>(FHandle));
  FHandle = nullptr;
  FLocked = false;
  // Removed when nobody else has it open; otherwise it stays for the next holder, empty and unlocked.
  DeleteFileW(reinterpret_cast<const wchar_t*>(FPath.utf16()));
}
#endif
