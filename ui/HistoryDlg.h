// The "History" window: a detector's service records newest first, filtered by kind, saved as
// CSV, and the "Calibration Certificate" of its newest successful calibration.
#pragma once

#include "app/core/Operator.h"
#include "app/records/ServiceRecords.h"
#include "app/site/SiteServer.h"
#include "ui/BackgroundRead.h"

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

class THistoryDlg : public QDialog {
  Q_OBJECT

 public:
  // serial: the detector last read; empty shows every detector.
  THistoryDlg(Operator& op, const std::string& serial, QWidget* parent = nullptr);

  // The records of the serial typed in, from the site (read in the background) or this computer.
  void Reload();
  bool Reading() const { return FRead.Busy(); }
  void ExportCsvClick();
  void CertificateClick();

  QLineEdit* SerialEdit = nullptr;
  QComboBox* KindCombo = nullptr;
  QLabel* NoteLabel = nullptr;  // why this computer's records are shown although a site server is set
  QTableWidget* Grid = nullptr;
  QPlainTextEdit* DetailText = nullptr;  // the selected record in words
  // Under a failed calibration or bump test: the alarm events since the detector's last passed
  // check (ui/IncidentsDlg), the readings the failure puts in doubt.
  QLabel* DoubtLink = nullptr;
  QLabel* StateLabel = nullptr;
  QPushButton* ShowBtn = nullptr;
  QPushButton* CsvBtn = nullptr;
  QPushButton* CertificateBtn = nullptr;

 private:
  void Fill();  // the records that pass the kind filter
  void ShowDetail(int row);
  void ShowNote(const std::string& note);  // hidden when empty
  struct RRead;
  static RRead ReadOf(const RRecordsSource& source, const std::string& serial);
  void Show(RRead read);

  Operator& FOp;
  std::vector<RServiceRecord> FRecords;
  std::string FVerified;  // whether and where the records shown were verified
  TBackgroundRead FRead;
};
