#pragma once
// The simulated reader's parameter tables: its own reader parameter table,
// the default dosimeter tables per type, the look-up table of individual
// dosimeters and a dosimeter's own table.

#include "parameters/DeviceParamBlock.h"

namespace quelm::sim {

struct ParameterState {
  ParameterState();
  // ".J#" answers it, ".I" replaces it.
  DeviceParamRecord ReaderTable;
};

}  // namespace quelm::sim
