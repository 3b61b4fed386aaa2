#include "update/download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "common/curl_support.h"
#include "platform/ascii.h"
#include "platform/paths.h"
#include "update/share_link.h"

namespace update {

namespace {

using Clock = std::chrono::steady_clock;

// A file smaller than this is fetched in one stream: more connections would cost more in
// set-up than they gain.
constexpr std::int64_t kSplitThreshold = 1 << 20;
constexpr int kMaxConnections = 5;
// A split file is fetched in pieces of about a quarter of a connection's share, never smaller
// than this: a connection that is done takes the next piece, so a slow connection holds up at
// most one piece at the end.
constexpr std::int64_t kMinPiece = 1 << 20;
constexpr int kPiecesPerConnection = 4;
// libcurl's receive buffer. The receive block bounds each write into the file; a buffer of only
// 10 KiB would cost one loop round per 10 KiB and slows a fast stream down.
constexpr long kReceiveBuffer = 128 * 1024;
// The md5 of the growing file is read back in blocks of this size.
constexpr std::size_t kHashBlock = 1 << 20;
// How often the transfer loop looks at the stop request and the stall limit while idle.
constexpr int kPollMs = 20;
const char* const kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// A size written as a decimal number; -1 for anything else.
std::int64_t DecimalSize(const Text& text) {
  if (text.empty()) return -1;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return -1;
  return value;
}

std::string HexText(const unsigned char* bytes, unsigned int length) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 15];
  }
  return text;
}

// "bytes <first>-<last>/<total>" of a Content-Range value; false for any other form (also an
// unknown total "*", which cannot be split or checked).
bool ParseContentRange(const std::string& value, std::int64_t& first, std::int64_t& last,
                       std::int64_t& total) {
  std::size_t pos = 0;
  while (pos < value.size() && value[pos] == ' ') ++pos;
  if (!platform::EqualsIgnoringAsciiCase(value.substr(pos, 6), "bytes ")) return false;
  pos += 6;
  while (pos < value.size() && value[pos] == ' ') ++pos;
  const char* p = value.data() + pos;
  const char* end = value.data() + value.size();
  auto number = [&](std::int64_t& out, char after) {
    const auto [next, error] = std::from_chars(p, end, out);
    if (error != std::errc() || out < 0) return false;
    p = next;
    if (after == '\0') {
      while (p < end && (*p == ' ' || *p == '\r' || *p == '\n')) ++p;
      return p == end;
    }
    if (p == end || *p != after) return false;
    ++p;
    return true;
  };
  return number(first, '-') && number(last, '/') && number(total, '\0') && first <= last &&
         last < total;
}

struct Task;

// What a task's threads and the facility's callers share.
struct SharedState {
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> silent{false};  // no more events: the facility is being destroyed
  std::atomic<std::int64_t> done{0};
};

// One connection: a request for the bytes from `start`, stored at their offsets.
struct Part {
  Task* task = nullptr;
  CURL* easy = nullptr;
  bool opening = false;     // the first request, "bytes=0-": it learns the total
  std::int64_t start = 0;   // first byte asked for
  std::int64_t end = -1;    // last byte this part stores; -1 while unknown
  std::int64_t pos = 0;     // offset of the next byte
  bool checked = false;     // status and Content-Range looked at
  bool cutEarly = false;    // the answer runs on past `end`: the part ends itself there
  bool finished = false;    // every byte of the part stored
  bool active = false;      // in the multi handle
  std::string contentRange;
  Clock::time_point lastActivity;
  char error[CURL_ERROR_SIZE] = {};
};

}  // namespace

struct DownloadFacility::Impl {
  std::atomic<bool> running{false};
  SharedState shared;
  std::atomic<long> stopWaitMs{1000};
  std::thread worker;
  std::mutex mutex;  // guards `outcome` and the end of a task for Wait() and Stop()
  std::condition_variable ended;
  DownloadOutcome outcome;

  void Run(DownloadSettings settings);
};

namespace {

struct Task {
  SharedState* shared = nullptr;
  const DownloadSettings* settings = nullptr;
  int fd = -1;
  std::int64_t expectedSize = -1;  // from the record; -1 when not given as a number
  std::int64_t total = -1;         // once known
  bool totalReported = false;
  int connections = 1;
  std::vector<std::pair<std::int64_t, std::int64_t>> pending;  // pieces not yet asked for, in order
  std::size_t nextPending = 0;
  std::atomic<std::int64_t> prefix{0};  // bytes from offset 0 on that are stored without a gap
  std::string failure;             // the first reason the task fails; empty while all is well
  std::vector<std::unique_ptr<Part>> parts;

  void Fail(const std::string& reason) {
    if (failure.empty()) failure = reason;
  }
  bool Stopping() const { return shared->stopRequested.load(); }
};

int Report(Task& task, int code, std::int64_t value, const DownloadOutcome* outcome = nullptr) {
  const auto& handler = task.settings->eventHandler;
  if (!handler || task.shared->silent.load()) return 0;
  DownloadEvent event;
  event.code = code;
  event.value = value;
  event.outcome = outcome;
  return handler(event);
}

// Decides, at the first bytes of an answer (or at its end when it had none), whether the answer is
// the one asked for. The opening answer also fixes the total and how the rest is split.
bool CheckAnswer(Part& part) {
  part.checked = true;
  Task& task = *part.task;
  long status = 0;
  curl_easy_getinfo(part.easy, CURLINFO_RESPONSE_CODE, &status);
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t total = 0;
  const bool ranged = ParseContentRange(part.contentRange, first, last, total);

  if (!part.opening) {
    // A later range must come back exactly as asked: anything else would put bytes at the
    // wrong offsets.
    if (status != 206 || !ranged || first != part.start || last != part.end ||
        total != task.total) {
      task.Fail("range " + std::to_string(part.start) + "-" + std::to_string(part.end) +
                " answered with status " + std::to_string(status) + " and Content-Range \"" +
                part.contentRange + "\"");
      return false;
    }
    return true;
  }

  if (status == 206) {
    if (!ranged || first != 0 || last != total - 1) {
      task.Fail("the answer to bytes=0- has Content-Range \"" + part.contentRange + "\"");
      return false;
    }
    task.total = total;
  } else if (status == 200) {
    // A server that ignores Range sends the whole file: one stream.
    curl_off_t length = -1;
    curl_easy_getinfo(part.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0) task.total = length;
  } else {
    task.Fail("status " + std::to_string(status));
    return false;
  }

  if (task.total >= 0 && task.expectedSize >= 0 && task.total != task.expectedSize) {
    task.Fail("the server's size " + std::to_string(task.total) + " differs from the record's " +
              std::to_string(task.expectedSize));
    return false;
  }
  // Without a length from the server, the record's size is the most the stream may bring.
  const std::int64_t limit = task.total >= 0 ? task.total : task.expectedSize;
  part.end = limit >= 0 ? limit - 1 : -1;

  if (status == 206 && task.connections > 1 && task.total >= kSplitThreshold) {
    const std::int64_t piece =
        std::max(kMinPiece, task.total / (task.connections * kPiecesPerConnection));
    part.end = std::min(piece, task.total) - 1;
    part.cutEarly = part.end < task.total - 1;
    for (std::int64_t first = part.end + 1; first < task.total; first += piece)
      task.pending.emplace_back(first, std::min(first + piece, task.total) - 1);
  }
  return true;
}

bool WriteAll(int fd, const char* data, std::size_t length, std::int64_t offset) {
  while (length > 0) {
    const ssize_t wrote = pwrite(fd, data, length, static_cast<off_t>(offset));
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += wrote;
    length -= static_cast<std::size_t>(wrote);
    offset += wrote;
  }
  return true;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  Part& part = *static_cast<Part*>(user);
  const std::size_t length = size * count;
  part.lastActivity = Clock::now();
  const std::string line(data, length);
  if (line.rfind("HTTP/", 0) == 0) {
    part.contentRange.clear();  // a new answer (after a redirect or an interim answer)
  } else {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && platform::EqualsIgnoringAsciiCase(line.substr(0, colon), "content-range")) {
      std::string value = line.substr(colon + 1);
      while (!value.empty() && (value.back() == '\r' || value.back() == '\n' ||
                                value.back() == ' '))
        value.pop_back();
      const std::size_t firstChar = value.find_first_not_of(' ');
      part.contentRange = firstChar == std::string::npos ? "" : value.substr(firstChar);
    }
  }
  return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Part& part = *static_cast<Part*>(user);
  Task& task = *part.task;
  const std::size_t length = size * count;
  if (task.Stopping() || !task.failure.empty()) return 0;
  part.lastActivity = Clock::now();
  if (!part.checked && !CheckAnswer(part)) return 0;

  // Never more than the part holds, and never more than the file is expected to hold.
  const std::int64_t limit =
      part.end >= 0 ? part.end + 1 : std::numeric_limits<std::int64_t>::max();
  const std::size_t block = static_cast<std::size_t>(std::max(1L, task.settings->receiveBlock));
  std::size_t take = length;
  bool over = false;
  if (static_cast<std::int64_t>(take) > limit - part.pos) {
    take = static_cast<std::size_t>(limit - part.pos);
    over = true;
  }
  for (std::size_t written = 0; written < take;) {
    const std::size_t step = std::min(block, take - written);
    if (!WriteAll(task.fd, data + written, step, part.pos)) {
      task.Fail("writing the temporary file failed");
      return 0;
    }
    written += step;
    part.pos += static_cast<std::int64_t>(step);
    task.shared->done.fetch_add(static_cast<std::int64_t>(step));
  }
  if (part.cutEarly && part.pos == limit) {
    part.finished = true;  // the later parts fetch the rest
    return 0;
  }
  if (over) {
    task.Fail("more bytes than expected");
    return 0;
  }
  return length;
}

bool StartPart(Task& task, CURLM* multi, const std::string& link, std::unique_ptr<Part> part) {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) {
    task.Fail("no transfer handle");
    return false;
  }
  part->task = &task;
  part->easy = easy;
  part->pos = part->start;
  part->lastActivity = Clock::now();
  const DownloadSettings& settings = *task.settings;
  const std::string range =
      std::to_string(part->start) + "-" + (part->opening ? "" : std::to_string(part->end));
  const long buffer = std::clamp(std::max(settings.receiveBlock, kReceiveBuffer), 1024L,
                                 static_cast<long>(CURL_MAX_READ_SIZE));
  curl_easy_setopt(easy, CURLOPT_URL, link.c_str());
  curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // One connection per piece: HTTP/2 would put the pieces of an https download on one connection.
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");  // direct, as every request of the programs
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, settings.connectTimeoutMs));
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, buffer);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, part.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, part.get());
  curl_easy_setopt(easy, CURLOPT_PRIVATE, part.get());
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, part->error);
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
    curl_easy_cleanup(easy);
    part->easy = nullptr;
    task.Fail("the transfer could not start");
    return false;
  }
  part->active = true;
  task.parts.push_back(std::move(part));
  return true;
}

void EndPart(Task& task, Part& part, CURLcode result) {
  if (part.finished) return;
  if (task.Stopping()) {
    task.Fail("stopped");
    return;
  }
  if (result != CURLE_OK) {
    task.Fail(part.error[0] != '\0' ? part.error : curl_easy_strerror(result));
    return;
  }
  if (!part.checked && !CheckAnswer(part)) return;
  if (part.end >= 0 && part.pos != part.end + 1) {
    task.Fail("fewer bytes than announced");
    return;
  }
  if (part.end < 0) part.end = part.pos - 1;  // a stream without a length ends with the file
  if (task.total < 0) task.total = part.pos;
  part.finished = true;
}

// Runs the transfers until every part is stored or one fails. The temporary file is open.
void Transfer(Task& task, const std::string& link) {
  CURLM* multi = curl_multi_init();
  if (multi == nullptr) {
    task.Fail("no transfer handle");
    return;
  }
  auto opening = std::make_unique<Part>();
  opening->opening = true;
  StartPart(task, multi, link, std::move(opening));

  const long stallMs = std::max(1L, task.settings->receiveTimeoutMs);
  while (task.failure.empty()) {
    if (task.Stopping()) {
      task.Fail("stopped");
      break;
    }
    int runningHandles = 0;
    if (curl_multi_perform(multi, &runningHandles) != CURLM_OK) {
      task.Fail("the transfer loop failed");
      break;
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      Part* part = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &part);
      const CURLcode result = message->data.result;
      curl_multi_remove_handle(multi, message->easy_handle);
      part->active = false;
      EndPart(task, *part, result);
      curl_easy_cleanup(part->easy);  // a finished piece keeps no buffers; its connection
      part->easy = nullptr;           // stays in the multi handle's cache for the next piece
    }
    if (!task.failure.empty()) break;

    if (task.total >= 0 && !task.totalReported) {
      task.totalReported = true;
      Report(task, kEventTotalSize, task.total);
    }

    int active = 0;
    std::int64_t prefix = 0;
    bool gap = false;
    const Clock::time_point now = Clock::now();
    for (const auto& part : task.parts) {  // in the order of their offsets
      if (!gap && part->start == prefix) {
        prefix = part->pos;
        gap = !part->finished;
      } else {
        gap = true;
      }
      if (!part->active) continue;
      ++active;
      if (now - part->lastActivity > std::chrono::milliseconds(stallMs))
        task.Fail("nothing received for " + std::to_string(stallMs) + " ms");
    }
    task.prefix.store(prefix);
    if (!task.failure.empty()) break;
    if (active < task.connections && task.nextPending < task.pending.size()) {
      while (active < task.connections && task.nextPending < task.pending.size()) {
        auto part = std::make_unique<Part>();
        part->start = task.pending[task.nextPending].first;
        part->end = task.pending[task.nextPending].second;
        ++task.nextPending;
        if (!StartPart(task, multi, link, std::move(part))) break;
        ++active;
      }
      continue;  // start the new requests at once
    }
    if (active == 0) break;
    curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
  }

  for (const auto& part : task.parts) {
    if (part->easy == nullptr) continue;
    if (part->active) curl_multi_remove_handle(multi, part->easy);
    curl_easy_cleanup(part->easy);
    part->easy = nullptr;
    part->active = false;
  }
  curl_multi_cleanup(multi);
}

// Computes the md5 of the temporary file while the download runs: it reads the part from offset
// 0 on that is stored without a gap, as it grows, so that the digest is ready soon after the last
// byte instead of after a second pass over the whole file.
class PrefixHasher {
 public:
  PrefixHasher(const std::string& path, const std::atomic<std::int64_t>& prefix)
      : path_(path), prefix_(prefix), thread_([this] { Run(); }) {}
  ~PrefixHasher() {
    cancel_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  PrefixHasher(const PrefixHasher&) = delete;
  PrefixHasher& operator=(const PrefixHasher&) = delete;

  // The digest of the first `total` bytes, once the prefix has reached them; empty on a failure.
  std::string Finish(std::int64_t total) {
    goal_.store(total);
    if (thread_.joinable()) thread_.join();
    return hashed_ == total ? digest_ : std::string();
  }

 private:
  void Run() {
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ok = fd >= 0 && context != nullptr && EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1;
    std::vector<char> buffer(ok ? kHashBlock : 0);
    while (ok && !cancel_.load()) {
      const std::int64_t available = prefix_.load();
      if (available > hashed_) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(available - hashed_, kHashBlock));
        const ssize_t got = pread(fd, buffer.data(), want, static_cast<off_t>(hashed_));
        if (got < 0 && errno == EINTR) continue;
        ok = got > 0 && EVP_DigestUpdate(context, buffer.data(), static_cast<std::size_t>(got)) == 1;
        if (ok) hashed_ += got;
        continue;
      }
      const std::int64_t goal = goal_.load();
      if (goal >= 0 && hashed_ >= goal) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (ok && !cancel_.load() && EVP_DigestFinal_ex(context, digest, &length) == 1)
      digest_ = HexText(digest, length);
    else
      hashed_ = -1;
    EVP_MD_CTX_free(context);
    if (fd >= 0) close(fd);
  }

  std::string path_;
  const std::atomic<std::int64_t>& prefix_;
  std::atomic<std::int64_t> goal_{-1};
  std::atomic<bool> cancel_{false};
  std::int64_t hashed_ = 0;  // the thread's own until it is joined
  std::string digest_;
  std::thread thread_;  // last: it starts once the members above exist
};

}  // namespace

void DownloadFacility::Impl::Run(DownloadSettings settings) {
  Task task;
  task.shared = &shared;
  task.settings = &settings;
  const LinkRecord record = SplitLinkRecord(settings.address);
  task.expectedSize = DecimalSize(record.size);
  task.connections = std::clamp(settings.connections, 1, kMaxConnections);
  const std::string expectedMd5 = IsMd5Text(record.md5) ? record.md5 : std::string();

  const std::string target = platform::NativePath(settings.target).string();
  // Beside the target, so that the finished file is renamed within one folder.
  const std::string temporary = target + ".part";

  DownloadOutcome result;
  bool givenUp = false;
  struct stat info {};
  if (stat(target.c_str(), &info) == 0 && Report(task, kEventTargetExists, 0) != 0) {
    givenUp = true;  // the leftover stays as it is
    result.result = DownloadResult::GivenUp;
    result.reason = "the target exists and the task was given up";
  }

  if (!givenUp) {
    if (record.link.empty()) task.Fail("no address");
    if (task.failure.empty()) {
      task.fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (task.fd < 0) task.Fail("the temporary file cannot be created");
    }
    std::unique_ptr<PrefixHasher> hasher;
    if (task.failure.empty() && !expectedMd5.empty())
      hasher = std::make_unique<PrefixHasher>(temporary, task.prefix);
    if (task.failure.empty()) Transfer(task, record.link);
    if (task.fd >= 0 && close(task.fd) != 0) task.Fail("the temporary file could not be closed");
    task.fd = -1;

    if (task.failure.empty()) {
      std::int64_t stored = 0;
      for (const auto& part : task.parts) stored += part->pos - part->start;
      struct stat written {};
      if (stat(temporary.c_str(), &written) != 0 || written.st_size != task.total ||
          stored != task.total)
        task.Fail("the file is not complete");
      else if (task.expectedSize >= 0 && task.total != task.expectedSize)
        task.Fail("the size differs from the record's");
    }
    if (task.failure.empty() && !task.totalReported) {
      task.totalReported = true;  // a stream without a length: its size is known only now
      Report(task, kEventTotalSize, task.total);
    }
    if (task.failure.empty() && hasher) {
      task.prefix.store(task.total);  // every byte is stored
      if (!platform::EqualsIgnoringAsciiCase(hasher->Finish(task.total), expectedMd5))
        task.Fail("the md5 differs from the record's");
    }
    hasher.reset();  // a failed task stops the reading at once
    if (task.failure.empty() && std::rename(temporary.c_str(), target.c_str()) != 0)
      task.Fail("the file cannot take the target's place");

    if (task.failure.empty()) {
      result.result = DownloadResult::Completed;
    } else {
      unlink(temporary.c_str());
      result.result = DownloadResult::Failed;
      result.reason = task.failure;
    }
  }
  result.bytesDone = shared.done.load();
  {
    std::lock_guard<std::mutex> lock(mutex);
    outcome = result;
  }
  Report(task, kEventTaskEnded, result.bytesDone, &result);
  {
    std::lock_guard<std::mutex> lock(mutex);
    running.store(false);
  }
  ended.notify_all();
}

DownloadFacility::DownloadFacility() : impl_(std::make_unique<Impl>()) { common::curl::InitialiseLibrary(); }

DownloadFacility::~DownloadFacility() {
  impl_->shared.silent.store(true);
  impl_->shared.stopRequested.store(true);
  if (impl_->worker.joinable()) impl_->worker.join();
}

bool DownloadFacility::AddTask(const DownloadSettings& settings) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->running.load()) return false;
  // The thread of the last task has ended its work (it needs the lock no more); it only has to
  // be collected.
  if (impl_->worker.joinable()) impl_->worker.join();
  impl_->running.store(true);
  impl_->shared.stopRequested.store(false);
  impl_->shared.done.store(0);
  impl_->stopWaitMs.store(settings.stopWaitMs);
  impl_->worker = std::thread([impl = impl_.get(), settings] { impl->Run(settings); });
  return true;
}

std::int64_t DownloadFacility::DoneLength() const { return impl_->shared.done.load(); }

bool DownloadFacility::Running() const { return impl_->running.load(); }

void DownloadFacility::Stop() {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (!impl_->running.load()) return;
  impl_->shared.stopRequested.store(true);
  // Called from the task's own handler, the task cannot end while this waits.
  if (impl_->worker.get_id() == std::this_thread::get_id()) return;
  // The wait is for the connections; the handler's answer to the end is not waited for here.
  const long waitMs = std::max(0L, impl_->stopWaitMs.load());
  impl_->ended.wait_for(lock, std::chrono::milliseconds(waitMs),
                        [this] { return !impl_->running.load(); });
}

void DownloadFacility::Wait() {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (impl_->worker.get_id() == std::this_thread::get_id()) return;
  impl_->ended.wait(lock, [this] { return !impl_->running.load(); });
}

DownloadOutcome DownloadFacility::LastOutcome() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->outcome;
}

std::string FileMd5(const std::string& nativePath) {
  const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1;
  std::vector<char> buffer(1 << 16);
  while (ok) {
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    ok = EVP_DigestUpdate(context, buffer.data(), static_cast<std::size_t>(got)) == 1;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (ok) ok = EVP_DigestFinal_ex(context, digest, &digestLength) == 1;
  EVP_MD_CTX_free(context);
  close(fd);
  if (!ok) return {};
  return HexText(digest, digestLength);
}

bool IsMd5Text(const Text& text) {
  if (text.size() != 32) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

}  // namespace update
