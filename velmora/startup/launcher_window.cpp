#include "velmora/startup/launcher_window.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QObject>
#include <QScreen>
#include <optional>
#include <string>

#include "platform/files.h"
#include "velmora/cleanup/cleanup_window.h"
#include "velmora/script/script_window.h"

namespace velmora {

using namespace common::literals;

namespace {

// Mouse handling of the launcher window: a right press opens the menu, a left drag moves the
// window (it has no caption to drag by).
class LauncherMouse : public QObject {
 public:
  LauncherMouse(LauncherWindow* launcher, QWidget* window)
      : QObject(window), launcher_(launcher), window_(window) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != window_) return false;
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
          launcher_->OnRightButtonPressed(mouse->globalPosition().toPoint());
          return true;
        }
        if (mouse->button() == Qt::LeftButton) {
          dragOffset_ = mouse->globalPosition().toPoint() - window_->frameGeometry().topLeft();
          return true;
        }
        return false;
      }
      case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (dragOffset_ && (mouse->buttons() & Qt::LeftButton)) {
          window_->move(mouse->globalPosition().toPoint() - *dragOffset_);
          return true;
        }
        return false;
      }
      case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && dragOffset_) {
          dragOffset_.reset();
          return true;
        }
        return false;
      }
      default:
        return false;
    }
  }

 private:
  LauncherWindow* launcher_;
  QWidget* window_;
  std::optional<QPoint> dragOffset_;
};

}  // namespace

struct LauncherWindow::Parts {
  std::function<void()> endProgram;
  ui::SkinWindow* window = nullptr;  // owned; deleted in the destructor
  std::unique_ptr<ui::PopupMenu> menu;
};

LauncherWindow::LauncherWindow(std::function<void()> endProgram) : parts_(std::make_unique<Parts>()) {
  parts_->endProgram = std::move(endProgram);
  parts_->window = new ui::SkinWindow(kWidth, kHeight);
  parts_->window->setWindowTitle(QStringLiteral("Velmora"));
  OnLauncherCreated();
  parts_->window->show();
}

LauncherWindow::~LauncherWindow() {
  parts_->menu.reset();
  delete parts_->window;
}

QPoint LauncherWindow::PlaceOnScreen(QSize screen) {
  return QPoint(screen.width() - 200, screen.height() - 850);
}

ui::SkinWindow* LauncherWindow::Window() const { return parts_->window; }
ui::PopupMenu* LauncherWindow::Menu() const { return parts_->menu.get(); }

void LauncherWindow::OnLauncherCreated() {
  ui::SkinWindow* window = parts_->window;
  const std::string picture =
      platform::ReadFileBytes("皮肤图片\\Tamsel.png"_gbk).value_or(std::string());
  window->BindSkin(picture, ui::Rgb(255, 255, 255), 0);

  QSize screen(kWidth + 200, kHeight + 850);
  if (QScreen* primary = QGuiApplication::primaryScreen()) screen = primary->geometry().size();
  window->move(PlaceOnScreen(screen));

  window->SetCursorFromFile("皮肤图片\\01.cur"_gbk);
  window->installEventFilter(new LauncherMouse(this, window));

  parts_->menu = std::make_unique<ui::PopupMenu>("界面"_gbk);
  parts_->menu->AddItem("显示脚本界面"_gbk, [this] { ShowScriptWindow(); });
  parts_->menu->AddSeparator();
  parts_->menu->AddItem("显示清理界面"_gbk, [this] { ShowCleanupWindow(); });
  parts_->menu->AddSeparator();
  parts_->menu->AddItem("退出所有程序"_gbk, [this] { ExitAllPrograms(); });
}

void LauncherWindow::OnRightButtonPressed(QPoint screenPosition) {
  parts_->menu->Popup(screenPosition);
}

void LauncherWindow::ShowScriptWindow() { ScriptWindow::Open(); }

void LauncherWindow::ShowCleanupWindow() {
  // A cleanup window that destroyed itself at creation (the game ran) stays gone.
  CleanupWindow* cleanup = CleanupWindow::Instance();
  if (cleanup == nullptr) return;
  ui::SkinWindow* window = cleanup->Window();
  window->show();
  window->raise();
  window->activateWindow();
}

void LauncherWindow::ExitAllPrograms() {
  if (parts_->endProgram) parts_->endProgram();
}

}  // namespace velmora
