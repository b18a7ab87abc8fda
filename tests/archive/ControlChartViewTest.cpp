// The control chart panel of the dose archive window: read from the
// configured archive whenever it is shown, painted with the one painter,
// its line saying what is out of limits or why there is no chart.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include "ArchiveDb.h"
#include "PdfText.h"
#include "archive/ArchiveReport.h"
#include "archive/ControlChartView.h"
#include "archive/ReportPainter.h"
#include "base/ErrorCodes.h"

using namespace quelm;
using quelm::test::ArchiveDb;
using quelm::test::Backend;
using quelm::test::Readout;

namespace {

// A reader's week with its control C0001 (1 mSv), 20 % high on the seventh day.
class ControlChartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      auto archive = db.open();
      ASSERT_EQ(archive->markControl(QStringLiteral("C0001"), 1000, std::nullopt), kOk);
      const double ratios[] = {1.00, 1.01, 0.99, 1.00, 1.00, 1.005, 1.20};
      std::vector<BlockRecord> records;
      for (int day = 0; day < 7; ++day) {
        BlockRecord r = Readout("C0001", "2026-03-02 09:00", day);
        r.DateTime[2] = static_cast<uint8_t>(2 + day);
        r.MeasuredDose = static_cast<float>(1000 * ratios[day]);
        records.push_back(r);
      }
      ImportResult result;
      ASSERT_EQ(archive->importRecords(records, QStringLiteral("COM1"), &result), kOk);
    }
    settings.database = db.url;
  }
  QTemporaryDir dir;
  ArchiveDb db{Backend::SQLite};
  ArchiveSettings settings;
};

TEST_F(ControlChartTest, ThePanelShowsTheLastBatchesAndWhatIsOutOfLimits) {
  ControlChartPanel panel([this] { return settings; });
  panel.resize(700, 260);
  panel.show();
  EXPECT_EQ(panel.StatusLabel->text(),
            "The last 7 batches: 1 out of limits, their read-outs on the review list");
  ASSERT_EQ(panel.Chart->data.series.size(), 1u);
  EXPECT_TRUE(panel.Chart->data.series[0].points.back().out);
  // Painted: the out batch's red among the white.
  const QImage image = panel.Chart->grab().toImage();
  int red = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) red += image.pixelColor(x, y) == QColor(190, 0, 0);
  EXPECT_GT(red, 20);

  settings.controlTolerance = 25;
  panel.RefreshButton->click();
  EXPECT_TRUE(panel.StatusLabel->text().contains("0 out of limits"));
  settings.database = db.url + QStringLiteral("-missing/a.sqlite");
  panel.RefreshButton->click();
  EXPECT_TRUE(panel.StatusLabel->text().startsWith("Dose archive cannot be opened: "))
      << panel.StatusLabel->text().toStdString();
  EXPECT_TRUE(panel.Chart->data.series.empty());
}

TEST_F(ControlChartTest, TheServiceSummaryPrintsThePeriodsControlChart) {
  auto archive = db.open();
  ReportDocument document;
  ASSERT_EQ(BuildSummaryReport(*archive, *ParseReportPeriod(QStringLiteral("2026Q1")), settings, ArchiveNow(),
                               &document),
            kOk);
  ASSERT_TRUE(document.controlChart);
  EXPECT_EQ(document.figures.back(),
            std::make_pair(QStringLiteral("Control batches out of limits"), QStringLiteral("1 of 7")));
  QString detail;
  ASSERT_EQ(WriteReportPdf(document, dir.filePath(QStringLiteral("s.pdf")), &detail), kOk);
  const QString text = quelm::test::PdfText(dir.filePath(QStringLiteral("s.pdf")));
  for (const char* shown :
       {"Service summary", "Control batches out of limits", "Ratio measured/known", "7 batches"})
    EXPECT_TRUE(text.contains(QLatin1String(shown))) << shown << "\n" << text.toStdString();
  ASSERT_EQ(BuildSummaryReport(*archive, *ParseReportPeriod(QStringLiteral("2026Q2")), settings, ArchiveNow(),
                               &document),
            kOk);
  EXPECT_FALSE(document.controlChart) << "no batch in the period";
}

}  // namespace
