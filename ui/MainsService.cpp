// Event log, firmware upgrade, service commands, EEPROM dump and the sensor dialogs.
#include "ui/Mains.h"

// Each arrives with its own operation; the controls are already wired to these.
void TKVTIRMainForm::UserLogSaveBtnClick() {}
void TKVTIRMainForm::UserLogResetBtnClick() {}
void TKVTIRMainForm::UserFMOpenBtnClick() {}
void TKVTIRMainForm::UserFMUpgradeBtnClick() {}
void TKVTIRMainForm::UserFMCancelBtnClick() {}
void TKVTIRMainForm::UserCalBtnClick() {}
void TKVTIRMainForm::FatoryOptLogSensorBtnClick() {}
void TKVTIRMainForm::LoadUpgradeFile(bool) {}
