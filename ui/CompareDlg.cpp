// Compare: what the detector holds against what Write Device would leave in it, field by
// field with the window's labels and units. The detector is read into a session of its own,
// so the window's configuration is not replaced.
#include "app/config/CfgFields.h"
#include "app/config/CfgView.h"
#include "app/device/DeviceSession.h"
#include "app/device/Operation.h"
#include "model/SensorTypes.h"
#include "ui/Mains.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void TKVTIRMainForm::UserCompareBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  const std::optional<RKVTCFG> collected = TryCollectCFG(true);
  if (!collected) return;
  TDeviceSession detector;
  bool read = false;
  Guarded([&] { read = detector.ReadDevice(Op(), *ComKVT).ok(); });
  if (!read) return;
  const RKVTCFG would = AfterWrite(detector.FKVTCFG, *collected, FactoryMode);
  const std::vector<RFieldChange> changes = DiffCFG(detector.FKVTCFG, would);
  const std::optional<RWriteRefusal> refusal = RefuseForDevice(*collected, FactoryMode);

  QDialog dialog(this);
  dialog.setObjectName("CompareDlg");
  dialog.setWindowTitle("Compare");
  dialog.resize(560, 360);
  auto* grid = new QTableWidget(static_cast<int>(changes.size()), 3, &dialog);
  grid->setObjectName("CompareGrid");
  grid->setHorizontalHeaderLabels({"Field", "Detector", "Write Device would write"});
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->verticalHeader()->hide();
  grid->horizontalHeader()->setStretchLastSection(true);
  for (size_t i = 0; i < changes.size(); ++i) {
    const int row = static_cast<int>(i);
    grid->setItem(row, 0, new QTableWidgetItem(Q(changes[i].mLabel)));
    grid->setItem(row, 1, new QTableWidgetItem(Q(changes[i].mFrom)));
    grid->setItem(row, 2, new QTableWidgetItem(Q(changes[i].mTo)));
  }
  grid->resizeColumnsToContents();
  auto* summary = new QLabel(&dialog);
  summary->setObjectName("CompareSummary");
  const QString serial = Q(SerialText(detector.FKVTCFG.mUnit.mSerial));
  QString text = changes.empty() ? QString("Detector %1 already holds what the window would write.").arg(serial)
                                 : QString("Write Device would change %1 field(s) of detector %2.")
                                       .arg(changes.size())
                                       .arg(serial);
  if (refusal) {
    QString why = Q(refusal->mText);
    why.replace('\r', ' ');
    text += "\nWrite Device would refuse this configuration: " + why;
    summary->setStyleSheet("color: #C62828;");
  }
  summary->setText(text);
  auto* closeBtn = new QPushButton("Close", &dialog);
  QObject::connect(closeBtn, &QPushButton::clicked, &dialog, &QDialog::accept);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(closeBtn);
  auto* v = new QVBoxLayout(&dialog);
  v->addWidget(summary);
  v->addWidget(grid, 1);
  v->addLayout(bottom);
  dialog.exec();
}
