#include "ardb/resources/program_drivers.h"

namespace atlor {

// The one list of built-in drivers. Each back-end that the program carries adds its
// registration here, in the order of the list above, e.g.
//   RegisterPdoxDriver();      // "BDE.Paradox"
// No back-end of the program is built yet, so the registry stays empty.
void RegisterProgramDrivers() {}

}  // namespace atlor
