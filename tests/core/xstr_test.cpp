#include "core/xstr.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/exception.h"
#include "support/error_of.h"

namespace atlor {
namespace {

// The message of the Exception `f` raises (fails the test when it raises none).
using test::ErrorOf;

TEST(XStrTest, WritesEveryKind) {
  struct Case {
    Value value;
    const char* text;
  };
  const Case cases[] = {
      {Value(), "{{null}}"},
      {Value::Null(), "{{null}}"},
      {Value(true), "1"},
      {Value(false), "0"},
      {Value(0), "0"},
      {Value(-15), "-15"},
      {Value(int32_t{-2147483647 - 1}), "-2147483648"},
      {Value(int64_t{1} << 40), "1099511627776"},
      {Value(int64_t{-9223372036854775807LL - 1}), "-9223372036854775808"},
      {Value(2.5), "2.5"},
      {Value(1e20), "1E20"},
      {Value(1.5e-5), "1.5E-5"},
      {Value(-0.1), "-0.1"},
      {Value(Currency::FromDouble(12.5)), "12.5"},
      {Value(Currency{-123456}), "-12.3456"},
      {Value(EncodeDateTime(2005, 1, 2)), "2005-01-02T00:00:00"},
      {Value(EncodeDateTime(2005, 1, 2, 13, 5, 9, 999)), "2005-01-02T13:05:09"},
      {Value(DateTime{0}), "1899-12-30T00:00:00"},
      {Value("C:\\Data"), "C:\\Data"},
      {Value(""), ""},
      {Value(Bytes{0x41, 0x42, 0x43, 0x44}), "QUJDRA=="},
      {Value(Bytes{}), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(VariantToXStr(c.value), c.text) << c.text;
}

TEST(XStrTest, ArrayOfValuesHasNoTextForm) {
  EXPECT_EQ(ErrorOf([] { VariantToXStr(Value(std::vector<Value>{Value(1)})); }),
            "Невозможно сконвертировать variant с типом \"8204\" в XStr-строку");
}

TEST(XStrTest, DateTimeOutsideTheCalendarIsAnError) {
  for (double days : {1e300, -1e9, 2958466.0, std::nan("")})
    EXPECT_THROW(VariantToXStr(Value(DateTime{days})), EConvertError) << days;
  EXPECT_EQ(VariantToXStr(Value(EncodeDateTime(1, 1, 1, 23, 59, 59))), "0001-01-01T23:59:59");
}

TEST(XStrTest, LastInstantsOfTheCalendarStayInIt) {
  // Less than half a millisecond before midnight: the next day, except after the calendar's
  // last day, which keeps its last second. Every text reads back.
  const std::pair<double, const char*> cases[] = {
      {2958465.999999995, "9999-12-31T23:59:59"},
      {-693593.999999995, "0001-01-02T00:00:00"},
      {-1.9999999999, "1899-12-30T00:00:00"},
  };
  for (const auto& [days, text] : cases) {
    EXPECT_EQ(VariantToXStr(Value(DateTime{days})), text);
    EXPECT_NO_THROW(XStrToVariant(text, VarType::kDate)) << text;
  }
}

TEST(XStrTest, ReadsEveryKind) {
  struct Case {
    const char* text;
    int kind;
    Value expected;
  };
  const Case cases[] = {
      {"-15", 3, Value(-15)},
      {"42", 2, Value(42)},
      {"42", 17, Value(42)},
      {"2147483647", 19, Value(2147483647)},
      {"1099511627776", 20, Value(int64_t{1} << 40)},
      {"2.5", 5, Value(2.5)},
      {"1E20", 5, Value(1e20)},
      {"1.5E-5", 5, Value(1.5e-5)},
      {"0.1", 4, Value(static_cast<double>(0.1f))},
      {"12.5", 6, Value(Currency{125000})},
      {"-922337203685477.5808", 6, Value(Currency{-9223372036854775807LL - 1})},
      {"1.00005", 6, Value(Currency{10000})},
      {"1.00015", 6, Value(Currency{10002})},
      {"1", 11, Value(true)},
      {"TRUE", 11, Value(true)},
      {"false", 11, Value(false)},
      {"0", 11, Value(false)},
      {"abc", 8, Value("abc")},
      {"", 256, Value("")},
      {"x", 72, Value("x")},
      {"QUJDRA==", 8209, Value(Bytes{0x41, 0x42, 0x43, 0x44})},
  };
  for (const Case& c : cases)
    EXPECT_EQ(XStrToVariant(c.text, c.kind), c.expected) << c.text << " as " << c.kind;
}

TEST(XStrTest, NullTextReadsAsNullForEveryKind) {
  for (int kind : {3, 5, 6, 7, 8, 11, 20, 256, 8209, 0, 12})
    EXPECT_TRUE(XStrToVariant("{{null}}", kind).IsNull()) << kind;
  // And a String holding exactly that text does not survive.
  EXPECT_TRUE(XStrToVariant(VariantToXStr(Value("{{null}}")), 256).IsNull());
}

TEST(XStrTest, RoundTrips) {
  const Value values[] = {Value(true), Value(-7), Value(int64_t{-1} << 62), Value(0.1),
                          Value(1.0 / 3), Value(-2.2250738585072014e-308), Value(Currency{1}),
                          Value(EncodeDateTime(9999, 12, 31, 23, 59, 59)), Value("текст"),
                          Value(Bytes{0, 1, 254, 255, 0x2A})};
  for (const Value& v : values) {
    const int kind = static_cast<int>(VarTypeOf(v));
    EXPECT_EQ(XStrToVariant(VariantToXStr(v), kind), v) << VariantToXStr(v);
  }
}

TEST(XStrTest, ConversionErrors) {
  EXPECT_EQ(ErrorOf([] { XStrToVariant("abc", 3); }),
            "Невозможно сконвертировать XStr-строку \"abc\" в целое значение.\r\n"
            "Ошибка: 'abc' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { XStrToVariant("2147483648", 3); }),
            "Невозможно сконвертировать XStr-строку \"2147483648\" в целое значение.\r\n"
            "Ошибка: '2147483648' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { XStrToVariant("1.5", 20); }),
            "Невозможно сконвертировать XStr-строку \"1.5\" в 64-е целое значение.\r\n"
            "Ошибка: '1.5' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { XStrToVariant("2,5", 5); }),
            "Невозможно сконвертировать XStr-строку \"2,5\" в вещественное значение.\r\n"
            "Ошибка: '2,5' is not a valid floating point value");
  EXPECT_EQ(ErrorOf([] { XStrToVariant("x", 6); }),
            "Невозможно сконвертировать XStr-строку \"x\" в вещественное значение.\r\n"
            "Ошибка: 'x' is not a valid floating point value");
  EXPECT_EQ(ErrorOf([] { XStrToVariant("yes", 11); }),
            "Невозможно сконвертировать XStr-строку \"yes\" в логическое значение.");
  EXPECT_EQ(ErrorOf([] { XStrToVariant("1", 12); }),
            "Невозможно сконвертировать строку \"1\" в variant c типом \"12\"");
  EXPECT_EQ(ErrorOf([] { XStrToVariant("1", 0); }),
            "Невозможно сконвертировать строку \"1\" в variant c типом \"0\"");
}

TEST(XStrTest, ReadsDateTimeForms) {
  const DateTime date = EncodeDateTime(2005, 1, 2);
  const DateTime moment = EncodeDateTime(2005, 1, 2, 13, 5, 9);
  struct Case {
    const char* text;
    DateTime expected;
  };
  const Case cases[] = {
      {"02.01.2005", date},
      {"2005-01-02", date},
      {"2005-01-02T13:05:09", moment},
      {"2005-01-02 13:05:09", moment},
      {"2005-01-02T13:05:09Z", moment},
      {"2005-01-02T13:05:09+03:00", moment},
      {"2005-01-02T13:05:09-05:30", moment},
      {"02.01.2005 13:05:09", moment},
      {"13:05:09", EncodeDateTime(1899, 12, 30, 13, 5, 9)},
      {"1899-12-29T06:00:00", EncodeDateTime(1899, 12, 29, 6)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(XStrToVariant(c.text, 7), Value(c.expected)) << c.text;
}

TEST(XStrTest, DateTimeErrors) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"13:05", "Невозможно сконвертировать XStr-строку \"13:05\" в значение времени"},
      {"2005/01/02", "Невозможно сконвертировать XStr-строку \"2005/01/02\" в значение даты"},
      {"2005-01", "Невозможно сконвертировать XStr-строку \"2005-01\" в значение даты"},
      {"2005-01-02  13:05:09",
       "Невозможно сконвертировать XStr-строку \"2005-01-02  13:05:09\" в значение даты-времени."},
      {"", "Невозможно сконвертировать XStr-строку \"\" в значение даты"},
      {"2005-01-02T13:05:09+03",
       "Невозможно сконвертировать XStr-строку \"13:05:09+03\" в значение времени"},
      {"2005-01-0x", "'0x' is not a valid integer value"},
      {"2005-02-30", "Invalid argument to date encode"},
      {"2005-01-02T25:00:00", "Invalid argument to time encode"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ErrorOf([&] { XStrToVariant(c.text, 7); }), c.message) << c.text;
}

TEST(XStrTest, Base64) {
  EXPECT_EQ(EncodeBase64({0x41}), "QQ==");
  EXPECT_EQ(EncodeBase64({0x41, 0x42}), "QUI=");
  EXPECT_EQ(EncodeBase64({0xFB, 0xFF, 0xBF}), "+/+/");
  EXPECT_EQ(DecodeBase64("QUJD\r\nRA=="), (Bytes{0x41, 0x42, 0x43, 0x44}));
  EXPECT_EQ(DecodeBase64(" \t\r\n"), Bytes{});
  EXPECT_EQ(DecodeBase64("QU=D"), Bytes{0x41});
  EXPECT_EQ(DecodeBase64("QUI="), (Bytes{0x41, 0x42}));
  // "=" inside the text: the positions its group leaves unwritten keep the filler 0x2A.
  EXPECT_EQ(DecodeBase64("QQ==QUJD"), (Bytes{0x41, 0x2A, 0x2A, 0x41, 0x42, 0x43}));
  EXPECT_EQ(DecodeBase64("QUI=QUJD"), (Bytes{0x41, 0x42, 0x2A, 0x41, 0x42, 0x43}));
  for (const char* text : {"QUI", "Q", "=="})
    EXPECT_EQ(ErrorOf([&] { DecodeBase64(text); }), "Can't convert base64 string to binary") << text;
  for (const char* text : {"QU!D", "QUJDR", "QUJDRA=", "=QUJ", "QUJDQ=Q=", "QU=!"})
    EXPECT_EQ(ErrorOf([&] { DecodeBase64(text); }), "Can't convert base64 char to bin") << text;
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
  for (size_t n = 0; n <= all.size(); n += 37) {
    const Bytes part(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
    const std::string text = EncodeBase64(part);
    EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(DecodeBase64(text), part);
  }
}

TEST(XStrTest, KindNumbersMapOntoValueKinds) {
  ValueKind kind;
  for (int n : {2, 3, 10, 16, 17, 18, 19}) {
    ASSERT_TRUE(ValueKindOfVarType(static_cast<VarType>(n), &kind)) << n;
    EXPECT_EQ(kind, ValueKind::kInteger) << n;
  }
  ASSERT_TRUE(ValueKindOfVarType(VarType::kByteArray, &kind));
  EXPECT_EQ(kind, ValueKind::kBytes);
  EXPECT_EQ(static_cast<int>(VarType::kByteArray), 8209);
  EXPECT_FALSE(ValueKindOfVarType(VarType::kVariant, &kind));
  EXPECT_EQ(VarTypeOf(Value(int64_t{5})), VarType::kInt64);
}

}  // namespace
}  // namespace atlor
