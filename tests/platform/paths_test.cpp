// Mapping of program path texts onto real folders, drives of a test Wine prefix, and the
// folders the programs ask for.
#include "platform/paths.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;
using common::Utf8ToGbkText;

// Real folder with names in mixed case:
//   Games/ImagePacks2/ABC.NPK, Games/ImagePacks2/abd.npk
//   Games/地下城/Sub/File.txt
//   Games/淺水/a.txt           (淺 is 9C 5C in GBK: its second byte is a backslash)
class NativePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    support::WriteFile(dir_ / "Games/ImagePacks2/ABC.NPK", "abc");
    support::WriteFile(dir_ / "Games/ImagePacks2/abd.npk", "abd");
    support::WriteFile(dir_ / "Games/地下城/Sub/File.txt", "file");
    support::WriteFile(dir_ / "Games/淺水/a.txt", "a");
  }

  // The program text of a path under the fixture folder (relative is UTF-8, "\" separated).
  common::Text Under(const std::string& relative) const {
    return dir_.Text() + "\\" + Utf8ToGbkText(relative);
  }

  support::TempDir dir_{"velmora-paths"};
};

struct MappingCase {
  const char* label;
  const char* text;      // under the fixture folder
  const char* expected;  // native, relative to the fixture folder
};

class NativePathMappingTest : public NativePathTest,
                              public ::testing::WithParamInterface<MappingCase> {};

TEST_P(NativePathMappingTest, FindsTheEntryOnDisk) {
  EXPECT_EQ(platform::NativePath(Under(GetParam().text)), dir_ / GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Mappings, NativePathMappingTest,
    ::testing::Values(
        MappingCase{"exact", "Games\\ImagePacks2\\ABC.NPK", "Games/ImagePacks2/ABC.NPK"},
        MappingCase{"lower_case_name", "Games\\ImagePacks2\\abc.npk", "Games/ImagePacks2/ABC.NPK"},
        MappingCase{"every_component_folded", "GAMES\\imagepacks2\\Abd.Npk",
                    "Games/ImagePacks2/abd.npk"},
        MappingCase{"forward_slashes", "games/ImagePacks2/abc.npk", "Games/ImagePacks2/ABC.NPK"},
        MappingCase{"doubled_separator", "Games\\ImagePacks2\\\\abc.npk",
                    "Games/ImagePacks2/ABC.NPK"},
        MappingCase{"trailing_separator", "games\\imagepacks2\\", "Games/ImagePacks2"},
        MappingCase{"chinese_folder", "games\\地下城\\sub\\FILE.TXT", "Games/地下城/Sub/File.txt"},
        MappingCase{"backslash_trail_byte", "games\\淺水\\A.TXT", "Games/淺水/a.txt"},
        MappingCase{"missing_name_as_written", "Games\\ImagePacks2\\new.npk",
                    "Games/ImagePacks2/new.npk"},
        MappingCase{"below_a_missing_folder", "Games\\Missing\\games\\abc.npk",
                    "Games/Missing/games/abc.npk"}),
    [](const ::testing::TestParamInfo<MappingCase>& info) { return info.param.label; });

TEST_F(NativePathTest, PrefersTheExactNameOverAnotherCase) {
  support::WriteFile(dir_ / "Games/ImagePacks2/abc.npk", "lower");
  EXPECT_EQ(platform::NativePath(Under("Games\\ImagePacks2\\abc.npk")),
            dir_ / "Games/ImagePacks2/abc.npk");
  EXPECT_EQ(platform::NativePath(Under("Games\\ImagePacks2\\ABC.NPK")),
            dir_ / "Games/ImagePacks2/ABC.NPK");
}

TEST_F(NativePathTest, SeesFilesThatAppearAfterAnEarlierLookup) {
  // An earlier lookup in the folder must not hide a file made afterwards, nor keep one
  // that went away.
  EXPECT_EQ(platform::NativePath(Under("games\\imagepacks2\\abc.npk")),
            dir_ / "Games/ImagePacks2/ABC.NPK");
  support::WriteFile(dir_ / "Games/ImagePacks2/NEW.NPK", "new");
  EXPECT_EQ(platform::NativePath(Under("games\\imagepacks2\\new.npk")),
            dir_ / "Games/ImagePacks2/NEW.NPK");
  fs::rename(dir_ / "Games/ImagePacks2/ABC.NPK", dir_ / "Games/ImagePacks2/Abc.npk");
  EXPECT_EQ(platform::NativePath(Under("games\\imagepacks2\\abc.npk")),
            dir_ / "Games/ImagePacks2/Abc.npk");
}

TEST_F(NativePathTest, RelativeTextsAreRelativeToTheCurrentFolder) {
  const fs::path previous = fs::current_path();
  fs::current_path(dir_.path() / "Games");
  const fs::path relative = platform::NativePath("imagepacks2\\abc.npk");
  EXPECT_TRUE(relative.is_relative());
  EXPECT_EQ(relative, fs::path("ImagePacks2/ABC.NPK"));
  EXPECT_EQ(platform::CurrentDirectory(), platform::ProgramPath(dir_.path() / "Games"));
  fs::current_path(previous);
}

TEST(NativePathRootTest, LeadingSeparatorIsTheRootAndEmptyIsNothing) {
  EXPECT_EQ(platform::NativePath("\\tmp"), fs::path("/tmp"));
  EXPECT_EQ(platform::NativePath("/tmp"), fs::path("/tmp"));
  EXPECT_EQ(platform::NativePath("\\"), fs::path("/"));
  EXPECT_TRUE(platform::NativePath("").empty());
  EXPECT_TRUE(platform::NativePath(std::string("\0abc", 4)).empty());  // a text ends at zero
}

TEST_F(NativePathTest, DriveLettersGoThroughThePrefix) {
  support::WinePrefix prefix;
  prefix.MapDrive('d', dir_.path() / "Games");
  support::WriteFile(prefix.driveC() / "Program Files/Tool.exe", "tool");

  EXPECT_EQ(platform::NativePath("D:\\ImagePacks2\\abc.npk"),
            prefix.path() / "dosdevices/d:/ImagePacks2/ABC.NPK");
  EXPECT_TRUE(fs::equivalent(platform::NativePath("d:/imagepacks2"), dir_ / "Games/ImagePacks2"));
  EXPECT_TRUE(fs::equivalent(platform::NativePath("c:\\program files\\tool.exe"),
                             prefix.driveC() / "Program Files/Tool.exe"));
  EXPECT_TRUE(platform::FileExists("C:\\Program Files\\TOOL.EXE"));
  EXPECT_TRUE(platform::FolderExists("D:\\"));
  EXPECT_TRUE(platform::FolderExists("D:"));
}

TEST_F(NativePathTest, MissingDriveNamesNothingReal) {
  support::WinePrefix prefix;
  prefix.MapDrive('e', dir_.path() / "Gone");  // a link to a folder that does not exist
  for (const char* text : {"Q:\\", "Q:\\tmp", "q:", "E:\\", "E:\\Games", "E:\\tmp"}) {
    SCOPED_TRACE(text);
    std::error_code error;
    EXPECT_FALSE(fs::exists(platform::NativePath(text), error));
    EXPECT_FALSE(platform::FolderExists(text));
  }
}

TEST(NativePathPrefixTest, PrefixDefaultsToWineInHome) {
  support::TempDir home("velmora-home");
  support::ScopedEnv homeVariable("HOME", home.path().string());
  support::ScopedEnv prefixVariable("WINEPREFIX", std::nullopt);
  EXPECT_FALSE(platform::FolderExists("C:\\"));  // no ~/.wine yet
  fs::create_directories(home / ".wine/drive_c/Games");
  fs::create_directories(home / ".wine/dosdevices");
  fs::create_directory_symlink("../drive_c", home / ".wine/dosdevices/c:");
  EXPECT_TRUE(platform::FolderExists("C:\\games"));
}

TEST(ProgramPathTest, WritesNativePathsAsProgramTexts) {
  EXPECT_EQ(platform::ProgramPath("/opt/v"), "\\opt\\v");
  EXPECT_EQ(platform::ProgramPath("rel/dir"), "rel\\dir");
  EXPECT_EQ(platform::ProgramPath("/tmp/地下城/淺水"), Utf8ToGbkText("\\tmp\\地下城\\淺水"));
  // And back: the text of a native path maps to that path again.
  support::TempDir dir("velmora-paths");
  support::WriteFile(dir / "淺水/地下城.npk", "x");
  EXPECT_EQ(platform::NativePath(platform::ProgramPath(dir / "淺水/地下城.npk")),
            dir / "淺水/地下城.npk");
}

TEST(RunDirectoryTest, IsTheFolderOfTheTestProgram) {
  const common::Text folder = platform::RunDirectory();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(platform::FileExists(folder + "\\paths_test"));
}

TEST(DesktopFolderTest, FollowsHomeAndTheUserDirs) {
  {
    support::ScopedHome home;
    EXPECT_EQ(platform::DesktopFolder(), platform::ProgramPath(home.desktop()));
  }
  {
    support::ScopedHome home;
    fs::create_directories(home.home() / "桌面");
    support::WriteFile(home.home() / ".config/user-dirs.dirs",
                       "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/桌面/\"\n");
    EXPECT_EQ(platform::DesktopFolder(), platform::ProgramPath(home.home() / "桌面"));
  }
}

}  // namespace
