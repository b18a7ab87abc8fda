#include "evaluation/DeconvolutionView.h"

#include <QBoxLayout>
#include <QComboBox>
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
constexpr QRgb kBackgroundColour = 0xB0B0B0;
constexpr QRgb kPeakColours[kMaxFitPeaks] = {0x00E5FF, 0xFF4DFF, 0xFF9933, 0x99CCFF,
                                             0xFFFFFF, 0xFF6680, 0xC0C0C0, 0x4D7FFF};
constexpr QRgb kWarningColour = 0xB00000;
constexpr qreal kPeakWidth = 1.5, kDosimetricWidth = 3;
// Points drawn per channel, so that a narrow peak is drawn as a curve.
constexpr int kStepsPerChannel = 4;

QLineSeries* addLine(QChart* chart, const GlowChart::Parts& parts, const QString& name, const QPen& pen) {
  auto* s = new QLineSeries(chart);
  s->setObjectName(name);
  s->setPen(pen);
  chart->addSeries(s);
  s->attachAxis(parts.bottomAxis);
  s->attachAxis(parts.leftAxis);
  return s;
}

QLabel* addLabel(QWidget* panel, const char* name) {
  auto* l = new QLabel(panel);
  l->setObjectName(QLatin1String(name));
  l->setWordWrap(true);
  l->setTextFormat(Qt::PlainText);
  return l;
}

}  // namespace

DeconvolutionView::DeconvolutionView(DeconvolutionModel& model, const GlowChart::Parts& chart,
                                     const Widgets& widgets)
    : QObject(chart.view), model_(model), chart_(chart), w_(widgets) {
  QChart* c = chart_.view->chart();
  for (int k = 0; k < kMaxFitPeaks; ++k)
    peaks_.push_back(addLine(c, chart_, QStringLiteral("DeconvolutionPeak%1Series").arg(k + 1),
                             QPen(QColor(kPeakColours[k]), kPeakWidth)));
  sum_ = addLine(c, chart_, QStringLiteral("DeconvolutionSumSeries"), QPen(QColor(kSumColour), 2));

  // The choices under the panel's title; the chart keys stay with the window.
  auto* choices = new QWidget(w_.panel);
  auto* row = new QHBoxLayout(choices);
  row->setContentsMargins(0, 0, 0, 0);
  modelBox_ = new QComboBox(choices);
  modelBox_->setObjectName(QStringLiteral("DeconvolutionModelBox"));
  for (PeakModel m : {PeakModel::GeneralOrder, PeakModel::FirstOrder, PeakModel::SecondOrder,
                      PeakModel::MixedOrder, PeakModel::Continuous})
    modelBox_->addItem(PeakModelName(m), static_cast<int>(m));
  modelBox_->setToolTip(QStringLiteral("Kinetic model of every peak"));
  countBox_ = new QComboBox(choices);
  countBox_->setObjectName(QStringLiteral("DeconvolutionCountBox"));
  countBox_->addItem(QStringLiteral("auto"), 0);
  for (int k = 1; k <= kMaxFitPeaks; ++k) countBox_->addItem(PeakCountText(k), k);
  countBox_->setToolTip(QStringLiteral("Number of peaks; auto: the lowest BIC"));
  for (QComboBox* box : {modelBox_, countBox_}) {
    box->setFocusPolicy(Qt::NoFocus);
    row->addWidget(box, 1);
    connect(box, &QComboBox::activated, this, [this] { chosen(); });
  }
  auto* layout = qobject_cast<QBoxLayout*>(w_.panel->layout());
  const int statusAt = layout ? layout->indexOf(w_.status) : -1;
  if (layout) layout->insertWidget(std::max(statusAt, 0), choices);

  QStringList titles{QStringLiteral("#")};
  for (const PeakColumn& col : kPeakColumns)
    if (col.chartTitle) titles << QString::fromUtf8(col.chartTitle);
  w_.table->setColumnCount(static_cast<int>(titles.size()));
  w_.table->setHorizontalHeaderLabels(titles);
  w_.table->verticalHeader()->hide();
  w_.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  w_.table->setSelectionMode(QAbstractItemView::NoSelection);
  w_.table->setFocusPolicy(Qt::NoFocus);
  w_.table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  // Eight peaks fit without scrolling.
  w_.table->verticalHeader()->setDefaultSectionSize(w_.table->fontMetrics().height() + 4);
  w_.status->setWordWrap(true);
  w_.status->setTextFormat(Qt::PlainText);

  info_ = addLabel(w_.panel, "DeconvolutionInfoLabel");
  warning_ = addLabel(w_.panel, "DeconvolutionWarningLabel");
  QPalette red = warning_->palette();
  red.setColor(QPalette::WindowText, QColor(kWarningColour));
  warning_->setPalette(red);
  if (layout) {
    layout->addWidget(info_);
    layout->addWidget(warning_);
  }
  paint();
}

void DeconvolutionView::chosen() {
  model_.Choose(static_cast<PeakModel>(modelBox_->currentData().toInt()), countBox_->currentData().toInt());
}

void DeconvolutionView::clearLines() {
  for (QLineSeries* s : peaks_) s->clear();
  sum_->clear();
  if (background_) background_->clear();
}

void DeconvolutionView::paint() {
  w_.panel->setVisible(model_.On());
  const DeconvolutionOptions& o = model_.Options();
  modelBox_->setCurrentIndex(std::max(0, modelBox_->findData(static_cast<int>(o.model))));
  countBox_->setCurrentIndex(std::max(0, countBox_->findData(o.peaks)));
  clearLines();
  w_.table->setRowCount(0);
  info_->clear();
  warning_->clear();
  warning_->hide();
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
  // The model and the count are in the choices above.
  QStringList status = FitSummaryLines(r);
  if (r.converged())
    status.prepend(FitCountText(r) + (r.background ? QStringLiteral(", background") : QString()));
  w_.status->setText(status.join(QLatin1Char('\n')));
  if (!r.converged()) return;
  const int dosimetric = r.DosimetricPeak();

  // Between two channels of the curve the temperature is taken to rise evenly.
  std::vector<double> xs, Ts;
  const size_t n = curve.kelvin.size();
  for (size_t i = 0; i < n; ++i) {
    const int steps = i + 1 < n ? kStepsPerChannel : 1;
    for (int step = 0; step < steps; ++step) {
      const double f = static_cast<double>(step) / kStepsPerChannel;
      const size_t next = std::min(i + 1, n - 1);
      xs.push_back(curve.origin[i] + f * (curve.origin[next] - curve.origin[i]));
      Ts.push_back(curve.kelvin[i] + f * (curve.kelvin[next] - curve.kelvin[i]));
    }
  }
  const auto points = [&](const std::vector<double>& ys) {
    QList<QPointF> line;
    for (size_t i = 0; i < xs.size(); ++i) line.append(QPointF(xs[i], ys[i]));
    return line;
  };
  std::vector<QList<QPointF>> lines;
  for (const FittedPeak& p : r.peaks) lines.push_back(points(PeakValues(p.peak, Ts)));
  const QList<QPointF> sum = points(r.ValuesAt(Ts));
  QList<QPointF> background;
  if (r.background) {
    std::vector<double> ys;
    for (double T : Ts) ys.push_back(BackgroundValue(*r.background, T));
    background = points(ys);
  }
  for (size_t k = 0; k < lines.size(); ++k) {
    QPen pen = peaks_[k]->pen();
    pen.setWidthF(static_cast<int>(k) == dosimetric ? kDosimetricWidth : kPeakWidth);
    peaks_[k]->setPen(pen);
    peaks_[k]->replace(lines[k]);
  }
  sum_->replace(sum);
  // The background's line joins the chart with the first fit that has one.
  if (!background_ && !background.isEmpty())
    background_ = addLine(chart_.view->chart(), chart_, QStringLiteral("DeconvolutionBackgroundSeries"),
                          QPen(QColor(kBackgroundColour), kPeakWidth, Qt::DashLine));
  if (background_) background_->replace(background);

  w_.table->setRowCount(static_cast<int>(r.peaks.size()));
  for (int row = 0; row < static_cast<int>(r.peaks.size()); ++row) {
    const FittedPeak& peak = r.peaks[static_cast<size_t>(row)];
    QFont font = w_.table->font();
    font.setBold(row == dosimetric);
    const QString errors = PeakErrorsText(peak);
    auto* swatch = new QTableWidgetItem(QString::number(row + 1));
    swatch->setBackground(QColor(kPeakColours[row]));
    swatch->setFont(font);
    swatch->setToolTip(errors);
    w_.table->setItem(row, 0, swatch);
    int col = 1;
    for (const PeakColumn& c : kPeakColumns) {
      if (!c.chartTitle) continue;
      auto* item = new QTableWidgetItem(c.text(peak));
      item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      item->setFont(font);
      item->setToolTip(errors);
      w_.table->setItem(row, col++, item);
    }
  }
  // The fourth parameter's column is named by the model fitted.
  int col = 1;
  for (const PeakColumn& c : kPeakColumns) {
    if (!c.chartTitle) continue;
    w_.table->horizontalHeaderItem(col++)->setText(PeakColumnTitle(c, r, true));
  }

  QStringList info{QStringLiteral("Dosimetric peak: ") + DosimetricPeakText(r)};
  if (r.background) info << QStringLiteral("Background: ") + BackgroundText(r);
  info_->setText(info.join(QLatin1Char('\n')));
  const QString warning = FitWarningLine(r);
  if (!warning.isEmpty()) {
    warning_->setText(warning);
    warning_->setToolTip(FitWarnings(r).join(QLatin1Char('\n')));
    warning_->show();
  }
}

}  // namespace quelm
