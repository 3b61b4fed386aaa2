// Registry values read from a user.reg that the tests write in Wine's format.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/support.h"

namespace {

using common::Utf8ToGbkText;
using support::RegEntry;
using support::RegExpandSz;
using support::RegSz;

// What Wine 8 writes for `wine reg add` of these two values.
constexpr const char kWineSample[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "[Software\\\\Tencent\\\\DNF] 1796990753\n"
    "#time=1dd8967f89faf42\n"
    "\"Path\"=\"D:\\\\Games\\\\\\x5730\\x4e0b\\x57ce\\\\Game\"\n"
    "\n"
    "[Software\\\\Tencent\\\\DNFTest] 1796990753\n"
    "#time=1dd8967f8c55cc4\n"
    "\"Path\"=str(2):\"%USERPROFILE%\\\\test\"\n";

TEST(RegistryTest, ReadsTheValuesWineWrites) {
  support::WinePrefix prefix;
  support::ScopedEnv profile("USERPROFILE", "C:\\users\\player");
  prefix.WriteRegistryRaw(kWineSample);
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNF\\Path"),
            Utf8ToGbkText("D:\\Games\\地下城\\Game"));
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNFTest\\Path"),
            "C:\\users\\player\\test");
}

struct ValueCase {
  const char* label;
  const char* fullName;  // UTF-8
  const char* expected;  // UTF-8
};

class RegistryValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(RegistryValueTest, GivesTheTextOfTheValue) {
  support::WinePrefix prefix;
  support::ScopedEnv known("VELMORA_GAME_ROOT", "/srv/games");
  support::ScopedEnv unknown("VELMORA_NOT_SET", std::nullopt);
  prefix.WriteRegistry({
      {"Software\\Tencent\\DNF", "Path", RegSz("D:\\Games\\地下城\\Game")},
      {"Software\\Tencent\\DNF", "Slashes", RegSz("D:/Games/Game")},
      {"Software\\Tencent\\DNF", "Expand", RegExpandSz("%VELMORA_GAME_ROOT%\\DNF")},
      {"Software\\Tencent\\DNF", "ExpandFolded", RegExpandSz("%velmora_game_root%\\DNF")},
      {"Software\\Tencent\\DNF", "ExpandUnknown", RegExpandSz("%VELMORA_NOT_SET%\\x")},
      {"Software\\Tencent\\DNF", "ExpandTwo",
       RegExpandSz("%VELMORA_NOT_SET%VELMORA_GAME_ROOT%\\y")},
      {"Software\\Tencent\\DNF", "Percent", RegSz("100%")},
      {"Software\\Tencent\\DNF", "Number", "dword:00000001"},
      {"Software\\Tencent\\DNF", "Binary", "hex:44,3a,5c"},
      {"Software\\Tencent\\DNF", "Multi", "str(7):\"a\\0b\\0\""},
      {"Software\\Tencent\\DNF", "Quoted", RegSz("say \"hi\"\tnow")},
      {"Software\\Tencent\\DNF", "Empty", RegSz("")},
      {"Software\\Tencent\\DNF", "Euro", RegSz("\u20ac5")},
      {"Software\\Tencent\\DNF", "Emoji", RegSz("a\U0001F600b")},
      {"Software\\Tencent\\DNF", "LoneSurrogate", "\"a\\xd800b\""},
      {"Software\\Tencent\\DNF", "ShortHex", "\"\\x41\\x4e0bZ\""},
      {"Software\\Tencent\\DNF", "Cut", "\"before\\0after\""},
      {"Software\\Tencent\\DNF", "Octal", "\"a\\101\\60b\""},
      {"Software\\Tencent\\DNF", "名字", RegSz("中文名")},
      {"Software\\Tencent\\DNF", "@", RegSz("default")},
      {"Software\\Tencent\\DNFTest", "Path", RegSz("E:\\Test")},
      {"Software\\Tencent\\DNF\\Sub", "Inner", RegSz("inner")},
      {"Software\\Tencent\\地下城", "Path", RegSz("F:\\地下城")},
  });
  EXPECT_EQ(platform::ReadRegistryText(Utf8ToGbkText(GetParam().fullName)),
            Utf8ToGbkText(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryValueTest,
    ::testing::Values(
        ValueCase{"sz_with_non_ascii", "Software\\Tencent\\DNF\\Path", "D:\\Games\\地下城\\Game"},
        ValueCase{"sz_as_stored", "Software\\Tencent\\DNF\\Slashes", "D:/Games/Game"},
        ValueCase{"key_and_name_ignore_case", "SOFTWARE\\tencent\\dnf\\pATH",
                  "D:\\Games\\地下城\\Game"},
        ValueCase{"other_key_same_name", "Software\\Tencent\\DNFTest\\Path", "E:\\Test"},
        ValueCase{"expand_sz", "Software\\Tencent\\DNF\\Expand", "/srv/games\\DNF"},
        ValueCase{"expand_name_ignores_case", "Software\\Tencent\\DNF\\ExpandFolded",
                  "/srv/games\\DNF"},
        ValueCase{"expand_unknown_stays", "Software\\Tencent\\DNF\\ExpandUnknown",
                  "%VELMORA_NOT_SET%\\x"},
        ValueCase{"expand_after_unknown", "Software\\Tencent\\DNF\\ExpandTwo",
                  "%VELMORA_NOT_SET/srv/games\\y"},
        ValueCase{"sz_is_not_expanded", "Software\\Tencent\\DNF\\Percent", "100%"},
        ValueCase{"dword_is_no_text", "Software\\Tencent\\DNF\\Number", ""},
        ValueCase{"hex_is_no_text", "Software\\Tencent\\DNF\\Binary", ""},
        ValueCase{"multi_sz_is_no_text", "Software\\Tencent\\DNF\\Multi", ""},
        ValueCase{"quote_and_tab_escapes", "Software\\Tencent\\DNF\\Quoted", "say \"hi\"\tnow"},
        ValueCase{"empty_value", "Software\\Tencent\\DNF\\Empty", ""},
        ValueCase{"euro_sign", "Software\\Tencent\\DNF\\Euro", "\u20ac5"},
        ValueCase{"surrogate_pair_outside_gbk", "Software\\Tencent\\DNF\\Emoji", "a??b"},  // one "?" per UTF-16 unit
        ValueCase{"lone_surrogate", "Software\\Tencent\\DNF\\LoneSurrogate", "a?b"},
        ValueCase{"hex_of_up_to_four_digits", "Software\\Tencent\\DNF\\ShortHex", "A下Z"},
        ValueCase{"text_ends_at_zero", "Software\\Tencent\\DNF\\Cut", "before"},
        ValueCase{"octal_escapes", "Software\\Tencent\\DNF\\Octal", "aA0b"},
        ValueCase{"non_ascii_value_name", "Software\\Tencent\\DNF\\名字", "中文名"},
        ValueCase{"non_ascii_key", "Software\\Tencent\\地下城\\Path", "F:\\地下城"},
        ValueCase{"default_value", "Software\\Tencent\\DNF\\", "default"},
        ValueCase{"value_of_sub_key_only", "Software\\Tencent\\DNF\\Inner", ""},
        ValueCase{"sub_key", "Software\\Tencent\\DNF\\Sub\\Inner", "inner"},
        ValueCase{"missing_value", "Software\\Tencent\\DNF\\Nothing", ""},
        ValueCase{"missing_key", "Software\\Tencent\\Other\\Path", ""},
        ValueCase{"parent_key", "Software\\Tencent\\Path", ""},
        ValueCase{"no_key_part", "Path", ""}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return info.param.label; });

TEST(RegistryTest, SkipsMalformedLines) {
  support::WinePrefix prefix;
  prefix.WriteRegistryRaw(
      "WINE REGISTRY Version 2\r\n"
      "\r\n"
      "[Software\\\\Broken 1796990753\r\n"
      "\"Path\"=\"C:\\\\in broken key\"\r\n"
      "[Software\\\\Tencent\\\\DNF] 1796990753\r\n"
      "\"Path\"=\"unterminated\r\n"
      "\"Path\" \"no equals\"\r\n"
      "garbage line\r\n"
      "\"Other\"=\"o\"\r\n"
      "\"Path\"=\"D:\\\\Game\"\r\n");
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNF\\Path"), "D:\\Game");
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNF\\Other"), "o");
  EXPECT_EQ(platform::ReadRegistryText("Software\\Broken\\Path"), "");
}

TEST(RegistryTest, NonTextValueIsEmptyOnlyForItsKey) {
  // A text type decides at the value's own line: a dword named Path gives an empty text even
  // when a later key holds a text value of that name.
  support::WinePrefix prefix;
  prefix.WriteRegistry({{"Software\\Tencent\\DNF", "Path", "dword:00000010"},
                        {"Software\\Tencent\\DNFTest", "Path", RegSz("E:\\Test")}});
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNF\\Path"), "");
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNFTest\\Path"), "E:\\Test");
}

TEST(RegistryTest, MissingOrForeignFileGivesEmptyTexts) {
  support::WinePrefix prefix;
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNF\\Path"), "");  // no user.reg

  prefix.WriteRegistryRaw(
      "REGEDIT4\n\n[Software\\\\Tencent\\\\DNF]\n\"Path\"=\"D:\\\\Game\"\n");
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNF\\Path"), "");

  prefix.WriteRegistryRaw("");
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNF\\Path"), "");
}

TEST(RegistryTest, PrefixDefaultsToWineInHome) {
  support::TempDir home("velmora-home");
  support::ScopedEnv homeVariable("HOME", home.path().string());
  support::ScopedEnv prefixVariable("WINEPREFIX", std::nullopt);
  support::WriteFile(home / ".wine" / "user.reg",
                     "WINE REGISTRY Version 2\n\n[Software\\\\Tencent\\\\DNF] 1\n"
                     "\"Path\"=\"C:\\\\Home Game\"\n");
  EXPECT_EQ(platform::ReadRegistryText("Software\\Tencent\\DNF\\Path"), "C:\\Home Game");
}

TEST(RegistryTest, EscapesOfTheFixtureAreWinesOwn) {
  // The fixture writer must produce what Wine writes, or the tests above prove nothing.
  EXPECT_EQ(support::RegSz("D:\\Games\\地下城\\Game"),
            "\"D:\\\\Games\\\\\\x5730\\x4e0b\\x57ce\\\\Game\"");
  EXPECT_EQ(support::RegExpandSz("%USERPROFILE%\\test"), "str(2):\"%USERPROFILE%\\\\test\"");
  EXPECT_EQ(support::RegEscape("\u00e9a\u00e9"), "\\x00e9a\\xe9");
}

}  // namespace
