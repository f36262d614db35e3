// ArDbSampleTwo.so: offers "ODBC.X" too (listed after ArDbSample.so, so it adds nothing).

#include "ardb/driver_module.h"
#include "testlibs/test_backend.h"

namespace {

void RegisterSampleTwoDrivers() {
  atlor::RegisterDriver("ODBC.X", atlor::CreateArDbOf<atlor::test::TTestDb>);
}

}  // namespace

ATLOR_DRIVER_LIBRARY(RegisterSampleTwoDrivers);
