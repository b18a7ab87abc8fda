#include "parameters/BptSubForm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "base/ButtonBox.h"
#include "base/Diag.h"
#include "base/EnterMovesOn.h"
#include "base/WindowOwner.h"
#include "parameters/ParamClick.h"
#include "parameters/LookupForms.h"


using quelm::ParamField;
using quelm::TableSource;
using quelm::TraceLine;

namespace {

QString handler(const char* name) { return QStringLiteral("TBptSubForm::%1(): ").arg(QLatin1String(name)); }

QGroupBox* radioGroup(QWidget* parent, const char* name, const QString& title, QButtonGroup** group) {
  auto* box = new QGroupBox(title, parent);
  box->setObjectName(QLatin1String(name));
  *group = new QButtonGroup(box);
  auto* row = new QHBoxLayout(box);
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(QLatin1String(quelm::kTableSourceCaptions[i]), box);
    (*group)->addButton(r, i);
    row->addWidget(r);
  }
  return box;
}

}  // namespace

TBptSubForm::TBptSubForm(std::function<QString(uint32_t)> readOutText, QWidget* parent) : QDialog(parent) {
  TraceLine trace(handler("FormCreate"));
  setObjectName(QStringLiteral("BptSubForm"));
  setWindowTitle(QStringLiteral("Dosimeter Parameter Table"));
  setWindowFlags(Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  move(20, 20);
  if (readOutText) Job.readOutText = std::move(readOutText);
  Job.onBusy = [this](bool on) { on ? (void)busy_.emplace() : busy_.reset(); };
  // The entry dialogs answer the job's questions; one that is not there answers nothing.
  Job.askType = []() -> std::optional<QString> {
    auto* dialog = quelm::OpenWindow<TTypeForm>();
    if (!dialog) return std::nullopt;
    quelm::prompter().runModal(*dialog);
    return dialog->KeyType;
  };
  Job.askTypeAndSerial = []() -> std::optional<std::pair<QString, QString>> {
    auto* dialog = quelm::OpenWindow<TTSnForm>();
    if (!dialog) return std::nullopt;
    quelm::prompter().runModal(*dialog);
    return std::pair{dialog->KeyType, dialog->KeySN};
  };
  Job.askSerial = []() -> std::optional<QString> {
    auto* dialog = quelm::OpenWindow<TSNForm>();
    if (!dialog || quelm::prompter().runModal(*dialog) != quelm::mrOk) return std::nullopt;
    return dialog->KeySN;
  };
  Job.pickEntry = [] { return PickFromLUTList(); };

  KeyDataSourceGroupBox =
      radioGroup(this, "KeyDataSourceGroupBox", QStringLiteral("Source of Table"), &KeyDataSource);
  QGridLayout* columns[2] = {new QGridLayout, new QGridLayout};
  const auto addRow = [&](const ParamField& f) {
    auto* e = new QLineEdit(this);
    e->setObjectName(quelm::editObjectName(f));
    auto* label = new QLabel(QString::fromUtf8(f.caption), this);
    if (label->text().contains(QStringLiteral("<sup>"))) label->setTextFormat(Qt::RichText);
    label->setBuddy(e);
    columns[f.column - 1]->addWidget(label, f.row, 0);
    columns[f.column - 1]->addWidget(e, f.row, 1);
    if (f.enterMovesOn) quelm::enterMovesOn(e);
    if (QLatin1String(f.key) == QLatin1String("DLFB")) DLFBLabel = label;
    return e;
  };
  // Made in the window's order, which is also the order Tab and Enter take.
  std::vector<const ParamField*> rows;
  for (const ParamField& f : Job.Edits.fields())
    if (f.caption) rows.push_back(&f);
  rows.push_back(quelm::ownBulbParamTable().find("LRO"));
  std::sort(rows.begin(), rows.end(), [](const ParamField* a, const ParamField* b) {
    return std::pair(a->column, a->row) < std::pair(b->column, b->row);
  });
  edits_.assign(static_cast<size_t>(Job.Edits.size()), nullptr);
  for (const ParamField* f : rows) {
    QLineEdit* e = addRow(*f);
    const int i = Job.Edits.indexOf(f->key);
    if (QLatin1String(f->key) == QLatin1String("LRO")) {
      LROEdit = e;
      continue;
    }
    connect(e, &QLineEdit::textChanged, this, [this, i](const QString& text) { Job.Edits.setText(i, text); });
    edits_[static_cast<size_t>(i)] = e;
  }
  LROEdit->setReadOnly(true);
  edit("ERRMASK")->installEventFilter(this);
  DLFBLabel->setToolTip(QStringLiteral("if (dose > DLFN) dose=dose*DLFA*X^DLFB ; \"x = dose / DLFN\""));
  WarningDatLabel = new QLabel(QStringLiteral("WarningDatLabel"), this);
  WarningDatLabel->setObjectName(QStringLiteral("WarningDatLabel"));
  WarningDatLabel->setStyleSheet(QStringLiteral("color: red"));
  columns[1]->addWidget(WarningDatLabel, columns[1]->rowCount(), 1);

  quelm::buildParamIoBoxes(this, this, QStringLiteral("Load"), QStringLiteral("Save"), QStringLiteral("Read"),
                           QStringLiteral("Write"));
  SaveAsGroupBox = radioGroup(this, "SaveAsGroupBox", QStringLiteral("Write As"), &SaveAs);
  LookUpGroupBox = quelm::buttonBox(this, QStringLiteral("Look Up"),
                                    {{&ListLUTButton, "ListLUTButton", QStringLiteral("List")}}, "LookUpGroupBox");
  CancelButton = quelm::makeDefaultButton(this, "CancelButton", QStringLiteral("&Exit"));

  auto* columnRow = new QHBoxLayout;
  columnRow->addLayout(columns[0]);
  columnRow->addLayout(columns[1]);
  auto* buttons = new QHBoxLayout;
  for (QWidget* w :
       std::initializer_list<QWidget*>{FileGroupBox, COMGroupBox, SaveAsGroupBox, LookUpGroupBox})
    buttons->addWidget(w);
  buttons->addStretch();
  buttons->addWidget(CancelButton);
  quelm::fixedColumn({KeyDataSourceGroupBox, columnRow, buttons}, this);

  connect(KeyDataSource, &QButtonGroup::idClicked, this, &TBptSubForm::KeyDataSourceClick);
  connect(SaveAs, &QButtonGroup::idClicked, this, &TBptSubForm::SaveAsGroupBoxClick);
  quelm::connectParamIoBoxes(this);
  connect(ListLUTButton, &QPushButton::clicked, this, &TBptSubForm::ListLUTButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TBptSubForm::CancelButtonClick);

  paint();
  trace.ok();
}

TBptSubForm::~TBptSubForm() = default;

QLineEdit* TBptSubForm::edit(const char* key) const {
  const int i = Job.Edits.indexOf(key);
  return i < 0 ? nullptr : edits_[static_cast<size_t>(i)];
}

void TBptSubForm::paint() {
  const quelm::DosimeterTableJob::ControlState& c = Job.Controls();
  for (int i = 0; i < Job.Edits.size(); ++i)
    if (QLineEdit* e = edits_[static_cast<size_t>(i)]) {
      if (e->text() != Job.Edits.text(i)) e->setText(Job.Edits.text(i));
      if (const int max = quelm::editMaxLength(Job.Edits.field(i)); max > 0) e->setMaxLength(max);
      e->setEnabled(c.edits[static_cast<size_t>(i)]);
    }
  LROEdit->setText(Job.LastReadoutText());
  LROEdit->setEnabled(c.lastReadout);
  ListLUTButton->setEnabled(c.list);
  WarningDatLabel->setVisible(Job.Warning());
  KeyDataSource->button(int(Job.Source))->setChecked(true);
  SaveAs->button(int(Job.WriteAs))->setChecked(true);
  COMGroupBox->setEnabled(c.reader);
  WriteCOMButton->setEnabled(c.write);
  SaveAsGroupBox->setEnabled(c.writeAs);
  LookUpGroupBox->setEnabled(c.lookUp);
}

void TBptSubForm::SetLayout(quelm::TableLayout layout) {
  Job.SetLayout(layout);
  paint();
}

void TBptSubForm::KeyDataSourceClick(int source) {
  Job.ChooseSource(TableSource(source));
  paint();
}

void TBptSubForm::SaveAsGroupBoxClick(int writeAs) {
  Job.ChooseWriteAs(TableSource(writeAs));
  paint();
}

void TBptSubForm::DataRefresh() {
  TraceLine trace(handler("DataRefresh"));
  Job.DataRefresh();
  paint();
  trace.ok();
}

void TBptSubForm::run(const char* name, quelm::ParamOutcome (quelm::DosimeterTableJob::*operation)()) {
  TraceLine trace(handler(name));
  const quelm::ParamOutcome o = (Job.*operation)();
  paint();
  quelm::EndParamClick(o, edits_, windowTitle(), trace);
}

void TBptSubForm::ReadCOMButtonClick() { run("ReadCOMButtonClick", &quelm::DosimeterTableJob::Read); }
void TBptSubForm::WriteCOMButtonClick() { run("WriteCOMButtonClick", &quelm::DosimeterTableJob::Write); }
void TBptSubForm::ReadFileButtonClick() { run("ReadFileButtonClick", &quelm::DosimeterTableJob::Load); }
void TBptSubForm::WriteFileButtonClick() { run("WriteFileButtonClick", &quelm::DosimeterTableJob::Save); }
void TBptSubForm::ListLUTButtonClick() { run("ListLUTButtonClick", &quelm::DosimeterTableJob::List); }

void TBptSubForm::ErrMaskEditClick() {
  auto* editor = quelm::OpenWindow<TErrMaskForm>();
  if (!editor) return;
  editor->show();
  editor->raise();
  editor->activateWindow();
  editor->FormActivate();
}

void TBptSubForm::SetReaderAvailable(bool available) {
  Job.SetReaderAvailable(available);
  paint();
}

void TBptSubForm::SetErrMask(uint8_t mask) {
  Job.SetErrMask(mask);
  paint();
}

void TBptSubForm::CancelButtonClick() { close(); }

bool TBptSubForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit("ERRMASK") && event->type() == QEvent::MouseButtonPress) ErrMaskEditClick();
  return QDialog::eventFilter(watched, event);
}

// --- TErrMaskForm ----------------------------------------------------------------

TErrMaskForm::TErrMaskForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ErrMaskForm"));
  setWindowTitle(QStringLiteral("Error Mask"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Set -- enable error flag"), this));
  for (size_t i = 0; i < Boxes.size(); ++i) {
    Boxes[i] = new QCheckBox(QLatin1String(quelm::kErrMaskBoxes[i].caption), this);
    layout->addWidget(Boxes[i]);
  }
  CloseButton = new QPushButton(QStringLiteral("Close"), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  layout->addWidget(CloseButton);
  connect(CloseButton, &QPushButton::clicked, this, &TErrMaskForm::CloseButtonClick);
}

TErrMaskForm::~TErrMaskForm() = default;

void TErrMaskForm::FormActivate() {
  const auto* table = quelm::BuiltWindow<TBptSubForm>();
  const uint8_t mask = table ? table->ErrMask() : 0;
  for (size_t i = 0; i < Boxes.size(); ++i) Boxes[i]->setChecked((mask & quelm::kErrMaskBoxes[i].bits) != 0);
}

void TErrMaskForm::CloseButtonClick() {
  uint8_t mask = 0;
  for (size_t i = 0; i < Boxes.size(); ++i)
    if (Boxes[i]->isChecked()) mask |= quelm::kErrMaskBoxes[i].bits;
  if (auto* table = quelm::BuiltWindow<TBptSubForm>()) table->SetErrMask(mask);
  hide();
}

void TErrMaskForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TErrMaskForm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}
