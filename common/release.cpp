#include "common/release.h"

#include <cstdlib>

namespace common {

namespace {
// The one place where the release page address is written down.
constexpr const char* kReleasePageUrl = "http://velmora.blog.example.net/release.html";
}  // namespace

Text ReleasePageUrl() {
  const char* overridden = std::getenv("VELMORA_RELEASE_URL");
  if (overridden != nullptr && *overridden != '\0') return Text(overridden);
  return Text(kReleasePageUrl);
}

}  // namespace common
