#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace atlor {

// Fixed-point money: the value times 10000, as a 64-bit integer.
struct Currency {
  static constexpr int64_t kScale = 10000;
  int64_t scaled = 0;

  static Currency FromDouble(double value);  // rounded to four decimals; range-checked
  double ToDouble() const { return static_cast<double>(scaled) / kScale; }
  friend bool operator==(Currency a, Currency b) { return a.scaled == b.scaled; }
};

// A point in time: days since 1899-12-30 00:00, the fraction being the time of day.
struct DateTime {
  double days = 0;

  friend bool operator==(DateTime a, DateTime b) { return a.days == b.days; }
};

using Bytes = std::vector<uint8_t>;

enum class ValueKind : uint8_t {
  kEmpty,     // no value at all ("unassigned")
  kNull,      // SQL NULL
  kBoolean,
  kInteger,   // 32-bit signed
  kInt64,
  kFloat,     // IEEE double
  kCurrency,
  kDateTime,
  kString,    // UTF-8 text
  kBytes,     // one-dimensional byte array
  kArray,     // one-dimensional array of values
};

// The tagged value that carries every field, parameter, key and description value across the
// database layer. The To... conversions are the ordinary variant conversions: a String "12"
// reads as the Integer 12, "abc" does not, and Null converts to nothing but itself.
class Value {
 public:
  Value() = default;  // Empty
  Value(bool v) : data_(v) {}
  Value(int32_t v) : data_(v) {}
  Value(int64_t v) : data_(v) {}
  Value(double v) : data_(v) {}
  Value(Currency v) : data_(v) {}
  Value(DateTime v) : data_(v) {}
  Value(std::string v) : data_(std::move(v)) {}
  Value(std::string_view v) : data_(std::string(v)) {}
  Value(const char* v) : data_(std::string(v)) {}
  Value(Bytes v) : data_(std::move(v)) {}
  Value(std::vector<Value> v) : data_(std::move(v)) {}

  static Value Null() {
    Value v;
    v.data_ = NullTag{};
    return v;
  }

  ValueKind Kind() const { return static_cast<ValueKind>(data_.index()); }
  bool IsEmpty() const { return Kind() == ValueKind::kEmpty; }
  bool IsNull() const { return Kind() == ValueKind::kNull; }
  bool IsEmptyOrNull() const { return IsEmpty() || IsNull(); }
  bool IsIntegerKind() const;  // Boolean, Integer or Int64
  bool IsNumericKind() const;  // integer kinds, Float, Currency, DateTime

  // Conversions; each raises EVariantError when the value cannot become that kind.
  bool ToBoolean() const;
  int32_t ToInteger() const;
  int64_t ToInt64() const;
  double ToFloat() const;
  Currency ToCurrency() const;
  DateTime ToDateTime() const;
  std::string ToString() const;
  Bytes ToBytes() const;  // Bytes only (a String gives its bytes)
  // The value converted to `kind` (Empty and Null stay as they are).
  Value ConvertTo(ValueKind kind) const;

  // Direct access; the kind must match (assertion failure otherwise).
  const std::string& StringRef() const;
  const Bytes& BytesRef() const;
  const std::vector<Value>& ArrayRef() const;
  std::vector<Value>& ArrayRef();

  // The kind's name as the variant library spells it ("Integer", "OleStr", "Array Byte" ...).
  std::string KindName() const;
  static const char* KindName(ValueKind kind);

  // Same kind and same content (Float compared exactly).
  friend bool operator==(const Value& a, const Value& b) { return a.data_ == b.data_; }

 private:
  struct EmptyTag {
    friend bool operator==(EmptyTag, EmptyTag) { return true; }
  };
  struct NullTag {
    friend bool operator==(NullTag, NullTag) { return true; }
  };
  std::variant<EmptyTag, NullTag, bool, int32_t, int64_t, double, Currency, DateTime, std::string,
               Bytes, std::vector<Value>>
      data_;
};

// Date-time helpers (proleptic Gregorian calendar, days since 1899-12-30).
bool TryEncodeDate(int year, int month, int day, double& days);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, double& fraction);
DateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                        int millisecond = 0);  // EConvertError when invalid
struct DateTimeParts {
  int year, month, day, hour, minute, second, millisecond;
};
DateTimeParts DecodeDateTime(DateTime value);
DateTime Now();

// Decimal text of a double: up to 15 significant digits, "." as separator, "E" exponent.
std::string FloatToText(double value);
// Decimal text of a currency value: up to four decimals, "." as separator.
std::string CurrencyToText(Currency value);
// Parses a decimal number with "." as separator (blanks around it allowed); false when not one.
bool TextToFloat(std::string_view text, double& value);

}  // namespace atlor
