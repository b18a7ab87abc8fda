// The Content page of the main window: importing a source into the block
// list, paging, item navigation, loading the selected block and the search.
// The decisions live in evaluation/ContentList.h; these handlers sequence
// them against the grid, the data object and the detail view.

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <algorithm>
#include <cstring>

#include "evaluation/ContentList.h"
#include "evaluation/ContentSource.h"
#include "evaluation/NavForm.h"
#include "evaluation/SearchCriteria.h"
#include "evaluation/SearchForm.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "shell/IoForm.h"
#include "shell/PgcForm.h"
#include "base/Prompter.h"
#include "base/SharedFileDialogs.h"
#include "base/StringGrid.h"

namespace quelm {

// The busy pointer of a list operation. The item navigation and the page
// turns do nothing while one is running.
class ContentBusyPointer {
 public:
  explicit ContentBusyPointer(int& depth) : depth_(depth) {
    ++depth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~ContentBusyPointer() { release(); }
  // Back to the normal pointer before a message is shown.
  void release() {
    if (!active_) return;
    active_ = false;
    --depth_;
    QApplication::restoreOverrideCursor();
  }
  ContentBusyPointer(const ContentBusyPointer&) = delete;
  ContentBusyPointer& operator=(const ContentBusyPointer&) = delete;

 private:
  int& depth_;
  bool active_ = true;
};

}  // namespace quelm

namespace {

using BusyPointer = quelm::ContentBusyPointer;

constexpr int kDateTimeColumn = 1;
constexpr int kErrorCodesColumn = 8;
constexpr int kCellPadding = 12;
constexpr int kPixelsPerErrorCodesCharacter = 8;

// The block the detail view shows, kept across operations that read other
// records into the data object (a re-count clears it, a page search leaves
// the last record it stepped over). Evaluation and export go on working on
// what the operator sees.
class ShownBlock {
 public:
  explicit ShownBlock(TNurvoDataBlock& data) : data_(data), index_(data.BlockIndex), state_(data.State) {
    std::memcpy(&record_, &data.Record, sizeof record_);
  }
  void restore() {
    std::memcpy(&data_.Record, &record_, sizeof record_);
    data_.BlockIndex = index_;
    data_.State = state_;
  }

 private:
  TNurvoDataBlock& data_;
  BlockRecord record_;
  uint32_t index_;
  uint32_t state_;
};

// A message box wants the normal pointer, also in the middle of a list
// operation that goes on afterwards.
void reportWithNormalPointer(int code, const QString& context) {
  const bool busy = QApplication::overrideCursor() != nullptr;
  if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
  ReportError(code, context);
  if (busy) QApplication::restoreOverrideCursor();
}

// Keeps the reader import from being started again while it runs: the
// exchanges with the reader let the program's events through.
class ImportCommandsDisabled {
 public:
  ImportCommandsDisabled(QToolButton* button, QAction* item) : button_(button), item_(item) {
    button_->setEnabled(false);
    item_->setEnabled(false);
  }
  ~ImportCommandsDisabled() {
    button_->setEnabled(true);
    item_->setEnabled(true);
  }
  ImportCommandsDisabled(const ImportCommandsDisabled&) = delete;
  ImportCommandsDisabled& operator=(const ImportCommandsDisabled&) = delete;

 private:
  QToolButton* button_;
  QAction* item_;
};

}  // namespace

void TPgcForm::SetUpContentList() {
  FileOpenSpeedButton->setEnabled(true);
  FromFile1->setEnabled(true);
  RSSpeedButton->setEnabled(true);
  FromQuelm1->setEnabled(true);
  connect(FileOpenSpeedButton, &QToolButton::clicked, this, &TPgcForm::FileOpenSpeedButtonClick);
  connect(FromFile1, &QAction::triggered, this, &TPgcForm::FileOpenSpeedButtonClick);
  connect(RSSpeedButton, &QToolButton::clicked, this, &TPgcForm::RSSpeedButtonClick);
  connect(FromQuelm1, &QAction::triggered, this, &TPgcForm::RSSpeedButtonClick);
  connect(FilterButton, &QPushButton::clicked, this, &TPgcForm::FilterButtonClick);
  connect(NextPageButton, &QPushButton::clicked, this, &TPgcForm::NextPageButtonClick);
  connect(PrevPageButton, &QPushButton::clicked, this, &TPgcForm::PrevPageButtonClick);
  connect(NavigationNextItem, &QAction::triggered, this, &TPgcForm::NextPageButtonClick);
  connect(NavigationPreviousItem, &QAction::triggered, this, &TPgcForm::PrevPageButtonClick);
  connect(NavigationNext, &QAction::triggered, this, &TPgcForm::NavigationNextClick);
  connect(NavigationPrev, &QAction::triggered, this, &TPgcForm::NavigationPrevClick);
  connect(NavigationFirstItem, &QAction::triggered, this, [this] { NavigationEvent(NavigationFirstItem); });
  connect(NavigationLastItem, &QAction::triggered, this, [this] { NavigationEvent(NavigationLastItem); });
  connect(BlockStringGrid, &QTableWidget::currentCellChanged, this,
          [this](int row, int, int previousRow, int) { contentCellChanged(row, previousRow); });
  connect(BlockStringGrid, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    if (BlockStringGridSelectCell(0, row + BlockStringGrid->fixedRows())) BlockStringGridDblClick();
  });
}

// Both windows live as long as the main window; they are made when first needed.
TSearchForm& TPgcForm::SearchForm() {
  if (!searchForm_) searchForm_ = new TSearchForm(this);
  return *searchForm_;
}

TNavForm& TPgcForm::NavForm() {
  if (!navForm_) navForm_ = new TNavForm(this);
  return *navForm_;
}

// --- Grid --------------------------------------------------------------

void TPgcForm::ClearContentGrid() { BlockStringGrid->clearCells(); }

int TPgcForm::filledContentRows() const {
  int row = 1;
  while (row <= quelm::kContentRows && !BlockStringGrid->cell(0, row).isEmpty()) ++row;
  return row - 1;
}

void TPgcForm::writeContentRow(int row, const BlockSummary& summary) {
  const quelm::ContentRow texts = quelm::ContentRowTexts(summary);
  for (int col = 0; col < quelm::kContentColumnCount; ++col)
    BlockStringGrid->setCell(col, row, texts.cells[col]);
  const int needed = static_cast<int>(texts.cells[kErrorCodesColumn].size()) * kPixelsPerErrorCodesCharacter;
  if (summary.ErrorCodes != 0 && BlockStringGrid->colWidth(kErrorCodesColumn) < needed)
    BlockStringGrid->setColWidth(kErrorCodesColumn, needed);
  // The time is what tells the read-outs apart: it must not be cut off.
  const int dateWidth =
      BlockStringGrid->fontMetrics().horizontalAdvance(texts.cells[kDateTimeColumn]) + kCellPadding;
  if (BlockStringGrid->colWidth(kDateTimeColumn) < dateWidth)
    BlockStringGrid->setColWidth(kDateTimeColumn, dateWidth);
  if (!texts.message.isEmpty()) {
    // A message box wants the normal pointer, also in the middle of a page fill.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
    quelm::showMessage(quelm::MessageKind::Plain, windowTitle(), texts.message);
    if (busy) QApplication::restoreOverrideCursor();
  }
}

int TPgcForm::FillRow(int i) {
  const int row = filledContentRows() + 1;
  if (row > quelm::kContentRows || i < 0 || i >= kPageRows) return -1;
  writeContentRow(row, DataBlock->Summaries[i]);
  return 0;
}

int TPgcForm::FillNextRow() {
  const int row = filledContentRows() + 1;
  if (row > quelm::kContentRows) return -1;
  writeContentRow(row, DataBlock->Summaries[row - 1]);
  return 0;
}

bool TPgcForm::BlockStringGridSelectCell(int /*col*/, int row) {
  return quelm::RowSelectable(row, filledContentRows(), PagingEnabled != 0);
}

void TPgcForm::selectContentRow(int row) {
  selectingRow_ = true;
  if (row >= 1)
    BlockStringGrid->setSelectedRow(row);
  else
    BlockStringGrid->setCurrentCell(-1, -1);
  selectingRow_ = false;
}

void TPgcForm::contentCellChanged(int row, int previousRow) {
  if (selectingRow_ || row == previousRow || row < 0) return;
  const int gridRow = row + BlockStringGrid->fixedRows();
  if (contentBusy_ || !BlockStringGridSelectCell(0, gridRow)) {
    selectContentRow(previousRow < 0 ? 0 : previousRow + BlockStringGrid->fixedRows());
    return;
  }
  BlockStringGridClick();
}

void TPgcForm::BlockStringGridClick() { LoadSelectedBlock(); }

void TPgcForm::BlockStringGridDblClick() { PageControl->setCurrentWidget(ChartTabSheet); }

// --- Paging --------------------------------------------------------------

void TPgcForm::EnablePaging() {
  PagingEnabled = 1;
  for (QPushButton* b : {PrevPageButton, NextPageButton}) b->setEnabled(true);
  for (QAction* a : {NavigationNextItem, NavigationPreviousItem, NavigationNext, NavigationPrev})
    a->setEnabled(true);
}

void TPgcForm::DisablePaging() {
  PagingEnabled = 0;
  for (QPushButton* b : {PrevPageButton, NextPageButton}) b->setEnabled(false);
  for (QAction* a : {NavigationNextItem, NavigationPreviousItem, NavigationNext, NavigationPrev})
    a->setEnabled(false);
}

int TPgcForm::searchContentPage(const SearchRequest& request, bool* failed) {
  if (failed) *failed = false;
  if (!contentSource_) return 0;
  ShownBlock shown(*DataBlock);
  int count = 0;
  const int rc = contentSource_->SearchPage(*DataBlock, request, SearchForm().UpperLimit,
                                            SearchForm().LowerLimit, &count);
  shown.restore();
  if (rc != 0) {
    // Whatever the data object holds now is no page of the source.
    if (failed) *failed = true;
    if (contentSource_->Reportable(rc))
      reportWithNormalPointer(rc, QStringLiteral("TPgcForm::searchContentPage(): %1").arg(rc));
    return 0;
  }
  return std::clamp(count, 0, quelm::kContentRows);
}

void TPgcForm::showContentSource() {
  if (!contentSource_) return;
  SourceDatLabel->setText(contentSource_->Label());
  SourceDatLabel->setToolTip(contentSource_->Hint());
  SourceDatLabel->setStatusTip(contentSource_->Hint());
  AvailableBlocksDatLabel->setText(QString::number(DataBlock->ValidBlocks));
}

void TPgcForm::NextPageButtonClick() {
  if (contentBusy_ || !DataBlock) return;
  quelm::TraceLine trace(QStringLiteral("TPgcForm::NextPageButtonClick(): "));
  DisablePaging();
  {
    BusyPointer busy(contentBusy_);
    SearchRequest& request = SearchForm().Request;
    const quelm::PageTurn turn =
        quelm::PlanNextPage(request, quelm::RowBlockNumber(BlockStringGrid->cell(0, 1)),
                            SearchForm().UpperLimit, SearchForm().LowerLimit);
    const int n = turn.search ? searchContentPage(turn.request) : 0;
    request = turn.keep;
    if (n > 0) {
      ClearContentGrid();
      // The forward search returns ascending numbers; the list shows the newest first.
      for (int i = n - 1; i >= 0; --i) FillRow(i);
      selectContentRow(n);  // the block right after the old page's top
      LoadSelectedBlock();
      showContentSource();
      UpdateMenuItems();
    }
  }
  EnablePaging();
  trace.ok();
}

void TPgcForm::PrevPageButtonClick() {
  if (contentBusy_ || !DataBlock) return;
  quelm::TraceLine trace(QStringLiteral("TPgcForm::PrevPageButtonClick(): "));
  {
    BusyPointer busy(contentBusy_);
    DisablePaging();
    const int last = filledContentRows();
    SearchRequest& request = SearchForm().Request;
    const quelm::PageTurn turn = quelm::PlanPrevPage(
        request, last > 0 ? quelm::RowBlockNumber(BlockStringGrid->cell(0, last)) : std::nullopt,
        SearchForm().LowerLimit);
    const int n = turn.search ? searchContentPage(turn.request) : 0;
    request = turn.keep;
    if (n > 0) {
      ClearContentGrid();
      for (int i = 0; i < n; ++i) FillRow(i);
      selectContentRow(1);  // the block right below the old page's bottom
      LoadSelectedBlock();
      showContentSource();
      UpdateMenuItems();
    }
  }
  EnablePaging();
  trace.ok();
}

// --- Item navigation -------------------------------------------------------

void TPgcForm::applyNavigation(const quelm::NavDecision& decision) {
  switch (decision.move) {
    case quelm::NavMove::Stay:
      return;
    case quelm::NavMove::Select:
      selectContentRow(decision.row);
      LoadSelectedBlock();
      return;
    case quelm::NavMove::NextPage:
      NextPageButtonClick();
      return;
    case quelm::NavMove::PrevPage:
      PrevPageButtonClick();
      return;
  }
}

void TPgcForm::NavigationNextClick() {
  if (contentBusy_) return;
  applyNavigation(
      quelm::DecideNextItem(BlockStringGrid->selectedRow(), filledContentRows(), PagingEnabled != 0));
}

void TPgcForm::NavigationPrevClick() {
  if (contentBusy_) return;
  applyNavigation(
      quelm::DecidePrevItem(BlockStringGrid->selectedRow(), filledContentRows(), PagingEnabled != 0));
}

void TPgcForm::NavigationEvent(QAction* item) {
  if (contentBusy_) return;
  const int selected = BlockStringGrid->selectedRow(), filled = filledContentRows();
  if (item == NavigationFirstItem)
    applyNavigation(quelm::DecideFirstBlock(selected, filled, PagingEnabled != 0));
  else if (item == NavigationLastItem)
    applyNavigation(quelm::DecideLastBlock(selected, filled, PagingEnabled != 0));
}

// --- Loading a block -------------------------------------------------------

void TPgcForm::LoadSelectedBlock() {
  quelm::TraceLine trace(QStringLiteral("TPgcForm::LoadSelectedBlock(): "));
  if (!DataBlock) return;
  if (DataBlock->State & Busy) {
    trace.fail(QStringLiteral("BUSYCOM"));
    return;
  }
  const int row = BlockStringGrid->selectedRow();
  const auto number = row >= 1 ? quelm::RowBlockNumber(BlockStringGrid->cell(0, row)) : std::nullopt;
  if (!number || !contentSource_) return;

  // While the block is read the grid takes no new selection (see
  // contentCellChanged). It is not disabled: that would drop the keyboard
  // focus and the mouse press under way, and with it a double-click.
  BusyPointer busy(contentBusy_);
  ShownBlock shown(*DataBlock);
  const int rc = contentSource_->ReadBlock(*DataBlock, *number);
  if (rc != 0) {
    // The detail view still shows the previous block: keep the data with it.
    shown.restore();
    busy.release();
    trace.fail(QString::number(rc));
    if (contentSource_->Reportable(rc))
      ReportError(rc, contentSource_->ReadContext(QString::number(row), rc));
    return;
  }
  DataRefresh();
  trace.ok();
}

// --- Import ------------------------------------------------------------------

void TPgcForm::FileOpenSpeedButtonClick() {
  PageControl->setCurrentWidget(ContentTabSheet);
  FileOpenItemClick();
}

void TPgcForm::FileOpenItemClick() {
  quelm::TraceLine trace(QStringLiteral("TPgcForm::FileOpenItemClick(): "));
  if (!DataBlock) return;
  quelm::SharedFileDialog& dialog = quelm::sharedOpenDialog();
  dialog.Filter =
      quelm::filterFromPipes(QStringLiteral("Quelm data files (*.dat)|*.DAT|All files (*.*)|*.*"));
  if (!dialog.Execute()) {
    trace.fail(QStringLiteral("ERR_CANCEL"));
    return;
  }
  const QString name = dialog.FileName;

  BusyPointer busy(contentBusy_);
  ClearContentGrid();
  selectContentRow(0);
  auto source = std::make_unique<quelm::DataFileSource>(name);
  ShownBlock previous(*DataBlock);
  int rc = source->Skim(*DataBlock);
  if (rc != 0) {
    // The list is empty; the view, its block and the source stay as they were.
    previous.restore();
    busy.release();
    endFailedImport(*source, rc, trace);
    return;
  }
  contentSource_ = std::move(source);

  SearchRequest& request = SearchForm().Request;
  request.StartBlock = static_cast<uint16_t>(DataBlock->LastBlock);
  request.Flags &= static_cast<uint8_t>(~kSearchForward);
  const int n = searchContentPage(request);
  if (n > 0) {
    ClearContentGrid();
    for (int i = 0; i < n; ++i) FillRow(i);
  }
  EnablePaging();

  showNewestImportedBlock(busy, trace);
}

void TPgcForm::RSSpeedButtonClick() {
  quelm::TraceLine trace(QStringLiteral("TPgcForm::RSSpeedButtonClick(): "));
  if (contentBusy_ || !DataBlock) return;
  // Whatever the last exchange left behind, the import starts the link afresh.
  if (IoForm) IoForm->Link.ResetPending = true;
  PageControl->setCurrentWidget(ContentTabSheet);
  ImportCommandsDisabled importing(RSSpeedButton, FromQuelm1);

  BusyPointer busy(contentBusy_);
  ClearContentGrid();
  selectContentRow(0);
  auto source = std::make_unique<quelm::ReaderSource>();
  // The view keeps its block until the reader's newest one can be shown.
  ShownBlock previous(*DataBlock);
  int rc = source->Skim(*DataBlock);
  if (rc != 0) {
    // The list is empty; the view, its block and the source stay as they were.
    previous.restore();
    busy.release();
    endFailedImport(*source, rc, trace);
    return;
  }
  contentSource_ = std::move(source);

  if (DataBlock->ValidBlocks == 0) {
    previous.restore();
    busy.release();
    showContentSource();
    EnablePaging();
    UpdateMenuItems();
    trace.ok(QStringLiteral("ValidBlocks=0: "));
    quelm::showMessage(quelm::MessageKind::Plain, windowTitle(),
                       QStringLiteral("There is not Glow Data in the memory"));
    return;
  }

  int n = 0;
  rc = RequestFirstReaderPage(&n);
  if (rc != 0) {
    // No page is listed rather than what an earlier page left in Summaries.
    previous.restore();
    busy.release();
    showContentSource();
    EnablePaging();
    UpdateMenuItems();
    trace.fail(QString::number(rc));
    if (contentSource_->Reportable(rc)) ReportError(rc, QStringLiteral("SearchCOMBlocks(): %1").arg(rc));
    return;
  }
  // The reader's count, not the block count: slots beyond it hold no block.
  for (int k = 0; k < n; ++k) FillNextRow();
  EnablePaging();

  showNewestImportedBlock(busy, trace);
}

void TPgcForm::endFailedImport(const quelm::ContentSource& source, int rc, quelm::TraceLine& trace) {
  EnablePaging();
  UpdateMenuItems();
  trace.fail(QString::number(rc));
  if (source.Reportable(rc)) ReportError(rc, source.SkimContext(rc));
}

void TPgcForm::showNewestImportedBlock(BusyPointer& busy, quelm::TraceLine& trace) {
  const int rc = contentSource_->ReadBlock(*DataBlock, DataBlock->LastBlock);
  // The view shows the newest block, or the cleared record when it cannot be
  // read: nothing of the previous source may remain on screen.
  DataBlock->State |= Loaded;
  if (quelm::RowBlockNumber(BlockStringGrid->cell(0, 1)) == DataBlock->LastBlock) selectContentRow(1);
  if (rc != 0) {
    busy.release();
    trace.fail(QString::number(rc));
    if (contentSource_->Reportable(rc))
      ReportError(rc, contentSource_->ReadContext(QString::number(DataBlock->LastBlock), rc));
  }
  DataRefresh();
  showContentSource();
  UpdateMenuItems();
  if (rc == 0) trace.ok();
}

int TPgcForm::RequestFirstReaderPage(int* count) {
  if (!DataBlock || !contentSource_) return quelm::kErrNullptr;
  // The page that ends at the newest block, with every criterion cleared.
  SearchRequest& request = SearchForm().Request;
  request.Flags = 0;
  request.StartBlock = static_cast<uint16_t>(DataBlock->LastBlock);
  request.FromBlock = static_cast<uint16_t>(DataBlock->LastBlock + 1);
  int n = 0;
  ShownBlock shown(*DataBlock);
  const int rc =
      contentSource_->SearchPage(*DataBlock, request, SearchForm().UpperLimit, SearchForm().LowerLimit, &n);
  shown.restore();
  if (count) *count = rc == 0 ? std::clamp(n, 0, quelm::kContentRows) : 0;
  return rc;
}

// --- Search --------------------------------------------------------------------

void TPgcForm::FilterButtonClick() {
  quelm::TraceLine trace(QStringLiteral("TPgcForm::FilterButtonClick(): "));
  if (contentBusy_ || !DataBlock || !contentSource_) return;
  {
    // The re-count clears the data object's record; the view keeps its block.
    ShownBlock shown(*DataBlock);
    const int rc = contentSource_->Skim(*DataBlock);
    shown.restore();
    if (rc != 0) {
      trace.fail(QString::number(rc));
      if (contentSource_->Reportable(rc)) ReportError(rc, contentSource_->SkimContext(rc));
      return;
    }
  }
  if (!SearchForm().Initialised) {
    SearchForm().Initialised = 1;
    quelm::InitialiseSearchRequest(SearchForm().Request, DataBlock->LastBlock, QDateTime::currentDateTime());
  }
  if (!SearchForm().Execute()) return;

  BusyPointer busy(contentBusy_);
  bool failed = false;
  const int n = searchContentPage(SearchForm().Request, &failed);
  // A search that could not be made leaves the list as it was.
  if (failed) return;
  ClearContentGrid();
  // The shown block need not be on the found page: nothing is selected
  // until the operator picks a row.
  selectContentRow(0);
  for (int k = 0; k < n; ++k) FillNextRow();
  trace.ok();
}

void TPgcForm::FormMouseDown(Qt::MouseButton button, int /*X*/, int /*Y*/) {
  if (button == Qt::RightButton) NavForm().Execute();
}

void TPgcForm::mousePressEvent(QMouseEvent* event) {
  // Presses that no control took reach the window: its background.
  FormMouseDown(event->button(), static_cast<int>(event->position().x()),
                static_cast<int>(event->position().y()));
  QMainWindow::mousePressEvent(event);
}
