// Whole-file writes under hostile conditions: size limits, things that are not files in the file's
// place, and folders where no temporary file may be made.
#include "platform/AtomicFile.h"
#include "platform/TemporaryFiles.h"
#include "support/ForkedChild.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"
#include "tests/settings/Printing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
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

// The temporary files' names say whose they are, on every system (the Windows build removes them by
// the same rule); a name that carries no process number counts as one whose process has ended.
TEST(AtomicFile, TemporaryFileNamesCarryTheirProcess) {
  const QString name = temporaryFileNameFor("C:/art/My.App.png", {4242, 0}, 35);
  EXPECT_EQ(name, "C:/art/My.App.png.4242-z.vellumark-tmp");
  EXPECT_TRUE(isTemporaryFileName(name));
  // With a start time (Windows gives a new process the number of an ended one).
  EXPECT_EQ(temporaryFileNameFor("MyApp.png", {32, 36 * 36}, 1), "MyApp.png.32_100-1.vellumark-tmp");
  const struct {
    const char* name;
    TTemporaryOwner owner;
  } cases[] = {
      {"C:/art/My.App.png.4242-z.vellumark-tmp", {4242, 0}},
      {"MyApp180x180.png.17-k3x.vellumark-tmp", {17, 0}},
      {"MyApp180x180.png.32_100-k3x.vellumark-tmp", {32, 36 * 36}},
      {"MyApp180x180.png.32_-k3x.vellumark-tmp", {}},
      {"MyApp180x180.png.32_!!-k3x.vellumark-tmp", {}},
      {"Vellumark.ini.k3x.vellumark-tmp", {}},
      {"MyApp.png.-5-k.vellumark-tmp", {}},
      {"MyApp.png.17-k.vellumark-tmp.txt", {}},
  };
  for (const auto& c : cases) {
    const TTemporaryOwner owner = temporaryFileOwner(c.name);
    EXPECT_EQ(owner.Pid, c.owner.Pid) << c.name;
    EXPECT_EQ(owner.Start, c.owner.Start) << c.name;
  }
  EXPECT_EQ(temporaryFileOwner(temporaryFileNameFor("x.png", currentTemporaryOwner(), 7)), currentTemporaryOwner());
  EXPECT_FALSE(processEnded(currentTemporaryOwner()));
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

// In-place writes in a read-only folder, with a runtime folder of the test's own for their journals.
// Run as an unprivileged user, since root passes every permission check.
class InPlaceJournal : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(temp.isValid());
    folder = temp.filePath("ro");
    runtime = temp.filePath("run");
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_TRUE(QDir().mkdir(runtime));
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
      previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    useRuntime(runtime);
  }
  void TearDown() override {
    setFolderWritable(true);
    if (previousRuntime)
      qputenv("XDG_RUNTIME_DIR", *previousRuntime);
    else
      qunsetenv("XDG_RUNTIME_DIR");
  }
  void useRuntime(const QString& path) { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path)); }
  void setFolderWritable(bool writable) {
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | (writable ? QFile::WriteOwner : QFile::Permissions()));
  }
  // An in-place write of the bytes over the file, killed halfway through its new bytes.
  void killHalfway(const QString& path, const QByteArray& bytes) {
    const ChildEnd killed = runInChild([&] {
      setInPlaceWriteTestHook([] { ::raise(SIGKILL); });
      (void)writeFileAtomically(path, bytes);
      return 2;
    });
    ASSERT_EQ(killed.signal, SIGKILL);
  }
  QStringList journals() const { return entriesOf(runtime); }

  QTemporaryDir temp;
  QString folder, runtime;
  std::optional<QByteArray> previousRuntime;
};

// A later start rolls the file back only while it is still the half-written file of the journal's
// write; a file written since (in place, by a start with another runtime folder, or replaced by a
// file of the very same bytes) or removed keeps what it has, and the journal is discarded. A path with
// a line break is a path like any other.
TEST_F(InPlaceJournal, OnlyTheHalfWrittenFileIsRolledBack) {
  RUN_AS_UNPRIVILEGED_USER();
  const QByteArray before = "[settings]\r\n" + QByteArray(2000, 'a');
  const QByteArray written = "[settings]\r\n" + QByteArray(3000, 'b');
  const QByteArray since = "[settings]\r\n" + QByteArray(2500, 'c');
  const QString otherRuntime = temp.filePath("run2");
  ASSERT_TRUE(QDir().mkdir(otherRuntime));
  const struct {
    const char* what;
    const char* name;
    std::function<void(const QString&)> after;  // what happens to the file after the kill
    bool rolledBack;
  } cases[] = {
      {"nothing since", "a.ini", [](const QString&) {}, true},
      {"a line break in the path", "set\ntings.ini", [](const QString&) {}, true},
      {"rewritten in place since", "b.ini", [&](const QString& path) {
         QFile file(path);
         ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
         ASSERT_EQ(file.write(since), since.size());
       }, false},
      {"written by a start with another runtime folder", "c.ini", [&](const QString& path) {
         useRuntime(otherRuntime);
         EXPECT_FALSE(writeFileAtomically(path, since));
         useRuntime(runtime);
       }, false},
      {"replaced by a file of the same bytes", "d.ini", [&](const QString& path) {
         const QByteArray half = readFileBytes(path);
         setFolderWritable(true);
         writeFileBytes(path + ".new", half);
         ASSERT_TRUE(QFile::remove(path));
         ASSERT_TRUE(QFile::rename(path + ".new", path));
         setFolderWritable(false);
       }, false},
      {"removed", "e.ini", [&](const QString& path) {
         setFolderWritable(true);
         ASSERT_TRUE(QFile::remove(path));
         setFolderWritable(false);
       }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = folder + "/" + c.name;
    setFolderWritable(true);
    writeFileBytes(path, before);
    setFolderWritable(false);
    killHalfway(path, written);
    ASSERT_EQ(journals().size(), 1);
    const QByteArray half = readFileBytes(path);
    ASSERT_NE(half, before);
    ASSERT_NE(half, written);
    c.after(path);
    const QByteArray found = readFileBytes(path);
    EXPECT_EQ(recoverInterruptedWrites(), c.rolledBack ? 1 : 0);
    EXPECT_EQ(readFileBytes(path), c.rolledBack ? before : found);
    EXPECT_EQ(journals(), QStringList());
    EXPECT_EQ(entriesOf(otherRuntime), QStringList());
  }
}

// A write that fails whose old bytes cannot be put back either (the size limit lowered halfway) keeps
// its journal, the only copy of those bytes: the next start puts them back.
TEST_F(InPlaceJournal, AFailedPutBackKeepsTheJournal) {
  RUN_AS_UNPRIVILEGED_USER();
  const QString path = folder + "/Vellumark.ini";
  const QByteArray before(3000, 'a');
  writeFileBytes(path, before);
  setFolderWritable(false);
  const ChildEnd end = runInChild([&] {
    ignoreFileSizeLimitSignal();
    setInPlaceWriteTestHook([] { limitFileSize(1000); });
    return writeFileAtomically(path, QByteArray(6000, 'b')).stage == AtomicWriteFailure::Stage::Write ? 0 : 2;
  });
  EXPECT_TRUE(end.ok()) << "code " << end.code << ", signal " << end.signal;
  ASSERT_NE(readFileBytes(path), before) << "the put-back stopped at the size limit";
  EXPECT_EQ(journals().size(), 1);
  EXPECT_EQ(recoverInterruptedWrites(), 1);
  EXPECT_EQ(readFileBytes(path), before);
  EXPECT_EQ(journals(), QStringList());
}

// What else lies in the runtime folder: a journal that a kill left half-made is removed once its
// process has ended; a journal of the older form (a line with the path, then the old bytes), which
// cannot tell whether the file was written since, is discarded and the file keeps what it holds.
TEST_F(InPlaceJournal, HalfMadeAndOlderJournalsAreClearedWithoutTouchingTheFile) {
  const pid_t ended = startChild([] { return 0; });
  waitChild(ended);
  const QString leftover = "vellumark-0123456789abcdef01234567.journal." + QString::number(ended) + ".part";
  const QString running = "vellumark-0123456789abcdef01234567.journal." + QString::number(::getpid()) + ".part";
  const QString path = folder + "/Vellumark.ini";
  writeFileBytes(path, "[settings]\r\nwritten since\r\n");
  writeFileBytes(runtime + "/" + leftover, "half");
  writeFileBytes(runtime + "/" + running, "half");
  writeFileBytes(runtime + "/vellumark-fedcba9876543210fedcba98.journal",
                 QFile::encodeName(path) + "\n[settings]\r\nolder\r\n");
  EXPECT_EQ(recoverInterruptedWrites(), 0);
  EXPECT_EQ(readFileBytes(path), "[settings]\r\nwritten since\r\n");
  EXPECT_EQ(journals(), QStringList{running});
}

}  // namespace
#endif
