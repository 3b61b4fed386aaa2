// The file side of the cleanup window's actions, without the window: deleting the packages of
// listed rows, copying and moving them to the desktop, the server folders from the registry,
// the dropped-file paths and the custom skin file. The window decides what the player sees;
// these routines only touch files and say what happened.
#pragma once

#include <vector>

#include "common/text.h"

namespace velmora {

// Registry values of the game's two installations (HKEY_CURRENT_USER).
common::Text LiveServerPathValue();  // Software\Tencent\DNF\Path
common::Text TestServerPathValue();  // Software\Tencent\DNFTest\Path

// The ImagePacks2 folder of an installation: the registry text + "\ImagePacks2", every "/"
// written as "\". A missing value gives "\ImagePacks2".
common::Text ServerPackageFolder(const common::Text& registryValue);

// The full path of a row: folder + "\" + name (a folder ending in "\" gives a doubled
// separator, which the file system accepts). An empty folder gives an empty path, which every
// action below refuses: an emptied path box must not point the deletions at the root folder.
common::Text PackagePath(const common::Text& folder, const common::Text& name);

// The desktop folder with a final "\", then "\" + name; empty when there is no desktop folder.
common::Text DesktopPackagePath(const common::Text& desktopFolder, const common::Text& name);
// The same with the user's desktop folder.
common::Text DesktopPackagePath(const common::Text& name);

// What became of one package file that was to be deleted.
enum class DeleteOutcome {
  Deleted,      // removed now
  AlreadyGone,  // nothing of that name was there
  Failed,       // still there (in use, no permission, read-only folder, a folder of that name),
                // or no path at all
};

DeleteOutcome DeletePackageFile(const common::Text& path);

// Deletes folder\name for every name, in the order given; one outcome per name.
std::vector<DeleteOutcome> DeletePackageFiles(const common::Text& folder,
                                              const std::vector<common::Text>& names);

// A row goes when its file is no longer in the folder.
inline bool RowGoes(DeleteOutcome outcome) { return outcome != DeleteOutcome::Failed; }

// Copies a package onto the desktop, replacing a file of that name. True when the target is a
// complete copy afterwards. Copying a file onto itself leaves it as it is and succeeds.
bool CopyPackage(const common::Text& source, const common::Text& target);

struct MoveOutcome {
  bool placed = false;      // the target holds the package
  bool leftFolder = false;  // the source is no longer there
};

// Moves a package; when the plain move fails (the target exists, another drive), copies it
// replacing the target and deletes the source once the copy is complete. A source and target
// that are one and the same file are left alone (the package stays where it is).
MoveOutcome MovePackage(const common::Text& source, const common::Text& target);

// The paths of a drop: the text split on "\r\n".
std::vector<common::Text> SplitDroppedPaths(const common::Text& paths);

// A dropped path is taken when its last four bytes, lower-cased, are ".npk".
bool IsPackagePath(const common::Text& path);

// The part of a path after its last "\" (the whole path when it has none), case kept.
common::Text DroppedName(const common::Text& path);

// The row texts of a dropped package: the no-label text of a drop and the final message.
common::Text DroppedNoLabelText();  // "        未能分析文件" (eight spaces)
common::Text DropReportText(int added, int failed);  // "恭喜你！成功增加：N个,失败：M个"
common::Text NotPackageText();      // "非NPK文件无法加入,请再选择正确的文件！"
common::Text NotPackageCaption();   // "信息："

// Where a custom skin is kept: the run folder + "\皮肤图片\0.png".
common::Text StoredSkinPath();
// The file filter of the skin picture choice.
common::Text SkinPictureFilter();  // "图像文件JPG,PNG|*.jpg;*.png"

// Copies the chosen picture byte for byte to StoredSkinPath() (replacing it). True on success.
bool StoreSkinPicture(const common::Text& chosenPath);

}  // namespace velmora
