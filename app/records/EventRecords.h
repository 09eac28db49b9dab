// The detector's event log as sealed records, and the incident report made from them.
//
// Each entry of a downloaded log becomes one record of kind "event" whose origin is derived
// from the detector's serial and the entry's life counter at its start: the store keeps a
// record of an origin once, so a log downloaded twice (or by two stations) is one set of
// entries. The entry's facts are detail lines, each on one line.
#pragma once

#include "app/records/ServiceRecords.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* kEventEntryOperation = "Event Log Entry";
inline constexpr const char* kEventKind = "event";

// What the download knew when it read the log: who the detector is, its wearer, and the life
// counter and time that date the entries.
struct REventDownload {
  std::string mSerial;
  uint8_t mSensorType = 0;
  std::string mProduct, mHardware, mFirmware;
  std::string mUserId;       // the unit's User ID: its wearer or place
  uint32_t mLife = 0;        // life remaining at the download, seconds
  std::time_t mTime = 0;     // the moment of the download, UTC
  std::string mOrigin;       // the origin of the download's own record
  std::string mPort;         // as the download's record names it
  bool mAdapter = false;
};

// The first 32 hexadecimal digits of SHA-256("event:" + serial + ":" + lifeStart).
std::string EventEntryOrigin(const std::string& serial, uint32_t lifeStart);
// A random origin, for a record that others name before it is committed.
std::string NewRecordOrigin();

// One record per entry, in the log's order; entries with an empty serial make none. An entry
// whose start an earlier entry of the same log shares has ":N" (its place among them, from 2)
// added to the text its origin is derived from.
std::vector<RServiceRecord> EventEntryRecords(const std::vector<RKVTEvent>& entries, const REventDownload& download);

// A reading as an entry record keeps it: "12.5 ppm", or "O.L." over range.
std::string EventReadingText(int16_t tenths, const std::string& unit);

// An entry as read back from its record.
struct REventEntry {
  std::string mOrigin, mSerial, mSensor, mUserId, mDownload;
  uint32_t mLifeStart = 0;
  std::optional<std::time_t> mStart;  // none when the counters could not date it
  int mSeconds = 0;
  bool mBump = false, mLow = false, mHigh = false;
  std::string mReading;               // "12.5 ppm" or "O.L."
  bool mOverRange = false;
  double mValue = 0;                  // the reading's number (none over range)
  std::string mUnit;
};
std::optional<REventEntry> EventEntryOf(const RServiceRecord& record);

// A calibration or bump test as the report weighs it: PASS, FAIL, or neither (a run that did
// not end, a link failure): only a measured outcome opens or closes a window of doubt.
enum class TCheckOutcome { Pass, Fail, Other };
TCheckOutcome CheckOutcomeOf(const RServiceRecord& record);

// A local calendar day written YYYY-MM-DD: its first second, or with last its last; none when
// the text is no date.
std::optional<std::time_t> LocalDayTime(const std::string& text, bool last);

struct RIncidentQuery {
  std::string mSerial, mUser;              // empty: every detector, every wearer
  std::optional<std::time_t> mSince, mUntil;  // the events' start, both ends included
  bool mSinceLastPass = false;             // needs mSerial
};

// A detector's calibration or bump test as it stood when an event began.
struct RCheckThen {
  std::optional<std::time_t> mTime;  // the last one before the event; none on record
  bool mPass = false;
  std::optional<std::time_t> mDue;   // when the next was due, from the configuration known then
  bool mOverdue = false;             // the due date had passed when the event began
};

struct RIncident {
  REventEntry mEntry;
  RCheckThen mCal, mBump;
  std::string Level() const { return mEntry.mHigh ? "HIGH" : mEntry.mLow ? "LOW" : "-"; }
  bool Overdue() const { return mCal.mOverdue || mBump.mOverdue; }
  std::string Flags() const;  // CAL OVERDUE, BUMP OVERDUE, both joined by '+', or '-'
};

struct RIncidentTotals {
  std::string mKey;        // the serial or the User ID
  int mEvents = 0;
  int64_t mSeconds = 0;
  int mLongest = 0;
  std::string mHighest;    // as the entry keeps it
  bool mHighestOverRange = false;
  double mHighestValue = 0;
};

struct RIncidentReport {
  std::vector<RIncident> mEvents;                    // newest first
  std::vector<RIncidentTotals> mByDetector, mByWearer;  // by key
  // With --since-last-pass: what bounds the window, in words; and when there is no failed
  // check on record, why nothing is listed.
  std::string mWindow;
  std::string mNoWindow;
  std::optional<std::time_t> mFrom, mTo;  // the window the events were taken from
  bool AnyOverdue() const;
};

// Alarm events (bump tests are no incidents) of records (any order), each entry once.
RIncidentReport IncidentReport(const std::vector<RServiceRecord>& records, const RIncidentQuery& query);

// The lines of the terminal: one per event, a blank line, one totals line per detector.
std::string IncidentText(const RIncidentReport& report);
// SERIAL: N events, H:MM:SS in alarm, longest H:MM:SS, highest VALUE UNIT
std::string IncidentTotalsText(const RIncidentTotals& totals);
// The event table's columns and a row's cells, for the window, the PDF and the CSV.
const std::vector<std::string>& IncidentColumns();
std::vector<std::string> IncidentCells(const RIncident& incident);
// A check then, in words: "2026-01-04 PASS", "none on record"; overdue marked.
std::string CheckThenText(const RCheckThen& check);
// The events, then the totals by detector and by wearer; the first line says whether and where
// the records were verified.
std::string IncidentCSV(const RIncidentReport& report, const std::string& verified);
