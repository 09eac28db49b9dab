// The window with a site server that cannot be reached: operations end as without one, and
// the records they leave wait in the status bar; History and Fleet say whose records they show.
#include "app/Settings.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/FleetDlg.h"
#include "ui/HistoryDlg.h"
#include "ui/Label3dB.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <ctime>

namespace {

const std::string kSiteIni = std::string(kFactoryIni) +
                             "[RECORDS]\r\nServer=host=/nonexistent port=1 dbname=x connect_timeout=1\r\n";

class SiteServerWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void RecordsWaitInTheStatusBarAndTheReadersSayWhoseTheyAre() {
    SimPort port;
    TestWindow w(kSiteIni);
    AppDir = w.dir.path();
    auto* site = w.Find<TLabel3DBorder>("SiteLabel");
    QVERIFY(site->isHidden());  // nothing waits yet

    int waiting = 0;
    for (const char* button : {"UserOptReadDeviceBtn", "EtcBumpPassBtn"}) {
      w.Find<QPushButton>(button)->click();
      // The handler has returned with its status shown; the push comes after it.
      const size_t shown = w.op.statuses().size();
      const QString ended = QString::fromStdString(w.op.lastStatus().text);
      QVERIFY2(ended.endsWith("... OK"), qPrintable(ended));
      QVERIFY(waiting == 0 ? site->isHidden() : site->text().startsWith(QString::number(waiting) + " "));
      ++waiting;
      QTRY_COMPARE(site->text(), QString("%1 records wait to be sent to the site server").arg(waiting));
      QVERIFY2(site->isVisible() && site->toolTip().contains("cannot be reached"), qPrintable(site->toolTip()));
      QCOMPARE(w.op.statuses().size(), shown);  // the push added no status of its own
    }
    if (qEnvironmentVariableIsSet("BEAMDOCK_SHOTS"))
      w.form->grab().save(qEnvironmentVariable("BEAMDOCK_SHOTS") + "/window-site.png");

    int rows = -1;
    QString note;
    QTimer::singleShot(0, [&] {
      auto* dlg = qobject_cast<THistoryDlg*>(QApplication::activeModalWidget());
      if (!dlg) return;
      rows = dlg->Grid->rowCount();
      note = dlg->NoteLabel->isVisible() ? dlg->NoteLabel->text() : QString();
      dlg->accept();
    });
    w.Find<QPushButton>("UserOptHistoryBtn")->click();
    QCOMPARE(rows, 2);
    QVERIFY2(note.contains("cannot be reached") && note.endsWith("the records of this computer only"), qPrintable(note));

    TFleetDlg fleet(w.op, std::time(nullptr));
    QCOMPARE(fleet.Grid->rowCount(), 1);
    QVERIFY(!fleet.NoteLabel->isHidden() && fleet.NoteLabel->text().endsWith("the records of this computer only"));
    QVERIFY(w.op.messages().empty());

    // The next start shows what still waits before any operation.
    w.Restart();
    QCOMPARE(w.Find<TLabel3DBorder>("SiteLabel")->text(), QString("2 records wait to be sent to the site server"));
  }
};

}  // namespace

QTEST_MAIN(SiteServerWindowTest)
#include "SiteServerWindowTest.moc"
