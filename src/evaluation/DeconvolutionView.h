#pragma once
// Paints the chart's deconvolution: each fitted peak, the background and
// their sum as lines over the glow curve, in colours of their own, the
// dosimetric peak's line the widest; beside the chart the operator's choice
// of model and peak count, the fit's state and figures, the small peak
// table with the dosimetric peak in bold, the dosimetric peak and the
// background in words, and a warning line when the fit is not to be
// trusted as it stands. Shown only while the operator has the
// deconvolution on.

#include <QObject>
#include <vector>

#include "evaluation/GlowChart.h"

class QComboBox;
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
    QWidget* panel = nullptr;  // holds the status and the table in a vertical layout; hidden while off
    QLabel* status = nullptr;
    QTableWidget* table = nullptr;
  };

  // Parented to the chart view; adds its choices and its lines of text to
  // the panel's layout.
  DeconvolutionView(DeconvolutionModel& model, const GlowChart::Parts& chart, const Widgets& widgets);

  QLineSeries* sumSeries() const { return sum_; }
  // nullptr until a fit with a background is drawn.
  QLineSeries* backgroundSeries() const { return background_; }
  const std::vector<QLineSeries*>& peakSeries() const { return peaks_; }
  QComboBox* modelBox() const { return modelBox_; }
  QComboBox* countBox() const { return countBox_; }
  QLabel* infoLabel() const { return info_; }
  QLabel* warningLabel() const { return warning_; }

  void paint();

 private:
  void clearLines();
  void chosen();

  DeconvolutionModel& model_;
  GlowChart::Parts chart_;
  Widgets w_;
  std::vector<QLineSeries*> peaks_;
  QLineSeries* sum_ = nullptr;
  QLineSeries* background_ = nullptr;
  QComboBox* modelBox_ = nullptr;
  QComboBox* countBox_ = nullptr;
  QLabel* info_ = nullptr;
  QLabel* warning_ = nullptr;
};

}  // namespace quelm
