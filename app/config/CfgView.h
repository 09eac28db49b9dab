// What the configuration editor's controls hold, and the conversions between that and the
// configuration record. The window only copies these values into and out of its controls,
// so every scaling, rounding and text rule lives here, below the toolkit, and is tested here.
#pragma once

#include "model/Records.h"
#include "model/SensorTypes.h"

#include <cstdint>
#include <string>
#include <vector>

// The user view and the factory "User Options" page (the page shows the same values; the
// hardware version and serial are editable texts there, the life a pair of number boxes).
struct RUserFields {
  std::string mHWText;        // HWVersionText
  std::string mFWText;        // FWVersionText
  std::string mSerialText;    // up to the first zero byte
  uint32_t mMonths = 0;       // life remaining
  uint32_t mDays = 0;
  int mSensorPos = -1;        // position in the sensor type lists; -1 none
  double mAlarmHigh = 0.0;    // sensor unit
  double mAlarmLow = 0.0;
  int mCalDays = 0;
  int mBumpDays = 0;
  int mTestHours = 20;
  std::string mUserID;
  int mDispPos = 0;           // 0 "Sensor/Life Remaining", 1 "Sensor Reading", 2 "Life Remaining"
  bool mHideBumpLED = false;
};

// The factory page "Factory Options".
struct RFactoryFields {
  int mBatCritical = 0;
  int mBatStartup = 0;
  int mBat1 = 0;              // up to -10 C
  int mBat2 = 0;              // from -10 C
  std::string mAlarmTimeText, mAlarmCountText, mTestTimeText, mTestCountText;
  int mHibernatePos = 0;      // 0 empty item, 1 "Allow suspend"
  double mSpanGas = 0.0, mSensorMax = 0.0, mSensorBase = 0.0, mDeadZone = 0.0;
  int32_t mTempComp[3] = {0, 0, 0};
  std::string mZeroText, mSpanText, mMinSpanText, mTauText;
  std::string mLastCalText, mPeakTimerText, mLastBumpText;
};

// ---- single conversions

// Display list position: 2 when bit 0 is clear, else 1 when bit 2 is set, else 0.
int DispPosFromUnitFlag(uint8_t unitFlag);
// 2 for the quiet bump LED, OR 1 for position 0, OR 5 for position 1.
uint8_t UnitFlagFromView(bool hideBumpLED, int dispPos);

// The stored ID for the edit: bytes up to the first zero (at most 6), anything but '-',
// digits and letters turned into blanks, then trimmed.
std::string UserIDText(const char* id6);
// The edit's text padded with blanks or cut to 6; '-', digits and A-Z kept, others blanks.
void UserIDToBytes(const std::string& text, char* id6);

// The serial number's characters up to the first zero byte, at most 10.
std::string SerialText(const char* serial10);
// The edit's text padded with '0' or cut to 10; digits and A-Z kept, others blanks.
void SerialToBytes(const std::string& text, char* serial10);

// Seconds to whole days, rounded to the nearest day, halves to the even day.
int CalDaysFromSeconds(uint32_t seconds);
// Days to seconds; a result below 10 s means no interval.
uint32_t CalSecondsFromDays(int days);

// A value in the sensor unit as tenths: rounded to nearest, halves to even, low 16 bits.
uint16_t TenthsFromValue(double value);

// The hardware version byte from its text: integer-normalised (throws ENumberTooLong for a
// digit run beyond 32 bits), low 8 bits, and 0 or 1 stored as 1.
uint8_t HWVersionFromText(const std::string& text);

// Months and days back to the life counter: m x 2628000 + d x 86400 - 1 (0 stays 0), at
// most 63072000; limited tells that the boxes asked for more.
struct RLifeCollect {
  uint32_t mSeconds = 0;
  bool mLimited = false;
};
RLifeCollect LifeFromMonthDay(int months, int days);

// Counters that run in seconds: the decimal number up to 63072000, "---" beyond.
std::string TimerText(uint32_t seconds);
// Thousandths as "#0.000" and a value as "#0.0", always with '.'.
std::string ThousandthsText(uint16_t value);
std::string OneDecimalText(uint16_t value);

// ---- whole views

// What ShowCFG puts into the user view (and, copied, into the "User Options" page).
// sensorPos is FindSensorType(mSensorType) on the table the lists were filled from.
RUserFields UserFieldsFromCFG(const RKVTCFG& cfg, int sensorPos);
RFactoryFields FactoryFieldsFromCFG(const RKVTCFG& cfg);

// The user view's collect: the default configuration with the user settings applied.
// For a file the firmware byte is readSW (the last detector read), for a detector it stays 0.
RKVTCFG CollectUserCFG(const RUserFields& user, bool forDevice, uint8_t readSW,
                       const std::vector<RSensorType>& table);

// The factory view's collect: working with the reserved bytes cleared and every field the
// factory view shows taken from it. Throws ENumberTooLong (hardware version text).
struct RFactoryCollect {
  RKVTCFG mCFG{};
  bool mLifeLimited = false;  // the life boxes asked for more than 24 months
};
RFactoryCollect CollectFactoryCFG(const RKVTCFG& working, const RUserFields& user, const RFactoryFields& factory,
                                  bool forDevice, uint8_t readSW, const std::vector<RSensorType>& table);

// Texts of the over-long life message.
inline constexpr const char* kLifeOverCaption = "Check Life Remaining";
inline constexpr const char* kLifeOverText =
    "Life Remaining Value over than define value\rMake default value... check Life Remaining Value";
