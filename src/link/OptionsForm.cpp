#include "link/OptionsForm.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "base/ButtonBox.h"
#include "base/Diag.h"
#include "base/EnterMovesOn.h"
#include "base/Prompter.h"
#include "link/COMPort.h"

namespace {
constexpr int kPortEntries = 17;  // "-----", COM1..COM16

// A list of so many lines scrolls in a box of its visible lines; the
// platform's style would open it as a menu as tall as the whole list.
class ScrollingListStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_ComboBox_Popup) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};
constexpr int kBaudEntries = 16;  // "-----", the 15 rates
constexpr int kDefaultBaudIndex = br19200;
}  // namespace

TOptionsForm::TOptionsForm(TCOMPort& port, TSavedPortChoice saved, QWidget* parent)
    : QDialog(parent), COMPortDrv(port), Saved(std::move(saved)) {
  quelm::TraceLine trace(QStringLiteral("TOptionsForm::TOptionsForm(): "));
  setObjectName(QStringLiteral("OptionsForm"));
  setWindowTitle(QStringLiteral("Options"));

  SerialPortSetupGroupBox = new QGroupBox(QStringLiteral("Serial port setup"), this);
  NurvoCOMPortNumberLabel = new QLabel(QStringLiteral("&Port number"), SerialPortSetupGroupBox);
  PortNumberComboBox = new QComboBox(SerialPortSetupGroupBox);
  PortNumberComboBox->setObjectName(QStringLiteral("PortNumberComboBox"));
  PortNumberComboBox->setEditable(false);
  PortNumberComboBox->setMaxVisibleItems(4);
  auto* listStyle = new ScrollingListStyle;
  listStyle->setParent(PortNumberComboBox);
  PortNumberComboBox->setStyle(listStyle);
  NurvoCOMPortNumberLabel->setBuddy(PortNumberComboBox);
  DevicePathLabel = new QLabel(SerialPortSetupGroupBox);
  DevicePathLabel->setObjectName(QStringLiteral("DevicePathLabel"));
  DevicePathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  BaudRateLabel = new QLabel(QStringLiteral("B&audRate"), SerialPortSetupGroupBox);
  BaudRateComboBox = new QComboBox(SerialPortSetupGroupBox);
  BaudRateComboBox->setObjectName(QStringLiteral("BaudRateComboBox"));
  BaudRateComboBox->setEditable(true);
  BaudRateComboBox->setInsertPolicy(QComboBox::NoInsert);
  BaudRateComboBox->lineEdit()->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]{0,6}|-{0,5}")), BaudRateComboBox));
  BaudRateLabel->setBuddy(BaudRateComboBox);

  quelm::gridRows({{NurvoCOMPortNumberLabel, PortNumberComboBox},
                   {nullptr, DevicePathLabel},
                   {BaudRateLabel, BaudRateComboBox}},
                  SerialPortSetupGroupBox);

  OKButton = quelm::makeButton(this, "OKButton", QStringLiteral("&OK"));
  // Enter cancels: a stray key press never changes the port.
  CancelButton = quelm::makeDefaultButton(this, "CancelButton", QStringLiteral("&Cancel"));
  auto* buttons = quelm::buttonRow({OKButton, CancelButton});
  quelm::fixedColumn({SerialPortSetupGroupBox, buttons}, this);
  move(50, 50);

  connect(OKButton, &QPushButton::clicked, this, &TOptionsForm::OKButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TOptionsForm::CancelButtonClick);
  connect(PortNumberComboBox, &QComboBox::currentIndexChanged, this, &TOptionsForm::ShowDevicePath);
  connect(BaudRateComboBox, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i >= 0) LastBaudIndex = i;
  });
  connect(BaudRateComboBox->lineEdit(), &QLineEdit::editingFinished, this, &TOptionsForm::ResolveBaudText);
  FormCreate();
  trace.ok();
}

TOptionsForm::~TOptionsForm() = default;

void TOptionsForm::FormCreate() {
  quelm::TraceLine trace(QStringLiteral("TOptionsForm::FormCreate(): "));
  PortNumberComboBox->clear();
  PortNumberComboBox->addItem(QStringLiteral("-----"));
  for (int n = 1; n < kPortEntries; ++n) PortNumberComboBox->addItem(QStringLiteral("COM%1").arg(n));
  BaudRateComboBox->clear();
  BaudRateComboBox->addItem(QStringLiteral("-----"));
  for (int b = 1; b < kBaudEntries; ++b) BaudRateComboBox->addItem(QString::number(Win32BaudRates[b]));

  const TPortChoice choice = HandSavedPortChoice(COMPortDrv, Saved);
  PortNumberComboBox->setCurrentIndex(choice.port);
  ShowDevicePath(choice.port);
  BaudRateComboBox->setCurrentIndex(choice.baud);
  LastBaudIndex = choice.baud;
  trace.ok();
}

TPortChoice HandSavedPortChoice(TCOMPort& port, const TSavedPortChoice& saved) {
  // A saved index outside the lists would select nothing and reach the port
  // as an invalid number: no port (asked for at the first exchange) and the
  // default rate instead, written back so the configuration heals.
  TPortChoice c{saved.PortNumber ? saved.PortNumber() : pnCOM1,
                saved.BaudRate ? saved.BaudRate() : kDefaultBaudIndex};
  if (c.port < 0 || c.port >= kPortEntries) {
    c.port = pnCustom;
    if (saved.SetPortNumber) saved.SetPortNumber(c.port);
  }
  if (c.baud < 0 || c.baud >= kBaudEntries) {
    c.baud = kDefaultBaudIndex;
    if (saved.SetBaudRate) saved.SetBaudRate(c.baud);
  }
  port.SetPortNumber(static_cast<TPortNumber>(c.port));
  port.SetBaudRate(static_cast<TBaudRate>(c.baud));
  return c;
}

void TOptionsForm::ShowDevicePath(int portIndex) {
  DevicePathLabel->setText(portIndex <= 0 ? QStringLiteral("(no port)")
                                          : COMPortDrv.DevicePathFor(portIndex));
}

void TOptionsForm::ResolveBaudText() {
  // Only the list's entries are rates; typed text that names none of them
  // falls back to the last valid choice.
  const int i = BaudRateComboBox->findText(BaudRateComboBox->currentText().trimmed(), Qt::MatchFixedString);
  BaudRateComboBox->setCurrentIndex(i >= 0 ? i : LastBaudIndex);
  BaudRateComboBox->setEditText(BaudRateComboBox->itemText(BaudRateComboBox->currentIndex()));
}

void TOptionsForm::AddSection(Section section) {
  section.group->setParent(this);
  // Above the OK and Cancel row.
  auto* column = static_cast<QVBoxLayout*>(layout());
  column->insertWidget(column->count() - 1, section.group);
  Sections.push_back(std::move(section));
}

void TOptionsForm::OKButtonClick() {
  for (const Section& s : Sections)
    if (s.accept && !s.accept()) return;
  ResolveBaudText();
  const int port = PortNumberComboBox->currentIndex();
  const int baud = BaudRateComboBox->currentIndex();
  COMPortDrv.SetPortNumber(static_cast<TPortNumber>(port));
  if (Saved.SetPortNumber) Saved.SetPortNumber(port);
  COMPortDrv.SetBaudRate(static_cast<TBaudRate>(baud));
  if (Saved.SetBaudRate) Saved.SetBaudRate(baud);
  done(quelm::mrOk);
}

void TOptionsForm::CancelButtonClick() {
  quelm::TraceLine trace(QStringLiteral("TOptionsForm::CancelButtonClick(): "));
  // Back to the port's own choice for the next showing.
  PortNumberComboBox->setCurrentIndex(COMPortDrv.PortNumber());
  BaudRateComboBox->setCurrentIndex(COMPortDrv.BaudRate());
  for (const Section& s : Sections)
    if (s.load) s.load();
  done(quelm::mrCancel);
  trace.ok();
}

void TOptionsForm::reject() { CancelButtonClick(); }
