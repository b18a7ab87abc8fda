// quelm-cli calibrate: its command line, the batch it prints and the files
// it writes, the look-up entries against the simulated reader, and the
// certificate from the real program.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include "ArchiveDb.h"
#include "CalibrationBatch.h"
#include "CliDriver.h"
#include "Golden.h"
#include "ParamReaderRig.h"
#include "PdfText.h"
#include "TestEnv.h"
#include "base/IniFile.h"
#include "calibration/Calibration.h"
#include "parameters/BulbParamBlock.h"

namespace {

using quelm::test::runCli;

class CliCalibrateTest : public ::testing::Test {
 protected:
  CliCalibrateTest() {
    // Nine alike and one 30 % more sensitive: A0010 is the outlier.
    quelm::test::WriteBlocks(
        rig.dir, "batch.dat",
        quelm::test::CalibrationBlocks({1.0, 1.01, 0.99, 1.0, 1.005, 0.995, 1.0, 1.002, 0.998, 1.3}));
  }
  QString path(const char* name) const { return rig.dir.filePath(QLatin1String(name)); }
  quelm::test::CliRun calibrate(const QStringList& words, bool withConfig = false) {
    return runCli(QStringList{"calibrate", path("batch.dat")} + words,
                  withConfig ? rig.configPath : QString());
  }
  quelm::test::ParamReaderRig rig{/*serviceLevel=*/true};
};

TEST_F(CliCalibrateTest, WrongCommandLinesExitTwoAndWriteNothing) {
  const struct {
    QStringList words;
    const char* message;
  } cases[] = {
      {{}, "one of --dose USV and --doses FILE.csv is needed"},
      {{"--dose", "1000", "--doses", "d.csv"}, "one of --dose USV and --doses FILE.csv is needed"},
      {{"--dose", "1,5"}, "--dose must be a number above 0 such as 1000 or 2.5, not \"1,5\""},
      {{"--dose", "1000", "--outlier-sd", "0"}, "--outlier-sd must be a number above 0"},
      {{"--dose", "1000", "--write-lut"}, "--write-lut and --port go together"},
      {{"--dose", "1000", "--port", "COM1"}, "--write-lut and --port go together"},
      {{"--dose", "1000", "--overwrite"}, "--overwrite and --baud go with --write-lut"},
      {{"--dose", "1000", "--csv", path("x.csv"), "--colour"}, "unknown option --colour"},
      {{"--dose", "1000", "--keep", "A0001", "--csv", path("x.csv")}, "--keep A0001: no outlier of this run"},
  };
  for (const auto& c : cases) {
    const auto r = calibrate(c.words);
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String(c.message))) << r.err.toStdString();
  }
  EXPECT_EQ(runCli({"calibrate", "--dose", "5"}).code, 2) << "no data file";
  EXPECT_FALSE(QFile::exists(path("x.csv")));
}

TEST_F(CliCalibrateTest, PrintsTheBatchAndWritesTheTableAndTheDefaultTable) {
  quelm::test::WriteFile(path("doses.csv"), "dosimeter,dose_usv\n");
  auto r = calibrate({"--doses", path("doses.csv")});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("line") || r.err.contains("no dosimeter and dose in it")) << r.err.toStdString();
  // Doses in mSv under their own header are not taken for uSv.
  quelm::test::WriteFile(path("msv.csv"), "Dosimeter,Dose (mSv)\nA0001,1\nA0002,1\n");
  r = calibrate({"--doses", path("msv.csv"), "--csv", path("msv-out.csv")});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(path("msv.csv") +
                             ": line 1: the second column is \"Dose (mSv)\", not dose_usv: a "
                             "dose file's header is \"dosimeter,dose_usv\""))
      << r.err.toStdString();
  EXPECT_FALSE(QFile::exists(path("msv-out.csv")));

  r = calibrate(
      {"--dose", "1000", "--note", "Cs-137, 2026-03-01", "--csv", path("b.csv"), "--dpt", path("a.dpt")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QStringList out = r.out.split('\n');
  EXPECT_EQ(out[0], "dosimeter\treadout_time\tdose_chain_usv\tfactor\tratio_to_mean\tstatus");
  EXPECT_TRUE(out[1].startsWith("A0001\t2026-03-02 09:01\t")) << out[1].toStdString();
  EXPECT_TRUE(out[10].startsWith("A0010\t") && out[10].contains("\toutlier (") &&
              out[10].endsWith("SD), left out"))
      << out[10].toStdString();
  EXPECT_TRUE(out[11].startsWith("Type A: 10 factors, 9 in the mean; mean ")) << out[11].toStdString();
  EXPECT_TRUE(r.out.contains("Batch table written to " + path("b.csv")));
  EXPECT_TRUE(r.err.contains("note: " + path("a.dpt") + " held no table of type A")) << r.err.toStdString();
  const QByteArray csv = quelm::test::ReadFile(path("b.csv"));
  EXPECT_TRUE(csv.startsWith("dosimeter,readout_time,dose_chain_usv,factor,ratio_to_mean,outlier\r\nA0001,"));
  EXPECT_EQ(csv.count("\r\n"), 11);
  EXPECT_TRUE(csv.contains(",yes\r\n"));
  EXPECT_EQ(quelm::IniFile(path("a.dpt")).ReadString(quelm::kDefaultKeySection, "EVALEN", ""), "40");

  // Kept, the outlier counts.
  r = calibrate({"--dose", "1000", "--keep", "A0010", "--csv", path("k.csv")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Type A: 10 factors, 10 in the mean")) << r.out.toStdString();
  EXPECT_TRUE(quelm::test::ReadFile(path("k.csv")).contains(",kept\r\n"));

  // No read-out gets a factor: nothing calibrated, a failure.
  r = calibrate({"--dose", "1e-9"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("no read-out got a factor")) << r.err.toStdString();
}

TEST_F(CliCalibrateTest, LookUpEntriesNeedTheServiceLevelAndOverwriteReplacesHeldOnes) {
  const QStringList lut = {"--dose", "1000", "--write-lut", "--port", "COM1"};
  quelm::IniFile ini(rig.configPath);
  ini.WriteString(QStringLiteral("Safety restrictions"), QStringLiteral("Professional"), QStringLiteral("0"));
  ASSERT_TRUE(ini.UpdateFile());
  auto r = calibrate(lut, true);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("service level")) << r.err.toStdString();
  EXPECT_TRUE(rig.commands().empty());

  ini.WriteInteger(QStringLiteral("Safety restrictions"), QStringLiteral("Professional"),
                   quelm::kServiceLevelKey);
  ASSERT_TRUE(ini.UpdateFile());
  // An archive that cannot keep the run: the reader is not asked for anything.
  quelm::test::WriteFile(path("junk.sqlite"), "no database at all, but long enough to be looked at");
  r = calibrate(lut + QStringList{"--overwrite", "--db", path("junk.sqlite")}, true);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("(-301)") &&
              r.err.contains("No look-up entry written: the run could not be kept"))
      << r.err.toStdString();
  EXPECT_TRUE(rig.commands().empty()) << rig.letters();
  // The reader holds A0001 and A0002: without --overwrite they stay, and
  // the command says how to replace them.
  r = calibrate(lut, true);
  EXPECT_EQ(r.code, 2) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("the reader holds entries for A0001, A0002; --overwrite replaces them"))
      << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Look-up entries: 7 written, 2 kept, 0 not written")) << r.out.toStdString();
  EXPECT_EQ(float{rig.lookupEntry("A0001")->EVANORM}, 1.0f);
  ASSERT_NE(rig.lookupEntry("A0003"), nullptr);

  r = calibrate(lut + QStringList{"--overwrite"}, true);
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Look-up entries: 9 written, 0 kept, 0 not written")) << r.out.toStdString();
  EXPECT_NE(float{rig.lookupEntry("A0001")->EVANORM}, 1.0f);
  EXPECT_EQ(rig.lookupEntry("A0010"), nullptr) << "the outlier is left out";
}

// The real program: it makes its GUI application for the certificate, on
// the offscreen platform, whatever display there is or is not.
TEST_F(CliCalibrateTest, TheProgramWritesTheCertificate) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("QT_QPA_PLATFORM"));
  env.remove(QStringLiteral("DISPLAY"));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(QUELM_CLI), {"calibrate", path("batch.dat"), "--dose", "1000", "--note",
                                      "Cs-137 source 12", "--pdf", path("c.pdf")});
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  EXPECT_EQ(quelm::test::PdfPages(path("c.pdf")), 1);
  EXPECT_TRUE(quelm::test::PdfText(path("c.pdf")).contains("Cs-137 source 12"));
  // In process there is no GUI application: the certificate says so and fails.
  const auto r = calibrate({"--dose", "1000", "--pdf", path("x.pdf")});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("graphics")) << r.err.toStdString();
}

// The same batch from the dose archive: the same factors as from its file,
// and every run kept, on SQLite and on a PostgreSQL server.
class CliCalibrateArchiveTest : public CliCalibrateTest,
                                public ::testing::WithParamInterface<quelm::test::Backend> {
 protected:
  quelm::test::ArchiveDb db{GetParam()};
};

TEST_P(CliCalibrateArchiveTest, TheArchiveGivesTheRunTheFileGivesAndKeepsEveryRun) {
  if (!db.available()) GTEST_SKIP() << "no PostgreSQL server";
  const QStringList span = {"--archive",  "--dosimeters", "a0001-A0010", "--from",
                            "2026-03-02", "--to",         "2026-03-02"};
  const struct {
    QStringList words;
    const char* message;
  } cases[] = {
      {span + QStringList{"--dose", "1000", "extra.dat"}, "data files or --archive, not both"},
      {{"--archive", "--dose", "1000"}, "--archive needs --dosimeters LIST --from DATE --to DATE"},
      {{"--archive", "--dosimeters", "A0001-B0002", "--from", "2026-03-02", "--to", "2026-03-02", "--dose",
        "1"},
       "a range stays within one type letter"},
      {{"--archive", "--dosimeters", "A0009-A0001", "--from", "2026-03-02", "--to", "2026-03-02", "--dose",
        "1"},
       "runs backwards"},
      {{"--archive", "--dosimeters", "A0001", "--from", "2026-03-32", "--to", "2026-03-02", "--dose", "1"},
       "--from takes YYYY-MM-DD"},
      {{"--archive", "--dosimeters", "A0001", "--from", "2026-03-02", "--to", "2026-03-01", "--dose", "1"},
       "--to lies before --from"},
      {span + QStringList{"--dose", "1", "--no-archive"},
       "--archive reads the archive that --no-archive skips"},
      {{"--dose", "1", "--db", ""}, "--db needs an archive"},
      {{"--dose", "1", "--db", "x.sqlite", "--no-archive"}, "--db names the archive that --no-archive skips"},
  };
  for (const auto& c : cases) {
    const auto r =
        runCli(QStringList{"calibrate"} +
               (c.words.contains("--archive") ? QStringList{} : QStringList{path("batch.dat")}) + c.words);
    EXPECT_EQ(r.code, 2) << c.words.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String(c.message))) << r.err.toStdString();
  }

  const auto archive = [&](const QStringList& words) {
    return runCli(QStringList{"archive", "--db", db.url} + words);
  };
  ASSERT_EQ(archive({"import", path("batch.dat")}).code, 0);
  auto r = calibrate({"--dose", "1000", "--csv", path("file.csv"), "--db", db.url});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.endsWith("Kept in the dose archive as calibration run 1\n")) << r.out.toStdString();
  r = runCli(QStringList{"calibrate"} + span +
             QStringList{"--dose", "1000", "--csv", path("archive.csv"), "--db", db.url, "--note", "Cs-137"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(quelm::test::ReadFile(path("archive.csv")), quelm::test::ReadFile(path("file.csv")));
  r = runCli(QStringList{"calibrate", "--archive", "--dosimeters", "A0001-A0011", "--from", "2026-03-02",
                         "--to", "2026-03-02", "--dose", "1000", "--db", db.url});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("No read-out of A0011 in dose archive")) << r.err.toStdString();
  EXPECT_EQ(calibrate({"--dose", "1000", "--no-archive"}).code, 0);

  r = archive({"calibrations", "--csv"});
  const QStringList runs = r.out.split("\r\n", Qt::SkipEmptyParts);
  ASSERT_EQ(runs.size(), 3) << r.out.toStdString();
  EXPECT_TRUE(runs[1].contains(" batch.dat,1000 uSv,,A,10,9,")) << runs[1].toStdString();
  EXPECT_TRUE(runs[2].contains(",1000 uSv,Cs-137,A,10,9,") &&
              runs[2].contains("A0001 to A0010 (10 dosimeters)"))
      << runs[2].toStdString();
  r = archive({"calibrations", "--dosimeter", "A0003", "--csv"});
  const QStringList history = r.out.split("\r\n", Qt::SkipEmptyParts);
  ASSERT_EQ(history.size(), 4) << r.out.toStdString();
  EXPECT_TRUE(history[1].startsWith("2026-03-02T09:03,read-out,,")) << history[1].toStdString();
  EXPECT_TRUE(history[1].endsWith(",Q0412,5000,,in force"));
  EXPECT_TRUE(history[2].contains(",calibration,1,,Q0412,")) << history[2].toStdString();
  // Run 2 read A0003's read-out from the archive, run 1 from a file.
  const QString readout = history[1].section(',', 3, 3);
  EXPECT_TRUE(history[3].contains(",calibration,2," + readout + ",Q0412,") && history[3].endsWith(",used"))
      << history[3].toStdString();
  EXPECT_EQ(archive({"check"}).code, 0);
}

// The command takes the window's job: a span of more read-outs than a run
// takes is counted and refused (exit 1) before any is read; its rows are no
// records, which a read would fail on.
TEST_P(CliCalibrateArchiveTest, ASpanOfTooManyReadoutsIsRefusedBeforeAnyIsRead) {
  if (!db.available()) GTEST_SKIP() << "no PostgreSQL server";
  ASSERT_TRUE(db.open());
  ASSERT_TRUE(db.rawReadouts("A0001", "2026-03-02 10:00", 0, quelm::kMaxCalibrationReadouts + 1));
  const auto r = runCli({"calibrate", "--archive", "--dosimeters", "A0001", "--from", "2026-03-02", "--to",
                         "2026-03-02", "--dose", "1000", "--db", db.url});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(
      r.err.contains(QStringLiteral("A0001 read 2026-03-02 00:00 to 2026-03-02 23:59 hold %1 read-outs; "
                                    "a calibration run takes at most %2.")
                         .arg(quelm::kMaxCalibrationReadouts + 1)
                         .arg(quelm::kMaxCalibrationReadouts)))
      << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Databases, CliCalibrateArchiveTest,
                         ::testing::Values(quelm::test::Backend::SQLite, quelm::test::Backend::PostgreSQL),
                         quelm::test::backendName);

}  // namespace
