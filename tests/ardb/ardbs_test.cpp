#include "ardb/ardbs.h"

#include <gtest/gtest.h>

#include "core/exception.h"
#include "recording_backend.h"

namespace atlor {
namespace {

using test::TRecordingArDb;

TEST(ArDbDataTypeTest, TableOfTwelveCodes) {
  const TArDbDataType codes[] = {0x0100, 0x0200, 0x0300, 0x0400, 0x0500, 0x0501,
                                 0x0502, 0x0600, 0x0700, 0x0800, 0x0801, 0x0802};
  const char* captions[] = {"Логический",
                            "Целое число",
                            "Вещественное число",
                            "Денежная единица",
                            "Дата и время",
                            "Дата",
                            "Время",
                            "Строка",
                            "Текст",
                            "Двоичные данные",
                            "Рисунок",
                            "Документ"};
  for (int i = 0; i < kArDbDataTypeCount; ++i) {
    EXPECT_EQ(ArDbDataTypes[i].Code, codes[i]);
    EXPECT_EQ(DataTypeCaption(codes[i]), captions[i]);
  }
  EXPECT_STREQ(ArDbDataTypes[10].Name, "Picture");
  EXPECT_EQ(BaseDataType(dtDocument), dtBinary);
  EXPECT_EQ(BaseDataType(dtTime), dtDateTime);
  try {
    DataTypeCaption(0x0503);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "Ошибка получения описания типа данных: недопустимая комбинация типа и подтипа.");
  }
  EXPECT_THROW(DataTypeCaption(dtUnknown), Exception);
}

TEST(ArDbDataTypeTest, InListComparesBaseTypes) {
  const TArDbDataType list[] = {dtInteger, dtBinary};
  EXPECT_TRUE(DataTypeInList(dtDocument, list));
  EXPECT_TRUE(DataTypeInList(dtInteger, list));
  EXPECT_FALSE(DataTypeInList(dtDate, list));
  EXPECT_FALSE(DataTypeInList(dtBinary, {}));
}

TEST(ArDbContractTest, IdentitiesAndInfoLayouts) {
  EXPECT_EQ(IArDb::IID.ToString(), "{016BFCD3-B8F9-4C31-BB6D-B948CFD680A1}");
  EXPECT_EQ(IArDbCursor::IID.ToString(), "{9C430114-ED36-4D7B-B459-CDA567063FE0}");
  EXPECT_EQ(IArDbTableDef::IID.ToString(), "{51457F00-7972-41F3-A843-F85CC2902298}");
  EXPECT_EQ(IArDbSQLCommand::IID.ToString(), "{178927D6-0A58-40D5-A351-42C51124140E}");
  EXPECT_EQ(IArDbManager::IID.ToString(), "{1801F3B2-2579-4C76-972C-665380ED458A}");

  EXPECT_STREQ(ArDbInfoKindNames[ikDataTypesInfo], "DataTypesInfo");
  EXPECT_EQ(ArDbInfoFields(ikLiteralInfo).size(), 7u);
  EXPECT_EQ(ArDbInfoFields(ikLiteralInfo)[6].Name, "INVALIDSTARTINGCHARS");
  EXPECT_EQ(ArDbInfoFields(ikDataTypesInfo)[1], (TArDbFieldDef{"TYPENAME", dtString, -1, true}));
  EXPECT_TRUE(ArDbInfoFields(4).empty());
  for (int kind = 0; kind < kArDbInfoKindCount; ++kind)
    for (const TArDbFieldDef& f : ArDbInfoFields(kind)) EXPECT_EQ(f.Size, -1) << f.Name;

  EXPECT_EQ(StringParam("A"), (TArDbParam{"A", 0x0600}));
  EXPECT_EQ(IntegerParam("A").DataType, 0x0200);
  EXPECT_EQ(FloatParam("A").DataType, 0x0300);
  EXPECT_EQ(BinaryParam("A").DataType, 0x0800);
}

class StatementBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = IntfPtr<TRecordingArDb>(new TRecordingArDb);
    db->Open(TRecordingArDb::kDescription);
  }
  TRecordingArDb& Db() { return *db; }
  IntfPtr<TRecordingArDb> db;
};

TEST_F(StatementBuilderTest, Texts) {
  const TArDbParam idmaper[] = {IntegerParam("IDCLASS"), IntegerParam("LOCALID"),
                                StringParam("GLOBALID")};
  const TArDbParam set[] = {FloatParam("F")};
  const TArDbParam keys[] = {IntegerParam("K1"), StringParam("K2")};
  const TArDbParam one_key[] = {BinaryParam("K")};
  const std::string fields[] = {"A", "B"};
  struct Case {
    IntfPtr<IArDbSQLCommand> command;
    const char* sql;
    TArDbDataTypeArray types;
  };
  const Case cases[] = {
      {BuildSelectCommand(Db(), "ATLOR_DBINFO", {}, {}, false),
       "SELECT * FROM [ATLOR_DBINFO] ",
       {}},
      {BuildSelectCommand(Db(), "T", fields, keys, true),
       "SELECT [T].[A],[T].[B] FROM [T] WHERE ([T].[K1]=?) AND ([T].[K2]=?)",
       {0x0200, 0x0600}},
      {BuildSelectCommand(Db(), "T", {}, one_key, false),
       "SELECT * FROM [T] WHERE ([T].[K]=?)",
       {0x0800}},
      {BuildInsertCommand(Db(), "ATLOR_IDMAPER", idmaper, true),
       "INSERT INTO [ATLOR_IDMAPER] ([ATLOR_IDMAPER].[IDCLASS],[ATLOR_IDMAPER].[LOCALID],"
       "[ATLOR_IDMAPER].[GLOBALID]) VALUES(?,?,?)",
       {0x0200, 0x0200, 0x0600}},
      {BuildInsertCommand(Db(), "T", {}, false), "INSERT INTO [T] () VALUES()", {}},
      {BuildUpdateCommand(Db(), "T", set, keys, true),
       "UPDATE [T] SET [T].[F]=? WHERE ([T].[K1]=?) AND ([T].[K2]=?)",
       {0x0300, 0x0200, 0x0600}},
      {BuildUpdateCommand(Db(), "T", idmaper, {}, false),
       "UPDATE [T] SET [T].[IDCLASS]=?,[T].[LOCALID]=?,[T].[GLOBALID]=? ",
       {0x0200, 0x0200, 0x0600}},
  };
  for (const Case& c : cases) {
    auto* command = dynamic_cast<TArDbSQLCommand*>(c.command.get());
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->SQL(), c.sql);
    EXPECT_EQ(command->ParamTypes(), c.types) << c.sql;
  }
  EXPECT_TRUE(dynamic_cast<TArDbSQLCommand*>(cases[1].command.get())->Prepared());
  EXPECT_FALSE(dynamic_cast<TArDbSQLCommand*>(cases[0].command.get())->Prepared());
}

TEST_F(StatementBuilderTest, InsertUpdateSelectRoundTrip) {
  Db().AddTable("T", {{"ID", dtInteger, 0, true}, {"NAME", dtString, 20, false}});
  const TArDbParam insert_fields[] = {IntegerParam("ID"), StringParam("NAME")};
  IntfPtr<IArDbSQLCommand> insert = BuildInsertCommand(Db(), "T", insert_fields, true);
  insert->Execute({1, "one"});
  insert->Execute({2, "two"});
  EXPECT_EQ(insert->RowsAffected(), 1);

  const TArDbParam set[] = {StringParam("NAME")};
  const TArDbParam keys[] = {IntegerParam("ID")};
  IntfPtr<IArDbSQLCommand> update = BuildUpdateCommand(Db(), "T", set, keys, false);
  update->Execute({"TWO", 2});
  EXPECT_EQ(update->RowsAffected(), 1);

  const std::string name[] = {"NAME"};
  IntfPtr<IArDbCursor> c = BuildSelectCommand(Db(), "T", name, keys, false)->Execute({2});
  ASSERT_FALSE(c->Eof());
  EXPECT_EQ(c->FieldCount(), 1);
  EXPECT_EQ(c->AsString("name", ""), "TWO");

  IntfPtr<IArDbCursor> all = OpenTableCursor(Db(), "T");
  EXPECT_EQ(Db().Executions().back().SQL, "SELECT * FROM [T] ");
  EXPECT_TRUE(Db().Executions().back().Params.empty());
  int rows = 0;
  for (; !all->Eof(); all->Next()) ++rows;
  EXPECT_EQ(rows, 2);
}

TEST_F(StatementBuilderTest, CreateTableFromDefsCreatesWithIndexes) {
  const TArDbFieldDef fields[] = {{"ID", dtInteger, 0, true}, {"NAME", dtString, 40, false}};
  const TArDbIndexDef indexes[] = {{"PK", "ID", true, true}, {"BYNAME", "NAME", false, false}};
  CreateTableFromDefs(Db(), "ATLOR_LAYERS_TMP", fields, indexes);
  const std::vector<std::string> calls(Db().Calls().begin() + 1, Db().Calls().end());
  EXPECT_EQ(calls, (std::vector<std::string>{"DoCreateTable ATLOR_LAYERS_TMP with indexes",
                                             "DoLoad ATLOR_LAYERS_TMP"}));
  const test::TRecordedTable* t = Db().FindTable("ATLOR_LAYERS_TMP");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Fields, std::vector<TArDbFieldDef>(std::begin(fields), std::end(fields)));
  ASSERT_EQ(t->Indexes.size(), 2u);
  EXPECT_EQ(t->Indexes[0].Fields, "ID");
  EXPECT_TRUE(t->Indexes[0].Primary);
  EXPECT_NE(t->Indexes[1].Name, "BYNAME");  // the back-end names the indexes
  // The table exists now: a second creation fails in the back-end.
  EXPECT_THROW(CreateTableFromDefs(Db(), "ATLOR_LAYERS_TMP", fields, indexes), Exception);
}

TEST_F(StatementBuilderTest, UniqueTableName) {
  struct Case {
    const char* base;
    const char* suffix;
    int32_t limit;
    std::vector<std::string> existing;
    const char* expected;
  };
  const Case cases[] = {
      {"ABCDEFGH", "_T", 8, {}, "ABCDE_T0"},
      {"ABCDEFGH", "_T", 8, {"ABCDE_T0"}, "ABCDE_T1"},
      {"ATLOR_SECTORS", "_TMP", 24, {}, "ATLOR_SECTORS_TMP0"},
      {"ATLOR_SECTORS",
       "_TMP",
       24,
       {"ATLOR_SECTORS_TMP0", "ATLOR_SECTORS_TMP1", "ATLOR_SECTORS_TMP2", "ATLOR_SECTORS_TMP3",
        "ATLOR_SECTORS_TMP4", "ATLOR_SECTORS_TMP5", "ATLOR_SECTORS_TMP6", "ATLOR_SECTORS_TMP7",
        "ATLOR_SECTORS_TMP8", "ATLOR_SECTORS_TMP9"},
       "ATLOR_SECTORS_TMPA"},
      // Base 7 long, limit 8: the name is cut to keep the length of the base.
      {"ABCDEFG", "_T", 8, {}, "ABCD_T0"},
      // Lengths count characters, not bytes.
      {"СЛОИ", "_T", 6, {}, "С_T0"},
  };
  for (const Case& c : cases) {
    Db().Tables().clear();
    for (const std::string& name : c.existing) Db().AddTable(name, {{"ID", dtInteger, 0, true}});
    Db().TableNameLimit = c.limit;
    EXPECT_EQ(UniqueTableName(Db(), c.base, c.suffix), c.expected) << c.base << " " << c.limit;
  }
}

TEST_F(StatementBuilderTest, UniqueTableNameWithoutLimitRowUses24) {
  Db().HasTableNameRow = false;
  Db().TableNameLimit = 8;  // not reported without the row
  EXPECT_EQ(UniqueTableName(Db(), "ABCDEFGHIJKLMNOPQRSTU", "_T"), "ABCDEFGHIJKLMNOPQRSTU_T0");
  EXPECT_EQ(UniqueTableName(Db(), "ABCDEFGHIJKLMNOPQRSTUV", "_T"), "ABCDEFGHIJKLMNOPQRS_T0");
  Db().HasTableNameRow = true;
  EXPECT_EQ(UniqueTableName(Db(), "ABCDEFGHIJKLMNOPQRSTU", "_T"), "ABCDEFGHIJKLMNOPQR_T0");
}

}  // namespace
}  // namespace atlor
