#include "base/StringGrid.h"

#include <QHeaderView>

namespace quelm {

StringGrid::StringGrid(int columns, int rows, int fixedRows, QWidget* parent)
    : QTableWidget(parent), fixedRows_(fixedRows > 0 ? 1 : 0) {
  setColumnCount(columns);
  setGridRowCount(rows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setWordWrap(false);
  verticalHeader()->hide();
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setMinimumSectionSize(1);
  if (fixedRows_) {
    for (int c = 0; c < columns; ++c) setHorizontalHeaderItem(c, new QTableWidgetItem);
  } else {
    horizontalHeader()->hide();
  }
}

void StringGrid::setGridRowCount(int rows) { setRowCount(qMax(0, rows - fixedRows_)); }

QString StringGrid::cell(int col, int row) const {
  if (row < fixedRows_) {
    const QTableWidgetItem* h = horizontalHeaderItem(col);
    return h ? h->text() : QString();
  }
  const QTableWidgetItem* i = item(row - fixedRows_, col);
  return i ? i->text() : QString();
}

void StringGrid::setCell(int col, int row, const QString& text) {
  if (col < 0 || col >= columnCount() || row < 0 || row >= gridRowCount()) return;
  if (row < fixedRows_) {
    QTableWidgetItem* h = horizontalHeaderItem(col);
    if (!h) setHorizontalHeaderItem(col, h = new QTableWidgetItem);
    h->setText(text);
    return;
  }
  QTableWidgetItem* i = item(row - fixedRows_, col);
  if (!i) setItem(row - fixedRows_, col, i = new QTableWidgetItem);
  i->setText(text);
}

void StringGrid::clearCells() { clearContents(); }

int StringGrid::selectedRow() const {
  const int r = currentRow();
  return r < 0 ? -1 : r + fixedRows_;
}

void StringGrid::setSelectedRow(int row) {
  if (row < fixedRows_ || row >= gridRowCount()) return;
  setCurrentCell(row - fixedRows_, qMax(0, currentColumn()));
}

void StringGrid::setRowHeights(int pixels) {
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(pixels);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

}  // namespace quelm
