// No zero in gas. A zero taken while gas is at the sensor becomes the detector's zero, and the
// detector then reads low by that much in every later exposure. So every zero (the
// calibration's zero step, the factory Calibration button, Zero CAL. while logging) first
// reads the detector and compares the reading with its dead zone: above it, the operator is
// asked with the reading shown, and a No refuses the zero.
#pragma once

#include "app/core/Operator.h"
#include "model/Records.h"

#include <string>

class TComKVT;

struct RZeroReading {
  bool mRead = false;     // a reading was had
  bool mInGas = false;    // above the dead zone (or over range)
  double mValue = 0;      // in the sensor's unit
  std::string mText;      // "6.7 ppm", "O.L."
};

// The reading, value and unit, as the records write it: "6.7 ppm", or "O.L." over range.
std::string ReadingWithUnit(const RKVTSensor& reading, uint8_t sensorType);
// A value in tenths with the sensor's unit: "1.5 ppm".
std::string TenthsWithUnit(long tenths, uint8_t sensorType);

RZeroReading JudgeZeroReading(const RKVTSensor& reading, const RKVTSensorCFG& sensor);
// Reads the gas reading on the open connection and judges it.
RZeroReading ReadZeroReading(TComKVT& link, const RKVTSensorCFG& sensor);

// True when the zero may go ahead: not in gas (or no reading to judge), or the operator said
// Yes to the question that shows the reading.
bool ZeroMayProceed(Operator& op, const RZeroReading& r, const RKVTSensorCFG& sensor);

// The words of a refused zero, for labels and the terminal.
std::string ZeroRefusedText(const RZeroReading& r);
