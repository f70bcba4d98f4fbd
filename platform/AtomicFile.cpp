#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

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
  if (const QString reason = notARegularFileReason(path); !reason.isEmpty())
    return {Stage::Create, reason};
  const bool exists = QFileInfo(path).isFile();
  if (exists) {
    // Opening for appending changes nothing and tells whether the file may be replaced.
    QFile existing(path);
    if (!existing.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
      return {Stage::Create, existing.errorString()};
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
#ifdef Q_OS_UNIX
    if (exists && folderRefusesNewFiles(path))
      return writeInPlace(path, bytes);
#endif
    return {Stage::Create, file.errorString()};
  }
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
}
