#include "evaluation/NavForm.h"

#include <QListWidget>
#include <QVBoxLayout>

#include "base/Prompter.h"

TNavForm::TNavForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("NavForm"));
  setWindowTitle(QStringLiteral("Navigation"));
  NavListBox = new QListWidget(this);
  NavListBox->setObjectName(QStringLiteral("NavListBox"));
  NavListBox->addItems({QStringLiteral("First Block         Home"), QStringLiteral("Next Page          PgUp"),
                        QStringLiteral("Previous Page   PgDown"), QStringLiteral("Last Block          End"),
                        QStringLiteral("Next Item            Up"), QStringLiteral("Previous Item    Down")});
  // Just the six lines: a reminder, not a window to work in.
  const int frame = 2 * NavListBox->frameWidth();
  NavListBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  NavListBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  NavListBox->setFixedSize(NavListBox->sizeHintForColumn(0) + frame + 8,
                           NavListBox->sizeHintForRow(0) * NavListBox->count() + frame + 4);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(NavListBox);
  connect(NavListBox, &QListWidget::itemClicked, this, &TNavForm::NavListBoxClick);
}

void TNavForm::Execute() { quelm::prompter().runModal(*this); }

void TNavForm::NavListBoxClick() { accept(); }
