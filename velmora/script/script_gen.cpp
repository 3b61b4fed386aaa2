#include "velmora/script/script_gen.h"

#include "platform/files.h"

namespace velmora {

using namespace common::literals;

void ListSubfolders(const Text& folder, std::vector<Text>& list) {
  Text pattern = folder;
  if (pattern.empty() || pattern.back() != '\\') pattern += '\\';
  pattern += "*.*";
  for (auto& entry : platform::ListEntries(pattern)) {
    if (!entry.isFolder || entry.name == "." || entry.name == "..") continue;
    list.push_back(std::move(entry.name));
  }
}

Text LaunchPrefix(const Text& packageName) {
  return common::Replace(common::Replace(packageName, ".npk", "", /*ignoreCase=*/true), "_", "/");
}

Text ScriptGenerator::FolderText() const {
  return hooks_.folderText ? hooks_.folderText() : Text();
}

bool ScriptGenerator::Pump() const { return hooks_.pump ? hooks_.pump() : true; }

bool ScriptGenerator::GenerateScript() {
  static const Text kHeader = "//2013.3.15 星期五 修复无法运行\r\n\r\n"_gbk + "//版本 1.1\r\n\r\n"_gbk +
                              "VER 220\r\n\r\n" + "SETMODE OPTIMIZE\r\n\r\n";
  const Text folder = FolderText();
  buffer_ += kHeader;
  for (const Text& entry : packageFolders_) {
    imageFolders_.clear();
    packageName_ = entry;
    packagePath_ = folder + "\\" + packageName_;
    launchPrefix_ = LaunchPrefix(packageName_);
    ListSubfolders(packagePath_, imageFolders_);
    buffer_ += "OPEN   ImagePacks2\\";
    buffer_ += packageName_;
    buffer_ += "\r\n";
    if (!AppendImageLines()) return false;
    buffer_ += "CLOSE\r\n\r\n";
    if (!Pump()) return false;
  }
  if (hooks_.show) hooks_.show(buffer_);
  return true;
}

bool ScriptGenerator::AppendImageLines() {
  for (const Text& entry : imageFolders_) {
    launchPath_.assign(launchPrefix_).append("/").append(entry);
    const int slash = common::FindLast(launchPath_, "/");
    imageName_ = common::Mid(launchPath_, slash + 1);
    buffer_ += "LAUNCH  ";
    buffer_ += launchPath_;
    buffer_ += "\r\nTEX     N|ALL|32|";
    // The folder box is read again for every image, as the window has always done.
    buffer_ += FolderText();
    buffer_ += '\\';
    buffer_ += packageName_;
    buffer_ += '\\';
    buffer_ += imageName_;
    buffer_ += "\\\r\n";
    if (!Pump()) return false;
  }
  return true;
}

bool ScriptGenerator::Generate() {
  packageFolders_.clear();
  buffer_.clear();
  ListSubfolders(FolderText(), packageFolders_);
  return GenerateScript();
}

Text GenerateScriptText(const Text& folder) {
  ScriptGenerator generator(ScriptHooks{[&folder] { return folder; }, {}, {}});
  generator.Generate();
  return std::move(generator.Buffer());
}

}  // namespace velmora
