#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

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

// Writes the bytes over the existing file. The new size is reserved before the first byte changes,
// so a full disk or a file size limit leaves the old content as it was.
AtomicWriteFailure writeInPlace(const QString& path, const QByteArray& bytes) {
  using Stage = AtomicWriteFailure::Stage;
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return {Stage::Create, systemReason(errno)};
  auto fail = [fd](Stage stage, int error) {
    ::close(fd);
    return AtomicWriteFailure{stage, systemReason(error)};
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return fail(Stage::Create, errno);
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return {Stage::Create, reasonForMode(st.st_mode)};
  }
  const off_t oldSize = st.st_size;
  const off_t newSize = off_t(bytes.size());
  if (newSize > oldSize) {
    const int error = ::posix_fallocate(fd, 0, newSize);
    if (error != 0 && error != EOPNOTSUPP && error != EINVAL) {
      (void)::ftruncate(fd, oldSize);
      return fail(Stage::Write, error);
    }
  }
  qsizetype written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.constData() + written, size_t(bytes.size() - written), off_t(written));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return fail(Stage::Write, n < 0 ? errno : ENOSPC);
    written += qsizetype(n);
  }
  if (::ftruncate(fd, newSize) != 0)
    return fail(Stage::Write, errno);
  if (::fsync(fd) != 0 && errno != EINVAL)
    return fail(Stage::Write, errno);
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
