// Service records: one record per operation that talked to a detector, kept in an SQLite store
// next to the settings, so that a detector's calibrations, bump tests and changes can be shown,
// checked and certified later.
//
// A store is one station. Each record is numbered without gaps, chained to the one before by
// its digest and signed with the station's key (app/StationKey.h), so a record that was added,
// changed, removed or reordered, and a store older than the one the station last wrote, are
// found by VerifyStore. A record that the store cannot take goes to an outbox file beside it
// and is moved in at the next write; only when neither can be written is it lost, and the
// operator is told.
#pragma once

#include "app/core/Operator.h"
#include "model/Records.h"
#include "model/TimeText.h"

#include <cstdint>
#include <ctime>
#include <future>
#include <optional>
#include <utility>
#include <stdexcept>
#include <string>
#include <vector>

class TComKVT;

struct RServiceRecord {
  int64_t mId = 0;          // the store's row number; not part of the seal
  std::string mStation;     // the station id of the key that sealed it; empty for an earlier record
  int64_t mSeq = 0;         // 1, 2, 3 ... per station; 0 for a record from before the seals
  std::string mOrigin;      // random id given when the record is made: it is stored once, whatever the retries
  std::string mTime;        // UTC, ISO 8601 (2026-03-07T14:03:27Z)
  std::string mSerial;
  std::string mSensorType;  // the sensor table's name, or 0xNN for a code it does not know
  std::string mProduct, mHardware, mFirmware;  // from the identity, when the operation read it
  std::string mKind;        // read, write, calibration, bump, firmware, event log, service
  std::string mOperation;   // the status line's operation name
  std::string mResult;      // PASS, FAIL, or the status suffix of a failure ("No response")
  int mCode = 0;            // result code; for a calibration the terminal tool's exit status
  std::string mStatus;      // the status text the operation ended with
  std::string mTechnician;  // [RECORDS] Technician at the time, else the account
  std::string mUser;        // the computer account
  std::string mPort;        // "10c4:ea60 0001 /dev/ttyUSB0", or "no adapter /dev/pts/3"
  bool mAdapter = false;    // the port was an adapter that discovery found
  // A calibration's outcome.
  std::string mZero, mSpan;         // OK, FAIL, time-out, user stop, or empty
  std::string mAsFound, mAsLeft;    // readings with span gas applied, before and after the span step
  std::string mSpanGas;             // value and unit
  std::string mLot, mExpiry;        // the span gas cylinder's lot and expiry date
  std::string mDetails;             // further facts, "key=value" lines (image version, file written)
  std::vector<uint8_t> mCfgBefore, mCfgAfter;  // 128-byte configuration images, or empty
  std::string mPrevHash, mHash, mSignature;
  // Not stored. For a write: which bytes of mCfgAfter went to the detector (empty: all).
  std::vector<bool> mCfgWritten;

  std::string Detail(const std::string& key) const;  // empty when absent
  bool Sealed() const { return mSeq > 0; }
};

class ERecordStore : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RChainCheck {
  bool mIntact = true;
  int64_t mCount = 0;     // sealed records checked
  int64_t mEarlier = 0;   // records from before the seals (chained, but not signed)
  int64_t mBroken = 0;    // the sequence number (or earlier row id) of the first record that fails
  std::string mWhy;       // one line for the operator; empty when intact
  bool mUnreadable = false;  // the store could not be read at all (missing, not a store)
  int64_t mWaiting = 0;      // of mCount, records sealed into the outbox that wait for the store
  std::string mLastDigest;   // the digest of the last record checked
};

class TRecordStore {
 public:
  static constexpr int kSchemaVersion = 2;
  enum class TMode { Read, Write };

  // Read opens an existing file read-only (a read-only copy too) and never creates one; Write
  // creates the file and its tables, or brings an older schema up to date, in one transaction.
  // Throws ERecordStore with the reason.
  TRecordStore(const std::string& path, TMode mode);
  ~TRecordStore();
  TRecordStore(const TRecordStore&) = delete;
  TRecordStore& operator=(const TRecordStore&) = delete;

  // Newest first; an empty serial gives every detector's records.
  std::vector<RServiceRecord> History(const std::string& serial) const;
  // Every record in the order of the chain (earlier records first), read in one transaction.
  // earlierHead: the head of the chain of records from before the seals ("id hash").
  std::vector<RServiceRecord> Chain(std::string* earlierHead = nullptr) const;
  // Sealed records with a sequence number above after, in sequence.
  std::vector<RServiceRecord> Sealed(int64_t after) const;
  bool Has(const std::string& origin) const;
  // The configuration after the newest record of serial that holds one; empty when none does.
  std::vector<uint8_t> LatestConfig(const std::string& serial) const;
  // Inserts sealed records in one transaction.
  void Insert(const std::vector<RServiceRecord>& sealed);
  // The last sealed record's sequence and digest, and the head of the earlier chain.
  RServiceRecord Last() const;
  // The digest of the newest record from before the seals, kNoHash when there is none.
  std::string EarlierHead() const;
  // Drops every page read so far: a store held open then reads the file as a fresh open does.
  void ForgetPages() const;
  // Copies what the log holds into the store's file, so that the file alone holds every record
  // (a copy of it is whole), while the store stays open.
  void Checkpoint();
  // Closing copies nothing into the store's file (someone else has written it meanwhile): the
  // log stays beside it for whoever opens it next.
  void LeaveLogOnClose();

 private:
  struct TImpl;
  TImpl* FImpl;
};

// The record's content in one text, each field with its length in front, so that no two
// records share a text; the digest is its SHA-256 and the signature is over the digest.
std::string SealedText(const RServiceRecord& record);
// The previous digest of a chain's first record.
inline const std::string kNoHash(64, '0');
// One field as the seals write them: its byte length, ':', the field.
void AppendField(std::string& text, const std::string& field);
// The record a sealed text holds, its digest computed (the signature is not part of the text);
// nullopt when the text is not one.
std::optional<RServiceRecord> RecordFromSealedText(const std::string& text);
// The unkeyed digest of a record from before the seals.
std::string EarlierRecordHash(const RServiceRecord& record, const std::string& prevHash);

// Checks a chain (earlier records first, then sealed ones in sequence) against the station's
// public key and the note of what it last wrote.
class TStationKey;
struct RSealNote;
// Why the sealed record r is not record seq chained after prev under key; empty when it is.
std::string SealFault(const RServiceRecord& r, int64_t seq, const std::string& prev, const TStationKey* key);
// Without a key only records from before the seals can hold.
RChainCheck VerifyChain(const std::vector<RServiceRecord>& chain, const TStationKey* key,
                        const std::optional<RSealNote>& note);
// The store at path with its key and note; a missing store, key or note is not intact.
// verified, when given and intact, gets the chain that was checked (earlier records first).
RChainCheck VerifyStore(const std::string& path, std::vector<RServiceRecord>* verified = nullptr);

// The file: [RECORDS] Database of the settings, relative to AppDir, else AppDir + BEAMDOCK.DB.
// Empty while no start folder is set (nothing is recorded then).
std::string RecordsDatabasePath();
std::string TechnicianName();  // [RECORDS] Technician, else the computer account
class TSettingsFile;
std::string TechnicianName(const TSettingsFile* settings);  // from these settings (none: the account)
std::string ComputerUserName();

// Kind of a record from the operation name.
std::string RecordKind(const std::string& operation);

// What became of a record handed to CommitRecord.
// Outbox: sealed, waiting for a store that could not take it; Held: sealed, waiting because the
// store does not verify (a new station must be started); Unsealed: kept unsealed in the outbox
// because the station's key is missing.
enum class TRecordFate { Stored, Outbox, Held, Unsealed, Lost, NotRecorded };
// True when the station at path has sealed anything or has a key: no new key may be made then.
bool StationHasSealed(const std::string& path);
// The facts of the station a record carries under its seal (organisation, site, and for a
// calibration what its certificate names), from the settings when the record is made.
void AddStationFacts(RServiceRecord& record);
void AddStationFacts(RServiceRecord& record, const TSettingsFile* settings);  // from these settings
// The [CERTIFICATE] settings a calibration record keeps, as detail key and setting name.
inline constexpr std::pair<const char*, const char*> kCertificateKeys[] = {
    {"procedure", "Procedure"},         {"gas_supplier", "GasSupplier"},
    {"cylinder_certificate", "CylinderCertificate"}, {"gas_uncertainty", "GasUncertainty"},
    {"zero_gas", "ZeroGas"},            {"authoriser", "Authoriser"},
    {"authoriser_function", "AuthoriserFunction"}};
// The longest a fact taken from the settings may be, in bytes: a certificate stays legible.
inline constexpr size_t kMostFactChars = 120;
// text on one line (control characters as spaces), at most most bytes.
std::string OneLine(const std::string& text, size_t most);

// Seals the record (time, technician, user and kind filled when empty) and appends it, after
// any records waiting in the outbox; a store that cannot take it puts it in the outbox. When
// neither can be written the operator hears of it (Operator::recordNotKept).
TRecordFate CommitRecord(Operator& op, RServiceRecord record);
// The same into the store at path (no operator: the fate says what happened).
TRecordFate CommitRecordTo(const std::string& path, RServiceRecord record, std::string* why = nullptr);
// Several records at once, in order, under one lock and in one transaction (an event log's
// entries): records whose origin the store already holds are left out (kept once), and
// records gets them as sealed. kept: how many were kept (stored or in the outbox).
TRecordFate CommitRecordsTo(const std::string& path, std::vector<RServiceRecord>& records, std::string* why = nullptr,
                            size_t* kept = nullptr);
// The two halves of CommitRecordsTo: what the settings of the start folder appDir and the
// account give a record, and the sealing and storing. Both read files only, so either may run
// on the records worker.
void CompleteRecords(std::vector<RServiceRecord>& records, const std::string& appDir);
TRecordFate StoreRecords(const std::string& path, std::vector<RServiceRecord>& records, std::string* why = nullptr,
                         size_t* kept = nullptr);

// Opens the station's store and key on the records worker while a detector is talked to, so
// the record that follows finds them open. Nothing is created.
void PrepareRecords(const std::string& path);
// A record being stored on the records worker.
class TPendingRecord {
 public:
  TPendingRecord() = default;
  TPendingRecord(std::string path, std::future<std::pair<TRecordFate, std::string>> fate)
      : FPath(std::move(path)), FFate(std::move(fate)) {}
  const std::string& Path() const { return FPath; }
  // Its fate once it is on disk or could not be kept; why as CommitRecordTo gives it.
  TRecordFate Wait(std::string* why = nullptr);

 private:
  std::string FPath;
  std::future<std::pair<TRecordFate, std::string>> FFate;
};
// Completes and stores record on the records worker, after what was posted before.
TPendingRecord CommitRecordLater(const std::string& path, RServiceRecord record);
// Waits for every record handed to the worker, then copies the held store's log into its file
// at once: a copy of the file alone is whole from here on.
void SettleRecords();
// Waits for a pending record and tells op what CommitRecord would have told.
TRecordFate FinishRecord(Operator& op, TPendingRecord& pending);
// Records waiting in the outbox beside the store at path, sealed ones first.
std::vector<RServiceRecord> OutboxRecords(const std::string& path);
// The outbox line by line: sealed records (they wait for the store), records made while the
// station's key was missing (never sealed later), and lines that are no record.
struct ROutboxLine {
  RServiceRecord mRecord;
  std::string mLine;
};
struct ROutbox {
  std::vector<ROutboxLine> mSealed, mUnsealed;
  std::vector<std::string> mBad;
};
ROutbox ReadOutbox(const std::string& store);
std::string OutboxPath(const std::string& store);
// Where outbox lines that did not verify are set aside: kept for whoever looks into it.
std::string RejectedPath(const std::string& store);
// What to do about a station whose key is missing or whose store does not verify.
inline const std::string kNewStationAdvice =
    "an administrator starts a new station with: beamdock-cli records new-station --reason TEXT";

// One operation's record, made by the operation's frame and handed to what needs it. The
// detector is the one that answered in this operation's own connection.
class TOperationRecord {
 public:
  explicit TOperationRecord(const std::string& operation);
  RServiceRecord& Data() { return FRecord; }
  const RServiceRecord& Data() const { return FRecord; }

  void Detail(const std::string& key, const std::string& value);
  void Identity(const RKVTIdenty& identity);
  void Device(const char* serial10, uint8_t sensorType);
  bool HasDevice() const { return FHasDevice; }
  // The configuration the detector has after the operation.
  void Config(const RKVTCFG& after);
  // A write sent these bytes of the 128-byte image (address from 0); the configuration before
  // is the one the same connection read (Config), else the newest the store knows.
  void WrittenBytes(const RKVTCFG& sent, uint16_t address, uint16_t size);
  // The port the operation used, in words (PortDescription), and whether it is an adapter.
  void Port(const std::string& description, bool adapter);
  // The end: code and status; result from them unless set already. talked: the detector
  // answered at least once (only then is there anything to record).
  void End(uint8_t code, const std::string& status, bool talked);
  bool Ended() const { return FEnded; }
  bool Talked() const { return FTalked; }
  // Kept back by the caller for follow-up work (the file an export wrote), then committed.
  bool FHold = false;

 private:
  RServiceRecord FRecord;
  bool FHasDevice = false;
  bool FEnded = false;
  bool FTalked = false;
};

// Commits an ended record that talked to a detector; no effect otherwise.
TRecordFate CommitOperationRecord(Operator& op, TOperationRecord& record);
// The same on the records worker; an empty pending record when there is nothing to commit.
TPendingRecord CommitOperationRecordLater(TOperationRecord& record);

void SetRecordDevice(RServiceRecord& record, const char* serial10, uint8_t sensorType);
std::string SensorTypeText(uint8_t code);

std::vector<uint8_t> CfgImage(const RKVTCFG& cfg);
bool CfgFromImage(const std::vector<uint8_t>& image, RKVTCFG& cfg);

// CSV of records: a header line, then one line per record, CR LF ends.
// The first line says whether and where the records were verified (verified), and how cells
// that a spreadsheet would run are written.
std::string HistoryCSV(const std::vector<RServiceRecord>& records, const std::string& verified);
// The record's time in local time with its UTC offset: 2026-12-09 14:03:27 +01:00.
std::string LocalTimeText(const std::string& utcIso);

// One record as one JSON object (its seal included), and back; for exports and the outbox.
std::string RecordJson(const RServiceRecord& record);
std::optional<RServiceRecord> RecordFromJson(const std::string& line);
// An export: a first line naming the station and its public key, then one line per record.
// Throws ERecordStore when the file cannot be written.
void ExportRecords(const std::string& storePath, const std::string& file);
// Checks an export against a public key (PEM file); the key in the export must be the same.
RChainCheck VerifyExport(const std::string& file, const std::string& keyFile);

// A new station, started by an administrator after a lost key or a store that no longer
// verifies: the old station's files move whole into a folder beside the store (retired), and
// the new station's first record names the old station, its last record and the reason.
// Throws ERecordStore.
struct RNewStation {
  std::string mOldStation, mNewStation, mRetired;
  int64_t mOldLast = 0;
  int64_t mUnsealed = 0;  // records made while the key was missing, left unsealed in the retired outbox
};
RNewStation StartNewStation(const std::string& path, const std::string& reason);
// A correction by supplement: a new record that names the record number ("STATION-SEQ" or
// "SEQ") and digest it corrects, the reason, and each field's old and new value. Only what a
// person typed may be corrected. Refused (ERecordStore) when the records do not verify.
RServiceRecord AmendRecord(const std::string& path, const std::string& number, const std::string& reason,
                           const std::vector<std::pair<std::string, std::string>>& changes);
// original with the corrections that name it applied, oldest first; applied gets them.
RServiceRecord AmendedRecord(const RServiceRecord& original, const std::vector<RServiceRecord>& newestFirst,
                             std::vector<const RServiceRecord*>* applied = nullptr);

// What a calibration certificate shows, from the newest calibration of a detector.
struct RCertificate {
  std::string mOrganisation, mSite;     // the calibrating station's, as its record keeps them; may be empty
  std::string mProduct;                 // the product's name (KVT product id table), or its code
  std::string mSensorType, mSerial;
  std::string mHardware, mFirmware;     // versions as the identity reported them, e.g. "1.02"
  std::string mLowAlarm, mHighAlarm;    // set points as left, value and unit ("10.0 ppm")
  std::string mStelAlarm, mTwaAlarm;    // may be empty when the sensor has none
  std::string mZeroResult, mSpanResult; // "PASS" / "FAIL"
  std::string mAsFound, mAsLeft;        // readings with span gas applied, value and unit, or "-"
  std::string mSpanGas;                 // value and unit
  std::string mCylinderLot, mCylinderExpiry;  // as typed; "-" when not given
  std::string mDateTime;                // local time with its UTC offset: 2026-12-09 14:03 +01:00
  std::string mTechnician;              // who calibrated (stored in the record)
  std::string mNextDue;                 // YYYY-MM-DD, or "not set" when the detector has no interval
  std::string mNumber;                  // unique: station id and sequence, e.g. "3f9a1c22e0b4d871-000042"
  std::string mDigest;                  // the record's SHA-256, hexadecimal
  bool mWithoutAdapter = false;         // made on a simulated detector or any port that is no adapter
  // What a laboratory's certificate carries beside the results, each "-" when not recorded.
  std::string mIssued;                  // date of issue (local, with its UTC offset)
  std::string mProcedure, mGasSupplier, mCylinderCertificate, mGasUncertainty, mZeroGas;
  std::string mTemperature;             // as the detector reported it during the calibration
  std::string mZeroAsFound, mZeroAsLeft;
  std::string mTolerance, mRule;        // the acceptance limit and the decision rule it was judged by
  std::string mEquipment, mSoftware;    // the adapter (port) and the software that sealed the record
  std::string mAuthoriser, mAuthoriserFunction;
  bool mShowDue = false;                // the due date only when the customer asked for it
  int mRevision = 1;                    // 2 and more: corrected by supplements
  std::string mRevisionNote;            // which records corrected it, and why
  std::string mQrText;                  // the record's seal: anyone with the station's key checks it
};
// The QR text of a sealed record, and its check against a station's public key (PEM), with the
// record itself when the store holds it: "genuine: STATION-NUMBER" or the reason it is not.
std::string SealQrText(const RServiceRecord& record);
// A sealed record's number as certificates print it: station id and six-digit sequence.
std::string RecordNumber(const RServiceRecord& record);
struct RQrCheck {
  bool mGenuine = false;
  std::string mText;
};
RQrCheck CheckSealQr(const std::string& text, const std::string& publicPem, const std::vector<RServiceRecord>& known);
// The certificate of the newest calibration of that serial, or the reason there is none (the
// newest calibration failed or did not end, or there is none).
struct RCertificateChoice {
  std::optional<RCertificate> mCertificate;
  std::string mRefusal;
};
RCertificateChoice CertificateFor(const std::vector<RServiceRecord>& newestFirst);
// The same from the store at path, refused when the store does not verify. Throws ERecordStore
// when the store cannot be read.
RCertificateChoice CertificateOfStore(const std::string& path, const std::string& serial);

// The result as lists show it: a bump verdict given by hand says so ("PASS (hand)").
std::string ResultText(const RServiceRecord& record);
// A record in words, one fact a line, for the History window's detail pane.
std::string RecordInWords(const RServiceRecord& record);
