#include "archive/Archive.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QSysInfo>
#include <QFileInfo>
#include <QSqlDriver>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>

#include "archive/ArchiveImpl.h"
#include "archive/ArchiveSql.h"
#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "measurement/DataFileReader.h"

namespace quelm {

using namespace archive_sql;
using namespace archive_impl;

// ---------------------------------------------------------------------------
// Rules that need no database

namespace {
// What a decoder leaves where its bytes were no text: no name or id has it.
QString replacementCharacterIn(const QString& text) {
  return text.contains(QChar::ReplacementCharacter)
             ? QStringLiteral("the replacement character U+FFFD, where text was not UTF-8")
             : QString();
}

QString controlCharacterIn(const QString& text) {
  for (const QChar c : text)
    if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
        c.category() == QChar::Separator_Paragraph)
      return QStringLiteral("a tab, line break or other control character");
  return replacementCharacterIn(text);
}
}  // namespace

QString PersonIdError(const QString& id) {
  const QString t = id.trimmed();
  if (t.isEmpty()) return QStringLiteral("a person needs an id (the staff or personnel number)");
  if (t.size() > 32) return QStringLiteral("a person's id has at most 32 characters, not \"%1\"").arg(t);
  if (const QString bad = controlCharacterIn(t); !bad.isEmpty())
    return QStringLiteral("a person's id holds %1").arg(bad);
  return QString();
}

QString PersonNameError(const QString& name) {
  const QString t = name.simplified();
  if (const QString bad = controlCharacterIn(name); !bad.isEmpty())
    return QStringLiteral("a person's name holds %1").arg(bad);
  if (t.isEmpty()) return QStringLiteral("a person needs a name");
  if (t.size() > 100) return QStringLiteral("a person's name has at most 100 characters");
  return QString();
}

QString PersonText(const Person& p) { return p.id + QLatin1Char(' ') + p.name; }

QString WearPeriodError(const WearPeriod& p) {
  if (const QString e = DosimeterIdError(p.dosimeter); !e.isEmpty()) return e;
  if (!p.from.isValid()) return QStringLiteral("a wear period needs the date it begins");
  if (p.to && *p.to < p.from)
    return QStringLiteral("the period ends on %1, before it begins on %2")
        .arg(ArchiveTimeText(*p.to), ArchiveTimeText(p.from));
  return QString();
}

bool PeriodsOverlap(const WearPeriod& a, const WearPeriod& b) {
  const auto endOf = [](const WearPeriod& p) {
    return p.to ? *p.to : QDateTime(QDate(9999, 12, 31), QTime(23, 59), Qt::UTC);
  };
  return NormalDosimeter(a.dosimeter) == NormalDosimeter(b.dosimeter) && a.from <= endOf(b) && b.from <= endOf(a);
}

// ---------------------------------------------------------------------------

std::atomic<int> connectionCounter{0};

// Who changes the record, as the change log names them.
QString OperatingSystemUser() {
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return QString::fromLocal8Bit(pw->pw_name);
  const QString user = qEnvironmentVariable("USER");
  return user.isEmpty() ? QString::number(::geteuid()) : user;
}

namespace {
QString endText(const std::optional<QDateTime>& to) { return to ? ArchiveTimeText(*to) : QStringLiteral("open"); }
QString periodEntity(const WearPeriod& p) {
  return periodEntityPrefix(p.dosimeter) + ArchiveTimeText(p.from);
}
// A period change touches the dose times of the read-outs it moves to
// another wearer or to another time (`moved`, from relinkPeriods); when it
// moves none, only doses to come: from `since` on (a new period's start,
// the minute after the earlier of an old and a new end).
LogRow periodRow(const QString& what, const WearPeriod& p, const QString& oldValue, const QString& newValue,
                 const QString& reason, const std::map<PeriodKey, DoseSpan>& moved, const QDateTime& since) {
  const auto it = moved.find({p.dosimeter, ArchiveTimeText(p.from)});
  const DoseSpan touched = it != moved.end() ? it->second : DoseSpan{ArchiveTimeText(since), kOpenEnd};
  return {what,   periodEntity(p),        oldValue,     newValue,
          reason, personKey(p.person.id), touched.from, touched.to};
}
LogRow assignedRow(const WearPeriod& p, const QString& reason, const std::map<PeriodKey, DoseSpan>& moved) {
  return periodRow(QStringLiteral("period assigned"), p, QString(),
                   PersonText(p.person) + QStringLiteral(" to ") + endText(p.to), reason, moved, p.from);
}
// `p` with its new end; `was`: its end before. A read-out up to the
// earlier end counts at its own time under either end, and a period worn
// on that minute is worn on it under either: only what comes after it can
// change. An end is a minute (a day's end its last one), so an end on a
// signed quarter's last day touches nothing of it unless a read-out moves.
LogRow endedRow(const WearPeriod& p, const std::optional<QDateTime>& was, const QString& reason,
                const std::map<PeriodKey, DoseSpan>& moved) {
  const QDateTime earlier = was && p.to ? std::min(*was, *p.to) : was ? *was : *p.to;
  // No minute follows the open end's: its text would sort before any year.
  const QDateTime since = ArchiveTimeText(earlier) < kOpenEnd ? earlier.addSecs(60) : earlier;
  return periodRow(QStringLiteral("period ended"), p, endText(was), endText(p.to), reason, moved, since);
}
// For relinkPeriods: the end a period had before its new one.
std::map<PeriodKey, QString> endWas(const WearPeriod& p, const std::optional<QDateTime>& was) {
  return {{{p.dosimeter, ArchiveTimeText(p.from)}, was ? ArchiveTimeText(*was) : QString()}};
}
LogRow personRowOf(const QString& what, const Person& p, const QString& oldValue, const QString& newValue,
                   const QString& reason = QString()) {
  return {what, QStringLiteral("person ") + p.id.trimmed(), oldValue, newValue, reason, personKey(p.id), QString(),
          QString()};
}

QString overlapText(const WearPeriod& p) {
  return QStringLiteral("%1 is %2's from %3 %4")
      .arg(p.dosimeter, PersonText(p.person), ArchiveTimeText(p.from),
           p.to ? QStringLiteral("to ") + ArchiveTimeText(*p.to) : QStringLiteral("on (end it first)"));
}
}  // namespace

// ---------------------------------------------------------------------------

std::unique_ptr<DoseArchive> OpenArchiveToRead(const ArchiveLocation& location, int* code, QString* detail) {
  ArchiveOptions options;
  options.readOnly = true;
  std::unique_ptr<DoseArchive> archive = DoseArchive::open(location, options, code, detail);
  if (!archive) *detail = location.displayText() + QStringLiteral(": ") + *detail;
  return archive;
}

std::unique_ptr<DoseArchive> DoseArchive::open(const ArchiveLocation& location, const ArchiveOptions& options,
                                               int* code, QString* detail) {
  *code = kOk;
  detail->clear();
  const ArchiveDialect& dialect = DialectOf(location.kind);
  const bool postgres = location.kind == ArchiveLocation::PostgreSQL;
  const QString driver = QString::fromLatin1(dialect.driver);
  if (!QSqlDatabase::isDriverAvailable(driver)) {
    *detail = QStringLiteral("Qt SQL driver %1 (Debian package %2)").arg(driver, QLatin1String(dialect.debianPackage));
    *code = kErrArchiveDriver;
    return nullptr;
  }
  if (!postgres) {
    const QFileInfo file(location.path);
    if (file.exists() && !file.isFile()) {
      *detail = QStringLiteral("%1 is not a regular file").arg(location.path);
      *code = kErrArchiveOpen;
      return nullptr;
    }
    if (!file.exists()) {
      if (options.readOnly) {
        *detail = QStringLiteral("%1 does not exist").arg(location.path);
        *code = kErrArchiveOpen;
        return nullptr;
      }
      // The default folder is the program's to make; a folder the user
      // named must exist (a typing slip would otherwise archive elsewhere).
      if (location.path == DefaultArchivePath()) QDir().mkpath(file.absolutePath());
      if (!QFileInfo(file.absolutePath()).isDir()) {
        *detail = QStringLiteral("the folder %1 does not exist").arg(file.absolutePath());
        *code = kErrArchiveOpen;
        return nullptr;
      }
    }
  }

  std::unique_ptr<DoseArchive> a(new DoseArchive);
  a->location_ = location;
  a->d_ = std::make_unique<Impl>();
  Impl& d = *a->d_;
  d.name = QStringLiteral("quelm-archive-%1").arg(connectionCounter++);
  d.dialect = &dialect;
  d.options = options;
  d.detail = &a->detail_;
  d.tolerance = &a->tolerance_;
  d.controlTolerance = &a->controlTolerance_;
  d.osUser = OperatingSystemUser();
  d.host = QSysInfo::machineHostName();
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, d.name);
    if (postgres) {
      db.setHostName(location.host);
      db.setPort(location.port);
      db.setDatabaseName(location.database);
      if (!location.user.isEmpty()) db.setUserName(location.user);
      if (!location.password.isEmpty()) db.setPassword(location.password);
      db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    } else {
      db.setDatabaseName(location.path);
      QString connect = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options.busyTimeoutMs);
      if (options.readOnly) connect += QStringLiteral(";QSQLITE_OPEN_READONLY");
      db.setConnectOptions(connect);
    }
    const auto failed = [&](int rc) {
      *code = rc;
      *detail = a->detail_;
      return nullptr;
    };
    if (!db.open()) return failed(d.fail(db.lastError()));
    if (postgres) {
      // IF NOT EXISTS and the like would print notices on every start.
      if (const int rc = d.exec(QStringLiteral("SET client_min_messages = warning"))) return failed(rc);
      // A writer held up by another one gives up after the busy time-out,
      // as on SQLite, rather than waiting without end and saying nothing.
      if (const int rc =
              d.exec(QStringLiteral("SET lock_timeout = %1").arg(std::max(1, options.busyTimeoutMs))))
        return failed(rc);
      QSqlQuery role(db);
      if (role.exec(QStringLiteral("SELECT current_user")) && role.next()) d.role = role.value(0).toString();
      if (options.readOnly)
        if (const int rc = d.exec(QStringLiteral("SET default_transaction_read_only = on"))) return failed(rc);
    } else {
      // The first statement that reads the file: one that is no database
      // says so here.
      if (const int rc = d.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master"))) return failed(rc);
    }
    if (const int rc = migrate(d, &a->upgradeNote_)) return failed(rc);
    if (!postgres && !options.readOnly) {
      // A rollback journal, not a write-ahead log: readers then need no
      // files beside the archive, so they work in a folder they may not
      // write and leave nothing there that would lock the writer out.
      // Another program that has it open keeps the log until it is gone.
      QSqlQuery q(db);
      if (q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next() &&
          q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0) {
        q.finish();
        q.exec(QStringLiteral("PRAGMA journal_mode = DELETE"));
      }
    }
  }
  a->detail_.clear();
  return a;
}

DoseArchive::~DoseArchive() {
  if (!d_) return;
  d_->forgetStatements();
  {
    QSqlDatabase db = d_->db();
    db.close();
  }
  QSqlDatabase::removeDatabase(d_->name);
}

int DoseArchive::schemaVersion() const {
  int version = 0;
  return readSchemaVersion(*d_, &version) == kOk ? version : 0;
}

// --- Read-outs ------------------------------------------------------------------

int DoseArchive::importRecords(std::span<const BlockRecord> records, const QString& source, ImportResult* result,
                               std::optional<double> notificationLevel) {
  detail_.clear();
  if (const int rc = d_->writable()) return rc;
  std::vector<ImportRefusal> refused;
  std::vector<Impl::Candidate> candidates;
  candidates.reserve(records.size());
  for (size_t k = 0; k < records.size(); ++k) {
    if (const QString why = ImplausibleReason(records[k]); !why.isEmpty()) {
      refused.push_back({static_cast<int>(k), static_cast<qint64>(k) * kBlockSize, why});
      continue;
    }
    QByteArray bytes(reinterpret_cast<const char*>(&records[k]), sizeof(BlockRecord));
    candidates.push_back({bytes, DecodeReadout(records[k])});
  }
  // Rows are taken in key order: two programs importing the same read-outs
  // then wait for each other instead of deadlocking. The first record of a
  // key is the read-out; a byte-identical copy in the same records is a
  // duplicate, another one a conflict.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Impl::Candidate& a, const Impl::Candidate& b) { return a.fields.key < b.fields.key; });
  std::vector<Impl::Candidate> unique;
  std::vector<const Impl::Candidate*> sameFile;
  int copies = 0;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (!unique.empty() && unique.back().fields.key == candidates[i].fields.key) {
      if (unique.back().bytes == candidates[i].bytes)
        ++copies;
      else
        sameFile.push_back(&candidates[i]);
      continue;
    }
    unique.push_back(candidates[i]);
  }
  ImportResult r;
  const int refusedCount = static_cast<int>(refused.size());
  const int rc = d_->write([&] {
    return d_->importOnce(unique, sameFile, refusedCount, source, &r, notificationLevel, onRecordImported);
  });
  if (rc) return rc;
  r.duplicates += copies;
  r.refused = std::move(refused);
  // The planner's figures follow a large import, so that lists keep
  // taking the index.
  if (r.added >= kStatisticsAfter && *d_->dialect->refreshStatistics)
    d_->exec(QString::fromLatin1(d_->dialect->refreshStatistics));
  *result = std::move(r);
  if (!result->refused.empty()) {
    detail_ = QStringLiteral("%1 records are no read-outs").arg(result->refused.size());
    return kErrArchiveRefused;
  }
  return kOk;
}

int DoseArchive::importFile(const QString& path, ImportResult* result, std::optional<double> notificationLevel) {
  detail_.clear();
  if (const int rc = d_->writable()) return rc;
  // The details name what went wrong in the file; the caller names the
  // file. The reason travels in the detail: an import may run on a thread
  // of its own, where a note left for the next report would not reach it.
  DataFileReader file;
  if (const int rc = file.open(path)) {
    detail_ = takeFileFailure().reason;
    return rc;
  }
  const uint64_t size = file.size();
  std::vector<BlockRecord> records(static_cast<size_t>(size / sizeof(BlockRecord)));
  for (size_t k = 0; k < records.size(); ++k)
    if (!file.readAt(k * sizeof(BlockRecord), &records[k], sizeof(BlockRecord))) {
      detail_ = QStringLiteral("record %1 cannot be read").arg(k);
      return kErrFileRead;
    }
  file.close();
  const int rc = importRecords(records, QFileInfo(path).absoluteFilePath(), result, notificationLevel);
  if (rc && rc != kErrArchiveRefused) return rc;
  // What was whole is archived; a record cut short (an interrupted
  // download) is no read-out, and is said to be there.
  if (size % sizeof(BlockRecord)) {
    detail_ = QStringLiteral("the last %1 bytes are no whole record").arg(size % sizeof(BlockRecord));
    return kErrFileRead;
  }
  return rc;
}

// --- Persons --------------------------------------------------------------------

int DoseArchive::persons(std::vector<Person>* persons) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT person_id, name FROM persons ORDER BY ") +
              InByteOrder(*d_->dialect, "name_key") + QStringLiteral(", ") +
              InByteOrder(*d_->dialect, "person_key")))
    return d_->fail(q.lastError());
  persons->clear();
  while (q.next()) persons->push_back({q.value(0).toString(), q.value(1).toString()});
  return kOk;
}

int DoseArchive::findPerson(const QString& text, PersonLookup* lookup) {
  detail_.clear();
  return d_->lookup(text, lookup);
}

int DoseArchive::addPerson(const Person& person) {
  detail_.clear();
  if (const QString e = PersonIdError(person.id) + PersonNameError(person.name); !e.isEmpty()) {
    detail_ = e;
    return kErrArchiveInput;
  }
  return d_->write([&] {
    qlonglong row = 0;
    Person existing;
    if (const int rc = d_->personRow(person.id, &row, &existing)) return rc;
    if (row) {
      detail_ = QStringLiteral("the id %1 is %2's").arg(existing.id, existing.name);
      return int{kErrArchiveInput};
    }
    if (const int rc = insertPerson(*d_, person)) return rc;
    return appendLog(*d_, {personRowOf(QStringLiteral("person added"), person, QString(), person.name.simplified())});
  });
}

int DoseArchive::renamePerson(const QString& id, const QString& name) {
  detail_.clear();
  if (const QString e = PersonNameError(name); !e.isEmpty()) {
    detail_ = e;
    return kErrArchiveInput;
  }
  return d_->write([&] {
    qlonglong row = 0;
    Person was;
    if (const int rc = d_->personRow(id, &row, &was)) return rc;
    if (!row) {
      detail_ = QStringLiteral("no person has the id %1").arg(id);
      return int{kErrArchiveNoPerson};
    }
    QSqlQuery q(d_->db());
    q.prepare(QStringLiteral("UPDATE persons SET name = ?, name_key = ? WHERE id = ?"));
    q.addBindValue(name.simplified());
    q.addBindValue(nameKey(name));
    q.addBindValue(row);
    if (const int rc = d_->exec(q)) return rc;
    return appendLog(*d_, {personRowOf(QStringLiteral("person renamed"), was, was.name, name.simplified())});
  });
}

// --- Wear periods ---------------------------------------------------------------

int DoseArchive::assign(const QString& dosimeterText, const QString& personText, const QDateTime& from,
                        const std::optional<QDateTime>& to, WearPeriod* stored, std::optional<Person>* created) {
  detail_.clear();
  if (created) created->reset();
  WearPeriod period{NormalDosimeter(dosimeterText), {}, from, to};
  if (const QString e = WearPeriodError(period); !e.isEmpty()) {
    detail_ = e;
    return kErrArchiveInput;
  }
  Impl& d = *d_;
  std::optional<Person> made;
  const int rc = d.write([&]() -> int {
    made.reset();
    // Two programs assigning at once must not both find the period free.
    if (*d.dialect->lockPeriods)
      if (const int rc = d.exec(QString::fromLatin1(d.dialect->lockPeriods))) return rc;
    // A control's dose is no person's.
    std::set<QString> controls;
    if (const int rc = controlDosimeters(d, &controls)) return rc;
    if (controls.count(period.dosimeter)) {
      detail_ = QStringLiteral("%1 is a control dosimeter: nobody wears it").arg(period.dosimeter);
      return kErrArchiveInput;
    }
    PersonLookup lookup;
    if (const int rc = d.lookup(personText, &lookup)) return rc;
    if (lookup.outcome == PersonLookup::Ambiguous) {
      QStringList who;
      for (const Person& p : lookup.candidates) who << PersonText(p);
      detail_ = QStringLiteral("\"%1\" is %2: give the id").arg(personText.simplified(), who.join(QStringLiteral(", ")));
      return kErrArchiveAmbiguousPerson;
    }
    if (lookup.outcome == PersonLookup::Unknown) {
      // Only a name nobody has makes a new person; it gets a generated id.
      if (const QString e = PersonNameError(personText); !e.isEmpty()) {
        detail_ = e;
        return kErrArchiveInput;
      }
      Person p{QString(), personText.simplified()};
      if (const int rc = nextPersonId(d, &p.id)) return rc;
      if (const int rc = insertPerson(d, p)) return rc;
      if (const int rc = appendLog(d, {personRowOf(QStringLiteral("person added"), p, QString(), p.name)})) return rc;
      made = p;
      lookup.person = p;
    }
    period.person = lookup.person;
    qlonglong personRow = 0;
    if (const int rc = d.personRow(lookup.person.id, &personRow)) return rc;
    std::vector<Impl::StoredPeriod> existing;
    if (const int rc = d.periodsOf(period.dosimeter, &existing)) return rc;
    qlonglong same = 0;
    std::optional<QDateTime> sameEnd;
    for (const Impl::StoredPeriod& s : existing) {
      if (s.person == personRow && s.period.from == period.from) {
        same = s.id;
        sameEnd = s.period.to;
        continue;
      }
      if (PeriodsOverlap(s.period, period)) {
        detail_ = overlapText(s.period);
        return kErrArchiveOverlap;
      }
    }
    // Relinked first: the log row names the read-outs that changed hands
    // or dose time.
    std::map<PeriodKey, DoseSpan> moved;
    if (same) {
      if (sameEnd == period.to) return int{kOk};
      if (const int rc = d.setPeriodEnd(same, period.to)) return rc;
      if (const int rc = relinkPeriods(d, {period.dosimeter}, &moved, endWas(period, sameEnd))) return rc;
      return appendLog(d, {endedRow(period, sameEnd, QString(), moved)});
    }
    if (const int rc = d.insertPeriod(period.dosimeter, personRow, period)) return rc;
    if (const int rc = relinkPeriods(d, {period.dosimeter}, &moved)) return rc;
    return appendLog(d, {assignedRow(period, QString(), moved)});
  });
  if (rc) return rc;
  if (stored) *stored = period;
  if (created) *created = made;
  return kOk;
}

int DoseArchive::endPeriod(const QString& dosimeterText, const QDateTime& at, WearPeriod* ended,
                           const std::optional<QDateTime>& from, const WearPeriod* shown) {
  detail_.clear();
  changedSinceShown_ = false;
  const QString dosimeter = NormalDosimeter(dosimeterText);
  if (const QString e = DosimeterIdError(dosimeter); !e.isEmpty()) {
    detail_ = e;
    return kErrArchiveInput;
  }
  Impl& d = *d_;
  WearPeriod period;
  const int rc = d.write([&]() -> int {
    // Another program ending or assigning the dosimeter meanwhile would
    // make what is read here stale: an end set on it could overlap the
    // next wearer's period.
    if (*d.dialect->lockPeriods)
      if (const int rc = d.exec(QString::fromLatin1(d.dialect->lockPeriods))) return rc;
    std::vector<Impl::StoredPeriod> existing;
    if (const int rc = d.periodsOf(dosimeter, &existing)) return rc;
    if (onReadBeforeWrite) onReadBeforeWrite();
    if (existing.empty()) {
      detail_ = QStringLiteral("%1 has no wear period").arg(dosimeter);
      return kErrArchiveInput;
    }
    // The period the operator chose, not whichever came after it.
    auto chosen = std::prev(existing.end());
    if (from) {
      chosen = std::find_if(existing.begin(), existing.end(),
                            [&](const Impl::StoredPeriod& p) { return p.period.from == *from; });
      if (chosen == existing.end()) {
        detail_ = QStringLiteral("%1 has no wear period from %2").arg(dosimeter, ArchiveTimeText(*from));
        return kErrArchiveInput;
      }
    }
    const QString which =
        from ? QStringLiteral("period from %1").arg(ArchiveTimeText(*from)) : QStringLiteral("last period");
    period = chosen->period;
    if (shown && (shown->to != period.to || shown->person.id != period.person.id)) {
      changedSinceShown_ = true;
      detail_ =
          QStringLiteral("%1's %2 changed since it was shown (now %3 to %4, %5); the list is shown anew")
              .arg(dosimeter, which, ArchiveTimeText(period.from), endText(period.to),
                   PersonText(period.person));
      return kErrArchiveInput;
    }
    if (at < period.from) {
      detail_ = QStringLiteral("%1's %2 began on %3, after %4")
                    .arg(dosimeter, which, ArchiveTimeText(period.from), ArchiveTimeText(at));
      return kErrArchiveInput;
    }
    if (period.to && *period.to <= at) {
      detail_ =
          QStringLiteral("%1's %2 ended on %3 already").arg(dosimeter, which, ArchiveTimeText(*period.to));
      return kErrArchiveInput;
    }
    const std::optional<QDateTime> was = period.to;
    period.to = at;
    if (const int rc = d.setPeriodEnd(chosen->id, period.to)) return rc;
    // The bounds stay; relinking tells the read-outs the end moves.
    std::map<PeriodKey, DoseSpan> moved;
    if (const int rc = relinkPeriods(d, {dosimeter}, &moved, endWas(period, was))) return rc;
    return appendLog(d, {endedRow(period, was, QString(), moved)});
  });
  if (rc) return rc;
  if (ended) *ended = period;
  return kOk;
}

int DoseArchive::periods(const PeriodQuery& query, std::vector<WearPeriod>* periods) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  if (!query.dosimeter.isEmpty()) {
    q.prepare(kDosimeterPeriods);
    q.addBindValue(NormalDosimeter(query.dosimeter));
  } else if (!query.personId.isEmpty()) {
    q.prepare(kPeriodColumns + QStringLiteral(" WHERE p.person_key = ? ORDER BY w.valid_from, ") +
              InByteOrder(*d_->dialect, "w.dosimeter"));
    q.addBindValue(personKey(query.personId));
  } else {
    q.prepare(kPeriodColumns + QStringLiteral(" ORDER BY ") + InByteOrder(*d_->dialect, "w.dosimeter") +
              QStringLiteral(", w.valid_from"));
  }
  if (const int rc = d_->exec(q)) return rc;
  periods->clear();
  while (q.next()) periods->push_back(periodOf(q, 0));
  return kOk;
}

int DoseArchive::importWearerList(const std::vector<WearerListRow>& rows, WearerListResult* result,
                                  const QString& source) {
  detail_.clear();
  const auto refuse = [this](int line, const QString& why) {
    detail_ = QStringLiteral("line %1: %2").arg(line).arg(why);
    return int{kErrArchiveInput};
  };
  // What can be told without the archive first, every line.
  for (const WearerListRow& row : rows) {
    if (const QString e = PersonIdError(row.person.id); !e.isEmpty()) return refuse(row.line, e);
    if (const QString e = PersonNameError(row.person.name); !e.isEmpty()) return refuse(row.line, e);
    if (const QString e = WearPeriodError(row.period); !e.isEmpty()) return refuse(row.line, e);
  }
  Impl& d = *d_;
  WearerListResult r;
  const int rc = d.write([&]() -> int {
    r = {};
    if (*d.dialect->lockPeriods)
      if (const int rc = d.exec(QString::fromLatin1(d.dialect->lockPeriods))) return rc;
    // The archive's persons and the periods of the list's dosimeters, once.
    std::map<QString, std::pair<qlonglong, Person>> persons;  // by key
    {
      QSqlQuery q(d.db());
      q.setForwardOnly(true);
      if (!q.exec(QStringLiteral("SELECT person_key, id, person_id, name FROM persons"))) return d.fail(q.lastError());
      while (q.next())
        persons[q.value(0).toString()] = {q.value(1).toLongLong(), {q.value(2).toString(), q.value(3).toString()}};
    }
    struct Entry {
      WearPeriod period;
      qlonglong id = 0;  // 0: from this list
      qlonglong person = 0;
      QString personKey;
      int line = 0;
    };
    std::map<QString, std::vector<Entry>> byDosimeter;
    QStringList dosimeters;
    for (const WearerListRow& row : rows) dosimeters << NormalDosimeter(row.period.dosimeter);
    dosimeters.removeDuplicates();
    for (const QString& dosimeter : dosimeters) byDosimeter[dosimeter];
    {
      QSqlQuery q(d.db());
      q.setForwardOnly(true);
      if (!q.exec(kPeriodColumns + QStringLiteral(" ORDER BY w.dosimeter, w.valid_from"))) return d.fail(q.lastError());
      while (q.next()) {
        const WearPeriod p = periodOf(q, 0);
        const auto it = byDosimeter.find(p.dosimeter);
        if (it != byDosimeter.end())
          it->second.push_back(
              {p, q.value(5).toLongLong(), q.value(6).toLongLong(), personKey(p.person.id), 0});
      }
    }
    std::set<QString> controls;
    if (const int rc = controlDosimeters(d, &controls)) return rc;
    for (const WearerListRow& row : rows)
      if (controls.count(NormalDosimeter(row.period.dosimeter)))
        return refuse(row.line, QStringLiteral("%1 is a control dosimeter: nobody wears it")
                                    .arg(NormalDosimeter(row.period.dosimeter)));
    std::map<QString, Person> newPersons;
    struct End {
      qlonglong id;
      WearPeriod period;
      std::optional<QDateTime> was;
    };
    std::vector<End> ends;
    std::vector<Entry*> inserts;
    std::vector<Entry> added;
    added.reserve(rows.size());
    for (const WearerListRow& row : rows) {
      const QString key = personKey(row.person.id);
      const Person person{row.person.id.trimmed(), row.person.name.simplified()};
      if (const auto it = persons.find(key); it != persons.end()) {
        if (nameKey(it->second.second.name) != nameKey(person.name))
          return refuse(row.line, QStringLiteral("the id %1 is %2 in the archive, not %3 (rename the person first)")
                                      .arg(it->second.second.id, it->second.second.name, person.name));
      } else if (const auto n = newPersons.find(key); n != newPersons.end()) {
        if (nameKey(n->second.name) != nameKey(person.name))
          return refuse(row.line, QStringLiteral("the id %1 is %2 on an earlier line").arg(n->second.id, n->second.name));
      } else {
        newPersons[key] = person;
      }
      WearPeriod period = row.period;
      period.dosimeter = NormalDosimeter(period.dosimeter);
      period.person = person;
      std::vector<Entry>& list = byDosimeter[period.dosimeter];
      Entry* same = nullptr;
      for (Entry& e : list) {
        if (e.personKey == key && e.period.from == period.from) {
          same = &e;
          continue;
        }
        if (PeriodsOverlap(e.period, period))
          return refuse(row.line, e.line ? QStringLiteral("the period overlaps line %1").arg(e.line)
                                         : overlapText(e.period));
      }
      if (same) {
        if (same->period.to == period.to) {
          ++r.unchanged;
        } else if (same->id && !same->period.to) {
          ends.push_back({same->id, period, same->period.to});
          same->period.to = period.to;
          ++r.ended;
        } else {
          return refuse(row.line, same->line ? QStringLiteral("the period is on line %1 with another end").arg(same->line)
                                             : QStringLiteral("the archive holds this period with another end: %1")
                                                   .arg(overlapText(same->period)));
        }
        continue;
      }
      added.push_back({period, 0, 0, key, row.line});
      list.push_back(added.back());
      inserts.push_back(&added.back());
    }
    const QString why = source.isEmpty() ? QStringLiteral("wearer list") : QStringLiteral("wearer list ") + source;
    std::vector<LogRow> log;
    // Many rows per statement: a list of thousands is a few round trips.
    std::vector<Person> fresh;
    for (const auto& [key, person] : newPersons)
      if (!persons.count(key)) fresh.push_back(person);
    {
      QSqlQuery q(d.db());
      const auto bind = [&](size_t row, int* position) {
        for (const QString& v : {fresh[row].id, personKey(fresh[row].id), fresh[row].name, nameKey(fresh[row].name)})
          q.bindValue((*position)++, v);
      };
      if (const int rc = insertBatches(
              d, q, fresh.size(), QStringLiteral("INSERT INTO persons (person_id, person_key, name, name_key) VALUES "),
              4, QStringLiteral(" RETURNING person_key, id"), bind, [&] {
                while (q.next()) persons[q.value(0).toString()].first = q.value(1).toLongLong();
                q.finish();
              }))
        return rc;
    }
    for (const Person& person : fresh) {
      persons[personKey(person.id)].second = person;
      log.push_back(personRowOf(QStringLiteral("person added"), person, QString(), person.name, why));
      ++r.persons;
    }
    std::map<PeriodKey, QString> endsWere;
    for (const End& e : ends) {
      if (const int rc = d.setPeriodEnd(e.id, e.period.to)) return rc;
      endsWere.merge(endWas(e.period, e.was));
    }
    {
      QSqlQuery q(d.db());
      const auto bind = [&](size_t row, int* position) {
        const Entry* e = inserts[row];
        for (const QVariant& v :
             QVariantList{e->period.dosimeter, persons[e->personKey].first, ArchiveTimeText(e->period.from),
                          nullableText(e->period.to ? ArchiveTimeText(*e->period.to) : QString()),
                          ArchiveTimeText(e->period.from)})
          q.bindValue((*position)++, v);
      };
      if (const int rc = insertBatches(
              d, q, inserts.size(),
              QStringLiteral("INSERT INTO wear_periods (dosimeter, person_id, valid_from, valid_to, readouts_until)"
                             " VALUES "),
              5, QString(), bind))
        return rc;
    }
    // Relinked first: each period's log row names the read-outs it took
    // over or moved to its new end.
    std::map<PeriodKey, DoseSpan> moved;
    if (const int rc = relinkPeriods(d, dosimeters, &moved, endsWere)) return rc;
    for (const End& e : ends) log.push_back(endedRow(e.period, e.was, why, moved));
    for (const Entry* e : inserts) {
      log.push_back(assignedRow(e->period, why, moved));
      ++r.periods;
    }
    return appendLog(d, log);
  });
  if (rc) return rc;
  *result = r;
  return kOk;
}

int DoseArchive::dosimeters(QStringList* names) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  // A union is ordered by its column's name alone: the order's collation
  // goes on the union as a whole.
  if (!q.exec(
          QStringLiteral("SELECT dosimeter FROM (SELECT dosimeter FROM readouts UNION SELECT dosimeter FROM"
                         " wear_periods) u ORDER BY ") +
          InByteOrder(*d_->dialect, "dosimeter")))
    return d_->fail(q.lastError());
  names->clear();
  while (q.next()) names->append(q.value(0).toString());
  return kOk;
}

int DoseArchive::personAt(const QString& dosimeter, const QString& readoutTime, Person* person) {
  detail_.clear();
  *person = {};
  if (readoutTime.isEmpty()) return kOk;
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT p.person_id, p.name FROM wear_periods w JOIN persons p ON p.id = w.person_id"
                           " WHERE w.dosimeter = ? AND w.valid_from <= ? AND ? < w.readouts_until"));
  q.addBindValue(NormalDosimeter(dosimeter));
  q.addBindValue(readoutTime);
  q.addBindValue(readoutTime);
  if (const int rc = d_->exec(q)) return rc;
  if (q.next()) *person = {q.value(0).toString(), q.value(1).toString()};
  return kOk;
}

// --- What the record says -------------------------------------------------------------

namespace {
// The tables of a person's or a dosimeter's read-outs and the conditions
// of a time range, with the values they bind, in order.
struct HistorySql {
  QString from, where;
  QVariantList binds;
};
HistorySql historySql(const HistoryQuery& query) {
  HistorySql h;
  const bool byPerson = !query.personId.isEmpty();
  h.from = (byPerson ? QStringLiteral("persons p JOIN wear_periods w ON w.person_id = p.id JOIN readouts r ON") + kBelongs
                     : QStringLiteral("readouts r LEFT JOIN wear_periods w ON") + kBelongs +
                           QStringLiteral(" LEFT JOIN persons p ON p.id = w.person_id")) +
           kResolutionJoin;
  h.where = byPerson ? QStringLiteral(" WHERE p.person_key = ?") : QStringLiteral(" WHERE r.dosimeter = ?");
  h.binds << (byPerson ? personKey(query.personId) : NormalDosimeter(query.dosimeter));
  if (query.from) {
    h.where += QStringLiteral(" AND ") + kDoseTime + QStringLiteral(" >= ?");
    h.binds << ArchiveTimeText(*query.from);
  }
  if (query.to) {
    h.where += QStringLiteral(" AND ") + kDoseTime + QStringLiteral(" <= ?");
    h.binds << ArchiveTimeText(*query.to);
  }
  return h;
}
}  // namespace

int DoseArchive::history(const HistoryQuery& query, std::vector<ReadoutRow>* rows) {
  detail_.clear();
  const HistorySql h = historySql(query);
  if (const int rc =
          d_->rows(d_->statement(kRowColumns + h.from + h.where + readoutOrder(*d_->dialect), h.binds), rows))
    return rc;
  if (query.personId.isEmpty()) return kOk;
  // A person's record also holds the doses entered by hand, after the
  // read-outs, in the order they count.
  QSqlQuery n(d_->db());
  n.setForwardOnly(true);
  n.prepare(QStringLiteral("SELECT n.dose_time, n.dose_usv, n.reason, n.period, p.person_id, p.name FROM notional_doses n"
                           " JOIN persons p ON p.id = n.person_id WHERE p.person_key = ?") +
            (query.from ? QStringLiteral(" AND n.dose_time >= ?") : QString()) +
            (query.to ? QStringLiteral(" AND n.dose_time <= ?") : QString()) + QStringLiteral(" ORDER BY n.dose_time, n.id"));
  n.addBindValue(personKey(query.personId));
  if (query.from) n.addBindValue(ArchiveTimeText(*query.from));
  if (query.to) n.addBindValue(ArchiveTimeText(*query.to));
  if (const int rc = d_->exec(n)) return rc;
  while (n.next()) {
    ReadoutRow row;
    row.notional = true;
    row.doseTime = n.value(0).toString();
    row.doseUsv = n.value(1).toDouble();
    row.countedUsv = CountedDose(row.doseUsv);
    row.resolutionReason = n.value(2).toString();
    row.source = QStringLiteral("notional dose of ") + n.value(3).toString();
    row.person = {n.value(4).toString(), n.value(5).toString()};
    rows->push_back(row);
  }
  return kOk;
}

int DoseArchive::record(qint64 id, QByteArray* bytes) {
  detail_.clear();
  bytes->clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT record FROM readouts WHERE id = ?"));
  q.addBindValue(id);
  if (const int rc = d_->exec(q)) return rc;
  if (!q.next()) {
    detail_ = QStringLiteral("no read-out %1 is archived").arg(id);
    return kErrArchiveQuery;
  }
  *bytes = q.value(0).toByteArray();
  return kOk;
}

int DoseArchive::conflicts(const HistoryQuery& query, std::vector<ReadoutRow>* rows) {
  detail_.clear();
  const HistorySql h = historySql(query);
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(kConflictColumns + h.from + QStringLiteral(" JOIN conflicts c ON c.readout_key = r.readout_key") +
            h.where + QStringLiteral(" ORDER BY r.readout_time, c.id"));
  for (const QVariant& v : h.binds) q.addBindValue(v);
  if (const int rc = d_->exec(q)) return rc;
  conflictRows(q, rows);
  return kOk;
}

int DoseArchive::alerts(std::optional<QDateTime> from, double level, std::vector<ReadoutRow>* rows) {
  detail_.clear();
  QString sql = kRowColumns + QStringLiteral("readouts r LEFT JOIN wear_periods w ON") + kBelongs +
                QStringLiteral(" LEFT JOIN persons p ON p.id = w.person_id") + kResolutionJoin +
                QStringLiteral(" WHERE r.dose_usv >= ?");
  if (from) sql += QStringLiteral(" AND r.readout_time >= ?");
  // A control's known dose is no person's alert.
  sql += QStringLiteral(" AND r.dosimeter NOT IN (SELECT dosimeter FROM control_marks)");
  QSqlQuery q(d_->db());
  q.prepare(sql + readoutOrder(*d_->dialect));
  q.addBindValue(level);
  if (from) q.addBindValue(ArchiveTimeText(*from));
  return d_->rows(q, rows);
}

int DoseArchive::totals(const QString& personId, const QDateTime& at, std::vector<PersonTotals>* totals) {
  detail_.clear();
  // Everybody has a line, a dose of nothing included.
  std::vector<Person> everybody;
  if (personId.isEmpty()) {
    if (const int rc = persons(&everybody)) return rc;
  } else {
    qlonglong row = 0;
    Person p;
    if (const int rc = d_->personRow(personId, &row, &p)) return rc;
    if (!row) {
      detail_ = QStringLiteral("no person has the id %1").arg(personId);
      return kErrArchiveNoPerson;
    }
    everybody.push_back(p);
  }
  QVariantList values = {ArchiveTimeText(QuarterStart(at)), ArchiveTimeText(YearStart(at)), ArchiveTimeText(at)};
  if (!personId.isEmpty()) values << personKey(personId);
  QSqlQuery& q = d_->statement(
      QStringLiteral("SELECT p.person_key, SUM(CASE WHEN ") + kDoseTime +
          QStringLiteral(" >= ? THEN r.counted_usv ELSE 0 END), SUM(CASE WHEN ") + kDoseTime +
          QStringLiteral(" >= ? THEN r.counted_usv ELSE 0 END), SUM(r.counted_usv), COUNT(*)"
                         " FROM persons p JOIN wear_periods w ON w.person_id = p.id JOIN readouts r ON") +
          kBelongs + QStringLiteral(" WHERE ") + kDoseTime + QStringLiteral(" <= ?") +
          (personId.isEmpty() ? QString() : QStringLiteral(" AND p.person_key = ?")) +
          QStringLiteral(" GROUP BY p.person_key"),
      values);
  if (const int rc = d_->exec(q)) return rc;
  std::map<QString, PersonTotals> found;
  while (q.next()) {
    PersonTotals t;
    t.quarterToDate = q.value(1).toDouble();
    t.yearToDate = q.value(2).toDouble();
    t.lifetime = q.value(3).toDouble();
    t.readouts = q.value(4).toInt();
    found[q.value(0).toString()] = t;
  }
  q.finish();
  // Doses entered by hand count like read-outs, and are none.
  QSqlQuery& n = d_->statement(
      QStringLiteral("SELECT p.person_key, SUM(CASE WHEN n.dose_time >= ? THEN n.dose_usv ELSE 0 END),"
                     " SUM(CASE WHEN n.dose_time >= ? THEN n.dose_usv ELSE 0 END), SUM(n.dose_usv)"
                     " FROM notional_doses n JOIN persons p ON p.id = n.person_id WHERE n.dose_time <= ?") +
          (personId.isEmpty() ? QString() : QStringLiteral(" AND p.person_key = ?")) +
          QStringLiteral(" GROUP BY p.person_key"),
      values);
  if (const int rc = d_->exec(n)) return rc;
  while (n.next()) {
    PersonTotals& t = found[n.value(0).toString()];
    t.quarterToDate += n.value(1).toDouble();
    t.yearToDate += n.value(2).toDouble();
    t.lifetime += n.value(3).toDouble();
  }
  n.finish();
  totals->clear();
  for (const Person& p : everybody) {
    const auto it = found.find(personKey(p.id));
    PersonTotals t = it != found.end() ? it->second : PersonTotals{};
    t.person = p;
    totals->push_back(t);
  }
  return kOk;
}

int DoseArchive::dosimeterTotals(const QString& dosimeter, const QDateTime& at, PersonTotals* totals) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT SUM(CASE WHEN ") + kDoseTime +
            QStringLiteral(" >= ? THEN r.counted_usv ELSE 0 END), SUM(CASE WHEN ") + kDoseTime +
            QStringLiteral(" >= ? THEN r.counted_usv ELSE 0 END), SUM(r.counted_usv), COUNT(*) FROM readouts r"
                           " LEFT JOIN wear_periods w ON") +
            kBelongs + QStringLiteral(" WHERE r.dosimeter = ? AND ") + kDoseTime + QStringLiteral(" <= ?"));
  q.addBindValue(ArchiveTimeText(QuarterStart(at)));
  q.addBindValue(ArchiveTimeText(YearStart(at)));
  q.addBindValue(NormalDosimeter(dosimeter));
  q.addBindValue(ArchiveTimeText(at));
  if (const int rc = d_->exec(q)) return rc;
  PersonTotals t;
  t.person.name = NormalDosimeter(dosimeter);
  if (q.next()) {
    t.quarterToDate = q.value(0).toDouble();
    t.yearToDate = q.value(1).toDouble();
    t.lifetime = q.value(2).toDouble();
    t.readouts = q.value(3).toInt();
  }
  *totals = t;
  return kOk;
}

int DoseArchive::summary(const ReportPeriod& period, std::vector<SummaryRow>* rows) {
  detail_.clear();
  std::vector<PersonTotals> totalsAtEnd;
  if (const int rc = totals(QString(), period.to, &totalsAtEnd)) return rc;
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT p.person_key, SUM(r.counted_usv), COUNT(*) FROM persons p"
                           " JOIN wear_periods w ON w.person_id = p.id JOIN readouts r ON") +
            kBelongs + QStringLiteral(" WHERE ") + kDoseTime + QStringLiteral(" >= ? AND ") + kDoseTime +
            QStringLiteral(" <= ? GROUP BY p.person_key"));
  q.addBindValue(ArchiveTimeText(period.from));
  q.addBindValue(ArchiveTimeText(period.to));
  if (const int rc = d_->exec(q)) return rc;
  std::map<QString, std::pair<double, int>> inPeriod;
  while (q.next()) inPeriod[q.value(0).toString()] = {q.value(1).toDouble(), q.value(2).toInt()};
  q.finish();
  q.prepare(QStringLiteral("SELECT p.person_key, SUM(n.dose_usv) FROM notional_doses n JOIN persons p"
                           " ON p.id = n.person_id WHERE n.dose_time >= ? AND n.dose_time <= ? GROUP BY p.person_key"));
  q.addBindValue(ArchiveTimeText(period.from));
  q.addBindValue(ArchiveTimeText(period.to));
  if (const int rc = d_->exec(q)) return rc;
  while (q.next()) inPeriod[q.value(0).toString()].first += q.value(1).toDouble();
  rows->clear();
  for (const PersonTotals& t : totalsAtEnd) {
    SummaryRow row;
    row.totals = t;
    if (const auto it = inPeriod.find(personKey(t.person.id)); it != inPeriod.end())
      std::tie(row.periodDose, row.periodReadouts) = it->second;
    rows->push_back(row);
  }
  std::stable_sort(rows->begin(), rows->end(),
                   [](const SummaryRow& a, const SummaryRow& b) { return a.periodDose > b.periodDose; });
  return kOk;
}

int DoseArchive::conflicts(std::vector<ReadoutRow>* rows) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  // With the person the archived read-out of the same key belongs to.
  if (!q.exec(kConflictColumns +
              QStringLiteral("conflicts c JOIN readouts r ON r.readout_key = c.readout_key"
                             " LEFT JOIN wear_periods w ON") +
              kBelongs + QStringLiteral(" LEFT JOIN persons p ON p.id = w.person_id ORDER BY c.id DESC")))
    return d_->fail(q.lastError());
  conflictRows(q, rows);
  return kOk;
}

namespace {
// Every row of the change log chained on the one before, and the triggers
// that keep the log and the signed documents from being rewritten.
int checkLog(DoseArchive::Impl& d, CheckReport* c) {
  QString previous;
  bool broken = false;
  const int rc = d.readInPages(
      QStringLiteral("SELECT id, time_utc, who, host, role, what, entity, old_value, new_value, reason,"
                     " person_key, touches_from, touches_to, prev_hash, hash FROM change_log WHERE id > ?"
                     " ORDER BY id"),
      5000, [&](const QSqlQuery& q) {
        ++c->logRows;
        if (broken) return kOk;
        QStringList content;
        for (int i = 1; i <= 12; ++i) content << q.value(i).toString();
        if (q.value(13).toString() != previous || q.value(14).toString() != logHash(previous, content)) {
          c->faults << QStringLiteral("change log row %1 (%2, %3) does not fit its chain: it or a row before it "
                                      "was changed, removed or put in behind the program's back")
                           .arg(q.value(0).toLongLong())
                           .arg(q.value(1).toString(), q.value(5).toString());
          broken = true;
        }
        previous = q.value(14).toString();
        return kOk;
      });
  if (rc) return rc;
  static const QStringList server = {
      QStringLiteral("change_log_never_changed"),        QStringLiteral("change_log_never_truncated"),
      QStringLiteral("signoffs_never_changed"),          QStringLiteral("signoffs_never_truncated"),
      QStringLiteral("signoff_documents_never_changed"), QStringLiteral("signoff_documents_never_truncated"),
      QStringLiteral("signoff_figures_never_changed"),   QStringLiteral("signoff_figures_never_truncated")};
  static const QStringList file = {
      QStringLiteral("change_log_no_update"),        QStringLiteral("change_log_no_delete"),
      QStringLiteral("signoffs_no_update"),          QStringLiteral("signoffs_no_delete"),
      QStringLiteral("signoff_documents_no_update"), QStringLiteral("signoff_documents_no_delete"),
      QStringLiteral("signoff_figures_no_update"),   QStringLiteral("signoff_figures_no_delete")};
  const QStringList& guards = d.postgres() ? server : file;
  const QString names = QStringLiteral("'") + guards.join(QStringLiteral("', '")) + QStringLiteral("'");
  QSqlQuery q(d.db());
  if (!q.exec(
          d.postgres()
              ? QStringLiteral("SELECT COUNT(*) FROM pg_trigger WHERE tgname IN (%1) AND tgenabled <> 'D'")
                    .arg(names)
              : QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' AND name IN (%1)")
                    .arg(names)))
    return d.fail(q.lastError());
  if (q.next() && q.value(0).toInt() != guards.size())
    c->faults << QStringLiteral("the triggers that keep the change log and the sign-offs from being rewritten are "
                                "missing or switched off");
  q.finish();
  // Each signed document is the one its hash was taken of, the summary the
  // one the sign-off and its log row name. A sign-off has one summary,
  // read as they come; the persons' reports, hundreds a sign-off for as
  // long as the lab signs, are read a few at a time.
  QSqlQuery summaries(d.db());
  summaries.setForwardOnly(true);
  if (!summaries.exec(
          QStringLiteral("SELECT s.period, s.sha256, d.pdf, d.sha256, (SELECT COUNT(*) FROM"
                         " change_log l WHERE l.what = 'sign-off' AND l.entity = s.period AND l.new_value"
                         " LIKE ('%SHA-256 ' || s.sha256)) FROM signoffs s LEFT JOIN signoff_documents d ON"
                         " d.signoff_id = s.id AND d.person_id = '' ORDER BY s.id")))
    return d.fail(summaries.lastError());
  while (summaries.next()) {
    const QString period = summaries.value(0).toString(), signedHash = summaries.value(1).toString();
    if (summaries.value(2).isNull() || summaries.value(3).toString() != signedHash ||
        sha256Hex(summaries.value(2).toByteArray()) != signedHash)
      c->faults << QStringLiteral("the sign-off of %1: its summary is not the one signed (SHA-256 %2)")
                       .arg(period, signedHash);
    if (summaries.value(4).toInt() == 0)
      c->faults << QStringLiteral("the sign-off of %1 has no row in the change log").arg(period);
  }
  summaries.finish();
  constexpr int kReportsAtATime = 50;
  return d.readInPages(
      QStringLiteral(
          "SELECT d.id, s.period, d.person_id, d.pdf, d.sha256 FROM signoff_documents d"
          " JOIN signoffs s ON s.id = d.signoff_id WHERE d.person_id <> '' AND d.id > ? ORDER BY d.id"),
      kReportsAtATime, [&](const QSqlQuery& q) {
        if (sha256Hex(q.value(3).toByteArray()) != q.value(4).toString())
          c->faults << QStringLiteral("the sign-off of %1: the report of %2 differs from its SHA-256")
                           .arg(q.value(1).toString(), q.value(2).toString());
        return int{kOk};
      });
}
}  // namespace

int DoseArchive::check(CheckReport* report) {
  detail_.clear();
  CheckReport c;
  Impl& d = *d_;
  QSqlDatabase db = d.db();
  if (*d.dialect->integrityCheck) {
    QSqlQuery q(db);
    if (!q.exec(QString::fromLatin1(d.dialect->integrityCheck))) return d.fail(q.lastError());
    while (q.next())
      if (q.value(0).toString() != QLatin1String("ok")) c.faults << QStringLiteral("database: ") + q.value(0).toString();
  }
  if (const int version = schemaVersion(); version != kSchemaVersion)
    c.faults << QStringLiteral("schema version %1, expected %2").arg(version).arg(kSchemaVersion);

  const auto wrongSize = [](const QByteArray& bytes) { return bytes.size() != static_cast<qsizetype>(sizeof(BlockRecord)); };
  const int readoutsRc = d.readInPages(
      QStringLiteral("SELECT r.id, readout_key, record, device_id, block_number, readout_time, dosimeter, error_codes,"
                     " measured_dose_usv, dose_rate_usv_h, exposure_h, recomputed_usv, r.dose_usv, counted_usv, v.action,"
                     " v.dose_usv, conflicted FROM readouts r LEFT JOIN resolutions v ON v.id = r.resolution_id"
                     " WHERE r.id > ? ORDER BY r.id"),
      5000, [&](const QSqlQuery& q) {
        ++c.readouts;
        const QString what = QStringLiteral("read-out %1").arg(q.value(0).toLongLong());
        const QByteArray bytes = q.value(2).toByteArray();
        if (wrongSize(bytes)) {
          c.faults << QStringLiteral("%1: the record holds %2 bytes, not 512").arg(what).arg(bytes.size());
          return kOk;
        }
        BlockRecord record;
        std::memcpy(&record, bytes.constData(), sizeof record);
        if (const QString why = ImplausibleReason(record); !why.isEmpty())
          c.faults << QStringLiteral("%1 is no read-out: %2").arg(what, why);
        const ReadoutFields f = DecodeReadout(record);
        const auto differs = [&](const char* field, bool same) {
          if (!same)
            c.faults << QStringLiteral("%1 (block %2 of %3): %4 differs from the record")
                            .arg(what)
                            .arg(f.blockNumber)
                            .arg(f.deviceId, QLatin1String(field));
        };
        const std::optional<double> doseOfRecord = optionalDouble(q.value(12));
        differs("the key", q.value(1).toByteArray() == f.key);
        differs("device_id", q.value(3).toString() == f.deviceId);
        differs("block_number", q.value(4).toInt() == f.blockNumber);
        differs("readout_time", q.value(5).toString() == f.readoutTime);
        differs("dosimeter", q.value(6).toString() == f.dosimeter);
        differs("error_codes", q.value(7).toInt() == f.errorCodes);
        differs("measured_dose_usv", sameNumber(optionalDouble(q.value(8)), f.measuredDose));
        differs("dose_rate_usv_h", sameNumber(optionalDouble(q.value(9)), f.doseRate));
        differs("exposure_h", sameNumber(optionalDouble(q.value(10)), f.exposureH));
        differs("recomputed_usv", sameNumber(optionalDouble(q.value(11)), f.recomputed));
        // The reader's dose, unless a resolution adopted another with a reason.
        const Resolution resolution = resolutionOf(q.value(14).toString());
        differs("dose_usv", sameNumber(doseOfRecord, resolution == Resolution::Reevaluate ? optionalDouble(q.value(15))
                                                                                             : f.measuredDose));
        if (!sameNumber(q.value(13).toDouble(), CountedDose(doseOfRecord, resolution)))
          c.faults << QStringLiteral("%1: counted_usv is not what its dose of record counts").arg(what);
        return kOk;
      });
  if (readoutsRc) return readoutsRc;
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, readout_key, record FROM conflicts ORDER BY id"))) return d.fail(q.lastError());
    while (q.next()) {
      ++c.conflicts;
      const QByteArray bytes = q.value(2).toByteArray();
      const qlonglong id = q.value(0).toLongLong();
      if (wrongSize(bytes)) {
        c.faults << QStringLiteral("conflict %1: the record holds %2 bytes, not 512").arg(id).arg(bytes.size());
        continue;
      }
      if (DecodeReadout(bytes).key != q.value(1).toByteArray())
        c.faults << QStringLiteral("conflict %1: the key differs from the record").arg(id);
    }
  }
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT person_id, person_key, name, name_key FROM persons"))) return d.fail(q.lastError());
    while (q.next()) {
      ++c.persons;
      const QString id = q.value(0).toString();
      if (q.value(1).toString() != personKey(id) || q.value(3).toString() != nameKey(q.value(2).toString()))
        c.faults << QStringLiteral("person %1: the keys it is found by differ from its id and name").arg(id);
      // A name an older program took from a list that was not UTF-8 (a
      // name that is merely longer than today's limit is no fault).
      if (const QString bad = replacementCharacterIn(id); !bad.isEmpty())
        c.faults << QStringLiteral("person %1: its id holds %2").arg(id, bad);
      if (const QString bad = replacementCharacterIn(q.value(2).toString()); !bad.isEmpty())
        c.faults << QStringLiteral("person %1: its name holds %2").arg(id, bad);
    }
  }
  {
    // Overlaps, order, and the bound each period's read-outs run up to.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
                    "SELECT w.dosimeter, p.person_id, p.name, w.valid_from, w.valid_to, w.readouts_until"
                    " FROM wear_periods w LEFT JOIN persons p ON p.id = w.person_id ORDER BY ") +
                InByteOrder(*d.dialect, "w.dosimeter") + QStringLiteral(", w.valid_from")))
      return d.fail(q.lastError());
    std::vector<std::pair<WearPeriod, QString>> all;
    while (q.next()) {
      ++c.periods;
      all.emplace_back(periodOf(q, 0), q.value(5).toString());
      const WearPeriod& p = all.back().first;
      if (p.person.id.isEmpty())
        c.faults << QStringLiteral("wear period of %1 from %2 names no person").arg(p.dosimeter, ArchiveTimeText(p.from));
      if (p.to && *p.to < p.from)
        c.faults << QStringLiteral("wear period of %1 from %2 ends before it starts").arg(p.dosimeter, ArchiveTimeText(p.from));
    }
    for (size_t i = 0; i < all.size(); ++i) {
      const WearPeriod& p = all[i].first;
      const bool lastOfDosimeter = i + 1 == all.size() || all[i + 1].first.dosimeter != p.dosimeter;
      const QString until = lastOfDosimeter ? kOpenEnd : ArchiveTimeText(all[i + 1].first.from);
      if (all[i].second != until)
        c.faults << QStringLiteral("wear period of %1 from %2: its read-outs run up to %3, not %4")
                        .arg(p.dosimeter, ArchiveTimeText(p.from), all[i].second, until);
      for (size_t k = i + 1; k < all.size() && all[k].first.dosimeter == p.dosimeter; ++k)
        if (PeriodsOverlap(p, all[k].first))
          c.faults << QStringLiteral("wear periods of %1 from %2 and from %3 overlap")
                          .arg(p.dosimeter, ArchiveTimeText(p.from), ArchiveTimeText(all[k].first.from));
    }
  }
  if (const int rc = checkControls(d, &c)) return rc;
  if (const int rc = checkCalibrations(d, &c)) return rc;
  if (const int rc = checkLog(d, &c)) return rc;
  {
    // What an upgrade set aside is no read-out, yet kept: the check says so,
    // so that nobody needs the database's own tools to know of it.
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM refused_readouts"))) return d.fail(q.lastError());
    c.setAside = q.next() ? q.value(0).toInt() : 0;
  }
  *report = c;
  return kOk;
}

int DoseArchive::reportPeriods(QStringList* quarters, QStringList* years) {
  detail_.clear();
  quarters->clear();
  years->clear();
  // The first dose counts at the earliest read-out time, or earlier at the
  // end of a wear period whose dosimeter was read after it ended; no dose
  // counts after the last read-out. Each by an index, without a scan.
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral(
          "SELECT (SELECT MIN(readout_time) FROM readouts), (SELECT MAX(readout_time) FROM readouts),"
          " (SELECT MIN(w.valid_to) FROM wear_periods w WHERE EXISTS (SELECT 1 FROM readouts r WHERE"
          " r.dosimeter = w.dosimeter AND r.readout_time > w.valid_to AND r.readout_time < w.readouts_until))")))
    return d_->fail(q.lastError());
  if (!q.next() || q.value(0).isNull()) return kOk;
  std::optional<QDateTime> first = ParseArchiveTime(q.value(0).toString(), false);
  const std::optional<QDateTime> last = ParseArchiveTime(q.value(1).toString(), false);
  if (const auto end = ParseArchiveTime(q.value(2).toString(), false); end && first && *end < *first) first = end;
  if (!first || !last) return kOk;
  for (QDateTime t = QuarterStart(*last); t >= QuarterStart(*first); t = t.addMonths(-3))
    quarters->append(QuarterOf(t).label);
  for (int y = last->date().year(); y >= first->date().year(); --y) years->append(QString::number(y));
  return kOk;
}

}  // namespace quelm
