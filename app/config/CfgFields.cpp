#include "app/config/CfgFields.h"

#include "app/config/CfgView.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

using TText = std::function<std::string(const RKVTCFG&)>;

struct RField {
  const char* mName;
  const char* mLabel;
  size_t mOffset;  // in the 128-byte image
  size_t mSize;
  TText mText;
};

template <class T>
T Get(const RKVTCFG& cfg, size_t offset) {
  T v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(&cfg) + offset, sizeof v);
  return v;
}

std::string UnitOf(const RKVTCFG& cfg) {
  const int pos = FindSensorType(cfg.mSensor.mSensorType);
  return pos >= 0 ? " " + SensorTypes[static_cast<size_t>(pos)].mUnit : "";
}

std::string Tenths(const RKVTCFG& cfg, uint16_t tenths) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u.%u", tenths / 10u, tenths % 10u);
  return buf + UnitOf(cfg);
}

const char* const kDisplayItems[] = {"Sensor/Life Remaining", "Sensor Reading", "Life Remaining"};

#define UNIT(f) offsetof(RKVTCFG, mUnit) + offsetof(RKVTUnitCFG, f), sizeof(RKVTUnitCFG::f)
#define SENSOR(f) offsetof(RKVTCFG, mSensor) + offsetof(RKVTSensorCFG, f), sizeof(RKVTSensorCFG::f)

template <class T>
TText Number(size_t offset) {
  return [offset](const RKVTCFG& c) { return std::to_string(Get<T>(c, offset)); };
}
#define UNUM(f) UNIT(f), Number<decltype(RKVTUnitCFG::f)>(offsetof(RKVTCFG, mUnit) + offsetof(RKVTUnitCFG, f))
#define SNUM(f) SENSOR(f), Number<decltype(RKVTSensorCFG::f)>(offsetof(RKVTCFG, mSensor) + offsetof(RKVTSensorCFG, f))

const std::vector<RField>& Fields() {
  static const std::vector<RField> fields = {
      {"mUnitFlag", "Display", UNIT(mUnitFlag),
       [](const RKVTCFG& c) {
         std::string t = kDisplayItems[DispPosFromUnitFlag(c.mUnit.mUnitFlag)];
         return (c.mUnit.mUnitFlag & 0x02) ? t + ", bump LED hidden" : t;
       }},
      {"mUserID", "User ID", UNIT(mUserID), [](const RKVTCFG& c) { return UserIDText(c.mUnit.mUserID); }},
      {"mTestInterval", "Self Test Interval", UNIT(mTestInterval),
       [](const RKVTCFG& c) { return std::to_string(c.mUnit.mTestInterval) + " hours"; }},
      {"mAllowSuspend", "Hibernate", UNIT(mAllowSuspend),
       [](const RKVTCFG& c) { return std::string(c.mUnit.mAllowSuspend == 0x80 ? "Allow suspend" : "-"); }},
      {"mSerial", "Serial Number", UNIT(mSerial), [](const RKVTCFG& c) { return SerialText(c.mUnit.mSerial); }},
      {"mBatLimit", "Battery Limits", UNIT(mBatLimit),
       [](const RKVTCFG& c) {
         const auto* p = reinterpret_cast<const uint8_t*>(&c) + offsetof(RKVTUnitCFG, mBatLimit);
         uint16_t v[2];
         std::memcpy(v, p, sizeof v);
         return "~-10C " + std::to_string(v[0]) + ", -10C~ " + std::to_string(v[1]);
       }},
      {"mBatLimitStartUp", "Battery Startup", UNUM(mBatLimitStartUp)},
      {"mBatLimitCritical", "Battery Critical", UNUM(mBatLimitCritical)},
      {"mHWVersion", "Hardware Version", UNIT(mHWVersion),
       [](const RKVTCFG& c) { return HWVersionText(c.mUnit.mHWVersion); }},
      {"mFWVersion", "Firmware Version", UNIT(mFWVersion),
       [](const RKVTCFG& c) { return FWVersionText(c.mUnit.mFWVersion); }},
      {"mLifeRemaining", "Life Remaining", UNIT(mLifeRemaining),
       [](const RKVTCFG& c) {
         const RUserFields u = UserFieldsFromCFG(c, -1);
         return std::to_string(u.mMonths) + " Months " + std::to_string(u.mDays) + " Days";
       }},
      {"mAlarmTime", "Alarm Time (sec)", UNUM(mAlarmTime)},
      {"mTestTime", "Test Time (sec)", UNUM(mTestTime)},
      {"mAlarmCount", "Alarm Count", UNUM(mAlarmCount)},
      {"mTestCount", "Test Count", UNUM(mTestCount)},
      {"mPEventLog", "Event Log Pointer", UNUM(mPEventLog)},
      {"mAlarmHigh", "High Alarm", SENSOR(mAlarmHigh), [](const RKVTCFG& c) { return Tenths(c, c.mSensor.mAlarmHigh); }},
      {"mAlarmLow", "Low Alarm", SENSOR(mAlarmLow), [](const RKVTCFG& c) { return Tenths(c, c.mSensor.mAlarmLow); }},
      {"mCalInterval", "Calibration Interval", SENSOR(mCalInterval),
       [](const RKVTCFG& c) { return std::to_string(CalDaysFromSeconds(c.mSensor.mCalInterval)) + " Days"; }},
      {"mBumpInterval", "Bump Interval", SENSOR(mBumpInterval),
       [](const RKVTCFG& c) { return std::to_string(c.mSensor.mBumpInterval) + " Days"; }},
      {"mSensorType", "Sensor Type", SENSOR(mSensorType),
       [](const RKVTCFG& c) {
         const int pos = FindSensorType(c.mSensor.mSensorType);
         const std::string code = "(" + std::to_string(c.mSensor.mSensorType) + ")";
         return pos >= 0 ? SensorTypes[static_cast<size_t>(pos)].mName + " " + code : code;
       }},
      {"mDeadZone", "Dead Zone", SENSOR(mDeadZone), [](const RKVTCFG& c) { return Tenths(c, c.mSensor.mDeadZone); }},
      {"mSpanGas", "Span Gas", SENSOR(mSpanGas), [](const RKVTCFG& c) { return Tenths(c, c.mSensor.mSpanGas); }},
      {"mSensorMax", "Sensor Max", SENSOR(mSensorMax), [](const RKVTCFG& c) { return Tenths(c, c.mSensor.mSensorMax); }},
      {"mSensorBase", "Sensor Base", SENSOR(mSensorBase),
       [](const RKVTCFG& c) { return Tenths(c, c.mSensor.mSensorBase); }},
      {"mTempCompSpan", "Temp. Comp.", SENSOR(mTempCompSpan),
       [](const RKVTCFG& c) {
         int32_t v[3];
         std::memcpy(v, reinterpret_cast<const uint8_t*>(&c.mSensor) + offsetof(RKVTSensorCFG, mTempCompSpan), sizeof v);
         return std::to_string(v[0]) + ", " + std::to_string(v[1]) + ", " + std::to_string(v[2]);
       }},
      {"mZero", "Zero", SNUM(mZero)},
      {"mSpan", "Span", SENSOR(mSpan), [](const RKVTCFG& c) { return ThousandthsText(c.mSensor.mSpan); }},
      {"mTau", "Tau", SNUM(mTau)},
      {"mLastCal", "Last Calibration (sec)", SENSOR(mLastCal),
       [](const RKVTCFG& c) { return TimerText(c.mSensor.mLastCal); }},
      {"mPeakTimer", "Peak Timer (sec)", SENSOR(mPeakTimer),
       [](const RKVTCFG& c) { return TimerText(c.mSensor.mPeakTimer); }},
      {"mMinSpan", "Minimum Span", SENSOR(mMinSpan), [](const RKVTCFG& c) { return ThousandthsText(c.mSensor.mMinSpan); }},
      {"mLastBump", "Last Bump Timer (sec)", SENSOR(mLastBump),
       [](const RKVTCFG& c) { return TimerText(c.mSensor.mLastBump); }},
  };
  return fields;
}

std::string RawNumber(const RKVTCFG& cfg, const RField& f) {
  uint64_t v = 0;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(&cfg) + f.mOffset, std::min<size_t>(f.mSize, sizeof v));
  return std::to_string(v);
}

}  // namespace

std::vector<RFieldChange> DiffCFG(const RKVTCFG& from, const RKVTCFG& to) {
  std::vector<RFieldChange> changes;
  const auto* a = reinterpret_cast<const uint8_t*>(&from);
  const auto* b = reinterpret_cast<const uint8_t*>(&to);
  for (const RField& f : Fields()) {
    if (std::memcmp(a + f.mOffset, b + f.mOffset, f.mSize) == 0) continue;
    RFieldChange c{f.mName, f.mLabel, f.mText(from), f.mText(to)};
    if (c.mFrom == c.mTo && f.mSize <= 8) {
      c.mFrom += " (" + RawNumber(from, f) + ")";
      c.mTo += " (" + RawNumber(to, f) + ")";
    }
    changes.push_back(std::move(c));
  }
  return changes;
}

std::string ChangeLines(const std::vector<RFieldChange>& changes) {
  std::string t;
  for (const RFieldChange& c : changes) t += c.mName + ": " + c.mFrom + " -> " + c.mTo + "\n";
  return t;
}

std::string ChangedNames(const std::vector<RFieldChange>& changes) {
  std::string t;
  for (const RFieldChange& c : changes) t += (t.empty() ? "" : " ") + c.mName;
  return t;
}

std::vector<bool> WrittenMask(bool lifeToo) {
  std::vector<bool> mask(sizeof(RKVTCFG), false);
  const struct {
    uint16_t start, size;
  } ranges[] = {{DeviceCFG.mUnitWriteFactoryStart, DeviceCFG.mUnitWriteFactorySize},
                {DeviceCFG.mUnitWriteUserStart, DeviceCFG.mUnitWriteUserSize},
                {DeviceCFG.mSensorWriteFactoryStart, DeviceCFG.mSensorWriteFactorySize},
                {DeviceCFG.mSensorWriteUserStart, DeviceCFG.mSensorWriteUserSize}};
  for (const auto& r : ranges)
    for (size_t i = r.start; r.start > 0 && i < size_t{r.start} + r.size && i <= mask.size(); ++i) mask[i - 1] = true;
  if (lifeToo)
    for (size_t i = 0; i < sizeof(uint32_t); ++i) mask[offsetof(RKVTUnitCFG, mLifeRemaining) + i] = true;
  return mask;
}

RKVTCFG AfterWrite(const RKVTCFG& detector, const RKVTCFG& written, bool lifeToo) {
  RKVTCFG out = detector;
  RComKVTReadBuf image{};
  CFGToSendBuf(written, image);
  auto* bytes = reinterpret_cast<uint8_t*>(&out);
  const std::vector<bool> mask = WrittenMask(lifeToo);
  for (size_t i = 0; i < mask.size(); ++i)
    if (mask[i]) bytes[i] = image.mBuf[i];
  if (lifeToo) out.mUnit.mLifeRemaining = written.mUnit.mLifeRemaining;
  FillBlockCRCs(out);
  return out;
}

std::optional<RWriteRefusal> RefuseForDevice(const RKVTCFG& cfg, bool factoryView) {
  const RKVTSensorCFG& s = cfg.mSensor;
  const int pos = FindSensorType(s.mSensorType);
  // The type's range is what the alarm boxes allow; the factory view also writes the
  // detector's own maximum, which may be narrower.
  long maxTenths = -1;
  std::string maxName;
  if (pos >= 0) {
    maxTenths = std::lround(SensorTypes[static_cast<size_t>(pos)].mMax * 10.0);
    maxName = SensorTypes[static_cast<size_t>(pos)].mName + " sensor maximum";
  }
  if (factoryView && s.mSensorMax > 0 && (maxTenths < 0 || s.mSensorMax < maxTenths)) {
    maxTenths = s.mSensorMax;
    maxName = "Sensor Max";
  }
  const auto value = [&](uint16_t tenths) { return Tenths(cfg, tenths); };
  const auto refuse = [](const std::string& field, const std::string& why) {
    return RWriteRefusal{field, why + "\rNothing was written to the detector."};
  };
  if (s.mAlarmLow >= s.mAlarmHigh)
    return refuse("Low Alarm", "Low Alarm " + value(s.mAlarmLow) + " is not below High Alarm " +
                                   value(s.mAlarmHigh) + ".");
  if (maxTenths >= 0) {
    const std::string max = value(static_cast<uint16_t>(maxTenths));
    if (s.mAlarmHigh > maxTenths)
      return refuse("High Alarm", "High Alarm " + value(s.mAlarmHigh) + " is above the " + maxName + " " + max + ".");
    if (s.mAlarmLow > maxTenths)
      return refuse("Low Alarm", "Low Alarm " + value(s.mAlarmLow) + " is above the " + maxName + " " + max + ".");
    if (factoryView && s.mSpanGas > maxTenths)
      return refuse("Span Gas", "Span Gas " + value(s.mSpanGas) + " is above the " + maxName + " " + max + ".");
  }
  return std::nullopt;
}

namespace {
std::string Fixed(double value, int decimals) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, value);
  return b;
}
}  // namespace

std::string RangeText(const RShownNumber& n) {
  return Fixed(n.mMin, n.mDecimals) + " to " + Fixed(n.mMax, n.mDecimals) + (n.mUnit.empty() ? "" : " " + n.mUnit);
}

std::optional<RWriteRefusal> RefuseOutOfRange(const std::vector<RShownNumber>& numbers, const std::string& what) {
  std::string lines, first;
  for (const RShownNumber& n : numbers) {
    // Compared as shown: 100.04 typed in a box of one decimal is the 100.0 it reads as.
    const double shown = std::round(n.mValue * std::pow(10.0, n.mDecimals)) / std::pow(10.0, n.mDecimals);
    if (shown >= n.mMin - 1e-9 && shown <= n.mMax + 1e-9) continue;
    if (first.empty()) first = n.mLabel;
    lines += n.mLabel + " " + Fixed(shown, n.mDecimals) + " is outside its range, " + RangeText(n) + ".\r";
  }
  if (first.empty()) return std::nullopt;
  return RWriteRefusal{first, lines + "Correct the marked field; nothing was written to " + what + "."};
}
