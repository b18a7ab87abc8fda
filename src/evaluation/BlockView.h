#pragma once
// What the detail view shows about one block, as texts and numbers. A freshly
// read block produces the header values, the value table and the chart
// points (MakeBlockView); every refresh, fresh or after an edit of the
// evaluation members, produces the evaluation panel (MakeEvaluationView).
// The window only copies these into its labels, cells and series.

#include <QPointF>
#include <QString>
#include <array>
#include <vector>

#include "evaluation/DoseChain.h"
#include "measurement/BlockRecord.h"

namespace quelm {

struct FieldText {
  QString text;
  QString hint;  // hint of the value
};

// A caption/value pair of a panel: the caption, the fixed hint of the
// caption (empty for most) and the column of the panel that holds the pair
// (header columns 0..2; evaluation sub-panels Panel1..Panel3). The pairs of
// a column follow each other from the top in table order.
struct FieldDescriptor {
  const char* caption;
  const char* captionHint;
  int column;
};

// Header values, in the order of the header panel's three columns.
enum HeaderField {
  hfDeviceID,
  hfDosimeter,
  hfDateTime,
  hfErrorCodes,
  hfBlockNumber,
  hfMeasPoints,
  hfSamplingSpeed,
  hfReaderTemp,
  hfMeasuredDose,
  hfDoseRate,
  hfLastReadOut,
  hfExposure,
  kHeaderFieldCount
};
extern const FieldDescriptor kHeaderFields[kHeaderFieldCount];

// Evaluation panel values: Panel1 (the three edits of the evaluation
// members first), Panel2, Panel3.
enum EvalField {
  efEvalStart,
  efEvalLength,
  efNormFact,
  efStartPercent,
  efStopPercent,
  efPeakPos,
  efPeakValue,
  efPeakTemp,
  efCursorPos,
  efCursorValue,
  efCursorTemp,
  efRoi,
  efRoiDose,
  efBgDose,
  efBgCorrDose,
  efTCorrDose,
  efMeasDose,
  kEvalFieldCount
};
extern const FieldDescriptor kEvalFields[kEvalFieldCount];

inline constexpr int kValueTableRows = 27;
inline constexpr int kValueTableColumns = 16;
inline constexpr int kAreaPointCount = kChannelCount + 1;  // the channels and the closing point

struct HeaderView {
  std::array<FieldText, kHeaderFieldCount> values;
  QString errorCodesCaptionHint;  // the only caption hint that follows the block
};

using ValueTable = std::array<std::array<QString, kValueTableColumns>, kValueTableRows>;

struct BlockView {
  HeaderView header;
  ValueTable table;
  std::vector<QPointF> areaPoints;  // (channel, value) for 0..99, then (99, 0)
  std::vector<QPointF> tempPoints;  // (channel, whole 'C) for 0..99
};

HeaderView MakeHeaderView(const BlockRecord& record);
// values and ranges as DecodeBlockValues left them.
ValueTable MakeValueTable(const BlockRecord& record, const uint32_t values[kRawValueCount],
                          const uint32_t ranges[kRawValueCount]);
BlockView MakeBlockView(const BlockRecord& record, const uint32_t values[kRawValueCount],
                        const uint32_t ranges[kRawValueCount]);

struct EvaluationView {
  // Area points whose x lies in [windowFromX, windowToX] take the window
  // colour: each point colours the area from its predecessor up to itself.
  int windowFromX = 0;
  int windowToX = 0;
  std::array<FieldText, kEvalFieldCount> values;  // the edits' texts included
  int peakPos = 0;
  DoseEvaluation dose;
};

// members must lie within their limits (ClampEvalMembers).
EvaluationView MakeEvaluationView(const BlockRecord& record, const uint32_t values[kRawValueCount],
                                  const EvalMembers& members);

// Whole degrees of a channel temperature (0.1 'C), cut towards zero.
inline int WholeDegrees(int16_t tenths) { return tenths / 10; }

}  // namespace quelm
