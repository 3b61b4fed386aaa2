// A scripted HTTP server on loopback for the network tests (tests/support/http_server.py, run
// with python3). Each test tells it what to answer on which request target, byte for byte, and
// reads back every request it received.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace test_support {

// One request as the server received it.
struct HttpRequest {
  std::string raw;                   // the exact bytes: head and body
  std::string line;                  // the request line, e.g. "GET /p HTTP/1.1"
  std::vector<std::string> headers;  // the header lines in order, without line breaks
  std::string body;

  std::string Target() const;  // the second word of the request line
  // Values (trimmed) of the header lines with this name (compared ignoring ASCII case).
  std::vector<std::string> HeaderValues(std::string_view name) const;
};

// How ServeFile serves its file; the defaults are a well-behaved server that honours ranges.
// Offsets count from the start of the file, so a range answer that covers one is affected.
struct FileAnswer {
  bool ranges = true;              // false: ignore Range and answer 200 with the whole file
  int status = 200;                // another status answers with an HTML error page instead
  bool announceLength = true;      // false: no Content-Length, the body ends with the connection
  long long announceExtra = 0;     // Content-Length announces this many bytes more than sent
  long long sendExtra = 0;         // this many bytes more than announced follow the body
  long long cutAt = -1;            // close the connection at this file offset
  long long stallAt = -1;          // stop sending at this file offset, keep the connection open
  long long bytesPerSecond = 0;    // per connection; 0 = as fast as possible
  long long rangeSlack = 0;        // a range "bytes=a-b" is answered with this many bytes more
};

class HttpServer {
 public:
  // Starts the server; Running() tells whether that worked. An https server makes its own
  // certificate for 127.0.0.1 (with openssl), which a client must be told to trust.
  explicit HttpServer(bool https = false);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  bool Running() const { return port_ > 0; }
  int Port() const { return port_; }
  // "http://127.0.0.1:<port>" (or "https://…") followed by the target.
  std::string Url(std::string_view target = "/") const;
  // The PEM file of an https server's certificate; empty for a plain server.
  const std::string& CertificatePath() const { return certificatePath_; }

  // The answer for a request target (path and query as sent): these exact bytes, in which
  // "{PORT}" stands for the server's port. A target ending in "*" matches by prefix.
  void Answer(std::string_view target, std::string_view response);
  // Reads the request and never answers (until the client gives up).
  void Hang(std::string_view target);
  // Reads the request and closes the connection without an answer.
  void Drop(std::string_view target);
  // Serves the file at this native path (read anew for every request) as `answer` says.
  void ServeFile(std::string_view target, const std::string& path, const FileAnswer& answer = {});

  // Every request received so far, in order of arrival.
  std::vector<HttpRequest> Requests() const;

  // An answer with this status line, these header lines and body, and a Content-Length line
  // after the given headers.
  static std::string Response(std::string_view statusLine,
                              const std::vector<std::string>& headers, std::string_view body);

 private:
  void Route(std::string_view target, std::string_view mode, std::string_view data);
  void WriteRoutes() const;

  std::string dir_;
  std::string routesPath_;
  std::string logPath_;
  std::string certificatePath_;
  bool https_ = false;
  std::map<std::string, std::pair<std::string, std::string>> routes_;
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int port_ = 0;
};

// A loopback port on which nothing listens (bound once, then released).
int UnusedPort();

}  // namespace test_support
