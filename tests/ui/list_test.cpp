// The list element: rows and columns from 1, searching, deleting, selection and the right-click
// rule, bulk filling.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QMouseEvent>
#include <QTableView>

#include "tests/ui/ui_app.h"
#include "ui/skin.h"

using namespace common::literals;

namespace {

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uitest::App();
    window.BindSkin("", std::nullopt, 0);
    list.AddColumn(" 当前显示非官方文件名称："_gbk, 380);
    list.AddColumn(" 智能-ImagePacks2文件列表-名称核对"_gbk, 210);
    list.AddColumn("文件修改时间"_gbk, 100, true);
  }
  void Fill(const std::vector<common::Text>& firstColumn) {
    std::vector<std::vector<common::Text>> rows;
    for (const auto& text : firstColumn) rows.push_back({text, "label", "2024年1月1日"_gbk});
    list.AppendRows(std::move(rows));
  }
  QTableView* View() const { return static_cast<QTableView*>(list.Widget()); }

  uitest::AppReady app;
  ui::SkinWindow window{718, 420};
  ui::List list{&window, 9, 70, 700, 309};
};

TEST_F(ListTest, ColumnsKeepTitlesWidthsAndAlignment) {
  ASSERT_EQ(list.ColumnCount(), 3);
  struct Case {
    int column;
    common::Text title;
    int width;
    bool centred;
  };
  const Case cases[] = {{1, " 当前显示非官方文件名称："_gbk, 380, false},
                        {2, " 智能-ImagePacks2文件列表-名称核对"_gbk, 210, false},
                        {3, "文件修改时间"_gbk, 100, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(list.ColumnTitle(c.column), c.title);
    EXPECT_EQ(list.ColumnWidth(c.column), c.width);
    EXPECT_EQ(list.ColumnCentred(c.column), c.centred);
    QString shown = View()->model()->headerData(c.column - 1, Qt::Horizontal).toString();
    EXPECT_EQ(ui::FromQ(shown), c.title);
  }
  EXPECT_EQ(list.ColumnTitle(0), "");
  EXPECT_EQ(list.ColumnTitle(4), "");
}

TEST_F(ListTest, RowsAndCellsCountFromOne) {
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.AppendRow(), 1);
  EXPECT_EQ(list.AppendRow(), 2);
  list.SetCell(1, 1, "a.npk");
  list.SetCell(2, 3, "2024年5月6日"_gbk);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Cell(1, 1), "a.npk");
  EXPECT_EQ(list.Cell(2, 3), "2024年5月6日"_gbk);
  EXPECT_EQ(list.Cell(2, 1), "");
  // Outside the rows and columns: empty, and setting changes nothing.
  for (auto [row, column] : {std::pair{0, 1}, {3, 1}, {1, 0}, {-1, -1}}) {
    list.SetCell(row, column, "x");
    EXPECT_EQ(list.Cell(row, column), "") << row << "," << column;
  }
  EXPECT_EQ(list.Count(), 2);
  // The view shows the cell as the user reads it.
  EXPECT_EQ(View()->model()->index(1, 2).data().toString(), QStringLiteral("2024年5月6日"));
}

TEST_F(ListTest, FindRowSearchesColumnOneFromARow) {
  Fill({"a.npk", "b.npk", "a.npk", "A.NPK", "名.npk"_gbk});
  struct Case {
    common::Text text;
    int from;
    int found;
  };
  const Case cases[] = {
      {"a.npk", 1, 1}, {"a.npk", 2, 3}, {"a.npk", 4, 0},  {"A.NPK", 1, 4},        {"名.npk"_gbk, 1, 5},
      {"a.npk", 0, 1}, {"b.npk", -5, 2}, {"a.np", 1, 0},  {"label", 1, 0},        {"a.npk", 99, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(list.FindRow(c.text, c.from), c.found) << c.text << " from " << c.from;
  }
}

TEST_F(ListTest, DeleteRowMovesTheLaterRowsUpWithTheirSelection) {
  Fill({"1", "2", "3", "4"});
  list.SetSelected(4, true);
  list.DeleteRow(2);
  list.DeleteRow(0);
  list.DeleteRow(9);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Cell(1, 1), "1");
  EXPECT_EQ(list.Cell(2, 1), "3");
  EXPECT_EQ(list.Cell(3, 1), "4");
  EXPECT_EQ(list.SelectedRows(), std::vector<int>{3});
  list.RemoveAll();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.CurrentRow(), 0);
  EXPECT_TRUE(list.SelectedRows().empty());
}

TEST_F(ListTest, SelectionAndCurrentRow) {
  Fill({"1", "2", "3", "4", "5"});
  EXPECT_EQ(list.CurrentRow(), 0);
  list.SetSelected(5, true);
  list.SetSelected(2, true);
  list.SetSelected(4, true);
  list.SetSelected(4, false);
  list.SetSelected(7, true);
  EXPECT_EQ(list.SelectedRows(), (std::vector<int>{2, 5}));
  for (int row = 0; row <= 6; ++row) EXPECT_EQ(list.IsSelected(row), row == 2 || row == 5) << row;
  list.SetCurrentRow(3);
  EXPECT_EQ(list.CurrentRow(), 3);
  EXPECT_FALSE(list.IsSelected(3));  // making a row current selects nothing
  list.SetCurrentRow(0);
  EXPECT_EQ(list.CurrentRow(), 0);
}

TEST_F(ListTest, RightClickSelectsLikeALeftClickUnlessTheRowIsSelected) {
  struct Case {
    const char* name;
    int row;
    Qt::KeyboardModifiers modifiers;
    std::vector<int> selected;
    int current;
  };
  // Before each click rows 2 and 3 are selected and row 2 is current.
  const Case cases[] = {
      {"selected row", 3, Qt::NoModifier, {2, 3}, 3},
      {"other row", 5, Qt::NoModifier, {5}, 5},
      {"other row with Ctrl", 5, Qt::ControlModifier, {2, 3, 5}, 5},
      {"other row with Shift", 5, Qt::ShiftModifier, {2, 3, 4, 5}, 5},
      {"below the last row", 0, Qt::NoModifier, {2, 3}, 0},
  };
  Fill({"1", "2", "3", "4", "5", "6"});
  for (const Case& c : cases) {
    for (int row = 1; row <= list.Count(); ++row) list.SetSelected(row, row == 2 || row == 3);
    list.SetCurrentRow(2);
    int calls = 0;
    std::vector<int> seenSelected;
    int seenCurrent = -1;
    list.SetRightClickHandler([&] {
      ++calls;
      seenSelected = list.SelectedRows();
      seenCurrent = list.CurrentRow();
    });
    list.RightClickRow(c.row, c.modifiers);
    EXPECT_EQ(calls, 1) << c.name;
    EXPECT_EQ(seenSelected, c.selected) << c.name;  // the rule ran before the handler
    EXPECT_EQ(seenCurrent, c.current) << c.name;
    EXPECT_EQ(list.SelectedRows(), c.selected) << c.name;
  }
}

TEST_F(ListTest, MouseButtonsOnTheView) {
  Fill({"1", "2", "3", "4", "5", "6"});
  window.show();
  QWidget* viewport = View()->viewport();
  auto press = [&](Qt::MouseButton button, int row, Qt::KeyboardModifiers modifiers) {
    QPoint at = row > 0 ? View()->visualRect(View()->model()->index(row - 1, 0)).center()
                        : QPoint(20, viewport->height() - 5);
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(at), viewport->mapToGlobal(QPointF(at)), button,
                     button, modifiers);
    QApplication::sendEvent(viewport, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(at), viewport->mapToGlobal(QPointF(at)), button,
                   Qt::NoButton, modifiers);
    QApplication::sendEvent(viewport, &up);
  };
  int rightClicks = 0;
  list.SetRightClickHandler([&] { ++rightClicks; });

  press(Qt::LeftButton, 2, Qt::NoModifier);
  press(Qt::LeftButton, 4, Qt::ControlModifier);
  EXPECT_EQ(list.SelectedRows(), (std::vector<int>{2, 4}));
  press(Qt::LeftButton, 6, Qt::ShiftModifier);
  EXPECT_EQ(list.SelectedRows(), (std::vector<int>{2, 4, 5, 6}));
  EXPECT_EQ(rightClicks, 0);

  press(Qt::RightButton, 5, Qt::NoModifier);  // selected: stays
  EXPECT_EQ(list.SelectedRows(), (std::vector<int>{2, 4, 5, 6}));
  EXPECT_EQ(list.CurrentRow(), 5);
  press(Qt::RightButton, 3, Qt::NoModifier);  // not selected: selected alone
  EXPECT_EQ(list.SelectedRows(), std::vector<int>{3});
  EXPECT_EQ(list.CurrentRow(), 3);
  press(Qt::RightButton, 0, Qt::NoModifier);  // empty space
  EXPECT_EQ(list.SelectedRows(), std::vector<int>{3});
  EXPECT_EQ(list.CurrentRow(), 0);
  EXPECT_EQ(rightClicks, 3);
}

TEST_F(ListTest, TwentyThousandRowsInOneAppend) {
  std::vector<std::vector<common::Text>> rows;
  for (int i = 1; i <= 20000; ++i) {
    rows.push_back({"file" + std::to_string(i) + ".npk", "标签"_gbk, "2024年1月1日"_gbk});
  }
  int inserts = 0;
  QObject::connect(View()->model(), &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
  list.AppendRows(std::move(rows));
  EXPECT_EQ(inserts, 1);
  ASSERT_EQ(list.Count(), 20000);
  EXPECT_EQ(list.Cell(20000, 1), "file20000.npk");
  EXPECT_EQ(list.Cell(1, 2), "标签"_gbk);
  EXPECT_EQ(list.FindRow("file19999.npk"), 19999);
  View()->selectAll();
  EXPECT_EQ(list.SelectedRows().size(), 20000u);
  // Rows keep one height, so the view never measures them one by one.
  EXPECT_EQ(View()->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
}

TEST_F(ListTest, RedrawSuspensionsNest) {
  list.SuspendRedraw();
  list.SuspendRedraw();
  Fill({"1"});
  list.ResumeRedraw();
  EXPECT_FALSE(View()->updatesEnabled());
  list.ResumeRedraw();
  EXPECT_TRUE(View()->updatesEnabled());
  list.ResumeRedraw();  // one too many: harmless
  list.SuspendRedraw();
  EXPECT_FALSE(View()->updatesEnabled());
  list.ResumeRedraw();
  EXPECT_TRUE(View()->updatesEnabled());
}

}  // namespace
