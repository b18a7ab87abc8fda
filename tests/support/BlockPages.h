#pragma once
// What a page of the content list is expected to hold, worked out apart from
// the code under test.

#include <cstring>
#include <vector>

#include "measurement/BlockRecord.h"

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
