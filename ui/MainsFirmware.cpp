// The firmware boxes: choosing an image, Upgrade Firmware and Cancel. The download is
// app/Firmware's run; the window steps it, shows its progress and keeps the other
// operations' buttons disabled meanwhile.
#include "app/device/Firmware.h"
#include "app/device/Identify.h"
#include "app/device/Operation.h"
#include "link/KVTComms.h"
#include "model/SensorTypes.h"
#include "ui/Label3dB.h"
#include "ui/Mains.h"

#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>

#include <cstring>

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
  FFirmwareDesc = QString::fromStdString(box.mDescLabel);
  FUpgradeEndShown = true;  // the boxes show the new image now
  ClearUpgradeEnd();
  UserFMUpgradeBtn->setEnabled(box.mUpgradeEnabled);
  UserOptFMUpgradeBtn->setEnabled(box.mUpgradeEnabled);
}

void TKVTIRMainForm::UserFMOpenBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  const FileRequest dialog = FirmwareOpenDialog();
  if (const std::optional<std::string> file = Op().chooseOpenFile(dialog))
    Guarded([&] { LoadUpgradeFile(*file, false); });
}

void TKVTIRMainForm::UserFMUpgradeBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  Session.BeginAction();
  const std::vector<QWidget*> listed = {
      UserReadFileBtn,       UserReadDeviceBtn,     UserWriteFileBtn,     UserWriteDeviceBtn,   UserHibernateBtn,
      UserLogSaveBtn,        UserCalBtn,            UserBumpBtn,          UserFMOpenBtn,        UserFMUpgradeBtn,     UserFMCancelBtn,
      UserOptReadFileBtn,    UserOptReadDeviceBtn,  UserOptWriteFileBtn,  UserOptWriteDeviceBtn, UserOptLogSaveBtn,
      UserOptFMOpenBtn,      UserOptFMUpgradeBtn,   UserOptFMCancelBtn,   UserOptHibernateBtn,  FatoryOptLogResetBtn,
      FatoryOptCalBtn,       FatoryOptTurnOffBtn,   FatoryOptLogSensorBtn};
  // The TEST page and the EEPROM buttons would start a second link operation: they get their
  // own state back afterwards.
  std::vector<std::pair<QWidget*, bool>> testPage;
  for (QWidget* b : std::initializer_list<QWidget*>{
           EtcFactoryResetBtn, EtcIdentifyBtn, EtcBeepONBtn, EtcRLEDONBtn, EtcLLEDONBtn, EtcVibratorBtn,
           EtcClearPeakBtn, EtcBumpFailBtn, EtcBumpPassBtn, EtcEEPROMReadBtn, EtcEEPROMSaveBtn, EtcEEPROMSaveLogBtn})
    testPage.emplace_back(b, !b->testAttribute(Qt::WA_ForceDisabled));  // its own state, not the busy view's
  for (QWidget* b : listed) b->setEnabled(false);
  for (auto& [b, enabled] : testPage) b->setEnabled(false);
  // The download greys its own list and keeps Cancel live: the views are enabled again.
  for (QScrollArea* box : {UserScrollBox, DevScrollBox}) box->widget()->setEnabled(true);
  ClearUpgradeEnd();
  FUpgrade = true;

  TProgressBars bars(UserFMProgressBar, UserOptFMProgressBar);
  TFirmwareDownload run(Op(), *ComKVT, FUpgradeFile, bars);
  FDownload = &run;
  bool sent = false;  // a check that refuses the image has its own message and sends nothing
  // Each packet lets the window take its clicks (the run's pump); the clock adds no pause.
  TSteadyRunClock clock;
  Guarded([&] {
    DriveRun(run, clock, [&] {
      sent = sent || run.Downloading();
      UserFMCancelBtn->setEnabled(run.Downloading());
      UserOptFMCancelBtn->setEnabled(run.Downloading());
    });
  });
  FDownload = nullptr;
  if (sent) Guarded([&] { ShowUpgradeEnd(run.Result()); });

  for (QWidget* b : listed) b->setEnabled(b != UserFMCancelBtn && b != UserOptFMCancelBtn);
  for (auto& [b, enabled] : testPage) b->setEnabled(enabled);
  FUpgrade = false;
}

void TKVTIRMainForm::UserFMCancelBtnClick() {
  if (FDownload) FDownload->Stop();
}

void TKVTIRMainForm::ShowUpgradeEnd(uint8_t code) {
  QString text;
  QColor colour(0, 128, 0);
  if (code == LINK_OK) {
    RKVTIdenty id{};
    const uint8_t read = CatchingPortErrors(Op(), kIdentifyName, [&] { return LoadIdentify(Op(), *ComKVT, id); });
    if (read == LINK_OK) {
      const QString version = QString::fromStdString(FWVersionText(id.mSW));
      text = QStringLiteral("Upgrade complete: the detector runs firmware %1").arg(version);
      // The views show this detector: its firmware row follows.
      if (std::memcmp(id.mSerial, FKVTCFG.mUnit.mSerial, sizeof id.mSerial) == 0) {
        FKVTCFG.mUnit.mFWVersion = id.mSW;
        FReadSW = id.mSW;
        UserSWVersionLabel->setText(version);
        UserOptSWVersionLabel->setText(version);
      }
    } else {
      text = QStringLiteral("Upgrade sent: Read Device shows the detector's firmware");
    }
  } else {
    colour = Qt::red;
    text = QStringLiteral("Not completed: new firmware not started. Press Upgrade Firmware again");
  }
  for (TLabel3DBorder* label : {UserFMDescLabel, UserOptFMDescLabel}) {
    label->SetFontColor(colour);
    label->setText(text);
  }
  FUpgradeEndShown = true;
}

void TKVTIRMainForm::ClearUpgradeEnd() {
  if (!FUpgradeEndShown) return;
  FUpgradeEndShown = false;
  for (TLabel3DBorder* label : {UserFMDescLabel, UserOptFMDescLabel}) {
    label->SetFontColor(Qt::black);
    label->setText(FFirmwareDesc);
  }
  for (QProgressBar* bar : {UserFMProgressBar, UserOptFMProgressBar}) bar->setValue(0);
}
