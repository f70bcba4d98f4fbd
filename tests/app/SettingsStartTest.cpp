// What the program, started as a process, does to a settings file before anything else: a file that
// is no settings file is never written, and only the window and a run that is no dry run settle an
// in-place write that a kill interrupted.
#include "app/CommandLine.h"
#include "platform/AtomicFile.h"
#include "support/ForkedChild.h"
#include "support/Paths.h"
#include "support/TestFiles.h"
#include "tests/settings/Printing.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <csignal>
#include <optional>

namespace {

struct Ended {
  int status = -1;
  QString err;
};

// Runs the real program with the runtime folder given, the window (if any) drawn off screen. A run
// still going after waitMs is ended, with status -1.
Ended runVellumark(const QStringList& args, const QString& runtime, int waitMs = 300000) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", runtime);
  process.setProcessEnvironment(env);
  process.start(QStringLiteral(VELLUMARK_EXECUTABLE), args);
  Ended ended;
  if (!process.waitForStarted(30000)) {
    ADD_FAILURE() << "cannot start " << VELLUMARK_EXECUTABLE;
    return ended;
  }
  process.closeWriteChannel();
  if (!process.waitForFinished(waitMs)) {
    process.kill();
    process.waitForFinished();
    return ended;
  }
  ended.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  ended.err = QString::fromUtf8(process.readAllStandardError());
  return ended;
}

class SettingsStart : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    runtime = dir.filePath("run");
    ASSERT_TRUE(QDir().mkdir(runtime));
  }
  QTemporaryDir dir;
  QString runtime;
};

// A picture, a file with NUL bytes or an archive named as the settings file: the run stops with exit
// status 2 and the file and the reason, and the window's start writes nothing either; the bytes stay.
TEST_F(SettingsStart, AFileThatIsNoSettingsFileIsRefusedAndNeverWritten) {
  const struct {
    const char* name;
    QByteArray bytes;
    const char* reason;
  } cases[] = {
      {"victim.png", readFileBytes(testDataDir() + "/formats/sample.png"), "it is a PNG picture"},
      {"nul.ini", QByteArray("[settings]\r\nbase_filename=a\0b\r\n", 29), "it holds NUL characters"},
      {"archive.ini", QByteArray("PK\3\4\x14\0\0\0\x08\0[images]\r\n", 20), "it is a ZIP archive"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = dir.filePath(c.name);
    writeFileBytes(path, c.bytes);
    const Ended run = runVellumark({"--generate", "--settings", path}, runtime);
    EXPECT_EQ(run.status, ExitError);
    EXPECT_EQ(run.err, "Cannot open file \"" + path + "\". It is not a settings file: " + c.reason + ".\n");
    EXPECT_TRUE(readFileBytes(path) == c.bytes);
  }
  // The window: its error box waits for a person, so the process is ended after a while in which a
  // start that took the file would have stored every frame's selection in it.
  const QString png = dir.filePath("victim.png");
  EXPECT_EQ(runVellumark({"--settings", png}, runtime, 4000).status, -1);
  EXPECT_TRUE(readFileBytes(png) == cases[0].bytes);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"archive.ini", "nul.ini", "victim.png"}));
}

// An in-place write killed halfway (as the unprivileged user, in a read-only folder): --help,
// --version, a bad command line and --dry-run leave the file and its journal as they are; a real run
// puts the old bytes back.
TEST_F(SettingsStart, OnlyARealRunSettlesAnInterruptedWrite) {
  const QString folder = dir.filePath("ro");
  ASSERT_TRUE(QDir().mkdir(folder));
  ASSERT_TRUE(handToUnprivilegedUser(folder));
  ASSERT_TRUE(handToUnprivilegedUser(runtime));
  const QString path = folder + "/Vellumark.ini";
  const QByteArray before = "[settings]\r\nandroid=1\r\n" + QByteArray(2000, ';') + "\r\n";
  const std::optional<QByteArray> previousRuntime =
      qEnvironmentVariableIsSet("XDG_RUNTIME_DIR") ? std::optional(qgetenv("XDG_RUNTIME_DIR")) : std::nullopt;
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
  const ChildEnd killed = runInChild(
      [&] {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(before) != before.size())
          return 2;
        file.close();
        if (!QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner))
          return 3;
        setInPlaceWriteTestHook([] { ::raise(SIGKILL); });
        (void)writeFileAtomically(path, "[settings]\r\nandroid=0\r\n" + QByteArray(3000, ';') + "\r\n");
        return 4;
      },
      true);
  if (previousRuntime)
    qputenv("XDG_RUNTIME_DIR", *previousRuntime);
  else
    qunsetenv("XDG_RUNTIME_DIR");
  ASSERT_EQ(killed.signal, SIGKILL);
  const QByteArray half = readFileBytes(path);
  const QStringList journal = QDir(runtime).entryList(QDir::Files);
  ASSERT_NE(half, before);
  ASSERT_EQ(journal.size(), 1);
  for (const QStringList& args : {QStringList{"--version"}, QStringList{"--help"}, QStringList{"--bogus"},
                                  QStringList{"--generate", "--dry-run", "--settings", path}}) {
    SCOPED_TRACE(args.join(' ').toStdString());
    EXPECT_NE(runVellumark(args, runtime).status, -1);
    EXPECT_EQ(readFileBytes(path), half);
    EXPECT_EQ(QDir(runtime).entryList(QDir::Files), journal);
  }
  EXPECT_NE(runVellumark({"--generate", "--overwrite=fail", "--settings", path}, runtime).status, -1);
  EXPECT_EQ(readFileBytes(path), before);
  EXPECT_EQ(QDir(runtime).entryList(QDir::Files), QStringList());
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace
#endif
