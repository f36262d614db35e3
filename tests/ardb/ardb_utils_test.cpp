#include "ardb/ardb_utils.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/exception.h"
#include "core/platform.h"
#include "core/simple_params.h"
#include "recording_backend.h"

namespace atlor {
namespace {

using test::TRecordingArDb;

const char kClosed[] = "Ошибка: Операция не может быть выполнена, база данных закрыта";
const char kCursorClosed[] = "Ошибка доступа к данным: курсор закрыт";

template <class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const EArDbException& e) {
    return e.Message();
  } catch (const Exception& e) {
    return "(general) " + e.Message();
  } catch (const EAssertionFailed& e) {
    return "(assertion) " + e.Text();
  }
  return "(no error)";
}

std::string Assertion(const std::string& text) { return "(assertion) " + text; }

class ArDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = IntfPtr<TRecordingArDb>(new TRecordingArDb);
    db->Open(TRecordingArDb::kDescription);
    db->AddTable(
        "T",
        {{"ID", dtInteger, 0, true}, {"NAME", dtString, 20, false}, {"DATA", dtBinary, 0, false}},
        {{"PK_T", "ID", true, true}});
    db->Tables()["T"].Rows = {{1, "one", Value::Null()}, {2, "two", Bytes{7, 8}}};
    db->ClearCalls();
  }
  TRecordingArDb& Db() { return *db; }
  IntfPtr<IArDbCursor> OpenT() { return OpenTableCursor(Db(), "T"); }
  IntfPtr<TRecordingArDb> db;
};

// ---------------------------------------------------------------------------------------------
// Database

TEST_F(ArDbTest, EveryMethodButFourNeedsAnOpenDatabase) {
  db->Close();
  const std::pair<const char*, std::function<void()>> calls[] = {
      {"InTransaction", [&] { db->InTransaction(); }},
      {"StartTransaction", [&] { db->StartTransaction(); }},
      {"Commit", [&] { db->Commit(); }},
      {"Rollback", [&] { db->Rollback(); }},
      {"CreateCommand", [&] { db->CreateCommand("SELECT 1", nullptr, 0, false); }},
      {"OpenTable", [&] { db->OpenTable("T", nullptr, 0, nullptr, 0, nullptr, 0, false); }},
      {"GetInfo", [&] { db->GetInfo(ikLiteralInfo); }},
      {"GetTableDef", [&] { db->GetTableDef("T"); }},
      {"TableExists", [&] { db->TableExists("T"); }},
      {"DropTable", [&] { db->DropTable("T"); }},
  };
  for (const auto& [name, call] : calls) EXPECT_EQ(ErrorText(call), kClosed) << name;
  EXPECT_FALSE(db->Active());
  EXPECT_EQ(db->Description()->GetCount(), 0);
  db->Close();  // closing a closed database does nothing
  EXPECT_EQ(Db().Calls(), (std::vector<std::string>{"DoClose"}));
}

TEST_F(ArDbTest, TransactionsNestByCounting) {
  db->StartTransaction();
  db->StartTransaction();
  EXPECT_EQ(db->TransactionDepth(), 2);
  db->Commit();
  EXPECT_TRUE(db->InTransaction());
  db->Commit();
  EXPECT_FALSE(db->InTransaction());
  EXPECT_EQ(Db().Calls(), (std::vector<std::string>{"DoStartTransaction", "DoCommit"}));

  Db().ClearCalls();
  db->StartTransaction();
  db->StartTransaction();
  db->Rollback();
  EXPECT_EQ(db->TransactionDepth(), 0);
  EXPECT_EQ(ErrorText([&] { db->Commit(); }), "Datatabase not in transaction mode");
  db->Rollback();  // outside a transaction: nothing
  EXPECT_EQ(Db().Calls(), (std::vector<std::string>{"DoStartTransaction", "DoRollback"}));
}

TEST_F(ArDbTest, FailedCommitKeepsTheTransaction) {
  db->StartTransaction();
  Db().FailOn("DoCommit", "deadlock");
  EXPECT_EQ(ErrorText([&] { db->Commit(); }), "(general) deadlock");
  EXPECT_TRUE(db->InTransaction());
  EXPECT_EQ(db->TransactionDepth(), 1);
  db->Commit();
  EXPECT_FALSE(db->InTransaction());
}

TEST_F(ArDbTest, OutermostCommitAndRollbackCloseOpenCursors) {
  db->StartTransaction();
  db->StartTransaction();
  IntfPtr<IArDbCursor> open = OpenT();
  IntfPtr<IArDbCursor> finished = OpenT();
  while (!finished->Eof()) finished->Next();
  Db().ClearCalls();
  db->Commit();  // depth 2 -> 1: nothing closed
  EXPECT_TRUE(Db().Calls().empty());
  EXPECT_FALSE(open->Eof());
  db->Commit();
  // Only the cursor not at end of data reaches its back-end.
  EXPECT_EQ(Db().Calls(), (std::vector<std::string>{"DoCommit", "Cursor.DoClose"}));
  EXPECT_TRUE(open->Eof());

  db->StartTransaction();
  IntfPtr<IArDbCursor> again = OpenT();
  Db().ClearCalls();
  db->Rollback();
  EXPECT_EQ(Db().Calls(), (std::vector<std::string>{"DoRollback", "Cursor.DoClose"}));
  EXPECT_EQ(ErrorText([&] { again->AsInteger("ID", 0); }), kCursorClosed);
}

TEST_F(ArDbTest, ClosingEndsTheTransaction) {
  db->StartTransaction();
  db->StartTransaction();
  db->Close();
  db->Open(TRecordingArDb::kDescription);
  EXPECT_EQ(db->TransactionDepth(), 0);
  db->StartTransaction();
  db->Commit();
  EXPECT_FALSE(db->InTransaction());
}

TEST_F(ArDbTest, InconsistentTransactionStateIsAnAssertion) {
  db->StartTransaction();
  Db().LoseTransaction();  // the server ended it behind the layer's back
  EXPECT_EQ(ErrorText([&] { db->StartTransaction(); }), Assertion("Invalid transaction mode"));
  EXPECT_EQ(ErrorText([&] { db->Commit(); }), Assertion("Invalid transaction mode"));
}

TEST_F(ArDbTest, CloseDetachesObjects) {
  IntfPtr<IArDbCursor> cursor = OpenT();
  IntfPtr<IArDbSQLCommand> command = db->CreateCommand("SELECT * FROM [T] ", nullptr, 0, false);
  IntfPtr<IArDbTableDef> def = db->GetTableDef("T");
  EXPECT_EQ(db->ObjectCount(), 3);
  const uint32_t refs = db->RefCount();
  db->Close();
  EXPECT_EQ(db->ObjectCount(), 0);
  EXPECT_EQ(db->RefCount(), refs - 3);
  db->Open(TRecordingArDb::kDescription);  // reopening does not reattach them

  EXPECT_EQ(ErrorText([&] { cursor->Next(); }), kClosed);
  EXPECT_EQ(ErrorText([&] { cursor->FieldCount(); }), kClosed);
  EXPECT_FALSE(cursor->Eof());  // Eof and Close still answer
  cursor->Close();
  EXPECT_TRUE(cursor->Eof());
  EXPECT_EQ(ErrorText([&] { command->Execute(nullptr, 0); }), kClosed);
  EXPECT_EQ(ErrorText([&] { command->RowsAffected(); }), kClosed);
  EXPECT_EQ(ErrorText([&] { def->ApplyChanges(); }), kClosed);
  EXPECT_EQ(ErrorText([&] { def->CancelChanges(); }), kClosed);
  EXPECT_EQ(def->GetTableName(), "T");  // the copy itself still answers
}

TEST_F(ArDbTest, ObjectsKeepTheirDatabaseAlive) {
  IntfPtr<IArDbCursor> cursor = OpenT();
  TRecordingArDb* raw = db.get();
  db.reset();
  EXPECT_EQ(raw->RefCount(), 1u);
  EXPECT_EQ(cursor->AsInteger("ID", 0), 1);
  cursor.reset();  // the last reference: both go (ASan checks)
}

TEST_F(ArDbTest, OpenWithATextThatIsNotXmlLeavesTheDatabaseAsItWas) {
  IntfPtr<IArDbCursor> cursor = OpenT();
  Db().ClearCalls();
  EXPECT_THROW(db->Open("<database name=\"x\""), Exception);
  EXPECT_TRUE(db->Active());
  EXPECT_TRUE(Db().Calls().empty());
  EXPECT_EQ(db->Description()->GetString("folder", ""), "/data/atlor");
  EXPECT_EQ(cursor->AsString("NAME", ""), "one");
}

TEST_F(ArDbTest, OpenWithoutRootOrWithFailingBackEndLeavesItClosed) {
  EXPECT_EQ(ErrorText([&] { db->Open(""); }), Assertion("Error empty XML document"));
  EXPECT_FALSE(db->Active());
  EXPECT_EQ(db->Description()->GetCount(), 0);

  Db().FailOn("DoOpen", "server not found");
  EXPECT_EQ(ErrorText([&] { db->Open(TRecordingArDb::kDescription); }),
            "(general) server not found");
  EXPECT_FALSE(db->Active());
  EXPECT_EQ(db->Description()->GetCount(), 0);
  EXPECT_EQ(db->Description()->GetString("ArDb\\DriverName", "closed"), "closed");

  db->Open(TRecordingArDb::kDescription);
  EXPECT_TRUE(db->Active());
}

TEST_F(ArDbTest, DescriptionAnswersComputedNames) {
  IntfPtr<ISimpleParams> d = db->Description();
  EXPECT_EQ(d->GetString("folder", ""), "/data/atlor");
  EXPECT_EQ(d->GetString("ArDb\\DriverName", ""), "TEST.Recording");
  EXPECT_EQ(d->GetString("ArDb\\DriverCaption", ""), "Test back-end");
  EXPECT_EQ(d->GetString("ArDb\\DriverLibrary", ""), ModuleFileName());
  EXPECT_EQ(d->GetDateTime("ArDb\\OpenDatetime"), db->OpenDateTime());
  EXPECT_GT(db->OpenDateTime().days, 40000);
  EXPECT_EQ(d->GetString("ArDb\\Other", "default"), "default");
  EXPECT_FALSE(d->Exists("ArDb\\DriverName"));

  // The caption defaults to the name; a stored entry wins over the computed value.
  db->Open(
      "<database name=\"TEST.Other\"><param name=\"ArDb\\DriverName\">stored</param></database>");
  EXPECT_EQ(d->GetString("ArDb\\DriverCaption", ""), "TEST.Other");
  EXPECT_EQ(d->GetString("ArDb\\DriverName", ""), "stored");

  db->Close();
  EXPECT_EQ(d->GetString("ArDb\\DriverName", "closed"), "closed");
  EXPECT_EQ(d->GetString("ArDb\\DriverCaption", "closed"), "closed");
}

TEST_F(ArDbTest, DescriptionOutlivingItsDatabaseIsHarmless) {
  IntfPtr<ISimpleParams> d = db->Description();
  db.reset();
  EXPECT_EQ(d->GetString("ArDb\\DriverName", "gone"), "gone");
  EXPECT_EQ(d->GetCount(), 0);
}

TEST_F(ArDbTest, ModuleFileNameIsThisProgram) {
  // The layer is linked statically into the test program.
  EXPECT_EQ(ModuleFileName(), ExecutableFileName());
}

TEST_F(ArDbTest, GetInfoAndPassThrough) {
  EXPECT_EQ(ErrorText([&] { db->GetInfo(ikReservedWords); }), "Capability not supported");
  IntfPtr<IArDbCursor> relations = db->GetInfo(ikRelations);
  EXPECT_EQ(relations->AsString("NAME", ""), "T");
  EXPECT_TRUE(db->TableExists("t"));
  db->DropTable("T");
  EXPECT_FALSE(db->TableExists("T"));
  EXPECT_EQ(Db().Calls(), (std::vector<std::string>{"DoGetInfo 2", "DoGetInfo 0", "DoTableExists t",
                                                    "DoDropTable T", "DoTableExists T"}));
}

TEST_F(ArDbTest, OpenTableSelectsKeyRows) {
  Db().Tables()["T"].Rows.push_back({3, "three", Value::Null()});
  const std::string fields[] = {"NAME"};
  const std::string keys[] = {"ID"};
  const Value key_values[] = {3, 1};
  IntfPtr<IArDbCursor> c = db->OpenTable("T", fields, 1, keys, 1, key_values, 2, true);
  std::vector<std::string> names;
  for (; !c->Eof(); c->Next()) names.push_back(c->AsString(0, ""));
  EXPECT_EQ(names, (std::vector<std::string>{"one", "three"}));
}

// ---------------------------------------------------------------------------------------------
// Commands

TEST_F(ArDbTest, CreateCommandWrapsPreparationErrors) {
  Db().FailOn("Prepare", "near \"SELEC\": syntax error");
  EXPECT_EQ(ErrorText([&] { db->CreateCommand("SELEC 1", nullptr, 0, true); }),
            "Запрос \"SELEC 1\". near \"SELEC\": syntax error");
  EXPECT_EQ(db->ObjectCount(), 0);  // no command is left
  const TArDbDataType types[] = {dtInteger, dtPicture};
  IntfPtr<IArDbSQLCommand> c = db->CreateCommand("UPDATE [T] SET [T].[DATA]=? ", types, 2, true);
  auto* command = dynamic_cast<TArDbSQLCommand*>(c.get());
  EXPECT_EQ(command->ParamTypes(), (TArDbDataTypeArray{dtInteger, dtPicture}));
  EXPECT_TRUE(command->Prepared());
  EXPECT_EQ(command->RowsAffected(), -1);
}

TEST_F(ArDbTest, ExecuteValidatesBeforeTheBackEnd) {
  const TArDbDataType types[] = {dtInteger, dtDocument};
  IntfPtr<IArDbSQLCommand> c =
      db->CreateCommand("UPDATE [T] SET [T].[ID]=?,[T].[DATA]=? ", types, 2, false);
  Db().ClearCalls();
  const char kCount[] =
      "Число параметров в SQL запросе не соответствует числу переданных параметров";
  const char kBlob[] =
      "Blob должен передаваться в виде одномерного массива байт, либо быть равным Null";
  const std::vector<Value> empty_first{Value(), Bytes{1}};
  const Value three[] = {1, Value(), Bytes{}};
  struct Case {
    std::function<void()> call;
    std::string error;
  };
  const Case cases[] = {
      {[&] { c->Execute({1}); }, kCount},
      {[&] { c->Execute(three, 3); }, kCount},  // the count comes before the Empty value
      {[&] { c->Execute(nullptr, 0); }, kCount},
      {[&] { c->Execute(empty_first); }, "Не задан 1 параметр"},
      {[&] {
         c->Execute({1, Value()});
       },
       "Не задан 2 параметр"},
      {[&] {
         c->Execute({1, "bytes?"});
       },
       kBlob},
      {[&] {
         c->Execute({1, std::vector<Value>{1, 2}});
       },
       kBlob},
      {[&] { c->Execute(nullptr, 2); }, Assertion("Assertion failure")},
  };
  for (const Case& k : cases) EXPECT_EQ(ErrorText(k.call), k.error);
  EXPECT_TRUE(Db().Calls().empty());
  // Null anywhere and bytes for a binary placeholder are accepted.
  c->Execute({Value::Null(), Bytes{1, 2, 3}});
  c->Execute({5, Value::Null()});
  EXPECT_EQ(Db().Executions().size(), 2u);
  EXPECT_EQ(c->RowsAffected(), 2);
}

TEST_F(ArDbTest, ExecuteWrapsBackEndErrorsWithTheParameterListing) {
  const TArDbDataType types[] = {dtString, dtBinary, dtInteger};
  IntfPtr<IArDbSQLCommand> c = db->CreateCommand("INSERT", types, 3, false);
  Db().FailOn("DoExecute", "disk full");
  EXPECT_EQ(ErrorText([&] {
              c->Execute({"abc", Bytes{1, 2, 3}, Value::Null()});
            }),
            "Запрос \"INSERT\".\n\rПараметры:\n\r"
            "\r\nString(OleStr)[3]=\"abc\"\r\nBLOB(Array Byte)[3]\r\nInteger(Null)=Null"
            "\n\r Ошибка: \"disk full\"");
  // The command stays usable.
  c->Execute({"abc", Bytes{}, 1});
}

TEST(ArDbParamsListingTest, Lines) {
  const std::string long_text(120, 'x');
  const TArDbDataType types[] = {dtString, dtMemo,     dtFloat, dtBoolean,
                                 dtDate,   dtCurrency, 0x0900,  dtInteger};
  const Value values[] = {long_text,     "строка",         2.5, true,
                          DateTime{2.5}, Currency{125000}, 7,   Value()};
  EXPECT_EQ(ArDbParamsListing(types, values, 8),
            "\r\nString(OleStr)[120]=\"" + std::string(100, 'x') +
                "...\"\r\nMemo(OleStr)[6]\r\nFloat(Double)=2.5\r\nBoolean(Boolean)=True"
                "\r\nDateTime(Date)=01.01.1900 12:00:00\r\nCurrency(Currency)=12.5"
                "\r\nUnknown(Integer)=7\r\nInteger(Empty)=Empty");
  EXPECT_EQ(ArDbParamsListing(types, nullptr, 0), "(Empty Values list)");
  EXPECT_EQ(ArDbParamsListing({}, values, 0), "");
}

// ---------------------------------------------------------------------------------------------
// Cursors

TEST_F(ArDbTest, CursorResolvesFields) {
  IntfPtr<IArDbCursor> c = OpenT();
  EXPECT_EQ(c->AsInteger("ID", 0), 1);
  EXPECT_EQ(c->AsInteger(0, 0), 1);
  EXPECT_EQ(c->AsString(false, ""), "1");  // a boolean counts as an integer (true is -1)
  EXPECT_EQ(c->AsInteger("DATA", 7), 7);   // Null gives the default
  const std::pair<Value, std::string> bad[] = {
      {Value("NOFIELD"), "Не найдено поле \"NOFIELD\""},
      {Value(99), "Не найдено поле \"99\""},
      {Value(-1), "Не найдено поле \"-1\""},
      {Value(true), "Не найдено поле \"True\""},
      {Value(int64_t{1} << 33), "Не найдено поле \"8589934592\""},
      {Value(1.0), "Не найдено поле \"1\""},
      {Value(Bytes{1}), "Не найдено поле \"(Array Byte)\""},
      {Value::Null(), "Не верный параметр"},
      {Value(), "Не верный параметр"},
  };
  for (const auto& [field, error] : bad) {
    EXPECT_EQ(ErrorText([&] { c->AsInteger(field, 0); }), error);
    EXPECT_EQ(ErrorText([&] { c->FieldType(field); }), error);
  }
}

TEST_F(ArDbTest, CursorAtEndOfData) {
  IntfPtr<IArDbCursor> c = OpenT();
  c->Next();
  c->Next();
  ASSERT_TRUE(c->Eof());
  const std::function<void()> need_data[] = {
      [&] { c->IsNull("ID"); },         [&] { c->AsBoolean("ID", false); },
      [&] { c->AsInteger("ID", 0); },   [&] { c->AsFloat("ID", 0); },
      [&] { c->AsCurrency("ID", {}); }, [&] { c->AsDateTime("ID", {}); },
      [&] { c->AsString("ID", ""); },   [&] { c->AsBlob("DATA"); },
      [&] { c->AsVariant("ID"); },      [&] { c->FieldSize("NAME"); },
  };
  for (const auto& call : need_data) EXPECT_EQ(ErrorText(call), kCursorClosed);
  EXPECT_EQ(c->FieldName(1), "NAME");
  EXPECT_EQ(c->FieldType("DATA"), dtBinary);
  EXPECT_EQ(c->FieldIndex("name"), 1);
  EXPECT_EQ(c->FieldCount(), 3);
  c->Next();
  Db().ClearCalls();
  c->Close();
  EXPECT_TRUE(Db().Calls().empty());  // nothing to release at end of data
}

TEST_F(ArDbTest, CursorValuesByBaseType) {
  IntfPtr<IArDbCursor> c = OpenT();
  c->Next();
  EXPECT_EQ(c->AsVariant("ID"), Value(2));
  EXPECT_EQ(c->AsVariant("NAME"), Value("two"));
  EXPECT_EQ(c->AsVariant("DATA"), Value(Bytes{7, 8}));
  EXPECT_EQ(c->AsBlob("DATA"), Value(Bytes{7, 8}));
  EXPECT_EQ(c->FieldSize("DATA"), 2);
  EXPECT_EQ(ErrorText([&] { c->AsBlob("NAME"); }),
            Assertion("Blob field must return array of byte"));
  c->Close();
  EXPECT_TRUE(c->Eof());
}

// A cursor whose back-end hands out values of the wrong kind.
class TFaultyCursor : public TArDbCursor {
 public:
  using TArDbCursor::TArDbCursor;

 protected:
  bool GetIsNull(int32_t) override { return false; }
  bool GetAsBoolean(int32_t) override { return true; }
  int32_t GetAsInteger(int32_t) override { return 1; }
  double GetAsFloat(int32_t) override { return 1; }
  Currency GetAsCurrency(int32_t) override { return {}; }
  DateTime GetAsDateTime(int32_t) override { return {}; }
  std::string GetAsString(int32_t) override { return "s"; }
  Value GetAsBlob(int32_t) override { return Value("not bytes"); }
  Value GetValue(int32_t) override { return Value(); }
  int32_t GetFieldCount() override { return 2; }
  int32_t GetFieldIndex(const std::string&) override { return -1; }
  std::string GetFieldName(int32_t) override { return "F"; }
  TArDbDataType GetFieldType(int32_t index) override { return index == 0 ? dtPicture : 0x0900; }
  int32_t GetFieldSize(int32_t) override { return 0; }
  bool GetEof() override { return false; }
  void DoNext() override {}
  void DoClose() override {}
};

TEST_F(ArDbTest, BackEndFaultsAreAssertions) {
  IntfPtr<IArDbCursor> c(new TFaultyCursor(db.get()));
  EXPECT_EQ(ErrorText([&] { c->AsBlob(0); }), Assertion("Blob field must return array of byte"));
  EXPECT_EQ(ErrorText([&] { c->AsVariant(1); }), Assertion("Cursor return unassigned value"));
  EXPECT_EQ(ErrorText([] { TFaultyCursor orphan(nullptr); }), Assertion("Object not initialized"));
}

// ---------------------------------------------------------------------------------------------
// Table definitions

TEST_F(ArDbTest, BlankNameGivesAnEmptyDefinitionWithoutLoading) {
  IntfPtr<IArDbTableDef> def = db->GetTableDef("  ");
  EXPECT_EQ(def->FieldCount(), 0);
  EXPECT_EQ(def->IndexCount(), 0);
  EXPECT_EQ(def->GetTableName(), "");
  EXPECT_FALSE(def->Modified());
  EXPECT_TRUE(Db().Calls().empty());
}

TEST_F(ArDbTest, LoadedDefinition) {
  IntfPtr<IArDbTableDef> def = db->GetTableDef("T");
  EXPECT_EQ(Db().Calls(), std::vector<std::string>{"DoLoad T"});
  EXPECT_EQ(def->GetTableName(), "T");
  EXPECT_EQ(def->FieldCount(), 3);
  EXPECT_EQ(def->GetFieldDef(1), (TArDbFieldDef{"NAME", dtString, 20, false}));
  EXPECT_EQ(def->GetIndexDef(0), (TArDbIndexDef{"PK_T", "ID", true, true}));
  EXPECT_EQ(def->IndexOfField("name"), 1);
  EXPECT_EQ(def->IndexOfField("nothing"), -1);
  EXPECT_FALSE(def->Modified());
  EXPECT_THROW(def->GetFieldDef(3), EListError);
  EXPECT_EQ(ErrorText([&] { db->GetTableDef("MISSING"); }),
            "(general) Table MISSING does not exist");
}

TEST_F(ArDbTest, EditingFieldsUpdatesIndexesOnRequest) {
  IntfPtr<IArDbTableDef> def = db->GetTableDef("");
  def->AddFieldDef({"A", dtInteger, 0, true});
  def->AddFieldDef({"C", dtString, 10, false});
  const int32_t index = def->AddIndexDef({"IGNORED", "a; C", false, true});
  EXPECT_EQ(def->GetIndexDef(index), (TArDbIndexDef{"", "a;C", false, true}));

  def->SetFieldDef(0, {"B", dtInteger, 0, true}, false);
  EXPECT_EQ(def->GetIndexDef(index).Fields, "a;C");
  def->SetFieldDef(0, {"A", dtInteger, 0, true}, false);
  def->SetFieldDef(0, {"B", dtInteger, 0, true}, true);
  EXPECT_EQ(def->GetIndexDef(index).Fields, "B;C");

  EXPECT_EQ(def->IndexOfIndex(" c ;b"), index);
  EXPECT_EQ(def->IndexOfIndex("B;X"), -1);
  EXPECT_EQ(def->IndexOfIndex(" ; "), -1);

  def->SetIndexDef(index, {"NEW NAME", "C", true, false});
  EXPECT_EQ(def->GetIndexDef(index), (TArDbIndexDef{"", "C", true, false}));
  def->AddIndexDef({"", "B", false, false});
  def->DeleteFieldDef(def->IndexOfField("c"), true);  // the index on C alone goes with it
  EXPECT_EQ(def->IndexCount(), 1);
  EXPECT_EQ(def->GetIndexDef(0).Fields, "B");
  def->DeleteFieldDef(0, false);
  EXPECT_EQ(def->IndexCount(), 1);
  EXPECT_EQ(def->FieldCount(), 0);

  def->AddFieldDef({"X", dtInteger, 0, false});
  def->AddFieldDef({"Y", dtInteger, 0, false});
  def->MoveField(1, 0);
  EXPECT_EQ(def->GetFieldDef(0).Name, "Y");
  def->DeleteIndexDef(0);
  EXPECT_EQ(def->IndexCount(), 0);
}

TEST_F(ArDbTest, ApplyChangesAltersAnExistingTable) {
  IntfPtr<IArDbTableDef> def = db->GetTableDef("T");
  def->SetFieldDef(1, {"TITLE", dtString, 40, false}, true);
  def->AddFieldDef({"EXTRA", dtInteger, 0, false});
  EXPECT_TRUE(def->Modified());
  Db().ClearCalls();
  def->ApplyChanges();
  EXPECT_EQ(Db().Calls(),
            (std::vector<std::string>{"DoTableExists T", "DoAlterTable T -> T", "DoLoad T"}));
  EXPECT_EQ(Db().LastAlteration,
            (TTableModificationInfo{{1, tmRenameField | tmFieldSize}, {3, tmAddField}}));
  EXPECT_FALSE(def->Modified());
  EXPECT_EQ(def->GetFieldDef(1).Name, "TITLE");
  EXPECT_EQ(Db().FindTable("T")->Rows[1][1], Value("two"));  // data kept through the field map

  // Renaming the table alters the table of the loaded name and reloads under the new one.
  def->SetTableName("T2");
  Db().ClearCalls();
  def->ApplyChanges();
  EXPECT_EQ(Db().Calls(),
            (std::vector<std::string>{"DoTableExists T", "DoAlterTable T -> T2", "DoLoad T2"}));
  EXPECT_FALSE(db->TableExists("T"));
}

TEST_F(ArDbTest, ApplyChangesCreatesWhenTheLoadedTableIsGone) {
  IntfPtr<IArDbTableDef> def = db->GetTableDef("T");
  db->DropTable("T");
  def->SetTableName("T3");
  Db().ClearCalls();
  def->ApplyChanges();
  EXPECT_EQ(Db().Calls(), (std::vector<std::string>{"DoTableExists T",
                                                    "DoCreateTable T3 with indexes", "DoLoad T3"}));
  EXPECT_EQ(def->GetIndexDef(0).Fields, "ID");
}

TEST_F(ArDbTest, ApplyChangesRules) {
  IntfPtr<IArDbTableDef> def = db->GetTableDef("T");
  Db().ClearCalls();
  def->ApplyChanges();  // not modified: the back-end hears nothing
  EXPECT_TRUE(Db().Calls().empty());

  db->StartTransaction();
  EXPECT_EQ(ErrorText([&] { def->ApplyChanges(); }), "DDL transactions not supported");
  db->Rollback();

  // A failed change leaves both copies as they were.
  def->AddFieldDef({"EXTRA", dtInteger, 0, false});
  Db().FailOn("DoAlterTable", "locked");
  EXPECT_EQ(ErrorText([&] { def->ApplyChanges(); }), "(general) locked");
  EXPECT_TRUE(def->Modified());
  EXPECT_EQ(def->FieldCount(), 4);

  Db().ClearCalls();
  def->CancelChanges();
  EXPECT_EQ(Db().Calls(), std::vector<std::string>{"DoLoad T"});
  EXPECT_EQ(def->FieldCount(), 3);
  EXPECT_FALSE(def->Modified());
}

// ---------------------------------------------------------------------------------------------
// Helpers

TEST(TranslateQuotesTest, BracketsOutsideQuotedStrings) {
  const std::string quotes[] = {"\"", "\""};
  EXPECT_EQ(TranslateQuotes("SELECT [A] FROM [T] WHERE [B]='[x]'", "[]", quotes),
            "SELECT \"A\" FROM \"T\" WHERE \"B\"='[x]'");
  EXPECT_EQ(TranslateQuotes("[A]=\"it's [x]\" AND [Б]='say \"[y]\"'", "[]", quotes),
            "\"A\"=\"it's [x]\" AND \"Б\"='say \"[y]\"'");
  const std::string words[] = {"<open>", ""};
  EXPECT_EQ(TranslateQuotes("[Щ]", "[]", words), "<open>Щ");
  EXPECT_EQ(TranslateQuotes("[A] '[unterminated", "[]", quotes), "\"A\" '[unterminated");
  try {
    TranslateQuotes("x", "[]", std::span<const std::string>(quotes, 1));
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Text(), "Invalid parametrs");
  }
}

TEST(ValueTextTest, CutsLongTexts) {
  EXPECT_EQ(ValueText(Value("абвгд"), 3), "абв...");
  EXPECT_EQ(ValueText(Value("абв"), 3), "абв");
  EXPECT_EQ(ValueText(Value("абвгд"), 0), "абвгд");
  EXPECT_EQ(ValueText(Value(12), -1), "12");
  EXPECT_EQ(ValueText(Value::Null(), 0), "");
  EXPECT_EQ(ValueText(Value(Bytes{1}), 0), "(Array Byte)");
}

}  // namespace
}  // namespace atlor
