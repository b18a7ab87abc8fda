// quelm-cli archive controls and calibrations: their command lines, a
// week of a reader with its control dosimeters through import, mark, list,
// review and the chart (from the real program), and a fixed tolerance
// from the configuration.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "ArchiveDb.h"
#include "CliDriver.h"
#include "PdfText.h"
#include "TestEnv.h"

namespace {

using quelm::test::runCli;

class CliControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Q0412 reads A1001 and the control C0001 (1 mSv) a week long, its
    // blocks numbered in the order it measured them; the seventh day 20 %
    // high.
    const double ratios[] = {1.00, 1.01, 0.99, 1.00, 1.00, 1.005, 1.20};
    std::vector<BlockRecord> records;
    for (int day = 1; day <= 7; ++day) {
      BlockRecord person = quelm::test::Readout("A1001", "2026-03-01 09:00", 2 * day);
      BlockRecord control = quelm::test::Readout("C0001", "2026-03-01 09:30", 2 * day + 1);
      person.DateTime[2] = control.DateTime[2] = static_cast<uint8_t>(1 + day);
      control.MeasuredDose = static_cast<float>(1000 * ratios[day - 1]);
      records.insert(records.end(), {person, control});
    }
    quelm::test::WriteBlocks(dir, "week.dat", records);
  }
  quelm::test::CliRun archive(const QStringList& args) {
    return runCli(QStringList{"archive", "--db", db} + args, config);
  }
  QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
  QTemporaryDir dir;
  QString db = dir.filePath("a.sqlite");
  QString config = dir.filePath("quelm.INI");
};

TEST_F(CliControlsTest, WrongCommandLinesAreUsageErrors) {
  const struct {
    QStringList args;
    const char* inErr;
  } cases[] = {
      {{"controls"}, "archive controls takes mark ID --known USV"},
      {{"controls", "sweep"}, "archive controls takes mark ID --known USV"},
      {{"controls", "mark", "C0001"}, "--known USV is needed"},
      {{"controls", "mark", "C0001", "--known", "-1"}, "a control's known dose is 0"},
      {{"controls", "mark", "C0001", "--known", "5", "--from", "2026-02-30"}, "--from takes YYYY-MM-DD"},
      {{"controls", "mark", "--known", "5"}, "needs the DOSIMETER"},
      {{"controls", "chart"}, "--pdf OUT.pdf is needed"},
      {{"controls", "list", "--period", "2026Q5"}, "--period takes a quarter"},
      {{"calibrations", "--dosimeter", "TOOLONG"}, "type letter A to Z"},
      {{"calibrations", "extra"}, "takes no other arguments"},
  };
  for (const auto& c : cases) {
    const auto r = archive(c.args);
    EXPECT_EQ(r.code, 2) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String(c.inErr))) << r.err.toStdString();
  }
}

TEST_F(CliControlsTest, AWeekOfControlsThroughTheCommandLine) {
  ASSERT_EQ(archive({"assign", "A1001", "Anna", "--from", "2026-01-01"}).code, 0);
  ASSERT_EQ(archive({"import", path("week.dat")}).code, 0);
  auto r = archive({"controls", "mark", "c0001", "--known", "1000"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, "Control: C0001 known dose 1000.00 uSv from 1980-01-01 00:00\n");
  r = archive({"controls", "marked", "--csv"});
  EXPECT_TRUE(r.out.startsWith("dosimeter,known_usv,from,marked_at\r\nC0001,1000.00,1980-01-01T00:00,"))
      << r.out.toStdString();

  r = archive({"controls", "list", "--csv"});
  ASSERT_EQ(r.code, 0);
  const QStringList rows = r.out.split("\r\n", Qt::SkipEmptyParts);
  ASSERT_EQ(rows.size(), 8);
  EXPECT_EQ(rows[0].toStdString(),
            "reader,day,kind,controls,value,mean,sd,lower_3sd,upper_3sd,baseline,status");
  EXPECT_EQ(rows[1].toStdString(), "Q0412,2026-03-02,ratio,1,1.0000,,,,,0,not judged");
  EXPECT_EQ(rows[7].toStdString(),
            "Q0412,2026-03-08,ratio,1,1.2000,1.0008,0.0066,0.9809,1.0208,6,out of limits");
  EXPECT_EQ(archive({"controls", "list", "--period", "2026Q2"}).out.count('\n'), 1) << "only the header";

  r = archive({"review", "--csv"});
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.out.count("control dosimeters out of limits"), 2) << r.out.toStdString();
  EXPECT_FALSE(r.out.contains("unassigned")) << "a control is worn by nobody";

  quelm::test::WriteFile(config, "[Dose archive]\nControlTolerance=25\n");
  r = archive({"review", "--csv"});
  EXPECT_EQ(r.out.count('\n'), 1) << r.out.toStdString();
  EXPECT_TRUE(
      archive({"controls", "list"}).out.contains("1.2000\t1.0008\t0.0066\t0.9809\t1.0208\t6\tin tolerance"));
  EXPECT_EQ(archive({"check"}).code, 0);

  // The chart needs the real program's graphics, with --config anywhere.
  EXPECT_EQ(archive({"controls", "chart", "--pdf", path("c.pdf")}).code, 1);
  QProcess p;
  p.start(QStringLiteral(QUELM_CLI), {"--config", config, "archive", "--db", db, "controls", "chart", "--pdf",
                                      path("c.pdf"), "--period", "2026Q1"});
  ASSERT_TRUE(p.waitForFinished(60000));
  ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  EXPECT_EQ(p.readAllStandardOutput(), path("c.pdf").toUtf8() + ": 7 batch figures, 0 out of limits\n");
  const QString text = quelm::test::PdfText(path("c.pdf"));
  for (const char* shown :
       {"Control chart", "Period: 2026Q1", "Ratio measured/known", "7 batches", "ControlTolerance"})
    EXPECT_TRUE(text.contains(QLatin1String(shown))) << shown << "\n" << text.toStdString();
}

}  // namespace
