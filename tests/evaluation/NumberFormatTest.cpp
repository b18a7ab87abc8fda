#include <gtest/gtest.h>

#include "QStringPrinter.h"

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "evaluation/BlockFormat.h"
#include "evaluation/NumberFormat.h"
#include "base/UserLocale.h"

using namespace quelm;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Switches the user's decimal separator for one test.
class CommaSeparator {
 public:
  CommaSeparator() {
    UserLocale l = saved_;
    l.decimalSeparator = QLatin1Char(',');
    setUserLocale(l);
  }
  ~CommaSeparator() { setUserLocale(saved_); }

 private:
  UserLocale saved_ = userLocale();
};

TEST(NumberFormat, PictureRoundsTheDecimalFormHalfAwayFromZero) {
  EXPECT_EQ(formatFloat(0.004, 2), "0.00");
  EXPECT_EQ(formatFloat(0.005, 2), "0.01");
  EXPECT_EQ(formatFloat(2.675, 2), "2.68");  // binary 2.67499999... still reads as 2.675
  EXPECT_EQ(formatFloat(9.996, 2), "10.00");
  EXPECT_EQ(formatFloat(999.996, 2), "1000.00");
  EXPECT_EQ(formatFloat(1234.5, 2), "1234.50");
  EXPECT_EQ(formatFloat(2500000, 2), "2500000.00");
  EXPECT_EQ(formatFloat(0, 2), "0.00");
  EXPECT_EQ(formatFloat(22.5, 1), "22.5");
  EXPECT_EQ(formatFloat(-5, 2), "-5.00");
  EXPECT_EQ(formatFloat(-1.005, 2), "-1.01");
  EXPECT_EQ(formatFloat(-0.001, 2), "0.00");  // no "-0.00"
  EXPECT_EQ(formatFloat(103.03010000000002, 2), "103.03");
  EXPECT_EQ(formatFloat(0.0004, 2), "0.00");
}

TEST(NumberFormat, PictureOfNonFiniteAndHugeValues) {
  EXPECT_EQ(formatFloat(kNaN, 2), "NAN");
  EXPECT_EQ(formatFloat(kInf, 2), "INF");
  EXPECT_EQ(formatFloat(-kInf, 2), "-INF");
  EXPECT_EQ(formatFloat(1e20, 2), "1E20");
}

TEST(NumberFormat, GeneralWithFourDigitsSwitchesToScientific) {
  EXPECT_EQ(formatGeneral(620, 4), "620");
  EXPECT_EQ(formatGeneral(0.004, 4), "0.004");
  EXPECT_EQ(formatGeneral(9.996, 4), "9.996");
  EXPECT_EQ(formatGeneral(9.9996, 4), "10");
  EXPECT_EQ(formatGeneral(999.996, 4), "1000");
  EXPECT_EQ(formatGeneral(1234.5, 4), "1235");
  EXPECT_EQ(formatGeneral(9999.4, 4), "9999");
  EXPECT_EQ(formatGeneral(9999.5, 4), "1E04");  // rounds to five integer digits
  EXPECT_EQ(formatGeneral(12345, 4), "1.235E04");
  EXPECT_EQ(formatGeneral(2500000, 4), "2.5E06");
  EXPECT_EQ(formatGeneral(0.00001, 4), "0.00001");
  EXPECT_EQ(formatGeneral(0.0000099, 4), "9.9E-06");
  EXPECT_EQ(formatGeneral(0.000001, 4), "1E-06");
  EXPECT_EQ(formatGeneral(1.5e-120, 4), "1.5E-120");
  EXPECT_EQ(formatGeneral(-5, 4), "-5");
  EXPECT_EQ(formatGeneral(-1234.56, 4), "-1235");
  EXPECT_EQ(formatGeneral(0, 4), "0");
  EXPECT_EQ(formatGeneral(kNaN, 4), "NAN");
  EXPECT_EQ(formatGeneral(0.1 + 0.2, 4), "0.3");
}

TEST(NumberFormat, FixedWithThreeDigitsAndTwoDecimals) {
  EXPECT_EQ(formatFixed(55.5555, 3, 2), "55.60");  // three significant digits, then two decimals
  EXPECT_EQ(formatFixed(100, 3, 2), "100.00");
  EXPECT_EQ(formatFixed(99.96, 3, 2), "100.00");
  EXPECT_EQ(formatFixed(0.12345, 3, 2), "0.12");
  EXPECT_EQ(formatFixed(0.125, 3, 2), "0.13");
  EXPECT_EQ(formatFixed(5.555, 3, 2), "5.56");
  EXPECT_EQ(formatFixed(0.004, 3, 2), "0.00");
  EXPECT_EQ(formatFixed(0, 3, 2), "0.00");
  EXPECT_EQ(formatFixed(999.6, 3, 2), "1E03");
  EXPECT_EQ(formatFixed(1234.5, 3, 2), "1.23E03");
  EXPECT_EQ(formatFixed(-9.996, 3, 2), "-10.00");
  EXPECT_EQ(formatFixed(kNaN, 3, 2), "NAN");
}

TEST(NumberFormat, ThreeOrFourCharacters) {
  EXPECT_EQ(formatThreeOrFour(1.234f), "1.23");
  EXPECT_EQ(formatThreeOrFour(12.345f), "12.3");
  EXPECT_EQ(formatThreeOrFour(12.96f), "12.9");  // cut, not rounded again
  EXPECT_EQ(formatThreeOrFour(123.45f), "123");
  EXPECT_EQ(formatThreeOrFour(9.996f), "10.0");
  EXPECT_EQ(formatThreeOrFour(999.996f), "1000");
  EXPECT_EQ(formatThreeOrFour(9999.4f), "9999");
  EXPECT_EQ(formatThreeOrFour(12345.6f), "12345");  // the integer part is never cut
}

TEST(NumberFormat, PrintfFormatsAndHours) {
  EXPECT_EQ(formatPrintf("%#3.2f", 0.5), "0.50");
  EXPECT_EQ(formatHours(36 * 0.1), "3.6 h");
  EXPECT_EQ(formatHours(10), "10.0 h");
  EXPECT_EQ(formatHours(6553.4), "6553.4 h");
}

TEST(NumberFormat, EveryFormatUsesTheUsersDecimalSeparator) {
  CommaSeparator comma;
  EXPECT_EQ(formatFloat(2.5, 2), "2,50");
  EXPECT_EQ(formatGeneral(1234.5, 4), "1235");
  EXPECT_EQ(formatGeneral(1.5, 4), "1,5");
  EXPECT_EQ(formatGeneral(12345, 4), "1,235E04");
  EXPECT_EQ(formatFixed(55.5555, 3, 2), "55,60");
  EXPECT_EQ(formatThreeOrFour(1.234f), "1,23");
  EXPECT_EQ(formatHours(3.6), "3,6 h");
  EXPECT_EQ(FormatDose(0.5f), "0,50 µSv");
  EXPECT_EQ(FormatDose(1234.5f), "1,23 mSv");
}

// The toolkit sets the C library's locale from the user's at start-up; a
// comma there must not reach the digits (nor skip the cut to three or four
// characters, which looks for the point).
TEST(NumberFormat, TheCLibrarysLocaleDoesNotReachTheDigits) {
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  const char* comma = nullptr;
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8", "fr_FR.utf8", "de_DE", "fr_FR"})
    if (std::setlocale(LC_NUMERIC, name)) {
      comma = name;
      break;
    }
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma is installed";
  struct Expected {
    QChar separator;
    const char *twelve, *hundred, *hours, *printf;
  };
  for (const Expected& e : {Expected{QLatin1Char('.'), "12.3", "123", "3.6 h", "0.50"},
                            Expected{QLatin1Char(','), "12,3", "123", "3,6 h", "0,50"}}) {
    UserLocale saved = userLocale(), l = saved;
    l.decimalSeparator = e.separator;
    setUserLocale(l);
    EXPECT_EQ(formatThreeOrFour(12.345f), e.twelve) << comma;
    EXPECT_EQ(formatThreeOrFour(123.45f), e.hundred);
    EXPECT_EQ(FormatDose(999.996f), "1000 µSv");
    EXPECT_EQ(formatHours(3.6), e.hours);
    EXPECT_EQ(formatPrintf("%#3.2f", 0.5), e.printf);
    EXPECT_EQ(formatFloat(2.675, 2), QString(e.separator == QLatin1Char('.') ? "2.68" : "2,68"));
    setUserLocale(saved);
  }
  std::setlocale(LC_NUMERIC, before.c_str());
}

TEST(FormatDose, SwitchesUnitsAtTheirLimits) {
  EXPECT_EQ(FormatDose(0.5f), "0.50 µSv");
  EXPECT_EQ(FormatDose(0.004f), "0.00 µSv");
  EXPECT_EQ(FormatDose(0.999f), "1.00 µSv");
  EXPECT_EQ(FormatDose(1.234f), "1.23 µSv");
  EXPECT_EQ(FormatDose(9.996f), "10.0 µSv");
  EXPECT_EQ(FormatDose(12.345f), "12.3 µSv");
  EXPECT_EQ(FormatDose(123.45f), "123 µSv");
  EXPECT_EQ(FormatDose(620.0f), "620 µSv");
  EXPECT_EQ(FormatDose(999.996f), "1000 µSv");
  EXPECT_EQ(FormatDose(1000.0f), "1.00 mSv");
  EXPECT_EQ(FormatDose(1234.5f), "1.23 mSv");
  EXPECT_EQ(FormatDose(999999.9f), "1000 mSv");
  EXPECT_EQ(FormatDose(1000000.0f), "1.00 Sv");
  EXPECT_EQ(FormatDose(2500000.0f), "2.50 Sv");
  EXPECT_EQ(FormatDose(1.5e10f), "15000 Sv");
}

TEST(FormatDose, NegativeAndNotANumberShowZero) {
  EXPECT_EQ(FormatDose(-5.0f), "0.00 µSv");
  EXPECT_EQ(FormatDose(-0.0f), "0.00 µSv");
  EXPECT_EQ(FormatDose(std::numeric_limits<float>::quiet_NaN()), "0.00 µSv");
  EXPECT_EQ(FormatDose(-std::numeric_limits<float>::infinity()), "0.00 µSv");
  QString out;
  FormatDose(12.345f, out);
  EXPECT_EQ(out, "12.3 µSv");
}

}  // namespace
