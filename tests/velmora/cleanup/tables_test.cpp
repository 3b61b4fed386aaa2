// The enciphered name tables: cipher, marker test, loading rules and the two lookups, on table
// files written into a temporary folder.
#include "velmora/cleanup/tables.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace velmora {
namespace {

using namespace common::literals;
using common::Text;

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

// RC4 under some other key: a table that a different tool enciphered.
std::string Rc4OtherKey(const std::string& input, const std::string& key) {
  std::array<std::uint8_t, 256> s;
  for (int i = 0; i < 256; ++i) s[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (std::size_t i = 0; i < 256; ++i) {
    j = static_cast<std::uint8_t>(j + s[i] + static_cast<std::uint8_t>(key[i % key.size()]));
    std::swap(s[i], s[j]);
  }
  std::string out = input;
  std::uint8_t x = 0;
  std::uint8_t y = 0;
  for (char& c : out) {
    x = static_cast<std::uint8_t>(x + 1);
    y = static_cast<std::uint8_t>(y + s[x]);
    std::swap(s[x], s[y]);
    c = static_cast<char>(static_cast<std::uint8_t>(c) ^ s[static_cast<std::uint8_t>(s[x] + s[y])]);
  }
  return out;
}

class TablesTest : public ::testing::Test {
 protected:
  // Writes the bytes as a file of the temporary folder and returns its program path.
  Text File(const std::string& name, const std::string& bytes) {
    support::WriteFile(dir_ / name, bytes);
    return dir_.Text() + "\\" + name;
  }
  Text Table(const std::string& name, const std::string& plain) {
    return File(name, EncipherTable(plain));
  }
  Text Missing() const { return dir_.Text() + "\\absent.sjk"; }

  support::TempDir dir_{"velmora-tables"};
};

TEST_F(TablesTest, CipherIsPlainRc4UnderThePassPhraseWithNoByteDiscarded) {
  // Reference cipher text made with an independent RC4 (checked against openssl's rc4).
  EXPECT_EQ(Hex(EncipherTable("-597088775\r\nABC.NPK\r\n")),
            "38525dcad370ade1fb87225270e71af6be408180f3");
  EXPECT_EQ(EncipherTable(EncipherTable("round trip")), "round trip");
}

TEST_F(TablesTest, MarkerLine) {
  const struct {
    const char* line;
    bool accepted;
  } cases[] = {
      {"-597088775", true},
      {"-597088775.0", true},
      {" -597088775", true},
      {"\t-597088775", true},
      {"-5.97088775e8", true},
      {"-597088775 trailing", true},
      {"3697878521", false},
      {"-597088774", false},
      {"-597088775.01", false},
      {"597088775", false},
      {"", false},
      {"marker", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MarkerAccepted(c.line), c.accepted) << '"' << c.line << '"';
  }
}

TEST_F(TablesTest, LinesSplitOnCrLfUpToTheFirstZeroByte) {
  const struct {
    std::string plain;
    std::vector<Text> lines;
  } cases[] = {
      {"m\r\na.npk\r\n", {"m", "a.npk"}},                        // final CRLF adds no line
      {"m\r\na.npk\r\n\r\nb.npk", {"m", "a.npk", "", "b.npk"}},  // inner empty line stays
      {"m\r\na\nb\r\n", {"m", "a\nb"}},                          // a bare LF is no line end
      {std::string("m\r\na.npk\0\r\nb.npk", 16), {"m", "a.npk"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadTableLines(Table("lines.sjk", c.plain)), c.lines) << Hex(c.plain);
  }
  EXPECT_TRUE(ReadTableLines(Missing()).empty());
}

TEST_F(TablesTest, OfficialNameListMatchesWholeNamesIgnoringAsciiCase) {
  NameTables tables;
  tables.LoadOfficialNameList(Table(
      "list.sjk",
      "-597088775\r\nABC.NPK\r\n\r\nsprite_中文.npk\r\nabc(1).npk\r\n"_gbk + "\x81\x41.npk\r\n"));
  EXPECT_FALSE(tables.OfficialListEmpty());
  const struct {
    Text name;
    bool official;
  } cases[] = {
      {"abc.npk", true},
      {"ABC.npk", true},
      {"sprite_中文.npk"_gbk, true},
      {"SPRITE_中文.NPK"_gbk, true},
      {"abc(1).npk", true},
      {"abc", false},
      {"abc.npk ", false},
      {"xabc.npk", false},
      {"abc(2).npk", false},
      // 81 41 is one character: its second byte is no letter "A" to fold.
      {"\x81\x41.NPK", true},
      {"\x81\x61.npk", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tables.IsOfficialName(c.name), c.official) << common::GbkToUtf8(c.name);
  }
}

TEST_F(TablesTest, RefusedOrMissingTablesStayEmpty) {
  const std::string good = "-597088775\r\nabc.npk\r\n";
  const struct {
    const char* what;
    Text path;
  } cases[] = {
      {"unsigned marker", Table("wrap.sjk", "3697878521\r\nabc.npk\r\n")},
      {"other key", File("key.sjk", Rc4OtherKey(good, "another-pass-phrase!"))},
      {"not enciphered", File("plain.sjk", good)},
      {"empty file", File("empty.sjk", "")},
      {"marker only", Table("marker.sjk", "-597088775\r\n")},
      {"missing file", Missing()},
  };
  for (const auto& c : cases) {
    NameTables tables;
    tables.LoadOfficialNameList(c.path);
    tables.LoadNameCheckTable(c.path);
    EXPECT_TRUE(tables.OfficialListEmpty()) << c.what;
    EXPECT_FALSE(tables.IsOfficialName("abc.npk")) << c.what;
    EXPECT_FALSE(tables.CheckLabel("abc.npk")) << c.what;
  }
}

TEST_F(TablesTest, LoadingTheListAgainReplacesIt) {
  NameTables tables;
  tables.LoadOfficialNameList(Table("one.sjk", "-597088775\r\none.npk\r\n"));
  tables.LoadOfficialNameList(Table("two.sjk", "-597088775\r\ntwo.npk\r\n"));
  EXPECT_FALSE(tables.IsOfficialName("one.npk"));
  EXPECT_TRUE(tables.IsOfficialName("two.npk"));
  tables.LoadOfficialNameList(Missing());
  EXPECT_TRUE(tables.OfficialListEmpty());
}

TEST_F(TablesTest, CheckLabelsByLowerCaseKeyLastRowWins) {
  NameTables tables;
  tables.LoadNameCheckTable(Table("check.sjk",
                                  "-597088775\r\n"
                                  "ABC.NPK@@@First Label\r\n"
                                  "three.npk@@@Shown@@@ignored\r\n"
                                  "\r\n"
                                  "lonely.npk\r\n"
                                  "abc.npk@@@Later 标签\r\n"
                                  "Mixed.Npk@@@KeepS CaSe\r\n"
                                  "@@@no name\r\n"_gbk +
                                      "\x81@@@@after a wide character\r\n"));
  const struct {
    Text baseName;
    std::optional<Text> label;
  } cases[] = {
      {"abc.npk", "Later 标签"_gbk},  // duplicate key: the later row
      {"three.npk", "Shown"},         // a third field is ignored
      {"mixed.npk", "KeepS CaSe"},    // key lower-cased, label as stored
      {"Mixed.Npk", std::nullopt},    // lookups compare bytes
      {"lonely.npk", std::nullopt},   // a line without @@@ is skipped
      {"", "no name"},
      {"\x81@", "after a wide character"},  // 81 40 is one character, "@@@" only follows it
      {"\x81", std::nullopt},
      {"absent.npk", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tables.CheckLabel(c.baseName), c.label) << c.baseName;
  }
}

TEST_F(TablesTest, NameCheckTableAddsToWhatIsLoaded) {
  NameTables tables;
  tables.LoadNameCheckTable(Table("a.sjk", "-597088775\r\na.npk@@@A\r\nb.npk@@@B\r\n"));
  tables.LoadNameCheckTable(Table("b.sjk", "-597088775\r\nb.npk@@@B2\r\n"));
  tables.LoadNameCheckTable(Table("bad.sjk", "0\r\na.npk@@@refused\r\n"));
  EXPECT_EQ(tables.CheckLabel("a.npk"), Text("A"));
  EXPECT_EQ(tables.CheckLabel("b.npk"), Text("B2"));
}

TEST_F(TablesTest, LongLoadsLetTheWindowHandleItsMessages) {
  std::string list = "-597088775\r\n";
  std::string check = "-597088775\r\n";
  for (int i = 0; i < 2000; ++i) {
    list += "name" + std::to_string(i) + ".npk\r\n";
    check += "name" + std::to_string(i) + ".npk@@@label\r\n";
  }
  NameTables tables;
  int pumps = 0;
  tables.LoadOfficialNameList(Table("list.sjk", list), [&] { ++pumps; });
  EXPECT_GT(pumps, 0);
  pumps = 0;
  tables.LoadNameCheckTable(Table("check.sjk", check), [&] { ++pumps; });
  EXPECT_GT(pumps, 0);
  EXPECT_TRUE(tables.IsOfficialName("name1999.npk"));
  EXPECT_EQ(tables.CheckLabel("name0.npk"), Text("label"));
}

TEST_F(TablesTest, CopiesOutliveTheTablesTheyWereMadeFrom) {
  std::optional<NameTables> original(std::in_place);
  original->LoadOfficialNameList(Table("list.sjk", "-597088775\r\nShort.npk\r\n"));
  original->LoadNameCheckTable(Table("check.sjk", "-597088775\r\nk@@@v\r\n"));
  const NameTables copy = *original;
  const NameTables moved = std::move(*original);
  original.reset();
  for (const NameTables* tables : {&copy, &moved}) {
    EXPECT_TRUE(tables->IsOfficialName("short.npk"));
    EXPECT_EQ(tables->CheckLabel("k"), Text("v"));
  }
}

TEST_F(TablesTest, DefaultPlacesInTheDataFolder) {
  EXPECT_EQ(NameCheckTablePath(), "皮肤图片\\数据核对.sjk"_gbk);
  EXPECT_EQ(OfficialNameListPath(), "皮肤图片\\数据列表.sjk"_gbk);
}

TEST_F(TablesTest, PlainTextOfATableReadsBack) {
  const std::vector<Text> entries = {"a.npk@@@标签"_gbk, "", "B.NPK"};
  const std::vector<Text> lines = ReadTableLines(Table("made.sjk", TablePlainText(entries)));
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(MarkerAccepted(lines.front()));
  EXPECT_EQ(std::vector<Text>(lines.begin() + 1, lines.end()), entries);
}

}  // namespace
}  // namespace velmora
