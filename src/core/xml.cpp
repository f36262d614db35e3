#include "core/xml.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/encoding.h"
#include "core/exception.h"
#include "core/xstr.h"

namespace atlor {
namespace {

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_ws_pcdata_single;

std::string Str(std::string_view s) { return std::string(s); }

bool StartsWith(std::string_view data, std::string_view prefix) {
  return data.substr(0, prefix.size()) == prefix;
}

// ---------------------------------------------------------------------------------------------
// Reading: everything is turned into UTF-8 first.

std::string Utf32ToUtf8(std::string_view data, bool big_endian) {
  std::string out;
  out.reserve(data.size() / 4);
  for (size_t i = 0; i + 4 <= data.size(); i += 4) {
    const auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(data[i + k])); };
    const uint32_t cp = big_endian ? (b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3)
                                   : (b(3) << 24) | (b(2) << 16) | (b(1) << 8) | b(0);
    AppendUtf8(out, cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) ? cp : 0xFFFD);
  }
  return out;
}

std::string Utf16ToUtf8Bytes(std::string_view data, bool big_endian) {
  std::u16string units;
  units.reserve(data.size() / 2);
  for (size_t i = 0; i + 2 <= data.size(); i += 2) {
    const auto lo = static_cast<unsigned char>(data[i + (big_endian ? 1 : 0)]);
    const auto hi = static_cast<unsigned char>(data[i + (big_endian ? 0 : 1)]);
    units.push_back(static_cast<char16_t>((hi << 8) | lo));
  }
  return Utf16ToUtf8(units);
}

// The value of the encoding pseudo-attribute of a leading XML declaration; empty when none.
std::string DeclaredEncoding(std::string_view data) {
  if (!StartsWith(data, "<?xml")) return {};
  const size_t end = data.find("?>");
  const std::string_view decl = data.substr(0, end);
  size_t pos = decl.find("encoding");
  if (pos == std::string_view::npos) return {};
  pos += 8;
  while (pos < decl.size() && (decl[pos] == ' ' || decl[pos] == '\t' || decl[pos] == '\r' ||
                               decl[pos] == '\n'))
    ++pos;
  if (pos >= decl.size() || decl[pos] != '=') return {};
  ++pos;
  while (pos < decl.size() && (decl[pos] == ' ' || decl[pos] == '\t' || decl[pos] == '\r' ||
                               decl[pos] == '\n'))
    ++pos;
  if (pos >= decl.size() || (decl[pos] != '"' && decl[pos] != '\'')) return {};
  const char quote = decl[pos++];
  const size_t close = decl.find(quote, pos);
  if (close == std::string_view::npos) return {};
  return Str(decl.substr(pos, close - pos));
}

[[noreturn]] void ParseError(const std::string& utf8, size_t offset, const std::string& what) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < utf8.size(); ++i) {
    if (utf8[i] == '\n') {
      line++;
      column = 1;
    } else if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      column++;
    }
  }
  throw Exception("Ошибка в XML-документе (строка " + std::to_string(line) + ", позиция " +
                  std::to_string(column) + ", смещение " + std::to_string(offset) + "): " + what);
}

// The document as UTF-8 text (byte order marks removed).
std::string ToUtf8(std::string_view data) {
  if (StartsWith(data, "\xEF\xBB\xBF")) data.remove_prefix(3);
  else if (StartsWith(data, std::string_view("\xFF\xFE\0\0", 4))) return Utf32ToUtf8(data.substr(4), false);
  else if (StartsWith(data, std::string_view("\0\0\xFE\xFF", 4))) return Utf32ToUtf8(data.substr(4), true);
  else if (StartsWith(data, "\xFF\xFE")) return Utf16ToUtf8Bytes(data.substr(2), false);
  else if (StartsWith(data, "\xFE\xFF")) return Utf16ToUtf8Bytes(data.substr(2), true);
  else if (StartsWith(data, std::string_view("<\0\0\0", 4))) return Utf32ToUtf8(data, false);
  else if (StartsWith(data, std::string_view("\0\0\0<", 4))) return Utf32ToUtf8(data, true);
  else if (StartsWith(data, std::string_view("<\0", 2))) return Utf16ToUtf8Bytes(data, false);
  else if (StartsWith(data, std::string_view("\0<", 2))) return Utf16ToUtf8Bytes(data, true);
  else {
    const std::string encoding = LowerAscii(DeclaredEncoding(data));
    if (encoding == "windows-1251" || encoding == "cp1251" || encoding == "x-cp1251")
      return DecodeSingleByte(data, CodePage::kWindows1251);
    if (encoding == "windows-1252" || encoding == "cp1252")
      return DecodeSingleByte(data, CodePage::kWindows1252);
    if (encoding == "cp866" || encoding == "ibm866")
      return DecodeSingleByte(data, CodePage::kCp866);
    if (encoding == "cp850" || encoding == "ibm850")
      return DecodeSingleByte(data, CodePage::kCp850);
    if (encoding == "iso-8859-1" || encoding == "latin1" || encoding == "iso_8859-1") {
      std::string out;
      for (char c : data) AppendUtf8(out, static_cast<unsigned char>(c));
      return out;
    }
    if (!encoding.empty() && encoding != "utf-8" && encoding != "utf8" && encoding != "us-ascii" &&
        encoding != "ascii")
      throw Exception("Неподдерживаемая кодировка XML-документа \"" + DeclaredEncoding(data) +
                      "\"");
  }
  std::string utf8(data);
  // Text declared (or taken) as UTF-8 must be UTF-8.
  for (size_t pos = 0; pos < utf8.size();) {
    const size_t at = pos;
    const char32_t cp = NextCodePoint(utf8, pos);
    if (cp == 0xFFFD && utf8.compare(at, 3, "\xEF\xBF\xBD") != 0)
      ParseError(utf8, at, "invalid UTF-8 byte sequence");
  }
  return utf8;
}

// ---------------------------------------------------------------------------------------------
// Writing

class Writer {
 public:
  Writer(bool cp1251, bool indent) : cp1251_(cp1251), indent_(indent) {}

  void Write(pugi::xml_node start);
  void Raw(std::string_view text) { out_ += text; }
  std::string Result() const {
    return cp1251_ ? EncodeSingleByte(out_, CodePage::kWindows1251) : out_;
  }

 private:
  bool Representable(char32_t cp) const {
    return !cp1251_ || cp < 0x80 || CodePointToSingleByte(cp, CodePage::kWindows1251) >= 0;
  }
  // Text that must be written literally (names, comments).
  void Literal(std::string_view text, const char* what);
  void Escaped(std::string_view text, bool attribute);
  bool CanBeCData(std::string_view text) const;
  // Deeper levels share the indentation of level 32, so the layout stays linear in size.
  void NewLine(size_t depth) {
    out_ += '\n';
    out_.append(std::min<size_t>(depth, 32) * 2, ' ');
  }
  void OpenElement(pugi::xml_node node, bool has_children);
  void Leaf(pugi::xml_node node);

  const bool cp1251_;
  const bool indent_;
  std::string out_;
};

void Writer::Literal(std::string_view text, const char* what) {
  for (size_t pos = 0; pos < text.size();) {
    const char32_t cp = NextCodePoint(text, pos);
    if (!Representable(cp))
      throw Exception(std::string(what) + " \"" + Str(text) +
                      "\" не может быть записано в кодировке windows-1251");
  }
  out_ += text;
}

void Writer::Escaped(std::string_view text, bool attribute) {
  for (size_t pos = 0; pos < text.size();) {
    const size_t at = pos;
    const char32_t cp = NextCodePoint(text, pos);
    switch (cp) {
      case '&': out_ += "&amp;"; continue;
      case '<': out_ += "&lt;"; continue;
      case '>': out_ += "&gt;"; continue;
      case '"':
        out_ += attribute ? "&quot;" : "\"";
        continue;
      default: break;
    }
    const bool control = cp < 0x20 && !(cp == '\n' && !attribute) && !(cp == '\t' && !attribute);
    if (control || !Representable(cp) || (cp == 0xFFFD && text.compare(at, 3, "\xEF\xBF\xBD") != 0))
      out_ += "&#" + std::to_string(static_cast<uint32_t>(cp)) + ";";
    else
      out_.append(text.substr(at, pos - at));
  }
}

bool Writer::CanBeCData(std::string_view text) const {
  if (text.find("]]>") != std::string_view::npos) return false;
  for (size_t pos = 0; pos < text.size();) {
    const char32_t cp = NextCodePoint(text, pos);
    if ((cp < 0x20 && cp != '\n' && cp != '\t') || cp == 0xFFFD || !Representable(cp)) return false;
  }
  return true;
}

void Writer::OpenElement(pugi::xml_node node, bool has_children) {
  out_ += '<';
  Literal(node.name(), "Имя элемента");
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    out_ += ' ';
    Literal(a.name(), "Имя атрибута");
    out_ += "=\"";
    Escaped(a.value(), true);
    out_ += '"';
  }
  out_ += has_children ? ">" : "/>";
}

void Writer::Leaf(pugi::xml_node node) {
  switch (node.type()) {
    case pugi::node_pcdata: Escaped(node.value(), false); break;
    case pugi::node_cdata:
      // A section that cannot be written as it is (a "]]>" inside, a character the code page
      // lacks, a carriage return) is written as ordinary text: the same characters come back.
      if (CanBeCData(node.value())) {
        out_ += "<![CDATA[";
        out_ += node.value();
        out_ += "]]>";
      } else {
        Escaped(node.value(), false);
      }
      break;
    case pugi::node_comment:
      out_ += "<!--";
      Literal(node.value(), "Комментарий");
      out_ += "-->";
      break;
    case pugi::node_pi:
      out_ += "<?";
      Literal(node.name(), "Инструкция");
      if (*node.value()) {
        out_ += ' ';
        Literal(node.value(), "Инструкция");
      }
      out_ += "?>";
      break;
    case pugi::node_doctype:
      out_ += "<!DOCTYPE ";
      Literal(node.value(), "Тип документа");
      out_ += '>';
      break;
    default: break;  // declarations: the writer puts its own
  }
}

// Writes the subtree of `start` without recursion. Children of an element are indented only when
// all of them are elements, so no text is ever changed by the layout.
void Writer::Write(pugi::xml_node start) {
  std::vector<bool> indent_children;  // per open element
  auto only_elements = [](pugi::xml_node n) {
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
      if (c.type() != pugi::node_element) return false;
    return true;
  };
  pugi::xml_node n = start;
  while (true) {
    if (n.type() == pugi::node_declaration) {
      // skipped
    } else {
      if (!indent_children.empty() && indent_children.back()) NewLine(indent_children.size());
      if (n.type() == pugi::node_element) {
        const bool has_children = static_cast<bool>(n.first_child());
        OpenElement(n, has_children);
        if (has_children) {
          indent_children.push_back(indent_ && only_elements(n));
          n = n.first_child();
          continue;
        }
      } else {
        Leaf(n);
      }
    }
    // Next sibling, or close the parents that are done.
    while (true) {
      if (n == start) return;
      if (pugi::xml_node next = n.next_sibling()) {
        n = next;
        break;
      }
      n = n.parent();
      const bool indented = indent_children.back();
      indent_children.pop_back();
      if (indented) NewLine(indent_children.size());
      out_ += "</";
      out_ += n.name();
      out_ += '>';
    }
  }
}

std::string WriteDocument(const pugi::xml_document& doc, bool cp1251, bool indent) {
  Writer w(cp1251, indent);
  if (cp1251) w.Raw("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n");
  bool first = true;
  for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_declaration) continue;
    if (!first && indent) w.Raw("\n");
    w.Write(n);
    first = false;
  }
  if (cp1251 && indent && !first) w.Raw("\n");
  return w.Result();
}

bool IsCharacterDataNode(pugi::xml_node n) {
  return n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata;
}

bool IsTextPart(pugi::xml_node n) {
  return IsCharacterDataNode(n) || n.type() == pugi::node_element;
}

pugi::xml_node NextTextPart(pugi::xml_node n) {
  for (n = n.next_sibling(); n && !IsTextPart(n); n = n.next_sibling()) {
  }
  return n;
}

pugi::xml_node FirstTextPart(pugi::xml_node parent) {
  pugi::xml_node n = parent.first_child();
  return n && !IsTextPart(n) ? NextTextPart(n) : n;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// XmlNode

XmlNodeType XmlNode::Type() const {
  switch (node_.type()) {
    case pugi::node_null: return XmlNodeType::kNull;
    case pugi::node_document: return XmlNodeType::kDocument;
    case pugi::node_element: return XmlNodeType::kElement;
    case pugi::node_pcdata: return XmlNodeType::kText;
    case pugi::node_cdata: return XmlNodeType::kCData;
    default: return XmlNodeType::kOther;
  }
}

bool XmlNode::IsCharacterData() const { return IsCharacterDataNode(node_); }

std::string XmlNode::Name() const { return IsElement() ? node_.name() : std::string(); }

XmlDocument XmlNode::Document() const { return doc_ ? XmlDocument(doc_) : XmlDocument(); }

XmlNode XmlNode::Parent() const {
  const pugi::xml_node p = node_.parent();
  return p ? XmlNode(doc_, p) : XmlNode();
}

void XmlNode::CheckChangeable() const { ATLOR_ASSERT(node_ && doc_, "Object not initialized"); }

bool XmlNode::HasAttribute(std::string_view name) const {
  return static_cast<bool>(node_.attribute(Str(name).c_str()));
}

std::string XmlNode::Attribute(std::string_view name, std::string_view default_value) const {
  const pugi::xml_attribute a = node_.attribute(Str(name).c_str());
  return a ? std::string(a.value()) : Str(default_value);
}

void XmlNode::SetAttribute(std::string_view name, std::string_view value) {
  CheckChangeable();
  ATLOR_ASSERT(IsElement(), "Incorrect object type");
  const std::string n = Str(name);
  pugi::xml_attribute a = node_.attribute(n.c_str());
  if (!a) a = node_.append_attribute(n.c_str());
  a.set_value(value.data(), value.size());
}

bool XmlNode::RemoveAttribute(std::string_view name) {
  CheckChangeable();
  return node_.remove_attribute(Str(name).c_str());
}

std::vector<std::pair<std::string, std::string>> XmlNode::Attributes() const {
  std::vector<std::pair<std::string, std::string>> result;
  for (pugi::xml_attribute a = node_.first_attribute(); a; a = a.next_attribute())
    result.emplace_back(a.name(), a.value());
  return result;
}

std::string XmlNode::RequiredAttribute(std::string_view name) const {
  const pugi::xml_attribute a = node_.attribute(Str(name).c_str());
  if (!a) throw Exception("Не задан атрибут \"" + Str(name) + "\"");
  return a.value();
}

int XmlNode::EnumAttribute(std::string_view name, const std::vector<std::string_view>& words,
                           int default_index) const {
  const pugi::xml_attribute a = node_.attribute(Str(name).c_str());
  if (!a) return default_index;
  const std::string_view value = a.value();
  for (size_t i = 0; i < words.size(); ++i)
    if (SameTextAscii(value, words[i])) return static_cast<int>(i);
  std::string list;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) list += "\r\n";
    list += words[i];
  }
  throw Exception("Неверное значение атрибута \"" + Str(name) + "\" элемента \"" + Name() +
                  "\".\r\nДопустимые значения:\r\n" + list);
}

Value XmlNode::ValueAttribute(std::string_view name, VarType kind,
                              const Value& default_value) const {
  const pugi::xml_attribute a = node_.attribute(Str(name).c_str());
  return a ? XStrToVariant(a.value(), kind) : default_value;
}

bool XmlNode::BoolAttribute(std::string_view name, bool default_value) const {
  return ValueAttribute(name, VarType::kBoolean, Value(default_value)).ToBoolean();
}

int32_t XmlNode::IntAttribute(std::string_view name, int32_t default_value) const {
  return ValueAttribute(name, VarType::kInteger, Value(default_value)).ToInteger();
}

std::vector<XmlNode> XmlNode::Children() const {
  std::vector<XmlNode> result;
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling()) result.push_back(XmlNode(doc_, c));
  return result;
}

size_t XmlNode::ChildCount() const {
  size_t count = 0;
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling()) ++count;
  return count;
}

XmlNode XmlNode::ChildAt(size_t index) const {
  pugi::xml_node c = node_.first_child();
  for (; c && index > 0; c = c.next_sibling()) --index;
  return c ? XmlNode(doc_, c) : XmlNode();
}

XmlNode XmlNode::FirstChild() const {
  const pugi::xml_node c = node_.first_child();
  return c ? XmlNode(doc_, c) : XmlNode();
}

XmlNode XmlNode::NextSibling() const {
  const pugi::xml_node c = node_.next_sibling();
  return c ? XmlNode(doc_, c) : XmlNode();
}

std::vector<XmlNode> XmlNode::Elements() const {
  std::vector<XmlNode> result;
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element) result.push_back(XmlNode(doc_, c));
  return result;
}

std::vector<XmlNode> XmlNode::Elements(std::string_view name) const {
  std::vector<XmlNode> result;
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && name == c.name()) result.push_back(XmlNode(doc_, c));
  return result;
}

XmlNode XmlNode::FirstElement(std::string_view name) const {
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && name == c.name()) return XmlNode(doc_, c);
  return XmlNode();
}

XmlNode XmlNode::AppendElement(std::string_view name) {
  CheckChangeable();
  pugi::xml_node c = node_.append_child(pugi::node_element);
  ATLOR_ASSERT(c, "Incorrect object type");
  c.set_name(Str(name).c_str());
  return XmlNode(doc_, c);
}

XmlNode XmlNode::AppendText(std::string_view text) {
  CheckChangeable();
  pugi::xml_node c = node_.append_child(pugi::node_pcdata);
  ATLOR_ASSERT(c, "Incorrect object type");
  c.set_value(text.data(), text.size());
  return XmlNode(doc_, c);
}

XmlNode XmlNode::AppendCData(std::string_view text) {
  CheckChangeable();
  pugi::xml_node c = node_.append_child(pugi::node_cdata);
  ATLOR_ASSERT(c, "Incorrect object type");
  c.set_value(text.data(), text.size());
  return XmlNode(doc_, c);
}

XmlNode XmlNode::AppendCopy(const XmlNode& node) {
  CheckChangeable();
  ATLOR_ASSERT(node.node_, "Object not initialized");
  pugi::xml_node c = node_.append_copy(node.node_);
  ATLOR_ASSERT(c, "Incorrect object type");
  return XmlNode(doc_, c);
}

void XmlNode::RemoveChild(const XmlNode& child) {
  CheckChangeable();
  ATLOR_ASSERT(child.node_ && child.node_.parent() == node_, "Node is not a child");
  node_.remove_child(child.node_);
}

void XmlNode::RemoveChildren() {
  CheckChangeable();
  node_.remove_children();
}

std::string XmlNode::NodeValue() const {
  return IsCharacterData() ? std::string(node_.value()) : std::string();
}

void XmlNode::SetNodeValue(std::string_view text) {
  CheckChangeable();
  ATLOR_ASSERT(IsCharacterData(), "Incorrect object type");
  node_.set_value(text.data(), text.size());
}

std::string XmlNode::Text() const {
  if (IsCharacterData()) return node_.value();
  if (!IsElement() && Type() != XmlNodeType::kDocument) return {};
  // The children joined with one blank, elements recursively, walked without recursion.
  std::string out;
  pugi::xml_node n = FirstTextPart(node_);
  if (!n) return out;
  while (true) {
    if (IsCharacterDataNode(n)) {
      out += n.value();
    } else if (pugi::xml_node first = FirstTextPart(n)) {
      n = first;
      continue;
    }
    // Next part at this level, or climb.
    while (true) {
      if (pugi::xml_node next = NextTextPart(n)) {
        out += ' ';
        n = next;
        break;
      }
      n = n.parent();
      if (n == node_) return out;
    }
  }
}

void XmlNode::SetText(std::string_view text) {
  CheckChangeable();
  if (IsCharacterData()) {
    SetNodeValue(text);
    return;
  }
  ATLOR_ASSERT(IsElement(), "Incorrect object type");
  node_.remove_children();
  if (!text.empty()) AppendText(text);
}

std::string XmlNode::InnerText() const {
  std::string out;
  for (pugi::xml_node c = node_.first_child(); c; c = c.next_sibling()) {
    if (!IsCharacterDataNode(c)) continue;
    const std::string piece = TrimText(c.value());
    if (piece.empty()) continue;
    if (!out.empty()) out += ' ';
    out += piece;
  }
  return out;
}

std::string XmlNode::Xml(bool indent) const {
  if (!node_) return {};
  if (node_.type() == pugi::node_document)
    return WriteDocument(*doc_, false, indent);
  Writer w(false, indent);
  w.Write(node_);
  return w.Result();
}

// ---------------------------------------------------------------------------------------------
// XmlDocument

XmlDocument::XmlDocument() : doc_(std::make_shared<pugi::xml_document>()) {}

XmlDocument XmlDocument::Parse(std::string_view data) {
  const std::string utf8 = ToUtf8(data);
  auto doc = std::make_shared<pugi::xml_document>();
  const pugi::xml_parse_result result =
      doc->load_buffer(utf8.data(), utf8.size(), kParseOptions, pugi::encoding_utf8);
  if (!result && result.status != pugi::status_no_document_element)
    ParseError(utf8, static_cast<size_t>(result.offset), result.description());
  return XmlDocument(std::move(doc));
}

XmlDocument XmlDocument::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception("Невозможно открыть файл \"" + path + "\"");
  std::ostringstream data;
  data << in.rdbuf();
  if (in.bad()) throw Exception("Ошибка чтения файла \"" + path + "\"");
  return Parse(data.str());
}

XmlNode XmlDocument::Root() const {
  const pugi::xml_node root = doc_->document_element();
  return root ? XmlNode(doc_, root) : XmlNode();
}

XmlNode XmlDocument::CreateRoot(std::string_view name) {
  doc_->reset();
  pugi::xml_node root = doc_->append_child(pugi::node_element);
  root.set_name(Str(name).c_str());
  return XmlNode(doc_, root);
}

XmlNode XmlDocument::SetRootCopy(const XmlNode& element) {
  ATLOR_ASSERT(element.IsElement(), "Incorrect object type");
  // Copy first: the element may belong to this very document.
  pugi::xml_document copy;
  copy.append_copy(element.Raw());
  doc_->reset(copy);
  return Root();
}

XmlNode XmlDocument::AsNode() const { return XmlNode(doc_, *doc_); }

XmlDocument XmlDocument::Clone() const {
  auto copy = std::make_shared<pugi::xml_document>();
  copy->reset(*doc_);
  return XmlDocument(std::move(copy));
}

std::string XmlDocument::Text(bool indent) const { return WriteDocument(*doc_, false, indent); }

std::string XmlDocument::Save(bool indent) const { return WriteDocument(*doc_, true, indent); }

void XmlDocument::SaveToFile(const std::string& path, bool indent) const {
  const std::string data = Save(indent);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw Exception("Невозможно создать файл \"" + path + "\"");
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) throw Exception("Ошибка записи файла \"" + path + "\"");
}

}  // namespace atlor
