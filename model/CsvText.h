// Pieces shared by every CSV file and proposed file name the tool writes: numbers with the
// user's decimal separator, and the detector's serial and the time as they go into a name.
#pragma once

#include <ctime>
#include <string>

// The decimal separator of the user's regional settings ("." when the locale gives none).
std::string CsvDecimalPoint();

// A number field: quoted when it holds a comma, so a comma separator keeps the columns intact.
std::string CsvNumber(const std::string& number);

// A text field: quoted (inner quotes doubled) when it holds a comma, a quote or a line end.
std::string CsvQuoted(const std::string& text);

// A text cell a spreadsheet shows as text: one that begins with =, +, - or @ (and is no
// number) gets a leading ' so it is never run as a formula; then quoted as CsvQuoted.
std::string CsvCell(const std::string& text);
// What a CSV's first line says of CsvCell.
inline constexpr const char* kCsvCellNote = "cells beginning with =, +, - or @ begin with ' so that no spreadsheet runs them";

// A value in tenths formatted "#0.0" with `decimal` as the separator: 125 -> 12.5, -3 -> -0.3.
std::string TenthsText(int tenths, const std::string& decimal);

// A detector's serial (or any text it sends) as it may go into a file name or a CSV field:
// letters, digits, '-' and '_' only, so its bytes never make a path or break a column.
std::string SerialFileText(const std::string& serial);

