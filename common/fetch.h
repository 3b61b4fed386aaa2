// The web page fetch: one HTTP request, its body as bytes, and what the response tells about
// cookies and redirection. It is the only network request routine of Velmora and the page
// reader of UpDate.
//
// The request goes out over libcurl in the way the Windows Internet API would send it:
//   - "GET" or "POST" with the path of UrlPath (the query stays), HTTP/1.1, to UrlHost and
//     UrlPort; TLS when the address begins with "https";
//   - the caller's extra header lines, completed in place with Referer, Accept,
//     Accept-Language, Content-Type and the caller's cookies;
//   - without a cookies argument the process-wide cookie store is used (shared by every thread);
//     with one (even empty) the store stays out and the cookie text is merged afterwards;
//   - redirect answers of the server are followed automatically (at most 10, http and https
//     only) unless noAutoRedirect is true; an unfollowed "HTTP/1.1 301 Moved" answer is followed
//     here, with the Location value followed by the path of the address;
//   - UTF-8 pages come back in GBK.
// Nothing throws. Every failure shows as an empty body.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "common/text.h"

namespace common {

// One request, blocking the calling thread until the body has been read or the request failed.
//   url             "http://" or "https://" address (no scheme means http);
//   method          1 = POST, anything else or omitted = GET;
//   postText        POST body when postBytes is empty;
//   cookies         in/out: when supplied (non-null, even empty) it is sent as a Cookie line and
//                   rewritten by MergeCookies after the response, and the cookie store is off;
//   receivedCookies out: "name=value; " for every Set-Cookie line of the response;
//   extraHeaders    in/out: request header lines separated by "\r\n", completed in place;
//   redirectTarget  out: the value of the last Location line, else the whole raw header text;
//   noAutoRedirect  true: redirect answers are not followed automatically;
//   postBytes       in/out: POST body, filled from postText when empty;
//   proxy           when supplied and not empty, http requests go through this proxy
//                   ("host:port");
//   rawHeaders      out: status line and header lines of the final response, each ending in
//                   "\r\n", followed by an empty line; 5000 spaces when there was no response
//                   or the header text does not fit 5000 bytes.
// Returns the body, converted from UTF-8 to GBK when the page or the headers say
// "charset=utf-8"; empty on failure. When the request cannot even be prepared (no host, an
// impossible port) the result is empty and no argument is changed.
std::string FetchPage(const Text& url, std::optional<int> method = std::nullopt,
                      std::optional<Text> postText = std::nullopt, Text* cookies = nullptr,
                      Text* receivedCookies = nullptr, Text* extraHeaders = nullptr,
                      Text* redirectTarget = nullptr,
                      std::optional<bool> noAutoRedirect = std::nullopt,
                      std::string* postBytes = nullptr, const Text* proxy = nullptr,
                      Text* rawHeaders = nullptr);

// The host of the address in lower case; with keepPort, followed by ":" and the port when the
// address names one.
Text UrlHost(const Text& url, bool keepPort = false);

// The port the address names, else 443 for "https" and 80 otherwise (0 when the named port is
// not a number).
int UrlPort(const Text& url);

// The path from the first "/" after the host to the end (query included); "/" when there is none.
Text UrlPath(const Text& url);

// Merges the cookies sent with those received: received items first, then every sent item whose
// name was not received; items set to "=deleted" are dropped; duplicates removed. Both texts lose
// their spaces in place; the result is also stored into cookies.
Text MergeCookies(Text& cookies, Text& received);

// The name of a "name=value" item, trimmed; the whole item trimmed when it has no "=".
Text CookieName(const Text& item);

// The items of the text, each kept the first time it occurs, joined with the separator.
Text RemoveDuplicateItems(const Text& text, const Text& separator);

namespace detail {

// Limits that keep a request from blocking its thread for ever, and the certificates trusted for
// https. Tests lower the limits and bring their own certificate authority.
struct FetchSettings {
  long connectTimeoutSeconds = 15;        // connecting, name lookup included
  long noDataSeconds = 30;                // a transfer that moves no byte for this long ends
  std::size_t maxBodyBytes = 64u << 20;   // a longer body is a failure (empty result)
  int maxFollowUps = 20;                  // unfollowed 301 answers followed here, in a row
  std::string trustedCertificates;        // PEM file; empty: the system's certificates
};

FetchSettings CurrentFetchSettings();
// Replaces the settings for every later request; returns the previous ones.
FetchSettings SetFetchSettings(const FetchSettings& settings);

}  // namespace detail

}  // namespace common
