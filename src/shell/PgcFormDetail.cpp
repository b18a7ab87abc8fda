// The main window's detail view: DataRefresh fills the header, the value
// table, the chart and the evaluation panel from the plain view models of
// the evaluation code; the chart handlers, the chart menu items and the
// three evaluation edits turn the operator's changes into new evaluation
// members and an edit refresh.

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStatusBar>
#include <QTabWidget>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <algorithm>
#include <cstring>
#include <functional>

#include "evaluation/BlockView.h"
#include "evaluation/ChartInteraction.h"
#include "evaluation/GlowChart.h"
#include "evaluation/NumberFormat.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "shell/PgcForm.h"
#include "base/StringGrid.h"

namespace {

// Header values by HeaderField.
struct HeaderLabels {
  QLabel* TPgcForm::*caption;
  QLabel* TPgcForm::*value;
};
const HeaderLabels kHeaderLabels[quelm::kHeaderFieldCount] = {
    {&TPgcForm::DeviceIDLabel, &TPgcForm::DeviceIDDatLabel},
    {&TPgcForm::DosimeterLabel, &TPgcForm::DosimeterDatLabel},
    {&TPgcForm::DateTimeLabel, &TPgcForm::DateTimeDatLabel},
    {&TPgcForm::ErrorCodesLabel, &TPgcForm::ErrorCodesDatLabel},
    {&TPgcForm::BlockNumberLabel, &TPgcForm::BlockNumberDatLabel},
    {&TPgcForm::MeasPointsLabel, &TPgcForm::MeasPointsDatLabel},
    {&TPgcForm::SamplingSpeedLabel, &TPgcForm::SamplingSpeedDatLabel},
    {&TPgcForm::ReaderTempLabel, &TPgcForm::ReaderTempDatLabel},
    {&TPgcForm::MeasuredDoseLabel, &TPgcForm::MeasuredDoseDatLabel},
    {&TPgcForm::ApprDoseRateLabel, &TPgcForm::ApprDoseRateDatLabel},
    {&TPgcForm::LastReadOutLabel, &TPgcForm::LastReadOutDatLabel},
    {&TPgcForm::ExposureLabel, &TPgcForm::ExposureDatLabel},
};

// Evaluation panel values by EvalField.
QLabel* TPgcForm::*const kEvalLabels[quelm::kEvalFieldCount] = {
    &TPgcForm::StartPercentDatLabel, &TPgcForm::StopPercentDatLabel, &TPgcForm::PeakPosDatLabel,
    &TPgcForm::PeakValueDatLabel,    &TPgcForm::PeakTempDatLabel,    &TPgcForm::CursorPosDatLabel,
    &TPgcForm::CursorValueDatLabel,  &TPgcForm::CursorTempDatLabel,  &TPgcForm::ROIDatLabel,
    &TPgcForm::ROIDoseDatLabel,      &TPgcForm::BgDoseDatLabel,      &TPgcForm::BgCorrDoseDatLabel,
    &TPgcForm::TCorrDoseDatLabel,    &TPgcForm::MeasDoseDatLabel,
};

// The chart menu items by ChartAction, with their handlers.
struct ChartItem {
  QAction* TPgcForm::*item;
  void (TPgcForm::*handler)();
};
const ChartItem kChartItems[quelm::kChartActionCount] = {
    {&TPgcForm::ChartCursorLeftItem, &TPgcForm::ChartCursorLeftItemClick},
    {&TPgcForm::ChartCursorRightItem, &TPgcForm::ChartCursorRightItemClick},
    {&TPgcForm::ChartEvalStartLeftItem, &TPgcForm::ChartEvalStartLeftItemClick},
    {&TPgcForm::ChartEvalStartRightItem, &TPgcForm::ChartEvalStartRightItemClick},
    {&TPgcForm::ChartEvalLengthLeftItem, &TPgcForm::ChartEvalLengthLeftItemClick},
    {&TPgcForm::ChartEvalLengthRightItem, &TPgcForm::ChartEvalLengthRightItemClick},
    {&TPgcForm::ChartNFInrease10Item, &TPgcForm::ChartNFInrease10ItemClick},
    {&TPgcForm::ChartNFInrease1Item, &TPgcForm::ChartNFInrease1ItemClick},
    {&TPgcForm::ChartNFInrease01Item, &TPgcForm::ChartNFInrease01ItemClick},
    {&TPgcForm::ChartNFDecrease10Item, &TPgcForm::ChartNFDecrease10ItemClick},
    {&TPgcForm::ChartNFDecrease1Item, &TPgcForm::ChartNFDecrease1ItemClick},
    {&TPgcForm::ChartNFDecrease01Item, &TPgcForm::ChartNFDecrease01ItemClick},
};

void setHint(QWidget* w, const QString& hint) {
  w->setToolTip(hint);
  w->setStatusTip(hint);
}

// Runs a function on the watched object's focus loss and Enter key.
class EditHook : public QObject {
 public:
  EditHook(QLineEdit* edit, std::function<void()> onExit, std::function<void(int)> onKey)
      : QObject(edit), onExit_(std::move(onExit)), onKey_(std::move(onKey)) {
    edit->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::FocusOut) {
      // Leaving for another control of the window counts; a dialog or
      // another window taking the focus does not.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) onExit_();
    } else if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        onKey_(key);
        return true;
      }
    }
    return false;
  }

 private:
  std::function<void()> onExit_;
  std::function<void(int)> onKey_;
};

}  // namespace

void TPgcForm::SetUpDetailView() {
  quelm::GlowChart::Handlers h;
  h.mouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) {
    PChartMouseDown(b, s, x, y);
  };
  h.mouseMove = [this](Qt::MouseButtons b, Qt::KeyboardModifiers s, int x, int y) {
    PChartMouseMove(b, s, x, y);
  };
  h.mouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) { PChartMouseUp(b, s, x, y); };
  h.click = [this] { PChartClick(); };
  h.afterDrawArea = [this](QPainter& p) { AreaSeriesAfterDrawValues(p); };
  ChartHelper = new quelm::GlowChart(
      {PChart, AreaSeries, AreaUpperSeries, PointSeries, ChartBottomAxis, ChartLeftAxis, ChartRightAxis}, h);

  for (const ChartItem& c : kChartItems) connect(this->*c.item, &QAction::triggered, this, c.handler);

  new EditHook(
      EvalSEdit, [this] { EvalSEditExit(); }, [this](int k) { EvalSEditKeyPress(k); });
  new EditHook(
      EvalLEdit, [this] { EvalLEditExit(); }, [this](int k) { EvalLEditKeyPress(k); });
  new EditHook(
      NormFact20DatEdit, [this] { NormFact20DatEditExit(); },
      [this](int k) { NormFact20DatEditKeyPress(k); });
}

// --- Refresh ---------------------------------------------------------------

EvalMembers TPgcForm::evalMembers() const {
  EvalMembers m;
  m.evalStart = DataBlock->EvalStart;
  m.evalLength = DataBlock->EvalLength;
  m.cursorPos = DataBlock->CursorPos;
  m.peakPos = DataBlock->PeakPos;
  m.normFact = DataBlock->NormFact;
  return m;
}

void TPgcForm::setEvalMembers(const EvalMembers& m) {
  DataBlock->EvalStart = m.evalStart;
  DataBlock->EvalLength = m.evalLength;
  DataBlock->CursorPos = m.cursorPos;
  DataBlock->PeakPos = m.peakPos;
  DataBlock->NormFact = m.normFact;
}

bool TPgcForm::blockShown() const { return DataBlock && (DataBlock->State & Loaded) && shownValid_; }

void TPgcForm::ClearValueTable() { ValueListGrid->clearCells(); }

int TPgcForm::DataRefresh() {
  quelm::TraceLine trace(QStringLiteral("TPgcForm::DataRefresh(): "));
  if (!DataBlock) {
    trace.fail(QStringLiteral("ERR_NULLPTR"));
    return ReportError(quelm::kErrNullptr, trace.text());
  }
  TNurvoDataBlock& block = *DataBlock;
  if (!(block.State & Loaded)) {
    trace.fail(QStringLiteral("ERR_DATAINVALID"));
    return ReportError(quelm::kErrDataInvalid, trace.text());
  }

  // An edit refresh evaluates the block on display, which the data object's
  // record need not hold any more (a search re-counts the source and clears it).
  if (!(block.State & EvalEdited) || !shownValid_) {
    ChartHelper->clear();
    ClearValueTable();
    std::memcpy(&shownRecord_, &block.Record, sizeof shownRecord_);
    block.DecodeChannels();
    std::memcpy(shownValues_, block.Values, sizeof shownValues_);
    shownValid_ = true;
    setEvalMembers(InitialEvalMembers(shownRecord_, shownValues_));

    const quelm::BlockView view = quelm::MakeBlockView(shownRecord_, block.Values, block.Ranges);
    for (int f = 0; f < quelm::kHeaderFieldCount; ++f) {
      QLabel* value = this->*kHeaderLabels[f].value;
      value->setText(view.header.values[f].text);
      setHint(value, view.header.values[f].hint);
    }
    setHint(ErrorCodesLabel, view.header.errorCodesCaptionHint);
    for (int row = 0; row < quelm::kValueTableRows; ++row)
      for (int col = 0; col < quelm::kValueTableColumns; ++col)
        if (!view.table[row][col].isEmpty()) ValueListGrid->setCell(col, row, view.table[row][col]);
    ChartHelper->setPoints(view.areaPoints, view.tempPoints);
    PChart->setEnabled(true);

    if (block.State & RangeFault) {
      LogTrace(trace.text() + QStringLiteral("ERR_CHCONTENT"));  // no message: the mantissa counts
      block.State &= ~RangeFault;
    }
  }

  EvalMembers m = evalMembers();
  ClampEvalMembers(m);
  const quelm::EvaluationView ev = quelm::MakeEvaluationView(shownRecord_, shownValues_, m);
  m.peakPos = ev.peakPos;
  setEvalMembers(m);

  ChartHelper->setWindowColouring(ev.windowFromX, ev.windowToX);
  NormFact20DatEdit->setText(ev.normFactText);
  EvalSEdit->setText(ev.evalStartText);
  EvalLEdit->setText(ev.evalLengthText);
  for (int f = 0; f < quelm::kEvalFieldCount; ++f) {
    QLabel* value = this->*kEvalLabels[f];
    value->setText(ev.values[f].text);
    setHint(value, ev.values[f].hint);
  }
  ChartHelper->updateStrokes();

  block.State &= ~EvalEdited;
  UpdateMenuItems();
  trace.ok(QStringLiteral("BlockIndex:%1: ").arg(uint16_t{shownRecord_.BlockNumber}));
  return 0;
}

int TPgcForm::evalEdited(const EvalMembers& m) {
  setEvalMembers(m);
  DataBlock->State |= EvalEdited;
  return DataRefresh();
}

// --- Chart menu items ------------------------------------------------------

int TPgcForm::chartItemClick(quelm::ChartAction action, const char* handler) {
  if (!DataBlock) {
    quelm::TraceLine trace(QStringLiteral("TPgcForm::%1(): ").arg(QLatin1String(handler)));
    trace.fail(QStringLiteral("ERR_NULLPTR"));
    return ReportError(quelm::kErrNullptr, trace.text());
  }
  if (PageControl->currentWidget() != ChartTabSheet || !blockShown()) return 0;
  EvalMembers m = evalMembers();
  if (!quelm::ApplyChartAction(action, m)) return 0;
  return evalEdited(m);
}

void TPgcForm::ChartCursorLeftItemClick() {
  chartItemClick(quelm::ChartAction::CursorLeft, "ChartCursorLeftItemClick");
}
void TPgcForm::ChartCursorRightItemClick() {
  chartItemClick(quelm::ChartAction::CursorRight, "ChartCursorRightItemClick");
}
void TPgcForm::ChartEvalStartLeftItemClick() {
  chartItemClick(quelm::ChartAction::EvalStartLeft, "ChartEvalStartLeftItemClick");
}
void TPgcForm::ChartEvalStartRightItemClick() {
  chartItemClick(quelm::ChartAction::EvalStartRight, "ChartEvalStartRightItemClick");
}
void TPgcForm::ChartEvalLengthLeftItemClick() {
  chartItemClick(quelm::ChartAction::EvalLengthLeft, "ChartEvalLengthLeftItemClick");
}
void TPgcForm::ChartEvalLengthRightItemClick() {
  chartItemClick(quelm::ChartAction::EvalLengthRight, "ChartEvalLengthRightItemClick");
}
void TPgcForm::ChartNFInrease10ItemClick() {
  chartItemClick(quelm::ChartAction::NFIncrease10, "ChartNFInrease10ItemClick");
}
void TPgcForm::ChartNFInrease1ItemClick() {
  chartItemClick(quelm::ChartAction::NFIncrease1, "ChartNFInrease1ItemClick");
}
void TPgcForm::ChartNFInrease01ItemClick() {
  chartItemClick(quelm::ChartAction::NFIncrease01, "ChartNFInrease01ItemClick");
}
void TPgcForm::ChartNFDecrease10ItemClick() {
  chartItemClick(quelm::ChartAction::NFDecrease10, "ChartNFDecrease10ItemClick");
}
void TPgcForm::ChartNFDecrease1ItemClick() {
  chartItemClick(quelm::ChartAction::NFDecrease1, "ChartNFDecrease1ItemClick");
}
void TPgcForm::ChartNFDecrease01ItemClick() {
  chartItemClick(quelm::ChartAction::NFDecrease01, "ChartNFDecrease01ItemClick");
}

// --- Evaluation edits ------------------------------------------------------

void TPgcForm::EvalSEditExit() {
  if (!blockShown()) return;
  EvalMembers m = evalMembers();
  if (const auto v = quelm::ParseWholeNumber(EvalSEdit->text()))
    quelm::SetEvalStart(m, *v);
  else
    EvalSEdit->setText(QString::number(m.evalStart));
  evalEdited(m);
}

void TPgcForm::EvalLEditExit() {
  if (!blockShown()) return;
  EvalMembers m = evalMembers();
  if (const auto v = quelm::ParseWholeNumber(EvalLEdit->text()))
    quelm::SetEvalLength(m, *v);
  else
    EvalLEdit->setText(QString::number(m.evalLength));
  evalEdited(m);
}

void TPgcForm::NormFact20DatEditExit() {
  if (!blockShown()) return;
  EvalMembers m = evalMembers();
  if (const auto v = quelm::ParseNormFact(NormFact20DatEdit->text()))
    m.normFact = *v;
  else
    NormFact20DatEdit->setText(quelm::formatFloat(m.normFact, 2));
  evalEdited(m);
}

void TPgcForm::EvalSEditKeyPress(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) EvalSEditExit();
}

void TPgcForm::EvalLEditKeyPress(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) EvalLEditExit();
}

void TPgcForm::NormFact20DatEditKeyPress(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) NormFact20DatEditExit();
}

// --- Chart mouse -----------------------------------------------------------

void TPgcForm::PChartMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int X, int Y) {
  if (button != Qt::LeftButton || !blockShown()) return;
  ChartDownX = X;
  ChartDownY = Y;
  const quelm::ChartGeometry g = ChartHelper->geometry();
  const quelm::MarkerPixels markers = quelm::MarkerPixelsOf(evalMembers(), g);
  const QPointF at(X, Y);
  const uint32_t bits[2] = {LeftMarkerDrag, RightMarkerDrag};
  const double xs[2] = {markers.left, markers.right};
  for (int i = 0; i < 2; ++i) {
    if (!quelm::NearMarker(at, xs[i], g.plot)) continue;
    ChartHelper->setPointer(quelm::PointerShape::Move);
    ChartHelper->setZoomEnabled(false);
    DataBlock->State |= bits[i];
  }
}

void TPgcForm::dragMarkers(int X) {
  const int c = ChartHelper->channelAtPixel(X);
  if (c < 0) return;
  EvalMembers m = evalMembers();
  if (DataBlock->State & LeftMarkerDrag) quelm::DragLeftMarkerTo(m, c);
  if (DataBlock->State & RightMarkerDrag) quelm::DragRightMarkerTo(m, c);
  setEvalMembers(m);
}

void TPgcForm::PChartMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers, int X, int Y) {
  if (!blockShown()) return;
  const int c = ChartHelper->channelAtPixel(X);
  if (c >= 0 && c < kChannelCount && c < AreaUpperSeries->count() && c < PointSeries->count())
    SetChartHint(quelm::ChartHintText(c, AreaUpperSeries->at(c).y(), PointSeries->at(c).y()));

  const quelm::ChartGeometry g = ChartHelper->geometry();
  const quelm::MarkerPixels markers = quelm::MarkerPixelsOf(evalMembers(), g);
  ChartHelper->setPointer(quelm::PointerAfterMove(ChartHelper->pointer(), QPointF(X, Y), markers, g.plot));

  if (!(buttons & Qt::LeftButton) || !(DataBlock->State & (LeftMarkerDrag | RightMarkerDrag))) return;
  const EvalMembers before = evalMembers();
  dragMarkers(X);
  const EvalMembers after = evalMembers();
  // Moves within one channel change nothing and need no new evaluation.
  if (after.evalStart == before.evalStart && after.evalLength == before.evalLength) return;
  evalEdited(after);
}

void TPgcForm::PChartMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, int X, int) {
  if (button != Qt::LeftButton || !blockShown()) return;
  for (uint32_t bit : {uint32_t{LeftMarkerDrag}, uint32_t{RightMarkerDrag}}) {
    if (!(DataBlock->State & bit)) continue;
    ChartHelper->setPointer(quelm::PointerShape::Normal);
    DataBlock->State &= ~bit;
    ChartHelper->setZoomEnabled(true);
    const int c = ChartHelper->channelAtPixel(X);
    EvalMembers m = evalMembers();
    if (c >= 0) {
      if (bit == LeftMarkerDrag)
        quelm::DragLeftMarkerTo(m, c);
      else
        quelm::DragRightMarkerTo(m, c);
    }
    evalEdited(m);
  }
}

void TPgcForm::PChartClick() {
  if (!blockShown()) return;
  const double first = ChartHelper->pointPixel(0).x();
  const double last = ChartHelper->pointPixel(quelm::kAreaPointCount - 1).x();
  if (ChartDownX < first || ChartDownX > last) return;
  EvalMembers m = evalMembers();
  m.cursorPos = std::clamp(ChartHelper->channelAtPixel(ChartDownX), 0, kChannelCount - 1);
  evalEdited(m);
}

void TPgcForm::AreaSeriesAfterDrawValues(QPainter& painter) {
  if (!blockShown()) return;
  painter.setRenderHint(QPainter::Antialiasing, false);  // one crisp pixel column per stroke
  for (const quelm::Stroke& s : quelm::MarkerStrokes(evalMembers(), ChartHelper->geometry())) {
    painter.setPen(QPen(QColor(QRgb{s.colour}), 1));
    painter.drawLine(s.line);
  }
}
