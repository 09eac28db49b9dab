#include "ui/Label3dB.h"

#include <QMouseEvent>
#include <QPainter>

TLabel3DBorder::TLabel3DBorder(QWidget* owner) : TLabel3DBorder(QString(), owner) {}

TLabel3DBorder::TLabel3DBorder(const QString& caption, QWidget* owner) : QLabel(caption, owner) {
  setFocusPolicy(Qt::NoFocus);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  resize(kDefaultWidth, kDefaultHeight);
}

void TLabel3DBorder::SetVerticalAlign(TVerticalAlign value) {
  if (value == FVerticalAlign) return;
  FVerticalAlign = value;
  update();
}

void TLabel3DBorder::SetBorderStyle(TBorderStyle value) {
  if (value == FBorderStyle) return;
  FBorderStyle = value;
  update();
}

void TLabel3DBorder::SetShowAccelChar(bool value) {
  if (value == FShowAccelChar) return;
  FShowAccelChar = value;
  update();
}

void TLabel3DBorder::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  update();
}

QColor TLabel3DBorder::Color() const { return palette().color(QPalette::Window); }

void TLabel3DBorder::SetColor(const QColor& value) {
  QPalette p = palette();
  p.setColor(QPalette::Window, value);
  setPalette(p);
  update();
}

void TLabel3DBorder::SetFontColor(const QColor& value) {
  QPalette p = palette();
  p.setColor(QPalette::Active, QPalette::WindowText, value);
  p.setColor(QPalette::Inactive, QPalette::WindowText, value);
  setPalette(p);
  update();
}

QSize TLabel3DBorder::sizeHint() const { return {kDefaultWidth, kDefaultHeight}; }

QSize TLabel3DBorder::minimumSizeHint() const { return {0, 0}; }

QRect TLabel3DBorder::TextRect() const {
  return rect().adjusted(kTextInset, kTextInset, -kTextInset, -kTextInset);
}

int TLabel3DBorder::DrawFlags() const {
  int flags = Qt::TextExpandTabs;
  flags |= alignment() & Qt::AlignHorizontal_Mask;
  switch (FVerticalAlign) {
    case vaTop:
      flags |= Qt::AlignTop;
      if (wordWrap()) flags |= Qt::TextWordWrap;
      break;
    case vaCenter:
      flags |= Qt::AlignVCenter | Qt::TextSingleLine;
      break;
    case vaBottom:
      flags |= Qt::AlignBottom | Qt::TextSingleLine;
      break;
  }
  if (FShowAccelChar) flags |= Qt::TextShowMnemonic;
  return flags;
}

QString TLabel3DBorder::DisplayText() const {
  QString s = text();
  // Centre and bottom draw one line: line breaks become blanks rather than boxes.
  if (FVerticalAlign != vaTop) {
    s.replace(QLatin1String("\r\n"), QLatin1String(" "));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
  }
  return s;
}

QSize TLabel3DBorder::MeasureCaption() const {
  QString s = DisplayText();
  if (s.isEmpty() || (FShowAccelChar && s == QLatin1String("&"))) s = QStringLiteral(" ");
  const int width = wordWrap() && FVerticalAlign == vaTop ? TextRect().width() : 0x7FFFFF;
  return fontMetrics().boundingRect(QRect(0, 0, width, 0x7FFFFF), DrawFlags(), s).size();
}

namespace {

// One pixel along the top and left in a, along the bottom and right in b (the corners at
// top-right and bottom-left belong to b), then the rectangle shrinks by one on every side.
void Frame(QPainter& p, QRect& r, const QColor& a, const QColor& b) {
  if (r.width() <= 0 || r.height() <= 0) return;
  p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), a);
  p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), a);
  p.fillRect(QRect(r.right(), r.top(), 1, r.height()), b);
  p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), b);
  r.adjust(1, 1, -1, -1);
}

}  // namespace

void TLabel3DBorder::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QRect r = rect();
  if (!FTransparent) p.fillRect(r, Color());

  const QPalette& pal = palette();
  const QColor shadow = pal.color(QPalette::Active, QPalette::Dark);
  const QColor highlight = pal.color(QPalette::Active, QPalette::Light);
  const QColor face = pal.color(QPalette::Active, QPalette::Button);
  const QColor black(Qt::black);

  switch (FBorderStyle) {
    case bsNone:
      r.adjust(2, 2, -2, -2);
      break;
    case bsLight:
      Frame(p, r, shadow, highlight);
      r.adjust(1, 1, -1, -1);
      break;
    case bsMedium:
      Frame(p, r, black, highlight);
      r.adjust(1, 1, -1, -1);
      break;
    case bsHeavy:
      Frame(p, r, shadow, highlight);
      Frame(p, r, black, face);
      break;
    case bsFrame:
      Frame(p, r, shadow, highlight);
      Frame(p, r, highlight, shadow);
      break;
    case bsRaisedFrame:
      Frame(p, r, highlight, shadow);
      Frame(p, r, shadow, highlight);
      break;
  }
  r.adjust(1, 1, -1, -1);
  if (r.width() <= 0 || r.height() <= 0) return;

  p.setFont(font());
  p.setPen(isEnabled() ? pal.color(QPalette::Active, QPalette::WindowText)
                       : pal.color(QPalette::Disabled, QPalette::WindowText));
  p.setClipRect(r);
  p.drawText(r, DrawFlags(), DisplayText());
}

void TLabel3DBorder::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

void TLabel3DBorder::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit doubleClicked();
}
