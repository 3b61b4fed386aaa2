// A folder read once per scan: wildcard matches and dates from one directory handle.
#include "platform/folder_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/paths.h"

namespace platform {
namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Equal characters at the given offsets of a pattern and a name, each `length` bytes long.
// Only a single-byte character folds case: the second byte of a double-byte character may lie
// in the ASCII letter range and is compared as it is.
bool SameChar(std::string_view pattern, std::size_t p, std::string_view name, std::size_t n,
              std::size_t length) {
  if (length == 1) return FoldAscii(pattern[p]) == FoldAscii(name[n]);
  return pattern.substr(p, length) == name.substr(n, length);
}

// Byte length of the character at the offset: 2 for a lead byte with a byte after it.
std::size_t LengthAt(std::string_view text, std::size_t offset) {
  return offset + 1 < text.size() && common::IsLeadByte(static_cast<unsigned char>(text[offset]))
             ? 2
             : 1;
}

// Two texts of equal length with the same characters, single-byte letters ignoring case.
bool SameText(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  while (i < a.size()) {
    const std::size_t length = LengthAt(a, i);
    if (LengthAt(b, i) != length || !SameChar(a, i, b, i, length)) return false;
    i += length;
  }
  return true;
}

bool HasAsciiCapital(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// Local time of a file time. The time zone is read once per process: with TZ unset, each
// conversion would otherwise look at /etc/localtime again.
bool LocalDate(time_t when, int& year, int& month, int& day) {
  static std::once_flag zoneRead;
  std::call_once(zoneRead, [] { ::tzset(); });
  struct tm local;
  if (::localtime_r(&when, &local) == nullptr) return false;
  year = local.tm_year + 1900;
  month = local.tm_mon + 1;
  day = local.tm_mday;
  return true;
}

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") pattern = "*";  // every name, with or without a dot
  if (pattern.find_first_of("*?") == std::string_view::npos) {
    // A plain name: equal characters throughout.
    return pattern.size() == name.size() && SameText(pattern, name);
  }
  if (pattern.front() == '*' && pattern.find_first_of("*?", 1) == std::string_view::npos) {
    // "*" and a plain ending ("*.npk"): the name ends with it, from a character boundary.
    const std::string_view ending = pattern.substr(1);
    if (ending.size() > name.size()) return false;
    const std::size_t start = name.size() - ending.size();
    std::size_t i = 0;
    while (i < start) i += LengthAt(name, i);
    return i == start && SameText(ending, name.substr(start));
  }
  // Greedy matching with one back-track point for the last "*" seen.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starN = 0;
  while (n < name.size()) {
    const std::size_t nameLength = LengthAt(name, n);
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
      continue;
    }
    if (p < pattern.size()) {
      if (pattern[p] == '?') {
        ++p;
        n += nameLength;
        continue;
      }
      const std::size_t patternLength = LengthAt(pattern, p);
      if (patternLength == nameLength && SameChar(pattern, p, name, n, nameLength)) {
        p += patternLength;
        n += nameLength;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    // Let the last "*" take one more character of the name and try again after it.
    starN += LengthAt(name, starN);
    n = starN;
    p = starP;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

common::Text DateText(int year, int month, int day) {
  using namespace common::literals;
  static const common::Text kYear = "年"_gbk;
  static const common::Text kMonth = "月"_gbk;
  static const common::Text kDay = "日"_gbk;
  common::Text text = std::to_string(year);
  text += kYear;
  text += std::to_string(month);
  text += kMonth;
  text += std::to_string(day);
  text += kDay;
  return text;
}

common::Text MissingFileDateText() { return DateText(100, 1, 1); }

FolderScan::FolderScan(const common::Text& folder) {
  if (common::AsText(folder).empty()) return;
  const std::filesystem::path native = NativePath(folder);
  if (native.empty()) return;
  const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  dir_ = ::fdopendir(fd);
  if (dir_ == nullptr) {
    ::close(fd);
    return;
  }
  const int dirFd = ::dirfd(dir_);
  while (const dirent* item = ::readdir(dir_)) {
    const std::string_view onDisk(item->d_name);
    if (onDisk == "." || onDisk == "..") continue;
    Entry entry;
    if (item->d_type == DT_REG) {
      entry.regular = true;
    } else if (item->d_type == DT_LNK || item->d_type == DT_UNKNOWN) {
      struct stat st;  // a link counts as what it points to
      entry.regular = ::fstatat(dirFd, item->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
    }
    if (IsAscii(onDisk)) {
      entry.name = std::string(onDisk);  // the same bytes in both encodings
    } else {
      entry.native = std::string(onDisk);
      entry.name = common::Utf8ToGbkText(onDisk);
      // A character that GBK cannot hold became "?": that program name names no file.
      entry.exact = !entry.name.empty() && std::count(entry.name.begin(), entry.name.end(), '?') ==
                                               std::count(onDisk.begin(), onDisk.end(), '?');
    }
    if (HasAsciiCapital(entry.name)) entry.folded = common::ToLower(entry.name);
    entries_.push_back(std::move(entry));
  }
  // The index refers into entries_, which does not change any more.
  byFoldedName_.reserve(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& entry = entries_[i];
    if (!entry.exact) continue;
    auto [it, added] = byFoldedName_.try_emplace(entry.Folded(), i);
    // The path lookup takes the entry of exactly that name before one that differs in case.
    if (!added && entry.folded.empty() && !entries_[it->second].folded.empty()) it->second = i;
  }
}

FolderScan::~FolderScan() {
  if (dir_ != nullptr) ::closedir(dir_);
}

std::vector<common::Text> FolderScan::Find(std::string_view pattern) const {
  std::vector<common::Text> names;
  for (const Entry& entry : entries_) {
    if (entry.regular && MatchesWildcard(pattern, entry.name)) names.push_back(entry.name);
  }
  return names;
}

std::vector<std::string_view> FolderScan::FindLowerCase(std::string_view pattern) const {
  std::vector<std::string_view> names;
  for (const Entry& entry : entries_) {
    if (entry.regular && MatchesWildcard(pattern, entry.name)) names.push_back(entry.Folded());
  }
  return names;
}

common::Text FolderScan::ModifiedDateText(std::string_view name) const {
  if (dir_ == nullptr) return MissingFileDateText();
  const bool lowerCase = !HasAsciiCapital(name);
  const common::Text folded = lowerCase ? common::Text() : common::ToLower(name);
  std::size_t index = entries_.size();
  if (!lowerCase) {
    // Scans ask with lower-case names; any other name is first looked for as written.
    for (std::size_t i = 0; i < entries_.size() && index == entries_.size(); ++i) {
      if (entries_[i].exact && entries_[i].name == name) index = i;
    }
  }
  if (index == entries_.size()) {
    const auto hit = byFoldedName_.find(lowerCase ? name : std::string_view(folded));
    if (hit == byFoldedName_.end()) return MissingFileDateText();
    index = hit->second;
  }
  struct stat st;
  if (::fstatat(::dirfd(dir_), entries_[index].Native().c_str(), &st, 0) != 0) {
    return MissingFileDateText();
  }
  int year = 0;
  int month = 0;
  int day = 0;
  if (!LocalDate(st.st_mtim.tv_sec, year, month, day)) return MissingFileDateText();
  return DateText(year, month, day);
}

}  // namespace platform
