#include "archive/Controls.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <map>

#include "archive/ArchiveText.h"
#include "archive/Readout.h"
#include "base/CsvText.h"

namespace quelm {

QString ControlMarkError(const ControlMark& m) {
  if (const QString e = DosimeterIdError(m.dosimeter); !e.isEmpty()) return e;
  if (!std::isfinite(m.knownUsv) || m.knownUsv < 0 || m.knownUsv > kMaxDoseUsv)
    return QStringLiteral("a control's known dose is 0 (a background control) to %1 uSv")
        .arg(kMaxDoseUsv, 0, 'f', 0);
  if (!m.from.isValid()) return QStringLiteral("a control's known dose needs the date it holds from");
  return QString();
}

const ControlMark* MarkAt(const std::vector<ControlMark>& marks, const QString& dosimeter,
                          const QString& readoutTime) {
  const ControlMark* found = nullptr;
  if (readoutTime.isEmpty()) return nullptr;
  for (const ControlMark& m : marks) {
    if (m.dosimeter != dosimeter || ArchiveTimeText(m.from) > readoutTime) continue;
    if (!found || m.from > found->from) found = &m;
  }
  return found;
}

std::optional<double> ControlLimits::deviation(double value) const {
  if (!judged()) return std::nullopt;
  const double distance = std::fabs(value - *mean);
  if (*sd > 0) return distance / *sd;
  return distance > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

bool ControlBatch::outside(ControlKind kind, std::optional<double> tolerance) const {
  if (kind == ControlKind::Ratio && tolerance) return ratio && std::fabs(*ratio - 1) > *tolerance / 100.0;
  return kind == ControlKind::Ratio ? ratioOut : backgroundOut;
}

namespace {

ControlLimits limitsOf(const std::deque<double>& baseline) {
  ControlLimits l;
  l.baseline = static_cast<int>(baseline.size());
  if (l.baseline < kMinControlBaseline) return l;
  double mean = 0;
  for (double v : baseline) mean += v;
  mean /= static_cast<double>(baseline.size());
  double squares = 0;
  for (double v : baseline) squares += (v - mean) * (v - mean);
  l.mean = mean;
  l.sd = std::sqrt(squares / static_cast<double>(baseline.size() - 1));
  return l;
}

// Judges one kind along the batches in order.
void judge(std::vector<ControlBatch>& batches, ControlKind kind) {
  std::deque<double> baseline;
  for (ControlBatch& b : batches) {
    const std::optional<double> v = b.value(kind);
    if (!v) continue;
    const ControlLimits limits = limitsOf(baseline);
    const std::optional<double> d = limits.deviation(*v);
    const bool out = d && *d > kControlLimitSd;
    (kind == ControlKind::Ratio ? b.ratioLimits : b.backgroundLimits) = limits;
    (kind == ControlKind::Ratio ? b.ratioOut : b.backgroundOut) = out;
    if (out) continue;
    baseline.push_back(*v);
    if (static_cast<int>(baseline.size()) > kControlBaseline) baseline.pop_front();
  }
}

QString number(const std::optional<double>& v, int decimals) {
  return v ? ArchiveNumber(*v, decimals) : QString();
}

int decimalsOf(ControlKind kind) { return kind == ControlKind::Ratio ? 4 : 2; }

QString isoTime(const QString& stored, bool csv) {
  QString t = stored;
  if (csv) t.replace(QLatin1Char(' '), QLatin1Char('T'));
  return t;
}

QString field(const QString& text, bool csv) { return csv ? CsvField(text) : PlainField(text); }

}  // namespace

std::vector<ControlBatch> EvaluateControlBatches(const std::vector<ControlReading>& readings) {
  struct Sums {
    double ratio = 0, background = 0;
    int ratios = 0, backgrounds = 0;
  };
  std::map<std::pair<QString, QString>, Sums> byBatch;  // by day, then reader
  for (const ControlReading& r : readings) {
    if (r.readoutTime.size() < 10 || !std::isfinite(r.measuredUsv)) continue;
    Sums& s = byBatch[{r.readoutTime.left(10), r.device}];
    if (r.knownUsv > 0) {
      s.ratio += r.measuredUsv / r.knownUsv;
      ++s.ratios;
    } else {
      s.background += r.measuredUsv;
      ++s.backgrounds;
    }
  }
  std::vector<ControlBatch> batches;
  batches.reserve(byBatch.size());
  for (const auto& [key, s] : byBatch) {
    ControlBatch b;
    b.day = key.first;
    b.device = key.second;
    b.ratioControls = s.ratios;
    b.backgroundControls = s.backgrounds;
    if (s.ratios) b.ratio = s.ratio / s.ratios;
    if (s.backgrounds) b.background = s.background / s.backgrounds;
    batches.push_back(b);
  }
  judge(batches, ControlKind::Ratio);
  judge(batches, ControlKind::Background);
  return batches;
}

ControlChartData MakeControlChart(const std::vector<ControlBatch>& batches, std::optional<double> tolerance,
                                  const std::optional<ReportPeriod>& range, int last) {
  ControlChartData chart;
  const QString fromDay = range ? range->from.toString(QStringLiteral("yyyy-MM-dd")) : QString();
  const QString toDay = range ? range->to.toString(QStringLiteral("yyyy-MM-dd")) : QString();
  for (const ControlKind kind : {ControlKind::Ratio, ControlKind::Background}) {
    ControlSeries s;
    s.kind = kind;
    if (kind == ControlKind::Ratio) s.tolerance = tolerance;
    for (const ControlBatch& b : batches) {
      const std::optional<double> v = b.value(kind);
      if (!v || (range && (b.day < fromDay || b.day > toDay))) continue;
      const std::optional<double> d = b.limits(kind).deviation(*v);
      ControlChartPoint p{
          b.device, b.day, *v, b.limits(kind), d && *d > kControlWarningSd, b.outside(kind, tolerance)};
      s.points.push_back(p);
    }
    if (!range && last > 0 && static_cast<int>(s.points.size()) > last)
      s.points.erase(s.points.begin(), s.points.end() - last);
    if (s.points.empty()) continue;
    double low = s.points.front().value, high = low;
    const auto take = [&](double v) {
      low = std::min(low, v);
      high = std::max(high, v);
    };
    for (const ControlChartPoint& p : s.points) {
      take(p.value);
      if (p.limits.judged() && std::isfinite(*p.limits.sd)) {
        take(*p.limits.mean - kControlLimitSd * *p.limits.sd);
        take(*p.limits.mean + kControlLimitSd * *p.limits.sd);
      }
    }
    if (s.tolerance) {
      take(1 - *s.tolerance / 100);
      take(1 + *s.tolerance / 100);
    }
    // Some room around; a flat series still gets an axis.
    const double pad = high > low ? (high - low) * 0.08 : std::max(std::fabs(high) * 0.05, 0.01);
    s.low = low - pad;
    s.high = high + pad;
    chart.series.push_back(std::move(s));
  }
  chart.note = QStringLiteral(
                   "A batch is one reader's day; each is held against the mean and standard deviation of "
                   "the %1 batches before it within their limits (at least %2).")
                   .arg(kControlBaseline)
                   .arg(kMinControlBaseline);
  if (tolerance)
    chart.note += QStringLiteral(" The ratio is out beyond 1 ± %1 % ([Dose archive] ControlTolerance).")
                      .arg(ArchiveNumber(*tolerance, 1));
  return chart;
}

QString ControlKindTitle(ControlKind kind) {
  return kind == ControlKind::Ratio ? QStringLiteral("Ratio measured/known")
                                    : QStringLiteral("Background controls (µSv)");
}

QString ControlStatusText(const ControlBatch& b, ControlKind kind, std::optional<double> tolerance) {
  const std::optional<double> v = b.value(kind);
  if (!v) return QString();
  if (kind == ControlKind::Ratio && tolerance)
    return b.outside(kind, tolerance) ? QStringLiteral("out of tolerance") : QStringLiteral("in tolerance");
  const ControlLimits& l = b.limits(kind);
  if (!l.judged()) return QStringLiteral("not judged");
  if (b.outside(kind, tolerance)) return QStringLiteral("out of limits");
  const std::optional<double> d = l.deviation(*v);
  return d && *d > kControlWarningSd ? QStringLiteral("beyond 2 SD") : QStringLiteral("in limits");
}

QString ControlBatchCsvHeader() {
  return QStringLiteral("reader,day,kind,controls,value,mean,sd,lower_3sd,upper_3sd,baseline,status");
}

QStringList ControlBatchRows(const ControlBatch& b, std::optional<double> tolerance, bool csv) {
  QStringList rows;
  for (const ControlKind kind : {ControlKind::Ratio, ControlKind::Background}) {
    const std::optional<double> v = b.value(kind);
    if (!v) continue;
    const ControlLimits& l = b.limits(kind);
    const int decimals = decimalsOf(kind);
    std::optional<double> lower, upper;
    if (l.judged()) {
      lower = *l.mean - kControlLimitSd * *l.sd;
      upper = *l.mean + kControlLimitSd * *l.sd;
    }
    rows << QStringList{field(b.device, csv),
                        b.day,
                        kind == ControlKind::Ratio ? QStringLiteral("ratio") : QStringLiteral("background"),
                        QString::number(b.controls(kind)),
                        number(v, decimals),
                        number(l.mean, decimals),
                        number(l.sd, decimals),
                        number(lower, decimals),
                        number(upper, decimals),
                        QString::number(l.baseline),
                        ControlStatusText(b, kind, tolerance)}
                .join(csv ? QLatin1Char(',') : QLatin1Char('\t'));
  }
  return rows;
}

QString ControlMarkCsvHeader() { return QStringLiteral("dosimeter,known_usv,from,marked_at"); }

QString ControlMarkRow(const ControlMark& m, bool csv) {
  return QStringList{field(m.dosimeter, csv), ArchiveNumber(m.knownUsv),
                     isoTime(ArchiveTimeText(m.from), csv), m.markedAt}
      .join(csv ? QLatin1Char(',') : QLatin1Char('\t'));
}

QString ControlMarkLine(const ControlMark& m) {
  return QStringLiteral("Control: %1 known dose %2 uSv from %3")
      .arg(PlainField(m.dosimeter), ArchiveNumber(m.knownUsv), ArchiveTimeText(m.from));
}

}  // namespace quelm
