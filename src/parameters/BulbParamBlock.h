#pragma once
// The dosimeter parameter tables: the 64-byte table of a dosimeter type or
// of one dosimeter in the reader's look-up table, and the 16-byte table a
// dosimeter carries itself. Their ".dpt" file sections and reader commands.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <span>

#include "parameters/ParamBlock.h"
#include "parameters/ParamField.h"

static_assert(sizeof(float) == 4, "records hold IEEE-754 singles");

#pragma pack(push, 1)
struct BulbParamRecord {
  char KTYPE;    // type letter; 2 and 3 have meanings of their own
  char KSN[4];   // serial number, not terminated
  uint8_t HUS;   // heating up speed [0.1 'C per sampling period]
  uint8_t TLIM;  // maximum heating temperature ['C / 10]
  uint8_t TANN;  // post-heating time [s]
  uint8_t TREG;  // registration start temperature ['C]
  uint8_t Reserved9;
  uint8_t EVASTART;  // evaluation window [channel]
  uint8_t EVALEN;
  float EVANORM;   // normalisation factor
  uint8_t BGCOR;   // background correction, carried
  uint16_t HEATC;  // heating current [mA / 4]
  uint8_t TS;      // sampling period [10 ms]
  float KANN;      // carried
  float DTFA;      // dose temperature function
  float DTFB;
  float MDOSE;  // maximum dose [uSv]
  float DLFA;   // linearity factor, exponent and limit
  float DLFB;
  float DLFN;
  float DHFA;  // heating current function
  float DHFB;
  uint8_t IPH;      // post-heating current [%]
  uint8_t ERRMASK;  // read-out errors the reader flags
  uint8_t Reserved58[6];
};

struct IBulbParamRecord {
  char KTYPE;
  char KSN[4];
  uint8_t EVASTART;
  uint8_t EVALEN;
  float EVANORM;  // at an odd offset
  uint32_t LRO;   // last read-out, seconds since 1980-01-01 in reader time
  uint8_t Reserved15;
};
#pragma pack(pop)

static_assert(sizeof(BulbParamRecord) == 64);
static_assert(offsetof(BulbParamRecord, KTYPE) == 0);
static_assert(offsetof(BulbParamRecord, KSN) == 1);
static_assert(offsetof(BulbParamRecord, HUS) == 5);
static_assert(offsetof(BulbParamRecord, TLIM) == 6);
static_assert(offsetof(BulbParamRecord, TANN) == 7);
static_assert(offsetof(BulbParamRecord, TREG) == 8);
static_assert(offsetof(BulbParamRecord, Reserved9) == 9);
static_assert(offsetof(BulbParamRecord, EVASTART) == 10);
static_assert(offsetof(BulbParamRecord, EVALEN) == 11);
static_assert(offsetof(BulbParamRecord, EVANORM) == 12);
static_assert(offsetof(BulbParamRecord, BGCOR) == 16);
static_assert(offsetof(BulbParamRecord, HEATC) == 17);
static_assert(offsetof(BulbParamRecord, TS) == 19);
static_assert(offsetof(BulbParamRecord, KANN) == 20);
static_assert(offsetof(BulbParamRecord, DTFA) == 24);
static_assert(offsetof(BulbParamRecord, DTFB) == 28);
static_assert(offsetof(BulbParamRecord, MDOSE) == 32);
static_assert(offsetof(BulbParamRecord, DLFA) == 36);
static_assert(offsetof(BulbParamRecord, DLFB) == 40);
static_assert(offsetof(BulbParamRecord, DLFN) == 44);
static_assert(offsetof(BulbParamRecord, DHFA) == 48);
static_assert(offsetof(BulbParamRecord, DHFB) == 52);
static_assert(offsetof(BulbParamRecord, IPH) == 56);
static_assert(offsetof(BulbParamRecord, ERRMASK) == 57);
static_assert(offsetof(BulbParamRecord, Reserved58) == 58);

static_assert(sizeof(IBulbParamRecord) == 16);
static_assert(offsetof(IBulbParamRecord, KTYPE) == 0);
static_assert(offsetof(IBulbParamRecord, KSN) == 1);
static_assert(offsetof(IBulbParamRecord, EVASTART) == 5);
static_assert(offsetof(IBulbParamRecord, EVALEN) == 6);
static_assert(offsetof(IBulbParamRecord, EVANORM) == 7);
static_assert(offsetof(IBulbParamRecord, LRO) == 11);
static_assert(offsetof(IBulbParamRecord, Reserved15) == 15);

namespace quelm {

inline const QString kDefaultKeySection = QStringLiteral("Default Key Parameter Table");
inline const QString kLookupKeySection = QStringLiteral("Lookup Key Parameter Table");
inline const QString kIndividualKeySection = QStringLiteral("Individual Key Parameter Table");

// The fields of the 64-byte table in the order of the look-up section's
// keys (the default section has the same keys without KSN), their window
// rows, and the key lists of the window's collects and layouts.
enum BulbList : int {
  kDefaultCollect,  // a type's default table, KSN cleared afterwards
  kKeyCollect,      // into the dosimeter's own table
  kLookupCollect,   // a look-up entry
  kIdentifierKeys,  // type and serial
  kFunctionEdits,   // enabled by the default and look-up layouts
  kDosimeterEdits,  // enabled by the dosimeter layout
  kBulbListCount
};
const ParamRecordTable& bulbParamTable();
std::span<const char* const> bulbKeyList(BulbList list);
std::span<const ParamField> bulbParamFields();
// The dosimeter's own table; its LRO has an edit in the window (a date).
const ParamRecordTable& ownBulbParamTable();
// The fields of the dosimeter's own table in the order of its section.
std::span<const ParamField> ownBulbParamFields();

// A look-up entry's identifier: type letter and four serial characters.
inline constexpr int kIdentifierBytes = 5;
// One directory page (".V"): up to ten identifiers.
inline constexpr int kDirectoryPageBytes = 50;

}  // namespace quelm

class TBulbParamBlock : public quelm::ParamBlock<BulbParamRecord> {
 public:
  TBulbParamBlock();
  ~TBulbParamBlock();

  // The default section (KSN is read from it too: a missing key empties it).
  int ReadFileBlock(const QString& name);
  int WriteFileBlock(const QString& name);
  // The look-up section, written with KSN; read back by the command line.
  int WriteLUTFileBlock(const QString& name);
  int ReadLUTFileBlock(const QString& name);

  // ".M": the default table of the type in KTYPE. The record is cleared
  // first and stays clear when the read fails.
  int ReadCOMBlock();
  // ".L": the record as the default table of its type.
  int WriteCOMBlock();
  // ".X": the look-up entry of KTYPE and KSN; -210 when the reader has none.
  // A failed read leaves the record as it was.
  int ReadLUTBlock();
  // ".Z": the record into the look-up table; -210 when it is full.
  int WriteLUTBlock();
  // ".V": one page of the directory. dest receives the reply's identifiers
  // and zeros after them, *length the number of data bytes that came.
  int ReadLUTList(uint8_t dest[quelm::kDirectoryPageBytes], uint8_t page, uint16_t* length);
  // ".E": deletes one look-up entry.
  int DeleteLUT(const uint8_t id[quelm::kIdentifierBytes]);
};

class TIBulbParamBlock : public quelm::ParamBlock<IBulbParamRecord> {
 public:
  TIBulbParamBlock();
  ~TIBulbParamBlock();

  int ReadFileBlock(const QString& name);
  int WriteFileBlock(const QString& name);
  // ".Q0#": the table of the dosimeter in the reader; -210 when there is
  // none. The record is cleared first and stays clear when the read fails.
  int ReadCOMBlock();
  // ".O": the record as the dosimeter's own table; -210 when refused.
  int WriteCOMBlock();
};

static_assert(sizeof(TBulbParamBlock) == sizeof(BulbParamRecord), "the block is the record and nothing else");
static_assert(sizeof(TIBulbParamBlock) == sizeof(IBulbParamRecord),
              "the block is the record and nothing else");
