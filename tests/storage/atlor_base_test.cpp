#include "storage/atlor_base.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "ardb/ardb_utils.h"
#include "facade_test_db.h"

namespace atlor {
namespace {

using test::TFacadeTestDb;

const char* const kDbinfoSelect = "SELECT * FROM [ATLOR_DBINFO] ";
const char* const kDbinfoUpdate =
    "UPDATE [ATLOR_DBINFO] SET [ATLOR_DBINFO].[IDGROUP]=?,[ATLOR_DBINFO].[IDNUMBER]=? ";
const char* const kIdmaperSelect =
    "SELECT * FROM [ATLOR_IDMAPER] ORDER BY [ATLOR_IDMAPER].[LOCALID]";
const char* const kIdmaperInsert =
    "INSERT INTO [ATLOR_IDMAPER] ([ATLOR_IDMAPER].[IDCLASS],[ATLOR_IDMAPER].[LOCALID],"
    "[ATLOR_IDMAPER].[GLOBALID]) VALUES(?,?,?)";

class AtlorBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_->Open(TFacadeTestDb::kDescription);
    for (const char* t : {"ATLOR_DBINFO", "ATLOR_IDMAPER", "ATLOR_SECTORS"})
      db_->CreateAtlorTable(t);
    db_->CreateAtlorTable("ATLOR_SECTORS", "ATLOR_SECTORS_TMP");
    db_->Made.clear();
    db_->Executions().clear();
  }

  void SetDbinfo(int32_t group, int32_t number) {
    db_->AddRow("ATLOR_DBINFO", {{"DBID", Value("DB")},
                                 {"IDGROUP", Value(group)},
                                 {"IDNUMBER", Value(number)},
                                 {"VERSION", Value(265)}});
  }
  void AddIdmaper(int32_t id_class, int32_t local_id) {
    db_->AddRow("ATLOR_IDMAPER", {{"IDCLASS", Value(id_class)},
                                  {"LOCALID", Value(local_id)},
                                  {"GLOBALID", Value("{00000000-0000-0000-0000-000000000000}")}});
  }

  IntfPtr<TFacadeTestDb> db_{new TFacadeTestDb};
  TMemoryLogSink log_;
  RefHolder<TAtlorBase> base_{new TAtlorBase(IntfPtr<IArDb>(db_.get()), log_)};
};

TEST_F(AtlorBaseTest, NewIdIncrementsTheNumberInEveryDbinfoRow) {
  SetDbinfo(5, 41);
  SetDbinfo(5, 41);
  EXPECT_EQ(base_->NewId().Str(), "00050000002A");
  for (size_t row : {0u, 1u}) {
    EXPECT_EQ(db_->Cell("ATLOR_DBINFO", row, "IDGROUP"), Value(5));
    EXPECT_EQ(db_->Cell("ATLOR_DBINFO", row, "IDNUMBER"), Value(42));
  }
  EXPECT_EQ(base_->NewId().Str(), "00050000002B");

  // The whole-table read is unprepared, the update prepared; each made once.
  ASSERT_NE(db_->FindMade(kDbinfoSelect), nullptr);
  EXPECT_FALSE(db_->FindMade(kDbinfoSelect)->Prepared);
  EXPECT_TRUE(db_->FindMade(kDbinfoSelect)->ParamTypes.empty());
  const test::TMadeCommand* update = db_->FindMade(kDbinfoUpdate);
  ASSERT_NE(update, nullptr);
  EXPECT_TRUE(update->Prepared);
  EXPECT_EQ(update->ParamTypes, (TArDbDataTypeArray{dtInteger, dtInteger}));
  EXPECT_EQ(db_->CountMade(kDbinfoSelect), 1);
  EXPECT_EQ(db_->CountMade(kDbinfoUpdate), 1);
  const auto executions = db_->ExecutionsOf(kDbinfoUpdate);
  ASSERT_EQ(executions.size(), 2u);
  EXPECT_EQ(executions[1].Params, (std::vector<Value>{Value(5), Value(43)}));
}

TEST_F(AtlorBaseTest, NewIdClaimsANewGroupWhenTheNumbersRunOut) {
  SetDbinfo(7, 2147483647);
  AddIdmaper(0, 1);
  AddIdmaper(0, 2);
  EXPECT_EQ(base_->NewId().Str(), "0003000003E8");  // group 3, number 1000
  EXPECT_EQ(db_->Cell("ATLOR_DBINFO", 0, "IDGROUP"), Value(3));
  EXPECT_EQ(db_->Cell("ATLOR_DBINFO", 0, "IDNUMBER"), Value(1000));
  ASSERT_EQ(db_->FindTable("ATLOR_IDMAPER")->Rows.size(), 3u);
  EXPECT_EQ(db_->Cell("ATLOR_IDMAPER", 2, "LOCALID"), Value(3));
}

TEST_F(AtlorBaseTest, NewIdOnAnEmptyDbinfoFailsWithTheCursorError) {
  try {
    base_->NewId();
    FAIL() << "no error";
  } catch (const EArDbException& e) {
    EXPECT_EQ(e.Message(), kArDbCursorClosedText);
  }
  EXPECT_TRUE(db_->ExecutionsOf(kDbinfoUpdate).empty());
}

TEST_F(AtlorBaseTest, NewIdGroupTakesTheFirstGap) {
  struct Case {
    std::vector<std::pair<int32_t, int32_t>> Rows;  // IDCLASS, LOCALID in LOCALID order
    int32_t Expected;
  };
  const Case cases[] = {
      {{}, 1},
      {{{0, 1}, {0, 2}, {0, 4}}, 3},
      {{{0, 2}, {0, 3}}, 1},
      {{{0, 1}, {0, 2}, {0, 3}}, 4},
      // Another class shares a LOCALID: stepped over, never inserted twice.
      {{{0, 1}, {1, 1}, {0, 2}}, 3},
      {{{1, 1}, {0, 2}, {1, 2}, {0, 4}}, 3},
      // LOCALID 0 is no group.
      {{{0, 0}, {0, 1}}, 2},
  };
  for (const Case& c : cases) {
    db_->FindTable("ATLOR_IDMAPER")->Rows.clear();
    db_->Executions().clear();
    for (const auto& [id_class, local_id] : c.Rows) AddIdmaper(id_class, local_id);
    EXPECT_EQ(base_->NewIdGroup(), c.Expected);
    const auto inserts = db_->ExecutionsOf(kIdmaperInsert);
    ASSERT_EQ(inserts.size(), 1u);
    ASSERT_EQ(inserts[0].Params.size(), 3u);
    EXPECT_EQ(inserts[0].Params[0], Value(0));
    EXPECT_EQ(inserts[0].Params[1], Value(c.Expected));
    EXPECT_TRUE(std::regex_match(
        inserts[0].Params[2].ToString(),
        std::regex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})")))
        << inserts[0].Params[2].ToString();
  }
  const test::TMadeCommand* select = db_->FindMade(kIdmaperSelect);
  ASSERT_NE(select, nullptr);
  EXPECT_TRUE(select->Prepared);
  EXPECT_TRUE(select->ParamTypes.empty());
  const test::TMadeCommand* insert = db_->FindMade(kIdmaperInsert);
  ASSERT_NE(insert, nullptr);
  EXPECT_TRUE(insert->Prepared);
  EXPECT_EQ(insert->ParamTypes, (TArDbDataTypeArray{dtInteger, dtInteger, dtString}));
}

TEST_F(AtlorBaseTest, NewIdGroupsHaveDistinctGlobalIds) {
  base_->NewIdGroup();
  base_->NewIdGroup();
  EXPECT_EQ(db_->Cell("ATLOR_IDMAPER", 1, "LOCALID"), Value(2));
  EXPECT_NE(db_->Cell("ATLOR_IDMAPER", 0, "GLOBALID"), db_->Cell("ATLOR_IDMAPER", 1, "GLOBALID"));
}

TEST_F(AtlorBaseTest, ObjectsBlobReadAndWrite) {
  db_->AddRow("ATLOR_SECTORS_TMP", {{"ID", Value("000100000001")}});
  db_->AddRow("ATLOR_SECTORS_TMP", {{"ID", Value("000100000002")},
                                    {"OBJECTS", Value(Bytes{1, 2, 3})}});
  const TObjectId id1("000100000001");
  const TObjectId id2("000100000002");

  EXPECT_TRUE(base_->ReadObjectsBlob(id1, "ATLOR_SECTORS_TMP").IsNull());
  EXPECT_EQ(base_->ReadObjectsBlob(id2, "ATLOR_SECTORS_TMP"), Value(Bytes{1, 2, 3}));

  base_->WriteObjectsBlob(id1, Value(Bytes{9, 8}), "ATLOR_SECTORS_TMP");
  EXPECT_EQ(base_->ReadObjectsBlob(id1, "ATLOR_SECTORS_TMP"), Value(Bytes{9, 8}));
  base_->WriteObjectsBlob(id2, Value::Null(), "ATLOR_SECTORS_TMP");
  EXPECT_TRUE(base_->ReadObjectsBlob(id2, "ATLOR_SECTORS_TMP").IsNull());

  const std::string read_sql =
      "SELECT [ATLOR_SECTORS_TMP].[OBJECTS] FROM [ATLOR_SECTORS_TMP] WHERE "
      "([ATLOR_SECTORS_TMP].[ID]=?)";
  const std::string write_sql =
      "UPDATE [ATLOR_SECTORS_TMP] SET [ATLOR_SECTORS_TMP].[OBJECTS]=? WHERE "
      "([ATLOR_SECTORS_TMP].[ID]=?)";
  const test::TMadeCommand* read = db_->FindMade(read_sql);
  const test::TMadeCommand* write = db_->FindMade(write_sql);
  ASSERT_NE(read, nullptr);
  ASSERT_NE(write, nullptr);
  EXPECT_TRUE(read->Prepared);
  EXPECT_EQ(read->ParamTypes, TArDbDataTypeArray{dtString});
  EXPECT_TRUE(write->Prepared);
  EXPECT_EQ(write->ParamTypes, (TArDbDataTypeArray{dtBinary, dtString}));
  // Made once, executed every time.
  EXPECT_EQ(db_->CountMade(read_sql), 1);
  EXPECT_EQ(db_->CountMade(write_sql), 1);
  EXPECT_EQ(db_->ExecutionsOf(read_sql).size(), 4u);
  EXPECT_EQ(db_->ExecutionsOf(write_sql)[0].Params,
            (std::vector<Value>{Value(Bytes{9, 8}), Value("000100000001")}));
}

TEST_F(AtlorBaseTest, StatementsArePerTableAndMadeAgainAfterClearing) {
  db_->AddRow("ATLOR_SECTORS", {{"ID", Value("000100000001")}});
  db_->AddRow("ATLOR_SECTORS_TMP", {{"ID", Value("000100000001")},
                                    {"OBJECTS", Value(Bytes{7})}});
  const TObjectId id("000100000001");
  EXPECT_TRUE(base_->ReadObjectsBlob(id, "ATLOR_SECTORS").IsNull());
  EXPECT_EQ(base_->ReadObjectsBlob(id, "ATLOR_SECTORS_TMP"), Value(Bytes{7}));
  EXPECT_EQ(db_->Made.size(), 2u);

  base_->ClearCommandCache();
  EXPECT_TRUE(base_->ReadObjectsBlob(id, "ATLOR_SECTORS").IsNull());
  EXPECT_EQ(db_->Made.size(), 3u);
  EXPECT_EQ(db_->Made[2].SQL, db_->Made[0].SQL);
}

TEST_F(AtlorBaseTest, ReadingAMissingRowFailsAndLeavesTheStatementUsable) {
  db_->AddRow("ATLOR_SECTORS", {{"ID", Value("000100000001")}, {"OBJECTS", Value(Bytes{5})}});
  try {
    base_->ReadObjectsBlob(TObjectId("0001000000FF"), "ATLOR_SECTORS");
    FAIL() << "no error";
  } catch (const EArDbException& e) {
    EXPECT_EQ(e.Message(), kArDbCursorClosedText);
  }
  EXPECT_EQ(base_->ReadObjectsBlob(TObjectId("000100000001"), "ATLOR_SECTORS"), Value(Bytes{5}));
}

TEST_F(AtlorBaseTest, DatabaseErrorsPropagate) {
  db_->AddRow("ATLOR_SECTORS", {{"ID", Value("000100000001")}});
  db_->FailOn("DoExecute", "disk full");
  EXPECT_THROW(base_->WriteObjectsBlob(TObjectId("000100000001"), Value(Bytes{1}), "ATLOR_SECTORS"),
               Exception);
  // A blob must be bytes or Null.
  EXPECT_THROW(base_->WriteObjectsBlob(TObjectId("000100000001"), Value("text"), "ATLOR_SECTORS"),
               EArDbException);
}

TEST_F(AtlorBaseTest, CursorsAreClosedAfterEachRead) {
  SetDbinfo(1, 1);
  db_->AddRow("ATLOR_SECTORS", {{"ID", Value("000100000001")}});
  db_->ClearCalls();
  base_->NewId();
  base_->ReadObjectsBlob(TObjectId("000100000001"), "ATLOR_SECTORS");
  int closes = 0;
  for (const std::string& call : db_->Calls()) closes += call == "Cursor.DoClose";
  EXPECT_EQ(closes, 2);
}

}  // namespace
}  // namespace atlor
