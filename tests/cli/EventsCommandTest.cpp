// The event log as records: downloads and resets against the simulated detector keep every
// entry once, a reset that cannot keep them clears nothing, and the incident report weighs
// each event against the checks before it, from this computer and from the site server.
#include "app/records/EventRecords.h"
#include "model/SensorTypes.h"
#include "tests/support/PgServer.h"
#include "tests/support/Process.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <sstream>

namespace {

constexpr std::time_t kDay = 86400;

ProcessResult Cli(const std::string& device, const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {BinPath("beamdock-cli"), "--dir", dir.path(), "--port", device});
  return RunProcess(args, {{"BEAMDOCK_PORT", std::nullopt}});
}

std::vector<RServiceRecord> Kept(const TempDir& dir, const std::string& kind) {
  std::vector<RServiceRecord> out;
  for (RServiceRecord& r : TRecordStore(dir.path() + "BEAMDOCK.DB", TRecordStore::TMode::Read).History(""))
    if (r.mKind == kind) out.push_back(std::move(r));
  return out;
}

// The report's event lines cut at their two-blank separators, and the lines after the blank one.
struct TReportOut {
  std::vector<std::vector<std::string>> mEvents;
  std::vector<std::string> mTotals;
};
TReportOut Parse(const std::string& out) {
  TReportOut r;
  std::istringstream lines(out);
  bool totals = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) {
      totals = true;
      continue;
    }
    if (totals) {
      r.mTotals.push_back(line);
      continue;
    }
    std::vector<std::string> fields;
    for (size_t at = 0;;) {
      const size_t gap = line.find("  ", at);
      fields.push_back(line.substr(at, gap == std::string::npos ? std::string::npos : gap - at));
      if (gap == std::string::npos) break;
      at = gap + 2;
    }
    r.mEvents.push_back(fields);
  }
  return r;
}

TEST(CliEvents, DownloadsKeepEachEntryOnceAndAResetKeepsThemBeforeItClears) {
  KvtSim::Options o;
  const uint32_t life = o.config.mUnit.mLifeRemaining;
  std::memcpy(o.config.mUnit.mUserID, "W7    ", 6);
  KvtSim::fillCRCs(o.config);
  o.events = {{life + 5000, 75, 0x0C, 0x7FFF}, {life + 4000, 0x8000 | 30, 0x00, 250}, {life + 3000, 12, 0x04, -5}};
  SimPort port(o);
  TempDir dir;

  // Twice downloaded, kept once; the CSV is as ever, and the second download found nothing new.
  for (const char* file : {"a.csv", "b.csv"}) {
    const ProcessResult r = Cli(port.device(), dir, {"log", "export", "-o", dir.path() + file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  EXPECT_EQ(dir.read("a.csv").substr(0, 27), "Product Name,QRB Vaporlet\r\n");
  std::vector<RServiceRecord> entries = Kept(dir, "event");
  ASSERT_EQ(entries.size(), 3u);
  const std::vector<RServiceRecord> downloads = Kept(dir, "event log");
  ASSERT_EQ(downloads.size(), 2u);
  EXPECT_EQ(downloads[0].Detail("events_new"), "0");  // newest first
  EXPECT_EQ(downloads[1].Detail("events_new"), "3");
  // The oldest entry is the first kept; its facts name the detector, the wearer and the first download.
  const RServiceRecord& oldest = entries.back();
  EXPECT_EQ(oldest.mSerial, "SH24031587");
  EXPECT_EQ(oldest.mOrigin, EventEntryOrigin("SH24031587", life + 5000));
  EXPECT_EQ(oldest.Detail("life_start"), std::to_string(life + 5000));
  EXPECT_EQ(oldest.Detail("duration_s"), "75");
  EXPECT_EQ(oldest.Detail("low") + oldest.Detail("high") + oldest.Detail("bump"), "110");
  EXPECT_EQ(oldest.Detail("reading"), "O.L.");
  EXPECT_EQ(oldest.Detail("user_id"), "W7");
  EXPECT_EQ(oldest.Detail("download"), downloads[1].mOrigin);
  const std::optional<std::time_t> start = UtcTimeOf(oldest.Detail("start"));
  const std::optional<std::time_t> downloaded = UtcTimeOf(downloads[1].mTime);
  ASSERT_TRUE(start && downloaded);
  EXPECT_LE(*downloaded - *start - 5000, 2);
  EXPECT_NE(oldest.Detail("start_basis").find("life remaining then " + std::to_string(life) + " s"), std::string::npos);
  EXPECT_EQ(entries[0].Detail("reading").substr(0, 4), "-0.5");

  // A new entry, then a reset whose records can be kept nowhere: nothing is cleared.
  std::vector<KvtSim::Event> log = port.sim().events();
  log.push_back({life + 1000, 40, 0x08, 300});
  port.sim().setEvents(log);
  dir.write("BEAMDOCK.INI", "[RECORDS]\r\nDatabase=/dev/null/nowhere.DB\r\n");
  port.sim().clearFrames();
  ProcessResult r = Cli(port.device(), dir, {"--yes", "log", "reset"});
  EXPECT_EQ(r.exitCode, 75) << r.err;
  EXPECT_NE(r.err.find("Event Log Reset... NOT CLEARED"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Nothing was deleted from the detector"), std::string::npos) << r.err;
  EXPECT_EQ(port.sim().events().size(), 4u);
  for (const KvtSim::Frame& f : port.sim().received()) EXPECT_NE(f.what, "13");
  EXPECT_EQ(Kept(dir, "event").size(), 3u);

  // With the records back the reset keeps the new entry, then clears the log.
  dir.write("BEAMDOCK.INI", "");
  r = Cli(port.device(), dir, {"--yes", "log", "reset"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(port.sim().events().empty());
  entries = Kept(dir, "event");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].Detail("life_start"), std::to_string(life + 1000));
  const RServiceRecord reset = Kept(dir, "event log").front();
  EXPECT_EQ(reset.mOperation, "Event Log Reset");
  EXPECT_EQ(reset.Detail("events") + "/" + reset.Detail("events_new"), "4/1");
  EXPECT_EQ(entries[0].Detail("download"), reset.mOrigin);
}

// Records as the store would hold them after downloads and checks at chosen times.
struct THandMade {
  std::time_t mNow = std::time(nullptr);
  std::string mUnit;
  uint8_t mSensor = 0;
  std::vector<RServiceRecord> mRecords;

  THandMade() {
    SetBuiltInSensorTypes();
    mSensor = SensorTypes[0].mIndex;
    mUnit = SensorTypes[0].mUnit;
  }
  void Check(const std::string& serial, const char* kind, double daysAgo, bool pass) {
    RServiceRecord r;
    r.mTime = UtcIsoText(mNow - static_cast<std::time_t>(daysAgo * kDay));
    r.mSerial = serial;
    r.mKind = kind;
    r.mOperation = std::string(kind) == "bump" ? "Bump Test" : "Sensor Calibration";
    r.mResult = pass ? "PASS" : "FAIL";
    mRecords.push_back(r);
  }
  void Config(const std::string& serial, double daysAgo, uint32_t calDays, uint16_t bumpDays) {
    RKVTCFG cfg{};
    cfg.mSensor.mCalInterval = calDays * kDay;
    cfg.mSensor.mBumpInterval = bumpDays;
    RServiceRecord r;
    r.mTime = UtcIsoText(mNow - static_cast<std::time_t>(daysAgo * kDay));
    r.mSerial = serial;
    r.mKind = "read";
    r.mOperation = "Read KVT Information";
    r.mResult = "PASS";
    r.mCfgAfter = CfgImage(cfg);
    mRecords.push_back(r);
  }
  // Entries as a download now finds them: {days ago, seconds, flags, reading in tenths}.
  struct TEntry {
    double daysAgo;
    uint16_t duration;
    uint8_t flags;
    int16_t reading;
  };
  void Download(const std::string& serial, const std::string& user, const std::vector<TEntry>& entries) {
    REventDownload d;
    d.mSerial = serial, d.mSensorType = mSensor, d.mUserId = user, d.mLife = 40000000, d.mTime = mNow;
    d.mOrigin = NewRecordOrigin();
    std::vector<RKVTEvent> log;
    for (const TEntry& e : entries)
      log.push_back({d.mLife + static_cast<uint32_t>(e.daysAgo * kDay), e.duration, e.flags, e.reading});
    for (RServiceRecord& r : EventEntryRecords(log, d)) mRecords.push_back(std::move(r));
  }
};

TEST(CliEvents, TheReportWeighsEachEventAgainstTheChecksBeforeIt) {
  TempDir dir;
  const std::string a = "EVA0000001", b = "EVB0000002";
  THandMade m;
  // Calibrations every 180 days, bump tests every 7.
  m.Config(a, 200, 180, 7);
  m.Check(a, "calibration", 100, true);
  m.Check(a, "bump", 50, true);
  m.Check(a, "bump", 30, false);
  m.Check(a, "bump", 20, true);
  m.Check(a, "calibration", 10, false);
  m.Download(a, "W1", {{40, 75, 0x0C, 180}, {35, 0x8000 | 30, 0, 250}, {25, 30, 0x04, 60}, {15, 400, 0x04, 0x7FFF},
                       {12, 100, 0x04, 70}, {5, 50, 0x0C, 210}});
  m.Download(b, "W2", {{3, 10, 0x04, 55}, {8, 20, 0x0C, 300}});
  std::string why;
  ASSERT_EQ(CommitRecordsTo(dir.path() + "BEAMDOCK.DB", m.mRecords, &why), TRecordFate::Stored) << why;
  // The same entry in a second download is one event.
  m.mRecords.clear();
  m.Download(b, "W2", {{3, 10, 0x04, 55}});
  size_t kept = 9;
  ASSERT_EQ(CommitRecordsTo(dir.path() + "BEAMDOCK.DB", m.mRecords, &why, &kept), TRecordFate::Stored) << why;
  EXPECT_EQ(kept, 0u);
  const std::string ppm = " " + m.mUnit;

  ProcessResult r = Cli("/dev/null", dir, {"events", "--csv", dir.path() + "events.csv"});
  ASSERT_EQ(r.exitCode, 1) << r.err;  // events while a bump test was overdue
  EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "verified: this computer, 14 records");
  TReportOut out = Parse(r.out);
  ASSERT_EQ(out.mEvents.size(), 7u) << r.out;  // the bump test is no incident
  // Newest first; a bump test passed 50 days ago was due 43 days ago (the failed one 30 days ago
  // changes nothing), one passed 20 days ago 13.
  const std::vector<std::vector<std::string>> expected = {
      {b, "0:00:10", "5.5" + ppm, "LOW", "-"},          {a, "0:00:50", "21.0" + ppm, "HIGH", "BUMP OVERDUE"},
      {b, "0:00:20", "30.0" + ppm, "HIGH", "-"},        {a, "0:01:40", "7.0" + ppm, "LOW", "BUMP OVERDUE"},
      {a, "0:06:40", "O.L.", "LOW", "-"},              {a, "0:00:30", "6.0" + ppm, "LOW", "BUMP OVERDUE"},
      {a, "0:01:15", "18.0" + ppm, "HIGH", "BUMP OVERDUE"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(out.mEvents[i].size(), 8u) << r.out;
    EXPECT_EQ((std::vector<std::string>{out.mEvents[i][1], out.mEvents[i][4], out.mEvents[i][5], out.mEvents[i][6],
                                        out.mEvents[i][7]}),
              expected[i]);
    EXPECT_EQ(out.mEvents[i][3], out.mEvents[i][1] == a ? "W1" : "W2");
  }
  EXPECT_EQ(out.mTotals, (std::vector<std::string>{a + ": 5 events, 0:10:55 in alarm, longest 0:06:40, highest O.L.",
                                                   b + ": 2 events, 0:00:30 in alarm, longest 0:00:20, highest 30.0" + ppm}));
  const std::string csv = dir.read("events.csv");
  EXPECT_EQ(csv.substr(0, 37), "\"verified: this computer, 14 records;");
  EXPECT_NE(csv.find("W2,2,0:00:30,0:00:20,30.0" + ppm + "\r\n"), std::string::npos) << csv;

  // What a failed check puts in doubt: from the bump passed 20 days ago to the calibration
  // failed 10 days ago, the newest failure.
  r = Cli("/dev/null", dir, {"events", a, "--since-last-pass"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  out = Parse(r.out);
  ASSERT_EQ(out.mEvents.size(), 2u) << r.out;
  EXPECT_EQ(out.mEvents[0][4] + " " + out.mEvents[1][4], "0:01:40 0:06:40");
  EXPECT_NE(r.err.find("from the passed bump of"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("to the failed calibration of"), std::string::npos) << r.err;
  r = Cli("/dev/null", dir, {"events", b, "--since-last-pass"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(b + " has no failed calibration or bump test on record"), std::string::npos) << r.err;

  // A wearer, a period (local days), and what the command line does not accept.
  r = Cli("/dev/null", dir, {"events", "--user", "W2"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Parse(r.out).mEvents.size(), 2u);
  r = Cli("/dev/null", dir, {"events", "--since", LocalDateText(m.mNow - 9 * kDay), "--until", LocalDateText(m.mNow)});
  EXPECT_EQ(Parse(r.out).mEvents.size(), 3u) << r.out;
  EXPECT_EQ(Cli("/dev/null", dir, {"events", "--since-last-pass"}).exitCode, 64);
  EXPECT_EQ(Cli("/dev/null", dir, {"events", "--since", "2026-02-30"}).exitCode, 64);
}

TEST(CliEvents, TheSiteReportsWhatTwoStationsKeptOnce) {
  TPgServer& pg = TPgServer::Shared();
  const std::string db = pg.CreateDatabase();
  TempDir admin, a, b;
  admin.write("BEAMDOCK.INI", "[RECORDS]\r\nServer=" + pg.ConnInfo(db) + "\r\n");
  ASSERT_EQ(Cli("/dev/null", admin, {"records", "init-server"}).exitCode, 0);
  pg.Sql(db, "CREATE ROLE " + db + "_tech LOGIN IN ROLE beamdock_station");
  for (TempDir* dir : {&a, &b}) dir->write("BEAMDOCK.INI", "[RECORDS]\r\nServer=" + pg.ConnInfo(db, db + "_tech") + "\r\n");
  KvtSim::Options o;
  SimPort shared(o);
  std::memcpy(o.config.mUnit.mSerial, "KV00000099", 10);
  KvtSim::fillCRCs(o.config);
  o.events = {{o.config.mUnit.mLifeRemaining + 600, 90, 0x04, 44}};
  SimPort own(o);

  // Both stations download the same detector; the second also one of its own.
  for (const auto& [dir, port] : {std::pair{&a, &shared}, std::pair{&b, &shared}, std::pair{&b, &own}}) {
    const ProcessResult r = Cli(port->device(), *dir, {"log", "export", "-o", dir->path() + "log.csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  for (TempDir* dir : {&a, &b}) {  // each station asks, the administrator admits it
    const ProcessResult asked = Cli("/dev/null", *dir, {"records", "register-station"});
    ASSERT_EQ(asked.exitCode, 0) << asked.err;
    ASSERT_EQ(Cli("/dev/null", admin, {"records", "admit-station", asked.out.substr(8, 16)}).exitCode, 0);
    ASSERT_EQ(Cli("/dev/null", *dir, {"records", "push"}).exitCode, 0);
  }
  ProcessResult r = Cli("/dev/null", a, {"events"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.rfind("verified: site server, ", 0), 0u) << r.err;
  const TReportOut out = Parse(r.out);
  EXPECT_EQ(out.mTotals, (std::vector<std::string>{
                             "KV00000099: 1 events, 0:01:30 in alarm, longest 0:01:30, highest 4.4 ppm",
                             "SH24031587: 2 events, 0:07:55 in alarm, longest 0:06:40, highest 18.0 ppm"}))
      << r.out;
  r = Cli("/dev/null", a, {"events", "KV00000099"});
  EXPECT_EQ(Parse(r.out).mEvents.size(), 1u) << r.out << r.err;
}

}  // namespace
