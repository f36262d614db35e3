#include "storage/byte_stream.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace atlor {
namespace {

using test::Hex;
using test::ToHex;

TEST(ByteStreamTest, FixedWidthValuesAreLittleEndian) {
  TWriteBuffer out;
  out.PutU16(0xFFF3);
  out.PutI16(-2);
  out.PutI32(0x04030201);
  out.PutDouble(1.0);
  EXPECT_EQ(ToHex(out.Data()), "F3 FF FE FF 01 02 03 04 00 00 00 00 00 00 F0 3F");

  TReadCursor in(out.Data());
  EXPECT_EQ(in.ReadU16(), 0xFFF3);
  EXPECT_EQ(in.ReadI16(), -2);
  EXPECT_EQ(in.ReadI32(), 0x04030201);
  EXPECT_EQ(in.ReadDouble(), 1.0);
  EXPECT_TRUE(in.AtEnd());
}

TEST(ByteStreamTest, ReadingPastTheEndFailsWithThePosition) {
  const auto data = Hex("01 02 03");
  TReadCursor in(data);
  in.ReadU8();
  try {
    in.ReadI32();
    FAIL();
  } catch (const EStorageDataError& e) {
    EXPECT_EQ(e.Offset(), 1u);
  }
  EXPECT_EQ(in.Position(), 1u);  // nothing consumed by the failed read
  // A length far beyond the value fails before anything is taken or allocated.
  EXPECT_THROW(in.ReadBytes(size_t{1} << 40), EStorageDataError);
  EXPECT_THROW(in.Skip(3), EStorageDataError);
  EXPECT_THROW(in.Seek(4), EStorageDataError);
  in.Seek(3);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_THROW(in.ReadU8(), EStorageDataError);

  TReadCursor empty;
  EXPECT_THROW(empty.ReadU16(), EStorageDataError);
}

TEST(ByteStreamTest, Count16RefusesWhatDoesNotFit) {
  TWriteBuffer out;
  PutCount16(out, 32767, "count");
  EXPECT_EQ(ToHex(out.Data()), "FF 7F");
  try {
    PutCount16(out, 32768, "Слишком много объектов");
    FAIL();
  } catch (const EStorageWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Слишком много объектов: 32768 (допустимо не более 32767)");
  }
  EXPECT_THROW(PutCount16(out, -1, "count"), EStorageWriteError);
  EXPECT_EQ(out.Size(), 2u);
}

}  // namespace
}  // namespace atlor
