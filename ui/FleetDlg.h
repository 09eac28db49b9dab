// The "Fleet" window: every detector the records know, most urgent first, its status in
// colour, a filter, and the table saved as CSV or printed as the PDF report.
#pragma once

#include "app/records/Fleet.h"
#include "app/core/Operator.h"
#include "ui/BackgroundRead.h"

#include <QDialog>

#include <ctime>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

class TFleetDlg : public QDialog {
  Q_OBJECT

 public:
  // now: the moment the statuses are taken for (the wall clock in the window, set in tests).
  TFleetDlg(Operator& op, std::time_t now, QWidget* parent = nullptr);

  void Reload();  // the records again, from the site (read in the background) or this computer
  bool Reading() const { return FRead.Busy(); }
  void ExportCsvClick();
  void ExportPdfClick();

  QLineEdit* FilterEdit = nullptr;
  QSpinBox* DueSpin = nullptr;
  QLabel* NoteLabel = nullptr;  // why the site's records are not shown, or why none could be read
  QTableWidget* Grid = nullptr;
  QLabel* StateLabel = nullptr;
  QPushButton* CsvBtn = nullptr;
  QPushButton* PdfBtn = nullptr;

 private:
  void Fill();  // the rows that pass the filter
  std::vector<RFleetRow> Shown() const;

  Operator& FOp;
  std::time_t FNow;
  std::vector<RFleetEvent> FEvents;
  std::string FVerified;  // whether and where the records shown were verified
  std::vector<RFleetRow> FRows;
  TBackgroundRead FRead;
};
