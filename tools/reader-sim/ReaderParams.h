#pragma once
// The simulated reader's parameter tables: its own reader parameter table,
// the default dosimeter tables per type, the look-up table of individual
// dosimeters and a dosimeter's own table.

namespace quelm::sim {

struct ParameterState {};

}  // namespace quelm::sim
