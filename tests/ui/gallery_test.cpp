// A demo window with every element kind, saved as a picture beside the build's programs, so
// the looks can be checked by eye: ui_gallery.png and ui_messagebox.png.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QRadialGradient>
#include <QTimer>
#include <filesystem>

#include "tests/support/support.h"
#include "tests/ui/ui_app.h"
#include "ui/dialogs.h"
#include "ui/skin.h"

using namespace common::literals;

namespace {

// A soft skin: a diagonal gradient with a few light circles.
QImage DemoSkin() {
  QImage image(718, 420, QImage::Format_ARGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 718, 420);
  g.setColorAt(0, QColor(196, 222, 246));
  g.setColorAt(0.55, QColor(226, 236, 248));
  g.setColorAt(1, QColor(120, 170, 220));
  p.fillRect(image.rect(), g);
  const QPoint centres[] = {{600, 90}, {120, 330}, {420, 240}};
  for (QPoint c : centres) {
    QRadialGradient r(c, 160);
    r.setColorAt(0, QColor(255, 255, 255, 120));
    r.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(r);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 160, 160);
  }
  return image;
}

std::filesystem::path OutputDir() { return std::filesystem::path(VELMORA_BIN_DIR).parent_path(); }

TEST(GalleryTest, EveryElementKind) {
  uitest::App();
  ui::SkinWindow window(718, 420);
  window.BindSkin(uitest::PngBytes(DemoSkin()), ui::Rgb(255, 255, 255), 2 | 4 | 8 | 16 | 32 | 64);
  window.SetTitle("  Velmora 1.0\r\n"_gbk);
  ui::Colour theme = window.ThemeColour();

  ui::List list(&window, 9, 70, 700, 250);
  list.SetColour(theme);
  list.AddColumn(" 当前显示非官方文件名称："_gbk, 380);
  list.AddColumn(" 智能-ImagePacks2文件列表-名称核对"_gbk, 210);
  list.AddColumn("文件修改时间"_gbk, 100, true);
  std::vector<std::vector<common::Text>> rows;
  for (int i = 1; i <= 40; ++i) {
    rows.push_back({"sprite_character_swordman_equipment_avatar_" + std::to_string(i) + ".npk",
                    i % 3 == 0 ? "无标签"_gbk : "光剑-时装补丁"_gbk, "2024年5月"_gbk + std::to_string(i % 28 + 1) + "日"_gbk});
  }
  list.AppendRows(std::move(rows));
  list.SetSelected(2, true);
  list.SetSelected(3, true);
  list.SetCurrentRow(3);

  ui::EditBox path(&window, "D:\\Games\\地下城与勇士\\ImagePacks2"_gbk, 195, 39, 390, 20);
  path.SetBorderStyle(4);
  ui::Button browse(&window, "浏览目录"_gbk, 600, 38, 90, 22);
  browse.SetTextColour(theme);
  QImage art(90, 30, QImage::Format_ARGB32);
  art.fill(Qt::transparent);
  {
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(255, 160, 60));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 1, 88, 28), 8, 8);
    p.setPen(Qt::white);
    p.setFont(ui::SkinFont("微软雅黑"_gbk, 14));
    p.drawText(art.rect(), Qt::AlignCenter, QStringLiteral("Tamsel"));
  }
  ui::Picture mascot(&window, uitest::PngBytes(art), 60, 34, 90, 30);

  ui::Label label(&window, "标签：渐变背景，虚线边框，居中的文字"_gbk, 12, 326, 300, 24);
  label.SetGradient(ui::Rgba(255, 255, 255, 200), ui::Rgba(200, 220, 240, 200));
  label.SetBorderStyle(4);
  label.SetAlignment(Qt::AlignCenter);
  ui::TextView script(&window, 320, 326, 388, 54);
  script.SetText("[技能代码]\r\nskill/swordman/upperslash.skl = 替换\r\n第三行：一行很长很长很长很长很长很长很长很长的脚本文字"_gbk);
  script.SetGradient(ui::Rgba(255, 255, 255, 150), ui::Rgba(255, 255, 255, 90));
  script.SetBorderStyle(4);

  ui::Button clean(&window, "非官方文件清理"_gbk, 12, 387, 100, 22);
  clean.SetTextColour(0x0000FF);
  ui::Button cross(&window, "跨服跳跃清理"_gbk, 124, 387, 100, 22);
  cross.SetTextColour(0x0000FF);
  cross.SetEnabled(false);
  ui::ProgressBar bar(&window, 236, 385, 370, 24);
  bar.SetPosition(62.5);
  ui::Button contact(&window, "联系作者"_gbk, 630, 387, 71, 22);
  contact.SetTextColour(0xFF0000);

  window.show();
  QImage shot = window.grab().toImage();
  ASSERT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(QString::fromStdString((OutputDir() / "ui_gallery.png").string())));
}

TEST(GalleryTest, MessageBox) {
  uitest::App();
  // The box draws the skin picture of the data folder under the current directory.
  support::TempDir dir("velmora-gallery");
  std::filesystem::create_directories(dir / "皮肤图片");
  ASSERT_TRUE(DemoSkin().save(QString::fromStdString((dir / "皮肤图片" / "0.png").string())));
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  QImage shot;
  QTimer::singleShot(50, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(top);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      shot = dialog->grab().toImage();
      dialog->findChildren<QPushButton*>().front()->click();
    }
  });
  int answer = ui::MessageBox(nullptr, "共找到 12 个非官方文件。\r\n要清理全部文件吗？"_gbk, 3);
  std::filesystem::current_path(previous);
  EXPECT_EQ(answer, ui::kAnswerYes);
  ASSERT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(QString::fromStdString((OutputDir() / "ui_messagebox.png").string())));
}

TEST(GalleryTest, PopupMenu) {
  uitest::App();
  ui::PopupMenu menu("pelq");
  for (const char* item : {"复制文件名称", "-", "复文件至桌面", "移文件至桌面", "-", "清空文件列表", "-",
                           "逐个文件清理", "-", "清理全部文件"}) {
    if (std::string(item) == "-") menu.AddSeparator();
    else menu.AddItem(common::Utf8ToGbkText(item), [] {});
  }
  menu.SetItemEnabled("清空文件列表"_gbk, false);
  menu.Popup(QPoint(100, 100));
  menu.Menu()->setActiveAction(menu.Menu()->actions().at(2));
  QImage shot = menu.Menu()->grab().toImage();
  ASSERT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(QString::fromStdString((OutputDir() / "ui_menu.png").string())));
}

}  // namespace
