// velmora-cli: the command-line face of the GUI-free logic of Velmora and UpDate.
//   velmora-cli [--gbk] tables|scan|script|resolve ...
#include <string>
#include <vector>

#include "common/text.h"
#include "tools/commands.h"

namespace {

const char kUsage[] =
    "usage: velmora-cli [--gbk] COMMAND [ARGS...]\n"
    "\n"
    "Commands:\n"
    "  tables decode FILE               print the deciphered lines of a name table\n"
    "  tables encode PLAIN OUT          encipher a UTF-8 list, one entry per line, into OUT\n"
    "  tables build-official FOLDER OUT make the official name list from a clean FOLDER\n"
    "  scan [--cross-server] [--data DIR] FOLDER\n"
    "                                   list the unofficial packages of FOLDER, as the\n"
    "                                   cleanup window does\n"
    "  script FOLDER                    print the patch script for a texture FOLDER\n"
    "  resolve [--value] ADDRESS        print the link record of a share page, as UpDate\n"
    "                                   resolves it (link|encoded*name|size|md5)\n"
    "\n"
    "Options:\n"
    "  --gbk    write every output as raw GBK bytes instead of UTF-8 (anywhere on the line)\n"
    "  --help   this text; 'velmora-cli COMMAND --help' describes one command\n"
    "\n"
    "Exit codes: 0 done, 1 failed, 2 wrong usage, 3 no official name list.\n";

}  // namespace

int main(int argc, char** argv) {
  cli::Options options;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--gbk") {
      options.gbk = true;
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) {
    cli::WriteErr("velmora-cli: no command given\n", options);
    cli::WriteErr(kUsage, options);
    return 2;
  }
  const std::string command = args.front();
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    cli::WriteOut(kUsage, options);
    return 0;
  }
  if (command == "tables") return cli::RunTablesCommand(rest, options);
  if (command == "scan") return cli::RunScanCommand(rest, options);
  if (command == "script") return cli::RunScriptCommand(rest, options);
  if (command == "resolve") return cli::RunResolveCommand(rest, options);
  cli::WriteErr("velmora-cli: unknown command '" + common::Utf8ToGbkText(command) + "'\n", options);
  cli::WriteErr(kUsage, options);
  return 2;
}
