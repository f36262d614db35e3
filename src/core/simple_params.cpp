#include "core/simple_params.h"

#include "core/encoding.h"
#include "core/exception.h"

namespace atlor {
namespace {

constexpr char kEntryName[] = "param";
constexpr char kNameAttribute[] = "name";

bool IsPosition(const Value& name) {
  return name.Kind() == ValueKind::kInteger || name.Kind() == ValueKind::kInt64;
}

}  // namespace

TSimpleParams::TSimpleParams(bool auto_create) : auto_create_(auto_create) {}

int32_t TSimpleParams::QueryInterfaceImpl(const Guid& iid, void** object) {
  if (iid == ISimpleParams::IID) {
    *object = static_cast<ISimpleParams*>(this);
    AddRefImpl();
    return kResultOk;
  }
  return TMyInterfacedObject::QueryInterfaceImpl(iid, object);
}

void TSimpleParams::Attach(const XmlNode& node) {
  ATLOR_ASSERT(node.IsNull() || node.IsElement(), "Incorrect object type");
  node_ = node;
}

XmlNode TSimpleParams::FindEntry(const Value& name) const {
  if (node_.IsNull()) return XmlNode();
  if (IsPosition(name)) {
    const int64_t index = name.ToInt64();
    return index < 0 ? XmlNode() : node_.ChildAt(static_cast<size_t>(index));
  }
  const std::string text = name.ToString();
  for (XmlNode child = node_.FirstChild(); child; child = child.NextSibling())
    if (child.IsElement() && child.Name() == kEntryName && child.HasAttribute(kNameAttribute) &&
        child.Attribute(kNameAttribute) == text)
      return child;
  return XmlNode();
}

Value TSimpleParams::Get(const Value& name, const Value& default_value, VarType kind) {
  const XmlNode entry = FindEntry(name);
  if (entry) return XStrToVariant(entry.Text(), kind);
  if (name.Kind() == ValueKind::kString && OnGetValue) {
    Value result;
    if (OnGetValue(*this, name.StringRef(), result)) return result;
  }
  return default_value;
}

void TSimpleParams::Set(const Value& name, const Value& value) {
  XmlNode entry = FindEntry(name);
  if (!entry && name.Kind() == ValueKind::kString) {
    if (OnSetValue && OnSetValue(*this, name.StringRef(), value)) return;
    if (auto_create_) {
      if (node_.IsNull())
        throw Exception("Невозможно записать параметр \"" + name.StringRef() +
                        "\": набор параметров не связан с XML-элементом");
      entry = node_.AppendElement(kEntryName);
      entry.SetAttribute(kNameAttribute, name.StringRef());
    }
  }
  if (!entry) {
    if (node_.IsNull())
      throw Exception("Невозможно записать параметр \"" + name.ToString() +
                      "\": набор параметров не связан с XML-элементом");
    ATLOR_FAIL("Param with index " + name.ToString() + " not found");
  }
  const std::string text = VariantToXStr(value);
  if (entry.Text() == text) return;
  entry.SetText(text);
  if (OnChange) OnChange(*this, entry.Attribute(kNameAttribute));
}

double TSimpleParams::GetFloat(const Value& name, double default_value) {
  return Get(name, Value(default_value), VarType::kDouble).ToFloat();
}

void TSimpleParams::SetFloat(const Value& name, double value) { Set(name, Value(value)); }

Value TSimpleParams::GetValue(const Value& name, const Value& default_value, VarType kind) {
  return Get(name, default_value, kind);
}

bool TSimpleParams::Exists(const Value& name) { return !FindEntry(name).IsNull(); }

std::string TSimpleParams::GetString(const Value& name, const std::string& default_value) {
  return Get(name, Value(default_value), VarType::kString).ToString();
}

void TSimpleParams::SetString(const Value& name, const std::string& value) {
  Set(name, Value(value));
}

int32_t TSimpleParams::GetInteger(const Value& name, int32_t default_value) {
  return Get(name, Value(default_value), VarType::kInteger).ToInteger();
}

void TSimpleParams::SetInteger(const Value& name, int32_t value) { Set(name, Value(value)); }

bool TSimpleParams::GetBoolean(const Value& name, bool default_value) {
  return Get(name, Value(default_value), VarType::kBoolean).ToBoolean();
}

void TSimpleParams::SetBoolean(const Value& name, bool value) { Set(name, Value(value)); }

DateTime TSimpleParams::GetDateTime(const Value& name) {
  return Get(name, Value(DateTime{0}), VarType::kDate).ToDateTime();
}

void TSimpleParams::SetDateTime(const Value& name, DateTime value) { Set(name, Value(value)); }

std::string TSimpleParams::GetName(int32_t index) {
  if (node_.IsNull() || index < 0) return {};
  return node_.ChildAt(static_cast<size_t>(index)).Attribute(kNameAttribute);
}

int32_t TSimpleParams::GetCount() {
  if (node_.IsNull()) return 0;
  return static_cast<int32_t>(node_.Elements(kEntryName).size());
}

std::string TSimpleParams::GetText(bool trim, const std::string& separator) {
  std::string out;
  if (node_.IsNull()) return out;
  for (XmlNode child = node_.FirstChild(); child; child = child.NextSibling()) {
    if (!child.IsCharacterData()) continue;
    if (!out.empty()) out += separator;
    out += trim ? TrimText(child.NodeValue()) : child.NodeValue();
  }
  return out;
}

void TSimpleParams::SetText(const std::string& text) {
  if (node_.IsNull())
    throw Exception("Невозможно записать текст: набор параметров не связан с XML-элементом");
  for (XmlNode child = node_.FirstChild(); child;) {
    const XmlNode next = child.NextSibling();
    if (child.IsCharacterData()) node_.RemoveChild(child);
    child = next;
  }
  node_.AppendCData(text);
}

std::string TSimpleParams::GetXml() { return node_.IsNull() ? std::string() : node_.Xml(); }

IntfPtr<ISimpleParams> ParamsOf(const XmlNode& element, bool auto_create) {
  TSimpleParams* params = new TSimpleParams(auto_create);
  IntfPtr<ISimpleParams> result(params);  // frees the set should Attach fail
  params->Attach(element);
  return result;
}

}  // namespace atlor
