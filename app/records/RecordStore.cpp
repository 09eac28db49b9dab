// The store: one SQLite file per station, opened read-only by readers.
#include "app/records/ServiceRecords.h"

#include "app/core/Settings.h"
#include "app/records/StationKey.h"
#include "model/Checksum.h"
#include "model/CsvText.h"
#include "model/DeviceUtils.h"
#include "model/EventLog.h"
#include "model/JsonText.h"
#include "model/SensorTypes.h"
#include "model/TimeText.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

namespace {

// The statements every record runs, prepared once per connection: a store held open between
// records then parses no SQL for them. Keyed by the text's address (literals only).
class TStatementCache {
 public:
  TStatementCache() = default;
  TStatementCache(const TStatementCache&) = delete;
  TStatementCache& operator=(const TStatementCache&) = delete;
  ~TStatementCache() { Clear(); }
  sqlite3_stmt* Get(sqlite3* db, const char* sql) {
    for (const auto& [text, stmt] : FStmts)
      if (text == sql) return stmt;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) return nullptr;
    FStmts.emplace_back(sql, stmt);
    return stmt;
  }
  void Clear() {
    for (const auto& entry : FStmts) sqlite3_finalize(entry.second);
    FStmts.clear();
  }

 private:
  std::vector<std::pair<const char*, sqlite3_stmt*>> FStmts;
};

class TStatement {
 public:
  TStatement(sqlite3* db, const char* sql) : FDb(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &FStmt, nullptr) != SQLITE_OK) Fail("prepare");
  }
  // Borrowed from the cache, and given back reset.
  TStatement(sqlite3* db, TStatementCache& cache, const char* sql) : FDb(db), FCached(true) {
    FStmt = cache.Get(db, sql);
    if (!FStmt) Fail("prepare");
  }
  ~TStatement() {
    if (FCached)
      Reset();
    else
      sqlite3_finalize(FStmt);
  }
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
  void Reset() {
    sqlite3_reset(FStmt);
    sqlite3_clear_bindings(FStmt);
  }
  std::string Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, col));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(FStmt, col))) : std::string();
  }
  int64_t Int(int col) const { return sqlite3_column_int64(FStmt, col); }
  bool IsNull(int col) const { return sqlite3_column_type(FStmt, col) == SQLITE_NULL; }
  sqlite3_stmt* Handle() const { return FStmt; }
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
  bool FCached = false;
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
  TTransaction(sqlite3* db, const char* begin) : FDb(db) { Exec(db, begin); }
  TTransaction(sqlite3* db, TStatementCache& cache, const char* begin) : FDb(db), FCache(&cache) {
    TStatement(db, cache, begin).Step();
  }
  ~TTransaction() {
    if (!FDone) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    if (FCache)
      TStatement(FDb, *FCache, "COMMIT").Step();
    else
      Exec(FDb, "COMMIT");
    FDone = true;
  }

 private:
  sqlite3* FDb;
  TStatementCache* FCache = nullptr;
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
      "CREATE TABLE chain(one INTEGER PRIMARY KEY CHECK(one = 1), head_id INTEGER NOT NULL,"
      " head_hash TEXT NOT NULL);"
      "INSERT INTO chain VALUES(1, 0, '" +
          kNoHash +
          "');"
          "CREATE TRIGGER records_no_update BEFORE UPDATE ON records"
          " BEGIN SELECT RAISE(ABORT, 'records are append-only'); END;"
          "CREATE TRIGGER records_no_delete BEFORE DELETE ON records"
          " BEGIN SELECT RAISE(ABORT, 'records are append-only'); END;",
      // The seals. Records from before them keep seq 0; the chain table keeps their head.
      "ALTER TABLE records ADD COLUMN station TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN seq INTEGER NOT NULL DEFAULT 0;"
      "ALTER TABLE records ADD COLUMN origin TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN product TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN hardware TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN firmware TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN result TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN technician TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN port TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN adapter INTEGER NOT NULL DEFAULT 0;"
      "ALTER TABLE records ADD COLUMN zero TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN span TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN as_found TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN as_left TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN span_gas TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN lot TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN expiry TEXT NOT NULL DEFAULT '';"
      "ALTER TABLE records ADD COLUMN signature TEXT NOT NULL DEFAULT '';"
      "CREATE UNIQUE INDEX records_seq ON records(station, seq) WHERE seq > 0;"
      "CREATE UNIQUE INDEX records_origin ON records(origin) WHERE origin <> '';",
  };
}

constexpr const char* kColumns =
    "id, time, serial, sensor_type, kind, operation, code, status, user, details, cfg_before, cfg_after, "
    "prev_hash, hash, station, seq, origin, product, hardware, firmware, result, technician, port, adapter, "
    "zero, span, as_found, as_left, span_gas, lot, expiry, signature";

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
  r.mStation = s.Text(14);
  r.mSeq = s.Int(15);
  r.mOrigin = s.Text(16);
  r.mProduct = s.Text(17);
  r.mHardware = s.Text(18);
  r.mFirmware = s.Text(19);
  r.mResult = s.Text(20);
  r.mTechnician = s.Text(21);
  r.mPort = s.Text(22);
  r.mAdapter = s.Int(23) != 0;
  r.mZero = s.Text(24);
  r.mSpan = s.Text(25);
  r.mAsFound = s.Text(26);
  r.mAsLeft = s.Text(27);
  r.mSpanGas = s.Text(28);
  r.mLot = s.Text(29);
  r.mExpiry = s.Text(30);
  r.mSignature = s.Text(31);
  return r;
}


// SQLite's URI form of a path, so that a read-only open can ask for the file as it is.
std::string FileUri(const std::string& path, const char* query) {
  std::string out = "file:";
  for (unsigned char c : path) {
    if (c == '?' || c == '#' || c == '%' || c < 0x21) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + query;
}

}  // namespace

// --- The store ------------------------------------------------------------------------------

struct TRecordStore::TImpl {
  sqlite3* mDb = nullptr;
  TStatementCache mCache;
};

TRecordStore::TRecordStore(const std::string& path, TMode mode) : FImpl(new TImpl) {
  try {
    if (mode == TMode::Read) {
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) throw ERecordStore("no records store: " + std::string(std::strerror(errno)));
      // Read-only, never created. A copy whose folder this account cannot write has no room
      // for the shared-memory file of the write-ahead log: then it is read as it lies.
      for (const char* query : {"?mode=ro", "?mode=ro&immutable=1"}) {
        sqlite3_close(FImpl->mDb);
        FImpl->mDb = nullptr;
        if (sqlite3_open_v2(FileUri(path, query).c_str(), &FImpl->mDb, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                            nullptr) != SQLITE_OK)
          continue;
        sqlite3_busy_timeout(FImpl->mDb, 5000);
        if (sqlite3_exec(FImpl->mDb, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK)
          break;
      }
      int version = 0;
      TStatement s(FImpl->mDb, "PRAGMA user_version");
      if (s.Step()) version = static_cast<int>(s.Int(0));
      if (version != kSchemaVersion && version != 1)
        throw ERecordStore(version > kSchemaVersion ? "the file was made by a newer BeamDock"
                                                    : "the file holds no service records");
      if (version == 1) throw ERecordStore("the store is from an earlier BeamDock: open it once for writing");
      return;
    }
    if (sqlite3_open_v2(path.c_str(), &FImpl->mDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
      throw ERecordStore(FImpl->mDb ? sqlite3_errmsg(FImpl->mDb) : "out of memory");
    sqlite3_busy_timeout(FImpl->mDb, 5000);
    Exec(FImpl->mDb, "PRAGMA journal_mode=WAL");
    // The version is read inside the write transaction, so two first writers cannot both
    // create the tables.
    TTransaction t(FImpl->mDb, "BEGIN IMMEDIATE");
    int version = 0;
    {
      TStatement s(FImpl->mDb, "PRAGMA user_version");
      if (s.Step()) version = static_cast<int>(s.Int(0));
    }
    if (version > kSchemaVersion)
      throw ERecordStore("the file was made by a newer BeamDock (schema " + std::to_string(version) + ")");
    // A store already up to date costs no write here: the transaction only read.
    if (version < kSchemaVersion) {
      for (; version < kSchemaVersion; ++version)
        Exec(FImpl->mDb, Migrations()[static_cast<size_t>(version)].c_str());
      Exec(FImpl->mDb, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
    }
    t.Commit();
  } catch (...) {
    sqlite3_close(FImpl->mDb);
    delete FImpl;
    throw;
  }
}

void TRecordStore::ForgetPages() const { sqlite3_db_release_memory(FImpl->mDb); }

void TRecordStore::LeaveLogOnClose() { sqlite3_db_config(FImpl->mDb, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr); }

void TRecordStore::Checkpoint() {
  // Passive: a reader in the middle of a list is not waited for; what it holds back is
  // copied by the next record's checkpoint.
  sqlite3_wal_checkpoint_v2(FImpl->mDb, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

TRecordStore::~TRecordStore() {
  FImpl->mCache.Clear();
  sqlite3_close(FImpl->mDb);
  delete FImpl;
}

std::vector<RServiceRecord> TRecordStore::History(const std::string& serial) const {
  // In the chain's order, newest first, and selected by the serial as the seal reads it: the
  // row id and a column's storage class are not sealed, so they decide nothing shown.
  std::vector<RServiceRecord> chain = Chain();
  std::vector<RServiceRecord> out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if (serial.empty() || it->mSerial == serial) out.push_back(std::move(*it));
  return out;
}

std::vector<RServiceRecord> TRecordStore::Chain(std::string* earlierHead) const {
  TTransaction t(FImpl->mDb, "BEGIN");
  std::vector<RServiceRecord> out;
  {
    TStatement s(FImpl->mDb, (std::string("SELECT ") + kColumns + " FROM records ORDER BY seq > 0, seq, id").c_str());
    while (s.Step()) out.push_back(RowToRecord(s));
  }
  // The order read back as numbers: a sequence stored as text must not reorder the chain.
  std::stable_sort(out.begin(), out.end(), [](const RServiceRecord& a, const RServiceRecord& b) {
    return std::make_pair(a.Sealed(), a.mSeq) < std::make_pair(b.Sealed(), b.mSeq);
  });
  if (earlierHead) {
    TStatement head(FImpl->mDb, "SELECT head_id, head_hash FROM chain WHERE one = 1");
    *earlierHead = head.Step() ? std::to_string(head.Int(0)) + " " + head.Text(1) : "";
  }
  t.Commit();
  return out;
}

std::vector<RServiceRecord> TRecordStore::Sealed(int64_t after) const {
  TStatement s(FImpl->mDb, (std::string("SELECT ") + kColumns + " FROM records WHERE seq > ? ORDER BY seq").c_str());
  s.Bind(1, after);
  std::vector<RServiceRecord> out;
  while (s.Step()) out.push_back(RowToRecord(s));
  return out;
}

std::vector<uint8_t> TRecordStore::LatestConfig(const std::string& serial) const {
  TStatement s(FImpl->mDb,
               "SELECT cfg_after FROM records WHERE CAST(serial AS TEXT) = ? AND cfg_after IS NOT NULL"
               " ORDER BY seq DESC, id DESC LIMIT 1");
  s.Bind(1, serial);
  return s.Step() ? s.Blob(0) : std::vector<uint8_t>();
}

bool TRecordStore::Has(const std::string& origin) const {
  // The origin index leaves out empty origins: the query says so, or every call reads the table.
  TStatement s(FImpl->mDb, FImpl->mCache, "SELECT 1 FROM records WHERE origin = ? AND origin <> ''");
  s.Bind(1, origin);
  return s.Step();
}

RServiceRecord TRecordStore::Last() const {
  // The highest sequence among every station's records, one station at a time through the
  // (station, seq) index: sorting every sealed row would make each record cost more as the
  // store grows. A station is carried over as the value it is stored as.
  RServiceRecord last;
  last.mHash = kNoHash;
  std::unique_ptr<sqlite3_value, void (*)(sqlite3_value*)> station(nullptr, sqlite3_value_free);
  for (;;) {
    TStatement next(FImpl->mDb, FImpl->mCache,
                    station ? "SELECT min(station) FROM records WHERE seq > 0 AND station > ?"
                            : "SELECT min(station) FROM records WHERE seq > 0");
    if (station) sqlite3_bind_value(next.Handle(), 1, station.get());
    station.reset(next.Step() && !next.IsNull(0) ? sqlite3_value_dup(sqlite3_column_value(next.Handle(), 0)) : nullptr);
    if (!station) break;
    TStatement top(FImpl->mDb, FImpl->mCache,
                   "SELECT seq, hash FROM records WHERE station = ? AND seq > 0 ORDER BY seq DESC LIMIT 1");
    sqlite3_bind_value(top.Handle(), 1, station.get());
    if (top.Step() && top.Int(0) > last.mSeq) last.mSeq = top.Int(0), last.mHash = top.Text(1);
  }
  if (last.mSeq == 0) last.mHash = EarlierHead();
  return last;
}

std::string TRecordStore::EarlierHead() const {
  TStatement earlier(FImpl->mDb, FImpl->mCache, "SELECT hash FROM records WHERE seq = 0 ORDER BY id DESC LIMIT 1");
  return earlier.Step() ? earlier.Text(0) : kNoHash;
}

void TRecordStore::Insert(const std::vector<RServiceRecord>& records) {
  TTransaction t(FImpl->mDb, FImpl->mCache, "BEGIN IMMEDIATE");
  TStatement s(FImpl->mDb, FImpl->mCache,
               "INSERT INTO records(time, serial, sensor_type, kind, operation, code, status, user, details, "
               "cfg_before, cfg_after, prev_hash, hash, station, seq, origin, product, hardware, firmware, result, "
               "technician, port, adapter, zero, span, as_found, as_left, span_gas, lot, expiry, signature) "
               "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  for (const RServiceRecord& r : records) {
    s.Bind(1, r.mTime).Bind(2, r.mSerial).Bind(3, r.mSensorType).Bind(4, r.mKind).Bind(5, r.mOperation);
    s.Bind(6, int64_t{r.mCode}).Bind(7, r.mStatus).Bind(8, r.mUser).Bind(9, r.mDetails);
    s.Bind(10, r.mCfgBefore).Bind(11, r.mCfgAfter).Bind(12, r.mPrevHash).Bind(13, r.mHash);
    s.Bind(14, r.mStation).Bind(15, r.mSeq).Bind(16, r.mOrigin).Bind(17, r.mProduct).Bind(18, r.mHardware);
    s.Bind(19, r.mFirmware).Bind(20, r.mResult).Bind(21, r.mTechnician).Bind(22, r.mPort);
    s.Bind(23, int64_t{r.mAdapter}).Bind(24, r.mZero).Bind(25, r.mSpan).Bind(26, r.mAsFound).Bind(27, r.mAsLeft);
    s.Bind(28, r.mSpanGas).Bind(29, r.mLot).Bind(30, r.mExpiry).Bind(31, r.mSignature);
    s.Step();
    s.Reset();
  }
  t.Commit();
}

