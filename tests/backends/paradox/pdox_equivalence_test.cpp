// One generated database written once through SQLite and once through Paradox, each optimized by
// atlor-optimize: the layers, sectors (bounds, children, object lists byte for byte) and
// object-info rows come out the same, and the Paradox tables read back with the engine after
// the programs have ended, every family complete and sound.

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "backends/paradox/engine/px_check.h"
#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_table.h"
#include "backends/sqlite/sqlite_ardb.h"
#include "pdox_test_util.h"

namespace atlor {
namespace {

using namespace pdoxtest;
namespace px = pxengine;

int RunIn(const std::string& folder, const std::string& command) {
  const std::string line = "cd '" + folder + "' && " + command + " >out.txt 2>&1";
  const int status = std::system(line.c_str());
  std::ifstream in(fs::path(folder) / "out.txt");
  const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A sanitizer build reports undefined behaviour without failing the program.
  EXPECT_EQ(output.find("runtime error:"), std::string::npos) << output;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Output(const std::string& folder) {
  std::ifstream in(fs::path(folder) / "out.txt");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every row of a table in key order, each value as text (byte arrays in hexadecimal).
std::vector<std::string> TableRows(IArDb& db, const std::string& table, const std::string& order) {
  IntfPtr<IArDbCursor> c =
      db.CreateCommand("SELECT * FROM [" + table + "] ORDER BY " + order, nullptr, 0, false)
          ->Execute(nullptr, 0);
  std::vector<std::string> rows;
  for (; !c->Eof(); c->Next()) {
    std::string row;
    for (int32_t i = 0; i < c->FieldCount(); ++i) {
      row += c->FieldName(i) + "=";
      const Value v = c->AsVariant(i);
      if (v.IsNull()) {
        row += "null";
      } else if (v.Kind() == ValueKind::kBytes) {
        static const char* const kHex = "0123456789ABCDEF";
        for (uint8_t b : v.BytesRef()) {
          row += kHex[b >> 4];
          row += kHex[b & 15];
        }
      } else {
        row += v.ToString();
      }
      row += ";";
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(PdoxEquivalence, SQLiteAndParadoxOptimizeTheSameDatabaseAlike) {
  TempFolder root;
  const std::string sample = std::string("'") + ATLOR_SAMPLE_PROGRAM +
                             "' --quiet --seed 5 --layers 4 "
                             "--objects 1200 --versions 286,262,256 --damage duplicate,noshapes ";
  const std::string optimize =
      std::string("'") + ATLOR_OPTIMIZE_PROGRAM + "' --yes --drop-old --quiet ";
  const std::string sqlite_file = root.File("base.sqlite");
  const std::string pdox_folder = root.File("pdox");
  ASSERT_EQ(RunIn(root.Path(), sample + "SQLITE file='" + sqlite_file + "'"), 0)
      << Output(root.Path());
  ASSERT_EQ(RunIn(root.Path(), sample + "BDE.Paradox folder='" + pdox_folder + "'"), 0)
      << Output(root.Path());
  ASSERT_EQ(RunIn(root.Path(), optimize + "SQLITE file='" + sqlite_file + "'"), 0)
      << Output(root.Path());
  ASSERT_EQ(RunIn(root.Path(), optimize + "BDE.Paradox folder='" + pdox_folder + "'"), 0)
      << Output(root.Path());

  // The Paradox families as the programs left them.
  std::vector<std::string> tables;
  {
    px::DatabaseOptions options;
    options.mode = px::OpenMode::kReadOnly;
    std::unique_ptr<px::Database> engine = px::Database::Open(pdox_folder, options);
    tables = engine->ListTables();
    EXPECT_EQ(tables.size(), 24u);
    for (const std::string& table : tables) {
      EXPECT_EQ(px::CheckFamily(pdox_folder, table), std::vector<std::string>{}) << table;
      EXPECT_NO_THROW(engine->OpenTable(table)) << table;
    }
    for (const char* family :
         {"ATLOR_SECTORS.MB", "ATLOR_SECTORS.PX", "ATLOR_SECTORS.X02", "ATLOR_SECTORS.Y02",
          "ATLOR_OBJINFO.PX", "ATLOR_OBJINFO.X02", "ATLOR_LAYERS.PX", "ATLOR_LAYERS.X02"})
      EXPECT_TRUE(fs::exists(fs::path(pdox_folder) / family)) << family;
    EXPECT_GT(engine->OpenTable("ATLOR_OBJINFO").RecordCount(), 1000u);
  }
  for (const std::string& name : FolderFiles(pdox_folder))
    EXPECT_EQ(name.find("_OLD"), std::string::npos) << name;

  IntfPtr<IArDb> lite(new TSQLiteArDb);
  lite->Open(TSQLiteArDb::MakeDescription(sqlite_file));
  IntfPtr<IArDb> pdox(new TPdoxArDb);
  pdox->Open(TPdoxArDb::MakeDescription(pdox_folder));
  const std::pair<const char*, const char*> compared[] = {{"ATLOR_LAYERS", "[ID]"},
                                                          {"ATLOR_SECTORS", "[ID]"},
                                                          {"ATLOR_OBJINFO", "[ID]"},
                                                          {"ATLOR_DBINFO", "[DBID]"}};
  for (const auto& [table, order] : compared) {
    const std::vector<std::string> a = TableRows(*lite, table, order);
    const std::vector<std::string> b = TableRows(*pdox, table, order);
    EXPECT_FALSE(a.empty()) << table;
    ASSERT_EQ(a.size(), b.size()) << table;
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i], b[i]) << table << " row " << i;
  }
}

}  // namespace
}  // namespace atlor
