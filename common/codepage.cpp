// Conversions between UTF-8 and GBK (code page 936, where 0x80 is the euro sign), over iconv.
//
// The UTF-8 side is decoded here, the way the Windows converters do it: every invalid sequence
// (a stray byte, a truncated sequence, an over-long form, an encoded surrogate, a value beyond
// U+10FFFF) stands for one replacement character, and a character beyond U+FFFF counts as its two
// UTF-16 units. Only clean text is handed to iconv. A character that GBK cannot hold becomes
// "?", one per UTF-16 unit.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <unordered_map>

#include "common/text.h"

namespace common {

namespace {

constexpr char kDefaultChar = '?';
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";  // U+FFFD

bool IsAscii(std::string_view bytes) {
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// One pair of conversion descriptors per thread, opened on first use.
class Converters {
 public:
  Converters()
      : toGbk_(iconv_open("CP936", "UTF-8")), fromGbk_(iconv_open("UTF-8", "CP936")) {}
  ~Converters() {
    if (Valid(toGbk_)) iconv_close(toGbk_);
    if (Valid(fromGbk_)) iconv_close(fromGbk_);
  }
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;

  iconv_t ToGbk() const { return toGbk_; }
  iconv_t FromGbk() const { return fromGbk_; }
  static bool Valid(iconv_t cd) { return cd != reinterpret_cast<iconv_t>(-1); }

 private:
  iconv_t toGbk_;
  iconv_t fromGbk_;
};

Converters& ThreadConverters() {
  thread_local Converters converters;
  return converters;
}

unsigned char At(std::string_view bytes, std::size_t offset) {
  return static_cast<unsigned char>(bytes[offset]);
}

// Length of the UTF-8 sequence of a valid lead byte (only called on validated input).
std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// Examines the sequence at `offset`. Returns its length and sets `valid`; for an invalid
// sequence the length is that of its longest valid-looking beginning (at least 1), which is
// replaced as one unit.
std::size_t ExamineUtf8(std::string_view bytes, std::size_t offset, bool& valid) {
  const unsigned char lead = At(bytes, offset);
  valid = false;
  std::size_t needed = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead < 0x80) {
    valid = true;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    if (lead == 0xE0) low = 0xA0;   // over-long
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    if (lead == 0xF0) low = 0x90;   // over-long
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 1;
  }
  std::size_t length = 1;
  for (std::size_t k = 0; k < needed; ++k) {
    if (offset + length >= bytes.size()) return length;
    const unsigned char c = At(bytes, offset + length);
    const unsigned char min = k == 0 ? low : 0x80;
    const unsigned char max = k == 0 ? high : 0xBF;
    if (c < min || c > max) return length;
    ++length;
  }
  valid = true;
  return length;
}

// A base letter followed by a combining mark is converted as the precomposed letter when GBK
// holds that one (the pinyin letters and two Cyrillic ones), like the converters' composite
// check does; any other mark is converted on its own.
struct Composition {
  std::string_view base;
  unsigned char mark;  // second byte of the UTF-8 form CC xx of U+0300..U+030C
  std::string_view composed;
};

constexpr unsigned char kGrave = 0x80, kAcute = 0x81, kCircumflex = 0x82, kMacron = 0x84,
                        kDiaeresis = 0x88, kCaron = 0x8C;

constexpr Composition kCompositions[] = {
    {"a", kMacron, "\u0101"},     {"a", kAcute, "\u00E1"},     {"a", kCaron, "\u01CE"},
    {"a", kGrave, "\u00E0"},      {"e", kMacron, "\u0113"},    {"e", kAcute, "\u00E9"},
    {"e", kCaron, "\u011B"},      {"e", kGrave, "\u00E8"},     {"e", kCircumflex, "\u00EA"},
    {"i", kMacron, "\u012B"},     {"i", kAcute, "\u00ED"},     {"i", kCaron, "\u01D0"},
    {"i", kGrave, "\u00EC"},      {"o", kMacron, "\u014D"},    {"o", kAcute, "\u00F3"},
    {"o", kCaron, "\u01D2"},      {"o", kGrave, "\u00F2"},     {"u", kMacron, "\u016B"},
    {"u", kAcute, "\u00FA"},      {"u", kCaron, "\u01D4"},     {"u", kGrave, "\u00F9"},
    {"u", kDiaeresis, "\u00FC"},  {"\u00FC", kMacron, "\u01D6"}, {"\u00FC", kAcute, "\u01D8"},
    {"\u00FC", kCaron, "\u01DA"}, {"\u00FC", kGrave, "\u01DC"}, {"n", kAcute, "\u0144"},
    {"n", kCaron, "\u0148"},      {"\u0435", kDiaeresis, "\u0451"},
    {"\u0415", kDiaeresis, "\u0401"},
};

// Appends the combining mark CC xx to `clean`, composing it with the letter before it.
void AppendMark(unsigned char mark, std::string& clean) {
  for (const auto& c : kCompositions) {
    if (c.mark == mark && clean.ends_with(c.base)) {
      clean.resize(clean.size() - c.base.size());
      clean.append(c.composed);
      return;
    }
  }
  clean.push_back('\xCC');
  clean.push_back(static_cast<char>(mark));
}

// Converts valid UTF-8 text of characters within U+0000..U+FFFF to GBK; a character GBK lacks
// becomes "?".
std::string CleanUtf8ToGbk(std::string_view clean) {
  std::string out;
  if (IsAscii(clean)) return std::string(clean);
  const iconv_t cd = ThreadConverters().ToGbk();
  if (!Converters::Valid(cd)) {
    for (std::size_t i = 0; i < clean.size(); i += Utf8SequenceLength(At(clean, i))) {
      out.push_back(At(clean, i) < 0x80 ? clean[i] : kDefaultChar);
    }
    return out;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.resize(clean.size() + 4);  // GBK never needs more bytes than UTF-8 here
  char* in = const_cast<char*>(clean.data());
  std::size_t inLeft = clean.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0) {
    const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    if (result != static_cast<std::size_t>(-1)) break;
    const bool full = errno == E2BIG;
    if (full || outLeft == 0) {
      const std::size_t used = static_cast<std::size_t>(outPtr - out.data());
      out.resize(out.size() * 2 + 16);
      outPtr = out.data() + used;
      outLeft = out.size() - used;
      if (full) continue;
    }
    // EILSEQ (a character GBK lacks) or anything unexpected: one default character.
    *outPtr++ = kDefaultChar;
    --outLeft;
    const std::size_t skip = std::min(inLeft, Utf8SequenceLength(static_cast<unsigned char>(*in)));
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(static_cast<std::size_t>(outPtr - out.data()));
  return out;
}

}  // namespace

std::string Utf8ToGbk(std::string_view bytes) {
  std::string out;
  if (IsAscii(bytes)) {
    out.assign(bytes);
  } else {
    // First the text as the converters see it in UTF-16: every invalid sequence one replacement
    // character, a character beyond U+FFFF a pair of surrogate units, marks composed. GBK holds
    // neither replacements nor surrogates, so they are written as "?" straight away.
    std::string clean;
    clean.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
      bool valid = false;
      const std::size_t length = ExamineUtf8(bytes, i, valid);
      if (!valid) {
        clean.push_back(kDefaultChar);
      } else if (length == 4) {
        clean.append(2, kDefaultChar);
      } else if (length == 2 && At(bytes, i) == 0xCC && At(bytes, i + 1) <= 0x8C) {
        AppendMark(At(bytes, i + 1), clean);
      } else {
        clean.append(bytes.substr(i, length));
      }
      i += length;
    }
    out = CleanUtf8ToGbk(clean);
  }
  // The result keeps the length of the whole converted text, but the conversion itself stops at
  // the first zero character: everything after it stays zero bytes. No other GBK byte is zero.
  const std::size_t zero = out.find('\0');
  if (zero != std::string::npos) {
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(zero), out.end(), '\0');
  }
  return out;
}

Text Utf8ToGbkText(std::string_view utf8) { return AsText(Utf8ToGbk(utf8)); }

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  const iconv_t cd = ThreadConverters().FromGbk();
  if (!Converters::Valid(cd)) {
    for (std::size_t i = 0; i < gbk.size(); i += static_cast<std::size_t>(CharLength(gbk, i))) {
      if (At(gbk, i) < 0x80) {
        out.push_back(gbk[i]);
      } else {
        out.append(kReplacementUtf8);
      }
    }
    return out;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.resize(gbk.size() * 3 + 4);  // at most three UTF-8 bytes for every GBK byte
  char* in = const_cast<char*>(gbk.data());
  std::size_t inLeft = gbk.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0) {
    const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    if (result != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      const std::size_t used = static_cast<std::size_t>(outPtr - out.data());
      out.resize(out.size() * 2);
      outPtr = out.data() + used;
      outLeft = out.size() - used;
      continue;
    }
    if (outLeft < kReplacementUtf8.size()) {
      const std::size_t used = static_cast<std::size_t>(outPtr - out.data());
      out.resize(out.size() + 16);
      outPtr = out.data() + used;
      outLeft = out.size() - used;
    }
    for (const char c : kReplacementUtf8) *outPtr++ = c;
    outLeft -= kReplacementUtf8.size();
    // A lead byte with a proper second byte is an unassigned character of two bytes; any other
    // bad byte is replaced alone and the next byte starts afresh.
    const auto lead = static_cast<unsigned char>(in[0]);
    std::size_t skip = 1;
    if (inLeft >= 2 && IsLeadByte(lead)) {
      const auto trail = static_cast<unsigned char>(in[1]);
      if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) skip = 2;
    }
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(static_cast<std::size_t>(outPtr - out.data()));
  return out;
}

namespace literals {

namespace {

struct LiteralHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

}  // namespace

Text operator""_gbk(const char* utf8, std::size_t length) {
  const std::string_view source(utf8, length);
  if (IsAscii(source)) return AsText(source);
  // Literals are converted once per thread; the cache is keyed by content, so it stays right
  // even for a caller that passes a buffer of its own.
  thread_local std::unordered_map<std::string, Text, LiteralHash, std::equal_to<>> cache;
  if (const auto found = cache.find(source); found != cache.end()) return found->second;
  Text converted = Utf8ToGbkText(source);
  if (cache.size() < 4096) cache.emplace(std::string(source), converted);
  return converted;
}

}  // namespace literals

}  // namespace common
