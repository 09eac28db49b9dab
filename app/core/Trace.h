// The exchange trace (memo lines with time stamps, saved to Comm.TXT) and the status clock.
#pragma once

#include "app/core/Operator.h"
#include "link/KVTComms.h"

#include <string>
#include <vector>

// Local time as hh:nn:ss:zzz (24-hour clock, milliseconds), e.g. 14:03:27:045.
std::string TraceTimeText(TDateTime t);
// One memo line: the time, a blank, the text.
std::string TraceLine(TDateTime t, const std::string& log);
// The status clock: local yy-mm-dd hh:nn:ss, e.g. 24-03-07 14:03:27.
std::string ClockText(TDateTime t);

// The trace handler for ComKVT: every traced exchange becomes a memo line.
TOnKVTEvent MakeTraceHandler(Operator& op);

// Writes the lines, each ended by CR LF, replacing any earlier file as a whole. False with
// the system's text in *error when the file could not be written; an old file then stays.
bool SaveTraceLines(const std::string& fileName, const std::vector<std::string>& lines, std::string* error = nullptr);

// appDir + "Comm.TXT"
std::string TraceFileName(const std::string& appDir);
