#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "storage/storage_error.h"

// Little-endian fixed-width values, a bounds-checked read cursor over one stored value and a
// growing write buffer. Every stored layout of the storage model is read and written through
// these, so no decoder touches a byte outside the value it was given.
namespace atlor {

constexpr size_t kFixed16Size = 2;
constexpr size_t kFixed32Size = 4;
constexpr size_t kDoubleSize = 8;

static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559,
              "stored doubles are IEEE 754 binary64");

inline uint16_t DecodeFixed16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t DecodeFixed32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t DecodeFixed64(const uint8_t* p) {
  return static_cast<uint64_t>(DecodeFixed32(p)) |
         (static_cast<uint64_t>(DecodeFixed32(p + 4)) << 32);
}
inline double DecodeDouble(const uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    double d;
    std::memcpy(&d, p, sizeof d);
    return d;
  } else {
    return std::bit_cast<double>(DecodeFixed64(p));
  }
}

inline void EncodeFixed16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void EncodeFixed32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void EncodeFixed64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void EncodeDouble(uint8_t* p, double v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &v, sizeof v);
  } else {
    EncodeFixed64(p, std::bit_cast<uint64_t>(v));
  }
}

// Reads one stored value from its first byte to its last. Every read checks what is left and
// raises EStorageDataError ("Ошибка чтения потока") with the position when the value ends
// early; nothing is ever read or allocated past the end.
class TReadCursor {
 public:
  TReadCursor() = default;
  explicit TReadCursor(std::span<const uint8_t> data)
      : begin_(data.data()), pos_(data.data()), end_(data.data() + data.size()) {}
  // The cursor does not own the bytes: a temporary buffer would be gone before the first read.
  explicit TReadCursor(std::vector<uint8_t>&&) = delete;

  size_t Size() const { return static_cast<size_t>(end_ - begin_); }
  size_t Position() const { return static_cast<size_t>(pos_ - begin_); }
  size_t Remaining() const { return static_cast<size_t>(end_ - pos_); }
  bool AtEnd() const { return pos_ == end_; }
  // Moves to an absolute position inside the value (at most Size()).
  void Seek(size_t position);

  uint8_t ReadU8() {
    Need(1);
    return *pos_++;
  }
  uint16_t ReadU16() {
    Need(kFixed16Size);
    const uint16_t v = DecodeFixed16(pos_);
    pos_ += kFixed16Size;
    return v;
  }
  int16_t ReadI16() { return static_cast<int16_t>(ReadU16()); }
  int32_t ReadI32() {
    Need(kFixed32Size);
    const uint32_t v = DecodeFixed32(pos_);
    pos_ += kFixed32Size;
    return static_cast<int32_t>(v);
  }
  double ReadDouble() {
    Need(kDoubleSize);
    const double v = DecodeDouble(pos_);
    pos_ += kDoubleSize;
    return v;
  }
  // The next n bytes, as a view into the value.
  std::span<const uint8_t> ReadBytes(size_t n) {
    Need(n);
    std::span<const uint8_t> view(pos_, n);
    pos_ += n;
    return view;
  }
  void Skip(size_t n) {
    Need(n);
    pos_ += n;
  }

 private:
  void Need(size_t n) const {
    if (n > Remaining()) ShortRead(n);
  }
  [[noreturn]] void ShortRead(size_t wanted) const;

  const uint8_t* begin_ = nullptr;
  const uint8_t* pos_ = nullptr;
  const uint8_t* end_ = nullptr;
};

// Collects the bytes of a value being written.
class TWriteBuffer {
 public:
  TWriteBuffer() = default;
  void Reserve(size_t n) { data_.reserve(n); }

  void PutU8(uint8_t v) { data_.push_back(v); }
  void PutU16(uint16_t v) {
    uint8_t* p = Grow(kFixed16Size);
    EncodeFixed16(p, v);
  }
  void PutI16(int16_t v) { PutU16(static_cast<uint16_t>(v)); }
  void PutI32(int32_t v) {
    uint8_t* p = Grow(kFixed32Size);
    EncodeFixed32(p, static_cast<uint32_t>(v));
  }
  void PutDouble(double v) {
    uint8_t* p = Grow(kDoubleSize);
    EncodeDouble(p, v);
  }
  void PutBytes(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    uint8_t* p = Grow(bytes.size());
    std::memcpy(p, bytes.data(), bytes.size());
  }
  // Appends n bytes and returns where they start (valid until the next Put).
  uint8_t* Grow(size_t n) {
    const size_t old = data_.size();
    data_.resize(old + n);
    return data_.data() + old;
  }
  // Overwrite bytes already written (a count or length known only afterwards).
  void PatchU8(size_t position, uint8_t v) { data_[position] = v; }
  void PatchI32(size_t position, int32_t v) {
    EncodeFixed32(data_.data() + position, static_cast<uint32_t>(v));
  }

  size_t Size() const { return data_.size(); }
  const std::vector<uint8_t>& Data() const { return data_; }
  std::vector<uint8_t> Take() { return std::move(data_); }

 private:
  std::vector<uint8_t> data_;
};

// A 16-bit count of the stored layout: raises EStorageWriteError with `what` and the value when
// it does not fit 0..32767 instead of wrapping round.
void PutCount16(TWriteBuffer& out, int64_t count, const std::string& what);

}  // namespace atlor
