// The incident report a safety manager files: every alarm event of a period with the detector's
// state when it began, and the totals per detector and per wearer, over as many A4 pages as it
// takes. Needs a QGuiApplication.
#pragma once

#include "app/records/EventRecords.h"

#include <string>

struct RIncidentHead {
  std::string mSite;       // the site's name
  std::string mSelection;  // what was asked: detector, wearer, period, in words
  std::string mPrinted;    // when the report was made, local with its UTC offset
  std::string mVerified;   // whether and where the records were verified (red when not)
};

// False, with the reason, when the file cannot be written.
bool WriteIncidentPdf(const RIncidentReport& report, const RIncidentHead& head, const std::string& path,
                      std::string* error = nullptr);
// The selection in words, for the head: "detector SH1, wearer A1, 2026-03-01 to 2026-03-31".
std::string IncidentSelectionText(const RIncidentQuery& query);
