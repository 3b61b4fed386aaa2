// The cleanup window as the player sees it: layout, caption, path box, the game check, the
// menus of the package list, the buttons and the two scans.
#include "velmora/cleanup/cleanup_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <algorithm>
#include <tuple>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/velmora/cleanup/cleanup_fixture.h"
#include "ui/dialogs.h"
#include "ui/skin.h"

namespace velmora {
namespace {

using common::Text;
using namespace common::literals;
using testing::CleanupFixture;
using testing::RunQueued;
using ui::testing::DialogAnswer;
using ui::testing::DialogKind;
using ui::testing::ShownDialog;

constexpr ui::Colour kTheme = 0xFFFFFFFFu;  // in the table: "the window's theme colour"
constexpr ui::Colour kAny = 0xFFFFFFFEu;    // in the table: no colour to check

class CleanupWindowTest : public CleanupFixture {};

enum class Kind { List, Button, EditBox, Picture, Progress };

bool IsKind(ui::Element* element, Kind kind) {
  switch (kind) {
    case Kind::List: return dynamic_cast<ui::List*>(element) != nullptr;
    case Kind::Button: return dynamic_cast<ui::Button*>(element) != nullptr;
    case Kind::EditBox: return dynamic_cast<ui::EditBox*>(element) != nullptr;
    case Kind::Picture: return dynamic_cast<ui::Picture*>(element) != nullptr;
    case Kind::Progress: return dynamic_cast<ui::ProgressBar*>(element) != nullptr;
  }
  return false;
}

ui::Colour ColourOf(ui::Element* element) {
  if (auto* button = dynamic_cast<ui::Button*>(element)) return button->TextColour();
  if (auto* box = dynamic_cast<ui::EditBox*>(element)) return box->TextColour();
  return kAny;
}

Text TextOf(ui::Element* element) {
  if (auto* button = dynamic_cast<ui::Button*>(element)) return button->GetText();
  if (auto* box = dynamic_cast<ui::EditBox*>(element)) return box->GetText();
  return {};
}

TEST_F(CleanupWindowTest, LayoutOfTheWindow) {
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  struct Row {
    const char* element;
    std::function<ui::Element*()> get;
    Kind kind;
    int x, y, width, height;
    Text text;
    ui::Colour colour;
    Text tip;
    bool visible;
  };
  const std::vector<Row> layout = {
      {"package list", [&] { return w->PackageList(); }, Kind::List, 9, 70, 700, 309, "", kAny, "", true},
      {"browse", [&] { return w->BrowseButton(); }, Kind::Button, 600, 38, 90, 22, "浏览目录"_gbk, kTheme, "", true},
      {"contact", [&] { return w->ContactButton(); }, Kind::Button, 630, 387, 71, 22, "联系作者"_gbk,
       0xFF0000, "联系作者"_gbk, true},
      {"unofficial cleanup", [&] { return w->PackageScanButton(); }, Kind::Button, 12, 387, 100, 22,
       "非官方文件清理"_gbk, 0x0000FF, "清理非官方文件"_gbk, true},
      {"cross-server cleanup", [&] { return w->CrossServerButton(); }, Kind::Button, 124, 387, 100, 22,
       "跨服跳跃清理"_gbk, 0x0000FF, "清理任何服"_gbk, true},
      {"path box", [&] { return w->PathBox(); }, Kind::EditBox, 195, 39, 390, 20, PackageFolderText(), kAny,
       "", true},
      {"mascot", [&] { return w->Mascot(); }, Kind::Picture, 60, 34, 90, 30, "", kAny, "", true},
      {"scan progress", [&] { return w->ScanProgress(); }, Kind::Progress, 236, 385, 370, 24, "", kAny, "",
       false},
  };
  const ui::Colour theme = w->Window()->ThemeColour();
  for (const Row& row : layout) {
    SCOPED_TRACE(row.element);
    ui::Element* element = row.get();
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(w->Window()->FindElement(element->Id()), element);
    EXPECT_TRUE(IsKind(element, row.kind));
    EXPECT_EQ(element->Geometry(), QRect(row.x, row.y, row.width, row.height));
    EXPECT_EQ(TextOf(element), row.text);
    if (row.colour != kAny) {
      EXPECT_EQ(ColourOf(element), row.colour == kTheme ? theme : row.colour);
    }
    EXPECT_EQ(element->Tip(), row.tip);
    EXPECT_EQ(element->IsVisible(), row.visible);
  }

  ui::SkinWindow* window = w->Window();
  EXPECT_EQ(window->size(), QSize(718, 420));
  EXPECT_TRUE(window->HasSkinPicture());
  EXPECT_TRUE(w->Mascot()->HasPicture());
  EXPECT_EQ(window->CaptionFlags(), 102);
  EXPECT_EQ(window->CaptionTip(4), "关闭"_gbk);
  EXPECT_EQ(window->CaptionTip(64), "换肤"_gbk);
  EXPECT_EQ(window->CaptionTip(32), "菜单"_gbk);
  EXPECT_EQ(window->WindowSetting(), 6);
  EXPECT_TRUE(window->HasCustomCursor());
  EXPECT_TRUE(window->isVisible());

  ui::List* list = w->PackageList();
  ASSERT_EQ(list->ColumnCount(), 3);
  const std::vector<std::tuple<Text, int, bool>> columns = {
      {" 当前显示非官方文件名称："_gbk, 380, false},
      {" 智能-ImagePacks2文件列表-名称核对"_gbk, 210, false},
      {"文件修改时间"_gbk, 100, true},
  };
  for (int c = 1; c <= 3; ++c) {
    EXPECT_EQ(list->ColumnTitle(c), std::get<0>(columns[c - 1]));
    EXPECT_EQ(list->ColumnWidth(c), std::get<1>(columns[c - 1]));
    EXPECT_EQ(list->ColumnCentred(c), std::get<2>(columns[c - 1]));
  }

  const std::vector<std::tuple<ui::PopupMenu*, Text, std::vector<Text>>> menus = {
      {w->SkinMenu(), "lumo", {"自定义皮肤"_gbk}},
      {w->MainMenu(), "rask", {"关于"_gbk}},
      {w->FileMenu(), "pelq",
       {"复制文件名称"_gbk, "-", "复文件至桌面"_gbk, "移文件至桌面"_gbk, "-", "清空文件列表"_gbk, "-",
        "逐个文件清理"_gbk, "-", "清理全部文件"_gbk}},
      {w->PathMenu(), "路径"_gbk, {"正式服路径"_gbk, "-", "体验服路径"_gbk}},
  };
  for (const auto& [menu, holder, items] : menus) {
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->Holder(), holder);
    EXPECT_EQ(menu->Items(), items) << holder;
  }
  EXPECT_TRUE(Shown().empty()) << "nothing is asked when the game does not run";
}

TEST_F(CleanupWindowTest, CaptionCarriesTheVersionAsRead) {
  struct Case {
    std::optional<std::string> file;
    Text caption;
  };
  const std::vector<Case> cases = {
      {"1.0\r\n", "  Velmora 1.0\r\n"},
      {"2.5", "  Velmora 2.5"},
      {std::string("1.1\0tail", 8), "  Velmora 1.1"},
      {std::nullopt, "  Velmora "},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(Data() / "版本.txt");
    if (c.file) support::WriteFile(Data() / "版本.txt", *c.file);
    CleanupWindow* w = LoadWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->Window()->Title(), c.caption);
    CleanupWindow::Unload();
  }
}

TEST_F(CleanupWindowTest, MissingPicturesLeaveTheElementsWithout) {
  for (const char* file : {"0.png", "Tamsel启动.png", "01.cur"}) std::filesystem::remove(Data() / file);
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(w->Window()->HasSkinPicture());
  EXPECT_FALSE(w->Mascot()->HasPicture());
  EXPECT_FALSE(w->Window()->HasCustomCursor());
  EXPECT_TRUE(Shown().empty());
}

TEST_F(CleanupWindowTest, PathBoxFromTheRegistry) {
  support::ScopedEnv games("VELMORA_GAMES", "D:\\Games");
  struct Case {
    const char* what;
    std::vector<support::RegEntry> registry;
    Text pathBox;
  };
  const std::vector<Case> cases = {
      {"backslashes", {{"Software\\Tencent\\DNF", "Path", support::RegSz("D:\\Games\\地下城")}},
       "D:\\Games\\地下城\\ImagePacks2"_gbk},
      {"forward slashes", {{"Software\\Tencent\\DNF", "Path", support::RegSz("D:/Games/Game")}},
       "D:\\Games\\Game\\ImagePacks2"},
      {"expandable", {{"Software\\Tencent\\DNF", "Path", support::RegExpandSz("%VELMORA_GAMES%\\Game")}},
       "D:\\Games\\Game\\ImagePacks2"},
      {"not text", {{"Software\\Tencent\\DNF", "Path", "dword:00000001"}}, "\\ImagePacks2"},
      {"missing", {{"Software\\Tencent\\DNFTest", "Path", support::RegSz("D:\\Test")}}, "\\ImagePacks2"},
  };
  for (const Case& c : cases) {
    prefix_.WriteRegistry(c.registry);
    CleanupWindow* w = LoadWindow();
    ASSERT_NE(w, nullptr) << c.what;
    EXPECT_EQ(w->PathBox()->GetText(), c.pathBox) << c.what;
    CleanupWindow::Unload();
  }
  EXPECT_TRUE(Shown().empty()) << "a missing value is not reported";
}

TEST_F(CleanupWindowTest, RunningGameStopsTheWindow) {
  struct Case {
    std::string process;
    bool refused;
  };
  // Only the game's exact name counts, in any case; another name that holds it does not.
  const std::vector<Case> cases = {{"DNF.exe", true}, {"dnf.exe", true}, {"xDNF.exe", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.process);
    ui::testing::ClearShown();
    std::unique_ptr<support::FakeProcess> game = support::StartFakeProcess(c.process);
    ASSERT_TRUE(game->running());
    if (!c.refused) {
      EXPECT_NE(LoadWindow(), nullptr);
      CleanupWindow::Unload();
      continue;
    }
    CleanupWindow* w = CleanupWindow::Load();
    game->Stop();
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(CleanupWindow::Instance(), nullptr);
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].kind, DialogKind::MessageBox);
    EXPECT_EQ(Shown()[0].text, "游戏正在进行,清理功能无法使用！"_gbk);
    EXPECT_EQ(Shown()[0].title, "Nivra提示："_gbk);
    EXPECT_EQ(Shown()[0].buttonSet, 0);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      EXPECT_EQ(qobject_cast<ui::SkinWindow*>(widget), nullptr) << "the window must be gone";
    }
  }
}

TEST_F(CleanupWindowTest, RightClickOpensExactlyOneMenu) {
  struct Case {
    const char* what;
    int rows;
    std::vector<int> selected;  // before the click
    int clicked;                // 0: below the last row
    bool fileMenu;
    std::optional<std::vector<int>> selectedAfter;  // nothing: the list's own affair
  };
  const std::vector<Case> cases = {
      {"selected row", 3, {2}, 2, true, std::vector<int>{2}},
      {"one of several selected rows", 4, {1, 3}, 3, true, std::vector<int>{1, 3}},
      {"unselected row is selected first", 3, {1}, 3, true, std::vector<int>{3}},
      {"below the last row", 3, {2}, 0, false, std::nullopt},
      {"empty list", 0, {}, 0, false, std::vector<int>{}},
  };
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  ui::List* list = w->PackageList();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    list->RemoveAll();
    std::vector<std::vector<Text>> rows;
    for (int i = 1; i <= c.rows; ++i) rows.push_back({"p" + std::to_string(i) + ".npk", "x", "y"});
    list->AppendRows(rows);
    for (int row : c.selected) {
      list->SetCurrentRow(row);
      list->SetSelected(row, true);
    }
    w->FileMenu()->Menu()->hide();
    w->PathMenu()->Menu()->hide();
    ui::PopupMenu::ClearLastOpened();

    list->RightClickRow(c.clicked);

    ui::PopupMenu* expected = c.fileMenu ? w->FileMenu() : w->PathMenu();
    ui::PopupMenu* other = c.fileMenu ? w->PathMenu() : w->FileMenu();
    EXPECT_EQ(ui::PopupMenu::LastOpened(), expected);
    EXPECT_TRUE(expected->IsOpen());
    EXPECT_FALSE(other->IsOpen());
    if (c.selectedAfter) {
      EXPECT_EQ(list->SelectedRows(), *c.selectedAfter);
    }
  }
  w->FileMenu()->Menu()->hide();
  w->PathMenu()->Menu()->hide();
}

TEST_F(CleanupWindowTest, BrowseFillsThePathBox) {
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  struct Case {
    std::optional<Text> chosen;
    Text pathBox;
  };
  const std::vector<Case> cases = {
      {"D:\\Games\\地下城\\ImagePacks2"_gbk, "D:\\Games\\地下城\\ImagePacks2"_gbk},
      {std::nullopt, ""},  // cancelled: the path box empties
  };
  for (const Case& c : cases) {
    Answer([&](const ShownDialog&) { return DialogAnswer{0, c.chosen}; });
    w->BrowseButton()->Click();
    EXPECT_EQ(w->PathBox()->GetText(), c.pathBox);
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].kind, DialogKind::FolderChooser);
    EXPECT_EQ(Shown()[0].owner, w->Window());
    EXPECT_EQ(Shown()[0].title,
              "               【浏览游戏目录】\r\n      选择『地下城与勇士\\ImagePacks2』目录"_gbk);
  }
}

// Stands in for the web browser: takes the addresses handed to it.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls.push_back(url); }
};

TEST_F(CleanupWindowTest, ContactOpensTheAddressInTheBrowser) {
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  UrlCatcher browser;
  QDesktopServices::setUrlHandler("https", &browser, "Open");
  QDesktopServices::setUrlHandler("http", &browser, "Open");
  w->ContactButton()->Click();
  QDesktopServices::unsetUrlHandler("https");
  QDesktopServices::unsetUrlHandler("http");
  ASSERT_EQ(browser.urls.size(), 1u);
  EXPECT_TRUE(browser.urls[0].isValid());
  EXPECT_FALSE(browser.urls[0].host().isEmpty());
  EXPECT_TRUE(Shown().empty());
}

TEST_F(CleanupWindowTest, ClosingHidesOrCloses) {
  for (bool hide : {true, false}) {
    SCOPED_TRACE(hide);
    CleanupWindow* w = LoadWindow();
    ASSERT_NE(w, nullptr);
    w->SetHideOnClose(hide);
    w->PackageList()->AppendRows({{"a.npk", "x", "y"}, {"b.npk", "x", "y"}});
    w->Window()->PressCaptionButton(ui::kCaptionClose);
    RunQueued();
    EXPECT_FALSE(w->Window()->isVisible());
    EXPECT_EQ(CleanupWindow::Instance(), w);
    if (hide) {
      // The launcher shows it again, with its rows.
      w->Window()->show();
      EXPECT_EQ(w->PackageList()->Count(), 2);
      EXPECT_EQ(w->PackageList()->Cell(2, 1), "b.npk");
    }
    CleanupWindow::Unload();
  }
}

TEST_F(CleanupWindowTest, DropDuringAScanWaitsForTheScan) {
  PutPackage("mod.npk");
  support::TempDir downloads{"velmora-drop"};
  support::WriteFile(downloads / "new.npk", "new");
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  bool dropped = false;
  int rowsWhenTheScanReported = -1;
  Answer([&](const ShownDialog& d) {
    if (!dropped) {
      // While the scan's report is up, the player drops a package.
      dropped = true;
      rowsWhenTheScanReported = w->PackageList()->Count();
      w->Window()->DropFiles({downloads.Text() + "\\new.npk"});
      RunQueued();
      // The drop has not run inside the scan: the scan's rows stand, nothing else was asked.
      EXPECT_TRUE(w->Busy());
      EXPECT_EQ(w->PackageList()->Count(), 1);
      EXPECT_EQ(w->PackageList()->Cell(1, 1), "mod.npk");
      EXPECT_EQ(Shown().size(), 1u);
      EXPECT_FALSE(std::filesystem::exists(Packages() / "new.npk"));
    }
    (void)d;
    return DialogAnswer{};
  });
  w->PackageScanButton()->Click();
  RunQueued();
  EXPECT_EQ(rowsWhenTheScanReported, 1);
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_TRUE(common::StartsWith(Shown()[0].text, "                 成功搜索到：1个"_gbk));
  EXPECT_EQ(Shown()[1].text, "恭喜你！成功增加：1个,失败：0个"_gbk);
  ASSERT_EQ(w->PackageList()->Count(), 1);
  EXPECT_EQ(w->PackageList()->Cell(1, 1), "new.npk");
  EXPECT_TRUE(std::filesystem::exists(Packages() / "new.npk"));
}

TEST_F(CleanupWindowTest, PackageScanListsUnofficialPackages) {
  PutPackage("official.npk");
  PutPackage("Sprite.NPK");
  PutPackage("MOD.npk");
  PutPackage("mod(2).npk");
  PutPackage("readme.txt");
  support::SetModifiedTime(Packages() / "MOD.npk", 2013, 3, 15);
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  bool busyDuringReport = false;
  Answer([&](const ShownDialog&) {
    busyDuringReport = !w->PackageScanButton()->IsEnabled() && !w->CrossServerButton()->IsEnabled() &&
                       !w->FileMenu()->IsItemEnabled("逐个文件清理"_gbk);
    return DialogAnswer{};
  });
  w->PackageScanButton()->Click();

  ui::List* list = w->PackageList();
  ASSERT_EQ(list->Count(), 2);
  std::vector<Text> names = {list->Cell(1, 1), list->Cell(2, 1)};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<Text>{"mod(2).npk", "mod.npk"}));
  const int mod = list->FindRow("mod.npk");
  EXPECT_EQ(list->Cell(mod, 2), "测试模型"_gbk);
  EXPECT_EQ(list->Cell(mod, 3), "2013年3月15日"_gbk);
  EXPECT_EQ(list->Cell(list->FindRow("mod(2).npk"), 2), "测试模型"_gbk);

  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].text,
            "                 成功搜索到：2个非官方文件\r\n       现已支持模型文件逐个清理、清理全部模型文件更省事！"_gbk);
  EXPECT_EQ(Shown()[0].title, "Nivra提示："_gbk);
  EXPECT_EQ(Shown()[0].owner, w->Window());
  EXPECT_TRUE(busyDuringReport);
  EXPECT_TRUE(w->PackageScanButton()->IsEnabled());
  EXPECT_TRUE(w->FileMenu()->IsItemEnabled("逐个文件清理"_gbk));
}

TEST_F(CleanupWindowTest, PackageScanWithoutOfficialListListsNothing) {
  PutPackage("official.npk");
  PutPackage("mod.npk");
  std::filesystem::remove(Data() / "数据列表.sjk");
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  w->PackageList()->AppendRows({{"old.npk", "x", "y"}});
  w->PackageScanButton()->Click();
  EXPECT_EQ(w->PackageList()->Count(), 0);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].text, "官方文件列表加载失败,无法分析非官方文件！"_gbk);
  EXPECT_EQ(Shown()[0].title, "Nivra提示："_gbk);
}

TEST_F(CleanupWindowTest, CrossServerScanShowsProgressUntilTheReportCloses) {
  PutPackage("official(1).npk");
  PutPackage("角色.npk");
  PutPackage("plain.npk");
  PutPackage("x.npknpk");
  PutPackage("_a_");
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  bool progressShown = false;
  double position = 0;
  Answer([&](const ShownDialog&) {
    progressShown = w->ScanProgress()->IsVisible();
    position = w->ScanProgress()->Position();
    return DialogAnswer{};
  });
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ui::testing::ClearShown();
    w->CrossServerButton()->Click();
    std::vector<Text> names;
    for (int row = 1; row <= w->PackageList()->Count(); ++row) names.push_back(w->PackageList()->Cell(row, 1));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<Text>{"_a_", "official(1).npk", "x.npknpk", "角色.npk"_gbk}));
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_TRUE(common::StartsWith(Shown()[0].text, "                 成功搜索到：4个非官方文件"_gbk));
    EXPECT_TRUE(progressShown);
    EXPECT_DOUBLE_EQ(position, 100.0);
    EXPECT_FALSE(w->ScanProgress()->IsVisible());
  }
}

TEST_F(CleanupWindowTest, ScreenshotWithRows) {
  CleanupWindow* w = LoadWindow();
  ASSERT_NE(w, nullptr);
  std::vector<std::vector<Text>> rows = {
      {"mod_character_fire.npk", "火焰角色外观模型"_gbk, "2024年5月3日"_gbk},
      {"sprite_effect(2).npk", "技能特效替换"_gbk, "2023年11月21日"_gbk},
      {"界面美化.npk"_gbk, " 未能分析文件"_gbk, "2025年1月9日"_gbk},
      {"_a_", " 未能分析文件"_gbk, "2022年7月30日"_gbk},
      {"weapon_glow.npknpk", "武器发光"_gbk, "2024年12月1日"_gbk},
  };
  w->PackageList()->AppendRows(rows);
  w->PackageList()->SetCurrentRow(2);
  w->PackageList()->SetSelected(2, true);
  RunQueued();
  const QPixmap shot = w->Window()->grab();
  EXPECT_EQ(shot.size(), QSize(718, 420));
  const std::filesystem::path file = std::filesystem::path(VELMORA_BIN_DIR).parent_path() / "cleanup_window.png";
  EXPECT_TRUE(shot.save(QString::fromStdString(file.string()), "PNG"));
}

}  // namespace
}  // namespace velmora

#include "cleanup_window_test.moc"
