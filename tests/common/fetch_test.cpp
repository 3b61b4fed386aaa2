#include "common/fetch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/http_server.h"

namespace {

using namespace common;
using namespace common::literals;
using test_support::HttpRequest;
using test_support::HttpServer;

const Text kDefaultAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; MX2QV; .NET CLR 2.0.50727; "
    ".NET CLR 3.0.04506.648; .NET CLR 3.5.21022)";
const Text kSpaces(5000, ' ');

// Changes the fetch settings for one test: lower limits, so that giving up on a silent server
// takes a second, or the test's own certificate authority.
class ScopedSettings {
 public:
  explicit ScopedSettings(const detail::FetchSettings& settings)
      : previous_(detail::SetFetchSettings(settings)) {}
  ~ScopedSettings() { detail::SetFetchSettings(previous_); }

 private:
  detail::FetchSettings previous_;
};

detail::FetchSettings QuickLimits() {
  detail::FetchSettings limits;
  limits.connectTimeoutSeconds = 2;
  limits.noDataSeconds = 1;
  return limits;
}

// The items of the Cookie lines of a request. Cookies that other requests of this process left in
// the shared store may stand beside the ones a test looks for.
std::vector<std::string> CookieItems(const HttpRequest& request) {
  std::vector<std::string> items;
  for (const std::string& line : request.HeaderValues("Cookie"))
    for (const Text& item : Split(line, "; ")) items.push_back(item);
  return items;
}

bool HasItem(const std::vector<std::string>& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

std::string Ok(std::string_view body, std::vector<std::string> headers = {}) {
  return HttpServer::Response("HTTP/1.1 200 OK", headers, body);
}

// Every out-argument of one call, so that a test can look at all of them.
struct Call {
  Text cookies;
  Text received;
  Text headers;
  Text target;
  std::string postBytes;
  Text raw;
  std::string body;
};

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.Running()) << "python3 could not start the server"; }

  // A GET with every out-argument but cookies and proxy supplied.
  Call Get(const Text& url, bool noAutoRedirect = false) {
    Call call;
    call.body = FetchPage(url, std::nullopt, std::nullopt, nullptr, &call.received, &call.headers,
                          &call.target, noAutoRedirect, nullptr, nullptr, &call.raw);
    return call;
  }

  std::vector<HttpRequest> RequestsTo(const HttpServer& on, const std::string& target) {
    std::vector<HttpRequest> found;
    for (HttpRequest& request : on.Requests())
      if (request.Target() == target) found.push_back(std::move(request));
    return found;
  }

  HttpServer server;
};

// ---------------------------------------------------------------------------------------------
// Address parts

TEST(UrlParts, HostPortAndPathFollowTheAddressRules) {
  struct Case {
    Text url, host, hostWithPort;
    int port;
    Text path;
  } cases[] = {
      {"http://WWW.Example.COM", "www.example.com", "www.example.com", 80, "/"},
      {"http://WWW.Example.COM/", "www.example.com", "www.example.com", 80, "/"},
      {"https://Host.Example.net:8443/x/y?z=1", "host.example.net", "host.example.net:8443", 8443,
       "/x/y?z=1"},
      {"example.com/page", "example.com", "example.com", 80, "/page"},
      // A query straight after the host is not part of the path.
      {"http://127.0.0.1:8080?q=1", "127.0.0.1", "127.0.0.1:8080?q=1", 8080, "/"},
      {"http://example.com?q=1", "example.com?q=1", "example.com?q=1", 80, "/"},
      {"HTTPS://Secure.example.org/a", "secure.example.org", "secure.example.org", 443, "/a"},
      {"https://secure.example.org:444", "secure.example.org", "secure.example.org:444", 444, "/"},
      {"http://example.com:abc/x", "example.com", "example.com:abc", 0, "/x"},
      // The path keeps the case it was written in; only the host is folded.
      {"http://Example.com/A/B.HTML", "example.com", "example.com", 80, "/A/B.HTML"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(UrlHost(c.url), c.host);
    EXPECT_EQ(UrlHost(c.url, true), c.hostWithPort);
    EXPECT_EQ(UrlPort(c.url), c.port);
    EXPECT_EQ(UrlPath(c.url), c.path);
  }
}

// ---------------------------------------------------------------------------------------------
// Cookie texts

TEST(CookieTexts, MergeKeepsReceivedFirstAndDropsDeleted) {
  struct Case {
    Text sent, received, merged, receivedAfter;
  } cases[] = {
      {"a=1; b=2", "b=3; c=deleted; ", "b=3; a=1", "b=3;c=deleted;"},
      {"", "x=1; ", "x=1", "x=1;"},
      {"a=1", "", "a=1", ""},
      {"", "", "", ""},
      // A sent cookie that the server deletes disappears with its namesake.
      {"a=1; b=2", "a=deleted; ", "b=2", "a=deleted;"},
      // Repeats collapse; the first of two sent namesakes wins.
      {"a=1; a=2; a=1", "", "a=1", ""},
      {"s=1", "s=1; s=1; ", "s=1", "s=1;s=1;"},
      // Spaces go, full-width ones too.
      {"k = v", "", "k=v", ""},
      {"a=1\xA1\xA1", "", "a=1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent + " | " + c.received);
    Text cookies = c.sent;
    Text received = c.received;
    EXPECT_EQ(MergeCookies(cookies, received), c.merged);
    EXPECT_EQ(cookies, c.merged);
    EXPECT_EQ(received, c.receivedAfter);
  }
}

TEST(CookieTexts, NameAndDuplicateRemoval) {
  EXPECT_EQ(CookieName(" sid = 42 "), "sid");
  EXPECT_EQ(CookieName(" flag "), "flag");
  EXPECT_EQ(CookieName("a=b=c"), "a");

  struct Case {
    Text text, separator, result;
  } cases[] = {
      {"a; b; a; c; b", "; ", "a; b; c"},
      {"a; b; ", "; ", "a; b"},
      {"", "; ", ""},
      {"x", ",", "x"},
      {"x,,x,", ",", "x,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(RemoveDuplicateItems(c.text, c.separator), c.result);
  }
}

// ---------------------------------------------------------------------------------------------
// The request that goes out

TEST_F(FetchTest, EmptyExtraHeadersAreCompletedWithTheFourDefaultLines) {
  server.Answer("/page?q=1", Ok("hello"));
  const Text url = server.Url("/page?q=1");
  Call call = Get(url);
  EXPECT_EQ(call.body, "hello");
  EXPECT_EQ(call.headers, "Referer: " + url +
                              "\r\nAccept: */*\r\nAccept-Language: zh-cn"
                              "\r\nContent-Type: application/x-www-form-urlencoded");

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const HttpRequest& request = requests[0];
  EXPECT_EQ(request.line, "GET /page?q=1 HTTP/1.1");
  EXPECT_EQ(request.HeaderValues("Host"),
            std::vector<std::string>{"127.0.0.1:" + std::to_string(server.Port())});
  EXPECT_EQ(request.HeaderValues("Referer"), std::vector<std::string>{url});
  // The library's own Accept line must not come twice.
  EXPECT_EQ(request.HeaderValues("Accept"), std::vector<std::string>{"*/*"});
  EXPECT_EQ(request.HeaderValues("Accept-Language"), std::vector<std::string>{"zh-cn"});
  EXPECT_EQ(request.HeaderValues("Content-Type"),
            std::vector<std::string>{"application/x-www-form-urlencoded"});
  EXPECT_EQ(request.HeaderValues("User-Agent"), std::vector<std::string>{kDefaultAgent});
  // Nothing else goes out (cookies of the shared store aside).
  std::vector<std::string> names;
  for (const std::string& header : request.headers) {
    const std::string name = header.substr(0, header.find(':'));
    if (name != "Cookie") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Accept", "Accept-Language", "Content-Type", "Host",
                                             "Referer", "User-Agent"}));
  EXPECT_TRUE(request.body.empty());
}

TEST_F(FetchTest, CallerHeadersAreCompletedOnlyWhereTheirNamesAreMissing) {
  server.Answer("/h", Ok("ok"));
  const Text url = server.Url("/h");
  const Text rest = "\r\nAccept: */*\r\nAccept-Language: zh-cn"
                    "\r\nContent-Type: application/x-www-form-urlencoded";
  struct Case {
    Text given;
    Text completed;
    std::vector<std::string> referers;
    std::vector<std::string> agents;
  } cases[] = {
      // The presence test honours case: a lower-case referer gets a second Referer line.
      {"referer: http://other/", "referer: http://other/\r\nReferer: " + url + rest,
       {"http://other/", url}, {kDefaultAgent}},
      {"Referer: http://other/\r\nAccept: text/html",
       "Referer: http://other/\r\nAccept: text/html\r\nAccept-Language: zh-cn"
       "\r\nContent-Type: application/x-www-form-urlencoded",
       {"http://other/"}, {kDefaultAgent}},
      {"User-Agent: Tester/1.0", "User-Agent: Tester/1.0\r\nReferer: " + url + rest, {url},
       {"Tester/1.0"}},
      {"user-agent:   Lower/2  ", "user-agent:   Lower/2  \r\nReferer: " + url + rest, {url},
       {"Lower/2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    Text headers = c.given;
    FetchPage(url, std::nullopt, std::nullopt, nullptr, nullptr, &headers);
    EXPECT_EQ(headers, c.completed);
    const auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().HeaderValues("Referer"), c.referers);
    EXPECT_EQ(requests.back().HeaderValues("User-Agent"), c.agents);
  }
}

TEST_F(FetchTest, PostSendsThePostBytesOrElseThePostText) {
  server.Answer("/form", Ok("posted"));
  const Text url = server.Url("/form");
  // Large enough that the library would otherwise ask for "100 Continue" first.
  const std::string large(1200000, 'x');
  struct Case {
    std::optional<Text> text;
    std::string bytes;
    std::string sent;
  } cases[] = {
      {Text("a=1&b=2"), "", "a=1&b=2"},
      {Text("ignored"), std::string("x\0y", 3), std::string("x\0y", 3)},
      {std::nullopt, "", ""},
      {large, "", large},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent.substr(0, 20));
    std::string bytes = c.bytes;
    EXPECT_EQ(FetchPage(url, 1, c.text, nullptr, nullptr, nullptr, nullptr, std::nullopt, &bytes),
              "posted");
    EXPECT_EQ(bytes, c.sent);
    const HttpRequest request = server.Requests().back();
    EXPECT_EQ(request.line, "POST /form HTTP/1.1");
    EXPECT_EQ(request.body, c.sent);
    EXPECT_EQ(request.HeaderValues("Content-Length"),
              std::vector<std::string>{std::to_string(c.sent.size())});
    EXPECT_EQ(request.HeaderValues("Content-Type"),
              std::vector<std::string>{"application/x-www-form-urlencoded"});
    EXPECT_TRUE(request.HeaderValues("Expect").empty());
  }
  // Any other method is a GET.
  FetchPage(url, 2, Text("a=1"));
  EXPECT_EQ(server.Requests().back().line, "GET /form HTTP/1.1");
  EXPECT_TRUE(server.Requests().back().body.empty());
}

TEST_F(FetchTest, RequestTargetsWithSpacesAndGbkBytesArePercentEncoded) {
  server.Answer("/a%20b/%C4%E3", Ok("found"));
  EXPECT_EQ(FetchPage(server.Url("/a b/") + "你"_gbk), "found");
}

TEST_F(FetchTest, ProxyTextSendsPlainRequestsThroughThatProxy) {
  HttpServer proxy;
  ASSERT_TRUE(proxy.Running());
  proxy.Answer("http://site.invalid/x", Ok("via proxy"));
  const Text proxyText = "127.0.0.1:" + std::to_string(proxy.Port());
  EXPECT_EQ(FetchPage("http://site.invalid/x", std::nullopt, std::nullopt, nullptr, nullptr,
                      nullptr, nullptr, std::nullopt, nullptr, &proxyText),
            "via proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].line, "GET http://site.invalid/x HTTP/1.1");

  // A query straight after a host without port stays out of the host and is not sent.
  proxy.Answer("http://site.invalid/", Ok("root via proxy"));
  EXPECT_EQ(FetchPage("http://Site.invalid?q=1", std::nullopt, std::nullopt, nullptr, nullptr,
                      nullptr, nullptr, std::nullopt, nullptr, &proxyText),
            "root via proxy");
  EXPECT_EQ(proxy.Requests().back().line, "GET http://site.invalid/ HTTP/1.1");

  // An empty proxy text is a direct request.
  server.Answer("/direct", Ok("direct"));
  const Text empty;
  EXPECT_EQ(FetchPage(server.Url("/direct"), std::nullopt, std::nullopt, nullptr, nullptr,
                      nullptr, nullptr, std::nullopt, nullptr, &empty),
            "direct");
}

TEST_F(FetchTest, HttpsAddressesSpeakTls) {
  // The server is a plain one; it only notes that a TLS handshake arrived.
  ScopedSettings quick(QuickLimits());
  const Text url = "HTTPS://127.0.0.1:" + std::to_string(server.Port()) + "/s";
  Call call = Get(url);
  EXPECT_EQ(call.body, "");
  EXPECT_EQ(call.raw, kSpaces);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw, "TLS");
}

TEST_F(FetchTest, HttpsChecksTheCertificateAndMayBeReachedByRedirection) {
  HttpServer secure(/*https=*/true);
  ASSERT_TRUE(secure.Running()) << "openssl or python3 could not start the https server";
  secure.Answer("/s?x=1", Ok("secret"));
  {
    // The system's certificates do not know the test's own one: no answer.
    ScopedSettings quick(QuickLimits());
    Call call = Get(secure.Url("/s?x=1"));
    EXPECT_EQ(call.body, "");
    EXPECT_EQ(call.raw, kSpaces);
  }
  detail::FetchSettings settings;
  settings.trustedCertificates = secure.CertificatePath();
  ScopedSettings trusted(settings);
  Call call = Get(secure.Url("/s?x=1"));
  EXPECT_EQ(call.body, "secret");
  EXPECT_EQ(call.raw, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n");
  ASSERT_FALSE(secure.Requests().empty());
  EXPECT_EQ(secure.Requests().back().line, "GET /s?x=1 HTTP/1.1");

  // A plain address that moves to https is followed there.
  server.Answer("/up", HttpServer::Response("HTTP/1.1 302 Found",
                                            {"Location: " + secure.Url("/s?x=1")}, ""));
  EXPECT_EQ(FetchPage(server.Url("/up")), "secret");
}

// ---------------------------------------------------------------------------------------------
// What the answer tells

TEST_F(FetchTest, RawHeadersAreTheFinalAnswersLinesInCrlfForm) {
  struct Case {
    std::string response;
    Text raw;
    std::string body;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\nhi",
       "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\n", "hi"},
      {"HTTP/1.1 404 Not Found\nX-B: 2\nContent-Length: 4\n\ngone",
       "HTTP/1.1 404 Not Found\r\nX-B: 2\r\nContent-Length: 4\r\n\r\n", "gone"},
      // An interim answer is not part of it.
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nz",
       "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n", "z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.response);
    server.Answer("/raw", c.response);
    Call call = Get(server.Url("/raw"));
    EXPECT_EQ(call.raw, c.raw);
    EXPECT_EQ(call.body, c.body);
    EXPECT_EQ(call.target, c.raw);  // no Location line
  }
}

TEST_F(FetchTest, HeaderTextThatDoesNotFitFiveThousandBytesBecomesSpaces) {
  const std::string head = "HTTP/1.1 200 OK\r\nX-Pad: \r\nContent-Length: 2\r\n\r\n";
  struct Case {
    std::size_t length;
    bool kept;
  } cases[] = {{4999, true}, {5000, false}, {20000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string pad(c.length - head.size(), 'p');
    const std::string raw =
        "HTTP/1.1 200 OK\r\nX-Pad: " + pad + "\r\nContent-Length: 2\r\n\r\n";
    ASSERT_EQ(raw.size(), c.length);
    server.Answer("/big", raw + "hi");
    Call call = Get(server.Url("/big"));
    EXPECT_EQ(call.raw, c.kept ? raw : kSpaces);
    EXPECT_EQ(call.target, call.raw);
    EXPECT_EQ(call.body, "hi");
  }
}

TEST_F(FetchTest, ReceivedCookiesAndRedirectTargetComeFromTheHeaderLines) {
  struct Case {
    std::vector<std::string> headers;
    Text received;
    Text target;  // empty: the raw header text
  } cases[] = {
      {{"Set-Cookie: a=1; path=/", "Set-Cookie:  b = 2 ; HttpOnly"}, "a=1; b = 2; ", ""},
      {{"Set-Cookie: bare=1"}, "; ", ""},
      {{"set-cookie: lower=1; path=/"}, "", ""},
      {{"Location: http://first/", "Location:  http://second:81/x  "}, "", "http://second:81/x"},
      {{"Content-Location: /other"}, "", "/other"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers.front());
    server.Answer("/h", Ok("x", c.headers));
    Call call = Get(server.Url("/h"));
    EXPECT_EQ(call.received, c.received);
    EXPECT_EQ(call.target, c.target.empty() ? call.raw : c.target);
  }
}

TEST_F(FetchTest, Utf8PagesAreConvertedByDeclarationPlaceOrHeaders) {
  const std::string chinese = "你好";  // UTF-8 in the source
  const std::string declaration = "charset=utf-8";
  auto at = [&](std::size_t position, std::string_view decl) {
    return std::string(position - 1, ' ') + std::string(decl) + chinese;
  };
  struct Case {
    const char* what;
    std::string body;
    std::vector<std::string> headers;
    bool converted;
  } cases[] = {
      {"declared at byte 499", at(499, declaration), {}, true},
      {"declared at byte 500", at(500, declaration), {}, false},
      {"declared at byte 1", at(1, declaration), {}, true},
      {"declared in upper case", at(10, "charset=UTF-8"), {}, false},
      {"declared after a UTF-8 character", chinese.substr(0, 3) + declaration + chinese, {},
       true},
      {"headers declare it", at(600, declaration), {"Content-Type: text/html; charset=utf-8"},
       true},
      {"headers declare it in upper case", chinese, {"Content-Type: text/html; charset=UTF-8"},
       false},
      {"no declaration", chinese, {"Content-Type: text/html"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server.Answer("/page", Ok(c.body, c.headers));
    const std::string body = FetchPage(server.Url("/page"));
    EXPECT_EQ(body, c.converted ? Utf8ToGbk(c.body) : c.body);
  }
  // The conversion really gives GBK.
  server.Answer("/page", Ok(chinese, {"Content-Type: text/html; charset=utf-8"}));
  EXPECT_EQ(FetchPage(server.Url("/page")), "你好"_gbk);
}

TEST_F(FetchTest, BodyLongerThanTheLimitIsAFailure) {
  detail::FetchSettings limits;
  limits.maxBodyBytes = 1000;
  ScopedSettings small(limits);
  struct Case {
    std::size_t length;
    bool kept;
  } cases[] = {{1000, true}, {1001, false}, {50000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string body(c.length, 'b');
    server.Answer("/body", Ok(body));
    Call call = Get(server.Url("/body"));
    EXPECT_EQ(call.body, c.kept ? body : "");
    EXPECT_EQ(call.raw, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(c.length) +
                            "\r\n\r\n");
  }
}

TEST_F(FetchTest, BodyCutShortKeepsWhatArrived) {
  server.Answer("/short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n"
                          "only ten b");
  Call call = Get(server.Url("/short"));
  EXPECT_EQ(call.body, "only ten b");
  EXPECT_EQ(call.raw,
            "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n");
}

// ---------------------------------------------------------------------------------------------
// Redirection

TEST_F(FetchTest, UnfollowedMovedAnswerIsFollowedToLocationPlusPath) {
  HttpServer other;
  ASSERT_TRUE(other.Running());
  const Text otherRoot = "http://127.0.0.1:" + std::to_string(other.Port());
  server.Answer("/p/q", HttpServer::Response("HTTP/1.1 301 Moved Permanently",
                                             {"Location: " + otherRoot}, "moved"));
  other.Answer("/p/q", Ok("arrived"));
  other.Answer("/", Ok("root"));

  const Text url = server.Url("/p/q");
  Call call = Get(url, /*noAutoRedirect=*/true);
  EXPECT_EQ(call.body, "arrived");
  EXPECT_EQ(call.raw, "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n");
  EXPECT_EQ(call.target, call.raw);  // emptied for the follow-up, which had no Location
  const auto followUps = RequestsTo(other, "/p/q");
  ASSERT_EQ(followUps.size(), 1u);
  // The follow-up reuses the completed header text: its Referer names the first address.
  EXPECT_EQ(followUps[0].HeaderValues("Referer"), std::vector<std::string>{url});

  // With automatic redirection the library follows the answer to the Location itself.
  Call automatic = Get(url);
  EXPECT_EQ(automatic.body, "root");
  EXPECT_EQ(automatic.raw, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
  EXPECT_EQ(RequestsTo(other, "/").size(), 1u);
}

TEST_F(FetchTest, OnlyAnHttp11MovedAnswerIsFollowedWithoutAutomaticRedirection) {
  HttpServer other;
  ASSERT_TRUE(other.Running());
  const std::string location = "Location: http://127.0.0.1:" + std::to_string(other.Port());
  other.Answer("/r", Ok("followed"));
  struct Case {
    std::string statusLine;
    std::string body;
  } cases[] = {
      {"HTTP/1.0 301 Moved Permanently", "old"},
      {"HTTP/1.1 302 Found", "found"},
      {"HTTP/1.1 307 Temporary Redirect", "temporary"},
      {"HTTP/1.1 301 Moved Permanently", "followed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statusLine);
    server.Answer("/r", HttpServer::Response(c.statusLine, {location}, c.body));
    Call call = Get(server.Url("/r"), true);
    EXPECT_EQ(call.body, c.body);
    if (c.body != "followed") {
      EXPECT_EQ(call.target, location.substr(10));
    }
  }
  EXPECT_EQ(RequestsTo(other, "/r").size(), 1u);
}

TEST_F(FetchTest, AutomaticRedirectionLeavesOnlyTheFinalAnswer) {
  server.Answer("/start", HttpServer::Response("HTTP/1.1 302 Found",
                                               {"Location: /next", "Set-Cookie: r=1"}, "x"));
  server.Answer("/next", HttpServer::Response("HTTP/1.1 303 See Other",
                                              {"Location: http://127.0.0.1:{PORT}/end"}, "y"));
  server.Answer("/end", Ok("end", {"X-Final: 1"}));
  Call call = Get(server.Url("/start"));
  EXPECT_EQ(call.body, "end");
  EXPECT_EQ(call.raw, "HTTP/1.1 200 OK\r\nX-Final: 1\r\nContent-Length: 3\r\n\r\n");
  EXPECT_EQ(call.received, "");

  // A POST turned away by 302 goes on as a GET.
  FetchPage(server.Url("/start"), 1, Text("a=1"));
  EXPECT_EQ(server.Requests().back().line, "GET /end HTTP/1.1");
}

// The scripted server writes its port into answers; a body that names it must still arrive
// whole and keep the connection usable.
TEST_F(FetchTest, BodyNamingTheServersPortArrivesWhole) {
  server.Answer("/port", Ok("at http://127.0.0.1:{PORT}/a and :{PORT}/b"));
  const std::string port = std::to_string(server.Port());
  EXPECT_EQ(Get(server.Url("/port")).body,
            "at http://127.0.0.1:" + port + "/a and :" + port + "/b");
}

TEST_F(FetchTest, EndlessMovedAnswersEndWithAnEmptyResult) {
  server.Answer("/loop", HttpServer::Response("HTTP/1.1 301 Moved Permanently",
                                              {"Location: http://127.0.0.1:{PORT}"}, "again"));
  // Followed here: the first request and twenty follow-ups, then nothing.
  Call call = Get(server.Url("/loop"), true);
  EXPECT_EQ(call.body, "");
  EXPECT_EQ(RequestsTo(server, "/loop").size(), 21u);

  // Followed by the library: it gives up after ten, which counts as no answer.
  server.Answer("/auto", HttpServer::Response("HTTP/1.1 301 Moved Permanently",
                                              {"Location: http://127.0.0.1:{PORT}/auto"}, ""));
  Call automatic = Get(server.Url("/auto"));
  EXPECT_EQ(automatic.body, "");
  EXPECT_EQ(automatic.raw, kSpaces);
}

// ---------------------------------------------------------------------------------------------
// Cookies

TEST_F(FetchTest, SuppliedCookiesAreSentAndMergedWithTheReceivedOnes) {
  server.Answer("/c", Ok("c", {"Set-Cookie: b=3; path=/", "Set-Cookie: c=deleted; path=/"}));
  Call call;
  call.cookies = "a=1; b=2";
  FetchPage(server.Url("/c"), std::nullopt, std::nullopt, &call.cookies, &call.received);
  EXPECT_EQ(call.cookies, "b=3; a=1");
  EXPECT_EQ(call.received, "b=3;c=deleted;");
  EXPECT_EQ(server.Requests().back().HeaderValues("Cookie"),
            std::vector<std::string>{"a=1; b=2"});
}

TEST_F(FetchTest, CookieStoreCarriesCookiesFromOneCallToTheNext) {
  server.Answer("/store/set", Ok("set", {"Set-Cookie: sid=abc; Path=/store"}));
  server.Answer("/store/check", Ok("check"));
  FetchPage(server.Url("/store/set"));
  FetchPage(server.Url("/store/check"));
  EXPECT_TRUE(HasItem(CookieItems(RequestsTo(server, "/store/check").back()), "sid=abc"));

  // A cookies argument, even an empty one, keeps the store out.
  Text cookies;
  FetchPage(server.Url("/store/check"), std::nullopt, std::nullopt, &cookies);
  EXPECT_TRUE(RequestsTo(server, "/store/check").back().HeaderValues("Cookie").empty());
  Text some = "own=1";
  FetchPage(server.Url("/store/check"), std::nullopt, std::nullopt, &some);
  EXPECT_EQ(RequestsTo(server, "/store/check").back().HeaderValues("Cookie"),
            std::vector<std::string>{"own=1"});
}

TEST_F(FetchTest, FollowUpOfAMovedAnswerTreatsCookiesAsSupplied) {
  HttpServer other;
  ASSERT_TRUE(other.Running());
  const std::string location = "Location: http://127.0.0.1:" + std::to_string(other.Port());
  server.Answer("/m/1", HttpServer::Response("HTTP/1.1 301 Moved Permanently",
                                             {location, "Set-Cookie: got=1; Path=/m"}, ""));
  other.Answer("/m/1", Ok("there"));

  // Without a cookies argument the first request used the store, which took got=1; the
  // follow-up keeps the store out (the cookie would otherwise go to the same host).
  EXPECT_EQ(FetchPage(server.Url("/m/1"), std::nullopt, std::nullopt, nullptr, nullptr, nullptr,
                      nullptr, true),
            "there");
  EXPECT_TRUE(other.Requests().back().HeaderValues("Cookie").empty());

  // With one, the merged text goes out on a second Cookie line after the first one.
  Text cookies = "a=1";
  FetchPage(server.Url("/m/1"), std::nullopt, std::nullopt, &cookies, nullptr, nullptr, nullptr,
            true);
  EXPECT_EQ(other.Requests().back().HeaderValues("Cookie"),
            (std::vector<std::string>{"a=1", "got=1; a=1"}));
  EXPECT_EQ(cookies, "got=1; a=1");
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST_F(FetchTest, NoAnswerGivesEmptyBytesAndSpaces) {
  ScopedSettings quick(QuickLimits());
  server.Hang("/hang");
  server.Drop("/drop");
  const Text unreachable = "http://127.0.0.1:" + std::to_string(test_support::UnusedPort()) + "/";
  // A redirect to a dead end is no answer either, not the redirect answer.
  server.Answer("/to-hang", HttpServer::Response("HTTP/1.1 302 Found", {"Location: /hang"}, ""));
  server.Answer("/to-nowhere",
                HttpServer::Response("HTTP/1.1 301 Moved Permanently",
                                     {"Location: " + unreachable + "gone"}, "moved"));
  for (const Text& url : {server.Url("/hang"), server.Url("/drop"), unreachable,
                          server.Url("/to-hang"), server.Url("/to-nowhere")}) {
    SCOPED_TRACE(url);
    Call call;
    call.received = "old=1; ";
    call.body = FetchPage(url, std::nullopt, std::nullopt, nullptr, &call.received,
                          &call.headers, &call.target, std::nullopt, nullptr, nullptr,
                          &call.raw);
    EXPECT_EQ(call.body, "");
    EXPECT_EQ(call.raw, kSpaces);
    EXPECT_EQ(call.received, "");
    EXPECT_EQ(call.target, kSpaces);
    EXPECT_TRUE(StartsWith(call.headers, "Referer: " + url));
  }
}

TEST_F(FetchTest, AnAddressThatCannotBeOpenedChangesNothing) {
  for (const Text& url : {Text("http:///nohost"), Text("http://127.0.0.1:70000/")}) {
    SCOPED_TRACE(url);
    Call call{"c=1", "r", "X-Mine: 1", "t", "", "raw", ""};
    call.body = FetchPage(url, 1, Text("p=1"), &call.cookies, &call.received, &call.headers,
                          &call.target, true, &call.postBytes, nullptr, &call.raw);
    EXPECT_EQ(call.body, "");
    EXPECT_EQ(call.cookies, "c=1");
    EXPECT_EQ(call.received, "r");
    EXPECT_EQ(call.headers, "X-Mine: 1");
    EXPECT_EQ(call.target, "t");
    EXPECT_EQ(call.postBytes, "");
    EXPECT_EQ(call.raw, "raw");
  }
}

// ---------------------------------------------------------------------------------------------
// Threads

TEST_F(FetchTest, TwoThreadsFetchAtOnceWithTheSharedCookieStore) {
  for (int i = 0; i < 2; ++i) {
    const std::string path = "/thread" + std::to_string(i);
    server.Answer(path, Ok(path, {"Set-Cookie: t" + std::to_string(i) + "=1; Path=" + path}));
  }
  std::vector<std::string> bodies[2];
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      const Text url = server.Url("/thread" + std::to_string(i));
      for (int round = 0; round < 15; ++round) bodies[i].push_back(FetchPage(url));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < 2; ++i) {
    for (const std::string& body : bodies[i]) EXPECT_EQ(body, "/thread" + std::to_string(i));
  }
  // Each thread's later requests carried the cookie its first answer set, and only that one.
  for (int i = 0; i < 2; ++i) {
    const auto items = CookieItems(RequestsTo(server, "/thread" + std::to_string(i)).back());
    EXPECT_TRUE(HasItem(items, "t" + std::to_string(i) + "=1"));
    EXPECT_FALSE(HasItem(items, "t" + std::to_string(1 - i) + "=1"));
  }
}

}  // namespace
