#include "storage/object_id.h"

#include <gtest/gtest.h>

#include <cstring>

#include "storage/storage_error.h"

namespace atlor {
namespace {

TEST(ObjectIdTest, FormatIdTakesTheLowBitsInUpperCaseHex) {
  EXPECT_EQ(FormatId(0x12, 0x3F).Str(), "00120000003F");
  EXPECT_EQ(FormatId(0x5, 42).Str(), "00050000002A");
  EXPECT_EQ(FormatId(0x12345, -1).Str(), "2345FFFFFFFF");
  EXPECT_EQ(FormatId(0xFFFF, 2147483647).Str(), "FFFF7FFFFFFF");
}

TEST(ObjectIdTest, CheckIdAcceptsOnlyTwelveUpperCaseHexDigits) {
  struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {"00120000003F", true},  {"0123456789AB", true}, {"00120000003f", false},
      {"0012000003F", false},  {"00120000003G", false}, {"", false},
      {"0012 000003F", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TObjectId id(c.text);
    EXPECT_EQ(IsValidId(id), c.valid);
    if (c.valid) {
      EXPECT_NO_THROW(CheckId(id));
    } else {
      try {
        CheckId(id);
        FAIL();
      } catch (const EStorageDataError& e) {
        EXPECT_STREQ(e.what(), "Запорчен идентификатор");
      }
    }
  }
}

TEST(ObjectIdTest, TextIsCutToTwelveCharacters) {
  EXPECT_EQ(TObjectId("00120000003FXYZ").Str(), "00120000003F");
  // Whole characters only: eleven digits and a two-byte letter do not fit 12 bytes.
  EXPECT_EQ(TObjectId("00120000003Я").Str(), "00120000003");
  EXPECT_EQ(TObjectId("00120000003F"), FormatId(0x12, 0x3F));
  EXPECT_FALSE(TObjectId("00120000003F") == TObjectId("00120000003E"));
  EXPECT_TRUE(TObjectId().Empty());
}

TEST(ObjectIdTest, StoredRecordIsLengthByteAndTwelveCharacters) {
  uint8_t record[TObjectId::kStoredSize];
  TObjectId("AB").Store(record);
  const uint8_t expected[] = {2, 'A', 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(record, expected, sizeof record));
  EXPECT_EQ(TObjectId::FromStored(record).Str(), "AB");

  // A damaged length byte never reaches beyond the record.
  uint8_t damaged[TObjectId::kStoredSize] = {200, '0', '0', '1', '2', '0', '0', '0', '0', '0', '0', '3', 'F'};
  const TObjectId id = TObjectId::FromStored(damaged);
  EXPECT_EQ(id.Str(), "00120000003F");
  EXPECT_FALSE(IsValidId(id));
}

}  // namespace
}  // namespace atlor
