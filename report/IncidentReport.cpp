#include "report/IncidentReport.h"

#include "report/TablePdf.h"

#include "model/EventLog.h"
#include "model/TimeText.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>

#include <functional>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
const QColor kRed(0xC6, 0x28, 0x28);

}  // namespace

std::string IncidentSelectionText(const RIncidentQuery& q) {
  std::string text = q.mSerial.empty() ? "every detector" : "detector " + q.mSerial;
  text += q.mUser.empty() ? ", every wearer" : ", User ID " + q.mUser;
  if (q.mSinceLastPass) text += ", since its last passed check";
  if (q.mSince || q.mUntil)
    text += ", " + (q.mSince ? LocalDateText(*q.mSince) : std::string("the first record")) + " to " +
            (q.mUntil ? LocalDateText(*q.mUntil) : std::string("today"));
  return text;
}

bool WriteIncidentPdf(const RIncidentReport& report, const RIncidentHead& head, const std::string& path,
                      std::string* error) {
  TTablePdf doc(path);
  if (!doc.Begin("Incident report " + Q(head.mSite) + " " + Q(head.mPrinted), error)) return false;
  QPdfWriter& pdf = doc.Writer();
  QPainter& p = doc.Painter();
  const int width = p.viewport().width();
  const int height = p.viewport().height();
  const int margin = 150;
  const int rowH = 72;
  const int tableW = width - 2 * margin;
  const QFont title("Liberation Sans", 18, QFont::Bold);
  const QFont bold("Liberation Sans", 8, QFont::Bold);
  const QFont cell("Liberation Sans", 8);
  const QFont small("Liberation Sans", 7);
  const bool verified = head.mVerified.rfind("verified:", 0) == 0;
  int page = 1;
  int y = 0;
  const auto header = [&] {
    y = margin;
    p.setFont(title);
    p.setPen(Qt::black);
    p.drawText(QRect(margin, y, tableW, 110), Qt::AlignLeft | Qt::AlignVCenter, "Incident report: alarm events");
    y += 120;
    p.setFont(cell);
    p.drawText(QRect(margin, y, tableW, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QString("Site: %1    Printed: %2    Events: %3    Page %4")
                   .arg(Q(head.mSite), Q(head.mPrinted))
                   .arg(report.mEvents.size())
                   .arg(page));
    y += 60;
    p.drawText(QRect(margin, y, tableW, 60), Qt::AlignLeft | Qt::AlignVCenter, "Selection: " + Q(head.mSelection));
    y += 60;
    if (!report.mWindow.empty() || !report.mNoWindow.empty()) {
      p.drawText(QRect(margin, y, tableW, 60), Qt::AlignLeft | Qt::AlignVCenter,
                 "Window of doubt: " + Q(report.mWindow.empty() ? report.mNoWindow : report.mWindow));
      y += 60;
    }
    p.setFont(bold);
    p.setPen(verified ? QColor(Qt::black) : kRed);
    p.drawText(QRect(margin, y, tableW, 60), Qt::AlignLeft | Qt::AlignVCenter, Q(head.mVerified));
    p.setPen(Qt::black);
    y += 90;
  };
  const auto room = [&](int needed) {
    if (y + needed <= height - margin) return false;
    pdf.newPage();
    ++page;
    header();
    return true;
  };
  // One table: its heading row again on every page it runs onto.
  const auto table = [&](const std::vector<std::string>& columns, const std::vector<int>& parts, size_t rows,
                         const std::function<std::vector<std::string>(size_t)>& cells,
                         const std::function<bool(size_t, size_t)>& marked) {
    int partSum = 0;
    for (int part : parts) partSum += part;
    const auto headRow = [&] {
      p.fillRect(QRect(margin, y, tableW, rowH), QColor(0xE0, 0xE0, 0xE0));
      p.setFont(bold);
      int x = margin;
      for (size_t i = 0; i < columns.size(); ++i) {
        const int w = tableW * parts[i] / partSum;
        p.drawText(QRect(x + 12, y, w - 12, rowH), Qt::AlignLeft | Qt::AlignVCenter, Q(columns[i]));
        x += w;
      }
      y += rowH;
    };
    room(2 * rowH);
    headRow();
    for (size_t r = 0; r < rows; ++r) {
      if (room(rowH)) headRow();
      if (r % 2) p.fillRect(QRect(margin, y, tableW, rowH), QColor(0xF5, 0xF5, 0xF5));
      const std::vector<std::string> c = cells(r);
      int x = margin;
      for (size_t i = 0; i < c.size(); ++i) {
        const int w = tableW * parts[i] / partSum;
        const bool mark = marked(r, i);
        p.setFont(mark ? bold : cell);
        p.setPen(mark ? kRed : QColor(Qt::black));
        p.drawText(QRect(x + 12, y, w - 12, rowH), Qt::AlignLeft | Qt::AlignVCenter, Q(c[i]));
        x += w;
      }
      y += rowH;
    }
    p.setPen(Qt::black);
    p.drawLine(margin, y, margin + tableW, y);
    y += 40;
  };
  const auto heading = [&](const QString& text) {
    room(3 * rowH);
    p.setFont(QFont("Liberation Sans", 11, QFont::Bold));
    p.setPen(Qt::black);
    p.drawText(QRect(margin, y, tableW, 80), Qt::AlignLeft | Qt::AlignVCenter, text);
    y += 85;
  };

  header();
  heading("Events, newest first");
  table(IncidentColumns(), {17, 10, 6, 7, 7, 8, 5, 14, 14, 12}, report.mEvents.size(),
        [&](size_t r) { return IncidentCells(report.mEvents[r]); },
        [&](size_t r, size_t c) {
          const RIncident& i = report.mEvents[r];
          return (c == 7 && i.mCal.mOverdue) || (c == 8 && i.mBump.mOverdue) || (c == 9 && i.Overdue()) ||
                 (c == 6 && i.mEntry.mHigh);
        });
  const std::vector<std::string> totalsColumns = {"", "Events", "Time in alarm", "Longest", "Highest"};
  const auto totals = [&](const char* what, const std::vector<RIncidentTotals>& rows) {
    std::vector<std::string> columns = totalsColumns;
    columns[0] = what;
    table(columns, {20, 10, 14, 14, 16}, rows.size(),
          [&](size_t r) {
            const RIncidentTotals& t = rows[r];
            return std::vector<std::string>{t.mKey, std::to_string(t.mEvents),
                                            FormatDuration(static_cast<int32_t>(t.mSeconds)), FormatDuration(t.mLongest),
                                            t.mHighest};
          },
          [](size_t, size_t) { return false; });
  };
  heading("Totals per detector");
  totals("Detector", report.mByDetector);
  heading("Totals per wearer (the detector's User ID)");
  totals("User ID", report.mByWearer);

  room(420);
  p.setFont(small);
  p.setPen(Qt::black);
  p.drawText(QRect(margin, y, tableW, 200), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
             "Times are local with their UTC offset. An event's start is derived from the detector's life counter and the "
             "moment the log was downloaded (each entry's record keeps both). Level: the highest alarm the event reached. "
             "Last calibration and last bump: the last before the event began; OVERDUE when its due date (from the last "
             "passed check and the interval the detector's configuration held) had passed then. Bump tests themselves are "
             "not listed. Each entry is counted once, however many downloads or stations kept it.");
  y += 240;
  p.setFont(cell);
  p.drawText(QRect(margin, y, tableW, 80), Qt::AlignLeft | Qt::AlignBottom,
             "Reviewed by: ______________________________    Signature: ______________________________    "
             "Date: ________________");
  const bool ok = p.end();
  if (!ok && error) *error = "the PDF could not be finished";
  return ok;
}
