#include "calibration/CalibrationArchive.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "base/ErrorCodes.h"
#include "calibration/CalibrationText.h"

namespace quelm {

QString ParseDosimeterList(const QString& text, QStringList* dosimeters) {
  static const QRegularExpression serial(QStringLiteral("^([A-Z])([0-9]{4})$"));
  QStringList out;
  std::set<QString> seen;
  const auto add = [&](const QString& id) {
    if (seen.insert(id).second) out << id;
  };
  const QStringList items = text.split(QLatin1Char(','));
  for (qsizetype i = 0; i < items.size(); ++i) {
    const QString item = items[i].trimmed().toUpper();
    if (item.isEmpty()) {
      if (items.size() == 1) return QStringLiteral("no dosimeter given");
      return QStringLiteral("item %1 of the dosimeter list is empty").arg(i + 1);
    }
    const QStringList ends = item.split(QLatin1Char('-'));
    if (ends.size() == 1) {
      if (const QString e = DosimeterIdError(item); !e.isEmpty()) return e;
      add(item);
      continue;
    }
    const QRegularExpressionMatch first = serial.match(ends[0].trimmed());
    const QRegularExpressionMatch last = serial.match(ends.value(1).trimmed());
    if (ends.size() != 2 || !first.hasMatch() || !last.hasMatch())
      return QStringLiteral("\"%1\" is no range of dosimeters such as A0001-A0100").arg(items[i].trimmed());
    if (first.captured(1) != last.captured(1))
      return QStringLiteral("\"%1\": a range stays within one type letter").arg(items[i].trimmed());
    const int from = first.captured(2).toInt(), to = last.captured(2).toInt();
    if (to < from) return QStringLiteral("\"%1\" runs backwards").arg(items[i].trimmed());
    if (to - from + 1 > kMaxDosimeterRange)
      return QStringLiteral("\"%1\" holds more than %2 dosimeters")
          .arg(items[i].trimmed())
          .arg(kMaxDosimeterRange);
    for (int n = from; n <= to; ++n)
      add(first.captured(1) + QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0')));
  }
  *dosimeters = out;
  return QString();
}

ArchiveReadouts::ArchiveReadouts(ArchiveLocation location, QStringList dosimeters, QDateTime from,
                                 QDateTime to)
    : location_(std::move(location)),
      dosimeters_(std::move(dosimeters)),
      from_(std::move(from)),
      to_(std::move(to)) {}

QString ArchiveReadouts::Description() const {
  const QString which = dosimeters_.size() <= 4 ? dosimeters_.join(QStringLiteral(", "))
                                                : QStringLiteral("%1 to %2 (%3 dosimeters)")
                                                      .arg(dosimeters_.front(), dosimeters_.back())
                                                      .arg(dosimeters_.size());
  return QStringLiteral("dose archive %1: %2 read %3 to %4")
      .arg(location_.kind == ArchiveLocation::SQLite ? QFileInfo(location_.path).fileName()
                                                     : location_.displayText(),
           which, ArchiveTimeText(from_), ArchiveTimeText(to_));
}

int ArchiveReadouts::Fetch(std::vector<CalibrationReadout>* readouts, QString* context) {
  qint64 held = 0;
  return read(std::nullopt, readouts, &held, context);
}

int ArchiveReadouts::FetchAtMost(qint64 atMost, std::vector<CalibrationReadout>* readouts, qint64* held,
                                 QString* context) {
  return read(atMost, readouts, held, context);
}

int ArchiveReadouts::read(std::optional<qint64> atMost, std::vector<CalibrationReadout>* readouts,
                          qint64* held, QString* context) {
  missing_.clear();
  ArchiveOptions options;
  options.readOnly = true;
  int code = kOk;
  QString detail;
  const auto failed = [&](int rc, const QString& what) {
    *context = location_.displayText() + (what.isEmpty() ? QString() : QStringLiteral(": ") + what);
    return rc;
  };
  const std::unique_ptr<DoseArchive> archive = DoseArchive::open(location_, options, &code, &detail);
  if (!archive) return failed(code, detail);
  if (atMost) {
    qint64 count = 0;
    if (const int rc = archive->countReadoutRecords(dosimeters_, from_, to_, &count))
      return failed(rc, archive->errorDetail());
    if (count > *atMost) {
      context->clear();
      *held = count;
      return kOk;
    }
  }
  std::vector<ArchivedRecord> records;
  // One more than is taken: read-outs archived since the count show the
  // span too large (as at least that many) without it being read whole.
  if (const int rc = archive->readoutRecords(dosimeters_, from_, to_, &records,
                                             atMost ? std::optional<qint64>(*atMost + 1) : std::nullopt))
    return failed(rc, archive->errorDetail());
  *held = static_cast<qint64>(records.size());
  if (atMost && *held > *atMost) {
    context->clear();
    return kOk;
  }
  // In the order the dosimeters were given, each by time.
  std::map<QString, std::vector<const ArchivedRecord*>> byDosimeter;
  for (const ArchivedRecord& r : records) byDosimeter[r.dosimeter].push_back(&r);
  std::vector<CalibrationReadout> all;
  all.reserve(records.size());
  for (const QString& dosimeter : dosimeters_) {
    const auto it = byDosimeter.find(NormalDosimeter(dosimeter));
    if (it == byDosimeter.end()) {
      missing_ << dosimeter;
      continue;
    }
    for (const ArchivedRecord* r : it->second) {
      if (r->record.size() != static_cast<qsizetype>(sizeof(BlockRecord)))
        return failed(kErrArchiveQuery,
                      QStringLiteral("read-out %1 holds %2 bytes, not 512").arg(r->id).arg(r->record.size()));
      CalibrationReadout c;
      std::memcpy(&c.record, r->record.constData(), sizeof c.record);
      c.origin = QStringLiteral("archive read-out %1").arg(r->id);
      c.archiveId = r->id;
      all.push_back(c);
    }
  }
  context->clear();
  *readouts = std::move(all);
  return kOk;
}

namespace {

// What the reader holds for an entry the run changed, when that is not the
// run's factor: no entry, or the factor it gave back. Empty when it holds
// the run's. Words, never a number in a factor's place, so that no reader
// of the record takes the run's factor for the one in force.
QString heldOtherwise(const CalibrationRun& run, const LookupWritten& w) {
  if (!w.factor) return QStringLiteral("look-up entry deleted, the type's default table in force");
  for (const CalibrationRow& row : run.rows)
    if (row.used() && row.dosimeter == w.dosimeter && static_cast<float>(*row.factor) == *w.factor)
      return QString();
  return QStringLiteral("look-up entry holds %1").arg(FactorText(*w.factor));
}

}  // namespace

QString WrittenText(const CalibrationRun& run) {
  QStringList parts;
  if (!run.csvFile.isEmpty()) parts << QStringLiteral("batch table ") + run.csvFile;
  if (!run.pdfFile.isEmpty()) parts << QStringLiteral("certificate ") + run.pdfFile;
  if (!run.dptFiles.isEmpty())
    parts << QStringLiteral("default tables ") + run.dptFiles.join(QStringLiteral(", "));
  const auto held = std::count_if(run.lookup.begin(), run.lookup.end(),
                                  [](const LookupWritten& w) { return w.factor.has_value(); });
  if (held > 0) parts << QStringLiteral("%1 look-up entries").arg(held);
  for (const LookupWritten& w : run.lookup)
    if (const QString other = heldOtherwise(run, w); !other.isEmpty())
      parts << w.dosimeter + QLatin1Char(' ') + other;
  return parts.join(QStringLiteral("; "));
}

CalibrationRecord CalibrationRecordOf(const CalibrationRun& run) {
  CalibrationRecord r;
  r.computedAt = ArchiveTimeText(run.computedAt);
  r.calibratedBy = run.user;
  r.program = run.program;
  r.source = run.source;
  if (run.dose.all)
    r.dose = QString::number(*run.dose.all, 'g', 10) + QStringLiteral(" uSv");
  else
    r.dose = QStringLiteral("per dosimeter from ") + run.dose.file;
  r.note = run.note;
  r.outlierSd = run.outlierSd;
  r.written = WrittenText(run);
  for (const BatchFigures& b : run.batches)
    r.batches.push_back({QString(b.type), b.factors, b.used, b.mean, b.sd, b.cv});
  std::map<QString, const LookupWritten*> entries;
  for (const LookupWritten& w : run.lookup) entries[w.dosimeter] = &w;
  for (const CalibrationRow& row : run.rows) {
    CalibrationFactorRecord f;
    f.dosimeter = row.dosimeter;
    f.device = row.device;
    f.blockNumber = row.blockNumber;
    if (row.readoutTime) f.readoutTime = ArchiveTimeText(*row.readoutTime);
    f.origin = row.readout.origin;
    f.readoutId = row.readout.archiveId;
    f.record = QByteArray(reinterpret_cast<const char*>(&row.readout.record), sizeof row.readout.record);
    f.evalStart = row.window.evalStart;
    f.evalLength = row.window.evalLength;
    f.deliveredUsv = row.deliveredUsv;
    f.chainUsv = row.chainUsv;
    f.factor = row.factor;
    f.ratio = row.ratio;
    f.status = RowStatusText(row, run.outlierSd);
    f.used = row.used();
    // Only the read-out whose factor was written: a repeat of its dosimeter
    // in the run was refused and wrote nothing. An entry the reader holds
    // otherwise (or not at all) is no factor written: its status says what
    // the reader holds instead.
    const auto entry = entries.find(row.dosimeter);
    if (f.used && entry != entries.end()) {
      const QString other = heldOtherwise(run, *entry->second);
      f.written = other.isEmpty();
      if (!f.written) f.status += QStringLiteral(", ") + other;
    }
    r.factors.push_back(std::move(f));
  }
  return r;
}

int KeepCalibrationRun(const ArchiveLocation& location, const CalibrationRun& run, qint64* id,
                       QString* detail) {
  int code = kOk;
  const std::unique_ptr<DoseArchive> archive = DoseArchive::open(location, {}, &code, detail);
  const auto where = [&](const QString& what) {
    *detail = location.displayText() + (what.isEmpty() ? QString() : QStringLiteral(": ") + what);
  };
  if (!archive) {
    where(*detail);
    return code;
  }
  int rc = kOk;
  if (*id == 0) {
    rc = archive->storeCalibration(CalibrationRecordOf(run), id);
  } else {
    // The factors written, and the status of every factor in the mean whose
    // entry the run changed: it tells when the reader holds another one.
    const CalibrationRecord record = CalibrationRecordOf(run);
    std::set<QString> changed;
    for (const LookupWritten& w : run.lookup) changed.insert(w.dosimeter);
    QStringList entries;
    std::vector<std::pair<QString, QString>> statuses;
    for (const CalibrationFactorRecord& f : record.factors) {
      if (f.written) entries << f.dosimeter;
      if (f.used && changed.count(f.dosimeter)) statuses.emplace_back(f.dosimeter, f.status);
    }
    rc = archive->updateCalibration(*id, run.note, record.written, entries, statuses);
  }
  if (rc)
    where(archive->errorDetail());
  else
    *detail = archive->upgradeNote();  // what a first write to an older archive did
  return rc;
}

int ReadFactorHistory(const ArchiveLocation& location, const QString& dosimeter,
                      std::vector<FactorHistoryEntry>* entries, QString* detail) {
  int code = kOk;
  const std::unique_ptr<DoseArchive> archive = OpenArchiveToRead(location, &code, detail);
  if (!archive) return code;
  const int rc = archive->factorHistory(dosimeter, entries);
  *detail = location.displayText() + (rc ? QStringLiteral(": ") + archive->errorDetail() : QString());
  return rc;
}

}  // namespace quelm
