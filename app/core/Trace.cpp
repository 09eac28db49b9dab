#include "app/core/Trace.h"

#include "model/FileUtils.h"
#include "model/TimeText.h"

#include <cstdio>
#include <ctime>

namespace {
std::tm localTm(TDateTime t, int& millis) {
  const auto since = t.time_since_epoch();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
  long long secs = ms / 1000;
  millis = static_cast<int>(ms % 1000);
  if (millis < 0) {
    millis += 1000;
    --secs;
  }
  return LocalTm(static_cast<std::time_t>(secs));
}
}  // namespace

std::string TraceTimeText(TDateTime t) {
  int ms = 0;
  const std::tm tm = localTm(t, ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return buf;
}

std::string TraceLine(TDateTime t, const std::string& log) { return TraceTimeText(t) + " " + log; }

std::string ClockText(TDateTime t) {
  int ms = 0;
  const std::tm tm = localTm(t, ms);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02d-%02d-%02d %02d:%02d:%02d", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

TOnKVTEvent MakeTraceHandler(Operator& op) {
  return [&op](TComKVT*, TDateTime rNow, const std::string& sLog) { op.memoLine(TraceLine(rNow, sLog)); };
}

bool SaveTraceLines(const std::string& fileName, const std::vector<std::string>& lines, std::string* error) {
  std::string data;
  for (const std::string& line : lines) data += line + "\r\n";
  return WriteFileAtomic(fileName, data, error);
}

std::string TraceFileName(const std::string& appDir) { return appDir + "Comm.TXT"; }
