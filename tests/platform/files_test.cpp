// Directory search, file dates and file actions on real folders.
#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;
using common::Utf8ToGbkText;

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// Names in the folder, as the tests see it: every entry, native UTF-8.
std::set<std::string> NamesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A package folder as the game leaves it, with the traps of a scan:
//   ABC.NPK, b.npk, x.npknpk, _A_, noext, 地下城.npk (files)
//   link.npk -> ABC.NPK, dangling.npk -> nowhere, sub.npk/ (a folder), folder/ (a folder)
class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"ABC.NPK", "b.npk", "x.npknpk", "_A_", "noext", "地下城.npk"}) {
      support::WriteFile(dir_ / name, name);
    }
    fs::create_symlink("ABC.NPK", dir_ / "link.npk");
    fs::create_symlink("nowhere", dir_ / "dangling.npk");
    fs::create_directories(dir_ / "sub.npk");
    fs::create_directories(dir_ / "folder");
  }

  common::Text Pattern(const std::string& last) const {
    return dir_.Text() + "\\" + Utf8ToGbkText(last);
  }

  std::vector<std::string> Found(const std::string& last) const {
    std::vector<std::string> names;
    for (const common::Text& name : platform::FindEntries(Pattern(last))) {
      names.push_back(common::GbkToUtf8(name));
    }
    return Sorted(names);
  }

  support::TempDir dir_{"velmora-search"};
};

struct PatternCase {
  const char* label;
  const char* pattern;
  std::vector<std::string> expected;  // sorted, UTF-8
};

class FindEntriesTest : public SearchTest, public ::testing::WithParamInterface<PatternCase> {};

TEST_P(FindEntriesTest, MatchesWindowsWildcardsOnFilesOnly) {
  EXPECT_EQ(Found(GetParam().pattern), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FindEntriesTest,
    ::testing::Values(
        PatternCase{"packages", "*.npk", {"ABC.NPK", "b.npk", "link.npk", "地下城.npk"}},
        PatternCase{"upper_case_pattern", "*.NPK", {"ABC.NPK", "b.npk", "link.npk", "地下城.npk"}},
        PatternCase{"longer_extension_only", "*.npknpk", {"x.npknpk"}},
        PatternCase{"no_wildcard_is_one_name", "_a_", {"_A_"}},
        PatternCase{"no_wildcard_exact_case", "b.npk", {"b.npk"}},
        PatternCase{"question_mark_is_one_char", "?.npk", {"b.npk"}},
        PatternCase{"question_mark_inside", "a?c.npk", {"ABC.NPK"}},
        PatternCase{"question_mark_takes_a_chinese_char", "?下城.npk", {"地下城.npk"}},
        PatternCase{"question_mark_needs_a_char", "b.npk?", {}},
        PatternCase{"chinese_prefix", "地*", {"地下城.npk"}},
        PatternCase{"star", "*",
                    {"ABC.NPK", "_A_", "b.npk", "link.npk", "noext", "x.npknpk", "地下城.npk"}},
        PatternCase{"star_dot_star_takes_names_without_dot", "*.*",
                    {"ABC.NPK", "_A_", "b.npk", "link.npk", "noext", "x.npknpk", "地下城.npk"}},
        PatternCase{"two_stars", "*n*k*", {"ABC.NPK", "b.npk", "link.npk", "x.npknpk", "地下城.npk"}},
        PatternCase{"folder_name_is_no_file", "folder", {}},
        PatternCase{"nothing_matches", "*.txt", {}}),
    [](const ::testing::TestParamInfo<PatternCase>& info) { return info.param.label; });

TEST_F(SearchTest, KeepsTheOrderOfTheListing) {
  std::vector<common::Text> listed;  // what the folder listing gives, filtered like the search
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (entry.is_regular_file() && extension == ".npk") {
      listed.push_back(Utf8ToGbkText(entry.path().filename().string()));
    }
  }
  ASSERT_EQ(listed.size(), 4u);
  EXPECT_EQ(platform::FindEntries(Pattern("*.npk")), listed);
}

TEST_F(SearchTest, ListEntriesKeepsFoldersAndMarksThem) {
  std::vector<std::string> folders;
  std::vector<std::string> others;
  for (const platform::DirEntry& entry : platform::ListEntries(Pattern("*"))) {
    (entry.isFolder ? folders : others).push_back(common::GbkToUtf8(entry.name));
  }
  EXPECT_EQ(Sorted(folders), (std::vector<std::string>{"folder", "sub.npk"}));
  EXPECT_EQ(Sorted(others), (std::vector<std::string>{"ABC.NPK", "_A_", "b.npk", "dangling.npk",
                                                      "link.npk", "noext", "x.npknpk",
                                                      "地下城.npk"}));
}

TEST_F(SearchTest, FolderPartIsMappedLikeAnyPath) {
  support::WriteFile(dir_ / "Game/ImagePacks2/SPRITE.NPK", "s");
  const common::Text pattern = dir_.Text() + "\\game\\imagepacks2\\*.npk";
  EXPECT_EQ(platform::FindEntries(pattern), (std::vector<common::Text>{"SPRITE.NPK"}));
  EXPECT_EQ(platform::FindEntries(dir_.Text() + "/game/imagepacks2/*.npk"),
            (std::vector<common::Text>{"SPRITE.NPK"}));

  // Through a drive of the prefix.
  support::WinePrefix prefix;
  prefix.MapDrive('d', dir_.path() / "Game");
  EXPECT_EQ(platform::FindEntries("D:\\ImagePacks2\\*.npk"),
            (std::vector<common::Text>{"SPRITE.NPK"}));
  EXPECT_TRUE(platform::FindEntries("Q:\\ImagePacks2\\*.npk").empty());
}

TEST_F(SearchTest, RelativePatternSearchesTheCurrentFolder) {
  const fs::path previous = fs::current_path();
  fs::current_path(dir_.path());
  EXPECT_EQ(platform::FindEntries("*.npknpk"), (std::vector<common::Text>{"x.npknpk"}));
  EXPECT_EQ(platform::FindEntries("FOLDER\\..\\_a_"), (std::vector<common::Text>{"_A_"}));
  fs::current_path(previous);
}

TEST_F(SearchTest, NothingForMissingFoldersAndEmptyNames) {
  for (const common::Text& pattern :
       {Pattern("missing\\*.npk"), Pattern("ABC.NPK\\*"), Pattern("folder\\"), dir_.Text() + "\\",
        common::Text()}) {
    SCOPED_TRACE(pattern);
    EXPECT_TRUE(platform::FindEntries(pattern).empty());
    EXPECT_TRUE(platform::ListEntries(pattern).empty());
  }
}

TEST_F(SearchTest, NamesThatDoNotConvertAreHarmless) {
  support::WriteFile(dir_ / "bad\xff\xfe.npk", "bad");         // not UTF-8
  support::WriteFile(dir_ / "emoji\U0001F600.npk", "emoji");  // outside GBK
  const std::vector<common::Text> found = platform::FindEntries(Pattern("*.npk"));
  EXPECT_EQ(found.size(), 6u);
  EXPECT_NE(std::find(found.begin(), found.end(), "emoji??.npk"), found.end());
  for (const common::Text& name : found) {
    EXPECT_FALSE(platform::ModifiedDateText(dir_.Text() + "\\" + name).empty());
  }
}

// --- Dates ---

TEST_F(SearchTest, ModifiedDateTextOfFilesAndPatterns) {
  support::SetModifiedTime(dir_ / "ABC.NPK", 2013, 3, 15);
  support::SetModifiedTime(dir_ / "folder", 2009, 12, 31, 23, 59);
  support::SetModifiedTime(dir_ / "x.npknpk", 2020, 1, 2, 0, 1);
  using namespace common::literals;
  struct Case {
    common::Text path;
    common::Text expected;
  };
  const Case cases[] = {
      {Pattern("ABC.NPK"), "2013年3月15日"_gbk},
      {Pattern("abc.npk"), "2013年3月15日"_gbk},            // the list shows lower case
      {dir_.Text() + "\\\\abc.npk", "2013年3月15日"_gbk},   // doubled separator
      {Pattern("link.npk"), "2013年3月15日"_gbk},           // the link's file
      {Pattern("folder"), "2009年12月31日"_gbk},
      {Pattern("x.npknpk"), "2020年1月2日"_gbk},
      {Pattern("*.npknpk"), "2020年1月2日"_gbk},            // first match of a pattern
      {Pattern("a?c.npk"), "2013年3月15日"_gbk},
      {Pattern("missing.npk"), "100年1月1日"_gbk},
      {Pattern("*.txt"), "100年1月1日"_gbk},
      {Pattern("folder\\"), "100年1月1日"_gbk},
      {Pattern("missing\\abc.npk"), "100年1月1日"_gbk},
      {"", "100年1月1日"_gbk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(platform::ModifiedDateText(c.path), c.expected);
  }
}

TEST_F(SearchTest, DateOfAFileThatWentAwayIsTheMissingDate) {
  const std::vector<common::Text> names = platform::FindEntries(Pattern("b.npk"));
  ASSERT_EQ(names, (std::vector<common::Text>{"b.npk"}));
  fs::remove(dir_ / "b.npk");
  using namespace common::literals;
  EXPECT_EQ(platform::ModifiedDateText(Pattern("b.npk")), "100年1月1日"_gbk);
}

// --- File actions ---

class FileActionTest : public ::testing::Test {
 protected:
  common::Text At(const std::string& relative) const {
    return dir_.Text() + "\\" + Utf8ToGbkText(relative);
  }
  std::string Content(const std::string& relative) const {
    return support::ReadFile(dir_ / relative).value_or("<missing>");
  }
  support::TempDir dir_{"velmora-files"};
};

TEST_F(FileActionTest, ExistenceOfFilesAndFolders) {
  support::WriteFile(dir_ / "Data/File.TXT", "x");
  fs::create_symlink("Data/File.TXT", dir_ / "link");
  struct Case {
    const char* path;
    bool file;
    bool folder;
  };
  for (const Case& c : {Case{"Data\\File.TXT", true, false}, Case{"data\\file.txt", true, false},
                        Case{"link", true, false}, Case{"Data", false, true},
                        Case{"DATA\\", false, true}, Case{"Data\\none", false, false}}) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(platform::FileExists(At(c.path)), c.file);
    EXPECT_EQ(platform::FolderExists(At(c.path)), c.folder);
  }
  EXPECT_FALSE(platform::FileExists(""));
  EXPECT_FALSE(platform::FolderExists(""));
}

TEST_F(FileActionTest, WriteAndReadBytes) {
  const std::string bytes("line\r\n\0\xff end", 12);
  ASSERT_TRUE(platform::WriteFileBytes(At("地下城.txt"), bytes));
  EXPECT_EQ(Content("地下城.txt"), bytes);
  EXPECT_EQ(platform::ReadFileBytes(At("地下城.TXT")), bytes);

  // Replacing keeps the existing name (and its case) and leaves no temporary file behind.
  support::WriteFile(dir_ / "Notes.TXT", "old");
  ASSERT_TRUE(platform::WriteFileBytes(At("notes.txt"), "new"));
  EXPECT_EQ(Content("Notes.TXT"), "new");
  EXPECT_EQ(NamesIn(dir_.path()), (std::set<std::string>{"Notes.TXT", "地下城.txt"}));

  ASSERT_TRUE(platform::WriteFileBytes(At("empty"), ""));
  EXPECT_EQ(platform::ReadFileBytes(At("empty")), std::string());
}

TEST_F(FileActionTest, WriteAndReadFailures) {
  fs::create_directories(dir_ / "folder");
  EXPECT_FALSE(platform::WriteFileBytes(At("missing\\a.txt"), "x"));
  EXPECT_FALSE(platform::WriteFileBytes(At("folder"), "x"));
  EXPECT_FALSE(platform::WriteFileBytes("", "x"));
  EXPECT_EQ(platform::ReadFileBytes(At("missing.txt")), std::nullopt);
  EXPECT_EQ(platform::ReadFileBytes(At("folder")), std::nullopt);
  EXPECT_EQ(platform::ReadFileBytes(""), std::nullopt);
  EXPECT_EQ(NamesIn(dir_.path()), (std::set<std::string>{"folder"}));
}

TEST_F(FileActionTest, DeleteRemovesFilesOnly) {
  support::WriteFile(dir_ / "ABC.NPK", "x");
  support::WriteFile(dir_ / "folder/inner", "x");
  EXPECT_TRUE(platform::DeleteFileAt(At("abc.npk")));
  EXPECT_FALSE(fs::exists(dir_ / "ABC.NPK"));
  EXPECT_FALSE(platform::DeleteFileAt(At("abc.npk")));  // nothing left to remove
  EXPECT_FALSE(platform::DeleteFileAt(At("folder")));
  EXPECT_TRUE(fs::exists(dir_ / "folder/inner"));
  EXPECT_FALSE(platform::DeleteFileAt(""));
}

TEST_F(FileActionTest, CopyCreatesOrReplacesTheTarget) {
  support::WriteFile(dir_ / "src/ABC.NPK", "package");
  support::SetModifiedTime(dir_ / "src/ABC.NPK", 2013, 3, 15);
  fs::create_directories(dir_ / "desk");

  ASSERT_TRUE(platform::CopyFileReplacing(At("src\\abc.npk"), At("desk\\abc.npk")));
  EXPECT_EQ(Content("desk/abc.npk"), "package");
  EXPECT_EQ(Content("src/ABC.NPK"), "package");
  using namespace common::literals;
  EXPECT_EQ(platform::ModifiedDateText(At("desk\\abc.npk")), "2013年3月15日"_gbk);  // kept

  support::WriteFile(dir_ / "src/ABC.NPK", "newer package");
  ASSERT_TRUE(platform::CopyFileReplacing(At("src\\ABC.NPK"), At("desk\\ABC.NPK")));
  EXPECT_EQ(Content("desk/abc.npk"), "newer package");  // replaced under its own name
  EXPECT_EQ(NamesIn(dir_.path() / "desk"), (std::set<std::string>{"abc.npk"}));
}

TEST_F(FileActionTest, FailedCopyLeavesTheTargetAsItWas) {
  support::WriteFile(dir_ / "desk/abc.npk", "keep me");
  fs::create_directories(dir_ / "desk/folder.npk");
  fs::create_directories(dir_ / "srcdir");
  struct Case {
    const char* label;
    common::Text source;
    common::Text target;
  };
  const Case cases[] = {
      {"missing source", At("src\\none.npk"), At("desk\\abc.npk")},
      {"source is a folder", At("srcdir"), At("desk\\abc.npk")},
      // A file that fails to read after the copy has begun (reading address 0 of memory).
      {"read error midway", "\\proc\\self\\mem", At("desk\\abc.npk")},
      {"target is a folder", At("desk\\abc.npk"), At("desk\\folder.npk")},
      {"target folder missing", At("desk\\abc.npk"), At("nowhere\\abc.npk")},
      {"empty source", "", At("desk\\abc.npk")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_FALSE(platform::CopyFileReplacing(c.source, c.target));
    EXPECT_EQ(Content("desk/abc.npk"), "keep me");
    EXPECT_EQ(NamesIn(dir_.path() / "desk"), (std::set<std::string>{"abc.npk", "folder.npk"}));
  }
}

TEST_F(FileActionTest, MoveNeverReplaces) {
  support::WriteFile(dir_ / "src/ABC.NPK", "package");
  support::WriteFile(dir_ / "src/other.npk", "other");
  support::WriteFile(dir_ / "desk/Other.NPK", "already there");

  ASSERT_TRUE(platform::MoveFileNoReplace(At("src\\abc.npk"), At("desk\\abc.npk")));
  EXPECT_EQ(Content("desk/abc.npk"), "package");
  EXPECT_FALSE(fs::exists(dir_ / "src/ABC.NPK"));

  // The target exists (in another case): both files stay as they are.
  EXPECT_FALSE(platform::MoveFileNoReplace(At("src\\other.npk"), At("desk\\other.npk")));
  EXPECT_EQ(Content("src/other.npk"), "other");
  EXPECT_EQ(Content("desk/Other.NPK"), "already there");

  EXPECT_FALSE(platform::MoveFileNoReplace(At("src\\gone.npk"), At("desk\\gone.npk")));
  EXPECT_FALSE(platform::MoveFileNoReplace(At("src\\other.npk"), At("nowhere\\other.npk")));
  EXPECT_EQ(Content("src/other.npk"), "other");
  EXPECT_EQ(NamesIn(dir_.path() / "desk"), (std::set<std::string>{"Other.NPK", "abc.npk"}));
}

TEST_F(FileActionTest, MoveAcrossFileSystems) {
  // /dev/shm is a tmpfs on Linux; the fixture folder lives in /tmp.
  support::TempDir other("velmora-move", "/dev/shm");
  struct stat here {};
  struct stat there {};
  if (other.path().empty() || ::stat(dir_.path().c_str(), &here) != 0 ||
      ::stat(other.path().c_str(), &there) != 0 || here.st_dev == there.st_dev) {
    GTEST_SKIP() << "no second file system to move to";
  }
  support::WriteFile(dir_ / "ABC.NPK", "package");
  support::SetModifiedTime(dir_ / "ABC.NPK", 2013, 3, 15);
  support::WriteFile(other / "taken.npk", "taken");
  support::WriteFile(dir_ / "taken.npk", "mine");
  const common::Text there_text = other.Text();

  ASSERT_TRUE(platform::MoveFileNoReplace(At("abc.npk"), there_text + "\\abc.npk"));
  EXPECT_FALSE(fs::exists(dir_ / "ABC.NPK"));
  EXPECT_EQ(support::ReadFile(other / "abc.npk"), "package");
  using namespace common::literals;
  EXPECT_EQ(platform::ModifiedDateText(there_text + "\\abc.npk"), "2013年3月15日"_gbk);

  EXPECT_FALSE(platform::MoveFileNoReplace(At("taken.npk"), there_text + "\\taken.npk"));
  EXPECT_EQ(Content("taken.npk"), "mine");
  EXPECT_EQ(support::ReadFile(other / "taken.npk"), "taken");
  EXPECT_EQ(NamesIn(other.path()), (std::set<std::string>{"abc.npk", "taken.npk"}));
}

}  // namespace
