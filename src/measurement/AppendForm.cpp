#include "measurement/AppendForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "base/ButtonBox.h"
#include "base/EnterMovesOn.h"
#include "base/Prompter.h"
#include "measurement/Download.h"


TAppendForm::TAppendForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AppendForm"));
  setWindowTitle(QStringLiteral("Quelm"));
  WarningLabel = new QLabel(this);
  WarningLabel->setObjectName(QStringLiteral("WarningLabel"));
  auto* buttons = new QHBoxLayout;
  const auto button = [&](QPushButton*& b, const char* name, const QString& caption, int choice) {
    b = quelm::makeButton(this, name, caption);
    buttons->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, choice] {
      Choice = choice;
      accept();
    });
  };
  button(AppendButton, "AppendButton", QStringLiteral("Append"), quelm::kChoiceAppend);
  button(OverwriteButton, "OverwriteButton", QStringLiteral("Overwrite"), quelm::kChoiceOverwrite);
  button(NewButton, "NewButton", QStringLiteral("Append+New"), quelm::kChoiceAppendNew);
  button(CancelButton, "CancelButton", QStringLiteral("Cancel"), quelm::kChoiceCancel);
  quelm::fixedColumn({WarningLabel, buttons}, this);
}

TAppendForm::~TAppendForm() = default;

int TAppendForm::Ask(const QString& storageName) {
  WarningLabel->setText(storageName + QStringLiteral(" file exists!"));
  // Closed without a button, nothing is written: an earlier "Overwrite"
  // repeated unasked would empty the storage file.
  Choice = quelm::kChoiceCancel;
  quelm::prompter().runModal(*this);
  return Choice;
}
