#include "base/StringGrid.h"

#include <QHeaderView>
#include <QStyleOptionHeader>

#include "base/FitText.h"

namespace {

// The toolkit sizes a title for bold text, in case the title of the current
// column is drawn bold. No grid here highlights its title row, and measuring
// bold text loaded a second face of the font at start: titles are measured in
// their own face, with a cell's padding beside them so that they keep clear of
// the column lines.
class TitleHeader : public QHeaderView {
 public:
  explicit TitleHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);  // as the table's own title row is
  }
  QSize sectionSizeFromContents(int logicalIndex) const override {
    QStyleOptionHeader title;
    initStyleOption(&title);
    title.section = logicalIndex;
    title.text = model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
    title.fontMetrics = fontMetrics();
    QSize size = style()->sizeFromContents(QStyle::CT_HeaderSection, &title, QSize(), this);
    if (!title.text.isEmpty()) size.rwidth() += quelm::kGridCellPadding;
    return size;
  }
};

}  // namespace

namespace quelm {

StringGrid::StringGrid(int columns, int rows, int fixedRows, QWidget* parent)
    : QTableWidget(parent), fixedRows_(fixedRows > 0 ? 1 : 0) {
  setHorizontalHeader(new TitleHeader(this));
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
