// The archive check and the all-or-nothing install, on archives built here with minizip's zip
// layer (which lets a test set the flags, the system an entry was made on and its attributes) and
// patched byte by byte where an archive must be broken.
#include "update/install.h"

#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;
using namespace common::literals;

constexpr unsigned long kMadeByDos = 20;
constexpr unsigned long kMadeByUnix = (3u << 8) | 30;
constexpr unsigned long kUtf8Flag = 1u << 11;

struct EntrySpec {
  std::string name;  // raw bytes of the name
  std::string data;
  unsigned long madeBy = kMadeByDos;
  unsigned long flags = 0;
  unsigned long attributes = 0;  // external attributes
  int method = Z_DEFLATED;
  const char* password = nullptr;
  std::string extra = {};  // extra field of the central directory
};

// A Unicode path extra field (0x7075) giving utf8 for a name whose bytes have the CRC nameCrc.
std::string UnicodePathField(const std::string& utf8, uLong nameCrc) {
  std::string field = {'\x75', '\x70', static_cast<char>((utf8.size() + 5) & 0xff),
                       static_cast<char>((utf8.size() + 5) >> 8), '\x01'};
  for (int i = 0; i < 4; ++i) field += static_cast<char>(nameCrc >> (8 * i));
  return field + utf8;
}

uLong Crc(const std::string& bytes) {
  return crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
}

EntrySpec UnixEntry(std::string name, std::string data, unsigned mode) {
  EntrySpec entry{std::move(name), std::move(data)};
  entry.madeBy = kMadeByUnix;
  entry.attributes = static_cast<unsigned long>(mode) << 16;
  return entry;
}

void MakeZip(const fs::path& path, const std::vector<EntrySpec>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zip, nullptr);
  for (const EntrySpec& entry : entries) {
    zip_fileinfo info{};
    info.external_fa = entry.attributes;
    const uLong crc = Crc(entry.data);
    ASSERT_EQ(zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr, 0,
                                      entry.extra.empty() ? nullptr : entry.extra.data(),
                                      static_cast<uInt>(entry.extra.size()), nullptr, entry.method,
                                      entry.method ? 6 : 0, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                      entry.password, crc, entry.madeBy, entry.flags, 0),
              ZIP_OK)
        << entry.name;
    ASSERT_EQ(zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())),
              ZIP_OK);
    ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
  }
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

std::string Bytes(const fs::path& path) { return support::ReadFile(path).value_or(""); }

// Adds delta to the little-endian 32-bit field at offset of the first record with signature.
void PatchField(std::string& zip, std::string_view signature, std::size_t offset, long delta) {
  const std::size_t at = zip.find(signature);
  ASSERT_NE(at, std::string::npos);
  unsigned char* p = reinterpret_cast<unsigned char*>(&zip[at + offset]);
  unsigned long value =
      p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<unsigned long>(p[3]) << 24);
  value = static_cast<unsigned long>(static_cast<long>(value) + delta);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}
constexpr std::string_view kLocalHeader("PK\x03\x04", 4);
constexpr std::string_view kCentralHeader("PK\x01\x02", 4);

// The whole tree below root: every path with its kind, mode and content.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    lstat(item.path().c_str(), &st);
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o ", static_cast<unsigned>(st.st_mode & 07777));
    std::string value = S_ISDIR(st.st_mode)   ? std::string("folder ") + mode
                        : S_ISLNK(st.st_mode) ? std::string("link ") + mode
                                              : std::string("file ") + mode + Bytes(item.path());
    tree[item.path().lexically_relative(root).string()] = value;
  }
  return tree;
}

void PutFile(const fs::path& path, std::string_view data, mode_t mode) {
  support::WriteFile(path, data);
  chmod(path.c_str(), mode);
}

// The installation that the hostile and failing archives must leave as it is.
void MakeOldInstall(const fs::path& root) {
  PutFile(root / "Velmora", "old velmora", 0755);
  PutFile(root / "good.txt", "old good", 0644);
  PutFile(root / "readme.txt", "old readme", 0444);
  PutFile(root / "皮肤图片" / "版本.txt", "1.0", 0644);
  PutFile(root / "plugins" / "x.dat", "plugin", 0644);
}

// ---------------------------------------------------------------------------------------------

struct HostileCase {
  const char* label;
  std::function<void(const fs::path& archive, const fs::path& beside)> make;
};

const EntrySpec kGood{"good.txt", "new good"};

std::vector<HostileCase> HostileCases() {
  auto entries = [](std::vector<EntrySpec> list) {
    return [list](const fs::path& archive, const fs::path&) { MakeZip(archive, list); };
  };
  return {
      {"parent folder", entries({kGood, {"../x", "escaped"}})},
      {"parent folder inside", entries({kGood, {"a/../../x", "escaped"}})},
      {"parent folder with backslash", entries({kGood, {"..\\x", "escaped"}})},
      {"absolute path",
       [](const fs::path& archive, const fs::path& beside) {
         MakeZip(archive, {kGood, {(beside / "x").string(), "escaped"}});
       }},
      {"root", entries({kGood, {"/x", "escaped"}})},
      {"drive letter", entries({kGood, {"C:\\x", "escaped"}})},
      {"symbolic link", entries({kGood, UnixEntry("link", "../x", 0120777)})},
      {"special file", entries({kGood, UnixEntry("fifo", "", 0010644)})},
      {"case collision", entries({kGood, {"A.txt", "1"}, {"a.txt", "2"}})},
      {"folder case collision", entries({kGood, {"Dir/a.txt", "1"}, {"dir/b.txt", "2"}})},
      {"same name twice", entries({kGood, {"a.txt", "1"}, {"a.txt", "2"}})},
      {"file and folder", entries({kGood, {"a", "1"}, {"a/b", "2"}})},
      {"name of the install's own", entries({kGood, {".Velmora-Update-Staging/x", "1"}})},
      {"encrypted entry",
       [](const fs::path& archive, const fs::path&) {
         EntrySpec secret{"secret.txt", "secret data"};
         secret.password = "pass";
         MakeZip(archive, {kGood, secret});
       }},
      {"empty archive", entries({})},
      // minizip does not find a directory at the very start of the file; after a stub it does.
      {"empty archive after a stub",
       [](const fs::path& archive, const fs::path&) {
         MakeZip(archive, {});
         support::WriteFile(archive, "stub" + Bytes(archive));
       }},
      {"bad CRC",
       [](const fs::path& archive, const fs::path&) {
         EntrySpec stored{"b.txt", "STORED-DATA-OF-B"};
         stored.method = 0;
         MakeZip(archive, {kGood, stored});
         std::string zip = Bytes(archive);
         zip[zip.find("STORED-DATA-OF-B") + 3] ^= 0x20;
         support::WriteFile(archive, zip);
       }},
      // The data ends before the size the headers give: the CRC is never compared.
      {"entry shorter than its size",
       [](const fs::path& archive, const fs::path&) {
         MakeZip(archive, {{"good.txt", std::string(5000, 'g')}});
         std::string zip = Bytes(archive);
         PatchField(zip, kLocalHeader, 22, 1);
         PatchField(zip, kCentralHeader, 24, 1);
         support::WriteFile(archive, zip);
       }},
      {"entry cut short",
       [](const fs::path& archive, const fs::path&) {
         std::string text;
         for (int i = 0; i < 2000; ++i) text += std::to_string(i * 7919 % 1000) + " ";
         MakeZip(archive, {{"good.txt", text}});
         std::string zip = Bytes(archive);
         PatchField(zip, kLocalHeader, 18, -100);
         PatchField(zip, kCentralHeader, 20, -100);
         support::WriteFile(archive, zip);
       }},
      {"truncated file",
       [](const fs::path& archive, const fs::path&) {
         MakeZip(archive, {kGood, {"b.txt", std::string(3000, 'b')}});
         const std::string zip = Bytes(archive);
         support::WriteFile(archive, zip.substr(0, zip.size() / 2));
       }},
      {"not an archive",
       [](const fs::path& archive, const fs::path&) {
         support::WriteFile(archive, "plain text, no archive");
       }},
      {"missing archive", [](const fs::path&, const fs::path&) {}},
  };
}

TEST(InstallArchive, RefusesHostileArchivesAndLeavesTheInstallationAsItIs) {
  for (const HostileCase& hostile : HostileCases()) {
    SCOPED_TRACE(hostile.label);
    support::TempDir dir("install-hostile");
    const fs::path install = dir / "inst";
    const fs::path archive = dir / "a.zip";
    MakeOldInstall(install);
    hostile.make(archive, dir.path());
    const auto before = Snapshot(dir.path());

    EXPECT_FALSE(update::CheckArchive(archive.string()).empty());
    const update::InstallOutcome outcome =
        update::InstallArchive(archive.string(), install.string());
    EXPECT_EQ(outcome.result, update::InstallResult::Damaged) << outcome.reason;
    EXPECT_FALSE(outcome.reason.empty());
    EXPECT_TRUE(outcome.written.empty());
    // Nothing beside the installation either (the archive is part of the snapshot).
    EXPECT_EQ(Snapshot(dir.path()), before);
    EXPECT_FALSE(fs::exists(dir / "x"));
  }
}

TEST(InstallArchive, InstallsNamesModesAndFoldersOverTheOldVersion) {
  support::TempDir dir("install-normal");
  const fs::path install = dir / "inst";
  const fs::path archive = install / "1.zip";  // where the updater downloads it
  MakeOldInstall(install);
  PutFile(install / "Lib" / "Core.dat", "old core", 0600);

  EntrySpec skin{"皮肤图片/0.png", "PNG"};
  skin.flags = kUtf8Flag;
  EntrySpec skinFolder{"皮肤图片/", ""};
  skinFolder.flags = kUtf8Flag;
  // 乗 is 0x81 0x5C in GBK: its second byte must not split the name.
  const EntrySpec gbkName{"说明乗.txt"_gbk, "notes"};
  // UTF-8 bytes without flag bit 11, with a Unicode path field saying what they are; and a
  // field left over from a name that was changed since, which does not count.
  EntrySpec unicodeField{"图标.txt", "icon"};
  unicodeField.extra = UnicodePathField("图标.txt", Crc("图标.txt"));
  EntrySpec staleField{"旧.txt"_gbk, "old name"};
  staleField.extra = UnicodePathField("错.txt", Crc("错.txt"));
  MakeZip(archive, {
                       {"Velmora", "new velmora"},  // keeps 0755
                       skinFolder,                  // exists
                       skin,                        // UTF-8 name
                       gbkName,                     // GBK name, 0644
                       unicodeField,
                       staleField,
                       {"readme.txt", "new readme"},  // read-only replaced
                       UnixEntry("bin/tools/run.sh", "#!/bin/sh\n", 0100750),
                       UnixEntry("docs/", "", 040750),
                       {"lib\\core.dat", "new core"},  // the existing spelling is kept
                       {"empty/", ""},
                   });
  ASSERT_EQ(update::CheckArchive(archive.string()), "");
  const std::string archiveItem = Snapshot(install).at("1.zip");

  const update::InstallOutcome outcome = update::InstallArchive(archive.string(), install.string());
  ASSERT_EQ(outcome.result, update::InstallResult::Installed) << outcome.reason;
  const std::vector<std::string> written = {
      "Velmora",    "皮肤图片",         "皮肤图片/0.png", "说明乗.txt",   "图标.txt", "旧.txt",
      "readme.txt", "bin/tools/run.sh", "docs",           "Lib/Core.dat", "empty"};
  EXPECT_EQ(outcome.written, written);

  const std::map<std::string, std::string> expected = {
      {"Velmora", "file 755 new velmora"},
      {"good.txt", "file 644 old good"},
      {"readme.txt", "file 644 new readme"},
      {"皮肤图片", "folder 755 "},
      {"皮肤图片/版本.txt", "file 644 1.0"},
      {"皮肤图片/0.png", "file 644 PNG"},
      {"说明乗.txt", "file 644 notes"},
      {"图标.txt", "file 644 icon"},
      {"旧.txt", "file 644 old name"},
      {"plugins", "folder 755 "},
      {"plugins/x.dat", "file 644 plugin"},
      {"bin", "folder 755 "},
      {"bin/tools", "folder 755 "},
      {"bin/tools/run.sh", "file 750 #!/bin/sh\n"},
      {"docs", "folder 750 "},
      {"Lib", "folder 755 "},
      {"Lib/Core.dat", "file 600 new core"},
      {"empty", "folder 755 "},
      {"1.zip", archiveItem},
  };
  EXPECT_EQ(Snapshot(install), expected);
  EXPECT_FALSE(update::RecoverInterruptedInstall(install.string()));
}

TEST(InstallArchive, InstallsIntoAnEmptyFolder) {
  support::TempDir dir("install-fresh");
  const fs::path archive = dir / "a.zip";
  fs::create_directory(dir / "inst");
  MakeZip(archive, {{"a/b/c.txt", "c"}, {"d.txt", "d"}});
  const update::InstallOutcome outcome =
      update::InstallArchive(archive.string(), (dir / "inst").string());
  ASSERT_EQ(outcome.result, update::InstallResult::Installed) << outcome.reason;
  const std::map<std::string, std::string> expected = {{"a", "folder 755 "},
                                                       {"a/b", "folder 755 "},
                                                       {"a/b/c.txt", "file 644 c"},
                                                       {"d.txt", "file 644 d"}};
  EXPECT_EQ(Snapshot(dir / "inst"), expected);
}

// ---------------------------------------------------------------------------------------------
// A file that cannot be replaced

std::string g_refusedTarget;
bool RefuseOneRename(const std::string& target) {
  return target.size() < g_refusedTarget.size() ||
         target.compare(target.size() - g_refusedTarget.size(), std::string::npos,
                        g_refusedTarget) != 0;
}

struct HookReset {
  ~HookReset() {
    update::detail::SetRenameHook(nullptr);
    update::detail::SetStepHook(nullptr);
  }
};

TEST(InstallArchive, RollsBackEveryFileWhenOneCannotBeReplaced) {
  const struct {
    const char* label;
    const char* refused;  // the end of the rename target that fails, or "" for none
  } cases[] = {
      {"moving the old file aside fails", ".velmora-update-backup/good.txt"},
      {"placing a replacing file fails", "inst/good.txt"},
      {"placing a new file fails", "inst/new/later.txt"},
      {"a folder with files where the archive has a file", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    HookReset reset;
    support::TempDir dir("install-rollback");
    const fs::path install = dir / "inst";
    const fs::path archive = dir / "a.zip";
    MakeOldInstall(install);
    MakeZip(archive, {{"Velmora", "new velmora"},
                      {"readme.txt", "new readme"},
                      {"new/first.txt", "first"},
                      {"good.txt", "new good"},
                      {"new/later.txt", "later"},
                      {"plugins", "a file where a folder is"}});
    const auto before = Snapshot(dir.path());
    g_refusedTarget = c.refused;
    if (*c.refused) update::detail::SetRenameHook(RefuseOneRename);

    const update::InstallOutcome outcome =
        update::InstallArchive(archive.string(), install.string());
    EXPECT_EQ(outcome.result, update::InstallResult::RolledBack) << outcome.reason;
    EXPECT_TRUE(outcome.written.empty());
    EXPECT_EQ(Snapshot(dir.path()), before);
    EXPECT_EQ(update::CheckArchive(archive.string()), "");  // the archive itself is sound
  }
}

// ---------------------------------------------------------------------------------------------
// A kill at any step

int g_killAt = -1;
int g_steps = 0;
bool g_committed = false;
void KillAtStep(const char* step) {
  if (g_steps++ == g_killAt) _exit(g_committed ? 11 : 10);
  if (std::strcmp(step, "commit") == 0) g_committed = true;
}

// Runs work in a child process that ends itself at step killAt; returns its exit code.
int RunKilledAt(int killAt, const std::function<void()>& work) {
  const pid_t child = fork();
  if (child == 0) {
    g_killAt = killAt;
    g_steps = 0;
    g_committed = false;
    update::detail::SetStepHook(KillAtStep);
    work();
    _exit(12);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RecoverInterruptedInstall, GivesExactlyTheOldOrTheNewInstallationAfterAKillAtAnyStep) {
  support::TempDir dir("install-kill");
  const fs::path archive = dir / "a.zip";
  MakeZip(archive, {{"Velmora", "new velmora"},
                    {"readme.txt", "new readme"},
                    {"new/deep/first.txt", "first"},
                    UnixEntry("tools/", "", 040700),
                    {"皮肤图片/版本.txt", "2.0"}});

  const fs::path reference = dir / "reference";
  MakeOldInstall(reference);
  const auto oldTree = Snapshot(reference);
  ASSERT_EQ(update::InstallArchive(archive.string(), reference.string()).result,
            update::InstallResult::Installed);
  const auto newTree = Snapshot(reference);

  bool sawOld = false;
  bool sawNew = false;
  for (int killAt = 0;; ++killAt) {
    SCOPED_TRACE("kill at step " + std::to_string(killAt));
    const fs::path install = dir / ("inst" + std::to_string(killAt));
    MakeOldInstall(install);
    const int code =
        RunKilledAt(killAt, [&] { update::InstallArchive(archive.string(), install.string()); });
    ASSERT_TRUE(code == 10 || code == 11 || code == 12) << code;
    if (code == 12) {
      EXPECT_EQ(Snapshot(install), newTree);
      break;
    }
    // The recovery may itself be cut short once before it runs to its end.
    EXPECT_EQ(RunKilledAt(0, [&] { update::RecoverInterruptedInstall(install.string()); }), 10);
    update::RecoverInterruptedInstall(install.string());
    const auto tree = Snapshot(install);
    if (code == 10) {
      EXPECT_EQ(tree, oldTree);
      sawOld = true;
    } else {
      EXPECT_EQ(tree, newTree);
      sawNew = true;
    }
    EXPECT_FALSE(update::RecoverInterruptedInstall(install.string()));
    ASSERT_LT(killAt, 100);
  }
  EXPECT_TRUE(sawOld);
  EXPECT_TRUE(sawNew);
}

TEST(RecoverInterruptedInstall, DoesNothingWithoutAnInterruptedInstall) {
  support::TempDir dir("install-recover");
  MakeOldInstall(dir.path());
  const auto before = Snapshot(dir.path());
  EXPECT_FALSE(update::RecoverInterruptedInstall(dir.path().string()));
  EXPECT_EQ(Snapshot(dir.path()), before);
}

}  // namespace
