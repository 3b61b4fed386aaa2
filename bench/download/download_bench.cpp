// Benchmark of UpDate's download facility on a loopback web server.
//
// Makes a file of pseudo-random bytes (200 MiB unless told otherwise) in a temporary folder and
// serves it from a private nginx on 127.0.0.1 in two locations: /limited/, where every connection
// is held to 5 MiB/s (`limit_rate 5m`, the case where fetching in byte ranges pays), and /open/,
// without a limit. Then it measures in the same run:
//   1. the facility on /limited/ against `aria2c -x5 -s5 -k1M` (five connections): goal >= 1.0x;
//   2. the facility on /limited/ against one `curl` stream: goal >= 4.5x;
//   3. the facility on /open/ against one `curl` stream: goal >= 1.0x;
//   4. the peak resident memory of the process that runs the facility's download: goal < 64 MiB.
// The facility runs each download in a forked child, with the settings UpDate uses (the defaults
// of DownloadSettings) and a link record that names the file's size and md5; the child's
// ru_maxrss comes from wait4. Every download, the baselines' too, is compared byte for byte with
// the file served, and a record with a wrong md5 must end as failed and leave no target.
// For scale, without goals: the facility on /open/ with a record that gives no md5, one curl
// stream piped through md5sum (a download that checks its md5 too), and, per download, the
// requests nginx logged (ranges, connections). nginx grants each new request its first second at
// full speed (it allows rate x (elapsed seconds + 1)), so a client that makes more, shorter range
// requests gains on /limited/: the request counts show how much of a lead comes from that.
// Throughputs are the best of a few runs (the single limited stream runs once: the server's rate
// limit, not the machine, decides its time). The figures are printed with PASS or FAIL per goal;
// the exit code is 0 unless the bench itself could not run.
//   bench_download [MEBIBYTES]
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "platform/paths.h"
#include "update/download.h"

namespace {

namespace fs = std::filesystem;
using common::Text;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr int kLimitedRounds = 3;  // facility and aria2c, taken in turns
constexpr int kOpenRounds = 3;     // facility and curl on the unlimited location, in turns
constexpr unsigned kChildLimitSeconds = 150;  // a download that takes longer is killed
constexpr double kMemoryGoalMiB = 64;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::optional<std::string> FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// The served file: splitmix64 output, which no transfer can compress, written a block at a time
// so that the bench itself stays small (a forked child starts with the bench's memory).
std::optional<std::string> MakeFile(const fs::path& path, std::int64_t size) {
  std::ofstream out(path, std::ios::binary);
  EVP_MD_CTX* md5 = EVP_MD_CTX_new();
  if (!out || md5 == nullptr || EVP_DigestInit_ex(md5, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(md5);
    return std::nullopt;
  }
  std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
  std::uint64_t state = 0x9e3779b97f4a7c15ULL;
  for (std::int64_t left = size; left > 0;) {
    for (auto& word : block) {
      std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      word = z ^ (z >> 31);
    }
    const auto bytes = static_cast<std::size_t>(
        std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size() * 8)));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(bytes));
    EVP_DigestUpdate(md5, block.data(), bytes);
    left -= static_cast<std::int64_t>(bytes);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(md5, digest, &length);
  EVP_MD_CTX_free(md5);
  out.close();
  if (!out) return std::nullopt;
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", digest[i]);
    hex += digits;
  }
  return hex;
}

// True when `copy` holds exactly the bytes of `original`.
bool SameBytes(const fs::path& original, const fs::path& copy) {
  std::error_code error;
  const auto size = fs::file_size(original, error);
  if (error || fs::file_size(copy, error) != size || error) return false;
  std::ifstream a(original, std::ios::binary);
  std::ifstream b(copy, std::ios::binary);
  std::vector<char> x(1 << 20);
  std::vector<char> y(1 << 20);
  while (a && b) {
    a.read(x.data(), static_cast<std::streamsize>(x.size()));
    b.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (a.gcount() != b.gcount()) return false;
    if (std::memcmp(x.data(), y.data(), static_cast<std::size_t>(a.gcount())) != 0) return false;
  }
  return a.eof() && b.eof();
}

void RemoveDownloads(const fs::path& dir) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) fs::remove_all(entry.path(), error);
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// nginx in the foreground with a prefix, logs and temporary folders of its own; it dies with the
// bench even when the bench is killed.
class Nginx {
 public:
  bool Start(const std::string& binary, const fs::path& home, const fs::path& files) {
    home_ = home;
    fs::create_directories(home / "temp");
    port_ = FreePort();
    if (port_ == 0) return false;
    const std::string h = home.string();
    std::string conf;
    conf += "worker_processes 1;\n";
    conf += "daemon off;\n";
    if (::geteuid() == 0) conf += "user root;\n";  // the temporary folder is the owner's alone
    conf += "pid " + h + "/nginx.pid;\n";
    conf += "error_log " + h + "/error.log warn;\n";
    conf += "events { worker_connections 256; }\n";
    conf += "http {\n";
    // One line per request: what the requests of a download were (ranges, connections).
    conf += "  log_format bench '$status $connection \"$http_range\" \"$http_accept_encoding\"';\n";
    conf += "  access_log " + h + "/access.log bench;\n";
    conf += "  default_type application/octet-stream;\n";
    conf += "  sendfile on;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
      conf += std::string("  ") + kind + "_temp_path " + h + "/temp/" + kind + ";\n";
    }
    conf += "  server {\n";
    conf += "    listen 127.0.0.1:" + std::to_string(port_) + ";\n";
    conf += "    location /limited/ { alias " + files.string() + "/; limit_rate 5m; }\n";
    conf += "    location /open/ { alias " + files.string() + "/; }\n";
    conf += "  }\n";
    conf += "}\n";
    {
      std::ofstream out(home / "nginx.conf");
      out << conf;
    }
    const std::string confPath = (home / "nginx.conf").string();
    const std::string errorLog = (home / "error.log").string();
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      const int log = ::open((home / "stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (log >= 0) {
        ::dup2(log, 1);
        ::dup2(log, 2);
      }
      ::execl(binary.c_str(), "nginx", "-p", (h + "/").c_str(), "-e", errorLog.c_str(), "-c",
              confPath.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      if (Accepts(port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

  std::string Log() const { return ReadAll(home_ / "stderr.log") + ReadAll(home_ / "error.log"); }

  int Port() const { return port_; }

  std::uintmax_t AccessLogSize() const {
    std::error_code error;
    const auto size = fs::file_size(home_ / "access.log", error);
    return error ? 0 : size;
  }

  // The requests logged since the log had `offset` bytes, as "N requests (K ranges) on C
  // connections", with a word on any request that asked for compression.
  std::string RequestsSince(std::uintmax_t offset) const {
    std::ifstream in(home_ / "access.log");
    in.seekg(static_cast<std::streamoff>(offset));
    int requests = 0;
    int ranges = 0;
    int compressed = 0;
    std::vector<std::string> connections;
    std::string line;
    while (std::getline(in, line)) {
      ++requests;
      if (line.rfind("206 ", 0) == 0) ++ranges;
      const std::size_t space = line.find(' ');
      const std::string connection = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
      if (std::find(connections.begin(), connections.end(), connection) == connections.end()) {
        connections.push_back(connection);
      }
      if (line.size() < 4 || line.compare(line.size() - 4, 4, " \"-\"") != 0) ++compressed;
    }
    std::string text = std::to_string(requests) + " requests (" + std::to_string(ranges) +
                       " ranges) on " + std::to_string(connections.size()) + " connections";
    if (compressed > 0) text += ", " + std::to_string(compressed) + " with Accept-Encoding";
    return text;
  }
  ~Nginx() { Stop(); }

 private:
  fs::path home_;
  int port_ = 0;
  pid_t pid_ = -1;
};

struct Run {
  bool ok = false;  // completed, and the target holds exactly the served bytes
  double seconds = 0;
  double peakMiB = 0;  // ru_maxrss of the process that downloaded
  std::string note;    // why a run is not ok, or what else was seen
};

// One program of the baseline, started without a shell.
Run RunProgram(const std::vector<std::string>& argv) {
  Run run;
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const double start = Now();
  const pid_t pid = ::fork();
  if (pid < 0) {
    run.note = "fork failed";
    return run;
  }
  if (pid == 0) {
    ::alarm(kChildLimitSeconds);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  run.seconds = Now() - start;
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!run.ok) {
    run.note = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                   : "exit code " + std::to_string(WEXITSTATUS(status));
  }
  return run;
}

// What the forked child tells the bench about the facility's download.
struct ChildReport {
  double seconds = 0;
  int result = -1;  // DownloadResult, -1 when AddTask refused
  std::int64_t bytesDone = 0;
  std::int64_t totalReported = -1;  // the value of the total-size event, -1 without one
  int endEvents = 0;                // how many task-ended events arrived
  char reason[256] = {};
};

// The facility's download of `record` into `target`, in a child process of its own, so that its
// peak memory is the download's. The bench has started no thread before the fork.
Run RunFacility(const Text& record, const fs::path& target, ChildReport* details = nullptr) {
  Run run;
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) {
    run.note = "pipe failed";
    return run;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    run.note = "fork failed";
    return run;
  }
  if (pid == 0) {
    ::close(pipeEnds[0]);
    ::alarm(kChildLimitSeconds);
    ChildReport report;
    {
      std::atomic<std::int64_t> total{-1};
      std::atomic<int> ended{0};
      update::DownloadFacility facility;
      update::DownloadSettings settings;  // the defaults are the settings UpDate uses
      settings.address = record;
      settings.target = platform::ProgramPath(target);
      settings.eventHandler = [&](const update::DownloadEvent& event) {
        if (event.code == update::kEventTotalSize) total = event.value;
        if (event.code == update::kEventTaskEnded) ++ended;
        return 0;
      };
      const double start = Now();
      if (facility.AddTask(settings)) {
        facility.Wait();
        report.seconds = Now() - start;
        const update::DownloadOutcome outcome = facility.LastOutcome();
        report.result = static_cast<int>(outcome.result);
        report.bytesDone = outcome.bytesDone;
        std::snprintf(report.reason, sizeof report.reason, "%s", outcome.reason.c_str());
      }
      report.totalReported = total;
      report.endEvents = ended;
    }
    const ssize_t written = ::write(pipeEnds[1], &report, sizeof report);
    ::_exit(written == static_cast<ssize_t>(sizeof report) ? 0 : 1);
  }
  ::close(pipeEnds[1]);
  ChildReport report;
  std::size_t got = 0;
  while (got < sizeof report) {
    const ssize_t n =
        ::read(pipeEnds[0], reinterpret_cast<char*>(&report) + got, sizeof report - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeEnds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  if (got != sizeof report) {
    run.note = WIFSIGNALED(status)
                   ? "download process killed by signal " + std::to_string(WTERMSIG(status))
                   : "download process ended without a report";
    return run;
  }
  run.seconds = report.seconds;
  if (details != nullptr) *details = report;
  if (report.result < 0) {
    run.note = "AddTask refused the task";
  } else if (report.result != static_cast<int>(update::DownloadResult::Completed)) {
    run.note = std::string("not completed: ") + report.reason;
  } else {
    run.ok = true;
  }
  if (report.endEvents != 1) {
    run.note +=
        (run.note.empty() ? "" : "; ") + std::to_string(report.endEvents) + " task-ended events";
  }
  return run;
}

// A run counts when it completed and the downloaded file holds exactly the served bytes.
void Check(Run& run, const fs::path& original, const fs::path& copy) {
  if (run.ok && !SameBytes(original, copy)) {
    run.ok = false;
    run.note = "the downloaded file differs from the served one";
  }
}

void Show(const char* what, int round, const Run& run, double bytes) {
  if (run.ok) {
    std::printf("  %-34s run %d: %7.2f s %8.1f MiB/s   peak memory %6.1f MiB%s%s\n", what, round,
                run.seconds, bytes / kMiB / run.seconds, run.peakMiB, run.note.empty() ? "" : "  ",
                run.note.c_str());
  } else {
    std::printf("  %-34s run %d: FAILED (%s)\n", what, round, run.note.c_str());
  }
  std::fflush(stdout);
}

// The best throughput of the runs that counted, in MiB/s; 0 when none did.
double BestRate(const std::vector<Run>& runs, double bytes) {
  double best = 0;
  for (const auto& run : runs) {
    if (run.ok && run.seconds > 0) best = std::max(best, bytes / kMiB / run.seconds);
  }
  return best;
}

void Goal(const char* what, double figure, double baseline, double goal, bool& allPassed) {
  const double ratio = baseline > 0 ? figure / baseline : 0;
  const bool pass = figure > 0 && baseline > 0 && ratio >= goal;
  allPassed = allPassed && pass;
  std::printf("  %-40s %8.1f / %8.1f MiB/s   ratio %5.2f   goal >= %.1f   %s\n", what, figure,
              baseline, ratio, goal, pass ? "PASS" : "FAIL");
}

}  // namespace

int main(int argc, char** argv) {
  const long mebibytes = argc > 1 ? std::max(1L, std::atol(argv[1])) : 200;
  const auto size = static_cast<std::int64_t>(mebibytes) * (1 << 20);
  const double bytes = static_cast<double>(size);

  const std::string nginxBinary = "/usr/sbin/nginx";
  const auto aria2c = FindProgram("aria2c");
  const auto curl = FindProgram("curl");
  std::vector<std::string> missing;
  if (::access(nginxBinary.c_str(), X_OK) != 0) missing.push_back(nginxBinary);
  if (!aria2c) missing.push_back("aria2c");
  if (!curl) missing.push_back("curl");
  if (!missing.empty()) {
    std::string names;
    for (const auto& name : missing) names += (names.empty() ? "" : ", ") + name;
    std::printf("bench_download skipped: %s missing (scripts/deps.sh --bench installs them)\n",
                names.c_str());
    return 0;
  }
  // Loopback transfers go straight to the server, whatever proxy the environment names.
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    ::unsetenv(name);
  }
  ::setenv("no_proxy", "127.0.0.1,localhost", 1);

  char pattern[] = "/tmp/velmora-bench-download-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path root = pattern;
  const fs::path files = root / "www";
  const fs::path downloads = root / "dl";
  fs::create_directories(files);
  fs::create_directories(downloads);
  const fs::path served = files / "file";
  const fs::path target = downloads / "1.zip";

  std::printf("Making a file of %ld MiB ...\n", mebibytes);
  std::fflush(stdout);
  const auto md5 = MakeFile(served, size);
  Nginx nginx;
  if (!md5 || !nginx.Start(nginxBinary, root / "nginx", files)) {
    std::printf("bench_download: %s\n%s", md5 ? "nginx did not start" : "cannot write the file",
                nginx.Log().c_str());
    nginx.Stop();
    std::error_code error;
    fs::remove_all(root, error);
    return 1;
  }
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.Port());
  const std::string limited = base + "/limited/file";
  const std::string open = base + "/open/file";
  const auto record = [&](const std::string& url, const std::string& digest) {
    return Text(url + "|x*x|" + std::to_string(size) + "|" + digest);
  };
  std::printf("nginx on %s: /limited/ at 5 MiB/s per connection, /open/ unlimited\n\n",
              base.c_str());

  rusage self{};
  ::getrusage(RUSAGE_SELF, &self);
  const double benchPeakMiB = static_cast<double>(self.ru_maxrss) / 1024.0;
  double facilityPeakMiB = 0;
  bool memoryMeasured = false;
  const auto facility = [&](const std::string& url, const std::string& digest,
                            ChildReport* details = nullptr) {
    RemoveDownloads(downloads);
    const std::uintmax_t logged = nginx.AccessLogSize();
    Run run = RunFacility(record(url, digest), target, details);
    const std::string requests = nginx.RequestsSince(logged);
    run.note = run.note.empty() ? requests : run.note + "; " + requests;
    if (run.peakMiB > 0) memoryMeasured = true;
    facilityPeakMiB = std::max(facilityPeakMiB, run.peakMiB);
    Check(run, served, target);
    return run;
  };

  // The md5 of the record is checked: a wrong one fails and leaves no target behind.
  std::string wrongMd5 = *md5;
  wrongMd5.back() = wrongMd5.back() == '0' ? '1' : '0';
  ChildReport wrongDetails;
  const Run wrong = facility(open, wrongMd5, &wrongDetails);
  std::error_code error;
  const bool targetLeft = fs::exists(target, error);
  const bool md5Checked = wrongDetails.result == static_cast<int>(update::DownloadResult::Failed) &&
                          !targetLeft && wrongDetails.endEvents == 1;
  std::printf(
      "md5 check: a record with a wrong md5 ends %s (%s)%s   %s\n\n",
      wrongDetails.result == static_cast<int>(update::DownloadResult::Completed) ? "completed"
      : wrongDetails.result == static_cast<int>(update::DownloadResult::Failed)  ? "failed"
                                                                                 : "otherwise",
      wrongDetails.reason[0] != '\0' ? wrongDetails.reason : wrong.note.c_str(),
      targetLeft ? ", target left behind" : ", no target", md5Checked ? "PASS" : "FAIL");

  std::printf("Limited location (5 MiB/s per connection), %ld MiB:\n", mebibytes);
  std::vector<Run> facilityLimited;
  std::vector<Run> aria2Limited;
  for (int round = 1; round <= kLimitedRounds; ++round) {
    facilityLimited.push_back(facility(limited, *md5));
    Show("UpDate download facility", round, facilityLimited.back(), bytes);
    RemoveDownloads(downloads);
    const std::uintmax_t logged = nginx.AccessLogSize();
    Run aria =
        RunProgram({*aria2c, "--no-conf=true", "-x5", "-s5", "-k1M", "--allow-overwrite=true", "-d",
                    downloads.string(), "-o", "1.zip", limited, "-q"});
    Check(aria, served, target);
    if (aria.ok) aria.note = nginx.RequestsSince(logged);
    aria2Limited.push_back(aria);
    Show("aria2c -x5 -s5 -k1M", round, aria, bytes);
  }
  RemoveDownloads(downloads);
  std::vector<Run> curlLimited;
  curlLimited.push_back(RunProgram({*curl, "-q", "-s", "-o", target.string(), limited}));
  Check(curlLimited.back(), served, target);
  Show("curl, one stream", 1, curlLimited.back(), bytes);

  std::printf("\nUnlimited location, %ld MiB:\n", mebibytes);
  const double md5Start = Now();
  // The facility's own md5 of a whole file, against the one computed while the file was written.
  const bool md5Agrees = update::FileMd5(served.string()) == *md5;
  std::printf("  (for scale: the md5 of the file alone, from the page cache, takes %.2f s%s)\n",
              Now() - md5Start,
              md5Agrees ? "" : "; it differs from the one computed while writing");
  std::vector<Run> facilityOpen;
  std::vector<Run> facilityOpenNoMd5;
  std::vector<Run> curlOpen;
  std::vector<Run> curlOpenMd5;
  const auto bash = FindProgram("bash");
  const auto md5sum = FindProgram("md5sum");
  const auto tee = FindProgram("tee");
  const bool hashingBaseline = bash && md5sum && tee;
  for (int round = 1; round <= kOpenRounds; ++round) {
    facilityOpen.push_back(facility(open, *md5));
    Show("UpDate download facility", round, facilityOpen.back(), bytes);
    // For scale: the same without an md5 in the record, so without the check at the end.
    facilityOpenNoMd5.push_back(facility(open, ""));
    Show("facility, record without md5", round, facilityOpenNoMd5.back(), bytes);
    RemoveDownloads(downloads);
    Run one = RunProgram({*curl, "-q", "-s", "-o", target.string(), open});
    Check(one, served, target);
    curlOpen.push_back(one);
    Show("curl, one stream", round, one, bytes);
    if (hashingBaseline) {
      // For scale: one stream that also checks its md5, hashed alongside in another process.
      RemoveDownloads(downloads);
      Run hashed = RunProgram({*bash, "-c",
                               "set -o pipefail; \"$1\" -q -s \"$2\" | \"$3\" \"$4\" | "
                               "\"$5\" | grep -q \"^$6 \"",
                               "bash", *curl, open, *tee, target.string(), *md5sum, *md5});
      Check(hashed, served, target);
      curlOpenMd5.push_back(hashed);
      Show("curl | tee | md5sum", round, hashed, bytes);
    }
  }
  RemoveDownloads(downloads);
  nginx.Stop();

  std::printf("\nBest of the runs (facility / baseline):\n");
  bool allPassed = md5Checked;
  const double facilityLimitedRate = BestRate(facilityLimited, bytes);
  Goal("limited: facility / aria2c -x5 -s5 -k1M", facilityLimitedRate,
       BestRate(aria2Limited, bytes), 1.0, allPassed);
  Goal("limited: facility / one curl stream", facilityLimitedRate, BestRate(curlLimited, bytes),
       4.5, allPassed);
  Goal("unlimited: facility / one curl stream", BestRate(facilityOpen, bytes),
       BestRate(curlOpen, bytes), 1.0, allPassed);
  const double noMd5Rate = BestRate(facilityOpenNoMd5, bytes);
  const double curlOpenRate = BestRate(curlOpen, bytes);
  std::printf("  %-40s %8.1f / %8.1f MiB/s   ratio %5.2f   (for scale, no goal)\n",
              "unlimited: without md5 / one curl stream", noMd5Rate, curlOpenRate,
              curlOpenRate > 0 ? noMd5Rate / curlOpenRate : 0.0);
  if (hashingBaseline) {
    const double hashedRate = BestRate(curlOpenMd5, bytes);
    std::printf("  %-40s %8.1f / %8.1f MiB/s   ratio %5.2f   (for scale, no goal)\n",
                "unlimited: facility / curl | tee | md5sum", BestRate(facilityOpen, bytes),
                hashedRate, hashedRate > 0 ? BestRate(facilityOpen, bytes) / hashedRate : 0.0);
  }
  const bool memoryPass = memoryMeasured && facilityPeakMiB < kMemoryGoalMiB;
  allPassed = allPassed && memoryPass;
  std::printf(
      "  %-40s %8.1f MiB (largest ru_maxrss of the download processes; the bench they were "
      "forked from: %.1f MiB)   goal < %.0f MiB   %s\n",
      "peak memory of the download", facilityPeakMiB, benchPeakMiB, kMemoryGoalMiB,
      memoryPass ? "PASS" : "FAIL");
  std::printf("\n%s\n", allPassed ? "every goal met" : "some goals missed");

  fs::remove_all(root, error);
  return 0;
}
