// The launcher: its place on the screen, its picture and cursor, its menu "界面", and what the
// three menu items do with the program's other windows.
#include "tests/velmora/startup/startup_fixture.h"

#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>

namespace startup_test {
namespace {

using velmora::LauncherWindow;

TEST(LauncherPlace, IsTwoHundredLeftOfTheRightEdgeAndEightHundredFiftyAboveTheBottom) {
  struct PlaceCase {
    QSize screen;
    QPoint place;
  };
  const PlaceCase cases[] = {
      {{1920, 1080}, {1720, 230}},
      {{2560, 1440}, {2360, 590}},
      {{1366, 768}, {1166, -82}},  // a low screen: partly above the top edge
      {{800, 600}, {600, -250}},
  };
  for (const PlaceCase& c : cases) {
    EXPECT_EQ(LauncherWindow::PlaceOnScreen(c.screen), c.place) << c.screen.width() << "x" << c.screen.height();
  }
}

void SendMouse(QWidget* window, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
  QMouseEvent event(type, QPointF(local), QPointF(window->mapToGlobal(local)), button, buttons,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(window, &event);
}

class Launcher : public StartUpFixture {
 protected:
  std::unique_ptr<LauncherWindow> LoadAlone() {
    return std::make_unique<LauncherWindow>([this] { endCodes_.push_back(0); });
  }

  // A normal start: equal versions, so the cleanup window opens beside the launcher.
  void StartNormally() {
    WriteLocalVersion("1.0");
    ServePage(PageResponse("版本前1.0版本后"_gbk));
    RunStartUp();
    ASSERT_NE(velmora::CleanupWindow::Instance(), nullptr);
    ASSERT_NE(startUp_->Launcher(), nullptr);
  }
};

TEST_F(Launcher, WindowShowsTheMascotAtItsPlaceWithTheMenu) {
  struct ArtCase {
    const char* name;
    bool withArt;
  };
  const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  for (const ArtCase c : {ArtCase{"data folder complete", true}, ArtCase{"no pictures", false}}) {
    if (!c.withArt) {
      std::filesystem::remove(dataDir() / "Tamsel.png");
      std::filesystem::remove(dataDir() / "01.cur");
    }
    auto launcher = LoadAlone();
    ui::SkinWindow* window = launcher->Window();
    EXPECT_TRUE(window->isVisible()) << c.name;
    EXPECT_EQ(window->size(), QSize(98, 49)) << c.name;
    EXPECT_EQ(window->pos(), LauncherWindow::PlaceOnScreen(screen)) << c.name;
    EXPECT_EQ(window->CaptionFlags(), 0) << c.name;
    EXPECT_EQ(window->HasSkinPicture(), c.withArt) << c.name;
    EXPECT_EQ(window->HasCustomCursor(), c.withArt) << c.name;
    EXPECT_EQ(window->BackgroundColour() & 0xFFFFFFu, 0xFFFFFFu) << c.name;
    ui::PopupMenu* menu = launcher->Menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->Holder(), "界面"_gbk);
    EXPECT_EQ(menu->Items(), (std::vector<common::Text>{"显示脚本界面"_gbk, "-", "显示清理界面"_gbk, "-",
                                                        "退出所有程序"_gbk}))
        << c.name;
    if (c.withArt) {
      window->grab().save(QStringLiteral(VELMORA_BIN_DIR "/../launcher_window.png"));
    }
  }
}

TEST_F(Launcher, RightPressOpensTheMenuAndLeftDragMovesTheWindow) {
  auto launcher = LoadAlone();
  ui::SkinWindow* window = launcher->Window();
  window->move(300, 200);
  Settle();

  SendMouse(window, QEvent::MouseButtonPress, QPoint(40, 30), Qt::RightButton, Qt::RightButton);
  EXPECT_EQ(ui::PopupMenu::LastOpened(), launcher->Menu());
  EXPECT_TRUE(launcher->Menu()->IsOpen());
  launcher->Menu()->Menu()->close();
  Settle();

  const QPoint start = window->pos();
  SendMouse(window, QEvent::MouseButtonPress, QPoint(50, 40), Qt::LeftButton, Qt::LeftButton);
  SendMouse(window, QEvent::MouseMove, QPoint(50 - 120, 40 + 35), Qt::NoButton, Qt::LeftButton);
  SendMouse(window, QEvent::MouseButtonRelease, QPoint(50, 40), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(window->pos(), start + QPoint(-120, 35));
  EXPECT_TRUE(endCodes_.empty()) << "a press ended the program";
}

TEST_F(Launcher, ClosingTheCleanupWindowHidesItAndTheMenuShowsItWithItsRows) {
  StartNormally();
  velmora::CleanupWindow* cleanup = velmora::CleanupWindow::Instance();
  ui::List* list = cleanup->PackageList();
  list->RemoveAll();
  list->AppendRows({{"sprite_a.npk", "标签一"_gbk, "2024年1月2日"_gbk},
                    {"sprite_b.npk", "标签二"_gbk, "2024年3月4日"_gbk}});
  list->SetSelected(2, true);
  cleanup->Window()->grab().save(QStringLiteral(VELMORA_BIN_DIR "/../cleanup_with_skin.png"));

  cleanup->Window()->PressCaptionButton(ui::kCaptionClose);
  Settle();
  EXPECT_FALSE(cleanup->Window()->isVisible());
  EXPECT_EQ(velmora::CleanupWindow::Instance(), cleanup) << "closing destroyed the window";
  EXPECT_TRUE(endCodes_.empty()) << "closing the cleanup window ended the program";
  EXPECT_TRUE(startUp_->Launcher()->Window()->isVisible());

  startUp_->Launcher()->Menu()->Choose("显示清理界面"_gbk);
  Settle();
  ASSERT_EQ(velmora::CleanupWindow::Instance(), cleanup);
  EXPECT_TRUE(cleanup->Window()->isVisible());
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Cell(1, 1), "sprite_a.npk");
  EXPECT_EQ(list->Cell(2, 2), "标签二"_gbk);
  EXPECT_EQ(list->Cell(2, 3), "2024年3月4日"_gbk);
  EXPECT_EQ(list->SelectedRows(), std::vector<int>{2});
}

TEST_F(Launcher, ShowCleanupWindowWithoutOneDoesNothing) {
  // The cleanup window is gone when it destroyed itself at start (the game ran).
  auto launcher = LoadAlone();
  ASSERT_EQ(velmora::CleanupWindow::Instance(), nullptr);
  launcher->Menu()->Choose("显示清理界面"_gbk);
  Settle();
  EXPECT_EQ(velmora::CleanupWindow::Instance(), nullptr);
  EXPECT_EQ(VisibleTopLevels(), std::vector<QWidget*>{launcher->Window()});
  EXPECT_TRUE(endCodes_.empty());
}

TEST_F(Launcher, ExitEndsTheProgramWithTheScriptWindowOpen) {
  StartNormally();
  ui::PopupMenu* menu = startUp_->Launcher()->Menu();
  menu->Choose("显示脚本界面"_gbk);
  Settle();
  velmora::ScriptWindow* script = velmora::ScriptWindow::Current();
  ASSERT_NE(script, nullptr);
  EXPECT_TRUE(script->Window()->isVisible());
  script->Window()->grab().save(QStringLiteral(VELMORA_BIN_DIR "/../script_with_skin.png"));
  // Asking again brings the same window forward instead of a second one.
  menu->Choose("显示脚本界面"_gbk);
  Settle();
  EXPECT_EQ(velmora::ScriptWindow::Current(), script);

  menu->Choose("退出所有程序"_gbk);
  Settle();
  EXPECT_EQ(endCodes_, std::vector<int>{0});
  EXPECT_TRUE(startUp_->Ended());
  EXPECT_EQ(velmora::ScriptWindow::Current(), nullptr);
  EXPECT_TRUE(VisibleTopLevels().empty()) << "a window stayed open after the program ended";
}

}  // namespace
}  // namespace startup_test
