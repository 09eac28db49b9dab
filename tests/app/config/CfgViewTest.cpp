// The editor's conversions between the configuration record and what the controls hold.
#include "app/config/CfgView.h"

#include "model/Checksum.h"
#include "model/TextHelpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

RKVTCFG DefaultCFG() {
  RKVTCFG cfg;
  SetDefaultCFG(cfg);
  return cfg;
}

std::string Bytes(const char* p, size_t n) { return std::string(p, n); }

TEST(CfgViewFlags, DisplayPositionAndBackToFlag) {
  EXPECT_EQ(DispPosFromUnitFlag(0x00), 2);
  EXPECT_EQ(DispPosFromUnitFlag(0x04), 2);  // bit 2 without bit 0 still shows life only
  EXPECT_EQ(DispPosFromUnitFlag(0x01), 0);
  EXPECT_EQ(DispPosFromUnitFlag(0x05), 1);
  EXPECT_EQ(DispPosFromUnitFlag(0x07), 1);
  EXPECT_EQ(UnitFlagFromView(false, 2), 0x00);  // so 0x04 comes back as 0x00
  EXPECT_EQ(UnitFlagFromView(false, 0), 0x01);
  EXPECT_EQ(UnitFlagFromView(false, 1), 0x05);
  EXPECT_EQ(UnitFlagFromView(true, 1), 0x07);
  EXPECT_EQ(UnitFlagFromView(true, -1), 0x02);  // no selection: only the LED bit
}

TEST(CfgViewText, UserIDShowAndCollect) {
  char stored[6] = {'A', '?', 'B', ' ', ' ', ' '};
  EXPECT_EQ(UserIDText(stored), "A B");
  const char lower[6] = {'a', 'b', '\0', 'C', 'D', 'E'};
  EXPECT_EQ(UserIDText(lower), "ab");  // stops at the zero byte; the edit shows upper case
  const char padded[6] = {' ', '1', '-', '2', ' ', ' '};
  EXPECT_EQ(UserIDText(padded), "1-2");

  char id[6];
  UserIDToBytes("AB-12", id);
  EXPECT_EQ(Bytes(id, 6), "AB-12 ");
  UserIDToBytes("ab?x", id);  // only upper case survives the collect
  EXPECT_EQ(Bytes(id, 6), "      ");
  UserIDToBytes("ABCDEFGH", id);
  EXPECT_EQ(Bytes(id, 6), "ABCDEF");
  UserIDToBytes("", id);
  EXPECT_EQ(Bytes(id, 6), "      ");
}

TEST(CfgViewText, SerialShowAndCollect) {
  const char full[10] = {'S', 'H', '1', '0', '0', '0', '0', '0', '0', '1'};
  EXPECT_EQ(SerialText(full), "SH10000001");  // no terminator needed
  const char shorter[10] = {'A', 'B', '\0', 'X', 'X', 'X', 'X', 'X', 'X', 'X'};
  EXPECT_EQ(SerialText(shorter), "AB");

  char serial[10];
  SerialToBytes("sh12", serial);
  EXPECT_EQ(Bytes(serial, 10), "  12000000");
  SerialToBytes("AB-12345678", serial);
  EXPECT_EQ(Bytes(serial, 10), "AB 1234567");
  SerialToBytes("", serial);
  EXPECT_EQ(Bytes(serial, 10), "0000000000");
}

TEST(CfgViewNumbers, CalibrationDaysRoundHalvesToEven) {
  EXPECT_EQ(CalDaysFromSeconds(0), 0);
  EXPECT_EQ(CalDaysFromSeconds(43199), 0);
  EXPECT_EQ(CalDaysFromSeconds(43200), 0);   // 0.5 -> 0
  EXPECT_EQ(CalDaysFromSeconds(43201), 1);
  EXPECT_EQ(CalDaysFromSeconds(129600), 2);  // 1.5 -> 2
  EXPECT_EQ(CalDaysFromSeconds(216000), 2);  // 2.5 -> 2
  EXPECT_EQ(CalDaysFromSeconds(30 * 86400), 30);
  EXPECT_EQ(CalDaysFromSeconds(0xFFFFFFFFu), 49710);
  EXPECT_EQ(CalSecondsFromDays(0), 0u);
  EXPECT_EQ(CalSecondsFromDays(1), 86400u);
  EXPECT_EQ(CalSecondsFromDays(365), 31536000u);
}

TEST(CfgViewNumbers, TenthsRoundHalvesToEvenAndKeepLow16Bits) {
  EXPECT_EQ(TenthsFromValue(15.0), 150);
  EXPECT_EQ(TenthsFromValue(100.0), 1000);
  EXPECT_EQ(TenthsFromValue(0.05), 0);    // 0.5 -> 0
  EXPECT_EQ(TenthsFromValue(0.25), 2);    // 2.5 -> 2
  EXPECT_EQ(TenthsFromValue(0.35), 4);    // 3.5 -> 4
  EXPECT_EQ(TenthsFromValue(29.9), 299);
  EXPECT_EQ(TenthsFromValue(-1.0), 65526);
  EXPECT_EQ(TenthsFromValue(6553.6), 0);  // 65536 cut to 16 bits
  EXPECT_EQ(TenthsFromValue(1e30), static_cast<uint16_t>(static_cast<int64_t>(1e15)));  // no UB on huge ranges
}

TEST(CfgViewNumbers, HardwareVersionText) {
  EXPECT_EQ(HWVersionFromText("7"), 7);
  EXPECT_EQ(HWVersionFromText("0"), 1);
  EXPECT_EQ(HWVersionFromText("1"), 1);
  EXPECT_EQ(HWVersionFromText("300"), 44);
  EXPECT_EQ(HWVersionFromText("256"), 1);   // 0 after the cut, stored as 1
  EXPECT_EQ(HWVersionFromText("12ab"), 12);
  EXPECT_EQ(HWVersionFromText(""), 1);
  EXPECT_EQ(HWVersionFromText("abc"), 1);
  EXPECT_EQ(HWVersionFromText(" 005"), 5);
  EXPECT_EQ(HWVersionFromText("-1"), 255);
  EXPECT_THROW(HWVersionFromText("99999999999"), ENumberTooLong);
  EXPECT_THROW(HWVersionFromText("-2147483649"), ENumberTooLong);
  EXPECT_EQ(HWVersionFromText("2147483647"), 255);
}

TEST(CfgViewNumbers, LifeFromMonthsAndDays) {
  EXPECT_EQ(LifeFromMonthDay(0, 0).mSeconds, 0u);
  EXPECT_EQ(LifeFromMonthDay(0, 1).mSeconds, 86399u);
  EXPECT_EQ(LifeFromMonthDay(24, 0).mSeconds, 63071999u);
  EXPECT_FALSE(LifeFromMonthDay(24, 0).mLimited);
  const RLifeCollect over = LifeFromMonthDay(24, 31);
  EXPECT_EQ(over.mSeconds, 63072000u);
  EXPECT_TRUE(over.mLimited);
  EXPECT_FALSE(LifeFromMonthDay(23, 30).mLimited);
  EXPECT_TRUE(LifeFromMonthDay(23, 31).mLimited);  // 31 days are more than a month
  // Day counts 1..29 show the same months and days again.
  for (int m = 0; m <= 23; ++m) {
    for (int d = 1; d <= 29; ++d) {
      const MonthDay back = LifeToMonthDay(LifeFromMonthDay(m, d).mSeconds);
      EXPECT_EQ(back.months, static_cast<uint32_t>(m)) << m << " " << d;
      EXPECT_EQ(back.days, static_cast<uint32_t>(d)) << m << " " << d;
    }
  }
}

TEST(CfgViewText, CounterAndScaledLabels) {
  EXPECT_EQ(TimerText(63072000), "63072000");
  EXPECT_EQ(TimerText(63072001), "---");
  EXPECT_EQ(TimerText(0), "0");
  EXPECT_EQ(ThousandthsText(5561), "5.561");
  EXPECT_EQ(ThousandthsText(40), "0.040");
  EXPECT_EQ(ThousandthsText(65535), "65.535");
  EXPECT_EQ(OneDecimalText(5), "5.0");
  EXPECT_EQ(OneDecimalText(0), "0.0");
}

TEST(CfgViewShow, DefaultConfigurationInTheUserView) {
  const RUserFields f = UserFieldsFromCFG(DefaultCFG(), 0);
  EXPECT_EQ(f.mHWText, "000");
  EXPECT_EQ(f.mFWText, "0.0");
  EXPECT_EQ(f.mSerialText, "SH10000000");
  EXPECT_EQ(f.mMonths, 24u);
  EXPECT_EQ(f.mDays, 0u);
  EXPECT_DOUBLE_EQ(f.mAlarmHigh, 15.0);
  EXPECT_DOUBLE_EQ(f.mAlarmLow, 10.0);
  EXPECT_EQ(f.mCalDays, 0);
  EXPECT_EQ(f.mBumpDays, 0);
  EXPECT_EQ(f.mTestHours, 20);
  EXPECT_EQ(f.mUserID, "");
  EXPECT_EQ(f.mDispPos, 0);
  EXPECT_FALSE(f.mHideBumpLED);
}

TEST(CfgViewShow, FactoryPage) {
  RKVTCFG cfg = DefaultCFG();
  cfg.mUnit.mAlarmTime = 63072001;
  cfg.mUnit.mTestTime = 12;
  cfg.mUnit.mAlarmCount = 65535;
  cfg.mUnit.mAllowSuspend = 0x80;
  cfg.mSensor.mLastBump = 0xFFFFFFFF;
  cfg.mSensor.mTau = 65535;
  const RFactoryFields f = FactoryFieldsFromCFG(cfg);
  EXPECT_EQ(f.mBatCritical, 600);
  EXPECT_EQ(f.mBatStartup, 708);
  EXPECT_EQ(f.mBat1, 649);
  EXPECT_EQ(f.mAlarmTimeText, "---");
  EXPECT_EQ(f.mTestTimeText, "12");
  EXPECT_EQ(f.mAlarmCountText, "65535");
  EXPECT_EQ(f.mHibernatePos, 1);
  EXPECT_DOUBLE_EQ(f.mSpanGas, 25.0);
  EXPECT_DOUBLE_EQ(f.mDeadZone, 1.5);
  EXPECT_EQ(f.mTempComp[0], -229832);
  EXPECT_EQ(f.mZeroText, "204");
  EXPECT_EQ(f.mSpanText, "5.561");
  EXPECT_EQ(f.mMinSpanText, "3.440");
  EXPECT_EQ(f.mTauText, "65535.0");
  EXPECT_EQ(f.mLastCalText, "63072000");
  EXPECT_EQ(f.mLastBumpText, "---");
  cfg.mUnit.mAllowSuspend = 0x00;
  EXPECT_EQ(FactoryFieldsFromCFG(cfg).mHibernatePos, 0);
}

RUserFields SomeUserFields() {
  RUserFields u;
  u.mSensorPos = 1;
  u.mAlarmHigh = 50.0;
  u.mAlarmLow = 25.5;
  u.mCalDays = 30;
  u.mBumpDays = 7;
  u.mTestHours = 12;
  u.mUserID = "AB-12";
  u.mDispPos = 1;
  u.mHideBumpLED = true;
  u.mHWText = "12";
  u.mSerialText = "SC20000001";
  u.mMonths = 12;
  u.mDays = 3;
  return u;
}

TEST(CfgViewCollect, UserViewStartsFromDefaultsAndTakesReadFirmwareOnlyForFiles) {
  const std::vector<RSensorType> table = BuiltInSensorTypes();
  const RUserFields u = SomeUserFields();
  const RKVTCFG file = CollectUserCFG(u, false, 13, table);
  const RKVTCFG device = CollectUserCFG(u, true, 13, table);
  EXPECT_EQ(+file.mUnit.mFWVersion, 13);
  EXPECT_EQ(+device.mUnit.mFWVersion, 0);

  EXPECT_EQ(+device.mUnit.mUnitFlag, 0x07);
  EXPECT_EQ(Bytes(device.mUnit.mUserID, 6), "AB-12 ");
  EXPECT_EQ(+device.mUnit.mTestInterval, 12);
  EXPECT_EQ(uint16_t{device.mSensor.mAlarmHigh}, 500);
  EXPECT_EQ(uint16_t{device.mSensor.mAlarmLow}, 255);
  EXPECT_EQ(uint32_t{device.mSensor.mCalInterval}, 30u * 86400u);
  EXPECT_EQ(uint16_t{device.mSensor.mBumpInterval}, 7);
  EXPECT_EQ(+device.mSensor.mSensorType, 2);  // CO

  // Fields the user view does not show are the defaults, whatever the boxes say.
  RKVTCFG expected = DefaultCFG();
  RKVTCFG masked = device;
  std::memcpy(&masked.mUnit, &expected.mUnit, 8);  // flag, ID, test interval
  masked.mSensor.mAlarmHigh = expected.mSensor.mAlarmHigh;
  masked.mSensor.mAlarmLow = expected.mSensor.mAlarmLow;
  masked.mSensor.mCalInterval = expected.mSensor.mCalInterval;
  masked.mSensor.mBumpInterval = expected.mSensor.mBumpInterval;
  masked.mSensor.mSensorType = expected.mSensor.mSensorType;
  EXPECT_EQ(std::memcmp(&masked, &expected, sizeof expected), 0);
}

TEST(CfgViewCollect, SensorTypeWithoutSelectionIsZero) {
  const std::vector<RSensorType> table = BuiltInSensorTypes();
  RUserFields u = SomeUserFields();
  u.mSensorPos = -1;
  EXPECT_EQ(+CollectUserCFG(u, true, 0, table).mSensor.mSensorType, 0);
  u.mSensorPos = 3;  // beyond the table
  EXPECT_EQ(+CollectUserCFG(u, true, 0, table).mSensor.mSensorType, 0);
  u.mSensorPos = 2;
  EXPECT_EQ(+CollectUserCFG(u, true, 0, table).mSensor.mSensorType, 4);
}

TEST(CfgViewCollect, FactoryViewKeepsWhatItDoesNotShowAndClearsReservedBytes) {
  const std::vector<RSensorType> table = BuiltInSensorTypes();
  RKVTCFG working = DefaultCFG();
  std::memset(working.mUnit.mDummy1, 0xAA, sizeof working.mUnit.mDummy1);
  std::memset(working.mUnit.mDummy2, 0xBB, sizeof working.mUnit.mDummy2);
  std::memset(working.mSensor.mDummy1, 0xCC, sizeof working.mSensor.mDummy1);
  working.mUnit.mFWVersion = 21;
  working.mUnit.mAlarmTime = 1234;
  working.mUnit.mTestTime = 5678;
  working.mUnit.mAlarmCount = 9;
  working.mUnit.mTestCount = 10;
  working.mUnit.mPEventLog = 0x42;
  working.mUnit.mCRC = 0x1111;
  working.mSensor.mCRC = 0x2222;
  working.mSensor.mZero = 300;
  working.mSensor.mPeakTimer = 77;
  working.mSensor.mLastBump = 88;

  RFactoryFields f;
  f.mBatCritical = 1024;
  f.mBatStartup = 700;
  f.mBat1 = 640;
  f.mBat2 = 650;
  f.mHibernatePos = 0;
  f.mSpanGas = 50.0;
  f.mSensorMax = 300.0;
  f.mSensorBase = 0.5;
  f.mDeadZone = 2.0;
  f.mTempComp[0] = -2147483647 - 1;
  f.mTempComp[1] = 2147483647;
  f.mTempComp[2] = -1;

  const RFactoryCollect device = CollectFactoryCFG(working, SomeUserFields(), f, true, 13, table);
  const RKVTCFG& c = device.mCFG;
  EXPECT_FALSE(device.mLifeLimited);
  EXPECT_EQ(+c.mUnit.mFWVersion, 21);  // the detector's own, not FReadSW
  EXPECT_EQ(+CollectFactoryCFG(working, SomeUserFields(), f, false, 13, table).mCFG.mUnit.mFWVersion, 13);

  for (uint8_t b : c.mUnit.mDummy1) EXPECT_EQ(b, 0);
  for (uint8_t b : c.mUnit.mDummy2) EXPECT_EQ(b, 0);
  for (uint8_t b : c.mSensor.mDummy1) EXPECT_EQ(b, 0);
  EXPECT_EQ(uint32_t{c.mUnit.mAlarmTime}, 1234u);
  EXPECT_EQ(uint32_t{c.mUnit.mTestTime}, 5678u);
  EXPECT_EQ(uint16_t{c.mUnit.mAlarmCount}, 9);
  EXPECT_EQ(uint16_t{c.mUnit.mTestCount}, 10);
  EXPECT_EQ(+c.mUnit.mPEventLog, 0x42);
  EXPECT_EQ(uint16_t{c.mUnit.mCRC}, 0x1111);
  EXPECT_EQ(uint16_t{c.mSensor.mCRC}, 0x2222);
  EXPECT_EQ(uint16_t{c.mSensor.mZero}, 300);
  EXPECT_EQ(uint16_t{c.mSensor.mSpan}, 5561);
  EXPECT_EQ(uint16_t{c.mSensor.mTau}, 5);
  EXPECT_EQ(uint32_t{c.mSensor.mLastCal}, 63072000u);
  EXPECT_EQ(uint32_t{c.mSensor.mPeakTimer}, 77u);
  EXPECT_EQ(uint16_t{c.mSensor.mMinSpan}, 3440);
  EXPECT_EQ(uint32_t{c.mSensor.mLastBump}, 88u);

  EXPECT_EQ(+c.mUnit.mAllowSuspend, 0xFF);
  EXPECT_EQ(Bytes(c.mUnit.mSerial, 10), "SC20000001");
  EXPECT_EQ(uint16_t{c.mUnit.mBatLimit[0]}, 640);
  EXPECT_EQ(uint16_t{c.mUnit.mBatLimit[1]}, 650);
  EXPECT_EQ(uint16_t{c.mUnit.mBatLimitStartUp}, 700);
  EXPECT_EQ(uint16_t{c.mUnit.mBatLimitCritical}, 1024);
  EXPECT_EQ(+c.mUnit.mHWVersion, 12);
  EXPECT_EQ(uint32_t{c.mUnit.mLifeRemaining}, 12u * 2628000u + 3u * 86400u - 1u);
  EXPECT_EQ(uint16_t{c.mSensor.mSpanGas}, 500);
  EXPECT_EQ(uint16_t{c.mSensor.mSensorMax}, 3000);
  EXPECT_EQ(uint16_t{c.mSensor.mSensorBase}, 5);
  EXPECT_EQ(uint16_t{c.mSensor.mDeadZone}, 20);
  EXPECT_EQ(int32_t{c.mSensor.mTempCompSpan[0]}, -2147483647 - 1);
  EXPECT_EQ(int32_t{c.mSensor.mTempCompSpan[1]}, 2147483647);
  EXPECT_EQ(int32_t{c.mSensor.mTempCompSpan[2]}, -1);
  EXPECT_EQ(+c.mSensor.mSensorType, 2);
  EXPECT_EQ(+c.mUnit.mUnitFlag, 0x07);

  f.mHibernatePos = 1;
  EXPECT_EQ(+CollectFactoryCFG(working, SomeUserFields(), f, true, 0, table).mCFG.mUnit.mAllowSuspend, 0x80);
}

TEST(CfgViewCollect, FactoryLifeBeyond24MonthsIsLimitedInBothCollects) {
  const std::vector<RSensorType> table = BuiltInSensorTypes();
  RUserFields u = SomeUserFields();
  u.mMonths = 24;
  u.mDays = 31;
  for (bool forDevice : {true, false}) {
    const RFactoryCollect r = CollectFactoryCFG(DefaultCFG(), u, RFactoryFields{}, forDevice, 0, table);
    EXPECT_TRUE(r.mLifeLimited);
    EXPECT_EQ(uint32_t{r.mCFG.mUnit.mLifeRemaining}, 63072000u);
  }
}

TEST(CfgViewCollect, FactoryHardwareTextTooLongThrows) {
  RUserFields u = SomeUserFields();
  u.mHWText = "123456789012";
  EXPECT_THROW(CollectFactoryCFG(DefaultCFG(), u, RFactoryFields{}, true, 0, BuiltInSensorTypes()), ENumberTooLong);
}

}  // namespace
