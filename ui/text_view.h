// The widgets behind ui::TextView. Private to ui/ (and its tests): the programs speak to the
// element.
//
// The view keeps the GBK bytes as they were given and an index of where each line starts. Only
// the lines on screen are converted for the toolkit and laid out; a few screens of them stay in
// a cache. It scrolls by logical lines, as a plain-text editor does: the vertical scroll bar
// counts lines, and with wrapping on a line may take several rows.
#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QString>
#include <QTextLayout>
#include <QWidget>
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ui/skin.h"

namespace ui::detail {

// A read-only view of a large GBK text. Lines are split on "\n"; a "\r" before it belongs to the
// line break. Lines are numbered from 1 in its queries.
class LineView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit LineView(QWidget* parent);
  ~LineView() override;

  void SetText(Text text);
  const Text& GetText() const { return text_; }
  void SetTextColour(const QColor& colour);
  QColor TextColour() const { return textColour_; }
  void SetWrap(bool wrap);
  bool Wraps() const { return wrap_; }

  int LineCount() const { return static_cast<int>(starts_.size()); }
  // The line at the top of the view.
  int FirstVisibleLine() const;
  // The last line shown in full (the top line when even it does not fit).
  int LastFullyVisibleLine();
  // Top of the line in viewport pixels; -1 when it is not on screen.
  int LineTop(int line);
  // Rows the line takes at the current width: 1 without wrapping.
  int VisualRowsOfLine(int line);
  void ScrollToLine(int line);  // that line at the top, as far as the scroll range allows

  bool HasSelection() const;
  QString SelectedText() const;
  void SelectAll();
  void ClearSelection();
  void CopySelection() const;  // to the clipboard; nothing without a selection

  static constexpr int kMargin = 4;  // space around the text inside the frame

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // A place in the text: a line (0-based here) and a character of its toolkit text.
  struct Place {
    int line = 0;
    int column = 0;
    friend bool operator==(const Place&, const Place&) = default;
    friend bool operator<(const Place& a, const Place& b) {
      return a.line != b.line ? a.line < b.line : a.column < b.column;
    }
  };
  struct Laid {
    std::unique_ptr<QTextLayout> layout;
    qreal height = 0;
  };

  std::string_view LineBytes(int line) const;   // without its line break
  std::string_view LineBreak(int line) const;  // "\r\n", "\n" or nothing (the last line)
  QString LineString(int line) const;          // converted for the toolkit
  Laid& Layout(int line);
  qreal LineHeight(int line) { return Layout(line).height; }
  int LineLength(int line);  // characters of its toolkit text
  int LayoutWidth() const;
  qreal TopOffset() const;   // where the top line starts in the viewport
  qreal VisibleHeight() const;
  void Relayout();  // after a change of width, font or wrapping
  void UpdateScrollBars();
  void TrimCache();
  void PageDown();
  void PageUp();
  Place PlaceAt(QPoint viewportPoint);
  void ExtendSelectionTo(QPoint viewportPoint);
  void ShareSelection() const;  // the X11 primary selection, where the platform has one

  Text text_;
  std::vector<std::size_t> starts_;  // byte offset of every line's first byte
  int longestLine_ = 0;               // the line with the most bytes
  std::size_t longestBytes_ = 0;
  int longestWidth_ = -1;            // its measured width in pixels (-1: not yet measured)
  int measuredWidth_ = 0;            // widest line laid out so far, in pixels
  QColor textColour_{0, 0, 0, 254};
  bool wrap_ = true;
  std::unordered_map<int, Laid> cache_;
  int cachedWidth_ = -1;
  bool updatingBars_ = false;

  std::optional<Place> anchor_;
  Place cursor_;
  bool selecting_ = false;
  QPoint dragPoint_;
  QBasicTimer dragTimer_;
};

// The panel behind the text view: gradient and border; the line view lies on it.
class TextPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TextPanel(QWidget* parent);
  LineView* view;
  Colour colourRef = 0;
  std::optional<QColor> top, bottom;
  int borderStyle = 0;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace ui::detail
