// Text and number helpers: cleaning numbers typed by a user or read from the settings file,
// fixed-width padding, settings-line splitting, the start folder and a wait that keeps the
// window alive. No state, no locale: numbers always use '.' as the decimal separator.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

enum class NumMode { Integer, Decimal };

// A digit run that does not fit a signed 32-bit number. Its own type, so a handler can tell
// it from other failures and show it to the operator with its text.
class ENumberTooLong : public std::runtime_error {
 public:
  explicit ENumberTooLong(const std::string& digits);
};

// Integer: optional leading '-', then the leading digits; "0" when there are none; throws
// ENumberTooLong beyond the signed 32-bit range.
// Decimal: optional '-', digits with at most one '.', formatted with at most 8 decimals, no
// trailing zeros and '.' as the separator; never throws.
std::string NormalizeNumText(NumMode mode, const std::string& text);

// Exactly width characters: text cut to its first width characters, or padded with ch at the
// front or the end. A width of 0 or less gives an empty text.
std::string PadText(bool atFront, int width, char ch, const std::string& text);

// Exactly maxParts parts (none for maxParts <= 0). Blanks around the text are removed before
// each split; a part keeps the blanks before its delimiter. What is left after the last part
// is dropped. An empty delimiter never matches.
std::vector<std::string> SplitText(const std::string& text, const std::string& delimiter, int maxParts);

// The settings file's number rule: integer-normalised, cut to the low 16 bits, then limited
// to min..max. Never throws: a digit run too long for 32 bits (with or without '-') counts
// as above the range and gives max, so a damaged settings file cannot stop the start.
uint16_t StrToWordRange(const std::string& text, uint16_t min, uint16_t max);

// The current folder ending with '/'. When it cannot be found (for example it was deleted),
// the home folder ($HOME, else the password database) with '/' appended; "/" as the last resort.
std::string GetStartDir();

// Returns once at least `seconds` have passed on the monotonic clock. Until then it calls
// processMessages (may be empty) and sleeps a few milliseconds, over and over, so the window
// stays responsive without burning a core. Zero, negative or NaN returns at once.
void WaitSeconds(float seconds, const std::function<void()>& processMessages);
