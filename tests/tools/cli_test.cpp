// velmora-cli tables and scan: the built binary, run the way a user runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/support/support.h"
#include "velmora/cleanup/tables.h"

namespace {

namespace fs = std::filesystem;
using namespace common::literals;

using CliRun = support::ProgramRun;

// Runs velmora-cli (no shell) in the working directory.
CliRun RunCli(const std::vector<std::string>& args, const fs::path& workDir = fs::current_path()) {
  return support::RunProgram(VELMORA_CLI, args, workDir);
}

// Output lines. The output is UTF-8, so the GBK-aware split of the text layer does not apply.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string Args(const std::vector<std::string>& args) {
  std::string joined;
  for (const std::string& arg : args) joined += "[" + arg + "]";
  return joined;
}

class CliTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::string& bytes) const {
    support::WriteFile(dir_ / name, bytes);
  }
  // A game folder with a Chinese name; its packages carry the given day.
  fs::path Game() const { return dir_ / "地下城" / "ImagePacks2"; }
  void Package(const std::string& name) const {
    support::WriteFile(Game() / name, "NPK");
    support::SetModifiedTime(Game() / name, 2013, 3, 15);
  }
  // Tables made with the tool itself, in dir_/data.
  void MakeTables(const std::string& officialUtf8, const std::string& checkUtf8) const {
    fs::create_directories(dir_ / "data");
    Write("official.txt", officialUtf8);
    Write("check.txt", checkUtf8);
    ASSERT_EQ(
        RunCli({"tables", "encode", Path("official.txt"), Path("data/数据列表.sjk")}).exitCode, 0);
    ASSERT_EQ(RunCli({"tables", "encode", Path("check.txt"), Path("data/数据核对.sjk")}).exitCode,
              0);
  }

  support::TempDir dir_{"velmora-cli"};
};

TEST_F(CliTest, HelpForTheToolAndEachCommand) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"},
                                               {"help"},
                                               {"tables", "--help"},
                                               {"scan", "--help"},
                                               {"tables", "decode", "--help"},
                                               {"--gbk", "--help"}}) {
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.exitCode, 0) << Args(args);
    EXPECT_EQ(run.out.rfind("usage: velmora-cli", 0), 0u) << Args(args) << run.out;
    EXPECT_EQ(run.err, "") << Args(args);
  }
  EXPECT_NE(RunCli({"scan", "--help"}).out.find("--cross-server"), std::string::npos);
}

TEST_F(CliTest, WrongUsageExitsWithTwoAndSaysHow) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"bogus"},
      {"tables"},
      {"tables", "decode"},
      {"tables", "decode", "a", "b"},
      {"tables", "encode", "only-plain"},
      {"tables", "build-official", "folder"},
      {"tables", "frobnicate", "x"},
      {"tables", "--zap", "decode", "x"},
      {"scan"},
      {"scan", "one", "two"},
      {"scan", "--data"},
      {"scan", "--bogus", "folder"},
      {"scan", "--cross-server"},
  };
  for (const auto& args : cases) {
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.exitCode, 2) << Args(args);
    EXPECT_EQ(run.out, "") << Args(args);
    EXPECT_NE(run.err.find("usage: velmora-cli"), std::string::npos) << Args(args) << run.err;
  }
}

TEST_F(CliTest, EncodeWritesGbkWithTheMarkerAndCrLfAndDecodeReadsItBack) {
  // UTF-8 with a byte-order mark, mixed line ends and an empty line in the middle.
  Write("plain.txt",
        "\xEF\xBB\xBF"
        "ABC.NPK\r\nsprite_中文.npk@@@中文标签\n\nlast.npk\n");
  const CliRun encode = RunCli({"tables", "encode", Path("plain.txt"), Path("out.sjk")});
  ASSERT_EQ(encode.exitCode, 0) << encode.err;
  EXPECT_EQ(support::ReadFile(dir_ / "out.sjk"),
            velmora::EncipherTable(
                "-597088775\r\nABC.NPK\r\nsprite_中文.npk@@@中文标签\r\n\r\nlast.npk\r\n"_gbk));

  const CliRun decode = RunCli({"tables", "decode", Path("out.sjk")});
  EXPECT_EQ(decode.exitCode, 0) << decode.err;
  EXPECT_EQ(decode.out, "-597088775\nABC.NPK\nsprite_中文.npk@@@中文标签\n\nlast.npk\n");
  const CliRun gbk = RunCli({"tables", "--gbk", "decode", Path("out.sjk")});
  EXPECT_EQ(gbk.out, "-597088775\nABC.NPK\nsprite_中文.npk@@@中文标签\n\nlast.npk\n"_gbk);

  // What decode prints encodes back to the same table (its marker line is not doubled).
  Write("decoded.txt", decode.out);
  ASSERT_EQ(RunCli({"tables", "encode", Path("decoded.txt"), Path("again.sjk")}).exitCode, 0);
  EXPECT_EQ(support::ReadFile(dir_ / "again.sjk"), support::ReadFile(dir_ / "out.sjk"));
}

TEST_F(CliTest, DecodeRefusesForeignAndMissingFiles) {
  Write("unsigned.sjk", velmora::EncipherTable("3697878521\r\nabc.npk\r\n"));
  Write("plain.sjk", "-597088775\r\nabc.npk\r\n");
  Write("binary.sjk", std::string("\0\xff\x01\x80garbage", 11));
  Write("empty.sjk", "");
  for (const std::string name :
       {"unsigned.sjk", "plain.sjk", "binary.sjk", "empty.sjk", "missing.sjk"}) {
    const CliRun run = RunCli({"tables", "decode", Path(name)});
    EXPECT_EQ(run.exitCode, 1) << name;
    EXPECT_EQ(run.out, "") << name;
    EXPECT_NE(run.err.find(name), std::string::npos) << name << run.err;
  }
  EXPECT_EQ(RunCli({"tables", "encode", Path("missing.txt"), Path("x.sjk")}).exitCode, 1);
  EXPECT_FALSE(fs::exists(dir_ / "x.sjk"));
}

TEST_F(CliTest, BuildOfficialListsTheNpkFilesOfAFolder) {
  for (const char* name : {"A.NPK", "sprite_b.npk", "中文.npk", "x.npknpk", "notes.txt"}) {
    Package(name);
  }
  fs::create_directories(Game() / "folder.npk");
  const CliRun build = RunCli({"tables", "build-official", Game().string(), Path("list.sjk")});
  ASSERT_EQ(build.exitCode, 0) << build.err;
  const CliRun decode = RunCli({"tables", "decode", Path("list.sjk")});
  ASSERT_EQ(decode.exitCode, 0);
  const std::vector<std::string> lines = Lines(decode.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "-597088775");
  EXPECT_EQ(Sorted({lines.begin() + 1, lines.end()}),
            Sorted({"A.NPK", "sprite_b.npk", "中文.npk"}));

  EXPECT_EQ(RunCli({"tables", "build-official", Path("absent"), Path("no.sjk")}).exitCode, 1);
  EXPECT_FALSE(fs::exists(dir_ / "no.sjk"));
}

TEST_F(CliTest, ScanPrintsTheRowsOfBothScans) {
  for (const char* name : {"ABC.NPK", "abc(1).npk", "中文.npk", "Plain.NPK", "x.npknpk", "_a_"}) {
    Package(name);
  }
  MakeTables("abc.npk\nplain.npk\n", "abc.npk@@@ABC 标签\n中文.npk@@@中文\n");

  const CliRun package = RunCli({"scan", "--data", Path("data"), Game().string()});
  EXPECT_EQ(package.exitCode, 0) << package.err;
  EXPECT_EQ(Sorted(Lines(package.out)),
            Sorted({"abc(1).npk\tABC 标签\t2013年3月15日", "中文.npk\t中文\t2013年3月15日"}));
  EXPECT_EQ(package.err, "2\n");

  const CliRun cross =
      RunCli({"scan", "--cross-server", "--data=" + Path("data"), Game().string() + "/"});
  EXPECT_EQ(cross.exitCode, 0) << cross.err;
  const std::vector<std::string> rows = Lines(cross.out);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(Sorted({rows[0], rows[1]}),
            Sorted({"abc(1).npk\tABC 标签\t2013年3月15日", "中文.npk\t中文\t2013年3月15日"}));
  EXPECT_EQ(rows[2], "x.npknpk\t 未能分析文件\t2013年3月15日");
  EXPECT_EQ(rows[3], "_a_\t 未能分析文件\t2013年3月15日");
  EXPECT_EQ(cross.err, "4\n");

  const CliRun gbk = RunCli({"scan", Game().string(), "--data", Path("data"), "--gbk"});
  EXPECT_EQ(Sorted(Lines(gbk.out)), Sorted({"abc(1).npk\tABC 标签\t2013年3月15日"_gbk,
                                            "中文.npk\t中文\t2013年3月15日"_gbk}));
}

TEST_F(CliTest, ScanReadsTheDataFolderOfTheCurrentDirectoryByDefault) {
  Package("mod(1).npk");
  MakeTables("other.npk\n", "mod.npk@@@模型\n");
  fs::create_directories(dir_ / "run");
  fs::rename(dir_ / "data", dir_ / "run" / "皮肤图片");
  const CliRun run = RunCli({"scan", Game().string()}, dir_ / "run");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "mod(1).npk\t模型\t2013年3月15日\n");
}

TEST_F(CliTest, ScanWithoutAnOfficialListListsNothing) {
  Package("sprite.npk");
  Package("中文.npk");
  fs::create_directories(dir_ / "empty");
  Write("damaged/数据列表.sjk", "not a table at all");
  Write("damaged/数据核对.sjk", std::string(300, '\xA7'));
  for (const std::string data : {"empty", "damaged"}) {
    const CliRun run = RunCli({"scan", "--data", Path(data), Game().string()});
    EXPECT_EQ(run.exitCode, 3) << data;
    EXPECT_EQ(run.out, "") << data;
    EXPECT_EQ(run.err, "官方文件列表加载失败,无法分析非官方文件！\n") << data;
    // The cross-server scan does not use the list.
    const CliRun cross = RunCli({"scan", "--cross-server", "--data", Path(data), Game().string()});
    EXPECT_EQ(cross.exitCode, 0) << data;
    EXPECT_EQ(cross.out, "中文.npk\t 未能分析文件\t2013年3月15日\n") << data;
  }
}

TEST_F(CliTest, ScanOfAMissingOrEmptyFolderListsNothing) {
  MakeTables("other.npk\n", "");
  for (const std::string& folder : {Path("absent"), std::string()}) {
    const CliRun run = RunCli({"scan", "--data", Path("data"), folder});
    EXPECT_EQ(run.exitCode, 0) << folder;
    EXPECT_EQ(run.out, "") << folder;
    EXPECT_EQ(run.err, "0\n") << folder;
  }
}

}  // namespace
