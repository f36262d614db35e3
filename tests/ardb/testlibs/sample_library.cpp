// ArDbSample.so: offers "BDE.Paradox" (a name the program already knows) and "ODBC.X", whose
// lookup request answers the values "alpha" and "beta" and the path of the library.

#include "ardb/driver_module.h"
#include "testlibs/test_backend.h"

namespace {

void RegisterSampleDrivers() {
  using namespace atlor;
  RegisterDriver("BDE.Paradox", CreateArDbOf<test::TTestDb>);
  TArDbDriver& odbc = RegisterDriver("ODBC.X", CreateArDbOf<test::TTestDb>);
  odbc.RegisterRequestHandler("query-lookup-values", [](const XmlDocument& request) {
    XmlDocument response;
    XmlNode root = response.CreateRoot("response");
    root.SetAttribute("param-name", request.Root().Attribute("param-name"));
    root.AppendElement("value").SetText("alpha");
    root.AppendElement("value").SetText("beta");
    root.AppendElement("library").SetText(ModuleFileName());
    return response;
  });
}

}  // namespace

ATLOR_DRIVER_LIBRARY(RegisterSampleDrivers);
