#pragma once

// The recording back-end with what the storage facade needs besides the builders' statements:
// it also answers the join that reads a layer's map extent, and it records every command made
// with its text, parameter types and Prepared flag. Tables are created from the system schema.

#include <map>
#include <string>
#include <vector>

#include "ardb/recording_backend.h"
#include "storage/schema.h"

namespace atlor::test {

struct TMadeCommand {
  std::string SQL;
  TArDbDataTypeArray ParamTypes;
  bool Prepared;
};

class TFacadeTestDb : public TRecordingArDb {
 public:
  static constexpr const char* kLayerBoundsSql =
      " SELECT A.[BOUNDSL] As x1, A.[BOUNDSR] As x2, A.[BOUNDST] As y2, A.[BOUNDSB] As y1 FROM "
      "[ATLOR_MAPS] M, [ATLOR_AREAS] A WHERE (M.[ID] = ?) AND (M.[GPID] = A.[ID])";

  // Every command made, in order.
  std::vector<TMadeCommand> Made;

  // Executing a statement that begins with FailPrefix raises Exception("disk full") once
  // FailAfter such executions have succeeded.
  std::string FailPrefix;
  int FailAfter = 0;

  int CountMade(const std::string& sql) const {
    int n = 0;
    for (const TMadeCommand& c : Made) n += c.SQL == sql;
    return n;
  }
  const TMadeCommand* FindMade(const std::string& sql) const {
    for (const TMadeCommand& c : Made)
      if (c.SQL == sql) return &c;
    return nullptr;
  }
  // The executions of one statement text, in order.
  std::vector<Execution> ExecutionsOf(const std::string& sql) {
    std::vector<Execution> out;
    for (const Execution& e : Executions())
      if (e.SQL == sql) out.push_back(e);
    return out;
  }

  // Creates a system table (or a twin under another name) from its schema arrays.
  void CreateAtlorTable(const std::string& schema_name, const std::string& table_name = "") {
    const AtlorTableSchema* schema = FindAtlorTable(schema_name);
    CreateTableFromDefs(*this, table_name.empty() ? schema_name : table_name, schema->Fields,
                        schema->Indexes);
  }
  // Appends a row: the named fields get the values, the others Null.
  void AddRow(const std::string& table, const std::map<std::string, Value>& values) {
    TRecordedTable* t = FindTable(table);
    std::vector<Value> row(t->Fields.size(), Value::Null());
    for (const auto& [name, value] : values) row.at(static_cast<size_t>(t->FieldPos(name))) = value;
    t->Rows.push_back(std::move(row));
  }
  const Value& Cell(const std::string& table, size_t row, const std::string& field) {
    TRecordedTable* t = FindTable(table);
    return t->Rows.at(row).at(static_cast<size_t>(t->FieldPos(field)));
  }
  // The row whose ID is id, or null.
  const std::vector<Value>* RowById(const std::string& table, const std::string& id) {
    TRecordedTable* t = FindTable(table);
    const size_t pos = static_cast<size_t>(t->FieldPos("ID"));
    for (const std::vector<Value>& row : t->Rows)
      if (row[pos] == Value(id)) return &row;
    return nullptr;
  }

  // The layer extent join over ATLOR_MAPS and ATLOR_AREAS.
  IntfPtr<IArDbCursor> LayerBounds(const Value& map_id) {
    TRecordedTable& maps = *FindTable("ATLOR_MAPS");
    TRecordedTable& areas = *FindTable("ATLOR_AREAS");
    std::vector<std::vector<Value>> rows;
    for (const std::vector<Value>& m : maps.Rows) {
      if (!(m[static_cast<size_t>(maps.FieldPos("ID"))] == map_id)) continue;
      const Value& gpid = m[static_cast<size_t>(maps.FieldPos("GPID"))];
      for (const std::vector<Value>& a : areas.Rows) {
        if (!(a[static_cast<size_t>(areas.FieldPos("ID"))] == gpid)) continue;
        auto at = [&](const char* f) { return a[static_cast<size_t>(areas.FieldPos(f))]; };
        rows.push_back({at("BOUNDSL"), at("BOUNDSR"), at("BOUNDST"), at("BOUNDSB")});
      }
    }
    std::vector<TArDbFieldDef> columns = {
        {"x1", dtFloat, 0, false}, {"x2", dtFloat, 0, false},
        {"y2", dtFloat, 0, false}, {"y1", dtFloat, 0, false}};
    return IntfPtr<IArDbCursor>(
        new TRecordedRowsCursor(this, &Calls(), std::move(columns), std::move(rows)));
  }

 protected:
  IntfPtr<TArDbSQLCommand> CreateSQLCommand() override;
};

class TFacadeTestCommand : public TRecordingCommand {
 public:
  explicit TFacadeTestCommand(TFacadeTestDb* db) : TRecordingCommand(db), db_(db) {}

 protected:
  void Prepare() override {
    db_->Made.push_back({SQL(), ParamTypes(), Prepared()});
    TRecordingCommand::Prepare();
  }
  IntfPtr<IArDbCursor> DoExecute(const Value* params, int32_t count,
                                 int32_t& rows_affected) override {
    if (!db_->FailPrefix.empty() && SQL().compare(0, db_->FailPrefix.size(), db_->FailPrefix) == 0 &&
        db_->FailAfter-- <= 0) {
      db_->FailPrefix.clear();
      throw Exception("disk full");
    }
    if (SQL() != TFacadeTestDb::kLayerBoundsSql)
      return TRecordingCommand::DoExecute(params, count, rows_affected);
    db_->Record("DoExecute " + SQL());
    db_->Executions().push_back({SQL(), ParamTypes(), std::vector<Value>(params, params + count)});
    db_->MaybeFail("DoExecute");
    rows_affected = -1;
    return db_->LayerBounds(params[0]);
  }

 private:
  TFacadeTestDb* db_;
};

inline IntfPtr<TArDbSQLCommand> TFacadeTestDb::CreateSQLCommand() {
  return IntfPtr<TArDbSQLCommand>(new TFacadeTestCommand(this));
}

}  // namespace atlor::test
