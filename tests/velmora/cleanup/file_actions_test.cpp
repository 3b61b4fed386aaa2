// The file side of the cleanup window's actions, on real files in temporary folders.
#include "velmora/cleanup/file_actions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tests/support/support.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using common::Text;
using namespace common::literals;

TEST(ServerFolderTest, RegistryTextBecomesTheImagePacksFolder) {
  struct Case {
    Text registry;
    Text folder;
  };
  const std::vector<Case> cases = {
      {"D:\\Games\\Game", "D:\\Games\\Game\\ImagePacks2"},
      {"D:/Games/Game", "D:\\Games\\Game\\ImagePacks2"},
      {"D:/Games\\地下城/Game"_gbk, "D:\\Games\\地下城\\Game\\ImagePacks2"_gbk},
      {"", "\\ImagePacks2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ServerPackageFolder(c.registry), c.folder) << c.registry;
  }
}

TEST(PackagePathTest, FolderAndDesktopPaths) {
  EXPECT_EQ(PackagePath("D:\\Game\\ImagePacks2", "a.npk"), "D:\\Game\\ImagePacks2\\a.npk");
  EXPECT_EQ(PackagePath("D:\\Game\\ImagePacks2\\", "a.npk"), "D:\\Game\\ImagePacks2\\\\a.npk");
  // The desktop folder gets its final separator, then the row's separator: doubled.
  EXPECT_EQ(DesktopPackagePath("\\home\\u\\Desktop", "a.npk"), "\\home\\u\\Desktop\\\\a.npk");
  EXPECT_EQ(DesktopPackagePath("\\home\\u\\Desktop\\", "a.npk"), "\\home\\u\\Desktop\\\\a.npk");
  // Without a desktop folder or a package folder there is no path at all (never the root
  // folder), and nothing acts on it.
  EXPECT_EQ(DesktopPackagePath("", "a.npk"), "");
  EXPECT_EQ(PackagePath("", "a.npk"), "");
  EXPECT_EQ(DeletePackageFile(""), DeleteOutcome::Failed);
  EXPECT_FALSE(CopyPackage("", "\\tmp\\a.npk"));
  const MoveOutcome move = MovePackage("", "\\tmp\\a.npk");
  EXPECT_FALSE(move.placed);
  EXPECT_FALSE(move.leftFolder);
}

TEST(PackagePathTest, DesktopOfTheUserIsTheXdgDesktop) {
  support::ScopedHome home;
  const Text target = DesktopPackagePath("a.npk");
  EXPECT_EQ(platform::NativePath(target), home.desktop() / "a.npk");
}

class FolderTest : public ::testing::Test {
 protected:
  support::TempDir dir_{"velmora-actions"};
  Text Folder() const { return dir_.Text(); }
  void Put(const std::string& name, const std::string& bytes) { support::WriteFile(dir_ / name, bytes); }
  bool Has(const std::string& name) const { return fs::exists(dir_ / name); }
};

TEST_F(FolderTest, DeleteOutcomes) {
  Put("a.npk", "A");
  Put("UPPER.NPK", "U");
  fs::create_directory(dir_ / "folder.npk");
  struct Case {
    Text name;
    DeleteOutcome outcome;
    bool rowGoes;
  };
  const std::vector<Case> cases = {
      {"a.npk", DeleteOutcome::Deleted, true},
      {"upper.npk", DeleteOutcome::Deleted, true},  // listed in lower case, on disk in capitals
      {"missing.npk", DeleteOutcome::AlreadyGone, true},
      {"folder.npk", DeleteOutcome::Failed, false},  // a folder is never deleted as a package
  };
  // A file that even root cannot remove: entries of /proc refuse to be unlinked.
  EXPECT_EQ(DeletePackageFile("\\proc\\self\\comm"), DeleteOutcome::Failed);
  for (const Case& c : cases) {
    const DeleteOutcome outcome = DeletePackageFile(PackagePath(Folder(), c.name));
    EXPECT_EQ(outcome, c.outcome) << c.name;
    EXPECT_EQ(RowGoes(outcome), c.rowGoes) << c.name;
  }
  EXPECT_FALSE(Has("a.npk"));
  EXPECT_FALSE(Has("UPPER.NPK"));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder.npk"));
}

TEST_F(FolderTest, FileInReadOnlyFolderIsKeptAndReportedFailed) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  Put("stuck.npk", "S");
  Put("other.npk", "O");
  fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
  const std::vector<DeleteOutcome> outcomes =
      DeletePackageFiles(Folder(), {"stuck.npk", "gone.npk", "other.npk"});
  fs::permissions(dir_.path(), fs::perms::owner_all);
  EXPECT_EQ(outcomes, (std::vector<DeleteOutcome>{DeleteOutcome::Failed, DeleteOutcome::AlreadyGone,
                                                  DeleteOutcome::Failed}));
  EXPECT_TRUE(Has("stuck.npk"));
  EXPECT_TRUE(Has("other.npk"));
}

TEST_F(FolderTest, MoveOutcomes) {
  support::TempDir desktop{"velmora-desk"};
  const Text desk = desktop.Text();
  struct Case {
    const char* what;
    std::string sourceBytes;               // empty: no source file
    std::optional<std::string> onDesktop;  // a file of that name already on the desktop
    bool placed;
    bool leftFolder;
  };
  const std::vector<Case> cases = {
      {"plain move", "new", std::nullopt, true, true},
      {"desktop holds the name", "new", "old", true, true},
      {"source already gone", "", std::nullopt, false, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "m" + std::to_string(++n) + ".npk";
    if (!c.sourceBytes.empty()) Put(name, c.sourceBytes);
    if (c.onDesktop) support::WriteFile(desktop / name, *c.onDesktop);
    const MoveOutcome outcome =
        MovePackage(PackagePath(Folder(), name), DesktopPackagePath(desk, name));
    EXPECT_EQ(outcome.placed, c.placed) << c.what;
    EXPECT_EQ(outcome.leftFolder, c.leftFolder) << c.what;
    EXPECT_FALSE(Has(name)) << c.what;
    if (c.placed) {
      EXPECT_EQ(support::ReadFile(desktop / name), c.sourceBytes) << c.what;
    }
  }
}

TEST_F(FolderTest, FailedMoveKeepsTheSource) {
  Put("keep.npk", "K");
  // The target folder does not exist: neither the move nor the copy can place the file.
  const MoveOutcome outcome =
      MovePackage(PackagePath(Folder(), "keep.npk"), PackagePath(Folder() + "\\nowhere", "keep.npk"));
  EXPECT_FALSE(outcome.placed);
  EXPECT_FALSE(outcome.leftFolder);
  EXPECT_EQ(support::ReadFile(dir_ / "keep.npk"), "K");
}

TEST_F(FolderTest, MoveOntoItselfKeepsTheOnlyCopy) {
  // The path box names the desktop itself: moving a package "to the desktop" must not delete it.
  Put("self.npk", "SELF");
  const MoveOutcome outcome =
      MovePackage(PackagePath(Folder(), "self.npk"), DesktopPackagePath(Folder(), "self.npk"));
  EXPECT_TRUE(outcome.placed);
  EXPECT_FALSE(outcome.leftFolder);
  EXPECT_EQ(support::ReadFile(dir_ / "self.npk"), "SELF");
  EXPECT_TRUE(CopyPackage(PackagePath(Folder(), "self.npk"), PackagePath(Folder(), "SELF.NPK")));
  EXPECT_EQ(support::ReadFile(dir_ / "self.npk"), "SELF");
}

TEST_F(FolderTest, CopyReplacesAndKeepsTheSource) {
  support::TempDir desktop{"velmora-desk"};
  Put("c.npk", "first");
  const Text target = DesktopPackagePath(desktop.Text(), "c.npk");
  EXPECT_TRUE(CopyPackage(PackagePath(Folder(), "c.npk"), target));
  Put("c.npk", "second");
  EXPECT_TRUE(CopyPackage(PackagePath(Folder(), "c.npk"), target));
  EXPECT_EQ(support::ReadFile(desktop / "c.npk"), "second");
  EXPECT_EQ(support::ReadFile(dir_ / "c.npk"), "second");
  EXPECT_FALSE(CopyPackage(PackagePath(Folder(), "none.npk"), target));
  EXPECT_EQ(support::ReadFile(desktop / "c.npk"), "second");
}

TEST(DropPathTest, PathsNamesAndThePackageTest) {
  const Text drop = "C:\\a\\A.NPK\r\nC:\\a\\readme.txt\r\nb.npk\r\nC:\\地下城\\表.Npk\r\n"_gbk;
  const std::vector<Text> paths = SplitDroppedPaths(drop);
  ASSERT_EQ(paths, (std::vector<Text>{"C:\\a\\A.NPK", "C:\\a\\readme.txt", "b.npk",
                                      "C:\\地下城\\表.Npk"_gbk}));
  struct Case {
    Text path;
    bool package;
    Text name;
  };
  const std::vector<Case> cases = {
      {"C:\\a\\A.NPK", true, "A.NPK"},
      {"C:\\a\\readme.txt", false, "readme.txt"},
      {"b.npk", true, "b.npk"},
      {"C:\\地下城\\表.Npk"_gbk, true, "表.Npk"_gbk},
      {"C:\\a\\x.npk.bak", false, "x.npk.bak"},
      {"C:\\a\\npk", false, "npk"},
      {".npk", true, ".npk"},
      // 乗 ends in the byte 0x5C, the backslash: it must not split the name.
      {"C:\\乗x.npk"_gbk, true, "乗x.npk"_gbk},
      {"C:\\a\\", false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPackagePath(c.path), c.package) << c.path;
    EXPECT_EQ(DroppedName(c.path), c.name) << c.path;
  }
  EXPECT_TRUE(SplitDroppedPaths("").empty());
}

TEST(DropPathTest, TextsOfTheDrop) {
  EXPECT_EQ(DropReportText(2, 1), "恭喜你！成功增加：2个,失败：1个"_gbk);
  EXPECT_EQ(DropReportText(0, 12), "恭喜你！成功增加：0个,失败：12个"_gbk);
  EXPECT_EQ(DroppedNoLabelText(), "        未能分析文件"_gbk);
}

}  // namespace
}  // namespace velmora
