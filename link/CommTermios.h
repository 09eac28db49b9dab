// How TComm's line settings become a termios block; apart from the device so every combination
// can be checked (a pseudo-terminal keeps only part of what it is given).
#pragma once

#include "link/CommInt.h"

#include <termios.h>

struct TLineSettings {
  int BaudData = 9600;
  TParity Parity = paNone;
  TStopbits Stopbits = sb10;
  TDatabits Databits = da8;
  TFlowControl FlowControl = fcDefault;
  TCommOptions Options{};
  uint8_t XonChar = 17;
  uint8_t XoffChar = 19;
  uint8_t ErrorChar = 0;
};

// Turns t (the device's current block) into raw mode with the given settings. Returns 0, or
// EINVAL for what termios cannot express. customRate is set when the rate has no termios
// constant and must follow through termios2.
int BuildLineSettings(termios& t, const TLineSettings& s, bool& customRate);
