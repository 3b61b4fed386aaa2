#include "ui/text_view.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextOption>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "ui/skin_widgets.h"

namespace ui {

using namespace common::literals;

namespace detail {

namespace {

constexpr int kCacheLimit = 400;           // lines kept laid out: a few screens
constexpr int kCacheKeepBefore = 120;      // around the top line when the cache is trimmed
constexpr int kCacheKeepAfter = 240;
constexpr std::size_t kMeasureLimit = 20000;  // longer lines are estimated, not measured
constexpr int kDragScrollMs = 50;

const QColor kSelectionBackground(60, 130, 210, 170);
const QColor kSelectionText(255, 255, 255);
const QColor kDisabledText(130, 130, 130, 200);

bool IsAscii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

QString Convert(std::string_view gbk) {
  if (IsAscii(gbk)) return QString::fromLatin1(gbk.data(), static_cast<qsizetype>(gbk.size()));
  return QString::fromStdString(common::GbkToUtf8(gbk));
}

}  // namespace

// ---- line view

LineView::LineView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(false);
  viewport()->setAutoFillBackground(false);
  viewport()->setCursor(Qt::IBeamCursor);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalScrollBar()->setSingleStep(1);
  setStyleSheet(QStringLiteral(
      "QAbstractScrollArea { background: transparent; border: none; }"
      "QScrollBar:vertical { background: rgba(255,255,255,60); width: 10px; margin: 0; }"
      "QScrollBar:horizontal { background: rgba(255,255,255,60); height: 10px; margin: 0; }"
      "QScrollBar::handle { background: rgba(0,0,0,70); border-radius: 4px; min-height: 24px; "
      "min-width: 24px; margin: 1px; }"
      "QScrollBar::handle:hover { background: rgba(0,0,0,110); }"
      "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
      "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"));
  starts_.push_back(0);
}

LineView::~LineView() = default;

void LineView::SetText(Text text) {
  text_ = std::move(text);
  starts_.clear();
  starts_.reserve(text_.size() / 48 + 1);
  starts_.push_back(0);
  longestLine_ = 0;
  longestBytes_ = 0;
  const char* base = text_.data();
  const std::size_t size = text_.size();
  std::size_t from = 0;
  while (from < size) {
    const void* hit = std::memchr(base + from, '\n', size - from);
    if (hit == nullptr) break;
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
    if (end - from > longestBytes_) {
      longestBytes_ = end - from;
      longestLine_ = static_cast<int>(starts_.size()) - 1;
    }
    from = end + 1;
    starts_.push_back(from);
  }
  if (size - starts_.back() > longestBytes_) {
    longestBytes_ = size - starts_.back();
    longestLine_ = static_cast<int>(starts_.size()) - 1;
  }
  longestWidth_ = -1;
  measuredWidth_ = 0;
  cache_.clear();
  anchor_.reset();
  cursor_ = Place{};
  selecting_ = false;
  dragTimer_.stop();
  {
    // The new text starts at its top.
    const QSignalBlocker blockV(verticalScrollBar());
    const QSignalBlocker blockH(horizontalScrollBar());
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
  }
  UpdateScrollBars();
  viewport()->update();
}

void LineView::SetTextColour(const QColor& colour) {
  textColour_ = colour;
  viewport()->update();
}

void LineView::SetWrap(bool wrap) {
  if (wrap == wrap_) return;
  wrap_ = wrap;
  setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
  if (wrap) horizontalScrollBar()->setValue(0);
  Relayout();
}

std::string_view LineView::LineBytes(int line) const {
  const std::size_t begin = starts_[static_cast<std::size_t>(line)];
  const bool last = line + 1 >= LineCount();
  std::size_t end = last ? text_.size() : starts_[static_cast<std::size_t>(line) + 1] - 1;
  if (!last && end > begin && text_[end - 1] == '\r') --end;
  return std::string_view(text_).substr(begin, end - begin);
}

std::string_view LineView::LineBreak(int line) const {
  if (line + 1 >= LineCount()) return {};
  const std::size_t newline = starts_[static_cast<std::size_t>(line) + 1] - 1;
  if (newline > starts_[static_cast<std::size_t>(line)] && text_[newline - 1] == '\r') {
    return "\r\n";
  }
  return "\n";
}

QString LineView::LineString(int line) const { return Convert(LineBytes(line)); }

int LineView::LayoutWidth() const { return std::max(1, viewport()->width() - 2 * kMargin); }

LineView::Laid& LineView::Layout(int line) {
  const int width = LayoutWidth();
  if (wrap_ && width != cachedWidth_) cache_.clear();
  cachedWidth_ = width;
  auto found = cache_.find(line);
  if (found != cache_.end()) return found->second;

  QString shown = LineString(line);
  // Control characters other than the tab (a lone "\r") show as spaces, one for one, so that
  // columns stay those of the text.
  for (QChar& c : shown) {
    if (c.unicode() < 0x20 && c != QLatin1Char('\t')) c = QLatin1Char(' ');
  }
  Laid laid;
  laid.layout = std::make_unique<QTextLayout>(shown, font());
  QTextOption option;
  option.setWrapMode(wrap_ ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  option.setTabStopDistance(80);
  laid.layout->setTextOption(option);
  laid.layout->setCacheEnabled(true);
  laid.layout->beginLayout();
  qreal height = 0;
  qreal widest = 0;
  for (QTextLine row = laid.layout->createLine(); row.isValid(); row = laid.layout->createLine()) {
    row.setLeadingIncluded(true);
    row.setLineWidth(width);
    row.setPosition(QPointF(0, height));
    height += row.height();
    widest = std::max(widest, row.naturalTextWidth());
  }
  laid.layout->endLayout();
  laid.height = height;
  if (!wrap_) {
    const int natural = static_cast<int>(std::ceil(widest));
    if (natural > measuredWidth_) {
      measuredWidth_ = natural;
      const int needed = std::max(0, measuredWidth_ + 2 * kMargin - viewport()->width());
      if (!updatingBars_ && needed > horizontalScrollBar()->maximum()) {
        // A line wider than the estimate widens the horizontal range, after the paint that
        // found it (a new bar resizes the viewport).
        QMetaObject::invokeMethod(this, [this] { UpdateScrollBars(); }, Qt::QueuedConnection);
      }
    }
  }
  return cache_.emplace(line, std::move(laid)).first->second;
}

int LineView::LineLength(int line) {
  auto found = cache_.find(line);
  if (found != cache_.end()) return static_cast<int>(found->second.layout->text().size());
  return static_cast<int>(LineString(line).size());
}

qreal LineView::TopOffset() const { return verticalScrollBar()->value() == 0 ? kMargin : 0; }

qreal LineView::VisibleHeight() const { return viewport()->height(); }

void LineView::Relayout() {
  cache_.clear();
  measuredWidth_ = 0;
  longestWidth_ = -1;
  UpdateScrollBars();
  viewport()->update();
}

void LineView::TrimCache() {
  if (static_cast<int>(cache_.size()) <= kCacheLimit) return;
  const int top = verticalScrollBar()->value();
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (it->first < top - kCacheKeepBefore || it->first > top + kCacheKeepAfter) {
      it = cache_.erase(it);
    } else {
      ++it;
    }
  }
}

void LineView::UpdateScrollBars() {
  if (updatingBars_) return;
  updatingBars_ = true;
  // The bar's range hides or shows a bar, which resizes the viewport and may change the rows of
  // wrapped lines: settle in a few rounds.
  for (int round = 0; round < 3; ++round) {
    const QSize before = viewport()->size();
    // The lines that fill the last screen, as a plain-text editor counts them: whole lines from
    // the bottom up within the height less the bottom margin.
    const qreal visible = VisibleHeight() - kMargin - 1;
    qreal used = 0;
    int fromBottom = 0;
    for (int line = LineCount() - 1; line >= 0; --line) {
      used += LineHeight(line);
      if (used > visible) break;
      ++fromBottom;
    }
    fromBottom = std::max(1, fromBottom);
    QScrollBar* vertical = verticalScrollBar();
    vertical->setPageStep(fromBottom);
    vertical->setRange(0, std::max(0, LineCount() - fromBottom));

    QScrollBar* horizontal = horizontalScrollBar();
    if (wrap_) {
      horizontal->setRange(0, 0);
    } else {
      if (longestWidth_ < 0) {
        if (longestBytes_ <= kMeasureLimit) {
          longestWidth_ = QFontMetrics(font()).horizontalAdvance(LineString(longestLine_));
        } else {
          // Double-byte characters are about twice as wide as the average one.
          longestWidth_ = static_cast<int>(std::min<std::size_t>(
              longestBytes_ * static_cast<std::size_t>(QFontMetrics(font()).averageCharWidth()),
              1u << 24));
        }
      }
      const int content = std::max(longestWidth_, measuredWidth_) + 2 * kMargin;
      horizontal->setPageStep(std::max(1, viewport()->width()));
      horizontal->setSingleStep(std::max(1, QFontMetrics(font()).averageCharWidth() * 2));
      horizontal->setRange(0, std::max(0, content - viewport()->width()));
    }
    if (viewport()->size() == before) break;
  }
  updatingBars_ = false;
}

int LineView::FirstVisibleLine() const { return verticalScrollBar()->value() + 1; }

int LineView::LastFullyVisibleLine() {
  const int first = verticalScrollBar()->value();
  qreal y = TopOffset();
  int last = first;
  for (int line = first; line < LineCount(); ++line) {
    y += LineHeight(line);
    if (y > VisibleHeight()) break;
    last = line;
  }
  return last + 1;
}

int LineView::LineTop(int line) {
  const int first = verticalScrollBar()->value();
  if (line - 1 < first || line > LineCount()) return -1;
  qreal y = TopOffset();
  for (int i = first; i < line - 1 && y < VisibleHeight(); ++i) y += LineHeight(i);
  return y < VisibleHeight() ? static_cast<int>(std::ceil(y)) : -1;
}

int LineView::VisualRowsOfLine(int line) {
  if (line < 1 || line > LineCount()) return 0;
  return Layout(line - 1).layout->lineCount();
}

void LineView::ScrollToLine(int line) { verticalScrollBar()->setValue(line - 1); }

void LineView::PageDown() {
  const int first = verticalScrollBar()->value();
  int next = LastFullyVisibleLine();  // the first line not shown in full (0-based)
  if (next <= first) next = first + 1;
  verticalScrollBar()->setValue(next);
}

void LineView::PageUp() {
  const int first = verticalScrollBar()->value();
  qreal used = 0;
  int top = first;
  for (int line = first - 1; line >= 0; --line) {
    used += LineHeight(line);
    if (used > VisibleHeight() - kMargin) break;
    top = line;
  }
  if (top == first && first > 0) top = first - 1;
  verticalScrollBar()->setValue(top);
}

// ---- selection

bool LineView::HasSelection() const { return anchor_.has_value() && !(*anchor_ == cursor_); }

QString LineView::SelectedText() const {
  if (!HasSelection()) return {};
  const Place from = std::min(*anchor_, cursor_);
  const Place to = std::max(*anchor_, cursor_);
  const int last = LineCount() - 1;
  if (from == Place{} && to.line == last && to.column >= LineString(last).size()) {
    return ToQ(text_);  // everything, the text exactly as given
  }
  QString out;
  for (int line = from.line; line <= to.line; ++line) {
    const QString text = LineString(line);
    const int begin = line == from.line ? from.column : 0;
    const int end = line == to.line ? std::min<int>(to.column, static_cast<int>(text.size()))
                                    : static_cast<int>(text.size());
    if (end > begin) out += text.mid(begin, end - begin);
    if (line < to.line) {
      const std::string_view lineBreak = LineBreak(line);
      out += QString::fromLatin1(lineBreak.data(), static_cast<qsizetype>(lineBreak.size()));
    }
  }
  return out;
}

void LineView::SelectAll() {
  anchor_ = Place{};
  const int last = LineCount() - 1;
  cursor_ = Place{last, LineLength(last)};
  ShareSelection();
  viewport()->update();
}

void LineView::ClearSelection() {
  anchor_.reset();
  viewport()->update();
}

void LineView::CopySelection() const {
  if (!HasSelection()) return;
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(SelectedText());
}

void LineView::ShareSelection() const {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard != nullptr && clipboard->supportsSelection() && HasSelection()) {
    clipboard->setText(SelectedText(), QClipboard::Selection);
  }
}

LineView::Place LineView::PlaceAt(QPoint point) {
  const int first = verticalScrollBar()->value();
  const int last = LineCount() - 1;
  qreal y = TopOffset();
  if (point.y() < y) return Place{first, 0};
  const qreal x = point.x() - kMargin + horizontalScrollBar()->value();
  for (int line = first; line <= last; ++line) {
    Laid& laid = Layout(line);
    if (point.y() < y + laid.height || line == last) {
      QTextLayout& layout = *laid.layout;
      if (point.y() >= y + laid.height) return Place{line, static_cast<int>(layout.text().size())};
      const qreal local = point.y() - y;
      for (int r = 0; r < layout.lineCount(); ++r) {
        const QTextLine row = layout.lineAt(r);
        if (local < row.y() + row.height() || r + 1 == layout.lineCount()) {
          return Place{line, row.xToCursor(x)};
        }
      }
      return Place{line, 0};
    }
    y += laid.height;
  }
  return Place{last, LineLength(last)};
}

void LineView::ExtendSelectionTo(QPoint point) {
  const QRect area = viewport()->rect();
  const QPoint inside(std::clamp(point.x(), area.left(), area.right()),
                      std::clamp(point.y(), area.top(), area.bottom()));
  const Place place = PlaceAt(inside);
  if (!(place == cursor_)) {
    cursor_ = place;
    viewport()->update();
  }
}

// ---- events

void LineView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setPen(isEnabled() ? textColour_ : kDisabledText);
  const QRectF clip = event->rect();
  const int first = verticalScrollBar()->value();
  const qreal left = kMargin - horizontalScrollBar()->value();
  const bool selection = HasSelection();
  const Place from = selection ? std::min(*anchor_, cursor_) : Place{};
  const Place to = selection ? std::max(*anchor_, cursor_) : Place{};
  QTextCharFormat selected;
  selected.setBackground(kSelectionBackground);
  selected.setForeground(kSelectionText);

  qreal y = TopOffset();
  for (int line = first; line < LineCount() && y < clip.bottom() + 1; ++line) {
    Laid& laid = Layout(line);
    if (y + laid.height >= clip.top()) {
      QList<QTextLayout::FormatRange> ranges;
      if (selection && line >= from.line && line <= to.line) {
        const int length = static_cast<int>(laid.layout->text().size());
        const int begin = line == from.line ? from.column : 0;
        const int end = line == to.line ? std::min(to.column, length) : length;
        if (end > begin) ranges.append({begin, end - begin, selected});
        if (line < to.line && laid.layout->lineCount() > 0) {
          // The selected line break: a narrow mark after the line's last row.
          const QTextLine row = laid.layout->lineAt(laid.layout->lineCount() - 1);
          painter.fillRect(QRectF(left + row.naturalTextWidth(), y + row.y(), 4, row.height()),
                           kSelectionBackground);
        }
      }
      laid.layout->draw(&painter, QPointF(left, y), ranges, clip);
    }
    y += laid.height;
  }
  TrimCache();
}

void LineView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
  viewport()->update();
}

void LineView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) Relayout();
}

void LineView::scrollContentsBy(int, int) { viewport()->update(); }

void LineView::keyPressEvent(QKeyEvent* event) {
  QScrollBar* vertical = verticalScrollBar();
  QScrollBar* horizontal = horizontalScrollBar();
  if (event == QKeySequence::SelectAll) {
    SelectAll();
  } else if (event == QKeySequence::Copy) {
    CopySelection();
  } else {
    switch (event->key()) {
      case Qt::Key_Up: vertical->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
      case Qt::Key_Down: vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
      case Qt::Key_Left: horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
      case Qt::Key_Right: horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
      case Qt::Key_PageUp: PageUp(); break;
      case Qt::Key_PageDown: PageDown(); break;
      case Qt::Key_Home:
        vertical->setValue(vertical->minimum());
        horizontal->setValue(horizontal->minimum());
        break;
      case Qt::Key_End:
        vertical->setValue(vertical->maximum());
        horizontal->setValue(horizontal->minimum());
        break;
      case Qt::Key_Escape:
        if (!HasSelection()) {
          event->ignore();
          return;
        }
        ClearSelection();
        break;
      default: event->ignore(); return;
    }
  }
  event->accept();
}

void LineView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  const QPoint point = event->position().toPoint();
  const Place place = PlaceAt(point);
  if (!(event->modifiers() & Qt::ShiftModifier) || !anchor_) anchor_ = place;
  cursor_ = place;
  selecting_ = true;
  dragPoint_ = point;
  viewport()->update();
  event->accept();
}

void LineView::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_) return;
  dragPoint_ = event->position().toPoint();
  ExtendSelectionTo(dragPoint_);
  const bool outside = dragPoint_.y() < 0 || dragPoint_.y() >= viewport()->height();
  if (outside && !dragTimer_.isActive()) dragTimer_.start(kDragScrollMs, this);
  if (!outside) dragTimer_.stop();
}

void LineView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !selecting_) return;
  selecting_ = false;
  dragTimer_.stop();
  ShareSelection();
}

void LineView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // The word under the pointer.
  const Place place = PlaceAt(event->position().toPoint());
  const QString text = Layout(place.line).layout->text();
  QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
  words.setPosition(std::min<int>(place.column, static_cast<int>(text.size())));
  int begin = words.isAtBoundary() && (words.boundaryReasons() & QTextBoundaryFinder::StartOfItem)
                  ? static_cast<int>(words.position())
                  : static_cast<int>(words.toPreviousBoundary());
  words.setPosition(begin < 0 ? 0 : begin);
  int end = static_cast<int>(words.toNextBoundary());
  if (begin < 0) begin = 0;
  if (end < 0) end = static_cast<int>(text.size());
  anchor_ = Place{place.line, begin};
  cursor_ = Place{place.line, end};
  selecting_ = false;
  ShareSelection();
  viewport()->update();
}

void LineView::timerEvent(QTimerEvent* event) {
  if (event->timerId() != dragTimer_.timerId()) {
    QAbstractScrollArea::timerEvent(event);
    return;
  }
  if (!selecting_) {
    dragTimer_.stop();
    return;
  }
  QScrollBar* vertical = verticalScrollBar();
  if (dragPoint_.y() < 0) vertical->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (dragPoint_.y() >= viewport()->height()) {
    vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  }
  ExtendSelectionTo(dragPoint_);
}

// ---- panel

TextPanel::TextPanel(QWidget* parent) : QWidget(parent) { view = new LineView(this); }

void TextPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintPanel(p, rect(), top, bottom, borderStyle);
}

void TextPanel::resizeEvent(QResizeEvent*) {
  const int inset = borderStyle != 0 ? 1 : 0;
  view->setGeometry(rect().adjusted(inset, inset, -inset, -inset));
}

}  // namespace detail

// ---- TextView

namespace {
detail::TextPanel* AsPanel(QWidget* w) { return static_cast<detail::TextPanel*>(w); }
}  // namespace

TextView::TextView(SkinWindow* window, int x, int y, int width, int height)
    : Element(window, new detail::TextPanel(window), x, y, width, height) {
  AsPanel(widget_)->view->setFont(widget_->font());
}

void TextView::SetText(const Text& text) {
  if (!Alive()) return;
  AsPanel(widget_)->view->SetText(common::AsText(text));
}

Text TextView::GetText() const { return Alive() ? AsPanel(widget_)->view->GetText() : Text(); }

void TextView::SetTextColour(Colour colour) {
  if (!Alive()) return;
  AsPanel(widget_)->view->SetTextColour(ToQColor(colour));
  AsPanel(widget_)->colourRef = colour;
}

Colour TextView::TextColour() const { return Alive() ? AsPanel(widget_)->colourRef : 0; }

void TextView::SetFont(const Text& family, int pixelSize) {
  if (!Alive()) return;
  AsPanel(widget_)->view->setFont(SkinFont(family, pixelSize));
  widget_->setProperty("velmoraFamily", ToQ(family.empty() ? "宋体"_gbk : family));
}

Text TextView::FontFamily() const {
  if (!Alive()) return {};
  QVariant family = widget_->property("velmoraFamily");
  return family.isValid() ? FromQ(family.toString()) : "宋体"_gbk;
}

void TextView::SetWrap(bool wrap) {
  if (!Alive()) return;
  AsPanel(widget_)->view->SetWrap(wrap);
}

bool TextView::Wraps() const { return Alive() && AsPanel(widget_)->view->Wraps(); }

void TextView::SetGradient(Colour top, Colour bottom) {
  if (!Alive()) return;
  AsPanel(widget_)->top = ToQColor(top);
  AsPanel(widget_)->bottom = ToQColor(bottom);
  widget_->update();
}

void TextView::SetBorderStyle(int style) {
  if (!Alive()) return;
  AsPanel(widget_)->borderStyle = style;
  QResizeEvent event(widget_->size(), widget_->size());
  QApplication::sendEvent(widget_, &event);
  widget_->update();
}

}  // namespace ui
