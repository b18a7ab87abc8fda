#pragma once
// A block with a known header and a single-peaked glow curve at 20 'C:
// window 30..49, peak 3200 at channel 40, background 200 on A, B and C.

#include <algorithm>
#include <cstring>

#include "measurement/BlockRecord.h"
#include "sample-data/SampleData.h"

inline BlockRecord knownBlock() {
  BlockRecord r;
  std::memset(&r, 0, sizeof r);
  r.BlockNumber = 1234;
  const uint8_t when[5] = {106, 6, 24, 15, 30};
  std::memcpy(r.DateTime, when, 5);
  std::memcpy(r.DeviceID, "Q0412", 5);
  std::memcpy(r.BulbID, "A0017", 5);
  r.ReaderTemp = 40;
  r.ErrorCodes = 0x0C;
  r.SamplingSpeed = 5;
  r.DLFA = 1;
  r.DLFN = 1e9f;
  r.EVASTART = 30;
  r.EVALEN = 20;
  r.EVANORM = 100;
  r.MeasuredDose = 1234.5f;
  r.Exposure = 36;
  r.DoseRate = 5;
  const uint8_t previous[5] = {106, 6, 23, 8, 5};
  r.LRO = ReaderSecondsFromStamp(previous);
  r.RawValues[0] = r.RawValues[1] = r.RawValues[2] = 200;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const int d = ch - 40;
    r.RawValues[kAuxValueCount + ch] = static_cast<uint16_t>(200 + std::max(0, 3000 - 40 * d * d));
    r.ChannelTemps[ch] = static_cast<int16_t>(450 + 26 * ch);
  }
  return r;
}
