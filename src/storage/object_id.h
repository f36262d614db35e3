#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Identifiers of the Atlor storage objects (layers, sectors, map objects, styles).
namespace atlor {

// At most 12 characters in a fixed 13-byte record: a length byte followed by 12 character
// bytes. A valid identifier has exactly 12 characters from "0123456789ABCDEF": 4 digits of the
// identifier group and 8 of the number within it, most significant first.
class TObjectId {
 public:
  static constexpr size_t kMaxLength = 12;
  static constexpr size_t kStoredSize = 1 + kMaxLength;

  TObjectId() = default;
  // From text read from the database or a caller: cut to its first 12 characters (and to
  // whole characters that fit the 12 bytes of the record).
  explicit TObjectId(std::string_view text);

  // From the 13 stored bytes as they are; a length byte above 12 is kept (such an identifier
  // is not valid) but never lets Str() read past the record.
  static TObjectId FromStored(const uint8_t* stored);
  // Writes the 13-byte record; characters past the length are zero.
  void Store(uint8_t* out) const;

  // The characters (at most 12).
  std::string Str() const;
  size_t Length() const { return record_[0] > kMaxLength ? kMaxLength : record_[0]; }
  bool Empty() const { return record_[0] == 0; }
  // Exact comparison of the length byte and the characters it covers.
  friend bool operator==(const TObjectId& a, const TObjectId& b);
  size_t Hash() const;

 private:
  std::array<uint8_t, kStoredSize> record_{};
};

// The 4 upper-case hexadecimal digits of the low 16 bits of group followed by the 8 of the low
// 32 bits of number (a negative number is taken as its two's complement).
TObjectId FormatId(int64_t group, int64_t number);

// Whether id has exactly 12 characters, each of "0123456789ABCDEF".
bool IsValidId(const TObjectId& id);
// Raises EStorageDataError "Запорчен идентификатор" unless IsValidId(id).
void CheckId(const TObjectId& id);

struct TObjectIdHash {
  size_t operator()(const TObjectId& id) const { return id.Hash(); }
};

}  // namespace atlor
