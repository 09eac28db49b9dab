// The station's store and key as a running program holds them between records, and the one
// worker that opens and writes them beside an exchange with a detector. Internal to the records.
#pragma once

#include "app/records/ServiceRecords.h"
#include "app/records/StationKey.h"

#include <mutex>
#include <string>

// The program's hold on its station: taken by whoever reads or writes the held store or key.
class THeldStationLock {
 public:
  THeldStationLock();
  ~THeldStationLock();
  THeldStationLock(const THeldStationLock&) = delete;
  THeldStationLock& operator=(const THeldStationLock&) = delete;

 private:
  std::unique_lock<std::mutex> FLock;
};
// The store at path, held open while path still names the same files; opened (and created)
// when not. The caller holds a THeldStationLock. Throws ERecordStore.
TRecordStore& HeldStore(const std::string& path);
// The key beside path, held while its file is unchanged. The caller holds a THeldStationLock.
// Throws as TStationKey::Open.
const TStationKey& HeldKey(const std::string& path, bool mayCreate);
// Asks for the held store's log to be copied into its file once no record has come for a
// moment (and at the latest when the program ends): the file alone is then whole again. The
// caller holds a THeldStationLock.
void SettleWhenIdle();
