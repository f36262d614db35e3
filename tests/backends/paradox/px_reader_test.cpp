// Reading the sample tables: every table loads, and chosen values per field type and level.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "backends/paradox/engine/px_check.h"
#include "core/encoding.h"
#include "backends/paradox/engine/px_database.h"
#include "px_test_util.h"

namespace atlor::pxengine {
namespace {

using testing::ScratchDir;

std::unique_ptr<Database> OpenCopy(const ScratchDir& dir, const std::string& sub, DatabaseOptions o = {}) {
  dir.CopySamples(sub);
  o.mode = OpenMode::kReadOnly;
  return Database::Open(dir.Str(), o);
}

std::string DateText(const Value& v) {
  const auto p = DecodeDateTime(v.ToDateTime());
  char b[40];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute,
                p.second, p.millisecond);
  return b;
}

TEST(PxReader, EverySampleTableReads) {
  REQUIRE_SAMPLES();
  struct Case {
    const char* folder;
    int tables;
  };
  for (const Case& c : {Case{"paradoxdriver/fields", 8}, Case{"paradoxdriver/db", 3}, Case{"paradoxdriver/joins", 1},
                        Case{"paradoxdriver/mtdemo", 1}, Case{"paradoxdriver/areas", 1}, Case{"Rparadox", 3}}) {
    ScratchDir dir;
    DatabaseOptions o;
    o.missing_index = MissingIndexPolicy::kRebuild;  // TypSammlung comes without its .PX
    o.table_code_pages["NOTE1251"] = 1251;
    auto db = OpenCopy(dir, c.folder, o);
    const auto names = db->ListTables();
    EXPECT_EQ(static_cast<int>(names.size()), c.tables) << c.folder;
    for (const auto& name : names) {
      Table& t = db->OpenTable(name);
      uint32_t n = 0;
      for (RowId r : t.Rows()) {
        t.GetRecord(r);
        ++n;
      }
      EXPECT_EQ(n, t.RecordCount()) << name;
      EXPECT_EQ(n, t.Info().record_count) << name;
    }
  }
}

TEST(PxReader, TypSammlungOneValuePerType) {
  REQUIRE_SAMPLES();
  ScratchDir dir;
  DatabaseOptions o;
  o.missing_index = MissingIndexPolicy::kRebuild;
  auto db = OpenCopy(dir, "Rparadox", o);
  Table& t = db->OpenTable("TypSammlung");
  EXPECT_EQ(t.Info().format.level, 70);
  EXPECT_EQ(t.Info().key_field_count, 2);
  // Rows in key order (Alpha, Numerisch); find them by key instead.
  auto row = t.FindKey({Value("AAA Irgendein Text"), Value(40.0)});
  ASSERT_TRUE(row);
  EXPECT_EQ(t.Get(*row, t.FieldIndex("Numerisch")), Value(40.0));
  EXPECT_EQ(t.Get(*row, t.FieldIndex("Währung")), Value(Currency{400000}));
  EXPECT_EQ(t.Get(*row, t.FieldIndex("Integer kurz")), Value(int32_t{40}));
  EXPECT_EQ(t.Get(*row, t.FieldIndex("Integer lang")), Value(int32_t{40}));
  EXPECT_EQ(t.Get(*row, t.FieldIndex("BCD")), Value(40.0));
  EXPECT_EQ(DateText(t.Get(*row, t.FieldIndex("Datum"))), "1970-01-01 00:00:00.000");
  EXPECT_EQ(DateText(t.Get(*row, t.FieldIndex("Zeit"))), "1899-12-30 00:00:00.000");
  EXPECT_TRUE(t.Get(*row, t.FieldIndex("Memo")).IsNull());
  EXPECT_TRUE(t.Get(*row, t.FieldIndex("Logisch")).IsNull());
  EXPECT_EQ(t.Get(*row, t.FieldIndex("Zähler")), Value(int32_t{1}));

  auto neg = t.FindKey({Value("Zweite Zeile")});
  ASSERT_TRUE(neg);
  EXPECT_EQ(t.Get(*neg, t.FieldIndex("Integer kurz")), Value(int32_t{-40}));
  EXPECT_EQ(t.Get(*neg, t.FieldIndex("Integer lang")), Value(int32_t{-40}));
  EXPECT_EQ(t.Get(*neg, t.FieldIndex("BCD")), Value(-40.0));
  EXPECT_EQ(t.Get(*neg, t.FieldIndex("Logisch")), Value(true));

  auto third = t.FindKey({Value("Fünfter Datensatz")});
  ASSERT_TRUE(third);
  EXPECT_DOUBLE_EQ(t.Get(*third, t.FieldIndex("BCD")).ToFloat(), 13.123457);
  const Value memo = t.Get(*third, t.FieldIndex("Memo"));  // 1-byte leader, rest in the .MB
  ASSERT_EQ(memo.Kind(), ValueKind::kString);
  EXPECT_EQ(Utf8Length(memo.StringRef()), 40u);
  EXPECT_EQ(memo.StringRef().substr(0, 1), "D");
  EXPECT_TRUE(t.Get(*third, t.FieldIndex("Logisch")).IsNull());
}

TEST(PxReader, LevelsAndCodePages) {
  REQUIRE_SAMPLES();
  {
    ScratchDir dir;
    auto db = OpenCopy(dir, "paradoxdriver/fields");
    for (const char* name : {"date35", "date4", "date5"}) {
      Table& t = db->OpenTable(name);
      const auto rows = t.Rows();
      ASSERT_EQ(rows.size(), 3u) << name;
      EXPECT_EQ(DateText(t.Get(rows[0], 0)), "2018-01-01 00:00:00.000") << name;
      EXPECT_EQ(DateText(t.Get(rows[1], 0)), "2018-02-01 00:00:00.000") << name;
    }
    EXPECT_EQ(db->OpenTable("date35").Info().format.level, 35);
    EXPECT_EQ(db->OpenTable("date4").Info().format.level, 40);
    Table& logical = db->OpenTable("logical");
    EXPECT_TRUE(logical.Field(0).required);  // from logical.val
    Table& lng = db->OpenTable("long");
    int nulls = 0;
    for (RowId r : lng.Rows()) nulls += lng.Get(r, 1).IsNull();
    EXPECT_EQ(nulls, 1);
    Table& ts = db->OpenTable("timestamp");
    std::vector<std::string> stamps;
    for (RowId r : ts.Rows()) stamps.push_back(ts.Get(r, 0).IsNull() ? "null" : DateText(ts.Get(r, 0)));
    EXPECT_EQ(stamps, (std::vector<std::string>{"null", "2020-02-01 01:00:01.000"}));
    Table& memo = db->OpenTable("memo");
    EXPECT_EQ(memo.Get(*memo.FindKey({Value(int32_t{2})}), 1).ToString().substr(0, 11), "01234567890");
  }
  {
    ScratchDir dir;
    DatabaseOptions o;
    auto db = OpenCopy(dir, "paradoxdriver/db", o);
    // NOTE1251 names code page 936 but holds windows-1251 text.
    EXPECT_THROW(db->OpenTable("NOTE1251"), EPxError);
  }
  {
    ScratchDir dir;
    DatabaseOptions o;
    o.table_code_pages["note1251"] = 1251;
    auto db = OpenCopy(dir, "paradoxdriver/db", o);
    Table& t = db->OpenTable("NOTE1251");
    const std::string text = t.Get(*t.FindKey({Value(int32_t{1})}), 1).ToString();
    EXPECT_EQ(text.rfind("При разработке", 0), 0u);
    // CUSTOMER: memos in shared (type 3) and single (type 2, 56 KB) blocks.
    Table& c = db->OpenTable("CUSTOMER");
    size_t longest = 0;
    for (RowId r : c.Rows())
      for (int i = 0; i < c.FieldCount(); ++i)
        if (IsBlobType(c.Field(i).type)) longest = std::max<size_t>(longest, c.BlobLength(r, i));
    EXPECT_GT(longest, 50000u);
    for (RowId r : c.Rows()) c.GetRecord(r);
    const TableInfo info = db->ReadTableInfo("AREACODES");
    ASSERT_EQ(info.indexes.size(), 2u);
    EXPECT_EQ(info.indexes[1].name, "ste");
    EXPECT_EQ(info.indexes[1].fields, std::vector<std::string>{"State"});
    Table& area = db->OpenTable("AREACODES");
    EXPECT_FALSE(area.FindEqual(1, {Value("NJ")}).empty());
  }
  {
    ScratchDir dir;
    auto db = OpenCopy(dir, "Rparadox");
    Table& t = db->OpenTable("of_cp866");
    EXPECT_EQ(t.Field(0).name, "Инвентарный номер");
    EXPECT_EQ(t.RecordCount(), 2197u);
  }
  {
    ScratchDir dir;
    auto db = OpenCopy(dir, "paradoxdriver/mtdemo");
    Table& t = db->OpenTable("CUSTOMER");
    EXPECT_EQ(t.Info().format.level, 30);
    EXPECT_EQ(t.RecordCount(), 28u);
  }
}

TEST(PxReader, ZipcodesTwoLevelIndex) {
  REQUIRE_SAMPLES();
  ScratchDir dir;
  auto db = OpenCopy(dir, "paradoxdriver/areas");
  Table& t = db->OpenTable("ZIPCODES");
  EXPECT_EQ(t.RecordCount(), 43185u);
  IndexFileSummary s;
  EXPECT_EQ(CheckFamily(dir.Str(), "ZIPCODES", &s), std::vector<std::string>{});
  EXPECT_EQ(s.levels, 2);
  EXPECT_EQ(s.root_block, 3);
  EXPECT_EQ(s.leaf_entries, 686);
  const auto row = t.FindKey({Value("00401")});
  ASSERT_TRUE(row);
  EXPECT_EQ(t.Get(*row, 0), Value("00401"));
}

TEST(PxReader, EncryptedTablesAreRefusedClearly) {
  REQUIRE_SAMPLES();
  ScratchDir dir;
  auto db = OpenCopy(dir, "paradoxdriver/encrypt");
  for (const char* name : {"encrypted", "encrypted35", "encryptedmemo"}) {
    try {
      db->OpenTable(name);
      ADD_FAILURE() << name << " opened without a password";
    } catch (const EPxPassword& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
    }
  }
}

TEST(PxReader, MissingFiles) {
  REQUIRE_SAMPLES();
  {
    ScratchDir dir;
    dir.CopySamples("paradoxdriver/fields");
    std::filesystem::remove(dir.Path() / "memo.px");
    auto db = Database::Open(dir.Str(), {});
    try {
      db->OpenTable("memo");
      ADD_FAILURE();
    } catch (const EPxError& e) {
      EXPECT_NE(std::string(e.what()).find("memo.PX"), std::string::npos) << e.what();
    }
  }
  {
    ScratchDir dir;
    dir.CopySamples("paradoxdriver/fields");
    std::filesystem::remove(dir.Path() / "memo.mb");
    auto db = Database::Open(dir.Str(), {});
    Table& t = db->OpenTable("memo");
    // The value in the leader reads; the one in the .MB names the missing file.
    int ok = 0, missing = 0;
    for (RowId r : t.Rows()) {
      try {
        t.Get(r, 1);
        ++ok;
      } catch (const EPxError& e) {
        EXPECT_NE(std::string(e.what()).find("memo.MB"), std::string::npos) << e.what();
        ++missing;
      }
    }
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(missing, 1);
  }
}

// Damaged copies of real files: every one is a clean EPxError naming the file, never a crash.
TEST(PxReader, DamagedFilesGiveCleanErrors) {
  REQUIRE_SAMPLES();
  const std::filesystem::path src = testing::SamplesDir() / "paradoxdriver/db/CUSTOMER.DB";
  std::ifstream in(src, std::ios::binary);
  const std::vector<char> original((std::istreambuf_iterator<char>(in)), {});
  struct Damage {
    const char* what;
    std::function<void(std::vector<char>&)> apply;
  };
  const Damage cases[] = {
      {"truncated header", [](auto& d) { d.resize(0x40); }},
      {"truncated blocks", [](auto& d) { d.resize(0x900); }},
      {"header size beyond file", [](auto& d) { d[2] = 0x00; d[3] = 0x7F; }},
      {"block count lies", [](auto& d) { d[0x0C] = 0x40; }},
      {"record size lies", [](auto& d) { d[0] = 0x10; }},
      {"field count zero", [](auto& d) { d[0x21] = 0; }},
      {"first block outside", [](auto& d) { d[0x0E] = 0x30; }},
      {"block chain loops", [](auto& d) { d[0x800] = 1; d[0x801] = 0; }},
      {"too many records in block", [](auto& d) { d[0x804] = 0x00; d[0x805] = 0x7F; }},
      {"unknown field type", [](auto& d) { d[0x78] = 0x33; }},
  };
  for (const Damage& c : cases) {
    ScratchDir dir;
    dir.CopySamples("paradoxdriver/db");
    std::vector<char> bytes = original;
    c.apply(bytes);
    std::ofstream(dir.Path() / "CUSTOMER.DB", std::ios::binary).write(bytes.data(), bytes.size());
    auto db = Database::Open(dir.Str(), {});
    try {
      Table& t = db->OpenTable("CUSTOMER");
      for (RowId r : t.Rows()) t.GetRecord(r);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const EPxError& e) {
      EXPECT_NE(std::string(e.what()).find("CUSTOMER"), std::string::npos) << c.what << ": " << e.what();
    }
    // Nothing was written over the damaged file.
    std::ifstream back(dir.Path() / "CUSTOMER.DB", std::ios::binary);
    EXPECT_EQ(std::vector<char>((std::istreambuf_iterator<char>(back)), {}), bytes) << c.what;
  }
}

}  // namespace
}  // namespace atlor::pxengine
