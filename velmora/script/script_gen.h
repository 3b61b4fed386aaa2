// The patch-script generator of the skill code editor.
//
// A texture folder holds one package folder per game package (named like the package file) and,
// inside each, one image folder per image. The generator writes the patch script that opens every
// package, launches every image and names the folder of its new textures. The text it writes is
// read by another tool, so every byte of it is fixed: the header, the spaces after each command,
// CR LF line ends and the trailing backslash of each TEX line.
//
// Nothing here touches a widget. The script window hands the generator three hooks: one that
// reads the folder box (asked again for every TEX line, as the window does), one that lets the
// window process its pending events, and one that shows the finished script.
#pragma once

#include <functional>
#include <vector>

#include "common/text.h"

namespace velmora {

using common::Text;

// Appends the name of every sub-folder of `folder` to `list`, in the order the directory listing
// gives them; "." and ".." are skipped, hidden folders count like any other, files never do. A
// "\" is added to the folder unless it ends in one, so an empty folder means the root folder. The
// list is not cleared first. A folder that cannot be listed adds nothing.
void ListSubfolders(const Text& folder, std::vector<Text>& list);

// The launch prefix of a package folder: every ".npk" removed wherever it stands and in any
// letter case, then every "_" made a "/". Both steps go character by character, so the second
// byte of a double-byte character never matches.
Text LaunchPrefix(const Text& packageName);

struct ScriptHooks {
  // The current folder text (the folder box). Empty hook: an empty folder text.
  std::function<Text()> folderText;
  // Called after every LAUNCH/TEX pair and after every package folder. Returning false stops the
  // generation at once (the window that asked for it is gone); the script is then not shown.
  std::function<bool()> pump;
  // Receives the whole script buffer once, when the generation has finished.
  std::function<void(const Text& script)> show;
};

// The generator with its program-wide state: the two working lists, the script buffer and the
// working texts of the package folder being processed. Each run overwrites the working texts;
// the image-folder list keeps the last package folder's entries afterwards.
class ScriptGenerator {
 public:
  ScriptGenerator() = default;
  explicit ScriptGenerator(ScriptHooks hooks) : hooks_(std::move(hooks)) {}

  void SetHooks(ScriptHooks hooks) { hooks_ = std::move(hooks); }

  std::vector<Text>& PackageFolders() { return packageFolders_; }
  std::vector<Text>& ImageFolders() { return imageFolders_; }
  Text& Buffer() { return buffer_; }
  const Text& Buffer() const { return buffer_; }

  // Appends the whole patch script for the package-folder list to the buffer, then hands the
  // buffer to the show hook. The caller clears the buffer and fills the package-folder list.
  // Returns false when the pump hook stopped it.
  bool GenerateScript();

  // Appends the LAUNCH and TEX pair of every entry of the image-folder list. Returns false when
  // the pump hook stopped it.
  bool AppendImageLines();

  // What "生成代码" does: clear the package-folder list and the buffer, read the folder text,
  // list that folder, generate. Returns false when the pump hook stopped it.
  bool Generate();

  // Working texts of the package folder processed last.
  const Text& PackageName() const { return packageName_; }
  const Text& PackagePath() const { return packagePath_; }
  const Text& CurrentLaunchPrefix() const { return launchPrefix_; }
  const Text& LaunchPath() const { return launchPath_; }
  const Text& ImageName() const { return imageName_; }

 private:
  Text FolderText() const;
  bool Pump() const;

  ScriptHooks hooks_;
  std::vector<Text> packageFolders_;
  std::vector<Text> imageFolders_;
  Text buffer_;
  Text packageName_;
  Text packagePath_;
  Text launchPrefix_;
  Text launchPath_;
  Text imageName_;
};

// The script for a folder text, generated GUI-free (what the command line prints).
Text GenerateScriptText(const Text& folder);

}  // namespace velmora
