// The dose archive's control dosimeters: their marks, the batches their
// read-outs make, judged again whenever a mark or a control read-out is
// stored, in the same transaction and with its change-log row.
#include <QDateTime>
#include <map>

#include "archive/ArchiveImpl.h"
#include "archive/ArchiveText.h"

namespace quelm {

using namespace archive_sql;
using namespace archive_impl;

namespace {

// A control dosimeter with a wear period: refused when marked, a fault
// when found.
QString wornControlText(const QString& dosimeter, const WearPeriod& p) {
  return QStringLiteral("%1 is worn (by %2 from %3): a control dosimeter is worn by nobody")
      .arg(dosimeter, PersonText(p.person), ArchiveTimeText(p.from));
}

// The stored figures of a batch, in this order after its reader and day.
const char* const kBatchFields[] = {
    "ratio_controls",  "ratio",         "ratio_mean",          "ratio_sd",
    "ratio_baseline",  "ratio_out",     "background_controls", "background",
    "background_mean", "background_sd", "background_baseline", "background_out"};

QVariantList fieldsOf(const ControlBatch& b) {
  return {b.ratioControls,
          nullableDouble(b.ratio),
          nullableDouble(b.ratioLimits.mean),
          nullableDouble(b.ratioLimits.sd),
          b.ratioLimits.baseline,
          int{b.ratioOut},
          b.backgroundControls,
          nullableDouble(b.background),
          nullableDouble(b.backgroundLimits.mean),
          nullableDouble(b.backgroundLimits.sd),
          b.backgroundLimits.baseline,
          int{b.backgroundOut}};
}

ControlBatch batchOf(const QSqlQuery& q) {
  ControlBatch b;
  b.device = q.value(0).toString();
  b.day = q.value(1).toString();
  b.ratioControls = q.value(2).toInt();
  b.ratio = optionalDouble(q.value(3));
  b.ratioLimits = {q.value(6).toInt(), optionalDouble(q.value(4)), optionalDouble(q.value(5))};
  b.ratioOut = q.value(7).toInt() != 0;
  b.backgroundControls = q.value(8).toInt();
  b.background = optionalDouble(q.value(9));
  b.backgroundLimits = {q.value(12).toInt(), optionalDouble(q.value(10)), optionalDouble(q.value(11))};
  b.backgroundOut = q.value(13).toInt() != 0;
  return b;
}

QString batchColumns() {
  QString sql = QStringLiteral("SELECT device_id, day");
  for (const char* f : kBatchFields) sql += QStringLiteral(", ") + QLatin1String(f);
  return sql + QStringLiteral(" FROM control_batches");
}

bool sameLimits(const ControlLimits& a, const ControlLimits& b) {
  return a.baseline == b.baseline && sameNumber(a.mean, b.mean) && sameNumber(a.sd, b.sd);
}

bool sameBatch(const ControlBatch& a, const ControlBatch& b) {
  return a.ratioControls == b.ratioControls && a.backgroundControls == b.backgroundControls &&
         sameNumber(a.ratio, b.ratio) && sameNumber(a.background, b.background) &&
         sameLimits(a.ratioLimits, b.ratioLimits) && sameLimits(a.backgroundLimits, b.backgroundLimits) &&
         a.ratioOut == b.ratioOut && a.backgroundOut == b.backgroundOut;
}

QString batchName(const ControlBatch& b) { return b.device + QLatin1Char(' ') + b.day; }

int loadMarks(Connection& c, const QString& dosimeter, std::vector<ControlMark>* marks) {
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT dosimeter, known_usv, valid_from, marked_at FROM control_marks") +
            (dosimeter.isEmpty() ? QString() : QStringLiteral(" WHERE dosimeter = ?")) +
            QStringLiteral(" ORDER BY ") + InByteOrder(*c.dialect, "dosimeter") +
            QStringLiteral(", valid_from"));
  if (!dosimeter.isEmpty()) q.addBindValue(dosimeter);
  if (const int rc = c.exec(q)) return rc;
  marks->clear();
  while (q.next())
    marks->push_back({q.value(0).toString(), q.value(1).toDouble(),
                      ParseArchiveTime(q.value(2).toString(), false).value_or(QDateTime()),
                      q.value(3).toString()});
  return kOk;
}

int loadBatches(Connection& c, std::vector<ControlBatch>* batches) {
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  if (!q.exec(batchColumns() + QStringLiteral(" ORDER BY day, ") + InByteOrder(*c.dialect, "device_id")))
    return c.fail(q.lastError());
  batches->clear();
  while (q.next()) batches->push_back(batchOf(q));
  return kOk;
}

// The batches as the stored read-outs and marks make them now.
int judgedBatches(Connection& c, std::vector<ControlBatch>* batches) {
  std::vector<ControlMark> marks;
  if (const int rc = loadMarks(c, QString(), &marks)) return rc;
  std::vector<ControlReading> readings;
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  // Only the reader's own evaluation counts: a read-out it flagged, or
  // without a dose, says nothing of its batch.
  if (!q.exec(QStringLiteral(
          "SELECT device_id, readout_time, dosimeter, measured_dose_usv FROM readouts"
          " WHERE dosimeter IN (SELECT dosimeter FROM control_marks) AND readout_time IS NOT NULL"
          " AND error_codes = 0 AND measured_dose_usv IS NOT NULL")))
    return c.fail(q.lastError());
  while (q.next()) {
    const QString dosimeter = q.value(2).toString(), time = q.value(1).toString();
    if (const ControlMark* m = MarkAt(marks, dosimeter, time))
      readings.push_back({q.value(0).toString(), time, dosimeter, q.value(3).toDouble(), m->knownUsv});
  }
  *batches = EvaluateControlBatches(readings);
  return kOk;
}

int storeBatch(Connection& c, const ControlBatch& b, bool update) {
  QStringList fields;
  for (const char* f : kBatchFields) fields << QLatin1String(f);
  QSqlQuery q(c.db());
  q.prepare(update ? QStringLiteral("UPDATE control_batches SET ") + fields.join(QStringLiteral(" = ?, ")) +
                         QStringLiteral(" = ? WHERE device_id = ? AND day = ?")
                   : QStringLiteral("INSERT INTO control_batches (") + fields.join(QStringLiteral(", ")) +
                         QStringLiteral(", device_id, day) VALUES (") + marks(fields.size() + 2) +
                         QLatin1Char(')'));
  for (const QVariant& v : fieldsOf(b) + QVariantList{b.device, b.day}) q.addBindValue(v);
  return c.exec(q);
}

}  // namespace

namespace archive_impl {

void ControlFacts::apply(ReadoutRow& row) const {
  row.control = dosimeters.count(row.dosimeter) > 0;
  if (row.readoutTime.size() >= 10 && out.count({row.deviceId, row.readoutTime.left(10)}))
    row.reasons |= kReviewControl;
}

int readControlFacts(Connection& c, std::optional<double> tolerance, ControlFacts* facts) {
  *facts = {};
  if (const int rc = controlDosimeters(c, &facts->dosimeters)) return rc;
  // Only the batches that may be out; the rule itself decides. Kept
  // prepared: every list of read-outs asks.
  QSqlQuery& q = c.statement(batchColumns() + QStringLiteral(" WHERE background_out <> 0 OR ") +
                                 (tolerance ? QStringLiteral("ABS(ratio - 1) > ?") : QStringLiteral("ratio_out <> 0")),
                             tolerance ? QVariantList{*tolerance / 100.0} : QVariantList{});
  if (const int rc = c.exec(q)) return rc;
  while (q.next()) {
    const ControlBatch b = batchOf(q);
    if (b.out(tolerance)) facts->out[{b.device, b.day}] = b;
  }
  q.finish();
  return kOk;
}

int controlDosimeters(Connection& c, std::set<QString>* dosimeters) {
  QSqlQuery& q = c.statement(QStringLiteral("SELECT DISTINCT dosimeter FROM control_marks"), {});
  if (const int rc = c.exec(q)) return rc;
  dosimeters->clear();
  while (q.next()) dosimeters->insert(q.value(0).toString());
  q.finish();
  return kOk;
}

int refreshControlBatches(Connection& c, std::vector<LogRow>* log) {
  std::vector<ControlBatch> judged, stored;
  if (const int rc = judgedBatches(c, &judged)) return rc;
  if (const int rc = loadBatches(c, &stored)) return rc;
  std::map<std::pair<QString, QString>, const ControlBatch*> before;
  for (const ControlBatch& b : stored) before[{b.day, b.device}] = &b;
  int added = 0, changed = 0, removed = 0;
  QString firstDay, lastDay;
  QStringList outBefore, outNow;
  const auto touch = [&](const ControlBatch& b) {
    if (firstDay.isEmpty() || b.day < firstDay) firstDay = b.day;
    if (b.day > lastDay) lastDay = b.day;
  };
  for (const ControlBatch& b : judged) {
    const auto it = before.find({b.day, b.device});
    const ControlBatch* was = it == before.end() ? nullptr : it->second;
    if (was) before.erase(it);
    if (was && sameBatch(*was, b)) continue;
    if (const int rc = storeBatch(c, b, was != nullptr)) return rc;
    ++(was ? changed : added);
    touch(b);
    if (was && (was->ratioOut || was->backgroundOut)) outBefore << batchName(*was);
    if (b.ratioOut || b.backgroundOut) outNow << batchName(b);
  }
  // Batches no control read-out makes any more (a mark moved).
  QSqlQuery remove(c.db());
  if (const int rc =
          c.prepare(remove, QStringLiteral("DELETE FROM control_batches WHERE device_id = ? AND day = ?")))
    return rc;
  for (const auto& [key, b] : before) {
    remove.bindValue(0, b->device);
    remove.bindValue(1, b->day);
    if (const int rc = c.exec(remove)) return rc;
    ++removed;
    touch(*b);
    if (b->ratioOut || b->backgroundOut) outBefore << batchName(*b);
  }
  if (added + changed + removed == 0) return kOk;
  const auto outText = [](const QStringList& names) {
    return names.isEmpty() ? QStringLiteral("none beyond 3 SD")
                           : QStringLiteral("beyond 3 SD: ") + names.join(QStringLiteral(", "));
  };
  log->push_back({QStringLiteral("control batches judged"),
                  QStringLiteral("reader days %1 to %2").arg(firstDay, lastDay), outText(outBefore),
                  QStringLiteral("%1 new, %2 changed, %3 removed; %4")
                      .arg(added)
                      .arg(changed)
                      .arg(removed)
                      .arg(outText(outNow)),
                  QString(), QString(), firstDay + QStringLiteral(" 00:00"),
                  lastDay + QStringLiteral(" 23:59")});
  return kOk;
}

// The stored batches against those the read-outs and marks make.
int checkControls(Connection& c, CheckReport* report) {
  std::vector<ControlMark> marks;
  if (const int rc = loadMarks(c, QString(), &marks)) return rc;
  std::set<QString> seen;
  for (const ControlMark& m : marks) {
    if (const QString e = ControlMarkError(m); !e.isEmpty())
      report->faults << QStringLiteral("control mark of %1: %2").arg(m.dosimeter, e);
    // A worn control's read-outs count for nobody: its wearer's doses
    // would be neither summed as controls nor noticed as high.
    if (!seen.insert(m.dosimeter).second) continue;
    QSqlQuery q(c.db());
    q.setForwardOnly(true);
    q.prepare(kDosimeterPeriods);
    q.addBindValue(m.dosimeter);
    if (const int rc = c.exec(q)) return rc;
    std::optional<WearPeriod> last;
    while (q.next()) last = periodOf(q, 0);
    if (last) report->faults << wornControlText(m.dosimeter, *last);
  }
  std::vector<ControlBatch> judged, stored;
  if (const int rc = judgedBatches(c, &judged)) return rc;
  if (const int rc = loadBatches(c, &stored)) return rc;
  report->controlBatches = static_cast<int>(stored.size());
  std::map<std::pair<QString, QString>, const ControlBatch*> byKey;
  for (const ControlBatch& b : stored) byKey[{b.day, b.device}] = &b;
  for (const ControlBatch& b : judged) {
    const auto it = byKey.find({b.day, b.device});
    if (it == byKey.end()) {
      report->faults << QStringLiteral("control batch %1 is missing").arg(batchName(b));
      continue;
    }
    if (!sameBatch(*it->second, b))
      report->faults << QStringLiteral("control batch %1 differs from what its control read-outs give")
                            .arg(batchName(b));
    byKey.erase(it);
  }
  for (const auto& [key, b] : byKey)
    report->faults << QStringLiteral("control batch %1 has no control read-outs").arg(batchName(*b));
  return kOk;
}

}  // namespace archive_impl

int DoseArchive::markControl(const QString& dosimeterText, double knownUsv,
                             const std::optional<QDateTime>& from, ControlMark* stored) {
  detail_.clear();
  ControlMark mark{NormalDosimeter(dosimeterText), knownUsv, from.value_or(ArchiveNow()), QString()};
  if (const QString e = ControlMarkError(mark); !e.isEmpty()) {
    detail_ = e;
    return kErrArchiveInput;
  }
  Impl& d = *d_;
  const int rc = d.write([&]() -> int {
    // The lock an assignment takes: otherwise each would find the other's
    // dosimeter free, and the dosimeter end up worn and a control.
    if (*d.dialect->lockPeriods)
      if (const int rc = d.exec(QString::fromLatin1(d.dialect->lockPeriods))) return rc;
    std::vector<Impl::StoredPeriod> periods;
    if (const int rc = d.periodsOf(mark.dosimeter, &periods)) return rc;
    if (!periods.empty()) {
      detail_ = wornControlText(mark.dosimeter, periods.back().period);
      return kErrArchiveInput;
    }
    std::vector<ControlMark> marks;
    if (const int rc = loadMarks(d, mark.dosimeter, &marks)) return rc;
    // The first mark holds for all the dosimeter's read-outs; a later one
    // from now on, so that the batches judged before keep their dose.
    if (!from && marks.empty()) mark.from = QDateTime(QDate(kFirstReadoutYear, 1, 1), QTime(0, 0), Qt::UTC);
    mark.markedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const QString fromText = ArchiveTimeText(mark.from);
    const auto same = std::find_if(marks.begin(), marks.end(),
                                   [&](const ControlMark& m) { return ArchiveTimeText(m.from) == fromText; });
    if (same != marks.end() && same->knownUsv == mark.knownUsv) {
      mark = *same;
      return int{kOk};
    }
    QSqlQuery q(d.db());
    q.prepare(same != marks.end() ? QStringLiteral("UPDATE control_marks SET known_usv = ?, marked_at = ? "
                                                   "WHERE dosimeter = ? AND valid_from = ?")
                                  : QStringLiteral("INSERT INTO control_marks (known_usv, marked_at, "
                                                   "dosimeter, valid_from) VALUES (?, ?, ?, ?)"));
    for (const QVariant& v : QVariantList{mark.knownUsv, mark.markedAt, mark.dosimeter, fromText})
      q.addBindValue(v);
    if (const int rc = d.exec(q)) return rc;
    const QString known = QStringLiteral("known dose %1 uSv").arg(ArchiveNumber(mark.knownUsv));
    std::vector<LogRow> log = {
        {same != marks.end() ? QStringLiteral("control changed") : QStringLiteral("control marked"),
         QStringLiteral("control %1 from %2").arg(mark.dosimeter, fromText),
         same != marks.end() ? QStringLiteral("known dose %1 uSv").arg(ArchiveNumber(same->knownUsv))
                             : QString(),
         known, QString(), QString(), fromText, kOpenEnd}};
    // An import judges the batches under the change log's lock, after
    // reading the controls again: taken here before the batches are
    // judged, the mark and the import see each other's read-outs and
    // marks, whichever comes first.
    if (*d.dialect->lockLog)
      if (const int rc = d.exec(QString::fromLatin1(d.dialect->lockLog))) return rc;
    if (const int rc = refreshControlBatches(d, &log)) return rc;
    return appendLog(d, log);
  });
  if (rc) return rc;
  if (stored) *stored = mark;
  return kOk;
}

int DoseArchive::controlMarks(std::vector<ControlMark>* marks) {
  detail_.clear();
  return loadMarks(*d_, QString(), marks);
}

int DoseArchive::controlBatches(std::vector<ControlBatch>* batches) {
  detail_.clear();
  return loadBatches(*d_, batches);
}

int ReadControlChart(const ArchiveSettings& settings, const std::optional<ReportPeriod>& range,
                     ControlChartData* chart, QString* detail) {
  ArchiveLocation location;
  if (const int rc = ParseArchiveLocation(settings.database, &location, detail)) return rc;
  int code = kOk;
  const std::unique_ptr<DoseArchive> archive = OpenArchiveToRead(location, &code, detail);
  if (!archive) return code;
  std::vector<ControlBatch> batches;
  if (const int rc = archive->controlBatches(&batches)) {
    *detail = location.displayText() + QStringLiteral(": ") + archive->errorDetail();
    return rc;
  }
  *chart = MakeControlChart(batches, settings.controlTolerance, range);
  return kOk;
}

}  // namespace quelm
