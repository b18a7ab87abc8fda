#include "archive/ArchiveReport.h"

#include <algorithm>
#include <cmath>

#include "archive/ArchiveText.h"
#include "base/ErrorCodes.h"
#include "evaluation/BlockFormat.h"

namespace quelm {

std::vector<ReportColumn> SummaryReportColumns() {
  // Short titles: the figures above the table say what they count.
  return {{QString()},
          {QStringLiteral("ID"), false, true},
          {QStringLiteral("Person"), false, true},
          {QStringLiteral("Period dose"), true},
          {QStringLiteral("Read-outs"), true},
          {QStringLiteral("Quarter"), true},
          {QStringLiteral("Year"), true},
          {QStringLiteral("Lifetime"), true},
          {QStringLiteral("Share"), true}};
}

DoseChartData MakeDoseChart(const std::vector<ReadoutRow>& rows, double annualLimit, double notificationLevel,
                            const std::optional<ReportPeriod>& range, double yearDoseBefore) {
  DoseChartData c;
  c.annualLimit = annualLimit;
  c.notificationLevel = notificationLevel;
  // Where its dose counts: a dosimeter read after its period ended stands
  // on the period's last day, so the bars go in that order.
  std::vector<std::pair<QDateTime, size_t>> order;
  for (size_t i = 0; i < rows.size(); ++i) {
    const ReadoutRow& r = rows[i];
    if (r.conflict || !r.doseUsv) continue;
    if (const auto time = ParseArchiveTime(r.doseTime.isEmpty() ? r.readoutTime : r.doseTime, false))
      order.emplace_back(*time, i);
  }
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  int year = 0;
  double cumulative = yearDoseBefore;
  for (const auto& [at, i] : order) {
    const ReadoutRow& r = rows[i];
    const std::optional<QDateTime> time = at;
    // The line starts again each 1 January: the limit is per year.
    if (year && time->date().year() != year) cumulative = 0;
    year = time->date().year();
    // Bars and line show what counts, as the totals add it.
    cumulative += r.countedUsv;
    c.points.push_back({*time, r.countedUsv, cumulative, *r.doseUsv >= notificationLevel, static_cast<int>(i)});
    c.doseTop = std::max(c.doseTop, r.countedUsv);
    c.cumulativeTop = std::max(c.cumulativeTop, cumulative);
  }
  c.cumulativeTop = std::max(c.cumulativeTop, annualLimit);
  // Some room above the highest bar and the limit line.
  c.doseTop *= 1.1;
  c.cumulativeTop *= 1.1;
  if (range) {
    c.from = range->from;
    c.to = range->to;
  } else if (!c.points.empty()) {
    c.from = c.points.front().time;
    c.to = c.points.back().time;
  }
  if (c.to <= c.from) c.to = c.from.addDays(1);
  return c;
}

double ReportRowHeight(int lines) {
  return report::kRowHeight + report::kRowLineHeight * std::max(lines - 1, 0);
}

std::vector<ReportPage> PaginateReport(const ReportDocument& d, const std::vector<int>& rowLines) {
  using namespace report;
  std::vector<ReportPage> pages;
  ReportPage p;
  p.heading = true;
  double y = kMargin + kTitleHeight;
  const auto nextPage = [&] {
    pages.push_back(p);
    p = ReportPage{};
    p.number = static_cast<int>(pages.size()) + 1;
    y = kMargin;
  };
  // A part that does not fit below what the page holds begins the next.
  const auto makeRoom = [&](double height) {
    if (y > kMargin && y + height > kBodyBottom + 1e-9) nextPage();
  };
  for (int i = 0; i < static_cast<int>(d.heading.size()); ++i) {
    makeRoom(kLineHeight);
    if (p.headingLines++ == 0) p.firstHeadingLine = i;
    y += kLineHeight;
  }
  y += kGap;
  makeRoom(kLineHeight * static_cast<double>(d.figures.size()));
  p.figuresTop = y;
  y += kLineHeight * static_cast<double>(d.figures.size()) + kGap;
  if (d.chart) {
    makeRoom(kChartHeight);
    p.chartTop = y;
    y += kChartHeight + kGap;
  }
  if (d.controlChart) {
    makeRoom(kControlChartHeight);
    p.controlChartTop = y;
    y += kControlChartHeight + kGap;
  }
  const int rows = static_cast<int>(d.rows.size());
  const double noteHeight = kGap + kLineHeight;
  const auto height = [&](int r) {
    return ReportRowHeight(static_cast<size_t>(r) < rowLines.size() ? rowLines[static_cast<size_t>(r)] : 1);
  };
  int row = 0;
  bool notePlaced = d.note.isEmpty();
  for (;;) {
    p.firstRow = row;
    p.tableTop = y;
    // A row higher than a page (it never is: a name has at most 100
    // characters) still gets a page of its own rather than none.
    if (row < rows && (kBodyBottom - y + 1e-9 >= kHeaderHeight + height(row) || y == kMargin)) {
      y += kHeaderHeight;
      do {
        y += height(row);
        ++row;
        ++p.rowCount;
      } while (row < rows && kBodyBottom - y + 1e-9 >= height(row));
    }
    if (row == rows && !notePlaced && kBodyBottom - y >= noteHeight) {
      p.note = true;
      notePlaced = true;
    }
    if (row == rows && notePlaced) break;
    nextPage();
  }
  pages.push_back(p);
  return pages;
}

int YearDoseBefore(DoseArchive& archive, const QString& personId, const QString& dosimeter,
                   const QDateTime& time, double* dose) {
  *dose = 0;
  const QDateTime before = time.addSecs(-60);
  if (before.date().year() != time.date().year()) return kOk;
  PersonTotals t;
  if (personId.isEmpty()) {
    if (const int rc = archive.dosimeterTotals(dosimeter, before, &t)) return rc;
  } else {
    std::vector<PersonTotals> totals;
    if (const int rc = archive.totals(personId, before, &totals)) return rc;
    if (!totals.empty()) t = totals.front();
  }
  *dose = t.yearToDate;
  return kOk;
}

QString PageFooter(int page, int pages) { return QStringLiteral("Page %1 of %2").arg(page).arg(pages); }

namespace {

QString printedLine(const QDateTime& at) {
  return QStringLiteral("Printed ") + LocalTimeText(ArchiveTimeText(at));
}

QString periodLine(const ReportPeriod& period) {
  return QStringLiteral("Period: %1, %2 to %3")
      .arg(period.label, LocalDateText(period.from), LocalDateText(period.to));
}

QString levelsLine(const ArchiveSettings& s) {
  return QStringLiteral("Notification level %1 per read-out, annual limit %2")
      .arg(DoseText(s.notificationLevel), DoseText(s.annualLimit));
}

// The UTC time of a sign-off or a log row as reports show it.
QString utcText(const QString& iso) {
  const QDateTime t = QDateTime::fromString(iso, Qt::ISODate);
  return t.isValid() ? LocalDateText(t) + t.toString(QStringLiteral(" HH:mm")) + QStringLiteral(" UTC") : iso;
}

// What a report of a period says of the record itself on its first page:
// the read-outs that still await review, and after a sign-off, when it was
// changed since, that it corrects the signed one, how the figures moved
// per person, and the changes that moved them (a person's report: only
// that person's, its open read-outs too).
int recordState(DoseArchive& archive, const QString& personId, const PeriodRecord& record,
                ReportDocument* d) {
  const int open = personId.isEmpty() ? record.open.total : record.open.of(personId);
  if (open) d->heading << QStringLiteral("%1 read-outs of this period await review").arg(open);
  const std::optional<Signoff>& s = record.signoff;
  if (!s) return kOk;
  std::vector<LogEntry> changes;
  const std::vector<SignedFigures>& signedFigures = record.signedFigures;
  const std::vector<SummaryRow>& now = record.figures;
  if (const int rc = archive.changesSince(record.changes, personId, &changes)) return rc;
  QStringList moved;
  for (const SummaryRow& row : now) {
    if (!personId.isEmpty() && row.totals.person.id.compare(personId, Qt::CaseInsensitive) != 0) continue;
    const auto was = std::find_if(signedFigures.begin(), signedFigures.end(), [&](const SignedFigures& f) {
      return f.person.id.compare(row.totals.person.id, Qt::CaseInsensitive) == 0;
    });
    const bool known = was != signedFigures.end();
    const double before = known ? was->periodDose : 0, yearBefore = known ? was->yearToDate : 0;
    const int readouts = known ? was->readouts : 0;
    QStringList how;
    if (!SameDose(before, row.periodDose) || readouts != row.periodReadouts)
      how << QStringLiteral("dose in the period %1 -> %2, read-outs %3 -> %4")
                 .arg(DoseText(before), DoseText(row.periodDose))
                 .arg(readouts)
                 .arg(row.periodReadouts);
    // An earlier period's change moves the signed year-to-date only.
    if (!SameDose(yearBefore, row.totals.yearToDate))
      how << QStringLiteral("year-to-date %1 -> %2").arg(DoseText(yearBefore), DoseText(row.totals.yearToDate));
    // An earlier year's change moves the signed lifetime only. A sign-off
    // stored before lifetimes were kept has none to compare with.
    const std::optional<double> lifeBefore = known ? was->lifetime : std::optional<double>(0.0);
    if (lifeBefore && !SameDose(*lifeBefore, row.totals.lifetime))
      how << QStringLiteral("lifetime %1 -> %2").arg(DoseText(*lifeBefore), DoseText(row.totals.lifetime));
    if (!how.isEmpty())
      moved << QStringLiteral("Changed since: %1 (%2): ").arg(row.totals.person.name, row.totals.person.id) +
                   how.join(QStringLiteral(", "));
  }
  if (changes.empty() && moved.isEmpty()) return kOk;
  d->title = QStringLiteral("Corrected report");
  d->heading << QStringLiteral("Corrects the report signed on %1 by %2").arg(utcText(s->signedAt), s->signedBy)
             << QStringLiteral("SHA-256 of the signed summary: %1").arg(s->sha256) << moved;
  constexpr int kListed = 10;
  for (int i = 0; i < std::min<int>(kListed, static_cast<int>(changes.size())); ++i) {
    const LogEntry& e = changes[static_cast<size_t>(i)];
    d->heading << QStringLiteral("Change of %1: %2, %3: %4 -> %5%6")
                      .arg(utcText(e.timeUtc), e.what, e.entity, e.oldValue.isEmpty() ? QStringLiteral("-") : e.oldValue,
                           e.newValue, e.reason.isEmpty() ? QString() : QStringLiteral(" (") + e.reason + QLatin1Char(')'));
  }
  if (changes.size() > kListed)
    d->heading << QStringLiteral("... and %1 more changes (quelm-cli archive log)").arg(changes.size() - kListed);
  return kOk;
}

// The record a report was given, or the one it reads itself.
int periodRecord(DoseArchive& archive, const ReportPeriod& period, const PeriodRecord* given,
                 PeriodRecord* own, const PeriodRecord** record) {
  *record = given;
  if (given) return kOk;
  *record = own;
  return ReadPeriodRecord(archive, period, own);
}

}  // namespace

int ReadPeriodRecord(DoseArchive& archive, const ReportPeriod& period, PeriodRecord* record) {
  PeriodRecord r;
  if (const int rc = archive.openReviewItems(period, &r.open)) return rc;
  if (const int rc = archive.lastSignoff(period.label, &r.signoff)) return rc;
  if (r.signoff) {
    if (const int rc = archive.signedFigures(r.signoff->id, &r.signedFigures)) return rc;
    if (const int rc = archive.summary(period, &r.figures)) return rc;
    if (const int rc = archive.changesSince(*r.signoff, &r.changes)) return rc;
  }
  *record = std::move(r);
  return kOk;
}

int BuildPersonReport(DoseArchive& archive, const QString& personId, const ReportPeriod& period,
                      const ArchiveSettings& settings, const QDateTime& printedAt, ReportDocument* document,
                      const PeriodRecord* given) {
  std::vector<PersonTotals> totals;
  if (const int rc = archive.totals(personId, period.to, &totals)) return rc;
  const PersonTotals t = totals.empty() ? PersonTotals{} : totals.front();
  HistoryQuery query;
  query.personId = personId;
  query.from = period.from;
  query.to = period.to;
  std::vector<ReadoutRow> rows;
  if (const int rc = archive.history(query, &rows)) return rc;
  double before = 0;
  if (const int rc = YearDoseBefore(archive, personId, QString(), period.from, &before)) return rc;

  ReportDocument d;
  d.title = QStringLiteral("Dose report");
  d.heading << QStringLiteral("Person: %1 (%2)").arg(t.person.name, t.person.id) << periodLine(period)
            << levelsLine(settings);
  double periodDose = 0;
  int high = 0;
  for (const ReadoutRow& r : rows) {
    periodDose += r.countedUsv;
    const bool marked = r.doseUsv && *r.doseUsv >= settings.notificationLevel;
    high += marked;
    if (r.notional) {
      // A dose entered by hand: when it counts, and why it was entered.
      d.rows.push_back({{QString(), LocalTimeText(r.doseTime), QStringLiteral("notional"), QString(), QString(),
                         r.resolutionReason, DoseText(r.doseUsv), DoseText(r.countedUsv)},
                        false});
      continue;
    }
    d.rows.push_back({{marked ? QStringLiteral("*") : QString(), LocalTimeText(r.readoutTime), r.dosimeter,
                       r.deviceId, QString::number(r.blockNumber),
                       r.errorCodes ? FormatErrorCodes(static_cast<uint8_t>(r.errorCodes)).trimmed()
                                    : QStringLiteral("OK"),
                       DoseText(r.doseUsv), DoseText(r.countedUsv)},
                      marked});
  }
  const QString at = LocalDateText(period.to);
  d.figures = {
      {QStringLiteral("Dose in the period"), DoseText(periodDose)},
      {QStringLiteral("Read-outs in the period"),
       QString::number(std::count_if(rows.begin(), rows.end(), [](const ReadoutRow& r) { return !r.notional; }))},
      {QStringLiteral("Quarter-to-date at %1").arg(at), DoseText(t.quarterToDate)},
      {QStringLiteral("Year-to-date at %1").arg(at), DoseText(t.yearToDate)},
      {QStringLiteral("Lifetime at %1").arg(at), DoseText(t.lifetime)},
      {QStringLiteral("Share of the annual limit, year to date"),
       ShareText(AnnualLimitShare(t.yearToDate, settings.annualLimit))},
  };
  d.chart = MakeDoseChart(rows, settings.annualLimit, settings.notificationLevel, period, before);
  // The reader's dose as measured, and what it adds to the totals (a
  // negative dose nothing).
  d.columns = {{QString()},
               {QStringLiteral("Read-out time")},
               {QStringLiteral("Dosimeter")},
               {QStringLiteral("Reader")},
               {QStringLiteral("Block"), true},
               {QStringLiteral("Error flags"), false, true},
               {QStringLiteral("Dose"), true},
               {QStringLiteral("Counted"), true}};
  if (rows.empty())
    d.note = QStringLiteral("No read-outs in this period.");
  else if (high)
    d.note = QStringLiteral("* at or above the notification level of %1")
                 .arg(DoseText(settings.notificationLevel));
  d.printed = printedLine(printedAt);
  PeriodRecord own;
  const PeriodRecord* record = nullptr;
  if (const int rc = periodRecord(archive, period, given, &own, &record)) return rc;
  if (const int rc = recordState(archive, personId, *record, &d)) return rc;
  *document = d;
  return kOk;
}

int BuildSummaryReport(DoseArchive& archive, const ReportPeriod& period, const ArchiveSettings& settings,
                       const QDateTime& printedAt, ReportDocument* document, const PeriodRecord* given) {
  std::vector<SummaryRow> rows;
  if (const int rc = archive.summary(period, &rows)) return rc;
  ReportDocument d;
  d.title = QStringLiteral("Service summary");
  d.heading << periodLine(period) << levelsLine(settings);
  double total = 0, highest = 0;
  int reached = 0;
  for (const SummaryRow& r : rows) {
    total += r.periodDose;
    const double share = AnnualLimitShare(r.totals.yearToDate, settings.annualLimit);
    highest = std::max(highest, share);
    const bool marked = r.totals.yearToDate >= settings.annualLimit;
    reached += marked;
    d.rows.push_back({{marked ? QStringLiteral("*") : QString(), r.totals.person.id, r.totals.person.name,
                       DoseText(r.periodDose),
                       QString::number(r.periodReadouts), DoseText(r.totals.quarterToDate),
                       DoseText(r.totals.yearToDate), DoseText(r.totals.lifetime), ShareText(share)},
                      marked});
  }
  d.figures = {{QStringLiteral("Persons"), QString::number(rows.size())},
               {QStringLiteral("Dose of all persons in the period"), DoseText(total)},
               {QStringLiteral("Totals at (quarter, year, lifetime)"), LocalDateText(period.to)},
               {QStringLiteral("Annual limit"), DoseText(settings.annualLimit)},
               {QStringLiteral("Highest share of the annual limit, year to date"), ShareText(highest)}};
  // The control dosimeters' batches of the period, when there are any.
  std::vector<ControlBatch> batches;
  if (const int rc = archive.controlBatches(&batches)) return rc;
  if (ControlChartData controls = MakeControlChart(batches, settings.controlTolerance, period);
      !controls.series.empty()) {
    int judged = 0, out = 0;
    for (const ControlBatch& b : batches)
      if (b.day >= period.from.toString(QStringLiteral("yyyy-MM-dd")) &&
          b.day <= period.to.toString(QStringLiteral("yyyy-MM-dd"))) {
        ++judged;
        out += b.out(settings.controlTolerance);
      }
    d.figures.push_back({QStringLiteral("Control batches out of limits"), QStringLiteral("%1 of %2").arg(out).arg(judged)});
    d.controlChart = std::move(controls);
  }
  d.columns = SummaryReportColumns();
  if (rows.empty())
    d.note = QStringLiteral("No persons in the archive.");
  else if (reached)
    d.note = QStringLiteral("* year-to-date at or above the annual limit of %1")
                 .arg(DoseText(settings.annualLimit));
  d.printed = printedLine(printedAt);
  PeriodRecord own;
  const PeriodRecord* record = nullptr;
  if (const int rc = periodRecord(archive, period, given, &own, &record)) return rc;
  if (const int rc = recordState(archive, QString(), *record, &d)) return rc;
  *document = d;
  return kOk;
}

}  // namespace quelm
