#include "evaluation/ContentModel.h"

#include <QDateTime>
#include <algorithm>
#include <cstring>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "evaluation/DetailModel.h"
#include "evaluation/SearchCriteria.h"
#include "link/CommandChannel.h"
#include "measurement/NurvoDataBlock.h"

namespace quelm {

SearchState::SearchState() { std::memset(&Request, 0, sizeof Request); }

// A list operation in progress: it holds the busy hook, so that the item
// navigation, the page turns and the row selection do nothing meanwhile
// (the reader commands let the program's events through while they wait),
// and the reader's line until it ends: another program's command between
// the skim and the page would answer for another state.
class ContentModel::Operation {
 public:
  explicit Operation(ContentModel& model) : busy_(model.hooks.busy) {}
  // Back to the normal pointer before a failure is reported.
  void release() {
    line_.release();
    busy_.release();
  }

 private:
  BusyScope busy_;
  LineHold line_;
};

ContentModel::ContentModel(std::unique_ptr<TNurvoDataBlock>& data, DetailModel& detail)
    : data_(data), detail_(detail) {
  std::memset(rows_.data(), 0, sizeof rows_);
  records_.fill(kNoRecord);
}

ContentModel::~ContentModel() = default;

void ContentModel::notify() {
  if (hooks.changed) hooks.changed();
}

void ContentModel::setPaging(bool enabled) {
  paging_ = enabled;
  if (hooks.paging) hooks.paging(enabled);
}

void ContentModel::commandsChanged() {
  if (hooks.commandsChanged) hooks.commandsChanged();
}

bool ContentModel::RowSelectable(int row) const { return quelm::RowSelectable(row, filled_, paging_); }

// --- Rows ---------------------------------------------------------------------

void ContentModel::ClearContentGrid() {
  ++pageSerial_;
  filled_ = 0;
  texts_.fill(ContentRow{});
}

int ContentModel::FillRow(int i) {
  if (filled_ >= kContentRows) return kNoEmptyRow;
  const BlockSummary& summary = data_->Summaries[i];
  std::memcpy(&rows_[static_cast<size_t>(filled_)], &summary, sizeof summary);
  records_[static_cast<size_t>(filled_)] = data_->SummaryRecords[i];
  texts_[static_cast<size_t>(filled_)] = ContentRowTexts(summary);
  const QString message = texts_[static_cast<size_t>(filled_)].message;
  ++filled_;
  // The title is left to the prompter: the program's name.
  if (!message.isEmpty()) showMessage(MessageKind::Plain, QString(), message);
  return 0;
}

int ContentModel::FillNextRow() { return FillRow(filled_); }

// --- Source, pages and blocks ---------------------------------------------------

int ContentModel::searchPage(const SearchRequest& request, int* failure, int64_t nextTo) {
  *failure = 0;
  if (!source_ || !data_) return 0;
  int count = 0;
  const int rc = nextTo == kNoRecord
                     ? source_->SearchPage(*data_, request, search_.UpperLimit, search_.LowerLimit, &count)
                     : source_->SearchPageNextTo(*data_, request, nextTo, search_.UpperLimit,
                                                 search_.LowerLimit, &count);
  // The search stepped over records of the source; the view keeps its block.
  detail_.ReinstateShownBlock();
  if (rc != 0) {
    // Whatever the data object holds now is no page of the source.
    *failure = rc;
    return 0;
  }
  return std::clamp(count, 0, kContentRows);
}

void ContentModel::showSource() {
  if (!source_ || !data_) return;
  outside_ = false;
  sourceLabel_ = source_->Label();
  sourceHint_ = source_->Hint();
  availableBlocks_ = QString::number(data_->ValidBlocks);
  notify();
}

int ContentModel::loadSelectedBlock() {
  TraceLine trace(QStringLiteral("TPgcForm::LoadSelectedBlock(): "));
  if (selected_ < 1 || selected_ > filled_) return 0;
  return readAndShow(RowSummary(selected_).BlockNumber, RowRecord(selected_), trace,
                     QString::number(selected_));
}

int ContentModel::ShowBlock(uint32_t number, int64_t record) {
  TraceLine trace(QStringLiteral("TPgcForm::ShowBlock(): "));
  if (Busy()) return 0;
  return readAndShow(number, record, trace, QString::number(number));
}

int ContentModel::readAndShow(uint32_t number, int64_t record, TraceLine& trace, const QString& row) {
  if (!data_) return kErrNullptr;
  if (data_->State & ::Busy) {
    trace.fail(QStringLiteral("BUSYCOM"));
    return 0;
  }
  if (!source_) return kErrDataInvalid;

  Operation busy(*this);
  const int rc = source_->ReadRow(*data_, number, record);
  if (rc != 0) {
    // The detail view still shows the previous block: keep the data with it.
    detail_.ReinstateShownBlock();
    trace.fail(source_->ReadContext(row, rc));
    return rc;
  }
  const int shown = detail_.Refresh();
  if (shown == 0) trace.ok();
  if (shown == 0 && outside_) showSource();
  return shown;
}

int ContentModel::ShowOutsideBlock(const BlockRecord& record, const QString& source) {
  if (Busy()) return 0;
  if (const int rc = detail_.ShowRecord(record)) return rc;
  outside_ = true;
  selected_ = 0;
  sourceLabel_ = source;
  sourceHint_ = source;
  notify();
  commandsChanged();
  return 0;
}

ContentModel::Move ContentModel::Select(int row) {
  if (Busy() || !RowSelectable(row)) return {};
  selected_ = row;
  notify();
  return {true, loadSelectedBlock()};
}

// --- Paging ----------------------------------------------------------------------

ContentModel::Move ContentModel::NextPage() {
  if (Busy() || !data_) return {};
  TraceLine trace(QStringLiteral("TPgcForm::NextPageButtonClick(): "));
  setPaging(false);
  int n = 0, failure = 0;
  {
    Operation busy(*this);
    SearchRequest& request = search_.Request;
    const std::optional<uint32_t> top =
        filled_ >= 1 ? std::optional<uint32_t>(uint32_t{RowSummary(1).BlockNumber}) : std::nullopt;
    const PageTurn turn = PlanNextPage(request, top, search_.UpperLimit, search_.LowerLimit);
    n = turn.search ? searchPage(turn.request, &failure, filled_ >= 1 ? RowRecord(1) : kNoRecord) : 0;
    request = turn.keep;
    // The forward search returns ascending numbers; the list shows the
    // newest first, selecting the block right after the old page's top.
    if (n > 0) failure = showTurnedPage(n, true, n);
  }
  setPaging(true);
  trace.ok();
  return {n > 0, failure};
}

int ContentModel::showTurnedPage(int n, bool ascending, int row) {
  ClearContentGrid();
  for (int i = 0; i < n; ++i) FillRow(ascending ? n - 1 - i : i);
  selected_ = row;
  notify();
  const int failure = loadSelectedBlock();
  showSource();
  commandsChanged();
  return failure;
}

ContentModel::Move ContentModel::PrevPage() {
  if (Busy() || !data_) return {};
  TraceLine trace(QStringLiteral("TPgcForm::PrevPageButtonClick(): "));
  int n = 0, failure = 0;
  {
    Operation busy(*this);
    setPaging(false);
    SearchRequest& request = search_.Request;
    const std::optional<uint32_t> bottom =
        filled_ >= 1 ? std::optional<uint32_t>(uint32_t{RowSummary(filled_).BlockNumber}) : std::nullopt;
    const PageTurn turn = PlanPrevPage(request, bottom, search_.LowerLimit);
    n = turn.search ? searchPage(turn.request, &failure, filled_ >= 1 ? RowRecord(filled_) : kNoRecord) : 0;
    request = turn.keep;
    // The block right below the old page's bottom is selected.
    if (n > 0) failure = showTurnedPage(n, false, 1);
  }
  setPaging(true);
  trace.ok();
  return {n > 0, failure};
}

// --- Item navigation --------------------------------------------------------------

ContentModel::Move ContentModel::navigate(const NavDecision& decision) {
  switch (decision.move) {
    case NavMove::Stay:
      return {};
    case NavMove::Select:
      selected_ = decision.row;
      notify();
      return {true, loadSelectedBlock()};
    case NavMove::NextPage:
      return NextPage();
    case NavMove::PrevPage:
      return PrevPage();
  }
  return {};
}

ContentModel::Move ContentModel::NextItem() {
  return Busy() ? Move{} : navigate(DecideNextItem(selected_, filled_, paging_));
}

ContentModel::Move ContentModel::PrevItem() {
  return Busy() ? Move{} : navigate(DecidePrevItem(selected_, filled_, paging_));
}

ContentModel::Move ContentModel::FirstBlock() {
  return Busy() ? Move{} : navigate(DecideFirstBlock(selected_, filled_, paging_));
}

ContentModel::Move ContentModel::LastBlock() {
  return Busy() ? Move{} : navigate(DecideLastBlock(selected_, filled_, paging_));
}

// --- Import -------------------------------------------------------------------------

void ContentModel::FileImportCancelled() {
  TraceLine trace(QStringLiteral("TPgcForm::FileOpenItemClick(): "));
  trace.fail(QStringLiteral("ERR_CANCEL"));
}

int ContentModel::ImportFile(const QString& fileName) {
  TraceLine trace(QStringLiteral("TPgcForm::FileOpenItemClick(): "));
  if (!data_) return kErrNullptr;
  if (Busy()) return 0;

  Operation busy(*this);
  if (const int rc = startImport(std::make_unique<DataFileSource>(fileName), busy, trace)) return rc;

  // The criteria stay as the search left them: the first page of the search in force.
  SearchRequest& request = search_.Request;
  request.StartBlock = static_cast<uint16_t>(data_->LastBlock);
  request.Flags &= static_cast<uint8_t>(~kSearchForward);
  // The file's last record is its newest read-out, whatever its number:
  // appended downloads repeat numbers, and past 2048 read-outs the first
  // record with the last number is an old one.
  const uint32_t records = data_->ValidBlocks;
  int failure = 0;
  const int n = searchPage(request, &failure, records);
  if (n > 0) {
    ClearContentGrid();
    for (int i = 0; i < n; ++i) FillRow(i);
  }
  notify();
  setPaging(true);
  // A page that could not be searched leaves the list empty; the newest
  // block is still shown when it can be read, and the search's failure is
  // the one to tell.
  const int shown = showNewestImportedBlock(busy, trace, records > 0 ? records - 1 : kNoRecord);
  if (failure != 0) return failure;
  // A file that ends in a cut-off record lists and shows its whole records;
  // the cut is told once they are (it also explains a file with none), so
  // that the operator knows the list lacks what was being appended.
  const QString leftOut = source_->LeftOut();
  if (leftOut.isEmpty() || (shown != 0 && shown != kErrSourceFile)) return shown;
  explainNextReport(kErrSourceFile, leftOut);
  return kErrSourceFile;
}

int ContentModel::ImportReader() {
  TraceLine trace(QStringLiteral("TPgcForm::RSSpeedButtonClick(): "));
  if (!data_) return kErrNullptr;
  if (Busy()) return 0;

  Operation busy(*this);
  // The view keeps its block until the reader's newest one can be shown.
  int rc = startImport(std::make_unique<ReaderSource>(), busy, trace);
  if (rc != 0) return rc;

  if (data_->ValidBlocks == 0) {
    detail_.ReinstateShownBlock();
    busy.release();
    showSource();
    setPaging(true);
    commandsChanged();
    trace.ok(QStringLiteral("ValidBlocks=0: "));
    showMessage(MessageKind::Plain, QString(), QStringLiteral("There is not Glow Data in the memory"));
    return 0;
  }

  int n = 0;
  rc = RequestFirstReaderPage(&n);
  if (rc != 0) {
    // No page is listed rather than what an earlier page left in Summaries.
    detail_.ReinstateShownBlock();
    busy.release();
    showSource();
    setPaging(true);
    commandsChanged();
    trace.fail(QStringLiteral("SearchCOMBlocks(): %1").arg(rc));
    return rc;
  }
  // The reader's count, not the block count: slots beyond it hold no block.
  for (int k = 0; k < n; ++k) FillNextRow();
  notify();
  setPaging(true);
  return showNewestImportedBlock(busy, trace, kNoRecord);
}

int ContentModel::startImport(std::unique_ptr<ContentSource> source, Operation& busy, TraceLine& trace) {
  ClearContentGrid();
  selected_ = 0;
  notify();
  source->BeginImport();
  const int rc = source->Skim(*data_);
  if (rc != 0) {
    // The list is empty; the view, its block and the source stay as they were.
    detail_.ReinstateShownBlock();
    busy.release();
    return endFailedImport(*source, rc, trace);
  }
  source_ = std::move(source);
  return 0;
}

int ContentModel::endFailedImport(const ContentSource& source, int rc, TraceLine& trace) {
  setPaging(true);
  commandsChanged();
  trace.fail(source.SkimContext(rc));
  return rc;
}

int ContentModel::showNewestImportedBlock(Operation& busy, TraceLine& trace, int64_t newestRecord) {
  const uint32_t newest = data_->LastBlock;
  const int rc = source_->ReadRow(*data_, newest, newestRecord);
  // The view shows the newest block, or the cleared record when it cannot be
  // read: nothing of the previous source may remain on screen.
  data_->State |= Loaded;
  if (filled_ >= 1 && uint32_t{RowSummary(1).BlockNumber} == newest && RowRecord(1) == newestRecord) {
    selected_ = 1;
    notify();
  }
  if (rc != 0) {
    busy.release();
    trace.fail(source_->ReadContext(QString::number(newest), rc));
  }
  detail_.Refresh();
  showSource();
  commandsChanged();
  if (rc == 0) trace.ok();
  return rc;
}

int ContentModel::RequestFirstReaderPage(int* count) {
  if (count) *count = 0;
  if (!data_ || !source_) return kErrNullptr;
  SearchRequest& request = search_.Request;
  request.Flags = 0;
  request.StartBlock = static_cast<uint16_t>(data_->LastBlock);
  request.FromBlock = static_cast<uint16_t>(data_->LastBlock + 1);
  int n = 0;
  const int rc = source_->SearchPage(*data_, request, search_.UpperLimit, search_.LowerLimit, &n);
  detail_.ReinstateShownBlock();
  if (count) *count = rc == 0 ? std::clamp(n, 0, kContentRows) : 0;
  return rc;
}

// --- Search -----------------------------------------------------------------------------

int ContentModel::Search(const std::function<bool(SearchState&)>& ask) {
  TraceLine trace(QStringLiteral("TPgcForm::FilterButtonClick(): "));
  if (Busy() || !data_ || !source_) return 0;
  // The re-count clears the data object's record; the view keeps its block.
  const int rc = source_->Skim(*data_);
  detail_.ReinstateShownBlock();
  if (rc != 0) {
    trace.fail(source_->SkimContext(rc));
    return rc;
  }
  if (!search_.Initialised) {
    search_.Initialised = true;
    InitialiseSearchRequest(search_.Request, data_->LastBlock, QDateTime::currentDateTime());
  }
  if (!ask || !ask(search_)) return 0;

  Operation busy(*this);
  int failure = 0;
  const int n = searchPage(search_.Request, &failure);
  // A search that could not be made leaves the list as it was.
  if (failure != 0) return failure;
  ClearContentGrid();
  // The shown block need not be on the found page: nothing is selected
  // until the operator picks a row.
  selected_ = 0;
  for (int k = 0; k < n; ++k) FillNextRow();
  notify();
  trace.ok();
  return 0;
}

}  // namespace quelm
