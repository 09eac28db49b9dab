// The sensor dialogs opened from the main window: the calibration dialog of the user view and
// the logging dialog of the factory view.
#include "app/device/Calibration.h"
#include "app/device/Operation.h"
#include "ui/BumpTestDlg.h"
#include "ui/Mains.h"
#include "ui/SensorCals.h"
#include "ui/SensorLogs.h"

// The dialogs are modal, so the window takes no clicks while they are open; their own runs
// (Calibration, Start Logging) take the operation guard from the press on.

bool TKVTIRMainForm::SensorDialogMayOpen() {
  bool open = false;
  TOperationGuard guard(Op());
  if (!guard) return false;
  Guarded([&] {
    uint8_t code = 0;
    open = CheckSensorCalibration(Op(), *ComKVT, Session, code);
  });
  return open;
}

void TKVTIRMainForm::UserCalBtnClick() {
  if (SensorDialogMayOpen()) Guarded([&] {
    TSensorCalDlg dialog(*ComKVT, Op(), this);
    dialog.Model().FProduct = Session.FProductName;  // the record names the product
    dialog.ShowDlg(FKVTCFG);
  });
}

void TKVTIRMainForm::UserBumpBtnClick() {
  if (SensorDialogMayOpen()) Guarded([&] {
    TBumpTestDlg dialog(*ComKVT, Op(), this);
    dialog.ShowDlg(FKVTCFG);
  });
}

void TKVTIRMainForm::FatoryOptLogSensorBtnClick() {
  if (Op().Gate().Busy()) return;
  Session.BeginAction();
  Guarded([&] {
    TSensorLogDlg dialog(*ComKVT, Op(), this);
    dialog.ShowDlg();
  });
}
