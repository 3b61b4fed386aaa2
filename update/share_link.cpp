#include "update/share_link.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string_view>

#include "common/curl_support.h"
#include "common/fetch.h"

namespace update {

using namespace common::literals;

namespace {

constexpr const char* kShareAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// Redirect answers the reading facility follows on its own before it gives up.
constexpr long kMaxRedirects = 10;

// Markers of the fields in a share page. Inside the page every double quote of these fields is
// preceded by a backslash, and every "/" of the link stands as two backslashes and a "/".
constexpr std::string_view kLinkStart = R"(dlink\":\")";
constexpr std::string_view kLinkEnd = R"(\")";
constexpr std::string_view kNameStart = R"(FileSmallIcon(0,null,")";
constexpr std::string_view kNameEnd = R"(".match(/(.[^\.]+$)/))";
constexpr std::string_view kSizeStart = R"(\",\"size\":\")";
constexpr std::string_view kSizeEnd = R"(\",\"server_mtime\":\")";
constexpr std::string_view kMd5Start = R"(\"md5\":\")";
constexpr std::string_view kMd5End = R"(\",\")";

constexpr std::string_view kEscapedDoubleSlash = R"(\\/\\/)";

constexpr char kHexDigits[] = "0123456789ABCDEF";

struct Body {
  std::string bytes;
  std::size_t limit = 0;
  bool tooLong = false;
};

size_t OnBodyBytes(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<Body*>(user);
  const std::size_t length = size * count;
  if (body->bytes.size() + length > body->limit) {
    body->tooLong = true;
    return 0;  // ends the transfer
  }
  body->bytes.append(data, length);
  return length;
}

// Value of a hexadecimal digit of either case, -1 for any other byte.
int HexValue(char digit) {
  const char upper = (digit >= 'a' && digit <= 'z') ? static_cast<char>(digit - 'a' + 'A') : digit;
  for (int value = 0; value < 16; ++value) {
    if (kHexDigits[value] == upper && upper != '\0') return value;
  }
  return -1;
}

bool IsPlainAlphanumeric(unsigned char byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
         (byte >= 'a' && byte <= 'z');
}

// The link with every escaped slash (two backslashes and a "/") turned into "/", replacing the
// first occurrence again and again until none is left: a replacement may make a new occurrence
// with the backslashes before it ("\\\\/" ends as "/"). Replacements never overlap one another,
// so the order does not change the result, and one pass from the left does the same in linear
// time. Only bytes that stand as characters of their own count: the second byte of a double-byte
// character is never one of the backslashes.
Text UnescapeSlashes(std::string_view link) {
  Text out;
  std::string standalone;  // per byte of `out`: 1 when it is a single-byte character
  out.reserve(link.size());
  standalone.reserve(link.size());
  std::size_t i = 0;
  while (i < link.size()) {
    const std::size_t length = static_cast<std::size_t>(common::CharLength(link, i));
    if (length == 2) {
      out.append(link.substr(i, 2));
      standalone.append("\0\0", 2);
      i += 2;
      continue;
    }
    const char c = link[i++];
    while (c == '/' && out.size() >= 2 && out[out.size() - 1] == '\\' &&
           out[out.size() - 2] == '\\' && standalone[out.size() - 1] != 0 &&
           standalone[out.size() - 2] != 0) {
      out.resize(out.size() - 2);
      standalone.resize(standalone.size() - 2);
    }
    out.push_back(c);
    standalone.push_back(1);
  }
  return out;
}

}  // namespace

Text ShareAddress(const Text& value) { return "http://" + common::Replace(value, "我"_gbk, "&"); }

std::string ReadSharePage(const Text& address) {
  common::curl::InitialiseLibrary();
  const common::detail::FetchSettings settings = common::detail::CurrentFetchSettings();
  common::curl::EasyHandle handle(curl_easy_init());
  if (!handle) return {};

  // The header lines a reload of the page sends; no Accept-Encoding, so the body comes as it is.
  curl_slist* list = nullptr;
  for (const char* line : {"Accept: */*", "Pragma: no-cache", "Cache-Control: no-cache"}) {
    curl_slist* grown = curl_slist_append(list, line);
    if (grown == nullptr) {
      curl_slist_free_all(list);
      return {};
    }
    list = grown;
  }
  common::curl::HeaderList headers(list);

  const std::string url = common::curl::EscapeUrlBytes(common::AsText(address));
  Body body;
  body.limit = settings.maxBodyBytes;

  CURL* h = handle.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, kShareAgent);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBodyBytes);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, settings.connectTimeoutSeconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, settings.noDataSeconds);
  // Like the page fetch, the request goes direct: no proxy named by the environment.
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  if (!settings.trustedCertificates.empty())
    curl_easy_setopt(h, CURLOPT_CAINFO, settings.trustedCertificates.c_str());

  // No answer, an answer cut short and a body over the limit all give nothing. The body of an
  // error answer is a body like any other: the markers decide what it is worth.
  if (curl_easy_perform(h) != CURLE_OK || body.tooLong) return {};
  return std::move(body.bytes);
}

Text LinkRecordFromPage(std::string_view pageBytes) {
  const Text page = common::AsText(pageBytes);

  // The link, its escaped slashes undone: the double one first (once), then every single one.
  Text link = CutBetweenExact(page, Text(kLinkStart), Text(kLinkEnd));
  const int doubleSlash = common::Find(link, kEscapedDoubleSlash);
  if (doubleSlash != -1)
    link.replace(static_cast<std::size_t>(doubleSlash - 1), kEscapedDoubleSlash.size(), "//");
  link = UnescapeSlashes(link);

  // The name stands percent-encoded or in UTF-8 in the page: it is cut from the decoded page.
  const Text decoded = PercentDecode(page);
  const Text name = CutBetweenExact(decoded, Text(kNameStart), Text(kNameEnd));
  const int dot = common::FindLast(name, ".");
  const Text baseName = dot == -1 ? Text() : common::Left(name, dot - 1);
  const Text extension = dot == -1 ? name : common::Mid(name, dot);
  const Text encoded = PercentEncode(baseName) + extension;

  const Text size = CutBetweenExact(page, Text(kSizeStart), Text(kSizeEnd));
  const Text md5 = CutBetweenExact(page, Text(kMd5Start), Text(kMd5End));
  return link + "|" + encoded + "*" + name + "|" + size + "|" + md5;
}

Text ResolveShareLink(const Text& address) { return LinkRecordFromPage(ReadSharePage(address)); }

Text CutBetweenExact(const Text& text, const Text& start, const Text& end) {
  const int at = common::Find(text, start, 1, false);
  if (at == -1) return Text();
  const Text rest = common::Mid(text, at + static_cast<int>(start.size()));
  const int stop = common::Find(rest, end, 1, false);
  if (stop == -1) return Text();
  return common::Left(rest, stop - 1);
}

Text PercentDecode(const Text& text) {
  const Text source = common::AsText(text);
  std::string bytes;
  bytes.reserve(source.size());
  std::size_t i = 0;
  while (i < source.size()) {
    if (source[i] != '%') {
      bytes.push_back(source[i]);
      ++i;
      continue;
    }
    // "%" and the two bytes after it go together, whatever they are.
    const int high = i + 1 < source.size() ? HexValue(source[i + 1]) : -1;
    const int low = i + 2 < source.size() ? HexValue(source[i + 2]) : -1;
    if (high >= 0 && low >= 0) {
      const int value = high * 16 + low;
      if (value != 0) bytes.push_back(static_cast<char>(value));
    }
    i += 3;
  }
  return common::Utf8ToGbkText(bytes);
}

Text PercentEncode(const Text& text) {
  const std::string utf8 = common::GbkToUtf8(common::AsText(text));
  Text encoded;
  encoded.reserve(utf8.size() * 3);
  for (const unsigned char byte : utf8) {
    if (IsPlainAlphanumeric(byte)) {
      encoded.push_back(static_cast<char>(byte));
    } else {
      encoded.push_back('%');
      encoded.push_back(kHexDigits[byte >> 4]);
      encoded.push_back(kHexDigits[byte & 0x0F]);
    }
  }
  return encoded;
}

LinkRecord SplitLinkRecord(const Text& record) {
  LinkRecord fields;
  const int first = common::Find(record, "|");
  if (first == -1) {
    fields.link = record;
    return fields;
  }
  fields.link = common::Left(record, first - 1);
  const int last = common::FindLast(record, "|");
  fields.md5 = common::Mid(record, last + 1);
  // The bar before the last one closes the name part and opens the size.
  const Text upToLast = common::Left(record, last - 1);
  const int beforeLast = last == first ? -1 : common::FindLast(upToLast, "|");
  if (beforeLast == -1 || beforeLast == first) {
    // "link|size|md5" or "link|md5": no name part.
    if (last != first) fields.size = common::Mid(upToLast, first + 1);
    return fields;
  }
  fields.size = common::Mid(upToLast, beforeLast + 1);
  const Text middle = common::Mid(common::Left(upToLast, beforeLast - 1), first + 1);
  const int star = common::Find(middle, "*");
  if (star == -1) {
    fields.encodedName = middle;
  } else {
    fields.encodedName = common::Left(middle, star - 1);
    fields.name = common::Mid(middle, star + 1);
  }
  return fields;
}

}  // namespace update
