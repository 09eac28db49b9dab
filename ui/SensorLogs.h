// TSensorLogDlg: live readings of the detector with their flags, a scrolling chart and a CSV
// data log, and the calibration and bump buttons performed by the logging run between polls.
#pragma once

#include "app/device/Logging.h"
#include "app/core/Operator.h"
#include "ui/WindowClock.h"

#include <QDialog>

class QChart;
class QChartView;
class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineSeries;
class QProgressBar;
class QPushButton;
class QValueAxis;
class QWidget;
class TComKVT;
class TLabel3DBorder;

class TSensorLogDlg : public QDialog, public TLoggingView {
  Q_OBJECT

 public:
  TSensorLogDlg(TComKVT& link, Operator& op, QWidget* parent = nullptr);
  ~TSensorLogDlg() override;

  void ShowDlg();  // modal
  TWindowRunClock& Clock() { return FClock; }
  TLoggingRun& Run() { return FRun; }

  bool FCloseEnable = true;

  QPushButton* StartBtn = nullptr;
  QPushButton* StopBtn = nullptr;
  QPushButton* SensorPauseBtn = nullptr;  // checked: the chart stands still, logging goes on
  // Red with the alarms the detector reports; "No alarm" otherwise.
  TLabel3DBorder* SensorAlarmBanner = nullptr;
  QGroupBox* SensorViewGB = nullptr;
  QWidget* SensorPanel[3] = {};
  QCheckBox* SensorCheck2 = nullptr;
  QCheckBox* SensorCheck3 = nullptr;
  TLabel3DBorder* SensorValueLabel[3] = {};
  TLabel3DBorder* SensorPeakLabel[3] = {};
  QLabel* SensorUnitLabel[3] = {};  // sensor unit, V, degrees Celsius
  QGroupBox* SensorHistoryGB = nullptr;
  QCheckBox* SensorHistoryCheck[6] = {};
  QGroupBox* SensorAlarmGB = nullptr;
  QCheckBox* SensorAlarmCheck[5] = {};
  QChartView* SensorChart = nullptr;
  QLineSeries* SensorSeries = nullptr;
  QLineSeries* SensorLowSeries = nullptr;   // the alarm levels, across the time axis
  QLineSeries* SensorHighSeries = nullptr;
  QValueAxis* SensorAxisX = nullptr;
  QValueAxis* SensorAxisY = nullptr;
  QCheckBox* SensorFixedScaleCheck = nullptr;  // the value axis 0 to SensorScaleMaxSpin
  QDoubleSpinBox* SensorScaleMaxSpin = nullptr;
  QLabel* SensorLevelsLabel = nullptr;       // what the two level lines are
  TLabel3DBorder* DataLogErrorLabel = nullptr;
  QGroupBox* CalGB = nullptr;
  QPushButton* CalBtn = nullptr;
  QPushButton* ZeroBtn = nullptr;
  QPushButton* SpanBtn = nullptr;
  QPushButton* CalAbortBtn = nullptr;
  QPushButton* ClearPeakBtn = nullptr;
  QPushButton* BumpPassBtn = nullptr;
  QPushButton* BumpFailBtn = nullptr;
  QProgressBar* CalProgressBar = nullptr;
  TLabel3DBorder* CalLabel = nullptr;
  TLabel3DBorder* CalProgLabel = nullptr;

  // TLoggingView
  void ShowReading(const RReadingTexts& texts) override;
  void ChartReset(double min, double max, double increment) override;
  void ChartAdd(const RChartPoint& point) override;
  void ChartScroll(double min, double max, const std::vector<RChartPoint>& points) override;
  void ShowCalLabel(const std::string& text, TLabelColour colour) override;
  void CalButtons(bool enabled) override;
  void LoggingButtons(bool logging) override;
  void CalProgress(int seconds, int maximum) override;
  void DataLogError(const std::string& text) override;
  bool BatteryTicked() override;
  bool TemperatureTicked() override;
  void ShowSensorBlock(const RKVTSensorCFG& sensor) override;

 public slots:
  void StartBtnClick();
  void StopBtnClick();
  void CalButtonClick(uint8_t btnSel);  // the seven buttons of "Calibration"

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void FitValueAxis(double low, double high);
  void SetValueAxis();  // from the values shown, the alarm levels and the fixed scale
  void SetTimeAxis(double min, double max);
  int ChartColumns() const;  // pixels across the plot
  void ShowPoints(const std::vector<RChartPoint>& points);
  void PauseBtnToggled(bool paused);

  Operator& FOp;
  TWindowRunClock FClock;
  TLoggingRun FRun;
  double FLow = 0, FHigh = 0;  // range of the values shown
  bool FAny = false;
  double FAlarmLow = -1, FAlarmHigh = -1;  // in the sensor unit; below 0 before a start read them
  QString FUnit;
};
