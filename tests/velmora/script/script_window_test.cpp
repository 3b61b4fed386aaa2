// The script window offscreen: what the user sees and gets after each button.

#include "velmora/script/script_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "tests/support/qt_environment.h"
#include "tests/support/support.h"
#include "ui/dialogs.h"
#include "ui/skin.h"
#include "velmora/script/script_gen.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace common::literals;
using ui::testing::DialogAnswer;
using ui::testing::DialogKind;
using ui::testing::ShownDialog;

::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new test_support::QtEnvironment);

using test_support::Settle;

enum { kChoose = 0, kGenerate, kCopy, kClear };

// A working folder with the build's skin picture, a drive D: holding texture folders, and the
// script window open on it.
class ScriptWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDir_ = fs::current_path();
    std::error_code error;
    fs::create_directories(work_ / "皮肤图片");
    fs::copy_file(fs::path(VELMORA_BIN_DIR) / "皮肤图片" / "0.png", work_ / "皮肤图片" / "0.png",
                  error);
    fs::current_path(work_.path());
    prefix_.MapDrive('d', drive_.path());
    ScriptWindow::Open();
    window_ = ScriptWindow::Current();
    ASSERT_NE(window_, nullptr);
  }

  void TearDown() override {
    if (ScriptWindow* open = ScriptWindow::Current()) open->Window()->close();
    Settle();
    fs::current_path(previousDir_);
  }

  void MakeFolder(const std::string& relative) { fs::create_directories(drive_ / relative); }
  ui::Button* ButtonAt(int index) { return window_->Buttons()[index]; }
  void Click(int index) { ButtonAt(index)->Click(); }

  // A texture folder with Chinese names, three packages and a few images.
  void MakeTextureFolder() {
    MakeFolder("贴图/sprite_character_gunner_effect.NPK/shot0000.img");
    MakeFolder("贴图/sprite_character_gunner_effect.NPK/shot0001.img");
    MakeFolder("贴图/sprite_map_乢乗.NPK/背景_0.img");
    MakeFolder("贴图/empty_package.npk");
    support::WriteFile(drive_ / "贴图" / "说明.txt", "not a package");
  }

  support::TempDir work_{"velmora-script-window"};
  support::WinePrefix prefix_;
  support::TempDir drive_{"velmora-script-d"};
  ScriptWindow* window_ = nullptr;
  fs::path previousDir_;
};

TEST_F(ScriptWindowTest, BuiltAsLaidOut) {
  ui::SkinWindow* window = window_->Window();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->size(), QSize(492, 497));
  EXPECT_TRUE(window->HasSkinPicture());
  EXPECT_EQ(window->CaptionFlags(), 6);
  EXPECT_EQ(window->CaptionTip(ui::kCaptionClose), "关闭"_gbk);
  EXPECT_EQ(window->WindowSetting(), 6);
  EXPECT_EQ(window->Title(), " Quorvelv1.1");

  ui::EditBox* folderBox = window_->FolderBox();
  EXPECT_EQ(folderBox->Geometry(), QRect(9, 33, 375, 24));
  EXPECT_EQ(folderBox->GetText(), "");
  EXPECT_EQ(folderBox->BorderStyle(), 4);

  ui::TextView* view = window_->ScriptView();
  EXPECT_EQ(view->Geometry(), QRect(9, 62, 474, 392));
  EXPECT_EQ(view->GetText(), "");
  EXPECT_EQ(view->TextColour(), ui::Rgb(128, 128, 128));
  EXPECT_EQ(view->FontFamily(), "微软雅黑"_gbk);
  EXPECT_TRUE(view->Wraps());
  // Read-only: a key typed into it changes nothing.
  QKeyEvent typed(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
  for (QWidget* part : view->Widget()->findChildren<QWidget*>()) {
    QApplication::sendEvent(part, &typed);
  }
  EXPECT_EQ(view->GetText(), "");

  struct Expected {
    const char* text;
    QRect place;
  } const buttons[] = {
      {"选择贴图路径", QRect(389, 33, 92, 22)},
      {"生成代码", QRect(41, 460, 104, 22)},
      {"复制代码", QRect(186, 460, 104, 22)},
      {"清空代码", QRect(336, 460, 104, 22)},
  };
  int previousId = view->Id();
  EXPECT_LT(folderBox->Id(), view->Id());
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(buttons[i].text);
    ui::Button* button = ButtonAt(i);
    EXPECT_EQ(button->GetText(), common::Utf8ToGbkText(buttons[i].text));
    EXPECT_EQ(button->Geometry(), buttons[i].place);
    EXPECT_EQ(button->TextColour(), ui::Rgb(0, 0, 255));
    EXPECT_TRUE(button->IsEnabled());
    EXPECT_GT(button->Id(), previousId);  // created in the order of the layout
    previousId = button->Id();
  }
}

TEST_F(ScriptWindowTest, FolderChooserFillsOrEmptiesTheFolderBox) {
  struct Case {
    const char* what;
    std::optional<common::Text> answer;
    common::Text folderBox;
  } const cases[] = {
      {"chosen folder", "D:\\贴图"_gbk, "D:\\贴图"_gbk},
      {"drive root", "D:\\", "D:\\"},
      {"cancelled", std::nullopt, ""},
      {"no file-system path", common::Text(), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    window_->FolderBox()->SetText("D:\\before");
    ui::testing::ScopedAnswerer answerer(
        [&c](const ShownDialog&) { return DialogAnswer{0, c.answer}; });
    Click(kChoose);
    EXPECT_EQ(window_->FolderBox()->GetText(), c.folderBox);
    ASSERT_EQ(ui::testing::Shown().size(), 1u);
    const ShownDialog& shown = ui::testing::Shown().front();
    EXPECT_EQ(shown.kind, DialogKind::FolderChooser);
    EXPECT_EQ(shown.title, "请选择贴图文件夹！"_gbk);
    EXPECT_EQ(shown.owner, window_->Window());
  }
}

TEST_F(ScriptWindowTest, GenerateShowsTheScriptOfTheFolderBoxOnce) {
  MakeTextureFolder();
  const common::Text folder = "D:\\贴图"_gbk;
  window_->FolderBox()->SetText(folder);
  Click(kGenerate);
  const common::Text expected = GenerateScriptText(folder);
  ASSERT_NE(expected.find("LAUNCH  sprite/map/乢乗/背景_0.img\r\n"_gbk), std::string::npos);
  EXPECT_EQ(window_->Buffer(), expected);
  EXPECT_EQ(window_->ScriptView()->GetText(), expected);

  // A second press gives the same script, not the script twice.
  Click(kGenerate);
  EXPECT_EQ(window_->Buffer(), expected);
  EXPECT_EQ(window_->ScriptView()->GetText(), expected);
  EXPECT_EQ(window_->PackageFolders().size(), 3u);
  for (ui::Button* button : window_->Buttons()) EXPECT_TRUE(button->IsEnabled());
}

TEST_F(ScriptWindowTest, TypedFolderIsUsedLikeAChosenOne) {
  MakeFolder("tex/abc_def/x.img");
  window_->FolderBox()->SetText("d:\\TEX");
  Click(kGenerate);
  EXPECT_TRUE(common::EndsWith(window_->Buffer(),
                               "OPEN   ImagePacks2\\abc_def\r\nLAUNCH  abc/def/x.img\r\n"
                               "TEX     N|ALL|32|d:\\TEX\\abc_def\\x.img\\\r\nCLOSE\r\n\r\n"))
      << window_->Buffer();
}

TEST_F(ScriptWindowTest, WhileGeneratingTheButtonsAreOffAndTheViewKeepsItsOldText) {
  MakeTextureFolder();
  window_->FolderBox()->SetText("D:\\贴图"_gbk);
  Click(kGenerate);
  const common::Text script = window_->Buffer();

  // Start from an old script of another folder, then generate again; a timer looks at the
  // window from inside the generator's first event pump and tries every button.
  MakeFolder("other/p.npk/i.img");
  window_->FolderBox()->SetText("D:\\other");
  Click(kGenerate);
  const common::Text oldScript = window_->Buffer();
  window_->FolderBox()->SetText("D:\\贴图"_gbk);

  bool looked = false;
  std::vector<bool> enabled;
  common::Text viewDuring;
  QTimer::singleShot(0, [&] {
    looked = true;
    for (ui::Button* button : window_->Buttons()) enabled.push_back(button->IsEnabled());
    viewDuring = window_->ScriptView()->GetText();
    for (int i = 0; i < 4; ++i) Click(i);  // ignored: no nested run, copy or clear
  });
  ui::testing::ScopedAnswerer answerer([](const ShownDialog&) { return DialogAnswer{}; });
  // The pump lets events through at most every 15 ms; let that time pass first.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Click(kGenerate);
  Settle();
  ASSERT_TRUE(looked);
  EXPECT_EQ(enabled, std::vector<bool>(4, false));
  EXPECT_EQ(viewDuring, oldScript);
  EXPECT_TRUE(ui::testing::Shown().empty());
  EXPECT_EQ(window_->Buffer(), script);
  EXPECT_EQ(window_->ScriptView()->GetText(), script);
  for (ui::Button* button : window_->Buttons()) EXPECT_TRUE(button->IsEnabled());
}

TEST_F(ScriptWindowTest, TextTypedDuringAGenerationReachesTheLaterTexLines) {
  MakeFolder("tex/p.npk/one.img");
  MakeFolder("tex/p.npk/two.img");
  window_->FolderBox()->SetText("D:\\tex");
  QTimer::singleShot(0, [&] { window_->FolderBox()->SetText("E:\\贴图"_gbk); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Click(kGenerate);
  const common::Text& script = window_->Buffer();
  // The package folder was listed under D:, the first image's TEX line was written before the
  // typing, the second one after it.
  EXPECT_NE(script.find("OPEN   ImagePacks2\\p.npk\r\n"), std::string::npos) << script;
  EXPECT_NE(script.find("N|ALL|32|D:\\tex\\p.npk\\"), std::string::npos) << script;
  EXPECT_NE(script.find("N|ALL|32|E:\\贴图\\p.npk\\"_gbk), std::string::npos) << script;
}

TEST_F(ScriptWindowTest, CopyPutsTheBufferOnTheClipboardAndAlwaysSaysSo) {
  ui::testing::ScopedAnswerer answerer([](const ShownDialog&) { return DialogAnswer{}; });
  const bool clipboard = ui::SetClipboardText("stale text");

  // Before any generation: an empty text, and still the message.
  Click(kCopy);
  ASSERT_EQ(ui::testing::Shown().size(), 1u);
  const ShownDialog& shown = ui::testing::Shown().front();
  EXPECT_EQ(shown.kind, DialogKind::MessageBox);
  EXPECT_EQ(shown.text, "复制代码成功！"_gbk);
  EXPECT_EQ(shown.title, "恭喜！"_gbk);
  EXPECT_EQ(shown.buttonSet, 0);
  EXPECT_EQ(shown.owner, window_->Window());
  if (clipboard) {
    EXPECT_EQ(ui::ClipboardText(), "");
  }

  MakeTextureFolder();
  window_->FolderBox()->SetText("D:\\贴图"_gbk);
  Click(kGenerate);
  ui::testing::ClearShown();
  Click(kCopy);
  EXPECT_EQ(ui::testing::Shown().size(), 1u);
  if (!clipboard) GTEST_SKIP() << "no clipboard on this platform";
  EXPECT_EQ(ui::ClipboardText(), window_->Buffer());
}

TEST_F(ScriptWindowTest, ClearEmptiesTheScriptAndKeepsTheFolder) {
  MakeTextureFolder();
  window_->FolderBox()->SetText("D:\\贴图"_gbk);
  Click(kGenerate);
  const common::Text script = window_->Buffer();
  const std::vector<common::Text> packages = window_->PackageFolders();
  const std::vector<common::Text> images = window_->ImageFolders();

  Click(kClear);
  EXPECT_EQ(window_->Buffer(), "");
  EXPECT_EQ(window_->ScriptView()->GetText(), "");
  EXPECT_EQ(window_->FolderBox()->GetText(), "D:\\贴图"_gbk);
  EXPECT_EQ(window_->PackageFolders(), packages);
  EXPECT_EQ(window_->ImageFolders(), images);

  ui::testing::ScopedAnswerer answerer([](const ShownDialog&) { return DialogAnswer{}; });
  if (ui::SetClipboardText("stale text")) {
    Click(kCopy);
    EXPECT_EQ(ui::ClipboardText(), "");
  }
  Click(kGenerate);
  EXPECT_EQ(window_->Buffer(), script);
}

TEST_F(ScriptWindowTest, OtherEventsChangeNothing) {
  MakeTextureFolder();
  window_->FolderBox()->SetText("D:\\贴图"_gbk);
  Click(kGenerate);
  const common::Text script = window_->Buffer();
  window_->FolderBox()->SetText("D:\\elsewhere");  // a generation now would give the header only

  ui::testing::ScopedAnswerer answerer([](const ShownDialog&) {
    return DialogAnswer{0, common::Text("D:\\chosen")};
  });
  ui::SkinWindow* window = window_->Window();
  struct Case {
    const char* what;
    int id;
    int code;
  } const cases[] = {
      {"caption press on 生成代码", ButtonAt(kGenerate)->Id(), ui::kEventCaptionPress},
      {"code 0 on 清空代码", ButtonAt(kClear)->Id(), 0},
      {"code 8 on 选择贴图路径", ButtonAt(kChoose)->Id(), 8},
      {"code 6 on 复制代码", ButtonAt(kCopy)->Id(), 6},
      {"click on the folder box", window_->FolderBox()->Id(), ui::kEventClick},
      {"click on the script view", window_->ScriptView()->Id(), ui::kEventClick},
      {"click on the close button", window->CaptionButtonId(ui::kCaptionClose), ui::kEventClick},
      {"click on an unknown id", 424242, ui::kEventClick},
      {"click on id 0", 0, ui::kEventClick},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    window->ReportEvent(c.id, c.code);
    Settle();
    EXPECT_EQ(ScriptWindow::Current(), window_);
    EXPECT_EQ(window_->Buffer(), script);
    EXPECT_EQ(window_->ScriptView()->GetText(), script);
    EXPECT_EQ(window_->FolderBox()->GetText(), "D:\\elsewhere");
    EXPECT_TRUE(ui::testing::Shown().empty());
  }
}

TEST_F(ScriptWindowTest, OpenBringsTheOpenWindowForwardAndClosingDestroysIt) {
  window_->FolderBox()->SetText("D:\\kept while open");
  ScriptWindow::Open();
  EXPECT_EQ(ScriptWindow::Current(), window_);
  EXPECT_EQ(window_->FolderBox()->GetText(), "D:\\kept while open");

  QPointer<ui::SkinWindow> closed = window_->Window();
  closed->PressCaptionButton(ui::kCaptionClose);
  EXPECT_EQ(ScriptWindow::Current(), nullptr);
  Settle();
  EXPECT_TRUE(closed.isNull());

  ScriptWindow::Open();
  ScriptWindow* fresh = ScriptWindow::Current();
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(fresh->Window()->isVisible());
  EXPECT_EQ(fresh->FolderBox()->GetText(), "");
  EXPECT_EQ(fresh->Buffer(), "");
  EXPECT_TRUE(fresh->Window()->HasSkinPicture());

  // Closed and opened again before the event loop ran: a new window all the same.
  QPointer<ui::SkinWindow> second = fresh->Window();
  second->close();
  ScriptWindow::Open();
  ASSERT_NE(ScriptWindow::Current(), nullptr);
  EXPECT_TRUE(second.isNull());
  EXPECT_TRUE(ScriptWindow::Current()->Window()->isVisible());
}

TEST_F(ScriptWindowTest, ClosingDuringAGenerationStopsItAndOpenGivesANewWindow) {
  for (int p = 0; p < 3; ++p) {
    for (int i = 0; i < 5; ++i) {
      MakeFolder("tex/p" + std::to_string(p) + ".npk/i" + std::to_string(i) + ".img");
    }
  }
  window_->FolderBox()->SetText("D:\\tex");
  QPointer<ui::SkinWindow> closed = window_->Window();
  bool looked = false;
  QTimer::singleShot(0, [&] {
    looked = true;
    closed->PressCaptionButton(ui::kCaptionClose);
    ScriptWindow::Open();  // from the launcher, while the old one is still inside its handler
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Click(kGenerate);
  Settle();
  ASSERT_TRUE(looked);
  EXPECT_TRUE(closed.isNull());
  ScriptWindow* fresh = ScriptWindow::Current();
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(fresh->Window()->isVisible());
  EXPECT_EQ(fresh->Buffer(), "");
  EXPECT_EQ(fresh->FolderBox()->GetText(), "");
}

TEST_F(ScriptWindowTest, Screenshot) {
  MakeTextureFolder();
  for (int i = 0; i < 40; ++i) {
    MakeFolder("贴图/sprite_interface_newstyle_windows.NPK/button" + std::to_string(1000 + i) +
               ".img");
  }
  window_->FolderBox()->SetText("D:\\贴图"_gbk);
  Click(kGenerate);
  Settle();
  const QImage shot = window_->Window()->grab().toImage();
  const fs::path out = fs::path(VELMORA_BIN_DIR).parent_path() / "script_window.png";
  EXPECT_TRUE(shot.save(QString::fromStdString(out.string())));
}

}  // namespace
}  // namespace velmora
