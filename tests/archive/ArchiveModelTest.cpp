// The dose archive window's model without a window, on SQLite and on a
// PostgreSQL server: the list and its search, the chosen person's or
// dosimeter's read-outs, filters, sort order and totals (the core's own
// figures), assigning and ending wear periods, the import on its worker
// thread, and what reaches the main window.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include "ArchiveDb.h"
#include "archive/ArchiveModel.h"
#include "archive/ArchiveText.h"
#include "base/ErrorCodes.h"
#include "evaluation/DoseChain.h"

using namespace quelm;
using quelm::test::ArchiveDb;
using quelm::test::Backend;
using quelm::test::Readout;

namespace {

QDateTime at(const char* text) { return *ParseArchiveTime(QLatin1String(text), false); }

class ArchiveModelTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db.available()) GTEST_SKIP() << "no PostgreSQL server";
    {
      auto archive = db.open();
      ASSERT_TRUE(archive);
      ASSERT_EQ(archive->assign("A0017", "Alice", at("2024-01-01 00:00"), std::nullopt), kOk);
      ASSERT_EQ(archive->assign("B0002", "Bob", at("2024-01-01 00:00"), at("2024-06-30 23:59")), kOk);
      records = {Readout("A0017", "2024-02-01 08:00", 1), Readout("A0017", "2024-05-01 08:00", 2),
                 Readout("A0017", "2024-08-01 08:00", 3), Readout("B0002", "2024-03-01 08:00", 4)};
      ImportResult r;
      ASSERT_EQ(archive->importRecords(records, QStringLiteral("COM1"), &r), kOk);
      BlockRecord other = records[1];
      other.ChannelTemps[0] += 1;
      ASSERT_EQ(archive->importRecords(std::vector<BlockRecord>{other}, QStringLiteral("copy"), &r), kOk);
    }
    ArchiveSettings settings;
    settings.database = db.url;
    settings.notificationLevel = float{records[2].MeasuredDose};
    model = std::make_unique<ArchiveModel>(settings);
    model->clock = [] { return at("2024-09-15 12:00"); };
    model->onFailure = [this](const ArchiveOutcome& o) { failures.push_back(o); };
    ASSERT_EQ(model->Open(), kOk);
  }
  QStringList entryTexts() const {
    QStringList t;
    for (const ArchiveEntry& e : model->Entries()) t << e.text();
    return t;
  }
  // Runs the event loop until the import has ended.
  void waitForImport() {
    QEventLoop loop;
    model->onChanged = [&] {
      progress.push_back(model->ImportProgress().done);
      if (!model->ImportProgress().running) loop.quit();
    };
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);  // only a hung import gets here
    if (model->ImportProgress().running) loop.exec();
    model->onChanged = nullptr;
    ASSERT_FALSE(model->ImportProgress().running);
  }

  ArchiveDb db{GetParam()};
  std::vector<BlockRecord> records;
  std::unique_ptr<ArchiveModel> model;
  std::vector<ArchiveOutcome> failures;
  std::vector<int> progress;
};

TEST_P(ArchiveModelTest, TheListHoldsPersonsAndDosimetersAndTheSearchNarrowsIt) {
  const struct {
    const char* search;
    QStringList shown;
  } cases[] = {{"", {"Alice (P0001)", "Bob (P0002)", "Dosimeter A0017", "Dosimeter B0002"}},
               {"ali", {"Alice (P0001)"}},
               {"a00", {"Dosimeter A0017"}},
               {"DOSIMETER", {"Dosimeter A0017", "Dosimeter B0002"}},
               {"nobody", {}}};
  for (const auto& c : cases) {
    model->SetSearch(QLatin1String(c.search));
    EXPECT_EQ(entryTexts(), c.shown) << c.search;
  }
}

TEST_P(ArchiveModelTest, ThePersonsReadOutsTotalsAndChartAreTheCoresFigures) {
  ASSERT_EQ(model->ChooseEntry(ArchiveEntry::Person, QStringLiteral("P0001")), kOk);
  ASSERT_EQ(model->Periods().size(), 1u);
  ASSERT_EQ(model->Rows().size(), 4u) << "three read-outs and the conflict beside them";
  EXPECT_EQ(std::count_if(model->Rows().begin(), model->Rows().end(), [](auto& r) { return r.conflict; }), 1);
  EXPECT_EQ(model->Chart().points.size(), 3u) << "a conflict is no dose";

  auto archive = db.open(ArchiveOptions{true});
  std::vector<PersonTotals> t;
  ASSERT_EQ(archive->totals(QStringLiteral("P0001"), at("2024-09-15 12:00"), &t), kOk);
  const ArchiveTotalsView& v = model->Totals();
  EXPECT_EQ(v.totals.quarterToDate, t[0].quarterToDate);
  EXPECT_EQ(v.totals.yearToDate, t[0].yearToDate);
  EXPECT_EQ(v.totals.lifetime, t[0].lifetime);
  EXPECT_DOUBLE_EQ(v.share, AnnualLimitShare(t[0].yearToDate, 20000));

  // High doses and conflicts say so in the list.
  for (int r = 0; r < static_cast<int>(model->Rows().size()); ++r) {
    const ReadoutRow& row = model->Rows()[static_cast<size_t>(r)];
    const bool high = !row.conflict && row.doseUsv >= float{records[2].MeasuredDose};
    EXPECT_EQ(model->RowHigh(r), high) << r;
    EXPECT_EQ(model->CellText(r, kColRemark).isEmpty(), !row.conflict && !high) << r;
    EXPECT_EQ(model->CellText(r, kColDose), DoseText(row.doseUsv));
  }

  ASSERT_EQ(model->ChooseEntry(ArchiveEntry::Dosimeter, QStringLiteral("B0002")), kOk);
  PersonTotals d;
  ASSERT_EQ(archive->dosimeterTotals(QStringLiteral("B0002"), at("2024-09-15 12:00"), &d), kOk);
  EXPECT_EQ(model->Totals().totals.lifetime, d.lifetime);
  EXPECT_EQ(model->Rows().size(), 1u);
  EXPECT_EQ(model->CellText(0, kColPerson), QStringLiteral("Bob"));
}

TEST_P(ArchiveModelTest, TheDateRangeNarrowsTheReadOutsAndAnythingButADateIsRefused) {
  model->ChooseEntry(ArchiveEntry::Person, QStringLiteral("P0001"));
  const struct {
    const char *from, *to;
    bool accepted;
    size_t rows;
  } cases[] = {{"", "", true, 4},
               {"01.05.2024", "", true, 3},
               {"", "2024-05-01", true, 3},  // the whole day, conflict included
               {"02.05.2024", "31.07.2024", true, 0},
               {"32.01.2024", "", false, 0},
               {"", "yesterday", false, 0}};
  size_t before = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(model->SetRange(QLatin1String(c.from), QLatin1String(c.to)), c.accepted) << c.from << c.to;
    EXPECT_EQ(model->Rows().size(), c.accepted ? c.rows : before) << c.from << c.to;
    before = model->Rows().size();
  }
}

TEST_P(ArchiveModelTest, EachColumnSortsBothWays) {
  model->ChooseEntry(ArchiveEntry::Dosimeter, QStringLiteral("A0017"));
  for (int column : {kColTime, kColBlock, kColDose, kColDoseRate, kColRemark})
    for (bool descending : {false, true}) {
      model->SortBy(column, descending);
      const auto& rows = model->Rows();
      for (size_t i = 1; i < rows.size(); ++i) {
        const auto key = [column](const ReadoutRow& r) {
          switch (column) {
            case kColBlock:
              return double(r.blockNumber);
            case kColDose:
              return r.doseUsv.value_or(-1);
            case kColDoseRate:
              return r.doseRate.value_or(-1);
            case kColRemark:
              return double(r.conflict);
            default:
              return double(at(r.readoutTime.toLatin1().constData()).toSecsSinceEpoch());
          }
        };
        EXPECT_TRUE(descending ? key(rows[i - 1]) >= key(rows[i]) : key(rows[i - 1]) <= key(rows[i]))
            << "column " << column << (descending ? " descending" : "");
      }
    }
}

TEST_P(ArchiveModelTest, AssigningAndEndingPeriodsKeepTheCoresRulesAndSayWhyNot) {
  model->ChooseEntry(ArchiveEntry::Person, QStringLiteral("P0002"));
  const struct {
    const char *dosimeter, *person, *from;
    int code;
    size_t bobsPeriods;
  } cases[] = {{"A0017", "Bob", "2024-08-01 00:00", kErrArchiveOverlap, 1},  // Alice's, open
               {"C0005", "Bob", "2024-07-01 00:00", kOk, 2},
               {"", "Bob", "2024-07-01 00:00", kErrArchiveInput, 2}};
  for (const auto& c : cases) {
    failures.clear();
    model->askAssignment = [&](const WearPeriod& proposal, const std::vector<Person>&) -> std::optional<WearPeriod> {
      EXPECT_EQ(proposal.person.name, QStringLiteral("Bob")) << "the chosen person is proposed";
      EXPECT_EQ(proposal.from, at("2024-09-15 00:00")) << "from today";
      return WearPeriod{QLatin1String(c.dosimeter), {{}, QLatin1String(c.person)}, at(c.from), std::nullopt};
    };
    model->Assign();
    ASSERT_EQ(failures.size(), c.code ? 1u : 0u) << c.dosimeter;
    if (c.code) {
      EXPECT_EQ(failures[0].code, c.code);
    }
    EXPECT_EQ(model->Periods().size(), c.bobsPeriods) << c.dosimeter;
  }
  EXPECT_TRUE(failures.empty() || failures[0].detail.contains(QStringLiteral("dosimeter")));

  model->askAssignment = [](const WearPeriod&, const std::vector<Person>&) { return std::nullopt; };
  model->Assign();
  EXPECT_EQ(model->Periods().size(), 2u) << "cancelled";

  // Ending C0005's open period: not before it began, then on a day.
  model->SelectPeriod(1);
  ASSERT_EQ(model->Periods()[1].dosimeter, QStringLiteral("C0005"));
  ASSERT_TRUE(model->Actions().endPeriod);
  failures.clear();
  model->askPeriodEnd = [](const WearPeriod&) { return std::optional<QDateTime>(at("2024-06-01 00:00")); };
  model->EndPeriod();
  EXPECT_EQ(failures.size(), 1u);
  EXPECT_FALSE(model->Periods()[1].to);
  model->askPeriodEnd = [](const WearPeriod&) { return std::optional<QDateTime>(at("2024-09-30 00:00")); };
  model->EndPeriod();
  ASSERT_TRUE(model->Periods()[1].to);
  EXPECT_EQ(ArchiveTimeText(*model->Periods()[1].to), QStringLiteral("2024-09-30 23:59"))
      << "the whole last day";
}

TEST_P(ArchiveModelTest, AnImportRunsBesideTheWindowShowsProgressAndNeverTwiceAtOnce) {
  QTemporaryDir dir;
  const QString big = dir.filePath(QStringLiteral("big.dat")),
                small = dir.filePath(QStringLiteral("small.dat"));
  ASSERT_EQ(WriteSampleDataFile(big, {2048, 5, 0}), 0);
  ASSERT_EQ(WriteSampleDataFile(small, {10, 6, 100}), 0);
  const QString missing = dir.filePath(QStringLiteral("missing.dat"));
  model->chooseImportFiles = [&] { return QStringList{big, missing, small}; };
  ASSERT_EQ(model->StartImport(), kOk);
  ASSERT_TRUE(model->ImportProgress().running);
  EXPECT_FALSE(model->Actions().import);
  EXPECT_FALSE(model->Actions().assign) << "nothing else writes while it runs";
  EXPECT_EQ(model->StartImport(), kErrArchiveImportRunning);
  EXPECT_EQ(model->Reopen(model->Settings()), kErrArchiveImportRunning);
  ASSERT_EQ(failures.size(), 2u);
  failures.clear();
  waitForImport();

  const ArchiveImportProgress& p = model->ImportProgress();
  EXPECT_EQ(p.total, 2058);
  EXPECT_EQ(p.done, 2058);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_GT(std::count_if(progress.begin(), progress.end(), [](int n) { return n > 0 && n < 2048; }), 2)
      << "the bar moves within the big file";
  ASSERT_EQ(p.lines.size(), 2);
  EXPECT_EQ(p.lines[0], big + QStringLiteral(": 2048 added, 0 already archived, 0 conflicting, 0 refused"));
  EXPECT_EQ(p.lines[1], small + QStringLiteral(": 10 added, 0 already archived, 0 conflicting, 0 refused"));
  ASSERT_EQ(failures.size(), 1u) << "the missing file is named, the others archived";
  EXPECT_EQ(failures[0].code, kErrFileOpen);
  EXPECT_TRUE(failures[0].detail.contains(missing));
  EXPECT_GT(model->Entries().size(), 4u) << "the new dosimeters are listed";
  EXPECT_TRUE(model->Actions().import);
}

TEST_P(ArchiveModelTest, AReadOutReachesTheMainWindowFromTheListAndFromTheChart) {
  std::vector<QByteArray> shown;
  model->showRecord = [&](const QByteArray& record) { shown.push_back(record); };
  model->ChooseEntry(ArchiveEntry::Dosimeter, QStringLiteral("A0017"));
  model->SortBy(kColDose, true);
  for (int r = 0; r < static_cast<int>(model->Rows().size()); ++r) {
    model->SelectRow(r);
    EXPECT_TRUE(model->Actions().showReadout);
    model->ShowReadout();
    const ReadoutRow& row = model->Rows()[static_cast<size_t>(r)];
    const BlockRecord& archived = records[static_cast<size_t>(row.blockNumber - 1)];
    EXPECT_EQ(shown.back(),
              row.conflict ? row.record : QByteArray(reinterpret_cast<const char*>(&archived), 512));
  }
  for (int p = 0; p < static_cast<int>(model->Chart().points.size()); ++p) {
    model->ShowChartPoint(p);
    ASSERT_EQ(shown.back(), QByteArray(reinterpret_cast<const char*>(&records[static_cast<size_t>(p)]), 512))
        << "in time order, whatever the list's order";
  }
}

TEST_P(ArchiveModelTest, ReportsNeedAPersonOrTheSummaryAndAPeriod) {
  ReportDocument d;
  QString detail;
  EXPECT_EQ(model->BuildReport(false, QStringLiteral("2024Q3"), &d, &detail), kErrArchiveNoPerson);
  EXPECT_EQ(model->BuildReport(true, QStringLiteral("2024Q3"), &d, &detail), kOk);
  EXPECT_EQ(d.title, QStringLiteral("Service summary"));
  model->ChooseEntry(ArchiveEntry::Person, QStringLiteral("P0001"));
  EXPECT_EQ(model->BuildReport(false, QStringLiteral("Q3"), &d, &detail), kErrArchiveInput);
  EXPECT_TRUE(detail.contains(QStringLiteral("2026Q3")));
  EXPECT_EQ(model->BuildReport(false, QStringLiteral("2024"), &d, &detail), kOk);
  EXPECT_EQ(d.rows.size(), 3u);
  EXPECT_EQ(model->ReportPeriods().mid(0, 2), QStringList({"2024Q3", "2024Q2"}));
  EXPECT_TRUE(model->ReportPeriods().contains(QStringLiteral("2024")));
}

INSTANTIATE_TEST_SUITE_P(Databases, ArchiveModelTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         quelm::test::backendName);

}  // namespace
