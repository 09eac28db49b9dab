#include "app/records/PushMarks.h"

#include "app/records/ServiceRecords.h"
#include "model/FileUtils.h"

#include <algorithm>
#include <fstream>

namespace {
std::string PushedMarkPath(const std::string& storePath) { return storePath + ".pushed"; }
}  // namespace

int64_t PushedMark(const std::string& storePath, const std::string& station) {
  std::ifstream in(PushedMarkPath(storePath));
  long long seq = 0;
  std::string id;
  if (!(in >> seq)) return 0;
  return station.empty() || (in >> id && id == station) ? seq : 0;
}

void WritePushedMark(const std::string& storePath, int64_t seq, const std::string& station) {
  WriteFileAtomic(PushedMarkPath(storePath), std::to_string(seq) + " " + station + "\n", nullptr);
}

std::string PushFailureFile(const std::string& storePath) { return storePath + ".pushfail"; }

std::string LastPushFailure(const std::string& storePath) {
  std::ifstream in(PushFailureFile(storePath));
  std::string line;
  std::getline(in, line);
  return line;
}

int64_t WaitingRecords(const std::string& storePath) {
  if (storePath.empty()) return 0;
  int64_t waiting = static_cast<int64_t>(OutboxRecords(storePath).size());
  try {
    const int64_t last = TRecordStore(storePath, TRecordStore::TMode::Read).Last().mSeq;
    waiting += std::max<int64_t>(0, last - PushedMark(storePath));
  } catch (const ERecordStore&) {
    // No store yet: only the outbox waits.
  }
  return waiting;
}
