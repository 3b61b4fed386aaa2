#include "velmora/script/script_window.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QMetaObject>

#include "platform/files.h"
#include "ui/dialogs.h"

namespace velmora {

using namespace common::literals;

namespace {

// The hidden script buffer of the form; the script view covers it with a 3-pixel margin at the
// left and top.
constexpr int kBufferLeft = 12;
constexpr int kBufferTop = 65;
constexpr int kBufferWidth = 469;
constexpr int kBufferHeight = 389;

constexpr int kWindowWidth = 492;
constexpr int kWindowHeight = 497;
constexpr int kWindowSetting = 6;

enum ButtonIndex { kChooseButton = 0, kGenerateButton, kCopyButton, kClearButton };

ScriptWindow* g_current = nullptr;
int g_serial = 0;

}  // namespace

ScriptWindow* ScriptWindow::Current() {
  return g_current != nullptr && !g_current->closing_ ? g_current : nullptr;
}

void ScriptWindow::Open() {
  if (g_current != nullptr && !g_current->closing_) {
    g_current->window_->show();
    g_current->window_->raise();
    g_current->window_->activateWindow();
    return;
  }
  if (g_current != nullptr) {
    // Closed, but one of its handlers still runs: it opens the window anew when it is done.
    if (g_current->busy_ > 0) {
      g_current->reopen_ = true;
      return;
    }
    delete g_current;
  }
  g_current = new ScriptWindow();
  g_current->window_->show();
  g_current->window_->raise();
  g_current->window_->activateWindow();
}

ScriptWindow::ScriptWindow() : serial_(++g_serial) {
  window_ = new ui::SkinWindow(kWindowWidth, kWindowHeight);
  generator_.SetHooks(ScriptHooks{
      [this] { return ReadFolderBox(); },
      [this] {
        ui::PumpEvents();
        return !closing_;
      },
      [this](const Text& script) { scriptView_->SetText(script); },
  });
  OnScriptWindowCreated();
}

ScriptWindow::~ScriptWindow() {
  if (g_current == this) g_current = nullptr;
  for (auto& button : buttons_) button.reset();
  scriptView_.reset();
  folderBox_.reset();
  delete window_;
}

void ScriptWindow::OnScriptWindowCreated() {
  const std::string skin = platform::ReadFileBytes("皮肤图片\\0.png"_gbk).value_or(std::string());
  window_->BindSkin(skin, std::nullopt, ui::kCaptionTitle | ui::kCaptionClose,
                    /*sizingBorder=*/false);
  window_->SetCaptionTip(ui::kCaptionClose, "关闭"_gbk);
  window_->SetWindowSetting(kWindowSetting);
  window_->SetEventCallback(
      [this](int elementId, int eventCode) { OnScriptWindowEvent(elementId, eventCode); });
  window_->SetCanCloseHandler([this] { return OnScriptWindowCanClose(); });

  folderBox_ = std::make_unique<ui::EditBox>(window_, Text(), 9, 33, 375, 24);
  folderBox_->SetBorderStyle(4);

  scriptView_ = std::make_unique<ui::TextView>(window_, kBufferLeft - 3, kBufferTop - 3,
                                               kBufferWidth + 5, kBufferHeight + 3);
  scriptView_->SetTextColour(ui::Rgb(128, 128, 128));
  scriptView_->SetGradient(ui::Rgba(255, 255, 255, 140), ui::Rgba(255, 255, 255, 140));
  scriptView_->SetFont("微软雅黑"_gbk, 12);
  scriptView_->SetWrap(true);
  scriptView_->SetBorderStyle(4);

  struct ButtonPlace {
    const char* text;
    int x, y, width, height;
  };
  static const ButtonPlace kPlaces[4] = {
      {"选择贴图路径", 389, 33, 92, 22},
      {"生成代码", 41, 460, 104, 22},
      {"复制代码", 186, 460, 104, 22},
      {"清空代码", 336, 460, 104, 22},
  };
  for (int i = 0; i < 4; ++i) {
    const ButtonPlace& place = kPlaces[i];
    buttons_[i] = std::make_unique<ui::Button>(window_, common::Utf8ToGbkText(place.text), place.x,
                                               place.y, place.width, place.height);
    buttons_[i]->SetTextColour(ui::Rgb(0, 0, 255));
  }

  window_->SetTitle(" Quorvelv1.1");
}

std::array<ui::Button*, 4> ScriptWindow::Buttons() const {
  return {buttons_[0].get(), buttons_[1].get(), buttons_[2].get(), buttons_[3].get()};
}

void ScriptWindow::OnScriptWindowEvent(int elementId, int eventCode) {
  if (eventCode != ui::kEventClick || closing_) return;
  int index = -1;
  for (int i = 0; i < 4; ++i) {
    if (buttons_[i] && buttons_[i]->Id() == elementId) {
      index = i;
      break;
    }
  }
  if (index < 0) return;
  ++busy_;
  switch (index) {
    case kChooseButton: ChooseTextureFolder(); break;
    case kGenerateButton: GenerateCode(); break;
    case kCopyButton: CopyCode(); break;
    case kClearButton: ClearCode(); break;
  }
  --busy_;
  if (closing_ && busy_ == 0) DestroyWhenIdle();
}

void ScriptWindow::ChooseTextureFolder() {
  // A cancelled chooser gives an empty text, which empties the folder box.
  folderBox_->SetText(ui::ChooseFolder(window_, "请选择贴图文件夹！"_gbk));
}

void ScriptWindow::GenerateCode() {
  // The generator lets the window handle its events; its own buttons stay off meanwhile, so that
  // no click starts, copies or clears a half-written script.
  for (auto& button : buttons_) button->SetEnabled(false);
  generating_ = true;
  generator_.Generate();
  generating_ = false;
  if (!closing_) {
    for (auto& button : buttons_) button->SetEnabled(true);
  }
}

void ScriptWindow::CopyCode() {
  // The message follows whether or not the clipboard took the text.
  ui::SetClipboardText(generator_.Buffer());
  ui::MessageBox(window_, "复制代码成功！"_gbk, 0, "恭喜！"_gbk);
}

void ScriptWindow::ClearCode() {
  generator_.Buffer().clear();
  scriptView_->SetText(Text());
}

Text ScriptWindow::ReadFolderBox() {
  // Read for every TEX line: convert the box's text only when it has changed since last time.
  if (auto* edit = qobject_cast<QLineEdit*>(folderBox_->Widget())) {
    const QString text = edit->text();
    if (!folderTextValid_ || text != folderTextShown_) {
      folderTextShown_ = text;
      folderText_ = folderBox_->GetText();
      folderTextValid_ = true;
    }
    return folderText_;
  }
  return folderBox_->GetText();
}

bool ScriptWindow::OnScriptWindowCanClose() {
  closing_ = true;
  if (busy_ == 0) DestroyWhenIdle();
  return true;
}

void ScriptWindow::DestroyWhenIdle() {
  // Destroyed from the event loop, never inside one of its own handlers.
  const int serial = serial_;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [serial] {
        ScriptWindow* window = g_current;
        if (window == nullptr || window->serial_ != serial || !window->closing_ ||
            window->busy_ > 0) {
          return;
        }
        const bool reopen = window->reopen_;
        delete window;
        if (reopen) Open();
      },
      Qt::QueuedConnection);
}

}  // namespace velmora
