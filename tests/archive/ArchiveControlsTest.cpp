// Control dosimeters and calibration runs in the dose archive: the batch
// rule and its limits without a database, then on SQLite and on a
// PostgreSQL server a batch out of its limits reaching the review list,
// calibration runs stored, listed and checked, and a dosimeter's factor
// history.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "ArchiveDb.h"
#include "archive/Archive.h"
#include "base/ErrorCodes.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/DoseChain.h"

using namespace quelm;
using quelm::test::ArchiveDb;
using quelm::test::Backend;
using quelm::test::Readout;
using quelm::test::at;

namespace {

// One ratio control per reader day, from 1 March 2026 on.
std::vector<ControlReading> ratioDays(const std::vector<double>& ratios, const char* device = "Q0412") {
  std::vector<ControlReading> readings;
  for (size_t i = 0; i < ratios.size(); ++i) {
    const QString time =
        QDate(2026, 3, 1).addDays(static_cast<qint64>(i)).toString(QStringLiteral("yyyy-MM-dd")) +
        QStringLiteral(" 09:00");
    readings.push_back({QLatin1String(device), time, QStringLiteral("C0001"), ratios[i] * 1000, 1000});
  }
  return readings;
}

TEST(ControlBatches, EachBatchIsHeldAgainstTheBatchesBeforeItWithinTheirLimits) {
  const std::vector<double> five = {1.00, 1.01, 0.99, 1.00, 1.00};  // mean 1, SD 0.00707
  const auto with = [&](std::initializer_list<double> more) {
    std::vector<double> v = five;
    v.insert(v.end(), more);
    return v;
  };
  std::vector<double> steady;
  for (int i = 0; i < 30; ++i) steady.push_back(1 + 0.01 * (i % 3 - 1));
  const struct {
    const char* name;
    std::vector<double> ratios;
    const char* verdicts;  // n not judged, i in limits, o out of limits
    int lastBaseline;
  } cases[] = {
      {"fewer than five before are not judged", five, "nnnnn", 4},
      {"far off five alike", with({1.10}), "nnnnno", 5},
      {"2.1 SD off is within", with({1.015}), "nnnnni", 5},
      // Counted among the others, 1.5 would widen the limits so much
      // that 1.025 (3.5 SD of the five) passed.
      {"an outlier never widens the next limits", with({1.5, 1.025}), "nnnnnoo", 5},
      {"the limits follow the last twenty", steady, "nnnnniiiiiiiiiiiiiiiiiiiiiiiii", kControlBaseline},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<ControlBatch> batches = EvaluateControlBatches(ratioDays(c.ratios));
    ASSERT_EQ(batches.size(), c.ratios.size());
    QString verdicts;
    for (const ControlBatch& b : batches)
      verdicts += !b.ratioLimits.judged() ? QLatin1Char('n')
                  : b.ratioOut            ? QLatin1Char('o')
                                          : QLatin1Char('i');
    EXPECT_EQ(verdicts, QLatin1String(c.verdicts));
    EXPECT_EQ(batches.back().ratioLimits.baseline, c.lastBaseline);
    EXPECT_FALSE(batches.back().background) << "no background control was read";
  }
  const ControlBatch sixth = EvaluateControlBatches(ratioDays(with({1.04})))[5];
  EXPECT_NEAR(*sixth.ratioLimits.mean, 1.0, 1e-12);
  EXPECT_NEAR(*sixth.ratioLimits.sd, std::sqrt(0.0002 / 4), 1e-12);
  // A tolerance replaces the standard deviations of the ratio.
  EXPECT_TRUE(sixth.out(std::nullopt));
  EXPECT_FALSE(sixth.out(5.0));
  EXPECT_TRUE(sixth.out(3.0));
}

TEST(ControlBatches, ABatchIsOneReadersDayAndTheTwoKindsAreJudgedApart) {
  std::vector<ControlReading> readings = ratioDays({1.02});
  readings.push_back(
      {QStringLiteral("Q0412"), QStringLiteral("2026-03-01 15:30"), QStringLiteral("C0002"), 980, 1000});
  readings.push_back(
      {QStringLiteral("Q0412"), QStringLiteral("2026-03-01 15:31"), QStringLiteral("C0003"), 0.4, 0});
  readings.push_back(
      {QStringLiteral("Q0007"), QStringLiteral("2026-03-01 10:00"), QStringLiteral("C0004"), 1100, 1000});
  readings.push_back(
      {QStringLiteral("Q0412"), QStringLiteral("2026-03-02 00:00"), QStringLiteral("C0001"), 1000, 1000});
  const std::vector<ControlBatch> b = EvaluateControlBatches(readings);
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(std::make_tuple(b[0].day, b[0].device, b[0].ratioControls),
            std::make_tuple(QString("2026-03-01"), QString("Q0007"), 1));
  EXPECT_EQ(std::make_tuple(b[1].device, b[1].ratioControls, b[1].backgroundControls),
            std::make_tuple(QString("Q0412"), 2, 1));
  EXPECT_NEAR(*b[1].ratio, 1.0, 1e-12) << "the mean of 1.02 and 0.98";
  EXPECT_NEAR(*b[1].background, 0.4, 1e-12);
  EXPECT_EQ(b[2].day, QStringLiteral("2026-03-02"));
  EXPECT_FALSE(b[2].background);

  const ControlChartData chart = MakeControlChart(b, std::nullopt, std::nullopt);
  ASSERT_EQ(chart.series.size(), 2u);
  EXPECT_EQ(chart.series[0].points.size(), 3u);
  EXPECT_EQ(chart.series[1].kind, ControlKind::Background);
  EXPECT_EQ(chart.series[1].points.size(), 1u);
  EXPECT_TRUE(MakeControlChart(b, std::nullopt, *ParseReportPeriod(QStringLiteral("2026Q2"))).series.empty());
}

// The service's reader Q0412 reads Anna's A1001 and the controls C0001
// (irradiated to 1 mSv) and C0002 (background) each day from 2 March 2026;
// on the seventh day it reads 20 % high.
class ArchiveControlsTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db.available()) GTEST_SKIP() << "no PostgreSQL server";
    archive = db.open();
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->addPerson({QStringLiteral("S-1"), QStringLiteral("Anna Berg")}), kOk);
    ASSERT_EQ(archive->assign(QStringLiteral("A1001"), QStringLiteral("S-1"), at("2026-01-01"), std::nullopt),
              kOk);
  }
  static BlockRecord reading(const char* dosimeter, int day, int block, float dose) {
    BlockRecord r = Readout(dosimeter, "2026-03-01 09:00", block);
    r.DateTime[2] = static_cast<uint8_t>(1 + day);
    r.DateTime[4] = static_cast<uint8_t>(block % 60);
    r.MeasuredDose = dose;
    return r;
  }
  static std::vector<BlockRecord> week() {
    const double ratios[] = {1.00, 1.01, 0.99, 1.00, 1.00, 1.005, 1.20};
    std::vector<BlockRecord> records;
    // One reader's blocks, numbered in the order it measured them.
    for (int day = 1; day <= 7; ++day) {
      records.push_back(reading("A1001", day, 3 * day, 120));
      records.push_back(reading("C0001", day, 3 * day + 1, static_cast<float>(1000 * ratios[day - 1])));
      records.push_back(reading("C0002", day, 3 * day + 2, static_cast<float>(0.5 + 0.01 * (day % 2))));
    }
    return records;
  }
  void import(const std::vector<BlockRecord>& records) {
    ImportResult r;
    ASSERT_EQ(archive->importRecords(records, QStringLiteral("COM1"), &r), kOk)
        << archive->errorDetail().toStdString();
  }
  std::vector<ReadoutRow> review() {
    std::vector<ReadoutRow> items;
    EXPECT_EQ(archive->review(std::nullopt, &items), kOk) << archive->errorDetail().toStdString();
    return items;
  }
  QStringList logged() {
    std::vector<LogEntry> log;
    EXPECT_EQ(archive->changeLog({}, &log), kOk);
    QStringList what;
    for (const LogEntry& e : log) what << e.what;
    return what;
  }
  QStringList faults() {
    CheckReport report;
    EXPECT_EQ(archive->check(&report), kOk) << archive->errorDetail().toStdString();
    return report.faults;
  }

  ArchiveDb db{GetParam()};
  std::unique_ptr<DoseArchive> archive;
};

TEST_P(ArchiveControlsTest, ABatchOutsideItsLimitsPutsItsReadoutsOnTheReviewList) {
  ControlMark mark;
  ASSERT_EQ(archive->markControl(QStringLiteral("c0001"), 1000, std::nullopt, &mark), kOk);
  EXPECT_EQ(std::make_tuple(mark.dosimeter, ArchiveTimeText(mark.from)),
            std::make_tuple(QStringLiteral("C0001"), QStringLiteral("1980-01-01 00:00")))
      << "a first mark holds for every read-out";
  ASSERT_EQ(archive->markControl(QStringLiteral("C0002"), 0, at("2026-01-01")), kOk);
  EXPECT_EQ(archive->markControl(QStringLiteral("A1001"), 1000, std::nullopt), kErrArchiveInput)
      << "Anna wears it";
  EXPECT_EQ(archive->markControl(QStringLiteral("C0003"), -5, std::nullopt), kErrArchiveInput);
  EXPECT_EQ(archive->assign(QStringLiteral("c0002"), QStringLiteral("S-1"), at("2026-01-01"), std::nullopt),
            kErrArchiveInput)
      << "nobody wears a control";
  WearerListResult wearers;
  EXPECT_EQ(archive->importWearerList({{7,
                                        {QStringLiteral("S-1"), QStringLiteral("Anna Berg")},
                                        {QStringLiteral("C0001"), {}, at("2026-01-01"), std::nullopt}}},
                                      &wearers),
            kErrArchiveInput);
  EXPECT_EQ(archive->errorDetail(), QStringLiteral("line 7: C0001 is a control dosimeter: nobody wears it"));
  ImportResult imported;
  ASSERT_EQ(archive->importRecords(week(), QStringLiteral("COM1"), &imported, 1000.0), kOk);
  EXPECT_EQ(imported.highDoses.size(), 0u) << "a control's known dose is no high dose";
  std::vector<ReadoutRow> alerts;
  ASSERT_EQ(archive->alerts(std::nullopt, 1000, &alerts), kOk);
  EXPECT_TRUE(alerts.empty());

  std::vector<ControlBatch> batches;
  ASSERT_EQ(archive->controlBatches(&batches), kOk);
  ASSERT_EQ(batches.size(), 7u);
  EXPECT_TRUE(batches[6].ratioOut);
  EXPECT_FALSE(batches[5].out(std::nullopt));
  EXPECT_NEAR(*batches[6].background, 0.51, 1e-6);

  std::vector<ReadoutRow> items = review();
  QStringList listed;
  for (const ReadoutRow& r : items) {
    listed << r.dosimeter + QLatin1Char(' ') + r.readoutTime.left(10);
    EXPECT_EQ(r.openReasons(), int{kReviewControl})
        << r.dosimeter.toStdString() << ": controls are no unassigned items";
  }
  EXPECT_EQ(listed, (QStringList{"A1001 2026-03-08", "C0001 2026-03-08", "C0002 2026-03-08"}));
  EXPECT_EQ(logged().filter(QStringLiteral("control")),
            (QStringList{"control marked", "control marked", "control batches judged"}));
  EXPECT_TRUE(faults().isEmpty()) << faults().join(QLatin1Char('\n')).toStdString();

  // A fixed tolerance of 25 % takes the 20 % in; one of 0.5 % takes more out.
  archive->setControlTolerance(25);
  EXPECT_TRUE(review().empty());
  archive->setControlTolerance(0.5);
  EXPECT_EQ(review().size(), 9u) << "the days at 1.01 and 0.99 too";
  archive->setControlTolerance(std::nullopt);

  // The operator sees to it: accepted, the read-out leaves the list.
  ASSERT_EQ(archive->resolve(items[0].id, Resolution::Accept, QStringLiteral("reader serviced")), kOk);
  EXPECT_EQ(review().size(), 2u);

  // A known dose that was wrong: 1200 from the seventh day puts it in.
  ASSERT_EQ(archive->markControl(QStringLiteral("C0001"), 1200, at("2026-03-08")), kOk);
  ASSERT_EQ(archive->controlBatches(&batches), kOk);
  EXPECT_FALSE(batches[6].ratioOut);
  EXPECT_NEAR(*batches[6].ratio, 1.0, 1e-6);
  EXPECT_EQ(logged().filter(QStringLiteral("control batches judged")).size(), 2);
  EXPECT_TRUE(faults().isEmpty());

  // Batches changed behind the program's back are found.
  ASSERT_TRUE(db.raw(QStringLiteral("UPDATE control_batches SET ratio_out = 1 WHERE day = '2026-03-04'")));
  ASSERT_TRUE(db.raw(QStringLiteral("DELETE FROM control_batches WHERE day = '2026-03-05'")));
  // So is a control given a wearer behind its back.
  ASSERT_EQ(archive->assign(QStringLiteral("Z0001"), QStringLiteral("Zed"), at("2026-03-01"), std::nullopt),
            kOk);
  ASSERT_TRUE(
      db.raw(QStringLiteral("UPDATE wear_periods SET dosimeter = 'C0001' WHERE dosimeter = 'Z0001'")));
  EXPECT_EQ(faults(),
            (QStringList{
                "C0001 is worn (by P0001 Zed from 2026-03-01 00:00): a control dosimeter is worn by nobody",
                "control batch Q0412 2026-03-04 differs from what its control read-outs give",
                "control batch Q0412 2026-03-05 is missing"}));
}

// Calibration runs -----------------------------------------------------------------------

TEST_P(ArchiveControlsTest, CalibrationRunsAreStoredListedCheckedAndMakeAFactorHistory) {
  CalibrationRecord run;
  run.computedAt = QStringLiteral("2026-03-05 14:03");
  run.calibratedBy = QStringLiteral("tester");
  run.program = QStringLiteral("Quelm test");
  run.source = QStringLiteral("data files batch.dat");
  run.dose = QStringLiteral("1000 uSv");
  run.note = QStringLiteral("Cs-137, 2 March");
  std::vector<double> factors;
  for (int i = 1; i <= 3; ++i) {
    const BlockRecord r =
        Readout(QStringLiteral("A000%1").arg(i).toLatin1().constData(), "2026-03-03 10:00", i);
    const NormFactSolution s = SolveNormFact(r, r.EVASTART, r.EVALEN, 1000);
    ASSERT_TRUE(s) << NormFactRefusalText(s.refusal).toStdString();
    CalibrationFactorRecord f;
    f.device = QStringLiteral("Q0412");
    f.blockNumber = i;
    f.readoutTime = QStringLiteral("2026-03-03 10:00");
    f.origin = QStringLiteral("batch.dat, block %1").arg(i);
    f.record = QByteArray(reinterpret_cast<const char*>(&r), sizeof r);
    f.evalStart = r.EVASTART;
    f.evalLength = r.EVALEN;
    f.deliveredUsv = 1000;
    f.factor = s.normFact;
    f.status = QStringLiteral("used");
    f.used = true;
    run.factors.push_back(f);
    factors.push_back(s.normFact);
  }
  const double mean = (factors[0] + factors[1] + factors[2]) / 3;
  run.batches = {{QStringLiteral("A"), 3, 3, mean, 1.0, 0.01}};
  qint64 id = 0;
  ASSERT_EQ(archive->storeCalibration(run, &id), kOk) << archive->errorDetail().toStdString();
  EXPECT_GT(id, 0);
  CalibrationRecord empty = run;
  empty.factors.clear();
  EXPECT_EQ(archive->storeCalibration(empty, &id), kErrArchiveInput);

  // The factor then in force on the reader is in each read-out's bytes.
  BlockRecord later = Readout("A0001", "2026-04-10 08:00", 9);
  later.EVANORM = static_cast<float>(factors[0]);
  BlockRecord before = Readout("A0001", "2026-02-10 08:00", 8);
  before.EVANORM = 0;  // the reader had none
  import({later, before});
  std::vector<FactorHistoryEntry> history;
  ASSERT_EQ(archive->factorHistory(QStringLiteral("a0001"), &history), kOk);
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(std::make_tuple(history[0].kind, history[0].factor.has_value(), history[0].status),
            std::make_tuple(FactorHistoryEntry::Readout, false, QStringLiteral("not known")));
  EXPECT_EQ(std::make_tuple(history[1].kind, history[1].run, history[1].time),
            std::make_tuple(FactorHistoryEntry::Calibration, id, run.computedAt));
  EXPECT_EQ(history[1].factor, factors[0]);
  EXPECT_EQ(history[2].factor, std::optional<double>(static_cast<float>(factors[0])));

  // What was written later: once logged, and not again when nothing changed.
  const int rows = static_cast<int>(logged().size());
  ASSERT_EQ(
      archive->updateCalibration(id, run.note, QStringLiteral("look-up entries"), {QStringLiteral("A0001")}),
      kOk);
  ASSERT_EQ(
      archive->updateCalibration(id, run.note, QStringLiteral("look-up entries"), {QStringLiteral("a0001")}),
      kOk);
  EXPECT_EQ(logged().mid(rows - 2),
            (QStringList{"calibration run stored", "import", "calibration run updated"}));
  EXPECT_EQ(archive->updateCalibration(id + 99, QString(), QString(), {}), kErrArchiveInput);

  std::vector<CalibrationRecord> runs;
  ASSERT_EQ(archive->calibrations(&runs), kOk);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(std::make_tuple(runs[0].note, runs[0].written, runs[0].batches.size(), runs[0].factors.size()),
            std::make_tuple(run.note, QStringLiteral("look-up entries"), size_t{1}, size_t{0}));
  CalibrationRecord whole;
  ASSERT_EQ(archive->calibration(id, &whole), kOk);
  ASSERT_EQ(whole.factors.size(), 3u);
  EXPECT_TRUE(whole.factors[0].written);
  EXPECT_FALSE(whole.factors[1].written);
  EXPECT_EQ(whole.factors[2].record, run.factors[2].record);

  std::vector<ArchivedRecord> records;
  ASSERT_EQ(archive->readoutRecords({QStringLiteral("a0001"), QStringLiteral("A0009")}, at("2026-04-01"),
                                    at("2026-04-30", true), &records),
            kOk);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].readoutTime, QStringLiteral("2026-04-10 08:00"));

  CheckReport report;
  ASSERT_EQ(archive->check(&report), kOk);
  EXPECT_TRUE(report.faults.isEmpty()) << report.faults.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(report.calibrations, 1);
  ASSERT_TRUE(
      db.raw(QStringLiteral("UPDATE calibration_factors SET factor = factor * 1.01 WHERE block_number = 2")));
  const QStringList f = faults();
  ASSERT_EQ(f.size(), 2) << f.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(
      f[0].endsWith(QLatin1String("(A0002): the factor is not what the chain gives for the delivered dose")));
  EXPECT_TRUE(f[1].contains(QLatin1String("the batch mean is not that of its factors in the mean")));
}

// A calibration's span is counted before it is read, and read no further
// than asked, over a list long enough to take more than one statement.
TEST_P(ArchiveControlsTest, ACalibrationSpanIsCountedAndReadNoFurtherThanAsked) {
  import({Readout("A0001", "2026-03-02 09:00", 1), Readout("A0001", "2026-03-02 11:00", 2),
          Readout("A0600", "2026-03-02 09:30", 3), Readout("A0600", "2026-03-03 09:30", 4),
          Readout("B0001", "2026-03-02 09:00", 5)});
  QStringList list;
  for (int n = 1; n <= 600; ++n) list << QStringLiteral("a%1").arg(n, 4, 10, QLatin1Char('0'));
  const QDateTime from = at("2026-03-02"), to = at("2026-03-02", true);
  qint64 count = 0;
  ASSERT_EQ(archive->countReadoutRecords(list, from, to, &count), kOk)
      << archive->errorDetail().toStdString();
  EXPECT_EQ(count, 3);
  const struct {
    std::optional<qint64> atMost;
    size_t read;
  } cases[] = {{std::nullopt, 3}, {3, 3}, {2, 2}, {1, 1}};
  for (const auto& c : cases) {
    std::vector<ArchivedRecord> records;
    ASSERT_EQ(archive->readoutRecords(list, from, to, &records, c.atMost), kOk);
    EXPECT_EQ(records.size(), c.read) << c.atMost.value_or(-1);
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, ArchiveControlsTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL), quelm::test::backendName);

}  // namespace
