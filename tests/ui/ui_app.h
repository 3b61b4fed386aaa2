// The application object that the widget tests need, made once on first use (offscreen).
#pragma once

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <string>

namespace uitest {

inline QApplication* App() {
  static int argc = 1;
  static char name[] = "ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return app;
}

// As the first member of a fixture: the application exists before the fixture's widgets.
struct AppReady {
  AppReady() { App(); }
};

// PNG bytes of an image.
inline std::string PngBytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

// A picture of one colour with a different pixel at (x, y).
inline std::string MarkedPicture(int width, int height, int x, int y, QColor mark) {
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(QColor(10, 20, 30));
  image.setPixelColor(x, y, mark);
  return PngBytes(image);
}

}  // namespace uitest
