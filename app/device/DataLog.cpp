#include "app/device/DataLog.h"

#include "app/config/CfgView.h"
#include "model/CsvText.h"
#include "model/SensorTypes.h"
#include "model/TimeText.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const char* kRowTrue = "YES";


long Divisor(int decimals) {
  long d = 1;
  for (int i = 0; i < decimals; ++i) d *= 10;
  return d;
}


std::string Bit(uint8_t bits, int n, const char* yes) { return (bits >> n) & 1 ? yes : ""; }

}  // namespace

std::string FormatDecimals(long value, int decimals) {
  const long div = Divisor(decimals);
  const unsigned long mag = value < 0 ? static_cast<unsigned long>(-value) : static_cast<unsigned long>(value);
  std::string text = (value < 0 ? "-" : "") + std::to_string(mag / static_cast<unsigned long>(div));
  if (decimals > 0) {
    std::string frac = std::to_string(mag % static_cast<unsigned long>(div));
    frac.insert(0, static_cast<size_t>(decimals) - std::min(frac.size(), static_cast<size_t>(decimals)), '0');
    text += CsvDecimalPoint() + frac;
  }
  return text;
}

long SignedReading(uint16_t word) { return word >= 0x8000 ? -static_cast<long>(0x10000 - word) : word; }

float ChartValue(const RKVTSensor& sensor) {
  const long div = Divisor(RecordDecimals(sensor));
  const long v = sensor.mSensor == kOverRange ? kOverRange : SignedReading(sensor.mSensor);
  return static_cast<float>(static_cast<double>(v) / static_cast<double>(div));
}

RReadingTexts ReadingTexts(const RReadingSet& set) {
  RReadingTexts t;
  const int dec = RecordDecimals(set.mSensor);
  t.mValue[0] = set.mSensor.mSensor == kOverRange ? "OL" : FormatDecimals(SignedReading(set.mSensor.mSensor), dec);
  t.mPeak[0] = FormatDecimals(set.mSensor.mPeak, dec);
  const RKVTSensor* others[2] = {&set.mBattery, &set.mTemperature};
  for (int i = 0; i < 2; ++i) {
    t.mValue[i + 1] = FormatDecimals(others[i]->mSensor, RecordDecimals(*others[i]));
    t.mPeak[i + 1] = std::to_string(others[i]->mPeak);
  }
  for (int i = 0; i < 6; ++i) t.mHistory[i] = (set.mSensor.mHistory >> (i + 2)) & 1;
  for (int i = 0; i < 5; ++i) t.mAlarm[i] = (set.mSensor.mAlarm >> i) & 1;
  return t;
}

std::string DataLogRow(const RReadingSet& set, std::chrono::system_clock::time_point now) {
  const std::tm tm = LocalTm(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d-%02d %02d:%02d:%02d:%03d", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  const RReadingTexts t = ReadingTexts(set);
  const uint8_t h = set.mSensor.mHistory;
  std::string row = stamp;
  row += "," + CsvNumber(t.mValue[0]) + "," + CsvNumber(t.mPeak[0]);
  for (int bit = 2; bit <= 7; ++bit) row += "," + Bit(h, bit, kRowTrue);
  row += "," + Bit(set.mSensor.mAlarm, 2, "LOW") + "," + Bit(set.mSensor.mAlarm, 3, "HIGH");
  row += "," + CsvNumber(t.mValue[1]) + "," + t.mPeak[1] + "," + CsvNumber(t.mValue[2]) + "," + t.mPeak[2];
  return row;
}

std::string DataLogHeader(const RKVTUnitCFG& unit) {
  const MonthDay life = LifeToMonthDay(unit.mLifeRemaining);
  const std::string lifeText = life.months > 0
                                   ? std::to_string(life.months) + "months " + std::to_string(life.days) + " days"
                                   : std::to_string(life.days) + " days";
  const char* crlf = "\r\n";
  std::string h;
  h += std::string("Product Name,QRB Vaporlet") + crlf;
  h += std::string("Log Type,Data Log") + crlf;
  h += "Serial Number," + SerialText(unit.mSerial) + crlf;
  h += "Firmware Version," + FWVersionText(unit.mFWVersion) + crlf;
  h += "Life Remaining," + lifeText + crlf;
  h += "Total Number of Events," + std::to_string(unit.mAlarmCount) + crlf;
  h += "Duration of events," + std::to_string(unit.mAlarmTime) + crlf;
  h += "Number of self-tests," + std::to_string(unit.mTestCount) + crlf;
  h += crlf;
  h += std::string("Time,Sensor,Sensor Peak,Self-test failed,Last cal failed,Last bump failed,Calibration due,"
                   "Bump due,Calibration Progress,LOW Alarm,HIGH Alarm,Battery,Battery ADC,Temperature,"
                   "Temperature ADC") +
       crlf;
  return h;
}

bool TDataLogFile::Enabled() const { return FFileName.find_first_not_of(" \t") != std::string::npos; }

bool TDataLogFile::Fail(const std::string& what) {
  FError = what + " " + FFileName + ": " + std::strerror(errno);
  return false;
}

bool TDataLogFile::Close(std::FILE* f, bool ok, const char* what) {
  int errorNumber = errno;
  if (std::fclose(f) != 0 && ok) {
    errorNumber = errno;
    ok = false;
  }
  errno = errorNumber;
  return ok || Fail(what);
}

bool TDataLogFile::WriteHeader(const RKVTUnitCFG& unit) {
  std::FILE* f = std::fopen(FFileName.c_str(), "wb");
  if (!f) return Fail("Cannot create the data log");
  const std::string text = DataLogHeader(unit);
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return Close(f, ok, "Cannot write the data log");
}

bool TDataLogFile::AppendLine(const std::string& text) {
  // Only an existing file: a log deleted during logging is not made again half way.
  std::FILE* f = std::fopen(FFileName.c_str(), "r+b");
  if (!f) return Fail("Cannot write the data log");
  const std::string line = text + "\r\n";
  const bool ok = std::fseek(f, 0, SEEK_END) == 0 && std::fwrite(line.data(), 1, line.size(), f) == line.size();
  return Close(f, ok, "Cannot write the data log");
}

std::string DataLogFileName(const char* serial10, std::chrono::system_clock::time_point now) {
  return SerialFileText(SerialText(serial10)) + "_DAT_" + FileTimeStamp(LocalTm(now)) + ".CSV";
}
