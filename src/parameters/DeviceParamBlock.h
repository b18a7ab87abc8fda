#pragma once
// The reader parameter table: the 42-byte record the reader keeps, its
// ".rpt" file section and the two reader commands that read and write it.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <span>

#include "parameters/ParamBlock.h"
#include "parameters/ParamField.h"

static_assert(sizeof(float) == 4, "records hold IEEE-754 singles");

#pragma pack(push, 1)
struct DeviceParamRecord {
  char RTYPE;    // reader type letter
  char DID[4];   // reader serial number, not terminated
  uint16_t HVH;  // PMT voltages, volts - 150
  uint16_t HVM;
  uint16_t HVL;
  float DCALL;  // light calibration limits [count]
  float DCALH;
  float DCBGH;  // background calibration high limit [count]
  int8_t MAXT;  // operating temperature range ['C]
  int8_t MINT;
  uint8_t U100;  // battery thresholds [0.1 V]
  uint8_t U0;
  float DCAL20;  // light calibration at 20 'C
  float DCALX1;  // light-calibration temperature function
  float DCALX0;
  uint8_t POSTH;       // longest post-heating [s]
  int8_t CONTR;        // contrast correction [%/'C]
  uint8_t Reserved41;  // carried from the reader back to it
};
#pragma pack(pop)

static_assert(sizeof(DeviceParamRecord) == 42);
static_assert(offsetof(DeviceParamRecord, RTYPE) == 0);
static_assert(offsetof(DeviceParamRecord, DID) == 1);
static_assert(offsetof(DeviceParamRecord, HVH) == 5);
static_assert(offsetof(DeviceParamRecord, HVM) == 7);
static_assert(offsetof(DeviceParamRecord, HVL) == 9);
static_assert(offsetof(DeviceParamRecord, DCALL) == 11);
static_assert(offsetof(DeviceParamRecord, DCALH) == 15);
static_assert(offsetof(DeviceParamRecord, DCBGH) == 19);
static_assert(offsetof(DeviceParamRecord, MAXT) == 23);
static_assert(offsetof(DeviceParamRecord, MINT) == 24);
static_assert(offsetof(DeviceParamRecord, U100) == 25);
static_assert(offsetof(DeviceParamRecord, U0) == 26);
static_assert(offsetof(DeviceParamRecord, DCAL20) == 27);
static_assert(offsetof(DeviceParamRecord, DCALX1) == 31);
static_assert(offsetof(DeviceParamRecord, DCALX0) == 35);
static_assert(offsetof(DeviceParamRecord, POSTH) == 39);
static_assert(offsetof(DeviceParamRecord, CONTR) == 40);
static_assert(offsetof(DeviceParamRecord, Reserved41) == 41);

namespace quelm {

inline const QString kReaderParamSection = QStringLiteral("Reader Parameter Table");

// The record's fields in the order of the file's keys, which is also the
// order of the window's rows, and the order of the window's collect.
// DCALX0 has no edit (no caption).
const ParamRecordTable& deviceParamTable();
std::span<const ParamField> deviceParamFields();
// The order in which the window takes its edits into the record.
std::span<const char* const> deviceParamCollectOrder();

}  // namespace quelm

class TDeviceParamBlock : public quelm::ParamBlock<DeviceParamRecord> {
 public:
  TDeviceParamBlock();
  ~TDeviceParamBlock();

  // Loads the record from the file's section; a missing file or key gives
  // the defaults. 0, or the code of readProfileSection (a file there that
  // cannot be read); the record then is as it was.
  int ReadFileBlock(const QString& name);
  // Writes the section, keeping the rest of the file. 0, or the code of
  // writeProfileSection for the caller to report; the file then keeps its
  // content.
  int WriteFileBlock(const QString& name);
  // ".J#": the reader's table. 0 or the link's code; only a reply of exactly
  // the table's 42 bytes is taken, anything else leaves the record as it was.
  int ReadCOMBlock();
  // ".I", the 42 bytes, "#". 0 or the link's code (-210 when refused).
  int WriteCOMBlock();
};

static_assert(sizeof(TDeviceParamBlock) == sizeof(DeviceParamRecord),
              "the block is the record and nothing else");
