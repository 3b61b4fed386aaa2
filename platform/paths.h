// Windows-style path texts and their native places on Linux.
//
// A path inside the programs is a Windows-style GBK text ("皮肤图片\0.png", "D:\Games\Game",
// "\ImagePacks2"). NativePath maps it: GBK to UTF-8, both "\" and "/" separate components,
// a leading separator is the root, a drive letter X: resolves through $WINEPREFIX/dosdevices/x:
// (WINEPREFIX defaults to ~/.wine; a drive the prefix lacks gives a path that does not exist),
// a relative path is relative to the current directory, and each component that does not exist
// under its exact name is looked up again ignoring ASCII case, as Wine does.
#pragma once

#include <filesystem>

#include "common/text.h"

namespace platform {

std::filesystem::path NativePath(const common::Text& path);

// A native path as a program text: UTF-8 to GBK, "/" written as "\" (so "/opt/v" is "\opt\v").
common::Text ProgramPath(const std::filesystem::path& native);

// The folder of the running executable, as a program text, without a trailing separator.
common::Text RunDirectory();

// The process's working directory, as a program text.
common::Text CurrentDirectory();

// The user's desktop folder (the XDG desktop folder), as a program text without a trailing
// separator.
common::Text DesktopFolder();

}  // namespace platform
