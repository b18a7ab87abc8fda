#include "parameters/BulbParamBlock.h"

#include <array>
#include <cstring>
#include <vector>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "link/ReaderCommand.h"

namespace quelm {
namespace {

using T = ParamType;

#define AT(field) static_cast<uint16_t>(offsetof(BulbParamRecord, field))

// clang-format off
const std::array<ParamField, 23> kFields = {{
    {.key = "KTYPE", .offset = AT(KTYPE), .type = T::Char, .textDefault = "0", .upperCase = true},
    {.key = "KSN", .offset = AT(KSN), .type = T::Text4, .textDefault = "    ", .upperCase = true},
    {.key = "TS", .offset = AT(TS), .type = T::U8},
    {.key = "EVASTART", .offset = AT(EVASTART), .type = T::U8},
    {.key = "EVALEN", .offset = AT(EVALEN), .type = T::U8},
    {.key = "EVANORM", .offset = AT(EVANORM), .type = T::Single, .editMin = 0},
    {.key = "HUS", .offset = AT(HUS), .type = T::U8, .maxLength = 12},
    {.key = "TREG", .offset = AT(TREG), .type = T::U8},
    // Stored in 10 'C steps.
    {.key = "TLIM", .offset = AT(TLIM), .type = T::U8, .scale = 10, .wrap16 = true},
    {.key = "BGCOR", .offset = AT(BGCOR), .type = T::U8},
    {.key = "MDOSE", .offset = AT(MDOSE), .type = T::Single},
    // Stored in 4 mA steps, at most 4000 mA.
    {.key = "HEATC", .offset = AT(HEATC), .type = T::U16, .scale = 4, .wrap16 = true, .fileMax = 4000,
     .editMax = 4000},
    {.key = "KANN", .offset = AT(KANN), .type = T::Single},
    {.key = "TANN", .offset = AT(TANN), .type = T::U8},
    {.key = "DTFA", .offset = AT(DTFA), .type = T::Single},
    {.key = "DTFB", .offset = AT(DTFB), .type = T::Single},
    {.key = "DLFA", .offset = AT(DLFA), .type = T::Single},
    {.key = "DLFB", .offset = AT(DLFB), .type = T::Single},
    {.key = "DLFN", .offset = AT(DLFN), .type = T::Single},
    {.key = "DHFA", .offset = AT(DHFA), .type = T::Single},
    {.key = "DHFB", .offset = AT(DHFB), .type = T::Single},
    {.key = "IPH", .offset = AT(IPH), .type = T::U8},
    // Every error flag on unless the file says otherwise.
    {.key = "ERRMASK", .offset = AT(ERRMASK), .type = T::U8, .fileDefault = 255},
}};
// clang-format on

#undef AT
#define AT(field) static_cast<uint16_t>(offsetof(IBulbParamRecord, field))

// clang-format off
const std::array<ParamField, 6> kOwnFields = {{
    {.key = "KTYPE", .offset = AT(KTYPE), .type = T::Char, .textDefault = "0", .upperCase = true},
    {.key = "KSN", .offset = AT(KSN), .type = T::Text4, .textDefault = "    ", .upperCase = true},
    {.key = "EVASTART", .offset = AT(EVASTART), .type = T::U8},
    {.key = "EVALEN", .offset = AT(EVALEN), .type = T::U8},
    {.key = "EVANORM", .offset = AT(EVANORM), .type = T::Single, .editMin = 0},
    {.key = "LRO", .offset = AT(LRO), .type = T::U32},
}};
// clang-format on

#undef AT

// ".L", ".Z" and ".O" carry a record; a first byte of 2 goes out as 3 (the
// record keeps its 2).
int sendRecord(TraceLine& trace, uint8_t letter, std::span<const uint8_t> record) {
  std::vector<uint8_t> payload;
  payload.reserve(record.size() + 3);
  payload.push_back('.');
  payload.push_back(letter);
  payload.insert(payload.end(), record.begin(), record.end());
  payload.push_back('#');
  if (payload[2] == 2) payload[2] = 3;
  ReaderCommand cmd(&trace);
  return cmd.run(payload.data(), static_cast<uint16_t>(payload.size()));
}

// Exactly `bytes` of reply data: anything shorter would fill the record
// from what the receive buffer held before.
ReplyRule exactly(int bytes) {
  ReplyRule rule;
  rule.minData = rule.maxData = bytes;
  return rule;
}

}  // namespace

std::span<const ParamField> bulbParamFields() { return kFields; }
std::span<const ParamField> ownBulbParamFields() { return kOwnFields; }

}  // namespace quelm

using quelm::ReaderCommand;
using quelm::TraceLine;

TBulbParamBlock::TBulbParamBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::TBulbParamBlock(): "));
  std::memset(&Record, 0, sizeof Record);
  trace.ok();
}

TBulbParamBlock::~TBulbParamBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::~TBulbParamBlock(): "));
  trace.ok();
}

int TBulbParamBlock::ReadFileBlock(const QString& name) {
  TraceLine trace(QStringLiteral("TBulbParamBlock::ReadFileBlock(): filename=") + name +
                  QStringLiteral(": "));
  if (const int rc =
          quelm::readProfileSection(name, quelm::kDefaultKeySection, quelm::bulbParamFields(), bytes())) {
    trace.fail(QStringLiteral("ERR_FOPEN"));
    return rc;
  }
  trace.ok();
  return 0;
}

int TBulbParamBlock::ReadLUTFileBlock(const QString& name) {
  TraceLine trace(QStringLiteral("TBulbParamBlock::ReadFileBlock(): filename=") + name +
                  QStringLiteral(": "));
  if (const int rc =
          quelm::readProfileSection(name, quelm::kLookupKeySection, quelm::bulbParamFields(), bytes())) {
    trace.fail(QStringLiteral("ERR_FOPEN"));
    return rc;
  }
  trace.ok();
  return 0;
}

int TBulbParamBlock::WriteFileBlock(const QString& name) {
  TraceLine trace(QStringLiteral("TBulbParamBlock::WriteFileBlock(): filename=") + name +
                  QStringLiteral(": "));
  const int rc =
      quelm::writeProfileSection(name, quelm::kDefaultKeySection, quelm::bulbParamFields(), bytes(), "KSN");
  if (rc == 0) trace.ok();
  return rc;
}

int TBulbParamBlock::WriteLUTFileBlock(const QString& name) {
  TraceLine trace(QStringLiteral("TBulbParamBlock::WriteFileBlock(): filename=") + name +
                  QStringLiteral(": "));
  const int rc =
      quelm::writeProfileSection(name, quelm::kLookupKeySection, quelm::bulbParamFields(), bytes());
  if (rc == 0) trace.ok();
  return rc;
}

int TBulbParamBlock::ReadCOMBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::ReadCOMBlock(): "));
  const uint8_t type = bytes()[0];
  std::memset(&Record, 0, sizeof Record);
  ReaderCommand cmd(&trace);
  uint8_t payload[] = {'.', 'M', type, '#'};
  const int rc = cmd.run(payload, sizeof payload, quelm::exactly(sizeof Record));
  if (rc == quelm::kErrReaderRefused) trace.fail(QStringLiteral("ERR_SENDCOMCMD"));
  if (rc != 0) return rc;
  cmd.reply().copy(0, bytes().data(), sizeof Record);
  trace.ok();
  return 0;
}

int TBulbParamBlock::WriteCOMBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::WriteCOMBlock(): "));
  const int rc = quelm::sendRecord(trace, 'L', bytes());
  if (rc == quelm::kErrReaderRefused) trace.fail(QStringLiteral("ERR_SENDCOMCMD"));
  if (rc != 0) return rc;
  trace.ok();
  return 0;
}

int TBulbParamBlock::ReadLUTBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::ReadCOMBlock(): "));
  ReaderCommand cmd(&trace);
  uint8_t payload[8] = {'.', 'X'};
  std::memcpy(payload + 2, &Record, quelm::kIdentifierBytes);
  payload[7] = '#';
  if (const int rc = cmd.run(payload, sizeof payload, quelm::exactly(sizeof Record))) return rc;
  cmd.reply().copy(0, bytes().data(), sizeof Record);
  trace.ok();
  return 0;
}

int TBulbParamBlock::WriteLUTBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::WriteLUTBlock(): "));
  const int rc = quelm::sendRecord(trace, 'Z', bytes());
  if (rc == quelm::kErrReaderRefused) trace.ok();
  return rc;
}

int TBulbParamBlock::ReadLUTList(uint8_t dest[quelm::kDirectoryPageBytes], uint8_t page, uint16_t* length) {
  TraceLine trace(QStringLiteral("TBulbParamBlock::ReadLUTList(): "));
  ReaderCommand cmd(&trace);
  uint8_t payload[] = {'.', 'V', page, '#'};
  quelm::ReplyRule rule;
  rule.maxData = quelm::kDirectoryPageBytes;
  const int rc = cmd.run(payload, sizeof payload, rule);
  if (rc == quelm::kErrReaderRefused) trace.fail(QStringLiteral("ERR_SENDCOMCMD"));
  if (rc != 0) return rc;
  // Only what came: bytes after the reply are zeros, never an earlier reply's.
  cmd.reply().copy(0, dest, quelm::kDirectoryPageBytes);
  if (length) *length = static_cast<uint16_t>(cmd.reply().size());
  trace.ok();
  return 0;
}

int TBulbParamBlock::DeleteLUT(const uint8_t id[quelm::kIdentifierBytes]) {
  TraceLine trace(QStringLiteral("TBulbParamBlock::DeleteLUT(): "));
  ReaderCommand cmd(&trace);
  uint8_t payload[8] = {'.', 'E'};
  std::memcpy(payload + 2, id, quelm::kIdentifierBytes);
  payload[7] = '#';
  const int rc = cmd.run(payload, sizeof payload);
  if (rc == quelm::kErrReaderRefused) trace.fail(QStringLiteral("ERR_SENDCOMCMD"));
  if (rc != 0) return rc;
  trace.ok();
  return 0;
}

TIBulbParamBlock::TIBulbParamBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::TBulbParamBlock(): "));
  std::memset(&Record, 0, sizeof Record);
  trace.ok();
}

TIBulbParamBlock::~TIBulbParamBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::TBulbParamBlock(): "));
  std::memset(&Record, 0, sizeof Record);
  trace.ok();
}

int TIBulbParamBlock::ReadFileBlock(const QString& name) {
  TraceLine trace(QStringLiteral("TBulbParamBlock::ReadFileBlock(): filename=") + name +
                  QStringLiteral(": "));
  if (const int rc = quelm::readProfileSection(name, quelm::kIndividualKeySection,
                                               quelm::ownBulbParamFields(), bytes())) {
    trace.fail(QStringLiteral("ERR_FOPEN"));
    return rc;
  }
  trace.ok();
  return 0;
}

int TIBulbParamBlock::WriteFileBlock(const QString& name) {
  return quelm::writeProfileSection(name, quelm::kIndividualKeySection, quelm::ownBulbParamFields(), bytes());
}

int TIBulbParamBlock::ReadCOMBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::ReadCOMBlock(): "));
  std::memset(&Record, 0, sizeof Record);
  ReaderCommand cmd(&trace);
  uint8_t payload[] = {'.', 'Q', '0', '#'};
  if (const int rc = cmd.run(payload, sizeof payload, quelm::exactly(sizeof Record))) return rc;
  cmd.reply().copy(0, bytes().data(), sizeof Record);
  trace.ok();
  return 0;
}

int TIBulbParamBlock::WriteCOMBlock() {
  TraceLine trace(QStringLiteral("TIBulbParamBlock::WriteCOMBlock(): "));
  const int rc = quelm::sendRecord(trace, 'O', bytes());
  if (rc == quelm::kErrReaderRefused) trace.ok();
  return rc;
}
