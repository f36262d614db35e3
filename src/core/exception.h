#pragma once

#include <stdexcept>
#include <string>

namespace atlor {

// The general error of the program: a user-facing message (UTF-8). Conversion errors, the
// driver registry and the driver manager raise it directly; layers derive their own kinds.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// A value that cannot be converted to the kind asked for ("ordinary variant conversions").
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

// A text that does not read as the number, date or other value asked for.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A condition only a programming error can reach. It deliberately does not derive from
// Exception, so no handler of user errors ever swallows it. Text() is the fixed text of the
// check; what() adds the source unit and line.
class EAssertionFailed : public std::logic_error {
 public:
  EAssertionFailed(const std::string& text, const char* file, int line);
  const std::string& Text() const { return text_; }
  const std::string& Unit() const { return unit_; }

 private:
  std::string text_;
  std::string unit_;
};

[[noreturn]] void AssertionFailure(const std::string& text, const char* file, int line);

}  // namespace atlor

// Raises EAssertionFailed with the fixed text when the condition does not hold.
#define ATLOR_ASSERT(condition, text)                               \
  do {                                                              \
    if (!(condition)) ::atlor::AssertionFailure((text), __FILE__, __LINE__); \
  } while (false)

#define ATLOR_FAIL(text) ::atlor::AssertionFailure((text), __FILE__, __LINE__)
