#include "ui/LogoBadge.h"

#include <QLinearGradient>
#include <QPainter>

void PaintLogoBadge(QPainter& p) {
  QLinearGradient badge(0, 4, 0, 57);
  badge.setColorAt(0, QColor(200, 30, 40));
  badge.setColorAt(1, QColor(120, 10, 20));
  p.setPen(Qt::NoPen);
  p.setBrush(badge);
  p.drawRoundedRect(QRectF(3, 4, 53, 53), 9, 9);

  // The dock and its window.
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(11, 34, 20, 14), 3, 3);
  p.setBrush(QColor(120, 10, 20));
  p.drawRect(QRectF(27, 38, 4, 6));

  // Beam arcs.
  QPen beam(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap);
  p.setPen(beam);
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 3; ++i) {
    const double r = 8 + i * 6.5;
    p.drawArc(QRectF(29 - r, 41 - r, 2 * r, 2 * r), 5 * 16, 80 * 16);
  }
}
