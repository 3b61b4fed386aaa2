// The address of the published release page that Velmora and UpDate both read.
#pragma once

#include "common/text.h"

namespace common {

// The compiled-in release page address, unless the environment variable VELMORA_RELEASE_URL
// holds a non-empty address (tests, the demo and mirrors use it).
Text ReleasePageUrl();

}  // namespace common
