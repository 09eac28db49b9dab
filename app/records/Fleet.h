// The fleet: one row per detector the records know, with its calibration and bump due dates
// and how urgent it is. A pure function over events with set times ("now" is a parameter),
// so the window, the terminal, the report and tests all see the same rows.
#pragma once

#include "app/records/ServiceRecords.h"
#include "model/TimeText.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

struct RFleetEvent {
  std::string mSerial;
  std::string mSensor;
  std::string mKind;    // "calibration", "bump"; anything else only carries a configuration
  std::time_t mTime = 0;  // UTC
  bool mPass = false;
  std::vector<uint8_t> mCfgImage;  // the configuration as last read or written; may be empty
  bool mHand = false;   // a bump verdict given by hand, no reading recorded
};

// Most urgent first.
enum class TFleetStatus { Failed, Overdue, Due, Ok };
const char* FleetStatusText(TFleetStatus status);  // FAILED, OVERDUE, DUE, OK

struct RFleetRow {
  std::string mSerial, mSensor;
  std::optional<std::time_t> mLastCal, mLastBump;  // none: never on record
  bool mCalPass = false, mBumpPass = false;
  bool mBumpHand = false;  // the newest bump is a verdict given by hand
  // none: no due date (an interval of 0, or no configuration known to take it from, or never
  // done with an interval set: then mCalDueNow / mBumpDueNow)
  std::optional<std::time_t> mCalDue, mBumpDue;
  bool mCalNever = false, mBumpNever = false;  // never done, and an interval asks for it
  TFleetStatus mStatus = TFleetStatus::Ok;
};

// dueDays: DUE when a due date falls within this many days of now. A detector never
// calibrated (or bump tested) is DUE unless its configuration sets no interval for that
// kind; FAILED when its newest calibration or bump failed; OVERDUE when a due date passed.
// Sorted by status, then the earliest due date, then serial.
// handResetsDue: whether a bump verdict given by hand starts a new bump interval (the site's
// choice, [BUMP] HandResetsDue); when not, the due date runs from the newest measured bump.
std::vector<RFleetRow> FleetRows(const std::vector<RFleetEvent>& events, std::time_t now, int dueDays,
                                 bool handResetsDue = true);
// [BUMP] HandResetsDue of the settings, 1 unless set to 0.
bool FleetHandResetsDue();

// The rows as the terminal prints them (a header line, then one line a row) and as CSV.
std::string FleetText(const std::vector<RFleetRow>& rows);
// The first line says whether and where the records were verified.
std::string FleetCSV(const std::vector<RFleetRow>& rows, const std::string& verified);
// The cells of a row in column order, with FleetColumns() their headings.
const std::vector<std::string>& FleetColumns();
std::vector<std::string> FleetCells(const RFleetRow& row);

// From today's service records: a calibration passes when its code is 0 and its span step
// was OK, a bump's result is its "bump" detail, and any record's configuration after counts.
std::vector<RFleetEvent> FleetEventsFrom(const std::vector<RServiceRecord>& records);

// The site a fleet report names: [RECORDS] Site of the settings, else the computer's name.
std::string FleetSiteName();
