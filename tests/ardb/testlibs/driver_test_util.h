#pragma once

// Helpers shared by the driver registry and driver manager tests.

#include <span>
#include <string>

#include "ardb/ardb_drivers.h"
#include "ardb/ardb_utils.h"
#include "core/exception.h"

namespace atlor::test {

// The error a call raises: "(general) <text>" for the general error, "(database) <text>" for
// the database layer's, "(assertion) <text>" for an assertion failure, "(no error)" otherwise.
template <class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const EArDbException& e) {
    return "(database) " + e.Message();
  } catch (const Exception& e) {
    return "(general) " + e.Message();
  } catch (const EAssertionFailed& e) {
    return "(assertion) " + e.Text();
  }
  return "(no error)";
}

inline std::string General(const std::string& text) { return "(general) " + text; }
inline std::string Assertion(const std::string& text) { return "(assertion) " + text; }

// The test program's registry for one test: initialized over `resources`, finalized at the end.
class RegistryScope {
 public:
  explicit RegistryScope(std::span<const TDriverResource> resources) {
    InitializeDriverRegistry(resources);
  }
  ~RegistryScope() { FinalizeDriverRegistry(); }
  RegistryScope(const RegistryScope&) = delete;
  RegistryScope& operator=(const RegistryScope&) = delete;
};

// A resource over a literal.
template <size_t N>
TDriverResource Resource(const char* name, const char (&text)[N]) {
  return TDriverResource{name, text, N - 1};
}

}  // namespace atlor::test
