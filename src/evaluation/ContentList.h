#pragma once
// The content list of the main window as plain logic: the texts of a row,
// the block-number arithmetic of paging (numbers wrap from 2047 to 0), the
// requests of the next and previous page, and what a navigation key does.
// The window only shows what these functions decide.

#include <QString>
#include <Qt>
#include <array>
#include <cstdint>
#include <optional>

#include "measurement/BlockRecord.h"

namespace quelm {

inline constexpr int kContentColumnCount = 9;
inline constexpr int kContentRows = kPageRows;  // page rows 1..20 below a title row

// Column 1 of a row: the read-out time, or "Error". `message` is "Date error"
// or "Time error" when the stamp names a day or a time the calendar rejects;
// the caller shows it.
struct ListDateTime {
  QString text;
  QString message;
};
ListDateTime FormatListDateTime(const uint8_t dateTime[5]);

// The texts of one row of the list for a block summary.
struct ContentRow {
  std::array<QString, kContentColumnCount> cells;
  QString message;  // from FormatListDateTime; empty when nothing is to be shown
};
ContentRow ContentRowTexts(const BlockSummary& summary);

// One descriptor per column: its title and how a summary becomes its text.
struct ContentColumn {
  const char* title;
  QString (*text)(const BlockSummary&);
};
const std::array<ContentColumn, kContentColumnCount>& ContentColumns();

// Single columns, for callers that format without a whole row.
QString ListExposureText(uint16_t exposure);
QString ListDoseRateText(float measuredDose, uint16_t exposure);
QString ListTemperatureText(int16_t readerTemp);

// Column 0 read back: the block number of a row, or nothing for an empty row.
std::optional<uint32_t> RowBlockNumber(const QString& column0);

// Block numbers of the reader's ring of 2048 blocks.
uint16_t NextBlockNumber(uint32_t number);  // 2047 and above continue at 0
uint16_t PrevBlockNumber(uint32_t number);  // 0 continues at 2047
// Whether number lies in lower..upper, the range running over the wrap when
// lower > upper.
bool InBlockRange(uint32_t number, uint16_t lower, uint16_t upper);

// A page turn: whether to search, with which request, and the request the
// list keeps afterwards whatever the search finds.
struct PageTurn {
  bool search = false;
  SearchRequest request{};
  SearchRequest keep{};
};
// Towards newer blocks, from the block in row 1 (nothing for an empty list).
// A block-number search stays inside LowerLimit..UpperLimit and keeps its
// start block, so that the search window still shows the numbers typed.
PageTurn PlanNextPage(const SearchRequest& current, std::optional<uint32_t> topNumber, uint16_t upperLimit,
                      uint16_t lowerLimit);
// Towards older blocks, from the block in the last filled row.
PageTurn PlanPrevPage(const SearchRequest& current, std::optional<uint32_t> bottomNumber,
                      uint16_t lowerLimit);

// Where the n summaries of a page search go: row (1-based) of Summaries[i].
// A forward search returns ascending numbers and the list shows newest first.
int PageRowOfSummary(int i, int n, bool forward);

// What a navigation command does to the selection of the list. Rows are
// 1..20; filledRows is the number of rows holding a block (they are filled
// from row 1 on); selectedRow is 0 when nothing is selected.
enum class NavMove { Stay, Select, NextPage, PrevPage };
struct NavDecision {
  NavMove move = NavMove::Stay;
  int row = 0;  // for Select
};
NavDecision DecideNextItem(int selectedRow, int filledRows, bool pagingEnabled);    // Up, wheel away
NavDecision DecidePrevItem(int selectedRow, int filledRows, bool pagingEnabled);    // Down, wheel towards
NavDecision DecideFirstBlock(int selectedRow, int filledRows, bool pagingEnabled);  // Home: the oldest row
NavDecision DecideLastBlock(int selectedRow, int filledRows, bool pagingEnabled);   // End: the newest row
// While paging is enabled the selection never moves onto an empty row.
bool RowSelectable(int row, int filledRows, bool pagingEnabled);

// The navigation commands of the list, as the menu offers them with their
// plain keys.
enum class NavCommand { FirstBlock, NextPage, PrevPage, LastBlock, NextItem, PrevItem, GoTo };
struct NavCommandDescriptor {
  NavCommand command;
  const char* objectName;
  const char* caption;
  Qt::Key key;  // plain key, no modifiers
};
inline constexpr int kNavCommandCount = 7;
extern const NavCommandDescriptor kNavCommands[kNavCommandCount];

}  // namespace quelm
