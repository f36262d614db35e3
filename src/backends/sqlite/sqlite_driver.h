#pragma once

// The driver "SQLITE" (caption "SQLite"): databases of TSQLiteArDb. Its description (resource
// "SQLITE", SQLITE.xml) names the parameters "file" and "busy-timeout".

namespace atlor {

class XmlDocument;

// The request "create-database" (root `create-database` with `driver-name` and the connection
// parameters as `param` children): creates the new, empty database file of the parameter "file"
// and answers with a `response` root. An existing file is refused with an error
// (TSQLiteArDb::CreateDatabaseFile).
XmlDocument SQLiteCreateDatabaseRequest(const XmlDocument& request);

// Adds the driver, with its "create-database" request, to the module's registry (ardb/ardb_drivers.h), whose descriptions must hold
// the "SQLITE" resource.
void RegisterSQLiteDriver();

}  // namespace atlor
