// The TEST page's Identify: the detector's identity in six lines.
#pragma once

#include "app/core/Operator.h"
#include "model/Records.h"

#include <cstdint>
#include <string>

class TComKVT;

constexpr const char* kIdentifyName = "Load Identify";
constexpr const char* kIdentifyCaption = "KVT Identify";

// The six lines of the identity box, joined by '\r' (none after the last).
std::string IdentifyText(const RKVTIdenty& ident);

// The framed operation: "Load Identify...", open, RequireIdenty, close, end. The identity in
// ident is valid only when the result is 0.
uint8_t LoadIdentify(Operator& op, TComKVT& link, RKVTIdenty& ident);

// The button: LoadIdentify, then on success the "KVT Identify" box with IdentifyText.
uint8_t RunIdentify(Operator& op, TComKVT& link);
