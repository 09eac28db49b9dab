// The main window's regions and the controls of both views, in the order the operator reads
// them. Positions come from layouts; only the widths that keep the rows aligned are fixed.
#include "app/core/Settings.h"
#include "ui/Label3dB.h"
#include "ui/Logo.h"
#include "ui/Mains.h"
#include "ui/NumberBoxes.h"

#include <QAbstractItemView>
#include <QAnyStringView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenu>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpressionValidator>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

constexpr int kCaptionWidth = 150;
constexpr int kRowHeight = 24;
constexpr int kBoxWidth = 90;      // number boxes and short displays
constexpr int kTextWidth = 160;    // text edits, lists and long displays
const QColor kCaptionColour(222, 230, 240);

template <class W>
W* Named(W* w, QAnyStringView name) {
  w->setObjectName(name.toString());
  return w;
}

TLabel3DBorder* Caption(const QString& text, int width = kCaptionWidth) {
  auto* l = new TLabel3DBorder(text);
  l->SetBorderStyle(TLabel3DBorder::bsRaisedFrame);
  l->SetVerticalAlign(TLabel3DBorder::vaCenter);
  l->SetColor(kCaptionColour);
  l->SetShowAccelChar(false);
  l->setFixedSize(width, kRowHeight);
  return l;
}

// Framed read-only text.
TLabel3DBorder* DisplayBox(QAnyStringView name, int width = kBoxWidth) {
  auto* l = Named(new TLabel3DBorder, name);
  l->SetBorderStyle(TLabel3DBorder::bsLight);
  l->SetVerticalAlign(TLabel3DBorder::vaCenter);
  l->setAlignment(Qt::AlignHCenter);
  l->SetColor(Qt::white);
  l->SetShowAccelChar(false);
  l->setFixedSize(width, kRowHeight);
  return l;
}

// A unit or heading next to a control.
TLabel3DBorder* Unit(const QString& text, int width = 52, Qt::Alignment align = Qt::AlignLeft) {
  auto* l = new TLabel3DBorder(text);
  l->SetTransparent(true);
  l->SetVerticalAlign(TLabel3DBorder::vaCenter);
  l->setAlignment(align);
  l->SetShowAccelChar(false);
  l->setFixedSize(width, kRowHeight);
  return l;
}

// The user's locale without group separators: a box shows 2147483648, never 2,147,483,648
// (Qt leaves them in the smallest int even when told not to show them).
QLocale PlainNumbers() {
  QLocale plain;
  plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
  return plain;
}

TIntegerBox* IntSpin(QAnyStringView name, int min, int max, int value = 0, int width = kBoxWidth) {
  auto* s = Named(new TIntegerBox, name);
  s->SetFieldRange(min, max);
  s->Show(value);
  s->setSingleStep(1);
  s->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  s->setLocale(PlainNumbers());
  s->setFixedSize(width, kRowHeight);
  return s;
}

TDecimalBox* DecSpin(QAnyStringView name, double min, double max, int width = kBoxWidth) {
  auto* s = Named(new TDecimalBox, name);
  s->setDecimals(1);
  s->SetFieldRange(min, max);
  s->setSingleStep(1.0);
  s->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  s->setLocale(PlainNumbers());
  s->setFixedSize(width, kRowHeight);
  return s;
}

// A field that takes room when the window has it: its width at the smallest window, up to
// half as much again.
template <class W>
W* Growing(W* w, int width) {
  w->setFixedHeight(kRowHeight);
  w->setMinimumWidth(width);
  w->setMaximumWidth(width * 3 / 2);
  w->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return w;
}

QComboBox* Combo(QAnyStringView name, const QStringList& items, int width = kTextWidth) {
  auto* c = Named(new QComboBox, name);
  c->addItems(items);
  c->setEditable(false);
  return Growing(c, width);
}

QLineEdit* Edit(QAnyStringView name, int maxLength, int width = kTextWidth) {
  auto* e = Named(new QLineEdit, name);
  e->setMaxLength(maxLength);
  return Growing(e, width);
}

// Buttons do not grow past a readable width: the room of a large window goes to the fields.
constexpr int kButtonMaxWidth = 150;

QPushButton* Button(QAnyStringView name, const QString& caption) {
  auto* b = Named(new QPushButton(caption), name);
  b->setMinimumHeight(28);
  b->setMaximumWidth(kButtonMaxWidth);
  b->setAutoDefault(false);
  return b;
}

// A button whose command cannot be undone: dark red caption and a warning sign, so it is not
// taken for its harmless neighbours.
void MarkDestructive(QPushButton* b) {
  QPalette p = b->palette();
  p.setColor(QPalette::ButtonText, QColor(170, 0, 0));
  b->setPalette(p);
  b->setIcon(b->style()->standardIcon(QStyle::SP_MessageBoxWarning));
}

// One row of a view: its caption, then the controls left-aligned.
void AddRow(QGridLayout* grid, const QString& caption, const std::vector<QWidget*>& controls) {
  const int row = grid->rowCount();
  if (!caption.isNull()) grid->addWidget(Caption(caption), row, 0);
  auto* h = new QHBoxLayout;
  h->setSpacing(4);
  for (QWidget* w : controls) h->addWidget(w, w->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding ? 1 : 0);
  h->addStretch(1);
  grid->addLayout(h, row, 1);
}

QGridLayout* NewRows() {
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  grid->setColumnMinimumWidth(0, kCaptionWidth);
  grid->setColumnStretch(1, 1);
  return grid;
}

QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons) {
  auto* h = new QHBoxLayout;
  h->setSpacing(4);
  for (QPushButton* b : buttons) h->addWidget(b);
  h->addStretch(0);  // a wide window leaves the rest of the row empty
  return h;
}

QGroupBox* Panel(QAnyStringView name, QWidget* content) {
  auto* g = Named(new QGroupBox, name);
  auto* v = new QVBoxLayout(g);
  v->setContentsMargins(8, 2, 8, 2);
  v->addWidget(content);
  return g;
}

QScrollArea* ScrollBox(const char* name, QWidget* content) {
  auto* s = Named(new QScrollArea, name);
  s->setWidget(content);
  s->setWidgetResizable(true);
  s->setFrameShape(QFrame::NoFrame);
  s->viewport()->setAutoFillBackground(false);
  content->setAutoFillBackground(false);
  return s;
}

QWidget* Page(QLayout* layout) {
  auto* w = new QWidget;
  w->setLayout(layout);
  return w;
}

const QStringList kDispItems = {QStringLiteral("Sensor/Life Remaining"), QStringLiteral("Sensor Reading"),
                                QStringLiteral("Life Remaining")};

// The EEPROM grid's cells go through the window's drawing handler first.
class EEPROMCellDelegate : public QStyledItemDelegate {
 public:
  EEPROMCellDelegate(TKVTIRMainForm* form, QObject* parent) : QStyledItemDelegate(parent), FForm(form) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (!FForm->EtcEEPROMGridDrawCell(painter, option, index.column(), index.row()))
      QStyledItemDelegate::paint(painter, option, index);
  }
  // A byte cell takes one or two hexadecimal digits, so Save File always writes bytes.
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(2);
    edit->setAlignment(Qt::AlignCenter);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,2}")), edit));
    return edit;
  }
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
    const QString text = static_cast<QLineEdit*>(editor)->text().toUpper();
    if (!text.isEmpty()) model->setData(index, text.rightJustified(2, QLatin1Char('0')));
  }

 private:
  TKVTIRMainForm* FForm;
};

}  // namespace

QGroupBox* TKVTIRMainForm::BuildFirmwareBox(const QString& prefix, TLabel3DBorder*& fileLabel,
                                            QToolButton*& openBtn, TLabel3DBorder*& descLabel,
                                            QPushButton*& upgradeBtn, QPushButton*& cancelBtn,
                                            QProgressBar*& progressBar) {
  const auto name = [&](const char* suffix) { return (prefix + QLatin1String(suffix)).toLatin1(); };
  fileLabel = DisplayBox(name("FMFileLabel").constData());
  fileLabel->setAlignment(Qt::AlignLeft);
  fileLabel->setMinimumWidth(120);
  fileLabel->setMaximumWidth(QWIDGETSIZE_MAX);
  openBtn = Named(new QToolButton, name("FMOpenBtn").constData());
  openBtn->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  openBtn->setFixedSize(kRowHeight + 4, kRowHeight + 2);
  descLabel = Named(new TLabel3DBorder(QStringLiteral("KVT Firmware Upgrade ... Select File")),
                    name("FMDescLabel").constData());
  descLabel->SetTransparent(true);
  descLabel->SetVerticalAlign(TLabel3DBorder::vaCenter);
  descLabel->SetShowAccelChar(false);
  descLabel->setFixedHeight(kRowHeight);
  descLabel->setMinimumWidth(120);
  FFirmwareDesc = descLabel->text();
  upgradeBtn = Button(name("FMUpgradeBtn").constData(), QStringLiteral("Upgrade Firmware"));
  cancelBtn = Button(name("FMCancelBtn").constData(), QStringLiteral("Cancel"));
  upgradeBtn->setEnabled(false);
  cancelBtn->setEnabled(false);
  progressBar = Named(new QProgressBar, name("FMProgressBar").constData());
  progressBar->setRange(0, 100);
  progressBar->setValue(0);
  progressBar->setTextVisible(false);
  progressBar->setFixedHeight(16);

  auto* box = Named(new QGroupBox, name("FMPanel").constData());
  auto* v = new QVBoxLayout(box);
  v->setContentsMargins(8, 4, 8, 4);
  v->setSpacing(2);
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(fileLabel, 1);
  fileRow->addWidget(openBtn);
  v->addLayout(fileRow);
  v->addWidget(descLabel);
  // The bar beside the buttons, so the box fits the smallest window.
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(upgradeBtn);
  buttons->addWidget(cancelBtn);
  buttons->addWidget(progressBar, 1);
  v->addLayout(buttons);
  return box;
}

namespace {

// History, and beside it a menu of the other views of the records and the line: Compare,
// Fleet, Incidents, Production Line (the window has no room for three more buttons).
QWidget* RecordsRow(TKVTIRMainForm* form, const std::string& prefix, QPushButton* history, QToolButton*& more) {
  const std::string name = prefix + "MoreBtn";
  more = Named(new QToolButton, name.c_str());
  more->setText(QStringLiteral("More"));
  more->setMinimumHeight(28);
  more->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(more);
  menu->setObjectName(QString::fromStdString(prefix + "MoreMenu"));
  QObject::connect(menu->addAction(QStringLiteral("Compare...")), &QAction::triggered, form,
                   &TKVTIRMainForm::UserCompareBtnClick);
  QObject::connect(menu->addAction(QStringLiteral("Fleet...")), &QAction::triggered, form,
                   &TKVTIRMainForm::UserFleetBtnClick);
  QObject::connect(menu->addAction(QStringLiteral("Incidents...")), &QAction::triggered, form,
                   &TKVTIRMainForm::UserIncidentsBtnClick);
  QObject::connect(menu->addAction(QStringLiteral("Production Line...")), &QAction::triggered, form,
                   &TKVTIRMainForm::UserLineBtnClick);
  more->setMenu(menu);
  auto* w = new QWidget;
  auto* h = new QHBoxLayout(w);
  h->setContentsMargins(0, 0, 0, 0);
  h->addWidget(history, 1);
  h->addWidget(more);
  return w;
}

}  // namespace

QWidget* TKVTIRMainForm::BuildOptionsPage(bool factory) {
  const QString prefix = QLatin1String(factory ? "UserOpt" : "User");
  // Each control's objectName is its member's: the prefix, then the control's own name.
  const auto name = [&](const char* own) { return prefix + QLatin1String(own); };
  // The member a control goes to: the user view's or the factory page's.
  const auto mine = [factory](auto& user, auto& opt) -> auto& { return factory ? opt : user; };

  // The detector's identity: shown in the user view, edited on the factory page.
  std::vector<QWidget*> hardware;
  QWidget *serial, *monthLife, *dayLife;
  if (factory) {
    hardware = {UserOptHWVersionEdit = Edit("UserOptHWVersionEdit", 32767, kBoxWidth),
                UserOptIDLabel = DisplayBox("UserOptIDLabel", 110)};
    serial = UserOptSerialEdit = Edit("UserOptSerialEdit", 10);
    monthLife = UserOptMonthLifeSpin = IntSpin("UserOptMonthLifeSpin", 0, 24, 0, 60);
    dayLife = UserOptDayLifeSpin = IntSpin("UserOptDayLifeSpin", 0, 31, 0, 60);
  } else {
    hardware = {UserHWVersionLabel = DisplayBox("UserHWVersionLabel")};
    serial = UserSerialLabel = DisplayBox("UserSerialLabel", kTextWidth);
    monthLife = UserMonthLifeLabel = DisplayBox("UserMonthLifeLabel", 50);
    dayLife = UserDayLifeLabel = DisplayBox("UserDayLifeLabel", 50);
  }
  auto* swVersion = mine(UserSWVersionLabel, UserOptSWVersionLabel) = DisplayBox(name("SWVersionLabel"));
  auto* sensorType = mine(UserSensorTypeCombo, UserOptSensorTypeCombo) = Combo(name("SensorTypeCombo"), {}, kBoxWidth);
  if (!factory) sensorType->setEnabled(false);
  auto* highAlarm = mine(UserHighAlarmSpin, UserOptHighAlarmSpin) = DecSpin(name("HighAlarmSpin"), 0.0, 100.0);
  auto* lowAlarm = mine(UserLowAlarmSpin, UserOptLowAlarmSpin) = DecSpin(name("LowAlarmSpin"), 0.0, 100.0);
  auto* calInterval = mine(UserCalIntervalSpin, UserOptCalIntervalSpin) = IntSpin(name("CalIntervalSpin"), 0, 365);
  auto* bumpInterval = mine(UserBumpIntervalSpin, UserOptBumpIntervalSpin) = IntSpin(name("BumpIntervalSpin"), 0, 365);
  auto* id = mine(UserIDEdit, UserOptIDEdit) = Edit(name("IDEdit"), 6, kBoxWidth);
  auto* testInterval = mine(UserTestIntervalSpin, UserOptTestIntervalSpin) = IntSpin(name("TestIntervalSpin"), 6, 24, 20);
  auto* disp = mine(UserDispCombo, UserOptDispCombo) = Combo(name("DispCombo"), kDispItems, 185);
  auto* hideBumpLED = mine(UserHideBumpLEDCheck, UserOptHideBumpLEDCheck) =
      Named(new QCheckBox(QStringLiteral("Hide bump due LED flashing")), name("HideBumpLEDCheck"));

  auto* rows = NewRows();
  AddRow(rows, QStringLiteral("  Hardware Version"), hardware);
  AddRow(rows, QStringLiteral("  Firmware Version"), {swVersion});
  AddRow(rows, QStringLiteral("  Serial Number"), {serial});
  AddRow(rows, QStringLiteral("  Life Remaining"),
         {monthLife, Unit(QStringLiteral("Months")), dayLife, Unit(QStringLiteral("Days"))});
  AddRow(rows, QStringLiteral("  Sensor Type"), {sensorType});
  TLabel3DBorder*& highUnit = AlarmUnitLabels[factory ? 2 : 0];
  TLabel3DBorder*& lowUnit = AlarmUnitLabels[factory ? 3 : 1];
  highUnit = Named(Unit(QString()), name("HighAlarmUnitLabel"));
  lowUnit = Named(Unit(QString()), name("LowAlarmUnitLabel"));
  AddRow(rows, QStringLiteral("  High Alarm"), {highAlarm, highUnit});
  AddRow(rows, QStringLiteral("  Low Alarm"), {lowAlarm, lowUnit});
  AddRow(rows, QStringLiteral("  Calibration Interval"), {calInterval, Unit(QStringLiteral("Days"))});
  AddRow(rows, QStringLiteral("  Bump Interval"), {bumpInterval, Unit(QStringLiteral("Days"))});
  if (!factory) {
    // The measured bump test sits by the bump interval: the window has no room for another box.
    UserBumpBtn = Button("UserBumpBtn", QStringLiteral("Bump Test"));
    UserBumpBtn->setMinimumHeight(0);
    static_cast<QHBoxLayout*>(rows->itemAtPosition(rows->rowCount() - 1, 1)->layout())->addWidget(UserBumpBtn);
  }
  AddRow(rows, QStringLiteral("  User ID"), {id});
  AddRow(rows, QStringLiteral("  Self Test Interval"), {testInterval, Unit(QStringLiteral("hours"))});
  AddRow(rows, QStringLiteral("  Display"), {disp});
  AddRow(rows, QString(), {hideBumpLED});

  auto* readFile = mine(UserReadFileBtn, UserOptReadFileBtn) = Button(name("ReadFileBtn"), QStringLiteral("Read File"));
  auto* readDevice = mine(UserReadDeviceBtn, UserOptReadDeviceBtn) =
      Button(name("ReadDeviceBtn"), QStringLiteral("Read Device"));
  auto* writeFile = mine(UserWriteFileBtn, UserOptWriteFileBtn) =
      Button(name("WriteFileBtn"), QStringLiteral("Write File"));
  auto* writeDevice = mine(UserWriteDeviceBtn, UserOptWriteDeviceBtn) =
      Button(name("WriteDeviceBtn"), QStringLiteral("Write Device"));
  auto* hibernate = mine(UserHibernateBtn, UserOptHibernateBtn) = Button(name("HibernateBtn"), QStringLiteral("Hibernate"));
  auto* logSave = mine(UserLogSaveBtn, UserOptLogSaveBtn) = Button(name("LogSaveBtn"), QStringLiteral("Save Event Log"));
  auto* logPanel = mine(UserLogPanel, UserOptLogPanel) = Panel(name("LogPanel"), logSave);
  // The calibration box is the user view's alone.
  if (!factory) {
    UserCalBtn = Button("UserCalBtn", QStringLiteral("Sensor Calibration"));
    UserCalPanel = Panel("UserCalPanel", UserCalBtn);
  }
  auto* history = mine(UserHistoryBtn, UserOptHistoryBtn) = Button(name("HistoryBtn"), QStringLiteral("History"));
  connect(history, &QPushButton::clicked, this, &TKVTIRMainForm::UserHistoryBtnClick);
  QWidget* records = RecordsRow(this, prefix.toStdString(), history, mine(UserMoreBtn, UserOptMoreBtn));
  QGroupBox* firmware = mine(UserFMPanel, UserOptFMPanel) = BuildFirmwareBox(
      prefix, mine(UserFMFileLabel, UserOptFMFileLabel), mine(UserFMOpenBtn, UserOptFMOpenBtn),
      mine(UserFMDescLabel, UserOptFMDescLabel), mine(UserFMUpgradeBtn, UserOptFMUpgradeBtn),
      mine(UserFMCancelBtn, UserOptFMCancelBtn), mine(UserFMProgressBar, UserOptFMProgressBar));

  auto* v = new QVBoxLayout;
  const int margin = factory ? 8 : 10;
  v->setContentsMargins(margin, margin, margin, margin);
  v->setSpacing(factory ? 3 : 6);
  v->addLayout(rows);
  v->addLayout(ButtonRow({readFile, readDevice, writeFile, writeDevice, hibernate}));
  auto* boxes = new QHBoxLayout;
  boxes->addWidget(logPanel, 1);
  if (!factory) boxes->addWidget(UserCalPanel, 1);
  boxes->addWidget(Panel(name("HistoryPanel"), records), 1);
  // In place of the calibration box: the two keep the user view's widths.
  if (factory) boxes->addStretch(1);
  v->addLayout(boxes);
  v->addWidget(firmware);
  v->addStretch(1);
  return Page(v);
}

QWidget* TKVTIRMainForm::BuildFactoryPage() {
  constexpr int kColWidth = 72;
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(1);  // the page fits the smallest window
  grid->setColumnMinimumWidth(0, kCaptionWidth);
  grid->setColumnStretch(5, 1);
  int row = 0;
  constexpr int kHeadingHeight = 21;  // the text and the label's inset
  const auto headings = [&](std::initializer_list<const char*> texts) {
    int col = 1;
    for (const char* t : texts) {
      TLabel3DBorder* heading = Unit(QString::fromUtf8(t), kColWidth, Qt::AlignHCenter);
      heading->setFixedHeight(kHeadingHeight);
      grid->addWidget(heading, row, col++);
    }
    ++row;
  };
  const auto line = [&](const QString& caption, std::initializer_list<QWidget*> controls) {
    grid->addWidget(Caption(caption), row, 0);
    int col = 1;
    for (QWidget* w : controls) grid->addWidget(w, row, col++);
    ++row;
  };
  const auto wideLine = [&](const QString& caption, QWidget* control) {
    grid->addWidget(Caption(caption), row, 0);
    grid->addWidget(control, row, 1, 1, 2);
    ++row;
  };

  FatoryOptBatteryLimitSpin = IntSpin("FatoryOptBatteryLimitSpin", 0, 1024, 0, kColWidth);
  FatoryOptBatteryLimitStartupSpin = IntSpin("FatoryOptBatteryLimitStartupSpin", 0, 1024, 0, kColWidth);
  FatoryOptBatteryLimit1Spin = IntSpin("FatoryOptBatteryLimit1Spin", 0, 1024, 0, kColWidth);
  FatoryOptBatteryLimit2Spin = IntSpin("FatoryOptBatteryLimit2Spin", 0, 1024, 0, kColWidth);
  headings({"Critical", "Startup", "~-10℃", "- 10℃~ "});
  line(QStringLiteral("  Battery Limits"), {FatoryOptBatteryLimitSpin, FatoryOptBatteryLimitStartupSpin,
                                            FatoryOptBatteryLimit1Spin, FatoryOptBatteryLimit2Spin});

  constexpr int kWide = 2 * kColWidth + 4;
  FatoryOptAlarmTimeLabel = DisplayBox("FatoryOptAlarmTimeLabel", kWide);
  FatoryOptAlarmCountLabel = DisplayBox("FatoryOptAlarmCountLabel", kWide);
  FatoryOptTestTimeLabel = DisplayBox("FatoryOptTestTimeLabel", kWide);
  FatoryOptTestCountLabel = DisplayBox("FatoryOptTestCountLabel", kWide);
  wideLine(QStringLiteral("  Alarm Time (sec)"), FatoryOptAlarmTimeLabel);
  wideLine(QStringLiteral("  Alarm Count"), FatoryOptAlarmCountLabel);
  wideLine(QStringLiteral("  Test Time (sec)"), FatoryOptTestTimeLabel);
  wideLine(QStringLiteral("  Test Count"), FatoryOptTestCountLabel);
  FactoryOptHibernateCombo =
      Combo("FactoryOptHibernateCombo", {QString(), QStringLiteral("Allow suspend")}, kWide);
  wideLine(QStringLiteral("  Hibernate"), FactoryOptHibernateCombo);

  FatoryOptSpanGasSpin = DecSpin("FatoryOptSpanGasSpin", 0.0, 100.0, kColWidth);
  FatoryOptSensorMaxSpin = DecSpin("FatoryOptSensorMaxSpin", 0.0, 100.0, kColWidth);
  FatoryOptSensorBaseSpin = DecSpin("FatoryOptSensorBaseSpin", 0.0, 100.0, kColWidth);
  FatoryOptDeadZoneSpin = DecSpin("FatoryOptDeadZoneSpin", 0.0, 100.0, kColWidth);
  headings({"Span Gas", "Max", "Base", "Dead Zone"});
  // The four are in the sensor's unit, which follows the sensor type as the alarms' does; it
  // stands left of their headings, where the row has room.
  FatoryOptSensorUnitLabel = Named(Unit(QString(), kCaptionWidth - 8, Qt::AlignRight), "FatoryOptSensorUnitLabel");
  FatoryOptSensorUnitLabel->setFixedHeight(kHeadingHeight);
  grid->addWidget(FatoryOptSensorUnitLabel, row - 1, 0);
  line(QStringLiteral("  Sensor"),
       {FatoryOptSpanGasSpin, FatoryOptSensorMaxSpin, FatoryOptSensorBaseSpin, FatoryOptDeadZoneSpin});

  // Three signed 32-bit numbers need more room than the four columns above give: as much as
  // the longest of them, -2147483648, takes.
  FatoryOptTempComp1Spin = IntSpin("FatoryOptTempComp1Spin", INT_MIN, INT_MAX);
  FatoryOptTempComp2Spin = IntSpin("FatoryOptTempComp2Spin", INT_MIN, INT_MAX);
  FatoryOptTempComp3Spin = IntSpin("FatoryOptTempComp3Spin", INT_MIN, INT_MAX);
  // Measured in the window's font (the boxes get it only once placed); the box's frame and
  // buttons take about 20 pixels besides the text.
  const int kCompWidth =
      std::max((4 * kColWidth + 3 * 4 - 2 * 4) / 3, QFontMetrics(font()).horizontalAdvance(QStringLiteral("-2147483648")) + 24);
  for (QSpinBox* b : {FatoryOptTempComp1Spin, FatoryOptTempComp2Spin, FatoryOptTempComp3Spin}) b->setFixedWidth(kCompWidth);
  {
    auto* heads = new QHBoxLayout;
    auto* boxes = new QHBoxLayout;
    heads->setSpacing(4);
    boxes->setSpacing(4);
    for (const char* t : {"#1", "#2", "#3"}) {
      TLabel3DBorder* heading = Unit(QString::fromLatin1(t), kCompWidth, Qt::AlignHCenter);
      heading->setFixedHeight(kHeadingHeight);
      heads->addWidget(heading);
    }
    for (QSpinBox* b : {FatoryOptTempComp1Spin, FatoryOptTempComp2Spin, FatoryOptTempComp3Spin}) boxes->addWidget(b);
    heads->addStretch(1);
    boxes->addStretch(1);
    grid->addLayout(heads, row++, 1, 1, 4);
    grid->addWidget(Caption(QStringLiteral("  Temp. Comp.")), row, 0);
    grid->addLayout(boxes, row++, 1, 1, 4);
  }

  FatoryOptZeroLabel = DisplayBox("FatoryOptZeroLabel", kWide);
  FatoryOptSpanLabel = DisplayBox("FatoryOptSpanLabel", kWide);
  FatoryOptMinSpanLabel = DisplayBox("FatoryOptMinSpanLabel", kWide);
  FatoryOptTauLabel = DisplayBox("FatoryOptTauLabel", kWide);
  FatoryOptLastCalLabel = DisplayBox("FatoryOptLastCalLabel", kWide);
  FatoryOptPeakTimerLabel = DisplayBox("FatoryOptPeakTimerLabel", kWide);
  FatoryOptLastBumpTimerLabel = DisplayBox("FatoryOptLastBumpTimerLabel", kWide);
  wideLine(QStringLiteral("  Zero"), FatoryOptZeroLabel);
  wideLine(QStringLiteral("  Span"), FatoryOptSpanLabel);
  wideLine(QStringLiteral("  Minimum Span"), FatoryOptMinSpanLabel);
  wideLine(QStringLiteral("  Tau"), FatoryOptTauLabel);
  wideLine(QStringLiteral("  Last Calibration (sec)"), FatoryOptLastCalLabel);
  wideLine(QStringLiteral("  Peak Timer (sec)"), FatoryOptPeakTimerLabel);
  wideLine(QStringLiteral("  Last Bump Timer (sec)"), FatoryOptLastBumpTimerLabel);

  FatoryOptCalBtn = Button("FatoryOptCalBtn", QStringLiteral("Calibration"));
  FatoryOptTurnOffBtn = Button("FatoryOptTurnOffBtn", QStringLiteral("Turn Off"));
  FatoryOptLogResetBtn = Button("FatoryOptLogResetBtn", QStringLiteral("Log Reset"));
  FatoryOptLogSensorBtn = Button("FatoryOptLogSensorBtn", QStringLiteral("Log Readings"));

  auto* v = new QVBoxLayout;
  v->setContentsMargins(8, 8, 8, 8);
  v->setSpacing(8);
  v->addLayout(grid);
  MarkDestructive(FatoryOptLogResetBtn);
  auto* buttonRow = ButtonRow({FatoryOptCalBtn, FatoryOptTurnOffBtn});
  buttonRow->addSpacing(16);
  buttonRow->addWidget(FatoryOptLogResetBtn);
  buttonRow->addSpacing(16);
  buttonRow->addWidget(FatoryOptLogSensorBtn);
  v->addLayout(buttonRow);
  v->addStretch(1);
  return Page(v);
}

QWidget* TKVTIRMainForm::BuildTestPage() {
  EtcFactoryResetBtn = Button("EtcFactoryResetBtn", QStringLiteral("Factory Reset"));
  EtcIdentifyBtn = Button("EtcIdentifyBtn", QStringLiteral("Identify"));
  EtcBeepONBtn = Button("EtcBeepONBtn", QStringLiteral("Beep ON"));
  EtcRLEDONBtn = Button("EtcRLEDONBtn", QStringLiteral("R LED ON"));
  EtcLLEDONBtn = Button("EtcLLEDONBtn", QStringLiteral("L LED ON"));
  EtcVibratorBtn = Button("EtcVibratorBtn", QStringLiteral("Vibrator"));
  EtcClearPeakBtn = Button("EtcClearPeakBtn", QStringLiteral("Clear Peak"));
  EtcBumpFailBtn = Button("EtcBumpFailBtn", QStringLiteral("Bump Fail"));
  EtcBumpPassBtn = Button("EtcBumpPassBtn", QStringLiteral("Bump Pass"));
  int tag = 1;
  for (QPushButton* b : {EtcBeepONBtn, EtcRLEDONBtn, EtcLLEDONBtn, EtcVibratorBtn}) b->setProperty("tag", tag++);
  tag = 1;
  for (QPushButton* b : {EtcClearPeakBtn, EtcBumpFailBtn, EtcBumpPassBtn}) b->setProperty("tag", tag++);

  EtcEEPROMReadBtn = Button("EtcEEPROMReadBtn", QStringLiteral("Read"));
  EtcEEPROMSaveBtn = Button("EtcEEPROMSaveBtn", QStringLiteral("Save File"));
  EtcEEPROMSaveLogBtn = Button("EtcEEPROMSaveLogBtn", QStringLiteral("Read/Save Log"));

  EtcEEPROMGrid = Named(new QTableWidget(0, 17), "EtcEEPROMGrid");
  EtcEEPROMGrid->horizontalHeader()->hide();
  EtcEEPROMGrid->verticalHeader()->hide();
  EtcEEPROMGrid->horizontalHeader()->setMinimumSectionSize(10);
  EtcEEPROMGrid->setColumnWidth(0, 44);
  for (int c = 1; c <= 16; ++c) EtcEEPROMGrid->setColumnWidth(c, 22);
  EtcEEPROMGrid->verticalHeader()->setMinimumSectionSize(10);
  EtcEEPROMGrid->verticalHeader()->setDefaultSectionSize(17);
  EtcEEPROMGrid->setTextElideMode(Qt::ElideNone);
  EtcEEPROMGrid->setWordWrap(false);
  EtcEEPROMGrid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed);
  EtcEEPROMGrid->setItemDelegate(new EEPROMCellDelegate(this, EtcEEPROMGrid));
  QFont gridFont = font();
  gridFont.setPixelSize(11);
  EtcEEPROMGrid->setFont(gridFont);
  EtcEEPROMGrid->setMinimumWidth(44 + 16 * 22 + EtcEEPROMGrid->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);
  EtcEEPROMGrid->setMinimumHeight(200);

  EtcEEPROMGB = Named(new QGroupBox(QStringLiteral("EEPROM")), "EtcEEPROMGB");
  auto* g = new QVBoxLayout(EtcEEPROMGB);
  g->setContentsMargins(8, 8, 8, 8);
  g->addLayout(ButtonRow({EtcEEPROMReadBtn, EtcEEPROMSaveBtn, EtcEEPROMSaveLogBtn}));
  g->addWidget(EtcEEPROMGrid, 1);

  auto* v = new QVBoxLayout;
  v->setContentsMargins(8, 8, 8, 8);
  v->setSpacing(6);
  MarkDestructive(EtcFactoryResetBtn);
  auto* row1 = ButtonRow({EtcFactoryResetBtn});
  row1->addSpacing(40);
  row1->addWidget(EtcIdentifyBtn);
  row1->addStretch(1);
  v->addLayout(row1);
  v->addLayout(ButtonRow({EtcBeepONBtn, EtcRLEDONBtn, EtcLLEDONBtn, EtcVibratorBtn}));
  auto* row3 = ButtonRow({EtcClearPeakBtn, EtcBumpFailBtn, EtcBumpPassBtn});
  v->addLayout(row3);
  v->addWidget(EtcEEPROMGB, 1);
  return Page(v);
}

QWidget* TKVTIRMainForm::BuildStatusPanel() {
  StatusPanel = Named(new QWidget, "StatusPanel");
  StatusPanel->setFixedHeight(28);
  auto* h = new QHBoxLayout(StatusPanel);
  h->setContentsMargins(0, 0, 0, 0);
  h->setSpacing(0);
  const auto part = [](const char* name) {
    auto* l = Named(new TLabel3DBorder, name);
    l->SetBorderStyle(TLabel3DBorder::bsRaisedFrame);
    l->SetVerticalAlign(TLabel3DBorder::vaCenter);
    l->setAlignment(Qt::AlignHCenter);
    l->SetColor(Qt::white);
    l->SetShowAccelChar(false);
    l->setMinimumWidth(0);
    l->setFixedHeight(28);
    return l;
  };
  StatusLabel = part("StatusLabel");
  StatusTimeLabel = part("StatusTimeLabel");
  StatusTimeLabel->setFixedWidth(120);
  h->addWidget(StatusLabel, 1);
  h->addWidget(StatusTimeLabel);
  return StatusPanel;
}

QWidget* TKVTIRMainForm::BuildCustomerPanel() {
  CustomerPanel = Named(new QWidget, "CustomerPanel");
  CustomerPanel->setFixedHeight(88);
  CustomerPanel->setAutoFillBackground(true);
  QPalette white = CustomerPanel->palette();
  white.setColor(QPalette::Window, Qt::white);
  CustomerPanel->setPalette(white);

  CustomerImage = Named(new TLogoImage, "CustomerImage");
  CustomerLabel = Named(new TLabel3DBorder(QStringLiteral("QRB Sensing Ltd.\n"
                                                          "4 Lantern Yard, Westbrook Park\n"
                                                          "Harwick HW3 9QZ\n"
                                                          "Tel +00 555 0142 70   Fax +00 555 0142 71")),
                        "CustomerLabel");
  CustomerLabel->SetTransparent(true);
  CustomerLabel->SetShowAccelChar(false);
  QFont small = font();
  small.setPixelSize(11);
  CustomerLabel->setFont(small);
  CustomerLabel->setFixedHeight(CustomerLabel->MeasureCaption().height() + 2 * TLabel3DBorder::kTextInset);
  CustomerLabel->setMinimumWidth(200);
  CustomerLabel->setMaximumWidth(QWIDGETSIZE_MAX);

  CustomerUrlLabel = Named(new TLabel3DBorder(QStringLiteral("service@qrb-sensing.example")), "CustomerUrlLabel");
  CustomerUrlLabel->SetTransparent(true);
  CustomerUrlLabel->SetShowAccelChar(false);
  QFont link = small;
  link.setUnderline(true);
  CustomerUrlLabel->setFont(link);
  CustomerUrlLabel->SetFontColor(Qt::blue);
  CustomerUrlLabel->setCursor(Qt::PointingHandCursor);
  CustomerUrlLabel->setFixedHeight(CustomerUrlLabel->MeasureCaption().height() + 2 * TLabel3DBorder::kTextInset);
  CustomerUrlLabel->setMinimumWidth(200);
  CustomerUrlLabel->setMaximumWidth(QWIDGETSIZE_MAX);

  auto* h = new QHBoxLayout(CustomerPanel);
  h->setContentsMargins(8, 4, 8, 4);
  h->setSpacing(10);
  h->addWidget(CustomerImage, 0, Qt::AlignVCenter);
  auto* text = new QVBoxLayout;
  text->setSpacing(0);
  text->addStretch(1);
  text->addWidget(CustomerLabel);
  text->addWidget(CustomerUrlLabel);
  text->addStretch(1);
  h->addLayout(text, 1);
  return CustomerPanel;
}

void TKVTIRMainForm::BuildWindow() {
  QFont arial(QStringLiteral("Arial"));
  arial.setPixelSize(13);
  setFont(arial);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(244, 244, 244));
  setPalette(pal);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setMinimumSize(kMinWidth, kMinHeight);
  resize(500, 750);

  UserScrollBox = ScrollBox("UserScrollBox", BuildOptionsPage(false));

  PageControl = Named(new QTabWidget, "PageControl");
  // Only the tabs take a style sheet, so the pages keep the window's font and style.
  PageControl->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { width: 140px; height: 24px; }"));
  UserTS = Named(BuildOptionsPage(true), "UserTS");
  FactoryTS = Named(BuildFactoryPage(), "FactoryTS");
  ETCTS = Named(BuildTestPage(), "ETCTS");
  PageControl->addTab(UserTS, QStringLiteral("User Options"));
  PageControl->addTab(FactoryTS, QStringLiteral("Factory Options"));
  PageControl->addTab(ETCTS, QStringLiteral("TEST"));
  auto* devContent = new QWidget;
  auto* dv = new QVBoxLayout(devContent);
  dv->setContentsMargins(2, 2, 2, 0);
  dv->addWidget(PageControl);
  DevScrollBox = ScrollBox("DevScrollBox", devContent);

  Memo = Named(new QPlainTextEdit, "Memo");
  Memo->setReadOnly(true);
  Memo->setFixedWidth(280);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont memoFont(QStringLiteral("Arial"));
  memoFont.setPixelSize(11);
  Memo->setFont(memoFont);
  Memo->hide();

  // Strips across the window, shown only while they have something to say; each keeps the
  // status line its full width for the result texts.
  const auto strip = [](const char* name, const QColor& colour) {
    auto* l = Named(new TLabel3DBorder, name);
    l->SetBorderStyle(TLabel3DBorder::bsRaisedFrame);
    l->SetVerticalAlign(TLabel3DBorder::vaCenter);
    l->setAlignment(Qt::AlignHCenter);
    l->SetColor(colour);
    l->SetShowAccelChar(false);
    l->setFixedHeight(22);
    l->setMinimumWidth(0);
    l->setMaximumWidth(QWIDGETSIZE_MAX);
    l->hide();
    return l;
  };
  // At the top, against the simulated detector, so that nobody takes it for a real one.
  SimulatedLabel = strip("SimulatedLabel", QColor(255, 170, 0));
  QFont bold = font();
  bold.setBold(true);
  SimulatedLabel->setFont(bold);
  // Above the status line, while records wait for the site server.
  SiteLabel = strip("SiteLabel", QColor(255, 245, 200));

  auto* central = new QWidget;
  auto* v = new QVBoxLayout(central);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);
  v->addWidget(SimulatedLabel);
  v->addWidget(BuildSimGasPanel());
  auto* work = new QHBoxLayout;
  work->setContentsMargins(0, 0, 0, 0);
  work->setSpacing(0);
  work->addWidget(UserScrollBox, 1);
  work->addWidget(DevScrollBox, 1);
  work->addWidget(Memo);
  v->addLayout(work, 1);
  v->addWidget(BuildCustomerPanel());
  v->addWidget(SiteLabel);
  v->addWidget(BuildStatusPanel());
  setCentralWidget(central);

  // Until the first activation picks the view, the user view is what a start shows.
  DevScrollBox->hide();

  TimeTimer = new QTimer(this);
  TimeTimer->setObjectName(QStringLiteral("TimeTimer"));
  TimeTimer->setInterval(1000);
}

std::vector<QWidget*> TKVTIRMainForm::NumberBoxes() const {
  return {UserHighAlarmSpin,          UserLowAlarmSpin,
          UserCalIntervalSpin,        UserBumpIntervalSpin,
          UserTestIntervalSpin,       UserOptMonthLifeSpin,
          UserOptDayLifeSpin,         UserOptHighAlarmSpin,
          UserOptLowAlarmSpin,        UserOptCalIntervalSpin,
          UserOptBumpIntervalSpin,    UserOptTestIntervalSpin,
          FatoryOptBatteryLimitSpin,  FatoryOptBatteryLimitStartupSpin,
          FatoryOptBatteryLimit1Spin, FatoryOptBatteryLimit2Spin,
          FatoryOptSpanGasSpin,       FatoryOptSensorMaxSpin,
          FatoryOptSensorBaseSpin,    FatoryOptDeadZoneSpin,
          FatoryOptTempComp1Spin,     FatoryOptTempComp2Spin,
          FatoryOptTempComp3Spin};
}

std::vector<TDecimalBox*> TKVTIRMainForm::SensorRangeBoxes() const {
  return {UserHighAlarmSpin,    UserLowAlarmSpin,       UserOptHighAlarmSpin,    UserOptLowAlarmSpin,
          FatoryOptSpanGasSpin, FatoryOptSensorMaxSpin, FatoryOptSensorBaseSpin, FatoryOptDeadZoneSpin};
}

void TKVTIRMainForm::PrepareEEPROMGrid(int rows) {
  EtcEEPROMGrid->clearContents();
  EtcEEPROMGrid->setRowCount(rows);
  const QColor fixed = palette().color(QPalette::Button);
  for (int r = 0; r < rows; ++r) {
    auto* address = new QTableWidgetItem(QString::fromStdString(EEPROMGridAddressText(r)));
    address->setFlags(Qt::ItemIsEnabled);
    address->setBackground(fixed);
    EtcEEPROMGrid->setItem(r, 0, address);
    for (int c = 1; c <= 16; ++c) {
      auto* cell = new QTableWidgetItem(QStringLiteral("FF"));
      cell->setTextAlignment(Qt::AlignCenter);
      EtcEEPROMGrid->setItem(r, c, cell);
    }
  }
}
