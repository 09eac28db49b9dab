// The History window over a database of records: newest first, the kind filter, the CSV and
// the certificate through the save dialog; with a site server that cannot be reached, the
// window's records wait in its status bar and History and Fleet say whose records they show.
#include "app/records/ServiceRecords.h"
#include "model/DeviceUtils.h"
#include "model/EventLog.h"
#include <QPlainTextEdit>
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/FleetDlg.h"
#include "ui/HistoryDlg.h"
#include "ui/Label3dB.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <functional>

#include <ctime>

namespace {

class HistoryDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsFiltersAndSavesTheRecordsOfOneDetector() {
    AppDir = FDir.path();
    const struct {
      const char* serial;
      const char* operation;
      const char* result;
      const char* span;
    } rows[] = {{"KV1", "Read KVT Information", "PASS", ""},
                {"KV2", "Send Bump Pass", "PASS", ""},
                {"KV1", "Sensor Calibration", "PASS", "OK"},
                {"KV1", "Send Bump Fail", "No response", ""}};
    for (const auto& row : rows) {
      RServiceRecord r;
      r.mTime = "2026-03-07T14:03:27Z";
      r.mSerial = row.serial;
      r.mOperation = row.operation;
      r.mResult = row.result;
      r.mSpan = row.span;
      r.mZero = *row.span ? "OK" : "";
      r.mSpanGas = "50.0 ppm";
      r.mLot = "CYL-1", r.mExpiry = "2030-01-31";
      QCOMPARE(CommitRecordTo(FDir.path() + "BEAMDOCK.DB", r), TRecordFate::Stored);
    }
    ScriptedOperator op;
    THistoryDlg dlg(op, "KV1");
    QCOMPARE(dlg.Grid->rowCount(), 3);
    QCOMPARE(dlg.Grid->item(0, 3)->text(), QString("Send Bump Fail"));  // newest first
    QCOMPARE(dlg.Grid->item(0, 4)->foreground().color(), QColor(Qt::red));
    dlg.KindCombo->setCurrentText("calibration");
    QCOMPARE(dlg.Grid->rowCount(), 1);
    dlg.Grid->setCurrentCell(0, 0);
    QVERIFY(dlg.DetailText->toPlainText().contains("Span gas: 50.0 ppm"));
    if (qEnvironmentVariableIsSet("BEAMDOCK_SHOTS"))
      dlg.grab().save(qEnvironmentVariable("BEAMDOCK_SHOTS") + "/history.png");

    op.saveFile(FDir.path() + "h.csv").saveFile(FDir.path() + "c.pdf");
    dlg.CsvBtn->click();
    QVERIFY(dlg.CertificateBtn->isEnabled());
    dlg.CertificateBtn->click();
    QVERIFY(op.messages().empty());
    const std::string csv = FDir.read("h.csv");
    QCOMPARE(csv.substr(0, 35), std::string("\"verified: this computer, 4 records"));
    QCOMPARE(csv.substr(csv.find("\r\n", csv.find("\r\n") + 2) + 2, 4), std::string("2026"));
    QCOMPARE(FDir.read("h.csv").find("Bump"), std::string::npos);  // the filtered rows only
    QCOMPARE(FDir.read("c.pdf").substr(0, 5), std::string("%PDF-"));

    // Another detector with no calibration: nothing to certify.
    dlg.SerialEdit->setText("KV2");
    dlg.ShowBtn->click();
    dlg.KindCombo->setCurrentIndex(0);
    QCOMPARE(dlg.Grid->rowCount(), 1);
    dlg.CertificateBtn->click();
    QCOMPARE(op.messages().size(), size_t{1});
    QVERIFY(QString::fromStdString(op.messages()[0].text).contains("no zero and span calibration"));
  }

  // The window: a read and a bump test of the simulated detector, then its History.
  void TheWindowsHistoryShowsWhatItsButtonsDid() {
    SimPort port;
    TestWindow w(kFactoryIni);
    AppDir = w.dir.path();
    w.Find<QPushButton>("UserOptReadDeviceBtn")->click();
    w.Find<QPushButton>("EtcBumpPassBtn")->click();
    int rows = -1;
    QString serial;
    QTimer::singleShot(0, [&] {
      auto* dlg = qobject_cast<THistoryDlg*>(QApplication::activeModalWidget());
      if (!dlg) return;
      rows = dlg->Grid->rowCount();
      serial = dlg->SerialEdit->text();
      if (qEnvironmentVariableIsSet("BEAMDOCK_SHOTS"))
        dlg->grab().save(qEnvironmentVariable("BEAMDOCK_SHOTS") + "/window-history.png");
      dlg->accept();
    });
    if (qEnvironmentVariableIsSet("BEAMDOCK_SHOTS"))
      w.form->grab().save(qEnvironmentVariable("BEAMDOCK_SHOTS") + "/window.png");
    w.Find<QPushButton>("UserOptHistoryBtn")->click();
    QCOMPARE(rows, 2);
    QCOMPARE(serial, QString::fromStdString(FieldText(port.sim().config().mUnit.mSerial, 10)));
    QVERIFY(w.op.messages().empty());
  }

  void WithAnUnreachableSiteServerRecordsWaitAndTheReadersSaySo() {
    SimPort port;
    TestWindow w(std::string(kFactoryIni) + "[RECORDS]\r\nServer=host=/nonexistent port=1 dbname=x connect_timeout=1\r\n");
    AppDir = w.dir.path();
    auto* site = w.Find<TLabel3DBorder>("SiteLabel");
    QVERIFY(site->isHidden());  // nothing waits yet
    int waiting = 0;
    for (const char* button : {"UserOptReadDeviceBtn", "EtcBumpPassBtn"}) {
      w.Find<QPushButton>(button)->click();
      // The handler has returned with its status shown, and the count is still the last one:
      // the push comes after it, and adds no status of its own.
      const size_t shown = w.op.statuses().size();
      QVERIFY2(QString::fromStdString(w.op.lastStatus().text).endsWith("... OK"), w.op.lastStatus().text.c_str());
      QVERIFY(waiting == 0 ? site->isHidden() : site->text().startsWith(QString::number(waiting) + " "));
      ++waiting;
      QTRY_COMPARE(site->text(), QString("%1 records wait to be sent to the site server").arg(waiting));
      QVERIFY2(site->isVisible() && site->toolTip().contains("cannot be reached"), qPrintable(site->toolTip()));
      QCOMPARE(w.op.statuses().size(), shown);
    }
    if (qEnvironmentVariableIsSet("BEAMDOCK_SHOTS"))
      w.form->grab().save(qEnvironmentVariable("BEAMDOCK_SHOTS") + "/window-site.png");

    int rows = -1;
    QString note;
    // The site is read in the background: the dialog is sampled once that read has come back.
    std::function<void()> sample = [&] {
      auto* dlg = qobject_cast<THistoryDlg*>(QApplication::activeModalWidget());
      if (!dlg || dlg->Reading()) return QTimer::singleShot(10, sample);
      rows = dlg->Grid->rowCount();
      note = dlg->NoteLabel->isVisible() ? dlg->NoteLabel->text() : QString();
      dlg->accept();
    };
    QTimer::singleShot(0, sample);
    w.Find<QPushButton>("UserOptHistoryBtn")->click();
    QCOMPARE(rows, 2);
    QVERIFY2(note.contains("cannot be reached") && note.endsWith("the records of this computer only"), qPrintable(note));
    TFleetDlg fleet(w.op, std::time(nullptr));
    QVERIFY(fleet.Reading() && fleet.NoteLabel->text() == "Reading the site server...");
    QTRY_VERIFY(!fleet.Reading());
    QCOMPARE(fleet.Grid->rowCount(), 1);
    QVERIFY(!fleet.NoteLabel->isHidden() && fleet.NoteLabel->text().endsWith("the records of this computer only"));
    QVERIFY(w.op.messages().empty());

    w.Restart();  // the next start shows what still waits before any operation
    QCOMPARE(w.Find<TLabel3DBorder>("SiteLabel")->text(), QString("2 records wait to be sent to the site server"));

    // Neither read answers: said above the table, not overwritten by the count below it. (The
    // program has settled first: its log no longer holds what the file lacks.)
    SettleRecords();
    w.dir.write("BEAMDOCK.DB", std::string(4096, 'x'));
    fleet.Reload();
    QTRY_VERIFY(!fleet.Reading());
    QVERIFY2(fleet.NoteLabel->text().startsWith("The records could not be read"), qPrintable(fleet.NoteLabel->text()));
  }

 private:
  TempDir FDir;
};

}  // namespace

QTEST_MAIN(HistoryDlgTest)
#include "HistoryDlgTest.moc"
