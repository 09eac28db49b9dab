#include "app/device/ZeroCheck.h"

#include "app/device/DataLog.h"
#include "link/KVTComms.h"
#include "link/ResultCodes.h"
#include "model/SensorTypes.h"

#include <cmath>
#include <cstdio>

namespace {

std::string UnitOf(uint8_t sensorType) {
  const int i = FindSensorType(sensorType);
  return i < 0 ? std::string() : SensorTypes[static_cast<size_t>(i)].mUnit;
}

std::string WithUnit(double value, int decimals, uint8_t sensorType) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  const std::string unit = UnitOf(sensorType);
  return unit.empty() ? text : std::string(text) + " " + unit;
}

}  // namespace

std::string ReadingWithUnit(const RKVTSensor& reading, uint8_t sensorType) {
  if (reading.mSensor == kOverRange) return "O.L.";
  const int dec = RecordDecimals(reading);
  return WithUnit(SignedReading(reading.mSensor) / std::pow(10.0, dec), dec, sensorType);
}

std::string TenthsWithUnit(long tenths, uint8_t sensorType) { return WithUnit(tenths / 10.0, 1, sensorType); }

RZeroReading JudgeZeroReading(const RKVTSensor& reading, const RKVTSensorCFG& sensor) {
  RZeroReading r;
  r.mRead = true;
  r.mText = ReadingWithUnit(reading, sensor.mSensorType);
  if (reading.mSensor == kOverRange) {
    r.mInGas = true;
    r.mValue = HUGE_VAL;
    return r;
  }
  r.mValue = SignedReading(reading.mSensor) / std::pow(10.0, RecordDecimals(reading));
  // Compared in the reading's own resolution, so 1.50 against a dead zone of 1.5 is not above.
  r.mInGas = std::lround(r.mValue * 1000) > static_cast<long>(sensor.mDeadZone) * 100;
  return r;
}

RZeroReading ReadZeroReading(TComKVT& link, const RKVTSensorCFG& sensor) {
  RKVTSensor reading{};
  if (link.RequireSensor(reading, 0) != LINK_OK) return {};
  return JudgeZeroReading(reading, sensor);
}

bool ZeroMayProceed(Operator& op, const RZeroReading& r, const RKVTSensorCFG& sensor) {
  if (!r.mInGas) return true;
  return op.ask("Zero in Gas?",
                "The detector reads " + r.mText + ", more than its dead zone of " +
                    TenthsWithUnit(sensor.mDeadZone, sensor.mSensorType) +
                    " above zero.\rA zero now takes that gas as zero: the detector would read that much low in "
                    "every later exposure.\rZero only in clean air. Zero now anyway?");
}

std::string ZeroRefusedText(const RZeroReading& r) { return "Zero refused: the detector reads " + r.mText + " (gas?)"; }
