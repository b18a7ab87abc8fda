// Which points of a block or a curve file reach the fit, and why the others
// do not.
#include <gtest/gtest.h>

#include <cstring>

#include "QStringPrinter.h"
#include "evaluation/GlowCurve.h"

namespace {

using quelm::GlowCurve;

TEST(GlowCurve, BlockChannelsThatCannotBeUsedAreLeftOutAndNamed) {
  BlockRecord r;
  std::memset(&r, 0, sizeof r);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    r.RawValues[kAuxValueCount + ch] = static_cast<uint16_t>(0x1000 | (100 + ch));  // range 1: x32
    r.ChannelTemps[ch] = static_cast<int16_t>(500 + 26 * ch);
  }
  r.RawValues[kAuxValueCount + 10] = 0x5123;  // invalid range code
  r.ChannelTemps[20] = 9000;                  // a sensor glitch: 900 'C amid 50..310 'C
  r.ChannelTemps[30] = -3000;                 // -300 'C
  r.ChannelTemps[40] = 25000;                 // 2500 'C

  const GlowCurve c = quelm::GlowCurveOfBlock(r);
  ASSERT_EQ(c.kelvin.size(), 96u);
  EXPECT_EQ(c.leftOut, QStringList({"channel 10: invalid range code 5",
                                    "channel 30: temperature -300.0 'C is not above absolute zero",
                                    "channel 40: temperature 2500.0 'C is beyond 2000 K, out of the peak "
                                    "expressions' range",
                                    "channel 20: temperature 900.0 'C does not rise with the heating"}));
  EXPECT_EQ(c.origin.front(), 0);
  EXPECT_EQ(c.origin[19], 21);  // 0..9, 11..19, then 21
  EXPECT_DOUBLE_EQ(c.kelvin.front(), 50.0 + 273.15);
  EXPECT_DOUBLE_EQ(c.signal.front(), 100.0 * 32);
}

// A glitch left out at the window's edge must not carry the window with it:
// the bounds are the outermost kept channels inside it.
TEST(GlowCurve, TheWindowLiesBetweenItsKeptChannels) {
  BlockRecord base;
  std::memset(&base, 0, sizeof base);
  base.EVASTART = 20;
  base.EVALEN = 45;  // channels 20..64
  for (int ch = 0; ch < kChannelCount; ++ch) {
    base.RawValues[kAuxValueCount + ch] = 100;
    base.ChannelTemps[ch] = static_cast<int16_t>(500 + 25 * ch);
  }
  const auto kelvinOf = [](int ch) { return (500 + 25 * ch) / 10.0 + 273.15; };
  const struct {
    int channel;
    int16_t tenths;
    int from, to;  // the kept channels bounding the window
  } cases[] = {
      {20, 0, 21, 64},      // 0 'C amid 50..297.5 'C
      {64, -500, 20, 63},   // -50 'C: does not rise
      {64, 30000, 20, 63},  // beyond the peak expressions
      {30, 0, 20, 64},      // inside: the bounds stay
  };
  for (const auto& c : cases) {
    BlockRecord r = base;
    r.ChannelTemps[c.channel] = c.tenths;
    const GlowCurve curve = quelm::GlowCurveOfBlock(r);
    ASSERT_TRUE(curve.window) << c.channel;
    EXPECT_DOUBLE_EQ(curve.window->first, kelvinOf(c.from)) << c.channel;
    EXPECT_DOUBLE_EQ(curve.window->second, kelvinOf(c.to)) << c.channel;
    EXPECT_TRUE(curve.windowNote.isEmpty());
  }

  // A window of one channel, and that one left out: no window, and why.
  BlockRecord r = base;
  r.EVALEN = 1;
  r.ChannelTemps[20] = 0;
  const GlowCurve curve = quelm::GlowCurveOfBlock(r);
  EXPECT_FALSE(curve.window);
  EXPECT_EQ(curve.windowNote, "channel 20 left out; the dosimetric peak is sought on the whole curve");
}

TEST(GlowCurve, CurveFilesAreReadLeniently) {
  const struct {
    const char* text;
    std::vector<double> kelvin;
    QStringList leftOut;
    const char* error;
  } cases[] = {
      {"T/K,Signal\n300,1\n301,2\n", {300, 301}, {}, ""},
      {"# from a laboratory\n300 1\n\n302\t3\r\n301;2\n", {300, 301, 302}, {}, ""},
      {"300,1\n300,2\n301,3\n",
       {300, 301},
       {"line 2: temperature 26.9 'C does not rise with the heating"},
       ""},
      {"-5,1\n300,1\n301,1\n", {300, 301}, {"line 1: temperature -278.1 'C is not above absolute zero"}, ""},
      {"300,1\n301,abc\n", {}, {}, "line 2 is no pair of numbers (temperature in K, signal): \"301,abc\""},
      {"300,1\n301,2,7\n", {}, {}, "line 2 is no pair"},
      {"Temperature Signal\n", {}, {}, "the curve holds fewer than two points"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    GlowCurve curve;
    QString error;
    const bool ok = quelm::ParseGlowCurveText(c.text, &curve, &error);
    EXPECT_EQ(ok, *c.error == '\0');
    if (!ok) {
      EXPECT_TRUE(error.startsWith(QString::fromLatin1(c.error))) << error.toStdString();
      continue;
    }
    EXPECT_EQ(curve.kelvin, c.kelvin);
    EXPECT_EQ(curve.leftOut, c.leftOut);
  }
}

}  // namespace
