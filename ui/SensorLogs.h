// TSensorLogDlg: live readings of the detector with their flags, a scrolling chart and a CSV
// data log, and the calibration and bump buttons performed by the logging run between polls.
#pragma once

#include "app/Logging.h"
#include "app/Operator.h"
#include "ui/WindowClock.h"

#include <QDialog>

class QChart;
class QChartView;
class QCheckBox;
class QGroupBox;
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
  QGroupBox* SensorViewGB = nullptr;
  QWidget* SensorPanel[3] = {};
  QCheckBox* SensorCheck2 = nullptr;
  QCheckBox* SensorCheck3 = nullptr;
  TLabel3DBorder* SensorValueLabel[3] = {};
  TLabel3DBorder* SensorPeakLabel[3] = {};
  QGroupBox* SensorHistoryGB = nullptr;
  QCheckBox* SensorHistoryCheck[6] = {};
  QGroupBox* SensorAlarmGB = nullptr;
  QCheckBox* SensorAlarmCheck[5] = {};
  QChartView* SensorChart = nullptr;
  QLineSeries* SensorSeries = nullptr;
  QValueAxis* SensorAxisX = nullptr;
  QValueAxis* SensorAxisY = nullptr;
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

 public slots:
  void StartBtnClick();
  void StopBtnClick();
  void CalButtonClick(uint8_t btnSel);  // the seven buttons of "Calibration"

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void FitValueAxis(double low, double high);
  int ChartColumns() const;  // pixels across the plot
  void ShowPoints(const std::vector<RChartPoint>& points);

  Operator& FOp;
  TWindowRunClock FClock;
  TLoggingRun FRun;
  double FLow = 0, FHigh = 0;  // range of the values shown
  bool FAny = false;
};
