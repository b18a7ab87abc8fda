// The calibration job: read-outs from data files to factors, the outlier
// rule, the batch table, the default tables and the look-up entries over the
// simulated reader.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "ArchiveDb.h"
#include "CalibrationBatch.h"
#include "Golden.h"
#include "ParamReaderRig.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "TimeZoneGuard.h"
#include "WriteLimit.h"
#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/ServiceLevel.h"
#include "base/UserLocale.h"
#include "calibration/CalibrationJob.h"
#include "calibration/ReadoutSource.h"
#include "parameters/BulbParamBlock.h"

using namespace quelm;
using namespace quelm::test;

namespace {

double netDose(const BlockRecord& r) { return EvaluateDose(r, r.EVASTART, r.EVALEN, 1).tCorrDose; }

// --- The outlier rule ----------------------------------------------------------------

TEST(CalibrationOutliers, EachFactorIsHeldAgainstTheOthers) {
  struct Case {
    const char* name;
    std::vector<double> factors;
    double limit;
    std::vector<size_t> outliers;
  };
  const std::vector<double> tight = {100, 101, 99, 100.5, 99.5, 100.2, 99.8, 100.1, 99.9, 130};
  const Case cases[] = {
      // With the far one in the spread it would lie under 3 SD: n = 10 allows at most 2.85.
      {"one far off a tight batch", tight, 3, {9}},
      {"the same with a limit it stays within", tight, 100, {}},
      {"an even spread has none", {95, 105, 98, 102, 100, 97, 103, 99, 101}, 3, {}},
      {"two are too few to judge", {100, 200}, 3, {}},
      {"against identical others any difference is one", {5, 5, 5, 6}, 3, {3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::optional<double>> d = OutlierDeviations(c.factors);
    std::vector<size_t> beyond;
    for (size_t i = 0; i < d.size(); ++i)
      if (d[i] && *d[i] > c.limit) beyond.push_back(i);
    EXPECT_EQ(beyond, c.outliers);
    // The deviations as the rule states them, one factor left out at a time.
    for (size_t i = 0; c.factors.size() >= 3 && i < c.factors.size(); ++i) {
      double mean = 0, squares = 0;
      const double others = static_cast<double>(c.factors.size() - 1);
      for (size_t k = 0; k < c.factors.size(); ++k)
        if (k != i) mean += c.factors[k] / others;
      for (size_t k = 0; k < c.factors.size(); ++k)
        if (k != i) squares += (c.factors[k] - mean) * (c.factors[k] - mean);
      const double sd = std::sqrt(squares / (others - 1));
      if (sd > 0) {
        EXPECT_NEAR(*d[i], std::fabs(c.factors[i] - mean) / sd, 1e-9) << i;
      }
    }
  }
}

// A deviation shown beyond the limit reads above it: a certificate that says
// "3.0 SD" beyond 3 would look within it. What already read above it stays.
TEST(CalibrationOutliers, ADeviationBeyondTheLimitNeverReadsAsWithinIt) {
  const struct {
    double deviation, limit;
    char separator;
    const char* shown;
  } cases[] = {
      {4.2, 3, '.', "4.2"},
      {3.06, 3, '.', "3.1"},
      {2.96, 2.95, '.', "3.0"},
      {3.008, 3, '.', "3.01"},
      {3.008, 3, ',', "3,01"},
      {2.53, 2.5, '.', "2.53"},
      {2.645, 2.64, '.', "2.65"},
      {30.00049, 30, '.', "30.0005"},
      {std::nextafter(3.0, 4.0), 3, '.', "3.0000000000000004"},
      {std::numeric_limits<double>::infinity(), 3, '.', "INF"},
  };
  const UserLocale saved = userLocale();
  for (const auto& c : cases) {
    UserLocale locale = saved;
    locale.decimalSeparator = QLatin1Char(c.separator);
    setUserLocale(locale);
    CalibrationRow row;
    row.factor = 1;
    row.deviation = c.deviation;
    row.beyondLimit = true;
    EXPECT_EQ(RowStatusText(row, c.limit).toStdString(),
              "outlier (" + std::string(c.shown) + " SD), left out")
        << c.deviation << " beyond " << c.limit;
  }
  setUserLocale(saved);
}

// A reader's clock has no zone: a read-out in the hour a local clock skips
// in spring keeps its time, and the first read-out stays the one used.
TEST(CalibrationRows, ReaderTimesAreNoLocalTimes) {
  TimeZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  BlockRecord first = CalibrationBlock(101, 1.0), later = CalibrationBlock(101, 0.5);
  const uint8_t firstTime[5] = {126, 3, 28, 10, 0}, laterTime[5] = {126, 3, 29, 2, 30};
  std::memcpy(first.DateTime, firstTime, 5);
  std::memcpy(later.DateTime, laterTime, 5);
  const std::vector<CalibrationRow> rows =
      MakeCalibrationRows({{later, QStringLiteral("b")}, {first, QStringLiteral("a")}});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(std::make_pair(rows[0].refusal, rows[1].refusal),
            std::make_pair(RowRefusal::ReadAgain, RowRefusal::None));
  ASSERT_TRUE(rows[0].readoutTime);
  EXPECT_EQ(rows[0].readoutTime->toString(QStringLiteral("yyyy-MM-dd HH:mm")),
            QStringLiteral("2026-03-29 02:30"));
}

// Refusals of a large batch come as a list that scrolls, a few as a box.
TEST(CalibrationOutcomeShown, ManyLinesAreAListAndAFewABox) {
  ScriptedPrompter prompter;
  for (const int entries : {kMaxBoxLines, kMaxBoxLines + 1}) {
    prompter.clear();
    CalibrationOutcome o;
    for (int i = 0; i < entries; ++i)
      o.failWith(CalibText::TableDiffers, {QStringLiteral("A%1").arg(i, 4, 10, QLatin1Char('0')), "EVALEN"});
    std::vector<ListNotice> lists;
    ShowCalibrationOutcome(o, [&](const ListNotice& n) { lists.push_back(n); });
    const bool listed = entries > kMaxBoxLines;
    ASSERT_EQ(lists.size(), listed ? 1u : 0u) << entries;
    EXPECT_EQ(prompter.messages.size(), listed ? 0u : 1u) << entries;
    if (listed) {
      EXPECT_EQ(lists[0].rows.size(), static_cast<size_t>(entries));
    }
  }
}

// --- The job over data files -----------------------------------------------------------

class CalibrationJobTest : public ::testing::Test {
 protected:
  CalibrationJobTest() {
    job.whoIsCalibrating = [] { return QStringLiteral("tester"); };
    job.now = [] { return QDateTime(QDate(2026, 3, 5), QTime(14, 3)); };
  }
  QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
  // The standard batch: eight alike, one 30 % more sensitive, one flagged;
  // then A0003 read a second time and a reference dosimeter, in a second file.
  void loadBatch() {
    blocks = CalibrationBlocks({1.00, 1.01, 0.99, 1.005, 0.995, 1.002, 0.998, 1.004, 1.30, 1.0});
    blocks[9].ErrorCodes = 0x04;
    BlockRecord again = CalibrationBlock(3, 0.2);
    again.DateTime[3] = 11;
    BlockRecord reference = CalibrationBlock(70, 1.0);
    std::memcpy(reference.BulbID, "SENS1", 5);
    WriteBlocks(dir, "a.dat", blocks);
    WriteBlocks(dir, "b.dat", {again, reference});
    DataFileReadouts source({path("a.dat"), path("b.dat")});
    ASSERT_EQ(job.Load(source).kind, CalibrationOutcome::kDone);
  }
  QStringList csvLines() const {
    return QString::fromUtf8(CalibrationCsv(job.Run())).split(QStringLiteral("\r\n"));
  }

  QTemporaryDir dir;
  CalibrationJob job;
  std::vector<BlockRecord> blocks;
};

TEST_F(CalibrationJobTest, FactorsRatiosOutliersAndTheBatchTable) {
  loadBatch();
  EXPECT_FALSE(job.Controls().writeReports) << "no dose yet";
  ASSERT_EQ(job.SetDose(1000).kind, CalibrationOutcome::kDone);
  const CalibrationRun& run = job.Run();
  ASSERT_EQ(run.rows.size(), 12u);
  EXPECT_EQ(run.source, "data files a.dat, b.dat");
  EXPECT_EQ(run.user, "tester");

  const QStringList status = {"used",
                              "used",
                              "used",
                              "used",
                              "used",
                              "used",
                              "used",
                              "used",
                              "outlier",
                              "outlier (flagged EBHE), left out",
                              "refused: read before in this run (a.dat, block 103)",
                              "refused: not a type letter"};
  for (size_t i = 0; i < run.rows.size(); ++i)
    EXPECT_TRUE(RowStatusText(run.rows[i], run.outlierSd).startsWith(status[static_cast<qsizetype>(i)]))
        << i << ": " << RowStatusText(run.rows[i], run.outlierSd).toStdString();
  EXPECT_TRUE(run.rows[8].beyondLimit);

  // Each factor gives the dose back through the chain, and with one dose
  // the factors go as the net signals (the linear piece: 1000 < DLFN).
  double sum = 0;
  for (size_t i = 0; i < 10; ++i) {
    const CalibrationRow& row = run.rows[i];
    ASSERT_TRUE(row.factor);
    EXPECT_NEAR(EvaluateDose(row.readout.record, 20, 40, *row.factor).measDose, 1000, 1e-6 * 1000);
    // Each factor is the single a table holds: the ratios within two roundings.
    EXPECT_EQ(*row.factor, static_cast<double>(static_cast<float>(*row.factor)));
    EXPECT_NEAR(*row.factor / *run.rows[0].factor, netDose(blocks[i]) / netDose(blocks[0]), 2.5e-7);
    if (i < 8) sum += *row.factor;
  }
  ASSERT_EQ(run.batches.size(), 1u);
  const BatchFigures& b = run.batches[0];
  EXPECT_EQ(b.type, QLatin1Char('A'));
  EXPECT_EQ(b.factors, 10);
  EXPECT_EQ(b.used, 8);
  EXPECT_NEAR(*b.mean, sum / 8, 1e-9 * sum);
  EXPECT_NEAR(*b.cv, *b.sd / *b.mean, 1e-12);
  EXPECT_LT(*b.cv, 0.01);
  EXPECT_NEAR(*run.rows[8].ratio, *run.rows[8].factor / *b.mean, 1e-12);

  QStringList lines = csvLines();
  EXPECT_EQ(lines[0], "dosimeter,readout_time,dose_chain_usv,factor,ratio_to_mean,outlier");
  EXPECT_TRUE(lines[1].startsWith("A0001,2026-03-02T09:01,")) << lines[1].toStdString();
  EXPECT_TRUE(lines[9].endsWith(",yes")) << "beyond the limit";
  EXPECT_TRUE(lines[10].endsWith(",yes")) << "flagged";
  EXPECT_TRUE(lines[11].endsWith(",,,"))
      << "no factor, no ratio, no outlier mark: " << lines[11].toStdString();
  EXPECT_EQ(lines[1].split(',')[3].toFloat(), static_cast<float>(*run.rows[0].factor))
      << "the single a table holds";

  // Keeping the far one puts it into the mean; a read-out that is no
  // outlier cannot be kept or dropped.
  const double mean = *b.mean;
  job.SetKept(8, true);
  EXPECT_EQ(job.Run().batches[0].used, 9);
  EXPECT_GT(*job.Run().batches[0].mean, mean);
  EXPECT_TRUE(csvLines()[9].endsWith(",kept"));
  job.SetKept(0, false);
  EXPECT_TRUE(job.Run().rows[0].used());
  // A limit it stays within: no longer an outlier, and nothing kept.
  ASSERT_EQ(job.SetOutlierSd(1000).kind, CalibrationOutcome::kDone);
  EXPECT_FALSE(job.Run().rows[8].outlier());
  EXPECT_FALSE(job.Run().rows[8].kept);
  EXPECT_EQ(job.Run().batches[0].used, 9) << "the flagged one stays out";
}

TEST_F(CalibrationJobTest, DosesPerDosimeterFromAFile) {
  struct Case {
    const char* text;
    const char* error;  // empty: read
  };
  const Case cases[] = {
      {"dosimeter,dose_usv\r\nA0001,1000\r\n\r\nA0002,\"1500.5\"\r\n", ""},
      {"A0001, 1e3\n", ""},
      {"A0001,1000,3\n", "line 1: two fields are needed, dosimeter and dose in uSv, not 3"},
      {"A0001,1000\nA001,5\n", "line 2: \"A001\" is no dosimeter (a type letter A..Z and four digits)"},
      {"A0001,1000\nA0001,5\n", "line 2: A0001 is given twice"},
      {"A0001,0\n", "line 1: \"0\" is no dose in uSv above 0"},
      {"A0001,\"1000\n", "line 1: a quote is not closed"},
      {"A0001;1000\n", "line 1: two fields are needed, dosimeter and dose in uSv, not 1"},
      {"dosimeter,dose_usv\n", "no dosimeter and dose in it"},
      {" DOSIMETER , Dose_USV \nA0001,1000\n", ""},
      // A header of another unit: its doses would read as uSv.
      {"Dosimeter,Dose (mSv)\nA0001,1\n",
       "line 1: the second column is \"Dose (mSv)\", not dose_usv: a dose file's header is "
       "\"dosimeter,dose_usv\", its doses in uSv"},
      {"\r\ndosimeter,dose\nA0001,1000\n",
       "line 2: the second column is \"dose\", not dose_usv: a dose file's "
       "header is \"dosimeter,dose_usv\", its doses in uSv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::map<QString, double> doses;
    EXPECT_EQ(ParseDoseCsv(c.text, &doses), QString::fromLatin1(c.error));
    if (!*c.error) {
      EXPECT_EQ(doses.at(QStringLiteral("A0001")), 1000);
    }
  }

  loadBatch();
  WriteFile(path("doses.csv"), "dosimeter,dose_usv\nA0001,800\nA0002,1200\n");
  ASSERT_EQ(job.LoadDoseFile(path("doses.csv")).kind, CalibrationOutcome::kDone);
  const CalibrationRun& run = job.Run();
  EXPECT_EQ(run.dose.file, "doses.csv");
  EXPECT_NEAR(EvaluateDose(run.rows[1].readout.record, 20, 40, *run.rows[1].factor).measDose, 1200,
              1e-6 * 1200);
  EXPECT_NEAR(*run.rows[1].factor / *run.rows[0].factor,
              netDose(blocks[1]) / 1200 / (netDose(blocks[0]) / 800), 2.5e-7);
  EXPECT_EQ(RowStatusText(run.rows[2], run.outlierSd).toStdString(), "refused: no delivered dose");
  // No output over what the run read, nor over another of its outputs.
  ASSERT_EQ(job.WriteCsv(path("run.csv")).kind, CalibrationOutcome::kDone);
  for (const char* target : {"doses.csv", "a.dat", "run.csv"}) {
    const QByteArray before = ReadFile(path(target));
    const CalibrationOutcome refused =
        target == std::string("run.csv") ? job.WriteDpt(path(target)) : job.WriteCsv(path(target));
    EXPECT_EQ(refused.kind, CalibrationOutcome::kFailed) << target;
    EXPECT_EQ(ReadFile(path(target)), before) << target;
  }
  // A table that does not fit leaves the earlier one whole.
  WriteFile(path("earlier.csv"), "earlier table\n");
  {
    quelm::test::WriteLimit limit(20);
    EXPECT_EQ(job.WriteCsv(path("earlier.csv")).kind, CalibrationOutcome::kFailed);
  }
  EXPECT_EQ(ReadFile(path("earlier.csv")), "earlier table\n");

  WriteFile(path("bad.csv"), "A0001,800\nA0002,-1\n");
  const CalibrationOutcome o = job.LoadDoseFile(path("bad.csv"));
  EXPECT_EQ(o.kind, CalibrationOutcome::kRefused);
  EXPECT_EQ(calibText(o.reports[0].text, o.reports[0].args),
            path("bad.csv") + ": line 2: \"-1\" is no dose in uSv above 0");
  EXPECT_EQ(job.Run().dose.file, "doses.csv") << "a refused file changes nothing";
}

TEST_F(CalibrationJobTest, InputThatCannotBeUsedIsRefusedAndChangesNothing) {
  const auto told = [](const CalibrationOutcome& o) {
    return o.reports.empty() ? QString() : calibText(o.reports[0].text, o.reports[0].args);
  };
  EXPECT_EQ(told(job.WriteCsv(path("x.csv"))), calibText(CalibText::NotReady));
  EXPECT_FALSE(QFile::exists(path("x.csv")));
  EXPECT_EQ(told(job.SetDoseText("abc")), "\"abc\" is no dose in uSv above 0");
  EXPECT_EQ(told(job.SetDoseText("0")), "\"0\" is no dose in uSv above 0");
  EXPECT_EQ(job.SetOutlierSd(0).kind, CalibrationOutcome::kRefused);
  EXPECT_EQ(job.SetOutlierSd(std::nan("")).kind, CalibrationOutcome::kRefused);
  EXPECT_EQ(job.Run().outlierSd, 3);
  EXPECT_FALSE(job.Run().dose.given());

  DataFileReadouts missing({path("none.dat")});
  CalibrationOutcome o = job.Load(missing);
  ASSERT_EQ(o.kind, CalibrationOutcome::kFailed);
  EXPECT_EQ(o.reports[0].code, kErrFileOpen);
  EXPECT_EQ(o.reports[0].context, path("none.dat"));
  WriteFile(path("cut.dat"), QByteArray(512 + 100, '\0'));
  DataFileReadouts cut({path("cut.dat")});
  o = job.Load(cut);
  ASSERT_EQ(o.kind, CalibrationOutcome::kFailed);
  EXPECT_EQ(o.reports[0].code, kErrFileRead);
  EXPECT_EQ(takeFileFailure().reason, "the last 100 bytes are no whole record");
  WriteFile(path("empty.dat"), QByteArray());
  DataFileReadouts empty({path("empty.dat")});
  EXPECT_EQ(told(job.Load(empty)), "data files empty.dat hold no read-outs");
  EXPECT_TRUE(job.Run().rows.empty());
}

TEST_F(CalibrationJobTest, DefaultTablesPerTypeKeepWhatTheFileHeld) {
  loadBatch();
  job.SetDose(1000);
  const float mean = static_cast<float>(*job.Run().batches[0].mean);
  const auto value = [this](const char* file, const char* key) {
    return IniFile(path(file)).ReadString(kDefaultKeySection, QLatin1String(key), QStringLiteral("<none>"));
  };
  const auto storedFactor = [this](const char* file) {
    TBulbParamBlock t;
    t.ReadFileBlock(path(file));
    return float{t.Record.EVANORM};
  };

  // A new file: what the read-outs carry, the rest the file's defaults.
  CalibrationOutcome o = job.WriteDpt(path("new.dpt"));
  EXPECT_EQ(o.kind, CalibrationOutcome::kDone);
  EXPECT_EQ(o.reports[0].text, CalibText::DptFromReadouts);
  EXPECT_EQ(storedFactor("new.dpt"), mean);
  EXPECT_EQ(value("new.dpt", "EVALEN"), "40");
  EXPECT_EQ(value("new.dpt", "DLFN"), "5000");
  EXPECT_EQ(value("new.dpt", "HEATC"), "0");
  EXPECT_EQ(job.Run().dptFiles, QStringList{path("new.dpt")});

  // A file holding the type's table: only EVANORM changes.
  TBulbParamBlock reader;
  reader.Record = sim::ParameterState::MakeTable('A');
  ASSERT_EQ(reader.WriteFileBlock(path("a.dpt")), 0);
  IniFile extra(path("a.dpt"));
  extra.WriteString(QStringLiteral("Mine"), QStringLiteral("Kept"), QStringLiteral("yes"));
  ASSERT_TRUE(extra.UpdateFile());
  o = job.WriteDpt(path("a.dpt"));
  EXPECT_EQ(o.kind, CalibrationOutcome::kDone);
  ASSERT_EQ(o.reports.size(), 1u);
  EXPECT_EQ(calibText(o.reports[0].text, o.reports[0].args),
            QStringLiteral("%1: default table of type A with the batch mean %2 as EVANORM")
                .arg(path("a.dpt"), FactorText(mean)));
  EXPECT_EQ(storedFactor("a.dpt"), mean);
  EXPECT_EQ(value("a.dpt", "HEATC"), "3000");
  EXPECT_EQ(IniFile(path("a.dpt")).ReadString("Mine", "Kept", ""), "yes");

  // Another type's table, or one that evaluates otherwise: nothing written.
  struct Refusal {
    char type;
    uint8_t evalen;
    CalibText text;
  };
  for (const Refusal& r :
       {Refusal{'B', 40, CalibText::DptOtherType}, Refusal{'A', 45, CalibText::TableDiffers}}) {
    reader.Record = sim::ParameterState::MakeTable(r.type);
    reader.Record.EVALEN = r.evalen;
    ASSERT_EQ(reader.WriteFileBlock(path("other.dpt")), 0);
    o = job.WriteDpt(path("other.dpt"));
    EXPECT_EQ(o.kind, CalibrationOutcome::kFailed);
    EXPECT_EQ(o.reports[0].text, r.text);
    EXPECT_EQ(storedFactor("other.dpt"), reader.Record.EVANORM);
  }
}

TEST_F(CalibrationJobTest, OneDefaultTableForEachTypeAndNoneForMixedTables) {
  std::vector<BlockRecord> batch = CalibrationBlocks({1.0, 1.01, 0.99});
  for (const double s : {1.0, 1.02, 0.98}) {
    BlockRecord b = CalibrationBlock(static_cast<int>(batch.size()) + 1, s);
    b.BulbID[0] = 'B';
    batch.push_back(b);
  }
  WriteBlocks(dir, "ab.dat", batch);
  DataFileReadouts source({path("ab.dat")});
  job.Load(source);
  job.SetDose(500);
  ASSERT_EQ(job.Run().batches.size(), 2u);
  CalibrationOutcome o = job.WriteDpt(path("types.dpt"));
  EXPECT_EQ(o.kind, CalibrationOutcome::kDone);
  EXPECT_EQ(job.Run().dptFiles, (QStringList{path("types-A.dpt"), path("types-B.dpt")}));
  EXPECT_FALSE(QFile::exists(path("types.dpt")));

  batch[1].EVALEN = 41;
  WriteBlocks(dir, "ab.dat", batch);
  job.Load(source);
  o = job.WriteDpt(path("mixed.dpt"));
  EXPECT_EQ(o.kind, CalibrationOutcome::kFailed);
  EXPECT_EQ(o.reports[0].text, CalibText::DptMixedTables);
  EXPECT_EQ(job.Run().dptFiles, QStringList{path("mixed-B.dpt")});
}

// --- The look-up entries over the simulated reader ---------------------------------------

class CalibrationLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job = std::make_unique<CalibrationJob>();
    WriteBlocks(rig.dir, "batch.dat",
                {CalibrationBlock(1, 1.0), CalibrationBlock(2, 1.01), CalibrationBlock(5, 0.99)});
    DataFileReadouts source({rig.dir.filePath("batch.dat")});
    ASSERT_EQ(job->Load(source).kind, CalibrationOutcome::kDone);
    job->SetDose(1000);
    job->askLookupWrite = [this](int entries) {
      asked = entries;
      return choice;
    };
    rig.model.Requests.clear();
  }
  float factor(int row) const {
    return static_cast<float>(*job->Run().rows[static_cast<size_t>(row)].factor);
  }
  // The .Z payload that adds `entry`: ".Z", its 64 bytes, "#".
  static Bytes addCommand(const BulbParamRecord& entry) {
    Bytes b(sizeof entry + 3);
    b[0] = '.';
    b[1] = 'Z';
    std::memcpy(b.data() + 2, &entry, sizeof entry);
    b.back() = '#';
    return b;
  }
  // The job keeps its runs in `db`.
  void keepIn(ArchiveDb& db) {
    job->locateArchive = [&db](ArchiveLocation* l, QString* detail) {
      return ParseArchiveLocation(db.url, l, detail);
    };
  }
  // A case of a table on a fresh job, reader and archive.
  void freshCase(ArchiveDb& db) {
    SetUp();
    rig.model.Parameters() = sim::ParameterState();
    keepIn(db);
  }
  // The run the job kept, as the archive holds it now.
  CalibrationRecord keptRun(ArchiveDb& db) const {
    CalibrationRecord run;
    EXPECT_TRUE(job->KeptRun());
    if (job->KeptRun()) {
      EXPECT_EQ(db.open()->calibration(*job->KeptRun(), &run), kOk);
    }
    return run;
  }
  std::vector<Bytes> adds() const {
    std::vector<Bytes> v;
    for (const Bytes& c : rig.commands())
      if (c[1] == 'Z') v.push_back(c);
    return v;
  }

  DiagScope diag{kServiceLevelBits};  // the job takes it when it is made
  ScriptedPrompter prompter;
  ParamReaderRig rig;
  std::unique_ptr<CalibrationJob> job;
  LookupChoice choice = LookupChoice::Overwrite;
  int asked = 0;
};

TEST_F(CalibrationLookupTest, EachEntryIsTheReadersOwnWithTheNewFactorAndIsReadBack) {
  // From the first check to the last read-back no other program may get in.
  int unheld = 0;
  rig.model.OnRequest = [&](const Bytes&) { unheld += rig.link.LineHeld() ? 0 : 1; };
  const CalibrationOutcome o = job->WriteLookup();
  rig.model.OnRequest = nullptr;
  EXPECT_EQ(unheld, 0);
  EXPECT_FALSE(rig.link.LineHeld()) << "given back at the end";
  EXPECT_EQ(o.kind, CalibrationOutcome::kDone);
  EXPECT_EQ(asked, 3);
  // Two entries the reader holds (checked, replaced, read back), then a new
  // one from the type's default table.
  EXPECT_EQ(rig.letters(),
            "XXEZX"
            "XXEZX"
            "XMXZX");
  BulbParamRecord one = sim::ParameterState::MakeTable('A', "0001"),
                  five = sim::ParameterState::MakeTable('A', "0005");
  one.EVANORM = factor(0);
  five.EVANORM = factor(2);
  const std::vector<Bytes> z = adds();
  ASSERT_EQ(z.size(), 3u);
  EXPECT_EQ(z[0], addCommand(one));
  EXPECT_EQ(z[2], addCommand(five));
  EXPECT_EQ(float{rig.lookupEntry("A0002")->EVANORM}, factor(1));
  ASSERT_EQ(job->Run().lookup.size(), 3u);
  EXPECT_EQ(job->Run().lookup[2].dosimeter, "A0005");
  EXPECT_EQ(calibText(o.reports.back().text, o.reports.back().args),
            "Look-up entries: 3 written, 0 kept, 0 not written");
  EXPECT_TRUE(prompter.messages.empty());
  // Written again keeping what the reader holds: the run still wrote them.
  choice = LookupChoice::NewOnly;
  EXPECT_EQ(job->WriteLookup().kind, CalibrationOutcome::kDone);
  EXPECT_EQ(job->Run().lookup.size(), 3u);
}

// The reader's factors never change unrecorded: the run is in the archive
// before the first request goes out, and records what was written; an
// archive that cannot keep it leaves the reader untouched.
TEST_F(CalibrationLookupTest, TheRunIsKeptBeforeTheReaderIsWritten) {
  QTemporaryDir elsewhere;
  WriteFile(elsewhere.filePath("junk.sqlite"), "no database at all, but long enough to be looked at");
  ArchiveDb db{Backend::SQLite};
  for (const QString& url : {elsewhere.filePath("nowhere/a.sqlite"), elsewhere.filePath("junk.sqlite")}) {
    SCOPED_TRACE(url.toStdString());
    job->locateArchive = [url](ArchiveLocation* l, QString* detail) {
      return ParseArchiveLocation(url, l, detail);
    };
    rig.model.Requests.clear();
    const CalibrationOutcome o = job->WriteLookup();
    EXPECT_EQ(o.kind, CalibrationOutcome::kFailed);
    ASSERT_FALSE(o.reports.empty());
    EXPECT_NE(o.reports.front().code, 0);
    EXPECT_EQ(o.reports.back().text, CalibText::LookupNotKept);
    EXPECT_EQ(rig.letters(), "");
    EXPECT_TRUE(job->Run().lookup.empty());
    EXPECT_FALSE(job->Controls().abort);
  }

  keepIn(db);
  int runsAtFirstRequest = -1;
  job->onChanged = [&] {
    if (runsAtFirstRequest < 0 && job->Progress().current == "A0001") {
      EXPECT_EQ(rig.letters(), "") << "nothing asked of the reader yet";
      std::vector<CalibrationRecord> runs;
      ASSERT_EQ(db.open()->calibrations(&runs), kOk);
      runsAtFirstRequest = static_cast<int>(runs.size());
    }
  };
  rig.model.Requests.clear();
  const CalibrationOutcome o = job->WriteLookup();
  EXPECT_EQ(o.kind, CalibrationOutcome::kDone);
  EXPECT_EQ(runsAtFirstRequest, 1);
  ASSERT_TRUE(job->KeptRun());
  const CalibrationRecord stored = keptRun(db);
  EXPECT_EQ(stored.written, "3 look-up entries");
  ASSERT_EQ(stored.factors.size(), 3u);
  for (const CalibrationFactorRecord& f : stored.factors) EXPECT_TRUE(f.written) << f.dosimeter.toStdString();
}

// Each entry the reader took is in the archive before the next one goes out;
// an archive that cannot record one ends the write there, the reader one
// entry ahead at most.
TEST_F(CalibrationLookupTest, EachEntryIsRecordedBeforeTheNextGoesOut) {
  struct Case {
    const char* name;
    size_t failAt;  // the record of this entry fails (1-based); 0: none does
    CalibrationOutcome::Kind kind;
    const char* letters;
    std::vector<std::pair<int, std::string>> atStart;  // per entry: adds sent, entries recorded
    const char* recorded;                              // in the archive at the end
    const char* inRun;                                 // what the job knows went into the reader
  };
  const Case cases[] = {
      {"every record succeeds",
       0,
       CalibrationOutcome::kDone,
       "XXEZXXXEZXXMXZX",
       {{0, ""}, {1, "A0001"}, {2, "A0001 A0002"}},
       "A0001 A0002 A0005",
       "A0001 A0002 A0005"},
      {"the first record fails", 1, CalibrationOutcome::kFailed, "XXEZX", {{0, ""}}, "", "A0001"},
      {"the second record fails",
       2,
       CalibrationOutcome::kFailed,
       "XXEZXXXEZX",
       {{0, ""}, {1, "A0001"}},
       "A0001",
       "A0001 A0002"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveDb db{Backend::SQLite};
    freshCase(db);
    const auto recorded = [&] {
      QStringList ids;
      for (const CalibrationFactorRecord& f : keptRun(db).factors)
        if (f.written) ids << f.dosimeter;
      return ids.join(' ').toStdString();
    };
    std::vector<std::pair<int, std::string>> atStart;
    QString current;
    job->onChanged = [&] {
      if (job->Progress().current.isEmpty() || job->Progress().current == current) return;
      current = job->Progress().current;
      atStart.emplace_back(static_cast<int>(adds().size()), recorded());
      if (atStart.size() == c.failAt)
        db.raw(
            QStringLiteral("CREATE TRIGGER archive_full BEFORE UPDATE ON calibration_runs"
                           " BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"));
    };
    rig.model.Requests.clear();
    const CalibrationOutcome o = job->WriteLookup();
    job->onChanged = nullptr;
    EXPECT_EQ(o.kind, c.kind);
    EXPECT_EQ(rig.letters(), c.letters);
    EXPECT_EQ(atStart, c.atStart);
    EXPECT_EQ(recorded(), c.recorded);
    QStringList inRun;
    for (const LookupWritten& w : job->Run().lookup) inRun << w.dosimeter;
    EXPECT_EQ(inRun.join(' ').toStdString(), c.inRun);
    // The run's update is told once, not once per entry.
    const auto told = [&o](CalibText text) {
      return std::count_if(o.reports.begin(), o.reports.end(),
                           [text](const CalibReport& r) { return r.text == text; });
    };
    EXPECT_EQ(told(CalibText::RunUpdated), *c.recorded ? 1 : 0);
    EXPECT_EQ(told(CalibText::LookupNotRecorded), c.failAt ? 1 : 0);
    const auto why = std::find_if(o.reports.begin(), o.reports.end(), [](const CalibReport& r) {
      return r.text == CalibText::LookupNotRecorded;
    });
    if (why != o.reports.end()) {
      EXPECT_EQ(why->args, QStringList{inRun.back()});
      EXPECT_NE((why - 1)->code, 0) << "the archive's own failure is told first";
    }
  }
}

TEST_F(CalibrationLookupTest, ChoicesRefusalsAndFailuresEndTheWriteAsTheySay) {
  struct Case {
    const char* name;
    LookupChoice choice;
    std::function<void(ParamReaderRig&, CalibrationJob&)> prepare;
    CalibrationOutcome::Kind kind;
    const char* letters;
    const char* written;  // the entries the run records
  };
  const Case cases[] = {
      {"cancelled", LookupChoice::Cancel, {}, CalibrationOutcome::kNothing, "", ""},
      {"new entries only",
       LookupChoice::NewOnly,
       {},
       CalibrationOutcome::kDone,
       "X"
       "X"
       "XMXZX",
       "A0005"},
      {"an entry that evaluates otherwise", LookupChoice::Overwrite,
       [](ParamReaderRig& rig, CalibrationJob&) {
         for (BulbParamRecord& r : rig.model.Parameters().LookupTable)
           if (std::memcmp(&r, "A0002", 5) == 0) r.EVALEN = 50;
       },
       CalibrationOutcome::kFailed,
       "XXEZX"
       "X"
       "XMXZX",
       "A0001 A0005"},
      {"a reader that stops answering", LookupChoice::Overwrite,
       [](ParamReaderRig& rig, CalibrationJob&) {
         rig.model.Script = {0, 0, 0, 0, 0, sim::kFaultBusy, sim::kFaultBusy};
       },
       CalibrationOutcome::kFailed,
       "XXEZX"
       "XX",
       "A0001"},
      {"stopped after the first entry", LookupChoice::Overwrite,
       [](ParamReaderRig&, CalibrationJob& job) {
         job.onChanged = [&job] {
           if (job.Progress().done == 1) job.RequestAbort();
         };
       },
       CalibrationOutcome::kStopped, "XXEZX", "A0001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    rig.model.Parameters() = sim::ParameterState();
    choice = c.choice;
    if (c.prepare) c.prepare(rig, *job);
    rig.model.Requests.clear();
    const CalibrationOutcome o = job->WriteLookup();
    EXPECT_EQ(o.kind, c.kind);
    EXPECT_EQ(rig.letters(), c.letters);
    QStringList written;
    for (const LookupWritten& w : job->Run().lookup) written << w.dosimeter;
    EXPECT_EQ(written.join(' '), c.written);
    EXPECT_FALSE(job->Controls().abort) << "the write has ended";
  }

  // Below the service level nothing is asked or sent.
  setServiceLevel(false);
  CalibrationJob plain;
  DataFileReadouts source({rig.dir.filePath("batch.dat")});
  plain.Load(source);
  plain.SetDose(1000);
  EXPECT_FALSE(plain.Controls().writeLookup);
  plain.askLookupWrite = [](int) -> LookupChoice {
    ADD_FAILURE() << "asked";
    return LookupChoice::Cancel;
  };
  rig.model.Requests.clear();
  EXPECT_EQ(plain.WriteLookup().kind, CalibrationOutcome::kNothing);
  EXPECT_TRUE(rig.commands().empty());
}

// When the write fails but the reader is known to hold something else than
// the run's factor (no entry after the delete, or another factor read back),
// the archive says so before the next entry goes out, and shows no factor
// written; when what the reader holds is not known, nothing new is recorded.
TEST_F(CalibrationLookupTest, WhatTheReaderIsKnownToHoldIsRecordedWhenTheWriteFails) {
  // The first entry's add and what follows it, as the reader answers them.
  enum Fault { AddRefused, OtherReadBack, Silent };
  struct Case {
    const char* name;
    Fault fault;
    const char* told;                // the text that says what failed
    const char* status;              // A0001's in the archive, once the write has left it
    const char* written;             // the run's written text in the archive
    std::vector<std::string> inRun;  // what the job knows the reader holds
  };
  const Case cases[] = {
      {"the add after the delete is refused",
       AddRefused,
       "The reader's entry A0001 was deleted, but the new one could not be written.",
       "used, look-up entry deleted, the type's default table in force",
       "A0001 look-up entry deleted, the type's default table in force",
       {"A0001 none"}},
      {"the read-back gives another factor",
       OtherReadBack,
       "A0001: the reader gave back the factor 2.5 instead of ",
       "used, look-up entry holds 2.5",
       "3 look-up entries; A0001 look-up entry holds 2.5",
       {"A0001 2.5", "A0002 written", "A0005 written"}},
      {"the reader falls silent after the add",
       Silent,
       "The reader's entry A0001 was deleted; whether the new entry was written is unknown.",
       "used",
       "",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveDb db{Backend::SQLite};
    freshCase(db);
    int adds = 0;
    rig.model.OnRequest = [&](const Bytes& frame) {
      if (frame.size() < 9 || !(frame[5] & 0x80)) return;
      const char letter = char(frame[7]);
      adds += letter == 'Z';
      if (adds == 0) return;
      if (c.fault == AddRefused && letter == 'Z' && adds <= 2) rig.model.Script.push_back(sim::kFaultRefuse);
      if (c.fault == Silent) rig.model.Script.push_back(sim::kFaultBusy);
      if (c.fault == OtherReadBack && letter == 'X' && adds == 1)
        for (BulbParamRecord& r : rig.model.Parameters().LookupTable)
          if (std::memcmp(&r, "A0001", 5) == 0) r.EVANORM = 2.5f;
    };
    // A0001 as recorded when the next entry goes out.
    std::string atNext;
    job->onChanged = [&] {
      if (atNext.empty() && job->Progress().current == "A0002") {
        const CalibrationRecord run = keptRun(db);
        atNext = run.factors.at(0).status.toStdString();
        EXPECT_FALSE(run.factors.at(0).written);
      }
    };
    const CalibrationOutcome o = job->WriteLookup();
    job->onChanged = nullptr;
    rig.model.OnRequest = nullptr;
    EXPECT_EQ(o.kind, CalibrationOutcome::kFailed);
    QStringList told;
    for (const CalibReport& r : o.reports) told << calibText(r.text, r.args);
    for (const auto& [id, entry] : o.entries)
      for (const ParamReport& r : entry.reports) told << paramText(r.text, r.arg);
    EXPECT_TRUE(told.join('\n').contains(QString::fromUtf8(c.told))) << told.join('\n').toStdString();

    std::vector<std::string> inRun;
    for (const LookupWritten& w : job->Run().lookup) {
      const auto row = std::find_if(job->Run().rows.begin(), job->Run().rows.end(),
                                    [&w](const CalibrationRow& r) { return r.dosimeter == w.dosimeter; });
      const QString held = !w.factor                                       ? QStringLiteral("none")
                           : *w.factor == static_cast<float>(*row->factor) ? QStringLiteral("written")
                                                                           : FactorText(*w.factor);
      inRun.push_back((w.dosimeter + ' ' + held).toStdString());
    }
    EXPECT_EQ(inRun, c.inRun);
    const CalibrationRecord run = keptRun(db);
    EXPECT_EQ(run.factors.at(0).status.toStdString(), c.status);
    EXPECT_FALSE(run.factors.at(0).written) << "no factor of the run is in force for A0001";
    EXPECT_EQ(run.written.toStdString(), c.written);
    if (c.fault == OtherReadBack) {
      EXPECT_EQ(atNext, c.status);
    }
    // The change log explains the status: from what the run stored to what
    // the reader holds, in the run's own row.
    std::vector<LogEntry> log;
    ASSERT_EQ(db.open()->changeLog({}, &log), kOk);
    const QRegularExpression quoted(QStringLiteral("A0001 \"[^\"]*\""));
    std::vector<std::string> restated;
    for (const LogEntry& e : log)
      if (e.what == QLatin1String("calibration run updated") && e.oldValue.contains(quoted))
        restated.push_back(
            (quoted.match(e.oldValue).captured() + " -> " + quoted.match(e.newValue).captured())
                .toStdString());
    const std::string expected = std::string("A0001 \"used\" -> A0001 \"") + c.status + '"';
    EXPECT_EQ(restated, c.fault == Silent ? std::vector<std::string>{} : std::vector<std::string>{expected});
    // The dosimeter's factor history reads it alike.
    std::vector<FactorHistoryEntry> history;
    ASSERT_EQ(db.open()->factorHistory(QStringLiteral("A0001"), &history), kOk);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].status.toStdString(), c.status);
    EXPECT_FALSE(history[0].written);
  }
}

}  // namespace
