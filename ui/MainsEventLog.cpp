// Save Event Log and Log Reset; the sequences are app/EventLog's.
#include "app/device/EventLog.h"
#include "app/device/Operation.h"
#include "ui/Mains.h"

void TKVTIRMainForm::UserLogSaveBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  FileRequest dialog = EventLogSaveDialog();
  Guarded([&] { SaveEventLog(Op(), *ComKVT, Session, dialog); });
}

void TKVTIRMainForm::UserLogResetBtnClick() {
  TOperationGuard guard(Op());
  if (guard && ConfirmLogReset(Op())) Guarded([&] { LogReset(Op(), *ComKVT, Session); });
}
