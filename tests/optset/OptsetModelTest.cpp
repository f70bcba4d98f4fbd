// The option-set document model: element operations, bindings, typed accessors, sharing.
#include "optset/AndroidOptset.h"
#include "optset/iOSOptset.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

namespace {

QStringList elementNames(const IXMLNode& node) {
  QStringList names;
  for (const IXMLNode& child : node->ChildNodes())
    if (child->NodeType() == ntElement)
      names << child->NodeName();
  return names;
}

template <class F>
QString errorMessageOf(F&& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return QStringLiteral("<no error>");
}

}  // namespace

TEST(OptsetModel, NewDocumentHasDeclarationThenRootInMsbuildNamespace) {
  const IXMLAndroidProjectType root = NewAndroidOptset();
  const IXMLDocument doc = root->OwnerDocument();

  const QList<IXMLNode> top = doc->Node()->ChildNodes();
  ASSERT_EQ(top.size(), 2);
  EXPECT_EQ(top[0]->NodeType(), ntProcessingInstr);
  EXPECT_EQ(top[0]->NodeName(), u"xml");
  EXPECT_EQ(top[0]->NodeValue(), u"version=\"1.0\"");
  EXPECT_EQ(top[1], root);
  EXPECT_EQ(doc->DocumentElement(), root);
  EXPECT_EQ(root->ParentNode(), doc->Node());

  EXPECT_EQ(root->NodeName(), u"Project");
  EXPECT_EQ(root->Prefix(), u"");
  EXPECT_EQ(root->NamespaceURI(), msbuildNamespaceURI);
  ASSERT_EQ(root->AttributeNodes().size(), 1u);
  EXPECT_EQ(root->AttributeNodes()[0].Name, u"xmlns");
  EXPECT_EQ(root->AttributeNodes()[0].NamespaceURI, u"http://www.w3.org/2000/xmlns/");
  EXPECT_EQ(root->Xmlns(), u"http://schemas.microsoft.com/developer/msbuild/2003");
  EXPECT_FALSE(root->HasChildNodes());

  EXPECT_EQ(doc->Options(), doNodeAutoCreate | doAttrNull | doAutoPrefix | doNamespaceDecl);
  EXPECT_EQ(doc->NodeIndentStr(), u"  ");
  EXPECT_EQ(doc->Version(), u"1.0");
}

TEST(OptsetModel, HeaderBuildsProjectExtensionsFirstAndSwitchesIndentationOn) {
  const IXMLiOSProjectType root = NewiOSOptsetWithHeader();
  EXPECT_TRUE(root->OwnerDocument()->Options().testFlag(doNodeAutoIndent));
  EXPECT_EQ(elementNames(root), QStringList{u"ProjectExtensions"_qs});

  const IXMLProjectExtensionsType ext = root->ProjectExtensions();
  EXPECT_EQ(elementNames(ext),
            (QStringList{u"Borland.Personality"_qs, u"Borland.ProjectType"_qs, u"BorlandProject"_qs,
                         u"ProjectFileVersion"_qs}));
  EXPECT_EQ(ext->Borland_Personality(), u"Delphi.Personality.12");
  EXPECT_EQ(ext->Borland_ProjectType(), u"OptionSet");
  EXPECT_EQ(ext->ProjectFileVersion(), 12);
  const IXMLBorlandProjectType borland = ext->BorlandProject();
  EXPECT_EQ(borland->Delphi_Personality(), u"");
  // The empty personality is one empty text node, and the header holds no formatting text.
  const IXMLNode personality = borland->ChildElement(u"Delphi.Personality"_qs);
  ASSERT_EQ(personality->ChildNodes().size(), 1);
  EXPECT_EQ(personality->ChildNodes()[0]->NodeType(), ntText);
  for (const IXMLNode& child : ext->ChildNodes())
    EXPECT_EQ(child->NodeType(), ntElement);
}

TEST(OptsetModel, SetChildTextKeepsOneElementPerCaseSensitiveNameInFirstWriteOrder) {
  const IXMLAndroidProjectType root = NewAndroidOptsetWithHeader();
  const IXMLAndroidPropertyGroupType group = root->PropertyGroup();
  group->SetChildText(u"Android_LauncherIcon144"_qs, u"C:\\Art\\old.png"_qs);
  group->SetChildText(u"Android_LauncherIcon72"_qs, u"C:\\Art\\MyApp72x72.png"_qs);
  group->SetChildText(u"Android_LauncherIcon144"_qs, u"C:\\Art\\new.png"_qs);
  group->SetChildText(u"android_launchericon144"_qs, u"lower"_qs);

  EXPECT_EQ(elementNames(group), (QStringList{u"Android_LauncherIcon144"_qs, u"Android_LauncherIcon72"_qs,
                                              u"android_launchericon144"_qs}));
  EXPECT_EQ(group->Android_LauncherIcon144(), u"C:\\Art\\new.png");
  EXPECT_EQ(group->ChildElement(u"android_launchericon144"_qs)->ElementText(), u"lower");
  // The group is found again rather than made a second time.
  EXPECT_EQ(root->PropertyGroup(), group);
  EXPECT_EQ(elementNames(root), (QStringList{u"ProjectExtensions"_qs, u"PropertyGroup"_qs}));
}

TEST(OptsetModel, TypedPropertyAndSetChildTextReachTheSameElement) {
  const IXMLiOSProjectType root = NewiOSOptsetWithHeader();
  const IXMLPropertyGroupType group = root->PropertyGroup();
  group->SetChildText(u"iPad_AppIcon76"_qs, u"C:\\Art\\MyApp76x76.png"_qs);
  EXPECT_EQ(group->iPad_AppIcon76(), u"C:\\Art\\MyApp76x76.png");
  group->SetiPad_AppIcon76(u"C:\\Art\\Other76x76.png"_qs);
  EXPECT_EQ(group->ChildElement(u"iPad_AppIcon76"_qs)->ElementText(), u"C:\\Art\\Other76x76.png");
  EXPECT_EQ(elementNames(group), QStringList{u"iPad_AppIcon76"_qs});
}

TEST(OptsetModel, ReadsCreateWhatTheyReadAtTheEnd) {
  const IXMLAndroidProjectType root = NewAndroidOptsetWithHeader();
  EXPECT_EQ(elementNames(root), QStringList{u"ProjectExtensions"_qs});
  const IXMLAndroidPropertyGroupType group = root->PropertyGroup();
  EXPECT_EQ(elementNames(root), (QStringList{u"ProjectExtensions"_qs, u"PropertyGroup"_qs}));
  EXPECT_TRUE(elementNames(group).isEmpty());

  EXPECT_EQ(group->Android_LauncherIcon48(), u"");
  const IXMLNode leaf = group->ChildElement(u"Android_LauncherIcon48"_qs);
  ASSERT_EQ(leaf->ChildNodes().size(), 1);
  EXPECT_EQ(leaf->ChildNodes()[0]->NodeType(), ntText);
  EXPECT_EQ(leaf->ParentNode(), group);
}

TEST(OptsetModel, IntegerPropertiesWriteDecimalTextAndReadOnlyIntegers) {
  const IXMLAndroidProjectType root = NewAndroidOptset();
  root->ProjectExtensions()->SetProjectFileVersion(12);
  EXPECT_EQ(root->ProjectExtensions()->ChildElement(u"ProjectFileVersion"_qs)->ElementText(), u"12");
  EXPECT_EQ(root->ProjectExtensions()->ProjectFileVersion(), 12);

  const IXMLAndroidPropertyGroupType group = root->PropertyGroup();
  group->SetVerInfo_Build(-3);
  EXPECT_EQ(group->ChildElement(u"VerInfo_Build"_qs)->ElementText(), u"-3");
  EXPECT_EQ(group->VerInfo_Build(), -3);

  struct Case { const char* text; bool valid; int value; };
  const Case cases[] = {
      {"0", true, 0},         {"+7", true, 7},          {"2147483647", true, 2147483647},
      {"", false, 0},         {"abc", false, 0},        {" 12", false, 0},
      {"12 ", false, 0},      {"1.5", false, 0},        {"-", false, 0},
      {"0x10", false, 0},     {"2147483648", false, 0}, {"１２", false, 0},
  };
  for (const Case& c : cases) {
    const QString text = QString::fromUtf8(c.text);
    group->SetChildText(u"VerInfo_Build"_qs, text);
    if (c.valid) {
      EXPECT_EQ(group->VerInfo_Build(), c.value) << c.text;
    } else {
      try {
        group->VerInfo_Build();
        ADD_FAILURE() << "no error for '" << c.text << "'";
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
      }
      EXPECT_EQ(group->ChildElement(u"VerInfo_Build"_qs)->ElementText(), text) << "element left as it was";
    }
  }
}

TEST(OptsetModel, IntegerReadOfAbsentElementFailsAndLeavesItCreatedEmpty) {
  const IXMLiOSProjectType root = NewiOSOptsetWithHeader();
  const IXMLPropertyGroupType group = root->PropertyGroup();
  EXPECT_THROW(group->VerInfo_UIDeviceFamily(), EConvertError);
  EXPECT_EQ(elementNames(group), QStringList{u"VerInfo_UIDeviceFamily"_qs});
  EXPECT_EQ(group->ChildElement(u"VerInfo_UIDeviceFamily"_qs)->ElementText(), u"");
}

TEST(OptsetModel, TextAccessOnElementWithoutSingleTextNodeFailsAndChangesNothing) {
  const IXMLAndroidProjectType root = NewAndroidOptsetWithHeader();
  const IXMLAndroidPropertyGroupType group = root->PropertyGroup();
  group->SetChildText(u"Android_LauncherIcon36"_qs, u"a.png"_qs);
  const qsizetype children = group->ChildNodes().size();

  EXPECT_EQ(errorMessageOf([&] { group->ElementText(); }),
            u"Element \"PropertyGroup\" does not contain a single text node");
  EXPECT_EQ(errorMessageOf([&] { group->SetElementText(u"x"_qs); }),
            u"Element \"PropertyGroup\" does not contain a single text node");
  EXPECT_EQ(errorMessageOf([&] { root->ProjectExtensions()->ElementText(); }),
            u"Element \"ProjectExtensions\" does not contain a single text node");
  EXPECT_EQ(group->ChildNodes().size(), children);
  EXPECT_EQ(group->Android_LauncherIcon36(), u"a.png");
}

TEST(OptsetModel, ChildElementRejectsNamesXmlCannotHoldAndMissingNodesWithoutAutoCreate) {
  const IXMLAndroidProjectType root = NewAndroidOptsetWithHeader();
  const IXMLAndroidPropertyGroupType group = root->PropertyGroup();
  for (const QString& bad : {u""_qs, u"1abc"_qs, u"a b"_qs, u"a<b"_qs, u"a&b"_qs})
    EXPECT_THROW(group->SetChildText(bad, u"x"_qs), EXMLDocError) << bad.toStdString();
  EXPECT_FALSE(group->HasChildNodes());

  const IXMLDocument doc = root->OwnerDocument();
  doc->SetOptions(doc->Options() & ~TXMLDocOptions(doNodeAutoCreate));
  EXPECT_EQ(errorMessageOf([&] { group->ChildElement(u"Android_LauncherIcon96"_qs); }),
            u"Node \"Android_LauncherIcon96\" not found");
}

TEST(OptsetModel, AnyHandleKeepsTheDocumentAndReplacingTheRootReleasesIt) {
  IXMLAndroidProjectType AndroidOptions = NewAndroidOptsetWithHeader();
  std::weak_ptr<TXMLDocument> first = AndroidOptions->OwnerDocument();
  IXMLAndroidPropertyGroupType group = AndroidOptions->PropertyGroup();

  AndroidOptions = NewAndroidOptsetWithHeader();
  ASSERT_FALSE(first.expired()) << "a handle to an inner element still holds the document";
  group->SetChildText(u"Android_LauncherIcon96"_qs, u"kept.png"_qs);
  EXPECT_EQ(group->OwnerDocument()->DocumentElement()->NodeName(), u"Project");

  group.reset();
  EXPECT_TRUE(first.expired());

  std::weak_ptr<TXMLDocument> second = AndroidOptions->OwnerDocument();
  AndroidOptions = NewAndroidOptsetWithHeader();
  EXPECT_TRUE(second.expired());
  EXPECT_FALSE(elementNames(AndroidOptions).contains(u"PropertyGroup"_qs)) << "nothing carried over";
}
