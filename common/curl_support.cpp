#include "common/curl_support.h"

#include <mutex>

namespace common::curl {

void InitialiseLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string EscapeUrlBytes(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (const unsigned char byte : text) {
    if (byte <= 0x20 || byte >= 0x7F) {
      escaped.push_back('%');
      escaped.push_back(kHex[byte >> 4]);
      escaped.push_back(kHex[byte & 0x0F]);
    } else {
      escaped.push_back(static_cast<char>(byte));
    }
  }
  return escaped;
}

}  // namespace common::curl
