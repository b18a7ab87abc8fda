#pragma once
// Control dosimeters: dosimeters nobody wears, read among the service's
// dosimeters so that each read-out batch says whether the reader evaluated
// as it should. Plain rules without a database: which batch a control
// read-out belongs to, each batch's figure, the limits it is held against,
// the control chart's content, and the lists. The archive (Archive.h)
// stores the marks and the batches and puts the read-outs of a batch out of
// its limits on the review list.
//
// - A control has a known dose per read-out, from a time on: irradiated to
//   a known dose, its batch figure is the reader's dose over the known one
//   (ideally 1); unirradiated (known dose 0, a background control), it is
//   the reader's dose itself in uSv. The two kinds are judged apart.
// - A batch is what one reader read on one day: the controls check the
//   reader at the time, so a batch follows the reader and its day, not
//   how the read-outs were cut into files or imported (an import again, or
//   one file of several days and readers, changes no batch).
// - Each batch is held against the mean and standard deviation of the
//   kControlBaseline batches before it that were within their own limits
//   (a batch out of limits never widens the limits that should show the
//   next one); it is out of limits beyond 3 standard deviations. With
//   fewer than kMinControlBaseline such batches it is not judged.
//   [Dose archive] ControlTolerance (percent) replaces the standard
//   deviations for the ratio: out beyond 1 +- the tolerance.
// - A control read-out with error flags or without a dose does not enter
//   its batch (it is on the review list by itself). The reader's dose
//   counts, whatever a review made of it: the controls check the reader.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "archive/ArchiveTime.h"

namespace quelm {

// How many batches before a batch make its limits: with one batch a reader
// day, about a month of working days. Twenty is what a control chart's
// limits are usually drawn from; enough that one odd day does not move
// them much, recent enough to follow a reader's slow drift.
inline constexpr int kControlBaseline = 20;
// Fewer batches give a standard deviation too uncertain to judge by.
inline constexpr int kMinControlBaseline = 5;
// Out of limits beyond this many standard deviations; warned beyond the
// first.
inline constexpr double kControlWarningSd = 2;
inline constexpr double kControlLimitSd = 3;

// A dosimeter marked as a control: its known dose from a time on (until
// another mark of it).
struct ControlMark {
  QString dosimeter;
  double knownUsv = 0;
  QDateTime from;
  QString markedAt;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
};
// Why a mark cannot be stored; empty when it can.
QString ControlMarkError(const ControlMark& mark);
// The mark that holds for a read-out at `readoutTime` (stored form) among
// one dosimeter's marks; nullptr when none does.
const ControlMark* MarkAt(const std::vector<ControlMark>& marks, const QString& dosimeter,
                          const QString& readoutTime);

enum class ControlKind { Ratio, Background };

// One control read-out as its batch takes it.
struct ControlReading {
  QString device;
  QString readoutTime;  // stored form
  QString dosimeter;
  double measuredUsv = 0;  // the reader's
  double knownUsv = 0;
};

// What a batch is held against.
struct ControlLimits {
  int baseline = 0;  // batches the figures come from
  std::optional<double> mean;
  std::optional<double> sd;
  bool judged() const { return mean.has_value() && sd.has_value(); }
  // How far a value lies from the mean in standard deviations (infinite
  // for any difference when they are all alike); nothing when not judged.
  std::optional<double> deviation(double value) const;
};

struct ControlBatch {
  QString device;
  QString day;            // "YYYY-MM-DD"
  int ratioControls = 0;  // read-outs of controls with a known dose
  int backgroundControls = 0;
  std::optional<double> ratio;       // mean of measured / known
  std::optional<double> background;  // mean measured dose of background controls, uSv
  ControlLimits ratioLimits;
  ControlLimits backgroundLimits;
  bool ratioOut = false;  // beyond kControlLimitSd of its limits
  bool backgroundOut = false;

  std::optional<double> value(ControlKind kind) const {
    return kind == ControlKind::Ratio ? ratio : background;
  }
  int controls(ControlKind kind) const {
    return kind == ControlKind::Ratio ? ratioControls : backgroundControls;
  }
  const ControlLimits& limits(ControlKind kind) const {
    return kind == ControlKind::Ratio ? ratioLimits : backgroundLimits;
  }
  // Out of its limits in that kind; a tolerance (percent) replaces the
  // standard deviations of the ratio.
  bool outside(ControlKind kind, std::optional<double> tolerancePercent) const;
  // In either kind: its read-outs go on the review list.
  bool out(std::optional<double> tolerancePercent) const {
    return outside(ControlKind::Ratio, tolerancePercent) ||
           outside(ControlKind::Background, tolerancePercent);
  }
};

// The batches of the readings, by day and reader, each judged as above.
std::vector<ControlBatch> EvaluateControlBatches(const std::vector<ControlReading>& readings);

// The control chart: per kind that has batches, a panel of the batches in
// order with what each was held against.
struct ControlChartPoint {
  QString device;
  QString day;
  double value = 0;
  ControlLimits limits;
  bool warning = false;  // beyond kControlWarningSd
  bool out = false;      // out of limits (as the review takes it)
};
struct ControlSeries {
  ControlKind kind = ControlKind::Ratio;
  std::vector<ControlChartPoint> points;
  std::optional<double> tolerance;  // percent, the ratio's
  double low = 0, high = 1;         // the value axis
};
struct ControlChartData {
  std::vector<ControlSeries> series;
  QString note;  // what is shown: which batches, how they are judged
};
// The batches of `range` (by day), or else the last `last` batches of
// each kind.
ControlChartData MakeControlChart(const std::vector<ControlBatch>& batches,
                                  std::optional<double> tolerancePercent,
                                  const std::optional<ReportPeriod>& range, int last = 3 * kControlBaseline);
// "Ratio measured/known", "Background controls (uSv)"
QString ControlKindTitle(ControlKind kind);

// "in limits", "beyond 2 SD", "out of limits", "out of tolerance",
// "not judged"
QString ControlStatusText(const ControlBatch& batch, ControlKind kind,
                          std::optional<double> tolerancePercent);

// controls list: reader,day,kind,controls,value,mean,sd,lower_3sd,
// upper_3sd,baseline,status; a row per batch and kind it has.
QString ControlBatchCsvHeader();
QStringList ControlBatchRows(const ControlBatch& batch, std::optional<double> tolerancePercent, bool csv);
// controls marked: dosimeter,known_usv,from,marked_at
QString ControlMarkCsvHeader();
QString ControlMarkRow(const ControlMark& mark, bool csv);
// "Control: DOSIMETER known dose D uSv from TIME"
QString ControlMarkLine(const ControlMark& mark);

}  // namespace quelm
