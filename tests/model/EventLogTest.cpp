// The event log's buffer cutting and the number fields under a comma as decimal separator;
// the rest of the file is checked end to end in tests/app.
#include "model/EventLog.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

RComKVTReadBuf Buffer(int count, int stride, int data) {
  RComKVTReadBuf b{};
  std::memset(b.mBuf, 0, sizeof b.mBuf);
  for (int i = 0; i < count; ++i) {
    const uint32_t start = 1000 + static_cast<uint32_t>(i);
    std::memcpy(b.mBuf + i * stride, &start, 4);
  }
  b.mData = data;
  return b;
}

TEST(EventLogBuffer, EntriesStopAtEmptySpaceTheCountAndTheBufferEnd) {
  struct Case {
    RComKVTReadBuf buf;
    int stride;
    size_t events;
  };
  RComKVTReadBuf third = Buffer(5, 9, 45);
  std::memset(third.mBuf + 18, 0xFF, 4);
  const Case cases[] = {
      {Buffer(3, 9, 20), 9, 2},           // the 2 bytes after two entries are ignored
      {third, 9, 2},                      // empty space ends the log, later data or not
      {Buffer(3, 9, -1), 9, 0},           // a negative size from the detector
      {Buffer(0, 4, 1024), 4, 254},       // overlapping entries, only those inside the buffer
      {Buffer(2, 12, 24), 12, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(EventsFromBuffer(c.buf, c.stride).size(), c.events) << c.stride;
}

// The whole separator goes in: a locale whose separator is two bytes keeps valid text.
TEST(EventLogLine, ReadingsCarryTheWholeSeparatorAndAreQuotedWhenItIsAComma) {
  const auto now = std::chrono::system_clock::now();
  const struct {
    int16_t reading;
    const char* decimal;
    const char* field;
  } cases[] = {{-5, ",", "\"-0,5\","},
               {125, ",", "\"12,5\","},
               {0x7FFF, ",", "O.L.,"},
               {-5, ".", "-0.5,"},
               {250, "\xD9\xAB", "25\xD9\xAB" "0,"}};
  for (const auto& c : cases) {
    const RKVTEvent e{100, 0x8005, 0x01, c.reading};
    const std::string line = EventLine(e, 100, now, c.decimal);
    EXPECT_EQ(line.substr(19), std::string(",YES,0:00:05,") + c.field) << line;
  }
}

}  // namespace
