#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QSaveFile>

#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The ending of the names of temporary files.
const QString kTemporarySuffix = QStringLiteral(".vellumark-tmp");

#ifdef Q_OS_UNIX
QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString reasonForMode(mode_t mode) {
  if (S_ISREG(mode))
    return {};
  if (S_ISDIR(mode))
    return QStringLiteral("Is a directory");
  if (S_ISFIFO(mode))
    return QStringLiteral("Is a named pipe");
  if (S_ISSOCK(mode))
    return QStringLiteral("Is a socket");
  if (S_ISCHR(mode) || S_ISBLK(mode))
    return QStringLiteral("Is a device");
  return QStringLiteral("Is not a regular file");
}

// True when the folder of the path refuses new files for lack of permission.
bool folderRefusesNewFiles(const QString& path) {
  const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
  if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0)
    return false;
  return errno == EACCES || errno == EPERM;
}

bool writeAll(int fd, const QByteArray& bytes, int& error) {
  qsizetype written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      return false;
    }
    written += qsizetype(n);
  }
  return true;
}

// Writes the bytes to a new file in the target's folder and renames it over the target, so the
// target is never seen half-written. The new file has no name while it is written where the file
// system allows it (a kill then leaves nothing); elsewhere it is "<name>.<pid>-<random>" followed by
// kTemporarySuffix and locked while written, which is what removeLeftoverTemporaryFiles goes by.
AtomicWriteFailure writeThroughTemporary(const QString& target, const QByteArray& bytes, bool exists, mode_t mode) {
  using Stage = AtomicWriteFailure::Stage;
  const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
  const QByteArray finalName = QFile::encodeName(target);
  const QByteArray temporary =
      QFile::encodeName(QStringLiteral("%1.%2-%3%4")
                            .arg(target, QString::number(::getpid()),
                                 QString::number(QRandomGenerator::global()->generate(), 36), kTemporarySuffix));
  int fd = -1;
  bool unnamed = false;
#ifdef O_TMPFILE
  fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  unnamed = fd >= 0;
#endif
  if (fd < 0) {
    fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
      return {Stage::Create, systemReason(errno)};
    (void)::flock(fd, LOCK_EX | LOCK_NB);
  }
  auto fail = [&](Stage stage, int error) {
    if (!unnamed)
      ::unlink(temporary.constData());
    ::close(fd);
    return AtomicWriteFailure{stage, systemReason(error)};
  };
  if (exists)
    (void)::fchmod(fd, mode);  // the old file's permissions, which the creation mask would narrow
  int error = 0;
  if (!writeAll(fd, bytes, error))
    return fail(Stage::Write, error);
  if (::fsync(fd) != 0 && errno != EINVAL)
    return fail(Stage::Write, errno);
  if (unnamed) {
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, temporary.constData(), AT_SYMLINK_FOLLOW) != 0)
      return fail(Stage::Create, errno);
    unnamed = false;
  }
  if (::rename(temporary.constData(), finalName.constData()) != 0)
    return fail(Stage::Create, errno);
  ::close(fd);
  return {};
}

std::function<void()>& inPlaceHook() {
  static std::function<void()> hook;
  return hook;
}

// Writes the whole buffer at the offset; false with errno set on failure.
bool writeAllAt(int fd, const char* data, qsizetype size, off_t at) {
  qsizetype written = 0;
  while (written < size) {
    const ssize_t n = ::pwrite(fd, data + written, size_t(size - written), at + off_t(written));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      if (n == 0)
        errno = ENOSPC;
      return false;
    }
    written += qsizetype(n);
  }
  return true;
}

// The file's whole content, read through fd; nullopt with errno set when it cannot be read.
std::optional<QByteArray> readAllAt(int fd, off_t size) {
  QByteArray bytes(qsizetype(size), Qt::Uninitialized);
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done), off_t(done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return std::nullopt;
    if (n == 0)
      break;
    done += qsizetype(n);
  }
  bytes.truncate(done);
  return bytes;
}

// The copy of the old bytes that an in-place write of the file keeps until its new bytes are
// complete: "<path>\n<old bytes>", in the user's runtime folder, named after the path.
QString journalPathFor(const QString& canonicalPath) {
  return userRuntimeFolder() + QStringLiteral("/vellumark-") +
         QString::fromLatin1(QCryptographicHash::hash(canonicalPath.toUtf8(), QCryptographicHash::Sha1).toHex().left(24)) +
         QStringLiteral(".journal");
}

// Puts the old bytes of an interrupted in-place write back, unless its writer still runs (it holds
// the journal locked). True when the journal is gone afterwards.
bool rollBack(const QString& journal) {
  const QByteArray name = QFile::encodeName(journal);
  const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;  // in use
  }
  struct stat st {};
  std::optional<QByteArray> content;
  if (::fstat(fd, &st) == 0)
    content = readAllAt(fd, st.st_size);
  bool done = false;
  if (content) {
    const qsizetype newline = content->indexOf('\n');
    if (newline > 0) {
      const QByteArray target = content->left(newline);
      const int out = ::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (out >= 0) {
        const qsizetype size = content->size() - newline - 1;
        done = writeAllAt(out, content->constData() + newline + 1, size, 0) && ::ftruncate(out, off_t(size)) == 0 &&
               (::fsync(out) == 0 || errno == EINVAL);
        ::close(out);
      } else {
        done = errno == ENOENT;  // nothing left to put back
      }
    }
  }
  if (done || !content || content->indexOf('\n') <= 0)
    ::unlink(name.constData());
  ::close(fd);
  return done;
}

// Writes the bytes over the existing file. A copy of the old bytes is kept in the runtime folder
// until every new byte is on disk, so that a kill in between is rolled back by the next start
// (recoverInterruptedWrites). The new size is reserved before the first byte changes, so a full
// disk or a file size limit leaves the old content as it was.
AtomicWriteFailure writeInPlace(const QString& path, const QByteArray& bytes) {
  using Stage = AtomicWriteFailure::Stage;
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return {Stage::Create, systemReason(errno)};
  int journalFd = -1;
  QByteArray journalName;
  auto fail = [&](Stage stage, int error) {
    ::close(fd);
    if (journalFd >= 0) {
      ::unlink(journalName.constData());
      ::close(journalFd);
    }
    return AtomicWriteFailure{stage, systemReason(error)};
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return fail(Stage::Create, errno);
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return {Stage::Create, reasonForMode(st.st_mode)};
  }
  // An earlier write of this file that was interrupted is rolled back first.
  const QString canonical = QFileInfo(path).canonicalFilePath();
  const QString journal = journalPathFor(canonical);
  if (!rollBack(journal))
    return fail(Stage::Create, EBUSY);
  if (::fstat(fd, &st) != 0)
    return fail(Stage::Create, errno);
  const std::optional<QByteArray> old = readAllAt(fd, st.st_size);
  if (!old)
    return fail(Stage::Create, errno);
  // The copy is complete before it takes the journal's name, and locked while the write goes on.
  journalName = QFile::encodeName(journal);
  const QByteArray part = journalName + '.' + QByteArray::number(::getpid()) + ".part";
  journalFd = ::open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (journalFd < 0) {
    journalName.clear();
    return fail(Stage::Create, errno);
  }
  const QByteArray header = QFile::encodeName(canonical) + '\n';
  if (::flock(journalFd, LOCK_EX) != 0 || !writeAllAt(journalFd, header.constData(), header.size(), 0) ||
      !writeAllAt(journalFd, old->constData(), old->size(), off_t(header.size())) ||
      (::fsync(journalFd) != 0 && errno != EINVAL) || ::rename(part.constData(), journalName.constData()) != 0) {
    const int error = errno;
    ::unlink(part.constData());
    return fail(Stage::Create, error);
  }
  // Puts the old bytes back after a failure once writing has begun.
  auto restore = [&](int error) {
    (void)writeAllAt(fd, old->constData(), old->size(), 0);
    (void)::ftruncate(fd, off_t(old->size()));
    return fail(Stage::Write, error);
  };
  const off_t oldSize = st.st_size;
  const off_t newSize = off_t(bytes.size());
  if (newSize > oldSize) {
    const int error = ::posix_fallocate(fd, 0, newSize);
    if (error != 0 && error != EOPNOTSUPP && error != EINVAL) {
      (void)::ftruncate(fd, oldSize);
      return fail(Stage::Write, error);
    }
  }
  const qsizetype half = bytes.size() / 2;
  if (!writeAllAt(fd, bytes.constData(), half, 0))
    return restore(errno);
  if (inPlaceHook())
    inPlaceHook()();
  if (!writeAllAt(fd, bytes.constData() + half, bytes.size() - half, off_t(half)))
    return restore(errno);
  if (::ftruncate(fd, newSize) != 0)
    return restore(errno);
  if (::fsync(fd) != 0 && errno != EINVAL)
    return restore(errno);
  ::unlink(journalName.constData());
  ::close(journalFd);
  if (::close(fd) != 0)
    return {Stage::Write, systemReason(errno)};
  return {};
}
#endif

}  // namespace

QString notARegularFileReason(const QString& path) {
#ifdef Q_OS_UNIX
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0)
    return {};
  return reasonForMode(st.st_mode);
#else
  const QFileInfo info(path);
  if (info.exists() && !info.isFile())
    return info.isDir() ? QStringLiteral("Is a directory") : QStringLiteral("Is not a regular file");
  return {};
#endif
}

QString canonicalTarget(const QString& path) {
  if (path.isEmpty())
    return {};
  QFileInfo info(path);
  // A chain of links ends at the first name that is not a link, which may not exist yet.
  for (int hops = 0; info.isSymLink() && !info.exists() && hops < 40; ++hops)
    info = QFileInfo(info.absoluteDir(), info.symLinkTarget());
  if (info.exists())
    return info.canonicalFilePath();
  const QString folder = info.absoluteDir().canonicalPath();
  if (folder.isEmpty())
    return {};
  return QDir(folder).filePath(info.fileName());
}

void ignoreFileSizeLimitSignal() {
#ifdef Q_OS_UNIX
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void ignoreBrokenPipeSignal() {
#ifdef Q_OS_UNIX
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

AtomicWriteFailure writeFileAtomically(const QString& path, const QByteArray& bytes) {
  using Stage = AtomicWriteFailure::Stage;
  if (path.isEmpty())
    return {Stage::Create, QStringLiteral("No file name")};
  // A link in the file's place: the file it leads to is written, and only when it is a file.
  QString target = path;
  if (const QFileInfo link(path); link.isSymLink()) {
    target = link.canonicalFilePath();
    if (target.isEmpty())
      return {Stage::Create, danglingLinkReason(link.symLinkTarget())};
  }
  if (const QString reason = notARegularFileReason(target); !reason.isEmpty())
    return {Stage::Create, reason};
  const bool exists = QFileInfo(target).isFile();
  if (exists) {
    // Opening for appending changes nothing and tells whether the file may be replaced.
    QFile existing(target);
    if (!existing.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
      return {Stage::Create, existing.errorString()};
  }
#ifdef Q_OS_UNIX
  struct stat st {};
  const mode_t mode = exists && ::stat(QFile::encodeName(target).constData(), &st) == 0 ? (st.st_mode & 07777) : 0666;
  const AtomicWriteFailure failure = writeThroughTemporary(target, bytes, exists, mode);
  if (failure.stage == Stage::Create && exists && folderRefusesNewFiles(target))
    return writeInPlace(target, bytes);
  return failure;
#else
  QSaveFile file(target);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    return {Stage::Create, file.errorString()};
  qsizetype written = 0;
  while (written < bytes.size()) {
    const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
    if (n <= 0) {
      const QString reason = file.errorString();
      file.cancelWriting();
      return {Stage::Write, reason};
    }
    written += qsizetype(n);
  }
  if (!file.commit())
    return {file.error() == QFileDevice::RenameError ? Stage::Create : Stage::Write, file.errorString()};
  return {};
#endif
}

QString danglingLinkReason(const QString& target) {
  return QStringLiteral("It is a link to %1, which does not exist").arg(target);
}

bool isTemporaryFileName(const QString& name) { return name.endsWith(kTemporarySuffix); }

int removeLeftoverTemporaryFiles(const QString& folder) {
  int removed = 0;
#ifdef Q_OS_UNIX
  const QDir dir(folder);
  const QStringList names = dir.entryList({QStringLiteral("*") + kTemporarySuffix},
                                          QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
  for (const QString& name : names) {
    // "<name>.<pid>-<random>.vellumark-tmp": a file of a process that still runs may be in use.
    const QString stem = name.chopped(kTemporarySuffix.size());
    bool number = false;
    const pid_t pid = pid_t(stem.mid(stem.lastIndexOf(u'.') + 1).section(u'-', 0, 0).toLongLong(&number));
    if (number && pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM))
      continue;
    const QByteArray path = QFile::encodeName(dir.filePath(name));
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      continue;
    // The writer holds a lock on it while it writes, where the file system has locks.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ::close(fd);
      continue;
    }
    if (::unlink(path.constData()) == 0)
      ++removed;
    ::close(fd);
  }
#else
  Q_UNUSED(folder);
#endif
  return removed;
}

QString userRuntimeFolder() {
  // The system's runtime folder of this user, or a folder of this user's own in the temporary folder.
  const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
#ifdef Q_OS_UNIX
  if (!xdg.isEmpty() && ::access(xdg.constData(), W_OK | X_OK) == 0)
    return QFile::decodeName(xdg);
  const QString own = QDir::tempPath() + QStringLiteral("/vellumark-") + QString::number(::getuid());
  const QByteArray ownName = QFile::encodeName(own);
  if (::mkdir(ownName.constData(), 0700) != 0 && errno != EEXIST)
    return own;
  struct stat st {};
  // Someone else's folder of that name is not used: its files could be read or replaced.
  if (::lstat(ownName.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
    return own;
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#else
  if (!xdg.isEmpty())
    return QFile::decodeName(xdg);
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
}

bool folderTakesNewFiles(const QString& folder) {
#ifdef Q_OS_UNIX
  return ::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0;
#else
  return QFileInfo(folder).isWritable();
#endif
}

int recoverInterruptedWrites() {
  int rolledBack = 0;
#ifdef Q_OS_UNIX
  const QDir folder(userRuntimeFolder());
  for (const QString& name : folder.entryList({QStringLiteral("vellumark-*.journal")}, QDir::Files | QDir::Hidden))
    if (rollBack(folder.filePath(name)))
      ++rolledBack;
#endif
  return rolledBack;
}

void setInPlaceWriteTestHook(std::function<void()> hook) {
#ifdef Q_OS_UNIX
  inPlaceHook() = std::move(hook);
#else
  Q_UNUSED(hook);
#endif
}
