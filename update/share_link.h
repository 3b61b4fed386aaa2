// Download addresses of UpDate: the release page names a cloud-drive share page (without its
// scheme, every "&" written as "我"), and the share page names the file's real link, its name,
// its size and its md5. The link record joins them as "link|encoded*name|size|md5".
//
// None of these keeps state between calls; they may run on several threads at once.
#pragma once

#include <string>

#include "common/text.h"

namespace update {

using common::Text;

// "http://" followed by the value with every "我" turned into "&". An empty value gives "http://".
Text ShareAddress(const Text& value);

// Reads the share page with a plain GET and cuts the link record out of it. An unreachable page
// gives the separators alone, "|*||".
Text ResolveShareLink(const Text& address);

// The plain GET of a share page: HTTP/1.0, "Accept: */*", the user agent
// "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", never from a cache, with the time-outs and
// the body limit of the page fetch. The body bytes as they came, or nothing on any failure
// (no answer, a body over the limit).
std::string ReadSharePage(const Text& address);

// The text between the first `start` and the next `end` after it, both searched case-sensitively;
// empty when either is missing.
Text CutBetweenExact(const Text& text, const Text& start, const Text& end);

// "%" and two hexadecimal digits (either case) become that byte; the bytes are then read as UTF-8
// and returned in GBK. A "%" without two hexadecimal digits after it consumes itself and the two
// bytes and adds nothing; "+" stays "+".
Text PercentDecode(const Text& text);

// The UTF-8 form of a GBK text with every byte other than 0-9, A-Z and a-z written as "%" and two
// upper-case hexadecimal digits.
Text PercentEncode(const Text& text);

// The fields of a link record.
struct LinkRecord {
  Text link;         // before the first "|": the address to fetch
  Text encodedName;  // between the first "|" and the "*"
  Text name;         // between the "*" and the second "|"
  Text size;         // as the share page wrote it
  Text md5;          // as the share page wrote it
};
LinkRecord SplitLinkRecord(const Text& record);

}  // namespace update
