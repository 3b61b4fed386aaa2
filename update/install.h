// Installing the update archive over the installation, all or nothing.
//
// The archive is first checked and extracted in one pass into a staging folder beside the
// installation (same file system): every entry's CRC and size are verified by reading it to its
// end, and an archive with an unsafe entry (an absolute path, a drive letter, "..", a symbolic
// link, an encrypted entry, two names that differ only in case) or with no entry at all is refused
// as damaged. Only then are the installation's files swapped for the staged ones, each replaced
// file kept as a backup until every swap has succeeded; when one swap fails, every replaced file is
// put back. A journal in the installation folder records the swap, so that an install cut short
// by a kill is finished or rolled back by RecoverInterruptedInstall on the next start: the
// installation is then exactly the old one or exactly the new one.
//
// Names are UTF-8 when the entry says so (flag bit 11, or a Unicode path extra field written for
// the name as it stands) and GBK otherwise. Entries made on Unix
// bring their permission bits; otherwise a replaced file keeps its mode and a new file gets the
// usual rw-r--r--. A read-only file of the installation is replaced all the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace update {

enum class InstallResult {
  Installed,   // every entry is in place
  Damaged,     // the archive is missing, unreadable, empty, unsafe or fails a check;
               // nothing of the installation was touched
  RolledBack,  // a file could not be replaced; every replaced file was put back
};

struct InstallOutcome {
  InstallResult result = InstallResult::Damaged;
  std::string reason;                // for tests and diagnostics; never shown to the user
  std::vector<std::string> written;  // relative native paths written, in archive order: every
                                     // file and folder when installed, nothing otherwise
};

// Checks the whole archive without writing anything: every entry read to its end with its CRC
// and size verified, and the safety rules above. Returns an empty text when it passes, else why
// not.
std::string CheckArchive(const std::string& archiveNativePath);

// Installs the archive into the folder (native paths). The archive itself is left where it is.
InstallOutcome InstallArchive(const std::string& archiveNativePath,
                              const std::string& installNativeFolder);

// Finishes or rolls back an install that a kill cut short, and removes a leftover staging folder.
// Returns true when there was something to recover. Cheap when there is nothing to do.
bool RecoverInterruptedInstall(const std::string& installNativeFolder);

namespace detail {
// Test seam: called before each rename of the swap with the target's native path; returning
// false makes that rename fail as if the system had refused it. nullptr restores the default.
using RenameHook = bool (*)(const std::string& targetNativePath);
void SetRenameHook(RenameHook hook);

// Test seam: called just before each change on disk that an interrupted install must be able to
// undo or finish: "stage" (one staged file), "journal" (the swap journal), "folder" (a new folder
// of the installation), "backup" (an old file moved aside), "place" (a new file moved in),
// "commit" (the journal marked done), "cleanup" (backups and staging removed). A test that ends
// the process in the hook simulates a kill at that step. nullptr restores the default.
using StepHook = void (*)(const char* step);
void SetStepHook(StepHook hook);
}  // namespace detail

}  // namespace update
