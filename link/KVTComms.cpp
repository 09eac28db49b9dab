#include "link/KVTComms.h"

#include "link/CommInt.h"
#include "link/USBtoUART.h"
#include "model/Checksum.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>

#ifdef __linux__
#include <sys/prctl.h>
#endif

using std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

using link_limits::kBufSize;
using link_limits::kChunk;

constexpr float kCmdTimeOut = 0.1f;
constexpr float kLongTimeOut = 0.5f;
constexpr auto kIdleEvery = 50ms;

constexpr uint8_t kACK = 0xB5;
constexpr uint8_t kConnect = 0xB2;
constexpr uint8_t kDisconnect = 0xB3;

// The kernel wakes a sleeper a little late; we sleep until `margin` before the deadline and
// spin the rest. The margin is the median lateness seen so far (it moves 2 us per sleep
// towards each new sample) plus 5 us: about half the wake-ups land a few microseconds late,
// the others spin a few microseconds, and the 1.05 ms spacing costs ~2-3 % of a core instead
// of all of it.
thread_local std::chrono::nanoseconds tWakeLate = 60us;

// The default timer slack (50 us) would make every sleep late by that much; while the link
// waits for a deadline of about a millisecond it asks for the finest slack and gives the
// thread's own back afterwards.
class TFineTimerSlack {
 public:
  TFineTimerSlack() {
#ifdef __linux__
    const int prev = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (prev > 1) {
      FPrev = prev;
      prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    }
#endif
  }
  ~TFineTimerSlack() {
#ifdef __linux__
    if (FPrev > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(FPrev), 0, 0, 0);
#endif
  }
  TFineTimerSlack(const TFineTimerSlack&) = delete;
  TFineTimerSlack& operator=(const TFineTimerSlack&) = delete;

 private:
  int FPrev = 0;
};

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

void SleepUntilSteady(steady_clock::time_point wake) {
  // libstdc++'s steady_clock is CLOCK_MONOTONIC; an absolute sleep does not drift when the
  // thread is preempted between reading the clock and going to sleep.
  const auto since = wake.time_since_epoch();
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(secs.count());
  ts.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - secs).count());
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

void WaitUntil(steady_clock::time_point deadline) {
  for (;;) {
    const auto now = steady_clock::now();
    if (now >= deadline) return;
    const auto margin = std::clamp<std::chrono::nanoseconds>(tWakeLate + 5us, 5us, 300us);
    if (deadline - now > margin) {
      const auto wake = deadline - margin;
      SleepUntilSteady(wake);
      const auto late = steady_clock::now() - wake;
      tWakeLate += late > tWakeLate ? 2us : -2us;
      tWakeLate = std::clamp<std::chrono::nanoseconds>(tWakeLate, 0us, 500us);
      continue;
    }
    while (steady_clock::now() < deadline) CpuRelax();
    return;
  }
}

// The rest of a reply cannot come faster than the wire carries it: rather than wake for each
// of its bytes, sleep until all but the last few could be here. Bytes that come sooner (a
// bridge passes them on in bursts) wait at most that long, never past `cap`.
constexpr auto kWireByte = std::chrono::nanoseconds(86806);  // ten bits at 115200 baud
constexpr auto kWakeEarly = 200us;

bool RestUntilNearlyDue(int bytesLeft, steady_clock::time_point cap) {
  const auto rest = kWireByte * bytesLeft - kWakeEarly;
  if (rest <= 100us) return false;
  const auto wake = std::min(cap, steady_clock::now() + rest);
  TFineTimerSlack slack;
  SleepUntilSteady(wake);
  return true;
}

steady_clock::duration Seconds(float rTimeOut) {
  // NaN and negative time-outs mean "no time": the write happens, no read does.
  if (!(rTimeOut > 0)) return steady_clock::duration::zero();
  return std::chrono::duration_cast<steady_clock::duration>(std::chrono::duration<double>(rTimeOut));
}

std::string HexBytes(const uint8_t* bytes, int count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  if (count <= 0) return s;
  s.reserve(static_cast<size_t>(count) * 3);
  for (int i = 0; i < count; ++i) {
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 0x0F];
    s += ' ';
  }
  return s;
}

// "0.125" with the C locale's decimal separator, rounded to the millisecond.
std::string FormatSeconds3(steady_clock::duration elapsed) {
  const long long ms = (std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() + 500) / 1000;
  const char* point = ".";
  if (const lconv* lc = std::localeconv(); lc && lc->decimal_point && *lc->decimal_point) point = lc->decimal_point;
  char frac[8];
  std::snprintf(frac, sizeof frac, "%03lld", ms % 1000);
  return std::to_string(ms / 1000) + point + frac;
}

bool IsKillStatus(uint8_t nStatus) {
  switch (nStatus) {
    case 0x00:
    case 0x92:
    case LINK_NAK:
    case LINK_ERROR:
    case LINK_CRCERROR:
    case LINK_BLOCKCRC:
    case LINK_LIMIT:
    case LINK_LOGSIZE:
    case APP_ZEROINGAS:  // refused by the tool with the detector connected
      return true;
    default:
      return false;
  }
}

}  // namespace

TComKVT::TComKVT(std::unique_ptr<TByteStream> stream)
    : RSCom(stream ? std::move(stream) : MakeSerialPort()) {}

TComKVT::~TComKVT() {
  // The handler may belong to an owner already half gone; the last close is not traced.
  FOnKVTEvent = nullptr;
  ComClose();
}

template <typename TCall>
bool TComKVT::PortCall(TCall&& call) const {
  try {
    call();
    return true;
  } catch (const ECommError& e) {
    FPortError = {e.Text(), e.ErrorCode};
  } catch (const std::exception& e) {
    FPortError = {e.what(), -1};
  } catch (...) {
    FPortError = {"unknown port error", -1};
  }
  return false;
}

void TComKVT::TracePortError(const char* during) {
  RaiseTrace(std::chrono::system_clock::now(), std::string("[PORT] ") + during + ": " + FPortError.mText +
                                                   " (errno " + std::to_string(FPortError.mErrno) + ")");
}

bool TComKVT::Enabled() const {
  bool open = false;
  if (PortCall([&] { open = RSCom->Enabled(); })) return open;
  // Asking is const to callers; telling the trace is not.
  const_cast<TComKVT*>(this)->TracePortError("Enabled");
  return false;
}

void TComKVT::ComOpen(int nPort) {
  if (RSCom->Enabled()) return;
  // Line settings (115200 8N1) are the stream's own; its errors reach the caller.
  FPortDevice = FPorts.PortDeviceName(nPort);
  RSCom->OpenDevice(FPortDevice);
}

void TComKVT::ComClose() {
  // Also runs from the destructor: a port that fails to close must not take the program down.
  if (!PortCall([&] {
        if (RSCom->Enabled()) RSCom->Close();
      }))
    TracePortError("ComClose");
}

// ---- trace helpers -------------------------------------------------------------------------

void TComKVT::RaiseTrace(TDateTime rNow, const std::string& sLog) {
  if (!FOnKVTEvent) return;
  // The trace is a view of the exchange; a failing view must not change its result. What it
  // lost is told by the next line that gets through.
  try {
    if (FLostTraceLines > 0) {
      FOnKVTEvent(this, rNow, "[TRACE] " + std::to_string(FLostTraceLines) + " line(s) lost: " + FLostTraceWhy);
      FLostTraceLines = 0;
    }
    FOnKVTEvent(this, rNow, sLog);
  } catch (const std::exception& e) {
    ++FLostTraceLines;
    try {
      FLostTraceWhy = e.what();
    } catch (...) {
    }
  } catch (...) {
    ++FLostTraceLines;
    FLostTraceWhy = "unknown error";
  }
}

void TComKVT::RaiseLogReads(const RKVTLogRead* logs, int count, bool withSendLines) {
  if (!FOnKVTEvent) return;
  for (int i = 0; i < count; ++i) {
    if (!logs[i].mOK) continue;
    if (withSendLines) RaiseTrace(logs[i].mSendTime, logs[i].mSendLog);
    RaiseTrace(logs[i].mRevTime, logs[i].mRevLog);
  }
}

void TComKVT::CallIdleHook() {
  if (!IdleHook) return;
  try {
    IdleHook();
  } catch (...) {
  }
}

uint8_t TComKVT::Refuse(const std::string& why) {
  try {
    FRefusal = why;
    RaiseTrace(std::chrono::system_clock::now(), "[LIMIT] " + why);
  } catch (...) {
  }
  return LINK_LIMIT;
}

void TComKVT::GetLogRead(RKVTLogRead& mLog) const {
  mLog.mSendTime = FSendTime;
  mLog.mSendLog = FSendLog;
  mLog.mRevTime = FRevTime;
  mLog.mRevLog = FRevLog;
  mLog.mOK = true;
}

void TComKVT::Delay(float rMSec) {
  if (!(rMSec > 0)) return;
  const auto deadline =
      steady_clock::now() + std::chrono::duration_cast<steady_clock::duration>(std::chrono::duration<double, std::milli>(rMSec));
  TFineTimerSlack slack;
  WaitUntil(deadline);
}

// ---- frame transport -----------------------------------------------------------------------

uint8_t TComKVT::SendCommand(uint8_t nLog, uint8_t nCom, int nRevSize, float rTimeOut) {
  return SendPacket(nLog, nCom, nullptr, 0, nRevSize, rTimeOut);
}

uint8_t TComKVT::SendPacket(uint8_t nLog, uint8_t nCom, const uint8_t* aData, int nCount, int nRevSize,
                            float rTimeOut) {
  const int head = nCom != 0 ? 1 : 0;
  if (nCount < 0 || (nCount > 0 && aData == nullptr) || head + nCount + 2 > kBufSize)
    return Refuse("request of " + std::to_string(nCount) + " payload bytes does not fit a 1024-byte frame");
  if (nRevSize < link_limits::kMinReply || nRevSize > kBufSize)
    return Refuse("reply of " + std::to_string(nRevSize) + " bytes is outside 3..1024");
  int n = 0;
  if (head) FSendBuf.mBuf[n++] = nCom;
  if (nCount > 0) std::memmove(FSendBuf.mBuf + n, aData, static_cast<size_t>(nCount));
  n += nCount;
  const uint16_t crc = GetCRC16(FSendBuf.mBuf, n);
  FSendBuf.mBuf[n++] = static_cast<uint8_t>(crc >> 8);
  FSendBuf.mBuf[n++] = static_cast<uint8_t>(crc & 0xFF);
  FSendBuf.mData = n;
  FReadBuf.mData = 0;
  return SendReceive(nLog, nRevSize, rTimeOut);
}

uint8_t TComKVT::SendReceive(uint8_t nLog, int nRevSize, float rTimeOut) {
  if (nRevSize < link_limits::kMinReply || nRevSize > kBufSize)
    return Refuse("reply of " + std::to_string(nRevSize) + " bytes is outside 3..1024");
  if (FSendBuf.mData < 1 || FSendBuf.mData > kBufSize)
    return Refuse("request frame of " + std::to_string(FSendBuf.mData) + " bytes is outside 1..1024");
  if (FReadBuf.mData < 0 || FReadBuf.mData > kBufSize) FReadBuf.mData = 0;

  uint8_t result = LINK_PORTERROR;
  uint8_t state = LINK_NORESPONSE;
  const bool collected = PortCall([&] {
    FSendTime = std::chrono::system_clock::now();
    FSendLog = nLog == 2 ? std::string() : "[SEND] " + HexBytes(FSendBuf.mBuf, FSendBuf.mData);
    FRevLog.clear();
    RSCom->PurgeIn();

    const auto start = steady_clock::now();
    const auto deadline = start + Seconds(rTimeOut);
    auto nextIdle = start + kIdleEvery;
    RSCom->Write(FSendBuf.mBuf, FSendBuf.mData);
    Written();

    const int want = std::min(nRevSize + 10, kChunk);
    uint8_t chunk[kChunk];
    bool wokeEmpty = false;
    bool lookAgain = false;
    while (state == LINK_NORESPONSE) {
      auto now = steady_clock::now();
      // What arrived while the window painted counts even when the repaint ran past the
      // deadline: one more read after the hook.
      if (now >= deadline && !lookAgain) break;
      lookAgain = false;
      // Room left in FReadBuf: a detector that keeps talking can never push us past it.
      const int ask = std::min(want, kBufSize - FReadBuf.mData);
      int got = ask > 0 ? RSCom->Read(chunk, ask) : 0;
      if (got > 0) {
        got = std::min(got, ask);
        std::memcpy(FReadBuf.mBuf + FReadBuf.mData, chunk, static_cast<size_t>(got));
        FReadBuf.mData += got;
        if (FReadBuf.mData >= nRevSize) {
          state = 0;
        } else {
          // What came during the rest is read even when the rest ran into the deadline.
          lookAgain = RestUntilNearlyDue(nRevSize - FReadBuf.mData, IdleHook ? std::min(deadline, nextIdle) : deadline);
        }
        wokeEmpty = false;
        continue;
      }
      if (IdleHook && now >= nextIdle) {
        CallIdleHook();
        nextIdle = steady_clock::now() + kIdleEvery;
        lookAgain = true;
        continue;
      }
      auto until = deadline;
      if (IdleHook) until = std::min(until, nextIdle);
      if (wokeEmpty) {
        // The port said "readable" and then gave nothing (a hung-up line does that):
        // pace the retries instead of spinning on it.
        std::this_thread::sleep_for(std::min<steady_clock::duration>(until - now, 1ms));
        wokeEmpty = false;
        continue;
      }
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(until - now).count() + 1;
      wokeEmpty = RSCom->WaitReadable(static_cast<long>(us));
    }
  });

  try {
    FRevTime = std::chrono::system_clock::now();
    if (!collected) {
      FRevLog = "[READ] ";
      result = LINK_PORTERROR;
    } else {
      std::string prefix;
      if (state == 0) {
        const uint16_t computed = GetCRC16(FReadBuf.mBuf, nRevSize - 2);
        const uint16_t received =
            static_cast<uint16_t>(FReadBuf.mBuf[nRevSize - 2] * 256 + FReadBuf.mBuf[nRevSize - 1]);
        if (computed == received) {
          if (nRevSize == 3) {
            switch (FReadBuf.mBuf[0]) {
              case 0x00:
              case 0xB2:
                state = LINK_NORESPONSE;
                prefix = "NORESPONSE:";
                break;
              case kACK:
                prefix = "ACK:";
                break;
              case 0xB6:
                state = LINK_NAK;
                prefix = "NAK:";
                break;
              default:
                state = LINK_ERROR;
                prefix = "ERROR:";
                break;
            }
          }
        } else if (nRevSize == 3 && FReadBuf.mBuf[0] == kACK && FReadBuf.mBuf[1] == 0xB7) {
          prefix = "WRONGACK:";  // the detector's ACK with a damaged last byte still counts
        } else {
          state = LINK_CRCERROR;
          prefix = "CRCERROR:";
        }
      }
      FRevLog = "[READ] " + prefix + HexBytes(FReadBuf.mBuf, FReadBuf.mData);
      result = state;
    }
  } catch (...) {
    FRevLog = "[READ] ";
    result = LINK_PORTERROR;
  }

  Delay(FExchangePauseMs);
  if (nLog == 0) {
    RaiseTrace(FSendTime, FSendLog);
    RaiseTrace(FRevTime, FRevLog);
    if (!collected) TracePortError("exchange");
  }
  return result;
}

// ---- connection ----------------------------------------------------------------------------

uint8_t TComKVT::OpenUSB(float rTimeOut) {
  int port = 0;
  uint8_t result = FindComPort(FPorts, FDefPort, port);
  if (result == 0) ComOpen(port);  // its ECommError reaches the caller
  if (result == 0) result = ConnectKVT(rTimeOut);
  return result;
}

uint8_t TComKVT::ConnectKVT(float rTimeOut) {
  FPortError = {};  // a reason belongs to the connection that met it, not to an earlier one
  FIdentityAsked = FIdentityAnswered = false;
  static constexpr uint8_t kFrame[3] = {kConnect, 0x75, 0x80};
  uint8_t rev[kChunk];
  int count = 0;
  int sent = 0;
  uint8_t state = LINK_NOCONNECT;
  const auto start = steady_clock::now();
  const auto limit = Seconds(rTimeOut);
  auto nextIdle = start + kIdleEvery;
  // Takes what has arrived and looks for the acknowledgement in it. Triples are only taken
  // from this one read: an acknowledgement split across reads is not assembled.
  const auto takeReply = [&]() -> bool {
    count = 0;
    if (!PortCall([&] { count = std::clamp(RSCom->Read(rev, 10), 0, 10); })) {
      state = LINK_PORTERROR;
      return false;
    }
    if (count >= 3) state = 0;
    while (state == 0) {
      if (rev[1] * 256 + rev[2] == GetCRC16(rev, 1)) {
        try {
          RaiseTrace(std::chrono::system_clock::now(), HexBytes(rev, count));
        } catch (...) {
        }
        if (rev[0] == kACK) return true;
        std::memmove(rev, rev + 3, static_cast<size_t>(count - 3));
        count -= 3;
        if (count < 3) state = LINK_NOCONNECT;
      } else {
        state = LINK_NOCONNECT;
      }
    }
    return false;
  };
  {
    TFineTimerSlack slack;
    while (state != 0 && state != LINK_PORTERROR && steady_clock::now() - start < limit) {
      // Spacing counts from before the write, so the write time is part of the 1.05 ms.
      const auto deadline = steady_clock::now() + FConnectSpacing;
      ++sent;
      if (!PortCall([&] { RSCom->Write(kFrame, 3); })) state = LINK_PORTERROR;
      Written();
      WaitUntil(deadline);
      if (state == LINK_NOCONNECT && takeReply()) break;
      if (IdleHook && steady_clock::now() >= nextIdle) {
        FConnectLeft = std::chrono::duration<double>(limit - (steady_clock::now() - start)).count();
        CallIdleHook();
        nextIdle = steady_clock::now() + kIdleEvery;
        // An acknowledgement that came while the window painted counts even when the repaint
        // ran past the time allowed.
        if (state == LINK_NOCONNECT && steady_clock::now() - start >= limit && takeReply()) break;
      }
    }
  }
  FConnectLeft = -1.0;
  if (!PortCall([&] { RSCom->PurgeIn(); }) && (state == 0 || state == LINK_NOCONNECT)) state = LINK_PORTERROR;
  try {
    RaiseTrace(std::chrono::system_clock::now(), "[CHECK TIME] " + FormatSeconds3(steady_clock::now() - start) + " (" +
                                                     std::to_string(sent) + ")");
  } catch (...) {
  }
  Delay(FExchangePauseMs);
  if (!PortCall([&] { RSCom->PurgeIn(); }) && (state == 0 || state == LINK_NOCONNECT)) state = LINK_PORTERROR;
  Delay(FExchangePauseMs);
  return state;
}

uint8_t TComKVT::ConnectKVTCheck() { return SendCommand(0, kConnect, 3, kCmdTimeOut); }

uint8_t TComKVT::KillKVT() { return SendCommand(0, kDisconnect, 3, kCmdTimeOut); }

void TComKVT::CloseUSB(uint8_t nStatus) {
  if (IsKillStatus(nStatus) && Enabled()) {
    if (KillKVT() != 0) KillKVT();
  }
  ComClose();
}

void TComKVT::Written() {
  if (FAfterWrite) std::exchange(FAfterWrite, nullptr)();
}

// ---- configuration and identity ------------------------------------------------------------

template <typename TBlock>
uint8_t TComKVT::ReadCFGBlock(uint8_t nSelect, TBlock& mData, uint16_t nPacket, uint16_t nSize, const char* name) {
  static_assert(sizeof(TBlock) == link_limits::kBlockSize);
  if (nPacket < link_limits::kMinPacket)
    return Refuse(std::string(name) + ": packet size " + std::to_string(nPacket) + " is below 2");
  if (nSize != link_limits::kBlockSize || nSize % nPacket != 0)
    return Refuse(std::string(name) + ": block size " + std::to_string(nSize) + " with packets of " +
                  std::to_string(nPacket) + " does not give the 64 bytes of a block");
  uint8_t result = SendCommand(0, nSelect, 3, kCmdTimeOut);
  if (result != 0) return result;
  RComKVTReadBuf block{};
  const int packets = nSize / nPacket;
  for (int i = 0; i < packets; ++i) {
    result = SendCommand(0, 0x81, nPacket + 2, kCmdTimeOut);
    if (result != 0) return result;
    std::memcpy(block.mBuf + block.mData, FReadBuf.mBuf, nPacket);
    block.mData += nPacket;
  }
  std::memcpy(&mData, block.mBuf, sizeof mData);
  const uint16_t stored = mData.mCRC;
  if (GetCRC16(block.mBuf, block.mData - 2) != stored) return LINK_BLOCKCRC;
  return LINK_OK;
}

uint8_t TComKVT::ReadUnitCFGData(RKVTUnitCFG& mData, uint16_t nPacket, uint16_t nSize) {
  return ReadCFGBlock(0x5F, mData, nPacket, nSize, "unit block read");
}

uint8_t TComKVT::ReadSensorCFGData(RKVTSensorCFG& mData, uint16_t nPacket, uint16_t nSize) {
  return ReadCFGBlock(0x50, mData, nPacket, nSize, "sensor block read");
}

uint8_t TComKVT::WriteCFGData(const RComKVTReadBuf& mBuf, uint16_t nAddress, uint16_t nSize) {
  if (nSize == 0 || nSize > link_limits::kImageSize || int{nAddress} + int{nSize} > link_limits::kImageSize)
    return Refuse("configuration write of " + std::to_string(nSize) + " bytes at " + std::to_string(nAddress) +
                  " leaves the 128-byte image");
  RKVTLogRead logs[4];
  uint8_t result = SendCommand(1, 0x70, 3, kCmdTimeOut);
  GetLogRead(logs[0]);
  if (result == 0) {
    const uint8_t header[4] = {static_cast<uint8_t>(nSize & 0xFF), 0x00, static_cast<uint8_t>(nAddress >> 8),
                               static_cast<uint8_t>(nAddress & 0xFF)};
    result = SendPacket(1, 0, header, 4, 3, kCmdTimeOut);
    GetLogRead(logs[1]);
  }
  if (result == 0) {
    result = SendCommand(1, 0x91, 3, kCmdTimeOut);
    GetLogRead(logs[2]);
  }
  if (result == 0) {
    result = SendPacket(1, 0, mBuf.mBuf + nAddress, nSize, 3, kCmdTimeOut);
    GetLogRead(logs[3]);
  }
  RaiseLogReads(logs, 4, true);
  return result;
}

uint8_t TComKVT::WriteCFGTimeData(uint32_t nTime) {
  RKVTLogRead logs[2];
  uint8_t result = SendCommand(1, 0x71, 3, kCmdTimeOut);
  GetLogRead(logs[0]);
  if (result == 0) {
    const uint8_t value[4] = {static_cast<uint8_t>(nTime), static_cast<uint8_t>(nTime >> 8),
                              static_cast<uint8_t>(nTime >> 16), static_cast<uint8_t>(nTime >> 24)};
    result = SendPacket(1, 0, value, 4, 3, kCmdTimeOut);
    GetLogRead(logs[1]);
  }
  RaiseLogReads(logs, 2, true);
  return result;
}

uint8_t TComKVT::RequireIdenty(RKVTIdenty& mData) {
  FIdentityAsked = true;
  const uint8_t result = SendCommand(0, 0xA0, 20, kCmdTimeOut);
  if (result == 0) std::memcpy(&mData, FReadBuf.mBuf, sizeof mData);
  if (result == 0) FIdentity = mData;
  FIdentityAnswered = FIdentityAnswered || result == 0;
  return result;
}

uint8_t TComKVT::RequireSensor(RKVTSensor& mData, uint8_t nMode) {
  if (nMode > 2) return Refuse("sensor reading mode " + std::to_string(nMode) + " does not exist");
  const uint8_t result = SendCommand(0, static_cast<uint8_t>(0x20 + nMode), 8, kCmdTimeOut);
  if (result == 0) std::memcpy(&mData, FReadBuf.mBuf, sizeof mData);
  return result;
}

uint8_t TComKVT::SendHibernate() { return SendCommand(0, 0x17, 3, kCmdTimeOut); }

// ---- log, EEPROM, upgrade and service ------------------------------------------------------

uint8_t TComKVT::LoadLog(std::vector<uint8_t>& log, int nReadPacket) {
  log.clear();
  if (nReadPacket < link_limits::kMinPacket || nReadPacket + 2 > kBufSize)
    return Refuse("event log packet size " + std::to_string(nReadPacket) + " is outside 2..1022");
  uint8_t result = SendCommand(0, 0x60, 3, kCmdTimeOut);
  if (result != 0) return result;
  result = SendCommand(0, 0xA1, 6, kCmdTimeOut);
  if (result != 0) return result;
  int32_t size = 0;
  std::memcpy(&size, FReadBuf.mBuf, sizeof size);
  // A negative size reads nothing: an empty log.
  if (size <= 0) return LINK_OK;
  const long long rounded = (static_cast<long long>(size) + nReadPacket - 1) / nReadPacket * nReadPacket;
  if (rounded > link_limits::kMaxLogBytes) {
    FRefusal = "event log of " + std::to_string(size) + " bytes is more than any detector keeps (" +
               std::to_string(link_limits::kMaxLogBytes) + ")";
    RaiseTrace(std::chrono::system_clock::now(), "[LIMIT] " + FRefusal);
    return LINK_LOGSIZE;
  }
  log.reserve(static_cast<size_t>(rounded));
  while (static_cast<long long>(log.size()) < size) {
    result = SendCommand(0, 0x81, nReadPacket + 2, kCmdTimeOut);
    if (result != 0) return result;
    log.insert(log.end(), FReadBuf.mBuf, FReadBuf.mBuf + nReadPacket);
    CallIdleHook();  // a long log takes seconds: the window stays painted
  }
  log.resize(static_cast<size_t>(size));
  return LINK_OK;
}

uint8_t TComKVT::LogReset() { return SendCommand(0, 0x13, 3, kLongTimeOut); }
uint8_t TComKVT::UpgradeStart() { return SendCommand(0, 0x10, 3, kCmdTimeOut); }
uint8_t TComKVT::UpgradeExecute() { return SendCommand(0, 0x11, 3, kLongTimeOut); }
uint8_t TComKVT::ResetUnit() { return SendCommand(0, 0x14, 3, kLongTimeOut); }
uint8_t TComKVT::FactoryReset() { return SendCommand(0, 0x12, 3, kLongTimeOut); }

uint8_t TComKVT::UpgradeData(uint8_t nPointer, const RComKVTReadBuf& mBuf) {
  if (nPointer != 1 && nPointer != 3) return Refuse("firmware packet pointer " + std::to_string(nPointer) + " is not 1 or 3");
  if (mBuf.mData < 1 || mBuf.mData + 2 > kBufSize)
    return Refuse("firmware packet of " + std::to_string(mBuf.mData) + " bytes is outside 1..1022");
  RKVTLogRead logs[2];
  uint8_t result = SendCommand(1, static_cast<uint8_t>(0x90 + nPointer), 3, kCmdTimeOut);
  GetLogRead(logs[0]);
  if (result == 0) {
    result = SendPacket(2, 0, mBuf.mBuf, mBuf.mData, 3, kLongTimeOut);
    GetLogRead(logs[1]);
    Delay(4);
  }
  if (result != 0 && FOnKVTEvent) {
    RaiseLogReads(logs, 1, true);
    RaiseLogReads(logs + 1, 1, false);  // the packet itself is never traced, only its answer
  }
  return result;
}

uint8_t TComKVT::SensorCalibration(uint8_t nCom) {
  if (nCom < 0x40 || nCom > 0x46) return Refuse("calibration action " + std::to_string(nCom) + " does not exist");
  const uint8_t result = SendCommand(0, 0x50, 3, kCmdTimeOut);
  if (result != 0) return result;
  return SendCommand(0, nCom, 3, kLongTimeOut);
}

uint8_t TComKVT::ReadEEPROMData(RComKVTReadBuf& mBuf, uint16_t nPacket, uint16_t nStart, uint16_t nMax) {
  return ReadEEPROMData(mBuf.mBuf, kBufSize, mBuf.mData, nPacket, nStart, nMax);
}

uint8_t TComKVT::ReadEEPROMData(uint8_t* aBuf, int nCapacity, int32_t& nData, uint16_t nPacket, uint16_t nStart,
                                uint16_t nMax) {
  nData = 0;
  if (nPacket < link_limits::kMinPacket || nPacket > link_limits::kMaxHeaderPacket)
    return Refuse("EEPROM packet size " + std::to_string(nPacket) + " is outside 2..255");
  // The loop reads until (nMax - nPacket) <= bytes read, at least one packet.
  const int limit = int{nMax} - int{nPacket};
  const int packets = limit <= 0 ? 1 : (limit + nPacket - 1) / nPacket;
  if (packets * nPacket + nPacket > nCapacity)
    return Refuse("EEPROM read up to " + std::to_string(nMax) + " in packets of " + std::to_string(nPacket) +
                  " does not fit the " + std::to_string(nCapacity) + "-byte buffer");
  uint8_t result = SendCommand(0, 0x70, 3, kCmdTimeOut);
  if (result != 0) return result;
  const uint8_t header[4] = {static_cast<uint8_t>(nPacket & 0xFF), 0x00, static_cast<uint8_t>(nStart >> 8),
                             static_cast<uint8_t>(nStart & 0xFF)};
  result = SendPacket(0, 0, header, 4, 3, kCmdTimeOut);
  if (result != 0) return result;
  do {
    result = SendCommand(0, 0x81, nPacket + 2, kCmdTimeOut);
    if (result != 0) return result;
    std::memcpy(aBuf + nData, FReadBuf.mBuf, nPacket);
    nData += nPacket;
  } while (limit > nData);
  std::memset(aBuf + nData, 0xFF, nPacket);
  return LINK_OK;
}

uint8_t TComKVT::AVOn(uint8_t nCom) {
  if (nCom != 0x30 && nCom != 0x31 && nCom != 0x32 && nCom != 0x34)
    return Refuse("output " + std::to_string(nCom) + " does not exist");
  return SendCommand(0, nCom, 3, kCmdTimeOut);
}
