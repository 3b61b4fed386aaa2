// Velmora's main window: the package list of the game's ImagePacks2 folder, the two scans, the
// file actions of the list's menus, dropped packages, the skin change and the About box.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "ui/skin.h"
#include "velmora/cleanup/scan.h"
#include "velmora/cleanup/tables.h"

namespace velmora {

class CleanupWindow {
 public:
  // Loads the window: builds it (OnCleanupWindowCreated), shows it and loads the name tables.
  // When the game runs, the window says so and destroys itself; Load then returns nullptr and
  // Instance() stays null. A second Load gives the window already loaded.
  static CleanupWindow* Load();
  static CleanupWindow* Instance();
  // Destroys the loaded window, if any (at the end of the program, and between tests).
  static void Unload();

  ~CleanupWindow();
  CleanupWindow(const CleanupWindow&) = delete;
  CleanupWindow& operator=(const CleanupWindow&) = delete;

  ui::SkinWindow* Window();
  ui::List* PackageList();
  ui::EditBox* PathBox();
  ui::ProgressBar* ScanProgress();
  ui::Button* BrowseButton();
  ui::Button* ContactButton();
  ui::Button* PackageScanButton();
  ui::Button* CrossServerButton();
  ui::Picture* Mascot();
  ui::PopupMenu* FileMenu();
  ui::PopupMenu* PathMenu();
  ui::PopupMenu* SkinMenu();
  ui::PopupMenu* MainMenu();
  const NameTables& Tables() const;

  // The two scans; each reads the path box when it runs.
  void PackageScan();
  void CrossServerScan();

  void OnCleanupWindowEvent(int element, int code);
  void OnPackageListRightClick();

  // The file menu.
  void CopyPackageName();
  void CopyPackageToDesktop();
  void MovePackageToDesktop();
  void ClearPackageList();
  void DeleteSelectedPackages();
  void DeleteAllPackages();

  // The path menu and dropped files.
  void SelectLiveServerFolder();
  void SelectTestServerFolder();
  void OnFilesDropped(const common::Text& paths);

  // The skin menu and the main menu.
  void OnCustomSkin();
  void OnAbout();

  // Closing ends the program by default (the last window closes); with hide set, closing only
  // hides the window, which the launcher shows again.
  void SetHideOnClose(bool hide);
  bool HidesOnClose() const;

  // True while a scan or a drop runs: the scan buttons, the file menu and drops wait meanwhile.
  bool Busy() const;

  // The contact address the contact button opens.
  static common::Text ContactAddress();
  // The three lines of the About box.
  static common::Text AboutText();
  // The title of the browse button's folder chooser.
  static common::Text BrowseTitle();

 private:
  CleanupWindow();
  // Builds the window in the order of its created event; false when the game runs and the
  // window has been destroyed.
  bool OnCleanupWindowCreated();
  void BuildMenus();
  void SetBusy(bool busy);
  void ShowRows(const std::vector<PackageRow>& rows);
  void DeleteRows(bool selectedOnly);
  void PopupAtCursor(ui::PopupMenu* menu);

  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace velmora
