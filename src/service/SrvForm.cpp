#include "service/SrvForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/BusyCursor.h"
#include "base/ButtonBox.h"
#include "base/Diag.h"
#include "base/EnterMovesOn.h"
#include "base/IntConversion.h"
#include "base/Prompter.h"
#include "link/FrameLink.h"
#include "service/ServiceCommands.h"


namespace {

using quelm::BusyCursor;

// The actions that always tell of a failed exchange. Under diagnostic bit
// 0x04 the trace has shown the very same line already.
void showSendFailure() {
  if (!(DiagFlags & quelm::kDiagBox))
    quelm::showMessage(quelm::MessageKind::Plain, QString(), QStringLiteral("ERR_SENDCOMCMD"));
}

QLineEdit* edit(const char* name, QWidget* parent) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QLatin1String(name));
  return e;
}

}  // namespace

TSrvForm::TSrvForm(TFrameLink* link, QWidget* parent) : QWidget(parent, Qt::Window), Link(link) {
  quelm::TraceLine trace(QStringLiteral("TSrvForm::TSrvForm(): "));
  setObjectName(QStringLiteral("SrvForm"));
  setWindowTitle(QStringLiteral("Service Functions"));

  HVSettingGroupBox = new QGroupBox(QStringLiteral("High Voltage (D1-A) setting"), this);
  HVByCtrlByteLabel = new QLabel(QStringLiteral("0-1150 [V]"), HVSettingGroupBox);
  HVEdit = edit("HVEdit", HVSettingGroupBox);
  HVEdit->setMaxLength(4);
  HVButton = quelm::makeButton(HVSettingGroupBox, "HVButton", QStringLiteral("&Set"));
  quelm::boxRow({HVByCtrlByteLabel, HVEdit, HVButton}, HVSettingGroupBox);

  HeatingCurrentSettingGroupBox = new QGroupBox(QStringLiteral("Heating Current setting"), this);
  HCByCtrlByteLabel = new QLabel(QStringLiteral("0-4000 [mA]"), HeatingCurrentSettingGroupBox);
  HCEdit = edit("HCEdit", HeatingCurrentSettingGroupBox);
  HCButton = quelm::makeButton(HeatingCurrentSettingGroupBox, "HCButton", QStringLiteral("S&et"));
  quelm::boxRow({HCByCtrlByteLabel, HCEdit, HCButton}, HeatingCurrentSettingGroupBox);

  CtrlBitsSettingGroupBox = new QGroupBox(QStringLiteral("Setting Control Bits"), this);
  auto* bits = new QGridLayout(CtrlBitsSettingGroupBox);
  const auto check = [&](const char* name, const QString& caption, int row) {
    auto* c = new QCheckBox(caption, CtrlBitsSettingGroupBox);
    c->setObjectName(QLatin1String(name));
    bits->addWidget(c, row, 0);
    bits->addWidget(new QLabel(QStringLiteral("(On/Off)"), CtrlBitsSettingGroupBox), row, 1);
    return c;
  };
  HeatingCheckBox = check("HeatingCheckBox", QStringLiteral("&Heating"), 0);
  CalLightCheckBox = check("CalLightCheckBox", QStringLiteral("&Calibration light"), 1);
  HVCheckBox = check("HVCheckBox", QStringLiteral("High &Voltage"), 2);
  BulbSenseLEDCheckBox = check("BulbSenseLEDCheckBox", QStringLiteral("&Bulb Sense LED"), 3);
  SensitivityLabel = new QLabel(QStringLiteral("Sensitivity:"), CtrlBitsSettingGroupBox);
  SensitivityComboBox = new QComboBox(CtrlBitsSettingGroupBox);
  SensitivityComboBox->setObjectName(QStringLiteral("SensitivityComboBox"));
  HighMediumLowLabel = new QLabel(QStringLiteral("(High/Medium/Low)"), CtrlBitsSettingGroupBox);
  CtrlBitsButton = quelm::makeButton(CtrlBitsSettingGroupBox, "CtrlBitsButton", QStringLiteral("Se&t"));
  bits->addWidget(SensitivityLabel, 4, 0);
  bits->addWidget(SensitivityComboBox, 4, 1);
  bits->addWidget(HighMediumLowLabel, 4, 2);
  bits->addWidget(CtrlBitsButton, 5, 2);

  ReadingADCGroupBox = new QGroupBox(QStringLiteral("Reading ADC"), this);
  ADINLabel = new QLabel(QStringLiteral("Input [mV]"), ReadingADCGroupBox);
  ADINEdit = edit("ADINEdit", ReadingADCGroupBox);
  ADBATLabel = new QLabel(QStringLiteral("BAT [V]"), ReadingADCGroupBox);
  ADBATEdit = edit("ADBATEdit", ReadingADCGroupBox);
  ReadingADCButton = quelm::makeButton(ReadingADCGroupBox, "ReadingADCButton", QStringLiteral("&Read"));
  quelm::gridRows({{ADINLabel, ADINEdit}, {ADBATLabel, ADBATEdit}, {nullptr, ReadingADCButton}},
                  ReadingADCGroupBox);

  GroupBox1 = new QGroupBox(QStringLiteral("Reading RTC (Real Time Clock)"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  ReadingRTCButton = quelm::makeButton(GroupBox1, "ReadingRTCButton", QStringLiteral("Re&ad"));
  ReadingRTCEdit = edit("ReadingRTCEdit", GroupBox1);
  quelm::boxRow({ReadingRTCButton, ReadingRTCEdit}, GroupBox1);

  ErrorLogGroupBox = new QGroupBox(QStringLiteral("Error Log"), this);
  ErrorLogListBox = new QListWidget(ErrorLogGroupBox);
  ErrorLogListBox->setObjectName(QStringLiteral("ErrorLogListBox"));
  // The log lines align their columns with blanks.
  ErrorLogListBox->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  ReadLogButton = quelm::makeButton(ErrorLogGroupBox, "ReadLogButton", QStringLiteral("Read "));
  DeleteLogButton = quelm::makeButton(ErrorLogGroupBox, "DeleteLogButton", QStringLiteral("Delete"));
  auto* log = new QGridLayout(ErrorLogGroupBox);
  log->addWidget(ErrorLogListBox, 0, 0, 1, 2);
  log->addWidget(ReadLogButton, 1, 0);
  log->addWidget(DeleteLogButton, 1, 1);

  EnableSettingButton =
      quelm::makeButton(this, "EnableSettingButton", QStringLiteral("E&nable Automatic Setting"));
  DisableSettingButton =
      quelm::makeButton(this, "DisableSettingButton", QStringLiteral("&Disable Automatic Setting"));
  SrvCancelButton = quelm::makeButton(this, "SrvCancelButton", QStringLiteral("E&xit"));

  const auto left = quelm::boxColumn({HVSettingGroupBox, HeatingCurrentSettingGroupBox, CtrlBitsSettingGroupBox});
  const auto right = quelm::boxColumn({ReadingADCGroupBox, GroupBox1, ErrorLogGroupBox});
  quelm::boxColumn({quelm::boxRow({left, right}),
                    quelm::boxRow({EnableSettingButton, DisableSettingButton, quelm::kStretch, SrvCancelButton})},
                   this);

  quelm::connectClicks<TSrvForm>(this, {{HVButton, &TSrvForm::HVButtonClick},
                                        {HCButton, &TSrvForm::HCButtonClick},
                                        {CtrlBitsButton, &TSrvForm::CtrlBitsButtonClick},
                                        {ReadingADCButton, &TSrvForm::ReadingADCButtonClick},
                                        {ReadingRTCButton, &TSrvForm::ReadingRTCButtonClick},
                                        {EnableSettingButton, &TSrvForm::EnableSettingButtonClick},
                                        {DisableSettingButton, &TSrvForm::DisableSettingButtonClick},
                                        {ReadLogButton, &TSrvForm::ReadLogButtonClick},
                                        {DeleteLogButton, &TSrvForm::DeleteLogButtonClick},
                                        {SrvCancelButton, &TSrvForm::SrvCancelButtonClick}});
  quelm::enterMovesOn({HVEdit, HCEdit, ADINEdit, ADBATEdit});

  FormCreate();
  move(kLeft, kTop);
  trace.ok();
}

TSrvForm::~TSrvForm() = default;

void TSrvForm::FormCreate() {
  quelm::TraceLine trace(QStringLiteral("TSrvForm::FormCreate(): "));
  SensitivityComboBox->clear();
  for (const char* name : quelm::kSensitivityNames) SensitivityComboBox->addItem(QString::fromLatin1(name));
  SensitivityComboBox->setCurrentIndex(quelm::kSensitivityHigh);
  trace.ok();
}

void TSrvForm::SetReaderAvailable(bool available) {
  for (QWidget* w : std::initializer_list<QWidget*>{
           HVSettingGroupBox, HeatingCurrentSettingGroupBox, CtrlBitsSettingGroupBox, ReadingADCGroupBox,
           GroupBox1, ErrorLogGroupBox, EnableSettingButton, DisableSettingButton})
    w->setEnabled(available);
}

void TSrvForm::SetValue(QLineEdit* field, int which) {
  QString error;
  const std::optional<int32_t> entered = quelm::StrToInt(field->text(), &error);
  if (!entered) {
    quelm::showConversionError(error);
    return;
  }
  const uint16_t v = which == quelm::kSetHighVoltage ? quelm::HighVoltageValue(*entered)
                                                     : quelm::HeatingCurrentValue(*entered);
  BusyCursor busy;
  quelm::SendSetValue(which, v);  // silent on failure: the trace tells
}

void TSrvForm::HVButtonClick() { SetValue(HVEdit, quelm::kSetHighVoltage); }

void TSrvForm::HCButtonClick() { SetValue(HCEdit, quelm::kSetHeatingCurrent); }

void TSrvForm::CtrlBitsButtonClick() {
  quelm::ControlBits bits;
  bits.heating = HeatingCheckBox->isChecked();
  bits.calibrationLight = CalLightCheckBox->isChecked();
  bits.highVoltage = HVCheckBox->isChecked();
  bits.bulbSenseLed = BulbSenseLEDCheckBox->isChecked();
  bits.sensitivity = SensitivityComboBox->currentIndex();
  BusyCursor busy;
  quelm::SendControlBits(quelm::ControlByte(bits));
}

void TSrvForm::ReadingADCButtonClick() {
  quelm::AdcReading r;
  int rc = 0;
  {
    BusyCursor busy;
    rc = quelm::ReadAdc(&r);
  }
  if (rc != 0) return;
  ADINEdit->setText(quelm::FormatAdcInput(r.input));
  ADBATEdit->setText(quelm::FormatBatteryVolts(r.battery));
}

void TSrvForm::ReadingRTCButtonClick() {
  uint8_t clock[quelm::kClockBytes] = {};
  int rc = 0;
  {
    BusyCursor busy;
    rc = quelm::ReadClock(clock);
  }
  if (rc == 0) ReadingRTCEdit->setText(quelm::FormatClock(clock));
}

void TSrvForm::AutomaticSetting(bool enable) {
  int rc = 0;
  {
    BusyCursor busy;
    rc = quelm::SendAutomaticSetting(enable);
  }
  if (rc != 0) showSendFailure();
}

void TSrvForm::EnableSettingButtonClick() { AutomaticSetting(true); }

void TSrvForm::DisableSettingButtonClick() { AutomaticSetting(false); }

void TSrvForm::ReadLogButtonClick() {
  ErrorLogListBox->clear();
  uint8_t log[quelm::kErrorLogBytes] = {};
  int rc = 0;
  {
    BusyCursor busy;
    rc = quelm::ReadErrorLog(log);
  }
  if (rc != 0) {
    showSendFailure();
    return;
  }
  ErrorLogListBox->addItems(quelm::FormatErrorLog(log));
}

void TSrvForm::DeleteLogButtonClick() {
  int rc = 0;
  {
    BusyCursor busy;
    rc = quelm::DeleteErrorLog();
  }
  if (rc != 0) showSendFailure();
  ErrorLogListBox->clear();
}

void TSrvForm::SrvCancelButtonClick() {
  quelm::TraceLine trace(QStringLiteral("TSrvForm::SrvCancelButtonClick(): "));
  if (Link) Link->LoaderWaiting = 0;
  move(kLeft, kTop);
  hide();
  trace.ok();
}
