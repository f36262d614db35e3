#pragma once

// The driver "SQLITE" (caption "SQLite"): databases of TSQLiteArDb. Its description (resource
// "SQLITE", SQLITE.xml) names the parameters "file" and "busy-timeout".

namespace atlor {

// Adds the driver to the module's registry (ardb/ardb_drivers.h), whose descriptions must hold
// the "SQLITE" resource.
void RegisterSQLiteDriver();

}  // namespace atlor
