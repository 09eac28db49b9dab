#include "model/EventLog.h"

#include "model/CsvText.h"
#include "model/SensorTypes.h"
#include "model/TimeText.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {
constexpr uint32_t kEmptyStart = 0xFFFFFFFFu;
constexpr int16_t kOverRange = 0x7FFF;

}  // namespace

std::string FormatDuration(int32_t seconds) {
  if (seconds <= 0) return "0:00:00";
  char b[32];
  std::snprintf(b, sizeof b, "%d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return b;
}

std::vector<RKVTEvent> EventsFromBuffer(const RComKVTReadBuf& buf, int stride) {
  std::vector<RKVTEvent> events;
  if (stride < 1 || buf.mData <= 0) return events;
  const int n = buf.mData / stride;
  for (int i = 0; i < n; ++i) {
    const long offset = static_cast<long>(i) * stride;
    if (offset + static_cast<long>(sizeof(RKVTEvent)) > kReadBufSize) break;
    RKVTEvent e;
    std::memcpy(&e, buf.mBuf + offset, sizeof e);
    if (e.mStartEvent == kEmptyStart) break;
    events.push_back(e);
  }
  return events;
}

std::vector<RKVTEvent> EventsFromBytes(const std::vector<uint8_t>& log, int stride) {
  std::vector<RKVTEvent> events;
  if (stride < 1) return events;
  const size_t n = log.size() / static_cast<size_t>(stride);
  for (size_t i = 0; i < n; ++i) {
    const size_t offset = i * static_cast<size_t>(stride);
    if (offset + sizeof(RKVTEvent) > log.size()) break;
    RKVTEvent e;
    std::memcpy(&e, log.data() + offset, sizeof e);
    if (e.mStartEvent == kEmptyStart) break;
    events.push_back(e);
  }
  return events;
}

void SortEvents(std::vector<RKVTEvent>& events) {
  for (size_t i = 0; i + 1 < events.size(); ++i)
    for (size_t j = i + 1; j < events.size(); ++j)
      if (events[i].mStartEvent < events[j].mStartEvent) std::swap(events[i], events[j]);
}

std::string FieldText(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

std::string EventLogFileName(const std::string& serial, const std::tm& now) {
  std::string safe = SerialFileText(serial);
  if (safe.empty()) safe = "KVT";
  return safe + "_LOG_" + FileTimeStamp(now) + ".CSV";
}

namespace {

// A detector field inside one line of the file: a control byte (a damaged EEPROM can hold a
// line break) becomes a space, so the field cannot split the header.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

}  // namespace

std::vector<std::string> EventLogHeader(const RKVTUnitCFG& unit) {
  const MonthDay life = LifeToMonthDay(unit.mLifeRemaining);
  const std::string lifeText = life.months > 0 ? std::to_string(life.months) + "months " +
                                                     std::to_string(life.days) + " days"
                                               : std::to_string(life.days) + " days";
  return {"Product Name,QRB Vaporlet",
          "Log Type,Event Log",
          "Serial Number," + SerialFileText(FieldText(unit.mSerial, sizeof unit.mSerial)),
          "Firmware Version," + FWVersionText(unit.mFWVersion),
          "ID," + OneLine(FieldText(unit.mUserID, sizeof unit.mUserID)),
          "Life Remaining," + lifeText,
          "Total Number of Events," + std::to_string(unit.mAlarmCount),
          "Duration of events," + FormatDuration(static_cast<int32_t>(unit.mAlarmTime)),
          "Number of self-tests," + std::to_string(unit.mTestCount),
          "",
          "Event Date,Event Time,BumpTest,Duration(seconds),Sensor Reading,Alarm"};
}

std::string EventLine(const RKVTEvent& event, uint32_t life, std::chrono::system_clock::time_point now,
                      const std::string& decimal) {
  const uint32_t age = event.mStartEvent - life;  // modulo 2^32
  const std::time_t when = std::chrono::system_clock::to_time_t(now) - static_cast<std::time_t>(age);
  const std::tm t = LocalTm(when);
  char date[64];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d,%02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  std::string line = date;
  line += (event.mDurationEvent & 0x8000) ? ",YES," : ",NO,";
  line += FormatDuration(event.mDurationEvent & 0x7FFF) + ",";
  const int16_t reading = event.mSensorReading;
  if (reading == kOverRange) {
    line += "O.L.,";
  } else {
    line += CsvNumber(TenthsText(reading, decimal)) + ",";
  }
  if (event.mAlarmStatusFlag & 0x04) line += "LOW Alarm ";
  if (event.mAlarmStatusFlag & 0x08) line += "HIGH Alarm ";
  return line;
}
