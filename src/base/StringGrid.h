#pragma once
// A grid of text cells addressed as (column, row) with an optional title row:
// with one fixed row, row 0 is the title row (shown as the column header)
// and rows 1..rowCount()-1 are the data rows, so code can count rows the way
// the screens describe them.

#include <QTableWidget>

namespace quelm {

class StringGrid : public QTableWidget {
  Q_OBJECT

 public:
  // rows counts the title row when fixedRows is 1.
  StringGrid(int columns, int rows, int fixedRows, QWidget* parent = nullptr);

  int fixedRows() const { return fixedRows_; }
  int colCount() const { return columnCount(); }
  int gridRowCount() const { return rowCount() + fixedRows_; }
  void setGridRowCount(int rows);

  QString cell(int col, int row) const;
  void setCell(int col, int row, const QString& text);
  // Empties every data cell; the title row stays.
  void clearCells();

  // The selected data row in grid numbering, or -1.
  int selectedRow() const;
  void setSelectedRow(int row);

  void setRowHeights(int pixels);
  void setColWidth(int col, int pixels) { setColumnWidth(col, pixels); }
  int colWidth(int col) const { return columnWidth(col); }

 private:
  int fixedRows_;
};

}  // namespace quelm
