#pragma once

// XStr text: the one canonical, locale-independent text form of every Value kind, used for
// parameter values inside XML documents.
//
//   Null, Empty  "{{null}}" (reads back as Null, whatever kind is asked for)
//   Boolean      "1" / "0"; reading also accepts "true" / "false" in any letter case
//   Integer      decimal 32-bit; Int64 decimal 64-bit
//   Float        up to 15 significant digits, "." separator, "E" exponent (1E20, 1.5E-5)
//   Currency     up to four decimals, "." separator
//   DateTime     "yyyy-mm-ddThh:nn:ss" (milliseconds dropped)
//   String       the text itself
//   Bytes        Base64, no line breaks
//
// Number text never depends on the process locale.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/value.h"

namespace atlor {

// The kind numbers of an OLE VARIANT, which name the kind asked for when reading XStr text.
enum class VarType : uint16_t {
  kEmpty = 0,
  kNull = 1,
  kSmallint = 2,
  kInteger = 3,
  kSingle = 4,
  kDouble = 5,
  kCurrency = 6,
  kDate = 7,
  kOleStr = 8,
  kDispatch = 9,
  kError = 10,
  kBoolean = 11,
  kVariant = 12,
  kUnknown = 13,
  kShortInt = 16,
  kByte = 17,
  kWord = 18,
  kLongWord = 19,
  kInt64 = 20,
  kStrArg = 72,
  kString = 256,
  kArray = 0x2000,
  kByteArray = 0x2011,     // kArray | kByte (8209)
  kVariantArray = 0x200C,  // kArray | kVariant
};

constexpr char kXStrNull[] = "{{null}}";

// The kind number of a Value (Integer 3, Float 5, String 256, Bytes 8209, Array 8204 ...).
VarType VarTypeOf(const Value& value);
// True when `kind` is one XStrToVariant reads; then *value_kind is the Value kind it gives
// (the integer kinds give Integer, single and double Float, the three string kinds String).
bool ValueKindOfVarType(VarType kind, ValueKind* value_kind);

// The XStr text of a value. A kind without a text form (an array other than bytes) raises
// "Невозможно сконвертировать variant с типом \"<kind number>\" в XStr-строку".
std::string VariantToXStr(const Value& value);

// Reads XStr text as a Value of the requested kind (Null for "{{null}}"). Malformed text raises
// the conversion error of that kind; a kind XStr does not read raises
// "Невозможно сконвертировать строку \"<text>\" в variant c типом \"<kind number>\"".
Value XStrToVariant(std::string_view text, VarType kind);
Value XStrToVariant(std::string_view text, int kind);

// Base64 (alphabet A-Z a-z 0-9 + /, "=" padding, no line breaks).
std::string EncodeBase64(const Bytes& bytes);
// Ignores characters with codes up to 32. Errors: "Can't convert base64 string to binary" (fewer
// than four characters), "Can't convert base64 char to bin" (a character outside the alphabet,
// "=" out of place, a text ending inside a group). A "=" inside the text before its last group
// leaves the positions its group does not fill as the byte 0x2A.
Bytes DecodeBase64(std::string_view text);

}  // namespace atlor
