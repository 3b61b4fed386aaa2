// What the updater window decides and shows, without the window: the files it keeps in the run
// directory, the version decision, the status rows, the update notes, the size and progress
// texts, the background release check, and what happens to the archive once the download task
// has ended.
//
// Everything here may run on any thread; the routines keep no state between calls.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "update/download.h"

namespace update {

using common::Text;

// Run directory + "\1.txt": the update notes, written by the release check, deleted with the
// window.
Text NotesPath(const Text& runDirectory);
// Run directory + "\1.zip": the package archive the download writes.
Text ArchivePath(const Text& runDirectory);
// Run directory + "\Velmora.exe": the program started once the update is installed.
Text VelmoraCommandLine(const Text& runDirectory);

// What the release page says about the local version.
enum class ReleaseState {
  Unknown,    // the page could not be read or names no version
  UpToDate,   // the page names exactly the local version (bytes, case, line breaks)
  NewRelease, // the page names any other version
};
ReleaseState CompareVersions(const Text& localVersion, const Text& remoteVersion);

// The update button is usable unless the page names exactly the local version: a page that
// could not be read leaves it usable, so that the player can try again.
bool UpdateButtonEnabled(const Text& localVersion, const Text& remoteVersion);

// Rows of the status list.
Text FetchingRow();     // "正在获取信息,请稍后…"
Text NewReleaseRow();   // "发现更新内容,请稍后…"
Text UpToDateRow();     // "你当前使用的是最新版本！"
Text UnknownRow();      // "无法获取更新信息,请检查网络后重试！"

// The lines of the notes file: its bytes up to the first zero byte, split on "\r\n" (empty lines
// kept, no item after a final line break, none for an empty file).
std::vector<Text> NotesItems(std::string_view notesBytes);

// The size in KiB: bytes / 1024 rounded to two decimal places (halves away from zero), written
// with at most 13 significant digits and no trailing zeros (1536 -> "1.5", 1000 -> "0.98").
Text KilobyteText(double bytes);
// "文件大小：" + KilobyteText(totalSize) + "KB".
Text SizeLabelText(double totalSize);

// The progress display of a download: done / total as a percentage. The label shows the
// percentage rounded down, the bar the percentage itself (kept within 0..100). Before the total
// size is known (0) the download stands at 0 %.
struct ProgressView {
  Text label;             // "下载进度：" + whole percent + "%"
  double position = 0.0;  // 0..100
};
ProgressView ProgressOf(std::int64_t doneBytes, double totalSize);

// The background release check of the window, step by step. The hooks are called on the
// checking thread.
struct ReleaseCheckHooks {
  // Waits this long; false when the check must stop (the window went away, before or during
  // the wait). Called with 0 to ask whether the check may go on.
  std::function<bool(int milliseconds)> wait;
  std::function<void(const Text& row)> appendRow;
  // Stores the notes as the notes file; false when the check must stop instead (nothing written).
  std::function<bool(const std::string& notesBytes)> storeNotes;
};

enum class ReleaseCheckEnd {
  Stopped,      // the window went away; nothing more was done
  Unknown,      // the page gave no version: UnknownRow() was the last row
  UpToDate,     // UpToDateRow() was the last row
  NotesStored,  // NewRelease: the notes were stored and are to be shown
};

// After one second: the row FetchingRow(); the release page read again and compared with the
// local version file. A new release: the row NewReleaseRow(), the notes' share page
// ("文本前"/"文本后") resolved into a link record, the notes fetched with the whole record as the
// address and stored (after two pauses of 100 ms). Otherwise the row of the state.
ReleaseCheckEnd RunReleaseCheck(const ReleaseCheckHooks& hooks);

// The share page value of the package on a release page ("发表前"/"发表后").
Text PackageShareValue(std::string_view page);

// The size and md5 checks of an archive against a link record: the size when the record's size
// field is a number, the md5 when its md5 field is 32 hexadecimal digits. A missing file fails.
bool ArchiveMatchesRecord(const Text& archivePath, const Text& linkRecord);

// What became of a download once its task ended.
struct InstallVerdict {
  bool installed = false;
  std::string reason;  // why not, for tests and diagnostics; never shown to the user
};

// Installs the archive into the run directory when the download completed, or when the task was
// given up and the archive left from an earlier run passes ArchiveMatchesRecord; a failed
// download installs nothing. The archive is deleted in every case.
InstallVerdict InstallDownloadedArchive(const DownloadOutcome& outcome, const Text& linkRecord,
                                        const Text& archivePath, const Text& runDirectory);

}  // namespace update
