#pragma once
// The glow-curve chart's hooks into Qt Charts: it feeds the view's mouse
// events to the window's handlers in view pixels, paints the window's
// strokes after the series, draws the evaluation window in its own colour,
// converts between view pixels, channels and area points, and switches
// zooming and the pointer shape. It works on a chart view that the window
// built; the window keeps its series and axes.

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <functional>
#include <vector>

#include "evaluation/ChartInteraction.h"

class QAreaSeries;
class QChartView;
class QGraphicsItem;
class QLineSeries;
class QPainter;
class QScatterSeries;
class QValueAxis;

namespace quelm {

// The step between labelled channels for an axis spanning span channels:
// 1, 2 or 5 times a power of ten, about five steps, at least 1.
double RoundTickInterval(double span);

class GlowChart : public QObject {
  Q_OBJECT

 public:
  struct Parts {
    QChartView* view = nullptr;
    QAreaSeries* area = nullptr;
    QLineSeries* areaUpper = nullptr;  // the area's points
    QScatterSeries* points = nullptr;  // channel temperatures
    QValueAxis* bottomAxis = nullptr;
    QValueAxis* leftAxis = nullptr;
    QValueAxis* rightAxis = nullptr;
  };
  struct Handlers {
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> mouseDown;
    std::function<void(Qt::MouseButtons, Qt::KeyboardModifiers, int x, int y)> mouseMove;
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> mouseUp;
    std::function<void()> click;                   // after every left press and release on the chart
    std::function<void(QPainter&)> afterDrawArea;  // paints in view pixels, clipped to the plot
  };

  // Adds the window-colour series and the stroke layer to the chart and
  // starts watching the view; parented to the view.
  GlowChart(const Parts& parts, Handlers handlers);
  ~GlowChart() override;

  // Replaces the curve and the temperature points, resets any zoom and
  // scales the value axes to show all of them.
  void setPoints(const std::vector<QPointF>& area, const std::vector<QPointF>& temps);
  void clear();
  // Area points whose x lies in [fromX, toX] are drawn in the window colour.
  void setWindowColouring(int fromX, int toX);
  QLineSeries* windowSeries() const { return windowUpper_; }
  QAreaSeries* windowArea() const { return windowArea_; }

  // View pixels. A pixel is converted at its centre, so that the pixel a
  // point is drawn on converts back to that point's channel.
  QRectF plotRect() const;
  QPointF pointPixel(int index) const;  // pixel of area point 0..100
  double xAtPixel(int px) const;
  int channelAtPixel(int px) const;  // cut towards zero
  ChartGeometry geometry() const;

  void setZoomEnabled(bool on);
  bool zoomEnabled() const;
  void setPointer(PointerShape shape);
  PointerShape pointer() const { return pointer_; }

  // Repaints the strokes (after the evaluation members changed).
  void updateStrokes();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class StrokeLayer;
  // Where the chart's own coordinates start in the view.
  QPointF chartOffset() const;

  Parts parts_;
  Handlers handlers_;
  QLineSeries* windowUpper_ = nullptr;
  QAreaSeries* windowArea_ = nullptr;
  StrokeLayer* strokes_ = nullptr;
  QObject* viewport_ = nullptr;  // compared only, never called
  PointerShape pointer_ = PointerShape::Normal;
  bool leftPressed_ = false;
};

}  // namespace quelm
