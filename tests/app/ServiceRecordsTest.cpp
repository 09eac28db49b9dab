// The service records store: the chain that finds edited and deleted rows, the certificate's
// dates, and a database that cannot be written not touching the operation.
#include "app/DeviceSession.h"
#include "app/ServiceRecords.h"
#include "app/Settings.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/EventLog.h"
#include "model/SensorTypes.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

RServiceRecord Sample(const std::string& serial, const std::string& operation, int code = 0) {
  RServiceRecord r;
  r.mTime = "2026-03-07T14:03:27Z";
  r.mSerial = serial;
  r.mSensorType = "CO";
  r.mKind = RecordKind(operation);
  r.mOperation = operation;
  r.mCode = code;
  r.mStatus = operation + "... OK";
  r.mUser = "tech";
  r.mDetails = "span_gas=50 ppm\nzero=OK\nspan=OK\n";
  return r;
}

void Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

TEST(ServiceRecords, TheChainFindsAnEditedOrDeletedRecord) {
  const struct {
    const char* tamper;
    int64_t brokenId;
    const char* why;
  } cases[] = {
      {"UPDATE records SET status = 'Calibration ... OK' WHERE id = 2", 2, "content was changed"},
      {"DELETE FROM records WHERE id = 2", 3, "before it was deleted"},
      {"DELETE FROM records WHERE id = 3", 3, "after record 2 were deleted"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir.path() + "records.db";
    {
      TRecordStore store(path);
      for (const char* serial : {"A1", "B2", "A1"}) {
        RServiceRecord r = Sample(serial, "Read KVT Information");
        store.Append(r);
      }
      const std::vector<RServiceRecord> a1 = store.History("A1");
      ASSERT_EQ(a1.size(), 2u);
      EXPECT_EQ(a1[0].mId, 3);  // newest first
      EXPECT_EQ(a1[0].mPrevHash, store.History("B2")[0].mHash);
      EXPECT_EQ(store.Verify().mCount, 3);
      EXPECT_TRUE(store.Verify().mIntact);
    }
    // Rows cannot be changed by accident; one who drops the guards is still found.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_NE(sqlite3_exec(db, c.tamper, nullptr, nullptr, nullptr), SQLITE_OK) << c.tamper;
    sqlite3_close(db);
    Sql(path, std::string("DROP TRIGGER records_no_update; DROP TRIGGER records_no_delete; ") + c.tamper);

    const RChainCheck check = TRecordStore(path).Verify();  // reopening migrates nothing
    EXPECT_FALSE(check.mIntact) << c.tamper;
    EXPECT_EQ(check.mBrokenId, c.brokenId) << c.tamper;
    EXPECT_NE(check.mWhy.find(c.why), std::string::npos) << check.mWhy;
  }
}

TEST(ServiceRecords, CertificateTakesTheNewestPassedCalibrationAndTheDetectorsInterval) {
  RKVTCFG cfg{};
  cfg.mSensor.mCalInterval = 30 * 86400;
  RServiceRecord read = Sample("A1", "Read KVT Information");
  read.mCfgAfter = CfgImage(cfg);
  RServiceRecord failed = Sample("A1", "Sensor Calibration", 0);
  failed.mDetails = "span_gas=50 ppm\nzero=OK\nspan=FAIL\n";
  failed.mTime = "2026-03-09T10:00:00Z";
  RServiceRecord passed = Sample("A1", "Sensor Calibration");
  passed.mTime = "2026-12-20T08:00:00Z";

  std::optional<RCertificate> c = CertificateFor({failed, passed, read}, "Ada");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->mDateTime.substr(0, 10), "2026-12-20");
  EXPECT_EQ(c->mNextDue, "2027-01-19");  // across the year's end
  EXPECT_EQ(c->mSpanGas, "50 ppm");
  EXPECT_EQ(c->mTechnician, "Ada");
  EXPECT_EQ(CertificateFor({passed}, "Ada")->mNextDue, "not set");  // no interval known
  EXPECT_FALSE(CertificateFor({read}, "Ada"));

  read.mDetails = "file=a,\"b\".csv\n";
  EXPECT_NE(HistoryCSV({read}).find(",\"file=a,\"\"b\"\".csv\"\r\n"), std::string::npos) << HistoryCSV({read});
}

TEST(ServiceRecords, AStoreThatCannotBeWrittenLeavesTheReadAsItWasAndIsToldOnce) {
  const std::string savedDir = AppDir;
  const std::vector<RSensorType> savedTypes = SensorTypes;
  SetBuiltInSensorTypes();
  TempDir dir;
  AppDir = dir.path();
  ::mkdir((AppDir + "Configure").c_str(), 0755);
  // Under a plain file: no folder, whoever runs the test.
  dir.write("blocker", "");
  dir.write("BEAMDOCK.INI", "[RECORDS]\r\nDatabase=blocker/records.db\r\n");
  SimPort port;
  TComKVT link;
  TDeviceSession session;
  ScriptedOperator op;
  EXPECT_EQ(session.ReadDevice(op, link).mCode, 0);
  EXPECT_EQ(session.ReadDevice(op, link).mCode, 0);
  EXPECT_EQ(op.lastStatus().text, "Read KVT Information... OK");
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_EQ(op.messages()[0].caption, "Service Records");
  EXPECT_NE(op.messages()[0].text.find(dir.path() + "blocker/records.db"), std::string::npos);

  // The default file next to the settings gets the read with its configuration.
  dir.write("BEAMDOCK.INI", "");
  EXPECT_EQ(session.ReadDevice(op, link).mCode, 0);
  const std::vector<RServiceRecord> all = TRecordStore(dir.path() + "BEAMDOCK.DB").History("");
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].mSerial, FieldText(session.FKVTCFG.mUnit.mSerial, 10));
  EXPECT_EQ(all[0].mKind, "read");
  EXPECT_EQ(all[0].mCfgAfter, CfgImage(session.FKVTCFG));
  AppDir = savedDir;
  SensorTypes = savedTypes;
}

}  // namespace
