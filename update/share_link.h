// Download addresses of UpDate: the release page names a cloud-drive share page (without its
// scheme, every "&" written as "我"), and the share page names the file's real link, its name,
// its size and its md5. The link record joins them as "link|encoded*name|size|md5".
//
// None of these keeps state between calls; they may run on several threads at once.
#pragma once

#include <string>
#include <string_view>

#include "common/text.h"

namespace update {

using common::Text;

// "http://" followed by the value with every "我" turned into "&". An empty value gives "http://".
Text ShareAddress(const Text& value);

// Reads the share page with a plain GET and cuts the link record out of it. An unreachable page
// gives the separators alone, "|*||". Blocks the calling thread while the page is read.
Text ResolveShareLink(const Text& address);

// The link record of a share page's bytes (taken up to their first zero byte, no character-set
// conversion):
//   link   the text between `dlink\":\"` and the next `\"`, every `\\/` turned into "/";
//   name   the text between `FileSmallIcon(0,null,"` and `".match(/(.[^\.]+$)/)` in the
//          PercentDecode of the whole page; encoded name: PercentEncode of the name up to its
//          last "." followed by the rest from that "." on (a name without "." stays as it is);
//   size   the text between `\",\"size\":\"` and `\",\"server_mtime\":\"`;
//   md5    the text between `\"md5\":\"` and `\",\"`.
// A field whose markers are missing is empty; the other fields are cut all the same.
Text LinkRecordFromPage(std::string_view pageBytes);

// The plain GET of a share page: HTTP/1.0, "Accept: */*", the user agent
// "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", never from a cache, with the time-outs and
// the body limit of the page fetch. Redirect answers are followed (at most 10, http and https
// only). The body bytes as they came, whatever the status of the answer, or nothing on any
// failure (no answer, an answer cut short, a body over the limit, a redirect to
// anything but http or https, too many redirects).
std::string ReadSharePage(const Text& address);

// The text between the first `start` and the next `end` after it, both searched case-sensitively
// and at character boundaries (the text layer's search); empty when either is missing. Unlike
// TextBetween, "#引号" means nothing here.
Text CutBetweenExact(const Text& text, const Text& start, const Text& end);

// "%" and two hexadecimal digits (either case) become that byte; the bytes are then read as UTF-8
// and returned in GBK, up to the first zero character (invalid UTF-8 and characters GBK lacks
// become "?"). The "%" and the two bytes after it are always consumed together: when they are
// not two hexadecimal digits (or the text ends before them), and for "%00", nothing is added.
// "+" stays "+".
Text PercentDecode(const Text& text);

// The UTF-8 form of a GBK text with every byte other than 0-9, A-Z and a-z written as "%" and two
// upper-case hexadecimal digits.
Text PercentEncode(const Text& text);

// The fields of a link record: link before the first "|", md5 after the last "|", size between
// the last two "|", and the part between them split at its first "*" into encoded name and name.
// A record with fewer bars leaves the missing fields empty ("a|b|c": link, size, md5; "a|b":
// link, md5; no bar: link alone).
struct LinkRecord {
  Text link;         // before the first "|": the address to fetch
  Text encodedName;  // between the first "|" and the "*"
  Text name;         // between the "*" and the "|" before the size
  Text size;         // as the share page wrote it
  Text md5;          // as the share page wrote it
};
LinkRecord SplitLinkRecord(const Text& record);

}  // namespace update
