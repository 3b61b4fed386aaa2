// The skill code editor window: pick a texture folder, generate its patch script, copy or clear it.
#pragma once

#include <QString>
#include <array>
#include <memory>
#include <vector>

#include "common/text.h"
#include "ui/skin.h"
#include "velmora/script/script_gen.h"

namespace velmora {

class ScriptWindow {
 public:
  // Loads the window when it is not open (built afresh each time) and brings it to the front
  // when it is. Closing the window with its close button destroys it.
  static void Open();
  // The open window, or nullptr.
  static ScriptWindow* Current();

  ~ScriptWindow();
  ScriptWindow(const ScriptWindow&) = delete;
  ScriptWindow& operator=(const ScriptWindow&) = delete;

  ui::SkinWindow* Window() const { return window_; }
  ui::EditBox* FolderBox() const { return folderBox_.get(); }
  ui::TextView* ScriptView() const { return scriptView_.get(); }
  // 选择贴图路径, 生成代码, 复制代码, 清空代码.
  std::array<ui::Button*, 4> Buttons() const;
  // The script buffer and the two hidden lists.
  const Text& Buffer() const { return generator_.Buffer(); }
  const std::vector<Text>& PackageFolders() { return generator_.PackageFolders(); }
  const std::vector<Text>& ImageFolders() { return generator_.ImageFolders(); }
  bool IsGenerating() const { return generating_; }

  // The element-event callback: reacts to clicks (code 7) on the four buttons only.
  void OnScriptWindowEvent(int elementId, int eventCode);

 private:
  ScriptWindow();
  void OnScriptWindowCreated();
  bool OnScriptWindowCanClose();
  void ChooseTextureFolder();
  void GenerateCode();
  void CopyCode();
  void ClearCode();
  void DestroyWhenIdle();
  Text ReadFolderBox();

  ui::SkinWindow* window_ = nullptr;  // owned; deleted after its elements
  std::unique_ptr<ui::EditBox> folderBox_;
  std::unique_ptr<ui::TextView> scriptView_;
  std::array<std::unique_ptr<ui::Button>, 4> buttons_;
  ScriptGenerator generator_;
  QString folderTextShown_;  // the folder box's text when it was last read, and as GBK
  Text folderText_;
  bool folderTextValid_ = false;
  int serial_ = 0;
  int busy_ = 0;            // handlers running (a generation or a modal dialog)
  bool generating_ = false;
  bool closing_ = false;    // closed by the user; destroyed once no handler runs
  bool reopen_ = false;     // opened again while closing
};

}  // namespace velmora
