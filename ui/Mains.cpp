// The main window's life: creation, first activation, close, the status bar and the clock,
// and the Operator side (message boxes, questions, file dialogs, trace memo).
#include "ui/Mains.h"

#include "app/device/Operation.h"
#include "app/core/Results.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "app/site/SitePusher.h"
#include "app/site/SiteServer.h"
#include "app/core/Trace.h"
#include "link/KVTComms.h"
#include "model/Checksum.h"
#include "model/SensorTypes.h"
#include "model/TextHelpers.h"
#include "ui/Application.h"
#include "ui/Label3dB.h"
#include "ui/Logo.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <filesystem>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// "\r" is the line break of the message texts.
QString MessageText(const std::string& s) {
  QString t = Q(s);
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t;
}

// "description|pattern|..." as a Qt name filter list; each pattern in both letter cases,
// since file names here are case-sensitive.
QString NameFilters(const std::string& filter) {
  const QStringList parts = Q(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      patterns << p.trimmed();
      if (p.trimmed().toUpper() != p.trimmed()) patterns << p.trimmed().toUpper();
    }
    filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
  }
  return filters.join(QStringLiteral(";;"));
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

std::optional<std::string> RunFileDialog(QWidget* parent, const FileRequest& request, bool save) {
  QFileDialog dialog(parent, Q(request.title), Q(request.folder), NameFilters(request.filter));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!request.defaultExt.empty()) dialog.setDefaultSuffix(Q(request.defaultExt));
  if (!request.fileName.empty()) dialog.selectFile(Q(request.fileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdString();
}

}  // namespace

TKVTIRMainForm::TKVTIRMainForm(const std::string& startFolder, QWidget* parent)
    : QMainWindow(parent), FStartFolder(startFolder) {
  BuildWindow();
  ConnectHandlers();
  DescribeControls();
  connect(CustomerImage, &TLogoImage::clicked, this, &TKVTIRMainForm::CustomerImageClick);
  connect(CustomerImage, &TLogoImage::mouseEntered, this, &TKVTIRMainForm::CustomerImageMouseEnter);
  connect(CustomerImage, &TLogoImage::mouseLeft, this, &TKVTIRMainForm::CustomerImageMouseLeave);
  connect(CustomerUrlLabel, &TLabel3DBorder::clicked, this, &TKVTIRMainForm::CustomerUrlLabelClick);
  connect(TimeTimer, &QTimer::timeout, this, &TKVTIRMainForm::TimeTimerTimer);
  Session.OnShowCFG = [this] { ShowCFG(); };
  Session.OnProductName = [this](const std::string& name) { UserOptIDLabel->setText(Q(name)); };
  // The push reports from its own thread; the window is changed on its own.
  FSitePusher = std::make_unique<TSitePusher>([this](int64_t waiting, const std::string& failure) {
    QMetaObject::invokeMethod(
        this, [this, waiting, text = Q(failure)] { ShowWaitingRecords(waiting, text); }, Qt::QueuedConnection);
  });
  HookOperationEnd();
  FormCreate();
}

TKVTIRMainForm::~TKVTIRMainForm() {
  Op().Gate().SetOnEnded({});
  Op().Gate().SetOnBusy({});
  FSitePusher.reset();  // its report needs the window
}

void TKVTIRMainForm::SetOperator(Operator* op) {
  Op().Gate().SetOnEnded({});
  Op().Gate().SetOnBusy({});
  FOperator = op;
  HookOperationEnd();
}

void TKVTIRMainForm::HookOperationEnd() {
  // Queued, so that the handler has returned and its status is on screen before the push.
  Op().Gate().SetOnEnded(
      [this] { QMetaObject::invokeMethod(this, [this] { RequestSitePush(); }, Qt::QueuedConnection); });
  Op().Gate().SetOnBusy([this](bool busy) { ShowBusy(busy); });
}

void TKVTIRMainForm::ShowBusy(bool busy) {
  // The views' contents, not their scroll areas: the operator may still scroll to read. A
  // disabled parent keeps each control's own state for when it is enabled again.
  if (busy) FFocusBeforeBusy = QApplication::focusWidget();
  for (QScrollArea* box : {UserScrollBox, DevScrollBox}) box->widget()->setEnabled(!busy);
  if (busy) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
    if (FFocusBeforeBusy && FFocusBeforeBusy->isVisible() && FFocusBeforeBusy->isEnabled())
      FFocusBeforeBusy->setFocus(Qt::OtherFocusReason);
    FFocusBeforeBusy = nullptr;
  }
}

void TKVTIRMainForm::ShowConnecting() {
  const double left = ComKVT ? ComKVT->ConnectSecondsLeft() : -1.0;
  if (left < 0.0) return;
  // The handshake may take the whole connect time: say that it is still trying.
  StatusLabel->setText(FStatusText + QStringLiteral(" trying to connect, %1 s left").arg(std::ceil(left), 0, 'f', 0));
}

void TKVTIRMainForm::FormCreate() {
  FFirst = true;
  SetDefaultCFG(FKVTCFG);
  FUpgradeFile.clear();
  FUpgrade = false;
  FHibernateBtn = false;
  FReadSW = 0;

  setWindowTitle(QStringLiteral("QRB BEAMDOCK - Vaporlet [ver 1.3.1.1]"));
  if (FStartFolder.empty()) FStartFolder = GetStartDir();
  if (FStartFolder.back() != '/') FStartFolder += '/';

  OpenDialog = {"Open Configuration File", "configuration file|*.cfg", "cfg", FStartFolder, {}};
  SaveDialog = {"Save Configuration File", "configuration file|*.cfg", "cfg", FStartFolder, {}};
  OpenFMDialog = {"Select Firmware Upgrade File", "Image File|*.img", "cfg", FStartFolder, {}};
  SaveCSVDialog = {"Save Configuration File", "Data file|*.csv", "csv", FStartFolder, {}};

  LoadSettings();
  if (!SiteServerSetting().empty()) {
    // What an earlier run could not send is shown, and sent, from the start.
    int64_t waiting = 0;
    try {
      waiting = WaitingRecords(RecordsDatabasePath());
    } catch (const std::exception&) {
    }
    ShowWaitingRecords(waiting, {});
    if (waiting > 0) RequestSitePush();
  }

  ComKVT = std::make_unique<TComKVT>();
  ComKVT->IdleHook = [this] {
    ShowConnecting();
    QCoreApplication::processEvents();
  };
  // The trace goes to this window's memo even while a test answers the boxes.
  if (DeviceCFG.mLogEnable)
    ComKVT->FOnKVTEvent = [this](TComKVT* sender, TDateTime now, const std::string& log) {
      TraceEvent(sender, now, log);
    };
}

void TKVTIRMainForm::LoadSettings() {
  ::LoadSettings(FStartFolder);
  FillSensorTypeCombos();
  PrepareEEPROMGrid(EEPROMGridRowCount(DeviceCFG.mEEPROMMaxAddress));
  ShowEEPROMReadState();
  ShowCFG();
  Memo->setVisible(DeviceCFG.mLogEnable);
  // The trace takes its width from the window, so the view keeps all of its own.
  setMinimumWidth(kMinWidth + (DeviceCFG.mLogEnable ? Memo->minimumWidth() : 0));
}

void TKVTIRMainForm::RestoreView() {
  if (FactoryMode) {
    UserScrollBox->hide();
    DevScrollBox->show();
    PageControl->setCurrentIndex(0);
  } else {
    DevScrollBox->hide();
    UserScrollBox->show();
  }
  FitContactPanel();
  RWindowGeometry g = ReadWindowGeometry(AppDir);
  // The simulated strip, and the line of records waiting for a site server (which comes and
  // goes), take their height from the view: a window the operator never sized grows by them,
  // so that the view still fits.
  if (g.mHeight == RWindowGeometry{}.mHeight) {
    if (!SimulatedLabel->isHidden()) g.mHeight += SimulatedLabel->minimumHeight();
    if (!SimGasPanel->isHidden()) g.mHeight += SimGasPanel->minimumHeight();
    if (!SiteServerSetting().empty()) g.mHeight += SiteLabel->minimumHeight();
  }
  ApplyWindowGeometry(g.mWidth, g.mHeight, g.mLeft, g.mTop);
}

QMargins TKVTIRMainForm::FrameMargins() const {
  const QRect outer = frameGeometry(), inner = geometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

void TKVTIRMainForm::ApplyWindowGeometry(int width, int height, int left, int top) {
  // The settings hold the outer size and position. A desktop may tell the frame only once the
  // window is on screen, after this has run; the frame known now is kept, and the close
  // measures with the same one, so that a start and a close give back the numbers read.
  FRestoredFrame = FrameMargins();
  const QMargins& f = FRestoredFrame;
  const QSize inside(std::max(width - f.left() - f.right(), minimumWidth()),
                     std::max(height - f.top() - f.bottom(), minimumHeight()));
  QPoint topLeft(left, top);
  // A position saved on a screen that is no longer there would hide the window.
  if (QGuiApplication::screenAt(topLeft + QPoint(40, 20)) == nullptr) {
    if (const QScreen* s = QGuiApplication::primaryScreen()) topLeft = s->availableGeometry().topLeft();
  }
  // The title bar stays on the screen (it is what moves the window), and as much of the window
  // as the screen holds.
  if (const QScreen* s = QGuiApplication::screenAt(topLeft + QPoint(40, 20))) {
    const QRect area = s->availableGeometry();
    const QSize outer = inside.grownBy(f);
    topLeft.setX(std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - outer.width())));
    topLeft.setY(std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - outer.height())));
  }
  setGeometry(QRect(topLeft + QPoint(f.left(), f.top()), inside));
}

void TKVTIRMainForm::FormActivate() {
  if (!FFirst) return;
  RestoreView();
  std::error_code ec;
  if (!DeviceCFG.mFLASHFile.empty() && std::filesystem::is_regular_file(DeviceCFG.mFLASHFile, ec))
    LoadUpgradeFile(DeviceCFG.mFLASHFile, true);
  TimeTimerTimer();
  TimeTimer->start();
  FFirst = false;
}

void TKVTIRMainForm::FormCloseQuery(bool& CanClose) {
  // As during the download, no operation is cut off by a close: its record, its file and the
  // detector's state would be left half done.
  if (FUpgrade || Op().Gate().Busy()) {
    CanClose = false;
    return;
  }
  if (DeviceCFG.mLogEnable) {
    std::string error;
    // The trace is a diagnosis aid: a failed save is reported, and the window still closes.
    if (!SaveTraceLines(TraceFileName(AppDir), FMemoLines, &error))
      Op().message(MessageIcon::Error, "Comm.TXT", error);
  }
  const QRect outer = geometry().marginsAdded(FFirst ? FrameMargins() : FRestoredFrame);
  WriteWindowGeometry(AppDir, {outer.width(), outer.height(), outer.x(), outer.y()});
  CanClose = true;
}

void TKVTIRMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FormActivate();
}

void TKVTIRMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FitContactPanel();
}

void TKVTIRMainForm::FitContactPanel() {
  // The contact panel gives its room to the view when the window is too low for both, so that
  // every control stays in sight from the smallest size up.
  const QScrollArea* view = DevScrollBox->isHidden() ? UserScrollBox : DevScrollBox;
  if (!view->widget() || !centralWidget()) return;
  int room = centralWidget()->height() - StatusPanel->height();
  for (const QWidget* strip : {static_cast<QWidget*>(SimulatedLabel), static_cast<QWidget*>(SiteLabel)})
    if (!strip->isHidden()) room -= strip->height();
  const bool fits = room - CustomerPanel->height() >= view->widget()->minimumSizeHint().height();
  if (CustomerPanel->isHidden() == fits) CustomerPanel->setVisible(fits);
}

void TKVTIRMainForm::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  FormCloseQuery(canClose);
  if (canClose) event->accept();
  else event->ignore();
}

void TKVTIRMainForm::TraceEvent(TComKVT*, std::chrono::system_clock::time_point rNow, const std::string& sLog) {
  memoLine(TraceLine(rNow, sLog));
}

void TKVTIRMainForm::TimeTimerTimer() {
  StatusTimeLabel->setText(Q(ClockText(std::chrono::system_clock::now())));
}

void TKVTIRMainForm::MarkSimulated(const std::string& device, TSimControl control) {
  setWindowTitle(windowTitle() + QStringLiteral(" - SIMULATED DETECTOR"));
  SimulatedLabel->setText(QStringLiteral("SIMULATED DETECTOR"));
  SimulatedLabel->setToolTip(QStringLiteral("kvt-sim on %1, not a real detector").arg(Q(device)));
  SimulatedLabel->show();
  FSimControl = std::move(control);
  SimGasPanel->setVisible(static_cast<bool>(FSimControl));
}

void TKVTIRMainForm::ShowWaitingRecords(int64_t waiting, const QString& failure) {
  SiteLabel->setText(waiting > 0 ? QStringLiteral("%1 records wait to be sent to the site server").arg(waiting)
                                 : QString());
  SiteLabel->setToolTip(failure);
  SiteLabel->setVisible(waiting > 0);
}

void TKVTIRMainForm::RequestSitePush() { FSitePusher->RequestFromSettings(); }

// ---- contact panel

namespace {
const char* const kMakerWebAddress = "https://www.qrb-sensing.example/";
const char* const kMakerMailAddress = "mailto:service@qrb-sensing.example";
}  // namespace

void TKVTIRMainForm::CustomerImageClick() { QDesktopServices::openUrl(QUrl(QLatin1String(kMakerWebAddress))); }

void TKVTIRMainForm::CustomerImageMouseEnter() { CustomerImage->setCursor(Qt::PointingHandCursor); }

void TKVTIRMainForm::CustomerImageMouseLeave() { CustomerImage->unsetCursor(); }

void TKVTIRMainForm::CustomerUrlLabelClick() { QDesktopServices::openUrl(QUrl(QLatin1String(kMakerMailAddress))); }

// ---- Operator

void TKVTIRMainForm::showStatus(StatusColour colour, const std::string& text) {
  if (colour == StatusColour::Running && !FUpgrade) ClearUpgradeEnd();
  const RStatusStyle style = StatusStyle(colour);
  StatusLabel->SetColor(QColor(style.mBackground[0], style.mBackground[1], style.mBackground[2]));
  StatusLabel->SetFontColor(QColor(style.mText[0], style.mText[1], style.mText[2]));
  StatusLabel->setText(Q(text));
  FStatusText = Q(text);
  // The work that follows blocks the window: paint the new text first.
  StatusLabel->repaint();
  QCoreApplication::processEvents();
}

void TKVTIRMainForm::message(MessageIcon icon, const std::string& caption, const std::string& text) {
  QMessageBox box(BoxIcon(icon), Q(caption), MessageText(text), QMessageBox::Ok, this);
  FitBoxToTitle(box);
  box.exec();
}

void TKVTIRMainForm::detailedMessage(MessageIcon icon, const std::string& caption, const std::string& text,
                                     const std::string& details) {
  QMessageBox box(BoxIcon(icon), Q(caption), MessageText(text), QMessageBox::Ok, this);
  if (!details.empty()) box.setDetailedText(MessageText(details));
  FitBoxToTitle(box);
  box.exec();
}

bool TKVTIRMainForm::ask(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Question, Q(caption), MessageText(text), QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  FitBoxToTitle(box);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> TKVTIRMainForm::chooseOpenFile(const FileRequest& request) {
  return RunFileDialog(this, request, false);
}

std::optional<std::string> TKVTIRMainForm::chooseSaveFile(const FileRequest& request) {
  return RunFileDialog(this, request, true);
}

void TKVTIRMainForm::memoLine(const std::string& line) {
  FMemoLines.push_back(line);
  Memo->appendPlainText(Q(line));
}

void TKVTIRMainForm::pump() { QCoreApplication::processEvents(); }
