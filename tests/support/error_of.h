#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/exception.h"

namespace atlor::test {

// The message of the error (the program's general error class) that f raises; a test failure
// and "" when it raises none.
template <class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  ADD_FAILURE() << "no exception";
  return {};
}

}  // namespace atlor::test
