// quelm-cli list: the content list's rows as the window's grid shows them,
// one tab-separated line per block, newest first.
#include <cstring>
#include <set>

#include "ContentSession.h"
#include "base/CsvText.h"
#include "base/DateText.h"
#include "evaluation/ContentList.h"
#include "evaluation/SearchCriteria.h"
#include "measurement/TextList.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("list");

// A bound left open reaches past every stamp a block can carry.
constexpr uint8_t kEarliest[5] = {0, 1, 1, 0, 0};
constexpr uint8_t kLatest[5] = {255, 12, 31, 23, 59};

struct Criteria {
  std::optional<std::pair<uint16_t, uint16_t>> numbers;  // From, To
  bool byDate = false;
  uint8_t after[5] = {};
  uint8_t before[5] = {};
  std::optional<QString> dosimeter;
  bool any() const { return numbers || byDate || dosimeter; }
};

bool takeDate(Args& args, const QString& option, const uint8_t open[5], uint8_t stamp[5], bool* given) {
  std::memcpy(stamp, open, 5);
  const std::optional<QString> text = args.value(option);
  if (!text) return true;
  *given = true;
  // As the search window reads it, except that a year outside the limits
  // is refused rather than moved, and anything but the form itself too: a
  // script is told.
  QString why;
  if (const auto fields = ParseExactDateText(*text, &why)) {
    ToStamp(*fields, stamp);
    return true;
  }
  args.fail(DateTextRefusal(option, *text, why));
  return false;
}

bool takeCriteria(Args& args, Criteria& c) {
  if (const auto range = args.values(QStringLiteral("--number"), 2)) {
    const auto from = args.integer(range->at(0), QStringLiteral("--number FROM"), 0, kBlocksInReader - 1);
    const auto to = args.integer(range->at(1), QStringLiteral("--number TO"), 0, kBlocksInReader - 1);
    if (!from || !to) return false;
    c.numbers = {static_cast<uint16_t>(*from), static_cast<uint16_t>(*to)};
  }
  if (!takeDate(args, QStringLiteral("--after"), kEarliest, c.after, &c.byDate) ||
      !takeDate(args, QStringLiteral("--before"), kLatest, c.before, &c.byDate))
    return false;
  if (const auto id = args.value(QStringLiteral("--dosimeter"))) {
    // A shorter key matches no identifier: all of them have five characters.
    if (id->size() != 5) {
      args.fail(
          QStringLiteral("--dosimeter must be the five characters of a dosimeter, not \"%1\"").arg(*id));
      return false;
    }
    c.dosimeter = id->toUpper();  // as the search window's field takes it
  }
  return args.ok();
}

// What the search window leaves at Ok for the given criteria.
void applyCriteria(const Criteria& c, SearchState& s) {
  s.Request.Flags = SearchFlags(c.numbers.has_value(), c.byDate, c.dosimeter.has_value());
  if (c.numbers) {
    s.Request.FromBlock = s.LowerLimit = c.numbers->first;
    s.Request.StartBlock = s.UpperLimit = c.numbers->second;
  }
  std::memcpy(s.Request.DateFrom, c.after, 5);
  std::memcpy(s.Request.DateTo, c.before, 5);
  if (c.dosimeter) SetSearchDosimeter(s.Request, *c.dosimeter);
}

// A listed row: its block number and the record of the data file it was
// listed from (kNoRecord for the reader's).
struct ListedRow {
  uint16_t number;
  int64_t record;
};

// The listed blocks as a content list file, in the order listed. Its rows
// need whole records (the dose rate is not in a summary): each block is read
// again, from the record its row was listed from, and no file is written
// unless every one of them could be.
int writeContentList(ContentSession& session, CliIO& io, const QString& name,
                     const std::vector<ListedRow>& rows) {
  std::vector<BlockRecord> records;
  records.reserve(rows.size());
  for (const ListedRow& row : rows) {
    if (const int rc = session.Show(io, row.number, row.record)) return rc;
    records.push_back(session.Detail().ShownRecord());
  }
  if (const int rc = WriteContentList(name, records)) return failure(io, rc, name);
  return kExitOk;
}

void printTitles(QTextStream& out) {
  QStringList titles;
  for (const ContentColumn& column : ContentColumns()) titles << QString::fromLatin1(column.title);
  out << titles.join(QLatin1Char('\t')) << '\n';
}

int run(Args& args, CliIO& io) {
  ContentSession session;
  int exitCode = kExitUsage;
  if (!session.TakeReader(args, io, kCommand, true, &exitCode)) return exitCode;
  Criteria criteria;
  int pages = 1;
  const std::optional<QString> lstFile = args.value(QStringLiteral("--lst"));
  if (takeCriteria(args, criteria)) {
    if (const auto text = args.value(QStringLiteral("--pages")))
      pages =
          static_cast<int>(args.integer(*text, QStringLiteral("--pages"), 1, kBlocksInReader).value_or(1));
  }
  QStringList words = args.positional();
  if (!args.ok()) return usageError(io, kCommand, args.error());
  if (!session.TakeFile(words, io, kCommand, &exitCode)) return exitCode;
  if (!words.isEmpty())
    return usageError(io, kCommand, QStringLiteral("unexpected argument \"%1\"").arg(words.first()));
  if (lstFile && checkOutputFile(io, *lstFile, {session.SourceName()})) return kExitFailure;

  // A data file that ends in a cut-off record lists its whole records, and
  // writes them as a list file, as for an intact file; it fails after them
  // (Finish): what a script is given is not the whole file.
  if (const int rc = session.Import(io)) return rc;
  ContentModel& content = session.Content();
  if (criteria.any()) {
    const int rc = content.Search([&](SearchState& s) {
      applyCriteria(criteria, s);
      return true;
    });
    if (rc != 0) return session.Finish(io, failure(io, rc, session.SourceName()));
  }

  printTitles(io.out);
  // Paging on past the oldest block comes round to the newest again: a
  // block already listed ends the list. A data file's rows are its records
  // (a number may stand in it more than once), the reader's their numbers.
  std::set<int64_t> listed;
  std::vector<ListedRow> order;
  bool roundAgain = false;
  // A page turn that failed ends the list after what it listed; no list
  // file is written then.
  int failed = 0;
  for (int page = 0; page < pages && !roundAgain && failed == 0; ++page) {
    if (page > 0) {
      const ContentModel::Move older = content.PrevPage();
      failed = older.failure;
      if (!older.moved) break;
    }
    for (int row = 1; row <= content.FilledRows(); ++row) {
      const ListedRow listedRow{content.RowSummary(row).BlockNumber, content.RowRecord(row)};
      if (!listed.insert(listedRow.record != kNoRecord ? listedRow.record : listedRow.number).second) {
        roundAgain = true;
        break;
      }
      order.push_back(listedRow);
      QStringList cells;
      // A dosimeter or reader id with a tab, a line break or an escape
      // sequence would otherwise add columns or rows, or drive the terminal.
      for (const QString& cell : content.RowTexts(row).cells) cells << PlainField(cell);
      io.out << cells.join(QLatin1Char('\t')) << '\n';
    }
  }
  io.out.flush();
  // A page turn that failed wrote no list file: the list lacks blocks it
  // should hold.
  if (failed != 0) return session.Finish(io, failure(io, failed, session.SourceName()));
  return session.Finish(io, lstFile ? writeContentList(session, io, *lstFile, order) : int{kExitOk});
}

const CommandRegistrar registrar(
    {"list",
     "list (FILE.dat | --port COMn|DEVICE [--baud RATE]) [--number FROM TO] [--after \"YYYY.MM.DD HH:MM\"] "
     "[--before \"YYYY.MM.DD HH:MM\"] [--dosimeter ID] [--pages N] [--lst OUT.lst]",
     "the content list: a title line, then one tab-separated line per block, newest first; the search "
     "criteria combine, dates are exclusive bounds; --pages N lists N pages towards older blocks; --lst "
     "also writes the listed blocks as a content list file",
     run});

}  // namespace
}  // namespace quelm::cli
