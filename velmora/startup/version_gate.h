// The version gate of Velmora's start: the local version file, the version on the release page,
// and what the program does with the two.
//
// The local version file "皮肤图片\版本.txt" (relative to the current directory) holds the version
// text as GBK bytes; everything up to its first zero byte counts, nothing is trimmed, so a
// trailing line break belongs to the version. The release page carries the newest version
// between the markers "版本前" and "版本后".
#pragma once

#include <string>
#include <string_view>

#include "common/text.h"

namespace velmora {

// "皮肤图片\版本.txt"
common::Text LocalVersionPath();

// The version text of the local file: its bytes up to the first zero byte; empty when the file is
// missing or empty.
common::Text ReadLocalVersion(const common::Text& path = LocalVersionPath());

// The version text of a release page: the text between the first "版本前" and the next "版本后"
// after it; empty when either marker is missing.
common::Text RemoteVersionOf(std::string_view page);

enum class GateDecision {
  StartNormally,  // the versions are the same, or the page gave no version to compare with
  Update,         // the page names another version: hand over to UpDate
};

// Equal texts (byte for byte, case-sensitive, untrimmed) start normally. An empty remote version
// means the page could not be read or carried no version: nothing is known about a newer
// release, so the program starts normally rather than sending the player to an update that may
// not exist. Any other difference, an older page version included, is an update.
GateDecision DecideGate(const common::Text& localVersion, const common::Text& remoteVersion);

// The command line that starts the updater: the run directory followed by "\UpDate.exe".
common::Text UpdaterCommandLine(const common::Text& runDirectory);

}  // namespace velmora
