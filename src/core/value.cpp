#include "core/value.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/encoding.h"
#include "core/exception.h"

namespace atlor {
namespace {

[[noreturn]] void CannotConvert(const Value& v, ValueKind to) {
  throw EVariantError("Could not convert variant of type (" + v.KindName() + ") into type (" +
                      Value::KindName(to) + ")");
}

[[noreturn]] void Overflow(const Value& v, ValueKind to) {
  throw EVariantError("Overflow while converting variant of type (" + v.KindName() +
                      ") into type (" + Value::KindName(to) + ")");
}

// Round half to even, as the variant conversions do.
double RoundBankers(double x) { return std::nearbyint(x); }

bool TextToInt64(std::string_view text, int64_t& out) {
  const std::string t = TrimText(text);
  std::string_view s = t;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

// Parses "dd.mm.yyyy", "yyyy-mm-dd", optionally followed by a blank or "T" and "hh:nn[:ss]",
// or a time alone.
bool TextToDateTime(std::string_view text, DateTime& out) {
  const std::string t = TrimText(text);
  auto read_numbers = [](std::string_view s, char sep, int* parts, int max) -> int {
    int count = 0;
    size_t pos = 0;
    while (true) {
      const size_t next = s.find(sep, pos);
      const std::string_view piece = s.substr(pos, next == std::string_view::npos ? s.npos : next - pos);
      if (count == max || piece.empty()) return -1;
      const auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), parts[count]);
      if (ec != std::errc() || end != piece.data() + piece.size()) return -1;
      ++count;
      if (next == std::string_view::npos) return count;
      pos = next + 1;
    }
  };
  std::string_view date_part = t, time_part;
  const size_t split = t.find_first_of(" T");
  if (split != std::string::npos) {
    date_part = std::string_view(t).substr(0, split);
    time_part = TrimText(std::string_view(t).substr(split + 1)) == "" ? std::string_view()
                                                                    : std::string_view(t).substr(split + 1);
  }
  double days = 0, fraction = 0;
  int d[3];
  if (date_part.find(':') != std::string_view::npos && time_part.empty()) {
    time_part = date_part;
    date_part = {};
  }
  if (!date_part.empty()) {
    if (date_part.find('-') != std::string_view::npos) {
      if (read_numbers(date_part, '-', d, 3) != 3 || !TryEncodeDate(d[0], d[1], d[2], days))
        return false;
    } else if (read_numbers(date_part, '.', d, 3) != 3 || !TryEncodeDate(d[2], d[1], d[0], days)) {
      return false;
    }
  }
  if (!time_part.empty()) {
    int tm[3] = {0, 0, 0};
    const int n = read_numbers(time_part, ':', tm, 3);
    if (n < 2 || !TryEncodeTime(tm[0], tm[1], tm[2], 0, fraction)) return false;
  }
  out.days = days < 0 ? days - fraction : days + fraction;
  return true;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;  // days since 1970-01-01
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr int64_t kUnixEpochDays = 25569;  // 1970-01-01 as days since 1899-12-30

}  // namespace

Currency Currency::FromDouble(double value) {
  const double scaled = RoundBankers(value * kScale);
  if (!(std::fabs(scaled) < 9.2e18)) throw EVariantError("Floating point overflow");
  return Currency{static_cast<int64_t>(scaled)};
}

bool Value::IsIntegerKind() const {
  const ValueKind k = Kind();
  return k == ValueKind::kBoolean || k == ValueKind::kInteger || k == ValueKind::kInt64;
}

bool Value::IsNumericKind() const {
  const ValueKind k = Kind();
  return IsIntegerKind() || k == ValueKind::kFloat || k == ValueKind::kCurrency ||
         k == ValueKind::kDateTime;
}

const char* Value::KindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::kEmpty: return "Empty";
    case ValueKind::kNull: return "Null";
    case ValueKind::kBoolean: return "Boolean";
    case ValueKind::kInteger: return "Integer";
    case ValueKind::kInt64: return "Int64";
    case ValueKind::kFloat: return "Double";
    case ValueKind::kCurrency: return "Currency";
    case ValueKind::kDateTime: return "Date";
    case ValueKind::kString: return "OleStr";
    case ValueKind::kBytes: return "Array Byte";
    case ValueKind::kArray: return "Array Variant";
  }
  return "Unknown";
}

std::string Value::KindName() const { return KindName(Kind()); }

bool Value::ToBoolean() const {
  switch (Kind()) {
    case ValueKind::kEmpty: return false;
    case ValueKind::kBoolean: return std::get<bool>(data_);
    case ValueKind::kInteger: return std::get<int32_t>(data_) != 0;
    case ValueKind::kInt64: return std::get<int64_t>(data_) != 0;
    case ValueKind::kFloat: return std::get<double>(data_) != 0;
    case ValueKind::kCurrency: return std::get<Currency>(data_).scaled != 0;
    case ValueKind::kDateTime: return std::get<DateTime>(data_).days != 0;
    case ValueKind::kString: {
      const std::string& s = std::get<std::string>(data_);
      const std::string t = TrimText(s);
      if (SameTextAscii(t, "true")) return true;
      if (SameTextAscii(t, "false")) return false;
      double d;
      if (TextToFloat(t, d)) return d != 0;
      break;
    }
    default: break;
  }
  CannotConvert(*this, ValueKind::kBoolean);
}

int64_t Value::ToInt64() const {
  auto from_double = [this](double d) -> int64_t {
    const double r = RoundBankers(d);
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) Overflow(*this, ValueKind::kInt64);
    return static_cast<int64_t>(r);
  };
  switch (Kind()) {
    case ValueKind::kEmpty: return 0;
    case ValueKind::kBoolean: return std::get<bool>(data_) ? -1 : 0;
    case ValueKind::kInteger: return std::get<int32_t>(data_);
    case ValueKind::kInt64: return std::get<int64_t>(data_);
    case ValueKind::kFloat: return from_double(std::get<double>(data_));
    case ValueKind::kDateTime: return from_double(std::get<DateTime>(data_).days);
    case ValueKind::kCurrency: {
      const int64_t s = std::get<Currency>(data_).scaled;
      int64_t q = s / Currency::kScale, r = s % Currency::kScale;
      if (r > 5000 || (r == 5000 && (q & 1))) ++q;
      if (r < -5000 || (r == -5000 && (q & 1))) --q;
      return q;
    }
    case ValueKind::kString: {
      const std::string& s = std::get<std::string>(data_);
      int64_t i;
      if (TextToInt64(s, i)) return i;
      double d;
      if (TextToFloat(s, d)) return from_double(d);
      break;
    }
    default: break;
  }
  CannotConvert(*this, ValueKind::kInt64);
}

int32_t Value::ToInteger() const {
  if (Kind() == ValueKind::kInteger) return std::get<int32_t>(data_);
  int64_t v;
  try {
    v = ToInt64();
  } catch (const EVariantError&) {
    if (Kind() == ValueKind::kString || Kind() == ValueKind::kNull || Kind() == ValueKind::kBytes ||
        Kind() == ValueKind::kArray)
      CannotConvert(*this, ValueKind::kInteger);
    Overflow(*this, ValueKind::kInteger);
  }
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    Overflow(*this, ValueKind::kInteger);
  return static_cast<int32_t>(v);
}

double Value::ToFloat() const {
  switch (Kind()) {
    case ValueKind::kEmpty: return 0;
    case ValueKind::kBoolean: return std::get<bool>(data_) ? -1 : 0;
    case ValueKind::kInteger: return std::get<int32_t>(data_);
    case ValueKind::kInt64: return static_cast<double>(std::get<int64_t>(data_));
    case ValueKind::kFloat: return std::get<double>(data_);
    case ValueKind::kCurrency: return std::get<Currency>(data_).ToDouble();
    case ValueKind::kDateTime: return std::get<DateTime>(data_).days;
    case ValueKind::kString: {
      double d;
      if (TextToFloat(std::get<std::string>(data_), d)) return d;
      break;
    }
    default: break;
  }
  CannotConvert(*this, ValueKind::kFloat);
}

Currency Value::ToCurrency() const {
  switch (Kind()) {
    case ValueKind::kCurrency: return std::get<Currency>(data_);
    case ValueKind::kInteger: return Currency{int64_t{std::get<int32_t>(data_)} * Currency::kScale};
    case ValueKind::kString: {
      const std::string& s = std::get<std::string>(data_);
      int64_t i;
      if (TextToInt64(s, i) && i > -922337203685477 && i < 922337203685477)
        return Currency{i * Currency::kScale};
      break;
    }
    case ValueKind::kNull:
    case ValueKind::kBytes:
    case ValueKind::kArray: CannotConvert(*this, ValueKind::kCurrency);
    default: break;
  }
  try {
    return Currency::FromDouble(ToFloat());
  } catch (const EVariantError&) {
    if (Kind() == ValueKind::kString) CannotConvert(*this, ValueKind::kCurrency);
    Overflow(*this, ValueKind::kCurrency);
  }
}

DateTime Value::ToDateTime() const {
  switch (Kind()) {
    case ValueKind::kDateTime: return std::get<DateTime>(data_);
    case ValueKind::kString: {
      DateTime dt;
      if (TextToDateTime(std::get<std::string>(data_), dt)) return dt;
      double d;
      if (TextToFloat(std::get<std::string>(data_), d)) return DateTime{d};
      break;
    }
    case ValueKind::kNull:
    case ValueKind::kBytes:
    case ValueKind::kArray: CannotConvert(*this, ValueKind::kDateTime);
    default: return DateTime{ToFloat()};
  }
  CannotConvert(*this, ValueKind::kDateTime);
}

std::string Value::ToString() const {
  switch (Kind()) {
    case ValueKind::kEmpty: return std::string();
    case ValueKind::kBoolean: return std::get<bool>(data_) ? "True" : "False";
    case ValueKind::kInteger: return std::to_string(std::get<int32_t>(data_));
    case ValueKind::kInt64: return std::to_string(std::get<int64_t>(data_));
    case ValueKind::kFloat: return FloatToText(std::get<double>(data_));
    case ValueKind::kCurrency: return CurrencyToText(std::get<Currency>(data_));
    case ValueKind::kDateTime: {
      const DateTime dt = std::get<DateTime>(data_);
      const DateTimeParts p = DecodeDateTime(dt);
      char buf[64];
      const bool has_date = std::trunc(dt.days) != 0;
      const bool has_time = p.hour || p.minute || p.second;
      if (has_date && has_time)
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", p.day, p.month, p.year,
                      p.hour, p.minute, p.second);
      else if (has_time)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
      else
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", p.day, p.month, p.year);
      return buf;
    }
    case ValueKind::kString: return std::get<std::string>(data_);
    default: break;
  }
  CannotConvert(*this, ValueKind::kString);
}

Bytes Value::ToBytes() const {
  switch (Kind()) {
    case ValueKind::kBytes: return std::get<Bytes>(data_);
    case ValueKind::kString: {
      const std::string& s = std::get<std::string>(data_);
      return Bytes(s.begin(), s.end());
    }
    default: break;
  }
  CannotConvert(*this, ValueKind::kBytes);
}

Value Value::ConvertTo(ValueKind kind) const {
  if (IsEmptyOrNull() || Kind() == kind) return *this;
  switch (kind) {
    case ValueKind::kBoolean: return Value(ToBoolean());
    case ValueKind::kInteger: return Value(ToInteger());
    case ValueKind::kInt64: return Value(ToInt64());
    case ValueKind::kFloat: return Value(ToFloat());
    case ValueKind::kCurrency: return Value(ToCurrency());
    case ValueKind::kDateTime: return Value(ToDateTime());
    case ValueKind::kString: return Value(ToString());
    case ValueKind::kBytes: return Value(ToBytes());
    default: break;
  }
  CannotConvert(*this, kind);
}

const std::string& Value::StringRef() const {
  ATLOR_ASSERT(Kind() == ValueKind::kString, "Value is not a string");
  return std::get<std::string>(data_);
}

const Bytes& Value::BytesRef() const {
  ATLOR_ASSERT(Kind() == ValueKind::kBytes, "Value is not a byte array");
  return std::get<Bytes>(data_);
}

const std::vector<Value>& Value::ArrayRef() const {
  ATLOR_ASSERT(Kind() == ValueKind::kArray, "Value is not an array");
  return std::get<std::vector<Value>>(data_);
}

std::vector<Value>& Value::ArrayRef() {
  ATLOR_ASSERT(Kind() == ValueKind::kArray, "Value is not an array");
  return std::get<std::vector<Value>>(data_);
}

bool TryEncodeDate(int year, int month, int day, double& days) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
  days = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                           static_cast<unsigned>(day)) +
                             kUnixEpochDays);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, double& fraction) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  fraction = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
  return true;
}

DateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                        int millisecond) {
  double days, fraction;
  if (!TryEncodeDate(year, month, day, days))
    throw EConvertError("Invalid argument to date encode");
  if (!TryEncodeTime(hour, minute, second, millisecond, fraction))
    throw EConvertError("Invalid argument to time encode");
  return DateTime{days < 0 ? days - fraction : days + fraction};
}

DateTimeParts DecodeDateTime(DateTime value) {
  DateTimeParts p{};
  double whole = std::trunc(value.days);
  int64_t ms = static_cast<int64_t>(std::llround(std::fabs(value.days - whole) * 86400000.0));
  if (ms >= 86400000) {  // rounding reached the next calendar day, which is whole + 1 on
    ms -= 86400000;       // either side of 1899-12-30
    whole += 1;
  }
  CivilFromDays(static_cast<int64_t>(whole) - kUnixEpochDays, p.year, p.month, p.day);
  p.millisecond = static_cast<int>(ms % 1000);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.hour = static_cast<int>(ms / 3600000);
  return p;
}

DateTime Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, ms);
}

std::string FloatToText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  // std::to_chars never looks at the locale: "." whatever the process's settings.
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  double back = 0;
  if (!TextToFloat(std::string_view(buf, static_cast<size_t>(r.ptr - buf)), back) || back != value)
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 17);
  std::string s(buf, r.ptr);
  const size_t e = s.find('e');
  if (e == std::string::npos) return s;
  std::string mantissa = s.substr(0, e);
  std::string exponent = s.substr(e + 1);
  std::string sign;
  if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
    if (exponent[0] == '-') sign = "-";
    exponent.erase(0, 1);
  }
  while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
  return mantissa + "E" + sign + exponent;
}

std::string CurrencyToText(Currency value) {
  const bool negative = value.scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value.scaled)
                                      : static_cast<uint64_t>(value.scaled);
  std::string s = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  uint64_t frac = magnitude % 10000;
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
    std::string f = buf;
    while (!f.empty() && f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return s;
}

bool TextToFloat(std::string_view text, double& value) {
  const std::string t = TrimText(text);
  std::string_view s = t;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && end == s.data() + s.size();
}

}  // namespace atlor
