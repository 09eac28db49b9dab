#include "model/TextHelpers.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <thread>

namespace {

bool isBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string trimmed(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && isBlankOrControl(text[first])) ++first;
  while (last > first && isBlankOrControl(text[last - 1])) --last;
  return text.substr(first, last - first);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string normalizeInteger(const std::string& text) {
  const std::string t = trimmed(text);
  size_t pos = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (negative) pos = 1;
  size_t end = pos;
  while (end < t.size() && isDigit(t[end])) ++end;
  if (end == pos) return "0";

  // Leading zeros carry no value; only the significant digits can overflow.
  size_t significant = pos;
  while (significant < end && t[significant] == '0') ++significant;
  const std::string digits = t.substr(significant, end - significant);
  if (digits.empty()) return "0";
  if (digits.size() > 10) throw ENumberTooLong(t.substr(0, end));

  int64_t value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) throw ENumberTooLong(t.substr(0, end));

  char buf[16];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

std::string normalizeDecimal(const std::string& text) {
  const std::string t = trimmed(text);
  size_t pos = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (negative) pos = 1;
  std::string collected;
  bool havePoint = false;
  bool haveDigit = false;
  for (size_t i = pos; i < t.size(); ++i) {
    const char c = t[i];
    if (isDigit(c)) {
      haveDigit = true;
    } else if (c == '.' && !havePoint) {
      havePoint = true;
    } else {
      break;
    }
    collected += c;
  }
  // A lone "." holds no number; it reads as nothing collected rather than failing.
  if (!haveDigit) return "0";

  double value = 0.0;
  const auto parsed = std::from_chars(collected.data(), collected.data() + collected.size(), value,
                                      std::chars_format::fixed);
  if (parsed.ec == std::errc::result_out_of_range) {
    // No exponent is possible, so out of range means too many integer digits (saturate) or a
    // fraction below the smallest double (which prints as 0 at 8 decimals anyway).
    size_t intDigits = 0;
    bool significant = false;
    for (char c : collected) {
      if (c == '.') break;
      if (c != '0') significant = true;
      if (significant) ++intDigits;
    }
    value = intDigits > 0 ? std::numeric_limits<double>::max() : 0.0;
  }

  // Fixed notation with 8 decimals (enough room for the largest double), then drop
  // trailing zeros and a bare point.
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 8);
  std::string out(buf, res.ptr);
  if (out.find('.') != std::string::npos) {
    while (!out.empty() && out.back() == '0') out.pop_back();
    if (!out.empty() && out.back() == '.') out.pop_back();
  }
  if (out.empty() || out == "0") return "0";
  return negative ? "-" + out : out;
}

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] != '\0')
    return pw->pw_dir;
  return "/";
}

}  // namespace

ENumberTooLong::ENumberTooLong(const std::string& digits)
    : std::runtime_error("'" + digits + "' is too long for a 32-bit number") {}

std::string NormalizeNumText(NumMode mode, const std::string& text) {
  return mode == NumMode::Integer ? normalizeInteger(text) : normalizeDecimal(text);
}

std::string PadText(bool atFront, int width, char ch, const std::string& text) {
  if (width <= 0) return {};
  const size_t w = static_cast<size_t>(width);
  if (text.size() > w) return text.substr(0, w);
  if (text.size() == w) return text;
  const std::string fill(w - text.size(), ch);
  return atFront ? fill + text : text + fill;
}

std::vector<std::string> SplitText(const std::string& text, const std::string& delimiter, int maxParts) {
  if (maxParts <= 0) return {};
  const size_t max = static_cast<size_t>(maxParts);
  std::vector<std::string> parts(max);
  size_t count = 0;
  std::string rest = trimmed(text);
  if (!delimiter.empty()) {
    for (size_t at = rest.find(delimiter); at != std::string::npos; at = rest.find(delimiter)) {
      parts[count] = rest.substr(0, at);
      if (++count == max) return parts;
      rest = trimmed(rest.substr(at + delimiter.size()));
    }
  }
  if (!rest.empty()) parts[count] = rest;
  return parts;
}

uint16_t StrToWordRange(const std::string& text, uint16_t min, uint16_t max) {
  std::string normal;
  try {
    normal = NormalizeNumText(NumMode::Integer, text);
  } catch (const ENumberTooLong&) {
    return max;
  }
  int32_t number = 0;
  std::from_chars(normal.data(), normal.data() + normal.size(), number);
  const auto value = static_cast<uint16_t>(static_cast<uint32_t>(number));
  if (value < min) return min;
  if (value > max) return max;
  return value;
}

std::string GetStartDir() {
  std::string dir;
  std::vector<char> buf(256);
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) {
      dir = buf.data();
      break;
    }
    if (errno != ERANGE || buf.size() > (1u << 20)) break;
    buf.resize(buf.size() * 2);
  }
  // Linux may report an unreachable folder (outside our root) with a leading "(unreachable)".
  if (dir.empty() || dir[0] != '/') dir = homeFolder();
  if (dir.back() != '/') dir += '/';
  return dir;
}

void WaitSeconds(float seconds, const std::function<void()>& processMessages) {
  if (!(seconds > 0.0f)) return;  // also NaN
  using namespace std::chrono;
  constexpr float kLongest = 1.0e9f;  // keeps the deadline inside the clock's range
  const auto span = duration_cast<steady_clock::duration>(duration<double>(std::min(seconds, kLongest)));
  const auto deadline = steady_clock::now() + span;
  constexpr auto kSlice = milliseconds(5);
  for (auto now = steady_clock::now(); now < deadline; now = steady_clock::now()) {
    if (processMessages) processMessages();
    const auto left = deadline - steady_clock::now();
    if (left <= steady_clock::duration::zero()) break;
    std::this_thread::sleep_for(std::min<steady_clock::duration>(left, kSlice));
  }
}
