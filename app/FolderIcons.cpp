#include "app/FolderIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace app {
namespace {

const QColor kOutline(128, 96, 0);
const QColor kBack(224, 176, 48);
const QColor kFront(255, 220, 96);

// Drawn in 16-pixel units at `ratio` device pixels each, so scaled screens get sharp pictures.
QPixmap Blank(int ratio) {
  QPixmap pixmap(kFolderIconPx * ratio, kFolderIconPx * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// The folder's back with its tab; the front is drawn over it.
void DrawBack(QPainter& painter) {
  QPainterPath back;
  back.moveTo(1.5, 3.5);
  back.lineTo(5.5, 3.5);
  back.lineTo(6.5, 4.5);
  back.lineTo(12.5, 4.5);
  back.lineTo(12.5, 13.5);
  back.lineTo(1.5, 13.5);
  back.closeSubpath();
  painter.setPen(kOutline);
  painter.setBrush(kBack);
  painter.drawPath(back);
}

QPixmap DrawClosed(int ratio) {
  QPixmap pixmap = Blank(ratio);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing, false);
  DrawBack(painter);
  painter.setPen(kOutline);
  painter.setBrush(kFront);
  painter.drawRect(QRectF(1.5, 6.5, 12, 7));
  return pixmap;
}

QPixmap DrawOpen(int ratio) {
  QPixmap pixmap = Blank(ratio);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing, true);
  DrawBack(painter);
  // The front leans forward, as an opened folder's flap does.
  QPainterPath front;
  front.moveTo(4.5, 7.5);
  front.lineTo(15.5, 7.5);
  front.lineTo(12.5, 13.5);
  front.lineTo(1.5, 13.5);
  front.closeSubpath();
  painter.setPen(kOutline);
  painter.setBrush(kFront);
  painter.drawPath(front);
  return pixmap;
}

}  // namespace

QIcon OpenFolderIcon() {
  QIcon icon(DrawOpen(1));
  icon.addPixmap(DrawOpen(2));
  return icon;
}

QIcon ClosedFolderIcon() {
  QIcon icon(DrawClosed(1));
  icon.addPixmap(DrawClosed(2));
  return icon;
}

}  // namespace app
