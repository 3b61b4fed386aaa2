// What the start-up window tests share: one QApplication for the test binary, and a fixture that
// runs Velmora's start-up in a private working folder (its own data folder, Wine prefix, home and
// run directory) against a release page served on loopback, with every dialog answered and the
// end of the program intercepted.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>
#include <chrono>
#include <functional>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "tests/support/http_server.h"
#include "tests/support/qt_environment.h"
#include "tests/support/support.h"
#include "ui/dialogs.h"
#include "ui/skin.h"
#include "velmora/cleanup/cleanup_window.h"
#include "velmora/script/script_window.h"
#include "velmora/startup/launcher_window.h"
#include "velmora/startup/start_window.h"

namespace startup_test {

using namespace common::literals;

inline ::testing::Environment* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(
    new test_support::QtEnvironment([] { velmora::CleanupWindow::Unload(); }));

using test_support::Settle;
using test_support::WaitFor;

inline std::vector<QWidget*> VisibleTopLevels() {
  std::vector<QWidget*> visible;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible()) visible.push_back(widget);
  }
  return visible;
}

// The version page as a blog host serves it: GBK bytes, no charset named.
inline std::string PageResponse(const std::string& body,
                                const std::string& contentType = "text/html") {
  return test_support::HttpServer::Response("HTTP/1.1 200 OK", {"Content-Type: " + contentType},
                                            body);
}

class StartUpFixture : public ::testing::Test {
 protected:
  // The data folder of the build holds the pictures and the tables; the version file is the
  // test's own.
  void SetUp() override {
    previousDir_ = std::filesystem::current_path();
    const std::filesystem::path built = std::filesystem::path(VELMORA_BIN_DIR) / "皮肤图片";
    std::error_code error;
    std::filesystem::create_directories(dataDir(), error);
    for (const auto& entry : std::filesystem::directory_iterator(built, error)) {
      if (!entry.is_regular_file() || entry.path().filename() == "版本.txt") continue;
      std::filesystem::copy_file(entry.path(), dataDir() / entry.path().filename(), error);
    }
    std::filesystem::current_path(work_.path());
    // Another test binary may briefly run a process named like the game; the cleanup window
    // would refuse to open while it runs.
    WaitFor([] { return !platform::IsProcessRunning("DNF.exe"); }, 60);
    velmora::CleanupWindow::Unload();
    ui::PopupMenu::ClearLastOpened();
  }

  void TearDown() override {
    if (velmora::ScriptWindow* script = velmora::ScriptWindow::Current()) script->Window()->close();
    Settle();
    velmora::CleanupWindow::Unload();
    startUp_.reset();
    Settle();
    ui::PopupMenu::ClearLastOpened();
    std::filesystem::current_path(previousDir_);
  }

  std::filesystem::path dataDir() const { return work_.path() / "皮肤图片"; }

  void WriteLocalVersion(const std::string& bytes) {
    support::WriteFile(dataDir() / "版本.txt", bytes);
  }

  // Serves the page as the release page.
  void ServePage(const std::string& response) {
    ASSERT_TRUE(server_.Running());
    server_.Answer("/release", response);
    releaseUrl_.emplace("VELMORA_RELEASE_URL", server_.Url("/release"));
  }
  // A release page address on which nothing listens.
  void NoNetwork() {
    releaseUrl_.emplace("VELMORA_RELEASE_URL",
                        "http://127.0.0.1:" + std::to_string(test_support::UnusedPort()) + "/release");
  }

  // A stand-in for UpDate in the run directory that leaves a marker file when it runs.
  void InstallUpdater(const std::string& fileName) {
    const std::filesystem::path script = runDir_.path() / fileName;
    support::WriteFile(script, "#!/bin/sh\necho ran > '" + marker().string() + "'\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  }
  std::filesystem::path marker() const { return runDir_.path() / "updater-ran"; }

  // Runs the start-up; every dialog is answered with its first button.
  void RunStartUp() {
    velmora::StartUp::Options options;
    options.runDirectory = runDir_.Text();
    options.endProgram = [this](int code) { endCodes_.push_back(code); };
    startUp_ = std::make_unique<velmora::StartUp>(options);
    startUp_->Run();
    Settle();
  }

  std::vector<ui::testing::ShownDialog> MessagesWithText(const common::Text& text) const {
    std::vector<ui::testing::ShownDialog> found;
    for (const auto& shown : ui::testing::Shown()) {
      if (shown.kind == ui::testing::DialogKind::MessageBox && shown.text == text) found.push_back(shown);
    }
    return found;
  }

  support::ScopedHome home_;
  support::WinePrefix prefix_;
  support::TempDir work_{"velmora-start"};
  support::TempDir runDir_{"velmora-run"};
  test_support::HttpServer server_;
  std::optional<support::ScopedEnv> releaseUrl_;
  std::filesystem::path previousDir_;
  std::vector<int> endCodes_;
  std::unique_ptr<velmora::StartUp> startUp_;
  QWidget* messageOwner_ = nullptr;        // owner of the first message box
  bool startWindowShownAtMessage_ = false;  // the start window was on screen meanwhile
  QWidget* startWindowAtMessage_ = nullptr;
  bool launcherShownAtMessage_ = false;     // the launcher was on screen meanwhile
  std::function<void()> onFirstMessage_;    // runs while the first message box is up
  ui::testing::ScopedAnswerer answerer_{[this](const ui::testing::ShownDialog& shown) {
    if (shown.kind == ui::testing::DialogKind::MessageBox && messageOwner_ == nullptr) {
      messageOwner_ = shown.owner;
      startWindowShownAtMessage_ = startUp_ && startUp_->StartWindow() != nullptr &&
                                   startUp_->StartWindow()->isVisible();
      startWindowAtMessage_ = startUp_ ? startUp_->StartWindow() : nullptr;
      launcherShownAtMessage_ = startUp_ && startUp_->Launcher() != nullptr &&
                                startUp_->Launcher()->Window()->isVisible();
      if (onFirstMessage_) onFirstMessage_();
    }
    return ui::testing::DialogAnswer{};
  }};
};

}  // namespace startup_test
