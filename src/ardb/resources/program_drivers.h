#pragma once

// The drivers compiled into the program.

#include <span>

#include "ardb/ardb_drivers.h"

namespace atlor {

// The program's description resources: "DRIVERLIST", "MSSQL" and "PARADOX".
std::span<const TDriverResource> ProgramDriverResources();

// Registers every built-in driver into the program's registry, in this order: "BDE.Paradox",
// "ADO.MSSQL", "ADO.ORACLE". Call after InitializeDriverRegistry(ProgramDriverResources()).
void RegisterProgramDrivers();

}  // namespace atlor
