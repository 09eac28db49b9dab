// The firmware boxes: choosing an image, Upgrade Firmware and Cancel. The download is
// app/Firmware's run; the window steps it, shows its progress and keeps the other
// operations' buttons disabled meanwhile.
#include "app/Firmware.h"
#include "app/Operation.h"
#include "ui/Label3dB.h"
#include "ui/Mains.h"

#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

namespace {

class TProgressBars : public TFirmwareView {
 public:
  TProgressBars(QProgressBar* a, QProgressBar* b) : FBars{a, b} {}
  void ShowProgress(int packets, int total, int, int) override {
    for (QProgressBar* bar : FBars) {
      bar->setMaximum(total);
      bar->setValue(packets);
    }
  }

 private:
  QProgressBar* FBars[2];
};

}  // namespace

void TKVTIRMainForm::LoadUpgradeFile(const std::string& fileName, bool quiet) {
  RFirmwareBox box;
  ::LoadUpgradeFile(Op(), fileName, quiet, FUpgradeFile, box);
  for (TLabel3DBorder* label : {UserFMFileLabel, UserOptFMFileLabel})
    label->setText(QString::fromStdString(box.mFileLabel));
  for (TLabel3DBorder* label : {UserFMDescLabel, UserOptFMDescLabel})
    label->setText(QString::fromStdString(box.mDescLabel));
  UserFMUpgradeBtn->setEnabled(box.mUpgradeEnabled);
  UserOptFMUpgradeBtn->setEnabled(box.mUpgradeEnabled);
}

void TKVTIRMainForm::UserFMOpenBtnClick() {
  TOperationGuard guard;
  if (!guard) return;
  const FileRequest dialog = FirmwareOpenDialog();
  if (const std::optional<std::string> file = Op().chooseOpenFile(dialog))
    Guarded([&] { LoadUpgradeFile(*file, false); });
}

void TKVTIRMainForm::UserFMUpgradeBtnClick() {
  TOperationGuard guard;
  if (!guard) return;
  Session.BeginAction();
  const std::vector<QWidget*> listed = {
      UserReadFileBtn,       UserReadDeviceBtn,     UserWriteFileBtn,     UserWriteDeviceBtn,   UserHibernateBtn,
      UserLogSaveBtn,        UserCalBtn,            UserFMOpenBtn,        UserFMUpgradeBtn,     UserFMCancelBtn,
      UserOptReadFileBtn,    UserOptReadDeviceBtn,  UserOptWriteFileBtn,  UserOptWriteDeviceBtn, UserOptLogSaveBtn,
      UserOptFMOpenBtn,      UserOptFMUpgradeBtn,   UserOptFMCancelBtn,   UserOptHibernateBtn,  FatoryOptLogResetBtn,
      FatoryOptCalBtn,       FatoryOptTurnOffBtn,   FatoryOptLogSensorBtn};
  // The TEST page and the EEPROM buttons would start a second link operation: they get their
  // own state back afterwards.
  std::vector<std::pair<QWidget*, bool>> testPage;
  for (QWidget* b : std::initializer_list<QWidget*>{
           EtcFactoryResetBtn, EtcIdentifyBtn, EtcBeepONBtn, EtcRLEDONBtn, EtcLLEDONBtn, EtcVibratorBtn,
           EtcClearPeakBtn, EtcBumpFailBtn, EtcBumpPassBtn, EtcEEPROMReadBtn, EtcEEPROMSaveBtn, EtcEEPROMSaveLogBtn})
    testPage.emplace_back(b, b->isEnabled());
  for (QWidget* b : listed) b->setEnabled(false);
  for (auto& [b, enabled] : testPage) b->setEnabled(false);
  FUpgrade = true;

  TProgressBars bars(UserFMProgressBar, UserOptFMProgressBar);
  TFirmwareDownload run(Op(), *ComKVT, FUpgradeFile, bars);
  FDownload = &run;
  // Each packet lets the window take its clicks (the run's pump); the clock adds no pause.
  TSteadyRunClock clock;
  Guarded([&] {
    DriveRun(run, clock, [&] {
      UserFMCancelBtn->setEnabled(run.Downloading());
      UserOptFMCancelBtn->setEnabled(run.Downloading());
    });
  });
  FDownload = nullptr;

  for (QWidget* b : listed) b->setEnabled(b != UserFMCancelBtn && b != UserOptFMCancelBtn);
  for (auto& [b, enabled] : testPage) b->setEnabled(enabled);
  FUpgrade = false;
}

void TKVTIRMainForm::UserFMCancelBtnClick() {
  if (FDownload) FDownload->Cancel();
}
