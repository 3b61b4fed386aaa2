// The read-only text view: what it keeps, how it lays out and scrolls, what it copies.
#include "ui/text_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <memory>
#include <string>

#include "tests/ui/ui_app.h"
#include "ui/skin.h"

using namespace common::literals;

namespace {

using ui::detail::LineView;

class TextViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uitest::App();
    window_ = std::make_unique<ui::SkinWindow>(500, 400);
    view_ = std::make_unique<ui::TextView>(window_.get(), 9, 40, 300, 200);
    view_->SetFont("微软雅黑"_gbk, 12);
    view_->SetBorderStyle(4);
    window_->show();
    QApplication::processEvents();
    lines_ = view_->Widget()->findChild<LineView*>();
    ASSERT_NE(lines_, nullptr);
  }

  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(lines_, &press);
  }

  void Mouse(QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* viewport = lines_->viewport();
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(viewport->mapToGlobal(at)), Qt::LeftButton, held,
                      modifiers);
    QApplication::sendEvent(viewport, &event);
  }

  // "line 1\r\n" ... "line N\r\n": N + 1 lines, the last one empty.
  static common::Text Numbered(int count) {
    common::Text text;
    for (int i = 1; i <= count; ++i) {
      text += "TEX    N|ALL|32|D:\\贴图\\sprite_map_天空之城_"_gbk + std::to_string(i) +
              ".npk\\shot.img\\\r\n";
    }
    return text;
  }

  std::unique_ptr<ui::SkinWindow> window_;
  std::unique_ptr<ui::TextView> view_;
  LineView* lines_ = nullptr;
};

TEST_F(TextViewTest, KeepsTheBytesItWasGivenAndCountsTheirLines) {
  struct Case {
    const char* name;
    common::Text text;
    common::Text kept;
    int lines;
  } const cases[] = {
      {"CR LF", "第一行\r\nline two\r\n"_gbk, "第一行\r\nline two\r\n"_gbk, 3},
      {"LF only", "a\nb\nc\n", "a\nb\nc\n", 4},
      {"no final break", "a\r\nb", "a\r\nb", 2},
      {"mixed breaks", "a\nb\r\nc", "a\nb\r\nc", 3},
      {"lone CR inside a line", "a\rb\r\n", "a\rb\r\n", 2},
      {"empty", "", "", 1},
      {"only a break", "\r\n", "\r\n", 2},
      {"double-byte characters", "乗り換え\r\n时装_鬼剑士\\0.img"_gbk, "乗り換え\r\n时装_鬼剑士\\0.img"_gbk, 2},
      {"euro sign and CP936 lead bytes", std::string("\x80\x81\x40\r\n", 5), std::string("\x80\x81\x40\r\n", 5), 2},
      {"ends at the first zero byte", std::string("ab\0cd\r\nef", 9), "ab", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    view_->SetText(c.text);
    EXPECT_EQ(view_->GetText(), c.kept);
    EXPECT_EQ(lines_->LineCount(), c.lines);
    lines_->SelectAll();
    EXPECT_EQ(lines_->SelectedText(), ui::ToQ(c.kept));
    view_->Widget()->grab();  // paints every line without trouble
  }
}

TEST_F(TextViewTest, ScrollsByLinesThroughALargeText) {
  const common::Text text = Numbered(40000);
  view_->SetText(text);
  ASSERT_EQ(lines_->LineCount(), 40001);
  QScrollBar* bar = lines_->verticalScrollBar();
  // The bar counts lines; its range ends where the last screen is full.
  EXPECT_GT(bar->pageStep(), 5);
  EXPECT_EQ(bar->maximum() + bar->pageStep(), 40001);
  EXPECT_EQ(lines_->FirstVisibleLine(), 1);

  struct Step {
    const char* name;
    int key;
    Qt::KeyboardModifiers modifiers;
  } const steps[] = {{"Ctrl+End", Qt::Key_End, Qt::ControlModifier},
                     {"End", Qt::Key_End, Qt::NoModifier}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(lines_->FirstVisibleLine(), 1);
    Key(step.key, step.modifiers);
    EXPECT_EQ(lines_->FirstVisibleLine(), bar->maximum() + 1);
    EXPECT_EQ(lines_->LastFullyVisibleLine(), 40001);
  }

  Key(Qt::Key_Home);
  const int lastShown = lines_->LastFullyVisibleLine();
  Key(Qt::Key_PageDown);
  EXPECT_EQ(lines_->FirstVisibleLine(), lastShown + 1);  // the next screen, no line skipped
  Key(Qt::Key_PageUp);
  EXPECT_EQ(lines_->FirstVisibleLine(), 1);
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  EXPECT_EQ(lines_->FirstVisibleLine(), 3);
  Key(Qt::Key_Up);
  EXPECT_EQ(lines_->FirstVisibleLine(), 2);

  // The wheel scrolls a few lines a notch.
  QWheelEvent wheel(QPointF(20, 20), QPointF(lines_->viewport()->mapToGlobal(QPoint(20, 20))),
                    QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                    false);
  QApplication::sendEvent(lines_->viewport(), &wheel);
  EXPECT_EQ(lines_->FirstVisibleLine(), 2 + QApplication::wheelScrollLines());

  // Far down, the lines shown are the ones of that place.
  lines_->ScrollToLine(30000);
  EXPECT_EQ(lines_->FirstVisibleLine(), 30000);
  lines_->SelectAll();
  EXPECT_EQ(ui::FromQ(lines_->SelectedText()), text);
  view_->Widget()->grab();

  // A new text starts at its top, without the old selection.
  view_->SetText("one\r\ntwo");
  EXPECT_EQ(lines_->FirstVisibleLine(), 1);
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_FALSE(lines_->HasSelection());
  EXPECT_EQ(lines_->SelectedText(), QString());
  view_->Widget()->grab();
}

TEST_F(TextViewTest, WrappingLaysOutLongLinesOnSeveralRows) {
  const common::Text longAscii = "OPEN ImagePacks2\\sprite_interface_newstyle_windows_button.NPK "
                                 "LAUNCH sprite/interface/newstyle/windows/button1024.img";
  common::Text longChinese;
  for (int i = 0; i < 60; ++i) longChinese += "贴图"_gbk;
  view_->SetText(longAscii + "\r\nshort\r\n" + longChinese);
  ASSERT_EQ(lines_->LineCount(), 3);
  ASSERT_TRUE(view_->Wraps());  // the view wraps until told otherwise

  struct Expect {
    const char* name;
    int line;
  } const longLines[] = {{"words", 1}, {"Chinese without spaces", 3}};
  for (const Expect& e : longLines) {
    SCOPED_TRACE(e.name);
    EXPECT_GT(lines_->VisualRowsOfLine(e.line), 1);
  }
  EXPECT_EQ(lines_->VisualRowsOfLine(2), 1);
  EXPECT_EQ(lines_->horizontalScrollBar()->maximum(), 0);

  // A narrower view wraps into more rows.
  const int rowsAtWidth = lines_->VisualRowsOfLine(3);
  view_->Widget()->resize(160, 200);
  QApplication::processEvents();
  EXPECT_GT(lines_->VisualRowsOfLine(3), rowsAtWidth);
  view_->Widget()->resize(300, 200);
  QApplication::processEvents();
  EXPECT_EQ(lines_->VisualRowsOfLine(3), rowsAtWidth);

  // A larger font takes more rows too.
  view_->SetFont("微软雅黑"_gbk, 20);
  EXPECT_GT(lines_->VisualRowsOfLine(3), rowsAtWidth);
  view_->SetFont("微软雅黑"_gbk, 12);

  view_->SetWrap(false);
  EXPECT_FALSE(view_->Wraps());
  for (const Expect& e : longLines) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(lines_->VisualRowsOfLine(e.line), 1);
  }
  // The longest line reaches past the view: the horizontal bar covers it.
  QScrollBar* across = lines_->horizontalScrollBar();
  const int chineseWidth = QFontMetrics(lines_->font()).horizontalAdvance(ui::ToQ(longChinese));
  EXPECT_GE(across->maximum() + lines_->viewport()->width(), chineseWidth);
  Key(Qt::Key_Right);
  EXPECT_GT(across->value(), 0);
  Key(Qt::Key_Home);
  EXPECT_EQ(across->value(), 0);

  view_->SetWrap(true);
  EXPECT_GT(lines_->VisualRowsOfLine(3), 1);
  EXPECT_EQ(across->maximum(), 0);
}

TEST_F(TextViewTest, CopiesWhatIsSelected) {
  const common::Text text = "第一行 alpha beta\r\nline two\r\n第三行\nlast"_gbk;
  view_->SetText(text);
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(QStringLiteral("before"));

  // Nothing selected: Ctrl+C leaves the clipboard alone.
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), QStringLiteral("before"));

  // Ctrl+A, Ctrl+C: the whole text, its line breaks as they were.
  Key(Qt::Key_A, Qt::ControlModifier);
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), ui::ToQ(text));
  EXPECT_EQ(ui::ClipboardText(), text);

  // Dragging from the left edge of line 2 to the left edge of line 4 takes lines 2 and 3.
  const int second = lines_->LineTop(2);
  const int fourth = lines_->LineTop(4);
  ASSERT_GE(second, 0);
  ASSERT_GT(fourth, second);
  Mouse(QEvent::MouseButtonPress, QPoint(0, second + 2));
  Mouse(QEvent::MouseMove, QPoint(0, fourth + 2));
  Mouse(QEvent::MouseButtonRelease, QPoint(0, fourth + 2));
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), QStringLiteral("line two\r\n第三行\n"));

  // Shift+click extends the selection to the end of the text.
  Mouse(QEvent::MouseButtonPress, QPoint(290, fourth + 2), Qt::ShiftModifier);
  Mouse(QEvent::MouseButtonRelease, QPoint(290, fourth + 2), Qt::ShiftModifier);
  EXPECT_EQ(lines_->SelectedText(), QStringLiteral("line two\r\n第三行\nlast"));

  // A double click takes the word under the pointer.
  const QFontMetrics metrics(lines_->font());
  const int x = LineView::kMargin + metrics.horizontalAdvance(QStringLiteral("第一行 alpha be"));
  Mouse(QEvent::MouseButtonDblClick, QPoint(x, lines_->LineTop(1) + 2));
  EXPECT_EQ(lines_->SelectedText(), QStringLiteral("beta"));

  // A click without a drag selects nothing; Escape drops a selection.
  Mouse(QEvent::MouseButtonPress, QPoint(20, second + 2));
  Mouse(QEvent::MouseButtonRelease, QPoint(20, second + 2));
  EXPECT_FALSE(lines_->HasSelection());
  Key(Qt::Key_A, Qt::ControlModifier);
  Key(Qt::Key_Escape);
  EXPECT_FALSE(lines_->HasSelection());
}

TEST_F(TextViewTest, DraggingPastTheBottomScrollsAndSelectsOn) {
  view_->SetText(Numbered(200));
  const int height = lines_->viewport()->height();
  Mouse(QEvent::MouseButtonPress, QPoint(0, lines_->LineTop(1) + 2));
  Mouse(QEvent::MouseMove, QPoint(10, height + 30));
  // The drag keeps scrolling while the pointer stays below the view.
  QElapsedTimer waited;
  waited.start();
  while (lines_->FirstVisibleLine() < 4 && waited.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  Mouse(QEvent::MouseButtonRelease, QPoint(10, height + 30));
  const int first = lines_->FirstVisibleLine();
  ASSERT_GE(first, 4);
  // The selection runs from the top of the text into the lines now at the bottom.
  const QString selected = lines_->SelectedText();
  EXPECT_TRUE(selected.startsWith(QStringLiteral("TEX")));
  EXPECT_GE(selected.count(QStringLiteral("\r\n")), lines_->LastFullyVisibleLine() - 1);
}

}  // namespace
