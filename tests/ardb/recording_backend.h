#pragma once

// A back-end for tests: derived from the base classes of ardb_utils.h, it records every virtual
// operation the base classes call (in `Calls()`), keeps its tables in memory, understands the
// statements the helpers of ardbs.h build (INSERT, UPDATE and SELECT with "[T].[F]=?" keys), and
// can be told to fail at chosen points. Suites above the database layer can run on it the way
// they would run on a real back-end.
//
//   IntfPtr<TRecordingArDb> db(new TRecordingArDb);
//   db->Open(TRecordingArDb::kDescription);
//   db->FailOn("Prepare", "syntax error");     // the next Prepare raises Exception("syntax error")
//   db->Calls()                                 // {"DoOpen", "Prepare SELECT * FROM [T] ", ...}

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ardb/ardb_defs.h"
#include "ardb/ardb_std_impl.h"
#include "ardb/ardb_utils.h"
#include "ardb/ardbs.h"
#include "core/encoding.h"
#include "core/exception.h"

namespace atlor::test {

class TRecordingArDb;

// A table of the in-memory store.
struct TRecordedTable {
  std::vector<TArDbFieldDef> Fields;
  std::vector<TArDbIndexDef> Indexes;    // Names as the back-end gave them
  std::vector<std::vector<Value>> Rows;  // one value per field

  int32_t FieldPos(const std::string& name) const {
    for (size_t i = 0; i < Fields.size(); ++i)
      if (SameTextAscii(Fields[i].Name, name)) return static_cast<int32_t>(i);
    return -1;
  }
};

// A cursor that records its DoClose.
class TRecordingCursor : public TInMemoryCursor {
 public:
  TRecordingCursor(TArDb* database, std::vector<std::string>* calls, int32_t capacity,
                   std::span<const TArDbFieldDef> columns)
      : TInMemoryCursor(database, capacity, columns), calls_(calls) {}

 protected:
  void DoClose() override {
    calls_->push_back("Cursor.DoClose");
    TInMemoryCursor::DoClose();
  }

 private:
  std::vector<std::string>* calls_;
};

// A cursor over rows taken from the table store: values are handed out as stored (binary ones
// included), names are found ignoring case. Records its DoClose.
class TRecordedRowsCursor : public TArDbCursor {
 public:
  TRecordedRowsCursor(TArDb* database, std::vector<std::string>* calls,
                      std::vector<TArDbFieldDef> columns, std::vector<std::vector<Value>> rows)
      : TArDbCursor(database),
        calls_(calls),
        columns_(std::move(columns)),
        rows_(std::move(rows)) {}

 protected:
  const Value& At(int32_t i) const { return rows_[current_][static_cast<size_t>(i)]; }
  bool GetIsNull(int32_t i) override { return At(i).IsNull(); }
  bool GetAsBoolean(int32_t i) override { return At(i).ToBoolean(); }
  int32_t GetAsInteger(int32_t i) override { return At(i).ToInteger(); }
  double GetAsFloat(int32_t i) override { return At(i).ToFloat(); }
  Currency GetAsCurrency(int32_t i) override { return At(i).ToCurrency(); }
  DateTime GetAsDateTime(int32_t i) override { return At(i).ToDateTime(); }
  std::string GetAsString(int32_t i) override { return At(i).ToString(); }
  Value GetAsBlob(int32_t i) override { return At(i); }
  Value GetValue(int32_t i) override { return At(i); }
  int32_t GetFieldCount() override { return static_cast<int32_t>(columns_.size()); }
  int32_t GetFieldIndex(const std::string& name) override {
    for (size_t i = 0; i < columns_.size(); ++i)
      if (SameTextAscii(columns_[i].Name, name)) return static_cast<int32_t>(i);
    return -1;
  }
  std::string GetFieldName(int32_t i) override { return columns_.at(static_cast<size_t>(i)).Name; }
  TArDbDataType GetFieldType(int32_t i) override {
    return columns_[static_cast<size_t>(i)].DataType;
  }
  int32_t GetFieldSize(int32_t i) override {
    const Value& v = At(i);
    if (v.Kind() == ValueKind::kBytes) return static_cast<int32_t>(v.BytesRef().size());
    if (v.Kind() == ValueKind::kString) return static_cast<int32_t>(Utf8Length(v.StringRef()));
    return -1;
  }
  bool GetEof() override { return current_ >= rows_.size(); }
  void DoNext() override { ++current_; }
  void DoClose() override {
    calls_->push_back("Cursor.DoClose");
    rows_.clear();
    current_ = 0;
  }

 private:
  std::vector<std::string>* calls_;
  std::vector<TArDbFieldDef> columns_;
  std::vector<std::vector<Value>> rows_;
  size_t current_ = 0;
};

class TRecordingArDb : public TArDb {
 public:
  static constexpr const char* kDescription =
      "<database name=\"TEST.Recording\" caption=\"Test back-end\">"
      "<param name=\"folder\">/data/atlor</param></database>";

  // Log of the virtual operations called, e.g. "DoOpen", "DoTableExists T".
  std::vector<std::string>& Calls() { return calls_; }
  void ClearCalls() { calls_.clear(); }
  bool Called(const std::string& call) const {
    return std::find(calls_.begin(), calls_.end(), call) != calls_.end();
  }

  // The next call of `operation` ("DoOpen", "Prepare", "DoExecute", "DoCommit", "DoLoad",
  // "DoCreateTable", "DoAlterTable") raises Exception(message); once.
  void FailOn(const std::string& operation, const std::string& message) {
    failures_[operation] = message;
  }

  // The table store.
  std::map<std::string, TRecordedTable>& Tables() { return tables_; }
  void AddTable(const std::string& name, std::vector<TArDbFieldDef> fields,
                std::vector<TArDbIndexDef> indexes = {}) {
    tables_[name] = TRecordedTable{std::move(fields), std::move(indexes), {}};
  }

  // The LiteralInfo result set: MAXNAMELEN of the table-name row, or no such row.
  int32_t TableNameLimit = 24;
  bool HasTableNameRow = true;

  // What the last DoExecute received.
  struct Execution {
    std::string SQL;
    TArDbDataTypeArray ParamTypes;
    std::vector<Value> Params;
  };
  std::vector<Execution>& Executions() { return executions_; }

  // The modifications handed to DoAlterTable, last call.
  TTableModificationInfo LastAlteration;

  bool Connected() const { return connected_; }
  // The server ends the transaction on its own.
  void LoseTransaction() { in_transaction_ = false; }

  // For the objects of this back-end.
  void Record(std::string call) { calls_.push_back(std::move(call)); }
  void MaybeFail(const std::string& operation) {
    const auto it = failures_.find(operation);
    if (it == failures_.end()) return;
    const std::string message = it->second;
    failures_.erase(it);
    throw Exception(message);
  }
  IntfPtr<TRecordingCursor> NewCursor(std::span<const TArDbFieldDef> columns,
                                      int32_t capacity = 1) {
    return IntfPtr<TRecordingCursor>(new TRecordingCursor(this, &calls_, capacity, columns));
  }
  IntfPtr<IArDbCursor> RunStatement(const std::string& sql, const TArDbDataTypeArray& types,
                                    const Value* params, int32_t count, int32_t& rows_affected);
  // The rows of `t` whose `keys` equal one of the key rows (all rows without key rows), with the
  // named columns (all when none).
  IntfPtr<IArDbCursor> SelectRows(const TRecordedTable& t, const std::vector<std::string>& columns,
                                  const std::vector<std::string>& keys, const Value* key_values,
                                  int32_t key_rows);

 protected:
  IntfPtr<TArDbTableDef> CreateTableDef() override;
  IntfPtr<TArDbSQLCommand> CreateSQLCommand() override;

  void DoOpen() override {
    Record("DoOpen");
    MaybeFail("DoOpen");
    connected_ = true;
  }
  void DoClose() override {
    Record("DoClose");
    connected_ = false;
    in_transaction_ = false;
  }
  bool GetActive() override { return connected_; }
  bool GetInTransaction() override { return in_transaction_; }
  void DoStartTransaction() override {
    Record("DoStartTransaction");
    in_transaction_ = true;
  }
  void DoCommit() override {
    Record("DoCommit");
    MaybeFail("DoCommit");
    in_transaction_ = false;
  }
  void DoRollback() override {
    Record("DoRollback");
    in_transaction_ = false;
  }
  IntfPtr<IArDbCursor> DoOpenTable(const std::string& table_name, const std::string* fields,
                                   int32_t field_count, const std::string* key_fields,
                                   int32_t key_field_count, const Value* key_values,
                                   int32_t key_row_count, bool copy_key_values) override;
  IntfPtr<IArDbCursor> DoGetInfo(int32_t kind) override {
    Record("DoGetInfo " + std::to_string(kind));
    if (kind == ikLiteralInfo) {
      IntfPtr<TRecordingCursor> c = NewCursor(ArDbLiteralInfoFields, 3);
      const Value null = Value::Null();
      c->AddRow({ltFieldName, 128, false, null, null, null, null});
      if (HasTableNameRow) c->AddRow({ltTableName, TableNameLimit, false, null, null, null, null});
      c->AddRow({ltIndexName, 128, false, null, null, null, null});
      return IntfPtr<IArDbCursor>(c);
    }
    if (kind == ikRelations) {
      IntfPtr<TRecordingCursor> c = NewCursor(ArDbRelationsFields, 10);
      for (const auto& [name, table] : tables_) c->AddRow({name, false, otTable});
      return IntfPtr<IArDbCursor>(c);
    }
    return nullptr;
  }
  bool DoTableExists(const std::string& table_name) override {
    Record("DoTableExists " + table_name);
    return FindTable(table_name) != nullptr;
  }
  void DoDropTable(const std::string& table_name) override {
    Record("DoDropTable " + table_name);
    for (auto it = tables_.begin(); it != tables_.end(); ++it) {
      if (SameTextAscii(it->first, table_name)) {
        tables_.erase(it);
        return;
      }
    }
    throw Exception("Table " + table_name + " does not exist");
  }

 public:
  TRecordedTable* FindTable(const std::string& name) {
    for (auto& [table_name, table] : tables_)
      if (SameTextAscii(table_name, name)) return &table;
    return nullptr;
  }

 private:
  std::vector<std::string> calls_;
  std::map<std::string, std::string> failures_;
  std::map<std::string, TRecordedTable> tables_;
  std::vector<Execution> executions_;
  bool connected_ = false;
  bool in_transaction_ = false;
};

class TRecordingTableDef : public TArDbTableDef {
 public:
  explicit TRecordingTableDef(TRecordingArDb* db) : TArDbTableDef(db), db_(db) {}

 protected:
  void DoCreateTable(const std::string& table_name, const TTableDef& def,
                     bool with_indexes) override {
    db_->Record("DoCreateTable " + table_name + (with_indexes ? " with indexes" : ""));
    db_->MaybeFail("DoCreateTable");
    if (db_->FindTable(table_name)) throw Exception("Table " + table_name + " already exists");
    TRecordedTable table;
    for (int32_t i = 0; i < def.Fields.Count(); ++i)
      table.Fields.push_back(FieldDefToRecord(def.Fields[i]));
    if (with_indexes) {
      for (int32_t i = 0; i < def.Indexes.Count(); ++i) {
        TArDbIndexDef index = IndexDefToRecord(def.Indexes[i]);
        index.Name = table_name + "_IDX" + std::to_string(i);
        table.Indexes.push_back(index);
      }
    }
    db_->Tables()[table_name] = std::move(table);
  }
  void DoLoad(const std::string& table_name, TTableDef& def) override {
    db_->Record("DoLoad " + table_name);
    db_->MaybeFail("DoLoad");
    const TRecordedTable* table = db_->FindTable(table_name);
    if (table == nullptr) throw Exception("Table " + table_name + " does not exist");
    for (const TArDbFieldDef& rec : table->Fields) {
      auto field = std::make_unique<TFieldDef>();
      RecordToFieldDef(*field, rec);
      def.Fields.Add(std::move(field));
    }
    for (const TArDbIndexDef& rec : table->Indexes) {
      auto index = std::make_unique<TIndexDef>();
      index->Name = rec.Name;
      RecordToIndexDef(*index, rec);
      def.Indexes.Add(std::move(index));
    }
  }
  void DoAlterTable(const TTableDef& old_def, const TTableDef& new_def) override {
    db_->Record("DoAlterTable " + old_def.Name + " -> " + new_def.Name);
    db_->MaybeFail("DoAlterTable");
    db_->LastAlteration = CompareTableDefs(new_def, old_def, NameCase::kSensitive);
    TRecordedTable* old_table = db_->FindTable(old_def.Name);
    if (old_table == nullptr) throw Exception("Table " + old_def.Name + " does not exist");
    // Rebuild: fields of the new form, data copied through the field map.
    TRecordedTable table;
    for (int32_t i = 0; i < new_def.Fields.Count(); ++i)
      table.Fields.push_back(FieldDefToRecord(new_def.Fields[i]));
    for (int32_t i = 0; i < new_def.Indexes.Count(); ++i) {
      TArDbIndexDef index = IndexDefToRecord(new_def.Indexes[i]);
      if (index.Name.empty()) index.Name = new_def.Name + "_IDX" + std::to_string(i);
      table.Indexes.push_back(index);
    }
    const TArDbFieldMap map = BuildFieldMap(old_def, new_def);
    for (const std::vector<Value>& old_row : old_table->Rows) {
      std::vector<Value> row(table.Fields.size(), Value::Null());
      for (const TArDbFieldMapItem& item : map)
        row[static_cast<size_t>(table.FieldPos(item.NewField.Name))] =
            old_row[static_cast<size_t>(old_table->FieldPos(item.OldField.Name))];
      table.Rows.push_back(std::move(row));
    }
    for (auto it = db_->Tables().begin(); it != db_->Tables().end(); ++it) {
      if (SameTextAscii(it->first, old_def.Name)) {
        db_->Tables().erase(it);
        break;
      }
    }
    db_->Tables()[new_def.Name] = std::move(table);
  }

 private:
  TRecordingArDb* db_;
};

class TRecordingCommand : public TArDbSQLCommand {
 public:
  explicit TRecordingCommand(TRecordingArDb* db) : TArDbSQLCommand(db), db_(db) {}

 protected:
  void Prepare() override {
    db_->Record("Prepare " + SQL());
    db_->MaybeFail("Prepare");
  }
  IntfPtr<IArDbCursor> DoExecute(const Value* params, int32_t count,
                                 int32_t& rows_affected) override {
    db_->Record("DoExecute " + SQL());
    db_->Executions().push_back({SQL(), ParamTypes(), std::vector<Value>(params, params + count)});
    db_->MaybeFail("DoExecute");
    return db_->RunStatement(SQL(), ParamTypes(), params, count, rows_affected);
  }

 private:
  TRecordingArDb* db_;
};

inline IntfPtr<TArDbTableDef> TRecordingArDb::CreateTableDef() {
  return IntfPtr<TArDbTableDef>(new TRecordingTableDef(this));
}

inline IntfPtr<TArDbSQLCommand> TRecordingArDb::CreateSQLCommand() {
  return IntfPtr<TArDbSQLCommand>(new TRecordingCommand(this));
}

namespace detail {

// Reads "[name]" at pos; advances past it.
inline std::string ReadBracketed(const std::string& text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '[')
    throw Exception("Syntax error near " + text.substr(pos));
  const size_t end = text.find(']', pos);
  if (end == std::string::npos) throw Exception("Syntax error near " + text.substr(pos));
  std::string name = text.substr(pos + 1, end - pos - 1);
  pos = end + 1;
  return name;
}

// Reads "[T].[F]" items until `stop`; returns the field names.
inline std::vector<std::string> ReadColumns(const std::string& text, size_t& pos,
                                            const std::string& stop) {
  std::vector<std::string> names;
  while (pos < text.size() && text.compare(pos, stop.size(), stop) != 0) {
    if (text[pos] == ',' || text[pos] == ' ' || text[pos] == '(' || text[pos] == ')' ||
        text[pos] == '=' || text[pos] == '?') {
      ++pos;
      continue;
    }
    if (text.compare(pos, 4, "AND ") == 0) {
      pos += 4;
      continue;
    }
    ReadBracketed(text, pos);  // table
    if (pos < text.size() && text[pos] == '.') ++pos;
    names.push_back(ReadBracketed(text, pos));
  }
  return names;
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace detail

// The statements of the builders: "INSERT INTO [T] (...) VALUES(...)",
// "UPDATE [T] SET [T].[F]=?,... WHERE ([T].[K]=?) AND ...", "SELECT * | [T].[F],... FROM [T]
// WHERE ...". Keys compare with Value equality; values are stored as given.
inline IntfPtr<IArDbCursor> TRecordingArDb::RunStatement(const std::string& sql,
                                                         const TArDbDataTypeArray& types,
                                                         const Value* params, int32_t count,
                                                         int32_t& rows_affected) {
  (void)types;
  using detail::ReadBracketed;
  using detail::ReadColumns;
  using detail::StartsWith;
  auto table_of = [this](const std::string& name) -> TRecordedTable& {
    TRecordedTable* t = FindTable(name);
    if (t == nullptr) throw Exception("Table " + name + " does not exist");
    return *t;
  };
  auto position = [](const TRecordedTable& t, const std::string& name) {
    const int32_t p = t.FieldPos(name);
    if (p < 0) throw Exception("Field " + name + " does not exist");
    return static_cast<size_t>(p);
  };
  auto matches = [&](const TRecordedTable& t, const std::vector<Value>& row,
                     const std::vector<std::string>& keys, int32_t first) {
    for (size_t k = 0; k < keys.size(); ++k)
      if (!(row[position(t, keys[k])] == params[first + static_cast<int32_t>(k)])) return false;
    return true;
  };
  size_t pos = 0;
  if (StartsWith(sql, "INSERT INTO ")) {
    pos = 12;
    TRecordedTable& t = table_of(ReadBracketed(sql, pos));
    pos = sql.find('(', pos) + 1;
    const std::vector<std::string> columns = ReadColumns(sql, pos, ") VALUES");
    if (static_cast<int32_t>(columns.size()) != count) throw Exception("Wrong value count");
    std::vector<Value> row(t.Fields.size(), Value::Null());
    for (size_t i = 0; i < columns.size(); ++i) row[position(t, columns[i])] = params[i];
    t.Rows.push_back(std::move(row));
    rows_affected = 1;
    return nullptr;
  }
  if (StartsWith(sql, "UPDATE ")) {
    pos = 7;
    TRecordedTable& t = table_of(ReadBracketed(sql, pos));
    pos = sql.find("SET ", pos) + 4;
    const std::vector<std::string> set = ReadColumns(sql, pos, "WHERE ");
    std::vector<std::string> keys;
    if (pos < sql.size()) {
      pos += 6;
      keys = ReadColumns(sql, pos, "\x01");
    }
    rows_affected = 0;
    for (std::vector<Value>& row : t.Rows) {
      if (!matches(t, row, keys, static_cast<int32_t>(set.size()))) continue;
      for (size_t i = 0; i < set.size(); ++i) row[position(t, set[i])] = params[i];
      ++rows_affected;
    }
    return nullptr;
  }
  if (StartsWith(sql, "SELECT ")) {
    pos = 7;
    std::vector<std::string> columns;
    if (sql.compare(pos, 2, "* ") == 0)
      pos += 2;
    else
      columns = ReadColumns(sql, pos, "FROM ");
    pos = sql.find("FROM ", pos) + 5;
    const TRecordedTable& t = table_of(ReadBracketed(sql, pos));
    std::vector<std::string> keys;
    if (const size_t where = sql.find("WHERE ", pos); where != std::string::npos) {
      pos = where + 6;
      keys = ReadColumns(sql, pos, "\x01");
    }
    rows_affected = -1;
    return SelectRows(t, columns, keys, params, keys.empty() ? 0 : 1);
  }
  rows_affected = -1;
  return nullptr;
}

inline IntfPtr<IArDbCursor> TRecordingArDb::SelectRows(const TRecordedTable& t,
                                                       const std::vector<std::string>& columns,
                                                       const std::vector<std::string>& keys,
                                                       const Value* key_values, int32_t key_rows) {
  auto position = [&t](const std::string& name) {
    const int32_t p = t.FieldPos(name);
    if (p < 0) throw Exception("Field " + name + " does not exist");
    return static_cast<size_t>(p);
  };
  std::vector<size_t> key_pos;
  for (const std::string& k : keys) key_pos.push_back(position(k));
  std::vector<TArDbFieldDef> layout;
  std::vector<size_t> picks;
  if (columns.empty() || (columns.size() == 1 && columns[0] == "*")) {
    layout = t.Fields;
    for (size_t i = 0; i < t.Fields.size(); ++i) picks.push_back(i);
  } else {
    for (const std::string& c : columns) {
      picks.push_back(position(c));
      layout.push_back(t.Fields[picks.back()]);
    }
  }
  std::vector<std::vector<Value>> rows;
  for (const std::vector<Value>& row : t.Rows) {
    bool match = key_rows == 0;
    for (int32_t r = 0; r < key_rows && !match; ++r) {
      match = true;
      for (size_t k = 0; k < key_pos.size(); ++k)
        if (!(row[key_pos[k]] == key_values[static_cast<size_t>(r) * key_pos.size() + k]))
          match = false;
    }
    if (!match) continue;
    std::vector<Value> out;
    for (size_t p : picks) out.push_back(row[p]);
    rows.push_back(std::move(out));
  }
  return IntfPtr<IArDbCursor>(
      new TRecordedRowsCursor(this, &calls_, std::move(layout), std::move(rows)));
}

inline IntfPtr<IArDbCursor> TRecordingArDb::DoOpenTable(
    const std::string& table_name, const std::string* fields, int32_t field_count,
    const std::string* key_fields, int32_t key_field_count, const Value* key_values,
    int32_t key_row_count, bool copy_key_values) {
  (void)copy_key_values;  // the rows are taken at once
  Record("DoOpenTable " + table_name);
  const TRecordedTable* t = FindTable(table_name);
  if (t == nullptr) throw Exception("Table " + table_name + " does not exist");
  return SelectRows(*t, std::vector<std::string>(fields, fields + field_count),
                    std::vector<std::string>(key_fields, key_fields + key_field_count), key_values,
                    key_row_count);
}

}  // namespace atlor::test
