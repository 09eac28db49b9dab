#include "ui/NumberBoxes.h"

#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {
// Wide enough for any number a person types into these fields; the field's range decides.
constexpr double kWideDecimal = 999999.9;
constexpr int kWideInteger = 99999999;

void PaintMark(QWidget* box) {
  QPainter p(box);
  p.setPen(QPen(QColor(220, 0, 0), 2));
  p.drawRect(box->rect().adjusted(1, 1, -1, -1));
}
}  // namespace

void TFieldRange::Describe(const QString& label, const QString& unit, const QString& what) {
  FLabel = label;
  FUnit = unit;
  FWhat = what;
  UpdateMark();
}

void TFieldRange::SetUnit(const QString& unit) {
  FUnit = unit;
  UpdateMark();
}

bool TFieldRange::OutOfRange() const {
  const RShownNumber n = Shown();
  return RefuseOutOfRange({n}, {}).has_value();
}

RShownNumber TFieldRange::Shown() const {
  return {FLabel.toStdString(), Number(), FMin, FMax, Decimals(), FUnit.toStdString()};
}

void TFieldRange::UpdateMark() {
  const RShownNumber n = Shown();
  QString tip = QStringLiteral("%1: %2").arg(FLabel, QString::fromStdString(RangeText(n)));
  if (!FWhat.isEmpty()) tip += QStringLiteral("\n") + FWhat;
  if (OutOfRange())
    tip += QStringLiteral("\n%1 is outside this range: Write Device and Write File refuse it.")
               .arg(QString::number(n.mValue, 'f', n.mDecimals));
  Box()->setToolTip(tip);
  Box()->update();
}

TDecimalBox::TDecimalBox(QWidget* parent) : QDoubleSpinBox(parent) {
  setRange(-kWideDecimal, kWideDecimal);
  connect(this, &QDoubleSpinBox::valueChanged, this, [this] { UpdateMark(); });
}

void TDecimalBox::SetFieldRange(double min, double max) {
  FMin = min;
  FMax = std::max(min, max);
  Show(value());
  UpdateMark();
}

void TDecimalBox::Show(double v) { setValue(std::clamp(v, FMin, FMax)); }

void TDecimalBox::stepBy(int steps) {
  const double v = value() + steps * singleStep();
  setValue(std::clamp(v, FMin, FMax));
  selectAll();
}

QAbstractSpinBox::StepEnabled TDecimalBox::stepEnabled() const {
  StepEnabled e = StepNone;
  if (value() < FMax) e |= StepUpEnabled;
  if (value() > FMin) e |= StepDownEnabled;
  return e;
}

void TDecimalBox::paintEvent(QPaintEvent* event) {
  QDoubleSpinBox::paintEvent(event);
  if (OutOfRange()) PaintMark(this);
}

TIntegerBox::TIntegerBox(QWidget* parent) : QSpinBox(parent) {
  setRange(-kWideInteger, kWideInteger);
  connect(this, &QSpinBox::valueChanged, this, [this] { UpdateMark(); });
}

void TIntegerBox::SetFieldRange(int min, int max) {
  FMin = min;
  FMax = std::max(min, max);
  // A field without limit takes every number the box can hold.
  if (min < -kWideInteger || max > kWideInteger) setRange(min, max);
  Show(value());
  UpdateMark();
}

void TIntegerBox::Show(int v) { setValue(static_cast<int>(std::clamp<double>(v, FMin, FMax))); }

void TIntegerBox::stepBy(int steps) {
  const double v = static_cast<double>(value()) + static_cast<double>(steps) * singleStep();
  setValue(static_cast<int>(std::clamp(v, FMin, FMax)));
  selectAll();
}

QAbstractSpinBox::StepEnabled TIntegerBox::stepEnabled() const {
  StepEnabled e = StepNone;
  if (value() < FMax) e |= StepUpEnabled;
  if (value() > FMin) e |= StepDownEnabled;
  return e;
}

void TIntegerBox::paintEvent(QPaintEvent* event) {
  QSpinBox::paintEvent(event);
  if (OutOfRange()) PaintMark(this);
}
