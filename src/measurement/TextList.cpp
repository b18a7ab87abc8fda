#include "measurement/TextList.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <cstring>

#include "base/DataFiles.h"
#include "base/UserLocale.h"
#include "measurement/ErrorFlags.h"

namespace quelm {
namespace {

std::function<QDateTime()>& clockHook() {
  static std::function<QDateTime()> clock;
  return clock;
}

// Text of the reader's world is single-byte; what a name holds beyond
// Latin-1 cannot be written as one byte and becomes "?".
QByteArray singleBytes(const QString& s) { return s.toLatin1(); }

QByteArray printf1(const char* format, auto... args) {
  char buf[128];
  const int n = std::snprintf(buf, sizeof buf, format, args...);
  return QByteArray(buf, n < 0 ? 0 : std::min<int>(n, sizeof buf - 1));
}

// The row buffer: blanks to start with, each field written at its position
// with a terminating zero, as a formatted print into the buffer would do.
// A later field may overwrite the end of an earlier one.
class RowBuffer {
 public:
  RowBuffer() { std::memset(buf_, ' ', sizeof buf_); }
  void put(int at, const QByteArray& field, bool terminate = true) {
    const int n = std::min<int>(field.size(), kSize - 1 - at);
    std::memcpy(buf_ + at, field.constData(), static_cast<size_t>(n));
    if (terminate) buf_[at + n] = 0;
  }
  // The last zero ends the line; every zero before it reads as a blank.
  QByteArray line() const {
    int end = kSize - 1;
    while (end > 0 && buf_[end] != 0) --end;
    QByteArray s(buf_, end);
    s.replace('\0', ' ');
    return s;
  }

 private:
  static constexpr int kSize = 200;
  char buf_[kSize];
};

}  // namespace

QByteArray formatFloatE(double value) {
  if (std::isnan(value)) return QByteArrayLiteral("NAN");
  if (std::isinf(value)) return value < 0 ? QByteArrayLiteral("-INF") : QByteArrayLiteral("INF");
  const char separator = userLocale().decimalSeparator.toLatin1();
  if (value == 0) return QByteArray("0") + separator + QByteArray("00E+0");

  // The 15 significant digits of the value, then rounded to three.
  char digits[40];
  std::snprintf(digits, sizeof digits, "%.14e", std::fabs(value));
  int exponent = std::atoi(std::strchr(digits, 'e') + 1);
  int d[3] = {digits[0] - '0', digits[2] - '0', digits[3] - '0'};
  if (digits[4] >= '5') {
    for (int i = 2; i >= 0; --i) {
      if (++d[i] < 10) break;
      d[i] = 0;
      if (i == 0) {  // 9.995 -> 10.0: one more power of ten
        d[0] = 1;
        ++exponent;
      }
    }
  }
  QByteArray s;
  if (value < 0) s += '-';
  s += char('0' + d[0]);
  s += separator;
  s += char('0' + d[1]);
  s += char('0' + d[2]);
  s += exponent < 0 ? "E-" : "E+";
  s += QByteArray::number(std::abs(exponent));
  return s;
}

QByteArray columnHeaderText() {
  const QByteArray rule(82, '-');
  return rule + '\n' + "BlockNo|   DateTime    |Dosimeter|  Dose  |Exposure|~Dose rate|Device|Temp|Errors\n" +
         "       |               |         | (uSv)  | (h)    |  (uSv/h) |  ID  |(\xB0"
         "C)|\n" +
         rule + '\n';
}

QByteArray titleBlockText(const QString& fileName, const QByteArray& title, bool columnHeader,
                          const QDateTime& now) {
  const UserLocale& locale = userLocale();
  QByteArray s = QByteArray(81, '-') + '\n';
  s += title + "\n\n";
  s += "File name: " + singleBytes(fileName) + '\n';
  s += "Date/time of printing: " + singleBytes(now.date().toString(locale.shortDateFormat)) + "  " +
       singleBytes(now.time().toString(locale.longTimeFormat)) + '\n';
  if (columnHeader) s += columnHeaderText();
  return s;
}

QByteArray listRowText(const BlockRecord& r) {
  RowBuffer row;
  row.put(0, printf1("%5u  ", unsigned{r.BlockNumber}));
  if (r.ErrorCodes & kClockFault)
    row.put(7, "-Not-available--  ");
  else
    row.put(7, printf1("%04i.%02i.%02i %02i:%02i  ", r.DateTime[0] + 1900, int{r.DateTime[1]},
                       int{r.DateTime[2]}, int{r.DateTime[3]}, int{r.DateTime[4]}));
  // Zero bytes of an identifier land in the row and read as blanks.
  row.put(23, QByteArray(" ") + QByteArray(r.BulbID, 5) + ' ');

  const float dose = r.MeasuredDose;
  row.put(34, formatFloatE(dose > 0 ? dose : 0.0));  // negative and not-a-number read 0

  const uint16_t exposure = r.Exposure;
  const bool hasExposure = exposure != 0 && exposure != 0xFFFF;
  if (hasExposure)
    row.put(42, printf1("%6.1f    ", exposure * 0.1));
  else
    row.put(42, exposure == 0 ? QByteArray("   <0.1    ") : QByteArray(11, ' '));
  // A dose rate over less than an hour says nothing.
  if (hasExposure && exposure >= 10)
    row.put(51, " " + formatFloatE(float{r.DoseRate}) + "       ");
  else
    row.put(51, QByteArray(15, ' '));

  row.put(63, QByteArray(r.DeviceID, 5), false);
  row.put(70, printf1("%2.1f ", r.ReaderTemp * 0.5));
  row.put(75, FormatErrorCodes(r.ErrorCodes).toLatin1());
  return row.line() + '\n';
}

QByteArray blockNumberLineText(const BlockRecord& r) {
  return printf1("\n\nBL No=%6u  \n", unsigned{r.BlockNumber});
}

namespace {

// Whole degrees, cut towards zero.
int wholeDegrees(const BlockRecord& r, int channel) { return r.ChannelTemps[channel] / 10; }

}  // namespace

QByteArray valueLinesList(const BlockRecord& r, const uint32_t values[kRawValueCount],
                          const uint32_t ranges[kRawValueCount]) {
  QByteArray s("\n");
  for (int i = 0; i < kAuxValueCount; ++i)
    s += printf1("(%d)  %c:%10d\n", static_cast<int>(ranges[i]), 'A' + i, static_cast<int>(values[i]));
  for (int c = 0; c < kChannelCount; ++c) {
    const int i = kAuxValueCount + c;
    s += printf1("(%d)%3d:%10d%6d \n", static_cast<int>(ranges[i]), c, static_cast<int>(values[i]),
                 wholeDegrees(r, c));
  }
  return s;
}

QByteArray valueLinesCsv(const BlockRecord& r, const uint32_t values[kRawValueCount]) {
  QByteArray s("\n");
  for (int i = 0; i < kAuxValueCount; ++i)
    s += printf1("  %c , %10d , \n", 'A' + i, static_cast<int>(values[i]));
  for (int c = 0; c < kChannelCount; ++c)
    s += printf1("%3d , %10d , %6d \n", c, static_cast<int>(values[kAuxValueCount + c]), wholeDegrees(r, c));
  return s;
}

QByteArray crlfText(QByteArray text) { return text.replace("\n", "\r\n"); }

bool writeText(std::FILE* file, const QByteArray& text) {
  const QByteArray out = crlfText(text);
  return std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), file) ==
         static_cast<size_t>(out.size());
}

QDateTime textFileNow() { return clockHook() ? clockHook()() : QDateTime::currentDateTime(); }

void setTextFileClock(std::function<QDateTime()> clock) { clockHook() = std::move(clock); }

int WriteContentList(const QString& name, const std::vector<BlockRecord>& blocks) {
  QByteArray text = titleBlockText(name, kListTitle, true, textFileNow());
  for (const BlockRecord& block : blocks) text += listRowText(block);
  return writeDataFile(name, crlfText(text), WriteMode::Replace);
}

}  // namespace quelm
