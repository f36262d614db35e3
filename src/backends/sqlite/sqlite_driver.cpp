#include "backends/sqlite/sqlite_driver.h"

#include "ardb/ardb_drivers.h"
#include "backends/sqlite/sqlite_ardb.h"

namespace atlor {

void RegisterSQLiteDriver() { RegisterDriver(kSQLiteDriverName, CreateArDbOf<TSQLiteArDb>); }

}  // namespace atlor
