#include "evaluation/DeconvolutionView.h"

#include <QHeaderView>
#include <QLabel>
#include <QPen>
#include <QTableWidget>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>

#include "evaluation/DeconvolutionModel.h"
#include "evaluation/DeconvolutionText.h"

namespace quelm {

namespace {

// Light colours that stand out on the dark green curve and from the lime
// markers, the maroon peak tick and the red cursor.
constexpr QRgb kSumColour = 0xFFD000;
constexpr QRgb kPeakColours[kMaxFitPeaks] = {0x00E5FF, 0xFF4DFF, 0xFF9933, 0x99CCFF,
                                             0xFFFFFF, 0xFF6680, 0xC0C0C0, 0x4D7FFF};
// Points drawn per channel, so that a narrow peak is drawn as a curve.
constexpr int kStepsPerChannel = 4;

QLineSeries* addLine(QChart* chart, const GlowChart::Parts& parts, const QString& name, QRgb colour,
                     qreal width) {
  auto* s = new QLineSeries(chart);
  s->setObjectName(name);
  s->setPen(QPen(QColor(colour), width));
  chart->addSeries(s);
  s->attachAxis(parts.bottomAxis);
  s->attachAxis(parts.leftAxis);
  return s;
}

}  // namespace

DeconvolutionView::DeconvolutionView(DeconvolutionModel& model, const GlowChart::Parts& chart,
                                     const Widgets& widgets)
    : QObject(chart.view), model_(model), chart_(chart), w_(widgets) {
  QChart* c = chart_.view->chart();
  for (int k = 0; k < kMaxFitPeaks; ++k)
    peaks_.push_back(
        addLine(c, chart_, QStringLiteral("DeconvolutionPeak%1Series").arg(k + 1), kPeakColours[k], 1.5));
  sum_ = addLine(c, chart_, QStringLiteral("DeconvolutionSumSeries"), kSumColour, 2);

  QStringList titles{QStringLiteral("#")};
  for (const PeakColumn& col : kPeakColumns)
    if (col.inChart) titles << QString::fromLatin1(col.title);
  w_.table->setColumnCount(static_cast<int>(titles.size()));
  w_.table->setHorizontalHeaderLabels(titles);
  w_.table->verticalHeader()->hide();
  w_.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  w_.table->setSelectionMode(QAbstractItemView::NoSelection);
  w_.table->setFocusPolicy(Qt::NoFocus);  // the chart keys stay with the window
  w_.table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  // Eight peaks fit without scrolling.
  w_.table->verticalHeader()->setDefaultSectionSize(w_.table->fontMetrics().height() + 4);
  w_.status->setWordWrap(true);
  paint();
}

void DeconvolutionView::clearLines() {
  for (QLineSeries* s : peaks_) s->clear();
  sum_->clear();
}

void DeconvolutionView::paint() {
  w_.panel->setVisible(model_.On());
  clearLines();
  w_.table->setRowCount(0);
  switch (model_.CurrentPhase()) {
    case DeconvolutionModel::Phase::Off:
      w_.status->clear();
      return;
    case DeconvolutionModel::Phase::Fitting:
      w_.status->setText(QStringLiteral("Fitting..."));
      return;
    case DeconvolutionModel::Phase::Done:
      break;
  }
  const DeconvolutionResult& r = model_.Result();
  const GlowCurve& curve = model_.Curve();
  w_.status->setText(r.converged() ? FitSettingsText(r) + QStringLiteral("\n") + FitSummaryText(r)
                                   : FitSummaryText(r));
  if (!r.converged()) return;

  // Between two channels of the curve the temperature is taken to rise evenly.
  std::vector<QList<QPointF>> lines(r.peaks.size());
  QList<QPointF> sum;
  const size_t n = curve.kelvin.size();
  for (size_t i = 0; i < n; ++i) {
    const int steps = i + 1 < n ? kStepsPerChannel : 1;
    for (int step = 0; step < steps; ++step) {
      const double f = static_cast<double>(step) / kStepsPerChannel;
      const size_t next = std::min(i + 1, n - 1);
      const double x = curve.origin[i] + f * (curve.origin[next] - curve.origin[i]);
      const double T = curve.kelvin[i] + f * (curve.kelvin[next] - curve.kelvin[i]);
      for (size_t k = 0; k < r.peaks.size(); ++k) lines[k].append(QPointF(x, PeakValue(r.peaks[k].peak, T)));
      sum.append(QPointF(x, r.ValueAt(T)));
    }
  }
  for (size_t k = 0; k < lines.size(); ++k) peaks_[k]->replace(lines[k]);
  sum_->replace(sum);

  w_.table->setRowCount(static_cast<int>(r.peaks.size()));
  for (int row = 0; row < static_cast<int>(r.peaks.size()); ++row) {
    auto* swatch = new QTableWidgetItem(QString::number(row + 1));
    swatch->setBackground(QColor(kPeakColours[row]));
    w_.table->setItem(row, 0, swatch);
    int col = 1;
    for (const PeakColumn& c : kPeakColumns) {
      if (!c.inChart) continue;
      auto* item = new QTableWidgetItem(c.text(r.peaks[static_cast<size_t>(row)]));
      item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      w_.table->setItem(row, col++, item);
    }
  }
}

}  // namespace quelm
