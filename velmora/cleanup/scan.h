// The package scan and the cross-server scan of the cleanup window, without the window: the
// rows are data, which the window shows, the command line prints and the tests check.
//
// "folder" is the text of the path box at the moment the scan starts (a program path text).
// Each scan lists the folder once and answers every date from that one listing.
#pragma once

#include <functional>
#include <vector>

#include "common/text.h"
#include "velmora/cleanup/tables.h"

namespace velmora {

// One row of the package list: the name in lower case, the label (or the no-label text) and
// the date of the file's last change.
struct PackageRow {
  common::Text name;
  common::Text label;
  common::Text date;
  bool operator==(const PackageRow&) const = default;
};

using Pump = std::function<void()>;                    // lets the window handle its messages
using Progress = std::function<void(double percent)>;  // the scan progress bar, in percent

struct ScanResult {
  std::vector<PackageRow> rows;
  // The official name list is empty (missing, damaged or refused table): the package scan
  // lists nothing rather than every package of the game. The window says so.
  bool officialListMissing = false;
};

// Every "*.npk" package of the folder whose name is not on the official name list.
ScanResult RunPackageScan(const common::Text& folder, const NameTables& tables,
                          const Pump& pump = {});

// Packages picked by their names alone: a character outside printable ASCII, a "(", every
// "*.npknpk" file and a file named "_a_". The official name list is not used.
ScanResult RunCrossServerScan(const common::Text& folder, const NameTables& tables,
                              const Progress& progress = {}, const Pump& pump = {});

// The names of the folder's "*.npk" files in lower case, in listing order; none for an empty
// folder text.
std::vector<common::Text> ListFolderPackages(const common::Text& folder);

// The name without its parenthesised part: ab(b).npk gives a.npk, a(1)(2).npk gives a(2).npk.
common::Text BaseName(const common::Text& name);

// The row of one package taken alone (a dropped file, for example): name lower-cased, label
// through BaseName, date of folder\name.
PackageRow MakePackageRow(const common::Text& folder, const common::Text& name,
                          const NameTables& tables);

// The duplicate pass of the cross-server scan: walking the rows from the first, each row's
// first later copy (byte-equal column 1) is removed.
void RemoveRepeatedRows(std::vector<PackageRow>& rows);

// The texts the window shows around a scan.
common::Text ScanReportText(int count);  // "                 成功搜索到：" count "个非官方文件…"
common::Text OfficialListFailedText();  // "官方文件列表加载失败,无法分析非官方文件！"
common::Text ReportTitle();             // "Nivra提示："
common::Text NoLabelText();             // " 未能分析文件"

}  // namespace velmora
