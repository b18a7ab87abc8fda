#include "archive/ArchiveDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "archive/ArchiveFormKit.h"
#include "archive/ArchiveText.h"
#include "base/ButtonBox.h"
#include "base/Config.h"
#include "base/EnterMovesOn.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/Prompter.h"
#include "base/UserLocale.h"
#include "evaluation/BlockView.h"
#include "evaluation/ChartInteraction.h"

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

using quelm::archive_form::choiceBox;

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

QLabel* addRow(QFormLayout* form, QWidget* parent, const QString& caption, QWidget* field) {
  auto* label = new QLabel(caption, parent);
  label->setBuddy(field);
  form->addRow(label, field);
  return label;
}

// OK and Cancel at the bottom right, below the fields and the refusal line.
void finish(QDialog* dialog, QFormLayout* form, QLabel* refusal, QPushButton** ok, QPushButton** cancel) {
  *ok = quelm::makeButton(dialog, "OKButton", QStringLiteral("&OK"));
  (*ok)->setDefault(true);
  *cancel = quelm::makeButton(dialog, "CancelButton", QStringLiteral("&Cancel"));
  auto* buttons = quelm::buttonRow({*ok, *cancel});
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
  PersonComboBox = choiceBox(this, "PersonComboBox", 28);
  FromEdit = edit(this, "FromEdit");
  ToEdit = edit(this, "ToEdit");
  auto* form = new QFormLayout;
  addRow(form, this, QStringLiteral("&Dosimeter:"), DosimeterEdit);
  addRow(form, this, QStringLiteral("&Person (id or name):"), PersonComboBox);
  addRow(form, this, QStringLiteral("&From:"), FromEdit);
  ToLabel = addRow(form, this, QString(), ToEdit);
  RefusalLabel = refusalLabel(this);
  finish(this, form, RefusalLabel, &OKButton, &CancelButton);
}

void TWearPeriodForm::showAssign(const quelm::WearPeriod& p, const std::vector<quelm::Person>& persons) {
  PersonComboBox->clear();
  PersonComboBox->setMinimumContentsLength(28);
  PersonComboBox->setToolTip(QString());
  // Listed as "ID NAME"; an id or a name may also be typed.
  for (const quelm::Person& person : persons) PersonComboBox->addItem(quelm::PersonText(person), person.id);
  DosimeterEdit->setText(p.dosimeter);
  PersonComboBox->setEditText(p.person.id.isEmpty() ? QString() : quelm::PersonText(p.person));
  FromEdit->setText(quelm::LocalDateText(p.from));
  ToLabel->setText(QStringLiteral("&To (empty: open):"));
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
  // The box cannot be scrolled while disabled: wide enough for a long name
  // within reason, else its id and the start of the name, the whole in the
  // tooltip.
  const QString person = quelm::PersonText(p.person);
  PersonComboBox->setMinimumContentsLength(std::clamp(static_cast<int>(person.size()) + 2, 28, 64));
  PersonComboBox->setEditText(person);
  PersonComboBox->lineEdit()->setCursorPosition(0);
  PersonComboBox->setToolTip(person);
  FromEdit->setText(quelm::LocalDateText(p.from));
  // An end is a date: an empty field ends nothing.
  ToLabel->setText(QStringLiteral("&To:"));
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

// --- Resolution -------------------------------------------------------------------------

namespace {
QString resolutionTitle(const quelm::ResolutionRequest& r) {
  switch (r.action) {
    case quelm::Resolution::Accept:
      return QStringLiteral("Accept the reader's dose");
    case quelm::Resolution::Reevaluate:
      return r.windowFixed ? QStringLiteral("Adopt as dose of record")
                           : QStringLiteral("Re-evaluate a read-out");
    case quelm::Resolution::Exclude:
      return QStringLiteral("Exclude a read-out");
    case quelm::Resolution::None:
      break;
  }
  return QString();
}

// What the dose of record becomes, said before anything is stored.
QString outcomeText(const quelm::ResolutionRequest& r) {
  switch (r.action) {
    case quelm::Resolution::Accept:
      return QStringLiteral("The dose of record stays %1.").arg(quelm::DoseText(r.readout.doseUsv));
    case quelm::Resolution::Exclude:
      return QStringLiteral("The read-out will count nothing and stay listed.");
    case quelm::Resolution::Reevaluate:
      if (r.newDose)
        return QStringLiteral("New dose of record: %1 (the reader's dose stays stored)")
            .arg(quelm::DoseText(*r.newDose));
      return QStringLiteral("OK works out the dose of this window and shows it before anything is stored.");
    case quelm::Resolution::None:
      break;
  }
  return QString();
}

QString factorText(double factor) { return quelm::withUserDecimal(QString::number(factor, 'g', 8)); }
}  // namespace

TResolutionForm::TResolutionForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ResolutionForm"));
  ReadoutDatLabel = new QLabel(this);
  ReadoutDatLabel->setObjectName(QStringLiteral("ReadoutDatLabel"));
  ReadoutDatLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  StartEdit = edit(this, "StartEdit");
  LengthEdit = edit(this, "LengthEdit");
  NormFactEdit = edit(this, "NormFactEdit");
  // The captions of the main window's evaluation panel.
  windowRow_ = new QWidget(this);
  auto* window = new QHBoxLayout(windowRow_);
  window->setContentsMargins(0, 0, 0, 0);
  for (const auto& [field, e] :
       {std::pair{quelm::efEvalStart, StartEdit}, std::pair{quelm::efEvalLength, LengthEdit},
        std::pair{quelm::efNormFact, NormFactEdit}}) {
    auto* label = new QLabel(QString::fromLatin1(quelm::kEvalFields[field].caption), windowRow_);
    label->setBuddy(e);
    e->setMaximumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 12);
    window->addWidget(label);
    window->addWidget(e);
  }
  window->addStretch();
  NewDoseDatLabel = new QLabel(this);
  NewDoseDatLabel->setObjectName(QStringLiteral("NewDoseDatLabel"));
  NewDoseDatLabel->setWordWrap(true);
  ReasonEdit = edit(this, "ReasonEdit");
  ReasonEdit->setMaxLength(500);
  ReasonEdit->setMinimumWidth(ReasonEdit->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);
  ReasonEdit->setPlaceholderText(QStringLiteral("why, for whoever reads the record later"));
  form_ = new QFormLayout;
  form_->addRow(new QLabel(QStringLiteral("Read-out:"), this), ReadoutDatLabel);
  form_->addRow(new QLabel(QStringLiteral("Window:"), this), windowRow_);
  form_->addRow(QString(), NewDoseDatLabel);
  addRow(form_, this, QStringLiteral("&Reason:"), ReasonEdit);
  RefusalLabel = refusalLabel(this);
  finish(this, form_, RefusalLabel, &OKButton, &CancelButton);
}

std::optional<quelm::ResolutionRequest> TResolutionForm::Ask(const quelm::ResolutionRequest& request,
                                                             const QString& refusal) {
  setWindowTitle(resolutionTitle(request));
  const quelm::ReadoutRow& r = request.readout;
  ReadoutDatLabel->setText(
      QStringLiteral("%1: dosimeter %2%3, read %4\nDose of record %5, %6%7")
          .arg(r.id)
          .arg(
              r.dosimeter, r.assigned() ? QStringLiteral(" of ") + quelm::PersonText(r.person) : QString(),
              quelm::LocalTimeText(r.readoutTime),
              r.doseUsv ? quelm::DoseText(r.doseUsv) : QStringLiteral("none"), quelm::StatusText(r.status()),
              r.openReasons() ? QStringLiteral(": ") + quelm::ReviewReasonText(r.openReasons()) : QString()));
  const bool reevaluate = request.action == quelm::Resolution::Reevaluate;
  form_->setRowVisible(windowRow_, reevaluate);
  if (reevaluate && request.window) {
    StartEdit->setText(QString::number(request.window->start));
    LengthEdit->setText(QString::number(request.window->length));
    NormFactEdit->setText(factorText(request.window->normFact));
  }
  // The chart's window is what the chart shows; it is changed there.
  for (QLineEdit* e : {StartEdit, LengthEdit, NormFactEdit}) e->setReadOnly(request.windowFixed);
  NewDoseDatLabel->setText(outcomeText(request));
  ReasonEdit->setText(request.reason);
  ReasonEdit->setFocus();
  quelm::ShowRefusal(RefusalLabel, refusal);
  for (;;) {
    if (quelm::prompter().runModal(*this) != quelm::mrOk) return std::nullopt;
    quelm::ResolutionRequest answer = request;
    answer.reason = ReasonEdit->text().simplified();
    if (reevaluate && !request.windowFixed) {
      const std::optional<int64_t> start = quelm::ParseWholeNumber(StartEdit->text());
      const std::optional<int64_t> length = quelm::ParseWholeNumber(LengthEdit->text());
      const std::optional<double> factor = quelm::parseUserFloat(NormFactEdit->text());
      if (!start || !length || !factor) {
        quelm::ShowRefusal(RefusalLabel,
                           QStringLiteral("The window is a start and a length in channels and a "
                                          "normalisation factor, each a number"));
        continue;
      }
      answer.window =
          quelm::EvaluationWindow{static_cast<int>(std::clamp<int64_t>(*start, -1, 1000)),
                                  static_cast<int>(std::clamp<int64_t>(*length, -1, 1000)), *factor};
    }
    if (answer.reason.isEmpty()) {
      quelm::ShowRefusal(RefusalLabel, QStringLiteral("A resolution needs its reason"));
      ReasonEdit->setFocus();
      continue;
    }
    return answer;
  }
}

// --- Notional dose -------------------------------------------------------------------------

TNotionalForm::TNotionalForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("NotionalForm"));
  setWindowTitle(QStringLiteral("Notional dose"));
  PersonComboBox = choiceBox(this, "PersonComboBox", 28);
  PeriodComboBox = choiceBox(this, "PeriodComboBox");
  PeriodComboBox->setToolTip(
      QStringLiteral("A quarter (2026Q3) or a year (2026); the dose counts on its last day"));
  DoseEdit = edit(this, "DoseEdit");
  ReasonEdit = edit(this, "ReasonEdit");
  ReasonEdit->setMaxLength(500);
  // As wide as a resolution's reason: a sentence, and its hint whole.
  ReasonEdit->setMinimumWidth(ReasonEdit->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);
  ReasonEdit->setPlaceholderText(QStringLiteral("e.g. dosimeter lost; dose of the colleague beside"));
  auto* form = new QFormLayout;
  addRow(form, this, QStringLiteral("&Person (id or name):"), PersonComboBox);
  addRow(form, this, QStringLiteral("P&eriod:"), PeriodComboBox);
  addRow(form, this, QStringLiteral("&Dose [µSv]:"), DoseEdit);
  addRow(form, this, QStringLiteral("&Reason:"), ReasonEdit);
  RefusalLabel = refusalLabel(this);
  finish(this, form, RefusalLabel, &OKButton, &CancelButton);
}

std::optional<quelm::NotionalRequest> TNotionalForm::Ask(const quelm::NotionalRequest& proposal,
                                                         const std::vector<quelm::Person>& persons,
                                                         const QStringList& periods, const QString& refusal) {
  if (refusal.isEmpty()) {
    PersonComboBox->clear();
    for (const quelm::Person& person : persons) PersonComboBox->addItem(quelm::PersonText(person), person.id);
    PersonComboBox->setEditText(proposal.person.id.isEmpty() ? proposal.person.name
                                                             : quelm::PersonText(proposal.person));
    PeriodComboBox->clear();
    PeriodComboBox->addItems(periods);
    PeriodComboBox->setEditText(proposal.period);
    DoseEdit->clear();
    ReasonEdit->clear();
    (proposal.person.id.isEmpty() ? static_cast<QWidget*>(PersonComboBox) : DoseEdit)->setFocus();
  }
  quelm::ShowRefusal(RefusalLabel, refusal);
  for (;;) {
    if (quelm::prompter().runModal(*this) != quelm::mrOk) return std::nullopt;
    quelm::NotionalRequest r;
    const QString typed = PersonComboBox->currentText().trimmed();
    const int listed = PersonComboBox->findText(typed);
    if (listed >= 0)
      r.person.id = PersonComboBox->itemData(listed).toString();
    else
      r.person.name = typed;
    r.period = PeriodComboBox->currentText().trimmed();
    r.reason = ReasonEdit->text().simplified();
    const std::optional<double> dose = quelm::parseUserFloat(DoseEdit->text());
    if (!dose || *dose < 0) {
      quelm::ShowRefusal(RefusalLabel,
                         QStringLiteral("Dose: \"%1\" is no dose: write the µSv as a number, 0 or more")
                             .arg(DoseEdit->text().trimmed()));
      DoseEdit->setFocus();
    } else if (r.reason.isEmpty()) {
      quelm::ShowRefusal(RefusalLabel, QStringLiteral("A notional dose needs its reason"));
      ReasonEdit->setFocus();
    } else {
      r.doseUsv = *dose;
      return r;
    }
  }
}

// --- Sign-off ---------------------------------------------------------------------------------

TSignoffForm::TSignoffForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SignoffForm"));
  setWindowTitle(QStringLiteral("Sign a period"));
  PeriodDatLabel = new QLabel(this);
  PeriodDatLabel->setObjectName(QStringLiteral("PeriodDatLabel"));
  OpenItemsDatLabel = new QLabel(this);
  OpenItemsDatLabel->setObjectName(QStringLiteral("OpenItemsDatLabel"));
  OpenItemsDatLabel->setWordWrap(true);
  WithOpenItemsCheckBox = new QCheckBox(QStringLiteral("Sign &with them open (the reports say so)"), this);
  WithOpenItemsCheckBox->setObjectName(QStringLiteral("WithOpenItemsCheckBox"));
  SignedByEdit = edit(this, "SignedByEdit");
  SignedByEdit->setMaxLength(100);
  SignedByEdit->setMinimumWidth(SignedByEdit->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);
  auto* form = new QFormLayout;
  form->addRow(new QLabel(QStringLiteral("Period:"), this), PeriodDatLabel);
  form->addRow(new QLabel(QStringLiteral("Review:"), this), OpenItemsDatLabel);
  form->addRow(QString(), WithOpenItemsCheckBox);
  addRow(form, this, QStringLiteral("Signed &by:"), SignedByEdit);
  RefusalLabel = refusalLabel(this);
  finish(this, form, RefusalLabel, &OKButton, &CancelButton);
  OKButton->setText(QStringLiteral("&Sign"));
}

std::optional<quelm::SignoffRequest> TSignoffForm::Ask(const quelm::SignoffRequest& request,
                                                       const QString& refusal) {
  PeriodDatLabel->setText(QStringLiteral("%1, %2 to %3")
                              .arg(request.period.label, quelm::LocalDateText(request.period.from),
                                   quelm::LocalDateText(request.period.to)));
  const int open = request.openItems;
  OpenItemsDatLabel->setText(
      open == 0
          ? QStringLiteral("No read-out of %1 awaits review.").arg(request.period.label)
          : QStringLiteral("%1 read-out%2 of %3 await%4 review: resolve them on the Review page first, or "
                           "sign with them open.")
                .arg(open)
                .arg(open == 1 ? QString() : QStringLiteral("s"), request.period.label,
                     open == 1 ? QStringLiteral("s") : QString()));
  WithOpenItemsCheckBox->setEnabled(open > 0);
  if (refusal.isEmpty()) {
    WithOpenItemsCheckBox->setChecked(false);
    SignedByEdit->setText(request.signedBy);
    SignedByEdit->setFocus();
  }
  if (open == 0) WithOpenItemsCheckBox->setChecked(false);
  quelm::ShowRefusal(RefusalLabel, refusal);
  for (;;) {
    if (quelm::prompter().runModal(*this) != quelm::mrOk) return std::nullopt;
    quelm::SignoffRequest answer = request;
    answer.signedBy = SignedByEdit->text().simplified();
    answer.withOpenItems = WithOpenItemsCheckBox->isChecked();
    if (!answer.signedBy.isEmpty()) return answer;
    quelm::ShowRefusal(RefusalLabel, QStringLiteral("A sign-off needs who signs"));
    SignedByEdit->setFocus();
  }
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
