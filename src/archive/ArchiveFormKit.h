#pragma once
// The widgets the dose archive window's pages and dialogs are made of, for
// its files alone (ArchiveForm.cpp, ArchiveRecordPages.cpp,
// ArchiveDialogs.cpp): buttons, date edits, choice boxes, the tables over
// the model's item models, and the selection that follows the model.

#include <QAbstractItemView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <type_traits>
#include <utility>

#include "archive/ArchiveItemModels.h"
#include "base/EnterMovesOn.h"
#include "base/UserLocale.h"

namespace quelm::archive_form {

// A high dose stands out; a conflicting record reads as a remark beside the list.
class RowKindDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    switch (static_cast<quelm::ArchiveRowKind>(index.data(quelm::kRowKindRole).toInt())) {
      case quelm::ArchiveRowKind::High:
        option->font.setBold(true);
        option->backgroundBrush = QColor(252, 220, 220);
        break;
      case quelm::ArchiveRowKind::Conflict:
        option->font.setItalic(true);
        option->backgroundBrush = QColor(255, 243, 205);
        break;
      case quelm::ArchiveRowKind::Plain:
        break;
    }
  }
};

inline QLabel* valueLabel(QWidget* parent, const char* name) {
  auto* l = new QLabel(parent);
  l->setObjectName(QLatin1String(name));
  l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("-000,000 mSv")));
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return l;
}

// A page of the window's tab bar, named; the caller adds it as a tab once
// it holds its controls.
inline QWidget* tabSheet(QWidget* tabs, const char* name) {
  auto* w = new QWidget(tabs);
  w->setObjectName(QLatin1String(name));
  return w;
}

// The texts a combo box offers, in order.
// Two panes the operator can size: `sizes` at first, room gained or lost
// shared by the stretches.
inline QSplitter* twoPanes(Qt::Orientation orientation, QWidget* parent, QWidget* first, QWidget* second,
                           std::pair<int, int> stretches, const QList<int>& sizes) {
  auto* split = new QSplitter(orientation, parent);
  split->addWidget(first);
  split->addWidget(second);
  split->setStretchFactor(0, stretches.first);
  split->setStretchFactor(1, stretches.second);
  split->setSizes(sizes);
  return split;
}

inline QStringList itemTexts(const QComboBox* box) {
  QStringList texts;
  for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
  return texts;
}

// A box the operator types into or picks from (a person, a period): what
// is typed is never added to its list. minimumContents 0 leaves the width
// to the box.
inline QComboBox* choiceBox(QWidget* parent, const char* name, int minimumContents = 0) {
  auto* b = new QComboBox(parent);
  b->setObjectName(QLatin1String(name));
  b->setEditable(true);
  b->setInsertPolicy(QComboBox::NoInsert);
  if (minimumContents > 0) b->setMinimumContentsLength(minimumContents);
  return b;
}

// A line of text the operator may select and copy: a status, a count, a path.
inline QLabel* note(QWidget* parent, const char* name) {
  auto* l = new QLabel(parent);
  l->setObjectName(QLatin1String(name));
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return l;
}

inline QLineEdit* dateEdit(QWidget* parent, const char* name) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QLatin1String(name));
  e->setPlaceholderText(quelm::userLocale().shortDateFormat);
  e->setMaximumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00000")) + 16);
  return e;
}

// A table over one of the model's lists: whole rows, columns as wide as
// their title and texts each time the list is replaced.
inline QTableView* table(QWidget* parent, const char* name, QAbstractItemModel* model, bool sortable) {
  auto* t = new QTableView(parent);
  t->setObjectName(QLatin1String(name));
  t->setModel(model);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setTabKeyNavigation(false);
  t->setWordWrap(false);
  // A text reads whole or scrolls into view; it is never cut short.
  t->setTextElideMode(Qt::ElideNone);
  t->setItemDelegate(new RowKindDelegate(t));
  t->verticalHeader()->setVisible(false);
  t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
  t->horizontalHeader()->setHighlightSections(false);
  t->horizontalHeader()->setSortIndicatorShown(sortable);
  t->horizontalHeader()->setSectionsClickable(sortable);
  t->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  QObject::connect(model, &QAbstractItemModel::modelReset, t, [t] { t->resizeColumnsToContents(); });
  t->resizeColumnsToContents();
  return t;
}

// A page of a row of controls above its list, and a line or a row below it.
template <typename Below>
void layOutPage(QWidget* page, QLayout* top, QWidget* list, Below* below) {
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top);
  layout->addWidget(list, 1);
  if constexpr (std::is_base_of_v<QLayout, Below>)
    layout->addLayout(below);
  else
    layout->addWidget(below);
}

// A page that is one list with a remark on what it holds and the button
// that acts on its chosen row beside the remark.
inline void layOutNotedTable(QWidget* page, const QString& remark, QPushButton* action, QTableView* view) {
  auto* remarkLabel = new QLabel(remark, page);
  remarkLabel->setWordWrap(true);
  auto* row = new QHBoxLayout;
  row->addWidget(remarkLabel, 1);
  row->addWidget(action);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(row);
  layout->addWidget(view, 1);
}

// Follows the view's current row in the model, unless the window paints it.
template <typename F>
void onCurrentRow(QAbstractItemView* view, const bool& painting, F f) {
  QObject::connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, view,
                   [&painting, f](const QModelIndex& current) {
                     if (!painting) f(current.isValid() ? current.row() : -1);
                   });
}

inline void setCurrentRow(QAbstractItemView* view, int row) {
  QItemSelectionModel* s = view->selectionModel();
  const int shown = s->currentIndex().isValid() ? s->currentIndex().row() : -1;
  if (shown == row && (row < 0 || s->isRowSelected(row))) return;
  if (row < 0) {
    s->clear();
    return;
  }
  s->setCurrentIndex(view->model()->index(row, 0),
                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

}  // namespace quelm::archive_form
