#include "evaluation/ContentView.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <algorithm>

#include "base/ErrorCodes.h"
#include "base/FitText.h"
#include "base/StringGrid.h"
#include "evaluation/ContentList.h"
#include "evaluation/ContentModel.h"

namespace quelm {

namespace {
// Its numbers are right-aligned by leading blanks: they line up only in a
// fixed-pitch face.
constexpr int kExposureColumn = 4;
constexpr int kErrorCodesColumn = 8;
constexpr int kPixelsPerErrorCodesCharacter = 8;
}  // namespace

ContentView::ContentView(ContentModel& model, const Widgets& widgets)
    : QObject(widgets.grid), model_(model), w_(widgets) {
  // The texts carry trailing blanks from the fixed-column lists; a column as
  // wide as what is visible must not turn them into an ellipsis.
  w_.grid->setTextElideMode(Qt::ElideNone);
  model_.hooks.changed = [this] { paint(); };
  model_.hooks.busy = [this](bool running) {
    if (running)
      busy_.emplace();
    else
      busy_.reset();
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
    if (QTableWidgetItem* exposure = grid.item(row - grid.fixedRows(), kExposureColumn))
      exposure->setFont(fixedPitch());
    // The codes are widened by their count of characters, however narrow the face.
    const QString& codes = model_.RowTexts(row).cells[kErrorCodesColumn];
    const int codesWidth = static_cast<int>(codes.size()) * kPixelsPerErrorCodesCharacter;
    if (model_.RowSummary(row).ErrorCodes != 0 && grid.colWidth(kErrorCodesColumn) < codesWidth)
      grid.setColWidth(kErrorCodesColumn, codesWidth);
  }
  fitColumns();
  // A new page is read from its first row, wherever the previous one was scrolled.
  if (model_.PageSerial() != shownPage_) grid.scrollToTop();
  shownPage_ = model_.PageSerial();
  paintSelection();
  w_.source->setText(model_.SourceLabel());
  w_.source->setToolTip(model_.SourceHint());
  w_.source->setStatusTip(model_.SourceHint());
  w_.availableBlocks->setText(model_.AvailableBlocks());
}

const QFont& ContentView::fixedPitch() {
  if (!fixedPitch_)
    fixedPitch_ = FixedPitchFont(QFontMetrics(w_.grid->font()).height(), QFontInfo(w_.grid->font()).pixelSize());
  return *fixedPitch_;
}

void ContentView::resetColumns() {
  for (int col = 0; col < kContentColumnCount; ++col) w_.grid->setColWidth(col, 0);
  fitColumns();
}

void ContentView::fitColumns() {
  StringGrid& grid = *w_.grid;
  for (int col = 0; col < kContentColumnCount; ++col) {
    int wanted = grid.horizontalHeader()->sectionSizeHint(col);
    if (model_.FilledRows() > 0) {
      const QFontMetrics metrics(col == kExposureColumn ? fixedPitch() : grid.font());
      for (int row = 1; row <= model_.FilledRows(); ++row) {
        // Trailing blanks pad the texts of a fixed-column list; they need no room here.
        QString text = model_.RowTexts(row).cells[static_cast<size_t>(col)];
        while (text.endsWith(QLatin1Char(' '))) text.chop(1);
        wanted = std::max(wanted, metrics.horizontalAdvance(text) + kGridCellPadding);
      }
    }
    if (grid.colWidth(col) < wanted) grid.setColWidth(col, wanted);
  }
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
  const ContentModel::Move select = model_.Select(row + w_.grid->fixedRows());
  if (!select.moved) paintSelection();
  ReportFailure(select.failure);
}

}  // namespace quelm
