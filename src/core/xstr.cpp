#include "core/xstr.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "core/encoding.h"
#include "core/exception.h"

namespace atlor {
namespace {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The number routines. Their messages are what the conversion errors quote after "Ошибка: ".
[[noreturn]] void NotAnInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void NotAFloat(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

// A decimal integer: optional sign, digits, blanks around it allowed.
bool ParseDecimal(std::string_view text, int64_t& out) {
  const std::string t = TrimText(text);
  std::string_view s = t;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty() || s[0] == '+') return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

int32_t StrToInt(std::string_view text) {
  int64_t v;
  if (!ParseDecimal(text, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max())
    NotAnInteger(text);
  return static_cast<int32_t>(v);
}

int64_t StrToInt64(std::string_view text) {
  int64_t v;
  if (!ParseDecimal(text, v)) NotAnInteger(text);
  return v;
}

double StrToFloat(std::string_view text) {
  double d;
  if (!TextToFloat(text, d)) NotAFloat(text);
  return d;
}

// Currency text is read exactly when it is plain decimal text (sign, digits, "." and up to four
// decimals, more decimals rounded half to even); anything else goes through a double.
Currency StrToCurrency(std::string_view text) {
  const std::string t = TrimText(text);
  std::string_view s = t;
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  const size_t dot = s.find('.');
  const std::string_view whole = s.substr(0, dot);
  const std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  auto digits_only = [](std::string_view p) {
    for (char c : p)
      if (c < '0' || c > '9') return false;
    return true;
  };
  if (!whole.empty() && whole.size() <= 18 && digits_only(whole) && digits_only(frac)) {
    __int128 scaled = 0;
    for (char c : whole) scaled = scaled * 10 + (c - '0');
    int f = 0;
    for (size_t i = 0; i < 4; ++i) f = f * 10 + (i < frac.size() ? frac[i] - '0' : 0);
    scaled = scaled * Currency::kScale + f;
    if (frac.size() > 4) {
      // Round half to even on the dropped digits.
      const int first = frac[4] - '0';
      bool rest = false;
      for (size_t i = 5; i < frac.size(); ++i) rest = rest || frac[i] != '0';
      if (first > 5 || (first == 5 && (rest || (scaled & 1)))) ++scaled;
    }
    if (negative) scaled = -scaled;
    if (scaled > std::numeric_limits<int64_t>::max() || scaled < std::numeric_limits<int64_t>::min())
      NotAFloat(text);
    return Currency{static_cast<int64_t>(scaled)};
  }
  const double d = StrToFloat(text);
  return Currency::FromDouble(d);
}

[[noreturn]] void DateTimeError(std::string_view text) {
  throw Exception("Невозможно сконвертировать XStr-строку " + Quoted(text) +
                  " в значение даты-времени.");
}

std::vector<std::string_view> SplitAll(std::string_view text, char sep) {
  std::vector<std::string_view> pieces;
  size_t pos = 0;
  while (true) {
    const size_t next = text.find(sep, pos);
    if (next == std::string_view::npos) {
      pieces.push_back(text.substr(pos));
      return pieces;
    }
    pieces.push_back(text.substr(pos, next - pos));
    pos = next + 1;
  }
}

// Days since 1899-12-30.
double ReadDate(std::string_view text) {
  int year, month, day;
  if (text.find('-') != std::string_view::npos) {
    const auto p = SplitAll(text, '-');
    if (p.size() != 3)
      throw Exception("Невозможно сконвертировать XStr-строку " + Quoted(text) + " в значение даты");
    year = StrToInt(p[0]);
    month = StrToInt(p[1]);
    day = StrToInt(p[2]);
  } else {
    const auto p = SplitAll(text, '.');
    if (p.size() != 3)
      throw Exception("Невозможно сконвертировать XStr-строку " + Quoted(text) + " в значение даты");
    day = StrToInt(p[0]);
    month = StrToInt(p[1]);
    year = StrToInt(p[2]);
  }
  double days;
  if (!TryEncodeDate(year, month, day, days)) throw EConvertError("Invalid argument to date encode");
  return days;
}

// Fraction of a day. A zone offset is checked but not applied.
double ReadTime(std::string_view text) {
  std::string_view local = text;
  std::string_view zone;
  bool has_zone = false;
  size_t split = text.find('+');
  if (split == std::string_view::npos) split = text.find('-');
  if (split != std::string_view::npos) {
    local = text.substr(0, split);
    zone = text.substr(split + 1);
    has_zone = true;
  } else if (!text.empty() && text.back() == 'Z') {
    local = text.substr(0, text.size() - 1);
  }
  const auto p = SplitAll(local, ':');
  const auto z = has_zone ? SplitAll(zone, ':') : std::vector<std::string_view>();
  if (p.size() != 3 || (has_zone && z.size() != 2))
    throw Exception("Невозможно сконвертировать XStr-строку " + Quoted(text) +
                    " в значение времени");
  const int hour = StrToInt(p[0]);
  const int minute = StrToInt(p[1]);
  const int second = StrToInt(p[2]);
  for (std::string_view piece : z) StrToInt(piece);
  double fraction;
  if (!TryEncodeTime(hour, minute, second, 0, fraction))
    throw EConvertError("Invalid argument to time encode");
  return fraction;
}

DateTime ReadDateTime(std::string_view text) {
  const auto pieces = text.find('T') != std::string_view::npos ? SplitAll(text, 'T')
                                                               : SplitAll(text, ' ');
  if (pieces.size() == 2) {
    const double days = ReadDate(pieces[0]);
    const double fraction = ReadTime(pieces[1]);
    // Before 1899-12-30 the time of day counts away from zero, like the date part.
    return DateTime{days < 0 ? days - fraction : days + fraction};
  }
  if (pieces.size() == 1) {
    if (pieces[0].find(':') != std::string_view::npos) return DateTime{ReadTime(pieces[0])};
    return DateTime{ReadDate(pieces[0])};
  }
  DateTimeError(text);
}

std::string DateTimeToXStr(DateTime value) {
  // 0001-01-01 00:00 to 9999-12-31 23:59:59.999; outside there is no date to write.
  if (!(value.days > -693594.0 && value.days < 2958466.0))
    throw EConvertError("Invalid date-time value " + FloatToText(value.days));
  DateTimeParts p = DecodeDateTime(value);
  if (p.year > 9999) {
    // Rounding to whole milliseconds carried the last instant of the calendar past its end:
    // the last millisecond of 9999-12-31 is meant.
    p = DecodeDateTime(DateTime{std::trunc(value.days) + 86399999.0 / 86400000.0});
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

[[noreturn]] void BadBase64Char() { throw Exception("Can't convert base64 char to bin"); }

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  BadBase64Char();
}

}  // namespace

VarType VarTypeOf(const Value& value) {
  switch (value.Kind()) {
    case ValueKind::kEmpty: return VarType::kEmpty;
    case ValueKind::kNull: return VarType::kNull;
    case ValueKind::kBoolean: return VarType::kBoolean;
    case ValueKind::kInteger: return VarType::kInteger;
    case ValueKind::kInt64: return VarType::kInt64;
    case ValueKind::kFloat: return VarType::kDouble;
    case ValueKind::kCurrency: return VarType::kCurrency;
    case ValueKind::kDateTime: return VarType::kDate;
    case ValueKind::kString: return VarType::kString;
    case ValueKind::kBytes: return VarType::kByteArray;
    case ValueKind::kArray: return VarType::kVariantArray;
  }
  return VarType::kEmpty;
}

bool ValueKindOfVarType(VarType kind, ValueKind* value_kind) {
  ValueKind k;
  switch (kind) {
    case VarType::kSmallint:
    case VarType::kInteger:
    case VarType::kError:
    case VarType::kShortInt:
    case VarType::kByte:
    case VarType::kWord:
    case VarType::kLongWord: k = ValueKind::kInteger; break;
    case VarType::kSingle:
    case VarType::kDouble: k = ValueKind::kFloat; break;
    case VarType::kCurrency: k = ValueKind::kCurrency; break;
    case VarType::kDate: k = ValueKind::kDateTime; break;
    case VarType::kOleStr:
    case VarType::kStrArg:
    case VarType::kString: k = ValueKind::kString; break;
    case VarType::kBoolean: k = ValueKind::kBoolean; break;
    case VarType::kInt64: k = ValueKind::kInt64; break;
    case VarType::kByteArray: k = ValueKind::kBytes; break;
    default: return false;
  }
  if (value_kind) *value_kind = k;
  return true;
}

std::string VariantToXStr(const Value& value) {
  switch (value.Kind()) {
    case ValueKind::kEmpty:
    case ValueKind::kNull: return kXStrNull;
    case ValueKind::kBoolean: return value.ToBoolean() ? "1" : "0";
    case ValueKind::kInteger: return std::to_string(value.ToInteger());
    case ValueKind::kInt64: return std::to_string(value.ToInt64());
    case ValueKind::kFloat: return FloatToText(value.ToFloat());
    case ValueKind::kCurrency: return CurrencyToText(value.ToCurrency());
    case ValueKind::kDateTime: return DateTimeToXStr(value.ToDateTime());
    case ValueKind::kString: return value.StringRef();
    case ValueKind::kBytes: return EncodeBase64(value.BytesRef());
    case ValueKind::kArray: break;
  }
  throw Exception("Невозможно сконвертировать variant с типом \"" +
                  std::to_string(static_cast<int>(VarTypeOf(value))) + "\" в XStr-строку");
}

Value XStrToVariant(std::string_view text, int kind) {
  return XStrToVariant(text, static_cast<VarType>(kind));
}

Value XStrToVariant(std::string_view text, VarType kind) {
  if (text == kXStrNull) return Value::Null();
  ValueKind value_kind;
  if (!ValueKindOfVarType(kind, &value_kind))
    throw Exception("Невозможно сконвертировать строку " + Quoted(text) +
                    " в variant c типом \"" + std::to_string(static_cast<int>(kind)) + "\"");
  switch (value_kind) {
    case ValueKind::kInteger:
      try {
        return Value(StrToInt(text));
      } catch (const Exception& e) {
        throw Exception("Невозможно сконвертировать XStr-строку " + Quoted(text) +
                        " в целое значение.\r\nОшибка: " + e.Message());
      }
    case ValueKind::kInt64:
      try {
        return Value(StrToInt64(text));
      } catch (const Exception& e) {
        throw Exception("Невозможно сконвертировать XStr-строку " + Quoted(text) +
                        " в 64-е целое значение.\r\nОшибка: " + e.Message());
      }
    case ValueKind::kFloat:
    case ValueKind::kCurrency:
      try {
        if (value_kind == ValueKind::kCurrency) return Value(StrToCurrency(text));
        const double d = StrToFloat(text);
        if (kind == VarType::kSingle) {
          if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
            throw EConvertError("Floating point overflow");
          return Value(static_cast<double>(static_cast<float>(d)));
        }
        return Value(d);
      } catch (const Exception& e) {
        throw Exception("Невозможно сконвертировать XStr-строку " + Quoted(text) +
                        " в вещественное значение.\r\nОшибка: " + e.Message());
      }
    case ValueKind::kBoolean:
      if (text == "1" || SameTextAscii(text, "true")) return Value(true);
      if (text == "0" || SameTextAscii(text, "false")) return Value(false);
      throw Exception("Невозможно сконвертировать XStr-строку " + Quoted(text) +
                      " в логическое значение.");
    case ValueKind::kString: return Value(text);
    case ValueKind::kBytes: return Value(DecodeBase64(text));
    case ValueKind::kDateTime: return Value(ReadDateTime(text));
    default: break;
  }
  ATLOR_FAIL("Unexpected value kind");
}

std::string EncodeBase64(const Bytes& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out += kBase64Alphabet[n >> 18];
    out += kBase64Alphabet[(n >> 12) & 63];
    out += kBase64Alphabet[(n >> 6) & 63];
    out += kBase64Alphabet[n & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    const uint32_t n = (uint32_t{bytes[i]} << 16) | (rest == 2 ? uint32_t{bytes[i + 1]} << 8 : 0);
    out += kBase64Alphabet[n >> 18];
    out += kBase64Alphabet[(n >> 12) & 63];
    out += rest == 2 ? kBase64Alphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

Bytes DecodeBase64(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text)
    if (static_cast<unsigned char>(c) > 32) s += c;
  if (s.empty()) return {};
  if (s.size() < 4) throw Exception("Can't convert base64 string to binary");
  size_t count = (s.size() + 3) / 4 * 3;
  if (s[s.size() - 2] == '=')
    count -= 2;
  else if (s[s.size() - 1] == '=')
    count -= 1;
  Bytes out(count, 0x2A);
  auto put = [&](size_t pos, uint32_t byte) {
    if (pos < count) out[pos] = static_cast<uint8_t>(byte);
  };
  size_t in = 0;
  for (size_t pos = 0; pos < count; pos += 3, in += 4) {
    if (in + 4 > s.size()) BadBase64Char();
    const uint32_t a = Base64Digit(s[in]), b = Base64Digit(s[in + 1]);
    if (s[in + 2] == '=') {
      if (s[in + 3] != '=') Base64Digit(s[in + 3]);  // must still be a base64 character
      put(pos, (a << 2) | (b >> 4));
    } else if (s[in + 3] == '=') {
      const uint32_t c = Base64Digit(s[in + 2]);
      put(pos, (a << 2) | (b >> 4));
      put(pos + 1, ((b & 15) << 4) | (c >> 2));
    } else {
      const uint32_t c = Base64Digit(s[in + 2]), d = Base64Digit(s[in + 3]);
      put(pos, (a << 2) | (b >> 4));
      put(pos + 1, ((b & 15) << 4) | (c >> 2));
      put(pos + 2, ((c & 3) << 6) | d);
    }
  }
  return out;
}

}  // namespace atlor
