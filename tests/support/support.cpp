#include "tests/support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "platform/paths.h"

namespace support {
namespace {

namespace fs = std::filesystem;

// Folders a test made unreadable must still go away with the fixture.
void MakeRemovable(const fs::path& root) {
  std::error_code error;
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
  for (auto it = fs::recursive_directory_iterator(
           root, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
}

// Decodes UTF-8 to code points; a malformed byte stands for itself.
std::vector<char32_t> CodePoints(std::string_view utf8) {
  std::vector<char32_t> points;
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    int length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + static_cast<std::size_t>(length) > utf8.size()) {
      points.push_back(c);
      ++i;
      continue;
    }
    char32_t point = length == 1 ? c : length == 2 ? (c & 0x1F) : length == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < length; ++k) {
      point = (point << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
    }
    points.push_back(point);
    i += static_cast<std::size_t>(length);
  }
  return points;
}

bool IsAsciiHexDigit(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

TempDir::TempDir(std::string_view label, const fs::path& parent) {
  std::string pattern = (parent / (std::string(label) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a temporary folder: " << std::strerror(errno);
    return;
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code error;
  fs::remove_all(path_, error);
  if (error) {
    MakeRemovable(path_);
    fs::remove_all(path_, error);
  }
}

common::Text TempDir::Text() const { return platform::ProgramPath(path_); }

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* previous = std::getenv(name_.c_str()); previous != nullptr) previous_ = previous;
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    ::setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedHome::ScopedHome()
    : home_("HOME", dir_.path().string()),
      configHome_("XDG_CONFIG_HOME", (dir_.path() / ".config").string()),
      desktopDir_("XDG_DESKTOP_DIR", std::nullopt) {
  std::error_code error;
  fs::create_directories(dir_.path() / "Desktop", error);
  WriteFile(dir_.path() / ".config" / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
}

std::string RegEscape(std::string_view utf8) {
  const std::vector<char32_t> points = CodePoints(utf8);
  std::string out;
  char buffer[16];
  for (std::size_t i = 0; i < points.size(); ++i) {
    const char32_t c = points[i];
    const bool hexFollows = i + 1 < points.size() && IsAsciiHexDigit(points[i + 1]);
    if (c >= 0x80) {
      char16_t units[2];
      int count = 1;
      if (c >= 0x10000) {
        units[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        units[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        count = 2;
      } else {
        units[0] = static_cast<char16_t>(c);
      }
      for (int k = 0; k < count; ++k) {
        const bool padded = k + 1 < count || hexFollows;
        std::snprintf(buffer, sizeof buffer, padded ? "\\x%04x" : "\\x%x", unsigned{units[k]});
        out += buffer;
      }
    } else if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20) {
      const bool octalFollows = i + 1 < points.size() && points[i + 1] >= '0' && points[i + 1] <= '7';
      std::snprintf(buffer, sizeof buffer, octalFollows ? "\\%03o" : "\\%o", unsigned(c));
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string RegSz(std::string_view utf8) { return "\"" + RegEscape(utf8) + "\""; }

std::string RegExpandSz(std::string_view utf8) { return "str(2):\"" + RegEscape(utf8) + "\""; }

WinePrefix::WinePrefix() : prefix_("WINEPREFIX", dir_.path().string()) {
  std::error_code error;
  fs::create_directories(driveC(), error);
  fs::create_directories(dir_.path() / "dosdevices", error);
  if (error) ADD_FAILURE() << "cannot lay out the Wine prefix: " << error.message();
  MapDrive('c', "../drive_c");
  MapDrive('z', "/");
}

WinePrefix::~WinePrefix() = default;

void WinePrefix::MapDrive(char letter, const fs::path& target) const {
  if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
  const fs::path link = dir_.path() / "dosdevices" / (std::string(1, letter) + ":");
  std::error_code error;
  fs::remove(link, error);
  fs::create_directory_symlink(target, link, error);
  if (error) ADD_FAILURE() << "cannot map drive " << letter << ": " << error.message();
}

void WinePrefix::WriteRegistry(const std::vector<RegEntry>& entries) const {
  std::vector<std::string> keys;
  std::map<std::string, std::vector<const RegEntry*>> byKey;
  for (const RegEntry& entry : entries) {
    auto& values = byKey[entry.key];
    if (values.empty()) keys.push_back(entry.key);
    values.push_back(&entry);
  }
  std::ostringstream out;
  out << "WINE REGISTRY Version 2\n";
  out << ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n";
  out << "#arch=win32\n";
  for (const std::string& key : keys) {
    out << "\n[" << RegEscape(key) << "] 1796990753\n";
    out << "#time=1dd8967f89faf42\n";
    for (const RegEntry* entry : byKey[key]) {
      if (entry->valueName == "@") {
        out << "@=";
      } else {
        out << "\"" << RegEscape(entry->valueName) << "\"=";
      }
      out << entry->rawData << "\n";
    }
  }
  WriteRegistryRaw(out.str());
}

void WinePrefix::WriteRegistryRaw(std::string_view content) const {
  WriteFile(dir_.path() / "user.reg", content);
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::error_code error;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return bytes.str();
}

void SetModifiedTime(const fs::path& path, int year, int month, int day, int hour, int minute) {
  struct tm local {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_isdst = -1;
  const time_t when = ::mktime(&local);
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    ADD_FAILURE() << "cannot set the time of " << path << ": " << std::strerror(errno);
  }
}

FakeProcess::FakeProcess(const std::string& name, const std::string& argv0) {
  if (dir_.path().empty()) return;
  const fs::path program = dir_ / name;
  std::error_code error;
  fs::copy_file("/bin/sleep", program, error);
  if (!error) fs::permissions(program, fs::perms::owner_all, fs::perm_options::replace, error);
  if (error) {
    ADD_FAILURE() << "cannot copy sleep to " << program << ": " << error.message();
    return;
  }
  const std::string file = program.string();
  std::string first = argv0.empty() ? file : argv0;
  std::string argument = "60";
  char* const argv[] = {first.data(), argument.data(), nullptr};
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(report[0]);
    ::execv(file.c_str(), argv);
    const int failure = errno;
    [[maybe_unused]] const ssize_t written = ::write(report[1], &failure, sizeof failure);
    ::_exit(127);
  }
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return;
  }
  // The pipe closes at the exec: from then on /proc shows the new name.
  int failure = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  pid_ = child;
  if (got > 0) {
    ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(failure);
    Stop();
  }
}

FakeProcess::~FakeProcess() { Stop(); }

void FakeProcess::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

std::unique_ptr<FakeProcess> StartFakeProcess(const std::string& name) {
  return std::make_unique<FakeProcess>(name);
}

std::string UniqueName(std::string_view stem, std::string_view suffix) {
  return std::string(stem) + std::to_string(::getpid()) + std::string(suffix);
}


ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& workDir) {
  ProgramRun run;
  TempDir scratch("velmora-run");
  const std::filesystem::path outPath = scratch / "stdout";
  const std::filesystem::path errPath = scratch / "stderr";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (outFd < 0 || errFd < 0 || ::chdir(workDir.c_str()) != 0) ::_exit(126);
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    std::string path = program;
    std::vector<std::string> copies = args;
    std::vector<char*> argv = {path.data()};
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  run.exitCode = pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(outPath).value_or("");
  run.err = ReadFile(errPath).value_or("");
  return run;
}

}  // namespace support
