// The Paradox back-end's commands and query cursors: the statements of the data layer, the
// parameters, the holder sharing and the storage facade's statement shapes.

#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_table.h"
#include "pdox_test_util.h"

namespace atlor {
namespace {

using namespace pdoxtest;

class PdoxSqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = IntfPtr<TPdoxArDb>(new TPdoxArDb);
    db->Open(TPdoxArDb::MakeDescription(folder.Path()));
    const TArDbFieldDef fields[] = {{"ID", dtInteger, 0, true},   {"NAME", dtString, 20, false},
                                    {"VAL", dtFloat, 0, false},   {"NOTE", dtMemo, 0, false},
                                    {"DATA", dtBinary, 0, false}, {"WHEN", dtDateTime, 0, false},
                                    {"OK", dtBoolean, 0, false},  {"PRICE", dtCurrency, 0, false}};
    const TArDbIndexDef indexes[] = {{"", "ID", true, true}, {"", "NAME", false, false}};
    CreateTableFromDefs(*db, "T", fields, indexes);
    AppendRows(*db, "T", {{1, "one", 1.5}, {2, "two", 2.5}, {3, "three"}});
  }

  IntfPtr<IArDbSQLCommand> Command(const std::string& sql, std::vector<TArDbDataType> types,
                                   bool prepared = true) {
    return NewCommand(*db, sql, types, prepared);
  }
  static TBDESQLCommand& Bde(const IntfPtr<IArDbSQLCommand>& c) {
    return dynamic_cast<TBDESQLCommand&>(*c);
  }
  std::vector<std::string> Select(const std::string& sql) {
    IntfPtr<IArDbCursor> c = Command(sql, {})->Execute(nullptr, 0);
    return CursorRows(*c);
  }

  TempFolder folder;
  IntfPtr<TPdoxArDb> db;
};

TEST_F(PdoxSqlTest, TheDataLayersStatementsRunWithTheirParameters) {
  const TArDbParam row[] = {IntegerParam("ID"), StringParam("NAME"),  FloatParam("VAL"),
                            {"NOTE", dtMemo},   BinaryParam("DATA"),  {"WHEN", dtDateTime},
                            {"OK", dtBoolean},  {"PRICE", dtCurrency}};
  IntfPtr<IArDbSQLCommand> insert = BuildInsertCommand(*db, "T", row, true);
  const DateTime when = EncodeDateTime(2024, 2, 29, 13, 45, 10);
  insert->Execute({Value(4), Value("four"), Value(4.25), Value("мемо"), Value(Bytes{0, 1, 2}),
                   Value(when), Value(true), Value(Currency::FromDouble(12.34))});
  EXPECT_EQ(insert->RowsAffected(), 1);

  const TArDbParam set[] = {StringParam("NAME")};
  const TArDbParam key[] = {IntegerParam("ID")};
  IntfPtr<IArDbSQLCommand> update = BuildUpdateCommand(*db, "T", set, key, true);
  update->Execute({Value("TWO"), Value(2)});
  EXPECT_EQ(update->RowsAffected(), 1);

  const std::string names[] = {"ID", "NAME", "NOTE", "DATA", "WHEN", "OK", "PRICE"};
  IntfPtr<IArDbSQLCommand> select = BuildSelectCommand(*db, "T", names, key, true);
  IntfPtr<IArDbCursor> c = select->Execute({Value(4)});
  ASSERT_FALSE(c->Eof());
  EXPECT_EQ(c->AsString("name", ""), "four");
  EXPECT_EQ(c->AsVariant("NOTE"), Value("мемо"));
  EXPECT_EQ(c->AsBlob("DATA"), Value(Bytes{0, 1, 2}));
  EXPECT_EQ(c->AsDateTime("WHEN", {}), when);
  EXPECT_TRUE(c->AsBoolean("OK", false));
  EXPECT_EQ(c->AsCurrency("PRICE", {}), Currency::FromDouble(12.34));
  EXPECT_EQ(c->FieldType("ID"), dtInteger);
  EXPECT_EQ(c->FieldType("NAME"), dtString);
  EXPECT_EQ(c->FieldType("NOTE"), dtMemo);
  EXPECT_EQ(c->FieldType("DATA"), dtBinary);
  EXPECT_EQ(c->FieldType("WHEN"), dtDateTime);
  EXPECT_EQ(c->FieldType("OK"), dtBoolean);
  EXPECT_EQ(c->FieldType("PRICE"), dtCurrency);
  EXPECT_EQ(c->FieldSize("NAME"), 4);
  EXPECT_EQ(c->FieldSize("DATA"), 3);
  EXPECT_EQ(c->FieldSize("NOTE"), 4);
  EXPECT_EQ(c->FieldSize("ID"), 0);
  c->Next();
  EXPECT_TRUE(c->Eof());

  EXPECT_EQ(Select("SELECT [ID],[NAME] FROM [T] ORDER BY [ID]"),
            (std::vector<std::string>{"1|one", "2|TWO", "3|three", "4|four"}));
  IntfPtr<IArDbSQLCommand> del = Command("DELETE FROM [T] WHERE [ID]>?", {dtInteger});
  del->Execute({Value(2)});
  EXPECT_EQ(del->RowsAffected(), 2);
  EXPECT_EQ(Select("SELECT COUNT(*) AS [N] FROM [T]"), std::vector<std::string>{"2"});
}

TEST_F(PdoxSqlTest, QuotedQuestionMarksStayAndTheParameterCountMustMatch) {
  IntfPtr<IArDbSQLCommand> c =
      Command("SELECT [ID] FROM [T] WHERE [NAME]='?' OR [ID]=?", {dtInteger});
  EXPECT_EQ(Bde(c).Holder()->Query().SQL(),
            "SELECT \"ID\" FROM \"T\" WHERE \"NAME\"='?' OR \"ID\"=:PARAM0");
  EXPECT_TRUE(Bde(c).IsSelect());
  EXPECT_EQ(CursorRows(*c->Execute({Value(3)})), std::vector<std::string>{"3"});

  // A text naming a parameter of its own has one parameter more than its types.
  EXPECT_EQ(
      ErrorText([&] { Command("SELECT [ID] FROM [T] WHERE [ID]=:X AND [ID]=?", {dtInteger}); }),
      "(assertion) Invalid params count");
  EXPECT_FALSE(Bde(Command(" update [T] set [VAL]=1", {})).IsSelect());
}

TEST_F(PdoxSqlTest, ACursorKeepsItsQueryWhenTheCommandRunsAgain) {
  IntfPtr<IArDbSQLCommand> c =
      Command("SELECT [ID] FROM [T] WHERE [ID]>=? ORDER BY [ID]", {dtInteger});
  IntfPtr<IArDbCursor> first = c->Execute({Value(1)});
  TRefDataSet* first_holder = Bde(c).Holder();
  EXPECT_EQ(first_holder->RefCount(), 2);
  EXPECT_EQ(first->AsInteger(0, 0), 1);
  first->Next();

  IntfPtr<IArDbCursor> second = c->Execute({Value(3)});
  EXPECT_NE(Bde(c).Holder(), first_holder);
  EXPECT_EQ(Bde(c).Holder()->Query().SQL(), first_holder->Query().SQL());
  EXPECT_EQ(CursorRows(*second), std::vector<std::string>{"3"});
  EXPECT_EQ(CursorRows(*first), (std::vector<std::string>{"2", "3"}));

  // The second cursor gone, the command keeps its holder for the next run.
  TRefDataSet* holder = Bde(c).Holder();
  second = nullptr;
  EXPECT_EQ(holder->RefCount(), 1);
  EXPECT_EQ(CursorRows(*c->Execute({Value(2)})), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(Bde(c).Holder(), holder);
}

TEST_F(PdoxSqlTest, ANullBlobParameterUnpreparesAPreparedQuery) {
  IntfPtr<IArDbSQLCommand> c =
      Command("UPDATE [T] SET [NOTE]=?, [DATA]=? WHERE [ID]=?", {dtMemo, dtBinary, dtInteger});
  bde::TQuery& q = Bde(c).Holder()->Query();
  c->Execute({Value("text"), Value(Bytes{5}), Value(1)});
  EXPECT_TRUE(q.Prepared());
  EXPECT_EQ(q.PrepareCount(), 1);
  c->Execute({Value("more"), Value(Bytes{6}), Value(2)});
  EXPECT_EQ(q.PrepareCount(), 1);
  c->Execute({Value::Null(), Value(Bytes{7}), Value(1)});  // unprepared, prepared again
  EXPECT_TRUE(q.Prepared());
  EXPECT_EQ(q.PrepareCount(), 2);
  EXPECT_EQ(Select("SELECT [ID],[NOTE],[DATA] FROM [T] WHERE [ID]<3"),
            (std::vector<std::string>{"1|null|\x07", "2|more|\x06"}));

  // Without the prepare flag the query is never kept prepared.
  IntfPtr<IArDbSQLCommand> plain =
      Command("UPDATE [T] SET [NOTE]=? WHERE [ID]=?", {dtMemo, dtInteger}, false);
  plain->Execute({Value::Null(), Value(2)});
  EXPECT_FALSE(Bde(plain).Holder()->Query().Prepared());
  EXPECT_EQ(Select("SELECT [NOTE] FROM [T] WHERE [ID]=2"), std::vector<std::string>{"null"});
}

TEST_F(PdoxSqlTest, SqlErrorsAndKeyViolationsAreWrappedWithTheStatement) {
  const std::string bad =
      ErrorText([&] { Command("SELECT [NOPE] FROM [T]", {})->Execute(nullptr, 0); });
  EXPECT_EQ(bad.rfind("Запрос \"SELECT [NOPE] FROM [T]\".", 0), 0u) << bad;
  IntfPtr<IArDbSQLCommand> insert = Command("INSERT INTO [T] ([ID]) VALUES (?)", {dtInteger});
  const std::string dup = ErrorText([&] { insert->Execute({Value(1)}); });
  EXPECT_NE(dup.find("Ошибка"), std::string::npos) << dup;
  EXPECT_EQ(Select("SELECT COUNT(*) FROM [T]"), std::vector<std::string>{"3"});
  insert->Execute({Value(9)});  // still usable
  EXPECT_EQ(Select("SELECT COUNT(*) FROM [T]"), std::vector<std::string>{"4"});
}

TEST_F(PdoxSqlTest, ChangesReachTheFilesByCommitOrWhenTablesChangeOrTheDatabaseCloses) {
  namespace px = pxengine;
  const auto on_disk = [&] {
    px::DatabaseOptions options;
    options.mode = px::OpenMode::kReadOnly;
    auto reader = px::Database::Open(folder.Path(), options);
    return reader->OpenTable("T").RecordCount();
  };
  IntfPtr<IArDbSQLCommand> insert = Command("INSERT INTO [T] ([ID]) VALUES (?)", {dtInteger});
  db->StartTransaction();
  insert->Execute({Value(10)});
  db->Commit();
  EXPECT_EQ(on_disk(), 4u);
  insert->Execute({Value(11)});
  db->TableExists("T");
  const TArDbFieldDef fields[] = {{"A", dtInteger, 0, false}};
  CreateTableFromDefs(*db, "OTHER", fields, {});
  EXPECT_EQ(on_disk(), 5u);
  insert->Execute({Value(12)});
  db->Close();
  EXPECT_EQ(on_disk(), 6u);
}

TEST_F(PdoxSqlTest, ClosingTheDatabaseEndsItsQueries) {
  IntfPtr<IArDbSQLCommand> c = Command("SELECT [ID] FROM [T]", {});
  IntfPtr<IArDbCursor> cursor = c->Execute(nullptr, 0);
  db->Close();
  EXPECT_TRUE(cursor->Eof());
  EXPECT_EQ(ErrorText([&] { c->Execute(nullptr, 0); }), kArDbClosedText);
  db->Open(TPdoxArDb::MakeDescription(folder.Path()));
  EXPECT_EQ(Select("SELECT COUNT(*) FROM [T]"), std::vector<std::string>{"3"});
}

}  // namespace
}  // namespace atlor
