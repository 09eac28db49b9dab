// Committing a record: sealed, numbered, chained and appended, or kept in the outbox; the record an operation fills in.
#include "app/records/ServiceRecords.h"

#include "app/core/Settings.h"
#include "app/records/EventRecords.h"
#include "app/records/HeldStation.h"
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
#include <string_view>

namespace {

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

void AppendLine(const std::string& path, const std::string& line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw ERecordStore(path + ": " + std::strerror(errno));
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

// The outbox rewritten to hold only lines, atomically; an empty list removes nothing but the lines.
void RewriteOutbox(const std::string& store, const std::vector<std::string>& lines) {
  const std::string path = OutboxPath(store);
  if (lines.empty()) {
    [[maybe_unused]] const int emptied = ::truncate(path.c_str(), 0);
    return;
  }
  const std::string temp = path + ".tmp";
  ::unlink(temp.c_str());
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  AppendLine(temp, text);
  if (::rename(temp.c_str(), path.c_str()) != 0) throw ERecordStore(path + ": " + std::strerror(errno));
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string ResultFromCode(uint8_t code, const std::string& status, const std::string& operation) {
  if (code == 0) return "PASS";
  std::string suffix = status.rfind(operation, 0) == 0 ? status.substr(operation.size()) : status;
  while (!suffix.empty() && (suffix[0] == '.' || suffix[0] == ' ')) suffix.erase(0, 1);
  return suffix.empty() ? "FAIL" : suffix;
}

}  // namespace

namespace {

// Where a new record chains on: what the station last sealed, as far as the store and the outbox
// show it along a chain that verifies from the note. inOrder: the store reaches the note (its own
// records, then the outbox's that continue it), so records may move in.
struct RStationHead {
  int64_t mSeq = 0;
  std::string mDigest = kNoHash;
  bool mInOrder = false;
  std::string mWhy;                         // why not in order
  std::vector<RServiceRecord> mMoveIn;      // outbox records that continue the store, in order
  std::vector<std::string> mKeep;           // outbox lines that stay where they are
  std::vector<std::string> mRejected;       // outbox lines that are no record of this station
};

// The outbox's sealed records that follow head, in order (head moves on over them); the lines
// the store already holds are passed over; the rest are the lines that follow nothing.
std::vector<RServiceRecord> Follow(const ROutbox& box, const TStationKey& key, const TRecordStore* store,
                                   RStationHead& head, std::vector<std::string>* strays) {
  std::vector<RServiceRecord> taken;
  for (const ROutboxLine& l : box.mSealed) {
    const RServiceRecord& r = l.mRecord;
    if (r.mSeq <= head.mSeq && store && store->Has(r.mOrigin)) continue;  // moved in before a crash
    if (SealFault(r, head.mSeq + 1, head.mDigest, &key).empty()) {
      taken.push_back(r);
      head.mSeq = r.mSeq;
      head.mDigest = r.mHash;
    } else if (strays) {
      strays->push_back(l.mLine);
    }
  }
  return taken;
}

// A station out of order touches nothing it finds: every outbox line stays for whoever looks.
RStationHead OutOfOrder(RStationHead head, const ROutbox& box, const TStationKey& key, const std::string& why) {
  head.mWhy = why;
  head.mInOrder = false;
  Follow(box, key, nullptr, head, nullptr);  // new records chain on from the furthest sealed one
  head.mMoveIn.clear();
  head.mRejected.clear();
  head.mKeep.clear();
  for (const auto* part : {&box.mSealed, &box.mUnsealed})
    for (const ROutboxLine& l : *part) head.mKeep.push_back(l.mLine);
  for (const std::string& bad : box.mBad) head.mKeep.push_back(bad);
  return head;
}

RStationHead StationHead(const TRecordStore* store, const std::optional<RSealNote>& note, const ROutbox& box,
                         const TStationKey& key, bool fresh) {
  RStationHead head;
  RServiceRecord last;
  last.mHash = kNoHash;
  if (store) last = store->Last();
  const bool noteOk = note && note->mSeq >= 0;
  if (!noteOk && !fresh) {
    // Without the note nothing tells a store cut at its end from a whole one.
    head.mSeq = last.mSeq, head.mDigest = last.mHash;
    return OutOfOrder(head, box, key,
                      note ? "the station's note of its last record cannot be read"
                           : "the station's note of its last record is missing");
  }
  const int64_t noted = noteOk ? note->mSeq : 0;
  RStationHead atNote;
  atNote.mSeq = noted, atNote.mDigest = noted > 0 ? note->mDigest : store ? store->EarlierHead() : kNoHash;
  if (!store) {
    // The store cannot be opened: the record joins the outbox, whose lines all stay.
    RStationHead h = OutOfOrder(atNote, box, key, "");
    return h;
  }
  if (noted > 0 && last.mSeq == noted && last.mHash == note->mDigest) {
    head = atNote;  // the store ends where the station last wrote: nothing more to read
  } else if (last.mSeq >= noted) {
    // The store holds what the note names; a crash between the store and the note may leave
    // the store further on, and its records must then chain on from the note's.
    std::vector<RServiceRecord> tail = store->Sealed(noted > 0 ? noted - 1 : 0);
    head = atNote;
    size_t i = 0;
    if (noted > 0) {
      if (tail.empty() || tail[0].mSeq != noted || tail[0].mHash != note->mDigest)
        return OutOfOrder(atNote, box, key,
                          "record " + std::to_string(noted) + " is not the one the station wrote: the store was replaced");
      i = 1;
    }
    for (; i < tail.size(); ++i) {
      if (const std::string why = SealFault(tail[i], head.mSeq + 1, head.mDigest, &key); !why.empty())
        return OutOfOrder(atNote, box, key, why);
      head.mSeq = tail[i].mSeq, head.mDigest = tail[i].mHash;
    }
  } else {
    head.mSeq = last.mSeq, head.mDigest = last.mSeq > 0 ? last.mHash : store->EarlierHead();
  }
  // The outbox's records continue the store; they must reach the note along the chain.
  head.mMoveIn = Follow(box, key, store, head, &head.mRejected);
  bool reached = head.mSeq >= noted;
  if (noted > last.mSeq) {
    reached = false;
    for (const RServiceRecord& r : head.mMoveIn) reached = reached || (r.mSeq == noted && r.mHash == note->mDigest);
  }
  if (!reached)
    return OutOfOrder(atNote, box, key,
                      "the store is older than the station last wrote: it ends at record " + std::to_string(last.mSeq) +
                          ", the station wrote record " + std::to_string(noted));
  for (const std::string& bad : box.mBad) head.mRejected.push_back(bad);
  for (const ROutboxLine& l : box.mUnsealed) head.mKeep.push_back(l.mLine);
  head.mInOrder = true;
  return head;
}

void SetAside(const std::string& store, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  if (!text.empty()) AppendLine(RejectedPath(store), text);
}

void Seal(RServiceRecord& r, const TStationKey& key, RStationHead& head) {
  r.mStation = key.Id();
  r.mSeq = head.mSeq + 1;
  r.mPrevHash = head.mDigest;
  r.mHash = Sha256Hex(SealedText(r));
  r.mSignature = key.Sign(r.mHash);
  head.mSeq = r.mSeq;
  head.mDigest = r.mHash;
}

void CompleteWrite(RServiceRecord& b, const TRecordStore* store) {
  if (b.mKind != "write") return;
  if (b.mCfgBefore.empty() && !b.mSerial.empty() && store) b.mCfgBefore = store->LatestConfig(b.mSerial);
  if (b.mCfgAfter.empty() || !b.Detail("cfg_bytes_changed").empty()) return;
  if (b.mCfgBefore.size() == b.mCfgAfter.size()) HeldAfterWrite(b.mCfgBefore, b.mCfgWritten, b.mCfgAfter);
  size_t changed = 0;
  for (size_t i = 0; i < b.mCfgAfter.size() && b.mCfgBefore.size() == b.mCfgAfter.size(); ++i)
    changed += b.mCfgAfter[i] != b.mCfgBefore[i];
  b.mDetails += b.mCfgBefore.empty() ? "cfg_before=unknown\n" : "cfg_bytes_changed=" + std::to_string(changed) + "\n";
}

}  // namespace

bool StationHasSealed(const std::string& path) {
  if (Exists(path + ".key") || Exists(path + ".pub")) return true;
  if (const std::optional<RSealNote> note = ReadSealNote(path); note && note->mSeq != 0) return true;
  if (!ReadOutbox(path).mSealed.empty()) return true;
  if (!Exists(path)) return false;
  try {
    return TRecordStore(path, TRecordStore::TMode::Write).Last().mSeq > 0;  // brings an older store up to date
  } catch (const ERecordStore&) {
    return true;  // a store that cannot be read may hold anything: no new key over it
  }
}

TRecordFate CommitRecordTo(const std::string& path, RServiceRecord r, std::string* why) {
  std::vector<RServiceRecord> one{std::move(r)};
  return CommitRecordsTo(path, one, why);
}

TRecordFate CommitRecordsTo(const std::string& path, std::vector<RServiceRecord>& records, std::string* why,
                            size_t* kept) {
  if (kept) *kept = 0;
  if (path.empty()) return TRecordFate::NotRecorded;
  CompleteRecords(records, AppDir);
  return StoreRecords(path, records, why, kept);
}

void CompleteRecords(std::vector<RServiceRecord>& records, const std::string& appDir) {
  if (records.empty()) return;
  // One read of the settings for every record.
  const std::optional<TSettingsFile> settings =
      appDir.empty() ? std::nullopt : std::optional<TSettingsFile>(TSettingsFile::Snapshot(appDir));
  const TSettingsFile* read = settings ? &*settings : nullptr;
  for (RServiceRecord& r : records) {
    if (r.mTime.empty()) r.mTime = UtcIsoText(std::time(nullptr));
    if (r.mUser.empty()) r.mUser = ComputerUserName();
    if (r.mTechnician.empty()) r.mTechnician = TechnicianName(read);
    if (r.mKind.empty()) r.mKind = RecordKind(r.mOperation);
    AddStationFacts(r, read);
  }
}

TRecordFate StoreRecords(const std::string& path, std::vector<RServiceRecord>& records, std::string* why,
                         size_t* kept) {
  if (kept) *kept = 0;
  if (path.empty()) return TRecordFate::NotRecorded;
  auto toOutbox = [&](TRecordFate fate, const std::string& reason) {
    try {
      std::string lines;
      for (const RServiceRecord& r : records) lines += RecordJson(r) + "\n";
      AppendLine(OutboxPath(path), lines);
      if (why) *why = reason;
      if (kept) *kept = records.size();
      return fate;
    } catch (const std::exception& e) {
      if (why) *why = reason + "; " + e.what();
      return TRecordFate::Lost;
    }
  };
  // The program's hold on the station first, then the station's lock among programs.
  const THeldStationLock held;
  std::optional<TStationLock> lock;
  std::vector<bool> brought(records.size());  // an origin that came with the record, not made here
  try {
    for (size_t i = 0; i < records.size(); ++i) {
      brought[i] = !records[i].mOrigin.empty();
      if (!brought[i]) records[i].mOrigin = NewRecordOrigin();
    }
    lock.emplace(path);
  } catch (const std::exception& e) {
    return toOutbox(TRecordFate::Outbox, e.what());
  }
  TRecordStore* store = nullptr;
  std::string storeWhy;
  try {
    store = &HeldStore(path);
  } catch (const std::exception& e) {
    storeWhy = e.what();
  }
  // Records the station holds already (the same origin) are kept once, whatever the retries.
  // An origin made just now is in no store yet.
  if (store) {
    std::vector<RServiceRecord> unheld;
    for (size_t i = 0; i < records.size(); ++i)
      if (!brought[i] || !store->Has(records[i].mOrigin)) unheld.push_back(std::move(records[i]));
    records = std::move(unheld);
  }
  std::optional<RSealNote> note = ReadSealNote(path);
  const bool fresh = !StationHasSealed(path);
  const TStationKey* key = nullptr;
  try {
    // A new station notes "nothing sealed yet" before its key exists, so a key found without a
    // note is one whose records were taken away.
    if (fresh && !note) WriteSealNote(path, {0, kNoHash}), note = RSealNote{0, kNoHash};
    key = &HeldKey(path, fresh);
  } catch (const EStationKeyMissing& e) {
    return toOutbox(TRecordFate::Unsealed,
                    "the station's key " + path + ".key is missing: the record waits unsealed in the outbox; " +
                        kNewStationAdvice);
  } catch (const std::exception& e) {
    return toOutbox(TRecordFate::Unsealed, std::string(e.what()) + ": the record waits unsealed in the outbox");
  }
  if (records.empty()) return TRecordFate::Stored;
  try {
    const ROutbox box = ReadOutbox(path);
    RStationHead head = StationHead(store, note, box, *key, fresh);
    for (RServiceRecord& r : records) {
      CompleteWrite(r, store);
      Seal(r, *key, head);
    }
    SetAside(path, head.mRejected);
    if (head.mInOrder) {
      try {
        std::vector<RServiceRecord> batch = head.mMoveIn;
        batch.insert(batch.end(), records.begin(), records.end());
        store->Insert(batch);
        WriteSealNote(path, {records.back().mSeq, records.back().mHash});
        if (!head.mMoveIn.empty() || !head.mRejected.empty() || !box.mBad.empty()) RewriteOutbox(path, head.mKeep);
        SettleWhenIdle();  // the store's file alone is whole again once records stop coming
        if (kept) *kept = records.size();
        return TRecordFate::Stored;
      } catch (const std::exception& e) {
        storeWhy = e.what();
      }
    }
    // Sealed, noted, and kept in the outbox: for a store that cannot be written it moves in
    // later; for a store that does not verify it waits for the new station.
    const TRecordFate fate = toOutbox(head.mWhy.empty() ? TRecordFate::Outbox : TRecordFate::Held,
                                      head.mWhy.empty() ? storeWhy
                                                        : "the records do not verify (" + head.mWhy +
                                                              "): the record is sealed and waits in the outbox; " +
                                                              kNewStationAdvice);
    // A station without its note stays without one: a note made now would vouch for a store
    // that nothing vouches for.
    if (fate != TRecordFate::Lost && note && note->mSeq >= 0)
      WriteSealNote(path, {records.back().mSeq, records.back().mHash});
    return fate;
  } catch (const std::exception& e) {
    for (RServiceRecord& r : records) r.mSeq = 0, r.mStation.clear(), r.mPrevHash.clear(), r.mHash.clear(), r.mSignature.clear();
    return toOutbox(TRecordFate::Unsealed, std::string(e.what()) + ": the record waits unsealed in the outbox");
  }
}

std::string OneLine(const std::string& text, size_t most) {
  std::string out;
  for (char c : text) out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  return out.size() > most ? out.substr(0, most) : out;
}

void AddStationFacts(RServiceRecord& r) {
  const std::optional<TSettingsFile> settings =
      AppDir.empty() ? std::nullopt : std::optional<TSettingsFile>(TSettingsFile::Snapshot(AppDir));
  AddStationFacts(r, settings ? &*settings : nullptr);
}

void AddStationFacts(RServiceRecord& r, const TSettingsFile* read) {
  auto add = [&](const std::string& key, const std::string& value) {
    const std::string line = OneLine(value, kMostFactChars);
    if (!line.empty() && r.Detail(key).empty()) r.mDetails += key + "=" + line + "\n";
  };
  add("software", "BeamDock " BEAMDOCK_VERSION);
  if (!read) return;
  const TSettingsFile& settings = *read;
  add("organisation", settings.ReadString("RECORDS", "Organisation", ""));
  add("site", settings.ReadString("RECORDS", "Site", ""));
  if (r.mKind != "calibration") return;
  // What the certificate of this calibration will name, as it was when the gas was applied.
  for (const auto& [key, name] : kCertificateKeys) add(key, settings.ReadString("CERTIFICATE", name, ""));
  if (settings.ReadString("CERTIFICATE", "DueDate", "0") == "1") add("due_date", "1");
}

namespace {
TRecordFate TellFate(Operator& op, const std::string& path, TRecordFate fate, const std::string& why) {
  if (fate == TRecordFate::Lost) op.recordNotKept(path, why);
  if (fate == TRecordFate::Unsealed || fate == TRecordFate::Held) op.recordsWarning(path, why);
  return fate;
}
}  // namespace

TRecordFate CommitRecord(Operator& op, RServiceRecord r) {
  std::string why;
  const std::string path = RecordsDatabasePath();
  return TellFate(op, path, CommitRecordTo(path, std::move(r), &why), why);
}

TRecordFate FinishRecord(Operator& op, TPendingRecord& pending) {
  std::string why;
  const TRecordFate fate = pending.Wait(&why);
  return TellFate(op, pending.Path(), fate, why);
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

TPendingRecord CommitOperationRecordLater(TOperationRecord& record) {
  const std::string path = RecordsDatabasePath();
  if (!record.Ended() || !record.Talked() || path.empty()) return {};
  return CommitRecordLater(path, record.Data());
}

std::string RServiceRecord::Detail(const std::string& key) const {
  // The first line that begins with "key=": a search, as lists ask this of every record.
  const std::string_view details(mDetails);
  for (size_t at = 0; at < details.size();) {
    const size_t end = std::min(details.find('\n', at), details.size());
    const std::string_view line = details.substr(at, end - at);
    if (line.size() > key.size() && line[key.size()] == '=' && line.substr(0, key.size()) == key)
      return std::string(line.substr(key.size() + 1));
    at = end + 1;
  }
  return "";
}

std::string RecordsDatabasePath() {
  if (AppDir.empty()) return "";
  const std::string named = AppSettings().ReadString("RECORDS", "Database", "");
  if (named.empty()) return AppDir + "BEAMDOCK.DB";
  return named[0] == '/' ? named : AppDir + named;
}

std::string ComputerUserName() {
  // The account does not change while the program runs: the user database is read once.
  static const std::string name = [] {
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) return std::string(pw->pw_name);
    if (const char* user = std::getenv("USER"); user && *user) return std::string(user);
    return std::to_string(geteuid());
  }();
  return name;
}

std::string TechnicianName() {
  if (AppDir.empty()) return ComputerUserName();
  const TSettingsFile settings = AppSettings();
  return TechnicianName(&settings);
}

std::string TechnicianName(const TSettingsFile* settings) {
  const std::string name = settings ? settings->ReadString("RECORDS", "Technician", "") : "";
  return name.empty() ? ComputerUserName() : name;
}

