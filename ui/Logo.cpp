#include "ui/Logo.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

TLogoImage::TLogoImage(QWidget* parent) : QWidget(parent) { setFixedSize(sizeHint()); }

// Drawn on a 205 x 61 design grid and stretched to the widget: a badge with an infrared beam
// leaving a small dock, then the product name.
void TLogoImage::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(width() / 205.0, height() / 61.0);

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

  QFont big(QStringLiteral("Arial"));
  big.setPixelSize(26);
  big.setBold(true);
  p.setFont(big);
  p.setPen(QColor(120, 10, 20));
  p.drawText(QRectF(62, 2, 143, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("QRB"));

  QFont small(QStringLiteral("Arial"));
  small.setPixelSize(15);
  small.setBold(true);
  p.setFont(small);
  p.setPen(QColor(60, 60, 60));
  p.drawText(QRectF(62, 32, 143, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("BeamDock"));

  p.setPen(QPen(QColor(200, 30, 40), 2));
  p.drawLine(QPointF(62, 33), QPointF(200, 33));
}

void TLogoImage::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

void TLogoImage::enterEvent(QEnterEvent*) { emit mouseEntered(); }

void TLogoImage::leaveEvent(QEvent*) { emit mouseLeft(); }
