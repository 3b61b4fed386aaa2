// Windows .cur files: an icon directory of type 2 whose entries carry the hot spot, with a PNG
// or a device-independent bitmap (colour rows and a one-bit AND mask, bottom-up) per image.
#include <QImage>
#include <QPixmap>
#include <cstdint>
#include <cstring>

#include "ui/skin.h"

namespace ui {

namespace {

std::uint32_t Read16(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8);
}

std::uint32_t Read32(const std::string& b, std::size_t at) {
  return Read16(b, at) | (Read16(b, at + 2) << 16);
}

// A DIB of a cursor (height counts the colour rows and the mask rows together).
QImage DecodeDib(const std::string& b, std::size_t at, std::size_t length) {
  if (length < 40 || at + length > b.size()) return {};
  std::uint32_t headerSize = Read32(b, at);
  if (headerSize < 40 || headerSize > length) return {};
  auto width = static_cast<std::int32_t>(Read32(b, at + 4));
  auto fullHeight = static_cast<std::int32_t>(Read32(b, at + 8));
  std::uint32_t bits = Read16(b, at + 14);
  std::uint32_t compression = Read32(b, at + 16);
  std::uint32_t coloursUsed = Read32(b, at + 32);
  if (width <= 0 || width > 512 || fullHeight <= 0 || fullHeight > 1024 || compression != 0) return {};
  int height = fullHeight / 2;
  if (height <= 0) return {};
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return {};

  std::size_t pos = at + headerSize;
  std::vector<QRgb> palette;
  if (bits <= 8) {
    std::size_t count = coloursUsed != 0 ? coloursUsed : (1u << bits);
    if (count > 256) return {};
    if (pos + count * 4 > at + length) return {};
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t p = pos + i * 4;
      palette.push_back(qRgb(static_cast<unsigned char>(b[p + 2]), static_cast<unsigned char>(b[p + 1]),
                             static_cast<unsigned char>(b[p])));
    }
    pos += count * 4;
  }
  std::size_t colourStride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  std::size_t maskStride = ((static_cast<std::size_t>(width) + 31) / 32) * 4;
  std::size_t colourBytes = colourStride * static_cast<std::size_t>(height);
  bool hasMask = pos + colourBytes + maskStride * static_cast<std::size_t>(height) <= at + length;
  if (pos + colourBytes > at + length) return {};

  QImage image(width, height, QImage::Format_ARGB32);
  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    std::size_t row = pos + colourStride * static_cast<std::size_t>(height - 1 - y);
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      QRgb pixel = 0;
      if (bits == 32) {
        std::size_t p = row + static_cast<std::size_t>(x) * 4;
        int alpha = static_cast<unsigned char>(b[p + 3]);
        if (alpha != 0) anyAlpha = true;
        pixel = qRgba(static_cast<unsigned char>(b[p + 2]), static_cast<unsigned char>(b[p + 1]),
                      static_cast<unsigned char>(b[p]), alpha);
      } else if (bits == 24) {
        std::size_t p = row + static_cast<std::size_t>(x) * 3;
        pixel = qRgb(static_cast<unsigned char>(b[p + 2]), static_cast<unsigned char>(b[p + 1]),
                     static_cast<unsigned char>(b[p]));
      } else {
        std::size_t bitPos = static_cast<std::size_t>(x) * bits;
        unsigned byte = static_cast<unsigned char>(b[row + bitPos / 8]);
        unsigned shift = 8 - bits - (bitPos % 8);
        unsigned index = (byte >> shift) & ((1u << bits) - 1);
        pixel = index < palette.size() ? palette[index] : qRgb(0, 0, 0);
      }
      line[x] = pixel;
    }
  }
  if (bits == 32 && anyAlpha) return image;
  // The AND mask: 1 is transparent (or, over a non-black colour, the screen inverted, which a
  // plain image cannot show; black keeps such pixels visible).
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    std::size_t row = pos + colourBytes + maskStride * static_cast<std::size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      bool transparent = false;
      if (hasMask) {
        unsigned byte = static_cast<unsigned char>(b[row + static_cast<std::size_t>(x) / 8]);
        transparent = ((byte >> (7 - x % 8)) & 1u) != 0;
      }
      QRgb colour = line[x];
      if (!transparent) {
        line[x] = qRgba(qRed(colour), qGreen(colour), qBlue(colour), 255);
      } else if ((colour & 0xFFFFFFu) != 0) {
        line[x] = qRgba(0, 0, 0, 255);
      } else {
        line[x] = qRgba(0, 0, 0, 0);
      }
    }
  }
  return image;
}

}  // namespace

std::optional<QCursor> CursorFromCurBytes(const std::string& b) {
  if (b.size() < 6 + 16) return std::nullopt;
  if (Read16(b, 0) != 0 || Read16(b, 2) != 2) return std::nullopt;
  std::uint32_t count = Read16(b, 4);
  if (count == 0 || 6 + 16 * static_cast<std::size_t>(count) > b.size()) return std::nullopt;
  // The largest image that decodes.
  QImage best;
  QPoint hotSpot;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::size_t entry = 6 + 16 * static_cast<std::size_t>(i);
    int hotX = static_cast<int>(Read16(b, entry + 4));
    int hotY = static_cast<int>(Read16(b, entry + 6));
    std::size_t length = Read32(b, entry + 8);
    std::size_t offset = Read32(b, entry + 12);
    if (offset >= b.size() || length > b.size() - offset || length < 8) continue;
    QImage image;
    static const char kPng[] = "\x89PNG\r\n\x1a\n";
    if (std::memcmp(b.data() + offset, kPng, 8) == 0) {
      image.loadFromData(reinterpret_cast<const uchar*>(b.data() + offset), static_cast<int>(length), "PNG");
    } else {
      image = DecodeDib(b, offset, length);
    }
    if (image.isNull()) continue;
    if (best.isNull() || image.width() * image.height() > best.width() * best.height()) {
      best = image;
      hotSpot = QPoint(std::min(hotX, image.width() - 1), std::min(hotY, image.height() - 1));
    }
  }
  if (best.isNull()) return std::nullopt;
  return QCursor(QPixmap::fromImage(best), hotSpot.x(), hotSpot.y());
}

}  // namespace ui
