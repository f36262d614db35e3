#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Text encodings. The program keeps every string as UTF-8; single-byte code pages appear only
// at the edges where a stored format or a document requires them.
namespace atlor {

enum class CodePage : uint16_t {
  kWindows1251 = 1251,  // Cyrillic (Windows): XML documents, Atlor texts
  kCp866 = 866,         // Cyrillic (DOS)
  kWindows1252 = 1252,  // Western (Windows)
  kCp850 = 850,         // Western (DOS)
  kCp437 = 437,         // United States (DOS)
};

// True when the number names a code page this program can convert.
bool IsSupportedCodePage(int number);

// Single-byte text in `page` as UTF-8. Every byte maps to a character, so nothing is lost.
std::string DecodeSingleByte(std::string_view bytes, CodePage page);

// UTF-8 text as bytes of `page`. A character the page cannot hold is written as `replacement`
// (the count of such characters goes to *unmappable when given). Invalid UTF-8 sequences count
// as unmappable characters.
std::string EncodeSingleByte(std::string_view utf8, CodePage page, char replacement = '?',
                             size_t* unmappable = nullptr);

// Byte of `page` for a code point, or -1 when the page cannot hold it.
int CodePointToSingleByte(char32_t code_point, CodePage page);

// Decodes one UTF-8 character at text[pos], advancing pos. Malformed input yields U+FFFD and
// advances by one byte.
char32_t NextCodePoint(std::string_view text, size_t& pos);
void AppendUtf8(std::string& out, char32_t code_point);

// Characters (code points) in a UTF-8 text: the length the program counts.
size_t Utf8Length(std::string_view text);
// The first `count` characters of a UTF-8 text (all of it when it is shorter).
std::string Utf8Prefix(std::string_view text, size_t count);
bool IsValidUtf8(std::string_view text);

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Case-insensitive comparison of the Latin letters A..Z only (other characters compare exactly).
bool SameTextAscii(std::string_view a, std::string_view b);
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
// Removes blanks and control characters (code <= 32) from both ends.
std::string TrimText(std::string_view text);

}  // namespace atlor
