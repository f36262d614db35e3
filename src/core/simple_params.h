#pragma once

// Parameter sets: named, typed values stored as "param" child elements of an XML element, each
// holding its value as XStr text (core/xstr.h):
//
//   <driver name="BDE.Paradox">
//     <param name="folder">C:\Data</param>
//     <param name="connection-timeout">15</param>
//     <vendor>...</vendor>            (not an entry)
//   </driver>
//
// A Name argument is a Value: an integer (Integer or Int64) selects the child node of the
// element at that position (all child nodes count, not only entries); a String selects the
// first entry whose "name" attribute equals it exactly (case counts).

#include <cstdint>
#include <functional>
#include <string>

#include "core/interface.h"
#include "core/value.h"
#include "core/xml.h"
#include "core/xstr.h"

namespace atlor {

// The parameter set as seen across module boundaries. The order of the virtual methods is
// fixed (after the three reference-counting methods); never insert, remove or reorder one.
class ISimpleParams : public IRefCounted {
 public:
  static constexpr Guid IID{0x61DE00C7, 0x45A0, 0x4DC9, {0x8C, 0xE3, 0x66, 0xB1, 0xEA, 0x14, 0x33, 0x78}};

  // An entry of that name (or a node at that position) exists.
  virtual bool Exists(const Value& name) = 0;
  virtual std::string GetString(const Value& name, const std::string& default_value) = 0;
  virtual void SetString(const Value& name, const std::string& value) = 0;
  virtual int32_t GetInteger(const Value& name, int32_t default_value) = 0;
  virtual void SetInteger(const Value& name, int32_t value) = 0;
  virtual bool GetBoolean(const Value& name, bool default_value) = 0;
  virtual void SetBoolean(const Value& name, bool value) = 0;
  // Default 0 (1899-12-30 00:00).
  virtual DateTime GetDateTime(const Value& name) = 0;
  virtual void SetDateTime(const Value& name, DateTime value) = 0;
  // The "name" attribute of the child node at position `index`; empty when that node has no
  // such attribute or the set is attached to nothing.
  virtual std::string GetName(int32_t index) = 0;
  // The number of entries ("param" children); 0 when attached to nothing.
  virtual int32_t GetCount() = 0;
  // The text and CDATA children of the element itself, in order, each trimmed when `trim`,
  // joined with `separator` (added only when the text built so far is not empty).
  virtual std::string GetText(bool trim, const std::string& separator) = 0;
  // Replaces the text and CDATA children of the element by one CDATA section holding `text`.
  virtual void SetText(const std::string& text) = 0;
  // The XML text of the element; empty when attached to nothing.
  virtual std::string GetXml() = 0;

 protected:
  ~ISimpleParams() = default;
};

// The parameter set. It does not own its element (the document does) but keeps the document
// alive while attached.
class TSimpleParams : public TMyInterfacedObject, public ISimpleParams {
 public:
  // Raised after a stored value changed; `name` is the entry's "name" attribute.
  using ChangeEvent = std::function<void(TSimpleParams& sender, const std::string& name)>;
  // Asked for a String name that has no entry; true means `value` (Empty on entry) is the
  // answer.
  using GetValueEvent =
      std::function<bool(TSimpleParams& sender, const std::string& name, Value& value)>;
  // Asked before an entry would be created for a String name that has none; true means the hook
  // took the value (nothing is stored or notified).
  using SetValueEvent =
      std::function<bool(TSimpleParams& sender, const std::string& name, const Value& value)>;

  // A set attached to nothing. With `auto_create`, a value set under a name that has no entry
  // creates the entry.
  explicit TSimpleParams(bool auto_create);

  ATLOR_IMPLEMENT_REFCOUNT
  int32_t QueryInterfaceImpl(const Guid& iid, void** object) override;

  // Attaches the set to an element, or to nothing (the null node). Another kind of node is an
  // assertion failure "Incorrect object type".
  void Attach(const XmlNode& node);
  const XmlNode& Node() const { return node_; }
  bool AutoCreate() const { return auto_create_; }

  ChangeEvent OnChange;
  GetValueEvent OnGetValue;
  SetValueEvent OnSetValue;

  // The entry a Name selects, or the null node.
  XmlNode FindEntry(const Value& name) const;
  // The stored value read as `kind`, else what OnGetValue supplies (String names only), else
  // `default_value`.
  Value Get(const Value& name, const Value& default_value, VarType kind);
  // Stores the value's XStr text (see the class comment of ISimpleParams for Name). An unknown
  // name that is not created is an assertion failure "Param with index <name> not found";
  // writing a new entry while attached to nothing raises Exception.
  void Set(const Value& name, const Value& value);

  // Further typed access.
  double GetFloat(const Value& name, double default_value);
  void SetFloat(const Value& name, double value);
  // The value read as `kind` without conversion to a C++ type (Null for "{{null}}").
  Value GetValue(const Value& name, const Value& default_value, VarType kind = VarType::kString);
  void SetValue(const Value& name, const Value& value) { Set(name, value); }

  // ISimpleParams
  bool Exists(const Value& name) override;
  std::string GetString(const Value& name, const std::string& default_value) override;
  void SetString(const Value& name, const std::string& value) override;
  int32_t GetInteger(const Value& name, int32_t default_value) override;
  void SetInteger(const Value& name, int32_t value) override;
  bool GetBoolean(const Value& name, bool default_value) override;
  void SetBoolean(const Value& name, bool value) override;
  DateTime GetDateTime(const Value& name) override;
  void SetDateTime(const Value& name, DateTime value) override;
  std::string GetName(int32_t index) override;
  int32_t GetCount() override;
  std::string GetText(bool trim, const std::string& separator) override;
  void SetText(const std::string& text) override;
  std::string GetXml() override;

 private:
  XmlNode node_;
  const bool auto_create_;
};

// A new set attached to `element`, as its interface. A node that is not an element is the
// assertion failure of Attach (the set is freed).
IntfPtr<ISimpleParams> ParamsOf(const XmlNode& element, bool auto_create);

}  // namespace atlor
