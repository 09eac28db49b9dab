#include "model/TimeText.h"

#include <cstdio>

namespace {
std::string Format(const std::tm& tm, const char* format) {
  char text[48];
  return std::strftime(text, sizeof text, format, &tm) ? text : "";
}
}  // namespace

std::tm LocalTm(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::tm UtcTm(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

std::tm LocalTm(std::chrono::system_clock::time_point t) { return LocalTm(std::chrono::system_clock::to_time_t(t)); }

std::string UtcIsoText(std::time_t t) { return Format(UtcTm(t), "%Y-%m-%dT%H:%M:%SZ"); }

std::optional<std::time_t> UtcTimeOf(const std::string& iso) {
  std::tm tm{};
  if (iso.size() < 10 || std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                                     &tm.tm_hour, &tm.tm_min, &tm.tm_sec) < 3)
    return std::nullopt;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return timegm(&tm);
}

std::string LocalTimeText(std::time_t t) {
  std::string out = Format(LocalTm(t), "%Y-%m-%d %H:%M:%S %z");
  if (out.size() >= 5 && out[out.size() - 5] != ':') out.insert(out.size() - 2, ":");  // +0100 -> +01:00
  return out;
}

std::string LocalDateTimeText(std::time_t t) { return Format(LocalTm(t), "%Y-%m-%d %H:%M:%S"); }
std::string LocalDateText(std::time_t t) { return Format(LocalTm(t), "%Y-%m-%d"); }
std::string UtcDateText(std::time_t t) { return Format(UtcTm(t), "%Y-%m-%d"); }

std::string FileTimeStamp(const std::tm& local) {
  const auto two = [](int v) {
    const int r = ((v % 100) + 100) % 100;
    return std::string{static_cast<char>('0' + r / 10), static_cast<char>('0' + r % 10)};
  };
  return two(local.tm_year) + two(local.tm_mon + 1) + two(local.tm_mday) + two(local.tm_hour) + two(local.tm_min) +
         two(local.tm_sec);
}

bool ValidDateText(const std::string& text) {
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return false;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = m - 1;
  tm.tm_mday = d;
  const std::tm back = UtcTm(timegm(&tm));
  return back.tm_year == y - 1900 && back.tm_mon == m - 1 && back.tm_mday == d;
}
