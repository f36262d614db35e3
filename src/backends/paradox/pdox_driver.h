#pragma once

// The driver "BDE.Paradox" (caption "Paradox"): databases of TPdoxArDb. Its description (the
// program's resource "PARADOX") names the parameters "folder" and "password".

namespace atlor {

// Adds the driver to the module's registry (ardb/ardb_drivers.h), whose descriptions must hold
// the "PARADOX" resource. It answers the request
//   <create-database driver-name="BDE.Paradox"><param name="folder">...</param></create-database>
// by creating the folder of a new, empty database (an existing folder only when empty), with
// the response <response/>.
void RegisterPdoxDriver();

}  // namespace atlor
