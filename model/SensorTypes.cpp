#include "model/SensorTypes.h"

#include "model/TextHelpers.h"

#include <algorithm>

std::vector<RSensorType> SensorTypes;
bool FactoryMode = false;

std::vector<RSensorType> BuiltInSensorTypes() {
  return {
      {"H2S", 1, "ppm", "SH", 180, 0.0f, 100.0f},
      {"CO", 2, "ppm", "SC", 180, 0.0f, 300.0f},
      {"O2", 4, "%", "SO", 60, 0.0f, 30.0f},
  };
}

void SetBuiltInSensorTypes() { SensorTypes = BuiltInSensorTypes(); }

void ApplySensorRangeRule(RSensorType& type) {
  // The stored single-precision values, compared in double so 0.1 is not rounded to float.
  if (static_cast<double>(type.mMax) - 0.1 > static_cast<double>(type.mMin)) return;
  type.mMin = 0.0f;
  switch (type.mIndex) {
    case 2: type.mMax = 300.0f; break;
    case 4: type.mMax = 30.0f; break;
    default: type.mMax = 100.0f; break;
  }
}

std::string SensorSpecText(const std::string& field) { return PadText(true, 2, 'S', field); }

int FindSensorType(const std::vector<RSensorType>& table, uint8_t code) {
  int found = -1;
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].mIndex == code) found = static_cast<int>(i);
  return found;
}

int FindSensorType(uint8_t code) { return FindSensorType(SensorTypes, code); }

std::string GetProductName(uint8_t code) {
  switch (code) {
    case 0: return "KVT";
    case 1: return "KVT (TS)";
    case 2: return "Nimbrel";
    case 3: return "Nimbrel (TS)";
    case 4: return "Tavocell";
    case 5: return "Tavocell (TS)";
    default: return "---";
  }
}

namespace {
constexpr uint8_t kNotAccepted = 0x92;  // APP_NOTKVT of the result table
}  // namespace

uint8_t CheckProduct(uint8_t code, uint8_t expected, bool factoryMode) {
  if (factoryMode) return (code == 0 || code == 2 || code == 4) ? 0 : kNotAccepted;
  return code == expected ? 0 : kNotAccepted;
}

uint8_t CheckProduct(uint8_t code, uint8_t expected) { return CheckProduct(code, expected, FactoryMode); }

std::string HWVersionText(uint8_t hw) { return PadText(true, 3, '0', std::to_string(hw)); }

std::string FWVersionText(uint8_t fw) { return std::to_string(fw / 10) + "." + std::to_string(fw % 10); }

MonthDay LifeToMonthDay(uint32_t seconds) {
  MonthDay r;
  if (seconds <= kSecondsPerMonth) {
    r.days = seconds <= kSecondsPerDay ? 1 : seconds / kSecondsPerDay + 1;
    return r;
  }
  // Within one day of a whole month counts as that month; 64-bit so 0xFFFFFFFF cannot wrap.
  const uint64_t s = seconds;
  const uint64_t months = std::min<uint64_t>((s + kSecondsPerDay - 1) / kSecondsPerMonth, 24);
  r.months = static_cast<uint32_t>(months);
  const uint64_t whole = months * kSecondsPerMonth;
  if (whole >= s) return r;
  r.days = static_cast<uint32_t>(std::min<uint64_t>((s - whole) / kSecondsPerDay + 1, 30));
  return r;
}
