// The control chart panel of the dose archive window: read from the
// configured archive whenever it is shown, painted with the one painter,
// its line saying what is out of limits or why there is no chart.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPushButton>

#include "ArchiveDb.h"
#include "archive/ControlChartView.h"
#include "base/ErrorCodes.h"

using namespace quelm;
using quelm::test::ArchiveDb;
using quelm::test::Backend;
using quelm::test::Readout;

namespace {

TEST(ControlChartPanel, ShowsTheLastBatchesAndWhatIsOutOfLimits) {
  ArchiveDb db{Backend::SQLite};
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
  ArchiveSettings settings;
  settings.database = db.url;
  ControlChartPanel panel([&settings] { return settings; });
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

}  // namespace
