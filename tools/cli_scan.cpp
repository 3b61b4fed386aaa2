// velmora-cli scan: the scans of the cleanup window on a folder given on the command line.
#include <string>
#include <vector>

#include "common/text.h"
#include "tools/commands.h"
#include "velmora/cleanup/scan.h"
#include "velmora/cleanup/tables.h"

namespace cli {
namespace {

const char kScanUsage[] =
    "usage: velmora-cli scan [--cross-server] [--data DIR] FOLDER\n"
    "\n"
    "Runs the package scan of the cleanup window (button 非官方文件清理) on FOLDER, the\n"
    "game's ImagePacks2 folder, and prints one line per listed package: the name, TAB, the\n"
    "label of the name check table, TAB, the date of its last change. The row count follows\n"
    "on stderr.\n"
    "\n"
    "  --cross-server  run the cross-server scan instead (button 跨服跳跃清理): packages picked\n"
    "                  by their names alone, without the official name list\n"
    "  --data DIR      read the tables DIR/数据核对.sjk and DIR/数据列表.sjk (default:\n"
    "                  皮肤图片 in the current directory)\n"
    "\n"
    "Exit 3 when the official name list is missing, damaged or refused (package scan only).\n";

using namespace common::literals;

int Usage(const std::string& problem, const Options& options) {
  WriteErr("velmora-cli scan: " + problem + "\n", options);
  WriteErr(common::Utf8ToGbkText(kScanUsage), options);
  return 2;
}

}  // namespace

int RunScanCommand(const std::vector<std::string>& args, const Options& options) {
  bool crossServer = false;
  std::optional<common::Text> data;
  std::vector<common::Text> operands;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(common::Utf8ToGbkText(arg));
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      WriteOut(common::Utf8ToGbkText(kScanUsage), options);
      return 0;
    } else if (arg == "--cross-server") {
      crossServer = true;
    } else if (arg == "--data") {
      if (i + 1 == args.size()) return Usage("--data needs a folder", options);
      data = common::Utf8ToGbkText(args[++i]);
    } else if (arg.rfind("--data=", 0) == 0) {
      data = common::Utf8ToGbkText(arg.substr(7));
    } else {
      return Usage("unknown option " + common::Utf8ToGbkText(arg), options);
    }
  }
  if (operands.size() != 1) return Usage("give exactly one FOLDER", options);

  common::Text dataFolder = data.value_or("皮肤图片"_gbk);
  if (!dataFolder.empty() && !common::EndsWith(dataFolder, "\\") &&
      !common::EndsWith(dataFolder, "/")) {
    dataFolder += '\\';
  }
  velmora::NameTables tables;
  tables.LoadNameCheckTable(dataFolder + "数据核对.sjk"_gbk);
  tables.LoadOfficialNameList(dataFolder + "数据列表.sjk"_gbk);

  const common::Text& folder = operands.front();
  const velmora::ScanResult result = crossServer ? velmora::RunCrossServerScan(folder, tables)
                                                 : velmora::RunPackageScan(folder, tables);
  if (result.officialListMissing) {
    WriteErr(velmora::OfficialListFailedText() + "\n", options);
    return 3;
  }
  std::string out;
  for (const velmora::PackageRow& row : result.rows) {
    out += row.name;
    out += '\t';
    out += row.label;
    out += '\t';
    out += row.date;
    out += '\n';
  }
  WriteOut(out, options);
  WriteErr(std::to_string(result.rows.size()) + "\n", options);
  return 0;
}

}  // namespace cli
