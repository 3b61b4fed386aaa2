// Output of velmora-cli: program texts are GBK; the terminal gets UTF-8 unless --gbk.
#include <cstdio>

#include "common/text.h"
#include "tools/commands.h"

namespace cli {
namespace {

void Write(std::FILE* stream, const std::string& gbk, const Options& options) {
  const std::string bytes = options.gbk ? gbk : common::GbkToUtf8(gbk);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

}  // namespace

void WriteOut(const std::string& gbk, const Options& options) { Write(stdout, gbk, options); }

void WriteErr(const std::string& gbk, const Options& options) { Write(stderr, gbk, options); }

}  // namespace cli
