#include "backends/paradox/pdox_driver.h"

#include "ardb/ardb_drivers.h"
#include "backends/paradox/pdox_ardbs.h"
#include "core/xml.h"

namespace atlor {

void RegisterPdoxDriver() {
  TArDbDriver& driver = RegisterDriver(kPdoxDriverName, CreateArDbOf<TPdoxArDb>);
  driver.RegisterRequestHandler("create-database", [](const XmlDocument& request) {
    std::string folder;
    for (const XmlNode& param : request.Root().Elements("param"))
      if (param.Attribute("name") == kPdoxFolderParam) folder = param.Text();
    CreatePdoxDatabaseFolder(folder);
    XmlDocument response;
    response.CreateRoot("response");
    return response;
  });
}

}  // namespace atlor
