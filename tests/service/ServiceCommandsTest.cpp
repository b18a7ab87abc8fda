// The service commands: what an entry becomes on the line and how replies
// are shown. The commands on the line are tested through the window.
#include <gtest/gtest.h>

#include <QStringList>

#include "SimReader.h"
#include "base/UserLocale.h"
#include "service/ServiceCommands.h"

using namespace quelm;
using namespace quelm::test;

namespace {

TEST(ServiceValues, EntriesAreClampedAndScaledAsTheReaderTakesThem) {
  struct Case {
    int which;
    int32_t entered;
    uint16_t sent;
  };
  const Case cases[] = {
      {kSetHighVoltage, 0, 0},
      {kSetHighVoltage, 149, 0},
      {kSetHighVoltage, -5, 0},
      {kSetHighVoltage, 700, 550},
      {kSetHighVoltage, 1150, 1000},
      {kSetHighVoltage, 9999, 1000},
      {kSetHeatingCurrent, 4000, 1000},
      {kSetHeatingCurrent, 4003, 1000},
      {kSetHeatingCurrent, 3, 0},
      {kSetHeatingCurrent, 2001, 500},
      {kSetHeatingCurrent, -1, 0},
      {kSetHeatingCurrent, -4000, 0},
      {kSetHeatingCurrent, INT32_MIN, 0},
  };
  for (const Case& c : cases) {
    const uint16_t v =
        c.which == kSetHighVoltage ? HighVoltageValue(c.entered) : HeatingCurrentValue(c.entered);
    EXPECT_EQ(v, c.sent) << c.which << " " << c.entered;
  }
}

TEST(ServiceValues, ControlByteFromTheBoxesAndTheSensitivity) {
  struct Case {
    ControlBits bits;
    uint8_t byte;
  };
  const Case cases[] = {
      {{false, false, false, false, kSensitivityLow}, 0x13},
      {{true, true, true, true, kSensitivityHigh}, 0x8C},
      {{true, false, false, true, kSensitivityMedium}, 0x09},
      {{false, false, true, true, -1}, 0x04},  // nothing chosen counts as High
  };
  for (const Case& c : cases) EXPECT_EQ(ControlByte(c.bits), c.byte) << int{c.byte};
}

TEST(ServiceFormats, AdcClockAndErrorLogReadAsTheTechnicianSeesThem) {
  EXPECT_EQ(FormatAdcInput(0x14D2), "1234");  // the high nibble is not the reading's
  EXPECT_EQ(FormatBatteryVolts(0x0FFF), "22.71");
  EXPECT_EQ(FormatBatteryVolts(0xF000), "0.00");
  setUserLocale({QLatin1Char(','), {}, {}});
  EXPECT_EQ(FormatBatteryVolts(0x0FFF), "22,71");
  setUserLocale({});

  const uint8_t clock2006[] = {106, 12, 17, 14, 5};
  EXPECT_EQ(FormatClock(clock2006), "06.12.17 14:05");
  const uint8_t clock2000[] = {100, 1, 2, 3, 4};
  EXPECT_EQ(FormatClock(clock2000), "00.01.02 03:04");

  uint8_t log[kErrorLogBytes] = {};
  EXPECT_EQ(FormatErrorLog(log), QStringList{"No Error"});
  sim::ServiceState reader;  // one entry of each code, empty and unknown slots
  EXPECT_EQ(FormatErrorLog(reader.errorLog),
            (QStringList{"2005.03.09 08:30  Write Flash ", "2006.11.02 23:59  Key Overheat",
                         "????.??.?? ??:??  Clock read  "}));
}

TEST(ServiceCommands, AFailureIsTracedBareAndAnUnknownSelectorSendsNothing) {
  SimReader r;
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(SendSetValue(2, 5), kErrDataInvalid);
  EXPECT_TRUE(r.model.Requests.empty());

  QStringList trace;
  setLogSink([&](const QString& line) { trace << line; });
  const uint32_t flags = DiagFlags;
  DiagFlags = kDiagLog;
  r.rejectNext();
  uint8_t clock[kClockBytes] = {};
  EXPECT_EQ(ReadClock(clock), -208);
  DiagFlags = flags;
  setLogSink({});
  EXPECT_TRUE(trace.contains("ERR_SENDCOMCMD")) << trace.join('\n').toStdString();
}

}  // namespace
