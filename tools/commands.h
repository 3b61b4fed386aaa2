// Commands of velmora-cli. main() picks the command by its first word and hands it the remaining
// arguments; `gbk` tells whether --gbk was given anywhere (every output as raw GBK bytes instead
// of UTF-8). Each command returns the process exit code: 0 done, 1 failed, 2 wrong usage,
// 3 no official name list.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct Options {
  bool gbk = false;
};

int RunTablesCommand(const std::vector<std::string>& args, const Options& options);
int RunScanCommand(const std::vector<std::string>& args, const Options& options);
int RunScriptCommand(const std::vector<std::string>& args, const Options& options);
int RunResolveCommand(const std::vector<std::string>& args, const Options& options);

// Writes a GBK text to stdout or stderr: converted to UTF-8 unless options.gbk.
void WriteOut(const std::string& gbk, const Options& options);
void WriteErr(const std::string& gbk, const Options& options);

}  // namespace cli
