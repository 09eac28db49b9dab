#include "app/config/CfgView.h"

#include "model/Checksum.h"
#include "model/TextHelpers.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool IsUpperLetterOrDigit(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

uint8_t SensorCode(int pos, const std::vector<RSensorType>& table) {
  if (pos < 0 || pos >= static_cast<int>(table.size())) return 0;
  return table[static_cast<size_t>(pos)].mIndex;
}

// mUnitFlag, mUserID and mTestInterval: the same rule in both views.
void CollectUserSettings(RKVTUnitCFG& unit, const RUserFields& user) {
  unit.mUnitFlag = UnitFlagFromView(user.mHideBumpLED, user.mDispPos);
  UserIDToBytes(user.mUserID, unit.mUserID);
  unit.mTestInterval = static_cast<uint8_t>(user.mTestHours);
}

}  // namespace

int DispPosFromUnitFlag(uint8_t unitFlag) {
  if ((unitFlag & 0x01) == 0) return 2;
  if ((unitFlag & 0x04) != 0) return 1;
  return 0;
}

uint8_t UnitFlagFromView(bool hideBumpLED, int dispPos) {
  uint8_t flag = hideBumpLED ? 2 : 0;
  if (dispPos == 0) flag |= 1;
  else if (dispPos == 1) flag |= 5;
  return flag;
}

std::string UserIDText(const char* id6) {
  std::string s;
  for (int i = 0; i < 6 && id6[i] != '\0'; ++i) {
    const char c = id6[i];
    s += (c == '-' || (c >= '0' && c <= '9') || IsLetter(c)) ? c : ' ';
  }
  return Trimmed(s);
}

void UserIDToBytes(const std::string& text, char* id6) {
  const std::string padded = PadText(false, 6, ' ', text);
  for (int i = 0; i < 6; ++i) {
    const char c = padded[static_cast<size_t>(i)];
    id6[i] = (c == '-' || IsUpperLetterOrDigit(c)) ? c : ' ';
  }
}

std::string SerialText(const char* serial10) {
  std::string s;
  for (int i = 0; i < 10 && serial10[i] != '\0'; ++i) s += serial10[i];
  return s;
}

void SerialToBytes(const std::string& text, char* serial10) {
  const std::string padded = PadText(false, 10, '0', text);
  for (int i = 0; i < 10; ++i) {
    const char c = padded[static_cast<size_t>(i)];
    serial10[i] = IsUpperLetterOrDigit(c) ? c : ' ';
  }
}

int CalDaysFromSeconds(uint32_t seconds) {
  uint32_t days = seconds / kSecondsPerDay;
  const uint32_t rest = seconds % kSecondsPerDay;
  if (2 * rest > kSecondsPerDay || (2 * rest == kSecondsPerDay && (days & 1) != 0)) ++days;
  return static_cast<int>(days);
}

uint32_t CalSecondsFromDays(int days) {
  const int64_t seconds = static_cast<int64_t>(days) * kSecondsPerDay;
  return seconds < 10 ? 0 : static_cast<uint32_t>(seconds);
}

uint16_t TenthsFromValue(double value) {
  // nearbyint rounds halves to even in the default rounding mode; the clamp keeps the
  // conversion defined whatever range a settings file gave the boxes.
  double tenths = std::nearbyint(value * 10.0);
  if (!(tenths > -1e15)) tenths = -1e15;
  if (tenths > 1e15) tenths = 1e15;
  return static_cast<uint16_t>(static_cast<int64_t>(tenths));
}

uint8_t HWVersionFromText(const std::string& text) {
  const int value = std::stoi(NormalizeNumText(NumMode::Integer, text));
  const auto hw = static_cast<uint8_t>(value);
  return hw <= 1 ? 1 : hw;
}

RLifeCollect LifeFromMonthDay(int months, int days) {
  RLifeCollect r;
  const int64_t total = static_cast<int64_t>(months) * kSecondsPerMonth + static_cast<int64_t>(days) * kSecondsPerDay;
  if (total > kMaxLifeSeconds) {
    r.mSeconds = kMaxLifeSeconds;
    r.mLimited = true;
  } else if (total > 0) {
    r.mSeconds = static_cast<uint32_t>(total - 1);
  }
  return r;
}

std::string TimerText(uint32_t seconds) {
  return seconds <= kMaxLifeSeconds ? std::to_string(seconds) : std::string("---");
}

std::string ThousandthsText(uint16_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%03u", value / 1000u, value % 1000u);
  return buf;
}

std::string OneDecimalText(uint16_t value) { return std::to_string(value) + ".0"; }

RUserFields UserFieldsFromCFG(const RKVTCFG& cfg, int sensorPos) {
  const RKVTUnitCFG& u = cfg.mUnit;
  const RKVTSensorCFG& s = cfg.mSensor;
  RUserFields f;
  f.mHWText = HWVersionText(u.mHWVersion);
  f.mFWText = FWVersionText(u.mFWVersion);
  f.mSerialText = SerialText(u.mSerial);
  const MonthDay life = LifeToMonthDay(u.mLifeRemaining);
  f.mMonths = life.months;
  f.mDays = life.days;
  f.mSensorPos = sensorPos;
  f.mAlarmHigh = s.mAlarmHigh / 10.0;
  f.mAlarmLow = s.mAlarmLow / 10.0;
  f.mCalDays = CalDaysFromSeconds(s.mCalInterval);
  f.mBumpDays = s.mBumpInterval;
  f.mTestHours = u.mTestInterval;
  f.mUserID = UserIDText(u.mUserID);
  f.mDispPos = DispPosFromUnitFlag(u.mUnitFlag);
  f.mHideBumpLED = (u.mUnitFlag & 0x02) != 0;
  return f;
}

RFactoryFields FactoryFieldsFromCFG(const RKVTCFG& cfg) {
  const RKVTUnitCFG& u = cfg.mUnit;
  const RKVTSensorCFG& s = cfg.mSensor;
  RFactoryFields f;
  f.mBatCritical = u.mBatLimitCritical;
  f.mBatStartup = u.mBatLimitStartUp;
  f.mBat1 = u.mBatLimit[0];
  f.mBat2 = u.mBatLimit[1];
  f.mAlarmTimeText = TimerText(u.mAlarmTime);
  f.mAlarmCountText = std::to_string(u.mAlarmCount);
  f.mTestTimeText = TimerText(u.mTestTime);
  f.mTestCountText = std::to_string(u.mTestCount);
  f.mHibernatePos = u.mAllowSuspend == 0x80 ? 1 : 0;
  f.mSpanGas = s.mSpanGas / 10.0;
  f.mSensorMax = s.mSensorMax / 10.0;
  f.mSensorBase = s.mSensorBase / 10.0;
  f.mDeadZone = s.mDeadZone / 10.0;
  for (int i = 0; i < 3; ++i) f.mTempComp[i] = s.mTempCompSpan[i];
  f.mZeroText = std::to_string(s.mZero);
  f.mSpanText = ThousandthsText(s.mSpan);
  f.mMinSpanText = ThousandthsText(s.mMinSpan);
  f.mTauText = OneDecimalText(s.mTau);
  f.mLastCalText = TimerText(s.mLastCal);
  f.mPeakTimerText = TimerText(s.mPeakTimer);
  f.mLastBumpText = TimerText(s.mLastBump);
  return f;
}

RKVTCFG CollectUserCFG(const RUserFields& user, bool forDevice, uint8_t readSW,
                       const std::vector<RSensorType>& table) {
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  if (!forDevice) cfg.mUnit.mFWVersion = readSW;
  CollectUserSettings(cfg.mUnit, user);
  cfg.mSensor.mAlarmHigh = TenthsFromValue(user.mAlarmHigh);
  cfg.mSensor.mAlarmLow = TenthsFromValue(user.mAlarmLow);
  cfg.mSensor.mCalInterval = CalSecondsFromDays(user.mCalDays);
  cfg.mSensor.mBumpInterval = static_cast<uint16_t>(user.mBumpDays);
  cfg.mSensor.mSensorType = SensorCode(user.mSensorPos, table);
  return cfg;
}

RFactoryCollect CollectFactoryCFG(const RKVTCFG& working, const RUserFields& user, const RFactoryFields& factory,
                                  bool forDevice, uint8_t readSW, const std::vector<RSensorType>& table) {
  RFactoryCollect r;
  RKVTCFG& cfg = r.mCFG;
  cfg = working;
  std::memset(cfg.mUnit.mDummy1, 0, sizeof cfg.mUnit.mDummy1);
  std::memset(cfg.mUnit.mDummy2, 0, sizeof cfg.mUnit.mDummy2);
  std::memset(cfg.mSensor.mDummy1, 0, sizeof cfg.mSensor.mDummy1);
  if (!forDevice) cfg.mUnit.mFWVersion = readSW;

  RKVTUnitCFG& u = cfg.mUnit;
  CollectUserSettings(u, user);
  u.mAllowSuspend = factory.mHibernatePos == 1 ? 0x80 : 0xFF;
  SerialToBytes(user.mSerialText, u.mSerial);
  u.mBatLimit[0] = static_cast<uint16_t>(factory.mBat1);
  u.mBatLimit[1] = static_cast<uint16_t>(factory.mBat2);
  u.mBatLimitStartUp = static_cast<uint16_t>(factory.mBatStartup);
  u.mBatLimitCritical = static_cast<uint16_t>(factory.mBatCritical);
  u.mHWVersion = HWVersionFromText(user.mHWText);
  const RLifeCollect life = LifeFromMonthDay(static_cast<int>(user.mMonths), static_cast<int>(user.mDays));
  u.mLifeRemaining = life.mSeconds;
  r.mLifeLimited = life.mLimited;

  RKVTSensorCFG& s = cfg.mSensor;
  s.mAlarmHigh = TenthsFromValue(user.mAlarmHigh);
  s.mAlarmLow = TenthsFromValue(user.mAlarmLow);
  s.mCalInterval = CalSecondsFromDays(user.mCalDays);
  s.mBumpInterval = static_cast<uint16_t>(user.mBumpDays);
  s.mSensorType = SensorCode(user.mSensorPos, table);
  s.mDeadZone = TenthsFromValue(factory.mDeadZone);
  s.mSpanGas = TenthsFromValue(factory.mSpanGas);
  s.mSensorMax = TenthsFromValue(factory.mSensorMax);
  s.mSensorBase = TenthsFromValue(factory.mSensorBase);
  for (int i = 0; i < 3; ++i) s.mTempCompSpan[i] = factory.mTempComp[i];
  return r;
}
