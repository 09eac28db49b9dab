// Save Event Log and Log Reset: the detector's event log downloaded and written as CSV, or
// cleared. Shared by the window and the terminal tool.
#pragma once

#include "app/device/DeviceSession.h"
#include "app/core/Operator.h"
#include "app/records/ServiceRecords.h"
#include "model/Records.h"

#include <chrono>
#include <ctime>
#include <cstdint>
#include <string>
#include <vector>

class TComKVT;

inline constexpr const char* kLoadEventLogName = "Load Event Log";
inline constexpr const char* kLogResetName = "Event Log Reset";
inline constexpr const char* kLogEventCaption = "Log Event";
inline constexpr const char* kNoEventsText = "No logging event data...";
inline constexpr const char* kSaveEventLogCaption = "Save Event Log";
inline constexpr const char* kEventNotSavedText = "Event logging file did not save\rRetry SAVE EVENT LOG";

enum class TEventLogEnd { Saved, NoEvents, Cancelled, NotSaved };

struct REventLogResult {
  uint8_t mCode = 0;                     // the download's result code
  TEventLogEnd mEnd = TEventLogEnd::Saved;  // what became of the file when mCode is 0
  std::string mFile;                     // the chosen file (Saved, NotSaved)
};

// The save dialog: "Save Logging Data...", CSV files, starting in mEVENTSaveDir.
FileRequest EventLogSaveDialog();

// Reads the detector (the session shows it), downloads the log and, on success, writes the
// CSV file the operator chooses. The session's mLifeRemaining becomes the identity's.
REventLogResult SaveEventLog(Operator& op, TComKVT& link, TDeviceSession& session, FileRequest& dialog);

// The file half: the list, the dialog and the file. `now` is taken once by the caller.
REventLogResult SaveEventLogCSV(Operator& op, const RKVTUnitCFG& unit, const std::vector<uint8_t>& log,
                                FileRequest& dialog, std::chrono::system_clock::time_point now);

// The entries of a downloaded log kept as sealed records, each once: the download (its
// origin, port) named in each. mNew: how many the records did not hold yet.
struct REventsKept {
  TRecordFate mFate = TRecordFate::Stored;
  size_t mCount = 0;  // entries in the log
  size_t mNew = 0;
  std::string mWhy;
};
REventsKept KeepEventEntries(const RKVTIdenty& identity, const RKVTUnitCFG& unit, const std::vector<uint8_t>& log,
                             const RServiceRecord& download, std::time_t now);
// The download's record says how many entries were new, or why none could be kept.
void KeptDetails(TOperationRecord& record, const REventsKept& kept);

// Log Reset: identity, product check, the unit block and the log, whose entries are kept
// before the log is cleared; APP_LOGNOTKEPT, nothing cleared, when they could be kept nowhere.
uint8_t LogReset(Operator& op, TComKVT& link, TDeviceSession& session);

// The question before Log Reset, saying what is lost; true for Yes.
bool ConfirmLogReset(Operator& op);
