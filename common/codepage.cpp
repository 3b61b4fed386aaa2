// Conversions between UTF-8 and GBK (code page 936, where 0x80 is the euro sign), over iconv.
//
// The UTF-8 side is decoded here, the way the Windows converters do it: every invalid sequence
// (a stray byte, a truncated sequence, an over-long form, an encoded surrogate, a value beyond
// U+10FFFF) stands for one replacement character, and a character beyond U+FFFF counts as its two
// UTF-16 units. Only clean runs of characters are handed to iconv. A character that GBK cannot
// hold becomes "?", one per UTF-16 unit.
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

// Converts a run of valid UTF-8 characters (all within U+0000..U+FFFF) to GBK, appending to
// `out`; a character GBK lacks becomes "?".
void AppendGbkRun(std::string_view run, std::string& out) {
  if (run.empty()) return;
  if (IsAscii(run)) {
    out.append(run);
    return;
  }
  const iconv_t cd = ThreadConverters().ToGbk();
  if (!Converters::Valid(cd)) {
    for (std::size_t i = 0; i < run.size(); i += Utf8SequenceLength(At(run, i))) {
      out.push_back(At(run, i) < 0x80 ? run[i] : kDefaultChar);
    }
    return;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  const std::size_t base = out.size();
  out.resize(base + run.size() + 4);  // GBK never needs more bytes than UTF-8 here
  char* in = const_cast<char*>(run.data());
  std::size_t inLeft = run.size();
  char* outPtr = out.data() + base;
  std::size_t outLeft = run.size() + 4;
  while (inLeft > 0) {
    const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    if (result != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      const std::size_t used = static_cast<std::size_t>(outPtr - out.data());
      out.resize(out.size() + run.size() + 4);
      outPtr = out.data() + used;
      outLeft = out.size() - used;
      continue;
    }
    // EILSEQ (a character GBK lacks) or anything unexpected: one default character.
    if (outLeft == 0) {
      const std::size_t used = static_cast<std::size_t>(outPtr - out.data());
      out.resize(out.size() + 16);
      outPtr = out.data() + used;
      outLeft = out.size() - used;
    }
    *outPtr++ = kDefaultChar;
    --outLeft;
    const std::size_t skip = std::min(inLeft, Utf8SequenceLength(static_cast<unsigned char>(*in)));
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(static_cast<std::size_t>(outPtr - out.data()));
}

}  // namespace

std::string Utf8ToGbk(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t runStart = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    bool valid = false;
    const std::size_t length = ExamineUtf8(bytes, i, valid);
    if (valid && length < 4) {
      i += length;
      continue;
    }
    AppendGbkRun(bytes.substr(runStart, i - runStart), out);
    // An invalid sequence is one replacement character; a character beyond U+FFFF is a pair of
    // surrogate units. Code page 936 holds neither.
    out.append(valid ? 2 : 1, kDefaultChar);
    i += length;
    runStart = i;
  }
  AppendGbkRun(bytes.substr(runStart), out);
  // The result keeps the length of the whole converted text, but the conversion itself stops at
  // the first zero character: everything after it stays zero bytes. No other GBK byte is zero.
  const std::size_t zero = out.find('\0');
  if (zero != std::string::npos) std::fill(out.begin() + static_cast<std::ptrdiff_t>(zero), out.end(), '\0');
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
