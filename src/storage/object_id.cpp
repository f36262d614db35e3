#include "storage/object_id.h"

#include <cstring>

#include "core/encoding.h"
#include "storage/storage_error.h"

namespace atlor {

TObjectId::TObjectId(std::string_view text) {
  // Whole characters only, at most 12 of them and at most 12 bytes.
  size_t pos = 0;
  size_t chars = 0;
  while (pos < text.size() && chars < kMaxLength) {
    size_t next = pos;
    NextCodePoint(text, next);
    if (next > kMaxLength) break;
    pos = next;
    ++chars;
  }
  record_[0] = static_cast<uint8_t>(pos);
  std::memcpy(record_.data() + 1, text.data(), pos);
}

TObjectId TObjectId::FromStored(const uint8_t* stored) {
  TObjectId id;
  std::memcpy(id.record_.data(), stored, kStoredSize);
  return id;
}

void TObjectId::Store(uint8_t* out) const {
  const size_t length = Length();
  out[0] = record_[0];
  std::memcpy(out + 1, record_.data() + 1, length);
  std::memset(out + 1 + length, 0, kMaxLength - length);
}

std::string TObjectId::Str() const {
  return std::string(reinterpret_cast<const char*>(record_.data() + 1), Length());
}

bool operator==(const TObjectId& a, const TObjectId& b) {
  return a.record_[0] == b.record_[0] &&
         std::memcmp(a.record_.data() + 1, b.record_.data() + 1, a.Length()) == 0;
}

size_t TObjectId::Hash() const {
  // FNV-1a over the length byte and the characters it covers.
  uint64_t h = 1469598103934665603ull;
  const size_t n = 1 + Length();
  for (size_t i = 0; i < n; ++i) {
    h ^= record_[i];
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

TObjectId FormatId(int64_t group, int64_t number) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const uint16_t g = static_cast<uint16_t>(group);
  const uint32_t n = static_cast<uint32_t>(number);
  char text[TObjectId::kMaxLength];
  for (int i = 0; i < 4; ++i) text[i] = kDigits[(g >> (4 * (3 - i))) & 0xF];
  for (int i = 0; i < 8; ++i) text[4 + i] = kDigits[(n >> (4 * (7 - i))) & 0xF];
  return TObjectId(std::string_view(text, sizeof text));
}

bool IsValidId(const TObjectId& id) {
  uint8_t record[TObjectId::kStoredSize];
  id.Store(record);
  if (record[0] != TObjectId::kMaxLength) return false;
  for (size_t i = 1; i <= TObjectId::kMaxLength; ++i) {
    const uint8_t c = record[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

void CheckId(const TObjectId& id) {
  if (!IsValidId(id)) throw EStorageDataError("Запорчен идентификатор");
}

}  // namespace atlor
