// The setting of the cleanup window tests: a working folder holding the data folder 皮肤图片 (the
// build's pictures when there are some, and small name tables), a Wine prefix whose registry
// names a game folder on drive C:, a private desktop, and the offscreen application.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "tests/support/support.h"
#include "ui/dialogs.h"
#include "ui/skin.h"
#include "velmora/cleanup/cleanup_window.h"
#include "velmora/cleanup/tables.h"

namespace velmora::testing {

namespace fs = std::filesystem;

inline void EnsureApplication() {
  if (QApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "cleanup_test";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

// Runs the queued work (menu choices are posted, like menu commands).
inline void RunQueued() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

class CleanupFixture : public ::testing::Test {
 protected:
  // The game folder as the registry names it (UTF-8), and its native place.
  static constexpr const char* kGameFolder = "C:\\Games\\地下城";

  void SetUp() override {
    EnsureApplication();
    previous_ = fs::current_path();
    fs::current_path(work_.path());
    MakeDataFolder();
    fs::create_directories(Packages());
    prefix_.WriteRegistry({{"Software\\Tencent\\DNF", "Path", support::RegSz(kGameFolder)}});
    ui::PopupMenu::ClearLastOpened();
    // No real dialog may open in a test: every box is answered with its first button, every
    // chooser cancelled, unless the test answers otherwise.
    Answer([](const ui::testing::ShownDialog&) { return ui::testing::DialogAnswer{}; });
  }

  void TearDown() override {
    CleanupWindow::Unload();
    ui::testing::SetAnswerer(nullptr);
    ui::PopupMenu::ClearLastOpened();
    RunQueued();
    std::error_code error;
    fs::current_path(previous_, error);
  }

  // Answers every later dialog and forgets the ones shown so far.
  static void Answer(ui::testing::Answerer answerer) {
    ui::testing::SetAnswerer(std::move(answerer));
    ui::testing::ClearShown();
  }
  static const std::vector<ui::testing::ShownDialog>& Shown() { return ui::testing::Shown(); }

  fs::path Data() const { return work_.path() / "皮肤图片"; }
  fs::path Packages() const { return prefix_.driveC() / "Games" / "地下城" / "ImagePacks2"; }
  // The path box text the window starts with.
  static common::Text PackageFolderText() {
    return common::Utf8ToGbkText(std::string(kGameFolder) + "\\ImagePacks2");
  }

  // The build's pictures, cursor and version file, and two small tables: the official list
  // names official.npk and sprite.npk; the check table labels mod.npk.
  void MakeDataFolder() {
    fs::create_directories(Data());
    const fs::path built = fs::path(VELMORA_BIN_DIR) / "皮肤图片";
    std::error_code error;
    for (const char* file : {"0.png", "Tamsel启动.png", "01.cur", "版本.txt"}) {
      fs::copy_file(built / file, Data() / file, fs::copy_options::overwrite_existing, error);
    }
    if (!fs::exists(Data() / "版本.txt")) support::WriteFile(Data() / "版本.txt", "1.0");
    WriteTable("数据列表.sjk", {"official.npk", "SPRITE.NPK"});
    using namespace common::literals;
    WriteTable("数据核对.sjk", {"mod.npk@@@"_gbk + "测试模型"_gbk});
  }

  void WriteTable(const std::string& file, const std::vector<common::Text>& entries) {
    support::WriteFile(Data() / file, EncipherTable(TablePlainText(entries)));
  }

  void PutPackage(const std::string& name, const std::string& bytes = "npk") {
    support::WriteFile(Packages() / name, bytes);
  }

  // Loads the window. A game process of another test running at the same moment would make the
  // window refuse: wait for it to end and load again.
  CleanupWindow* LoadWindow() {
    for (int attempt = 0; attempt < 600; ++attempt) {
      if (!platform::IsProcessRunning("DNF.exe")) {
        if (CleanupWindow* window = CleanupWindow::Load()) return window;
        ui::testing::ClearShown();  // the refusal belongs to the other test's game
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the cleanup window did not load";
    return nullptr;
  }

  support::ScopedHome home_;
  support::WinePrefix prefix_;
  support::TempDir work_{"velmora-cleanup"};
  fs::path previous_;
};

}  // namespace velmora::testing
