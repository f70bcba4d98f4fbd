// A file that is no settings file (a picture, an archive, a program, binary data) is refused by every
// read and so never written; the settings file never grows past what a load would read; a failed
// write names the file and the reason.
#include "platform/Errors.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "support/Paths.h"
#include "support/TestFiles.h"
#include "tests/settings/Printing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray dataFile(const char* name) { return readFileBytes(testDataDir() + "/formats/" + name); }

QByteArray utf16(const QString& text, bool bigEndian) {
  QByteArray out = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    out += bigEndian ? char(u >> 8) : char(u & 0xFF);
    out += bigEndian ? char(u & 0xFF) : char(u >> 8);
  }
  return out;
}

// The reason, or "" for bytes that may be a settings file; pictures from the repository's fixtures.
TEST(NotASettingsFile, PicturesArchivesProgramsAndBinaryDataAreNamedForWhatTheyAre) {
  QByteArray random;
  for (int i = 0; i < 4096; ++i)
    random += char((i * 2654435761u) >> 13);
  random.replace('\0', '\x01');
  const QString settings = QStringLiteral("[settings]\r\nbase_filename=C:\\Out\\Café.png\r\n");
  const struct {
    const char* what;
    QByteArray bytes;
    const char* reason;  // after "It is not a settings file: "; nullptr: may be a settings file
  } cases[] = {
      {"PNG", dataFile("sample.png"), "it is a PNG picture"},
      {"JPEG", dataFile("sample.jpg"), "it is a JPEG picture"},
      {"GIF", dataFile("palette.gif"), "it is a GIF picture"},
      {"BMP", dataFile("sample.bmp"), "it is a BMP picture"},
      {"TIFF", dataFile("sample.tif"), "it is a TIFF picture"},
      {"ICO", dataFile("sample.ico"), "it is an ICO picture"},
      {"WebP", QByteArray("RIFF\x10\0\0\0WEBPVP8 ", 16), "it is a RIFF file (a WebP picture, a sound or a video)"},
      {"ZIP", QByteArray("PK\3\4\x14\0\0\0\x08\0", 10), "it is a ZIP archive"},
      {"PDF", "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n", "it is a PDF document"},
      {"ELF", QByteArray("\x7F" "ELF\2\1\1\0", 8), "it is a program (ELF)"},
      {"gzip", QByteArray("\x1F\x8B\x08\0", 4), "it is a gzip archive"},
      {"NUL bytes in text", QByteArray("[settings]\r\nbase\0_filename=x\r\n", 29), "it holds NUL characters"},
      {"UTF-16 without a mark", utf16(settings, false).mid(2), "it holds NUL characters"},
      {"a NUL character in UTF-16", utf16(QStringLiteral("[settings]\r\nx=") + QChar(0) + "\r\n", false),
       "it holds NUL characters"},
      {"binary data", random, "it cannot be read as text"},
      {"empty", "", nullptr},
      {"UTF-16 little-endian with its mark", utf16(settings, false), nullptr},
      {"UTF-16 big-endian with its mark", utf16(settings, true), nullptr},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + settings.toUtf8(), nullptr},
      {"narrow, a stray byte in one value", "[images]\r\n1_1=C:\\caf\xE9.png\r\n[settings]\r\nbase_filename=x\r\n",
       nullptr},
      {"a comment before the first section", "; BM is no bitmap here\r\n[settings]\r\n", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.bytes.isEmpty() && c.reason) << "fixture missing";
    EXPECT_EQ(notSettingsFileReason(c.bytes),
              c.reason ? "It is not a settings file: " + QString::fromUtf8(c.reason) : QString());
  }
}

class NotASettingsFileOnDisk : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  QTemporaryDir dir;
};

// Every access of the store refuses it with the file and the reason, and its bytes stay as they are:
// a read, a write, the window's check before it opens, and the command line's snapshot.
TEST_F(NotASettingsFileOnDisk, EveryAccessRefusesItAndItsBytesStay) {
  const struct {
    const char* name;
    QByteArray bytes;
    const char* reason;
  } cases[] = {
      {"victim.png", dataFile("sample.png"), "it is a PNG picture"},
      {"nul.ini", QByteArray("[settings]\r\nbase_filename=a\0b\r\n", 29), "it holds NUL characters"},
      {"archive.ini", QByteArray("PK\3\4\x14\0\0\0\x08\0[settings]", 20), "it is a ZIP archive"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = dir.filePath(c.name);
    writeFileBytes(path, c.bytes);
    const QString message =
        "Cannot open file \"" + path + "\". It is not a settings file: " + QString::fromUtf8(c.reason);
    TSettingsStore store(path);
    const std::function<void()> accesses[] = {
        [&] { (void)store.WindowSetting("base_filename"); },
        [&] { store.SetWindowSetting("base_filename", "/out/MyApp.png"); },
        [&] { store.SetSelectionSetting("180_180", TRectF{1, 2, 3, 4}); },
        [&] { store.RefuseNonSettingsFile(); },
        [&] { store.TakeSnapshot(); },
    };
    for (const auto& access : accesses) {
      try {
        access();
        ADD_FAILURE() << "accepted";
      } catch (const ENotSettingsFileError& e) {
        EXPECT_EQ(e.Message(), message);
      }
    }
    EXPECT_EQ(readFileBytes(path), c.bytes);
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3) << "no lock or temporary file left";
}

// A settings file in UTF-16 (NUL bytes in every line) is one; an empty or missing one is a first start.
TEST_F(NotASettingsFileOnDisk, Utf16EmptyAndMissingFilesAreSettingsFiles) {
  const QString wide = dir.filePath("wide.ini");
  writeFileBytes(wide, utf16(QStringLiteral("[settings]\r\nbase_filename=/out/Café.png\r\n\r\n"), false));
  TSettingsStore store(wide);
  EXPECT_NO_THROW(store.RefuseNonSettingsFile());
  EXPECT_EQ(store.WindowSetting("base_filename"), QStringLiteral("/out/Café.png"));
  store.SetWindowSetting("optset", "0");
  EXPECT_EQ(readFileBytes(wide),
            utf16(QStringLiteral("[settings]\r\nbase_filename=/out/Café.png\r\noptset=0\r\n\r\n"), false));
  for (const QString& name : {QStringLiteral("empty.ini"), QStringLiteral("missing.ini")}) {
    const QString path = dir.filePath(name);
    if (name == "empty.ini")
      writeFileBytes(path, "");
    TSettingsStore first(path);
    EXPECT_NO_THROW(first.RefuseNonSettingsFile());
    first.SetWindowSetting("optset", "1");
    EXPECT_EQ(readFileBytes(path), "[settings]\r\noptset=1\r\n\r\n");
  }
}

// A write that would make the file larger than a load reads is refused before anything is written,
// with the file and the reason; the old file stays, and later starts read it as before.
TEST_F(NotASettingsFileOnDisk, AWriteBeyondTheSizeLimitIsRefusedAndTheOldFileStays) {
  const QString path = dir.filePath("Vellumark.ini");
  const QByteArray head = "[settings]\r\nbase_filename=/out/MyApp.png\r\n[images]\r\n1_1=";
  const QByteArray tail = "\r\n\r\n";
  QByteArray bytes = head + QByteArray(MaxSettingsFileSize - head.size() - tail.size(), 'a') + tail;
  ASSERT_EQ(bytes.size(), MaxSettingsFileSize);
  writeFileBytes(path, bytes);
  TSettingsStore store(path);
  EXPECT_EQ(store.WindowSetting("base_filename"), "/out/MyApp.png");
  try {
    store.SetImageSetting("180_180", "/pictures/icon.png");
    ADD_FAILURE() << "written";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Cannot write file \"" + path +
                               "\". It would be larger than 64 MB, too large for a settings file");
  }
  EXPECT_EQ(QFileInfo(path).size(), MaxSettingsFileSize);
  EXPECT_TRUE(readFileBytes(path) == bytes);
  TSettingsStore later(path);
  EXPECT_EQ(later.WindowSetting("base_filename"), "/out/MyApp.png");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Vellumark.ini"});
}

}  // namespace
