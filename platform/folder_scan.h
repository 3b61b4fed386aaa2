// One listing of a folder for a whole scan.
//
// A scan asks for the folder's packages and then for the date of each listed one. Reading the
// folder again for every date (to find "abc.npk" as "ABC.NPK") makes a scan quadratic, so the
// folder is read once, through one open directory handle, and every later question is answered
// from that listing: names matched against wildcards in listing order, and dates by a stat of
// the listed entry relative to the open folder.
#pragma once

#include <dirent.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/text.h"

namespace platform {

// Windows wildcard matching of a file name: "*" any run of characters, "?" one character,
// ASCII letters ignoring case; a double-byte GBK character counts as one character.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// "%d年%d月%d日", for example 2013年3月15日.
common::Text DateText(int year, int month, int day);
// The date of a file that is not found: 100年1月1日.
common::Text MissingFileDateText();

class FolderScan {
 public:
  // Reads the folder of a program path text once. A folder that does not exist or cannot be
  // read gives an empty listing.
  explicit FolderScan(const common::Text& folder);
  ~FolderScan();
  FolderScan(const FolderScan&) = delete;
  FolderScan& operator=(const FolderScan&) = delete;

  // Names (GBK, as listed) of the regular files that match the wildcard pattern, in the order
  // the listing gave them; "." and ".." never.
  std::vector<common::Text> Find(std::string_view pattern) const;
  // The same names in lower case (ASCII letters only), valid as long as this listing.
  std::vector<std::string_view> FindLowerCase(std::string_view pattern) const;

  // "%d年%d月%d日" of the last change, in local time, of the entry that the path folder\name
  // names: the entry of exactly that name, else the first listed one equal to it ignoring ASCII
  // case. The entry is looked at now, so a file removed since the listing gives 100年1月1日.
  common::Text ModifiedDateText(std::string_view name) const;

 private:
  struct Entry {
    common::Text name;    // GBK
    std::string native;   // the name on disk, when it differs from `name` (not ASCII)
    common::Text folded;  // name in lower case, when it differs from `name`
    bool regular = false;
    bool exact = true;  // the GBK name converts back to the name on disk
    const std::string& Native() const { return native.empty() ? name : native; }
    const common::Text& Folded() const { return folded.empty() ? name : folded; }
  };
  DIR* dir_ = nullptr;
  std::vector<Entry> entries_;
  std::unordered_map<std::string_view, std::size_t> byFoldedName_;  // Folded() -> entry
};

}  // namespace platform
