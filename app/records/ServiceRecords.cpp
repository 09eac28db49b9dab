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

#include <array>
#include <fcntl.h>
#include <openssl/rand.h>
#include <pwd.h>
#include <sqlite3.h>
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
  void Reset() {
    sqlite3_reset(FStmt);
    sqlite3_clear_bindings(FStmt);
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
  TTransaction(sqlite3* db, const char* begin) : FDb(db) { Exec(db, begin); }
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


std::string RandomHex(size_t bytes) {
  std::vector<uint8_t> b(bytes);
  if (RAND_bytes(b.data(), static_cast<int>(bytes)) != 1) throw ERecordStore("no random numbers");
  return HexOf(b.data(), b.size());
}

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

// --- JSON of one record: a flat object of strings, numbers and booleans ----------------------

// Values of a flat JSON object as text (strings unescaped, numbers and literals as written);
// nullopt for anything else.
std::optional<std::map<std::string, std::string>> ParseFlatJson(const std::string& s) {
  std::map<std::string, std::string> out;
  size_t i = 0;
  auto ws = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
  };
  auto str = [&](std::string& v) -> bool {
    if (i >= s.size() || s[i] != '"') return false;
    for (++i; i < s.size(); ++i) {
      char c = s[i];
      if (c == '"') {
        ++i;
        return true;
      }
      if (c != '\\') {
        v += c;
        continue;
      }
      if (++i >= s.size()) return false;
      switch (s[i]) {
        case 'n': v += '\n'; break;
        case 'r': v += '\r'; break;
        case 't': v += '\t'; break;
        case 'u': {
          if (i + 4 >= s.size()) return false;
          const unsigned long code = std::strtoul(s.substr(i + 1, 4).c_str(), nullptr, 16);
          if (code > 0xFF) return false;  // only what JsonString writes: one byte each
          v += static_cast<char>(code);
          i += 4;
          break;
        }
        default: v += s[i];
      }
    }
    return false;
  };
  ws();
  if (i >= s.size() || s[i++] != '{') return std::nullopt;
  ws();
  if (i < s.size() && s[i] == '}') return out;
  for (;;) {
    std::string key, value;
    ws();
    if (!str(key)) return std::nullopt;
    ws();
    if (i >= s.size() || s[i++] != ':') return std::nullopt;
    ws();
    if (i < s.size() && s[i] == '"') {
      if (!str(value)) return std::nullopt;
    } else {
      while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ' ') value += s[i++];
      if (value.empty()) return std::nullopt;
    }
    out[key] = value;
    ws();
    if (i >= s.size()) return std::nullopt;
    if (s[i] == '}') return out;
    if (s[i++] != ',') return std::nullopt;
  }
}

std::string OutboxPath(const std::string& store) { return store + ".outbox"; }

void AppendOutbox(const std::string& store, const RServiceRecord& r) {
  const std::string path = OutboxPath(store);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw ERecordStore(path + ": " + std::strerror(errno));
  const std::string line = RecordJson(r) + "\n";
  bool ok = true;
  for (size_t done = 0; ok && done < line.size();) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n > 0)
      done += static_cast<size_t>(n);
    else if (errno != EINTR)
      ok = false;
  }
  ok = ok && ::fsync(fd) == 0;
  const std::string why = std::strerror(errno);
  ::close(fd);
  if (!ok) throw ERecordStore(path + ": " + why);
}

std::string ResultFromCode(uint8_t code, const std::string& status, const std::string& operation) {
  if (code == 0) return "PASS";
  std::string suffix = status.rfind(operation, 0) == 0 ? status.substr(operation.size()) : status;
  while (!suffix.empty() && (suffix[0] == '.' || suffix[0] == ' ')) suffix.erase(0, 1);
  return suffix.empty() ? "FAIL" : suffix;
}

}  // namespace

// --- The store ------------------------------------------------------------------------------

struct TRecordStore::TImpl {
  sqlite3* mDb = nullptr;
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

TRecordStore::~TRecordStore() {
  sqlite3_close(FImpl->mDb);
  delete FImpl;
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

std::vector<RServiceRecord> TRecordStore::Chain(std::string* earlierHead) const {
  TTransaction t(FImpl->mDb, "BEGIN");
  std::vector<RServiceRecord> out;
  {
    TStatement s(FImpl->mDb, (std::string("SELECT ") + kColumns + " FROM records ORDER BY seq > 0, seq, id").c_str());
    while (s.Step()) out.push_back(RowToRecord(s));
  }
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
               "SELECT cfg_after FROM records WHERE serial = ? AND cfg_after IS NOT NULL ORDER BY id DESC LIMIT 1");
  s.Bind(1, serial);
  return s.Step() ? s.Blob(0) : std::vector<uint8_t>();
}

bool TRecordStore::Has(const std::string& origin) const {
  TStatement s(FImpl->mDb, "SELECT 1 FROM records WHERE origin = ?");
  s.Bind(1, origin);
  return s.Step();
}

RServiceRecord TRecordStore::Last() const {
  RServiceRecord last;
  last.mHash = kNoHash;
  TStatement sealed(FImpl->mDb, "SELECT seq, hash FROM records WHERE seq > 0 ORDER BY seq DESC LIMIT 1");
  if (sealed.Step()) {
    last.mSeq = sealed.Int(0);
    last.mHash = sealed.Text(1);
    return last;
  }
  TStatement earlier(FImpl->mDb, "SELECT hash FROM records ORDER BY id DESC LIMIT 1");
  if (earlier.Step()) last.mHash = earlier.Text(0);
  return last;
}

void TRecordStore::Insert(const std::vector<RServiceRecord>& records) {
  TTransaction t(FImpl->mDb, "BEGIN IMMEDIATE");
  TStatement s(FImpl->mDb,
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

// --- Seals and their check ------------------------------------------------------------------

namespace {

constexpr const char* kSealTag = "beamdock-record-2";

// The text fields of the seal, in their order; the numbers and images follow them.
template <class R>
auto SealedStrings(R& r) {
  return std::array{&r.mStation, &r.mPrevHash, &r.mTime,      &r.mOrigin,    &r.mSerial, &r.mSensorType,
                    &r.mProduct, &r.mHardware, &r.mFirmware,  &r.mKind,      &r.mOperation, &r.mResult,
                    &r.mStatus,  &r.mTechnician, &r.mUser,    &r.mPort,      &r.mZero,   &r.mSpan,
                    &r.mAsFound, &r.mAsLeft,   &r.mSpanGas,   &r.mLot,       &r.mExpiry, &r.mDetails};
}

std::optional<int64_t> DecimalOf(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '-' && i == 0 && text.size() > 1) continue;
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return text[0] == '-' ? -n : n;
}

}  // namespace

void AppendField(std::string& text, const std::string& field) {
  text += std::to_string(field.size()) + ':' + field;
}

std::string SealedText(const RServiceRecord& r) {
  std::string content;
  auto add = [&](const std::string& field) { AppendField(content, field); };
  add(kSealTag);
  for (const std::string* f : SealedStrings(r)) add(*f);
  add(std::to_string(r.mSeq));
  add(std::to_string(r.mCode));
  add(r.mAdapter ? "1" : "0");
  add(HexOf(r.mCfgBefore.data(), r.mCfgBefore.size()));
  add(HexOf(r.mCfgAfter.data(), r.mCfgAfter.size()));
  return content;
}

std::optional<RServiceRecord> RecordFromSealedText(const std::string& text) {
  std::vector<std::string> fields;
  for (size_t at = 0; at < text.size();) {
    const size_t colon = text.find(':', at);
    if (colon == std::string::npos || colon == at || colon - at > 9) return std::nullopt;
    const std::optional<int64_t> size = DecimalOf(text.substr(at, colon - at));
    if (!size || *size < 0 || static_cast<uint64_t>(*size) > text.size() - colon - 1) return std::nullopt;
    fields.push_back(text.substr(colon + 1, static_cast<size_t>(*size)));
    at = colon + 1 + static_cast<size_t>(*size);
  }
  RServiceRecord r;
  const auto strings = SealedStrings(r);
  if (fields.size() != strings.size() + 6 || fields[0] != kSealTag) return std::nullopt;
  for (size_t i = 0; i < strings.size(); ++i) *strings[i] = fields[i + 1];
  const size_t n = strings.size() + 1;
  const std::optional<int64_t> seq = DecimalOf(fields[n]), code = DecimalOf(fields[n + 1]);
  if (!seq || *seq <= 0 || !code || *code < INT32_MIN || *code > INT32_MAX) return std::nullopt;
  if (fields[n + 2] != "0" && fields[n + 2] != "1") return std::nullopt;
  r.mSeq = *seq;
  r.mCode = static_cast<int>(*code);
  r.mAdapter = fields[n + 2] == "1";
  r.mCfgBefore = BytesOfHex(fields[n + 3]);
  r.mCfgAfter = BytesOfHex(fields[n + 4]);
  if (r.mCfgBefore.size() * 2 != fields[n + 3].size() || r.mCfgAfter.size() * 2 != fields[n + 4].size())
    return std::nullopt;
  r.mHash = Sha256Hex(text);
  return r;
}

std::string EarlierRecordHash(const RServiceRecord& r, const std::string& prevHash) {
  std::string content;
  auto add = [&](const std::string& field) { AppendField(content, field); };
  add(prevHash);
  for (const std::string* f : {&r.mTime, &r.mSerial, &r.mSensorType, &r.mKind, &r.mOperation}) add(*f);
  add(std::to_string(r.mCode));
  add(r.mStatus);
  add(r.mUser);
  add(r.mDetails);
  add(HexOf(r.mCfgBefore.data(), r.mCfgBefore.size()));
  add(HexOf(r.mCfgAfter.data(), r.mCfgAfter.size()));
  return Sha256Hex(content);
}

RChainCheck VerifyChain(const std::vector<RServiceRecord>& chain, const TStationKey* key,
                        const std::optional<RSealNote>& note) {
  RChainCheck check;
  auto broken = [&](int64_t at, const std::string& why) {
    check.mIntact = false;
    check.mBroken = at;
    check.mWhy = why;
    return check;
  };
  std::string prev = kNoHash;
  int64_t expected = 1;
  std::map<int64_t, std::string> digests;
  for (const RServiceRecord& r : chain) {
    if (!r.Sealed()) {
      if (expected > 1) return broken(r.mId, "an unsealed record " + std::to_string(r.mId) + " stands among the sealed ones");
      if (r.mPrevHash != prev || EarlierRecordHash(r, prev) != r.mHash)
        return broken(r.mId, "earlier record " + std::to_string(r.mId) + ": it or the one before it was changed");
      prev = r.mHash;
      ++check.mEarlier;
      continue;
    }
    const std::string n = std::to_string(r.mSeq);
    if (r.mSeq > expected) return broken(expected, "record " + std::to_string(expected) + " is missing");
    if (r.mSeq < expected) return broken(r.mSeq, "record " + n + " stands twice or out of order");
    if (!key) return broken(r.mSeq, "record " + n + " is sealed, and the station's key is missing");
    if (r.mStation != key->Id()) return broken(r.mSeq, "record " + n + " was sealed by another station (" + r.mStation + ")");
    if (r.mPrevHash != prev) return broken(r.mSeq, "record " + n + ": the record before it was changed or replaced");
    if (Sha256Hex(SealedText(r)) != r.mHash) return broken(r.mSeq, "record " + n + ": its content was changed");
    if (!key->Check(r.mHash, r.mSignature)) return broken(r.mSeq, "record " + n + ": its seal is not this station's");
    digests[r.mSeq] = r.mHash;
    prev = r.mHash;
    ++expected;
    ++check.mCount;
  }
  if (note) {
    if (note->mSeq < 0) return broken(0, "the station's note of its last record cannot be read");
    if (note->mSeq >= expected)
      return broken(expected, "the store is older than the station last wrote: it ends at record " +
                                  std::to_string(expected - 1) + ", the station wrote record " +
                                  std::to_string(note->mSeq));
    if (note->mSeq > 0 && digests[note->mSeq] != note->mDigest)
      return broken(note->mSeq, "record " + std::to_string(note->mSeq) +
                                    " is not the one the station wrote: the store was replaced");
  }
  return check;
}

RChainCheck VerifyStore(const std::string& path, std::vector<RServiceRecord>* verified) {
  RChainCheck bad;
  bad.mIntact = false;
  if (path.empty()) return bad.mWhy = "no start folder", bad;
  // The note first: it only grows after the store has, so a store read later is never behind it.
  const std::optional<RSealNote> note = ReadSealNote(path);
  std::string head;
  std::vector<RServiceRecord> chain;
  try {
    chain = TRecordStore(path, TRecordStore::TMode::Read).Chain(&head);
  } catch (const ERecordStore& e) {
    bad.mWhy = path + ": " + e.what();
    bad.mUnreadable = true;
    return bad;
  }
  std::optional<TStationKey> key;
  try {
    key = TStationKey::PublicOf(path);
  } catch (const EStationKey& e) {
    bad.mWhy = path + ".pub: " + e.what();
    return bad;
  }
  const bool anySealed = !chain.empty() && chain.back().Sealed();
  if (!key && anySealed) return bad.mWhy = "the station's key beside the store is missing", bad;
  if (!note && anySealed) return bad.mWhy = "the station's note of its last record is missing", bad;
  RChainCheck check = VerifyChain(chain, key ? &*key : nullptr, note);
  if (!check.mIntact) return check;
  // The earlier chain's head: a deleted newest earlier record leaves the head naming it.
  int64_t lastEarlier = 0;
  std::string lastEarlierHash = kNoHash;
  for (const RServiceRecord& r : chain)
    if (!r.Sealed()) lastEarlier = r.mId, lastEarlierHash = r.mHash;
  if (!head.empty() && head != std::to_string(lastEarlier) + " " + lastEarlierHash) {
    check.mIntact = false;
    check.mBroken = lastEarlier + 1;
    check.mWhy = "the newest earlier records after record " + std::to_string(lastEarlier) + " were deleted";
  }
  if (check.mIntact && verified) *verified = std::move(chain);
  return check;
}

// --- Committing -----------------------------------------------------------------------------

std::vector<RServiceRecord> OutboxRecords(const std::string& path) {
  std::vector<RServiceRecord> out;
  std::ifstream in(OutboxPath(path), std::ios::binary);
  for (std::string line; std::getline(in, line);)
    if (std::optional<RServiceRecord> r = RecordFromJson(line)) out.push_back(*r);
  return out;
}

TRecordFate CommitRecordTo(const std::string& path, RServiceRecord r, std::string* why) {
  if (path.empty()) return TRecordFate::NotRecorded;
  if (r.mTime.empty()) r.mTime = UtcIsoText(std::time(nullptr));
  if (r.mUser.empty()) r.mUser = ComputerUserName();
  if (r.mTechnician.empty()) r.mTechnician = TechnicianName();
  if (r.mKind.empty()) r.mKind = RecordKind(r.mOperation);
  try {
    if (r.mOrigin.empty()) r.mOrigin = RandomHex(16);
    TStationLock lock(path);
    const TStationKey key = TStationKey::OpenOrCreate(path);
    TRecordStore store(path, TRecordStore::TMode::Write);
    std::vector<RServiceRecord> batch = OutboxRecords(path);
    batch.push_back(r);
    RServiceRecord last = store.Last();
    const std::optional<RSealNote> note = ReadSealNote(path);
    std::vector<RServiceRecord> sealed;
    for (RServiceRecord& b : batch) {
      if (store.Has(b.mOrigin)) continue;  // moved in before a crash emptied the outbox
      if (b.mKind == "write" && b.mCfgBefore.empty() && !b.mSerial.empty()) b.mCfgBefore = store.LatestConfig(b.mSerial);
      if (b.mKind == "write" && !b.mCfgAfter.empty() && b.Detail("cfg_bytes_changed").empty()) {
        if (b.mCfgBefore.size() == b.mCfgAfter.size()) HeldAfterWrite(b.mCfgBefore, b.mCfgWritten, b.mCfgAfter);
        size_t changed = 0;
        for (size_t i = 0; i < b.mCfgAfter.size() && b.mCfgBefore.size() == b.mCfgAfter.size(); ++i)
          changed += b.mCfgAfter[i] != b.mCfgBefore[i];
        b.mDetails +=
            b.mCfgBefore.empty() ? "cfg_before=unknown\n" : "cfg_bytes_changed=" + std::to_string(changed) + "\n";
      }
      b.mStation = key.Id();
      b.mSeq = ++last.mSeq;
      b.mPrevHash = last.mHash;
      b.mHash = Sha256Hex(SealedText(b));
      b.mSignature = key.Sign(b.mHash);
      last.mHash = b.mHash;
      sealed.push_back(b);
    }
    store.Insert(sealed);
    if (!note || note->mSeq < last.mSeq) WriteSealNote(path, {last.mSeq, last.mHash});
    // An outbox left behind costs nothing: its records are stored once, by their origin.
    if (batch.size() > 1) {
      [[maybe_unused]] const int emptied = ::truncate(OutboxPath(path).c_str(), 0);
    }
    return TRecordFate::Stored;
  } catch (const std::exception& e) {
    std::string reason = e.what();
    try {
      AppendOutbox(path, r);
      if (why) *why = reason;
      return TRecordFate::Outbox;
    } catch (const std::exception& e2) {
      if (why) *why = reason + "; " + e2.what();
      return TRecordFate::Lost;
    }
  }
}

TRecordFate CommitRecord(Operator& op, RServiceRecord r) {
  std::string why;
  const std::string path = RecordsDatabasePath();
  const TRecordFate fate = CommitRecordTo(path, std::move(r), &why);
  if (fate == TRecordFate::Lost) op.recordNotKept(path, why);
  return fate;
}

// --- One operation's record -----------------------------------------------------------------

TOperationRecord::TOperationRecord(const std::string& operation) { FRecord.mOperation = operation; }

void TOperationRecord::Detail(const std::string& key, const std::string& value) {
  FRecord.mDetails += key + "=" + value + "\n";
}

void TOperationRecord::Identity(const RKVTIdenty& id) {
  Device(id.mSerial, id.mSensor);
  FRecord.mProduct = GetProductName(id.mPID);
  FRecord.mHardware = HWVersionText(id.mHW);
  FRecord.mFirmware = FWVersionText(id.mSW);
}

void TOperationRecord::Device(const char* serial10, uint8_t sensorType) {
  SetRecordDevice(FRecord, serial10, sensorType);
  FHasDevice = true;
}

void TOperationRecord::Config(const RKVTCFG& after) {
  FRecord.mCfgAfter = CfgImage(after);
  if (FRecord.mHardware.empty()) FRecord.mHardware = HWVersionText(after.mUnit.mHWVersion);
  if (FRecord.mFirmware.empty()) FRecord.mFirmware = FWVersionText(after.mUnit.mFWVersion);
}

void TOperationRecord::WrittenBytes(const RKVTCFG& sent, uint16_t address, uint16_t size) {
  RServiceRecord& r = FRecord;
  r.mCfgAfter = CfgImage(sent);
  r.mCfgWritten.resize(r.mCfgAfter.size(), false);
  for (size_t i = address; i < size_t{address} + size && i < r.mCfgWritten.size(); ++i) r.mCfgWritten[i] = true;
}

void TOperationRecord::Port(const std::string& description, bool adapter) {
  FRecord.mPort = description;
  FRecord.mAdapter = adapter;
}

void TOperationRecord::End(uint8_t code, const std::string& status, bool talked) {
  RServiceRecord& r = FRecord;
  r.mCode = code;
  r.mStatus = status;
  if (r.mKind.empty()) r.mKind = RecordKind(r.mOperation);
  if (r.mResult.empty()) {
    r.mResult = ResultFromCode(code, status, r.mOperation);
    // A bump test sent as failed is a detector that failed its bump.
    if (code == 0 && r.mKind == "bump" && r.mOperation.find("Fail") != std::string::npos) r.mResult = "FAIL";
  }
  FEnded = true;
  FTalked = talked;
}

TRecordFate CommitOperationRecord(Operator& op, TOperationRecord& record) {
  if (!record.Ended() || !record.Talked()) return TRecordFate::NotRecorded;
  return CommitRecord(op, record.Data());
}

// --- Texts ----------------------------------------------------------------------------------

std::string RServiceRecord::Detail(const std::string& key) const {
  std::istringstream lines(mDetails);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return "";
}

std::string RecordsDatabasePath() {
  if (AppDir.empty()) return "";
  const std::string named = AppSettings().ReadString("RECORDS", "Database", "");
  if (named.empty()) return AppDir + "BEAMDOCK.DB";
  return named[0] == '/' ? named : AppDir + named;
}

std::string ComputerUserName() {
  if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) return pw->pw_name;
  if (const char* user = std::getenv("USER"); user && *user) return user;
  return std::to_string(geteuid());
}

std::string TechnicianName() {
  const std::string name = AppDir.empty() ? "" : AppSettings().ReadString("RECORDS", "Technician", "");
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

std::string SensorTypeText(uint8_t code) {
  const int pos = FindSensorType(code);
  if (pos >= 0) return SensorTypes[static_cast<size_t>(pos)].mName;
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", code);
  return text;
}

void SetRecordDevice(RServiceRecord& r, const char* serial10, uint8_t sensorType) {
  r.mSerial = FieldText(serial10, 10);
  r.mSensorType = SensorTypeText(sensorType);
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

std::string LocalTimeText(const std::string& utcIso) {
  const std::optional<std::time_t> t = UtcTimeOf(utcIso);
  return t ? LocalTimeText(*t) : utcIso;
}

std::string HistoryCSV(const std::vector<RServiceRecord>& records) {
  std::string out =
      "Time,Serial,Sensor,Kind,Operation,Result,Code,Status,Technician,User,Station,Record,Port,Zero,Span,"
      "As found,As left,Span gas,Lot,Expiry,Details\r\n";
  for (const RServiceRecord& r : records) {
    std::string details = r.mDetails;
    while (!details.empty() && details.back() == '\n') details.pop_back();
    for (size_t at; (at = details.find('\n')) != std::string::npos;) details.replace(at, 1, "; ");
    const std::string fields[] = {LocalTimeText(r.mTime), r.mSerial,   r.mSensorType, r.mKind,   r.mOperation,
                                  r.mResult,             std::to_string(r.mCode),     r.mStatus, r.mTechnician,
                                  r.mUser,               r.mStation,   r.Sealed() ? std::to_string(r.mSeq) : "earlier",
                                  r.mPort,               r.mZero,      r.mSpan,       r.mAsFound, r.mAsLeft,
                                  r.mSpanGas,            r.mLot,       r.mExpiry,     details};
    bool first = true;
    for (const std::string& f : fields) {
      if (!first) out += ',';
      out += CsvQuoted(f);
      first = false;
    }
    out += "\r\n";
  }
  return out;
}

namespace {
// The text fields of a record under their names in an export, in the order they are written.
using TTextField = std::pair<const char*, std::string RServiceRecord::*>;
constexpr TTextField kTextFields[] = {
    {"station", &RServiceRecord::mStation},       {"time", &RServiceRecord::mTime},
    {"origin", &RServiceRecord::mOrigin},         {"serial", &RServiceRecord::mSerial},
    {"sensor_type", &RServiceRecord::mSensorType}, {"product", &RServiceRecord::mProduct},
    {"hardware", &RServiceRecord::mHardware},     {"firmware", &RServiceRecord::mFirmware},
    {"kind", &RServiceRecord::mKind},             {"operation", &RServiceRecord::mOperation},
    {"result", &RServiceRecord::mResult},         {"status", &RServiceRecord::mStatus},
    {"technician", &RServiceRecord::mTechnician}, {"user", &RServiceRecord::mUser},
    {"port", &RServiceRecord::mPort},             {"zero", &RServiceRecord::mZero},
    {"span", &RServiceRecord::mSpan},             {"as_found", &RServiceRecord::mAsFound},
    {"as_left", &RServiceRecord::mAsLeft},        {"span_gas", &RServiceRecord::mSpanGas},
    {"lot", &RServiceRecord::mLot},               {"expiry", &RServiceRecord::mExpiry},
    {"details", &RServiceRecord::mDetails},       {"prev_hash", &RServiceRecord::mPrevHash},
    {"hash", &RServiceRecord::mHash},             {"signature", &RServiceRecord::mSignature},
};
}  // namespace

std::string RecordJson(const RServiceRecord& r) {
  std::string out = "{\"seq\":" + std::to_string(r.mSeq) + ",\"code\":" + std::to_string(r.mCode) +
                    ",\"adapter\":" + (r.mAdapter ? "true" : "false");
  auto field = [&](const char* name, const std::string& text) { out += ',' + JsonString(name) + ':' + JsonString(text); };
  for (const auto& [name, member] : kTextFields) field(name, r.*member);
  field("cfg_before", HexOf(r.mCfgBefore.data(), r.mCfgBefore.size()));
  field("cfg_after", HexOf(r.mCfgAfter.data(), r.mCfgAfter.size()));
  std::string written;
  for (bool w : r.mCfgWritten) written += w ? '1' : '0';
  if (!written.empty()) field("cfg_written", written);
  return out + "}";
}

std::optional<RServiceRecord> RecordFromJson(const std::string& line) {
  const auto values = ParseFlatJson(line);
  if (!values || !values->count("hash") || !values->count("operation")) return std::nullopt;
  auto get = [&](const char* k) {
    const auto it = values->find(k);
    return it == values->end() ? std::string() : it->second;
  };
  RServiceRecord r;
  for (const auto& [name, member] : kTextFields) r.*member = get(name);
  r.mSeq = std::strtoll(get("seq").c_str(), nullptr, 10);
  r.mCode = static_cast<int>(std::strtol(get("code").c_str(), nullptr, 10));
  r.mAdapter = get("adapter") == "true";
  r.mCfgBefore = BytesOfHex(get("cfg_before"));
  r.mCfgAfter = BytesOfHex(get("cfg_after"));
  for (char c : get("cfg_written")) r.mCfgWritten.push_back(c == '1');
  return r;
}

void ExportRecords(const std::string& storePath, const std::string& file) {
  const std::vector<RServiceRecord> chain = TRecordStore(storePath, TRecordStore::TMode::Read).Chain();
  const std::optional<TStationKey> key = TStationKey::PublicOf(storePath);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "{\"station\":" << JsonString(key ? key->Id() : "") << ",\"public_key\":"
      << JsonString(key ? key->PublicPem() : "") << ",\"records\":" << chain.size() << "}\n";
  for (const RServiceRecord& r : chain) out << RecordJson(r) << "\n";
  out.close();
  if (!out) throw ERecordStore(file + " could not be written");
}

RChainCheck VerifyExport(const std::string& file, const std::string& keyFile) {
  RChainCheck bad;
  bad.mIntact = false;
  std::ifstream keyIn(keyFile, std::ios::binary);
  std::ostringstream pem;
  pem << keyIn.rdbuf();
  std::optional<TStationKey> key;
  try {
    key = TStationKey::FromPublicPem(pem.str());
  } catch (const EStationKey& e) {
    return bad.mWhy = keyFile + ": " + e.what(), bad;
  }
  std::ifstream in(file, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return bad.mWhy = file + ": cannot be read", bad;
  auto head = ParseFlatJson(line);
  if (!head || (*head)["station"] != key->Id())
    return bad.mWhy = file + ": the export names another station than this key's", bad;
  std::vector<RServiceRecord> chain;
  for (int64_t n = 1; std::getline(in, line); ++n) {
    std::optional<RServiceRecord> r = RecordFromJson(line);
    if (!r) return bad.mWhy = file + ": line " + std::to_string(n + 1) + " is no record", bad;
    chain.push_back(*r);
  }
  const int64_t count = std::strtoll((*head)["records"].c_str(), nullptr, 10);
  if (count != static_cast<int64_t>(chain.size()))
    return bad.mWhy = file + ": the export says " + std::to_string(count) + " records and holds " +
                      std::to_string(chain.size()),
           bad;
  return VerifyChain(chain, &*key, std::nullopt);
}

// --- Certificates ---------------------------------------------------------------------------

RCertificateChoice CertificateFor(const std::vector<RServiceRecord>& newestFirst) {
  RCertificateChoice choice;
  const RServiceRecord* cal = nullptr;
  for (const RServiceRecord& r : newestFirst)
    if (r.mKind == "calibration" && !r.mSpan.empty()) {
      cal = &r;
      break;
    }
  if (!cal) return choice.mRefusal = "no zero and span calibration is recorded for this detector", choice;
  if (cal->mResult != "PASS")
    return choice.mRefusal = "the newest calibration (" + LocalTimeText(cal->mTime) + ") did not pass: " +
                             cal->mResult,
           choice;
  if (!cal->Sealed()) return choice.mRefusal = "the newest calibration is an earlier record without a seal", choice;
  RCertificate c;
  c.mOrganisation = AppDir.empty() ? "" : AppSettings().ReadString("RECORDS", "Organisation", "");
  c.mSite = AppDir.empty() ? "" : AppSettings().ReadString("RECORDS", "Site", "");
  c.mProduct = cal->mProduct.empty() ? "-" : cal->mProduct;
  c.mSensorType = cal->mSensorType;
  c.mSerial = cal->mSerial;
  c.mHardware = cal->mHardware.empty() ? "-" : cal->mHardware;
  c.mFirmware = cal->mFirmware.empty() ? "-" : cal->mFirmware;
  c.mZeroResult = cal->mZero == "OK" ? "PASS" : "FAIL";
  c.mSpanResult = cal->mSpan == "OK" ? "PASS" : "FAIL";
  c.mAsFound = cal->mAsFound.empty() ? "-" : cal->mAsFound;
  c.mAsLeft = cal->mAsLeft.empty() ? "-" : cal->mAsLeft;
  c.mSpanGas = cal->mSpanGas;
  c.mCylinderLot = cal->mLot.empty() ? "-" : cal->mLot;
  c.mCylinderExpiry = cal->mExpiry.empty() ? "-" : cal->mExpiry;
  c.mDateTime = LocalTimeText(cal->mTime);
  c.mTechnician = cal->mTechnician.empty() ? cal->mUser : cal->mTechnician;
  c.mNextDue = "not set";
  char number[48];
  std::snprintf(number, sizeof number, "%s-%06lld", cal->mStation.c_str(), static_cast<long long>(cal->mSeq));
  c.mNumber = number;
  c.mDigest = cal->mHash;
  c.mWithoutAdapter = !cal->mAdapter;
  RKVTCFG cfg{};
  if (CfgFromImage(cal->mCfgAfter, cfg)) {
    std::string unit;
    for (const RSensorType& t : SensorTypes)
      if (t.mName == cal->mSensorType) unit = " " + t.mUnit;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", cfg.mSensor.mAlarmLow / 10.0);
    c.mLowAlarm = text + unit;
    std::snprintf(text, sizeof text, "%.1f", cfg.mSensor.mAlarmHigh / 10.0);
    c.mHighAlarm = text + unit;
    const std::optional<std::time_t> t = UtcTimeOf(cal->mTime);
    if (cfg.mSensor.mCalInterval > 0 && t) {
      const std::time_t dueAt = *t + static_cast<std::time_t>(cfg.mSensor.mCalInterval);
      c.mNextDue = LocalDateText(dueAt);
    }
  }
  choice.mCertificate = c;
  return choice;
}

RCertificateChoice CertificateOfStore(const std::string& path, const std::string& serial) {
  // The certificate comes from the very records that were verified, read once.
  std::vector<RServiceRecord> chain;
  const RChainCheck check = VerifyStore(path, &chain);
  if (check.mUnreadable) throw ERecordStore(check.mWhy);
  if (!check.mIntact) return {std::nullopt, "the records do not verify: " + check.mWhy};
  std::vector<RServiceRecord> newestFirst;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if (it->mSerial == serial) newestFirst.push_back(std::move(*it));
  return CertificateFor(newestFirst);
}

std::string RecordInWords(const RServiceRecord& r) {
  std::string out;
  auto line = [&](const std::string& label, const std::string& value) {
    if (!value.empty()) out += label + ": " + value + "\n";
  };
  line("Time", LocalTimeText(r.mTime));
  line("Operation", r.mOperation + " (" + r.mKind + ")");
  line("Result", r.mResult + (r.mCode != 0 ? " (code " + std::to_string(r.mCode) + ")" : ""));
  line("Status", r.mStatus);
  line("Detector", r.mSerial + (r.mSensorType.empty() ? "" : ", " + r.mSensorType) +
                       (r.mProduct.empty() ? "" : ", " + r.mProduct));
  if (!r.mHardware.empty() || !r.mFirmware.empty()) line("Versions", "hardware " + r.mHardware + ", firmware " + r.mFirmware);
  line("Zero", r.mZero);
  line("Span", r.mSpan);
  line("As found", r.mAsFound);
  line("As left", r.mAsLeft);
  line("Span gas", r.mSpanGas);
  line("Cylinder lot", r.mLot);
  line("Cylinder expiry", r.mExpiry);
  line("Technician", r.mTechnician);
  line("Account", r.mUser);
  line("Port", r.mPort + (r.mPort.empty() || r.mAdapter ? "" : " (simulated or not an adapter)"));
  std::istringstream details(r.mDetails);
  for (std::string d; std::getline(details, d);) {
    const size_t eq = d.find('=');
    if (eq == std::string::npos) continue;
    std::string key = d.substr(0, eq);
    for (char& c : key) c = c == '_' ? ' ' : c;
    line(key, d.substr(eq + 1));
  }
  if (!r.mCfgAfter.empty())
    line("Configuration", r.mCfgBefore.empty() ? "as left kept" : "before and after kept");
  line("Seal", r.Sealed() ? "record " + std::to_string(r.mSeq) + " of station " + r.mStation + ", digest " + r.mHash
                          : "earlier record, chained but not signed");
  return out;
}
