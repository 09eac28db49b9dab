#include "cli/StopSignal.h"

#include <csignal>

namespace {
// Global on purpose: a signal handler can reach nothing but a flag of static storage.
volatile std::sig_atomic_t gStop = 0;
extern "C" void OnSigInt(int) { gStop = 1; }
}  // namespace

void CatchCtrlC() {
  gStop = 0;
  struct sigaction sa {};
  sa.sa_handler = OnSigInt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
}

const volatile std::sig_atomic_t* CtrlCFlag() { return &gStop; }

bool CtrlCPressed() { return gStop != 0; }
