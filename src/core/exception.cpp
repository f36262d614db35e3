#include "core/exception.h"

namespace atlor {
namespace {

std::string UnitName(const char* file) {
  std::string path = file ? file : "";
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

EAssertionFailed::EAssertionFailed(const std::string& text, const char* file, int line)
    : std::logic_error(text + " (" + UnitName(file) + ", line " + std::to_string(line) + ")"),
      text_(text),
      unit_(UnitName(file)) {}

void AssertionFailure(const std::string& text, const char* file, int line) {
  throw EAssertionFailed(text, file, line);
}

}  // namespace atlor
