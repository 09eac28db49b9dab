// The "Incidents" window: the alarm events the records keep, newest first, with each
// detector's state when the event began, the totals per detector and per wearer, saved as CSV
// or printed as the incident report (PDF).
#pragma once

#include "app/core/Operator.h"
#include "app/records/EventRecords.h"
#include "app/site/SiteServer.h"
#include "ui/BackgroundRead.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TIncidentsDlg : public QDialog {
  Q_OBJECT

 public:
  // serial and sinceLastPass: what a failed record's link in History asks for.
  TIncidentsDlg(Operator& op, const std::string& serial, bool sinceLastPass, QWidget* parent = nullptr);

  void Reload();  // the records again, from the site (read in the background) or this computer
  bool Reading() const { return FRead.Busy(); }
  void ExportCsvClick();
  void ExportPdfClick();

  QLineEdit* SerialEdit = nullptr;
  QLineEdit* UserEdit = nullptr;
  QLineEdit* SinceEdit = nullptr;  // YYYY-MM-DD, local; empty: from the first record
  QLineEdit* UntilEdit = nullptr;  // YYYY-MM-DD, local; empty: to the newest
  QCheckBox* SinceLastPassCheck = nullptr;
  QPushButton* ShowBtn = nullptr;
  QLabel* NoteLabel = nullptr;     // whether and where the records were verified; the window of doubt
  QTableWidget* Grid = nullptr;
  QTableWidget* DetectorGrid = nullptr;
  QTableWidget* WearerGrid = nullptr;
  QLabel* StateLabel = nullptr;
  QPushButton* CsvBtn = nullptr;
  QPushButton* PdfBtn = nullptr;

 private:
  std::optional<RIncidentQuery> Query();  // nullopt, with a box, when a field is not accepted
  struct RRead;
  void Show(RRead read);

  Operator& FOp;
  RIncidentQuery FQuery;
  RIncidentReport FReport;
  std::string FVerified;
  TBackgroundRead FRead;
};
