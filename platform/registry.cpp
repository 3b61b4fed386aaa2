// Text values of HKEY_CURRENT_USER from the Wine prefix's user.reg.
//
// The file is Wine's own text format:
//   WINE REGISTRY Version 2
//   [Software\\Tencent\\DNF] 1796990753
//   #time=1dd8967f89faf42
//   "Path"="D:\\Games\\\x5730\x4e0b\x57ce\\Game"
//   "Other"=str(2):"%USERPROFILE%\\test"
// Key and value names are escaped like the string data; characters outside ASCII are written
// as \x and the UTF-16 unit in hexadecimal.
#include "platform/ascii.h"
#include "platform/registry.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

extern char** environ;

namespace platform {
namespace {

namespace fs = std::filesystem;

using detail::FoldAscii;

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Collects UTF-16 units and writes them as UTF-8, pairing surrogates; a lone surrogate
// becomes "?".
class Utf16Sink {
 public:
  explicit Utf16Sink(std::string& out) : out_(out) {}
  ~Utf16Sink() { Flush(); }

  void Unit(char16_t unit) {
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      Flush();
      high_ = unit;
      return;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      if (high_ != 0) {
        AppendUtf8(out_, 0x10000 + ((char32_t(high_) - 0xD800) << 10) + (char32_t(unit) - 0xDC00));
        high_ = 0;
      } else {
        out_ += '?';
      }
      return;
    }
    Flush();
    AppendUtf8(out_, unit);
  }

  void Byte(char byte) {
    Flush();
    out_ += byte;
  }

  void Flush() {
    if (high_ != 0) out_ += '?';
    high_ = 0;
  }

 private:
  std::string& out_;
  char16_t high_ = 0;
};

// Reads an escaped string that starts right after its opening delimiter and ends at the
// unescaped `close`. On success `pos` is just past the closing delimiter and the text is in
// `out` as UTF-8.
bool ParseEscaped(std::string_view line, std::size_t& pos, char close, std::string& out) {
  out.clear();
  Utf16Sink sink(out);
  while (pos < line.size()) {
    const char c = line[pos++];
    if (c == close) {
      sink.Flush();
      return true;
    }
    if (c != '\\') {
      sink.Byte(c);  // raw bytes (ASCII, or UTF-8 written by other tools) pass through
      continue;
    }
    if (pos >= line.size()) return false;
    const char e = line[pos++];
    switch (e) {
      case 'a': sink.Unit(u'\a'); break;
      case 'b': sink.Unit(u'\b'); break;
      case 'e': sink.Unit(0x1B); break;
      case 'f': sink.Unit(u'\f'); break;
      case 'n': sink.Unit(u'\n'); break;
      case 'r': sink.Unit(u'\r'); break;
      case 't': sink.Unit(u'\t'); break;
      case 'v': sink.Unit(u'\v'); break;
      case 'x': {
        unsigned value = 0;
        int digits = 0;
        while (digits < 4 && pos < line.size() && HexDigit(line[pos]) >= 0) {
          value = value * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
          ++digits;
        }
        if (digits == 0) {
          sink.Unit(u'x');
        } else {
          sink.Unit(static_cast<char16_t>(value));
        }
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          unsigned value = static_cast<unsigned>(e - '0');
          for (int digits = 1; digits < 3 && pos < line.size() && line[pos] >= '0' &&
                               line[pos] <= '7';
               ++digits) {
            value = value * 8 + static_cast<unsigned>(line[pos++] - '0');
          }
          sink.Unit(static_cast<char16_t>(value));
        } else {
          sink.Byte(e);  // "\\", "\"", "\]" and anything else stand for themselves
        }
        break;
    }
  }
  return false;
}

std::optional<std::string> EnvironmentValue(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (const char* value = std::getenv(name.c_str()); value != nullptr) return std::string(value);
  // Windows variable names ignore case.
  const std::string folded = FoldAscii(name);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals == nullptr) continue;
    if (FoldAscii(std::string_view(*entry, static_cast<std::size_t>(equals - *entry))) == folded) {
      return std::string(equals + 1);
    }
  }
  return std::nullopt;
}

// %NAME% replaced by the variable's value; a name that is not set stays as written.
std::string ExpandVariables(std::string_view text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('%', pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(pos, open - pos));
    const std::string name(text.substr(open + 1, close - open - 1));
    if (auto value = EnvironmentValue(name)) {
      out += *value;
      pos = close + 1;
    } else {
      out += '%';
      out.append(name);
      pos = close;  // the closing "%" may open the next variable
    }
  }
  out.append(text.substr(pos));
  return out;
}

// What the data part of a value line (after "=") holds.
struct ValueData {
  bool wellFormed = false;
  std::optional<std::string> text;  // REG_SZ, or REG_EXPAND_SZ already expanded
};

ValueData ParseData(std::string_view data) {
  ValueData result;
  int type = 1;
  if (data.substr(0, 4) == "str(") {
    const std::size_t close = data.find("):");
    if (close == std::string_view::npos) return result;
    type = 0;
    for (char c : data.substr(4, close - 4)) {
      if (c < '0' || c > '9') return result;
      type = type * 10 + (c - '0');
      if (type > 0xFFFF) return result;
    }
    data.remove_prefix(close + 2);
  } else if (data.substr(0, 6) == "dword:" || data.substr(0, 3) == "hex") {
    result.wellFormed = true;  // numbers and binary data are no text
    return result;
  }
  if (data.empty() || data.front() != '"') return result;
  std::size_t pos = 1;
  std::string value;
  if (!ParseEscaped(data, pos, '"', value)) return result;
  result.wellFormed = true;
  if (type == 1) result.text = std::move(value);
  if (type == 2) result.text = ExpandVariables(value);
  return result;
}

fs::path RegistryFile() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
    return fs::path(prefix) / "user.reg";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return fs::path(home) / ".wine" / "user.reg";
  }
  return {};
}

std::optional<std::string> FindValue(std::istream& in, const std::string& foldedKey,
                                     const std::string& foldedName) {
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.rfind("WINE REGISTRY Version 2", 0) != 0) return std::nullopt;

  bool inKey = false;
  std::string parsed;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view view(line);
    if (view.empty()) continue;
    if (view.front() == '[') {
      std::size_t pos = 1;
      inKey = ParseEscaped(view, pos, ']', parsed) && FoldAscii(parsed) == foldedKey;
      continue;
    }
    if (!inKey) continue;
    std::size_t pos = 0;
    if (view.front() == '@') {
      parsed.clear();
      pos = 1;
    } else if (view.front() == '"') {
      pos = 1;
      if (!ParseEscaped(view, pos, '"', parsed)) continue;  // malformed line
    } else {
      continue;  // comments, "#time=", continuation lines of long values
    }
    if (pos >= view.size() || view[pos] != '=') continue;
    if (FoldAscii(parsed) != foldedName) continue;
    // The first well-formed line of the value decides; Wine never writes a second one.
    ValueData data = ParseData(view.substr(pos + 1));
    if (!data.wellFormed) continue;  // malformed line
    return data.text.value_or(std::string());
  }
  return std::nullopt;
}

}  // namespace

common::Text ReadRegistryText(const common::Text& fullName) {
  const common::Text name = common::AsText(fullName);
  const int slash = common::FindLast(name, "\\");
  if (slash < 1) return {};
  const common::Text key = common::Left(name, slash - 1);
  const common::Text valueName = common::Mid(name, slash + 1);

  const fs::path file = RegistryFile();
  if (file.empty()) return {};
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  const auto value =
      FindValue(in, FoldAscii(common::GbkToUtf8(key)), FoldAscii(common::GbkToUtf8(valueName)));
  if (!value) return {};
  return common::Utf8ToGbkText(*value);
}

}  // namespace platform
