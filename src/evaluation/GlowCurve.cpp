#include "evaluation/GlowCurve.h"

#include <QList>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

#include "evaluation/DoseChain.h"
#include "measurement/RangeCode.h"

namespace quelm {

namespace {

struct RawPoint {
  double kelvin;
  double signal;
  int origin;
};

// Indices of the longest strictly rising run of temperatures (not necessarily
// adjacent points), by patience sorting.
std::vector<size_t> longestRise(const std::vector<RawPoint>& points) {
  const size_t n = points.size();
  std::vector<size_t> tails;  // tails[len-1]: index ending the best run of that length
  std::vector<size_t> previous(n, n);
  for (size_t i = 0; i < n; ++i) {
    const auto pos = std::lower_bound(tails.begin(), tails.end(), points[i].kelvin,
                                      [&](size_t t, double k) { return points[t].kelvin < k; });
    // An equal temperature extends nothing the earlier point does not: the
    // earlier one stays, the repeat is what does not rise.
    if (pos != tails.end() && points[*pos].kelvin == points[i].kelvin) continue;
    const size_t len = static_cast<size_t>(pos - tails.begin());
    if (len > 0) previous[i] = tails[len - 1];
    if (pos == tails.end())
      tails.push_back(i);
    else
      *pos = i;
  }
  std::vector<size_t> kept;
  for (size_t i = tails.empty() ? n : tails.back(); i < n; i = previous[i]) kept.push_back(i);
  std::reverse(kept.begin(), kept.end());
  return kept;
}

QString celsiusText(double kelvin) { return QString::number(kelvin - kKelvinAtZeroCelsius, 'f', 1); }

// Empty for a temperature the peak expressions can take.
QString temperatureFault(double kelvin) {
  if (!(kelvin > 0))
    return QStringLiteral("temperature %1 'C is not above absolute zero").arg(celsiusText(kelvin));
  if (kelvin > kMaxCurveKelvin)
    return QStringLiteral("temperature %1 'C is beyond %2 K, out of the peak expressions' range")
        .arg(celsiusText(kelvin))
        .arg(kMaxCurveKelvin);
  return QString();
}

void keepRising(const std::vector<RawPoint>& points, const QString& what, GlowCurve* curve) {
  const std::vector<size_t> kept = longestRise(points);
  size_t next = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    if (next < kept.size() && kept[next] == i) {
      curve->kelvin.push_back(points[i].kelvin);
      curve->signal.push_back(points[i].signal);
      curve->origin.push_back(points[i].origin);
      ++next;
    } else {
      curve->leftOut << QStringLiteral("%1 %2: temperature %3 'C does not rise with the heating")
                            .arg(what)
                            .arg(points[i].origin)
                            .arg(celsiusText(points[i].kelvin));
    }
  }
}

}  // namespace

GlowCurve GlowCurveOfBlock(const BlockRecord& record) {
  GlowCurve curve;
  std::vector<RawPoint> points;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const int16_t tenths = record.ChannelTemps[ch];
    const double kelvin = tenths / 10.0 + kKelvinAtZeroCelsius;
    const RangeDecoded d = DecodeRangeWord(uint16_t{record.RawValues[kAuxValueCount + ch]});
    if (!d.valid)
      curve.leftOut << QStringLiteral("channel %1: invalid range code %2").arg(ch).arg(d.range);
    else if (const QString why = temperatureFault(kelvin); !why.isEmpty())
      curve.leftOut << QStringLiteral("channel %1: %2").arg(ch).arg(why);
    else
      points.push_back({kelvin, static_cast<double>(d.value), ch});
  }
  keepRising(points, QStringLiteral("channel"), &curve);

  // The channels are sampled at equal intervals.
  const size_t n = curve.kelvin.size();
  if (n >= 2 && record.SamplingSpeed > 0) {
    const double seconds = (curve.origin.back() - curve.origin.front()) * record.SamplingSpeed * 0.01;
    curve.heatingRate = (curve.kelvin.back() - curve.kelvin.front()) / seconds;
  }
  uint32_t values[kRawValueCount] = {};
  uint32_t ranges[kRawValueCount] = {};
  DecodeBlockValues(record, values, ranges);
  const EvalMembers m = InitialEvalMembers(record, values);
  // The window's bounds are the temperatures of its outermost kept channels:
  // a channel left out above is a glitch, and its raw temperature would move
  // the window anywhere.
  const int first = m.evalStart, last = m.evalStart + m.evalLength - 1;
  const auto begin = std::lower_bound(curve.origin.begin(), curve.origin.end(), first);
  const auto end = std::upper_bound(curve.origin.begin(), curve.origin.end(), last);
  if (begin != end) {
    curve.window = std::pair{curve.kelvin[static_cast<size_t>(begin - curve.origin.begin())],
                             curve.kelvin[static_cast<size_t>(end - curve.origin.begin()) - 1]};
  } else {
    const QString channels = first == last
                                 ? QStringLiteral("channel %1 left out").arg(first)
                                 : QStringLiteral("channels %1..%2 all left out").arg(first).arg(last);
    curve.windowNote = channels + QStringLiteral("; the dosimetric peak is sought on the whole curve");
  }
  return curve;
}

bool ParseGlowCurveText(const QByteArray& text, GlowCurve* curve, QString* error) {
  *curve = GlowCurve();
  static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
  std::vector<RawPoint> points;
  const QList<QByteArray> lines = text.split('\n');
  bool titlesAllowed = true;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString line = QString::fromUtf8(lines[i]).trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    const QStringList cells = line.split(separators, Qt::SkipEmptyParts);
    bool okT = false, okS = false;
    const double kelvin = cells.size() == 2 ? cells[0].toDouble(&okT) : 0;
    const double signal = cells.size() == 2 ? cells[1].toDouble(&okS) : 0;
    const int lineNumber = static_cast<int>(i + 1);
    if (!(okT && okS && std::isfinite(kelvin) && std::isfinite(signal))) {
      if (titlesAllowed) {
        titlesAllowed = false;
        continue;
      }
      // Quoted for the operator: a binary file must not reach the terminal.
      QString shown = line.left(60);
      for (QChar& c : shown)
        if (!c.isPrint()) c = QLatin1Char('?');
      *error = QStringLiteral("line %1 is no pair of numbers (temperature in K, signal): \"%2\"")
                   .arg(lineNumber)
                   .arg(shown);
      return false;
    }
    titlesAllowed = false;
    if (const QString why = temperatureFault(kelvin); !why.isEmpty()) {
      curve->leftOut << QStringLiteral("line %1: %2").arg(lineNumber).arg(why);
      continue;
    }
    points.push_back({kelvin, signal, lineNumber});
  }
  // A file may list its points in any order; only equal temperatures clash.
  std::stable_sort(points.begin(), points.end(),
                   [](const RawPoint& a, const RawPoint& b) { return a.kelvin < b.kelvin; });
  keepRising(points, QStringLiteral("line"), curve);
  if (curve->kelvin.size() < 2) {
    *error = QStringLiteral("the curve holds fewer than two points");
    return false;
  }
  return true;
}

}  // namespace quelm
