#include "optset/XmlNode.h"

#include "platform/AtomicFile.h"
#include "platform/Errors.h"

namespace {

// A conservative check of an XML element name: a letter, "_" or ":" first, then letters,
// digits, combining marks, ".", "-", "_" or ":".
bool isValidElementName(const QString& name) {
  if (name.isEmpty())
    return false;
  const QChar first = name.front();
  if (!(first.isLetter() || first == u'_' || first == u':'))
    return false;
  for (QChar c : name) {
    if (!(c.isLetterOrNumber() || c.isMark() || c == u'.' || c == u'-' || c == u'_' || c == u':'))
      return false;
  }
  return true;
}

void checkElementName(const QString& name) {
  if (!isValidElementName(name))
    throw EXMLDocError(QStringLiteral("\"%1\" is not a valid element name").arg(name));
}

// Appends text escaped for element content or, with inAttribute, for a double-quoted attribute
// value. Characters that XML 1.0 cannot hold at all (most C0 controls, U+FFFE, U+FFFF, lone
// surrogates) raise an error naming the owner.
void appendEscaped(QString& out, const QString& text, bool inAttribute, const QString& owner) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    const char16_t u = c.unicode();
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      out += c;
      out += text.at(++i);
      continue;
    }
    switch (u) {
      case u'&': out += u"&amp;"; continue;
      case u'<': out += u"&lt;"; continue;
      case u'>': out += u"&gt;"; continue;
      case u'\r': out += u"&#13;"; continue;
      case u'"':
        out += inAttribute ? u"&quot;" : u"\"";
        continue;
      case u'\t':
        out += inAttribute ? u"&#9;" : u"\t";
        continue;
      case u'\n':
        out += inAttribute ? u"&#10;" : u"\n";
        continue;
      default: break;
    }
    if (u < 0x20 || u == 0xFFFE || u == 0xFFFF || c.isSurrogate()) {
      throw EXMLDocError(QStringLiteral("The text of \"%1\" holds the character U+%2, which an XML file cannot hold")
                             .arg(owner, QString::number(u, 16).toUpper().rightJustified(4, u'0')));
    }
    out += c;
  }
}

void writeNode(QString& out, const TXMLNode& node, const QString& ownerName);

void writeChildren(QString& out, const TXMLNode& node) {
  for (const IXMLNode& child : node.ChildNodes())
    writeNode(out, *child, node.NodeName());
}

void writeNode(QString& out, const TXMLNode& node, const QString& ownerName) {
  switch (node.NodeType()) {
    case ntDocument:
      for (const IXMLNode& child : node.ChildNodes()) {
        writeNode(out, *child, node.NodeName());
        out += u'\n';
      }
      break;
    case ntProcessingInstr:
      out += u"<?";
      out += node.NodeName();
      if (!node.NodeValue().isEmpty()) {
        out += u' ';
        out += node.NodeValue();
      }
      out += u"?>";
      break;
    case ntText:
      appendEscaped(out, node.NodeValue(), false, ownerName);
      break;
    case ntElement:
      out += u'<';
      out += node.NodeName();
      for (const TXMLAttribute& attribute : node.AttributeNodes()) {
        out += u' ';
        out += attribute.Name;
        out += u"=\"";
        appendEscaped(out, attribute.Value, true, node.NodeName());
        out += u'"';
      }
      out += u'>';
      writeChildren(out, node);
      out += u"</";
      out += node.NodeName();
      out += u'>';
      break;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TXMLNode

QString TXMLNode::NodeName() const {
  switch (FNodeType) {
    case ntText: return QStringLiteral("#text");
    case ntDocument: return QStringLiteral("#document");
    default: return FNodeName;
  }
}

QString TXMLNode::Prefix() const {
  const qsizetype colon = FNodeName.indexOf(u':');
  return FNodeType == ntElement && colon >= 0 ? FNodeName.left(colon) : QString();
}

QString TXMLNode::LocalName() const {
  const qsizetype colon = FNodeName.indexOf(u':');
  return FNodeType == ntElement && colon >= 0 ? FNodeName.mid(colon + 1) : NodeName();
}

IXMLNode TXMLNode::handle() const {
  // Aliasing handle: shares the document's reference count, points at this node.
  return IXMLNode(FOwnerDocument->shared_from_this(), const_cast<TXMLNode*>(this));
}

IXMLNode TXMLNode::ParentNode() const {
  return FParentNode ? FParentNode->handle() : IXMLNode();
}

IXMLDocument TXMLNode::OwnerDocument() const {
  return FOwnerDocument->shared_from_this();
}

QList<IXMLNode> TXMLNode::ChildNodes() const {
  QList<IXMLNode> nodes;
  nodes.reserve(qsizetype(FChildNodes.size()));
  for (const auto& child : FChildNodes)
    nodes.append(child->handle());
  return nodes;
}

bool TXMLNode::HasAttribute(const QString& name) const {
  for (const TXMLAttribute& attribute : FAttributes)
    if (attribute.Name == name)
      return true;
  return false;
}

QString TXMLNode::Attribute(const QString& name) const {
  for (const TXMLAttribute& attribute : FAttributes)
    if (attribute.Name == name)
      return attribute.Value;
  return QString();
}

void TXMLNode::SetAttribute(const QString& name, const QString& value) {
  for (TXMLAttribute& attribute : FAttributes) {
    if (attribute.Name == name) {
      attribute.Value = value;
      return;
    }
  }
  checkElementName(name);
  const bool declaration = name == u"xmlns" || name.startsWith(u"xmlns:");
  FAttributes.push_back({name, declaration ? xmlnsNamespaceURI : QString(), value});
}

void TXMLNode::RegisterChildNode(const QString& tagName, TXMLNodeClass nodeClass, const QString& namespaceURI) {
  FChildNodeClasses.push_back({tagName, namespaceURI, nodeClass});
}

TXMLNodeClass TXMLNode::boundClassFor(const QString& name, const QString& namespaceURI) const {
  for (const TNodeClassInfo& info : FChildNodeClasses)
    if (info.NodeName == name && info.NamespaceURI == namespaceURI)
      return info.NodeClass;
  return nullptr;
}

std::unique_ptr<TXMLNode> TXMLNode::makeNode(TXMLDocument* doc, TNodeType type, TXMLNodeClass nodeClass,
                                             const QString& name, const QString& namespaceURI,
                                             const QString& value) {
  std::unique_ptr<TXMLNode> node = nodeClass ? nodeClass() : std::make_unique<TXMLNode>();
  node->FNodeType = type;
  node->FNodeName = name;
  node->FNamespaceURI = namespaceURI;
  node->FNodeValue = value;
  node->FOwnerDocument = doc;
  if (type == ntElement)
    node->AfterConstruction();
  return node;
}

int TXMLNode::depth() const {
  int ancestors = 0;
  for (const TXMLNode* p = FParentNode; p; p = p->FParentNode)
    ++ancestors;
  return ancestors;
}

TXMLNode* TXMLNode::appendDirect(std::unique_ptr<TXMLNode> node) {
  node->FParentNode = this;
  FChildNodes.push_back(std::move(node));
  return FChildNodes.back().get();
}

TXMLNode* TXMLNode::appendNode(std::unique_ptr<TXMLNode> node) {
  const bool indent = FOwnerDocument->Options().testFlag(doNodeAutoIndent) && FNodeType != ntDocument &&
                      node->FNodeType != ntText;
  if (!indent)
    return appendDirect(std::move(node));

  const QString unit = FOwnerDocument->NodeIndentStr();
  const QString lineBreak = u'\n' + unit.repeated(depth() - 1);
  auto text = [this](const QString& value) {
    return makeNode(FOwnerDocument, ntText, nullptr, QString(), QString(), value);
  };
  // A first child opens a new line; every appended element then stands one unit further in on
  // its own line, and the line after it is where the end tag of this element goes.
  if (FChildNodes.empty())
    appendDirect(text(lineBreak));
  appendDirect(text(unit));
  TXMLNode* appended = appendDirect(std::move(node));
  appendDirect(text(lineBreak));
  return appended;
}

IXMLNode TXMLNode::ChildElement(const QString& name) {
  for (const auto& child : FChildNodes) {
    if (child->FNodeType == ntElement && (child->FNodeName == name || child->LocalName() == name) &&
        child->FNamespaceURI == FNamespaceURI)
      return child->handle();
  }
  if (!FOwnerDocument->Options().testFlag(doNodeAutoCreate))
    throw EXMLDocError(QStringLiteral("Node \"%1\" not found").arg(name));

  const QString prefix = Prefix();
  const QString qualifiedName = prefix.isEmpty() ? name : prefix + u':' + name;
  checkElementName(qualifiedName);
  TXMLNode* created = appendNode(makeNode(FOwnerDocument, ntElement, boundClassFor(qualifiedName, FNamespaceURI),
                                          qualifiedName, FNamespaceURI, QString()));
  return created->handle();
}

TXMLNode* TXMLNode::singleTextNode() {
  if (FChildNodes.empty())
    appendDirect(makeNode(FOwnerDocument, ntText, nullptr, QString(), QString(), QString()));
  if (FChildNodes.size() != 1 || FChildNodes.front()->FNodeType != ntText)
    throw EXMLDocError(QStringLiteral("Element \"%1\" does not contain a single text node").arg(NodeName()));
  return FChildNodes.front().get();
}

QString TXMLNode::ElementText() {
  return singleTextNode()->FNodeValue;
}

void TXMLNode::SetElementText(const QString& text) {
  singleTextNode()->FNodeValue = text;
}

void TXMLNode::SetChildText(const QString& name, const QString& text) {
  ChildElement(name)->SetElementText(text);
}

QString TXMLNode::childText(const QString& name) {
  return ChildElement(name)->ElementText();
}

int TXMLNode::childInteger(const QString& name) {
  const QString text = childText(name);
  // Plain decimal only: an optional sign and digits, nothing around them.
  const qsizetype digitsFrom = text.startsWith(u'-') || text.startsWith(u'+') ? 1 : 0;
  bool ok = text.size() > digitsFrom;
  for (qsizetype i = digitsFrom; ok && i < text.size(); ++i)
    ok = text.at(i) >= u'0' && text.at(i) <= u'9';
  const int value = ok ? text.toInt(&ok) : 0;
  if (!ok)
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
  return value;
}

void TXMLNode::setChildInteger(const QString& name, int value) {
  SetChildText(name, QString::number(value));
}

void throwNotBoundError(const IXMLNode& node) {
  throw EXMLDocError(QStringLiteral("Element \"%1\" is not bound to the expected node class").arg(node->NodeName()));
}

// ---------------------------------------------------------------------------------------------
// TXMLDocument

IXMLDocument TXMLDocument::Create() {
  return std::make_shared<TXMLDocument>(Passkey{});
}

TXMLDocument::TXMLDocument(Passkey)
    : FDocumentNode(TXMLNode::makeNode(this, ntDocument, nullptr, QString(), QString(), QString())) {}

IXMLNode TXMLDocument::Node() const {
  return FDocumentNode->handle();
}

IXMLNode TXMLDocument::DocumentElement() const {
  for (const auto& child : FDocumentNode->FChildNodes)
    if (child->FNodeType == ntElement)
      return child->handle();
  return IXMLNode();
}

void TXMLDocument::SetVersion(const QString& version) {
  FVersion = version;
  // The declaration's data: version, encoding and standalone, each name="value", blank-separated,
  // empty items left out; only the version is ever set here.
  const QString data = version.isEmpty() ? QString() : QStringLiteral("version=\"%1\"").arg(version);
  auto& top = FDocumentNode->FChildNodes;
  if (!top.empty() && top.front()->FNodeType == ntProcessingInstr && top.front()->FNodeName == u"xml") {
    top.front()->FNodeValue = data;
    return;
  }
  auto declaration = TXMLNode::makeNode(this, ntProcessingInstr, nullptr, QStringLiteral("xml"), QString(), data);
  declaration->FParentNode = FDocumentNode.get();
  top.insert(top.begin(), std::move(declaration));
}

IXMLNode TXMLDocument::GetDocBinding(const QString& tagName, TXMLNodeClass nodeClass,
                                     const QString& namespaceURI) {
  FDocumentNode->RegisterChildNode(tagName, nodeClass, namespaceURI);
  if (IXMLNode root = DocumentElement())
    return root;

  checkElementName(tagName);
  TXMLNode* root = FDocumentNode->appendNode(
      TXMLNode::makeNode(this, ntElement, nodeClass, tagName, namespaceURI, QString()));
  if (FOptions.testFlag(doNamespaceDecl) && !namespaceURI.isEmpty()) {
    const QString prefix = root->Prefix();
    const QString declName = prefix.isEmpty() ? QStringLiteral("xmlns") : QStringLiteral("xmlns:") + prefix;
    if (!root->HasAttribute(declName))
      root->SetAttribute(declName, namespaceURI);
  }
  return root->handle();
}

QByteArray TXMLDocument::SaveToXML() const {
  QString out;
  writeNode(out, *FDocumentNode, FDocumentNode->NodeName());
  return out.toUtf8();
}

void TXMLDocument::SaveToFile(const QString& path) const {
  // Everything that can fail before the disk is touched comes first.
  const QByteArray bytes = SaveToXML();

  // An existing file is replaced only by a complete new one.
  if (const AtomicWriteFailure failure = writeFileAtomically(path, bytes))
    throw EXMLDocError(cannotCreateFileMessage(path, failure.reason));
}
