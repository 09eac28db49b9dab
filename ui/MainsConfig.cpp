// Putting the working configuration into the controls and collecting it back. The rules are
// in app/CfgView; this file only moves values between those records and the controls.
#include "app/config/CfgView.h"
#include "model/SensorTypes.h"
#include "model/TextHelpers.h"
#include "ui/Label3dB.h"
#include "ui/Mains.h"
#include "ui/NumberBoxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// One byte per character, so the byte rules of the record see every character once.
std::string Bytes(const QString& s) {
  std::string out;
  out.reserve(static_cast<size_t>(s.size()));
  for (QChar c : s) out += c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?';
  return out;
}

void Commit(QAbstractSpinBox* box) { box->interpretText(); }

const QColor kFocusColour(0, 255, 0);

}  // namespace

void TKVTIRMainForm::FillSensorTypeCombos() {
  const QSignalBlocker a(UserOptSensorTypeCombo);
  const QSignalBlocker b(UserSensorTypeCombo);
  UserOptSensorTypeCombo->clear();
  UserSensorTypeCombo->clear();
  for (const RSensorType& t : SensorTypes) {
    UserOptSensorTypeCombo->addItem(Q(t.mName));
    UserSensorTypeCombo->addItem(Q(t.mName));
  }
  UserOptSensorTypeCombo->setCurrentIndex(-1);
  UserSensorTypeCombo->setCurrentIndex(-1);
  // Names come from the settings file at any length: both lists take the width of the
  // longest, within what a row of the narrowest window leaves.
  for (QComboBox* combo : {UserOptSensorTypeCombo, UserSensorTypeCombo}) {
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo->setFixedWidth(std::clamp(combo->sizeHint().width(), 90, 300));
  }
}

void TKVTIRMainForm::SetSensorRanges(const RSensorType& type) {
  for (TDecimalBox* box : SensorRangeBoxes()) box->SetFieldRange(type.mMin, type.mMax);
  for (TDecimalBox* box : SensorRangeBoxes()) box->SetUnit(Q(type.mUnit));
  for (TLabel3DBorder* unit : AlarmUnitLabels) unit->setText(Q(type.mUnit));
  FatoryOptSensorUnitLabel->setText(QStringLiteral("in %1").arg(Q(type.mUnit)));
}

void TKVTIRMainForm::ShowCFG() {
  // What the program puts into the controls is no edit of the operator's.
  const QScopedValueRollback<bool> showing(FShowing, true);
  const int pos = FindSensorType(FKVTCFG.mSensor.mSensorType);
  {
    // Setting the positions is not an operator's change: the change handler stays quiet.
    UserOptSensorTypeCombo->setEnabled(false);
    const QSignalBlocker a(UserOptSensorTypeCombo);
    const QSignalBlocker b(UserSensorTypeCombo);
    UserSensorTypeCombo->setCurrentIndex(pos);
    UserOptSensorTypeCombo->setCurrentIndex(pos);
    if (pos >= 0) {
      SetSensorRanges(SensorTypes[static_cast<size_t>(pos)]);
    }
    UserOptSensorTypeCombo->setEnabled(true);
  }

  const RUserFields user = UserFieldsFromCFG(FKVTCFG, pos);
  UserHWVersionLabel->setText(Q(user.mHWText));
  UserSWVersionLabel->setText(Q(user.mFWText));
  UserSerialLabel->setText(Q(user.mSerialText));
  UserMonthLifeLabel->setText(QString::number(user.mMonths));
  UserDayLifeLabel->setText(QString::number(user.mDays));
  // The boxes limit what they are given, so a level beyond the sensor range shows as the
  // nearer end, and the factory page below copies the limited value.
  UserHighAlarmSpin->Show(user.mAlarmHigh);
  UserLowAlarmSpin->Show(user.mAlarmLow);
  UserCalIntervalSpin->Show(user.mCalDays);
  UserBumpIntervalSpin->Show(user.mBumpDays);
  UserTestIntervalSpin->Show(user.mTestHours);
  UserIDEdit->setText(Q(user.mUserID));
  UserDispCombo->setCurrentIndex(user.mDispPos);
  UserHideBumpLEDCheck->setChecked(user.mHideBumpLED);

  UserOptHWVersionEdit->setText(UserHWVersionLabel->text());
  UserOptSWVersionLabel->setText(UserSWVersionLabel->text());
  UserOptSerialEdit->setText(UserSerialLabel->text());
  UserOptMonthLifeSpin->Show(static_cast<int>(user.mMonths));
  UserOptDayLifeSpin->Show(static_cast<int>(user.mDays));
  UserOptHighAlarmSpin->Show(UserHighAlarmSpin->value());
  UserOptLowAlarmSpin->Show(UserLowAlarmSpin->value());
  UserOptCalIntervalSpin->Show(UserCalIntervalSpin->value());
  UserOptBumpIntervalSpin->Show(UserBumpIntervalSpin->value());
  UserOptTestIntervalSpin->Show(UserTestIntervalSpin->value());
  UserOptIDEdit->setText(UserIDEdit->text());
  UserOptDispCombo->setCurrentIndex(UserDispCombo->currentIndex());
  UserOptHideBumpLEDCheck->setChecked(UserHideBumpLEDCheck->isChecked());

  const RFactoryFields f = FactoryFieldsFromCFG(FKVTCFG);
  FatoryOptBatteryLimitSpin->Show(f.mBatCritical);
  FatoryOptBatteryLimitStartupSpin->Show(f.mBatStartup);
  FatoryOptBatteryLimit1Spin->Show(f.mBat1);
  FatoryOptBatteryLimit2Spin->Show(f.mBat2);
  FatoryOptAlarmTimeLabel->setText(Q(f.mAlarmTimeText));
  FatoryOptAlarmCountLabel->setText(Q(f.mAlarmCountText));
  FatoryOptTestTimeLabel->setText(Q(f.mTestTimeText));
  FatoryOptTestCountLabel->setText(Q(f.mTestCountText));
  FactoryOptHibernateCombo->setCurrentIndex(f.mHibernatePos);
  FatoryOptSpanGasSpin->Show(f.mSpanGas);
  FatoryOptSensorMaxSpin->Show(f.mSensorMax);
  FatoryOptSensorBaseSpin->Show(f.mSensorBase);
  FatoryOptDeadZoneSpin->Show(f.mDeadZone);
  FatoryOptTempComp1Spin->Show(f.mTempComp[0]);
  FatoryOptTempComp2Spin->Show(f.mTempComp[1]);
  FatoryOptTempComp3Spin->Show(f.mTempComp[2]);
  FatoryOptZeroLabel->setText(Q(f.mZeroText));
  FatoryOptSpanLabel->setText(Q(f.mSpanText));
  FatoryOptMinSpanLabel->setText(Q(f.mMinSpanText));
  FatoryOptTauLabel->setText(Q(f.mTauText));
  FatoryOptLastCalLabel->setText(Q(f.mLastCalText));
  FatoryOptPeakTimerLabel->setText(Q(f.mPeakTimerText));
  FatoryOptLastBumpTimerLabel->setText(Q(f.mLastBumpText));
}

RKVTCFG TKVTIRMainForm::CollectCFG(bool forDevice) {
  // A number being typed counts as entered.
  for (QWidget* w : NumberBoxes()) Commit(static_cast<QAbstractSpinBox*>(w));

  RUserFields user;
  if (!FactoryMode) {
    user.mSensorPos = UserSensorTypeCombo->currentIndex();
    user.mAlarmHigh = UserHighAlarmSpin->value();
    user.mAlarmLow = UserLowAlarmSpin->value();
    user.mCalDays = UserCalIntervalSpin->value();
    user.mBumpDays = UserBumpIntervalSpin->value();
    user.mTestHours = UserTestIntervalSpin->value();
    user.mUserID = Bytes(UserIDEdit->text());
    user.mDispPos = UserDispCombo->currentIndex();
    user.mHideBumpLED = UserHideBumpLEDCheck->isChecked();
    return CollectUserCFG(user, forDevice, FReadSW, SensorTypes);
  }

  user.mHWText = Bytes(UserOptHWVersionEdit->text());
  user.mSerialText = Bytes(UserOptSerialEdit->text());
  user.mMonths = static_cast<uint32_t>(UserOptMonthLifeSpin->value());
  user.mDays = static_cast<uint32_t>(UserOptDayLifeSpin->value());
  user.mSensorPos = UserOptSensorTypeCombo->currentIndex();
  user.mAlarmHigh = UserOptHighAlarmSpin->value();
  user.mAlarmLow = UserOptLowAlarmSpin->value();
  user.mCalDays = UserOptCalIntervalSpin->value();
  user.mBumpDays = UserOptBumpIntervalSpin->value();
  user.mTestHours = UserOptTestIntervalSpin->value();
  user.mUserID = Bytes(UserOptIDEdit->text());
  user.mDispPos = UserOptDispCombo->currentIndex();
  user.mHideBumpLED = UserOptHideBumpLEDCheck->isChecked();

  RFactoryFields f;
  f.mBatCritical = FatoryOptBatteryLimitSpin->value();
  f.mBatStartup = FatoryOptBatteryLimitStartupSpin->value();
  f.mBat1 = FatoryOptBatteryLimit1Spin->value();
  f.mBat2 = FatoryOptBatteryLimit2Spin->value();
  f.mHibernatePos = FactoryOptHibernateCombo->currentIndex();
  f.mSpanGas = FatoryOptSpanGasSpin->value();
  f.mSensorMax = FatoryOptSensorMaxSpin->value();
  f.mSensorBase = FatoryOptSensorBaseSpin->value();
  f.mDeadZone = FatoryOptDeadZoneSpin->value();
  f.mTempComp[0] = FatoryOptTempComp1Spin->value();
  f.mTempComp[1] = FatoryOptTempComp2Spin->value();
  f.mTempComp[2] = FatoryOptTempComp3Spin->value();

  const RFactoryCollect r = CollectFactoryCFG(FKVTCFG, user, f, forDevice, FReadSW, SensorTypes);
  if (r.mLifeLimited && forDevice) {
    UserOptMonthLifeSpin->setValue(24);
    UserOptDayLifeSpin->setValue(0);
    Op().message(MessageIcon::Information, kLifeOverCaption, kLifeOverText);
  }
  return r.mCFG;
}

std::vector<RShownNumber> TKVTIRMainForm::ShownNumbers() const {
  std::vector<RShownNumber> shown;
  for (QWidget* w : NumberBoxes()) {
    static_cast<QAbstractSpinBox*>(w)->interpretText();  // a number being typed counts as entered
    const bool userView = w->objectName().startsWith(QLatin1String("User")) &&
                          !w->objectName().startsWith(QLatin1String("UserOpt"));
    if (userView == !FactoryMode) shown.push_back(dynamic_cast<const TFieldRange*>(w)->Shown());
  }
  return shown;
}

std::optional<RKVTCFG> TKVTIRMainForm::TryCollectCFG(bool forDevice) {
  std::optional<RKVTCFG> cfg;
  Guarded([&] { cfg = CollectCFG(forDevice); });
  return cfg;
}

void TKVTIRMainForm::UserOptSensorTypeComboChange(int position) {
  if (position < 0 || position >= static_cast<int>(SensorTypes.size())) return;
  SetSensorRanges(SensorTypes[static_cast<size_t>(position)]);
}

bool TKVTIRMainForm::UserIDEditKeyPress(QLineEdit*, QChar key) {
  const char16_t c = key.unicode();
  const bool accepted = c == u'\b' || c == u'\r' || c == u' ' || c == u'-' || (c >= u'0' && c <= u'9') ||
                        (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  return !accepted;
}

void TKVTIRMainForm::UserOptSerialEditKeyUp() {
  if (UserOptSerialEdit->cursorPosition() == 10) UserOptWriteDeviceBtn->setFocus(Qt::OtherFocusReason);
}

void TKVTIRMainForm::UserHighAlarmSpinEnter(QWidget* box) {
  QPalette p = box->palette();
  p.setColor(QPalette::Base, kFocusColour);
  box->setPalette(p);
}

void TKVTIRMainForm::UserHighAlarmSpinExit(QWidget* box) {
  QPalette p = box->palette();
  p.setColor(QPalette::Base, QApplication::palette(box).color(QPalette::Base));
  box->setPalette(p);
}

bool TKVTIRMainForm::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      if (watched == UserIDEdit || watched == UserOptIDEdit) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
          // Moving the caret, deleting and leaving the box are not typed characters.
          case Qt::Key_Tab:
          case Qt::Key_Backtab:
          case Qt::Key_Delete:
          case Qt::Key_Escape:
            return false;
          default:
            break;
        }
        if (key->text().isEmpty()) return false;
        return UserIDEditKeyPress(static_cast<QLineEdit*>(watched), key->text().at(0));
      }
      break;
    case QEvent::KeyRelease:
      if (watched == UserOptSerialEdit) UserOptSerialEditKeyUp();
      break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
      for (QWidget* box : NumberBoxes()) {
        if (watched != box) continue;
        if (event->type() == QEvent::FocusIn) UserHighAlarmSpinEnter(box);
        else UserHighAlarmSpinExit(box);
        break;
      }
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

// Both ID edits show and keep upper case, whether the text was typed, pasted or shown.
static void KeepUpperCase(QLineEdit* edit) {
  QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString& text) {
    const QString upper = text.toUpper();
    if (upper == text) return;
    const int caret = edit->cursorPosition();
    edit->setText(upper);
    edit->setCursorPosition(caret);
  });
}

void TKVTIRMainForm::ConnectHandlers() {
  const auto click = [this](QPushButton* b, void (TKVTIRMainForm::*slot)()) {
    connect(b, &QPushButton::clicked, this, slot);
  };
  click(UserReadFileBtn, &TKVTIRMainForm::UserReadFileBtnClick);
  click(UserOptReadFileBtn, &TKVTIRMainForm::UserReadFileBtnClick);
  click(UserWriteFileBtn, &TKVTIRMainForm::UserWriteFileBtnClick);
  click(UserOptWriteFileBtn, &TKVTIRMainForm::UserWriteFileBtnClick);
  click(UserReadDeviceBtn, &TKVTIRMainForm::UserReadDeviceBtnClick);
  click(UserOptReadDeviceBtn, &TKVTIRMainForm::UserReadDeviceBtnClick);
  click(UserWriteDeviceBtn, &TKVTIRMainForm::UserWriteDeviceBtnClick);
  click(UserOptWriteDeviceBtn, &TKVTIRMainForm::UserWriteDeviceBtnClick);
  click(UserHibernateBtn, &TKVTIRMainForm::UserOptHibernateBtnClick);
  click(UserOptHibernateBtn, &TKVTIRMainForm::UserOptHibernateBtnClick);
  click(UserLogSaveBtn, &TKVTIRMainForm::UserLogSaveBtnClick);
  click(UserOptLogSaveBtn, &TKVTIRMainForm::UserLogSaveBtnClick);
  click(FatoryOptLogResetBtn, &TKVTIRMainForm::UserLogResetBtnClick);
  click(UserFMUpgradeBtn, &TKVTIRMainForm::UserFMUpgradeBtnClick);
  click(UserOptFMUpgradeBtn, &TKVTIRMainForm::UserFMUpgradeBtnClick);
  click(UserFMCancelBtn, &TKVTIRMainForm::UserFMCancelBtnClick);
  click(UserOptFMCancelBtn, &TKVTIRMainForm::UserFMCancelBtnClick);
  click(UserCalBtn, &TKVTIRMainForm::UserCalBtnClick);
  click(UserBumpBtn, &TKVTIRMainForm::UserBumpBtnClick);
  click(FatoryOptLogSensorBtn, &TKVTIRMainForm::FatoryOptLogSensorBtnClick);
  click(FatoryOptCalBtn, &TKVTIRMainForm::FatoryOptCalBtnClick);
  click(FatoryOptTurnOffBtn, &TKVTIRMainForm::FatoryOptTurnOffBtnClick);
  click(EtcFactoryResetBtn, &TKVTIRMainForm::EtcFactoryResetBtnClick);
  click(EtcIdentifyBtn, &TKVTIRMainForm::EtcIdentifyBtnClick);
  click(EtcEEPROMReadBtn, &TKVTIRMainForm::EtcEEPROMReadBtnClick);
  click(EtcEEPROMSaveBtn, &TKVTIRMainForm::EtcEEPROMSaveBtnClick);
  click(EtcEEPROMSaveLogBtn, &TKVTIRMainForm::EtcEEPROMSaveLogBtnClick);
  connect(UserFMOpenBtn, &QToolButton::clicked, this, &TKVTIRMainForm::UserFMOpenBtnClick);
  connect(UserOptFMOpenBtn, &QToolButton::clicked, this, &TKVTIRMainForm::UserFMOpenBtnClick);
  for (QPushButton* b : {EtcBeepONBtn, EtcRLEDONBtn, EtcLLEDONBtn, EtcVibratorBtn})
    connect(b, &QPushButton::clicked, this, [this, b] { EtcBeepONBtnClick(b); });
  for (QPushButton* b : {EtcClearPeakBtn, EtcBumpFailBtn, EtcBumpPassBtn})
    connect(b, &QPushButton::clicked, this, [this, b] { EtcClearPeakBtnClick(b); });

  connect(UserOptSensorTypeCombo, &QComboBox::currentIndexChanged, this,
          &TKVTIRMainForm::UserOptSensorTypeComboChange);
  UserIDEdit->installEventFilter(this);
  UserOptIDEdit->installEventFilter(this);
  KeepUpperCase(UserIDEdit);
  KeepUpperCase(UserOptIDEdit);
  UserOptSerialEdit->installEventFilter(this);
  for (QWidget* box : NumberBoxes()) box->installEventFilter(this);

  // Every change of a configuration control by the operator, for Hibernate's question.
  for (QWidget* box : NumberBoxes()) {
    if (auto* d = qobject_cast<QDoubleSpinBox*>(box)) connect(d, &QDoubleSpinBox::valueChanged, this, &TKVTIRMainForm::NoteEdit);
    if (auto* i = qobject_cast<QSpinBox*>(box)) connect(i, &QSpinBox::valueChanged, this, &TKVTIRMainForm::NoteEdit);
  }
  for (QLineEdit* e : {UserIDEdit, UserOptIDEdit, UserOptSerialEdit, UserOptHWVersionEdit})
    connect(e, &QLineEdit::textEdited, this, &TKVTIRMainForm::NoteEdit);
  for (QComboBox* c : {UserDispCombo, UserOptDispCombo, UserOptSensorTypeCombo, FactoryOptHibernateCombo})
    connect(c, &QComboBox::activated, this, &TKVTIRMainForm::NoteEdit);
  for (QCheckBox* c : {UserHideBumpLEDCheck, UserOptHideBumpLEDCheck})
    connect(c, &QCheckBox::clicked, this, &TKVTIRMainForm::NoteEdit);
}

void TKVTIRMainForm::NoteEdit() {
  if (!FShowing) Session.FUnwrittenEdits = true;
}
