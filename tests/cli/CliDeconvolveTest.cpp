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
    ASSERT_EQ(WriteSampleDataFile(data, {8, 1, 100}), 0);
    // Two first-order peaks, temperature in K and signal, as a laboratory
    // would export them.
    QByteArray text = "T/K,counts\n";
    for (int T = 320; T <= 600; T += 2) {
      const double y = quelm::PeakValue({40000, 1.2, 430.33, 1, quelm::PeakModel::FirstOrder}, T) +
                       quelm::PeakValue({90000, 1.6, 500.33, 1, quelm::PeakModel::FirstOrder}, T);
      text += QByteArray::number(T) + ',' + QByteArray::number(y, 'f', 3) + '\n';
    }
    write(curve, text);
    write(flat, "300 0\n301 0\n302 0\n303 0\n304 0\n305 0\n");
    // A block whose every channel has an invalid range code: no point is
    // left, nor any channel of its evaluation window.
    BlockRecord b = MakeSampleBlocks({1, 1, 200}).front();
    for (int ch = 0; ch < kChannelCount; ++ch) b.RawValues[kAuxValueCount + ch] = 0x5000;
    b.EVASTART = 20;
    b.EVALEN = 40;
    write(blank, QByteArray(reinterpret_cast<const char*>(&b), sizeof b));
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
  QString blank = dir.filePath(QStringLiteral("blank.dat"));
};

TEST_F(CliDeconvolve, ReportsThePeaksOfACurveFile) {
  const auto r =
      runCli({"deconvolve", "--curve", curve, "--model", "first", "--peaks", "2", "--heating-rate", "2"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QStringList lines = r.out.split(QLatin1Char('\n'));
  EXPECT_EQ(lines.value(0), curve + ": first order, 2 peaks, background none");
  EXPECT_EQ(lines.value(1), "Points used: 141 (0 left out)");
  EXPECT_EQ(lines.value(2), "Heating rate: 2.00 K/s");
  EXPECT_EQ(lines.value(3), "Converged: yes");
  EXPECT_EQ(lines.value(5), "R²: 1.00000");
  EXPECT_EQ(lines.value(7), "Peak\tTm °C\tTm K\t± K\tE eV\t± eV\tb\t± b\ts 1/s\tIm\t± Im\tArea\tShare %");
  // s exp(-E/kTm) = beta E/kTm^2 at 2 K/s: 1.70E13 and 1.94E15 per second.
  EXPECT_TRUE(lines.value(8).startsWith("1\t157.2\t430.3\t0.0\t1.200\t0.000\t1.00\t-\t1.7E13\t40000\t0\t"))
      << lines.value(8).toStdString();
  EXPECT_TRUE(lines.value(9).startsWith("2\t227.2\t500.3\t0.0\t1.600\t0.000\t1.00\t-\t1.94E15\t90000\t0\t"))
      << lines.value(9).toStdString();
  EXPECT_EQ(lines.value(10), "Dosimetric peak: 2, 227.2 °C (the largest area)");
  EXPECT_FALSE(r.out.contains("Warning"));

  // The count chosen, with the criterion of every count tried; the
  // standard errors in the JSON.
  const auto a = runCli({"deconvolve", "--curve", curve, "--model", "first"});
  ASSERT_EQ(a.code, 0) << a.err.toStdString();
  EXPECT_TRUE(a.out.contains("\nBIC by peak count (counting statistics; the counts stop where it rises):\n  1 peak: BIC "));
  EXPECT_TRUE(a.out.contains("\n  2 peaks: BIC ")) << a.out.toStdString();
  EXPECT_TRUE(a.out.contains(" %  (lowest)\n  3 peaks: BIC ")) << a.out.toStdString();
  const auto j = runCli({"deconvolve", "--curve", curve, "--model", "first", "--json"});
  ASSERT_EQ(j.code, 0) << j.err.toStdString();
  const QJsonObject o = QJsonDocument::fromJson(j.out.toUtf8()).array().at(0).toObject();
  EXPECT_TRUE(o["converged"].toBool());
  EXPECT_EQ(o["suggestedPeaks"].toInt(), 2);
  EXPECT_EQ(o["countCriterion"].toArray().size(), 3);
  EXPECT_TRUE(o["heatingRateKPerS"].isNull());
  const QJsonArray peaks = o["peaks"].toArray();
  ASSERT_EQ(peaks.size(), 2);
  const QJsonObject second = peaks[1].toObject();
  EXPECT_NEAR(second["tmK"].toDouble(), 500.33, 0.5);
  EXPECT_NEAR(second["energyEv"].toDouble(), 1.6, 0.016);
  EXPECT_EQ(second["model"].toString(), "first");
  const QJsonObject errors = second["errors"].toObject();
  for (const char* key : {"tmK", "energyEv", "im"})
    EXPECT_TRUE(errors[key].isDouble() && errors[key].toDouble() >= 0) << key;
  EXPECT_FALSE(errors.contains("order"));  // first order holds b at 1
  EXPECT_TRUE(second["frequencyPerS"].isNull());
  EXPECT_TRUE(o["warnings"].toArray().isEmpty());
}

TEST_F(CliDeconvolve, FitsBlocksOfADataFileAndEveryBlockAsRows) {
  const auto r = runCli({"deconvolve", data, "105", "107", "--background"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.startsWith("Block 105: general order, ")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("\n\nBlock 107: general order, "));
  EXPECT_EQ(r.out.count("Converged: yes"), 2);
  EXPECT_EQ(r.out.count("Heating rate: 52."), 2);  // 2.6 K a channel, 50 ms apart
  EXPECT_TRUE(r.out.contains("\nBackground: ")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("(the largest area inside the evaluation window ")) << r.out.toStdString();

  const auto all = runCli({"deconvolve", data, "--all", "--csv", "--background"});
  ASSERT_EQ(all.code, 0) << all.err.toStdString();
  const QStringList rows = all.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(rows.size(), 9);
  EXPECT_TRUE(rows[0].startsWith("block,converged,peaks,fom_pct,")) << rows[0].toStdString();
  EXPECT_TRUE(rows[0].endsWith(",reason,reduced_chi2,warnings"));
  EXPECT_TRUE(rows[1].startsWith("100,yes,"));
  EXPECT_TRUE(rows[8].startsWith("107,yes,"));

  // One model per peak, by rising Tm.
  const auto models = runCli({"deconvolve", data, "105", "--model", "first,general", "--background"});
  ASSERT_EQ(models.code, 0) << models.err.toStdString();
  EXPECT_TRUE(models.out.startsWith("Block 105: models first, general, 2 peaks, background exponential"))
      << models.out.toStdString();
  EXPECT_TRUE(models.out.contains("\tShare %\tModel\n1\t")) << models.out.toStdString();
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
      {{"deconvolve", blank, "200"}, 1, "\nPoints used: 0 (100 left out)\n", "1 of 1 fits gave no peaks"},
      {{"deconvolve", blank, "200"},
       1,
       "\nConverged: no (too few points for the peaks asked: 0 points cannot carry one peak (4 "
       "parameters))\n",
       "1 of 1 fits gave no peaks"},
      {{"deconvolve", blank, "200", "--json"},
       1,
       "\"evaluationWindowNote\": \"channels 20..59 all left out; the dosimetric peak is sought on the whole "
       "curve\"",
       "1 of 1 fits gave no peaks"},
      {{"deconvolve", data, "105", "1999"}, 1, "Block 105:", "block 1999"},
      {{"deconvolve", "--curve", "/nonexistent.csv"}, 1, "", "(-107)"},
      {{"deconvolve", "--curve", "/"}, 1, "", "/: no plain file"},
      {{"deconvolve", "--curve", data}, 1, "", "is no pair of numbers"},
      {{"deconvolve"}, 2, "", "a data file or --curve is needed"},
      {{"deconvolve", data}, 2, "", "block numbers or --all are needed"},
      {{"deconvolve", data, "1", "--all"}, 2, "", "--all takes no block numbers"},
      {{"deconvolve", data, "--curve", curve}, 2, "", "--curve takes no data file"},
      {{"deconvolve", data, "1", "--peaks", "13"}, 2, "", "--peaks must be a whole number from 1 to 12"},
      {{"deconvolve", data, "1", "--model", "third"},
       2,
       "",
       "--model must be first, second, general, mixed or continuous"},
      {{"deconvolve", data, "1", "--model", "first,general", "--peaks", "3"},
       2,
       "",
       "--model names 2 peaks, --peaks 3"},
      {{"deconvolve", data, "1", "--model", "first,general", "--peaks", "auto"}, 2, "", "fixes the count"},
      {{"deconvolve", data, "1", "--heating-rate", "-1"}, 2, "", "--heating-rate must be a number of K/s"},
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
