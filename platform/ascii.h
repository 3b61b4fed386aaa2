// ASCII case folding of native (UTF-8) names inside the platform layer. Unlike the text layer's
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
