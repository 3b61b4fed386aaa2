// Searching, cutting, folding and splitting of GBK texts. The code-page conversions live in
// codepage.cpp.
#include "common/text.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace common {

namespace {

constexpr unsigned char kFullWidthSpaceByte = 0xA1;  // the full-width space is A1 A1

unsigned char Byte(std::string_view text, std::size_t offset) {
  return static_cast<unsigned char>(text[offset]);
}

unsigned char FoldLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

unsigned char FoldUpper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// True when `needle` lies in `text` at the 0-based offset. The offset must be a character
// boundary of the text; the needle is walked by its own characters, and only its single-byte
// characters are folded, so the ASCII-looking second byte of a double-byte character is always
// compared exactly.
bool MatchAt(std::string_view text, std::size_t offset, std::string_view needle, bool ignoreCase) {
  if (offset > text.size() || needle.size() > text.size() - offset) return false;
  if (!ignoreCase) {
    // The first byte decides most positions of a long scan without a call to compare.
    if (!needle.empty() && text[offset] != needle[0]) return false;
    return text.compare(offset, needle.size(), needle) == 0;
  }
  std::size_t i = 0;
  while (i < needle.size()) {
    const int length = CharLength(needle, i);
    if (length == 2) {
      if (text[offset + i] != needle[i] || text[offset + i + 1] != needle[i + 1]) return false;
    } else if (FoldLower(Byte(text, offset + i)) != FoldLower(Byte(needle, i))) {
      return false;
    }
    i += static_cast<std::size_t>(length);
  }
  return true;
}

bool IsFullWidthSpaceAt(std::string_view text, std::size_t offset) {
  return offset + 1 < text.size() && Byte(text, offset) == kFullWidthSpaceByte &&
         Byte(text, offset + 1) == kFullWidthSpaceByte;
}

// Length of the space character at a boundary (1 ASCII space, 2 full-width space), else 0.
std::size_t SpaceLengthAt(std::string_view text, std::size_t offset) {
  if (text[offset] == ' ') return 1;
  if (IsFullWidthSpaceAt(text, offset)) return 2;
  return 0;
}

Text FoldCase(std::string_view text, unsigned char (*fold)(unsigned char)) {
  Text result(text);
  // Through a plain pointer: stores into the string would otherwise make the compiler read
  // its size and data again for every byte.
  char* bytes = result.data();
  const std::size_t size = result.size();
  std::size_t i = 0;
  while (i < size) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (i + 1 < size && IsLeadByte(byte)) {  // a double-byte character stays as it is
      i += 2;
      continue;
    }
    bytes[i] = static_cast<char>(fold(byte));
    ++i;
  }
  return result;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The C library's white space in the "C" locale.
bool IsCWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

Text AsText(std::string_view bytes) {
  const std::size_t end = bytes.find('\0');
  return Text(end == std::string_view::npos ? bytes : bytes.substr(0, end));
}

bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

int CharLength(std::string_view text, std::size_t offset) {
  if (offset + 1 < text.size() && IsLeadByte(Byte(text, offset))) return 2;
  return 1;
}

int Find(std::string_view text, std::string_view needle, int start, bool ignoreCase) {
  if (start < 1) start = 1;
  const auto first = static_cast<std::size_t>(start) - 1;
  if (first >= text.size()) return -1;
  if (needle.empty()) return start;
  if (needle.size() > text.size()) return -1;
  const std::size_t last = text.size() - needle.size();
  const char head = needle[0];
  std::size_t i = first;
  while (i <= last) {
    if (!ignoreCase) {
      // Runs of single-byte characters that cannot start a match are stepped over one by one,
      // without the character-length test of each step.
      while (i <= last && static_cast<unsigned char>(text[i]) < 0x80 && text[i] != head) ++i;
      if (i > last) break;
    }
    if ((ignoreCase || text[i] == head) && MatchAt(text, i, needle, ignoreCase)) {
      return static_cast<int>(i + 1);
    }
    i += static_cast<std::size_t>(CharLength(text, i));
  }
  return -1;
}

int FindLast(std::string_view text, std::string_view needle, bool ignoreCase) {
  if (text.empty()) return -1;
  if (needle.empty()) return 1;
  if (needle.size() > text.size()) return -1;
  // Boundaries are only known walking forward from the first byte.
  int found = -1;
  const std::size_t last = text.size() - needle.size();
  for (std::size_t i = 0; i <= last; i += static_cast<std::size_t>(CharLength(text, i))) {
    if (MatchAt(text, i, needle, ignoreCase)) found = static_cast<int>(i + 1);
  }
  return found;
}

bool Contains(std::string_view text, std::string_view needle, bool ignoreCase) {
  return Find(text, needle, 1, ignoreCase) != -1;
}

bool StartsWith(std::string_view text, std::string_view prefix, bool ignoreCase) {
  return MatchAt(text, 0, prefix, ignoreCase);
}

bool EndsWith(std::string_view text, std::string_view suffix, bool ignoreCase) {
  if (suffix.size() > text.size()) return false;
  const std::size_t offset = text.size() - suffix.size();
  std::size_t i = 0;
  while (i < offset) i += static_cast<std::size_t>(CharLength(text, i));
  return i == offset && MatchAt(text, offset, suffix, ignoreCase);
}

bool Equals(std::string_view a, std::string_view b, bool ignoreCase) {
  return a.size() == b.size() && MatchAt(a, 0, b, ignoreCase);
}

Text Left(std::string_view text, int length) {
  if (length <= 0) return {};
  return Text(text.substr(0, static_cast<std::size_t>(length)));
}

Text Right(std::string_view text, int length) {
  if (length <= 0) return {};
  const auto count = std::min(text.size(), static_cast<std::size_t>(length));
  return Text(text.substr(text.size() - count));
}

Text Mid(std::string_view text, int start, int length) {
  if (start < 1 || static_cast<std::size_t>(start) > text.size() || length == 0) return {};
  const std::size_t offset = static_cast<std::size_t>(start) - 1;
  if (length < 0) return Text(text.substr(offset));
  return Text(text.substr(offset, static_cast<std::size_t>(length)));
}

Text ToLower(std::string_view text) { return FoldCase(text, FoldLower); }

Text ToUpper(std::string_view text) { return FoldCase(text, FoldUpper); }

Text TrimLeft(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t space = SpaceLengthAt(text, i);
    if (space == 0) break;
    i += space;
  }
  return Text(text.substr(i));
}

Text TrimRight(std::string_view text) {
  // Walk forward so that a trailing A1 A1 is only taken for a full-width space when it really
  // is one character (and not the second byte of a character followed by a stray A1).
  std::size_t end = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const int length = CharLength(text, i);
    if (SpaceLengthAt(text, i) == 0) end = i + static_cast<std::size_t>(length);
    i += static_cast<std::size_t>(length);
  }
  return Text(text.substr(0, end));
}

Text Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

Text RemoveSpaces(std::string_view text) {
  Text result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const int length = CharLength(text, i);
    if (SpaceLengthAt(text, i) == 0) result.append(text.substr(i, static_cast<std::size_t>(length)));
    i += static_cast<std::size_t>(length);
  }
  return result;
}

std::vector<Text> Split(std::string_view text, std::string_view separator) {
  std::vector<Text> items;
  if (text.empty()) return items;
  if (separator.empty()) {
    items.emplace_back(text);
    return items;
  }
  std::size_t itemStart = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == separator[0] && MatchAt(text, i, separator, false)) {
      items.emplace_back(text.substr(itemStart, i - itemStart));
      i += separator.size();
      itemStart = i;
    } else {
      i += static_cast<std::size_t>(CharLength(text, i));
    }
  }
  if (itemStart < text.size()) items.emplace_back(text.substr(itemStart));
  return items;
}

Text Replace(std::string_view text, std::string_view from, std::string_view to, bool ignoreCase) {
  if (from.empty()) return Text(text);
  Text result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (MatchAt(text, i, from, ignoreCase)) {
      result.append(to);
      i += from.size();
    } else {
      const int length = CharLength(text, i);
      result.append(text.substr(i, static_cast<std::size_t>(length)));
      i += static_cast<std::size_t>(length);
    }
  }
  return result;
}

long long ToInteger(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate towards the negative side, which holds one more value, and saturate.
  constexpr long long kMin = std::numeric_limits<long long>::min();
  long long value = 0;
  bool saturated = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    const int digit = text[i] - '0';
    if (!saturated) {
      if (value < (kMin + digit) / 10) {
        saturated = true;
        value = kMin;
      } else {
        value = value * 10 - digit;
      }
    }
  }
  if (negative) return value;
  if (value == kMin) return std::numeric_limits<long long>::max();
  return -value;
}

double ToNumber(std::string_view text) {
  // Find the extent of a decimal number first, so that hexadecimal forms, "inf" and "nan",
  // which the C library would also accept, read as no number.
  std::size_t i = 0;
  while (i < text.size() && IsCWhiteSpace(text[i])) ++i;
  const std::size_t begin = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      i = j;
    }
  }
  // The number is read in the "C" locale whatever locale the toolkit has set.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const std::string number(text.substr(begin, i - begin));
  if (cLocale == static_cast<locale_t>(nullptr)) return std::strtod(number.c_str(), nullptr);
  return strtod_l(number.c_str(), nullptr, cLocale);
}

Text TextBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                 int startPos, bool caseSensitive) {
  static const Text quoteWord = "#\xD2\xFD\xBA\xC5";  // #引号
  const Text start = Replace(startMarker, quoteWord, "\"");
  const Text end = Replace(endMarker, quoteWord, "\"");
  const bool ignoreCase = !caseSensitive;
  int p = Find(text, start, startPos, ignoreCase);
  if (p == -1) return {};
  p += static_cast<int>(start.size());
  const int q = Find(text, end, p, ignoreCase);
  if (q == -1 || q < p) return {};
  return Text(text.substr(static_cast<std::size_t>(p) - 1, static_cast<std::size_t>(q - p)));
}

Text HeaderValue(std::string_view line) {
  const int colon = Find(line, ":");
  if (colon == -1) return {};
  return Trim(line.substr(static_cast<std::size_t>(colon)));
}

Text NonAsciiChars(std::string_view text, bool removeWhiteSpace) {
  Text result;
  std::size_t i = 0;
  while (i < text.size()) {
    const int length = CharLength(text, i);
    const unsigned char c = Byte(text, i);
    const bool outside = c < 0x20 || c >= 0x80;
    const bool whiteSpace = (length == 1 && c >= '\t' && c <= '\r') ||
                            (length == 2 && IsFullWidthSpaceAt(text, i));
    if (outside && !(removeWhiteSpace && whiteSpace)) {
      result.append(text.substr(i, static_cast<std::size_t>(length)));
    }
    i += static_cast<std::size_t>(length);
  }
  return result;
}

}  // namespace common
