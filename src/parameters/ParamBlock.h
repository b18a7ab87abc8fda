#pragma once
// What the parameter blocks share (the reader's table in TDeviceParamBlock,
// the dosimeter tables in TBulbParamBlock and TIBulbParamBlock): each is one
// record as the reader keeps it and nothing else, cleared when made; the
// file sections and the reader commands take it as its bytes, and a file
// section or a reply is read into it alike.

#include <QString>
#include <cstdint>
#include <span>

#include "parameters/ParamField.h"

namespace quelm {

class TraceLine;

// The block's making, traced as `trace` says: the record cleared.
void traceClearedRecord(const QString& trace, std::span<uint8_t> record);
// A file's section into the record, traced as `trace` with the file's name:
// 0, or readProfileSection's code ("ERR_FOPEN").
int readTracedSection(const QString& trace, const QString& name, const QString& section,
                      std::span<const ParamField> fields, std::span<uint8_t> record);
// Sends `request` to the reader and copies the reply into the record, only
// when it holds exactly the record: anything shorter would fill it from
// what the receive buffer held before. 0 (traced ok), or the link's code
// with the record as it was; a refusal is traced as "ERR_SENDCOMCMD" when
// `traceRefusal`.
int readRecordFromReader(TraceLine& trace, std::span<uint8_t> request, bool traceRefusal,
                         std::span<uint8_t> record);

template <typename R>
class ParamBlock {
 public:
  R Record;

  std::span<uint8_t> bytes() { return {reinterpret_cast<uint8_t*>(&Record), sizeof Record}; }
  std::span<const uint8_t> bytes() const {
    return {reinterpret_cast<const uint8_t*>(&Record), sizeof Record};
  }

  ParamBlock(const ParamBlock&) = delete;
  ParamBlock& operator=(const ParamBlock&) = delete;

 protected:
  explicit ParamBlock(const QString& trace) { traceClearedRecord(trace, bytes()); }
  ~ParamBlock() = default;

  int readSection(const QString& trace, const QString& name, const QString& section,
                  std::span<const ParamField> fields) {
    return readTracedSection(trace, name, section, fields, bytes());
  }
  int readFromReader(TraceLine& trace, std::span<uint8_t> request, bool traceRefusal) {
    return readRecordFromReader(trace, request, traceRefusal, bytes());
  }
};

}  // namespace quelm
