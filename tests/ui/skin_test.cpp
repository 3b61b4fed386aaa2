// The skinned window, its elements, cursors, popup menus and the event pump.
#include "ui/skin.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCloseEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "platform/paths.h"
#include "tests/support/support.h"
#include "tests/ui/ui_app.h"
#include "ui/text_view.h"

using namespace common::literals;

namespace {

class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override { uitest::App(); }
};

struct Event {
  int id;
  int code;
  bool operator==(const Event&) const = default;
};

TEST(ColourTest, AlphaOfColourReferences) {
  struct Case {
    ui::Colour colour;
    int red, green, blue, alpha;
  };
  const Case cases[] = {
      {0x000000FF, 255, 0, 0, 254},     // no alpha given
      {0x00FF0000, 0, 0, 255, 254},     // blue in the third byte
      {0xFF123456, 0x56, 0x34, 0x12, 254},  // 255 is lowered
      {0x5A00FF00, 0, 255, 0, 90},      // an alpha of its own is kept
      {0x01FFFFFF, 255, 255, 255, 1},
  };
  for (const Case& c : cases) {
    QColor q = ui::ToQColor(c.colour);
    EXPECT_EQ(q.red(), c.red) << std::hex << c.colour;
    EXPECT_EQ(q.green(), c.green) << std::hex << c.colour;
    EXPECT_EQ(q.blue(), c.blue) << std::hex << c.colour;
    EXPECT_EQ(q.alpha(), c.alpha) << std::hex << c.colour;
  }
  EXPECT_EQ(ui::Rgb(1, 2, 3), 0x030201u);
  EXPECT_EQ(ui::Rgba(1, 2, 3, 4), 0x04030201u);
}

TEST(TextTest, GbkRoundTripThroughTheToolkit) {
  const common::Text texts[] = {"", "plain ascii", "非官方文件清理"_gbk, "混合 mixed\r\n第二行"_gbk};
  for (const auto& text : texts) EXPECT_EQ(ui::FromQ(ui::ToQ(text)), text);
  EXPECT_EQ(ui::ToQ("确认"_gbk), QStringLiteral("确认"));
  // A text ends at its first zero byte.
  EXPECT_EQ(ui::ToQ(std::string("ab\0cd", 5)), QStringLiteral("ab"));
}

TEST_F(SkinTest, ThemeColourIsThePixelAt85PercentOfThePicture) {
  struct Case {
    int width, height, x, y;
  };
  const Case cases[] = {{100, 100, 85, 85}, {718, 420, 610, 357}, {7, 3, 5, 2}, {1, 1, 0, 0}};
  for (const Case& c : cases) {
    ui::SkinWindow window(200, 100);
    window.BindSkin(uitest::MarkedPicture(c.width, c.height, c.x, c.y, QColor(200, 100, 50)),
                    ui::Rgb(255, 255, 255), ui::kCaptionClose);
    EXPECT_TRUE(window.HasSkinPicture());
    EXPECT_EQ(window.ThemeColour(), ui::Rgb(200, 100, 50)) << c.width << "x" << c.height;
  }
}

TEST_F(SkinTest, WithoutAPictureTheBackgroundColourServes) {
  struct Case {
    std::string bytes;
    std::optional<ui::Colour> background;
    ui::Colour theme;
  };
  const Case cases[] = {
      {"", ui::Rgb(10, 20, 30), ui::Rgb(10, 20, 30)},
      {"not a picture at all", ui::Rgb(40, 50, 60), ui::Rgb(40, 50, 60)},
      {"", std::nullopt, ui::Rgb(255, 255, 255)},
  };
  for (const Case& c : cases) {
    ui::SkinWindow window(200, 100);
    window.BindSkin(c.bytes, c.background, 0);
    EXPECT_FALSE(window.HasSkinPicture());
    EXPECT_EQ(window.ThemeColour(), c.theme);
    // It still paints: the background colour fills the window.
    QImage shot = window.grab().toImage();
    QColor middle = shot.pixelColor(100, 60);
    EXPECT_EQ(ui::Rgb(middle.red(), middle.green(), middle.blue()), c.theme);
  }
}

TEST_F(SkinTest, TheSkinIsCroppedWhenLargerAndScaledUpWhenSmaller) {
  // Left half red, right half green.
  auto halves = [](int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(0, 200, 0));
    QPainter(&image).fillRect(0, 0, width / 2, height, QColor(200, 0, 0));
    return uitest::PngBytes(image);
  };
  struct Case {
    const char* name;
    int pictureWidth, pictureHeight;
    QPoint sample;
    QColor expected;
  };
  const Case cases[] = {
      {"larger: cropped from the top left", 600, 300, {250, 60}, QColor(200, 0, 0)},
      {"larger: the picture's own right half", 600, 300, {302, 60}, QColor(0, 200, 0)},
      {"smaller: scaled up by four to cover", 100, 50, {196, 60}, QColor(200, 0, 0)},
      {"smaller: scaled up, right half", 100, 50, {204, 60}, QColor(0, 200, 0)},
  };
  for (const Case& c : cases) {
    ui::SkinWindow window(400, 100);
    window.BindSkin(halves(c.pictureWidth, c.pictureHeight), ui::Rgb(0, 0, 255), 0);
    QImage shot = window.grab().toImage();
    QColor got = shot.pixelColor(c.sample);
    EXPECT_EQ(got.rgb(), c.expected.rgb()) << c.name;
  }
}

TEST_F(SkinTest, LabelGradientRunsFromTopToBottom) {
  ui::SkinWindow window(200, 120);
  window.BindSkin("", ui::Rgb(0, 0, 0), 0);
  ui::Label label(&window, "", 10, 40, 100, 60);
  label.SetGradient(ui::Rgb(255, 0, 0), ui::Rgb(0, 0, 255));
  QImage shot = window.grab().toImage();
  QColor top = shot.pixelColor(50, 40);
  QColor bottom = shot.pixelColor(50, 99);
  EXPECT_GT(top.red(), 240);
  EXPECT_LT(top.blue(), 15);
  EXPECT_GT(bottom.blue(), 240);
  EXPECT_LT(bottom.red(), 15);
}

TEST_F(SkinTest, RedrawTakesTheThemeFromTheNewPicture) {
  ui::SkinWindow window(200, 100);
  window.BindSkin(uitest::MarkedPicture(100, 100, 85, 85, QColor(1, 2, 3)), ui::Rgb(255, 255, 255), 0);
  window.Redraw(uitest::MarkedPicture(20, 20, 17, 17, QColor(90, 80, 70)));
  EXPECT_EQ(window.ThemeColour(), ui::Rgb(90, 80, 70));
  window.Redraw("");
  EXPECT_FALSE(window.HasSkinPicture());
  EXPECT_EQ(window.ThemeColour(), ui::Rgb(255, 255, 255));
}

TEST_F(SkinTest, CaptionButtonsFollowTheFlags) {
  ui::SkinWindow window(300, 200);
  window.BindSkin("", std::nullopt, 102);
  window.SetCaptionTip(ui::kCaptionClose, "关闭"_gbk);
  window.SetCaptionTip(ui::kCaptionMenu, "菜单"_gbk);
  EXPECT_EQ(window.CaptionFlags(), 102);
  struct Case {
    int flag;
    bool present;
  };
  const Case cases[] = {{ui::kCaptionClose, true},     {ui::kCaptionMenu, true},
                        {ui::kCaptionSkin, true},      {ui::kCaptionMaximise, false},
                        {ui::kCaptionMinimise, false}, {ui::kCaptionIcon, false}};
  std::set<int> ids;
  for (const Case& c : cases) {
    int id = window.CaptionButtonId(c.flag);
    if (!c.present) {
      EXPECT_EQ(id, 0) << c.flag;
      continue;
    }
    EXPECT_NE(id, 0) << c.flag;
    EXPECT_EQ(window.CaptionFlag(id), c.flag);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(window.CaptionTip(ui::kCaptionMenu), "菜单"_gbk);
  EXPECT_EQ(window.CaptionTip(ui::kCaptionSkin), "");

  ui::Button button(&window, "按钮"_gbk, 10, 40, 80, 22);
  EXPECT_EQ(window.CaptionFlag(button.Id()), 0);
  EXPECT_EQ(ids.count(button.Id()), 0u);
  EXPECT_EQ(window.FindElement(button.Id()), &button);

  // The tip is on the drawn button the user hovers.
  bool tipShown = false;
  for (QAbstractButton* child : window.findChildren<QAbstractButton*>()) {
    if (child->toolTip() == QStringLiteral("关闭")) tipShown = true;
  }
  EXPECT_TRUE(tipShown);
}

TEST_F(SkinTest, ClicksReachTheEventCallback) {
  ui::SkinWindow window(300, 200);
  window.BindSkin("", std::nullopt, 102);
  std::vector<Event> events;
  window.SetEventCallback([&](int id, int code) { events.push_back({id, code}); });
  ui::Button button(&window, "浏览目录"_gbk, 10, 40, 80, 22);

  button.Click();
  window.PressCaptionButton(ui::kCaptionMenu);
  window.PressCaptionButton(ui::kCaptionSkin);
  window.PressCaptionButton(ui::kCaptionMaximise);  // not among the flags: nothing
  button.SetEnabled(false);
  button.Click();  // disabled: nothing
  const std::vector<Event> expected = {{button.Id(), ui::kEventClick},
                                       {window.CaptionButtonId(ui::kCaptionMenu), ui::kEventCaptionPress},
                                       {window.CaptionButtonId(ui::kCaptionSkin), ui::kEventCaptionPress}};
  EXPECT_EQ(events, expected);
}

TEST_F(SkinTest, EveryCloseAsksTheCanCloseHandler) {
  ui::SkinWindow window(300, 200);
  window.BindSkin("", std::nullopt, ui::kCaptionClose);
  window.show();
  int asked = 0;
  bool allow = false;
  window.SetCanCloseHandler([&] {
    ++asked;
    return allow;
  });
  std::vector<Event> events;
  window.SetEventCallback([&](int id, int code) { events.push_back({id, code}); });

  window.PressCaptionButton(ui::kCaptionClose);
  EXPECT_TRUE(window.isVisible());
  window.close();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(asked, 2);
  allow = true;
  window.PressCaptionButton(ui::kCaptionClose);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(events.empty());  // the close button reports nothing of its own
}

TEST_F(SkinTest, DraggingTheCaptionMovesTheWindow) {
  ui::SkinWindow window(300, 200, 50, 50);
  window.BindSkin("", std::nullopt, ui::kCaptionClose);
  window.show();
  QPoint start = window.pos();
  auto send = [&](QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
    QPoint global = window.mapToGlobal(local);
    QMouseEvent event(type, QPointF(local), QPointF(global), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&window, &event);
  };
  // Below the caption nothing moves.
  send(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton);
  send(QEvent::MouseMove, {130, 140}, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, {130, 140}, Qt::NoButton);
  EXPECT_EQ(window.pos(), start);
  // On the caption the window follows the mouse.
  send(QEvent::MouseButtonPress, {100, 10}, Qt::LeftButton);
  send(QEvent::MouseMove, {120, 40}, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, {120, 40}, Qt::NoButton);
  EXPECT_EQ(window.pos(), start + QPoint(20, 30));
}

TEST_F(SkinTest, DroppedFilesArriveAsProgramPathsJoinedByCrLf) {
  support::TempDir dir("velmora-drop");
  std::ofstream(dir / "a.npk") << "a";
  std::ofstream(dir / "图片.npk") << "b";
  ui::SkinWindow window(300, 200);
  window.BindSkin("", std::nullopt, 0);
  std::vector<common::Text> received;
  window.SetFilesDroppedHandler([&](const common::Text& paths) { received.push_back(paths); });

  window.DropFiles({"C:\\a.npk", "D:\\b c\\图.npk"_gbk});
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], "C:\\a.npk\r\nD:\\b c\\图.npk"_gbk);

  // A real drop of local files, and a web address that is no file.
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString((dir / "a.npk").string())),
                QUrl(QStringLiteral("https://example.org/x.npk")),
                QUrl::fromLocalFile(QString::fromStdString((dir / "图片.npk").string()))});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1], platform::ProgramPath(dir / "a.npk") + "\r\n" +
                             platform::ProgramPath(dir / "图片.npk"));
}

// ---- cursors

void Put16(std::string& b, unsigned v) {
  b.push_back(static_cast<char>(v & 0xFF));
  b.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& b, unsigned v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// A .cur file with one image: a device-independent bitmap of `bits` per pixel or a PNG.
std::string MakeCursor(int size, int hotX, int hotY, int bits) {
  std::string image;
  if (bits == 0) {
    QImage png(size, size, QImage::Format_ARGB32);
    png.fill(Qt::transparent);
    png.setPixelColor(0, 0, QColor(255, 0, 0));
    image = uitest::PngBytes(png);
  } else {
    Put32(image, 40);
    Put32(image, static_cast<unsigned>(size));
    Put32(image, static_cast<unsigned>(size * 2));
    Put16(image, 1);
    Put16(image, static_cast<unsigned>(bits));
    for (int i = 0; i < 6; ++i) Put32(image, 0);
    if (bits == 1) {
      Put32(image, 0x00000000);  // black
      Put32(image, 0x00FFFFFF);  // white
    }
    int stride = ((size * bits + 31) / 32) * 4;
    // Rows bottom-up: the top-left pixel is the first one of the last row.
    for (int row = 0; row < size; ++row) {
      std::string line(static_cast<std::size_t>(stride), '\0');
      bool top = row == size - 1;
      if (bits == 32 && top) line.replace(0, 4, std::string("\x00\x00\xFF\xFF", 4));  // opaque red
      if (bits == 1 && top) line[0] = static_cast<char>(0x80);                          // white
      image += line;
    }
    int maskStride = ((size + 31) / 32) * 4;
    for (int row = 0; row < size; ++row) {
      std::string line(static_cast<std::size_t>(maskStride), static_cast<char>(0xFF));
      if (row == size - 1) line[0] = 0x7F;  // the top-left pixel is drawn
      image += line;
    }
  }
  std::string file;
  Put16(file, 0);
  Put16(file, 2);
  Put16(file, 1);
  file.push_back(static_cast<char>(size));
  file.push_back(static_cast<char>(size));
  file.push_back(0);
  file.push_back(0);
  Put16(file, static_cast<unsigned>(hotX));
  Put16(file, static_cast<unsigned>(hotY));
  Put32(file, static_cast<unsigned>(image.size()));
  Put32(file, 22);
  return file + image;
}

TEST_F(SkinTest, CursorsFromCurFiles) {
  struct Case {
    const char* name;
    int bits, hotX, hotY;
    QColor topLeft;
  };
  const Case cases[] = {{"32-bit bitmap", 32, 3, 5, QColor(255, 0, 0)},
                        {"monochrome bitmap", 1, 0, 0, QColor(255, 255, 255)},
                        {"png", 0, 7, 2, QColor(255, 0, 0)}};
  for (const Case& c : cases) {
    std::optional<QCursor> cursor = ui::CursorFromCurBytes(MakeCursor(32, c.hotX, c.hotY, c.bits));
    ASSERT_TRUE(cursor.has_value()) << c.name;
    EXPECT_EQ(cursor->hotSpot(), QPoint(c.hotX, c.hotY)) << c.name;
    QImage image = cursor->pixmap().toImage();
    ASSERT_EQ(image.size(), QSize(32, 32)) << c.name;
    EXPECT_EQ(image.pixelColor(0, 0), c.topLeft) << c.name;
    EXPECT_EQ(image.pixelColor(10, 10).alpha(), 0) << c.name;
  }
  // Not cursors: an icon (type 1), a cut-off file, nothing.
  std::string icon = MakeCursor(32, 0, 0, 32);
  icon[2] = 1;
  std::string cut = MakeCursor(32, 0, 0, 32).substr(0, 60);
  for (const std::string& bad : {icon, cut, std::string()}) {
    EXPECT_FALSE(ui::CursorFromCurBytes(bad).has_value());
  }
}

TEST_F(SkinTest, WindowCursorFromAFile) {
  support::TempDir dir("velmora-cursor");
  std::ofstream(dir / "01.cur", std::ios::binary) << MakeCursor(32, 4, 6, 32);
  std::ofstream(dir / "bad.cur", std::ios::binary) << "junk";
  ui::SkinWindow window(100, 100);
  window.SetCursorFromFile(dir.Text() + "\\bad.cur");
  window.SetCursorFromFile(dir.Text() + "\\missing.cur");
  EXPECT_FALSE(window.HasCustomCursor());
  window.SetCursorFromFile(dir.Text() + "\\01.cur");
  EXPECT_TRUE(window.HasCustomCursor());
  EXPECT_EQ(window.cursor().hotSpot(), QPoint(4, 6));
}

// ---- elements

TEST_F(SkinTest, ElementsKeepWhatTheyAreGiven) {
  ui::SkinWindow window(400, 300);
  window.BindSkin("", std::nullopt, 0);
  ui::Button button(&window, "联系作者"_gbk, 630 - 300, 87, 71, 22);
  button.SetTextColour(0xFF0000);
  button.SetTip("联系作者"_gbk);
  EXPECT_EQ(button.GetText(), "联系作者"_gbk);
  EXPECT_EQ(button.TextColour(), 0xFF0000u);
  EXPECT_EQ(button.Tip(), "联系作者"_gbk);
  EXPECT_EQ(button.Widget()->toolTip(), QStringLiteral("联系作者"));
  EXPECT_EQ(button.Geometry(), QRect(330, 87, 71, 22));

  ui::EditBox edit(&window, "D:/Games\\ImagePacks2", 10, 40, 200, 20);
  EXPECT_EQ(edit.GetText(), "D:/Games\\ImagePacks2");
  edit.SetText("路径"_gbk);
  EXPECT_EQ(edit.GetText(), "路径"_gbk);
  EXPECT_EQ(static_cast<QLineEdit*>(edit.Widget())->text(), QStringLiteral("路径"));
  edit.SetBorderStyle(4);
  EXPECT_EQ(edit.BorderStyle(), 4);

  ui::Label label(&window, "第一行\r\n第二行"_gbk, 10, 70, 200, 40);
  EXPECT_EQ(label.GetText(), "第一行\r\n第二行"_gbk);
  label.SetWrap(false);
  EXPECT_FALSE(label.Wraps());
  label.SetFont("微软雅黑"_gbk, 14);
  EXPECT_EQ(label.FontFamily(), "微软雅黑"_gbk);

  ui::TextView view(&window, 10, 120, 200, 100);
  const common::Text script = "第一行\r\nline two\r\n"_gbk;
  view.SetText(script);
  EXPECT_EQ(view.GetText(), script);
  auto* lines = view.Widget()->findChild<ui::detail::LineView*>();
  ASSERT_NE(lines, nullptr);
  lines->SelectAll();
  EXPECT_EQ(lines->SelectedText(), QStringLiteral("第一行\r\nline two\r\n"));
  view.SetWrap(false);
  EXPECT_FALSE(view.Wraps());

  ui::ProgressBar bar(&window, 10, 230, 200, 20);
  const std::pair<double, double> positions[] = {{12.5, 12.5}, {-3, 0}, {140, 100}, {100, 100}};
  for (auto [given, kept] : positions) {
    bar.SetPosition(given);
    EXPECT_DOUBLE_EQ(bar.Position(), kept);
  }
  bar.SetVisible(false);
  EXPECT_FALSE(bar.IsVisible());

  ui::Picture picture(&window, "no picture", 250, 40, 90, 30);
  EXPECT_FALSE(picture.HasPicture());
  picture.SetBytes(uitest::MarkedPicture(90, 30, 0, 0, Qt::red));
  EXPECT_TRUE(picture.HasPicture());

  // Every element has its own id, known to the window.
  std::set<int> ids = {button.Id(), edit.Id(), label.Id(), view.Id(), bar.Id(), picture.Id()};
  EXPECT_EQ(ids.size(), 6u);
  for (int id : ids) EXPECT_NE(window.FindElement(id), nullptr);
}

TEST_F(SkinTest, ElementsOutlivingTheirWindowAreHarmless) {
  auto window = std::make_unique<ui::SkinWindow>(200, 100);
  ui::Button button(window.get(), "x", 0, 30, 50, 20);
  ui::List list(window.get(), 0, 50, 100, 50);
  list.AddColumn("a", 50);
  list.AppendRow();
  auto element = std::make_unique<ui::Label>(window.get(), "y", 0, 0, 10, 10);
  int id = element->Id();
  element.reset();
  EXPECT_EQ(window->FindElement(id), nullptr);
  window.reset();
  button.SetText("z");
  button.Click();
  EXPECT_EQ(button.GetText(), "");
  EXPECT_EQ(list.Count(), 0);
  list.RightClickRow(1);
  EXPECT_FALSE(button.IsVisible());
}

// ---- popup menus

TEST_F(SkinTest, AChosenMenuItemRunsAfterTheOpeningRoutineReturned) {
  std::vector<std::string> ran;
  ui::PopupMenu menu("pelq");
  menu.AddItem("复制文件名称"_gbk, [&] { ran.push_back("copy"); });
  menu.AddSeparator();
  menu.AddItem("清理全部文件"_gbk, [&] { ran.push_back("clean"); });
  EXPECT_EQ(menu.Holder(), "pelq");
  EXPECT_EQ(menu.Items(), (std::vector<common::Text>{"复制文件名称"_gbk, "-", "清理全部文件"_gbk}));

  ui::PopupMenu::ClearLastOpened();
  menu.Popup(QPoint(100, 100));
  EXPECT_EQ(ui::PopupMenu::LastOpened(), &menu);
  EXPECT_TRUE(menu.IsOpen());
  menu.Choose("复制文件名称"_gbk);
  EXPECT_TRUE(ran.empty());  // not yet: the choice is queued
  QCoreApplication::processEvents();
  EXPECT_EQ(ran, std::vector<std::string>{"copy"});

  // A real pick of the open menu's action is queued the same way.
  menu.Popup(QPoint(100, 100));
  menu.Menu()->actions().at(2)->trigger();
  EXPECT_EQ(ran.size(), 1u);
  QCoreApplication::processEvents();
  EXPECT_EQ(ran, (std::vector<std::string>{"copy", "clean"}));

  menu.SetItemEnabled("清理全部文件"_gbk, false);
  EXPECT_FALSE(menu.IsItemEnabled("清理全部文件"_gbk));
  menu.Choose("清理全部文件"_gbk);
  menu.Choose("unknown");
  QCoreApplication::processEvents();
  EXPECT_EQ(ran.size(), 2u);
}

TEST_F(SkinTest, AMenuDestroyedBeforeItsChoiceRunsStillRunsTheAction) {
  int ran = 0;
  {
    ui::PopupMenu menu("lumo");
    menu.AddItem("自定义皮肤"_gbk, [&] { ++ran; });
    menu.Popup(QPoint(10, 10));
    menu.Choose("自定义皮肤"_gbk);
  }
  EXPECT_EQ(ui::PopupMenu::LastOpened(), nullptr);
  QCoreApplication::processEvents();
  EXPECT_EQ(ran, 1);
}

TEST_F(SkinTest, PumpEventsLetsPostedWorkRun) {
  bool ran = false;
  QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { ran = true; }, Qt::QueuedConnection);
  // The pump runs at most every 15 ms; keep pumping until it has run (or give up after long).
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ran && std::chrono::steady_clock::now() < giveUp) {
    ui::PumpEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(ran);
}

TEST_F(SkinTest, ClipboardCarriesGbkTexts) {
  const common::Text text = "补丁脚本\r\nline"_gbk;
  if (!ui::SetClipboardText(text)) GTEST_SKIP() << "no clipboard on this platform";
  EXPECT_EQ(ui::ClipboardText(), text);
}

}  // namespace
