// The whole update as a player meets it, with the built programs as processes: an old
// installation in a run directory, the release page, the share pages and the update archive on
// loopback. Velmora's gate sees the new version and hands over to UpDate, which downloads the
// archive, installs it, starts the new Velmora and ends; or, when the archive served is damaged,
// says so and leaves the installation as it was.
//
// The programs start each other detached (in sessions of their own), so the test makes itself the
// subreaper of its descendants: every program started on the way becomes its child once its
// starter is gone, which gives UpDate's exit code, and a guard kills whatever still runs from the
// run directory when a test ends, failed or not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <minizip/unzip.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "common/text.h"
#include "tests/support/http_server.h"
#include "tests/support/support.h"
#include "update/download.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace common::literals;
using Clock = std::chrono::steady_clock;
using test_support::FileAnswer;
using test_support::HttpServer;

// Generous bounds for a flow that takes a few seconds; they only end a test that hangs.
constexpr auto kFlowTime = std::chrono::seconds(30);
constexpr auto kPoll = std::chrono::milliseconds(20);

const fs::path kArchivePath = VELMORA_UPDATE_ARCHIVE;
constexpr std::string_view kVersionFile = "皮肤图片/版本.txt";

// A file as the archive holds it or as it lies on disk.
struct FileState {
  std::string bytes;
  unsigned mode = 0;  // permission bits
};

struct ArchiveContent {
  std::map<std::string, FileState> files;  // UTF-8 names with "/" separators
  std::vector<std::string> faults;         // what is wrong with the archive itself
};

std::string Octal(unsigned mode) {
  std::ostringstream out;
  out << std::oct << mode;
  return out.str();
}

ArchiveContent ReadArchive(const fs::path& path) {
  ArchiveContent content;
  unzFile zip = unzOpen64(path.c_str());
  if (zip == nullptr) {
    content.faults.push_back("cannot open " + path.string());
    return content;
  }
  for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
    unz_file_info64 info{};
    char nameBuffer[4096] = {};
    if (unzGetCurrentFileInfo64(zip, &info, nameBuffer, sizeof nameBuffer - 1, nullptr, 0,
                                nullptr, 0) != UNZ_OK) {
      content.faults.push_back("an entry's header cannot be read");
      break;
    }
    const std::string name(nameBuffer);
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii && (info.flag & (1u << 11)) == 0) {
      content.faults.push_back(name + ": UTF-8 name without general-purpose flag bit 11");
    }
    if ((info.version >> 8) != 3) {
      content.faults.push_back(name + ": not made on Unix (version made by " +
                               std::to_string(info.version) + ")");
    }
    const unsigned unixMode = static_cast<unsigned>(info.external_fa >> 16);
    if (!name.empty() && name.back() == '/') continue;  // a folder entry
    if ((unixMode & S_IFMT) != S_IFREG) {
      content.faults.push_back(name + ": no regular file (mode " + Octal(unixMode) + ")");
    }
    FileState file;
    file.mode = unixMode & 07777;
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
      content.faults.push_back(name + ": cannot be opened");
      continue;
    }
    char buffer[65536];
    for (int got; (got = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0;) {
      file.bytes.append(buffer, static_cast<std::size_t>(got));
    }
    if (unzCloseCurrentFile(zip) != UNZ_OK) content.faults.push_back(name + ": CRC or size fails");
    if (!content.files.emplace(name, std::move(file)).second) {
      content.faults.push_back(name + ": twice in the archive");
    }
  }
  unzClose(zip);
  return content;
}

// The archive the build made, read once.
const ArchiveContent& TheArchive() {
  static const ArchiveContent content = ReadArchive(kArchivePath);
  return content;
}

// Every file below the folder with its bytes and mode, and every folder.
struct Tree {
  std::map<std::string, FileState> files;
  std::set<std::string> folders;
  std::vector<std::string> others;  // links and special files
};

Tree Snapshot(const fs::path& root) {
  Tree tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().lexically_relative(root).generic_string();
    const fs::file_status status = it->symlink_status();
    if (fs::is_directory(status)) {
      tree.folders.insert(name);
    } else if (fs::is_regular_file(status)) {
      FileState file;
      file.bytes = support::ReadFile(it->path()).value_or(std::string());
      file.mode = static_cast<unsigned>(status.permissions()) & 07777;
      tree.files.emplace(name, std::move(file));
    } else {
      tree.others.push_back(name);
    }
  }
  if (error) tree.others.push_back("listing failed: " + error.message());
  return tree;
}

// What differs between two sets of files, one line per file; empty when they are the same.
std::string Differences(const std::map<std::string, FileState>& expected,
                        const std::map<std::string, FileState>& actual) {
  std::string lines;
  for (const auto& [name, file] : expected) {
    auto found = actual.find(name);
    if (found == actual.end()) {
      lines += "missing: " + name + "\n";
      continue;
    }
    if (found->second.bytes != file.bytes) {
      lines += "other bytes: " + name + " (" + std::to_string(found->second.bytes.size()) +
               " bytes, expected " + std::to_string(file.bytes.size()) + ")\n";
    }
    if (found->second.mode != file.mode) {
      lines += "other mode: " + name + " " + Octal(found->second.mode) + ", expected " +
               Octal(file.mode) + "\n";
    }
  }
  for (const auto& [name, file] : actual) {
    if (expected.count(name) == 0) lines += "left over: " + name + "\n";
  }
  return lines;
}

// Folders of the tree that hold no expected file (a staging or backup folder left behind).
std::string StrayFolders(const Tree& tree, const std::map<std::string, FileState>& expected) {
  std::string lines;
  for (const std::string& folder : tree.folders) {
    const std::string prefix = folder + "/";
    const bool used = std::any_of(expected.begin(), expected.end(), [&](const auto& entry) {
      return entry.first.compare(0, prefix.size(), prefix) == 0;
    });
    if (!used) lines += "stray folder: " + folder + "\n";
  }
  for (const std::string& other : tree.others) lines += "not a file: " + other + "\n";
  return lines;
}

void WriteTree(const fs::path& root, const std::map<std::string, FileState>& files) {
  for (const auto& [name, file] : files) {
    const fs::path path = root / name;
    support::WriteFile(path, file.bytes);
    std::error_code error;
    fs::permissions(path, static_cast<fs::perms>(file.mode), fs::perm_options::replace, error);
    if (error) ADD_FAILURE() << "chmod " << path << ": " << error.message();
  }
}

std::vector<std::string> LogLines(const fs::path& log) {
  std::vector<std::string> lines;
  std::ifstream in(log, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The processes whose program lies in one folder: started, awaited and, at the end, killed.
class RunDirectoryProcesses {
 public:
  explicit RunDirectoryProcesses(fs::path folder) : folder_(std::move(folder)) {
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
      ADD_FAILURE() << "cannot become the subreaper: " << std::strerror(errno);
    }
  }
  ~RunDirectoryProcesses() {
    EndAll();
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  }
  RunDirectoryProcesses(const RunDirectoryProcesses&) = delete;
  RunDirectoryProcesses& operator=(const RunDirectoryProcesses&) = delete;

  // Starts the program of the folder with no arguments, the folder as its working directory, the
  // test's environment, and stdout and stderr appended to `output`. -1 when it cannot start.
  pid_t Start(const std::string& program, const fs::path& output) {
    const std::string file = (folder_ / program).string();
    const std::string workDir = folder_.string();
    const std::string outputFile = output.string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    char* const argv[] = {const_cast<char*>(file.c_str()), nullptr};
    pid_t pid = -1;
    const int failure = ::posix_spawn(&pid, file.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
      ADD_FAILURE() << "cannot start " << file << ": " << std::strerror(failure);
      return -1;
    }
    seen_.insert(pid);
    return pid;
  }

  // The live processes running this program of the folder (any program when empty). A program
  // file that an install replaced shows as "<path> (deleted)".
  std::vector<pid_t> Find(std::string_view program = {}) {
    std::vector<pid_t> found;
    std::error_code error;
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
      const std::string entry = it->path().filename().string();
      if (entry.empty() || !std::all_of(entry.begin(), entry.end(), ::isdigit)) continue;
      std::error_code linkError;
      std::string exe = fs::read_symlink(it->path() / "exe", linkError).string();
      if (linkError) continue;  // gone, a zombie, or not ours
      constexpr std::string_view kDeleted = " (deleted)";
      if (EndsWith(exe, kDeleted)) exe.resize(exe.size() - kDeleted.size());
      const fs::path path(exe);
      if (path.parent_path() != folder_) continue;
      if (!program.empty() && path.filename() != program) continue;
      const pid_t pid = static_cast<pid_t>(std::stol(entry));
      seen_.insert(pid);
      found.push_back(pid);
    }
    return found;
  }

  // Waits until one process of this program is running.
  std::optional<pid_t> WaitForStart(std::string_view program, Clock::time_point deadline) {
    for (;;) {
      const std::vector<pid_t> found = Find(program);
      if (!found.empty()) return found.front();
      if (Clock::now() > deadline) return std::nullopt;
      std::this_thread::sleep_for(kPoll);
    }
  }

  // Waits for a child (or an orphan that became one) to end: its exit code, -1 for a signal,
  // nothing by the deadline.
  std::optional<int> WaitForExit(pid_t pid, Clock::time_point deadline) {
    for (;;) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (Clock::now() > deadline) return std::nullopt;
      std::this_thread::sleep_for(kPoll);
    }
  }

  // Kills every process of the folder, again until none is left (one may be starting another),
  // and reaps those that are children.
  void EndAll() {
    for (int round = 0; round < 200; ++round) {
      const std::vector<pid_t> found = Find();
      if (found.empty()) break;
      for (pid_t pid : found) ::kill(pid, SIGKILL);
      for (pid_t pid : found) ::waitpid(pid, nullptr, 0);  // ECHILD for one that is not a child
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (pid_t pid : seen_) ::waitpid(pid, nullptr, WNOHANG);
  }

 private:
  fs::path folder_;
  std::set<pid_t> seen_;
};

// The shared parts of a run: the old installation, the pages on loopback and the environment the
// programs inherit.
class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const ArchiveContent& archive = TheArchive();
    ASSERT_TRUE(archive.faults.empty()) << archive.faults.front();
    ASSERT_EQ(archive.files.count(std::string(kVersionFile)), 1u);
    ASSERT_EQ(archive.files.count("Velmora"), 1u);
    ASSERT_EQ(archive.files.count("UpDate"), 1u);
    ASSERT_TRUE(server_.Running());

    // The old installation: the same programs, an older version file, an older velmora-cli
    // with other modes, and a read-only picture.
    old_ = archive.files;
    old_[std::string(kVersionFile)].bytes = "0.9";
    old_["velmora-cli"] = FileState{"#!/bin/sh\necho 0.9\n", 0700};
    old_["皮肤图片/0.png"].mode = 0444;
    fs::create_directories(run_);
    WriteTree(run_, old_);
    processes_ = std::make_unique<RunDirectoryProcesses>(run_);
  }

  // Publishes the release (the archive's version) with its notes, and the package: `package`
  // served as `answer` says, announced on its share page with this size and md5.
  void Publish(const fs::path& package, const std::string& size, const std::string& md5,
               const FileAnswer& answer = {}) {
    const std::string version = TheArchive().files.at(std::string(kVersionFile)).bytes;
    const std::string host = "127.0.0.1:" + std::to_string(server_.Port());
    const std::string page =
        "<html><head><title>Velmora</title></head><body><p>最新版本："_gbk + "版本前"_gbk +
        version + "版本后"_gbk + "</p><p>更新说明："_gbk + "文本前"_gbk + host +
        "/s/init?surl=notes我pwd=e2e文本后"_gbk + "</p><p>下载："_gbk + "发表前"_gbk + host +
        "/s/init?surl=package我pwd=e2e发表后"_gbk + "</p></body></html>";
    server_.Answer("/release", Html(page));
    server_.Answer("/s/init?surl=notes&pwd=e2e",
                   Html(SharePage("/d/notes.txt", "notes.txt", "24", std::string(32, 'a'))));
    // The notes are fetched with the whole link record as the address.
    server_.Answer("/d/notes.txt*", Html("修复了清理时的问题\r\n\r\n加快了扫描\r\n"_gbk));
    server_.Answer("/s/init?surl=package&pwd=e2e",
                   Html(SharePage("/d/package.zip", "%E6%9B%B4%E6%96%B0%E5%8C%85.zip", size, md5)));
    server_.ServeFile("/d/package.zip", package.string(), answer);
  }

  static std::string Html(const std::string& body) {
    return HttpServer::Response("HTTP/1.1 200 OK", {"Content-Type: text/html"}, body);
  }

  // A share page of the cloud drive: its file list as escaped JSON inside a script, the link's
  // slashes written as "\\/", and the name in the call that picks the file's icon. (The port is
  // written out: a "{PORT}" of the server would change the length of an answer.)
  std::string SharePage(std::string_view path, std::string_view name, std::string_view size,
                        std::string_view md5) const {
    std::string link = server_.Url(path);
    for (std::size_t at = 0; (at = link.find('/', at)) != std::string::npos; at += 3) {
      link.replace(at, 1, R"(\\/)");
    }
    std::string page = R"js(<html><body><script>locals.mset({"file_list":"[{)js";
    page += R"js(\"server_filename\":\"update\",\"size\":\")js" + std::string(size);
    page += R"js(\",\"server_mtime\":\"1765411200\",\"md5\":\")js" + std::string(md5);
    page += R"js(\",\"dlink\":\")js" + link + R"js(\",\"category\":\"6\"}]"});</script>)js";
    page += R"js(<script>var icon = FileSmallIcon(0,null,")js" + std::string(name);
    page += R"js(".match(/(.[^\.]+$)/));</script></body></html>)js";
    return page;
  }

  std::string Diagnostics() const {
    std::string text = "dialog log:\n";
    for (const std::string& line : LogLines(log_)) text += "  " + line + "\n";
    text += "requests:\n";
    for (const auto& request : server_.Requests()) text += "  " + request.line + "\n";
    text += "program output:\n" + support::ReadFile(output_).value_or(std::string());
    return text;
  }

  // Waits until a line of the dialog log ends with this text.
  bool WaitForDialog(std::string_view text, Clock::time_point deadline) const {
    for (;;) {
      for (const std::string& line : LogLines(log_)) {
        if (EndsWith(line, text)) return true;
      }
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(kPoll);
    }
  }

  int CountDialogs(std::string_view text) const {
    const std::vector<std::string> lines = LogLines(log_);
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return EndsWith(line, text);
    }));
  }

  // Starts the old Velmora and waits for it to hand over: it shows the new version, starts
  // UpDate and ends at once. UpDate's pid.
  std::optional<pid_t> HandOver(Clock::time_point deadline) {
    const pid_t velmora = processes_->Start("Velmora", output_);
    if (velmora < 0) return std::nullopt;
    const std::optional<int> exitCode = processes_->WaitForExit(velmora, deadline);
    EXPECT_EQ(exitCode, std::optional<int>(0)) << Diagnostics();
    const std::vector<std::string> lines = LogLines(log_);
    EXPECT_FALSE(lines.empty()) << Diagnostics();
    if (!lines.empty()) {
      EXPECT_EQ(lines.front(), "软件更新提示：\t已发现新版本,请立即下载！");
    }
    std::optional<pid_t> updater = processes_->WaitForStart("UpDate", deadline);
    EXPECT_TRUE(updater.has_value()) << "UpDate did not start\n" << Diagnostics();
    return updater;
  }

  support::TempDir root_{"velmora-e2e"};
  // A Chinese folder name, as players' installations often have.
  const fs::path run_ = fs::weakly_canonical(root_.path()) / "工具箱";
  const fs::path log_ = root_ / "dialogs.log";
  const fs::path output_ = root_ / "output.txt";
  support::ScopedHome home_;
  support::WinePrefix prefix_;
  HttpServer server_;
  support::ScopedEnv releaseUrl_{"VELMORA_RELEASE_URL", server_.Url("/release")};
  support::ScopedEnv dialogLog_{"VELMORA_TEST_DIALOG_LOG", log_.string()};
  support::ScopedEnv click_{"VELMORA_TEST_CLICK", "立即更新"};
  support::ScopedEnv platform_{"QT_QPA_PLATFORM", "offscreen"};
  std::map<std::string, FileState> old_;
  // Last, so that it ends the programs before the folders and the server go away.
  std::unique_ptr<RunDirectoryProcesses> processes_;
};

TEST(UpdateArchive, HoldsTheInstallationWithUnixModesAndFlaggedUtf8Names) {
  const ArchiveContent& archive = TheArchive();
  for (const std::string& fault : archive.faults) ADD_FAILURE() << fault;

  std::map<std::string, unsigned> expected = {{"Velmora", 0755}, {"UpDate", 0755},
                                              {"velmora-cli", 0755}};
  for (const char* data : {"0.png", "Tamsel.png", "Tamsel启动.png", "01.cur", "版本.txt",
                           "数据列表.sjk", "数据核对.sjk"}) {
    expected[std::string("皮肤图片/") + data] = 0644;
  }
  std::map<std::string, unsigned> actual;
  for (const auto& [name, file] : archive.files) actual[name] = file.mode;
  EXPECT_EQ(actual, expected);
  EXPECT_FALSE(archive.files.at(std::string(kVersionFile)).bytes.empty());
}

TEST_F(EndToEnd, NewVersionIsDownloadedInstalledAndStarted) {
  Publish(kArchivePath, std::to_string(fs::file_size(kArchivePath)),
          update::FileMd5(kArchivePath.string()));
  // With the game running, the cleanup window of the new Velmora says that it cannot clean:
  // the sign that its gate found the versions equal and let it through.
  const auto game = support::StartFakeProcess("DNF.exe");
  const Clock::time_point deadline = Clock::now() + kFlowTime;

  const std::optional<pid_t> updater = HandOver(deadline);
  ASSERT_TRUE(updater.has_value());
  const std::optional<int> updaterExit = processes_->WaitForExit(*updater, deadline);
  ASSERT_EQ(updaterExit, std::optional<int>(0)) << Diagnostics();
  const std::vector<std::string> lines = LogLines(log_);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "提示：\t安装完成！请使用！"), 1)
      << Diagnostics();
  EXPECT_EQ(CountDialogs("更新失败,请稍后重试！"), 0) << Diagnostics();

  ASSERT_TRUE(WaitForDialog("\t游戏正在进行,清理功能无法使用！", deadline))
      << "the new Velmora did not reach its cleanup window\n" << Diagnostics();
  EXPECT_EQ(CountDialogs("\t已发现新版本,请立即下载！"), 1) << Diagnostics();
  EXPECT_FALSE(processes_->Find("Velmora").empty()) << "the new Velmora ended\n" << Diagnostics();
  EXPECT_TRUE(processes_->Find("UpDate").empty());
  processes_->EndAll();

  // The installation is exactly the archive: no package archive, notes, staging, backup or
  // journal left behind, and the modes of the archive (the read-only picture replaced).
  const Tree tree = Snapshot(run_);
  const ArchiveContent& archive = TheArchive();
  EXPECT_EQ(Differences(archive.files, tree.files), "") << Diagnostics();
  EXPECT_EQ(StrayFolders(tree, archive.files), "");
}

// How the package on the server is damaged.
enum class Damage {
  CorruptEntry,  // bytes inside an entry changed; the share page names this file's size and md5
  CutTransfer,   // the right file, but every connection that reaches its middle is cut
  WrongMd5,      // the right file, but the share page names another md5
};

struct DamageCase {
  const char* name;
  Damage damage;
};

void PrintTo(const DamageCase& damageCase, std::ostream* out) { *out << damageCase.name; }

class DamagedPackage : public EndToEnd, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedPackage, FailsAndLeavesTheInstallationAsItWas) {
  const std::uintmax_t archiveSize = fs::file_size(kArchivePath);
  fs::path package = kArchivePath;
  std::string size = std::to_string(archiveSize);
  std::string md5 = update::FileMd5(kArchivePath.string());
  FileAnswer answer;
  switch (GetParam().damage) {
    case Damage::CorruptEntry: {
      // A third into the file lies inside the deflated data of one of the programs.
      std::string bytes = support::ReadFile(kArchivePath).value_or(std::string());
      ASSERT_EQ(bytes.size(), archiveSize);
      for (std::size_t at = bytes.size() / 3; at < bytes.size() / 3 + 64; ++at) bytes[at] ^= 0x5a;
      package = root_ / "corrupt.zip";
      support::WriteFile(package, bytes);
      md5 = update::FileMd5(package.string());
      break;
    }
    case Damage::CutTransfer:
      answer.cutAt = static_cast<long long>(archiveSize / 2);
      break;
    case Damage::WrongMd5:
      md5 = "0123456789abcdef0123456789abcdef";
      break;
  }
  ASSERT_EQ(md5.size(), 32u);
  Publish(package, size, md5, answer);
  const Tree before = Snapshot(run_);
  const Clock::time_point deadline = Clock::now() + kFlowTime;

  const std::optional<pid_t> updater = HandOver(deadline);
  ASSERT_TRUE(updater.has_value());
  ASSERT_TRUE(WaitForDialog("\t更新失败,请稍后重试！", deadline)) << Diagnostics();
  EXPECT_EQ(CountDialogs("安装完成！请使用！"), 0) << Diagnostics();
  EXPECT_TRUE(processes_->Find("Velmora").empty()) << "Velmora was started\n" << Diagnostics();
  EXPECT_EQ(processes_->Find("UpDate"), std::vector<pid_t>{*updater})
      << "UpDate should stay open\n" << Diagnostics();
  processes_->EndAll();

  // Everything as it was; only the notes file of the still open window is new.
  Tree after = Snapshot(run_);
  EXPECT_EQ(after.files.erase("1.txt"), 1u);
  EXPECT_EQ(Differences(before.files, after.files), "") << Diagnostics();
  EXPECT_EQ(after.folders, before.folders);
  EXPECT_TRUE(after.others.empty());
}

INSTANTIATE_TEST_SUITE_P(Packages, DamagedPackage,
                         ::testing::Values(DamageCase{"CorruptEntry", Damage::CorruptEntry},
                                           DamageCase{"CutTransfer", Damage::CutTransfer},
                                           DamageCase{"WrongMd5", Damage::WrongMd5}),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
