// Target for the service records that come back from files: outbox lines and exports.
#include "fuzzers/FuzzSupport.h"

#include "app/records/ServiceRecords.h"
#include "app/records/StationKey.h"

#include <string>

// One line as a record. A record read must come back the same after being written again, so
// nothing an outbox holds changes on its way into the store.
int FuzzRecordLine(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::optional<RServiceRecord> record = RecordFromJson(line);
  if (!record) return 0;
  const std::string written = RecordJson(*record);
  const std::optional<RServiceRecord> again = RecordFromJson(written);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(RecordJson(*again) == written);
  VerifyChain({*record, *again}, nullptr, std::nullopt);
  return 0;
}
