#include "ui/SensorLogs.h"

#include "app/device/Operation.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "ui/Label3dB.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLocale>
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
#include <cmath>
#include <utility>

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

const QColor kLowColour(230, 120, 0);
const QColor kHighColour(150, 0, 0);

// The chart scrolls vertically with the wheel; it neither zooms nor pans in time, which the
// logging run drives. Its plot keeps room for the widest value label, so the plot does not
// shift sideways when the labels change.
class TSensorChartView : public QChartView {
 public:
  using QChartView::QChartView;

 protected:
  void wheelEvent(QWheelEvent* event) override {
    chart()->scroll(0, event->angleDelta().y() / 8.0);
    event->accept();
  }
  void resizeEvent(QResizeEvent* event) override {
    // Set before the chart takes its new size, so that its layout places the axes around it.
    const QList<QAbstractAxis*> axes = chart()->axes(Qt::Vertical);
    const QFontMetrics labels(axes.isEmpty() ? font() : axes.first()->labelsFont());
    const int left = labels.horizontalAdvance(QStringLiteral("-00000.0")) + 2 * labels.height() + 8;
    const int top = labels.height();
    const int bottom = 2 * labels.height() + 14;
    const QSize size = event->size();
    chart()->setPlotArea(QRectF(left, top, std::max(10, size.width() - left - 16),
                                std::max(10, size.height() - top - bottom)));
    QChartView::resizeEvent(event);
  }
};

// A value axis from low to high on round ticks (1, 2 or 5 times a power of ten), with a
// step of room above the highest value.
struct RValueAxis {
  double mMin, mMax, mStep;
  int mDecimals;
};

RValueAxis RoundValueAxis(double low, double high) {
  const double span = std::max(high - low, 1.0);
  const double raw = span / 6;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (double f : {1.0, 2.0, 5.0, 10.0})
    if (f * power >= raw - 1e-9) {
      step = f * power;
      break;
    }
  const double min = std::floor(low / step + 1e-9) * step;
  const double max = (std::floor(high / step + 1e-9) + 1) * step;
  const int decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
  return {min, max, step, decimals};
}

}  // namespace

TSensorLogDlg::TSensorLogDlg(TComKVT& link, Operator& op, QWidget* parent)
    : QDialog(parent), FOp(op), FRun(link, op, *this, FClock) {
  setObjectName("TSensorLogDlg");
  setWindowTitle("Sensor Reading Data Logging");

  StartBtn = Named(new QPushButton("Start Logging"), "StartBtn");
  StopBtn = Named(new QPushButton("Stop Logging"), "StopBtn");
  StopBtn->setEnabled(false);
  SensorPauseBtn = Named(new QPushButton("Pause Chart"), "SensorPauseBtn");
  SensorPauseBtn->setCheckable(true);

  SensorAlarmBanner = Named(new TLabel3DBorder, "SensorAlarmBanner");
  SensorAlarmBanner->SetBorderStyle(TLabel3DBorder::bsLight);
  SensorAlarmBanner->SetVerticalAlign(TLabel3DBorder::vaCenter);
  SensorAlarmBanner->setAlignment(Qt::AlignHCenter);
  SensorAlarmBanner->SetShowAccelChar(false);
  QFont bannerFont = font();
  bannerFont.setBold(true);
  bannerFont.setPixelSize(18);
  SensorAlarmBanner->setFont(bannerFont);
  SensorAlarmBanner->setFixedHeight(34);
  SensorAlarmBanner->setMinimumWidth(0);
  SensorAlarmBanner->setMaximumWidth(QWIDGETSIZE_MAX);

  SensorViewGB = Named(new QGroupBox("Acquired Sensor Value"), "SensorViewGB");
  auto* grid = new QGridLayout(SensorViewGB);
  grid->addWidget(new QLabel("Value"), 0, 1, Qt::AlignHCenter);
  grid->addWidget(new QLabel("Peak / Raw"), 0, 2, Qt::AlignHCenter);
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
    grid->addWidget(panel, i + 1, 0);
    grid->addWidget(SensorValueLabel[i], i + 1, 1);
    grid->addWidget(SensorPeakLabel[i], i + 1, 2);
    // Every value with its unit; the sensor's follows the detector read.
    SensorUnitLabel[i] = Named(new QLabel(i == 1 ? QStringLiteral("V") : i == 2 ? QStringLiteral("°C") : QString()),
                               QString("SensorUnitLabel%1").arg(i + 1));
    grid->addWidget(SensorUnitLabel[i], i + 1, 3);
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
  SensorLowSeries = new QLineSeries;
  SensorLowSeries->setObjectName("SensorLowSeries");
  SensorLowSeries->setPen(QPen(kLowColour, 1.5, Qt::DashLine));
  SensorHighSeries = new QLineSeries;
  SensorHighSeries->setObjectName("SensorHighSeries");
  SensorHighSeries->setPen(QPen(kHighColour, 1.5, Qt::DashLine));
  SensorAxisX = new QValueAxis;
  SensorAxisX->setLabelFormat("%g");
  SensorAxisX->setTitleText("Time (s)");
  SensorAxisY = new QValueAxis;
  SensorAxisY->setTitleText("Sensor");
  SensorAxisY->setTickType(QValueAxis::TicksDynamic);
  SensorAxisY->setTickAnchor(0);
  chart->addAxis(SensorAxisX, Qt::AlignBottom);
  chart->addAxis(SensorAxisY, Qt::AlignLeft);
  for (QLineSeries* series : {SensorLowSeries, SensorHighSeries, SensorSeries}) {
    chart->addSeries(series);
    series->attachAxis(SensorAxisX);
    series->attachAxis(SensorAxisY);
  }
  SensorChart = Named(new TSensorChartView(chart), "SensorChart");
  SensorChart->setRenderHint(QPainter::Antialiasing, false);
  SensorChart->setMinimumHeight(180);
  SensorChart->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

  SensorFixedScaleCheck = Named(new QCheckBox("Fixed scale from 0 to"), "SensorFixedScaleCheck");
  SensorScaleMaxSpin = Named(new QDoubleSpinBox, "SensorScaleMaxSpin");
  SensorScaleMaxSpin->setDecimals(1);
  SensorScaleMaxSpin->setRange(0.1, 10000);
  SensorScaleMaxSpin->setValue(100);
  SensorLevelsLabel = Named(new QLabel, "SensorLevelsLabel");
  connect(SensorFixedScaleCheck, &QCheckBox::toggled, this, [this] { SetValueAxis(); });
  connect(SensorScaleMaxSpin, &QDoubleSpinBox::valueChanged, this, [this] {
    if (SensorFixedScaleCheck->isChecked()) SetValueAxis();
  });
  connect(SensorPauseBtn, &QPushButton::toggled, this, &TSensorLogDlg::PauseBtnToggled);
  ChartReset(0, DeviceCFG.mLogDisplayTime, DeviceCFG.mLogDisplayTime / 10.0);

  DataLogErrorLabel = Named(new TLabel3DBorder, "DataLogErrorLabel");
  DataLogErrorLabel->SetFontColor(Qt::red);
  DataLogErrorLabel->SetTransparent(true);
  DataLogErrorLabel->SetShowAccelChar(false);
  DataLogErrorLabel->setMinimumHeight(20);
  DataLogErrorLabel->setMinimumWidth(0);
  DataLogErrorLabel->setMaximumWidth(QWIDGETSIZE_MAX);
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
  CalLabel->setMinimumWidth(0);
  CalLabel->setMaximumWidth(QWIDGETSIZE_MAX);
  cal->addWidget(CalProgressBar, 2, 0, 1, 3);
  cal->addWidget(CalProgLabel, 2, 3);
  cal->addWidget(CalLabel, 3, 0, 1, 4);

  auto* left = new QVBoxLayout;
  left->addWidget(SensorViewGB);
  left->addWidget(SensorHistoryGB);
  left->addStretch();
  auto* buttonsRow = new QHBoxLayout;
  buttonsRow->addWidget(StartBtn);
  buttonsRow->addWidget(StopBtn);
  buttonsRow->addWidget(SensorPauseBtn);
  auto* right = new QVBoxLayout;
  right->addLayout(buttonsRow);
  right->addWidget(CalGB);
  right->addWidget(SensorAlarmGB);
  right->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(left, 3);
  top->addLayout(right, 2);
  auto* scale = new QHBoxLayout;
  scale->addWidget(SensorFixedScaleCheck);
  scale->addWidget(SensorScaleMaxSpin);
  scale->addSpacing(16);
  scale->addWidget(SensorLevelsLabel, 1);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addWidget(SensorAlarmBanner);
  all->addWidget(SensorChart, 1);
  all->addLayout(scale);
  all->addWidget(DataLogErrorLabel);
  // Every caption stays whole: the layout's own minimum is the dialog's; more room goes to
  // the chart.
  all->setSizeConstraint(QLayout::SetMinimumSize);
  resize(std::max(minimumSizeHint().width(), 760), std::max(minimumSizeHint().height(), 640));
  ShowReading(RReadingTexts{});

  connect(StartBtn, &QPushButton::clicked, this, &TSensorLogDlg::StartBtnClick);
  connect(StopBtn, &QPushButton::clicked, this, &TSensorLogDlg::StopBtnClick);
}

TSensorLogDlg::~TSensorLogDlg() = default;

void TSensorLogDlg::ShowDlg() {
  FCloseEnable = true;
  exec();
}

void TSensorLogDlg::StartBtnClick() {
  TOperationGuard guard(FOp);
  if (!guard || !FCloseEnable) return;
  FCloseEnable = false;
  DataLogErrorLabel->hide();
  SensorPauseBtn->setChecked(false);
  FRun.StartLogging();
  FCloseEnable = true;
}

void TSensorLogDlg::StopBtnClick() {
  FRun.Stop();
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

  // In the order a technician reads them; indexes are the alarm bits.
  static const std::pair<int, const char*> kBannerOrder[] = {{2, "LOW"}, {3, "HIGH"}, {1, "STEL"}, {0, "TWA"}, {4, "MULTI"}};
  QStringList alarms;
  for (const auto& [bit, name] : kBannerOrder)
    if (texts.mAlarm[bit]) alarms << name;
  if (alarms.isEmpty()) {
    SensorAlarmBanner->SetColor(QColor(232, 232, 232));
    SensorAlarmBanner->SetFontColor(QColor(110, 110, 110));
    SensorAlarmBanner->setText(texts.mValue[0].empty() ? QString() : QStringLiteral("No alarm"));
  } else {
    SensorAlarmBanner->SetColor(QColor(210, 0, 0));
    SensorAlarmBanner->SetFontColor(Qt::white);
    SensorAlarmBanner->setText(QStringLiteral("ALARM  %1   %2 %3")
                                   .arg(alarms.join(QStringLiteral(" + ")), QString::fromStdString(texts.mValue[0]), FUnit)
                                   .trimmed());
  }
}

void TSensorLogDlg::ShowSensorBlock(const RKVTSensorCFG& sensor) {
  FAlarmLow = sensor.mAlarmLow / 10.0;
  FAlarmHigh = sensor.mAlarmHigh / 10.0;
  const int type = FindSensorType(sensor.mSensorType);
  FUnit = type >= 0 ? QString::fromStdString(SensorTypes[static_cast<size_t>(type)].mUnit) : QString();
  SensorUnitLabel[0]->setText(FUnit);
  const QString gas = type >= 0 ? QString::fromStdString(SensorTypes[static_cast<size_t>(type)].mName) : QString("Sensor");
  SensorAxisY->setTitleText(FUnit.isEmpty() ? gas : QStringLiteral("%1 (%2)").arg(gas, FUnit));
  SensorScaleMaxSpin->setSuffix(FUnit.isEmpty() ? QString() : QStringLiteral(" ") + FUnit);
  if (sensor.mSensorMax > 0) SensorScaleMaxSpin->setValue(sensor.mSensorMax / 10.0);
  const QLocale locale;
  SensorLevelsLabel->setText(QStringLiteral("<span style=\"color:%1\">&#9472;&#9472; LOW alarm %2 %3</span>"
                                            "&nbsp;&nbsp;&nbsp;<span style=\"color:%4\">&#9472;&#9472; HIGH alarm %5 %3</span>")
                                 .arg(kLowColour.name(), locale.toString(FAlarmLow, 'f', 1), FUnit, kHighColour.name(),
                                      locale.toString(FAlarmHigh, 'f', 1)));
  SetTimeAxis(SensorAxisX->min(), SensorAxisX->max());
  SetValueAxis();
}

void TSensorLogDlg::FitValueAxis(double low, double high) {
  if (!FAny || low < FLow || high > FHigh) {
    FLow = FAny ? std::min(FLow, low) : low;
    FHigh = FAny ? std::max(FHigh, high) : high;
    FAny = true;
    SetValueAxis();
  }
}

void TSensorLogDlg::SetValueAxis() {
  RValueAxis axis;
  if (SensorFixedScaleCheck->isChecked()) {
    axis = RoundValueAxis(0, SensorScaleMaxSpin->value());
    axis.mMax = SensorScaleMaxSpin->value();
  } else {
    // From 0, or below it for negative readings, to above the highest of the values and levels.
    double low = 0, high = std::max(FAlarmHigh, FAlarmLow);
    if (FAny) low = std::min(low, FLow), high = std::max(high, FHigh);
    axis = RoundValueAxis(low, high);
  }
  // A little above the top tick: a label reaching past the plot is not drawn.
  SensorAxisY->setRange(axis.mMin, axis.mMax + axis.mStep * 0.3);
  SensorAxisY->setTickInterval(axis.mStep);
  SensorAxisY->setLabelFormat(QStringLiteral("%.%1f").arg(axis.mDecimals));
}

void TSensorLogDlg::SetTimeAxis(double min, double max) {
  SensorAxisX->setRange(min, max);
  for (auto [series, level] : {std::pair{SensorLowSeries, FAlarmLow}, std::pair{SensorHighSeries, FAlarmHigh}}) {
    if (level < 0)
      series->clear();
    else
      series->replace(QList<QPointF>{{min, level}, {max, level}});
  }
}

void TSensorLogDlg::ChartReset(double min, double max, double increment) {
  SensorSeries->clear();
  SetTimeAxis(min, max);
  SensorAxisX->setTickCount(increment > 0 ? static_cast<int>((max - min) / increment + 1.5) : 2);
  FAny = false;
  SetValueAxis();
}

// While paused the chart keeps what it shows; the run's history has every point, and the
// view catches up with it on resume.
void TSensorLogDlg::PauseBtnToggled(bool paused) {
  SensorPauseBtn->setText(paused ? "Resume Chart" : "Pause Chart");
  if (!paused) ChartScroll(FRun.History().AxisMin(), FRun.History().AxisMax(), FRun.History().Visible());
}

int TSensorLogDlg::ChartColumns() const {
  const int width = static_cast<int>(SensorChart->chart()->plotArea().width());
  return width > 0 ? width : 600;
}

void TSensorLogDlg::ChartAdd(const RChartPoint& point) {
  if (SensorPauseBtn->isChecked()) return;
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
  if (SensorPauseBtn->isChecked()) return;
  SetTimeAxis(min, max);
  FAny = false;
  if (points.empty()) {
    SensorSeries->clear();
    SetValueAxis();
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
