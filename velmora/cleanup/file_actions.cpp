#include "velmora/cleanup/file_actions.h"

#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "platform/paths.h"

namespace velmora {

using common::Text;
using namespace common::literals;

namespace {

// True when anything at all (a file, a folder, a link) stands at the path.
bool AnythingAt(const Text& path) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(platform::NativePath(path), error);
  return !error && std::filesystem::exists(status);
}

bool SameFile(const Text& a, const Text& b) {
  std::error_code error;
  const bool same = std::filesystem::equivalent(platform::NativePath(a), platform::NativePath(b), error);
  return !error && same;
}

}  // namespace

Text LiveServerPathValue() { return "Software\\Tencent\\DNF\\Path"; }
Text TestServerPathValue() { return "Software\\Tencent\\DNFTest\\Path"; }

Text ServerPackageFolder(const Text& registryValue) {
  return common::Replace(registryValue + "\\ImagePacks2", "/", "\\");
}

Text PackagePath(const Text& folder, const Text& name) {
  // An empty path box names no folder: not the root folder of the drive.
  if (folder.empty()) return {};
  return folder + "\\" + name;
}

Text DesktopPackagePath(const Text& desktopFolder, const Text& name) {
  // No desktop folder: no target, rather than a file in the root folder.
  if (desktopFolder.empty()) return {};
  Text folder = desktopFolder;
  if (!common::EndsWith(folder, "\\")) folder += "\\";
  return folder + "\\" + name;
}

Text DesktopPackagePath(const Text& name) {
  return DesktopPackagePath(platform::DesktopFolder(), name);
}

DeleteOutcome DeletePackageFile(const Text& path) {
  if (path.empty()) return DeleteOutcome::Failed;
  if (platform::DeleteFileAt(path)) return DeleteOutcome::Deleted;
  return AnythingAt(path) ? DeleteOutcome::Failed : DeleteOutcome::AlreadyGone;
}

std::vector<DeleteOutcome> DeletePackageFiles(const Text& folder, const std::vector<Text>& names) {
  std::vector<DeleteOutcome> outcomes;
  outcomes.reserve(names.size());
  for (const Text& name : names) outcomes.push_back(DeletePackageFile(PackagePath(folder, name)));
  return outcomes;
}

bool CopyPackage(const Text& source, const Text& target) {
  if (source.empty() || target.empty()) return false;
  if (SameFile(source, target)) return true;
  return platform::CopyFileReplacing(source, target);
}

MoveOutcome MovePackage(const Text& source, const Text& target) {
  MoveOutcome outcome;
  if (source.empty() || target.empty()) return outcome;
  if (SameFile(source, target)) {
    // Copying over itself and deleting the "source" would lose the only copy.
    outcome.placed = true;
    return outcome;
  }
  if (platform::MoveFileNoReplace(source, target)) {
    outcome.placed = true;
  } else if (platform::CopyFileReplacing(source, target)) {
    outcome.placed = true;
    platform::DeleteFileAt(source);
  }
  outcome.leftFolder = !AnythingAt(source);
  return outcome;
}

std::vector<Text> SplitDroppedPaths(const Text& paths) { return common::Split(paths, "\r\n"); }

bool IsPackagePath(const Text& path) {
  return path.size() >= 4 && common::ToLower(common::Right(path, 4)) == ".npk";
}

Text DroppedName(const Text& path) {
  const int slash = common::FindLast(path, "\\");
  if (slash < 0) return path;
  return common::Mid(path, slash + 1);
}

Text DroppedNoLabelText() { return "        未能分析文件"_gbk; }

Text DropReportText(int added, int failed) {
  return "恭喜你！成功增加："_gbk + std::to_string(added) + "个,失败："_gbk + std::to_string(failed) +
         "个"_gbk;
}

Text NotPackageText() { return "非NPK文件无法加入,请再选择正确的文件！"_gbk; }
Text NotPackageCaption() { return "信息："_gbk; }

Text StoredSkinPath() { return platform::RunDirectory() + "\\皮肤图片\\0.png"_gbk; }
Text SkinPictureFilter() { return "图像文件JPG,PNG|*.jpg;*.png"_gbk; }

bool StoreSkinPicture(const Text& chosenPath) {
  return CopyPackage(chosenPath, StoredSkinPath());
}

}  // namespace velmora
