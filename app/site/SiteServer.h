// The site server: one PostgreSQL database that holds the records of every station of a site.
//
// A station's records land in its own store first (app/ServiceRecords.h) and are pushed after
// the operation has ended, in sequence, as the sealed texts the station signed. The server
// takes them only through one function that checks each seal against the station's registered
// key and that the sequence follows the station's last, so a station can neither change nor
// remove what it sent; the server numbers what it takes and chains it. Station id and sequence
// are the key: a record pushed twice is stored once, so a push cut off half-way is simply
// repeated.
#pragma once

#include "app/records/PushMarks.h"
#include "app/records/ServiceRecords.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Why the server did not do what was asked.
enum class TSiteFailure {
  Unreachable,  // no connection (down, wrong address, refused login)
  Refused,      // it answered no: a bad seal, a station behind what it sent, a right it lacks
  Failed,       // anything else it reported
};

class ESiteServer : public std::runtime_error {
 public:
  ESiteServer(TSiteFailure failure, const std::string& what) : std::runtime_error(what), FFailure(failure) {}
  TSiteFailure Failure() const { return FFailure; }
  const std::string& SqlState() const { return FSqlState; }
  void SetSqlState(std::string state) { FSqlState = std::move(state); }

 private:
  TSiteFailure FFailure;
  std::string FSqlState;
};

// Where the site server is (a libpq connection string) and how long a statement may go without
// a word from it before it counts as lost (Unreachable). A connection string alone is a
// connection with the usual wait, so the setting's text can be passed as it is.
struct RSiteConnection {
  static constexpr int kAnswerMs = 10000;
  RSiteConnection(std::string conninfo, int answerMs = kAnswerMs)
      : mConnInfo(std::move(conninfo)), mAnswerMs(answerMs) {}
  std::string mConnInfo;
  int mAnswerMs;  // 0: no limit
};

// [RECORDS] Server: a libpq connection string; empty when the site has no server.
std::string SiteServerSetting();

// Creates the server's schema, its owner and station roles and its functions, or brings them up
// to date; run by an administrator allowed to create roles and C functions. Returns what it did.
std::string InitSiteServer(const RSiteConnection& site);

// Registers the station of the store at storePath (its public key); returns its id. A station
// registered before keeps its key: the id is the key's digest, so no other key can take it.
// The request stays a request until an administrator admits the station (AdmitStation).
struct RStationRequest {
  std::string mStation;
  bool mAdmitted = false;
  std::string mLogin;  // the login that asked, which alone may push for it
};
RStationRequest RegisterStation(const RSiteConnection& site, const std::string& storePath);
// Admits a station that asked (an administrator's connection); returns the login that may push
// for it. Throws ESiteServer.
std::string AdmitStation(const RSiteConnection& site, const std::string& id);

struct RPushResult {
  std::string mStation;
  int64_t mSent = 0;        // records the server took in this push
  int64_t mLocalLast = 0;   // the store's last sequence number
  int64_t mServerLast = 0;  // the server's last sequence number of this station after the push
  int64_t mEarlier = 0;     // records from before the seals: they stay in the store only
};

// Sends the sealed records the server does not hold yet, oldest first, in batches of one
// transaction each (at most 1000 records). Registers the station when the server does not know it. Refuses (Refused,
// nothing sent) a store behind what the station already sent. With markPushed, the store's
// pushed mark is moved on after each batch. Throws ESiteServer; what was not sent waits.
// One push of a store at a time, across processes (a lock file beside the store): a push
// waits for the one under way.
RPushResult PushStore(const RSiteConnection& site, const std::string& storePath, bool markPushed = true,
                      size_t batch = 500);

// Waits at most milliseconds for a push of the store under way (another process's too) to end;
// false when it still runs.
bool WaitForPush(const std::string& storePath, int milliseconds);

// The push the terminal tool runs in a process of its own after an operation, so that its exit
// waits on no server: its failure kept beside the store (LastPushFailure), cleared when it gets
// through.
void PushKeepingFailure(const RSiteConnection& site, const std::string& storePath);

// How long a read of the site waits for an answer before it falls back to this computer.
constexpr int kSiteReadAnswerMs = 3000;

// Verifies another computer's store (with its key beside it, and its note when there is one)
// and pushes its records under its own station id. Throws ESiteServer, or ERecordStore when
// the file does not verify.
RPushResult ImportStore(const RSiteConnection& site, const std::string& file);


struct RSiteStatus {
  std::string mStation;  // empty while the store has made no record (it has no key yet)
  int64_t mLocalLast = 0;
  int64_t mWaiting = 0;
  std::optional<int64_t> mServerLast;  // nullopt when the station is not registered
  bool mAdmitted = false;
  std::string mClock;  // how far this station's clock was from the server's at its last record taken
};
// The station's side (no connection needed) and the server's last sequence of this station.
// Throws ESiteServer.
RSiteStatus SiteStatus(const RSiteConnection& site, const std::string& storePath);

// The site's records of one serial (every detector when empty), newest first, each with its
// seal and station. Throws ESiteServer.
std::vector<RServiceRecord> SiteHistory(const RSiteConnection& site, const std::string& serial);

// For the fleet: each detector's newest record of each kind, with a configuration and without
// (all that FleetRows looks at), newest first. Throws ESiteServer.
std::vector<RServiceRecord> SiteFleetRecords(const RSiteConnection& site);

struct RSiteCheck {
  bool mIntact = true;
  int64_t mRecords = 0;
  int64_t mStations = 0;
  std::string mWhy;  // the first fault, one line; empty when intact
  int64_t mHead = 0;        // the server's head as checked: its number and digest
  std::string mHeadDigest;
};
// Checks the server's chain (numbers, links, every seal against its station's key, each
// station's sequence), that it still holds the head this station saw last (kept beside the
// store, moved on by pushes and checks), and whether the store at storePath is behind what its station already
// sent (rolled back or replaced). Throws ESiteServer when the server cannot be read.
RSiteCheck VerifySite(const RSiteConnection& site, const std::string& storePath);

// The certificate of a detector from the site's records, each record of that serial checked
// against its station's key. Throws ESiteServer.
// unsent: this computer's records the server does not hold yet (newest first), which are newer
// than any of the site's.
RCertificateChoice CertificateOfSite(const RSiteConnection& site, const std::string& serial,
                                     const std::vector<RServiceRecord>& unsent = {});
// This store's verified records of serial (every one when empty) above what the server holds
// of its station, newest first; false, with why, when this store does not verify.
bool LocalUnsent(const RSiteConnection& site, const std::string& storePath, const std::string& serial,
                 std::vector<RServiceRecord>& unsent, std::string& why);

// The records a reader shows: the site's when a server is set and answers, else this store's,
// with the reason in mNote. Throws ERecordStore when the local store cannot be read either.
struct RRecordsRead {
  std::vector<RServiceRecord> mRecords;  // newest first
  bool mFromSite = false;
  std::string mNote;  // why the local store was read although a server is set; empty otherwise
  // "verified: this computer, N records", "verified: site server, N records" or
  // "NOT VERIFIED: reason": what every list of the records says first.
  std::string mVerified;
  bool Verified() const { return mVerified.rfind("verified:", 0) == 0; }
};
// fleet: only what the fleet needs of the site (SiteFleetRecords); the local store is read whole.
RRecordsRead ReadRecords(const std::string& serial, bool fleet = false);
// Each record's seal against its station's registered key: the verification line of a site read.
std::string CheckSiteSeals(const RSiteConnection& site, const std::vector<RServiceRecord>& records);
// The same in two steps, so that the read may run on another thread: where to read (from the
// settings, on the settings' thread), then the read itself, which touches no settings.
struct RRecordsSource {
  std::string mServer, mStorePath;
};
RRecordsSource RecordsSource();
RRecordsRead ReadRecordsFrom(const RRecordsSource& source, const std::string& serial, bool fleet = false);
// The certificate from the site's records when a server is set and answers, else from this
// store's (the reason in *note). Throws ERecordStore when the local store cannot be read.
RCertificateChoice CertificateOfRecords(const std::string& serial, std::string* note);

// --- The incident report's records ------------------------------------------------------------
// The event-log entries that began in [since, until] (UTC ISO texts; empty: open), of serial or
// of every detector, and every other record of the detectors they name (their calibrations,
// bump tests and configurations). Throws ESiteServer.
std::vector<RServiceRecord> SiteEventRecords(const RSiteConnection& site, const std::string& serial,
                                             const std::string& since, const std::string& until);
// What the incident report reads: the site's when a server is set and answers, else this store's.
RRecordsRead ReadEventRecordsFrom(const RRecordsSource& source, const std::string& serial, const std::string& since,
                                  const std::string& until);
// One connection held open for a caller outside this room's own requests (the due notices,
// app/notify): each statement with text parameters is its own transaction unless the caller
// opens one; rows come back as texts, NULL as empty. Throws ESiteServer as every call here does.
class TSiteSession {
 public:
  explicit TSiteSession(const RSiteConnection& site);
  ~TSiteSession();
  TSiteSession(const TSiteSession&) = delete;
  TSiteSession& operator=(const TSiteSession&) = delete;
  std::vector<std::vector<std::string>> Exec(const std::string& sql, const std::vector<std::string>& params = {});

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};
