// The TEST page and the Factory Options service buttons through the window, against the
// simulated detector: the grid read, edited, saved and drawn, the guard during an output
// test's hold, and Turn Off.
#include "app/device/EepromDump.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"

#include <QPushButton>
#include <QTableWidget>

namespace {

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
    QCOMPARE(w.op.lastStatus().text, std::string("Read EEPROM data... OK"));
    const std::vector<uint8_t> image = port.sim().eepromImage();
    for (int a : {0, 16, 993, 1023})
      QCOMPARE(grid->item(a / 16, a % 16 + 1)->text().toStdString(), EEPROMByteText(image[a]));

    grid->item(2, 3)->setText(QStringLiteral("5A"));  // as the cell editor leaves it
    w.op.saveFile(w.dir.path() + "grid.csv");
    Click(w, "EtcEEPROMSaveBtn");
    const std::string row2 = "0x0020," + EEPROMByteText(image[32]) + "," + EEPROMByteText(image[33]) + ",5A,";
    QVERIFY(w.dir.read("grid.csv").find(row2) != std::string::npos);

    // The fixed column in the button colour, a selected byte blue, the others white.
    grid->scrollToTop();
    grid->setCurrentCell(0, 2);
    const QImage shot = grid->viewport()->grab().toImage();
    const auto at = [&](int row, int col) { return shot.pixelColor(grid->visualItemRect(grid->item(row, col)).topLeft() + QPoint(2, 2)); };
    QCOMPARE(at(0, 0), w.form->palette().color(QPalette::Button));
    QCOMPARE(at(0, 2), QColor(Qt::blue));
    QCOMPARE(at(1, 2), QColor(Qt::white));
  }

  // Both clear something for good: No sends nothing at all, Yes the command.
  void factoryResetAndLogResetAskFirst() {
    const struct {
      const char* button;
      const char* command;
      const char* caption;
      const char* lost;  // the question says what goes
    } cases[] = {{"EtcFactoryResetBtn", "12", "Factory Reset", "alarm levels"},
                 {"FatoryOptLogResetBtn", "13", "Log Reset", "event log"}};
    SimPort port;
    TestWindow w(kFactoryIni);
    for (const auto& c : cases) {
      port.sim().clearFrames();
      w.op.clear();
      w.op.answer(false);
      Click(w, c.button);
      QVERIFY2(port.sim().received().empty(), c.button);
      QCOMPARE(w.op.questions().size(), size_t{1});
      QCOMPARE(w.op.questions()[0].caption, std::string(c.caption));
      QVERIFY2(w.op.questions()[0].text.find(c.lost) != std::string::npos, c.button);
      w.op.answer(true);
      Click(w, c.button);
      bool sent = false;
      for (const KvtSim::Frame& f : port.sim().received()) sent = sent || f.what == c.command;
      QVERIFY2(sent, c.button);
    }
  }

  void outputHoldIgnoresOtherButtonsAndTurnOffSwitchesTheDetectorOff() {
    SimPort port;
    TestWindow w(std::string(kFactoryIni) + "AVOperate=100\r\n");
    w.op.onPump = [&] { Click(w, "EtcClearPeakBtn"); };
    Click(w, "EtcVibratorBtn");
    w.op.onPump = nullptr;
    QCOMPARE(port.sim().lastOutput(), uint8_t{0x34});
    for (const KvtSim::Frame& f : port.sim().received()) QVERIFY(f.what != "44");
    QCOMPARE(QString::fromStdString(w.op.lastStatus().text), QStringLiteral("Vibrator... OK"));

    w.form->FHibernateBtn = true;
    Click(w, "FatoryOptTurnOffBtn");
    QVERIFY(!w.form->FHibernateBtn && port.sim().state() == KvtSim::State::Off);
  }
};

}  // namespace

QTEST_MAIN(TestPageTest)
#include "TestPageTest.moc"
