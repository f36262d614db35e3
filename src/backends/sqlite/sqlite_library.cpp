// ArDbSQLite.so: the driver library of the SQLite back-end.

#include "ardb/driver_module.h"
#include "backends/sqlite/sqlite_driver.h"

ATLOR_DRIVER_LIBRARY(atlor::RegisterSQLiteDriver);
