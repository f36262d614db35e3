// SQL over the engine's tables: lookups through the indexes, joins, types both ways, changes,
// transactions and savepoints, tables made after the connection, refused statements.

#include <gtest/gtest.h>

#include <filesystem>

#include "backends/paradox/engine/px_check.h"
#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_sql.h"
#include "px_test_util.h"

namespace atlor::pxengine {
namespace {

using testing::ScratchDir;

constexpr int kSectors = 200;
constexpr int kLayers = 5;

std::string SectorId(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "0001%08X", i);
  return b;
}
std::string LayerId(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "0002%08X", i);
  return b;
}
Bytes Objects(int i, int round = 0) {
  Bytes b(i % 5 == 0 ? 0 : 100 + (i * 131 + round * 17) % 4000);
  for (size_t k = 0; k < b.size(); ++k) b[k] = static_cast<uint8_t>(k * 3 + i + round);
  return b;
}

std::vector<FieldDef> SectorFields() {
  return {{"ID", FieldType::kAlpha, 12, true},       {"LAYERID", FieldType::kAlpha, 12, false},
          {"BOUNDSL", FieldType::kNumber, 0, false}, {"S0", FieldType::kAlpha, 12, false},
          {"PRICE", FieldType::kMoney, 0, false},    {"VISIBLE", FieldType::kLogical, 0, false},
          {"DAY", FieldType::kDate, 0, false},       {"AT", FieldType::kTime, 0, false},
          {"STAMP", FieldType::kTimestamp, 0, false}, {"LEVEL", FieldType::kShort, 0, false},
          {"COUNT", FieldType::kLong, 0, false},     {"NOTE", FieldType::kMemo, 20, false},
          {"OBJECTS", FieldType::kBinary, 0, false}};
}

std::vector<Value> SectorRow(int i) {
  return {Value(SectorId(i)),
          Value(LayerId(i % kLayers)),
          Value(i * 0.5 - 10),
          i % 3 ? Value(SectorId(i + 1)) : Value::Null(),
          Value(Currency{i * 12345LL}),
          Value(i % 2 == 0),
          Value(EncodeDateTime(2020, 1 + i % 12, 1 + i % 28)),
          Value(EncodeDateTime(1899, 12, 30, i % 24, i % 60, 5)),
          Value(EncodeDateTime(2021, 3, 4, 5, 6, 7, 8)),
          Value(int32_t(i % 7)),
          Value(int32_t(i * 1000)),
          i % 4 ? Value("Сектор " + std::to_string(i) + std::string(i % 40, '.')) : Value::Null(),
          Objects(i).empty() ? Value::Null() : Value(Objects(i))};
}

class PxSql : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = Database::Open(dir_.Str());
    IndexDef pk{"", {"ID"}, true, true};
    IndexDef layer{"LAYERID", {"LAYERID"}, false, false};
    db_->CreateTable("ATLOR_SECTORS", SectorFields(), {pk, layer});
    db_->CreateTable("ATLOR_LAYERS",
                     {{"ID", FieldType::kAlpha, 12, true}, {"NAME", FieldType::kAlpha, 64, false},
                      {"SECTORS", FieldType::kLong, 0, false}},
                     {pk});
    Table& s = db_->OpenTable("ATLOR_SECTORS");
    for (int i = 0; i < kSectors; ++i) s.Insert(SectorRow(i));
    Table& l = db_->OpenTable("ATLOR_LAYERS");
    for (int i = 0; i < kLayers; ++i)
      l.Insert({Value(LayerId(i)), Value("Слой " + std::to_string(i)), Value(int32_t(kSectors / kLayers))});
    db_->Flush();
    sql_ = std::make_unique<SqlConnection>(*db_);
  }

  Table& Sectors() { return db_->OpenTable("ATLOR_SECTORS"); }
  RowId SectorRowId(int i) { return *Sectors().FindKey({Value(SectorId(i))}); }
  int64_t Count(const std::string& where = "") {
    SqlStatement s = sql_->Prepare("SELECT COUNT(*) FROM \"ATLOR_SECTORS\"" + where);
    EXPECT_TRUE(s.Step());
    return s.ColumnValue(0).ToInt64();
  }

  ScratchDir dir_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<SqlConnection> sql_;
};

TEST_F(PxSql, LookupsByKeyUseTheIndexAndGiveTypedValues) {
  SqlStatement get = sql_->Prepare("SELECT * FROM \"ATLOR_SECTORS\" WHERE \"ID\"=:PARAM0");
  ASSERT_EQ(get.ColumnCount(), 13);
  sql_->ResetStats();
  for (int i = 0; i < kSectors; i += 7) {
    get.Bind(0, Value(SectorId(i)));
    ASSERT_TRUE(get.Step()) << i;
    const auto want = SectorRow(i);
    for (int f = 0; f < 13; ++f) EXPECT_EQ(get.ColumnValue(f), want[f]) << "sector " << i << " field " << f;
    EXPECT_FALSE(get.Step());
  }
  get.Bind(0, Value("000100000FFF"));  // no such sector
  EXPECT_FALSE(get.Step());
  get.Bind(0, Value::Null());
  EXPECT_FALSE(get.Step());
  const SqlStats st = sql_->Stats();
  EXPECT_EQ(st.full_scans, 0u);
  EXPECT_EQ(st.rows_visited, static_cast<uint64_t>((kSectors + 6) / 7));

  // Declared types and origins.
  EXPECT_EQ(get.ColumnDeclType(4), "MONEY REAL");
  EXPECT_EQ(get.ColumnFieldType(6), FieldType::kDate);
  EXPECT_EQ(get.ColumnFieldType(12), FieldType::kBinary);
  EXPECT_EQ(get.ColumnTableName(1), "ATLOR_SECTORS");
  EXPECT_EQ(get.ColumnOriginName(1), "LAYERID");
  for (FieldType t : {FieldType::kAlpha, FieldType::kMemo, FieldType::kLong, FieldType::kAutoInc, FieldType::kBcd,
                      FieldType::kTimestamp, FieldType::kGraphic, FieldType::kBytes, FieldType::kFmtMemo})
    EXPECT_EQ(FieldTypeOfSqlColumn(SqlColumnType(t)), t);

  // Other spellings of the same key: a number for a text key, names in other case, "?".
  SqlStatement other = sql_->Prepare("select s.\"BOUNDSL\" from \"atlor_sectors\" s where s.\"id\" = ?");
  other.Bind(0, Value(SectorId(12)));
  ASSERT_TRUE(other.Step());
  EXPECT_EQ(other.ColumnValue(0), Value(12 * 0.5 - 10));
  EXPECT_EQ(sql_->Stats().full_scans, 0u);
}

TEST_F(PxSql, LookupsByIndexedFieldUseTheIndex) {
  SqlStatement by_layer =
      sql_->Prepare("SELECT \"ID\" FROM \"ATLOR_SECTORS\" WHERE \"LAYERID\"=:PARAM0 AND \"LEVEL\"=:PARAM1");
  sql_->ResetStats();
  by_layer.Bind(":PARAM0", Value(LayerId(2)));
  by_layer.Bind("PARAM1", Value(int32_t{3}));
  int n = 0;
  while (by_layer.Step()) {
    const int i = std::stoi(by_layer.ColumnValue(0).ToString().substr(4), nullptr, 16);
    EXPECT_EQ(i % kLayers, 2);
    EXPECT_EQ(i % 7, 3);
    ++n;
  }
  EXPECT_GT(n, 0);
  EXPECT_EQ(sql_->Stats().full_scans, 0u);
  EXPECT_EQ(sql_->Stats().rows_visited, static_cast<uint64_t>(kSectors / kLayers));  // the layer's rows only
  // A condition without an index walks the table.
  EXPECT_EQ(Count(" WHERE \"LEVEL\"=3"), (kSectors + 3) / 7);
  EXPECT_EQ(sql_->Stats().full_scans, 1u);
  // The plan says so too.
  SqlStatement plan = sql_->Prepare("EXPLAIN QUERY PLAN SELECT * FROM \"ATLOR_SECTORS\" WHERE \"ID\"=:PARAM0");
  ASSERT_TRUE(plan.Step());
  EXPECT_NE(plan.ColumnValue(3).ToString().find("VIRTUAL TABLE INDEX 65538"), std::string::npos)
      << plan.ColumnValue(3).ToString();  // plan 2 (index), index 0, one field
}

TEST_F(PxSql, JoinWithAliasesAndCounts) {
  SqlStatement join = sql_->Prepare(
      "SELECT L.\"NAME\", COUNT(S.\"ID\"), SUM(S.\"COUNT\") FROM \"ATLOR_LAYERS\" L "
      "JOIN \"ATLOR_SECTORS\" S ON S.\"LAYERID\" = L.\"ID\" GROUP BY L.\"NAME\" ORDER BY L.\"NAME\"");
  sql_->ResetStats();
  int layers = 0;
  while (join.Step()) {
    EXPECT_EQ(join.ColumnValue(0), Value("Слой " + std::to_string(layers)));
    EXPECT_EQ(join.ColumnValue(1), Value(int32_t{kSectors / kLayers}));
    int64_t sum = 0;
    for (int i = layers; i < kSectors; i += kLayers) sum += i * 1000;
    EXPECT_EQ(join.ColumnValue(2).ToInt64(), sum);
    ++layers;
  }
  EXPECT_EQ(layers, kLayers);
  // One walk over the layers; the sectors of each come from the LAYERID index.
  EXPECT_EQ(sql_->Stats().full_scans, 1u);
  EXPECT_EQ(sql_->Stats().index_lookups, static_cast<uint64_t>(kLayers));

  SqlStatement count = sql_->Prepare(
      "select count(A.\"ID\") from \"ATLOR_SECTORS\" A where A.\"LAYERID\"=:PARAM0");
  count.Bind(0, Value(LayerId(4)));
  ASSERT_TRUE(count.Step());
  EXPECT_EQ(count.ColumnValue(0), Value(int32_t{kSectors / kLayers}));
  // The same command again while nothing changed, and after a change.
  Sectors().Delete(SectorRowId(4));
  count.Bind(0, Value(LayerId(4)));
  ASSERT_TRUE(count.Step());
  EXPECT_EQ(count.ColumnValue(0), Value(int32_t{kSectors / kLayers - 1}));
}

TEST_F(PxSql, InsertUpdateBlobDeleteReachTheEngineAndTheFiles) {
  SqlStatement insert = sql_->Prepare(
      "INSERT INTO \"ATLOR_SECTORS\" (\"ID\",\"LAYERID\",\"BOUNDSL\",\"PRICE\",\"VISIBLE\",\"DAY\",\"STAMP\","
      "\"LEVEL\",\"NOTE\",\"OBJECTS\") VALUES (:PARAM0,:PARAM1,:PARAM2,:PARAM3,:PARAM4,:PARAM5,:PARAM6,:PARAM7,"
      ":PARAM8,:PARAM9)");
  const DateTime day = EncodeDateTime(2024, 2, 29);
  const DateTime stamp = EncodeDateTime(2024, 2, 29, 13, 14, 15, 16);
  const Bytes blob(5000, 0x5A);
  const std::vector<Value> params = {Value("00AA00000001"), Value(LayerId(1)), Value(1.25),
                                     Value(Currency{-7 * Currency::kScale}), Value(true), Value(day), Value(stamp),
                                     Value(int32_t{-3}), Value("Примечание"), Value(blob)};
  for (size_t k = 0; k < params.size(); ++k) insert.Bind(static_cast<int>(k), params[k]);
  EXPECT_EQ(insert.Execute(), 1);
  Table& t = Sectors();
  const RowId row = *t.FindKey({Value("00AA00000001")});
  EXPECT_EQ(t.Get(row, 4), Value(Currency{-7 * Currency::kScale}));
  EXPECT_EQ(t.Get(row, 5), Value(true));
  EXPECT_EQ(t.Get(row, 6), Value(day));
  EXPECT_EQ(t.Get(row, 8), Value(stamp));
  EXPECT_EQ(t.Get(row, 9), Value(int32_t{-3}));
  EXPECT_EQ(t.Get(row, 11), Value("Примечание"));
  EXPECT_EQ(t.Get(row, 12), Value(blob));
  EXPECT_TRUE(t.Get(row, 3).IsNull());
  // A duplicate key: the engine's error, and nothing changes.
  EXPECT_THROW(insert.Execute(), EPxError);
  EXPECT_EQ(t.RecordCount(), static_cast<uint32_t>(kSectors + 1));

  SqlStatement set_blob = sql_->Prepare("UPDATE \"ATLOR_SECTORS\" SET \"OBJECTS\"=:PARAM0 WHERE \"ID\"=:PARAM1");
  sql_->ResetStats();
  for (int i = 0; i < kSectors; ++i) {
    set_blob.Bind(0, Objects(i, 1).empty() ? Value::Null() : Value(Objects(i, 1)));
    set_blob.Bind(1, Value(SectorId(i)));
    EXPECT_EQ(set_blob.Execute(), 1);
  }
  EXPECT_EQ(sql_->Stats().full_scans, 0u);
  set_blob.Bind(1, Value("nonexistent"));
  EXPECT_EQ(set_blob.Execute(), 0);

  SqlStatement del = sql_->Prepare("DELETE FROM \"ATLOR_SECTORS\" WHERE \"LAYERID\"=?");
  del.Bind(0, Value(LayerId(3)));
  EXPECT_EQ(del.Execute(), kSectors / kLayers);
  db_->Flush();
  EXPECT_EQ(CheckFamily(dir_.Str(), "ATLOR_SECTORS"), std::vector<std::string>{});

  sql_.reset();
  db_.reset();
  db_ = Database::Open(dir_.Str());
  Table& u = Sectors();
  EXPECT_EQ(u.RecordCount(), static_cast<uint32_t>(kSectors + 1 - kSectors / kLayers));
  for (int i = 0; i < kSectors; ++i) {
    auto r = u.FindKey({Value(SectorId(i))});
    ASSERT_EQ(r.has_value(), i % kLayers != 3) << i;
    if (r) {
      EXPECT_EQ(u.Get(*r, 12), Objects(i, 1).empty() ? Value::Null() : Value(Objects(i, 1))) << i;
    }
  }
}

TEST_F(PxSql, BlobsAreReadOnlyWhenAskedFor) {
  SqlStatement get = sql_->Prepare("SELECT \"LAYERID\" FROM \"ATLOR_SECTORS\" WHERE \"ID\"=?");
  SqlStatement set = sql_->Prepare("UPDATE \"ATLOR_SECTORS\" SET \"S0\"='X' WHERE \"ID\"=?");
  SqlStatement blob = sql_->Prepare("SELECT \"OBJECTS\" FROM \"ATLOR_SECTORS\" WHERE \"ID\"=?");
  // Spoil the .MB file: only a statement that reads the BLOB column notices.
  {
    const auto path = dir_.Path() / "ATLOR_SECTORS.MB";
    std::vector<char> junk(std::filesystem::file_size(path) - 4096, 0x7F);
    FILE* f = std::fopen(path.c_str(), "r+b");
    std::fseek(f, 4096, SEEK_SET);
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
  }
  get.Bind(0, Value(SectorId(7)));
  ASSERT_TRUE(get.Step());
  EXPECT_EQ(get.ColumnValue(0), Value(LayerId(7 % kLayers)));
  set.Bind(0, Value(SectorId(7)));
  EXPECT_EQ(set.Execute(), 1);
  blob.Bind(0, Value(SectorId(7)));
  EXPECT_THROW(blob.Step(), EPxCorrupt);  // the engine's own error comes through
}

TEST_F(PxSql, TransactionsAndFailedStatementsUndoEverything) {
  Table& t = Sectors();
  const Value before5 = t.Get(SectorRowId(5), 12);
  // A statement that fails half-way changes nothing: the rows of layer 1 past sector 107 would
  // get a number too large for their field.
  EXPECT_THROW(sql_->Execute("UPDATE \"ATLOR_SECTORS\" SET \"COUNT\"=\"COUNT\"*20000 WHERE \"LAYERID\"='" +
                             LayerId(1) + "'"),
               EPxError);
  EXPECT_EQ(t.Get(SectorRowId(1), 10), Value(int32_t{1000}));
  EXPECT_EQ(t.Get(SectorRowId(106), 10), Value(int32_t{106000}));
  EXPECT_FALSE(t.Modified());
  EXPECT_THROW(sql_->Execute("INSERT INTO \"ATLOR_SECTORS\" (\"ID\") SELECT 'N' || \"ID\" FROM \"ATLOR_SECTORS\" "
                             "UNION ALL SELECT '000100000005'"),
               EPxError);
  EXPECT_EQ(Count(), kSectors);

  // BEGIN ... ROLLBACK.
  sql_->Execute("BEGIN");
  EXPECT_TRUE(sql_->InTransaction());
  sql_->Execute("DELETE FROM \"ATLOR_SECTORS\" WHERE \"LAYERID\"='" + LayerId(0) + "'");
  EXPECT_TRUE(db_->InTransaction());
  SqlStatement set_blob = sql_->Prepare("UPDATE \"ATLOR_SECTORS\" SET \"OBJECTS\"=? WHERE \"ID\"=?");
  set_blob.Bind(0, Value(Bytes(3000, 1)));
  set_blob.Bind(1, Value(SectorId(5 + 1)));
  set_blob.Execute();
  sql_->Execute("INSERT INTO \"ATLOR_LAYERS\" (\"ID\") VALUES ('X')");
  EXPECT_EQ(Count(), kSectors - kSectors / kLayers);
  sql_->Execute("ROLLBACK");
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Count(), kSectors);
  EXPECT_EQ(t.Get(SectorRowId(6), 12), SectorRow(6)[12]);
  EXPECT_EQ(db_->OpenTable("ATLOR_LAYERS").RecordCount(), static_cast<uint32_t>(kLayers));

  // BEGIN, SAVEPOINT, ROLLBACK TO, COMMIT: the commit writes the tables.
  sql_->Execute("BEGIN; UPDATE \"ATLOR_SECTORS\" SET \"LEVEL\"=100 WHERE \"ID\"='" + SectorId(1) + "'");
  sql_->Execute("SAVEPOINT a; UPDATE \"ATLOR_SECTORS\" SET \"LEVEL\"=200 WHERE \"ID\"='" + SectorId(2) + "'");
  sql_->Execute("ROLLBACK TO a; RELEASE a; COMMIT");
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(db_->SavepointCount(), 0);
  EXPECT_FALSE(t.Modified());  // written by the commit
  // A transaction of the Database takes SQL statements in.
  db_->StartTransaction();
  sql_->Execute("DELETE FROM \"ATLOR_SECTORS\"");
  EXPECT_EQ(Count(), 0);
  db_->Rollback();
  EXPECT_EQ(Count(), kSectors);
  EXPECT_EQ(t.Get(SectorRowId(5), 12), before5);
  sql_.reset();
  db_.reset();
  db_ = Database::Open(dir_.Str());
  EXPECT_EQ(Sectors().Get(SectorRowId(1), 9), Value(int32_t{100}));
  EXPECT_EQ(Sectors().Get(SectorRowId(2), 9), SectorRow(2)[9]);
}

TEST_F(PxSql, TablesMadeRenamedAndDroppedAfterTheConnectionOpened) {
  SqlStatement old_name = sql_->Prepare("SELECT COUNT(*) FROM \"ATLOR_LAYERS\"");
  db_->CreateTable("ATLOR_SECTORS_TMP", SectorFields(), {IndexDef{"", {"ID"}, true, true}});
  SqlStatement copy = sql_->Prepare("INSERT INTO \"ATLOR_SECTORS_TMP\" SELECT * FROM \"ATLOR_SECTORS\" WHERE \"LEVEL\"=1");
  EXPECT_EQ(copy.Execute(), (kSectors + 5) / 7);
  SqlStatement in_tmp = sql_->Prepare("SELECT \"OBJECTS\" FROM \"atlor_sectors_tmp\" WHERE \"ID\"=:PARAM0");
  in_tmp.Bind(0, Value(SectorId(8)));
  ASSERT_TRUE(in_tmp.Step());
  EXPECT_EQ(in_tmp.ColumnValue(0), SectorRow(8)[12]);
  in_tmp.Reset();

  db_->Flush();
  db_->RenameTable("ATLOR_LAYERS", "ATLOR_LAYERS_OLD");
  EXPECT_THROW(old_name.Step(), EPxError);
  EXPECT_THROW(sql_->Prepare("SELECT * FROM \"ATLOR_LAYERS\""), EPxError);
  SqlStatement renamed = sql_->Prepare("SELECT COUNT(*) FROM \"ATLOR_LAYERS_OLD\"");
  ASSERT_TRUE(renamed.Step());
  EXPECT_EQ(renamed.ColumnValue(0), Value(int32_t{kLayers}));
  renamed.Reset();

  db_->DeleteTable("ATLOR_SECTORS_TMP");
  EXPECT_THROW(in_tmp.Step(), EPxError);
  // Made again with other fields: a new statement sees the new ones.
  db_->CreateTable("ATLOR_SECTORS_TMP", {{"A", FieldType::kLong, 0, false}}, {});
  sql_->Execute("INSERT INTO \"ATLOR_SECTORS_TMP\" VALUES (42)");
  SqlStatement fresh = sql_->Prepare("SELECT \"A\" FROM \"ATLOR_SECTORS_TMP\"");
  ASSERT_TRUE(fresh.Step());
  EXPECT_EQ(fresh.ColumnValue(0), Value(int32_t{42}));
  EXPECT_EQ(fresh.ColumnFieldType(0), FieldType::kLong);

  // A table another program makes: found when a statement names it.
  db_->Flush();
  DatabaseOptions ro;
  ro.mode = OpenMode::kReadOnly;
  auto reader = Database::Open(dir_.Str(), ro);
  SqlConnection reader_sql(*reader);
  db_->CreateTable("LATE", {{"A", FieldType::kAlpha, 5, false}}, {});
  db_->OpenTable("LATE").Insert({Value("x")});
  db_->Flush();
  SqlStatement late = reader_sql.Prepare("SELECT \"A\" FROM \"LATE\"");
  ASSERT_TRUE(late.Step());
  EXPECT_EQ(late.ColumnValue(0), Value("x"));
  // A reader cannot change tables.
  try {
    reader_sql.Execute("DELETE FROM \"LATE\"");
    ADD_FAILURE() << "a read-only database took a change";
  } catch (const EPxError& e) {
    EXPECT_NE(std::string(e.what()).find("reading only"), std::string::npos) << e.what();
  }
}

TEST_F(PxSql, StatementsThatWouldChangeTheSchemaAreRefused) {
  for (const char* text : {"CREATE TABLE \"X\" (\"A\" INTEGER)", "DROP TABLE \"ATLOR_LAYERS\"",
                           "ALTER TABLE \"ATLOR_LAYERS\" RENAME TO \"Y\"", "ATTACH DATABASE '/tmp/x.db' AS x",
                           "PRAGMA writable_schema=1", "CREATE VIEW v AS SELECT 1",
                           "CREATE INDEX i ON \"ATLOR_LAYERS\"(\"NAME\")"}) {
    EXPECT_THROW(sql_->Execute(text), EPxError) << text;
  }
  EXPECT_TRUE(db_->TableExists("ATLOR_LAYERS"));
  EXPECT_FALSE(std::filesystem::exists("/tmp/x.db"));
  // SQL errors name the statement.
  try {
    sql_->Prepare("SELEC * FROM \"ATLOR_LAYERS\"");
    ADD_FAILURE();
  } catch (const EPxError& e) {
    EXPECT_NE(std::string(e.what()).find("SELEC"), std::string::npos) << e.what();
  }
  EXPECT_THROW(sql_->Prepare("SELECT 1; SELECT 2"), EPxError);
  SqlStatement s = sql_->Prepare("SELECT :A, :B");
  EXPECT_EQ(s.ParameterCount(), 2);
  EXPECT_EQ(s.ParameterName(1), ":B");
  EXPECT_EQ(s.ParameterIndex("B"), 1);
  EXPECT_EQ(s.ParameterIndex("C"), -1);
  EXPECT_THROW(s.Bind(2, Value(1)), EPxError);
  EXPECT_THROW(s.Bind("C", Value(1)), EPxError);
  EXPECT_THROW(s.Bind(0, Value(std::vector<Value>{Value(1)})), EPxError);
}

TEST_F(PxSql, ReadingWhileTheTableChanges) {
  SqlStatement all = sql_->Prepare("SELECT \"ID\" FROM \"ATLOR_SECTORS\"");
  SqlStatement del = sql_->Prepare("DELETE FROM \"ATLOR_SECTORS\" WHERE \"ID\"=?");
  int seen = 0;
  std::string last;
  while (all.Step()) {
    const std::string id = all.ColumnValue(0).ToString();
    EXPECT_LT(last, id);  // key order
    last = id;
    ++seen;
    if (seen == 10)  // the rows further on with an even number go
      for (int i = 20; i < kSectors; i += 2) {
        del.Bind(0, Value(SectorId(i)));
        del.Execute();
      }
  }
  EXPECT_EQ(seen, 20 + (kSectors - 20) / 2);
  // Statements die with their connection.
  sql_.reset();
  EXPECT_THROW(all.Step(), EPxError);
  EXPECT_THROW(del.Bind(0, Value(1)), EPxError);
}

}  // namespace
}  // namespace atlor::pxengine
