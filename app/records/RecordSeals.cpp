// Seals: the sealed text of a record, its digest and signature, and the check of a chain.
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

std::string OutboxPath(const std::string& store) { return store + ".outbox"; }
std::string RejectedPath(const std::string& store) { return store + ".outbox.rejected"; }

ROutbox ReadOutbox(const std::string& store) {
  ROutbox out;
  std::ifstream in(OutboxPath(store), std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    std::optional<RServiceRecord> r = RecordFromJson(line);
    if (!r)
      out.mBad.push_back(line);
    else if (r->Sealed())
      out.mSealed.push_back({std::move(*r), line});
    else
      out.mUnsealed.push_back({std::move(*r), line});
  }
  return out;
}

std::vector<RServiceRecord> OutboxRecords(const std::string& path) {
  ROutbox box = ReadOutbox(path);
  std::vector<RServiceRecord> out;
  for (auto* part : {&box.mSealed, &box.mUnsealed})
    for (ROutboxLine& l : *part) out.push_back(std::move(l.mRecord));
  return out;
}

std::string SealFault(const RServiceRecord& r, int64_t seq, const std::string& prev, const TStationKey* key) {
  const std::string n = std::to_string(r.mSeq);
  if (r.mSeq > seq) return "record " + std::to_string(seq) + " is missing";
  if (r.mSeq < seq) return "record " + n + " stands twice or out of order";
  if (!key) return "record " + n + " is sealed, and the station's key is missing";
  if (r.mStation != key->Id()) return "record " + n + " was sealed by another station (" + r.mStation + ")";
  if (r.mPrevHash != prev) return "record " + n + ": the record before it was changed or replaced";
  if (Sha256Hex(SealedText(r)) != r.mHash) return "record " + n + ": its content was changed";
  if (!key->Check(r.mHash, r.mSignature)) return "record " + n + ": its seal is not this station's";
  return "";
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
    if (const std::string why = SealFault(r, expected, prev, key); !why.empty())
      return broken(std::min(r.mSeq, expected), why);
    digests[r.mSeq] = r.mHash;
    prev = r.mHash;
    ++expected;
    ++check.mCount;
  }
  check.mLastDigest = prev;
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
  // The note first: it only grows after the store and the outbox have, so what is read later is
  // never behind it.
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
  // Records sealed while the store could not take them continue its chain from the outbox.
  ROutbox box = ReadOutbox(path);
  const int64_t stored = chain.empty() ? 0 : chain.back().mSeq;
  int64_t waiting = 0;
  for (ROutboxLine& l : box.mSealed)
    if (l.mRecord.mSeq > stored) chain.push_back(std::move(l.mRecord)), ++waiting;
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
  check.mWaiting = waiting;
  if (!check.mIntact) return check;
  // The earlier chain's head: a deleted newest earlier record leaves the head naming it.
  int64_t lastEarlier = 0;
  std::string lastEarlierHash = kNoHash;
  for (const RServiceRecord& r : chain)
    if (!r.Sealed()) lastEarlier = r.mId, lastEarlierHash = r.mHash;
  auto notIntact = [&](int64_t at, const std::string& why) {
    check.mIntact = false;
    check.mBroken = at;
    check.mWhy = why;
    return check;
  };
  if (!head.empty() && head != std::to_string(lastEarlier) + " " + lastEarlierHash)
    return notIntact(lastEarlier + 1,
                     "the newest earlier records after record " + std::to_string(lastEarlier) + " were deleted");
  // What the station could not seal, or what did not verify when it came to the outbox, is no
  // record of this station: it is said, not passed over.
  if (!box.mUnsealed.empty())
    return notIntact(check.mCount + 1, std::to_string(box.mUnsealed.size()) +
                                           " records wait unsealed in the outbox: they were made while the "
                                           "station's key was missing (" + kNewStationAdvice + ")");
  std::ifstream rejected(RejectedPath(path), std::ios::binary);
  size_t rejectedLines = 0;
  for (std::string line; std::getline(rejected, line);) rejectedLines += !line.empty();
  if (rejectedLines + box.mBad.size() > 0)
    return notIntact(check.mCount + 1, std::to_string(rejectedLines + box.mBad.size()) +
                                           " lines of the outbox are no record this station sealed (see " +
                                           RejectedPath(path) + ")");
  if (verified) *verified = std::move(chain);
  return check;
}
