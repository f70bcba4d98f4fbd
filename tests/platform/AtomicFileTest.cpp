// Whole-file writes under hostile conditions: size limits, things that are not files in the file's
// place, and folders where no temporary file may be made.
#include "platform/AtomicFile.h"
#include "support/ForkedChild.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace {

QStringList entriesOf(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

int limitFileSize(rlim_t bytes) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
    return -1;
  limit.rlim_cur = bytes;
  return setrlimit(RLIMIT_FSIZE, &limit);
}

// A write that meets the file size limit fails as a write; the program lives on and the previous
// file is untouched, with no temporary file left.
TEST(AtomicFile, FileSizeLimitFailsTheWriteInsteadOfEndingTheProgram) {
  QTemporaryDir dir;
  const QString path = dir.filePath("out.png");
  writeFileBytes(path, "previous content");
  const ChildEnd end = runInChild([&] {
    ignoreFileSizeLimitSignal();
    if (limitFileSize(4096) != 0)
      return 2;
    const AtomicWriteFailure failure = writeFileAtomically(path, QByteArray(10000, 'x'));
    if (failure.stage != AtomicWriteFailure::Stage::Write)
      return 3;
    return failure.reason == QStringLiteral("File too large") ? 0 : 4;
  });
  EXPECT_TRUE(end.exited) << "ended by signal " << end.signal;
  EXPECT_EQ(end.code, 0);
  EXPECT_EQ(readFileBytes(path), "previous content");
  EXPECT_EQ(entriesOf(dir.path()), QStringList{"out.png"});
}

// Something that is not a regular file in the file's place is named for what it is, and nothing
// waits on it (a pipe without a reader would block an open for writing for good).
TEST(AtomicFile, ThingsThatAreNoFileAreRefusedWithWhatTheyAre) {
  QTemporaryDir dir;
  const QString folder = dir.filePath("folder.png");
  ASSERT_TRUE(QDir().mkdir(folder));
  const QString fifo = dir.filePath("pipe.png");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
  const QString socketPath = dir.filePath("socket.png");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray socketName = QFile::encodeName(socketPath);
  ASSERT_LT(size_t(socketName.size()), sizeof(address.sun_path));
  std::memcpy(address.sun_path, socketName.constData(), size_t(socketName.size()));
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

  const struct {
    QString path;
    const char* reason;
  } cases[] = {
      {folder, "Is a directory"},
      {fifo, "Is a named pipe"},
      {socketPath, "Is a socket"},
      {QStringLiteral("/dev/null"), "Is a device"},
  };
  for (const auto& c : cases) {
    const ChildEnd end = runInChild([&] {
      ::alarm(20);  // a blocked open ends the child with SIGALRM
      const AtomicWriteFailure failure = writeFileAtomically(c.path, "data");
      if (failure.stage != AtomicWriteFailure::Stage::Create)
        return 2;
      return failure.reason == QString::fromLatin1(c.reason) ? 0 : 3;
    });
    EXPECT_TRUE(end.ok()) << c.reason << ": code " << end.code << ", signal " << end.signal;
  }
  ::close(sock);
  EXPECT_EQ(entriesOf(dir.path()), (QStringList{"folder.png", "pipe.png", "socket.png"}));
}

// A link in the file's place: the file it leads to is replaced when it is a regular file, and the
// link stays; a link to nothing, or to a folder, is refused and nothing is made where it points.
TEST(AtomicFile, LinksAreFollowedOnlyToARegularFile) {
  QTemporaryDir dir;
  const QString outside = dir.filePath("elsewhere/notes.txt");
  ASSERT_TRUE(QDir().mkpath(dir.filePath("elsewhere")));
  writeFileBytes(outside, "notes");
  const QString missing = dir.filePath("elsewhere/missing.png");
  const struct {
    const char* name;
    QString target;
    AtomicWriteFailure::Stage stage;
    QString reason;
  } cases[] = {
      {"to-file.png", outside, AtomicWriteFailure::Stage::None, {}},
      {"to-nothing.png", missing, AtomicWriteFailure::Stage::Create,
       "It is a link to " + missing + ", which does not exist"},
      {"to-folder.png", dir.filePath("elsewhere"), AtomicWriteFailure::Stage::Create, "Is a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString link = dir.filePath(c.name);
    ASSERT_TRUE(QFile::link(c.target, link));
    const AtomicWriteFailure failure = writeFileAtomically(link, "new");
    EXPECT_EQ(failure.stage, c.stage);
    EXPECT_EQ(failure.reason, c.reason);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
  }
  EXPECT_EQ(readFileBytes(outside), "new");
  EXPECT_FALSE(QFileInfo::exists(missing));
  EXPECT_EQ(entriesOf(dir.filePath("elsewhere")), QStringList{"notes.txt"});
}

// What a killed write left is removed by the next run: only temporary files of this program whose
// process has ended and that nobody holds locked.
TEST(AtomicFile, LeftoverTemporaryFilesOfEndedProcessesAreRemoved) {
  QTemporaryDir dir;
  const pid_t ended = startChild([] { return 0; });
  waitChild(ended);
  const QString own = QString::number(::getpid());
  const QString gone = QString::number(ended);
  const QString leftover = "MyApp180x180.png." + gone + "-k3x.vellumark-tmp";
  const QString locked = "MyApp152x152.png." + gone + "-a1.vellumark-tmp";
  const QString running = "MyApp120x120.png." + own + "-b2.vellumark-tmp";
  const QStringList others = {"MyApp1536x2008.png.MDADvj", "notes.vellumark-tmp.txt"};
  for (const QString& name : QStringList{leftover, locked, running} + others)
    writeFileBytes(dir.filePath(name), "part");
  // Another open file holds a lock on it: in use.
  const int fd = ::open(QFile::encodeName(dir.filePath(locked)).constData(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_EQ(removeLeftoverTemporaryFiles(dir.path()), 1);
  ::close(fd);
  QStringList expected = QStringList{locked, running} + others;
  expected.sort();
  EXPECT_EQ(entriesOf(dir.path()), expected);

  // A write leaves no file of its own behind.
  writeFileBytes(dir.filePath("out.png"), "old");
  EXPECT_FALSE(writeFileAtomically(dir.filePath("out.png"), "new"));
  EXPECT_EQ(entriesOf(dir.path()).size(), expected.size() + 1);
}

// In a folder where no temporary file may be made, a writable file is written in place; a new file
// or a read-only one is still refused, and a size limit found while reserving room leaves the old
// content whole. Run as an unprivileged user, since root passes every permission check.
TEST(AtomicFile, WritableFileInAReadOnlyFolderIsWrittenInPlace) {
  QTemporaryDir temp;
  const QString dir = temp.filePath("ro");
  ASSERT_TRUE(QDir().mkdir(dir));
  ASSERT_TRUE(handToUnprivilegedUser(dir));
  const QString writable = dir + "/writable.png";
  const QString readOnly = dir + "/readonly.png";
  const QString limited = dir + "/limited.png";

  const ChildEnd end = runInChild(
      [&]() -> int {
        ignoreFileSizeLimitSignal();
        for (const QString& p : {writable, readOnly, limited}) {
          QFile f(p);
          if (!f.open(QIODevice::WriteOnly) || f.write("old content") != 11)
            return 2;
        }
        if (!QFile::setPermissions(readOnly, QFile::ReadOwner) ||
            !QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner))
          return 3;
        if (writeFileAtomically(writable, "new and longer content"))
          return 4;
        if (writeFileAtomically(dir + "/new.png", "x").stage != AtomicWriteFailure::Stage::Create)
          return 5;
        const AtomicWriteFailure refused = writeFileAtomically(readOnly, "new");
        if (refused.stage != AtomicWriteFailure::Stage::Create || refused.reason != "Permission denied")
          return 6;
        if (writeFileAtomically(writable, "short"))
          return 7;
        if (limitFileSize(4096) != 0)
          return 8;
        if (writeFileAtomically(limited, QByteArray(10000, 'y')).stage != AtomicWriteFailure::Stage::Write)
          return 9;
        return 0;
      },
      true);
  QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_TRUE(end.ok()) << "code " << end.code << ", signal " << end.signal;
  EXPECT_EQ(readFileBytes(writable), "short") << "shrunk to the new length";
  EXPECT_EQ(readFileBytes(readOnly), "old content");
  EXPECT_EQ(readFileBytes(limited), "old content");
  EXPECT_EQ(entriesOf(dir), (QStringList{"limited.png", "readonly.png", "writable.png"}));
}

}  // namespace
#endif
