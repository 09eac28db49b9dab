// A record in words and as CSV, and the small texts a record is made of.
#include "app/records/ServiceRecords.h"

#include "app/config/CfgFields.h"
#include "app/core/Settings.h"
#include "app/records/StationKey.h"
#include "model/Checksum.h"
#include "model/CsvText.h"
#include "model/DeviceUtils.h"
#include "model/EventLog.h"
#include "model/JsonText.h"
#include "model/SensorTypes.h"
#include "model/TimeText.h"

#include <array>
#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

std::string RecordKind(const std::string& op) {
  if (op == "Write KVT Information") return "write";
  if (op == "Calibration" || op == "Sensor Calibration" || op.find("CAL.") != std::string::npos) return "calibration";
  if (op.find("Bump") != std::string::npos) return "bump";
  if (op == "Check Program" || op == "Download Image") return "firmware";
  if (op == "Load Event Log" || op == "Event Log Reset") return "event log";
  if (op == "Read KVT Information" || op == "Read sensor information" || op == "Load Identify" ||
      op == "Read EEPROM data")
    return "read";
  return "service";
}

std::string SensorTypeText(uint8_t code) {
  const int pos = FindSensorType(code);
  if (pos >= 0) return SensorTypes[static_cast<size_t>(pos)].mName;
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", code);
  return text;
}

void SetRecordDevice(RServiceRecord& r, const char* serial10, uint8_t sensorType) {
  r.mSerial = FieldText(serial10, 10);
  r.mSensorType = SensorTypeText(sensorType);
}

std::vector<uint8_t> CfgImage(const RKVTCFG& cfg) {
  const auto* p = reinterpret_cast<const uint8_t*>(&cfg);
  return {p, p + sizeof cfg};
}

bool CfgFromImage(const std::vector<uint8_t>& image, RKVTCFG& cfg) {
  if (image.size() != sizeof cfg) return false;
  std::memcpy(&cfg, image.data(), sizeof cfg);
  return true;
}

std::string LocalTimeText(const std::string& utcIso) {
  const std::optional<std::time_t> t = UtcTimeOf(utcIso);
  return t ? LocalTimeText(*t) : utcIso;
}

std::string ResultText(const RServiceRecord& r) {
  const std::string result = r.mResult.empty() ? "-" : r.mResult;
  return r.mKind == "bump" && r.Detail("verdict") == "hand" ? result + " (hand)" : result;
}

std::string HistoryCSV(const std::vector<RServiceRecord>& records, const std::string& verified) {
  std::string out = CsvQuoted(verified + "; " + kCsvCellNote) + "\r\n" +
      "Time,Serial,Sensor,Kind,Operation,Result,Code,Status,Technician,User,Station,Record,Port,Zero,Span,"
      "As found,As left,Span gas,Lot,Expiry,Details\r\n";
  for (const RServiceRecord& r : records) {
    std::string details = r.mDetails;
    while (!details.empty() && details.back() == '\n') details.pop_back();
    for (size_t at; (at = details.find('\n')) != std::string::npos;) details.replace(at, 1, "; ");
    const std::string fields[] = {LocalTimeText(r.mTime), r.mSerial,   r.mSensorType, r.mKind,   r.mOperation,
                                  ResultText(r),         std::to_string(r.mCode),     r.mStatus, r.mTechnician,
                                  r.mUser,               r.mStation,   r.Sealed() ? std::to_string(r.mSeq) : "earlier",
                                  r.mPort,               r.mZero,      r.mSpan,       r.mAsFound, r.mAsLeft,
                                  r.mSpanGas,            r.mLot,       r.mExpiry,     details};
    bool first = true;
    for (const std::string& f : fields) {
      if (!first) out += ',';
      out += CsvCell(f);
      first = false;
    }
    out += "\r\n";
  }
  return out;
}

std::string RecordInWords(const RServiceRecord& r) {
  std::string out;
  auto line = [&](const std::string& label, const std::string& value) {
    if (!value.empty()) out += label + ": " + value + "\n";
  };
  line("Time", LocalTimeText(r.mTime));
  line("Operation", r.mOperation + " (" + r.mKind + ")");
  line("Result", r.mResult + (r.mCode != 0 ? " (code " + std::to_string(r.mCode) + ")" : ""));
  line("Status", r.mStatus);
  line("Detector", r.mSerial + (r.mSensorType.empty() ? "" : ", " + r.mSensorType) +
                       (r.mProduct.empty() ? "" : ", " + r.mProduct));
  if (!r.mHardware.empty() || !r.mFirmware.empty()) line("Versions", "hardware " + r.mHardware + ", firmware " + r.mFirmware);
  line("Zero", r.mZero);
  line("Span", r.mSpan);
  line("As found", r.mAsFound);
  line("As left", r.mAsLeft);
  line("Span gas", r.mSpanGas);
  line("Cylinder lot", r.mLot);
  line("Cylinder expiry", r.mExpiry);
  line("Technician", r.mTechnician);
  line("Account", r.mUser);
  line("Port", r.mPort + (r.mPort.empty() || r.mAdapter ? "" : " (simulated or not an adapter)"));
  // The details in words: each key's name as a person says it, seconds and counts with their unit.
  static const std::map<std::string, std::pair<std::string, std::string>> kWords = {
      {"zero_s", {"Zero step", " s"}},
      {"span_s", {"Span step", " s"}},
      {"events", {"Event log entries", ""}},
      {"file", {"File", ""}},
      {"image_version", {"Image firmware version", ""}},
      {"image_crc", {"Image checksum", ""}},
      {"attempts", {"Download attempts", ""}},
      {"outcome", {"Download outcome", ""}},
      {"line", {"Production line file", ""}},
      {"changed", {"Fields changed", ""}},
      {"readback", {"Read back", ""}},
      {"cfg_before", {"Configuration before the write", ""}},
      {"cfg_bytes_changed", {"Configuration bytes changed", ""}},
      {"organisation", {"Organisation", ""}},
      {"site", {"Site", ""}},
      {"software", {"Software", ""}},
      {"procedure", {"Procedure", ""}},
      {"gas_supplier", {"Gas supplier", ""}},
      {"cylinder_certificate", {"Cylinder certificate", ""}},
      {"gas_uncertainty", {"Gas uncertainty", ""}},
      {"zero_gas", {"Zero gas", ""}},
      {"authoriser", {"Authoriser", ""}},
      {"authoriser_function", {"Authoriser's function", ""}},
      {"due_date", {"Due date on the certificate", " (asked for)"}},
      {"tolerance_pct", {"Tolerance", " %"}},
      {"rule", {"Decision rule", ""}},
      {"zero_as_found", {"Zero as found", ""}},
      {"zero_as_left", {"Zero as left", ""}},
      {"temperature", {"Temperature", ""}},
      {"cylinder", {"Cylinder", ""}},
      {"amends", {"Corrects record", ""}},
      {"amends_digest", {"Digest of the corrected record", ""}},
      {"reason", {"Reason", ""}},
      {"previous_station", {"Previous station", ""}},
      {"previous_last", {"Previous station's last record", ""}},
      {"retired", {"Previous station's files", ""}},
      {"unsealed_left", {"Records left unsealed", ""}},
      {"verdict", {"Verdict", ""}},
      {"time_limit_s", {"Time limit", " s"}},
      {"t_low_s", {"Low alarm after", " s"}},
      {"t_high_s", {"High alarm after", " s"}},
      {"peak", {"Peak", ""}},
  };
  // A write whose configuration before and after are kept names each field it changed.
  std::string changes;
  if (r.mCfgBefore.size() == sizeof(RKVTCFG) && r.mCfgAfter.size() == sizeof(RKVTCFG)) {
    RKVTCFG before{}, after{};
    std::memcpy(&before, r.mCfgBefore.data(), sizeof before);
    std::memcpy(&after, r.mCfgAfter.data(), sizeof after);
    for (const RFieldChange& c : DiffCFG(before, after))
      changes += (changes.empty() ? "" : "; ") + c.mLabel + " " + c.mFrom + " -> " + c.mTo;
    if (r.mKind == "write" && changes.empty()) changes = "none";
  }
  std::istringstream details(r.mDetails);
  for (std::string d; std::getline(details, d);) {
    const size_t eq = d.find('=');
    if (eq == std::string::npos) continue;
    std::string key = d.substr(0, eq);
    std::string value = d.substr(eq + 1);
    if (key == "cfg_bytes_changed" && !changes.empty()) continue;  // the fields below say it
    if (const auto w = kWords.find(key); w != kWords.end()) {
      line(w->second.first, value + w->second.second);
      continue;
    }
    for (char& c : key) c = c == '_' ? ' ' : c;
    // A correction's fields: what it was, and what it is now.
    if (key.rfind("was.", 0) == 0) key = key.substr(4) + " before the correction";
    if (key.rfind("set.", 0) == 0) key = key.substr(4) + " corrected to";
    line(key, value);
  }
  if (r.mKind == "write") line("Changed", changes);
  if (!r.mCfgAfter.empty())
    line("Configuration", r.mCfgBefore.empty() ? "as left kept" : "before and after kept");
  line("Seal", r.Sealed() ? "record " + std::to_string(r.mSeq) + " of station " + r.mStation + ", digest " + r.mHash
                          : "earlier record, chained but not signed");
  return out;
}

