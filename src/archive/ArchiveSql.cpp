#include "archive/ArchiveSql.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QThread>
#include <algorithm>
#include <map>

#include "base/ErrorCodes.h"

namespace quelm::archive_sql {

bool Connection::postgres() const { return dialect == &DialectOf(ArchiveLocation::PostgreSQL); }

int Connection::fail(const QSqlError& e) {
  *detail = DatabaseWords(e);
  return dialect->code(e);
}

int Connection::exec(const QString& sql) {
  QSqlQuery q(db());
  return q.exec(sql) ? kOk : fail(q.lastError());
}

int Connection::writable() {
  if (!options.readOnly) return kOk;
  *detail = QStringLiteral("opened for reading only");
  return kErrArchiveReadOnly;
}

int Connection::begin() { return exec(QString::fromLatin1(dialect->beginWrite)); }

int Connection::write(const std::function<int()>& body) {
  if (const int rc = writable()) return rc;
  for (int attempt = 0;; ++attempt) {
    QSqlError failure;
    int rc = begin();
    if (rc == kOk) rc = body();
    if (rc == kOk) {
      QSqlQuery q(db());
      if (q.exec(QStringLiteral("COMMIT"))) return kOk;
      failure = q.lastError();
      rc = fail(failure);
    }
    // What failed is in *detail already; the rollback must not replace it.
    QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
    // Two programs taking the same rows in another order may deadlock; the
    // server picks one, which simply runs again once the other is through.
    const bool again = rc == kErrArchiveBusy && postgres() && attempt < 5;
    if (!again) return rc;
    QThread::msleep(static_cast<unsigned long>(40 << attempt));
  }
}

QVariant nullableDouble(const std::optional<double>& v) {
  return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>());
}

QVariant nullableText(const QString& v) {
  return v.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(v);
}

std::optional<double> optionalDouble(const QVariant& v) {
  if (v.isNull()) return std::nullopt;
  return v.toDouble();
}

QString personKey(const QString& id) { return id.trimmed().toUpper(); }

QString nameKey(const QString& name) { return name.simplified().toCaseFolded(); }

int nextPersonId(Connection& c, QString* id) {
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT person_key FROM persons WHERE person_key LIKE 'P%'"))) return c.fail(q.lastError());
  int highest = 0;
  while (q.next()) {
    bool ok = false;
    const int n = q.value(0).toString().mid(1).toInt(&ok);
    if (ok && n > highest) highest = n;
  }
  *id = QStringLiteral("P%1").arg(highest + 1, 4, 10, QLatin1Char('0'));
  return kOk;
}

int insertPerson(Connection& c, const Person& person, qlonglong* row) {
  QSqlQuery q(c.db());
  q.prepare(QStringLiteral("INSERT INTO persons (person_id, person_key, name, name_key) VALUES (?, ?, ?, ?) RETURNING id"));
  q.addBindValue(person.id.trimmed());
  q.addBindValue(personKey(person.id));
  q.addBindValue(person.name.simplified());
  q.addBindValue(nameKey(person.name));
  if (const int rc = c.exec(q)) return rc;
  if (row) *row = q.next() ? q.value(0).toLongLong() : 0;
  return kOk;
}

namespace {
constexpr int kReadoutColumns = 15;

QString valuesList(int rows, int columns) {
  QString one = QStringLiteral("(");
  for (int i = 0; i < columns; ++i) one += i ? QStringLiteral(", ?") : QStringLiteral("?");
  one += QLatin1Char(')');
  QString all;
  all.reserve(rows * (one.size() + 2));
  for (int r = 0; r < rows; ++r) {
    if (r) all += QStringLiteral(", ");
    all += one;
  }
  return all;
}
}  // namespace

int insertReadouts(Connection& c, const std::vector<NewReadout>& rows, const QString& source,
                   const QString& archivedAt, std::set<QByteArray>* inserted, std::vector<qlonglong>* ids) {
  // Many rows per statement: on a server each statement is a round trip.
  const int batch = std::min(256, c.dialect->maxParameters / kReadoutColumns);
  const QVariant noTime = nullableText(QString());
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  int prepared = 0;
  for (size_t start = 0; start < rows.size(); start += static_cast<size_t>(batch)) {
    const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(batch), rows.size() - start));
    if (n != prepared) {
      if (const int rc = c.prepare(
              q, QStringLiteral("INSERT INTO readouts (readout_key, record, device_id, block_number, readout_time,"
                                " dosimeter, error_codes, measured_dose_usv, dose_usv, recomputed_usv,"
                                " counted_usv, dose_rate_usv_h, exposure_h, source, archived_at) VALUES ") +
                     valuesList(n, kReadoutColumns) +
                     QStringLiteral(" ON CONFLICT (readout_key) DO NOTHING RETURNING readout_key, id")))
        return rc;
      prepared = n;
    }
    int p = 0;
    for (int i = 0; i < n; ++i) {
      const NewReadout& r = rows[start + static_cast<size_t>(i)];
      const ReadoutFields& f = *r.fields;
      q.bindValue(p++, f.key);
      q.bindValue(p++, *r.bytes);
      q.bindValue(p++, f.deviceId);
      q.bindValue(p++, f.blockNumber);
      q.bindValue(p++, f.readoutTime.isEmpty() ? noTime : QVariant(f.readoutTime));
      q.bindValue(p++, f.dosimeter);
      q.bindValue(p++, f.errorCodes);
      q.bindValue(p++, nullableDouble(f.measuredDose));
      q.bindValue(p++, nullableDouble(f.measuredDose));
      q.bindValue(p++, nullableDouble(f.recomputed));
      q.bindValue(p++, CountedDose(f.measuredDose));
      q.bindValue(p++, nullableDouble(f.doseRate));
      q.bindValue(p++, nullableDouble(f.exposureH));
      q.bindValue(p++, source);
      q.bindValue(p++, archivedAt);
    }
    if (const int rc = c.exec(q)) return rc;
    while (q.next()) {
      inserted->insert(q.value(0).toByteArray());
      if (ids) ids->push_back(q.value(1).toLongLong());
    }
    q.finish();
  }
  return kOk;
}

QString logHash(const QString& previousHash, const QStringList& content) {
  const QByteArray bytes = (previousHash + QChar(0x1E) + content.join(QChar(0x1F))).toUtf8();
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

int appendLog(Connection& c, const std::vector<LogRow>& rows) {
  if (rows.empty()) return kOk;
  if (*c.dialect->lockLog)
    if (const int rc = c.exec(QString::fromLatin1(c.dialect->lockLog))) return rc;
  QString previous;
  struct Signed {
    QString label, from, to;
  };
  std::vector<Signed> signedPeriods;
  {
    QSqlQuery q(c.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT hash FROM change_log ORDER BY id DESC LIMIT 1"))) return c.fail(q.lastError());
    if (q.next()) previous = q.value(0).toString();
    q.finish();
    if (!q.exec(QStringLiteral("SELECT DISTINCT period, period_from, period_to FROM signoffs")))
      return c.fail(q.lastError());
    while (q.next()) signedPeriods.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
  }
  const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
  constexpr int kColumns = 14;
  const int batch = std::min(200, c.dialect->maxParameters / kColumns);
  QSqlQuery insert(c.db());
  int prepared = 0;
  for (size_t start = 0; start < rows.size(); start += static_cast<size_t>(batch)) {
    const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(batch), rows.size() - start));
    if (n != prepared) {
      QString values;
      for (int i = 0; i < n; ++i)
        values += (i ? QStringLiteral(", ") : QString()) + QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
      if (const int rc = c.prepare(insert, QStringLiteral("INSERT INTO change_log (time_utc, who, host, role, what, entity,"
                                                          " old_value, new_value, reason, person_key, touches_from,"
                                                          " touches_to, prev_hash, hash) VALUES ") +
                                               values))
        return rc;
      prepared = n;
    }
    int p = 0;
    for (int i = 0; i < n; ++i) {
      const LogRow& r = rows[start + static_cast<size_t>(i)];
      QString what = r.what;
      QStringList touched;
      if (!r.touchFrom.isEmpty())
        for (const Signed& s : signedPeriods)
          if (r.touchFrom <= s.to && s.from <= r.touchTo && !touched.contains(s.label)) touched << s.label;
      if (!touched.isEmpty()) what += QStringLiteral(", after sign-off of ") + touched.join(QStringLiteral(", "));
      const QStringList content = {now, c.osUser, c.host, c.role, what, r.entity, r.oldValue, r.newValue,
                                   r.reason, r.personKey, r.touchFrom, r.touchTo};
      const QString hash = logHash(previous, content);
      // Empty, never NULL: the columns hold text.
      for (const QString& v : content) insert.bindValue(p++, v.isNull() ? QStringLiteral("") : v);
      insert.bindValue(p++, previous.isNull() ? QStringLiteral("") : previous);
      insert.bindValue(p++, hash);
      previous = hash;
    }
    if (const int rc = c.exec(insert)) return rc;
  }
  return kOk;
}

int relinkPeriods(Connection& c, const QStringList& dosimeters) {
  struct Period {
    qlonglong id;
    QString dosimeter, from, until;
  };
  std::vector<Period> periods;
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  const auto load = [&](const QString& where, const QStringList& values) {
    q.prepare(QStringLiteral("SELECT id, dosimeter, valid_from, readouts_until FROM wear_periods") + where +
              QStringLiteral(" ORDER BY dosimeter, valid_from"));
    for (const QString& v : values) q.addBindValue(v);
    if (const int rc = c.exec(q)) return rc;
    while (q.next())
      periods.push_back({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()});
    q.finish();
    return int{kOk};
  };
  if (dosimeters.isEmpty()) {
    if (const int rc = load(QString(), {})) return rc;
  } else {
    QStringList unique = dosimeters;
    unique.removeDuplicates();
    for (qsizetype i = 0; i < unique.size(); i += 500) {
      const QStringList part = unique.mid(i, 500);
      QString marks = QStringLiteral("?");
      for (qsizetype k = 1; k < part.size(); ++k) marks += QStringLiteral(", ?");
      if (const int rc = load(QStringLiteral(" WHERE dosimeter IN (") + marks + QLatin1Char(')'), part)) return rc;
    }
    std::stable_sort(periods.begin(), periods.end(), [](const Period& a, const Period& b) {
      return a.dosimeter != b.dosimeter ? a.dosimeter < b.dosimeter : a.from < b.from;
    });
  }
  QSqlQuery update(c.db());
  if (const int rc = c.prepare(update, QStringLiteral("UPDATE wear_periods SET readouts_until = ? WHERE id = ?")))
    return rc;
  for (size_t i = 0; i < periods.size(); ++i) {
    const bool last = i + 1 == periods.size() || periods[i + 1].dosimeter != periods[i].dosimeter;
    const QString until = last ? kOpenEnd : periods[i + 1].from;
    if (until == periods[i].until) continue;
    update.bindValue(0, until);
    update.bindValue(1, periods[i].id);
    if (const int rc = c.exec(update)) return rc;
  }
  return kOk;
}

}  // namespace quelm::archive_sql
