#include "calibration/Calibration.h"

#include <pwd.h>
#include <unistd.h>

#include <QList>
#include <QRegularExpression>
#include <QTime>
#include <algorithm>
#include <cmath>

#include "calibration/CalibrationText.h"
#include "evaluation/BlockFormat.h"
#include "measurement/ErrorFlags.h"

namespace quelm {

std::optional<double> DeliveredDose::of(const QString& dosimeter) const {
  if (all) return all;
  const auto it = perDosimeter.find(dosimeter);
  if (it == perDosimeter.end()) return std::nullopt;
  return it->second;
}

bool isDeliveredDose(double usv) { return std::isfinite(usv) && usv > 0; }

bool isOutlierLimit(double sd) { return std::isfinite(sd) && sd > 0; }

bool isCalibratableDosimeter(const QString& id) {
  static const QRegularExpression pattern(QStringLiteral("^[A-Z][0-9]{4}$"));
  return pattern.match(id).hasMatch();
}

namespace {

// The fields of one CSV line (RFC 4180: a field in double quotes may hold
// commas, and "" stands for a quote). Nothing when a quote is not closed.
std::optional<QStringList> csvFields(const QString& line) {
  QStringList fields;
  QString field;
  bool quoted = false, wasQuoted = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (quoted) {
      if (c != QLatin1Char('"'))
        field += c;
      else if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"'))
        field += line[++i];
      else
        quoted = false;
    } else if (c == QLatin1Char('"') && field.trimmed().isEmpty() && !wasQuoted) {
      quoted = wasQuoted = true;
      field.clear();
    } else if (c == QLatin1Char(',')) {
      fields << field;
      field.clear();
      wasQuoted = false;
    } else {
      field += c;
    }
  }
  if (quoted) return std::nullopt;
  fields << field;
  return fields;
}

}  // namespace

QString ParseDoseCsv(const QByteArray& text, std::map<QString, double>* doses) {
  std::map<QString, double> read;
  const QList<QByteArray> lines = text.split('\n');
  bool first = true;
  for (qsizetype n = 0; n < lines.size(); ++n) {
    QByteArray bytes = lines[n];
    if (bytes.endsWith('\r')) bytes.chop(1);
    const QString line = QString::fromUtf8(bytes);
    const QString where = QStringLiteral("line %1: ").arg(n + 1);
    if (line.trimmed().isEmpty()) continue;
    const std::optional<QStringList> fields = csvFields(line);
    if (!fields) return where + QStringLiteral("a quote is not closed");
    if (fields->size() != 2)
      return where +
             QStringLiteral("two fields are needed, dosimeter and dose in uSv, not %1").arg(fields->size());
    const QString id = fields->at(0).trimmed();
    const QString doseText = fields->at(1).trimmed();
    const bool header = first && id.compare(QLatin1String("dosimeter"), Qt::CaseInsensitive) == 0;
    first = false;
    if (header) {
      // A header names the unit: doses in mSv read as uSv would give
      // factors a thousand times too large, still within a table's limits.
      if (doseText.compare(QLatin1String("dose_usv"), Qt::CaseInsensitive) != 0)
        return where + calibText(CalibText::DoseFileHeader, {doseText});
      continue;
    }
    if (!isCalibratableDosimeter(id))
      return where + QStringLiteral("\"%1\" is no dosimeter (a type letter A..Z and four digits)").arg(id);
    // Files are written with a decimal point, whatever the user's settings.
    bool ok = false;
    const double dose = doseText.toDouble(&ok);
    if (!ok || !isDeliveredDose(dose))
      return where + QStringLiteral("\"%1\" is no dose in uSv above 0").arg(doseText);
    if (!read.emplace(id, dose).second) return where + QStringLiteral("%1 is given twice").arg(id);
  }
  if (read.empty()) return QStringLiteral("no dosimeter and dose in it");
  *doses = std::move(read);
  return QString();
}

const BatchFigures* CalibrationRun::batchOf(QChar type) const {
  for (const BatchFigures& b : batches)
    if (b.type == type) return &b;
  return nullptr;
}

namespace {

std::optional<QDateTime> readoutTimeOf(const BlockRecord& r) {
  if (r.ErrorCodes & kClockFault) return std::nullopt;
  const QDate date(1900 + r.DateTime[0], r.DateTime[1], r.DateTime[2]);
  const QTime time(r.DateTime[3], r.DateTime[4]);
  if (!date.isValid() || !time.isValid()) return std::nullopt;
  // The reader's clock, as the archive keeps it: no zone, so that no local
  // clock change moves a read-out or loses one in the hour it skips.
  return QDateTime(date, time, Qt::UTC);
}

}  // namespace

std::vector<CalibrationRow> MakeCalibrationRows(const std::vector<CalibrationReadout>& readouts) {
  std::vector<CalibrationRow> rows;
  rows.reserve(readouts.size());
  for (const CalibrationReadout& in : readouts) {
    CalibrationRow row;
    row.readout = in;
    const BlockRecord& r = in.record;
    row.dosimeter = IdentifierText(r.BulbID).trimmed();
    row.device = IdentifierText(r.DeviceID).trimmed();
    row.blockNumber = r.BlockNumber;
    row.readoutTime = readoutTimeOf(r);
    row.flagged = r.ErrorCodes != 0;
    uint32_t values[kRawValueCount], ranges[kRawValueCount] = {};
    DecodeBlockValues(r, values, ranges);
    row.window = InitialEvalMembers(r, values);
    row.chainUsv = BlockDose(r);
    if (!isCalibratableDosimeter(row.dosimeter)) row.refusal = RowRefusal::NotADosimeter;
    rows.push_back(std::move(row));
  }
  // A read-out empties the dosimeter: only its first read-out in the run
  // holds the calibration dose. Read-outs without a time count after those
  // with one, each kind in the order given.
  std::vector<size_t> order(rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&rows](size_t a, size_t b) {
    const auto& ta = rows[a].readoutTime;
    const auto& tb = rows[b].readoutTime;
    if (ta.has_value() != tb.has_value()) return ta.has_value();
    return ta && *ta < *tb;
  });
  std::map<QString, size_t> first;
  for (size_t i : order) {
    CalibrationRow& row = rows[i];
    if (row.refusal != RowRefusal::None) continue;
    const auto [it, isFirst] = first.emplace(row.dosimeter, i);
    if (!isFirst) {
      row.refusal = RowRefusal::ReadAgain;
      row.readBefore = rows[it->second].readout.origin;
    }
  }
  return rows;
}

std::vector<std::optional<double>> OutlierDeviations(const std::vector<double>& factors) {
  const size_t n = factors.size();
  std::vector<std::optional<double>> deviations(n);
  if (n < 3) return deviations;
  // Sums about the whole mean, so that leaving one out cancels nothing large.
  double mean = 0;
  for (double f : factors) mean += f;
  mean /= static_cast<double>(n);
  double sum = 0, squares = 0;
  for (double f : factors) {
    sum += f - mean;
    squares += (f - mean) * (f - mean);
  }
  const double others = static_cast<double>(n - 1);
  for (size_t i = 0; i < n; ++i) {
    const double d = factors[i] - mean;
    const double shift = (sum - d) / others;  // the others' mean less the whole mean
    const double variance = std::max(0.0, (squares - d * d - others * shift * shift) / (others - 1));
    const double distance = std::fabs(d - shift);
    const double sd = std::sqrt(variance);
    if (sd > 0)
      deviations[i] = distance / sd;
    else
      deviations[i] = distance > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return deviations;
}

void EvaluateCalibration(CalibrationRun& run) {
  for (CalibrationRow& row : run.rows) {
    const bool kept = row.kept;
    row.factor.reset();
    row.solveRefusal = NormFactRefusal::None;
    row.deviation.reset();
    row.beyondLimit = false;
    row.kept = false;
    if (row.refusal == RowRefusal::NoDose || row.refusal == RowRefusal::Chain) row.refusal = RowRefusal::None;
    if (row.refusal != RowRefusal::None) continue;
    row.deliveredUsv = run.dose.of(row.dosimeter);
    if (!row.deliveredUsv) {
      row.refusal = RowRefusal::NoDose;
      continue;
    }
    const NormFactSolution s =
        SolveNormFact(row.readout.record, row.window.evalStart, row.window.evalLength, *row.deliveredUsv);
    if (!s) {
      row.refusal = RowRefusal::Chain;
      row.solveRefusal = s.refusal;
      continue;
    }
    // The factor as a table holds it, a single: the reader, the certificate,
    // the batch figures and the archive then all have the same number.
    row.factor = static_cast<double>(static_cast<float>(s.normFact));
    row.kept = kept;
  }

  // The rule per type, over the factors of read-outs without flags.
  std::map<QChar, std::vector<size_t>> byType;
  for (size_t i = 0; i < run.rows.size(); ++i)
    if (run.rows[i].factor && !run.rows[i].flagged) byType[run.rows[i].type()].push_back(i);
  for (const auto& [type, indices] : byType) {
    std::vector<double> factors;
    for (size_t i : indices) factors.push_back(*run.rows[i].factor);
    const std::vector<std::optional<double>> deviations = OutlierDeviations(factors);
    for (size_t k = 0; k < indices.size(); ++k) {
      CalibrationRow& row = run.rows[indices[k]];
      row.deviation = deviations[k];
      row.beyondLimit = deviations[k] && *deviations[k] > run.outlierSd;
    }
  }
  for (CalibrationRow& row : run.rows)
    if (!row.outlier()) row.kept = false;
  UpdateBatchFigures(run);
}

void UpdateBatchFigures(CalibrationRun& run) {
  std::map<QChar, BatchFigures> figures;
  std::map<QChar, std::vector<double>> used;
  for (const CalibrationRow& row : run.rows) {
    if (!row.factor) continue;
    BatchFigures& b = figures[row.type()];
    b.type = row.type();
    ++b.factors;
    if (row.used()) used[row.type()].push_back(*row.factor);
  }
  run.batches.clear();
  for (auto& [type, b] : figures) {
    const std::vector<double>& f = used[type];
    b.used = static_cast<int>(f.size());
    if (!f.empty()) {
      double sum = 0;
      for (double v : f) sum += v;
      const double mean = sum / static_cast<double>(f.size());
      b.mean = mean;
      if (f.size() >= 2) {
        double squares = 0;
        for (double v : f) squares += (v - mean) * (v - mean);
        b.sd = std::sqrt(squares / static_cast<double>(f.size() - 1));
        b.cv = *b.sd / mean;
      }
    }
    run.batches.push_back(b);
  }
  for (CalibrationRow& row : run.rows) {
    row.ratio.reset();
    const BatchFigures* b = run.batchOf(row.type());
    if (row.factor && b && b->mean) row.ratio = *row.factor / *b->mean;
  }
}

int RatioHistogram::tallest() const {
  int top = 0;
  for (size_t i = 0; i < used.size(); ++i) top = std::max(top, used[i] + left[i]);
  return top;
}

RatioHistogram MakeRatioHistogram(const CalibrationRun& run, int bins) {
  RatioHistogram h;
  h.used.assign(static_cast<size_t>(std::max(bins, 1)), 0);
  h.left = h.used;
  // The scale spans the ratios in the mean, or all of them when none is.
  bool any = false;
  for (const bool inMean : {true, false}) {
    for (const CalibrationRow& row : run.rows) {
      if (!row.ratio || (inMean && !row.used())) continue;
      h.low = any ? std::min(h.low, *row.ratio) : *row.ratio;
      h.high = any ? std::max(h.high, *row.ratio) : *row.ratio;
      any = true;
    }
    if (any) break;
  }
  if (!any) return h;
  const double margin = std::max((h.high - h.low) / 10, 2e-3);
  h.low -= margin;
  h.high += margin;
  const double n = static_cast<double>(h.used.size());
  for (const CalibrationRow& row : run.rows) {
    if (!row.ratio) continue;
    const double at = (*row.ratio - h.low) / (h.high - h.low) * n;
    if (at < 0) {
      ++h.below;
    } else if (at >= n) {
      ++h.above;
    } else {
      (row.used() ? h.used : h.left)[static_cast<size_t>(at)]++;
    }
  }
  return h;
}

QString operatingSystemUser() {
  if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name && *pw->pw_name)
    return QString::fromLocal8Bit(pw->pw_name);
  for (const char* name : {"USER", "LOGNAME"})
    if (const QByteArray v = qgetenv(name); !v.isEmpty()) return QString::fromLocal8Bit(v);
  return QStringLiteral("uid %1").arg(geteuid());
}

}  // namespace quelm
