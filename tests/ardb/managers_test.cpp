#include "ardb/ardb_managers.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ardb/ardb_drivers.h"
#include "ardb/resources/program_drivers.h"
#include "core/platform.h"
#include "core/simple_params.h"
#include "testlibs/driver_test_util.h"
#include "testlibs/test_backend.h"

namespace atlor {
namespace {

namespace fs = std::filesystem;

using test::Assertion;
using test::ErrorText;
using test::General;
using test::RegistryScope;
using test::TTestDb;

// A fresh folder per test; the test driver libraries are copied into it (copies, so that every
// folder's libraries are loaded as files of their own).
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "atlor-drivers-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  // The folder with its trailing "/".
  std::string Folder() const { return path_ + "/"; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  std::string Install(const std::string& library, std::string as = std::string()) const {
    if (as.empty()) as = library;
    fs::copy_file(fs::path(ATLOR_TEST_DRIVERS_DIR) / library, Path(as));
    return Path(as);
  }
  void WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name)) << text;
  }

 private:
  std::string path_;
};

bool IsLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

std::vector<std::string> DriverNames(const std::string& response) {
  std::vector<std::string> names;
  const XmlDocument document = XmlDocument::Parse(response);
  EXPECT_EQ(document.Root().Name(), "response");
  for (const XmlNode& driver : document.Root().Elements()) {
    EXPECT_EQ(driver.Name(), "driver");
    names.push_back(driver.Attribute("name"));
  }
  return names;
}

XmlNode DriverElement(const std::string& response, const std::string& name) {
  const XmlDocument document = XmlDocument::Parse(response);
  for (const XmlNode& driver : document.Root().Elements("driver"))
    if (driver.Attribute("name") == name) return driver;
  return XmlNode();
}

std::string VendorFile(const XmlNode& driver) {
  return ParamsOf(driver.FirstElement("vendor"), false)->GetString(Value("file"), "");
}

const std::vector<std::string> kBuiltIn = {"BDE.Paradox", "ADO.MSSQL", "ADO.ORACLE"};

// The test program plays the program: the three description resources, stand-ins for the three
// built-in back-ends (ADO.MSSQL answering lookups), a manager over a fresh folder.
class ManagerTest : public ::testing::Test {
 protected:
  ManagerTest() : registry_(ProgramDriverResources()) {
    RegisterDriver("BDE.Paradox", CreateArDbOf<TTestDb>);
    RegisterDriver("ADO.MSSQL", CreateArDbOf<TTestDb>)
        .RegisterRequestHandler("query-lookup-values", [](const XmlDocument&) {
          return XmlDocument::Parse("<response><value>master</value></response>");
        });
    RegisterDriver("ADO.ORACLE", CreateArDbOf<TTestDb>);
  }

  IntfPtr<TArDbManager> NewManager() {
    return IntfPtr<TArDbManager>(new TArDbManager(folder_.Folder()));
  }

  RegistryScope registry_;
  TempFolder folder_;
};

TEST_F(ManagerTest, WithoutLibrariesListsTheBuiltInDrivers) {
  IntfPtr<TArDbManager> manager = NewManager();
  EXPECT_TRUE(manager->Infos().empty());  // filled on demand
  const std::string response = manager->Request("<query-drivers/>");
  EXPECT_EQ(DriverNames(response), kBuiltIn);
  EXPECT_TRUE(manager->IsLoaded());
  EXPECT_EQ(VendorFile(DriverElement(response, "ADO.MSSQL")), ExecutableFileName());
  EXPECT_EQ(manager->Modules().Count(), 0);
}

TEST_F(ManagerTest, BuiltInDriversAndEarlierLibrariesTakePrecedence) {
  const std::string sample = folder_.Install("ArDbSample.so");
  const std::string second = folder_.Install("ArDbSampleTwo.so");
  IntfPtr<TArDbManager> manager = NewManager();
  const std::string response = manager->Request("<query-drivers/>");
  EXPECT_EQ(DriverNames(response),
            (std::vector<std::string>{"BDE.Paradox", "ADO.MSSQL", "ADO.ORACLE", "ODBC.X"}));
  EXPECT_EQ(DriverElement(response, "BDE.Paradox").Attribute("caption"), "Paradox");
  const XmlNode odbc = DriverElement(response, "ODBC.X");
  EXPECT_EQ(odbc.Attribute("caption"), "Образец ODBC");  // the library's own description
  EXPECT_EQ(VendorFile(odbc), sample);
  // Only the library that added a driver is kept; none stays loaded after discovery.
  ASSERT_EQ(manager->Modules().Count(), 1);
  EXPECT_EQ(static_cast<TDrvModule*>(manager->Modules()[0])->FileName(), sample);
  EXPECT_FALSE(IsLoaded(sample));
  EXPECT_FALSE(IsLoaded(second));
}

TEST_F(ManagerTest, BrokenLibrariesAreSkippedSilently) {
  folder_.Install("ArDbBroken.so");       // exports only XMLRequest
  folder_.Install("ArDbUndescribed.so");  // its registry cannot be set up
  folder_.WriteFile("ArDbText.so", "not a library");
  fs::create_directory(folder_.Path("ArDbFolder.so"));
  folder_.Install("ArDbSample.so", "ArDbSample.so.1");  // not a driver library's name
  folder_.Install("ArDbSample.so", "libArDbSample.so");
  IntfPtr<TArDbManager> manager = NewManager();
  EXPECT_EQ(DriverNames(manager->Request("<query-drivers/>")), kBuiltIn);
  EXPECT_EQ(manager->Modules().Count(), 0);
  EXPECT_FALSE(IsLoaded(folder_.Path("ArDbBroken.so")));
}

TEST_F(ManagerTest, FindsLibrariesByPatternInNameOrder) {
  for (const char* name : {"ArDbB.so", "ArDbA.so", "ArDb.so", "ardbC.so", "ArDbD.so.1", "XArDb.so"})
    folder_.WriteFile(name, "");
  fs::create_directory(folder_.Path("ArDbE.so"));
  EXPECT_EQ(FindDriverLibraries(folder_.Folder()),
            (std::vector<std::string>{folder_.Path("ArDb.so"), folder_.Path("ArDbA.so"),
                                      folder_.Path("ArDbB.so")}));
  EXPECT_TRUE(FindDriverLibraries(folder_.Path("missing")).empty());
  EXPECT_TRUE(FindDriverLibraries("").empty());  // never the current directory
}

TEST_F(ManagerTest, DriverNamesAreComparedExactly) {
  IntfPtr<TArDbManager> manager = NewManager();
  EXPECT_EQ(ErrorText([&] { manager->OpenDatabase("<driver name=\"ado.mssql\"/>", true); }),
            General("Driver \"ado.mssql\" not found. Can't open base"));
  EXPECT_EQ(ErrorText([&] {
              manager->Request("<query-lookup-values driver-name=\"ado.mssql\" param-name=\"d\"/>");
            }),
            General("Drv: Invalid query syntaxis. Driver \"ado.mssql\" not found"));
  EXPECT_EQ(manager->Request("<query-lookup-values driver-name=\"ADO.MSSQL\" param-name=\"d\"/>"),
            "<response><value>master</value></response>");
}

TEST_F(ManagerTest, DocumentsWithoutRootAreOrderlyErrors) {
  IntfPtr<TArDbManager> manager = NewManager();
  EXPECT_EQ(ErrorText([&] { manager->OpenDatabase("", true); }), General("Invalid query"));
  EXPECT_EQ(ErrorText([&] { manager->Request(""); }), General("Invalid query"));
  EXPECT_EQ(ErrorText([&] { manager->Request("<query-drivers"); }).rfind("(general) ", 0), 0u);
}

TEST_F(ManagerTest, OpensBuiltInAndLibraryDatabases) {
  const std::string sample = folder_.Install("ArDbSample.so");
  IntfPtr<TArDbManager> manager = NewManager();

  IntfPtr<IArDb> builtin = manager->OpenDatabase("<driver name=\"ADO.ORACLE\"/>", true);
  ASSERT_TRUE(builtin->Active());
  EXPECT_EQ(builtin->Description()->GetString(Value("ArDb\\DriverName"), ""), "ADO.ORACLE");

  IntfPtr<IArDb> closed = manager->OpenDatabase("<driver name=\"ODBC.X\"/>", false);
  EXPECT_FALSE(closed->Active());
  IntfPtr<IArDb> open = manager->OpenDatabase(
      "<driver name=\"ODBC.X\"><param name=\"dsn\">Карты</param></driver>", true);
  ASSERT_TRUE(open->Active());
  IntfPtr<ISimpleParams> description = open->Description();
  EXPECT_EQ(description->GetString(Value("ArDb\\DriverName"), ""), "ODBC.X");
  EXPECT_EQ(description->GetString(Value("dsn"), ""), "Карты");
  EXPECT_EQ(description->GetString(Value("ArDb\\DriverLibrary"), ""), sample);
  // An error of a library object's method reaches the program as the layer's error.
  EXPECT_EQ(ErrorText([&] {
              open->Open(
                  "<driver name=\"ODBC.X\"><param name=\"fail-open\">нет связи</param>"
                  "</driver>");
            }),
            "(database) нет связи");
  EXPECT_FALSE(open->Active());
}

TEST_F(ManagerTest, RequestsReachTheLibraryThatOffersTheDriver) {
  const std::string sample = folder_.Install("ArDbSample.so");
  folder_.Install("ArDbSampleTwo.so");
  IntfPtr<TArDbManager> manager = NewManager();
  const XmlDocument response = XmlDocument::Parse(
      manager->Request("<query-lookup-values driver-name=\"ODBC.X\" param-name=\"dsn\"/>"));
  EXPECT_EQ(response.Root().Attribute("param-name"), "dsn");
  const std::vector<XmlNode> values = response.Root().Elements("value");
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].Text(), "alpha");
  EXPECT_EQ(response.Root().FirstElement("library").Text(), sample);
  // Loaded again from its first use.
  EXPECT_TRUE(static_cast<TDrvModule*>(manager->Modules()[0])->Loaded());
  EXPECT_TRUE(IsLoaded(sample));
}

TEST_F(ManagerTest, ErrorsInsideALibraryReachTheCallerWithTheirMessage) {
  folder_.Install("ArDbFailing.so");
  IntfPtr<TArDbManager> manager = NewManager();
  EXPECT_EQ(
      ErrorText([&] {
        manager->Request("<query-lookup-values driver-name=\"TEST.Failing\" param-name=\"a\"/>");
      }),
      General("Список баз данных недоступен"));
  EXPECT_EQ(ErrorText([&] { manager->Request("<query-tables driver-name=\"TEST.Failing\"/>"); }),
            General("Unknown request \"query-tables\""));
  EXPECT_EQ(ErrorText([&] { manager->OpenDatabase("<driver name=\"TEST.Failing\"/>", true); }),
            General("Сервер \"X\" недоступен: база не открыта"));
  IntfPtr<IArDb> closed = manager->OpenDatabase("<driver name=\"TEST.Failing\"/>", false);
  EXPECT_FALSE(closed->Active());
}

TEST_F(ManagerTest, ALibraryThatVanishedCannotBeLoadedAgain) {
  const std::string sample = folder_.Install("ArDbSample.so");
  IntfPtr<TArDbManager> manager = NewManager();
  manager->Request("<query-drivers/>");
  fs::remove(sample);
  EXPECT_EQ(ErrorText([&] { manager->OpenDatabase("<driver name=\"ODBC.X\"/>", true); }),
            General("Can't load module " + sample));
}

TEST_F(ManagerTest, RefreshFillsTheListsAgainWithoutSettingLoaded) {
  folder_.Install("ArDbSample.so");
  IntfPtr<TArDbManager> manager = NewManager();
  manager->Refresh();
  EXPECT_FALSE(manager->IsLoaded());
  EXPECT_EQ(manager->Infos().size(), 4u);
  const std::string first = manager->Request("<query-drivers/>");  // fills them once more
  EXPECT_EQ(manager->Infos().size(), 4u);
  EXPECT_EQ(manager->Modules().Count(), 1);
  // A library installed later appears on Refresh only (libraries are taken in name order).
  folder_.Install("ArDbFailing.so");
  EXPECT_EQ(manager->Request("<query-drivers/>"), first);
  manager->Refresh();
  EXPECT_EQ(DriverNames(manager->Request("<query-drivers/>")),
            (std::vector<std::string>{"BDE.Paradox", "ADO.MSSQL", "ADO.ORACLE", "TEST.Failing",
                                      "ODBC.X"}));
}

TEST_F(ManagerTest, ALibraryOutlivesItsModuleWhileItsObjectsLive) {
  const std::string sample = folder_.Install("ArDbSample.so");
  IntfPtr<TArDbManager> manager = NewManager();
  IntfPtr<IArDb> db = manager->OpenDatabase("<driver name=\"ODBC.X\"/>", true);
  IntfPtr<IArDbSQLCommand> command = NewCommand(*db, "SELECT 1", {}, false);
  IntfPtr<IArDbCursor> cursor = command->Execute({});
  IntfPtr<ISimpleParams> description = db->Description();
  // The manager forgets the library and goes.
  manager->Refresh();
  EXPECT_EQ(manager->Infos().size(), 4u);
  manager.reset();
  fs::remove(sample);
  db.reset();
  command.reset();
  // What the library made still works.
  ASSERT_TRUE(IsLoaded(sample));
  EXPECT_EQ(cursor->AsString(Value("SQL"), ""), "SELECT 1");
  EXPECT_EQ(description->GetString(Value("ArDb\\DriverName"), ""), "ODBC.X");
  cursor->Next();
  EXPECT_TRUE(cursor->Eof());
  cursor.reset();
  description.reset();
}

TEST(DbManager, TheProgramManagerWorksOverTheProgramFolder) {
  EXPECT_EQ(ErrorText([] { DbManager(); }), Assertion("DbManager object not initialized"));
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder + ExtractFileName(ExecutableFileName()), ExecutableFileName());

  InitializeDbManager();
  EXPECT_EQ(ErrorText([] { InitializeDbManager(); }),
            Assertion("DbManager object already initialized"));
  IntfPtr<IArDbManager> manager = DbManager();
  EXPECT_EQ(static_cast<TArDbManager*>(manager.get())->Folder(), folder);
  IArDbManager* queried = nullptr;
  EXPECT_EQ(manager->QueryInterface(IArDbManager::IID, reinterpret_cast<void**>(&queried)),
            kResultOk);
  EXPECT_EQ(queried, manager.get());
  queried->Release();
  manager.reset();
  FinalizeDbManager();
  EXPECT_EQ(ErrorText([] { DbManager(); }), Assertion("DbManager object not initialized"));
}

}  // namespace
}  // namespace atlor
