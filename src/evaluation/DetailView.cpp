#include "evaluation/DetailView.h"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>

#include "base/ErrorCodes.h"
#include "base/StringGrid.h"
#include "evaluation/ChartInteraction.h"
#include "evaluation/DetailModel.h"
#include "measurement/NurvoDataBlock.h"

namespace quelm {

namespace {

void setHint(QWidget* w, const QString& hint) {
  w->setToolTip(hint);
  w->setStatusTip(hint);
}

// Runs a function when the edit is left for another control of the window
// or Enter is pressed in it, after the operator typed into it. The edits
// show their members rounded ("0.01" for a factor of 0.00615): reading an
// untouched text back would change the member. Setting the text on a
// refresh clears the typed state.
class EditHook : public QObject {
 public:
  EditHook(QLineEdit* edit, std::function<void()> onExit)
      : QObject(edit), edit_(edit), onExit_(std::move(onExit)) {
    edit->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::FocusOut) {
      // A dialog or another window taking the focus does not leave the edit.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) exit();
    } else if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        exit();
        return true;
      }
    }
    return false;
  }

 private:
  void exit() {
    if (!edit_->isModified()) return;
    edit_->setModified(false);  // taken once, whether or not a refresh follows
    onExit_();
  }

  QLineEdit* edit_;
  std::function<void()> onExit_;
};

}  // namespace

DetailView::DetailView(DetailModel& model, const Widgets& widgets, QObject* parent)
    : QObject(parent), model_(model), w_(widgets) {
  new EditHook(w_.evalStart, [this] { ReportFailure(model_.EditEvalStart(w_.evalStart->text())); });
  new EditHook(w_.evalLength, [this] { ReportFailure(model_.EditEvalLength(w_.evalLength->text())); });
  new EditHook(w_.normFact, [this] { ReportFailure(model_.EditNormFact(w_.normFact->text())); });

  model_.refreshed = [this](bool fresh) { paint(fresh); };
  model_.Deconvolution().changed = [this] {
    if (deconvolution_) deconvolution_->paint();
    if (deconvolutionChanged) deconvolutionChanged();
  };
}

void DetailView::AttachPages(const Pages& pages) {
  if (chart_) return;
  p_ = pages;
  GlowChart::Handlers h;
  h.mouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) { PChartMouseDown(b, x, y); };
  h.mouseMove = [this](Qt::MouseButtons b, Qt::KeyboardModifiers, int x, int y) { PChartMouseMove(b, x, y); };
  h.mouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int) { PChartMouseUp(b, x); };
  h.click = [this] { PChartClick(); };
  h.afterDrawArea = [this](QPainter& p) { AreaSeriesAfterDrawValues(p); };
  chart_ = new GlowChart(p_.chart, h);
  deconvolution_ = new DeconvolutionView(model_.Deconvolution(), p_.chart, p_.deconvolution);
  // The chart takes the mouse once there is a block to show.
  p_.chart.view->setEnabled(false);
  paintPages(model_.BlockShown());
  deconvolution_->paint();
}

void DetailView::ClearValueTable() { p_.valueTable->clearCells(); }

void DetailView::paint(bool fresh) {
  // Pages built now are painted whole as they are attached.
  const bool hadPages = chart_ != nullptr;
  if (fresh && !hadPages && model_.BlockShown() && pagesWanted) pagesWanted();
  if (fresh) {
    const BlockView& view = model_.View();
    for (int f = 0; f < kHeaderFieldCount; ++f) {
      w_.headerValues[f]->setText(view.header.values[f].text);
      setHint(w_.headerValues[f], view.header.values[f].hint);
    }
    setHint(w_.headerCaptions[hfErrorCodes], view.header.errorCodesCaptionHint);
  }

  const EvaluationView& ev = model_.Evaluation();
  w_.evalStart->setText(ev.values[efEvalStart].text);
  w_.evalLength->setText(ev.values[efEvalLength].text);
  w_.normFact->setText(ev.values[efNormFact].text);
  for (int f = 0; f < kEvalFieldCount; ++f) {
    QLabel* value = w_.evalValues[f];
    if (!value) continue;
    value->setText(ev.values[f].text);
    setHint(value, ev.values[f].hint);
  }
  if (hadPages) paintPages(fresh);
}

void DetailView::paintPages(bool fresh) {
  if (fresh) {
    const BlockView& view = model_.View();
    chart_->clear();
    ClearValueTable();
    for (int row = 0; row < kValueTableRows; ++row)
      for (int col = 0; col < kValueTableColumns; ++col)
        if (!view.table[row][col].isEmpty()) p_.valueTable->setCell(col, row, view.table[row][col]);
    chart_->setPoints(view.areaPoints, view.tempPoints);
    p_.chart.view->setEnabled(true);
  }
  const EvaluationView& ev = model_.Evaluation();
  chart_->setWindowColouring(ev.windowFromX, ev.windowToX);
  chart_->updateStrokes();
}

void DetailView::PChartMouseDown(Qt::MouseButton button, int X, int Y) {
  if (button != Qt::LeftButton || !model_.BlockShown()) return;
  ChartDownX = X;
  ChartDownY = Y;
  const ChartGeometry g = chart_->geometry();
  const MarkerPixels markers = MarkerPixelsOf(model_.Members(), g);
  const QPointF at(X, Y);
  const bool nearLeft = NearMarker(at, markers.left, g.plot);
  const bool nearRight = NearMarker(at, markers.right, g.plot);
  if (nearLeft || nearRight) {
    chart_->setPointer(PointerShape::Move);
    chart_->setZoomEnabled(false);
  }
  model_.PressMarkers(nearLeft, nearRight);
}

void DetailView::PChartMouseMove(Qt::MouseButtons buttons, int X, int Y) {
  if (!model_.BlockShown()) return;
  const int c = chart_->channelAtPixel(X);
  if (chartHint && c >= 0 && c < kChannelCount && c < p_.chart.areaUpper->count() &&
      c < p_.chart.points->count())
    chartHint(ChartHintText(c, p_.chart.areaUpper->at(c).y(), p_.chart.points->at(c).y()));

  const ChartGeometry g = chart_->geometry();
  const MarkerPixels markers = MarkerPixelsOf(model_.Members(), g);
  chart_->setPointer(PointerAfterMove(chart_->pointer(), QPointF(X, Y), markers, g.plot));
  if (buttons & Qt::LeftButton) ReportFailure(model_.DragTo(c));
}

void DetailView::PChartMouseUp(Qt::MouseButton button, int X) {
  if (button != Qt::LeftButton || !model_.BlockShown()) return;
  for (uint32_t bit : {uint32_t{LeftMarkerDrag}, uint32_t{RightMarkerDrag}}) {
    if (!model_.Dragging(bit)) continue;
    chart_->setPointer(PointerShape::Normal);
    chart_->setZoomEnabled(true);
    ReportFailure(model_.EndDrag(bit, chart_->channelAtPixel(X)));
  }
}

void DetailView::PChartClick() {
  if (!model_.BlockShown()) return;
  const double first = chart_->pointPixel(0).x();
  const double last = chart_->pointPixel(kAreaPointCount - 1).x();
  if (ChartDownX < first || ChartDownX > last) return;
  ReportFailure(model_.MoveCursorTo(chart_->channelAtPixel(ChartDownX)));
}

void DetailView::AreaSeriesAfterDrawValues(QPainter& painter) {
  if (!model_.BlockShown()) return;
  painter.setRenderHint(QPainter::Antialiasing, false);  // one crisp pixel column per stroke
  for (const Stroke& s : MarkerStrokes(model_.Members(), chart_->geometry())) {
    painter.setPen(QPen(QColor(QRgb{s.colour}), 1));
    painter.drawLine(s.line);
  }
}

}  // namespace quelm
