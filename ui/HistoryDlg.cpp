#include "ui/HistoryDlg.h"

#include "app/device/Operation.h"
#include "app/core/Settings.h"
#include "app/records/EventRecords.h"
#include "app/site/SiteServer.h"
#include "model/DeviceUtils.h"
#include "model/EventLog.h"
#include "report/Certificate.h"
#include "ui/Application.h"
#include "ui/IncidentsDlg.h"
#include "ui/Mains.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <fstream>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }

const char* const kKinds[] = {"All",      "read",      "write", "calibration", "bump",
                              "firmware", "event log", "event", "service"};
}  // namespace

THistoryDlg::THistoryDlg(Operator& op, const std::string& serial, QWidget* parent) : QDialog(parent), FOp(op) {
  setObjectName("HistoryDlg");
  setWindowTitle("History");
  resize(820, 460);
  SerialEdit = new QLineEdit(Q(serial));
  SerialEdit->setObjectName("HistorySerialEdit");
  SerialEdit->setMaxLength(10);
  SerialEdit->setPlaceholderText("all detectors");
  ShowBtn = new QPushButton("Show");
  KindCombo = new QComboBox;
  KindCombo->setObjectName("HistoryKindCombo");
  for (const char* k : kKinds) KindCombo->addItem(k);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Serial"));
  top->addWidget(SerialEdit);
  top->addWidget(ShowBtn);
  top->addSpacing(20);
  top->addWidget(new QLabel("Kind"));
  top->addWidget(KindCombo);
  top->addStretch(1);

  NoteLabel = new QLabel;
  NoteLabel->setObjectName("HistoryNoteLabel");
  NoteLabel->setWordWrap(true);
  NoteLabel->hide();

  Grid = new QTableWidget(0, 7);
  Grid->setObjectName("HistoryGrid");
  Grid->setHorizontalHeaderLabels({"Time (local)", "Serial", "Kind", "Operation", "Result", "Technician", "Record"});
  Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  Grid->verticalHeader()->hide();
  Grid->horizontalHeader()->setStretchLastSection(true);
  Grid->setWordWrap(false);
  DetailText = new QPlainTextEdit;
  DetailText->setObjectName("HistoryDetailText");
  DetailText->setReadOnly(true);
  DetailText->setPlaceholderText("Select a record to read it in full.");
  DoubtLink = new QLabel;
  DoubtLink->setObjectName("HistoryDoubtLink");
  DoubtLink->setTextFormat(Qt::RichText);
  DoubtLink->hide();

  StateLabel = new QLabel;
  CsvBtn = new QPushButton("Export CSV...");
  CertificateBtn = new QPushButton("Calibration Certificate...");
  auto* closeBtn = new QPushButton("Close");
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(StateLabel, 1);
  bottom->addWidget(CsvBtn);
  bottom->addWidget(CertificateBtn);
  bottom->addWidget(closeBtn);

  auto* v = new QVBoxLayout(this);
  v->addLayout(top);
  v->addWidget(NoteLabel);
  v->addWidget(Grid, 3);
  v->addWidget(DetailText, 2);
  v->addWidget(DoubtLink);
  v->addLayout(bottom);

  connect(ShowBtn, &QPushButton::clicked, this, [this] { Reload(); });
  connect(SerialEdit, &QLineEdit::returnPressed, this, [this] { Reload(); });
  connect(KindCombo, &QComboBox::currentIndexChanged, this, [this] { Fill(); });
  connect(Grid, &QTableWidget::currentCellChanged, this, [this](int row) { ShowDetail(row); });
  connect(DoubtLink, &QLabel::linkActivated, this, [this](const QString& serial) {
    TIncidentsDlg dialog(FOp, serial.toStdString(), true, this);
    dialog.exec();
  });
  connect(CsvBtn, &QPushButton::clicked, this, [this] { ExportCsvClick(); });
  connect(CertificateBtn, &QPushButton::clicked, this, [this] { CertificateClick(); });
  connect(closeBtn, &QPushButton::clicked, this, &QDialog::accept);
  Reload();
}

struct THistoryDlg::RRead {
  RRecordsRead mRead;
  std::string mError;  // the records could be read from nowhere
};

THistoryDlg::RRead THistoryDlg::ReadOf(const RRecordsSource& source, const std::string& serial) {
  RRead r;
  try {
    r.mRead = ReadRecordsFrom(source, serial);
  } catch (const std::exception& e) {
    r.mError = e.what();
  }
  return r;
}

void THistoryDlg::Reload() {
  if (FRead.Busy()) return;  // the read under way shows the same records
  const RRecordsSource source = RecordsSource();
  const std::string serial = SerialEdit->text().trimmed().toStdString();
  if (source.mServer.empty()) return Show(ReadOf(source, serial));  // this computer's store answers at once
  StateLabel->setText("Reading the site server...");
  ShowBtn->setEnabled(false);
  FRead.Start<RRead>(this, [source, serial] { return ReadOf(source, serial); }, [this](RRead read) {
    ShowBtn->setEnabled(true);
    Show(std::move(read));
  });
}

void THistoryDlg::Show(RRead read) {
  FRecords = std::move(read.mRead.mRecords);
  if (read.mError.empty())
    StateLabel->setText(QString("%1 records  (%2)")
                            .arg(FRecords.size())
                            .arg(read.mRead.mFromSite ? QString("the site server") : Q(RecordsDatabasePath())));
  else
    StateLabel->setText(Q("The service records cannot be read: " + read.mError));
  FVerified = read.mRead.mVerified;
  ShowNote(read.mError.empty() ? FVerified + (read.mRead.mNote.empty() ? "" : "\n" + read.mRead.mNote) : "");
  NoteLabel->setStyleSheet(read.mRead.Verified() ? "" : "color: #c01c1c; font-weight: bold;");
  Fill();
}

void THistoryDlg::ShowDetail(int row) {
  const int at = row >= 0 && Grid->item(row, 0) ? Grid->item(row, 0)->data(Qt::UserRole).toInt() : -1;
  const RServiceRecord* r = at >= 0 && at < static_cast<int>(FRecords.size()) ? &FRecords[static_cast<size_t>(at)] : nullptr;
  DetailText->setPlainText(r ? Q(RecordInWords(*r)) : QString());
  const bool failedCheck = r && !r->mSerial.empty() && (r->mKind == "calibration" || r->mKind == "bump") &&
                           CheckOutcomeOf(*r) == TCheckOutcome::Fail;
  if (failedCheck)
    DoubtLink->setText(QString("<a href=\"%1\">Alarm events of %1 since its last passed check...</a>")
                           .arg(Q(r->mSerial).toHtmlEscaped()));
  DoubtLink->setVisible(failedCheck);
}

void THistoryDlg::ShowNote(const std::string& note) {
  NoteLabel->setText(Q(note));
  NoteLabel->setVisible(!note.empty());
}

void THistoryDlg::Fill() {
  const std::string kind = KindCombo->currentIndex() > 0 ? KindCombo->currentText().toStdString() : "";
  Grid->setRowCount(0);
  for (size_t at = 0; at < FRecords.size(); ++at) {
    const RServiceRecord& r = FRecords[at];
    if (!kind.empty() && r.mKind != kind) continue;
    const int row = Grid->rowCount();
    Grid->insertRow(row);
    const std::string cells[] = {LocalTimeText(r.mTime), r.mSerial, r.mKind, r.mOperation, ResultText(r),
                                 r.mTechnician.empty() ? r.mUser : r.mTechnician,
                                 r.Sealed() ? r.mStation + "-" + std::to_string(r.mSeq) : "earlier"};
    for (int c = 0; c < 7; ++c) {
      auto* item = new QTableWidgetItem(Q(cells[c]));
      if (c == 0) item->setData(Qt::UserRole, static_cast<int>(at));
      if (c == 4 && r.mResult != "PASS") item->setForeground(Qt::red);
      Grid->setItem(row, c, item);
    }
  }
  Grid->resizeColumnsToContents();
  DetailText->clear();
  if (Grid->rowCount() > 0) Grid->setCurrentCell(0, 0);  // the newest, read in full below
  CsvBtn->setEnabled(Grid->rowCount() > 0);
  CertificateBtn->setEnabled(!SerialEdit->text().trimmed().isEmpty());
}

void THistoryDlg::ExportCsvClick() {
  std::vector<RServiceRecord> shown;
  const std::string kind = KindCombo->currentIndex() > 0 ? KindCombo->currentText().toStdString() : "";
  for (const RServiceRecord& r : FRecords)
    if (kind.empty() || r.mKind == kind) shown.push_back(r);
  const std::string serial = SerialEdit->text().trimmed().toStdString();
  FileRequest dialog{"Save History...", "Data file|*.csv", "csv", AppDir,
                     "History-" + (serial.empty() ? std::string("all") : serial) + ".csv"};
  const std::optional<std::string> file = FOp.chooseSaveFile(dialog);
  if (!file) return;
  std::ofstream out(*file, std::ios::binary | std::ios::trunc);
  out << HistoryCSV(shown, FVerified);
  out.close();
  if (!out) FOp.message(MessageIcon::Error, "History", "The file could not be written\r" + *file);
}

void THistoryDlg::CertificateClick() {
  RCertificateChoice choice;
  std::string note;
  try {
    const TWaitCursor wait;
    choice = CertificateOfRecords(SerialEdit->text().trimmed().toStdString(), &note);
  } catch (const std::exception& e) {
    choice.mRefusal = std::string("the service records cannot be read: ") + e.what();
  }
  ShowNote(note);
  if (!choice.mCertificate) {
    FOp.message(MessageIcon::Warning, "Calibration Certificate", "No certificate can be issued\r" + choice.mRefusal);
    return;
  }
  const std::optional<RCertificate>& certificate = choice.mCertificate;
  FileRequest dialog{"Save Calibration Certificate...", "PDF file|*.pdf", "pdf", AppDir,
                     "Certificate-" + certificate->mSerial + "-" + certificate->mDateTime.substr(0, 10) + ".pdf"};
  const std::optional<std::string> file = FOp.chooseSaveFile(dialog);
  if (!file) return;
  std::string error;
  if (!WriteCertificatePdf(*certificate, *file, &error))
    FOp.message(MessageIcon::Error, "Calibration Certificate", "The certificate could not be written\r" + *file +
                                                                   "\r" + error);
}

void TKVTIRMainForm::UserHistoryBtnClick() {
  // Clicked while a run lets the window take clicks, a modal dialog would stall the run.
  TOperationGuard guard(Op());
  if (!guard) return;
  // The detector last read; its serial is in the working configuration after a read.
  const std::string serial = Session.FIdentity.mSerial[0] ? FieldText(Session.FIdentity.mSerial, 10) : "";
  THistoryDlg dialog(Op(), serial, this);
  dialog.exec();
}
