#include "app/records/Fleet.h"

#include "app/core/Settings.h"
#include "model/CsvText.h"
#include "model/Records.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <tuple>
#include <unordered_map>

namespace {

constexpr std::time_t kDay = 86400;

struct TAcc {
  RFleetRow row;
  const RFleetEvent* cal = nullptr;
  const RFleetEvent* bump = nullptr;
  const RFleetEvent* bumpDue = nullptr;  // the newest bump that starts an interval
  const RFleetEvent* cfg = nullptr;
};

// Newer wins; of two at the same second the later in the list (appended later).
bool Newer(const RFleetEvent& e, const RFleetEvent* than) { return !than || e.mTime >= than->mTime; }

}  // namespace

const char* FleetStatusText(TFleetStatus s) {
  switch (s) {
    case TFleetStatus::Failed: return "FAILED";
    case TFleetStatus::Overdue: return "OVERDUE";
    case TFleetStatus::Due: return "DUE";
    case TFleetStatus::Ok: break;
  }
  return "OK";
}

bool FleetHandResetsDue() {
  return AppDir.empty() || AppSettings().ReadString("BUMP", "HandResetsDue", "1") != "0";
}

std::vector<RFleetRow> FleetRows(const std::vector<RFleetEvent>& events, std::time_t now, int dueDays,
                                 bool handResetsDue) {
  std::unordered_map<std::string, size_t> index;
  std::vector<TAcc> acc;
  index.reserve(events.size() / 16 + 16);
  for (const RFleetEvent& e : events) {
    if (e.mSerial.empty()) continue;
    auto [it, added] = index.try_emplace(e.mSerial, acc.size());
    if (added) acc.push_back({});
    TAcc& a = acc[it->second];
    if (e.mKind == "calibration" && Newer(e, a.cal)) a.cal = &e;
    if (e.mKind == "bump" && Newer(e, a.bump)) a.bump = &e;
    if (e.mKind == "bump" && (handResetsDue || !e.mHand) && Newer(e, a.bumpDue)) a.bumpDue = &e;
    if (e.mCfgImage.size() == sizeof(RKVTCFG) && Newer(e, a.cfg)) a.cfg = &e;
    if (added || (!e.mSensor.empty() && (a.row.mSensor.empty() || Newer(e, a.cfg)))) a.row.mSensor = e.mSensor;
    if (added) a.row.mSerial = e.mSerial;
  }

  const std::time_t soon = now + static_cast<std::time_t>(dueDays) * kDay;
  std::vector<RFleetRow> rows;
  rows.reserve(acc.size());
  for (TAcc& a : acc) {
    RFleetRow& r = a.row;
    // Unknown intervals (no configuration on record) ask for both kinds.
    uint32_t calSeconds = 1;
    uint16_t bumpDays = 1;
    if (a.cfg) {
      RKVTCFG cfg;
      std::memcpy(&cfg, a.cfg->mCfgImage.data(), sizeof cfg);
      calSeconds = cfg.mSensor.mCalInterval;
      bumpDays = cfg.mSensor.mBumpInterval;
    }
    if (a.cal) {
      r.mLastCal = a.cal->mTime;
      r.mCalPass = a.cal->mPass;
      if (a.cfg && calSeconds > 0) r.mCalDue = a.cal->mTime + static_cast<std::time_t>(calSeconds);
    } else {
      r.mCalNever = calSeconds > 0;
    }
    if (a.bump) {
      r.mLastBump = a.bump->mTime;
      r.mBumpPass = a.bump->mPass;
      r.mBumpHand = a.bump->mHand;
      if (a.cfg && bumpDays > 0 && a.bumpDue)
        r.mBumpDue = a.bumpDue->mTime + static_cast<std::time_t>(bumpDays) * kDay;
      else if (a.cfg && bumpDays > 0)
        r.mBumpNever = true;  // only verdicts by hand, which this site does not count
    } else {
      r.mBumpNever = bumpDays > 0;
    }
    const auto before = [&](const std::optional<std::time_t>& due, std::time_t t) { return due && *due < t; };
    if ((a.cal && !r.mCalPass) || (a.bump && !r.mBumpPass))
      r.mStatus = TFleetStatus::Failed;
    else if (before(r.mCalDue, now) || before(r.mBumpDue, now))
      r.mStatus = TFleetStatus::Overdue;
    else if (r.mCalNever || r.mBumpNever || before(r.mCalDue, soon + 1) || before(r.mBumpDue, soon + 1))
      r.mStatus = TFleetStatus::Due;
    else
      r.mStatus = TFleetStatus::Ok;
    rows.push_back(std::move(r));
  }
  const auto key = [](const RFleetRow& r) {
    std::time_t first = std::numeric_limits<std::time_t>::max();
    if (r.mCalNever || r.mBumpNever) first = std::numeric_limits<std::time_t>::min();
    if (r.mCalDue) first = std::min(first, *r.mCalDue);
    if (r.mBumpDue) first = std::min(first, *r.mBumpDue);
    return std::make_tuple(static_cast<int>(r.mStatus), first);
  };
  std::sort(rows.begin(), rows.end(), [&](const RFleetRow& x, const RFleetRow& y) {
    const auto kx = key(x), ky = key(y);
    return kx != ky ? kx < ky : x.mSerial < y.mSerial;
  });
  return rows;
}

const std::vector<std::string>& FleetColumns() {
  static const std::vector<std::string> columns = {"Serial",   "Sensor",     "Last calibration", "Calibration due",
                                                   "Last bump", "Bump due", "Status"};
  return columns;
}

std::vector<std::string> FleetCells(const RFleetRow& r) {
  const auto last = [](const std::optional<std::time_t>& t, bool pass, bool hand = false) {
    return t ? UtcDateText(*t) + (pass ? " PASS" : " FAIL") + (hand ? " (hand)" : "") : std::string("never");
  };
  const auto due = [](const std::optional<std::time_t>& t, bool never) {
    return t ? UtcDateText(*t) : std::string(never ? "now" : "-");
  };
  return {r.mSerial,
          r.mSensor.empty() ? "-" : r.mSensor,
          last(r.mLastCal, r.mCalPass),
          due(r.mCalDue, r.mCalNever),
          last(r.mLastBump, r.mBumpPass, r.mBumpHand),
          due(r.mBumpDue, r.mBumpNever),
          FleetStatusText(r.mStatus)};
}

std::string FleetText(const std::vector<RFleetRow>& rows) {
  static const int widths[] = {12, 8, 18, 16, 18, 12, 0};
  std::string t;
  const auto line = [&](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) {
      std::string c = cells[i];
      if (widths[i] > 0 && c.size() < static_cast<size_t>(widths[i])) c.resize(static_cast<size_t>(widths[i]), ' ');
      t += c + (i + 1 < cells.size() && c.size() >= static_cast<size_t>(widths[i]) && widths[i] > 0 ? " " : "");
    }
    while (!t.empty() && t.back() == ' ') t.pop_back();
    t += "\n";
  };
  line(FleetColumns());
  for (const RFleetRow& r : rows) line(FleetCells(r));
  return t;
}

std::string FleetCSV(const std::vector<RFleetRow>& rows, const std::string& verified) {
  std::string t = CsvQuoted(verified + "; " + kCsvCellNote) + "\r\n";
  const auto line = [&](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) t += (i ? "," : "") + CsvCell(cells[i]);
    t += "\r\n";
  };
  line(FleetColumns());
  for (const RFleetRow& r : rows) line(FleetCells(r));
  return t;
}

std::vector<RFleetEvent> FleetEventsFrom(const std::vector<RServiceRecord>& records) {
  std::vector<RFleetEvent> events;
  events.reserve(records.size());
  // The store lists newest first; events go oldest first, so equal times keep their order.
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const RServiceRecord& r = *it;
    if (r.mSerial.empty()) continue;  // a detector that never said who it is is no row of the fleet
    RFleetEvent e;
    e.mSerial = r.mSerial;
    e.mSensor = r.mSensorType;
    e.mKind = r.mKind;
    e.mTime = UtcTimeOf(r.mTime).value_or(0);
    // Earlier records kept their outcome in the details.
    const std::string result = !r.mResult.empty() ? r.mResult
                               : r.mKind == "bump" ? r.Detail("bump")
                               : r.mCode == 0 && r.Detail("span") == "OK" ? "PASS" : "FAIL";
    e.mPass = result == "PASS";
    e.mHand = r.mKind == "bump" && r.Detail("verdict") == "hand";
    e.mCfgImage = r.mCfgAfter;
    events.push_back(std::move(e));
  }
  return events;
}

std::string FleetSiteName() {
  const std::string site = AppDir.empty() ? "" : AppSettings().ReadString("RECORDS", "Site", "");
  if (!site.empty()) return site;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return "";
  return host;
}
