// kvt-sim: a simulated detector behind a pseudo-terminal. It answers the detector's frames
// the way a unit does, so the link, the terminal tool and the window can be run and tested
// without hardware, and it injects the faults a real adapter and detector show.
//
// In-process use:
//   KvtSim sim(opts);            // or KvtSim::parseArgs(args, opts, err) first
//   sim.start();                 // opens the pseudo-terminal, starts the serving thread
//   open(sim.devicePath()) ...   // talk to it like a serial port
//   sim.stop();                  // also done by the destructor
// Every accessor is thread-safe.
#pragma once

#include "model/Records.h"
#include "sim/SimSensor.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class KvtSim {
  using Clock = std::chrono::steady_clock;

 public:
  // Fault targets beyond the command bytes 0x00..0xFF: the frames without a command byte.
  static constexpr int kTargetHeader = 0x100;  // window header after 0x70
  static constexpr int kTargetData = 0x101;    // window data after 0x91
  static constexpr int kTargetTime = 0x102;    // life value after 0x71
  static constexpr int kTargetPacket = 0x103;  // firmware packet after 0x91/0x93 in an upgrade
  static constexpr int kTargetAny = 0x104;     // every command of a connection but 0xB2 and 0xB3

  // BadCrc: the usual reply, with a wrong CRC. Hangup: no reply; the terminal is closed, as
  // when the adapter is pulled out (replug() brings a new one).
  enum class FaultKind { Nak, Error, Silent, BadCrc, Hangup };
  struct Fault {
    int target = 0;           // command byte or kTarget*
    FaultKind kind = FaultKind::Nak;
    int count = 0;            // how many times it applies; 0 = every time
    int packet = -1;          // kTargetPacket: only this firmware packet (-1 every packet)
  };

  struct Event {              // one event-log entry as the tool reads it
    uint32_t start = 0;
    uint16_t duration = 0;    // bit 15 = bump test
    uint8_t flags = 0;        // bit 2 low, bit 3 high alarm
    int16_t reading = 0;      // tenths; 0x7FFF over range
  };

  struct Options {
    // Identity and configuration.
    RKVTCFG config{};         // the default configuration with its own CRCs filled
    uint8_t pid = 0;          // product type in the identity
    int identitySensor = -1;  // -1: the identity reports the configured sensor type
    int corruptUnitCrc = 0;   // unit block reads delivered with a wrong own CRC: -1 always, N first N
    int corruptSensorCrc = 0; // the same for the sensor block

    // Packet sizes the host expects; the host announces none of them for these reads.
    int blockPacketSize = 32;    // 0x81 after 0x5F / 0x50
    int logPacketSize = 32;      // 0x81 after 0x60
    int fwPacketSize = 128;      // firmware packet frame: this many bytes + CRC
    int fwPacketCount = 128;     // packets in one image

    // Event log: entries, FF FF FF FF ... after the last.
    std::vector<Event> events = defaultEvents();
    int logSizeOverride = -1;    // >= 0: report this log size to 0xA1 instead of the real one

    // EEPROM image; empty = built at read time (serial, time step, logged values).
    std::vector<uint8_t> eeprom;
    int eepromSize = 1024;
    uint16_t eepromTimeStep = 60;

    // Live readings. The gas reading is the sensor's (sim/SimSensor.h): clean air until a test
    // gas is applied. With timetable set it follows a timetable instead: raw value
    // centre + amplitude * sin(2 pi t / period), in units of 10^-gasDecimals of the sensor unit.
    SimSensor::Settings sensor;
    bool calUnchanged = false;   // a calibration ends OK but keeps the old zero and span
    // A technician holds the span gas (mSpanGas) to the sensor from the start of each span
    // step until the first gas reading after the step has ended, or an abort (0x43).
    bool spanGasHeld = false;
    // The sensor's time (tests share their run's scripted clock with it); empty: steady clock.
    std::function<std::chrono::steady_clock::time_point()> sensorClock;
    bool timetable = false;
    int gasCenter = 50;
    int gasAmplitude = 30;
    int gasPeriodMs = 20000;
    int gasDecimals = 1;
    bool overRange = false;      // report 0x7FFF ("OL")
    uint8_t historyBits = 0;     // extra history bits 2..6 ORed into the gas reading
    uint8_t alarmBits = 0;       // extra alarm bits ORed into the gas reading
    int tempValue = 245, tempDecimals = 1, tempAdc = 1750;
    int batteryValue = 395, batteryDecimals = 2, batteryAdc = 2048;

    // Calibration: after an acknowledged 0x41/0x42 bit 7 stays set this long.
    int calTimeMs = 3000;
    bool calFail = false;        // the calibration ends with bit 3 set
    bool calNeverStart = false;  // 0x41/0x42 acknowledged, but bit 7 is never set
    bool calNeverEnd = false;    // bit 7 stays set until 0x40/0x43

    // Power down / hibernate: wake by wake(), SIGUSR1 to kvt-sim, or after this time (0 never).
    int wakeAfterMs = 0;

    // Fault injection.
    bool echoHandshake = false;  // echo every connect frame received while not connected
    bool echoCheck = false;      // echo connect frames received while connected too
    int ignoreConnects = 0;      // connect frames ignored before answering, per handshake
    std::vector<Fault> faults;
    uint8_t errorStatus = 0xBF;  // status byte of an error reply
    int corruptCrcEvery = 0;     // every Nth reply goes out with a wrong CRC (0 off)
    int splitBytes = 0;          // send replies in pieces of this many bytes (0 whole)
    int splitGapUs = 500;        // gap between pieces
    bool wireTime = false;       // pace sent bytes at 115200 8N1 (86.8 us a byte)
    int replyDelayMs = 0;        // wait before every reply
    int idleGapMs = 10;          // an unfinished frame older than this is resynchronised

    // A production line: the unit is taken away awayAfterMs after a connection that wrote
    // its configuration ends, and backAfterMs later the next unit is put on (the started
    // configuration, its serial number counted up by one a unit), until units have come.
    int units = 1;
    int awayAfterMs = 0;         // 0: never taken away by itself
    int backAfterMs = 0;         // 0: not put back by itself
    int loseWritesUnit = 0;      // this unit (from 1) acknowledges configuration writes, keeps none

    // Frame log.
    std::string logFile;         // every frame received and sent, one line each
    size_t frameLogLimit = 100000;
    std::string linkPath;        // also make a symbolic link to the terminal here
    std::string controlPath;     // kvt-sim only: the control FIFO (sim/SimControl.h)
    std::string makeImage;       // kvt-sim only: write a firmware image for this unit here and end

    Options();
    static std::vector<Event> defaultEvents();
  };

  struct Frame {
    bool received = false;       // true: from the host; false: sent by the simulator
    std::vector<uint8_t> bytes;
    std::chrono::steady_clock::time_point time;
    std::string what;            // "5F", "header", "data", "time", "packet", "junk"; "ACK", "NAK", ...
  };

  enum class State { Silent, Connected, Off, Hibernating };

  explicit KvtSim(Options opts = Options());
  ~KvtSim();
  KvtSim(const KvtSim&) = delete;
  KvtSim& operator=(const KvtSim&) = delete;

  // Opens the pseudo-terminal and starts serving. Throws std::runtime_error when the
  // terminal cannot be made or a file option cannot be read.
  void start();
  void stop();
  std::string devicePath() const;   // slave side, e.g. /dev/pts/5

  std::vector<Frame> received() const;
  std::vector<Frame> sent() const;
  void clearFrames();

  RKVTCFG config() const;           // as stored, own CRCs valid
  void setConfig(const RKVTCFG& cfg);  // the CRCs are filled in
  RKVTIdenty identity() const;
  std::vector<Event> events() const;
  void setEvents(const std::vector<Event>& events);
  std::vector<uint8_t> eepromImage() const;  // what an EEPROM read delivers

  State state() const;
  void wake();                      // ends power down / hibernation: back to waiting for a connect
  bool calibrating() const;
  std::vector<uint8_t> firmwareImage() const;  // bytes received in the last upgrade
  int firmwareRuns() const;         // upgrades executed with a good image
  uint8_t lastOutput() const;       // last output test command (0x30..0x34), 0 none

  // The test gas at the sensor, in the sensor's unit (0: clean air); see sim/SimGas.cpp.
  void applyGas(double value);
  double appliedGas() const;
  // One line of the control channel (kvt-sim --control): "gas VALUE", "gas off", "t90 S",
  // "drift PCT", "zero-drift VALUE", "dead on|off", "status". False with the reason in reply
  // for a line it does not know; otherwise reply says what the sensor does now.
  bool control(const std::string& line, std::string& reply);
  static std::string controlHelp();

  // Changes options while running (faults, readings, timings); applied from the next frame.
  // The configuration is the unit's own by then: change it with setConfig, not here.
  // The change runs under the simulator's lock and must not call back into it.
  void modifyOptions(const std::function<void(Options&)>& change);

  // The adapter pulled out: the terminal is closed (the host's reads fail, its poll reports a
  // hang-up) and the link path removed. replug() opens a new terminal, with the link path
  // pointing at it; devicePath() then names the new one.
  void unplug();
  void replug();
  bool plugged() const;

  // The detector taken off the adapter (nothing is answered, the terminal stays) and put
  // back; putBack(true) puts on the next unit of the line instead.
  void takeAway();
  void putBack(bool nextUnit = false);
  bool present() const;
  int unitNumber() const;           // from 1

  // Command line: parses args (without the program name) into opts. False with error set
  // on a bad option; "--help" sets help.
  static bool parseArgs(const std::vector<std::string>& args, Options& opts, std::string& error,
                        bool* help = nullptr);
  // The same from a main()-style argv; argv[0] is the program name and skipped.
  static bool parseArgs(int argc, const char* const* argv, Options& opts, std::string& error,
                        bool* help = nullptr);
  static std::string helpText();
  // Loads a configuration from a .bin (128-byte image) or a .cfg file (versions 1 to 8).
  static bool loadConfigFile(const std::string& path, RKVTCFG& cfg, std::string& error);
  // Loads event-log entries from a binary file of 9-byte entries (stops at FF FF FF FF).
  static bool loadEventFile(const std::string& path, std::vector<Event>& events, std::string& error);
  static void fillCRCs(RKVTCFG& cfg);
  // A firmware image this unit accepts: fwPacketCount x fwPacketSize bytes, product pid,
  // version one above the configured firmware, made for its hardware, own checksum in front.
  static std::vector<uint8_t> makeFirmwareImage(const Options& opts);

 private:
  enum class Expect { Command, Header, WindowData, LifeValue, FwPacket };
  enum class Source { None, Unit, Sensor, Log, Eeprom };

  static void clampOptions(Options& o);
  void run();
  void openTerminal();   // under mu_; throws std::runtime_error
  void closeTerminal();  // under mu_
  void processInput(std::chrono::steady_clock::time_point now);
  void handleFrame(const std::vector<uint8_t>& frame, Expect kind);
  void handleCommand(uint8_t cmd);
  // One per command byte (or group of bytes), called by handleCommand once the connection's
  // state has let the command through; a byte without one is answered NAK.
  using CommandHandler = void (KvtSim::*)(uint8_t cmd, Clock::time_point now);
  static const std::map<uint8_t, CommandHandler>& commandHandlers();
  void onConnectCheck(uint8_t cmd, Clock::time_point now);
  void onDisconnect(uint8_t cmd, Clock::time_point now);
  void onIdentity(uint8_t cmd, Clock::time_point now);
  void onSelectUnit(uint8_t cmd, Clock::time_point now);
  void onSelectSensor(uint8_t cmd, Clock::time_point now);
  void onSelectLog(uint8_t cmd, Clock::time_point now);
  void onLogSize(uint8_t cmd, Clock::time_point now);
  void onNextPacket(uint8_t cmd, Clock::time_point now);
  void onWriteHeader(uint8_t cmd, Clock::time_point now);
  void onWriteData(uint8_t cmd, Clock::time_point now);
  void onSamePacket(uint8_t cmd, Clock::time_point now);
  void onWriteLife(uint8_t cmd, Clock::time_point now);
  void onReading(uint8_t cmd, Clock::time_point now);
  void onHibernate(uint8_t cmd, Clock::time_point now);
  void onPowerDown(uint8_t cmd, Clock::time_point now);
  void onFactoryReset(uint8_t cmd, Clock::time_point now);
  void onLogReset(uint8_t cmd, Clock::time_point now);
  void onUpgradeStart(uint8_t cmd, Clock::time_point now);
  void onUpgradeRun(uint8_t cmd, Clock::time_point now);
  void onSensorAction(uint8_t cmd, Clock::time_point now);
  void onOutput(uint8_t cmd, Clock::time_point now);
  void selectRead(Source s, std::vector<uint8_t> data, int packet);
  static std::vector<uint8_t> blockBytes(const void* block, int setting, int& left);
  void handlePayload(const std::vector<uint8_t>& payload, Expect kind);
  bool applyFault(int target, int packet = -1);
  void reply(std::vector<uint8_t> data, const char* what);   // appends the CRC
  void replyStatus(uint8_t status);
  void ack() { replyStatus(0xB5); }
  void nak() { replyStatus(0xB6); }
  void errorReply() { replyStatus(opts_.errorStatus); }
  void queueRaw(std::vector<uint8_t> bytes, const char* what);
  void flushOutput(std::unique_lock<std::mutex>& lock);
  void logFrame(bool rx, const std::vector<uint8_t>& bytes, const std::string& what);
  void storeConfig();
  void finishCalibration(std::chrono::steady_clock::time_point now);
  std::vector<uint8_t> logBytes() const;
  std::vector<uint8_t> buildEeprom() const;
  std::vector<uint8_t> readingRecord(int mode, std::chrono::steady_clock::time_point now);
  // The gas sensor's part (sim/SimGas.cpp), under mu_.
  Clock::time_point sensorNow() const;
  int sensorReading();               // raw, in 10^-gasDecimals of the unit
  void sensorZero();
  void spanGasStep(uint8_t cmd);     // Options::spanGasHeld at 0x41/0x42/0x43
  void spanGasAfterReading();
  bool sensorSpan();                 // false: the span failed
  std::string sensorStatus();
  bool sleepUntil(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point t);
  int expectedLength() const;
  static const char* kindName(Expect kind);
  RKVTIdenty makeIdentity() const;
  void nextUnit();  // under mu_

  mutable std::mutex mu_;
  std::condition_variable cv_;
  Options opts_;
  RKVTCFG cfg_{};
  RKVTCFG factoryCfg_{};
  std::thread thread_;
  bool running_ = false;
  bool stopFlag_ = false;
  bool unplugAsked_ = false;
  bool corruptNext_ = false;  // a BadCrc fault: the next reply goes out damaged
  int master_ = -1;
  int slave_ = -1;
  int wakePipe_[2] = {-1, -1};
  int notify_ = -1;
  std::string path_;
  FILE* logOut_ = nullptr;
  std::chrono::steady_clock::time_point startTime_;

  // Protocol state.
  State state_ = State::Silent;
  std::chrono::steady_clock::time_point offSince_;
  int connectsSeen_ = 0;
  Expect expect_ = Expect::Command;
  std::vector<uint8_t> in_;
  std::vector<uint8_t> junk_;  // bytes dropped while resynchronising, logged as one frame
  std::chrono::steady_clock::time_point lastByte_;
  Source source_ = Source::None;
  std::vector<uint8_t> readData_;
  size_t readPos_ = 0;
  int readPacket_ = 32;
  bool windowSet_ = false;
  int windowSize_ = 0;
  int windowAddr_ = 0;
  bool sensorSelected_ = false;
  bool upgrading_ = false;
  std::vector<uint8_t> fwImage_;
  std::vector<bool> fwGot_;
  int fwSlot_ = -1;
  int fwNext_ = 0;
  int fwRuns_ = 0;
  SimSensor sensor_;
  bool spanGasOn_ = false;  // Options::spanGasHeld: the span gas is at the sensor
  bool calRunning_ = false;
  bool calFailedBit_ = false;
  std::chrono::steady_clock::time_point calEnd_;
  bool bumpFailedBit_ = false;
  int peak_ = 0;
  bool peakValid_ = false;
  uint8_t lastOutput_ = 0;
  std::vector<int> faultUsed_;
  int unitCorruptLeft_ = 0, sensorCorruptLeft_ = 0;
  long repliesSent_ = 0;
  bool present_ = true;
  int unit_ = 1;
  bool wroteThisConnection_ = false;
  Clock::time_point awayAt_{}, backAt_{};  // pending moves; {} none
  Clock::time_point frameTime_;       // when the frame being handled was read
  Clock::time_point connectAnsweredAt_;  // when the last acknowledged connect frame was read
  bool connectAnswered_ = false;         // a connect was acknowledged and no command came since

  struct Pending {
    std::vector<uint8_t> bytes;
    std::string what;
    bool whole = false;       // never split: echoes and the handshake acknowledgement
  };
  std::vector<Pending> out_;
  std::deque<Frame> rxLog_, txLog_;
};
