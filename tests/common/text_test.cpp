// The GBK text layer: searches that step over double-byte characters, ASCII-only case folding,
// the split, trim and replace rules, number reading, marker cutting and the code-page edges.
#include "common/text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using namespace common::literals;
using common::Text;

// Double-byte characters whose second byte looks like ASCII: 乗 ends in "\", 乢 in "_",
// 丄 in "A" and 乤 in "a".
const Text kBackslashTail = "\x81\x5C";
const Text kUnderscoreTail = "\x81\x5F";
const Text kUpperATail = "\x81\x41";
const Text kLowerATail = "\x81\x61";
const Text kFullWidthSpace = "\xA1\xA1";

TEST(TextLiteralTest, DoubleByteFixturesAreTheNamedCharacters) {
  EXPECT_EQ("乗"_gbk, kBackslashTail);
  EXPECT_EQ("乢"_gbk, kUnderscoreTail);
  EXPECT_EQ("丄"_gbk, kUpperATail);
  EXPECT_EQ("乤"_gbk, kLowerATail);
  EXPECT_EQ("　"_gbk, kFullWidthSpace);
}

TEST(TextCharacterTest, LeadBytesAndLengths) {
  const std::vector<std::pair<unsigned char, bool>> leads = {
      {0x00, false}, {0x5C, false}, {0x7F, false}, {0x80, false},
      {0x81, true},  {0xA1, true},  {0xFE, true},  {0xFF, false},
  };
  for (const auto& [byte, lead] : leads) EXPECT_EQ(common::IsLeadByte(byte), lead) << int{byte};

  const Text text = "a" + kBackslashTail + "\\\x81";
  const std::vector<std::pair<std::size_t, int>> lengths = {{0, 1}, {1, 2}, {3, 1}, {4, 1}};
  for (const auto& [offset, length] : lengths) {
    EXPECT_EQ(common::CharLength(text, offset), length) << offset;
  }

  EXPECT_EQ(common::AsText(std::string_view("ab\0cd", 5)), "ab");
  EXPECT_EQ(common::AsText(std::string_view("\0ab", 3)), "");
  EXPECT_EQ(common::AsText("abc"), "abc");
}

struct FindCase {
  const char* name;
  Text text;
  Text needle;
  int start;
  bool ignoreCase;
  int expected;
};

TEST(TextFindTest, ForwardSearch) {
  const std::vector<FindCase> cases = {
      {"backslash after 乗", kBackslashTail + "\\", "\\", 1, false, 3},
      {"underscore after 乢", kUnderscoreTail + "_", "_", 1, false, 3},
      {"second byte of 乗 alone", "a" + kBackslashTail + "b", "\\", 1, false, -1},
      {"second byte of 乢 alone", kUnderscoreTail, "_", 1, false, -1},
      {"boundaries counted from the start position", kBackslashTail + "\\", "\\", 2, false, 2},
      {"double-byte needle", "ab" + kBackslashTail, kBackslashTail, 1, false, 3},
      {"needle across two characters is no match", "\x81\x81\x5C", kBackslashTail, 1, false,
       -1},
      {"start below 1 means 1", "abc", "a", 0, false, 1},
      {"negative start means 1", "abc", "a", -7, false, 1},
      {"start after an occurrence", "abab", "b", 3, false, 4},
      {"start beyond the end", "abc", "c", 4, false, -1},
      {"needle longer than text", "ab", "abc", 1, false, -1},
      {"empty needle gives 1", "abc", "", 1, false, 1},
      {"empty needle gives the start position", "abc", "", 3, false, 3},
      {"empty needle in an empty range", "abc", "", 4, false, -1},
      {"empty needle in an empty text", "", "", 1, false, -1},
      {"case-sensitive by default", "Set-Cookie: a", "set-cookie:", 1, false, -1},
      {"ASCII case folded", "Set-Cookie: a", "set-cookie:", 1, true, 1},
      {"trail A is no letter", kUpperATail, "a", 1, true, -1},
      {"trail a is no letter", kLowerATail, "A", 1, true, -1},
      {"trail bytes never folded", kLowerATail, kUpperATail, 1, true, -1},
      {"folding beside a double-byte char", kLowerATail + "X", kLowerATail + "x", 1, true, 1},
      {"lone lead byte at the end", "ab\x81", "\x81", 1, false, 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(common::Find(c.text, c.needle, c.start, c.ignoreCase), c.expected) << c.name;
  }
}

TEST(TextFindTest, ReverseSearch) {
  const std::vector<FindCase> cases = {
      {"last of two", "a\\b\\", "\\", 1, false, 4},
      {"backslash after 乗", kBackslashTail + "\\", "\\", 1, false, 3},
      {"only inside 乗", "\\" + kBackslashTail, "\\", 1, false, 1},
      {"never inside 乢", kUnderscoreTail + kUnderscoreTail, "_", 1, false, -1},
      {"folding", "ABab", "A", 1, true, 3},
      {"not folded by default", "ABab", "A", 1, false, 1},
      {"trail bytes never folded", "b" + kUpperATail, "A", 1, true, -1},
      {"empty text", "", "x", 1, false, -1},
      {"empty needle", "abc", "", 1, false, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(common::FindLast(c.text, c.needle, c.ignoreCase), c.expected) << c.name;
  }
}

TEST(TextFindTest, ContainsStartsEndsAndEquals) {
  EXPECT_TRUE(common::Contains("D:\\Game\\ImagePacks2", "imagepacks2", true));
  EXPECT_FALSE(common::Contains("D:\\Game\\ImagePacks2", "imagepacks2"));
  EXPECT_FALSE(common::Contains(kBackslashTail, "\\"));

  EXPECT_TRUE(common::StartsWith("sprite_a.NPK", "SPRITE", true));
  EXPECT_FALSE(common::StartsWith("sprite_a.NPK", "SPRITE"));
  EXPECT_FALSE(common::StartsWith("ab", "abc"));

  EXPECT_TRUE(common::EndsWith("sprite_a.NPK", ".npk", true));
  EXPECT_FALSE(common::EndsWith("sprite_a.NPK", ".npk"));
  EXPECT_TRUE(common::EndsWith("a\\", "\\"));
  // A folder name ending in 乗 does not end in a separator.
  EXPECT_FALSE(common::EndsWith("D:\\" + kBackslashTail, "\\"));
  EXPECT_FALSE(common::EndsWith("x" + kUnderscoreTail, "_"));
  EXPECT_TRUE(common::EndsWith("x" + kUnderscoreTail, kUnderscoreTail));

  EXPECT_TRUE(common::Equals("DNF.exe", "dnf.EXE", true));
  EXPECT_FALSE(common::Equals("DNF.exe", "dnf.EXE"));
  EXPECT_FALSE(common::Equals("abc", "abcd", true));
  EXPECT_FALSE(common::Equals(kUpperATail, kLowerATail, true));
}

TEST(TextCaseTest, OnlyAsciiLettersChange) {
  const Text mixed = "ABC-xyz " + kBackslashTail + kUpperATail + kLowerATail + "Q";
  EXPECT_EQ(common::ToLower(mixed), "abc-xyz " + kBackslashTail + kUpperATail + kLowerATail + "q");
  EXPECT_EQ(common::ToUpper(mixed), "ABC-XYZ " + kBackslashTail + kUpperATail + kLowerATail + "Q");
  EXPECT_EQ(common::ToLower("[@`{]"), "[@`{]");
  EXPECT_EQ(common::ToLower("\xC0\xC1\xE0"), "\xC0\xC1\xE0");
  // A lone lead byte at the end is one byte; the letter before it still folds.
  EXPECT_EQ(common::ToLower("Z\x81"), "z\x81");
}

struct SplitCase {
  const char* name;
  Text text;
  Text separator;
  std::vector<Text> expected;
};

TEST(TextSplitTest, Rules) {
  const std::vector<SplitCase> cases = {
      {"empty text", "", ",", {}},
      {"no separator", "abc", ",", {"abc"}},
      {"two items", "a,b", ",", {"a", "b"}},
      {"empty item between separators", "a,,b", ",", {"a", "", "b"}},
      {"no trailing empty item", "a,b,", ",", {"a", "b"}},
      {"leading empty item", ",a", ",", {"", "a"}},
      {"only a separator", ",", ",", {""}},
      {"line breaks", "one\r\ntwo\r\n", "\r\n", {"one", "two"}},
      {"empty separator", "abc", "", {"abc"}},
      {"乗 is not split", kBackslashTail + "\\x", "\\", {kBackslashTail, "x"}},
      {"乢 is not split", "a" + kUnderscoreTail + "_b", "_", {"a" + kUnderscoreTail, "b"}},
      {"double-byte separator", "a" + kFullWidthSpace + "b", kFullWidthSpace, {"a", "b"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(common::Split(c.text, c.separator), c.expected) << c.name;
  }
}

struct ReplaceCase {
  const char* name;
  Text text;
  Text from;
  Text to;
  bool ignoreCase;
  Text expected;
};

TEST(TextReplaceTest, Rules) {
  const std::vector<ReplaceCase> cases = {
      {"every occurrence", "a.b.c", ".", "::", false, "a::b::c"},
      {"no overlap, left to right", "aaa", "aa", "b", false, "ba"},
      {"removal", "abcb", "b", "", false, "ac"},
      {"replacement not searched again", "ab", "a", "aa", false, "aab"},
      {"empty pattern leaves the text", "abc", "", "x", false, "abc"},
      {"case-sensitive by default", "AbAB", "ab", "x", false, "AbAB"},
      {"ASCII case folded", "AbAB", "ab", "x", true, "xx"},
      {"乗 keeps its second byte", kBackslashTail + "\\", "\\", "/", false, kBackslashTail + "/"},
      {"乢 keeps its second byte", kUnderscoreTail + "_a_", "_", "-", false,
       kUnderscoreTail + "-a-"},
      {"trail letter not folded", kLowerATail + "A", "a", "x", true, kLowerATail + "x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(common::Replace(c.text, c.from, c.to, c.ignoreCase), c.expected) << c.name;
  }
}

TEST(TextPartsTest, LeftRightMidClip) {
  struct Case {
    const char* name;
    Text actual;
    Text expected;
  };
  const std::vector<Case> cases = {
      {"Left", common::Left("abcdef", 2), "ab"},
      {"Left 0", common::Left("abcdef", 0), ""},
      {"Left negative", common::Left("abcdef", -1), ""},
      {"Left beyond", common::Left("abc", 10), "abc"},
      {"Right", common::Right("abcdef", 2), "ef"},
      {"Right 0", common::Right("abcdef", 0), ""},
      {"Right negative", common::Right("abcdef", -3), ""},
      {"Right beyond", common::Right("abc", 10), "abc"},
      {"Mid", common::Mid("abcdef", 2, 3), "bcd"},
      {"Mid to the end", common::Mid("abcdef", 4), "def"},
      {"Mid clipped", common::Mid("abcdef", 5, 10), "ef"},
      {"Mid at the last byte", common::Mid("abcdef", 6, 1), "f"},
      {"Mid length 0", common::Mid("abcdef", 2, 0), ""},
      {"Mid start 0", common::Mid("abcdef", 0, 2), ""},
      {"Mid start beyond", common::Mid("abcdef", 7, 2), ""},
      {"Mid of empty", common::Mid("", 1, 2), ""},
      {"Left counts bytes", common::Left("中文"_gbk, 2), "中"_gbk},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;
}

TEST(TextTrimTest, AsciiAndFullWidthSpacesOnly) {
  const Text padded = kFullWidthSpace + " a" + kFullWidthSpace + "b " + kFullWidthSpace + " ";
  EXPECT_EQ(common::Trim(padded), "a" + kFullWidthSpace + "b");
  EXPECT_EQ(common::TrimLeft(padded), "a" + kFullWidthSpace + "b " + kFullWidthSpace + " ");
  EXPECT_EQ(common::TrimRight(padded), kFullWidthSpace + " a" + kFullWidthSpace + "b");
  EXPECT_EQ(common::RemoveSpaces(padded), "ab");

  EXPECT_EQ(common::Trim("\t a \r\n"), "\t a \r\n");
  EXPECT_EQ(common::RemoveSpaces("a b\tc\n"), "ab\tc\n");
  EXPECT_EQ(common::Trim("   "), "");
  EXPECT_EQ(common::Trim(kFullWidthSpace + kFullWidthSpace), "");
  EXPECT_EQ(common::TrimLeft(kFullWidthSpace + "\xA1"), "\xA1");
  EXPECT_EQ(common::Trim(""), "");

  // 啊 is B0 A1: followed by a stray A1 the last two bytes are no full-width space.
  const Text ah = "啊"_gbk;
  EXPECT_EQ(common::TrimRight(ah + "\xA1"), ah + "\xA1");
  EXPECT_EQ(common::RemoveSpaces(ah + "\xA1"), ah + "\xA1");
  EXPECT_EQ(common::TrimRight("x" + ah + kFullWidthSpace), "x" + ah);
}

struct BetweenCase {
  const char* name;
  Text text;
  Text startMarker;
  Text endMarker;
  int startPos;
  bool caseSensitive;
  Text expected;
};

TEST(TextBetweenTest, Markers) {
  const Text page = "<p>版本前2.0版本后</p>"_gbk;
  const std::vector<BetweenCase> cases = {
      {"version markers", page, "版本前"_gbk, "版本后"_gbk, 1, false, "2.0"},
      {"end marker missing", "<p>版本前2.0</p>"_gbk, "版本前"_gbk, "版本后"_gbk, 1, false, ""},
      {"start marker missing", "2.0版本后"_gbk, "版本前"_gbk, "版本后"_gbk, 1, false, ""},
      {"first start marker used", "[a][b]", "[", "]", 1, false, "a"},
      {"end marker before the start ignored", "]x[value]", "[", "]", 1, false, "value"},
      {"adjacent markers", "ab", "a", "b", 1, false, ""},
      {"start position skips the first pair", "[a][b]", "[", "]", 2, false, "b"},
      {"quote word in both markers", "<a href=\"http://x/y\">", "href=#引号"_gbk, "#引号"_gbk,
       1, false, "http://x/y"},
      {"case ignored by default", "set-cookie: id=1\r\n", "Set-Cookie:", "\r\n", 1, false,
       " id=1"},
      {"case-sensitive", "set-cookie: id=1\r\n", "Set-Cookie:", "\r\n", 1, true, ""},
      {"double-byte text between", "版本前中文版本后"_gbk, "版本前"_gbk, "版本后"_gbk, 1, false,
       "中文"_gbk},
      {"marker not matched inside a character", kBackslashTail + "\\v/", "\\", "/", 1, false,
       "v"},
      {"start marker at the very end", "abc[", "[", "]", 1, false, ""},
      {"empty text", "", "[", "]", 1, false, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(common::TextBetween(c.text, c.startMarker, c.endMarker, c.startPos,
                                  c.caseSensitive),
              c.expected)
        << c.name;
  }
}

TEST(TextHeaderTest, ValueAfterFirstColon) {
  const std::vector<std::pair<Text, Text>> cases = {
      {"Content-Length:  1234  ", "1234"},
      {"Location: http://host:8080/a", "http://host:8080/a"},
      {"Name:" + kFullWidthSpace + "值"_gbk + kFullWidthSpace, "值"_gbk},
      {"X-Empty:", ""},
      {"no colon here", ""},
      {"", ""},
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(common::HeaderValue(line), expected) << line;
  }
}

TEST(TextNumberTest, ToNumberReadsDecimalOnly) {
  const std::vector<std::pair<Text, double>> cases = {
      {"-597088775", -597088775.0},
      {"-597088775.0", -597088775.0},
      {" -597088775", -597088775.0},
      {"\t-597088775\r", -597088775.0},
      {"3697878521", 3697878521.0},
      {"abc", 0.0},
      {"", 0.0},
      {"-", 0.0},
      {".", 0.0},
      {"1e3x", 1000.0},
      {"1e", 1.0},
      {"1e+", 1.0},
      {"2.5E-1", 0.25},
      {".5", 0.5},
      {"5.", 5.0},
      {"+7", 7.0},
      {"0x10", 0.0},
      {"inf", 0.0},
      {"nan", 0.0},
      {"12,5", 12.0},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_DOUBLE_EQ(common::ToNumber(text), expected) << text;
  }
}

TEST(TextNumberTest, ToIntegerReadsLeadingDigits) {
  const std::vector<std::pair<Text, long long>> cases = {
      {"1234", 1234},
      {"-42abc", -42},
      {"+8", 8},
      {"12 34", 12},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {" 5", 0},
      {"3697878521", 3697878521LL},
      {"99999999999999999999", 9223372036854775807LL},
      {"-99999999999999999999", -9223372036854775807LL - 1},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(common::ToInteger(text), expected) << text;
  }
}

TEST(TextConversionTest, Utf8ToGbk) {
  struct Case {
    const char* name;
    std::string utf8;
    std::string gbk;
  };
  const std::vector<Case> cases = {
      {"Chinese text", "地下城与勇士", "\xB5\xD8\xCF\xC2\xB3\xC7\xD3\xEB\xD3\xC2\xCA\xBF"},
      {"ASCII", "version 2.0", "version 2.0"},
      {"empty", "", ""},
      {"euro sign is one byte", "\xE2\x82\xAC", "\x80"},
      {"full-width space", "\xE3\x80\x80", "\xA1\xA1"},
      {"stray byte", "a\xFF" "b", "a?b"},
      {"lone continuation byte", "a\x80" "b", "a?b"},
      {"truncated sequence", "\xE4\xB8" "a", "?a"},
      {"truncated at the end", "a\xE4\xB8", "a?"},
      {"over-long slash", "\xC0\xAF", "??"},
      {"character outside GBK", "a한b", "a?b"},
      {"character beyond U+FFFF", "a\xF0\x9F\x98\x80" "b", "a??b"},
      {"letter and combining mark composed", "e\u0301 u\u030C", "\xA8\xA6 \xA8\xB3"},
      {"mark without a composed letter", "x\u0301", "x?"},
      {"embedded zero keeps the length", std::string("ab\0中", 6), std::string("ab\0\0\0", 5)},
      {"zero first", std::string("\0中文", 7), std::string(5, '\0')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(common::Utf8ToGbk(c.utf8), c.gbk) << c.name;
  }
  EXPECT_EQ(common::Utf8ToGbkText(std::string("ab\0中", 6)), "ab");
}

TEST(TextConversionTest, GbkToUtf8) {
  struct Case {
    const char* name;
    std::string gbk;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {"Chinese text", "\xC6\xA4\xB7\xF4\xCD\xBC\xC6\xAC", "皮肤图片"},
      {"ASCII", "a\\b", "a\\b"},
      {"euro sign", "\x80", "\xE2\x82\xAC"},
      {"invalid single byte", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
      {"lead byte with a bad second byte", "\x81\x20" "b", "\xEF\xBF\xBD b"},
      {"lone lead byte at the end", "a\xB0", "a\xEF\xBF\xBD"},
      {"乗 stays one character", kBackslashTail, "乗"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(common::GbkToUtf8(c.gbk), c.utf8) << c.name;
  }
}

// Every double-byte code: a character GBK maps converts there and back unchanged, and the text
// functions never see an ASCII character inside it.
TEST(TextConversionTest, EveryDoubleByteCharacterRoundTrips) {
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;  // no second byte
      const Text gbk{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string utf8 = common::GbkToUtf8(gbk);
      if (utf8 == "\xEF\xBF\xBD") continue;  // unassigned code
      ASSERT_EQ(common::Utf8ToGbk(utf8), gbk) << lead << ' ' << trail;
      ASSERT_EQ(common::ToLower(gbk), gbk) << lead << ' ' << trail;
      ASSERT_EQ(common::ToUpper(gbk), gbk) << lead << ' ' << trail;
      if (trail >= 0x80) continue;
      const Text ascii(1, static_cast<char>(trail));
      ASSERT_EQ(common::Find(gbk, ascii, 1, true), -1) << lead << ' ' << trail;
      ASSERT_EQ(common::FindLast(gbk, ascii, true), -1) << lead << ' ' << trail;
      ASSERT_EQ(common::Split(gbk, ascii), std::vector<Text>{gbk}) << lead << ' ' << trail;
    }
  }
}

TEST(TextNonAsciiTest, CollectsCharactersOutsidePrintableAscii) {
  struct Case {
    const char* name;
    Text text;
    bool removeWhiteSpace;
    Text expected;
  };
  const std::vector<Case> cases = {
      {"printable ASCII name", "sprite_interface2 (v1.2) ~!@#$%^&*+=[]{};',.npk", false, ""},
      {"DEL is inside the range", "a\x7F" "b", false, ""},
      {"one Chinese character", "sprite_新.npk"_gbk, false, "新"_gbk},
      {"Chinese name", "新建 文件夹"_gbk, false, "新建文件夹"_gbk},
      {"tab", "a\tb.npk", false, "\t"},
      {"controls in order", "\r\na\x01" "b\x1F", false, "\r\n\x01\x1F"},
      {"tab dropped as white space", "a\tb", true, ""},
      {"white space dropped, others kept", "新\t\r\n\v\f建\x01"_gbk, true, "新建\x01"_gbk},
      {"full-width space", "a" + kFullWidthSpace + "b", false, kFullWidthSpace},
      {"full-width space dropped", "a" + kFullWidthSpace + "b", true, ""},
      {"euro sign", "\x80", false, "\x80"},
      {"乗 whole", "x" + kBackslashTail, false, kBackslashTail},
      {"empty", "", false, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(common::NonAsciiChars(c.text, c.removeWhiteSpace), c.expected) << c.name;
  }
}

TEST(TextLiteralTest, ConvertsOnEveryThread) {
  EXPECT_EQ("plain"_gbk, "plain");
  EXPECT_EQ("确认"_gbk, common::Utf8ToGbkText("确认"));
  // The second use of a literal gives the same bytes as the first.
  for (int i = 0; i < 2; ++i) EXPECT_EQ("皮肤图片"_gbk, "\xC6\xA4\xB7\xF4\xCD\xBC\xC6\xAC");

  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (std::size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < 200; ++i) {
        if ("已发现新版本"_gbk != common::Utf8ToGbkText("已发现新版本")) ++failures[t];
        if (common::GbkToUtf8("\xD6\xD0") != "中") ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const int f : failures) EXPECT_EQ(f, 0);
}

// Arbitrary bytes never break any operation: the conversions keep their size bounds, and
// splitting and replacing give back what they were given.
TEST(TextRobustnessTest, AnyBytes) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) {
    bytes.push_back(static_cast<char>(i));
    bytes.push_back(static_cast<char>(255 - i));
    bytes.push_back(static_cast<char>((i * 37) & 0xFF));
  }
  for (std::size_t offset = 0; offset < 3; ++offset) {
    for (std::size_t length = 0; offset + length <= bytes.size(); length += 5) {
      const std::string_view piece(bytes.data() + offset, length);
      EXPECT_LE(common::Utf8ToGbk(piece).size(), piece.size());
      EXPECT_LE(common::GbkToUtf8(piece).size(), piece.size() * 3);
      for (const Text separator : {"\\", "\x81", "\xA1\xA1", "\x5C\x81"}) {
        Text joined;
        for (const auto& item : common::Split(piece, separator)) joined += item + separator;
        EXPECT_TRUE(piece.empty() || common::StartsWith(joined, piece))
            << offset << ' ' << length;
        EXPECT_EQ(common::Replace(piece, separator, separator, true), piece);
      }
      common::Find(piece, "a", 2, true);
      common::FindLast(piece, "_", true);
      common::TextBetween(piece, "\x81", "\xFE");
      common::NonAsciiChars(piece, true);
      common::Trim(piece);
      common::RemoveSpaces(piece);
      common::ToLower(piece);
      common::ToNumber(piece);
      common::ToInteger(piece);
    }
  }
}

}  // namespace
