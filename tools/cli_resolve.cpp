// velmora-cli resolve [--gbk] ADDRESS: the link record that UpDate makes of a share page.

#include <string>
#include <vector>

#include "common/text.h"
#include "tools/commands.h"
#include "update/share_link.h"

namespace cli {

namespace {

const char kResolveUsage[] =
    "usage: velmora-cli resolve [--gbk] [--value] ADDRESS\n"
    "Reads the share page at ADDRESS the way UpDate does and prints its link record,\n"
    "link|encoded*name|size|md5, on one line: UTF-8 unless --gbk asks for the raw GBK bytes.\n"
    "With --value, ADDRESS is a value of the release page instead: written without its scheme,\n"
    "every \"&\" as \"我\".\n"
    "A page that cannot be read, or that names none of the fields, gives the separators alone\n"
    "(|*||) and exit code 1.\n";

}  // namespace

int RunResolveCommand(const std::vector<std::string>& args, const Options& options) {
  std::vector<std::string> operands;
  bool optionsEnded = false;
  bool releaseValue = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        optionsEnded = true;
      } else if (arg == "--help" || arg == "-h") {
        WriteOut(common::Utf8ToGbkText(kResolveUsage), options);
        return 0;
      } else if (arg == "--value") {
        releaseValue = true;
      } else if (arg != "--gbk") {  // --gbk is already in the options
        WriteErr("velmora-cli resolve: unknown option " + common::Utf8ToGbkText(arg) + "\n",
                 options);
        WriteErr(common::Utf8ToGbkText(kResolveUsage), options);
        return 2;
      }
      continue;
    }
    operands.push_back(arg);
  }
  if (operands.size() != 1) {
    WriteErr(common::Utf8ToGbkText(kResolveUsage), options);
    return 2;
  }
  // The terminal speaks UTF-8; addresses are program texts.
  common::Text address = common::Utf8ToGbkText(operands.front());
  if (releaseValue) address = update::ShareAddress(address);
  const common::Text record = update::ResolveShareLink(address);
  WriteOut(record + "\n", options);
  if (record == "|*||") {
    WriteErr("velmora-cli resolve: no field found in the share page at " + address + "\n",
             options);
    return 1;
  }
  return 0;
}

}  // namespace cli
