#include "backends/sqlite/sqlite_driver.h"

#include "ardb/ardb_drivers.h"
#include "backends/sqlite/sqlite_ardb.h"
#include "core/simple_params.h"
#include "core/xml.h"

namespace atlor {

XmlDocument SQLiteCreateDatabaseRequest(const XmlDocument& request) {
  IntfPtr<ISimpleParams> params = ParamsOf(request.Root(), false);
  TSQLiteArDb::CreateDatabaseFile(params->GetString(Value(kSQLiteFileParam), ""));
  XmlDocument response;
  response.CreateRoot("response");
  return response;
}

void RegisterSQLiteDriver() {
  TArDbDriver& driver = RegisterDriver(kSQLiteDriverName, CreateArDbOf<TSQLiteArDb>);
  driver.RegisterRequestHandler("create-database", SQLiteCreateDatabaseRequest);
}

}  // namespace atlor
