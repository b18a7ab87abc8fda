// The dose archive's calibration runs: stored whole in one transaction
// with their change-log row, listed, and a dosimeter's factor history;
// and the read-outs a calibration from the archive takes.
#include <QDateTime>
#include <array>
#include <cmath>
#include <cstring>
#include <map>

#include "archive/ArchiveImpl.h"
#include "archive/ArchiveText.h"
#include "evaluation/DoseChain.h"

namespace quelm {

using namespace archive_sql;
using namespace archive_impl;

QString CalibrationRecordError(const CalibrationRecord& run) {
  if (!ParseArchiveTime(run.computedAt, false))
    return QStringLiteral("a calibration run needs the time it was computed");
  if (run.source.trimmed().isEmpty())
    return QStringLiteral("a calibration run names where its read-outs came from");
  if (run.factors.empty()) return QStringLiteral("a calibration run holds its read-outs");
  for (const CalibrationFactorRecord& f : run.factors) {
    if (f.record.size() != static_cast<qsizetype>(sizeof(BlockRecord)))
      return QStringLiteral("%1: the record holds %2 bytes, not 512").arg(f.origin).arg(f.record.size());
    if (f.evalStart < 0 || f.evalLength < 1 || f.evalStart + f.evalLength > kChannelCount)
      return QStringLiteral("%1: no evaluation window").arg(f.origin);
    if (f.factor && !(std::isfinite(*f.factor) && *f.factor > 0))
      return QStringLiteral("%1: a factor is a number above 0").arg(f.origin);
  }
  return QString();
}

namespace {

// The reader's factor a block was evaluated with; none when it holds none.
std::optional<double> factorOf(const QByteArray& bytes) {
  if (bytes.size() != static_cast<qsizetype>(sizeof(BlockRecord))) return std::nullopt;
  BlockRecord r;
  std::memcpy(&r, bytes.constData(), sizeof r);
  const double f = float{r.EVANORM};
  return std::isfinite(f) && f > 0 ? std::optional<double>(f) : std::nullopt;
}

QString runSummary(const CalibrationRecord& run) {
  QStringList parts;
  parts << QStringLiteral("%1 read-outs").arg(run.factors.size());
  for (const CalibrationBatchRecord& b : run.batches)
    parts << QStringLiteral("type %1: %2 of %3 factors in the mean, mean %4")
                 .arg(b.type)
                 .arg(b.used)
                 .arg(b.factors)
                 .arg(b.mean ? QString::number(*b.mean, 'g', 7) : QStringLiteral("none"));
  parts << QStringLiteral("dose %1").arg(run.dose);
  if (!run.written.isEmpty()) parts << QStringLiteral("written: ") + run.written;
  return parts.join(QStringLiteral("; "));
}

QString notedState(const QString& note, const QString& written, int entries) {
  return QStringLiteral("note \"%1\"; written: %2; %3 look-up entries")
      .arg(note, written.isEmpty() ? QStringLiteral("nothing") : written)
      .arg(entries);
}

constexpr int kFactorColumns = 18;

int insertFactors(Connection& c, qlonglong run, const std::vector<CalibrationFactorRecord>& factors) {
  QSqlQuery q(c.db());
  const auto bind = [&](size_t row, int* position) {
    const CalibrationFactorRecord& f = factors[row];
    for (const QVariant& v : QVariantList{
             run, DecodeReadout(f.record).dosimeter, f.device, f.blockNumber, nullableText(f.readoutTime),
             f.origin.isNull() ? QStringLiteral("") : f.origin,
             f.readoutId ? QVariant(f.readoutId) : QVariant(QMetaType::fromType<qlonglong>()), f.record,
             f.evalStart, f.evalLength, nullableDouble(factorOf(f.record)), nullableDouble(f.deliveredUsv),
             nullableDouble(f.chainUsv), nullableDouble(f.factor), nullableDouble(f.ratio),
             f.status.isNull() ? QStringLiteral("") : f.status, int{f.used}, int{f.written}})
      q.bindValue((*position)++, v);
  };
  return insertBatches(c, q, factors.size(),
                       QStringLiteral("INSERT INTO calibration_factors (run_id, dosimeter, device_id,"
                                      " block_number, readout_time, origin, readout_id, record, eval_start,"
                                      " eval_length, factor_in_force, delivered_usv, chain_usv, factor,"
                                      " ratio, status, used, written) VALUES "),
                       kFactorColumns, QString(), bind);
}

CalibrationRecord runOf(const QSqlQuery& q) {
  CalibrationRecord r;
  r.id = q.value(0).toLongLong();
  r.computedAt = q.value(1).toString();
  r.storedAt = q.value(2).toString();
  r.calibratedBy = q.value(3).toString();
  r.program = q.value(4).toString();
  r.source = q.value(5).toString();
  r.dose = q.value(6).toString();
  r.note = q.value(7).toString();
  r.outlierSd = q.value(8).toDouble();
  r.written = q.value(9).toString();
  return r;
}

const QString kRunColumns = QStringLiteral(
    "SELECT id, computed_at, stored_at, calibrated_by, program, source, dose, note, outlier_sd, written"
    " FROM calibration_runs");

int loadBatches(Connection& c, std::map<qlonglong, std::vector<CalibrationBatchRecord>>* out,
                std::optional<qlonglong> run = std::nullopt) {
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT run_id, type, factors, used, mean, sd, cv FROM calibration_batches") +
            (run ? QStringLiteral(" WHERE run_id = ?") : QString()) + QStringLiteral(" ORDER BY run_id, ") +
            InByteOrder(*c.dialect, "type"));
  if (run) q.addBindValue(*run);
  if (const int rc = c.exec(q)) return rc;
  while (q.next())
    (*out)[q.value(0).toLongLong()].push_back({q.value(1).toString(), q.value(2).toInt(), q.value(3).toInt(),
                                               optionalDouble(q.value(4)), optionalDouble(q.value(5)),
                                               optionalDouble(q.value(6))});
  return kOk;
}

}  // namespace

int DoseArchive::storeCalibration(const CalibrationRecord& run, qint64* id) {
  detail_.clear();
  if (const QString e = CalibrationRecordError(run); !e.isEmpty()) {
    detail_ = e;
    return kErrArchiveInput;
  }
  Impl& d = *d_;
  qlonglong stored = 0;
  const int rc = d.write([&]() -> int {
    QSqlQuery q(d.db());
    q.prepare(QStringLiteral(
        "INSERT INTO calibration_runs (computed_at, stored_at, calibrated_by, program, source, dose,"
        " note, outlier_sd, written) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    // Empty, never NULL: the columns hold text.
    const auto text = [](const QString& s) { return s.isNull() ? QStringLiteral("") : s; };
    for (const QVariant& v : QVariantList{
             run.computedAt, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), text(run.calibratedBy),
             text(run.program), run.source, text(run.dose), text(run.note), run.outlierSd, text(run.written)})
      q.addBindValue(v);
    if (const int rc = d.exec(q)) return rc;
    stored = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    q.prepare(
        QStringLiteral("INSERT INTO calibration_batches (run_id, type, factors, used, mean, sd, cv)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?)"));
    for (const CalibrationBatchRecord& b : run.batches) {
      for (const QVariant& v : QVariantList{stored, b.type, b.factors, b.used, nullableDouble(b.mean),
                                            nullableDouble(b.sd), nullableDouble(b.cv)})
        q.addBindValue(v);
      if (const int rc = d.exec(q)) return rc;
    }
    if (const int rc = insertFactors(d, stored, run.factors)) return rc;
    return appendLog(
        d, {{QStringLiteral("calibration run stored"), QStringLiteral("calibration run %1").arg(stored),
             QString(), runSummary(run), run.note, QString(), QString(), QString()}});
  });
  if (rc) return rc;
  if (id) *id = stored;
  return kOk;
}

int DoseArchive::updateCalibration(qint64 id, const QString& note, const QString& written,
                                   const QStringList& writtenDosimeters,
                                   const std::vector<std::pair<QString, QString>>& statuses) {
  detail_.clear();
  Impl& d = *d_;
  return d.write([&]() -> int {
    QSqlQuery q(d.db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT note, written FROM calibration_runs WHERE id = ?"));
    q.addBindValue(id);
    if (const int rc = d.exec(q)) return rc;
    if (!q.next()) {
      detail_ = QStringLiteral("no calibration run %1 is stored").arg(id);
      return kErrArchiveInput;
    }
    const QString oldNote = q.value(0).toString(), oldWritten = q.value(1).toString();
    q.finish();
    q.prepare(QStringLiteral("SELECT dosimeter FROM calibration_factors WHERE run_id = ? AND written <> 0"));
    q.addBindValue(id);
    if (const int rc = d.exec(q)) return rc;
    QStringList was;
    while (q.next()) was << q.value(0).toString();
    q.finish();
    QStringList now;
    for (const QString& dosimeter : writtenDosimeters) now << NormalDosimeter(dosimeter);
    now.removeDuplicates();
    was.sort();
    now.sort();
    q.prepare(
        QStringLiteral("SELECT dosimeter, status FROM calibration_factors WHERE run_id = ? AND used <> 0"));
    q.addBindValue(id);
    if (const int rc = d.exec(q)) return rc;
    std::map<QString, QString> stored;
    while (q.next()) stored[q.value(0).toString()] = q.value(1).toString();
    q.finish();
    // Each status that changes, as (dosimeter, before, after).
    std::vector<std::array<QString, 3>> restated;
    for (const auto& [dosimeter, status] : statuses) {
      const auto it = stored.find(NormalDosimeter(dosimeter));
      if (it != stored.end() && it->second != status) restated.push_back({it->first, it->second, status});
    }
    if (oldNote == note && oldWritten == written && was == now && restated.empty()) return int{kOk};
    q.prepare(QStringLiteral("UPDATE calibration_runs SET note = ?, written = ? WHERE id = ?"));
    q.addBindValue(note.isNull() ? QStringLiteral("") : note);
    q.addBindValue(written.isNull() ? QStringLiteral("") : written);
    q.addBindValue(id);
    if (const int rc = d.exec(q)) return rc;
    if (was != now) {
      q.prepare(QStringLiteral("UPDATE calibration_factors SET written = 0 WHERE run_id = ?"));
      q.addBindValue(id);
      if (const int rc = d.exec(q)) return rc;
      for (qsizetype i = 0; i < now.size(); i += 500) {
        const QStringList part = now.mid(i, 500);
        q.prepare(QStringLiteral("UPDATE calibration_factors SET written = 1 WHERE run_id = ? AND used <> 0 "
                                 "AND dosimeter IN (") +
                  marks(part.size()) + QLatin1Char(')'));
        q.addBindValue(id);
        for (const QString& dosimeter : part) q.addBindValue(dosimeter);
        if (const int rc = d.exec(q)) return rc;
      }
    }
    QString before = notedState(oldNote, oldWritten, static_cast<int>(was.size())),
            after = notedState(note, written, static_cast<int>(now.size()));
    for (const auto& [dosimeter, from, to] : restated) {
      q.prepare(QStringLiteral(
          "UPDATE calibration_factors SET status = ? WHERE run_id = ? AND used <> 0 AND dosimeter = ?"));
      q.addBindValue(to);
      q.addBindValue(id);
      q.addBindValue(dosimeter);
      if (const int rc = d.exec(q)) return rc;
      before += QStringLiteral("; %1 \"%2\"").arg(dosimeter, from);
      after += QStringLiteral("; %1 \"%2\"").arg(dosimeter, to);
    }
    return appendLog(
        d, {{QStringLiteral("calibration run updated"), QStringLiteral("calibration run %1").arg(id), before,
             after, QString(), QString(), QString(), QString()}});
  });
}

int DoseArchive::calibrations(std::vector<CalibrationRecord>* runs) {
  detail_.clear();
  std::map<qlonglong, std::vector<CalibrationBatchRecord>> batches;
  if (const int rc = loadBatches(*d_, &batches)) return rc;
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  if (!q.exec(kRunColumns + QStringLiteral(" ORDER BY id"))) return d_->fail(q.lastError());
  runs->clear();
  while (q.next()) {
    runs->push_back(runOf(q));
    runs->back().batches = batches[runs->back().id];
  }
  return kOk;
}

int DoseArchive::calibration(qint64 id, CalibrationRecord* run) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(kRunColumns + QStringLiteral(" WHERE id = ?"));
  q.addBindValue(id);
  if (const int rc = d_->exec(q)) return rc;
  if (!q.next()) {
    detail_ = QStringLiteral("no calibration run %1 is stored").arg(id);
    return kErrArchiveInput;
  }
  CalibrationRecord r = runOf(q);
  q.finish();
  std::map<qlonglong, std::vector<CalibrationBatchRecord>> batches;
  if (const int rc = loadBatches(*d_, &batches, id)) return rc;
  r.batches = batches[id];
  q.prepare(QStringLiteral(
      "SELECT dosimeter, device_id, block_number, readout_time, origin, readout_id, record,"
      " eval_start, eval_length, factor_in_force, delivered_usv, chain_usv, factor, ratio, status,"
      " used, written FROM calibration_factors WHERE run_id = ? ORDER BY id"));
  q.addBindValue(id);
  if (const int rc = d_->exec(q)) return rc;
  while (q.next()) {
    CalibrationFactorRecord f;
    f.dosimeter = q.value(0).toString();
    f.device = q.value(1).toString();
    f.blockNumber = q.value(2).toInt();
    f.readoutTime = q.value(3).toString();
    f.origin = q.value(4).toString();
    f.readoutId = q.value(5).toLongLong();
    f.record = q.value(6).toByteArray();
    f.evalStart = q.value(7).toInt();
    f.evalLength = q.value(8).toInt();
    f.factorInForce = optionalDouble(q.value(9));
    f.deliveredUsv = optionalDouble(q.value(10));
    f.chainUsv = optionalDouble(q.value(11));
    f.factor = optionalDouble(q.value(12));
    f.ratio = optionalDouble(q.value(13));
    f.status = q.value(14).toString();
    f.used = q.value(15).toInt() != 0;
    f.written = q.value(16).toInt() != 0;
    r.factors.push_back(std::move(f));
  }
  *run = std::move(r);
  return kOk;
}

int DoseArchive::factorHistory(const QString& dosimeterText, std::vector<FactorHistoryEntry>* entries) {
  detail_.clear();
  const QString dosimeter = NormalDosimeter(dosimeterText);
  std::vector<FactorHistoryEntry> all;
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(
      QStringLiteral("SELECT f.run_id, r.computed_at, f.device_id, f.factor, f.ratio, f.status, f.written,"
                     " f.used, f.readout_id"
                     " FROM calibration_factors f JOIN calibration_runs r ON r.id = f.run_id"
                     " WHERE f.dosimeter = ? ORDER BY f.run_id, f.id"));
  q.addBindValue(dosimeter);
  if (const int rc = d_->exec(q)) return rc;
  while (q.next()) {
    FactorHistoryEntry e;
    e.kind = FactorHistoryEntry::Calibration;
    e.run = q.value(0).toLongLong();
    e.time = q.value(1).toString();
    e.device = q.value(2).toString();
    e.factor = optionalDouble(q.value(3));
    e.ratio = optionalDouble(q.value(4));
    e.status = q.value(5).toString();
    e.written = q.value(6).toInt() != 0;
    e.used = q.value(7).toInt() != 0;
    e.readoutId = q.value(8).toLongLong();  // 0: the run read it from a file
    all.push_back(e);
  }
  q.finish();
  // The factor each read-out was made with is in its own bytes.
  q.prepare(QStringLiteral("SELECT id, readout_time, device_id, record FROM readouts WHERE dosimeter = ?"));
  q.addBindValue(dosimeter);
  if (const int rc = d_->exec(q)) return rc;
  while (q.next()) {
    FactorHistoryEntry e;
    e.kind = FactorHistoryEntry::Readout;
    e.readoutId = q.value(0).toLongLong();
    e.time = q.value(1).toString();
    e.device = q.value(2).toString();
    e.factor = factorOf(q.value(3).toByteArray());
    e.status = e.factor ? QStringLiteral("in force") : QStringLiteral("not known");
    all.push_back(e);
  }
  // In time order, read-outs without a time last; at one minute the
  // read-out before the calibration made of it.
  std::stable_sort(all.begin(), all.end(), [](const FactorHistoryEntry& a, const FactorHistoryEntry& b) {
    if (a.time.isEmpty() != b.time.isEmpty()) return b.time.isEmpty();
    if (a.time != b.time) return a.time < b.time;
    return a.kind == FactorHistoryEntry::Readout && b.kind == FactorHistoryEntry::Calibration;
  });
  *entries = std::move(all);
  return kOk;
}

namespace {

// The dosimeters of a span query go in parts of this many, one statement
// each: a placeholder per dosimeter, well below what either database binds.
constexpr qsizetype kSpanDosimeters = 500;

// The dosimeters as stored, each once.
QStringList storedDosimeters(const QStringList& texts) {
  QStringList dosimeters;
  for (const QString& text : texts) dosimeters << NormalDosimeter(text);
  dosimeters.removeDuplicates();
  return dosimeters;
}

// `columns` of the read-outs of `part` in the span, then `tail`: one text
// for the count and the fetch, so that both always mean the same rows.
void prepareSpan(QSqlQuery& q, const QString& columns, const QStringList& part, const QDateTime& from,
                 const QDateTime& to, const QString& tail = QString()) {
  q.prepare(QStringLiteral("SELECT ") + columns + QStringLiteral(" FROM readouts WHERE dosimeter IN (") +
            marks(part.size()) + QStringLiteral(") AND readout_time >= ? AND readout_time <= ?") + tail);
  for (const QString& d : part) q.addBindValue(d);
  q.addBindValue(ArchiveTimeText(from));
  q.addBindValue(ArchiveTimeText(to));
}

}  // namespace

int DoseArchive::countReadoutRecords(const QStringList& dosimeterTexts, const QDateTime& from,
                                     const QDateTime& to, qint64* count) {
  detail_.clear();
  const QStringList dosimeters = storedDosimeters(dosimeterTexts);
  qint64 n = 0;
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  for (qsizetype i = 0; i < dosimeters.size(); i += kSpanDosimeters) {
    prepareSpan(q, QStringLiteral("COUNT(*)"), dosimeters.mid(i, kSpanDosimeters), from, to);
    if (const int rc = d_->exec(q)) return rc;
    if (q.next()) n += q.value(0).toLongLong();
    q.finish();
  }
  *count = n;
  return kOk;
}

int DoseArchive::readoutRecords(const QStringList& dosimeterTexts, const QDateTime& from, const QDateTime& to,
                                std::vector<ArchivedRecord>* records, std::optional<qint64> atMost) {
  detail_.clear();
  const QStringList dosimeters = storedDosimeters(dosimeterTexts);
  std::vector<ArchivedRecord> all;
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  for (qsizetype i = 0; i < dosimeters.size(); i += kSpanDosimeters) {
    const qint64 left = atMost ? *atMost - static_cast<qint64>(all.size()) : 0;
    if (atMost && left <= 0) break;
    prepareSpan(q, QStringLiteral("id, readout_time, dosimeter, record"), dosimeters.mid(i, kSpanDosimeters),
                from, to, atMost ? QStringLiteral(" LIMIT %1").arg(left) : QString());
    if (const int rc = d_->exec(q)) return rc;
    while (q.next())
      all.push_back(
          {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(), q.value(3).toByteArray()});
    q.finish();
  }
  std::sort(all.begin(), all.end(), [](const ArchivedRecord& a, const ArchivedRecord& b) {
    return std::tie(a.dosimeter, a.readoutTime, a.id) < std::tie(b.dosimeter, b.readoutTime, b.id);
  });
  *records = std::move(all);
  return kOk;
}

namespace archive_impl {

// Every stored factor solved again from the stored record, window and
// dose, and every run's batch mean from its factors in the mean.
int checkCalibrations(Connection& c, CheckReport* report) {
  std::map<qlonglong, std::vector<CalibrationBatchRecord>> batches;
  if (const int rc = loadBatches(c, &batches)) return rc;
  {
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM calibration_runs"))) return c.fail(q.lastError());
    report->calibrations = q.next() ? q.value(0).toInt() : 0;
  }
  // Per run and type: the factors in the mean.
  std::map<std::pair<qlonglong, QString>, std::vector<double>> used;
  const int rc = c.readInPages(
      QStringLiteral("SELECT id, run_id, dosimeter, record, eval_start, eval_length, factor_in_force,"
                     " delivered_usv, factor, used FROM calibration_factors WHERE id > ? ORDER BY id"),
      2000, [&](const QSqlQuery& q) {
        const qlonglong run = q.value(1).toLongLong();
        const QString what = QStringLiteral("calibration run %1, factor %2").arg(run).arg(q.value(0).toLongLong());
        const QByteArray bytes = q.value(3).toByteArray();
        if (bytes.size() != static_cast<qsizetype>(sizeof(BlockRecord))) {
          report->faults
              << QStringLiteral("%1: the record holds %2 bytes, not 512").arg(what).arg(bytes.size());
          return kOk;
        }
        BlockRecord record;
        std::memcpy(&record, bytes.constData(), sizeof record);
        const QString dosimeter = q.value(2).toString();
        if (dosimeter != DecodeReadout(record).dosimeter)
          report->faults << QStringLiteral("%1: the dosimeter differs from the record").arg(what);
        if (!sameNumber(optionalDouble(q.value(6)), factorOf(bytes)))
          report->faults << QStringLiteral("%1: the factor in force differs from the record's").arg(what);
        const std::optional<double> factor = optionalDouble(q.value(8)), delivered = optionalDouble(q.value(7));
        if (factor) {
          const NormFactSolution s =
              delivered ? SolveNormFact(record, q.value(4).toInt(), q.value(5).toInt(), *delivered)
                        : NormFactSolution{};
          if (!delivered || !s || std::fabs(s.normFact - *factor) > 1e-6 * *factor)
            report->faults << QStringLiteral(
                                  "%1 (%2): the factor is not what the chain gives for the delivered dose")
                                  .arg(what, dosimeter);
          if (q.value(9).toInt()) used[{run, dosimeter.left(1)}].push_back(*factor);
        }
        return kOk;
      });
  if (rc) return rc;
  for (const auto& [run, list] : batches)
    for (const CalibrationBatchRecord& b : list) {
      const std::vector<double>& f = used[{run, b.type}];
      double mean = 0;
      for (double v : f) mean += v / static_cast<double>(f.size());
      const bool same = f.empty() ? !b.mean : b.mean && std::fabs(*b.mean - mean) <= 1e-9 * std::fabs(mean);
      if (!same || b.used != static_cast<int>(f.size()))
        report->faults
            << QStringLiteral(
                   "calibration run %1, type %2: the batch mean is not that of its factors in the mean")
                   .arg(run)
                   .arg(b.type);
    }
  return kOk;
}

}  // namespace archive_impl

}  // namespace quelm
