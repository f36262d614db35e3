#pragma once

// The in-memory model of a table's structure: a TTableDef with its ordered fields and indexes,
// the conversions to and from the records of ardbs.h, and what the back-ends need to change a
// table: copying a definition, comparing an edited definition with the loaded one into a list
// of modifications, pairing the fields of two definitions and lookups.
//
// Identity: every field and index has an Id. A new item has Id -1; when such an item is added to
// a list, the list gives it its next number (a counter per list that starts at 0 and only grows;
// clearing or deleting does not reset it). An item added with its own Id keeps it, and the
// counter moves past it, so a list never hands out an Id it already holds. Ids, not names or
// positions, tell which field of an edited definition corresponds to which of the loaded one.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ardb/ardbs.h"
#include "core/exception.h"

namespace atlor {

// How names are compared: exactly, or ignoring the case of the Latin letters A..Z.
enum class NameCase : uint8_t { kIgnore, kSensitive };

class TTableDefItem {
 public:
  TTableDefItem() = default;
  TTableDefItem(const TTableDefItem&) = delete;
  TTableDefItem& operator=(const TTableDefItem&) = delete;
  virtual ~TTableDefItem() = default;

  int32_t Id = -1;
};

class TFieldDef : public TTableDefItem {
 public:
  std::string Name;
  TArDbDataType DataType = dtUnknown;
  int32_t Size = 0;
  bool Required = false;
};

class TIndexDef : public TTableDefItem {
 public:
  std::string Name;
  bool Primary = false;
  bool Unique = false;
  std::vector<std::string> Fields;  // field names in key order
};

// Raised for a position outside a list.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// An owning list of items with the Id counter.
class TTableDefItemList {
 public:
  TTableDefItemList() = default;
  TTableDefItemList(const TTableDefItemList&) = delete;
  TTableDefItemList& operator=(const TTableDefItemList&) = delete;
  virtual ~TTableDefItemList() = default;

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Position checked: EListError "List index out of bounds (%d)".
  TTableDefItem& Item(int32_t index) const;
  // Appends the item (its Id assigned when -1); returns its position. A null item is an assertion
  // failure "Object not initialized", an item of the wrong kind "Unknown object type".
  int32_t Add(std::unique_ptr<TTableDefItem> item);
  // Removes the item at `index` and hands it back.
  std::unique_ptr<TTableDefItem> Extract(int32_t index);
  void Delete(int32_t index);
  void Move(int32_t cur_index, int32_t new_index);
  void Clear();
  // The Id the next item with Id -1 will get.
  int32_t NextId() const { return next_id_; }

 protected:
  // Whether the list holds items of this kind.
  virtual bool Accepts(const TTableDefItem& item) const {
    (void)item;
    return true;
  }

 private:
  void CheckIndex(int32_t index) const;

  std::vector<std::unique_ptr<TTableDefItem>> items_;
  int32_t next_id_ = 0;
};

class TFieldList : public TTableDefItemList {
 public:
  TFieldDef& operator[](int32_t index) const { return static_cast<TFieldDef&>(Item(index)); }
  int32_t Add(std::unique_ptr<TFieldDef> field) { return TTableDefItemList::Add(std::move(field)); }
  using TTableDefItemList::Add;

 protected:
  bool Accepts(const TTableDefItem& item) const override;
};

class TIndexList : public TTableDefItemList {
 public:
  TIndexDef& operator[](int32_t index) const { return static_cast<TIndexDef&>(Item(index)); }
  int32_t Add(std::unique_ptr<TIndexDef> index) { return TTableDefItemList::Add(std::move(index)); }
  using TTableDefItemList::Add;

 protected:
  bool Accepts(const TTableDefItem& item) const override;
};

class TTableDef {
 public:
  TTableDef() = default;
  TTableDef(const TTableDef&) = delete;
  TTableDef& operator=(const TTableDef&) = delete;

  std::string Name;
  TFieldList Fields;
  TIndexList Indexes;
};

// ---------------------------------------------------------------------------------------------
// Modifications

using TTableModifications = uint16_t;

constexpr TTableModifications tmRenameTable = 0x0002;
constexpr TTableModifications tmAddField = 0x0004;
constexpr TTableModifications tmDropField = 0x0008;
constexpr TTableModifications tmRenameField = 0x0010;
constexpr TTableModifications tmFieldType = 0x0020;
constexpr TTableModifications tmFieldSize = 0x0040;
constexpr TTableModifications tmFieldRequired = 0x0080;
constexpr TTableModifications tmMoveField = 0x0100;
constexpr TTableModifications tmAddIndex = 0x0200;
constexpr TTableModifications tmDropIndex = 0x0400;
constexpr TTableModifications tmIndexFields = 0x0800;
constexpr TTableModifications tmIndexPrimary = 0x1000;
constexpr TTableModifications tmIndexUnique = 0x2000;

struct TTableModificationEntry {
  int32_t ItemId = -1;  // -1: the table itself; otherwise the Id of a field or index
  TTableModifications Modifications = 0;

  friend bool operator==(const TTableModificationEntry&, const TTableModificationEntry&) = default;
};
using TTableModificationInfo = std::vector<TTableModificationEntry>;

// One field present in both definitions.
struct TArDbFieldMapItem {
  TArDbFieldDef OldField;
  TArDbFieldDef NewField;
};
using TArDbFieldMap = std::vector<TArDbFieldMapItem>;

// How ModificationsMatch compares the mask with the union of the modifications.
enum class MaskMatch : uint8_t {
  kExact,  // the union equals the mask
  kAny,    // the union and the mask have a bit in common
};

// How IndexIndexByFields matches the names.
enum class FieldsMatch : uint8_t {
  kAll,    // the index lists every name
  kFirst,  // the index lists at least the first name
};

// ---------------------------------------------------------------------------------------------
// Conversions

// Names compared by the case rule (SameName: Latin letters A..Z without case).
bool SameName(std::string_view a, std::string_view b, NameCase name_case);

TArDbFieldDef FieldDefToRecord(const TFieldDef& field);
void RecordToFieldDef(TFieldDef& field, const TArDbFieldDef& rec);
// Fields are the names joined with ";" (empty when there are none).
TArDbIndexDef IndexDefToRecord(const TIndexDef& index);
// Sets Primary and Unique and the field list (SplitNames at ";"); the Name stays.
void RecordToIndexDef(TIndexDef& index, const TArDbIndexDef& rec);
// Clears `list`, cuts `text` at every `separator`, trims blanks and control characters from
// each piece and adds the pieces that are not empty.
void SplitNames(std::vector<std::string>& list, std::string_view text, char separator);
std::vector<std::string> SplitNames(std::string_view text, char separator);
// The field names, each between `open` and `close`, joined with `separator`: "[A],[B]". An index
// without fields is an assertion failure "Index fields list empty".
std::string IndexFieldsText(const TIndexDef& index, char separator, char open, char close);

// ---------------------------------------------------------------------------------------------
// Lookups: a position in the list, or -1

int32_t ItemIndexById(const TTableDefItemList& list, int32_t id);
int32_t FieldIndexByName(const TFieldList& fields, std::string_view name, NameCase name_case);
int32_t IndexIndexByName(const TIndexList& indexes, std::string_view name, NameCase name_case);
// The first index listing the names (any order, further fields allowed); see FieldsMatch.
int32_t IndexIndexByFields(const TIndexList& indexes, std::span<const std::string> names,
                           NameCase name_case, FieldsMatch match);
bool IndexHasField(const TIndexDef& index, std::string_view name, NameCase name_case);
// The first index with Primary set, or null.
TIndexDef* PrimaryIndex(const TIndexList& indexes);

// ---------------------------------------------------------------------------------------------
// Whole definitions

void ClearTableDef(TTableDef& def);
// Dest becomes a copy of Source with the same Ids, values and order.
void AssignTableDef(TTableDef& dest, const TTableDef& source);
// For each field of New whose Id is also in Old, in New's order: (old record, new record).
TArDbFieldMap BuildFieldMap(const TTableDef& old_def, const TTableDef& new_def);
// What turns Old into New: the table rename, then field additions and changes in New's order,
// field drops in Old's order, index additions and changes in New's order, index drops in Old's
// order. An index naming a field its definition lacks is an assertion failure "In TableDef not
// found field, defined in index fields list".
TTableModificationInfo CompareTableDefs(const TTableDef& new_def, const TTableDef& old_def,
                                        NameCase name_case);
bool ModificationsMatch(TTableModifications mask, const TTableModificationInfo& mods,
                        MaskMatch match);

}  // namespace atlor
