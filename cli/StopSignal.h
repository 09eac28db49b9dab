// Ctrl-C as the Stop or Cancel button of a long run: the signal only sets a flag, which the
// run's stop request reads (TStopRequest::Watch) and the steady clock wakes on. Installed at
// the start of the command, so a Ctrl-C during the handshake or a question is not lost.
#pragma once

#include "app/core/RunClock.h"

// Installs the SIGINT handler (until the program ends) and clears the flag. Without
// SA_RESTART: a question waiting for its answer then reads nothing, which is No.
void CatchCtrlC();
const volatile std::sig_atomic_t* CtrlCFlag();
bool CtrlCPressed();

// The steady clock that wakes on Ctrl-C.
class TCliRunClock : public TSteadyRunClock {
 public:
  TCliRunClock() : TSteadyRunClock(CtrlCFlag()) {}
};
