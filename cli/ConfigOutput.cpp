#include "cli/ConfigOutput.h"

#include "app/config/CfgView.h"
#include "cli/Cli.h"
#include "model/JsonText.h"
#include "model/SensorTypes.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

int SessionExitStatus(const RSessionResult& result) {
  switch (result.mStop) {
    case TSessionStop::None:
      return result.mCode;
    case TSessionStop::Declined:
    case TSessionStop::Cancelled:
      return kExitDeclined;
    case TSessionStop::FileNotSaved:
      return kExitSoftware;
    case TSessionStop::NoSensor:
    case TSessionStop::CheckUnit:
    case TSessionStop::FileRefused:
    case TSessionStop::WriteRefused:
      break;
  }
  return kExitRefused;
}

namespace {

// Builds one JSON object of "name": value members; values are copied out of the packed
// records before they are formatted.
class JsonObject {
 public:
  template <class T>
  JsonObject& num(const char* name, T value) {
    static_assert(std::is_integral_v<T>);
    if constexpr (std::is_signed_v<T>)
      return raw(name, std::to_string(static_cast<long long>(value)));
    else
      return raw(name, std::to_string(static_cast<unsigned long long>(value)));
  }
  // Arrays of a packed record are copied out byte-wise: their elements may sit misaligned.
  template <class T, size_t N>
  JsonObject& array(const char* name, const void* field) {
    T values[N];
    std::memcpy(values, field, sizeof values);
    std::string text = "[";
    for (size_t i = 0; i < N; ++i) {
      if (i) text += ", ";
      if constexpr (std::is_signed_v<T>)
        text += std::to_string(static_cast<long long>(values[i]));
      else
        text += std::to_string(static_cast<unsigned long long>(values[i]));
    }
    return raw(name, text + "]");
  }
  template <size_t N>
  JsonObject& chars(const char* name, const char (&bytes)[N]) {
    return raw(name, JsonString(std::string(bytes, N), TJsonBytes::Bytes));
  }
  JsonObject& raw(const char* name, const std::string& value) {
    FText += FText.empty() ? "{" : ", ";
    FText += "\"" + std::string(name) + "\": " + value;
    return *this;
  }
  std::string text() const { return FText.empty() ? "{}" : FText + "}"; }

 private:
  std::string FText;
};

}  // namespace

static_assert(sizeof(RKVTUnitCFG::mBatLimit) == 2 * sizeof(uint16_t));
static_assert(sizeof(RKVTSensorCFG::mTempCompSpan) == 3 * sizeof(int32_t));

std::string ConfigJson(const RKVTIdenty& id, const RKVTCFG& cfg) {
  const RKVTUnitCFG& u = cfg.mUnit;
  const RKVTSensorCFG& s = cfg.mSensor;
  JsonObject identity;
  identity.num("mPID", id.mPID)
      .num("mHW", id.mHW)
      .num("mSW", id.mSW)
      .num("mSensor", id.mSensor)
      .num("mLife", id.mLife)
      .chars("mSerial", id.mSerial);
  JsonObject unit;
  unit.num("mUnitFlag", u.mUnitFlag)
      .chars("mUserID", u.mUserID)
      .num("mTestInterval", u.mTestInterval)
      .array<uint8_t, sizeof u.mDummy1>("mDummy1", &u.mDummy1)
      .num("mAllowSuspend", u.mAllowSuspend)
      .chars("mSerial", u.mSerial)
      .array<uint16_t, 2>("mBatLimit", &u.mBatLimit)
      .num("mBatLimitStartUp", u.mBatLimitStartUp)
      .num("mBatLimitCritical", u.mBatLimitCritical)
      .num("mHWVersion", u.mHWVersion)
      .num("mFWVersion", u.mFWVersion)
      .num("mLifeRemaining", u.mLifeRemaining)
      .num("mAlarmTime", u.mAlarmTime)
      .num("mTestTime", u.mTestTime)
      .num("mAlarmCount", u.mAlarmCount)
      .num("mTestCount", u.mTestCount)
      .num("mPEventLog", u.mPEventLog)
      .array<uint8_t, sizeof u.mDummy2>("mDummy2", &u.mDummy2)
      .num("mCRC", u.mCRC);
  JsonObject sensor;
  sensor.num("mAlarmHigh", s.mAlarmHigh)
      .num("mAlarmLow", s.mAlarmLow)
      .num("mCalInterval", s.mCalInterval)
      .num("mBumpInterval", s.mBumpInterval)
      .array<uint8_t, sizeof s.mDummy1>("mDummy1", &s.mDummy1)
      .num("mSensorType", s.mSensorType)
      .num("mDeadZone", s.mDeadZone)
      .num("mSpanGas", s.mSpanGas)
      .num("mSensorMax", s.mSensorMax)
      .num("mSensorBase", s.mSensorBase)
      .array<int32_t, 3>("mTempCompSpan", &s.mTempCompSpan)
      .num("mZero", s.mZero)
      .num("mSpan", s.mSpan)
      .num("mTau", s.mTau)
      .num("mLastCal", s.mLastCal)
      .num("mPeakTimer", s.mPeakTimer)
      .num("mMinSpan", s.mMinSpan)
      .num("mLastBump", s.mLastBump)
      .num("mCRC", s.mCRC);
  JsonObject all;
  all.raw("identity", identity.text()).raw("unit", unit.text()).raw("sensor", sensor.text());
  return all.text();
}

namespace {

const char* const kDisplayItems[] = {"Sensor/Life Remaining", "Sensor Reading", "Life Remaining"};

std::string OneDecimal(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", value);
  return buf;
}

}  // namespace

std::string ConfigListing(const RKVTIdenty& id, const RKVTCFG& cfg, const std::string& productName) {
  const int pos = FindSensorType(cfg.mSensor.mSensorType);
  const RUserFields user = UserFieldsFromCFG(cfg, pos);
  const RFactoryFields f = FactoryFieldsFromCFG(cfg);
  const std::string sensorName = pos >= 0 ? SensorTypes[static_cast<size_t>(pos)].mName : "(unknown)";
  const std::string unitName = pos >= 0 ? " " + SensorTypes[static_cast<size_t>(pos)].mUnit : "";
  const unsigned code = cfg.mSensor.mSensorType;
  const unsigned idSensor = id.mSensor;
  const int32_t tc0 = f.mTempComp[0], tc1 = f.mTempComp[1], tc2 = f.mTempComp[2];
  std::string t;
  auto row = [&t](const char* caption, const std::string& value) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%-24s", caption);
    t += buf + value + "\n";
  };
  row("Product", productName + " (type " + std::to_string(id.mPID) + ")");
  char sensorPresent[8];
  std::snprintf(sensorPresent, sizeof sensorPresent, "0x%02X", idSensor);  // as the Identify box shows it
  row("Sensor present", sensorPresent);
  row("Hardware Version", user.mHWText);
  row("Firmware Version", user.mFWText);
  row("Serial Number", user.mSerialText);
  row("Life Remaining", std::to_string(user.mMonths) + " Months " + std::to_string(user.mDays) + " Days (" +
                            std::to_string(uint32_t{cfg.mUnit.mLifeRemaining}) + " s)");
  row("Sensor Type", sensorName + " (" + std::to_string(code) + ")");
  row("High Alarm", OneDecimal(user.mAlarmHigh) + unitName);
  row("Low Alarm", OneDecimal(user.mAlarmLow) + unitName);
  row("Calibration Interval", std::to_string(user.mCalDays) + " Days");
  row("Bump Interval", std::to_string(user.mBumpDays) + " Days");
  row("User ID", user.mUserID);
  row("Self Test Interval", std::to_string(user.mTestHours) + " hours");
  row("Display", kDisplayItems[user.mDispPos]);
  row("Hide bump LED", user.mHideBumpLED ? "yes" : "no");
  row("Hibernate", f.mHibernatePos == 1 ? "Allow suspend" : "-");
  row("Battery Limits", "Critical " + std::to_string(f.mBatCritical) + ", Startup " + std::to_string(f.mBatStartup) +
                            ", ~-10C " + std::to_string(f.mBat1) + ", -10C~ " + std::to_string(f.mBat2));
  row("Alarm Time (sec)", f.mAlarmTimeText);
  row("Alarm Count", f.mAlarmCountText);
  row("Test Time (sec)", f.mTestTimeText);
  row("Test Count", f.mTestCountText);
  row("Span Gas", OneDecimal(f.mSpanGas) + unitName);
  row("Sensor Max", OneDecimal(f.mSensorMax) + unitName);
  row("Sensor Base", OneDecimal(f.mSensorBase) + unitName);
  row("Dead Zone", OneDecimal(f.mDeadZone) + unitName);
  row("Temp. Comp.", std::to_string(tc0) + ", " + std::to_string(tc1) + ", " + std::to_string(tc2));
  row("Zero", f.mZeroText);
  row("Span", f.mSpanText);
  row("Minimum Span", f.mMinSpanText);
  row("Tau", f.mTauText);
  row("Last Calibration (sec)", f.mLastCalText);
  row("Peak Timer (sec)", f.mPeakTimerText);
  row("Last Bump Timer (sec)", f.mLastBumpText);
  return t;
}
