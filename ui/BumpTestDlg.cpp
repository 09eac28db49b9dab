#include "ui/BumpTestDlg.h"

#include "app/device/Calibration.h"
#include "model/SensorTypes.h"
#include "ui/DialogParts.h"
#include "ui/Label3dB.h"
#include "ui/NumberBoxes.h"

#include <QCloseEvent>
#include <QDate>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QPushButton* NamedButton(const char* name, const char* text) {
  auto* b = new QPushButton(text);
  b->setObjectName(name);
  return b;
}

}  // namespace

TBumpTestDlg::TBumpTestDlg(TComKVT& link, Operator& op, QWidget* parent) : QDialog(parent), FLink(link), FOp(op) {
  setObjectName("TBumpTestDlg");
  setWindowTitle("Bump Test");
  BumpGB = new QGroupBox;
  BumpGB->setObjectName("BumpGB");
  BumpGasSpin = new TDecimalBox;
  BumpGasSpin->setObjectName("BumpGasSpin");
  BumpGasSpin->setDecimals(1);
  BumpGasSpin->setFixedSize(90, 24);
  BumpUnitLabel = new QLabel;
  BumpUnitLabel->setObjectName("BumpUnitLabel");
  BumpLotEdit = new QLineEdit;
  BumpLotEdit->setObjectName("BumpLotEdit");
  BumpLotEdit->setMaxLength(40);
  BumpLotEdit->setPlaceholderText("cylinder lot");
  BumpExpiryEdit = new QLineEdit;
  BumpExpiryEdit->setObjectName("BumpExpiryEdit");
  BumpExpiryEdit->setMaxLength(10);
  BumpExpiryEdit->setPlaceholderText("YYYY-MM-DD");
  BumpGuideLabel = new QLabel;
  BumpGuideLabel->setObjectName("BumpGuideLabel");
  BumpGuideLabel->setWordWrap(true);
  BumpGuideLabel->setMinimumHeight(40);
  BumpReadingLabel = DialogValueLabel("BumpReadingLabel");
  BumpElapsedLabel = DialogValueLabel("BumpElapsedLabel");
  BumpLowLabel = DialogValueLabel("BumpLowLabel");
  BumpHighLabel = DialogValueLabel("BumpHighLabel");
  BumpResultLabel = DialogValueLabel("BumpResultLabel");
  BumpStartBtn = NamedButton("BumpStartBtn", "Bump Test");
  BumpGasOnBtn = NamedButton("BumpGasOnBtn", "Gas is on");
  BumpGasOffBtn = NamedButton("BumpGasOffBtn", "Gas removed");
  BumpStopBtn = NamedButton("BumpStopBtn", "Stop");
  CloseBtn = NamedButton("CloseBtn", "Close");

  auto* grid = new QGridLayout(BumpGB);
  grid->addWidget(DialogRowLabel("Test gas"), 0, 0);
  grid->addWidget(BumpGasSpin, 0, 1);
  grid->addWidget(BumpUnitLabel, 0, 2);
  grid->addWidget(DialogRowLabel("Cylinder lot"), 1, 0);
  grid->addWidget(BumpLotEdit, 1, 1, 1, 2);
  grid->addWidget(DialogRowLabel("Expiry date"), 2, 0);
  grid->addWidget(BumpExpiryEdit, 2, 1, 1, 2);
  grid->addWidget(BumpGuideLabel, 3, 0, 1, 3);
  grid->addWidget(DialogRowLabel("Reading"), 4, 0);
  grid->addWidget(BumpReadingLabel, 4, 1, 1, 2);
  grid->addWidget(DialogRowLabel("Elapsed"), 5, 0);
  grid->addWidget(BumpElapsedLabel, 5, 1, 1, 2);
  grid->addWidget(DialogRowLabel("Low alarm"), 6, 0);
  grid->addWidget(BumpLowLabel, 6, 1, 1, 2);
  grid->addWidget(DialogRowLabel("High alarm"), 7, 0);
  grid->addWidget(BumpHighLabel, 7, 1, 1, 2);
  grid->addWidget(DialogRowLabel("Result"), 8, 0);
  grid->addWidget(BumpResultLabel, 8, 1, 1, 2);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {BumpStartBtn, BumpGasOnBtn, BumpGasOffBtn, BumpStopBtn, CloseBtn}) buttons->addWidget(b);
  grid->addLayout(buttons, 9, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  auto* all = new QVBoxLayout(this);
  all->addWidget(BumpGB);
  setFixedSize(520, 400);

  connect(BumpStartBtn, &QPushButton::clicked, this, &TBumpTestDlg::StartBtnClick);
  connect(BumpGasOnBtn, &QPushButton::clicked, this, [this] {
    if (FRun) FRun->GasOn();
  });
  connect(BumpGasOffBtn, &QPushButton::clicked, this, [this] {
    if (FRun) FRun->GasRemoved();
  });
  connect(BumpStopBtn, &QPushButton::clicked, this, [this] {
    if (FRun) FRun->Stop();
  });
  connect(CloseBtn, &QPushButton::clicked, this, [this] {
    if (!FRun) close();
  });
  connect(BumpGasSpin, &QDoubleSpinBox::valueChanged, this, [this] {
    if (!FRun) ShowLevels();
  });
  BumpPhase(TBumpPhase::Done);
}

bool TBumpTestDlg::PrepareDlg(const RKVTCFG& cfg) {
  FCFG = cfg;
  FSensor = FindSensorType(cfg.mSensor.mSensorType);
  if (FSensor < 0) {
    FOp.message(MessageIcon::Error, "Wrong Sensor", "Sensor type is wrong\rDid not bump test");
    return false;
  }
  const RSensorType& s = SensorTypes[static_cast<size_t>(FSensor)];
  // Never used before: the highest alarm level, the least gas the test accepts.
  const double highest = std::max(cfg.mSensor.mAlarmLow, cfg.mSensor.mAlarmHigh) / 10.0;
  const RBumpGas gas = LoadBumpGas(s.mName, highest);
  BumpGasSpin->SetFieldRange(s.mMin, s.mMax);
  BumpGasSpin->Show(gas.mGas);
  BumpUnitLabel->setText(QString::fromStdString(s.mUnit));
  BumpLotEdit->setText(QString::fromStdString(gas.mLot));
  BumpExpiryEdit->setText(QString::fromStdString(gas.mExpiry));
  setWindowTitle(QString::fromStdString("Bump Test (" + s.mName + ")"));
  ShowLevels();
  return true;
}

void TBumpTestDlg::ShowDlg(const RKVTCFG& cfg) {
  if (PrepareDlg(cfg)) exec();
}

void TBumpTestDlg::ShowLevels() {
  if (FSensor < 0) return;
  const RSensorType& s = SensorTypes[static_cast<size_t>(FSensor)];
  const double low = FCFG.mSensor.mAlarmLow / 10.0, high = FCFG.mSensor.mAlarmHigh / 10.0;
  BumpGuideLabel->setText(QString::fromStdString(
      "Alarms at " + PercentText(low) + " and " + PercentText(high) + " " + s.mUnit + ". Apply " + s.mName + " of " +
      PercentText(BumpGasSpin->value()) + " " + s.mUnit + " (at least " + PercentText(std::max(low, high)) +
      "), each alarm within " + PercentText(BumpTimeLimit()) + " s, peak within \u00B1" +
      PercentText(BumpTolerancePct()) + " %."));
}

void TBumpTestDlg::StartBtnClick() {
  TOperationGuard guard(FOp);
  if (!guard || FRun) return;
  BumpGasSpin->interpretText();
  RBumpSetup setup{BumpGasSpin->value(), BumpLotEdit->text().trimmed().toStdString(),
                   BumpExpiryEdit->text().trimmed().toStdString(), BumpTimeLimit(), BumpTolerancePct()};
  for (TLabel3DBorder* l : {BumpReadingLabel, BumpElapsedLabel, BumpLowLabel, BumpHighLabel, BumpResultLabel})
    l->setText("");
  TBumpTestRun run(FOp, FLink, *this, FClock, setup);
  FRun = &run;
  DriveRun(run, FClock);
  FRun = nullptr;
  FResult = run.Result();
  if (FResult.mOutcome == TBumpOutcome::UserStop) {
    BumpResultLabel->SetFontColor(Qt::red);
    BumpResultLabel->setText("Bump Test... User Stop: nothing sent");
  }
  BumpPhase(TBumpPhase::Done);
}

void TBumpTestDlg::BumpPhase(TBumpPhase phase) {
  const bool running = FRun && phase != TBumpPhase::Done;
  BumpStartBtn->setEnabled(!running);
  CloseBtn->setEnabled(!running);
  BumpStopBtn->setEnabled(running && phase != TBumpPhase::Send);
  BumpGasOnBtn->setEnabled(running && phase == TBumpPhase::WaitGasOn);
  BumpGasOffBtn->setEnabled(running && phase == TBumpPhase::WaitGasOff);
  for (QWidget* w : std::initializer_list<QWidget*>{BumpGasSpin, BumpLotEdit, BumpExpiryEdit}) w->setEnabled(!running);
  if (phase == TBumpPhase::WaitGasOn) BumpGuideLabel->setText(BumpGuideLabel->text() + "\nPress \"Gas is on\" as the gas reaches the sensor.");
  if (phase == TBumpPhase::Clear) BumpGuideLabel->setText("Waiting for the alarms to clear...");
}

void TBumpTestDlg::BumpPrompt(const std::string& text) { BumpGuideLabel->setText(QString::fromStdString(text)); }

void TBumpTestDlg::BumpReading(double seconds, const std::string& reading, bool low, bool high) {
  BumpReadingLabel->SetFontColor(low || high ? QColor(Qt::red) : QColor(Qt::blue));
  BumpReadingLabel->setText(QString::fromStdString(reading + (low ? "  LOW" : "") + (high ? "  HIGH" : "")));
  BumpElapsedLabel->setText(QString::fromStdString(SecondsText(seconds) + " s"));
}

void TBumpTestDlg::BumpAlarm(bool high, double seconds) {
  (high ? BumpHighLabel : BumpLowLabel)->setText(QString::fromStdString("after " + SecondsText(seconds) + " s"));
}

void TBumpTestDlg::BumpVerdict(const RBumpResult& r) {
  const bool pass = r.mOutcome == TBumpOutcome::Pass;
  for (TLabel3DBorder* l : {BumpLowLabel, BumpHighLabel})
    if (l->text().isEmpty()) l->setText("none");
  BumpResultLabel->SetFontColor(pass ? QColor(Qt::blue) : QColor(Qt::red));
  const std::string peak = "peak " + (r.mPeak.empty() ? std::string("none") : r.mPeak);
  BumpResultLabel->setText(QString::fromStdString(pass ? "PASS, " + peak : "FAIL: " + r.mReason));
  BumpResultLabel->setToolTip(QString::fromStdString(peak));
}

void TBumpTestDlg::closeEvent(QCloseEvent* event) {
  if (FRun)
    event->ignore();
  else
    event->accept();
}

void TBumpTestDlg::reject() {
  if (!FRun) QDialog::reject();
}
