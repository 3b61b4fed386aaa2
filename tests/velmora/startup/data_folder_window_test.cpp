// The data folder that the build lays beside the executables: the pictures the windows read,
// the cursor in the Windows format, and the version file the gate compares.
#include <gtest/gtest.h>

#include <QColor>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/support.h"
#include "ui/skin.h"

namespace {

const std::filesystem::path kData = std::filesystem::path(VELMORA_BIN_DIR) / "皮肤图片";

class DataFolder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "velmora-data-test";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance() == nullptr) app_ = new QGuiApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }

  static std::string Bytes(const char* fileName) {
    std::optional<std::string> bytes = support::ReadFile(kData / fileName);
    EXPECT_TRUE(bytes.has_value()) << fileName << " is missing from " << kData
                                   << " (the target velmora_art draws it)";
    return bytes.value_or(std::string());
  }
  static QImage Picture(const char* fileName) {
    const std::string bytes = Bytes(fileName);
    QImage image;
    image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()), "PNG");
    return image;
  }

  static inline QGuiApplication* app_ = nullptr;
};

double Luminance(const QColor& colour) {
  auto channel = [](int value) {
    const double c = value / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green()) +
         0.0722 * channel(colour.blue());
}

double Contrast(const QColor& a, const QColor& b) {
  double la = Luminance(a) + 0.05;
  double lb = Luminance(b) + 0.05;
  return la > lb ? la / lb : lb / la;
}

TEST_F(DataFolder, PicturesHaveTheSizesTheWindowsNeed) {
  struct SizeCase {
    const char* file;
    QSize atLeast;
    std::optional<QSize> exactly;
  };
  // The skin lies behind the cleanup window (718 x 420), the script window (492 x 497) and the
  // updater (314 x 370): larger than all of them, it is cropped and never stretched.
  const SizeCase cases[] = {
      {"0.png", {718, 497}, std::nullopt},
      {"Tamsel.png", {98, 49}, QSize(98, 49)},
      {"Tamsel启动.png", {90, 30}, QSize(90, 30)},
  };
  for (const SizeCase& c : cases) {
    const QImage image = Picture(c.file);
    ASSERT_FALSE(image.isNull()) << c.file << " is no PNG picture";
    EXPECT_GE(image.width(), c.atLeast.width()) << c.file;
    EXPECT_GE(image.height(), c.atLeast.height()) << c.file;
    if (c.exactly) {
      EXPECT_EQ(image.size(), *c.exactly) << c.file;
    }
  }
}

TEST_F(DataFolder, SkinThemeColourReadsWellOnTheSkin) {
  const QImage skin = Picture("0.png");
  ASSERT_FALSE(skin.isNull());
  const QColor theme = skin.pixelColor(static_cast<int>(skin.width() * 0.85),
                                       static_cast<int>(skin.height() * 0.85));
  EXPECT_EQ(theme.alpha(), 255);
  // The theme colour is the text colour of the list and the path box, drawn on the skin and on
  // white rows; black text sits on the skin's ground as well.
  for (QPoint ground : {QPoint(100, 100), QPoint(360, 220), QPoint(60, 400), QPoint(650, 200)}) {
    const QColor colour = skin.pixelColor(ground);
    EXPECT_GE(Contrast(theme, colour), 4.5) << "theme colour on the ground at " << ground.x() << "," << ground.y();
    EXPECT_GE(Contrast(Qt::black, colour), 10.0) << "black text at " << ground.x() << "," << ground.y();
  }
  EXPECT_GE(Contrast(theme, Qt::white), 4.5);
  // The neighbours of the theme pixel carry the same colour, whichever way 85 % is rounded.
  const int x = skin.width() * 85 / 100;
  const int y = skin.height() * 85 / 100;
  for (int dx = -1; dx <= 1; ++dx)
    for (int dy = -1; dy <= 1; ++dy) {
      EXPECT_EQ(skin.pixelColor(x + dx, y + dy), theme);
    }
}

TEST_F(DataFolder, LauncherMascotStandsOnWhite) {
  const QImage mascot = Picture("Tamsel.png");
  ASSERT_FALSE(mascot.isNull());
  for (QPoint corner : {QPoint(0, 0), QPoint(97, 0), QPoint(0, 48), QPoint(97, 48)}) {
    EXPECT_EQ(mascot.pixelColor(corner), QColor(Qt::white)) << corner.x() << "," << corner.y();
  }
}

TEST_F(DataFolder, CursorIsAWindowsCursorWithItsHotSpotAtTheTip) {
  const std::string bytes = Bytes("01.cur");
  ASSERT_GE(bytes.size(), 22u);
  auto u16 = [&bytes](std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
  };
  EXPECT_EQ(u16(0), 0);  // reserved
  EXPECT_EQ(u16(2), 2);  // a cursor, not an icon
  EXPECT_EQ(u16(4), 1);  // one image
  EXPECT_EQ(static_cast<unsigned char>(bytes[6]), 32);
  EXPECT_EQ(static_cast<unsigned char>(bytes[7]), 32);
  std::optional<QCursor> cursor = ui::CursorFromCurBytes(bytes);
  ASSERT_TRUE(cursor.has_value()) << "the skin layer cannot read the cursor";
  EXPECT_EQ(cursor->hotSpot(), QPoint(u16(10), u16(12)));
  const QImage image = cursor->pixmap().toImage();
  ASSERT_EQ(image.size(), QSize(32, 32));
  // The hot spot lies on the arrow's drawn tip; the far corner is transparent.
  EXPECT_GT(image.pixelColor(cursor->hotSpot()).alpha(), 128);
  EXPECT_EQ(image.pixelColor(31, 31).alpha(), 0);
}

TEST_F(DataFolder, VersionFileHoldsTheVersionWithoutALineBreak) {
  const std::string version = Bytes("版本.txt");
  ASSERT_FALSE(version.empty());
  EXPECT_EQ(version.find_first_of(std::string("\r\n\0 ", 4)), std::string::npos) << version;
}

}  // namespace
