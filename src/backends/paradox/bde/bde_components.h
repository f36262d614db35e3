#pragma once

// Data-access components over the embedded Paradox engine: what the BDE back-end needs of a
// session, a database, a table dataset and a query dataset, with the same roles and results.
//
//   TSession session;                       // named; holds the passwords of protected tables
//   session.SetSessionName("S1");
//   TDatabase db;                           // driver "STANDARD", parameter "PATH=<folder>"
//   db.SetDatabaseName("D1"); db.SetSessionName("S1");
//   db.SetDriverName("STANDARD"); db.Params().push_back("PATH=/data/atlor");
//   db.Open();
//   TTable t; t.SetSessionName("S1"); t.SetDatabaseName("D1"); t.SetTableName("ATLOR_LAYERS");
//   t.Open(); for (; !t.Eof(); t.Next()) ... t.FieldByName("ID").AsString() ...
//
// Datasets find their database by session and database name (without regard to case) among the
// components alive in the process, as the classic engine does.
//
// Writing: changes are made in the engine's memory and written to the table files when a
// transaction commits, before a table is created, deleted or renamed, when the database is
// flushed or closed. Inside a transaction nothing is written before the commit.
//
// Sharing: database components of one process that open the same folder share one engine (the
// engine allows one writer per folder and process); only one of them can run a transaction at
// a time.
//
// Errors are EBdeError (messages of this layer) or the engine's own errors (EPxError and its
// kinds), passed on unchanged.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/exception.h"
#include "core/value.h"

namespace atlor::pxengine {
class Database;
class SqlConnection;
class Table;
}  // namespace atlor::pxengine

namespace atlor::bde {

class EBdeError : public Exception {
 public:
  using Exception::Exception;
};

// The field types of datasets, in the classic order.
enum class TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
};

// Memo, binary and the other large-object types.
bool IsBlobFieldType(TFieldType type);
// "ftString", "ftInteger" ... (for messages and tests).
const char* FieldTypeName(TFieldType type);

// ---------------------------------------------------------------------------------------------

class TDatabase;
class TDataSet;

// A named session. Its passwords open protected tables of the databases attached to it.
class TSession {
 public:
  TSession();
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // A name another session of the process already has (case ignored): EBdeError
  // "Duplicate session name <name>".
  void SetSessionName(const std::string& name);
  const std::string& SessionName() const { return name_; }
  void AddPassword(const std::string& password);
  const std::vector<std::string>& Passwords() const { return passwords_; }
  // Closes every connected database attached to the session.
  void Close();

  // The session of that name (case ignored), or null.
  static TSession* Find(std::string_view name);

 private:
  std::string name_;
  std::vector<std::string> passwords_;
};

enum class TTransIsolation : uint8_t { tiDirtyRead, tiReadCommitted, tiRepeatableRead };

struct TEngineHandle;

// A database: a folder of Paradox tables reached through the "STANDARD" driver.
class TDatabase {
 public:
  TDatabase();
  // Closes (writing pending changes as far as possible).
  ~TDatabase();
  TDatabase(const TDatabase&) = delete;
  TDatabase& operator=(const TDatabase&) = delete;

  // Names and settings; changing them while connected is EBdeError "Cannot perform this
  // operation on an open database".
  void SetDatabaseName(const std::string& name);
  const std::string& DatabaseName() const { return name_; }
  void SetSessionName(const std::string& name);
  const std::string& SessionName() const { return session_name_; }
  void SetAliasName(const std::string& name);
  const std::string& AliasName() const { return alias_; }
  void SetDriverName(const std::string& name);
  const std::string& DriverName() const { return driver_; }
  // "NAME=value" entries; the STANDARD driver reads PATH.
  std::vector<std::string>& Params();
  void SetLoginPrompt(bool value) { login_prompt_ = value; }
  bool LoginPrompt() const { return login_prompt_; }
  void SetTransIsolation(TTransIsolation value) { isolation_ = value; }
  TTransIsolation TransIsolation() const { return isolation_; }

  // Connects: the session must exist, the driver must be "STANDARD" (no alias is known), PATH
  // must name an existing folder; the folder's writer lock is taken (another program writing
  // it is the engine's error). The session's passwords go to the engine.
  void Open();
  // Closes the datasets attached to it (and unprepares its queries), rolls back a running
  // transaction, writes pending changes and disconnects. A failure while writing is passed on;
  // the database is disconnected all the same.
  void Close();
  bool Connected() const { return handle_ != nullptr; }

  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const { return in_transaction_; }

  // Names of the tables (.DB files) without extension; system tables are never listed.
  std::vector<std::string> GetTableNames(bool system_tables = false);
  // Writes every table changed outside a transaction (nothing inside one).
  void Flush();

  // The connected engine; EBdeError "Database <name> is not open" when not connected.
  pxengine::Database& Engine();
  // For datasets: a change was made in the engine's memory.
  void NoteChange();
  // The SQL connection over the engine (made on first use, shared like the engine).
  pxengine::SqlConnection& Sql();
  // For datasets: a table is opened or closed by a dataset of this process. Deleting or renaming
  // an open table is EBdeError "Table is busy".
  void TableOpened(const std::string& table);
  void TableClosed(const std::string& table);
  void CheckTableFree(const std::string& table);

  // The connected database of that session and name (case ignored), or null.
  static TDatabase* Find(std::string_view session_name, std::string_view database_name);

 private:
  friend class TDataSet;
  void CheckInactive() const;
  void Disconnect();

  std::vector<TDataSet*> datasets_;  // open or prepared datasets using this database
  std::string name_;
  std::string session_name_;
  std::string alias_;
  std::string driver_;
  std::vector<std::string> params_;
  bool login_prompt_ = true;
  TTransIsolation isolation_ = TTransIsolation::tiReadCommitted;
  std::shared_ptr<TEngineHandle> handle_;
  bool in_transaction_ = false;
};

// ---------------------------------------------------------------------------------------------

class TDataSet;

// A field of an open dataset, on the dataset's current record.
class TField {
 public:
  TField(TDataSet* owner, int index, std::string name, TFieldType type, int size, bool required);

  const std::string& FieldName() const { return name_; }
  TFieldType DataType() const { return type_; }
  // The declared size (text: characters; BLOB: the part kept in the record).
  int Size() const { return size_; }
  bool Required() const { return required_; }
  int Index() const { return index_; }
  bool IsBlob() const { return IsBlobFieldType(type_); }

  bool IsNull() const;
  // Null when the field is null.
  Value AsValue() const;
  // Null fields read as false, 0, 0.0, 0, 0 and "".
  bool AsBoolean() const;
  int32_t AsInteger() const;
  double AsFloat() const;
  Currency AsCurrency() const;
  DateTime AsDateTime() const;
  std::string AsString() const;
  // The content of a BLOB field (empty when null); of any other field its value's bytes.
  Bytes BlobContent() const;
  // Bytes of a BLOB field's content, without reading it where the dataset can tell.
  int32_t BlobSize() const;

  // In insert state only.
  void SetValue(const Value& value);
  void Clear() { SetValue(Value::Null()); }

 private:
  TDataSet* owner_;
  int index_;
  std::string name_;
  TFieldType type_;
  int size_;
  bool required_;
};

// What the table and query datasets share: the database they reach, their fields and the walk
// over their records.
class TDataSet {
 public:
  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  void SetSessionName(const std::string& name);
  const std::string& SessionName() const { return session_name_; }
  void SetDatabaseName(const std::string& name);
  const std::string& DatabaseName() const { return database_name_; }
  // Large objects are never cached here; the setting is kept for callers.
  void SetCacheBlobs(bool value) { cache_blobs_ = value; }
  bool CacheBlobs() const { return cache_blobs_; }

  void Open();
  void Close();
  bool Active() const { return active_; }
  // True when inactive or past the last record.
  bool Eof() const;
  void Next();

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Position checked: EBdeError "Field index out of range".
  TField& Fields(int index) const;
  // Case ignored; null when none.
  TField* FindField(std::string_view name) const;
  // EBdeError "Field '<name>' not found" when none.
  TField& FieldByName(std::string_view name) const;

 protected:
  friend class TField;
  friend class TDatabase;

  // The connected database the names lead to: EBdeError "Database '<name>' not found" or
  // "Database '<name>' is not open".
  TDatabase& LinkedDatabase() const;
  // While open (or prepared), a dataset is attached to its database, which closes it when it
  // disconnects.
  void AttachTo(TDatabase& database);
  void DetachFromDatabase();
  TDatabase* Attached() const { return attached_; }
  // The database disconnects: close (and unprepare).
  virtual void DatabaseClosing();
  void CheckInactive() const;
  void CheckActive() const;

  // Fills fields_ and positions on the first record.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool InternalEof() const = 0;
  virtual void InternalNext() = 0;
  virtual Value FieldValue(int index) const = 0;
  virtual void SetFieldValue(int index, const Value& value);
  // Bytes of a BLOB value; the default reads the value.
  virtual int32_t FieldBlobSize(int index) const;

  std::vector<std::unique_ptr<TField>> fields_;

 private:
  std::string session_name_;
  std::string database_name_;
  bool cache_blobs_ = true;
  bool active_ = false;
  TDatabase* attached_ = nullptr;
};

// ---------------------------------------------------------------------------------------------

enum class TTableType : uint8_t { ttDefault, ttParadox };

struct TFieldDefItem {
  std::string Name;
  TFieldType DataType = TFieldType::ftUnknown;
  int Size = 0;
  bool Required = false;
};

using TIndexOptions = uint8_t;
constexpr TIndexOptions ixPrimary = 0x01;
constexpr TIndexOptions ixUnique = 0x02;
constexpr TIndexOptions ixDescending = 0x04;
constexpr TIndexOptions ixCaseInsensitive = 0x08;

struct TIndexDefItem {
  std::string Name;    // the primary index has none
  std::string Fields;  // names joined by ";"
  TIndexOptions Options = 0;
};

using TLocateOptions = uint8_t;
constexpr TLocateOptions loCaseInsensitive = 0x01;
constexpr TLocateOptions loPartialKey = 0x02;

// A table of the database, by name. Its structure can be read, created, renamed and deleted
// without opening it; open, it is walked in key order (file order when unkeyed).
class TTable : public TDataSet {
 public:
  TTable();
  ~TTable() override;

  // A trailing ".DB" is dropped.
  void SetTableName(const std::string& name);
  const std::string& TableName() const { return table_name_; }
  void SetTableType(TTableType type) { table_type_ = type; }
  TTableType TableType() const { return table_type_; }
  void SetReadOnly(bool value);
  bool ReadOnly() const { return read_only_; }

  std::vector<TFieldDefItem>& FieldDefs() { return field_defs_; }
  std::vector<TIndexDefItem>& IndexDefs() { return index_defs_; }
  // Read the definitions from the table's files, without opening the table.
  void UpdateFieldDefs();
  void UpdateIndexDefs();
  void AddFieldDef(const std::string& name, TFieldType type, int size, bool required);
  void AddIndexDef(const std::string& name, const std::string& fields, TIndexOptions options);

  // Creates the table from FieldDefs and IndexDefs. Text and byte fields take Size as their
  // length, BLOB fields as the part kept in the record; a type the table format has no field
  // for is EBdeError "Field type not supported by Paradox tables: <type>".
  void CreateTable();
  void DeleteTable();
  void RenameTable(const std::string& new_name);
  bool Exists();

  // Moves to the first record (in the table's order) whose fields (names joined by ";") hold
  // the values: one Value for one field, an Array of Values for several. Without options the
  // match is exact and case-sensitive. False (and the position unchanged) when none matches.
  bool Locate(const std::string& key_fields, const Value& key_values, TLocateOptions options = 0);

  // Starts a new record (all fields blank); Post adds it and positions on it; Cancel drops it.
  void Append();
  void Post();
  void Cancel();
  bool Inserting() const { return inserting_; }

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  bool InternalEof() const override;
  void InternalNext() override;
  Value FieldValue(int index) const override;
  void SetFieldValue(int index, const Value& value) override;
  int32_t FieldBlobSize(int index) const override;

 private:
  void Refresh() const;
  int PositionOf(uint32_t row) const;

  std::string table_name_;
  TTableType table_type_ = TTableType::ttDefault;
  bool read_only_ = false;
  std::vector<TFieldDefItem> field_defs_;
  std::vector<TIndexDefItem> index_defs_;

  pxengine::Table* table_ = nullptr;    // while open
  mutable std::vector<uint32_t> rows_;  // row ids in the table's order
  mutable size_t position_ = 0;
  mutable bool stale_ = false;  // rows_ no longer tells the table's order (after a post)
  mutable std::unordered_map<uint32_t, size_t> positions_;  // row id -> index in rows_
  mutable bool positions_valid_ = false;
  uint32_t current_row_ = 0;  // while stale_
  bool inserting_ = false;
  std::vector<Value> buffer_;
};

// ---------------------------------------------------------------------------------------------

enum class TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// A parameter of a query: a name from its text, a data type and a value.
class TParam {
 public:
  explicit TParam(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType type) { param_type_ = type; }

  bool IsNull() const { return value_.IsEmptyOrNull(); }
  // Null when no value is set.
  Value AsValue() const { return value_.IsEmpty() ? Value::Null() : value_; }
  void SetValue(const Value& value) { value_ = value; }
  void Clear() { value_ = Value::Null(); }
  // The value becomes the bytes.
  void SetBlobData(const uint8_t* data, size_t size) { value_ = Value(Bytes(data, data + size)); }

 private:
  std::string name_;
  TFieldType data_type_ = TFieldType::ftUnknown;
  TParamType param_type_ = TParamType::ptUnknown;
  Value value_;
};

struct TQueryStatement;

// A query in local SQL over the database's tables. Parameters are written in the text as a
// colon followed by a name (":PARAM0"); with parameter checking on, setting the text makes one
// parameter per such name, in the order of the text (outside quoted strings).
class TQuery : public TDataSet {
 public:
  TQuery();
  ~TQuery() override;

  // Closes and unprepares the query; the parameters are made anew from the text.
  void SetSQL(const std::string& text);
  const std::string& SQL() const { return sql_; }
  void SetRequestLive(bool value) { request_live_ = value; }
  bool RequestLive() const { return request_live_; }
  void SetUniDirectional(bool value) { uni_directional_ = value; }
  bool UniDirectional() const { return uni_directional_; }
  void SetParamCheck(bool value) { param_check_ = value; }
  bool ParamCheck() const { return param_check_; }

  int ParamCount() const { return static_cast<int>(params_.size()); }
  // Position checked: EBdeError "Parameter index out of range".
  TParam& Params(int index);
  // Case ignored; null when none.
  TParam* FindParam(std::string_view name);
  // Takes over the other query's parameters (definitions and values).
  void AssignParams(const TQuery& other);

  // Compiles the text (the database must be connected).
  void Prepare();
  void UnPrepare();
  bool Prepared() const;
  // How many times the text was compiled (for tests).
  int PrepareCount() const { return prepare_count_; }

  // Runs a statement that gives no rows; RowsAffected tells how many rows it changed.
  void ExecSQL();
  // Rows changed by the last ExecSQL (or -1 when unknown).
  int RowsAffected() const { return rows_affected_; }

  // The parameter names of a text: each ":" + name outside quoted strings, in order.
  static std::vector<std::string> ParseParamNames(std::string_view text);
  // The text as the SQL layer takes it: in INSERT and UPDATE statements the qualifier naming
  // the statement's own table is dropped from the columns ("T"."F" becomes "F"), which local
  // SQL accepts and the SQL layer does not. Other statements stay as they are.
  static std::string LocalSqlText(const std::string& sql);

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  bool InternalEof() const override;
  void InternalNext() override;
  Value FieldValue(int index) const override;
  void DatabaseClosing() override;

 private:
  void Bind();

  std::string sql_;
  bool request_live_ = false;
  bool uni_directional_ = false;
  bool param_check_ = true;
  std::vector<TParam> params_;
  std::unique_ptr<TQueryStatement> statement_;
  int rows_affected_ = -1;
  int prepare_count_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Conversions between the dataset field types and the Paradox field types.

// The field type of a Paradox field.
TFieldType FieldTypeOfParadox(uint8_t paradox_type);

}  // namespace atlor::bde
