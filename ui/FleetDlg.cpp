#include "ui/FleetDlg.h"

#include "app/device/Operation.h"
#include "app/records/ServiceRecords.h"
#include "app/site/SiteServer.h"
#include "model/DeviceUtils.h"
#include "model/FileUtils.h"
#include "report/FleetReport.h"
#include "ui/Application.h"
#include "ui/Mains.h"

#include <QBrush>
#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }

QColor Colour(TFleetStatus s) {
  switch (s) {
    case TFleetStatus::Failed: return QColor(0xEF, 0x9A, 0x9A);
    case TFleetStatus::Overdue: return QColor(0xFF, 0xCC, 0x80);
    case TFleetStatus::Due: return QColor(0xFF, 0xF5, 0x9D);
    case TFleetStatus::Ok: break;
  }
  return QColor(0xA5, 0xD6, 0xA7);
}
}  // namespace

TFleetDlg::TFleetDlg(Operator& op, std::time_t now, QWidget* parent) : QDialog(parent), FOp(op), FNow(now) {
  setObjectName("FleetDlg");
  setWindowTitle("Fleet");
  resize(860, 480);
  FilterEdit = new QLineEdit;
  FilterEdit->setObjectName("FleetFilterEdit");
  FilterEdit->setPlaceholderText("serial, sensor or status");
  DueSpin = new QSpinBox;
  DueSpin->setObjectName("FleetDueSpin");
  DueSpin->setRange(0, 365);
  DueSpin->setValue(7);
  auto* reloadBtn = new QPushButton("Reload");
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Filter"));
  top->addWidget(FilterEdit, 1);
  top->addSpacing(20);
  top->addWidget(new QLabel("DUE within"));
  top->addWidget(DueSpin);
  top->addWidget(new QLabel("days"));
  top->addWidget(reloadBtn);

  NoteLabel = new QLabel;
  NoteLabel->setObjectName("FleetNoteLabel");
  NoteLabel->setWordWrap(true);
  NoteLabel->hide();

  Grid = new QTableWidget(0, static_cast<int>(FleetColumns().size()));
  Grid->setObjectName("FleetGrid");
  QStringList headings;
  for (const std::string& c : FleetColumns()) headings << Q(c);
  Grid->setHorizontalHeaderLabels(headings);
  Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  Grid->verticalHeader()->hide();
  Grid->horizontalHeader()->setStretchLastSection(true);

  StateLabel = new QLabel;
  CsvBtn = new QPushButton("Export CSV...");
  PdfBtn = new QPushButton("Report PDF...");
  auto* closeBtn = new QPushButton("Close");
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(StateLabel, 1);
  bottom->addWidget(CsvBtn);
  bottom->addWidget(PdfBtn);
  bottom->addWidget(closeBtn);

  auto* v = new QVBoxLayout(this);
  v->addLayout(top);
  v->addWidget(NoteLabel);
  v->addWidget(Grid, 1);
  v->addLayout(bottom);

  connect(FilterEdit, &QLineEdit::textChanged, this, [this] { Fill(); });
  connect(DueSpin, &QSpinBox::valueChanged, this, [this] {
    FRows = FleetRows(FEvents, FNow, DueSpin->value(), FleetHandResetsDue());
    Fill();
  });
  connect(reloadBtn, &QPushButton::clicked, this, [this] { Reload(); });
  connect(CsvBtn, &QPushButton::clicked, this, [this] { ExportCsvClick(); });
  connect(PdfBtn, &QPushButton::clicked, this, [this] { ExportPdfClick(); });
  connect(closeBtn, &QPushButton::clicked, this, &QDialog::accept);
  Reload();
}

namespace {

// The fleet's events, or the note of why none could be read.
struct RFleetRead {
  std::vector<RFleetEvent> mEvents;
  std::string mNote;
  std::string mVerified;
};

RFleetRead FleetReadOf(const RRecordsSource& source) {
  RFleetRead r;
  try {
    const RRecordsRead read = ReadRecordsFrom(source, "", true);
    r.mEvents = FleetEventsFrom(read.mRecords);
    r.mNote = read.mNote;
    r.mVerified = read.mVerified;
  } catch (const std::exception& e) {
    // Above the table: the count line below is rewritten by every fill.
    r.mNote = "The records could not be read: " + std::string(e.what());
  }
  return r;
}

}  // namespace

void TFleetDlg::Reload() {
  if (FRead.Busy()) return;  // the read under way shows the same fleet
  const auto show = [this](RFleetRead read) {
    FEvents = std::move(read.mEvents);
    FVerified = read.mVerified;
    const std::string note = read.mVerified + (read.mNote.empty() || read.mVerified.empty() ? "" : "\n") + read.mNote;
    NoteLabel->setText(Q(note));
    NoteLabel->setVisible(!note.empty());
    NoteLabel->setStyleSheet(FVerified.rfind("verified:", 0) == 0 ? "" : "color: #c01c1c; font-weight: bold;");
    FRows = FleetRows(FEvents, FNow, DueSpin->value(), FleetHandResetsDue());
    Fill();
  };
  const RRecordsSource source = RecordsSource();
  if (source.mServer.empty()) return show(FleetReadOf(source));  // this computer's store answers at once
  NoteLabel->setText("Reading the site server...");
  NoteLabel->setVisible(true);
  FRead.Start<RFleetRead>(this, [source] { return FleetReadOf(source); }, show);
}

std::vector<RFleetRow> TFleetDlg::Shown() const {
  const QString filter = FilterEdit->text().trimmed();
  std::vector<RFleetRow> shown;
  for (const RFleetRow& r : FRows) {
    bool match = filter.isEmpty();
    for (const std::string& cell : FleetCells(r))
      if (!match && Q(cell).contains(filter, Qt::CaseInsensitive)) match = true;
    if (match) shown.push_back(r);
  }
  return shown;
}

void TFleetDlg::Fill() {
  const std::vector<RFleetRow> shown = Shown();
  Grid->setRowCount(static_cast<int>(shown.size()));
  for (size_t i = 0; i < shown.size(); ++i) {
    const std::vector<std::string> cells = FleetCells(shown[i]);
    for (size_t c = 0; c < cells.size(); ++c) {
      auto* item = new QTableWidgetItem(Q(cells[c]));
      item->setBackground(QBrush(Colour(shown[i].mStatus)));
      Grid->setItem(static_cast<int>(i), static_cast<int>(c), item);
    }
  }
  Grid->resizeColumnsToContents();
  int urgent = 0;
  for (const RFleetRow& r : FRows) urgent += r.mStatus == TFleetStatus::Failed || r.mStatus == TFleetStatus::Overdue;
  StateLabel->setText(QString("%1 of %2 detectors shown; %3 overdue or failed")
                          .arg(shown.size())
                          .arg(FRows.size())
                          .arg(urgent));
}

void TFleetDlg::ExportCsvClick() {
  const FileRequest request{"Save Fleet", "CSV File (*.csv)|*.csv", "csv", AppDir, "Fleet-" + UtcDateText(FNow) + ".csv"};
  const std::optional<std::string> file = FOp.chooseSaveFile(request);
  if (!file) return;
  std::string error;
  if (!WriteFileAtomic(*file, FleetCSV(Shown(), FVerified), &error))
    FOp.message(MessageIcon::Error, "Save Fleet", "The file could not be written:\r" + error);
  else
    StateLabel->setText(Q("Saved " + *file));
}

void TFleetDlg::ExportPdfClick() {
  const FileRequest request{"Save Fleet Report", "PDF File (*.pdf)|*.pdf", "pdf", AppDir,
                            "Fleet-" + UtcDateText(FNow) + ".pdf"};
  const std::optional<std::string> file = FOp.chooseSaveFile(request);
  if (!file) return;
  std::string error;
  if (!WriteFleetPdf(Shown(), FleetSiteName(), UtcDateText(FNow), DueSpin->value(), FVerified, *file, &error))
    FOp.message(MessageIcon::Error, "Save Fleet Report", "The report could not be written:\r" + error);
  else
    StateLabel->setText(Q("Saved " + *file));
}

void TKVTIRMainForm::UserFleetBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  TFleetDlg dialog(Op(), std::time(nullptr), this);
  dialog.exec();
}
