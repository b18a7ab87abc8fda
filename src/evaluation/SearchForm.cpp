#include "evaluation/SearchForm.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "base/ButtonBox.h"
#include "base/DateText.h"
#include "base/EnterMovesOn.h"
#include "base/Prompter.h"
#include "evaluation/SearchCriteria.h"

TSearchForm::TSearchForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SearchForm"));
  setWindowTitle(QStringLiteral("Search"));
  std::memset(&Request, 0, sizeof Request);

  EnableGroupBox = new QGroupBox(QStringLiteral("Enable search by"), this);
  IndexCheckBox = new QCheckBox(QStringLiteral("BlockNo"), EnableGroupBox);
  TimeCheckBox = new QCheckBox(QStringLiteral("DateTime"), EnableGroupBox);
  KeyCheckBox = new QCheckBox(QStringLiteral("Dosimeter"), EnableGroupBox);
  auto* enableLayout = new QVBoxLayout(EnableGroupBox);
  enableLayout->addWidget(IndexCheckBox);
  enableLayout->addWidget(TimeCheckBox);
  enableLayout->addWidget(KeyCheckBox);
  enableLayout->addStretch();

  ConditionGroupBox = new QGroupBox(QStringLiteral("Condition"), this);
  auto makeEdit = [this](const char* name, int maxLength, const char* text) {
    auto* e = new QLineEdit(QString::fromLatin1(text), ConditionGroupBox);
    e->setObjectName(QString::fromLatin1(name));
    if (maxLength > 0) e->setMaxLength(maxLength);
    e->installEventFilter(this);
    return e;
  };
  FromCSpinLabel = new QLabel(QStringLiteral("From:"), ConditionGroupBox);
  FromCSpinEdit = makeEdit("FromCSpinEdit", 4, "0");
  UntilCSpinLabel = new QLabel(QStringLiteral("To:"), ConditionGroupBox);
  UntilCSpinEdit = makeEdit("UntilCSpinEdit", 4, "0");
  FromLabel = new QLabel(QStringLiteral("From:"), ConditionGroupBox);
  FromEdit = makeEdit("FromEdit", 0, "");
  UntilLabel = new QLabel(QStringLiteral("To:"), ConditionGroupBox);
  UntilEdit = makeEdit("UntilEdit", 0, "");
  KeyLabel = new QLabel(QStringLiteral("Dosimeter:"), ConditionGroupBox);
  KeyEdit = makeEdit("KeyEdit", 5, "A0000");
  FromCSpinEdit->setMaximumWidth(60);
  UntilCSpinEdit->setMaximumWidth(60);
  KeyEdit->setMaximumWidth(80);
  FromEdit->setPlaceholderText(QStringLiteral("2006.06.24 15:30"));
  UntilEdit->setPlaceholderText(QStringLiteral("2006.06.24 15:30"));

  quelm::gridRows({{FromCSpinLabel, FromCSpinEdit, UntilCSpinLabel, UntilCSpinEdit},
                   {FromLabel, FromEdit, UntilLabel, UntilEdit},
                   {KeyLabel, KeyEdit}},
                  ConditionGroupBox);

  OkButton = quelm::makeDefaultButton(this, "OkButton", QStringLiteral("Ok"));

  auto* top = new QHBoxLayout;
  top->addWidget(EnableGroupBox);
  top->addWidget(ConditionGroupBox, 1);
  quelm::boxColumn({top, quelm::buttonRow({OkButton})}, this);

  connect(OkButton, &QPushButton::clicked, this, &TSearchForm::OkButtonClick);
  connect(FromCSpinEdit, &QLineEdit::textChanged, this, &TSearchForm::FromCSpinEditChange);
  connect(UntilCSpinEdit, &QLineEdit::textChanged, this, &TSearchForm::UntilCSpinEditChange);
  // Only what the operator types ticks a criterion; filling the window does not.
  connect(FromCSpinEdit, &QLineEdit::textEdited, IndexCheckBox, [this] { IndexCheckBox->setChecked(true); });
  connect(UntilCSpinEdit, &QLineEdit::textEdited, IndexCheckBox, [this] { IndexCheckBox->setChecked(true); });
  connect(KeyEdit, &QLineEdit::textEdited, this, &TSearchForm::KeyEditChange);
}

int TSearchForm::Execute() {
  Accepted = 0;
  FormActivate();
  quelm::prompter().runModal(*this);
  return Accepted;
}

void TSearchForm::FormActivate() {
  IndexCheckBox->setChecked(Request.Flags & kSearchByNumber);
  TimeCheckBox->setChecked(Request.Flags & kSearchByDate);
  KeyCheckBox->setChecked(Request.Flags & kSearchByDosimeter);
  FromCSpinEdit->setText(QString::number(Request.FromBlock));
  UntilCSpinEdit->setText(QString::number(Request.StartBlock));
  FromEdit->setText(quelm::DateText(quelm::FromStamp(Request.DateFrom)));
  UntilEdit->setText(quelm::DateText(quelm::FromStamp(Request.DateTo)));
}

int TSearchForm::ParseDateTime(const QString& text, uint8_t stamp[5]) const {
  // A year outside the limits is moved to the nearer one here, not refused.
  const auto fields = quelm::ParseDateText(text, quelm::YearOutside::Moved);
  if (!fields) return -1;
  quelm::ToStamp(*fields, stamp);
  return 0;
}

void TSearchForm::OkButtonClick() {
  // Both dates are checked before anything is taken over, so that a window
  // left open on a bad date and then closed changes nothing. So are the
  // block numbers: one beyond the reader's would be sent to it.
  for (QLineEdit* field : {FromCSpinEdit, UntilCSpinEdit})
    if (const QString error = quelm::BlockFieldError(field->text()); !error.isEmpty()) {
      quelm::showMessage(quelm::MessageKind::Warning, windowTitle(), error);
      field->setFocus();
      return;
    }
  uint8_t from[5], to[5];
  if (ParseDateTime(FromEdit->text(), from) != 0) {
    quelm::showMessage(quelm::MessageKind::Warning, windowTitle(),
                       QStringLiteral("Invalid time. The expected format: 2006.06.24 15:30"));
    FromEdit->setFocus();
    return;
  }
  if (ParseDateTime(UntilEdit->text(), to) != 0) {
    quelm::showMessage(quelm::MessageKind::Warning, windowTitle(),
                       QStringLiteral("Invalid time. The expected format: 2005.06.24 15:30"));
    UntilEdit->setFocus();
    return;
  }
  Request.FromBlock = LowerLimit = static_cast<uint16_t>(FromValue);
  Request.StartBlock = UpperLimit = static_cast<uint16_t>(ToValue);
  std::memcpy(Request.DateFrom, from, sizeof from);
  std::memcpy(Request.DateTo, to, sizeof to);
  quelm::SetSearchDosimeter(Request, KeyEdit->text());
  Request.Flags =
      quelm::SearchFlags(IndexCheckBox->isChecked(), TimeCheckBox->isChecked(), KeyCheckBox->isChecked());
  Accepted = 1;
  accept();
}

void TSearchForm::FromCSpinEditChange(const QString& text) {
  if (const auto n = quelm::BlockFieldNumber(text)) FromValue = *n;
}

void TSearchForm::UntilCSpinEditChange(const QString& text) {
  if (const auto n = quelm::BlockFieldNumber(text)) ToValue = *n;
}

void TSearchForm::KeyEditChange(const QString& text) {
  const QString upper = text.toUpper();
  if (upper != text) {
    const int cursor = KeyEdit->cursorPosition();
    KeyEdit->setText(upper);
    KeyEdit->setCursorPosition(cursor);
  }
  KeyCheckBox->setChecked(true);
}

bool TSearchForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    OkButtonClick();
    return true;
  }
  if ((watched == FromCSpinEdit || watched == UntilCSpinEdit) && !key->text().isEmpty() &&
      !quelm::BlockFieldKeyAccepted(key->text().at(0)))
    return true;
  return QDialog::eventFilter(watched, event);
}
