#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <set>

#include "evaluation/DoseChain.h"
#include "measurement/RangeCode.h"
#include "sample-data/SampleData.h"

namespace {

TEST(SampleData, DeterministicForASeedAndDifferentAcrossSeeds) {
  const auto a = MakeSampleBlocks({50, 7, 0});
  const auto b = MakeSampleBlocks({50, 7, 0});
  const auto c = MakeSampleBlocks({50, 8, 0});
  ASSERT_EQ(a.size(), 50u);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(BlockRecord)), 0);
  EXPECT_NE(std::memcmp(a.data(), c.data(), a.size() * sizeof(BlockRecord)), 0);
}

TEST(SampleData, ConsecutiveNumbersWrapPast2047) {
  const auto blocks = MakeSampleBlocks({10, 1, 2043});
  const int expected[] = {2043, 2044, 2045, 2046, 2047, 0, 1, 2, 3, 4};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(int{blocks[i].BlockNumber}, expected[i]);
}

TEST(SampleData, PlausibleBlocks) {
  const auto blocks = MakeSampleBlocks({600, 3, 0});
  std::set<std::string> devices, bulbs;
  bool exposure0 = false, exposureNone = false, flags = false, rangeAbove0 = false, clockFault = false;
  uint32_t previous = 0;
  for (const BlockRecord& r : blocks) {
    devices.insert(std::string(r.DeviceID, 5));
    bulbs.insert(std::string(r.BulbID, 5));
    exposure0 |= r.Exposure == 0;
    exposureNone |= r.Exposure == 0xFFFF;
    flags |= r.ErrorCodes != 0;
    for (int i = 0; i < kRawValueCount; ++i) {
      const uint16_t w = r.RawValues[i];
      EXPECT_TRUE(DecodeRangeWord(w).valid);
      rangeAbove0 |= (w >> 12) > 0;
    }
    for (int ch = 1; ch < kChannelCount; ++ch)
      EXPECT_GT(int{r.ChannelTemps[ch]}, int{r.ChannelTemps[ch - 1]});
    EXPECT_GE(r.EVALEN, 1);
    EXPECT_LE(r.EVASTART + r.EVALEN, 100);
    if (r.ErrorCodes & 0x10) {
      clockFault = true;
      continue;
    }
    EXPECT_GE(r.DateTime[0], 100);  // 2000 or later
    EXPECT_LE(r.DateTime[0], 149);
    const uint32_t t = ReaderSecondsFromStamp(r.DateTime);
    EXPECT_GE(t, previous);
    previous = t;
    if (r.LRO != 0) {
      EXPECT_LE(uint32_t{r.LRO}, t);
    }
  }
  EXPECT_GE(devices.size(), 2u);
  EXPECT_GE(bulbs.size(), 10u);
  EXPECT_TRUE(exposure0 && exposureNone && flags && rangeAbove0 && clockFault);
  // Dates spread over months.
  const BlockRecord& last = blocks.back();
  EXPECT_GT(ReaderSecondsFromStamp(last.DateTime) - ReaderSecondsFromStamp(blocks.front().DateTime),
            90u * 86400u);
}

TEST(SampleData, MeasuredDoseAgreesWithTheDoseChain) {
  for (const BlockRecord& r : MakeSampleBlocks({200, 11, 0})) {
    const double expected = EvaluateDose(r, r.EVASTART, r.EVALEN, r.EVANORM).measDose;
    EXPECT_FLOAT_EQ(r.MeasuredDose, static_cast<float>(expected));
  }
}

TEST(SampleData, WritesRecordsBackToBack) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("s.dat"));
  ASSERT_EQ(WriteSampleDataFile(path, {5, 2, 100}), 0);
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  ASSERT_EQ(bytes.size(), 5 * 512);
  const auto expected = MakeSampleBlocks({5, 2, 100});
  EXPECT_EQ(std::memcmp(bytes.constData(), expected.data(), bytes.size()), 0);

  EXPECT_EQ(WriteSampleDataFile(dir.filePath(QStringLiteral("missing/dir/x.dat")), {1, 1, 0}), -107);
}

TEST(SampleData, StampConversionRoundTrips) {
  const uint8_t stamp[5] = {104, 12, 31, 23, 59};
  uint8_t back[5];
  StampFromReaderSeconds(ReaderSecondsFromStamp(stamp), back);
  EXPECT_EQ(std::memcmp(stamp, back, 5), 0);
  const uint8_t epoch[5] = {80, 1, 1, 0, 0};
  EXPECT_EQ(ReaderSecondsFromStamp(epoch), 0u);
}

}  // namespace
