// Directory search and file actions over program path texts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/text.h"

namespace platform {

struct DirEntry {
  common::Text name;  // GBK
  bool isFolder = false;
};

// Entries of the folder of `pattern` whose names match its last component with Windows
// wildcards ("*", "?", ignoring case), in the order the listing gives them. "." and ".." are
// never returned. A folder that does not exist or cannot be read gives no entries.
std::vector<DirEntry> ListEntries(const common::Text& pattern);

// ListEntries restricted to regular files (what FindFirstFile/FindNextFile give the scans).
std::vector<common::Text> FindEntries(const common::Text& pattern);

// "%d年%d月%d日" of the file's last change in local time; "100年1月1日" when it is not found.
common::Text ModifiedDateText(const common::Text& path);

bool FileExists(const common::Text& path);
bool FolderExists(const common::Text& path);

std::optional<std::string> ReadFileBytes(const common::Text& path);

// Writes through a temporary file and a rename, so a failure never leaves half a file.
bool WriteFileBytes(const common::Text& path, const std::string& bytes);

// Removes a file for good (no trash can). False when nothing was removed.
bool DeleteFileAt(const common::Text& path);

// Copies, replacing the target through a temporary file and a rename.
bool CopyFileReplacing(const common::Text& source, const common::Text& target);

// Moves like MoveFile: fails when the target exists.
bool MoveFileNoReplace(const common::Text& source, const common::Text& target);

}  // namespace platform
