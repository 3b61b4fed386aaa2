#include "velmora/startup/version_gate.h"

#include <optional>

#include "platform/files.h"

namespace velmora {

using namespace common::literals;

common::Text LocalVersionPath() { return "皮肤图片\\版本.txt"_gbk; }

common::Text ReadLocalVersion(const common::Text& path) {
  std::optional<std::string> bytes = platform::ReadFileBytes(path);
  if (!bytes) return {};
  return common::AsText(*bytes);
}

common::Text RemoteVersionOf(std::string_view page) {
  static const common::Text kStart = "版本前"_gbk;
  static const common::Text kEnd = "版本后"_gbk;
  return common::TextBetween(common::AsText(page), kStart, kEnd);
}

GateDecision DecideGate(const common::Text& localVersion, const common::Text& remoteVersion) {
  const common::Text local = common::AsText(localVersion);
  const common::Text remote = common::AsText(remoteVersion);
  if (remote.empty()) return GateDecision::StartNormally;
  return local == remote ? GateDecision::StartNormally : GateDecision::Update;
}

common::Text UpdaterCommandLine(const common::Text& runDirectory) {
  return common::AsText(runDirectory) + "\\UpDate.exe";
}

}  // namespace velmora
