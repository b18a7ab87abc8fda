// What the window and the reports ask of the archive, on SQLite and on a
// PostgreSQL server: a person's dosimeters, who wore a dosimeter when,
// a dosimeter's totals, the service summary by dose, conflicts beside the
// read-outs they concern, and the reports' content and pages.
#include <gtest/gtest.h>

#include "ArchiveDb.h"
#include "archive/Archive.h"
#include "archive/ArchiveReport.h"
#include "archive/ArchiveText.h"
#include "base/ErrorCodes.h"
#include "evaluation/DoseChain.h"

using namespace quelm;
using quelm::test::ArchiveDb;
using quelm::test::Backend;
using quelm::test::Readout;

namespace {

QDateTime at(const char* text, bool upper = true) { return *ParseArchiveTime(QLatin1String(text), upper); }
// What a read-out adds to the totals: the reader's dose.
double dose(const BlockRecord& r) { return CountedDose(float{r.MeasuredDose}); }

// Alice wore A0017 in the first half of 2024 and B0002 from July; Bob took
// A0017 over in July; Carol never got a dose.
class ArchiveReportTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db.available()) GTEST_SKIP() << "no PostgreSQL server";
    archive = db.open();
    ASSERT_TRUE(archive);
    const struct {
      const char *dosimeter, *person, *from, *to;
    } periods[] = {{"A0017", "Alice", "2024-01-01", "2024-06-30"},
                   {"B0002", "Alice", "2024-07-01", nullptr},
                   {"A0017", "Bob", "2024-07-01", nullptr},
                   {"C0003", "Carol", "2024-01-01", nullptr}};
    for (const auto& p : periods)
      ASSERT_EQ(archive->assign(QLatin1String(p.dosimeter), QLatin1String(p.person), at(p.from, false),
                                p.to ? std::optional<QDateTime>(at(p.to)) : std::nullopt),
                kOk);
    records = {Readout("A0017", "2024-03-01 09:00", 1), Readout("A0017", "2024-07-02 09:00", 2),
               Readout("B0002", "2024-08-01 09:00", 3), Readout("B0002", "2024-10-01 09:00", 4),
               Readout("A0017", "2024-09-30 23:59", 5)};
    ImportResult r;
    ASSERT_EQ(archive->importRecords(records, QStringLiteral("COM1"), &r), kOk);
  }
  ArchiveDb db{GetParam()};
  std::unique_ptr<DoseArchive> archive;
  std::vector<BlockRecord> records;
};

TEST_P(ArchiveReportTest, APersonsDosimetersAndWhoWoreADosimeterWhen) {
  std::vector<WearPeriod> periods;
  ASSERT_EQ(archive->periods({{}, QStringLiteral("P0001")}, &periods), kOk);
  ASSERT_EQ(periods.size(), 2u);
  EXPECT_EQ(periods[0].dosimeter, QStringLiteral("A0017"));
  EXPECT_EQ(periods[1].dosimeter, QStringLiteral("B0002"));
  EXPECT_FALSE(periods[1].to) << "open to the end";

  QStringList dosimeters;
  ASSERT_EQ(archive->dosimeters(&dosimeters), kOk);
  EXPECT_EQ(dosimeters, QStringList({"A0017", "B0002", "C0003"})) << "read or only assigned, once each";

  const struct {
    const char *dosimeter, *time, *person;
  } cases[] = {{"A0017", "2024-06-30 23:59", "Alice"},
               {"A0017", "2024-07-01 00:00", "Bob"},
               {"B0002", "2024-06-30 12:00", ""},
               {"Z9999", "2024-07-01 00:00", ""},
               {"A0017", "", ""}};
  for (const auto& c : cases) {
    Person person{QStringLiteral("stale"), QStringLiteral("stale")};
    ASSERT_EQ(archive->personAt(QLatin1String(c.dosimeter), QLatin1String(c.time), &person), kOk);
    EXPECT_EQ(person.name, QLatin1String(c.person)) << c.dosimeter << " " << c.time;
  }
}

TEST_P(ArchiveReportTest, ADosimetersTotalsCountWhoeverWoreIt) {
  PersonTotals t;
  ASSERT_EQ(archive->dosimeterTotals(QStringLiteral("A0017"), at("2024-09-30"), &t), kOk);
  EXPECT_NEAR(t.lifetime, dose(records[0]) + dose(records[1]) + dose(records[4]), 1e-6);
  EXPECT_NEAR(t.quarterToDate, dose(records[1]) + dose(records[4]), 1e-6);
  EXPECT_EQ(t.readouts, 3);
  ASSERT_EQ(archive->dosimeterTotals(QStringLiteral("Z9999"), at("2024-09-30"), &t), kOk);
  EXPECT_EQ(t.readouts, 0);
  EXPECT_EQ(t.lifetime, 0);
}

TEST_P(ArchiveReportTest, TheSummaryListsEverybodyByThePeriodsDoseWithTotalsAtItsEnd) {
  std::vector<SummaryRow> rows;
  ASSERT_EQ(archive->summary(*ParseReportPeriod(QStringLiteral("2024Q3")), &rows), kOk);
  ASSERT_EQ(rows.size(), 3u);
  const double alice = dose(records[2]), bob = dose(records[1]) + dose(records[4]);
  std::map<QString, double> expected = {{"Alice", alice}, {"Bob", bob}, {"Carol", 0}};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_NEAR(rows[i].periodDose, expected[rows[i].totals.person.name], 1e-6)
        << rows[i].totals.person.name.toStdString();
    if (i) {
      EXPECT_GE(rows[i - 1].periodDose, rows[i].periodDose) << "highest dose first";
    }
  }
  EXPECT_EQ(rows.back().totals.person.name, QStringLiteral("Carol"));
  const auto alices =
      std::find_if(rows.begin(), rows.end(), [](auto& r) { return r.totals.person.name == "Alice"; });
  EXPECT_NEAR(alices->totals.yearToDate, dose(records[0]) + alice, 1e-6) << "the year up to the period's end";
  EXPECT_EQ(alices->periodReadouts, 1);
}

TEST_P(ArchiveReportTest, AConflictIsListedBesideTheReadOutItConcerns) {
  BlockRecord other = records[1];
  other.ChannelTemps[3] += 1;
  ImportResult r;
  ASSERT_EQ(archive->importRecords(std::vector<BlockRecord>{other}, QStringLiteral("copy.dat"), &r), kOk);
  ASSERT_EQ(r.conflicts, 1);
  const struct {
    const char *dosimeter, *person, *from;
    size_t found;
  } cases[] = {{"A0017", "", nullptr, 1},
               {"", "P0002", nullptr, 1},
               {"", "P0001", nullptr, 0},
               {"B0002", "", nullptr, 0},
               {"A0017", "", "2024-08-01", 0}};
  for (const auto& c : cases) {
    HistoryQuery q;
    q.dosimeter = QLatin1String(c.dosimeter);
    q.personId = QLatin1String(c.person);
    if (c.from) q.from = at(c.from, false);
    std::vector<ReadoutRow> rows;
    ASSERT_EQ(archive->conflicts(q, &rows), kOk);
    ASSERT_EQ(rows.size(), c.found) << c.dosimeter << c.person;
    if (rows.empty()) continue;
    EXPECT_TRUE(rows[0].conflict);
    EXPECT_EQ(rows[0].person.name, QStringLiteral("Bob"));
    EXPECT_EQ(rows[0].source, QStringLiteral("copy.dat"));
    EXPECT_EQ(rows[0].record, QByteArray(reinterpret_cast<const char*>(&other), 512)) << "its own bytes";
  }
  std::vector<ReadoutRow> all;
  ASSERT_EQ(archive->conflicts(&all), kOk);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].person.name, QStringLiteral("Bob")) << "whose read-out it concerns";
}

TEST_P(ArchiveReportTest, APersonsReportHoldsThePeriodsReadOutsTotalsAndMarks) {
  ArchiveSettings settings;
  settings.notificationLevel = dose(records[4]);  // that read-out exactly at the level
  settings.annualLimit = 1000;
  ReportDocument d;
  ASSERT_EQ(BuildPersonReport(*archive, QStringLiteral("P0002"), *ParseReportPeriod(QStringLiteral("2024Q3")),
                              settings, at("2024-10-02 14:03"), &d),
            kOk);
  ASSERT_EQ(d.rows.size(), 2u);
  EXPECT_EQ(d.rows[1].cells[1], QStringLiteral("30.09.2024 23:59")) << "the period's last minute is in it";
  EXPECT_EQ(d.rows[1].marked, true);
  EXPECT_EQ(d.rows[1].cells[0], QStringLiteral("*"));
  EXPECT_EQ(d.rows[0].marked, dose(records[1]) >= dose(records[4]));
  const double year = dose(records[1]) + dose(records[4]);
  const std::pair<QString, QString> figures[] = {
      {"Dose in the period", DoseText(year)},
      {"Year-to-date at 30.09.2024", DoseText(year)},
      {"Share of the annual limit, year to date", ShareText(year / 10)},
  };
  for (const auto& f : figures)
    EXPECT_NE(std::find(d.figures.begin(), d.figures.end(), f), d.figures.end()) << f.first.toStdString();
  EXPECT_EQ(d.printed, QStringLiteral("Printed 02.10.2024 14:03"));
  ASSERT_TRUE(d.chart);
  ASSERT_EQ(d.chart->points.size(), 2u);
  EXPECT_NEAR(d.chart->points[1].yearCumulative, year, 1e-6);

  // Alice's year line in Q3 starts from her first half's dose.
  ASSERT_EQ(BuildPersonReport(*archive, QStringLiteral("P0001"), *ParseReportPeriod(QStringLiteral("2024Q3")),
                              settings, at("2024-10-02"), &d),
            kOk);
  ASSERT_EQ(d.chart->points.size(), 1u);
  EXPECT_NEAR(d.chart->points[0].yearCumulative, dose(records[0]) + dose(records[2]), 1e-6);

  EXPECT_EQ(BuildPersonReport(*archive, QStringLiteral("P9999"), *ParseReportPeriod(QStringLiteral("2024")),
                              settings, at("2024-10-02"), &d),
            kErrArchiveNoPerson);
}

TEST_P(ArchiveReportTest, ThePeriodsOfferedForReportsSpanTheQuartersWhereDosesCount) {
  QStringList quarters, years;
  ASSERT_EQ(archive->reportPeriods(&quarters, &years), kOk);
  EXPECT_EQ(quarters, QStringList({"2024Q4", "2024Q3", "2024Q2", "2024Q1"}));
  EXPECT_EQ(years, QStringList{"2024"});
  // Worn in December, read in January: its dose is December's.
  ASSERT_EQ(archive->assign("D0004", "Dora", at("2023-10-01", false), at("2023-12-31")), kOk);
  ImportResult r;
  ASSERT_EQ(archive->importRecords(std::vector<BlockRecord>{Readout("D0004", "2024-01-03 09:00", 9)},
                                   QStringLiteral("COM1"), &r),
            kOk);
  ASSERT_EQ(archive->reportPeriods(&quarters, &years), kOk);
  EXPECT_EQ(quarters.last(), QStringLiteral("2023Q4"));
  EXPECT_EQ(years, QStringList({"2024", "2023"}));

  ArchiveDb empty{GetParam()};
  ASSERT_EQ(empty.open()->reportPeriods(&quarters, &years), kOk);
  EXPECT_TRUE(quarters.isEmpty() && years.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Databases, ArchiveReportTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL), quelm::test::backendName);

TEST(ReportPeriod, QuartersAndYearsRunFromTheirFirstToTheirLastMinute) {
  const struct {
    const char *text, *from, *to;
  } cases[] = {{"2026Q3", "2026-07-01 00:00", "2026-09-30 23:59"},
               {"2026q1", "2026-01-01 00:00", "2026-03-31 23:59"},
               {"2024Q4", "2024-10-01 00:00", "2024-12-31 23:59"},
               {"2024", "2024-01-01 00:00", "2024-12-31 23:59"},
               {" 2025 ", "2025-01-01 00:00", "2025-12-31 23:59"},
               {"2026Q5", nullptr, nullptr},
               {"2026Q", nullptr, nullptr},
               {"26Q1", nullptr, nullptr},
               {"0000", nullptr, nullptr},
               {"0000Q1", nullptr, nullptr}};
  for (const auto& c : cases) {
    const std::optional<ReportPeriod> p = ParseReportPeriod(QLatin1String(c.text));
    ASSERT_EQ(p.has_value(), c.from != nullptr) << c.text;
    if (!p) continue;
    EXPECT_EQ(ArchiveTimeText(p->from), QLatin1String(c.from)) << c.text;
    EXPECT_EQ(ArchiveTimeText(p->to), QLatin1String(c.to)) << c.text;
  }
}

TEST(ReportPages, LongListsBreakWithTheHeaderOnEveryPageAndTheNoteAfterTheLastRow) {
  ReportDocument d;
  d.heading = {"a", "b", "c"};
  d.figures.resize(6);
  d.chart = DoseChartData{};
  d.note = QStringLiteral("note");
  const int firstPage =
      static_cast<int>((report::kBodyBottom -
                        (report::kMargin + report::kTitleHeight + 3 * report::kLineHeight + report::kGap +
                         6 * report::kLineHeight + report::kGap + report::kChartHeight + report::kGap) -
                        report::kHeaderHeight) /
                       report::kRowHeight);
  const int fullPage =
      static_cast<int>((report::kBodyBottom - report::kMargin - report::kHeaderHeight) / report::kRowHeight);
  const struct {
    int rows;
    size_t pages;
  } cases[] = {{0, 1}, {firstPage, 0}, {firstPage + 1, 2}, {firstPage + fullPage + 1, 3}, {300, 0}};
  for (const auto& c : cases) {
    d.rows.assign(static_cast<size_t>(c.rows), ReportRow{});
    const std::vector<ReportPage> pages = PaginateReport(d, {});
    if (c.pages) {
      EXPECT_EQ(pages.size(), c.pages) << c.rows << " rows";
    }
    int next = 0;
    for (const ReportPage& p : pages) {
      EXPECT_EQ(p.firstRow, next) << "no row lost or repeated";
      EXPECT_LE(p.rowCount, p.heading ? firstPage : fullPage);
      next += p.rowCount;
    }
    EXPECT_EQ(next, c.rows);
    EXPECT_TRUE(pages.back().note);
    EXPECT_EQ(std::count_if(pages.begin(), pages.end(), [](auto& p) { return p.note; }), 1);
  }
  // Rows of names that wrap take more of the page; none is split.
  d.rows.assign(60, ReportRow{});
  const std::vector<int> lines(60, 3);
  int next = 0;
  for (const ReportPage& p : PaginateReport(d, lines)) {
    EXPECT_EQ(p.firstRow, next);
    EXPECT_LE(p.rowCount * ReportRowHeight(3), (p.heading ? firstPage : fullPage) * report::kRowHeight);
    next += p.rowCount;
  }
  EXPECT_EQ(next, 60);
  EXPECT_EQ(ReportRowHeight(3), report::kRowHeight + 2 * report::kRowLineHeight);
  EXPECT_EQ(PageFooter(2, 3), QStringLiteral("Page 2 of 3"));

  // A heading longer than a page goes on over the next; every line, the
  // figures, the chart and the rows once each, in order, above the footer.
  for (const int headingLines : {3, 45, 60, 120}) {
    d.heading = QStringList(headingLines, QStringLiteral("changed"));
    d.rows.assign(10, ReportRow{});
    const std::vector<ReportPage> pages = PaginateReport(d, {});
    int line = 0, figures = 0, charts = 0;
    next = 0;
    for (const ReportPage& p : pages) {
      EXPECT_EQ(p.heading, p.number == 1);
      if (p.headingLines > 0) {
        EXPECT_EQ(p.firstHeadingLine, line) << headingLines;
      }
      line += p.headingLines;
      EXPECT_LE((p.heading ? report::kMargin + report::kTitleHeight : report::kMargin) +
                    p.headingLines * report::kLineHeight,
                report::kBodyBottom);
      if (p.figuresTop >= 0) {
        ++figures;
        EXPECT_EQ(line, headingLines) << "the figures after the heading";
        EXPECT_LE(p.figuresTop + 6 * report::kLineHeight, report::kBodyBottom);
      }
      if (p.chartTop >= 0) {
        ++charts;
        EXPECT_LE(p.chartTop + report::kChartHeight, report::kBodyBottom);
      }
      if (p.rowCount > 0) {
        EXPECT_EQ(charts, 1) << "the rows after the chart";
        EXPECT_LE(p.tableTop + report::kHeaderHeight + p.rowCount * report::kRowHeight, report::kBodyBottom);
      }
      EXPECT_EQ(p.firstRow, next);
      next += p.rowCount;
    }
    EXPECT_EQ(line, headingLines);
    EXPECT_EQ(figures, 1);
    EXPECT_EQ(charts, 1);
    EXPECT_EQ(next, 10);
    EXPECT_EQ(pages.size() == 1, headingLines == 3) << headingLines;
  }
}

}  // namespace
