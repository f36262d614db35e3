// The Paradox back-end without SQL: naming, opening, info cursors, table definitions with their
// restructuring, the key-row walk of OpenTable, persistence, and the driver.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "ardb/ardb_drivers.h"
#include "ardb/resources/program_drivers.h"
#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_table.h"
#include "backends/paradox/pdox_driver.h"
#include "pdox_test_util.h"

namespace atlor {
namespace {

using namespace pdoxtest;
namespace px = pxengine;

px::DatabaseOptions ReadOnlyOptions() {
  px::DatabaseOptions options;
  options.mode = px::OpenMode::kReadOnly;
  return options;
}

IntfPtr<TPdoxArDb> OpenDb(const std::string& folder) {
  IntfPtr<TPdoxArDb> db(new TPdoxArDb);
  db->Open(TPdoxArDb::MakeDescription(folder));
  return db;
}

// T: ID Integer (key), NAME String(20), VAL Float, NOTE Memo, DATA Binary.
void MakeT(IArDb& db, const std::string& name = "T") {
  const TArDbFieldDef fields[] = {{"ID", dtInteger, 0, true},
                                  {"NAME", dtString, 20, false},
                                  {"VAL", dtFloat, 0, false},
                                  {"NOTE", dtMemo, 0, false},
                                  {"DATA", dtBinary, 0, false}};
  const TArDbIndexDef indexes[] = {{"", "ID", true, true}, {"", "NAME", false, false}};
  CreateTableFromDefs(db, name, fields, indexes);
}

// Keyed on K;N with a value V: rows (K, N, V).
void MakeKeyed(TPdoxArDb& db) {
  const TArDbFieldDef fields[] = {
      {"K", dtInteger, 0, true}, {"N", dtInteger, 0, true}, {"V", dtString, 10, false}};
  const TArDbIndexDef indexes[] = {{"", "K;N", true, true}};
  CreateTableFromDefs(db, "KT", fields, indexes);
  AppendRows(db, "KT",
             {{1, 1, "a"}, {3, 1, "b"}, {3, 2, "c"}, {5, 1, "d"}, {5, 2, "e"}, {7, 1, "f"}});
}

class PdoxTest : public ::testing::Test {
 protected:
  void SetUp() override { db = OpenDb(folder.Path()); }

  TempFolder folder;
  IntfPtr<TPdoxArDb> db;
};

// ---------------------------------------------------------------------------------------------
// Names, opening and closing

TEST(PdoxNaming, EachDatabaseObjectHasItsOwnSessionAndDatabaseNames) {
  IntfPtr<TPdoxArDb> a(new TPdoxArDb), b(new TPdoxArDb);
  const std::string sa = a->BdeSession().SessionName(), sb = b->BdeSession().SessionName();
  ASSERT_EQ(sa.rfind("AtlorSession", 0), 0u);
  const int na = std::stoi(sa.substr(12)), nb = std::stoi(sb.substr(12));
  EXPECT_EQ(nb, na + 1);
  EXPECT_EQ(a->BdeDatabase().DatabaseName(), "AtlorDb" + std::to_string(na));
  EXPECT_EQ(b->BdeDatabase().DatabaseName(), "AtlorDb" + std::to_string(nb));
  EXPECT_EQ(a->BdeDatabase().SessionName(), sa);
  EXPECT_FALSE(a->BdeDatabase().LoginPrompt());
}

TEST(PdoxOpen, TwoDatabaseObjectsWorkOnOneFolderAndOnTwo) {
  TempFolder f1, f2;
  IntfPtr<TPdoxArDb> a = OpenDb(f1.Path()), b = OpenDb(f1.Path()), c = OpenDb(f2.Path());
  MakeT(*a);
  EXPECT_TRUE(b->TableExists("t"));
  EXPECT_FALSE(c->TableExists("T"));
  AppendRows(*b, "T", {{1, "x"}});
  IntfPtr<IArDbCursor> cur = a->OpenTable("T", nullptr, 0, nullptr, 0, nullptr, 0, false);
  EXPECT_EQ(CursorRows(*cur), std::vector<std::string>{"1|x|null|null|null"});
}

TEST(PdoxOpen, PasswordEntryGoesToTheSessionOnlyWhenGiven) {
  TempFolder f;
  IntfPtr<TPdoxArDb> a = OpenDb(f.Path());
  EXPECT_TRUE(a->BdeSession().Passwords().empty());
  IntfPtr<TPdoxArDb> b(new TPdoxArDb);
  b->Open(TPdoxArDb::MakeDescription(f.Path(), ""));
  EXPECT_EQ(b->BdeSession().Passwords(), std::vector<std::string>{""});
  IntfPtr<TPdoxArDb> c(new TPdoxArDb);
  c->Open(TPdoxArDb::MakeDescription(f.Path(), "secret"));
  EXPECT_EQ(c->BdeSession().Passwords(), std::vector<std::string>{"secret"});
  EXPECT_EQ(c->BdeDatabase().DriverName(), "STANDARD");
  EXPECT_EQ(c->BdeDatabase().Params(), std::vector<std::string>{"PATH=" + f.Path()});
  EXPECT_EQ(c->BdeDatabase().TransIsolation(), bde::TTransIsolation::tiDirtyRead);
}

TEST(PdoxOpen, BadFoldersAndLockedFoldersAreClearErrorsAndLeaveTheDatabaseClosed) {
  TempFolder f;
  IntfPtr<TPdoxArDb> db(new TPdoxArDb);
  const std::string missing = f.File("missing");
  EXPECT_EQ(ErrorText([&] { db->Open(TPdoxArDb::MakeDescription(missing)); }),
            "The database folder \"" + missing + "\" does not exist");
  EXPECT_FALSE(db->Active());
  EXPECT_FALSE(fs::exists(missing));

  // An empty folder opens: it holds no Atlor database, which the version check tells.
  db->Open(TPdoxArDb::MakeDescription(f.Path()));
  EXPECT_FALSE(db->TableExists("ATLOR_DBINFO"));
  db->Close();

  // Another program writing the folder holds its lock file.
  const int fd = ::open((fs::path(f.Path()) / "ATLORPX.LCK").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(ErrorText([&] { db->Open(TPdoxArDb::MakeDescription(f.Path())); }),
            "The database folder \"" + f.Path() + "\" is being written by another program");
  EXPECT_FALSE(db->Active());
  ::close(fd);
  db->Open(TPdoxArDb::MakeDescription(f.Path()));
  EXPECT_TRUE(db->Active());

  IntfPtr<TPdoxArDb> none(new TPdoxArDb);
  EXPECT_NE(ErrorText([&] { none->Open("<driver name=\"BDE.Paradox\"/>"); }), "(no error)");
  EXPECT_FALSE(none->Active());
}

TEST(PdoxOpen, ProtectedTablesNeedTheirPasswordAndChangeNothing) {
  const fs::path sample = fs::path(ATLOR_PARADOX_SAMPLES) / "paradoxdriver/encrypt/encrypted.db";
  if (!fs::exists(sample)) GTEST_SKIP() << "sample tables not found";
  TempFolder f;
  fs::copy_file(sample, fs::path(f.Path()) / "ENCRYPTED.DB");
  const std::string before = [&] {
    std::ifstream in(fs::path(f.Path()) / "ENCRYPTED.DB", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  IntfPtr<TPdoxArDb> db(new TPdoxArDb);
  db->Open(TPdoxArDb::MakeDescription(f.Path(), "wrong"));
  EXPECT_NE(ErrorText([&] {
              db->OpenTable("ENCRYPTED", nullptr, 0, nullptr, 0, nullptr, 0, false);
            }).find("ENCRYPTED"),
            std::string::npos);
  db->Close();
  std::ifstream in(fs::path(f.Path()) / "ENCRYPTED.DB", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
}

TEST(PdoxComponents, ADatabaseNeedsItsSessionTheStandardDriverAndAFolder) {
  TempFolder f;
  bde::TSession session;
  session.SetSessionName("S");
  EXPECT_EQ(ErrorText([] {
              bde::TSession other;
              other.SetSessionName("s");
            }),
            "Duplicate session name s");
  bde::TDatabase db;
  db.SetDatabaseName("D");
  db.SetSessionName("NOSUCH");
  db.SetDriverName("STANDARD");
  db.Params().push_back("PATH=" + f.Path());
  EXPECT_EQ(ErrorText([&] { db.Open(); }), "Session 'NOSUCH' not found");
  db.SetSessionName("S");
  db.SetDriverName("ODBC");
  EXPECT_EQ(ErrorText([&] { db.Open(); }), "Unknown driver: ODBC");
  db.SetDriverName("standard");
  db.Params() = {"PATH="};
  EXPECT_EQ(ErrorText([&] { db.Open(); }), "Database 'D': the parameter PATH names no folder");
  db.Params() = {"path = " + f.Path()};
  db.Open();
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(ErrorText([&] { db.SetDatabaseName("E"); }),
            "Cannot perform this operation on an open database");

  bde::TDatabase twin;
  twin.SetDatabaseName("d");
  twin.SetSessionName("S");
  twin.SetDriverName("STANDARD");
  twin.Params() = {"PATH=" + f.Path()};
  EXPECT_EQ(ErrorText([&] { twin.Open(); }), "Duplicate database name 'd'");
  bde::TTable table;
  table.SetSessionName("s");
  table.SetDatabaseName("D");
  table.SetTableName("NONE.DB");
  EXPECT_EQ(table.TableName(), "NONE");
  EXPECT_FALSE(table.Exists());
  session.Close();  // closes its databases
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(ErrorText([&] { table.Exists(); }), "Database 'D' is not open");
  twin.Open();
  EXPECT_TRUE(twin.Connected());
}

// ---------------------------------------------------------------------------------------------
// Info cursors

TEST_F(PdoxTest, InfoCursorsGiveTheTablesLimitsWordsAndTypes) {
  MakeT(*db, "Beta");
  MakeT(*db, "ALPHA");
  IntfPtr<IArDbCursor> c = db->GetInfo(ikRelations);
  EXPECT_EQ(CursorRows(*c), (std::vector<std::string>{"ALPHA|False|0", "Beta|False|0"}));

  c = db->GetInfo(ikLiteralInfo);
  EXPECT_EQ(CursorRows(*c), (std::vector<std::string>{"0|24|False|null|null|null|null",
                                                      "1|24|False|null|null|null|null",
                                                      "2|24|False|null|null|null|null"}));
  c = db->GetInfo(ikReservedWords);
  const std::vector<std::string> words = CursorRows(*c);
  ASSERT_EQ(words.size(), 215u);
  EXPECT_EQ(words.front(), "ACTIVE");
  EXPECT_EQ(words[3], "AFTER");  // not sorted
  EXPECT_EQ(words.back(), "YEAR");

  c = db->GetInfo(ikDataTypesInfo);
  EXPECT_EQ(CursorRows(*c), (std::vector<std::string>{
                                "256|Logical|null|null|null", "512|Long integer|null|null|null",
                                "768|Number|null|null|null", "1024|Money|null|null|null",
                                "1280|Timestamp|null|null|null", "1536|Alpha|255|null|null",
                                "1792|Memo|null|null|null", "2048|Binary|null|null|null"}));
  EXPECT_EQ(ErrorText([&] { db->GetInfo(4); }), "(assertion) Abstract error");
}

TEST(PdoxTypes, FieldTypesMapBothWays) {
  using bde::TFieldType;
  const std::pair<TFieldType, TArDbDataType> read[] = {
      {TFieldType::ftString, dtString},     {TFieldType::ftFixedChar, dtString},
      {TFieldType::ftWideString, dtString}, {TFieldType::ftSmallint, dtInteger},
      {TFieldType::ftWord, dtInteger},      {TFieldType::ftAutoInc, dtInteger},
      {TFieldType::ftBoolean, dtBoolean},   {TFieldType::ftFloat, dtFloat},
      {TFieldType::ftCurrency, dtCurrency}, {TFieldType::ftDate, dtDate},
      {TFieldType::ftTime, dtTime},         {TFieldType::ftDateTime, dtDateTime},
      {TFieldType::ftMemo, dtMemo},         {TFieldType::ftBytes, dtBinary},
      {TFieldType::ftGraphic, dtBinary},    {TFieldType::ftFmtMemo, dtBinary},
      {TFieldType::ftParadoxOle, dtBinary}, {TFieldType::ftOraClob, dtBinary},
      {TFieldType::ftBCD, dtUnknown},       {TFieldType::ftLargeint, dtUnknown},
      {TFieldType::ftDataSet, dtUnknown},   {TFieldType::ftGuid, dtUnknown},
  };
  for (const auto& [ft, dt] : read) EXPECT_EQ(BDEFieldTypeToDataType(ft), dt) << FieldTypeName(ft);
  const std::pair<TArDbDataType, TFieldType> write[] = {
      {dtBoolean, TFieldType::ftBoolean}, {dtInteger, TFieldType::ftInteger},
      {dtFloat, TFieldType::ftFloat},     {dtCurrency, TFieldType::ftCurrency},
      {dtDate, TFieldType::ftDateTime},   {dtTime, TFieldType::ftDateTime},
      {dtString, TFieldType::ftString},   {dtMemo, TFieldType::ftMemo},
      {dtPicture, TFieldType::ftBlob},    {dtDocument, TFieldType::ftBlob},
      {0x0900, TFieldType::ftUnknown},
  };
  for (const auto& [dt, ft] : write) EXPECT_EQ(DataTypeToBDEFieldType(dt), ft) << dt;
}

// ---------------------------------------------------------------------------------------------
// SQL text

TEST(PdoxSql, QuestionMarksBecomeNumberedParametersOutsideQuotes) {
  EXPECT_EQ(BDEQueryText("SELECT [ID] FROM [T] WHERE [ID]=? AND [NAME]='?'", '"', '"'),
            "SELECT \"ID\" FROM \"T\" WHERE \"ID\"=:PARAM0 AND \"NAME\"='?'");
  EXPECT_EQ(
      BDEQueryText("UPDATE [T] SET [A]=?, [B]='it''s ?', [C]=? WHERE [D]=\"?\" OR [E]=?", '"', '"'),
      "UPDATE \"T\" SET \"A\"=:PARAM0, \"B\"='it''s ?', \"C\"=:PARAM1 WHERE \"D\"=\"?\" OR "
      "\"E\"=:PARAM2");
  EXPECT_EQ(bde::TQuery::ParseParamNames(
                "SELECT * FROM T WHERE A=:PARAM0 AND B=':X' AND C=:PARAM1 AND D=\"::\""),
            (std::vector<std::string>{"PARAM0", "PARAM1"}));
}

// ---------------------------------------------------------------------------------------------
// Table definitions

TEST_F(PdoxTest, IndexNamesFollowTheirFieldOrIndN) {
  IntfPtr<IArDbTableDef> def = db->GetTableDef("");
  def->SetTableName("IX");
  for (const char* f : {"A", "B", "C", "D"}) def->AddFieldDef({f, dtInteger, 0, false});
  def->AddIndexDef({"", "A", true, true});
  def->AddIndexDef({"", "B;C", false, false});
  def->AddIndexDef({"", "C", false, true});
  def->AddIndexDef({"", "C;D", false, false});
  def->ApplyChanges();
  const px::TableInfo info = db->BdeDatabase().Engine().ReadTableInfo("IX");
  ASSERT_EQ(info.indexes.size(), 4u);
  EXPECT_TRUE(info.indexes[0].primary);
  EXPECT_EQ(info.indexes[1].name, "Ind0");
  EXPECT_EQ(info.indexes[1].fields, (std::vector<std::string>{"B", "C"}));
  EXPECT_EQ(info.indexes[2].name, "C");
  EXPECT_TRUE(info.indexes[2].unique);
  EXPECT_EQ(info.indexes[3].name, "Ind1");

  // Loaded back: the primary index is named after the table.
  IntfPtr<IArDbTableDef> loaded = db->GetTableDef("ix");
  ASSERT_EQ(loaded->IndexCount(), 4);
  EXPECT_EQ(loaded->GetIndexDef(0), (TArDbIndexDef{"ix_PK", "A", true, true}));
  EXPECT_EQ(loaded->GetIndexDef(1), (TArDbIndexDef{"Ind0", "B;C", false, false}));
  EXPECT_EQ(loaded->GetIndexDef(2), (TArDbIndexDef{"C", "C", false, true}));
  EXPECT_EQ(loaded->GetIndexDef(3), (TArDbIndexDef{"Ind1", "C;D", false, false}));
}

TEST_F(PdoxTest, IndNamesSkipNamesTheDefinitionAlreadyHas) {
  // The working definition carries index names of its own (as a loaded one does).
  MakeT(*db);
  IntfPtr<IArDbTableDef> def = db->GetTableDef("T");
  def->AddIndexDef({"", "NAME;VAL", false, false});
  def->ApplyChanges();  // rebuilt: the old indexes keep their names
  IntfPtr<IArDbTableDef> again = db->GetTableDef("T");
  again->AddFieldDef({"W", dtInteger, 0, false});
  again->AddIndexDef({"", "VAL;W", false, false});
  again->ApplyChanges();
  const px::TableInfo info = db->BdeDatabase().Engine().ReadTableInfo("T");
  std::vector<std::string> names;
  for (const auto& idx : info.indexes) names.push_back(idx.name);
  // The loaded definition names its first composite index "Ind0", so the rebuild gives the
  // composite indexes the next free names.
  EXPECT_EQ(names, (std::vector<std::string>{"", "NAME", "Ind1", "Ind2"}));
}

TEST_F(PdoxTest, IndNamesSkipTheNamesOfSingleFieldIndexes) {
  // A field called like a generated name: its index takes the field's name, so a composite
  // index before or after it must not take the same name.
  const std::vector<std::vector<TArDbIndexDef>> cases = {
      {{"", "ind0", false, false}, {"", "A;B", false, false}},
      {{"", "A;B", false, false}, {"", "ind0", false, false}},
  };
  int n = 0;
  for (const auto& indexes : cases) {
    SCOPED_TRACE(n);
    const std::string table = "SX" + std::to_string(n++);
    IntfPtr<IArDbTableDef> def = db->GetTableDef("");
    def->SetTableName(table);
    def->AddFieldDef({"K", dtInteger, 0, true});
    for (const char* f : {"ind0", "A", "B"}) def->AddFieldDef({f, dtInteger, 0, false});
    def->AddIndexDef({"", "K", true, true});
    for (const TArDbIndexDef& idx : indexes) def->AddIndexDef(idx);
    def->ApplyChanges();
    const px::TableInfo info = db->BdeDatabase().Engine().ReadTableInfo(table);
    std::vector<std::string> names;
    for (const auto& idx : info.indexes)
      if (!idx.primary) names.push_back(idx.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Ind1", "ind0"}));
  }
}

TEST_F(PdoxTest, FieldsLoadWithTheirTypesSizesAndRequiredFlags) {
  const TArDbFieldDef fields[] = {
      {"B", dtBoolean, 0, false},  {"I", dtInteger, 0, true},   {"F", dtFloat, 0, false},
      {"C", dtCurrency, 0, false}, {"D", dtDateTime, 0, false}, {"S", dtString, 40, true},
      {"M", dtMemo, 0, false},     {"BIN", dtBinary, 0, false}, {"LONGS", dtString, 300, false}};
  CreateTableFromDefs(*db, "TYPES", fields, {});
  IntfPtr<IArDbTableDef> def = db->GetTableDef("TYPES");
  ASSERT_EQ(def->FieldCount(), 9);
  const TArDbFieldDef expected[] = {
      {"B", dtBoolean, 0, false},  {"I", dtInteger, 0, true},   {"F", dtFloat, 0, false},
      {"C", dtCurrency, 0, false}, {"D", dtDateTime, 0, false}, {"S", dtString, 40, true},
      {"M", dtMemo, 1, false},     {"BIN", dtBinary, 0, false}, {"LONGS", dtString, 255, false}};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(def->GetFieldDef(i), expected[i]) << i;
  const px::TableInfo info = db->BdeDatabase().Engine().ReadTableInfo("TYPES");
  EXPECT_EQ(info.fields[5].type, px::FieldType::kAlpha);
  EXPECT_EQ(info.fields[4].type, px::FieldType::kTimestamp);
  EXPECT_EQ(info.fields[1].type, px::FieldType::kLong);
  EXPECT_EQ(info.fields[3].type, px::FieldType::kMoney);
}

TEST_F(PdoxTest, RestructuringWithANewFieldCopiesEveryRow) {
  MakeT(*db);
  const Bytes blob{1, 2, 3, 0, 255};
  AppendRows(*db, "T", {{1, "one", 1.5, "memo 1", blob}, {2, "two"}, {3, "three", 3.25}});
  IntfPtr<IArDbTableDef> def = db->GetTableDef("T");
  def->AddFieldDef({"EXTRA", dtInteger, 0, false});
  def->SetFieldDef(2, {"VALUE", dtFloat, 0, false}, true);  // renamed: copied by Id
  def->ApplyChanges();

  EXPECT_EQ(
      FolderFiles(folder.Path()),
      (std::vector<std::string>{"ATLORPX.LCK", "T.DB", "T.MB", "T.PX", "T.VAL", "T.X02", "T.Y02"}));
  IntfPtr<IArDbCursor> c = db->OpenTable("T", nullptr, 0, nullptr, 0, nullptr, 0, false);
  EXPECT_EQ(c->FieldName(2), "VALUE");
  EXPECT_EQ(c->FieldName(5), "EXTRA");
  EXPECT_EQ(c->AsBlob(4).BytesRef(), blob);
  EXPECT_EQ(CursorRows(*c),
            (std::vector<std::string>{
                "1|one|1.5|memo 1|\x01\x02\x03" + std::string(1, '\0') + "\xFF|null",
                "2|two|null|null|null|null", "3|three|3.25|null|null|null"}));
}

TEST_F(PdoxTest, AFailedRowCopyDropsTheNewTableAndGivesTheOldOneItsName) {
  MakeT(*db);
  AppendRows(*db, "T", {{1, "one"}, {2}});  // row 2 has no NAME
  IntfPtr<IArDbTableDef> def = db->GetTableDef("T");
  def->SetFieldDef(1, {"NAME", dtString, 20, true}, false);  // now required
  const std::string error = ErrorText([&] { def->ApplyChanges(); });
  EXPECT_NE(error.find("NAME"), std::string::npos) << error;
  EXPECT_EQ(
      FolderFiles(folder.Path()),
      (std::vector<std::string>{"ATLORPX.LCK", "T.DB", "T.MB", "T.PX", "T.VAL", "T.X02", "T.Y02"}));
  IntfPtr<IArDbCursor> c = db->OpenTable("T", nullptr, 0, nullptr, 0, nullptr, 0, false);
  EXPECT_EQ(CursorRows(*c),
            (std::vector<std::string>{"1|one|null|null|null", "2|null|null|null|null"}));
  EXPECT_FALSE(db->GetTableDef("T")->GetFieldDef(1).Required);
}

TEST_F(PdoxTest, ARenameOnlyRestructuringRenamesTheFamily) {
  MakeT(*db);
  AppendRows(*db, "T", {{1, "one", 2.5, "note", Bytes{9}}});
  IntfPtr<IArDbTableDef> def = db->GetTableDef("T");
  def->SetTableName("RENAMED");
  def->ApplyChanges();
  EXPECT_EQ(FolderFiles(folder.Path()),
            (std::vector<std::string>{"ATLORPX.LCK", "RENAMED.DB", "RENAMED.MB", "RENAMED.PX",
                                      "RENAMED.VAL", "RENAMED.X02", "RENAMED.Y02"}));
  IntfPtr<IArDbCursor> c = db->OpenTable("RENAMED", nullptr, 0, nullptr, 0, nullptr, 0, false);
  EXPECT_EQ(CursorRows(*c), (std::vector<std::string>{"1|one|2.5|note|\t"}));
  EXPECT_EQ(def->GetTableName(), "RENAMED");
  EXPECT_FALSE(def->Modified());
}

TEST_F(PdoxTest, NamesCompareWithoutRegardToCase) {
  MakeT(*db, "Atlor_Case");
  EXPECT_TRUE(db->TableExists("ATLOR_CASE"));
  IntfPtr<IArDbTableDef> def = db->GetTableDef("atlor_case");
  def->SetTableName("ATLOR_CASE");
  def->SetFieldDef(0, {"id", dtInteger, 0, true}, true);
  def->ApplyChanges();  // no modification: nothing renamed
  EXPECT_TRUE(fs::exists(fs::path(folder.Path()) / "Atlor_Case.DB"));
}

TEST_F(PdoxTest, LongNamesGetAShortenedTemporaryName) {
  const std::string name = "ATLOR_SECTORS_ABCDEFGHI";  // 23 characters
  MakeT(*db, name);
  AppendRows(*db, name, {{1, "one"}});
  const std::string temp = UniqueTableName(*db, name, "_TMP");
  EXPECT_LE(temp.size(), 24u);
  EXPECT_EQ(temp, "ATLOR_SECTORS_ABCD_TMP0");
  IntfPtr<IArDbTableDef> def = db->GetTableDef(name);
  def->DeleteFieldDef(2, true);
  def->ApplyChanges();
  IntfPtr<IArDbCursor> c = db->OpenTable(name, nullptr, 0, nullptr, 0, nullptr, 0, false);
  EXPECT_EQ(CursorRows(*c), std::vector<std::string>{"1|one|null|null"});
  EXPECT_EQ(db->GetInfo(ikRelations)->AsString("NAME", ""), name);
}

// ---------------------------------------------------------------------------------------------
// OpenTable: the key-row walk

TEST_F(PdoxTest, KeyRowsComeOutInTheirOrderAndMissingKeysAreSkipped) {
  MakeKeyed(*db);
  const std::string k[] = {"K"};
  const Value keys[] = {5, 4, 3, 9};
  const std::string fields[] = {"v", "n"};
  IntfPtr<IArDbCursor> c = db->OpenTable("KT", fields, 2, k, 1, keys, 4, true);
  EXPECT_EQ(c->FieldIndex("V"), 0);
  EXPECT_EQ(CursorRows(*c), (std::vector<std::string>{"d|1", "e|2", "b|1", "c|2"}));

  // Two key fields: one row each.
  const std::string kn[] = {"K", "N"};
  const Value pairs[] = {7, 1, 3, 2, 3, 3};
  c = db->OpenTable("KT", nullptr, 0, kn, 2, pairs, 3, false);
  EXPECT_EQ(CursorRows(*c), (std::vector<std::string>{"7|1|f", "3|2|c"}));

  // No key rows: at the end at once; no key fields: every row.
  c = db->OpenTable("KT", nullptr, 0, k, 1, keys, 0, true);
  EXPECT_TRUE(c->Eof());
  c = db->OpenTable("KT", nullptr, 0, nullptr, 0, nullptr, 0, true);
  EXPECT_EQ(CursorRows(*c).size(), 6u);
}

TEST_F(PdoxTest, KeyRowsOnANonKeyFieldAndUnknownFields) {
  MakeKeyed(*db);
  const std::string v[] = {"V"};
  const Value keys[] = {"e", "a", "zz"};
  IntfPtr<IArDbCursor> c = db->OpenTable("KT", nullptr, 0, v, 1, keys, 3, true);
  EXPECT_EQ(CursorRows(*c), (std::vector<std::string>{"5|2|e", "1|1|a"}));

  const std::string bad[] = {"V", "X"};
  EXPECT_EQ(ErrorText([&] { db->OpenTable("KT", bad, 2, nullptr, 0, nullptr, 0, false); }),
            "(assertion) Field not X found");
  // The table was closed again: it can be renamed.
  IntfPtr<IArDbTableDef> def = db->GetTableDef("KT");
  def->SetTableName("KT2");
  def->ApplyChanges();
}

TEST_F(PdoxTest, KeyRowsGiveOnlyAdjacentRowsAndAnOpenTableIsBusy) {
  MakeT(*db);  // NAME has an index of its own
  AppendRows(*db, "T", {{3, "x"}, {1, "x"}, {2, "y"}, {4, "x"}});
  const std::string name[] = {"NAME"};
  const Value keys[] = {"x", "y"};
  const std::string id[] = {"ID"};
  IntfPtr<IArDbCursor> c = db->OpenTable("T", id, 1, name, 1, keys, 2, true);
  // "x" is found at ID 1 (the first in key order); ID 2 holds "y", so 3 and 4 are not reached.
  EXPECT_EQ(c->AsInteger(0, 0), 1);
  EXPECT_EQ(ErrorText([&] { db->DropTable("T"); }), "Table is busy.\nTable: T");
  EXPECT_EQ(CursorRows(*c), (std::vector<std::string>{"1", "2"}));
  db->DropTable("T");  // the end of the walk closed the table
  EXPECT_FALSE(db->TableExists("T"));
}

TEST_F(PdoxTest, CursorFieldSizesAndValues) {
  MakeT(*db);
  AppendRows(*db, "T", {{1, "abc", 2.0, "мемо", Bytes{1, 2, 3, 4}}});
  IntfPtr<IArDbCursor> c = db->OpenTable("T", nullptr, 0, nullptr, 0, nullptr, 0, false);
  EXPECT_EQ(c->FieldSize("NAME"), 3);
  EXPECT_EQ(c->FieldSize("NOTE"), 4);
  EXPECT_EQ(c->FieldSize("DATA"), 4);
  EXPECT_EQ(c->FieldType("ID"), dtInteger);
  EXPECT_EQ(c->FieldType("NOTE"), dtMemo);
  EXPECT_EQ(c->FieldType("DATA"), dtBinary);
  EXPECT_EQ(c->AsVariant("VAL"), Value(2.0));
  const std::string memo = "мемо";
  EXPECT_EQ(c->AsBlob("NOTE"), Value(Bytes(memo.begin(), memo.end())));
  c->Next();
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->FieldType("DATA"), dtBinary);  // answers at the end too
  EXPECT_EQ(c->FieldCount(), 5);
}

// ---------------------------------------------------------------------------------------------
// Persistence and transactions

TEST(PdoxPersistence, TablesWrittenThroughTheBackEndReadBackWithTheEngine) {
  TempFolder f;
  {
    IntfPtr<TPdoxArDb> db = OpenDb(f.Path());
    MakeT(*db);
    AppendRows(*db, "T", {{2, "two", 2.5, "memo", Bytes{7, 8}}, {1, "one"}});
    db->Close();
  }
  std::unique_ptr<px::Database> engine = px::Database::Open(f.Path(), ReadOnlyOptions());
  px::Table& t = engine->OpenTable("T");
  ASSERT_EQ(t.RecordCount(), 2u);
  const std::vector<px::RowId> rows = t.Rows();
  EXPECT_EQ(t.Get(rows[0], 1), Value("one"));
  EXPECT_EQ(t.Get(rows[1], 3), Value("memo"));
  EXPECT_EQ(t.Get(rows[1], 4), Value(Bytes{7, 8}));
  EXPECT_EQ(engine->ReadTableInfo("T").indexes.size(), 2u);
}

TEST(PdoxPersistence, RollbackUndoesAndCommitWrites) {
  TempFolder f;
  IntfPtr<TPdoxArDb> db = OpenDb(f.Path());
  MakeT(*db);
  db->StartTransaction();
  EXPECT_TRUE(db->InTransaction());
  AppendRows(*db, "T", {{1, "one"}});
  db->Rollback();
  AppendRows(*db, "T", {{2, "two"}});
  db->StartTransaction();
  AppendRows(*db, "T", {{3, "three"}});
  db->Commit();
  std::unique_ptr<px::Database> reader = px::Database::Open(f.Path(), ReadOnlyOptions());
  EXPECT_EQ(reader->OpenTable("T").RecordCount(), 2u);
  IntfPtr<IArDbCursor> c = db->OpenTable("T", nullptr, 0, nullptr, 0, nullptr, 0, false);
  EXPECT_EQ(CursorRows(*c),
            (std::vector<std::string>{"2|two|null|null|null", "3|three|null|null|null"}));
}

TEST(PdoxPersistence, ClosingTheDatabaseClosesItsCursorsTables) {
  TempFolder f;
  IntfPtr<TPdoxArDb> db = OpenDb(f.Path());
  MakeT(*db);
  AppendRows(*db, "T", {{1, "one"}, {2, "two"}});
  IntfPtr<IArDbCursor> c = db->OpenTable("T", nullptr, 0, nullptr, 0, nullptr, 0, false);
  db->Close();
  EXPECT_TRUE(c->Eof());
  db->Open(TPdoxArDb::MakeDescription(f.Path()));
  db->DropTable("T");  // not busy any more
  EXPECT_FALSE(db->TableExists("T"));
}

// ---------------------------------------------------------------------------------------------
// The driver

class PdoxDriverTest : public ::testing::Test {
 protected:
  PdoxDriverTest() {
    InitializeDriverRegistry(ProgramDriverResources());
    RegisterProgramDrivers();
  }
  ~PdoxDriverTest() override { FinalizeDriverRegistry(); }
};

TEST_F(PdoxDriverTest, IsTheFirstBuiltInDriverAndOpensFolders) {
  ASSERT_GE(DriverList().Count(), 1);
  const TArDbDriver& driver = DriverList().Items(0);
  EXPECT_EQ(driver.Name(), "BDE.Paradox");
  const std::vector<XmlNode> params = driver.DescriptionElement().Elements("param");
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(params[0].Attribute("name"), "folder");
  EXPECT_EQ(params[1].Attribute("name"), "password");

  TempFolder f;
  IntfPtr<IArDb> db = DriverCreateDatabase(TPdoxArDb::MakeDescription(f.Path()), true);
  EXPECT_TRUE(db->Active());
  EXPECT_EQ(db->Description()->GetString(Value("ArDb\\DriverName"), ""), "BDE.Paradox");
}

TEST_F(PdoxDriverTest, CreateDatabaseMakesANewFolderAndRefusesAFullOne) {
  TempFolder f;
  const std::string target = f.File("new/base");
  const auto request = [](const std::string& folder) {
    return "<create-database driver-name=\"BDE.Paradox\"><param name=\"folder\">" + folder +
           "</param></create-database>";
  };
  EXPECT_EQ(DriverRequest(request(target)), "<response/>");
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_EQ(DriverRequest(request(target)), "<response/>");  // empty: accepted
  std::ofstream(fs::path(target) / "X.DB") << "x";
  EXPECT_NE(ErrorText([&] { DriverRequest(request(target)); }).find("не пуста"), std::string::npos);
  EXPECT_NE(ErrorText([&] {
              DriverRequest(request((fs::path(target) / "X.DB").string()));
            }).find("не папка"),
            std::string::npos);
}

}  // namespace
}  // namespace atlor
