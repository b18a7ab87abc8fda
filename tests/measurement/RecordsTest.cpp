#include <gtest/gtest.h>

#include <cstring>

#include "measurement/BlockRecord.h"
#include "measurement/NurvoDataBlock.h"
#include "measurement/RangeCode.h"

namespace {

TEST(RangeCode, DecodesEveryRangeAndFlagsInvalidCodes) {
  EXPECT_EQ(DecodeRangeWord(0x0ABC).value, 0xABCu);
  EXPECT_EQ(DecodeRangeWord(0x1ABC).value, 87936u);
  EXPECT_EQ(DecodeRangeWord(0x1ABC).range, 1);
  EXPECT_EQ(DecodeRangeWord(0x2001).value, 1024u);
  EXPECT_EQ(DecodeRangeWord(0x3001).value, 32768u);
  const RangeDecoded top = DecodeRangeWord(0x4FFF);
  EXPECT_EQ(top.value, 1073479680u);
  EXPECT_EQ(top.range, 4);
  EXPECT_TRUE(top.valid);
  EXPECT_LE(top.value, 2147483647u);  // fits a signed 32-bit value

  const RangeDecoded r5 = DecodeRangeWord(0x5000);
  EXPECT_FALSE(r5.valid);
  EXPECT_EQ(r5.value, 0u);
  const RangeDecoded neg = DecodeRangeWord(0x8123);
  EXPECT_FALSE(neg.valid);
  EXPECT_EQ(neg.value, 0x123u);
  EXPECT_FALSE(DecodeRangeWord(0xFFFF).valid);
}

TEST(RangeCode, EncodingPicksTheSmallestRangeAndRoundTripsItsLeadingBits) {
  EXPECT_EQ(EncodeRangeValue(0), 0x0000);
  EXPECT_EQ(EncodeRangeValue(4095), 0x0FFF);
  EXPECT_EQ(EncodeRangeValue(4096), 0x1080);
  EXPECT_EQ(EncodeRangeValue(4095u * 262144u), 0x4FFF);
  EXPECT_EQ(EncodeRangeValue(0xFFFFFFFFu), 0x4FFF);  // saturates
  for (uint32_t v : {1u, 100u, 5000u, 131071u, 4194303u, 99999999u}) {
    const RangeDecoded d = DecodeRangeWord(EncodeRangeValue(v));
    EXPECT_TRUE(d.valid);
    EXPECT_LE(d.value, v);
    EXPECT_GT(d.value + (1u << kRangeShift[d.range]), v) << v;
  }
}

TEST(Records, StoreSummaryCopiesTheHeaderBytesDoseAndExposureOnly) {
  TNurvoDataBlock data(nullptr);
  auto* record = reinterpret_cast<uint8_t*>(&data.Record);
  for (size_t i = 0; i < sizeof(BlockRecord); ++i) record[i] = static_cast<uint8_t>(i * 7 + 1);
  std::memset(data.Summaries, 0xEE, sizeof data.Summaries);
  data.StoreSummary(3);

  const auto* s = reinterpret_cast<const uint8_t*>(&data.Summaries[3]);
  for (size_t i = 0; i < offsetof(BlockSummary, MeasuredDose); ++i)
    EXPECT_EQ(s[i], i == offsetof(BlockSummary, Reserved8) ? 0xEE : record[i]) << "byte " << i;
  EXPECT_EQ(
      std::memcmp(s + offsetof(BlockSummary, MeasuredDose), record + offsetof(BlockRecord, MeasuredDose), 4),
      0);
  EXPECT_EQ(std::memcmp(s + offsetof(BlockSummary, Exposure), record + offsetof(BlockRecord, Exposure), 2),
            0);
  // The other slots, and slots outside the page, are left alone.
  data.StoreSummary(-1);
  data.StoreSummary(kPageRows);
  BlockSummary untouched;
  std::memset(&untouched, 0xEE, sizeof untouched);
  for (int slot = 0; slot < kPageRows; ++slot) {
    if (slot == 3) continue;
    EXPECT_EQ(std::memcmp(&data.Summaries[slot], &untouched, sizeof untouched), 0) << slot;
  }
}

}  // namespace
