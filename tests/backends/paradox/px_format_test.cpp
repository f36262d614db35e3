// Field encodings: stored bytes of chosen values, and round trips through encode and decode.

#include <gtest/gtest.h>

#include "backends/paradox/engine/px_format.h"

namespace atlor::pxengine::format {
namespace {

std::vector<uint8_t> Encode(FieldType type, const Value& v, int size) {
  std::vector<uint8_t> out(size);
  EncodeField(type, v, out.data(), size, TextCodec(1251), "F");
  return out;
}

TEST(PxFormat, StoredBytesOfValues) {
  EXPECT_EQ(Encode(FieldType::kShort, Value(int32_t{1}), 2), (std::vector<uint8_t>{0x80, 0x01}));
  EXPECT_EQ(Encode(FieldType::kShort, Value(int32_t{-40}), 2), (std::vector<uint8_t>{0x7F, 0xD8}));
  EXPECT_EQ(Encode(FieldType::kLong, Value(int32_t{40}), 4), (std::vector<uint8_t>{0x80, 0, 0, 0x28}));
  EXPECT_EQ(Encode(FieldType::kNumber, Value(40.0), 8), (std::vector<uint8_t>{0xC0, 0x44, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Encode(FieldType::kNumber, Value(0.0), 8), (std::vector<uint8_t>{0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Encode(FieldType::kLogical, Value(true), 1), (std::vector<uint8_t>{0x81}));
  EXPECT_EQ(Encode(FieldType::kDate, Value(EncodeDateTime(1970, 1, 1)), 4), (std::vector<uint8_t>{0x80, 0x0A, 0xF9, 0x3B}));
  EXPECT_EQ(Encode(FieldType::kAlpha, Value("Я1"), 4), (std::vector<uint8_t>{0xDF, '1', 0, 0}));
  EXPECT_EQ(Encode(FieldType::kLong, Value::Null(), 4), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_THROW(Encode(FieldType::kAlpha, Value("12345"), 4), EPxError);
  EXPECT_THROW(Encode(FieldType::kShort, Value(int32_t{40000}), 2), EPxError);
  EXPECT_THROW(Encode(FieldType::kLong, Value("abc"), 4), EPxError);
}

TEST(PxFormat, RoundTrips) {
  const TextCodec codec(1251);
  struct Case {
    FieldType type;
    int size;
    Value value;
  };
  const Case cases[] = {
      {FieldType::kShort, 2, Value(int32_t{-32767})},
      {FieldType::kLong, 4, Value(int32_t{-2147483647})},
      {FieldType::kLong, 4, Value(int32_t{123456789})},
      {FieldType::kNumber, 8, Value(-1e-300)},
      {FieldType::kNumber, 8, Value(3.25)},
      {FieldType::kMoney, 8, Value(Currency{-12345678})},
      {FieldType::kLogical, 1, Value(false)},
      {FieldType::kDate, 4, Value(EncodeDateTime(1, 1, 1))},
      {FieldType::kTime, 4, Value(EncodeDateTime(1899, 12, 30, 23, 59, 59, 999))},
      {FieldType::kTimestamp, 8, Value(EncodeDateTime(2024, 2, 29, 12, 30, 15, 250))},
      {FieldType::kAlpha, 10, Value("Привет")},
      {FieldType::kBytes, 3, Value(Bytes{1, 2, 3})},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes(c.size);
    EncodeField(c.type, c.value, bytes.data(), c.size, codec, "F");
    const Value back = DecodeField(c.type, bytes.data(), c.size, codec);
    if (c.value.Kind() == ValueKind::kDateTime)
      EXPECT_NEAR(back.ToDateTime().days, c.value.ToDateTime().days, 1e-9) << FieldTypeName(c.type);
    else
      EXPECT_EQ(back, c.value) << FieldTypeName(c.type);
  }
}

TEST(PxFormat, ReaderStaysInsideTheData) {
  const uint8_t data[4] = {1, 2, 3, 4};
  ByteReader r("X.DB", data, sizeof data);
  EXPECT_EQ(r.U16("a"), 0x0201);
  EXPECT_THROW(r.U32("b"), EPxCorrupt);
  EXPECT_THROW(r.Span(3, SIZE_MAX, "c"), EPxCorrupt);
  EXPECT_THROW(r.CString("d"), EPxCorrupt);
  EXPECT_THROW(ParseHeader("X.DB", data, sizeof data), EPxCorrupt);
}

}  // namespace
}  // namespace atlor::pxengine::format
