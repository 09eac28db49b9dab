// The records store as a forger, an auditor and a crowd of writers meet it: every forgery made
// without the station's key is found, eight writers at once lose nothing, a store that cannot be
// written keeps its records in the outbox, and a read-only copy still verifies.
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "app/records/StationKey.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

RServiceRecord Sample(const std::string& serial, const std::string& operation, const std::string& result = "PASS") {
  RServiceRecord r;
  r.mTime = "2026-03-07T14:03:27Z";
  r.mSerial = serial;
  r.mSensorType = "CO";
  r.mOperation = operation;
  r.mResult = result;
  r.mStatus = operation + "... OK";
  r.mTechnician = "Ada";
  return r;
}

void Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << sql;
  sqlite3_free(error);
  sqlite3_close(db);
}

std::string Copy(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream(to, std::ios::binary) << in.rdbuf();
  return to;
}

TEST(ServiceRecords, EveryForgeryWithoutTheKeyIsFound) {
  const auto sql = [](std::string text) { return [=](const std::string& db) { Sql(db, text); }; };
  const auto outboxLine = [](const std::string& db, const RServiceRecord& r) {
    std::ofstream(db + ".outbox", std::ios::app) << RecordJson(r) << "\n";
  };
  const auto unlinked = [](std::vector<std::string> exts) {
    return [=](const std::string& db) {
      for (const std::string& ext : exts) ::unlink((db + ext).c_str());
    };
  };
  const struct {
    const char* name;
    std::function<void(const std::string& db)> forge;
    const char* why;
    int thenOperations = 0;  // operations run after the forgery, which must not launder it
  } cases[] = {
      {"a passing calibration added with a copied seal and the note moved on",
       [](const std::string& db) {
         std::vector<RServiceRecord> chain = TRecordStore(db, TRecordStore::TMode::Read).Chain();
         RServiceRecord fake = chain.back();
         fake.mSeq = chain.back().mSeq + 1;
         fake.mPrevHash = chain.back().mHash;
         fake.mOperation = "Sensor Calibration", fake.mKind = "calibration", fake.mSpan = "OK", fake.mOrigin = "f";
         fake.mHash = Sha256Hex(SealedText(fake));  // a forger sees all that goes in but the key
         TRecordStore(db, TRecordStore::TMode::Write).Insert({fake});
         WriteSealNote(db, {fake.mSeq, fake.mHash});
       },
       "record 4: its seal is not this station's"},
      {"an old record's time and technician edited and the chain recomputed",
       [](const std::string& db) {
         std::vector<RServiceRecord> chain = TRecordStore(db, TRecordStore::TMode::Read).Chain();
         Sql(db, "DROP TRIGGER records_no_update; DROP TRIGGER records_no_delete; DELETE FROM records");
         std::string prev(64, '0');
         for (RServiceRecord& r : chain) {
           if (r.mSeq == 1) r.mTime = "2026-01-01T08:00:00Z", r.mTechnician = "Someone Else";
           r.mPrevHash = prev;
           r.mHash = prev = Sha256Hex(SealedText(r));
         }
         TRecordStore(db, TRecordStore::TMode::Write).Insert(chain);
         WriteSealNote(db, {chain.back().mSeq, chain.back().mHash});
       },
       "record 1: its seal is not this station's"},
      {"the newest record deleted", sql("DROP TRIGGER records_no_delete; DELETE FROM records WHERE seq = 3"),
       "the store is older than the station last wrote: it ends at record 2, the station wrote record 3"},
      {"a record in the middle deleted", sql("DROP TRIGGER records_no_delete; DELETE FROM records WHERE seq = 2"),
       "record 2 is missing"},
      {"two records swapped by their numbers",
       sql("DROP TRIGGER records_no_update; UPDATE records SET seq = -seq WHERE seq IN (1, 2);"
           "UPDATE records SET seq = 3 + seq WHERE seq IN (-1, -2)"),
       "record 1: the record before it was changed or replaced"},
      {"the file replaced by an older copy", [](const std::string& db) {
         for (const char* ext : {"-wal", "-shm"}) ::unlink((db + ext).c_str());
         ::rename((db + ".older").c_str(), db.c_str());
       },
       "the store is older than the station last wrote: it ends at record 2"},
      {"the note of the last record removed", [](const std::string& db) { ::unlink((db + ".seal").c_str()); },
       "note of its last record is missing"},
      {"the store deleted", [](const std::string& db) { ::unlink(db.c_str()); }, "no records store"},
      {"a failed bump turned into a pass in the outbox, then an operation",
       [&](const std::string& db) {
         RServiceRecord r = TRecordStore(db, TRecordStore::TMode::Read).Chain().back();
         r.mSeq = 4, r.mPrevHash = r.mHash, r.mResult = "PASS", r.mAdapter = true, r.mOrigin = "o";
         r.mHash = Sha256Hex(SealedText(r));  // the signature stays the one of record 3
         outboxLine(db, r);
       },
       "lines of the outbox are no record this station sealed", 1},
      {"a passing calibration written into the outbox from nothing, then an operation",
       [&](const std::string& db) {
         RServiceRecord r = Sample("A1", "Sensor Calibration");
         r.mOrigin = "x", r.mHash = "0", r.mZero = r.mSpan = "OK";
         outboxLine(db, r);
       },
       "records wait unsealed in the outbox", 1},
      {"the newest records and the note deleted, then an operation",
       [&](const std::string& db) {
         sql("DROP TRIGGER records_no_delete; DELETE FROM records WHERE seq >= 2")(db);
         ::unlink((db + ".seal").c_str());
       },
       "note of its last record is missing", 1},
      {"an older copy put back, then three operations", unlinked({"-wal", "-shm"}) /* then renamed below */,
       "record 3 is missing", 3},
      {"the store deleted, then six operations", unlinked({"", "-wal", "-shm"}), "record 1 is missing", 6},
      // Into the very file this program holds open, once its log is in the file: the program
      // must read what is there now, not what it read before.
      {"an older copy written over the store in place, then two operations",
       [](const std::string& db) {
         SettleRecords();
         Copy(db + ".older", db);
       },
       "record 3 is missing", 2},
      {"the key deleted, then an operation", unlinked({".key"}), "records wait unsealed in the outbox", 1},
      {"both slots of the note spoiled",
       [](const std::string& db) {
         std::fstream note(db + ".seal", std::ios::in | std::ios::out | std::ios::binary);
         for (const int at : {10, 522}) note.seekp(at) << std::string(20, 'f');
       },
       "note of its last record cannot be read"},
      {"the key replaced by another, then an operation",
       [](const std::string& db) {
         TempDir other;
         ASSERT_EQ(CommitRecordTo(other.path() + "BEAMDOCK.DB", Sample("Z9", "Clear Peak")), TRecordFate::Stored);
         ::rename((other.path() + "BEAMDOCK.DB.key").c_str(), (db + ".key").c_str());
       },
       "record 4", 1},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string db = dir.path() + "BEAMDOCK.DB";
    for (const char* serial : {"A1", "B2"}) ASSERT_EQ(CommitRecordTo(db, Sample(serial, "Read KVT Information")), TRecordFate::Stored);
    Sql(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    Copy(db, db + ".older");
    ASSERT_EQ(CommitRecordTo(db, Sample("A1", "Send Bump Pass")), TRecordFate::Stored);
    ASSERT_TRUE(VerifyStore(db).mIntact);

    const std::string pub = dir.read("BEAMDOCK.DB.pub");
    c.forge(db);
    if (std::string(c.name).find("older copy put back") != std::string::npos) ::rename((db + ".older").c_str(), db.c_str());
    for (int i = 0; i < c.thenOperations; ++i)
      CommitRecordTo(db, Sample("A1", "Read KVT Information"));
    EXPECT_EQ(dir.read("BEAMDOCK.DB.pub"), pub) << c.name << ": the station's public key was replaced";
    const RChainCheck check = VerifyStore(db);
    EXPECT_FALSE(check.mIntact) << c.name;
    EXPECT_NE(check.mWhy.find(c.why), std::string::npos) << c.name << ": " << check.mWhy;
    EXPECT_TRUE(std::string(c.name) != "the store deleted" || ::access(db.c_str(), F_OK) != 0) << "verify made one";
  }
}

// The note of the last record is written in place: a write cut short (a power failure, or a
// reader looking in the middle of it) leaves the slot before, which names a record the station
// wrote; a note of one line, from before the slots, is read and carried on.
TEST(ServiceRecords, TheNoteOutlivesAWriteCutShortAndOneOfALineIsCarriedOn) {
  TempDir dir;
  const std::string db = dir.path() + "BEAMDOCK.DB";
  for (const char* serial : {"A1", "B2", "A1"}) ASSERT_EQ(CommitRecordTo(db, Sample(serial, "Read KVT Information")), TRecordFate::Stored);
  std::string note = dir.read("BEAMDOCK.DB.seal");
  const size_t newest = note.find("3 " + TRecordStore(db, TRecordStore::TMode::Read).Chain().back().mHash);
  ASSERT_NE(newest, std::string::npos) << note;
  dir.write("BEAMDOCK.DB.seal", note.replace(newest + 8, 20, std::string(20, 'f')));  // half old, half new
  EXPECT_EQ(ReadSealNote(db).value_or(RSealNote{}).mSeq, 2);
  ASSERT_EQ(CommitRecordTo(db, Sample("B2", "Send Bump Pass")), TRecordFate::Stored);
  dir.write("BEAMDOCK.DB.seal", "4 " + TRecordStore(db, TRecordStore::TMode::Read).Chain().back().mHash + "\n");
  ASSERT_EQ(CommitRecordTo(db, Sample("A1", "Clear Peak")), TRecordFate::Stored);
  const RChainCheck check = VerifyStore(db);
  EXPECT_TRUE(check.mIntact) << check.mWhy;
  EXPECT_EQ(check.mCount, 5);
  EXPECT_EQ(ReadSealNote(db).value_or(RSealNote{}).mSeq, 5);
  EXPECT_EQ(dir.read("BEAMDOCK.DB.seal").size(), 1024u);  // with its slots again
}

TEST(ServiceRecords, EarlierRecordsStayAndTheSealedChainContinuesAfterThem) {
  TempDir dir;
  const std::string db = dir.path() + "BEAMDOCK.DB";
  // A store from before the seals: two chained rows and the head that names the second.
  std::string prev(64, '0');
  std::string rows;
  for (int id = 1; id <= 2; ++id) {
    RServiceRecord r = Sample("OLD1", "Read KVT Information");
    r.mCode = 0, r.mUser = "tech", r.mDetails = "", r.mKind = "read";
    const std::string hash = EarlierRecordHash(r, prev);
    rows += "INSERT INTO records VALUES(" + std::to_string(id) + ",'" + r.mTime + "','OLD1','CO','read'," +
            "'Read KVT Information',0,'" + r.mStatus + "','tech','',NULL,NULL,'" + prev + "','" + hash + "');";
    prev = hash;
  }
  Sql(db, "CREATE TABLE records(id INTEGER PRIMARY KEY, time TEXT NOT NULL, serial TEXT NOT NULL, sensor_type TEXT "
          "NOT NULL, kind TEXT NOT NULL, operation TEXT NOT NULL, code INTEGER NOT NULL, status TEXT NOT NULL, user "
          "TEXT NOT NULL, details TEXT NOT NULL, cfg_before BLOB, cfg_after BLOB, prev_hash TEXT NOT NULL, hash TEXT "
          "NOT NULL); CREATE INDEX records_serial ON records(serial, id); CREATE TABLE chain(one INTEGER PRIMARY KEY "
          "CHECK(one = 1), head_id INTEGER NOT NULL, head_hash TEXT NOT NULL);" +
              rows + "INSERT INTO chain VALUES(1, 2, '" + prev + "'); PRAGMA user_version=1;");
  ASSERT_EQ(CommitRecordTo(db, Sample("OLD1", "Send Bump Pass")), TRecordFate::Stored);
  const RChainCheck check = VerifyStore(db);
  EXPECT_TRUE(check.mIntact) << check.mWhy;
  EXPECT_EQ(check.mCount, 1);
  EXPECT_EQ(check.mEarlier, 2);
  const std::vector<RServiceRecord> history = TRecordStore(db, TRecordStore::TMode::Read).History("OLD1");
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].mPrevHash, prev);  // chained after the earlier head
  Sql(db, "UPDATE records SET user = 'x' WHERE id = 1");
  EXPECT_NE(VerifyStore(db).mWhy.find("earlier record 1"), std::string::npos);
}

// A program holds its store open between records: a child it forks writes through a store of
// its own, and once no record has come for a moment the store's file alone holds them all.
TEST(ServiceRecords, AHeldStoreServesForkedChildrenAndSettlesWhenIdle) {
  TempDir dir, copy;
  const std::string db = dir.path() + "BEAMDOCK.DB";
  ASSERT_EQ(CommitRecordTo(db, Sample("A1", "Read KVT Information")), TRecordFate::Stored);
  // The records thread at rest before the fork: the sanitizers' allocator has no fork handler,
  // and a lock it held mid-allocation would stay locked in the child.
  SettleRecords();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const pid_t pid = fork();
  if (pid == 0) {
    bool ok = true;
    for (int i = 0; i < 3; ++i) ok = ok && CommitRecordTo(db, Sample("C1", "Clear Peak")) == TRecordFate::Stored;
    std::exit(ok ? 0 : 1);  // an ordinary exit: the child closes what it opened
  }
  int status = -1;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_EQ(CommitRecordTo(db, Sample("A1", "Send Bump Pass")), TRecordFate::Stored);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  for (const char* ext : {"", ".pub", ".seal"}) Copy(db + ext, copy.path() + "BEAMDOCK.DB" + ext);
  const RChainCheck check = VerifyStore(copy.path() + "BEAMDOCK.DB");
  EXPECT_TRUE(check.mIntact) << check.mWhy;
  EXPECT_EQ(check.mCount, 5);
}

TEST(ServiceRecords, EightWritersAtOnceLoseNothingAndAReaderNeverSeesAFalseBreak) {
  TempDir dir;
  const std::string db = dir.path() + "BEAMDOCK.DB";
  std::vector<pid_t> writers;
  for (int w = 0; w < 8; ++w) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0; i < 6; ++i) CommitRecordTo(db, Sample("W" + std::to_string(w), "Send Bump Pass"));
      _exit(0);
    }
    writers.push_back(pid);
  }
  for (bool running = true; running;) {
    running = false;
    for (pid_t pid : writers) running = running || waitpid(pid, nullptr, WNOHANG) == 0;
    if (::access(db.c_str(), F_OK) == 0 && ReadSealNote(db)) {
      const RChainCheck check = VerifyStore(db);
      EXPECT_TRUE(check.mIntact) << check.mWhy;
    }
  }
  const RChainCheck check = VerifyStore(db);
  EXPECT_TRUE(check.mIntact) << check.mWhy;
  EXPECT_EQ(check.mCount, 48);
}

TEST(ServiceRecords, AStoreThatCannotTakeARecordKeepsItInTheOutboxAndAReadOnlyCopyVerifies) {
  TempDir dir;
  const std::string db = dir.path() + "BEAMDOCK.DB";
  ASSERT_EQ(CommitRecordTo(db, Sample("A1", "Read KVT Information")), TRecordFate::Stored);
  // The store's folder entry taken by something that is no store: the records wait beside it.
  ::rename(db.c_str(), (db + ".kept").c_str());
  ::mkdir(db.c_str(), 0755);
  std::string why;
  EXPECT_EQ(CommitRecordTo(db, Sample("A1", "Send Bump Fail", "FAIL"), &why), TRecordFate::Outbox);
  EXPECT_EQ(CommitRecordTo(db, Sample("A1", "Clear Peak")), TRecordFate::Outbox);
  EXPECT_FALSE(why.empty());
  ::rmdir(db.c_str());
  ::rename((db + ".kept").c_str(), db.c_str());
  ASSERT_EQ(CommitRecordTo(db, Sample("A1", "Send Bump Pass")), TRecordFate::Stored);
  EXPECT_TRUE(OutboxRecords(db).empty());
  std::vector<std::string> order;
  for (const RServiceRecord& r : TRecordStore(db, TRecordStore::TMode::Read).Chain()) order.push_back(r.mOperation);
  EXPECT_EQ(order, (std::vector<std::string>{"Read KVT Information", "Send Bump Fail", "Clear Peak", "Send Bump Pass"}));
  EXPECT_TRUE(VerifyStore(db).mIntact) << VerifyStore(db).mWhy;

  // Neither the store nor an outbox can be written: the operator hears of it.
  dir.write("blocker", "");
  AppDir = dir.path();
  dir.write("BEAMDOCK.INI", "[RECORDS]\r\nDatabase=blocker/records.db\r\n");
  LoadSettings(AppDir);
  ScriptedOperator op;
  EXPECT_EQ(CommitRecord(op, Sample("A1", "Clear Peak")), TRecordFate::Lost);
  ASSERT_EQ(op.messages().size(), 1u);
  EXPECT_NE(op.messages()[0].text.find("was not kept"), std::string::npos);
  AppDir.clear();

  // A read-only copy in a folder the reader cannot write: listed and verified, nothing made.
  // The copy is of the store's file alone: it is whole once the program has settled.
  SettleRecords();
  TempDir copy;
  for (const char* ext : {"", ".pub", ".seal"})
    ::chmod(Copy(db + ext, copy.path() + "BEAMDOCK.DB" + ext).c_str(), 0444);
  ::chmod(copy.path().c_str(), 0555);
  const pid_t pid = fork();
  if (pid == 0) {  // as the unprivileged account when this one is root, whom no mode stops
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    const RChainCheck check = VerifyStore(copy.path() + "BEAMDOCK.DB");
    const auto listed = TRecordStore(copy.path() + "BEAMDOCK.DB", TRecordStore::TMode::Read).History("A1");
    _exit(check.mIntact && check.mCount == 4 && listed.size() == 4 ? 0 : 1);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  ::chmod(copy.path().c_str(), 0755);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ServiceRecords, ACertificateComesOnlyFromAPassedNewestCalibration) {
  TempDir dir;
  const std::string db = dir.path() + "BEAMDOCK.DB";
  RKVTCFG cfg{};
  cfg.mSensor.mCalInterval = 30 * 86400;
  cfg.mSensor.mAlarmLow = 100, cfg.mSensor.mAlarmHigh = 200;
  RServiceRecord passed = Sample("A1", "Sensor Calibration");
  passed.mKind = "calibration", passed.mZero = "OK", passed.mSpan = "OK", passed.mSpanGas = "50.0 ppm";
  passed.mTime = "2026-12-20T08:00:00Z", passed.mCfgAfter = CfgImage(cfg), passed.mAdapter = true;
  passed.mLot = "CYL-1", passed.mExpiry = "2027-06-30";
  ASSERT_EQ(CommitRecordTo(db, passed), TRecordFate::Stored);
  RCertificateChoice choice = CertificateOfStore(db, "A1");
  ASSERT_TRUE(choice.mCertificate) << choice.mRefusal;
  const RCertificate& c = *choice.mCertificate;
  EXPECT_EQ(c.mNextDue, "2027-01-19");  // across the year's end
  EXPECT_EQ(c.mTechnician, "Ada");      // who calibrated, not who prints
  EXPECT_EQ(c.mNumber, TStationKey::PublicOf(db)->Id() + "-000001");
  EXPECT_EQ(c.mLowAlarm.substr(0, 4), "10.0");
  EXPECT_FALSE(c.mWithoutAdapter);

  RServiceRecord failed = passed;
  failed.mSpan = "FAIL", failed.mResult = "FAIL", failed.mTime = "2026-12-21T08:00:00Z";
  ASSERT_EQ(CommitRecordTo(db, failed), TRecordFate::Stored);
  ASSERT_EQ(CommitRecordTo(db, Sample("A1", "Read KVT Information")), TRecordFate::Stored);
  choice = CertificateOfStore(db, "A1");
  EXPECT_FALSE(choice.mCertificate);
  EXPECT_NE(choice.mRefusal.find("did not pass: FAIL"), std::string::npos) << choice.mRefusal;
}

}  // namespace

// The outbox and exports hold a record as one JSON line: whatever bytes its texts hold (a
// name in UTF-8, a stray byte from a detector), the line is valid JSON and reads back to the
// same sealed text.
TEST(ServiceRecordJson, EveryByteReadsBackAsItWasSealed) {
  RServiceRecord r = Sample("SH\xE9" "1", "Read KVT Information");
  r.mTechnician = "Zo\xC3\xAB \"Q\"\t\x01";
  r.mDetails = "file=/tmp/\xFF.csv\n";
  const std::string line = RecordJson(r);
  EXPECT_EQ(line.find('\xE9'), std::string::npos);  // the stray bytes are escaped
  EXPECT_NE(line.find("Zo\xC3\xAB"), std::string::npos);
  const std::optional<RServiceRecord> back = RecordFromJson(line);
  ASSERT_TRUE(back);
  EXPECT_EQ(SealedText(*back), SealedText(r));
}

// What is shown follows the seal, corrections are supplements, a cut export is found, and a
// station that lost its key starts anew with a record that names the old one.
TEST(ServiceRecords, ShownBySealCorrectedBySupplementExportedWithASignedEndAndRestartedAfterAKeyIsLost) {
  TempDir dir;
  const std::string db = dir.path() + "BEAMDOCK.DB";
  RServiceRecord cal = Sample("A1", "Sensor Calibration");
  cal.mKind = "calibration", cal.mZero = cal.mSpan = "OK", cal.mSpanGas = "25.0 ppm", cal.mLot = "CYL-1";
  cal.mExpiry = "2027-06-30", cal.mTechnician = "=HYPERLINK(\"http://x\")";
  for (const RServiceRecord& r : {Sample("A1", "Read KVT Information"), cal, Sample("A1", "Send Bump Fail", "FAIL")})
    ASSERT_EQ(CommitRecordTo(db, r), TRecordFate::Stored);
  // The row id and a column's storage class are not sealed: they change nothing shown.
  Sql(db, "DROP TRIGGER records_no_update; UPDATE records SET id = id + 100 WHERE seq = 1;"
          "UPDATE records SET serial = CAST(serial AS BLOB) WHERE seq = 3");
  std::vector<RServiceRecord> shown = TRecordStore(db, TRecordStore::TMode::Read).History("A1");
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].mSeq, 3);
  EXPECT_EQ(shown[2].mSeq, 1);
  EXPECT_TRUE(VerifyStore(db).mIntact) << VerifyStore(db).mWhy;
  const std::string csv = HistoryCSV(shown, "verified: this computer, 3 records");
  EXPECT_NE(csv.find("\"'=HYPERLINK(\"\"http://x\"\")\""), std::string::npos) << csv;

  // A correction names the record it corrects; results are measured again, never corrected.
  const std::string number = TStationKey::PublicOf(db)->Id() + "-2";
  EXPECT_THROW(AmendRecord(db, number, "typo", {{"result", "PASS"}}), ERecordStore);
  const RServiceRecord a = AmendRecord(db, number, "lot misread from the label", {{"lot", "CYL-7"}, {"technician", "Ada"}});
  EXPECT_EQ(a.Detail("amends_digest"), TRecordStore(db, TRecordStore::TMode::Read).Chain()[1].mHash);
  EXPECT_EQ(a.Detail("was.lot"), "CYL-1");
  EXPECT_EQ(a.mSeq, 4);  // the correction as it was sealed
  RCertificateChoice choice = CertificateOfStore(db, "A1");
  ASSERT_TRUE(choice.mCertificate) << choice.mRefusal;
  EXPECT_EQ(choice.mCertificate->mRevision, 2);
  EXPECT_EQ(choice.mCertificate->mCylinderLot, "CYL-7");
  EXPECT_NE(choice.mCertificate->mRevisionNote.find("lot misread"), std::string::npos);
  EXPECT_EQ(CheckSealQr(choice.mCertificate->mQrText, dir.read("BEAMDOCK.DB.pub"), {}).mText,
            "genuine: " + choice.mCertificate->mNumber);

  // An export cut at its end, with its count mended or its signed end dropped, is found.
  ExportRecords(db, dir.path() + "all.jsonl");
  dir.write("key.pem", dir.read("BEAMDOCK.DB.pub"));
  EXPECT_TRUE(VerifyExport(dir.path() + "all.jsonl", dir.path() + "key.pem").mIntact);
  std::vector<std::string> lines;
  std::istringstream all(dir.read("all.jsonl"));
  for (std::string line; std::getline(all, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 6u);  // head, four records, signed end
  const auto without = [&](size_t drop) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i)
      if (i != drop) text += (i == 0 ? std::string(lines[0]).replace(lines[0].find("\"records\":4"), 11, "\"records\":3") : lines[i]) + "\n";
    return text;
  };
  dir.write("cut.jsonl", without(4));
  EXPECT_NE(VerifyExport(dir.path() + "cut.jsonl", dir.path() + "key.pem").mWhy.find("signed end does not match"),
            std::string::npos);
  lines.pop_back();
  dir.write("endless.jsonl", without(4));
  EXPECT_NE(VerifyExport(dir.path() + "endless.jsonl", dir.path() + "key.pem").mWhy.find("no signed end"),
            std::string::npos);

  // The key lost: the operation's record waits unsealed, the public key stays, and only a new
  // station brings the records back to intact, its first record naming the old station.
  const std::string oldId = TStationKey::PublicOf(db)->Id();
  ::unlink((db + ".key").c_str());
  EXPECT_EQ(CommitRecordTo(db, Sample("A1", "Clear Peak")), TRecordFate::Unsealed);
  EXPECT_EQ(TStationKey::PublicOf(db)->Id(), oldId);
  EXPECT_FALSE(VerifyStore(db).mIntact);
  const RNewStation s = StartNewStation(db, "key lost with the old disk");
  EXPECT_EQ(s.mOldStation, oldId);
  EXPECT_EQ(s.mOldLast, 4);
  EXPECT_EQ(s.mUnsealed, 1);
  EXPECT_NE(s.mNewStation, oldId);
  std::vector<RServiceRecord> chain;
  ASSERT_TRUE(VerifyStore(db, &chain).mIntact);
  ASSERT_EQ(chain.size(), 1u);
  EXPECT_EQ(chain[0].Detail("previous_station"), oldId);
  EXPECT_EQ(chain[0].Detail("reason"), "key lost with the old disk");
  EXPECT_EQ(::access((s.mRetired + "/BEAMDOCK.DB.outbox").c_str(), F_OK), 0);
}
