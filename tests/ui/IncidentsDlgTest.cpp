// The Incidents window over a store of event entries and checks: a failed bump test in History
// links to the events it puts in doubt, which the window lists with the detector's state then
// and prints as the incident report.
#include "app/records/EventRecords.h"
#include "app/core/Settings.h"
#include "model/SensorTypes.h"
#include "tests/ui/UiSupport.h"
#include "ui/HistoryDlg.h"
#include "ui/IncidentsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <ctime>

namespace {

class IncidentsDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void AFailedBumpLinksToTheEventsItPutsInDoubt() {
    AppDir = FDir.path();
    SetBuiltInSensorTypes();
    const std::time_t now = std::time(nullptr), day = 86400;
    std::vector<RServiceRecord> records;
    for (const auto& [ago, result] : {std::pair{30, "PASS"}, std::pair{6, "FAIL"}}) {
      RServiceRecord r;
      r.mTime = UtcIsoText(now - ago * day);
      r.mSerial = "KV7", r.mKind = "bump", r.mOperation = "Bump Test", r.mResult = result;
      records.push_back(r);
    }
    REventDownload d;
    d.mSerial = "KV7", d.mSensorType = SensorTypes[0].mIndex, d.mUserId = "TANK-2", d.mLife = 5000000;
    d.mTime = now, d.mOrigin = NewRecordOrigin();
    // 40 days ago (before the pass), 20 and 10 days ago (in doubt), 2 days ago (after the failure).
    std::vector<RKVTEvent> log;
    for (const int ago : {40, 20, 10, 2})
      log.push_back({d.mLife + static_cast<uint32_t>(ago * day), static_cast<uint16_t>(60 + ago), 0x0C,
                     static_cast<int16_t>(100 * ago)});
    for (RServiceRecord& r : EventEntryRecords(log, d)) records.push_back(r);
    QCOMPARE(CommitRecordsTo(FDir.path() + "BEAMDOCK.DB", records), TRecordFate::Stored);

    ScriptedOperator op;
    THistoryDlg history(op, "KV7");
    history.KindCombo->setCurrentText("bump");
    QCOMPARE(history.Grid->rowCount(), 2);
    history.Grid->setCurrentCell(1, 0);  // the pass: nothing in doubt
    QVERIFY(history.DoubtLink->isHidden());
    history.Grid->setCurrentCell(0, 0);
    QVERIFY(!history.DoubtLink->isHidden());
    QVERIFY(history.DoubtLink->text().contains("href=\"KV7\""));

    TIncidentsDlg dlg(op, "KV7", true);
    QCOMPARE(dlg.Grid->rowCount(), 2);
    QCOMPARE(dlg.Grid->item(0, 5)->text(), QString("100.0 ") + QString::fromStdString(SensorTypes[0].mUnit));
    QCOMPARE(dlg.Grid->item(1, 5)->text().left(5), QString("200.0"));
    QCOMPARE(dlg.Grid->item(0, 3)->text(), QString("TANK-2"));
    QVERIFY(dlg.NoteLabel->text().startsWith("verified: this computer, 6 records"));
    QVERIFY(dlg.NoteLabel->text().contains("to the failed bump of"));
    QCOMPARE(dlg.DetectorGrid->item(0, 1)->text(), QString("2"));
    if (qEnvironmentVariableIsSet("BEAMDOCK_SHOTS"))
      dlg.grab().save(qEnvironmentVariable("BEAMDOCK_SHOTS") + "/incidents.png");
    // The whole log, and the report as a file.
    dlg.SinceLastPassCheck->setChecked(false);
    dlg.ShowBtn->click();
    QCOMPARE(dlg.Grid->rowCount(), 4);
    op.saveFile(FDir.path() + "i.pdf");
    dlg.PdfBtn->click();
    QVERIFY(op.messages().empty());
    QCOMPARE(FDir.read("i.pdf").substr(0, 5), std::string("%PDF-"));
  }

 private:
  TempDir FDir;
};

}  // namespace

QTEST_MAIN(IncidentsDlgTest)
#include "IncidentsDlgTest.moc"
