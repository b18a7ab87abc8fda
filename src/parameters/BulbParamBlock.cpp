#include "parameters/BulbParamBlock.h"

#include <array>
#include <cstring>
#include <vector>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "link/ReaderCommand.h"
#include "link/ReaderLimits.h"

namespace quelm {
namespace {

using T = ParamType;

#define AT(field) static_cast<uint16_t>(offsetof(BulbParamRecord, field))

// clang-format off
const std::array<ParamField, 23> kFields = {{
    {.key = "KTYPE", .offset = AT(KTYPE), .type = T::Char, .textDefault = "0", .upperCase = true,
     .caption = "Dosimeter Type [A..Z] ", .column = 1, .row = 0, .initialText = "A"},
    {.key = "KSN", .offset = AT(KSN), .type = T::Text4, .textDefault = "    ", .upperCase = true,
     .caption = "Dosimeter Serial Number:", .column = 1, .row = 1},
    {.key = "TS", .offset = AT(TS), .type = T::U8, .caption = "Sampling Period [*10msec]", .column = 2, .row = 6},
    {.key = "EVASTART", .offset = AT(EVASTART), .type = T::U8, .caption = "&Start of Evaluation [channel]",
     .column = 1, .row = 2},
    {.key = "EVALEN", .offset = AT(EVALEN), .type = T::U8, .caption = "&Length of Evaluation [channel]",
     .column = 1, .row = 3},
    {.key = "EVANORM", .offset = AT(EVANORM), .type = T::Single, .editMin = 0, .caption = "&Normalisation Factor ",
     .column = 1, .row = 4},
    {.key = "HUS", .offset = AT(HUS), .type = T::U8, .maxLength = 12, .caption = "&Heating Up Speed [*0.1°C/Period]",
     .column = 2, .row = 9},
    {.key = "TREG", .offset = AT(TREG), .type = T::U8, .caption = "Reg. Start Temp. [°C]", .column = 2, .row = 7},
    // Stored in 10 'C steps.
    {.key = "TLIM", .offset = AT(TLIM), .type = T::U8, .scale = 10, .wrap16 = true,
     .caption = "&Max. Heating Temperature [°C]", .column = 2, .row = 8},
    {.key = "BGCOR", .offset = AT(BGCOR), .type = T::U8},
    {.key = "MDOSE", .offset = AT(MDOSE), .type = T::Single, .caption = "Max. Dose [uSv]", .column = 1, .row = 10},
    {.key = "HEATC", .offset = AT(HEATC), .type = T::U16, .scale = kHeatingStepMilliamperes, .wrap16 = true,
     .fileMax = kMaxHeatingMilliamperes, .editMin = 0, .editMax = kMaxHeatingMilliamperes,
     .caption = "Heating Current [mA]", .column = 2, .row = 0},
    {.key = "KANN", .offset = AT(KANN), .type = T::Single},
    {.key = "TANN", .offset = AT(TANN), .type = T::U8, .caption = "Postheating Time [s]", .column = 2, .row = 4},
    {.key = "DTFA", .offset = AT(DTFA), .type = T::Single, .caption = "Dose f(T) X<sup>2</sup>", .column = 1,
     .row = 6},
    {.key = "DTFB", .offset = AT(DTFB), .type = T::Single, .caption = "Dose f(T) X<sup>1</sup>", .column = 1,
     .row = 7},
    {.key = "DLFA", .offset = AT(DLFA), .type = T::Single},
    {.key = "DLFB", .offset = AT(DLFB), .type = T::Single, .caption = "Linearity pow(x,DLFB)", .column = 1, .row = 9},
    {.key = "DLFN", .offset = AT(DLFN), .type = T::Single, .caption = "Linearity Limit [uSv]", .column = 1, .row = 8},
    {.key = "DHFA", .offset = AT(DHFA), .type = T::Single, .caption = "HEATC f(t) X<sup>2</sup>", .column = 2,
     .row = 1, .enterMovesOn = false},
    {.key = "DHFB", .offset = AT(DHFB), .type = T::Single, .caption = "HEATC f(t) X<sup>1</sup>", .column = 2,
     .row = 2, .enterMovesOn = false},
    {.key = "IPH", .offset = AT(IPH), .type = T::U8, .caption = "Postheating Current [%]", .column = 2, .row = 3},
    // Every error flag on unless the file says otherwise. A click on the
    // edit opens the mask editor, so Enter there does not move on.
    {.key = "ERRMASK", .offset = AT(ERRMASK), .type = T::U8, .fileDefault = 255, .caption = "Error Mask",
     .column = 2, .row = 5, .enterMovesOn = false, .editName = "ErrMaskEdit", .initialText = "EMASK"},
}};
// clang-format on

#undef AT
#define AT(field) static_cast<uint16_t>(offsetof(IBulbParamRecord, field))

// Only LRO has an edit of its own: the others show in the table's edits.
// clang-format off
const std::array<ParamField, 6> kOwnFields = {{
    {.key = "KTYPE", .offset = AT(KTYPE), .type = T::Char, .textDefault = "0", .upperCase = true},
    {.key = "KSN", .offset = AT(KSN), .type = T::Text4, .textDefault = "    ", .upperCase = true},
    {.key = "EVASTART", .offset = AT(EVASTART), .type = T::U8},
    {.key = "EVALEN", .offset = AT(EVALEN), .type = T::U8},
    {.key = "EVANORM", .offset = AT(EVANORM), .type = T::Single, .editMin = 0},
    {.key = "LRO", .offset = AT(LRO), .type = T::U32, .caption = "&Last Readout:", .column = 1, .row = 5},
}};
// clang-format on

#undef AT

const char* const kDefaultCollect[] = {"KTYPE", "TS",    "EVASTART", "EVALEN", "EVANORM", "HUS",  "TREG",
                                       "TLIM",  "MDOSE", "HEATC",    "TANN",   "DTFA",    "DTFB", "DLFB",
                                       "DLFN",  "DHFA",  "DHFB",     "IPH",    "ERRMASK"};
// Into the own table: every key must be one of both records.
const char* const kKeyCollect[] = {"KTYPE", "KSN", "EVASTART", "EVALEN", "EVANORM"};
// The temperature, linearity and heating-current functions are enabled in
// the look-up layout: what the operator typed there goes into the entry.
const char* const kLookupCollect[] = {"KTYPE", "KSN",   "HUS",   "EVASTART", "EVALEN", "EVANORM", "TREG",
                                      "TLIM",  "TANN",  "DTFA",  "DTFB",     "DLFB",   "DLFN",    "DHFA",
                                      "DHFB",  "MDOSE", "HEATC", "TS",       "IPH",    "ERRMASK"};
const char* const kIdentifierKeys[] = {"KTYPE", "KSN"};
// What the default and look-up layouts enable and the dosimeter layout
// disables, and what the dosimeter layout enables.
const char* const kFunctionEdits[] = {"HUS",  "TREG", "TLIM", "TANN", "MDOSE", "HEATC",   "DTFA", "DTFB",
                                      "DLFB", "DLFN", "DHFA", "DHFB", "IPH",   "ERRMASK", "TS"};
const char* const kDosimeterEdits[] = {"KTYPE", "KSN", "EVASTART", "EVALEN", "EVANORM"};

const ParamKeyList kLists[kBulbListCount] = {
    {"default collect", kDefaultCollect}, {"key collect", kKeyCollect},
    {"look-up collect", kLookupCollect},  {"identifier", kIdentifierKeys},
    {"function edits", kFunctionEdits},   {"dosimeter edits", kDosimeterEdits},
};
const ParamKeyList kOwnLists[] = {{"key collect", kKeyCollect}};
const ParamRecordTable kTable{kFields, kLists};
const ParamRecordTable kOwnTable{kOwnFields, kOwnLists};

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

}  // namespace

const ParamRecordTable& bulbParamTable() { return kTable; }
const ParamRecordTable& ownBulbParamTable() { return kOwnTable; }
std::span<const char* const> bulbKeyList(BulbList list) { return kLists[list].keys; }
std::span<const ParamField> bulbParamFields() { return kFields; }
std::span<const ParamField> ownBulbParamFields() { return kOwnFields; }

}  // namespace quelm

using quelm::ReaderCommand;
using quelm::TraceLine;

TBulbParamBlock::TBulbParamBlock() : ParamBlock(QStringLiteral("TBulbParamBlock::TBulbParamBlock(): ")) {}

TBulbParamBlock::~TBulbParamBlock() {
  TraceLine(QStringLiteral("TBulbParamBlock::~TBulbParamBlock(): ")).ok();
}

int TBulbParamBlock::ReadFileBlock(const QString& name) {
  return readSection(QStringLiteral("TBulbParamBlock::ReadFileBlock(): "), name, quelm::kDefaultKeySection,
                     quelm::bulbParamFields());
}

int TBulbParamBlock::ReadLUTFileBlock(const QString& name) {
  return readSection(QStringLiteral("TBulbParamBlock::ReadFileBlock(): "), name, quelm::kLookupKeySection,
                     quelm::bulbParamFields());
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
  uint8_t payload[] = {'.', 'M', type, '#'};
  return readFromReader(trace, payload, true);
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
  uint8_t payload[8] = {'.', 'X'};
  std::memcpy(payload + 2, &Record, quelm::kIdentifierBytes);
  payload[7] = '#';
  return readFromReader(trace, payload, false);
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

TIBulbParamBlock::TIBulbParamBlock() : ParamBlock(QStringLiteral("TBulbParamBlock::TBulbParamBlock(): ")) {}

TIBulbParamBlock::~TIBulbParamBlock() {
  TraceLine(QStringLiteral("TBulbParamBlock::TBulbParamBlock(): ")).ok();
}

int TIBulbParamBlock::ReadFileBlock(const QString& name) {
  return readSection(QStringLiteral("TBulbParamBlock::ReadFileBlock(): "), name, quelm::kIndividualKeySection,
                     quelm::ownBulbParamFields());
}

int TIBulbParamBlock::WriteFileBlock(const QString& name) {
  return quelm::writeProfileSection(name, quelm::kIndividualKeySection, quelm::ownBulbParamFields(), bytes());
}

int TIBulbParamBlock::ReadCOMBlock() {
  TraceLine trace(QStringLiteral("TBulbParamBlock::ReadCOMBlock(): "));
  std::memset(&Record, 0, sizeof Record);
  uint8_t payload[] = {'.', 'Q', '0', '#'};
  return readFromReader(trace, payload, false);
}

int TIBulbParamBlock::WriteCOMBlock() {
  TraceLine trace(QStringLiteral("TIBulbParamBlock::WriteCOMBlock(): "));
  const int rc = quelm::sendRecord(trace, 'O', bytes());
  if (rc == quelm::kErrReaderRefused) trace.ok();
  return rc;
}
