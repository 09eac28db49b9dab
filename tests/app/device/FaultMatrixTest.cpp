// Every detector operation against every fault the simulated detector and adapter inject,
// once and always: each ends with the result of its fault (status, box), within its
// time-outs, leaves no half-written file and sends the detector nothing it would not send
// without the fault. One test per fault column, so ctest spreads the columns.
#include "app/device/Calibration.h"
#include "app/device/DeviceSession.h"
#include "app/device/EepromDump.h"
#include "app/device/EventLog.h"
#include "app/device/Firmware.h"
#include "app/device/Logging.h"
#include "app/core/Results.h"
#include "app/device/Service.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "tests/support/FastClock.h"
#include "tests/support/NullView.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <fstream>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;
using K = KvtSim::FaultKind;

// What a cell needs to run one operation.
struct TCell {
  ScriptedOperator& op;
  TComKVT& link;
  KvtSim& sim;
  const std::string& dir;
};

// How an operation tells its end: the status line and one box with the texts of its result,
// nothing (the outputs show themselves), or the dialogs' own boxes.
enum class TReport { Framed, Quiet, Logging, Calibration };

struct TOperation {
  const char* name;       // the status and box title of a framed operation
  int target;             // the command the fault hits: one in the middle of the operation
  bool retried;           // a fault that comes once is overcome by a retry
  bool data;              // the command's reply carries data: a bare status is too short
  uint8_t refused;        // what the detector's error status becomes
  std::function<uint8_t(TCell&)> run;
  TReport report = TReport::Framed;
  const char* retry = "";  // a command sent only to repeat what a fault lost
};

const std::vector<TOperation>& Operations() {
  using S = TServiceCommand;
  static const std::vector<TOperation> table = {
      {kReadDeviceName, 0x50, true, false, LINK_ERROR,
       [](TCell& c) { return TDeviceSession().ReadDevice(c.op, c.link).mCode; }},
      {kWriteDeviceName, 0x91, true, false, LINK_ERROR,
       [](TCell& c) {
         RKVTCFG cfg = c.sim.config();
         cfg.mSensor.mAlarmHigh += 10;
         TDeviceSession session;
         session.FFormKnown = true;  // as after a read
         return session.WriteDevice(c.op, c.link, cfg).mCode;
       }},
      {kHibernateName, 0x17, false, false, APP_HIBERNATE,
       [](TCell& c) {
         c.op.answerAll(true);
         TDeviceSession session;
         RSessionResult r = session.Hibernate(c.op, c.link);
         return r.mCode;
       }},
      {kLoadEventLogName, 0xA1, false, true, LINK_ERROR,
       [](TCell& c) {
         c.op.saveFile(c.dir + "events.csv");
         TDeviceSession session;
         FileRequest dialog = EventLogSaveDialog();
         return SaveEventLog(c.op, c.link, session, dialog).mCode;
       }},
      {kLogResetName, 0x13, false, false, LINK_ERROR,
       [](TCell& c) {
         TDeviceSession session;
         return LogReset(c.op, c.link, session);
       }},
      {kDownloadImageName, KvtSim::kTargetPacket, true, false, LINK_ERROR,
       [](TCell& c) {
         std::vector<uint8_t> bytes = KvtSim::makeFirmwareImage([] {
           KvtSim::Options o;
           o.fwPacketCount = 4;
           return o;
         }());
         std::ofstream(c.dir + "fw.img", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                  static_cast<std::streamsize>(bytes.size()));
         TUpgradeImage image;
         RFirmwareBox box;
         if (LoadUpgradeFile(c.op, c.dir + "fw.img", true, image, box) != 0) return uint8_t{0xEE};
         TNullView view;
         return TFirmwareDownload(c.op, c.link, image, view).Run();
       },
       TReport::Framed, "93"},
      {"Calibration", 0x42, false, false, APP_ZEROCAL, [](TCell& c) { return RunServiceCommand(c.op, c.link, S::Calibration); }},
      {"Power Down", 0x14, false, false, APP_POWEROFF, [](TCell& c) { return RunServiceCommand(c.op, c.link, S::TurnOff); }},
      {"Fatory Reset", 0x12, false, false, LINK_ERROR, [](TCell& c) { return RunServiceCommand(c.op, c.link, S::FactoryReset); }},
      {"Clear Peak", 0x44, false, false, LINK_ERROR, [](TCell& c) { return RunServiceCommand(c.op, c.link, S::ClearPeak); }},
      {"Send Bump Fail", 0x45, false, false, LINK_ERROR, [](TCell& c) { return RunServiceCommand(c.op, c.link, S::BumpFail); }},
      {"Send Bump Pass", 0x46, false, false, LINK_ERROR, [](TCell& c) { return RunServiceCommand(c.op, c.link, S::BumpPass); }},
      {"Load Identify", 0xA0, false, true, LINK_ERROR, [](TCell& c) { return RunIdentifyButton(c.op, c.link); }},
      {"Beep", 0x30, false, false, LINK_ERROR,
       [](TCell& c) {
         TFastClock clock(100);
         return RunOutputTest(c.op, c.link, OutputCommand(1), 50, clock);
       },
       TReport::Quiet},
      {kEEPROMReadName, 0x81, false, true, LINK_ERROR,
       [](TCell& c) {
         TEEPROMGrid grid = NewEEPROMGrid(DeviceCFG.mEEPROMMaxAddress);
         return EEPROMRead(c.op, c.link, grid);
       }},
      {kEEPROMReadName, 0x81, false, true, LINK_ERROR,
       [](TCell& c) {
         TEEPROMGrid grid = NewEEPROMGrid(DeviceCFG.mEEPROMMaxAddress);
         return EEPROMReadSaveLog(c.op, c.link, grid).mCode;
       }},
      // Logging rides out the detector's faults; only the port ends it.
      {"Logging", 0x20, true, true, 0,
       [](TCell& c) {
         TNullView view;
         TFastClock clock(20);
         TLoggingRun run(c.link, c.op, view, clock);
         const auto until = Clock::now() + std::chrono::milliseconds(400);
         clock.OnWait = [&] {
           if (view.readings >= 3 || Clock::now() > until) run.Stop();
         };
         return run.RunLogging(c.dir + "data.csv");
       },
       TReport::Logging},
      // The dialog's run: a refusal in its labels, a failed exchange in a box.
      {"Sensor calibration", 0x42, false, false, LINK_ERROR,
       [](TCell& c) {
         TSensorCal cal;
         if (!cal.ShowDlg(c.op, c.sim.config())) return uint8_t{0xEE};
         TNullView view;
         TFastClock clock(30);
         const RCalResult r = cal.RunCalibration(c.op, c.link, view, clock, c.sim.config());
         return r.mOutcome == TCalOutcome::Ok ? uint8_t{0} : r.mCode;
       },
       TReport::Calibration},
  };
  return table;
}

struct TFault {
  const char* name;
  std::function<void(KvtSim::Options&, int target)> set;
  bool once;      // the fault comes once only
  int kind = -1;  // K, or -1 when the operation should succeed regardless
};

uint8_t CodeOf(K kind, const TOperation& operation) {
  switch (kind) {
    case K::Silent: return LINK_NORESPONSE;
    case K::Nak: return operation.data ? LINK_NORESPONSE : LINK_NAK;
    case K::Error: return operation.data ? LINK_NORESPONSE : operation.refused;
    case K::BadCrc: return LINK_CRCERROR;
    case K::Hangup: return LINK_PORTERROR;
  }
  return 0xEE;
}

TFault Injected(K kind, bool once, const char* name) {
  return {name, [kind, once](KvtSim::Options& o, int target) { o.faults.push_back({target, kind, once ? 1 : 0}); },
          once, static_cast<int>(kind)};
}

const TFault kFaults[] = {
    Injected(K::Silent, true, "SilenceOnce"),   Injected(K::Silent, false, "SilenceAlways"),
    Injected(K::Nak, true, "NakOnce"),          Injected(K::Nak, false, "NakAlways"),
    Injected(K::Error, true, "ErrorOnce"),      Injected(K::Error, false, "ErrorAlways"),
    Injected(K::BadCrc, true, "BadCrcOnce"),    Injected(K::BadCrc, false, "BadCrcAlways"),
    Injected(K::Hangup, true, "FarEndClosed"),
    {"SplitReplies", [](KvtSim::Options& o, int) { o.splitBytes = 1, o.splitGapUs = 100; }, false},
    {"EchoingAdapter", [](KvtSim::Options& o, int) { o.echoHandshake = o.echoCheck = true; }, false},
};

void PrintTo(const TFault& fault, std::ostream* os) { *os << fault.name; }

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_type == DT_REG) names.emplace_back(e->d_name);
    ::closedir(d);
  }
  return names;
}

struct TOutcome {
  uint8_t code;
  std::set<std::string> commands;  // what the detector was sent
  bool configChanged, flashed;
  std::vector<std::string> files;  // left in the folder, the image, settings and records aside
  double seconds;
};

class FaultMatrix : public ::testing::TestWithParam<TFault> {
 protected:
  void SetUp() override {
    SetBuiltInSensorTypes();
  }

  ProgramState FKept;

  TOutcome Run(const TOperation& operation, const TFault* fault, ScriptedOperator& op) {
    TempDir dir;
    DeviceCFG = RDeviceCFG{};
    AppDir = DeviceCFG.mEVENTSaveDir = DeviceCFG.mEEPROMSaveDir = DeviceCFG.mLogSaveDir = dir.path();
    DeviceCFG.mConnectTime = 300;
    DeviceCFG.mFLASHMaxAddress = 4, DeviceCFG.mFLASHRetry = 2, DeviceCFG.mFLASHDownloadRetry = 1;
    KvtSim::Options o;
    o.config.mUnit.mAllowSuspend = kAllowSuspend;
    o.fwPacketCount = 4, o.calTimeMs = 100, o.wakeAfterMs = 0;
    KvtSim::fillCRCs(o.config);
    if (fault) fault->set(o, operation.target);
    SimPort port(o);
    const RKVTCFG before = port.sim().config();
    TComKVT link;
    TCell cell{op, link, port.sim(), dir.path()};
    const auto start = Clock::now();
    TOutcome out;
    out.code = operation.run(cell);
    out.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (const KvtSim::Frame& f : port.sim().received()) out.commands.insert(f.what.substr(0, 2));
    const RKVTCFG after = port.sim().config();
    out.configChanged = std::memcmp(&before, &after, sizeof before) != 0;
    out.flashed = port.sim().firmwareRuns() > 0;
    for (const std::string& f : Files(dir.path()))
      if (f != "fw.img" && f != "BEAMDOCK.INI" && f.rfind("BEAMDOCK.DB", 0) != 0) out.files.push_back(f);
    return out;
  }
};

TEST_P(FaultMatrix, EveryOperationEndsWithItsFaultsResultAndWritesNothingHalf) {
  const TFault& fault = GetParam();
  for (const TOperation& operation : Operations()) {
    ScriptedOperator cleanOp, op;
    const TOutcome clean = Run(operation, nullptr, cleanOp);
    SCOPED_TRACE(std::string(operation.name) + " target " + std::to_string(operation.target));
    ASSERT_EQ(clean.code, 0);
    const TOutcome got = Run(operation, &fault, op);

    uint8_t want = 0;
    if (fault.kind == static_cast<int>(K::Hangup))
      want = LINK_PORTERROR;
    else if (fault.kind >= 0 && !(fault.once && operation.retried) && operation.report != TReport::Logging)
      want = CodeOf(static_cast<K>(fault.kind), operation);
    EXPECT_EQ(got.code, want);
    EXPECT_LT(got.seconds, 4.0);

    const std::vector<ScriptedOperator::Event> boxes = op.messages();
    std::string box;  // the one box expected, caption or text
    switch (operation.report) {
      case TReport::Framed:
        // A saved event log adds what became of its file after the download's own end.
        EXPECT_EQ(op.lastStatus().text.rfind(operation.name + std::string(ResultText(got.code).mSuffix), 0), 0u)
            << op.lastStatus().text;
        if (got.code) box = ResultText(got.code).mMessage;
        // A port error's box goes on with the port's reason.
        if (got.code == LINK_PORTERROR) box += "\rPort error: ";
        break;
      case TReport::Quiet: break;
      case TReport::Logging:
        if (got.code) box = "BEAMDOCK Error";
        break;
      case TReport::Calibration:
        if (got.code && got.code != LINK_ERROR) box = "Sensor Calibration Fail";
        break;
    }
    // A success shows what the clean run shows (Identify's box of the identity).
    ASSERT_EQ(boxes.size(), got.code ? (box.empty() ? 0u : 1u) : cleanOp.messages().size());
    if (!box.empty()) {
      const std::string& text = boxes[0].text;
      const bool textFits = got.code == LINK_PORTERROR ? text.rfind(box, 0) == 0 : text == box;
      EXPECT_TRUE(textFits || boxes[0].caption == box) << text;
    }

    // The detector is sent only what the operation sends anyway; what it keeps changes only
    // as the clean run changes it, and a new program runs only when all of it arrived.
    for (const std::string& c : got.commands)
      EXPECT_TRUE(clean.commands.count(c) || c == operation.retry || c == "B3" || c == "ba" || c == "ju") << "sent " << c;
    EXPECT_TRUE(clean.configChanged || !got.configChanged);
    EXPECT_TRUE(got.code == 0 || !got.flashed);
    // Files appear whole, after a success, or not at all.
    if (got.code && operation.report != TReport::Logging) {
      EXPECT_TRUE(got.files.empty()) << got.files.front();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<TFault>& p) { return std::string(p.param.name); });

}  // namespace
