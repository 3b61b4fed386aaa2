#include "ui/skin.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "platform/files.h"
#include "platform/paths.h"
#include "ui/skin_widgets.h"

namespace ui {

using namespace common::literals;

// ---------------------------------------------------------------------------------------------
// Texts, colours, fonts

QString ToQ(const Text& gbk) {
  std::size_t end = gbk.find('\0');
  if (end == Text::npos) end = gbk.size();
  bool ascii = true;
  for (std::size_t i = 0; i < end; ++i) {
    if (static_cast<unsigned char>(gbk[i]) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return QString::fromLatin1(gbk.data(), static_cast<qsizetype>(end));
  return QString::fromStdString(common::GbkToUtf8(std::string_view(gbk.data(), end)));
}

Text FromQ(const QString& text) {
  bool ascii = true;
  for (QChar c : text) {
    if (c.unicode() >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    Text out = text.toLatin1().toStdString();
    return common::AsText(out);
  }
  return common::Utf8ToGbkText(text.toStdString());
}

QColor ToQColor(Colour colour) {
  int alpha = static_cast<int>((colour >> 24) & 0xFF);
  if (alpha == 0 || alpha == 255) alpha = 254;
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF), alpha);
}

Colour FromQColor(const QColor& colour) {
  return Rgba(colour.red(), colour.green(), colour.blue(), colour.alpha());
}

QFont SkinFont(const Text& family, int pixelSize) {
  static const Text kSong = "宋体"_gbk;
  static const Text kYaHei = "微软雅黑"_gbk;
  static const Text kHei = "黑体"_gbk;
  QStringList families;
  if (family.empty() || family == kSong) {
    families = {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun")};
  } else if (family == kYaHei) {
    families = {QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei")};
  } else if (family == kHei) {
    families = {QStringLiteral("黑体"), QStringLiteral("SimHei")};
  } else {
    families = {ToQ(family)};
  }
  families << QStringLiteral("WenQuanYi Micro Hei") << QStringLiteral("Noto Sans CJK SC")
           << QStringLiteral("Droid Sans Fallback");
  QFont font;
  font.setFamilies(families);
  font.setPixelSize(pixelSize > 0 ? pixelSize : 12);
  font.setWeight(QFont::Normal);
  font.setStyleStrategy(QFont::PreferAntialias);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

// ---------------------------------------------------------------------------------------------
// Painting helpers

namespace detail {

QColor ContrastColour(const QColor& colour) {
  double luminance = 0.299 * colour.red() + 0.587 * colour.green() + 0.114 * colour.blue();
  return luminance > 150 ? QColor(25, 25, 25, 254) : QColor(255, 255, 255, 254);
}

void PaintPanel(QPainter& painter, const QRect& rect, const std::optional<QColor>& top,
                const std::optional<QColor>& bottom, int borderStyle) {
  if (top || bottom) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, top ? *top : *bottom);
    gradient.setColorAt(1, bottom ? *bottom : *top);
    painter.fillRect(rect, gradient);
  }
  if (borderStyle != 0) {
    QPen pen(QColor(0, 0, 0, 90));
    pen.setWidth(1);
    pen.setStyle(borderStyle == 4 ? Qt::DashLine : Qt::SolidLine);
    if (borderStyle == 4) pen.setDashPattern({3, 2});
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.restore();
  }
}

// ---- push button

SkinButton::SkinButton(QWidget* parent) : QAbstractButton(parent) {
  setAttribute(Qt::WA_Hover, true);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::PointingHandCursor);
}

void SkinButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void SkinButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void SkinButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  bool enabled = isEnabled();
  bool down = isDown() && enabled;
  bool hover = hovered_ && enabled;
  QLinearGradient fill(r.topLeft(), r.bottomLeft());
  if (!enabled) {
    fill.setColorAt(0, QColor(235, 235, 235, 110));
    fill.setColorAt(1, QColor(215, 215, 215, 110));
  } else if (down) {
    fill.setColorAt(0, QColor(205, 215, 228, 225));
    fill.setColorAt(1, QColor(228, 234, 242, 225));
  } else if (hover) {
    fill.setColorAt(0, QColor(255, 255, 255, 235));
    fill.setColorAt(1, QColor(228, 238, 250, 235));
  } else {
    fill.setColorAt(0, QColor(255, 255, 255, 185));
    fill.setColorAt(1, QColor(236, 238, 242, 175));
  }
  p.setBrush(fill);
  QColor border = hover ? QColor(60, 130, 210, 200) : QColor(0, 0, 0, enabled ? 75 : 45);
  p.setPen(QPen(border, 1));
  p.drawRoundedRect(r, 3.5, 3.5);
  if (enabled && !down) {
    p.setPen(QPen(QColor(255, 255, 255, 150), 1));
    p.drawLine(QPointF(r.left() + 3, r.top() + 1), QPointF(r.right() - 3, r.top() + 1));
  }
  // A pale text colour stays readable on the light face: same hue, darker.
  QColor textColour = this->textColour;
  if (textColour.lightness() > 185) {
    textColour = QColor::fromHsl(textColour.hslHue() < 0 ? 0 : textColour.hslHue(),
                                 textColour.hslSaturation(), 105, textColour.alpha());
  }
  if (!enabled) textColour = QColor(120, 120, 120, 200);
  p.setPen(textColour);
  p.setFont(font());
  QRect textRect = rect();
  if (down) textRect.translate(0, 1);
  p.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text());
}

// ---- caption button

CaptionButton::CaptionButton(QWidget* parent, int flag) : QAbstractButton(parent), flag_(flag) {
  setAttribute(Qt::WA_Hover, true);
  setFocusPolicy(Qt::NoFocus);
}

void CaptionButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void CaptionButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void CaptionButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  QRectF r = QRectF(rect());
  if (hovered_ || isDown()) {
    QColor back = flag_ == kCaptionClose ? QColor(226, 60, 50, isDown() ? 255 : 220)
                                         : QColor(255, 255, 255, isDown() ? 110 : 70);
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 3, 3);
  }
  QColor glyph = (hovered_ && flag_ == kCaptionClose) ? QColor(255, 255, 255) : glyphColour;
  QPen pen(glyph, 1.4);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  QPointF c = r.center();
  const double s = 4.5;
  switch (flag_) {
    case kCaptionClose:
      p.drawLine(QPointF(c.x() - s, c.y() - s), QPointF(c.x() + s, c.y() + s));
      p.drawLine(QPointF(c.x() + s, c.y() - s), QPointF(c.x() - s, c.y() + s));
      break;
    case kCaptionMaximise:
      p.drawRect(QRectF(c.x() - s, c.y() - s + 0.5, 2 * s, 2 * s - 1));
      break;
    case kCaptionMinimise:
      p.drawLine(QPointF(c.x() - s, c.y() + 2), QPointF(c.x() + s, c.y() + 2));
      break;
    case kCaptionMenu:
      for (int i = -1; i <= 1; ++i) {
        double y = c.y() + i * 3.5;
        p.drawLine(QPointF(c.x() - s, y), QPointF(c.x() + s, y));
      }
      break;
    case kCaptionSkin: {
      // A small T-shirt: the skin to change.
      QPainterPath shirt;
      shirt.moveTo(c.x() - 2, c.y() - 5);
      shirt.lineTo(c.x() - 6, c.y() - 3);
      shirt.lineTo(c.x() - 4.5, c.y());
      shirt.lineTo(c.x() - 3, c.y() - 1);
      shirt.lineTo(c.x() - 3, c.y() + 5);
      shirt.lineTo(c.x() + 3, c.y() + 5);
      shirt.lineTo(c.x() + 3, c.y() - 1);
      shirt.lineTo(c.x() + 4.5, c.y());
      shirt.lineTo(c.x() + 6, c.y() - 3);
      shirt.lineTo(c.x() + 2, c.y() - 5);
      shirt.quadTo(c.x(), c.y() - 2.5, c.x() - 2, c.y() - 5);
      p.drawPath(shirt);
      break;
    }
    default:
      break;
  }
}

// ---- label

SkinLabel::SkinLabel(QWidget* parent) : QWidget(parent) {}

void SkinLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  PaintPanel(p, rect(), top, bottom, borderStyle);
  p.setPen(isEnabled() ? textColour : QColor(130, 130, 130, 200));
  p.setFont(font());
  int flags = static_cast<int>(alignment);
  flags |= wrap ? Qt::TextWordWrap : Qt::TextSingleLine;
  QRect area = rect().adjusted(borderStyle != 0 ? 3 : 1, 1, borderStyle != 0 ? -3 : -1, -1);
  p.setClipRect(area);
  p.drawText(area, flags, text);
}

// ---- progress bar

SkinProgress::SkinProgress(QWidget* parent) : QWidget(parent) {}

void SkinProgress::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  double radius = std::min(4.0, r.height() / 2);
  p.setPen(QPen(QColor(0, 0, 0, 70), 1));
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawRoundedRect(r, radius, radius);
  double fraction = std::clamp(position, 0.0, 100.0) / 100.0;
  if (fraction > 0) {
    QRectF fillRect = r.adjusted(1.5, 1.5, -1.5, -1.5);
    fillRect.setWidth(fillRect.width() * fraction);
    QLinearGradient g(fillRect.topLeft(), fillRect.bottomLeft());
    QColor c = colour;
    c.setAlpha(235);
    g.setColorAt(0, c.lighter(135));
    g.setColorAt(0.5, c);
    g.setColorAt(1, c.darker(115));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(fillRect, radius - 1, radius - 1);
  }
  if (height() >= 14) {
    p.setFont(font());
    QString label = QString::number(std::clamp(position, 0.0, 100.0), 'f', 1) + QLatin1Char('%');
    p.setPen(QColor(255, 255, 255, 200));
    p.drawText(rect().translated(1, 1), Qt::AlignCenter, label);
    p.setPen(QColor(30, 30, 30, 254));
    p.drawText(rect(), Qt::AlignCenter, label);
  }
}

// ---- picture

SkinPicture::SkinPicture(QWidget* parent) : QWidget(parent) {}

void SkinPicture::paintEvent(QPaintEvent*) {
  if (pixmap.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  QSize size = pixmap.size().scaled(this->size(), Qt::KeepAspectRatio);
  QRect target(QPoint(0, 0), size);
  target.moveCenter(rect().center());
  p.drawPixmap(target, pixmap);
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Elements

Element::Element(SkinWindow* window, QWidget* widget, int x, int y, int width, int height)
    : window_(window), widget_(widget), id_(0), widgetGuard_(widget), windowGuard_(window) {
  if (window != nullptr) {
    id_ = window->NextElementId();
    widget->setParent(window);
    widget->setFont(window->font());
    window->RegisterElement(this);
  }
  widget->setGeometry(x, y, std::max(0, width), std::max(0, height));
  // Without a window the widget stays hidden rather than becoming a window of its own.
  if (window != nullptr) widget->show();
}

Element::~Element() {
  if (!windowGuard_.isNull()) windowGuard_->UnregisterElement(this);
  if (!widgetGuard_.isNull()) delete widgetGuard_.data();
}

void Element::SetVisible(bool visible) {
  if (Alive()) widget_->setVisible(visible);
}

bool Element::IsVisible() const { return Alive() && !widget_->isHidden(); }

void Element::SetEnabled(bool enabled) {
  if (Alive()) widget_->setEnabled(enabled);
}

bool Element::IsEnabled() const { return Alive() && widget_->isEnabled(); }

QRect Element::Geometry() const { return Alive() ? widget_->geometry() : QRect(); }

void Element::SetTip(const Text& tip) {
  tip_ = common::AsText(tip);
  if (Alive()) widget_->setToolTip(ToQ(tip_));
}

Text Element::Tip() const { return tip_; }

// ---- Button

namespace {
detail::SkinButton* AsButton(QWidget* w) { return static_cast<detail::SkinButton*>(w); }
detail::SkinLabel* AsLabel(QWidget* w) { return static_cast<detail::SkinLabel*>(w); }
}  // namespace

Button::Button(SkinWindow* window, const Text& text, int x, int y, int width, int height)
    : Element(window, new detail::SkinButton(window), x, y, width, height) {
  auto* button = AsButton(widget_);
  button->setText(ToQ(text));
  QObject::connect(button, &QAbstractButton::clicked, button, [w = QPointer<SkinWindow>(window), id = id_] {
    if (!w.isNull()) w->ReportEvent(id, kEventClick);
  });
}

void Button::SetText(const Text& text) {
  if (Alive()) AsButton(widget_)->setText(ToQ(text));
}

Text Button::GetText() const { return Alive() ? FromQ(AsButton(widget_)->text()) : Text(); }

void Button::SetTextColour(Colour colour) {
  if (!Alive()) return;
  AsButton(widget_)->textColour = ToQColor(colour);
  AsButton(widget_)->colourRef = colour;
  widget_->update();
}

Colour Button::TextColour() const { return Alive() ? AsButton(widget_)->colourRef : 0; }

void Button::SetFont(const Text& family, int pixelSize) {
  if (Alive()) widget_->setFont(SkinFont(family, pixelSize));
}

void Button::Click() {
  if (Alive() && widget_->isEnabled()) AsButton(widget_)->click();
}

// ---- EditBox

namespace {
QString CssColour(const QColor& c) {
  return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}
detail::SkinEdit* AsEdit(QWidget* w) { return static_cast<detail::SkinEdit*>(w); }
}  // namespace

namespace detail {
SkinEdit::SkinEdit(QWidget* parent) : QLineEdit(parent) {
  setFrame(false);
  ApplyLook();
}

void SkinEdit::ApplyLook() {
  QString border = borderStyle == 0   ? QStringLiteral("none")
                   : borderStyle == 4 ? QStringLiteral("1px dashed rgba(0,0,0,90)")
                                      : QStringLiteral("1px solid rgba(0,0,0,90)");
  setStyleSheet(QStringLiteral("QLineEdit { color: %1; background: %2; border: %3; "
                               "padding: 0px 3px; selection-background-color: "
                               "rgba(60,130,210,180); selection-color: white; }")
                    .arg(CssColour(textColour), CssColour(background), border));
}
}  // namespace detail

EditBox::EditBox(SkinWindow* window, const Text& text, int x, int y, int width, int height)
    : Element(window, new detail::SkinEdit(window), x, y, width, height) {
  AsEdit(widget_)->setText(ToQ(text));
  AsEdit(widget_)->setCursorPosition(0);
}

void EditBox::SetText(const Text& text) {
  if (!Alive()) return;
  AsEdit(widget_)->setText(ToQ(text));
  AsEdit(widget_)->setCursorPosition(0);
}

Text EditBox::GetText() const { return Alive() ? FromQ(AsEdit(widget_)->text()) : Text(); }

void EditBox::SetBorderStyle(int style) {
  if (!Alive()) return;
  AsEdit(widget_)->borderStyle = style;
  AsEdit(widget_)->ApplyLook();
}

void EditBox::SetColours(Colour text, Colour background) {
  if (!Alive()) return;
  AsEdit(widget_)->textColour = ToQColor(text);
  AsEdit(widget_)->background = ToQColor(background);
  AsEdit(widget_)->textRef = text;
  AsEdit(widget_)->backgroundRef = background;
  AsEdit(widget_)->ApplyLook();
}

int EditBox::BorderStyle() const { return Alive() ? AsEdit(widget_)->borderStyle : 0; }
Colour EditBox::TextColour() const { return Alive() ? AsEdit(widget_)->textRef : 0; }
Colour EditBox::BackgroundColour() const { return Alive() ? AsEdit(widget_)->backgroundRef : 0; }

// ---- Label

Label::Label(SkinWindow* window, const Text& text, int x, int y, int width, int height)
    : Element(window, new detail::SkinLabel(window), x, y, width, height) {
  AsLabel(widget_)->text = ToQ(common::Replace(text, "\r\n", "\n"));
}

void Label::SetText(const Text& text) {
  if (!Alive()) return;
  AsLabel(widget_)->text = ToQ(common::Replace(text, "\r\n", "\n"));
  widget_->update();
}

Text Label::GetText() const {
  return Alive() ? common::Replace(FromQ(AsLabel(widget_)->text), "\n", "\r\n") : Text();
}

void Label::SetTextColour(Colour colour) {
  if (!Alive()) return;
  AsLabel(widget_)->textColour = ToQColor(colour);
  AsLabel(widget_)->colourRef = colour;
  widget_->update();
}

Colour Label::TextColour() const { return Alive() ? AsLabel(widget_)->colourRef : 0; }

void Label::SetFont(const Text& family, int pixelSize) {
  if (!Alive()) return;
  widget_->setFont(SkinFont(family, pixelSize));
  widget_->setProperty("velmoraFamily", ToQ(family.empty() ? "宋体"_gbk : family));
  widget_->update();
}

Text Label::FontFamily() const {
  if (!Alive()) return {};
  QVariant family = widget_->property("velmoraFamily");
  return family.isValid() ? FromQ(family.toString()) : "宋体"_gbk;
}

void Label::SetAlignment(Qt::Alignment alignment) {
  if (!Alive()) return;
  if (!(alignment & Qt::AlignVertical_Mask)) alignment |= Qt::AlignVCenter;
  AsLabel(widget_)->alignment = alignment;
  widget_->update();
}

void Label::SetWrap(bool wrap) {
  if (!Alive()) return;
  AsLabel(widget_)->wrap = wrap;
  widget_->update();
}

bool Label::Wraps() const { return Alive() && AsLabel(widget_)->wrap; }

void Label::SetGradient(Colour top, Colour bottom) {
  if (!Alive()) return;
  AsLabel(widget_)->top = ToQColor(top);
  AsLabel(widget_)->bottom = ToQColor(bottom);
  widget_->update();
}

void Label::SetBorderStyle(int style) {
  if (!Alive()) return;
  AsLabel(widget_)->borderStyle = style;
  widget_->update();
}

// ---- ProgressBar

ProgressBar::ProgressBar(SkinWindow* window, int x, int y, int width, int height)
    : Element(window, new detail::SkinProgress(window), x, y, width, height) {
  if (window != nullptr) {
    static_cast<detail::SkinProgress*>(widget_)->colour = ToQColor(window->ThemeColour());
    QColor c = static_cast<detail::SkinProgress*>(widget_)->colour;
    // A pale theme colour would vanish on the track; keep the default blue then.
    if (c.lightness() > 200) static_cast<detail::SkinProgress*>(widget_)->colour = QColor(70, 150, 230);
  }
}

void ProgressBar::SetPosition(double percent) {
  if (!Alive()) return;
  if (!std::isfinite(percent)) percent = 0;
  static_cast<detail::SkinProgress*>(widget_)->position = std::clamp(percent, 0.0, 100.0);
  widget_->update();
}

double ProgressBar::Position() const {
  return Alive() ? static_cast<detail::SkinProgress*>(widget_)->position : 0.0;
}

// ---- Picture

Picture::Picture(SkinWindow* window, const std::string& bytes, int x, int y, int width, int height)
    : Element(window, new detail::SkinPicture(window), x, y, width, height) {
  SetBytes(bytes);
}

void Picture::SetBytes(const std::string& bytes) {
  if (!Alive()) return;
  QPixmap pixmap;
  if (!bytes.empty()) {
    pixmap.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                        static_cast<uint>(bytes.size()));
  }
  static_cast<detail::SkinPicture*>(widget_)->pixmap = pixmap;
  widget_->update();
}

bool Picture::HasPicture() const {
  return Alive() && !static_cast<detail::SkinPicture*>(widget_)->pixmap.isNull();
}

// ---------------------------------------------------------------------------------------------
// The skinned window

namespace {
// Caption buttons from the right edge leftwards.
constexpr int kCaptionOrder[] = {kCaptionClose, kCaptionMaximise, kCaptionMinimise, kCaptionMenu,
                                 kCaptionSkin};
constexpr int kCaptionButtonWidth = 28;
constexpr int kCaptionButtonHeight = 22;
constexpr int kSizingGrip = 5;
constexpr double kCornerRadius = 6.0;
}  // namespace

struct SkinWindow::Impl {
  QImage picture;  // the skin as decoded
  QPixmap scaled;  // the skin as drawn for the current size
  std::optional<Colour> background;
  int flags = 0;
  bool sizing = false;
  Text title;
  std::map<int, Text> tips;
  std::map<int, detail::CaptionButton*> captionButtons;  // by flag
  std::map<int, int> captionIds;                          // flag -> id
  std::map<int, int> captionFlagOfId;                     // id -> flag
  std::map<int, Element*> elements;
  int nextId = 1;
  int windowSetting = 0;
  EventCallback callback;
  std::function<bool()> canClose;
  std::function<void(const Text&)> dropped;
  bool customCursor = false;
  bool dragging = false;
  QPoint dragOffset;
};

namespace {
// Tips in the pack's look: a pale panel with dark CJK text.
void StyleTips() {
  static bool styled = false;
  if (styled) return;
  styled = true;
  QToolTip::setFont(SkinFont());
  QPalette palette = QToolTip::palette();
  palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 242));
  palette.setColor(QPalette::ToolTipText, QColor(30, 30, 30));
  QToolTip::setPalette(palette);
}
}  // namespace

SkinWindow::SkinWindow(int width, int height, int x, int y) : impl_(std::make_unique<Impl>()) {
  StyleTips();
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setAttribute(Qt::WA_TranslucentBackground, true);
  setFont(SkinFont());
  setFixedSize(std::max(1, width), std::max(1, height));
  move(x, y);
  setMouseTracking(true);
}

SkinWindow::~SkinWindow() = default;

void SkinWindow::BindSkin(const std::string& pictureBytes, std::optional<Colour> background,
                          int captionFlags, bool sizingBorder) {
  impl_->background = background;
  impl_->flags = captionFlags;
  impl_->sizing = sizingBorder;
  if (sizingBorder) {
    setMinimumSize(120, kCaptionHeight + 20);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  } else {
    setFixedSize(size());
  }
  for (auto& [flag, button] : impl_->captionButtons) delete button;
  impl_->captionButtons.clear();
  for (int flag : kCaptionOrder) {
    if ((captionFlags & flag) == 0) continue;
    auto* button = new detail::CaptionButton(this, flag);
    int id = impl_->captionIds.count(flag) ? impl_->captionIds[flag] : NextElementId();
    impl_->captionIds[flag] = id;
    impl_->captionFlagOfId[id] = flag;
    auto tip = impl_->tips.find(flag);
    if (tip != impl_->tips.end()) button->setToolTip(ToQ(tip->second));
    QObject::connect(button, &QAbstractButton::clicked, this, [this, flag] { PressCaptionButton(flag); });
    impl_->captionButtons[flag] = button;
    button->show();
  }
  // Ids of caption buttons that the new flags dropped no longer name a caption button.
  for (auto it = impl_->captionIds.begin(); it != impl_->captionIds.end();) {
    if ((captionFlags & it->first) == 0) {
      impl_->captionFlagOfId.erase(it->second);
      it = impl_->captionIds.erase(it);
    } else {
      ++it;
    }
  }
  Redraw(pictureBytes);
  QResizeEvent event(size(), size());
  resizeEvent(&event);
}

void SkinWindow::Redraw(const std::string& pictureBytes) {
  QImage image;
  if (!pictureBytes.empty()) {
    image.loadFromData(reinterpret_cast<const uchar*>(pictureBytes.data()),
                       static_cast<int>(pictureBytes.size()));
  }
  impl_->picture = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  impl_->scaled = QPixmap();
  QColor caption = ToQColor(ThemeColour());
  QColor glyph = detail::ContrastColour(caption);
  for (auto& [flag, button] : impl_->captionButtons) {
    button->glyphColour = glyph;
    button->update();
  }
  update();
}

bool SkinWindow::HasSkinPicture() const { return !impl_->picture.isNull(); }

Colour SkinWindow::BackgroundColour() const {
  return impl_->background ? *impl_->background : Rgb(255, 255, 255);
}

Colour SkinWindow::ThemeColour() const {
  if (!impl_->picture.isNull()) {
    int x = std::min(impl_->picture.width() - 1, static_cast<int>(impl_->picture.width() * 0.85));
    int y = std::min(impl_->picture.height() - 1, static_cast<int>(impl_->picture.height() * 0.85));
    QColor pixel = impl_->picture.pixelColor(x, y);
    return Rgb(pixel.red(), pixel.green(), pixel.blue());
  }
  return BackgroundColour() & 0x00FFFFFFu;
}

void SkinWindow::SetTitle(const Text& title) {
  impl_->title = common::AsText(title);
  setWindowTitle(ToQ(common::Replace(impl_->title, "\r\n", " ")).trimmed());
  update(0, 0, width(), kCaptionHeight);
}

Text SkinWindow::Title() const { return impl_->title; }

void SkinWindow::SetCaptionTip(int flag, const Text& tip) {
  impl_->tips[flag] = common::AsText(tip);
  auto it = impl_->captionButtons.find(flag);
  if (it != impl_->captionButtons.end()) it->second->setToolTip(ToQ(tip));
}

Text SkinWindow::CaptionTip(int flag) const {
  auto it = impl_->tips.find(flag);
  return it == impl_->tips.end() ? Text() : it->second;
}

int SkinWindow::CaptionFlags() const { return impl_->flags; }

int SkinWindow::CaptionButtonId(int flag) const {
  auto it = impl_->captionIds.find(flag);
  return it == impl_->captionIds.end() ? 0 : it->second;
}

int SkinWindow::CaptionFlag(int elementId) const {
  auto it = impl_->captionFlagOfId.find(elementId);
  return it == impl_->captionFlagOfId.end() ? 0 : it->second;
}

void SkinWindow::PressCaptionButton(int flag) {
  if ((impl_->flags & flag) == 0) return;
  if (flag == kCaptionClose) {
    close();
    return;
  }
  if (flag == kCaptionMinimise) showMinimized();
  if (flag == kCaptionMaximise && impl_->sizing) {
    if (isMaximized()) showNormal(); else showMaximized();
  }
  ReportEvent(CaptionButtonId(flag), kEventCaptionPress);
}

void SkinWindow::SetWindowSetting(int value) { impl_->windowSetting = value; }
int SkinWindow::WindowSetting() const { return impl_->windowSetting; }

void SkinWindow::SetEventCallback(EventCallback callback) { impl_->callback = std::move(callback); }

void SkinWindow::ReportEvent(int elementId, int eventCode) {
  // A copy: the callback may replace itself or close the window.
  EventCallback callback = impl_->callback;
  if (callback) callback(elementId, eventCode);
}

void SkinWindow::SetCursorFromFile(const Text& path) {
  std::optional<std::string> bytes = platform::ReadFileBytes(path);
  if (!bytes) return;
  std::optional<QCursor> cursor = CursorFromCurBytes(*bytes);
  if (!cursor) return;
  setCursor(*cursor);
  impl_->customCursor = true;
}

bool SkinWindow::HasCustomCursor() const { return impl_->customCursor; }

void SkinWindow::SetCanCloseHandler(std::function<bool()> handler) {
  impl_->canClose = std::move(handler);
}

void SkinWindow::SetFilesDroppedHandler(std::function<void(const Text& paths)> handler) {
  impl_->dropped = std::move(handler);
  setAcceptDrops(static_cast<bool>(impl_->dropped));
}

void SkinWindow::DropFiles(const std::vector<Text>& paths) {
  if (paths.empty()) return;
  auto handler = impl_->dropped;
  if (!handler) return;
  Text joined;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) joined += "\r\n";
    joined += paths[i];
  }
  handler(joined);
}

int SkinWindow::NextElementId() { return impl_->nextId++; }

Element* SkinWindow::FindElement(int id) const {
  auto it = impl_->elements.find(id);
  return it == impl_->elements.end() ? nullptr : it->second;
}

void SkinWindow::RegisterElement(Element* element) {
  if (element != nullptr) impl_->elements[element->Id()] = element;
}

void SkinWindow::UnregisterElement(Element* element) {
  if (element == nullptr) return;
  auto it = impl_->elements.find(element->Id());
  if (it != impl_->elements.end() && it->second == element) impl_->elements.erase(it);
}

void SkinWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  QRectF area = QRectF(rect());
  bool rounded = !isMaximized();
  QPainterPath shape;
  if (rounded) shape.addRoundedRect(area, kCornerRadius, kCornerRadius);
  else shape.addRect(area);
  p.setClipPath(shape);

  // Background: the colour, then the skin over it (cropped when larger, scaled up to cover when
  // smaller than the window).
  p.fillRect(rect(), ToQColor(BackgroundColour()));
  if (!impl_->picture.isNull()) {
    if (impl_->scaled.isNull() || impl_->scaled.size() != size()) {
      QSize pictureSize = impl_->picture.size();
      QImage source = impl_->picture;
      if (pictureSize.width() < width() || pictureSize.height() < height()) {
        source = impl_->picture.scaled(size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
      }
      impl_->scaled = QPixmap::fromImage(source.copy(0, 0, width(), height()));
    }
    p.drawPixmap(0, 0, impl_->scaled);
  }

  // A window without caption buttons (the launcher) is all picture: no caption bar.
  if (impl_->flags == 0) return;

  // Caption bar: a veil of the theme colour with the title text.
  QColor theme = ToQColor(ThemeColour());
  QRect caption(0, 0, width(), kCaptionHeight);
  QLinearGradient veil(caption.topLeft(), caption.bottomLeft());
  QColor veilTop = theme;
  veilTop.setAlpha(150);
  QColor veilBottom = theme;
  veilBottom.setAlpha(90);
  veil.setColorAt(0, veilTop);
  veil.setColorAt(1, veilBottom);
  p.fillRect(caption, veil);
  p.setPen(QColor(255, 255, 255, 60));
  p.drawLine(QPointF(0, kCaptionHeight - 0.5), QPointF(width(), kCaptionHeight - 0.5));

  int textLeft = 10;
  if (impl_->flags & kCaptionIcon) {
    QIcon icon = windowIcon();
    QRect iconRect(8, (kCaptionHeight - 16) / 2, 16, 16);
    if (!icon.isNull()) {
      icon.paint(&p, iconRect);
    } else {
      p.setPen(Qt::NoPen);
      p.setBrush(detail::ContrastColour(theme));
      p.drawEllipse(iconRect.adjusted(3, 3, -3, -3));
    }
    textLeft = 30;
  }
  if (impl_->flags & kCaptionTitle) {
    int right = width() - 8;
    for (const auto& [flag, button] : impl_->captionButtons) right = std::min(right, button->x() - 4);
    QRect textRect(textLeft, 0, std::max(0, right - textLeft), kCaptionHeight);
    QString title = ToQ(common::Replace(impl_->title, "\r\n", " "));
    title.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    QFont titleFont = SkinFont({}, 12);
    p.setFont(titleFont);
    QString shown = QFontMetrics(titleFont).elidedText(title, Qt::ElideRight, textRect.width());
    QColor ink = detail::ContrastColour(theme);
    QColor shadow = ink.lightness() > 128 ? QColor(0, 0, 0, 90) : QColor(255, 255, 255, 110);
    p.setPen(shadow);
    p.drawText(textRect.translated(1, 1), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    p.setPen(ink);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
  }

  // A fine frame around the whole window.
  p.setClipping(false);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0, 0, 0, 110), 1));
  if (rounded) p.drawRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
  else p.drawRect(area.adjusted(0.5, 0.5, -0.5, -0.5));
}

namespace {
Qt::Edges EdgesAt(const QWidget* w, QPoint pos) {
  Qt::Edges edges;
  if (pos.x() < kSizingGrip) edges |= Qt::LeftEdge;
  if (pos.x() >= w->width() - kSizingGrip) edges |= Qt::RightEdge;
  if (pos.y() < kSizingGrip) edges |= Qt::TopEdge;
  if (pos.y() >= w->height() - kSizingGrip) edges |= Qt::BottomEdge;
  return edges;
}
}  // namespace

void SkinWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  QPoint pos = event->position().toPoint();
  if (impl_->sizing && !isMaximized()) {
    Qt::Edges edges = EdgesAt(this, pos);
    if (edges && windowHandle() != nullptr && windowHandle()->startSystemResize(edges)) {
      event->accept();
      return;
    }
  }
  if (pos.y() < kCaptionHeight) {
    impl_->dragging = true;
    impl_->dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void SkinWindow::mouseMoveEvent(QMouseEvent* event) {
  if (impl_->dragging && (event->buttons() & Qt::LeftButton)) {
    if (isMaximized()) showNormal();
    move(event->globalPosition().toPoint() - impl_->dragOffset);
    event->accept();
    return;
  }
  if (impl_->sizing && !impl_->customCursor) {
    Qt::Edges edges = EdgesAt(this, event->position().toPoint());
    if ((edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge))) {
      bool main = edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
      setCursor(main ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
    } else if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
      setCursor(Qt::SizeHorCursor);
    } else if (edges) {
      setCursor(Qt::SizeVerCursor);
    } else {
      unsetCursor();
    }
  }
  QWidget::mouseMoveEvent(event);
}

void SkinWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (impl_->dragging && event->button() == Qt::LeftButton) {
    impl_->dragging = false;
    event->accept();
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

void SkinWindow::leaveEvent(QEvent* event) {
  if (impl_->sizing && !impl_->customCursor) unsetCursor();
  QWidget::leaveEvent(event);
}

void SkinWindow::closeEvent(QCloseEvent* event) {
  auto handler = impl_->canClose;
  if (handler && !handler()) {
    event->ignore();
    return;
  }
  event->accept();
}

void SkinWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!impl_->dropped || !event->mimeData()->hasUrls()) return;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
  }
}

void SkinWindow::dropEvent(QDropEvent* event) {
  std::vector<Text> paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (!url.isLocalFile()) continue;
    std::filesystem::path native(url.toLocalFile().toStdU16String());
    paths.push_back(platform::ProgramPath(native));
  }
  if (paths.empty()) return;
  event->acceptProposedAction();
  DropFiles(paths);
}

void SkinWindow::resizeEvent(QResizeEvent* event) {
  int right = width() - 6;
  for (int flag : kCaptionOrder) {
    auto it = impl_->captionButtons.find(flag);
    if (it == impl_->captionButtons.end()) continue;
    right -= kCaptionButtonWidth;
    it->second->setGeometry(right, (kCaptionHeight - kCaptionButtonHeight) / 2, kCaptionButtonWidth,
                            kCaptionButtonHeight);
  }
  impl_->scaled = QPixmap();
  QWidget::resizeEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Events, clipboard, browser

void PumpEvents() {
  using Clock = std::chrono::steady_clock;
  thread_local Clock::time_point last{};  // per thread: each pumps its own events
  Clock::time_point now = Clock::now();
  if (now - last < std::chrono::milliseconds(15)) return;
  last = now;
  if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
  last = Clock::now();
}

bool SetClipboardText(const Text& text) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) return false;
  QString value = ToQ(text);
  clipboard->setText(value);
  return clipboard->text() == value;
}

Text ClipboardText() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return {};
  QClipboard* clipboard = QGuiApplication::clipboard();
  return clipboard == nullptr ? Text() : FromQ(clipboard->text());
}

void OpenUrl(const Text& url) { QDesktopServices::openUrl(QUrl(ToQ(url))); }

}  // namespace ui

#if defined(__SANITIZE_ADDRESS__)
// Under the leak checker: fontconfig keeps its pattern caches until the process ends, which the
// checker would report from every program that draws text.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
