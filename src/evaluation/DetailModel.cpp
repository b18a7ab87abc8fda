#include "evaluation/DetailModel.h"

#include <algorithm>
#include <cstring>

#include "base/CsvText.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "evaluation/NumberFormat.h"
#include "measurement/NurvoDataBlock.h"

namespace quelm {

namespace {

// The trace prefix of a chart menu item: its handler, named after the item.
QString chartItemTrace(ChartAction action) {
  for (const ChartActionDescriptor& d : kChartActions)
    if (d.action == action) return QStringLiteral("TPgcForm::%1Click(): ").arg(QLatin1String(d.objectName));
  return QStringLiteral("TPgcForm::ChartItemClick(): ");
}

// Lines for a terminal or a text file: an identifier's control bytes (a
// line break, an escape sequence) as visible escapes.
QStringList captionLines(const FieldDescriptor* fields, const FieldText* values, int count) {
  QStringList lines;
  for (int i = 0; i < count; ++i)
    lines << QString::fromLatin1(fields[i].caption) + QLatin1Char(' ') + PlainField(values[i].text);
  return lines;
}

}  // namespace

DetailModel::DetailModel(std::unique_ptr<TNurvoDataBlock>& data) : data_(data) {
  std::memset(&record_, 0, sizeof record_);
}

bool DetailModel::BlockShown() const { return data_ && (data_->State & Loaded) && shown_; }

EvalMembers DetailModel::Members() const {
  EvalMembers m;
  if (!data_) return m;
  m.evalStart = data_->EvalStart;
  m.evalLength = data_->EvalLength;
  m.cursorPos = data_->CursorPos;
  m.peakPos = data_->PeakPos;
  m.normFact = data_->NormFact;
  return m;
}

void DetailModel::setMembers(const EvalMembers& m) {
  data_->EvalStart = m.evalStart;
  data_->EvalLength = m.evalLength;
  data_->CursorPos = m.cursorPos;
  data_->PeakPos = m.peakPos;
  data_->NormFact = m.normFact;
}

int DetailModel::Refresh() {
  TraceLine trace(QStringLiteral("TPgcForm::DataRefresh(): "));
  if (!data_) {
    trace.fail(QStringLiteral("ERR_NULLPTR"));
    return kErrNullptr;
  }
  TNurvoDataBlock& block = *data_;
  if (!(block.State & Loaded)) {
    trace.fail(QStringLiteral("ERR_DATAINVALID"));
    return kErrDataInvalid;
  }

  // An edit refresh evaluates the shown block, which the data object's record
  // need not hold any more (a reader command in progress may have cleared it).
  const bool fresh = !(block.State & EvalEdited) || !shown_;
  if (fresh) {
    if (std::memcmp(&record_, &block.Record, sizeof record_) != 0) key_ = 0;
    std::memcpy(&record_, &block.Record, sizeof record_);
    block.DecodeChannels();
    std::memcpy(values_, block.Values, sizeof values_);
    std::memcpy(ranges_, block.Ranges, sizeof ranges_);
    blockIndex_ = block.BlockIndex;
    shown_ = true;
    setMembers(InitialEvalMembers(record_, values_));
    view_ = MakeBlockView(record_, values_, ranges_);
    if (block.State & RangeFault) {
      LogTrace(trace.text() + QStringLiteral("ERR_CHCONTENT"));  // no message: the mantissa counts
      block.State &= ~uint32_t{RangeFault};
    }
    deconvolution_.BlockChanged(&record_);
  }

  EvalMembers m = Members();
  ClampEvalMembers(m);
  evaluation_ = MakeEvaluationView(record_, values_, m);
  m.peakPos = evaluation_.peakPos;
  setMembers(m);

  block.State &= ~uint32_t{EvalEdited};
  if (refreshed) refreshed(fresh);
  if (commandsChanged) commandsChanged();
  trace.ok(QStringLiteral("BlockIndex:%1: ").arg(uint16_t{record_.BlockNumber}));
  return 0;
}

int DetailModel::ShowRecord(const BlockRecord& record) {
  if (!data_) return Refresh();  // traces the missing data object
  TNurvoDataBlock& block = *data_;
  std::memcpy(&block.Record, &record, sizeof block.Record);
  block.BlockIndex = 0;
  block.State |= Loaded;
  block.State &= ~uint32_t{EvalEdited};
  return Refresh();
}

void DetailModel::SetShownBlockKey(qint64 key) {
  if (!BlockShown()) return;
  key_ = key;
  if (commandsChanged) commandsChanged();
}

void DetailModel::ReinstateShownBlock() {
  if (!data_) return;
  TNurvoDataBlock& block = *data_;
  if (!shown_) {
    std::memset(&block.Record, 0, sizeof block.Record);
    block.State &= ~uint32_t{Loaded};
    return;
  }
  std::memcpy(&block.Record, &record_, sizeof record_);
  std::memcpy(block.Values, values_, sizeof values_);
  std::memcpy(block.Ranges, ranges_, sizeof ranges_);
  block.BlockIndex = blockIndex_;
  block.State |= Loaded;
}

int DetailModel::edited(const EvalMembers& m) {
  setMembers(m);
  data_->State |= EvalEdited;
  return Refresh();
}

int DetailModel::ChartCommand(ChartAction action, bool chartPage) {
  if (!data_) {
    TraceLine trace(chartItemTrace(action));
    trace.fail(QStringLiteral("ERR_NULLPTR"));
    return kErrNullptr;
  }
  if (!chartPage || !BlockShown()) return 0;
  if (action == ChartAction::Deconvolution) {
    deconvolution_.Toggle(&record_);
    return 0;
  }
  EvalMembers m = Members();
  if (!ApplyChartAction(action, m)) return 0;
  return edited(m);
}

int DetailModel::EditEvalStart(const QString& text) {
  if (!BlockShown()) return 0;
  EvalMembers m = Members();
  if (const auto v = ParseWholeNumber(text)) SetEvalStart(m, *v);
  return edited(m);
}

int DetailModel::EditEvalLength(const QString& text) {
  if (!BlockShown()) return 0;
  EvalMembers m = Members();
  if (const auto v = ParseWholeNumber(text)) SetEvalLength(m, *v);
  return edited(m);
}

int DetailModel::EditNormFact(const QString& text) {
  if (!BlockShown()) return 0;
  EvalMembers m = Members();
  if (const auto v = ParseNormFact(text)) m.normFact = *v;
  return edited(m);
}

void DetailModel::PressMarkers(bool nearLeft, bool nearRight) {
  if (!BlockShown()) return;
  if (nearLeft) data_->State |= LeftMarkerDrag;
  if (nearRight) data_->State |= RightMarkerDrag;
}

bool DetailModel::Dragging(uint32_t dragBit) const { return data_ && (data_->State & dragBit); }

int DetailModel::DragTo(int channel) {
  if (!BlockShown() || channel < 0) return 0;
  const uint32_t state = data_->State;
  if (!(state & (LeftMarkerDrag | RightMarkerDrag))) return 0;
  const EvalMembers before = Members();
  EvalMembers m = before;
  if (state & LeftMarkerDrag) DragLeftMarkerTo(m, channel);
  if (state & RightMarkerDrag) DragRightMarkerTo(m, channel);
  // Moves within one channel change nothing and need no new evaluation.
  if (m.evalStart == before.evalStart && m.evalLength == before.evalLength) return 0;
  return edited(m);
}

int DetailModel::EndDrag(uint32_t dragBit, int channel) {
  if (!BlockShown() || !(data_->State & dragBit)) return 0;
  data_->State &= ~dragBit;
  EvalMembers m = Members();
  if (dragBit == LeftMarkerDrag)
    DragLeftMarkerTo(m, channel);
  else
    DragRightMarkerTo(m, channel);
  return edited(m);
}

int DetailModel::MoveCursorTo(int channel) {
  if (!BlockShown()) return 0;
  EvalMembers m = Members();
  m.cursorPos = std::clamp(channel, 0, kChannelCount - 1);
  return edited(m);
}

QStringList DetailModel::HeaderLines() const {
  if (!BlockShown()) return {};
  return captionLines(kHeaderFields, view_.header.values.data(), kHeaderFieldCount);
}

QStringList DetailModel::EvaluationLines() const {
  if (!BlockShown()) return {};
  return captionLines(kEvalFields, evaluation_.values.data(), kEvalFieldCount);
}

}  // namespace quelm
