#include "core/encoding.h"

#include <gtest/gtest.h>

namespace atlor {
namespace {

TEST(EncodingTest, CyrillicCodePages) {
  const std::string text = "Привет, Ёж";
  const std::string cp1251 = EncodeSingleByte(text, CodePage::kWindows1251);
  EXPECT_EQ(cp1251, "\xCF\xF0\xE8\xE2\xE5\xF2, \xA8\xE6");
  EXPECT_EQ(DecodeSingleByte(cp1251, CodePage::kWindows1251), text);
  const std::string cp866 = EncodeSingleByte(text, CodePage::kCp866);
  EXPECT_EQ(static_cast<unsigned char>(cp866[0]), 0x8F);
  EXPECT_EQ(DecodeSingleByte(cp866, CodePage::kCp866), text);
}

TEST(EncodingTest, EveryByteSurvivesARoundTrip) {
  for (CodePage page : {CodePage::kWindows1251, CodePage::kCp866, CodePage::kWindows1252,
                        CodePage::kCp850, CodePage::kCp437}) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    size_t lost = 1;
    EXPECT_EQ(EncodeSingleByte(DecodeSingleByte(all, page), page, '?', &lost), all);
    EXPECT_EQ(lost, 0u);
  }
}

TEST(EncodingTest, UnmappableCharactersAreCounted) {
  size_t lost = 0;
  EXPECT_EQ(EncodeSingleByte("a\xE4\xB8\xAD" "b", CodePage::kWindows1251, '?', &lost), "a?b");
  EXPECT_EQ(lost, 1u);
}

TEST(EncodingTest, LengthsCountCharacters) {
  EXPECT_EQ(Utf8Length("Жук"), 3u);
  EXPECT_EQ(Utf8Prefix("Жук", 2), "Жу");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("Жук \xF0\x9F\x98\x80")), "Жук \xF0\x9F\x98\x80");
  EXPECT_FALSE(IsValidUtf8("\xD0"));
  EXPECT_EQ(Utf8Length("\xD0"), 1u);  // a truncated sequence is one (replacement) character
}

TEST(EncodingTest, AsciiCaseAndTrim) {
  EXPECT_TRUE(SameTextAscii("Name", "NAME"));
  EXPECT_FALSE(SameTextAscii("Имя", "ИМЯ"));  // only Latin letters fold
  EXPECT_EQ(TrimText(" \t A ;\r\n"), "A ;");
}

}  // namespace
}  // namespace atlor
