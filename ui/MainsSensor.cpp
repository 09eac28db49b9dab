// The sensor dialogs opened from the main window: the calibration dialog of the user view and
// the logging dialog of the factory view.
#include "app/Calibration.h"
#include "app/Operation.h"
#include "ui/Mains.h"
#include "ui/SensorCals.h"
#include "ui/SensorLogs.h"

void TKVTIRMainForm::UserCalBtnClick() {
  TOperationGuard guard;
  if (!guard) return;
  Guarded([&] {
    uint8_t code = 0;
    if (!CheckSensorCalibration(Op(), *ComKVT, Session, code)) return;
    TSensorCalDlg dialog(*ComKVT, Op(), this);
    dialog.ShowDlg(FKVTCFG);
  });
}

void TKVTIRMainForm::FatoryOptLogSensorBtnClick() {
  TOperationGuard guard;
  if (!guard) return;
  Session.BeginAction();
  Guarded([&] {
    TSensorLogDlg dialog(*ComKVT, Op(), this);
    dialog.ShowDlg();
  });
}
