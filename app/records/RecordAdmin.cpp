// A station's administration: a new station after a lost key or a store that no longer verifies,
// and corrections made by a supplement that names the record it corrects.
#include "app/records/ServiceRecords.h"

#include "app/records/StationKey.h"
#include "model/TimeText.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <sstream>

namespace {

// The files that make one station beside its store; the lock stays, it is held while they move.
constexpr const char* kStationFiles[] = {"", "-wal", "-shm", ".key", ".pub", ".seal", ".outbox", ".outbox.rejected",
                                         ".pushed", ".pushfail"};

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Fields a person typed, which a supplement may correct. What the detector said or what was
// measured (serial, results, readings, times) is never corrected: it is measured again.
constexpr std::pair<const char*, std::string RServiceRecord::*> kTypedFields[] = {
    {"technician", &RServiceRecord::mTechnician},
    {"lot", &RServiceRecord::mLot},
    {"expiry", &RServiceRecord::mExpiry},
    {"span_gas", &RServiceRecord::mSpanGas}};

bool IsTypedDetail(const std::string& field) {
  if (field == "organisation" || field == "site") return true;
  for (const auto& [key, name] : kCertificateKeys)
    if (field == key) return true;
  return false;
}

std::string ReplaceDetail(const std::string& details, const std::string& key, const std::string& value) {
  std::string out;
  size_t at = 0;
  while (at < details.size()) {
    size_t end = details.find('\n', at);
    if (end == std::string::npos) end = details.size();
    const std::string line = details.substr(at, end - at);
    if (line.rfind(key + "=", 0) != 0) out += line + "\n";
    at = end + 1;
  }
  return out + key + "=" + value + "\n";
}

}  // namespace

RNewStation StartNewStation(const std::string& path, const std::string& reason) {
  const std::string why = OneLine(reason, 500);
  if (why.find_first_not_of(' ') == std::string::npos) throw ERecordStore("a new station needs a reason");
  RNewStation result;
  {
    TStationLock lock(path);
    std::optional<TStationKey> old;
    try {
      old = TStationKey::PublicOf(path);
    } catch (const EStationKey&) {
    }
    result.mOldStation = old ? old->Id() : "unknown";
    if (const std::optional<RSealNote> note = ReadSealNote(path)) result.mOldLast = std::max<int64_t>(note->mSeq, 0);
    try {
      result.mOldLast = std::max(result.mOldLast, TRecordStore(path, TRecordStore::TMode::Read).Last().mSeq);
    } catch (const ERecordStore&) {
    }
    const ROutbox box = ReadOutbox(path);
    for (const ROutboxLine& l : box.mSealed) result.mOldLast = std::max(result.mOldLast, l.mRecord.mSeq);
    result.mUnsealed = static_cast<int64_t>(box.mUnsealed.size());
    // The old station's files are kept whole, side by side, for whoever must look into them.
    const std::time_t now = std::time(nullptr);
    result.mRetired = path + ".retired-" + UtcIsoText(now).substr(0, 19);
    std::replace(result.mRetired.begin(), result.mRetired.end(), ':', '-');
    if (::mkdir(result.mRetired.c_str(), 0700) != 0)
      throw ERecordStore(result.mRetired + ": " + std::strerror(errno));
    for (const char* ext : kStationFiles) {
      const std::string from = path + ext;
      if (::access(from.c_str(), F_OK) != 0) continue;
      const std::string to = result.mRetired + "/" + BaseName(path) + ext;
      if (::rename(from.c_str(), to.c_str()) != 0) throw ERecordStore(from + ": " + std::strerror(errno));
    }
  }
  // The new station's first record names the old one, where it ended and why it was replaced.
  RServiceRecord first;
  first.mKind = "station";
  first.mOperation = "New Station";
  first.mResult = "OK";
  first.mStatus = "New Station... OK";
  first.mDetails = "previous_station=" + result.mOldStation + "\nprevious_last=" + std::to_string(result.mOldLast) +
                   "\nreason=" + why + "\nretired=" + result.mRetired + "\n";
  if (result.mUnsealed > 0) first.mDetails += "unsealed_left=" + std::to_string(result.mUnsealed) + "\n";
  std::string failure;
  if (CommitRecordTo(path, first, &failure) != TRecordFate::Stored) throw ERecordStore("the new station's first record: " + failure);
  result.mNewStation = TStationKey::PublicOf(path)->Id();
  return result;
}

RServiceRecord AmendRecord(const std::string& path, const std::string& number, const std::string& reason,
                           const std::vector<std::pair<std::string, std::string>>& changes) {
  const std::string why = OneLine(reason, 500);
  if (why.find_first_not_of(' ') == std::string::npos) throw ERecordStore("a correction needs a reason");
  if (changes.empty()) throw ERecordStore("a correction needs at least one FIELD=VALUE");
  std::vector<RServiceRecord> chain;
  const RChainCheck check = VerifyStore(path, &chain);
  if (!check.mIntact) throw ERecordStore("the records do not verify, so none is corrected: " + check.mWhy);
  const size_t dash = number.rfind('-');
  const std::string seqText = dash == std::string::npos ? number : number.substr(dash + 1);
  const RServiceRecord* original = nullptr;
  for (const RServiceRecord& r : chain)
    if (r.Sealed() && std::to_string(r.mSeq) == std::to_string(std::strtoll(seqText.c_str(), nullptr, 10)) &&
        (dash == std::string::npos || r.mStation == number.substr(0, dash)))
      original = &r;
  if (!original || seqText.empty()) throw ERecordStore("this station holds no record " + number);
  if (original->mKind == "amendment" || original->mKind == "station")
    throw ERecordStore("record " + number + " is " + (original->mKind == "station" ? "a station's start" : "a correction") +
                       ": correct the record it names instead");
  RServiceRecord a;
  a.mKind = "amendment";
  a.mOperation = "Amend Record";
  a.mResult = "OK";
  a.mStatus = "Amend Record... OK";
  a.mSerial = original->mSerial;
  a.mSensorType = original->mSensorType;
  a.mProduct = original->mProduct;
  a.mHardware = original->mHardware;
  a.mFirmware = original->mFirmware;
  a.mDetails = "amends=" + original->mStation + "-" + std::to_string(original->mSeq) +
               "\namends_digest=" + original->mHash + "\nreason=" + why + "\n";
  for (const auto& [field, value] : changes) {
    std::string was;
    bool known = false;
    for (const auto& [name, member] : kTypedFields)
      if (field == name) known = true, was = (*original).*member;
    if (!known && IsTypedDetail(field)) known = true, was = original->Detail(field);
    if (!known)
      throw ERecordStore(field + " cannot be corrected: only what was typed (technician, lot, expiry, span_gas, "
                                 "organisation, site and the certificate's fields) is; a result or a reading is "
                                 "measured again");
    a.mDetails += "was." + field + "=" + OneLine(was, kMostFactChars) + "\nset." + field + "=" +
                  OneLine(value, kMostFactChars) + "\n";
  }
  std::string failure;
  std::vector<RServiceRecord> sealed{std::move(a)};
  if (CommitRecordsTo(path, sealed, &failure) != TRecordFate::Stored || sealed.empty())
    throw ERecordStore("the correction: " + failure);
  return sealed.front();  // as it was sealed
}

RServiceRecord AmendedRecord(const RServiceRecord& original, const std::vector<RServiceRecord>& newestFirst,
                             std::vector<const RServiceRecord*>* applied) {
  RServiceRecord out = original;
  const std::string number = original.mStation + "-" + std::to_string(original.mSeq);
  for (auto it = newestFirst.rbegin(); it != newestFirst.rend(); ++it) {
    const RServiceRecord& a = *it;
    if (a.mKind != "amendment" || a.Detail("amends") != number || a.Detail("amends_digest") != original.mHash) continue;
    std::istringstream lines(a.mDetails);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("set.", 0) != 0) continue;
      const size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string field = line.substr(4, eq - 4), value = line.substr(eq + 1);
      bool member = false;
      for (const auto& [name, m] : kTypedFields)
        if (field == name) out.*m = value, member = true;
      if (!member && IsTypedDetail(field)) out.mDetails = ReplaceDetail(out.mDetails, field, value);
    }
    if (applied) applied->push_back(&a);
  }
  return out;
}
