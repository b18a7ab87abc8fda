#pragma once
// The user's regional settings the program formats with. Read from the
// system once at start-up; tests set them explicitly so that no result
// depends on the machine.

#include <QChar>
#include <QString>
#include <optional>

namespace quelm {

struct UserLocale {
  QChar decimalSeparator = QLatin1Char('.');
  QString shortDateFormat = QStringLiteral("dd.MM.yyyy");  // Qt date pattern
  QString longTimeFormat = QStringLiteral("HH:mm:ss");     // Qt time pattern
};

const UserLocale& userLocale();
void setUserLocale(const UserLocale& locale);
// The settings of the system locale (QLocale::system()).
UserLocale systemUserLocale();

// Replaces the '.' of a C-formatted number by the user's decimal separator.
QString withUserDecimal(QString number);
// Parses a real number typed by the user: optional blanks and sign, digits
// with the user's decimal separator, optional exponent. Nothing on failure.
std::optional<double> parseUserFloat(const QString& text);

}  // namespace quelm
