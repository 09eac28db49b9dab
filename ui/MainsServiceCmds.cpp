// The service buttons of the TEST page and the Factory Options row. The sequences are
// app/Service's; the handlers guard, pick the command and call it.
#include "app/device/Operation.h"
#include "app/device/Service.h"
#include "model/DeviceUtils.h"
#include "ui/Mains.h"
#include "ui/WindowClock.h"

#include <QVariant>

namespace {
int TagOf(QObject* sender) { return sender ? sender->property("tag").toInt() : 0; }
}  // namespace

void TKVTIRMainForm::FatoryOptCalBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  Session.BeginAction();
  Guarded([&] { RunServiceCommand(Op(), *ComKVT, TServiceCommand::Calibration); });
}

void TKVTIRMainForm::FatoryOptTurnOffBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  Session.BeginAction();
  Guarded([&] { RunServiceCommand(Op(), *ComKVT, TServiceCommand::TurnOff); });
}

void TKVTIRMainForm::EtcFactoryResetBtnClick() {
  TOperationGuard guard(Op());
  if (guard && ConfirmFactoryReset(Op()))
    Guarded([&] { RunServiceCommand(Op(), *ComKVT, TServiceCommand::FactoryReset); });
}

void TKVTIRMainForm::EtcClearPeakBtnClick(QObject* Sender) {
  static const TServiceCommand byTag[] = {TServiceCommand::ClearPeak, TServiceCommand::BumpFail,
                                          TServiceCommand::BumpPass};
  const int tag = TagOf(Sender);
  TOperationGuard guard(Op());
  if (guard && tag >= 1 && tag <= 3) Guarded([&] { RunServiceCommand(Op(), *ComKVT, byTag[tag - 1]); });
}

void TKVTIRMainForm::EtcIdentifyBtnClick() {
  TOperationGuard guard(Op());
  if (guard) Guarded([&] { RunIdentifyButton(Op(), *ComKVT); });
}

// The guard stays taken through the hold, while the window repaints and takes clicks.
void TKVTIRMainForm::EtcBeepONBtnClick(QObject* Sender) {
  TOperationGuard guard(Op());
  TWindowRunClock clock;
  if (guard) Guarded([&] { RunOutputTest(Op(), *ComKVT, OutputCommand(TagOf(Sender)), DeviceCFG.mAVOperate, clock); });
}
