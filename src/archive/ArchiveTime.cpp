#include "archive/ArchiveTime.h"

#include <QCalendar>
#include <QRegularExpression>

#include "base/UserLocale.h"

namespace quelm {

std::optional<QDateTime> ParseArchiveTime(const QString& text, bool upperBound) {
  static const QRegularExpression re(
      QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})(?:[ T]([0-9]{2}):([0-9]{2}))?$"));
  const QRegularExpressionMatch m = re.match(text.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  const bool hasTime = !m.captured(4).isEmpty();
  const QTime time = hasTime ? QTime(m.captured(4).toInt(), m.captured(5).toInt())
                             : (upperBound ? QTime(23, 59) : QTime(0, 0));
  if (!date.isValid() || !time.isValid()) return std::nullopt;
  return QDateTime(date, time, Qt::UTC);
}

QString ArchiveTimeHint() { return QStringLiteral("YYYY-MM-DD or \"YYYY-MM-DD HH:MM\""); }

std::optional<QDate> ParseUserDate(const QString& text) {
  const QString t = text.trimmed();
  const QString format = userLocale().shortDateFormat;
  QDate date = QDate::fromString(t, format);
  // A two-digit year is this century's: the toolkit reads "26" as 1926,
  // and a span from then would take a century of read-outs.
  if (format.contains(QLatin1String("yy")) && !format.contains(QLatin1String("yyy"))) {
    if (date.isValid()) {
      date = date.addYears(100);
    } else {
      // "00" is read as 1900, which had no 29 February, where 2000 had one.
      // The Julian 1900 had one, and a Julian 19yy has a leap day exactly
      // when 20yy has one: a day the text names there is the day of 20yy.
      const QCalendar julian(QCalendar::System::Julian);
      const QDate read = QDate::fromString(t, format, julian);
      if (read.isValid()) date = QDate(read.year(julian) + 100, read.month(julian), read.day(julian));
    }
  }
  if (!date.isValid()) date = QDate::fromString(t, Qt::ISODate);
  return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
}

std::optional<QDateTime> ParseUserBound(const QString& text, bool upperBound) {
  const std::optional<QDate> date = ParseUserDate(text);
  if (!date) return std::nullopt;
  return QDateTime(*date, upperBound ? QTime(23, 59) : QTime(0, 0), Qt::UTC);
}

bool ParseOptionalUserBound(const QString& text, bool upperBound, std::optional<QDateTime>* out) {
  const QString t = text.trimmed();
  if (t.isEmpty()) {
    out->reset();
    return true;
  }
  *out = ParseUserBound(t, upperBound);
  return out->has_value();
}

QString ArchiveTimeText(const QDateTime& time) { return time.toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

QDateTime ArchiveNow() {
  const QDateTime local = QDateTime::currentDateTime();
  return QDateTime(local.date(), QTime(local.time().hour(), local.time().minute()), Qt::UTC);
}

QDateTime QuarterStart(const QDateTime& time) {
  const QDate d = time.date();
  return QDateTime(QDate(d.year(), (d.month() - 1) / 3 * 3 + 1, 1), QTime(0, 0), Qt::UTC);
}

QDateTime YearStart(const QDateTime& time) {
  return QDateTime(QDate(time.date().year(), 1, 1), QTime(0, 0), Qt::UTC);
}

namespace {
ReportPeriod periodOf(int year, int quarter) {
  ReportPeriod p;
  const int firstMonth = quarter ? (quarter - 1) * 3 + 1 : 1;
  const int months = quarter ? 3 : 12;
  p.from = QDateTime(QDate(year, firstMonth, 1), QTime(0, 0), Qt::UTC);
  p.to = p.from.addMonths(months).addSecs(-60);
  p.label = quarter ? QStringLiteral("%1Q%2").arg(year).arg(quarter) : QString::number(year);
  return p;
}
}  // namespace

std::optional<ReportPeriod> ParseReportPeriod(const QString& text) {
  static const QRegularExpression re(QStringLiteral("^([0-9]{4})(?:[Qq]([1-4]))?$"));
  const QRegularExpressionMatch m = re.match(text.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  // Year 0 is no year of the calendar ("0000" has no first day).
  const int year = m.captured(1).toInt();
  if (!QDate(year, 1, 1).isValid()) return std::nullopt;
  return periodOf(year, m.captured(2).isEmpty() ? 0 : m.captured(2).toInt());
}

ReportPeriod QuarterOf(const QDateTime& time) {
  return periodOf(time.date().year(), (time.date().month() - 1) / 3 + 1);
}

ReportPeriod YearOf(const QDateTime& time) { return periodOf(time.date().year(), 0); }

double AnnualLimitShare(double yearToDate, double annualLimit) {
  return annualLimit > 0 ? yearToDate * 100.0 / annualLimit : 0.0;
}

}  // namespace quelm
