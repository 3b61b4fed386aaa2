// The updater window's decisions without the window: the version decision, the size and
// progress texts, the notes lines, the release check's steps against a loopback release page,
// and what becomes of the archive when a download task ends.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/paths.h"
#include "tests/support/support.h"
#include "tests/update/updater_fixture.h"
#include "update/download.h"
#include "update/updater.h"

namespace updater_test {
namespace {

TEST(UpdaterFiles, LiveInTheRunDirectory) {
  EXPECT_EQ(update::NotesPath("\\opt\\v"), "\\opt\\v\\1.txt");
  EXPECT_EQ(update::ArchivePath("\\opt\\v"), "\\opt\\v\\1.zip");
  EXPECT_EQ(update::VelmoraCommandLine("\\opt\\v"), "\\opt\\v\\Velmora.exe");
}

struct VersionCase {
  const char* local;
  const char* remote;
  update::ReleaseState state;
  bool buttonEnabled;
};

TEST(UpdaterVersions, OnlyTheSameVersionDisablesTheButton) {
  const VersionCase cases[] = {
      {"2.0", "2.0", update::ReleaseState::UpToDate, false},
      {"2.0\r\n", "2.0", update::ReleaseState::NewRelease, true},
      {"2.0", "2.1", update::ReleaseState::NewRelease, true},
      {"2.0", "1.9", update::ReleaseState::NewRelease, true},
      {"v2.0", "V2.0", update::ReleaseState::NewRelease, true},
      {" 2.0", "2.0", update::ReleaseState::NewRelease, true},
      {"", "2.0", update::ReleaseState::NewRelease, true},
      // No page version: nothing is known, and the player may try again.
      {"2.0", "", update::ReleaseState::Unknown, true},
      {"", "", update::ReleaseState::Unknown, true},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(std::string("local '") + c.local + "' remote '" + c.remote + "'");
    EXPECT_EQ(update::CompareVersions(c.local, c.remote), c.state);
    EXPECT_EQ(update::UpdateButtonEnabled(c.local, c.remote), c.buttonEnabled);
  }
}

struct ProgressCase {
  double total;
  std::int64_t done;
  const char* sizeLabel;      // UTF-8
  const char* progressLabel;  // UTF-8
  double position;
};

TEST(UpdaterProgress, SizeAndProgressTexts) {
  const ProgressCase cases[] = {
      {1048576, 262144, "文件大小：1024KB", "下载进度：25%", 25.0},
      {1048576, 1048576, "文件大小：1024KB", "下载进度：100%", 100.0},
      {1536, 0, "文件大小：1.5KB", "下载进度：0%", 0.0},
      {2097152, 1, "文件大小：2048KB", "下载进度：0%", 100.0 / 2097152},
      {1000, 999, "文件大小：0.98KB", "下载进度：99%", 99.9},
      // Halves away from zero: 5.125 KiB is 5.13, 5.115234375 is 5.12.
      {5248, 0, "文件大小：5.13KB", "下载进度：0%", 0.0},
      {5238, 0, "文件大小：5.12KB", "下载进度：0%", 0.0},
      {1, 1, "文件大小：0KB", "下载进度：100%", 100.0},
      {10, 1, "文件大小：0.01KB", "下载进度：10%", 10.0},
      {1024 * 1024 * 1024.0 * 3, 0, "文件大小：3145728KB", "下载进度：0%", 0.0},
      // Before the size is known the download stands at 0 %.
      {0, 0, "文件大小：0KB", "下载进度：0%", 0.0},
      {0, 5000, "文件大小：0KB", "下载进度：0%", 0.0},
  };
  for (const ProgressCase& c : cases) {
    SCOPED_TRACE("total " + std::to_string(c.total) + " done " + std::to_string(c.done));
    EXPECT_EQ(common::GbkToUtf8(update::SizeLabelText(c.total)), c.sizeLabel);
    const update::ProgressView view = update::ProgressOf(c.done, c.total);
    EXPECT_EQ(common::GbkToUtf8(view.label), c.progressLabel);
    EXPECT_DOUBLE_EQ(view.position, c.position);
  }
}

TEST(UpdaterProgress, WholePercentagesAreNeverRoundedBelowThemselves) {
  // done * 100 / total is exact for every whole percentage of a total in bytes.
  for (double total : {3.0, 7.0, 1000.0, 123457.0, 1048577.0, 209715200.0}) {
    for (int percent = 0; percent <= 100; ++percent) {
      const double doneExact = total * percent / 100.0;
      if (doneExact != static_cast<double>(static_cast<std::int64_t>(doneExact))) continue;
      const update::ProgressView view =
          update::ProgressOf(static_cast<std::int64_t>(doneExact), total);
      EXPECT_EQ(common::GbkToUtf8(view.label), "下载进度：" + std::to_string(percent) + "%")
          << "total " << total;
    }
  }
}

TEST(UpdaterNotes, LinesOfTheNotesFile) {
  struct NotesCase {
    std::string bytes;
    std::vector<std::string> items;
  };
  const NotesCase cases[] = {
      {"a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"one line without a break", {"one line without a break"}},
      {"", {}},
      {"\r\n", {""}},
      {"a\nb\r\nc", {"a\nb", "c"}},
      {std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
      {"更新：\r\n修复\r\n"_gbk, {"更新："_gbk, "修复"_gbk}},
  };
  for (const NotesCase& c : cases) {
    EXPECT_EQ(update::NotesItems(c.bytes), c.items) << "notes '" << c.bytes << "'";
  }
}

TEST(UpdaterPackage, ShareValueBetweenItsMarkers) {
  EXPECT_EQ(update::PackageShareValue("x发表前pan.example/s/1我pwd=2发表后y"_gbk), "pan.example/s/1我pwd=2"_gbk);
  EXPECT_EQ(update::PackageShareValue("发表前no end"_gbk), "");
}

// The release check, step by step, against a release page on loopback.
class ReleaseCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDir_ = std::filesystem::current_path();
    std::filesystem::current_path(work_.path());
    ASSERT_TRUE(server_.Running());
    releaseUrl_.emplace("VELMORA_RELEASE_URL", server_.Url("/release"));
    hooks_.wait = [this](int milliseconds) {
      waits_.push_back(milliseconds);
      return stopAfterWaits_ < 0 || static_cast<int>(waits_.size()) <= stopAfterWaits_;
    };
    hooks_.appendRow = [this](const common::Text& row) { rows_.push_back(row); };
    hooks_.storeNotes = [this](const std::string& notes) {
      stored_ = notes;
      return true;
    };
  }
  void TearDown() override { std::filesystem::current_path(previousDir_); }

  void WriteLocalVersion(const std::string& bytes) {
    support::WriteFile(work_.path() / "皮肤图片" / "版本.txt", bytes);
  }

  support::TempDir work_{"velmora-check"};
  test_support::HttpServer server_;
  std::optional<support::ScopedEnv> releaseUrl_;
  std::filesystem::path previousDir_;
  update::ReleaseCheckHooks hooks_;
  std::vector<int> waits_;
  int stopAfterWaits_ = -1;  // the wait that answers "stop" (counted from 1); -1: never
  std::vector<common::Text> rows_;
  std::optional<std::string> stored_;
};

TEST_F(ReleaseCheck, NewReleaseFetchesTheNotesThroughTheirSharePage) {
  WriteLocalVersion("1.0");
  server_.Answer("/release", PageResponse(ReleasePage(server_.Port(), "2.0", "/share-notes?a=1我b=2"_gbk)));
  server_.Answer("/share-notes?a=1&b=2",
                 PageResponse(SharePage("http://" + Loopback(server_.Port(), "/notes"), "notes.txt", "9", "")));
  server_.Answer("/notes*", PageResponse("a\r\n\r\nb\r\n"));

  EXPECT_EQ(update::RunReleaseCheck(hooks_), update::ReleaseCheckEnd::NotesStored);
  EXPECT_EQ(rows_, (std::vector<common::Text>{update::FetchingRow(), update::NewReleaseRow()}));
  EXPECT_EQ(waits_.front(), 1000) << "the check begins after one second";
  ASSERT_TRUE(stored_.has_value());
  EXPECT_EQ(*stored_, "a\r\n\r\nb\r\n");

  std::vector<std::string> targets;
  for (const auto& request : server_.Requests()) targets.push_back(request.Target());
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_EQ(targets[0], "/release");
  EXPECT_EQ(targets[1], "/share-notes?a=1&b=2");
  // The whole link record is the address of the notes.
  EXPECT_EQ(targets[2].substr(0, 7), "/notes|");
}

TEST_F(ReleaseCheck, SameVersionEndsUpToDate) {
  WriteLocalVersion("2.0");
  server_.Answer("/release", PageResponse(ReleasePage(server_.Port(), "2.0")));
  EXPECT_EQ(update::RunReleaseCheck(hooks_), update::ReleaseCheckEnd::UpToDate);
  EXPECT_EQ(rows_, (std::vector<common::Text>{update::FetchingRow(), update::UpToDateRow()}));
  EXPECT_FALSE(stored_.has_value());
  EXPECT_EQ(server_.Requests().size(), 1u);
}

TEST_F(ReleaseCheck, UnreadablePageStopsWithItsRow) {
  WriteLocalVersion("2.0");
  releaseUrl_.emplace("VELMORA_RELEASE_URL",
                      "http://127.0.0.1:" + std::to_string(test_support::UnusedPort()) + "/release");
  EXPECT_EQ(update::RunReleaseCheck(hooks_), update::ReleaseCheckEnd::Unknown);
  EXPECT_EQ(rows_, (std::vector<common::Text>{update::FetchingRow(), update::UnknownRow()}));
  EXPECT_FALSE(stored_.has_value());
}

TEST_F(ReleaseCheck, StopsWheneverTheWindowHasGone) {
  WriteLocalVersion("1.0");
  server_.Answer("/release", PageResponse(ReleasePage(server_.Port(), "2.0")));
  server_.Answer("/share-notes",
                 PageResponse(SharePage("http://" + Loopback(server_.Port(), "/notes"), "notes.txt", "1", "")));
  server_.Answer("/notes*", PageResponse("n"));
  // Every wait of the check is a point where it stops when the window went away; none stores.
  for (int stopAt = 1; stopAt <= 4; ++stopAt) {
    SCOPED_TRACE("stop at wait " + std::to_string(stopAt));
    waits_.clear();
    rows_.clear();
    stored_.reset();
    stopAfterWaits_ = stopAt - 1;
    EXPECT_EQ(update::RunReleaseCheck(hooks_), update::ReleaseCheckEnd::Stopped);
    EXPECT_EQ(static_cast<int>(waits_.size()), stopAt);
    EXPECT_FALSE(stored_.has_value());
    if (stopAt == 1) {
      EXPECT_TRUE(rows_.empty());
    }
  }
}

// What becomes of the archive once the task has ended.
class ArchiveVerdict : public ::testing::Test {
 protected:
  common::Text RunDir() const { return run_.Text(); }
  common::Text Archive() const { return update::ArchivePath(run_.Text()); }
  std::filesystem::path ArchiveNative() const { return run_.path() / "1.zip"; }

  // A record naming the package's size and md5.
  common::Text RecordFor(const std::string& bytes, const std::string& md5) const {
    return "http://127.0.0.1/p|p.zip*p.zip|" + std::to_string(bytes.size()) + "|" + md5;
  }

  support::TempDir run_{"velmora-verdict"};
};

TEST_F(ArchiveVerdict, LeftoverChecksFollowTheRecord) {
  const std::string zip = MakeZip(ArchiveNative(), {{"a.txt", "new"}});
  const std::string md5 = update::FileMd5(ArchiveNative().string());
  ASSERT_EQ(md5.size(), 32u);
  std::string upper = md5;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string size = std::to_string(zip.size());
  struct Case {
    std::string record;
    bool matches;
  };
  const Case cases[] = {
      {"l|n*n|" + size + "|" + md5, true},
      {"l|n*n|" + size + "|" + upper, true},
      {"l|n*n|" + size + "|", true},
      {"l|n*n||" + md5, true},
      {"l|n*n||", true},
      {"l|n*n|12KB|not an md5", true},  // neither field is usable
      {"l|n*n|" + std::to_string(zip.size() + 1) + "|" + md5, false},
      {"l|n*n|" + size + "|00000000000000000000000000000000", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(update::ArchiveMatchesRecord(Archive(), c.record), c.matches) << c.record;
  }
  std::filesystem::remove(ArchiveNative());
  EXPECT_FALSE(update::ArchiveMatchesRecord(Archive(), "l|n*n||"));
}

TEST_F(ArchiveVerdict, InstallsOnlyWhatPassesAndAlwaysDeletesTheArchive) {
  struct Case {
    const char* name;
    update::DownloadResult result;
    bool damaged;       // the archive bytes are no zip
    bool recordMatches; // the record names the archive's size and md5
    bool installed;
  };
  const Case cases[] = {
      {"completed", update::DownloadResult::Completed, false, true, true},
      {"completed but no zip", update::DownloadResult::Completed, true, true, false},
      {"given up, leftover matches", update::DownloadResult::GivenUp, false, true, true},
      {"given up, leftover of another size", update::DownloadResult::GivenUp, false, false, false},
      {"given up, damaged leftover", update::DownloadResult::GivenUp, true, true, false},
      {"failed", update::DownloadResult::Failed, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    support::WriteFile(run_.path() / "a.txt", "old");
    std::string bytes = MakeZip(ArchiveNative(), {{"a.txt", "new"}, {"sub/b.txt", "b"}});
    if (c.damaged) {
      bytes = "<html>not found</html>";
      support::WriteFile(ArchiveNative(), bytes);
    }
    const std::string md5 = update::FileMd5(ArchiveNative().string());
    const common::Text record = c.recordMatches ? RecordFor(bytes, md5) : RecordFor(bytes + "x", "");
    update::DownloadOutcome outcome;
    outcome.result = c.result;

    const update::InstallVerdict verdict =
        update::InstallDownloadedArchive(outcome, record, Archive(), RunDir());

    EXPECT_EQ(verdict.installed, c.installed) << verdict.reason;
    EXPECT_FALSE(std::filesystem::exists(ArchiveNative()));
    EXPECT_EQ(support::ReadFile(run_.path() / "a.txt").value_or(""), c.installed ? "new" : "old");
    EXPECT_EQ(std::filesystem::exists(run_.path() / "sub" / "b.txt"), c.installed);
    std::filesystem::remove_all(run_.path() / "sub");
  }
}

}  // namespace
}  // namespace updater_test
