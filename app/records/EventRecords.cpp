#include "app/records/EventRecords.h"

#include "app/records/StationKey.h"
#include "model/CsvText.h"
#include "model/EventLog.h"
#include "model/SensorTypes.h"
#include "model/TimeText.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

namespace {

constexpr std::time_t kDay = 86400;

std::string SensorUnit(uint8_t sensorType) {
  const int at = FindSensorType(sensorType);
  return at >= 0 ? SensorTypes[static_cast<size_t>(at)].mUnit : "";
}

std::optional<int64_t> Number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || !end || *end) return std::nullopt;
  return n;
}

// What a detector's records say of its checks and configuration, oldest first.
struct TCheck {
  std::time_t mTime = 0;
  std::string mKind;  // calibration, bump
  TCheckOutcome mOutcome = TCheckOutcome::Other;
  std::string mNumber;
};
struct TConfigKnown {
  std::time_t mTime = 0;
  uint32_t mCalSeconds = 0;
  uint16_t mBumpDays = 0;
};
struct TDetector {
  std::vector<TCheck> mChecks;
  std::vector<TConfigKnown> mConfigs;
};

std::string LocalText(std::time_t t) { return LocalTimeText(t); }

RCheckThen CheckThen(const TDetector& d, const std::string& kind, std::time_t at) {
  RCheckThen then;
  std::optional<std::time_t> lastPass;
  for (const TCheck& c : d.mChecks) {
    if (c.mKind != kind || c.mTime > at || c.mOutcome == TCheckOutcome::Other) continue;
    then.mTime = c.mTime;
    then.mPass = c.mOutcome == TCheckOutcome::Pass;
    if (then.mPass) lastPass = c.mTime;
  }
  // The intervals the detector held then; a detector read only later is judged by what it held first.
  const TConfigKnown* cfg = nullptr;
  for (const TConfigKnown& c : d.mConfigs)
    if (c.mTime <= at || !cfg) cfg = &c;
  if (!lastPass || !cfg) return then;
  const std::time_t interval =
      kind == "calibration" ? static_cast<std::time_t>(cfg->mCalSeconds) : static_cast<std::time_t>(cfg->mBumpDays) * kDay;
  if (interval <= 0) return then;
  then.mDue = *lastPass + interval;
  then.mOverdue = *then.mDue < at;
  return then;
}

void Add(std::map<std::string, RIncidentTotals>& totals, const std::string& key, const REventEntry& e) {
  RIncidentTotals& t = totals[key];
  t.mKey = key;
  ++t.mEvents;
  t.mSeconds += e.mSeconds;
  t.mLongest = std::max(t.mLongest, e.mSeconds);
  const bool higher = t.mHighest.empty() || (e.mOverRange && !t.mHighestOverRange) ||
                      (!e.mOverRange && !t.mHighestOverRange && e.mValue > t.mHighestValue);
  if (higher) {
    t.mHighest = e.mReading;
    t.mHighestOverRange = e.mOverRange;
    t.mHighestValue = e.mValue;
  }
}

std::vector<RIncidentTotals> Values(const std::map<std::string, RIncidentTotals>& totals) {
  std::vector<RIncidentTotals> out;
  for (const auto& [key, t] : totals) out.push_back(t);
  return out;
}

std::string RecordNo(const RServiceRecord& r) {
  return r.Sealed() ? r.mStation + "-" + std::to_string(r.mSeq) : "earlier";
}

}  // namespace

std::string EventEntryOrigin(const std::string& serial, uint32_t lifeStart) {
  return Sha256Hex("event:" + serial + ":" + std::to_string(lifeStart)).substr(0, 32);
}

// The kernel's generator: an origin needs no cryptographic library opened for it.
std::string NewRecordOrigin() {
  uint8_t b[16];
  for (size_t done = 0; done < sizeof b;) {
    const ssize_t n = ::getrandom(b + done, sizeof b - done, 0);
    if (n > 0)
      done += static_cast<size_t>(n);
    else if (errno != EINTR)
      throw ERecordStore("no random numbers");
  }
  return HexOf(b, sizeof b);
}

std::string EventReadingText(int16_t tenths, const std::string& unit) {
  if (tenths == 0x7FFF) return "O.L.";
  const int v = tenths;
  char text[32];
  std::snprintf(text, sizeof text, "%s%d.%d", v < 0 ? "-" : "", std::abs(v) / 10, std::abs(v) % 10);
  return unit.empty() ? std::string(text) : std::string(text) + " " + unit;
}

std::vector<RServiceRecord> EventEntryRecords(const std::vector<RKVTEvent>& entries, const REventDownload& d) {
  std::vector<RServiceRecord> out;
  if (d.mSerial.empty()) return out;
  const std::string unit = SensorUnit(d.mSensorType);
  const std::string basis = "download at " + UtcIsoText(d.mTime) + ", life remaining then " + std::to_string(d.mLife) + " s";
  const std::string user = OneLine(d.mUserId, kMostFactChars);
  std::map<uint32_t, int> seen;
  for (const RKVTEvent& e : entries) {
    RServiceRecord r;
    // Two entries of one log may share a start; each is kept, the later ones by their place
    // among those (the log keeps their order), so that every download names them alike.
    const uint32_t lifeStart = e.mStartEvent;  // a copy: the entry is packed, a reference to it is unaligned
    const int repeat = seen[lifeStart]++;
    r.mOrigin = EventEntryOrigin(d.mSerial, lifeStart);
    if (repeat > 0) r.mOrigin = Sha256Hex("event:" + d.mSerial + ":" + std::to_string(lifeStart) + ":" +
                                          std::to_string(repeat + 1)).substr(0, 32);
    r.mTime = UtcIsoText(d.mTime);
    r.mSerial = d.mSerial;
    r.mSensorType = SensorTypeText(d.mSensorType);
    r.mProduct = d.mProduct, r.mHardware = d.mHardware, r.mFirmware = d.mFirmware;
    r.mKind = kEventKind;
    r.mOperation = kEventEntryOperation;
    r.mPort = d.mPort;
    r.mAdapter = d.mAdapter;
    const bool bump = (e.mDurationEvent & 0x8000) != 0;
    const bool low = (e.mAlarmStatusFlag & 0x04) != 0, high = (e.mAlarmStatusFlag & 0x08) != 0;
    r.mResult = bump ? "BUMP TEST" : high ? "HIGH ALARM" : low ? "LOW ALARM" : "EVENT";
    // The counter runs down: an entry that began with less life left than the download saw
    // cannot be dated from it.
    const std::string start =
        e.mStartEvent >= d.mLife ? UtcIsoText(d.mTime - static_cast<std::time_t>(e.mStartEvent - d.mLife)) : "unknown";
    r.mDetails = "life_start=" + std::to_string(e.mStartEvent) + "\n" + "start=" + start + "\n" +
                 "start_basis=" + basis + "\n" + "duration_s=" + std::to_string(e.mDurationEvent & 0x7FFF) + "\n" +
                 "bump=" + (bump ? "1" : "0") + "\n" + "low=" + (low ? "1" : "0") + "\n" + "high=" + (high ? "1" : "0") +
                 "\n" + "reading=" + EventReadingText(e.mSensorReading, unit) + "\n" + "user_id=" + user + "\n" +
                 "download=" + d.mOrigin + "\n";
    out.push_back(std::move(r));
  }
  return out;
}

std::optional<REventEntry> EventEntryOf(const RServiceRecord& r) {
  if (r.mKind != kEventKind) return std::nullopt;
  const std::optional<int64_t> life = Number(r.Detail("life_start"));
  const std::optional<int64_t> seconds = Number(r.Detail("duration_s"));
  if (!life || *life < 0 || *life > UINT32_MAX || !seconds || *seconds < 0) return std::nullopt;
  REventEntry e;
  e.mOrigin = r.mOrigin;
  e.mSerial = r.mSerial;
  e.mSensor = r.mSensorType;
  e.mUserId = r.Detail("user_id");
  e.mDownload = r.Detail("download");
  e.mLifeStart = static_cast<uint32_t>(*life);
  e.mStart = UtcTimeOf(r.Detail("start"));
  e.mSeconds = static_cast<int>(*seconds);
  e.mBump = r.Detail("bump") == "1";
  e.mLow = r.Detail("low") == "1";
  e.mHigh = r.Detail("high") == "1";
  e.mReading = r.Detail("reading");
  e.mOverRange = e.mReading == "O.L.";
  if (!e.mOverRange) {
    const size_t blank = e.mReading.find(' ');
    e.mValue = std::strtod(e.mReading.substr(0, blank).c_str(), nullptr);
    if (blank != std::string::npos) e.mUnit = e.mReading.substr(blank + 1);
  }
  return e;
}

TCheckOutcome CheckOutcomeOf(const RServiceRecord& r) {
  // Earlier bump records kept their verdict in the details.
  const std::string result = !r.mResult.empty() ? r.mResult : r.mKind == "bump" ? r.Detail("bump") : "";
  if (result == "PASS") return TCheckOutcome::Pass;
  if (result == "FAIL") return TCheckOutcome::Fail;
  return TCheckOutcome::Other;
}

std::optional<std::time_t> LocalDayTime(const std::string& text, bool last) {
  if (!ValidDateText(text)) return std::nullopt;
  std::tm t{};
  t.tm_year = std::atoi(text.substr(0, 4).c_str()) - 1900;
  t.tm_mon = std::atoi(text.substr(5, 2).c_str()) - 1;
  t.tm_mday = std::atoi(text.substr(8, 2).c_str()) + (last ? 1 : 0);
  t.tm_isdst = -1;
  const std::time_t at = std::mktime(&t);
  if (at == static_cast<std::time_t>(-1)) return std::nullopt;
  return last ? at - 1 : at;
}

std::string RIncident::Flags() const {
  if (mCal.mOverdue && mBump.mOverdue) return "CAL OVERDUE+BUMP OVERDUE";
  if (mCal.mOverdue) return "CAL OVERDUE";
  if (mBump.mOverdue) return "BUMP OVERDUE";
  return "-";
}

bool RIncidentReport::AnyOverdue() const {
  return std::any_of(mEvents.begin(), mEvents.end(), [](const RIncident& i) { return i.Overdue(); });
}

RIncidentReport IncidentReport(const std::vector<RServiceRecord>& records, const RIncidentQuery& q) {
  RIncidentReport report;
  std::unordered_map<std::string, TDetector> detectors;
  std::vector<REventEntry> entries;
  std::set<std::string> seen;
  for (const RServiceRecord& r : records) {
    if (r.mSerial.empty()) continue;
    if (r.mKind == kEventKind) {
      std::optional<REventEntry> e = EventEntryOf(r);
      // Two stations that downloaded the same log hold the same entry: it is one event.
      if (e && seen.insert(e->mOrigin).second) entries.push_back(std::move(*e));
      continue;
    }
    const std::optional<std::time_t> t = UtcTimeOf(r.mTime);
    if (!t) continue;
    TDetector& d = detectors[r.mSerial];
    if (r.mKind == "calibration" || r.mKind == "bump") d.mChecks.push_back({*t, r.mKind, CheckOutcomeOf(r), RecordNo(r)});
    if (r.mCfgAfter.size() == sizeof(RKVTCFG)) {
      RKVTCFG cfg;
      std::memcpy(&cfg, r.mCfgAfter.data(), sizeof cfg);
      d.mConfigs.push_back({*t, cfg.mSensor.mCalInterval, cfg.mSensor.mBumpInterval});
    }
  }
  for (auto& [serial, d] : detectors) {
    std::stable_sort(d.mChecks.begin(), d.mChecks.end(), [](const TCheck& a, const TCheck& b) { return a.mTime < b.mTime; });
    std::stable_sort(d.mConfigs.begin(), d.mConfigs.end(),
                     [](const TConfigKnown& a, const TConfigKnown& b) { return a.mTime < b.mTime; });
  }

  std::optional<std::time_t> from = q.mSince, to = q.mUntil;
  if (q.mSinceLastPass) {
    const TDetector& d = detectors[q.mSerial];
    const TCheck* failed = nullptr;
    for (const TCheck& c : d.mChecks)
      if (c.mOutcome == TCheckOutcome::Fail) failed = &c;
    if (!failed) {
      report.mNoWindow = q.mSerial + " has no failed calibration or bump test on record";
      return report;
    }
    const TCheck* passed = nullptr;
    for (const TCheck& c : d.mChecks)
      if (&c != failed && c.mTime <= failed->mTime && c.mOutcome == TCheckOutcome::Pass) passed = &c;
    report.mWindow = "from " +
                     (passed ? "the passed " + passed->mKind + " of " + LocalText(passed->mTime) + " (record " +
                                   passed->mNumber + ")"
                             : std::string("the first record (no passed calibration or bump test before the failure)")) +
                     " to the failed " + failed->mKind + " of " + LocalText(failed->mTime) + " (record " +
                     failed->mNumber + ")";
    if (passed && (!from || *from < passed->mTime)) from = passed->mTime;
    if (!to || *to > failed->mTime) to = failed->mTime;
  }
  report.mFrom = from, report.mTo = to;

  std::map<std::string, RIncidentTotals> bySerial, byUser;
  for (REventEntry& e : entries) {
    if (e.mBump) continue;  // a bump test is the detector's own check, not an exposure
    if (!q.mSerial.empty() && e.mSerial != q.mSerial) continue;
    if (!q.mUser.empty() && e.mUserId != q.mUser) continue;
    if ((from || to) && !e.mStart) continue;
    if (from && *e.mStart < *from) continue;
    if (to && *e.mStart > *to) continue;
    RIncident i;
    i.mEntry = std::move(e);
    const auto d = detectors.find(i.mEntry.mSerial);
    if (d != detectors.end() && i.mEntry.mStart) {
      i.mCal = CheckThen(d->second, "calibration", *i.mEntry.mStart);
      i.mBump = CheckThen(d->second, "bump", *i.mEntry.mStart);
    }
    report.mEvents.push_back(std::move(i));
  }
  std::stable_sort(report.mEvents.begin(), report.mEvents.end(), [](const RIncident& a, const RIncident& b) {
    const std::time_t ta = a.mEntry.mStart.value_or(0), tb = b.mEntry.mStart.value_or(0);
    return ta != tb ? ta > tb : a.mEntry.mSerial < b.mEntry.mSerial;
  });
  for (const RIncident& i : report.mEvents) {
    Add(bySerial, i.mEntry.mSerial, i.mEntry);
    Add(byUser, i.mEntry.mUserId.empty() ? "-" : i.mEntry.mUserId, i.mEntry);
  }
  report.mByDetector = Values(bySerial);
  report.mByWearer = Values(byUser);
  return report;
}

std::string IncidentTotalsText(const RIncidentTotals& t) {
  return t.mKey + ": " + std::to_string(t.mEvents) + " events, " + FormatDuration(static_cast<int32_t>(t.mSeconds)) +
         " in alarm, longest " + FormatDuration(t.mLongest) + ", highest " + t.mHighest;
}

std::string IncidentText(const RIncidentReport& report) {
  std::string out;
  for (const RIncident& i : report.mEvents) {
    const REventEntry& e = i.mEntry;
    out += (e.mStart ? LocalTimeText(*e.mStart) : std::string("undated")) + "  " + e.mSerial + "  " + e.mSensor +
           "  " + (e.mUserId.empty() ? "-" : e.mUserId) + "  " + FormatDuration(e.mSeconds) + "  " + e.mReading + "  " +
           i.Level() + "  " + i.Flags() + "\n";
  }
  out += "\n";
  for (const RIncidentTotals& t : report.mByDetector) out += IncidentTotalsText(t) + "\n";
  return out;
}

const std::vector<std::string>& IncidentColumns() {
  static const std::vector<std::string> columns = {"Start",    "Detector",         "Sensor",    "User ID",
                                                   "Duration", "Peak",             "Level",     "Last calibration",
                                                   "Last bump", "Overdue then"};
  return columns;
}

std::string CheckThenText(const RCheckThen& c) {
  if (!c.mTime) return "none on record";
  return LocalDateText(*c.mTime) + (c.mPass ? " PASS" : " FAIL") + (c.mOverdue ? " OVERDUE" : "");
}

std::vector<std::string> IncidentCells(const RIncident& i) {
  const REventEntry& e = i.mEntry;
  return {e.mStart ? LocalTimeText(*e.mStart) : "undated",
          e.mSerial,
          e.mSensor,
          e.mUserId.empty() ? "-" : e.mUserId,
          FormatDuration(e.mSeconds),
          e.mReading,
          i.Level(),
          CheckThenText(i.mCal),
          CheckThenText(i.mBump),
          i.Flags()};
}

std::string IncidentCSV(const RIncidentReport& report, const std::string& verified) {
  std::string t = CsvQuoted(verified + "; " + kCsvCellNote) + "\r\n";
  if (!report.mWindow.empty()) t += CsvCell("Events " + report.mWindow) + "\r\n";
  const auto line = [&](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) t += (i ? "," : "") + CsvCell(cells[i]);
    t += "\r\n";
  };
  line(IncidentColumns());
  for (const RIncident& i : report.mEvents) line(IncidentCells(i));
  const auto totals = [&](const char* heading, const std::vector<RIncidentTotals>& rows) {
    t += "\r\n";
    line({heading, "Events", "In alarm", "Longest", "Highest"});
    for (const RIncidentTotals& r : rows)
      line({r.mKey, std::to_string(r.mEvents), FormatDuration(static_cast<int32_t>(r.mSeconds)), FormatDuration(r.mLongest),
            r.mHighest});
  };
  totals("Detector", report.mByDetector);
  totals("User ID", report.mByWearer);
  return t;
}
