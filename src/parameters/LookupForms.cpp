#include "parameters/LookupForms.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "base/BusyCursor.h"
#include "base/ButtonBox.h"
#include "base/Diag.h"
#include "base/EnterMovesOn.h"
#include "base/Prompter.h"
#include "base/WindowOwner.h"
#include "base/ServiceLevel.h"
#include "parameters/LookupTable.h"


namespace {

QLineEdit* edit(QWidget* parent, const char* name, int maxLength) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QLatin1String(name));
  e->setMaxLength(maxLength);
  return e;
}

constexpr int kRawIdRole = Qt::UserRole;

}  // namespace

// --- TLUTListForm ---------------------------------------------------------------

TLUTListForm::TLUTListForm(QWidget* parent) : QDialog(parent), professional_(quelm::serviceLevel()) {
  setObjectName(QStringLiteral("LUTListForm"));
  setWindowTitle(QStringLiteral("Lookup Table List"));
  LUTListBox = new QListWidget(this);
  LUTListBox->setObjectName(QStringLiteral("LUTListBox"));
  LUTListBox->setSortingEnabled(true);
  OkButton = quelm::makeButton(this, "OkButton", QStringLiteral("&Ok"));
  DeleteButton = quelm::makeButton(this, "DeleteButton", QStringLiteral("&Delete"));
  DelAllButton = quelm::makeButton(this, "DelAllButton", QStringLiteral("Delete &All"));
  RefreshButton = quelm::makeButton(this, "RefreshButton", QStringLiteral("&Refresh"));
  CancelButton = quelm::makeButton(this, "CancelButton", QStringLiteral("&Cancel"));
  ReadingLabel = new QLabel(QStringLiteral("Data reading..."), this);
  ReadingLabel->setObjectName(QStringLiteral("ReadingLabel"));
  ReadingLabel->hide();
  // The list can be reached without the service level (Read, type and
  // serial dialog, List): picking stays open to everybody, deleting not.
  DeleteButton->setEnabled(professional_);
  DelAllButton->setEnabled(professional_);

  const auto buttons =
      quelm::boxColumn({OkButton, DeleteButton, DelAllButton, RefreshButton, CancelButton, quelm::kStretch});
  quelm::boxColumn({quelm::boxRow({LUTListBox, buttons}), ReadingLabel}, this);

  quelm::connectClicks<TLUTListForm>(this, {{OkButton, &TLUTListForm::OkButtonClick},
                                            {DeleteButton, &TLUTListForm::DeleteButtonClick},
                                            {DelAllButton, &TLUTListForm::DelAllButtonClick},
                                            {RefreshButton, &TLUTListForm::RefreshButtonClick},
                                            {CancelButton, &TLUTListForm::CancelButtonClick}});
  connect(LUTListBox, &QListWidget::itemDoubleClicked, this, &TLUTListForm::OkButtonClick);
}

TLUTListForm::~TLUTListForm() = default;

void TLUTListForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // After the window is on the screen, so that "Data reading..." shows.
  QTimer::singleShot(0, this, [this] {
    if (isVisible()) FormActivate();
  });
}

void TLUTListForm::FormActivate() {
  if (loaded_) return;
  loaded_ = true;
  SelectedKey = kNoSelection;
  LoadLUTList();
}

void TLUTListForm::LoadLUTList() {
  quelm::TraceLine trace(QStringLiteral("TLUTListForm::LoadLUTList(): "));
  ReadingLabel->show();
  setEnabled(false);
  quelm::BusyCursor busy;
  for (const quelm::LookupEntry& e : quelm::ReadLookupDirectory(Commands)) {
    auto* item = new QListWidgetItem(e.text);
    item->setData(kRawIdRole, e.id);
    LUTListBox->addItem(item);
  }
  busy.release();
  setEnabled(true);
  ReadingLabel->hide();
  trace.ok();
}

void TLUTListForm::OkButtonClick() {
  if (QListWidgetItem* item = LUTListBox->currentItem()) SelectedKey = item->text();
  accept();
}

void TLUTListForm::DeleteButtonClick() {
  QListWidgetItem* item = LUTListBox->currentItem();
  if (!professional_ || !item) return;
  if (quelm::showMessage(quelm::MessageKind::Confirmation, windowTitle(),
                         QStringLiteral("Delete the look-up entry %1 from the reader?").arg(item->text()),
                         quelm::Yes | quelm::No) != quelm::Yes)
    return;
  // The identifier as the reader sent it: its text ends at a zero byte.
  const QByteArray id = item->data(kRawIdRole).toByteArray();
  if (id.size() == quelm::kIdentifierBytes)
    Commands.DeleteLUT(reinterpret_cast<const uint8_t*>(id.constData()));
  delete item;
}

void TLUTListForm::DelAllButtonClick() {
  if (!professional_ || LUTListBox->count() == 0) return;
  if (quelm::showMessage(
          quelm::MessageKind::Confirmation, windowTitle(),
          QStringLiteral("Delete all %1 listed look-up entries from the reader?").arg(LUTListBox->count()),
          quelm::Yes | quelm::No) != quelm::Yes)
    return;
  quelm::BusyCursor busy;
  for (int k = 0; k < LUTListBox->count(); ++k) {
    const QByteArray id = LUTListBox->item(k)->data(kRawIdRole).toByteArray();
    if (id.size() == quelm::kIdentifierBytes)
      Commands.DeleteLUT(reinterpret_cast<const uint8_t*>(id.constData()));
  }
  LUTListBox->clear();
}

void TLUTListForm::RefreshButtonClick() {
  LUTListBox->clear();
  LoadLUTList();
}

void TLUTListForm::CancelButtonClick() { reject(); }

void TLUTListForm::done(int result) {
  LUTListBox->clear();
  loaded_ = false;
  QDialog::done(result);
}

// --- TTypeForm ---------------------------------------------------------------------

TTypeForm::TTypeForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TypeForm"));
  setWindowTitle(QStringLiteral("Type set"));
  auto* label = new QLabel(QStringLiteral("Key Type [A..Z] "), this);
  KTYPEEdit = edit(this, "KTYPEEdit", 1);
  OkButton = quelm::makeButton(this, "OkButton", QStringLiteral("&Ok"));
  OkButton->setDefault(true);  // Enter in the edit is Ok
  quelm::gridRows({{label, KTYPEEdit}, {nullptr, OkButton}}, this);
  connect(OkButton, &QPushButton::clicked, this, &TTypeForm::OkButtonClick);
}

TTypeForm::~TTypeForm() = default;

void TTypeForm::OkButtonClick() {
  QString type = KTYPEEdit->text();
  const bool close = quelm::acceptKeyType(type);
  KTYPEEdit->setText(type);
  if (!close) return;
  KeyType = type;
  done(quelm::mrOk);
}

// --- TTSnForm ----------------------------------------------------------------------

TTSnForm::TTSnForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TSnForm"));
  setWindowTitle(QStringLiteral("Type+SN set"));
  auto* typeLabel = new QLabel(QStringLiteral("Key Type [A..Z] "), this);
  auto* serialLabel = new QLabel(QStringLiteral("&Key serial number:"), this);
  KTYPEEdit = edit(this, "KTYPEEdit", 1);
  KSNEdit = edit(this, "KSNEdit", 4);
  serialLabel->setBuddy(KSNEdit);
  ListButton = quelm::makeButton(this, "ListButton", QStringLiteral("List"));
  OkButton = quelm::makeButton(this, "OkButton", QStringLiteral("Ok"));
  OkButton->setDefault(true);
  quelm::gridRows({{typeLabel, KTYPEEdit}, {serialLabel, KSNEdit}, {ListButton, OkButton}}, this);
  connect(ListButton, &QPushButton::clicked, this, &TTSnForm::ListButtonClick);
  connect(OkButton, &QPushButton::clicked, this, &TTSnForm::OkButtonClick);
}

TTSnForm::~TTSnForm() = default;

std::optional<QString> PickFromLUTList() {
  auto* list = quelm::OpenWindow<TLUTListForm>();
  if (!list) return std::nullopt;
  quelm::prompter().runModal(*list);
  const QString picked = list->SelectedKey;
  if (picked == TLUTListForm::kNoSelection) return std::nullopt;
  return picked;
}

void TTSnForm::ListButtonClick() {
  if (const std::optional<QString> picked = PickFromLUTList()) {
    KTYPEEdit->setText(picked->left(1));
    KSNEdit->setText(picked->mid(1, 4));
  }
}

void TTSnForm::OkButtonClick() {
  QString type = KTYPEEdit->text(), serial = KSNEdit->text();
  const bool close = quelm::acceptKeyTypeSN(type, serial);
  KTYPEEdit->setText(type);
  KSNEdit->setText(serial);
  KeyType = type;
  KeySN = serial;
  if (close) done(quelm::mrOk);
}

// --- TSNForm -----------------------------------------------------------------------

TSNForm::TSNForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SNForm"));
  setWindowTitle(QStringLiteral("Serial Number"));
  auto* label = new QLabel(QStringLiteral("&Key serial number:"), this);
  KSNEdit = edit(this, "KSNEdit", 4);
  label->setBuddy(KSNEdit);
  OkButton = quelm::makeButton(this, "OkButton", QStringLiteral("&Ok"));
  OkButton->setDefault(true);
  CancelButton = quelm::makeButton(this, "CancelButton", QStringLiteral("Cancel"));
  quelm::gridRows({{label, KSNEdit}, {OkButton, CancelButton}}, this);
  connect(OkButton, &QPushButton::clicked, this, &TSNForm::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TSNForm::CancelButtonClick);
}

TSNForm::~TSNForm() = default;

void TSNForm::OkButtonClick() {
  QString serial = KSNEdit->text();
  const bool close = quelm::acceptKeySN(serial);
  KSNEdit->setText(serial);
  KeySN = serial;
  if (close) done(quelm::mrOk);
}

void TSNForm::CancelButtonClick() { done(quelm::mrCancel); }
