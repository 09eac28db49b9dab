#include "model/CsvText.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>

std::string CsvDecimalPoint() {
  const lconv* lc = std::localeconv();
  return lc && lc->decimal_point && *lc->decimal_point ? lc->decimal_point : ".";
}

std::string CsvNumber(const std::string& number) {
  return number.find(',') == std::string::npos ? number : "\"" + number + "\"";
}

std::string TenthsText(int tenths, const std::string& decimal) {
  const long a = std::labs(static_cast<long>(tenths));
  return (tenths < 0 ? "-" : "") + std::to_string(a / 10) + decimal + std::to_string(a % 10);
}

std::string SerialFileText(const std::string& serial) {
  std::string safe;
  for (char c : serial)
    // ASCII only: in an 8-bit locale isalnum would let accented bytes through.
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_') safe += c;
  return safe;
}

std::string CsvCell(const std::string& text) {
  if (text.empty() || text == "-" || std::string("=+-@\t\r").find(text[0]) == std::string::npos) return CsvQuoted(text);
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  if (end && *end == '\0' && (text[0] == '-' || text[0] == '+')) return CsvQuoted(text);  // a signed number
  return CsvQuoted("'" + text);
}

std::string CsvQuoted(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}
