#include "ui/Logo.h"

#include "ui/LogoBadge.h"

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

  PaintLogoBadge(p);

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
