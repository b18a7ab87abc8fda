#pragma once
// The detail view's widgets over the detail model: paints the header, the
// value table, the chart and the evaluation panel after every refresh, and
// turns the chart's mouse and the three evaluation edits into the model's
// commands. The main window builds the widgets and hands them over; what a
// change means is the model's business.

#include <QObject>
#include <array>
#include <functional>

#include "evaluation/BlockView.h"
#include "evaluation/DeconvolutionView.h"
#include "evaluation/GlowChart.h"

class QLabel;
class QLineEdit;
class QPainter;

namespace quelm {

class DetailModel;
class StringGrid;

class DetailView : public QObject {
  Q_OBJECT

 public:
  struct Widgets {
    std::array<QLabel*, kHeaderFieldCount> headerCaptions{};
    std::array<QLabel*, kHeaderFieldCount> headerValues{};
    // The value labels of the evaluation panel; the edits stand for the
    // first three fields.
    std::array<QLabel*, kEvalFieldCount> evalValues{};
    QLineEdit* evalStart = nullptr;
    QLineEdit* evalLength = nullptr;
    QLineEdit* normFact = nullptr;
    StringGrid* valueTable = nullptr;
    GlowChart::Parts chart;
    DeconvolutionView::Widgets deconvolution;
  };

  // Parented to the chart view.
  DetailView(DetailModel& model, const Widgets& widgets);

  // The value under the pointer, for the status bar.
  std::function<void(const QString&)> chartHint;
  // After the deconvolution was switched, refitted or finished.
  std::function<void()> deconvolutionChanged;

  GlowChart* Chart() const { return chart_; }
  DeconvolutionView* Deconvolution() const { return deconvolution_; }
  // Pixel position of the last left-button press on the chart.
  int ChartDownX = 0;
  int ChartDownY = 0;

  void PChartMouseDown(Qt::MouseButton button, int X, int Y);
  void PChartMouseMove(Qt::MouseButtons buttons, int X, int Y);
  void PChartMouseUp(Qt::MouseButton button, int X);
  void PChartClick();
  void AreaSeriesAfterDrawValues(QPainter& painter);  // in view pixels

 private:
  // Empties every cell of the value table.
  void ClearValueTable();
  void paint(bool fresh);

  DetailModel& model_;
  Widgets w_;
  GlowChart* chart_ = nullptr;
  DeconvolutionView* deconvolution_ = nullptr;
};

}  // namespace quelm
