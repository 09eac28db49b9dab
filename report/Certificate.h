// The calibration certificate as a one-page PDF. Needs a QGuiApplication (the window's, or
// the terminal tool's offscreen one) for its fonts.
#pragma once

#include "app/records/ServiceRecords.h"

#include <string>

// False, with the reason in error, when the file cannot be written.
bool WriteCertificatePdf(const RCertificate& certificate, const std::string& path, std::string* error = nullptr);
