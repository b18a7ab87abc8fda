#pragma once
// What a page of the content list is expected to hold, worked out apart from
// the code under test.

#include <cstring>
#include <string>
#include <vector>

#include "measurement/BlockRecord.h"
#include "measurement/NurvoDataBlock.h"

namespace quelm::test {

// Block numbers from `from` down to `downTo`, across the wrap.
inline std::vector<int> NumbersDown(int from, int downTo) {
  std::vector<int> v;
  for (int n = from;; n = n == 0 ? 2047 : n - 1) {
    v.push_back(n);
    if (n == downTo) break;
  }
  return v;
}

// What a search lists of `blocks` (numbered from 0): the first page of
// those `keep` takes, newest first.
template <typename Keep>
std::vector<int> NewestMatching(const std::vector<BlockRecord>& blocks, Keep keep) {
  std::vector<int> v;
  for (int n = static_cast<int>(blocks.size()) - 1; n >= 0 && v.size() < 20; --n)
    if (keep(blocks[static_cast<size_t>(n)])) v.push_back(n);
  return v;
}
// Dated strictly between the two stamps.
inline std::vector<int> NewestBetween(const std::vector<BlockRecord>& blocks, const uint8_t* after,
                                      const uint8_t* before) {
  return NewestMatching(blocks, [&](const BlockRecord& b) {
    return TNurvoDataBlock::CompareDateTime(b.DateTime, after) == 1 &&
           TNurvoDataBlock::CompareDateTime(b.DateTime, before) == -1;
  });
}
// Read with the dosimeter `key`.
inline std::vector<int> NewestOf(const std::vector<BlockRecord>& blocks, const std::string& key) {
  return NewestMatching(blocks,
                        [&](const BlockRecord& b) { return std::memcmp(b.BulbID, key.data(), 5) == 0; });
}

// The 28-byte summary the reader sends for a record, field by field.
inline BlockSummary SummaryOf(const BlockRecord& r) {
  BlockSummary s;
  std::memset(&s, 0, sizeof s);
  s.Lead = r.Lead;
  s.BlockNumber = r.BlockNumber;
  std::memcpy(s.DateTime, r.DateTime, 5);
  std::memcpy(s.DeviceID, r.DeviceID, 5);
  std::memcpy(s.BulbID, r.BulbID, 5);
  s.ReaderTemp = r.ReaderTemp;
  s.ErrorCodes = r.ErrorCodes;
  s.MeasuredDose = r.MeasuredDose;
  s.Exposure = r.Exposure;
  return s;
}

}  // namespace quelm::test
