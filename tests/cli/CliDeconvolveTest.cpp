#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "CliDriver.h"
#include "evaluation/Deconvolution.h"
#include "sample-data/SampleData.h"

namespace {

using quelm::test::runCli;

class CliDeconvolve : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(WriteSampleDataFile(data, {20, 1, 100}), 0);
    // Two first-order peaks, temperature in K and signal, as a laboratory
    // would export them.
    QByteArray text = "T/K,counts\n";
    for (int T = 320; T <= 600; T += 2) {
      const double y =
          quelm::PeakValue({40000, 1.2, 430.33, 1}, T) + quelm::PeakValue({90000, 1.6, 500.33, 1}, T);
      text += QByteArray::number(T) + ',' + QByteArray::number(y, 'f', 3) + '\n';
    }
    write(curve, text);
    write(flat, "300 0\n301 0\n302 0\n303 0\n304 0\n305 0\n");
  }
  void write(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(text), text.size());
  }

  QTemporaryDir dir;
  QString data = dir.filePath(QStringLiteral("run.dat"));
  QString curve = dir.filePath(QStringLiteral("two.csv"));
  QString flat = dir.filePath(QStringLiteral("flat.csv"));
};

TEST_F(CliDeconvolve, ReportsThePeaksOfACurveFile) {
  const auto r = runCli({"deconvolve", "--curve", curve, "--model", "first", "--peaks", "2"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QStringList lines = r.out.split(QLatin1Char('\n'));
  EXPECT_EQ(lines.value(0), curve + ": first order, 2 peaks, background none");
  EXPECT_EQ(lines.value(1), "Points used: 141 (0 left out)");
  EXPECT_EQ(lines.value(2), "Converged: yes");
  EXPECT_EQ(lines.value(5), "Peak\tTm 'C\tTm K\tE eV\tb\tIm\tArea\tShare %");
  EXPECT_TRUE(lines.value(6).startsWith("1\t157.2\t430.3\t1.200\t1.00\t40000\t"))
      << lines.value(6).toStdString();
  EXPECT_TRUE(lines.value(7).startsWith("2\t227.2\t500.3\t1.600\t1.00\t90000\t"))
      << lines.value(7).toStdString();
  EXPECT_EQ(lines.value(8), "Dosimetric peak: 2");

  const auto j = runCli({"deconvolve", "--curve", curve, "--model", "first", "--json"});
  ASSERT_EQ(j.code, 0) << j.err.toStdString();
  const QJsonObject o = QJsonDocument::fromJson(j.out.toUtf8()).array().at(0).toObject();
  EXPECT_TRUE(o["converged"].toBool());
  const QJsonArray peaks = o["peaks"].toArray();
  ASSERT_EQ(peaks.size(), 2);  // the count chosen
  EXPECT_NEAR(peaks[1].toObject()["tmK"].toDouble(), 500.33, 0.5);
  EXPECT_NEAR(peaks[1].toObject()["energyEv"].toDouble(), 1.6, 0.016);
}

TEST_F(CliDeconvolve, FitsBlocksOfADataFileAndEveryBlockAsRows) {
  const auto r = runCli({"deconvolve", data, "105", "107", "--background"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.startsWith("Block 105: general order, ")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("\n\nBlock 107: general order, "));
  EXPECT_EQ(r.out.count("Converged: yes"), 2);

  const auto all = runCli({"deconvolve", data, "--all", "--csv", "--peaks", "4"});
  ASSERT_EQ(all.code, 0) << all.err.toStdString();
  const QStringList rows = all.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(rows.size(), 21);
  EXPECT_TRUE(rows[0].startsWith("block,converged,peaks,fom_pct,"));
  EXPECT_TRUE(rows[1].startsWith("100,yes,4,"));
  EXPECT_TRUE(rows[20].startsWith("119,yes,4,"));
}

TEST_F(CliDeconvolve, FailuresAndWrongUseAreSaid) {
  const struct {
    QStringList args;
    int code;
    const char* out;
    const char* err;
  } cases[] = {
      {{"deconvolve", "--curve", flat},
       1,
       "Converged: no (the curve holds no signal)",
       "1 of 1 fits gave no peaks"},
      {{"deconvolve", data, "105", "1999"}, 1, "Block 105:", "block 1999"},
      {{"deconvolve", "--curve", "/nonexistent.csv"}, 1, "", "(-107)"},
      {{"deconvolve", "--curve", "/"}, 1, "", "/: no plain file"},
      {{"deconvolve", "--curve", data}, 1, "", "is no pair of numbers"},
      {{"deconvolve"}, 2, "", "a data file or --curve is needed"},
      {{"deconvolve", data}, 2, "", "block numbers or --all are needed"},
      {{"deconvolve", data, "1", "--all"}, 2, "", "--all takes no block numbers"},
      {{"deconvolve", data, "--curve", curve}, 2, "", "--curve takes no data file"},
      {{"deconvolve", data, "1", "--peaks", "9"}, 2, "", "--peaks must be a whole number from 1 to 8"},
      {{"deconvolve", data, "1", "--model", "third"}, 2, "", "--model must be first or general"},
      {{"deconvolve", data, "1", "--json", "--csv"}, 2, "", "--json and --csv exclude each other"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const auto r = runCli(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_TRUE(r.out.contains(QString::fromUtf8(c.out))) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.err))) << r.err.toStdString();
  }
}

}  // namespace
