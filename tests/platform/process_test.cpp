// Process lookup against real processes, and detached program starts.
#include "platform/process.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/paths.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Test binaries run side by side, so every process name here is unique to this process: a
// test elsewhere that looks for the game's "DNF.exe" is not disturbed. "dnf4711.exe" stands
// for "dnf.exe" and has the same properties.
struct LookupCase {
  const char* label;
  std::string started;  // executable file name of the running process
  std::string asked;
  bool expected;
};

class ProcessLookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(ProcessLookupTest, ComparesWholeNamesIgnoringCase) {
  support::FakeProcess process(GetParam().started);
  ASSERT_TRUE(process.running());
  EXPECT_EQ(platform::IsProcessRunning(GetParam().asked), GetParam().expected);
}

const std::string kGame = support::UniqueName("dnf");                       // dnf<pid>.exe
const std::string kLong = support::UniqueName("velmoralonggame");            // over 15 bytes
const std::string kChinese = support::UniqueName("地下城");                   // UTF-8 on disk

INSTANTIATE_TEST_SUITE_P(
    Names, ProcessLookupTest,
    ::testing::Values(
        LookupCase{"same_name", kGame, kGame, true},
        LookupCase{"upper_case_asked", kGame, Upper(kGame), true},
        LookupCase{"prefixed_process_does_not_count", "x" + kGame, kGame, false},
        LookupCase{"suffixed_process_does_not_count", kGame + "x", kGame, false},
        LookupCase{"shorter_name_asked", kGame, kGame.substr(0, kGame.size() - 1), false},
        LookupCase{"long_name", kLong, Upper(kLong), true},
        LookupCase{"cut_kernel_name_is_no_match", kLong, kLong.substr(0, 15), false},
        LookupCase{"chinese_name_asked_in_gbk", kChinese, common::Utf8ToGbkText(kChinese), true},
        LookupCase{"empty_name", kGame, "", false}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return info.param.label; });

TEST(ProcessTest, FindsTheBaseNameOfAWindowsStyleArgv0) {
  // Under Wine the kernel name is Wine's, and argv[0] is the Windows path of the program.
  const std::string game = support::UniqueName("wdnf");
  support::FakeProcess process("wine-stand-in", "C:\\Games\\" + game);
  ASSERT_TRUE(process.running());
  EXPECT_TRUE(platform::IsProcessRunning(Upper(game)));
  EXPECT_FALSE(platform::IsProcessRunning("C:\\Games\\" + game));
}

TEST(ProcessTest, AnEndedProcessDoesNotRun) {
  const std::string name = support::UniqueName("ended");
  support::FakeProcess process(name);
  ASSERT_TRUE(process.running());
  ASSERT_TRUE(platform::IsProcessRunning(name));

  // Killed but not yet reaped: the kernel still lists it, as a zombie.
  ASSERT_EQ(::kill(process.pid(), SIGKILL), 0);
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(process.pid()), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(platform::IsProcessRunning(name));

  process.Stop();
  EXPECT_FALSE(platform::IsProcessRunning(name));
}

// --- Program starts ---

class StartProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "work");
    previous_ = fs::current_path();
    fs::current_path(dir_ / "work");
  }
  void TearDown() override { fs::current_path(previous_); }

  // A script that records its argument count and working directory in "marker" (written
  // through a rename, so a marker that exists is complete).
  void WriteScript(const std::string& name, const std::string& tag, bool executable = true) {
    const fs::path script = dir_ / name;
    support::WriteFile(script, "#!/bin/sh\nprintf '%s %s %s' '" + tag +
                                   "' \"$#\" \"$(pwd)\" > marker.tmp && mv marker.tmp marker\n");
    fs::permissions(script, executable ? fs::perms::owner_all : fs::perms::owner_read,
                    fs::perm_options::replace);
  }

  // The marker of a started script. A detached program can't be waited for, so this looks for
  // its file until a generous deadline; a passing test never waits long.
  std::string WaitForMarker() {
    const fs::path marker = dir_ / "work" / "marker";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return support::ReadFile(marker).value_or("");
  }

  support::TempDir dir_{"velmora-start"};
  fs::path previous_;
};

struct StartCase {
  const char* label;
  const char* onDisk;       // the script's file name
  const char* commandLine;  // after the folder and a "\"
  bool started;
};

class StartProgramCaseTest : public StartProgramTest,
                             public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartProgramCaseTest, StartsTheProgramDetachedInTheCurrentFolder) {
  const StartCase& c = GetParam();
  if (*c.onDisk != '\0') WriteScript(c.onDisk, "ran");
  const common::Text commandLine = dir_.Text() + "\\" + c.commandLine;
  EXPECT_EQ(platform::StartProgram(commandLine), c.started);
  if (c.started) {
    EXPECT_EQ(WaitForMarker(), "ran 0 " + (dir_ / "work").string());
  }
  // The start leaves no child of this process behind, not even a zombie.
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, StartProgramCaseTest,
    ::testing::Values(StartCase{"exe_missing_starts_without_exe", "UpDate", "UpDate.exe", true},
                      StartCase{"exe_present", "Velmora.exe", "Velmora.exe", true},
                      StartCase{"name_in_other_case", "UpDate", "update.EXE", true},
                      StartCase{"plain_name", "UpDate", "UpDate", true},
                      StartCase{"nothing_there", "", "UpDate.exe", false}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.label; });

TEST_F(StartProgramTest, ExeIsPreferredWhenBothExist) {
  WriteScript("Velmora.exe", "exe");
  WriteScript("Velmora", "plain");
  ASSERT_TRUE(platform::StartProgram(dir_.Text() + "\\Velmora.exe"));
  EXPECT_EQ(WaitForMarker(), "exe 0 " + (dir_ / "work").string());
}

TEST_F(StartProgramTest, ReportsAProgramThatCannotRun) {
  WriteScript("UpDate", "never", /*executable=*/false);
  EXPECT_FALSE(platform::StartProgram(dir_.Text() + "\\UpDate.exe"));
  EXPECT_FALSE(platform::StartProgram(dir_.Text()));  // a folder
  EXPECT_FALSE(platform::StartProgram(""));
  EXPECT_FALSE(fs::exists(dir_ / "work" / "marker"));
}

}  // namespace
