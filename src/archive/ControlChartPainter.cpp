#include "archive/ControlChartPainter.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>

#include "archive/ArchiveText.h"
#include "archive/ReportPainter.h"
#include "base/ChartColours.h"
#include "base/ErrorCodes.h"
#include "base/NumberFormat.h"

namespace quelm {

namespace {

const QColor kOutColour(190, 0, 0);
const QColor kToleranceColour(120, 0, 120);

int decimalsOf(ControlKind kind) { return kind == ControlKind::Ratio ? 3 : 2; }

QString dayText(const QString& day) {
  const QDate d = QDate::fromString(day, Qt::ISODate);
  return d.isValid() ? LocalDateText(QDateTime(d, QTime(0, 0), Qt::UTC)) : day;
}

void paintSeries(QPainter& p, const QRectF& area, const ControlSeries& s, const QFontMetricsF& fm,
                 double pen) {
  const int decimals = decimalsOf(s.kind);
  const double labelWidth = std::max(fm.horizontalAdvance(formatFloat(s.high, decimals)),
                                     fm.horizontalAdvance(formatFloat(s.low, decimals)));
  const QRectF plot = area.adjusted(labelWidth + fm.height() * 0.6, fm.height() * 1.4, -fm.height() * 0.5,
                                    -fm.height() * 1.4);
  if (plot.width() <= 0 || plot.height() <= 0) return;
  const auto yOf = [&](double v) { return plot.bottom() - (v - s.low) / (s.high - s.low) * plot.height(); };
  const size_t n = s.points.size();
  const double step = plot.width() / static_cast<double>(std::max<size_t>(n, 1));
  const auto xOf = [&](size_t i) { return plot.left() + step * (static_cast<double>(i) + 0.5); };

  p.setPen(Qt::black);
  p.drawText(QPointF(area.left(), area.top() + fm.ascent()), ControlKindTitle(s.kind));
  p.setPen(QPen(Qt::black, pen));
  p.setBrush(Qt::NoBrush);
  p.drawRect(plot);
  for (const double v : {s.low, s.high}) {
    const QRectF label(area.left(), yOf(v) - fm.height() / 2, plot.left() - area.left() - fm.height() * 0.3,
                       fm.height());
    p.drawText(label, Qt::AlignRight | Qt::AlignVCenter, formatFloat(v, decimals));
  }
  if (n) {
    const QRectF below(plot.left(), plot.bottom() + fm.height() * 0.2, plot.width(), fm.height());
    p.drawText(below, Qt::AlignLeft | Qt::AlignTop, dayText(s.points.front().day));
    p.drawText(below, Qt::AlignRight | Qt::AlignTop, dayText(s.points.back().day));
    p.drawText(below, Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("%1 batches").arg(n));
  }

  p.save();
  p.setClipRect(plot.adjusted(-pen, -pen, pen, pen));
  p.setRenderHint(QPainter::Antialiasing);
  // What each batch was held against, as steps: the mean, +-2 and +-3 SD.
  const struct {
    double sds;
    QColor colour;
    Qt::PenStyle style;
  } lines[] = {{0, kReferenceColour, Qt::SolidLine},
               {kControlWarningSd, kStandOutColour, Qt::DashLine},
               {-kControlWarningSd, kStandOutColour, Qt::DashLine},
               {kControlLimitSd, kOutColour, Qt::SolidLine},
               {-kControlLimitSd, kOutColour, Qt::SolidLine}};
  for (const auto& line : lines) {
    QPainterPath path;
    bool drawing = false;
    for (size_t i = 0; i < n; ++i) {
      const ControlLimits& l = s.points[i].limits;
      if (!l.judged() || !std::isfinite(*l.sd)) {
        drawing = false;
        continue;
      }
      const double y = yOf(*l.mean + line.sds * *l.sd);
      const double x0 = xOf(i) - step / 2, x1 = xOf(i) + step / 2;
      if (drawing) {
        path.lineTo(x0, y);
      } else {
        path.moveTo(x0, y);
        drawing = true;
      }
      path.lineTo(x1, y);
    }
    p.setPen(QPen(line.colour, pen, line.style));
    p.drawPath(path);
  }
  if (s.tolerance) {
    p.setPen(QPen(kToleranceColour, pen * 1.2, Qt::DashDotLine));
    for (const double v : {1 - *s.tolerance / 100, 1 + *s.tolerance / 100})
      p.drawLine(QPointF(plot.left(), yOf(v)), QPointF(plot.right(), yOf(v)));
  }
  // The batches, joined in order.
  QPainterPath trace;
  for (size_t i = 0; i < n; ++i) {
    const QPointF at(xOf(i), yOf(s.points[i].value));
    i ? trace.lineTo(at) : trace.moveTo(at);
  }
  p.setPen(QPen(QColor(150, 150, 150), pen * 0.8));
  p.drawPath(trace);
  const double r = std::clamp(step * 0.3, fm.height() * 0.12, fm.height() * 0.3);
  for (size_t i = 0; i < n; ++i) {
    const ControlChartPoint& pt = s.points[i];
    const QColor c = pt.out ? kOutColour : pt.warning ? kStandOutColour : kPlainColour;
    p.setPen(QPen(c, pen));
    // A batch not judged yet is drawn hollow.
    p.setBrush(pt.limits.judged() || pt.out ? QBrush(c) : QBrush(Qt::white));
    p.drawEllipse(QPointF(xOf(i), yOf(pt.value)), r, r);
  }
  p.restore();
}

}  // namespace

void PaintControlChart(QPainter& p, const QRectF& area, const ControlChartData& chart) {
  p.save();
  const QFontMetricsF fm(p.font(), p.device());
  const double pen = std::max(1.0, fm.height() / 14);
  // The legend across the top.
  const std::pair<QColor, QString> legend[] = {
      {kPlainColour, QStringLiteral("within limits")},
      {kStandOutColour, QStringLiteral("beyond ±2 SD")},
      {kOutColour, QStringLiteral("beyond ±3 SD: out of limits, to review")},
      {kReferenceColour, QStringLiteral("mean of the %1 batches before").arg(kControlBaseline)}};
  double x = area.left();
  for (const auto& [colour, text] : legend) {
    p.fillRect(QRectF(x, area.top() + fm.height() * 0.3, fm.height() * 0.8, fm.height() * 0.6), colour);
    x += fm.height();
    p.setPen(Qt::black);
    p.drawText(QPointF(x, area.top() + fm.ascent()), text);
    x += fm.horizontalAdvance(text) + fm.height();
  }
  const QRectF panels = area.adjusted(0, fm.height() * 1.3, 0, 0);
  if (chart.series.empty()) {
    p.drawText(panels, Qt::AlignCenter, QStringLiteral("No control batches"));
  } else {
    const double h = panels.height() / static_cast<double>(chart.series.size());
    for (size_t i = 0; i < chart.series.size(); ++i)
      paintSeries(p, QRectF(panels.left(), panels.top() + h * static_cast<double>(i), panels.width(), h),
                  chart.series[i], fm, pen);
  }
  p.restore();
}

int WriteControlChartPdf(const ControlChartData& chart, const QStringList& heading, const QString& path,
                         QString* detail) {
  *detail = path;
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("Control chart"));
    writer.setCreator(QStringLiteral("Quelm"));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0),
                                     QPageLayout::Millimeter));
    QPainter p;
    if (!p.begin(&writer)) return kErrFileWrite;
    const double mm = writer.logicalDpiX() / 25.4;
    const QRectF page(18 * mm, 15 * mm, (297 - 36) * mm, (210 - 30) * mm);
    QFont font = p.font();
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPointSizeF(16);
    font.setBold(true);
    p.setFont(font);
    double y = page.top();
    p.drawText(QRectF(page.left(), y, page.width(), 10 * mm), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Control chart"));
    y += 12 * mm;
    font.setPointSizeF(10);
    font.setBold(false);
    p.setFont(font);
    for (const QString& line : heading) {
      p.drawText(QRectF(page.left(), y, page.width(), 5.5 * mm), Qt::AlignLeft | Qt::AlignVCenter, line);
      y += 5.5 * mm;
    }
    const double noteHeight = 10 * mm;
    font.setPointSizeF(9);
    p.setFont(font);
    PaintControlChart(
        p, QRectF(page.left(), y + 3 * mm, page.width(), page.bottom() - y - 3 * mm - noteHeight), chart);
    p.drawText(QRectF(page.left(), page.bottom() - noteHeight, page.width(), noteHeight),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, chart.note);
    if (!p.end()) return kErrFileWrite;
  }
  return WritePdfFile(buffer.data(), path, detail);
}

}  // namespace quelm
