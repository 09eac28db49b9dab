// Targets for what a detector sends: replies to every command, the handshake's triples, and
// the event log and EEPROM bytes turned into files.
#include "fuzzers/FuzzSupport.h"

#include "app/device/EepromDump.h"
#include "app/device/EventLog.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/EventLog.h"

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

// A link whose far end is the rest of the input, with the pauses a detector needs taken out.
struct TFuzzLink {
  explicit TFuzzLink(TFuzzBytes& in) {
    auto s = std::make_unique<TFuzzStream>(in);
    stream = s.get();
    link = std::make_unique<TComKVT>(std::move(s));
    link->FExchangePauseMs = 0;
    link->FConnectSpacing = std::chrono::nanoseconds(0);
  }
  TFuzzStream* stream;
  std::unique_ptr<TComKVT> link;
};

bool KnownResult(uint8_t code) {
  switch (code) {
    case LINK_OK: case LINK_PORTERROR: case LINK_NORESPONSE: case LINK_NAK: case LINK_ERROR:
    case LINK_CRCERROR: case LINK_BLOCKCRC: case LINK_LIMIT: case LINK_LOGSIZE: case LINK_NOCONNECT:
      return true;
    default:
      return false;
  }
}

}  // namespace

// One command of the link, chosen and sized by the first bytes; the replies are the rest.
int FuzzReplies(const uint8_t* data, size_t size) {
  TFuzzBytes in(data, size);
  const uint8_t which = in.Byte();
  const uint16_t a = in.Word(), b = in.Word();
  TFuzzLink f(in);
  TComKVT& link = *f.link;
  RComKVTReadBuf buf{};
  uint8_t code = 0;
  switch (which % 10) {
    case 0: code = link.SendCommand(0, 0x5F, 3 + a % 1030, 1.0f); break;
    case 1: { RKVTUnitCFG u{}; code = link.ReadUnitCFGData(u, a % 70, b % 70); break; }
    case 2: { RKVTSensorCFG s{}; code = link.ReadSensorCFGData(s, a % 70, b % 70); break; }
    case 3: { RKVTIdenty id{}; code = link.RequireIdenty(id); break; }
    case 4: { RKVTSensor s{}; code = link.RequireSensor(s, static_cast<uint8_t>(a % 4)); break; }
    case 5: {
      std::vector<uint8_t> log;
      code = link.LoadLog(log, a % 1030);
      FUZZ_CHECK(log.size() <= static_cast<size_t>(link_limits::kMaxLogBytes));
      break;
    }
    case 6:
      code = link.ReadEEPROMData(buf, a % 300, b, static_cast<uint16_t>(in.Word()));
      FUZZ_CHECK(buf.mData >= 0 && buf.mData <= kReadBufSize);
      break;
    case 7: {
      std::vector<uint8_t> bytes;
      code = ReadEEPROMBytes(link, a % 300, b, static_cast<int>(in.Word() % 1100), bytes);
      FUZZ_CHECK(bytes.size() <= static_cast<size_t>(kEEPROMShownBytes));
      break;
    }
    case 8: code = link.SensorCalibration(static_cast<uint8_t>(0x40 + a % 8)); break;
    case 9: buf.mData = a % 130; code = link.WriteCFGData(buf, b % 140, static_cast<uint16_t>(a % 140)); break;
  }
  if (!KnownResult(code)) std::fprintf(stderr, "result 0x%02X\n", code);
  FUZZ_CHECK(KnownResult(code));
  FUZZ_CHECK(link.FReadBuf.mData >= 0 && link.FReadBuf.mData <= kReadBufSize);
  return 0;
}

// The connect handshake: triples of acknowledgements, noise and other answers in the reads.
int FuzzHandshake(const uint8_t* data, size_t size) {
  TFuzzBytes in(data, size);
  TFuzzLink f(in);
  const uint8_t code = f.link->ConnectKVT(5.0f);
  FUZZ_CHECK(code == LINK_OK || code == LINK_PORTERROR || code == LINK_NOCONNECT);
  return 0;
}

// The event log as the detector hands it over: its entries, their order and the CSV lines;
// with the top bit of the first byte also the whole save (file and remembered folder), which
// is slower, so the fuzzer spends most runs on the lines.
int FuzzEventLog(const uint8_t* data, size_t size) {
  TFuzzBytes in(data, size);
  const uint8_t control = in.Byte();
  DeviceCFG.mEVENTPacketSize = static_cast<uint16_t>(control % 20);
  RKVTUnitCFG unit{};
  const std::vector<uint8_t> head = in.Take(sizeof unit);
  if (!head.empty()) std::memcpy(&unit, head.data(), head.size());
  RComKVTReadBuf buf{};
  buf.mData = static_cast<int32_t>(in.Long());
  const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(in.Long()));
  const std::vector<uint8_t> rest = in.Take(kReadBufSize);
  if (!rest.empty()) std::memcpy(buf.mBuf, rest.data(), rest.size());

  if (!(control & 0x80)) {
    std::vector<RKVTEvent> events = EventsFromBuffer(buf, DeviceCFG.mEVENTPacketSize);
    FUZZ_CHECK(events.size() <= static_cast<size_t>(kReadBufSize));
    SortEvents(events);
    for (size_t i = 1; i < events.size(); ++i) FUZZ_CHECK(events[i - 1].mStartEvent >= events[i].mStartEvent);
    const std::vector<std::string> header = EventLogHeader(unit);
    FUZZ_CHECK(header.size() == 11);
    for (const std::string& line : header) FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    for (const RKVTEvent& e : events) {
      // A comma as the separator quotes the reading, so the columns stay those of the heading.
      const std::string line = EventLine(e, unit.mLifeRemaining, now, control & 0x40 ? "," : ".");
      FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    }
    std::tm local{};
    const std::string name = EventLogFileName(FieldText(unit.mSerial, sizeof unit.mSerial), local);
    FUZZ_CHECK(name.find('/') == std::string::npos);
    return 0;
  }

  AppDir = FuzzScratchDir();
  const std::string file = AppDir + "events.csv";
  ::unlink(file.c_str());
  TFuzzOperator op(file);
  FileRequest dialog;
  // The whole download as the link hands it over: the count, at most the bytes given.
  const std::vector<uint8_t> log(buf.mBuf, buf.mBuf + std::clamp<int32_t>(buf.mData, 0, kReadBufSize));
  const REventLogResult r = SaveEventLogCSV(op, unit, log, dialog, now);
  struct stat st {};
  FUZZ_CHECK(r.mEnd != TEventLogEnd::Saved || ::stat(file.c_str(), &st) == 0);
  return 0;
}

// The EEPROM's data-log area as a time series and its file name, from a buffer.
int FuzzEepromLog(const uint8_t* data, size_t size) {
  TFuzzBytes in(data, size);
  const std::vector<uint8_t> bytes = in.Rest();
  const std::string text = EEPROMLogText(bytes);
  FUZZ_CHECK(text.empty() || bytes.size() >= 994);
  const std::string name = EEPROMLogFileName("/x/", bytes, 0);
  FUZZ_CHECK(name.rfind("/x/", 0) == 0 && name.find('/', 3) == std::string::npos);
  return 0;
}
