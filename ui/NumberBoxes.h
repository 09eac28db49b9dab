// The number fields of the main window. A typed number is never turned into another one: the
// box itself takes any number, and the field's range is kept beside it. What the program shows
// (Show) and a click on the arrows stay inside that range; a typed value outside it stays as
// typed, the field is framed in red with its range in its tooltip, and the writes refuse it by
// name (RefuseOutOfRange).
#pragma once

#include "app/config/CfgFields.h"

#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QString>

// What both kinds share: the field's range, its words and the red frame.
class TFieldRange {
 public:
  virtual ~TFieldRange() = default;
  // label: the row's caption; unit may be empty; what: what the value does, for the tooltip.
  void Describe(const QString& label, const QString& unit, const QString& what);
  void SetUnit(const QString& unit);
  double FieldMin() const { return FMin; }
  double FieldMax() const { return FMax; }
  // The value lies outside the field's range (as the box shows it, rounded to its decimals).
  bool OutOfRange() const;
  RShownNumber Shown() const;

 protected:
  void UpdateMark();
  virtual double Number() const = 0;
  virtual int Decimals() const = 0;
  virtual QWidget* Box() = 0;
  double FMin = 0.0, FMax = 0.0;
  QString FLabel, FUnit, FWhat;
};

class TDecimalBox : public QDoubleSpinBox, public TFieldRange {
  Q_OBJECT
 public:
  explicit TDecimalBox(QWidget* parent = nullptr);
  // The field's range; the value held is brought into it, as a new sensor type's range does.
  void SetFieldRange(double min, double max);
  // A value from the program, limited to the field's range.
  void Show(double value);
  void stepBy(int steps) override;

 protected:
  StepEnabled stepEnabled() const override;
  void paintEvent(QPaintEvent* event) override;
  double Number() const override { return value(); }
  int Decimals() const override { return decimals(); }
  QWidget* Box() override { return this; }
};

class TIntegerBox : public QSpinBox, public TFieldRange {
  Q_OBJECT
 public:
  explicit TIntegerBox(QWidget* parent = nullptr);
  void SetFieldRange(int min, int max);
  void Show(int value);
  void stepBy(int steps) override;

 protected:
  StepEnabled stepEnabled() const override;
  void paintEvent(QPaintEvent* event) override;
  double Number() const override { return value(); }
  int Decimals() const override { return 0; }
  QWidget* Box() override { return this; }
};
