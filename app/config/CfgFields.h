// The configuration field by field, as a person reads it: the record field name, the
// window's label and the value in the window's units. The terminal's diff, the window's
// Compare and the production line's "fields changed" all list changes from this one table.
#pragma once

#include "model/Records.h"

#include <optional>
#include <string>
#include <vector>

struct RFieldChange {
  std::string mName;   // record field name, as read --json has it (mAlarmHigh)
  std::string mLabel;  // the window's label (High Alarm)
  std::string mFrom;   // value in the window's units
  std::string mTo;
};

// Every settings, factory and counter field whose bytes differ between from and to, in
// record order; reserved bytes and the block checksums are left out. Values whose texts
// come out equal although their bytes differ (a calibration interval off by a second) show
// the raw number too, so no listed change reads as "no change".
std::vector<RFieldChange> DiffCFG(const RKVTCFG& from, const RKVTCFG& to);

// One text a line, "name: from -> to".
std::string ChangeLines(const std::vector<RFieldChange>& changes);
// The names alone, separated by spaces (for one line per unit).
std::string ChangedNames(const std::vector<RFieldChange>& changes);

// The bytes of the 128-byte image a configuration write sends: the settings' write ranges,
// and the life counter when lifeToo (the factory view's time write).
std::vector<bool> WrittenMask(bool lifeToo);

// What a configuration write would leave in the detector: detector's bytes with the write
// ranges of the settings (and the life counter when lifeToo) taken from written.
RKVTCFG AfterWrite(const RKVTCFG& detector, const RKVTCFG& written, bool lifeToo);

// A configuration that may not go to a detector: the field (window label) and its values.
struct RWriteRefusal {
  std::string mField;
  std::string mText;  // the box text, '\r' for a line break
};
inline constexpr const char* kWriteRefusedCaption = "Configuration not written";

// The rules a configuration must keep before any write to a detector: the low alarm below
// the high alarm, both alarms within the sensor's maximum (its type's range, and in the
// factory view the configured sensor maximum), a span gas within that maximum (factory
// view, where the span gas is written).
std::optional<RWriteRefusal> RefuseForDevice(const RKVTCFG& cfg, bool factoryView);

// A number as a field shows it: the label, the value typed, the field's range and unit.
struct RShownNumber {
  std::string mLabel;     // the row's caption, trimmed (High Alarm)
  double mValue = 0.0;
  double mMin = 0.0;
  double mMax = 0.0;
  int mDecimals = 0;
  std::string mUnit;      // may be empty
};

// Its range as the tooltip and the refusal say it: "0.0 to 100.0 ppm".
std::string RangeText(const RShownNumber& number);

// A typed number outside its field's range is never changed into another one: a write of the
// detector or of a file refuses, naming every such field, its value and its range; `what`
// says what was not written ("the detector", "the file").
std::optional<RWriteRefusal> RefuseOutOfRange(const std::vector<RShownNumber>& numbers, const std::string& what);
