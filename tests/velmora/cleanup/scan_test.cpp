// The package scan and the cross-server scan on real folders, with tables enciphered here.
#include "velmora/cleanup/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/support.h"

namespace velmora {
namespace {

using namespace common::literals;
using common::Text;
namespace fs = std::filesystem;

std::vector<Text> Names(const std::vector<PackageRow>& rows) {
  std::vector<Text> names;
  for (const PackageRow& row : rows) names.push_back(row.name);
  return names;
}

std::vector<Text> Sorted(std::vector<Text> names) {
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<PackageRow> SortedRows(std::vector<PackageRow> rows) {
  std::sort(rows.begin(), rows.end(),
            [](const PackageRow& a, const PackageRow& b) { return a.name < b.name; });
  return rows;
}

// Names in GBK from UTF-8 literals, for readable expectations.
std::vector<Text> Gbk(std::initializer_list<const char*> utf8) {
  std::vector<Text> names;
  for (const char* name : utf8) names.push_back(common::Utf8ToGbkText(name));
  return names;
}

class ScanTest : public ::testing::Test {
 protected:
  ScanTest() { fs::create_directories(game()); }

  fs::path game() const { return dir_ / "game"; }
  // The path box text of the game folder.
  Text Folder() const { return dir_.Text() + "\\game"; }

  // A package in the game folder (UTF-8 name) changed on the given day.
  void Package(const std::string& name, int year = 2020, int month = 1, int day = 2) {
    support::WriteFile(game() / name, "NPK");
    support::SetModifiedTime(game() / name, year, month, day);
  }

  // Loads tables whose entries are UTF-8 lines.
  void Tables(const std::vector<std::string>& official, const std::vector<std::string>& check) {
    auto write = [&](const std::string& file, const std::vector<std::string>& entries) {
      std::vector<Text> gbk;
      for (const std::string& entry : entries) gbk.push_back(common::Utf8ToGbkText(entry));
      support::WriteFile(dir_ / file, EncipherTable(TablePlainText(gbk)));
      return dir_.Text() + "\\" + file;
    };
    tables_.LoadOfficialNameList(write("list.sjk", official));
    tables_.LoadNameCheckTable(write("check.sjk", check));
  }

  support::TempDir dir_{"velmora-scan"};
  NameTables tables_;
};

TEST_F(ScanTest, PackageScanListsWhatTheOfficialListLacks) {
  Package("ABC.NPK");                  // official as abc.npk
  Package("abc(1).npk", 2013, 3, 15);  // the official test uses the whole name
  Package("Mod(2).NPK", 2020, 12, 1);
  Package("中文.npk", 1999, 1, 31);
  Package("Other.Npk");
  Package("x.npknpk");
  Package("_a_");
  Package("readme.txt");
  fs::create_directories(game() / "folder.npk");
  Tables({"abc.npk", "OTHER.NPK"}, {"abc.npk@@@ABC 标签", "mod.npk@@@Mod label"});

  const ScanResult result = RunPackageScan(Folder(), tables_);
  EXPECT_FALSE(result.officialListMissing);
  const std::vector<PackageRow> expected = {
      {"abc(1).npk", "ABC 标签"_gbk, "2013年3月15日"_gbk},
      {"mod(2).npk", "Mod label", "2020年12月1日"_gbk},
      {"中文.npk"_gbk, " 未能分析文件"_gbk, "1999年1月31日"_gbk},
  };
  EXPECT_EQ(SortedRows(result.rows), expected);
}

TEST_F(ScanTest, RowsFollowTheOrderOfTheFolderListing) {
  for (const char* name : {"d.npk", "B.NPK", "a.npk", "c.Npk", "e.npk", "f(1).npk"}) {
    Package(name);
  }
  Tables({"c.npk"}, {});
  const std::vector<Text> listing = ListFolderPackages(Folder());
  EXPECT_EQ(Sorted(listing), Gbk({"a.npk", "b.npk", "c.npk", "d.npk", "e.npk", "f(1).npk"}));
  std::vector<Text> unofficial;
  std::copy_if(listing.begin(), listing.end(), std::back_inserter(unofficial),
               [](const Text& name) { return name != "c.npk"; });
  EXPECT_EQ(Names(RunPackageScan(Folder(), tables_).rows), unofficial);
}

TEST_F(ScanTest, EmptyOfficialListListsNothingButTheCrossServerScanStillWorks) {
  Package("sprite_a.npk");
  Package("中文.npk");
  Tables({}, {"中文.npk@@@标签"});
  ASSERT_TRUE(tables_.OfficialListEmpty());

  const ScanResult package = RunPackageScan(Folder(), tables_);
  EXPECT_TRUE(package.officialListMissing);
  EXPECT_TRUE(package.rows.empty());

  const ScanResult cross = RunCrossServerScan(Folder(), tables_);
  EXPECT_FALSE(cross.officialListMissing);
  EXPECT_EQ(Names(cross.rows), Gbk({"中文.npk"}));
  EXPECT_EQ(cross.rows.front().label, "标签"_gbk);
}

TEST_F(ScanTest, CrossServerScanPicksByNameAlone) {
  for (const char* name :
       {"中文.npk", "abc(1).npk", "plain.npk", "中文(2).npk", "x.npknpk", "Y.NPKNPK", "_a_",
        "official(1).npk", "tab\there.npk", "_a_.npk", "notes.txt"}) {
    Package(name);
  }
  fs::create_directories(game() / "sub(1).npk");
  Tables({"official(1).npk", "plain.npk"}, {"中文.npk@@@中文标签", "abc.npk@@@ABC"});

  const ScanResult result = RunCrossServerScan(Folder(), tables_);
  const std::vector<Text> names = Names(result.rows);
  // "中文(2).npk" is picked twice (wide characters and "(") and listed once.
  EXPECT_EQ(Sorted(names), Sorted(Gbk({"中文.npk", "abc(1).npk", "中文(2).npk", "official(1).npk",
                                       "tab\there.npk", "x.npknpk", "y.npknpk", "_a_"})));
  // The folder listing's picks come first, then the *.npknpk files, then _a_.
  ASSERT_EQ(names.size(), 8u);
  EXPECT_EQ(Sorted({names[5], names[6]}), Gbk({"x.npknpk", "y.npknpk"}));
  EXPECT_EQ(names[7], "_a_");

  for (const PackageRow& row : result.rows) {
    if (row.name == "中文(2).npk"_gbk || row.name == "中文.npk"_gbk) {
      EXPECT_EQ(row.label, "中文标签"_gbk) << common::GbkToUtf8(row.name);
    } else if (row.name == "abc(1).npk") {
      EXPECT_EQ(row.label, "ABC");
    } else {
      EXPECT_EQ(row.label, NoLabelText()) << common::GbkToUtf8(row.name);
    }
    EXPECT_EQ(row.date, "2020年1月2日"_gbk) << common::GbkToUtf8(row.name);
  }
}

TEST_F(ScanTest, ScansAreRepeatableAndIgnoreATrailingSeparator) {
  for (const char* name : {"中文.npk", "a(1).npk", "中(1).npk", "b.npk", "x.npknpk", "_a_"}) {
    Package(name);
  }
  Tables({"b.npk"}, {"a.npk@@@A"});
  const ScanResult firstCross = RunCrossServerScan(Folder(), tables_);
  const ScanResult firstPackage = RunPackageScan(Folder(), tables_);
  ASSERT_FALSE(firstCross.rows.empty());
  ASSERT_FALSE(firstPackage.rows.empty());
  for (const Text& folder : {Folder(), Folder() + "\\", Folder() + "/"}) {
    EXPECT_EQ(RunCrossServerScan(folder, tables_).rows, firstCross.rows) << folder;
    EXPECT_EQ(RunPackageScan(folder, tables_).rows, firstPackage.rows) << folder;
  }
}

TEST_F(ScanTest, EmptyOrMissingFolderGivesNoRows) {
  Package("中文.npk");
  Tables({"other.npk"}, {});
  const fs::path keep = fs::current_path();
  fs::current_path(game());  // an empty path box must not scan the current directory
  for (const Text& folder :
       {Text(), dir_.Text() + "\\absent", dir_.Text() + "\\game\\中文.npk"_gbk}) {
    std::vector<double> progress;
    EXPECT_TRUE(RunPackageScan(folder, tables_).rows.empty()) << folder;
    EXPECT_TRUE(
        RunCrossServerScan(folder, tables_, [&](double p) { progress.push_back(p); }).rows.empty())
        << folder;
    EXPECT_TRUE(progress.empty()) << folder;
    EXPECT_TRUE(ListFolderPackages(folder).empty()) << folder;
  }
  fs::current_path(keep);
}

TEST_F(ScanTest, ProgressInPercentPerListedNameThenPerCandidate) {
  for (const char* name : {"a(1).npk", "b.npk", "c.npk", "d.npk", "x.npknpk"}) Package(name);
  Tables({"b.npk"}, {});
  std::vector<double> progress;
  RunCrossServerScan(Folder(), tables_, [&](double p) { progress.push_back(p); });
  // Four names in the folder listing, then two candidates: a(1).npk and x.npknpk.
  EXPECT_EQ(progress, (std::vector<double>{25, 50, 75, 100, 50, 100}));
}

TEST_F(ScanTest, FileThatVanishesBeforeItsRowIsMadeIsDatedYear100) {
  for (const char* name : {"one(1).npk", "two(1).npk", "three(1).npk"}) Package(name, 2011, 5, 6);
  Tables({"other.npk"}, {});
  const auto removeAll = [&] {
    for (const char* name : {"one(1).npk", "two(1).npk", "three(1).npk"}) {
      fs::remove(game() / name);
    }
  };
  // The package scan makes each row before it hands over to the window, which removes the files.
  const ScanResult package = RunPackageScan(Folder(), tables_, removeAll);
  ASSERT_EQ(package.rows.size(), 3u);
  EXPECT_EQ(package.rows[0].date, "2011年5月6日"_gbk);
  EXPECT_EQ(package.rows[1].date, "100年1月1日"_gbk);
  EXPECT_EQ(package.rows[2].date, "100年1月1日"_gbk);

  for (const char* name : {"one(1).npk", "two(1).npk", "three(1).npk"}) Package(name, 2011, 5, 6);
  // The cross-server scan makes its rows after the whole listing was looked at.
  const ScanResult cross = RunCrossServerScan(Folder(), tables_, {}, removeAll);
  ASSERT_EQ(cross.rows.size(), 3u);
  for (const PackageRow& row : cross.rows) EXPECT_EQ(row.date, "100年1月1日"_gbk) << row.name;
}

TEST_F(ScanTest, BaseNames) {
  const struct {
    const char* name;
    const char* base;
  } cases[] = {
      {"a(1)(2).npk", "a(2).npk"}, {"abc().npk", "abc.npk"},  {"abc.npk", "abc.npk"},
      {"ab(b).npk", "a.npk"},      {"abc(1).npk", "abc.npk"}, {"x(1)1.npk", "x.npk"},
      {"a(B)b.npk", "a.npk"},      {"a(1.npk", "a(1.npk"},    {"a)1(.npk", "a)1(.npk"},
      {"中文(2).npk", "中文.npk"}, {"(x).npk", ".npk"},       {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BaseName(common::Utf8ToGbkText(c.name)), common::Utf8ToGbkText(c.base)) << c.name;
  }
}

// The duplicate pass exactly as the list control runs it: for i from 2 to the first row count,
// take column 1 of row i - 1 and delete the first row at i or later with the same text.
std::vector<Text> StepwisePass(std::vector<Text> rows) {
  const std::size_t count = rows.size();
  for (std::size_t i = 2; i <= count; ++i) {
    if (i - 1 > rows.size()) continue;
    const Text wanted = rows[i - 2];
    for (std::size_t j = i; j <= rows.size(); ++j) {
      if (rows[j - 1] == wanted) {
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(j - 1));
        break;
      }
    }
  }
  return rows;
}

std::vector<Text> FastPass(const std::vector<Text>& names) {
  std::vector<PackageRow> rows;
  for (const Text& name : names) rows.push_back({name, "label " + name, "date"});
  RemoveRepeatedRows(rows);
  for (const PackageRow& row : rows) EXPECT_EQ(row.label, "label " + row.name);
  return Names(rows);
}

TEST_F(ScanTest, DuplicatePass) {
  const struct {
    std::vector<Text> rows;
    std::vector<Text> kept;
  } cases[] = {
      {{}, {}},
      {{"a"}, {"a"}},
      {{"a", "a"}, {"a"}},
      {{"a", "a", "a"}, {"a", "a"}},  // one copy per step
      {{"a", "a", "a", "a"}, {"a", "a"}},
      {{"a", "b", "a"}, {"a", "b"}},  // the later copy need not be adjacent
      {{"a", "b", "b", "a"}, {"a", "b"}},
      {{"b", "a", "a", "b", "a"}, {"b", "a", "a"}},
      {{"a", "A"}, {"a", "A"}},  // byte equality
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FastPass(c.rows), c.kept);
    EXPECT_EQ(StepwisePass(c.rows), c.kept);
  }
  std::mt19937 random(20260611);
  for (int round = 0; round < 2000; ++round) {
    std::vector<Text> rows(random() % 14);
    for (Text& row : rows) row = Text(1, static_cast<char>('a' + random() % 4));
    ASSERT_EQ(FastPass(rows), StepwisePass(rows)) << ::testing::PrintToString(rows);
  }
}

// Both scans read the folder once and answer every date from that listing. They must give the
// rows that looking each package up on its own gives.
TEST_F(ScanTest, ScansAgreeWithLookingUpEachPackage) {
  int day = 1;
  for (const char* name :
       {"Dup.npk", "dup.NPK", "UPPER.NPK", "中文(1).NPK", "中文.npk", "a(b)(c).Npk", "plain.npk",
        "Mixed.NpkNpk", "_a_", "x(1)y(1).npk", "其他 文件.npk"}) {
    Package(name, 2015, 6, day++);
  }
  Tables({"plain.npk"}, {"dup.npk@@@D", "中文.npk@@@中", "ay(1).npk@@@ay", "a(c).npk@@@ac"});
  const Text folder = Folder();

  std::vector<PackageRow> package;
  for (const Text& name : platform::FindEntries(folder + "\\*.npk")) {
    if (!tables_.IsOfficialName(common::ToLower(name))) {
      package.push_back(MakePackageRow(folder, name, tables_));
    }
  }
  EXPECT_EQ(RunPackageScan(folder, tables_).rows, package);

  std::vector<Text> picked;
  for (const Text& name : platform::FindEntries(folder + "\\*.npk")) {
    const Text lower = common::ToLower(name);
    if (!common::NonAsciiChars(lower).empty()) picked.push_back(lower);
    if (common::Contains(lower, "(")) picked.push_back(lower);
  }
  for (const char* pattern : {"\\*.npknpk", "\\_a_"}) {
    for (const Text& name : platform::FindEntries(folder + pattern)) picked.push_back(name);
  }
  std::vector<PackageRow> cross;
  for (const Text& name : StepwisePass(picked)) {
    cross.push_back(MakePackageRow(folder, name, tables_));
  }
  EXPECT_EQ(RunCrossServerScan(folder, tables_).rows, cross);
}

TEST_F(ScanTest, RowOfOnePackage) {
  Package("Mod(3).NPK", 2014, 2, 28);
  Tables({}, {"mod.npk@@@模型"});
  EXPECT_EQ(MakePackageRow(Folder(), "Mod(3).NPK", tables_),
            (PackageRow{"mod(3).npk", "模型"_gbk, "2014年2月28日"_gbk}));
  EXPECT_EQ(MakePackageRow(Folder(), "gone.npk", tables_),
            (PackageRow{"gone.npk", NoLabelText(), "100年1月1日"_gbk}));
}

TEST_F(ScanTest, TextsAroundTheScan) {
  EXPECT_EQ(ScanReportText(12),
            "                 成功搜索到：12个非官方文件\r\n"
            "       现已支持模型文件逐个清理、清理全部模型文件更省事！"_gbk);
  EXPECT_EQ(ScanReportText(0),
            "                 成功搜索到：0个非官方文件\r\n"
            "       现已支持模型文件逐个清理、清理全部模型文件更省事！"_gbk);
  EXPECT_EQ(OfficialListFailedText(), "官方文件列表加载失败,无法分析非官方文件！"_gbk);
  EXPECT_EQ(ReportTitle(), "Nivra提示："_gbk);
  EXPECT_EQ(NoLabelText(), " 未能分析文件"_gbk);
}

}  // namespace
}  // namespace velmora
