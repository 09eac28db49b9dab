#include "link/CommObjs.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

THandleObject::~THandleObject() {
  if (FHandle >= 0) ::close(FHandle);
}

TEvent::TEvent(bool ManualReset, bool InitialState, const std::string& /*Name*/) : FManualReset(ManualReset) {
  FHandle = ::eventfd(InitialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FHandle < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

void TEvent::SetEvent() {
  // The counter only needs to be non-zero; writing 1 again is harmless.
  const uint64_t one = 1;
  while (::write(FHandle, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TEvent::ResetEvent() {
  uint64_t value;
  while (::read(FHandle, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

TEventWaitResult TEvent::WaitFor(unsigned Timeout) {
  using clock = std::chrono::steady_clock;
  const bool forever = Timeout == INFINITE_WAIT;
  const auto deadline = clock::now() + std::chrono::milliseconds(forever ? 0 : Timeout);
  for (;;) {
    int waitMs = -1;
    if (!forever) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now()).count();
      waitMs = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd p{FHandle, POLLIN, 0};
    const int rc = ::poll(&p, 1, waitMs);
    if (rc < 0) {
      if (errno == EINTR) continue;
      FError = errno;
      return TEventWaitResult::wrError;
    }
    if (rc == 0) return TEventWaitResult::wrTimeout;
    if (FManualReset) return TEventWaitResult::wrSignaled;
    // Auto reset: only the waiter that takes the count has seen the event.
    uint64_t value;
    if (::read(FHandle, &value, sizeof value) == sizeof value) return TEventWaitResult::wrSignaled;
    if (errno != EAGAIN && errno != EINTR) {
      FError = errno;
      return TEventWaitResult::wrError;
    }
  }
}
