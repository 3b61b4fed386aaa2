// velmora-cli script [--gbk] FOLDER: the patch script that "生成代码" makes for FOLDER.

#include <string>
#include <vector>

#include "common/text.h"
#include "tools/commands.h"
#include "velmora/script/script_gen.h"

namespace cli {

namespace {

const char kScriptUsage[] =
    "usage: velmora-cli script [--gbk] FOLDER\n"
    "Prints the patch script for the texture FOLDER (a program path such as D:\\tex),\n"
    "exactly as the script window generates it: CR LF line ends, UTF-8 output unless --gbk\n"
    "asks for the raw GBK bytes.\n";

}  // namespace

int RunScriptCommand(const std::vector<std::string>& args, const Options& options) {
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        optionsEnded = true;
      } else if (arg == "--help" || arg == "-h") {
        WriteOut(kScriptUsage, options);
        return 0;
      } else if (arg != "--gbk") {  // --gbk is already in the options
        WriteErr("velmora-cli script: unknown option " + common::Utf8ToGbkText(arg) + "\n",
                 options);
        WriteErr(kScriptUsage, options);
        return 2;
      }
      continue;
    }
    operands.push_back(arg);
  }
  if (operands.size() != 1) {
    WriteErr(kScriptUsage, options);
    return 2;
  }
  // The terminal speaks UTF-8; the generator works on program texts.
  const common::Text folder = common::Utf8ToGbkText(operands.front());
  WriteOut(velmora::GenerateScriptText(folder), options);
  return 0;
}

}  // namespace cli
