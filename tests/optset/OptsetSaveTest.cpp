// Saving option-set documents: the exact bytes, what a real XML parser reads back, and files
// that are replaced whole or not at all.
#include "optset/AndroidOptset.h"
#include "optset/iOSOptset.h"
#include "platform/Errors.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>


namespace {

const QByteArray kHeaderLine =
    "<Project xmlns=\"http://schemas.microsoft.com/developer/msbuild/2003\"><ProjectExtensions>"
    "<Borland.Personality>Delphi.Personality.12</Borland.Personality>"
    "<Borland.ProjectType>OptionSet</Borland.ProjectType>"
    "<BorlandProject><Delphi.Personality></Delphi.Personality></BorlandProject>"
    "<ProjectFileVersion>12</ProjectFileVersion></ProjectExtensions>";

struct Leaf {
  QString path;  // element names from the root down, joined by "/"
  QString text;
  friend bool operator==(const Leaf&, const Leaf&) = default;
};

void PrintTo(const Leaf& leaf, std::ostream* os) {
  *os << leaf.path.toStdString() << "=" << leaf.text.toStdString();
}

// Parses the bytes with Qt's XML reader: every element must be in the MSBuild namespace; gives
// the leaf elements in document order with their texts.
std::vector<Leaf> parseLeaves(const QByteArray& bytes) {
  std::vector<Leaf> leaves;
  QXmlStreamReader reader(bytes);
  QStringList path;
  QString text;
  bool hasChildElement = false;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement:
        EXPECT_EQ(reader.namespaceUri(), msbuildNamespaceURI) << reader.name().toString().toStdString();
        path << reader.name().toString();
        text.clear();
        hasChildElement = false;
        break;
      case QXmlStreamReader::Characters:
        text += reader.text();
        break;
      case QXmlStreamReader::EndElement:
        if (!hasChildElement)
          leaves.push_back({path.join(u'/'), text});
        path.removeLast();
        hasChildElement = true;
        break;
      default:
        break;
    }
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  return leaves;
}

std::vector<Leaf> headerLeaves() {
  return {{u"Project/ProjectExtensions/Borland.Personality"_qs, u"Delphi.Personality.12"_qs},
          {u"Project/ProjectExtensions/Borland.ProjectType"_qs, u"OptionSet"_qs},
          {u"Project/ProjectExtensions/BorlandProject/Delphi.Personality"_qs, QString()},
          {u"Project/ProjectExtensions/ProjectFileVersion"_qs, u"12"_qs}};
}


}  // namespace

TEST(OptsetSave, AndroidFileWithTwoEntriesIsByteExact) {
  const IXMLAndroidProjectType AndroidOptions = NewAndroidOptsetWithHeader();
  AndroidOptions->PropertyGroup()->SetChildText(u"Android_LauncherIcon144"_qs, u"C:\\Art\\MyApp144x144.png"_qs);
  AndroidOptions->PropertyGroup()->SetChildText(u"Android_LauncherIcon72"_qs, u"C:\\Art\\MyApp72x72.png"_qs);

  const QByteArray expected = "<?xml version=\"1.0\"?>\n" + kHeaderLine +
                              "  <PropertyGroup>\n"
                              "    <Android_LauncherIcon144>C:\\Art\\MyApp144x144.png</Android_LauncherIcon144>\n"
                              "    <Android_LauncherIcon72>C:\\Art\\MyApp72x72.png</Android_LauncherIcon72>\n"
                              "  </PropertyGroup>\n"
                              "</Project>\n";
  const QByteArray bytes = AndroidOptions->OwnerDocument()->SaveToXML();
  EXPECT_EQ(bytes.toStdString(), expected.toStdString());

  std::vector<Leaf> leaves = headerLeaves();
  leaves.push_back({u"Project/PropertyGroup/Android_LauncherIcon144"_qs, u"C:\\Art\\MyApp144x144.png"_qs});
  leaves.push_back({u"Project/PropertyGroup/Android_LauncherIcon72"_qs, u"C:\\Art\\MyApp72x72.png"_qs});
  EXPECT_EQ(parseLeaves(bytes), leaves);

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(u"MyApp.android.optset"_qs);
  AndroidOptions->OwnerDocument()->SaveToFile(path);
  EXPECT_EQ(readFileBytes(path), expected);
}

TEST(OptsetSave, IosFileHoldsOneElementPerDeviceNameWithTheSamePath) {
  const IXMLiOSProjectType iOSOptions = NewiOSOptsetWithHeader();
  const QString path = u"C:\\Art\\MyApp152x152.png"_qs;
  iOSOptions->PropertyGroup()->SetChildText(u"iPad_AppIcon152"_qs, path);
  iOSOptions->PropertyGroup()->SetChildText(u"iPhone_AppIcon120"_qs, u"C:\\Art\\MyApp120x120.png"_qs);
  iOSOptions->PropertyGroup()->SetChildText(u"iPhone_Spotlight80"_qs, u"C:\\Art\\MyApp80x80.png"_qs);
  iOSOptions->PropertyGroup()->SetChildText(u"iPad_SpotLight80"_qs, u"C:\\Art\\MyApp80x80.png"_qs);

  const QByteArray bytes = iOSOptions->OwnerDocument()->SaveToXML();
  EXPECT_EQ(bytes.toStdString(),
            ("<?xml version=\"1.0\"?>\n" + kHeaderLine +
             "  <PropertyGroup>\n"
             "    <iPad_AppIcon152>C:\\Art\\MyApp152x152.png</iPad_AppIcon152>\n"
             "    <iPhone_AppIcon120>C:\\Art\\MyApp120x120.png</iPhone_AppIcon120>\n"
             "    <iPhone_Spotlight80>C:\\Art\\MyApp80x80.png</iPhone_Spotlight80>\n"
             "    <iPad_SpotLight80>C:\\Art\\MyApp80x80.png</iPad_SpotLight80>\n"
             "  </PropertyGroup>\n"
             "</Project>\n")
                .toStdString());

  std::vector<Leaf> leaves = headerLeaves();
  leaves.push_back({u"Project/PropertyGroup/iPad_AppIcon152"_qs, path});
  leaves.push_back({u"Project/PropertyGroup/iPhone_AppIcon120"_qs, u"C:\\Art\\MyApp120x120.png"_qs});
  leaves.push_back({u"Project/PropertyGroup/iPhone_Spotlight80"_qs, u"C:\\Art\\MyApp80x80.png"_qs});
  leaves.push_back({u"Project/PropertyGroup/iPad_SpotLight80"_qs, u"C:\\Art\\MyApp80x80.png"_qs});
  EXPECT_EQ(parseLeaves(bytes), leaves);
}

TEST(OptsetSave, DocumentsWithoutEntriesHoldTheSameHeaderAndNoPropertyGroup) {
  const QByteArray expected = "<?xml version=\"1.0\"?>\n" + kHeaderLine + "</Project>\n";
  const QByteArray android = NewAndroidOptsetWithHeader()->OwnerDocument()->SaveToXML();
  const QByteArray ios = NewiOSOptsetWithHeader()->OwnerDocument()->SaveToXML();
  EXPECT_EQ(android.toStdString(), expected.toStdString());
  EXPECT_EQ(ios.toStdString(), expected.toStdString());
  EXPECT_FALSE(android.contains("PropertyGroup"));
  EXPECT_EQ(parseLeaves(android), headerLeaves());
}

TEST(OptsetSave, RewrittenEntryKeepsItsPlaceAndLaterTextOnDisk) {
  const IXMLAndroidProjectType AndroidOptions = NewAndroidOptsetWithHeader();
  const IXMLAndroidPropertyGroupType group = AndroidOptions->PropertyGroup();
  group->SetChildText(u"Android_LauncherIcon36"_qs, u"first.png"_qs);
  group->SetChildText(u"Android_LauncherIcon48"_qs, u"b.png"_qs);
  group->SetChildText(u"Android_LauncherIcon36"_qs, u"second.png"_qs);

  std::vector<Leaf> leaves = headerLeaves();
  leaves.push_back({u"Project/PropertyGroup/Android_LauncherIcon36"_qs, u"second.png"_qs});
  leaves.push_back({u"Project/PropertyGroup/Android_LauncherIcon48"_qs, u"b.png"_qs});
  EXPECT_EQ(parseLeaves(AndroidOptions->OwnerDocument()->SaveToXML()), leaves);
}

TEST(OptsetSave, PathsComeBackFromAParserExactlyWithOnlyTheEscapingXmlNeeds) {
  struct Case { QString path; QByteArray written; };
  const Case cases[] = {
      {u"C:\\R&D\\<new>\\MyApp72x72.png"_qs, "C:\\R&amp;D\\&lt;new&gt;\\MyApp72x72.png"},
      {u"C:\\\"Quoted\" 'art'\\a.png"_qs, "C:\\\"Quoted\" 'art'\\a.png"},
      {u"/home/ana/Área 😀/x.png"_qs, "/home/ana/\xc3\x81rea \xf0\x9f\x98\x80/x.png"},
      {u"a\tb\rc\nd"_qs, "a\tb&#13;c\nd"},
      {u"]]>"_qs, "]]&gt;"},
  };
  for (const Case& c : cases) {
    const IXMLAndroidProjectType root = NewAndroidOptsetWithHeader();
    root->PropertyGroup()->SetChildText(u"Android_LauncherIcon72"_qs, c.path);
    const QByteArray bytes = root->OwnerDocument()->SaveToXML();
    EXPECT_TRUE(bytes.contains("<Android_LauncherIcon72>" + c.written + "</Android_LauncherIcon72>"))
        << bytes.toStdString();
    const std::vector<Leaf> leaves = parseLeaves(bytes);
    ASSERT_FALSE(leaves.empty());
    EXPECT_EQ(leaves.back().text, c.path);
  }

  // Attribute values get their quotes and whitespace escaped as well.
  const IXMLAndroidProjectType root = NewAndroidOptset();
  root->SetXmlns(u"urn:a&b<c>\"d\"\te\nf"_qs);
  EXPECT_TRUE(root->OwnerDocument()->SaveToXML().contains(
      "xmlns=\"urn:a&amp;b&lt;c&gt;&quot;d&quot;&#9;e&#10;f\""));
}

TEST(OptsetSave, CharacterXmlCannotHoldFailsAndLeavesTheExistingFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(u"MyApp.android.optset"_qs);
  writeFileBytes(path, "previous");

  for (const QString& bad : {u"C:\\a\u0001b.png"_qs, QString(QChar(0xD800)), QString(QChar(0xFFFF))}) {
    const IXMLAndroidProjectType root = NewAndroidOptsetWithHeader();
    root->PropertyGroup()->SetChildText(u"Android_LauncherIcon96"_qs, bad);
    try {
      root->OwnerDocument()->SaveToFile(path);
      ADD_FAILURE() << "saved a character XML cannot hold";
    } catch (const EXMLDocError& e) {
      EXPECT_TRUE(e.Message().startsWith(u"The text of \"Android_LauncherIcon96\" holds the character U+"))
          << e.what();
    }
    EXPECT_EQ(readFileBytes(path), "previous");
  }
}

TEST(OptsetSave, ExistingLongerFileIsReplacedWholeWithoutLeftovers) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(u"MyApp.ios.optset"_qs);
  writeFileBytes(path, QByteArray(10000, 'x'));

  const IXMLiOSProjectType root = NewiOSOptsetWithHeader();
  root->OwnerDocument()->SaveToFile(path);
  EXPECT_EQ(readFileBytes(path), root->OwnerDocument()->SaveToXML());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"MyApp.ios.optset"_qs})
      << "no temporary file left behind";
}

TEST(OptsetSave, MissingFolderRaisesErrorNamingThePath) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  writeFileBytes(dir.filePath(u"plainfile"_qs), "x");
  const QString paths[] = {dir.filePath(u"missing/MyApp.android.optset"_qs),
                           dir.filePath(u"plainfile/MyApp.android.optset"_qs)};
  for (const QString& path : paths) {
    const IXMLAndroidProjectType root = NewAndroidOptsetWithHeader();
    try {
      root->OwnerDocument()->SaveToFile(path);
      ADD_FAILURE() << "saved into a folder that does not exist: " << path.toStdString();
    } catch (const EXMLDocError& e) {
      EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path))) << e.what();
      EXPECT_GT(e.Message().size(), QStringLiteral("Cannot create file \"%1\". ").arg(path).size())
          << "the writer's reason follows";
    }
    EXPECT_FALSE(QFile::exists(path));
  }
}

TEST(OptsetSave, UnwritableFolderOrReadOnlyFileKeepsThePreviousFile) {
  RUN_AS_UNPRIVILEGED_USER();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());

  const QString readOnlyFile = dir.filePath(u"file.optset"_qs);
  writeFileBytes(readOnlyFile, "previous file");
  ASSERT_TRUE(QFile::setPermissions(readOnlyFile, QFile::ReadOwner));

  const QString folder = dir.filePath(u"locked"_qs);
  ASSERT_TRUE(QDir().mkdir(folder));
  const QString inLockedFolder = folder + u"/folder.optset"_qs;
  writeFileBytes(inLockedFolder, "previous folder");
  ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));

  for (const QString& path : {readOnlyFile, inLockedFolder}) {
    const QByteArray before = readFileBytes(path);
    EXPECT_THROW(NewAndroidOptsetWithHeader()->OwnerDocument()->SaveToFile(path), EXMLDocError)
        << path.toStdString();
    EXPECT_EQ(readFileBytes(path), before);
  }
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
