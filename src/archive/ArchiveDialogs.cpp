#include "archive/ArchiveDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "archive/ArchiveText.h"
#include "base/Config.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/Prompter.h"
#include "base/UserLocale.h"

namespace quelm {

void ShowRefusal(QLabel* label, const QString& refusal) {
  label->setText(LocalTimesIn(refusal));
  label->setVisible(!refusal.isEmpty());
}

void ShowArchiveFailure(const ArchiveOutcome& o) {
  const ErrorText e = ErrorMessage(o.code);
  MessageRequest r;
  r.kind = e.kind;
  r.title = QStringLiteral("Dose archive");
  r.text = o.detail.isEmpty() ? e.message : e.message + QStringLiteral(":\n") + LocalTimesIn(o.detail);
  r.code = o.code;
  prompter().message(r);
}

}  // namespace quelm

namespace {

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  b->setAutoDefault(false);
  return b;
}

QLineEdit* edit(QWidget* parent, const char* name) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QLatin1String(name));
  return e;
}

QLabel* refusalLabel(QWidget* parent) {
  auto* l = new QLabel(parent);
  l->setObjectName(QStringLiteral("RefusalLabel"));
  l->setWordWrap(true);
  l->setStyleSheet(QStringLiteral("color: #a00000"));
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  l->hide();
  return l;
}

void addRow(QFormLayout* form, QWidget* parent, const QString& caption, QWidget* field) {
  auto* label = new QLabel(caption, parent);
  label->setBuddy(field);
  form->addRow(label, field);
}

// OK and Cancel at the bottom right, below the fields and the refusal line.
void finish(QDialog* dialog, QFormLayout* form, QLabel* refusal, QPushButton** ok, QPushButton** cancel) {
  *ok = button(dialog, "OKButton", QStringLiteral("&OK"));
  (*ok)->setDefault(true);
  *cancel = button(dialog, "CancelButton", QStringLiteral("&Cancel"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(*ok);
  buttons->addWidget(*cancel);
  auto* layout = new QVBoxLayout(dialog);
  layout->addLayout(form);
  layout->addWidget(refusal);
  layout->addStretch();
  layout->addLayout(buttons);
  QObject::connect(*ok, &QPushButton::clicked, dialog, [dialog] { dialog->done(quelm::mrOk); });
  QObject::connect(*cancel, &QPushButton::clicked, dialog, [dialog] { dialog->done(quelm::mrCancel); });
}

QString datePattern() { return quelm::userLocale().shortDateFormat; }

// "TEXT" is no date: the refusal line of a date typed otherwise.
QString noDate(const QString& caption, const QString& text) {
  return QStringLiteral("%1 \"%2\" is no date: write it as %3").arg(caption, text.trimmed(), datePattern());
}

}  // namespace

// --- Wear period ---------------------------------------------------------------------

TWearPeriodForm::TWearPeriodForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("WearPeriodForm"));
  setWindowTitle(QStringLiteral("Wear period"));
  DosimeterEdit = edit(this, "DosimeterEdit");
  DosimeterEdit->setMaxLength(5);
  PersonComboBox = new QComboBox(this);
  PersonComboBox->setObjectName(QStringLiteral("PersonComboBox"));
  PersonComboBox->setEditable(true);
  PersonComboBox->setInsertPolicy(QComboBox::NoInsert);
  PersonComboBox->setMinimumContentsLength(28);
  FromEdit = edit(this, "FromEdit");
  ToEdit = edit(this, "ToEdit");
  auto* form = new QFormLayout;
  addRow(form, this, QStringLiteral("&Dosimeter:"), DosimeterEdit);
  addRow(form, this, QStringLiteral("&Person (id or name):"), PersonComboBox);
  addRow(form, this, QStringLiteral("&From:"), FromEdit);
  addRow(form, this, QStringLiteral("&To (empty: open):"), ToEdit);
  RefusalLabel = refusalLabel(this);
  finish(this, form, RefusalLabel, &OKButton, &CancelButton);
}

void TWearPeriodForm::showAssign(const quelm::WearPeriod& p, const std::vector<quelm::Person>& persons) {
  PersonComboBox->clear();
  // Listed as "ID NAME"; an id or a name may also be typed.
  for (const quelm::Person& person : persons) PersonComboBox->addItem(quelm::PersonText(person), person.id);
  DosimeterEdit->setText(p.dosimeter);
  PersonComboBox->setEditText(p.person.id.isEmpty() ? QString() : quelm::PersonText(p.person));
  FromEdit->setText(quelm::LocalDateText(p.from));
  ToEdit->clear();
  for (QWidget* w : std::initializer_list<QWidget*>{DosimeterEdit, PersonComboBox, FromEdit})
    w->setEnabled(true);
  FromEdit->setPlaceholderText(datePattern());
  ToEdit->setPlaceholderText(datePattern());
  (p.dosimeter.isEmpty() ? static_cast<QWidget*>(DosimeterEdit) : PersonComboBox)->setFocus();
}

void TWearPeriodForm::showEnd(const quelm::WearPeriod& p) {
  DosimeterEdit->setText(p.dosimeter);
  PersonComboBox->clear();
  PersonComboBox->setEditText(quelm::PersonText(p.person));
  FromEdit->setText(quelm::LocalDateText(p.from));
  ToEdit->setText(p.to ? quelm::LocalDateText(*p.to) : QString());
  for (QWidget* w : std::initializer_list<QWidget*>{DosimeterEdit, PersonComboBox, FromEdit})
    w->setEnabled(false);
  ToEdit->setPlaceholderText(datePattern());
  ToEdit->setFocus();
}

std::optional<quelm::WearPeriod> TWearPeriodForm::AskAssign(const quelm::WearPeriod& proposal,
                                                            const std::vector<quelm::Person>& persons,
                                                            const QString& refusal) {
  setWindowTitle(QStringLiteral("Assign a dosimeter"));
  if (refusal.isEmpty()) showAssign(proposal, persons);
  quelm::ShowRefusal(RefusalLabel, refusal);
  for (;;) {
    if (quelm::prompter().runModal(*this) != quelm::mrOk) return std::nullopt;
    quelm::WearPeriod p;
    p.dosimeter = DosimeterEdit->text().trimmed();
    const QString typed = PersonComboBox->currentText().trimmed();
    const int listed = PersonComboBox->findText(typed);
    if (listed >= 0)
      p.person.id = PersonComboBox->itemData(listed).toString();
    else
      p.person.name = typed;
    const std::optional<QDate> from = quelm::ParseUserDate(FromEdit->text());
    const bool open = ToEdit->text().trimmed().isEmpty();
    const std::optional<QDate> to = open ? std::nullopt : quelm::ParseUserDate(ToEdit->text());
    if (!from) {
      quelm::ShowRefusal(RefusalLabel, noDate(QStringLiteral("From:"), FromEdit->text()));
    } else if (!open && !to) {
      quelm::ShowRefusal(RefusalLabel, noDate(QStringLiteral("To:"), ToEdit->text()));
    } else {
      p.from = QDateTime(*from, QTime(0, 0), Qt::UTC);
      if (to) p.to = QDateTime(*to, QTime(23, 59), Qt::UTC);
      return p;
    }
  }
}

std::optional<QDateTime> TWearPeriodForm::AskEnd(const quelm::WearPeriod& period, const QString& refusal) {
  setWindowTitle(QStringLiteral("End a wear period"));
  if (refusal.isEmpty()) showEnd(period);
  quelm::ShowRefusal(RefusalLabel, refusal);
  for (;;) {
    if (quelm::prompter().runModal(*this) != quelm::mrOk) return std::nullopt;
    if (const std::optional<QDate> to = quelm::ParseUserDate(ToEdit->text()))
      return QDateTime(*to, QTime(23, 59), Qt::UTC);
    quelm::ShowRefusal(RefusalLabel, noDate(QStringLiteral("To:"), ToEdit->text()));
  }
}

// --- Person ----------------------------------------------------------------------------

TPersonForm::TPersonForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PersonForm"));
  IdEdit = edit(this, "IdEdit");
  IdEdit->setMaxLength(32);
  IdEdit->setPlaceholderText(QStringLiteral("staff or personnel number"));
  NameEdit = edit(this, "NameEdit");
  NameEdit->setMaxLength(100);
  NameEdit->setMinimumWidth(NameEdit->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);
  auto* form = new QFormLayout;
  addRow(form, this, QStringLiteral("&Id:"), IdEdit);
  addRow(form, this, QStringLiteral("&Name:"), NameEdit);
  RefusalLabel = refusalLabel(this);
  finish(this, form, RefusalLabel, &OKButton, &CancelButton);
}

std::optional<quelm::Person> TPersonForm::AskNew(const QString& refusal) {
  setWindowTitle(QStringLiteral("Add a person"));
  if (refusal.isEmpty()) {
    IdEdit->clear();
    NameEdit->clear();
    IdEdit->setEnabled(true);
    IdEdit->setFocus();
  }
  quelm::ShowRefusal(RefusalLabel, refusal);
  if (quelm::prompter().runModal(*this) != quelm::mrOk) return std::nullopt;
  return quelm::Person{IdEdit->text().trimmed(), NameEdit->text().simplified()};
}

std::optional<QString> TPersonForm::AskName(const quelm::Person& person, const QString& refusal) {
  setWindowTitle(QStringLiteral("Rename a person"));
  if (refusal.isEmpty()) {
    IdEdit->setText(person.id);
    NameEdit->setText(person.name);
    IdEdit->setEnabled(false);
    NameEdit->setFocus();
    NameEdit->selectAll();
  }
  quelm::ShowRefusal(RefusalLabel, refusal);
  if (quelm::prompter().runModal(*this) != quelm::mrOk) return std::nullopt;
  return NameEdit->text().simplified();
}

// --- Password --------------------------------------------------------------------------

TArchivePasswordForm::TArchivePasswordForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ArchivePasswordForm"));
  setWindowTitle(QStringLiteral("Dose archive server"));
  ServerDatLabel = new QLabel(this);
  ServerDatLabel->setObjectName(QStringLiteral("ServerDatLabel"));
  ServerDatLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  PasswordEdit = edit(this, "PasswordEdit");
  PasswordEdit->setEchoMode(QLineEdit::Password);
  KeepCheckBox =
      new QCheckBox(QStringLiteral("&Keep it in the password file ") + quelm::PasswordFilePath(), this);
  KeepCheckBox->setObjectName(QStringLiteral("KeepCheckBox"));
  KeepCheckBox->setToolTip(QStringLiteral("Otherwise it is kept only until the program ends"));
  auto* form = new QFormLayout;
  form->addRow(new QLabel(QStringLiteral("Server:"), this), ServerDatLabel);
  addRow(form, this, QStringLiteral("&Password:"), PasswordEdit);
  form->addRow(QString(), KeepCheckBox);
  RefusalLabel = refusalLabel(this);
  finish(this, form, RefusalLabel, &OKButton, &CancelButton);
}

std::optional<quelm::ArchivePassword> TArchivePasswordForm::Ask(const QString& server,
                                                                const QString& refusal) {
  ServerDatLabel->setText(server);
  PasswordEdit->clear();
  PasswordEdit->setFocus();
  quelm::ShowRefusal(RefusalLabel, refusal);
  const int answer = quelm::prompter().runModal(*this);
  const QString password = PasswordEdit->text();
  // A typed password stays in no widget once it was taken.
  PasswordEdit->clear();
  if (answer != quelm::mrOk) return std::nullopt;
  return quelm::ArchivePassword{password, KeepCheckBox->isChecked()};
}

// --- Options ---------------------------------------------------------------------------

TArchiveOptionsGroupBox::TArchiveOptionsGroupBox(QWidget* parent)
    : QGroupBox(QStringLiteral("Dose archive"), parent) {
  setObjectName(QStringLiteral("ArchiveOptionsGroupBox"));
  InUseDatLabel = new QLabel(this);
  InUseDatLabel->setObjectName(QStringLiteral("InUseDatLabel"));
  InUseDatLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  DatabaseEdit = edit(this, "DatabaseEdit");
  DatabaseEdit->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
  DatabaseEdit->setPlaceholderText(QStringLiteral("empty: the default file"));
  PasswordEdit = edit(this, "PasswordEdit");
  PasswordEdit->setEchoMode(QLineEdit::Password);
  PasswordEdit->setPlaceholderText(QStringLiteral("a server's, when it asks for one"));
  KeepPasswordCheckBox = new QCheckBox(QStringLiteral("&Keep it in ") + quelm::PasswordFilePath(), this);
  KeepPasswordCheckBox->setObjectName(QStringLiteral("KeepPasswordCheckBox"));
  KeepPasswordCheckBox->setToolTip(QStringLiteral("Otherwise it is kept only until the program ends"));
  HintLabel = new QLabel(QStringLiteral("Empty (the default file), a file path, sqlite:PATH,\n"
                                        "postgresql://user@host[:port]/dbname (postgres:// too),\n"
                                        "postgresql://user@/dbname?host=/run/postgresql (a local socket)"),
                         this);
  HintLabel->setObjectName(QStringLiteral("HintLabel"));
  RefusalLabel = refusalLabel(this);
  auto* grid = new QFormLayout(this);
  grid->addRow(new QLabel(QStringLiteral("In use:"), this), InUseDatLabel);
  addRow(grid, this, QStringLiteral("&Database:"), DatabaseEdit);
  grid->addRow(QString(), HintLabel);
  addRow(grid, this, QStringLiteral("Pass&word:"), PasswordEdit);
  grid->addRow(QString(), KeepPasswordCheckBox);
  grid->addRow(QString(), RefusalLabel);
  Load();
}

void TArchiveOptionsGroupBox::Load() {
  const quelm::ArchiveSettings s = quelm::ReadArchiveSettings(quelm::configFilePath());
  QString password;
  const QString address = quelm::AddressWithoutPassword(s.database, &password);
  DatabaseEdit->setText(address);
  PasswordEdit->clear();
  quelm::ShowRefusal(RefusalLabel, QString());
  quelm::ArchiveLocation l;
  QString error;
  InUseDatLabel->setText(quelm::ParseArchiveLocation(s.database, &l, &error) ? address : l.displayText());
}

bool TArchiveOptionsGroupBox::Accept() {
  QString typed;
  const QString address = quelm::AddressWithoutPassword(DatabaseEdit->text(), &typed);
  // A password typed into the address moves to its own field at once.
  if (!typed.isEmpty()) {
    DatabaseEdit->setText(address);
    if (PasswordEdit->text().isEmpty()) PasswordEdit->setText(typed);
  }
  const QString password = PasswordEdit->text();
  quelm::ArchiveSettings s = quelm::ReadArchiveSettings(quelm::configFilePath());
  QString stored;
  if (address == quelm::AddressWithoutPassword(s.database, &stored) && password.isEmpty()) return true;
  const auto refuse = [this](int code, const QString& detail) {
    quelm::ShowRefusal(RefusalLabel, quelm::ErrorMessage(code).message +
                                         (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail));
    DatabaseEdit->setFocus();
    return false;
  };
  quelm::ArchiveLocation l;
  QString error;
  if (const int rc = quelm::ParseArchiveLocation(address, &l, &error)) return refuse(rc, error);
  if (!password.isEmpty() && l.kind != quelm::ArchiveLocation::PostgreSQL)
    return refuse(quelm::kErrArchiveAddress, QStringLiteral("only a server address takes a password"));
  // Tried before it is taken: an address that does not open leaves the
  // database in use, and the configuration file, as they were.
  if (!password.isEmpty()) quelm::KeepSessionPassword(l, password);
  s.database = address;
  if (Open) {
    const quelm::ArchiveOutcome o = Open(s);
    if (o.code) {
      if (!password.isEmpty()) quelm::KeepSessionPassword(l, QString());
      return refuse(o.code, o.detail);
    }
  }
  if (!password.isEmpty() && KeepPasswordCheckBox->isChecked() && !quelm::StorePassword(l, password, &error))
    return refuse(quelm::kErrFileWrite, error);
  PasswordEdit->clear();
  quelm::ShowRefusal(RefusalLabel, QString());
  if (!quelm::WriteArchiveDatabase(quelm::configFilePath(), address)) {
    quelm::reportUnableToWrite(quelm::configFilePath());
    return false;
  }
  InUseDatLabel->setText(l.displayText());
  return true;
}
