#pragma once

// What the Android and the iOS option-set documents share: the MSBuild project namespace, the
// root, "ProjectExtensions" and "BorlandProject" bindings (alike in both kinds apart from their
// names, so written once here as templates), the making of a document and its project header.
//
// Every binding interface offers the element operations of TXMLNode first, then its own read
// accessors in property order, then its write accessors in the same order. A read creates what
// it reads when it is absent.

#include "optset/XmlNode.h"

// The default namespace of MSBuild project files (2003 schema).
inline const QString msbuildNamespaceURI = QStringLiteral("http://schemas.microsoft.com/developer/msbuild/2003");

// Accessors of the PropertyGroup bindings, where each property bears its element's name.
#define VM_OPTSET_READ_STRING(Name) \
  QString Name() { return childText(QStringLiteral(#Name)); }
#define VM_OPTSET_READ_INTEGER(Name) \
  int Name() { return childInteger(QStringLiteral(#Name)); }
#define VM_OPTSET_WRITE_STRING(Name) \
  void Set##Name(const QString& value) { SetChildText(QStringLiteral(#Name), value); }
#define VM_OPTSET_WRITE_INTEGER(Name) \
  void Set##Name(int value) { setChildInteger(QStringLiteral(#Name), value); }

// "BorlandProject".
class TXMLBorlandProjectTypeBase : public TXMLNode {
public:
  QString Delphi_Personality() { return childText(QStringLiteral("Delphi.Personality")); }
  void SetDelphi_Personality(const QString& value) { SetChildText(QStringLiteral("Delphi.Personality"), value); }
};

// "ProjectExtensions", binding "BorlandProject" to TBorlandProject.
template <class TBorlandProject>
class TXMLProjectExtensionsTypeOf : public TXMLNode {
public:
  QString Borland_Personality() { return childText(QStringLiteral("Borland.Personality")); }
  QString Borland_ProjectType() { return childText(QStringLiteral("Borland.ProjectType")); }
  std::shared_ptr<TBorlandProject> BorlandProject() {
    return boundNodeAs<TBorlandProject>(ChildElement(QStringLiteral("BorlandProject")));
  }
  int ProjectFileVersion() { return childInteger(QStringLiteral("ProjectFileVersion")); }

  void SetBorland_Personality(const QString& value) { SetChildText(QStringLiteral("Borland.Personality"), value); }
  void SetBorland_ProjectType(const QString& value) { SetChildText(QStringLiteral("Borland.ProjectType"), value); }
  void SetProjectFileVersion(int value) { setChildInteger(QStringLiteral("ProjectFileVersion"), value); }

protected:
  void AfterConstruction() override {
    RegisterChildNode(QStringLiteral("BorlandProject"), nodeClassOf<TBorlandProject>, NamespaceURI());
    TXMLNode::AfterConstruction();
  }
};

// "Project", the root, binding "PropertyGroup" and "ProjectExtensions" in that order.
template <class TPropertyGroup, class TProjectExtensions>
class TXMLProjectTypeOf : public TXMLNode {
public:
  QString Xmlns() const { return Attribute(QStringLiteral("xmlns")); }
  std::shared_ptr<TPropertyGroup> PropertyGroup() {
    return boundNodeAs<TPropertyGroup>(ChildElement(QStringLiteral("PropertyGroup")));
  }
  std::shared_ptr<TProjectExtensions> ProjectExtensions() {
    return boundNodeAs<TProjectExtensions>(ChildElement(QStringLiteral("ProjectExtensions")));
  }
  void SetXmlns(const QString& value) { SetAttribute(QStringLiteral("xmlns"), value); }

protected:
  void AfterConstruction() override {
    RegisterChildNode(QStringLiteral("PropertyGroup"), nodeClassOf<TPropertyGroup>, NamespaceURI());
    RegisterChildNode(QStringLiteral("ProjectExtensions"), nodeClassOf<TProjectExtensions>, NamespaceURI());
    TXMLNode::AfterConstruction();
  }
};

// A new document: declaration <?xml version="1.0"?>, then the root "Project" of class TRoot in
// the MSBuild namespace, which it declares in its "xmlns" attribute. Returns the root.
template <class TRoot>
std::shared_ptr<TRoot> newOptsetDocument() {
  const IXMLDocument doc = TXMLDocument::Create();
  doc->SetVersion(QStringLiteral("1.0"));
  return boundNodeAs<TRoot>(doc->GetDocBinding(QStringLiteral("Project"), nodeClassOf<TRoot>, msbuildNamespaceURI));
}

// The project header that marks a document as an option set of the IDE, then indentation on.
// Indentation comes on only after the header, so that the whole "ProjectExtensions" subtree
// is written without formatting whitespace, on the root's line.
template <class TRoot>
void FillOptsetHeader(const std::shared_ptr<TRoot>& root) {
  root->ProjectExtensions()->SetBorland_Personality(QStringLiteral("Delphi.Personality.12"));
  root->ProjectExtensions()->SetBorland_ProjectType(QStringLiteral("OptionSet"));
  root->ProjectExtensions()->BorlandProject()->SetDelphi_Personality(QString());
  root->ProjectExtensions()->SetProjectFileVersion(12);
  const IXMLDocument doc = root->OwnerDocument();
  doc->SetOptions(doc->Options() | doNodeAutoIndent);
}
