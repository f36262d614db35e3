#include "backends/sqlite/sqlite_ardb.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "ardb/ardb_defs.h"
#include "ardb/ardbs.h"
#include "core/exception.h"
#include "core/simple_params.h"
#include "support/temp_folder.h"

namespace atlor {
namespace {

namespace fs = std::filesystem;

template <class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  } catch (const EAssertionFailed& e) {
    return "(assertion) " + e.Text();
  }
  return "(no error)";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

using test::TempFolder;

class SQLiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = folder.File("test.sqlite");
    TSQLiteArDb::CreateDatabaseFile(file);
    db = IntfPtr<TSQLiteArDb>(new TSQLiteArDb);
    db->Open(TSQLiteArDb::MakeDescription(file));
  }

  IArDb& Db() { return *db; }

  // Runs a statement without parameters; the cursor when it gives rows.
  IntfPtr<IArDbCursor> Exec(const std::string& sql) {
    return Db().CreateCommand(sql, nullptr, 0, false)->Execute(nullptr, 0);
  }
  // The first column of the first row as text ("" when Null or no row).
  std::string Scalar(const std::string& sql) {
    IntfPtr<IArDbCursor> c = Exec(sql);
    if (!c || c->Eof()) return "(no row)";
    std::string text = c->AsString(0, "(null)");
    c->Close();
    return text;
  }
  // The rows of a query, each row its values' texts joined with "|".
  std::vector<std::string> Rows(const std::string& sql) {
    std::vector<std::string> rows;
    IntfPtr<IArDbCursor> c = Exec(sql);
    for (; c && !c->Eof(); c->Next()) {
      std::string row;
      for (int32_t i = 0; i < c->FieldCount(); ++i) {
        if (i > 0) row += "|";
        row += c->IsNull(i) ? "null" : c->AsString(i, "");
      }
      rows.push_back(row);
    }
    return rows;
  }

  // Table T: ID Integer (primary key), NAME String(20) required, VAL Float, with a unique index
  // on NAME and one on VAL; three rows.
  void MakeT() {
    const TArDbFieldDef fields[] = {{"ID", dtInteger, 0, true},
                                    {"NAME", dtString, 20, true},
                                    {"VAL", dtFloat, 0, false}};
    const TArDbIndexDef indexes[] = {
        {"", "ID", true, true}, {"", "NAME", false, true}, {"", "VAL", false, false}};
    CreateTableFromDefs(Db(), "T", fields, indexes);
    Exec("INSERT INTO [T] VALUES (1,'one',1.5),(2,'two',NULL),(3,'three',3.25)");
  }

  TempFolder folder;
  std::string file;
  IntfPtr<TSQLiteArDb> db;
};

// ---------------------------------------------------------------------------------------------
// Opening and creating

TEST(SQLiteOpen, NeverCreatesAndLeavesBadFilesAsTheyWere) {
  TempFolder folder;
  const std::string missing = folder.File("missing.sqlite");
  const std::string text = folder.File("notes.db");
  const std::string empty = folder.File("empty.db");
  const std::string sub = folder.File("sub");
  WriteFile(text, "This is not a database, but it is long enough to fill a header.\n");
  WriteFile(empty, "");
  fs::create_directory(sub);

  IntfPtr<TSQLiteArDb> db(new TSQLiteArDb);
  struct Case {
    std::string file;
    std::string expected;
  } cases[] = {
      {missing, "Файл базы данных \"" + missing + "\" не найден"},
      {text, "Файл \"" + text + "\" не является базой данных SQLite"},
      {empty, "Файл \"" + empty + "\" не является базой данных SQLite"},
      {sub, "Файл \"" + sub + "\" не является базой данных SQLite"},
      {"", "Не задан файл базы данных SQLite"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(ErrorText([&] { db->Open(TSQLiteArDb::MakeDescription(c.file)); }), c.expected);
    EXPECT_FALSE(db->Active());
  }
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(ReadFile(text), "This is not a database, but it is long enough to fill a header.\n");
  EXPECT_EQ(fs::file_size(empty), 0u);
  // Nothing was left next to them either.
  EXPECT_FALSE(fs::exists(text + "-wal"));
  EXPECT_FALSE(fs::exists(empty + "-journal"));
}

TEST(SQLiteOpen, HeaderOfAnotherKindIsNotADatabase) {
  TempFolder folder;
  const std::string bad = folder.File("bad.sqlite");
  // Right magic, broken page size: SQLite itself refuses it.
  std::string data(4096, '\0');
  data.replace(0, 16, std::string("SQLite format 3\0", 16));
  data[16] = 0x7F;
  data[17] = 0x7F;
  WriteFile(bad, data);
  IntfPtr<TSQLiteArDb> db(new TSQLiteArDb);
  EXPECT_EQ(ErrorText([&] { db->Open(TSQLiteArDb::MakeDescription(bad)); }),
            "Файл \"" + bad + "\" не является базой данных SQLite");
  EXPECT_EQ(ReadFile(bad), data);
}

TEST(SQLiteOpen, FileOrFolderThatMayNotBeWrittenIsRefused) {
  TempFolder folder;
  const std::string path = folder.File("ro.sqlite");
  TSQLiteArDb::CreateDatabaseFile(path);
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  if (::access(path.c_str(), W_OK) == 0) GTEST_SKIP() << "the file stays writable (root)";
  const std::string before = ReadFile(path);
  IntfPtr<TSQLiteArDb> db(new TSQLiteArDb);
  EXPECT_EQ(ErrorText([&] { db->Open(TSQLiteArDb::MakeDescription(path)); }),
            "Файл базы данных \"" + path + "\" не может быть открыт для записи");
  EXPECT_EQ(ReadFile(path), before);
  // A writable file in a folder where the journal cannot be made.
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(folder.Path(), fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(ErrorText([&] { db->Open(TSQLiteArDb::MakeDescription(path)); }),
            "Файл базы данных \"" + path +
                "\" не может быть открыт для записи: папка недоступна для записи");
  EXPECT_EQ(ReadFile(path), before);
}

TEST(SQLiteOpen, LockedDatabaseWaitsForTheBusyTimeoutThenFails) {
  TempFolder folder;
  const std::string path = folder.File("locked.sqlite");
  TSQLiteArDb::CreateDatabaseFile(path);
  // Another connection (as another process would) holds an exclusive lock.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "PRAGMA journal_mode=DELETE; BEGIN EXCLUSIVE;", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  IntfPtr<TSQLiteArDb> db(new TSQLiteArDb);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorText([&] { db->Open(TSQLiteArDb::MakeDescription(path, 300)); }),
            "База данных \"" + path +
                "\" заблокирована другим процессом: время ожидания (300 мс) истекло");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_FALSE(db->Active());
  // Once the other process lets go, the database opens.
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  db->Open(TSQLiteArDb::MakeDescription(path, 300));
  EXPECT_TRUE(db->Active());
}

TEST_F(SQLiteTest, OpensWithWriteAheadLogAndNormalSynchronisation) {
  EXPECT_TRUE(db->Active());
  EXPECT_EQ(Scalar("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(Scalar("PRAGMA synchronous"), "1");
  EXPECT_EQ(Scalar("PRAGMA busy_timeout"), "5000");
  IntfPtr<ISimpleParams> description = db->Description();
  EXPECT_EQ(description->GetString("ArDb\\DriverName", ""), "SQLITE");
  EXPECT_EQ(description->GetString("file", ""), file);
  db->Close();
  EXPECT_FALSE(db->Active());
  db->Open(TSQLiteArDb::MakeDescription(file, 1234));
  EXPECT_EQ(Scalar("PRAGMA busy_timeout"), "1234");
}

TEST(SQLiteCreate, CreatesAnEmptyDatabaseAndNeverOverwrites) {
  TempFolder folder;
  const std::string path = folder.File("new.sqlite");
  TSQLiteArDb::CreateDatabaseFile(path);
  EXPECT_EQ(ReadFile(path).substr(0, 16), std::string("SQLite format 3\0", 16));
  EXPECT_FALSE(fs::exists(path + "-wal"));

  const std::string other = folder.File("other.db");
  WriteFile(other, "keep me");
  for (const std::string& existing : {path, other}) {
    const std::string before = ReadFile(existing);
    EXPECT_EQ(ErrorText([&] { TSQLiteArDb::CreateDatabaseFile(existing); }),
              "Файл \"" + existing + "\" уже существует: новая база данных SQLite не создана");
    EXPECT_EQ(ReadFile(existing), before);
  }
  EXPECT_NE(ErrorText([&] { TSQLiteArDb::CreateDatabaseFile(folder.File("no/such/dir.db")); }),
            "(no error)");

  IntfPtr<TSQLiteArDb> db(new TSQLiteArDb);
  db->Open(TSQLiteArDb::MakeDescription(path));
  EXPECT_FALSE(db->TableExists("atlor_new_database"));
}

// ---------------------------------------------------------------------------------------------
// Values

TEST_F(SQLiteTest, ValuesRoundTripAndAreStoredAsSQLitesOwn) {
  const TArDbFieldDef fields[] = {
      {"B", dtBoolean, 0, false},  {"I", dtInteger, 0, false}, {"F", dtFloat, 0, false},
      {"C", dtCurrency, 0, false}, {"D", dtDateTime, 0, false}, {"S", dtString, 30, false},
      {"M", dtMemo, 0, false},     {"X", dtBinary, 0, false}};
  CreateTableFromDefs(Db(), "V", fields, {});
  const TArDbParam params[] = {{"B", dtBoolean}, {"I", dtInteger}, {"F", dtFloat},
                               {"C", dtCurrency}, {"D", dtDateTime}, {"S", dtString},
                               {"M", dtMemo},    {"X", dtBinary}};
  IntfPtr<IArDbSQLCommand> insert = BuildInsertCommand(Db(), "V", params, true);
  const DateTime when = EncodeDateTime(2024, 2, 29, 13, 45, 10);
  const std::string memo(5000, 'm');
  insert->Execute({Value(true), Value(-123456), Value(2.5), Value(Currency{123456}), Value(when),
                   Value("Привет"), Value(memo), Value(Bytes{0, 1, 2, 255})});
  EXPECT_EQ(insert->RowsAffected(), 1);
  insert->Execute({Value(false), Value(int64_t{7}), Value(-0.125), Value(Currency{-70000}),
                   Value(DateTime{-1.5}), Value(""), Value(""), Value(Bytes{})});
  const Value null = Value::Null();
  insert->Execute({null, null, null, null, null, null, null, null});

  EXPECT_EQ(Rows("SELECT typeof(B),typeof(I),typeof(F),typeof(C),typeof(D),typeof(S),"
                 "typeof(M),typeof(X) FROM [V] ORDER BY rowid"),
            (std::vector<std::string>{"integer|integer|real|real|real|text|text|blob",
                                      "integer|integer|real|integer|real|text|text|blob",
                                      "null|null|null|null|null|null|null|null"}));
  EXPECT_EQ(Rows("SELECT B, I, C, D FROM [V] ORDER BY rowid").front(),
            "1|-123456|12.3456|" + FloatToText(when.days));

  IntfPtr<IArDbCursor> c = OpenTableCursor(Db(), "V");
  const TArDbDataType types[] = {dtBoolean, dtInteger,  dtFloat, dtCurrency,
                                 dtDateTime, dtString, dtMemo,  dtBinary};
  for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(c->FieldType(i), types[i]) << i;
  EXPECT_EQ(c->AsVariant("B"), Value(true));
  EXPECT_EQ(c->AsVariant("I"), Value(-123456));
  EXPECT_EQ(c->AsVariant("F"), Value(2.5));
  EXPECT_EQ(c->AsVariant("C"), Value(Currency{123456}));
  EXPECT_EQ(c->AsVariant("D"), Value(when));
  EXPECT_EQ(c->AsVariant("S"), Value("Привет"));
  EXPECT_EQ(c->AsString("M", ""), memo);
  EXPECT_EQ(c->AsBlob("X"), Value(Bytes{0, 1, 2, 255}));
  EXPECT_EQ(c->FieldSize("S"), 6);
  EXPECT_EQ(c->FieldSize("X"), 4);
  c->Next();
  EXPECT_EQ(c->AsVariant("B"), Value(false));
  EXPECT_EQ(c->AsVariant("C"), Value(Currency{-70000}));
  EXPECT_EQ(c->AsDateTime("D", DateTime{}), DateTime{-1.5});
  EXPECT_EQ(c->AsVariant("S"), Value(""));
  EXPECT_EQ(c->AsBlob("X"), Value(Bytes{}));  // an empty blob, not Null
  c->Next();
  for (int32_t i = 0; i < 8; ++i) {
    EXPECT_TRUE(c->IsNull(i)) << i;
    EXPECT_EQ(c->AsVariant(i), null) << i;
  }
  EXPECT_EQ(c->AsInteger("I", 7), 7);
  c->Next();
  EXPECT_TRUE(c->Eof());
}

TEST_F(SQLiteTest, ConversionsOfStoredValues) {
  Exec("CREATE TABLE [W] ([A] BIGINT, [B] TEXT, [C] DOUBLE)");
  Exec("INSERT INTO [W] VALUES (5000000000, '42', 2.5), (1, '2024-01-02 03:04:05', 7)");
  IntfPtr<IArDbCursor> c = OpenTableCursor(Db(), "W");
  EXPECT_EQ(c->FieldType("A"), dtInteger);
  EXPECT_NE(ErrorText([&] { c->AsInteger("A", 0); }), "(no error)");  // never cut silently
  EXPECT_EQ(c->AsFloat("A", 0), 5e9);
  EXPECT_EQ(c->AsString("A", ""), "5000000000");
  EXPECT_EQ(c->AsCurrency("A", Currency{}), Currency{50000000000000});
  EXPECT_EQ(c->AsInteger("B", 0), 42);
  EXPECT_EQ(c->AsString("C", ""), "2.5");
  EXPECT_EQ(c->AsCurrency("C", Currency{}), Currency{25000});
  c->Next();
  EXPECT_EQ(c->AsDateTime("B", DateTime{}), EncodeDateTime(2024, 1, 2, 3, 4, 5));
  EXPECT_EQ(c->AsBoolean("A", false), true);
  EXPECT_EQ(c->AsInteger("C", 0), 7);
}

TEST(SQLiteTypes, DeclaredTypesMapBack) {
  struct Case {
    const char* declared;
    TArDbDataType type;
    int32_t size;
  } cases[] = {
      {"BOOLEAN", dtBoolean, 0},      {"INTEGER", dtInteger, 0},
      {"DOUBLE", dtFloat, 0},         {"CURRENCY", dtCurrency, 0},
      {"DATETIME", dtDateTime, 0},    {"VARCHAR(40)", dtString, 40},
      {"TEXT", dtMemo, 0},            {"BLOB", dtBinary, 0},
      {"int", dtInteger, 0},          {"BIGINT", dtInteger, 0},
      {"unsigned  big int", dtInteger, 0}, {"REAL", dtFloat, 0},
      {"FLOAT", dtFloat, 0},          {"double precision", dtFloat, 0},
      {"CHAR(3)", dtString, 3},       {"NVARCHAR( 12 )", dtString, 12},
      {"character varying(8)", dtString, 8}, {"VARCHAR", dtString, 0},
      {"CLOB", dtMemo, 0},            {"NUMERIC(10,0)", dtInteger, 0},
      {"DECIMAL(20,4)", dtCurrency, 0}, {"NUMERIC(11)", dtFloat, 0},
      {"NUMERIC", dtFloat, 0},        {"DATE", dtDate, 0},
      {"TIMESTAMP", dtDateTime, 0},   {"bool", dtBoolean, 0},
      {"", dtUnknown, 0},             {"POINT", dtUnknown, 0},
      {"VARCHAR(x)", dtUnknown, 0},   {"VARCHAR(10", dtUnknown, 0},
  };
  for (const Case& c : cases) {
    int32_t size = -5;
    EXPECT_EQ(SQLiteDataTypeOf(c.declared, &size), c.type) << c.declared;
    EXPECT_EQ(size, c.size) << c.declared;
  }
  for (const TArDbDataType type :
       {dtBoolean, dtInteger, dtFloat, dtCurrency, dtDateTime, dtString, dtMemo, dtBinary}) {
    int32_t size = 0;
    EXPECT_EQ(SQLiteDataTypeOf(SQLiteTypeName(type, 25), &size), type);
  }
  EXPECT_EQ(SQLiteTypeName(dtString, 25), "VARCHAR(25)");
  EXPECT_EQ(SQLiteTypeName(dtPicture, 0), "BLOB");
  EXPECT_EQ(SQLiteTypeName(0x0900, 0), "");
}

// ---------------------------------------------------------------------------------------------
// Commands and cursors

TEST(SQLiteStatements, QualifiedColumnsOfInsertAndUpdateAreAdapted) {
  EXPECT_EQ(AdaptSQLiteStatement("INSERT INTO [T] ([T].[A],[T].[B]) VALUES(?,?)"),
            "INSERT INTO [T] ([A],[B]) VALUES(?,?)");
  EXPECT_EQ(AdaptSQLiteStatement("UPDATE [T] SET [T].[A]=?,[T].[B]=? WHERE ([T].[K]=?)"),
            "UPDATE [T] SET [A]=?,[B]=? WHERE ([K]=?)");
  EXPECT_EQ(AdaptSQLiteStatement("update t set T.a='[T].[x]' where \"t\".b=1"),
            "update t set a='[T].[x]' where b=1");
  EXPECT_EQ(AdaptSQLiteStatement("INSERT OR REPLACE INTO [main].[T] ([T].[A]) VALUES(1)"),
            "INSERT OR REPLACE INTO [main].[T] ([A]) VALUES(1)");
  EXPECT_EQ(AdaptSQLiteStatement("UPDATE OR IGNORE T SET T.A=1"), "UPDATE OR IGNORE T SET A=1");
  for (const char* same : {"SELECT [T].[A] FROM [T]", "UPDATE [T] SET [A]=1",
                           "INSERT INTO [T] ([TT].[A]) VALUES(1)", "DELETE FROM [T]"})
    EXPECT_EQ(AdaptSQLiteStatement(same), same);
}

TEST_F(SQLiteTest, BuiltStatementsRun) {
  MakeT();
  const TArDbParam set[] = {StringParam("NAME"), FloatParam("VAL")};
  const TArDbParam keys[] = {IntegerParam("ID")};
  IntfPtr<IArDbSQLCommand> update = BuildUpdateCommand(Db(), "T", set, keys, true);
  update->Execute({Value("deux"), Value(22.0), Value(2)});
  EXPECT_EQ(update->RowsAffected(), 1);
  update->Execute({Value("x"), Value(0.0), Value(99)});
  EXPECT_EQ(update->RowsAffected(), 0);
  const std::string fields[] = {"NAME"};
  IntfPtr<IArDbCursor> c =
      BuildSelectCommand(Db(), "T", fields, keys, false)->Execute({Value(2)});
  ASSERT_FALSE(c->Eof());
  EXPECT_EQ(c->AsString("name", ""), "deux");  // names ignore case
  EXPECT_EQ(c->FieldIndex("Name"), 0);
  EXPECT_EQ(c->FieldIndex("VAL"), -1);
  c->Next();
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->FieldCount(), 1);
  EXPECT_EQ(c->FieldName(0), "NAME");
}

TEST_F(SQLiteTest, RowsAffectedAndEmptyResults) {
  MakeT();
  IntfPtr<IArDbSQLCommand> del = Db().CreateCommand("DELETE FROM [T] WHERE [ID]>?",
                                                    std::vector<TArDbDataType>{dtInteger}.data(),
                                                    1, false);
  EXPECT_FALSE(del->Execute({Value(1)}));
  EXPECT_EQ(del->RowsAffected(), 2);
  IntfPtr<IArDbSQLCommand> ddl = Db().CreateCommand("CREATE TABLE [E] ([A] INTEGER)", nullptr,
                                                    0, false);
  ddl->Execute(nullptr, 0);
  EXPECT_EQ(ddl->RowsAffected(), 0);  // not the count of the DELETE before
  IntfPtr<IArDbSQLCommand> select = Db().CreateCommand("SELECT * FROM [E]", nullptr, 0, false);
  IntfPtr<IArDbCursor> c = select->Execute(nullptr, 0);
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->FieldCount(), 1);
  EXPECT_EQ(c->FieldType("A"), dtInteger);
  EXPECT_EQ(select->RowsAffected(), -1);
  EXPECT_EQ(ErrorText([&] { c->AsInteger("A", 0); }), "Ошибка доступа к данным: курсор закрыт");
  // Expressions take the type of their value.
  IntfPtr<IArDbCursor> count = Exec("SELECT count(*) AS N, 'x' AS S FROM [T]");
  EXPECT_EQ(count->FieldType("N"), dtInteger);
  EXPECT_EQ(count->FieldType("S"), dtMemo);
  EXPECT_EQ(count->AsVariant("N"), Value(1));
}

TEST_F(SQLiteTest, ErrorsCarrySQLitesMessageAndLeaveTheCommandUsable) {
  MakeT();
  EXPECT_EQ(ErrorText([&] { Exec("SELEC * FROM [T]"); }),
            "Запрос \"SELEC * FROM [T]\". near \"SELEC\": syntax error");
  EXPECT_EQ(ErrorText([&] { Exec("SELECT * FROM [T]; DELETE FROM [T]"); }),
            "Запрос \"SELECT * FROM [T]; DELETE FROM [T]\". Запрос содержит более одного "
            "оператора SQL");
  EXPECT_EQ(Exec("SELECT 1; -- trailing comment\n ;")->AsInteger(0, 0), 1);
  const TArDbDataType one[] = {dtInteger};
  EXPECT_EQ(ErrorText([&] { Db().CreateCommand("SELECT * FROM [T]", one, 1, false); }),
            "Запрос \"SELECT * FROM [T]\". Число параметров в запросе (0) не совпадает с числом "
            "типов параметров (1)");

  const TArDbParam params[] = {IntegerParam("ID"), StringParam("NAME")};
  IntfPtr<IArDbSQLCommand> insert = BuildInsertCommand(Db(), "T", params, true);
  const std::string error = ErrorText([&] { insert->Execute({Value(1), Value("again")}); });
  EXPECT_NE(error.find("Запрос \"INSERT INTO [T] ([T].[ID],[T].[NAME]) VALUES(?,?)\"."),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("Integer(Integer)=1"), std::string::npos) << error;
  EXPECT_NE(error.find("UNIQUE constraint failed: T.ID"), std::string::npos) << error;
  insert->Execute({Value(4), Value("four")});
  EXPECT_EQ(Scalar("SELECT count(*) FROM [T]"), "4");
  // A value that does not convert is an error, not a silent zero.
  EXPECT_NE(ErrorText([&] { insert->Execute({Value("abc"), Value("x")}); }), "(no error)");
  EXPECT_EQ(Scalar("SELECT count(*) FROM [T]"), "4");
}

TEST_F(SQLiteTest, PreparedCommandReusesItsStatementAndKeepsLiveCursorsValid) {
  Exec("CREATE TABLE [R] ([ID] INTEGER PRIMARY KEY, [GRP] INTEGER, [DATA] BLOB)");
  const TArDbParam params[] = {IntegerParam("ID"), IntegerParam("GRP"), BinaryParam("DATA")};
  IntfPtr<IArDbSQLCommand> insert = BuildInsertCommand(Db(), "R", params, true);
  Db().StartTransaction();
  for (int32_t i = 1; i <= 300; ++i)
    insert->Execute({Value(i), Value(i % 3), Value(Bytes(static_cast<size_t>(i), uint8_t(i)))});
  Db().Commit();
  EXPECT_EQ(Scalar("SELECT count(*) FROM [R]"), "300");

  const TArDbParam keys[] = {IntegerParam("GRP")};
  IntfPtr<IArDbSQLCommand> select =
      BuildSelectCommand(Db(), "R", std::span<const std::string>(), keys, true);
  IntfPtr<IArDbCursor> first = select->Execute({Value(1)});
  ASSERT_FALSE(first->Eof());
  EXPECT_EQ(first->AsInteger("ID", 0), 1);
  // Executed again while the first cursor still reads: both read their own rows.
  IntfPtr<IArDbCursor> second = select->Execute({Value(2)});
  EXPECT_EQ(second->AsInteger("ID", 0), 2);
  first->Next();
  EXPECT_EQ(first->AsInteger("ID", 0), 4);
  int32_t count = 0;
  for (; !second->Eof(); second->Next()) {
    EXPECT_EQ(second->AsInteger("GRP", -1), 2);
    EXPECT_EQ(second->AsBlob("DATA").BytesRef().size(), static_cast<size_t>(second->AsInteger("ID", 0)));
    ++count;
  }
  EXPECT_EQ(count, 100);
  EXPECT_EQ(first->AsInteger("GRP", -1), 1);
  first->Close();
  EXPECT_TRUE(first->Eof());
  // Many lookups through one prepared command.
  IntfPtr<IArDbSQLCommand> by_id = BuildSelectCommand(
      Db(), "R", std::span<const std::string>(), std::vector<TArDbParam>{IntegerParam("ID")}, true);
  int64_t sum = 0;
  for (int32_t i = 1; i <= 300; ++i) {
    IntfPtr<IArDbCursor> c = by_id->Execute({Value(i)});
    sum += c->AsInteger("GRP", 0);
  }
  EXPECT_EQ(sum, 300);
}

TEST_F(SQLiteTest, FinishedOrClosedCursorsHoldNoStatement) {
  MakeT();
  IntfPtr<IArDbCursor> read_through = OpenTableCursor(Db(), "T");
  while (!read_through->Eof()) read_through->Next();
  IntfPtr<IArDbCursor> closed = OpenTableCursor(Db(), "T");
  closed->Close();
  EXPECT_TRUE(closed->Eof());
  EXPECT_EQ(closed->FieldCount(), 3);
  // SQLite refuses to drop a table while a statement of the connection still reads.
  Db().DropTable("T");
  EXPECT_FALSE(Db().TableExists("T"));
}

TEST_F(SQLiteTest, OpenTableFetchesByKeyRows) {
  MakeT();
  const std::string all[] = {"*"};
  IntfPtr<IArDbCursor> c = Db().OpenTable("T", all, 1, nullptr, 0, nullptr, 0, false);
  EXPECT_EQ(c->FieldCount(), 3);
  const std::string fields[] = {"NAME", "ID"};
  const std::string key[] = {"ID"};
  const Value ids[] = {Value(3), Value(1), Value(42)};
  c = Db().OpenTable("T", fields, 2, key, 1, ids, 3, false);
  std::set<std::string> names;
  for (; !c->Eof(); c->Next()) names.insert(c->AsString(0, ""));
  EXPECT_EQ(names, (std::set<std::string>{"one", "three"}));
  const std::string keys2[] = {"ID", "NAME"};
  const Value rows2[] = {Value(2), Value("two"), Value(1), Value("one"), Value(3), Value("no")};
  c = Db().OpenTable("T", nullptr, 0, keys2, 2, rows2, 3, true);
  std::vector<int32_t> got;
  for (; !c->Eof(); c->Next()) got.push_back(c->AsInteger("ID", 0));
  EXPECT_EQ(got, (std::vector<int32_t>{1, 2}));  // ordered by the key fields
}

TEST_F(SQLiteTest, InfoCursors) {
  MakeT();
  Exec("CREATE VIEW [TV] AS SELECT * FROM [T]");
  Exec("CREATE TABLE [AUTO] ([ID] INTEGER PRIMARY KEY AUTOINCREMENT)");
  Exec("INSERT INTO [AUTO] DEFAULT VALUES");
  std::map<std::string, std::string> relations;
  for (IntfPtr<IArDbCursor> c = Db().GetInfo(ikRelations); !c->Eof(); c->Next())
    relations[c->AsString("NAME", "")] =
        std::to_string(c->AsBoolean("SYSTEM", false)) + std::to_string(c->AsInteger("OBJTYPE", -1));
  EXPECT_EQ(relations, (std::map<std::string, std::string>{
                           {"T", "00"}, {"TV", "01"}, {"AUTO", "00"}, {"sqlite_sequence", "10"}}));

  IntfPtr<IArDbCursor> literals = Db().GetInfo(ikLiteralInfo);
  for (int32_t kind = 0; kind < 3; ++kind, literals->Next()) {
    EXPECT_EQ(literals->AsInteger("LITERALTYPE", -1), kind);
    EXPECT_EQ(literals->AsInteger("MAXNAMELEN", 0), 128);
  }
  EXPECT_TRUE(literals->Eof());
  EXPECT_EQ(UniqueTableName(Db(), "T", "_TMP"), "T_TMP0");

  std::vector<std::string> words;
  for (IntfPtr<IArDbCursor> c = Db().GetInfo(ikReservedWords); !c->Eof(); c->Next())
    words.push_back(c->AsString("RESERVEDWORD", ""));
  EXPECT_EQ(static_cast<int>(words.size()), sqlite3_keyword_count());
  EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
  for (const char* word : {"SELECT", "TABLE", "INDEX", "VACUUM", "WITHOUT"})
    EXPECT_TRUE(std::binary_search(words.begin(), words.end(), word)) << word;

  std::vector<std::string> types;
  for (IntfPtr<IArDbCursor> c = Db().GetInfo(ikDataTypesInfo); !c->Eof(); c->Next())
    types.push_back(std::to_string(c->AsInteger("ARDBTYPE", 0)) + " " +
                    c->AsString("TYPENAME", ""));
  EXPECT_EQ(types, (std::vector<std::string>{"256 BOOLEAN", "512 INTEGER", "768 DOUBLE",
                                             "1024 CURRENCY", "1280 DATETIME", "1536 VARCHAR",
                                             "1792 TEXT", "2048 BLOB"}));
  EXPECT_EQ(ErrorText([&] { Db().GetInfo(4); }), "Capability not supported");
}

TEST_F(SQLiteTest, TransactionsCommitAndRollBack) {
  MakeT();
  Db().StartTransaction();
  Db().StartTransaction();
  Exec("INSERT INTO [T] VALUES (10,'ten',NULL)");
  Db().Commit();
  EXPECT_TRUE(Db().InTransaction());
  Exec("INSERT INTO [T] VALUES (11,'eleven',NULL)");
  Db().Rollback();
  EXPECT_FALSE(Db().InTransaction());
  EXPECT_EQ(Scalar("SELECT count(*) FROM [T]"), "3");

  Db().StartTransaction();
  Exec("INSERT INTO [T] VALUES (12,'twelve',NULL)");
  IntfPtr<IArDbCursor> open = OpenTableCursor(Db(), "T");
  Db().Commit();
  EXPECT_TRUE(open->Eof());  // ending a transaction closes the cursors
  // Committed for good: another connection sees the row.
  IntfPtr<TSQLiteArDb> other(new TSQLiteArDb);
  other->Open(TSQLiteArDb::MakeDescription(file));
  IntfPtr<IArDbCursor> c = other->CreateCommand("SELECT count(*) FROM [T]", nullptr, 0, false)
                               ->Execute(nullptr, 0);
  EXPECT_EQ(c->AsInteger(0, 0), 4);

  // Table definitions are not changed inside a transaction.
  Db().StartTransaction();
  IntfPtr<IArDbTableDef> def = Db().GetTableDef("T");
  EXPECT_EQ(ErrorText([&] { def->ApplyChanges(); }), "DDL transactions not supported");
  Db().Rollback();
}

TEST_F(SQLiteTest, ClosingDetachesEverythingMadeFromTheDatabase) {
  MakeT();
  IntfPtr<IArDbSQLCommand> command =
      Db().CreateCommand("SELECT * FROM [T]", nullptr, 0, true);
  IntfPtr<IArDbCursor> cursor = command->Execute(nullptr, 0);
  ASSERT_FALSE(cursor->Eof());
  Db().Close();
  const std::string closed = "Ошибка: Операция не может быть выполнена, база данных закрыта";
  EXPECT_EQ(ErrorText([&] { command->Execute(nullptr, 0); }), closed);
  EXPECT_EQ(ErrorText([&] { cursor->Next(); }), closed);
  EXPECT_TRUE(cursor->Eof());
  cursor->Close();
  // Nothing of the old connection is left behind: the database opens again and can be changed.
  Db().Open(TSQLiteArDb::MakeDescription(file));
  Db().DropTable("T");
  EXPECT_FALSE(Db().TableExists("T"));
}

// ---------------------------------------------------------------------------------------------
// Table definitions

struct IndexShape {
  std::string fields;
  bool primary;
  bool unique;
  friend bool operator==(const IndexShape&, const IndexShape&) = default;
};

std::vector<TArDbFieldDef> FieldsOf(IArDbTableDef& def) {
  std::vector<TArDbFieldDef> fields;
  for (int32_t i = 0; i < def.FieldCount(); ++i) fields.push_back(def.GetFieldDef(i));
  return fields;
}

std::vector<IndexShape> IndexesOf(IArDbTableDef& def) {
  std::vector<IndexShape> indexes;
  for (int32_t i = 0; i < def.IndexCount(); ++i) {
    const TArDbIndexDef index = def.GetIndexDef(i);
    indexes.push_back({index.Fields, index.Primary, index.Unique});
  }
  return indexes;
}

std::vector<std::string> IndexNamesOf(IArDbTableDef& def) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < def.IndexCount(); ++i) names.push_back(def.GetIndexDef(i).Name);
  return names;
}

std::ostream& operator<<(std::ostream& out, const IndexShape& i) {
  return out << i.fields << (i.primary ? " primary" : "") << (i.unique ? " unique" : "");
}

TEST_F(SQLiteTest, CreatedDefinitionLoadsBackEqual) {
  const std::vector<TArDbFieldDef> fields = {
      {"ID", dtString, 12, true},    {"FLAG", dtBoolean, 0, false}, {"N", dtInteger, 0, true},
      {"F", dtFloat, 0, false},      {"C", dtCurrency, 0, false},   {"D", dtDateTime, 0, false},
      {"NOTE", dtMemo, 0, false},    {"DATA", dtBinary, 0, false}};
  const TArDbIndexDef indexes[] = {{"X", "ID", true, true},
                                   {"", "N;F", false, true},
                                   {"", "D", false, false}};
  CreateTableFromDefs(Db(), "ATLOR_TEST", fields, indexes);
  EXPECT_EQ(Scalar("SELECT sql FROM sqlite_master WHERE name='ATLOR_TEST'"),
            "CREATE TABLE [ATLOR_TEST] ([ID] VARCHAR(12) NOT NULL, [FLAG] BOOLEAN, [N] INTEGER NOT "
            "NULL, [F] DOUBLE, [C] CURRENCY, [D] DATETIME, [NOTE] TEXT, [DATA] BLOB, PRIMARY KEY "
            "([ID]))");
  IntfPtr<IArDbTableDef> def = Db().GetTableDef("ATLOR_TEST");
  EXPECT_EQ(def->GetTableName(), "ATLOR_TEST");
  EXPECT_EQ(FieldsOf(*def), fields);
  EXPECT_EQ(IndexesOf(*def), (std::vector<IndexShape>{
                                 {"ID", true, true}, {"N;F", false, true}, {"D", false, false}}));
  EXPECT_EQ(IndexNamesOf(*def), (std::vector<std::string>{"sqlite_autoindex_ATLOR_TEST_1",
                                                          "ATLOR_TEST_IND00",
                                                          "ATLOR_TEST_IND01"}));
  EXPECT_FALSE(def->Modified());
  // A unique index is enforced.
  Exec("INSERT INTO [ATLOR_TEST] ([ID],[N],[F]) VALUES ('A',1,1.0)");
  EXPECT_NE(ErrorText([&] { Exec("INSERT INTO [ATLOR_TEST] ([ID],[N],[F]) VALUES ('B',1,1.0)"); })
                .find("UNIQUE constraint failed"),
            std::string::npos);
}

TEST_F(SQLiteTest, IndexNamesAreUniqueInTheWholeDatabase) {
  MakeT();  // T_IND00, T_IND01
  IntfPtr<IArDbTableDef> def = Db().GetTableDef("T");
  def->SetTableName("U");
  def->ApplyChanges();  // a rename keeps the index names
  EXPECT_EQ(IndexNamesOf(*def)[1], "T_IND00");
  EXPECT_EQ(IndexNamesOf(*def)[2], "T_IND01");
  Exec("CREATE TABLE [T_IND02] ([A] INTEGER)");
  const TArDbFieldDef fields[] = {{"A", dtInteger, 0, false}, {"B", dtInteger, 0, false}};
  const TArDbIndexDef indexes[] = {{"", "A", false, false}, {"", "B", false, false}};
  CreateTableFromDefs(Db(), "t", fields, indexes);
  IntfPtr<IArDbTableDef> t = Db().GetTableDef("t");
  EXPECT_EQ(IndexNamesOf(*t), (std::vector<std::string>{"t_IND03", "t_IND04"}));
  // A long table name is cut so that name and suffix keep to the longest name.
  const std::string long_name(126, 'L');
  CreateTableFromDefs(Db(), long_name, fields, std::span<const TArDbIndexDef>(indexes, 1));
  EXPECT_EQ(IndexNamesOf(*Db().GetTableDef(long_name)),
            (std::vector<std::string>{std::string(122, 'L') + "_IND00"}));
}

TEST_F(SQLiteTest, RenameAloneKeepsTheTableAndItsData) {
  MakeT();
  Exec("CREATE VIEW [TV] AS SELECT [NAME] FROM [T]");
  const std::string rowid_before = Scalar("SELECT rootpage FROM sqlite_master WHERE name='T'");
  IntfPtr<IArDbTableDef> def = Db().GetTableDef("T");
  def->SetTableName("T2");
  def->ApplyChanges();
  EXPECT_FALSE(Db().TableExists("T"));
  EXPECT_EQ(Scalar("SELECT rootpage FROM sqlite_master WHERE name='T2'"), rowid_before);
  EXPECT_EQ(Rows("SELECT * FROM [T2] ORDER BY [ID]"),
            (std::vector<std::string>{"1|one|1.5", "2|two|null", "3|three|3.25"}));
  EXPECT_EQ(Rows("SELECT * FROM [TV] ORDER BY 1").size(), 3u);  // the view follows
  // Only the case changes.
  def->SetTableName("t2");
  def->ApplyChanges();
  EXPECT_EQ(Scalar("SELECT name FROM sqlite_master WHERE type='table' AND name LIKE 't2'"), "t2");
  EXPECT_EQ(def->GetTableName(), "t2");
}

TEST_F(SQLiteTest, IndexChangesAloneAreMadeInPlace) {
  MakeT();
  const std::string root = Scalar("SELECT rootpage FROM sqlite_master WHERE name='T'");
  IntfPtr<IArDbTableDef> def = Db().GetTableDef("T");
  def->DeleteIndexDef(2);                        // VAL
  def->SetIndexDef(1, {"", "NAME", false, false});  // no longer unique
  def->AddIndexDef({"", "VAL;NAME", false, true});
  def->ApplyChanges();
  EXPECT_EQ(Scalar("SELECT rootpage FROM sqlite_master WHERE name='T'"), root);
  EXPECT_EQ(IndexesOf(*def), (std::vector<IndexShape>{{"ID", true, true},
                                                      {"NAME", false, false},
                                                      {"VAL;NAME", false, true}}));
  EXPECT_EQ(Scalar("SELECT count(*) FROM sqlite_master WHERE type='index' AND tbl_name='T'"), "2");
  EXPECT_EQ(Scalar("SELECT count(*) FROM [T]"), "3");
}

TEST_F(SQLiteTest, RestructuringRebuildsAndKeepsTheData) {
  MakeT();
  IntfPtr<IArDbTableDef> def = Db().GetTableDef("T");
  const std::string root = Scalar("SELECT rootpage FROM sqlite_master WHERE name='T'");
  struct Step {
    const char* what;
    std::function<void()> edit;
    std::vector<std::string> rows;
  } steps[] = {
      {"add a field",
       [&] { def->AddFieldDef({"NOTE", dtMemo, 0, false}); },
       {"1|one|1.5|null", "2|two|null|null", "3|three|3.25|null"}},
      {"resize a field",
       [&] { def->SetFieldDef(1, {"NAME", dtString, 60, true}, true); },
       {"1|one|1.5|null", "2|two|null|null", "3|three|3.25|null"}},
      {"rename a field",
       [&] { def->SetFieldDef(1, {"TITLE", dtString, 60, true}, true); },
       {"1|one|1.5|null", "2|two|null|null", "3|three|3.25|null"}},
      {"drop a field", [&] { def->DeleteFieldDef(2, true); },
       {"1|one|null", "2|two|null", "3|three|null"}},
      {"move a field",
       [&] { def->MoveField(2, 0); },
       {"null|1|one", "null|2|two", "null|3|three"}},
      {"widen the primary key",
       [&] { def->SetIndexDef(0, {"", "ID;TITLE", true, true}); },
       {"null|1|one", "null|2|two", "null|3|three"}},
  };
  for (Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.edit();
    def->ApplyChanges();
    EXPECT_FALSE(def->Modified());
    EXPECT_EQ(Rows("SELECT * FROM [T] ORDER BY [ID]"), step.rows);
  }
  EXPECT_NE(Scalar("SELECT rootpage FROM sqlite_master WHERE name='T'"), root);
  EXPECT_EQ(FieldsOf(*def), (std::vector<TArDbFieldDef>{{"NOTE", dtMemo, 0, false},
                                                        {"ID", dtInteger, 0, true},
                                                        {"TITLE", dtString, 60, true}}));
  // The VAL index went with its field; the others were made again under the table's names.
  EXPECT_EQ(IndexesOf(*def),
            (std::vector<IndexShape>{{"ID;TITLE", true, true}, {"TITLE", false, true}}));
  EXPECT_EQ(IndexNamesOf(*def)[1], "T_IND00");
  EXPECT_EQ(Rows("SELECT name FROM sqlite_master WHERE name LIKE '%TMP%'").size(), 0u);
  // A rename together with a field change rebuilds under the new name.
  def->SetTableName("T_NEW");
  def->AddFieldDef({"EXTRA", dtInteger, 0, false});
  def->ApplyChanges();
  EXPECT_FALSE(Db().TableExists("T"));
  EXPECT_EQ(Scalar("SELECT count(*) FROM [T_NEW]"), "3");
  EXPECT_EQ(IndexNamesOf(*def)[1], "T_NEW_IND00");
}

TEST_F(SQLiteTest, RebuildKeepsViewsOnTheTable) {
  MakeT();
  Exec("CREATE VIEW [TV] AS SELECT [ID], [NAME] FROM [T]");
  IntfPtr<IArDbTableDef> def = Db().GetTableDef("T");
  def->AddFieldDef({"MORE", dtInteger, 0, false});
  def->ApplyChanges();
  EXPECT_EQ(Rows("SELECT * FROM [TV] ORDER BY [ID]"),
            (std::vector<std::string>{"1|one", "2|two", "3|three"}));
}

TEST_F(SQLiteTest, FailedRestructuringLeavesTheTableExactlyAsItWas) {
  MakeT();
  const std::vector<std::string> schema_before = Rows("SELECT type, name, sql FROM sqlite_master");
  struct Case {
    const char* what;
    std::function<void(IArDbTableDef&)> edit;
    const char* error;
  } cases[] = {
      {"rebuild: a required field holding nulls",
       [](IArDbTableDef& d) {
         d.SetFieldDef(2, {"VAL", dtFloat, 0, true}, true);
         d.AddFieldDef({"MORE", dtInteger, 0, false});
       },
       "NOT NULL constraint failed"},
      {"in place: a unique index over repeated values",
       [](IArDbTableDef& d) {
         d.DeleteIndexDef(2);  // dropped first, then the new one fails
         d.AddIndexDef({"", "VAL", false, true});
       },
       "UNIQUE constraint failed"},
      {"rename onto an existing table",
       [&](IArDbTableDef& d) {
         Exec("CREATE TABLE IF NOT EXISTS [OTHER] ([A] INTEGER)");
         d.SetTableName("OTHER");
         d.DeleteIndexDef(2);
       },
       "there is already another table"},
  };
  Exec("UPDATE [T] SET [VAL]=1.5 WHERE [ID]=3");  // VAL repeats: 1.5, NULL, 1.5
  const std::vector<std::string> rows = Rows("SELECT * FROM [T] ORDER BY [ID]");
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    IntfPtr<IArDbTableDef> def = Db().GetTableDef("T");
    c.edit(*def);
    const std::string error = ErrorText([&] { def->ApplyChanges(); });
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_TRUE(def->Modified());  // the working copy keeps the edits
    std::vector<std::string> schema = Rows("SELECT type, name, sql FROM sqlite_master");
    std::erase_if(schema, [](const std::string& s) { return s.find("OTHER") != std::string::npos; });
    EXPECT_EQ(schema, schema_before);
    EXPECT_EQ(Rows("SELECT * FROM [T] ORDER BY [ID]"), rows);
    EXPECT_FALSE(Db().InTransaction());
  }
}

}  // namespace
}  // namespace atlor
