#include "parameters/DptForm.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "base/SharedFileDialogs.h"
#include "parameters/BusyCursor.h"

namespace {

struct EditRow {
  const char* label;
  const char* key;
  QLineEdit* TDptForm::*edit;
};

// The window's rows, top to bottom.
const EditRow kRows[] = {
    {"Reader Type [A-Z]", "RTYPE", &TDptForm::RTYPEEdit},
    {"Reader Serial Number", "DID", &TDptForm::DIDEdit},
    {"PMT Voltage High Level [V]", "HVH", &TDptForm::HVHEdit},
    {"PMT Voltage Medium Level [V]", "HVM", &TDptForm::HVMEdit},
    {"PMT Voltage Low Level  [V]", "HVL", &TDptForm::HVLEdit},
    {"Light Calibration Low Limit [count]", "DCALL", &TDptForm::DCALLEdit},
    {"Light Calibration High Limit [count]", "DCALH", &TDptForm::DCALHEdit},
    {"Background Cal. High Limit [count]", "DCBGH", &TDptForm::DCBGHEdit},
    {"Max. Operating Temperature [°C]", "MAXT", &TDptForm::MAXTEdit},
    {"Min. Operating Temperature [°C]", "MINT", &TDptForm::MINTEdit},
    {"Battery Full [*0.1V]", "U100", &TDptForm::U100Edit},
    {"Battery Min. [*0.1V]", "U0", &TDptForm::U0Edit},
    {"Light Calibration 20°C", "DCAL20", &TDptForm::DCAL20Edit},
    {"Light Calibration f(t) X", "DCALX1", &TDptForm::DCALX1Edit},
    {"Max. Post Heat Time [s]", "POSTH", &TDptForm::POSTHEdit},
    {"Contrast Correction [%/°C]", "CONTR", &TDptForm::CONTREdit},
};

const QString kFilter = QStringLiteral("Reader parameter table files (*.rpt)|*.RPT");

using quelm::BusyCursor;

QString handler(const char* name) { return QStringLiteral("TDptForm::%1(): ").arg(QLatin1String(name)); }

}  // namespace

TDptForm::TDptForm(std::function<int32_t()> maxPostHeating, QWidget* parent)
    : QDialog(parent), maxPostHeating_(std::move(maxPostHeating)) {
  quelm::TraceLine trace(QStringLiteral("TDptForm::T7DptForm(): "));
  setObjectName(QStringLiteral("DptForm"));
  setWindowTitle(QStringLiteral("Reader Parameter Table"));
  setWindowFlags(Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  move(20, 20);

  auto* rows = new QGridLayout;
  int row = 0;
  for (const EditRow& r : kRows) {
    const int field = Table.Edits.indexOf(r.key);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(r.key) + QStringLiteral("Edit"));
    auto* label = new QLabel(QString::fromUtf8(r.label), this);
    label->setBuddy(edit);
    rows->addWidget(label, row, 0);
    rows->addWidget(edit, row, 1);
    ++row;
    this->*r.edit = edit;
    edits_[static_cast<size_t>(field)] = edit;
    if (r.edit != &TDptForm::CONTREdit) edit->installEventFilter(this);
  }

  FileGroupBox = new QGroupBox(QStringLiteral("File I/O"), this);
  ReadFileButton = new QPushButton(QStringLiteral("&Load"), FileGroupBox);
  ReadFileButton->setObjectName(QStringLiteral("ReadFileButton"));
  WriteFileButton = new QPushButton(QStringLiteral("&Save"), FileGroupBox);
  WriteFileButton->setObjectName(QStringLiteral("WriteFileButton"));
  auto* fileRow = new QHBoxLayout(FileGroupBox);
  fileRow->addWidget(ReadFileButton);
  fileRow->addWidget(WriteFileButton);

  COMGroupBox = new QGroupBox(QStringLiteral("COM I/O"), this);
  ReadCOMButton = new QPushButton(QStringLiteral("&Read"), COMGroupBox);
  ReadCOMButton->setObjectName(QStringLiteral("ReadCOMButton"));
  WriteCOMButton = new QPushButton(QStringLiteral("&Write"), COMGroupBox);
  WriteCOMButton->setObjectName(QStringLiteral("WriteCOMButton"));
  auto* comRow = new QHBoxLayout(COMGroupBox);
  comRow->addWidget(ReadCOMButton);
  comRow->addWidget(WriteCOMButton);

  CancelButton = new QPushButton(QStringLiteral("Exit"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setDefault(true);
  // Only the default button is one: the others must not take Enter.
  for (QPushButton* b : {ReadFileButton, WriteFileButton, ReadCOMButton, WriteCOMButton})
    b->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(FileGroupBox);
  buttons->addWidget(COMGroupBox);
  buttons->addStretch();
  buttons->addWidget(CancelButton);
  auto* outer = new QVBoxLayout(this);
  outer->addLayout(rows);
  outer->addLayout(buttons);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  connect(ReadCOMButton, &QPushButton::clicked, this, &TDptForm::ReadCOMButtonClick);
  connect(WriteCOMButton, &QPushButton::clicked, this, &TDptForm::WriteCOMButtonClick);
  connect(ReadFileButton, &QPushButton::clicked, this, &TDptForm::ReadFileButtonClick);
  connect(WriteFileButton, &QPushButton::clicked, this, &TDptForm::WriteFileButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TDptForm::CancelButtonClick);

  pushEdits();  // the key names, until the first refresh
  updateWriteButton();
  trace.ok();
}

TDptForm::~TDptForm() = default;

void TDptForm::SetReaderAvailable(bool available) { COMGroupBox->setEnabled(available); }

void TDptForm::updateWriteButton() { WriteCOMButton->setEnabled((DiagFlags & 0x400) != 0); }

void TDptForm::pullEdits() {
  for (int i = 0; i < Table.Edits.size(); ++i)
    if (QLineEdit* e = editOf(i)) Table.Edits.setText(i, e->text());
}

void TDptForm::pushEdits() {
  for (int i = 0; i < Table.Edits.size(); ++i)
    if (QLineEdit* e = editOf(i); e && e->text() != Table.Edits.text(i)) e->setText(Table.Edits.text(i));
}

void TDptForm::DataRefresh() {
  quelm::TraceLine trace(handler("DataRefresh"));
  Table.DataRefresh();
  // The key names shown until now are longer than the limits; a limit set
  // earlier would cut them.
  for (int i = 0; i < Table.Edits.size(); ++i)
    if (QLineEdit* e = editOf(i); e && quelm::editMaxLength(Table.Edits.field(i)) > 0)
      e->setMaxLength(quelm::editMaxLength(Table.Edits.field(i)));
  pushEdits();
  updateWriteButton();
  trace.ok();
}

quelm::CollectFailure TDptForm::DataCollect() {
  quelm::TraceLine trace(handler("DataCollect"));
  if (maxPostHeating_) Table.MaxPostHeating = maxPostHeating_();
  pullEdits();
  quelm::CollectFailure failure = Table.DataCollect();
  pushEdits();
  if (!failure) trace.ok();
  return failure;
}

void TDptForm::showConversionError(const quelm::CollectFailure& failure) {
  if (QLineEdit* e = editOf(failure.index)) e->setFocus();
  quelm::showConversionError(failure.message);
}

void TDptForm::ReadCOMData() {
  quelm::TraceLine trace(handler("ReadCOMData"));
  BusyCursor busy;
  if (const int rc = Table.Block.ReadCOMBlock()) {
    busy.release();
    trace << QStringLiteral("ReadCOMBlock(): ") + QString::number(rc);
    ReportError(rc, trace.text());
    return;
  }
  DataRefresh();
  trace.ok();
}

void TDptForm::WriteCOMData() {
  quelm::TraceLine trace(handler("WriteCOMData"));
  BusyCursor busy;
  if (const quelm::CollectFailure failure = DataCollect()) {
    busy.release();
    showConversionError(failure);
    return;
  }
  const int rc = Table.Block.WriteCOMBlock();
  busy.release();
  if (rc != 0) {
    trace << QStringLiteral("WriteCOMBlock(): ") + QString::number(rc);
    ReportError(rc, trace.text());
    return;
  }
  trace.ok();
}

void TDptForm::ReadCOMButtonClick() {
  quelm::TraceLine trace(handler("ReadCOMButtonClick"));
  ReadCOMData();
  trace.ok();
}

void TDptForm::WriteCOMButtonClick() {
  quelm::TraceLine trace(handler("WriteCOMButtonClick"));
  // The button is disabled below the service level; a click that reaches
  // here anyway (a shortcut, a stale state) writes nothing.
  if (!(DiagFlags & 0x400)) return;
  if (quelm::showMessage(quelm::MessageKind::Confirmation, windowTitle(),
                         QStringLiteral("The Reader Parameter Table will be overwritten! Are you sure?"),
                         quelm::Yes | quelm::No) != quelm::Yes)
    return;
  WriteCOMData();
  trace.ok();
}

void TDptForm::ReadFileButtonClick() {
  quelm::TraceLine trace(handler("ReadFileButtonClick"));
  quelm::SharedFileDialog& dialog = quelm::sharedOpenDialog();
  dialog.Filter = quelm::filterFromPipes(
      QStringLiteral("Reader parameter table files (*.rpt)|*.RPT|All files (*.*)|*.*"));
  if (!dialog.Execute()) {
    trace.fail(QStringLiteral("ERR_CANCEL"));
    return;
  }
  if (const int rc = Table.Block.ReadFileBlock(dialog.FileName)) {
    ReportError(rc, trace.text());
    return;
  }
  DataRefresh();
  trace.ok();
}

void TDptForm::WriteFileButtonClick() {
  quelm::TraceLine trace(handler("WriteFileButtonClick"));
  if (const quelm::CollectFailure failure = DataCollect()) {
    showConversionError(failure);
    return;
  }
  quelm::SharedFileDialog& dialog = quelm::sharedSaveDialog();
  dialog.Filter = quelm::filterFromPipes(kFilter);
  if (!dialog.Execute()) {
    trace.fail(QStringLiteral("ERR_CANCEL"));
    return;
  }
  dialog.FileName = quelm::ReaderParamTable::withRptExtension(dialog.FileName);
  if (Table.Save(dialog.FileName) != 0) return;  // the file's message has been shown
  trace.ok();
}

void TDptForm::CancelButtonClick() {
  quelm::TraceLine trace(handler("CancelButtonClick"));
  close();
  trace.ok();
}

void TDptForm::FormActivate() {
  quelm::TraceLine trace(handler("FormActivate"));
  updateWriteButton();
  ReadCOMButton->setFocus();
  trace.ok();
}

bool TDptForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && qobject_cast<QLineEdit*>(watched)) {
      focusNextChild();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TDptForm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TDptForm::paintEvent(QPaintEvent* event) {
  // Only the enabled state: taking the focus on every repaint would pull it
  // out of the edit being typed in.
  updateWriteButton();
  QDialog::paintEvent(event);
}
