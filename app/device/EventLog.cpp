#include "app/device/EventLog.h"
#include "app/records/ServiceRecords.h"

#include "app/device/Operation.h"
#include "app/core/Results.h"
#include "app/core/Settings.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/EventLog.h"
#include "model/SensorTypes.h"
#include "model/TimeText.h"

#include <clocale>
#include <cstdio>

namespace {


// Creates (replaces) the file and writes the lines with CR LF; what was written before a
// failure stays.
bool WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = true;
  for (const std::string& line : lines) {
    const std::string text = line + "\r\n";
    if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
      ok = false;
      break;
    }
  }
  return std::fclose(f) == 0 && ok;
}

}  // namespace

FileRequest EventLogSaveDialog() {
  return {"Save Logging Data...", "Data file|*.csv", "csv", DeviceCFG.mEVENTSaveDir, {}};
}

REventLogResult SaveEventLog(Operator& op, TComKVT& link, TDeviceSession& session, FileRequest& dialog) {
  session.BeginAction();
  // Held until the file is written: the record names the file.
  TOperationRecord record(kLoadEventLogName);
  record.FHold = true;
  ROperationOptions options;
  options.record = &record;
  RKVTIdenty identity{};
  std::vector<uint8_t> log;
  const uint8_t code = CatchingPortErrors(op, kLoadEventLogName, [&] {
    return RunOperation(op, link, kLoadEventLogName, [&] {
      uint8_t c = session.ReadDeviceInfo(link, &record);
      if (c == LINK_OK) c = link.RequireIdenty(identity);
      if (c == LINK_OK) c = CheckProduct(identity.mPID, 0);
      if (c == LINK_OK) c = link.LoadLog(log, DeviceCFG.mEVENTReadPacketSize);
      return c;
    }, options);
  });
  if (code != LINK_OK) {
    CommitOperationRecord(op, record);
    return {code, TEventLogEnd::Saved, {}};
  }
  // The life counter at the moment of the download dates the events.
  session.FKVTCFG.mUnit.mLifeRemaining = identity.mLife;
  const REventLogResult result =
      SaveEventLogCSV(op, session.FKVTCFG.mUnit, log, dialog, std::chrono::system_clock::now());
  record.Detail("events", std::to_string(EventsFromBytes(log, DeviceCFG.mEVENTPacketSize).size()));
  record.Detail("file", result.mEnd == TEventLogEnd::Saved      ? result.mFile
                        : result.mEnd == TEventLogEnd::NotSaved ? result.mFile + " (not written)"
                        : result.mEnd == TEventLogEnd::Cancelled ? "(cancelled)"
                                                                 : "(no events)");
  CommitOperationRecord(op, record);
  return result;
}

REventLogResult SaveEventLogCSV(Operator& op, const RKVTUnitCFG& unit, const std::vector<uint8_t>& log,
                                FileRequest& dialog, std::chrono::system_clock::time_point now) {
  std::vector<RKVTEvent> events = EventsFromBytes(log, DeviceCFG.mEVENTPacketSize);
  if (events.empty()) {
    op.message(MessageIcon::Information, kLogEventCaption, kNoEventsText);
    return {0, TEventLogEnd::NoEvents, {}};
  }
  SortEvents(events);

  const std::tm local = LocalTm(now);
  dialog.folder = DeviceCFG.mEVENTSaveDir;
  dialog.fileName = EventLogFileName(FieldText(unit.mSerial, sizeof unit.mSerial), local);
  const std::optional<std::string> file = op.chooseSaveFile(dialog);
  // The download's OK stays in front: what follows it says what became of the file.
  const std::string downloaded = std::string(kLoadEventLogName) + ResultText(LINK_OK).mSuffix;
  if (!file) {
    ShowStatus(op, StatusColour::Running, downloaded + ", not saved (cancelled)");
    return {0, TEventLogEnd::Cancelled, {}};
  }

  std::vector<std::string> lines = EventLogHeader(unit);
  const std::string decimal = CsvDecimalPoint();
  for (const RKVTEvent& e : events) lines.push_back(EventLine(e, unit.mLifeRemaining, now, decimal));
  const bool written = WriteLines(*file, lines);
  if (written)
    ShowStatus(op, StatusColour::Success,
               downloaded + ", " + std::to_string(events.size()) + " events saved: " + FileNameOf(*file));
  else
    ShowStatus(op, StatusColour::Failure, downloaded + ", file NOT saved");
  if (!written) op.message(MessageIcon::Error, kSaveEventLogCaption, kEventNotSavedText);

  // The folder is remembered whether or not the file could be written.
  DeviceCFG.mEVENTSaveDir = FolderOfFile(*file);
  AppSettings().WriteString("EVENT", "SaveDirectory", DeviceCFG.mEVENTSaveDir);
  return {0, written ? TEventLogEnd::Saved : TEventLogEnd::NotSaved, *file};
}

uint8_t LogReset(Operator& op, TComKVT& link, TDeviceSession& session) {
  session.BeginAction();
  return CatchingPortErrors(op, kLogResetName, [&] {
    return RunOperation(op, link, kLogResetName, [&] {
      RKVTIdenty identity{};
      uint8_t c = link.RequireIdenty(identity);
      if (c == LINK_OK) c = CheckProduct(identity.mPID, 0);
      if (c == LINK_OK) c = link.LogReset();
      return c;
    });
  });
}

bool ConfirmLogReset(Operator& op) {
  return op.ask("Log Reset",
                "Clear the detector's event log?\rEvery alarm and bump test event stored in the detector is "
                "deleted and cannot be read again. Use Save Event Log first to keep a copy.");
}
