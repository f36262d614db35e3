#pragma once

// The contract through which every other part of the program reaches a database: data-type
// codes, the field, index and parameter records, the five reference-counted interfaces, the
// column layouts of the information result sets, and the helpers that build INSERT, UPDATE and
// SELECT statements, create tables from record arrays and find unused table names.
//
// Driver libraries hand these interfaces across a module boundary (they are built with the same
// compiler), so the order of the virtual methods of every interface below is fixed: after the
// three reference-counting methods of IRefCounted, in the order they are declared here. Never
// insert, remove or reorder a virtual method.
//
// Texts are UTF-8 everywhere. Arrays are passed as the address of the first element and a
// count; the helper functions take std::span.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "core/interface.h"
#include "core/simple_params.h"
#include "core/value.h"

namespace atlor {

// ---------------------------------------------------------------------------------------------
// Data types

// High byte: the base type; low byte: the subtype.
using TArDbDataType = uint16_t;

constexpr TArDbDataType dtUnknown = 0x0000;  // a column the back-end cannot map
constexpr TArDbDataType dtBoolean = 0x0100;
constexpr TArDbDataType dtInteger = 0x0200;
constexpr TArDbDataType dtFloat = 0x0300;
constexpr TArDbDataType dtCurrency = 0x0400;
constexpr TArDbDataType dtDateTime = 0x0500;
constexpr TArDbDataType dtDate = 0x0501;
constexpr TArDbDataType dtTime = 0x0502;
constexpr TArDbDataType dtString = 0x0600;
constexpr TArDbDataType dtMemo = 0x0700;
constexpr TArDbDataType dtBinary = 0x0800;
constexpr TArDbDataType dtPicture = 0x0801;
constexpr TArDbDataType dtDocument = 0x0802;

struct TArDbDataTypeInfo {
  TArDbDataType Code;
  const char* Caption;  // Russian, shown to the operator
  const char* Name;     // English
};

constexpr int kArDbDataTypeCount = 12;
// The twelve known codes, in the order of their codes.
extern const TArDbDataTypeInfo ArDbDataTypes[kArDbDataTypeCount];

// The code with its subtype cleared.
constexpr TArDbDataType BaseDataType(TArDbDataType code) {
  return static_cast<TArDbDataType>(code & 0xFF00);
}
// True when some element of `list` has the same base type as `code`.
bool DataTypeInList(TArDbDataType code, std::span<const TArDbDataType> list);
// The Russian caption of a known code; any other code raises the general error "Ошибка
// получения описания типа данных: недопустимая комбинация типа и подтипа.".
std::string DataTypeCaption(TArDbDataType code);
// The table entry of a known code (whole code compared), or null.
const TArDbDataTypeInfo* FindDataTypeInfo(TArDbDataType code);

// ---------------------------------------------------------------------------------------------
// Records

struct TArDbFieldDef {
  std::string Name;
  TArDbDataType DataType = dtUnknown;
  int32_t Size = 0;       // String: length in characters; other types 0 or -1 (ignored)
  bool Required = false;  // NOT NULL

  friend bool operator==(const TArDbFieldDef&, const TArDbFieldDef&) = default;
};

struct TArDbIndexDef {
  std::string Name;    // reported by GetIndexDef, never applied by SetIndexDef/AddIndexDef
  std::string Fields;  // field names separated by ";"
  bool Primary = false;
  bool Unique = false;

  friend bool operator==(const TArDbIndexDef&, const TArDbIndexDef&) = default;
};

// One column of a statement with the type of its value.
struct TArDbParam {
  std::string Name;
  TArDbDataType DataType = dtUnknown;

  friend bool operator==(const TArDbParam&, const TArDbParam&) = default;
};

TArDbParam StringParam(const std::string& name);
TArDbParam IntegerParam(const std::string& name);
TArDbParam FloatParam(const std::string& name);
TArDbParam BinaryParam(const std::string& name);

// One code per "?" placeholder of a statement, in placeholder order.
using TArDbDataTypeArray = std::vector<TArDbDataType>;

// ---------------------------------------------------------------------------------------------
// Information result sets (IArDb::GetInfo)

constexpr int32_t ikRelations = 0;
constexpr int32_t ikLiteralInfo = 1;
constexpr int32_t ikReservedWords = 2;
constexpr int32_t ikDataTypesInfo = 3;
constexpr int kArDbInfoKindCount = 4;
extern const char* const ArDbInfoKindNames[kArDbInfoKindCount];

// LITERALTYPE values of the LiteralInfo set.
constexpr int32_t ltTableName = 0;
constexpr int32_t ltFieldName = 1;
constexpr int32_t ltIndexName = 2;

// RELATIONS.OBJTYPE values.
constexpr int32_t otTable = 0;
constexpr int32_t otView = 1;

// Column layouts (Size is -1 everywhere). Back-ends build their in-memory cursors from them.
inline const TArDbFieldDef ArDbRelationsFields[] = {
    {"NAME", dtString, -1, true},
    {"SYSTEM", dtBoolean, -1, false},
    {"OBJTYPE", dtInteger, -1, false},
};
inline const TArDbFieldDef ArDbLiteralInfoFields[] = {
    {"LITERALTYPE", dtInteger, -1, true},          {"MAXNAMELEN", dtInteger, -1, false},
    {"CASESENSITIVE", dtBoolean, -1, false},       {"CORRECTCHARS", dtString, -1, false},
    {"CORRECTSTARTCHARS", dtString, -1, false},    {"INVALIDCHARS", dtString, -1, false},
    {"INVALIDSTARTINGCHARS", dtString, -1, false},
};
inline const TArDbFieldDef ArDbReservedWordsFields[] = {
    {"RESERVEDWORD", dtString, -1, true},
};
inline const TArDbFieldDef ArDbDataTypesInfoFields[] = {
    {"ARDBTYPE", dtInteger, -1, true},  {"TYPENAME", dtString, -1, true},
    {"SIZE", dtInteger, -1, false},     {"MINSCALE", dtInteger, -1, false},
    {"MAXSCALE", dtInteger, -1, false},
};

// The layout of an information kind; empty for a kind outside 0..3.
std::span<const TArDbFieldDef> ArDbInfoFields(int32_t kind);

// ---------------------------------------------------------------------------------------------
// Interfaces
//
// Results that are interfaces are new references owned by the caller (IntfPtr). A cursor field
// is addressed by a Value: an integer kind is the zero-based column index, a String the column
// name.

class IArDbCursor;
class IArDbTableDef;
class IArDbSQLCommand;

// An open (or closed) database.
class IArDb : public IRefCounted {
 public:
  static constexpr Guid IID{
      0x016BFCD3, 0xB8F9, 0x4C31, {0xBB, 0x6D, 0xB9, 0x48, 0xCF, 0xD6, 0x80, 0xA1}};

  // Parses the XML description, closes the database if open, keeps the description's root as
  // the parameter set, connects and records the opening time.
  virtual void Open(const std::string& description) = 0;
  // Disconnects and detaches every command, cursor and table definition made from it.
  virtual void Close() = 0;
  virtual bool Active() = 0;
  virtual bool InTransaction() = 0;
  // Transactions nest by counting: only the outermost StartTransaction and Commit reach the
  // back-end; Rollback ends the whole transaction.
  virtual void StartTransaction() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // A command for one statement whose "?" placeholders have the given types, in order.
  // param_types may be null when param_count is 0.
  virtual IntfPtr<IArDbSQLCommand> CreateCommand(const std::string& sql,
                                                 const TArDbDataType* param_types,
                                                 int32_t param_count, bool prepared) = 0;
  // The records of a table whose key fields equal one of the key rows (key_values holds
  // key_row_count rows of key_field_count values). No fields, or the single field "*", means all
  // fields; key_row_count 0 means all records. Without copy_key_values the cursor reads the
  // caller's key_values while open.
  virtual IntfPtr<IArDbCursor> OpenTable(const std::string& table_name, const std::string* fields,
                                         int32_t field_count, const std::string* key_fields,
                                         int32_t key_field_count, const Value* key_values,
                                         int32_t key_row_count, bool copy_key_values) = 0;
  // The information result set of that kind (ikRelations ... ikDataTypesInfo).
  virtual IntfPtr<IArDbCursor> GetInfo(int32_t kind) = 0;
  // The definition of an existing table; a blank name gives an empty definition.
  virtual IntfPtr<IArDbTableDef> GetTableDef(const std::string& table_name) = 0;
  virtual bool TableExists(const std::string& table_name) = 0;
  virtual void DropTable(const std::string& table_name) = 0;
  // The parameter set over the open description's root element, with the computed names
  // "ArDb\DriverName", "ArDb\DriverCaption", "ArDb\OpenDatetime", "ArDb\DriverLibrary".
  virtual IntfPtr<ISimpleParams> Description() = 0;

 protected:
  ~IArDb() = default;
};

// A forward-only, read-only result set positioned on its current record. At end of data the
// cursor counts as closed.
class IArDbCursor : public IRefCounted {
 public:
  static constexpr Guid IID{
      0x9C430114, 0xED36, 0x4D7B, {0xB4, 0x59, 0xCD, 0xA5, 0x67, 0x06, 0x3F, 0xE0}};

  virtual bool IsNull(const Value& field) = 0;
  // The current value, or the default when it is Null.
  virtual bool AsBoolean(const Value& field, bool default_value) = 0;
  virtual int32_t AsInteger(const Value& field, int32_t default_value) = 0;
  virtual double AsFloat(const Value& field, double default_value) = 0;
  virtual Currency AsCurrency(const Value& field, Currency default_value) = 0;
  virtual DateTime AsDateTime(const Value& field, DateTime default_value) = 0;
  virtual std::string AsString(const Value& field, const std::string& default_value) = 0;
  // Null or Bytes, never another kind.
  virtual Value AsBlob(const Value& field) = 0;
  // Null, or the value converted by the column's base type. Never Empty.
  virtual Value AsVariant(const Value& field) = 0;
  virtual std::string FieldName(int32_t index) = 0;
  virtual TArDbDataType FieldType(const Value& field) = 0;
  virtual int32_t FieldSize(const Value& field) = 0;
  // -1 when there is no such column.
  virtual int32_t FieldIndex(const std::string& name) = 0;
  virtual int32_t FieldCount() = 0;
  virtual void Next() = 0;
  virtual bool Eof() = 0;
  virtual void Close() = 0;

 protected:
  ~IArDbCursor() = default;
};

// A working copy of a table's definition plus the copy last read from the database.
class IArDbTableDef : public IRefCounted {
 public:
  static constexpr Guid IID{
      0x51457F00, 0x7972, 0x41F3, {0xA8, 0x43, 0xF8, 0x5C, 0xC2, 0x90, 0x22, 0x98}};

  virtual TArDbFieldDef GetFieldDef(int32_t index) = 0;
  virtual void SetFieldDef(int32_t index, const TArDbFieldDef& def, bool update_indexes) = 0;
  virtual int32_t AddFieldDef(const TArDbFieldDef& def) = 0;
  virtual void DeleteFieldDef(int32_t index, bool update_indexes) = 0;
  virtual int32_t IndexOfField(const std::string& name) = 0;
  virtual void MoveField(int32_t cur_index, int32_t new_index) = 0;
  virtual int32_t FieldCount() = 0;
  virtual TArDbIndexDef GetIndexDef(int32_t index) = 0;
  virtual void SetIndexDef(int32_t index, const TArDbIndexDef& def) = 0;
  virtual int32_t AddIndexDef(const TArDbIndexDef& def) = 0;
  virtual void DeleteIndexDef(int32_t index) = 0;
  virtual int32_t IndexOfIndex(const std::string& fields) = 0;
  virtual int32_t IndexCount() = 0;
  virtual std::string GetTableName() = 0;
  virtual void SetTableName(const std::string& name) = 0;
  virtual bool Modified() = 0;
  virtual void ApplyChanges() = 0;
  virtual void CancelChanges() = 0;

 protected:
  ~IArDbTableDef() = default;
};

// One SQL statement with "?" placeholders.
class IArDbSQLCommand : public IRefCounted {
 public:
  static constexpr Guid IID{
      0x178927D6, 0x0A58, 0x40D5, {0xA3, 0x51, 0x42, 0xC5, 0x11, 0x24, 0x14, 0x0E}};

  // Binds the values to the placeholders in order and runs the statement: a cursor on the first
  // row for a statement that produces rows, null otherwise. params may be null when count is 0.
  virtual IntfPtr<IArDbCursor> Execute(const Value* params, int32_t count) = 0;
  // Rows affected by the last Execute (-1 when unknown).
  virtual int32_t RowsAffected() = 0;

  // Conveniences for callers (not part of the method table).
  IntfPtr<IArDbCursor> Execute(std::initializer_list<Value> params) {
    return Execute(params.size() ? params.begin() : nullptr, static_cast<int32_t>(params.size()));
  }
  IntfPtr<IArDbCursor> Execute(std::span<const Value> params) {
    return Execute(params.empty() ? nullptr : params.data(), static_cast<int32_t>(params.size()));
  }

 protected:
  ~IArDbSQLCommand() = default;
};

// The driver manager.
class IArDbManager : public IRefCounted {
 public:
  static constexpr Guid IID{
      0x1801F3B2, 0x2579, 0x4C76, {0x97, 0x2C, 0x66, 0x53, 0x80, 0xED, 0x45, 0x8A}};

  // Forgets all known drivers and driver libraries and collects them again.
  virtual void Refresh() = 0;
  // Answers an XML request document with an XML response document.
  virtual std::string Request(const std::string& request) = 0;
  // A database object for the driver named in the description; opened with it when `open`.
  virtual IntfPtr<IArDb> OpenDatabase(const std::string& description, bool open) = 0;

 protected:
  ~IArDbManager() = default;
};

// ---------------------------------------------------------------------------------------------
// Statement helpers. Names go between square brackets verbatim; values are "?" parameters.

// Creates a table with the fields and indexes (index names are not used). The table must not
// exist.
void CreateTableFromDefs(IArDb& db, const std::string& table_name,
                         std::span<const TArDbFieldDef> fields,
                         std::span<const TArDbIndexDef> indexes);
// CreateCommand with the array (no address and 0 when it is empty).
IntfPtr<IArDbSQLCommand> NewCommand(IArDb& db, const std::string& sql,
                                    std::span<const TArDbDataType> param_types, bool prepared);
// "INSERT INTO [T] ([T].[F1],[T].[F2]) VALUES(?,?)"
IntfPtr<IArDbSQLCommand> BuildInsertCommand(IArDb& db, const std::string& table_name,
                                            std::span<const TArDbParam> fields, bool prepared);
// "UPDATE [T] SET [T].[F1]=?,[T].[F2]=? WHERE ([T].[K1]=?) AND ([T].[K2]=?)"; without keys the
// text ends with one blank and updates every row.
IntfPtr<IArDbSQLCommand> BuildUpdateCommand(IArDb& db, const std::string& table_name,
                                            std::span<const TArDbParam> set_fields,
                                            std::span<const TArDbParam> key_fields, bool prepared);
// "SELECT [T].[F1],[T].[F2] FROM [T] WHERE ([T].[K1]=?)"; "*" when there are no fields; without
// keys the text ends with one blank.
IntfPtr<IArDbSQLCommand> BuildSelectCommand(IArDb& db, const std::string& table_name,
                                            std::span<const std::string> fields,
                                            std::span<const TArDbParam> key_fields, bool prepared);
// All records of a table ("SELECT * FROM [T] ").
IntfPtr<IArDbCursor> OpenTableCursor(IArDb& db, const std::string& table_name);
// The first name BaseName + Suffix + i (i = 0, 1, ... in upper-case hexadecimal) that names no
// table, cut to the length of BaseName when it would exceed the back-end's name limit.
std::string UniqueTableName(IArDb& db, const std::string& base_name, const std::string& suffix);

}  // namespace atlor
