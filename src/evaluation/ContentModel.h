#pragma once
// The content list as a core object: the source it lists (a data file or the
// reader), the search request every list operation starts from, the page of
// up to 20 block summaries with the selected row, and the workflows that
// change them: importing, turning pages, moving the selection, searching.
// Each block it selects is read into the data object and shown through the
// detail model. The main window forwards the operator's commands and paints
// what this holds; the command line drives the very same object.

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/BusyHook.h"
#include "evaluation/ContentList.h"
#include "evaluation/ContentSource.h"
#include "measurement/BlockRecord.h"

class TNurvoDataBlock;

namespace quelm {

class DetailModel;
class TraceLine;

// The search in force: the request, the block-number limits of paging
// (LowerLimit = the From number, UpperLimit = the To number at the last
// accepted search) and whether the request has had its first-use defaults.
struct SearchState {
  SearchRequest Request;
  uint16_t UpperLimit = 0;
  uint16_t LowerLimit = 0;
  bool Initialised = false;
  SearchState();
};

class ContentModel {
 public:
  // What the model tells whoever shows it; unset hooks are not called.
  struct Hooks {
    std::function<void()> changed;             // rows, selection or source labels: paint them
    BusyHook busy;                             // a list operation starts or ends (busy pointer)
    std::function<void(bool enabled)> paging;  // EnablePaging / DisablePaging
    std::function<void()> commandsChanged;     // the block-dependent commands follow Loaded
  };
  Hooks hooks;

  ContentModel(std::unique_ptr<TNurvoDataBlock>& data, DetailModel& detail);
  ~ContentModel();
  ContentModel(const ContentModel&) = delete;
  ContentModel& operator=(const ContentModel&) = delete;

  // --- What it holds
  const ContentSource* Source() const { return source_.get(); }
  // "Source:" with its hint and "AvailableBlocks:", as last shown (a search
  // re-counts the source without changing them); empty before an import.
  const QString& SourceLabel() const { return sourceLabel_; }
  const QString& SourceHint() const { return sourceHint_; }
  const QString& AvailableBlocks() const { return availableBlocks_; }
  int FilledRows() const { return filled_; }
  // Rows 1..FilledRows(): the summary and the texts of its columns.
  const BlockSummary& RowSummary(int row) const { return rows_[static_cast<size_t>(row - 1)]; }
  const ContentRow& RowTexts(int row) const { return texts_[static_cast<size_t>(row - 1)]; }
  // The record of the data file a row was listed from (kNoRecord for the
  // reader's rows): a file may hold a number more than once, and a row, the
  // block shown for it and the pages next to it all go by its record.
  int64_t RowRecord(int row) const { return records_[static_cast<size_t>(row - 1)]; }
  int SelectedRow() const { return selected_; }  // 0: none
  // Counts the refills of the list: a view shows a new page from its top.
  unsigned PageSerial() const { return pageSerial_; }
  bool PagingEnabled() const { return paging_; }
  bool Busy() const { return hooks.busy.busy(); }
  SearchState& Search() { return search_; }
  const SearchState& Search() const { return search_; }
  // While paging is enabled a row without a block cannot be selected.
  bool RowSelectable(int row) const;

  // --- The operator's commands. Each returns its failure (a result code, 0
  // for none) and shows nothing of it: the front end reports it (the window
  // with ReportFailure, the command line with its context). An operation
  // returns the first failure; the list keeps what it showed, the detail
  // view its block. What is only told, not failed, is shown here through
  // the dialog seam: "Date error" for a row whose date the calendar rejects
  // and the message of an empty reader.
  // Makes the data file the source, lists the first page of the search in
  // force and shows the newest block. A file that ends in a cut-off record
  // is listed and shown without it, and then fails with kErrSourceFile and
  // a note naming the file and the cut (explainNextReport).
  int ImportFile(const QString& fileName);
  // The operator cancelled the choice of a data file: traced, nothing else.
  void FileImportCancelled();
  // Makes the reader the source, lists its newest page and shows its newest
  // block; with an empty reader only the message. kErrUserCancelled when the
  // operator cancelled the choice of a port.
  int ImportReader();
  // The reader's page that ends at its newest block, with every criterion
  // cleared; *count gets the blocks it holds (0 on a failure).
  int RequestFirstReaderPage(int* count = nullptr);
  // What a page turn, an item move or a selection did: whether it listed a
  // new page or selected the row, and the failure of reading a page or a
  // block.
  struct Move {
    bool moved = false;
    int failure = 0;
  };
  Move NextPage();
  Move PrevPage();
  Move NextItem();    // Up, wheel away from the user
  Move PrevItem();    // Down, wheel towards the user
  Move FirstBlock();  // Home: the oldest row
  Move LastBlock();   // End: the newest row
  // Selects a row and shows its block; not moved (nothing changes) while an
  // operation runs or for a row that cannot be selected.
  Move Select(int row);
  // Reads a block of the source by its number and shows it, whether or not
  // the page lists it; the list and its selection stay. On a failure the
  // view keeps its block. With the record a row was listed from (RowRecord),
  // that record rather than the first with the number.
  int ShowBlock(uint32_t number, int64_t record = kNoRecord);
  // Shows a block that is no row of the source (a read-out of the dose
  // archive) through the detail model: the page stays without a selected
  // row, and the source line says where the block came from until a row is
  // shown again. Nothing while an operation runs.
  int ShowOutsideBlock(const BlockRecord& record, const QString& source);
  // Re-counts the source, lets `ask` set the criteria (false: the operator
  // gave up) and lists the first page found. The shown block stays.
  int Search(const std::function<bool(SearchState&)>& ask);

 private:
  class Operation;
  void notify();
  void setPaging(bool enabled);
  void commandsChanged();
  // Empties every row of the page.
  void ClearContentGrid();
  // Summaries[i] of the data object into the first empty row; kNoEmptyRow
  // when every row is filled.
  int FillRow(int i);
  // Summaries[r - 1] into the first empty row r; kNoEmptyRow when every row
  // is filled.
  int FillNextRow();
  static constexpr int kNoEmptyRow = -1;
  // Rows found; with a record, the page next to it (see SearchPageNextTo).
  int searchPage(const SearchRequest& request, int* failure, int64_t nextTo = kNoRecord);
  void showSource();
  int loadSelectedBlock();
  // Lists the n summaries of a turned page (newest first: reversed when the
  // search returned them ascending), selects row and shows its block.
  int showTurnedPage(int n, bool ascending, int row);
  int readAndShow(uint32_t number, int64_t record, TraceLine& trace, const QString& row);
  Move navigate(const NavDecision& decision);
  // Empties the list and skims the new source, which becomes the model's;
  // on failure the view keeps its block and the failure is traced and
  // returned.
  int startImport(std::unique_ptr<ContentSource> source, Operation& busy, TraceLine& trace);
  int endFailedImport(const ContentSource& source, int rc, TraceLine& trace);
  // The newest block: for a data file its last record (newestRecord).
  int showNewestImportedBlock(Operation& busy, TraceLine& trace, int64_t newestRecord);

  std::unique_ptr<TNurvoDataBlock>& data_;
  DetailModel& detail_;
  std::unique_ptr<ContentSource> source_;  // nothing before the first import
  SearchState search_;
  std::array<BlockSummary, kContentRows> rows_{};
  std::array<int64_t, kContentRows> records_{};
  std::array<ContentRow, kContentRows> texts_;
  int filled_ = 0;
  int selected_ = 0;
  unsigned pageSerial_ = 0;
  bool paging_ = false;
  bool outside_ = false;  // the shown block is none of the source's
  QString sourceLabel_, sourceHint_, availableBlocks_;
};

}  // namespace quelm
