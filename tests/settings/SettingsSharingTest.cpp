// The settings file shared with other running instances and kept in memory between accesses: what
// is read and written when, that nothing another instance stores is lost, and that nothing the
// program did not mean to write ever reaches the file.
#include "platform/Errors.h"
#include "platform/NumberText.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "support/ForkedChild.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "tests/settings/Printing.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SharedSettings : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    path = dir.filePath("Vellumark.ini");
    setSettingsFilePathOverride(path);
    setDecimalSeparatorOverride(u'.');
    resetSettingsTraffic();
  }
  void TearDown() override {
    setSettingsFilePathOverride(QString());
    setDecimalSeparatorOverride(QChar());
  }
  QStringList folderEntries() const {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  }
  // Another instance's store: a complete new file put in place by a rename.
  void storeAsAnotherInstance(const QByteArray& bytes) {
    QSaveFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    ASSERT_TRUE(file.commit());
  }

  QTemporaryDir dir;
  QString path;
};

// What the start-up does with a settings file the program wrote before: every frame reads its
// picture and selection and writes the selection back unchanged, the window reads the base name.
TEST_F(SharedSettings, StartUpReadsTheFileOnceAndWritesOnlyWhatChanged) {
  for (int g = 0; g < 13; ++g) {
    const QString key = QStringLiteral("%1_1").arg(g + 1);
    SettingsAccess::SetImageSetting(key, "/pictures/p" + QString::number(g) + ".png");
    SettingsAccess::SetSelectionSetting(key, TRectF{1, 2, 30.5f, 40});
  }
  SettingsAccess::SetWindowSetting("base_filename", "/out/MyApp.png");
  const QByteArray before = readFileBytes(path);
  ASSERT_GT(before.size(), 500);

  resetSettingsTraffic();
  setSettingsFilePathOverride(QString());  // as a new instance would find it: nothing in memory
  setSettingsFilePathOverride(path);
  for (int g = 0; g < 13; ++g) {
    const QString key = QStringLiteral("%1_1").arg(g + 1);
    EXPECT_EQ(SettingsAccess::GetImageSetting(key), "/pictures/p" + QString::number(g) + ".png");
    const std::optional<TRectF> rect = SettingsAccess::GetSelectionSetting(key);
    ASSERT_TRUE(rect.has_value());
    SettingsAccess::SetSelectionSetting(key, *rect);
  }
  EXPECT_EQ(SettingsAccess::GetWindowSetting("base_filename"), "/out/MyApp.png");
  EXPECT_EQ(settingsTraffic().writes, 0);
  EXPECT_EQ(settingsTraffic().reads, 1);
  EXPECT_EQ(readFileBytes(path), before);

  // One real change: one write, no read, and the bytes the storing rules give.
  SettingsAccess::SetSelectionSetting("2_1", TRectF{0, 0, 10, 10});
  EXPECT_EQ(settingsTraffic().writes, 1);
  EXPECT_EQ(settingsTraffic().reads, 1);
  TSettingsFile expected = TSettingsFile::fromBytes(before);
  expected.setValue("selections", "2_1", "0,0,10,10");
  EXPECT_EQ(readFileBytes(path), expected.toBytes());

  // Another instance's store is seen at the next access.
  storeAsAnotherInstance("[settings]\r\nbase_filename=/elsewhere/Other.png\r\n\r\n");
  EXPECT_EQ(SettingsAccess::GetWindowSetting("base_filename"), "/elsewhere/Other.png");
  EXPECT_EQ(SettingsAccess::GetImageSetting("1_1"), "");
}

// A write of a value that reads back the same is skipped only when the file already holds exactly
// the bytes storing would write; otherwise it is stored, so the file is always what the rules give.
TEST_F(SharedSettings, AWriteIsSkippedOnlyWhenStoringWouldChangeNoByte) {
  const struct {
    const char* name;
    QByteArray before;
    const char* section;
    const char* key;
    const char* value;
    QByteArray after;
  } cases[] = {
      {"already stored", "[images]\r\n1_1=a.png\r\n\r\n", "images", "1_1", "a.png", "[images]\r\n1_1=a.png\r\n\r\n"},
      {"comment and blank lines go", "; made by hand\r\n[images]\r\n\r\n1_1=a.png\r\n", "images", "1_1", "a.png",
       "[images]\r\n1_1=a.png\r\n\r\n"},
      {"key takes the caller's spelling", "[SETTINGS]\r\nBASE_FILENAME=C:\\x.png\r\n\r\n", "settings",
       "base_filename", "C:\\x.png", "[SETTINGS]\r\nbase_filename=C:\\x.png\r\n\r\n"},
      {"trailing blank on disk", "[images]\r\n1_1=a.png \r\n\r\n", "images", "1_1", "a.png",
       "[images]\r\n1_1=a.png\r\n\r\n"},
      {"trailing blank written", "[images]\r\n1_1=a.png\r\n\r\n", "images", "1_1", "a.png ",
       "[images]\r\n1_1=a.png \r\n\r\n"},
      {"UTF-8 mark kept", "\xEF\xBB\xBF[images]\r\n1_1=a.png\r\n\r\n", "images", "1_1", "a.png",
       "\xEF\xBB\xBF[images]\r\n1_1=a.png\r\n\r\n"},
  };
  for (const auto& c : cases) {
    storeAsAnotherInstance(c.before);
    EXPECT_EQ(readSetting(c.section, c.key), QString(c.value).trimmed()) << c.name;
    writeSetting(c.section, c.key, c.value);
    EXPECT_EQ(readFileBytes(path), c.after) << c.name;
    // And once more: now the file is as storing writes it, whatever the value's blanks.
    writeSetting(c.section, c.key, c.value);
    EXPECT_EQ(readFileBytes(path), c.after) << c.name << " (again)";
  }
  // After a trailing blank was written, the value without it is a change.
  writeSetting("images", "1_1", "a.png");
  EXPECT_EQ(readFileBytes(path), QByteArray("\xEF\xBB\xBF[images]\r\n1_1=a.png\r\n\r\n"));
}

// Whether a file is already in stored form is told while parsing; it must agree with encoding the
// model again and comparing, for files in stored form and for every way of departing from it.
TEST(SettingsStoredForm, RecognisedWhileParsingExactlyWhenStoringWouldGiveTheSameBytes) {
  const struct {
    QByteArray bytes;
    bool asStored;
  } cases[] = {
      {"[images]\r\n1_1=a.png\r\n\r\n[settings]\r\nbase_filename=x\r\n\r\n", true},
      {"[images]\r\n\r\n", true},
      {"[a]\r\nplain line\r\n\r\n", true},
      {"\xEF\xBB\xBF[a]\r\nk=v\r\n\r\n", true},
      {"\xEF\xBB\xBF", true},
      {"", true},
      {"[a]\r\nk=\xFF\xFE" "bad\r\n\r\n", true},  // bytes that are not UTF-8 come back as they were
      {QByteArray("\xFF\xFE[\0a\0]\0\r\0\n\0\r\0\n\0", 16), true},
      {QByteArray("\xFF\xFE[\0a\0]\0\r\0\n\0\r\0\n\0x", 17), false},  // odd length
      {"[images]\r\n1_1=a.png\r\n", false},                                  // no empty line at the end
      {"[images]\r\n1_1=a.png\r\n\r\n\r\n", false},                          // two
      {"[images]\n1_1=a.png\n\n", false},                                      // LF line ends
      {"[images]\r1_1=a.png\r\r", false},                                      // CR line ends
      {"[images]\r\n1_1=a.png\r\n\r\n[b]\r\nk=v\r\n\r\nx", false},            // unterminated last line
      {"[images]\r\n\r\n1_1=a.png\r\n\r\n", false},                           // empty line inside a section
      {"[a]\r\nk=v\r\n[b]\r\nk=v\r\n\r\n", false},                            // no empty line between sections
      {"; note\r\n[a]\r\nk=v\r\n\r\n", false},
      {"[a]\r\n; note\r\nk=v\r\n\r\n", false},
      {"k=v\r\n[a]\r\n\r\n", false},                                          // line before the first section
      {"\r\n[a]\r\n\r\n", false},
      {" [a]\r\n\r\n", false},
      {"[ a ]\r\n\r\n", false},
      {"[a]\r\nk = v\r\n\r\n", false},
      {"[a]\r\nk=v \r\n\r\n", false},
      {"[a]\r\n  plain\r\n\r\n", false},
      {"[a]\r\n \r\n", false},                                                 // a blank, not an empty line
      {"just text", false},
  };
  for (const auto& c : cases) {
    const TSettingsFile model = TSettingsFile::fromBytes(c.bytes);
    EXPECT_EQ(model.loadedAsStored(), c.asStored) << c.bytes.toStdString();
    EXPECT_EQ(model.toBytes() == c.bytes, c.asStored) << c.bytes.toStdString();
  }
}

// Two instances whose writes are forced to overlap: the first stops between reading the file and
// storing it while the second writes, then writes again after the second has stored. Every value
// of both reaches the file only if the second waits for the first's lock (also when one reaches
// the file through a link) and the first reads the file again instead of trusting its copy.
TEST_F(SharedSettings, TwoInstancesWhoseWritesOverlapLoseNothing) {
  // In memory where the system has such a folder: the race is the same, without waiting on the disk.
  QTemporaryDir shm(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/vellumark-XXXXXX") : QString());
  ASSERT_TRUE(shm.isValid());
  const QString file = shm.filePath("Vellumark.ini");
  const QString link = shm.filePath("linked.ini");
  ASSERT_TRUE(QFile::link(file, link));
  constexpr int kRounds = 8;
  const struct {
    const char* what;
    QString first, second;
  } cases[] = {
      {"both name the file", file, file},
      {"one through a link", link, file},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeFileBytes(file, {});
    int reading[2], stored[2];  // first -> second: "I have read"; second -> first: "I have stored"
    ASSERT_EQ(::pipe(reading), 0);
    ASSERT_EQ(::pipe(stored), 0);
    // Each end is open only where it is used, so a child that fails ends the other's wait.
    const pid_t first = startChild([&] {
      ::close(reading[0]);
      ::close(stored[1]);
      setSettingsFilePathOverride(c.first);
      char byte = 0;
      setSettingsStoreHook([&] {
        (void)!::write(reading[1], "r", 1);
        QThread::msleep(100);  // the second writes meanwhile, or waits for the lock
      });
      for (int i = 0; i < kRounds; ++i) {
        writeSetting("images", QStringLiteral("a%1").arg(i), QString::number(i));
        if (::read(stored[0], &byte, 1) != 1)
          return 2;
      }
      return 0;
    });
    const pid_t second = startChild([&] {
      ::close(reading[1]);
      ::close(stored[0]);
      setSettingsFilePathOverride(c.second);
      char byte = 0;
      for (int i = 0; i < kRounds; ++i) {
        if (::read(reading[0], &byte, 1) != 1)
          return 2;
        writeSetting("images", QStringLiteral("b%1").arg(i), QString::number(i));
        (void)!::write(stored[1], "s", 1);
      }
      return 0;
    });
    for (int fd : {reading[0], reading[1], stored[0], stored[1]})
      ::close(fd);
    EXPECT_TRUE(waitChild(first).ok());
    EXPECT_TRUE(waitChild(second).ok());
    const TSettingsFile written = TSettingsFile::load(file);
    int lost = 0;
    for (const char who : {'a', 'b'})
      for (int i = 0; i < kRounds; ++i)
        if (written.value("images", QStringLiteral("%1%2").arg(QChar(who)).arg(i)) != QString::number(i))
          ++lost;
    EXPECT_EQ(lost, 0) << "of " << 2 * kRounds;
    EXPECT_EQ(QDir(shm.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{"linked.ini", "Vellumark.ini"}))
        << "no lock or temporary file is left";
  }
}

// The lock held by an instance that hangs (the system's lock on the lock file, held by another
// process): a write that changes nothing needs no lock, one that changes something fails after the
// wait with the message and writes nothing. Once that instance has ended, its lock is gone.
TEST_F(SharedSettings, ALockHeldByAHungInstanceFailsTheWriteAndWritesNothing) {
  SettingsAccess::SetWindowSetting("base_filename", "/out/a.png");
  const QByteArray before = readFileBytes(path);
  int held[2];
  ASSERT_EQ(::pipe(held), 0);
  const pid_t hung = startChild([&] {
    const int fd = ::open(QFile::encodeName(settingsLockPath(path)).constData(), O_RDWR | O_CREAT, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
      return 2;
    (void)!::write(held[1], "h", 1);
    ::pause();
    return 0;
  });
  char byte = 0;
  ASSERT_EQ(::read(held[0], &byte, 1), 1);
  setSettingsLockWait(300);
  QElapsedTimer timer;
  timer.start();
  EXPECT_NO_THROW(SettingsAccess::SetWindowSetting("base_filename", "/out/a.png"));
  EXPECT_LT(timer.elapsed(), 100);
  try {
    SettingsAccess::SetWindowSetting("base_filename", "/out/b.png");
    ADD_FAILURE() << "written";
  } catch (const ESettingsInUseError& e) {
    EXPECT_EQ(e.Message(), "The settings file is in use by another Vellumark: " + path);
  }
  EXPECT_GE(timer.elapsed(), 300);
  EXPECT_EQ(readFileBytes(path), before);
  ::kill(hung, SIGKILL);
  waitChild(hung);
  setSettingsLockWait(5000);
  ::close(held[0]);
  ::close(held[1]);
  SettingsAccess::SetWindowSetting("base_filename", "/out/b.png");
  EXPECT_EQ(readSetting("settings", "base_filename"), "/out/b.png");
}

// In a read-only folder the settings file is written in place, guarded by a lock in the runtime
// folder; a kill halfway through leaves a copy of the old bytes there, which the next start puts
// back, so the file is as before or complete, never half-written.
TEST_F(SharedSettings, AnInPlaceWriteKilledHalfwayIsRolledBackByTheNextStart) {
  RUN_AS_UNPRIVILEGED_USER();
  const QString folder = dir.filePath("ro");
  ASSERT_TRUE(QDir().mkdir(folder));
  const QString ini = folder + "/Vellumark.ini";
  setSettingsFilePathOverride(ini);
  SettingsAccess::SetImageSetting("1_1", QString(2000, 'a'));
  const QByteArray before = readFileBytes(ini);
  ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
  EXPECT_FALSE(settingsLockPath(ini).startsWith(folder));
  const ChildEnd killed = runInChild([&] {
    setInPlaceWriteTestHook([] { ::raise(SIGKILL); });
    SettingsAccess::SetImageSetting("1_1", QString(3000, 'b'));
    return 2;
  });
  EXPECT_EQ(killed.signal, SIGKILL);
  EXPECT_NE(readFileBytes(ini), before) << "the kill came halfway through the new bytes";
  EXPECT_EQ(recoverInterruptedWrites(), 1);
  EXPECT_EQ(readFileBytes(ini), before);
  EXPECT_EQ(recoverInterruptedWrites(), 0);
  // And a write that is not interrupted is complete, with nothing left beside the file.
  SettingsAccess::SetImageSetting("1_1", "c.png");
  EXPECT_EQ(SettingsAccess::GetImageSetting("1_1"), "c.png");
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"Vellumark.ini"});
}

// A lock file left behind holds up nobody: that of an instance killed while it held the lock, and an
// empty one (a kill between making the file and locking it).
TEST_F(SharedSettings, ALockFileLeftBehindHoldsUpNobody) {
  const QString lockPath = settingsLockPath(path);
  const struct {
    const char* what;
    std::function<void()> leave;
  } cases[] = {
      {"killed while holding it", [&] {
         const ChildEnd killed = runInChild([&] {
           auto* lock = new TFileLock;  // never released: the process ends holding it
           return lock->TryLock(lockPath) == TFileLock::Outcome::Locked ? 0 : 2;
         });
         ASSERT_TRUE(killed.ok());
       }},
      {"empty", [&] { writeFileBytes(lockPath, ""); }},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.leave();
    ASSERT_TRUE(QFile::exists(lockPath));
    QElapsedTimer timer;
    timer.start();
    const QString value = QStringLiteral("/out/x%1.png").arg(++n);
    SettingsAccess::SetWindowSetting("base_filename", value);
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(readSetting("settings", "base_filename"), value);
    EXPECT_EQ(folderEntries(), QStringList{"Vellumark.ini"});
  }
}

// What writes of killed instances left is cleared by the next start that may write: the temporary
// files beside the settings file (on file systems without unnamed ones) of processes that have ended
// and that nobody holds locked, and the half-made journals in the runtime folder.
TEST_F(SharedSettings, TheNextStartClearsWhatKilledWritesLeft) {
  const QString runtime = dir.filePath("run");
  ASSERT_TRUE(QDir().mkdir(runtime));
  const bool runtimeWasSet = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
  const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
  const pid_t ended = startChild([] { return 0; });
  waitChild(ended);
  const QString gone = QString::number(ended), own = QString::number(::getpid());
  const QString leftover = "Vellumark.ini." + gone + "-k3x.vellumark-tmp";
  const QString running = "Vellumark.ini." + own + "-b2.vellumark-tmp";
  const QString part = "vellumark-0123456789abcdef01234567.journal." + gone + ".part";
  writeFileBytes(path, "[settings]\r\n\r\n");
  for (const QString& name : {leftover, running})
    writeFileBytes(dir.filePath(name), QByteArray(1000, 'x'));
  writeFileBytes(runtime + "/" + part, "half");
  TSettingsStore(path).RecoverKilledWrites();
  if (runtimeWasSet)
    qputenv("XDG_RUNTIME_DIR", previousRuntime);
  else
    qunsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(folderEntries(), (QStringList{"run", "Vellumark.ini", running}));
  EXPECT_EQ(QDir(runtime).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// A pipe in the settings file's place: reads give nothing and writes say what is there; nothing waits.
TEST_F(SharedSettings, PipeInTheFilesPlaceIsNamedAndNeverWaitedOn) {
  ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
  const ChildEnd end = runInChild([&] {
    ::alarm(20);  // a blocked open ends the child with SIGALRM
    if (!SettingsAccess::GetWindowSetting("base_filename").isEmpty())
      return 2;
    try {
      SettingsAccess::SetWindowSetting("base_filename", "x");
    } catch (const EFCreateError& e) {
      return e.Message() == "Cannot create file \"" + path + "\". Is a named pipe" ? 0 : 3;
    }
    return 4;
  });
  EXPECT_TRUE(end.ok()) << "code " << end.code << ", signal " << end.signal;
}

// A line break in a value would split its line: such a value is refused and the file keeps its bytes.
TEST_F(SharedSettings, LineBreakInAValueIsRefusedBeforeAnythingIsStored) {
  SettingsAccess::SetImageSetting("1_1", "/pictures/a.png");
  const QByteArray before = readFileBytes(path);
  for (const char* name : {"/pictures/a\nb.png", "/pictures/a\rb.png", "/pictures/a\r\n[images]\r\n1_1=x.png"}) {
    try {
      SettingsAccess::SetImageSetting("1_1", name);
      ADD_FAILURE() << "accepted " << name;
    } catch (const ELineBreakError& e) {
      EXPECT_EQ(e.Message(), QStringLiteral("A file name with a line break cannot be used: ") + name);
    }
    EXPECT_EQ(readFileBytes(path), before);
  }
  EXPECT_THROW(SettingsAccess::SetWindowSetting("base\nfilename", "x"), ELineBreakError);
  EXPECT_EQ(readFileBytes(path), before);
  EXPECT_EQ(SettingsAccess::GetImageSetting("1_1"), "/pictures/a.png");
}

// A writable settings file in a folder where no temporary file may be made is written in place.
// Run as an unprivileged user, since root passes every permission check.
TEST_F(SharedSettings, WritableFileInAReadOnlyFolderIsWrittenInPlace) {
  const QString folder = dir.filePath("ro");
  ASSERT_TRUE(QDir().mkdir(folder));
  ASSERT_TRUE(handToUnprivilegedUser(folder));
  const QString ini = folder + "/Vellumark.ini";
  setSettingsFilePathOverride(ini);
  const ChildEnd end = runInChild(
      [&] {
        SettingsAccess::SetImageSetting("1_1", "a.png");
        if (!QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner))
          return 2;
        SettingsAccess::SetImageSetting("1_1", "b.png");
        SettingsAccess::SetImageSetting("2_1", "c.png");
        return SettingsAccess::GetImageSetting("1_1") == "b.png" ? 0 : 3;
      },
      true);
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_TRUE(end.ok()) << "code " << end.code << ", signal " << end.signal;
  EXPECT_EQ(readFileBytes(ini), QByteArray("[images]\r\n1_1=b.png\r\n2_1=c.png\r\n\r\n"));
  EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"Vellumark.ini"});
}

}  // namespace
#endif
