#include "archive/ArchiveText.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <cmath>

#include "base/CsvText.h"
#include "base/NumberFormat.h"
#include "base/UserLocale.h"
#include "evaluation/BlockFormat.h"

namespace quelm {
namespace {

QString optionalNumber(const std::optional<double>& v, int decimals = 2) {
  return v ? ArchiveNumber(*v, decimals) : QString();
}

QString errorCodesText(int flags) {
  return flags != 0 ? FormatErrorCodes(static_cast<uint8_t>(flags)).trimmed() : QStringLiteral("OK");
}

QString timeOrNone(const QString& time) { return time.isEmpty() ? QStringLiteral("no time") : time; }

// Text fields through the one writer of each form; numbers as they are.
QString field(const QString& text, bool csv) { return csv ? CsvField(text) : PlainField(text); }
QString join(const QStringList& fields, bool csv) { return fields.join(csv ? QLatin1Char(',') : QLatin1Char('\t')); }
QString isoTime(const QString& stored, bool csv) {
  QString time = stored;
  if (csv) time.replace(QLatin1Char(' '), QLatin1Char('T'));
  return time;
}

QString readoutLine(const ReadoutRow& r, bool csv) {
  // A notional dose is no read-out: no number, no block; its one time is
  // when it counts.
  return join(
      {r.notional ? QString() : QString::number(r.id), isoTime(r.notional ? r.doseTime : r.readoutTime, csv),
       field(r.deviceId, csv), r.notional ? QString() : QString::number(r.blockNumber),
       field(r.dosimeter, csv), field(r.person.id, csv), field(r.person.name, csv), optionalNumber(r.doseUsv),
       optionalNumber(r.recomputed), optionalNumber(r.doseRate), optionalNumber(r.exposureH, 1),
       errorCodesText(r.errorCodes), StatusText(r.status())},
      csv);
}

QString totalsLine(const PersonTotals& t, double annualLimit, bool csv) {
  return join({field(t.person.id, csv), field(t.person.name, csv), ArchiveNumber(t.quarterToDate),
               ArchiveNumber(t.yearToDate), ArchiveNumber(t.lifetime), QString::number(t.readouts),
               ArchiveNumber(annualLimit)},
              csv);
}

QString periodLine(const WearPeriod& p, bool csv) {
  const QString from = ArchiveTimeText(p.from), to = p.to ? ArchiveTimeText(*p.to) : QString();
  return join({field(p.dosimeter, csv), field(p.person.id, csv), field(p.person.name, csv), isoTime(from, csv),
               isoTime(to, csv)},
              csv);
}

QString header(const char* columns, bool csv) {
  QString h = QString::fromLatin1(columns);
  if (!csv) h.replace(QLatin1Char(','), QLatin1Char('\t'));
  return h;
}

const char* const kReadoutColumns =
    "id,readout_time,device_id,block_number,dosimeter,person_id,person,dose_usv,recomputed_usv,dose_rate_usv_h,"
    "exposure_h,error_codes,status";
const char* const kTotalsColumns =
    "person_id,person,quarter_to_date_usv,year_to_date_usv,lifetime_usv,readouts,annual_limit_usv";
const char* const kPersonColumns = "person_id,name";
const char* const kPeriodColumns = "dosimeter,person_id,person,from,to";
const char* const kWearerColumns = "person_id,name,dosimeter,from,to";

}  // namespace

QString ImportLine(const QString& file, const ImportResult& r) {
  return QStringLiteral("%1: %2 added, %3 already archived, %4 conflicting, %5 refused")
      .arg(PlainField(file))
      .arg(r.added)
      .arg(r.duplicates)
      .arg(r.conflicts)
      .arg(r.refused.size());
}

QString RefusalLine(const QString& file, const ImportRefusal& r) {
  return QStringLiteral("%1: record %2 (byte %3) refused: %4").arg(PlainField(file)).arg(r.record).arg(r.offset).arg(r.reason);
}

QString DownloadArchivedLine(const ImportResult& r) {
  return QStringLiteral("Archived: %1 added, %2 already archived").arg(r.added).arg(r.duplicates);
}

QString UpgradedLine(const QString& where, const QString& upgradeNote) {
  return QStringLiteral("Dose archive %1: %2").arg(where, upgradeNote);
}

QString HighDoseLine(const ReadoutFields& f) {
  return QStringLiteral("High dose: %1 %2 µSv (block %3, %4)")
      .arg(f.dosimeter, optionalNumber(f.measuredDose))
      .arg(f.blockNumber)
      .arg(timeOrNone(f.readoutTime));
}

QString ConflictLine(const QString& where, const ReadoutFields& f) {
  return QStringLiteral(
             "%1: block %2 of reader %3, dosimeter %4, %5 is archived with other bytes; "
             "the archived read-out is kept")
      .arg(PlainField(where))
      .arg(f.blockNumber)
      .arg(f.deviceId, f.dosimeter, timeOrNone(f.readoutTime));
}

QString NewPersonLine(const Person& p) { return QStringLiteral("New person: ") + PlainField(PersonText(p)); }

QString PeriodLine(const WearPeriod& p) {
  return QStringLiteral("%1: %2 from %3 %4")
      .arg(p.dosimeter, PlainField(PersonText(p.person)), ArchiveTimeText(p.from),
           p.to ? QStringLiteral("to ") + ArchiveTimeText(*p.to) : QStringLiteral("on"));
}

QString WearerListLine(const WearerListResult& r) {
  return QStringLiteral("%1 new persons, %2 new periods, %3 periods ended, %4 lines held already")
      .arg(r.persons)
      .arg(r.periods)
      .arg(r.ended)
      .arg(r.unchanged);
}

QString ArchiveNumber(double value, int decimals) {
  // -0.00 would read as a dose below nothing.
  QString s = QString::number(value, 'f', decimals);
  if (s.startsWith(QLatin1Char('-')) && s.mid(1).remove(QLatin1Char('0')) == QLatin1String(".")) s.remove(0, 1);
  return s;
}

QString OpenItemsText(int open, const QString& period) {
  return QStringLiteral("%1 read-outs of %2 await review").arg(open).arg(period);
}

QString DoseText(double usv) {
  const double size = std::fabs(usv);
  if (size < 999.995) return formatFloat(usv, 2) + QStringLiteral(" µSv");
  if (size < 999999.5) return formatFloat(usv / 1e3, 3) + QStringLiteral(" mSv");
  return formatFloat(usv / 1e6, 3) + QStringLiteral(" Sv");
}

QString DoseText(const std::optional<double>& usv) { return usv ? DoseText(*usv) : QString(); }

QString ShareText(double percent) { return formatFloat(percent, 1) + QStringLiteral(" %"); }

QString LocalDateText(const QDateTime& time) { return time.toString(userLocale().shortDateFormat); }

QString LocalTimeText(const QString& storedTime) {
  const std::optional<QDateTime> time = ParseArchiveTime(storedTime, false);
  if (!time) return QStringLiteral("no time");
  return LocalDateText(*time) + QStringLiteral(" ") + time->toString(QStringLiteral("HH:mm"));
}

QString LocalTimesIn(const QString& text) {
  static const QRegularExpression stored(QStringLiteral("\\b(\\d{4}-\\d{2}-\\d{2}) (\\d{2}:\\d{2})\\b"));
  QString out;
  qsizetype at = 0;
  for (QRegularExpressionMatchIterator it = stored.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    const std::optional<QDateTime> time = ParseArchiveTime(m.captured(0), false);
    out += text.mid(at, m.capturedStart() - at);
    const bool bound = m.captured(2) == QLatin1String("00:00") || m.captured(2) == QLatin1String("23:59");
    out += !time ? m.captured(0) : bound ? LocalDateText(*time) : LocalTimeText(m.captured(0));
    at = m.capturedEnd();
  }
  return out + text.mid(at);
}

ListNotice HighDoseNotice(const std::vector<ReadoutFields>& readouts, const std::vector<Person>& persons,
                          double level) {
  ListNotice n;
  n.kind = MessageKind::Warning;
  const size_t count = readouts.size();
  n.title = count == 1 ? QStringLiteral("High dose: 1 read-out")
                       : QStringLiteral("High dose: %1 read-outs").arg(count);
  n.text = QStringLiteral("New read-outs at or above the notification level of %1:").arg(DoseText(level));
  n.columns = {{QStringLiteral("Dosimeter")},
               {QStringLiteral("Person")},
               {QStringLiteral("Dose"), true},
               {QStringLiteral("Read-out time")},
               {QStringLiteral("Block"), true}};
  for (size_t i = 0; i < count; ++i) {
    const ReadoutFields& f = readouts[i];
    const Person person = i < persons.size() ? persons[i] : Person{};
    n.rows.push_back(
        {{f.dosimeter, person.id.isEmpty() ? QString() : PlainField(PersonText(person)),
          DoseText(f.measuredDose), LocalTimeText(f.readoutTime), QString::number(f.blockNumber)},
         {QVariant(), QVariant(), f.measuredDose ? QVariant(*f.measuredDose) : QVariant(-1e300),
          f.readoutTime, f.blockNumber}});
  }
  return n;
}

QString ReadoutCsvHeader() { return header(kReadoutColumns, true); }
QString ReadoutCsvRow(const ReadoutRow& row) { return readoutLine(row, true); }
QString ReadoutTextHeader() { return header(kReadoutColumns, false); }
QString ReadoutTextRow(const ReadoutRow& row) { return readoutLine(row, false); }

QString TotalsCsvHeader() { return header(kTotalsColumns, true); }
QString TotalsCsvRow(const PersonTotals& t, double annualLimit) { return totalsLine(t, annualLimit, true); }
QString TotalsTextHeader() { return header(kTotalsColumns, false); }
QString TotalsTextRow(const PersonTotals& t, double annualLimit) {
  QString line = totalsLine(t, annualLimit, false);
  if (t.yearToDate >= annualLimit) line += QStringLiteral("  annual limit reached");
  return line;
}

QString PersonCsvHeader() { return header(kPersonColumns, true); }
QString PersonCsvRow(const Person& p) { return join({CsvField(p.id), CsvField(p.name)}, true); }
QString PersonTextRow(const Person& p) { return join({PlainField(p.id), PlainField(p.name)}, false); }

QString PeriodCsvHeader() { return header(kPeriodColumns, true); }
QString PeriodCsvRow(const WearPeriod& p) { return periodLine(p, true); }
QString PeriodTextRow(const WearPeriod& p) { return periodLine(p, false); }

QString WearerListHeader() { return header(kWearerColumns, true); }

namespace {
const char* const kReviewColumns = "id,readout_time,dosimeter,person_id,person,dose_usv,why";
const char* const kLogColumns = "time_utc,who,host,role,what,entity,old,new,reason";
const char* const kSignedColumns = "period,signed_at,signed_by,sha256";

QString reviewLine(const ReadoutRow& r, bool csv) {
  return join({QString::number(r.id), isoTime(r.readoutTime, csv), field(r.dosimeter, csv), field(r.person.id, csv),
               field(r.person.name, csv), optionalNumber(r.doseUsv), field(ReviewReasonText(r.openReasons()), csv)},
              csv);
}
QString logLine(const LogEntry& e, bool csv) {
  return join({e.timeUtc, field(e.who, csv), field(e.host, csv), field(e.role, csv), field(e.what, csv),
               field(e.entity, csv), field(e.oldValue, csv), field(e.newValue, csv), field(e.reason, csv)},
              csv);
}
QString signedLine(const Signoff& s, bool csv) {
  return join({s.period, s.signedAt, field(s.signedBy, csv), s.sha256}, csv);
}
}  // namespace

QString ReviewCsvHeader() { return header(kReviewColumns, true); }
QString ReviewCsvRow(const ReadoutRow& r) { return reviewLine(r, true); }
QString ReviewTextRow(const ReadoutRow& r) { return reviewLine(r, false); }

QString ResolvedLine(qint64 id, const ResolveOutcome& o, Resolution resolution) {
  ReadoutRow after = o.before;
  after.doseUsv = o.doseOfRecord;
  after.covered = o.before.reasons;
  after.resolution = resolution;
  return QStringLiteral("Read-out %1: %2, dose of record %3")
      .arg(id)
      .arg(StatusText(after.status()), o.doseOfRecord ? ArchiveNumber(*o.doseOfRecord) + QStringLiteral(" µSv")
                                                      : QStringLiteral("none"));
}

QString LogCsvHeader() { return header(kLogColumns, true); }
QString LogCsvRow(const LogEntry& e) { return logLine(e, true); }
QString LogTextRow(const LogEntry& e) { return logLine(e, false); }

QString SignedCsvHeader() { return header(kSignedColumns, true); }
QString SignedCsvRow(const Signoff& s) { return signedLine(s, true); }
QString SignedTextRow(const Signoff& s) { return signedLine(s, false); }

namespace {
// The fields of one CSV record (RFC 4180) from `at`; false when a quote
// is left open. A quoted field may hold line breaks.
bool csvRecord(const QString& text, qsizetype* at, QStringList* fields, int* lines) {
  fields->clear();
  QString field;
  bool quoted = false, wasQuoted = false;
  qsizetype i = *at;
  for (; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == QLatin1Char('"')) {
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
          field += c;
          ++i;
        } else {
          quoted = false;
        }
      } else {
        if (c == QLatin1Char('\n')) ++*lines;
        field += c;
      }
    } else if (c == QLatin1Char('"') && field.isEmpty() && !wasQuoted) {
      quoted = wasQuoted = true;
    } else if (c == QLatin1Char(',')) {
      *fields << field;
      field.clear();
      wasQuoted = false;
    } else if (c == QLatin1Char('\n')) {
      break;
    } else if (c != QLatin1Char('\r')) {
      field += c;
    }
  }
  if (quoted) return false;
  *fields << field;
  *at = i + 1;
  ++*lines;
  return true;
}
}  // namespace

bool ParseWearerList(const QByteArray& bytes, std::vector<WearerListRow>* rows, QString* error) {
  rows->clear();
  int line = 1, lines = 0;
  const auto refuse = [&](const QString& why) {
    *error = QStringLiteral("line %1: %2").arg(line).arg(why);
    rows->clear();
    return false;
  };
  // A list a spreadsheet saved in its own code page would put replacement
  // characters into the names for good ("M\uFFFDller"): it is refused at its
  // first line that is not UTF-8.
  const QList<QByteArray> physical = bytes.split('\n');
  for (qsizetype i = 0; i < physical.size(); ++i) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(physical[i]);
    if (utf8.hasError()) {
      line = static_cast<int>(i) + 1;
      return refuse(QStringLiteral("not UTF-8 text; save the list as CSV in UTF-8"));
    }
  }
  QString text = QString::fromUtf8(bytes);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);  // a spreadsheet's byte order mark
  qsizetype at = 0;
  QStringList fields;
  if (!csvRecord(text, &at, &fields, &lines)) return refuse(QStringLiteral("a quote is not closed"));
  if (fields.join(QLatin1Char(',')).trimmed() != WearerListHeader())
    return refuse(QStringLiteral("the first line must read %1").arg(WearerListHeader()));
  while (at < text.size()) {
    line = lines + 1;
    if (!csvRecord(text, &at, &fields, &lines)) return refuse(QStringLiteral("a quote is not closed"));
    if (fields.size() == 1 && fields.front().trimmed().isEmpty()) continue;
    if (fields.size() != 5)
      return refuse(QStringLiteral("%1 fields, not the 5 of %2").arg(fields.size()).arg(WearerListHeader()));
    WearerListRow row;
    row.line = line;
    row.person = {fields[0].trimmed(), fields[1].simplified()};
    row.period.dosimeter = NormalDosimeter(fields[2]);
    row.period.person = row.person;
    const std::optional<QDateTime> from = ParseArchiveTime(fields[3], false);
    if (!from) return refuse(QStringLiteral("from takes %1, not \"%2\"").arg(ArchiveTimeHint(), fields[3]));
    row.period.from = *from;
    if (!fields[4].trimmed().isEmpty()) {
      row.period.to = ParseArchiveTime(fields[4], true);
      if (!row.period.to) return refuse(QStringLiteral("to takes %1 or nothing, not \"%2\"").arg(ArchiveTimeHint(), fields[4]));
    }
    for (const QString& e : {PersonIdError(row.person.id), PersonNameError(fields[1]), WearPeriodError(row.period)})
      if (!e.isEmpty()) return refuse(e);
    rows->push_back(row);
  }
  error->clear();
  return true;
}

}  // namespace quelm
