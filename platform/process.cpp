// Process lookup through /proc and detached program starts.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <string_view>

#include "platform/ascii.h"
#include "platform/paths.h"

#if __has_include(<linux/close_range.h>)
#include <linux/close_range.h>
#endif

namespace platform {
namespace {

// Reads up to `capacity` bytes of a small /proc file relative to the process folder.
std::size_t ReadSmall(int folder, const char* name, char* buffer, std::size_t capacity) {
  const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t total = 0;
  while (total < capacity) {
    const ssize_t got = ::read(fd, buffer + total, capacity - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return total;
}

// A process that has ended but is not yet reaped still shows its name; it does not run.
bool IsEnded(int folder) {
  char stat[512];
  const std::size_t size = ReadSmall(folder, "stat", stat, sizeof stat);
  const std::string_view text(stat, size);
  const std::size_t paren = text.rfind(')');
  if (paren == std::string_view::npos || paren + 2 >= text.size()) return false;
  const char state = text[paren + 2];
  return state == 'Z' || state == 'X';
}

// The kernel keeps at most this many bytes of an executable's name in comm.
constexpr std::size_t kCommLength = 15;

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool ProcessMatches(int folder, std::string_view wanted) {
  char commBuffer[64];
  std::string_view comm(commBuffer, ReadSmall(folder, "comm", commBuffer, sizeof commBuffer));
  if (!comm.empty() && comm.back() == '\n') comm.remove_suffix(1);

  // argv[0]: its base name, with either separator (Wine shows Windows paths there).
  char buffer[4096];
  std::string_view argv0(buffer, ReadSmall(folder, "cmdline", buffer, sizeof buffer));
  if (const std::size_t end = argv0.find('\0'); end != std::string_view::npos) {
    argv0 = argv0.substr(0, end);
  }
  if (const std::size_t slash = argv0.find_last_of("/\\"); slash != std::string_view::npos) {
    argv0.remove_prefix(slash + 1);
  }

  bool matches = EqualsIgnoringAsciiCase(argv0, wanted);
  if (!matches && EqualsIgnoringAsciiCase(comm, wanted)) {
    // A comm of full length may be the cut form of a longer name; argv[0] then tells which.
    const bool cut = comm.size() == kCommLength && argv0.size() > kCommLength &&
                     StartsWithIgnoringAsciiCase(argv0, comm);
    matches = !cut;
  }
  return matches && !IsEnded(folder);
}

}  // namespace

bool IsProcessRunning(const common::Text& name) {
  const std::string wanted = common::GbkToUtf8(common::AsText(name));
  if (wanted.empty()) return false;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  const int procFd = ::dirfd(proc);
  bool found = false;
  while (!found) {
    const dirent* entry = ::readdir(proc);
    if (entry == nullptr) break;
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;  // processes only
    const int folder = ::openat(procFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) continue;  // gone meanwhile, or not ours to read
    found = ProcessMatches(folder, wanted);
    ::close(folder);
  }
  ::closedir(proc);
  return found;
}

namespace {

void ReportAndExit(int pipeFd, int error) {
  ssize_t written;
  do {
    written = ::write(pipeFd, &error, sizeof error);
  } while (written < 0 && errno == EINTR);
  ::_exit(127);
}

}  // namespace

bool StartProgram(const common::Text& commandLine) {
  const common::Text text = common::AsText(commandLine);
  if (text.empty()) return false;
  std::filesystem::path program = NativePath(text);
  std::error_code error;
  if (common::EndsWith(text, ".exe", true) && !std::filesystem::exists(program, error)) {
    program = NativePath(common::Left(text, static_cast<int>(text.size()) - 4));
  }
  if (program.empty()) return false;

  // Everything the children need is prepared here: after fork only async-signal-safe calls.
  const std::string file = program.native();
  char* const argv[] = {const_cast<char*>(file.c_str()), nullptr};

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;

  const pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (child == 0) {
    ::close(report[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild < 0) ReportAndExit(report[1], errno);
    if (grandchild > 0) ::_exit(0);
    // The started program owes nothing to this process: default signal handling, an empty
    // signal mask, and no inherited descriptors beyond the standard three.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number) ::sigaction(number, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
#ifdef CLOSE_RANGE_CLOEXEC
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
#endif
    ::execv(file.c_str(), argv);
    ReportAndExit(report[1], errno);
  }

  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int childError = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  const bool intermediateOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return intermediateOk && got == 0;
}

}  // namespace platform
