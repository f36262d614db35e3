#include "core/encoding.h"

#include <array>
#include <mutex>
#include <unordered_map>

#include "core/encoding_tables.h"

namespace atlor {
namespace {

const char16_t* UpperHalf(CodePage page) {
  switch (page) {
    case CodePage::kWindows1251: return encoding_tables::kCp1251;
    case CodePage::kCp866: return encoding_tables::kCp866;
    case CodePage::kWindows1252: return encoding_tables::kCp1252;
    case CodePage::kCp850: return encoding_tables::kCp850;
    case CodePage::kCp437: return encoding_tables::kCp437;
  }
  return encoding_tables::kCp1252;
}

// Reverse map of one page's upper half, built once.
const std::unordered_map<char32_t, uint8_t>& ReverseMap(CodePage page) {
  static std::once_flag once;
  static constexpr CodePage kPages[] = {CodePage::kWindows1251, CodePage::kCp866,
                                        CodePage::kWindows1252, CodePage::kCp850,
                                        CodePage::kCp437};
  static constexpr int kPageCount = sizeof kPages / sizeof kPages[0];
  static std::array<std::unordered_map<char32_t, uint8_t>, kPageCount> maps;
  std::call_once(once, [] {
    for (int p = 0; p < kPageCount; ++p) {
      const char16_t* half = UpperHalf(kPages[p]);
      for (int i = 0; i < 128; ++i) maps[p].emplace(half[i], static_cast<uint8_t>(0x80 + i));
    }
  });
  for (int p = 0; p < kPageCount; ++p)
    if (kPages[p] == page) return maps[p];
  return maps[2];
}

}  // namespace

bool IsSupportedCodePage(int number) {
  return number == 1251 || number == 866 || number == 1252 || number == 850 || number == 437;
}

std::string DecodeSingleByte(std::string_view bytes, CodePage page) {
  const char16_t* half = UpperHalf(page);
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    if (c < 0x80)
      out.push_back(static_cast<char>(c));
    else
      AppendUtf8(out, half[c - 0x80]);
  }
  return out;
}

int CodePointToSingleByte(char32_t code_point, CodePage page) {
  if (code_point < 0x80) return static_cast<int>(code_point);
  const auto& map = ReverseMap(page);
  const auto it = map.find(code_point);
  return it == map.end() ? -1 : it->second;
}

std::string EncodeSingleByte(std::string_view utf8, CodePage page, char replacement,
                             size_t* unmappable) {
  std::string out;
  out.reserve(utf8.size());
  size_t lost = 0;
  for (size_t pos = 0; pos < utf8.size();) {
    const char32_t cp = NextCodePoint(utf8, pos);
    const int byte = CodePointToSingleByte(cp, page);
    if (byte < 0) {
      ++lost;
      out.push_back(replacement);
    } else {
      out.push_back(static_cast<char>(byte));
    }
  }
  if (unmappable) *unmappable = lost;
  return out;
}

char32_t NextCodePoint(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + extra >= text.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (int i = 1; i <= extra; ++i) {
    const unsigned char c = byte(pos + i);
    if ((c & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += extra + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

size_t Utf8Length(std::string_view text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size();) {
    NextCodePoint(text, pos);
    ++count;
  }
  return count;
}

std::string Utf8Prefix(std::string_view text, size_t count) {
  size_t pos = 0;
  for (size_t n = 0; n < count && pos < text.size(); ++n) NextCodePoint(text, pos);
  return std::string(text.substr(0, pos));
}

bool IsValidUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    if (NextCodePoint(text, pos) == 0xFFFD && pos == start + 1 &&
        static_cast<unsigned char>(text[start]) >= 0x80)
      return false;
  }
  return true;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    char32_t cp = NextCodePoint(text, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string TrimText(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace atlor
