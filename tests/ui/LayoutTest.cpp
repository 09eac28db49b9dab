// Each view at the default window size, as an operator sees it: nothing cut off, nothing on
// top of anything else, every text readable in its box. With BEAMDOCK_SCREENSHOTS set to a
// folder the views are also saved there as PNG files for a person to look at.
#include "tests/ui/UiSupport.h"
#include "ui/Label3dB.h"
#include "ui/NumberBoxes.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>

#include <cstdlib>

namespace {

// The named controls inside a view that are shown.
QList<QWidget*> Controls(QWidget* view) {
  QList<QWidget*> out;
  for (QWidget* w : view->findChildren<QWidget*>()) {
    if (!w->isVisible() || w->objectName().isEmpty()) continue;
    if (w->objectName().startsWith(QLatin1String("qt_"))) continue;
    if (qobject_cast<QScrollArea*>(w) || qobject_cast<QTabWidget*>(w)) continue;
    // Parts of a composite control (the edit inside a spin box) belong to it.
    if (qobject_cast<QAbstractSpinBox*>(w->parentWidget()) || qobject_cast<QComboBox*>(w->parentWidget())) continue;
    out << w;
  }
  return out;
}

class LayoutTest : public QObject {
  Q_OBJECT

  static void Save(QWidget* window, const char* name) {
    const char* dir = std::getenv("BEAMDOCK_SCREENSHOTS");
    if (!dir || !*dir) return;
    QVERIFY(window->grab().save(QStringLiteral("%1/%2.png").arg(QString::fromLocal8Bit(dir), QLatin1String(name))));
  }

  // Everything in view fits at the window's width, and no two controls overlap.
  static void CheckView(QScrollArea* box, QWidget* view, const char* what) {
    QVERIFY2(!box->horizontalScrollBar()->isVisible(), what);
    QVERIFY2(!box->verticalScrollBar()->isVisible(), what);  // 750 pixels show it all
    const QList<QWidget*> controls = Controls(view);
    QVERIFY2(controls.size() > 10, what);
    const QRect visible(QPoint(), box->viewport()->size());
    for (QWidget* c : controls) {
      const QRect r(c->mapTo(box->viewport(), QPoint()), c->size());
      QVERIFY2(visible.contains(r), qPrintable(QStringLiteral("%1: %2 cut off").arg(what, c->objectName())));
      for (QWidget* d : controls) {
        if (c == d || c->isAncestorOf(d) || d->isAncestorOf(c)) continue;
        const QRect s(d->mapTo(box->viewport(), QPoint()), d->size());
        QVERIFY2(!r.intersects(s),
                 qPrintable(QStringLiteral("%1: %2 overlaps %3").arg(what, c->objectName(), d->objectName())));
      }
    }
    // Texts fit their boxes.
    for (TLabel3DBorder* l : view->findChildren<TLabel3DBorder*>()) {
      if (!l->isVisible() || l->text().isEmpty()) continue;
      const QSize need = l->MeasureCaption();
      QVERIFY2(need.width() <= l->TextRect().width() && need.height() <= l->TextRect().height() + 2,
               qPrintable(QStringLiteral("%1: \"%2\" does not fit").arg(what, l->text())));
    }
    for (QAbstractButton* b : view->findChildren<QAbstractButton*>()) {
      if (!b->isVisible() || b->text().isEmpty()) continue;
      QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) + 8 <= b->width(),
               qPrintable(QStringLiteral("%1: button \"%2\" too narrow").arg(what, b->text())));
    }
    // A number box shows its smallest and its largest value whole, without group separators.
    for (QAbstractSpinBox* b : view->findChildren<QAbstractSpinBox*>()) {
      if (!b->isVisible()) continue;
      auto* edit = b->findChild<QLineEdit*>();
      for (bool top : {false, true}) {
        // The field's range where the box keeps one beside its own, wider one.
        const auto* field = dynamic_cast<const TFieldRange*>(b);
        if (auto* i = qobject_cast<QSpinBox*>(b))
          i->setValue(field ? int(top ? field->FieldMax() : field->FieldMin()) : top ? i->maximum() : i->minimum());
        if (auto* d = qobject_cast<QDoubleSpinBox*>(b))
          d->setValue(field ? (top ? field->FieldMax() : field->FieldMin()) : top ? d->maximum() : d->minimum());
        const QString shown = b->text();
        QVERIFY2(!shown.contains(b->locale().groupSeparator()) &&
                     edit->fontMetrics().horizontalAdvance(shown) + 4 <= edit->contentsRect().width(),
                 qPrintable(QStringLiteral("%1: %2 not shown whole").arg(b->objectName(), shown)));
      }
    }
    for (QComboBox* c : view->findChildren<QComboBox*>()) {
      if (!c->isVisible()) continue;
      for (int i = 0; i < c->count(); ++i)
        QVERIFY2(c->fontMetrics().horizontalAdvance(c->itemText(i)) + 24 <= c->width(),
                 qPrintable(QStringLiteral("%1: item \"%2\" too wide").arg(what, c->itemText(i))));
    }
  }

 private slots:
  void userView() {
    TestWindow w;
    auto* box = w.Find<QScrollArea>("UserScrollBox");
    CheckView(box, box->widget(), "user view");
    Save(w.form.get(), "user-view");
  }

  // Also as --simulate starts it: the strip across the top does not cost the view its fit.
  void factoryPages() {
    for (const bool simulated : {false, true}) {
      TestWindow w(kFactoryIni, false);
      if (simulated) w.form->MarkSimulated("/dev/pts/3");
      w.form->show();
      QCoreApplication::processEvents();
      auto* box = w.Find<QScrollArea>("DevScrollBox");
      auto* pages = w.Find<QTabWidget>("PageControl");
      const char* names[] = {"factory-user-options", "factory-factory-options", "factory-test"};
      for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        QCoreApplication::processEvents();
        CheckView(box, pages->widget(i), names[i]);
        if (!simulated) Save(w.form.get(), names[i]);
      }
    }
  }

  // The trace takes its width from the window, not from the view; sensor names come from the file.
  void viewsWithTheTraceAndALongSensorName() {
    for (const std::string ini : {"", kFactoryIni}) {
      TestWindow w(ini + "[ETC]\r\nLogEnable=1\r\n[SENSOR]\r\nCarbon Monoxide=2,ppm,C,120,0,500\r\n");
      auto* box = w.Find<QScrollArea>(ini.empty() ? "UserScrollBox" : "DevScrollBox");
      auto* pages = w.Find<QTabWidget>("PageControl");
      for (int i = 0; i < (ini.empty() ? 1 : pages->count()); ++i) {
        pages->setCurrentIndex(i);
        QCoreApplication::processEvents();
        CheckView(box, ini.empty() ? box->widget() : pages->widget(i), "with the trace");
        Save(w.form.get(), ini.empty() ? "user-view-trace" : "factory-page-trace");
      }
    }
  }

  void simulatedUserView() {
    TestWindow w;
    w.form->MarkSimulated("/dev/pts/3");
    QCoreApplication::processEvents();
    auto* box = w.Find<QScrollArea>("UserScrollBox");
    CheckView(box, box->widget(), "simulated user view");
    Save(w.form.get(), "user-view-simulated");
  }

  void contactPanelAndStatusBar() {
    TestWindow w;
    w.form->showStatus(StatusColour::Failure, "Write KVT Information... BEAMDOCK isnot found(A)");
    w.form->MarkSimulated("/dev/pts/3");
    for (const char* name : {"CustomerLabel", "CustomerUrlLabel", "StatusLabel", "StatusTimeLabel", "SimulatedLabel"}) {
      auto* l = w.Find<TLabel3DBorder>(name);
      QVERIFY2(l->MeasureCaption().width() <= l->TextRect().width(), name);
      QVERIFY2(l->MeasureCaption().height() <= l->TextRect().height() + 2, name);
      QVERIFY2(w.form->rect().contains(QRect(l->mapTo(w.form.get(), QPoint()), l->size())), name);
    }
    Save(w.form.get(), "status-failure-simulated");
  }
};

}  // namespace

QTEST_MAIN(LayoutTest)
#include "LayoutTest.moc"
