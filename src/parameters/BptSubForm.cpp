#include "parameters/BptSubForm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "base/SharedFileDialogs.h"
#include "parameters/BusyCursor.h"
#include "parameters/LookupForms.h"

TBptSubForm* BptSubForm = nullptr;
TErrMaskForm* ErrMaskForm = nullptr;

using quelm::BusyCursor;
using quelm::TableSource;
using quelm::TraceLine;

namespace {

struct EditRow {
  const char* label;  // rich text where it raises an exponent
  const char* key;    // nullptr: LROEdit, which shows the own table's LRO
  QLineEdit* TBptSubForm::*edit;
};

const EditRow kLeftColumn[] = {
    {"Dosimeter Type [A..Z] ", "KTYPE", &TBptSubForm::KTYPEEdit},
    {"Dosimeter Serial Number:", "KSN", &TBptSubForm::KSNEdit},
    {"&Start of Evaluation [channel]", "EVASTART", &TBptSubForm::EVASTARTEdit},
    {"&Length of Evaluation [channel]", "EVALEN", &TBptSubForm::EVALENEdit},
    {"&Normalisation Factor ", "EVANORM", &TBptSubForm::EVANORMEdit},
    {"&Last Readout:", nullptr, &TBptSubForm::LROEdit},
    {"Dose f(T) X<sup>2</sup>", "DTFA", &TBptSubForm::DTFAEdit},
    {"Dose f(T) X<sup>1</sup>", "DTFB", &TBptSubForm::DTFBEdit},
    {"Linearity Limit [uSv]", "DLFN", &TBptSubForm::DLFNEdit},
    {"Linearity pow(x,DLFB)", "DLFB", &TBptSubForm::DLFBEdit},
    {"Max. Dose [uSv]", "MDOSE", &TBptSubForm::MDOSEEdit},
};

const EditRow kRightColumn[] = {
    {"Heating Current [mA]", "HEATC", &TBptSubForm::HEATCEdit},
    {"HEATC f(t) X<sup>2</sup>", "DHFA", &TBptSubForm::DHFAEdit},
    {"HEATC f(t) X<sup>1</sup>", "DHFB", &TBptSubForm::DHFBEdit},
    {"Postheating Current [%]", "IPH", &TBptSubForm::IPHEdit},
    {"Postheating Time [s]", "TANN", &TBptSubForm::TANNEdit},
    {"Error Mask", "ERRMASK", &TBptSubForm::ErrMaskEdit},
    {"Sampling Period [*10msec]", "TS", &TBptSubForm::TSEdit},
    {"Reg. Start Temp. [°C]", "TREG", &TBptSubForm::TREGEdit},
    {"&Max. Heating Temperature [°C]", "TLIM", &TBptSubForm::TLIMEdit},
    {"&Heating Up Speed [*0.1°C/Period]", "HUS", &TBptSubForm::HUSEdit},
};

// The fifteen edits of the default layout.
QLineEdit* TBptSubForm::*const kDefaultLayoutEdits[] = {
    &TBptSubForm::HUSEdit,   &TBptSubForm::TREGEdit,    &TBptSubForm::TLIMEdit, &TBptSubForm::TANNEdit,
    &TBptSubForm::MDOSEEdit, &TBptSubForm::HEATCEdit,   &TBptSubForm::DTFAEdit, &TBptSubForm::DTFBEdit,
    &TBptSubForm::DLFBEdit,  &TBptSubForm::DLFNEdit,    &TBptSubForm::DHFAEdit, &TBptSubForm::DHFBEdit,
    &TBptSubForm::IPHEdit,   &TBptSubForm::ErrMaskEdit, &TBptSubForm::TSEdit};

const QString kFilter = QStringLiteral("Dosimeter parameter table files (*.dpt)|*.DPT");
const char* const kSourceItems[] = {"Default Table", "Dosimeter", "Look Up Table"};

QString handler(const char* name) { return QStringLiteral("TBptSubForm::%1(): ").arg(QLatin1String(name)); }

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  b->setAutoDefault(false);
  return b;
}

QGroupBox* radioGroup(QWidget* parent, const char* name, const QString& title, QButtonGroup** group) {
  auto* box = new QGroupBox(title, parent);
  box->setObjectName(QLatin1String(name));
  *group = new QButtonGroup(box);
  auto* row = new QHBoxLayout(box);
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(QLatin1String(kSourceItems[i]), box);
    (*group)->addButton(r, i);
    row->addWidget(r);
  }
  return box;
}

void report(TraceLine& trace, const char* what, int code) {
  trace << QLatin1String(what) + QStringLiteral("(): ") + QString::number(code);
  ReportError(code, trace.text());
}

}  // namespace

TBptSubForm::TBptSubForm(bool professional, std::function<QString(uint32_t)> readOutText, QWidget* parent)
    : QDialog(parent), professional_(professional), readOutText_(std::move(readOutText)) {
  TraceLine trace(handler("FormCreate"));
  setObjectName(QStringLiteral("BptSubForm"));
  setWindowTitle(QStringLiteral("Dosimeter Parameter Table"));
  setWindowFlags(Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  move(20, 20);

  KeyDataSourceGroupBox =
      radioGroup(this, "KeyDataSourceGroupBox", QStringLiteral("Source of Table"), &KeyDataSource);

  const auto column = [this](const auto& rows) {
    auto* grid = new QGridLayout;
    int r = 0;
    for (const EditRow& row : rows) {
      auto* edit = new QLineEdit(this);
      edit->setObjectName(row.key ? QLatin1String(row.key) + QStringLiteral("Edit")
                                  : QStringLiteral("LROEdit"));
      auto* label = new QLabel(QString::fromUtf8(row.label), this);
      if (QString::fromUtf8(row.label).contains(QStringLiteral("<sup>"))) label->setTextFormat(Qt::RichText);
      label->setBuddy(edit);
      grid->addWidget(label, r, 0);
      grid->addWidget(edit, r, 1);
      ++r;
      this->*row.edit = edit;
      if (row.key) {
        edits_[static_cast<size_t>(Tables.Edits.indexOf(row.key))] = edit;
        if (row.edit == &TBptSubForm::DLFBEdit) DLFBLabel = label;
      }
    }
    return grid;
  };
  QGridLayout* left = column(kLeftColumn);
  QGridLayout* right = column(kRightColumn);
  ErrMaskEdit->setObjectName(QStringLiteral("ErrMaskEdit"));
  LROEdit->setReadOnly(true);
  DLFBLabel->setToolTip(QStringLiteral("if (dose > DLFN) dose=dose*DLFA*X^DLFB ; \"x = dose / DLFN\""));
  WarningDatLabel = new QLabel(QStringLiteral("WarningDatLabel"), this);
  WarningDatLabel->setObjectName(QStringLiteral("WarningDatLabel"));
  WarningDatLabel->setStyleSheet(QStringLiteral("color: red"));
  WarningDatLabel->hide();
  right->addWidget(WarningDatLabel, right->rowCount(), 1);
  for (QLineEdit* e : findChildren<QLineEdit*>())
    if (e != DHFAEdit && e != DHFBEdit && e != ErrMaskEdit) e->installEventFilter(this);
  ErrMaskEdit->installEventFilter(this);

  FileGroupBox = new QGroupBox(QStringLiteral("File I/O"), this);
  ReadFileButton = makeButton(FileGroupBox, "ReadFileButton", QStringLiteral("Load"));
  WriteFileButton = makeButton(FileGroupBox, "WriteFileButton", QStringLiteral("Save"));
  auto* fileRow = new QHBoxLayout(FileGroupBox);
  fileRow->addWidget(ReadFileButton);
  fileRow->addWidget(WriteFileButton);
  COMGroupBox = new QGroupBox(QStringLiteral("COM I/O"), this);
  ReadCOMButton = makeButton(COMGroupBox, "ReadCOMButton", QStringLiteral("Read"));
  WriteCOMButton = makeButton(COMGroupBox, "WriteCOMButton", QStringLiteral("Write"));
  auto* comRow = new QHBoxLayout(COMGroupBox);
  comRow->addWidget(ReadCOMButton);
  comRow->addWidget(WriteCOMButton);
  SaveAsGroupBox = radioGroup(this, "SaveAsGroupBox", QStringLiteral("Write As"), &SaveAs);
  LookUpGroupBox = new QGroupBox(QStringLiteral("Look Up"), this);
  LookUpGroupBox->setObjectName(QStringLiteral("LookUpGroupBox"));
  ListLUTButton = makeButton(LookUpGroupBox, "ListLUTButton", QStringLiteral("List"));
  (new QHBoxLayout(LookUpGroupBox))->addWidget(ListLUTButton);
  CancelButton = new QPushButton(QStringLiteral("&Exit"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setDefault(true);

  auto* columns = new QHBoxLayout;
  columns->addLayout(left);
  columns->addLayout(right);
  auto* buttons = new QHBoxLayout;
  for (QWidget* w : {static_cast<QWidget*>(FileGroupBox), static_cast<QWidget*>(COMGroupBox),
                     static_cast<QWidget*>(SaveAsGroupBox), static_cast<QWidget*>(LookUpGroupBox)})
    buttons->addWidget(w);
  buttons->addStretch();
  buttons->addWidget(CancelButton);
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(KeyDataSourceGroupBox);
  outer->addLayout(columns);
  outer->addLayout(buttons);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  connect(KeyDataSource, &QButtonGroup::idClicked, this, &TBptSubForm::KeyDataSourceClick);
  connect(SaveAs, &QButtonGroup::idClicked, this, &TBptSubForm::SaveAsGroupBoxClick);
  connect(ReadCOMButton, &QPushButton::clicked, this, &TBptSubForm::ReadCOMButtonClick);
  connect(WriteCOMButton, &QPushButton::clicked, this, &TBptSubForm::WriteCOMButtonClick);
  connect(ReadFileButton, &QPushButton::clicked, this, &TBptSubForm::ReadFileButtonClick);
  connect(WriteFileButton, &QPushButton::clicked, this, &TBptSubForm::WriteFileButtonClick);
  connect(ListLUTButton, &QPushButton::clicked, this, &TBptSubForm::ListLUTButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TBptSubForm::CancelButtonClick);

  // The service level is read once: these keep their state for good.
  SaveAsGroupBox->setEnabled(professional_);
  LookUpGroupBox->setEnabled(professional_);
  WriteCOMButton->setEnabled(professional_);

  pushEdits();
  LROEdit->setText(QStringLiteral("LRO"));
  KeyDataSource->button(int(TableSource::Dosimeter))->setChecked(true);
  SaveAs->button(int(TableSource::Dosimeter))->setChecked(true);
  ListLUTButton->setEnabled(false);
  BptSubForm = this;
  trace.ok();
}

TBptSubForm::~TBptSubForm() {
  if (BptSubForm == this) BptSubForm = nullptr;
}

void TBptSubForm::pullEdits() {
  for (int i = 0; i < Tables.Edits.size(); ++i)
    if (QLineEdit* e = edits_[static_cast<size_t>(i)]) Tables.Edits.setText(i, e->text());
}

void TBptSubForm::pushEdits() {
  for (int i = 0; i < Tables.Edits.size(); ++i)
    if (QLineEdit* e = edits_[static_cast<size_t>(i)]; e && e->text() != Tables.Edits.text(i))
      e->setText(Tables.Edits.text(i));
}

void TBptSubForm::showConversionError(const quelm::CollectFailure& failure) {
  if (failure.index >= 0 && static_cast<size_t>(failure.index) < edits_.size())
    if (QLineEdit* e = edits_[static_cast<size_t>(failure.index)]) e->setFocus();
  quelm::showConversionError(failure.message);
}

bool TBptSubForm::takeIdentifier(bool upperCase) {
  pullEdits();
  const quelm::CollectFailure failure = Tables.TakeIdentifier(upperCase);
  pushEdits();
  if (failure) showConversionError(failure);
  return !failure;
}

void TBptSubForm::SetLayout(Layout layout) {
  const bool functions = layout != Layout::Dosimeter;
  for (QLineEdit* TBptSubForm::*e : kDefaultLayoutEdits) (this->*e)->setEnabled(functions);
  switch (layout) {
    case Layout::Default:
      LROEdit->setEnabled(false);
      KSNEdit->setEnabled(false);
      ListLUTButton->setEnabled(false);
      break;
    case Layout::LookUp:
      KSNEdit->setEnabled(true);
      ListLUTButton->setEnabled(true);
      LROEdit->setEnabled(false);
      break;
    case Layout::Dosimeter:
      for (QLineEdit* e : {LROEdit, KTYPEEdit, KSNEdit, EVASTARTEdit, EVALENEdit, EVANORMEdit})
        e->setEnabled(true);
      ListLUTButton->setEnabled(false);
      break;
  }
}

void TBptSubForm::setWriteAs(TableSource writeAs) {
  Tables.WriteAs = writeAs;
  SaveAs->button(int(writeAs))->setChecked(true);
  if (writeAs == TableSource::Dosimeter) SetLayout(Layout::Dosimeter);
}

void TBptSubForm::setSource(TableSource source) {
  Tables.Source = source;
  KeyDataSource->button(int(source))->setChecked(true);
  setWriteAs(source);
}

void TBptSubForm::KeyDataSourceClick(int source) { setSource(TableSource(source)); }

void TBptSubForm::SaveAsGroupBoxClick(int writeAs) { setWriteAs(TableSource(writeAs)); }

void TBptSubForm::DataRefresh() {
  TraceLine trace(handler("DataRefresh"));
  Tables.DataRefresh();
  // The key names shown until now are longer than the limits.
  for (int i = 0; i < Tables.Edits.size(); ++i)
    if (QLineEdit* e = edits_[static_cast<size_t>(i)]; e && quelm::editMaxLength(Tables.Edits.field(i)) > 0)
      e->setMaxLength(quelm::editMaxLength(Tables.Edits.field(i)));
  pushEdits();
  HUSEdit->setReadOnly(false);
  KSNEdit->setReadOnly(false);
  LROEdit->setReadOnly(true);
  WarningDatLabel->setVisible(Tables.Warning());
  LROEdit->setText(Tables.Source == TableSource::Dosimeter && readOutText_
                       ? readOutText_(uint32_t{Tables.Own.Record.LRO})
                       : QString());
  trace.ok();
}

void TBptSubForm::ReadDefault() {
  SetLayout(Layout::Default);
  TraceLine trace(handler("ReadDefault"));
  if (takeIdentifier(false)) {
    BusyCursor busy;
    if (const int rc = Tables.ReadDefault()) {
      busy.release();
      report(trace, "ReadCOMBlock", rc);
    }
  }
  DataRefresh();
  ListLUTButton->setEnabled(false);
  KSNEdit->setEnabled(false);
}

void TBptSubForm::ReadLUTBlock() {
  TraceLine trace(handler("ReadLUTBlock"));
  SetLayout(Layout::LookUp);
  if (takeIdentifier(false)) {
    BusyCursor busy;
    const int rc = Tables.ReadLookup();
    busy.release();
    if (rc == quelm::kErrReaderRefused)
      quelm::showMessage(quelm::MessageKind::Warning, windowTitle(),
                         QStringLiteral("The required key S/N has not been found!"));
    else if (rc != 0)
      report(trace, "ReadLUTBlock", rc);
  }
  DataRefresh();
  ListLUTButton->setEnabled(true);
  KSNEdit->setEnabled(true);
}

bool TBptSubForm::WriteLUTBlock() {
  TraceLine trace(handler("WriteLUTBlock"));
  BusyCursor busy;
  pullEdits();
  const quelm::DosimeterTables::LookupWrite w = Tables.WriteLookup([&] {
    busy.release();
    return quelm::showMessage(quelm::MessageKind::Confirmation, windowTitle(),
                              QStringLiteral("The given serial number exist. Overwrite it?"),
                              quelm::Ok | quelm::Cancel) == quelm::Ok;
  });
  busy.release();
  pushEdits();
  using W = quelm::DosimeterTables::LookupWrite;
  switch (w.outcome) {
    case W::Written:
      trace.ok();
      return true;
    case W::NotConverted:
      showConversionError(w.conversion);
      return false;
    case W::Declined:
      return false;
    case W::DeletedNotRewritten:
    case W::Failed:
      if (const QString m = Tables.LookupWriteMessage(w, KTYPEEdit->text() + KSNEdit->text()); !m.isEmpty()) {
        // Where the old entry may be gone, the window's copy is what is left.
        const bool mayBeGone = w.outcome == W::DeletedNotRewritten || w.step == W::Delete;
        quelm::showMessage(quelm::MessageKind::Error, windowTitle(),
                           mayBeGone ? m + QStringLiteral(" The window still holds it: write it again.") : m);
      }
      break;
  }
  report(trace, "WriteLUTBlock", w.code);
  return false;
}

void TBptSubForm::ReadCOMButtonClick() {
  TraceLine trace(handler("ReadCOMButtonClick"));
  if (!takeIdentifier(true)) return;
  BusyCursor busy;
  setWriteAs(Tables.Source);
  switch (Tables.Source) {
    case TableSource::Default:
      busy.release();
      if (TypeForm) quelm::prompter().runModal(*TypeForm);
      if (TypeForm) KTYPEEdit->setText(TypeForm->KeyType);
      ReadDefault();
      break;
    case TableSource::Dosimeter: {
      const quelm::DosimeterTables::OwnRead r = Tables.ReadOwn();
      busy.release();
      if (!r.ownRead && r.code == quelm::kErrReaderRefused) {
        WarningDatLabel->show();
        return;
      }
      if (r.code != 0) {
        report(trace, "ReadCOMBlock", r.code);
        return;
      }
      if (r.typeMismatch)
        quelm::showMessage(quelm::MessageKind::Warning, windowTitle(),
                           QStringLiteral("There isn't valid default bulb parameter table for this key."));
      SetLayout(Layout::Dosimeter);
      DataRefresh();
      break;
    }
    case TableSource::LookUp:
      busy.release();
      if (TSnForm) {
        quelm::prompter().runModal(*TSnForm);
        KTYPEEdit->setText(TSnForm->KeyType);
        KSNEdit->setText(TSnForm->KeySN);
      }
      ReadLUTBlock();
      break;
  }
  trace.ok();
}

void TBptSubForm::WriteCOMButtonClick() {
  TraceLine trace(handler("WriteCOMButtonClick"));
  // Disabled below the service level; nothing reaches the reader from here then.
  if (!professional_) return;
  if (quelm::showMessage(quelm::MessageKind::Confirmation, windowTitle(), QStringLiteral("Are you sure?"),
                         quelm::Yes | quelm::No) != quelm::Yes)
    return;
  switch (Tables.WriteAs) {
    case TableSource::Default:
      DefaultButtonClick();
      break;
    case TableSource::Dosimeter:
      KeyButtonClick();
      break;
    case TableSource::LookUp:
      LookupButtonClick();
      break;
  }
  trace.ok();
}

void TBptSubForm::DefaultButtonClick() {
  TraceLine trace(handler("DefaultButtonClick"));
  {
    BusyCursor busy;
    pullEdits();
    const quelm::CollectFailure failure = Tables.DefaultDataCollect();
    pushEdits();
    busy.release();
    // Nothing was written: re-reading the table now would only throw away
    // what the operator typed.
    if (failure) {
      showConversionError(failure);
      return;
    }
    if (const int rc = Tables.WriteDefault()) report(trace, "WriteCOMBlock", rc);
  }
  ReadDefault();
  setSource(TableSource::Default);
  trace.ok();
}

void TBptSubForm::KeyButtonClick() {
  TraceLine trace(handler("KeyButtonClick"));
  BusyCursor busy;
  pullEdits();
  const quelm::CollectFailure failure = Tables.KeyDataCollect();
  pushEdits();
  if (failure) {
    busy.release();
    showConversionError(failure);
  } else if (const int rc = Tables.WriteOwn(); rc == quelm::kErrReaderRefused) {
    WarningDatLabel->show();
  } else if (rc != 0) {
    busy.release();
    report(trace, "WriteCOMBlock", rc);
  }
  busy.release();
  SetLayout(Layout::Dosimeter);
  setSource(TableSource::Dosimeter);
  trace.ok();
}

void TBptSubForm::LookupButtonClick() {
  TraceLine trace(handler("LookupButtonClick"));
  bool write = true;
  if (Tables.Source == TableSource::Default) {
    write = SNForm && quelm::prompter().runModal(*SNForm) == quelm::mrOk;
    if (write) KSNEdit->setText(SNForm->KeySN);
  }
  // Read back only what went in: after a refusal or a failed write the
  // window keeps the entry as typed, so that Write can be repeated.
  if (write && WriteLUTBlock()) ReadLUTBlock();
  setSource(TableSource::LookUp);
  trace.ok();
}

void TBptSubForm::ReadFileButtonClick() {
  TraceLine trace(handler("ReadFileButtonClick"));
  quelm::SharedFileDialog& dialog = quelm::sharedOpenDialog();
  dialog.Filter = quelm::filterFromPipes(kFilter);
  if (!dialog.Execute()) {
    trace.fail(QStringLiteral("ERR_CANCEL"));
    return;
  }
  if (const int rc = Tables.Load(dialog.FileName)) {
    ReportError(rc, trace.text());
    return;
  }
  DataRefresh();
  trace.ok();
}

void TBptSubForm::WriteFileButtonClick() {
  TraceLine trace(handler("WriteFileButtonClick"));
  quelm::SharedFileDialog& dialog = quelm::sharedSaveDialog();
  dialog.Filter = quelm::filterFromPipes(kFilter);
  if (!dialog.Execute()) {
    trace.fail(QStringLiteral("ERR_CANCEL"));
    return;
  }
  dialog.FileName = quelm::DosimeterTables::withDptExtension(dialog.FileName);
  pullEdits();
  quelm::CollectFailure failure;
  const int rc = Tables.Save(dialog.FileName, &failure);
  pushEdits();
  // The conversion message says it all; a second box with "Undefined
  // Error" would only puzzle.
  if (rc == -1) {
    showConversionError(failure);
    return;
  }
  if (rc == 0) trace.ok();  // a file that could not be written has said so
}

void TBptSubForm::ListLUTButtonClick() {
  TraceLine trace(handler("ListLUTButtonClick"));
  if (!PickFromLUTList(KTYPEEdit, KSNEdit)) return;
  ReadLUTBlock();
  trace.ok();
}

void TBptSubForm::ErrMaskEditClick() {
  if (!ErrMaskForm) return;
  ErrMaskForm->show();
  ErrMaskForm->raise();
  ErrMaskForm->activateWindow();
  ErrMaskForm->FormActivate();
}

void TBptSubForm::SetReaderAvailable(bool available) {
  // The groups grey what they hold and give each control its own state back.
  COMGroupBox->setEnabled(available);
  LookUpGroupBox->setEnabled(available && professional_);
}

void TBptSubForm::SetErrMask(uint8_t mask) {
  Tables.Table.Record.ERRMASK = mask;
  ErrMaskEdit->setText(QString::number(mask));
}

void TBptSubForm::CancelButtonClick() { close(); }

bool TBptSubForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ErrMaskEdit && event->type() == QEvent::MouseButtonPress) {
    ErrMaskEditClick();
    return false;
  }
  if (event->type() == QEvent::KeyPress && watched != ErrMaskEdit) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      focusNextChild();
      return true;
    }
  }
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
  ErrMaskForm = this;
}

TErrMaskForm::~TErrMaskForm() {
  if (ErrMaskForm == this) ErrMaskForm = nullptr;
}

void TErrMaskForm::FormActivate() {
  const uint8_t mask = BptSubForm ? BptSubForm->ErrMask() : 0;
  for (size_t i = 0; i < Boxes.size(); ++i) Boxes[i]->setChecked((mask & quelm::kErrMaskBoxes[i].bits) != 0);
}

void TErrMaskForm::CloseButtonClick() {
  uint8_t mask = 0;
  for (size_t i = 0; i < Boxes.size(); ++i)
    if (Boxes[i]->isChecked()) mask |= quelm::kErrMaskBoxes[i].bits;
  if (BptSubForm) BptSubForm->SetErrMask(mask);
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
