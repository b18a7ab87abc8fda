#include "evaluation/ContentList.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>
#include <cmath>
#include <cstring>

#include "base/UserLocale.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/NumberFormat.h"

namespace quelm {
namespace {

const QString& errorText() {
  static const QString t = QStringLiteral("Error");
  return t;
}

// The user's long time format without its seconds (and without a time-zone
// field, which a list of read-out times has no use for).
QString hoursAndMinutesFormat(const QString& longTimeFormat) {
  QString f = longTimeFormat;
  static const QRegularExpression seconds(QStringLiteral("[^hHmapAP]?s{1,2}(\\.z{1,3})?"));
  static const QRegularExpression zone(QStringLiteral("\\s*t+"));
  f.remove(seconds);
  f.remove(zone);
  return f.trimmed();
}

}  // namespace

ListDateTime FormatListDateTime(const uint8_t dt[5]) {
  const int year = 1900 + dt[0], month = dt[1], day = dt[2], hour = dt[3], minute = dt[4];
  if (dt[0] > 150 || month < 1 || month > 12 || day < 1 || day > 31) return {errorText(), {}};
  const QDate date(year, month, day);
  if (!date.isValid()) return {errorText(), QStringLiteral("Date error")};
  if (hour > 24 || minute > 60) return {errorText(), {}};
  const QTime time(hour, minute);
  if (!time.isValid()) return {errorText(), QStringLiteral("Time error")};
  const UserLocale& l = userLocale();
  return {date.toString(l.shortDateFormat) + QLatin1Char(' ') +
              time.toString(hoursAndMinutesFormat(l.longTimeFormat)),
          {}};
}

QString ListExposureText(uint16_t exposure) {
  if (exposure == 0) return QStringLiteral("   <0.1 h   ");
  if (exposure == 0xFFFF) return QString(11, QLatin1Char(' '));
  return formatPrintf(" %6.1f h    ", exposure * 0.1);
}

QString ListDoseRateText(float measuredDose, uint16_t exposure) {
  if (exposure == 0 || exposure == 0xFFFF) return QString();
  // Exposure counts tenths of an hour: uSv per hour in single precision.
  float rate = measuredDose * 10.0f / static_cast<float>(exposure);
  if (!(rate >= 0.0f)) rate = 0.0f;  // negative or not a number
  return FormatDose(rate) + QStringLiteral("/h");
}

QString ListTemperatureText(int16_t readerTemp) {
  return formatFloat(readerTemp * 0.5, 1) + QStringLiteral(" 'C");
}

namespace {

QString blockNumberColumn(const BlockSummary& s) { return QString::number(s.BlockNumber); }
QString dateTimeColumn(const BlockSummary& s) { return FormatListDateTime(s.DateTime).text; }
QString dosimeterColumn(const BlockSummary& s) { return IdentifierText(s.BulbID); }
QString doseColumn(const BlockSummary& s) { return FormatDose(s.MeasuredDose) + QLatin1Char(' '); }
QString exposureColumn(const BlockSummary& s) { return ListExposureText(s.Exposure); }
QString doseRateColumn(const BlockSummary& s) { return ListDoseRateText(s.MeasuredDose, s.Exposure); }
QString deviceColumn(const BlockSummary& s) { return IdentifierText(s.DeviceID); }
QString temperatureColumn(const BlockSummary& s) { return ListTemperatureText(s.ReaderTemp); }
QString errorCodesColumn(const BlockSummary& s) {
  return s.ErrorCodes != 0 ? FormatErrorCodes(s.ErrorCodes) : QStringLiteral("OK");
}

const std::array<ContentColumn, kContentColumnCount> kColumns = {{
    {"BlockNo", blockNumberColumn},
    {"DateTime", dateTimeColumn},
    {"Dosimeter", dosimeterColumn},
    {"Dose", doseColumn},
    {"Exposure", exposureColumn},
    {"Appr. Dose rate", doseRateColumn},
    {"Device ID", deviceColumn},
    {"Temperature", temperatureColumn},
    {"ErrorCodes", errorCodesColumn},
}};

}  // namespace

const std::array<ContentColumn, kContentColumnCount>& ContentColumns() { return kColumns; }

ContentRow ContentRowTexts(const BlockSummary& summary) {
  ContentRow row;
  for (int c = 0; c < kContentColumnCount; ++c) row.cells[c] = kColumns[c].text(summary);
  row.message = FormatListDateTime(summary.DateTime).message;
  return row;
}

std::optional<uint32_t> RowBlockNumber(const QString& column0) {
  if (column0.isEmpty()) return std::nullopt;
  bool ok = false;
  const uint number = column0.left(6).trimmed().toUInt(&ok, 10);
  if (!ok) return std::nullopt;
  return number;
}

uint16_t NextBlockNumber(uint32_t number) {
  return number >= kBlocksInReader - 1 ? 0 : static_cast<uint16_t>(number + 1);
}

uint16_t PrevBlockNumber(uint32_t number) {
  return number == 0 ? kBlocksInReader - 1 : static_cast<uint16_t>(number - 1);
}

bool InBlockRange(uint32_t number, uint16_t lower, uint16_t upper) {
  if (lower <= upper) return number >= lower && number <= upper;
  return number >= lower || number <= upper;
}

namespace {
// One page on from the block at the list's edge in the direction given;
// the upper limit only bounds a forward turn.
PageTurn planTurn(const SearchRequest& current, std::optional<uint32_t> edgeNumber, bool forward,
                  uint16_t upperLimit, uint16_t lowerLimit) {
  PageTurn turn;
  turn.keep = current;
  if (!edgeNumber) return turn;
  const bool byNumber = current.Flags & kSearchByNumber;
  // The newest (or the oldest) block of the range is shown.
  if (byNumber && *edgeNumber == (forward ? upperLimit : lowerLimit)) return turn;
  SearchRequest r = current;
  if (forward) {
    r.StartBlock = NextBlockNumber(*edgeNumber);
    r.Flags |= kSearchForward;
    // A forward search only stops at the upper limit: started outside the
    // range it would walk the whole ring of blocks that were never asked for.
    if (byNumber && !InBlockRange(r.StartBlock, lowerLimit, upperLimit)) return turn;
  } else {
    r.StartBlock = PrevBlockNumber(*edgeNumber);
    r.Flags &= static_cast<uint8_t>(~kSearchForward);
  }
  turn.search = true;
  turn.request = r;
  turn.keep = r;
  if (byNumber) turn.keep.StartBlock = current.StartBlock;
  return turn;
}
}  // namespace

PageTurn PlanNextPage(const SearchRequest& current, std::optional<uint32_t> topNumber, uint16_t upperLimit,
                      uint16_t lowerLimit) {
  return planTurn(current, topNumber, true, upperLimit, lowerLimit);
}

PageTurn PlanPrevPage(const SearchRequest& current, std::optional<uint32_t> bottomNumber,
                      uint16_t lowerLimit) {
  return planTurn(current, bottomNumber, false, 0, lowerLimit);
}

int PageRowOfSummary(int i, int n, bool forward) { return forward ? n - i : i + 1; }

bool RowSelectable(int row, int filledRows, bool pagingEnabled) {
  if (row < 1 || row > kContentRows) return false;
  return !pagingEnabled || row <= filledRows;
}

namespace {
NavDecision selectIfAllowed(int row, int filledRows, bool pagingEnabled) {
  if (!RowSelectable(row, filledRows, pagingEnabled)) return {};
  return {NavMove::Select, row};
}
}  // namespace

NavDecision DecideNextItem(int selectedRow, int filledRows, bool pagingEnabled) {
  if (selectedRow < 1 || selectedRow > kContentRows) return selectIfAllowed(1, filledRows, pagingEnabled);
  if (selectedRow == 1) return {NavMove::NextPage, 0};
  return selectIfAllowed(selectedRow - 1, filledRows, pagingEnabled);
}

NavDecision DecidePrevItem(int selectedRow, int filledRows, bool pagingEnabled) {
  if (selectedRow < 1 || selectedRow > kContentRows) return selectIfAllowed(1, filledRows, pagingEnabled);
  if (selectedRow == kContentRows) return {NavMove::PrevPage, 0};
  // The last row of a short page (a page that ended at the newest block) is
  // its bottom just as row 20 is of a full one: older blocks follow there.
  if (pagingEnabled && selectedRow >= filledRows) return {NavMove::PrevPage, 0};
  return selectIfAllowed(selectedRow + 1, filledRows, pagingEnabled);
}

NavDecision DecideFirstBlock(int /*selectedRow*/, int filledRows, bool pagingEnabled) {
  // Row 20 on a full page; on a short one the oldest block shown.
  if (pagingEnabled && filledRows >= 1 && filledRows < kContentRows) return {NavMove::Select, filledRows};
  return selectIfAllowed(kContentRows, filledRows, pagingEnabled);
}

NavDecision DecideLastBlock(int /*selectedRow*/, int filledRows, bool pagingEnabled) {
  return selectIfAllowed(1, filledRows, pagingEnabled);
}

const NavCommandDescriptor kNavCommands[kNavCommandCount] = {
    {NavCommand::FirstBlock, "NavigationFirstItem", "&First Block", Qt::Key_Home},
    {NavCommand::NextPage, "NavigationNextItem", "&Next Page", Qt::Key_PageUp},
    {NavCommand::PrevPage, "NavigationPreviousItem", "&Previous Page", Qt::Key_PageDown},
    {NavCommand::LastBlock, "NavigationLastItem", "&Last Block", Qt::Key_End},
    {NavCommand::NextItem, "NavigationNext", "Next Item", Qt::Key_Up},
    {NavCommand::PrevItem, "NavigationPrev", "Previous Item", Qt::Key_Down},
    // No action: the key is reserved, as the menu has always shown it.
    {NavCommand::GoTo, "GoToInsert1", "Go To ", Qt::Key_Insert},
};

}  // namespace quelm
