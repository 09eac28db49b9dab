// The landscape A4 page the table reports (fleet, incidents) are drawn on, at 300 dpi.
#pragma once

#include <QPainter>
#include <QPdfWriter>
#include <QString>

#include <string>

class TTablePdf {
 public:
  explicit TTablePdf(const std::string& path);
  // Starts the painter on the first page; false, with the reason, when the file cannot be
  // written (QPdfWriter itself says nothing of a file it could not create).
  bool Begin(const QString& title, std::string* error);
  QPdfWriter& Writer() { return FPdf; }
  QPainter& Painter() { return FPainter; }

 private:
  QString FFile;
  QPdfWriter FPdf;
  QPainter FPainter;
};
