// The status line and the end every operation has: its result code's suffix and message box
// (the codes and their texts: link/ResultCodes.h).
#pragma once

#include "app/core/Operator.h"
#include "link/ResultCodes.h"

#include <cstdint>
#include <string>

// Status line colours of the three states (red, green, blue).
struct RStatusStyle {
  uint8_t mBackground[3];
  uint8_t mText[3];
};
RStatusStyle StatusStyle(StatusColour colour);

// Sets the status line and lets the window paint it before blocking work continues.
void ShowStatus(Operator& op, StatusColour colour, const std::string& text);

// Green "name... OK", or red "name" + suffix and one error box titled with the name. A port
// error's box ends with portReason (see PortErrorReason) when there is one.
void EndOperation(Operator& op, uint8_t code, const std::string& name, const std::string& portReason = {});

class TComKVT;
// The reason of the link's last port error in this connection, as a line for the box; empty
// when none. Take it before closing: a failing close would replace it.
std::string PortErrorReason(const TComKVT& link);
