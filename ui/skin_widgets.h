// Widgets behind the skin layer's elements. Private to ui/: the programs speak to the elements.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLineEdit>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>

#include "ui/skin.h"

namespace ui::detail {

// Fills a rectangle with the optional vertical gradient and draws the border style
// (0 none, 4 dashed one-pixel frame black at alpha 90, any other a solid one).
void PaintPanel(QPainter& painter, const QRect& rect, const std::optional<QColor>& top,
                const std::optional<QColor>& bottom, int borderStyle);

// A colour that reads well on the given one (near-black or white).
QColor ContrastColour(const QColor& colour);

// The translucent push button.
class SkinButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit SkinButton(QWidget* parent);
  QColor textColour{0, 0, 0, 254};
  Colour colourRef = 0;  // as the program gave it
  QSize sizeHint() const override { return {80, 24}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  bool hovered_ = false;
};

// A caption-bar button with a drawn glyph.
class CaptionButton : public QAbstractButton {
  Q_OBJECT
 public:
  CaptionButton(QWidget* parent, int flag);
  int flag() const { return flag_; }
  QColor glyphColour{255, 255, 255, 240};

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  int flag_;
  bool hovered_ = false;
};

// The single-line edit box.
class SkinEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit SkinEdit(QWidget* parent);
  void ApplyLook();
  QColor textColour{0, 0, 0, 230};
  QColor background{255, 255, 255, 160};
  Colour textRef = 0xE6000000u;
  Colour backgroundRef = 0xA0FFFFFFu;
  int borderStyle = 0;
};

// The text label.
class SkinLabel : public QWidget {
  Q_OBJECT
 public:
  explicit SkinLabel(QWidget* parent);
  QString text;
  QColor textColour{0, 0, 0, 254};
  Colour colourRef = 0;
  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
  bool wrap = true;
  std::optional<QColor> top, bottom;
  int borderStyle = 0;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class SkinProgress : public QWidget {
  Q_OBJECT
 public:
  explicit SkinProgress(QWidget* parent);
  double position = 0;
  QColor colour{70, 150, 230, 254};

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class SkinPicture : public QWidget {
  Q_OBJECT
 public:
  explicit SkinPicture(QWidget* parent);
  QPixmap pixmap;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace ui::detail
