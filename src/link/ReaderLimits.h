#pragma once
// What the reader takes for its settings, whichever window or command sets
// them: the service window sets the live values, the parameter tables the
// stored ones, and a number outside these would be cut by the reader's
// fields into another setting than the one meant.

namespace quelm {

// The photomultiplier's high voltage [V]; sent and stored as volts - 150.
inline constexpr int kMinHighVolts = 150;
inline constexpr int kMaxHighVolts = 1150;

// The heating current [mA], sent and stored in steps of 4 mA.
inline constexpr int kMaxHeatingMilliamperes = 4000;
inline constexpr int kHeatingStepMilliamperes = 4;

}  // namespace quelm
