// velmora-cli script: the built binary, run as a user runs it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;
using namespace common::literals;

using CliRun = support::ProgramRun;

CliRun RunCli(const std::vector<std::string>& args) { return support::RunProgram(VELMORA_CLI, args); }

// The sub-folders of a native folder in the order the directory listing gives them.
std::vector<std::string> ListingOrder(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  return names;
}

const char kHeaderUtf8[] =
    "//2013.3.15 星期五 修复无法运行\r\n\r\n//版本 1.1\r\n\r\nVER 220\r\n\r\nSETMODE OPTIMIZE\r\n\r\n";

class CliScript : public ::testing::Test {
 protected:
  CliScript() { prefix_.MapDrive('d', drive_.path()); }
  support::WinePrefix prefix_;
  support::TempDir drive_{"velmora-cli-d"};
};

TEST_F(CliScript, WorkedExampleAsRawGbk) {
  const fs::path package = drive_ / "tex" / "sprite_character_gunner_effect.NPK";
  fs::create_directories(package / "shot0000.img");
  fs::create_directories(package / "shot0001.img");
  support::WriteFile(drive_ / "tex" / "notes.txt", "not a package");

  std::string expected = common::Utf8ToGbkText(kHeaderUtf8) +
                         "OPEN   ImagePacks2\\sprite_character_gunner_effect.NPK\r\n";
  for (const std::string& image : ListingOrder(package)) {
    expected += "LAUNCH  sprite/character/gunner/effect/" + image + "\r\n";
    expected += "TEX     N|ALL|32|D:\\tex\\sprite_character_gunner_effect.NPK\\" + image + "\\\r\n";
  }
  expected += "CLOSE\r\n\r\n";

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--gbk", "script", "D:\\tex"}, {"script", "--gbk", "D:\\tex"},
           {"script", "D:\\tex", "--gbk"}}) {
    SCOPED_TRACE(args[0] + " " + args[1] + " " + args[2]);
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(CliScript, Utf8OutputAndUtf8FolderArgument) {
  // GBK 乢 is 81 5F and 乗 is 81 5C: neither hides an underscore or a backslash.
  fs::create_directories(drive_ / "贴图" / "乢_乗.npk" / "图乢.img");
  const std::string expected = std::string(kHeaderUtf8) +
                               "OPEN   ImagePacks2\\乢_乗.npk\r\n"
                               "LAUNCH  乢/乗/图乢.img\r\n"
                               "TEX     N|ALL|32|D:\\贴图\\乢_乗.npk\\图乢.img\\\r\n"
                               "CLOSE\r\n\r\n";
  const CliRun run = RunCli({"script", "D:\\贴图"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, expected);

  const CliRun raw = RunCli({"script", "--gbk", "D:\\贴图"});
  EXPECT_EQ(raw.out, common::Utf8ToGbkText(expected));
}

TEST_F(CliScript, UsageAndFoldersWithoutPackages) {
  fs::create_directories(drive_ / "-dash");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;  // "usage": starts with the usage line
    bool errUsage;
  } const cases[] = {
      {{"script"}, 2, "", true},
      {{"script", "D:\\a", "D:\\b"}, 2, "", true},
      {{"script", "--bogus", "D:\\a"}, 2, "", true},
      {{"script", "--help"}, 0, "usage", false},
      {{"script", "D:\\tex", "--help"}, 0, "usage", false},
      {{"script", "D:\\missing"}, 0, kHeaderUtf8, false},
      {{"script", "--", "D:\\-dash"}, 0, kHeaderUtf8, false},
      {{"script", "Q:\\no such drive"}, 0, kHeaderUtf8, false},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& arg : c.args) line += arg + " ";
    SCOPED_TRACE(line);
    const CliRun run = RunCli(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    if (c.out == "usage") {
      EXPECT_TRUE(run.out.starts_with("usage: velmora-cli script")) << run.out;
    } else {
      EXPECT_EQ(run.out, c.out);
    }
    EXPECT_EQ(run.err.starts_with("usage: velmora-cli script") ||
                  run.err.find("\nusage: velmora-cli script") != std::string::npos,
              c.errUsage)
        << run.err;
  }
}

}  // namespace
