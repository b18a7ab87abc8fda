#include "base/UserLocale.h"

#include <QLocale>
#include <QRegularExpression>

namespace quelm {
namespace {
UserLocale& current() {
  static UserLocale l;
  return l;
}
}  // namespace

const UserLocale& userLocale() { return current(); }

void setUserLocale(const UserLocale& locale) { current() = locale; }

UserLocale systemUserLocale() {
  const QLocale sys = QLocale::system();
  UserLocale l;
  const QString dp = sys.decimalPoint();
  if (dp.size() == 1) l.decimalSeparator = dp.at(0);
  l.shortDateFormat = sys.dateFormat(QLocale::ShortFormat);
  l.longTimeFormat = sys.timeFormat(QLocale::LongFormat);
  return l;
}

QString withUserDecimal(QString number) {
  const QChar sep = userLocale().decimalSeparator;
  if (sep != QLatin1Char('.')) number.replace(QLatin1Char('.'), sep);
  return number;
}

std::optional<double> parseUserFloat(const QString& text) {
  const QChar sep = userLocale().decimalSeparator;
  QString t = text.trimmed();
  // A '.' is only a decimal point where it is the user's separator.
  if (sep != QLatin1Char('.')) {
    if (t.contains(QLatin1Char('.'))) return std::nullopt;
    t.replace(sep, QLatin1Char('.'));
  }
  static const QRegularExpression number(
      QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
  if (!number.match(t).hasMatch()) return std::nullopt;
  bool ok = false;
  const double v = QLocale::c().toDouble(t, &ok);
  if (!ok) return std::nullopt;
  return v;
}

}  // namespace quelm
