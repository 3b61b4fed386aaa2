// The archive check and the all-or-nothing install.
//
// Layout inside the installation folder while an install runs (the archive may not use these
// names: an entry whose first component starts with ".velmora-update" is refused):
//   .velmora-update-staging/   the extracted archive, same relative paths as the targets
//   .velmora-update-backup/    the replaced files of the installation, same relative paths
//   .velmora-update-journal    what the swap does; written whole to a temporary name, synced and
//                              renamed, so that it is either the old version or the new one
//
// The swap, in the journal's terms:
//   "swapping": the planned folders (D) and files (F, with whether an old file existed) are
//               listed before the first change. Rolling back means: move every backup back,
//               remove every new file that had no old one, remove the new folders.
//   "done":     every file is in place; what is left is removing the backups and the staging.
// A journal that is missing means that nothing of the installation was touched (a leftover
// staging folder is simply removed). Every step of the roll-back and of the clean-up can be run
// again after a kill, so recovery is the same routine whether the install stopped on its own or
// was cut short.
//
// The journal guards against a kill of the process. The staged file contents are not synced
// before the commit: against a kill that changes nothing, and syncing the whole archive would
// cost more than extracting it.
#include "update/install.h"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <thread>
#include <mutex>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "common/text.h"
#include "platform/ascii.h"
#include "platform/descriptors.h"

namespace update {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBufferSize = 256 * 1024;
constexpr std::size_t kMaxReaders = 4;  // readers of the archive at once, at most one per core
constexpr std::string_view kReservedPrefix = ".velmora-update";
constexpr const char* kStagingName = ".velmora-update-staging";
constexpr const char* kBackupName = ".velmora-update-backup";
constexpr const char* kJournalName = ".velmora-update-journal";
constexpr const char* kJournalTempName = ".velmora-update-journal.new";
constexpr std::string_view kJournalHeader = "velmora-update journal 1";

constexpr unsigned long kMadeByUnix = 3;
constexpr unsigned long kFlagEncrypted = 1u << 0;
constexpr unsigned long kFlagUtf8 = 1u << 11;
constexpr unsigned long kDosFolderAttribute = 0x10;

std::atomic<detail::RenameHook> g_renameHook{nullptr};
std::atomic<detail::StepHook> g_stepHook{nullptr};

// The readers of the archive run on several threads; a test's hook sees one step at a time.
void Step(const char* name) {
  static std::mutex lock;
  if (const detail::StepHook hook = g_stepHook.load()) {
    const std::lock_guard<std::mutex> held(lock);
    hook(name);
  }
}

// One entry of the archive, checked and normalised.
struct Entry {
  std::string relative;  // UTF-8, components joined with '/', no empty, "." or ".." component
  bool folder = false;
  std::optional<mode_t> unixMode;  // permission bits of an entry made on Unix
  std::uint64_t size = 0;          // uncompressed size from the central directory
  std::uint64_t packedSize = 0;    // compressed size: what reading the entry costs
  unz64_file_pos position{};       // where its header is, for a reader of its own
};

// One target of the installation, resolved against what is there.
struct Target {
  std::string relative;  // relative to the installation, spelled as an existing name if one
                         // matches ignoring case, else as in the archive
  bool folder = false;
  bool oldExists = false;  // a file (or link) is there now and will be backed up
  bool inTheWay = false;   // a folder stands where the archive has a file, or a file where it
                           // has a folder
  mode_t mode = 0644;
};

struct ArchiveCloser {
  void operator()(void* file) const { unzClose(static_cast<unzFile>(file)); }
};
using Archive = std::unique_ptr<void, ArchiveCloser>;

// ---------------------------------------------------------------------------------------------
// Names and the safety rules

// Normalises an entry name (UTF-8); returns why it is unsafe, or an empty text.
std::string NormaliseName(const std::string& name, std::string& relative, bool& folder) {
  if (name.empty()) return "an entry without a name";
  if (name.front() == '/' || name.front() == '\\') return "an absolute path: " + name;
  relative.clear();
  folder = name.back() == '/' || name.back() == '\\';
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string_view part(name.data() + start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return "a path that climbs out: " + name;
    if (part.find(':') != std::string_view::npos) {
      return relative.empty() && part.size() >= 2 && part[1] == ':' ? "a drive letter: " + name
                                                                    : "a colon in a name: " + name;
    }
    for (const char c : part) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "a control character in a name";
    }
    if (!relative.empty()) relative += '/';
    relative += part;
  }
  if (relative.empty()) return "an entry without a name: " + name;
  const std::string first = platform::detail::FoldAscii(relative.substr(0, relative.find('/')));
  if (first.compare(0, kReservedPrefix.size(), kReservedPrefix) == 0) {
    return "a name the install keeps for itself: " + name;
  }
  return {};
}

// Tracks every path of the archive, folded, to refuse names that collide ignoring case and a
// path that is both a file and a folder.
class NameSet {
 public:
  std::string Add(const std::string& relative, bool folder) {
    std::size_t slash = relative.find('/');
    while (slash != std::string::npos) {
      if (std::string why = Put(relative.substr(0, slash), true); !why.empty()) return why;
      slash = relative.find('/', slash + 1);
    }
    return Put(relative, folder);
  }

 private:
  std::string Put(const std::string& path, bool folder) {
    const auto [it, added] = seen_.try_emplace(platform::detail::FoldAscii(path), path, folder);
    if (added) return {};
    if (it->second.first != path)
      return "names that differ only in case: " + it->second.first + " and " + path;
    if (!folder || !it->second.second) return "a path given twice or as file and folder: " + path;
    return {};
  }

  std::unordered_map<std::string, std::pair<std::string, bool>> seen_;  // folded -> name, folder
};

// The UTF-8 name of the current entry from its Unicode path extra field (0x7075, which some
// tools write instead of setting flag bit 11), when the field belongs to the name as it stands.
bool UnicodePathField(unzFile archive, const std::string& raw, std::vector<unsigned char>& extra,
                      std::string& utf8) {
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, extra.data(), extra.size(), nullptr, 0) !=
      UNZ_OK) {
    return false;
  }
  const std::size_t size = std::min<std::size_t>(info.size_file_extra, extra.size());
  for (std::size_t at = 0; at + 4 <= size;) {
    const unsigned id = extra[at] | (extra[at + 1] << 8);
    const std::size_t length = extra[at + 2] | (extra[at + 3] << 8);
    const unsigned char* data = extra.data() + at + 4;
    at += 4 + length;
    if (at > size) break;
    if (id != 0x7075 || length < 5 || data[0] != 1) continue;
    const unsigned long nameCrc =
        data[1] | (data[2] << 8) | (data[3] << 16) | (static_cast<unsigned long>(data[4]) << 24);
    if (nameCrc !=
        crc32(0, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size()))) {
      return false;  // the name was changed after the field was written
    }
    utf8.assign(reinterpret_cast<const char*>(data + 5), length - 5);
    return true;
  }
  return false;
}

// Reads the central directory: every entry, normalised and checked, in archive order.
std::string ListEntries(unzFile archive, std::vector<Entry>& entries) {
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(archive, &global) != UNZ_OK) return "unreadable central directory";
  if (global.number_entry == 0) return "an archive without entries";
  std::vector<char> name(65536 + 1);
  std::vector<unsigned char> extra(65536);
  NameSet names;
  int rc = unzGoToFirstFile(archive);
  while (rc == UNZ_OK) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive, &info, name.data(), name.size(), nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
      return "unreadable entry header";
    }
    const std::string raw(name.data(), std::min<std::size_t>(info.size_filename, name.size() - 1));
    if (raw.find('\0') != std::string::npos) return "a zero byte in a name";
    std::string utf8;
    if (info.flag & kFlagUtf8) {
      utf8 = raw;
    } else if (!UnicodePathField(archive, raw, extra, utf8)) {
      utf8 = common::GbkToUtf8(raw);
    }
    if (utf8.find('\0') != std::string::npos) return "a zero byte in a name";
    if (info.flag & kFlagEncrypted) return "an encrypted entry: " + utf8;
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
      return "an unsupported compression method: " + utf8;
    }
    Entry entry;
    if (std::string why = NormaliseName(utf8, entry.relative, entry.folder); !why.empty()) {
      return why;
    }
    entry.size = info.uncompressed_size;
    entry.packedSize = info.compressed_size;
    if (unzGetFilePos64(archive, &entry.position) != UNZ_OK) return "unreadable entry header";
    if ((info.version >> 8) == kMadeByUnix && (info.external_fa >> 16) != 0) {
      const mode_t mode = static_cast<mode_t>(info.external_fa >> 16);
      switch (mode & S_IFMT) {
        case S_IFLNK:
          return "a symbolic link: " + utf8;
        case S_IFDIR:
          entry.folder = true;
          break;
        case 0:
        case S_IFREG:
          break;
        default:
          return "a special file: " + utf8;
      }
      entry.unixMode = mode & 0777;
    } else if ((info.version >> 8) == 0 && (info.external_fa & kDosFolderAttribute) &&
               info.uncompressed_size == 0) {
      entry.folder = true;
    }
    if (std::string why = names.Add(entry.relative, entry.folder); !why.empty()) return why;
    entries.push_back(std::move(entry));
    rc = unzGoToNextFile(archive);
  }
  if (rc != UNZ_END_OF_LIST_OF_FILE) return "unreadable central directory";
  if (entries.size() != global.number_entry) return "entry count differs from the directory";
  return {};
}

// ---------------------------------------------------------------------------------------------
// Files

void SyncPath(const fs::path& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool IsFolder(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A folder with the given mode whatever the umask; an existing folder is fine.
bool MakeFolder(const fs::path& path, mode_t mode) {
  if (::mkdir(path.c_str(), 0700) != 0) return errno == EEXIST && IsFolder(path);
  return ::chmod(path.c_str(), mode) == 0;
}

// Every missing folder up to path, each rwx for the owner only (the staging and backup trees).
bool MakeFolders(const fs::path& path) {
  if (IsFolder(path)) return true;
  if (path.has_parent_path() && path.parent_path() != path && !MakeFolders(path.parent_path())) {
    return false;
  }
  return MakeFolder(path, 0700);
}

void RemoveTree(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

// Resolves archive paths against the installation: a component that does not exist under its
// own name takes the name of an existing one that matches it ignoring ASCII case, as the system
// the programs were made for would.
class InstallTree {
 public:
  explicit InstallTree(fs::path root) : root_(std::move(root)) {}

  std::string Resolve(const std::string& relative) {
    std::string resolved;
    bool parentExists = true;
    std::size_t start = 0;
    while (start < relative.size()) {
      std::size_t end = relative.find('/', start);
      if (end == std::string::npos) end = relative.size();
      std::string part = relative.substr(start, end - start);
      start = end + 1;
      const std::string parent = resolved;
      if (!resolved.empty()) resolved += '/';
      if (parentExists && !Exists(root_ / (resolved + part))) {
        const auto& names = Listing(parent);
        const auto it = names.find(platform::detail::FoldAscii(part));
        if (it != names.end()) {
          part = it->second;
        } else {
          parentExists = false;
        }
      }
      resolved += part;
    }
    return resolved;
  }

 private:
  // Folded name -> name of the folder's entries (the first one met for each folded name).
  const std::unordered_map<std::string, std::string>& Listing(const std::string& folder) {
    auto [it, added] = listings_.try_emplace(folder);
    if (added) {
      std::error_code error;
      for (fs::directory_iterator i(root_ / folder, error), end; !error && i != end;
           i.increment(error)) {
        const std::string name = i->path().filename().string();
        it->second.try_emplace(platform::detail::FoldAscii(name), name);
      }
    }
    return it->second;
  }

  fs::path root_;
  std::unordered_map<std::string, std::unordered_map<std::string, std::string>> listings_;
};

std::vector<Target> PlanTargets(const fs::path& root, const std::vector<Entry>& entries) {
  InstallTree tree(root);
  std::vector<Target> targets;
  targets.reserve(entries.size());
  for (const Entry& entry : entries) {
    Target target;
    target.relative = tree.Resolve(entry.relative);
    target.folder = entry.folder;
    struct stat st {};
    const bool exists = ::lstat((root / target.relative).c_str(), &st) == 0;
    const bool existingFolder = exists && IsFolder(root / target.relative);
    if (entry.folder) {
      target.inTheWay = exists && !existingFolder;
      target.mode = entry.unixMode ? (*entry.unixMode | 0700) : 0755;
    } else {
      target.inTheWay = existingFolder;
      target.oldExists = exists && !existingFolder;
      if (entry.unixMode) {
        target.mode = *entry.unixMode;
      } else if (exists && S_ISREG(st.st_mode)) {
        target.mode = (st.st_mode & 0777) | S_IWUSR;  // read-only is cleared, the rest kept
      }
    }
    targets.push_back(std::move(target));
  }
  return targets;
}

// ---------------------------------------------------------------------------------------------
// Reading the archive

// Writes the files of the archive below a staging folder.
class Stager {
 public:
  Stager(fs::path root, const std::vector<Target>& targets)
      : root_(std::move(root)), targets_(targets) {}

  // Opens the staged file of entry index; false when it cannot be created.
  bool Open(std::size_t index) {
    Step("stage");
    const fs::path path = root_ / targets_[index].relative;
    if (!MakeFolders(path.parent_path())) return false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    index_ = index;
    return fd_ >= 0;
  }
  bool Write(const char* data, std::size_t size) { return platform::WriteAll(fd_, data, size); }
  bool Close() {
    const bool ok = ::fchmod(fd_, targets_[index_].mode) == 0;
    return ::close(fd_) == 0 && ok;
  }
  void Abort() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  fs::path root_;
  const std::vector<Target>& targets_;
  std::size_t index_ = 0;
  int fd_ = -1;
};

enum class ReadFailure { None, Damaged, Unwritable };

Archive OpenArchive(const std::string& path) { return Archive(unzOpen64(path.c_str())); }

// Reads the given entries to their ends, verifying each CRC and size; with a stager, writes the
// files as they are read. Stops early once `stop` is set (another reader failed). Returns the
// first failing entry's index, or entries.size() when all passed.
std::size_t ReadSomeEntries(unzFile archive, const std::vector<Entry>& entries,
                            const std::vector<std::size_t>& indices, Stager* stager,
                            const std::atomic<bool>& stop, ReadFailure& failure,
                            std::string& why) {
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  for (const std::size_t i : indices) {
    if (stop.load()) break;
    const Entry& entry = entries[i];
    unz64_file_pos position = entry.position;
    if (unzGoToFilePos64(archive, &position) != UNZ_OK || unzOpenCurrentFile(archive) != UNZ_OK) {
      why = "unreadable entry: " + entry.relative;
      failure = ReadFailure::Damaged;
      return i;
    }
    const bool writing = stager != nullptr && !entry.folder;
    if (writing && !stager->Open(i)) {
      unzCloseCurrentFile(archive);
      why = "cannot stage " + entry.relative + ": " + std::strerror(errno);
      failure = ReadFailure::Unwritable;
      return i;
    }
    std::uint64_t count = 0;
    int n = 0;
    while ((n = unzReadCurrentFile(archive, buffer.get(), kBufferSize)) > 0) {
      count += static_cast<std::uint64_t>(n);
      if (writing && !stager->Write(buffer.get(), static_cast<std::size_t>(n))) {
        stager->Abort();
        unzCloseCurrentFile(archive);
        why = "cannot stage " + entry.relative + ": " + std::strerror(errno);
        failure = ReadFailure::Unwritable;
        return i;
      }
    }
    // The CRC is compared only when the entry was read to the size the directory gives, so the
    // byte count is checked as well.
    const int closed = unzCloseCurrentFile(archive);
    if (n < 0 || closed != UNZ_OK || count != entry.size) {
      if (writing) stager->Abort();
      why = (closed == UNZ_CRCERROR ? "CRC error in "
             : n < 0                ? "broken data in "
                                    : "wrong size of ") +
            entry.relative;
      failure = ReadFailure::Damaged;
      return i;
    }
    if (writing && !stager->Close()) {
      why = "cannot stage " + entry.relative + ": " + std::strerror(errno);
      failure = ReadFailure::Unwritable;
      return i;
    }
  }
  return entries.size();
}

// Reads every entry of the archive to its end, verifying its CRC and its size; with a staging
// root, writes the files below it. Inflating is the cost, so the entries are shared out, largest
// first, between readers on threads of their own, each with its own handle of the archive. When
// several entries fail, the first in archive order is the one reported.
ReadFailure ReadEntries(const std::string& archivePath, const std::vector<Entry>& entries,
                        const fs::path* stagingRoot, const std::vector<Target>* targets,
                        std::string& why) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t readers = std::min<std::size_t>({cores, kMaxReaders, entries.size()});
  std::vector<std::vector<std::size_t>> shares(std::max<std::size_t>(readers, 1));
  {
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return entries[a].packedSize > entries[b].packedSize;
    });
    std::vector<std::uint64_t> load(shares.size(), 0);
    for (const std::size_t i : order) {
      const std::size_t least = static_cast<std::size_t>(
          std::min_element(load.begin(), load.end()) - load.begin());
      shares[least].push_back(i);
      load[least] += entries[i].packedSize + 1;
    }
    for (auto& share : shares) std::sort(share.begin(), share.end());  // archive order
  }

  struct Result {
    std::size_t failedAt;
    ReadFailure failure = ReadFailure::None;
    std::string why;
  };
  std::vector<Result> results(shares.size(), Result{entries.size(), ReadFailure::None, {}});
  std::atomic<bool> stop{false};
  auto read = [&](std::size_t reader) {
    Result& result = results[reader];
    const Archive archive = OpenArchive(archivePath);
    if (!archive) {
      result = {0, ReadFailure::Damaged, "not a readable archive"};
    } else {
      std::optional<Stager> stager;
      if (stagingRoot != nullptr) stager.emplace(*stagingRoot, *targets);
      result.failedAt = ReadSomeEntries(archive.get(), entries, shares[reader],
                                        stager ? &*stager : nullptr, stop, result.failure,
                                        result.why);
    }
    if (result.failure != ReadFailure::None) stop.store(true);
  };

  std::vector<std::thread> threads;
  for (std::size_t reader = 1; reader < shares.size(); ++reader) {
    try {
      threads.emplace_back(read, reader);
    } catch (const std::system_error&) {
      // No thread to be had: this thread reads that share as well.
      shares[0].insert(shares[0].end(), shares[reader].begin(), shares[reader].end());
      shares[reader].clear();
    }
  }
  std::sort(shares[0].begin(), shares[0].end());
  read(0);
  for (std::thread& thread : threads) thread.join();

  const Result* first = nullptr;
  for (const Result& result : results) {
    if (result.failure != ReadFailure::None && (first == nullptr || result.failedAt < first->failedAt))
      first = &result;
  }
  if (first == nullptr) return ReadFailure::None;
  why = first->why;
  return first->failure;
}


// ---------------------------------------------------------------------------------------------
// The journal

struct Journal {
  bool done = false;
  std::vector<std::string> folders;                 // created, top-down
  std::vector<std::pair<std::string, bool>> files;  // relative path, old file existed
};

bool WriteJournal(const fs::path& root, const Journal& journal) {
  std::string text(kJournalHeader);
  text += journal.done ? "\ndone\n" : "\nswapping\n";
  for (const std::string& folder : journal.folders) text += "D " + folder + "\n";
  for (const auto& [file, old] : journal.files) text += (old ? "F 1 " : "F 0 ") + file + "\n";
  const fs::path temp = root / kJournalTempName;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = platform::WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), (root / kJournalName).c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncPath(root, O_RDONLY | O_DIRECTORY);
  return true;
}

// The journal, or nullopt when there is none. A journal that cannot be parsed gives an empty
// "swapping" journal: the backups found are still put back.
std::optional<Journal> ReadJournal(const fs::path& root) {
  const int fd = ::open((root / kJournalName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  Journal journal;
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.size() < 2 || lines[0] != kJournalHeader) return journal;
  journal.done = lines[1] == "done";
  for (std::size_t i = 2; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind("D ", 0) == 0) {
      journal.folders.push_back(line.substr(2));
    } else if (line.rfind("F 0 ", 0) == 0 || line.rfind("F 1 ", 0) == 0) {
      journal.files.emplace_back(line.substr(4), line[2] == '1');
    }
  }
  return journal;
}

// ---------------------------------------------------------------------------------------------
// Roll-back and clean-up, both safe to run again after a kill

// Puts the old installation back; false when some file could not be put back (the journal and
// the backups then stay for the next recovery).
bool RollBack(const fs::path& root, const Journal& journal) {
  const fs::path backup = root / kBackupName;
  bool complete = true;
  for (auto it = journal.files.rbegin(); it != journal.files.rend(); ++it) {
    const fs::path target = root / it->first;
    const fs::path saved = backup / it->first;
    if (Exists(saved)) {
      if (::rename(saved.c_str(), target.c_str()) != 0) complete = false;
    } else if (!it->second && Exists(target) && !IsFolder(target)) {
      if (::unlink(target.c_str()) != 0) complete = false;
    }
  }
  // Whatever else is in the backup came from the installation.
  std::error_code error;
  std::vector<fs::path> left;
  for (fs::recursive_directory_iterator i(backup, error), end; !error && i != end;
       i.increment(error)) {
    if (!i->is_directory()) left.push_back(i->path());
  }
  for (const fs::path& saved : left) {
    const fs::path target = root / saved.lexically_relative(backup);
    if (::rename(saved.c_str(), target.c_str()) != 0) complete = false;
  }
  for (auto it = journal.folders.rbegin(); it != journal.folders.rend(); ++it) {
    ::rmdir((root / *it).c_str());
  }
  return complete;
}

void CleanUp(const fs::path& root) {
  Step("cleanup");
  RemoveTree(root / kBackupName);
  RemoveTree(root / kStagingName);
  ::unlink((root / kJournalTempName).c_str());
  ::unlink((root / kJournalName).c_str());
  SyncPath(root, O_RDONLY | O_DIRECTORY);
}

// Finishes or undoes whatever the journal says; true when the installation is consistent.
bool Recover(const fs::path& root, const Journal& journal) {
  if (!journal.done && !RollBack(root, journal)) return false;
  CleanUp(root);
  return true;
}

bool RenameAllowed(const fs::path& target) {
  const detail::RenameHook hook = g_renameHook.load();
  return hook == nullptr || hook(target.string());
}

InstallOutcome Refused(std::string why) {
  InstallOutcome outcome;
  outcome.result = InstallResult::Damaged;
  outcome.reason = std::move(why);
  return outcome;
}

InstallOutcome Unchanged(std::string why) {
  InstallOutcome outcome;
  outcome.result = InstallResult::RolledBack;
  outcome.reason = std::move(why);
  return outcome;
}

}  // namespace

std::string CheckArchive(const std::string& archiveNativePath) {
  const Archive archive = OpenArchive(archiveNativePath);
  if (!archive) return "not a readable archive";
  std::vector<Entry> entries;
  if (std::string why = ListEntries(archive.get(), entries); !why.empty()) return why;
  std::string why;
  ReadEntries(archiveNativePath, entries, nullptr, nullptr, why);
  return why;
}

InstallOutcome InstallArchive(const std::string& archiveNativePath,
                              const std::string& installNativeFolder) {
  const fs::path root(installNativeFolder);
  RecoverInterruptedInstall(installNativeFolder);
  if (Exists(root / kJournalName)) return Unchanged("an earlier install could not be undone");

  const Archive archive = OpenArchive(archiveNativePath);
  if (!archive) return Refused("not a readable archive");
  std::vector<Entry> entries;
  if (std::string why = ListEntries(archive.get(), entries); !why.empty()) return Refused(why);
  if (!IsFolder(root)) return Unchanged("no installation folder");

  // Extract and check in one pass; nothing outside the staging folder is written.
  const std::vector<Target> targets = PlanTargets(root, entries);
  const fs::path staging = root / kStagingName;
  RemoveTree(staging);
  if (!MakeFolder(staging, 0700)) return Unchanged("cannot create the staging folder");
  std::string why;
  const ReadFailure failure = ReadEntries(archiveNativePath, entries, &staging, &targets, why);
  if (failure != ReadFailure::None) {
    RemoveTree(staging);
    return failure == ReadFailure::Damaged ? Refused(why) : Unchanged(why);
  }

  // The plan goes to the journal before the installation is touched.
  Journal journal;
  std::set<std::string> planned;
  auto planFolder = [&](const std::string& folder) {
    if (!planned.insert(folder).second) return;
    if (!IsFolder(root / folder)) journal.folders.push_back(folder);
  };
  for (const Target& target : targets) {
    for (std::size_t slash = target.relative.find('/'); slash != std::string::npos;
         slash = target.relative.find('/', slash + 1)) {
      planFolder(target.relative.substr(0, slash));
    }
    if (target.folder) {
      planFolder(target.relative);
    } else {
      journal.files.emplace_back(target.relative, target.oldExists);
    }
  }
  Step("journal");
  if (!WriteJournal(root, journal)) {
    CleanUp(root);
    return Unchanged("cannot write the journal");
  }

  auto fail = [&](std::string reason) {
    if (!Recover(root, journal)) reason += "; some files could not be put back yet";
    return Unchanged(std::move(reason));
  };

  // New folders, top-down, each with the mode of its entry.
  std::map<std::string, mode_t> folderModes;
  for (const Target& target : targets) {
    if (target.folder) folderModes[target.relative] = target.mode;
  }
  for (const std::string& folder : journal.folders) {
    const auto mode = folderModes.find(folder);
    Step("folder");
    if (!MakeFolder(root / folder, mode == folderModes.end() ? 0755 : mode->second)) {
      return fail("cannot create the folder " + folder + ": " + std::strerror(errno));
    }
  }

  // The files, in archive order, each old one moved aside first.
  const fs::path backup = root / kBackupName;
  for (const Target& target : targets) {
    if (target.inTheWay) return fail("something else is in the way of " + target.relative);
    if (target.folder) continue;
    const fs::path path = root / target.relative;
    if (target.oldExists) {
      const fs::path saved = backup / target.relative;
      if (!MakeFolders(saved.parent_path())) return fail("cannot create the backup folder");
      Step("backup");
      if (!RenameAllowed(saved) || ::rename(path.c_str(), saved.c_str()) != 0) {
        return fail("cannot move aside " + target.relative);
      }
    }
    Step("place");
    if (!RenameAllowed(path) || ::rename((staging / target.relative).c_str(), path.c_str()) != 0) {
      return fail("cannot replace " + target.relative);
    }
  }

  journal.done = true;
  Step("commit");
  if (!WriteJournal(root, journal)) return fail("cannot write the journal");
  CleanUp(root);

  InstallOutcome outcome;
  outcome.result = InstallResult::Installed;
  for (const Target& target : targets) outcome.written.push_back(target.relative);
  return outcome;
}

bool RecoverInterruptedInstall(const std::string& installNativeFolder) {
  const fs::path root(installNativeFolder);
  if (const std::optional<Journal> journal = ReadJournal(root)) {
    Recover(root, *journal);
    return true;
  }
  bool leftovers = false;
  for (const char* name : {kStagingName, kBackupName, kJournalTempName}) {
    if (Exists(root / name)) leftovers = true;
  }
  if (leftovers) CleanUp(root);
  return leftovers;
}

namespace detail {
void SetRenameHook(RenameHook hook) { g_renameHook.store(hook); }
void SetStepHook(StepHook hook) { g_stepHook.store(hook); }
}  // namespace detail

}  // namespace update
