#include "core/value.h"

#include <gtest/gtest.h>

#include "core/exception.h"

namespace atlor {
namespace {

TEST(ValueTest, KindsAndNames) {
  struct Case {
    Value value;
    ValueKind kind;
    const char* name;
  };
  const Case cases[] = {
      {Value(), ValueKind::kEmpty, "Empty"},
      {Value::Null(), ValueKind::kNull, "Null"},
      {Value(true), ValueKind::kBoolean, "Boolean"},
      {Value(5), ValueKind::kInteger, "Integer"},
      {Value(int64_t{5}), ValueKind::kInt64, "Int64"},
      {Value(2.5), ValueKind::kFloat, "Double"},
      {Value(Currency{125000}), ValueKind::kCurrency, "Currency"},
      {Value(DateTime{1.5}), ValueKind::kDateTime, "Date"},
      {Value("abc"), ValueKind::kString, "OleStr"},
      {Value(Bytes{1, 2}), ValueKind::kBytes, "Array Byte"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value.Kind(), c.kind) << c.name;
    EXPECT_EQ(c.value.KindName(), c.name);
  }
}

TEST(ValueTest, OrdinaryConversions) {
  EXPECT_EQ(Value("12").ToInteger(), 12);
  EXPECT_EQ(Value(" -7 ").ToInteger(), -7);
  EXPECT_EQ(Value(2.5).ToInteger(), 2);  // half to even
  EXPECT_EQ(Value(3.5).ToInteger(), 4);
  EXPECT_EQ(Value(12).ToString(), "12");
  EXPECT_EQ(Value(2.5).ToString(), "2.5");
  EXPECT_EQ(Value(Currency{125000}).ToString(), "12.5");
  EXPECT_DOUBLE_EQ(Value("1.5").ToFloat(), 1.5);
  EXPECT_TRUE(Value("TRUE").ToBoolean());
  EXPECT_FALSE(Value(0).ToBoolean());
  EXPECT_EQ(Value(12.34567).ToCurrency().scaled, 123457);
  EXPECT_EQ(Value().ToInteger(), 0);
  EXPECT_EQ(Value().ToString(), "");
}

TEST(ValueTest, FailedConversionsSayWhat) {
  try {
    Value("abc").ToInteger();
    FAIL();
  } catch (const EVariantError& e) {
    EXPECT_STREQ(e.what(), "Could not convert variant of type (OleStr) into type (Integer)");
  }
  EXPECT_THROW(Value::Null().ToString(), EVariantError);
  EXPECT_THROW(Value::Null().ToInteger(), EVariantError);
  EXPECT_THROW(Value(Bytes{1}).ToFloat(), EVariantError);
  EXPECT_THROW(Value(int64_t{1} << 40).ToInteger(), EVariantError);
}

TEST(ValueTest, DateTimeEncodingRoundTrips) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30).days, 0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2005, 1, 2).days, 38354);
  const DateTime dt = EncodeDateTime(2005, 1, 2, 13, 5, 9, 999);
  const DateTimeParts p = DecodeDateTime(dt);
  EXPECT_EQ(p.year, 2005);
  EXPECT_EQ(p.month, 1);
  EXPECT_EQ(p.day, 2);
  EXPECT_EQ(p.hour, 13);
  EXPECT_EQ(p.minute, 5);
  EXPECT_EQ(p.second, 9);
  EXPECT_EQ(p.millisecond, 999);
  EXPECT_EQ(Value("02.01.2005").ToDateTime(), EncodeDateTime(2005, 1, 2));
  EXPECT_THROW(EncodeDateTime(2005, 2, 29), EConvertError);
}

TEST(ValueTest, RoundingToTheMillisecondCarriesIntoTheFollowingDay) {
  // Less than half a millisecond before midnight: the next calendar day, on either side of
  // 1899-12-30 (before it the whole part counts the day and the fraction the time of day).
  const std::pair<double, double> cases[] = {
      {1.9999999999, EncodeDateTime(1900, 1, 1).days},
      {-0.9999999999, EncodeDateTime(1899, 12, 31).days},
      {-1.9999999999, EncodeDateTime(1899, 12, 30).days},
      {-693593.999999995, EncodeDateTime(1, 1, 2).days},
  };
  for (const auto& [days, next_day] : cases) {
    const DateTimeParts p = DecodeDateTime(DateTime{days});
    const DateTimeParts expected = DecodeDateTime(DateTime{next_day});
    EXPECT_EQ(std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond),
              std::tie(expected.year, expected.month, expected.day, expected.hour,
                       expected.minute, expected.second, expected.millisecond))
        << days;
  }
}

TEST(ValueTest, FloatTextIsLocaleFreeAndReadsBack) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {{0, "0"}, {-15, "-15"}, {2.5, "2.5"}, {1e20, "1E20"}, {1.5e-5, "1.5E-5"},
                        {0.0001, "0.0001"}};
  for (const Case& c : cases) EXPECT_EQ(FloatToText(c.value), c.text);
  for (double v : {0.1, 1.0 / 3, 123456789.123456789, -2.2250738585072014e-308}) {
    double back = 0;
    ASSERT_TRUE(TextToFloat(FloatToText(v), back));
    EXPECT_EQ(back, v);
  }
}

}  // namespace
}  // namespace atlor
