#include <gtest/gtest.h>

#include "QStringPrinter.h"

#include <cmath>
#include <random>

#include "base/UserLocale.h"
#include "evaluation/ChartInteraction.h"
#include "measurement/BlockRecord.h"

using namespace quelm;

namespace {

EvalMembers window(int start, int length, int cursor = 50, double nf = 100) {
  EvalMembers m;
  m.evalStart = start;
  m.evalLength = length;
  m.cursorPos = cursor;
  m.normFact = nf;
  return m;
}

struct KeyCase {
  ChartAction action;
  EvalMembers before;
  bool applies;
  int start, length, cursor;
};

TEST(ChartKeys, ConditionsAndChanges) {
  const KeyCase cases[] = {
      {ChartAction::CursorLeft, window(30, 20, 0), false, 30, 20, 0},
      {ChartAction::CursorLeft, window(30, 20, 1), true, 30, 20, 0},
      {ChartAction::CursorRight, window(30, 20, 99), false, 30, 20, 99},
      {ChartAction::CursorRight, window(30, 20, 98), true, 30, 20, 99},
      {ChartAction::EvalStartLeft, window(0, 20), false, 0, 20, 50},
      {ChartAction::EvalStartLeft, window(30, 20), true, 29, 21, 50},  // the right marker stays
      {ChartAction::EvalStartRight, window(30, 1), false, 30, 1, 50},
      {ChartAction::EvalStartRight, window(30, 20), true, 31, 19, 50},
      {ChartAction::EvalLengthLeft, window(30, 1), false, 30, 1, 50},
      {ChartAction::EvalLengthLeft, window(30, 20), true, 30, 19, 50},
      {ChartAction::EvalLengthRight, window(60, 40), false, 60, 40, 50},
      {ChartAction::EvalLengthRight, window(60, 39), true, 60, 40, 50},
  };
  for (const KeyCase& c : cases) {
    EvalMembers m = c.before;
    EXPECT_EQ(ApplyChartAction(c.action, m), c.applies) << static_cast<int>(c.action);
    EXPECT_EQ(m.evalStart, c.start) << static_cast<int>(c.action);
    EXPECT_EQ(m.evalLength, c.length) << static_cast<int>(c.action);
    EXPECT_EQ(m.cursorPos, c.cursor) << static_cast<int>(c.action);
    EXPECT_EQ(m.normFact, c.before.normFact);
  }
}

TEST(ChartKeys, NormalisationFactorSteps) {
  EvalMembers m = window(30, 20, 50, 100);
  ASSERT_TRUE(ApplyChartAction(ChartAction::NFIncrease10, m));
  EXPECT_NEAR(m.normFact, 110, 1e-9);
  ASSERT_TRUE(ApplyChartAction(ChartAction::NFDecrease10, m));
  EXPECT_NEAR(m.normFact, 100, 1e-9);

  m.normFact = 100;
  for (int i = 0; i < 3; ++i) ApplyChartAction(ChartAction::NFIncrease1, m);
  EXPECT_NEAR(m.normFact, 103.0301, 1e-9);
  for (int i = 0; i < 3; ++i) ApplyChartAction(ChartAction::NFDecrease1, m);
  EXPECT_NEAR(m.normFact, 100, 1e-9);

  m.normFact = 100;
  ApplyChartAction(ChartAction::NFIncrease01, m);
  EXPECT_NEAR(m.normFact, 100.1, 1e-9);
  ApplyChartAction(ChartAction::NFDecrease01, m);
  EXPECT_NEAR(m.normFact, 100, 1e-9);

  m.normFact = 0;  // no bounds, and zero stays zero
  EXPECT_TRUE(ApplyChartAction(ChartAction::NFIncrease10, m));
  EXPECT_EQ(m.normFact, 0);
}

TEST(ChartKeys, DescriptorsCarryNamesCaptionsAndPlainKeys) {
  EXPECT_STREQ(kChartActions[0].objectName, "ChartCursorLeftItem");
  EXPECT_EQ(kChartActions[0].key, Qt::Key_Left);
  EXPECT_STREQ(kChartActions[6].objectName, "ChartNFInrease10Item");
  EXPECT_STREQ(kChartActions[6].caption, "+10   %");
  EXPECT_EQ(kChartActions[11].key, Qt::Key_D);
  EXPECT_STREQ(kChartActions[11].caption, "-  0.1%");
  for (int i = 0; i < kChartActionCount; ++i) EXPECT_EQ(static_cast<int>(kChartActions[i].action), i);
}

// Each drag starts where the one before left the window.
TEST(ChartDrag, LeftMarkerMovesTheWholeWindow) {
  EvalMembers m = window(30, 20);
  for (const auto& [to, start] : {std::pair{90, 80}, {10, 10}, {-1, 10}, {250, 80}, {0, 0}}) {
    DragLeftMarkerTo(m, to);
    EXPECT_EQ(m.evalStart, start) << to;
    EXPECT_EQ(m.evalLength, 20) << to;
  }
}

TEST(ChartDrag, RightMarkerSitsOnTheFirstChannelAfterTheWindow) {
  EvalMembers m = window(30, 20);
  for (const auto& [to, length] :
       {std::pair{45, 15}, {30, 1}, {12, 1}, {99, 69}, {100, 70}, {5000, 70}, {-1, 70}}) {
    DragRightMarkerTo(m, to);
    EXPECT_EQ(m.evalLength, length) << to;
    EXPECT_EQ(m.evalStart, 30) << to;
  }
}

TEST(ChartDrag, ChannelOfAnXValueIsCutTowardsZero) {
  EXPECT_EQ(ChannelOfX(12.99), 12);
  EXPECT_EQ(ChannelOfX(-0.5), 0);
  EXPECT_EQ(ChannelOfX(-1.2), -1);
  EXPECT_EQ(ChannelOfX(1e300), 1000000);
  EXPECT_EQ(ChannelOfX(std::nan("")), -1);
}

TEST(ChartLimits, EveryInteractionKeepsTheWindowAndCursorInside) {
  std::mt19937 rnd(42);
  EvalMembers m = window(30, 20);
  for (int step = 0; step < 20000; ++step) {
    switch (rnd() % 5) {
      case 0:
        ApplyChartAction(static_cast<ChartAction>(rnd() % 6), m);
        break;
      case 1:
        DragLeftMarkerTo(m, static_cast<int>(rnd() % 130) - 10);
        break;
      case 2:
        DragRightMarkerTo(m, static_cast<int>(rnd() % 130) - 10);
        break;
      case 3:
        SetEvalStart(m, static_cast<int64_t>(rnd() % 300) - 100);
        break;
      case 4:
        SetEvalLength(m, static_cast<int64_t>(rnd() % 300) - 100);
        break;
    }
    ASSERT_GE(m.evalStart, 0);
    ASSERT_GE(m.evalLength, 1);
    ASSERT_LE(m.evalStart + m.evalLength, kChannelCount);
    ASSERT_GE(m.cursorPos, 0);
    ASSERT_LE(m.cursorPos, kChannelCount - 1);
  }
}

TEST(ChartEdits, TypedValuesAreClampedTheTypedOneWins) {
  EvalMembers m = window(30, 20);
  SetEvalStart(m, -4);
  EXPECT_EQ(m.evalStart, 0);
  EXPECT_EQ(m.evalLength, 20);
  SetEvalStart(m, 90);
  EXPECT_EQ(m.evalStart, 90);
  EXPECT_EQ(m.evalLength, 10);
  SetEvalStart(m, 1000000000000LL);
  EXPECT_EQ(m.evalStart, 99);
  EXPECT_EQ(m.evalLength, 1);
  SetEvalStart(m, 40);
  SetEvalLength(m, 0);
  EXPECT_EQ(m.evalLength, 1);
  SetEvalLength(m, 75);
  EXPECT_EQ(m.evalLength, 60);
  SetEvalLength(m, 25);
  EXPECT_EQ(m.evalLength, 25);
  EXPECT_EQ(m.evalStart, 40);
}

TEST(ChartEdits, WholeNumbersAndNormalisationFactors) {
  EXPECT_EQ(ParseWholeNumber("12"), 12);
  EXPECT_EQ(ParseWholeNumber(" -3 "), -3);
  EXPECT_EQ(ParseWholeNumber("+7"), 7);
  EXPECT_FALSE(ParseWholeNumber("12x"));
  EXPECT_FALSE(ParseWholeNumber(""));
  EXPECT_FALSE(ParseWholeNumber("1.5"));
  EXPECT_FALSE(ParseWholeNumber("99999999999999999999999"));

  EXPECT_EQ(ParseNormFact("2.5"), 2.5);
  EXPECT_EQ(ParseNormFact("0.1"), static_cast<double>(0.1f));  // single precision, widened
  EXPECT_FALSE(ParseNormFact("1e39"));                         // does not fit a single
  EXPECT_FALSE(ParseNormFact("1e-50"));                        // nor does this: it is no 0
  EXPECT_EQ(ParseNormFact("0"), 0.0);
  EXPECT_FALSE(ParseNormFact("abc"));
  EXPECT_EQ(ParseNormFact("250000"), 250000.0);

  const UserLocale saved = userLocale();
  UserLocale comma = saved;
  comma.decimalSeparator = QLatin1Char(',');
  setUserLocale(comma);
  const auto withComma = ParseNormFact("2,5");
  const auto withPoint = ParseNormFact("2.5");
  setUserLocale(saved);
  EXPECT_EQ(withComma, 2.5);
  EXPECT_FALSE(withPoint);
}

// A plot 100 pixels right of the view's edge, 6 pixels per channel.
ChartGeometry geometry() {
  ChartGeometry g;
  g.plot = QRectF(100, 20, 594, 400);
  g.pointAt = [](int index) {
    const int channel = index >= kChannelCount ? kChannelCount - 1 : index;
    const double y = index >= kChannelCount ? 420 : 400 - 3 * channel;
    return QPointF(100 + 6 * channel, y);
  };
  g.xAt = [](double px) { return (px - 100) / 6; };
  return g;
}

TEST(ChartPointer, MarkerPixelsAndNearness) {
  const ChartGeometry g = geometry();
  MarkerPixels p = MarkerPixelsOf(window(30, 20), g);
  EXPECT_EQ(p.left, 280);
  EXPECT_EQ(p.right, 400);
  p = MarkerPixelsOf(window(60, 40), g);
  EXPECT_EQ(p.right, 694);  // the last point when the window ends at channel 99

  EXPECT_TRUE(NearMarker(QPointF(282, 100), 280, g.plot));
  EXPECT_TRUE(NearMarker(QPointF(277.5, 100), 280, g.plot));
  EXPECT_FALSE(NearMarker(QPointF(283, 100), 280, g.plot));
  EXPECT_FALSE(NearMarker(QPointF(277, 100), 280, g.plot));
  EXPECT_FALSE(NearMarker(QPointF(280, 20), 280, g.plot));  // on the top edge
  EXPECT_FALSE(NearMarker(QPointF(280, 420), 280, g.plot));
  EXPECT_TRUE(NearMarker(QPointF(280, 21), 280, g.plot));
}

TEST(ChartPointer, SplitPointerNearAMarkerNormalAwayFromBoth) {
  const ChartGeometry g = geometry();
  const MarkerPixels p = MarkerPixelsOf(window(30, 20), g);  // 280 and 400
  using P = PointerShape;
  EXPECT_EQ(PointerAfterMove(P::Normal, QPointF(281, 100), p, g.plot), P::SplitH);
  EXPECT_EQ(PointerAfterMove(P::Normal, QPointF(398, 100), p, g.plot), P::SplitH);
  EXPECT_EQ(PointerAfterMove(P::Normal, QPointF(340, 100), p, g.plot), P::Normal);
  EXPECT_EQ(PointerAfterMove(P::SplitH, QPointF(282, 100), p, g.plot), P::SplitH);
  EXPECT_EQ(PointerAfterMove(P::SplitH, QPointF(283, 100), p, g.plot), P::Normal);
  EXPECT_EQ(PointerAfterMove(P::SplitH, QPointF(277, 100), p, g.plot), P::Normal);
  EXPECT_EQ(PointerAfterMove(P::SplitH, QPointF(403, 100), p, g.plot), P::Normal);
  EXPECT_EQ(PointerAfterMove(P::SplitH, QPointF(281, 10), p, g.plot), P::Normal);  // above the plot
  // The move pointer of a drag is left alone.
  EXPECT_EQ(PointerAfterMove(P::Move, QPointF(340, 100), p, g.plot), P::Move);
  EXPECT_EQ(PointerAfterMove(P::Move, QPointF(281, 100), p, g.plot), P::Move);
}

TEST(ChartPointer, HintText) {
  EXPECT_EQ(ChartHintText(42, 8191.9, 154.7), "(X:42 ,N:8191 ,T:154 'C)");
  EXPECT_EQ(ChartHintText(0, 1073479680, -1.5), "(X:0 ,N:1073479680 ,T:-1 'C)");
}

TEST(ChartStrokes, MarkersPeakAndCursor) {
  const ChartGeometry g = geometry();
  EvalMembers m = window(30, 20, 35);
  m.peakPos = 40;
  std::vector<Stroke> s = MarkerStrokes(m, g);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].line, QLineF(280, 420, 280, 20));
  EXPECT_EQ(s[0].colour, kMarkerColour);
  EXPECT_EQ(s[1].line, QLineF(400, 420, 400, 20));
  EXPECT_EQ(s[2].line, QLineF(340, 275, 340, 265));  // point 40 at y 280
  EXPECT_EQ(s[2].colour, kPeakColour);
  EXPECT_EQ(s[3].line, QLineF(310, 290, 310, 280));
  EXPECT_EQ(s[3].colour, kCursorColour);

  s = MarkerStrokes(window(60, 40), g);  // no right marker at the edge
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[1].colour, kPeakColour);
}

}  // namespace
