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


namespace {

// One option being read: its name, its value if given as --name=value, and what it may change.
struct Arg {
  const std::vector<std::string>& args;
  size_t& i;
  const std::string& name;
  const std::string& value;
  bool hasValue;
  KvtSim::Options& o;
  std::string& error;
  bool& eventsGiven;
  bool* help;

  bool need(std::string& v) {
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
  }

  bool num(long long lo, long long hi, long long& out) {
    std::string v;
    if (!need(v)) return false;
    if (!parseInt(v, lo, hi, out)) {
      error = name + ": '" + v + "' is not a number from " + std::to_string(lo) + " to " + std::to_string(hi);
      return false;
    }
    return true;
  }

  template <typename T>
  bool number(T& target, long long lo, long long hi) {
    long long v;
    if (!num(lo, hi, v)) return false;
    target = static_cast<T>(v);
    return true;
  }

  bool triple(int& a, int& b, int& c, long long lo, long long hi) {
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
  }

  bool decimal(double& target, double lo, double hi) {
    std::string v;
    if (!need(v)) return false;
    char* end = nullptr;
    const double x = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !(x >= lo && x <= hi)) {
      error = name + ": '" + v + "' is not a number from " + std::to_string(lo) + " to " + std::to_string(hi);
      return false;
    }
    target = x;
    return true;
  }

  bool fault(KvtSim::FaultKind kind) {
    std::string v;
    if (!need(v)) return false;
    KvtSim::Fault f;
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
    if (target == "header") f.target = KvtSim::kTargetHeader;
    else if (target == "data") f.target = KvtSim::kTargetData;
    else if (target == "time") f.target = KvtSim::kTargetTime;
    else if (target == "packet") f.target = KvtSim::kTargetPacket;
    else if (target == "any") f.target = KvtSim::kTargetAny;
    else if (target.rfind("packet@", 0) == 0 && parseInt(target.substr(7), 0, 65535, t)) {
      f.target = KvtSim::kTargetPacket;
      f.packet = static_cast<int>(t);
    }
    else if (parseInt(target, 0, 255, t)) f.target = static_cast<int>(t);
    else {
      error = name + ": '" + target + "' is neither a command byte nor header, data, time, packet, any";
      return false;
    }
    o.faults.push_back(f);
    return true;
  }

  bool text(char* dst, size_t width, char pad) {
    std::string v;
    if (!need(v)) return false;
    if (v.size() > width) {
      error = name + ": at most " + std::to_string(width) + " characters";
      return false;
    }
    std::memset(dst, pad, width);
    std::memcpy(dst, v.data(), v.size());
    return true;
  }

  // --corrupt-*-crc: the count only ever comes after '=', so a bare option never eats the next word.
  bool readCount(int& target) {
    if (!hasValue) {
      target = -1;
      return true;
    }
    long long v = 0;
    const bool ok = parseInt(value, 1, 1000000, v);
    if (!ok) error = name + ": bad count '" + value + "'";
    target = static_cast<int>(v);
    return ok;
  }

  bool event() {
    std::string val;
    if (!need(val)) return false;
    auto parts = splitList(val, ',');
    if (parts.size() != 4) {
      error = "--event needs START,DURATION,FLAGS,READING";
      return false;
    }
    long long f[4];
    const long long lo[4] = {0, 0, 0, -32768}, hi[4] = {0xFFFFFFFELL, 65535, 255, 32767};
    for (size_t k = 0; k < 4; ++k) {
      if (!parseInt(parts[k], lo[k], hi[k], f[k])) {
        error = "--event: bad value '" + parts[k] + "'";
        return false;
      }
    }
    // The first --event replaces the default entries, the next ones add to it.
    if (!eventsGiven) o.events.clear();
    eventsGiven = true;
    o.events.push_back({static_cast<uint32_t>(f[0]), static_cast<uint16_t>(f[1]), static_cast<uint8_t>(f[2]),
                        static_cast<int16_t>(f[3])});
    return true;
  }

  bool generatedEvents() {
    long long v = 0;
    if (!num(0, 10000, v)) return false;
    o.events.clear();
    eventsGiven = true;
    // Hourly, newest last, all before the unit's life counter as it stands now (the counter runs
    // down); every fourth a bump test, alarms low, high and both, every seventh over range.
    const uint32_t life = o.config.mUnit.mLifeRemaining;
    for (long long k = 0; k < v; ++k) {
      const bool bump = k % 4 == 3;
      const uint8_t alarm = k % 5 == 0 ? 0x0C : k % 2 ? 0x08 : 0x04;
      o.events.push_back({static_cast<uint32_t>(life + 3600 * (v - k)),
                          static_cast<uint16_t>(bump ? 0x8000 | 30 : 60 + k % 3000),
                          static_cast<uint8_t>(bump ? 0 : alarm),
                          static_cast<int16_t>(k % 7 == 6 ? 0x7FFF : 100 + 10 * (k % 20))});
    }
    return true;
  }
};

// Every option once: its name, its help line(s) after the name, word for word, and how it is read.
// An entry without a name is a paragraph of the help between options. --help is these texts in order.
struct OptionEntry {
  const char* name;
  const char* help;
  bool (*parse)(Arg&);
};

constexpr OptionEntry kOptions[] = {
    {nullptr, "Usage: kvt-sim [options]\n"
     "\n"
     "A simulated detector behind a pseudo-terminal. The first line printed is the terminal's device\n"
     "path (for example /dev/pts/5); point the tool at it (BEAMDOCK_PORT=/dev/pts/5). It serves until\n"
     "SIGINT or SIGTERM; SIGUSR1 wakes it from power down or hibernation.\n"
     "\n"
     "Frames are delimited by what the protocol implies: a command frame is its byte plus a CRC\n"
     "(3 bytes); the frames without a command byte are expected only right after the command that\n"
     "announces them: 6 bytes after 0x70 (window header) and after 0x71 (life value), the header's\n"
     "size + 2 after 0x91, and the firmware packet size + 2 after 0x91/0x93 during an upgrade.\n"
     "A frame whose CRC fails is resynchronised by dropping one byte at a time; an unfinished frame\n"
     "idle for --idle-gap-ms is dropped. A damaged payload frame is answered with NAK.\n"
     "\n"
     "Numbers are decimal or 0x hexadecimal.\n"
     "\n"
     "Choices of this unit: packets read past the end of a block, the log or the EEPROM are 0xFF;\n"
     "a window write that would reach past the 128-byte image is refused (NAK to 0x91), so is a\n"
     "header of size 0 or with a second byte other than 0, and a life value above 63072000 (NAK);\n"
     "every stored block gets its own CRC recomputed. 0x44 clears the peak, 0x45/0x46 set/clear\n"
     "history bit 4 (bump failed). An unknown command, 0x81 without a select and 0x91 without a\n"
     "window or upgrade get NAK. The connect frames the host repeats before it has seen the\n"
     "acknowledgement are answered once only: a connect frame within 20 ms of an acknowledged one,\n"
     "with no other command between, gets no answer.\n"
     "\n"
     "Identity and configuration:\n", nullptr},
    {"--config", " FILE            load the configuration: a 128-byte image (.bin) or a .cfg file of\n"
     "                           version 1 to 8; the own CRCs are always filled in\n",
     [](Arg& a) { std::string path; return a.need(path) && KvtSim::loadConfigFile(path, a.o.config, a.error); }},
    {"--serial", " TEXT            serial number (up to 10 characters, padded with '0')\n",
     [](Arg& a) { return a.text(a.o.config.mUnit.mSerial, sizeof a.o.config.mUnit.mSerial, '0'); }},
    {"--user-id", " TEXT           user ID (up to 6 characters, padded with blanks)\n",
     [](Arg& a) { return a.text(a.o.config.mUnit.mUserID, sizeof a.o.config.mUnit.mUserID, ' '); }},
    {"--allow-suspend", "          mAllowSuspend = 0x80 (hibernation allowed; default 0xFF refuses it)\n",
     [](Arg& a) { a.o.config.mUnit.mAllowSuspend = 0x80; return true; }},
    {"--sensor-type", " N          mSensorType of the sensor block (default 1)\n",
     [](Arg& a) { return a.number(a.o.config.mSensor.mSensorType, 0, 255); }},
    {"--fw-version", " N           mFWVersion (firmware version x 10; identity mSW)\n",
     [](Arg& a) { return a.number(a.o.config.mUnit.mFWVersion, 0, 255); }},
    {"--hw-version", " N           mHWVersion (identity mHW)\n",
     [](Arg& a) { return a.number(a.o.config.mUnit.mHWVersion, 0, 255); }},
    {"--life", " SECONDS           mLifeRemaining (identity mLife)\n",
     [](Arg& a) { return a.number(a.o.config.mUnit.mLifeRemaining, 0, 0xFFFFFFFFLL); }},
    {"--alarm-high", " N           mAlarmHigh in tenths\n",
     [](Arg& a) { return a.number(a.o.config.mSensor.mAlarmHigh, 0, 65535); }},
    {"--alarm-low", " N            mAlarmLow in tenths\n",
     [](Arg& a) { return a.number(a.o.config.mSensor.mAlarmLow, 0, 65535); }},
    {"--pid", " N                  product type in the identity (default 0)\n",
     [](Arg& a) { return a.number(a.o.pid, 0, 255); }},
    {"--id-sensor", " N            sensor code in the identity, instead of mSensorType\n",
     [](Arg& a) { return a.number(a.o.identitySensor, 0, 255); }},
    {"--corrupt-unit-crc", "[=N]   deliver the unit block with a wrong own CRC (N: the first N reads\n"
     "                           only; without N: every read)\n",
     [](Arg& a) { return a.readCount(a.o.corruptUnitCrc); }},
    {"--corrupt-sensor-crc", "[=N] the same for the sensor block\n",
     [](Arg& a) { return a.readCount(a.o.corruptSensorCrc); }},
    {nullptr, "\n"
     "Packet sizes (the host announces none of these; they must match its settings):\n", nullptr},
    {"--block-packet", " N         data bytes of a 0x81 reply after 0x5F/0x50 (default 32)\n",
     [](Arg& a) { return a.number(a.o.blockPacketSize, 1, 1000); }},
    {"--log-packet", " N           data bytes of a 0x81 reply after 0x60 (default 32)\n",
     [](Arg& a) { return a.number(a.o.logPacketSize, 1, 1000); }},
    {"--fw-packet", " N            data bytes of one firmware packet frame (default 128)\n",
     [](Arg& a) { return a.number(a.o.fwPacketSize, 1, 1020); }},
    {"--fw-packets", " N           packets of one firmware image (default 128)\n",
     [](Arg& a) { return a.number(a.o.fwPacketCount, 1, 65536); }},
    {nullptr, "  (EEPROM reads use the packet size of the 4-byte header after 0x70.)\n"
     "\n"
     "Event log (9-byte entries, then 9 bytes FF after the last; 0xA1 reports that length):\n", nullptr},
    {"--no-events", "              empty log\n",
     [](Arg& a) { a.o.events.clear(); a.eventsGiven = true; return true; }},
    {"--event", " START,DURATION,FLAGS,READING\n"
     "                           one entry (repeatable; replaces the three default entries)\n",
     [](Arg& a) { return a.event(); }},
    {"--events", " N               N generated entries (up to 10000), hourly: low, high and both\n"
                 "                           alarms, bump tests, readings that vary, over range\n",
     [](Arg& a) { return a.generatedEvents(); }},
    {"--event-file", " FILE        entries from a file of 9-byte entries\n",
     [](Arg& a) {
       std::string path;
       const bool ok = a.need(path) && KvtSim::loadEventFile(path, a.o.events, a.error);
       a.eventsGiven = true;
       return ok;
     }},
    {"--log-size", " N             report N to 0xA1 whatever the log holds\n",
     [](Arg& a) { return a.number(a.o.logSizeOverride, 0, 0x7FFFFFFF); }},
    {nullptr, "\n"
     "EEPROM:\n", nullptr},
    {"--eeprom-file", " FILE       EEPROM image (default: serial number at 16-25, time step at 30-31,\n"
     "                           433 logged values at 128-993, 0xFF elsewhere)\n",
     [](Arg& a) { std::string path; return a.need(path) && readFile(path, a.o.eeprom, a.error); }},
    {"--eeprom-size", " N          EEPROM size in bytes (default 1024; reads beyond give 0xFF)\n",
     [](Arg& a) { return a.number(a.o.eepromSize, 32, 65536); }},
    {"--eeprom-step", " N          time step at 30-31 (default 60)\n",
     [](Arg& a) { return a.number(a.o.eepromTimeStep, 0, 65535); }},
    {nullptr, "\n"
     "Readings (0x20 gas, 0x21 temperature, 0x22 battery):\n", nullptr},
    {"--gas", " CENTER[,AMPLITUDE[,PERIOD_MS]]\n"
     "                           a timetable instead of the gas sensor: a moving gas value, raw\n"
     "                           (AMPLITUDE 30 and PERIOD_MS 20000 when left out)\n",
     [](Arg& a) {
       a.o.timetable = true;
       return a.triple(a.o.gasCenter, a.o.gasAmplitude, a.o.gasPeriodMs, -32768, 32767);
     }},
    {nullptr, "  Without --gas the reading is the gas sensor's: clean air (0) until a test gas is applied\n"
     "  through the control FIFO; it rises towards the gas with the sensor's T90. The unit's own\n"
     "  zero (mZero, counts) and span (mSpan, thousandths of counts a unit) turn the sensor's\n"
     "  counts into the reading; 0x40 and 0x42 set the zero at once, and the end of the span step\n"
     "  of 0x41/0x42 sets the span for the gas then read to be mSpanGas (bit 3 instead when that\n"
     "  span would be below mMinSpan). LOW and HIGH alarm bits follow the unit's levels.\n", nullptr},
    {"--control", " FIFO           make FIFO and take control lines from it, one a line (for example\n"
     "                           echo 'gas 25' > FIFO):\n",
     [](Arg& a) { return a.need(a.o.controlPath); }},
    {"--response-ms", " N          the sensor's time to 90 % (T90) of a step in gas (default 20000)\n",
     [](Arg& a) { return a.number(a.o.sensor.t90Ms, 0, 3600000); }},
    {"--drift", " PCT              sensitivity lost (-) or gained (+) since the unit's calibration\n",
     [](Arg& a) { return a.decimal(a.o.sensor.driftPct, -99, 1000); }},
    {"--zero-drift", " VALUE       what the sensor reads in clean air, in the sensor's unit\n",
     [](Arg& a) { return a.decimal(a.o.sensor.zeroDrift, -10000, 10000); }},
    {"--dead-sensor", "            the sensor does not respond to gas\n",
     [](Arg& a) { a.o.sensor.dead = true; return true; }},
    {"--decimals", " N             decimals of the gas reading, history bits 0-1 (default 1)\n",
     [](Arg& a) { return a.number(a.o.gasDecimals, 0, 3); }},
    {"--overrange", "              gas reading 0x7FFF (OL)\n",
     [](Arg& a) { a.o.overRange = true; return true; }},
    {"--history-bits", " N         history bits 2-6 to report as set\n",
     [](Arg& a) { return a.number(a.o.historyBits, 0, 255); }},
    {"--alarm-bits", " N           alarm bits to report as set (LOW and HIGH also follow the levels)\n",
     [](Arg& a) { return a.number(a.o.alarmBits, 0, 255); }},
    {"--temperature", " V[,DEC[,ADC]]  (default 245,1,1750)\n",
     [](Arg& a) { return a.triple(a.o.tempValue, a.o.tempDecimals, a.o.tempAdc, -32768, 65535); }},
    {"--battery", " V[,DEC[,ADC]]      (default 395,2,2048)\n",
     [](Arg& a) { return a.triple(a.o.batteryValue, a.o.batteryDecimals, a.o.batteryAdc, 0, 65535); }},
    {nullptr, "\n"
     "Upgrade: 0x10 starts it; each 0x91 announces the next packet, 0x93 the same packet again;\n"
     "0x11 is answered NAK unless every packet arrived and the image's own CRC (bytes 0-1, low byte\n"
     "first, the CRC of bytes 2 to the end) matches. A good image then runs: the firmware version\n"
     "(mFWVersion, identity mSW) becomes its byte 3.\n"
     "\n", nullptr},
    {"--make-image", " FILE         write an image this unit accepts (its firmware version + 0.1)\n"
     "                           to FILE and end, instead of serving\n",
     [](Arg& a) { return a.need(a.o.makeImage); }},
    {nullptr, "\n"
     "Factory reset (0x12) restores the configuration the unit was started with.\n"
     "\n"
     "Calibration (0x50 then 0x40..0x46; an action without 0x50 before it is refused with NAK):\n", nullptr},
    {"--cal-time-ms", " N          bit 7 stays set this long after 0x41/0x42 (default 3000)\n",
     [](Arg& a) { return a.number(a.o.calTimeMs, 0, 3600000); }},
    {"--cal-fail", "               the calibration ends with bit 3 set\n",
     [](Arg& a) { a.o.calFail = true; return true; }},
    {"--cal-never-start", "        0x41/0x42 acknowledged, bit 7 never set\n",
     [](Arg& a) { a.o.calNeverStart = true; return true; }},
    {"--span-gas-held", "          the span gas (mSpanGas) is held to the sensor from the start of each span\n"
     "                           step until the first gas reading after it, or 0x43, as a technician does\n",
     [](Arg& a) { a.o.spanGasHeld = true; return true; }},
    {"--cal-unchanged", "          a calibration ends OK (bit 3 clear) but keeps the old zero and span\n",
     [](Arg& a) { a.o.calUnchanged = true; return true; }},
    {"--cal-never-end", "          bit 7 stays set until 0x40 or 0x43\n",
     [](Arg& a) { a.o.calNeverEnd = true; return true; }},
    {nullptr, "\n"
     "Power down (0x14) and hibernation (0x17, only with mAllowSuspend 0x80; it clears the log):\n"
     "the unit then ignores everything until woken by SIGUSR1, or:\n", nullptr},
    {"--wake-after-ms", " N        wake by itself after N ms (default 0: never)\n",
     [](Arg& a) { return a.number(a.o.wakeAfterMs, 0, 86400000); }},
    {nullptr, "\n"
     "Production line (one unit after another on the adapter):\n", nullptr},
    {"--units", " N                this many units come, one after another (default 1); each next\n"
     "                           one has the started configuration, its serial counted up by one\n",
     [](Arg& a) { return a.number(a.o.units, 1, 1000000); }},
    {"--away-after-ms", " N        the unit is taken away N ms after a connection that wrote its\n"
     "                           configuration ends (default 0: stays)\n",
     [](Arg& a) { return a.number(a.o.awayAfterMs, 0, 86400000); }},
    {"--back-after-ms", " N        the next unit is put on N ms after one was taken away\n",
     [](Arg& a) { return a.number(a.o.backAfterMs, 0, 86400000); }},
    {"--lose-writes", " UNIT       unit UNIT (from 1) acknowledges configuration writes, keeps none\n",
     [](Arg& a) { return a.number(a.o.loseWritesUnit, 0, 1000000); }},
    {nullptr, "\n"
     "Fault injection:\n", nullptr},
    {"--echo", "                   echo every connect frame received while not connected (also\n"
     "                           while off), as an echoing adapter does: B2 75 80 before B5 B7 C1\n",
     [](Arg& a) { a.o.echoHandshake = true; return true; }},
    {"--echo-check", "             also echo connect frames received while connected\n",
     [](Arg& a) { a.o.echoCheck = true; return true; }},
    {"--ignore-connects", " N      ignore the first N connect frames of each handshake\n",
     [](Arg& a) { return a.number(a.o.ignoreConnects, 0, 1000000); }},
    {"--nak", " CMD[:COUNT]        answer CMD with NAK (COUNT times, default always)\n",
     [](Arg& a) { return a.fault(KvtSim::FaultKind::Nak); }},
    {"--error", " CMD[:COUNT]      answer CMD with the error status\n",
     [](Arg& a) { return a.fault(KvtSim::FaultKind::Error); }},
    {"--silent", " CMD[:COUNT]     do not answer CMD\n",
     [](Arg& a) { return a.fault(KvtSim::FaultKind::Silent); }},
    {"--bad-crc", " CMD[:COUNT]    answer CMD as usual but with a wrong CRC\n",
     [](Arg& a) { return a.fault(KvtSim::FaultKind::BadCrc); }},
    {"--hangup", " CMD             close the terminal instead of answering CMD, as an adapter\n"
     "                           pulled out (SIGUSR2 to kvt-sim plugs a new one in)\n"
     "                           CMD is a command byte (0x5F) or header, data, time, packet,\n"
     "                           or packet@N for firmware packet N only (packet@40:1 fails it once),\n"
     "                           or any: every command of a connection but 0xB2 and 0xB3\n",
     [](Arg& a) { return a.fault(KvtSim::FaultKind::Hangup); }},
    {"--error-status", " N         status byte of error replies (default 0xBF)\n",
     [](Arg& a) { return a.number(a.o.errorStatus, 0, 255); }},
    {"--corrupt-crc-every", " N    every Nth reply goes out with a wrong CRC\n",
     [](Arg& a) { return a.number(a.o.corruptCrcEvery, 0, 1000000); }},
    {"--split", " N                send replies in pieces of N bytes (not the handshake's\n"
     "                           acknowledgement, which the host takes only whole)\n",
     [](Arg& a) { return a.number(a.o.splitBytes, 0, 1024); }},
    {"--split-gap-us", " N         gap between pieces (default 500)\n",
     [](Arg& a) { return a.number(a.o.splitGapUs, 0, 1000000); }},
    {"--wire-time", "              pace sent bytes at 115200 baud 8N1 (86.8 us a byte; sleeps)\n",
     [](Arg& a) { a.o.wireTime = true; return true; }},
    {"--reply-delay-ms", " N       wait N ms before every reply\n",
     [](Arg& a) { return a.number(a.o.replyDelayMs, 0, 60000); }},
    {"--idle-gap-ms", " N          resynchronise an unfinished frame after N ms idle (default 10)\n",
     [](Arg& a) { return a.number(a.o.idleGapMs, 1, 60000); }},
    {nullptr, "\n"
     "Output:\n", nullptr},
    {"--log", " FILE               write every frame received and sent to FILE\n",
     [](Arg& a) { return a.need(a.o.logFile); }},
    {"--link", " PATH              also create a symbolic link PATH to the terminal\n",
     [](Arg& a) { return a.need(a.o.linkPath); }},
    {"--help", "                   this text\n",
     [](Arg& a) { if (a.help) *a.help = true; return true; }},
};

const OptionEntry* findOption(const std::string& name) {
  for (const OptionEntry& e : kOptions)
    if (e.name && name == e.name) return &e;
  return nullptr;
}

}  // namespace

std::string KvtSim::helpText() {
  std::string text;
  for (const OptionEntry& e : kOptions) {
    if (e.name) text += std::string("  ") + e.name;
    text += e.help;
    if (e.name && std::string(e.name) == "--control") {
      std::istringstream lines(controlHelp());
      for (std::string line; std::getline(lines, line);) text += "                         " + line + "\n";
    }
  }
  return text;
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
    const OptionEntry* e = findOption(name == "-h" ? "--help" : name);
    if (!e) {
      error = "unknown option " + args[i];
      return false;
    }
    Arg a{args, i, name, value, hasValue, o, error, eventsGiven, help};
    if (!e->parse(a)) {
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
