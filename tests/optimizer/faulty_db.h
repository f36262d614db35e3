#pragma once

// A database that passes everything on to another one and fails the k-th statement: every
// operation on the database (command creation, table definitions, existence tests, drops) and
// every execution of a command counts as one statement.

#include <string>
#include <vector>

#include "ardb/ardbs.h"
#include "core/exception.h"

namespace atlor::test {

class FaultyDb final : public TMyInterfacedObject, public IArDb {
 public:
  // fail_at 0 never fails; otherwise statement number fail_at (counted from 1) raises an error.
  FaultyDb(IntfPtr<IArDb> inner, int fail_at) : inner_(std::move(inner)), fail_at_(fail_at) {}
  ATLOR_IMPLEMENT_REFCOUNT

  int Statements() const { return count_; }
  bool Failed() const { return failed_; }

  // Every command made through the database: its text, parameter types and Prepared flag.
  struct Made {
    std::string sql;
    std::vector<TArDbDataType> types;
    bool prepared;
    bool operator==(const Made&) const = default;
  };
  const std::vector<Made>& Commands() const { return made_; }

  // Every table definition applied: the table it was loaded from, its name when applied, and
  // the statement number of the ApplyChanges.
  struct Applied {
    std::string from, to;
    int statement;
  };
  const std::vector<Applied>& Renames() const { return applied_; }

  void Count() {
    ++count_;
    if (count_ == fail_at_) {
      failed_ = true;
      throw Exception("injected failure at statement " + std::to_string(count_));
    }
  }

  void Open(const std::string& d) override { inner_->Open(d); }
  void Close() override { inner_->Close(); }
  bool Active() override { return inner_->Active(); }
  bool InTransaction() override { return inner_->InTransaction(); }
  void StartTransaction() override { Count(), inner_->StartTransaction(); }
  void Commit() override { Count(), inner_->Commit(); }
  void Rollback() override { inner_->Rollback(); }
  IntfPtr<IArDbSQLCommand> CreateCommand(const std::string& sql, const TArDbDataType* types,
                                         int32_t count, bool prepared) override {
    Count();
    made_.push_back({sql, std::vector<TArDbDataType>(types, types + (types ? count : 0)), prepared});
    return IntfPtr<IArDbSQLCommand>(
        new Command(this, inner_->CreateCommand(sql, types, count, prepared)));
  }
  IntfPtr<IArDbCursor> OpenTable(const std::string& t, const std::string* f, int32_t fc,
                                 const std::string* k, int32_t kc, const Value* kv, int32_t kr,
                                 bool copy) override {
    Count();
    return inner_->OpenTable(t, f, fc, k, kc, kv, kr, copy);
  }
  IntfPtr<IArDbCursor> GetInfo(int32_t kind) override { return inner_->GetInfo(kind); }
  IntfPtr<IArDbTableDef> GetTableDef(const std::string& t) override {
    Count();
    return IntfPtr<IArDbTableDef>(new TableDef(this, inner_->GetTableDef(t), t));
  }
  bool TableExists(const std::string& t) override {
    Count();
    return inner_->TableExists(t);
  }
  void DropTable(const std::string& t) override { Count(), inner_->DropTable(t); }
  IntfPtr<ISimpleParams> Description() override { return inner_->Description(); }

 private:
  class Command final : public TMyInterfacedObject, public IArDbSQLCommand {
   public:
    Command(FaultyDb* db, IntfPtr<IArDbSQLCommand> inner) : db_(db), inner_(std::move(inner)) {}
    ATLOR_IMPLEMENT_REFCOUNT
    IntfPtr<IArDbCursor> Execute(const Value* params, int32_t count) override {
      db_->Count();
      return inner_->Execute(params, count);
    }
    using IArDbSQLCommand::Execute;
    int32_t RowsAffected() override { return inner_->RowsAffected(); }

   private:
    IntfPtr<FaultyDb> db_;
    IntfPtr<IArDbSQLCommand> inner_;
  };

  // Table definitions count their ApplyChanges.
  class TableDef final : public TMyInterfacedObject, public IArDbTableDef {
   public:
    TableDef(FaultyDb* db, IntfPtr<IArDbTableDef> inner, std::string from)
        : db_(db), d_(std::move(inner)), from_(std::move(from)) {}
    ATLOR_IMPLEMENT_REFCOUNT
    TArDbFieldDef GetFieldDef(int32_t i) override { return d_->GetFieldDef(i); }
    void SetFieldDef(int32_t i, const TArDbFieldDef& f, bool u) override { d_->SetFieldDef(i, f, u); }
    int32_t AddFieldDef(const TArDbFieldDef& f) override { return d_->AddFieldDef(f); }
    void DeleteFieldDef(int32_t i, bool u) override { d_->DeleteFieldDef(i, u); }
    int32_t IndexOfField(const std::string& n) override { return d_->IndexOfField(n); }
    void MoveField(int32_t a, int32_t b) override { d_->MoveField(a, b); }
    int32_t FieldCount() override { return d_->FieldCount(); }
    TArDbIndexDef GetIndexDef(int32_t i) override { return d_->GetIndexDef(i); }
    void SetIndexDef(int32_t i, const TArDbIndexDef& x) override { d_->SetIndexDef(i, x); }
    int32_t AddIndexDef(const TArDbIndexDef& x) override { return d_->AddIndexDef(x); }
    void DeleteIndexDef(int32_t i) override { d_->DeleteIndexDef(i); }
    int32_t IndexOfIndex(const std::string& f) override { return d_->IndexOfIndex(f); }
    int32_t IndexCount() override { return d_->IndexCount(); }
    std::string GetTableName() override { return d_->GetTableName(); }
    void SetTableName(const std::string& n) override { d_->SetTableName(n); }
    bool Modified() override { return d_->Modified(); }
    void ApplyChanges() override {
      db_->Count();
      d_->ApplyChanges();
      db_->applied_.push_back({from_, d_->GetTableName(), db_->count_});
    }
    void CancelChanges() override { d_->CancelChanges(); }

   private:
    IntfPtr<FaultyDb> db_;
    IntfPtr<IArDbTableDef> d_;
    std::string from_;
  };

  IntfPtr<IArDb> inner_;
  int fail_at_;
  int count_ = 0;
  bool failed_ = false;
  std::vector<Made> made_;
  std::vector<Applied> applied_;
};

}  // namespace atlor::test
