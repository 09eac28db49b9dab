// Sensor and product types: the program-wide sensor type table and its lookups, the
// product check, and the texts made from version bytes and the life counter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RSensorType {
  std::string mName;   // gas name, also the key of its span gas value in the settings file
  uint8_t mIndex = 0;  // the code detectors use for this sensor
  std::string mUnit;
  std::string mSpec;   // two characters
  uint16_t mCalTime = 0;  // calibration time limit in seconds
  float mMin = 0.0f;   // valid range, in the sensor unit
  float mMax = 0.0f;
};

// Filled once at start-up by the settings loader, read-only afterwards. A row's position is
// the item index of the sensor type lists in the window.
extern std::vector<RSensorType> SensorTypes;

// Set once at start-up: the factory view is active, which also widens CheckProduct.
extern bool FactoryMode;


// H2S, CO and O2: the table used when the settings file lists no sensor types.
std::vector<RSensorType> BuiltInSensorTypes();
void SetBuiltInSensorTypes();  // SensorTypes := BuiltInSensorTypes()

// A row read from the settings file whose maximum is not above its minimum by more than 0.1
// gets the fixed range of its code: 0..300 for 2, 0..30 for 4, otherwise 0..100.
void ApplySensorRangeRule(RSensorType& type);

// The two-character sensor code from its settings field: cut to two characters, padded on
// the left with 'S' ("H" -> "SH", "" -> "SS").
std::string SensorSpecText(const std::string& field);

// Index of the last entry whose mIndex is code; -1 when none (or the table is empty).
int FindSensorType(uint8_t code);
int FindSensorType(const std::vector<RSensorType>& table, uint8_t code);

std::string GetProductName(uint8_t code);  // "---" for unknown codes

// 0 when this system may work with product type code, else 0x92, the result code APP_NOTKVT
// (link/ResultCodes.h; the model sits below the link and cannot name it). Reads
// FactoryMode; the overload takes the mode explicitly.
uint8_t CheckProduct(uint8_t code, uint8_t expected);
uint8_t CheckProduct(uint8_t code, uint8_t expected, bool factoryMode);

std::string HWVersionText(uint8_t hw);  // 5 -> "005"
std::string FWVersionText(uint8_t fw);  // 13 -> "1.3"

constexpr uint32_t kSecondsPerMonth = 2628000;
constexpr uint32_t kSecondsPerDay = 86400;
constexpr uint32_t kMaxLifeSeconds = 63072000;  // 24 months

struct MonthDay {
  uint32_t months = 0;
  uint32_t days = 0;
  bool operator==(const MonthDay&) const = default;
};

// The life-remaining counter for display: at most 24 months and 30 days; with 0 months at
// least 1 day (the day in which the time runs out).
MonthDay LifeToMonthDay(uint32_t seconds);
