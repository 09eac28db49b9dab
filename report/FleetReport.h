// The fleet report a safety manager prints: the site, the date, one table of every detector
// with its due dates and status, over as many A4 pages as it takes. Needs a QGuiApplication.
#pragma once

#include "app/records/Fleet.h"

#include <string>
#include <vector>

// date: the day the report stands for (YYYY-MM-DD); verified: whether and where the records
// were verified, printed in the header of every page (in red when they were not). False, with the reason, when the file
// cannot be written.
bool WriteFleetPdf(const std::vector<RFleetRow>& rows, const std::string& site, const std::string& date,
                   int dueDays, const std::string& verified, const std::string& path, std::string* error = nullptr);
