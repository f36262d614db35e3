#include "ardb/ardb_defs.h"

#include <algorithm>

#include "core/encoding.h"

namespace atlor {

// ---------------------------------------------------------------------------------------------
// Lists

void TTableDefItemList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

TTableDefItem& TTableDefItemList::Item(int32_t index) const {
  CheckIndex(index);
  return *items_[static_cast<size_t>(index)];
}

int32_t TTableDefItemList::Add(std::unique_ptr<TTableDefItem> item) {
  ATLOR_ASSERT(item != nullptr, "Object not initialized");
  ATLOR_ASSERT(Accepts(*item), "Unknown object type");
  if (item->Id == -1) {
    item->Id = next_id_++;
  } else if (item->Id >= next_id_) {
    // An item keeps its own Id; the counter moves past it so no Id is handed out twice.
    next_id_ = item->Id + 1;
  }
  items_.push_back(std::move(item));
  return Count() - 1;
}

std::unique_ptr<TTableDefItem> TTableDefItemList::Extract(int32_t index) {
  CheckIndex(index);
  std::unique_ptr<TTableDefItem> item = std::move(items_[static_cast<size_t>(index)]);
  items_.erase(items_.begin() + index);
  return item;
}

void TTableDefItemList::Delete(int32_t index) { Extract(index); }

void TTableDefItemList::Move(int32_t cur_index, int32_t new_index) {
  if (cur_index == new_index) return;
  CheckIndex(cur_index);
  CheckIndex(new_index);
  std::unique_ptr<TTableDefItem> item = std::move(items_[static_cast<size_t>(cur_index)]);
  items_.erase(items_.begin() + cur_index);
  items_.insert(items_.begin() + new_index, std::move(item));
}

void TTableDefItemList::Clear() { items_.clear(); }

bool TFieldList::Accepts(const TTableDefItem& item) const {
  return dynamic_cast<const TFieldDef*>(&item) != nullptr;
}

bool TIndexList::Accepts(const TTableDefItem& item) const {
  return dynamic_cast<const TIndexDef*>(&item) != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Conversions

bool SameName(std::string_view a, std::string_view b, NameCase name_case) {
  return name_case == NameCase::kSensitive ? a == b : SameTextAscii(a, b);
}

TArDbFieldDef FieldDefToRecord(const TFieldDef& field) {
  return {field.Name, field.DataType, field.Size, field.Required};
}

void RecordToFieldDef(TFieldDef& field, const TArDbFieldDef& rec) {
  field.Name = rec.Name;
  field.DataType = rec.DataType;
  field.Size = rec.Size;
  field.Required = rec.Required;
}

TArDbIndexDef IndexDefToRecord(const TIndexDef& index) {
  TArDbIndexDef rec;
  rec.Name = index.Name;
  rec.Primary = index.Primary;
  rec.Unique = index.Unique;
  for (size_t i = 0; i < index.Fields.size(); ++i) {
    if (i > 0) rec.Fields += ';';
    rec.Fields += index.Fields[i];
  }
  return rec;
}

void RecordToIndexDef(TIndexDef& index, const TArDbIndexDef& rec) {
  index.Primary = rec.Primary;
  index.Unique = rec.Unique;
  SplitNames(index.Fields, rec.Fields, ';');
}

void SplitNames(std::vector<std::string>& list, std::string_view text, char separator) {
  list.clear();
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    std::string piece = TrimText(
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (!piece.empty()) list.push_back(std::move(piece));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

std::vector<std::string> SplitNames(std::string_view text, char separator) {
  std::vector<std::string> list;
  SplitNames(list, text, separator);
  return list;
}

std::string IndexFieldsText(const TIndexDef& index, char separator, char open, char close) {
  ATLOR_ASSERT(!index.Fields.empty(), "Index fields list empty");
  std::string text;
  for (size_t i = 0; i < index.Fields.size(); ++i) {
    if (i > 0) text += separator;
    text += open;
    text += index.Fields[i];
    text += close;
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// Lookups

int32_t ItemIndexById(const TTableDefItemList& list, int32_t id) {
  for (int32_t i = 0; i < list.Count(); ++i)
    if (list.Item(i).Id == id) return i;
  return -1;
}

int32_t FieldIndexByName(const TFieldList& fields, std::string_view name, NameCase name_case) {
  for (int32_t i = 0; i < fields.Count(); ++i)
    if (SameName(fields[i].Name, name, name_case)) return i;
  return -1;
}

int32_t IndexIndexByName(const TIndexList& indexes, std::string_view name, NameCase name_case) {
  for (int32_t i = 0; i < indexes.Count(); ++i)
    if (SameName(indexes[i].Name, name, name_case)) return i;
  return -1;
}

bool IndexHasField(const TIndexDef& index, std::string_view name, NameCase name_case) {
  return std::any_of(index.Fields.begin(), index.Fields.end(),
                     [&](const std::string& f) { return SameName(f, name, name_case); });
}

int32_t IndexIndexByFields(const TIndexList& indexes, std::span<const std::string> names,
                           NameCase name_case, FieldsMatch match) {
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    size_t found = 0;
    while (found < names.size() && IndexHasField(indexes[i], names[found], name_case)) ++found;
    if (found == names.size()) return i;
    if (match == FieldsMatch::kFirst && found > 0) return i;
  }
  return -1;
}

TIndexDef* PrimaryIndex(const TIndexList& indexes) {
  for (int32_t i = 0; i < indexes.Count(); ++i)
    if (indexes[i].Primary) return &indexes[i];
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Whole definitions

void ClearTableDef(TTableDef& def) {
  def.Name.clear();
  def.Fields.Clear();
  def.Indexes.Clear();
}

void AssignTableDef(TTableDef& dest, const TTableDef& source) {
  if (&dest == &source) return;
  ClearTableDef(dest);
  dest.Name = source.Name;
  for (int32_t i = 0; i < source.Fields.Count(); ++i) {
    const TFieldDef& from = source.Fields[i];
    auto field = std::make_unique<TFieldDef>();
    field->Id = from.Id;
    field->Name = from.Name;
    field->DataType = from.DataType;
    field->Size = from.Size;
    field->Required = from.Required;
    dest.Fields.Add(std::move(field));
  }
  for (int32_t i = 0; i < source.Indexes.Count(); ++i) {
    const TIndexDef& from = source.Indexes[i];
    auto index = std::make_unique<TIndexDef>();
    index->Id = from.Id;
    index->Name = from.Name;
    index->Primary = from.Primary;
    index->Unique = from.Unique;
    index->Fields = from.Fields;
    dest.Indexes.Add(std::move(index));
  }
}

TArDbFieldMap BuildFieldMap(const TTableDef& old_def, const TTableDef& new_def) {
  TArDbFieldMap map;
  for (int32_t i = 0; i < new_def.Fields.Count(); ++i) {
    const TFieldDef& field = new_def.Fields[i];
    const int32_t old_pos = ItemIndexById(old_def.Fields, field.Id);
    if (old_pos < 0) continue;
    map.push_back({FieldDefToRecord(old_def.Fields[old_pos]), FieldDefToRecord(field)});
  }
  return map;
}

namespace {

// The Ids of the index's fields, found by name in its own definition, joined with ";".
std::string IndexFieldIdsText(const TIndexDef& index, const TTableDef& def, NameCase name_case) {
  std::string text;
  for (size_t i = 0; i < index.Fields.size(); ++i) {
    const int32_t pos = FieldIndexByName(def.Fields, index.Fields[i], name_case);
    ATLOR_ASSERT(pos >= 0, "In TableDef not found field, defined in index fields list");
    if (i > 0) text += ';';
    text += std::to_string(def.Fields[pos].Id);
  }
  return text;
}

}  // namespace

TTableModificationInfo CompareTableDefs(const TTableDef& new_def, const TTableDef& old_def,
                                        NameCase name_case) {
  TTableModificationInfo result;
  if (!SameName(new_def.Name, old_def.Name, name_case)) result.push_back({-1, tmRenameTable});

  for (int32_t i = 0; i < new_def.Fields.Count(); ++i) {
    const TFieldDef& field = new_def.Fields[i];
    const int32_t j = ItemIndexById(old_def.Fields, field.Id);
    if (j < 0) {
      result.push_back({field.Id, tmAddField});
      continue;
    }
    const TFieldDef& old_field = old_def.Fields[j];
    TTableModifications set = 0;
    if (!SameName(field.Name, old_field.Name, name_case)) set |= tmRenameField;
    if (field.DataType != old_field.DataType) set |= tmFieldType;
    if (field.Size != old_field.Size) set |= tmFieldSize;
    if (field.Required != old_field.Required) set |= tmFieldRequired;
    if (i != j) set |= tmMoveField;
    if (set != 0) result.push_back({field.Id, set});
  }
  for (int32_t j = 0; j < old_def.Fields.Count(); ++j) {
    const TFieldDef& old_field = old_def.Fields[j];
    if (ItemIndexById(new_def.Fields, old_field.Id) < 0)
      result.push_back({old_field.Id, tmDropField});
  }

  for (int32_t i = 0; i < new_def.Indexes.Count(); ++i) {
    const TIndexDef& index = new_def.Indexes[i];
    const int32_t j = ItemIndexById(old_def.Indexes, index.Id);
    if (j < 0) {
      result.push_back({index.Id, tmAddIndex});
      continue;
    }
    const TIndexDef& old_index = old_def.Indexes[j];
    TTableModifications set = 0;
    if (index.Primary != old_index.Primary) set |= tmIndexPrimary;
    if (index.Unique != old_index.Unique) set |= tmIndexUnique;
    if (IndexFieldIdsText(index, new_def, name_case) !=
        IndexFieldIdsText(old_index, old_def, name_case))
      set |= tmIndexFields;
    if (set != 0) result.push_back({index.Id, set});
  }
  for (int32_t j = 0; j < old_def.Indexes.Count(); ++j) {
    const TIndexDef& old_index = old_def.Indexes[j];
    if (ItemIndexById(new_def.Indexes, old_index.Id) < 0)
      result.push_back({old_index.Id, tmDropIndex});
  }
  return result;
}

bool ModificationsMatch(TTableModifications mask, const TTableModificationInfo& mods,
                        MaskMatch match) {
  TTableModifications all = 0;
  for (const TTableModificationEntry& entry : mods) all |= entry.Modifications;
  return match == MaskMatch::kExact ? all == mask : (all & mask) != 0;
}

}  // namespace atlor
