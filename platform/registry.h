// Text values under HKEY_CURRENT_USER, read from the Wine prefix's user.reg.
#pragma once

#include "common/text.h"

namespace platform {

// fullName is "Software\Tencent\DNF\Path": the key is the part before the last backslash, the
// value name the part after it. REG_SZ as stored, REG_EXPAND_SZ with %NAME% expanded from the
// environment; any other type, a missing key, value or file give an empty text.
common::Text ReadRegistryText(const common::Text& fullName);

}  // namespace platform
