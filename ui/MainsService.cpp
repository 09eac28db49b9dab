// Event log, firmware upgrade, service commands, EEPROM dump and the sensor dialogs.
#include "ui/Mains.h"

// Each arrives with its own operation; the controls are already wired to these.
void TKVTIRMainForm::UserCalBtnClick() {}
void TKVTIRMainForm::FatoryOptLogSensorBtnClick() {}
void TKVTIRMainForm::FatoryOptCalBtnClick() {}
void TKVTIRMainForm::FatoryOptTurnOffBtnClick() {}
void TKVTIRMainForm::EtcBeepONBtnClick(QObject*) {}
void TKVTIRMainForm::EtcClearPeakBtnClick(QObject*) {}
void TKVTIRMainForm::EtcFactoryResetBtnClick() {}
void TKVTIRMainForm::EtcIdentifyBtnClick() {}
void TKVTIRMainForm::EtcEEPROMReadBtnClick() {}
void TKVTIRMainForm::EtcEEPROMSaveBtnClick() {}
void TKVTIRMainForm::EtcEEPROMSaveLogBtnClick() {}

bool TKVTIRMainForm::EtcEEPROMGridDrawCell(QPainter*, const QStyleOptionViewItem&, int, int) { return false; }
