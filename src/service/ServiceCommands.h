#pragma once
// The reader's service commands: high voltage, heating current, control
// bits, ADC, real-time clock, automatic setting and the error log, with the
// conversions between what the technician enters or reads and what goes
// over the line. Each command is one reader exchange; failures come back as
// codes, traced as a bare "ERR_SENDCOMCMD". The service window and the
// command line both use these.

#include <QString>
#include <QStringList>
#include <cstdint>

namespace quelm {

// The selector of the shared ".B" / ".C" command.
enum SetValueCommand : int { kSetHighVoltage = 0, kSetHeatingCurrent = 1 };

// Volts as entered (clamped to 150..1150) to the value sent: 0 for 150 V.
uint16_t HighVoltageValue(int32_t volts);
// Milliamperes as entered (clamped to 0..4000) to the value sent, 4 mA
// per step.
uint16_t HeatingCurrentValue(int32_t milliamperes);

// The sensitivity choices in the order the window lists them.
enum Sensitivity : int { kSensitivityLow = 0, kSensitivityMedium = 1, kSensitivityHigh = 2 };
inline constexpr const char* kSensitivityNames[] = {"Low", "Medium", "High"};

struct ControlBits {
  bool heating = false;
  bool calibrationLight = false;
  bool highVoltage = false;
  bool bulbSenseLed = false;
  int sensitivity = kSensitivityHigh;  // a Sensitivity, or -1 for none chosen
};
uint8_t ControlByte(const ControlBits& bits);

// ".B"/".C" with the value (12 bits); -1 for another selector.
int SendSetValue(int which, uint16_t value);
int SendControlBits(uint8_t controlByte);
// enable: ".D" 0, else ".D" 1.
int SendAutomaticSetting(bool enable);

struct AdcReading {
  uint16_t input = 0;  // raw words as the reader sent them
  uint16_t battery = 0;
};
int ReadAdc(AdcReading* reading);
// "%d" millivolts of the input, and the battery in volts "%4.2f".
QString FormatAdcInput(uint16_t raw);
QString FormatBatteryVolts(uint16_t raw);

inline constexpr int kClockBytes = 5;
int ReadClock(uint8_t clock[kClockBytes]);
// "YY.MM.DD hh:mm", the year counted from 2000 as the reader's byte gives it.
QString FormatClock(const uint8_t clock[kClockBytes]);

inline constexpr int kErrorLogEntries = 16;
inline constexpr int kErrorLogEntryBytes = 6;
inline constexpr int kErrorLogBytes = kErrorLogEntries * kErrorLogEntryBytes;
int ReadErrorLog(uint8_t log[kErrorLogBytes]);
int DeleteErrorLog();
// The list as the technician sees it: one line per known entry, "No Error"
// when there is none.
QStringList FormatErrorLog(const uint8_t log[kErrorLogBytes]);

}  // namespace quelm
