#include "report/TablePdf.h"

#include <QFile>
#include <QPageSize>

TTablePdf::TTablePdf(const std::string& path) : FFile(QString::fromStdString(path)), FPdf(FFile) {}

bool TTablePdf::Begin(const QString& title, std::string* error) {
  {
    QFile probe(FFile);
    if (!probe.open(QIODevice::WriteOnly)) {
      if (error) *error = probe.errorString().toStdString();
      return false;
    }
  }
  FPdf.setPageSize(QPageSize(QPageSize::A4));
  FPdf.setPageOrientation(QPageLayout::Landscape);
  FPdf.setResolution(300);
  FPdf.setTitle(title);
  FPdf.setCreator("BeamDock");
  if (!FPainter.begin(&FPdf)) {
    if (error) *error = "the PDF could not be started";
    return false;
  }
  return true;
}
