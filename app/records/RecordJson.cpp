// One record as one JSON line (the outbox, exports), and an export's check.
#include "app/records/ServiceRecords.h"

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

namespace {

// Values of a flat JSON object as text (strings unescaped, numbers and literals as written);
// nullopt for anything else.
std::optional<std::map<std::string, std::string>> ParseFlatJson(const std::string& s) {
  std::map<std::string, std::string> out;
  size_t i = 0;
  auto ws = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
  };
  auto str = [&](std::string& v) -> bool {
    if (i >= s.size() || s[i] != '"') return false;
    for (++i; i < s.size(); ++i) {
      char c = s[i];
      if (c == '"') {
        ++i;
        return true;
      }
      if (c != '\\') {
        v += c;
        continue;
      }
      if (++i >= s.size()) return false;
      switch (s[i]) {
        case 'n': v += '\n'; break;
        case 'r': v += '\r'; break;
        case 't': v += '\t'; break;
        case 'u': {
          if (i + 4 >= s.size()) return false;
          const unsigned long code = std::strtoul(s.substr(i + 1, 4).c_str(), nullptr, 16);
          if (code > 0xFF) return false;  // only what JsonString writes: one byte each
          v += static_cast<char>(code);
          i += 4;
          break;
        }
        default: v += s[i];
      }
    }
    return false;
  };
  ws();
  if (i >= s.size() || s[i++] != '{') return std::nullopt;
  ws();
  if (i < s.size() && s[i] == '}') return out;
  for (;;) {
    std::string key, value;
    ws();
    if (!str(key)) return std::nullopt;
    ws();
    if (i >= s.size() || s[i++] != ':') return std::nullopt;
    ws();
    if (i < s.size() && s[i] == '"') {
      if (!str(value)) return std::nullopt;
    } else {
      while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ' ') value += s[i++];
      if (value.empty()) return std::nullopt;
    }
    out[key] = value;
    ws();
    if (i >= s.size()) return std::nullopt;
    if (s[i] == '}') return out;
    if (s[i++] != ',') return std::nullopt;
  }
}

}  // namespace

namespace {
// The text fields of a record under their names in an export, in the order they are written.
using TTextField = std::pair<const char*, std::string RServiceRecord::*>;
constexpr TTextField kTextFields[] = {
    {"station", &RServiceRecord::mStation},       {"time", &RServiceRecord::mTime},
    {"origin", &RServiceRecord::mOrigin},         {"serial", &RServiceRecord::mSerial},
    {"sensor_type", &RServiceRecord::mSensorType}, {"product", &RServiceRecord::mProduct},
    {"hardware", &RServiceRecord::mHardware},     {"firmware", &RServiceRecord::mFirmware},
    {"kind", &RServiceRecord::mKind},             {"operation", &RServiceRecord::mOperation},
    {"result", &RServiceRecord::mResult},         {"status", &RServiceRecord::mStatus},
    {"technician", &RServiceRecord::mTechnician}, {"user", &RServiceRecord::mUser},
    {"port", &RServiceRecord::mPort},             {"zero", &RServiceRecord::mZero},
    {"span", &RServiceRecord::mSpan},             {"as_found", &RServiceRecord::mAsFound},
    {"as_left", &RServiceRecord::mAsLeft},        {"span_gas", &RServiceRecord::mSpanGas},
    {"lot", &RServiceRecord::mLot},               {"expiry", &RServiceRecord::mExpiry},
    {"details", &RServiceRecord::mDetails},       {"prev_hash", &RServiceRecord::mPrevHash},
    {"hash", &RServiceRecord::mHash},             {"signature", &RServiceRecord::mSignature},
};
}  // namespace

std::string RecordJson(const RServiceRecord& r) {
  std::string out = "{\"seq\":" + std::to_string(r.mSeq) + ",\"code\":" + std::to_string(r.mCode) +
                    ",\"adapter\":" + (r.mAdapter ? "true" : "false");
  auto field = [&](const char* name, const std::string& text) { out += ',' + JsonString(name) + ':' + JsonString(text); };
  for (const auto& [name, member] : kTextFields) field(name, r.*member);
  field("cfg_before", HexOf(r.mCfgBefore.data(), r.mCfgBefore.size()));
  field("cfg_after", HexOf(r.mCfgAfter.data(), r.mCfgAfter.size()));
  std::string written;
  for (bool w : r.mCfgWritten) written += w ? '1' : '0';
  if (!written.empty()) field("cfg_written", written);
  return out + "}";
}

std::optional<RServiceRecord> RecordFromJson(const std::string& line) {
  const auto values = ParseFlatJson(line);
  if (!values || !values->count("hash") || !values->count("operation")) return std::nullopt;
  auto get = [&](const char* k) {
    const auto it = values->find(k);
    return it == values->end() ? std::string() : it->second;
  };
  RServiceRecord r;
  for (const auto& [name, member] : kTextFields) r.*member = get(name);
  r.mSeq = std::strtoll(get("seq").c_str(), nullptr, 10);
  r.mCode = static_cast<int>(std::strtol(get("code").c_str(), nullptr, 10));
  r.mAdapter = get("adapter") == "true";
  r.mCfgBefore = BytesOfHex(get("cfg_before"));
  r.mCfgAfter = BytesOfHex(get("cfg_after"));
  for (char c : get("cfg_written")) r.mCfgWritten.push_back(c == '1');
  return r;
}

namespace {
// What the export's end signs: the station, how many records, and the last one's digest.
std::string ExportEndText(const std::string& station, int64_t count, const std::string& last) {
  return "beamdock-export-end:" + station + ":" + std::to_string(count) + ":" + last;
}
}  // namespace

void ExportRecords(const std::string& storePath, const std::string& file) {
  // Only records that verify leave the station, and they leave with a signed end: an export
  // cut short, or with a record taken out, no longer matches it.
  std::vector<RServiceRecord> chain;
  const RChainCheck check = VerifyStore(storePath, &chain);
  if (!check.mIntact) throw ERecordStore("the records do not verify, so they are not exported: " + check.mWhy);
  std::optional<TStationKey> key;
  try {
    key.emplace(TStationKey::Open(storePath, false));
  } catch (const EStationKey& e) {
    throw ERecordStore(std::string("the export cannot be signed: ") + e.what());
  }
  const std::string last = chain.empty() ? kNoHash : chain.back().mHash;
  const int64_t count = static_cast<int64_t>(chain.size());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "{\"station\":" << JsonString(key->Id()) << ",\"public_key\":" << JsonString(key->PublicPem())
      << ",\"records\":" << count << "}\n";
  for (const RServiceRecord& r : chain) out << RecordJson(r) << "\n";
  out << "{\"end\":true,\"station\":" << JsonString(key->Id()) << ",\"records\":" << count
      << ",\"last\":" << JsonString(last)
      << ",\"signature\":" << JsonString(key->Sign(ExportEndText(key->Id(), count, last))) << "}\n";
  out.close();
  if (!out) throw ERecordStore(file + " could not be written");
}

RChainCheck VerifyExport(const std::string& file, const std::string& keyFile) {
  RChainCheck bad;
  bad.mIntact = false;
  std::ifstream keyIn(keyFile, std::ios::binary);
  std::ostringstream pem;
  pem << keyIn.rdbuf();
  std::optional<TStationKey> key;
  try {
    key = TStationKey::FromPublicPem(pem.str());
  } catch (const EStationKey& e) {
    return bad.mWhy = keyFile + ": " + e.what(), bad;
  }
  std::ifstream in(file, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return bad.mWhy = file + ": cannot be read", bad;
  auto head = ParseFlatJson(line);
  if (!head || (*head)["station"] != key->Id())
    return bad.mWhy = file + ": the export names another station than this key's", bad;
  std::vector<RServiceRecord> chain;
  std::optional<std::map<std::string, std::string>> end;
  for (int64_t n = 1; std::getline(in, line); ++n) {
    if (line.empty()) continue;
    if (end) return bad.mWhy = file + ": line " + std::to_string(n + 1) + " follows the export's signed end", bad;
    if (auto values = ParseFlatJson(line); values && (*values)["end"] == "true") {
      end = values;
      continue;
    }
    std::optional<RServiceRecord> r = RecordFromJson(line);
    if (!r) return bad.mWhy = file + ": line " + std::to_string(n + 1) + " is no record", bad;
    chain.push_back(*r);
  }
  const int64_t count = std::strtoll((*head)["records"].c_str(), nullptr, 10);
  if (count != static_cast<int64_t>(chain.size()))
    return bad.mWhy = file + ": the export says " + std::to_string(count) + " records and holds " +
                      std::to_string(chain.size()),
           bad;
  RChainCheck check = VerifyChain(chain, &*key, std::nullopt);
  if (!check.mIntact) return check;
  const std::string last = chain.empty() ? kNoHash : chain.back().mHash;
  if (!end) return bad.mWhy = file + ": the export has no signed end: it was cut short", bad;
  if ((*end)["station"] != key->Id() || (*end)["records"] != std::to_string(count) || (*end)["last"] != last ||
      !key->Check(ExportEndText(key->Id(), count, last), (*end)["signature"]))
    return bad.mWhy = file + ": the export's signed end does not match its records: records were cut or changed", bad;
  return check;
}
