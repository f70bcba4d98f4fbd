#include "platform/AtomicFile.h"

#include "platform/TemporaryFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QStandardPaths>

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
// TemporaryFileSuffix and locked while written, which is what removeLeftoverTemporaryFiles goes by.
AtomicWriteFailure writeThroughTemporary(const QString& target, const QByteArray& bytes, bool exists, mode_t mode) {
  using Stage = AtomicWriteFailure::Stage;
  const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
  const QByteArray finalName = QFile::encodeName(target);
  const QByteArray temporary =
      QFile::encodeName(temporaryFileNameFor(target, currentTemporaryOwner(), QRandomGenerator::global()->generate()));
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

// ---- The journal of an in-place write: a copy of the old bytes that the write keeps in the user's
// runtime folder until its new bytes are complete, named after the file's canonical path.
//
// Its form, every number 8 bytes little-endian: kJournalMagic, the file's device and inode, the
// length of its path and the path (any bytes, line breaks included), the length of the old bytes and
// the old bytes, the length of the new bytes and the new bytes, and last a SHA-256 of all before it.
// With the new bytes at hand, the next start can tell the half-written file of that write from a
// file written since then, and rolls back only the former.
const QByteArray kJournalMagic = QByteArrayLiteral("VELLUMARK-JOURNAL-2\n");

QString journalPathFor(const QString& canonicalPath) {
  const QString runtime = userRuntimeFolder();
  if (runtime.isEmpty())
    return {};
  return runtime + QStringLiteral("/vellumark-") +
         QString::fromLatin1(QCryptographicHash::hash(canonicalPath.toUtf8(), QCryptographicHash::Sha1).toHex().left(24)) +
         QStringLiteral(".journal");
}

struct Journal {
  quint64 device = 0;
  quint64 inode = 0;
  QByteArray target;  // the file's path, as the system names it
  QByteArray oldBytes;
  QByteArray newBytes;
};

void appendNumber(QByteArray& out, quint64 number) {
  for (int i = 0; i < 8; ++i)
    out += char((number >> (8 * i)) & 0xFF);
}

QByteArray journalBytes(const Journal& journal) {
  QByteArray out = kJournalMagic;
  appendNumber(out, journal.device);
  appendNumber(out, journal.inode);
  for (const QByteArray* field : {&journal.target, &journal.oldBytes, &journal.newBytes}) {
    appendNumber(out, quint64(field->size()));
    out += *field;
  }
  out += QCryptographicHash::hash(out, QCryptographicHash::Sha256);
  return out;
}

// The journal in these bytes; nullopt for anything else (an older form, a damaged copy).
std::optional<Journal> parseJournal(const QByteArray& bytes) {
  const qsizetype hashSize = 32;
  if (!bytes.startsWith(kJournalMagic) || bytes.size() < kJournalMagic.size() + hashSize)
    return std::nullopt;
  const QByteArray body = bytes.chopped(hashSize);
  if (QCryptographicHash::hash(body, QCryptographicHash::Sha256) != bytes.right(hashSize))
    return std::nullopt;
  qsizetype at = kJournalMagic.size();
  auto number = [&](quint64& value) {
    if (body.size() - at < 8)
      return false;
    value = 0;
    for (int i = 0; i < 8; ++i)
      value |= quint64(quint8(body[at + i])) << (8 * i);
    at += 8;
    return true;
  };
  auto field = [&](QByteArray& value) {
    quint64 length = 0;
    if (!number(length) || length > quint64(body.size() - at))
      return false;
    value = body.mid(at, qsizetype(length));
    at += qsizetype(length);
    return true;
  };
  Journal journal;
  if (!number(journal.device) || !number(journal.inode) || !field(journal.target) || !field(journal.oldBytes) ||
      !field(journal.newBytes) || at != body.size() || journal.target.isEmpty())
    return std::nullopt;
  return journal;
}

// True when the content is what an in-place write of the journal's new bytes leaves when it stops
// part way, or what a put-back of the old bytes after a failed write leaves when that stops part way:
// every byte is the new or the old byte of its place (beyond the old length, the zeros of the room
// reserved for a longer file), at the length of the old or of the reserved file. Not for the complete
// new content (only the journal's removal was missed), nor for anything else, such as a file written
// since then.
bool isInterruptedWrite(const QByteArray& content, const Journal& journal) {
  const QByteArray& before = journal.oldBytes;
  const QByteArray& after = journal.newBytes;
  const qsizetype size = content.size();
  if (content == after || size < before.size() || size > std::max(before.size(), after.size()))
    return false;
  for (qsizetype i = 0; i < size; ++i) {
    const char c = content[i];
    if (c != (i < before.size() ? before[i] : '\0') && (i >= after.size() || c != after[i]))
      return false;
  }
  return true;
}

// Puts the old bytes back over the file open as fd; false with errno set when that fails.
bool putBack(int fd, const QByteArray& oldBytes) {
  return writeAllAt(fd, oldBytes.constData(), oldBytes.size(), 0) && ::ftruncate(fd, off_t(oldBytes.size())) == 0 &&
         (::fsync(fd) == 0 || errno == EINVAL);
}

enum class Settled { Nothing, RolledBack, Discarded, InUse, Failed };

// What the journal's file holds now decides: the half-written file of that write gets its old bytes
// back; a file that is missing, another file, or one written since keeps what it holds, and the
// journal is discarded. A journal that cannot be read as one (an older form without the new bytes,
// which cannot show whether the file was written since) is discarded too. A journal whose old bytes
// could not be put back stays for the next start.
Settled settleJournal(int journalFd) {
  struct stat st {};
  std::optional<QByteArray> bytes;
  if (::fstat(journalFd, &st) == 0)
    bytes = readAllAt(journalFd, st.st_size);
  if (!bytes)
    return Settled::Failed;
  const std::optional<Journal> journal = parseJournal(*bytes);
  if (!journal)
    return Settled::Discarded;
  const int fd = ::open(journal->target.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT ? Settled::Discarded : Settled::Failed;
  Settled settled = Settled::Discarded;
  if (::fstat(fd, &st) != 0) {
    settled = Settled::Failed;
  } else if (S_ISREG(st.st_mode) && quint64(st.st_dev) == journal->device && quint64(st.st_ino) == journal->inode &&
             st.st_size <= off_t(std::max(journal->oldBytes.size(), journal->newBytes.size()))) {
    const std::optional<QByteArray> content = readAllAt(fd, st.st_size);
    if (!content)
      settled = Settled::Failed;
    else if (isInterruptedWrite(*content, *journal))
      settled = putBack(fd, journal->oldBytes) ? Settled::RolledBack : Settled::Failed;
  }
  ::close(fd);
  return settled;
}

// Settles the journal of an interrupted in-place write, unless its writer still runs (it holds the
// journal locked). It is removed unless it is in use or its old bytes could not be put back.
Settled settle(const QString& journal) {
  const QByteArray name = QFile::encodeName(journal);
  const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT ? Settled::Nothing : Settled::Failed;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return Settled::InUse;
  }
  const Settled settled = settleJournal(fd);
  if (settled == Settled::RolledBack || settled == Settled::Discarded)
    ::unlink(name.constData());
  ::close(fd);
  return settled;
}

// True when the process of that number has ended (a process of another user still counts as running).
// Writes the journal to its path: complete under a name of this process first ("<journal>.<pid>.part",
// which the next start removes when a kill left it), then renamed. The descriptor returned holds it
// locked while the write goes on; -1 with errno set on failure, and the stage it failed at: making
// it, or writing its bytes (a full disk or a size limit, which the new bytes would meet as well).
int writeJournal(const QByteArray& journalName, const Journal& journal, AtomicWriteFailure::Stage& stage) {
  const QByteArray part = journalName + '.' + QByteArray::number(::getpid()) + ".part";
  stage = AtomicWriteFailure::Stage::Create;
  const int fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0)
    return -1;
  const QByteArray bytes = journalBytes(journal);
  const bool written = ::flock(fd, LOCK_EX) == 0 && writeAllAt(fd, bytes.constData(), bytes.size(), 0) &&
                       (::fsync(fd) == 0 || errno == EINVAL);
  if (!written)
    stage = AtomicWriteFailure::Stage::Write;
  if (!written || ::rename(part.constData(), journalName.constData()) != 0) {
    const int error = errno;
    ::unlink(part.constData());
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Checks the file open as fd, settles an earlier interrupted write of it, and makes the journal of
// the write to come: its old bytes, the new ones, and where it goes.
AtomicWriteFailure prepareInPlace(int fd, const QString& path, const QByteArray& bytes, Journal& journal,
                                  QByteArray& journalName) {
  using Stage = AtomicWriteFailure::Stage;
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return {Stage::Create, systemReason(errno)};
  if (!S_ISREG(st.st_mode))
    return {Stage::Create, reasonForMode(st.st_mode)};
  const QString canonical = QFileInfo(path).canonicalFilePath();
  const QString journalPath = journalPathFor(canonical);
  if (journalPath.isEmpty())
    return {Stage::Create, QStringLiteral("No runtime folder can be made for a copy of its old bytes")};
  const Settled earlier = settle(journalPath);
  if (earlier == Settled::InUse || earlier == Settled::Failed)
    return {Stage::Create, systemReason(EBUSY)};
  if (::fstat(fd, &st) != 0)
    return {Stage::Create, systemReason(errno)};
  const std::optional<QByteArray> old = readAllAt(fd, st.st_size);
  if (!old)
    return {Stage::Create, systemReason(errno)};
  journal = {quint64(st.st_dev), quint64(st.st_ino), QFile::encodeName(canonical), *old, bytes};
  journalName = QFile::encodeName(journalPath);
  return {};
}

// Writes the new bytes over the old ones: room for them first, so that a full disk or a file size
// limit is met before any old byte changes, then the bytes, the new length and a flush to disk.
// 0, or the system's error number of the step that failed.
int overwrite(int fd, const QByteArray& bytes, off_t oldSize) {
  const off_t newSize = off_t(bytes.size());
  if (newSize > oldSize) {
    const int error = ::posix_fallocate(fd, 0, newSize);
    if (error != 0 && error != EOPNOTSUPP && error != EINVAL)
      return error;
  }
  const qsizetype half = bytes.size() / 2;
  if (!writeAllAt(fd, bytes.constData(), half, 0))
    return errno;
  if (inPlaceHook())
    inPlaceHook()();
  if (!writeAllAt(fd, bytes.constData() + half, bytes.size() - half, off_t(half)))
    return errno;
  if (::ftruncate(fd, newSize) != 0)
    return errno;
  if (::fsync(fd) != 0 && errno != EINVAL)
    return errno;
  return 0;
}

// Writes the bytes over the existing file. The journal keeps the old bytes in the runtime folder
// until every new byte is on disk, so that a kill in between is rolled back by the next start
// (recoverInterruptedWrites). A write that fails puts the old bytes back at once; when even that
// fails, the journal stays for the next start.
AtomicWriteFailure writeInPlace(const QString& path, const QByteArray& bytes) {
  using Stage = AtomicWriteFailure::Stage;
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return {Stage::Create, systemReason(errno)};
  Journal journal;
  QByteArray journalName;
  if (const AtomicWriteFailure refused = prepareInPlace(fd, path, bytes, journal, journalName)) {
    ::close(fd);
    return refused;
  }
  Stage journalStage = Stage::None;
  const int journalFd = writeJournal(journalName, journal, journalStage);
  if (journalFd < 0) {
    const int error = errno;
    ::close(fd);
    return {journalStage, systemReason(error)};
  }
  const int error = overwrite(fd, bytes, off_t(journal.oldBytes.size()));
  if (error == 0 || putBack(fd, journal.oldBytes))
    ::unlink(journalName.constData());
  ::close(journalFd);
  if (error != 0) {
    ::close(fd);
    return {Stage::Write, systemReason(error)};
  }
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

AtomicWriteFailure writeTargetOf(const QString& path, QString& target) {
  using Stage = AtomicWriteFailure::Stage;
  // A link in the file's place: the file it leads to is written, and only when it is a file.
  target = path;
  if (const QFileInfo link(path); link.isSymLink()) {
    target = link.canonicalFilePath();
    if (target.isEmpty())
      return {Stage::Create, danglingLinkReason(link.symLinkTarget())};
  }
  if (const QString reason = notARegularFileReason(target); !reason.isEmpty())
    return {Stage::Create, reason};
  if (QFileInfo(target).isFile()) {
    // Opening for appending changes nothing and tells whether the file may be replaced.
    QFile existing(target);
    if (!existing.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
      return {Stage::Create, existing.errorString()};
  }
  return {};
}

AtomicWriteFailure writeFileAtomically(const QString& path, const QByteArray& bytes) {
  using Stage = AtomicWriteFailure::Stage;
  if (path.isEmpty())
    return {Stage::Create, QStringLiteral("No file name")};
  QString target;
  if (const AtomicWriteFailure refused = writeTargetOf(path, target))
    return refused;
  const bool exists = QFileInfo(target).isFile();
#ifdef Q_OS_UNIX
  struct stat st {};
  const mode_t mode = exists && ::stat(QFile::encodeName(target).constData(), &st) == 0 ? (st.st_mode & 07777) : 0666;
  const AtomicWriteFailure failure = writeThroughTemporary(target, bytes, exists, mode);
  if (failure.stage == Stage::Create && exists && folderRefusesNewFiles(target))
    return writeInPlace(target, bytes);
  return failure;
#else
  QString reason;
  const int stage = writeThroughTemporaryOnWindows(target, bytes, reason);
  if (stage == 0)
    return {};
  return {stage == 2 ? Stage::Write : Stage::Create, reason};
#endif
}

QString danglingLinkReason(const QString& target) {
  return QStringLiteral("It is a link to %1, which does not exist").arg(target);
}

bool isTemporaryFileName(const QString& name) { return name.endsWith(TemporaryFileSuffix); }

int removeLeftoverTemporaryFiles(const QString& folder) {
  int removed = 0;
  const QDir dir(folder);
  const QStringList names = dir.entryList({QStringLiteral("*") + TemporaryFileSuffix},
                                          QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
  for (const QString& name : names) {
    // A file of a process that still runs may be in use.
    if (const TTemporaryOwner owner = temporaryFileOwner(name); owner.Pid > 0 && !processEnded(owner))
      continue;
    if (removeUnlessLocked(dir.filePath(name)))
      ++removed;
  }
  return removed;
}

QString userRuntimeFolder() {
  // The system's runtime folder of this user, or a folder of this user's own in the temporary folder;
  // empty when neither can be had.
  const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
#ifdef Q_OS_UNIX
  if (!xdg.isEmpty() && ::access(xdg.constData(), W_OK | X_OK) == 0)
    return QFile::decodeName(xdg);
  const QString own = QDir::tempPath() + QStringLiteral("/vellumark-") + QString::number(::getuid());
  const QByteArray ownName = QFile::encodeName(own);
  if (::mkdir(ownName.constData(), 0700) != 0 && errno != EEXIST)
    return {};
  struct stat st {};
  // Someone else's folder of that name is not used: its files could be read or replaced.
  if (::lstat(ownName.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
      ::access(ownName.constData(), W_OK | X_OK) == 0)
    return own;
  const QString system = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (system.isEmpty() || ::access(QFile::encodeName(system).constData(), W_OK | X_OK) != 0)
    return {};
  return system;
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
  const QString runtime = userRuntimeFolder();
  if (runtime.isEmpty())
    return 0;
  const QDir folder(runtime);
  const QDir::Filters files = QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks;
  for (const QString& name : folder.entryList({QStringLiteral("vellumark-*.journal")}, files))
    if (settle(folder.filePath(name)) == Settled::RolledBack)
      ++rolledBack;
  // A journal that a kill interrupted while it was made: "<journal>.<pid>.part".
  for (const QString& name : folder.entryList({QStringLiteral("vellumark-*.journal.*.part")}, files))
    if (processEnded(TTemporaryOwner{name.chopped(5).section(u'.', -1).toLongLong(), 0}))
      removeUnlessLocked(folder.filePath(name));
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
