#include "app/core/Trace.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TDateTime localTime(int year, int month, int day, int hour, int minute, int second, int millis) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(millis);
}

TEST(Trace, LineIsLocalTimeWithMillisecondsABlankAndTheText) {
  EXPECT_EQ(TraceLine(localTime(2024, 3, 7, 14, 3, 27, 45), "A0 B1 "), "14:03:27:045 A0 B1 ");
  EXPECT_EQ(TraceTimeText(localTime(2024, 3, 7, 0, 0, 0, 0)), "00:00:00:000");
  EXPECT_EQ(TraceTimeText(localTime(2024, 3, 7, 23, 59, 59, 999)), "23:59:59:999");
  // Milliseconds are cut, not rounded up into the next second.
  EXPECT_EQ(TraceTimeText(localTime(2024, 3, 7, 9, 5, 1, 0) + std::chrono::microseconds(999900)), "09:05:01:999");
}

TEST(Trace, ClockIsTwoDigitDateAndTime) {
  EXPECT_EQ(ClockText(localTime(2024, 3, 7, 14, 3, 27, 500)), "24-03-07 14:03:27");
  EXPECT_EQ(ClockText(localTime(2009, 12, 31, 8, 0, 5, 0)), "09-12-31 08:00:05");
}

TEST(Trace, HandlerAddsOneMemoLinePerExchange) {
  ScriptedOperator op;
  TOnKVTEvent handler = MakeTraceHandler(op);
  handler(nullptr, localTime(2024, 3, 7, 14, 3, 27, 45), "B2 75 80 ");
  handler(nullptr, localTime(2024, 3, 7, 14, 3, 27, 46), "B5 B7 C1 ");
  EXPECT_EQ(op.memo(), (std::vector<std::string>{"14:03:27:045 B2 75 80 ", "14:03:27:046 B5 B7 C1 "}));
}

TEST(Trace, SavedWithCrLfReplacingTheOldFile) {
  TempDir dir;
  dir.write("Comm.TXT", "an older and much longer trace that must not survive in part\r\n");
  ASSERT_TRUE(SaveTraceLines(TraceFileName(dir.path()), {"14:03:27:045 A0 ", "14:03:27:050 00 01 "}));
  EXPECT_EQ(dir.read("Comm.TXT"), "14:03:27:045 A0 \r\n14:03:27:050 00 01 \r\n");
  ASSERT_TRUE(SaveTraceLines(TraceFileName(dir.path()), {}));
  EXPECT_EQ(dir.read("Comm.TXT"), "");

  std::string error;
  EXPECT_FALSE(SaveTraceLines(dir.path() + "missing/Comm.TXT", {"x"}, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
