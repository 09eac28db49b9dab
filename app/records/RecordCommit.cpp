// Committing a record: sealed, numbered, chained and appended, or kept in the outbox; the record an operation fills in.
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
  // A detector that answered the handshake but not who it is is still recorded, as unknown.
  if (talked && !FHasDevice && r.Detail("detector").empty()) r.mDetails += "detector=unknown (it did not say who it is)\n";
  FEnded = true;
  FTalked = talked;
}

TRecordFate CommitOperationRecord(Operator& op, TOperationRecord& record) {
  if (!record.Ended() || !record.Talked()) return TRecordFate::NotRecorded;
  return CommitRecord(op, record.Data());
}

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

