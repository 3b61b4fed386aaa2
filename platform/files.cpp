// Directory search and file actions over program path texts.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/descriptors.h"
#include "platform/folder_scan.h"
#include "platform/paths.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace common::literals;

enum class Kind { kFile, kFolder, kOther };

bool HasWildcard(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

// The 1-based position of the last separator ("\" or "/") at a character boundary, or -1.
int LastSeparator(const common::Text& text) {
  return std::max(common::FindLast(text, "\\"), common::FindLast(text, "/"));
}

struct PatternParts {
  fs::path folder;       // native folder to list
  common::Text name;     // last component, the wildcard pattern
};

std::optional<PatternParts> SplitPattern(const common::Text& pattern) {
  const int separator = LastSeparator(pattern);
  common::Text folderText;
  common::Text name;
  if (separator > 0) {
    folderText = common::Left(pattern, separator);  // keeps the separator: "\" stays the root
    name = common::Mid(pattern, separator + 1);
  } else if (pattern.size() >= 2 && pattern[1] == ':' &&
             ((pattern[0] >= 'a' && pattern[0] <= 'z') || (pattern[0] >= 'A' && pattern[0] <= 'Z'))) {
    folderText = common::Left(pattern, 2);
    name = common::Mid(pattern, 3);
  } else {
    name = pattern;
  }
  if (name.empty()) return std::nullopt;  // "folder\" names no entry
  PatternParts parts;
  parts.folder = folderText.empty() ? fs::path(".") : NativePath(folderText);
  parts.name = std::move(name);
  if (parts.folder.empty()) return std::nullopt;
  return parts;
}

Kind KindOf(int folderFd, const dirent* entry) {
  switch (entry->d_type) {
    case DT_REG: return Kind::kFile;
    case DT_DIR: return Kind::kFolder;
    case DT_LNK:
    case DT_UNKNOWN: {
      struct stat st;
      if (::fstatat(folderFd, entry->d_name, &st, 0) != 0) return Kind::kOther;
      if (S_ISREG(st.st_mode)) return Kind::kFile;
      if (S_ISDIR(st.st_mode)) return Kind::kFolder;
      return Kind::kOther;
    }
    default: return Kind::kOther;
  }
}

// Calls visit(name, kind, folderFd, rawName) for every matching entry in listing order until
// it returns false.
template <typename Visit>
void ForEachMatch(const common::Text& pattern, Visit&& visit) {
  const auto parts = SplitPattern(common::AsText(pattern));
  if (!parts) return;
  DIR* dir = ::opendir(parts->folder.c_str());
  if (dir == nullptr) return;
  const int folderFd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view raw(entry->d_name);
    if (raw == "." || raw == "..") continue;
    const common::Text name = common::Utf8ToGbkText(raw);
    if (!MatchesWildcard(parts->name, name)) continue;
    if (!visit(name, KindOf(folderFd, entry), folderFd, entry->d_name)) break;
  }
  ::closedir(dir);
}

const common::Text& NotFoundDate() {
  static const common::Text text = "100年1月1日"_gbk;
  return text;
}

common::Text DateText(const struct timespec& when) {
  static std::once_flag zoneRead;
  std::call_once(zoneRead, [] { ::tzset(); });
  const time_t seconds = when.tv_sec;
  struct tm local {};
  if (::localtime_r(&seconds, &local) == nullptr) return NotFoundDate();
  static const common::Text year = "年"_gbk;
  static const common::Text month = "月"_gbk;
  static const common::Text day = "日"_gbk;
  return std::to_string(local.tm_year + 1900) + year + std::to_string(local.tm_mon + 1) + month +
         std::to_string(local.tm_mday) + day;
}

// A new, empty file beside `target`, created exclusively so that it is never someone else's.
int CreateTempBeside(const fs::path& target, fs::path& temp, mode_t mode) {
  static std::atomic<unsigned> counter{0};
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::string name = ".velmora-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1)) + "-" +
                             std::to_string(now.tv_nsec) + ".tmp";
    temp = folder / name;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

bool CopyData(int in, int out) {
  bool plain = false;
  static thread_local char buffer[1 << 16];
  for (;;) {
    if (!plain) {
      const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
      if (copied > 0) continue;
      if (copied == 0) return true;
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
          errno == EPERM || errno == EBADF) {
        plain = true;
        continue;
      }
      return false;
    }
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(out, buffer, static_cast<std::size_t>(got))) return false;
  }
}

// Copies the regular file `source` into a new temporary file beside `target`, with the
// source's permissions and time of last change. The temporary name is returned in `temp`.
bool CopyToTemp(const fs::path& source, const fs::path& target, fs::path& temp) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return false;
  }
  const int out = CreateTempBeside(target, temp, 0600);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = CopyData(in, out);
  ::close(in);
  if (ok) {
    ::fchmod(out, st.st_mode & 07777);
    const struct timespec times[2] = {{0, UTIME_NOW}, st.st_mtim};
    ::futimens(out, times);
  }
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

// Renames `from` to `to` unless `to` exists (atomically where the file system allows it).
// Returns 0 or the errno value.
int RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  const int error = errno;
  if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return error;
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::vector<DirEntry> ListEntries(const common::Text& pattern) {
  std::vector<DirEntry> entries;
  ForEachMatch(pattern, [&](const common::Text& name, Kind kind, int, const char*) {
    entries.push_back(DirEntry{name, kind == Kind::kFolder});
    return true;
  });
  return entries;
}

std::vector<common::Text> FindEntries(const common::Text& pattern) {
  std::vector<common::Text> names;
  ForEachMatch(pattern, [&](const common::Text& name, Kind kind, int, const char*) {
    if (kind == Kind::kFile) names.push_back(name);
    return true;
  });
  return names;
}

common::Text ModifiedDateText(const common::Text& path) {
  const common::Text text = common::AsText(path);
  if (text.empty()) return NotFoundDate();
  const int separator = LastSeparator(text);
  const std::string_view last = std::string_view(text).substr(separator > 0 ? separator : 0);
  if (last.empty()) return NotFoundDate();  // "folder\" is no entry
  if (HasWildcard(last)) {
    std::optional<common::Text> date;
    ForEachMatch(text, [&](const common::Text&, Kind, int folderFd, const char* raw) {
      struct stat st;
      if (::fstatat(folderFd, raw, &st, 0) != 0 &&
          ::fstatat(folderFd, raw, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return true;  // gone meanwhile: try the next match
      }
      date = DateText(st.st_mtim);
      return false;
    });
    return date.value_or(NotFoundDate());
  }
  const fs::path native = NativePath(text);
  struct stat st;
  if (native.empty() || ::stat(native.c_str(), &st) != 0) return NotFoundDate();
  return DateText(st.st_mtim);
}

bool FileExists(const common::Text& path) {
  const fs::path native = NativePath(path);
  struct stat st;
  return !native.empty() && ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const common::Text& path) {
  const fs::path native = NativePath(path);
  struct stat st;
  return !native.empty() && ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> ReadFileBytes(const common::Text& path) {
  const fs::path native = NativePath(path);
  if (native.empty()) return std::nullopt;
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes;
  if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return bytes;
}

bool WriteFileBytes(const common::Text& path, const std::string& bytes) {
  const fs::path native = NativePath(path);
  if (native.empty()) return false;
  struct stat existing;
  const bool exists = ::stat(native.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return false;
  fs::path temp;
  const int fd = CreateTempBeside(native, temp, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes.data(), bytes.size());
  if (ok && exists) ::fchmod(fd, existing.st_mode & 07777);
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(temp.c_str(), native.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool DeleteFileAt(const common::Text& path) {
  const fs::path native = NativePath(path);
  return !native.empty() && ::unlink(native.c_str()) == 0;
}

bool CopyFileReplacing(const common::Text& source, const common::Text& target) {
  const fs::path from = NativePath(source);
  const fs::path to = NativePath(target);
  if (from.empty() || to.empty()) return false;
  struct stat st;
  if (::stat(to.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
  fs::path temp;
  if (!CopyToTemp(from, to, temp)) return false;
  if (::rename(temp.c_str(), to.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool MoveFileNoReplace(const common::Text& source, const common::Text& target) {
  const fs::path from = NativePath(source);
  const fs::path to = NativePath(target);
  if (from.empty() || to.empty()) return false;
  struct stat st;
  if (::lstat(from.c_str(), &st) != 0) return false;
  const int error = RenameNoReplace(from, to);
  if (error == 0) return true;
  if (error != EXDEV || !S_ISREG(st.st_mode)) return false;

  // Another file system: copy, publish the copy without replacing anything, then remove the
  // source. Should the source refuse to go, the copy goes again, so a failed move leaves
  // exactly the files that were there before.
  fs::path temp;
  if (!CopyToTemp(from, to, temp)) return false;
  if (RenameNoReplace(temp, to) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  if (::unlink(from.c_str()) != 0) {
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

}  // namespace platform
