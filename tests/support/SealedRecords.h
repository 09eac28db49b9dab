// Stores full of sealed records for the site server's tests and benchmark: appended in one
// transaction, sealed as CommitRecordTo seals them, without an operation for each.
#pragma once

#include "app/records/ServiceRecords.h"
#include "app/records/StationKey.h"

#include <functional>
#include <string>
#include <vector>

// n records of serial appended to the store at path (its key made when missing), calibrations
// and bump tests by turns, and the station's note moved on.
// edit, when given, changes each record before it is sealed.
inline void FillStore(const std::string& path, int n, const std::string& serial,
                      const std::function<void(RServiceRecord&)>& edit = {}) {
  const TStationKey key = TStationKey::Open(path, true);
  TRecordStore store(path, TRecordStore::TMode::Write);
  RServiceRecord last = store.Last();
  std::vector<RServiceRecord> batch;
  for (int i = 0; i < n; ++i) {
    RServiceRecord r;
    r.mStation = key.Id();
    r.mSeq = last.mSeq + 1;
    r.mPrevHash = last.mHash;
    r.mOrigin = key.Id() + std::to_string(r.mSeq);
    r.mTime = "2026-12-10T08:00:" + std::to_string(10 + i % 50) + "Z";
    r.mSerial = serial;
    r.mKind = i % 2 ? "bump" : "calibration";
    r.mOperation = i % 2 ? "Send Bump Pass" : "Sensor Calibration";
    r.mResult = "PASS";
    if (edit) edit(r);
    r.mHash = Sha256Hex(SealedText(r));
    r.mSignature = key.Sign(r.mHash);
    last = r;
    batch.push_back(r);
  }
  store.Insert(batch);
  WriteSealNote(path, {last.mSeq, last.mHash});
}
