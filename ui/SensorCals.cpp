#include "ui/SensorCals.h"
#include "ui/NumberBoxes.h"

#include "app/device/Operation.h"
#include "ui/DialogParts.h"
#include "ui/Label3dB.h"

#include <QCloseEvent>
#include <QDate>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TSensorCalDlg::TSensorCalDlg(TComKVT& link, Operator& op, QWidget* parent)
    : QDialog(parent), FLink(link), FOp(op) {
  setObjectName("TSensorCalDlg");
  setWindowTitle("Sensor Calibration");

  CalGB = new QGroupBox;
  CalGB->setObjectName("CalGB");
  CalBtn = new QPushButton("Calibration");
  CalBtn->setObjectName("CalBtn");
  CalAbortBtn = new QPushButton("Cancel");
  CalAbortBtn->setObjectName("CalAbortBtn");
  CalAbortBtn->setEnabled(false);
  CloseBtn = new QPushButton("Close");
  CloseBtn->setObjectName("CloseBtn");
  SpanGasLabel = new TLabel3DBorder("Span Gas");
  SpanGasLabel->setObjectName("SpanGasLabel");
  SpanGasLabel->SetBorderStyle(TLabel3DBorder::bsRaisedFrame);
  SpanGasLabel->SetVerticalAlign(TLabel3DBorder::vaCenter);
  SpanGasLabel->setAlignment(Qt::AlignHCenter);
  SpanGasLabel->setFixedSize(90, 24);
  SpanGasSpin = new TDecimalBox;
  SpanGasSpin->setObjectName("SpanGasSpin");
  SpanGasSpin->setDecimals(1);
  SpanGasSpin->setFixedSize(90, 24);
  CalUnitLabel = new TLabel3DBorder;
  CalUnitLabel->setObjectName("CalUnitLabel");
  CalUnitLabel->SetTransparent(true);
  CalUnitLabel->SetVerticalAlign(TLabel3DBorder::vaCenter);
  CalUnitLabel->setFixedSize(60, 24);
  CalProgressBar = new QProgressBar;
  CalProgressBar->setObjectName("CalProgressBar");
  CalProgressBar->setTextVisible(false);
  CalLabel = DialogValueLabel("CalLabel");
  CalLabel1 = DialogValueLabel("CalLabel1");
  CalLabel2 = DialogValueLabel("CalLabel2");
  SensorCalLotEdit = new QLineEdit;
  SensorCalLotEdit->setObjectName("SensorCalLotEdit");
  SensorCalLotEdit->setMaxLength(40);
  SensorCalLotEdit->setPlaceholderText("cylinder lot");
  SensorCalExpiryEdit = new QLineEdit;
  SensorCalExpiryEdit->setObjectName("SensorCalExpiryEdit");
  SensorCalExpiryEdit->setMaxLength(10);
  SensorCalExpiryEdit->setPlaceholderText("YYYY-MM-DD");
  SensorCalGuideLabel = new QLabel;
  SensorCalGuideLabel->setObjectName("SensorCalGuideLabel");
  SensorCalGuideLabel->setWordWrap(true);
  SensorCalGuideLabel->setMinimumHeight(40);

  auto* grid = new QGridLayout(CalGB);
  grid->addWidget(SpanGasLabel, 0, 0);
  grid->addWidget(SpanGasSpin, 0, 1);
  grid->addWidget(CalUnitLabel, 0, 2, Qt::AlignLeft);  // aligned, so the column may grow
  grid->addWidget(DialogRowLabel("Cylinder lot"), 1, 0);
  grid->addWidget(SensorCalLotEdit, 1, 1, 1, 2);
  grid->addWidget(DialogRowLabel("Expiry date"), 2, 0);
  grid->addWidget(SensorCalExpiryEdit, 2, 1, 1, 2);
  grid->addWidget(SensorCalGuideLabel, 3, 0, 1, 3);
  grid->addWidget(DialogRowLabel("1. Zero"), 4, 0);
  grid->addWidget(CalLabel, 4, 1, 1, 2);
  grid->addWidget(DialogRowLabel("2. Span gas"), 5, 0);
  grid->addWidget(CalLabel1, 5, 1, 1, 2);
  grid->addWidget(DialogRowLabel("Result"), 6, 0);
  grid->addWidget(CalLabel2, 6, 1, 1, 2);
  grid->addWidget(CalProgressBar, 7, 0, 1, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(CalBtn);
  buttons->addWidget(CalAbortBtn);
  buttons->addWidget(CloseBtn);
  grid->addLayout(buttons, 8, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  auto* all = new QVBoxLayout(this);
  all->addWidget(CalGB);
  setFixedSize(470, 340);

  connect(SpanGasSpin, &QDoubleSpinBox::valueChanged, this, [this] {
    if (FGuide == TGuide::Before) ShowGuide(TGuide::Before);
  });
  connect(CalBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalBtnClick);
  connect(CalAbortBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalAbortBtnClick);
  connect(CloseBtn, &QPushButton::clicked, this, &TSensorCalDlg::CloseBtnClick);
}

bool TSensorCalDlg::PrepareDlg(const RKVTCFG& cfg) {
  FCFG = cfg;
  if (!FCal.ShowDlg(FOp, cfg)) return false;
  for (TLabel3DBorder* l : {CalLabel, CalLabel1, CalLabel2}) l->setText("");
  const RSensorType& sensor = FCal.Sensor();
  SpanGasSpin->SetFieldRange(sensor.mMin, sensor.mMax);
  SpanGasSpin->Show(FCal.FDefSpan / 10.0);
  SpanGasSpin->Describe(QStringLiteral("Span Gas"), QString::fromStdString(sensor.mUnit),
                        QStringLiteral("Concentration of the span gas the cylinder holds."));
  CalUnitLabel->setText(QString::fromStdString(sensor.mUnit));
  setWindowTitle(QString::fromStdString("Sensor Calibration (" + sensor.mName + ")"));
  const RCylinder cylinder = LoadCylinder();
  SensorCalLotEdit->setText(QString::fromStdString(cylinder.mLot));
  SensorCalExpiryEdit->setText(QString::fromStdString(cylinder.mExpiry));
  ShowGuide(TGuide::Before);
  return true;
}

void TSensorCalDlg::ShowDlg(const RKVTCFG& cfg) {
  if (PrepareDlg(cfg)) exec();
}

void TSensorCalDlg::CalBtnClick() {
  // A second click, or one of the window's buttons, delivered while the link waits is ignored.
  TOperationGuard guard(FOp);
  if (!guard || !FCal.CanClose()) return;
  // A span gas typed beyond the sensor's range would calibrate against a wrong value.
  SpanGasSpin->interpretText();
  if (const std::optional<RWriteRefusal> typed = RefuseOutOfRange({SpanGasSpin->Shown()}, "the detector")) {
    FOp.message(MessageIcon::Error, "Sensor Calibration", typed->mText);
    return;
  }
  if (!TakeCylinder()) return;
  double spin = SpanGasSpin->value();
  TCalibrationRun run(FCal, FOp, FLink, *this, FClock, FCFG, &spin);
  DriveRun(run, FClock, [&] { SpanGasSpin->setValue(spin); });
  SpanGasSpin->setValue(spin);
  FResult = run.Result();
}

bool TSensorCalDlg::TakeCylinder() {
  const std::string lot = SensorCalLotEdit->text().trimmed().toStdString();
  const std::string expiry = SensorCalExpiryEdit->text().trimmed().toStdString();
  const std::string problem =
      CylinderExpiryProblem(expiry, QDate::currentDate().toString(Qt::ISODate).toStdString());
  if (!problem.empty()) {
    FOp.message(MessageIcon::Error, "Span Gas Cylinder", problem);
    SensorCalExpiryEdit->setFocus();
    return false;
  }
  SaveCylinder(lot, expiry);
  FCal.FLot = lot;
  FCal.FExpiry = expiry;
  return true;
}

std::string TSensorCalDlg::SpanGasText() const {
  // "#0.#", as the span gas prompt writes it.
  QString value = QString::number(SpanGasSpin->value(), 'f', 1);
  if (value.endsWith(".0")) value.chop(2);
  return value.toStdString() + " " + FCal.Sensor().mUnit;
}

void TSensorCalDlg::ShowGuide(TGuide step, int secondsLeft) {
  if (step != FGuide && step != TGuide::Span) FSecondsLeft = -1;
  if (secondsLeft >= 0) FSecondsLeft = secondsLeft;
  FGuide = step;
  std::string text;
  switch (step) {
    case TGuide::Before:
      text = "1. Zero in clean air: no gas on the sensor at the start.\n2. Then span gas of " + SpanGasText() +
             " when asked.";
      break;
    case TGuide::Zero: text = "Step 1 of 2: zero in clean air, no gas on the sensor."; break;
    case TGuide::Span: text = "Step 2 of 2: apply span gas of " + SpanGasText() + "."; break;
  }
  if (step != TGuide::Before && FSecondsLeft >= 0) text += "\n" + std::to_string(FSecondsLeft) + " s left";
  SensorCalGuideLabel->setText(QString::fromStdString(text));
}

void TSensorCalDlg::CalAbortBtnClick() {
  if (TCalibrationRun* run = FCal.Run()) run->Stop();
  FClock.Wake();
}

void TSensorCalDlg::CloseBtnClick() {
  if (FCal.CanClose()) close();
}

void TSensorCalDlg::closeEvent(QCloseEvent* event) {
  if (FCal.CanClose())
    event->accept();
  else
    event->ignore();
}

void TSensorCalDlg::reject() {
  if (FCal.CanClose()) QDialog::reject();
}

void TSensorCalDlg::CalText(int which, const std::string& text, TCalColour colour) {
  TLabel3DBorder* label = which == 0 ? CalLabel : which == 1 ? CalLabel1 : CalLabel2;
  label->SetFontColor(colour == TCalColour::Red ? QColor(Qt::red) : QColor(Qt::blue));
  label->setText(QString::fromStdString(text));
  // The span gas prompt is the end of the zero step.
  if (which == 1 && !text.empty() && FGuide == TGuide::Zero) ShowGuide(TGuide::Span);
}

void TSensorCalDlg::CalProgress(int position, int maximum) {
  CalProgressBar->setRange(0, maximum);
  CalProgressBar->setValue(std::min(position, maximum));
  if (FGuide == TGuide::Before) return;
  const int left = std::max(0, maximum - position);
  CalProgressBar->setFormat(QString("%1 s left").arg(left));
  ShowGuide(FGuide, left);
}

void TSensorCalDlg::CalRunning(bool running) {
  CalBtn->setEnabled(!running);
  CloseBtn->setEnabled(!running);
  CalAbortBtn->setEnabled(running);
  // What the run was started with stays as it is until it ends.
  for (QWidget* w : std::initializer_list<QWidget*>{SpanGasSpin, SensorCalLotEdit, SensorCalExpiryEdit})
    w->setEnabled(!running);
  CalProgressBar->setTextVisible(running);
  ShowGuide(running ? TGuide::Zero : TGuide::Before);
}
