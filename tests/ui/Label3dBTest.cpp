// The bordered label: what it paints, pixel by pixel where it matters.
#include "ui/Label3dB.h"

#include <QApplication>
#include <QImage>
#include <QtTest>

namespace {

const QColor kBack(200, 220, 240);

struct Colours {
  QRgb shadow, highlight, face, black, back;
};

class Label3dBTest : public QObject {
  Q_OBJECT

  static QImage Render(TLabel3DBorder& l) { return l.grab().toImage().convertToFormat(QImage::Format_RGB32); }

  static TLabel3DBorder* Make(const QString& caption, TLabel3DBorder::TBorderStyle style, int w = 120, int h = 40) {
    auto* l = new TLabel3DBorder(caption);
    l->SetBorderStyle(style);
    l->SetColor(kBack);
    l->SetFontColor(Qt::black);
    l->resize(w, h);
    return l;
  }

  static Colours ColoursOf(const TLabel3DBorder& l) {
    const QPalette& p = l.palette();
    return {p.color(QPalette::Active, QPalette::Dark).rgb(), p.color(QPalette::Active, QPalette::Light).rgb(),
            p.color(QPalette::Active, QPalette::Button).rgb(), QColor(Qt::black).rgb(), kBack.rgb()};
  }

  // Is there text ink (a pixel that is neither background nor border) in the rectangle?
  static bool HasInk(const QImage& img, const QRect& r, QRgb back) {
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (img.pixel(x, y) != back) return true;
    return false;
  }

  static QRect InkBounds(const QImage& img, QRgb back) {
    QRect b;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (img.pixel(x, y) != back) b |= QRect(x, y, 1, 1);
    return b;
  }

  // The frame drawn one pixel in from the edge (ring 0 = outermost): top and left in a,
  // bottom and right in b, top-right and bottom-left corners in b.
  static void CheckRing(const QImage& img, int ring, QRgb a, QRgb b, const char* what) {
    const int l = ring, t = ring, r = img.width() - 1 - ring, bo = img.height() - 1 - ring;
    for (int x = l; x < r; ++x) QVERIFY2(img.pixel(x, t) == a, what);
    for (int y = t; y < bo; ++y) QVERIFY2(img.pixel(l, y) == a, what);
    for (int y = t; y <= bo; ++y) QVERIFY2(img.pixel(r, y) == b, what);
    for (int x = l; x <= r; ++x) QVERIFY2(img.pixel(x, bo) == b, what);
  }

 private slots:
  void newLabelHasItsDefaults() {
    TLabel3DBorder l;
    QCOMPARE(l.size(), QSize(84, 21));
    QCOMPARE(l.sizeHint(), QSize(84, 21));
    QCOMPARE(l.BorderStyle(), TLabel3DBorder::bsNone);
    QCOMPARE(l.VerticalAlign(), TLabel3DBorder::vaTop);
    QCOMPARE(l.focusPolicy(), Qt::NoFocus);
    QVERIFY(l.ShowAccelChar());
    QVERIFY(!l.Transparent());
    // A long caption does not make it grow.
    l.setText(QStringLiteral("a caption far longer than eighty-four pixels"));
    QCOMPARE(l.size(), QSize(84, 21));
    QCOMPARE(l.sizeHint(), QSize(84, 21));
  }

  void plainBoxKeepsTextThreePixelsInside() {
    std::unique_ptr<TLabel3DBorder> l(Make(QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWWW"), TLabel3DBorder::bsNone));
    l->setWordWrap(false);
    const QImage img = Render(*l);
    const QRgb back = kBack.rgb();
    // The whole box is the label's colour except the text, which stays inside the inset.
    QVERIFY(!HasInk(img, QRect(0, 0, img.width(), 3), back));
    QVERIFY(!HasInk(img, QRect(0, 0, 3, img.height()), back));
    QVERIFY(!HasInk(img, QRect(img.width() - 3, 0, 3, img.height()), back));
    QVERIFY(!HasInk(img, QRect(0, img.height() - 3, img.width(), 3), back));
    const QRect ink = InkBounds(img, back);
    QVERIFY(ink.isValid());
    QVERIFY(ink.right() <= img.width() - 4 && ink.right() >= img.width() - 8);  // cut at the text area
    QVERIFY(ink.left() <= 5);
    QVERIFY(ink.top() >= 3 && ink.top() <= 8);  // vaTop: from the top of the text area
    QCOMPARE(l->TextRect(), QRect(3, 3, img.width() - 6, img.height() - 6));
  }

  void transparentLabelLeavesItsBackground() {
    QWidget parent;
    QPalette p = parent.palette();
    p.setColor(QPalette::Window, QColor(10, 120, 10));
    parent.setPalette(p);
    parent.setAutoFillBackground(true);
    parent.resize(100, 40);
    auto* l = new TLabel3DBorder(QString(), &parent);
    l->SetColor(kBack);
    l->SetTransparent(true);
    l->setGeometry(0, 0, 100, 40);
    const QImage img = parent.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(img.pixel(50, 20), QColor(10, 120, 10).rgb());
    l->SetTransparent(false);
    const QImage filled = parent.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(filled.pixel(50, 20), kBack.rgb());
  }

  void bordersAreDrawnAsTheirStylesSay() {
    const QString empty;
    {
      std::unique_ptr<TLabel3DBorder> l(Make(empty, TLabel3DBorder::bsLight));
      const Colours c = ColoursOf(*l);
      const QImage img = Render(*l);
      CheckRing(img, 0, c.shadow, c.highlight, "bsLight");
      QCOMPARE(img.pixel(1, 1), c.back);
    }
    {
      std::unique_ptr<TLabel3DBorder> l(Make(empty, TLabel3DBorder::bsMedium));
      const Colours c = ColoursOf(*l);
      const QImage img = Render(*l);
      CheckRing(img, 0, c.black, c.highlight, "bsMedium");
      QCOMPARE(img.pixel(1, 1), c.back);
    }
    {
      std::unique_ptr<TLabel3DBorder> l(Make(empty, TLabel3DBorder::bsHeavy));
      const Colours c = ColoursOf(*l);
      const QImage img = Render(*l);
      CheckRing(img, 0, c.shadow, c.highlight, "bsHeavy outer");
      CheckRing(img, 1, c.black, c.face, "bsHeavy inner");
      QCOMPARE(img.pixel(2, 2), c.back);
    }
    {
      std::unique_ptr<TLabel3DBorder> l(Make(empty, TLabel3DBorder::bsFrame));
      const Colours c = ColoursOf(*l);
      const QImage img = Render(*l);
      CheckRing(img, 0, c.shadow, c.highlight, "bsFrame outer");
      CheckRing(img, 1, c.highlight, c.shadow, "bsFrame inner");
      QCOMPARE(img.pixel(2, 2), c.back);
    }
    {
      std::unique_ptr<TLabel3DBorder> l(Make(empty, TLabel3DBorder::bsRaisedFrame));
      const Colours c = ColoursOf(*l);
      const QImage img = Render(*l);
      CheckRing(img, 0, c.highlight, c.shadow, "bsRaisedFrame outer");
      CheckRing(img, 1, c.shadow, c.highlight, "bsRaisedFrame inner");
      QCOMPARE(img.pixel(2, 2), c.back);
    }
  }

  void textStaysInsideEveryBorder() {
    for (auto style : {TLabel3DBorder::bsNone, TLabel3DBorder::bsLight, TLabel3DBorder::bsMedium,
                       TLabel3DBorder::bsHeavy, TLabel3DBorder::bsFrame, TLabel3DBorder::bsRaisedFrame}) {
      std::unique_ptr<TLabel3DBorder> bare(Make(QString(), style));
      std::unique_ptr<TLabel3DBorder> text(Make(QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWWWWW"), style));
      const QImage a = Render(*bare);
      const QImage b = Render(*text);
      // Outside the text area the two are the same picture.
      for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
          if (!text->TextRect().contains(x, y)) QVERIFY2(a.pixel(x, y) == b.pixel(x, y), "ink outside the text area");
      QVERIFY(a != b);
    }
  }

  void centreAndBottomDrawOneLine() {
    std::unique_ptr<TLabel3DBorder> broken(Make(QStringLiteral("AB\nCD"), TLabel3DBorder::bsNone, 120, 50));
    std::unique_ptr<TLabel3DBorder> joined(Make(QStringLiteral("AB CD"), TLabel3DBorder::bsNone, 120, 50));
    broken->SetVerticalAlign(TLabel3DBorder::vaCenter);
    joined->SetVerticalAlign(TLabel3DBorder::vaCenter);
    QCOMPARE(Render(*broken), Render(*joined));
    const QRect centre = InkBounds(Render(*joined), kBack.rgb());
    QVERIFY(qAbs(centre.center().y() - 25) <= 2);

    broken->SetVerticalAlign(TLabel3DBorder::vaBottom);
    joined->SetVerticalAlign(TLabel3DBorder::vaBottom);
    QCOMPARE(Render(*broken), Render(*joined));
    const QRect bottom = InkBounds(Render(*joined), kBack.rgb());
    QVERIFY(bottom.bottom() <= 46 && bottom.bottom() >= 40);

    // At the top the line break is kept: two lines.
    broken->SetVerticalAlign(TLabel3DBorder::vaTop);
    const QRect two = InkBounds(Render(*broken), kBack.rgb());
    QVERIFY(two.height() > centre.height() + 5);
  }

  void wordWrapOnlyAtTheTop() {
    std::unique_ptr<TLabel3DBorder> l(Make(QStringLiteral("one two three four five six"), TLabel3DBorder::bsNone, 60, 80));
    const int oneLine = InkBounds(Render(*l), kBack.rgb()).height();
    l->setWordWrap(true);
    const int wrapped = InkBounds(Render(*l), kBack.rgb()).height();
    QVERIFY(wrapped > 2 * oneLine);
    l->SetVerticalAlign(TLabel3DBorder::vaCenter);
    QCOMPARE(InkBounds(Render(*l), kBack.rgb()).height(), oneLine);
  }

  void horizontalAlignment() {
    std::unique_ptr<TLabel3DBorder> l(Make(QStringLiteral("ABC"), TLabel3DBorder::bsNone, 120, 24));
    l->setAlignment(Qt::AlignRight);
    const QRect right = InkBounds(Render(*l), kBack.rgb());
    QVERIFY(right.right() >= 120 - 3 - 3 && right.right() <= 120 - 4);
    l->setAlignment(Qt::AlignHCenter);
    const QRect centre = InkBounds(Render(*l), kBack.rgb());
    QVERIFY(qAbs(centre.center().x() - 60) <= 2);
  }

  void tabsAreExpanded() {
    std::unique_ptr<TLabel3DBorder> tab(Make(QStringLiteral("A\tB"), TLabel3DBorder::bsNone, 200, 24));
    std::unique_ptr<TLabel3DBorder> plain(Make(QStringLiteral("AB"), TLabel3DBorder::bsNone, 200, 24));
    QVERIFY(InkBounds(Render(*tab), kBack.rgb()).width() > InkBounds(Render(*plain), kBack.rgb()).width() + 10);
  }

  void disabledGreysTextButKeepsBorderAndBackground() {
    std::unique_ptr<TLabel3DBorder> l(Make(QStringLiteral("WWWW"), TLabel3DBorder::bsFrame));
    const QImage enabled = Render(*l);
    l->setEnabled(false);
    const QImage disabled = Render(*l);
    const QColor grey = l->palette().color(QPalette::Disabled, QPalette::WindowText);
    QVERIFY(grey != QColor(Qt::black));
    bool sawGrey = false;
    for (int y = 0; y < enabled.height(); ++y)
      for (int x = 0; x < enabled.width(); ++x) {
        if (!l->TextRect().contains(x, y)) QCOMPARE(disabled.pixel(x, y), enabled.pixel(x, y));
        if (disabled.pixel(x, y) == grey.rgb()) sawGrey = true;
        QVERIFY(disabled.pixel(x, y) != QColor(Qt::black).rgb() || !l->TextRect().contains(x, y));
      }
    QVERIFY(sawGrey);
  }

  void accelleratorCharacter() {
    std::unique_ptr<TLabel3DBorder> accel(Make(QStringLiteral("A&B"), TLabel3DBorder::bsNone, 120, 30));
    std::unique_ptr<TLabel3DBorder> plain(Make(QStringLiteral("AB"), TLabel3DBorder::bsNone, 120, 30));
    const QImage a = Render(*accel);
    const QImage p = Render(*plain);
    // Same letters; the accelerator adds an underline below them.
    QVERIFY(a != p);
    const QRect ia = InkBounds(a, kBack.rgb());
    const QRect ip = InkBounds(p, kBack.rgb());
    QCOMPARE(ia.left(), ip.left());
    QVERIFY(ia.bottom() > ip.bottom());

    accel->SetShowAccelChar(false);  // the three characters A&B, wider than AB
    QVERIFY(InkBounds(Render(*accel), kBack.rgb()).width() > ip.width() + 3);

    std::unique_ptr<TLabel3DBorder> doubled(Make(QStringLiteral("A&&B"), TLabel3DBorder::bsNone, 120, 30));
    QCOMPARE(Render(*doubled), Render(*accel));  // "&&" shows one "&"
  }

  void emptyCaptionsMeasureAsOneBlank() {
    TLabel3DBorder l;
    TLabel3DBorder blank(QStringLiteral(" "));
    l.setText(QString());
    QCOMPARE(l.MeasureCaption(), blank.MeasureCaption());
    QVERIFY(l.MeasureCaption().width() > 0);
    l.setText(QStringLiteral("&"));
    QCOMPARE(l.MeasureCaption(), blank.MeasureCaption());
    l.SetShowAccelChar(false);
    QVERIFY(l.MeasureCaption() != blank.MeasureCaption());
  }

  void clickSignal() {
    std::unique_ptr<TLabel3DBorder> l(Make(QStringLiteral("x"), TLabel3DBorder::bsNone));
    QSignalSpy spy(l.get(), &TLabel3DBorder::clicked);
    QTest::mouseClick(l.get(), Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(spy.count(), 1);
  }
};

}  // namespace

QTEST_MAIN(Label3dBTest)
#include "Label3dBTest.moc"
