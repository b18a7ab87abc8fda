#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <memory>

#include "QStringPrinter.h"
#include "evaluation/GlowChart.h"

using namespace quelm;

namespace {

// A chart view built the way the main window builds its chart page.
struct ChartFixture {
  QChartView* view;
  QAreaSeries* area;
  QLineSeries* upper;
  QScatterSeries* points;
  QValueAxis *bottom, *left, *right;
  std::unique_ptr<QChartView> owner;
  GlowChart* glow = nullptr;

  std::vector<QString> calls;
  int strokesPainted = 0;

  explicit ChartFixture(QSize size = QSize(800, 500)) {
    auto* chart = new QChart;
    chart->legend()->hide();
    upper = new QLineSeries(chart);
    area = new QAreaSeries(upper);
    points = new QScatterSeries;
    chart->addSeries(area);
    chart->addSeries(points);
    bottom = new QValueAxis;
    left = new QValueAxis;
    right = new QValueAxis;
    bottom->setRange(0, 100);
    chart->addAxis(bottom, Qt::AlignBottom);
    chart->addAxis(left, Qt::AlignLeft);
    chart->addAxis(right, Qt::AlignRight);
    area->attachAxis(bottom);
    area->attachAxis(left);
    points->attachAxis(bottom);
    points->attachAxis(right);
    owner = std::make_unique<QChartView>(chart);
    view = owner.get();

    GlowChart::Handlers h;
    h.mouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
      calls.push_back(QStringLiteral("down %1 %2,%3").arg(int(b)).arg(x).arg(y));
    };
    h.mouseMove = [this](Qt::MouseButtons b, Qt::KeyboardModifiers, int x, int y) {
      calls.push_back(QStringLiteral("move %1 %2,%3").arg(int(b)).arg(x).arg(y));
    };
    h.mouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
      calls.push_back(QStringLiteral("up %1 %2,%3").arg(int(b)).arg(x).arg(y));
    };
    h.click = [this] { calls.push_back(QStringLiteral("click")); };
    h.afterDrawArea = [this](QPainter&) { ++strokesPainted; };
    glow = new GlowChart({view, area, upper, points, bottom, left, right}, h);

    std::vector<QPointF> curve, temps;
    for (int ch = 0; ch < 100; ++ch) {
      curve.emplace_back(ch, 1000 + 50 * ch);
      temps.emplace_back(ch, 45 + 2.6 * ch);
    }
    curve.emplace_back(99, 0);
    glow->setPoints(curve, temps);

    view->resize(size);
    view->show();
    settle();
  }

  void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }

  void mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(pos), view->viewport()->mapToGlobal(QPointF(pos)), button, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &e);
  }
};

TEST(GlowChart, EveryPointsPixelConvertsBackToItsChannel) {
  for (QSize size : {QSize(640, 400), QSize(800, 500), QSize(1013, 611), QSize(1600, 900)}) {
    ChartFixture f(size);
    const QRectF plot = f.glow->plotRect();
    ASSERT_GT(plot.width(), 100) << size.width();
    for (int ch = 0; ch < 100; ++ch) {
      const QPointF p = f.glow->pointPixel(ch);
      ASSERT_EQ(f.glow->channelAtPixel(static_cast<int>(p.x())), ch) << size.width() << " ch " << ch;
    }
    // The closing point sits on channel 99 at the bottom of the plot.
    EXPECT_EQ(f.glow->pointPixel(100).x(), f.glow->pointPixel(99).x());
    EXPECT_NEAR(f.glow->pointPixel(100).y(), plot.bottom(), 1.0);
    // The axis runs to the round 100: channel 99 sits one step before its end.
    EXPECT_NEAR(f.glow->pointPixel(0).x(), plot.left(), 1.0);
    EXPECT_NEAR(f.glow->pointPixel(99).x(), plot.left() + plot.width() * 0.99, 1.0);
    // Left of the plot by more than a channel is negative.
    EXPECT_LT(f.glow->channelAtPixel(static_cast<int>(plot.left()) - 40), 0);
  }
}

TEST(GlowChart, ChannelsAreLabelledInRoundSteps) {
  const std::pair<double, double> cases[] = {{100, 20}, {99, 20}, {50, 10}, {24, 5},
                                             {12, 5},   {7, 2},   {3, 1},   {0.5, 1}};
  for (const auto& [span, step] : cases) EXPECT_EQ(quelm::RoundTickInterval(span), step) << span;
  ChartFixture f;
  EXPECT_EQ(f.bottom->tickType(), QValueAxis::TicksDynamic);
  EXPECT_EQ(f.bottom->tickAnchor(), 0);
  EXPECT_EQ(f.bottom->tickInterval(), 20);
  f.bottom->setRange(40, 60);  // as a zoom leaves it
  EXPECT_EQ(f.bottom->tickInterval(), 5);
}

TEST(GlowChart, ConversionFollowsTheZoom) {
  ChartFixture f;
  f.view->chart()->zoomIn(QRectF(f.view->chart()->plotArea().center().x(), f.view->chart()->plotArea().top(),
                                 f.view->chart()->plotArea().width() / 4,
                                 f.view->chart()->plotArea().height()));
  f.settle();
  EXPECT_GT(f.bottom->min(), 40);
  const int first = static_cast<int>(std::ceil(f.bottom->min()));
  const int last = static_cast<int>(std::floor(f.bottom->max()));
  for (int ch = first; ch <= last; ++ch)
    EXPECT_EQ(f.glow->channelAtPixel(static_cast<int>(f.glow->pointPixel(ch).x())), ch);

  // A new block shows the whole curve again.
  std::vector<QPointF> curve(101, QPointF(0, 0)), temps(100, QPointF(0, 0));
  for (int i = 0; i < 100; ++i) curve[i] = temps[i] = QPointF(i, 10);
  curve[100] = QPointF(99, 0);
  f.glow->setPoints(curve, temps);
  EXPECT_EQ(f.bottom->min(), 0);
  EXPECT_EQ(f.bottom->max(), 100);
  EXPECT_EQ(f.bottom->tickInterval(), 20);
  EXPECT_GE(f.left->max(), 10);
}

TEST(GlowChart, WindowColouringCoversTheWindowsArea) {
  ChartFixture f;
  f.glow->setWindowColouring(31, 50);  // window 30..49
  const QList<QPointF> w = f.glow->windowSeries()->points();
  ASSERT_EQ(w.size(), 21);
  EXPECT_EQ(w.front(), QPointF(30, 2500));
  EXPECT_EQ(w.back(), QPointF(50, 3500));

  f.glow->setWindowColouring(61, 100);  // window 60..99: down to the closing point
  const QList<QPointF> edge = f.glow->windowSeries()->points();
  EXPECT_EQ(edge.front(), QPointF(60, 4000));
  EXPECT_EQ(edge.back(), QPointF(99, 0));
  EXPECT_EQ(f.glow->windowArea()->color(), QColor(0x00, 0x80, 0x00));

  f.glow->setWindowColouring(1, 1);  // window of channel 0
  EXPECT_EQ(f.glow->windowSeries()->points().size(), 2);

  f.glow->clear();
  EXPECT_EQ(f.upper->count(), 0);
  EXPECT_EQ(f.glow->windowSeries()->count(), 0);
}

TEST(GlowChart, MouseEventsReachTheHandlersInViewPixels) {
  ChartFixture f;
  const QPoint at(300, 200);
  f.mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
  f.mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
  f.mouse(QEvent::MouseMove, at + QPoint(10, 0), Qt::NoButton, Qt::LeftButton);
  f.mouse(QEvent::MouseButtonRelease, at + QPoint(10, 0), Qt::LeftButton, Qt::NoButton);
  const std::vector<QString> expected = {"move 0 300,200", "down 1 300,200", "move 1 310,200", "up 1 310,200",
                                         "click"};
  EXPECT_EQ(f.calls, expected);
}

TEST(GlowChart, RightClickBringsBackTheWholeCurveWhileZoomingIsOn) {
  ChartFixture f;
  EXPECT_TRUE(f.glow->zoomEnabled());
  f.view->chart()->zoomIn(QRectF(300, 100, 100, 100));
  ASSERT_GT(f.bottom->min(), 0);
  f.mouse(QEvent::MouseButtonPress, QPoint(300, 200), Qt::RightButton, Qt::RightButton);
  f.mouse(QEvent::MouseButtonRelease, QPoint(300, 200), Qt::RightButton, Qt::NoButton);
  EXPECT_EQ(f.bottom->min(), 0);
  EXPECT_EQ(f.bottom->max(), 100);
  f.glow->setZoomEnabled(false);
  EXPECT_EQ(f.view->rubberBand(), QChartView::NoRubberBand);
  f.glow->setZoomEnabled(true);
  EXPECT_EQ(f.view->rubberBand(), QChartView::RectangleRubberBand);
}

TEST(GlowChart, PointerShapesAndStrokeLayer) {
  ChartFixture f;
  f.glow->setPointer(PointerShape::SplitH);
  EXPECT_EQ(f.view->viewport()->cursor().shape(), Qt::SplitHCursor);
  f.glow->setPointer(PointerShape::Move);
  EXPECT_EQ(f.view->viewport()->cursor().shape(), Qt::SizeAllCursor);
  f.glow->setPointer(PointerShape::Normal);
  EXPECT_EQ(f.view->viewport()->cursor().shape(), Qt::ArrowCursor);

  f.strokesPainted = 0;
  f.view->grab();  // paints the scene once
  EXPECT_GE(f.strokesPainted, 1);
}

}  // namespace
