#include "app/site/SiteServer.h"

#include "app/core/Settings.h"
#include "app/site/SiteSchema.h"
#include "app/records/PushMarks.h"
#include "app/records/StationKey.h"
#include "model/FileUtils.h"
#include "model/TimeText.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <chrono>
#include <thread>
#include <utility>

namespace {

// libpq's messages end in a line break and may run over several lines.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  for (size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, "; ");
  for (char& c : text) c = c == '\t' ? ' ' : c;
  return text;
}

class TPgResult {
 public:
  explicit TPgResult(PGresult* result) : FResult(result) {}
  ~TPgResult() { PQclear(FResult); }
  TPgResult(TPgResult&& other) noexcept : FResult(std::exchange(other.FResult, nullptr)) {}
  TPgResult& operator=(TPgResult&& other) noexcept {
    std::swap(FResult, other.FResult);
    return *this;
  }
  TPgResult(const TPgResult&) = delete;
  TPgResult& operator=(const TPgResult&) = delete;

  int Rows() const { return PQntuples(FResult); }
  int Columns() const { return PQnfields(FResult); }
  bool Null(int row, int col) const { return PQgetisnull(FResult, row, col) != 0; }
  std::string Text(int row, int col) const {
    return std::string(PQgetvalue(FResult, row, col), static_cast<size_t>(PQgetlength(FResult, row, col)));
  }
  int64_t Int(int row, int col) const { return std::strtoll(PQgetvalue(FResult, row, col), nullptr, 10); }
  // A bytea column in the server's text form (\x and hexadecimal).
  std::string Bytes(int row, int col) const {
    const std::string text = Text(row, col);
    const std::vector<uint8_t> bytes = BytesOfHex(text.size() >= 2 ? text.substr(2) : "");
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  PGresult* FResult;
};

// The setting lives in BEAMDOCK.INI, which any user of the computer may read: a password
// belongs in ~/.pgpass or a service file, where libpq finds it.
void CheckConnInfo(const std::string& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (!options) {
    const std::string why = error ? OneLine(error) : "out of memory";
    PQfreemem(error);
    throw ESiteServer(TSiteFailure::Failed, "[RECORDS] Server is no connection string: " + why);
  }
  bool password = false;
  for (const PQconninfoOption* o = options; o->keyword; ++o)
    password = password || (std::string(o->keyword) == "password" && o->val && *o->val);
  PQconninfoFree(options);
  if (password)
    throw ESiteServer(TSiteFailure::Refused,
                      "[RECORDS] Server holds a password: keep it in ~/.pgpass (or PGPASSFILE, a service file) instead");
}

// One connection; every call that fails throws ESiteServer with the server's words. A statement
// that hears nothing from the server for the site's answer time gives the server up: one that
// stopped answering, or a station that holds the chain's lock in an open transaction, would
// otherwise hold a push, and the window that waits for it, for ever.
class TPgLink {
 public:
  explicit TPgLink(const RSiteConnection& site) : FAnswerMs(site.mAnswerMs) {
    const std::string& conninfo = site.mConnInfo;
    CheckConnInfo(conninfo);
    // The connection string's own settings win over these; a dead server costs two seconds.
    const char* keys[] = {"connect_timeout", "tcp_user_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"2", "10000", "beamdock", conninfo.c_str(), nullptr};
    FConn = PQconnectdbParams(keys, values, 1);
    if (!FConn) throw ESiteServer(TSiteFailure::Unreachable, "the site server cannot be reached: out of memory");
    if (PQstatus(FConn) != CONNECTION_OK) {
      const std::string why = OneLine(PQerrorMessage(FConn));
      PQfinish(FConn);
      throw ESiteServer(TSiteFailure::Unreachable, "the site server cannot be reached: " + why);
    }
    // The server's notices ("already exists, skipping") are no news to the operator.
    PQsetNoticeProcessor(FConn, [](void*, const char*) {}, nullptr);
    // Non-blocking, so that a batch larger than the socket's buffer cannot stall on a server that
    // reads nothing.
    PQsetnonblocking(FConn, 1);
  }
  ~TPgLink() { PQfinish(FConn); }
  TPgLink(const TPgLink&) = delete;
  TPgLink& operator=(const TPgLink&) = delete;

  TPgResult Exec(const std::string& sql, const std::vector<std::string>& params = {}) {
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    return Checked(Wait(PQsendQueryParams(FConn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                          values.data(), nullptr, nullptr, 0)));
  }
  // Several statements at once, without parameters.
  void Script(const std::string& sql) { Checked(Wait(PQsendQuery(FConn, sql.c_str()))); }

 private:
  // The outcome of the query just sent, as PQexec gives it: its first error, else its last result.
  PGresult* Wait(int sent) {
    if (!sent) return nullptr;
    PGresult* kept = nullptr;
    for (;;) {
      for (int flushing; PQstatus(FConn) == CONNECTION_OK && ((flushing = PQflush(FConn)) != 0 || PQisBusy(FConn));) {
        if (flushing < 0) break;
        pollfd p{PQsocket(FConn), static_cast<short>(POLLIN | (flushing ? POLLOUT : 0)), 0};
        const int ready = poll(&p, 1, FAnswerMs > 0 ? FAnswerMs : -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
          PQclear(kept);
          throw ESiteServer(TSiteFailure::Unreachable, "the site server was lost: it did not answer for " +
                                                           std::to_string(FAnswerMs / 1000) + "." +
                                                           std::to_string(FAnswerMs % 1000 / 100) + " s");
        }
        if (ready < 0 || ((p.revents & (POLLIN | POLLERR | POLLHUP)) && !PQconsumeInput(FConn))) break;
      }
      PGresult* r = PQgetResult(FConn);
      if (!r) return kept;
      if (kept && PQresultStatus(kept) == PGRES_FATAL_ERROR) {
        PQclear(r);
      } else {
        PQclear(kept);
        kept = r;
      }
    }
  }

  TPgResult Checked(PGresult* raw) {
    TPgResult result(raw);
    const ExecStatusType status = PQresultStatus(raw);
    if (raw && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)) return result;
    const char* state = raw ? PQresultErrorField(raw, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = raw ? PQresultErrorField(raw, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const std::string code = state ? state : "";
    const std::string why = primary ? primary : OneLine(PQerrorMessage(FConn));
    TSiteFailure failure = TSiteFailure::Failed;
    if (PQstatus(FConn) == CONNECTION_BAD || code.rfind("08", 0) == 0 || code.rfind("57P", 0) == 0)
      failure = TSiteFailure::Unreachable;
    else if (code.rfind("BD", 0) == 0 || code == "42501")
      failure = TSiteFailure::Refused;
    ESiteServer e(failure, failure == TSiteFailure::Unreachable ? "the site server was lost: " + why
                                                                : "the site server refused: " + why);
    e.SetSqlState(code);
    throw e;
  }

  PGconn* FConn = nullptr;
  int FAnswerMs;
};

// A PostgreSQL array literal of texts that need no quoting (hexadecimal).
std::string ArrayOf(const std::vector<std::string>& items) {
  std::string out = "{";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "}";
}

std::string Fields(std::initializer_list<std::string> parts) {
  std::string out;
  for (const std::string& p : parts) AppendField(out, p);
  return out;
}


// The server's head as this station last saw it: its chain must hold it for ever after, so a
// cut or rewritten server is found by every station, not only by the ones whose records went.
std::string SiteHeadPath(const std::string& storePath) { return storePath + ".sitehead"; }

// Kept per server (its connection string's digest): another server has its own chain.
std::string ServerTag(const RSiteConnection& site) { return Sha256Hex(site.mConnInfo).substr(0, 16); }

std::pair<int64_t, std::string> SiteHeadSeen(const std::string& storePath, const RSiteConnection& site) {
  std::ifstream in(SiteHeadPath(storePath));
  long long seq = 0;
  std::string digest, tag;
  if (!(in >> seq >> digest >> tag) || tag != ServerTag(site)) return {0, ""};
  return {seq, digest};
}

void NoteSiteHead(const std::string& storePath, const RSiteConnection& site, int64_t seq, const std::string& digest) {
  if (storePath.empty()) return;
  const auto [seen, seenDigest] = SiteHeadSeen(storePath, site);
  if (seq <= seen) return;
  WriteFileAtomic(SiteHeadPath(storePath), std::to_string(seq) + " " + digest + " " + ServerTag(site) + "\n", nullptr);
}


TStationKey StationKeyOf(const std::string& storePath) {
  std::optional<TStationKey> key;
  try {
    key = TStationKey::PublicOf(storePath);
  } catch (const EStationKey& e) {
    throw ESiteServer(TSiteFailure::Failed, storePath + ": " + e.what());
  }
  if (!key) throw ESiteServer(TSiteFailure::Failed, storePath + " has no station key: it holds no sealed record");
  return std::move(*key);
}

std::string Register(TPgLink& pg, const TStationKey& key) {
  return pg.Exec("SELECT beamdock.register_station($1)", {key.PublicHex()}).Text(0, 0);
}

RStationRequest RequestOf(TPgLink& pg, const std::string& id) {
  const TPgResult row = pg.Exec("SELECT admitted, login FROM beamdock.stations WHERE station = $1", {id});
  return {id, row.Rows() == 1 && row.Text(0, 0) == "t", row.Rows() == 1 ? row.Text(0, 1) : ""};
}

// Sends chain (sealed records in sequence, the store's) past what the server holds.
RPushResult PushChain(TPgLink& pg, const RSiteConnection& site, const std::string& storePath, const TStationKey& key,
                      const std::function<std::vector<RServiceRecord>(int64_t after)>& sealedAfter, int64_t localLast,
                      bool markPushed, size_t batch) {
  RPushResult result;
  result.mStation = key.Id();
  result.mLocalLast = localLast;
  const std::string lastOf = "SELECT last_seq, last_hash FROM beamdock.stations WHERE station = $1";
  TPgResult station = pg.Exec(lastOf, {result.mStation});
  if (station.Rows() == 0) {
    Register(pg, key);  // its first push: a write only then
    station = pg.Exec(lastOf, {result.mStation});
  }
  const int64_t serverLast = station.Int(0, 0);
  const std::string serverHash = station.Text(0, 1);
  // What the server lacks, and the record it holds last to compare.
  const std::vector<RServiceRecord> pending = sealedAfter(serverLast > 0 ? serverLast - 1 : 0);
  result.mServerLast = serverLast;
  auto refuse = [&](const std::string& why) {
    ESiteServer e(TSiteFailure::Refused, why);
    e.SetSqlState("BD004");
    throw e;
  };
  if (localLast < serverLast)
    refuse(storePath + " ends at record " + std::to_string(localLast) + ", but station " + result.mStation +
           " already sent record " + std::to_string(serverLast) +
           " to the site server: the store was rolled back or replaced; nothing was sent");
  size_t from = 0;
  while (from < pending.size() && pending[from].mSeq < serverLast) ++from;
  if (serverLast > 0) {
    if (from >= pending.size() || pending[from].mSeq != serverLast || pending[from].mHash != serverHash)
      refuse("record " + std::to_string(serverLast) + " of " + storePath +
             " is not the one station " + result.mStation +
             " sent to the site server: the store was replaced; nothing was sent");
    ++from;
  }
  if (from < pending.size() && pending[from].mSeq != serverLast + 1)
    refuse("the site server holds " + std::to_string(serverLast) + " records of station " + result.mStation +
           ", but " + storePath + " has no record " + std::to_string(serverLast + 1) + " to send; nothing was sent");
  batch = std::min<size_t>(batch, 1000);  // the most the server takes at once
  if (markPushed && PushedMark(storePath, result.mStation) != serverLast)
    WritePushedMark(storePath, serverLast, result.mStation);
  for (; from < pending.size(); from += batch) {
    std::vector<std::string> sealed, signatures;
    const size_t end = std::min(pending.size(), from + batch);
    for (size_t i = from; i < end; ++i) {
      const std::string text = SealedText(pending[i]);
      sealed.push_back(HexOf(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
      signatures.push_back(pending[i].mSignature);
    }
    // One statement is one transaction: a batch is taken whole or not at all. A push that
    // finds the chain's head held (another station's, at most a second) waits its turn.
    for (int attempt = 1;; ++attempt) {
      try {
        result.mSent += pg.Exec("SELECT beamdock.push_records($1::text[], $2::text[])",
                                {ArrayOf(sealed), ArrayOf(signatures)})
                            .Int(0, 0);
        break;
      } catch (const ESiteServer& e) {
        if (e.SqlState() != "55P03" || attempt >= 8) throw;
        std::this_thread::sleep_for(std::chrono::milliseconds(50 * attempt));
      }
    }
    result.mServerLast = pending[end - 1].mSeq;
    if (markPushed) WritePushedMark(storePath, result.mServerLast, result.mStation);
  }
  if (markPushed && result.mSent > 0) {
    const TPgResult head = pg.Exec("SELECT server_seq, server_hash FROM beamdock.head");
    if (head.Rows() == 1) NoteSiteHead(storePath, site, head.Int(0, 0), head.Text(0, 1));
  }
  return result;
}

// The sealed records of a server query's rows: sealed text in column 0, signature in 1, server
// sequence in 2.
std::vector<RServiceRecord> RecordsOfRows(const TPgResult& rows) {
  std::vector<RServiceRecord> out;
  out.reserve(static_cast<size_t>(rows.Rows()));
  for (int i = 0; i < rows.Rows(); ++i) {
    std::optional<RServiceRecord> r = RecordFromSealedText(rows.Bytes(i, 0));
    if (!r)
      throw ESiteServer(TSiteFailure::Failed, "the site server's record " + rows.Text(i, 2) + " is no sealed record");
    r->mSignature = rows.Text(i, 1);
    r->mId = rows.Int(i, 2);
    out.push_back(std::move(*r));
  }
  return out;
}

}  // namespace

std::string SiteServerSetting() { return AppSettings().ReadString("RECORDS", "Server", ""); }

std::string InitSiteServer(const RSiteConnection& site) {
  TPgLink pg({site.mConnInfo, 0});  // a migration of a large site may take its time
  if (pg.Exec("SELECT rolsuper FROM pg_roles WHERE rolname = current_user").Text(0, 0) != "t")
    throw ESiteServer(TSiteFailure::Refused,
                      "records init-server must run as a PostgreSQL superuser: the seal check is a C function");
  pg.Exec("BEGIN");
  pg.Exec("SELECT pg_advisory_xact_lock(7340021)");  // one initialisation at a time
  pg.Script(SiteRolesSql());
  pg.Exec("SET LOCAL ROLE beamdock_owner");
  int version = 0;
  if (!pg.Exec("SELECT to_regclass('beamdock.schema_version')").Null(0, 0))
    version = static_cast<int>(pg.Exec("SELECT version FROM beamdock.schema_version").Int(0, 0));
  const std::vector<std::string> migrations = SiteMigrations();
  if (version > static_cast<int>(migrations.size())) {
    pg.Exec("ROLLBACK");
    throw ESiteServer(TSiteFailure::Refused, "the site server's schema (version " + std::to_string(version) +
                                                 ") is newer than this program's");
  }
  const int from = version;
  for (; version < static_cast<int>(migrations.size()); ++version) pg.Script(migrations[static_cast<size_t>(version)]);
  pg.Exec("UPDATE beamdock.schema_version SET version = $1", {std::to_string(version)});
  pg.Script(SiteFunctionsSql());
  pg.Exec("COMMIT");
  return from == version ? "the site server's schema is up to date (version " + std::to_string(version) + ")"
                         : "the site server's schema is now version " + std::to_string(version) +
                               (from ? " (was " + std::to_string(from) + ")" : "");
}

RStationRequest RegisterStation(const RSiteConnection& site, const std::string& storePath) {
  // The key is made with the store's first record; a station that has none makes it now.
  try {
    TStationLock lock(storePath);
    TStationKey::Open(storePath, !StationHasSealed(storePath));
  } catch (const EStationKey& e) {
    throw ESiteServer(TSiteFailure::Failed, storePath + ": " + e.what());
  }
  TPgLink pg(site);
  return RequestOf(pg, Register(pg, StationKeyOf(storePath)));
}

std::string AdmitStation(const RSiteConnection& site, const std::string& id) {
  TPgLink pg(site);
  return pg.Exec("SELECT beamdock.admit_station($1)", {id}).Text(0, 0);
}

namespace {

// The store's push lock: flock on a file beside the store, released when the holder ends,
// however it ends. waitMs below zero waits until it is free. A reader (create false) makes no
// file: where there is none, no push ever ran.
class TPushLock {
 public:
  TPushLock(const std::string& storePath, int waitMs, bool create) {
    FFd = ::open((storePath + ".pushlock").c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    if (FFd < 0) return;  // none, or a folder that cannot hold it: only the server orders pushes then
    if (waitMs < 0) {
      FHeld = ::flock(FFd, LOCK_EX) == 0;
      return;
    }
    for (int waited = 0; !(FHeld = ::flock(FFd, LOCK_EX | LOCK_NB) == 0) && waited < waitMs; waited += 20)
      ::usleep(20000);
  }
  ~TPushLock() {
    if (FFd >= 0) ::close(FFd);
  }
  TPushLock(const TPushLock&) = delete;
  TPushLock& operator=(const TPushLock&) = delete;
  bool Held() const { return FHeld || FFd < 0; }

 private:
  int FFd = -1;
  bool FHeld = false;
};


}  // namespace

bool WaitForPush(const std::string& storePath, int milliseconds) {
  return TPushLock(storePath, milliseconds, false).Held();
}


void PushKeepingFailure(const RSiteConnection& site, const std::string& storePath) {
  std::string failure;
  try {
    PushStore(site, storePath);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (failure.empty()) {
    ::unlink(PushFailureFile(storePath).c_str());
  } else {
    std::ofstream(PushFailureFile(storePath), std::ios::trunc) << failure << "\n";
  }
}

RPushResult PushStore(const RSiteConnection& site, const std::string& storePath, bool markPushed, size_t batch) {
  const TPushLock lock(storePath, -1, true);
  const TStationKey key = StationKeyOf(storePath);
  const TRecordStore store(storePath, TRecordStore::TMode::Read);
  TPgLink pg(site);
  RPushResult result = PushChain(
      pg, site, storePath, key, [&](int64_t after) { return store.Sealed(after); }, store.Last().mSeq, markPushed,
      batch ? batch : 1);
  // Whoever pushed, the last failure is over: the next operation has nothing to say of it.
  if (markPushed) ::unlink(PushFailureFile(storePath).c_str());
  return result;
}

RPushResult ImportStore(const RSiteConnection& site, const std::string& file) {
  std::optional<TStationKey> key;
  try {
    key = TStationKey::PublicOf(file);
  } catch (const EStationKey& e) {
    throw ERecordStore(file + ": " + e.what());
  }
  if (!key) throw ERecordStore(file + " has no station key beside it (" + file + ".pub)");
  std::string head;
  const std::vector<RServiceRecord> chain = TRecordStore(file, TRecordStore::TMode::Read).Chain(&head);
  // Its note travels with it when it was copied along; without one the key and chain must hold.
  const RChainCheck check = VerifyChain(chain, &*key, ReadSealNote(file));
  if (!check.mIntact) throw ERecordStore(file + " does not verify: " + check.mWhy);
  const auto sealedAfter = [&](int64_t after) {
    std::vector<RServiceRecord> sealed;
    for (const RServiceRecord& r : chain)
      if (r.mSeq > after) sealed.push_back(r);
    return sealed;
  };
  TPgLink pg(site);
  RPushResult result = PushChain(pg, site, file, *key, sealedAfter, chain.empty() ? 0 : chain.back().mSeq, false, 500);
  for (const RServiceRecord& r : chain) result.mEarlier += r.Sealed() ? 0 : 1;
  return result;
}


RSiteStatus SiteStatus(const RSiteConnection& site, const std::string& storePath) {
  RSiteStatus status;
  status.mWaiting = WaitingRecords(storePath);
  std::optional<TStationKey> key;
  try {
    key = TStationKey::PublicOf(storePath);
  } catch (const EStationKey& e) {
    throw ESiteServer(TSiteFailure::Failed, storePath + ": " + e.what());
  }
  if (!key) return status;  // no record made here yet: nothing to ask the server
  status.mStation = key->Id();
  try {
    status.mLocalLast = TRecordStore(storePath, TRecordStore::TMode::Read).Last().mSeq;
  } catch (const ERecordStore&) {
  }
  TPgLink pg(site);
  const TPgResult row = pg.Exec("SELECT last_seq, admitted FROM beamdock.stations WHERE station = $1", {status.mStation});
  if (row.Rows() == 1) {
    status.mServerLast = row.Int(0, 0);
    status.mAdmitted = row.Text(0, 1) == "t";
    status.mWaiting = std::max<int64_t>(0, status.mLocalLast - *status.mServerLast) +
                      static_cast<int64_t>(OutboxRecords(storePath).size());
    const TPgResult last = pg.Exec(
        "SELECT time, left(server_time, 19) || 'Z' FROM beamdock.records WHERE station = $1 ORDER BY seq DESC LIMIT 1",
        {status.mStation});
    if (last.Rows() == 1) {
      const std::optional<std::time_t> made = UtcTimeOf(last.Text(0, 0)), taken = UtcTimeOf(last.Text(0, 1));
      if (made && taken) {
        const long long ahead = static_cast<long long>(*made - *taken);
        status.mClock = ahead > 60 ? "this station's clock was " + std::to_string(ahead) +
                                         " s ahead of the server's (its last record is dated after the server took it)"
                                   : "within a minute of the server's, or behind it by at most the time its last record waited";
      }
    }
  }
  return status;
}

namespace {

// The site's reads on a connection already open, so that one list costs one connection.
std::vector<RServiceRecord> HistoryOn(TPgLink& pg, const std::string& serial) {
  const std::string columns = "SELECT sealed, signature, server_seq FROM beamdock.records";
  if (serial.empty()) return RecordsOfRows(pg.Exec(columns + " ORDER BY server_seq DESC"));
  return RecordsOfRows(pg.Exec(columns + " WHERE serial = $1 ORDER BY server_seq DESC", {serial}));
}

std::vector<RServiceRecord> FleetOn(TPgLink& pg) {
  return RecordsOfRows(pg.Exec(
      "SELECT r.sealed, r.signature, r.server_seq FROM beamdock.newest JOIN beamdock.records r USING (server_seq) "
      "ORDER BY r.server_seq DESC"));
}

}  // namespace

std::vector<RServiceRecord> SiteHistory(const RSiteConnection& site, const std::string& serial) {
  TPgLink pg(site);
  return HistoryOn(pg, serial);
}

std::vector<RServiceRecord> SiteFleetRecords(const RSiteConnection& site) {
  TPgLink pg(site);
  return FleetOn(pg);
}

namespace {

RSiteCheck VerifySiteChain(const RSiteConnection& site, const std::string& storePath) {
  RSiteCheck check;
  auto broken = [&](const std::string& why) {
    check.mIntact = false;
    check.mWhy = why;
    return check;
  };
  const auto [seenSeq, seenDigest] = SiteHeadSeen(storePath, site);
  std::string seenHere;
  TPgLink pg(site);
  // One snapshot: records pushed meanwhile neither break the count nor the head.
  pg.Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
  struct TStation {
    std::optional<TStationKey> mKey;
    int64_t mSeen = 0;
    std::string mHash;
    int64_t mLast = 0;
    std::string mLastHash;
  };
  std::map<std::string, TStation> stations;
  // Each detector's newest record of a kind, with and without a configuration, as the fleet's
  // index must have it: (serial, kind, has_cfg) -> (time, server sequence).
  std::map<std::string, std::pair<std::string, int64_t>> newest;
  {
    const TPgResult rows =
        pg.Exec("SELECT station, encode(public_key, 'hex'), last_seq, last_hash FROM beamdock.stations");
    for (int i = 0; i < rows.Rows(); ++i) {
      TStation& s = stations[rows.Text(i, 0)];
      try {
        s.mKey = TStationKey::FromPublicHex(rows.Text(i, 1));
      } catch (const EStationKey&) {
      }
      if (!s.mKey || s.mKey->Id() != rows.Text(i, 0))
        return broken("station " + rows.Text(i, 0) + ": its registered key is not the key of that id");
      s.mLast = rows.Int(i, 2);
      s.mLastHash = rows.Text(i, 3);
    }
  }
  check.mStations = static_cast<int64_t>(stations.size());
  std::string link(64, '0');
  for (int64_t after = 0;;) {
    const TPgResult rows = pg.Exec(
        "SELECT sealed, signature, server_seq, server_time, station, seq, serial, time, kind, hash, server_prev, "
        "server_hash FROM beamdock.records WHERE server_seq > $1 ORDER BY server_seq LIMIT 5000",
        {std::to_string(after)});
    if (rows.Rows() == 0) break;
    for (int i = 0; i < rows.Rows(); ++i) {
      const int64_t serverSeq = rows.Int(i, 2);
      const std::string n = "server record " + std::to_string(serverSeq);
      if (serverSeq != after + 1) return broken("server record " + std::to_string(after + 1) + " is missing");
      after = serverSeq;
      const std::string station = rows.Text(i, 4), hash = rows.Text(i, 9), signature = rows.Text(i, 1);
      if (rows.Text(i, 10) != link) return broken(n + " is not chained to the one before it");
      link = Sha256Hex(Fields({link, std::to_string(serverSeq), rows.Text(i, 3), station, hash, signature}));
      if (rows.Text(i, 11) != link) return broken(n + ": its server digest does not match its content");
      const std::optional<RServiceRecord> r = RecordFromSealedText(rows.Bytes(i, 0));
      if (!r || r->mHash != hash) return broken(n + ": its content was changed");
      if (r->mStation != station || std::to_string(r->mSeq) != rows.Text(i, 5) || r->mSerial != rows.Text(i, 6) ||
          r->mTime != rows.Text(i, 7) || r->mKind != rows.Text(i, 8))
        return broken(n + ": its columns differ from its sealed content");
      auto s = stations.find(station);
      if (s == stations.end()) return broken(n + ": station " + station + " is not registered");
      const std::string which = "record " + std::to_string(r->mSeq) + " of station " + station;
      if (r->mSeq != s->second.mSeen + 1)
        return broken(which + " follows its record " + std::to_string(s->second.mSeen));
      if (s->second.mSeen > 0 && r->mPrevHash != s->second.mHash) return broken(which + " is not chained to the one before it");
      if (!s->second.mKey->Check(hash, signature)) return broken(which + ": its seal is not the station's");
      s->second.mSeen = r->mSeq;
      s->second.mHash = hash;
      newest[Fields({r->mSerial, r->mKind, r->mCfgAfter.empty() ? "f" : "t"})] = {r->mTime, serverSeq};
      if (serverSeq == seenSeq) seenHere = rows.Text(i, 11);
      ++check.mRecords;
    }
  }
  if (seenSeq > check.mRecords)
    return broken("the site server's chain ends at record " + std::to_string(check.mRecords) + ", but this station saw its record " +
                  std::to_string(seenSeq) + ": records were removed from the server");
  if (seenSeq > 0 && seenHere != seenDigest)
    return broken("server record " + std::to_string(seenSeq) +
                  " is not the one this station saw: the server's chain was rewritten");
  const TPgResult head = pg.Exec("SELECT server_seq, server_hash FROM beamdock.head");
  check.mHead = check.mRecords, check.mHeadDigest = link;
  if (head.Rows() == 1 && head.Int(0, 0) == check.mRecords && head.Text(0, 1) != link)
    return broken("the server's head names record " + std::to_string(check.mRecords) +
                  " with a digest that is not that record's: the head was rewritten");
  if (head.Rows() != 1 || head.Int(0, 0) != check.mRecords || head.Text(0, 1) != link)
    return broken("the server's chain ends at record " + std::to_string(check.mRecords) + ", its head names record " +
                  (head.Rows() ? head.Text(0, 0) : "none") + ": records were removed");
  const TPgResult index = pg.Exec("SELECT serial, kind, has_cfg, server_seq FROM beamdock.newest");
  bool same = index.Rows() == static_cast<int>(newest.size());
  for (int i = 0; same && i < index.Rows(); ++i) {
    const auto n = newest.find(Fields({index.Text(i, 0), index.Text(i, 1), index.Text(i, 2)}));
    same = n != newest.end() && n->second.second == index.Int(i, 3);
  }
  if (!same) return broken("the fleet's index of each detector's newest records does not match the records");
  for (const auto& [id, s] : stations)
    if (s.mSeen != s.mLast || (s.mLast > 0 && s.mHash != s.mLastHash))
      return broken("station " + id + ": the server holds " + std::to_string(s.mSeen) + " of its records, its last is " +
                    std::to_string(s.mLast));
  pg.Exec("COMMIT");
  // This station's own store against what it already sent.
  std::optional<TStationKey> own;
  try {
    own = TStationKey::PublicOf(storePath);
  } catch (const EStationKey&) {
  }
  if (!own) return check;
  const auto s = stations.find(own->Id());
  // The server's own chain cannot show records removed from its end by someone who may rewrite
  // it; this computer remembers what the server took.
  const int64_t took = PushedMark(storePath, own->Id()), holds = s == stations.end() ? 0 : s->second.mLast;
  if (took > holds)
    return broken("station " + own->Id() + ": the site server holds " + std::to_string(holds) +
                  " of its records, but it took record " + std::to_string(took) +
                  " from this computer (records were removed from the server, or it was restored from an older copy)");
  if (s == stations.end() || s->second.mLast == 0) return check;
  std::vector<RServiceRecord> last;
  int64_t ends = 0;
  try {
    const TRecordStore store(storePath, TRecordStore::TMode::Read);
    last = store.Sealed(s->second.mLast - 1);
    ends = store.Last().mSeq;
  } catch (const ERecordStore& e) {
    return broken("this station's store cannot be read (" + std::string(e.what()) + "), but it sent " +
                  std::to_string(s->second.mLast) + " records to the site server");
  }
  if (last.empty() || last.front().mSeq != s->second.mLast)
    return broken("this station's store is behind what it already sent: it ends at record " +
                  std::to_string(ends) + ", station " + own->Id() + " sent record " + std::to_string(s->second.mLast) +
                  " to the site server (the store was rolled back or replaced)");
  if (last.front().mHash != s->second.mLastHash)
    return broken("record " + std::to_string(s->second.mLast) + " of this station's store is not the one station " +
                  own->Id() + " sent to the site server (the store was replaced)");
  return check;
}

}  // namespace

RSiteCheck VerifySite(const RSiteConnection& site, const std::string& storePath) {
  RSiteCheck check;
  try {
    check = VerifySiteChain(site, storePath);
  } catch (const ESiteServer& e) {
    // A server whose tables are gone holds no records that could be verified.
    if (e.SqlState() != "42P01" && e.SqlState() != "3F000") throw;
    check.mIntact = false;
    check.mWhy = "the site server holds no BeamDock records (" + std::string(e.what()) + ")";
    return check;
  }
  if (check.mIntact && check.mHead > 0) NoteSiteHead(storePath, site, check.mHead, check.mHeadDigest);
  return check;
}

namespace {

std::string SealsOn(TPgLink& pg, const std::vector<RServiceRecord>& records) {
  const TPgResult rows = pg.Exec("SELECT station, encode(public_key, 'hex') FROM beamdock.stations");
  std::map<std::string, std::optional<TStationKey>> keys;
  for (int i = 0; i < rows.Rows(); ++i) {
    try {
      keys[rows.Text(i, 0)] = TStationKey::FromPublicHex(rows.Text(i, 1));
    } catch (const EStationKey&) {
    }
  }
  for (const RServiceRecord& r : records) {
    const auto k = keys.find(r.mStation);
    if (k == keys.end() || !k->second || k->second->Id() != r.mStation || !k->second->Check(r.mHash, r.mSignature))
      return "NOT VERIFIED: record " + std::to_string(r.mSeq) + " of station " + r.mStation +
             " on the site server: its seal is not the station's";
  }
  return "verified: site server, " + std::to_string(records.size()) + " records";
}

bool UnsentOn(TPgLink& pg, const std::string& storePath, const std::string& serial,
              std::vector<RServiceRecord>& unsent, std::string& why) {
  unsent.clear();
  if (storePath.empty() || ::access(storePath.c_str(), F_OK) != 0) return true;  // nothing made here
  std::vector<RServiceRecord> chain;
  const RChainCheck check = VerifyStore(storePath, &chain);
  if (!check.mIntact) {
    why = "this computer's records do not verify: " + check.mWhy;
    return false;
  }
  std::string station;
  for (const RServiceRecord& r : chain)
    if (r.Sealed()) station = r.mStation;
  if (station.empty()) return true;
  const TPgResult row = pg.Exec("SELECT last_seq FROM beamdock.stations WHERE station = $1", {station});
  const int64_t held = row.Rows() == 1 ? row.Int(0, 0) : 0;
  for (auto it = chain.rbegin(); it != chain.rend() && it->mSeq > held; ++it)
    if (it->Sealed() && (serial.empty() || it->mSerial == serial)) unsent.push_back(*it);
  return true;
}

// A list read from the site on one connection: the site's records each checked against its
// station's key, and this computer's records the server does not hold yet first (they are newer).
RRecordsRead SiteRead(const RSiteConnection& site, const std::string& storePath, const std::string& serial,
                      const std::function<std::vector<RServiceRecord>(TPgLink&)>& fetch) {
  TPgLink pg(site);
  RRecordsRead read;
  read.mRecords = fetch(pg);
  read.mFromSite = true;
  read.mVerified = SealsOn(pg, read.mRecords);
  std::vector<RServiceRecord> unsent;
  std::string why;
  if (!UnsentOn(pg, storePath, serial, unsent, why))
    read.mVerified = "NOT VERIFIED: " + why;
  else if (!unsent.empty() && read.Verified())
    read.mVerified += " and " + std::to_string(unsent.size()) + " of this computer not sent yet";
  read.mRecords.insert(read.mRecords.begin(), unsent.begin(), unsent.end());
  return read;
}

}  // namespace

std::string CheckSiteSeals(const RSiteConnection& site, const std::vector<RServiceRecord>& records) {
  TPgLink pg(site);
  return SealsOn(pg, records);
}

bool LocalUnsent(const RSiteConnection& site, const std::string& storePath, const std::string& serial,
                 std::vector<RServiceRecord>& unsent, std::string& why) {
  TPgLink pg(site);
  return UnsentOn(pg, storePath, serial, unsent, why);
}

RCertificateChoice CertificateOfSite(const RSiteConnection& site, const std::string& serial,
                                     const std::vector<RServiceRecord>& unsent) {
  TPgLink pg(site);
  const TPgResult rows = pg.Exec(
      "SELECT r.sealed, r.signature, r.server_seq, encode(s.public_key, 'hex') FROM beamdock.records r "
      "JOIN beamdock.stations s USING (station) WHERE r.serial = $1 ORDER BY r.server_seq DESC",
      {serial});
  std::vector<RServiceRecord> records = RecordsOfRows(rows);
  for (size_t i = 0; i < records.size(); ++i) {
    bool holds = false;
    try {
      const TStationKey key = TStationKey::FromPublicHex(rows.Text(static_cast<int>(i), 3));
      holds = key.Id() == records[i].mStation && key.Check(records[i].mHash, records[i].mSignature);
    } catch (const EStationKey&) {
    }
    if (!holds)
      return {std::nullopt, "the site's records do not verify: record " + std::to_string(records[i].mSeq) +
                                " of station " + records[i].mStation + ": its seal is not the station's"};
  }
  // What this computer made and the server does not hold yet is newer than all of it.
  records.insert(records.begin(), unsent.begin(), unsent.end());
  return CertificateFor(records);
}

RRecordsSource RecordsSource() { return {SiteServerSetting(), RecordsDatabasePath()}; }

namespace {
constexpr int kOwnPushWaitMs = 1000;
}  // namespace

RRecordsRead ReadRecordsFrom(const RRecordsSource& source, const std::string& serial, bool fleet) {
  RRecordsRead read;
  if (!source.mServer.empty()) {
    try {
      // This computer's own push first, so the site holds what it just made: a push to a server
      // that answers takes milliseconds; one that does not is not waited for long.
      WaitForPush(source.mStorePath, kOwnPushWaitMs);
      return SiteRead({source.mServer, kSiteReadAnswerMs}, source.mStorePath, serial,
                      [&](TPgLink& pg) { return fleet ? FleetOn(pg) : HistoryOn(pg, serial); });
    } catch (const ESiteServer& e) {
      read.mNote = std::string(e.what()) + ": the records of this computer only";
    }
  }
  // What is listed is what was verified; a store that does not verify is still listed, marked.
  std::vector<RServiceRecord> chain;
  const RChainCheck check = VerifyStore(source.mStorePath, &chain);
  if (check.mUnreadable) throw ERecordStore(check.mWhy);
  if (!check.mIntact) {
    read.mVerified = "NOT VERIFIED: " + check.mWhy;
    chain = TRecordStore(source.mStorePath, TRecordStore::TMode::Read).Chain();
  } else {
    read.mVerified = "verified: this computer, " + std::to_string(check.mCount + check.mEarlier) + " records";
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if (serial.empty() || it->mSerial == serial) read.mRecords.push_back(std::move(*it));
  return read;
}

RRecordsRead ReadRecords(const std::string& serial, bool fleet) { return ReadRecordsFrom(RecordsSource(), serial, fleet); }

RCertificateChoice CertificateOfRecords(const std::string& serial, std::string* note) {
  if (const std::string server = SiteServerSetting(); !server.empty()) {
    try {
      const std::string path = RecordsDatabasePath();
      WaitForPush(path, kOwnPushWaitMs);
      const RSiteConnection site(server, kSiteReadAnswerMs);
      // Issued from the whole truth only: the site's chain, every station's numbering and seals,
      // and this computer's records the server does not hold yet.
      const RSiteCheck check = VerifySite(site, path);
      if (!check.mIntact) return {std::nullopt, "the site's records do not verify: " + check.mWhy};
      std::vector<RServiceRecord> unsent;
      std::string why;
      if (!LocalUnsent(site, path, serial, unsent, why)) return {std::nullopt, why};
      return CertificateOfSite(site, serial, unsent);
    } catch (const ESiteServer& e) {
      if (note) *note = std::string(e.what()) + ": the records of this computer only";
    }
  }
  return CertificateOfStore(RecordsDatabasePath(), serial);
}

// --- The incident report's records ------------------------------------------------------------

namespace {
// A PostgreSQL array literal of any texts.
std::string QuotedArrayOf(const std::vector<std::string>& items) {
  std::string out = "{";
  for (size_t i = 0; i < items.size(); ++i) {
    out += i ? ",\"" : "\"";
    for (char c : items[i]) out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    out += '"';
  }
  return out + "}";
}
}  // namespace

namespace {

std::vector<RServiceRecord> EventsOn(TPgLink& pg, const std::string& serial, const std::string& since,
                                     const std::string& until) {
  const std::string columns = "SELECT sealed, signature, server_seq FROM beamdock.records ";
  // '~' sorts after every time text and after "unknown": an open end.
  const std::string from = since, to = until.empty() ? "~" : until;
  std::vector<RServiceRecord> events = RecordsOfRows(
      serial.empty()
          ? pg.Exec(columns + "WHERE kind = 'event' AND beamdock.event_start(sealed) BETWEEN $1 AND $2", {from, to})
          : pg.Exec(columns + "WHERE kind = 'event' AND serial = $1 AND beamdock.event_start(sealed) BETWEEN $2 AND $3",
                    {serial, from, to}));
  std::vector<std::string> serials;
  if (!serial.empty()) serials.push_back(serial);
  for (const RServiceRecord& r : events)
    if (std::find(serials.begin(), serials.end(), r.mSerial) == serials.end()) serials.push_back(r.mSerial);
  if (serials.empty()) return events;
  std::vector<RServiceRecord> others = RecordsOfRows(pg.Exec(
      columns + "WHERE serial = ANY($1::text[]) AND kind <> 'event' ORDER BY server_seq DESC",
      {QuotedArrayOf(serials)}));
  others.insert(others.end(), std::make_move_iterator(events.begin()), std::make_move_iterator(events.end()));
  return others;
}

}  // namespace

std::vector<RServiceRecord> SiteEventRecords(const RSiteConnection& site, const std::string& serial,
                                             const std::string& since, const std::string& until) {
  TPgLink pg(site);
  return EventsOn(pg, serial, since, until);
}

RRecordsRead ReadEventRecordsFrom(const RRecordsSource& source, const std::string& serial, const std::string& since,
                                  const std::string& until) {
  std::string note;
  if (!source.mServer.empty()) {
    try {
      WaitForPush(source.mStorePath, kOwnPushWaitMs);
      return SiteRead({source.mServer, kSiteReadAnswerMs}, source.mStorePath, serial,
                      [&](TPgLink& pg) { return EventsOn(pg, serial, since, until); });
    } catch (const ESiteServer& e) {
      note = std::string(e.what()) + ": the records of this computer only";
    }
  }
  RRecordsRead read = ReadRecordsFrom({"", source.mStorePath}, serial);
  read.mNote = note;
  return read;
}

// --- A connection for the due notices (app/notify) ------------------------------------------

struct TSiteSession::TImpl {
  explicit TImpl(const RSiteConnection& site) : mPg(site) {}
  TPgLink mPg;
};

TSiteSession::TSiteSession(const RSiteConnection& site) : FImpl(std::make_unique<TImpl>(site)) {}
TSiteSession::~TSiteSession() = default;

std::vector<std::vector<std::string>> TSiteSession::Exec(const std::string& sql, const std::vector<std::string>& params) {
  const TPgResult result = FImpl->mPg.Exec(sql, params);
  std::vector<std::vector<std::string>> rows(static_cast<size_t>(result.Rows()));
  const int columns = result.Rows() > 0 ? result.Columns() : 0;
  for (int i = 0; i < result.Rows(); ++i)
    for (int c = 0; c < columns; ++c) rows[static_cast<size_t>(i)].push_back(result.Text(i, c));
  return rows;
}
