#include "report/Certificate.h"

#include <QFile>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>

bool WriteCertificatePdf(const RCertificate& c, const std::string& path, std::string* error) {
  const QString file = QString::fromStdString(path);
  {
    // QPdfWriter says nothing about a file it could not create; ask first.
    QFile probe(file);
    if (!probe.open(QIODevice::WriteOnly)) {
      if (error) *error = probe.errorString().toStdString();
      return false;
    }
  }
  QPdfWriter pdf(file);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setResolution(300);
  pdf.setTitle("Calibration Certificate " + QString::fromStdString(c.mSerial));
  pdf.setCreator("BeamDock");
  QPainter p;
  if (!p.begin(&pdf)) {
    if (error) *error = "the PDF could not be started";
    return false;
  }
  const int width = p.viewport().width();
  const int margin = 250;
  int y = 350;
  QFont title("Liberation Sans", 22, QFont::Bold);
  p.setFont(title);
  p.drawText(QRect(0, y, width, 200), Qt::AlignHCenter, "Calibration Certificate");
  y += 400;
  p.drawLine(margin, y, width - margin, y);
  y += 150;

  const std::pair<const char*, std::string> rows[] = {
      {"Serial number", c.mSerial},   {"Sensor type", c.mSensorType},         {"Span gas", c.mSpanGas},
      {"Outcome", c.mSpanResult},     {"Calibration date", c.mDateTime},          {"Next calibration due", c.mNextDue},
      {"Technician", c.mTechnician},  {"Record", c.mNumber},
  };
  QFont label("Liberation Sans", 12, QFont::Bold);
  QFont value("Liberation Sans", 12);
  for (const auto& [name, text] : rows) {
    p.setFont(label);
    p.drawText(QRect(margin, y, width / 2 - margin, 120), Qt::AlignLeft | Qt::AlignVCenter, name);
    p.setFont(value);
    p.drawText(QRect(width / 2, y, width / 2 - margin, 120), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromStdString(text));
    y += 170;
  }
  y += 300;
  p.drawLine(width / 2, y, width - margin, y);
  p.setFont(value);
  p.drawText(QRect(width / 2, y + 20, width / 2 - margin, 120), Qt::AlignLeft, "Signature");
  const bool ok = p.end();
  if (!ok && error) *error = "the PDF could not be finished";
  return ok;
}
