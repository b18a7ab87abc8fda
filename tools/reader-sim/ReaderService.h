#pragma once
// The simulated reader's service state (high voltage, heating current,
// control bits, ADC, clock, error log, automatic setting) and its loader.

namespace quelm::sim {

struct ServiceState {};

}  // namespace quelm::sim
