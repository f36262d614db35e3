#pragma once

// The SQLite back-end: a database file reached through the SQLite 3 library.
//
//   IntfPtr<IArDb> db(new TSQLiteArDb);
//   db->Open(TSQLiteArDb::MakeDescription("/data/atlor.sqlite"));
//
// Opening never creates a database; TSQLiteArDb::CreateDatabaseFile makes a new, empty one.
// The connection runs with write-ahead logging and normal synchronisation; a database locked by
// another process is waited for up to "busy-timeout" milliseconds.
//
// Statements of the system run as they stand (SQLite accepts the square-bracket names and the
// "?" placeholders). A command keeps its compiled statement and reuses it for every Execute; a
// cursor reads straight from that statement. While a cursor still reads from it, a new Execute
// of the same command compiles a fresh statement, so the cursor stays valid.
//
// Column types written: Boolean "BOOLEAN", Integer "INTEGER", Float "DOUBLE", Currency
// "CURRENCY", DateTime "DATETIME", String "VARCHAR(n)", Memo "TEXT", Binary "BLOB". Values are
// stored as SQLite's own: booleans 0/1, integers, doubles, currency as its decimal value,
// date-times as days since 1899-12-30 (a double), text and blobs.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ardb/ardb_defs.h"
#include "ardb/ardb_utils.h"
#include "ardb/ardbs.h"

struct sqlite3;
struct sqlite3_stmt;

namespace atlor {

inline constexpr const char* kSQLiteDriverName = "SQLITE";
inline constexpr const char* kSQLiteDriverCaption = "SQLite";
// Connection parameters of the description.
inline constexpr const char* kSQLiteFileParam = "file";
inline constexpr const char* kSQLiteBusyTimeoutParam = "busy-timeout";
inline constexpr int32_t kSQLiteDefaultBusyTimeout = 5000;  // milliseconds
// The longest table, field and index name this back-end hands out (LiteralInfo MAXNAMELEN).
inline constexpr int32_t kSQLiteMaxNameLength = 128;

// The SQL type name written for a data type (by its base type); empty for an unknown one.
std::string SQLiteTypeName(TArDbDataType type, int32_t size);
// The data type and size of a declared column type ("VARCHAR(40)" gives String and 40); a
// declaration it cannot map gives 0.
TArDbDataType SQLiteDataTypeOf(std::string_view declared_type, int32_t* size = nullptr);

// The columns of a statement's result: names and data types (0 for an expression, whose type
// the cursor takes from its first value).
struct TSQLiteColumns {
  std::vector<std::string> Names;
  std::vector<TArDbDataType> Types;
  bool HasExpressions = false;
};

// The statement as SQLite takes it. SQLite accepts the square-bracket names and "?" placeholders
// of the system's statements, but no table name before the columns of an INSERT column list or
// an UPDATE SET list ("INSERT INTO [T] ([T].[F]) ...", "UPDATE [T] SET [T].[F]=? ..."): in an
// INSERT or UPDATE the qualifier naming the statement's own table is dropped. Quoted texts stay
// as they are; every other statement is returned unchanged.
std::string AdaptSQLiteStatement(const std::string& sql);

// One compiled statement, shared by the command that made it and the cursor reading from it.
struct TSQLiteStatement {
  sqlite3_stmt* Stmt = nullptr;  // null once finalized (the database closed)
  bool Busy = false;             // a cursor reads from it (stepped, not reset)

  // The result columns, read once and kept while the statement stays compiled the same way.
  std::shared_ptr<const TSQLiteColumns> Columns();

  TSQLiteStatement() = default;
  TSQLiteStatement(const TSQLiteStatement&) = delete;
  TSQLiteStatement& operator=(const TSQLiteStatement&) = delete;
  ~TSQLiteStatement();
  void Finalize();

 private:
  std::shared_ptr<const TSQLiteColumns> columns_;
  const char* columns_key_ = nullptr;  // SQLite's name of the first column when they were read
  int column_count_ = -1;
};

class TSQLiteArDb : public TArDb {
 public:
  TSQLiteArDb();
  ~TSQLiteArDb() override;

  // A database description for the file (and the busy time-out in milliseconds when it is not
  // negative): <driver name="SQLITE"><param name="file">...</param>...</driver>.
  static std::string MakeDescription(const std::string& file, int32_t busy_timeout = -1);
  // Creates a new, empty database file (write-ahead logging). An existing file (or any other
  // entry of that name) is never overwritten: that is an error.
  static void CreateDatabaseFile(const std::string& path);

  // The open connection, or null. For the objects of this back-end.
  sqlite3* Handle() const { return db_; }
  // The file of the open database.
  const std::string& FileName() const { return file_name_; }

  // Compiles one statement; an error carries SQLite's message. `persistent` hints that the
  // statement is kept for many executions. The statement is finalized when the database closes.
  std::shared_ptr<TSQLiteStatement> CompileStatement(const std::string& sql, bool persistent);
  // Runs statements that need no parameters and give no rows (internal work).
  void ExecDirect(const char* sql);
  // The text of SQLite's last error on this connection, for code `rc`.
  std::string ErrorText(int rc) const;

  // Whether a transaction of SQLite is running (the layer's own or the back-end's).
  bool SQLiteInTransaction() const;
  // Runs `body` inside a transaction of the back-end's own (BEGIN IMMEDIATE ... COMMIT, or a
  // savepoint when a transaction is already running); a failure rolls it back and is passed on.
  template <class F>
  void RunInTransaction(F&& body);

  // Whether a table or view (with `relations_only`), or any object of the schema (tables, views,
  // indexes and triggers share one name space), has that name; case ignored.
  bool ObjectExists(const std::string& name, bool relations_only);

 protected:
  IntfPtr<TArDbTableDef> CreateTableDef() override;
  IntfPtr<TArDbSQLCommand> CreateSQLCommand() override;
  void DoOpen() override;
  void DoClose() override;
  bool GetActive() override;
  bool GetInTransaction() override;
  void DoStartTransaction() override;
  void DoCommit() override;
  void DoRollback() override;
  IntfPtr<IArDbCursor> DoOpenTable(const std::string& table_name, const std::string* fields,
                                   int32_t field_count, const std::string* key_fields,
                                   int32_t key_field_count, const Value* key_values,
                                   int32_t key_row_count, bool copy_key_values) override;
  IntfPtr<IArDbCursor> DoGetInfo(int32_t kind) override;
  bool DoTableExists(const std::string& table_name) override;
  void DoDropTable(const std::string& table_name) override;

 private:
  // Starts the back-end's own transaction (a savepoint inside the layer's); true for a
  // savepoint.
  bool BeginOwn();
  void EndOwn(bool savepoint, bool commit);
  void Disconnect();

  sqlite3* db_ = nullptr;
  std::string file_name_;
  bool in_transaction_ = false;  // the layer's transaction (StartTransaction)
  // Every statement compiled on this connection, so that closing can finalize those still held.
  std::vector<std::weak_ptr<TSQLiteStatement>> statements_;
  size_t purge_at_ = 64;
};

class TSQLiteTableDef : public TArDbTableDef {
 public:
  explicit TSQLiteTableDef(TSQLiteArDb* database);

 protected:
  void DoCreateTable(const std::string& table_name, const TTableDef& def,
                     bool with_indexes) override;
  void DoLoad(const std::string& table_name, TTableDef& def) override;
  void DoAlterTable(const TTableDef& old_def, const TTableDef& new_def) override;

 private:
  TSQLiteArDb& Db() const;
  void Exec(const std::string& sql);
  // Names for `count` indexes of the table made now: table name + "_IND" + a number of at least
  // two hexadecimal digits, the first that no object of the database has (the table name is
  // cut when the whole would exceed the longest name).
  std::vector<std::string> NameIndexes(const std::string& table_name, size_t count);
  void CreateIndexes(const std::string& table_name, const TTableDef& def,
                     const std::vector<int32_t>& positions);
  void RenameTable(const std::string& from, const std::string& to);
  void Rebuild(const TTableDef& old_def, const TTableDef& new_def);
};

class TSQLiteCommand : public TArDbSQLCommand {
 public:
  explicit TSQLiteCommand(TSQLiteArDb* database);

 protected:
  void Prepare() override;
  IntfPtr<IArDbCursor> DoExecute(const Value* params, int32_t count,
                                 int32_t& rows_affected) override;

 private:
  TSQLiteArDb* db_;
  std::string text_;  // the statement as SQLite gets it
  std::shared_ptr<TSQLiteStatement> statement_;
};

class TSQLiteCursor : public TArDbCursor {
 public:
  // A cursor on the current row of `statement` (just stepped); `at_end` when the statement gave
  // no row.
  TSQLiteCursor(TSQLiteArDb* database, std::shared_ptr<TSQLiteStatement> statement, bool at_end);
  ~TSQLiteCursor() override;

 protected:
  bool GetIsNull(int32_t index) override;
  bool GetAsBoolean(int32_t index) override;
  int32_t GetAsInteger(int32_t index) override;
  double GetAsFloat(int32_t index) override;
  Currency GetAsCurrency(int32_t index) override;
  DateTime GetAsDateTime(int32_t index) override;
  std::string GetAsString(int32_t index) override;
  Value GetAsBlob(int32_t index) override;
  Value GetValue(int32_t index) override;
  int32_t GetFieldCount() override;
  // Names compared ignoring case, as SQLite does.
  int32_t GetFieldIndex(const std::string& name) override;
  std::string GetFieldName(int32_t index) override;
  TArDbDataType GetFieldType(int32_t index) override;
  // Text: its length in characters; blob: its bytes; numbers 8; Null 0.
  int32_t GetFieldSize(int32_t index) override;
  bool GetEof() override;
  void DoNext() override;
  void DoClose() override;

 private:
  sqlite3_stmt* Stmt() const { return statement_->Stmt; }
  // Gives the statement back to its command (reset, no longer busy).
  void ReleaseStatement();

  TSQLiteArDb* db_;
  std::shared_ptr<TSQLiteStatement> statement_;
  std::shared_ptr<const TSQLiteColumns> columns_;
  bool eof_ = false;
};

// -----------------------------------------------------------------------------------------------

template <class F>
void TSQLiteArDb::RunInTransaction(F&& body) {
  const bool savepoint = BeginOwn();
  try {
    body();
  } catch (...) {
    EndOwn(savepoint, false);
    throw;
  }
  EndOwn(savepoint, true);
}

}  // namespace atlor
