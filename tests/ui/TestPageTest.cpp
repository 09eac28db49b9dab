// The TEST page and the Factory Options service buttons through the window, against the
// simulated detector: the grid read, edited and saved, its drawing, the guard during an
// output test's hold, and Turn Off.
#include "app/EepromDump.h"
#include "sim/KvtSim.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"

#include <QPushButton>
#include <QTableWidget>

#include <string>

namespace {

int Count(const KvtSim& sim, const char* what) {
  int n = 0;
  for (const KvtSim::Frame& f : sim.received()) n += f.what == what;
  return n;
}

class TestPageTest : public QObject {
  Q_OBJECT

  static void Click(TestWindow& w, const char* button) { QTest::mouseClick(w.Find<QPushButton>(button), Qt::LeftButton); }

 private slots:
  void gridReadEditedSavedAndDrawn() {
    SimPort port;
    TestWindow w(kFactoryIni);
    w.form->PageControl->setCurrentWidget(w.form->ETCTS);
    auto* grid = w.Find<QTableWidget>("EtcEEPROMGrid");
    Click(w, "EtcEEPROMReadBtn");
    QCOMPARE(QString::fromStdString(w.op.lastStatus().text), QStringLiteral("Read EEPROM data... OK"));
    const std::vector<uint8_t> image = port.sim().eepromImage();
    for (int a : {0, 16, 31, 993, 1023})
      QCOMPARE(grid->item(a / 16, a % 16 + 1)->text(), QString::fromStdString(EEPROMByteText(image[a])));

    grid->item(2, 3)->setText(QStringLiteral("5A"));  // as the cell editor leaves it
    w.op.saveFile(w.dir.path() + "EEPROM/grid.csv");
    Click(w, "EtcEEPROMSaveBtn");
    const std::string file = w.dir.read("EEPROM/grid.csv");
    QVERIFY(file.find("0x0020," + EEPROMByteText(image[32]) + "," + EEPROMByteText(image[33]) + ",5A,") !=
            std::string::npos);

    // Fixed column in the button colour, a selected byte blue, the others white.
    grid->scrollToTop();
    grid->setCurrentCell(0, 2);
    const QImage shot = grid->viewport()->grab().toImage();
    const auto at = [&](int row, int col) {
      const QRect r = grid->visualItemRect(grid->item(row, col));
      return shot.pixelColor(r.left() + 2, r.top() + 2);
    };
    QCOMPARE(at(0, 0), w.form->palette().color(QPalette::Button));
    QCOMPARE(at(0, 2), QColor(Qt::blue));
    QCOMPARE(at(1, 2), QColor(Qt::white));
  }

  void outputHoldIgnoresOtherButtonsAndTurnOffSwitchesTheDetectorOff() {
    SimPort port;
    TestWindow w(std::string(kFactoryIni) + "AVOperate=100\r\n");
    w.op.onPump = [&] { Click(w, "EtcClearPeakBtn"); };
    Click(w, "EtcVibratorBtn");
    w.op.onPump = nullptr;
    QCOMPARE(port.sim().lastOutput(), uint8_t{0x34});
    QCOMPARE(Count(port.sim(), "44"), 0);
    QVERIFY(w.op.statuses().empty());

    w.form->FHibernateBtn = true;
    Click(w, "FatoryOptTurnOffBtn");
    QCOMPARE(QString::fromStdString(w.op.lastStatus().text), QStringLiteral("Power Down... OK"));
    QVERIFY(!w.form->FHibernateBtn);
    QVERIFY(port.sim().state() == KvtSim::State::Off);
  }
};

}  // namespace

QTEST_MAIN(TestPageTest)
#include "TestPageTest.moc"
