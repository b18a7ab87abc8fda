// The calibration and the dose archive: the dosimeter list, the read-outs
// of a list and a span taken from the archive, and the job keeping each
// run there (once per run, updated by later writes) and reading a
// dosimeter's factor history.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "ArchiveDb.h"
#include "CalibrationBatch.h"
#include "TestEnv.h"
#include "base/ErrorCodes.h"
#include "calibration/CalibrationArchive.h"
#include "calibration/CalibrationJob.h"

using namespace quelm;
using namespace quelm::test;

namespace {

TEST(DosimeterList, IdsAndRangesOfOneTypeLetter) {
  const struct {
    const char* text;
    const char* error;  // empty: parsed
    QStringList ids;
  } cases[] = {
      {"a0001-A0003, b0007,A0002", "", {"A0001", "A0002", "A0003", "B0007"}},
      {"C0001", "", {"C0001"}},
      {"", "no dosimeter given", {}},
      {"A0001,,A0002", "item 2 of the dosimeter list is empty", {}},
      {"A0001-B0002", "\"A0001-B0002\": a range stays within one type letter", {}},
      {"A0009-A0001", "\"A0009-A0001\" runs backwards", {}},
      {"A00X1-A0003", "\"A00X1-A0003\" is no range of dosimeters such as A0001-A0100", {}},
      {"A0001-A0002-A0003", "\"A0001-A0002-A0003\" is no range of dosimeters such as A0001-A0100", {}},
      {"TOOLONG", "a dosimeter is its type letter A to Z and a serial of 4 characters, not \"TOOLONG\"", {}},
  };
  for (const auto& c : cases) {
    QStringList ids = {"untouched"};
    EXPECT_EQ(ParseDosimeterList(QLatin1String(c.text), &ids).toStdString(), c.error) << c.text;
    EXPECT_EQ(ids, *c.error ? QStringList{"untouched"} : c.ids) << c.text;
  }
  QStringList all;
  EXPECT_EQ(ParseDosimeterList(QStringLiteral("A0000-A9999"), &all), QString());
  EXPECT_EQ(all.size(), 10000);
}

// Four dosimeters read on 2 March 2026, the last 30 % more sensitive.
class CalibrationArchiveTest : public ::testing::Test {
 protected:
  CalibrationArchiveTest() {
    job.whoIsCalibrating = [] { return QStringLiteral("tester"); };
    job.now = [] { return QDateTime(QDate(2026, 3, 5), QTime(14, 3)); };
    job.locateArchive = [this](ArchiveLocation* l, QString* detail) {
      return ParseArchiveLocation(url, l, detail);
    };
    blocks = CalibrationBlocks({1.0, 1.01, 0.99, 1.3});
    WriteBlocks(dir, "a.dat", blocks);
  }
  QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
  static QStringList notes(const CalibrationOutcome& o) {
    QStringList texts;
    for (const CalibReport& r : o.reports)
      texts << (r.code ? QStringLiteral("code %1").arg(r.code) : calibText(r.text, r.args));
    return texts;
  }
  std::unique_ptr<DoseArchive> archive() const {
    ArchiveLocation l;
    QString error;
    ParseArchiveLocation(url, &l, &error);
    int code = 0;
    return DoseArchive::open(l, {}, &code, &error);
  }

  QTemporaryDir dir;
  ArchiveDb db{Backend::SQLite};
  QString url = db.url;
  CalibrationJob job;
  std::vector<BlockRecord> blocks;
};

// The read-out whose factor went into the reader is marked written, not
// a repeat of its dosimeter that the run refused.
TEST(CalibrationRecord, OnlyTheReadoutWhoseFactorWasWrittenIsMarkedWritten) {
  CalibrationRun run;
  run.rows.resize(2);
  run.rows[0].dosimeter = run.rows[1].dosimeter = QStringLiteral("A0003");
  run.rows[0].factor = 5000;
  run.rows[1].refusal = RowRefusal::ReadAgain;
  run.lookup = {{QStringLiteral("A0003"), 5000.0f}};
  const CalibrationRecord r = CalibrationRecordOf(run);
  ASSERT_EQ(r.factors.size(), 2u);
  EXPECT_EQ(std::make_pair(r.factors[0].written, r.factors[1].written), std::make_pair(true, false));
}

TEST_F(CalibrationArchiveTest, EveryWriteKeepsTheRunOnceAndAnotherInputIsAnotherRun) {
  DataFileReadouts files({path("a.dat")});
  ASSERT_EQ(job.Load(files).kind, CalibrationOutcome::kDone);
  EXPECT_FALSE(job.Controls().keepRun) << "no dose, no figures";
  ASSERT_EQ(job.SetDose(1000).kind, CalibrationOutcome::kDone);
  EXPECT_TRUE(job.Controls().keepRun);

  CalibrationOutcome o = job.WriteCsv(path("b.csv"));
  EXPECT_EQ(notes(o), (QStringList{"Batch table written to " + path("b.csv"),
                                   "Kept in the dose archive as calibration run 1"}));
  EXPECT_EQ(job.KeptRun(), 1);
  EXPECT_EQ(notes(job.WriteCsv(path("b.csv"))).size(), 1) << "the same run, nothing new written";
  job.SetNote(QStringLiteral("Cs-137"));
  EXPECT_EQ(notes(job.KeepRun()),
            QStringList{"Calibration run 1 in the dose archive: batch table " + path("b.csv")});
  ASSERT_EQ(job.SetDose(900).kind, CalibrationOutcome::kDone);
  EXPECT_FALSE(job.KeptRun()) << "another dose is another run";
  EXPECT_EQ(notes(job.KeepRun()), QStringList{"Kept in the dose archive as calibration run 2"});

  CalibrationRecord stored;
  const auto a = archive();
  ASSERT_EQ(a->calibration(1, &stored), kOk);
  EXPECT_EQ(std::make_tuple(stored.note, stored.dose, stored.calibratedBy, stored.computedAt,
                            stored.factors.size()),
            std::make_tuple(QStringLiteral("Cs-137"), QStringLiteral("1000 uSv"), QStringLiteral("tester"),
                            QStringLiteral("2026-03-05 14:03"), size_t{4}));
  EXPECT_EQ(stored.factors[0].status, QStringLiteral("used"));
  EXPECT_TRUE(stored.factors[3].status.startsWith(QStringLiteral("outlier"))) << "30 % more sensitive";
  EXPECT_NEAR(*stored.factors[0].factor, *job.Run().rows[0].factor * 900 / 1000,
              1.2e-7 * *stored.factors[0].factor)
      << "with the chain's linear piece, the factor goes inversely as the dose";
  // The archive keeps the single the certificate shows and a table holds.
  CalibrationRecord second;
  ASSERT_EQ(a->calibration(2, &second), kOk);
  EXPECT_EQ(second.factors[0].factor, job.Run().rows[0].factor);
  FactorHistoryEntry entry;
  entry.run = 2;
  entry.factor = second.factors[0].factor;
  EXPECT_EQ(FactorHistoryRow(entry, true).split(',')[5], FactorText(*job.Run().rows[0].factor));
  CheckReport report;
  ASSERT_EQ(a->check(&report), kOk);
  EXPECT_TRUE(report.faults.isEmpty()) << report.faults.join('\n').toStdString();

  ASSERT_EQ(job.LoadFactorHistory(QStringLiteral("a0001")).kind, CalibrationOutcome::kDone);
  EXPECT_EQ(job.FactorHistoryDosimeter(), QStringLiteral("A0001"));
  ASSERT_EQ(job.FactorHistory().size(), 2u);
  EXPECT_EQ(job.FactorHistory()[1].run, 2);
  EXPECT_EQ(job.LoadFactorHistory(QStringLiteral("A1")).kind, CalibrationOutcome::kRefused);

  // An archive that cannot be opened fails the keep, never the write.
  url = path("nowhere/a.sqlite");
  o = job.WriteCsv(path("c.csv"));
  EXPECT_EQ(o.kind, CalibrationOutcome::kFailed);
  EXPECT_EQ(notes(o).last(), QStringLiteral("code %1").arg(kErrArchiveOpen));
  EXPECT_TRUE(QFile::exists(path("c.csv")));
}

TEST_F(CalibrationArchiveTest, TheArchiveGivesTheReadoutsOfTheListInTheSpan) {
  {
    ImportResult r;
    BlockRecord later = blocks[0];
    later.DateTime[2] = 9;  // read again a week later: outside the span
    ASSERT_EQ(
        archive()->importRecords(std::vector<BlockRecord>{blocks[0], blocks[1], blocks[2], blocks[3], later},
                                 QStringLiteral("COM1"), &r),
        kOk);
  }
  ArchiveLocation location;
  QString error;
  ASSERT_EQ(ParseArchiveLocation(url, &location, &error), kOk);
  const QDateTime from = *ParseArchiveTime(QStringLiteral("2026-03-02"), false);
  const QDateTime to = *ParseArchiveTime(QStringLiteral("2026-03-02"), true);
  ArchiveReadouts source(location, {"A0004", "A0001", "A0002", "A0003"}, from, to);
  ASSERT_EQ(job.Load(source).kind, CalibrationOutcome::kDone);
  ASSERT_EQ(job.SetDose(1000).kind, CalibrationOutcome::kDone);
  const CalibrationRun& run = job.Run();
  ASSERT_EQ(run.rows.size(), 4u);
  EXPECT_EQ(run.rows[0].dosimeter, QStringLiteral("A0004")) << "in the order of the list";
  EXPECT_EQ(run.rows[1].readout.origin, QStringLiteral("archive read-out 1"));
  EXPECT_TRUE(
      run.source.startsWith(QStringLiteral("dose archive archive.sqlite: A0004, A0001, A0002, A0003 read "
                                           "2026-03-02 00:00 to 2026-03-02 23:59")))
      << run.source.toStdString();

  CalibrationJob fromFile;
  DataFileReadouts files({path("a.dat")});
  fromFile.Load(files);
  fromFile.SetDose(1000);
  EXPECT_EQ(run.rows[1].factor, fromFile.Run().rows[0].factor);

  ASSERT_EQ(notes(job.KeepRun()), QStringList{"Kept in the dose archive as calibration run 1"});
  CalibrationRecord stored;
  ASSERT_EQ(archive()->calibration(1, &stored), kOk);
  EXPECT_EQ(stored.factors[1].readoutId, 1) << "a factor knows the archived read-out it came from";
  // The dosimeter's factor history names it, beside the read-outs made since.
  std::vector<FactorHistoryEntry> history;
  ASSERT_EQ(archive()->factorHistory(QStringLiteral("A0001"), &history), kOk);
  std::vector<std::string> kindRunReadout;
  for (const FactorHistoryEntry& e : history)
    kindRunReadout.push_back(FactorHistoryRow(e, true).section(',', 1, 3).toStdString());
  EXPECT_EQ(kindRunReadout, (std::vector<std::string>{"read-out,,1", "calibration,1,1", "read-out,,2"}));

  ArchiveReadouts missing(location, {"A0001", "A0005", "A0006"}, from, to);
  const CalibrationOutcome o = job.Load(missing);
  EXPECT_EQ(o.kind, CalibrationOutcome::kRefused);
  EXPECT_TRUE(notes(o).value(0).startsWith(QStringLiteral("No read-out of A0005, A0006 in dose archive")))
      << notes(o).value(0).toStdString();
  EXPECT_EQ(job.Run().rows.size(), 4u) << "the run stays as it was";
}

// A span of more read-outs than a run takes is refused with their count
// before any is read. The archived rows are no records (a fetch that reads
// one fails the load), so a refusal shows that the archive only counted:
// up to the limit the rows are read, beyond it none.
TEST_F(CalibrationArchiveTest, ASpanOfTooManyReadoutsIsRefusedBeforeAnyIsRead) {
  ASSERT_TRUE(archive());
  const struct {
    int added;
    CalibrationOutcome::Kind kind;
    QString note;
  } cases[] = {
      {kMaxCalibrationReadouts, CalibrationOutcome::kFailed, QStringLiteral("code %1").arg(kErrArchiveQuery)},
      {1, CalibrationOutcome::kRefused,
       QStringLiteral(
           "dose archive archive.sqlite: A0001 read 2026-03-02 00:00 to 2026-03-02 23:59 hold "
           "%1 read-outs; a calibration run takes at most %2. Choose fewer dosimeters or a shorter "
           "span.")
           .arg(kMaxCalibrationReadouts + 1)
           .arg(kMaxCalibrationReadouts)},
  };
  DataFileReadouts files({path("a.dat")});
  ASSERT_EQ(job.Load(files).kind, CalibrationOutcome::kDone);
  int archived = 0;
  for (const auto& c : cases) {
    ASSERT_TRUE(db.rawReadouts("A0001", "2026-03-02 10:00", archived, c.added));
    archived += c.added;
    const CalibrationOutcome o = job.LoadFromArchive(QStringLiteral("A0001"), QStringLiteral("2026-03-02"),
                                                     QStringLiteral("2026-03-02"));
    EXPECT_EQ(o.kind, c.kind) << archived;
    EXPECT_EQ(notes(o).value(0).toStdString(), c.note.toStdString()) << archived;
    EXPECT_EQ(job.Run().rows.size(), blocks.size()) << "the run stays as it was";
  }
}

}  // namespace
