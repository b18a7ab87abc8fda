#include "archive/ReportPainter.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "archive/ArchiveText.h"
#include "archive/ControlChartPainter.h"
#include "base/ChartColours.h"
#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "base/NumberFormat.h"

namespace quelm {

namespace {

// Dark red, apart from a high dose's colour: a high dose is not the limit.
const QColor kLimitColour(150, 0, 0);

const QString kLegend[] = {
    QStringLiteral("Dose per read-out (left)"), QStringLiteral("At or above the notification level"),
    QStringLiteral("Year's cumulative dose (right)"), QStringLiteral("Annual limit (right)")};
const QColor kLegendColours[] = {kPlainColour, kStandOutColour, kReferenceColour, kLimitColour};

// Where each part of the chart goes in its area: the legend's entries
// (wrapped onto further lines rather than past the area's edge), the plot
// inside the axis labels, and the time axis inside the plot by half a bar,
// so that the first and the last bar show whole.
struct ChartGeometry {
  std::vector<QPointF> legend;  // each entry's swatch, top left
  QRectF plot;
  double bar = 0;
  double left = 0, right = 0;  // the time axis
};

ChartGeometry geometryOf(const QFontMetricsF& fm, const QRectF& area, const DoseChartData& c) {
  ChartGeometry g;
  const double h = fm.height();
  double x = area.left(), y = area.top() + h * 0.3;
  for (const QString& text : kLegend) {
    const double width = h + fm.horizontalAdvance(text);
    if (x > area.left() && x + width > area.right()) {
      x = area.left();
      y += h * 1.2;
    }
    g.legend.emplace_back(x, y);
    x += width + h;
  }
  double left = 0, right = 0;
  for (int i = 0; i <= 2; ++i) {
    left = std::max(left, fm.horizontalAdvance(DoseText(c.doseTop * i / 2)) + h * 0.6);
    right = std::max(right, fm.horizontalAdvance(DoseText(c.cumulativeTop * i / 2)) + h * 0.6);
  }
  const double top = y - area.top() + h * 1.3;
  g.plot = area.adjusted(left, top, -right, -h * 1.5);
  const double n = static_cast<double>(std::max<size_t>(c.points.size(), 1));
  g.bar = std::clamp(g.plot.width() / (n * 2.5), 1.5, g.plot.width() / 40);
  g.left = g.plot.left() + g.bar / 2 + 1;
  g.right = g.plot.right() - g.bar / 2 - 1;
  return g;
}

double xOf(const ChartGeometry& g, const DoseChartData& c, const QDateTime& t) {
  const double span = static_cast<double>(c.from.secsTo(c.to));
  const double at = static_cast<double>(c.from.secsTo(t));
  return g.left + std::clamp(at / span, 0.0, 1.0) * (g.right - g.left);
}

}  // namespace

void PaintDoseChart(QPainter& p, const QRectF& area, const DoseChartData& c) {
  p.save();
  const QFontMetricsF fm(p.font(), p.device());
  const ChartGeometry g = geometryOf(fm, area, c);
  const QRectF& plot = g.plot;
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
    // Units switch as the lists' do: a scale of seven digits stays narrow.
    const QString left = DoseText(c.doseTop * i / 2);
    const QString right = DoseText(c.cumulativeTop * i / 2);
    p.drawText(
        QRectF(area.left(), y - fm.height() / 2, plot.left() - area.left() - fm.height() * 0.3, fm.height()),
        Qt::AlignRight | Qt::AlignVCenter, left);
    p.drawText(QRectF(plot.right() + fm.height() * 0.3, y - fm.height() / 2,
                      area.right() - plot.right() - fm.height() * 0.3, fm.height()),
               Qt::AlignLeft | Qt::AlignVCenter, right);
  }
  p.drawText(QRectF(plot.left(), plot.bottom() + fm.height() * 0.2, plot.width(), fm.height()),
             Qt::AlignLeft | Qt::AlignTop, LocalDateText(c.from));
  p.drawText(QRectF(plot.left(), plot.bottom() + fm.height() * 0.2, plot.width(), fm.height()),
             Qt::AlignRight | Qt::AlignTop, LocalDateText(c.to));

  // Legend above the plot.
  for (size_t i = 0; i < g.legend.size(); ++i) {
    const QPointF at = g.legend[i];
    p.fillRect(QRectF(at.x(), at.y(), fm.height() * 0.8, fm.height() * 0.6), kLegendColours[i]);
    p.setPen(Qt::black);
    p.drawText(QPointF(at.x() + fm.height(), at.y() - fm.height() * 0.3 + fm.ascent()), kLegend[i]);
  }

  p.setClipRect(plot.adjusted(-pen, -pen, pen, pen));
  for (const DoseChartPoint& pt : c.points) {
    const double h = plot.height() * pt.dose / c.doseTop;
    p.fillRect(QRectF(xOf(g, c, pt.time) - g.bar / 2, plot.bottom() - h, g.bar, h),
               pt.high ? kStandOutColour : kPlainColour);
  }
  const auto cumulativeY = [&](double v) { return plot.bottom() - plot.height() * v / c.cumulativeTop; };
  // The year's sum climbs at each read-out and holds between them.
  QPainterPath line;
  int year = 0;
  for (const DoseChartPoint& pt : c.points) {
    const double px = xOf(g, c, pt.time);
    if (pt.time.date().year() != year) {
      year = pt.time.date().year();
      line.moveTo(px, cumulativeY(pt.yearCumulative - pt.dose));
    }
    line.lineTo(px, line.currentPosition().y());
    line.lineTo(px, cumulativeY(pt.yearCumulative));
  }
  if (!c.points.empty()) line.lineTo(plot.right(), line.currentPosition().y());
  p.setPen(QPen(kReferenceColour, pen * 1.5));
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
  const ChartGeometry g = geometryOf(QFontMetricsF(font, device), area, c);
  if (!g.plot.adjusted(-4, -4, 4, 4).contains(pos)) return -1;
  const double reach = std::max(g.bar / 2, 4.0);
  int best = -1;
  double bestDistance = reach;
  for (size_t i = 0; i < c.points.size(); ++i) {
    const double d = std::fabs(xOf(g, c, c.points[i].time) - pos.x());
    if (d <= bestDistance) {
      best = static_cast<int>(i);
      bestDistance = d;
    }
  }
  return best;
}

namespace {

// The report's fonts. Without ligatures: "fi" stays two letters that a
// search of the PDF and a copied text find.
QFont reportFont(double points, bool bold = false) {
  QFont f;
  f.setPointSizeF(points);
  f.setBold(bold);
  f.setStyleStrategy(QFont::PreferNoShaping);
  return f;
}

// Texts are measured at one resolution for every device, so that a report
// printed and one saved break their lines and pages alike.
constexpr int kMeasureDpi = 300;
constexpr double kCellPadding = 2;  // mm, 1 on each side
constexpr double kTableFont = 9;

QPaintDevice* measureDevice() {
  static QImage image = [] {
    QImage i(1, 1, QImage::Format_ARGB32);
    i.setDotsPerMeterX(qRound(kMeasureDpi / 0.0254));
    i.setDotsPerMeterY(qRound(kMeasureDpi / 0.0254));
    return i;
  }();
  return &image;
}

double widthMm(const QFont& font, const QString& text) {
  return QFontMetricsF(font, measureDevice()).horizontalAdvance(text) * 25.4 / kMeasureDpi;
}

// The lines a text takes in a width: at words, or anywhere when a word
// alone is wider.
QStringList wrapped(const QString& text, const QFont& font, double width, bool anywhere) {
  if (text.isEmpty()) return {QString()};
  QTextLayout layout(text, font, measureDevice());
  QTextOption option;
  option.setWrapMode(anywhere ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::WordWrap);
  layout.setTextOption(option);
  const double px = width * kMeasureDpi / 25.4;
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(px);
    lines << text.mid(line.textStart(), line.textLength()).trimmed();
  }
  layout.endLayout();
  return lines;
}

// The parts of a text that a line never breaks: between spaces, and after
// the hyphen of a compound name ("Müller-" "Lüdenscheidt"), where the
// lines of wrapped() may break too (never before a digit: "STAFF-2024"
// stays whole).
QStringList unbreakable(const QString& text) {
  QStringList parts;
  QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
  qsizetype from = 0;
  for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
    if (const QString part = text.mid(from, at - from).trimmed(); !part.isEmpty()) parts << part;
    from = at;
  }
  return parts;
}

QString cellOf(const ReportRow& row, size_t k) {
  return k < static_cast<size_t>(row.cells.size()) ? row.cells[static_cast<qsizetype>(k)] : QString();
}

struct Table {
  ReportTableLayout layout;
  std::vector<bool> anywhere;
  double points = kTableFont;
};

// The widths at one font size; false when the texts that may wrap would
// have to break within words.
bool fit(const ReportDocument& d, double points, Table* t) {
  const size_t n = d.columns.size();
  const QFont header = reportFont(points, true), plain = reportFont(points), bold = header;
  std::vector<double> natural(n, 0), least(n, 0), longestWord(n, 0), longestPart(n, 0);
  for (size_t k = 0; k < n; ++k) {
    const ReportColumn& c = d.columns[k];
    // A title never wraps.
    natural[k] = least[k] = widthMm(header, c.title) + kCellPadding;
    for (const ReportRow& row : d.rows) {
      const QString cell = cellOf(row, k);
      const QFont& f = row.marked ? bold : plain;
      natural[k] = std::max(natural[k], widthMm(f, cell) + kCellPadding);
      if (!c.wrap) continue;
      for (const QString& word : cell.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        longestWord[k] = std::max(longestWord[k], widthMm(f, word) + kCellPadding);
      for (const QString& part : unbreakable(cell))
        longestPart[k] = std::max(longestPart[k], widthMm(f, part) + kCellPadding);
    }
    if (!c.wrap) least[k] = natural[k];
  }
  t->points = points;
  t->anywhere.assign(n, false);
  std::vector<double>& w = t->layout.widthsMm;
  w = natural;
  const double body = report::kBodyWidth;
  const auto sum = [](const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); };
  // Too wide: the texts that may wrap give way down to their widest word,
  // then down to the widest part of a hyphenated one.
  for (const std::vector<double>* longest : {&longestWord, &longestPart}) {
    std::vector<double> floor = least;
    for (size_t k = 0; k < n; ++k)
      if (d.columns[k].wrap) floor[k] = std::max(least[k], std::min({(*longest)[k], natural[k], w[k]}));
    double give = 0;
    for (size_t k = 0; k < n; ++k) give += w[k] - floor[k];
    if (const double excess = sum(w) - body; excess > 0 && give > 0)
      for (size_t k = 0; k < n; ++k) w[k] -= (w[k] - floor[k]) * std::min(1.0, excess / give);
  }
  const bool whole = sum(w) <= body + 1e-9;
  // Still too wide (at the smallest size only this layout stands): the
  // widest of them give way to one width, down to their titles, breaking
  // within words, while a column of narrow words (an ID) keeps them whole.
  if (!whole) {
    const auto capped = [&](double level) {
      std::vector<double> v = w;
      for (size_t k = 0; k < n; ++k)
        if (d.columns[k].wrap) v[k] = std::max(least[k], std::min(w[k], level));
      return v;
    };
    double low = 0, high = *std::max_element(w.begin(), w.end());
    for (int i = 0; i < 60; ++i) {
      const double mid = (low + high) / 2;
      (sum(capped(mid)) > body ? high : low) = mid;
    }
    w = capped(low);
    for (size_t k = 0; k < n; ++k)
      if (d.columns[k].wrap && w[k] < longestPart[k] - 1e-9) t->anywhere[k] = true;
  }
  // Room to spare goes to every column alike (the mark's aside): the table
  // spans the body as the lines above it do.
  if (const double spare = body - sum(w); spare > 0 && n > 1) {
    size_t shares = 0;
    for (size_t k = 0; k < n; ++k) shares += !d.columns[k].title.isEmpty();
    for (size_t k = 0; k < n; ++k)
      if (!d.columns[k].title.isEmpty()) w[k] += spare / static_cast<double>(std::max<size_t>(shares, 1));
  }
  t->layout.rowLines.clear();
  for (const ReportRow& row : d.rows) {
    int lines = 1;
    for (size_t k = 0; k < n; ++k)
      if (d.columns[k].wrap)
        lines = std::max(lines, static_cast<int>(wrapped(cellOf(row, k), row.marked ? bold : plain,
                                                         w[k] - kCellPadding, t->anywhere[k])
                                                     .size()));
    t->layout.rowLines.push_back(lines);
  }
  return whole;
}

// The table's size as large as lets every word stand whole, down to 7
// points; below that its words break.
Table layOut(const ReportDocument& d) {
  Table t;
  for (double points = kTableFont; points >= 7; points -= 0.5)
    if (fit(d, points, &t)) return t;
  return t;
}

class PagePainter {
 public:
  PagePainter(QPainter& p, QPagedPaintDevice& device, const Table& table)
      : p_(p), mm_(device.logicalDpiX() / 25.4), table_(table) {}

  QRectF rect(double x, double y, double w, double h) const {
    return QRectF(x * mm_, y * mm_, w * mm_, h * mm_);
  }
  // One line in its box, set smaller when it would not fit: never cut.
  void text(double x, double y, double w, double h, const QString& s, int flags, QFont f) {
    while (f.pointSizeF() > 5 && widthMm(f, s) > w) f.setPointSizeF(f.pointSizeF() - 0.5);
    p_.setFont(f);
    p_.drawText(rect(x, y, w, h), flags | Qt::AlignVCenter | Qt::TextDontClip, s);
  }
  void line(double x1, double y1, double x2, double y2) {
    p_.drawLine(QPointF(x1 * mm_, y1 * mm_), QPointF(x2 * mm_, y2 * mm_));
  }

  void page(const ReportDocument& d, const ReportPage& page, int pages) {
    using namespace report;
    p_.setPen(Qt::black);
    double y = kMargin;
    if (page.heading) {
      text(kMargin, y, kBodyWidth, kTitleHeight, d.title, Qt::AlignLeft, reportFont(16, true));
      y += kTitleHeight;
    }
    for (int i = page.firstHeadingLine; i < page.firstHeadingLine + page.headingLines; ++i) {
      text(kMargin, y, kBodyWidth, kLineHeight, d.heading[i], Qt::AlignLeft, reportFont(10));
      y += kLineHeight;
    }
    if (page.figuresTop >= 0) {
      y = page.figuresTop;
      for (const auto& [caption, value] : d.figures) {
        text(kMargin, y, 100, kLineHeight, caption + QLatin1Char(':'), Qt::AlignLeft, reportFont(10));
        text(kMargin + 100, y, 40, kLineHeight, value, Qt::AlignRight, reportFont(10, true));
        y += kLineHeight;
      }
    }
    if (d.chart && page.chartTop >= 0) {
      p_.setFont(reportFont(8));
      PaintDoseChart(p_, rect(kMargin, page.chartTop, kBodyWidth, kChartHeight), *d.chart);
    }
    if (d.controlChart && page.controlChartTop >= 0) {
      p_.setFont(reportFont(8));
      PaintControlChart(p_, rect(kMargin, page.controlChartTop, kBodyWidth, kControlChartHeight),
                        *d.controlChart);
    }
    y = page.tableTop;
    const std::vector<double>& widths = table_.layout.widthsMm;
    if (page.rowCount > 0) {
      double x = kMargin;
      for (size_t k = 0; k < d.columns.size(); ++k) {
        const ReportColumn& c = d.columns[k];
        text(x + kCellPadding / 2, y, widths[k] - kCellPadding, kHeaderHeight, c.title,
             c.right ? Qt::AlignRight : Qt::AlignLeft, reportFont(table_.points, true));
        x += widths[k];
      }
      y += kHeaderHeight;
      p_.setPen(QPen(Qt::black, 0.3 * mm_));
      line(kMargin, y, kMargin + kBodyWidth, y);
      p_.setPen(Qt::black);
      for (int i = page.firstRow; i < page.firstRow + page.rowCount; ++i) {
        const ReportRow& row = d.rows[static_cast<size_t>(i)];
        const double height = ReportRowHeight(table_.layout.rowLines[static_cast<size_t>(i)]);
        if (row.marked) p_.fillRect(rect(kMargin, y, kBodyWidth, height), kMarkedRowColour);
        const QFont f = reportFont(table_.points, row.marked);
        x = kMargin;
        for (size_t k = 0; k < d.columns.size(); ++k) {
          const ReportColumn& c = d.columns[k];
          const QString cell = cellOf(row, k);
          const QStringList lines =
              c.wrap ? wrapped(cell, f, widths[k] - kCellPadding, table_.anywhere[k]) : QStringList{cell};
          for (qsizetype l = 0; l < lines.size(); ++l)
            text(x + kCellPadding / 2, y + static_cast<double>(l) * kRowLineHeight, widths[k] - kCellPadding,
                 kRowHeight, lines[l], c.right ? Qt::AlignRight : Qt::AlignLeft, f);
          x += widths[k];
        }
        y += height;
      }
    }
    if (page.note) text(kMargin, y + kGap, kBodyWidth, kLineHeight, d.note, Qt::AlignLeft, reportFont(9));

    const double footer = kPageHeight - kMargin - kFooterHeight / 2;
    p_.setPen(QPen(Qt::black, 0.2 * mm_));
    line(kMargin, footer - 1, kMargin + kBodyWidth, footer - 1);
    p_.setPen(Qt::black);
    text(kMargin, footer, kBodyWidth / 2, kFooterHeight / 2, d.printed, Qt::AlignLeft, reportFont(8));
    text(kMargin + kBodyWidth / 2, footer, kBodyWidth / 2, kFooterHeight / 2, PageFooter(page.number, pages),
         Qt::AlignRight, reportFont(8));
  }

 private:
  QPainter& p_;
  double mm_ = 1;
  const Table& table_;
};

// The document with its heading lines as they are painted: each wrapped
// at the body's width, so that a long one (a signed summary's hash, what
// changed since) is read whole, never set smaller or cut.
ReportDocument withWrappedHeading(const ReportDocument& d) {
  ReportDocument w = d;
  w.heading.clear();
  for (const QString& line : d.heading) w.heading << wrapped(line, reportFont(10), report::kBodyWidth, false);
  return w;
}

}  // namespace

ReportTableLayout LayOutReportTable(const ReportDocument& document) { return layOut(document).layout; }

std::vector<ReportPage> PaginateReport(const ReportDocument& document) {
  return PaginateReport(withWrappedHeading(document), LayOutReportTable(document).rowLines);
}

int PaintReport(const ReportDocument& original, QPagedPaintDevice& device, int* pageCount) {
  device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                   QPageLayout::Millimeter));
  const ReportDocument document = withWrappedHeading(original);
  const Table table = layOut(document);
  const std::vector<ReportPage> pages = PaginateReport(document, table.layout.rowLines);
  QPainter painter;
  if (!painter.begin(&device)) return kErrFileWrite;
  PagePainter pp(painter, device, table);
  for (size_t i = 0; i < pages.size(); ++i) {
    if (i > 0 && !device.newPage()) {
      painter.end();
      return kErrFileWrite;
    }
    pp.page(document, pages[i], static_cast<int>(pages.size()));
  }
  if (!painter.end()) return kErrFileWrite;
  if (pageCount) *pageCount = static_cast<int>(pages.size());
  return kOk;
}

int ReportPdf(const ReportDocument& document, QByteArray* pdf, int* pages) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setResolution(kMeasureDpi);
    writer.setTitle(document.title);
    writer.setCreator(QStringLiteral("Quelm"));
    if (const int rc = PaintReport(document, writer, pages)) return rc;
  }
  *pdf = buffer.data();
  return kOk;
}

int WritePdfFile(const QByteArray& pdf, const QString& path, QString* detail) {
  *detail = path;
  // Written in one go: a report that could not be written whole never
  // replaces one that was. The system's reason is noted with the name.
  return writeDataFile(path, pdf, WriteMode::Replace);
}

int WriteReportPdf(const ReportDocument& document, const QString& path, QString* detail, int* pages) {
  *detail = path;
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) return kErrFileOpen;
  QByteArray pdf;
  if (const int rc = ReportPdf(document, &pdf, pages)) return rc;
  return WritePdfFile(pdf, path, detail);
}

}  // namespace quelm
