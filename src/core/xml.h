#pragma once

// The XML layer: documents, nodes and the attribute helpers every XML consumer of the program
// uses (database descriptions, driver descriptions, requests and responses, parameter sets).
// pugixml does the parsing underneath; reading the declared encoding and writing are ours.
//
// Text forms of a document
// - In memory every name, attribute value and text is UTF-8.
// - Inside the program (request and response texts, database descriptions handed from the
//   dialog to the driver manager and to IArDb::Open) a document travels as UTF-8 text WITHOUT
//   an XML declaration: XmlDocument::Text(). Parse() also accepts such text with a declaration;
//   a declared encoding other than UTF-8 is honoured, so never put a "windows-1251" declaration
//   in front of UTF-8 text.
// - Files and other stored documents are written as bytes by XmlDocument::Save(): declaration
//   version "1.0", encoding "windows-1251". A character that code page 1251 cannot hold is
//   written as a numeric character reference (&#NNNN;), so nothing is lost.
// - Parse() reads bytes in any of these forms: UTF-8 with or without BOM, UTF-16 LE/BE with
//   BOM, or single-byte text declared as "windows-1251" (also "windows-1252", "cp866", "cp850",
//   "iso-8859-1").
// - A CDATA section that cannot be written as one (it holds "]]>", a carriage return, or a
//   character the code page lacks) is written as ordinary escaped text: its characters come back
//   unchanged, as a text node (merged with a text node right next to it).
//
// Whitespace: text made only of blanks and line breaks is dropped while parsing unless it is
// the only child of its element (so indentation vanishes but a value " " survives). Comments,
// processing instructions and the document type are not kept.
//
// Handles: XmlDocument and XmlNode are cheap shared handles. A node keeps its document alive;
// copying a handle never copies the tree (use XmlDocument::Clone or AppendCopy for that). A
// handle to a node that has been removed from its document (RemoveChild, RemoveChildren,
// SetText of its parent, CreateRoot, SetRootCopy) must not be used any more.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "core/value.h"

namespace atlor {

enum class VarType : uint16_t;  // core/xstr.h

class XmlDocument;

enum class XmlNodeType : uint8_t {
  kNull,      // no node
  kDocument,  // the document itself (parent of the root element)
  kElement,
  kText,      // character data written as ordinary text
  kCData,     // character data written as a CDATA section
  kOther,     // comment, processing instruction, declaration, document type
};

// A node of a document: an element, a text or CDATA child, or the document node. A default
// handle is the null node; every query on it answers "nothing" (empty name, no children ...),
// every change on it is an assertion failure "Object not initialized".
class XmlNode {
 public:
  XmlNode() = default;

  bool IsNull() const { return !node_; }
  explicit operator bool() const { return static_cast<bool>(node_); }
  XmlNodeType Type() const;
  bool IsElement() const { return Type() == XmlNodeType::kElement; }
  // Text or CDATA.
  bool IsCharacterData() const;

  // Element name; empty for other nodes.
  std::string Name() const;

  // The document holding the node (an empty handle for the null node).
  XmlDocument Document() const;
  XmlNode Parent() const;

  // --- Attributes (elements only; other nodes have none) ---
  bool HasAttribute(std::string_view name) const;
  // The attribute's value, or `default_value` when the attribute is not set.
  std::string Attribute(std::string_view name, std::string_view default_value = {}) const;
  void SetAttribute(std::string_view name, std::string_view value);
  // True when the attribute was there.
  bool RemoveAttribute(std::string_view name);
  // All attributes in document order (name, value).
  std::vector<std::pair<std::string, std::string>> Attributes() const;

  // The attribute's value; when not set the error "Не задан атрибут \"<name>\"".
  std::string RequiredAttribute(std::string_view name) const;
  // The position in `words` of the attribute's value, compared ignoring the case of Latin
  // letters; `default_index` when the attribute is not set. Another value raises
  // "Неверное значение атрибута \"<attr>\" элемента \"<element>\".\r\nДопустимые значения:\r\n"
  // followed by the words, one per line.
  int EnumAttribute(std::string_view name, const std::vector<std::string_view>& words,
                    int default_index) const;
  // Typed attributes read as XStr text (core/xstr.h); `default_value` when the attribute is not
  // set. A value of the wrong form raises the XStr conversion error ("0"/"1"/"true"/"false" for
  // booleans, decimal text for integers).
  bool BoolAttribute(std::string_view name, bool default_value) const;
  int32_t IntAttribute(std::string_view name, int32_t default_value) const;
  Value ValueAttribute(std::string_view name, VarType kind, const Value& default_value) const;

  // --- Children ---
  // Every child node (elements, text, CDATA), in document order.
  std::vector<XmlNode> Children() const;
  size_t ChildCount() const;
  // The child at `index` (zero-based, all child nodes count), or the null node.
  XmlNode ChildAt(size_t index) const;
  XmlNode FirstChild() const;
  XmlNode NextSibling() const;
  // Child elements, all or only those with the given name (exact comparison).
  std::vector<XmlNode> Elements() const;
  std::vector<XmlNode> Elements(std::string_view name) const;
  // The first child element with that name, or the null node.
  XmlNode FirstElement(std::string_view name) const;

  XmlNode AppendElement(std::string_view name);
  XmlNode AppendText(std::string_view text);
  XmlNode AppendCData(std::string_view text);
  // Appends a deep copy of `node` (which may belong to another document); returns the copy.
  XmlNode AppendCopy(const XmlNode& node);
  // Removes a child of this node (assertion failure when it is not one).
  void RemoveChild(const XmlNode& child);
  void RemoveChildren();

  // --- Text ---
  // The value of a text or CDATA node; empty for other nodes.
  std::string NodeValue() const;
  // Sets the value of a text or CDATA node (assertion failure for other nodes).
  void SetNodeValue(std::string_view text);
  // The node as text: a text or CDATA node its value; an element the texts of its text, CDATA
  // and element children (elements recursively) joined with one blank; an element without
  // children the empty string.
  std::string Text() const;
  // For a text or CDATA node: SetNodeValue. For an element: replaces all its children by one text
  // child holding `text` (no child at all for the empty text).
  void SetText(std::string_view text);
  // The direct text and CDATA children, each trimmed of blanks and control characters, empty
  // pieces dropped, joined with one blank.
  std::string InnerText() const;

  // The XML text of the node (UTF-8, no declaration); empty for the null node.
  std::string Xml(bool indent = false) const;

  // The underlying pugixml node, for the rare case the layer does not cover.
  pugi::xml_node Raw() const { return node_; }

  // Same node of the same document.
  friend bool operator==(const XmlNode& a, const XmlNode& b) { return a.node_ == b.node_; }

 private:
  friend class XmlDocument;
  XmlNode(std::shared_ptr<pugi::xml_document> doc, pugi::xml_node node)
      : doc_(std::move(doc)), node_(node) {}
  void CheckChangeable() const;

  std::shared_ptr<pugi::xml_document> doc_;
  pugi::xml_node node_;
};

// An XML document, shared by all handles and nodes that refer to it.
class XmlDocument {
 public:
  // A new empty document (no root element).
  XmlDocument();

  // Parses a document in any supported encoding (see above). A text that is not well-formed
  // raises Exception with the position and the parser's description. An empty text gives a
  // document without root element.
  static XmlDocument Parse(std::string_view data);
  // Reads and parses a file; a file that cannot be read raises Exception.
  static XmlDocument LoadFromFile(const std::string& path);

  // The document element, or the null node when the document has none.
  XmlNode Root() const;
  bool HasRoot() const { return !Root().IsNull(); }
  // Replaces everything in the document by a new, empty root element.
  XmlNode CreateRoot(std::string_view name);
  // Replaces everything in the document by a deep copy of `element`.
  XmlNode SetRootCopy(const XmlNode& element);
  // The document node (parent of the root element).
  XmlNode AsNode() const;
  // A deep copy, independent of this document.
  XmlDocument Clone() const;

  // The in-program text form: UTF-8, no declaration.
  std::string Text(bool indent = false) const;
  // The stored form: "<?xml version=\"1.0\" encoding=\"windows-1251\"?>" followed by the
  // document in code page 1251 (numeric character references for what 1251 cannot hold).
  std::string Save(bool indent = true) const;
  void SaveToFile(const std::string& path, bool indent = true) const;

  bool IsSameAs(const XmlDocument& other) const { return doc_ == other.doc_; }

 private:
  friend class XmlNode;
  explicit XmlDocument(std::shared_ptr<pugi::xml_document> doc) : doc_(std::move(doc)) {}

  std::shared_ptr<pugi::xml_document> doc_;
};

}  // namespace atlor
