// The launcher: Velmora's small, always present window with the mascot near the right edge of
// the screen. Its right-click menu "界面" shows the script window or the cleanup window and ends
// the program. Dragging it with the left button moves it.
#pragma once

#include <QPoint>
#include <QSize>
#include <functional>
#include <memory>

#include "common/text.h"
#include "ui/skin.h"

class QObject;

namespace velmora {

class LauncherWindow {
 public:
  static constexpr int kWidth = 98;
  static constexpr int kHeight = 49;

  // Loads the launcher (OnLauncherCreated) and shows it. `endProgram` ends the program with all
  // its windows; "退出所有程序" calls it.
  explicit LauncherWindow(std::function<void()> endProgram);
  ~LauncherWindow();
  LauncherWindow(const LauncherWindow&) = delete;
  LauncherWindow& operator=(const LauncherWindow&) = delete;

  // Where the launcher starts on a primary screen of this size: 200 pixels left of the right
  // edge, 850 pixels above the bottom edge (partly above the top on screens under 850 pixels).
  static QPoint PlaceOnScreen(QSize screen);

  ui::SkinWindow* Window() const;
  ui::PopupMenu* Menu() const;

  // Right mouse button pressed on the launcher: the menu "界面" opens at that screen position.
  void OnRightButtonPressed(QPoint screenPosition);

  // The three menu items.
  void ShowScriptWindow();
  void ShowCleanupWindow();
  void ExitAllPrograms();

 private:
  void OnLauncherCreated();

  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace velmora
