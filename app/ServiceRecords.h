// Service records: one row per operation that talked to a detector, kept in an SQLite file
// next to the settings, so a detector's calibrations, bump tests and changes can be shown
// later by its serial number. Rows are only ever appended; each carries a SHA-256 chained to
// the row before it, so an edited or deleted row is found by Verify.
//
// Recording never changes an operation: a store that cannot be opened or written is told to
// the operator once per run of the program, and the operation's result stands.
#pragma once

#include "app/Operator.h"
#include "model/Records.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class TComKVT;

struct RServiceRecord {
  int64_t mId = 0;
  std::string mTime;        // UTC, ISO 8601 (2026-03-07T14:03:27Z)
  std::string mSerial;
  std::string mSensorType;  // the sensor table's name, or 0xNN for a code it does not know
  std::string mKind;        // read, write, calibration, bump, firmware, event log, service
  std::string mOperation;   // the status line's operation name
  int mCode = 0;            // result code
  std::string mStatus;      // the status text the operation ended with
  std::string mUser;        // the computer account
  std::string mDetails;     // "key=value" lines
  std::vector<uint8_t> mCfgBefore, mCfgAfter;  // 128-byte configuration images, or empty
  std::string mPrevHash, mHash;
  // Not stored. For a write: which bytes of mCfgAfter went to the detector (empty: all); the
  // others are still what mCfgBefore holds.
  std::vector<bool> mCfgWritten;

  std::string Detail(const std::string& key) const;  // empty when absent
};

class ERecordStore : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RChainCheck {
  bool mIntact = true;
  int64_t mCount = 0;     // rows checked
  int64_t mBrokenId = 0;  // the first row whose content or link does not match
  std::string mWhy;       // one line for the operator; empty when intact
};

class TRecordStore {
 public:
  static constexpr int kSchemaVersion = 1;

  // Opens the file (creating it and its tables, or bringing an older schema up to date).
  // Throws ERecordStore with the reason.
  explicit TRecordStore(const std::string& path);
  ~TRecordStore();
  TRecordStore(const TRecordStore&) = delete;
  TRecordStore& operator=(const TRecordStore&) = delete;

  // Fills mId, mPrevHash and mHash. Throws ERecordStore.
  void Append(RServiceRecord& record);
  // Newest first; an empty serial gives every detector's rows.
  std::vector<RServiceRecord> History(const std::string& serial) const;
  RChainCheck Verify() const;

 private:
  struct TImpl;
  TImpl* FImpl;
};

// The record's SHA-256 over its content and the previous record's hash, in hexadecimal.
std::string RecordHash(const RServiceRecord& record, const std::string& prevHash);

// The file: [RECORDS] Database of the settings, relative to AppDir, else AppDir + BEAMDOCK.DB.
// Empty while no start folder is set (nothing is recorded then).
std::string RecordsDatabasePath();
std::string TechnicianName();  // [RECORDS] Technician, else the computer account
std::string ComputerUserName();

// Kind of a record from the operation name.
std::string RecordKind(const std::string& operation);

// --- Recording the operation under way (one at a time, like the operations) -------------
// RunOperation frames every operation with these; a run outside that frame (the calibration
// dialog, the logging dialog's buttons) appends its record with AppendRecord.
void RecordBegin(Operator& op, const std::string& operation, const TComKVT& link);
void RecordDetail(const std::string& key, const std::string& value);
// The configuration the detector has after the operation; the one before is the newest the
// store knows for that serial.
void RecordConfig(const RKVTCFG& after);
// A write sent these bytes of the 128-byte image (address from 0) to the detector.
void RecordWrittenBytes(const RKVTCFG& sent, uint16_t address, uint16_t size);
// talked: the link reached the detector; a record is appended only then.
void RecordEnd(uint8_t code, const std::string& status, const TComKVT& link, bool talked);

// While one lives, the record of an operation that has ended waits for the follow-up work's
// details (the file an export wrote) and is appended when the last hold ends.
class TRecordHold {
 public:
  TRecordHold();
  ~TRecordHold();
  TRecordHold(const TRecordHold&) = delete;
  TRecordHold& operator=(const TRecordHold&) = delete;
};

// Fills time, user and kind (when empty) and appends; a failure is told once per run.
// False when nothing was stored.
bool AppendRecord(Operator& op, RServiceRecord record);

// The detector fields of a record from what the link last heard.
void SetRecordDevice(RServiceRecord& record, const char* serial10, uint8_t sensorType);

std::vector<uint8_t> CfgImage(const RKVTCFG& cfg);
bool CfgFromImage(const std::vector<uint8_t>& image, RKVTCFG& cfg);

// CSV of records: a header line, then one line per record, CR LF ends.
std::string HistoryCSV(const std::vector<RServiceRecord>& records);

// What a calibration certificate shows, from the newest calibration of a detector.
struct RCertificate {
  std::string mOrganisation, mSite;     // [RECORDS] Organisation and Site; may be empty
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
};
std::optional<RCertificate> CertificateFor(const std::vector<RServiceRecord>& newestFirst,
                                           const std::string& technician);
