#include "measurement/ErrorFlags.h"

namespace {

struct ErrorFlag {
  uint8_t mask;   // bits to test
  uint8_t value;  // value they must hold
  const char* shortCode;
  const char* longText;
};

// Bits 0..5 are single flags; bits 7..6 hold one two-bit code.
constexpr ErrorFlag kErrorFlags[] = {
    {kFlagSensitivity, kFlagSensitivity, "EBSE ", "Sensitivity "},
    {kFlagBackground, kFlagBackground, "EBBG ", "Background "},
    {kFlagHeating, kFlagHeating, "EBHE ", "Heating; "},
    {kFlagOverflow, kFlagOverflow, "EBOV ", "Overflow; "},
    {kClockFault, kClockFault, "EBCK ", "Clock; "},
    {kFlagAbort, kFlagAbort, "EBST ", "Measurement Abort; "},
    {kFlagDosimeterCode, 0x40, "DTMP ", "Dosimeter Temperature Sensor; "},
    {kFlagDosimeterCode, 0x80, "DINV ", "Dosimeter Invalid; "},
    {kFlagDosimeterCode, 0xC0, "DBCH ", "Bad Dosimeter Chip; "},
};

}  // namespace

QString FormatErrorCodes(uint8_t flags) {
  if (flags == 0) return QStringLiteral("OK ");
  QString s;
  for (const ErrorFlag& f : kErrorFlags)
    if ((flags & f.mask) == f.value) s += QLatin1String(f.shortCode);
  return s;
}

void FormatErrorCodes(uint8_t flags, QString& text) { text = FormatErrorCodes(flags); }

QString ErrorCodesHint(uint8_t flags) {
  QString s;
  for (const ErrorFlag& f : kErrorFlags)
    if ((flags & f.mask) == f.value) s += QLatin1String(f.longText);
  if (s.endsWith(QLatin1Char(' '))) s.chop(1);
  if (s.endsWith(QLatin1Char(';'))) s.chop(1);
  return s;
}
