// velmora-cli tables: reading and making the enciphered name tables.
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/files.h"
#include "tools/commands.h"
#include "velmora/cleanup/tables.h"

namespace cli {
namespace {

const char kTablesUsage[] =
    "usage: velmora-cli tables decode FILE\n"
    "       velmora-cli tables encode PLAIN OUT\n"
    "       velmora-cli tables build-official FOLDER OUT\n"
    "\n"
    "  decode          prints the deciphered lines of the table FILE, the marker line first;\n"
    "                  fails (exit 1) when the marker line is refused\n"
    "  encode          reads PLAIN (UTF-8 text, one entry per line, LF or CRLF) and writes OUT:\n"
    "                  GBK, the marker line -597088775 first, CRLF after every line,\n"
    "                  enciphered. A first line that already is the marker is taken as it, so\n"
    "                  the output of decode encodes back to the same table.\n"
    "  build-official  writes OUT as the official name list of FOLDER: the names of its\n"
    "                  *.npk files (the way a maintainer makes it from a clean installation)\n"
    "\n"
    "Name check table entries are NAME@@@LABEL. Tables are read by the cleanup window from\n"
    "皮肤图片\\数据核对.sjk (name check table) and 皮肤图片\\数据列表.sjk (official list).\n";

using namespace common::literals;

int Usage(const std::string& problem, const Options& options) {
  if (!problem.empty()) WriteErr("velmora-cli tables: " + problem + "\n", options);
  WriteErr(common::Utf8ToGbkText(kTablesUsage), options);
  return 2;
}

int Fail(const std::string& message, const Options& options) {
  WriteErr("velmora-cli tables: " + message + "\n", options);
  return 1;
}

bool WriteTable(const common::Text& out, const std::vector<common::Text>& entries,
                const Options& options) {
  if (!platform::WriteFileBytes(out, velmora::EncipherTable(velmora::TablePlainText(entries)))) {
    Fail("cannot write " + out, options);
    return false;
  }
  return true;
}

int Decode(const common::Text& file, const Options& options) {
  if (!platform::ReadFileBytes(file)) return Fail("cannot read " + file, options);
  const std::vector<common::Text> lines = velmora::ReadTableLines(file);
  if (lines.empty() || !velmora::MarkerAccepted(lines.front())) {
    return Fail(file +
                    ": the marker line is refused (not a name table, damaged, or enciphered "
                    "under another key)",
                options);
  }
  std::string out;
  for (const common::Text& line : lines) {
    out += line;
    out += '\n';
  }
  WriteOut(out, options);
  return 0;
}

int Encode(const common::Text& plainFile, const common::Text& out, const Options& options) {
  const std::optional<std::string> bytes = platform::ReadFileBytes(plainFile);
  if (!bytes) return Fail("cannot read " + plainFile, options);
  std::string_view utf8 = *bytes;
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);  // a byte-order mark
  std::vector<common::Text> entries = common::Split(common::Utf8ToGbkText(utf8), "\n");
  for (common::Text& entry : entries) {
    if (!entry.empty() && entry.back() == '\r') entry.pop_back();
  }
  if (!entries.empty() && velmora::MarkerAccepted(entries.front())) {
    entries.erase(entries.begin());
  }
  return WriteTable(out, entries, options) ? 0 : 1;
}

int BuildOfficial(const common::Text& folder, const common::Text& out, const Options& options) {
  if (!platform::FolderExists(folder)) return Fail("no folder " + folder, options);
  common::Text dir = folder;
  if (!common::EndsWith(dir, "\\")) dir += '\\';
  const std::vector<common::Text> names = platform::FindEntries(dir + "*.npk");
  if (!WriteTable(out, names, options)) return 1;
  WriteErr(std::to_string(names.size()) + " names written to " + out + "\n", options);
  return 0;
}

}  // namespace

int RunTablesCommand(const std::vector<std::string>& args, const Options& options) {
  std::vector<common::Text> operands;  // program texts (GBK)
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        optionsEnded = true;
        continue;
      }
      if (arg == "--help" || arg == "-h") {
        WriteOut(common::Utf8ToGbkText(kTablesUsage), options);
        return 0;
      }
      return Usage("unknown option " + common::Utf8ToGbkText(arg), options);
    }
    operands.push_back(common::Utf8ToGbkText(arg));
  }
  if (operands.empty()) return Usage("no action given", options);
  const common::Text action = operands.front();
  const std::size_t count = operands.size() - 1;
  if (action == "decode") {
    if (count != 1) return Usage("decode takes one FILE", options);
    return Decode(operands[1], options);
  }
  if (action == "encode") {
    if (count != 2) return Usage("encode takes PLAIN and OUT", options);
    return Encode(operands[1], operands[2], options);
  }
  if (action == "build-official") {
    if (count != 2) return Usage("build-official takes FOLDER and OUT", options);
    return BuildOfficial(operands[1], operands[2], options);
  }
  return Usage("unknown action '" + action + "'", options);
}

}  // namespace cli
