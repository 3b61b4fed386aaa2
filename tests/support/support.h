// Shared helpers of the tests: temporary folders, environment variables, Wine prefixes with a
// registry, files on native paths and stand-in processes.
//
// Every helper undoes what it did when it goes out of scope. Failures to set a fixture up are
// reported as GoogleTest failures of the running test (ADD_FAILURE), never as exceptions.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace support {

// A new, empty folder /tmp/<label>-XXXXXX (or <parent>/<label>-XXXXXX), removed with everything
// in it on destruction.
class TempDir {
 public:
  explicit TempDir(std::string_view label = "velmora", const std::filesystem::path& parent = "/tmp");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / relative (a native, UTF-8 relative path).
  std::filesystem::path operator/(const std::filesystem::path& relative) const {
    return path_ / relative;
  }
  // The folder as a program path text ("\tmp\velmora-Ab12Cd"), without a trailing separator.
  common::Text Text() const;

 private:
  std::filesystem::path path_;
};

// Sets (or, with std::nullopt, unsets) one environment variable and restores its earlier
// value on destruction. Meant for HOME, XDG_* , WINEPREFIX and the like.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// A private HOME with an XDG desktop folder, so that the desktop folder of the programs lies
// inside a temporary folder. XDG_CONFIG_HOME points at home/.config, whose user-dirs.dirs names
// home/Desktop; both folders exist.
class ScopedHome {
 public:
  ScopedHome();
  const std::filesystem::path& home() const { return dir_.path(); }
  std::filesystem::path desktop() const { return dir_.path() / "Desktop"; }

 private:
  TempDir dir_{"velmora-home"};
  ScopedEnv home_;
  ScopedEnv configHome_;
  ScopedEnv desktopDir_;
};

// One value line of user.reg: the key relative to HKEY_CURRENT_USER as plain text
// ("Software\Tencent\DNF", single backslashes, UTF-8), the value name ("Path", "@" for the
// default value) and the data exactly as the file holds it after "=" (for example
// RegSz("D:\\Games") or "dword:00000001").
struct RegEntry {
  std::string key;
  std::string valueName;
  std::string rawData;
};

// Escapes a UTF-8 text the way Wine writes strings in its registry files: "\" and "\"" are
// escaped, control characters use the C escapes, every character beyond ASCII is \x and its
// UTF-16 unit(s) in hexadecimal ("地下城" is \x5730\x4e0b\x57ce).
std::string RegEscape(std::string_view utf8);
// Data of a REG_SZ value: "\"" + RegEscape(value) + "\"".
std::string RegSz(std::string_view utf8);
// Data of a REG_EXPAND_SZ value: "str(2):\"" + RegEscape(value) + "\"".
std::string RegExpandSz(std::string_view utf8);

// A Wine prefix in a temporary folder: drive_c/, dosdevices/c: -> ../drive_c, and WINEPREFIX
// pointing at it until destruction (the earlier value is restored).
class WinePrefix {
 public:
  WinePrefix();
  ~WinePrefix();
  WinePrefix(const WinePrefix&) = delete;
  WinePrefix& operator=(const WinePrefix&) = delete;

  const std::filesystem::path& path() const { return dir_.path(); }
  std::filesystem::path driveC() const { return dir_.path() / "drive_c"; }

  // Makes dosdevices/<letter>: a link to target (any native folder, which need not exist).
  void MapDrive(char letter, const std::filesystem::path& target) const;

  // Writes user.reg with the entries, grouped by key in the order the keys first appear, in
  // the format Wine writes.
  void WriteRegistry(const std::vector<RegEntry>& entries) const;
  // Writes user.reg with exactly these bytes.
  void WriteRegistryRaw(std::string_view content) const;

 private:
  TempDir dir_{"velmora-wine"};
  ScopedEnv prefix_;
};

// Whole-file helpers on native paths. WriteFile creates the missing parent folders and reports
// a failure through ADD_FAILURE; ReadFile gives std::nullopt for a file that cannot be read.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
std::optional<std::string> ReadFile(const std::filesystem::path& path);

// Sets a file's time of last change (local time of the machine).
void SetModifiedTime(const std::filesystem::path& path, int year, int month, int day,
                     int hour = 12, int minute = 0);

// A running copy of /bin/sleep named `name` (argument 60), in its own temporary folder. The
// process has executed when the constructor returns, so /proc already shows its name. It is
// killed and reaped on destruction. argv0, when given, replaces the program path as argv[0]
// (Wine shows the Windows path of the program there, "C:\Games\DNF.exe").
class FakeProcess {
 public:
  explicit FakeProcess(const std::string& name, const std::string& argv0 = {});
  ~FakeProcess();
  FakeProcess(const FakeProcess&) = delete;
  FakeProcess& operator=(const FakeProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }
  void Stop();  // kills and reaps it now

 private:
  TempDir dir_{"velmora-proc"};
  pid_t pid_ = -1;
};

// StartFakeProcess("dnf.exe"): the same as a FakeProcess, as a handle to keep.
std::unique_ptr<FakeProcess> StartFakeProcess(const std::string& name);

// stem + a part unique to this process + suffix ("game" -> "game4711a.exe"). Test binaries run
// in parallel (ctest -j); a test that only needs some process name should use a unique one, so
// that it neither sees nor disturbs another test's "dnf.exe".
std::string UniqueName(std::string_view stem, std::string_view suffix = ".exe");


// What a program run by RunProgram printed and how it ended (-1: killed by a signal).
struct ProgramRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs a program with the arguments (no shell) in workDir, its stdout and stderr into files, and
// waits for it.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& workDir = std::filesystem::current_path());

}  // namespace support
