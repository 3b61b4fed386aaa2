#include "update/updater.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/fetch.h"
#include "common/release.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "update/install.h"
#include "update/share_link.h"
#include "velmora/startup/version_gate.h"

namespace update {

using namespace common::literals;

Text NotesPath(const Text& runDirectory) { return common::AsText(runDirectory) + "\\1.txt"; }
Text ArchivePath(const Text& runDirectory) { return common::AsText(runDirectory) + "\\1.zip"; }
Text VelmoraCommandLine(const Text& runDirectory) {
  return common::AsText(runDirectory) + "\\Velmora.exe";
}

ReleaseState CompareVersions(const Text& localVersion, const Text& remoteVersion) {
  const Text remote = common::AsText(remoteVersion);
  if (remote.empty()) return ReleaseState::Unknown;
  return common::AsText(localVersion) == remote ? ReleaseState::UpToDate : ReleaseState::NewRelease;
}

bool UpdateButtonEnabled(const Text& localVersion, const Text& remoteVersion) {
  return CompareVersions(localVersion, remoteVersion) != ReleaseState::UpToDate;
}

Text FetchingRow() { return "正在获取信息,请稍后…"_gbk; }
Text NewReleaseRow() { return "发现更新内容,请稍后…"_gbk; }
Text UpToDateRow() { return "你当前使用的是最新版本！"_gbk; }
Text UnknownRow() { return "无法获取更新信息,请检查网络后重试！"_gbk; }

std::vector<Text> NotesItems(std::string_view notesBytes) {
  return common::Split(common::AsText(notesBytes), "\r\n");
}

Text KilobyteText(double bytes) {
  if (!std::isfinite(bytes)) return "0";
  // std::round rounds halves away from zero. The sizes are whole bytes, so bytes * 100 / 1024
  // is exact in a double and the rounding sees the true value.
  const double hundredths = std::round(bytes * 100.0 / 1024.0);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.13g", hundredths / 100.0);
  Text text = buffer;
  if (text == "-0") text = "0";
  return text;
}

Text SizeLabelText(double totalSize) { return "文件大小："_gbk + KilobyteText(totalSize) + "KB"; }

ProgressView ProgressOf(std::int64_t doneBytes, double totalSize) {
  ProgressView view;
  double percent = 0.0;
  if (totalSize > 0.0 && std::isfinite(totalSize)) {
    // One division of the exact product: a quarter of the bytes is 25 exactly, never 24.99….
    percent = static_cast<double>(doneBytes) * 100.0 / totalSize;
  }
  if (!(percent > 0.0)) percent = 0.0;
  const double whole = std::floor(percent);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.0f", whole);
  view.label = "下载进度："_gbk + buffer + "%";
  view.position = std::min(percent, 100.0);
  return view;
}

ReleaseCheckEnd RunReleaseCheck(const ReleaseCheckHooks& hooks) {
  if (!hooks.wait(1000)) return ReleaseCheckEnd::Stopped;
  hooks.appendRow(FetchingRow());

  const Text page = common::AsText(common::FetchPage(common::ReleasePageUrl()));
  const Text remote = velmora::RemoteVersionOf(page);
  const Text local = velmora::ReadLocalVersion();
  if (!hooks.wait(0)) return ReleaseCheckEnd::Stopped;

  switch (CompareVersions(local, remote)) {
    case ReleaseState::Unknown:
      hooks.appendRow(UnknownRow());
      return ReleaseCheckEnd::Unknown;
    case ReleaseState::UpToDate:
      hooks.appendRow(UpToDateRow());
      return ReleaseCheckEnd::UpToDate;
    case ReleaseState::NewRelease:
      break;
  }

  hooks.appendRow(NewReleaseRow());
  const Text value = common::TextBetween(page, "文本前"_gbk, "文本后"_gbk);
  const Text record = ResolveShareLink(ShareAddress(value));
  if (!hooks.wait(100)) return ReleaseCheckEnd::Stopped;
  const std::string notes = common::FetchPage(record);
  if (!hooks.wait(100)) return ReleaseCheckEnd::Stopped;
  if (!hooks.storeNotes(notes)) return ReleaseCheckEnd::Stopped;
  return ReleaseCheckEnd::NotesStored;
}

Text PackageShareValue(std::string_view page) {
  return common::TextBetween(common::AsText(page), "发表前"_gbk, "发表后"_gbk);
}

namespace {

bool IsNumber(const Text& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!std::isdigit(c)) return false;
  }
  return true;
}

}  // namespace

bool ArchiveMatchesRecord(const Text& archivePath, const Text& linkRecord) {
  const std::filesystem::path native = platform::NativePath(archivePath);
  std::error_code error;
  if (!std::filesystem::is_regular_file(native, error)) return false;
  const LinkRecord fields = SplitLinkRecord(linkRecord);
  if (IsNumber(fields.size)) {
    const auto size = std::filesystem::file_size(native, error);
    if (error || static_cast<long long>(size) != common::ToInteger(fields.size)) return false;
  }
  if (IsMd5Text(fields.md5)) {
    const std::string md5 = FileMd5(native.string());
    if (md5.empty() || !common::Equals(md5, fields.md5, /*ignoreCase=*/true)) return false;
  }
  return true;
}

InstallVerdict InstallDownloadedArchive(const DownloadOutcome& outcome, const Text& linkRecord,
                                        const Text& archivePath, const Text& runDirectory) {
  InstallVerdict verdict;
  bool usable = false;
  switch (outcome.result) {
    case DownloadResult::Completed:
      usable = true;
      break;
    case DownloadResult::GivenUp:
      usable = ArchiveMatchesRecord(archivePath, linkRecord);
      if (!usable) verdict.reason = "the archive left from an earlier run does not match the record";
      break;
    case DownloadResult::Failed:
      verdict.reason = "download failed: " + outcome.reason;
      break;
  }
  if (usable) {
    const InstallOutcome installed = InstallArchive(platform::NativePath(archivePath).string(),
                                                    platform::NativePath(runDirectory).string());
    verdict.installed = installed.result == InstallResult::Installed;
    if (!verdict.installed) verdict.reason = "install failed: " + installed.reason;
  }
  platform::DeleteFileAt(archivePath);
  return verdict;
}

}  // namespace update
