#pragma once

// The drivers compiled into the program.

#include <span>

#include "ardb/ardb_drivers.h"

namespace atlor {

// The program's description resources: "DRIVERLIST", "MSSQL" and "PARADOX".
std::span<const TDriverResource> ProgramDriverResources();

// Registers every built-in driver the program carries into its registry, in the order of the
// descriptions' drivers "BDE.Paradox", "ADO.MSSQL", "ADO.ORACLE" (today only "BDE.Paradox" has a
// back-end here). Call after InitializeDriverRegistry(ProgramDriverResources()).
void RegisterProgramDrivers();

}  // namespace atlor
