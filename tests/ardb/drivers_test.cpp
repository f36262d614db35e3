#include "ardb/ardb_drivers.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ardb/resources/program_drivers.h"
#include "core/encoding.h"
#include "core/platform.h"
#include "core/simple_params.h"
#include "testlibs/driver_test_util.h"
#include "testlibs/test_backend.h"

namespace atlor {
namespace {

using test::Assertion;
using test::ErrorText;
using test::General;
using test::RegistryScope;
using test::Resource;
using test::TTestDb;

using Attrs = std::vector<std::pair<std::string, std::string>>;

// The direct character data of an element, untrimmed.
std::string DirectText(const XmlNode& element) {
  std::string text;
  for (const XmlNode& child : element.Children())
    if (child.IsCharacterData()) text += child.NodeValue();
  return text;
}

XmlNode OnlyDriver(const TDriverResource& resource) {
  const XmlDocument document = XmlDocument::Parse(std::string_view(resource.Data, resource.Size));
  EXPECT_EQ(document.Root().Name(), "drivers");
  EXPECT_EQ(document.Root().Attributes(), (Attrs{{"xml-builder-skin", "ardb-drivers"}}));
  const std::vector<XmlNode> drivers = document.Root().Elements("driver");
  EXPECT_EQ(drivers.size(), 1u);
  EXPECT_EQ(document.Root().Elements().size(), 1u);
  return drivers.empty() ? XmlNode() : drivers[0];
}

// ---------------------------------------------------------------------------------------------
// The program's description resources

TEST(ProgramDriverResources, AreTheThreeDocumentsInNameOrderStoredInCodePage1251) {
  const auto resources = ProgramDriverResources();
  ASSERT_EQ(resources.size(), 3u);
  const char* names[] = {"DRIVERLIST", "MSSQL", "PARADOX"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_STREQ(resources[i].Name, names[i]);
    const std::string bytes(resources[i].Data, resources[i].Size);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n", 0), 0u);
    EXPECT_FALSE(IsValidUtf8(bytes));  // Cyrillic letters are single bytes here
  }
  // "MSSQL cервер": a Latin c, then Cyrillic letters.
  const std::string mssql(resources[1].Data, resources[1].Size);
  EXPECT_NE(mssql.find("caption=\"MSSQL c\xE5\xF0\xE2\xE5\xF0\""), std::string::npos);
}

struct ExpectedParam {
  const char* name;
  Attrs attributes;
  const char* text;  // the element's character data, untrimmed
};

void ExpectParams(const XmlNode& driver, const std::vector<ExpectedParam>& expected) {
  const std::vector<XmlNode> params = driver.Elements("param");
  ASSERT_EQ(params.size(), expected.size());
  EXPECT_EQ(driver.Elements().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(params[i].Attributes(), expected[i].attributes);
    EXPECT_EQ(DirectText(params[i]), expected[i].text);
  }
}

TEST(ProgramDriverResources, OracleDescription) {
  const XmlNode driver = OnlyDriver(ProgramDriverResources()[0]);
  EXPECT_EQ(driver.Attributes(), (Attrs{{"name", "ADO.ORACLE"}, {"caption", "ORACLE cервер "}}));
  ExpectParams(driver,
               {
                   {"service-name", {{"name", "service-name"}, {"caption", "Источник данных"}}, ""},
                   {"login-name", {{"name", "login-name"}, {"caption", "Имя пользователя"}}, ""},
                   {"login-password",
                    {{"name", "login-password"}, {"caption", "Пароль"}, {"editor", "password"}},
                    ""},
                   {"connection-timeout",
                    {{"name", "connection-timeout"},
                     {"caption", "connection-timeout (в сек)"},
                     {"basic", "false"}},
                    "15"},
                   {"command-timeout",
                    {{"name", "command-timeout"},
                     {"caption", "command-timeout (в сек)"},
                     {"basic", "false"}},
                    "30"},
               });
}

TEST(ProgramDriverResources, MSSQLDescription) {
  const XmlNode driver = OnlyDriver(ProgramDriverResources()[1]);
  EXPECT_EQ(driver.Attributes(), (Attrs{{"name", "ADO.MSSQL"}, {"caption", "MSSQL cервер"}}));
  ExpectParams(
      driver,
      {
          {"server", {{"name", "server"}, {"caption", "Сервер"}}, ""},
          {"authentication",
           {{"name", "authentication"},
            {"caption", "Способ идентификации"},
            {"editor", "inline-lookup"}},
           ""},
          {"login-name", {{"name", "login-name"}, {"caption", "Имя пользователя"}}, "sa\n"},
          {"login-password",
           {{"name", "login-password"}, {"caption", "Пароль"}, {"editor", "password"}},
           ""},
          {"database",
           {{"name", "database"}, {"caption", "База данных"}, {"editor", "query-lookup"}},
           ""},
          {"connection-timeout",
           {{"name", "connection-timeout"},
            {"caption", "connection-timeout (в сек)"},
            {"basic", "0"}},
           "15\n"},
          {"command-timeout",
           {{"name", "command-timeout"}, {"caption", "command-timeout (в сек)"}, {"basic", "0"}},
           "30\n"},
      });
  const std::vector<XmlNode> values = driver.Elements("param")[1].Elements("value");
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].Attributes(), (Attrs{{"caption", "Система безопасности Windows NT"}}));
  EXPECT_EQ(DirectText(values[0]), "SSPI");
  EXPECT_EQ(values[1].Attributes(), (Attrs{{"caption", "Указанный пользователь"}}));
  EXPECT_EQ(values[1].ChildCount(), 0u);
}

TEST(ProgramDriverResources, ParadoxDescription) {
  const XmlNode driver = OnlyDriver(ProgramDriverResources()[2]);
  EXPECT_EQ(driver.Attributes(), (Attrs{{"name", "BDE.Paradox"}, {"caption", "Paradox"}}));
  ExpectParams(driver, {
                           {"folder",
                            {{"name", "folder"},
                             {"caption", "Папка"},
                             {"editor", "folder"},
                             {"hint", "Выбирите папку в которой находится база данных"},
                             {"title", "Выберите папку"}},
                            ""},
                           {"password",
                            {{"name", "password"},
                             {"caption", "Пароль"},
                             {"editor", "password"},
                             {"hint", "Пароль для доступа к таблицам"}},
                            ""},
                       });
}

TEST(ProgramDrivers, TheProgramRegistersItsBuiltInBackEndsInOrder) {
  RegistryScope scope(ProgramDriverResources());
  RegisterProgramDrivers();
  ASSERT_GE(DriverList().Count(), 1);
  EXPECT_EQ(DriverList().Items(0).Name(), "BDE.Paradox");
  EXPECT_EQ(DriverList().Items(0).DescriptionElement().Attribute("caption"), "Paradox");
}

// ---------------------------------------------------------------------------------------------
// The registry over the program's resources, with stand-ins for the three back-ends

class ProgramRegistryTest : public ::testing::Test {
 protected:
  ProgramRegistryTest() : scope_(ProgramDriverResources()) {
    RegisterDriver("BDE.Paradox", CreateArDbOf<TTestDb>);
    TArDbDriver& mssql = RegisterDriver("ADO.MSSQL", CreateArDbOf<TTestDb>);
    mssql.RegisterRequestHandler("query-lookup-values", [](const XmlDocument& request) {
      XmlDocument response;
      XmlNode root = response.CreateRoot("response");
      root.AppendElement("value").SetText("master");
      root.AppendElement("value").SetText(request.Root().Attribute("param-name"));
      return response;
    });
    RegisterDriver("ADO.ORACLE", CreateArDbOf<TTestDb>);
  }

  RegistryScope scope_;
};

void ExpectVendorOfThisProgram(const XmlNode& vendor) {
  EXPECT_EQ(vendor.Name(), "vendor");
  IntfPtr<ISimpleParams> params = ParamsOf(vendor, false);
  EXPECT_EQ(params->GetCount(), 2);
  EXPECT_EQ(params->GetName(0), "file");
  EXPECT_EQ(params->GetString(Value("file"), ""), ExecutableFileName());
  EXPECT_EQ(params->GetString(Value("version"), ""), ProjectVersion());
}

TEST_F(ProgramRegistryTest, CollectsDescriptionsInResourceOrderWithTheVendorLast) {
  const XmlNode root = CollectedDriverDescriptions().Root();
  const std::vector<XmlNode> children = root.Elements();
  ASSERT_EQ(children.size(), 4u);
  EXPECT_EQ(children[0].Attribute("name"), "ADO.ORACLE");
  EXPECT_EQ(children[1].Attribute("name"), "ADO.MSSQL");
  EXPECT_EQ(children[2].Attribute("name"), "BDE.Paradox");
  ExpectVendorOfThisProgram(children[3]);
}

TEST_F(ProgramRegistryTest, QueryDriversListsTheDriversInRegistrationOrderEachWithItsVendor) {
  const XmlDocument response = XmlDocument::Parse(DriverRequest("<query-drivers/>"));
  EXPECT_EQ(response.Root().Name(), "drivers");
  const std::vector<XmlNode> drivers = response.Root().Elements();
  ASSERT_EQ(drivers.size(), 3u);
  const char* names[] = {"BDE.Paradox", "ADO.MSSQL", "ADO.ORACLE"};
  const size_t param_counts[] = {2, 7, 5};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(drivers[i].Name(), "driver");
    EXPECT_EQ(drivers[i].Attribute("name"), names[i]);
    const std::vector<XmlNode> children = drivers[i].Elements();
    ASSERT_EQ(children.size(), param_counts[i] + 1);
    ExpectVendorOfThisProgram(children.back());
  }
  EXPECT_EQ(drivers[1].Attribute("caption"), "MSSQL cервер");
  EXPECT_EQ(DirectText(drivers[1].Elements("param")[2]), "sa\n");
}

TEST_F(ProgramRegistryTest, RequestsGoToTheNamedDriverIgnoringCase) {
  const char kLookup[] =
      "<query-lookup-values driver-name=\"ado.mssql\" param-name=\"database\">"
      "<param name=\"server\">srv</param></query-lookup-values>";
  EXPECT_EQ(DriverRequest(kLookup),
            "<response><value>master</value><value>database</value></response>");
  // The handler's name is compared ignoring case too.
  EXPECT_EQ(DriverRequest("<QUERY-LOOKUP-VALUES driver-name=\"ADO.MSSQL\" param-name=\"x\"/>"),
            "<response><value>master</value><value>x</value></response>");
  EXPECT_EQ(ErrorText([] {
              DriverRequest("<query-lookup-values driver-name=\"bde.paradox\" param-name=\"x\"/>");
            }),
            General("Unknown request \"query-lookup-values\""));
}

TEST_F(ProgramRegistryTest, UnknownDriverNamesAreOrdinaryErrors) {
  EXPECT_EQ(ErrorText([] { DriverCreateDatabase("<driver name=\"ADO.SYBASE\"/>", false); }),
            General("IArDb: driver with name \"ADO.SYBASE\" not found"));
  EXPECT_EQ(ErrorText([] { DriverRequest("<query-lookup-values driver-name=\"ADO.SYBASE\"/>"); }),
            General("IArDb: driver with name \"ADO.SYBASE\" not found"));
  EXPECT_EQ(ErrorText([] { DriverRequest("<query-lookup-values/>"); }),
            General("IArDb: driver with name \"\" not found"));
}

TEST_F(ProgramRegistryTest, MalformedRequestsAndDescriptions) {
  EXPECT_EQ(ErrorText([] { DriverRequest(""); }), Assertion("Invalid XML document"));
  EXPECT_EQ(ErrorText([] { DriverCreateDatabase("", true); }), Assertion("Invalid XML document"));
  // Not well-formed: the XML layer's error.
  EXPECT_EQ(ErrorText([] { DriverRequest("<query-drivers>"); }).rfind("(general) ", 0), 0u);
}

TEST_F(ProgramRegistryTest, CreatesDatabasesClosedOrOpen) {
  const std::string description =
      "<driver name=\"bde.PARADOX\" caption=\"Моя база\"><param name=\"folder\">/data</param>"
      "</driver>";
  IntfPtr<IArDb> closed = DriverCreateDatabase(description, false);
  ASSERT_NE(closed, nullptr);
  EXPECT_FALSE(closed->Active());

  IntfPtr<IArDb> open = DriverCreateDatabase(description, true);
  ASSERT_TRUE(open->Active());
  EXPECT_EQ(open->Description()->GetString(Value("ArDb\\DriverName"), ""), "bde.PARADOX");
  EXPECT_EQ(open->Description()->GetString(Value("folder"), ""), "/data");

  // An error of the back-end's opening reaches the caller unchanged.
  EXPECT_EQ(
      ErrorText([] {
        DriverCreateDatabase(
            "<driver name=\"ADO.ORACLE\"><param name=\"fail-open\">ORA-12541</param></driver>",
            true);
      }),
      "(database) ORA-12541");
}

TEST_F(ProgramRegistryTest, DriverListLookups) {
  EXPECT_EQ(ErrorText([] { RegisterDriver("ADO.MSSQL", CreateArDbOf<TTestDb>); }),
            Assertion("Driver already exist"));
  EXPECT_EQ(DriverList().Count(), 3);
  EXPECT_EQ(DriverList().IndexOf("ado.oracle"), 2);
  EXPECT_EQ(DriverList().IndexOf("ADO.SYBASE"), -1);
  EXPECT_EQ(ErrorText([] { DriverList().Items(3); }), Assertion("List index out of bounds"));
}

TEST_F(ProgramRegistryTest, RequestHandlerRules) {
  TArDbDriver& paradox = DriverList().Items(0);
  EXPECT_EQ(ErrorText([&] { paradox.RegisterRequestHandler("query-tables", nullptr); }),
            Assertion("Handler not defined"));
  paradox.RegisterRequestHandler("query-nothing", [](const XmlDocument&) { return XmlDocument(); });
  EXPECT_EQ(ErrorText([&] {
              paradox.RegisterRequestHandler("QUERY-NOTHING",
                                             [](const XmlDocument& r) { return r.Clone(); });
            }),
            Assertion("Request handler already registred"));
  EXPECT_EQ(ErrorText([] { DriverRequest("<query-nothing driver-name=\"BDE.Paradox\"/>"); }),
            Assertion("Request handler not return response document"));
  EXPECT_EQ(paradox.Handlers().size(), 1u);
}

TEST_F(ProgramRegistryTest, AHandlerMayCallTheRegistryAgain) {
  DriverList().Items(2).RegisterRequestHandler("query-all", [](const XmlDocument&) {
    return XmlDocument::Parse(DriverRequest("<query-drivers/>"));
  });
  const XmlDocument response =
      XmlDocument::Parse(DriverRequest("<query-all driver-name=\"ADO.ORACLE\"/>"));
  EXPECT_EQ(response.Root().Elements("driver").size(), 3u);
}

// ---------------------------------------------------------------------------------------------
// Registry set-up over other resources

TEST(DriverRegistry, UseBeforeInitializationIsAnAssertion) {
  ASSERT_FALSE(DriverRegistryInitialized());
  EXPECT_EQ(ErrorText([] { DriverList(); }), Assertion("DriverList object not initialized"));
  EXPECT_EQ(ErrorText([] { DriverRequest("<query-drivers/>"); }),
            Assertion("DriverList object not initialized"));
  EXPECT_EQ(ErrorText([] { TArDbDriver driver("BDE.Paradox", CreateArDbOf<TTestDb>); }),
            Assertion("Definition not found for driver BDE.Paradox"));
  EXPECT_FALSE(CollectedDriverDescriptions().HasRoot());
}

TEST(DriverRegistry, ADriverNobodyDescribesFailsToRegister) {
  const TDriverResource resources[] = {
      Resource("A", "<drivers><driver name=\"TEST.A\"/></drivers>")};
  RegistryScope scope(resources);
  // Names of descriptions are compared exactly.
  EXPECT_EQ(ErrorText([] { RegisterDriver("test.a", CreateArDbOf<TTestDb>); }),
            Assertion("Definition not found for driver test.a"));
  EXPECT_EQ(DriverList().Count(), 0);
}

TEST(DriverRegistry, DriverNamesAreUniqueIgnoringCase) {
  const TDriverResource resources[] = {
      Resource("A", "<drivers><driver name=\"TEST.A\"/><driver name=\"test.a\"/></drivers>")};
  RegistryScope scope(resources);
  RegisterDriver("TEST.A", CreateArDbOf<TTestDb>);
  EXPECT_EQ(ErrorText([] { RegisterDriver("test.a", CreateArDbOf<TTestDb>); }),
            Assertion("Driver already exist"));
  EXPECT_EQ(DriverList().Count(), 1);
}

TEST(DriverRegistry, TheFirstDescriptionInResourceNameOrderWins) {
  // Listed out of order: resources are taken by name.
  const TDriverResource resources[] = {
      Resource("ZETA", "<drivers><driver name=\"TEST.A\" caption=\"from ZETA\"/></drivers>"),
      Resource("ALPHA",
               "<drivers><driver name=\"TEST.B\"/><driver name=\"TEST.A\" caption=\"from ALPHA\">"
               "<param name=\"p\"/></driver><other name=\"TEST.C\"/></drivers>"),
  };
  RegistryScope scope(resources);
  const std::vector<XmlNode> collected = CollectedDriverDescriptions().Root().Elements();
  ASSERT_EQ(collected.size(), 4u);  // three drivers and the vendor
  EXPECT_EQ(collected[0].Attribute("name"), "TEST.B");
  EXPECT_EQ(collected[1].Attribute("caption"), "from ALPHA");
  EXPECT_EQ(collected[2].Attribute("caption"), "from ZETA");

  TArDbDriver& driver = RegisterDriver("TEST.A", CreateArDbOf<TTestDb>);
  EXPECT_EQ(driver.DescriptionElement().Attribute("caption"), "from ALPHA");
  const std::vector<XmlNode> children = driver.DescriptionElement().Elements();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0].Name(), "param");
  EXPECT_EQ(children[1].Name(), "vendor");
  EXPECT_EQ(ErrorText([] { RegisterDriver("TEST.C", CreateArDbOf<TTestDb>); }),
            Assertion("Definition not found for driver TEST.C"));
}

TEST(DriverRegistry, BadResourcesFailTheInitialization) {
  const TDriverResource empty[] = {Resource("EMPTY", "")};
  EXPECT_EQ(ErrorText([&] { InitializeDriverRegistry(empty); }), Assertion("Invalid XML document"));
  EXPECT_FALSE(DriverRegistryInitialized());
  const TDriverResource broken[] = {Resource("BROKEN", "<drivers><driver name=\"X\"></drivers>")};
  EXPECT_EQ(ErrorText([&] { InitializeDriverRegistry(broken); }).rfind("(general) ", 0), 0u);
  EXPECT_FALSE(DriverRegistryInitialized());

  RegistryScope scope({});
  EXPECT_EQ(ErrorText([] { InitializeDriverRegistry({}); }),
            Assertion("DriverList object already initialized"));
}

TEST(DriverRegistry, ReadsResourcesInCodePage1251AndUtf8Alike) {
  const TDriverResource resources[] = {
      Resource("CP1251",
               "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"
               "<drivers><driver name=\"TEST.A\" caption=\"\xCF\xF0\xE8\xEC\xE5\xF0\"/>"
               "</drivers>"),
      Resource("UTF8", "<drivers><driver name=\"TEST.B\" caption=\"Пример\"/></drivers>"),
  };
  RegistryScope scope(resources);
  EXPECT_EQ(
      RegisterDriver("TEST.A", CreateArDbOf<TTestDb>).DescriptionElement().Attribute("caption"),
      "Пример");
  EXPECT_EQ(
      RegisterDriver("TEST.B", CreateArDbOf<TTestDb>).DescriptionElement().Attribute("caption"),
      "Пример");
}

}  // namespace
}  // namespace atlor
