#include "platform/TemporaryFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <string>
#endif

const QString TemporaryFileSuffix = QStringLiteral(".vellumark-tmp");

QString temporaryFileNameFor(const QString& target, const TTemporaryOwner& owner, quint32 random) {
  QString process = QString::number(owner.Pid);
  if (owner.Start != 0)
    process += u'_' + QString::number(owner.Start, 36);
  return QStringLiteral("%1.%2-%3%4").arg(target, process, QString::number(random, 36), TemporaryFileSuffix);
}

TTemporaryOwner temporaryFileOwner(const QString& name) {
  if (!name.endsWith(TemporaryFileSuffix))
    return {};
  // "<name>.<pid>[_<start>]-<random>.vellumark-tmp"
  const QString stem = name.chopped(TemporaryFileSuffix.size());
  const QString process = stem.mid(stem.lastIndexOf(u'.') + 1).section(u'-', 0, 0);
  bool number = false, start = true;
  TTemporaryOwner owner;
  owner.Pid = process.section(u'_', 0, 0).toLongLong(&number);
  if (process.contains(u'_'))
    owner.Start = process.section(u'_', 1).toULongLong(&start, 36);
  if (!number || !start || owner.Pid <= 0)
    return {};
  return owner;
}

#ifdef Q_OS_UNIX

TTemporaryOwner currentTemporaryOwner() { return {qint64(::getpid()), 0}; }

bool processEnded(const TTemporaryOwner& owner) {
  return owner.Pid > 0 && ::kill(pid_t(owner.Pid), 0) != 0 && errno == ESRCH;
}

bool removeUnlessLocked(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  // The writer holds a lock on it while it writes, where the file system has locks.
  const bool inUse = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  const bool removed = !inUse && ::unlink(name.constData()) == 0;
  ::close(fd);
  return removed;
}

#endif

#ifdef Q_OS_WIN

namespace {

std::wstring nativePath(const QString& path) { return QFileInfo(path).absoluteFilePath().replace(u'/', u'\\').toStdWString(); }

bool writeAllOnWindows(HANDLE file, const QByteArray& bytes, DWORD& error) {
  qsizetype written = 0;
  while (written < bytes.size()) {
    const DWORD chunk = DWORD(std::min<qsizetype>(bytes.size() - written, 1 << 30));
    DWORD n = 0;
    if (!WriteFile(file, bytes.constData() + written, chunk, &n, nullptr) || n == 0) {
      error = GetLastError() ? GetLastError() : ERROR_DISK_FULL;
      return false;
    }
    written += qsizetype(n);
  }
  return true;
}

// Moves the temporary file over the target in one step. A file that another process has open (a reader
// of the settings file, a virus scanner) cannot be replaced until it is closed again, which takes
// moments: the move is tried again for up to two seconds before its error is given.
bool moveOver(const std::wstring& temporary, const std::wstring& target, DWORD& error) {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 200 ||
        GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES)
      return false;
    Sleep(10);
  }
}

}  // namespace

QString windowsErrorText(unsigned long error) {
  // The common causes in the words the other systems use, so a message reads the same everywhere.
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return QStringLiteral("Permission denied");
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return QStringLiteral("No such file or directory");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return QStringLiteral("No space left on device");
    case ERROR_DIRECTORY: return QStringLiteral("Not a directory");
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return QStringLiteral("File exists");
    default: break;
  }
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  QString reason = length ? QString::fromWCharArray(text, int(length)).trimmed() : QStringLiteral("Error %1").arg(error);
  if (text)
    LocalFree(text);
  // Messages end with a full stop; the callers add their own.
  while (reason.endsWith(u'.'))
    reason.chop(1);
  return reason;
}

namespace {
// When the process started (100 ns units since 1601), or 0 when that cannot be told.
quint64 startTimeOf(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
    return 0;
  return (quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}
}  // namespace

TTemporaryOwner currentTemporaryOwner() { return {qint64(GetCurrentProcessId()), startTimeOf(GetCurrentProcess())}; }

bool processEnded(const TTemporaryOwner& owner) {
  if (owner.Pid <= 0)
    return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(owner.Pid));
  if (!process)
    return GetLastError() == ERROR_INVALID_PARAMETER;  // no process of that number
  DWORD code = 0;
  bool ended = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
  // The number given to a later process: the owner has ended.
  if (!ended && owner.Start != 0) {
    const quint64 started = startTimeOf(process);
    ended = started != 0 && started != owner.Start;
  }
  CloseHandle(process);
  return ended;
}

bool removeUnlessLocked(const QString& path) {
  // A writer keeps its temporary file open without sharing deletion: the removal then fails.
  return DeleteFileW(nativePath(path).c_str()) != 0;
}

int writeThroughTemporaryOnWindows(const QString& target, const QByteArray& bytes, QString& reason) {
  const std::wstring finalName = nativePath(target);
  const std::wstring temporary =
      nativePath(temporaryFileNameFor(target, currentTemporaryOwner(), QRandomGenerator::global()->generate()));
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = windowsErrorText(GetLastError());
    return 1;
  }
  const auto fail = [&](int stage, DWORD error) {
    CloseHandle(file);
    DeleteFileW(temporary.c_str());
    reason = windowsErrorText(error);
    return stage;
  };
  DWORD error = 0;
  if (!writeAllOnWindows(file, bytes, error))
    return fail(2, error);
  if (!FlushFileBuffers(file))
    return fail(2, GetLastError());
  CloseHandle(file);
  if (!moveOver(temporary, finalName, error)) {
    DeleteFileW(temporary.c_str());
    reason = windowsErrorText(error);
    return 1;
  }
  return 0;
}

#endif
