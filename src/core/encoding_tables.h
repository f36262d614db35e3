#pragma once

namespace atlor::encoding_tables {

// Unicode code points of bytes 0x80..0xFF; bytes below 0x80 are ASCII in every table.
extern const char16_t kCp1251[128];
extern const char16_t kCp866[128];
extern const char16_t kCp1252[128];
extern const char16_t kCp850[128];
extern const char16_t kCp437[128];

}  // namespace atlor::encoding_tables
