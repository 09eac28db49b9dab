#include "ui/LineDlg.h"

#include "app/device/DeviceSession.h"
#include "app/device/Operation.h"
#include "model/CfgFile.h"
#include "model/DeviceUtils.h"
#include "ui/Mains.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

TLineDlg::TLineDlg(Operator& op, TComKVT& link, QWidget* parent) : QDialog(parent), FOp(op), FLink(link) {
  setObjectName("LineDlg");
  setWindowTitle("Production Line");
  resize(620, 520);
  FileLabel = new QLabel("No file chosen");
  FileLabel->setObjectName("LineFileLabel");
  FileBtn = new QPushButton("File...");
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Configuration"));
  top->addWidget(FileLabel, 1);
  top->addWidget(FileBtn);

  CounterLabel = new QLabel("0 done, 0 failed");
  CounterLabel->setObjectName("LineCounterLabel");
  QFont counterFont = CounterLabel->font();
  counterFont.setPointSize(14);
  CounterLabel->setFont(counterFont);
  ResultLabel = new QLabel("-");
  ResultLabel->setObjectName("LineResultLabel");
  ResultLabel->setAlignment(Qt::AlignCenter);
  ResultLabel->setMinimumHeight(110);
  QFont big = ResultLabel->font();
  big.setPointSize(36);
  big.setBold(true);
  ResultLabel->setFont(big);
  ResultLabel->setStyleSheet("background: #E0E0E0; color: black;");
  ResultLabel->hide();  // until a unit has a result to show
  StateLabel = new QLabel("Choose the configuration file, then Start.");
  StateLabel->setObjectName("LineStateLabel");
  UnitList = new QListWidget;
  UnitList->setObjectName("LineUnitList");

  StartBtn = new QPushButton("Start");
  StartBtn->setEnabled(false);
  StopBtn = new QPushButton("Stop");
  StopBtn->setEnabled(false);
  auto* closeBtn = new QPushButton("Close");
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(StartBtn);
  bottom->addWidget(StopBtn);
  bottom->addWidget(closeBtn);

  auto* v = new QVBoxLayout(this);
  v->addLayout(top);
  v->addWidget(CounterLabel);
  v->addWidget(ResultLabel);
  v->addWidget(StateLabel);
  v->addWidget(UnitList, 1);
  v->addLayout(bottom);

  connect(FileBtn, &QPushButton::clicked, this, [this] { ChooseFileClick(); });
  connect(StartBtn, &QPushButton::clicked, this, [this] { StartClick(); });
  connect(StopBtn, &QPushButton::clicked, this, [this] { StopClick(); });
  connect(closeBtn, &QPushButton::clicked, this, [this] { reject(); });
}

void TLineDlg::ChooseFileClick() {
  const std::optional<std::string> file = FOp.chooseOpenFile(CFGOpenDialog());
  if (file) LoadFile(*file);
}

bool TLineDlg::LoadFile(const std::string& path) {
  const CFGFileContent content = ReadCFGFile(path);
  if (!content.ok()) {
    FOp.message(MessageIcon::Error, kCFGReadCaption, CFGRefusalText(content.refusal));
    return false;
  }
  // A file whose values may not be written is refused here, before any detector waits for it.
  TProductionLine probe(FOp, FLink, content.cfg, *this, Clock);
  if (const std::optional<RWriteRefusal> refusal = probe.Refusal()) {
    FOp.message(MessageIcon::Error, kWriteRefusedCaption, refusal->mText);
    return false;
  }
  FFile = path;
  FFileCfg = content.cfg;
  FileLabel->setText(Q(path));
  StateLabel->setText("Start, then put each detector on the adapter: it is written with this file.");
  StartBtn->setEnabled(true);
  return true;
}

void TLineDlg::StartClick() {
  if (!FFileCfg || Line) return;
  Line = std::make_unique<TProductionLine>(FOp, FLink, *FFileCfg, *this, Clock);
  Line->FFileName = FFile;
  Line->FAfterUnit = [this] { FPusher.RequestFromSettings(); };
  StartBtn->setEnabled(false);
  FileBtn->setEnabled(false);
  StopBtn->setEnabled(true);
  UnitList->clear();
  DriveRun(*Line, Clock);
  StateLabel->setText(QString("Stopped: %1 done, %2 failed").arg(Line->Passed()).arg(Line->Failed()));
  Line.reset();
  StartBtn->setEnabled(true);
  FileBtn->setEnabled(true);
  StopBtn->setEnabled(false);
}

void TLineDlg::StopClick() {
  if (!Line) return;
  Line->Stop();
  StopBtn->setEnabled(false);
  StateLabel->setText("Stopping after this unit...");
  Clock.Wake();
}

void TLineDlg::reject() {
  if (Line) {
    StopClick();
    return;
  }
  QDialog::reject();
}

void TLineDlg::ShowWaiting(const std::string& what) {
  if (Line && !StopBtn->isEnabled()) return;  // keeps "Stopping..." in view
  StateLabel->setText(Q(what + "..."));
}

void TLineDlg::ShowUnit(const RLineUnit& unit) {
  ResultLabel->setText(Q((unit.mSerial.empty() ? std::string("-") : unit.mSerial) + (unit.mPass ? "  PASS" : "  FAIL")));
  ResultLabel->setStyleSheet(unit.mPass ? "background: #2E7D32; color: white;" : "background: #C62828; color: white;");
  ResultLabel->show();
  auto* item = new QListWidgetItem(Q(LineUnitText(unit)));
  item->setForeground(unit.mPass ? QColor(0x1B, 0x5E, 0x20) : QColor(0xB7, 0x1C, 0x1C));
  UnitList->insertItem(0, item);
  if (Line) CounterLabel->setText(QString("%1 done, %2 failed").arg(Line->Passed()).arg(Line->Failed()));
}

void TKVTIRMainForm::UserLineBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  TLineDlg dialog(Op(), *ComKVT, this);
  dialog.exec();
}
