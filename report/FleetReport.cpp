#include "report/FleetReport.h"

#include "report/TablePdf.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>

namespace {

QColor FleetColour(TFleetStatus s) {
  switch (s) {
    case TFleetStatus::Failed: return QColor(0xC6, 0x28, 0x28);
    case TFleetStatus::Overdue: return QColor(0xE6, 0x51, 0x00);
    case TFleetStatus::Due: return QColor(0xB2, 0x8A, 0x00);
    case TFleetStatus::Ok: break;
  }
  return QColor(0x2E, 0x7D, 0x32);
}

}  // namespace

bool WriteFleetPdf(const std::vector<RFleetRow>& rows, const std::string& site, const std::string& date,
                   int dueDays, const std::string& verified, const std::string& path, std::string* error) {
  TTablePdf doc(path);
  if (!doc.Begin("Detector fleet " + QString::fromStdString(site) + " " + QString::fromStdString(date), error))
    return false;
  QPdfWriter& pdf = doc.Writer();
  QPainter& p = doc.Painter();
  const int width = p.viewport().width();
  const int height = p.viewport().height();
  const int margin = 150;
  const int rowH = 80;
  // Column widths in parts of the table's width, as the cells need them.
  const int parts[] = {14, 9, 18, 15, 18, 15, 11};
  int partSum = 0;
  for (int part : parts) partSum += part;
  const int tableW = width - 2 * margin;
  const QFont title("Liberation Sans", 18, QFont::Bold);
  const QFont head("Liberation Sans", 9, QFont::Bold);
  const QFont cell("Liberation Sans", 9);
  const QFont small("Liberation Sans", 8);
  const std::vector<std::string>& columns = FleetColumns();
  int page = 1;
  int y = 0;
  const auto header = [&] {
    y = margin;
    p.setFont(title);
    p.setPen(Qt::black);
    p.drawText(QRect(margin, y, tableW, 120), Qt::AlignLeft | Qt::AlignVCenter, "Detector fleet: due dates");
    y += 130;
    p.setFont(cell);
    p.drawText(QRect(margin, y, tableW, 70), Qt::AlignLeft | Qt::AlignVCenter,
               QString("Site: %1    Date: %2    DUE: within %3 days    Detectors: %4    Page %5")
                   .arg(QString::fromStdString(site), QString::fromStdString(date))
                   .arg(dueDays)
                   .arg(rows.size())
                   .arg(page));
    y += 80;
    p.setFont(head);
    p.setPen(verified.rfind("verified:", 0) == 0 ? QColor(Qt::black) : FleetColour(TFleetStatus::Failed));
    p.drawText(QRect(margin, y, tableW, 70), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(verified));
    p.setPen(Qt::black);
    y += 100;
    p.fillRect(QRect(margin, y, tableW, rowH), QColor(0xE0, 0xE0, 0xE0));
    int x = margin;
    for (size_t i = 0; i < columns.size(); ++i) {
      const int w = tableW * parts[i] / partSum;
      p.drawText(QRect(x + 15, y, w - 15, rowH), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(columns[i]));
      x += w;
    }
    y += rowH;
  };
  header();
  for (size_t r = 0; r < rows.size(); ++r) {
    if (y + rowH > height - margin) {
      pdf.newPage();
      ++page;
      header();
    }
    const std::vector<std::string> cells = FleetCells(rows[r]);
    if (r % 2) p.fillRect(QRect(margin, y, tableW, rowH), QColor(0xF5, 0xF5, 0xF5));
    int x = margin;
    for (size_t i = 0; i < cells.size(); ++i) {
      const int w = tableW * parts[i] / partSum;
      const bool status = i + 1 == cells.size();
      p.setFont(status ? head : cell);
      p.setPen(status ? FleetColour(rows[r].mStatus) : QColor(Qt::black));
      p.drawText(QRect(x + 15, y, w - 15, rowH), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(cells[i]));
      x += w;
    }
    y += rowH;
  }
  p.setPen(Qt::black);
  p.drawLine(margin, y, margin + tableW, y);
  p.setFont(small);
  p.drawText(QRect(margin, y + 20, tableW, 70), Qt::AlignLeft | Qt::AlignVCenter,
             "Dates in UTC. FAILED: the newest calibration or bump test failed. OVERDUE: a due date has passed. "
             "DUE: due within the days above, or never done.");
  const bool ok = p.end();
  if (!ok && error) *error = "the PDF could not be finished";
  return ok;
}
