// Command line of kvt-sim, kept in the library so tests build Options from an argv too.
#include "sim/KvtSim.h"

#include "model/CfgFile.h"
#include "model/Checksum.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

bool parseInt(const std::string& s, long long lo, long long hi, long long& out) {
  if (s.empty()) return false;
  size_t i = 0;
  bool neg = false;
  if (s[0] == '-' || s[0] == '+') {
    neg = s[0] == '-';
    i = 1;
  }
  int base = 10;
  if (s.size() > i + 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * base + d;
    if (v > (1LL << 40)) return false;
  }
  if (neg) v = -v;
  if (v < lo || v > hi) return false;
  out = v;
  return true;
}

std::vector<std::string> splitList(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  return parts;
}

bool readFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot open " + path;
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  if (f.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

template <typename T>
T le(const uint8_t* p) {
  T v{};
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

bool KvtSim::loadConfigFile(const std::string& path, RKVTCFG& cfg, std::string& error) {
  std::vector<uint8_t> b;
  if (!readFile(path, b, error)) return false;
  if (b.size() == sizeof(RKVTCFG)) {  // a raw image
    std::memcpy(&cfg, b.data(), sizeof cfg);
    fillCRCs(cfg);
    return true;
  }
  // Otherwise a .cfg file of any version the tool reads, converted as the tool converts it.
  const CFGFileContent content = ParseCFGFile(std::span<const uint8_t>(b.data(), b.size()));
  if (!content.ok()) {
    error = path + ": neither a 128-byte image nor a configuration file of version 1 to 8";
    return false;
  }
  cfg = content.cfg;
  fillCRCs(cfg);
  return true;
}

bool KvtSim::loadEventFile(const std::string& path, std::vector<Event>& events, std::string& error) {
  std::vector<uint8_t> b;
  if (!readFile(path, b, error)) return false;
  events.clear();
  for (size_t off = 0; off + sizeof(RKVTEvent) <= b.size(); off += sizeof(RKVTEvent)) {
    const uint8_t* p = b.data() + off;
    const uint32_t start = le<uint32_t>(p);
    if (start == 0xFFFFFFFF) break;
    events.push_back({start, le<uint16_t>(p + 4), p[6], le<int16_t>(p + 7)});
  }
  return true;
}

std::string KvtSim::helpText() {
  return R"(Usage: kvt-sim [options]

A simulated detector behind a pseudo-terminal. The first line printed is the terminal's device
path (for example /dev/pts/5); point the tool at it (BEAMDOCK_PORT=/dev/pts/5). It serves until
SIGINT or SIGTERM; SIGUSR1 wakes it from power down or hibernation.

Frames are delimited by what the protocol implies: a command frame is its byte plus a CRC
(3 bytes); the frames without a command byte are expected only right after the command that
announces them: 6 bytes after 0x70 (window header) and after 0x71 (life value), the header's
size + 2 after 0x91, and the firmware packet size + 2 after 0x91/0x93 during an upgrade.
A frame whose CRC fails is resynchronised by dropping one byte at a time; an unfinished frame
idle for --idle-gap-ms is dropped. A damaged payload frame is answered with NAK.

Numbers are decimal or 0x hexadecimal.

Choices of this unit: packets read past the end of a block, the log or the EEPROM are 0xFF;
a window write that would reach past the 128-byte image is refused (NAK to 0x91), so is a
header of size 0 or with a second byte other than 0, and a life value above 63072000 (NAK);
every stored block gets its own CRC recomputed. 0x44 clears the peak, 0x45/0x46 set/clear
history bit 4 (bump failed). An unknown command, 0x81 without a select and 0x91 without a
window or upgrade get NAK. The connect frames the host repeats before it has seen the
acknowledgement are answered once only: a connect frame within 20 ms of an acknowledged one,
with no other command between, gets no answer.

Identity and configuration:
  --config FILE            load the configuration: a 128-byte image (.bin) or a .cfg file of
                           version 1 to 8; the own CRCs are always filled in
  --serial TEXT            serial number (up to 10 characters, padded with '0')
  --user-id TEXT           user ID (up to 6 characters, padded with blanks)
  --allow-suspend          mAllowSuspend = 0x80 (hibernation allowed; default 0xFF refuses it)
  --sensor-type N          mSensorType of the sensor block (default 1)
  --fw-version N           mFWVersion (firmware version x 10; identity mSW)
  --hw-version N           mHWVersion (identity mHW)
  --life SECONDS           mLifeRemaining (identity mLife)
  --alarm-high N           mAlarmHigh in tenths
  --alarm-low N            mAlarmLow in tenths
  --pid N                  product type in the identity (default 0)
  --id-sensor N            sensor code in the identity, instead of mSensorType
  --corrupt-unit-crc[=N]   deliver the unit block with a wrong own CRC (N: the first N reads
                           only; without N: every read)
  --corrupt-sensor-crc[=N] the same for the sensor block

Packet sizes (the host announces none of these; they must match its settings):
  --block-packet N         data bytes of a 0x81 reply after 0x5F/0x50 (default 32)
  --log-packet N           data bytes of a 0x81 reply after 0x60 (default 32)
  --fw-packet N            data bytes of one firmware packet frame (default 128)
  --fw-packets N           packets of one firmware image (default 128)
  (EEPROM reads use the packet size of the 4-byte header after 0x70.)

Event log (9-byte entries, then 9 bytes FF after the last; 0xA1 reports that length):
  --no-events              empty log
  --event START,DURATION,FLAGS,READING
                           one entry (repeatable; replaces the three default entries)
  --events N               N generated entries
  --event-file FILE        entries from a file of 9-byte entries
  --log-size N             report N to 0xA1 whatever the log holds

EEPROM:
  --eeprom-file FILE       EEPROM image (default: serial number at 16-25, time step at 30-31,
                           433 logged values at 128-993, 0xFF elsewhere)
  --eeprom-size N          EEPROM size in bytes (default 1024; reads beyond give 0xFF)
  --eeprom-step N          time step at 30-31 (default 60)

Readings (0x20 gas, 0x21 temperature, 0x22 battery):
  --gas CENTER[,AMPLITUDE[,PERIOD_MS]]
                           moving gas value, raw (default 50,30,20000)
  --decimals N             decimals of the gas reading, history bits 0-1 (default 1)
  --overrange              gas reading 0x7FFF (OL)
  --history-bits N         history bits 2-6 to report as set
  --alarm-bits N           alarm bits to report as set (LOW and HIGH also follow the levels)
  --temperature V[,DEC[,ADC]]  (default 245,1,1750)
  --battery V[,DEC[,ADC]]      (default 395,2,2048)

Upgrade: 0x10 starts it; each 0x91 announces the next packet, 0x93 the same packet again;
0x11 is answered NAK unless every packet arrived and the image's own CRC (bytes 0-1, low byte
first, the CRC of bytes 2 to the end) matches. A good image then runs: the firmware version
(mFWVersion, identity mSW) becomes its byte 3.

  --make-image FILE         write an image this unit accepts (its firmware version + 0.1)
                           to FILE and end, instead of serving

Factory reset (0x12) restores the configuration the unit was started with.

Calibration (0x50 then 0x40..0x46; an action without 0x50 before it is refused with NAK):
  --cal-time-ms N          bit 7 stays set this long after 0x41/0x42 (default 3000)
  --cal-fail               the calibration ends with bit 3 set
  --cal-never-start        0x41/0x42 acknowledged, bit 7 never set
  --cal-never-end          bit 7 stays set until 0x40 or 0x43

Power down (0x14) and hibernation (0x17, only with mAllowSuspend 0x80; it clears the log):
the unit then ignores everything until woken by SIGUSR1, or:
  --wake-after-ms N        wake by itself after N ms (default 0: never)

Production line (one unit after another on the adapter):
  --units N                this many units come, one after another (default 1); each next
                           one has the started configuration, its serial counted up by one
  --away-after-ms N        the unit is taken away N ms after a connection that wrote its
                           configuration ends (default 0: stays)
  --back-after-ms N        the next unit is put on N ms after one was taken away
  --lose-writes UNIT       unit UNIT (from 1) acknowledges configuration writes, keeps none

Fault injection:
  --echo                   echo every connect frame received while not connected (also
                           while off), as an echoing adapter does: B2 75 80 before B5 B7 C1
  --echo-check             also echo connect frames received while connected
  --ignore-connects N      ignore the first N connect frames of each handshake
  --nak CMD[:COUNT]        answer CMD with NAK (COUNT times, default always)
  --error CMD[:COUNT]      answer CMD with the error status
  --silent CMD[:COUNT]     do not answer CMD
  --bad-crc CMD[:COUNT]    answer CMD as usual but with a wrong CRC
  --hangup CMD             close the terminal instead of answering CMD, as an adapter
                           pulled out (SIGUSR2 to kvt-sim plugs a new one in)
                           CMD is a command byte (0x5F) or header, data, time, packet,
                           or packet@N for firmware packet N only (packet@40:1 fails it once),
                           or any: every command of a connection but 0xB2 and 0xB3
  --error-status N         status byte of error replies (default 0xBF)
  --corrupt-crc-every N    every Nth reply goes out with a wrong CRC
  --split N                send replies in pieces of N bytes (not the handshake's
                           acknowledgement, which the host takes only whole)
  --split-gap-us N         gap between pieces (default 500)
  --wire-time              pace sent bytes at 115200 baud 8N1 (86.8 us a byte; sleeps)
  --reply-delay-ms N       wait N ms before every reply
  --idle-gap-ms N          resynchronise an unfinished frame after N ms idle (default 10)

Output:
  --log FILE               write every frame received and sent to FILE
  --link PATH              also create a symbolic link PATH to the terminal
  --help                   this text
)";
}

bool KvtSim::parseArgs(const std::vector<std::string>& args, Options& o, std::string& error, bool* help) {
  if (help) *help = false;
  bool eventsGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    const size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    auto need = [&](std::string& v) {
      if (hasValue) {
        v = value;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      v = args[++i];
      return true;
    };
    auto num = [&](long long lo, long long hi, long long& out) {
      std::string v;
      if (!need(v)) return false;
      if (!parseInt(v, lo, hi, out)) {
        error = name + ": '" + v + "' is not a number from " + std::to_string(lo) + " to " + std::to_string(hi);
        return false;
      }
      return true;
    };
    auto intOpt = [&](int& target, long long lo, long long hi) {
      long long v;
      if (!num(lo, hi, v)) return false;
      target = static_cast<int>(v);
      return true;
    };
    auto triple = [&](int& a, int& b, int& c, long long lo, long long hi) {
      std::string v;
      if (!need(v)) return false;
      auto parts = splitList(v, ',');
      int* dst[3] = {&a, &b, &c};
      if (parts.size() > 3) {
        error = name + ": at most three values";
        return false;
      }
      for (size_t k = 0; k < parts.size(); ++k) {
        long long x;
        if (!parseInt(parts[k], lo, hi, x)) {
          error = name + ": bad value '" + parts[k] + "'";
          return false;
        }
        *dst[k] = static_cast<int>(x);
      }
      return true;
    };
    auto fault = [&](FaultKind kind) {
      std::string v;
      if (!need(v)) return false;
      Fault f;
      f.kind = kind;
      std::string target = v;
      const size_t colon = v.find(':');
      if (colon != std::string::npos) {
        target = v.substr(0, colon);
        long long c;
        if (!parseInt(v.substr(colon + 1), 1, 1000000, c)) {
          error = name + ": bad count in '" + v + "'";
          return false;
        }
        f.count = static_cast<int>(c);
      }
      long long t;
      if (target == "header") f.target = kTargetHeader;
      else if (target == "data") f.target = kTargetData;
      else if (target == "time") f.target = kTargetTime;
      else if (target == "packet") f.target = kTargetPacket;
      else if (target == "any") f.target = kTargetAny;
      else if (target.rfind("packet@", 0) == 0 && parseInt(target.substr(7), 0, 65535, t)) {
        f.target = kTargetPacket;
        f.packet = static_cast<int>(t);
      }
      else if (parseInt(target, 0, 255, t)) f.target = static_cast<int>(t);
      else {
        error = name + ": '" + target + "' is neither a command byte nor header, data, time, packet, any";
        return false;
      }
      o.faults.push_back(f);
      return true;
    };
    auto text = [&](char* dst, size_t width, char pad) {
      std::string v;
      if (!need(v)) return false;
      if (v.size() > width) {
        error = name + ": at most " + std::to_string(width) + " characters";
        return false;
      }
      std::memset(dst, pad, width);
      std::memcpy(dst, v.data(), v.size());
      return true;
    };
    long long v = 0;
    bool ok = true;
    RKVTUnitCFG& u = o.config.mUnit;
    RKVTSensorCFG& s = o.config.mSensor;

    if (name == "--help" || name == "-h") {
      if (help) *help = true;
    } else if (name == "--config") {
      std::string path;
      ok = need(path) && loadConfigFile(path, o.config, error);
    } else if (name == "--serial") {
      ok = text(u.mSerial, sizeof u.mSerial, '0');
    } else if (name == "--user-id") {
      ok = text(u.mUserID, sizeof u.mUserID, ' ');
    } else if (name == "--allow-suspend") {
      u.mAllowSuspend = 0x80;
    } else if (name == "--sensor-type") {
      ok = num(0, 255, v);
      s.mSensorType = static_cast<uint8_t>(v);
    } else if (name == "--fw-version") {
      ok = num(0, 255, v);
      u.mFWVersion = static_cast<uint8_t>(v);
    } else if (name == "--hw-version") {
      ok = num(0, 255, v);
      u.mHWVersion = static_cast<uint8_t>(v);
    } else if (name == "--life") {
      ok = num(0, 0xFFFFFFFFLL, v);
      u.mLifeRemaining = static_cast<uint32_t>(v);
    } else if (name == "--alarm-high") {
      ok = num(0, 65535, v);
      s.mAlarmHigh = static_cast<uint16_t>(v);
    } else if (name == "--alarm-low") {
      ok = num(0, 65535, v);
      s.mAlarmLow = static_cast<uint16_t>(v);
    } else if (name == "--pid") {
      ok = num(0, 255, v);
      o.pid = static_cast<uint8_t>(v);
    } else if (name == "--id-sensor") {
      ok = intOpt(o.identitySensor, 0, 255);
    } else if (name == "--corrupt-unit-crc" || name == "--corrupt-sensor-crc") {
      int& target = name == "--corrupt-unit-crc" ? o.corruptUnitCrc : o.corruptSensorCrc;
      if (hasValue) {
        ok = parseInt(value, 1, 1000000, v);
        if (!ok) error = name + ": bad count '" + value + "'";
        target = static_cast<int>(v);
      } else {
        target = -1;
      }
    } else if (name == "--block-packet") {
      ok = intOpt(o.blockPacketSize, 1, 1000);
    } else if (name == "--log-packet") {
      ok = intOpt(o.logPacketSize, 1, 1000);
    } else if (name == "--fw-packet") {
      ok = intOpt(o.fwPacketSize, 1, 1020);
    } else if (name == "--fw-packets") {
      ok = intOpt(o.fwPacketCount, 1, 65536);
    } else if (name == "--no-events") {
      o.events.clear();
      eventsGiven = true;
    } else if (name == "--event") {
      std::string val;
      ok = need(val);
      auto parts = splitList(val, ',');
      long long f[4];
      const long long lo[4] = {0, 0, 0, -32768}, hi[4] = {0xFFFFFFFELL, 65535, 255, 32767};
      if (ok && parts.size() != 4) {
        error = "--event needs START,DURATION,FLAGS,READING";
        ok = false;
      }
      for (size_t k = 0; ok && k < 4; ++k) {
        if (!parseInt(parts[k], lo[k], hi[k], f[k])) {
          error = "--event: bad value '" + parts[k] + "'";
          ok = false;
        }
      }
      if (ok) {
        if (!eventsGiven) o.events.clear();
        eventsGiven = true;
        o.events.push_back({static_cast<uint32_t>(f[0]), static_cast<uint16_t>(f[1]), static_cast<uint8_t>(f[2]),
                            static_cast<int16_t>(f[3])});
      }
    } else if (name == "--events") {
      ok = num(0, 10000, v);
      o.events.clear();
      eventsGiven = true;
      for (long long k = 0; k < v; ++k) {
        // Newest last; every fourth a bump test, alarms alternating low and high.
        const bool bump = k % 4 == 3;
        o.events.push_back({static_cast<uint32_t>(63000000 - 3600 * (k + 1)),
                            static_cast<uint16_t>(bump ? 0x8000 | 30 : 60 + k), static_cast<uint8_t>(bump ? 0 : (k % 2 ? 0x08 : 0x04)),
                            static_cast<int16_t>(100 + 10 * (k % 20))});
      }
    } else if (name == "--event-file") {
      std::string path;
      ok = need(path) && loadEventFile(path, o.events, error);
      eventsGiven = true;
    } else if (name == "--make-image") {
      ok = need(o.makeImage);
    } else if (name == "--log-size") {
      ok = intOpt(o.logSizeOverride, 0, 0x7FFFFFFF);
    } else if (name == "--eeprom-file") {
      std::string path;
      ok = need(path) && readFile(path, o.eeprom, error);
    } else if (name == "--eeprom-size") {
      ok = intOpt(o.eepromSize, 32, 65536);
    } else if (name == "--eeprom-step") {
      ok = num(0, 65535, v);
      o.eepromTimeStep = static_cast<uint16_t>(v);
    } else if (name == "--gas") {
      ok = triple(o.gasCenter, o.gasAmplitude, o.gasPeriodMs, -32768, 32767);
    } else if (name == "--decimals") {
      ok = intOpt(o.gasDecimals, 0, 3);
    } else if (name == "--overrange") {
      o.overRange = true;
    } else if (name == "--history-bits") {
      ok = num(0, 255, v);
      o.historyBits = static_cast<uint8_t>(v);
    } else if (name == "--alarm-bits") {
      ok = num(0, 255, v);
      o.alarmBits = static_cast<uint8_t>(v);
    } else if (name == "--temperature") {
      ok = triple(o.tempValue, o.tempDecimals, o.tempAdc, -32768, 65535);
    } else if (name == "--battery") {
      ok = triple(o.batteryValue, o.batteryDecimals, o.batteryAdc, 0, 65535);
    } else if (name == "--cal-time-ms") {
      ok = intOpt(o.calTimeMs, 0, 3600000);
    } else if (name == "--cal-fail") {
      o.calFail = true;
    } else if (name == "--cal-never-start") {
      o.calNeverStart = true;
    } else if (name == "--cal-never-end") {
      o.calNeverEnd = true;
    } else if (name == "--wake-after-ms") {
      ok = intOpt(o.wakeAfterMs, 0, 86400000);
    } else if (name == "--units") {
      ok = intOpt(o.units, 1, 1000000);
    } else if (name == "--away-after-ms") {
      ok = intOpt(o.awayAfterMs, 0, 86400000);
    } else if (name == "--back-after-ms") {
      ok = intOpt(o.backAfterMs, 0, 86400000);
    } else if (name == "--lose-writes") {
      ok = intOpt(o.loseWritesUnit, 0, 1000000);
    } else if (name == "--echo") {
      o.echoHandshake = true;
    } else if (name == "--echo-check") {
      o.echoCheck = true;
    } else if (name == "--ignore-connects") {
      ok = intOpt(o.ignoreConnects, 0, 1000000);
    } else if (name == "--nak") {
      ok = fault(FaultKind::Nak);
    } else if (name == "--error") {
      ok = fault(FaultKind::Error);
    } else if (name == "--silent") {
      ok = fault(FaultKind::Silent);
    } else if (name == "--bad-crc") {
      ok = fault(FaultKind::BadCrc);
    } else if (name == "--hangup") {
      ok = fault(FaultKind::Hangup);
    } else if (name == "--error-status") {
      ok = num(0, 255, v);
      o.errorStatus = static_cast<uint8_t>(v);
    } else if (name == "--corrupt-crc-every") {
      ok = intOpt(o.corruptCrcEvery, 0, 1000000);
    } else if (name == "--split") {
      ok = intOpt(o.splitBytes, 0, 1024);
    } else if (name == "--split-gap-us") {
      ok = intOpt(o.splitGapUs, 0, 1000000);
    } else if (name == "--wire-time") {
      o.wireTime = true;
    } else if (name == "--reply-delay-ms") {
      ok = intOpt(o.replyDelayMs, 0, 60000);
    } else if (name == "--idle-gap-ms") {
      ok = intOpt(o.idleGapMs, 1, 60000);
    } else if (name == "--log") {
      ok = need(o.logFile);
    } else if (name == "--link") {
      ok = need(o.linkPath);
    } else {
      error = "unknown option " + args[i];
      ok = false;
    }
    if (!ok) {
      if (error.empty()) error = "bad option " + name;
      return false;
    }
  }
  fillCRCs(o.config);
  return true;
}

bool KvtSim::parseArgs(int argc, const char* const* argv, Options& opts, std::string& error, bool* help) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return parseArgs(args, opts, error, help);
}

std::vector<uint8_t> KvtSim::makeFirmwareImage(const Options& o) {
  std::vector<uint8_t> b(static_cast<size_t>(o.fwPacketSize) * static_cast<size_t>(o.fwPacketCount), 0xFF);
  for (size_t i = 7; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 151 + 17);
  if (b.size() < 7) return b;
  b[2] = o.pid;
  b[3] = static_cast<uint8_t>(o.config.mUnit.mFWVersion + 1);
  b[4] = o.config.mUnit.mHWVersion;
  b[5] = 0;
  b[6] = 0;
  uint16_t crc = 0;
  for (size_t i = 2; i < b.size(); ++i) crc = UpdateCRC16(crc, b[i]);
  b[0] = static_cast<uint8_t>(crc);
  b[1] = static_cast<uint8_t>(crc >> 8);
  return b;
}
