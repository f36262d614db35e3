#pragma once

// A trivial back-end for the driver tests, compiled into the test program and into every test
// driver library. The database opens unless its description holds a "fail-open" entry (whose
// text becomes the error); a command answers a cursor with one row holding its SQL text.

#include <string>

#include "ardb/ardb_std_impl.h"
#include "ardb/ardb_utils.h"
#include "ardb/ardbs.h"
#include "core/simple_params.h"

namespace atlor::test {

inline const TArDbFieldDef kTestCommandColumns[] = {{"SQL", dtString, -1, true}};

class TTestCommand : public TArDbSQLCommand {
 public:
  using TArDbSQLCommand::TArDbSQLCommand;

 protected:
  void Prepare() override {}
  IntfPtr<IArDbCursor> DoExecute(const Value*, int32_t, int32_t& rows_affected) override {
    IntfPtr<TInMemoryCursor> cursor(new TInMemoryCursor(Database(), 1, kTestCommandColumns));
    cursor->AddRow({Value(SQL())});
    rows_affected = 1;
    return IntfPtr<IArDbCursor>(cursor.get());
  }
};

class TTestDb : public TArDb {
 protected:
  IntfPtr<TArDbTableDef> CreateTableDef() override {
    throw EArDbException("Table definitions are not supported");
  }
  IntfPtr<TArDbSQLCommand> CreateSQLCommand() override {
    return IntfPtr<TArDbSQLCommand>(new TTestCommand(this));
  }
  void DoOpen() override {
    const std::string failure = Description()->GetString(Value("fail-open"), "");
    if (!failure.empty()) throw EArDbException(failure);
    active_ = true;
  }
  void DoClose() override { active_ = false; }
  bool GetActive() override { return active_; }
  bool GetInTransaction() override { return false; }
  void DoStartTransaction() override {}
  void DoCommit() override {}
  void DoRollback() override {}
  IntfPtr<IArDbCursor> DoOpenTable(const std::string&, const std::string*, int32_t,
                                   const std::string*, int32_t, const Value*, int32_t,
                                   bool) override {
    throw EArDbException("Tables are not supported");
  }
  IntfPtr<IArDbCursor> DoGetInfo(int32_t) override { return nullptr; }
  bool DoTableExists(const std::string&) override { return false; }
  void DoDropTable(const std::string&) override {}

 private:
  bool active_ = false;
};

}  // namespace atlor::test
