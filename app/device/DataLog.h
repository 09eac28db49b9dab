// The data log of the logging dialog: how one set of readings is shown and written, and the
// CSV file with its header and rows.
#pragma once

#include "model/Records.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// The three records of one poll.
struct RReadingSet {
  RKVTSensor mSensor{};
  RKVTSensor mBattery{};
  RKVTSensor mTemperature{};
};

// What the dialog shows for a set: value and peak (or converter value) of the sensor, the
// battery and the temperature, the history bits 2..7 and the alarm bits 0..4 of the sensor.
struct RReadingTexts {
  std::string mValue[3];
  std::string mPeak[3];
  bool mHistory[6] = {};
  bool mAlarm[5] = {};
};

constexpr uint16_t kOverRange = 0x7FFF;

// value / 10^decimals with exactly that many decimals and the locale's decimal separator.
std::string FormatDecimals(long value, int decimals);
// Bits 0 and 1 of mHistory.
inline int RecordDecimals(const RKVTSensor& r) { return r.mHistory & 3; }
// The sensor word as a signed number (0x8000 and above are negative).
long SignedReading(uint16_t word);
// The chart value of the sensor record (OL is plotted as 0x7FFF over the divisor).
float ChartValue(const RKVTSensor& sensor);

RReadingTexts ReadingTexts(const RReadingSet& set);
// The 15 fields of a data-log row, without the line end. A number whose decimal separator is
// a comma is quoted so the columns stay intact.
std::string DataLogRow(const RReadingSet& set, std::chrono::system_clock::time_point now);

// The header lines (each ending in CR LF) for a detector's unit block.
std::string DataLogHeader(const RKVTUnitCFG& unit);

// The file the log goes to. The header creates (replaces) it; rows are appended only to a
// file that exists. A failure is kept in Error() and told once (Failed() turns true).
class TDataLogFile {
 public:
  explicit TDataLogFile(std::string fileName) : FFileName(std::move(fileName)) {}
  const std::string& FileName() const { return FFileName; }
  bool Enabled() const;  // a name other than blanks was given
  bool WriteHeader(const RKVTUnitCFG& unit);
  bool AppendLine(const std::string& text);
  const std::string& Error() const { return FError; }

 private:
  bool Fail(const std::string& what);
  bool Close(std::FILE* f, bool ok, const char* what);
  std::string FFileName;
  std::string FError;
};

// The proposed data-log name: serial (reduced to letters, digits, '-' and '_') + "_DAT_" +
// YYMMDDHHNNSS + ".CSV".
std::string DataLogFileName(const char* serial10, std::chrono::system_clock::time_point now);
