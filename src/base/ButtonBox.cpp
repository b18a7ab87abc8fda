#include "base/ButtonBox.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/EnterMovesOn.h"

namespace quelm {

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> buttons) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  for (QWidget* b : buttons) row->addWidget(b);
  return row;
}

QGroupBox* buttonBox(QWidget* parent, const QString& title, std::initializer_list<BoxButton> buttons,
                     const char* name) {
  auto* box = new QGroupBox(title, parent);
  if (name) box->setObjectName(QLatin1String(name));
  for (const BoxButton& b : buttons) *b.button = makeButton(box, b.name, b.caption);
  auto* row = new QHBoxLayout(box);
  for (const BoxButton& b : buttons) row->addWidget(*b.button);
  return box;
}

namespace {
template <class Box>
Box* fill(Box* box, std::initializer_list<BoxItem> items) {
  for (const BoxItem& item : items) {
    if (QWidget* const* w = std::get_if<QWidget*>(&item))
      box->addWidget(*w);
    else if (QLayout* const* l = std::get_if<QLayout*>(&item))
      box->addLayout(*l);
    else
      box->addStretch();
  }
  return box;
}
}  // namespace

QHBoxLayout* boxRow(std::initializer_list<BoxItem> items, QWidget* owner) {
  return fill(new QHBoxLayout(owner), items);
}

QVBoxLayout* boxColumn(std::initializer_list<BoxItem> items, QWidget* owner) {
  return fill(new QVBoxLayout(owner), items);
}

QGridLayout* gridRows(std::initializer_list<std::initializer_list<QWidget*>> rows, QWidget* owner) {
  auto* grid = new QGridLayout(owner);
  int row = 0;
  for (const auto& cells : rows) {
    int column = 0;
    for (QWidget* cell : cells) {
      if (cell) grid->addWidget(cell, row, column);
      ++column;
    }
    ++row;
  }
  return grid;
}

QVBoxLayout* fixedColumn(std::initializer_list<BoxItem> items, QWidget* owner) {
  QVBoxLayout* column = boxColumn(items, owner);
  column->setSizeConstraint(QLayout::SetFixedSize);
  return column;
}

}  // namespace quelm
