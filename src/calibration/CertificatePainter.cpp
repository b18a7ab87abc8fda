#include "calibration/CertificatePainter.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextLayout>
#include <algorithm>

#include "base/ChartColours.h"
#include "base/DataFiles.h"
#include "base/ErrorCodes.h"

namespace quelm {
namespace {

// The page in millimetres; the layout depends on the content alone.
constexpr double kPageWidth = 210, kPageHeight = 297, kMargin = 18;
constexpr double kBodyWidth = kPageWidth - 2 * kMargin;
constexpr double kTitleHeight = 12, kLineHeight = 5.5, kGap = 4, kHeaderHeight = 6;
constexpr double kSignatureHeight = 16;
constexpr double kTableBottom = kPageHeight - kMargin - kSignatureHeight - kGap;

// How the table is set: type size, row pitch and side-by-side groups of
// rows (with the essential columns only), from the largest that holds
// every row to the smallest.
struct TableStyle {
  double points;
  double rowHeight;
  int groups;
};
constexpr TableStyle kStyles[] = {{8.5, 4.4, 1}, {7, 3.5, 1}, {6.5, 3.1, 2}};
constexpr double kGroupGap = 6, kCellPadding = 1.5;
// The smallest type a line of the page is set in unless it says otherwise,
// and the type a long line of the run is set in before it takes more lines.
constexpr double kSmallestPoints = 6, kWrapPoints = 8;
// What the table keeps of the page however long the run's lines are: its
// header and ten rows of the smallest style.
constexpr double kLeastTableRoom = kHeaderHeight + 10 * 3.1;

class Page {
 public:
  Page(QPainter& p, QPagedPaintDevice& device) : p_(p) {
    mm_ = device.logicalDpiX() / 25.4;
    base_ = p.font();
    // Without ligatures: "fi" stays two letters that a search of the PDF
    // and a copied text find.
    base_.setStyleStrategy(QFont::PreferNoShaping);
  }
  QFont font(double points, bool bold = false) const {
    QFont f = base_;
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
  }
  QRectF rect(double x, double y, double w, double h) const {
    return QRectF(x * mm_, y * mm_, w * mm_, h * mm_);
  }
  // One line that does not fit gets smaller type, down to `smallest` points;
  // then it shows where it ends rather than being cut.
  void text(double x, double y, double w, double h, const QString& s, int flags, const QFont& f,
            double smallest = kSmallestPoints) {
    QFont font = f;
    shrink(&font, s, w, smallest);
    const QRectF r = rect(x, y, w, h);
    p_.setFont(font);
    p_.drawText(r, flags | Qt::AlignVCenter,
                QFontMetricsF(font, p_.device()).elidedText(s, Qt::ElideRight, r.width()));
  }
  // A text that may take more lines: smaller type down to kWrapPoints, then
  // lines at words (anywhere in a word wider than the line). Lines beyond
  // maxLines are left out and the last one shown ends in an ellipsis.
  struct Wrapped {
    QFont font;
    QStringList lines;
    double pitch = 0;  // mm from line to line
    int needed = 1;    // lines the whole text takes
  };
  Wrapped wrap(const QString& s, double w, const QFont& f, double lineHeight) const {
    Wrapped out;
    out.font = f;
    shrink(&out.font, s, w, kWrapPoints);
    QTextLayout layout(s, out.font, p_.device());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(w * mm_);
      out.lines << s.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    if (out.lines.isEmpty()) out.lines << QString();
    out.needed = static_cast<int>(out.lines.size());
    // Lines of the smaller type closer together.
    out.pitch = out.needed > 1 ? lineHeight * out.font.pointSizeF() / f.pointSizeF() : lineHeight;
    return out;
  }
  // Paints those lines, at most maxLines of them; the height taken in mm.
  double paintWrapped(double x, double y, double w, const Wrapped& t, int maxLines) {
    const int shown = std::clamp(maxLines, 1, t.needed);
    p_.setFont(t.font);
    const QFontMetricsF fm(t.font, p_.device());
    for (int i = 0; i < shown; ++i) {
      QString s = t.lines[i];
      // A mark that the text goes on where the page has no more room.
      if (i == shown - 1 && shown < t.needed) s = fm.elidedText(s + QChar(0x2026), Qt::ElideRight, w * mm_);
      p_.drawText(rect(x, y + i * t.pitch, w, t.pitch), Qt::AlignLeft | Qt::AlignVCenter, s);
    }
    return shown * t.pitch;
  }
  void line(double x1, double y1, double x2, double y2, double widthMm) {
    p_.setPen(QPen(Qt::black, widthMm * mm_));
    p_.drawLine(QPointF(x1 * mm_, y1 * mm_), QPointF(x2 * mm_, y2 * mm_));
    p_.setPen(Qt::black);
  }
  void fill(double x, double y, double w, double h, const QColor& c) { p_.fillRect(rect(x, y, w, h), c); }
  double widthMm(const QString& s, const QFont& f) const {
    return QFontMetricsF(f, p_.device()).horizontalAdvance(s) / mm_;
  }

 private:
  void shrink(QFont* font, const QString& s, double w, double smallest) const {
    // The toolkit refuses a size of 0: the size would stay and the loop never end.
    smallest = std::max(smallest, 1.0);
    while (font->pointSizeF() - 0.5 >= smallest &&
           QFontMetricsF(*font, p_.device()).horizontalAdvance(s) > w * mm_)
      font->setPointSizeF(font->pointSizeF() - 0.5);
  }

  QPainter& p_;
  double mm_ = 1;
  QFont base_;
};

void paint(Page& pg, const CertificateContent& c) {
  double y = kMargin;
  pg.text(kMargin, y, kBodyWidth, kTitleHeight, c.title, Qt::AlignLeft, pg.font(16, true));
  y += kTitleHeight;
  // The run's values wrap; when they would leave the table too little of
  // the page, the longest are cut to one number of lines, each ending in
  // a mark that it goes on.
  std::vector<Page::Wrapped> values;
  for (const auto& [caption, value] : c.run)
    values.push_back(pg.wrap(value, kBodyWidth - 34, pg.font(10), kLineHeight));
  const double room = kTableBottom - y - kGap / 2 - kLineHeight * static_cast<double>(c.batches.size()) -
                      kGap - kLeastTableRoom;
  const auto height = [&](int most) {
    double h = 0;
    for (const Page::Wrapped& v : values) h += std::min(v.needed, most) * v.pitch;
    return h;
  };
  int most = 1;
  for (const Page::Wrapped& v : values) most = std::max(most, v.needed);
  while (most > 1 && height(most) > room) --most;
  for (size_t i = 0; i < c.run.size(); ++i) {
    pg.text(kMargin, y, 34, values[i].pitch, c.run[i].first + QLatin1Char(':'), Qt::AlignLeft, pg.font(10));
    y += pg.paintWrapped(kMargin + 34, y, kBodyWidth - 34, values[i], most);
  }
  y += kGap / 2;
  for (const QString& line : c.batches) {
    pg.text(kMargin, y, kBodyWidth, kLineHeight, line, Qt::AlignLeft, pg.font(10, true));
    y += kLineHeight;
  }
  y += kGap;

  // The style that holds every row, or the smallest.
  const double tableRoom = kTableBottom - y - kHeaderHeight;
  const TableStyle* style = &kStyles[std::size(kStyles) - 1];
  for (const TableStyle& s : kStyles)
    if (static_cast<double>(c.rows.size()) <= s.groups * std::floor(tableRoom / s.rowHeight)) {
      style = &s;
      break;
    }
  const int perGroup = std::max(2, static_cast<int>(std::floor(tableRoom / style->rowHeight)));
  const int capacity = perGroup * style->groups;
  // Too many: the read-outs not in the mean first, then the others in order,
  // and the last line says what is left out.
  std::vector<size_t> shown;
  for (size_t i = 0; i < c.rows.size(); ++i)
    if (c.marked[i]) shown.push_back(i);
  for (size_t i = 0; i < c.rows.size(); ++i)
    if (!c.marked[i]) shown.push_back(i);
  int omitted = 0;
  if (static_cast<int>(shown.size()) > capacity) {
    omitted = static_cast<int>(shown.size()) - (capacity - 1);
    shown.resize(static_cast<size_t>(capacity - 1));
  }
  if (shown.size() == c.rows.size()) {
    shown.clear();
    for (size_t i = 0; i < c.rows.size(); ++i) shown.push_back(i);
  }

  // The columns this style sets, each as wide as its widest text; the last
  // takes the rest of its group.
  std::vector<size_t> columns;
  for (size_t k = 0; k < c.columns.size(); ++k)
    if (style->groups == 1 || c.columns[k].essential) columns.push_back(k);
  const QFont plain = pg.font(style->points), bold = pg.font(style->points, true);
  const double groupWidth = (kBodyWidth - kGroupGap * (style->groups - 1)) / style->groups;
  std::vector<double> widths;
  double used = 0;
  for (size_t k : columns) {
    double w = pg.widthMm(c.columns[k].title, bold);
    for (size_t i : shown) w = std::max(w, pg.widthMm(c.rows[i].value(static_cast<qsizetype>(k)), plain));
    widths.push_back(w + 2 * kCellPadding + 0.5);
    used += widths.back();
  }
  if (!widths.empty()) widths.back() = std::max(groupWidth - (used - widths.back()), 10.0);

  const int groupsUsed = std::clamp(
      static_cast<int>((shown.size() + (omitted > 0) + perGroup - 1) / perGroup), 1, style->groups);
  for (int g = 0; g < groupsUsed; ++g) {
    const double left = kMargin + g * (groupWidth + kGroupGap);
    double x = left;
    for (size_t n = 0; n < columns.size(); ++n) {
      const CertificateColumn& col = c.columns[columns[n]];
      pg.text(x + kCellPadding, y, widths[n] - 2 * kCellPadding, kHeaderHeight, col.title,
              col.right ? Qt::AlignRight : Qt::AlignLeft, bold);
      x += widths[n];
    }
    pg.line(left, y + kHeaderHeight, left + groupWidth, y + kHeaderHeight, 0.3);
  }
  const double top = y + kHeaderHeight;
  const auto place = [&](size_t k, double* left, double* rowY) {
    *left = kMargin + static_cast<double>(k / static_cast<size_t>(perGroup)) * (groupWidth + kGroupGap);
    *rowY = top + static_cast<double>(k % static_cast<size_t>(perGroup)) * style->rowHeight;
  };
  for (size_t k = 0; k < shown.size(); ++k) {
    const size_t i = shown[k];
    double left = 0, rowY = 0;
    place(k, &left, &rowY);
    if (c.marked[i]) pg.fill(left, rowY, groupWidth, style->rowHeight, kMarkedRowColour);
    double x = left;
    for (size_t n = 0; n < columns.size(); ++n) {
      const CertificateColumn& col = c.columns[columns[n]];
      pg.text(x + kCellPadding, rowY, widths[n] - 2 * kCellPadding, style->rowHeight,
              c.rows[i].value(static_cast<qsizetype>(columns[n])), col.right ? Qt::AlignRight : Qt::AlignLeft,
              plain, style->points * 0.7);
      x += widths[n];
    }
  }
  if (omitted > 0) {
    double left = 0, rowY = 0;
    place(shown.size(), &left, &rowY);
    pg.text(left + kCellPadding, rowY, groupWidth, style->rowHeight,
            QStringLiteral("... and %1 more read-outs: every row is in the batch table").arg(omitted),
            Qt::AlignLeft, plain);
  }

  const double signature = kPageHeight - kMargin - kSignatureHeight;
  pg.line(kMargin, signature, kMargin + kBodyWidth, signature, 0.2);
  pg.text(kMargin, signature + 1, kBodyWidth, kLineHeight, c.signature, Qt::AlignLeft, pg.font(10));
  pg.text(kMargin, signature + 1 + kLineHeight * 1.4, kBodyWidth, kLineHeight,
          QStringLiteral("Signature: ________________________________"), Qt::AlignLeft, pg.font(10));
}

}  // namespace

int PaintCertificate(const CertificateContent& content, QPagedPaintDevice& device) {
  device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                   QPageLayout::Millimeter));
  QPainter painter;
  if (!painter.begin(&device)) return kErrFileWrite;
  Page page(painter, device);
  paint(page, content);
  return painter.end() ? kOk : kErrFileWrite;
}

int WriteCertificatePdf(const CertificateContent& content, const QString& path) {
  if (fileKind(path) == FileKind::Other) return noteFileFailure(kErrFileOpen, path, notRegularReason());
  // Made in memory and written in one go: a certificate that could not be
  // written whole never replaces one that was.
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setResolution(300);
    writer.setTitle(content.title);
    writer.setCreator(QStringLiteral("Quelm"));
    if (const int rc = PaintCertificate(content, writer)) return rc;
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    return noteFileFailure(kErrFileOpen, path, file.errorString());
  if (file.write(buffer.data()) != buffer.data().size() || !file.commit())
    return noteFileFailure(kErrFileWrite, path, file.errorString());
  return kOk;
}

}  // namespace quelm
