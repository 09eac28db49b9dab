// What the window does so that a technician can trust it, driven as one would: a typed number
// is never changed into another, every end replaces the status line, a running operation
// cannot be cut off by a close or a second click, a long event log is saved whole, and the
// smallest window shows every control.
#include "app/records/ServiceRecords.h"
#include "model/SensorTypes.h"
#include "sim/KvtSim.h"
#include "tests/support/SimPort.h"
#include "tests/ui/UiSupport.h"
#include "ui/Label3dB.h"
#include "ui/NumberBoxes.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

int Frames(const KvtSim& sim, const char* what) {
  int n = 0;
  for (const KvtSim::Frame& f : sim.received()) n += f.what == what;
  return n;
}

QString Status(TestWindow& w) { return QString::fromStdString(w.op.lastStatus().text); }

void TypeInto(TestWindow& w, const char* box, const QString& text) {
  auto* spin = w.Find<QAbstractSpinBox>(box);
  spin->setFocus();
  spin->selectAll();
  QTest::keyClicks(spin, text);
}

class MainsTrustTest : public QObject {
  Q_OBJECT

 private slots:
  // Typed beyond the field's range: kept as typed, marked, and both writes refuse by name,
  // replacing an earlier OK on the status line; nothing reaches the detector or the disk.
  void anOutOfRangeValueIsRefusedByName() {
    const struct {
      bool factory;
      const char* box;
      const char* typed;
      double value;
      const char* named;  // what the refusal says
    } cases[] = {
        {false, "UserHighAlarmSpin", "999", 999.0, "High Alarm 999.0 is outside its range, 0.0 to 100.0 ppm."},
        {true, "FatoryOptSpanGasSpin", "150", 150.0, "Span Gas 150.0 is outside its range, 0.0 to 100.0 ppm."},
        {true, "UserOptMonthLifeSpin", "30", 30.0, "Life Remaining (months) 30 is outside its range, 0 to 24 months."},
    };
    for (const auto& c : cases) {
      SimPort port;
      TestWindow w(c.factory ? kFactoryIni : "");
      QTest::mouseClick(w.Find<QPushButton>(c.factory ? "UserOptReadDeviceBtn" : "UserReadDeviceBtn"), Qt::LeftButton);
      QCOMPARE(Status(w), QStringLiteral("Read KVT Information... OK"));
      if (c.factory) w.Find<QTabWidget>("PageControl")->setCurrentIndex(QString(c.box).startsWith("Fatory") ? 1 : 0);
      TypeInto(w, c.box, QString::fromLatin1(c.typed));
      auto* box = w.Find<QAbstractSpinBox>(c.box);
      QCOMPARE(box->text().toDouble(), c.value);
      QVERIFY(dynamic_cast<TFieldRange*>(box)->OutOfRange());
      QVERIFY2(box->toolTip().contains(QStringLiteral("is outside this range")), qPrintable(box->toolTip()));
      port.sim().clearFrames();
      for (const char* write : {"WriteDeviceBtn", "WriteFileBtn"}) {
        w.op.clear();
        w.op.saveFile(w.dir.path() + "unit.cfg");
        QTest::mouseClick(w.Find<QPushButton>(qPrintable(QString(c.factory ? "UserOpt" : "User") + write)), Qt::LeftButton);
        QCOMPARE(w.op.messages().size(), size_t{1});
        QCOMPARE(QString::fromStdString(w.op.messages()[0].caption), QStringLiteral("Configuration not written"));
        QVERIFY2(w.op.messages()[0].text.rfind(c.named, 0) == 0, w.op.messages()[0].text.c_str());
        QCOMPARE(int(w.op.lastStatus().colour), int(StatusColour::Failure));
        QCOMPARE(Status(w), QString(write) == "WriteDeviceBtn" ? QStringLiteral("Write KVT Information... REFUSED")
                                                              : QStringLiteral("Write File... REFUSED"));
        QCOMPARE(w.op.unusedAnswers(), size_t{1});  // the save dialog never opened
      }
      if (const char* dir = std::getenv("BEAMDOCK_SCREENSHOTS")) {  // for a person to look at
        w.form->grab().save(QStringLiteral("%1/refused-%2.png").arg(dir, c.box));
        QMessageBox box(QMessageBox::Critical, QString::fromStdString(w.op.messages()[0].caption),
                        QString::fromStdString(w.op.messages()[0].text).replace('\r', '\n'));
        box.show();
        box.grab().save(QStringLiteral("%1/refused-box-%2.png").arg(dir, c.box));
      }
      QCOMPARE(box->text().toDouble(), c.value);  // still what was typed
      QCOMPARE(Frames(port.sim(), "header") + Frames(port.sim(), "time"), 0);
      QVERIFY(!QFile::exists(QString::fromStdString(w.dir.path() + "unit.cfg")));
    }
  }

  // Every stop of Write Device and Hibernate ends with a status of its own, never with what
  // an earlier operation left.
  void everyStopReplacesTheStatusLine() {
    TestWindow w;
    {
      SimPort port;  // mAllowSuspend 0xFF: Hibernate is not supported
      QTest::mouseClick(w.Find<QPushButton>("UserWriteDeviceBtn"), Qt::LeftButton);  // nothing read yet
      QCOMPARE(Status(w), QStringLiteral("Write KVT Information... REFUSED"));
      QTest::mouseClick(w.Find<QPushButton>("UserReadDeviceBtn"), Qt::LeftButton);
      QTest::mouseClick(w.Find<QPushButton>("UserWriteDeviceBtn"), Qt::LeftButton);
      QCOMPARE(Status(w), QStringLiteral("Write KVT Information... OK"));
      w.Find<QComboBox>("UserSensorTypeCombo")->setCurrentIndex(-1);
      QTest::mouseClick(w.Find<QPushButton>("UserWriteDeviceBtn"), Qt::LeftButton);
      QCOMPARE(Status(w), QStringLiteral("Write KVT Information... REFUSED"));
      QTest::mouseClick(w.Find<QPushButton>("UserHibernateBtn"), Qt::LeftButton);
      QCOMPARE(Status(w), QStringLiteral("Hibernate... NOT SUPPORTED"));
    }
    // Unwritten edits: Hibernate asks before its read replaces them; No keeps them.
    KvtSim::Options o;
    o.config.mUnit.mAllowSuspend = 0x80;
    SimPort port(o);
    QTest::mouseClick(w.Find<QPushButton>("UserReadDeviceBtn"), Qt::LeftButton);
    TypeInto(w, "UserHighAlarmSpin", QStringLiteral("33"));
    w.op.answer(false);
    QTest::mouseClick(w.Find<QPushButton>("UserHibernateBtn"), Qt::LeftButton);
    QCOMPARE(QString::fromStdString(w.op.questions().back().text),
             QStringLiteral("Hibernate reads the detector first: the values shown are replaced by the detector's.\r"
                            "Changes that were not written to the detector or to a file are lost.\rContinue?"));
    QCOMPARE(Status(w), QStringLiteral("Hibernate... CANCELLED"));
    QCOMPARE(w.Find<QDoubleSpinBox>("UserHighAlarmSpin")->value(), 33.0);
    QCOMPARE(Frames(port.sim(), "17"), 0);
  }

  // During a run (a handshake made long) the views are disabled with the busy cursor, the
  // status line counts the connect time down, and a close is refused; afterwards all is back.
  void aRunningOperationIsBusyAndCannotBeClosed() {
    SimPort port;
    TestWindow w;
    port.sim().modifyOptions([](KvtSim::Options& o) { o.ignoreConnects = 150; });
    auto* read = w.Find<QPushButton>("UserReadDeviceBtn");
    auto* logSave = w.Find<QPushButton>("UserLogSaveBtn");
    auto* status = w.Find<TLabel3DBorder>("StatusLabel");
    w.form->SetOperator(nullptr);  // the window's own status line
    bool seenBusy = false, closeRefused = false, connecting = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] {
      if (!w.form->Op().Gate().Busy()) return;
      seenBusy = seenBusy || (!read->isEnabled() && !logSave->isEnabled() && w.form->cursor().shape() == Qt::BusyCursor);
      connecting = connecting || status->text().contains(QStringLiteral("trying to connect"));
      closeRefused = closeRefused || !w.form->close();
    });
    probe.start(5);
    read->click();
    probe.stop();
    w.form->SetOperator(&w.op);
    QVERIFY(seenBusy);
    QVERIFY(connecting);
    QVERIFY(closeRefused);
    QVERIFY(w.form->isVisible());
    QCOMPARE(status->text(), QStringLiteral("Read KVT Information... OK"));
    QVERIFY(read->isEnabled() && logSave->isEnabled());
    QCOMPARE(w.form->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(w.form->close());
  }

  // kvt-sim's long log: 1,500 entries, far beyond one 1024-byte buffer, all in the file and
  // counted in the record.
  void aLogOf1500EntriesIsSavedWhole() {
    KvtSim::Options o;
    std::string error;
    QVERIFY(KvtSim::parseArgs({"--events", "1500"}, o, error));
    SimPort port(o);
    TestWindow w;
    const std::string file = w.dir.path() + "long.csv";
    w.op.saveFile(file);
    QTest::mouseClick(w.Find<QPushButton>("UserLogSaveBtn"), Qt::LeftButton);
    QVERIFY(w.op.messages().empty());
    QCOMPARE(Status(w), QStringLiteral("Load Event Log... OK, 1500 events saved: long.csv"));
    std::ifstream in(file);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    QCOMPARE(lines, 11 + 1500);
    const RServiceRecord r = TRecordStore(RecordsDatabasePath(), TRecordStore::TMode::Read).History("").at(0);
    QCOMPARE(QString::fromStdString(r.Detail("events")), QStringLiteral("1500"));
  }

  // At 500 x 580 every control of every view and page can be seen without scrolling.
  void theSmallestWindowShowsEveryControl() {
    for (const std::string& ini : {std::string(), std::string(kFactoryIni)}) {
      TestWindow w(ini);
      w.form->resize(TKVTIRMainForm::kMinWidth, TKVTIRMainForm::kMinHeight);
      QCoreApplication::processEvents();
      auto* box = w.Find<QScrollArea>(ini.empty() ? "UserScrollBox" : "DevScrollBox");
      auto* pages = w.Find<QTabWidget>("PageControl");
      for (int i = 0; i < (ini.empty() ? 1 : pages->count()); ++i) {
        pages->setCurrentIndex(i);
        QCoreApplication::processEvents();
        QWidget* view = ini.empty() ? box->widget() : pages->widget(i);
        if (const char* dir = std::getenv("BEAMDOCK_SCREENSHOTS"))
          w.form->grab().save(QStringLiteral("%1/smallest-%2-%3.png").arg(dir).arg(ini.empty() ? "user" : "factory").arg(i));
        const QRect seen(QPoint(), box->viewport()->size());
        int checked = 0;
        for (QWidget* c : view->findChildren<QWidget*>()) {
          if (!c->isVisible() || c->objectName().isEmpty() || c->objectName().startsWith(QLatin1String("qt_"))) continue;
          if (!qobject_cast<QAbstractButton*>(c) && !qobject_cast<QAbstractSpinBox*>(c) && !qobject_cast<QLineEdit*>(c) &&
              !qobject_cast<QComboBox*>(c))
            continue;
          if (qobject_cast<QAbstractSpinBox*>(c->parentWidget()) || qobject_cast<QComboBox*>(c->parentWidget())) continue;
          ++checked;
          const QRect r(c->mapTo(box->viewport(), QPoint()), c->size());
          QVERIFY2(seen.contains(r), qPrintable(QStringLiteral("page %1: %2 out of sight").arg(i).arg(c->objectName())));
        }
        QVERIFY(checked > 5);
      }
    }
  }
};

}  // namespace

QTEST_MAIN(MainsTrustTest)
#include "MainsTrustTest.moc"
