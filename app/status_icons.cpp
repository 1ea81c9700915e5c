#include "app/status_icons.h"

#include <QPainter>
#include <QPixmap>

namespace vantlebld {

namespace {

constexpr int kIconSize = 32;
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

// The lamp: amber searching, blue found, green done, red error.
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

QIcon ProgramIcon() {
  QIcon builtIn;
  for (int size : kIconSizes)
    builtIn.addFile(QString(":/icons/%1x%1/vantlebld.png").arg(size), QSize(size, size));
  return QIcon::fromTheme("vantlebld", builtIn);
}

QIcon StatusIcon(TStatusImage image) {
  const QIcon program = ProgramIcon();
  if (image == TStatusImage::Idle) return program;
  QPixmap pixmap = program.pixmap(kIconSize, kIconSize);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::white, 2));
  painter.setBrush(LampColour(image));
  painter.drawEllipse(QPointF(kIconSize - 8, kIconSize - 8), 7, 7);
  return QIcon(pixmap);
}

}  // namespace vantlebld
