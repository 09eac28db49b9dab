// The detector's event log as a CSV file: entries cut from the downloaded buffer, their
// order, and the text of every line. Pure functions; the local time and the decimal
// separator are the caller's.
#pragma once

#include "model/Records.h"

#include "model/CsvText.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Hours (no leading zeros), minutes, seconds: 3725 -> "1:02:05"; 0 or less -> "0:00:00".
std::string FormatDuration(int32_t seconds);

// Entries at a stride of `stride` bytes, up to the first whose start is FF FF FF FF. An
// entry is taken only when its 9 bytes lie inside the buffer; a negative count is no entry.
std::vector<RKVTEvent> EventsFromBuffer(const RComKVTReadBuf& buf, int stride);
// The same from a whole downloaded log, however long: entries whose 9 bytes lie inside it.
std::vector<RKVTEvent> EventsFromBytes(const std::vector<uint8_t>& log, int stride);

// Oldest first (largest life counter first), by exchanges of entries whose start is smaller
// than a later one's; entries with equal starts are never exchanged with each other.
void SortEvents(std::vector<RKVTEvent>& events);

// A detector text field up to its first zero byte.
std::string FieldText(const char* field, size_t size);

// SerialFileText(serial) + "_LOG_" + yymmddhhnnss + ".CSV"; "KVT" stands for a serial that
// leaves nothing.
std::string EventLogFileName(const std::string& serial, const std::tm& now);

// The eleven header lines (the last is the column heading), without line ends.
std::vector<std::string> EventLogHeader(const RKVTUnitCFG& unit);

// One event line without its line end. `now` is the moment of the export and `life` the
// detector's life counter then; `decimal` the separator of the reading. With a comma as the
// separator the reading is quoted so that the columns stay intact.
std::string EventLine(const RKVTEvent& event, uint32_t life, std::chrono::system_clock::time_point now,
                      const std::string& decimal);
