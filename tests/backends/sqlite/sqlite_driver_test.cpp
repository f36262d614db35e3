// The driver library ArDbSQLite.so, reached the way the program reaches it: through the driver
// manager over a folder that holds the library.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "ardb/ardb_drivers.h"
#include "ardb/ardb_managers.h"
#include "ardb/ardbs.h"
#include "backends/sqlite/sqlite_ardb.h"
#include "core/exception.h"
#include "core/simple_params.h"
#include "core/xml.h"

namespace atlor {
namespace {

namespace fs = std::filesystem;

class SQLiteDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "atlor-sqlite-driver-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    library = (fs::path(folder) / "ArDbSQLite.so").string();
    fs::copy_file(ATLOR_SQLITE_DRIVER_LIBRARY, library);
    database = (fs::path(folder) / "atlor.sqlite").string();
    TSQLiteArDb::CreateDatabaseFile(database);
    // The host's own registry, without built-in drivers.
    InitializeDriverRegistry({});
    manager = IntfPtr<TArDbManager>(new TArDbManager(folder + "/"));
  }
  void TearDown() override {
    manager.reset();
    FinalizeDriverRegistry();
    std::error_code ec;
    fs::remove_all(folder, ec);
  }

  std::string folder;
  std::string library;
  std::string database;
  IntfPtr<TArDbManager> manager;
};

TEST_F(SQLiteDriverTest, LibraryDescribesTheDriver) {
  const XmlDocument response = XmlDocument::Parse(manager->Request("<query-drivers/>"));
  const std::vector<XmlNode> drivers = response.Root().Elements("driver");
  ASSERT_EQ(drivers.size(), 1u);
  const XmlNode& driver = drivers[0];
  EXPECT_EQ(driver.Attribute("name"), "SQLITE");
  EXPECT_EQ(driver.Attribute("caption"), "SQLite");
  const std::vector<XmlNode> params = driver.Elements("param");
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(params[0].Attribute("name"), "file");
  EXPECT_EQ(params[0].Attribute("caption"), "Файл базы данных");
  EXPECT_EQ(params[0].Attribute("editor"), "file");
  EXPECT_EQ(params[0].Attribute("title"), "Выберите файл базы данных");
  EXPECT_EQ(params[0].Attribute("file-filters"),
            "Базы SQLite (*.sqlite;*.db)|*.sqlite;*.db|Все файлы (*.*)|*.*");
  EXPECT_TRUE(params[0].BoolAttribute("basic", false));
  EXPECT_EQ(params[1].Attribute("name"), "busy-timeout");
  EXPECT_EQ(params[1].Attribute("caption"), "busy-timeout (в мс)");
  EXPECT_EQ(params[1].Attribute("editor"), "text");
  EXPECT_FALSE(params[1].BoolAttribute("basic", true));
  EXPECT_EQ(params[1].Text(), "5000");
  const XmlNode vendor = driver.FirstElement("vendor");
  ASSERT_FALSE(vendor.IsNull());
  EXPECT_EQ(ParamsOf(vendor, false)->GetString("file", ""), library);
}

TEST_F(SQLiteDriverTest, DatabaseOpensThroughTheManager) {
  IntfPtr<IArDb> db = manager->OpenDatabase(TSQLiteArDb::MakeDescription(database), true);
  ASSERT_TRUE(db);
  EXPECT_TRUE(db->Active());
  IntfPtr<ISimpleParams> description = db->Description();
  EXPECT_EQ(description->GetString("ArDb\\DriverName", ""), "SQLITE");
  EXPECT_EQ(description->GetString("ArDb\\DriverLibrary", ""), library);

  const TArDbFieldDef fields[] = {{"ID", dtInteger, 0, true}, {"NAME", dtString, 10, false}};
  const TArDbIndexDef indexes[] = {{"", "ID", true, true}};
  CreateTableFromDefs(*db, "T", fields, indexes);
  const TArDbParam params[] = {IntegerParam("ID"), StringParam("NAME")};
  BuildInsertCommand(*db, "T", params, true)->Execute({Value(1), Value("один")});
  IntfPtr<IArDbCursor> cursor = OpenTableCursor(*db, "T");
  ASSERT_FALSE(cursor->Eof());
  EXPECT_EQ(cursor->AsString("NAME", ""), "один");
  EXPECT_EQ(db->GetTableDef("T")->GetFieldDef(1), fields[1]);
  cursor->Close();
  db->Close();

  // An error of the library reaches the caller with its message.
  const std::string missing = folder + "/missing.sqlite";
  try {
    manager->OpenDatabase(TSQLiteArDb::MakeDescription(missing), true);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Файл базы данных \"" + missing + "\" не найден");
  }
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(SQLiteDriverTest, CreatesANewDatabaseAndNeverAnExistingOne) {
  const std::string file = folder + "/new.sqlite";
  const std::string request =
      "<create-database driver-name=\"SQLITE\"><param name=\"file\">" + file +
      "</param></create-database>";
  const XmlDocument response = XmlDocument::Parse(manager->Request(request));
  EXPECT_EQ(response.Root().Name(), "response");
  IntfPtr<IArDb> db = manager->OpenDatabase(TSQLiteArDb::MakeDescription(file), true);
  EXPECT_FALSE(db->TableExists("ATLOR_DBINFO"));
  db->Close();

  // The database made above, and one made by others, stay as they are.
  for (const std::string& existing : {file, database}) {
    const auto size = fs::file_size(existing);
    try {
      manager->Request("<create-database driver-name=\"SQLITE\"><param name=\"file\">" +
                       existing + "</param></create-database>");
      ADD_FAILURE() << "overwritten: " << existing;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(),
                "Файл \"" + existing + "\" уже существует: новая база данных SQLite не создана");
    }
    EXPECT_EQ(fs::file_size(existing), size);
  }
}

}  // namespace
}  // namespace atlor
