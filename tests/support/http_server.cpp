#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace test_support {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

HttpRequest ParseRequest(std::string raw) {
  HttpRequest request;
  request.raw = std::move(raw);
  const std::size_t headEnd = request.raw.find("\r\n\r\n");
  const std::string head = request.raw.substr(0, headEnd);
  if (headEnd != std::string::npos) request.body = request.raw.substr(headEnd + 4);
  std::size_t start = 0;
  bool first = true;
  while (start <= head.size()) {
    std::size_t end = head.find("\r\n", start);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(start, end - start);
    if (first)
      request.line = line;
    else
      request.headers.push_back(line);
    first = false;
    start = end + 2;
  }
  return request;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

std::string HttpRequest::Target() const {
  const std::size_t first = line.find(' ');
  if (first == std::string::npos) return {};
  const std::size_t second = line.find(' ', first + 1);
  return line.substr(first + 1, second == std::string::npos ? std::string::npos
                                                            : second - first - 1);
}

std::vector<std::string> HttpRequest::HeaderValues(std::string_view name) const {
  std::vector<std::string> values;
  const std::string wanted = Lower(name);
  for (const std::string& header : headers) {
    const std::size_t colon = header.find(':');
    if (colon == std::string::npos) continue;
    if (Lower(TrimSpaces(std::string_view(header).substr(0, colon))) == wanted)
      values.emplace_back(TrimSpaces(std::string_view(header).substr(colon + 1)));
  }
  return values;
}

HttpServer::HttpServer(bool https) : https_(https) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/velmora-http-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return;
  dir_ = pattern;
  routesPath_ = dir_ + "/routes";
  logPath_ = dir_ + "/requests";
  WriteRoutes();

  std::string keyPath;
  if (https_) {
    certificatePath_ = dir_ + "/certificate.pem";
    keyPath = dir_ + "/key.pem";
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        keyPath + "' -out '" + certificatePath_ + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
  }

  int toServer[2];
  int fromServer[2];
  if (pipe2(toServer, O_CLOEXEC) != 0) return;
  if (pipe2(fromServer, O_CLOEXEC) != 0) {
    close(toServer[0]);
    close(toServer[1]);
    return;
  }
  const std::string script = std::string(VELMORA_TEST_SUPPORT_DIR) + "/http_server.py";
  const std::string errors = dir_ + "/stderr";
  pid_ = fork();
  if (pid_ == 0) {
    dup2(toServer[0], 0);
    dup2(fromServer[1], 1);
    const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err >= 0) dup2(err, 2);
    if (https_)
      execlp("python3", "python3", script.c_str(), routesPath_.c_str(), logPath_.c_str(),
             certificatePath_.c_str(), keyPath.c_str(), static_cast<char*>(nullptr));
    else
      execlp("python3", "python3", script.c_str(), routesPath_.c_str(), logPath_.c_str(),
             static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toServer[0]);
  close(fromServer[1]);
  stdinFd_ = toServer[1];
  if (pid_ < 0) {
    close(fromServer[0]);
    return;
  }

  // The server names its port on its first line.
  std::string line;
  pollfd waiting{fromServer[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&waiting, 1, 20000) > 0) {
    char buffer[64];
    const ssize_t got = read(fromServer[0], buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<std::size_t>(got));
  }
  close(fromServer[0]);
  if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
}

HttpServer::~HttpServer() {
  if (stdinFd_ >= 0) close(stdinFd_);  // the server ends when its input closes
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

std::string HttpServer::Url(std::string_view target) const {
  return (https_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) +
         std::string(target);
}

void HttpServer::Answer(std::string_view target, std::string_view response) {
  Route(target, "raw", response);
}

void HttpServer::Hang(std::string_view target) { Route(target, "hang", ""); }

void HttpServer::Drop(std::string_view target) { Route(target, "drop", ""); }

void HttpServer::ServeFile(std::string_view target, const std::string& path,
                           const FileAnswer& answer) {
  std::string data = "path=" + path + "\n";
  data += "ranges=" + std::to_string(answer.ranges ? 1 : 0) + "\n";
  data += "status=" + std::to_string(answer.status) + "\n";
  data += "length=" + std::to_string(answer.announceLength ? 1 : 0) + "\n";
  data += "announce_extra=" + std::to_string(answer.announceExtra) + "\n";
  data += "extra=" + std::to_string(answer.sendExtra) + "\n";
  data += "cut=" + std::to_string(answer.cutAt) + "\n";
  data += "stall=" + std::to_string(answer.stallAt) + "\n";
  data += "rate=" + std::to_string(answer.bytesPerSecond) + "\n";
  data += "slack=" + std::to_string(answer.rangeSlack) + "\n";
  Route(target, "file", data);
}

void HttpServer::Route(std::string_view target, std::string_view mode, std::string_view data) {
  routes_[std::string(target)] = {std::string(mode), std::string(data)};
  WriteRoutes();
}

void HttpServer::WriteRoutes() const {
  if (dir_.empty()) return;
  // Written beside and renamed over, so that the server never reads half a file.
  const std::string temporary = routesPath_ + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    for (const auto& [target, route] : routes_) {
      out << "ROUTE " << route.first << ' ' << target.size() << ' ' << route.second.size()
          << '\n'
          << target << route.second;
    }
  }
  std::rename(temporary.c_str(), routesPath_.c_str());
}

std::vector<HttpRequest> HttpServer::Requests() const {
  std::vector<HttpRequest> requests;
  if (logPath_.empty()) return requests;
  const std::string log = ReadFile(logPath_);
  std::size_t pos = 0;
  while (pos < log.size()) {
    const std::size_t end = log.find('\n', pos);
    if (end == std::string::npos || log.compare(pos, 8, "REQUEST ") != 0) break;
    const std::size_t length = std::strtoull(log.c_str() + pos + 8, nullptr, 10);
    pos = end + 1;
    if (pos + length > log.size()) break;
    requests.push_back(ParseRequest(log.substr(pos, length)));
    pos += length + 1;
  }
  return requests;
}

std::string HttpServer::Response(std::string_view statusLine,
                                 const std::vector<std::string>& headers,
                                 std::string_view body) {
  std::string response(statusLine);
  response += "\r\n";
  for (const std::string& header : headers) response += header + "\r\n";
  response += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  response += body;
  return response;
}

int UnusedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int port = 0;
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

}  // namespace test_support
