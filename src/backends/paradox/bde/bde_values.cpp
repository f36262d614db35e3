#include "backends/paradox/bde/bde_values.h"

#include <string>

#include "core/encoding.h"
#include "core/exception.h"

namespace atlor::bde {

namespace {

bool ReadNumber(const Value& v, double& out) {
  switch (v.Kind()) {
    case ValueKind::kBoolean:
    case ValueKind::kInteger:
    case ValueKind::kInt64:
    case ValueKind::kFloat:
    case ValueKind::kCurrency:
    case ValueKind::kDateTime:
      out = v.ToFloat();
      return true;
    case ValueKind::kString:
      return TextToFloat(TrimText(v.StringRef()), out);
    default:
      return false;
  }
}

bool IsNumber(const Value& v) { return v.IsNumericKind(); }

}  // namespace

bool SameValue(const Value& a, const Value& b) {
  if (a.IsEmptyOrNull() || b.IsEmptyOrNull()) return a.IsEmptyOrNull() && b.IsEmptyOrNull();
  if (a.Kind() == b.Kind()) {
    if (a.Kind() == ValueKind::kInt64 || a.Kind() == ValueKind::kInteger)
      return a.ToInt64() == b.ToInt64();
    return a == b;
  }
  if (a.IsIntegerKind() && b.IsIntegerKind()) return a.ToInt64() == b.ToInt64();
  if (a.Kind() == ValueKind::kCurrency && b.IsIntegerKind())
    return a.ToCurrency().scaled == b.ToInt64() * Currency::kScale;
  if (b.Kind() == ValueKind::kCurrency && a.IsIntegerKind())
    return b.ToCurrency().scaled == a.ToInt64() * Currency::kScale;
  if (IsNumber(a) || IsNumber(b)) {
    double x = 0, y = 0;
    return ReadNumber(a, x) && ReadNumber(b, y) && x == y;
  }
  return false;
}

bool SameFieldValue(const Value& stored, const Value& key, uint8_t options) {
  if (stored.IsEmptyOrNull() || key.IsEmptyOrNull())
    return stored.IsEmptyOrNull() && key.IsEmptyOrNull();
  Value k;
  try {
    k = key.Kind() == stored.Kind() ? key : key.ConvertTo(stored.Kind());
  } catch (const Exception&) {
    return false;
  }
  if (stored.Kind() == ValueKind::kString && options != 0) {
    std::string s = stored.StringRef();
    std::string t = k.StringRef();
    if (options & 0x01) {
      s = UpperAscii(s);
      t = UpperAscii(t);
    }
    if (options & 0x02) return s.compare(0, t.size(), t) == 0;
    return s == t;
  }
  return SameValue(stored, k);
}

}  // namespace atlor::bde
