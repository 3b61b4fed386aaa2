#include "velmora/startup/start_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/fetch.h"
#include "common/release.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "ui/dialogs.h"
#include "velmora/cleanup/cleanup_window.h"
#include "velmora/script/script_window.h"
#include "velmora/startup/launcher_window.h"
#include "velmora/startup/version_gate.h"

namespace velmora {

using namespace common::literals;

namespace {
constexpr int kStartWidth = 291;
constexpr int kStartHeight = 274;
}  // namespace

struct StartUp::Parts {
  Options options;
  ui::SkinWindow* startWindow = nullptr;  // owned until destroyed
  std::unique_ptr<ui::Label> name;        // the start window's two lines
  std::unique_ptr<ui::Label> status;
  std::unique_ptr<LauncherWindow> launcher;
  common::Text remoteVersion;
  common::Text localVersion;
  bool ended = false;
  int exitCode = 0;

  void DestroyStartWindow() {
    name.reset();
    status.reset();
    delete startWindow;
    startWindow = nullptr;
  }
};

StartUp::StartUp() : StartUp(Options{}) {}

StartUp::StartUp(Options options) : parts_(std::make_unique<Parts>()) {
  parts_->options = std::move(options);
}

StartUp::~StartUp() {
  parts_->launcher.reset();
  parts_->DestroyStartWindow();
}

void StartUp::Run() {
  if (parts_->startWindow != nullptr || parts_->ended) return;
  parts_->startWindow = new ui::SkinWindow(kStartWidth, kStartHeight, 50, 50);
  parts_->startWindow->setWindowTitle(QStringLiteral("Velmora"));
  OnStartWindowCreated();
}

ui::SkinWindow* StartUp::StartWindow() const { return parts_->startWindow; }
LauncherWindow* StartUp::Launcher() const { return parts_->launcher.get(); }
const common::Text& StartUp::RemoteVersion() const { return parts_->remoteVersion; }
const common::Text& StartUp::LocalVersion() const { return parts_->localVersion; }
bool StartUp::Ended() const { return parts_->ended; }
int StartUp::ExitCode() const { return parts_->exitCode; }

void StartUp::OnStartWindowCreated() {
  ui::SkinWindow* window = parts_->startWindow;
  window->BindSkin(std::string(), ui::Rgb(0, 0, 0), ui::kCaptionClose);

  // The window has no content of its own; it names the program and what it is doing while the
  // release page is read.
  parts_->name = std::make_unique<ui::Label>(window, "Velmora"_gbk, 0, 96, kStartWidth, 40);
  parts_->name->SetFont("微软雅黑"_gbk, 26);
  parts_->name->SetTextColour(ui::Rgb(236, 242, 250));
  parts_->name->SetAlignment(Qt::AlignCenter);
  parts_->status = std::make_unique<ui::Label>(window, "正在检查新版本…"_gbk, 0, 142, kStartWidth, 24);
  parts_->status->SetTextColour(ui::Rgb(150, 170, 196));
  parts_->status->SetAlignment(Qt::AlignCenter);
  window->show();
  // Paint it before the page fetch holds the event loop.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

  parts_->launcher = std::make_unique<LauncherWindow>([this] { EndProgram(0); });
  CheckForUpdate();
}

void StartUp::CheckForUpdate() {
  const std::string page = common::FetchPage(common::ReleasePageUrl());
  parts_->remoteVersion = RemoteVersionOf(page);
  parts_->localVersion = ReadLocalVersion();

  if (DecideGate(parts_->localVersion, parts_->remoteVersion) == GateDecision::Update) {
    ui::MessageBox(parts_->startWindow, "已发现新版本,请立即下载！"_gbk, 0, "软件更新提示："_gbk);
    const common::Text runDirectory =
        parts_->options.runDirectory ? *parts_->options.runDirectory : platform::RunDirectory();
    platform::StartProgram(UpdaterCommandLine(runDirectory));
    EndProgram(0);
    return;
  }

  CleanupWindow* cleanup = CleanupWindow::Load();
  // With the launcher present, closing the cleanup window only hides it.
  if (cleanup != nullptr) cleanup->SetHideOnClose(true);
  parts_->DestroyStartWindow();
}

void StartUp::EndProgram(int exitCode) {
  if (parts_->ended) return;
  parts_->ended = true;
  parts_->exitCode = exitCode;

  // Every window closes. None is destroyed here: the call may come from inside a handler of
  // one of them (the launcher's menu, or a menu chosen while a scan lets events through).
  if (ScriptWindow* script = ScriptWindow::Current()) script->Window()->close();
  if (CleanupWindow* cleanup = CleanupWindow::Instance()) cleanup->Window()->hide();
  if (parts_->launcher) parts_->launcher->Window()->hide();
  if (parts_->startWindow != nullptr) parts_->startWindow->hide();
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->isVisible()) widget->hide();
    }
  }

  if (parts_->options.endProgram) {
    parts_->options.endProgram(exitCode);
    return;
  }
  // The program ends at once, wherever it is: a scan or a file action that let the event loop
  // run does not go on behind closed windows. Nothing of the program's state is kept on disk
  // half-written (files are replaced through temporary files and renames).
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

}  // namespace velmora
