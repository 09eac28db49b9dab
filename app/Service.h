// The service buttons of the factory view: the TEST page's commands and output tests, and
// Calibration and Turn Off of the Factory Options row. Each is one short exchange.
#pragma once

#include "app/Operator.h"
#include "model/Records.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TComKVT;

enum class TServiceCommand { Calibration, TurnOff, FactoryReset, ClearPeak, BumpFail, BumpPass };

// Operation name (the start text is the name and "..."), shown in the status and boxes.
std::string ServiceName(TServiceCommand command);

// The framed operation. Calibration and Turn Off check the identity's product first (0x92)
// and turn a refusal (0xB1) into 0xC2 and 0xC1; a switched-off detector is not sent the
// closing frame, which would wake it. A port that cannot be opened is one box and 0xA1.
uint8_t RunServiceCommand(Operator& op, TComKVT& link, TServiceCommand command);

// The question before Factory Reset, saying what is lost; true for Yes.
bool ConfirmFactoryReset(Operator& op);

// The Identify button with the same port error handling.
uint8_t RunIdentifyButton(Operator& op, TComKVT& link);

// The command of the output buttons by their tag (1 beeper, 2 right LED, 3 left LED,
// 4 vibrator); 0 for any other tag.
uint8_t OutputCommand(int tag);

// An output test: open, switch the output on, keep the connection open for the hold time,
// close. A long run: Step does one pass and says whether the run goes on, reading the time
// from the clock it is given so that tests need not wait.
class TOutputTest {
 public:
  using TClock = std::function<std::chrono::steady_clock::time_point()>;
  enum class TState { Start, Holding, Done };

  TOutputTest(TComKVT& link, uint8_t command, uint16_t holdMs, TClock clock = {});
  bool Step();
  TState State() const { return FState; }
  uint8_t Result() const { return FResult; }
  // The detector's identity, asked after the output command.
  std::optional<RKVTIdenty> Identity() const { return FIdentified ? std::optional<RKVTIdenty>(FIdentity) : std::nullopt; }

 private:
  TComKVT& FLink;
  uint8_t FCommand;
  std::chrono::milliseconds FHold;
  TClock FClock;
  TState FState = TState::Start;
  uint8_t FResult = 0;
  std::chrono::steady_clock::time_point FUntil{};
  RKVTIdenty FIdentity{};
  bool FIdentified = false;
};

// The button: runs the test to its end, letting the window repaint (op.pump) during the
// hold. Shows nothing for a failure of the detector or the link, as the outputs themselves
// tell the operator; a port that cannot be opened is still one box.
uint8_t RunOutputTest(Operator& op, TComKVT& link, uint8_t command, uint16_t holdMs,
                      TOutputTest::TClock clock = {});
