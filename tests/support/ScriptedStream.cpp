#include "tests/support/ScriptedStream.h"

#include <algorithm>
#include <cstring>
#include <thread>

ScriptedStream& ScriptedStream::After(int nWrite, Bytes bytes, std::chrono::microseconds delay) {
  if (nWrite <= 0)
    Arrive(std::move(bytes), delay);
  else
    FScript.push_back({nWrite, delay, std::move(bytes)});
  return *this;
}

void ScriptedStream::Arrive(Bytes bytes, std::chrono::microseconds delay) {
  TPiece piece{Clock::now() + delay, std::move(bytes)};
  // Keep arrival order even when a short delay follows a long one.
  auto pos = std::upper_bound(FInFlight.begin(), FInFlight.end(), piece.mAt,
                              [](Clock::time_point at, const TPiece& p) { return at < p.mAt; });
  FInFlight.insert(pos, std::move(piece));
}

void ScriptedStream::FailAt(Op op, int n, std::exception_ptr error) { FFailAt[{op, n}] = std::move(error); }

void ScriptedStream::FailFrom(Op op, int n, std::exception_ptr error) { FFailFrom[op] = {n, std::move(error)}; }

void ScriptedStream::MaybeFail(Op op) {
  const int n = ++FCalls[op];
  if (auto it = FFailAt.find({op, n}); it != FFailAt.end()) std::rethrow_exception(it->second);
  if (auto it = FFailFrom.find(op); it != FFailFrom.end() && n >= it->second.first)
    std::rethrow_exception(it->second.second);
}

int ScriptedStream::ArrivedBytes() const {
  const auto now = Clock::now();
  int n = 0;
  for (const auto& p : FInFlight)
    if (p.mAt <= now) n += static_cast<int>(p.mBytes.size() - p.mUsed);
  return n;
}

int ScriptedStream::PendingPieces() const { return static_cast<int>(FScript.size() + FInFlight.size()); }

void ScriptedStream::OpenDevice(const std::string& device) {
  ++Opens;
  Device = device;
  MaybeFail(Op::Open);
  FOpen = true;
}

void ScriptedStream::Close() {
  ++Closes;
  FOpen = false;
  MaybeFail(Op::Close);
}

int ScriptedStream::Write(const void* buf, int count) {
  MaybeFail(Op::Write);
  const auto* bytes = static_cast<const uint8_t*>(buf);
  Frames.emplace_back(bytes, bytes + std::max(count, 0));
  WriteTimes.push_back(Clock::now());
  const int nWrite = static_cast<int>(Frames.size());
  for (auto it = FScript.begin(); it != FScript.end();) {
    if (it->mAfterWrite == nWrite) {
      Arrive(std::move(it->mBytes), it->mDelay);
      it = FScript.erase(it);
    } else {
      ++it;
    }
  }
  if (OnWrite) OnWrite(*this, Frames.back());
  return count;
}

int ScriptedStream::Read(void* buf, int count) {
  ReadCounts.push_back(count);
  MaybeFail(Op::Read);
  if (count <= 0 || FInFlight.empty() || FInFlight.front().mAt > Clock::now()) return 0;
  TPiece& p = FInFlight.front();
  const size_t n = std::min(static_cast<size_t>(count), p.mBytes.size() - p.mUsed);
  std::memcpy(buf, p.mBytes.data() + p.mUsed, n);
  p.mUsed += n;
  if (p.mUsed == p.mBytes.size()) FInFlight.pop_front();
  return static_cast<int>(n);
}

void ScriptedStream::PurgeIn() {
  ++Purges;
  MaybeFail(Op::Purge);
  const auto now = Clock::now();
  while (!FInFlight.empty() && FInFlight.front().mAt <= now) FInFlight.pop_front();
}

bool ScriptedStream::WaitReadable(long timeoutUs) {
  WaitTimeouts.push_back(timeoutUs);
  MaybeFail(Op::Wait);
  const auto until = Clock::now() + std::chrono::microseconds(std::max(timeoutUs, 0L));
  if (!FInFlight.empty() && FInFlight.front().mAt <= until) {
    std::this_thread::sleep_until(FInFlight.front().mAt);
    return true;
  }
  std::this_thread::sleep_until(until);
  return false;
}
