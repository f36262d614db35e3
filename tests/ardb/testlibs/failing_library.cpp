// ArDbFailing.so: offers "TEST.Failing", whose lookup request fails and whose databases fail
// to open, each with its own message.

#include "ardb/driver_module.h"
#include "core/exception.h"
#include "testlibs/test_backend.h"

namespace {

class TFailingDb : public atlor::test::TTestDb {
 protected:
  void DoOpen() override {
    throw atlor::EArDbException("Сервер \"X\" недоступен: база не открыта");
  }
};

void RegisterFailingDrivers() {
  using namespace atlor;
  TArDbDriver& driver = RegisterDriver("TEST.Failing", CreateArDbOf<TFailingDb>);
  driver.RegisterRequestHandler("query-lookup-values", [](const XmlDocument&) -> XmlDocument {
    throw Exception("Список баз данных недоступен");
  });
}

}  // namespace

ATLOR_DRIVER_LIBRARY(RegisterFailingDrivers);
