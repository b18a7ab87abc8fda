#pragma once
// The read-outs of a calibration batch: one block per dosimeter A0001,
// A0002, ..., evaluated as the simulated reader's table of type A holds it
// (window 20..59, temperature and linearity corrections), at 26 'C, a glow
// curve over a background of 200 whose net signal is `sensitivity` times a
// common one. With one delivered dose the factors then go as the
// sensitivities.

#include <QString>
#include <cmath>
#include <cstring>
#include <vector>

#include "ReaderParams.h"
#include "measurement/BlockRecord.h"
#include "measurement/RangeCode.h"

namespace quelm::test {

inline BlockRecord CalibrationBlock(int serial, double sensitivity) {
  const BulbParamRecord table = sim::ParameterState::MakeTable('A');
  BlockRecord r;
  std::memset(&r, 0, sizeof r);
  r.BlockNumber = static_cast<uint16_t>(100 + serial);
  const uint8_t when[5] = {126, 3, 2, 9, static_cast<uint8_t>(serial % 60)};
  std::memcpy(r.DateTime, when, 5);
  std::memcpy(r.DeviceID, "Q0412", 5);
  const QByteArray id = QStringLiteral("A%1").arg(serial, 4, 10, QLatin1Char('0')).toLatin1();
  std::memcpy(r.BulbID, id.constData(), 5);
  r.ReaderTemp = 92;  // 26 'C
  r.SamplingSpeed = 5;
  r.EVASTART = table.EVASTART;
  r.EVALEN = table.EVALEN;
  r.EVANORM = 5000.0f;
  r.DTFA = table.DTFA;
  r.DTFB = table.DTFB;
  r.DLFA = table.DLFA;
  r.DLFB = table.DLFB;
  r.DLFN = table.DLFN;
  r.Exposure = 0xFFFF;
  for (int i = 0; i < 3; ++i) r.RawValues[i] = 200;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const double d = (ch - 38) / 7.0;
    const double counts = 200 + sensitivity * 3.0e4 * std::exp(-0.5 * d * d);
    r.RawValues[kAuxValueCount + ch] = EncodeRangeValue(static_cast<uint32_t>(counts));
    r.ChannelTemps[ch] = static_cast<int16_t>(450 + 26 * ch);
  }
  return r;
}

inline std::vector<BlockRecord> CalibrationBlocks(const std::vector<double>& sensitivities) {
  std::vector<BlockRecord> blocks;
  for (size_t i = 0; i < sensitivities.size(); ++i)
    blocks.push_back(CalibrationBlock(static_cast<int>(i) + 1, sensitivities[i]));
  return blocks;
}

}  // namespace quelm::test
