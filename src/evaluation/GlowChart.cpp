#include "evaluation/GlowChart.h"

#include <QGraphicsItem>
#include <QMouseEvent>
#include <QPainter>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

#include "measurement/BlockRecord.h"

namespace quelm {

double RoundTickInterval(double span) {
  if (!(span > 0)) return 1;
  // About five steps of 1, 2 or 5 times a power of ten; never below a channel.
  const double rough = span / 5;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = 10 * power;
  for (const double m : {1.0, 2.0, 5.0})
    if (rough <= m * power) {
      step = m * power;
      break;
    }
  return std::max(step, 1.0);
}

namespace {
QPoint pixelOf(const QMouseEvent& e) {
  return QPoint(static_cast<int>(std::floor(e.position().x())),
                static_cast<int>(std::floor(e.position().y())));
}
}  // namespace

// The layer above the series on which the window paints its strokes.
class GlowChart::StrokeLayer : public QGraphicsItem {
 public:
  StrokeLayer(QChart* chart, GlowChart* owner) : QGraphicsItem(chart), chart_(chart), owner_(owner) {
    setZValue(1000);  // above every series
    setAcceptedMouseButtons(Qt::NoButton);
  }
  void geometryChanged() { prepareGeometryChange(); }
  QRectF boundingRect() const override { return chart_->rect(); }
  void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
    if (!owner_->handlers_.afterDrawArea) return;
    painter->save();
    painter->setClipRect(chart_->plotArea());
    // The handler draws in view pixels.
    painter->translate(-owner_->chartOffset());
    owner_->handlers_.afterDrawArea(*painter);
    painter->restore();
  }

 private:
  QChart* chart_;
  GlowChart* owner_;
};

GlowChart::GlowChart(const Parts& parts, Handlers handlers)
    : QObject(parts.view), parts_(parts), handlers_(std::move(handlers)) {
  QChart* chart = parts_.view->chart();

  windowUpper_ = new QLineSeries(chart);
  windowUpper_->setObjectName(QStringLiteral("WindowUpperSeries"));
  windowArea_ = new QAreaSeries(windowUpper_);
  windowArea_->setObjectName(QStringLiteral("WindowAreaSeries"));
  const QColor windowColour(QRgb{kWindowColour});
  windowArea_->setColor(windowColour);
  windowArea_->setBorderColor(windowColour);
  chart->addSeries(windowArea_);
  windowArea_->attachAxis(parts_.bottomAxis);
  windowArea_->attachAxis(parts_.leftAxis);
  // The temperature points stay visible above the window's area.
  if (parts_.points) {
    chart->removeSeries(parts_.points);
    chart->addSeries(parts_.points);
    parts_.points->attachAxis(parts_.bottomAxis);
    parts_.points->attachAxis(parts_.rightAxis);
  }

  strokes_ = new StrokeLayer(chart, this);
  connect(chart, &QChart::geometryChanged, this, [this] { strokes_->geometryChanged(); });
  connect(chart, &QChart::plotAreaChanged, this, [this] { updateStrokes(); });
  for (QValueAxis* axis : {parts_.bottomAxis, parts_.leftAxis})
    connect(axis, &QValueAxis::rangeChanged, this, [this] { updateStrokes(); });
  // Channels are counted in round steps (0, 20, ... 100), also when zoomed in.
  parts_.bottomAxis->setTickType(QValueAxis::TicksDynamic);
  parts_.bottomAxis->setTickAnchor(0);
  parts_.bottomAxis->setMinorTickCount(1);
  const auto roundTicks = [axis = parts_.bottomAxis](qreal min, qreal max) {
    axis->setTickInterval(RoundTickInterval(max - min));
  };
  connect(parts_.bottomAxis, &QValueAxis::rangeChanged, this, roundTicks);
  roundTicks(parts_.bottomAxis->min(), parts_.bottomAxis->max());

  parts_.view->setMouseTracking(true);
  parts_.view->viewport()->setMouseTracking(true);
  viewport_ = parts_.view->viewport();
  viewport_->installEventFilter(this);
  setZoomEnabled(true);
}

// The view is mid-destruction when its children go, and the stroke layer
// has gone with the chart: nothing to undo here.
GlowChart::~GlowChart() = default;

void GlowChart::setPoints(const std::vector<QPointF>& area, const std::vector<QPointF>& temps) {
  parts_.view->chart()->zoomReset();
  parts_.areaUpper->replace(QList<QPointF>(area.begin(), area.end()));
  if (parts_.points) parts_.points->replace(QList<QPointF>(temps.begin(), temps.end()));

  double top = 0;
  for (const QPointF& p : area) top = std::max(top, p.y());
  parts_.leftAxis->setRange(0, top > 0 ? top * 1.05 : 1);
  parts_.leftAxis->applyNiceNumbers();
  if (parts_.rightAxis && !temps.empty()) {
    double low = 0, high = 0;
    for (const QPointF& p : temps) {
      low = std::min(low, p.y());
      high = std::max(high, p.y());
    }
    parts_.rightAxis->setRange(low, high > low ? high * 1.05 : low + 1);
    parts_.rightAxis->applyNiceNumbers();
  }
  parts_.bottomAxis->setRange(0, kChannelCount);
  updateStrokes();
}

void GlowChart::clear() {
  parts_.areaUpper->clear();
  if (parts_.points) parts_.points->clear();
  windowUpper_->clear();
  updateStrokes();
}

void GlowChart::setWindowColouring(int fromX, int toX) {
  const int count = static_cast<int>(parts_.areaUpper->count());
  int first = -1, last = -1;
  for (int i = 0; i < count; ++i) {
    const double x = parts_.areaUpper->at(i).x();
    if (x >= fromX && x <= toX) {
      if (first < 0) first = i;
      last = i;
    }
  }
  QList<QPointF> window;
  // Each coloured point colours the area from its predecessor up to itself.
  if (first >= 0)
    for (int i = std::max(first - 1, 0); i <= last; ++i) window.append(parts_.areaUpper->at(i));
  windowUpper_->replace(window);
}

QPointF GlowChart::chartOffset() const {
  const QChart* chart = parts_.view->chart();
  return QPointF(parts_.view->mapFromScene(chart->mapToScene(QPointF(0, 0))));
}

QRectF GlowChart::plotRect() const { return parts_.view->chart()->plotArea().translated(chartOffset()); }

QPointF GlowChart::pointPixel(int index) const {
  QPointF value(std::clamp(index, 0, kChannelCount - 1), 0);
  if (index >= 0 && index < parts_.areaUpper->count()) value = parts_.areaUpper->at(index);
  const QPointF p = parts_.view->chart()->mapToPosition(value, parts_.area) + chartOffset();
  return QPointF(std::round(p.x()), std::round(p.y()));
}

double GlowChart::xAtPixel(int px) const {
  const QPointF chartPos = QPointF(px + 0.5, plotRect().center().y()) - chartOffset();
  return parts_.view->chart()->mapToValue(chartPos, parts_.area).x();
}

int GlowChart::channelAtPixel(int px) const { return ChannelOfX(xAtPixel(px)); }

ChartGeometry GlowChart::geometry() const {
  ChartGeometry g;
  g.plot = plotRect();
  g.pointAt = [this](int index) { return pointPixel(index); };
  g.xAt = [this](double px) { return xAtPixel(static_cast<int>(std::floor(px))); };
  return g;
}

void GlowChart::setZoomEnabled(bool on) {
  parts_.view->setRubberBand(on ? QChartView::RectangleRubberBand : QChartView::NoRubberBand);
}

bool GlowChart::zoomEnabled() const { return parts_.view->rubberBand() != QChartView::NoRubberBand; }

void GlowChart::setPointer(PointerShape shape) {
  pointer_ = shape;
  QWidget* viewport = parts_.view->viewport();
  switch (shape) {
    case PointerShape::Normal:
      viewport->unsetCursor();
      break;
    case PointerShape::Move:
      viewport->setCursor(Qt::SizeAllCursor);
      break;
    case PointerShape::SplitH:
      viewport->setCursor(Qt::SplitHCursor);
      break;
  }
}

void GlowChart::updateStrokes() {
  if (strokes_) strokes_->update();
}

bool GlowChart::eventFilter(QObject* watched, QEvent* event) {
  // Only the event type and the remembered viewport are looked at first:
  // the view sends its viewport events while it is being destroyed.
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
      if (watched != viewport_) return false;
      break;
    default:
      return false;
  }
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint p = pixelOf(*e);
      if (e->button() == Qt::LeftButton) leftPressed_ = true;
      if (handlers_.mouseDown) handlers_.mouseDown(e->button(), e->modifiers(), p.x(), p.y());
      return false;  // the view may still start its zoom rectangle
    }
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint p = pixelOf(*e);
      if (handlers_.mouseMove) handlers_.mouseMove(e->buttons(), e->modifiers(), p.x(), p.y());
      return false;
    }
    case QEvent::MouseButtonRelease: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint p = pixelOf(*e);
      if (e->button() == Qt::RightButton && zoomEnabled()) {
        parts_.view->chart()->zoomReset();  // one click brings the whole curve back
        return true;
      }
      if (handlers_.mouseUp) handlers_.mouseUp(e->button(), e->modifiers(), p.x(), p.y());
      if (e->button() == Qt::LeftButton && leftPressed_) {
        leftPressed_ = false;
        if (handlers_.click) handlers_.click();
      }
      return false;
    }
    default:
      return false;
  }
}

}  // namespace quelm
