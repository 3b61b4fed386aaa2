// Draws the pictures of the data folder 皮肤图片 and writes them with the cursor and the version
// file: 0.png (the skin), Tamsel.png (the launcher's mascot), Tamsel启动.png (the small mascot of
// the cleanup window), 01.cur (the mouse cursor) and 版本.txt.
//
//   velmora-make-art OUTPUT_FOLDER [VERSION]
//
// Everything is painted by code; the program runs without a display (offscreen platform) and
// gives the same pictures on every run.
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The skin's theme colour: the pixel at 85 % of the skin's width and height. The list, the path
// box and the browse button draw their text in it, so it is a deep steel blue that reads well on
// the light ground of the skin.
const QColor kTheme(38, 84, 132);
const QColor kInk(24, 44, 70);

// The skin is larger than every window that uses it (cleanup window 718 x 420, script window
// 492 x 497, updater window 314 x 370), and 85 % of both sides falls on whole pixels.
constexpr int kSkinWidth = 720;
constexpr int kSkinHeight = 500;

QFont Font(const QString& family, double pixelSize, int weight = QFont::Normal) {
  QFont font(family);
  font.setPixelSize(static_cast<int>(pixelSize));
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

QImage DrawSkin() {
  QImage image(kSkinWidth, kSkinHeight, QImage::Format_ARGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF all(0, 0, kSkinWidth, kSkinHeight);

  // Ground: a calm vertical gradient from a soft sky blue to a near-white mist.
  QLinearGradient ground(0, 0, 0, kSkinHeight);
  ground.setColorAt(0.0, QColor(196, 220, 240));
  ground.setColorAt(0.18, QColor(222, 235, 246));
  ground.setColorAt(0.6, QColor(238, 244, 250));
  ground.setColorAt(1.0, QColor(229, 238, 247));
  p.fillRect(all, ground);

  // Two large soft glows give the ground depth without disturbing the text on it.
  auto glow = [&p](QPointF centre, double radius, QColor colour) {
    QRadialGradient g(centre, radius);
    g.setColorAt(0.0, colour);
    QColor edge = colour;
    edge.setAlpha(0);
    g.setColorAt(1.0, edge);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(centre, radius, radius);
  };
  glow(QPointF(610, 40), 260, QColor(170, 205, 235, 120));
  glow(QPointF(40, 470), 300, QColor(190, 225, 225, 110));
  glow(QPointF(330, 250), 280, QColor(255, 255, 255, 110));

  // Flowing ribbons across the lower half, in white and pale blue.
  auto ribbon = [&p](double baseY, double amplitude, double phase, QColor colour, double width) {
    QPainterPath path;
    path.moveTo(-10, baseY);
    for (int x = -10; x <= kSkinWidth + 10; x += 6) {
      const double y = baseY + amplitude * std::sin(x / 115.0 + phase) +
                       amplitude * 0.4 * std::sin(x / 47.0 + phase * 2);
      path.lineTo(x, y);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(path);
  };
  ribbon(300, 18, 0.3, QColor(255, 255, 255, 120), 2.0);
  ribbon(318, 16, 1.1, QColor(160, 196, 228, 90), 1.5);
  ribbon(338, 20, 2.0, QColor(255, 255, 255, 90), 3.0);
  ribbon(120, 12, 2.6, QColor(255, 255, 255, 80), 1.5);

  // A halftone corner: dots of the theme colour that grow towards the lower right. One dot is
  // centred on the theme pixel, so the colour read there is exactly the theme colour.
  const QPointF corner(kSkinWidth + 20, kSkinHeight + 20);
  const QPointF themePixel(kSkinWidth * 0.85, kSkinHeight * 0.85);
  constexpr double kSpacing = 13.0;
  p.setPen(Qt::NoPen);
  for (int row = -30; row <= 30; ++row) {
    for (int column = -30; column <= 30; ++column) {
      // A staggered grid through the theme pixel.
      const double x = themePixel.x() + column * kSpacing + ((row & 1) ? kSpacing / 2 : 0);
      const double y = themePixel.y() + row * kSpacing * 0.866;
      if (x < -5 || y < -5 || x > kSkinWidth + 5 || y > kSkinHeight + 5) continue;
      const double distance = std::hypot(corner.x() - x, corner.y() - y);
      double radius = 3.6 - distance / 80.0;
      if (row == 0 && column == 0) radius = std::max(radius, 1.6);
      if (radius < 0.45) continue;
      QColor colour = kTheme;
      // The outer dots fade into the ground so the pattern has no hard edge.
      if (radius < 1.2) colour.setAlpha(static_cast<int>(60 + radius * 160));
      p.setBrush(colour);
      p.drawEllipse(QPointF(x, y), radius, radius);
    }
  }

  // The caption band: a deeper tint at the top, where the title and the caption buttons sit.
  QLinearGradient band(0, 0, 0, 34);
  band.setColorAt(0.0, QColor(120, 163, 204, 170));
  band.setColorAt(0.75, QColor(150, 188, 224, 90));
  band.setColorAt(1.0, QColor(150, 188, 224, 0));
  p.fillRect(QRectF(0, 0, kSkinWidth, 34), band);
  p.setPen(QPen(QColor(255, 255, 255, 140), 1));
  p.drawLine(QPointF(0, 0.5), QPointF(kSkinWidth, 0.5));

  p.end();

  // The theme pixel and its neighbours carry the exact theme colour, however a reader rounds
  // 85 % of the size.
  const int tx = kSkinWidth * 85 / 100;
  const int ty = kSkinHeight * 85 / 100;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) image.setPixelColor(tx + dx, ty + dy, kTheme);
  return image.convertToFormat(QImage::Format_RGB32);
}

// Tamsel, the mascot: a round, cat-eared little creature.
void DrawTamsel(QPainter& p, QPointF centre, double radius) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const double r = radius;
  const QColor outline(46, 86, 132);

  // Ears.
  auto ear = [&](double side) {
    QPainterPath path;
    path.moveTo(centre + QPointF(side * r * 0.25, -r * 0.78));
    path.quadTo(centre + QPointF(side * r * 0.75, -r * 1.45), centre + QPointF(side * r * 0.95, -r * 0.92));
    path.quadTo(centre + QPointF(side * r * 0.95, -r * 0.55), centre + QPointF(side * r * 0.80, -r * 0.45));
    path.closeSubpath();
    p.setPen(QPen(outline, std::max(1.0, r / 12)));
    p.setBrush(QColor(120, 176, 228));
    p.drawPath(path);
    QPainterPath inner;
    inner.moveTo(centre + QPointF(side * r * 0.42, -r * 0.78));
    inner.quadTo(centre + QPointF(side * r * 0.72, -r * 1.2), centre + QPointF(side * r * 0.84, -r * 0.88));
    inner.quadTo(centre + QPointF(side * r * 0.84, -r * 0.66), centre + QPointF(side * r * 0.72, -r * 0.6));
    inner.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 190, 205));
    p.drawPath(inner);
  };
  ear(-1);
  ear(1);

  // Body.
  QRadialGradient body(centre + QPointF(-r * 0.35, -r * 0.4), r * 1.5);
  body.setColorAt(0.0, QColor(200, 228, 250));
  body.setColorAt(0.55, QColor(132, 186, 236));
  body.setColorAt(1.0, QColor(82, 140, 204));
  p.setPen(QPen(outline, std::max(1.0, r / 12)));
  p.setBrush(body);
  p.drawEllipse(centre, r, r * 0.92);

  // Face.
  const double eyeY = centre.y() - r * 0.05;
  for (double side : {-1.0, 1.0}) {
    const QPointF eye(centre.x() + side * r * 0.36, eyeY);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(28, 36, 56));
    p.drawEllipse(eye, r * 0.13, r * 0.18);
    p.setBrush(Qt::white);
    p.drawEllipse(eye + QPointF(-r * 0.04, -r * 0.07), r * 0.05, r * 0.06);
    p.setBrush(QColor(255, 150, 170, 150));
    p.drawEllipse(QPointF(centre.x() + side * r * 0.58, eyeY + r * 0.28), r * 0.15, r * 0.09);
  }
  QPainterPath mouth;
  mouth.moveTo(centre.x() - r * 0.16, eyeY + r * 0.26);
  mouth.quadTo(centre.x() - r * 0.08, eyeY + r * 0.38, centre.x(), eyeY + r * 0.27);
  mouth.quadTo(centre.x() + r * 0.08, eyeY + r * 0.38, centre.x() + r * 0.16, eyeY + r * 0.26);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(28, 36, 56), std::max(1.0, r / 14), Qt::SolidLine, Qt::RoundCap));
  p.drawPath(mouth);

  // A shine on the crown.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 120));
  p.drawEllipse(centre + QPointF(-r * 0.42, -r * 0.52), r * 0.2, r * 0.1);
  p.restore();
}

// Text in the largest size up to `pixelSize` that fits `width`.
QFont FittingFont(const QString& family, const QString& text, double pixelSize, double width,
                  int weight) {
  QFont font = Font(family, pixelSize, weight);
  while (pixelSize > 7 && QFontMetricsF(font).horizontalAdvance(text) > width) {
    pixelSize -= 1;
    font = Font(family, pixelSize, weight);
  }
  return font;
}

QImage DrawLauncher() {
  QImage image(98, 49, QImage::Format_ARGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  // A light rounded card, so the small window stands out from any desktop.
  QLinearGradient card(0, 0, 0, 49);
  card.setColorAt(0.0, QColor(255, 255, 255));
  card.setColorAt(1.0, QColor(234, 243, 251));
  p.setPen(QPen(QColor(150, 186, 222), 1));
  p.setBrush(card);
  p.drawRoundedRect(QRectF(0.5, 0.5, 97, 48), 8, 8);

  DrawTamsel(p, QPointF(25, 28), 16);

  const QString name = QStringLiteral("Tamsel");
  p.setFont(FittingFont(QStringLiteral("DejaVu Sans"), name, 14, 50, QFont::Bold));
  p.setPen(kTheme);
  p.drawText(QRectF(45, 9, 51, 20), Qt::AlignLeft | Qt::AlignVCenter, name);
  p.setFont(FittingFont(QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("右键菜单"), 10, 50,
                        QFont::Normal));
  p.setPen(QColor(110, 132, 158));
  p.drawText(QRectF(46, 28, 50, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("右键菜单"));
  p.end();
  return image.convertToFormat(QImage::Format_RGB32);
}

QImage DrawSmallMascot() {
  QImage image(90, 30, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  // A translucent pill that keeps the name legible on any skin.
  p.setPen(QPen(QColor(255, 255, 255, 200), 1));
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawRoundedRect(QRectF(0.5, 2.5, 89, 25), 12.5, 12.5);

  DrawTamsel(p, QPointF(15, 17), 9.5);
  const QString name = QStringLiteral("Velmora");
  p.setFont(FittingFont(QStringLiteral("DejaVu Sans"), name, 13, 58, QFont::Bold));
  p.setPen(kInk);
  p.drawText(QRectF(29, 3, 58, 24), Qt::AlignHCenter | Qt::AlignVCenter, name);
  p.end();
  return image;
}

// The mouse cursor: an arrow with a white rim and a soft shadow, filled with the theme blue.
QImage DrawCursor() {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath arrow;
  arrow.moveTo(1.5, 1.5);
  arrow.lineTo(1.5, 21.5);
  arrow.lineTo(6.5, 16.8);
  arrow.lineTo(10.2, 25.0);
  arrow.lineTo(13.8, 23.4);
  arrow.lineTo(10.2, 15.4);
  arrow.lineTo(17.0, 15.4);
  arrow.closeSubpath();

  p.translate(1.6, 1.6);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 70));
  p.drawPath(arrow);
  p.translate(-1.6, -1.6);

  QLinearGradient fill(0, 0, 12, 24);
  fill.setColorAt(0.0, QColor(96, 156, 220));
  fill.setColorAt(1.0, kTheme);
  p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(fill);
  p.drawPath(arrow);
  p.end();
  return image;
}

void PutU16(QByteArray& out, int value) {
  out.append(static_cast<char>(value & 0xFF));
  out.append(static_cast<char>((value >> 8) & 0xFF));
}
void PutU32(QByteArray& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.append(static_cast<char>((value >> shift) & 0xFF));
}

// A Windows cursor file: an icon directory of type 2 with one 32 x 32 entry whose payload is a
// 32-bit device-independent bitmap (colour rows bottom-up, then the 1-bit transparency mask).
QByteArray CursorFile(const QImage& picture, int hotspotX, int hotspotY) {
  const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
  const int w = image.width();
  const int h = image.height();
  const int maskStride = ((w + 31) / 32) * 4;
  QByteArray bitmap;
  PutU32(bitmap, 40);                    // header size
  PutU32(bitmap, static_cast<std::uint32_t>(w));
  PutU32(bitmap, static_cast<std::uint32_t>(h * 2));  // colour rows and mask rows
  PutU16(bitmap, 1);                     // planes
  PutU16(bitmap, 32);                    // bits per pixel
  PutU32(bitmap, 0);                     // no compression
  PutU32(bitmap, static_cast<std::uint32_t>(w * h * 4 + maskStride * h));
  PutU32(bitmap, 0);
  PutU32(bitmap, 0);
  PutU32(bitmap, 0);
  PutU32(bitmap, 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const QRgb pixel = image.pixel(x, y);  // not premultiplied
      bitmap.append(static_cast<char>(qBlue(pixel)));
      bitmap.append(static_cast<char>(qGreen(pixel)));
      bitmap.append(static_cast<char>(qRed(pixel)));
      bitmap.append(static_cast<char>(qAlpha(pixel)));
    }
  }
  for (int y = h - 1; y >= 0; --y) {
    QByteArray row(maskStride, '\0');
    for (int x = 0; x < w; ++x) {
      if (qAlpha(image.pixel(x, y)) == 0) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    }
    bitmap.append(row);
  }

  QByteArray file;
  PutU16(file, 0);  // reserved
  PutU16(file, 2);  // cursor
  PutU16(file, 1);  // one image
  file.append(static_cast<char>(w));
  file.append(static_cast<char>(h));
  file.append('\0');  // no palette
  file.append('\0');
  PutU16(file, hotspotX);
  PutU16(file, hotspotY);
  PutU32(file, static_cast<std::uint32_t>(bitmap.size()));
  PutU32(file, 22);  // the bitmap follows the directory
  file.append(bitmap);
  return file;
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return file.write(bytes) == bytes.size() && file.flush();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [VERSION]\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QByteArray version = argc > 2 ? QByteArray(argv[2]) : QByteArray("1.0");
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  const QDir dir(folder);
  bool ok = true;
  ok = DrawSkin().save(dir.filePath(QStringLiteral("0.png")), "PNG") && ok;
  ok = DrawLauncher().save(dir.filePath(QStringLiteral("Tamsel.png")), "PNG") && ok;
  ok = DrawSmallMascot().save(dir.filePath(QStringLiteral("Tamsel启动.png")), "PNG") && ok;
  ok = WriteBytes(dir.filePath(QStringLiteral("01.cur")), CursorFile(DrawCursor(), 1, 1)) && ok;
  // The version text as the version gate compares it: no line break after it.
  ok = WriteBytes(dir.filePath(QStringLiteral("版本.txt")), version) && ok;
  if (!ok) {
    std::fprintf(stderr, "could not write the pictures into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
