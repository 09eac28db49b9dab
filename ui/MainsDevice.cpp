// Reading and writing the detector and configuration files, and hibernation. The sequences
// are the session's (app/DeviceSession); the handlers collect, guard and show.
#include "app/config/CfgView.h"
#include "app/device/Operation.h"
#include "ui/Mains.h"

#include <QLineEdit>

// A click that arrives while an operation paints its status is ignored: the guard is taken.

void TKVTIRMainForm::UserReadFileBtnClick() {
  TOperationGuard guard(Op());
  if (guard) Guarded([&] { Session.ReadFile(Op(), OpenDialog); });
}

void TKVTIRMainForm::UserWriteFileBtnClick() {
  TOperationGuard guard(Op());
  if (!guard || Session.RefuseTyped(Op(), false, ShownNumbers())) return;
  Session.BeginAction();
  if (const std::optional<RKVTCFG> cfg = TryCollectCFG(false)) Guarded([&] { Session.WriteFile(Op(), SaveDialog, *cfg); });
}

void TKVTIRMainForm::UserReadDeviceBtnClick() {
  TOperationGuard guard(Op());
  if (guard) Guarded([&] { Session.ReadDevice(Op(), *ComKVT); });
}

void TKVTIRMainForm::UserWriteDeviceBtnClick() {
  bool written = false;
  {
    TOperationGuard guard(Op());
    if (!guard || Session.RefuseTyped(Op(), true, ShownNumbers())) return;
    Session.BeginAction();
    const std::optional<RKVTCFG> cfg = TryCollectCFG(true);
    if (!cfg) return;
    Guarded([&] { written = Session.WriteDevice(Op(), *ComKVT, *cfg).ok(); });
  }
  if (!written || !FactoryMode) return;
  // Once the views are enabled again: the serial as the detector now holds it, selected so
  // that the next unit's number is typed over it (a full field would refuse the first digit).
  UserOptSerialEdit->setText(QString::fromStdString(SerialText(FKVTCFG.mUnit.mSerial)));
  UserOptSerialEdit->setFocus(Qt::OtherFocusReason);
  UserOptSerialEdit->selectAll();
}

void TKVTIRMainForm::UserOptHibernateBtnClick() {
  TOperationGuard guard(Op());
  if (guard) Guarded([&] { Session.Hibernate(Op(), *ComKVT); });
}
