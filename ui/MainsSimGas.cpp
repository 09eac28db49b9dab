// The strip under "SIMULATED DETECTOR": a test gas applied to and removed from the simulated
// detector's sensor, through kvt-sim's control channel, as a cylinder would be held to a real
// one. Shown only against the simulator.
#include "ui/Label3dB.h"
#include "ui/Mains.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>


QWidget* TKVTIRMainForm::BuildSimGasPanel() {
  SimGasPanel = new QWidget;
  SimGasPanel->setObjectName(QStringLiteral("SimGasPanel"));
  SimGasPanel->setAutoFillBackground(true);
  QPalette p = SimGasPanel->palette();
  p.setColor(QPalette::Window, QColor(255, 214, 140));
  SimGasPanel->setPalette(p);
  auto* h = new QHBoxLayout(SimGasPanel);
  h->setContentsMargins(6, 2, 6, 2);
  h->setSpacing(6);
  h->addWidget(new QLabel(QStringLiteral("Test gas")));
  SimGasSpin = new QDoubleSpinBox;
  SimGasSpin->setObjectName(QStringLiteral("SimGasSpin"));
  SimGasSpin->setDecimals(1);
  SimGasSpin->setRange(0.1, 1000.0);
  SimGasSpin->setValue(25.0);
  SimGasSpin->setToolTip(QStringLiteral("The gas held to the simulated sensor, in its unit"));
  SimGasSpin->setMinimumWidth(70);
  h->addWidget(SimGasSpin);
  SimGasApplyBtn = new QPushButton(QStringLiteral("Apply Gas"));
  SimGasApplyBtn->setObjectName(QStringLiteral("SimGasApplyBtn"));
  SimGasRemoveBtn = new QPushButton(QStringLiteral("Remove Gas"));
  SimGasRemoveBtn->setObjectName(QStringLiteral("SimGasRemoveBtn"));
  h->addWidget(SimGasApplyBtn);
  h->addWidget(SimGasRemoveBtn);
  SimGasStateLabel = new TLabel3DBorder;
  SimGasStateLabel->setObjectName(QStringLiteral("SimGasStateLabel"));
  SimGasStateLabel->SetBorderStyle(TLabel3DBorder::bsFrame);
  SimGasStateLabel->SetVerticalAlign(TLabel3DBorder::vaCenter);
  SimGasStateLabel->setAlignment(Qt::AlignHCenter);
  SimGasStateLabel->setText(QStringLiteral("clean air"));
  SimGasStateLabel->setMinimumWidth(150);
  h->addWidget(SimGasStateLabel, 1);
  SimGasPanel->setMinimumHeight(28);
  SimGasPanel->hide();
  connect(SimGasApplyBtn, &QPushButton::clicked, this, [this] { SimGasBtnClick(true); });
  connect(SimGasRemoveBtn, &QPushButton::clicked, this, [this] { SimGasBtnClick(false); });
  return SimGasPanel;
}

// Not an operation on the detector: it is the gas around it, so no guard is taken and it works
// while a bump test or a calibration runs.
void TKVTIRMainForm::SimGasBtnClick(bool apply) {
  if (!FSimControl) return;
  // The control line's number has a point whatever the window's locale.
  const QString value = QString::number(SimGasSpin->value(), 'f', 1);
  std::string error;
  if (!FSimControl(apply ? "gas " + value.toStdString() : std::string("gas off"), error)) {
    QMessageBox::warning(this, QStringLiteral("Simulated Detector"),
                         QStringLiteral("The test gas could not be changed:\n%1").arg(QString::fromStdString(error)));
    return;
  }
  SimGasStateLabel->setText(apply ? QStringLiteral("%1 applied").arg(value)
                                  : QStringLiteral("clean air"));
}
