#include "ui/SensorLogs.h"

#include "app/Operation.h"
#include "model/DeviceUtils.h"
#include "ui/Label3dB.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineSeries>
#include <QProgressBar>
#include <QPushButton>
#include <QValueAxis>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace {

template <class W>
W* Named(W* w, const QString& name) {
  w->setObjectName(name);
  return w;
}

TLabel3DBorder* ValueLabel(const QString& name) {
  auto* l = Named(new TLabel3DBorder, name);
  l->SetBorderStyle(TLabel3DBorder::bsHeavy);
  l->SetVerticalAlign(TLabel3DBorder::vaCenter);
  l->setAlignment(Qt::AlignHCenter);
  l->SetColor(Qt::white);
  l->SetShowAccelChar(false);
  l->setMinimumSize(90, 24);
  return l;
}

QColor Colour(TLabelColour c) { return c == TLabelColour::Red ? QColor(Qt::red) : QColor(Qt::blue); }

// The chart scrolls vertically with the wheel; it neither zooms nor pans in time, which the
// logging run drives.
class TSensorChartView : public QChartView {
 public:
  using QChartView::QChartView;

 protected:
  void wheelEvent(QWheelEvent* event) override {
    chart()->scroll(0, event->angleDelta().y() / 8.0);
    event->accept();
  }
};

}  // namespace

TSensorLogDlg::TSensorLogDlg(TComKVT& link, Operator& op, QWidget* parent)
    : QDialog(parent), FOp(op), FRun(link, op, *this, FClock) {
  setObjectName("TSensorLogDlg");
  setWindowTitle("Sensor Reading Data Logging");
  setFixedWidth(700);
  setMinimumHeight(360);
  setMaximumHeight(560);
  resize(700, 460);

  StartBtn = Named(new QPushButton("Start Logging"), "StartBtn");
  StopBtn = Named(new QPushButton("Stop Logging"), "StopBtn");
  StopBtn->setEnabled(false);

  SensorViewGB = Named(new QGroupBox("Acquired Sensor Value"), "SensorViewGB");
  auto* grid = new QGridLayout(SensorViewGB);
  const char* titles[3] = {"Sensor", "Battery", "Temperature"};
  for (int i = 0; i < 3; ++i) {
    auto* panel = Named(new QFrame, QString("SensorPanel%1").arg(i + 1));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(4, 1, 4, 1);
    row->addWidget(new QLabel(titles[i]));
    SensorPanel[i] = panel;
    if (i > 0) {
      auto* check = Named(new QCheckBox, QString("SensorCheck%1").arg(i + 1));
      check->setChecked(true);
      row->addWidget(check, 0, Qt::AlignRight);
      (i == 1 ? SensorCheck2 : SensorCheck3) = check;
    }
    SensorValueLabel[i] = ValueLabel(QString("SensorValueLabel%1").arg(i + 1));
    SensorPeakLabel[i] = ValueLabel(QString("SensorPeakLabel%1").arg(i + 1));
    grid->addWidget(panel, i, 0);
    grid->addWidget(SensorValueLabel[i], i, 1);
    grid->addWidget(SensorPeakLabel[i], i, 2);
  }
  SensorPeakLabel[0]->SetFontColor(Qt::red);

  SensorHistoryGB = Named(new QGroupBox("History"), "SensorHistoryGB");
  auto* history = new QGridLayout(SensorHistoryGB);
  const char* historyNames[6] = {"Self Test Fail", "Calibration Fail", "Bump Test Fail",
                                 "Calibration Due", "Bump Due",       "Calibration progress"};
  for (int i = 0; i < 6; ++i) {
    SensorHistoryCheck[i] = Named(new QCheckBox(historyNames[i]), QString("SensorHistoryCheck%1").arg(i + 1));
    SensorHistoryCheck[i]->setEnabled(false);
    history->addWidget(SensorHistoryCheck[i], i % 3, i / 3);
  }
  SensorAlarmGB = Named(new QGroupBox("Alarm"), "SensorAlarmGB");
  auto* alarm = new QGridLayout(SensorAlarmGB);
  const char* alarmNames[5] = {"TWA", "STEL", "LOW", "HIGH", "MULTI"};
  for (int i = 0; i < 5; ++i) {
    SensorAlarmCheck[i] = Named(new QCheckBox(alarmNames[i]), QString("SensorAlarmCheck%1").arg(i + 1));
    SensorAlarmCheck[i]->setEnabled(false);
    alarm->addWidget(SensorAlarmCheck[i], i / 3, i % 3);
  }

  auto* chart = new QChart;
  chart->legend()->hide();
  chart->setBackgroundRoundness(0);
  chart->setMargins(QMargins(2, 2, 2, 2));
  SensorSeries = new QLineSeries;
  SensorSeries->setObjectName("SensorSeries");
  SensorSeries->setPen(QPen(Qt::red, 1));
  SensorSeries->setPointsVisible(false);
  chart->addSeries(SensorSeries);
  SensorAxisX = new QValueAxis;
  SensorAxisX->setLabelFormat("%g");
  SensorAxisY = new QValueAxis;
  SensorAxisY->setLabelFormat("%g");
  chart->addAxis(SensorAxisX, Qt::AlignBottom);
  chart->addAxis(SensorAxisY, Qt::AlignLeft);
  SensorSeries->attachAxis(SensorAxisX);
  SensorSeries->attachAxis(SensorAxisY);
  SensorChart = Named(new TSensorChartView(chart), "SensorChart");
  SensorChart->setRenderHint(QPainter::Antialiasing, false);
  SensorChart->setMinimumHeight(120);
  ChartReset(0, DeviceCFG.mLogDisplayTime, DeviceCFG.mLogDisplayTime / 10.0);

  DataLogErrorLabel = Named(new TLabel3DBorder, "DataLogErrorLabel");
  DataLogErrorLabel->SetFontColor(Qt::red);
  DataLogErrorLabel->SetTransparent(true);
  DataLogErrorLabel->SetShowAccelChar(false);
  DataLogErrorLabel->setMinimumHeight(20);
  DataLogErrorLabel->hide();

  CalGB = Named(new QGroupBox("Calibration"), "CalGB");
  auto* cal = new QGridLayout(CalGB);
  struct {
    QPushButton** button;
    const char* name;
    const char* caption;
  } buttons[7] = {{&CalBtn, "CalBtn", "Calibration"},           {&ZeroBtn, "ZeroBtn", "Zero"},
                  {&SpanBtn, "SpanBtn", "Span"},                 {&CalAbortBtn, "CalAbortBtn", "Cal. Abort"},
                  {&ClearPeakBtn, "ClearPeakBtn", "Clear Peak"}, {&BumpPassBtn, "BumpPassBtn", "Bump Pass"},
                  {&BumpFailBtn, "BumpFailBtn", "Bump Fail"}};
  for (int i = 0; i < 7; ++i) {
    QPushButton* b = *buttons[i].button = Named(new QPushButton(buttons[i].caption), buttons[i].name);
    b->setEnabled(false);
    cal->addWidget(b, i / 4, i % 4);
    const auto btnSel = static_cast<uint8_t>(i + 1);
    connect(b, &QPushButton::clicked, this, [this, btnSel] { CalButtonClick(btnSel); });
  }
  CalProgressBar = Named(new QProgressBar, "CalProgressBar");
  CalProgressBar->setTextVisible(false);
  CalProgressBar->setRange(0, DeviceCFG.mCalTime);
  CalProgressBar->setValue(0);
  CalProgLabel = Named(new TLabel3DBorder("(0)"), "CalProgLabel");
  CalProgLabel->SetTransparent(true);
  CalProgLabel->SetVerticalAlign(TLabel3DBorder::vaCenter);
  CalLabel = Named(new TLabel3DBorder, "CalLabel");
  CalLabel->SetBorderStyle(TLabel3DBorder::bsLight);
  CalLabel->SetVerticalAlign(TLabel3DBorder::vaCenter);
  CalLabel->SetColor(Qt::white);
  CalLabel->SetShowAccelChar(false);
  CalLabel->setMinimumHeight(24);
  cal->addWidget(CalProgressBar, 2, 0, 1, 3);
  cal->addWidget(CalProgLabel, 2, 3);
  cal->addWidget(CalLabel, 3, 0, 1, 4);

  auto* left = new QVBoxLayout;
  left->addWidget(SensorViewGB);
  left->addWidget(SensorHistoryGB);
  auto* buttonsRow = new QHBoxLayout;
  buttonsRow->addWidget(StartBtn);
  buttonsRow->addWidget(StopBtn);
  auto* right = new QVBoxLayout;
  right->addLayout(buttonsRow);
  right->addWidget(CalGB);
  right->addWidget(SensorAlarmGB);
  right->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(left, 3);
  top->addLayout(right, 2);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addWidget(SensorChart, 1);
  all->addWidget(DataLogErrorLabel);

  connect(StartBtn, &QPushButton::clicked, this, &TSensorLogDlg::StartBtnClick);
  connect(StopBtn, &QPushButton::clicked, this, &TSensorLogDlg::StopBtnClick);
}

TSensorLogDlg::~TSensorLogDlg() = default;

void TSensorLogDlg::ShowDlg() {
  FCloseEnable = true;
  exec();
}

void TSensorLogDlg::StartBtnClick() {
  TOperationGuard guard;
  if (!guard || !FCloseEnable) return;
  FCloseEnable = false;
  DataLogErrorLabel->hide();
  FRun.StartLogging();
  FCloseEnable = true;
}

void TSensorLogDlg::StopBtnClick() {
  FRun.StopBtnClick();
  FClock.Wake();
}

void TSensorLogDlg::CalButtonClick(uint8_t btnSel) {
  FRun.PressCalButton(btnSel);
  FClock.Wake();
}

void TSensorLogDlg::closeEvent(QCloseEvent* event) {
  if (FCloseEnable)
    event->accept();
  else
    event->ignore();
}

void TSensorLogDlg::reject() {
  if (FCloseEnable) QDialog::reject();
}

void TSensorLogDlg::ShowReading(const RReadingTexts& texts) {
  for (int i = 0; i < 3; ++i) {
    SensorValueLabel[i]->setText(QString::fromStdString(texts.mValue[i]));
    SensorPeakLabel[i]->setText(QString::fromStdString(texts.mPeak[i]));
  }
  for (int i = 0; i < 6; ++i) SensorHistoryCheck[i]->setChecked(texts.mHistory[i]);
  for (int i = 0; i < 5; ++i) SensorAlarmCheck[i]->setChecked(texts.mAlarm[i]);
}

void TSensorLogDlg::FitValueAxis(double low, double high) {
  if (!FAny || low < FLow || high > FHigh) {
    FLow = FAny ? std::min(FLow, low) : low;
    FHigh = FAny ? std::max(FHigh, high) : high;
    FAny = true;
    const double margin = std::max((FHigh - FLow) * 0.05, 0.5);
    SensorAxisY->setRange(FLow - margin, FHigh + margin);
  }
}

void TSensorLogDlg::ChartReset(double min, double max, double increment) {
  SensorSeries->clear();
  SensorAxisX->setRange(min, max);
  SensorAxisX->setTickCount(increment > 0 ? static_cast<int>((max - min) / increment + 1.5) : 2);
  FAny = false;
  SensorAxisY->setRange(0, 1);
}

int TSensorLogDlg::ChartColumns() const {
  const int width = static_cast<int>(SensorChart->chart()->plotArea().width());
  return width > 0 ? width : 600;
}

void TSensorLogDlg::ChartAdd(const RChartPoint& point) {
  SensorSeries->append(point.mTime, point.mValue);
  FitValueAxis(point.mValue, point.mValue);
  // The chart lays out every point it holds for each reading: past a few per pixel, the
  // points it holds are thinned to the same line.
  if (SensorSeries->count() > 4 * ChartColumns()) {
    std::vector<RChartPoint> points;
    points.reserve(static_cast<size_t>(SensorSeries->count()));
    for (const QPointF& p : SensorSeries->points()) points.push_back({p.x(), static_cast<float>(p.y())});
    ShowPoints(ThinChartPoints(points, SensorAxisX->min(), SensorAxisX->max(), ChartColumns()));
  }
}

void TSensorLogDlg::ShowPoints(const std::vector<RChartPoint>& points) {
  QList<QPointF> list;
  list.reserve(static_cast<qsizetype>(points.size()));
  for (const RChartPoint& p : points) list.append(QPointF(p.mTime, p.mValue));
  SensorSeries->replace(list);
}

void TSensorLogDlg::ChartScroll(double min, double max, const std::vector<RChartPoint>& points) {
  SensorAxisX->setRange(min, max);
  FAny = false;
  if (points.empty()) {
    SensorSeries->clear();
    return;
  }
  const auto [low, high] = std::minmax_element(points.begin(), points.end(), [](const RChartPoint& a,
                                                                                const RChartPoint& b) {
    return a.mValue < b.mValue;
  });
  ShowPoints(ThinChartPoints(points, min, max, ChartColumns()));
  FitValueAxis(low->mValue, high->mValue);
}

void TSensorLogDlg::ShowCalLabel(const std::string& text, TLabelColour colour) {
  CalLabel->SetFontColor(Colour(colour));
  CalLabel->setText(QString::fromStdString(text));
}

void TSensorLogDlg::CalButtons(bool enabled) {
  for (QPushButton* b : {CalBtn, ZeroBtn, SpanBtn, ClearPeakBtn, BumpPassBtn, BumpFailBtn}) b->setEnabled(enabled);
}

void TSensorLogDlg::LoggingButtons(bool logging) {
  StartBtn->setEnabled(!logging);
  StopBtn->setEnabled(logging);
  CalButtons(logging);
  CalAbortBtn->setEnabled(logging);
}

void TSensorLogDlg::CalProgress(int seconds, int maximum) {
  CalProgressBar->setRange(0, maximum);
  CalProgressBar->setValue(std::min(seconds, maximum));
  CalProgLabel->setText(QString("(%1)").arg(seconds));
}

void TSensorLogDlg::DataLogError(const std::string& text) {
  DataLogErrorLabel->setText(QString::fromStdString(text));
  DataLogErrorLabel->show();
}

bool TSensorLogDlg::BatteryTicked() { return SensorCheck2->isChecked(); }
bool TSensorLogDlg::TemperatureTicked() { return SensorCheck3->isChecked(); }
