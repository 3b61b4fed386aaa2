// ASCII case folding of native (UTF-8) names and protocol words. Unlike the text layer's
// ToLower it does not step over GBK double-byte characters: every byte of a UTF-8 character lies
// at 0x80 or above, so folding A-Z byte by byte is exact.
#pragma once

#include <string>
#include <string_view>

namespace platform::detail {

inline std::string FoldAscii(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

}  // namespace platform::detail

namespace platform {

// Equal ignoring the case of ASCII letters (names of processes, header fields).
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace platform
