#pragma once
// Paints the chart's deconvolution: each fitted peak and their sum as lines
// over the glow curve, in colours of their own, and the small peak table
// beside the chart with the fit's state. Shown only while the operator has
// the deconvolution on.

#include <QObject>
#include <vector>

#include "evaluation/GlowChart.h"

class QLabel;
class QLineSeries;
class QTableWidget;
class QWidget;

namespace quelm {

class DeconvolutionModel;

class DeconvolutionView : public QObject {
  Q_OBJECT

 public:
  struct Widgets {
    QWidget* panel = nullptr;  // holds the status and the table; hidden while off
    QLabel* status = nullptr;
    QTableWidget* table = nullptr;
  };

  // Parented to the chart view.
  DeconvolutionView(DeconvolutionModel& model, const GlowChart::Parts& chart, const Widgets& widgets);

  QLineSeries* sumSeries() const { return sum_; }
  const std::vector<QLineSeries*>& peakSeries() const { return peaks_; }

  void paint();

 private:
  void clearLines();

  DeconvolutionModel& model_;
  GlowChart::Parts chart_;
  Widgets w_;
  std::vector<QLineSeries*> peaks_;
  QLineSeries* sum_ = nullptr;
};

}  // namespace quelm
