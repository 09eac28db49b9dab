// Save Event Log and Log Reset end to end against the simulated detector.
#include "app/device/EventLog.h"
#include "app/core/Settings.h"
#include "app/records/ServiceRecords.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <ctime>

namespace {

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceCFG = RDeviceCFG{}, AppDir = FDir.path(), DeviceCFG.mEVENTSaveDir = AppDir + "EVENT/";
    ::mkdir(DeviceCFG.mEVENTSaveDir.c_str(), 0755);
  }
  ProgramState FKept;
  TempDir FDir;
};

TEST_F(EventLogTest, ExportWritesTheDetectorAndItsEventsOldestFirst) {
  KvtSim::Options o;
  std::memcpy(o.config.mUnit.mSerial, "SH1/0.,123", 10);  // a path and a column break
  const uint32_t life = 63072000;
  RKVTUnitCFG& u = o.config.mUnit;
  u.mFWVersion = 12, u.mLifeRemaining = life, u.mAlarmCount = 4, u.mAlarmTime = 90061, u.mTestCount = 7;
  KvtSim::fillCRCs(o.config);
  // Sorted by start, largest first; equal starts keep their order; a start below the life
  // counter makes an age modulo 2^32.
  o.events = {{life + 1000, 75, 0x08, 125}, {life + 3000, 0x8005, 0x0C, -5}, {life + 2000, 5, 0x01, 0x7FFF},
              {life + 3000, 0, 0x04, 0}, {life - 10, 3725, 0x00, 32766}};
  SimPort port(o);
  ScriptedOperator op;
  op.saveFile(std::nullopt);
  TComKVT link;
  TDeviceSession session;
  FileRequest dialog = EventLogSaveDialog();
  ASSERT_EQ(SaveEventLog(op, link, session, dialog).mEnd, TEventLogEnd::Cancelled);
  EXPECT_EQ(AppSettings().ReadString("EVENT", "SaveDirectory", "unchanged"), "unchanged");
  // The file box cancelled, the entries are kept all the same: two that share a start each
  // once, one whose start the counters cannot date as such.
  const auto entries = [] {
    std::vector<RServiceRecord> kept;
    for (RServiceRecord& r : TRecordStore(RecordsDatabasePath(), TRecordStore::TMode::Read).History(""))
      if (r.mKind == "event") kept.push_back(r);
    return kept;
  };
  ASSERT_EQ(entries().size(), 5u);
  EXPECT_EQ(entries().front().Detail("start"), "unknown");
  const FileRequest asked = op.eventsOf(ScriptedOperator::Kind::SaveFile).back().request;
  EXPECT_EQ(asked.title, "Save Logging Data...");
  EXPECT_EQ(asked.folder, DeviceCFG.mEVENTSaveDir);
  ASSERT_EQ(asked.fileName.size(), std::string("SH10123_LOG_yymmddhhnnss.CSV").size()) << asked.fileName;
  ASSERT_EQ(asked.fileName.substr(0, 12), "SH10123_LOG_");

  const std::string out = FDir.path() + "out/";
  ::mkdir(out.c_str(), 0755);
  op.saveFile(out + "log.csv");
  ASSERT_EQ(SaveEventLog(op, link, session, dialog).mEnd, TEventLogEnd::Saved);
  // The export's moment, from the name it proposed, dates every event.
  const std::string saved = op.eventsOf(ScriptedOperator::Kind::SaveFile).back().request.fileName;
  std::tm now{};
  ASSERT_TRUE(strptime(saved.substr(12, 12).c_str(), "%y%m%d%H%M%S", &now));
  now.tm_isdst = -1;
  const std::time_t t0 = std::mktime(&now);
  const auto when = [&](long ago) {
    const std::time_t t = t0 - ago;
    char b[32];
    std::strftime(b, sizeof b, "%Y-%m-%d,%H:%M:%S", std::localtime(&t));
    return std::string(b);
  };
  const std::vector<std::string> expected = {
      "Product Name,QRB Vaporlet", "Log Type,Event Log", "Serial Number,SH10123", "Firmware Version,1.2",
      "ID,      ", "Life Remaining,24months 0 days", "Total Number of Events,4", "Duration of events,25:01:01",
      "Number of self-tests,7", "",
      "Event Date,Event Time,BumpTest,Duration(seconds),Sensor Reading,Alarm",
      when(3000) + ",YES,0:00:05,-0.5,LOW Alarm HIGH Alarm ",
      when(3000) + ",NO,0:00:00,0.0,LOW Alarm ",
      when(2000) + ",NO,0:00:05,O.L.,",
      when(1000) + ",NO,0:01:15,12.5,HIGH Alarm ",
      when(4294967286L) + ",NO,1:02:05,3276.6,"};
  std::string text;
  for (const std::string& line : expected) text += line + "\r\n";
  EXPECT_EQ(FDir.read("out/log.csv"), text);
  EXPECT_EQ(AppSettings().ReadString("EVENT", "SaveDirectory", ""), out);
  EXPECT_EQ(op.lastStatus().text, "Load Event Log... OK, 5 events saved: log.csv");
  EXPECT_EQ(entries().size(), 5u);
}

TEST_F(EventLogTest, EmptyLogsUnwritableFilesAndTheReset) {
  SimPort port;
  TComKVT link;
  TDeviceSession session;
  ScriptedOperator op;
  FileRequest dialog = EventLogSaveDialog();

  // A write that fails is said, and its folder is still remembered.
  op.saveFile(FDir.path() + "missing/log.csv");
  EXPECT_EQ(SaveEventLog(op, link, session, dialog).mEnd, TEventLogEnd::NotSaved);
  EXPECT_EQ(op.messages().back().text, kEventNotSavedText);
  EXPECT_EQ(AppSettings().ReadString("EVENT", "SaveDirectory", ""), FDir.path() + "missing/");

  EXPECT_EQ(LogReset(op, link, session), LINK_OK);
  EXPECT_TRUE(port.sim().events().empty());
  EXPECT_EQ(op.lastStatus().text, "Event Log Reset... OK");
  EXPECT_EQ(SaveEventLog(op, link, session, dialog).mEnd, TEventLogEnd::NoEvents);
  EXPECT_EQ(op.lastStatus().text, "Load Event Log... OK");
  EXPECT_EQ(op.messages().back().text, kNoEventsText);
}

}  // namespace
