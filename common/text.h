// The text layer: operations on GBK (code page 936) byte strings.
//
// Every text inside the programs is a std::string of GBK bytes. ASCII characters take one byte;
// every other character takes two, the first of which lies in 0x81..0xFE. The conventions below
// hold for every caller:
//   - a text ends at its first zero byte (AsText); an empty and an absent text are equal;
//   - positions are 1-based byte positions, -1 means "not found";
//   - searches step over double-byte characters whole, so a match begins only at a character
//     boundary counted from the start position; folding case touches ASCII letters only;
//   - trimming removes the ASCII space and the full-width space (A1 A1) only;
//   - splitting gives no item for an empty text and no trailing empty item;
//   - replacing runs left to right without overlap.
// Nothing here throws; bad input gives the empty or unchanged result.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace common {

using Text = std::string;  // GBK bytes

// Bytes become text by taking everything up to the first zero byte.
Text AsText(std::string_view bytes);

// True for a byte that starts a double-byte GBK character (0x81..0xFE).
bool IsLeadByte(unsigned char byte);

// Byte length of the character that starts at the 0-based offset (1 or 2; 1 at the last byte).
int CharLength(std::string_view text, std::size_t offset);

// Forward search from the 1-based start position (below 1 means 1). Returns the 1-based
// position of the first match at a character boundary, or -1. An empty needle gives the
// start position when the searched range is not empty, else -1.
int Find(std::string_view text, std::string_view needle, int start = 1, bool ignoreCase = false);

// Reverse search: the last match at a character boundary, or -1.
int FindLast(std::string_view text, std::string_view needle, bool ignoreCase = false);

bool Contains(std::string_view text, std::string_view needle, bool ignoreCase = false);
bool StartsWith(std::string_view text, std::string_view prefix, bool ignoreCase = false);
bool EndsWith(std::string_view text, std::string_view suffix, bool ignoreCase = false);

// Byte equality, optionally folding ASCII letters.
bool Equals(std::string_view a, std::string_view b, bool ignoreCase = false);

// Left, right and middle parts in bytes. A length of 0 or less gives an empty text; a length
// beyond the end is clipped. Mid needs a 1-based start inside the text (else empty); a negative
// length means "to the end".
Text Left(std::string_view text, int length);
Text Right(std::string_view text, int length);
Text Mid(std::string_view text, int start, int length = -1);

// ASCII A-Z to a-z only; double-byte characters stay as they are (their second byte may lie in
// the ASCII letter range and must not be changed).
Text ToLower(std::string_view text);
Text ToUpper(std::string_view text);

// Remove ASCII spaces and full-width spaces (A1 A1): at both ends, at one end, or everywhere.
Text Trim(std::string_view text);
Text TrimLeft(std::string_view text);
Text TrimRight(std::string_view text);
Text RemoveSpaces(std::string_view text);

// Split on a separator (stepping over double-byte characters). An empty text gives no items;
// a separator at the very end adds no empty item; a text without the separator is one item.
// An empty separator gives the whole text as one item.
std::vector<Text> Split(std::string_view text, std::string_view separator);

// Replace every occurrence of `from`, left to right, without overlap.
Text Replace(std::string_view text, std::string_view from, std::string_view to,
             bool ignoreCase = false);

// Integer value of the leading decimal digits (after an optional sign); 0 when there are none.
long long ToInteger(std::string_view text);

// Decimal number: leading white space skipped, optional sign, digits, optional fraction and
// exponent, the rest ignored; no number at all gives 0.
double ToNumber(std::string_view text);

// Text between the first start marker (searched from startPos) and the next end marker after it;
// empty when either is missing. "#引号" in a marker stands for a double quote. The search ignores
// ASCII case unless caseSensitive is true.
Text TextBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                 int startPos = 1, bool caseSensitive = false);

// The text after the first ":" of a header line, trimmed; empty when the line has no ":".
Text HeaderValue(std::string_view line);

// UTF-8 page bytes to GBK bytes, with the length rule of the Windows converters: the result has
// exactly as many bytes as the converted text needs, and bytes after a zero character stay zero.
// Invalid UTF-8 and characters GBK cannot hold become "?".
std::string Utf8ToGbk(std::string_view bytes);

// Every character outside U+0020..U+007F, in order (double-byte characters and control
// characters such as tab). With removeWhiteSpace, white-space characters are dropped from the
// result as well.
Text NonAsciiChars(std::string_view text, bool removeWhiteSpace = false);

// Conversions at the edges of the programs (file names, the toolkit, the terminal).
// GbkToUtf8: invalid GBK bytes become U+FFFD. Utf8ToGbkText: like Utf8ToGbk, cut at the first
// zero byte.
std::string GbkToUtf8(std::string_view gbk);
Text Utf8ToGbkText(std::string_view utf8);

// Source literals are UTF-8; "确认"_gbk gives the GBK bytes of the literal.
namespace literals {
Text operator""_gbk(const char* utf8, std::size_t length);
}

}  // namespace common
