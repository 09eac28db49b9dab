// The EEPROM group of the TEST page. The grid's texts go to app/EepromDump and back, so an
// edited cell is read, saved and redrawn like any other.
#include "app/device/EepromDump.h"
#include "app/device/Operation.h"
#include "ui/Mains.h"

#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTableWidget>

namespace {

TEEPROMGrid GridTexts(const QTableWidget* grid) {
  TEEPROMGrid texts(static_cast<size_t>(grid->rowCount()));
  for (int r = 0; r < grid->rowCount(); ++r)
    for (int c = 0; c <= 16; ++c)
      if (const QTableWidgetItem* item = grid->item(r, c)) texts[r][c] = item->text().toStdString();
  return texts;
}

void ShowGridTexts(QTableWidget* grid, const TEEPROMGrid& texts) {
  for (int r = 0; r < grid->rowCount() && r < static_cast<int>(texts.size()); ++r)
    for (int c = 1; c <= 16; ++c) {
      QTableWidgetItem* item = grid->item(r, c);
      const QString text = QString::fromStdString(texts[r][c]);
      if (item && item->text() != text) item->setText(text);
    }
}

}  // namespace

void TKVTIRMainForm::EtcEEPROMReadBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  TEEPROMGrid texts = GridTexts(EtcEEPROMGrid);
  Guarded([&] { FEEPROMRead = EEPROMRead(Op(), *ComKVT, texts) == LINK_OK || FEEPROMRead; });
  ShowGridTexts(EtcEEPROMGrid, texts);
  ShowEEPROMReadState();
}

void TKVTIRMainForm::EtcEEPROMSaveBtnClick() {
  TOperationGuard guard(Op());
  if (guard) Guarded([&] { EEPROMSaveFile(Op(), SaveCSVDialog, GridTexts(EtcEEPROMGrid)); });
}

void TKVTIRMainForm::EtcEEPROMSaveLogBtnClick() {
  TOperationGuard guard(Op());
  if (!guard) return;
  TEEPROMGrid texts = GridTexts(EtcEEPROMGrid);
  Guarded([&] { FEEPROMRead = EEPROMReadSaveLog(Op(), *ComKVT, texts).mCode == LINK_OK || FEEPROMRead; });
  ShowGridTexts(EtcEEPROMGrid, texts);
  ShowEEPROMReadState();
}

void TKVTIRMainForm::ShowEEPROMReadState() {
  EtcEEPROMGrid->setToolTip(FEEPROMRead ? QStringLiteral("The detector's EEPROM as read; a cell may be edited before Save File")
                                        : QStringLiteral("Not read yet: Read or Read/Save Log fills the grid from the detector"));
  EtcEEPROMGrid->viewport()->update();
}

bool TKVTIRMainForm::EtcEEPROMGridDrawCell(QPainter* painter, const QStyleOptionViewItem& option, int ACol, int ARow) {
  QColor background = Qt::white;
  QColor text = Qt::black;
  if (ACol == 0) {
    background = palette().color(QPalette::Button);
  } else if (option.state & QStyle::State_Selected) {
    background = Qt::blue;
    text = Qt::white;
  }
  const QRect rect = option.rect;
  painter->save();
  painter->fillRect(rect, background);
  painter->setPen(background);
  painter->drawRect(rect.adjusted(0, 0, -1, -1));
  const QTableWidgetItem* item = EtcEEPROMGrid->item(ARow, ACol);
  QString label = item ? item->text() : QString();
  // Before any read the cells hold FF for Save File, but FF on screen would read as a blank
  // detector: an unread cell shows nothing.
  if (!FEEPROMRead && ACol > 0 && label == QLatin1String("FF")) label.clear();
  painter->setFont(option.font);
  painter->setPen(text);
  const QFontMetrics metrics(option.font);
  // Centred as whole pixels, the halves rounded toward zero.
  const int left = (2 * rect.x() + rect.width() - metrics.horizontalAdvance(label)) / 2;
  const int top = (2 * rect.y() + rect.height() - metrics.height()) / 2;
  painter->drawText(QPoint(left, top + metrics.ascent()), label);
  painter->restore();
  return true;
}
