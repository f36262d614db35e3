#pragma once

// SQL over the tables of a Database (px_database.h), through SQLite.
//
// Every table of the folder is a virtual table of an in-memory SQLite connection, under the
// table's name (names compare without regard to case, as SQLite does). Statements are SQLite's
// SQL: joins, aggregates, ordering, double-quoted names and named parameters (":PARAM0" ...).
//
//   SqlConnection sql(*db);
//   SqlStatement get = sql.Prepare("SELECT \"OBJECTS\" FROM \"ATLOR_SECTORS\" WHERE \"ID\"=:PARAM0");
//   get.Bind(0, Value("00010000002A"));
//   if (get.Step()) Bytes objects = get.ColumnValue(0).ToBytes();
//
// Columns. The types of the fields map to SQLite values and back:
//   Alpha, Memo, Formatted memo -> TEXT            Short, Long integer, Autoincrement -> INTEGER
//   Number, Money, BCD -> REAL                     Logical -> INTEGER 0 or 1
//   Date, Time, Timestamp -> REAL (days since 1899-12-30, the fraction being the time of day)
//   Binary, OLE, Graphic, Bytes -> BLOB            blank field -> NULL
// A column is declared with the field's type name and its affinity ("TEXT", "MEMO TEXT",
// "SHORT INTEGER", "INTEGER", "AUTOINC INTEGER", "REAL", "MONEY REAL", "BCD REAL",
// "LOGICAL INTEGER", "DATE REAL", "TIME REAL", "TIMESTAMP REAL", "BLOB", "OLE BLOB",
// "GRAPHIC BLOB", "BYTES BLOB", "FMTMEMO TEXT"), and ColumnValue gives the atlor::Value kind the
// engine gives for the field (Money a Currency, Logical a Boolean, dates a DateTime ...).
// BLOBs are read only when a statement asks for their column.
//
// Lookups. Equality on the primary key (or a prefix of it) or on the first fields of a
// secondary index is answered from the engine's index (FindKey / FindEqual); other conditions
// walk the table in key order. SqlStats counts both, for tests and tuning.
//
// Changes. INSERT, UPDATE and DELETE go into the engine's tables. Each statement runs inside an
// engine savepoint, so a statement that fails changes nothing. Outside a transaction the changes
// stay in memory until Database::Flush (or Commit) writes them. BEGIN starts the engine's
// transaction (when the first statement of it changes a table), COMMIT commits it (writing the
// changed tables), ROLLBACK rolls it back; SAVEPOINT, RELEASE and ROLLBACK TO map to engine
// savepoints. A transaction started through Database::StartTransaction works as well: SQL
// statements then run inside it, and Database::Commit or Rollback ends it. Do not mix the two
// for one transaction.
//
// Tables. Tables created, deleted or renamed through the Database are seen by the next
// statement prepared or started. Statements that would create, change or drop tables, attach
// files or change settings (CREATE, DROP, ALTER, ATTACH, PRAGMA ...) are refused: tables are
// made through the Database.
//
// The Database must outlive the connection; statements must not outlive it (a statement of a
// closed connection raises EPxError). Use one connection per Database: transactions and
// savepoints are the Database's. Not thread-safe, like the Database.
//
// Speed: keep a prepared statement per command and bind it anew for each run; a run does no
// work on the schema (a table created, deleted or renamed costs one re-read of the folder's
// tables at the next statement).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "backends/paradox/engine/px_types.h"
#include "core/value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace atlor::pxengine {

class Database;
class SqlStatement;

// Work done by the virtual tables since the connection was opened or ResetStats.
struct SqlStats {
  uint64_t full_scans = 0;     // walks over a whole table
  uint64_t index_lookups = 0;  // equality lookups through the primary key or an index
  uint64_t rows_visited = 0;   // rows the walks and lookups produced
};

class SqlConnection {
 public:
  explicit SqlConnection(Database& db);
  ~SqlConnection();
  SqlConnection(const SqlConnection&) = delete;
  SqlConnection& operator=(const SqlConnection&) = delete;

  Database& Db() const;

  // Prepares one statement (text after it raises EPxError). Raises EPxError for SQL errors.
  SqlStatement Prepare(std::string_view sql);
  // Runs statements without parameters, one after another (transactions and the like).
  void Execute(std::string_view sql);

  // Re-reads the folder's table list (for tables another program made). Done without asking
  // when the Database creates, deletes or renames a table and when a statement names a table
  // the connection does not know.
  void Refresh();

  // An SQL transaction (BEGIN ... COMMIT) is open.
  bool InTransaction() const;

  const SqlStats& Stats() const;
  void ResetStats();

  // The SQLite connection, for what this interface does not cover.
  sqlite3* Handle() const;

  struct Impl;

 private:
  friend class SqlStatement;
  std::unique_ptr<Impl> impl_;
};

// A prepared statement, to be run any number of times. Parameters keep their values between
// runs until bound again; binding after a run (or part of one) starts the statement afresh.
class SqlStatement {
 public:
  SqlStatement() = default;
  ~SqlStatement();
  SqlStatement(SqlStatement&& other) noexcept;
  SqlStatement& operator=(SqlStatement&& other) noexcept;
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  bool Valid() const { return stmt_ != nullptr; }
  const std::string& Sql() const { return sql_; }
  // The statement only reads (SELECT and the like).
  bool ReadOnly() const;

  // Parameters, numbered from 0 in the order of their first appearance.
  int ParameterCount() const;
  std::string ParameterName(int index) const;         // as written, e.g. ":PARAM0"
  int ParameterIndex(std::string_view name) const;    // with or without ':'; -1 when none
  // Empty and Null bind NULL; Boolean 0 or 1; Currency and DateTime as REAL; String TEXT;
  // Bytes BLOB. An Array raises EPxError.
  void Bind(int index, const Value& value);
  void Bind(std::string_view name, const Value& value);
  void ClearBindings();

  // Runs the statement to its next row: true when a row is there, false at the end. The first
  // call after the end (or after Reset) starts the statement again.
  bool Step();
  // Back to the start (parameters stay bound).
  void Reset();
  // Runs the statement from the start to its end; returns Changes().
  int64_t Execute();
  // Rows inserted, updated or deleted by the last run of this statement (0 for queries).
  int64_t Changes() const { return changes_; }

  int ColumnCount() const;
  std::string ColumnName(int index) const;
  // The column's declared type ("" for an expression).
  std::string ColumnDeclType(int index) const;
  // The field type behind the column, when it is a column of a table.
  std::optional<FieldType> ColumnFieldType(int index) const;
  // Table and field the column comes from ("" for an expression).
  std::string ColumnTableName(int index) const;
  std::string ColumnOriginName(int index) const;
  bool ColumnIsNull(int index) const;
  // The value of a column of the current row, in the kind the field's type gives (Null for
  // NULL); columns of expressions by their SQLite type (INTEGER: Integer, or Int64 when it does
  // not fit; REAL: Float; TEXT: String; BLOB: Bytes).
  Value ColumnValue(int index) const;

  sqlite3_stmt* Handle() const { return stmt_; }

 private:
  friend class SqlConnection;
  friend struct SqlConnection::Impl;
  SqlStatement(SqlConnection::Impl* conn, sqlite3_stmt* stmt, std::string sql);
  void Check() const;
  void Finalize();
  void LoadColumnTypes() const;
  [[noreturn]] void Fail(int rc);

  SqlConnection::Impl* conn_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  std::string sql_;
  bool started_ = false;
  int64_t changes_ = 0;
  mutable uint64_t types_version_ = ~uint64_t{0};
  mutable std::string column_types_;  // per column: a FieldType code, or 0 for none
};

// The declared column type of a field type ("TEXT", "MONEY REAL" ...), and back (nullopt for
// a type that is not one of them).
const char* SqlColumnType(FieldType type);
std::optional<FieldType> FieldTypeOfSqlColumn(std::string_view decl_type);

}  // namespace atlor::pxengine
