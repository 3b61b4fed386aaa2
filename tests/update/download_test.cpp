#include "update/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/support.h"

namespace {

using test_support::FileAnswer;
using test_support::HttpServer;
using update::DownloadEvent;
using update::DownloadFacility;
using update::DownloadResult;
using update::DownloadSettings;
using update::FileMd5;
using update::IsMd5Text;
namespace fs = std::filesystem;

constexpr std::int64_t kLargeSize = 8 * 1024 * 1024 + 12345;  // split into ranges
constexpr std::int64_t kSmallSize = 200 * 1024 + 7;            // one stream

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteWhole(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string RandomBytes(std::int64_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xff);
  return bytes;
}

// The events of one task as the handler saw them.
class EventLog {
 public:
  explicit EventLog(int answerToExists = 0) : answer_(answerToExists) {}

  std::function<int(const DownloadEvent&)> Handler() {
    return [this](const DownloadEvent& event) {
      std::lock_guard<std::mutex> lock(mutex_);
      codes_.push_back(event.code);
      values_.push_back(event.value);
      if (event.code == update::kEventTaskEnded) {
        EXPECT_NE(event.outcome, nullptr);
        if (event.outcome != nullptr) endResult_ = event.outcome->result;
      }
      return event.code == update::kEventTargetExists ? answer_ : 0;
    };
  }
  std::vector<int> Codes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return codes_;
  }
  std::optional<std::int64_t> ValueOf(int code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < codes_.size(); ++i)
      if (codes_[i] == code) return values_[i];
    return std::nullopt;
  }
  std::optional<DownloadResult> EndResult() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return endResult_;
  }

 private:
  mutable std::mutex mutex_;
  int answer_;
  std::vector<int> codes_;
  std::vector<std::int64_t> values_;
  std::optional<DownloadResult> endResult_;
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Running());
    large_ = RandomBytes(kLargeSize, 1);
    small_ = RandomBytes(kSmallSize, 2);
    WriteWhole(dir_ / "large.bin", large_);
    WriteWhole(dir_ / "small.bin", small_);
  }

  std::string LargePath() const { return (dir_ / "large.bin").string(); }
  std::string SmallPath() const { return (dir_ / "small.bin").string(); }
  fs::path Target() const { return dir_ / "1.zip"; }
  fs::path Temporary() const { return dir_ / "1.zip.part"; }

  // A link record as the share page resolution makes it.
  std::string Record(const std::string& link, const std::string& size, const std::string& md5) {
    return link + "|1.zip*1.zip|" + size + "|" + md5;
  }
  std::string RecordFor(const std::string& target, const std::string& bytes) {
    return Record(server_.Url(target), std::to_string(bytes.size()),
                  FileMd5((dir_ / (target == "/small" ? "small.bin" : "large.bin")).string()));
  }

  DownloadSettings Settings(const std::string& record, EventLog& log) {
    DownloadSettings settings;
    settings.address = record;
    settings.target = dir_.Text() + "\\1.zip";
    settings.eventHandler = log.Handler();
    return settings;
  }

  // Runs one task to its end.
  update::DownloadOutcome RunTask(const DownloadSettings& settings) {
    DownloadFacility facility;
    EXPECT_TRUE(facility.AddTask(settings));
    facility.Wait();
    EXPECT_FALSE(facility.Running());
    const update::DownloadOutcome outcome = facility.LastOutcome();
    EXPECT_EQ(facility.DoneLength(), outcome.bytesDone);
    return outcome;
  }

  support::TempDir dir_{"velmora-download"};
  HttpServer server_;
  std::string large_;
  std::string small_;
};

TEST_F(DownloadTest, LargeFileComesInParallelRangesWithoutCompression) {
  server_.ServeFile("/large", LargePath());
  EventLog log;
  const auto outcome = RunTask(Settings(RecordFor("/large", large_), log));

  EXPECT_EQ(outcome.result, DownloadResult::Completed) << outcome.reason;
  EXPECT_EQ(outcome.bytesDone, kLargeSize);
  EXPECT_TRUE(ReadWhole(Target()) == large_);
  EXPECT_FALSE(fs::exists(Temporary()));
  EXPECT_EQ(log.Codes(), (std::vector<int>{update::kEventTotalSize, update::kEventTaskEnded}));
  EXPECT_EQ(log.ValueOf(update::kEventTotalSize), kLargeSize);
  EXPECT_EQ(log.ValueOf(update::kEventTaskEnded), kLargeSize);
  EXPECT_EQ(log.EndResult(), DownloadResult::Completed);

  // The opening request learns the total; the others ask for the rest in pieces that join up
  // without a gap or an overlap, more pieces than connections.
  const auto requests = server_.Requests();
  ASSERT_GT(requests.size(), 5u);
  std::vector<std::pair<std::int64_t, std::int64_t>> pieces;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const auto& request = requests[i];
    EXPECT_EQ(request.Target(), "/large");
    EXPECT_TRUE(request.HeaderValues("Accept-Encoding").empty()) << request.raw;
    ASSERT_EQ(request.HeaderValues("Range").size(), 1u) << request.raw;
    const std::string range = request.HeaderValues("Range")[0];
    if (i == 0) {
      EXPECT_EQ(range, "bytes=0-");
      continue;
    }
    long long first = -1;
    long long last = -1;
    ASSERT_EQ(std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last), 2) << range;
    pieces.emplace_back(first, last);
  }
  std::sort(pieces.begin(), pieces.end());
  EXPECT_GT(pieces.front().first, 0);
  for (std::size_t i = 1; i < pieces.size(); ++i)
    EXPECT_EQ(pieces[i].first, pieces[i - 1].second + 1);
  EXPECT_EQ(pieces.back().second, kLargeSize - 1);
}

TEST_F(DownloadTest, RedirectIsFollowedByEveryPiece) {
  server_.ServeFile("/large", LargePath());
  server_.Answer("/share/1.zip", HttpServer::Response("HTTP/1.1 302 Found",
                                                      {"Location: http://127.0.0.1:{PORT}/large"},
                                                      "<html>moved</html>"));
  EventLog log;
  const auto outcome = RunTask(
      Settings(Record(server_.Url("/share/1.zip"), std::to_string(kLargeSize), FileMd5(LargePath())),
               log));
  EXPECT_EQ(outcome.result, DownloadResult::Completed) << outcome.reason;
  EXPECT_TRUE(ReadWhole(Target()) == large_);
  std::size_t redirected = 0;
  std::size_t served = 0;
  for (const auto& request : server_.Requests()) {
    if (request.Target() == "/share/1.zip") ++redirected;
    if (request.Target() == "/large") ++served;
    EXPECT_EQ(request.HeaderValues("Range").size(), 1u) << request.raw;
  }
  EXPECT_GT(served, 5u);
  EXPECT_EQ(redirected, served);
}

// Answers that must still give the file, byte for byte.
struct GoodCase {
  const char* name;
  bool large;
  FileAnswer answer;
  int connections;
  bool oneStream;            // one request, or more pieces than connections
  bool recordChecks = true;  // false: size and md5 fields that are no number and no md5
};

TEST_F(DownloadTest, ServersThatGiveTheWholeFileInOtherWays) {
  FileAnswer ignoresRange;
  ignoresRange.ranges = false;
  FileAnswer noLength;
  noLength.ranges = false;
  noLength.announceLength = false;
  FileAnswer trailingBytes;  // bytes after the announced body are not the file's
  trailingBytes.ranges = false;
  trailingBytes.sendExtra = 5000;
  const GoodCase cases[] = {
      {"a server that ignores Range sends it in one stream", true, ignoresRange, 5, true},
      {"a small file is one request", false, {}, 5, true},
      {"one connection asked for", true, {}, 1, true},
      {"no Content-Length: the end of the connection ends the file", true, noLength, 5, true},
      {"bytes after the announced length stay out", true, trailingBytes, 5, true},
      {"size and md5 fields that cannot be checked", true, {}, 5, false, false},
  };
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& bytes = c.large ? large_ : small_;
    const std::string target = c.large ? "/large" : "/small";
    server_.ServeFile(target, c.large ? LargePath() : SmallPath(), c.answer);
    const std::size_t before = server_.Requests().size();
    fs::remove(Target());
    EventLog log;
    DownloadSettings settings =
        Settings(c.recordChecks ? RecordFor(target, bytes)
                                : Record(server_.Url(target), "3.2MB", "not-an-md5"),
                 log);
    settings.connections = c.connections;
    const auto outcome = RunTask(settings);
    EXPECT_EQ(outcome.result, DownloadResult::Completed) << outcome.reason;
    EXPECT_TRUE(ReadWhole(Target()) == bytes);
    EXPECT_FALSE(fs::exists(Temporary()));
    const std::size_t requests = server_.Requests().size() - before;
    if (c.oneStream)
      EXPECT_EQ(requests, 1u);
    else
      EXPECT_GT(requests, 5u);
    EXPECT_EQ(log.Codes(), (std::vector<int>{update::kEventTotalSize, update::kEventTaskEnded}));
    EXPECT_EQ(log.ValueOf(update::kEventTotalSize), static_cast<std::int64_t>(bytes.size()));
  }
}

// Answers that must never become the target.
struct BadCase {
  const char* name;
  FileAnswer answer;
  std::string raw;           // a scripted answer instead of the file, when not empty
  std::int64_t recordSize;   // the record's size field, -1 for the file's own
  bool wrongMd5 = false;
  bool unreachable = false;
  bool nothingStored = false;  // the answer is refused before any of its bytes is written
};

TEST_F(DownloadTest, FailedDownloadsLeaveNoFileBehind) {
  auto with = [](auto change) {
    FileAnswer answer;
    change(answer);
    return answer;
  };
  const BadCase cases[] = {
      {"a range connection cut in the middle", with([](FileAnswer& a) { a.cutAt = kLargeSize / 2; }),
       "", -1},
      {"one stream cut in the middle",
       with([](FileAnswer& a) { a.ranges = false; a.cutAt = kLargeSize / 2; }), "", -1},
      {"fewer bytes than announced",
       with([](FileAnswer& a) { a.ranges = false; a.announceExtra = 100; }), "", -1},
      {"fewer bytes than announced in a range", with([](FileAnswer& a) { a.announceExtra = 100; }),
       "", -1},
      {"more bytes than the record's size, without a length",
       with([](FileAnswer& a) { a.ranges = false; a.announceLength = false; }), "",
       kLargeSize - 1000},
      {"pieces answered with more than was asked for",
       with([](FileAnswer& a) { a.rangeSlack = 10; }), "", -1},
      {"a record size that differs from the server's", {}, "", kLargeSize + 1, false, false, true},
      {"a record size that differs from a whole answer's",
       with([](FileAnswer& a) { a.ranges = false; }), "", kLargeSize - 1, false, false, true},
      {"a wrong md5", {}, "", -1, true},
      {"an HTML page with 404", with([](FileAnswer& a) { a.status = 404; }), "", -1, false, false,
       true},
      {"an HTML page with 500", with([](FileAnswer& a) { a.status = 500; }), "", -1, false, false,
       true},
      {"a range answer without the range asked for", {},
       HttpServer::Response("HTTP/1.1 206 Partial Content",
                            {"Content-Range: bytes 5-104/200", "Connection: close"},
                            std::string(100, 'x')),
       -1, false, false, true},
      {"an error page with status 200 and the wrong size", {},
       HttpServer::Response("HTTP/1.1 200 OK", {"Content-Type: text/html", "Connection: close"},
                            "<html><body>gone</body></html>"),
       -1, false, false, true},
      {"an unreachable address", {}, "", -1, false, true},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.raw.empty())
      server_.ServeFile("/large", LargePath(), c.answer);
    else
      server_.Answer("/large", c.raw);
    const std::string link =
        c.unreachable ? "http://127.0.0.1:" + std::to_string(test_support::UnusedPort()) + "/large"
                      : server_.Url("/large");
    EventLog log;
    const auto outcome = RunTask(Settings(
        Record(link, std::to_string(c.recordSize >= 0 ? c.recordSize : kLargeSize),
               c.wrongMd5 ? std::string(32, 'a') : FileMd5(LargePath())),
        log));
    EXPECT_EQ(outcome.result, DownloadResult::Failed);
    EXPECT_FALSE(outcome.reason.empty());
    if (c.nothingStored) {
      EXPECT_EQ(outcome.bytesDone, 0);
    }
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_FALSE(fs::exists(Temporary()));
    const std::vector<int> codes = log.Codes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), update::kEventTaskEnded);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), update::kEventTaskEnded), 1);
    EXPECT_EQ(log.EndResult(), DownloadResult::Failed);
  }
}

TEST_F(DownloadTest, EmptyRecordFailsWithoutARequest) {
  EventLog log;
  const auto outcome = RunTask(Settings("|*||", log));
  EXPECT_EQ(outcome.result, DownloadResult::Failed);
  EXPECT_EQ(log.Codes(), std::vector<int>{update::kEventTaskEnded});
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_FALSE(fs::exists(Temporary()));
}

TEST_F(DownloadTest, StalledConnectionFailsAtTheReceiveLimit) {
  FileAnswer stalls;
  stalls.stallAt = kLargeSize / 3;
  server_.ServeFile("/large", LargePath(), stalls);
  EventLog log;
  DownloadSettings settings = Settings(RecordFor("/large", large_), log);
  settings.receiveTimeoutMs = 300;
  const auto started = std::chrono::steady_clock::now();
  const auto outcome = RunTask(settings);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(outcome.result, DownloadResult::Failed);
  EXPECT_NE(outcome.reason.find("nothing received"), std::string::npos) << outcome.reason;
  // Far below the default limit of 10 s: the lowered limit is the one applied.
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_FALSE(fs::exists(Target()));
  EXPECT_FALSE(fs::exists(Temporary()));
}

// A file left over from an earlier run: answer 1 gives up and leaves it alone; answer 0
// replaces it only with a complete new download.
struct LeftoverCase {
  const char* name;
  int answer;
  int serverStatus;
  DownloadResult result;
  bool replaced;
  std::vector<int> codes;
};

TEST_F(DownloadTest, LeftoverTargetIsAskedAbout) {
  const LeftoverCase cases[] = {
      {"given up", 1, 200, DownloadResult::GivenUp, false,
       {update::kEventTargetExists, update::kEventTaskEnded}},
      {"downloaded afresh", 0, 200, DownloadResult::Completed, true,
       {update::kEventTargetExists, update::kEventTotalSize, update::kEventTaskEnded}},
      {"downloaded afresh, but the server fails", 0, 500, DownloadResult::Failed, false,
       {update::kEventTargetExists, update::kEventTaskEnded}},
  };
  const std::string leftover = "an archive from an earlier run";
  for (const LeftoverCase& c : cases) {
    SCOPED_TRACE(c.name);
    FileAnswer answer;
    answer.status = c.serverStatus;
    server_.ServeFile("/large", LargePath(), answer);
    WriteWhole(Target(), leftover);
    const std::size_t before = server_.Requests().size();
    EventLog log(c.answer);
    const auto outcome = RunTask(Settings(RecordFor("/large", large_), log));
    EXPECT_EQ(outcome.result, c.result) << outcome.reason;
    EXPECT_EQ(log.Codes(), c.codes);
    EXPECT_EQ(log.EndResult(), c.result);
    EXPECT_TRUE(ReadWhole(Target()) == (c.replaced ? large_ : leftover));
    EXPECT_FALSE(fs::exists(Temporary()));
    if (c.result == DownloadResult::GivenUp) {
      EXPECT_EQ(server_.Requests().size(), before);
      EXPECT_EQ(outcome.bytesDone, 0);
    }
  }
}

// Waits (at most a few seconds) until the running task has written something.
bool WaitForProgress(const DownloadFacility& facility) {
  for (int i = 0; i < 500 && facility.DoneLength() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return facility.DoneLength() > 0;
}

TEST_F(DownloadTest, StopEndsARunningTaskAsFailed) {
  FileAnswer slow;
  slow.bytesPerSecond = 100 * 1024;  // many seconds for the whole file
  server_.ServeFile("/large", LargePath(), slow);
  EventLog log;
  DownloadFacility facility;
  ASSERT_TRUE(facility.AddTask(Settings(RecordFor("/large", large_), log)));
  ASSERT_TRUE(WaitForProgress(facility));
  // Progress is visible while the task runs, and a second task is refused meanwhile.
  EXPECT_TRUE(facility.Running());
  EXPECT_LT(facility.DoneLength(), kLargeSize);
  EXPECT_FALSE(facility.AddTask(Settings(RecordFor("/large", large_), log)));

  facility.Stop();
  facility.Wait();
  EXPECT_EQ(facility.LastOutcome().result, DownloadResult::Failed);
  EXPECT_EQ(facility.LastOutcome().reason, "stopped");
  const std::vector<int> codes = log.Codes();
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), update::kEventTaskEnded);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), update::kEventTaskEnded), 1);
  EXPECT_FALSE(fs::exists(Target()));
  EXPECT_FALSE(fs::exists(Temporary()));

  // The facility takes the next task once the last one has ended.
  server_.ServeFile("/small", SmallPath());
  EventLog next;
  ASSERT_TRUE(facility.AddTask(Settings(RecordFor("/small", small_), next)));
  facility.Wait();
  EXPECT_EQ(facility.LastOutcome().result, DownloadResult::Completed);
  EXPECT_EQ(facility.DoneLength(), kSmallSize);
  EXPECT_TRUE(ReadWhole(Target()) == small_);
}

TEST_F(DownloadTest, DestroyingTheFacilityEndsTheTaskWithoutReporting) {
  FileAnswer slow;
  slow.bytesPerSecond = 100 * 1024;
  server_.ServeFile("/large", LargePath(), slow);
  EventLog log;
  {
    DownloadFacility facility;
    ASSERT_TRUE(facility.AddTask(Settings(RecordFor("/large", large_), log)));
    ASSERT_TRUE(WaitForProgress(facility));
  }
  const std::vector<int> codes = log.Codes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), update::kEventTaskEnded), 0);
  EXPECT_FALSE(fs::exists(Target()));
  EXPECT_FALSE(fs::exists(Temporary()));
}

TEST(Md5Test, FileDigestsAndTheirTextForm) {
  support::TempDir dir{"velmora-md5"};
  WriteWhole(dir / "abc", "abc");
  WriteWhole(dir / "empty", "");
  EXPECT_EQ(FileMd5((dir / "abc").string()), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(FileMd5((dir / "empty").string()), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(FileMd5((dir / "missing").string()), "");
  EXPECT_EQ(FileMd5(dir.path().string()), "");  // a folder cannot be read as a file

  const std::pair<const char*, bool> texts[] = {
      {"900150983cd24fb0d6963f7d28e17f72", true},
      {"900150983CD24FB0D6963F7D28E17F72", true},
      {"900150983cd24fb0d6963f7d28e17f7", false},    // 31 digits
      {"900150983cd24fb0d6963f7d28e17f72a", false},  // 33 digits
      {"900150983cd24fb0d6963f7d28e17f7g", false},
      {"", false},
  };
  for (const auto& [text, valid] : texts) EXPECT_EQ(IsMd5Text(text), valid) << text;
}

}  // namespace
