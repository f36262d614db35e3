#include "tools/cli_common.h"

#include <iostream>

#include "ardb/ardb_drivers.h"
#include "ardb/ardb_managers.h"
#include "ardb/resources/program_drivers.h"
#include "core/exception.h"
#include "core/simple_params.h"
#include "core/xml.h"

namespace atlor::cli {

ProgramServices::ProgramServices() {
  InitializeDriverRegistry(ProgramDriverResources());
  RegisterProgramDrivers();
  InitializeDbManager();
}

ProgramServices::~ProgramServices() {
  FinalizeDbManager();
  FinalizeDriverRegistry();
}

ConnectionArgs ParseConnection(const std::vector<std::string>& positional,
                               const std::string& description_file) {
  ConnectionArgs c;
  c.description_file = description_file;
  if (!description_file.empty()) {
    if (!positional.empty())
      throw UsageError("с --description драйвер и параметры не указываются");
    return c;
  }
  if (positional.empty()) throw UsageError("не указан драйвер базы данных");
  c.driver = positional[0];
  for (size_t i = 1; i < positional.size(); ++i) {
    const std::string& arg = positional[i];
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0)
      throw UsageError("параметр \"" + arg + "\" не в виде имя=значение");
    c.params.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
  }
  return c;
}

std::string DescriptionText(const ConnectionArgs& connection) {
  if (!connection.description_file.empty())
    return XmlDocument::LoadFromFile(connection.description_file).Text();
  XmlDocument doc;
  XmlNode root = doc.CreateRoot("driver");
  root.SetAttribute("name", connection.driver);
  IntfPtr<ISimpleParams> params = ParamsOf(root, true);
  for (const auto& [name, value] : connection.params) params->SetString(Value(name), value);
  return doc.Text();
}

IntfPtr<IArDb> OpenConnection(const ConnectionArgs& connection) {
  return DbManager()->OpenDatabase(DescriptionText(connection), true);
}

std::string CreateDatabaseRequest(const ConnectionArgs& connection) {
  const XmlDocument description = XmlDocument::Parse(DescriptionText(connection));
  const XmlNode source = description.Root();
  XmlDocument doc;
  XmlNode root = doc.CreateRoot("create-database");
  root.SetAttribute("driver-name", source.Attribute("name"));
  for (XmlNode param : source.Elements("param")) root.AppendCopy(param);
  return doc.Text();
}

void CreateDatabase(const ConnectionArgs& connection) {
  DbManager()->Request(CreateDatabaseRequest(connection));
}

std::vector<DriverListing> ListDrivers() {
  XmlDocument response = XmlDocument::Parse(DbManager()->Request("<query-drivers/>"));
  std::vector<DriverListing> list;
  for (XmlNode driver : response.Root().Elements("driver")) {
    DriverListing item;
    item.name = driver.Attribute("name");
    item.caption = driver.Attribute("caption", item.name);
    for (XmlNode vendor : driver.Elements("vendor")) {
      IntfPtr<ISimpleParams> params = ParamsOf(vendor, false);
      item.file = params->GetString(Value("file"), "");
    }
    list.push_back(std::move(item));
  }
  return list;
}

void PrintDrivers() {
  for (const DriverListing& d : ListDrivers())
    std::cout << d.name << "\t" << d.caption << "\t" << (d.file.empty() ? "-" : d.file) << "\n";
  std::cout << std::flush;
}

int RunProgram(int (*run)(int, char**), int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "Ошибка: " << e.what() << std::endl;
    return kExitFailed;
  }
}

int ReportUsageError(const char* program, const std::exception& error) {
  std::cerr << program << ": " << error.what() << "\nСправка: " << program << " --help" << std::endl;
  return kExitUsage;
}

std::string TerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
      out.push_back('\n');
      ++i;
    } else if (text[i] != '\r') {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace atlor::cli
