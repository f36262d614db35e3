#include "ardb/resources/program_drivers.h"

#include "backends/paradox/pdox_driver.h"

namespace atlor {

// The one list of built-in drivers. Each back-end that the program carries adds its
// registration here, in the order of the list above, and links its library to
// atlor_program_drivers (src/ardb/resources/CMakeLists.txt). Its description is already among
// the program's resources.
void RegisterProgramDrivers() {
  RegisterPdoxDriver();  // "BDE.Paradox"
}

}  // namespace atlor
