#pragma once

// The base classes of databases, table definitions, commands and cursors. They do everything that
// is the same for every back-end (state checks, transaction nesting, field resolution, parameter
// validation, error wrapping, table-definition bookkeeping, the database description) and call
// the protected virtual operations for the rest. A back-end derives from these four classes and
// implements exactly those virtual operations:
//
//   class TMyDb : public TArDb            CreateTableDef, CreateSQLCommand, DoOpen, DoClose,
//                                          GetActive, GetInTransaction, DoStartTransaction,
//                                          DoCommit, DoRollback, DoOpenTable, DoGetInfo,
//                                          DoTableExists, DoDropTable
//                                          (GetDescriptionValue may be extended)
//   class TMyTableDef : public TArDbTableDef   DoCreateTable, DoLoad, DoAlterTable
//   class TMyCommand : public TArDbSQLCommand  Prepare, DoExecute
//   class TMyCursor : public TArDbCursor       GetIsNull ... DoClose (17 operations)
//
// Objects are reference counted and start with no reference: hand a new object to an IntfPtr at
// once, e.g. `return IntfPtr<TArDbSQLCommand>(new TMyCommand(this));` in CreateSQLCommand, or
// `return IntfPtr<IArDbCursor>(new TMyCursor(db, ...));` from DoOpenTable / DoExecute. Every
// object made from a database holds a counted reference to it and is detached when the database
// closes; after that it fails its checks with the closed-database error.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ardb/ardb_defs.h"
#include "ardb/ardbs.h"
#include "core/exception.h"
#include "core/interface.h"
#include "core/value.h"

namespace atlor {

// The error of the database layer: a message only.
class EArDbException : public Exception {
 public:
  using Exception::Exception;
};

class TArDbObject;
class TArDbTableDef;
class TArDbSQLCommand;
class TArDbCursor;

// The texts of the layer's errors.
inline constexpr const char* kArDbClosedText =
    "Ошибка: Операция не может быть выполнена, база данных закрыта";
inline constexpr const char* kArDbCursorClosedText = "Ошибка доступа к данным: курсор закрыт";

// ---------------------------------------------------------------------------------------------

class TArDb : public TMyInterfacedObject, public IArDb {
 public:
  // Created closed: depth 0, the description attached to nothing.
  TArDb();
  // Detaches the description and every object; does not call DoClose, so a back-end disconnects
  // in its own destructor.
  ~TArDb() override;

  ATLOR_IMPLEMENT_REFCOUNT
  int32_t QueryInterfaceImpl(const Guid& iid, void** object) override;

  // IArDb
  void Open(const std::string& description) final;
  void Close() final;
  bool Active() final;
  bool InTransaction() final;
  void StartTransaction() final;
  void Commit() final;
  void Rollback() final;
  IntfPtr<IArDbSQLCommand> CreateCommand(const std::string& sql, const TArDbDataType* param_types,
                                         int32_t param_count, bool prepared) final;
  IntfPtr<IArDbCursor> OpenTable(const std::string& table_name, const std::string* fields,
                                 int32_t field_count, const std::string* key_fields,
                                 int32_t key_field_count, const Value* key_values,
                                 int32_t key_row_count, bool copy_key_values) final;
  IntfPtr<IArDbCursor> GetInfo(int32_t kind) final;
  IntfPtr<IArDbTableDef> GetTableDef(const std::string& table_name) final;
  bool TableExists(const std::string& table_name) final;
  void DropTable(const std::string& table_name) final;
  IntfPtr<ISimpleParams> Description() final;

  // Date and time of the last successful Open.
  DateTime OpenDateTime() const { return open_date_time_; }
  // Nesting depth of StartTransaction, 0 outside transactions.
  int32_t TransactionDepth() const { return transaction_depth_; }
  // Number of commands, cursors and table definitions currently made from this database.
  int32_t ObjectCount() const { return static_cast<int32_t>(objects_.size()); }

  // Raises the closed-database error when the back-end is not connected.
  void CheckDatabaseOpen();

 protected:
  // Answers the computed description names "ArDb\DriverName", "ArDb\DriverCaption",
  // "ArDb\OpenDatetime" and "ArDb\DriverLibrary" while the database is active. The description
  // asks it only for names it holds no entry for. Value starts as Null.
  virtual bool GetDescriptionValue(const std::string& name, Value& value);

  // A new table-definition object of the back-end's class for this database.
  virtual IntfPtr<TArDbTableDef> CreateTableDef() = 0;
  // A new command object of the back-end's class for this database.
  virtual IntfPtr<TArDbSQLCommand> CreateSQLCommand() = 0;
  // Connects using the values of Description().
  virtual void DoOpen() = 0;
  virtual void DoClose() = 0;
  virtual bool GetActive() = 0;
  // The back-end's transaction is running.
  virtual bool GetInTransaction() = 0;
  virtual void DoStartTransaction() = 0;
  virtual void DoCommit() = 0;
  virtual void DoRollback() = 0;
  // IArDb::OpenTable after the open check.
  virtual IntfPtr<IArDbCursor> DoOpenTable(const std::string& table_name, const std::string* fields,
                                           int32_t field_count, const std::string* key_fields,
                                           int32_t key_field_count, const Value* key_values,
                                           int32_t key_row_count, bool copy_key_values) = 0;
  // The information result set, or null when the kind is not supplied.
  virtual IntfPtr<IArDbCursor> DoGetInfo(int32_t kind) = 0;
  virtual bool DoTableExists(const std::string& table_name) = 0;
  virtual void DoDropTable(const std::string& table_name) = 0;

 private:
  friend class TArDbObject;
  struct DescriptionState;

  void CheckTransactionMode();
  void CloseCursors();
  void DetachObjects();
  void Register(TArDbObject* object);
  void Unregister(TArDbObject* object);

  std::vector<TArDbObject*> objects_;  // not owned
  std::unique_ptr<DescriptionState> description_;
  DateTime open_date_time_{};
  int32_t transaction_depth_ = 0;
};

// How a driver registry creates a database of a back-end class.
using TArDbClass = IntfPtr<TArDb> (*)();
template <class T>
IntfPtr<TArDb> CreateArDbOf() {
  return IntfPtr<TArDb>(new T());
}

// ---------------------------------------------------------------------------------------------

// The base of table definitions, commands and cursors: registered with its database while it
// lives, holding a counted reference to it until the database closes.
class TArDbObject : public TMyInterfacedObject {
 public:
  // A null database is an assertion failure "Object not initialized".
  explicit TArDbObject(TArDb* database);
  ~TArDbObject() override;

  // The database it was made from; null after detachment.
  TArDb* Database() const { return database_; }
  // Raises the closed-database error when detached or when the database is not connected.
  void CheckObjectOpen();

 private:
  friend class TArDb;
  void Detach();

  TArDb* database_ = nullptr;
};

// ---------------------------------------------------------------------------------------------

class TArDbTableDef : public TArDbObject, public IArDbTableDef {
 public:
  explicit TArDbTableDef(TArDb* database);

  ATLOR_IMPLEMENT_REFCOUNT
  int32_t QueryInterfaceImpl(const Guid& iid, void** object) override;

  // IArDbTableDef, on the working copy
  TArDbFieldDef GetFieldDef(int32_t index) final;
  void SetFieldDef(int32_t index, const TArDbFieldDef& def, bool update_indexes) final;
  int32_t AddFieldDef(const TArDbFieldDef& def) final;
  void DeleteFieldDef(int32_t index, bool update_indexes) final;
  int32_t IndexOfField(const std::string& name) final;
  void MoveField(int32_t cur_index, int32_t new_index) final;
  int32_t FieldCount() final;
  TArDbIndexDef GetIndexDef(int32_t index) final;
  void SetIndexDef(int32_t index, const TArDbIndexDef& def) final;
  int32_t AddIndexDef(const TArDbIndexDef& def) final;
  void DeleteIndexDef(int32_t index) final;
  int32_t IndexOfIndex(const std::string& fields) final;
  int32_t IndexCount() final;
  std::string GetTableName() final;
  void SetTableName(const std::string& name) final;
  bool Modified() final;
  void ApplyChanges() final;
  void CancelChanges() final;

  // Reloads both copies from the database under `table_name`; a blank name gives an empty
  // definition without asking the back-end.
  void Load(const std::string& table_name);

  const TTableDef& Working() const { return working_; }
  const TTableDef& Loaded() const { return loaded_; }

 protected:
  // Creates the table from `def`; with `with_indexes` also its primary key (the first primary
  // index) and its other indexes.
  virtual void DoCreateTable(const std::string& table_name, const TTableDef& def,
                             bool with_indexes) = 0;
  // Fills the empty `def` (its Name already set to `table_name`) from the existing table.
  virtual void DoLoad(const std::string& table_name, TTableDef& def) = 0;
  // Changes the table described by `old_def` into `new_def` (CompareTableDefs and BuildFieldMap
  // tell what changed).
  virtual void DoAlterTable(const TTableDef& old_def, const TTableDef& new_def) = 0;

 private:
  TTableDef working_;
  TTableDef loaded_;
};

// ---------------------------------------------------------------------------------------------

class TArDbSQLCommand : public TArDbObject, public IArDbSQLCommand {
 public:
  explicit TArDbSQLCommand(TArDb* database);

  ATLOR_IMPLEMENT_REFCOUNT
  int32_t QueryInterfaceImpl(const Guid& iid, void** object) override;

  // IArDbSQLCommand
  IntfPtr<IArDbCursor> Execute(const Value* params, int32_t count) final;
  using IArDbSQLCommand::Execute;
  int32_t RowsAffected() final;

  const std::string& SQL() const { return sql_; }
  const TArDbDataTypeArray& ParamTypes() const { return param_types_; }
  bool Prepared() const { return prepared_; }

 protected:
  // Called once after SQL, Prepared and ParamTypes are set.
  virtual void Prepare() = 0;
  // Binds the validated values and runs the statement; a cursor on the first row for a
  // statement that produces rows, null otherwise. Stores the affected row count.
  virtual IntfPtr<IArDbCursor> DoExecute(const Value* params, int32_t count,
                                         int32_t& rows_affected) = 0;

 private:
  friend class TArDb;

  TArDbDataTypeArray param_types_;
  std::string sql_;
  int32_t rows_affected_ = -1;
  bool prepared_ = false;
};

// ---------------------------------------------------------------------------------------------

class TArDbCursor : public TArDbObject, public IArDbCursor {
 public:
  explicit TArDbCursor(TArDb* database);

  ATLOR_IMPLEMENT_REFCOUNT
  int32_t QueryInterfaceImpl(const Guid& iid, void** object) override;

  // IArDbCursor
  bool IsNull(const Value& field) final;
  bool AsBoolean(const Value& field, bool default_value) final;
  int32_t AsInteger(const Value& field, int32_t default_value) final;
  double AsFloat(const Value& field, double default_value) final;
  Currency AsCurrency(const Value& field, Currency default_value) final;
  DateTime AsDateTime(const Value& field, DateTime default_value) final;
  std::string AsString(const Value& field, const std::string& default_value) final;
  Value AsBlob(const Value& field) final;
  Value AsVariant(const Value& field) final;
  std::string FieldName(int32_t index) final;
  TArDbDataType FieldType(const Value& field) final;
  int32_t FieldSize(const Value& field) final;
  int32_t FieldIndex(const std::string& name) final;
  int32_t FieldCount() final;
  void Next() final;
  bool Eof() final;
  void Close() final;

 protected:
  // `index` is a column index already checked by the base.
  virtual bool GetIsNull(int32_t index) = 0;
  virtual bool GetAsBoolean(int32_t index) = 0;
  virtual int32_t GetAsInteger(int32_t index) = 0;
  virtual double GetAsFloat(int32_t index) = 0;
  virtual Currency GetAsCurrency(int32_t index) = 0;
  virtual DateTime GetAsDateTime(int32_t index) = 0;
  virtual std::string GetAsString(int32_t index) = 0;
  // Null or Bytes.
  virtual Value GetAsBlob(int32_t index) = 0;
  // The value of a column whose type the base does not convert.
  virtual Value GetValue(int32_t index) = 0;
  virtual int32_t GetFieldCount() = 0;
  // -1 when absent.
  virtual int32_t GetFieldIndex(const std::string& name) = 0;
  virtual std::string GetFieldName(int32_t index) = 0;
  virtual TArDbDataType GetFieldType(int32_t index) = 0;
  virtual int32_t GetFieldSize(int32_t index) = 0;
  virtual bool GetEof() = 0;
  virtual void DoNext() = 0;
  // Releases the result set before its end.
  virtual void DoClose() = 0;

 private:
  void CheckNotEof();
  int32_t ResolveField(const Value& field);
};

// ---------------------------------------------------------------------------------------------
// Helpers

// Full path of the module (program or driver library) that contains this code; when the system
// cannot tell, "Unknown module name, error number " and the error code.
std::string ModuleFileName();

// The statement without the qualifiers that name its own table inside an INSERT (INSERT [OR
// action] INTO, REPLACE INTO) or UPDATE [OR action] statement: "[T].[F]", "T".F or T.F become
// the bare field, as engines of the SQLite dialect want in a column list or a SET list. Names may
// be quoted with [], "" or ``; quoted texts stay as they are; any other statement is returned
// unchanged.
std::string DropOwnTableQualifiers(const std::string& sql);

// A copy of `text` in which every character of `from_chars` outside a quoted string ('...' or
// "...") is replaced by the text at the same position of `to_texts`. Different lengths are an
// assertion failure "Invalid parametrs".
std::string TranslateQuotes(std::string_view text, std::string_view from_chars,
                            std::span<const std::string> to_texts);

// The value as text; with a positive max_len smaller than its length (in characters), the first
// max_len characters followed by "...". A value that has no text form gives its kind name in
// parentheses.
std::string ValueText(const Value& value, int32_t max_len);

// The parameter listing of a failed Execute: "(Empty Values list)" without values, otherwise one
// line per placeholder, each preceded by "\r\n" (a placeholder beyond `count` lists as Empty).
std::string ArDbParamsListing(std::span<const TArDbDataType> param_types, const Value* params,
                              int32_t count);

}  // namespace atlor
