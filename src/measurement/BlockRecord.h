#pragma once
// The measurement block record and the two small records derived from it.
// These are byte images: identical in the reader, in memory, in data files
// and on the wire (little-endian, IEEE-754 singles). Never add virtuals,
// base classes or members with constructors here.

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "records are stored as little-endian byte images");
static_assert(sizeof(float) == 4, "records hold IEEE-754 singles");

#pragma pack(push, 1)

struct BlockRecord {
  uint8_t Lead;          // 0 in records from the reader; not interpreted
  uint16_t BlockNumber;  // 0..2047
  uint8_t DateTime[5];   // year-1900, month, day, hour, minute
  uint8_t Reserved8;
  char DeviceID[5];    // reader identifier, not terminated
  char BulbID[5];      // dosimeter: type letter + 4-character serial
  int16_t ReaderTemp;  // 0.5 'C steps
  uint8_t ErrorCodes;  // flag byte, see FormatErrorCodes
  uint8_t Reserved22;
  uint16_t RawValues[106];    // range-coded: A..F, then channels 0..99
  int16_t ChannelTemps[100];  // 0.1 'C
  uint8_t Reserved435[7];
  float DTFA;  // temperature correction, quadratic term
  float DTFB;  // temperature correction, linear term
  uint8_t Reserved450[4];
  float DLFA;      // linearity correction factor
  float DLFB;      // linearity correction exponent
  float DLFN;      // linearity correction threshold
  uint32_t LRO;    // previous read-out, seconds since 1980-01-01
  float DoseRate;  // uSv/h
  uint8_t Reserved474[4];
  uint16_t Exposure;  // 0.1 h; 0 = under 0.1 h; 0xFFFF = not stored
  uint8_t EVASTART;
  uint8_t EVALEN;
  float EVANORM;
  uint8_t Reserved486[12];
  float MeasuredDose;     // uSv
  uint8_t SamplingSpeed;  // 10 ms steps
  uint8_t Reserved503[9];
};

struct BlockSummary {
  uint8_t Lead;
  uint16_t BlockNumber;
  uint8_t DateTime[5];
  uint8_t Reserved8;  // never written by StoreSummary
  char DeviceID[5];
  char BulbID[5];
  int16_t ReaderTemp;
  uint8_t ErrorCodes;
  float MeasuredDose;
  uint16_t Exposure;
};

struct SearchRequest {
  uint8_t Flags;        // see SearchFlag
  uint16_t StartBlock;  // block at which the page starts
  uint16_t FromBlock;   // lower block-number bound as entered
  uint8_t DateFrom[5];
  uint8_t DateTo[5];
  char Dosimeter[5];
};

#pragma pack(pop)

enum SearchFlag : uint8_t {
  kSearchByNumber = 0x01,
  kSearchByDate = 0x02,
  kSearchByDosimeter = 0x04,
  kSearchForward = 0x08,
};

inline constexpr int kBlocksInReader = 2048;
inline constexpr int kBlockSize = 512;
inline constexpr int kRawValueCount = 106;
inline constexpr int kChannelCount = 100;
inline constexpr int kAuxValueCount = 6;
inline constexpr int kPageRows = 20;
// The place of a record in a data file (its index from 0) where there is
// none: a block of the reader, or a block asked for by its number alone.
inline constexpr int64_t kNoRecord = -1;

static_assert(sizeof(BlockRecord) == 512);
static_assert(offsetof(BlockRecord, Lead) == 0);
static_assert(offsetof(BlockRecord, BlockNumber) == 1);
static_assert(offsetof(BlockRecord, DateTime) == 3);
static_assert(offsetof(BlockRecord, Reserved8) == 8);
static_assert(offsetof(BlockRecord, DeviceID) == 9);
static_assert(offsetof(BlockRecord, BulbID) == 14);
static_assert(offsetof(BlockRecord, ReaderTemp) == 19);
static_assert(offsetof(BlockRecord, ErrorCodes) == 21);
static_assert(offsetof(BlockRecord, Reserved22) == 22);
static_assert(offsetof(BlockRecord, RawValues) == 23);
static_assert(offsetof(BlockRecord, ChannelTemps) == 235);
static_assert(offsetof(BlockRecord, Reserved435) == 435);
static_assert(offsetof(BlockRecord, DTFA) == 442);
static_assert(offsetof(BlockRecord, DTFB) == 446);
static_assert(offsetof(BlockRecord, Reserved450) == 450);
static_assert(offsetof(BlockRecord, DLFA) == 454);
static_assert(offsetof(BlockRecord, DLFB) == 458);
static_assert(offsetof(BlockRecord, DLFN) == 462);
static_assert(offsetof(BlockRecord, LRO) == 466);
static_assert(offsetof(BlockRecord, DoseRate) == 470);
static_assert(offsetof(BlockRecord, Reserved474) == 474);
static_assert(offsetof(BlockRecord, Exposure) == 478);
static_assert(offsetof(BlockRecord, EVASTART) == 480);
static_assert(offsetof(BlockRecord, EVALEN) == 481);
static_assert(offsetof(BlockRecord, EVANORM) == 482);
static_assert(offsetof(BlockRecord, Reserved486) == 486);
static_assert(offsetof(BlockRecord, MeasuredDose) == 498);
static_assert(offsetof(BlockRecord, SamplingSpeed) == 502);
static_assert(offsetof(BlockRecord, Reserved503) == 503);

static_assert(sizeof(BlockSummary) == 28);
static_assert(offsetof(BlockSummary, BlockNumber) == 1);
static_assert(offsetof(BlockSummary, DateTime) == 3);
static_assert(offsetof(BlockSummary, Reserved8) == 8);
static_assert(offsetof(BlockSummary, DeviceID) == 9);
static_assert(offsetof(BlockSummary, BulbID) == 14);
static_assert(offsetof(BlockSummary, ReaderTemp) == 19);
static_assert(offsetof(BlockSummary, ErrorCodes) == 21);
static_assert(offsetof(BlockSummary, MeasuredDose) == 22);
static_assert(offsetof(BlockSummary, Exposure) == 26);

static_assert(sizeof(SearchRequest) == 20);
static_assert(offsetof(SearchRequest, Flags) == 0);
static_assert(offsetof(SearchRequest, StartBlock) == 1);
static_assert(offsetof(SearchRequest, FromBlock) == 3);
static_assert(offsetof(SearchRequest, DateFrom) == 5);
static_assert(offsetof(SearchRequest, DateTo) == 10);
static_assert(offsetof(SearchRequest, Dosimeter) == 15);
