// One listing of a folder per scan: wildcard matches and dates from the listed entries.
#include "platform/folder_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/files.h"
#include "tests/support/support.h"

namespace platform {
namespace {

using namespace common::literals;
using common::Text;
namespace fs = std::filesystem;

TEST(FolderScanTest, WildcardMatching) {
  const struct {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.npk", "a.npk", true},       {"*.npk", "A.NPK", true},      {"*.npk", "x.npknpk", false},
      {"*.npknpk", "X.NPKNPK", true}, {"*.npk", ".npk", true},       {"*.npk", "a.b.npk", true},
      {"*.npk", "a.npk.bak", false},  {"_a_", "_A_", true},          {"_a_", "_a_.npk", false},
      {"_a_", "x_a_", false},         {"?.npk", "中.npk", true},     {"??.npk", "中.npk", false},
      {"*", "anything", true},        {"*.*", "no-dot", true},       {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXbY", false},       {"中*.npk", "中文.npk", true}, {"*文.npk", "中文.npk", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesWildcard(common::Utf8ToGbkText(c.pattern), common::Utf8ToGbkText(c.name)),
              c.match)
        << c.pattern << " " << c.name;
  }
  // Only single-byte letters fold: 0x81 0x41 and 0x81 0x61 are two different characters.
  EXPECT_FALSE(MatchesWildcard("\x81\x41.npk", "\x81\x61.npk"));
  EXPECT_TRUE(MatchesWildcard("\x81\x41.npk", "\x81\x41.NPK"));
}

TEST(FolderScanTest, FindsRegularFilesInListingOrder) {
  support::TempDir dir("velmora-folder");
  for (const char* name : {"b.NPK", "中文.npk", "a.npk", "c.txt", "x.npknpk"}) {
    support::WriteFile(dir / name, "x");
  }
  fs::create_directories(dir / "folder.npk");
  fs::create_symlink(dir / "a.npk", dir / "link.npk");
  fs::create_symlink(dir / "absent", dir / "dangling.npk");

  const FolderScan scan(dir.Text());
  std::vector<Text> found = scan.Find("*.npk");
  std::vector<Text> expected = {"a.npk", "b.NPK", "link.npk", "中文.npk"_gbk};
  std::vector<Text> sorted = found;
  std::sort(sorted.begin(), sorted.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted, expected);
  // Same order as the platform's own directory search.
  EXPECT_EQ(found, FindEntries(dir.Text() + "\\*.npk"));
  EXPECT_TRUE(FolderScan(dir.Text() + "\\absent").Find("*").empty());
  EXPECT_TRUE(FolderScan(Text()).Find("*").empty());
}

TEST(FolderScanTest, DatesResolveNamesLikeThePathLookup) {
  support::TempDir dir("velmora-folder");
  support::WriteFile(dir / "Mixed.NPK", "x");
  support::SetModifiedTime(dir / "Mixed.NPK", 2013, 3, 15);
  support::WriteFile(dir / "Dup.npk", "x");
  support::SetModifiedTime(dir / "Dup.npk", 2001, 1, 1);
  support::WriteFile(dir / "dup.npk", "x");
  support::SetModifiedTime(dir / "dup.npk", 2002, 2, 2);
  support::WriteFile(dir / "中文.npk", "x");
  support::SetModifiedTime(dir / "中文.npk", 2024, 12, 31);

  const FolderScan scan(dir.Text() + "\\");
  const struct {
    Text name;
    Text date;
  } cases[] = {
      {"mixed.npk", "2013年3月15日"_gbk}, {"MIXED.npk", "2013年3月15日"_gbk},
      {"dup.npk", "2002年2月2日"_gbk},  // the exact name before one that differs in case
      {"Dup.npk", "2001年1月1日"_gbk},    {"中文.npk"_gbk, "2024年12月31日"_gbk},
      {"absent.npk", "100年1月1日"_gbk},  {"", "100年1月1日"_gbk},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scan.ModifiedDateText(c.name), c.date) << c.name;
    if (!c.name.empty()) {
      EXPECT_EQ(ModifiedDateText(dir.Text() + "\\" + c.name), c.date) << c.name;
    }
  }
  fs::remove(dir / "Mixed.NPK");  // gone after the listing
  EXPECT_EQ(scan.ModifiedDateText("mixed.npk"), "100年1月1日"_gbk);
}

TEST(FolderScanTest, DateText) {
  EXPECT_EQ(DateText(2013, 3, 15), "2013年3月15日"_gbk);
  EXPECT_EQ(MissingFileDateText(), "100年1月1日"_gbk);
}

}  // namespace
}  // namespace platform
