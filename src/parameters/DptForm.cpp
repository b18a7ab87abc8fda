#include "parameters/DptForm.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/ButtonBox.h"
#include "base/Diag.h"
#include "base/EnterMovesOn.h"
#include "parameters/ParamClick.h"

namespace {

QString handler(const char* name) { return QStringLiteral("TDptForm::%1(): ").arg(QLatin1String(name)); }

}  // namespace

TDptForm::TDptForm(std::function<int32_t()> maxPostHeating, QWidget* parent) : QDialog(parent) {
  quelm::TraceLine trace(QStringLiteral("TDptForm::T7DptForm(): "));
  setObjectName(QStringLiteral("DptForm"));
  setWindowTitle(QStringLiteral("Reader Parameter Table"));
  setWindowFlags(Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  move(20, 20);
  if (maxPostHeating) Job.maxPostHeating = std::move(maxPostHeating);
  Job.onBusy = [this](bool on) { on ? (void)busy_.emplace() : busy_.reset(); };

  auto* rows = new QGridLayout;
  edits_.assign(static_cast<size_t>(Job.Edits.size()), nullptr);
  for (int i = 0; i < Job.Edits.size(); ++i) {
    const quelm::ParamField& f = Job.Edits.field(i);
    if (!f.caption) continue;
    auto* e = new QLineEdit(this);
    e->setObjectName(quelm::editObjectName(f));
    auto* label = new QLabel(QString::fromUtf8(f.caption), this);
    label->setBuddy(e);
    rows->addWidget(label, f.row, 0);
    rows->addWidget(e, f.row, 1);
    if (f.enterMovesOn) quelm::enterMovesOn(e);
    connect(e, &QLineEdit::textChanged, this, [this, i](const QString& text) { Job.Edits.setText(i, text); });
    edits_[static_cast<size_t>(i)] = e;
  }

  quelm::buildParamIoBoxes(this, this, QStringLiteral("&Load"), QStringLiteral("&Save"),
                           QStringLiteral("&Read"), QStringLiteral("&Write"));
  CancelButton = quelm::makeDefaultButton(this, "CancelButton", QStringLiteral("Exit"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(FileGroupBox);
  buttons->addWidget(COMGroupBox);
  buttons->addStretch();
  buttons->addWidget(CancelButton);
  quelm::fixedColumn({rows, buttons}, this);

  quelm::connectParamIoBoxes(this);
  connect(CancelButton, &QPushButton::clicked, this, &TDptForm::CancelButtonClick);

  paint();  // the key names, until the first refresh
  trace.ok();
}

TDptForm::~TDptForm() = default;

QLineEdit* TDptForm::edit(const char* key) const {
  const int i = Job.Edits.indexOf(key);
  return i < 0 ? nullptr : edits_[static_cast<size_t>(i)];
}

void TDptForm::paint() {
  for (int i = 0; i < Job.Edits.size(); ++i)
    if (QLineEdit* e = edits_[static_cast<size_t>(i)]) {
      // The key names shown until the first refresh are longer than the limits.
      if (e->text() != Job.Edits.text(i)) e->setText(Job.Edits.text(i));
      const int max = quelm::editMaxLength(Job.Edits.field(i));
      if (max > 0 && Job.Edits.text(i).size() <= max) e->setMaxLength(max);
    }
  COMGroupBox->setEnabled(Job.ReaderAvailable);
  WriteCOMButton->setEnabled(Job.CanWrite());
}

void TDptForm::SetReaderAvailable(bool available) {
  Job.ReaderAvailable = available;
  paint();
}

void TDptForm::DataRefresh() {
  quelm::TraceLine trace(handler("DataRefresh"));
  Job.DataRefresh();
  paint();
  trace.ok();
}

void TDptForm::run(const char* name, quelm::ParamOutcome (quelm::ReaderParamJob::*operation)()) {
  quelm::TraceLine trace(handler(name));
  const quelm::ParamOutcome o = (Job.*operation)();
  paint();
  quelm::EndParamClick(o, edits_, windowTitle(), trace);
}

void TDptForm::ReadCOMButtonClick() { run("ReadCOMData", &quelm::ReaderParamJob::ReadCOMData); }
void TDptForm::WriteCOMButtonClick() { run("WriteCOMData", &quelm::ReaderParamJob::WriteCOMData); }
void TDptForm::ReadFileButtonClick() { run("ReadFileButtonClick", &quelm::ReaderParamJob::Load); }
void TDptForm::WriteFileButtonClick() { run("WriteFileButtonClick", &quelm::ReaderParamJob::Save); }

void TDptForm::CancelButtonClick() { close(); }

void TDptForm::FormActivate() {
  paint();
  ReadCOMButton->setFocus();
}

void TDptForm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TDptForm::paintEvent(QPaintEvent* event) {
  // Only the enabled state: taking the focus on every repaint would pull it
  // out of the edit being typed in.
  WriteCOMButton->setEnabled(Job.CanWrite());
  QDialog::paintEvent(event);
}
