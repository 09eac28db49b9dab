// The sensor dialogs' buttons.
#include "ui/Mains.h"

// Each arrives with its own operation; the controls are already wired to these.
void TKVTIRMainForm::UserCalBtnClick() {}
void TKVTIRMainForm::FatoryOptLogSensorBtnClick() {}
