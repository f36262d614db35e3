#include "ardb/resources/program_drivers.h"

namespace atlor {

// The one list of built-in drivers. Each back-end that the program carries adds its
// registration here, in the order of the list above, e.g.
//   RegisterPdoxDriver();      // RegisterDriver("BDE.Paradox", CreateArDbOf<TPdoxArDb>)
// and links its library to atlor_program_drivers (src/ardb/resources/CMakeLists.txt). Its
// description is already among the program's resources. No back-end of the program is built
// yet, so the registry stays empty.
void RegisterProgramDrivers() {}

}  // namespace atlor
