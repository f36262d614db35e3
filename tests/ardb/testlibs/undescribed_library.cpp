// ArDbUndescribed.so: registers a driver that none of its resources describes, so the library
// fails every call (its registry cannot be set up).

#include "ardb/driver_module.h"
#include "testlibs/test_backend.h"

namespace {

void RegisterUndescribedDrivers() {
  atlor::RegisterDriver("TEST.Undescribed", atlor::CreateArDbOf<atlor::test::TTestDb>);
}

}  // namespace

ATLOR_DRIVER_LIBRARY(RegisterUndescribedDrivers);
