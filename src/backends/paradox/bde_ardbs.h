#pragma once

// The database back-end over the data-access components of bde/bde_components.h: the common
// part of every database reached through a session and a database component. TPdoxArDb
// (pdox_ardbs.h) is the Paradox back-end built on it.
//
//   TBDEArDb            the database: its own session "AtlorSession<N>" and database component
//                       "AtlorDb<N>" (N from a process-wide counter), the table and query
//                       factories, the table list and the reserved words for the info cursors
//   TRefDataSet         a counted holder of one dataset, shared by a command and its cursors
//   TBDETableDef        table definitions: create, load, restructure (rename or rebuild)
//   TBDESQLCommand      a local-SQL command: "[name]" quoted for the SQL dialect, "?" turned
//                       into ":PARAM0", ":PARAM1" ...
//   TBDESQLCursor       the rows of a query
//   TBDETableCursor     the rows of a table found by key values (a locate per key row)
//
// A command never re-runs a query that a cursor of an earlier execution still reads: while the
// holder is shared, the command takes a fresh query with the same text and parameters.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ardb/ardb_defs.h"
#include "ardb/ardb_utils.h"
#include "ardb/ardbs.h"
#include "backends/paradox/bde/bde_components.h"
#include "core/ref_object.h"

namespace atlor {

// Data type of a dataset field type (0 for the types the data model has no type for).
TArDbDataType BDEFieldTypeToDataType(bde::TFieldType type);
// Dataset field type of a data type, by its base type (ftUnknown for an unknown code).
bde::TFieldType DataTypeToBDEFieldType(TArDbDataType type);

// The words of the local SQL that cannot serve as plain names (215, in their fixed order).
const std::vector<std::string>& BDEReservedWords();

// The SQL text given to a query: "[" and "]" outside quoted strings become the quote
// characters, then every "?" outside quoted strings becomes ":PARAM" + its number from 0.
std::string BDEQueryText(const std::string& sql, char open_quote, char close_quote);

// ---------------------------------------------------------------------------------------------

// One dataset, shared by counted references (the last one frees it).
class TRefDataSet : public TRefObject {
 public:
  // No dataset is an assertion failure "Assertion failure".
  explicit TRefDataSet(std::unique_ptr<bde::TDataSet> dataset);
  ~TRefDataSet() override;

  bde::TDataSet& DataSet() const { return *dataset_; }
  // The dataset as a query or a table (asserted).
  bde::TQuery& Query() const;
  bde::TTable& Table() const;

 private:
  std::unique_ptr<bde::TDataSet> dataset_;
};

// ---------------------------------------------------------------------------------------------

class TBDEArDb : public TArDb {
 public:
  // Takes the next number N of the process-wide counter and names its session "AtlorSession" + N
  // and its database component "AtlorDb" + N (login prompt off, no alias).
  TBDEArDb();
  // Closes the database component and the session (pending changes are written as far as
  // possible; call Close to learn of a failure).
  ~TBDEArDb() override;

  bde::TSession& BdeSession() { return *session_; }
  bde::TDatabase& BdeDatabase() { return *database_; }

  // A table dataset for the name, attached to this database (the caller owns it).
  virtual std::unique_ptr<bde::TTable> NewTable(const std::string& table_name);
  // A query dataset attached to this database: live result, one direction, no BLOB caching,
  // parameter checking on.
  virtual std::unique_ptr<bde::TQuery> NewQuery();

  // The Relations info cursor: one row per table (NAME without extension, SYSTEM false,
  // OBJTYPE 0) in the order the database lists them.
  IntfPtr<IArDbCursor> TableListCursor();
  // The ReservedWords info cursor.
  IntfPtr<IArDbCursor> ReservedWordsCursor();

 protected:
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
  bool DoTableExists(const std::string& table_name) override;
  void DoDropTable(const std::string& table_name) override;

 private:
  std::unique_ptr<bde::TSession> session_;
  std::unique_ptr<bde::TDatabase> database_;
};

// ---------------------------------------------------------------------------------------------

class TBDETableDef : public TArDbTableDef {
 public:
  TBDETableDef(TBDEArDb* database, bool case_sensitive_names);

  bool CaseSensitiveNames() const { return case_sensitive_names_; }

 protected:
  // Fields in order (String, Memo and Binary with their size, the others 0), then with
  // `with_indexes` the indexes: fields joined by ";", primary/unique options, the name of the
  // only field or else the first free of "Ind0", "Ind1", ...
  void DoCreateTable(const std::string& table_name, const TTableDef& def,
                     bool with_indexes) override;
  // Fields and indexes read without opening the table; an unnamed primary index is named
  // table + "_PK", another unnamed one table + "_I" + n (the first n free).
  void DoLoad(const std::string& table_name, TTableDef& def) override;
  // No change: nothing. Only the name changed: the table is renamed. Otherwise the table is
  // renamed to a free "_TMP" name, the new one is created and filled from it row by row and the
  // old one dropped; a failure drops the new table and gives the old one its name back.
  void DoAlterTable(const TTableDef& old_def, const TTableDef& new_def) override;

 private:
  TBDEArDb& Db() const;
  NameCase Case() const { return case_sensitive_names_ ? NameCase::kSensitive : NameCase::kIgnore; }
  void CopyRows(const std::string& from, const std::string& to, const TArDbFieldMap& map);

  bool case_sensitive_names_;
};

// ---------------------------------------------------------------------------------------------

class TBDESQLCommand : public TArDbSQLCommand {
 public:
  TBDESQLCommand(TBDEArDb* database, char open_quote, char close_quote);
  ~TBDESQLCommand() override;

  // The holder of the command's current query (for tests).
  TRefDataSet* Holder() const { return holder_; }
  bool IsSelect() const { return is_select_; }

 protected:
  void Prepare() override;
  IntfPtr<IArDbCursor> DoExecute(const Value* params, int32_t count,
                                 int32_t& rows_affected) override;

 private:
  // A holder of its own: while a cursor shares the current one, a new query (with the old
  // one's text and parameters when `copy`).
  void OwnHolder(bool copy);
  TBDEArDb& Db() const;

  TRefDataSet* holder_ = nullptr;
  bool is_select_ = false;
  char open_quote_;
  char close_quote_;
};

// ---------------------------------------------------------------------------------------------

class TBDESQLCursor : public TArDbCursor {
 public:
  // Takes a reference to the holder, whose dataset is open.
  TBDESQLCursor(TBDEArDb* database, TRefDataSet* holder);
  // Closes the dataset and releases the holder.
  ~TBDESQLCursor() override;

  // The dataset field of a column (zero-based).
  virtual bde::TField& GetField(int32_t index);

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
  int32_t GetFieldIndex(const std::string& name) override;
  std::string GetFieldName(int32_t index) override;
  TArDbDataType GetFieldType(int32_t index) override;
  // BLOB: the size of its content; text: its length in characters; others: the declared size.
  int32_t GetFieldSize(int32_t index) override;
  bool GetEof() override;
  void DoNext() override;
  void DoClose() override;

  TRefDataSet* Holder() const { return holder_; }

 private:
  TRefDataSet* holder_ = nullptr;
};

// The rows of a table whose key fields hold one of the key rows, key row by key row: for each,
// the row a locate finds and the rows after it (in the table's order) with the same key values.
class TBDETableCursor : public TBDESQLCursor {
 public:
  // Opens the table and positions on the first row (see DoOpenTable of TBDEArDb).
  TBDETableCursor(TBDEArDb* database, std::unique_ptr<bde::TTable> table, const std::string* fields,
                  int32_t field_count, const std::string* key_fields, int32_t key_field_count,
                  const Value* key_values, int32_t key_row_count, bool copy_key_values);

  bde::TField& GetField(int32_t index) override;

 protected:
  int32_t GetFieldCount() override;
  int32_t GetFieldIndex(const std::string& name) override;
  bool GetEof() override;
  void DoNext() override;

 private:
  bde::TTable& Table() const;
  bool LocateKeyRow(int32_t row);
  const Value& KeyValue(int32_t row, int32_t field) const {
    return key_values_[static_cast<size_t>(row) * static_cast<size_t>(key_field_count_) +
                       static_cast<size_t>(field)];
  }

  std::vector<bde::TField*> selected_fields_;
  std::vector<std::string> key_fields_;
  int32_t key_field_count_ = 0;
  const Value* key_values_ = nullptr;
  std::vector<Value> own_values_;
  std::string locate_fields_;
  int32_t current_ = -1;
  int32_t key_row_count_ = 0;
};

}  // namespace atlor
