// Event log, firmware upgrade, service commands, EEPROM dump and the sensor dialogs.
#include "ui/Mains.h"

// Each arrives with its own operation; the controls are already wired to these.
void TKVTIRMainForm::UserLogSaveBtnClick() {}
void TKVTIRMainForm::UserLogResetBtnClick() {}
void TKVTIRMainForm::UserFMOpenBtnClick() {}
void TKVTIRMainForm::UserFMUpgradeBtnClick() {}
void TKVTIRMainForm::UserFMCancelBtnClick() {}
void TKVTIRMainForm::FatoryOptCalBtnClick() {}
void TKVTIRMainForm::FatoryOptTurnOffBtnClick() {}
void TKVTIRMainForm::EtcBeepONBtnClick(QObject*) {}
void TKVTIRMainForm::EtcClearPeakBtnClick(QObject*) {}
void TKVTIRMainForm::EtcFactoryResetBtnClick() {}
void TKVTIRMainForm::EtcIdentifyBtnClick() {}
void TKVTIRMainForm::EtcEEPROMReadBtnClick() {}
void TKVTIRMainForm::EtcEEPROMSaveBtnClick() {}
void TKVTIRMainForm::EtcEEPROMSaveLogBtnClick() {}
void TKVTIRMainForm::LoadUpgradeFile(bool) {}

bool TKVTIRMainForm::EtcEEPROMGridDrawCell(QPainter*, const QStyleOptionViewItem&, int, int) { return false; }
