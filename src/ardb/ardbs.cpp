#include "ardb/ardbs.h"

#include <cstdio>

#include "core/encoding.h"
#include "core/exception.h"

namespace atlor {

const TArDbDataTypeInfo ArDbDataTypes[kArDbDataTypeCount] = {
    {dtBoolean, "Логический", "Boolean"},
    {dtInteger, "Целое число", "Integer"},
    {dtFloat, "Вещественное число", "Float"},
    {dtCurrency, "Денежная единица", "Currency"},
    {dtDateTime, "Дата и время", "DateTime"},
    {dtDate, "Дата", "Date"},
    {dtTime, "Время", "Time"},
    {dtString, "Строка", "String"},
    {dtMemo, "Текст", "Memo"},
    {dtBinary, "Двоичные данные", "Binary"},
    {dtPicture, "Рисунок", "Picture"},
    {dtDocument, "Документ", "Document"},
};

const char* const ArDbInfoKindNames[kArDbInfoKindCount] = {"Relations", "LiteralInfo",
                                                           "ReservedWords", "DataTypesInfo"};

bool DataTypeInList(TArDbDataType code, std::span<const TArDbDataType> list) {
  const TArDbDataType base = BaseDataType(code);
  for (const TArDbDataType item : list)
    if (BaseDataType(item) == base) return true;
  return false;
}

const TArDbDataTypeInfo* FindDataTypeInfo(TArDbDataType code) {
  for (const TArDbDataTypeInfo& info : ArDbDataTypes)
    if (info.Code == code) return &info;
  return nullptr;
}

std::string DataTypeCaption(TArDbDataType code) {
  const TArDbDataTypeInfo* info = FindDataTypeInfo(code);
  if (info == nullptr)
    throw Exception(
        "Ошибка получения описания типа данных: недопустимая комбинация типа и подтипа.");
  return info->Caption;
}

TArDbParam StringParam(const std::string& name) { return {name, dtString}; }
TArDbParam IntegerParam(const std::string& name) { return {name, dtInteger}; }
TArDbParam FloatParam(const std::string& name) { return {name, dtFloat}; }
TArDbParam BinaryParam(const std::string& name) { return {name, dtBinary}; }

std::span<const TArDbFieldDef> ArDbInfoFields(int32_t kind) {
  switch (kind) {
    case ikRelations:
      return ArDbRelationsFields;
    case ikLiteralInfo:
      return ArDbLiteralInfoFields;
    case ikReservedWords:
      return ArDbReservedWordsFields;
    case ikDataTypesInfo:
      return ArDbDataTypesInfoFields;
    default:
      return {};
  }
}

// ---------------------------------------------------------------------------------------------

namespace {

// "[T].[F]" items joined with `separator`, each item formed as prefix + "[T].[F]" + tail.
std::string ColumnList(const std::string& table, std::span<const TArDbParam> params,
                       const char* prefix, const char* tail, const char* separator) {
  std::string out;
  for (size_t i = 0; i < params.size(); ++i) {
    if (i > 0) out += separator;
    out += prefix;
    out += "[" + table + "].[" + params[i].Name + "]";
    out += tail;
  }
  return out;
}

// "WHERE ([T].[K1]=?) AND ([T].[K2]=?)", or empty without keys.
std::string KeyCondition(const std::string& table, std::span<const TArDbParam> keys) {
  if (keys.empty()) return std::string();
  return "WHERE " + ColumnList(table, keys, "(", "=?)", " AND ");
}

void AppendTypes(TArDbDataTypeArray& types, std::span<const TArDbParam> params) {
  for (const TArDbParam& p : params) types.push_back(p.DataType);
}

std::string HexNumber(uint32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", n);
  return buf;
}

}  // namespace

void CreateTableFromDefs(IArDb& db, const std::string& table_name,
                         std::span<const TArDbFieldDef> fields,
                         std::span<const TArDbIndexDef> indexes) {
  IntfPtr<IArDbTableDef> def = db.GetTableDef(std::string());
  def->SetTableName(table_name);
  for (const TArDbFieldDef& field : fields) def->AddFieldDef(field);
  for (const TArDbIndexDef& index : indexes) def->AddIndexDef(index);
  def->ApplyChanges();
}

IntfPtr<IArDbSQLCommand> NewCommand(IArDb& db, const std::string& sql,
                                    std::span<const TArDbDataType> param_types, bool prepared) {
  if (param_types.empty()) return db.CreateCommand(sql, nullptr, 0, prepared);
  return db.CreateCommand(sql, param_types.data(), static_cast<int32_t>(param_types.size()),
                          prepared);
}

IntfPtr<IArDbSQLCommand> BuildInsertCommand(IArDb& db, const std::string& table_name,
                                            std::span<const TArDbParam> fields, bool prepared) {
  std::string values;
  for (size_t i = 0; i < fields.size(); ++i) values += i > 0 ? ",?" : "?";
  const std::string sql = "INSERT INTO [" + table_name + "] (" +
                          ColumnList(table_name, fields, "", "", ",") + ") VALUES(" + values + ")";
  TArDbDataTypeArray types;
  AppendTypes(types, fields);
  return NewCommand(db, sql, types, prepared);
}

IntfPtr<IArDbSQLCommand> BuildUpdateCommand(IArDb& db, const std::string& table_name,
                                            std::span<const TArDbParam> set_fields,
                                            std::span<const TArDbParam> key_fields, bool prepared) {
  const std::string sql = "UPDATE [" + table_name + "] SET " +
                          ColumnList(table_name, set_fields, "", "=?", ",") + " " +
                          KeyCondition(table_name, key_fields);
  TArDbDataTypeArray types;
  AppendTypes(types, set_fields);
  AppendTypes(types, key_fields);
  return NewCommand(db, sql, types, prepared);
}

IntfPtr<IArDbSQLCommand> BuildSelectCommand(IArDb& db, const std::string& table_name,
                                            std::span<const std::string> fields,
                                            std::span<const TArDbParam> key_fields, bool prepared) {
  std::string columns;
  if (fields.empty()) {
    columns = "*";
  } else {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) columns += ",";
      columns += "[" + table_name + "].[" + fields[i] + "]";
    }
  }
  const std::string sql =
      "SELECT " + columns + " FROM [" + table_name + "] " + KeyCondition(table_name, key_fields);
  TArDbDataTypeArray types;
  AppendTypes(types, key_fields);
  return NewCommand(db, sql, types, prepared);
}

IntfPtr<IArDbCursor> OpenTableCursor(IArDb& db, const std::string& table_name) {
  IntfPtr<IArDbSQLCommand> command = BuildSelectCommand(db, table_name, {}, {}, false);
  return command->Execute(nullptr, 0);
}

std::string UniqueTableName(IArDb& db, const std::string& base_name, const std::string& suffix) {
  constexpr int32_t kDefaultNameLimit = 24;
  int32_t limit = kDefaultNameLimit;
  {
    IntfPtr<IArDbCursor> info = db.GetInfo(ikLiteralInfo);
    while (!info->Eof()) {
      if (info->AsInteger("LITERALTYPE", -1) == ltTableName) {
        limit = info->AsInteger("MAXNAMELEN", kDefaultNameLimit);
        break;
      }
      info->Next();
    }
    info->Close();
  }
  const int64_t base_length = static_cast<int64_t>(Utf8Length(base_name));
  for (uint32_t i = 0;; ++i) {
    const std::string tail = suffix + HexNumber(i);
    const int64_t tail_length = static_cast<int64_t>(Utf8Length(tail));
    std::string candidate;
    if (base_length + tail_length > limit) {
      const int64_t keep = base_length - tail_length;
      candidate =
          (keep > 0 ? Utf8Prefix(base_name, static_cast<size_t>(keep)) : std::string()) + tail;
    } else {
      candidate = base_name + tail;
    }
    if (!db.TableExists(candidate)) return candidate;
  }
}

}  // namespace atlor
