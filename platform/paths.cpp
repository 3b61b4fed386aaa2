// Mapping of Windows-style path texts onto the native file system.
#include "platform/ascii.h"
#include "platform/paths.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStandardPaths>
#include <QString>
#include <cstdlib>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

using detail::FoldAscii;

bool ExistsExactly(const fs::path& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Folder indexes for the lookup that ignores case. A scan asks for hundreds of names of one
// folder in a row; the index of the folder is read once and each hit is checked against the
// file system, so a stale index only costs a fresh read, never a wrong answer.
class FolderIndexCache {
 public:
  // The entry of `folder` whose name equals `name` ignoring ASCII case (the first in listing
  // order), or an empty string.
  std::string Find(const fs::path& folder, std::string_view name) {
    const std::string key = folder.native();
    const std::string folded = FoldAscii(name);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first != key) continue;
      auto hit = it->second.find(folded);
      if (hit != it->second.end() && ExistsExactly(ListedFolder(folder) / hit->second)) {
        entries_.splice(entries_.begin(), entries_, it);
        return hit->second;
      }
      entries_.erase(it);
      break;
    }
    Index index;
    if (!Read(folder, index)) return {};
    std::string found;
    if (auto hit = index.find(folded); hit != index.end()) found = hit->second;
    entries_.emplace_front(key, std::move(index));
    while (entries_.size() > kFolders) entries_.pop_back();
    return found;
  }

 private:
  using Index = std::unordered_map<std::string, std::string>;  // folded name -> real name
  static constexpr std::size_t kFolders = 8;

  static fs::path ListedFolder(const fs::path& folder) {
    return folder.empty() ? fs::path(".") : folder;
  }

  static bool Read(const fs::path& folder, Index& index) {
    DIR* dir = ::opendir(ListedFolder(folder).c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
      std::string_view name(entry->d_name);
      if (name == "." || name == "..") continue;
      index.emplace(FoldAscii(name), std::string(name));  // keeps the first of equal foldings
    }
    ::closedir(dir);
    return true;
  }

  std::mutex mutex_;
  std::list<std::pair<std::string, Index>> entries_;
};

FolderIndexCache& IndexCache() {
  static FolderIndexCache cache;
  return cache;
}

fs::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
    return user->pw_dir;
  }
  return {};
}

fs::path WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
    return prefix;
  }
  const fs::path home = HomeFolder();
  if (home.empty()) return {};
  return home / ".wine";
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::vector<std::string_view> Components(std::string_view utf8) {
  std::vector<std::string_view> parts;
  std::size_t begin = 0;
  for (std::size_t i = 0; i <= utf8.size(); ++i) {
    if (i == utf8.size() || utf8[i] == '\\' || utf8[i] == '/') {
      if (i > begin) parts.push_back(utf8.substr(begin, i - begin));
      begin = i + 1;
    }
  }
  return parts;
}

std::string ToUtf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

std::filesystem::path NativePath(const common::Text& path) {
  const common::Text text = common::AsText(path);
  if (text.empty()) return {};
  // UTF-8 never carries "\" or "/" inside a multi-byte character, unlike GBK, whose trail
  // bytes may equal "\": convert first, split afterwards.
  const std::string utf8 = common::GbkToUtf8(text);
  std::string_view rest = utf8;

  fs::path result;
  bool resolving = true;  // false once a component is missing: nothing below it can exist
  if (rest.size() >= 2 && IsAsciiLetter(rest[0]) && rest[1] == ':') {
    const fs::path prefix = WinePrefix();
    const std::string drive = FoldAscii(rest.substr(0, 2));  // dosdevices names are lower case
    if (prefix.empty()) {
      // Without a home there is no prefix; the drive must still name nothing real.
      result = fs::path("/nonexistent-wine-prefix/dosdevices") / drive;
    } else {
      result = prefix / "dosdevices" / drive;
    }
    struct stat st;
    resolving = ::stat(result.c_str(), &st) == 0;
    rest.remove_prefix(2);
  } else if (rest.front() == '\\' || rest.front() == '/') {
    result = "/";
  }

  for (std::string_view component : Components(rest)) {
    fs::path next = result / fs::path(std::string(component));
    if (resolving && component != "." && component != ".." && !ExistsExactly(next)) {
      const std::string real = IndexCache().Find(result, component);
      if (real.empty()) {
        resolving = false;
      } else {
        next = result / fs::path(real);
      }
    }
    result = std::move(next);
  }
  return result;
}

common::Text ProgramPath(const std::filesystem::path& native) {
  const common::Text text = common::Utf8ToGbkText(native.native());
  return common::Replace(text, "/", "\\");
}

common::Text RunDirectory() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const fs::path folder = exe.parent_path();
  if (folder == "/") return {};
  return ProgramPath(folder);
}

common::Text CurrentDirectory() {
  std::error_code error;
  const fs::path current = fs::current_path(error);
  if (error) return {};
  return ProgramPath(current);
}

common::Text DesktopFolder() {
  std::string desktop = ToUtf8(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
  while (desktop.size() > 1 && desktop.back() == '/') desktop.pop_back();
  if (desktop == "/") return {};
  return ProgramPath(desktop);
}

}  // namespace platform
