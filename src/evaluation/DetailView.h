#pragma once
// The detail view's widgets over the detail model: paints the header, the
// value table, the chart and the evaluation panel after every refresh, and
// turns the chart's mouse and the three evaluation edits into the model's
// commands. The main window builds the widgets and hands them over; what a
// change means is the model's business.
//
// The chart and the value table are pages of their own, and charts are the
// dearest widgets of the window: the window builds them when they are first
// shown or a block first is, and hands them over then (AttachPages). Until
// then the view paints the header and the panel only; the model holds
// everything the pages will show.

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
  };
  struct Pages {
    StringGrid* valueTable = nullptr;
    GlowChart::Parts chart;
    DeconvolutionView::Widgets deconvolution;
  };

  DetailView(DetailModel& model, const Widgets& widgets, QObject* parent);

  // Takes over the pages' widgets and paints what the model holds into them.
  void AttachPages(const Pages& pages);
  // Asked for the pages when a block is to be painted before they exist.
  std::function<void()> pagesWanted;

  // The value under the pointer, for the status bar.
  std::function<void(const QString&)> chartHint;
  // After the deconvolution was switched, refitted or finished.
  std::function<void()> deconvolutionChanged;

  // Both null until the pages are attached.
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
  void paintPages(bool fresh);

  DetailModel& model_;
  Widgets w_;
  Pages p_;
  GlowChart* chart_ = nullptr;
  DeconvolutionView* deconvolution_ = nullptr;
};

}  // namespace quelm
