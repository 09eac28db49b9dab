#include "report/Certificate.h"

#include <qrencode.h>

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QString>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <utility>
#include <vector>

namespace {

// The page in device pixels: A4 at 300 dpi, no printer margins (the layout keeps its own).
constexpr int kDpi = 300;
constexpr double kPageW = 2480, kPageH = 3508, kMargin = 190;
constexpr double kWidth = kPageW - 2 * kMargin;

const QColor kInk(0x1a, 0x1a, 0x1a);
const QColor kMuted(0x5f, 0x63, 0x68);
const QColor kAccent(0x1f, 0x4e, 0x79);
const QColor kPass(0x1b, 0x7a, 0x3a);
const QColor kFail(0xc0, 0x1c, 0x1c);

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString OrDash(const std::string& s) { return s.empty() ? QString("-") : Q(s); }
bool Passed(const std::string& result) { return result == "PASS"; }
QColor ResultColour(const std::string& result) {
  return Passed(result) ? kPass : result == "FAIL" ? kFail : kInk;
}

struct RRow {
  QString label, value;
  QColor colour = kInk;
  bool bold = false;
};

struct QrFree {
  void operator()(QRcode* code) const { QRcode_free(code); }
};
using TQrCode = std::unique_ptr<QRcode, QrFree>;

// Lays the page out from the top. It runs once measuring only, then drawing, so a page whose
// long values would run past the bottom is drawn smaller rather than cut off.
class TPage {
 public:
  TPage(QPainter& painter, double scale, bool draw) : P(painter), S(scale), FDraw(draw) {}

  QFont Sans(double points, bool bold = false) const { return Font("Liberation Sans", QFont::SansSerif, points, bold); }
  QFont Mono(double points, bool bold = false) const { return Font("Liberation Mono", QFont::Monospace, points, bold); }
  QFont Font(const char* family, QFont::StyleHint hint, double points, bool bold) const {
    QFont f(family);
    f.setStyleHint(hint);
    f.setPointSizeF(points * S);
    f.setBold(bold);
    return f;
  }
  double Gap(double pixels) const { return pixels * S; }
  double LineHeight(const QFont& font) const { return QFontMetricsF(font, P.device()).height(); }

  // Text wrapped at word boundaries, or inside a word too long for the width (a long lot
  // number), so nothing runs past its column; returns the height it takes.
  double Text(double x, double y, double w, const QString& text, const QFont& font, const QColor& colour,
              Qt::Alignment align = Qt::AlignLeft) {
    const double h = Height(w, text, font);
    if (FDraw) {
      P.setFont(font);
      P.setPen(colour);
      P.drawText(QRectF(x, y, w, h), text, Wrapped(align));
    }
    return h;
  }
  double Height(double w, const QString& text, const QFont& font) {
    P.setFont(font);
    return P.boundingRect(QRectF(0, 0, w, kPageH), text, Wrapped(Qt::AlignLeft)).height();
  }
  static QTextOption Wrapped(Qt::Alignment align) {
    QTextOption option(align);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
  }

  void Line(double x1, double y1, double x2, double y2, const QColor& colour, double width) {
    if (!FDraw) return;
    P.setPen(QPen(colour, width));
    P.drawLine(QPointF(x1, y1), QPointF(x2, y2));
  }

  // A heading with a rule under it and label / value rows; returns the bottom.
  double Section(double x, double y, double w, const QString& title, const std::vector<RRow>& rows) {
    y += Text(x, y, w, title, Sans(11.5, true), kAccent);
    y += Gap(12);
    Line(x, y, x + w, y, kAccent, 4);
    y += Gap(26);
    const double labelW = std::min(w * 0.42, 640.0);
    for (const RRow& row : rows) {
      const double hl = Text(x, y, labelW - Gap(20), row.label, Sans(10.5), kMuted);
      const double hv = Text(x + labelW, y, w - labelW, row.value, Sans(10.5, row.bold), row.colour);
      y += std::max(hl, hv) + Gap(22);
    }
    return y;
  }

  // The QR code's dark modules, one rectangle per run in a row, so no seams show between them.
  void QrCode(double x, double y, double size, const QRcode& code) {
    if (!FDraw) return;
    const int n = code.width, quiet = 4;
    const double module = size / (n + 2 * quiet);
    P.save();
    P.setRenderHint(QPainter::Antialiasing, false);
    P.setPen(Qt::NoPen);
    P.setBrush(Qt::black);
    for (int row = 0; row < n; ++row)
      for (int col = 0; col < n;) {
        if (!(code.data[row * n + col] & 1)) {
          ++col;
          continue;
        }
        int end = col;
        while (end < n && (code.data[row * n + end] & 1)) ++end;
        P.drawRect(QRectF(x + (quiet + col) * module, y + (quiet + row) * module, (end - col) * module, module));
        col = end;
      }
    P.restore();
  }

  // Across the whole page, corner to corner, over everything so nothing can cover it.
  void Watermark(const QString& text) {
    if (!FDraw) return;
    QFont f = Sans(10, true);
    f.setPixelSize(200);
    const double along = std::hypot(kPageW, kPageH) * 0.86;
    const double width = QFontMetricsF(f, P.device()).horizontalAdvance(text);
    f.setPixelSize(std::max(1, static_cast<int>(200 * along / width)));
    P.save();
    P.translate(kPageW / 2, kPageH / 2);
    P.rotate(-std::atan2(kPageH, kPageW) * 180 / std::numbers::pi);
    P.setOpacity(0.33);
    P.setFont(f);
    P.setPen(kFail);
    P.drawText(QRectF(-along, -kPageH / 4, 2 * along, kPageH / 2), Qt::AlignCenter, text);
    P.restore();
  }

 private:
  QPainter& P;
  const double S;
  const bool FDraw;
};

// Draws (or only measures) the certificate at the given scale; returns where the page ends.
double Lay(QPainter& p, const RCertificate& c, const QRcode& qr, double scale, bool draw) {
  TPage page(p, scale, draw);
  const double x = kMargin;
  double y = kMargin;

  // Header: who issued it on the left, its number on the right.
  const double leftW = kWidth * 0.56, rightX = x + kWidth * 0.58, rightW = kWidth * 0.42;
  double left = y, right = y;
  if (!c.mOrganisation.empty()) left += page.Text(x, left, leftW, Q(c.mOrganisation), page.Sans(14, true), kInk);
  if (!c.mSite.empty()) left += page.Text(x, left, leftW, Q(c.mSite), page.Sans(11), kMuted);
  right += page.Text(rightX, right, rightW, "Certificate No.", page.Sans(9), kMuted, Qt::AlignRight);
  right += page.Text(rightX, right, rightW, OrDash(c.mNumber), page.Mono(13, true), kInk, Qt::AlignRight);
  right += page.Text(rightX, right, rightW, "Revision " + QString::number(c.mRevision) + "    Page 1 of 1",
                     page.Sans(9), c.mRevision > 1 ? kAccent : kMuted, Qt::AlignRight);
  y = std::max(left, right) + page.Gap(70);

  y += page.Text(x, y, kWidth, "Calibration Certificate", page.Sans(24, true), kInk, Qt::AlignHCenter);
  y += page.Gap(24);
  page.Line(x, y, x + kWidth, y, kAccent, 10);
  y += page.Gap(60);

  // The outcome, in its colour, where the eye lands first.
  const bool passed = Passed(c.mZeroResult) && Passed(c.mSpanResult);
  const QColor outcome = passed ? kPass : kFail;
  // Its parts are measured first, so an unexpected long result grows the box instead of
  // running out of it.
  const double inner = page.Gap(40);
  const QFont bannerFont = page.Sans(12), big = page.Sans(20, true);
  const QString parts = "Zero " + OrDash(c.mZeroResult) + "     Span " + OrDash(c.mSpanResult);
  const double partsX = x + kWidth * 0.55, partsW = kWidth * 0.45 - inner;
  const double labelH = page.LineHeight(bannerFont), bigH = page.LineHeight(big);
  const double partsH = page.Height(partsW, parts, bannerFont);
  const double bannerH = std::max(page.Gap(150), std::max({labelH, bigH, partsH}) + 2 * inner);
  if (draw) {
    QColor fill = outcome;
    fill.setAlpha(28);
    p.setPen(QPen(outcome, 6));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(x, y, kWidth, bannerH), 24, 24);
    p.setBrush(Qt::NoBrush);
  }
  page.Text(x + inner, y + (bannerH - labelH) / 2, kWidth * 0.3 - inner, "Calibration result", bannerFont, kInk);
  page.Text(x + kWidth * 0.3, y + (bannerH - bigH) / 2, kWidth * 0.25, passed ? "PASS" : "FAIL", big, outcome);
  page.Text(partsX, y + (bannerH - partsH) / 2, partsW, parts, bannerFont, kInk, Qt::AlignRight);
  y += bannerH + page.Gap(40);

  if (c.mWithoutAdapter) {
    y += page.Text(x, y, kWidth,
                   "This calibration was made without a BeamDock adapter (on a simulated detector or another "
                   "port). It does not certify a detector.",
                   page.Sans(10.5, true), kFail);
    y += page.Gap(40);
  }
  y += page.Gap(30);

  const double colGap = 90, colW = (kWidth - colGap) / 2;
  const double instrument = page.Section(x, y, colW, "Instrument",
                                         {{"Product", OrDash(c.mProduct)},
                                          {"Sensor", OrDash(c.mSensorType)},
                                          {"Serial number", OrDash(c.mSerial), kInk, true},
                                          {"Hardware version", OrDash(c.mHardware)},
                                          {"Firmware version", OrDash(c.mFirmware)}});
  std::vector<RRow> alarms = {{"Low alarm", OrDash(c.mLowAlarm)}, {"High alarm", OrDash(c.mHighAlarm)}};
  if (!c.mStelAlarm.empty()) alarms.push_back({"STEL alarm", Q(c.mStelAlarm)});
  if (!c.mTwaAlarm.empty()) alarms.push_back({"TWA alarm", Q(c.mTwaAlarm)});
  const double setPoints = page.Section(x + colW + colGap, y, colW, "Alarm set points as left", alarms);
  y = std::max(instrument, setPoints) + page.Gap(50);

  const double left2 = page.Section(x, y, colW, "Calibration",
                                    {{"Date of calibration", OrDash(c.mDateTime)},
                                     {"Date of issue", OrDash(c.mIssued)},
                                     {"Procedure", OrDash(c.mProcedure)},
                                     {"Temperature", OrDash(c.mTemperature)},
                                     {"Calibrated by", OrDash(c.mTechnician)},
                                     {"Equipment", OrDash(c.mEquipment)},
                                     {"Software", OrDash(c.mSoftware)}});
  const double right2 = page.Section(x + colW + colGap, y, colW, "Reference gases",
                                     {{"Zero gas", OrDash(c.mZeroGas)},
                                      {"Span gas (certified)", OrDash(c.mSpanGas)},
                                      {"Uncertainty", OrDash(c.mGasUncertainty)},
                                      {"Supplier", OrDash(c.mGasSupplier)},
                                      {"Cylinder certificate", OrDash(c.mCylinderCertificate)},
                                      {"Cylinder lot", OrDash(c.mCylinderLot)},
                                      {"Cylinder expiry", OrDash(c.mCylinderExpiry)}});
  y = std::max(left2, right2) + page.Gap(50);

  std::vector<RRow> results = {{"Zero as found / as left", OrDash(c.mZeroAsFound) + "  /  " + OrDash(c.mZeroAsLeft)},
                               {"Zero", OrDash(c.mZeroResult), ResultColour(c.mZeroResult), true},
                               {"Span as found / as left", OrDash(c.mAsFound) + "  /  " + OrDash(c.mAsLeft)},
                               {"Span", OrDash(c.mSpanResult), ResultColour(c.mSpanResult), true},
                               {"Acceptance limit", OrDash(c.mTolerance)},
                               {"Decision rule", OrDash(c.mRule)}};
  if (c.mShowDue) results.push_back({"Next calibration due (as the customer asked)", OrDash(c.mNextDue), kInk, true});
  if (c.mRevision > 1) results.push_back({"Revision " + QString::number(c.mRevision), OrDash(c.mRevisionNote), kAccent});
  y = page.Section(x, y, kWidth, "Results", results);
  y += page.Gap(30);

  // The record it was issued from: the digest, and the QR code that carries the record's seal.
  y += page.Text(x, y, kWidth, "Record digest (SHA-256)", page.Sans(8.5), kMuted);
  y += page.Gap(6);
  y += page.Text(x, y, kWidth, OrDash(c.mDigest), page.Mono(8.5), kInk);
  y += page.Gap(50);

  // Signature and date lines on the left, the QR code on the right, kept at the foot of the
  // page when there is room.
  const double qrSize = 400 * scale;
  const double signW = kWidth * 0.55;
  const QFont caption = page.Sans(8.5);
  const QString authoriser = OrDash(c.mAuthoriser) + (c.mAuthoriserFunction.empty() || c.mAuthoriserFunction == "-"
                                                          ? QString()
                                                          : ", " + Q(c.mAuthoriserFunction));
  const double nameH = page.Height(signW, authoriser, page.Sans(10.5, true));
  const double captionH = page.Height(signW, "Signature", caption);
  const double signH = page.Gap(150) + nameH + captionH + page.Gap(170) + captionH;
  const QString foot = "Issued by BeamDock from the sealed service record " + OrDash(c.mNumber) +
                       ". Page 1 of 1. The results relate only to the item calibrated. This certificate may be "
                       "reproduced in full only.";
  const double footH = page.Height(kWidth, foot, page.Sans(7.5));
  const double blockH = std::max(signH, qrSize + captionH) + page.Gap(50) + footH;
  y = std::max(y, kPageH - kMargin - blockH);

  double sy = y + page.Gap(150);
  page.Line(x, sy, x + signW, sy, kInk, 3);
  sy += page.Gap(8);
  sy += page.Text(x, sy, signW, authoriser, page.Sans(10.5, true), kInk);
  sy += page.Text(x, sy, signW, "Authorised by (signature)", caption, kMuted);
  sy += page.Gap(170);
  page.Line(x, sy, x + signW * 0.5, sy, kInk, 3);
  sy += page.Gap(8);
  sy += page.Text(x, sy, signW, "Date", caption, kMuted);

  const double qrX = x + kWidth - qrSize;
  page.QrCode(qrX, y, qrSize, qr);
  double qy = y + qrSize;
  qy += page.Text(x + signW, qy, kWidth - signW, "Record seal: station, number, digest, signature", caption, kMuted,
                  Qt::AlignRight);

  y = std::max(sy, qy) + page.Gap(50);
  y += page.Text(x, y, kWidth, foot, page.Sans(7.5), kMuted);

  if (c.mWithoutAdapter) page.Watermark("NOT A CALIBRATION CERTIFICATE");
  return y;
}

}  // namespace

bool WriteCertificatePdf(const RCertificate& c, const std::string& path, std::string* error) {
  const auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  TQrCode qr(QRcode_encodeString(c.mQrText.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1));
  if (!qr) return fail("the QR code could not be made");

  // Rendered in memory and saved in one step: QPdfWriter does not report a failed write, and a
  // half-written file must not replace a good certificate of the same name.
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter pdf(&buffer);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    pdf.setResolution(kDpi);
    pdf.setTitle("Calibration Certificate " + Q(c.mNumber));
    pdf.setCreator("BeamDock");
    QPainter p;
    if (!p.begin(&pdf)) return fail("the PDF could not be started");
    p.setRenderHint(QPainter::Antialiasing);
    double scale = 1.0;
    const double room = kPageH - kMargin / 2;
    for (int tries = 0; tries < 6; ++tries) {
      const double bottom = Lay(p, c, *qr, scale, false);
      if (bottom <= room) break;
      scale *= std::max(0.5, room / bottom) * 0.98;
    }
    Lay(p, c, *qr, scale, true);
    if (!p.end()) return fail("the PDF could not be finished");
  }

  QSaveFile file(Q(path));
  // Unbuffered: a buffered tail that fails to reach a full disk is not reported by commit().
  // A full disk shows first as a short write with no error; writing on brings out the reason.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail(file.errorString().toStdString());
  for (qint64 done = 0; done < bytes.size();) {
    const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
    if (n <= 0) return fail(file.errorString().toStdString());
    done += n;
  }
  if (!file.commit()) return fail(file.errorString().toStdString());
  return true;
}
