// Writing tables: round trips, index files against the data, atomic family replacement,
// folder operations, transactions and the writer lock.

#include <gtest/gtest.h>

#include <filesystem>

#include "backends/paradox/engine/px_check.h"
#include "backends/paradox/engine/px_database.h"
#include "px_test_util.h"

namespace atlor::pxengine {
namespace {

using testing::ScratchDir;

std::vector<FieldDef> SectorFields() {
  return {
      {"ID", FieldType::kAlpha, 12, true},   {"LAYER", FieldType::kLong, 0, false},
      {"XMIN", FieldType::kNumber, 0, false}, {"PRICE", FieldType::kMoney, 0, false},
      {"LEVEL", FieldType::kShort, 0, false}, {"VISIBLE", FieldType::kLogical, 0, false},
      {"DAY", FieldType::kDate, 0, false},    {"AT", FieldType::kTime, 0, false},
      {"STAMP", FieldType::kTimestamp, 0, false}, {"NOTE", FieldType::kMemo, 20, false},
      {"OBJECTS", FieldType::kBinary, 0, false},
  };
}

std::vector<IndexDef> SectorIndexes() {
  IndexDef pk;
  pk.primary = true;
  pk.fields = {"ID"};
  IndexDef layer;
  layer.name = "LAYER";
  layer.fields = {"LAYER"};
  IndexDef composite;
  composite.name = "BYLAYERLEVEL";
  composite.fields = {"LAYER", "LEVEL"};
  return {pk, layer, composite};
}

std::string Id(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "%04X%08X", i % 7, i);
  return b;
}

std::vector<Value> SectorRow(int i) {
  Bytes blob(i % 3 == 0 ? 5000 : (i % 3 == 1 ? 300 : 0));
  for (size_t k = 0; k < blob.size(); ++k) blob[k] = static_cast<uint8_t>(k * 7 + i);
  return {Value(Id(i)), Value(int32_t(i % 5)), Value(i * 1.5 - 100), Value(Currency{i * 10000LL}),
          Value(int32_t(i % 4)), Value(i % 2 == 0), Value(EncodeDateTime(2020, 1 + i % 12, 1 + i % 28)),
          Value(EncodeDateTime(1899, 12, 30, i % 24, i % 60, 7)), Value(EncodeDateTime(2021, 5, 6, 7, 8, 9, 10)),
          i % 4 == 0 ? Value::Null() : Value("Заметка " + std::to_string(i) + std::string(i % 50, 'x')),
          blob.empty() ? Value::Null() : Value(blob)};
}

void ExpectSame(Table& t, int n) {
  ASSERT_EQ(t.RecordCount(), static_cast<uint32_t>(n));
  for (int i = 0; i < n; ++i) {
    auto row = t.FindKey({Value(Id(i))});
    ASSERT_TRUE(row) << i;
    const auto want = SectorRow(i);
    const auto got = t.GetRecord(*row);
    for (size_t f = 0; f < want.size(); ++f) {
      if (f == 3) {
        EXPECT_EQ(got[f].ToCurrency().scaled, want[f].ToCurrency().scaled);
        continue;
      }
      EXPECT_EQ(got[f], want[f]) << "row " << i << " field " << f;
    }
  }
}

TEST(PxWriter, CreateFillReopenEqual) {
  ScratchDir dir;
  {
    auto db = Database::Open(dir.Str());
    db->CreateTable("SECTORS", SectorFields(), SectorIndexes());
    Table& t = db->OpenTable("SECTORS");
    for (int i = 0; i < 500; ++i) t.Insert(SectorRow((i * 37) % 500));  // not in key order
    EXPECT_THROW(t.Insert(SectorRow(3)), EPxError);                       // key violation
    std::vector<Value> no_id = SectorRow(900);
    no_id[0] = Value::Null();
    EXPECT_THROW(t.Insert(no_id), EPxError);  // required
    db->Flush();
  }
  EXPECT_EQ(CheckFamily(dir.Str(), "SECTORS"), std::vector<std::string>{});
  for (const char* f : {"SECTORS.DB", "SECTORS.PX", "SECTORS.MB", "SECTORS.VAL", "SECTORS.X02", "SECTORS.Y02",
                        "SECTORS.XG0", "SECTORS.YG0"})
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / f)) << f;
  auto db = Database::Open(dir.Str());
  const TableInfo info = db->ReadTableInfo("SECTORS");
  EXPECT_EQ(info.format.level, 70);
  EXPECT_EQ(info.fields, SectorFields());
  ASSERT_EQ(info.indexes.size(), 3u);
  EXPECT_EQ(info.indexes[2].name, "BYLAYERLEVEL");
  EXPECT_EQ(info.indexes[2].fields, (std::vector<std::string>{"LAYER", "LEVEL"}));
  Table& t = db->OpenTable("SECTORS");
  ExpectSame(t, 500);
  EXPECT_EQ(t.FindEqual(1, {Value(int32_t{2})}).size(), 100u);
  EXPECT_EQ(t.FindEqual(2, {Value(int32_t{2}), Value(int32_t{3})}).size(), 25u);
  // Rows come in key order.
  std::string prev;
  for (RowId r : t.Rows()) {
    const std::string id = t.Get(r, 0).ToString();
    EXPECT_LT(prev, id);
    prev = id;
  }
}

TEST(PxWriter, UpdateDeleteAndBlobsKeepUnchangedData) {
  ScratchDir dir;
  auto db = Database::Open(dir.Str());
  db->CreateTable("SECTORS", SectorFields(), SectorIndexes());
  Table& t = db->OpenTable("SECTORS");
  for (int i = 0; i < 200; ++i) t.Insert(SectorRow(i));
  db->Flush();
  const auto mb_size = std::filesystem::file_size(dir.Path() / "SECTORS.MB");
  // A change without BLOBs leaves the .MB as it is.
  t.SetValue(*t.FindKey({Value(Id(5))}), 1, Value(int32_t{42}));
  db->Flush();
  EXPECT_EQ(std::filesystem::file_size(dir.Path() / "SECTORS.MB"), mb_size);
  const Bytes big(9000, 0xAB);
  t.SetValue(*t.FindKey({Value(Id(6))}), 10, Value(big));
  t.Delete(*t.FindKey({Value(Id(7))}));
  db->Flush();
  EXPECT_EQ(CheckFamily(dir.Str(), "SECTORS"), std::vector<std::string>{});
  db.reset();
  db = Database::Open(dir.Str());
  Table& u = db->OpenTable("SECTORS");
  EXPECT_EQ(u.RecordCount(), 199u);
  EXPECT_FALSE(u.FindKey({Value(Id(7))}));
  EXPECT_EQ(u.Get(*u.FindKey({Value(Id(5))}), 1), Value(int32_t{42}));
  EXPECT_EQ(u.Get(*u.FindKey({Value(Id(6))}), 10), Value(big));
  EXPECT_EQ(u.Get(*u.FindKey({Value(Id(9))}), 10), SectorRow(9)[10]);
}

// Every step of a flush fails in turn: the folder then holds the old family or, once the commit
// note is written, the new one; never a mix.
TEST(PxWriter, InterruptedFlushLeavesOldOrNewFamily) {
  std::vector<std::string> steps;
  {
    ScratchDir dir;
    auto db = Database::Open(dir.Str());
    db->CreateTable("SECTORS", SectorFields(), SectorIndexes());
    for (int i = 0; i < 50; ++i) db->OpenTable("SECTORS").Insert(SectorRow(i));
    db->Flush();
    db->OpenTable("SECTORS").Insert(SectorRow(50));
    db->SetFailureHook([&](const std::string& s) { steps.push_back(s); });
    db->Flush();
  }
  ASSERT_GT(steps.size(), 10u);
  for (size_t k = 0; k < steps.size(); ++k) {
    ScratchDir dir;
    bool committed = false;
    {
      auto db = Database::Open(dir.Str());
      db->CreateTable("SECTORS", SectorFields(), SectorIndexes());
      for (int i = 0; i < 50; ++i) db->OpenTable("SECTORS").Insert(SectorRow(i));
      db->Flush();
      db->OpenTable("SECTORS").Insert(SectorRow(50));
      size_t at = 0;
      db->SetFailureHook([&](const std::string& s) {
        if (s.rfind("commit", 0) == 0 && at > k) committed = true;
        if (at++ == k) throw EPxIoError("injected failure at " + s);
      });
      EXPECT_THROW(db->Flush(), EPxIoError) << steps[k];
      committed = std::filesystem::exists(dir.Path() / "SECTORS.atlor-commit");
    }  // the process "stops" here
    auto db = Database::Open(dir.Str());  // a writer finishes or cleans up
    Table& t = db->OpenTable("SECTORS");
    const int n = committed ? 51 : 50;
    EXPECT_EQ(t.RecordCount(), static_cast<uint32_t>(n)) << steps[k];
    ExpectSame(t, n);
    EXPECT_EQ(CheckFamily(dir.Str(), "SECTORS"), std::vector<std::string>{}) << steps[k];
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
      EXPECT_EQ(e.path().string().find("atlor-"), std::string::npos) << e.path();
  }
}

TEST(PxWriter, FolderOperations) {
  ScratchDir dir;
  auto db = Database::Open(dir.Str());
  db->CreateTable("A_TMP", SectorFields(), SectorIndexes());
  db->OpenTable("A_TMP").Insert(SectorRow(1));
  db->Flush();
  EXPECT_TRUE(db->TableExists("a_tmp"));
  EXPECT_THROW(db->CreateTable("A_TMP", SectorFields(), {}), EPxError);
  db->RenameTable("A_TMP", "A_OLD");
  EXPECT_FALSE(db->TableExists("A_TMP"));
  EXPECT_EQ(db->ListTables(), std::vector<std::string>{"A_OLD"});
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"ATLORPX.LCK", "A_OLD.DB", "A_OLD.MB", "A_OLD.PX", "A_OLD.VAL",
                                             "A_OLD.X02", "A_OLD.XG0", "A_OLD.Y02", "A_OLD.YG0"}));
  EXPECT_EQ(db->OpenTable("A_OLD").RecordCount(), 1u);
  {
    DatabaseOptions ro;
    ro.mode = OpenMode::kReadOnly;
    auto reader = Database::Open(dir.Str(), ro);
    EXPECT_EQ(reader->OpenTable("A_OLD").RecordCount(), 1u);
    EXPECT_EQ(CheckFamily(dir.Str(), "A_OLD"), std::vector<std::string>{});
  }
  db->DeleteTable("A_OLD");
  EXPECT_TRUE(db->ListTables().empty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // the lock file
  // A second writer is refused.
  EXPECT_THROW(Database::Open(dir.Str()), EPxError);
}

TEST(PxWriter, TransactionsRollBackCompletely) {
  ScratchDir dir;
  auto db = Database::Open(dir.Str());
  db->CreateTable("SECTORS", SectorFields(), SectorIndexes());
  Table& t = db->OpenTable("SECTORS");
  for (int i = 0; i < 20; ++i) t.Insert(SectorRow(i));
  db->Flush();
  db->StartTransaction();
  t.Insert(SectorRow(20));
  t.Delete(*t.FindKey({Value(Id(3))}));
  t.SetValue(*t.FindKey({Value(Id(4))}), 10, Value(Bytes(100, 1)));
  t.SetValue(*t.FindKey({Value(Id(5))}), 1, Value(int32_t{99}));
  EXPECT_THROW(db->CreateTable("OTHER", SectorFields(), {}), EPxError);
  db->Rollback();
  ExpectSame(t, 20);
  EXPECT_EQ(t.FindEqual(1, {Value(int32_t{99})}).size(), 0u);
  db->StartTransaction();
  t.Insert(SectorRow(20));
  db->Commit();
  db.reset();
  db = Database::Open(dir.Str());
  ExpectSame(db->OpenTable("SECTORS"), 21);
}

TEST(PxWriter, SamplesRewrittenStayReadable) {
  REQUIRE_SAMPLES();
  ScratchDir dir;
  dir.CopySamples("paradoxdriver/db");
  DatabaseOptions o;
  o.table_code_pages["NOTE1251"] = 1251;
  {
    auto db = Database::Open(dir.Str(), o);
    Table& c = db->OpenTable("CUSTOMER");
    const auto before = c.GetRecord(c.Rows()[0]);
    c.Update(c.Rows()[0], before);
    db->OpenTable("NOTE1251").Insert({Value(), Value("Новая заметка " + std::string(100, 'z'))});
    db->Flush();
    EXPECT_EQ(CheckFamily(dir.Str(), "CUSTOMER"), std::vector<std::string>{});
    EXPECT_EQ(CheckFamily(dir.Str(), "NOTE1251"), std::vector<std::string>{});
  }
  auto db = Database::Open(dir.Str(), o);
  Table& n = db->OpenTable("NOTE1251");
  EXPECT_EQ(n.RecordCount(), 3u);
  EXPECT_EQ(n.Get(*n.FindKey({Value(int32_t{3})}), 1).ToString().rfind("Новая заметка", 0), 0u);
  EXPECT_EQ(n.Get(*n.FindKey({Value(int32_t{1})}), 1).ToString().rfind("При разработке", 0), 0u);
  Table& c = db->OpenTable("CUSTOMER");
  for (RowId r : c.Rows()) c.GetRecord(r);
  EXPECT_EQ(c.RecordCount(), 20u);
}

}  // namespace
}  // namespace atlor::pxengine
