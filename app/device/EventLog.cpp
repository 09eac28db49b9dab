#include "app/device/EventLog.h"
#include "app/records/EventRecords.h"
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
  // Held until the file is written: the record names the file. Its origin is known now, so
  // that the entries kept before it can name their download.
  TOperationRecord record(kLoadEventLogName);
  record.FHold = true;
  record.Data().mOrigin = NewRecordOrigin();
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
  const auto now = std::chrono::system_clock::now();
  // The entries are kept before the file box opens: a cancelled or unwritable file loses none.
  const REventsKept kept = KeepEventEntries(identity, session.FKVTCFG.mUnit, log, record.Data(),
                                            std::chrono::system_clock::to_time_t(now));
  if (kept.mFate == TRecordFate::Lost)
    op.recordNotKept(RecordsDatabasePath(), "the event log's " + std::to_string(kept.mCount) + " entries: " + kept.mWhy);
  if (kept.mFate == TRecordFate::Unsealed || kept.mFate == TRecordFate::Held) op.recordsWarning(RecordsDatabasePath(), kept.mWhy);
  const REventLogResult result = SaveEventLogCSV(op, session.FKVTCFG.mUnit, log, dialog, now);
  record.Detail("events", std::to_string(EventsFromBytes(log, DeviceCFG.mEVENTPacketSize).size()));
  KeptDetails(record, kept);
  record.Detail("file", result.mEnd == TEventLogEnd::Saved      ? result.mFile
                        : result.mEnd == TEventLogEnd::NotSaved ? result.mFile + " (not written)"
                        : result.mEnd == TEventLogEnd::Cancelled ? "(cancelled)"
                                                                 : "(no events)");
  CommitOperationRecord(op, record);
  return result;
}

REventsKept KeepEventEntries(const RKVTIdenty& identity, const RKVTUnitCFG& unit, const std::vector<uint8_t>& log,
                             const RServiceRecord& download, std::time_t now) {
  REventsKept kept;
  std::vector<RKVTEvent> entries = EventsFromBytes(log, DeviceCFG.mEVENTPacketSize);
  SortEvents(entries);  // oldest first, as the file lists them
  kept.mCount = entries.size();
  if (entries.empty()) return kept;
  REventDownload d;
  d.mSerial = FieldText(identity.mSerial, sizeof identity.mSerial);
  d.mSensorType = identity.mSensor;
  d.mProduct = GetProductName(identity.mPID);
  d.mHardware = HWVersionText(identity.mHW);
  d.mFirmware = FWVersionText(identity.mSW);
  d.mUserId = FieldText(unit.mUserID, sizeof unit.mUserID);
  while (!d.mUserId.empty() && d.mUserId.back() == ' ') d.mUserId.pop_back();  // the field is space padded
  d.mLife = identity.mLife;
  d.mTime = now;
  d.mOrigin = download.mOrigin;
  d.mPort = download.mPort;
  d.mAdapter = download.mAdapter;
  std::vector<RServiceRecord> records = EventEntryRecords(entries, d);
  kept.mFate = CommitRecordsTo(RecordsDatabasePath(), records, &kept.mWhy, &kept.mNew);
  return kept;
}

void KeptDetails(TOperationRecord& record, const REventsKept& kept) {
  if (kept.mCount == 0) return;
  if (kept.mFate == TRecordFate::Lost || kept.mFate == TRecordFate::NotRecorded) {
    record.Detail("events_not_kept", OneLine(kept.mWhy.empty() ? "no service records" : kept.mWhy, 400));
    return;
  }
  record.Detail("events_new", std::to_string(kept.mNew));
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
  TOperationRecord record(kLogResetName);
  record.Data().mOrigin = NewRecordOrigin();
  ROperationOptions options;
  options.record = &record;
  // A reset refused for its entries leaves a detector that answered: it is let go as after any answer.
  options.close = [](TComKVT& l, uint8_t code) { l.CloseUSB(code == APP_LOGNOTKEPT ? LINK_OK : code); };
  REventsKept kept;
  const uint8_t code = CatchingPortErrors(op, kLogResetName, [&] {
    return RunOperation(op, link, kLogResetName, [&] {
      RKVTIdenty identity{};
      uint8_t c = link.RequireIdenty(identity);
      if (c == LINK_OK) c = CheckProduct(identity.mPID, 0);
      // Whatever the log holds is kept before it is cleared, in this same connection: the unit
      // block names the wearer, the log its entries.
      RKVTUnitCFG unit{};
      for (int i = 0; c == LINK_OK && i < kCFGAttempts; ++i) {
        c = link.ReadUnitCFGData(unit, DeviceCFG.mUnitPacketSize, DeviceCFG.mUnitDataSize);
        if (c == LINK_OK) break;
      }
      std::vector<uint8_t> log;
      if (c == LINK_OK) c = link.LoadLog(log, DeviceCFG.mEVENTReadPacketSize);
      if (c != LINK_OK) return c;
      record.Identity(identity);
      kept = KeepEventEntries(identity, unit, log, record.Data(), std::time(nullptr));
      record.Detail("events", std::to_string(kept.mCount));
      KeptDetails(record, kept);
      if (kept.mCount > 0 && (kept.mFate == TRecordFate::Lost || kept.mFate == TRecordFate::NotRecorded)) {
        op.memoLine("Event Log Reset: " + std::to_string(kept.mCount) + " entries could not be kept (" + kept.mWhy +
                    "): nothing cleared");
        return APP_LOGNOTKEPT;
      }
      return link.LogReset();
    }, options);
  });
  // Said once the detector has been let go.
  if (kept.mFate == TRecordFate::Unsealed || kept.mFate == TRecordFate::Held) op.recordsWarning(RecordsDatabasePath(), kept.mWhy);
  return code;
}

bool ConfirmLogReset(Operator& op) {
  return op.ask("Log Reset",
                "Clear the detector's event log?\rEvery alarm and bump test event stored in the detector is "
                "deleted from the detector; its entries are downloaded and kept in the service records first.");
}
