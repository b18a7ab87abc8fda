#pragma once
// Realistic measurement blocks for demos, tests and the simulated reader:
// consecutive block numbers, TLD glow curves over a low background, rising
// channel temperatures, read-out times spread over months, a handful of
// readers and dosimeters, some error flags, and evaluation parameters for
// which MeasuredDose agrees with the program's own dose chain.
// Deterministic for a given seed.

#include <QString>
#include <cstdint>
#include <vector>

#include "base/SplitMix64.h"
#include "measurement/BlockRecord.h"

using quelm::SplitMix64;

struct SampleDataOptions {
  int blocks = 300;
  uint64_t seed = 1;
  int firstNumber = 0;  // number of the oldest block; numbers wrap past 2047
};

std::vector<BlockRecord> MakeSampleBlocks(const SampleDataOptions& options);

// Writes MakeSampleBlocks(options) as a data file (records back to back).
// Returns 0, -107 when the file cannot be created, -110 when a write fails.
int WriteSampleDataFile(const QString& path, const SampleDataOptions& options);

// Seconds since 1980-01-01 00:00:00 (reader time) for the 5-byte stamp
// year-1900, month, day, hour, minute; and back.
uint32_t ReaderSecondsFromStamp(const uint8_t stamp[5]);
void StampFromReaderSeconds(uint32_t seconds, uint8_t stamp[5]);
