#include "app/status_icons.h"

#include <QPainter>
#include <QPixmap>

namespace vantlebld {

namespace {

constexpr int kIconSize = 32;

// A chip with a coloured status lamp: grey idle, amber searching, blue
// found, green done, red error.
QColor LampColour(TStatusImage image) {
  switch (image) {
    case TStatusImage::Searching:
      return QColor(0xF0, 0xA0, 0x20);
    case TStatusImage::Found:
      return QColor(0x30, 0x70, 0xE0);
    case TStatusImage::Done:
      return QColor(0x30, 0xB0, 0x40);
    case TStatusImage::Error:
      return QColor(0xD0, 0x30, 0x30);
    case TStatusImage::Idle:
      break;
  }
  return QColor(0x90, 0x90, 0x90);
}

}  // namespace

QIcon StatusIcon(TStatusImage image) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  // The chip body with its pins.
  painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 2));
  for (int y = 8; y <= 24; y += 8) {
    painter.drawLine(2, y, 7, y);
    painter.drawLine(25, y, 30, y);
  }
  painter.setBrush(QColor(0x30, 0x30, 0x30));
  painter.drawRoundedRect(7, 3, 18, 26, 3, 3);
  painter.setBrush(LampColour(image));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(QPointF(16, 16), 6.5, 6.5);
  return QIcon(pixmap);
}

}  // namespace vantlebld
