#include "ui/IncidentsDlg.h"

#include "app/core/Settings.h"
#include "app/records/Fleet.h"
#include "model/EventLog.h"
#include "model/FileUtils.h"
#include "model/TimeText.h"
#include "report/IncidentReport.h"
#include "ui/Mains.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QTableWidget* Table(const char* name, const std::vector<std::string>& columns) {
  auto* t = new QTableWidget(0, static_cast<int>(columns.size()));
  t->setObjectName(name);
  QStringList heads;
  for (const std::string& c : columns) heads << Q(c);
  t->setHorizontalHeaderLabels(heads);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->verticalHeader()->hide();
  t->horizontalHeader()->setStretchLastSection(true);
  t->setWordWrap(false);
  return t;
}

void Row(QTableWidget* t, const std::vector<std::string>& cells, const std::vector<bool>& marked = {}) {
  const int row = t->rowCount();
  t->insertRow(row);
  for (size_t c = 0; c < cells.size(); ++c) {
    auto* item = new QTableWidgetItem(Q(cells[c]));
    if (c < marked.size() && marked[c]) item->setForeground(Qt::red);
    t->setItem(row, static_cast<int>(c), item);
  }
}

void Totals(QTableWidget* t, const std::vector<RIncidentTotals>& rows) {
  t->setRowCount(0);
  for (const RIncidentTotals& r : rows)
    Row(t, {r.mKey, std::to_string(r.mEvents), FormatDuration(static_cast<int32_t>(r.mSeconds)),
            FormatDuration(r.mLongest), r.mHighest});
  t->resizeColumnsToContents();
}

}  // namespace

TIncidentsDlg::TIncidentsDlg(Operator& op, const std::string& serial, bool sinceLastPass, QWidget* parent)
    : QDialog(parent), FOp(op) {
  setObjectName("IncidentsDlg");
  setWindowTitle("Incidents");
  resize(980, 600);
  SerialEdit = new QLineEdit(Q(serial));
  SerialEdit->setObjectName("IncidentsSerialEdit");
  SerialEdit->setMaxLength(10);
  SerialEdit->setPlaceholderText("all detectors");
  UserEdit = new QLineEdit;
  UserEdit->setObjectName("IncidentsUserEdit");
  UserEdit->setMaxLength(6);
  UserEdit->setPlaceholderText("all wearers");
  SinceEdit = new QLineEdit;
  SinceEdit->setObjectName("IncidentsSinceEdit");
  SinceEdit->setPlaceholderText("YYYY-MM-DD");
  UntilEdit = new QLineEdit;
  UntilEdit->setObjectName("IncidentsUntilEdit");
  UntilEdit->setPlaceholderText("YYYY-MM-DD");
  SinceLastPassCheck = new QCheckBox("Since its last passed check");
  SinceLastPassCheck->setObjectName("IncidentsSinceLastPassCheck");
  SinceLastPassCheck->setToolTip("The events from the detector's last passed calibration or bump test to its newest "
                                 "failed one: what a failed check puts in doubt");
  SinceLastPassCheck->setChecked(sinceLastPass);
  ShowBtn = new QPushButton("Show");
  auto* top = new QHBoxLayout;
  for (auto [label, w] : {std::pair<const char*, QWidget*>{"Serial", SerialEdit}, {"User ID", UserEdit},
                          {"From", SinceEdit}, {"To", UntilEdit}}) {
    top->addWidget(new QLabel(label));
    top->addWidget(w);
  }
  top->addWidget(SinceLastPassCheck);
  top->addWidget(ShowBtn);
  top->addStretch(1);

  NoteLabel = new QLabel;
  NoteLabel->setObjectName("IncidentsNoteLabel");
  NoteLabel->setWordWrap(true);
  Grid = Table("IncidentsGrid", IncidentColumns());
  DetectorGrid = Table("IncidentsDetectorGrid", {"Detector", "Events", "Time in alarm", "Longest", "Highest"});
  WearerGrid = Table("IncidentsWearerGrid", {"User ID", "Events", "Time in alarm", "Longest", "Highest"});
  auto* totals = new QHBoxLayout;
  totals->addWidget(DetectorGrid);
  totals->addWidget(WearerGrid);

  StateLabel = new QLabel;
  CsvBtn = new QPushButton("Export CSV...");
  PdfBtn = new QPushButton("Print PDF...");
  auto* closeBtn = new QPushButton("Close");
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(StateLabel, 1);
  bottom->addWidget(CsvBtn);
  bottom->addWidget(PdfBtn);
  bottom->addWidget(closeBtn);

  auto* v = new QVBoxLayout(this);
  v->addLayout(top);
  v->addWidget(NoteLabel);
  v->addWidget(Grid, 3);
  v->addWidget(new QLabel("Totals per detector and per wearer"));
  v->addLayout(totals, 1);
  v->addLayout(bottom);

  connect(ShowBtn, &QPushButton::clicked, this, [this] { Reload(); });
  for (QLineEdit* e : {SerialEdit, UserEdit, SinceEdit, UntilEdit})
    connect(e, &QLineEdit::returnPressed, this, [this] { Reload(); });
  connect(CsvBtn, &QPushButton::clicked, this, [this] { ExportCsvClick(); });
  connect(PdfBtn, &QPushButton::clicked, this, [this] { ExportPdfClick(); });
  connect(closeBtn, &QPushButton::clicked, this, &QDialog::accept);
  Reload();
}

std::optional<RIncidentQuery> TIncidentsDlg::Query() {
  RIncidentQuery q;
  q.mSerial = SerialEdit->text().trimmed().toStdString();
  q.mUser = UserEdit->text().trimmed().toStdString();
  q.mSinceLastPass = SinceLastPassCheck->isChecked();
  for (auto [edit, last] : {std::pair{SinceEdit, false}, std::pair{UntilEdit, true}}) {
    const std::string text = edit->text().trimmed().toStdString();
    if (text.empty()) continue;
    const std::optional<std::time_t> day = LocalDayTime(text, last);
    if (!day) {
      FOp.message(MessageIcon::Error, "Incidents", "Not a date: " + text + "\rWrite it YYYY-MM-DD");
      return std::nullopt;
    }
    (last ? q.mUntil : q.mSince) = day;
  }
  if (q.mSinceLastPass && q.mSerial.empty()) {
    FOp.message(MessageIcon::Error, "Incidents", "Since its last passed check: type the detector's serial");
    return std::nullopt;
  }
  return q;
}

struct TIncidentsDlg::RRead {
  RRecordsRead mRead;
  std::string mError;
};

void TIncidentsDlg::Reload() {
  if (FRead.Busy()) return;
  const std::optional<RIncidentQuery> q = Query();
  if (!q) return;
  FQuery = *q;
  const RRecordsSource source = RecordsSource();
  const std::string serial = q->mSerial;
  const std::string since = q->mSince ? UtcIsoText(*q->mSince) : "", until = q->mUntil ? UtcIsoText(*q->mUntil) : "";
  const auto read = [source, serial, since, until] {
    RRead r;
    try {
      r.mRead = ReadEventRecordsFrom(source, serial, since, until);
    } catch (const std::exception& e) {
      r.mError = e.what();
    }
    return r;
  };
  if (source.mServer.empty()) return Show(read());
  StateLabel->setText("Reading the site server...");
  ShowBtn->setEnabled(false);
  FRead.Start<RRead>(this, read, [this](RRead r) {
    ShowBtn->setEnabled(true);
    Show(std::move(r));
  });
}

void TIncidentsDlg::Show(RRead read) {
  FVerified = read.mRead.mVerified;
  FReport = read.mError.empty() ? IncidentReport(read.mRead.mRecords, FQuery) : RIncidentReport{};
  std::string note = read.mError.empty() ? FVerified : "The service records cannot be read: " + read.mError;
  if (!read.mRead.mNote.empty()) note += "\n" + read.mRead.mNote;
  if (!FReport.mWindow.empty()) note += "\nEvents " + FReport.mWindow;
  if (!FReport.mNoWindow.empty()) note += "\n" + FReport.mNoWindow;
  NoteLabel->setText(Q(note));
  NoteLabel->setStyleSheet(read.mError.empty() && read.mRead.Verified() ? "" : "color: #c01c1c; font-weight: bold;");
  Grid->setRowCount(0);
  size_t overdue = 0;
  for (const RIncident& i : FReport.mEvents) {
    overdue += i.Overdue();
    Row(Grid, IncidentCells(i),
        {false, false, false, false, false, false, i.mEntry.mHigh, i.mCal.mOverdue, i.mBump.mOverdue, i.Overdue()});
  }
  Grid->resizeColumnsToContents();
  Totals(DetectorGrid, FReport.mByDetector);
  Totals(WearerGrid, FReport.mByWearer);
  StateLabel->setText(QString("%1 alarm events, %2 while the detector was overdue  (%3)")
                          .arg(FReport.mEvents.size())
                          .arg(overdue)
                          .arg(read.mRead.mFromSite ? QString("the site server") : Q(RecordsDatabasePath())));
  CsvBtn->setEnabled(read.mError.empty());
  PdfBtn->setEnabled(read.mError.empty());
}

void TIncidentsDlg::ExportCsvClick() {
  FileRequest dialog{"Save Incidents...", "Data file|*.csv", "csv", AppDir,
                     "Incidents-" + (FQuery.mSerial.empty() ? std::string("all") : FQuery.mSerial) + ".csv"};
  const std::optional<std::string> file = FOp.chooseSaveFile(dialog);
  if (!file) return;
  std::string error;
  if (!WriteFileAtomic(*file, IncidentCSV(FReport, FVerified), &error))
    FOp.message(MessageIcon::Error, "Incidents", "The file could not be written\r" + *file + "\r" + error);
}

void TIncidentsDlg::ExportPdfClick() {
  FileRequest dialog{"Save Incident Report...", "PDF file|*.pdf", "pdf", AppDir,
                     "Incidents-" + (FQuery.mSerial.empty() ? std::string("all") : FQuery.mSerial) + "-" +
                         LocalDateText(std::time(nullptr)) + ".pdf"};
  const std::optional<std::string> file = FOp.chooseSaveFile(dialog);
  if (!file) return;
  const RIncidentHead head{FleetSiteName(), IncidentSelectionText(FQuery), LocalTimeText(std::time(nullptr)), FVerified};
  std::string error;
  if (!WriteIncidentPdf(FReport, head, *file, &error))
    FOp.message(MessageIcon::Error, "Incidents", "The report could not be written\r" + *file + "\r" + error);
}

void TKVTIRMainForm::UserIncidentsBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  TIncidentsDlg dialog(Op(), "", false, this);
  dialog.exec();
}
