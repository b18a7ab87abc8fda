#include "archive/ReportPainter.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

#include "archive/ArchiveText.h"
#include "archive/ControlChartPainter.h"
#include "base/ErrorCodes.h"
#include "base/NumberFormat.h"

namespace quelm {

namespace {

const QColor kBarColour(70, 110, 170);
// Apart from the limit's dark red: a high dose is not the limit.
const QColor kHighColour(230, 120, 0);
const QColor kLineColour(20, 130, 60);
const QColor kLimitColour(150, 0, 0);
const QColor kMarkedRow(252, 228, 228);

// Where the bars go: inside the axis labels and the legend.
QRectF plotRect(const QFontMetricsF& fm, const QRectF& area, const DoseChartData& c) {
  const double left =
      fm.horizontalAdvance(formatFloat(c.doseTop, 0) + QStringLiteral(" µSv")) + fm.height() * 0.6;
  const double right =
      fm.horizontalAdvance(formatFloat(c.cumulativeTop, 0) + QStringLiteral(" µSv")) + fm.height() * 0.6;
  return area.adjusted(left, fm.height() * 1.6, -right, -fm.height() * 1.5);
}

double xOf(const QRectF& plot, const DoseChartData& c, const QDateTime& t) {
  const double span = static_cast<double>(c.from.secsTo(c.to));
  const double at = static_cast<double>(c.from.secsTo(t));
  return plot.left() + std::clamp(at / span, 0.0, 1.0) * plot.width();
}

double barWidth(const QRectF& plot, const DoseChartData& c) {
  const double n = static_cast<double>(std::max<size_t>(c.points.size(), 1));
  return std::clamp(plot.width() / (n * 2.5), 1.5, plot.width() / 40);
}

}  // namespace

void PaintDoseChart(QPainter& p, const QRectF& area, const DoseChartData& c) {
  p.save();
  const QFontMetricsF fm(p.font(), p.device());
  const QRectF plot = plotRect(fm, area, c);
  const double pen = std::max(1.0, fm.height() / 14);
  p.setRenderHint(QPainter::Antialiasing);

  // Axes and their scale: doses on the left, the year's sum on the right.
  p.setPen(QPen(Qt::black, pen));
  p.drawRect(plot);
  for (int i = 0; i <= 2; ++i) {
    const double y = plot.bottom() - plot.height() * i / 2;
    p.setPen(QPen(QColor(200, 200, 200), pen * 0.6, Qt::DotLine));
    if (i == 1) p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    p.setPen(Qt::black);
    const QString left = formatFloat(c.doseTop * i / 2, 0) + QStringLiteral(" µSv");
    const QString right = formatFloat(c.cumulativeTop * i / 2, 0) + QStringLiteral(" µSv");
    p.drawText(
        QRectF(area.left(), y - fm.height() / 2, plot.left() - area.left() - fm.height() * 0.3, fm.height()),
        Qt::AlignRight | Qt::AlignVCenter, left);
    p.drawText(QRectF(plot.right() + fm.height() * 0.3, y - fm.height() / 2, area.right() - plot.right(),
                      fm.height()),
               Qt::AlignLeft | Qt::AlignVCenter, right);
  }
  p.drawText(QRectF(plot.left(), plot.bottom() + fm.height() * 0.2, plot.width(), fm.height()),
             Qt::AlignLeft | Qt::AlignTop, LocalDateText(c.from));
  p.drawText(QRectF(plot.left(), plot.bottom() + fm.height() * 0.2, plot.width(), fm.height()),
             Qt::AlignRight | Qt::AlignTop, LocalDateText(c.to));

  // Legend above the plot.
  const QString legend[] = {
      QStringLiteral("Dose per read-out (left)"), QStringLiteral("At or above the notification level"),
      QStringLiteral("Year's cumulative dose (right)"), QStringLiteral("Annual limit (right)")};
  const QColor colours[] = {kBarColour, kHighColour, kLineColour, kLimitColour};
  double x = plot.left();
  for (int i = 0; i < 4; ++i) {
    p.fillRect(QRectF(x, area.top() + fm.height() * 0.3, fm.height() * 0.8, fm.height() * 0.6), colours[i]);
    x += fm.height();
    p.setPen(Qt::black);
    p.drawText(QPointF(x, area.top() + fm.ascent()), legend[i]);
    x += fm.horizontalAdvance(legend[i]) + fm.height();
  }

  p.setClipRect(plot.adjusted(-pen, -pen, pen, pen));
  const double w = barWidth(plot, c);
  for (const DoseChartPoint& pt : c.points) {
    const double h = plot.height() * pt.dose / c.doseTop;
    p.fillRect(QRectF(xOf(plot, c, pt.time) - w / 2, plot.bottom() - h, w, h),
               pt.high ? kHighColour : kBarColour);
  }
  const auto cumulativeY = [&](double v) { return plot.bottom() - plot.height() * v / c.cumulativeTop; };
  // The year's sum climbs at each read-out and holds between them.
  QPainterPath line;
  int year = 0;
  for (const DoseChartPoint& pt : c.points) {
    const double px = xOf(plot, c, pt.time);
    if (pt.time.date().year() != year) {
      year = pt.time.date().year();
      line.moveTo(px, cumulativeY(pt.yearCumulative - pt.dose));
    }
    line.lineTo(px, line.currentPosition().y());
    line.lineTo(px, cumulativeY(pt.yearCumulative));
  }
  if (!c.points.empty()) line.lineTo(plot.right(), line.currentPosition().y());
  p.setPen(QPen(kLineColour, pen * 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawPath(line);
  if (c.annualLimit > 0) {
    const double y = cumulativeY(c.annualLimit);
    p.setPen(QPen(kLimitColour, pen * 1.5, Qt::DashLine));
    p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
  }
  p.restore();
}

int DoseChartPointAt(const QFont& font, QPaintDevice* device, const QRectF& area, const DoseChartData& c,
                     const QPointF& pos) {
  const QRectF plot = plotRect(QFontMetricsF(font, device), area, c);
  if (!plot.adjusted(-4, -4, 4, 4).contains(pos)) return -1;
  const double reach = std::max(barWidth(plot, c) / 2, 4.0);
  int best = -1;
  double bestDistance = reach;
  for (size_t i = 0; i < c.points.size(); ++i) {
    const double d = std::fabs(xOf(plot, c, c.points[i].time) - pos.x());
    if (d <= bestDistance) {
      best = static_cast<int>(i);
      bestDistance = d;
    }
  }
  return best;
}

namespace {

class PagePainter {
 public:
  PagePainter(QPainter& p, QPagedPaintDevice& device) : p_(p) {
    mm_ = device.logicalDpiX() / 25.4;
    base_ = p.font();
    base_.setPointSizeF(10);
    // Without ligatures: "fi" stays two letters that a search of the PDF
    // and a copied text find.
    base_.setStyleStrategy(QFont::PreferNoShaping);
  }

  QRectF rect(double x, double y, double w, double h) const {
    return QRectF(x * mm_, y * mm_, w * mm_, h * mm_);
  }
  QFont font(double points, bool bold = false) const {
    QFont f = base_;
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
  }
  void text(double x, double y, double w, double h, const QString& s, int flags, const QFont& f) {
    p_.setFont(f);
    const QRectF r = rect(x, y, w, h);
    // A cell that cannot hold its text shows where it ends rather than cutting it.
    const QString shown = QFontMetricsF(f, p_.device()).elidedText(s, Qt::ElideRight, r.width());
    p_.drawText(r, flags | Qt::AlignVCenter, shown);
  }
  void line(double x1, double y1, double x2, double y2) {
    p_.drawLine(QPointF(x1 * mm_, y1 * mm_), QPointF(x2 * mm_, y2 * mm_));
  }

  void page(const ReportDocument& d, const ReportPage& page, int pages) {
    using namespace report;
    p_.setPen(Qt::black);
    double y = kMargin;
    if (page.heading) {
      text(kMargin, y, kBodyWidth, kTitleHeight, d.title, Qt::AlignLeft, font(16, true));
      y += kTitleHeight;
      for (const QString& s : d.heading) {
        text(kMargin, y, kBodyWidth, kLineHeight, s, Qt::AlignLeft, font(10));
        y += kLineHeight;
      }
      y += kGap;
      for (const auto& [caption, value] : d.figures) {
        text(kMargin, y, 90, kLineHeight, caption + QLatin1Char(':'), Qt::AlignLeft, font(10));
        text(kMargin + 90, y, 45, kLineHeight, value, Qt::AlignRight, font(10, true));
        y += kLineHeight;
      }
      y += kGap;
      if (d.chart) {
        p_.setFont(font(8));
        PaintDoseChart(p_, rect(kMargin, y, kBodyWidth, kChartHeight), *d.chart);
        y += kChartHeight + kGap;
      }
      if (d.controlChart) {
        p_.setFont(font(8));
        PaintControlChart(p_, rect(kMargin, y, kBodyWidth, kControlChartHeight), *d.controlChart);
        y += kControlChartHeight + kGap;
      }
    }
    if (page.rowCount > 0) {
      double x = kMargin;
      for (const ReportColumn& c : d.columns) {
        text(x + 1, y, c.widthMm - 2, kHeaderHeight, c.title, c.right ? Qt::AlignRight : Qt::AlignLeft,
             font(9, true));
        x += c.widthMm;
      }
      y += kHeaderHeight;
      p_.setPen(QPen(Qt::black, 0.3 * mm_));
      line(kMargin, y, kMargin + kBodyWidth, y);
      p_.setPen(Qt::black);
      for (int i = page.firstRow; i < page.firstRow + page.rowCount; ++i) {
        const ReportRow& row = d.rows[static_cast<size_t>(i)];
        if (row.marked) p_.fillRect(rect(kMargin, y, kBodyWidth, kRowHeight), kMarkedRow);
        x = kMargin;
        for (size_t k = 0; k < d.columns.size(); ++k) {
          const ReportColumn& c = d.columns[k];
          const QString cell =
              k < static_cast<size_t>(row.cells.size()) ? row.cells[static_cast<qsizetype>(k)] : QString();
          text(x + 1, y, c.widthMm - 2, kRowHeight, cell, c.right ? Qt::AlignRight : Qt::AlignLeft,
               font(9, row.marked));
          x += c.widthMm;
        }
        y += kRowHeight;
      }
    }
    if (page.note) text(kMargin, y + kGap, kBodyWidth, kLineHeight, d.note, Qt::AlignLeft, font(9));

    const double footer = kPageHeight - kMargin - kFooterHeight / 2;
    p_.setPen(QPen(Qt::black, 0.2 * mm_));
    line(kMargin, footer - 1, kMargin + kBodyWidth, footer - 1);
    p_.setPen(Qt::black);
    text(kMargin, footer, kBodyWidth / 2, kFooterHeight / 2, d.printed, Qt::AlignLeft, font(8));
    text(kMargin + kBodyWidth / 2, footer, kBodyWidth / 2, kFooterHeight / 2, PageFooter(page.number, pages),
         Qt::AlignRight, font(8));
  }

 private:
  QPainter& p_;
  double mm_ = 1;
  QFont base_;
};

}  // namespace

int PaintReport(const ReportDocument& document, QPagedPaintDevice& device) {
  device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                   QPageLayout::Millimeter));
  const std::vector<ReportPage> pages = PaginateReport(document);
  QPainter painter;
  if (!painter.begin(&device)) return kErrFileWrite;
  PagePainter pp(painter, device);
  for (size_t i = 0; i < pages.size(); ++i) {
    if (i > 0 && !device.newPage()) {
      painter.end();
      return kErrFileWrite;
    }
    pp.page(document, pages[i], static_cast<int>(pages.size()));
  }
  return painter.end() ? kOk : kErrFileWrite;
}

int ReportPdf(const ReportDocument& document, QByteArray* pdf) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setResolution(300);
    writer.setTitle(document.title);
    writer.setCreator(QStringLiteral("Quelm"));
    if (const int rc = PaintReport(document, writer)) return rc;
  }
  *pdf = buffer.data();
  return kOk;
}

int WritePdfFile(const QByteArray& pdf, const QString& path, QString* detail) {
  *detail = path;
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) return kErrFileOpen;
  // Written in one go: a report that could not be written whole never
  // replaces one that was.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return kErrFileOpen;
  if (file.write(pdf) != pdf.size() || !file.commit()) return kErrFileWrite;
  return kOk;
}

int WriteReportPdf(const ReportDocument& document, const QString& path, QString* detail) {
  *detail = path;
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) return kErrFileOpen;
  QByteArray pdf;
  if (const int rc = ReportPdf(document, &pdf)) return rc;
  return WritePdfFile(pdf, path, detail);
}

}  // namespace quelm
