#include "common/fetch.h"

#include <curl/curl.h>

#include <array>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "common/curl_support.h"

namespace common {

namespace {

constexpr const char* kDefaultAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; MX2QV; .NET CLR 2.0.50727; "
    ".NET CLR 3.0.04506.648; .NET CLR 3.5.21022)";

// The raw header text is read into a buffer of this size, its terminating zero included; a
// longer text (or no response at all) leaves the buffer as it was filled: all spaces.
constexpr std::size_t kRawHeaderBuffer = 5000;

constexpr int kMaxAutoRedirects = 10;

// ---------------------------------------------------------------------------------------------
// Settings

std::mutex& SettingsMutex() {
  static std::mutex mutex;
  return mutex;
}

detail::FetchSettings& Settings() {
  static detail::FetchSettings settings;
  return settings;
}

// ---------------------------------------------------------------------------------------------
// libcurl set-up: the library is initialised once per process, and one cookie share plays the
// system's cookie store. Two threads may fetch at the same time, so the share is locked.

std::array<std::mutex, CURL_LOCK_DATA_LAST>& ShareLocks() {
  static std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
  return locks;
}

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void*) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) ShareLocks()[data].lock();
}

void UnlockShare(CURL*, curl_lock_data data, void*) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) ShareLocks()[data].unlock();
}

// The share lives as long as the process: handles of other threads may still use it at exit.
CURLSH* CookieStore() {
  static std::once_flag once;
  static CURLSH* share = nullptr;
  std::call_once(once, [] {
    curl::InitialiseLibrary();
    share = curl_share_init();
    if (share == nullptr) return;
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, LockShare);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, UnlockShare);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  });
  return share;
}

// ---------------------------------------------------------------------------------------------
// One transfer: what the callbacks collect.

struct Transfer {
  Text headers;              // the current response's status and header lines, CRLF form
  bool headersDone = false;  // the empty line after them has arrived
  bool redirects = false;    // a redirect answer with a Location line
  bool following = false;    // redirect answers are followed automatically
  std::string body;
  std::size_t maxBody = 0;
  bool bodyTooLong = false;

  void StartResponse() {
    headers.clear();
    headersDone = false;
    redirects = false;
    body.clear();
  }
  // The library goes on to the Location of this answer: it is not the final one.
  bool AwaitsFollowUp() const { return following && redirects; }
};

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (StartsWith(line, "HTTP/")) {
    // A new status line: an interim answer or a followed redirect came before this one.
    transfer->StartResponse();
  } else if (transfer->headersDone) {
    return length;  // trailer lines after the body
  }
  if (line.empty()) {
    transfer->headersDone = true;
    const std::size_t space = transfer->headers.find(' ');
    const bool redirectStatus =
        space != std::string::npos && transfer->headers.compare(space + 1, 1, "3") == 0;
    if (!redirectStatus) transfer->redirects = false;
  } else if (StartsWith(line, "Location:", true)) {
    transfer->redirects = true;
  }
  transfer->headers.append(line);
  transfer->headers.append("\r\n");
  return length;
}

size_t OnBodyBytes(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  if (transfer->body.size() + length > transfer->maxBody) {
    transfer->bodyTooLong = true;
    return 0;  // ends the transfer
  }
  transfer->body.append(data, length);
  return length;
}

// Called before every request goes out, the automatically followed ones included: whatever an
// earlier answer left belongs to that answer.
int OnRequestStart(void* user, char*, char*, int, int) {
  static_cast<Transfer*>(user)->StartResponse();
  return CURL_PREREQFUNC_OK;
}

// Failures that mean the request never got an answer from its server.
bool IsSendFailure(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
      return true;
    default:
      return false;
  }
}

// The header text as request header lines. A line "Name:" without a value is sent as an empty
// header ("Name;" in libcurl's terms) instead of removing the library's own header of that name.
curl::HeaderList HeaderList(const Text& headers, bool* failed) {
  curl_slist* list = nullptr;
  bool hasExpect = false;
  for (const Text& item : Split(headers, "\r\n")) {
    Text line = item;
    if (Trim(line).empty()) continue;
    const int colon = Find(line, ":");
    if (colon > 1 && Trim(Mid(line, colon + 1)).empty()) line = Left(line, colon - 1) + ";";
    if (colon > 1 && Equals(Trim(Left(line, colon - 1)), "Expect", true)) hasExpect = true;
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) {
      *failed = true;
      break;
    }
    list = grown;
  }
  // The library would otherwise ask large POST bodies to wait for "100 Continue".
  if (!*failed && !hasExpect) {
    curl_slist* grown = curl_slist_append(list, "Expect:");
    if (grown == nullptr)
      *failed = true;
    else
      list = grown;
  }
  return curl::HeaderList(list);
}

struct Request {
  std::string address;  // the URL handed to the library
  bool post = false;
  const std::string* postBytes = nullptr;
  Text agent;
  const Text* headers = nullptr;
  bool useCookieStore = true;
  bool noAutoRedirect = false;
  Text proxy;  // empty: direct
};

struct Answer {
  bool sent = false;  // an answer came: its headers are complete
  Text headers;
  std::string body;
  bool bodyTooLong = false;
};

Answer Perform(CURL* handle, const Request& request, const detail::FetchSettings& settings) {
  Answer answer;
  bool listFailed = false;
  auto headerList = HeaderList(*request.headers, &listFailed);
  if (listFailed) return answer;

  Transfer transfer;
  transfer.maxBody = settings.maxBodyBytes;
  transfer.following = !request.noAutoRedirect;

  curl_easy_setopt(handle, CURLOPT_URL, request.address.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(handle, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, request.agent.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeaderLine);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBodyBytes);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, OnRequestStart);
  curl_easy_setopt(handle, CURLOPT_PREREQDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, settings.connectTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, settings.noDataSeconds);
  // An empty proxy text also keeps proxies named by the environment out: the request is direct.
  curl_easy_setopt(handle, CURLOPT_PROXY, request.proxy.c_str());

  if (request.noAutoRedirect) {
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  } else {
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, static_cast<long>(kMaxAutoRedirects));
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  }

  if (!settings.trustedCertificates.empty())
    curl_easy_setopt(handle, CURLOPT_CAINFO, settings.trustedCertificates.c_str());

  if (request.useCookieStore) {
    if (CURLSH* store = CookieStore()) {
      curl_easy_setopt(handle, CURLOPT_SHARE, store);
      curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");  // switches the cookie engine on
    }
  }

  if (request.post) {
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.postBytes->size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.postBytes->data());
  } else {
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  }

  const CURLcode code = curl_easy_perform(handle);
  answer.bodyTooLong = transfer.bodyTooLong;
  // A redirect answer that was to be followed when the transfer failed is no answer either: the
  // request to its Location got none.
  answer.sent = transfer.headersDone && !IsSendFailure(code) &&
                !(code != CURLE_OK && transfer.AwaitsFollowUp());
  if (answer.sent) {
    answer.headers = std::move(transfer.headers);
    // A read error ends the body like its end: what arrived is kept.
    if (!answer.bodyTooLong) answer.body = std::move(transfer.body);
  }
  return answer;
}

// The host part to connect to. A query that follows the host directly is no part of it.
Text ConnectionHost(const Text& url) {
  Text host = UrlHost(url, false);
  for (const char* mark : {"?", "#"}) {
    const int at = Find(host, mark);
    if (at > 0) host = Left(host, at - 1);
  }
  return host;
}

bool DeclaresUtf8(std::string_view body, const Text& rawHeaders) {
  // The page is UTF-8 bytes, not GBK text: the declaration is searched byte by byte.
  const std::size_t at = body.find("charset=utf-8");
  if (at != std::string_view::npos && at + 1 < 500) return true;
  return Contains(rawHeaders, "charset=utf-8");
}

}  // namespace

namespace detail {

FetchSettings CurrentFetchSettings() {
  std::lock_guard lock(SettingsMutex());
  return Settings();
}

FetchSettings SetFetchSettings(const FetchSettings& settings) {
  std::lock_guard lock(SettingsMutex());
  FetchSettings previous = Settings();
  Settings() = settings;
  return previous;
}

}  // namespace detail

std::string FetchPage(const Text& url, std::optional<int> method, std::optional<Text> postText,
                      Text* cookies, Text* receivedCookies, Text* extraHeaders,
                      Text* redirectTarget, std::optional<bool> noAutoRedirect,
                      std::string* postBytes, const Text* proxy, Text* rawHeaders) {
  // Out-arguments the caller left out are kept here, so that every step below reads and writes
  // one variable whether the caller passed it or not.
  Text ownCookies, ownReceived, ownHeaders, ownTarget, ownRaw;
  std::string ownPostBytes;
  Text& cookieText = cookies != nullptr ? *cookies : ownCookies;
  Text& received = receivedCookies != nullptr ? *receivedCookies : ownReceived;
  Text& headers = extraHeaders != nullptr ? *extraHeaders : ownHeaders;
  Text& target = redirectTarget != nullptr ? *redirectTarget : ownTarget;
  Text& raw = rawHeaders != nullptr ? *rawHeaders : ownRaw;
  std::string& bytesToPost = postBytes != nullptr ? *postBytes : ownPostBytes;

  const bool post = method.has_value() && *method == 1;
  const Text textToPost = postText.value_or(Text());
  const bool noRedirects = noAutoRedirect.value_or(false);
  const Text proxyText = proxy != nullptr ? *proxy : Text();

  bool cookiesSupplied = cookies != nullptr;
  bool proxySupplied = proxy != nullptr;
  const detail::FetchSettings settings = detail::CurrentFetchSettings();

  Text address = url;
  // An unfollowed 301 answer leads to a follow-up request; the chain is bounded.
  for (int followUps = 0;; ++followUps) {
    // User agent: the caller's User-Agent line when there is one.
    Text agent;
    if (Contains(headers, "User-Agent:", true)) {
      agent = Trim(TextBetween(headers, "User-Agent:", "\r\n"));
      if (agent.empty()) agent = HeaderValue(headers);
    } else {
      agent = kDefaultAgent;
    }
    // The agent travels as one header line; whatever follows a line break is not part of it.
    for (const char* mark : {"\r", "\n"}) {
      const int at = Find(agent, mark);
      if (at > 0) agent = Left(agent, at - 1);
    }

    // Session, connection and request. When these cannot be prepared nothing is changed.
    const Text host = ConnectionHost(address);
    const int port = UrlPort(address);
    if (host.empty() || port < 0 || port > 65535) return {};
    curl::EasyHandle handle(curl_easy_init());
    if (!handle) return {};
    const bool secure = Equals(Left(ToLower(address), 5), "https");
    Request request;
    request.address = (secure ? "https://" : "http://") + host;
    if (port != 0) request.address += ":" + std::to_string(port);
    request.address += curl::EscapeUrlBytes(UrlPath(address));
    request.agent = agent;
    request.post = post;
    request.useCookieStore = !cookiesSupplied;
    request.noAutoRedirect = noRedirects;
    // The proxy serves plain http requests only.
    if (proxySupplied && !secure) {
      request.proxy = Trim(proxyText);
      if (!request.proxy.empty()) request.proxy = "http://" + request.proxy;
    }

    // Complete the header text, each header only when its name is not there yet.
    if (!Contains(headers, "Referer:")) {
      if (headers.empty())
        headers = "Referer: " + address;
      else
        headers += "\r\nReferer: " + address;
    }
    if (!Contains(headers, "Accept:")) headers += "\r\nAccept: */*";
    if (!Contains(headers, "Accept-Language:")) headers += "\r\nAccept-Language: zh-cn";
    if (!Contains(headers, "Content-Type:"))
      headers += "\r\nContent-Type: application/x-www-form-urlencoded";
    if (!cookieText.empty()) headers += "\r\nCookie: " + cookieText;
    request.headers = &headers;

    if (post && bytesToPost.empty()) bytesToPost = textToPost;
    request.postBytes = &bytesToPost;

    Answer answer = Perform(handle.get(), request, settings);
    handle.reset();

    // Raw headers: 5000 spaces unless a complete answer fits the buffer with its zero byte.
    if (answer.sent && answer.headers.size() < kRawHeaderBuffer)
      raw = AsText(answer.headers);
    else
      raw = Text(kRawHeaderBuffer, ' ');
    std::string body = answer.sent ? std::move(answer.body) : std::string();

    received.clear();
    for (const Text& line : Split(raw, "\r\n")) {
      if (Contains(line, "Location:")) target = HeaderValue(line);
      if (Contains(line, "Set-Cookie"))
        received += Trim(TextBetween(line, "Set-Cookie:", ";")) + "; ";
    }
    if (cookiesSupplied) MergeCookies(cookieText, received);
    if (target.empty()) target = raw;

    const Text status = TextBetween(raw, "HTTP/1.1 ", " Moved");
    if (status == "301") {
      if (followUps >= settings.maxFollowUps) return {};
      address = target + UrlPath(address);
      target.clear();
      // In the follow-up every optional argument counts as supplied.
      cookiesSupplied = true;
      proxySupplied = true;
      continue;
    }
    if (DeclaresUtf8(body, raw)) body = Utf8ToGbk(body);
    return body;
  }
}

Text UrlHost(const Text& url, bool keepPort) {
  Text s = ToLower(url);
  if (!EndsWith(s, "/")) s += "/";
  Text scheme;
  if (Left(s, 8) == "https://") {
    scheme = "https://";
  } else {
    scheme = "http://";
    if (!Contains(s, "http://")) s = "http://" + s;
  }
  s = TextBetween(s, scheme, "/");
  const int colon = Find(s, ":");
  if (keepPort || colon == -1) return s;
  return Left(s, colon - 1);
}

int UrlPort(const Text& url) {
  const Text host = UrlHost(url, true);
  const int colon = FindLast(host, ":");
  if (colon == -1) return Left(ToLower(url), 5) == "https" ? 443 : 80;
  const long long value = ToInteger(Mid(host, colon + 1));
  if (value < 0 || value > 0x7FFFFFFF) return 0;
  return static_cast<int>(value);
}

Text UrlPath(const Text& url) {
  const Text host = UrlHost(url, false);
  const int hostAt = Find(url, host, 1, true);
  const int slash = Find(url, "/", hostAt, true);
  if (slash == -1) return "/";
  return Mid(url, slash);
}

Text MergeCookies(Text& cookies, Text& received) {
  cookies = RemoveSpaces(cookies);
  received = RemoveSpaces(received);
  std::vector<Text> merged = Split(received, ";");
  for (const Text& sent : Split(cookies, ";")) {
    const Text name = CookieName(sent);
    bool known = false;
    for (const Text& item : merged) {
      if (CookieName(item) == name) {
        known = true;
        break;
      }
    }
    if (!known) merged.push_back(sent);
  }
  Text joined;
  for (const Text& item : merged) {
    if (Right(item, 8) == "=deleted") continue;
    joined += item;
    joined += "; ";
  }
  joined = Left(joined, static_cast<int>(joined.size()) - 2);
  cookies = RemoveDuplicateItems(joined, "; ");
  return cookies;
}

Text CookieName(const Text& item) {
  const int equals = Find(item, "=");
  if (equals == -1) return Trim(item);
  return Trim(Left(item, equals - 1));
}

Text RemoveDuplicateItems(const Text& text, const Text& separator) {
  if (text.empty()) return Text();
  std::vector<Text> kept;
  for (const Text& item : Split(text, separator)) {
    bool seen = false;
    for (const Text& earlier : kept) {
      if (earlier == item) {
        seen = true;
        break;
      }
    }
    if (!seen) kept.push_back(item);
  }
  Text joined;
  for (const Text& item : kept) {
    joined += item;
    joined += separator;
  }
  return Left(joined, static_cast<int>(joined.size() - separator.size()));
}

}  // namespace common
