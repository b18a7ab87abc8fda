#include "evaluation/ContentView.h"

#include <QApplication>
#include <QLabel>

#include "base/StringGrid.h"
#include "evaluation/ContentList.h"
#include "evaluation/ContentModel.h"

namespace quelm {

namespace {
constexpr int kDateTimeColumn = 1;
constexpr int kErrorCodesColumn = 8;
constexpr int kCellPadding = 12;
constexpr int kPixelsPerErrorCodesCharacter = 8;
}  // namespace

ContentView::ContentView(ContentModel& model, const Widgets& widgets)
    : QObject(widgets.grid), model_(model), w_(widgets) {
  model_.hooks.changed = [this] { paint(); };
  model_.hooks.busy = [](bool running) {
    if (running)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  };
  connect(w_.grid, &QTableWidget::currentCellChanged, this,
          [this](int row, int, int previousRow, int) { cellChanged(row, previousRow); });
  connect(w_.grid, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    if (model_.RowSelectable(row + w_.grid->fixedRows()) && showChart) showChart();
  });
}

void ContentView::paint() {
  StringGrid& grid = *w_.grid;
  for (int row = 1; row <= kContentRows; ++row) {
    const bool filled = row <= model_.FilledRows();
    for (int col = 0; col < kContentColumnCount; ++col)
      grid.setCell(col, row, filled ? model_.RowTexts(row).cells[static_cast<size_t>(col)] : QString());
    if (!filled) continue;
    // Columns only ever widen, so that the operator's own widths stay.
    const QString& codes = model_.RowTexts(row).cells[kErrorCodesColumn];
    const int codesWidth = static_cast<int>(codes.size()) * kPixelsPerErrorCodesCharacter;
    if (model_.RowSummary(row).ErrorCodes != 0 && grid.colWidth(kErrorCodesColumn) < codesWidth)
      grid.setColWidth(kErrorCodesColumn, codesWidth);
    // The time is what tells the read-outs apart: it must not be cut off.
    const int dateWidth =
        grid.fontMetrics().horizontalAdvance(model_.RowTexts(row).cells[kDateTimeColumn]) + kCellPadding;
    if (grid.colWidth(kDateTimeColumn) < dateWidth) grid.setColWidth(kDateTimeColumn, dateWidth);
  }
  paintSelection();
  w_.source->setText(model_.SourceLabel());
  w_.source->setToolTip(model_.SourceHint());
  w_.source->setStatusTip(model_.SourceHint());
  w_.availableBlocks->setText(model_.AvailableBlocks());
}

void ContentView::paintSelection() {
  selecting_ = true;
  if (model_.SelectedRow() >= 1)
    w_.grid->setSelectedRow(model_.SelectedRow());
  else
    w_.grid->setCurrentCell(-1, -1);
  selecting_ = false;
}

void ContentView::cellChanged(int row, int previousRow) {
  if (selecting_ || row == previousRow || row < 0) return;
  // The grid moved its selection itself (mouse or keyboard): the model
  // decides, and a refused row snaps back.
  if (!model_.Select(row + w_.grid->fixedRows())) paintSelection();
}

}  // namespace quelm
