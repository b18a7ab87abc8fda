#include "parameters/DeviceParamBlock.h"

#include <array>
#include <cstring>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "link/CommandChannel.h"
#include "link/ReaderCommand.h"
#include "link/ReaderLimits.h"

namespace quelm {
namespace {

using T = ParamType;

#define AT(field) static_cast<uint16_t>(offsetof(DeviceParamRecord, field))

constexpr double kVoltsMin = kMinHighVolts, kVoltsMax = kMaxHighVolts;

// clang-format off
const std::array<ParamField, 17> kFields = {{
    {.key = "RTYPE", .offset = AT(RTYPE), .type = T::Char, .textDefault = "0",
     .caption = "Reader Type [A-Z]", .column = 1, .row = 0},
    {.key = "DID", .offset = AT(DID), .type = T::Text4, .textDefault = "    ",
     .caption = "Reader Serial Number", .column = 1, .row = 1},
    // Stored as volts - 150.
    {.key = "HVH", .offset = AT(HVH), .type = T::U16, .bias = kMinHighVolts, .wrap16 = true, .fileDefault = 700,
     .editMin = kVoltsMin, .editMax = kVoltsMax, .caption = "PMT Voltage High Level [V]", .column = 1, .row = 2},
    {.key = "HVM", .offset = AT(HVM), .type = T::U16, .bias = kMinHighVolts, .wrap16 = true, .fileDefault = 500,
     .editMin = kVoltsMin, .editMax = kVoltsMax, .caption = "PMT Voltage Medium Level [V]", .column = 1, .row = 3},
    {.key = "HVL", .offset = AT(HVL), .type = T::U16, .bias = kMinHighVolts, .wrap16 = true, .fileDefault = 400,
     .editMin = kVoltsMin, .editMax = kVoltsMax, .caption = "PMT Voltage Low Level  [V]", .column = 1, .row = 4},
    {.key = "DCALL", .offset = AT(DCALL), .type = T::Single, .fileDefault = 1000, .editMin = 0, .expDigits = 3,
     .caption = "Light Calibration Low Limit [count]", .column = 1, .row = 5},
    {.key = "DCALH", .offset = AT(DCALH), .type = T::Single, .fileDefault = 100000, .editMin = 0, .expDigits = 3,
     .caption = "Light Calibration High Limit [count]", .column = 1, .row = 6},
    {.key = "DCBGH", .offset = AT(DCBGH), .type = T::Single, .fileDefault = 100, .editMin = 0, .expDigits = 3,
     .caption = "Background Cal. High Limit [count]", .column = 1, .row = 7},
    {.key = "MAXT", .offset = AT(MAXT), .type = T::I8, .fileDefault = 50, .editMin = -127, .editMax = 127,
     .caption = "Max. Operating Temperature [°C]", .column = 1, .row = 8},
    {.key = "MINT", .offset = AT(MINT), .type = T::I8, .fileDefault = -20, .editMin = -127, .editMax = 127,
     .caption = "Min. Operating Temperature [°C]", .column = 1, .row = 9},
    {.key = "U100", .offset = AT(U100), .type = T::U8, .fileDefault = 124, .editMin = 0, .editMax = 255,
     .caption = "Battery Full [*0.1V]", .column = 1, .row = 10},
    {.key = "U0", .offset = AT(U0), .type = T::U8, .fileDefault = 96, .editMin = 0, .editMax = 255,
     .caption = "Battery Min. [*0.1V]", .column = 1, .row = 11},
    {.key = "DCAL20", .offset = AT(DCAL20), .type = T::Single, .fileDefault = 58272, .expDigits = 3,
     .caption = "Light Calibration 20°C", .column = 1, .row = 12},
    {.key = "DCALX1", .offset = AT(DCALX1), .type = T::Single, .fileDefault = -0.013362, .expDigits = 3,
     .caption = "Light Calibration f(t) X", .column = 1, .row = 13},
    // No edit: the record keeps what the reader or the file gave.
    {.key = "DCALX0", .offset = AT(DCALX0), .type = T::Single, .fileDefault = 1.267242, .expDigits = 3},
    // The configured maximum lowers editMax further (ReaderParamJob).
    {.key = "POSTH", .offset = AT(POSTH), .type = T::U8, .fileDefault = 40, .editMin = 0, .editMax = 255,
     .caption = "Max. Post Heat Time [s]", .column = 1, .row = 14},
    {.key = "CONTR", .offset = AT(CONTR), .type = T::I8, .fileDefault = 0, .editMin = -127, .editMax = 127,
     .showLimited = true, .caption = "Contrast Correction [%/°C]", .column = 1, .row = 15, .enterMovesOn = false},
}};
// clang-format on

#undef AT

// The order in which the window takes its edits into the record. DCALX0 is
// not among them: no edit shows it.
const char* const kCollectOrder[] = {"RTYPE", "HVL",  "HVM",  "HVH", "DID",    "DCALL",  "DCALH", "DCBGH",
                                     "MAXT",  "MINT", "U100", "U0",  "DCAL20", "DCALX1", "POSTH", "CONTR"};
const ParamKeyList kLists[] = {{"collect", kCollectOrder}};
const ParamRecordTable kTable{kFields, kLists};

}  // namespace

const ParamRecordTable& deviceParamTable() { return kTable; }
std::span<const ParamField> deviceParamFields() { return kFields; }
std::span<const char* const> deviceParamCollectOrder() { return kCollectOrder; }

}  // namespace quelm

TDeviceParamBlock::TDeviceParamBlock()
    : ParamBlock(QStringLiteral("TDeviceParamBlock::TDeviceParamBlock(): ")) {}

TDeviceParamBlock::~TDeviceParamBlock() {
  quelm::TraceLine(QStringLiteral("TDeviceParamBlock::~TDeviceParamBlock(): ")).ok();
}

int TDeviceParamBlock::ReadFileBlock(const QString& name) {
  return readSection(QStringLiteral("TDeviceParamBlock::ReadFileBlock(): "), name, quelm::kReaderParamSection,
                     quelm::deviceParamFields());
}

int TDeviceParamBlock::WriteFileBlock(const QString& name) {
  return quelm::writeProfileSection(name, quelm::kReaderParamSection, quelm::deviceParamFields(), bytes());
}

int TDeviceParamBlock::ReadCOMBlock() {
  quelm::TraceLine trace(QStringLiteral("TDeviceParamBlock::ReadCOMBlock(): "));
  // A software download may have left the link in its loader mode.
  if (TCommandChannel* channel = CommandChannel()) channel->SetLoaderMode(0);
  uint8_t payload[] = {'.', 'J', '#'};
  return readFromReader(trace, payload, true);
}

int TDeviceParamBlock::WriteCOMBlock() {
  quelm::TraceLine trace(QStringLiteral("TDeviceParamBlock::WriteCOMBlock(): "));
  quelm::ReaderCommand cmd(&trace);
  uint8_t payload[2 + sizeof Record + 1];
  payload[0] = '.';
  payload[1] = 'I';
  std::memcpy(payload + 2, &Record, sizeof Record);
  payload[sizeof payload - 1] = '#';
  const int rc = cmd.run(payload, sizeof payload);
  if (rc == quelm::kErrReaderRefused) trace.fail(QStringLiteral("ERR_SENDCOMCMD"));
  if (rc != 0) return rc;
  trace.ok();
  return 0;
}
