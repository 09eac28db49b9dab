// How the configuration commands print a detector and end: the readable listing, the JSON
// object of read --json, and the exit status of a session action.
#pragma once

#include "app/device/DeviceSession.h"
#include "model/Records.h"

#include <string>

// Exit status of an action stopped by a check before anything was written (a refused file,
// no sensor type, a detector that may not hibernate); its box text is on stderr.
constexpr int kExitRefused = 65;
// Exit status of a question answered No (without --yes, stdin not a terminal, answers No).
constexpr int kExitDeclined = 66;

// The result code, or the exit status of a stop (a file that could not be saved: 70).
int SessionExitStatus(const RSessionResult& result);

// {"identity": {...}, "unit": {...}, "sensor": {...}}: every record field under its name.
std::string ConfigJson(const RKVTIdenty& identity, const RKVTCFG& cfg);

// The window's rows as text, one "caption: value" a line.
std::string ConfigListing(const RKVTIdenty& identity, const RKVTCFG& cfg, const std::string& productName);
