// The package scan and the cross-server scan over one listing of the folder.
#include "velmora/cleanup/scan.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "platform/files.h"
#include "platform/folder_scan.h"

namespace velmora {
namespace {

using namespace common::literals;

// The row of a listed package; the date comes from the scan's own listing of the folder.
PackageRow RowFromListing(const platform::FolderScan& listing, std::string_view name,
                          const NameTables& tables) {
  static const common::Text kNoLabel = NoLabelText();
  PackageRow row;
  row.name = common::Text(name);
  row.label = kNoLabel;
  row.date = listing.ModifiedDateText(name);
  if (std::optional<common::Text> label = tables.CheckLabel(BaseName(row.name))) {
    row.label = std::move(*label);
  }
  return row;
}

// Only characters U+0020..U+007F: then NonAsciiChars has nothing to give.
bool PrintableAscii(std::string_view name) {
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return c >= 0x20 && static_cast<unsigned char>(c) <= 0x7F; });
}

void Call(const Pump& pump) {
  if (pump) pump();
}

void Report(const Progress& progress, std::size_t i, std::size_t n) {
  if (progress) progress(static_cast<double>(i) / static_cast<double>(n) * 100.0);
}

}  // namespace

std::vector<common::Text> ListFolderPackages(const common::Text& folder) {
  if (common::AsText(folder).empty()) return {};
  const platform::FolderScan listing(folder);
  const std::vector<std::string_view> names = listing.FindLowerCase("*.npk");
  return std::vector<common::Text>(names.begin(), names.end());
}

ScanResult RunPackageScan(const common::Text& folder, const NameTables& tables, const Pump& pump) {
  ScanResult result;
  if (tables.OfficialListEmpty()) {
    // Without the list every package would count as unofficial, and "clean all" would then
    // delete the whole game: list nothing and let the window say why.
    result.officialListMissing = true;
    return result;
  }
  if (common::AsText(folder).empty()) return result;
  const platform::FolderScan listing(folder);
  for (const std::string_view name : listing.FindLowerCase("*.npk")) {
    if (!tables.IsOfficialName(name)) result.rows.push_back(RowFromListing(listing, name, tables));
    Call(pump);
  }
  return result;
}

ScanResult RunCrossServerScan(const common::Text& folder, const NameTables& tables,
                              const Progress& progress, const Pump& pump) {
  static const common::Text kOpenParenthesis = "(";
  ScanResult result;
  if (common::AsText(folder).empty()) return result;
  const platform::FolderScan listing(folder);

  const std::vector<std::string_view> names = listing.FindLowerCase("*.npk");
  std::vector<std::string_view> candidates;  // views into the listing
  for (std::size_t i = 1; i <= names.size(); ++i) {
    const std::string_view name = names[i - 1];
    // A name with both a wide character and "(" is picked twice; the duplicate pass below
    // removes the second row.
    if (!PrintableAscii(name) && !common::NonAsciiChars(name).empty()) candidates.push_back(name);
    if (common::Contains(name, kOpenParenthesis)) candidates.push_back(name);
    Call(pump);
    Report(progress, i, names.size());
  }
  // These are taken as listed; their rows show them in lower case like every other row.
  for (const std::string_view name : listing.FindLowerCase("*.npknpk")) candidates.push_back(name);
  for (const std::string_view name : listing.FindLowerCase("_a_")) candidates.push_back(name);

  result.rows.reserve(candidates.size());
  for (std::size_t i = 1; i <= candidates.size(); ++i) {
    result.rows.push_back(RowFromListing(listing, candidates[i - 1], tables));
    Call(pump);
    Report(progress, i, candidates.size());
  }
  RemoveRepeatedRows(result.rows);
  return result;
}

void RemoveRepeatedRows(std::vector<PackageRow>& rows) {
  // Walking row by row from the first, each step removes the first later row with the same
  // name. Removals only ever happen below the row being looked at, so the walk visits every
  // remaining row once, and the row it removes is always the next one of the same name in
  // the original order (an earlier copy of that name took its own next copy already, which
  // lies before the current row). That makes the pass linear.
  const std::size_t count = rows.size();
  if (count < 2) return;
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> nextSame(count, kNone);
  {
    std::unordered_map<std::string_view, std::size_t> later;
    later.reserve(count);
    for (std::size_t i = count; i-- > 0;) {
      auto [it, added] = later.try_emplace(rows[i].name, i);
      if (!added) {
        nextSame[i] = it->second;
        it->second = i;
      }
    }
  }
  std::vector<bool> removed(count, false);
  for (std::size_t i = 0; i < count; ++i) {
    if (!removed[i] && nextSame[i] != kNone) removed[nextSame[i]] = true;
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (removed[i]) continue;
    if (kept != i) rows[kept] = std::move(rows[i]);
    ++kept;
  }
  rows.resize(kept);
}

common::Text BaseName(const common::Text& name) {
  static const common::Text kEmptyParentheses = "()";
  // Without a "(" there is nothing between parentheses and no "()" to remove ("(" is never
  // the second byte of a double-byte character).
  if (name.find('(') == common::Text::npos) return name;
  const common::Text inner = common::TextBetween(name, "(", ")");
  common::Text base = inner.empty() ? name : common::Replace(name, inner, "", true);
  return common::Replace(base, kEmptyParentheses, "");
}

PackageRow MakePackageRow(const common::Text& folder, const common::Text& name,
                          const NameTables& tables) {
  PackageRow row;
  row.name = common::ToLower(name);
  row.label = NoLabelText();
  row.date = platform::ModifiedDateText(common::AsText(folder) + "\\" + row.name);
  if (std::optional<common::Text> label = tables.CheckLabel(BaseName(row.name))) {
    row.label = std::move(*label);
  }
  return row;
}

common::Text ScanReportText(int count) {
  return "                 成功搜索到："_gbk + std::to_string(count) +
         "个非官方文件\r\n       现已支持模型文件逐个清理、清理全部模型文件更省事！"_gbk;
}

common::Text OfficialListFailedText() { return "官方文件列表加载失败,无法分析非官方文件！"_gbk; }

common::Text ReportTitle() { return "Nivra提示："_gbk; }

common::Text NoLabelText() { return " 未能分析文件"_gbk; }

}  // namespace velmora
