#include "model/CfgFile.h"

#include "model/Checksum.h"
#include "model/FileUtils.h"
#include "model/TimeText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

constexpr int kNone = -1;

// Where each configuration field sits in the bodies of versions 1 to 7. The width is the
// field's width in RKVTCFG; wider file fields (mPEventLog, mBumpInterval in version 7) are
// little-endian, so their low part comes first and a copy of that width takes it.
struct FieldPlace {
  size_t cfgOffset;
  size_t width;
  int body[7];  // versions 1..7; kNone: not in that version, the default stays
};

constexpr size_t kUnit = offsetof(RKVTCFG, mUnit);
constexpr size_t kSensor = offsetof(RKVTCFG, mSensor);
#define UNIT(f) kUnit + offsetof(RKVTUnitCFG, f), sizeof(RKVTUnitCFG::f)
#define SENSOR(f) kSensor + offsetof(RKVTSensorCFG, f), sizeof(RKVTSensorCFG::f)

// mUserID is handled apart: versions 3 to 5 hold only its first 3 characters.
constexpr FieldPlace kPlaces[] = {
    {UNIT(mUnitFlag), {0, 0, 0, 0, 0, 0, 0}},
    {UNIT(mTestInterval), {kNone, kNone, kNone, kNone, kNone, kNone, 8}},
    {UNIT(mAllowSuspend), {kNone, kNone, kNone, kNone, 5, 8, 9}},
    {UNIT(mSerial), {1, 1, 5, 5, 6, 9, 10}},
    {UNIT(mBatLimit), {12, 12, 16, 16, 18, 20, 22}},
    {UNIT(mBatLimitStartUp), {16, 16, 20, 20, 22, 24, 26}},
    {UNIT(mBatLimitCritical), {18, 18, 22, 22, 24, 26, 28}},
    {UNIT(mHWVersion), {20, 20, 24, 24, 26, 28, 30}},
    {UNIT(mFWVersion), {21, 21, 25, 25, 27, 29, 31}},
    {UNIT(mLifeRemaining), {24, 24, 28, 28, 28, 32, 32}},
    {UNIT(mAlarmTime), {28, 28, 32, 32, 32, 36, 36}},
    {UNIT(mTestTime), {32, 32, 36, 36, 36, 40, 40}},
    {UNIT(mAlarmCount), {36, 36, 40, 40, 40, 44, 44}},
    {UNIT(mTestCount), {38, 38, 42, 42, 42, 46, 46}},
    {UNIT(mPEventLog), {40, 40, 44, 44, 44, 48, 48}},
    {SENSOR(mAlarmHigh), {44, 44, 48, 48, 48, 52, 52}},
    {SENSOR(mAlarmLow), {46, 46, 50, 50, 50, 54, 54}},
    {SENSOR(mCalInterval), {kNone, 48, 52, 52, 52, 56, 56}},
    {SENSOR(mBumpInterval), {kNone, kNone, kNone, 56, 56, 60, 60}},
    {SENSOR(mSensorType), {48, 52, 56, 60, 60, 64, 64}},
    {SENSOR(mDeadZone), {50, 54, 58, 62, 62, 66, 66}},
    {SENSOR(mSpanGas), {52, 56, 60, 64, 64, 68, 68}},
    {SENSOR(mSensorMax), {54, 58, 62, 66, 66, 70, 70}},
    {SENSOR(mSensorBase), {56, 60, 64, 68, 68, 72, 72}},
    {SENSOR(mTempCompSpan), {60, 64, 68, 72, 72, 76, 76}},
    {SENSOR(mZero), {72, 76, 80, 84, 84, 88, 88}},
    {SENSOR(mSpan), {74, 78, 82, 86, 86, 90, 90}},
    {SENSOR(mTau), {76, 80, 84, 88, 88, 92, 92}},
    {SENSOR(mLastCal), {80, 84, 88, 92, 92, 96, 96}},
    {SENSOR(mPeakTimer), {84, 88, 92, 96, 96, 100, 100}},
    {SENSOR(mMinSpan), {88, 92, 96, 100, 100, 104, 104}},
    {SENSOR(mLastBump), {kNone, kNone, kNone, 104, 104, 108, 108}},
};
constexpr size_t kUserIDOffset = kUnit + offsetof(RKVTUnitCFG, mUserID);
constexpr int kUserIDBody[7] = {kNone, kNone, 1, 1, 1, 1, 1};
constexpr size_t kUserIDWidth[7] = {0, 0, 3, 3, 3, 6, 6};

constexpr size_t kBodySizes[8] = {92, 96, 100, 112, 112, 116, 116, sizeof(RKVTCFG)};

// Every field of every version lies inside that version's body.
constexpr bool placesFit() {
  for (const auto& p : kPlaces)
    for (int v = 0; v < 7; ++v)
      if (p.body[v] != kNone && static_cast<size_t>(p.body[v]) + p.width > kBodySizes[v]) return false;
  return true;
}
static_assert(placesFit());
static_assert(kBodySizes[6] == kCFGV7BodySize);

#undef UNIT
#undef SENSOR

}  // namespace

size_t CFGBodySize(int32_t version) {
  if (version < 1 || version > 8) return 0;
  return kBodySizes[version - 1];
}

std::optional<RKVTCFG> ConvertCFGFile(int32_t version, std::span<const uint8_t> body) {
  const size_t need = CFGBodySize(version);
  if (need == 0 || body.size() < need) return std::nullopt;
  RKVTCFG cfg;
  auto* out = reinterpret_cast<uint8_t*>(&cfg);
  if (version == 8) {
    std::memcpy(out, body.data(), sizeof cfg);
    return cfg;
  }
  SetDefaultCFG(cfg);
  const int v = version - 1;
  for (const auto& p : kPlaces)
    if (p.body[v] != kNone) std::memcpy(out + p.cfgOffset, body.data() + p.body[v], p.width);
  if (kUserIDBody[v] != kNone) {
    // Short user IDs keep the default spaces after their 3 characters.
    std::memcpy(out + kUserIDOffset, body.data() + kUserIDBody[v], kUserIDWidth[v]);
  }
  return cfg;
}

std::array<uint8_t, kCFGV7BodySize> CFGToFileV7(const RKVTCFG& cfg) {
  std::array<uint8_t, kCFGV7BodySize> body{};
  const auto* in = reinterpret_cast<const uint8_t*>(&cfg);
  constexpr int v7 = 6;
  for (const auto& p : kPlaces) std::memcpy(body.data() + p.body[v7], in + p.cfgOffset, p.width);
  std::memcpy(body.data() + kUserIDBody[v7], in + kUserIDOffset, kUserIDWidth[v7]);
  // The wider file fields (mPEventLog, mBumpInterval) keep their zero high parts.
  return body;
}

double ToCFGSaveTime(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto secs = floor<seconds>(when);
  const double fraction = duration<double>(when - secs).count();
  const std::time_t t = system_clock::to_time_t(secs);
  const std::tm local = LocalTm(t);
  const year_month_day date{year{local.tm_year + 1900}, month{static_cast<unsigned>(local.tm_mon + 1)},
                            day{static_cast<unsigned>(local.tm_mday)}};
  constexpr year_month_day base{year{1899}, month{12}, day{30}};
  const double days = static_cast<double>((sys_days(date) - sys_days(base)).count());
  const double secondsOfDay = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction;
  return days + secondsOfDay / 86400.0;
}

std::string BuildCFGFileV7(const RKVTCFG& cfg, double saveTime, bool factoryMode) {
  RCFGFileHead head;
  std::memset(&head, 0, sizeof head);
  head.mVersion = kCFGWriteVersion;
  head.mSaveTime = saveTime;
  head.mMode = factoryMode ? 1 : 0;
  const auto body = CFGToFileV7(cfg);
  std::string file(reinterpret_cast<const char*>(&head), sizeof head);
  file.append(reinterpret_cast<const char*>(body.data()), body.size());
  return file;
}

CFGFileContent ParseCFGFile(std::span<const uint8_t> bytes) {
  CFGFileContent c;
  if (bytes.size() < kCFGHeadSize) {
    c.refusal = CFGRefusal::HeaderShort;
    return c;
  }
  RCFGFileHead head;
  std::memcpy(&head, bytes.data(), sizeof head);
  c.version = head.mVersion;
  c.saveTime = head.mSaveTime;
  c.mode = head.mMode;
  const size_t need = CFGBodySize(c.version);
  if (need == 0) {
    c.refusal = CFGRefusal::BadVersion;
    return c;
  }
  const auto body = bytes.subspan(kCFGHeadSize);
  const auto cfg = ConvertCFGFile(c.version, body);
  if (!cfg) {
    c.refusal = CFGRefusal::BodyShort;
    return c;
  }
  c.cfg = *cfg;
  return c;
}

CFGFileContent ParseCFGFile(const std::string& bytes) {
  return ParseCFGFile(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

CFGFileContent ReadCFGFile(const std::string& path) {
  CFGFileContent notOpened;
  notOpened.refusal = CFGRefusal::NotOpened;
  // Non-blocking so that a named pipe or device given by mistake cannot hang the caller;
  // only a regular file is a configuration file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return notOpened;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return notOpened;
  }
  // No version needs more than the header and 128 bytes; the rest of a file is never read.
  std::string bytes(kCFGHeadSize + sizeof(RKVTCFG), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return notOpened;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  return ParseCFGFile(bytes);
}

std::string CFGRefusalText(CFGRefusal refusal) {
  switch (refusal) {
    case CFGRefusal::None: return {};
    case CFGRefusal::NotOpened: return kCFGNotOpenText;
    default: return kCFGWrongText;
  }
}

void TakeOverFileFields(RKVTCFG& working, const RKVTCFG& fromFile) {
  RKVTUnitCFG& u = working.mUnit;
  const RKVTUnitCFG& fu = fromFile.mUnit;
  u.mUnitFlag = fu.mUnitFlag;
  std::memcpy(u.mUserID, fu.mUserID, sizeof u.mUserID);
  u.mTestInterval = fu.mTestInterval;
  u.mAllowSuspend = fu.mAllowSuspend;
  std::memcpy(u.mSerial, fu.mSerial, sizeof u.mSerial);
  std::memcpy(u.mBatLimit, fu.mBatLimit, sizeof u.mBatLimit);
  u.mBatLimitStartUp = fu.mBatLimitStartUp;
  u.mBatLimitCritical = fu.mBatLimitCritical;
  u.mHWVersion = fu.mHWVersion;
  u.mFWVersion = fu.mFWVersion;
  u.mLifeRemaining = fu.mLifeRemaining;

  RKVTSensorCFG& s = working.mSensor;
  const RKVTSensorCFG& fs = fromFile.mSensor;
  s.mAlarmHigh = fs.mAlarmHigh;
  s.mAlarmLow = fs.mAlarmLow;
  s.mCalInterval = fs.mCalInterval;
  s.mBumpInterval = fs.mBumpInterval;
  s.mSensorType = fs.mSensorType;
  s.mDeadZone = fs.mDeadZone;
  s.mSpanGas = fs.mSpanGas;
  s.mSensorMax = fs.mSensorMax;
  s.mSensorBase = fs.mSensorBase;
  std::memcpy(s.mTempCompSpan, fs.mTempCompSpan, sizeof s.mTempCompSpan);
}

CFGRefusal LoadCFGFileInto(const std::string& path, RKVTCFG& working) {
  const CFGFileContent file = ReadCFGFile(path);
  if (file.ok()) TakeOverFileFields(working, file.cfg);
  return file.refusal;
}

bool SaveCFGFile(const std::string& path, const RKVTCFG& cfg, bool factoryMode, std::string* error) {
  const std::string bytes = BuildCFGFileV7(cfg, ToCFGSaveTime(std::chrono::system_clock::now()), factoryMode);
  return WriteFileAtomic(path, bytes, error);
}
