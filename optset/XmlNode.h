#pragma once

// The element layer under the option-set documents: a small standalone XML tree of element,
// text and processing-instruction nodes owned by a document, with typed node classes bound to
// element names, automatic indentation while nodes are appended, and a writer.
//
// Sharing. Every node belongs to exactly one document and lives as long as it does. The
// handles handed out (IXMLNode, IXMLDocument and the binding interfaces, all std::shared_ptr)
// share the document's reference count, so a handle to any node, the root included, keeps the
// whole document alive, and dropping or replacing the last handle releases the document.
//
// Errors. EXMLDocError for a text access on an element that does not hold a single text node,
// for a character that XML cannot represent and for a file that cannot be written; EConvertError
// for an integer read of a text that is not an integer.

#include <QByteArray>
#include <QFlags>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

class TXMLNode;
class TXMLDocument;

using IXMLNode = std::shared_ptr<TXMLNode>;
using IXMLDocument = std::shared_ptr<TXMLDocument>;

// A node class: makes a default-constructed node object of one class (see nodeClassOf).
using TXMLNodeClass = std::unique_ptr<TXMLNode> (*)();

template <class T>
std::unique_ptr<TXMLNode> createNodeOfClass() {
  return std::make_unique<T>();
}
template <class T>
inline constexpr TXMLNodeClass nodeClassOf = &createNodeOfClass<T>;

// One child binding: elements named NodeName in NamespaceURI are made as NodeClass objects.
struct TNodeClassInfo {
  QString NodeName;
  QString NamespaceURI;
  TXMLNodeClass NodeClass = nullptr;
};

enum TNodeType { ntElement, ntText, ntProcessingInstr, ntDocument };

struct TXMLAttribute {
  QString Name;          // qualified name, e.g. "xmlns"
  QString NamespaceURI;  // "http://www.w3.org/2000/xmlns/" for namespace declarations
  QString Value;
};

enum TXMLDocOption {
  doNodeAutoCreate = 0x01,
  doNodeAutoIndent = 0x02,
  doAttrNull = 0x04,
  doAutoPrefix = 0x08,
  doNamespaceDecl = 0x10,
  doAutoSave = 0x20,
};
Q_DECLARE_FLAGS(TXMLDocOptions, TXMLDocOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TXMLDocOptions)

// The namespace that the Namespaces in XML recommendation reserves for namespace declarations.
inline const QString xmlnsNamespaceURI = QStringLiteral("http://www.w3.org/2000/xmlns/");

class TXMLNode {
public:
  TXMLNode() = default;
  TXMLNode(const TXMLNode&) = delete;
  TXMLNode& operator=(const TXMLNode&) = delete;
  virtual ~TXMLNode() = default;

  TNodeType NodeType() const { return FNodeType; }
  // Qualified name of an element ("prefix:local" or "local"), target of a processing
  // instruction, "#text" for a text node, "#document" for the document node.
  QString NodeName() const;
  QString Prefix() const;
  QString LocalName() const;
  QString NamespaceURI() const { return FNamespaceURI; }
  // Characters of a text node, data of a processing instruction; empty for the others.
  QString NodeValue() const { return FNodeValue; }

  IXMLNode ParentNode() const;      // the document node for the root, none for the document node
  IXMLDocument OwnerDocument() const;
  bool HasChildNodes() const { return !FChildNodes.empty(); }
  QList<IXMLNode> ChildNodes() const;

  // Attributes by qualified name. A read of an absent attribute gives an empty string; a write
  // creates the attribute or replaces its value.
  const std::vector<TXMLAttribute>& AttributeNodes() const { return FAttributes; }
  bool HasAttribute(const QString& name) const;
  QString Attribute(const QString& name) const;
  void SetAttribute(const QString& name, const QString& value);

  const std::vector<TNodeClassInfo>& ChildNodeClasses() const { return FChildNodeClasses; }

  // The first child element whose qualified or local name equals name (case-sensitively) in
  // this element's namespace; made and appended when there is none and the document creates
  // nodes on demand (doNodeAutoCreate), otherwise EXMLDocError "Node "%s" not found".
  IXMLNode ChildElement(const QString& name);
  // Text of an element that holds a single text node; an element without children first gets
  // one empty text node.
  QString ElementText();
  void SetElementText(const QString& text);
  void SetChildText(const QString& name, const QString& text);

protected:
  // Accessor helpers of the bindings. Integer reads fail with EConvertError ("'%s' is not a
  // valid integer value") on an empty or non-decimal text; writes give the plain decimal text
  // ("12", "-3").
  QString childText(const QString& name);
  int childInteger(const QString& name);
  void setChildInteger(const QString& name, int value);
  // Called once the node has its name, namespace and document; bindings add their child
  // bindings here and then call the inherited step.
  virtual void AfterConstruction() {}
  // Elements of that name in that namespace made below this one get that node class.
  void RegisterChildNode(const QString& tagName, TXMLNodeClass nodeClass, const QString& namespaceURI);
  IXMLNode handle() const;

private:
  friend class TXMLDocument;

  static std::unique_ptr<TXMLNode> makeNode(TXMLDocument* doc, TNodeType type, TXMLNodeClass nodeClass,
                                            const QString& name, const QString& namespaceURI,
                                            const QString& value);
  TXMLNode* appendNode(std::unique_ptr<TXMLNode> node);
  TXMLNode* appendDirect(std::unique_ptr<TXMLNode> node);
  TXMLNode* singleTextNode();
  int depth() const;
  TXMLNodeClass boundClassFor(const QString& name, const QString& namespaceURI) const;

  TNodeType FNodeType = ntElement;
  QString FNodeName;
  QString FNamespaceURI;
  QString FNodeValue;
  std::vector<TXMLAttribute> FAttributes;
  std::vector<std::unique_ptr<TXMLNode>> FChildNodes;
  std::vector<TNodeClassInfo> FChildNodeClasses;
  TXMLNode* FParentNode = nullptr;
  TXMLDocument* FOwnerDocument = nullptr;
};

class TXMLDocument : public std::enable_shared_from_this<TXMLDocument> {
  struct Passkey {};

public:
  // An empty document with the default options: doNodeAutoCreate, doAttrNull, doAutoPrefix,
  // doNamespaceDecl.
  static IXMLDocument Create();
  explicit TXMLDocument(Passkey);
  TXMLDocument(const TXMLDocument&) = delete;
  TXMLDocument& operator=(const TXMLDocument&) = delete;

  TXMLDocOptions Options() const { return FOptions; }
  void SetOptions(TXMLDocOptions options) { FOptions = options; }
  QString NodeIndentStr() const { return QStringLiteral("  "); }

  // Setting the version makes the declaration <?xml version="..."?> the document's first node,
  // or updates it.
  QString Version() const { return FVersion; }
  void SetVersion(const QString& version);

  IXMLNode Node() const;             // the document node, parent of the top-level nodes
  IXMLNode DocumentElement() const;  // the root element, none before it is made

  // Binds nodeClass to the root tag in namespaceURI and returns the root, making it (appended
  // after the declaration) when the document has none. With doNamespaceDecl the new root
  // declares its namespace as the default one, in an attribute named "xmlns".
  IXMLNode GetDocBinding(const QString& tagName, TXMLNodeClass nodeClass, const QString& namespaceURI);

  // The document as UTF-8 bytes without byte-order mark: each top-level node followed by one
  // LF, the formatting text nodes as they are, every element with a start and an end tag,
  // attribute values in double quotes, and only the escaping XML needs (& < > in text, & < > "
  // in attribute values, plus character references for CR, and for TAB and LF in attributes,
  // so that a parser reads the same characters back). A character XML cannot represent
  // raises EXMLDocError.
  QByteArray SaveToXML() const;
  // Writes SaveToXML() to path, replacing an existing file only by a complete new one: the
  // bytes go to a temporary file in the same folder that is renamed over the old file once
  // fully written. Any failure raises EXMLDocError naming the path, and leaves a previous file
  // as it was.
  void SaveToFile(const QString& path) const;

private:
  friend class TXMLNode;

  TXMLDocOptions FOptions = doNodeAutoCreate | doAttrNull | doAutoPrefix | doNamespaceDecl;
  QString FVersion;
  std::unique_ptr<TXMLNode> FDocumentNode;
};

// The node as its bound interface; EXMLDocError when the node is of another class.
template <class T>
std::shared_ptr<T> boundNodeAs(const IXMLNode& node);

void throwNotBoundError(const IXMLNode& node);

template <class T>
std::shared_ptr<T> boundNodeAs(const IXMLNode& node) {
  auto bound = std::dynamic_pointer_cast<T>(node);
  if (!bound)
    throwNotBoundError(node);
  return bound;
}
