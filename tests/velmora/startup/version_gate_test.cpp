// The version gate's pieces: the local version file, the version cut from the release page, and
// the decision between a normal start and the hand-over to UpDate.
#include "velmora/startup/version_gate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/support.h"

namespace velmora {
namespace {

using namespace common::literals;

struct DecisionCase {
  const char* name;
  std::string local;
  std::string remote;
  GateDecision expected;
};

TEST(DecideGate, ComparesByteForByteAndTreatsAnEmptyPageVersionAsUnknown) {
  const DecisionCase cases[] = {
      {"same version", "2.0", "2.0", GateDecision::StartNormally},
      {"local version with a line break", "2.0\r\n", "2.0", GateDecision::Update},
      {"local version with a bare newline", "2.0\n", "2.0", GateDecision::Update},
      {"local version with a trailing space", "2.0 ", "2.0", GateDecision::Update},
      {"newer page version", "2.0", "2.1", GateDecision::Update},
      {"older page version", "2.0", "1.9", GateDecision::Update},
      {"letters differ only in case", "v2.0", "V2.0", GateDecision::Update},
      {"page version with a line break", "2.0", "2.0\r\n", GateDecision::Update},
      {"no local version, page names one", "", "2.0", GateDecision::Update},
      {"page unreadable, local version present", "2.0", "", GateDecision::StartNormally},
      {"neither side knows a version", "", "", GateDecision::StartNormally},
      {"double-byte version texts", "二代"_gbk, "二代"_gbk, GateDecision::StartNormally},
      {"double-byte version texts differ", "二代"_gbk, "三代"_gbk, GateDecision::Update},
      // A text ends at its first zero byte: what follows it is no part of the version.
      {"bytes after a zero byte", std::string("2.0\0x", 5), "2.0", GateDecision::StartNormally},
  };
  for (const DecisionCase& c : cases) {
    EXPECT_EQ(DecideGate(c.local, c.remote), c.expected) << c.name;
  }
}

struct PageCase {
  const char* name;
  std::string page;
  std::string version;
};

TEST(RemoteVersionOf, CutsBetweenTheFirstStartMarkerAndTheNextEndMarker) {
  const PageCase cases[] = {
      {"plain page", "<p>版本前2.0版本后</p>"_gbk, "2.0"},
      {"value with a line break", "版本前2.0\r\n版本后"_gbk, "2.0\r\n"},
      {"start marker without end marker", "<p>版本前2.0</p>"_gbk, ""},
      {"end marker before the start marker is ignored", "版本后x版本前2.1版本后"_gbk, "2.1"},
      {"only an end marker before a start marker", "版本后版本前2.1"_gbk, ""},
      {"two versions: the first counts", "版本前1.0版本后 版本前2.0版本后"_gbk, "1.0"},
      {"empty value", "版本前版本后"_gbk, ""},
      {"no markers", "<html>nothing here</html>", ""},
      {"empty page", "", ""},
      {"the other values of the page do not interfere",
       "文本前pan.example/a我b文本后版本前3.2版本后发表前pan.example/c发表后"_gbk, "3.2"},
      {"a zero byte ends the page text", std::string("abc\0版本前2.0版本后", 4) + "版本前2.0版本后"_gbk, ""},
  };
  for (const PageCase& c : cases) {
    EXPECT_EQ(RemoteVersionOf(c.page), c.version) << c.name;
  }
}

// Runs a body with the current directory set to a fresh folder, restored afterwards.
class LocalVersionFile : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  support::TempDir dir_{"velmora-gate"};
  std::filesystem::path previous_;
};

TEST_F(LocalVersionFile, LocalVersionIsTheFileBytesUpToTheFirstZeroByte) {
  struct FileCase {
    const char* name;
    std::optional<std::string> content;  // nullopt: no file
    std::string version;
  };
  const FileCase cases[] = {
      {"plain version", std::string("1.0"), "1.0"},
      {"line break kept", std::string("1.0\r\n"), "1.0\r\n"},
      {"spaces kept", std::string(" 1.0 "), " 1.0 "},
      {"zero byte ends the text", std::string("1.0\0\0\0", 6), "1.0"},
      {"zero byte first", std::string("\0" "1.0", 4), ""},
      {"empty file", std::string(), ""},
      {"missing file", std::nullopt, ""},
  };
  // The folder name is Chinese: the program's GBK path must reach the UTF-8 folder.
  const std::filesystem::path file = dir_.path() / "皮肤图片" / "版本.txt";
  for (const FileCase& c : cases) {
    std::filesystem::remove(file);
    if (c.content) support::WriteFile(file, *c.content);
    EXPECT_EQ(ReadLocalVersion(), c.version) << c.name;
  }
}

TEST(UpdaterCommandLine, IsTheRunDirectoryFollowedByTheUpdaterName) {
  EXPECT_EQ(UpdaterCommandLine("\\opt\\velmora"), "\\opt\\velmora\\UpDate.exe");
  EXPECT_EQ(UpdaterCommandLine("D:\\游戏工具"_gbk), "D:\\游戏工具\\UpDate.exe"_gbk);
}

}  // namespace
}  // namespace velmora
