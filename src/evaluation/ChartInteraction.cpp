#include "evaluation/ChartInteraction.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

#include "base/UserLocale.h"
#include "measurement/BlockRecord.h"

namespace quelm {

const ChartActionDescriptor kChartActions[kChartActionCount] = {
    {ChartAction::CursorLeft, "ChartCursorLeftItem", "Cursor to left", Qt::Key_Left},
    {ChartAction::CursorRight, "ChartCursorRightItem", "Cursor to right", Qt::Key_Right},
    {ChartAction::EvalStartLeft, "ChartEvalStartLeftItem", "Left marker to left", Qt::Key_Z},
    {ChartAction::EvalStartRight, "ChartEvalStartRightItem", "Left marker to right", Qt::Key_X},
    {ChartAction::EvalLengthLeft, "ChartEvalLengthLeftItem", "Right marker to left", Qt::Key_N},
    {ChartAction::EvalLengthRight, "ChartEvalLengthRightItem", "Right marker to right", Qt::Key_M},
    {ChartAction::NFIncrease10, "ChartNFInrease10Item", "+10   %", Qt::Key_Q},
    {ChartAction::NFIncrease1, "ChartNFInrease1Item", "+  1   %", Qt::Key_W},
    {ChartAction::NFIncrease01, "ChartNFInrease01Item", "+  0.1%", Qt::Key_E},
    {ChartAction::NFDecrease10, "ChartNFDecrease10Item", "-10   %", Qt::Key_A},
    {ChartAction::NFDecrease1, "ChartNFDecrease1Item", "-  1   %", Qt::Key_S},
    {ChartAction::NFDecrease01, "ChartNFDecrease01Item", "-  0.1%", Qt::Key_D},
    {ChartAction::Deconvolution, "ChartDeconvolutionItem", "Deconvolution", Qt::Key_P},
    {ChartAction::AdoptDose, "ChartAdoptDoseItem", "Adopt as dose of record…", Qt::Key_R},
};

bool ApplyChartAction(ChartAction action, EvalMembers& m) {
  switch (action) {
    case ChartAction::CursorLeft:
      if (m.cursorPos == 0) return false;
      --m.cursorPos;
      return true;
    case ChartAction::CursorRight:
      if (m.cursorPos >= kChannelCount - 1) return false;
      ++m.cursorPos;
      return true;
    case ChartAction::EvalStartLeft:
      if (m.evalStart == 0) return false;
      --m.evalStart;
      ++m.evalLength;
      return true;
    case ChartAction::EvalStartRight:
      if (m.evalLength <= 1) return false;
      ++m.evalStart;
      --m.evalLength;
      return true;
    case ChartAction::EvalLengthLeft:
      if (m.evalLength <= 1) return false;
      --m.evalLength;
      return true;
    case ChartAction::EvalLengthRight:
      if (m.evalStart + m.evalLength >= kChannelCount) return false;
      ++m.evalLength;
      return true;
    // A decrease multiplies by the reciprocal of the matching increase, so
    // that the pair restores the factor.
    case ChartAction::NFIncrease10:
      m.normFact *= 1.1;
      return true;
    case ChartAction::NFIncrease1:
      m.normFact *= 1.01;
      return true;
    case ChartAction::NFIncrease01:
      m.normFact *= 1.001;
      return true;
    case ChartAction::NFDecrease10:
      m.normFact *= 1 / 1.1;
      return true;
    case ChartAction::NFDecrease1:
      m.normFact *= 1 / 1.01;
      return true;
    case ChartAction::NFDecrease01:
      m.normFact *= 1 / 1.001;
      return true;
    case ChartAction::Deconvolution:
    case ChartAction::AdoptDose:
      return false;
  }
  return false;
}

int ChannelOfX(double x) {
  if (std::isnan(x)) return -1;
  // Far outside the plot (a strong zoom) only the side matters.
  return static_cast<int>(std::clamp(x, -1.0e6, 1.0e6));
}

void DragLeftMarkerTo(EvalMembers& m, int c) {
  if (c < 0) return;
  if (c >= m.evalStart && c + m.evalLength >= kChannelCount) c = kChannelCount - m.evalLength;
  m.evalStart = c;
}

void DragRightMarkerTo(EvalMembers& m, int c) {
  if (c < 0) return;
  if (c >= kChannelCount)
    m.evalLength = kChannelCount - m.evalStart;
  else if (c > m.evalStart)
    m.evalLength = c - m.evalStart;
  else
    m.evalLength = 1;
}

void SetEvalStart(EvalMembers& m, int64_t start) {
  m.evalStart = static_cast<int>(std::clamp<int64_t>(start, 0, kChannelCount - 1));
  m.evalLength = std::clamp(m.evalLength, 1, kChannelCount - m.evalStart);
}

void SetEvalLength(EvalMembers& m, int64_t length) {
  m.evalLength = static_cast<int>(std::clamp<int64_t>(length, 1, kChannelCount - m.evalStart));
}

std::optional<int64_t> ParseWholeNumber(const QString& text) {
  static const QRegularExpression whole(QStringLiteral("^[+-]?[0-9]+$"));
  const QString t = text.trimmed();
  if (!whole.match(t).hasMatch()) return std::nullopt;
  bool ok = false;
  const qlonglong v = t.toLongLong(&ok);
  if (!ok) return std::nullopt;
  return v;
}

std::optional<double> ParseNormFact(const QString& text) {
  const std::optional<double> v = parseUserFloat(text);
  if (!v) return std::nullopt;
  const float single = static_cast<float>(*v);
  // Too large or too small for a single: 1e-50 would be kept as 0.
  if (!std::isfinite(single) || (single == 0 && *v != 0)) return std::nullopt;
  return static_cast<double>(single);
}

MarkerPixels MarkerPixelsOf(const EvalMembers& m, const ChartGeometry& g) {
  MarkerPixels p;
  p.left = g.pointAt(m.evalStart).x();
  const int end = m.evalStart + m.evalLength;
  p.right = g.pointAt(end >= kChannelCount ? kChannelCount : end).x();
  return p;
}

bool NearMarker(const QPointF& pos, double markerX, const QRectF& plot) {
  return std::fabs(pos.x() - markerX) < kNearPixels && pos.y() > plot.top() && pos.y() < plot.bottom();
}

PointerShape PointerAfterMove(PointerShape current, const QPointF& pos, const MarkerPixels& mk,
                              const QRectF& plot) {
  if (current == PointerShape::Normal && (NearMarker(pos, mk.left, plot) || NearMarker(pos, mk.right, plot)))
    current = PointerShape::SplitH;
  if (current == PointerShape::SplitH) {
    const double x = pos.x();
    const bool away = pos.y() < plot.top() || pos.y() > plot.bottom() || x <= mk.left - kNearPixels ||
                      (x >= mk.left + kNearPixels && x <= mk.right - kNearPixels) ||
                      x >= mk.right + kNearPixels;
    if (away) current = PointerShape::Normal;
  }
  return current;
}

QString ChartHintText(int channel, double value, double temperature) {
  auto whole = [](double v) { return std::isfinite(v) ? static_cast<qint64>(v) : 0; };
  return QStringLiteral("(X:%1 ,N:%2 ,T:%3 'C)").arg(channel).arg(whole(value)).arg(whole(temperature));
}

std::vector<Stroke> MarkerStrokes(const EvalMembers& m, const ChartGeometry& g) {
  std::vector<Stroke> s;
  const double top = g.plot.top(), bottom = g.plot.bottom();
  const double left = g.pointAt(m.evalStart).x();
  s.push_back({QLineF(left, bottom, left, top), kMarkerColour});
  if (m.evalStart + m.evalLength < kChannelCount) {
    const double right = g.pointAt(m.evalStart + m.evalLength).x();
    s.push_back({QLineF(right, bottom, right, top), kMarkerColour});
  }
  const QPointF peak = g.pointAt(m.peakPos);
  s.push_back({QLineF(peak.x(), peak.y() - 5, peak.x(), peak.y() - 15), kPeakColour});
  const QPointF cursor = g.pointAt(m.cursorPos);
  s.push_back({QLineF(cursor.x(), cursor.y() - 5, cursor.x(), cursor.y() - 15), kCursorColour});
  return s;
}

}  // namespace quelm
