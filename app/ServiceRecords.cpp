#include "app/ServiceRecords.h"

#include "app/Settings.h"
#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "model/DeviceUtils.h"
#include "model/EventLog.h"
#include "model/SensorTypes.h"

#include <openssl/evp.h>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

namespace {

const std::string kNoHash(64, '0');

// --- A small RAII face of the SQLite C API ------------------------------------------------

class TStatement {
 public:
  TStatement(sqlite3* db, const char* sql) : FDb(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &FStmt, nullptr) != SQLITE_OK) Fail("prepare");
  }
  ~TStatement() { sqlite3_finalize(FStmt); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  TStatement& Bind(int i, const std::string& text) {
    Check(sqlite3_bind_text(FStmt, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
  }
  TStatement& Bind(int i, int64_t value) {
    Check(sqlite3_bind_int64(FStmt, i, value));
    return *this;
  }
  TStatement& Bind(int i, const std::vector<uint8_t>& blob) {
    Check(blob.empty() ? sqlite3_bind_null(FStmt, i)
                       : sqlite3_bind_blob(FStmt, i, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT));
    return *this;
  }
  // True while a row is there.
  bool Step() {
    const int rc = sqlite3_step(FStmt);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail("step");
    return false;
  }
  std::string Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, col));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(FStmt, col))) : std::string();
  }
  int64_t Int(int col) const { return sqlite3_column_int64(FStmt, col); }
  std::vector<uint8_t> Blob(int col) const {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(FStmt, col));
    return p ? std::vector<uint8_t>(p, p + sqlite3_column_bytes(FStmt, col)) : std::vector<uint8_t>();
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail("bind");
  }
  [[noreturn]] void Fail(const char* what) { throw ERecordStore(std::string(what) + ": " + sqlite3_errmsg(FDb)); }
  sqlite3* FDb;
  sqlite3_stmt* FStmt = nullptr;
};

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string text = error ? error : sqlite3_errmsg(db);
    sqlite3_free(error);
    throw ERecordStore(text);
  }
}

// Rolls back unless committed, so a failed append leaves no half row and no held lock.
class TTransaction {
 public:
  explicit TTransaction(sqlite3* db) : FDb(db) { Exec(db, "BEGIN IMMEDIATE"); }
  ~TTransaction() {
    if (!FDone) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    Exec(FDb, "COMMIT");
    FDone = true;
  }

 private:
  sqlite3* FDb;
  bool FDone = false;
};

// Migration i takes the schema from version i to i + 1; a new version only adds an entry.
std::vector<std::string> Migrations() {
  return {
      "CREATE TABLE records("
      " id INTEGER PRIMARY KEY, time TEXT NOT NULL, serial TEXT NOT NULL, sensor_type TEXT NOT NULL,"
      " kind TEXT NOT NULL, operation TEXT NOT NULL, code INTEGER NOT NULL, status TEXT NOT NULL,"
      " user TEXT NOT NULL, details TEXT NOT NULL, cfg_before BLOB, cfg_after BLOB,"
      " prev_hash TEXT NOT NULL, hash TEXT NOT NULL);"
      "CREATE INDEX records_serial ON records(serial, id);"
      // The chain's head: a deleted newest row leaves the head naming it.
      "CREATE TABLE chain(one INTEGER PRIMARY KEY CHECK(one = 1), head_id INTEGER NOT NULL,"
      " head_hash TEXT NOT NULL);"
      "INSERT INTO chain VALUES(1, 0, '" +
          kNoHash +
          "');"
          // Append-only: a row changed on purpose must go around these, and Verify still sees it.
          "CREATE TRIGGER records_no_update BEFORE UPDATE ON records"
          " BEGIN SELECT RAISE(ABORT, 'records are append-only'); END;"
          "CREATE TRIGGER records_no_delete BEFORE DELETE ON records"
          " BEGIN SELECT RAISE(ABORT, 'records are append-only'); END;",
  };
}

RServiceRecord RowToRecord(const TStatement& s) {
  RServiceRecord r;
  r.mId = s.Int(0);
  r.mTime = s.Text(1);
  r.mSerial = s.Text(2);
  r.mSensorType = s.Text(3);
  r.mKind = s.Text(4);
  r.mOperation = s.Text(5);
  r.mCode = static_cast<int>(s.Int(6));
  r.mStatus = s.Text(7);
  r.mUser = s.Text(8);
  r.mDetails = s.Text(9);
  r.mCfgBefore = s.Blob(10);
  r.mCfgAfter = s.Blob(11);
  r.mPrevHash = s.Text(12);
  r.mHash = s.Text(13);
  return r;
}

constexpr const char* kColumns =
    "id, time, serial, sensor_type, kind, operation, code, status, user, details, cfg_before, cfg_after, "
    "prev_hash, hash";

std::string Hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

std::string IsoNow() {
  const std::time_t t = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string SensorTypeText(uint8_t code) {
  const int pos = FindSensorType(code);
  if (pos >= 0) return SensorTypes[static_cast<size_t>(pos)].mName;
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", code);
  return text;
}

// --- The operation under way -----------------------------------------------------------

struct TDraft {
  bool mActive = false;
  bool mEnded = false;
  Operator* mOp = nullptr;
  unsigned mSeenAtBegin = 0;
  RServiceRecord mRecord;
};
TDraft gDraft;
int gHolds = 0;
bool gTold = false;

// What a detector holds after a write: the bytes not written are still the ones before, and
// each block ends in the check it computes over the rest of the block.
void HeldAfterWrite(const std::vector<uint8_t>& before, const std::vector<bool>& written, std::vector<uint8_t>& after) {
  for (size_t i = 0; i < after.size() && i < written.size(); ++i)
    if (!written[i]) after[i] = before[i];
  RKVTCFG held{};
  if (!CfgFromImage(after, held)) return;
  FillBlockCRCs(held);
  after = CfgImage(held);
}

void FlushDraft() {
  if (gDraft.mActive && gDraft.mEnded && gDraft.mOp) AppendRecord(*gDraft.mOp, gDraft.mRecord);
  gDraft = TDraft{};
}

void Tell(Operator& op, const std::string& path, const std::string& why) {
  if (gTold) return;
  gTold = true;
  op.message(MessageIcon::Warning, "Service Records",
             "The service record could not be saved\r" + path + "\r" + why +
                 "\rThe operation itself is not affected. Further failures are not shown.");
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

bool ParseDate(const std::string& iso, std::tm& tm) {
  tm = {};
  return iso.size() >= 10 && std::sscanf(iso.c_str(), "%4d-%2d-%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday) == 3 &&
         (tm.tm_year -= 1900, tm.tm_mon -= 1, true);
}

}  // namespace

struct TRecordStore::TImpl {
  sqlite3* mDb = nullptr;
};

TRecordStore::TRecordStore(const std::string& path) : FImpl(new TImpl) {
  try {
    if (sqlite3_open_v2(path.c_str(), &FImpl->mDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
      throw ERecordStore(FImpl->mDb ? sqlite3_errmsg(FImpl->mDb) : "out of memory");
    sqlite3_busy_timeout(FImpl->mDb, 5000);
    Exec(FImpl->mDb, "PRAGMA journal_mode=WAL");
    int version = 0;
    {
      TStatement s(FImpl->mDb, "PRAGMA user_version");
      if (s.Step()) version = static_cast<int>(s.Int(0));
    }
    if (version > kSchemaVersion)
      throw ERecordStore("the file was made by a newer BeamDock (schema " + std::to_string(version) + ")");
    if (version < kSchemaVersion) {
      TTransaction t(FImpl->mDb);
      for (; version < kSchemaVersion; ++version) {
        Exec(FImpl->mDb, Migrations()[static_cast<size_t>(version)].c_str());
      }
      Exec(FImpl->mDb, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
      t.Commit();
    }
  } catch (...) {
    sqlite3_close(FImpl->mDb);
    delete FImpl;
    throw;
  }
}

TRecordStore::~TRecordStore() {
  sqlite3_close(FImpl->mDb);
  delete FImpl;
}

void TRecordStore::Append(RServiceRecord& r) {
  TTransaction t(FImpl->mDb);
  {
    TStatement head(FImpl->mDb, "SELECT head_hash FROM chain WHERE one = 1");
    r.mPrevHash = head.Step() ? head.Text(0) : kNoHash;
  }
  r.mHash = RecordHash(r, r.mPrevHash);
  TStatement s(FImpl->mDb,
               "INSERT INTO records(time, serial, sensor_type, kind, operation, code, status, user, details, "
               "cfg_before, cfg_after, prev_hash, hash) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)");
  s.Bind(1, r.mTime).Bind(2, r.mSerial).Bind(3, r.mSensorType).Bind(4, r.mKind).Bind(5, r.mOperation);
  s.Bind(6, int64_t{r.mCode}).Bind(7, r.mStatus).Bind(8, r.mUser).Bind(9, r.mDetails);
  s.Bind(10, r.mCfgBefore).Bind(11, r.mCfgAfter).Bind(12, r.mPrevHash).Bind(13, r.mHash);
  s.Step();
  r.mId = sqlite3_last_insert_rowid(FImpl->mDb);
  TStatement update(FImpl->mDb, "UPDATE chain SET head_id = ?, head_hash = ? WHERE one = 1");
  update.Bind(1, r.mId).Bind(2, r.mHash).Step();
  t.Commit();
}

std::vector<RServiceRecord> TRecordStore::History(const std::string& serial) const {
  const std::string sql = std::string("SELECT ") + kColumns + " FROM records" +
                          (serial.empty() ? "" : " WHERE serial = ?") + " ORDER BY id DESC";
  TStatement s(FImpl->mDb, sql.c_str());
  if (!serial.empty()) s.Bind(1, serial);
  std::vector<RServiceRecord> out;
  while (s.Step()) out.push_back(RowToRecord(s));
  return out;
}

RChainCheck TRecordStore::Verify() const {
  RChainCheck check;
  TStatement s(FImpl->mDb, (std::string("SELECT ") + kColumns + " FROM records ORDER BY id").c_str());
  std::string expected = kNoHash;
  int64_t lastId = 0;
  while (s.Step()) {
    const RServiceRecord r = RowToRecord(s);
    ++check.mCount;
    if (r.mPrevHash != expected) {
      check = {false, check.mCount, r.mId,
               "record " + std::to_string(r.mId) + ": the record before it was deleted or changed"};
      return check;
    }
    if (RecordHash(r, r.mPrevHash) != r.mHash) {
      check = {false, check.mCount, r.mId, "record " + std::to_string(r.mId) + ": its content was changed"};
      return check;
    }
    expected = r.mHash;
    lastId = r.mId;
  }
  TStatement head(FImpl->mDb, "SELECT head_id, head_hash FROM chain WHERE one = 1");
  const bool hasHead = head.Step();
  if (!hasHead || head.Int(0) != lastId || head.Text(1) != expected)
    check = {false, check.mCount, lastId + 1,
             "the newest records after record " + std::to_string(lastId) + " were deleted"};
  return check;
}

std::string RecordHash(const RServiceRecord& r, const std::string& prevHash) {
  // Each field with its length in front, so no two records share a text.
  std::string content;
  auto add = [&](const std::string& field) { content += std::to_string(field.size()) + ':' + field; };
  add(prevHash);
  add(r.mTime);
  add(r.mSerial);
  add(r.mSensorType);
  add(r.mKind);
  add(r.mOperation);
  add(std::to_string(r.mCode));
  add(r.mStatus);
  add(r.mUser);
  add(r.mDetails);
  add(Hex(r.mCfgBefore.data(), r.mCfgBefore.size()));
  add(Hex(r.mCfgAfter.data(), r.mCfgAfter.size()));
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(content.data(), content.size(), md, &size, EVP_sha256(), nullptr) != 1)
    throw ERecordStore("SHA-256 is not available");
  return Hex(md, size);
}

std::string RServiceRecord::Detail(const std::string& key) const {
  std::istringstream lines(mDetails);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return "";
}

std::string RecordsDatabasePath() {
  if (AppDir.empty()) return "";
  const std::string named = ReadSetting("RECORDS", "Database", "");
  if (named.empty()) return AppDir + "BEAMDOCK.DB";
  return named[0] == '/' ? named : AppDir + named;
}

std::string ComputerUserName() {
  if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) return pw->pw_name;
  if (const char* user = std::getenv("USER"); user && *user) return user;
  return std::to_string(geteuid());
}

std::string TechnicianName() {
  const std::string name = AppDir.empty() ? "" : ReadSetting("RECORDS", "Technician", "");
  return name.empty() ? ComputerUserName() : name;
}

std::string RecordKind(const std::string& op) {
  if (op == "Write KVT Information") return "write";
  if (op == "Calibration" || op == "Sensor Calibration" || op.find("CAL.") != std::string::npos) return "calibration";
  if (op.find("Bump") != std::string::npos) return "bump";
  if (op == "Check Program" || op == "Download Image") return "firmware";
  if (op == "Load Event Log" || op == "Event Log Reset") return "event log";
  if (op == "Read KVT Information" || op == "Read sensor information" || op == "Load Identify" ||
      op == "Read EEPROM data")
    return "read";
  return "service";
}

void RecordBegin(Operator& op, const std::string& operation, const TComKVT& link) {
  FlushDraft();
  gDraft.mActive = true;
  gDraft.mOp = &op;
  gDraft.mSeenAtBegin = link.FSeenCount;
  gDraft.mRecord.mOperation = operation;
}

void RecordDetail(const std::string& key, const std::string& value) {
  if (gDraft.mActive) gDraft.mRecord.mDetails += key + "=" + value + "\n";
}

void RecordConfig(const RKVTCFG& after) {
  if (gDraft.mActive) gDraft.mRecord.mCfgAfter = CfgImage(after);
}

void RecordWrittenBytes(const RKVTCFG& sent, uint16_t address, uint16_t size) {
  if (!gDraft.mActive) return;
  RServiceRecord& r = gDraft.mRecord;
  r.mCfgAfter = CfgImage(sent);
  r.mCfgWritten.resize(r.mCfgAfter.size(), false);
  for (size_t i = address; i < size_t{address} + size && i < r.mCfgWritten.size(); ++i) r.mCfgWritten[i] = true;
}

void RecordEnd(uint8_t code, const std::string& status, const TComKVT& link, bool talked) {
  if (!gDraft.mActive) return;
  if (!talked) {
    gDraft = TDraft{};
    return;
  }
  RServiceRecord& r = gDraft.mRecord;
  if (link.FSeenCount > 0) SetRecordDevice(r, link.FSeenSerial, link.FSeenSensorType);
  // Commands that do not ask the detector who it is get the one an earlier operation met.
  if (link.FSeenCount > 0 && link.FSeenCount == gDraft.mSeenAtBegin) r.mDetails += "serial_from=earlier operation\n";
  r.mCode = code;
  r.mStatus = status;
  if (r.mKind.empty()) r.mKind = RecordKind(r.mOperation);
  if (r.mKind == "bump")
    r.mDetails += std::string("bump=") + (r.mOperation.find("Pass") != std::string::npos ? "PASS" : "FAIL") + "\n";
  gDraft.mEnded = true;
  if (gHolds == 0) FlushDraft();
}

TRecordHold::TRecordHold() { ++gHolds; }
TRecordHold::~TRecordHold() {
  if (--gHolds == 0) FlushDraft();
}

void SetRecordDevice(RServiceRecord& r, const char* serial10, uint8_t sensorType) {
  r.mSerial = FieldText(serial10, 10);
  r.mSensorType = SensorTypeText(sensorType);
}

bool AppendRecord(Operator& op, RServiceRecord r) {
  const std::string path = RecordsDatabasePath();
  if (path.empty()) return false;
  if (r.mTime.empty()) r.mTime = IsoNow();
  if (r.mUser.empty()) r.mUser = ComputerUserName();
  if (r.mKind.empty()) r.mKind = RecordKind(r.mOperation);
  try {
    TRecordStore store(path);
    if (r.mKind == "write" && r.mCfgBefore.empty() && !r.mSerial.empty()) {
      for (const RServiceRecord& known : store.History(r.mSerial))
        if (!known.mCfgAfter.empty()) {
          r.mCfgBefore = known.mCfgAfter;
          break;
        }
    }
    if (r.mKind == "write" && !r.mCfgAfter.empty()) {
      if (r.mCfgBefore.size() == r.mCfgAfter.size()) HeldAfterWrite(r.mCfgBefore, r.mCfgWritten, r.mCfgAfter);
      size_t changed = 0;
      for (size_t i = 0; i < r.mCfgAfter.size() && r.mCfgBefore.size() == r.mCfgAfter.size(); ++i)
        changed += r.mCfgAfter[i] != r.mCfgBefore[i];
      r.mDetails +=
          r.mCfgBefore.empty() ? "cfg_before=unknown\n" : "cfg_bytes_changed=" + std::to_string(changed) + "\n";
    }
    store.Append(r);
    return true;
  } catch (const std::exception& e) {
    Tell(op, path, e.what());
    return false;
  }
}

std::vector<uint8_t> CfgImage(const RKVTCFG& cfg) {
  const auto* p = reinterpret_cast<const uint8_t*>(&cfg);
  return {p, p + sizeof cfg};
}

bool CfgFromImage(const std::vector<uint8_t>& image, RKVTCFG& cfg) {
  if (image.size() != sizeof cfg) return false;
  std::memcpy(&cfg, image.data(), sizeof cfg);
  return true;
}

std::string HistoryCSV(const std::vector<RServiceRecord>& records) {
  std::string out = "Time,Serial,Sensor,Kind,Operation,Code,Status,User,Details\r\n";
  for (const RServiceRecord& r : records) {
    std::string details = r.mDetails;
    while (!details.empty() && details.back() == '\n') details.pop_back();
    for (size_t at; (at = details.find('\n')) != std::string::npos;) details.replace(at, 1, "; ");
    out += CsvField(r.mTime) + ',' + CsvField(r.mSerial) + ',' + CsvField(r.mSensorType) + ',' + CsvField(r.mKind) +
           ',' + CsvField(r.mOperation) + ',' + std::to_string(r.mCode) + ',' + CsvField(r.mStatus) + ',' +
           CsvField(r.mUser) + ',' + CsvField(details) + "\r\n";
  }
  return out;
}

std::optional<RCertificate> CertificateFor(const std::vector<RServiceRecord>& newestFirst,
                                           const std::string& technician) {
  for (const RServiceRecord& r : newestFirst) {
    if (r.mKind != "calibration" || r.mCode != 0 || r.Detail("span") != "OK") continue;
    RCertificate c;
    c.mSerial = r.mSerial;
    c.mSensorType = r.mSensorType;
    c.mSpanGas = r.Detail("span_gas");
    c.mZeroResult = c.mSpanResult = "PASS";
    c.mDateTime = r.mTime;
    c.mTechnician = technician;
    c.mNextDue = "not set";
    c.mNumber = std::to_string(r.mId);
    // The interval is the detector's: this record's configuration, else the newest known.
    RKVTCFG cfg{};
    bool known = CfgFromImage(r.mCfgAfter, cfg);
    for (const RServiceRecord& other : newestFirst)
      if (!known) known = CfgFromImage(other.mCfgAfter, cfg);
    if (c.mSpanGas.empty() && known) {
      char text[32];
      std::snprintf(text, sizeof text, "%.1f", cfg.mSensor.mSpanGas / 10.0);
      c.mSpanGas = text;
      for (const RSensorType& t : SensorTypes)
        if (t.mName == r.mSensorType) c.mSpanGas += " " + t.mUnit;
    }
    std::tm tm{};
    if (known && cfg.mSensor.mCalInterval > 0 && ParseDate(r.mTime, tm)) {
      std::time_t t = timegm(&tm) + static_cast<std::time_t>(cfg.mSensor.mCalInterval);
      std::tm due{};
      gmtime_r(&t, &due);
      char text[16];
      std::strftime(text, sizeof text, "%Y-%m-%d", &due);
      c.mNextDue = text;
    }
    return c;
  }
  return std::nullopt;
}
