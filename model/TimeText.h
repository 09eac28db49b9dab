// Every time text the program writes or reads, in one place: the records keep UTC, people read
// local time with its offset, file names carry a compact local stamp.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

std::tm LocalTm(std::time_t t);
std::tm UtcTm(std::time_t t);
std::tm LocalTm(std::chrono::system_clock::time_point t);

// 2026-03-07T14:03:27Z, the records' time.
std::string UtcIsoText(std::time_t t);
// The time of such a text (the date alone is enough); nullopt when it is none.
std::optional<std::time_t> UtcTimeOf(const std::string& utcIso);

// 2026-12-09 14:03:27 +01:00: local time with its UTC offset.
std::string LocalTimeText(std::time_t t);
// 2026-12-09 14:03:27, local.
std::string LocalDateTimeText(std::time_t t);
// YYYY-MM-DD, local or UTC.
std::string LocalDateText(std::time_t t);
std::string UtcDateText(std::time_t t);

// YYMMDDHHMMSS of a local time, for file names.
std::string FileTimeStamp(const std::tm& local);

// A real calendar date written YYYY-MM-DD (2026-02-30 is none).
bool ValidDateText(const std::string& text);
