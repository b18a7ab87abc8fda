#include "service/ServiceCommands.h"

#include <algorithm>

#include "base/ErrorCodes.h"
#include "base/UserLocale.h"
#include "link/ReaderCommand.h"
#include "link/ReaderLimits.h"

namespace quelm {

namespace {

constexpr uint16_t kAdcMask = 0x0FFF;

// The service actions trace no prefix of their own: a failure is the bare
// token, as the page search traces it.
int run(uint8_t* payload, uint16_t length) {
  ReaderCommand cmd(nullptr);
  return cmd.run(payload, length);
}

// A reply is used only when it holds all the data the command reads.
ReplyRule atLeast(int dataBytes) {
  ReplyRule rule;
  rule.minData = dataBytes;
  return rule;
}

struct ErrorLogName {
  uint8_t code;
  const char* name;  // 12 characters, as the list aligns them
};
constexpr ErrorLogName kErrorLogNames[] = {
    {1, "Write Flash "},
    {2, "Key Overheat"},
    {3, "Clock read  "},
};
// An entry of this code has no valid date: the clock could not be read.
constexpr uint8_t kClockReadCode = 3;

}  // namespace

uint16_t HighVoltageValue(int32_t volts) {
  const int32_t clamped = std::clamp(volts, kMinHighVolts, kMaxHighVolts);
  return static_cast<uint16_t>((clamped - kMinHighVolts) & 0x3FF);
}

uint16_t HeatingCurrentValue(int32_t milliamperes) {
  // Clamped at both ends, as the high voltage is: a negative entry taken
  // as unsigned would heat with the highest current.
  const int32_t ma = std::clamp<int32_t>(milliamperes, 0, kMaxHeatingMilliamperes);
  return static_cast<uint16_t>(ma / kHeatingStepMilliamperes);
}

uint8_t ControlByte(const ControlBits& bits) {
  uint8_t b = 0;
  if (bits.calibrationLight) b |= 0x80;
  // The LED bit switches the bulb sense LED off.
  if (!bits.bulbSenseLed) b |= 0x10;
  if (bits.heating) b |= 0x08;
  if (bits.highVoltage) b |= 0x04;
  if (bits.sensitivity == kSensitivityLow) b |= 0x03;
  if (bits.sensitivity == kSensitivityMedium) b |= 0x01;
  return b;
}

int SendSetValue(int which, uint16_t value) {
  if (which != kSetHighVoltage && which != kSetHeatingCurrent) return kErrDataInvalid;
  uint8_t payload[] = {'.', static_cast<uint8_t>(which == kSetHighVoltage ? 'B' : 'C'),
                       static_cast<uint8_t>((value >> 8) & 0x0F), static_cast<uint8_t>(value & 0xFF), '#'};
  return run(payload, sizeof payload);
}

int SendControlBits(uint8_t controlByte) {
  uint8_t payload[] = {'.', 'S', controlByte, '#'};
  return run(payload, sizeof payload);
}

int SendAutomaticSetting(bool enable) {
  uint8_t payload[] = {'.', 'D', static_cast<uint8_t>(enable ? 0x00 : 0x01), '#'};
  return run(payload, sizeof payload);
}

int ReadAdc(AdcReading* reading) {
  uint8_t payload[] = {'.', 'A', '#'};
  ReaderCommand cmd(nullptr);
  if (const int rc = cmd.run(payload, sizeof payload, atLeast(4))) return rc;
  reading->input = cmd.reply().u16(0);
  reading->battery = cmd.reply().u16(2);
  return 0;
}

QString FormatAdcInput(uint16_t raw) { return QString::number(raw & kAdcMask); }

QString FormatBatteryVolts(uint16_t raw) {
  // Whole millivolts first (the remainder dropped), then volts in single
  // precision: 0x0FFF reads 22.71.
  const uint32_t millivolts = static_cast<uint32_t>(raw & kAdcMask) * 122u / 22u;
  const float volts = static_cast<float>(millivolts) * 0.001f;
  return withUserDecimal(QString::asprintf("%4.2f", static_cast<double>(volts)));
}

int ReadClock(uint8_t clock[kClockBytes]) {
  uint8_t payload[] = {'.', 'T', '#'};
  ReaderCommand cmd(nullptr);
  if (const int rc = cmd.run(payload, sizeof payload, atLeast(kClockBytes))) return rc;
  cmd.reply().copy(0, clock, kClockBytes);
  return 0;
}

QString FormatClock(const uint8_t clock[kClockBytes]) {
  return QString::asprintf("%02d.%02d.%02d %02d:%02d", static_cast<uint8_t>(clock[0] - 100), clock[1],
                           clock[2], clock[3], clock[4]);
}

int ReadErrorLog(uint8_t log[kErrorLogBytes]) {
  uint8_t payload[] = {'.', 'a', 0x00, '#'};
  ReaderCommand cmd(nullptr);
  if (const int rc = cmd.run(payload, sizeof payload, atLeast(kErrorLogBytes))) return rc;
  cmd.reply().copy(0, log, kErrorLogBytes);
  return 0;
}

int DeleteErrorLog() {
  uint8_t payload[] = {'.', 'b', '#'};
  return run(payload, sizeof payload);
}

QStringList FormatErrorLog(const uint8_t log[kErrorLogBytes]) {
  QStringList lines;
  for (int i = 0; i < kErrorLogEntries; ++i) {
    const uint8_t* e = log + i * kErrorLogEntryBytes;
    const auto known = std::find_if(std::begin(kErrorLogNames), std::end(kErrorLogNames),
                                    [code = e[5]](const ErrorLogName& n) { return n.code == code; });
    if (known == std::end(kErrorLogNames)) continue;  // an empty slot
    const QString name = QString::fromLatin1(known->name);
    if (known->code == kClockReadCode)
      lines << QStringLiteral("????.??.?? ??:??  ") + name;
    else
      lines << QString::asprintf("%04d.%02d.%02d %02d:%02d  ", e[0] + 1900, e[1], e[2], e[3], e[4]) + name;
  }
  if (lines.isEmpty()) lines << QStringLiteral("No Error");
  return lines;
}

}  // namespace quelm
