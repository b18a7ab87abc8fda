#pragma once
// The simulated reader's parameter tables: its own reader parameter table,
// the default dosimeter tables per type, the look-up table of individual
// dosimeters and a dosimeter's own table.

#include <cstddef>
#include <map>
#include <vector>

#include "parameters/BulbParamBlock.h"
#include "parameters/DeviceParamBlock.h"

namespace quelm::sim {

struct ParameterState {
  ParameterState();

  // ".J#" answers it, ".I" replaces it.
  DeviceParamRecord ReaderTable;
  // ".M" answers the table of the type asked for; a type without a table
  // gets the table of type A (the host sees another type than it asked for).
  // ".L" stores a table under its first byte.
  std::map<uint8_t, BulbParamRecord> DefaultTables;
  // ".X", ".Z", ".E" and ".V" work on it, ".Z" refuses when it holds
  // LookupCapacity entries and the identifier is new.
  std::vector<BulbParamRecord> LookupTable;
  size_t LookupCapacity = 100;
  // The table of the dosimeter in the reader (".Q0#", ".O"); without a
  // dosimeter both are refused.
  bool OwnPresent = true;
  IBulbParamRecord OwnTable;

  // A plausible table of the given type for the given serial ("" for a
  // default table).
  static BulbParamRecord MakeTable(char type, const char* serial = "");
};

}  // namespace quelm::sim
