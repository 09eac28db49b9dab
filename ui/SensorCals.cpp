#include "ui/SensorCals.h"

#include "app/Operation.h"
#include "ui/Label3dB.h"

#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

TLabel3DBorder* ResultLabel(const char* name) {
  auto* l = new TLabel3DBorder;
  l->setObjectName(name);
  l->SetBorderStyle(TLabel3DBorder::bsLight);
  l->SetVerticalAlign(TLabel3DBorder::vaCenter);
  l->SetColor(Qt::white);
  l->SetShowAccelChar(false);
  l->setFixedHeight(24);
  return l;
}

}  // namespace

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
  SpanGasSpin = new QDoubleSpinBox;
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
  CalLabel = ResultLabel("CalLabel");
  CalLabel1 = ResultLabel("CalLabel1");
  CalLabel2 = ResultLabel("CalLabel2");

  auto* grid = new QGridLayout(CalGB);
  grid->addWidget(SpanGasLabel, 0, 0);
  grid->addWidget(SpanGasSpin, 0, 1);
  grid->addWidget(CalUnitLabel, 0, 2);
  grid->addWidget(CalLabel, 1, 0, 1, 3);
  grid->addWidget(CalLabel1, 2, 0, 1, 3);
  grid->addWidget(CalLabel2, 3, 0, 1, 3);
  grid->addWidget(CalProgressBar, 4, 0, 1, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(CalBtn);
  buttons->addWidget(CalAbortBtn);
  buttons->addWidget(CloseBtn);
  grid->addLayout(buttons, 5, 0, 1, 3);
  auto* all = new QVBoxLayout(this);
  all->addWidget(CalGB);
  setFixedSize(360, 250);

  connect(CalBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalBtnClick);
  connect(CalAbortBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalAbortBtnClick);
  connect(CloseBtn, &QPushButton::clicked, this, &TSensorCalDlg::CloseBtnClick);
}

bool TSensorCalDlg::PrepareDlg(const RKVTCFG& cfg) {
  FCFG = cfg;
  if (!FCal.ShowDlg(FOp, cfg)) return false;
  for (TLabel3DBorder* l : {CalLabel, CalLabel1, CalLabel2}) l->setText("");
  const RSensorType& sensor = FCal.Sensor();
  SpanGasSpin->setRange(sensor.mMin, sensor.mMax);
  SpanGasSpin->setValue(FCal.FDefSpan / 10.0);
  CalUnitLabel->setText(QString::fromStdString(sensor.mUnit));
  setWindowTitle(QString::fromStdString("Sensor Calibration (" + sensor.mName + ")"));
  return true;
}

void TSensorCalDlg::ShowDlg(const RKVTCFG& cfg) {
  if (PrepareDlg(cfg)) exec();
}

void TSensorCalDlg::CalBtnClick() {
  // A second click, or one of the window's buttons, delivered while the link waits is ignored.
  TOperationGuard guard;
  if (!guard || !FCal.CanClose()) return;
  double spin = SpanGasSpin->value();
  TCalibrationRun run(FCal, FOp, FLink, *this, FClock, FCFG, &spin);
  DriveRun(run, FClock, [&] { SpanGasSpin->setValue(spin); });
  SpanGasSpin->setValue(spin);
  FResult = run.Result();
}

void TSensorCalDlg::CalAbortBtnClick() {
  FCal.CalAbortBtnClick();
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
}

void TSensorCalDlg::CalProgress(int position, int maximum) {
  CalProgressBar->setRange(0, maximum);
  CalProgressBar->setValue(std::min(position, maximum));
}

void TSensorCalDlg::CalRunning(bool running) {
  CalBtn->setEnabled(!running);
  CloseBtn->setEnabled(!running);
  CalAbortBtn->setEnabled(running);
}
