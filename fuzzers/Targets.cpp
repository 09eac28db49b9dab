#include "fuzzers/FuzzSupport.h"

int FuzzCfgFile(const uint8_t*, size_t);
int FuzzImage(const uint8_t*, size_t);
int FuzzIniFile(const uint8_t*, size_t);
int FuzzLoadSettings(const uint8_t*, size_t);
int FuzzSensorEntries(const uint8_t*, size_t);
int FuzzReplies(const uint8_t*, size_t);
int FuzzHandshake(const uint8_t*, size_t);
int FuzzEventLog(const uint8_t*, size_t);
int FuzzEepromLog(const uint8_t*, size_t);
int FuzzRecordLine(const uint8_t*, size_t);

const RFuzzTarget kFuzzTargets[] = {
    {"cfg", FuzzCfgFile},           {"img", FuzzImage},
    {"ini", FuzzIniFile},           {"settings", FuzzLoadSettings},
    {"sensor", FuzzSensorEntries},  {"replies", FuzzReplies},
    {"handshake", FuzzHandshake},   {"eventlog", FuzzEventLog},
    {"eepromlog", FuzzEepromLog},   {"records", FuzzRecordLine},
};
const size_t kFuzzTargetCount = sizeof kFuzzTargets / sizeof kFuzzTargets[0];
