#pragma once
// A table of a subsystem's messages, one entry an id: the lookup they all
// share.

#include <cstddef>

namespace quelm {

// The entry of `table` with the id; the first entry, each table's fallback,
// when there is none.
template <typename Entry, std::size_t N, typename Id>
const Entry& TableEntry(const Entry (&table)[N], Id id) {
  for (const Entry& e : table)
    if (e.id == id) return e;
  return table[0];
}

}  // namespace quelm
