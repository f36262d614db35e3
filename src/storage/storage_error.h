#pragma once

#include <cstddef>
#include <string>

#include "core/exception.h"

namespace atlor {

// Stored data that does not decode: a value cut short, a count or length out of range, an
// identifier that is not one. Kept apart from the errors of the database itself, which
// propagate unchanged. Offset() is the byte position inside the value where decoding failed,
// when it is known (kUnknownOffset otherwise).
class EStorageDataError : public Exception {
 public:
  static constexpr size_t kUnknownOffset = static_cast<size_t>(-1);

  explicit EStorageDataError(const std::string& message, size_t offset = kUnknownOffset)
      : Exception(message), offset_(offset) {}
  size_t Offset() const { return offset_; }

 private:
  size_t offset_;
};

// A packed contour block whose commands do not fit its points or its own length. Raised when
// the block is decoded, which happens after the value around it has been read.
class EContourError : public EStorageDataError {
 public:
  using EStorageDataError::EStorageDataError;
};

// Something that cannot be written in the stored layout (a count that does not fit its field).
class EStorageWriteError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace atlor
