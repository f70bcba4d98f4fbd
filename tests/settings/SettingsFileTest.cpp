// The in-memory model of the settings file: parsing, look-up, setting a value and the stored bytes.
#include "settings/SettingsFile.h"
#include "tests/settings/Printing.h"

#include <gtest/gtest.h>

namespace {

QByteArray storedAfterSet(const QByteArray& before, const char* section, const char* key, const QString& value) {
  TSettingsFile model = TSettingsFile::fromBytes(before);
  model.setValue(QString::fromUtf8(section), QString::fromUtf8(key), value);
  return model.toBytes();
}

struct LookupCase {
  const char* what;
  QByteArray file;
  const char* section;
  const char* key;
  QString expected;
};

class Lookup : public testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, FindsTheValue) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(TSettingsFile::fromBytes(c.file).value(QString::fromUtf8(c.section), QString::fromUtf8(c.key)),
            c.expected)
      << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    SettingsFile, Lookup,
    testing::Values(
        LookupCase{"letter case of section and key is ignored", "[SETTINGS]\r\nBASE_FILENAME=C:\\x.png\r\n",
                   "settings", "base_filename", "C:\\x.png"},
        LookupCase{"only the first = separates key and value", "[images]\r\n180_180=C:\\a=b\\x.png\r\n", "images",
                   "180_180", "C:\\a=b\\x.png"},
        LookupCase{"blanks around key and value are read past", "[images]\r\n  180_180 \t=  C:\\x y.png  \r\n",
                   "images", "180_180", "C:\\x y.png"},
        LookupCase{"control characters count as blanks", QByteArray("[s]\n\x01k\x1f=\x00v\x7f\x00\n", 13), "s", "k",
                   QStringLiteral("v\x7f")},
        LookupCase{"the first of two keys wins", "[s]\nk=1\nK=2\n", "s", "k", "1"},
        LookupCase{"the first of two sections wins", "[s]\na=1\n[S]\na=2\nb=3\n", "s", "a", "1"},
        LookupCase{"a key only in the repeated section is not found", "[s]\na=1\n[S]\nb=3\n", "s", "b", ""},
        LookupCase{"header names are trimmed", "[  images \t]\nk=v\n", "images", "k", "v"},
        LookupCase{"lone CR and lone LF end lines", "[s]\ra=1\nb=2\r\nc=3", "s", "c", "3"},
        LookupCase{"lines before the first section are dropped", "k=v\n[s]\n", "s", "k", ""},
        LookupCase{"comment lines are read past", "[s]\n;k=v\n  ;x\nk=w\n", "s", "k", "w"},
        LookupCase{"a line without = has no key", "[s]\nk\nk=2\n", "s", "k", "2"},
        LookupCase{"missing section", "[s]\nk=1\n", "t", "k", ""},
        LookupCase{"empty file", "", "s", "k", ""}),
    [](const testing::TestParamInfo<LookupCase>& info) { return "case" + std::to_string(info.index); });

TEST(SettingsFile, FirstWriteIntoNothingGivesThreeLines) {
  TSettingsFile model;
  EXPECT_EQ(model.encoding(), TSettingsFile::Encoding::None);
  model.setValue("settings", "base_filename", "C:\\Work\\MyApp.png");
  EXPECT_EQ(model.toBytes(), QByteArray("[settings]\r\nbase_filename=C:\\Work\\MyApp.png\r\n\r\n"));
}

TEST(SettingsFile, WriteKeepsHeaderSpellingAndTakesTheCallersKeySpelling) {
  EXPECT_EQ(storedAfterSet("[SETTINGS]\r\nBASE_FILENAME=C:\\x.png\r\n", "settings", "base_filename", "C:\\y.png"),
            QByteArray("[SETTINGS]\r\nbase_filename=C:\\y.png\r\n\r\n"));
}

TEST(SettingsFile, StoringNormalisesTheFile) {
  const QByteArray before =
      "; written by hand\n"
      "orphan=1\n"
      "\n"
      "  [ images ]  \n"
      "  180_180 =  C:\\a.png  \n"
      "; a comment\n"
      "loose line   \n"
      "\n\n\n"
      "[selections]\r"
      "180_180=1,2,3,4";
  EXPECT_EQ(storedAfterSet(before, "settings", "base_filename", "x"),
            QByteArray("[images]\r\n180_180=C:\\a.png\r\nloose line\r\n\r\n"
                       "[selections]\r\n180_180=1,2,3,4\r\n\r\n"
                       "[settings]\r\nbase_filename=x\r\n\r\n"));
}

TEST(SettingsFile, RepeatedSectionIsCarriedAlongAndWritesGoToTheFirst) {
  EXPECT_EQ(storedAfterSet("[s]\na=1\n[t]\n[S]\na=2\nb=3\n", "S", "b", "new"),
            QByteArray("[s]\r\na=1\r\nb=new\r\n\r\n[t]\r\n\r\n[S]\r\na=2\r\nb=3\r\n\r\n"));
}

TEST(SettingsFile, ValueIsStoredExactlyAndReadBackTrimmed) {
  TSettingsFile model;
  model.setValue("images", "1_1", "  C:\\x.png ");
  EXPECT_EQ(model.value("images", "1_1"), "  C:\\x.png ");
  const QByteArray bytes = model.toBytes();
  EXPECT_EQ(bytes, QByteArray("[images]\r\n1_1=  C:\\x.png \r\n\r\n"));
  EXPECT_EQ(TSettingsFile::fromBytes(bytes).value("images", "1_1"), "C:\\x.png");
}

TEST(SettingsFile, NewSectionGoesToTheEndAndNewKeyToTheEndOfItsSection) {
  EXPECT_EQ(storedAfterSet("[a]\nx=1\n[b]\ny=2\n", "A", "z", "3"),
            QByteArray("[a]\r\nx=1\r\nz=3\r\n\r\n[b]\r\ny=2\r\n\r\n"));
  EXPECT_EQ(storedAfterSet("[a]\nx=1\n", "Images", "z", "3"),
            QByteArray("[a]\r\nx=1\r\n\r\n[Images]\r\nz=3\r\n\r\n"));
}

// ---- Encodings

struct EncodingCase {
  const char* what;
  QByteArray mark;
  TSettingsFile::Encoding encoding;
  QByteArray (*encode)(const QString&);
};

QByteArray utf8(const QString& s) { return s.toUtf8(); }
QByteArray utf16le(const QString& s) {
  QByteArray out;
  for (QChar c : s) {
    out += char(c.unicode() & 0xFF);
    out += char(c.unicode() >> 8);
  }
  return out;
}
QByteArray utf16be(const QString& s) {
  QByteArray out;
  for (QChar c : s) {
    out += char(c.unicode() >> 8);
    out += char(c.unicode() & 0xFF);
  }
  return out;
}

class Encodings : public testing::TestWithParam<EncodingCase> {};

TEST_P(Encodings, ReadAndStoredInTheFilesEncodingWithItsMark) {
  const EncodingCase& c = GetParam();
  // "é" and "Ω" are outside ASCII; the clef is outside the 16-bit plane.
  const QString path = QStringLiteral("C:\\Bilder\\caf\u00e9-\u03a9-") + QString::fromUcs4(U"\U0001D11E") + ".png";
  const QString before = "[images]\r\n180_180=" + path + "\r\n";
  const TSettingsFile loaded = TSettingsFile::fromBytes(c.mark + c.encode(before));
  EXPECT_EQ(loaded.encoding(), c.encoding) << c.what;
  EXPECT_EQ(loaded.value("images", "180_180"), path) << c.what;

  TSettingsFile changed = loaded;
  changed.setValue("settings", "base_filename", QStringLiteral("D:\\\u00fcber\\App.png"));
  const QString after = "[images]\r\n180_180=" + path + "\r\n\r\n[settings]\r\nbase_filename=D:\\\u00fcber\\App.png\r\n\r\n";
  EXPECT_EQ(changed.toBytes(), c.mark + c.encode(after)) << c.what;
  EXPECT_EQ(TSettingsFile::fromBytes(changed.toBytes()).value("settings", "base_filename"),
            QStringLiteral("D:\\\u00fcber\\App.png"))
      << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    SettingsFile, Encodings,
    testing::Values(EncodingCase{"UTF-8 with mark", "\xEF\xBB\xBF", TSettingsFile::Encoding::Utf8, utf8},
                    EncodingCase{"UTF-16 LE with mark", "\xFF\xFE", TSettingsFile::Encoding::Utf16LE, utf16le},
                    EncodingCase{"UTF-16 BE with mark", "\xFE\xFF", TSettingsFile::Encoding::Utf16BE, utf16be},
                    EncodingCase{"no mark: UTF-8 on this platform", "", TSettingsFile::Encoding::Narrow, utf8}),
    [](const testing::TestParamInfo<EncodingCase>& info) { return "case" + std::to_string(info.index); });

TEST(SettingsFile, InvalidUtf8BytesSpoilOnlyTheirOwnValueAndSurviveAWrite) {
  for (const QByteArray mark : {QByteArray(), QByteArray("\xEF\xBB\xBF")}) {
    // a Latin-1 "é" (E9), a lone continuation byte, a truncated sequence, an encoded surrogate
    const QByteArray before = mark +
                              "[images]\r\n1_1=C:\\caf\xE9.png\r\n2_1=\x80\xE2\x82\r\n3_1=\xED\xA0\x80\r\n"
                              "4_1=C:\\\xC3\xA9t\xC3\xA9.png\r\n\r\n";
    TSettingsFile model = TSettingsFile::fromBytes(before);
    EXPECT_EQ(model.value("images", "4_1"), QStringLiteral("C:\\\u00e9t\u00e9.png"));
    EXPECT_TRUE(model.value("images", "1_1").startsWith("C:\\caf"));
    EXPECT_EQ(model.toBytes(), before) << "load and store keep every byte";
    model.setValue("settings", "base_filename", "x");
    EXPECT_EQ(model.toBytes(), before + "[settings]\r\nbase_filename=x\r\n\r\n");
  }
}

TEST(SettingsFile, Utf16OfOddLengthLosesOnlyItsLastByte) {
  const QByteArray before = QByteArray("\xFF\xFE") + utf16le("[s]\r\nk=v\r\n") + "A";
  const TSettingsFile model = TSettingsFile::fromBytes(before);
  EXPECT_EQ(model.value("s", "k"), "v");
  ASSERT_EQ(model.sections().size(), 1);
  EXPECT_EQ(model.sections()[0].Lines.size(), 2);  // k=v and the replacement character
}

class NarrowLatin1 : public testing::Test {
protected:
  void SetUp() override { setNarrowEncodingOverride(QStringConverter::Latin1); }
  void TearDown() override { setNarrowEncodingOverride(std::nullopt); }
};

TEST_F(NarrowLatin1, FileWithoutMarkIsReadAndStoredInTheCodePage) {
  const QByteArray before = "[images]\r\n1_1=C:\\caf\xE9.png\r\n\r\n";
  TSettingsFile model = TSettingsFile::fromBytes(before);
  EXPECT_EQ(model.value("images", "1_1"), QStringLiteral("C:\\caf\u00e9.png"));
  EXPECT_EQ(model.toBytes(), before);
  EXPECT_EQ(model.storedEncoding(), TSettingsFile::Encoding::Narrow);
}

TEST_F(NarrowLatin1, CharacterOutsideTheCodePageSwitchesTheFileToUtf8InsteadOfBeingLost) {
  TSettingsFile model = TSettingsFile::fromBytes("[images]\r\n1_1=C:\\caf\xE9.png\r\n");
  model.setValue("images", "2_1", QStringLiteral("C:\\\u03a9.png"));
  EXPECT_EQ(model.storedEncoding(), TSettingsFile::Encoding::Utf8);
  const QByteArray bytes = model.toBytes();
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
  const TSettingsFile reread = TSettingsFile::fromBytes(bytes);
  EXPECT_EQ(reread.value("images", "1_1"), QStringLiteral("C:\\caf\u00e9.png"));
  EXPECT_EQ(reread.value("images", "2_1"), QStringLiteral("C:\\\u03a9.png"));
}

}  // namespace
