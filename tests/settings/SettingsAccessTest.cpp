// The settings file on disk: its location, the accessors of the main window and the ratio frames,
// and what the user sees when the file cannot be read or written.
#include "platform/Errors.h"
#include "platform/NumberText.h"
#include "settings/Settings.h"
#include "tests/settings/Printing.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <functional>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <csignal>

#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

class SettingsOnDisk : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    path = dir.filePath("Vellumark.ini");
    setSettingsFilePathOverride(path);
    setDecimalSeparatorOverride(u'.');
  }
  void TearDown() override {
    setSettingsFilePathOverride(QString());
    setDecimalSeparatorOverride(QChar());
  }
  QStringList folderEntries() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

  QTemporaryDir dir;
  QString path;
};

TEST(SettingsLocation, ExtensionOfTheExecutableIsReplacedByIni) {
  const struct {
    const char* executable;
    const char* expected;
  } cases[] = {
      {"C:\\Apps\\Vellumark.exe", "C:\\Apps\\Vellumark.ini"},
      {"/opt/vellumark/Vellumark", "/opt/vellumark/Vellumark.ini"},
      {"/opt/v1.2/Vellumark", "/opt/v1.2/Vellumark.ini"},        // a dot in a folder is no extension
      {"C:\\v1.2\\Vellumark", "C:\\v1.2\\Vellumark.ini"},
      {"C:/Apps/Vellumark.exe", "C:/Apps/Vellumark.ini"},
      {"D:Vellumark.old.exe", "D:Vellumark.old.ini"},              // only the last dot counts
      {"D:.\\Vellumark", "D:.\\Vellumark.ini"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(settingsPathForExecutable(c.executable), QString(c.expected)) << c.executable;
}

TEST(SettingsLocation, BesideTheRunningExecutableUnlessOverridden) {
  setSettingsFilePathOverride(QString());
  const QString executable = QCoreApplication::applicationFilePath();
  ASSERT_FALSE(executable.isEmpty());
  EXPECT_EQ(settingsFilePath(), executable + ".ini");  // the test program has no extension
  setSettingsFilePathOverride("/tmp/other.ini");
  EXPECT_EQ(settingsFilePath(), "/tmp/other.ini");
  setSettingsFilePathOverride(QString());
}

// A portable folder keeps the file beside the program; a folder the user may not write (an install
// under /usr or C:\Program Files) sends it to the user's configuration folder instead of failing at
// every write. A file the user may write beside a read-only program still wins.
TEST(SettingsLocation, BesideTheProgramWhenWritableOtherwiseInTheUserFolder) {
  RUN_AS_UNPRIVILEGED_USER();
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString portable = root.filePath("portable"), installed = root.filePath("installed"),
                preset = root.filePath("preset"), config = root.filePath("config/Vellumark"),
                byInstaller = root.filePath("by-installer");
  for (const QString& folder : {portable, installed, preset, byInstaller})
    ASSERT_TRUE(QDir().mkpath(folder));
  // A copy the Windows installer put in a folder the user may write: its settings go to the user's
  // folder all the same, where upgrades and uninstalls leave them.
  writeFileBytes(byInstaller + "/" + InstalledMarkerName, "installed\r\n");
  writeFileBytes(preset + "/Vellumark.ini", "[settings]\r\n");
  for (const QString& folder : {installed, preset})
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
  const struct {
    QString executable, expected;
  } cases[] = {
      {portable + "/Vellumark", portable + "/Vellumark.ini"},
      {installed + "/Vellumark", config + "/Vellumark.ini"},
      {preset + "/Vellumark", preset + "/Vellumark.ini"},
      {byInstaller + "/Vellumark.exe", config + "/Vellumark.ini"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(settingsPathForInstall(c.executable, config), c.expected) << c.executable.toStdString();
  EXPECT_EQ(settingsPathForInstall(installed + "/Vellumark", QString()), installed + "/Vellumark.ini")
      << "without a user folder the file stays beside the program";
  for (const QString& folder : {installed, preset})
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(SettingsOnDisk, MissingFileReadsEmptyAndTheFirstWriteCreatesThreeLines) {
  EXPECT_EQ(SettingsAccess::GetWindowSetting("base_filename"), "");
  EXPECT_EQ(SettingsAccess::GetImageSetting("180_180"), "");
  EXPECT_EQ(SettingsAccess::GetSelectionSetting("180_180"), std::nullopt);
  EXPECT_FALSE(QFile::exists(path)) << "reads create nothing";

  SettingsAccess::SetWindowSetting("base_filename", "C:\\Work\\MyApp.png");
  EXPECT_EQ(readFileBytes(path), QByteArray("[settings]\r\nbase_filename=C:\\Work\\MyApp.png\r\n\r\n"));
  EXPECT_EQ(SettingsAccess::GetWindowSetting("base_filename"), "C:\\Work\\MyApp.png");
  EXPECT_EQ(folderEntries(), QStringList{"Vellumark.ini"}) << "no temporary file is left behind";
}

TEST_F(SettingsOnDisk, EachAccessorUsesItsOwnSection) {
  SettingsAccess::SetImageSetting("180_180", "C:\\pic.png");
  SettingsAccess::SetSelectionSetting("180_180", TRectF{12, 0, 140.5f, 128.5f});
  SettingsAccess::SetWindowSetting("base_filename", "C:\\out\\App.png");
  SettingsAccess::SetSelectionSetting("2688_1242", TRectF{0, 1, 2, 3});
  EXPECT_EQ(readFileBytes(path), QByteArray("[images]\r\n180_180=C:\\pic.png\r\n\r\n"
                                      "[selections]\r\n180_180=12,0,140.5,128.5\r\n2688_1242=0,1,2,3\r\n\r\n"
                                      "[settings]\r\nbase_filename=C:\\out\\App.png\r\n\r\n"));
  EXPECT_EQ(SettingsAccess::GetImageSetting("180_180"), "C:\\pic.png");
  EXPECT_EQ(SettingsAccess::GetSelectionSetting("180_180"), (TRectF{12, 0, 140.5f, 128.5f}));
  EXPECT_EQ(SettingsAccess::GetWindowSetting("180_180"), "") << "the key is not in section settings";
}

TEST_F(SettingsOnDisk, WriteCarriesAlongWhatAnotherInstanceStoredMeanwhile) {
  SettingsAccess::SetImageSetting("1_1", "a.png");
  writeFileBytes(path, readFileBytes(path) + "[custom]\r\nkeep=me\r\n[images]\r\nsecond=1\r\n");
  SettingsAccess::SetImageSetting("2_1", "b.png");
  EXPECT_EQ(readFileBytes(path), QByteArray("[images]\r\n1_1=a.png\r\n2_1=b.png\r\n\r\n"
                                      "[custom]\r\nkeep=me\r\n\r\n[images]\r\nsecond=1\r\n\r\n"));
}

TEST_F(SettingsOnDisk, SelectionsUnderCommaAndPointSeparators) {
  setDecimalSeparatorOverride(u',');
  SettingsAccess::SetSelectionSetting("180_180", TRectF{12, 0, 140.5f, 128.5f});
  SettingsAccess::SetSelectionSetting("1_1", TRectF{12, 0, 140, 128});
  EXPECT_EQ(readSetting("selections", "180_180"), "12,0,\"140,5\",\"128,5\"");
  EXPECT_EQ(SettingsAccess::GetSelectionSetting("180_180"), (TRectF{12, 0, 140.5f, 128.5f}));

  setDecimalSeparatorOverride(u'.');
  EXPECT_EQ(SettingsAccess::GetSelectionSetting("1_1"), (TRectF{12, 0, 140, 128})) << "no fractions: either way";
  try {
    SettingsAccess::GetSelectionSetting("180_180");
    ADD_FAILURE() << "a comma fraction read under a point separator must fail";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'140,5' is not a valid floating point value");
  }
}

// A folder in the file's place is no settings file: reads give the empty string, and a write cannot
// create the file.
TEST_F(SettingsOnDisk, SettingsPathThatIsAFolderReadsEmptyAndAWriteCannotCreateTheFile) {
  ASSERT_TRUE(QDir().mkdir(path));
  EXPECT_EQ(readSetting("settings", "base_filename"), "");
  EXPECT_EQ(SettingsAccess::GetSelectionSetting("1_1"), std::nullopt);
  try {
    SettingsAccess::SetSelectionSetting("1_1", TRectF{0, 0, 1, 1});
    ADD_FAILURE() << "a write must fail";
  } catch (const EFCreateError& e) {
    EXPECT_TRUE(e.Message().startsWith("Cannot create file \"" + QDir::toNativeSeparators(path) + "\". "))
        << e.Message().toStdString();
  }
  EXPECT_TRUE(QDir(path).exists());
  EXPECT_EQ(folderEntries(), QStringList{});
}

TEST_F(SettingsOnDisk, MissingFolderReadsEmptyAndAWriteCannotCreateTheFile) {
  const QString inMissing = dir.filePath("gone/Vellumark.ini");
  setSettingsFilePathOverride(inMissing);
  EXPECT_EQ(readSetting("settings", "base_filename"), "");
  try {
    writeSetting("settings", "base_filename", "x");
    ADD_FAILURE() << "a write must fail";
  } catch (const EFCreateError& e) {
    EXPECT_TRUE(e.Message().startsWith("Cannot create file \"" + QDir::toNativeSeparators(inMissing) + "\". "))
        << e.Message().toStdString();
  }
  EXPECT_FALSE(QFile::exists(inMissing));
}

TEST_F(SettingsOnDisk, ReadOnlyFileIsNotReplaced) {
  RUN_AS_UNPRIVILEGED_USER();
  SettingsAccess::SetImageSetting("1_1", "a.png");
  const QByteArray before = readFileBytes(path);
  ASSERT_TRUE(QFile(path).setPermissions(QFileDevice::ReadOwner));
  try {
    SettingsAccess::SetImageSetting("1_1", "b.png");
    ADD_FAILURE() << "a read-only settings file must not be replaced";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + QDir::toNativeSeparators(path) + "\". Permission denied");
  }
  EXPECT_EQ(readFileBytes(path), before);
}

TEST_F(SettingsOnDisk, UnreadableFileFailsWithTheOpenMessage) {
  RUN_AS_UNPRIVILEGED_USER();
  writeFileBytes(path, "[settings]\r\nbase_filename=x\r\n");
  ASSERT_TRUE(QFile(path).setPermissions(QFileDevice::WriteOwner));
  try {
    SettingsAccess::GetWindowSetting("base_filename");
    ADD_FAILURE() << "a read must fail";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + QDir::toNativeSeparators(path) + "\". Permission denied");
  }
}

// A settings file over 64 MB is refused, by reads and writes alike, and never written; cut back to
// its text, it is read. A sparse file: the size costs no disk.
TEST_F(SettingsOnDisk, ASettingsFileOver64MBIsRefusedAndNeverWritten) {
  const QString message = "Cannot open file \"" + QDir::toNativeSeparators(path) +
                           "\". It is larger than 64 MB, too large for a settings file";
  writeFileBytes(path, "[settings]\r\nbase_filename=x\r\n");
  ASSERT_TRUE(QFile(path).resize((qint64(64) << 20) + 1));
  const QByteArray head = readFileBytes(path).left(100);
  for (const auto& access : std::initializer_list<std::function<void()>>{
           [] { SettingsAccess::GetWindowSetting("base_filename"); },
           [] { SettingsAccess::SetWindowSetting("base_filename", "y"); },
           [] { useSettingsSnapshot(); }}) {
    try {
      access();
      ADD_FAILURE() << "accepted";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
  dropSettingsSnapshot();
  EXPECT_EQ(QFileInfo(path).size(), (qint64(64) << 20) + 1);
  EXPECT_EQ(readFileBytes(path).left(100), head);
  ASSERT_TRUE(QFile(path).resize(29));
  EXPECT_EQ(SettingsAccess::GetWindowSetting("base_filename"), "x");
}

#ifdef Q_OS_UNIX
// A write that runs out of room (here: a file size limit, which stops root as well) names the file and
// the system's reason, and leaves the previous file whole and readable.
TEST_F(SettingsOnDisk, FailedWriteLeavesThePreviousFileIntact) {
  SettingsAccess::SetImageSetting("1_1", "a.png");
  SettingsAccess::SetSelectionSetting("1_1", TRectF{1, 2, 3, 4});
  const QByteArray before = readFileBytes(path);

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  QString message;
  try {
    SettingsAccess::SetImageSetting("2_1", QString(10000, u'x'));
  } catch (const EWriteError& e) {
    message = e.Message();
  } catch (const Exception& e) {
    message = "unexpected: " + e.Message();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(message, "Cannot write file \"" + path + "\". File too large");
  EXPECT_EQ(readFileBytes(path), before);
  EXPECT_EQ(SettingsAccess::GetSelectionSetting("1_1"), (TRectF{1, 2, 3, 4}));
  EXPECT_EQ(folderEntries(), QStringList{"Vellumark.ini"}) << "no temporary file is left behind";
}
#endif

}  // namespace

TEST_F(SettingsOnDisk, ASnapshotServesReadsAndKeepsWritesOffTheFile) {
  const QByteArray original = "; kept as it is\n[settings]\nbase_filename=C:\\out\\MyApp.png\n";
  writeFileBytes(path, original);
  useSettingsSnapshot();
  writeFileBytes(path, "[settings]\nbase_filename=changed on disk\n");  // read once: not seen
  EXPECT_EQ(SettingsAccess::GetWindowSetting("base_filename"), "C:\\out\\MyApp.png");
  SettingsAccess::SetWindowSetting("base_filename", "D:\\other.png");
  SettingsAccess::SetSelectionSetting("180_180", {1, 2, 3, 4});
  EXPECT_EQ(SettingsAccess::GetWindowSetting("base_filename"), "D:\\other.png");  // the run sees its writes
  EXPECT_EQ(SettingsAccess::GetSelectionSetting("180_180"), (TRectF{1, 2, 3, 4}));
  EXPECT_EQ(readFileBytes(path), "[settings]\nbase_filename=changed on disk\n");
  dropSettingsSnapshot();
  EXPECT_EQ(SettingsAccess::GetWindowSetting("base_filename"), "changed on disk");
}
