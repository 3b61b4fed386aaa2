// Running processes and program starts.
#pragma once

#include "common/text.h"

namespace platform {

// True when a process whose executable name equals `name` (ASCII case folded) runs.
bool IsProcessRunning(const common::Text& name);

// Starts the program named by the command line (a path text, no arguments), detached, with the
// working directory inherited. "…\UpDate.exe" starts "…\UpDate" when the .exe file is missing.
// Returns whether a process was started; callers of the programs ignore the answer.
bool StartProgram(const common::Text& commandLine);

}  // namespace platform
