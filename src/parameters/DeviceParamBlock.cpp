#include "parameters/DeviceParamBlock.h"

#include <array>
#include <cstring>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "link/CommandChannel.h"
#include "link/ReaderCommand.h"

namespace quelm {
namespace {

using T = ParamType;

#define AT(field) static_cast<uint16_t>(offsetof(DeviceParamRecord, field))

// clang-format off
const std::array<ParamField, 17> kFields = {{
    {.key = "RTYPE", .offset = AT(RTYPE), .type = T::Char, .textDefault = "0"},
    {.key = "DID", .offset = AT(DID), .type = T::Text4, .textDefault = "    "},
    // Stored as volts - 150; the edits take 150..1150 V.
    {.key = "HVH", .offset = AT(HVH), .type = T::U16, .bias = 150, .wrap16 = true, .fileDefault = 700,
     .editMin = 150, .editMax = 1150},
    {.key = "HVM", .offset = AT(HVM), .type = T::U16, .bias = 150, .wrap16 = true, .fileDefault = 500,
     .editMin = 150, .editMax = 1150},
    {.key = "HVL", .offset = AT(HVL), .type = T::U16, .bias = 150, .wrap16 = true, .fileDefault = 400,
     .editMin = 150, .editMax = 1150},
    {.key = "DCALL", .offset = AT(DCALL), .type = T::Single, .fileDefault = 1000, .editMin = 0, .expDigits = 3},
    {.key = "DCALH", .offset = AT(DCALH), .type = T::Single, .fileDefault = 100000, .editMin = 0, .expDigits = 3},
    {.key = "DCBGH", .offset = AT(DCBGH), .type = T::Single, .fileDefault = 100, .editMin = 0, .expDigits = 3},
    {.key = "MAXT", .offset = AT(MAXT), .type = T::I8, .fileDefault = 50, .editMin = -127, .editMax = 127},
    {.key = "MINT", .offset = AT(MINT), .type = T::I8, .fileDefault = -20, .editMin = -127, .editMax = 127},
    {.key = "U100", .offset = AT(U100), .type = T::U8, .fileDefault = 124, .editMin = 0, .editMax = 255},
    {.key = "U0", .offset = AT(U0), .type = T::U8, .fileDefault = 96, .editMin = 0, .editMax = 255},
    {.key = "DCAL20", .offset = AT(DCAL20), .type = T::Single, .fileDefault = 58272, .expDigits = 3},
    {.key = "DCALX1", .offset = AT(DCALX1), .type = T::Single, .fileDefault = -0.013362, .expDigits = 3},
    {.key = "DCALX0", .offset = AT(DCALX0), .type = T::Single, .fileDefault = 1.267242, .expDigits = 3},
    // The configured maximum lowers editMax further (ReaderParamTable).
    {.key = "POSTH", .offset = AT(POSTH), .type = T::U8, .fileDefault = 40, .editMin = 0, .editMax = 255},
    {.key = "CONTR", .offset = AT(CONTR), .type = T::I8, .fileDefault = 0, .editMin = -127, .editMax = 127,
     .showLimited = true},
}};
// clang-format on

#undef AT

// DCALX0 is not among them: the window has no edit for it and keeps what
// the record holds.
const std::array<const char*, 16> kCollectOrder = {"RTYPE",  "HVL",    "HVM",   "HVH",  "DID",  "DCALL",
                                                   "DCALH",  "DCBGH",  "MAXT",  "MINT", "U100", "U0",
                                                   "DCAL20", "DCALX1", "POSTH", "CONTR"};

}  // namespace

std::span<const ParamField> deviceParamFields() { return kFields; }
std::span<const char* const> deviceParamCollectOrder() { return kCollectOrder; }

}  // namespace quelm

TDeviceParamBlock::TDeviceParamBlock() {
  quelm::TraceLine trace(QStringLiteral("TDeviceParamBlock::TDeviceParamBlock(): "));
  std::memset(&Record, 0, sizeof Record);
  trace.ok();
}

TDeviceParamBlock::~TDeviceParamBlock() {
  quelm::TraceLine trace(QStringLiteral("TDeviceParamBlock::~TDeviceParamBlock(): "));
  trace.ok();
}

int TDeviceParamBlock::ReadFileBlock(const QString& name) {
  quelm::TraceLine trace(QStringLiteral("TDeviceParamBlock::ReadFileBlock(): filename=") + name +
                         QStringLiteral(": "));
  if (const int rc =
          quelm::readProfileSection(name, quelm::kReaderParamSection, quelm::deviceParamFields(), bytes())) {
    trace.fail(QStringLiteral("ERR_FOPEN"));
    return rc;
  }
  trace.ok();
  return 0;
}

int TDeviceParamBlock::WriteFileBlock(const QString& name) {
  return quelm::writeProfileSection(name, quelm::kReaderParamSection, quelm::deviceParamFields(), bytes());
}

int TDeviceParamBlock::ReadCOMBlock() {
  quelm::TraceLine trace(QStringLiteral("TDeviceParamBlock::ReadCOMBlock(): "));
  // A software download may have left the link in its loader mode.
  if (TCommandChannel* channel = CommandChannel()) channel->SetLoaderMode(0);
  quelm::ReaderCommand cmd(&trace);
  uint8_t payload[] = {'.', 'J', '#'};
  // Exactly the table: a shorter reply would fill the record from whatever
  // the receive buffer held before.
  quelm::ReplyRule rule;
  rule.minData = rule.maxData = sizeof Record;
  const int rc = cmd.run(payload, sizeof payload, rule);
  if (rc == quelm::kErrReaderRefused) trace.fail(QStringLiteral("ERR_SENDCOMCMD"));
  if (rc != 0) return rc;
  cmd.reply().copy(0, bytes().data(), sizeof Record);
  trace.ok();
  return 0;
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
